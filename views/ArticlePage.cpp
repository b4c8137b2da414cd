#include "views/ArticlePage.h"

#include <QApplication>
#include <QHostAddress>
#include <QHostInfo>
#include <QPalette>
#include <QWebEngineUrlScheme>
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "base/Text.h"
#include "base/WebAddress.h"
#include "formats/Markup.h"
#include "model/Feed.h"
#include "model/FeedsManager.h"

namespace qb {

namespace {

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// EncodeCharRefs works on code units; a character outside the basic plane
// would become two references to lone surrogates, which a browser shows as
// two replacement characters. Such pairs are written as one reference to the
// whole code point instead.
std::u16string EncodeForPage(const std::u16string& text) {
  std::u16string out;
  std::u16string run;
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (IsHighSurrogate(c) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
      out += EncodeCharRefs(run);
      run.clear();
      const uint32_t cp = 0x10000 + ((uint32_t(c) - 0xD800) << 10) + (uint32_t(text[i + 1]) - 0xDC00);
      const std::string ref = "&#" + std::to_string(cp) + ";";
      out.append(ref.begin(), ref.end());
      ++i;
    } else {
      run += c;
    }
  }
  out += EncodeCharRefs(run);
  return out;
}

void Append(std::u16string& page, std::string_view ascii) { page.append(ascii.begin(), ascii.end()); }

double Linear(double channel) {
  return channel <= 0.04045 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
}

double Luminance(const QColor& c) {
  const QColor rgb = c.toRgb();
  return 0.2126 * Linear(rgb.redF()) + 0.7152 * Linear(rgb.greenF()) + 0.0722 * Linear(rgb.blueF());
}

}  // namespace

double ContrastRatio(const QColor& a, const QColor& b) {
  const double la = Luminance(a);
  const double lb = Luminance(b);
  return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor ReadableOn(const QColor& foreground, const QColor& background, double minimumContrast) {
  if (ContrastRatio(foreground, background) >= minimumContrast) return foreground;
  // Towards white on a background darker than middle grey, else towards black.
  const bool lighten = ContrastRatio(background, Qt::black) < ContrastRatio(background, Qt::white);
  const QColor hsl = foreground.toHsl();
  const float hue = hsl.hslHueF();
  const float saturation = hsl.hslSaturationF();
  float lightness = hsl.lightnessF();
  QColor best = foreground;
  for (int step = 0; step < 100; ++step) {
    lightness = lighten ? std::min(1.0f, lightness + 0.02f) : std::max(0.0f, lightness - 0.02f);
    best = QColor::fromHslF(hue, saturation, lightness).toRgb();
    if (ContrastRatio(best, background) >= minimumContrast) break;
    if (lightness <= 0.0f || lightness >= 1.0f) break;
  }
  return best;
}

std::string ColorToHex(const QColor& color) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%02X%02X%02X", color.red() & 0xFF, color.green() & 0xFF,
                color.blue() & 0xFF);
  return buf;
}

namespace {

bool IsWebAddress(std::u16string_view s) {
  return CompareAsciiNoCase(s.substr(0, 7), u"http://") == 0 || CompareAsciiNoCase(s.substr(0, 8), u"https://") == 0;
}

// What an enclosure's link says: its title, else the file's name in its
// address, else the address.
std::u16string EnclosureName(const Enclosure& e) {
  if (!TrimView(e.title).empty()) return e.title;
  std::u16string_view path = e.url;
  path = path.substr(0, std::min(path.find(u'?'), path.find(u'#')));
  const size_t slash = path.rfind(u'/');
  const std::u16string_view file = slash == std::u16string_view::npos ? path : path.substr(slash + 1);
  return file.empty() ? e.url : std::u16string(file);
}

}  // namespace

ArticlePageContent PageContentOf(const CFeed& article, const std::u16string& feedAddress) {
  return PageContentOf(article, CArticleTexts{article.m_description, article.m_sourceText}, feedAddress);
}

ArticlePageContent PageContentOf(const CFeed& article, const CArticleTexts& texts,
                                 const std::u16string& feedAddress) {
  ArticlePageContent content;
  content.id = article.m_id;
  content.title = article.m_title;
  content.description = texts.description.str();
  const std::u16string link = Trim(article.m_link);
  if (!link.empty()) {
    const std::u16string resolved = ResolveUrl(feedAddress, link);
    content.link = resolved.empty() ? link : resolved;
  }
  if (IsWebAddress(content.link)) {
    content.baseUrl = content.link;
  } else if (IsWebAddress(feedAddress)) {
    content.baseUrl = feedAddress;
  }
  content.enclosures = FindEnclosures(texts.sourceText.str());
  return content;
}

