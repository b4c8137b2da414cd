// The add-feed dialog finding the feed behind what the user typed: a feed's
// own address, a page announcing one or several feeds, an address without a
// scheme, text that is no address, and the duplicate test on the address
// finally chosen. Pages come from a loopback server.
#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>

#include "app/AddNewFeedDlg.h"
#include "app/Commands.h"
#include "app/PickFeedDlg.h"
#include "formats/Interpret.h"
#include "model/FeedsManager.h"
#include "model/ModelWriter.h"
#include "tests/app/AppHarness.h"
#include "tests/app/AppTestSupport.h"
#include "tests/support/HttpServer.h"
#include "views/SourceListView.h"
#include "views/ViewText.h"

namespace qb {
namespace {

using test::HttpResponse;
using test::UiTestScope;

const char kFeed[] = "<rss version=\"2.0\"><channel><title>Loop</title></channel></rss>";
const QString kDuplicate = QStringLiteral("A feed with that URL already exists. Choose another URL.");

std::string PageWithLinks(const std::string& links) {
  return "<!DOCTYPE html><html><head><title>Site</title>" + links +
         "</head><body><p>Hello</p></body></html>";
}

std::string FeedLink(const std::string& type, const std::string& href, const std::string& title) {
  return "<link rel=\"alternate\" type=\"" + type + "\" href=\"" + href + "\" title=\"" + title + "\">";
}

class AddFeedSearchTest : public ::testing::Test {
 protected:
  AddFeedSearchTest() {
    test::BypassProxyForLoopback();
    model.SeedRandom(3);
    group = model.AddGroup(0, u"G")->m_id;
    server.Set("/feed", HttpResponse::Ok(kFeed));
    server.Set("/atom", HttpResponse::Ok(
                            "<feed xmlns=\"http://www.w3.org/2005/Atom\"><title>A</title></feed>",
                            "application/atom+xml"));
  }

  QString Url(const std::string& path) const { return QString::fromStdString(server.Url(path)); }
  void Serve(const std::string& path, const std::string& html) {
    server.Set(path, HttpResponse::Ok(html, "text/html; charset=utf-8"));
  }

  // Types the text, presses OK and waits for the search to end. Whether
  // the dialog closed accepted.
  bool Submit(CAddNewFeedDlg& dlg, const QString& typed) {
    dlg.UrlEdit()->setText(typed);
    dlg.accept();
    EXPECT_TRUE(test::WaitUntil([&] { return !dlg.Searching(); }));
    return dlg.result() == QDialog::Accepted && !dlg.isVisible();
  }

