#include "views/FeedView.h"

#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTest>
#include <QWebEngineSettings>
#include <gtest/gtest.h>

#include "base/Text.h"
#include "model/Feed.h"
#include "tests/support/FakeMainFrame.h"
#include "tests/support/TempDir.h"
#include "views/ArticlePage.h"
#include "views/ArticleTableModel.h"
#include "views/Shell.h"

namespace qb {
namespace {

// The title bar's colours only: the page says nothing of its own colours.
ArticlePageColors TitleBarColors() {
  ArticlePageColors colors;
  colors.highlight = "316AC5";
  colors.highlightText = "FFFFFF";
  return colors;
}
const ArticlePageColors kColors = TitleBarColors();

ArticlePageContent Content(ObjectId id, const std::u16string& title, const std::u16string& link,
                           const std::u16string& desc) {
  ArticlePageContent c;
  c.id = id;
  c.title = title;
  c.link = link;
  c.description = desc;
  return c;
}

std::string Page(ObjectId id, const std::u16string& title, const std::u16string& link,
                 const std::u16string& desc) {
  return ArticlePageBytes(Content(id, title, link, desc), kColors);
}

// The first line of every page: nothing in it may run. It must come before
// anything else, or the browser does not take it for the page's policy.
const std::string kPolicy =
    "<meta http-equiv=\"Content-Security-Policy\" content=\"script-src 'none'; object-src 'none'\">\r\r\n";
// The page's text in the desktop's sans-serif font.
const std::string kStyle = "<style>body { font-family: sans-serif; }</style>\r\r\n";

// The page of the article used below after those lines, without page colours.
const std::string kTemplate =
    "<p>\r\r\n"
    "<table width=\"100%\" border=\"0\" align=\"center\" cellpadding=\"4\"><tr>\r\r\n"
    "<td bgcolor=\"#316AC5\"><font face=\"sans-serif\" size=\"3\" color=\"#FFFFFF\">A &amp; B</font></td>\r\r\n"
    "</tr></table>\r\r\n"
    "<table border=\"0\" align=\"center\" cellpadding=\"4\"><tr>\r\r\n"
    "<td><font face=\"sans-serif\" size=\"2\">\r\r\n"
    "<a href=\"http://x/?a=1&amp;b=2\">Open this article (this window)</a>\r\r\n"
    "</font></td>\r\r\n"
    "<td><font face=\"sans-serif\" size=\"2\">\r\r\n"
    "<a href=\"http://x/?a=1&amp;b=2\" target=\"2147483648\">Open this article (new window)</a>\r\r\n"
    "</font></td>\r\r\n"
    "<td><font face=\"sans-serif\" size=\"2\">\r\r\n"
    "<a href=\"http://DELETE_ARTICLE/\">Delete this article</a>\r\r\n"
    "</font></td>\r\r\n"
    "<td><font face=\"sans-serif\" size=\"2\">\r\r\n"
    "<a href=\"http://READER_VIEW/\">Reader view</a>\r\r\n"
    "</font></td>\r\r\n"
    "</tr></table>\r\r\n"
    "<hr width=\"100%\" size=\"1\">\r\r\n"
    "</p>\r\r\n"
    "<p>one\r\ntwo</p>";

TEST(ArticlePageTest, WritesTheTemplateExactly) {
  EXPECT_EQ(Page(2147483648u, u"A &amp; B", u"http://x/?a=1&b=2", u"<p>one\ntwo</p>"), kPolicy + kStyle + kTemplate);
}

// The reader view's part: its text in place of the feed's, under its own
// title, byline and site and with the way back; a line over the feed's text
// while it works or when it cannot. Nothing it was given becomes markup
// outside its content.
TEST(ArticlePageTest, TheReaderViewShowsItsTextInPlaceOfTheFeeds) {
  ArticlePageContent c = Content(7, u"Feed title", u"http://x/story", u"<p>FEEDTEXT</p>");
  c.baseUrl = u"http://x/story";
  c.reader.state = ReaderPagePart::State::kShown;
  c.reader.title = u"Reader <title>";
  c.reader.byline = u"Ann & Bo";
  c.reader.siteName = u"Site";
  c.reader.address = u"https://x/story/full";
  c.reader.language = u"en\" onload=\"x";
  c.reader.direction = u"rtl\" onload=\"x";
  c.reader.content = u"<p>READERTEXT \u20AC</p>";
  std::string page = ArticlePageBytes(c, kColors);
  EXPECT_EQ(page.find("FEEDTEXT"), std::string::npos) << page;
  EXPECT_NE(page.find("<div class=\"reader\" lang=\"en&quot; onload=&quot;x\">\r\r\n<p>READERTEXT &#8364;</p>\r\r\n</div>"),
            std::string::npos)
      << page;
  EXPECT_NE(page.find("color=\"#FFFFFF\">Reader &lt;title&gt;</font>"), std::string::npos);
  EXPECT_NE(page.find("<i>Ann &amp; Bo \xB7 Site</i>"), std::string::npos);
  EXPECT_NE(page.find("<base href=\"https://x/story/full\">"), std::string::npos);
  EXPECT_NE(page.find("<a href=\"http://FEED_TEXT/\">"), std::string::npos);
  EXPECT_NE(page.find("<a href=\"http://RELOAD_READER/\">Reload</a>"), std::string::npos);
  EXPECT_EQ(page.find("http://READER_VIEW/"), std::string::npos);
  c.reader.direction = u"rtl";
  EXPECT_NE(ArticlePageBytes(c, kColors).find("<div class=\"reader\" dir=\"rtl\""), std::string::npos);

  for (const auto state : {ReaderPagePart::State::kWorking, ReaderPagePart::State::kProblem}) {
    c.reader.state = state;
    c.reader.line = u"Could <not> be read.";
    page = ArticlePageBytes(c, kColors);
    EXPECT_NE(page.find("<p>FEEDTEXT</p>"), std::string::npos) << "the feed's text stays";
    EXPECT_EQ(page.find("READERTEXT"), std::string::npos);
    EXPECT_NE(page.find("<b>Could &lt;not&gt; be read.</b>"), std::string::npos);
    EXPECT_NE(page.find("<base href=\"http://x/story\">"), std::string::npos);
    EXPECT_NE(page.find(state == ReaderPagePart::State::kWorking ? "http://FEED_TEXT/" : "http://READER_VIEW/"),
              std::string::npos);
  }
  EXPECT_EQ(PageLinkOf(QStringLiteral("http://reader_view/")), PageLink::kReaderView);
  EXPECT_EQ(PageLinkOf(QStringLiteral("http://READER_VIEW")), PageLink::kNone);
}

// The header shows the title as text: an untitled article says "<Untitled>"
// as the list does, and no markup in a title is ever rendered.
TEST(ArticlePageTest, TheHeaderIsText) {
  const struct {
    std::u16string title;
    std::string cell;
  } cases[] = {
      {u"<Untitled>", "&lt;Untitled&gt;"},
      {u"<b>bold?</b>", "bold?"},
      {u"&lt;img src=x onerror=alert(1)&gt; &quot;q&quot;", "&lt;img src=x onerror=alert(1)&gt; &quot;q&quot;"},
      {u"a <img src=\"http://tracker/p.png\"> b", "a  b"},
      {u"x < y & z", "x &lt; y &amp; z"},
  };
  for (const auto& c : cases) {
    const std::string page = Page(1, c.title, u"http://l/", u"");
    EXPECT_NE(page.find("color=\"#FFFFFF\">" + c.cell + "</font>"), std::string::npos) << c.cell << "\n" << page;
  }
}

// Without a link there is nothing to open; delete stays.
TEST(ArticlePageTest, AnArticleWithoutALinkHasNoOpenLinks) {
  for (const std::u16string link : {u"", u"   "}) {
    const std::string page = ArticlePageBytes(PageContentOf([&] {
                                                CFeed a;
                                                a.m_title = u"t";
                                                a.m_link = link;
                                                return a;
                                              }(), u""),
                                              kColors);
    EXPECT_EQ(page.find("Open this article"), std::string::npos);
    EXPECT_NE(page.find("Delete this article"), std::string::npos);
    EXPECT_EQ(page.find("<base"), std::string::npos);
  }
}

// Relative addresses in the text resolve against the article's link, else
// the feed's; the page's own links are absolute.
TEST(ArticlePageTest, TheBaseIsTheArticlesLinkElseTheFeedsAddress) {
  const struct {
    std::u16string link, feed, base, open;
  } cases[] = {
      {u"https://e.org/posts/1.html", u"https://e.org/feed.xml", u"https://e.org/posts/1.html",
       u"https://e.org/posts/1.html"},
      {u"posts/2.html", u"https://e.org/blog/feed.xml", u"https://e.org/blog/posts/2.html",
       u"https://e.org/blog/posts/2.html"},
      {u"", u"https://e.org/blog/feed.xml", u"https://e.org/blog/feed.xml", u""},
      {u"urn:x", u"http://e.org/feed?a=1&b=\"2\"", u"http://e.org/feed?a=1&b=\"2\"", u"urn:x"},
      {u"", u"", u"", u""},
  };
  for (const auto& c : cases) {
    CFeed a;
    a.m_link = c.link;
    const ArticlePageContent content = PageContentOf(a, c.feed);
    EXPECT_EQ(content.baseUrl, c.base) << Utf16ToUtf8(c.link);
    EXPECT_EQ(content.link, c.open) << Utf16ToUtf8(c.link);
  }
  ArticlePageContent content = Content(1, u"t", u"https://e.org/1", u"<img src=\"p.png\">");
  content.baseUrl = u"http://e.org/feed?a=1&b=\"2\"";
  const std::string page = ArticlePageBytes(content, kColors);
  EXPECT_EQ(page.find(kPolicy + "<base href=\"http://e.org/feed?a=1&amp;b=&quot;2&quot;\">\r\r\n" + kStyle), 0u);
}

// A podcast's file, read from the article's own source text, is listed
// under the text with its type and size.
TEST(ArticlePageTest, EnclosuresUnderTheText) {
  CFeed a;
  a.m_title = u"Episode 3";
  a.m_link = u"https://e.org/3";
  a.m_description = u"<p>Notes</p>";
  a.m_sourceText = SharedText(std::u16string(
      u"<item><title>Episode 3</title><enclosure url=\"https://e.org/ep3.mp3?x=1&amp;y=2\" length=\"8727310\" "
      u"type=\"audio/mpeg\"/><media:content url=\"https://e.org/cover.jpg\"/></item>"));
  const std::string page = ArticlePageBytes(PageContentOf(a, u""), kColors);
  EXPECT_TRUE(page.ends_with(
      "<p>Notes</p>\r\r\n<hr width=\"100%\" size=\"1\">\r\r\n"
      "<p class=\"enclosure\"><font face=\"sans-serif\" size=\"2\"><a href=\"https://e.org/ep3.mp3?x=1&amp;y=2\" "
      "target=\"_blank\">ep3.mp3</a> (audio/mpeg, 8.3 MB)</font></p>\r\r\n"
      "<p class=\"enclosure\"><font face=\"sans-serif\" size=\"2\"><a href=\"https://e.org/cover.jpg\" "
      "target=\"_blank\">cover.jpg</a></font></p>\r\r\n"))
      << page;
  // An older article keeps the whole document: no enclosures from it.
  a.m_sourceText = SharedText(std::u16string(u"<rss><channel><item><enclosure url=\"x.mp3\"/></item></channel></rss>"));
  EXPECT_EQ(ArticlePageBytes(PageContentOf(a, u""), kColors).find("enclosure"), std::string::npos);
}

QPalette Palette(QColor base, QColor text, QColor link, QColor visited) {
  QPalette p;
  p.setColor(QPalette::Base, base);
  p.setColor(QPalette::Text, text);
  p.setColor(QPalette::Link, link);
  p.setColor(QPalette::LinkVisited, visited);
  p.setColor(QPalette::Highlight, QColor(49, 106, 197));
  p.setColor(QPalette::HighlightedText, Qt::white);
  return p;
}

TEST(ArticlePageTest, ContrastFollowsTheAccessibilityFormula) {
  EXPECT_DOUBLE_EQ(ContrastRatio(Qt::black, Qt::white), 21.0);
  EXPECT_DOUBLE_EQ(ContrastRatio(Qt::white, Qt::black), 21.0);
  EXPECT_DOUBLE_EQ(ContrastRatio(QColor(90, 90, 90), QColor(90, 90, 90)), 1.0);
  EXPECT_NEAR(ContrastRatio(QColor(0, 0, 255), Qt::white), 8.59, 0.01);
  EXPECT_NEAR(ContrastRatio(QColor(119, 119, 119), Qt::white), 4.48, 0.01);
}

TEST(ArticlePageTest, ColoursAreMadeReadableOnTheirBackground) {
  struct Case {
    QColor foreground;
    QColor background;
    bool unchanged;
  };
  const Case cases[] = {
      {QColor(0, 0, 255), QColor(0x23, 0x26, 0x27), false},     // the default link on a dark base
      {QColor(128, 0, 128), QColor(20, 20, 20), false},         // purple on near black
      {QColor(255, 0, 255), Qt::white, false},                  // the default visited link, light
      {QColor(255, 230, 0), QColor(250, 250, 250), false},      // yellow on white
      {QColor(0, 0, 255), Qt::white, true},                     // already readable
      {QColor(0x3d, 0xae, 0xe9), QColor(0x23, 0x26, 0x27), true},
      {QColor(40, 40, 40), QColor(40, 40, 40), false},          // invisible grey
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.foreground.name().toStdString() + " on " + c.background.name().toStdString());
    const QColor readable = ReadableOn(c.foreground, c.background);
    EXPECT_GE(ContrastRatio(readable, c.background), 4.5);
    if (c.unchanged) {
      EXPECT_EQ(readable, c.foreground);
    } else if (c.foreground.hslSaturation() > 0) {
      // Lighter or darker, but the same colour.
      EXPECT_NEAR(readable.toHsl().hslHueF(), c.foreground.toHsl().hslHueF(), 0.02);
    }
  }
}

TEST(ArticlePageTest, ADarkPaletteGivesADarkPageAndLeavesTheFeedsStyles) {
  const QPalette dark = Palette(QColor(0x23, 0x26, 0x27), QColor(0xef, 0xf0, 0xf1), QColor(0, 0, 255),
                                QColor(128, 0, 128));
  const ArticlePageColors colors = PageColorsFrom(dark);
  EXPECT_TRUE(colors.dark);
  EXPECT_EQ(colors.background, "232627");
  EXPECT_EQ(colors.text, "EFF0F1");
  EXPECT_EQ(colors.highlight, "316AC5");
  for (const std::string& link : {colors.link, colors.visitedLink}) {
    const QColor c(QString::fromStdString("#" + link));
    EXPECT_GE(ContrastRatio(c, QColor(0x23, 0x26, 0x27)), 4.5) << link;
  }
  const std::string page =
      ArticlePageBytes(Content(2147483648u, u"A &amp; B", u"http://x/?a=1&b=2", u"<p>one\ntwo</p>"), colors);
  const std::string head = "<meta name=\"color-scheme\" content=\"dark\">\r\r\n" + kStyle +
                           "<body bgcolor=\"#232627\" text=\"#EFF0F1\" link=\"#" + colors.link +
                           "\" vlink=\"#" + colors.visitedLink + "\">\r\r\n";
  EXPECT_EQ(page, kPolicy + head + kTemplate);
  // A feed's own colours stay as the feed wrote them.
  const std::string styled =
      ArticlePageBytes(Content(1, u"t", u"http://l/", u"<p style=\"color:#000;background:#fff\">x</p>"), colors);
  EXPECT_TRUE(styled.ends_with("</p>\r\r\n<p style=\"color:#000;background:#fff\">x</p>")) << styled;

  const ArticlePageColors light =
      PageColorsFrom(Palette(Qt::white, Qt::black, QColor(0, 0, 255), QColor(255, 0, 255)));
  EXPECT_FALSE(light.dark);
  EXPECT_EQ(light.background, "FFFFFF");
  EXPECT_EQ(light.link, "0000FF");
  const std::string lightPage = ArticlePageBytes(Content(1, u"t", u"http://l/", u""), light);
  EXPECT_EQ(lightPage.find("color-scheme"), std::string::npos);
  EXPECT_EQ(lightPage.rfind(kPolicy + kStyle + "<body bgcolor=\"#FFFFFF\" text=\"#000000\" link=\"#0000FF\"", 0), 0u);
}

TEST(ArticlePageTest, CharactersBecomeSingleBytesOrReferences) {
  struct Case {
    std::u16string text;
    std::string title;
    std::string body;
  };
  const Case cases[] = {
      {u"caf\u00e9", "caf\xE9", "caf\xE9"},
      {u"\u00ff", "\xFF", "\xFF"},
      {u"5 \u20ac", "5 &#8364;", "5 &#8364;"},
      {u"\u0100", "&#256;", "&#256;"},
      // The body is the HTML it is; the title is text, escaped.
      {u"&amp;lt;b&amp;gt;", "&amp;lt;b&amp;gt;", "&amp;lt;b&amp;gt;"},
      {u"&lt;i&gt;", "&lt;i&gt;", "&lt;i&gt;"},
      {u"smile \U0001F600", "smile &#128512;", "smile &#128512;"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.body));
    const std::string page = Page(1, c.text, u"http://l/", c.text);
    const std::string titleCell = "color=\"#FFFFFF\">" + c.title + "</font>";
    EXPECT_NE(page.find(titleCell), std::string::npos);
    EXPECT_EQ(page.substr(page.size() - c.body.size()), c.body);
  }
  // A link is written as its attribute needs, and with characters a byte
  // cannot hold as references.
  const std::string page = Page(7, u"t", u"http://l/\u20ac?x=&y=\"", u"");
  EXPECT_NE(page.find("<a href=\"http://l/&#8364;?x=&amp;y=&quot;\" target=\"7\">"), std::string::npos);
}

