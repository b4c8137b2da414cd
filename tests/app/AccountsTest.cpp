// The window's accounts against a small Google Reader server on the
// loopback: when they sync (at start, on their interval with the automatic
// update, with "Update all feeds"), the warning mark of a failed sync and
// its clearing, a slow server the window does not wait for, edits of its
// feeds sent to the server, the account's
// properties (a new password checked by a sign-in before it is kept) and
// its removal, asked first.
#include <QCheckBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QSpinBox>
#include <QStyle>
#include <QTest>
#include <algorithm>
#include <atomic>
#include <fstream>
#include <gtest/gtest.h>
#include <mutex>

#include "app/AccountPropertiesDlg.h"
#include "app/AccountService.h"
#include "app/FeedPropertiesDlg.h"
#include "app/Commands.h"
#include "model/FeedsManager.h"
#include "tests/app/AppHarness.h"
#include "tests/support/HttpServer.h"
#include "tests/support/TempDir.h"
#include "views/SourceListView.h"

namespace qb {
namespace {

using namespace std::chrono_literals;
using test::HttpRequest;
using test::HttpResponse;

// Answers as a server of the API with one feed of two articles, counting
// the syncs (each asks for tag/list once).
class FakeReader {
 public:
  FakeReader() {
    server.SetHandler([this](const HttpRequest& r) { return Answer(r); });
  }
  std::string Base() const { return server.Url(""); }

  HttpResponse Answer(const HttpRequest& request) {
    std::lock_guard<std::mutex> lock(mutex);
    const std::string path = request.path.substr(0, request.path.find('?'));
    if (down) return Plain("down for maintenance", 503);
    if (path == "/accounts/ClientLogin") {
      if ((request.body + "&" + request.path).find("Passwd=" + password + "&") == std::string::npos) return Plain("Error=BadAuthentication", 403);
      return Plain("SID=t\nLSID=t\nAuth=t\n");
    }
    const std::string route = path.substr(std::string("/reader/api/0/").size());
    if (route == "token") return Plain("t");
    if (route == "user-info") return HttpResponse::Ok(R"({"userId":"1","userName":"alice"})", "application/json");
    if (route == "unread-count") return HttpResponse::Ok(R"({"unreadcounts":[]})", "application/json");
    if (route == "tag/list") {
      ++syncs;
      HttpResponse r = HttpResponse::Ok(R"({"tags":[]})", "application/json");
      r.gate = gate;
      return r;
    }
    if (route == "subscription/list") {
      return HttpResponse::Ok(R"({"subscriptions":[{"id":"feed/1","title":")" + title + R"(","url":"https://e.org/f"}]})",
                              "application/json");
    }
    if (route == "subscription/edit") {
      const size_t t = request.body.find("&t=");
      if (t != std::string::npos) title = request.body.substr(t + 3, request.body.find('&', t + 3) - t - 3);
      return Plain("OK");
    }
    if (route == "stream/items/ids") return HttpResponse::Ok(R"({"itemRefs":[{"id":"1"},{"id":"2"}]})", "application/json");
    if (route == "stream/items/contents") {
      return HttpResponse::Ok(
          R"({"items":[{"id":"tag:google.com,2005:reader/item/0000000000000001","title":"First","origin":{"streamId":"feed/1"}},)"
          R"({"id":"tag:google.com,2005:reader/item/0000000000000002","title":"Second","origin":{"streamId":"feed/1"}}]})",
          "application/json");
    }
    return HttpResponse::Ok("{}", "application/json");
  }
  static HttpResponse Plain(std::string body, int status = 200) {
    HttpResponse r = HttpResponse::Ok(std::move(body), "text/plain");
    r.status = status;
    r.reason = status == 200 ? "OK" : "Error";
    return r;
  }

