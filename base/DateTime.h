// CDateTime: a local clock time to the second with a validity status, held as
// an OLE Automation date (days since 30 December 1899 00:00, the fraction
// being the time of day). It carries no time zone. Years 100 to 9999.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qb {

struct DateFields {
  int32_t year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  bool operator==(const DateFields&) const = default;
};

class CDateTime {
 public:
  enum class Status : int32_t { Valid = 0, Invalid = 1, Null = 2 };

  // The zero date, 30 December 1899 00:00:00, valid.
  CDateTime() = default;

  // Valid only if the six numbers name a real date and time (month 1-12, the
  // day within the month, hour 0-23, minute and second 0-59, year 100-9999):
  // the numbers are converted to a date and back, and must come back
  // unchanged. Otherwise the value is invalid and its date meaningless.
  void SetDateTime(int32_t year, int32_t month, int32_t day, int32_t hour, int32_t minute,
                   int32_t second);
  static CDateTime FromFields(const DateFields& f);

  // Calendar time (seconds since 1970 UTC) converted to local time; invalid
  // if the conversion fails.
  static CDateTime FromTime(int64_t t);

  // A clock time written in a zone `offsetMinutes` east of UTC, converted to
  // local time (the zone TZ names, else the system's). Invalid when the six
  // numbers name no real date and time (by the rule of SetDateTime) or the
  // local time falls outside the years 100 to 9999.
  static CDateTime FromZonedFields(const DateFields& f, int32_t offsetMinutes);

  // A valid value holding the given OLE Automation date; invalid when the
  // date is not a finite number within the years 100 to 9999.
  static CDateTime FromOleDate(double date);
  static CDateTime Invalid();
  static CDateTime Null();

  Status GetStatus() const { return m_status; }
  bool IsValid() const { return m_status == Status::Valid; }
  double GetOleDate() const { return m_date; }

  // The calendar fields; false when the value is not valid.
  bool GetFields(DateFields& out) const;

  // Display text: empty for null, "Invalid DateTime" for invalid, otherwise
  // the short date and the time in the user's locale, the time left out at
  // exactly midnight.
  std::u16string Format() const;

  // Days since the epoch on a continuous scale (the OLE form counts the time
  // of day backwards before 1899-12-30); used for differences and ordering.
  double LinearDays() const;

  bool operator==(const CDateTime& o) const {
    return m_status == o.m_status && (m_status != Status::Valid || m_date == o.m_date);
  }

 private:
  double m_date = 0.0;
  Status m_status = Status::Valid;
};

// -1, 0 or 1. An invalid value sorts after every valid one; two invalid values
// are equal; valid values are compared by their difference rounded to the
// nearest second (halves away from zero).
int CompareDates(const CDateTime& a, const CDateTime& b);

}  // namespace qb
