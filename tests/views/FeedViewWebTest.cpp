// The article pane against a real browser page and a loopback web server:
// what the page may load, the way back from a web page, and links that
// leave for the user's browser.
#include <QBuffer>
#include <QHostInfo>
#include <QImage>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>
#include <QWebEngineHistory>
#include <QWebEngineScript>
#include <gtest/gtest.h>

#include "app/RSSReaderApp.h"
#include "tests/support/FakeMainFrame.h"
#include "tests/support/HttpServer.h"
#include "tests/support/TempDir.h"
#include "views/ArticlePage.h"
#include "views/FeedView.h"

namespace qb {
namespace {

using test::HttpResponse;

std::string PngBytes(int width, int height) {
  QImage image(width, height, QImage::Format_RGB32);
  image.fill(Qt::red);
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "PNG");
  return bytes.toStdString();
}

TEST(ArticlePageRequestTest, OnlyWebAddressesInlineContentAndThePageItselfAndTheLocalNetworkOnlyWhenAllowed) {
  struct Case {
    const char* url;
    bool allowed;       // from a feed of the internet
    bool allowedLocal;  // from a feed of this machine or its network
  };
  const Case cases[] = {
      {"http://example.com/a.png", true, true},
      {"https://example.com/a.png", true, true},
      {"HTTPS://example.com/a.png", true, true},
      {"http://8.8.8.8/a.png", true, true},
      {"http://172.32.0.1/", true, true},
      {"http://[2001:db8::1]/", true, true},
      {"http://localhost.example.com/", true, true},
      {"data:image/png;base64,iVBORw0KGgo=", true, true},
      {"blob:https://example.com/0b1c", true, true},
      {"quillbend-article:7/12", true, true},
      {"quillbend-article:8/12", false, false},
      {"quillbend-article://7/12", false, false},
      {"http://127.0.0.1:8080/admin", false, true},
      {"http://127.4.5.6/", false, true},
      {"http://localhost/", false, true},
      {"http://LOCALHOST./", false, true},
      {"http://printer.localhost/", false, true},
      {"http://10.1.2.3/", false, true},
      {"http://172.16.0.1/", false, true},
      {"http://172.31.255.255/", false, true},
      {"https://192.168.1.1/reboot", false, true},
      {"http://169.254.169.254/latest/meta-data", false, true},
      {"http://0.0.0.0:631/", false, true},
      {"http://[::1]/", false, true},
      {"http://[::]/", false, true},
      {"http://[fd12:3456::1]/", false, true},
      {"http://[fe80::1]/", false, true},
      {"http://[::ffff:192.168.0.1]/", false, true},
      {"file:///etc/passwd", false, false},
      {"file://host/x.html", false, false},
      {"ftp://example.com/a.png", false, false},
      {"qrc:/icons/root.png", false, false},
      {"javascript:alert(1)", false, false},
      {"chrome://settings", false, false},
      {"about:blank", false, false},
  };
  for (const Case& c : cases) {
    const QUrl url(QString::fromLatin1(c.url));
    EXPECT_EQ(IsAllowedPageRequest(url, 7, false), c.allowed) << c.url;
    EXPECT_EQ(IsAllowedPageRequest(url, 7, true), c.allowedLocal) << c.url;
  }
  EXPECT_TRUE(IsLocalNetworkHost(QHostInfo::localHostName()));
}

class FeedViewWebTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitResources();  // so that a qrc: address would name a real picture
    qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(tmp.path()));
    s = f.Source(f.Group(0, u"G")->m_id, u"S");
    // The feed comes from the test's own server, so the page may load from
    // it as well.
    s->m_url = server.Url16("/feed.xml");
    article = f.Article(s, u"pictures");
    f.CreateViews(true);
    f.window.show();
    f.tree->SelectItem(f.tree->FindItem(s->m_id));
  }
  void TearDown() override { qunsetenv("XDG_RUNTIME_DIR"); }

  QWebEnginePage* Page() { return f.view->page(); }

  // Shows the article and waits until the browser has loaded its page.
  void ShowArticle() {
    QSignalSpy loaded(Page(), &QWebEnginePage::loadFinished);
    f.list->SelectRow(f.list->FindRow(article->m_id));
    ASSERT_EQ(f.view->CurrentFeedId(), article->m_id);
    ASSERT_TRUE(loaded.wait(20000));
    ASSERT_EQ(Page()->url(), f.view->PageUrl(article->m_id));
  }

  // Runs a script beside the page's own (which are off on the article page)
  // and returns its value.
  QVariant Evaluate(const QString& script) {
    QVariant result;
    bool done = false;
    Page()->runJavaScript(script, QWebEngineScript::ApplicationWorld, [&](const QVariant& value) {
      result = value;
      done = true;
    });
    EXPECT_TRUE(QTest::qWaitFor([&] { return done; }, 20000)) << script.toStdString();
    return result;
  }

  // Follows a link of the shown page as a click would, and waits for the
  // page it leads to.
  void FollowLink(int index, const QUrl& expected) {
    QSignalSpy loaded(Page(), &QWebEnginePage::loadFinished);
    Evaluate(QStringLiteral("document.links[%1].click()").arg(index));
    ASSERT_TRUE(QTest::qWaitFor([&] { return Page()->url() == expected && !loaded.isEmpty(); }, 20000))
        << Page()->url().toString().toStdString();
  }

  bool HasRequest(const std::string& path) const {
    for (const test::HttpRequest& r : server.Requests())
      if (r.path == path) return true;
    return false;
  }

  test::TempDir tmp;
  test::HttpServer server;
  test::FakeMainFrame f;
  CFeedSource* s = nullptr;
  CFeed* article = nullptr;
};