  UiTestScope scope;
  test::HttpServer server;
  CFeedsManager model;
  ObjectId group = 0;
};

TEST_F(AddFeedSearchTest, AFeedOrAPageWithOneFeedIsSubscribedByTheFeedsAddress) {
  Serve("/page", PageWithLinks(FeedLink("application/rss+xml", "feed", "Main")));
  Serve("/atom-page", PageWithLinks("<link rel=\"stylesheet\" href=\"s.css\">" +
                                    FeedLink("application/atom+xml", "/atom", "Atom")));
  struct Case {
    std::string typed;
    std::string subscribed;
  };
  for (const Case& c : {Case{"/feed", "/feed"}, Case{"/page", "/feed"}, Case{"/atom-page", "/atom"}}) {
    SCOPED_TRACE(c.typed);
    CAddNewFeedDlg dlg(scope, model, group, test::NewSearch());
    dlg.show();
    EXPECT_TRUE(Submit(dlg, Url(c.typed)));
    EXPECT_EQ(dlg.m_strUrl, Url(c.subscribed));
  }
  EXPECT_TRUE(scope.messages.empty());
  EXPECT_EQ(scope.dialogs, 0) << "one feed needs no choice";
}

TEST_F(AddFeedSearchTest, AddressesDifferingInCaseOrATrailingSlashAreNotDuplicates) {
  server.Set("/Feed", HttpResponse::Ok(kFeed));
  server.Set("/feed/", HttpResponse::Ok(kFeed));
  model.AddSource(group, FromQString(Url("/feed")));
  for (const std::string path : {"/Feed", "/feed/"}) {
    SCOPED_TRACE(path);
    CAddNewFeedDlg dlg(scope, model, group, test::NewSearch());
    dlg.show();
    EXPECT_TRUE(Submit(dlg, Url(path)));
    EXPECT_EQ(dlg.m_strUrl, Url(path));
  }
  EXPECT_TRUE(scope.messages.empty());
}

TEST_F(AddFeedSearchTest, WhileLookingOkIsOffAndTheDialogSaysSo) {
  HttpResponse slow = HttpResponse::Ok(kFeed);
  slow.delay = std::chrono::milliseconds(400);
  server.Set("/slow", slow);
  CAddNewFeedDlg dlg(scope, model, group, test::NewSearch());
  dlg.show();
  dlg.UrlEdit()->setText(Url("/slow"));
  dlg.accept();
  EXPECT_TRUE(dlg.Searching());
  EXPECT_TRUE(dlg.isVisible());
  EXPECT_FALSE(dlg.OkButton()->isEnabled());
  EXPECT_TRUE(dlg.UrlEdit()->isReadOnly());
  EXPECT_EQ(dlg.BusyLabel()->text(), QStringLiteral("Looking for the feed..."));
  dlg.accept();  // a second OK starts nothing
  ASSERT_TRUE(test::WaitUntil([&] { return !dlg.Searching(); }));
  EXPECT_EQ(dlg.result(), QDialog::Accepted);
  EXPECT_EQ(dlg.m_strUrl, Url("/slow"));
  EXPECT_EQ(server.Requests().size(), 1u);
}

TEST_F(AddFeedSearchTest, CancelAbandonsTheSearch) {
  HttpResponse slow = HttpResponse::Ok(kFeed);
  slow.delay = std::chrono::milliseconds(500);
  server.Set("/slow", slow);
  CAddNewFeedDlg dlg(scope, model, group, test::NewSearch());
  dlg.show();
  dlg.UrlEdit()->setText(Url("/slow"));
  dlg.accept();
  ASSERT_TRUE(dlg.Searching());
  dlg.reject();
  EXPECT_FALSE(dlg.Searching());
  EXPECT_EQ(dlg.result(), QDialog::Rejected);
  EXPECT_TRUE(dlg.OkButton()->isEnabled());
  // The late answer changes nothing.
  test::WaitUntil([] { return false; }, 800);
  EXPECT_EQ(dlg.result(), QDialog::Rejected);
  EXPECT_TRUE(scope.messages.empty());
}

TEST_F(AddFeedSearchTest, APageWithSeveralFeedsLetsTheUserPick) {
  Serve("/page", PageWithLinks(FeedLink("application/rss+xml", "/feed", "All posts") +
                               FeedLink("application/atom+xml", "/atom", "Comments") +
                               FeedLink("application/rss+xml", "/feed", "All posts again")));
  struct Case {
    int pick;  // -1: the picker is cancelled
    QString subscribed;
  };
  for (const Case& c : {Case{1, Url("/atom")}, Case{0, Url("/feed")}, Case{-1, QString()}}) {
    SCOPED_TRACE(c.pick);
    std::vector<QString> titles;
    std::vector<QString> urls;
    scope.answerDialog = [&](QDialog& dialog) {
      auto& pick = dynamic_cast<CPickFeedDlg&>(dialog);
      pick.show();
      QTreeWidget* list = pick.FeedList();
      for (int i = 0; i < list->topLevelItemCount(); ++i) {
        titles.push_back(list->topLevelItem(i)->text(0));
        urls.push_back(list->topLevelItem(i)->text(1));
      }
      if (c.pick < 0) {
        pick.reject();
      } else {
        list->setCurrentItem(list->topLevelItem(c.pick));
        pick.accept();
      }
      return pick.result();
    };
    CAddNewFeedDlg dlg(scope, model, group, test::NewSearch());
    dlg.show();
    const bool accepted = Submit(dlg, Url("/page"));
    // Repeats are shown once, in the page's order.
    EXPECT_EQ(titles, (std::vector<QString>{QStringLiteral("All posts"), QStringLiteral("Comments")}));
    EXPECT_EQ(urls, (std::vector<QString>{Url("/feed"), Url("/atom")}));
    if (c.subscribed.isEmpty()) {
      EXPECT_FALSE(accepted);
      EXPECT_TRUE(dlg.isVisible());
      EXPECT_EQ(dlg.UrlEdit()->text(), Url("/page"));
      EXPECT_TRUE(dlg.OkButton()->isEnabled());
    } else {
      EXPECT_TRUE(accepted);
      EXPECT_EQ(dlg.m_strUrl, c.subscribed);
    }
  }
  EXPECT_TRUE(scope.messages.empty());
}

TEST_F(AddFeedSearchTest, NothingUsableKeepsTheDialogOpenWithTheReason) {
  Serve("/plain", PageWithLinks("<link rel=\"alternate\" hreflang=\"de\" href=\"/de\">"));
  server.Set("/gone", [] {
    HttpResponse r;
    r.status = 404;
    r.reason = "Not Found";
    r.body = "no";
    return r;
  }());
  const std::string closed = "http://127.0.0.1:" + std::to_string(test::HttpServer::ClosedPort()) + "/feed";
  struct Case {
    QString typed;
    QString message;
  };
  const Case cases[] = {
      {Url("/plain"), QStringLiteral("No feed was found at this address.")},
      {Url("/gone"), QStringLiteral("The site answered with an error (HTTP status 404).")},
      {QString::fromStdString(closed), QStringLiteral("The site could not be reached.")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typed.toStdString());
    scope.messages.clear();
    CAddNewFeedDlg dlg(scope, model, group, test::NewSearch());
    dlg.show();
    EXPECT_FALSE(Submit(dlg, c.typed));
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_EQ(dlg.UrlEdit()->text(), c.typed);
    EXPECT_FALSE(dlg.UrlEdit()->isReadOnly());
    EXPECT_TRUE(dlg.BusyLabel()->text().isEmpty());
    ASSERT_EQ(scope.messages.size(), 1u);
    EXPECT_EQ(scope.messages[0].icon, MsgIcon::Warning);
    EXPECT_EQ(scope.messages[0].text, c.message);
  }
}

TEST_F(AddFeedSearchTest, AnAddressWithoutSchemeTriesHttpsThenHttp) {
  Serve("/page", PageWithLinks(FeedLink("application/rss+xml", "/feed", "Main")));
  const QString port = QString::number(server.port());
  for (const std::string path : {"/feed", "/page"}) {
    SCOPED_TRACE(path);
    const size_t tlsBefore = server.TlsAttempts();
    CAddNewFeedDlg dlg(scope, model, group, test::NewSearch());
    dlg.show();
    EXPECT_TRUE(Submit(dlg, QStringLiteral("127.0.0.1:") + port + QString::fromStdString(path)));
    EXPECT_EQ(dlg.m_strUrl, Url("/feed"));
    EXPECT_GT(server.TlsAttempts(), tlsBefore) << "https came first";
  }
  EXPECT_TRUE(scope.messages.empty());
}

TEST_F(AddFeedSearchTest, TextThatCannotBeAnAddressIsRefusedAtOnce) {
  struct Case {
    QString typed;
    QString message;
  };
  const Case cases[] = {
      {QStringLiteral("not a url at all"), QStringLiteral("This is not a web address.")},
      {QStringLiteral("ftp://files.example/feed"),
       QStringLiteral("Only http and https addresses can be subscribed.")},
      {QStringLiteral("intranet"), QStringLiteral("The site name in this address is not valid.")},
      {QStringLiteral("http://example.com:99999/"),
       QStringLiteral("The port number in this address is not valid.")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typed.toStdString());
    scope.messages.clear();
    CAddNewFeedDlg dlg(scope, model, group, test::NewSearch());
    dlg.show();
    dlg.UrlEdit()->setText(c.typed);
    dlg.accept();
    EXPECT_FALSE(dlg.Searching());
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_EQ(dlg.UrlEdit()->text(), c.typed);
    ASSERT_EQ(scope.messages.size(), 1u);
    EXPECT_EQ(scope.messages[0].icon, MsgIcon::Warning);
    EXPECT_EQ(scope.messages[0].text, c.message);
  }
  EXPECT_TRUE(server.Requests().empty());
}

TEST_F(AddFeedSearchTest, TheDuplicateTestAppliesToTheAddressFinallyChosen) {
  Serve("/page", PageWithLinks(FeedLink("application/rss+xml", "/feed", "Main")));
  model.AddSource(group, FromQString(Url("/feed")));
  const QString port = QString::number(server.port());
  // The page, and the feed typed without its scheme, both lead to the
  // subscribed address; the feed as typed is refused before any request.
  for (const QString& typed : {Url("/page"), QStringLiteral("127.0.0.1:") + port + QStringLiteral("/feed"),
                               Url("/feed")}) {
    SCOPED_TRACE(typed.toStdString());
    scope.messages.clear();
    CAddNewFeedDlg dlg(scope, model, group, test::NewSearch());
    dlg.show();
    EXPECT_FALSE(Submit(dlg, typed));
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_EQ(dlg.UrlEdit()->text(), typed);
    ASSERT_EQ(scope.messages.size(), 1u);
    EXPECT_EQ(scope.messages[0].icon, MsgIcon::Information);
    EXPECT_EQ(scope.messages[0].text, kDuplicate);
  }
  EXPECT_EQ(server.Requests().size(), 2u);
}

// The whole way, as a new user goes: the site's address without a scheme
// is pasted, and the feed it announces is subscribed, fetched and named.
TEST_F(AddFeedSearchTest, ASiteAddressPastedIntoTheProgramSubscribesToItsFeed) {
  server.Set("/news", HttpResponse::Ok("<rss version=\"2.0\"><channel><title>Loop News</title>"
                                       "<item><title>First</title><guid>1</guid></item></channel></rss>"));
  Serve("/", PageWithLinks(FeedLink("application/rss+xml", "/news", "News")));
  test::AppHarness h;
  UiTestScope::Store(test::kSettings, QStringLiteral("FirstRun"), 0);
  ASSERT_TRUE(h.Start());
  const ObjectId group = h.Model().RootGroups()[0];
  h.scope.answerDialog = [&](QDialog& dialog) {
    auto& dlg = dynamic_cast<CAddNewFeedDlg&>(dialog);
    dlg.show();
    Submit(dlg, QStringLiteral("127.0.0.1:%1").arg(server.port()));
    return dlg.result();
  };
  h.Frame().Commands().AddFeed(group);
  ASSERT_TRUE(h.WaitForUpdates());
  EXPECT_TRUE(h.scope.messages.empty());
  const CGroup* g = h.Model().GetGroup(group);
  ASSERT_EQ(g->m_sources.size(), 1u);
  const CFeedSource* source = h.Model().GetFeedSource(g->m_sources[0]);
  EXPECT_EQ(source->m_url, FromQString(Url("/news")));
  EXPECT_EQ(source->m_title, u"Loop News");
  EXPECT_EQ(source->m_articles.size(), 1u);
}

// A feed's address handed over by a second start: the dialog opens filled
// in, Enter subscribes, and the feed is fetched once (the search's download
// is the first update), while the user goes on reading what was selected.
TEST_F(AddFeedSearchTest, AHandedOverFeedIsFetchedOnceAndTheReadingStays) {
  test::AppHarness h;
  UiTestScope::Store(test::kSettings, QStringLiteral("FirstRun"), 0);
  ASSERT_TRUE(h.Start());
  const ObjectId group = h.Model().RootGroups()[0];
  CFeedSource* reading = CModelWriter(h.Model()).Source(h.Model().AddSource(group, u"")->m_id);
  reading->m_title = u"Being read";
  CFeed* article = CModelWriter(h.Model()).NewFeed();
  article->m_title = u"An article";
  reading->m_articles.push_back(article->m_id);
  CSourceListView* tree = h.Frame().SourceTree();
  tree->RefreshAll();
  tree->SelectItem(tree->FindItem(reading->m_id));
  const ObjectId readingId = reading->m_id;
  ASSERT_EQ(tree->SelectedNode(), std::optional<ObjectId>(readingId));

  h.scope.answerDialog = [&](QDialog& dialog) {
    auto& dlg = dynamic_cast<CAddNewFeedDlg&>(dialog);
    dlg.show();
    dlg.accept();  // Enter, on the address as it came
    EXPECT_TRUE(test::WaitUntil([&] { return !dlg.Searching(); }));
    return dlg.result();
  };
  h.app->HandleCommandLine({Url("/feed")});
  ASSERT_TRUE(h.WaitForUpdates());
  ASSERT_EQ(h.Model().GetGroup(group)->m_sources.size(), 2u);
  const CFeedSource* added = h.Model().GetFeedSource(h.Model().GetGroup(group)->m_sources[1]);
  EXPECT_EQ(added->m_url, FromQString(Url("/feed")));
  EXPECT_EQ(added->m_title, u"Loop");
  EXPECT_EQ(added->m_commsStatus, kCommsStatusOk);
  EXPECT_EQ(server.Requests().size(), 1u) << "one GET for the search and the first update";
  EXPECT_EQ(h.updater.prefetchedUpdates, 1);
  EXPECT_EQ(tree->SelectedNode(), std::optional<ObjectId>(readingId));
}

TEST(PickFeedDlgTest, RowsNameEachFeedAndOkNeedsARow) {
  UiTestScope scope;
  CPickFeedDlg pick;
  pick.m_feeds = {{u"http://a.example/rss", u"  News \n feed "}, {u"http://a.example/atom", u""}};
  pick.show();
  ASSERT_EQ(pick.FeedList()->topLevelItemCount(), 2);
  EXPECT_EQ(pick.FeedList()->topLevelItem(0)->text(0), QStringLiteral("News feed"));
  EXPECT_EQ(pick.FeedList()->topLevelItem(1)->text(0), QStringLiteral("http://a.example/atom"));
  EXPECT_TRUE(pick.FeedList()->topLevelItem(0)->isSelected()) << "the page's first feed is offered";
  pick.FeedList()->clearSelection();
  pick.accept();
  EXPECT_TRUE(pick.isVisible());
  pick.FeedList()->topLevelItem(1)->setSelected(true);
  pick.accept();
  EXPECT_EQ(pick.result(), QDialog::Accepted);
  EXPECT_EQ(pick.m_chosen, 1);
}

}  // namespace
}  // namespace qb