std::string ArticlePageBytes(const ArticlePageContent& content, const ArticlePageColors& colors) {
  const std::string crlf = "\r\n";
  const ReaderPagePart& reader = content.reader;
  const bool readerShown = reader.state == ReaderPagePart::State::kShown;
  // The title is text: whatever markup it holds is shown, never rendered.
  const std::u16string encodedTitle = EncodeForPage(
      EscapeHtml(readerShown && !TrimView(reader.title).empty() ? reader.title : TitleText(content.title)));
  const std::u16string encodedLink = EncodeForPage(EscapeHtml(content.link));
  const std::string font = "<font face=\"sans-serif\" size=\"2\">";
  std::u16string page;
  // Whatever a feed's text holds, nothing in the page runs: no scripts, no
  // inline handlers, no plugins (the pane also switches scripts off).
  Append(page, "<meta http-equiv=\"Content-Security-Policy\" content=\"script-src 'none'; object-src 'none'\">" + crlf);
  if (colors.dark) Append(page, "<meta name=\"color-scheme\" content=\"dark\">" + crlf);
  // The extracted text's addresses are absolute already; its page's
  // address is the base of whatever the page itself left relative.
  const std::u16string& base = readerShown && IsWebAddress(reader.address) ? reader.address : content.baseUrl;
  if (!base.empty()) {
    // The article's relative links and pictures are its site's. The page's
    // own links are absolute, so the base leaves them alone.
    Append(page, "<base href=\"");
    page += EncodeForPage(EscapeHtml(base));
    Append(page, "\">" + crlf);
  }
  Append(page, "<style>body { font-family: sans-serif; }</style>" + crlf);
  if (!colors.background.empty()) {
    Append(page, "<body bgcolor=\"#" + colors.background + "\" text=\"#" + colors.text + "\" link=\"#" +
                     colors.link + "\" vlink=\"#" + colors.visitedLink + "\">" + crlf);
  }
  Append(page, "<p>" + crlf);
  Append(page, "<table width=\"100%\" border=\"0\" align=\"center\" cellpadding=\"4\"><tr>" + crlf);
  Append(page, "<td bgcolor=\"#" + colors.highlight + "\"><font face=\"sans-serif\" size=\"3\" color=\"#" +
                   colors.highlightText + "\">");
  page += encodedTitle;
  Append(page, "</font></td>" + crlf);
  Append(page, "</tr></table>" + crlf);
  Append(page, "<table border=\"0\" align=\"center\" cellpadding=\"4\"><tr>" + crlf);
  // An article without a link has nothing to open.
  if (!content.link.empty()) {
    Append(page, "<td>" + font + crlf);
    Append(page, "<a href=\"");
    page += encodedLink;
    Append(page, "\">Open this article (this window)</a>" + crlf);
    Append(page, "</font></td>" + crlf);
    Append(page, "<td>" + font + crlf);
    Append(page, "<a href=\"");
    page += encodedLink;
    Append(page, "\" target=\"" + std::to_string(static_cast<unsigned long>(content.id)) +
                     "\">Open this article (new window)</a>" + crlf);
    Append(page, "</font></td>" + crlf);
  }
  Append(page, "<td>" + font + crlf);
  Append(page, std::string("<a href=\"") + kDeleteArticleUrl + "\">Delete this article</a>" + crlf);
  Append(page, "</font></td>" + crlf);
  // The reader view's own links: to it, or back to the feed's text and
  // fetching the page again.
  auto pageLink = [&](const char* address, const char* text) {
    Append(page, "<td>" + font + crlf);
    Append(page, std::string("<a href=\"") + address + "\">" + text + "</a>" + crlf);
    Append(page, "</font></td>" + crlf);
  };
  if (readerShown) {
    pageLink(kFeedTextUrl, "Show the feed&#8217;s text");
    pageLink(kReloadReaderUrl, "Reload");
  } else if (!content.link.empty()) {
    // While the page is read, the way back; otherwise (a problem too, to
    // try again) the way in.
    const bool working = reader.state == ReaderPagePart::State::kWorking;
    pageLink(working ? kFeedTextUrl : kReaderViewUrl, working ? "Show the feed&#8217;s text" : "Reader view");
  }
  Append(page, "</tr></table>" + crlf);
  if (readerShown) {
    std::u16string credit = reader.byline;
    if (!TrimView(reader.siteName).empty()) credit += (TrimView(credit).empty() ? u"" : u" \u00B7 ") + reader.siteName;
    if (!TrimView(credit).empty()) {
      Append(page, "<p class=\"byline\">" + font + "<i>");
      page += EncodeForPage(EscapeHtml(credit));
      Append(page, "</i></font></p>" + crlf);
    }
  }
  if (!reader.line.empty() && reader.state != ReaderPagePart::State::kOff) {
    // One line saying what the reader view is doing or why it shows the
    // feed's text.
    Append(page, "<p class=\"reader-line\">" + font + "<b>");
    page += EncodeForPage(EscapeHtml(reader.line));
    Append(page, "</b></font></p>" + crlf);
  }
  Append(page, "<hr width=\"100%\" size=\"1\">" + crlf);
  Append(page, "</p>" + crlf);
  if (readerShown) {
    Append(page, "<div class=\"reader\"");
    // Only the two directions there are; a language as an attribute value.
    if (reader.direction == u"rtl" || reader.direction == u"ltr") {
      Append(page, " dir=\"");
      page += reader.direction;
      Append(page, "\"");
    }
    if (!reader.language.empty()) {
      Append(page, " lang=\"");
      page += EncodeForPage(EscapeHtml(reader.language));
      Append(page, "\"");
    }
    Append(page, ">" + crlf);
    page += EncodeForPage(reader.content);
    Append(page, crlf + "</div>");
  } else {
    page += EncodeForPage(content.description);
  }
  if (!content.enclosures.empty()) {
    // The files the article comes with, each opened in the user's browser.
    Append(page, crlf + "<hr width=\"100%\" size=\"1\">" + crlf);
    for (const Enclosure& e : content.enclosures) {
      Append(page, "<p class=\"enclosure\">" + font + "<a href=\"");
      page += EncodeForPage(EscapeHtml(e.url));
      Append(page, "\" target=\"_blank\">");
      page += EncodeForPage(EscapeHtml(EnclosureName(e)));
      Append(page, "</a>");
      std::u16string details = e.type;
      const std::u16string size = FormatFileSize(e.length);
      if (!size.empty()) details += (details.empty() ? u"" : u", ") + size;
      if (!details.empty()) {
        Append(page, " (");
        page += EncodeForPage(EscapeHtml(details));
        Append(page, ")");
      }
      Append(page, "</font></p>" + crlf);
    }
  }

  // The file is written as a text stream of single bytes: each line feed
  // becomes a carriage return and a line feed.
  std::string bytes;
  bytes.reserve(page.size() + page.size() / 16);
  for (char16_t c : page) {
    if (c == u'\n') {
      bytes += "\r\n";
    } else {
      bytes += static_cast<char>(static_cast<unsigned char>(c));  // c <= 255 after encoding
    }
  }
  return bytes;
}