// A feed's article tries a picture on the web, a local file, one of the
// program's own resources and two scripts: only the web picture arrives.
TEST_F(FeedViewWebTest, PicturesFromTheWebLoadButNotFilesResourcesOrScripts) {
  server.Set("/pic.png", HttpResponse::Ok(PngBytes(3, 2), "image/png"));
  server.Set("/run.js", HttpResponse::Ok("document.title = 'remote script ran';", "text/javascript"));
  const std::string local = tmp.File("local.png");
  test::WriteFile(local, PngBytes(5, 5));
  article->m_description =
      u"<img id=\"remote\" src=\"" + server.Url16("/pic.png") + u"\">"
      u"<img id=\"local\" src=\"" + QUrl::fromLocalFile(QString::fromStdString(local)).toString().toStdU16String() +
      u"\"><img id=\"resource\" src=\"qrc:/icons/root.png\">"
      u"<script>document.title = 'inline script ran';</script>"
      u"<script src=\"" + server.Url16("/run.js") + u"\"></script>"
      u"<object id=\"plugin\" type=\"application/x-shockwave-flash\" data=\"" + server.Url16("/movie.swf") +
      u"\"></object>";
  ShowArticle();

  EXPECT_EQ(Evaluate(QStringLiteral("document.getElementById('remote').naturalWidth")).toInt(), 3);
  EXPECT_EQ(Evaluate(QStringLiteral("document.getElementById('local').naturalWidth")).toInt(), 0);
  EXPECT_EQ(Evaluate(QStringLiteral("document.getElementById('resource').naturalWidth")).toInt(), 0);
  EXPECT_EQ(Evaluate(QStringLiteral("document.title")).toString(), QString());
  EXPECT_EQ(Page()->title().contains(QStringLiteral("ran")), false);
  EXPECT_TRUE(HasRequest("/pic.png"));
  EXPECT_FALSE(HasRequest("/run.js"));
  EXPECT_FALSE(HasRequest("/movie.swf"));
}

