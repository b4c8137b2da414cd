// The article page: the small HTML page the article pane shows for one
// article, served to the browser from memory (never written to the disk).
// Building its bytes is a pure function, so it is tested without a browser.
#pragma once

#include <QColor>
#include <QPalette>
#include <QString>
#include <QUrl>
#include <string>
#include <string_view>
#include <vector>

#include "formats/Enclosures.h"
#include "model/ArticleStore.h"
#include "model/RSSObject.h"

namespace qb {

class CFeed;
class CFeedsManager;

// The scheme the pane's pages are served under: "quillbend-article:PANE/ID".
inline constexpr char kArticlePageScheme[] = "quillbend-article";
// The address behind "Delete this article".
inline constexpr char kDeleteArticleUrl[] = "http://DELETE_ARTICLE/";
// The addresses behind the reader view's links: "Reader view", "Show the
// feed's text" and "Reload".
inline constexpr char kReaderViewUrl[] = "http://READER_VIEW/";
inline constexpr char kFeedTextUrl[] = "http://FEED_TEXT/";
inline constexpr char kReloadReaderUrl[] = "http://RELOAD_READER/";

// "RRGGBB", upper-case hexadecimal.
std::string ColorToHex(const QColor& color);

struct ArticlePageColors {
  std::string highlight;      // the title bar's background, as ColorToHex
  std::string highlightText;  // its text colour
  // The page's own colours, as ColorToHex. Left empty, the page says
  // nothing about them and the browser's defaults apply.
  std::string background;
  std::string text;
  std::string link;
  std::string visitedLink;
  // The page asks the browser for dark form controls and scroll bars.
  bool dark = false;
};

// The contrast ratio of two colours as the web's accessibility guidelines
// define it: from 1 (the same luminance) to 21 (black on white).
double ContrastRatio(const QColor& a, const QColor& b);

// The foreground, made lighter on a dark background or darker on a light
// one, with its hue kept, until it reaches the contrast ratio (or white or
// black). A colour that already reaches it comes back unchanged.
QColor ReadableOn(const QColor& foreground, const QColor& background, double minimumContrast = 4.5);

// The reader view's part of an article's page.
struct ReaderPagePart {
  enum class State {
    kOff,      // the feed's text, with a "Reader view" link
    kWorking,  // the feed's text, with a line saying the page is being read
    kProblem,  // the feed's text, with a line saying why there is no article
    kShown,    // the article's readable text in place of the feed's
  };
  State state = State::kOff;
  // The line above the text (kWorking, kProblem; kShown: a reload that
  // failed, the stored text staying). Plain text.
  std::u16string line;
  // kShown: what the extraction found. The content is HTML whose links and
  // pictures are absolute; the others are plain text.
  std::u16string title, byline, siteName, address, language, direction, content;
};

// What the page of one article shows.
struct ArticlePageContent {
  ObjectId id = 0;
  std::u16string title;        // as stored: shown as text (TitleText), never as markup
  std::u16string link;         // absolute, or empty: then no "Open this article" links
  std::u16string description;  // HTML, as stored
  // What the description's relative links and pictures resolve against;
  // empty for none.
  std::u16string baseUrl;
  std::vector<Enclosure> enclosures;  // listed under the text
  ReaderPagePart reader;
};

// An article's page content: its link resolved against the feed's address
// (`feedAddress`, empty when unknown), the base its link when that is a web
// address, else the feed's address, and the enclosures its own source text
// names.
ArticlePageContent PageContentOf(const CFeed& article, const std::u16string& feedAddress);
// The same with the article's texts as given (a stored article holds
// them only in the library: CFeedsManager::ArticleTexts).
ArticlePageContent PageContentOf(const CFeed& article, const CArticleTexts& texts,
                                 const std::u16string& feedAddress);

// The page for one article as the bytes of the file: every character is one
// byte (0 to 255), characters above 255 are written as decimal character
// references, and every line feed is written as a carriage return and a line
// feed. The title is written as text (escaped), the description as the HTML
// it is; the link, the base and the enclosures' addresses are escaped for
// their attributes. Text in the page's own parts uses the desktop's
// sans-serif font. The page's colours come first, as attributes of its body
// (and, when dark, a colour-scheme declaration), so that the feed's own
// inline styles still win over them.
std::string ArticlePageBytes(const ArticlePageContent& content, const ArticlePageColors& colors);

// The page's colours from a window palette: the title bar in the highlight
// colours, the page in the base and text colours, links in the palette's
// link colours made readable on the base colour. A palette whose base is
// darker than its text gives a dark page.
ArticlePageColors PageColorsFrom(const QPalette& palette);
// The same from the application's palette.
ArticlePageColors SystemPageColors();

// Makes the article page's scheme known to the web engine: an ordinary
// (not secure, not local) scheme, so the page loads the pictures of the web
// as a page of the web would. REQUIRES: called before the application object
// is made.
void RegisterArticlePageScheme();

// The article's page; `model` tells the address of the article's feed.
std::string ArticlePageOf(const CFeedsManager& model, const CFeed& article, const ArticlePageColors& colors,
                          const ReaderPagePart& reader = {});

// The article's link as its page opens it: resolved against its feed's
// address; empty when it has none.
std::u16string ArticleLinkOf(const CFeedsManager& model, const CFeed& article);

// Whether a navigation to `url` is the delete link: exactly the delete
// address, ignoring case.
bool IsDeleteArticleUrl(const QString& url);

// Which of the page's own links a navigation to `url` is (exactly its
// address, ignoring case).
enum class PageLink { kNone, kDelete, kReaderView, kFeedText, kReload };
PageLink PageLinkOf(const QString& url);

// The address pane `pane` loads its page for the article `article` from;
// every article has its own, so the browser never takes one for a reload
// of another (and keeps its scroll position).
QUrl ArticlePageUrl(int pane, ObjectId article);
// Whether `url` is an address of pane `pane`'s page (for any article).
bool IsArticlePageUrl(const QUrl& url, int pane);

// Whether `host` (as an address names it) is this machine or its network:
// "localhost" and names under it, this machine's own name, and literal
// addresses that are loopback (127/8, ::1), private (10/8, 172.16/12,
// 192.168/16, fc00::/7), link-local (169.254/16, fe80::/10) or unspecified
// (0/8, ::), IPv4 also when written as IPv6 (::ffff:a.b.c.d). Other names
// are not looked up: a name of the public network that resolves to such an
// address is not caught here.
bool IsLocalNetworkHost(const QString& host);
// Whether a web address names such a host.
bool IsLocalNetworkUrl(const QUrl& url);

// Whether pane `pane` may load `url`, for its page or for anything in it:
// web addresses (http, https), content carried in the address itself
// (data, blob), and its own page. Everything else (local files, ftp, the
// program's own resources, ...) is refused, so a feed cannot make the pane
// read the disk. Without `localNetwork`, web addresses of this machine and
// its network (IsLocalNetworkHost) are refused too, so a feed from the
// internet cannot make the reader probe them.
bool IsAllowedPageRequest(const QUrl& url, int pane, bool localNetwork);

}  // namespace qb