ArticlePageColors PageColorsFrom(const QPalette& palette) {
  const QColor base = palette.color(QPalette::Active, QPalette::Base);
  const QColor text = palette.color(QPalette::Active, QPalette::Text);
  ArticlePageColors colors;
  colors.highlight = ColorToHex(palette.color(QPalette::Active, QPalette::Highlight));
  colors.highlightText = ColorToHex(palette.color(QPalette::Active, QPalette::HighlightedText));
  colors.background = ColorToHex(base);
  colors.text = ColorToHex(ReadableOn(text, base));
  colors.link = ColorToHex(ReadableOn(palette.color(QPalette::Active, QPalette::Link), base));
  colors.visitedLink = ColorToHex(ReadableOn(palette.color(QPalette::Active, QPalette::LinkVisited), base));
  colors.dark = Luminance(base) < Luminance(text);
  return colors;
}

ArticlePageColors SystemPageColors() { return PageColorsFrom(QApplication::palette()); }

void RegisterArticlePageScheme() {
  QWebEngineUrlScheme scheme(kArticlePageScheme);
  scheme.setSyntax(QWebEngineUrlScheme::Syntax::Path);
  QWebEngineUrlScheme::registerScheme(scheme);
}

std::string ArticlePageOf(const CFeedsManager& model, const CFeed& article, const ArticlePageColors& colors,
                          const ReaderPagePart& reader) {
  const CFeedSource* source = model.FindSourceOfFeed(article.m_id);
  ArticlePageContent content = PageContentOf(article, model.ArticleTexts(article.m_id),
                                             source != nullptr ? source->m_url : std::u16string());
  content.reader = reader;
  return ArticlePageBytes(content, colors);
}