// A feed from the internet cannot make the page reach this machine: not by
// a picture, a style's url(), a frame, a link or a form. The same article
// from a feed of this machine loads its picture.
TEST_F(FeedViewWebTest, AFeedFromTheInternetCannotReachThisMachine) {
  server.Set("/pic.png", HttpResponse::Ok(PngBytes(3, 2), "image/png"));
  for (const char* path : {"/bg.png", "/frame.html", "/link.html", "/form"})
    server.Set(path, HttpResponse::Ok("<p>reached</p>", "text/html"));
  s->m_url = u"https://example.com/feed.xml";
  article->m_link.clear();
  article->m_description =
      u"<img id=\"pic\" src=\"" + server.Url16("/pic.png") + u"\">"
      u"<div style=\"width:9px;height:9px;background:url(" + server.Url16("/bg.png") + u")\"></div>"
      u"<iframe src=\"" + server.Url16("/frame.html") + u"\"></iframe>"
      u"<a id=\"link\" href=\"" + server.Url16("/link.html") + u"\">link</a>"
      u"<form method=\"post\" action=\"" + server.Url16("/form") + u"\"><button id=\"send\">Send</button></form>";
  ShowArticle();
  QSignalSpy refused(static_cast<CArticleWebPage*>(Page()), &CArticleWebPage::navigationRefused);
  Evaluate(QStringLiteral("document.getElementById('link').click()"));
  Evaluate(QStringLiteral("document.getElementById('send').click()"));
  ASSERT_TRUE(QTest::qWaitFor([&] { return refused.count() >= 2; }, 20000));
  EXPECT_EQ(refused.at(0).at(0).toUrl(), QUrl(QString::fromStdString(server.Url("/link.html"))));
  EXPECT_EQ(refused.at(1).at(0).toUrl(), QUrl(QString::fromStdString(server.Url("/form"))));
  EXPECT_EQ(Evaluate(QStringLiteral("document.getElementById('pic').naturalWidth")).toInt(), 0);
  EXPECT_TRUE(f.view->ShowsArticlePage());
  EXPECT_EQ(f.view->CurrentFeedId(), article->m_id);
  EXPECT_TRUE(server.Requests().empty()) << server.Requests().front().path;

  s->m_url = server.Url16("/feed.xml");
  QSignalSpy loaded(Page(), &QWebEnginePage::loadFinished);
  f.view->ShowArticle(article->m_id);
  ASSERT_TRUE(loaded.wait(20000));
  EXPECT_EQ(Evaluate(QStringLiteral("document.getElementById('pic').naturalWidth")).toInt(), 3);
  EXPECT_TRUE(HasRequest("/pic.png"));
  EXPECT_TRUE(HasRequest("/bg.png"));
}

// An article's relative pictures come from its site: against its link,
// else against its feed's address. The page's own links work as ever.
TEST_F(FeedViewWebTest, RelativePicturesComeFromTheArticlesSite) {
  server.Set("/posts/pic.png", HttpResponse::Ok(PngBytes(4, 3), "image/png"));
  server.Set("/img/feed-pic.png", HttpResponse::Ok(PngBytes(6, 2), "image/png"));
  server.Set("/posts/1.html", HttpResponse::Ok("<title>Post</title>", "text/html"));
  s->m_url = server.Url16("/feeds/feed.xml");
  article->m_link = server.Url16("/posts/1.html");
  article->m_description = u"<img id=\"pic\" src=\"pic.png\">";
  ShowArticle();
  EXPECT_EQ(Evaluate(QStringLiteral("document.getElementById('pic').naturalWidth")).toInt(), 4);
  EXPECT_TRUE(HasRequest("/posts/pic.png"));
  // "Open this article (this window)" still leads to the article's page.
  FollowLink(0, QUrl(QString::fromStdString(server.Url("/posts/1.html"))));
  EXPECT_TRUE(f.view->CanGoBack());

  // Without a link: against the feed's address; the delete link still
  // deletes, and nothing offers to open what is not there.
  article->m_link.clear();
  article->m_description = u"<img id=\"pic\" src=\"../img/feed-pic.png\">";
  QSignalSpy loaded(Page(), &QWebEnginePage::loadFinished);
  f.view->ShowArticle(article->m_id);
  ASSERT_TRUE(loaded.wait(20000));
  EXPECT_EQ(Evaluate(QStringLiteral("document.getElementById('pic').naturalWidth")).toInt(), 6);
  EXPECT_TRUE(HasRequest("/img/feed-pic.png"));
  EXPECT_EQ(Evaluate(QStringLiteral("document.links.length")).toInt(), 1);
  const ObjectId id = article->m_id;
  QSignalSpy deletes(f.view, &CFeedView::deleteRequested);
  Evaluate(QStringLiteral("document.links[0].click()"));
  ASSERT_TRUE(deletes.count() > 0 || deletes.wait(20000));
  EXPECT_EQ(deletes.front().front().value<ObjectId>(), id);
}