TEST(ArticlePageTest, ColoursAreRedGreenBlueInUpperCaseHex) {
  EXPECT_EQ(ColorToHex(QColor(49, 106, 197)), "316AC5");
  EXPECT_EQ(ColorToHex(QColor(0, 0, 0)), "000000");
  EXPECT_EQ(ColorToHex(QColor(255, 15, 1)), "FF0F01");
}

TEST(ArticlePageTest, DeleteLinkIsRecognisedInAnyCaseOnlyWithItsSlash) {
  struct Case {
    const char* url;
    bool isDelete;
  };
  const Case cases[] = {
      {"http://DELETE_ARTICLE/", true},  {"HTTP://delete_article/", true},
      {"http://Delete_Article/", true},  {"http://DELETE_ARTICLE", false},
      {"http://DELETE_ARTICLE/x", false}, {"https://DELETE_ARTICLE/", false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(IsDeleteArticleUrl(QString::fromLatin1(c.url)), c.isDelete) << c.url;
}

TEST(PrivateTempFolderTest, CreatedPrivateAndRefusedWhenNotOurs) {
  test::TempDir tmp;
  qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(tmp.path()));
  const QString folder = PrivateTempFolder();
  EXPECT_EQ(folder, QString::fromStdString(tmp.path()) + "/quillbend");
  struct stat st {};
  ASSERT_EQ(stat(folder.toLocal8Bit().constData(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  // A too-open folder of ours is closed again.
  chmod(folder.toLocal8Bit().constData(), 0777);
  EXPECT_EQ(PrivateTempFolder(), folder);
  ASSERT_EQ(stat(folder.toLocal8Bit().constData(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  // A link planted in its place is not followed.
  QDir(folder).removeRecursively();
  ASSERT_TRUE(QFile::link(QString::fromStdString(tmp.path()), folder));
  EXPECT_EQ(PrivateTempFolder(), QString());
  qunsetenv("XDG_RUNTIME_DIR");
}

TEST(ShellTest, OnlyWebAndMailLinksLeaveForTheBrowser) {
  test::FakeDesktop desktop;
  const std::vector<QUrl>& opened = desktop.opened;
  EXPECT_TRUE(OpenLinkExternally(desktop, QUrl("https://example.com/")));
  EXPECT_TRUE(OpenLinkExternally(desktop, QUrl("mailto:a@example.com")));
  EXPECT_FALSE(OpenLinkExternally(desktop, QUrl("file:///etc/passwd")));
  EXPECT_FALSE(OpenLinkExternally(desktop, QUrl("javascript:alert(1)")));
  EXPECT_EQ(opened.size(), 2u);
}

// The pane with a real browser page.
class FeedViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    f.model.SeedRandom(5);
    qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(tmp.path()));
    g = f.Group(0, u"G");
    s = f.Source(g->m_id, u"S");
    a = f.Article(s, u"alpha &amp; \u00e9");
    b = f.Article(s, u"bravo");
    c = f.Article(s, u"charlie");
    f.CreateViews(true);
    f.window.show();
    f.tree->SelectItem(f.tree->FindItem(s->m_id));
  }
  void TearDown() override { qunsetenv("XDG_RUNTIME_DIR"); }

  CArticleWebPage* Page() { return static_cast<CArticleWebPage*>(f.view->page()); }
  void SelectRow(int row) {
    f.list->selectionModel()->clearSelection();
    f.list->SelectRow(row);
  }

  test::TempDir tmp;
  test::FakeMainFrame f;
  CGroup* g;
  CFeedSource* s;
  CFeed *a, *b, *c;
};

TEST_F(FeedViewTest, SelectingAnArticleShowsItsPageWithoutScriptsOrAFile) {
  SelectRow(f.list->FindRow(a->m_id));
  EXPECT_EQ(f.view->CurrentFeedId(), a->m_id);
  const std::string bytes = f.view->PageBytes().toStdString();
  EXPECT_NE(bytes.find("alpha &amp; \xE9</font>"), std::string::npos);
  const QWebEngineSettings* settings = f.view->page()->settings();
  EXPECT_FALSE(settings->testAttribute(QWebEngineSettings::JavascriptEnabled));
  EXPECT_FALSE(settings->testAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls));

  // The browser really loads the page from memory (our own navigation is
  // let through); nothing is written to the disk for it.
  QSignalSpy loaded(f.view->page(), &QWebEnginePage::loadFinished);
  f.view->ShowArticle(f.view->CurrentFeedId());
  ASSERT_TRUE(loaded.wait(20000));
  EXPECT_TRUE(loaded.back().at(0).toBool());
  EXPECT_EQ(f.view->page()->url(), f.view->PageUrl(a->m_id));
  QString text;
  f.view->page()->toPlainText([&](const QString& t) { text = t; });
  ASSERT_TRUE(QTest::qWaitFor([&] { return !text.isEmpty(); }, 20000));
  EXPECT_TRUE(text.startsWith(QStringLiteral("alpha & \u00e9"))) << text.toStdString();
  EXPECT_TRUE(QDir(QString::fromStdString(tmp.path()) + "/quillbend")
                  .entryList(QDir::Files | QDir::NoDotAndDotDot).isEmpty());

  // A tree selection clears the pane to an empty page.
  f.tree->SelectItem(f.tree->FindItem(g->m_id));
  EXPECT_EQ(f.view->CurrentFeedId(), 0u);
  EXPECT_TRUE(f.view->PageBytes().isEmpty());
}

TEST_F(FeedViewTest, DeleteLinkDeletesTheShownArticleAndIsCancelled) {
  SelectRow(f.list->FindRow(b->m_id));
  const ObjectId bId = b->m_id;
  EXPECT_FALSE(Page()->HandleNavigation(QUrl("HTTP://delete_article/"), true));
  EXPECT_EQ(f.model.GetFeed(bId), nullptr);
  EXPECT_EQ(f.list->FindRow(bId), -1);
  // The next article takes its place and is shown.
  ASSERT_EQ(f.list->SelectedArticles(), IdList{c->m_id});
  EXPECT_EQ(f.view->CurrentFeedId(), c->m_id);
  EXPECT_EQ(f.tree->FindItem(s->m_id)->text(0), QStringLiteral("S (2 / 2)"));
}

TEST_F(FeedViewTest, DeleteLinkKeepsAnotherSelectedRow) {
  SelectRow(f.list->FindRow(a->m_id));
  f.list->selectionModel()->select(f.list->model()->index(f.list->FindRow(c->m_id), 0),
                                   QItemSelectionModel::Select | QItemSelectionModel::Rows);
  f.view->ShowArticle(a->m_id);
  const ObjectId aId = a->m_id;
  f.view->DeleteCurrentArticle();
  EXPECT_EQ(f.model.GetFeed(aId), nullptr);
  EXPECT_EQ(f.list->SelectedArticles(), IdList{c->m_id});
  EXPECT_EQ(f.view->CurrentFeedId(), c->m_id);
}

TEST_F(FeedViewTest, OtherNavigations) {
  SelectRow(0);
  // Without the final slash it is an ordinary web link: the pane leaves the article.
  EXPECT_TRUE(Page()->HandleNavigation(QUrl("http://DELETE_ARTICLE"), true));
  EXPECT_EQ(f.view->CurrentFeedId(), 0u);
  EXPECT_EQ(f.list->model()->rowCount(), 3);
  EXPECT_TRUE(f.view->page()->settings()->testAttribute(QWebEngineSettings::JavascriptEnabled));

  SelectRow(1);
  const ObjectId shown = f.view->CurrentFeedId();
  EXPECT_TRUE(Page()->HandleNavigation(QUrl("https://example.com/"), true));
  EXPECT_EQ(f.view->CurrentFeedId(), shown);
  // A feed's link to a local file does not open it in the pane.
  EXPECT_FALSE(Page()->HandleNavigation(QUrl("file:///etc/passwd"), true));
  EXPECT_TRUE(Page()->HandleNavigation(f.view->PageUrl(shown), true));
  // Nor the page of another pane.
  CFeedView other(f.model, f.Desktop(), nullptr);
  EXPECT_FALSE(Page()->HandleNavigation(other.PageUrl(shown), true));
}

TEST_F(FeedViewTest, ANewColourSchemeRepaintsTheShownArticle) {
  SelectRow(f.list->FindRow(a->m_id));
  QSignalSpy loaded(f.view->page(), &QWebEnginePage::loadFinished);
  ASSERT_TRUE(loaded.wait(20000));
  EXPECT_EQ(f.view->PageBytes().toStdString().find("color-scheme"), std::string::npos);
  f.view->setPalette(Palette(QColor(20, 20, 24), QColor(230, 230, 230), QColor(0, 0, 255), QColor(128, 0, 128)));
  EXPECT_EQ(f.view->page()->backgroundColor(), QColor(20, 20, 24));
  const std::string bytes = f.view->PageBytes().toStdString();
  EXPECT_EQ(bytes.rfind(kPolicy + "<meta name=\"color-scheme\" content=\"dark\">\r\r\n", 0), 0u);
  EXPECT_NE(bytes.find(kStyle + "<body bgcolor=\"#141418\""), std::string::npos);
  EXPECT_NE(bytes.find("alpha &amp; \xE9</font>"), std::string::npos);
  EXPECT_EQ(f.view->CurrentFeedId(), a->m_id);
}

TEST_F(FeedViewTest, DeleteKeyAndFocus) {
  SelectRow(f.list->FindRow(a->m_id));
  const ObjectId aId = a->m_id;
  QTest::keyClick(f.view, Qt::Key_Delete);
  EXPECT_EQ(f.model.GetFeed(aId), nullptr);
  f.newArticles = true;
  QFocusEvent in(QEvent::FocusIn, Qt::MouseFocusReason);
  QCoreApplication::sendEvent(f.view, &in);
  EXPECT_FALSE(f.newArticles);
}

// A click on the node the list already shows changes nothing, also after a
// drag that ended over nothing left the tree without a selection.
TEST_F(FeedViewTest, ClickOnTheShownNodeChangesNothing) {
  SelectRow(f.list->FindRow(b->m_id));
  ASSERT_EQ(f.view->CurrentFeedId(), b->m_id);
  QSignalSpy refreshed(f.list, &CFeedListView::refreshed);
  QTreeWidgetItem* item = f.tree->FindItem(s->m_id);
  QTest::mouseClick(f.tree->viewport(), Qt::LeftButton, {}, f.tree->visualItemRect(item).center());
  f.tree->BeginDrag(item);
  f.tree->DragOver(item);  // a source is no drop target: the tree has no selection
  EXPECT_FALSE(f.tree->Drop(item));
  ASSERT_EQ(f.tree->SelectedNode(), std::nullopt);
  QTest::mouseClick(f.tree->viewport(), Qt::LeftButton, {}, f.tree->visualItemRect(item).center());
  EXPECT_EQ(f.tree->SelectedNode(), std::optional<ObjectId>(s->m_id));
  EXPECT_EQ(refreshed.count(), 0);
  EXPECT_EQ(f.list->SelectedArticles(), IdList{b->m_id});
  EXPECT_EQ(f.view->CurrentFeedId(), b->m_id);
}

// Whatever takes the list's selection away, the page stops showing the
// article it showed.
TEST_F(FeedViewTest, WithoutASelectedRowThePageShowsNoArticle) {
  SelectRow(f.list->FindRow(a->m_id));
  ASSERT_EQ(f.view->CurrentFeedId(), a->m_id);
  f.list->selectionModel()->clearSelection();
  EXPECT_EQ(f.view->CurrentFeedId(), 0u);
  EXPECT_TRUE(f.view->PageBytes().isEmpty());

  // A Control-click that deselects the only selected row does the same.
  SelectRow(f.list->FindRow(c->m_id));
  ASSERT_EQ(f.view->CurrentFeedId(), c->m_id);
  const QRect rect = f.list->visualRect(f.list->model()->index(f.list->FindRow(c->m_id), 0));
  QTest::mouseClick(f.list->viewport(), Qt::LeftButton, Qt::ControlModifier, rect.center());
  ASSERT_TRUE(f.list->SelectedArticles().empty());
  EXPECT_EQ(f.view->CurrentFeedId(), 0u);
}

}  // namespace
}  // namespace qb
