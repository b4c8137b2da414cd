#include "views/ViewText.h"

#include <QDate>
#include <QTime>

#include "formats/Markup.h"

namespace qb {

std::u16string DecodeForDisplay(const std::u16string& text) {
  if (text.find_first_of(u"&<") == std::u16string::npos) return text;
  return TitleText(text);
}

QString NodeLabel(const std::u16string& name, int unread, int read) {
  QString label = ToQString(DecodeForDisplay(name));
  const int total = unread + read;
  if (total > 0) label += QStringLiteral(" (%1 / %2)").arg(unread).arg(total);
  return label;
}

QString FormatArticleDate(const CDateTime& date, const QLocale& locale) {
  DateFields f;
  if (!date.GetFields(f)) return QString();
  const QDate day(f.year, f.month, f.day);
  QString text = locale.toString(day, QLocale::ShortFormat);
  if (f.hour != 0 || f.minute != 0 || f.second != 0) {
    text += QLatin1Char(' ');
    text += locale.toString(QTime(f.hour, f.minute, f.second), QLocale::ShortFormat);
  }
  return text;
}

}  // namespace qb
