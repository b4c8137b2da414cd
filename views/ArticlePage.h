// The article page: the small HTML file the article pane shows for one
// article. Building its bytes is a pure function, so it is tested without a
// browser.
#pragma once

#include <QColor>
#include <QString>
#include <string>
#include <string_view>

#include "model/RSSObject.h"

namespace qb {

class CFeed;

// The name of the page file inside the private temporary folder.
inline constexpr char kArticlePageName[] = "~feed_contents.html";
// The address behind "Delete this article".
inline constexpr char kDeleteArticleUrl[] = "http://DELETE_ARTICLE/";

// "RRGGBB", upper-case hexadecimal.
std::string ColorToHex(const QColor& color);

struct ArticlePageColors {
  std::string highlight;      // the title bar's background, as ColorToHex
  std::string highlightText;  // its text colour
};

// The page for one article as the bytes of the file: every character is one
// byte (0 to 255), characters above 255 are written as decimal character
// references, and every line feed is written as a carriage return and a line
// feed. Title and description are entity-decoded once more, so text that a
// feed escaped twice arrives as markup; the link is written as stored.
std::string ArticlePageBytes(ObjectId id, const std::u16string& title, const std::u16string& link,
                             const std::u16string& description, const ArticlePageColors& colors);

// The colours of the system palette's highlight and highlighted text.
ArticlePageColors SystemPageColors();

// Writes the article's page (or an empty page) to the private temporary
// folder and returns its path. A file that cannot be written leaves what was
// there; the path is returned all the same.
QString WriteArticlePage(const CFeed& article, const ArticlePageColors& colors);
QString WriteEmptyPage();
QString ArticlePagePath();

// Whether a navigation to `url` is the delete link: exactly the delete
// address, ignoring case.
bool IsDeleteArticleUrl(const QString& url);

}  // namespace qb
