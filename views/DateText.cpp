#include "views/DateText.h"

namespace qb {

namespace {

QString TimeFormat(const QLocale& locale, bool withSeconds) {
  QString format = locale.timeFormat(QLocale::ShortFormat);
  if (withSeconds && !format.contains(QLatin1String("ss"))) {
    const qsizetype minutes = format.indexOf(QLatin1String("mm"));
    if (minutes >= 0) format.insert(minutes + 2, QLatin1String(":ss"));
  }
  return format;
}

}  // namespace

QString DisplayDateFormat(const QLocale& locale) {
  QString format = locale.dateFormat(QLocale::ShortFormat);
  if (!format.contains(QLatin1String("yyyy"))) format.replace(QLatin1String("yy"), QLatin1String("yyyy"));
  return format;
}

QString FormatDisplayDateTime(const QDateTime& local, bool withSeconds, const QLocale& locale) {
  return locale.toString(local.date(), DisplayDateFormat(locale)) + QLatin1Char(' ') +
         locale.toString(local.time(), TimeFormat(locale, withSeconds));
}

QString FormatDisplayDate(const CDateTime& date, bool withSeconds, const QLocale& locale) {
  DateFields f;
  if (!date.GetFields(f)) return QString();
  const QDate day(f.year, f.month, f.day);
  QString text = locale.toString(day, DisplayDateFormat(locale));
  if (f.hour != 0 || f.minute != 0 || f.second != 0) {
    text += QLatin1Char(' ');
    text += locale.toString(QTime(f.hour, f.minute, f.second), TimeFormat(locale, withSeconds));
  }
  return text;
}

}  // namespace qb