std::u16string ArticleLinkOf(const CFeedsManager& model, const CFeed& article) {
  const CFeedSource* source = model.FindSourceOfFeed(article.m_id);
  return PageContentOf(article, CArticleTexts{}, source != nullptr ? source->m_url : std::u16string()).link;
}

bool IsDeleteArticleUrl(const QString& url) {
  return url.compare(QLatin1String(kDeleteArticleUrl), Qt::CaseInsensitive) == 0;
}

PageLink PageLinkOf(const QString& url) {
  const std::pair<const char*, PageLink> links[] = {{kDeleteArticleUrl, PageLink::kDelete},
                                                    {kReaderViewUrl, PageLink::kReaderView},
                                                    {kFeedTextUrl, PageLink::kFeedText},
                                                    {kReloadReaderUrl, PageLink::kReload}};
  for (const auto& [address, link] : links) {
    if (url.compare(QLatin1String(address), Qt::CaseInsensitive) == 0) return link;
  }
  return PageLink::kNone;
}

QUrl ArticlePageUrl(int pane, ObjectId article) {
  QUrl url;
  url.setScheme(QString::fromLatin1(kArticlePageScheme));
  url.setPath(QStringLiteral("%1/%2").arg(pane).arg(article));
  return url;
}

bool IsArticlePageUrl(const QUrl& url, int pane) {
  if (url.scheme() != QLatin1String(kArticlePageScheme) || !url.host().isEmpty()) return false;
  const QString path = url.path();
  const qsizetype slash = path.indexOf(u'/');
  return slash > 0 && QStringView(path).left(slash) == QString::number(pane);
}

namespace {

bool InRange(quint32 address, quint32 network, int bits) {
  const quint32 mask = bits == 0 ? 0 : ~quint32(0) << (32 - bits);
  return (address & mask) == network;
}

bool IsLocalIPv4(quint32 a) {
  return InRange(a, 0x7F000000, 8) ||  // loopback
         InRange(a, 0x0A000000, 8) || InRange(a, 0xAC100000, 12) || InRange(a, 0xC0A80000, 16) ||
         InRange(a, 0xA9FE0000, 16) ||  // link-local
         InRange(a, 0x00000000, 8);     // unspecified, "this network"
}

}  // namespace

bool IsLocalNetworkHost(const QString& hostName) {
  QString host = hostName.toLower();
  while (host.endsWith(u'.')) host.chop(1);
  if (host.startsWith(u'[') && host.endsWith(u']')) host = host.mid(1, host.size() - 2);
  if (host.isEmpty()) return false;
  if (host == QLatin1String("localhost") || host.endsWith(QLatin1String(".localhost"))) return true;
  QHostAddress address;
  if (!address.setAddress(host)) {
    // The machine's own name stands for one of its loopback addresses.
    return host == QHostInfo::localHostName().toLower();
  }
  if (address.protocol() == QAbstractSocket::IPv4Protocol) return IsLocalIPv4(address.toIPv4Address());
  bool mapped = false;
  const quint32 v4 = address.toIPv4Address(&mapped);
  if (mapped) return IsLocalIPv4(v4);
  const Q_IPV6ADDR a = address.toIPv6Address();
  bool unspecified = true;
  for (int i = 0; i < 16; ++i) unspecified = unspecified && a[i] == 0;
  return unspecified || address.isLoopback() ||
         (a[0] & 0xFE) == 0xFC ||                  // unique local, fc00::/7
         (a[0] == 0xFE && (a[1] & 0xC0) == 0x80);  // link-local, fe80::/10
}

bool IsLocalNetworkUrl(const QUrl& url) { return IsLocalNetworkHost(url.host(QUrl::FullyEncoded)); }

bool IsAllowedPageRequest(const QUrl& url, int pane, bool localNetwork) {
  const QString scheme = url.scheme().toLower();
  if (scheme == QLatin1String("http") || scheme == QLatin1String("https")) {
    return localNetwork || !IsLocalNetworkUrl(url);
  }
  if (scheme == QLatin1String("data") || scheme == QLatin1String("blob")) return true;
  return IsArticlePageUrl(url, pane);
}

}  // namespace qb