// "Open this article (this window)" leads to the web; Back leads through
// the pages of the visit and then to the article, by key, by the bar's
// button and by the context menu.
TEST_F(FeedViewWebTest, BackReturnsFromTheWebPageToTheArticle) {
  server.Set("/page.html", HttpResponse::Ok("<title>Page</title><a href=\"/next.html\">next</a>", "text/html"));
  server.Set("/next.html", HttpResponse::Ok("<title>Next</title>", "text/html"));
  article->m_link = server.Url16("/page.html");
  ShowArticle();
  EXPECT_FALSE(f.view->CanGoBack());
  EXPECT_FALSE(f.view->BackAction()->isEnabled());
  EXPECT_FALSE(f.view->BackBar()->isVisible());
  const ObjectId id = article->m_id;
  const QUrl page(QString::fromStdString(server.Url("/page.html")));
  const QUrl next(QString::fromStdString(server.Url("/next.html")));
  const QUrl file = f.view->PageUrl(id);

  FollowLink(0, page);  // "Open this article (this window)"
  EXPECT_EQ(f.view->CurrentFeedId(), 0u);
  EXPECT_TRUE(f.view->CanGoBack());
  EXPECT_TRUE(f.view->BackAction()->isEnabled());
  ASSERT_TRUE(f.view->BackBar()->isVisible());
  // The bar sits over the page, which is laid out below it.
  EXPECT_EQ(f.view->BackBar()->geometry().top(), 0);
  EXPECT_EQ(f.view->contentsMargins().top(), f.view->BackBar()->height());

  // On to another page of the site. Loaded by the test, not by a link: a
  // link clicked by a script leaves an entry the browser skips on the way
  // back, which a user's click does not.
  QSignalSpy loaded(Page(), &QWebEnginePage::loadFinished);
  Page()->load(next);
  ASSERT_TRUE(loaded.wait(20000));
  ASSERT_EQ(Page()->url(), next);
  QTest::keyClick(f.view, Qt::Key_Left, Qt::AltModifier);
  ASSERT_TRUE(QTest::qWaitFor([&] { return Page()->url() == page; }, 20000));
  EXPECT_TRUE(f.view->CanGoBack());

  QTest::keyClick(f.view, Qt::Key_Left, Qt::AltModifier);
  ASSERT_TRUE(QTest::qWaitFor([&] { return Page()->url() == file; }, 20000));
  EXPECT_EQ(f.view->CurrentFeedId(), id);
  EXPECT_FALSE(f.view->CanGoBack());
  EXPECT_FALSE(f.view->BackBar()->isVisible());
  EXPECT_EQ(f.view->contentsMargins().top(), 0);
  EXPECT_NE(f.view->PageBytes().indexOf("pictures"), -1);

  // The bar's button.
  FollowLink(0, page);
  auto* button = f.view->BackBar()->findChild<QToolButton*>();
  ASSERT_NE(button, nullptr);
  QTest::mouseClick(button, Qt::LeftButton);
  ASSERT_TRUE(QTest::qWaitFor([&] { return Page()->url() == file; }, 20000));
  EXPECT_EQ(f.view->CurrentFeedId(), id);

  // The context menu: Back is there on the article too, but disabled.
  auto openMenu = [&] { f.view->ShowContextMenu(f.view->mapToGlobal(QPoint(20, 20))); };
  openMenu();
  ASSERT_EQ(f.menus.size(), 1u);
  ASSERT_FALSE(f.menus.back().texts.empty());
  EXPECT_EQ(f.menus.back().texts.front(), QStringLiteral("&Back"));
  EXPECT_FALSE(f.menus.back().enabled.front());
  FollowLink(0, page);
  f.chooseInMenu = QStringLiteral("&Back");
  openMenu();
  EXPECT_TRUE(f.menus.back().enabled.front());
  ASSERT_TRUE(QTest::qWaitFor([&] { return Page()->url() == file; }, 20000));
  EXPECT_EQ(f.view->CurrentFeedId(), id);
}

