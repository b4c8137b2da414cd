// The one way the window writes a date and time: the user's locale's short
// date with the year in four digits, then its short time (with seconds for
// the status clock). The article list and its tooltips, the status clock and
// the feed properties all use it.
#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>

#include "base/DateTime.h"

namespace qb {

// The locale's short date format with a four-digit year.
QString DisplayDateFormat(const QLocale& locale = QLocale());

// A moment of local time.
QString FormatDisplayDateTime(const QDateTime& local, bool withSeconds = false,
                              const QLocale& locale = QLocale());

// An article's date (the clock's time with seconds): empty when it has no
// valid date; the date alone at midnight (a feed that gives no time of day).
QString FormatDisplayDate(const CDateTime& date, bool withSeconds = false, const QLocale& locale = QLocale());

}  // namespace qb
