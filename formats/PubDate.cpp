#include "formats/PubDate.h"

#include <algorithm>
#include <optional>

#include "base/Text.h"
#include "model/Feed.h"

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

// Reads one or two ASCII digits at `pos`, moving past them; false when there
// is none.
bool ReadOneOrTwoDigits(std::u16string_view text, size_t& pos, int32_t& value) {
  const size_t count = pos + 1 < text.size() && IsDigit(text[pos]) && IsDigit(text[pos + 1]) ? 2 : 1;
  return ReadDigits(text, pos, count, value);
}

size_t SkipSpaces(std::u16string_view text, size_t pos) {
  while (pos < text.size() && (text[pos] == u' ' || text[pos] == u'\t')) ++pos;
  return pos;
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

std::optional<int32_t> Rfc822Zone(std::u16string_view token);

// A clock time, with the zone it was written in when the text names one.
CDateTime Zoned(const DateFields& f, std::optional<int32_t> offsetMinutes) {
  if (offsetMinutes) return CDateTime::FromZonedFields(f, *offsetMinutes);
  return CDateTime::FromFields(f);
}

// "+hh:mm", "+hhmm" or "+hh" (or with "-") at `pos`, as minutes east of UTC.
bool ReadOffset(std::u16string_view text, size_t& pos, int32_t& minutes) {
  if (pos >= text.size() || (text[pos] != u'+' && text[pos] != u'-')) return false;
  const int32_t sign = text[pos] == u'-' ? -1 : 1;
  ++pos;
  int32_t hours = 0, mins = 0;
  if (!ReadDigits(text, pos, 2, hours)) return false;
  if (pos < text.size() && text[pos] == u':') {
    ++pos;
    if (!ReadDigits(text, pos, 2, mins)) return false;
  } else if (pos < text.size()) {
    if (!ReadDigits(text, pos, 2, mins)) return false;
  }
  if (hours > 23 || mins > 59) return false;
  minutes = sign * (hours * 60 + mins);
  return true;
}

// An ISO 8601 timestamp in the forms feeds use (RFC 3339 and the W3C's
// profile that Dublin Core dates follow): "2009-05-04T10:20:30.25+02:00",
// where "t" or a space may stand for the "T", the seconds and the time may
// be left out ("2009-05-04T10:20Z", "2009-05-04"), fractional seconds are
// dropped and the offset is "Z", "z", "+hh:mm", "+hhmm" or "+hh". With an
// offset the time is converted to local time; without one it stays as
// written. Anything else in the text makes the value invalid.
CDateTime ParseIso8601(std::u16string_view text) {
  size_t pos = 0;
  DateFields f;
  if (!ReadDigits(text, pos, 4, f.year) || !Expect(text, pos, u"-") || !ReadDigits(text, pos, 2, f.month)) {
    return CDateTime::Invalid();
  }
  f.day = 1;
  if (pos < text.size() && !(Expect(text, pos, u"-") && ReadDigits(text, pos, 2, f.day))) return CDateTime::Invalid();
  if (pos == text.size()) return CDateTime::FromFields(f);
  if (!Expect(text, pos, u"Tt ") || !ReadDigits(text, pos, 2, f.hour) || !Expect(text, pos, u":") ||
      !ReadDigits(text, pos, 2, f.minute)) {
    return CDateTime::Invalid();
  }
  if (pos < text.size() && text[pos] == u':') {
    ++pos;
    // Two digits, or one as some feeds write it ("12:35:9").
    size_t digits = 0;
    while (digits < 2 && pos + digits < text.size() && IsDigit(text[pos + digits])) ++digits;
    if (digits == 0 || !ReadDigits(text, pos, digits, f.second)) return CDateTime::Invalid();
    if (pos < text.size() && text[pos] == u'.') {
      ++pos;
      const size_t digits = pos;
      while (pos < text.size() && IsDigit(text[pos])) ++pos;
      if (pos == digits) return CDateTime::Invalid();
    }
  }
  std::optional<int32_t> offset;
  int32_t minutes = 0;
  if (const size_t zone = SkipSpaces(text, pos); zone > pos && zone < text.size()) {
    // A zone after a space, as "2006-01-11 16:42:55 -0800" has it.
    offset = Rfc822Zone(text.substr(zone));
    return offset ? Zoned(f, offset) : CDateTime::Invalid();
  }
  if (pos < text.size() && (text[pos] == u'Z' || text[pos] == u'z')) {
    ++pos;
    offset = 0;
  } else if (pos < text.size()) {
    if (!ReadOffset(text, pos, minutes)) return CDateTime::Invalid();
    offset = minutes;
  }
  if (pos != text.size()) return CDateTime::Invalid();
  return Zoned(f, offset);
}

// A date with slashes, "2020/1/10 14:33:00" (the seconds, the time and the
// zone may be left out). Without a zone it is UTC.
CDateTime ParseSlashed(std::u16string_view text) {
  size_t pos = 0;
  DateFields f;
  if (!ReadDigits(text, pos, 4, f.year) || !Expect(text, pos, u"/") || !ReadOneOrTwoDigits(text, pos, f.month) ||
      !Expect(text, pos, u"/") || !ReadOneOrTwoDigits(text, pos, f.day)) {
    return CDateTime::Invalid();
  }
  if (pos < text.size()) {
    const size_t clock = SkipSpaces(text, pos);
    if (clock == pos && !Expect(text, pos, u"T")) return CDateTime::Invalid();
    pos = std::max(pos, clock);
    if (!ReadOneOrTwoDigits(text, pos, f.hour) || !Expect(text, pos, u":") || !ReadDigits(text, pos, 2, f.minute)) {
      return CDateTime::Invalid();
    }
    if (Expect(text, pos, u":") && !ReadDigits(text, pos, 2, f.second)) return CDateTime::Invalid();
  }
  const size_t zone = SkipSpaces(text, pos);
  if (zone == text.size()) return CDateTime::FromZonedFields(f, 0);
  const std::optional<int32_t> offset = Rfc822Zone(text.substr(zone));
  return offset ? Zoned(f, offset) : CDateTime::Invalid();
}

// Four digits and a slash: a date as "2020/1/10".
bool LooksSlashed(std::u16string_view text) {
  return text.size() >= 5 && IsDigit(text[0]) && IsDigit(text[1]) && IsDigit(text[2]) && IsDigit(text[3]) &&
         text[4] == u'/';
}

// The month a name starts with ("Oct", "October"), else 0.
int32_t MonthNamed(std::u16string_view token) {
  static constexpr std::u16string_view kNames[] = {u"Jan", u"Feb", u"Mar", u"Apr", u"May", u"Jun",
                                                   u"Jul", u"Aug", u"Sep", u"Oct", u"Nov", u"Dec"};
  for (char16_t c : token) {
    if (!((c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'))) return 0;
  }
  for (size_t m = 0; m < std::size(kNames); ++m) {
    if (token.starts_with(kNames[m])) return static_cast<int32_t>(m + 1);
  }
  return 0;
}

// The zone of an RFC 822 date: "UT", "GMT", the North American names and
// "+hhmm" (or "-hhmm"; "UTC", "Z" and "+hh:mm" as feeds also write them,
// and "GMT+hhmm" as JavaScript does), as minutes east of UTC. Nothing for
// another text: the clock time then stays as written.
std::optional<int32_t> Rfc822Zone(std::u16string_view token) {
  for (std::u16string_view utc : {u"GMT", u"UTC"}) {
    if (token.size() > utc.size() && CompareAsciiNoCase(token.substr(0, utc.size()), utc) == 0 &&
        (token[utc.size()] == u'+' || token[utc.size()] == u'-')) {
      token.remove_prefix(utc.size());
    }
  }
  static constexpr struct {
    std::u16string_view name;
    int32_t hours;
  } kZones[] = {{u"UT", 0},   {u"UTC", 0},  {u"GMT", 0},  {u"Z", 0},    {u"EST", -5}, {u"EDT", -4},
                {u"CST", -6}, {u"CDT", -5}, {u"MST", -7}, {u"MDT", -6}, {u"PST", -8}, {u"PDT", -7}};
  for (const auto& zone : kZones) {
    if (CompareAsciiNoCase(token, zone.name) == 0) return zone.hours * 60;
  }
  size_t pos = 0;
  int32_t minutes = 0;
  if (token.size() >= 5 && ReadOffset(token, pos, minutes) && pos == token.size()) return minutes;
  return std::nullopt;
}

}  // namespace

CDateTime ParsePubDateText(std::u16string_view text) {
  static constexpr std::u16string_view kDayNames[] = {u"Mon", u"Tue", u"Wed", u"Thu",
                                                      u"Fri", u"Sat", u"Sun"};
  static constexpr std::u16string_view kMonths = u"Jan.Feb.Mar.Apr.May.Jun.Jul.Aug.Sep.Oct.Nov.Dec.";

  text = TrimView(text);
  if (LooksIso8601(text)) return ParseIso8601(text);
  if (LooksSlashed(text)) return ParseSlashed(text);
  std::u16string_view token = TakeToken(text);
  for (auto name : kDayNames) {
    if (token == name) {
      token = TakeToken(text);
      break;
    }
  }
  if (const int32_t month = MonthNamed(token); month != 0) {
    // The month before the day, as JavaScript writes a date: "Sat Oct 06
    // 2018 00:00:00 GMT+0000 (Coordinated Universal Time)". By the token
    // rules such a text has day 0 and is never a date.
    const int32_t day = ParseDecimalPrefix(TakeToken(text));
    const int32_t year = ParseDecimalPrefix(TakeToken(text));
    const std::u16string_view clock = TakeToken(text);
    const DateFields f{year, month, day, DecimalAt(clock, 0, 2), DecimalAt(clock, 3, 5), DecimalAt(clock, 6, 8)};
    return Zoned(f, Rfc822Zone(TakeToken(text)));
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

  const std::optional<int32_t> zone = Rfc822Zone(TakeToken(text));
  return Zoned({year, month, day, hour, minute, second}, zone);
}

void ParsePubDate(CFeed& article) { article.m_date = ParsePubDateText(article.m_dateText); }

}  // namespace qb