// A feed's text may not take the pane anywhere by itself: a refresh to
// another site and one to the delete link are both refused; the article
// stays shown and nothing is deleted.
TEST_F(FeedViewWebTest, ARefreshInAFeedsTextNeitherLeavesNorDeletes) {
  server.Set("/elsewhere.html", HttpResponse::Ok("<p>elsewhere</p>", "text/html"));
  QSignalSpy deletes(f.view, &CFeedView::deleteRequested);
  for (const std::u16string& target : {server.Url16("/elsewhere.html"), std::u16string(u"http://DELETE_ARTICLE/")}) {
    SCOPED_TRACE(QString::fromStdU16String(target).toStdString());
    article->m_description = u"<meta http-equiv=\"refresh\" content=\"0;url=" + target + u"\"><p>text</p>";
    QSignalSpy refused(static_cast<CArticleWebPage*>(Page()), &CArticleWebPage::navigationRefused);
    f.view->ShowArticle(article->m_id);
    // The refresh is asked for, and refused.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !refused.isEmpty(); }, 20000));
    EXPECT_EQ(refused.front().front().toUrl(), QUrl(QString::fromStdU16String(target)));
    EXPECT_TRUE(f.view->ShowsArticlePage());
    EXPECT_EQ(f.view->CurrentFeedId(), article->m_id);
  }
  EXPECT_FALSE(HasRequest("/elsewhere.html"));
  EXPECT_EQ(deletes.count(), 0);
}

// A followed link that the server redirects (http to https, say) still
// has its way back; Delete on the web page is the page's, not the article's.
TEST_F(FeedViewWebTest, ARedirectedLinkKeepsBackAndDeleteStaysWithThePage) {
  server.Set("/final.html", HttpResponse::Ok("<p>final</p>", "text/html"));
  server.Set("/go", HttpResponse::Redirect(server.Url("/final.html"), 301));
  article->m_link = server.Url16("/go");
  ShowArticle();
  FollowLink(0, QUrl(QString::fromStdString(server.Url("/final.html"))));
  EXPECT_TRUE(f.view->CanGoBack());

  QSignalSpy deletes(f.view, &CFeedView::deleteRequested);
  QWidget* render = f.view->focusProxy();
  ASSERT_NE(render, nullptr);
  QTest::keyClick(render, Qt::Key_Delete);
  QTest::keyClick(f.view, Qt::Key_Delete);
  EXPECT_EQ(deletes.count(), 0);
  ASSERT_NE(f.model.GetFeed(article->m_id), nullptr);

  f.view->GoBack();
  ASSERT_TRUE(QTest::qWaitFor([&] { return f.view->ShowsArticlePage(); }, 20000));
  EXPECT_EQ(f.view->CurrentFeedId(), article->m_id);
}

TEST_F(FeedViewWebTest, NoBackToAnArticleThatHasGone) {
  server.Set("/page.html", HttpResponse::Ok("<title>Page</title>", "text/html"));
  article->m_link = server.Url16("/page.html");
  ShowArticle();
  FollowLink(0, QUrl(QString::fromStdString(server.Url("/page.html"))));
  ASSERT_TRUE(f.view->CanGoBack());
  f.commands->DeleteArticles({article->m_id});
  EXPECT_FALSE(f.view->CanGoBack());
  EXPECT_FALSE(f.view->BackBar()->isVisible());
  // Back would start loading the article page.
  QSignalSpy started(Page(), &QWebEnginePage::loadStarted);
  QTest::keyClick(f.view, Qt::Key_Left, Qt::AltModifier);
  EXPECT_FALSE(started.wait(1000));
  EXPECT_EQ(Page()->url(), QUrl(QString::fromStdString(server.Url("/page.html"))));
}

