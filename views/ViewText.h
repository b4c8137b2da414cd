// Text helpers shared by the three views: conversions between the model's
// UTF-16 strings and QString, the labels of the source tree and the display
// form of the article list's columns.
#pragma once

#include <QLocale>
#include <QString>
#include <string>
#include <string_view>

#include "base/DateTime.h"

namespace qb {

inline QString ToQString(std::u16string_view s) {
  return QString(reinterpret_cast<const QChar*>(s.data()), static_cast<qsizetype>(s.size()));
}
inline std::u16string FromQString(const QString& s) {
  return std::u16string(reinterpret_cast<const char16_t*>(s.utf16()), static_cast<size_t>(s.size()));
}
inline std::u16string_view ViewOf(const QString& s) {
  return std::u16string_view(reinterpret_cast<const char16_t*>(s.utf16()),
                             static_cast<size_t>(s.size()));
}

// A title (of an article, a channel, a source or a group) as text: markup
// removed and HTML entities and character references decoded (TitleText).
// Text without "&" and "<" comes back unchanged without being copied
// through the decoder.
std::u16string DecodeForDisplay(const std::u16string& text);

// A group's or source's tree label: the decoded name, followed by
// " (unread / total)" when the node holds any article.
QString NodeLabel(const std::u16string& name, int unread, int read);

// The date column: empty for an article without a valid date; otherwise the
// short date and the short time of the locale, the date alone at midnight.
QString FormatArticleDate(const CDateTime& date, const QLocale& locale = QLocale());

}  // namespace qb
