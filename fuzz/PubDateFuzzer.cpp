// Publication dates from arbitrary text. The first input byte picks how the
// rest becomes UTF-16: as UTF-8, or as raw code units. A valid result names a
// real date: month 1-12, the day within its month, hour 0-23, minute and
// second 0-59, year 100-9999, and the six fields make the same value again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "base/Text.h"
#include "formats/PubDate.h"

namespace {

std::u16string TextFrom(const uint8_t* data, size_t size) {
  if (size == 0) return {};
  const std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  if (data[0] % 2 == 0) return qb::Utf8ToUtf16(rest);
  std::u16string text(rest.size() / 2, u'\0');
  for (size_t i = 0; i < text.size(); ++i) {
    text[i] = static_cast<char16_t>(static_cast<uint8_t>(rest[2 * i]) |
                                    static_cast<uint8_t>(rest[2 * i + 1]) << 8);
  }
  return text;
}

int DaysInMonth(int year, int month) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const qb::CDateTime value = qb::ParsePubDateText(TextFrom(data, size));
  qb::DateFields f;
  if (!value.GetFields(f)) {
    Check(!value.IsValid());
    return 0;
  }
  Check(value.IsValid());
  Check(f.year >= 100 && f.year <= 9999);
  Check(f.month >= 1 && f.month <= 12);
  Check(f.day >= 1 && f.day <= DaysInMonth(f.year, f.month));
  Check(f.hour >= 0 && f.hour <= 23);
  Check(f.minute >= 0 && f.minute <= 59);
  Check(f.second >= 0 && f.second <= 59);
  Check(qb::CDateTime::FromFields(f) == value);
  return 0;
}