  std::mutex mutex;
  bool down = false;
  std::string password = "secret";
  std::string title = "One";  // the feed's, as the form sent it
  std::shared_ptr<test::ResponseGate> gate;
  std::atomic<int> syncs{0};
  test::HttpServer server;
};

class AccountsTest : public ::testing::Test {
 protected:
  AccountsTest() {
    h.useLibrary = true;
    EXPECT_TRUE(h.Start());
    service = std::make_unique<CAccountService>(pool, h.executor, *h.library, secrets);
    service->SetClock([this] { return now; });
    service->SetSyncedListener([this](ObjectId) { ++synced; });
    bool added = false;
    std::string addText;
    service->AddAccount(h.Model(), GReaderServerKind::kOther, QString::fromStdString(reader.Base()),
                        QStringLiteral("alice"), QStringLiteral("secret"), [&](bool ok, QString text) {
                          added = ok;
                          addText = text.toStdString();
                        });
    EXPECT_TRUE(test::WaitUntil([&] { return synced == 1; }));
    EXPECT_TRUE(added) << addText;
    for (const auto& [id, s] : h.library->Accounts()->Accounts()) account = id;
    h.Frame().SetAccounts(service.get());  // listens from here on
    service->SetSyncedListener([this](ObjectId id) {
      ++synced;
      h.Frame().SourceTree()->RefreshDecoration(id);
    });
  }
  ~AccountsTest() override { h.Frame().SetAccounts(nullptr); }

  QTreeWidgetItem* Item() const { return h.Frame().SourceTree()->FindItem(account); }
  bool Marked() const {
    return Item()->icon(0).cacheKey() == h.Frame().SourceTree()->FailureIcon().cacheKey();
  }
  void SyncAndWait(bool automatic) {
    const int before = synced;
    h.Frame().Commands().UpdateAll(automatic);
    ASSERT_TRUE(test::WaitUntil([&] { return synced > before; }));
  }

