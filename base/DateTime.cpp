#include "base/DateTime.h"

#include <cmath>
#include <ctime>
#include <iomanip>
#include <locale>
#include <sstream>

#include "base/Text.h"

namespace qb {

namespace {

constexpr int64_t kSecondsPerDay = 86400;

// Days from 1970-01-01 to the given proleptic Gregorian date.
int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t z, int64_t& y, int64_t& m, int64_t& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  y = yoe + era * 400;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp + (mp < 10 ? 3 : -9);
  y += m <= 2;
}

// 1899-12-30 as days since 1970-01-01.
const int64_t kOleEpoch = DaysFromCivil(1899, 12, 30);

// Fields to OLE date. Before the epoch the day count is negative and the time
// of day is subtracted, as OLE dates are written.
double OleFromFields(const DateFields& f) {
  const int64_t days = DaysFromCivil(f.year, f.month, f.day) - kOleEpoch;
  const double frac =
      static_cast<double>(f.hour * 3600 + f.minute * 60 + f.second) / kSecondsPerDay;
  return days >= 0 ? static_cast<double>(days) + frac : static_cast<double>(days) - frac;
}

DateFields FieldsFromOle(double ole) {
  double whole = std::trunc(ole);
  double frac = std::fabs(ole - whole);
  int64_t days = static_cast<int64_t>(whole);
  int64_t secs = std::llround(frac * kSecondsPerDay);
  if (secs >= kSecondsPerDay) {
    secs -= kSecondsPerDay;
    days += ole >= 0 ? 1 : -1;
  }
  int64_t y, m, d;
  CivilFromDays(days + kOleEpoch, y, m, d);
  DateFields f;
  f.year = static_cast<int32_t>(y);
  f.month = static_cast<int32_t>(m);
  f.day = static_cast<int32_t>(d);
  f.hour = static_cast<int32_t>(secs / 3600);
  f.minute = static_cast<int32_t>(secs / 60 % 60);
  f.second = static_cast<int32_t>(secs % 60);
  return f;
}

bool IsLeap(int32_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int32_t DaysInMonth(int32_t y, int32_t m) {
  static const int32_t kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

// Whether the fields convert to a date at all (the conversion rejects what it
// cannot represent rather than normalising it).
bool Convertible(const DateFields& f) {
  return f.year >= 100 && f.year <= 9999 && f.month >= 1 && f.month <= 12 && f.day >= 1 &&
         f.day <= DaysInMonth(f.year, f.month) && f.hour >= 0 && f.hour <= 23 &&
         f.minute >= 0 && f.minute <= 59 && f.second >= 0 && f.second <= 59;
}

}  // namespace

void CDateTime::SetDateTime(int32_t year, int32_t month, int32_t day, int32_t hour,
                            int32_t minute, int32_t second) {
  const DateFields f{year, month, day, hour, minute, second};
  if (!Convertible(f)) {
    m_date = 0.0;
    m_status = Status::Invalid;
    return;
  }
  m_date = OleFromFields(f);
  m_status = FieldsFromOle(m_date) == f ? Status::Valid : Status::Invalid;
}

CDateTime CDateTime::FromFields(const DateFields& f) {
  CDateTime v;
  v.SetDateTime(f.year, f.month, f.day, f.hour, f.minute, f.second);
  return v;
}

CDateTime CDateTime::FromTime(int64_t t) {
  const std::time_t tt = static_cast<std::time_t>(t);
  std::tm tm{};
  if (localtime_r(&tt, &tm) == nullptr) return Invalid();
  CDateTime v;
  v.SetDateTime(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min,
                tm.tm_sec);
  return v;
}

CDateTime CDateTime::FromZonedFields(const DateFields& f, int32_t offsetMinutes) {
  if (!Convertible(f)) return Invalid();
  const int64_t t = DaysFromCivil(f.year, f.month, f.day) * kSecondsPerDay + f.hour * 3600 + f.minute * 60 +
                    f.second - int64_t{offsetMinutes} * 60;
  return FromTime(t);
}

CDateTime CDateTime::FromOleDate(double date) {
  // A stored number outside the years 100 to 9999 (a damaged library, say)
  // names no date the fields could hold. Before the epoch the time of day
  // counts away from zero, so the first day's last second is the lowest.
  static const double kFirst = OleFromFields(DateFields{100, 1, 1, 23, 59, 59});
  static const double kLast = OleFromFields(DateFields{9999, 12, 31, 23, 59, 59});
  if (!std::isfinite(date) || date < kFirst || date > kLast) return Invalid();
  CDateTime v;
  v.m_date = date;
  return v;
}

CDateTime CDateTime::Invalid() {
  CDateTime v;
  v.m_status = Status::Invalid;
  return v;
}

CDateTime CDateTime::Null() {
  CDateTime v;
  v.m_status = Status::Null;
  return v;
}

bool CDateTime::GetFields(DateFields& out) const {
  if (m_status != Status::Valid) return false;
  out = FieldsFromOle(m_date);
  return true;
}

double CDateTime::LinearDays() const {
  const double whole = std::trunc(m_date);
  return m_date >= 0 ? m_date : whole - (m_date - whole);
}

std::u16string CDateTime::Format() const {
  if (m_status == Status::Null) return {};
  if (m_status != Status::Valid) return u"Invalid DateTime";
  DateFields f;
  GetFields(f);
  std::tm tm{};
  tm.tm_year = f.year - 1900;
  tm.tm_mon = f.month - 1;
  tm.tm_mday = f.day;
  tm.tm_hour = f.hour;
  tm.tm_min = f.minute;
  tm.tm_sec = f.second;
  std::ostringstream os;
  try {
    os.imbue(std::locale(""));
  } catch (const std::exception&) {
    // An unknown locale in the environment: fall back to the classic one.
  }
  os << std::put_time(&tm, "%x");
  if (f.hour != 0 || f.minute != 0 || f.second != 0) os << ' ' << std::put_time(&tm, "%X");
  return Utf8ToUtf16(os.str());
}

int CompareDates(const CDateTime& a, const CDateTime& b) {
  if (!a.IsValid()) return b.IsValid() ? 1 : 0;
  if (!b.IsValid()) return -1;
  const double seconds = std::round((a.LinearDays() - b.LinearDays()) * kSecondsPerDay);
  return seconds < 0 ? -1 : (seconds > 0 ? 1 : 0);
}

}  // namespace qb