// A click on a link with a target (the page's "new window" link, a feed's
// target="_blank") asks the user's browser; when none can be started the
// user is told, with the address to copy. A real click: a script's click
// on such a link is a pop-up the page may not open.
TEST_F(FeedViewWebTest, LinksWithATargetGoToTheBrowserOrSaySoWhenThereIsNone) {
  article->m_link = u"https://example.com/story?id=7";
  article->m_description = u"<p><a id=\"blank\" href=\"https://example.org/more\" target=\"_blank\">more</a></p>";
  f.window.resize(900, 700);
  f.view->resize(800, 500);
  ShowArticle();
  f.shellSucceeds = false;
  QWidget* render = f.view->focusProxy();
  ASSERT_NE(render, nullptr);
  struct Case {
    QString selector;
    QString opened;
  };
  const Case cases[] = {
      {QStringLiteral("a[target]:not([target=_blank])"), QStringLiteral("https://example.com/story?id=7")},
      {QStringLiteral("#blank"), QStringLiteral("https://example.org/more")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.selector.toStdString());
    const size_t before = f.messages.size();
    const QVariant at = Evaluate(QStringLiteral(
        "(function(){var r=document.querySelector('%1').getBoundingClientRect();"
        "return [Math.round(r.left+r.width/2), Math.round(r.top+r.height/2)];})()").arg(c.selector));
    const QVariantList xy = at.toList();
    ASSERT_EQ(xy.size(), 2);
    const QPoint point(xy[0].toInt(), xy[1].toInt());
    QTest::mouseMove(render, point);
    QTest::mouseClick(render, Qt::LeftButton, Qt::NoModifier, point);
    ASSERT_TRUE(QTest::qWaitFor([&] { return f.messages.size() > before; }, 20000));
    ASSERT_FALSE(f.opened.empty());
    EXPECT_EQ(f.opened.back(), QUrl(c.opened));
    EXPECT_EQ(f.messages.back().icon, MsgIcon::Warning);
    EXPECT_EQ(f.messages.back().text, QStringLiteral("No web browser could be started to open %1.").arg(c.opened));
    EXPECT_EQ(f.view->CurrentFeedId(), article->m_id) << "the pane keeps the article";
  }
}

// "Open this article (new window)" goes to the user's browser; when none
// can be started the user is told, and a refused address stays silent.
TEST_F(FeedViewWebTest, ABrowserThatCannotBeStartedIsReported) {
  const QUrl link(QStringLiteral("https://example.com/story?id=7"));
  f.shellSucceeds = false;
  f.view->OpenInBrowser(link);
  ASSERT_EQ(f.opened.size(), 1u);
  EXPECT_EQ(f.opened.back(), link);
  EXPECT_TRUE(f.messages.empty());  // not from inside the engine's callback
  ASSERT_TRUE(QTest::qWaitFor([&] { return !f.messages.empty(); }, 5000));
  EXPECT_EQ(f.messages.back().icon, MsgIcon::Warning);
  EXPECT_EQ(f.messages.back().text,
            QStringLiteral("No web browser could be started to open https://example.com/story?id=7."));

  f.view->OpenInBrowser(QUrl(QStringLiteral("file:///etc/passwd")));
  f.shellSucceeds = true;
  f.view->OpenInBrowser(link);
  // A message would be posted: everything posted has run.
  QCoreApplication::sendPostedEvents(f.view, QEvent::MetaCall);
  EXPECT_EQ(f.opened.size(), 2u);
  EXPECT_EQ(f.messages.size(), 1u);
}

}  // namespace
}  // namespace qb