  test::AppHarness h;
  FakeReader reader;
  CDownloadPool pool;
  test::TempDir secretsDir;
  CFileSecretStore secrets{secretsDir.File("private")};
  std::unique_ptr<CAccountService> service;  // on the library Start opens
  int64_t now = 1'000'000;
  int synced = 0;
  ObjectId account = 0;
};

TEST_F(AccountsTest, SyncsAtStartOnItsIntervalAndWithUpdateAll) {
  ASSERT_NE(account, 0u);
  ASSERT_NE(Item(), nullptr);
  EXPECT_EQ(h.Model().GetGroup(account)->m_sources.size(), 1u);
  // Synced once when added; the frame's start found it synced a moment ago.
  EXPECT_EQ(reader.syncs, 1);
  SyncAndWait(false);  // F5 syncs whatever the interval
  EXPECT_EQ(reader.syncs, 2);
  h.Frame().Commands().UpdateAll(true);  // not due: the program's 15 minutes have not passed
  EXPECT_FALSE(service->Syncing(account));
  EXPECT_EQ(reader.syncs, 2);
  now += kDefaultAccountRefreshMinutes * 60;
  SyncAndWait(true);
  EXPECT_EQ(reader.syncs, 3);
  // Its own interval, kept in the library.
  ASSERT_TRUE(service->SetRefreshMinutes(account, 60));
  now += 30 * 60;
  h.Frame().Commands().UpdateAll(true);
  EXPECT_FALSE(service->Syncing(account));
  now += 30 * 60;
  SyncAndWait(true);
  EXPECT_EQ(reader.syncs, 4);

  // A slow server: the window's loop goes on turning and the sync ends
  // only when the server answers.
  reader.gate = std::make_shared<test::ResponseGate>();
  const int before = synced;
  h.Frame().Commands().UpdateAll(false);
  bool turned = false;
  QTimer::singleShot(0, [&] { turned = true; });
  ASSERT_TRUE(test::WaitUntil([&] { return turned && reader.syncs == 5; }));
  EXPECT_EQ(synced, before);
  EXPECT_TRUE(service->Syncing(account));
  reader.gate->Open();
  ASSERT_TRUE(test::WaitUntil([&] { return synced > before; }));
  reader.gate.reset();

  // A window started anew syncs its accounts at once.
  CAccountService restarted(pool, h.executor, *h.library, secrets);
  h.Frame().SetAccounts(&restarted);
  EXPECT_TRUE(restarted.Syncing(account));
  ASSERT_TRUE(test::WaitUntil([&] { return !restarted.Syncing(account); }));
  EXPECT_EQ(reader.syncs, 6);
  EXPECT_TRUE(restarted.Problem(account).empty());
  h.Frame().SetAccounts(service.get());
}

TEST_F(AccountsTest, AFailedSyncMarksTheAccountUntilAGoodOne) {
  EXPECT_FALSE(Marked());
  EXPECT_TRUE(Item()->toolTip(0).isEmpty());
  reader.down = true;
  SyncAndWait(false);
  EXPECT_TRUE(Marked());
  EXPECT_TRUE(Item()->toolTip(0).startsWith(QStringLiteral("The last sync failed: "))) << Item()->toolTip(0).toStdString();
  EXPECT_FALSE(service->Problem(account).empty());
  // The tree's own refresh keeps the mark.
  h.Frame().SourceTree()->RefreshAll();
  EXPECT_TRUE(Marked());
  reader.down = false;
  SyncAndWait(false);
  EXPECT_FALSE(Marked());
  EXPECT_TRUE(Item()->toolTip(0).isEmpty());
}

// A feed of an account is renamed by its server: the tree offers it, the
// name shows once the server took it, and a refusal is told.
TEST_F(AccountsTest, ARenameGoesToTheServerAndShowsWhenItIsDone) {
  const ObjectId source = h.Model().GetGroup(account)->m_sources.at(0);
  h.Frame().SourceTree()->SelectItem(h.Frame().SourceTree()->FindItem(source));
  QContextMenuEvent event(QContextMenuEvent::Keyboard, QPoint(), QPoint());
  QCoreApplication::sendEvent(h.Frame().SourceTree(), &event);
  ASSERT_FALSE(h.scope.menus.empty());
  const test::MenuRecord& menu = h.scope.menus.back();
  const auto offered = [&](const char* text) {
    const auto it = std::find(menu.texts.begin(), menu.texts.end(), QString::fromLatin1(text));
    return it != menu.texts.end() && menu.enabled[it - menu.texts.begin()];
  };
  EXPECT_TRUE(offered("&Rename this feed"));
  EXPECT_TRUE(offered("&Delete this feed"));
  EXPECT_FALSE(offered("&Clear history for this feed"));
  // Its properties show what the server decides, and change only what is
  // this program's own.
  h.scope.answerDialog = [&](QDialog& dialog) {
    auto& dlg = dynamic_cast<CFeedPropertiesDlg&>(dialog);
    dlg.InitDialog();
    EXPECT_TRUE(dlg.UrlEdit()->isReadOnly());
    EXPECT_FALSE(dlg.RateEdit()->isEnabled());
    EXPECT_FALSE(dlg.RetentionNeverButton()->isEnabled());
    dlg.RetentionNeverButton()->setChecked(true);
    dlg.FullArticleBox()->setChecked(true);
    dlg.accept();
    return dlg.result();
  };
  const int retention = h.Model().GetFeedSource(source)->m_retentionDays;
  h.Frame().Commands().ShowProperties(source);
  EXPECT_TRUE(h.Model().GetFeedSource(source)->m_fullArticle);
  EXPECT_EQ(h.Model().GetFeedSource(source)->m_retentionDays, retention);

  h.Frame().Commands().Rename(source, QStringLiteral("Renamed"));
  EXPECT_EQ(h.Model().GetFeedSource(source)->m_title, u"One");
  ASSERT_TRUE(test::WaitUntil([&] { return h.Model().GetFeedSource(source)->m_title == u"Renamed"; }));
  EXPECT_EQ(reader.title, "Renamed");
  SyncAndWait(false);
  EXPECT_EQ(h.Model().GetFeedSource(source)->m_title, u"Renamed");

  reader.down = true;
  const size_t before = h.scope.messages.size();
  h.Frame().Commands().Rename(source, QStringLiteral("Again"));
  ASSERT_TRUE(test::WaitUntil([&] { return h.scope.messages.size() > before; }));
  EXPECT_EQ(h.scope.messages.back().text,
            QStringLiteral("'Renamed' could not be renamed: The server answered 503: down for maintenance."));
  EXPECT_EQ(h.Model().GetFeedSource(source)->m_title, u"Renamed");
}

TEST_F(AccountsTest, PropertiesCheckANewPasswordBeforeKeepingIt) {
  h.Frame().SourceTree()->SelectItem(Item());
  std::vector<QString> statuses;
  int result = -1;
  h.scope.answerDialog = [&](QDialog& dialog) {
    auto& dlg = dynamic_cast<CAccountPropertiesDlg&>(dialog);
    dlg.IntervalBox()->setValue(45);
    dlg.PasswordEdit()->setText(QStringLiteral("wrong"));
    dlg.accept();
    EXPECT_TRUE(test::WaitUntil([&] { return dlg.PasswordEdit()->isEnabled(); }));
    statuses.push_back(dlg.StatusText());
    EXPECT_EQ(dlg.result(), 0) << "a refused password keeps the dialog open";
    reader.password = "fresh";
    dlg.PasswordEdit()->setText(QStringLiteral("fresh"));
    dlg.accept();
    EXPECT_TRUE(test::WaitUntil([&] { return dlg.result() == QDialog::Accepted; }));
    statuses.push_back(dlg.StatusText());
    result = dlg.result();
    return dlg.result();
  };
  reader.password = "secret";
  h.Frame().SourceTree()->ShowProperties();
  ASSERT_EQ(result, QDialog::Accepted);
  ASSERT_EQ(statuses.size(), 2u);
  EXPECT_NE(statuses[0], QStringLiteral("Signed in as alice"));
  EXPECT_EQ(statuses[1], QStringLiteral("Signed in as alice"));
  EXPECT_EQ(secrets.Read(AccountSecretKey(account)), "fresh");
  EXPECT_EQ(service->Settings(account)->refreshMinutes, 45);
  // A sync with the new one follows at once.
  EXPECT_TRUE(service->Syncing(account));
  ASSERT_TRUE(test::WaitUntil([&] { return !service->Syncing(account); }));
  EXPECT_FALSE(Marked());

  // Neither password is in the exports.
  const std::string settings = secretsDir.File("settings.reg"), data = secretsDir.File("data.dat");
  h.Frame().Commands().ExportSettings(QString::fromStdString(settings));
  ASSERT_TRUE(h.Doc().ExportDataFile(data).ok);
  for (const std::string& path : {settings, data}) {
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_FALSE(bytes.empty()) << path;
    EXPECT_EQ(bytes.find("fresh"), std::string::npos) << path;
    EXPECT_EQ(bytes.find("secret"), std::string::npos) << path;
  }
}

TEST_F(AccountsTest, APasswordNotKeptIsAskedForOnceAStart) {
  secrets.Remove(AccountSecretKey(account));
  int asked = 0;
  h.scope.answerDialog = [&](QDialog& dialog) {
    ++asked;
    EXPECT_NE(dynamic_cast<CAccountPropertiesDlg*>(&dialog), nullptr);
    return int(QDialog::Rejected);
  };
  CAccountService restarted(pool, h.executor, *h.library, secrets);
  h.Frame().SetAccounts(&restarted);
  ASSERT_TRUE(test::WaitUntil([&] { return asked == 1; }));
  EXPECT_FALSE(restarted.Problem(account).empty());
  EXPECT_FALSE(restarted.Syncing(account));
  restarted.Sync(h.Model(), account);
  h.Pump();
  EXPECT_EQ(asked, 1);
  h.Frame().SetAccounts(service.get());
}

TEST_F(AccountsTest, RemoveAsksThenTakesTheLocalCopyAndThePassword) {
  h.Frame().SourceTree()->SelectItem(Item());
  h.scope.chooseInMenu = QStringLiteral("&Remove this account");
  h.scope.SetAnswer(QMessageBox::No);
  QContextMenuEvent event(QContextMenuEvent::Keyboard, QPoint(), QPoint());
  QCoreApplication::sendEvent(h.Frame().SourceTree(), &event);
  ASSERT_FALSE(h.scope.menus.empty());
  EXPECT_EQ(h.scope.menus.back().title, QStringLiteral("For Accounts"));
  ASSERT_FALSE(h.scope.messages.empty());
  EXPECT_EQ(h.scope.messages.back().text,
            QStringLiteral("Remove the account alice@127.0.0.1:%1? Its feeds and articles are removed from this "
                           "computer; the server keeps them.")
                .arg(QString::fromStdString(reader.Base()).section(u':', 2).section(u'/', 0, 0)));
  EXPECT_NE(h.Model().GetGroup(account), nullptr);
  EXPECT_TRUE(secrets.Read(AccountSecretKey(account)).has_value());

  // The Delete key asks the same.
  h.scope.SetAnswer(QMessageBox::Yes);
  h.Frame().SourceTree()->SelectItem(Item());
  QTest::keyClick(h.Frame().SourceTree(), Qt::Key_Delete);
  EXPECT_EQ(h.Model().GetGroup(account), nullptr);
  EXPECT_EQ(service->Settings(account), nullptr);
  EXPECT_FALSE(secrets.Read(AccountSecretKey(account)).has_value());
  EXPECT_EQ(h.Frame().SourceTree()->FindItem(account), nullptr);
  // A sync of all afterwards asks the server nothing.
  h.Frame().Commands().UpdateAll(false);
  EXPECT_FALSE(service->Syncing(account));
}

}  // namespace
}  // namespace qb
