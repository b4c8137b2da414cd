#include "feeds/PubDate.h"

#include "model/Feed.h"
#include "model/Text.h"

namespace qb {

namespace {

// Takes the leading run of characters other than comma, space and tab; trims
// the rest, drops one comma that follows, trims again; returns the token
// trimmed.
std::u16string_view TakeToken(std::u16string_view& text) {
  size_t n = 0;
  while (n < text.size() && text[n] != u',' && text[n] != u' ' && text[n] != u'\t') ++n;
  std::u16string_view token = text.substr(0, n);
  text = TrimView(text.substr(n));
  if (!text.empty() && text.front() == u',') text = TrimView(text.substr(1));
  return TrimView(token);
}

int32_t DecimalAt(std::u16string_view token, size_t pos, size_t needed) {
  if (token.size() < needed) return 0;
  return ParseDecimalPrefix(token.substr(pos, 2));
}

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

// Reads `count` ASCII digits at `pos`, moving past them; false when there
// are fewer.
bool ReadDigits(std::u16string_view text, size_t& pos, size_t count, int32_t& value) {
  if (text.size() - pos < count) return false;
  value = 0;
  for (size_t i = 0; i < count; ++i, ++pos) {
    if (!IsDigit(text[pos])) return false;
    value = value * 10 + (text[pos] - u'0');
  }
  return true;
}

// Moves past one of `chars` at `pos`; false when another code unit is there.
bool Expect(std::u16string_view text, size_t& pos, std::u16string_view chars) {
  if (pos >= text.size() || chars.find(text[pos]) == std::u16string_view::npos) return false;
  ++pos;
  return true;
}

// Four digits and a hyphen: the start of an ISO 8601 date. The token rules
// read such a text as a day of a thousand or more, never a real date.
bool LooksIso8601(std::u16string_view text) {
  return text.size() >= 5 && IsDigit(text[0]) && IsDigit(text[1]) && IsDigit(text[2]) && IsDigit(text[3]) &&
         text[4] == u'-';
}

// An RFC 3339 timestamp, "2009-05-04T10:20:30.25+02:00": "t" or a space may
// stand for the "T", fractional seconds are dropped, and the offset ("Z",
// "z", "+hh:mm" or "-hh:mm", or none) is checked but, as with the token
// rules, does not change the clock time. Anything else in the text makes
// the value invalid.
CDateTime ParseIso8601(std::u16string_view text) {
  size_t pos = 0;
  int32_t year, month, day, hour, minute, second;
  const bool ok = ReadDigits(text, pos, 4, year) && Expect(text, pos, u"-") && ReadDigits(text, pos, 2, month) &&
                  Expect(text, pos, u"-") && ReadDigits(text, pos, 2, day) && Expect(text, pos, u"Tt ") &&
                  ReadDigits(text, pos, 2, hour) && Expect(text, pos, u":") && ReadDigits(text, pos, 2, minute) &&
                  Expect(text, pos, u":") && ReadDigits(text, pos, 2, second);
  if (!ok) return CDateTime::Invalid();
  if (pos < text.size() && text[pos] == u'.') {
    ++pos;
    const size_t digits = pos;
    while (pos < text.size() && IsDigit(text[pos])) ++pos;
    if (pos == digits) return CDateTime::Invalid();
  }
  if (Expect(text, pos, u"+-")) {
    int32_t offsetHours, offsetMinutes;
    if (!ReadDigits(text, pos, 2, offsetHours) || !Expect(text, pos, u":") ||
        !ReadDigits(text, pos, 2, offsetMinutes) || offsetHours > 23 || offsetMinutes > 59) {
      return CDateTime::Invalid();
    }
  } else {
    Expect(text, pos, u"Zz");
  }
  if (pos != text.size()) return CDateTime::Invalid();
  CDateTime value;
  value.SetDateTime(year, month, day, hour, minute, second);
  return value;
}

}  // namespace

CDateTime ParsePubDateText(std::u16string_view text) {
  static constexpr std::u16string_view kDayNames[] = {u"Mon", u"Tue", u"Wed", u"Thu",
                                                      u"Fri", u"Sat", u"Sun"};
  static constexpr std::u16string_view kMonths = u"Jan.Feb.Mar.Apr.May.Jun.Jul.Aug.Sep.Oct.Nov.Dec.";

  text = TrimView(text);
  if (LooksIso8601(text)) return ParseIso8601(text);
  std::u16string_view token = TakeToken(text);
  for (auto name : kDayNames) {
    if (token == name) {
      token = TakeToken(text);
      break;
    }
  }
  const int32_t day = ParseDecimalPrefix(token);

  std::u16string monthKey(TakeToken(text));
  monthKey.push_back(u'.');
  const size_t p = kMonths.find(monthKey);
  const int32_t month = p == std::u16string_view::npos ? 1 : static_cast<int32_t>(p / 4 + 1);

  int32_t year = ParseDecimalPrefix(TakeToken(text));
  if (year < 100) year += 2000;

  const std::u16string_view clock = TakeToken(text);
  const int32_t hour = DecimalAt(clock, 0, 2);
  const int32_t minute = DecimalAt(clock, 3, 5);
  const int32_t second = DecimalAt(clock, 6, 8);

  TakeToken(text);  // the time zone: the clock time stays as written

  CDateTime value;
  value.SetDateTime(year, month, day, hour, minute, second);
  return value;
}

void ParsePubDate(CFeed& article) { article.m_date = ParsePubDateText(article.m_dateText); }

}  // namespace qb
