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

}  // namespace

CDateTime ParsePubDateText(std::u16string_view text) {
  static constexpr std::u16string_view kDayNames[] = {u"Mon", u"Tue", u"Wed", u"Thu",
                                                      u"Fri", u"Sat", u"Sun"};
  static constexpr std::u16string_view kMonths = u"Jan.Feb.Mar.Apr.May.Jun.Jul.Aug.Sep.Oct.Nov.Dec.";

  text = TrimView(text);
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
