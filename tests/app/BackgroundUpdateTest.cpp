// Updates and saves in the background: the real updater against a loopback
// server whose answers come late, driven through the window's commands.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QProgressBar>
#include <QTreeWidgetItem>
#include <chrono>
#include <functional>

#include "app/Commands.h"
#include "classic/DataFile.h"
#include "model/ModelWriter.h"
#include "tests/app/AppHarness.h"
#include "tests/support/HttpServer.h"
#include "views/SourceListView.h"

namespace qb {
namespace {

using namespace std::chrono_literals;
using test::AppHarness;
using test::HttpResponse;
using test::UiTestScope;

std::string Rss(const std::string& channel, int items) {
  std::string s = "<rss version=\"2.0\"><channel><title>" + channel + "</title>";
  for (int i = 0; i < items; ++i) {
    s += "<item><title>" + channel + " " + std::to_string(i) + "</title><guid>" + channel +
         std::to_string(i) + "</guid></item>";
  }
  return s + "</channel></rss>";
}

HttpResponse Late(std::string body, std::chrono::milliseconds delay) {
  HttpResponse r = HttpResponse::Ok(std::move(body));
  r.delay = delay;
  return r;
}

// Runs the event loop until `done` holds (at most `limit`).
bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 20s) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  return true;
}

class BackgroundUpdateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::BypassProxyForLoopback();
    UiTestScope::Store(test::kSettings, QStringLiteral("FirstRun"), 0);
    ASSERT_TRUE(h.Start());
    root = h.Model().RootGroups()[0];
  }

  ObjectId AddSource(const std::string& path) {
    return h.Model().AddSource(root, server.Url16(path))->m_id;
  }
  size_t Articles(ObjectId source) { return h.Model().GetFeedSource(source)->m_articles.size(); }

  test::HttpServer server;
  AppHarness h;
  ObjectId root = 0;
};

// F5 returns at once; the window goes on handling events while the sources
// fill in one by one, in tree order, each counted in the tree as it arrives.
TEST_F(BackgroundUpdateTest, SourcesFillInOneByOneWhileTheWindowRuns) {
  // Each document comes when the test lets it, however slow the machine:
  // Alpha once the pass has started, Bravo once Alpha is seen applied.
  HttpResponse alpha = HttpResponse::Ok(Rss("Alpha", 2));
  alpha.gate = std::make_shared<test::ResponseGate>();
  server.Set("/a", alpha);
  HttpResponse bravo = HttpResponse::Ok(Rss("Bravo", 3));
  bravo.gate = std::make_shared<test::ResponseGate>();
  server.Set("/b", bravo);
  server.Set("/c", Late(Rss("Charlie", 1), 0ms));
  const ObjectId a = AddSource("/a");
  const ObjectId b = AddSource("/b");
  const ObjectId c = AddSource("/c");
  CMainFrame& f = h.Frame();
  f.Commands().UpdateAll(false);
  EXPECT_TRUE(h.updater.Busy()) << "the call returned before the documents came";
  EXPECT_EQ(Articles(a) + Articles(b) + Articles(c), 0u);
  EXPECT_FALSE(f.BusyIndicator()->isHidden());

  alpha.gate->Open();
  // Alpha arrives and is applied while Bravo is still on its way; Charlie,
  // though it came early, waits for Bravo, as the tree orders them.
  ASSERT_TRUE(RunUntil([&] { return Articles(a) == 2; }));
  EXPECT_TRUE(h.updater.Busy());
  EXPECT_EQ(Articles(b), 0u);
  EXPECT_EQ(Articles(c), 0u);
  EXPECT_EQ(f.StatusText(), QString::fromStdU16String(u"Updating '" + server.Url16("/b") + u"'..."));
  const QTreeWidgetItem* alphaItem = f.SourceTree()->FindItem(a);
  ASSERT_NE(alphaItem, nullptr);
  EXPECT_TRUE(alphaItem->text(0).startsWith(QStringLiteral("Alpha (2 / 2)"))) << alphaItem->text(0).toStdString();
  EXPECT_TRUE(alphaItem->font(0).bold());

  bravo.gate->Open();
  ASSERT_TRUE(h.WaitForUpdates());
  EXPECT_EQ(Articles(b), 3u);
  EXPECT_EQ(Articles(c), 1u);
  EXPECT_EQ(f.StatusText(), QStringLiteral("Ready"));
  EXPECT_TRUE(f.BusyIndicator()->isHidden());
  EXPECT_TRUE(f.IsFrameTimerActive(FrameTimer::Save));
  EXPECT_TRUE(f.IsFrameTimerActive(FrameTimer::Update));
  EXPECT_FALSE(f.NewArticles()) << "news the user asked for is not announced in the tray";
}

// A second request while a pass runs joins it: no source is fetched twice
// and no second pass starts beside the first.
TEST_F(BackgroundUpdateTest, ASecondRequestJoinsThePassThatRuns) {
  server.Set("/a", Late(Rss("Alpha", 1), 300ms));
  server.Set("/b", Late(Rss("Bravo", 1), 300ms));
  AddSource("/a");
  AddSource("/b");
  CMainFrame& f = h.Frame();
  int passes = 0;
  QObject::connect(&f.Commands(), &CCommands::passFinished, [&] { ++passes; });
  f.Commands().UpdateAll(false);
  f.OnTimer(FrameTimer::Update);
  f.Commands().UpdateAll(false);
  ASSERT_TRUE(h.WaitForUpdates());
  EXPECT_EQ(passes, 1);
  EXPECT_EQ(server.Requests().size(), 2u);
}

// A source deleted while its download is in flight is dropped: the pass does
// not wait for it, and nothing is applied to a record that is gone.
TEST_F(BackgroundUpdateTest, ADeletedSourceDoesNotHoldThePass) {
  HttpResponse silent;
  silent.neverAnswer = true;
  server.Set("/silent", silent);
  server.Set("/a", HttpResponse::Ok(Rss("Alpha", 1)));
  const ObjectId gone = AddSource("/silent");
  const ObjectId a = AddSource("/a");
  CMainFrame& f = h.Frame();
  f.Commands().UpdateAll(false);
  ASSERT_TRUE(RunUntil([&] { return server.Requests().size() == 2; }));
  h.scope.nextAnswer = QMessageBox::Yes;
  f.Commands().DeleteSource(gone, root);
  EXPECT_EQ(h.Model().GetFeedSource(gone), nullptr);
  ASSERT_TRUE(h.WaitForUpdates(5s));
  EXPECT_EQ(Articles(a), 1u);
  EXPECT_EQ(f.SourceTree()->FindItem(gone), nullptr);
}

// Exit during a pass: the transfer that never ends is abandoned, and the
// data file holds everything applied so far.
TEST_F(BackgroundUpdateTest, ExitDuringAPassSavesWhatWasApplied) {
  HttpResponse silent;
  silent.neverAnswer = true;
  server.Set("/a", HttpResponse::Ok(Rss("Alpha", 2)));
  server.Set("/silent", silent);
  h.realDataFile = true;
  const ObjectId a = AddSource("/a");
  AddSource("/silent");
  CMainFrame& f = h.Frame();
  f.Commands().UpdateAll(false);
  ASSERT_TRUE(RunUntil([&] { return Articles(a) == 2; }));
  ASSERT_TRUE(h.updater.Busy());

  h.scope.answerDialog = [](QDialog&) { return int(QDialog::Accepted); };
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(f.RunCloseSequence());
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  EXPECT_FALSE(h.updater.Busy());
  EXPECT_EQ(h.updater.cancels, 1);

  CFeedsManager saved;
  ASSERT_TRUE(LoadDataFile(saved, h.savedPath).ok());
  const CFeedSource* alpha = saved.GetFeedSource(a);
  ASSERT_NE(alpha, nullptr);
  EXPECT_EQ(alpha->m_articles.size(), 2u);
  EXPECT_EQ(alpha->m_title, u"Alpha");
}

// The timed save goes to the background writer, not to the window's thread.
TEST_F(BackgroundUpdateTest, TheTimedSaveIsWrittenInTheBackground) {
  CMainFrame& f = h.Frame();
  const int before = h.dataFile.backgroundSaves;
  f.ScheduleSave();
  f.OnTimer(FrameTimer::Save);
  EXPECT_EQ(h.dataFile.backgroundSaves, before + 1);
  EXPECT_FALSE(f.IsFrameTimerActive(FrameTimer::Save));

  // A failed write is tried again a little later.
  h.saveResult = false;
  f.OnTimer(FrameTimer::Save);
  EXPECT_TRUE(f.IsFrameTimerActive(FrameTimer::Save));
}

// The warning mark of a source whose last update failed is there again
// after a restart (it is kept with the validators, beside the data file);
// a source without an address is never fetched and never gets one.
TEST_F(BackgroundUpdateTest, AWarningMarkSurvivesARestart) {
  h.realDataFile = true;
  HttpResponse gone = HttpResponse::Ok("<html>gone</html>", "text/html");
  gone.status = 410;
  server.Set("/gone", gone);
  const ObjectId failing = AddSource("/gone");
  CFeedSource* welcome = CModelWriter(h.Model()).Source(h.Model().AddSource(root, u"")->m_id);
  welcome->m_title = u"Welcome!";
  const ObjectId welcomeId = welcome->m_id;
  h.Frame().Commands().UpdateAll(false);
  ASSERT_TRUE(h.WaitForUpdates());
  ASSERT_EQ(server.Requests().size(), 1u) << "the source without an address is not fetched";
  EXPECT_EQ(h.Frame().Commands().SourceState(failing).failure, u"HTTP status 410");
  EXPECT_EQ(h.Frame().Commands().SourceState(welcomeId).failure, u"");
  h.Doc().SaveDataFile();

  ASSERT_TRUE(h.Start());
  ASSERT_NE(h.Model().GetFeedSource(failing), nullptr);
  EXPECT_EQ(h.Frame().Commands().SourceState(failing).failure, u"HTTP status 410");
  EXPECT_EQ(h.Frame().Commands().SourceState(welcomeId).failure, u"");
  CSourceListView* tree = h.Frame().SourceTree();
  EXPECT_EQ(tree->FindItem(failing)->icon(0).cacheKey(), tree->FailureIcon().cacheKey());
  EXPECT_EQ(server.Requests().size(), 1u);
}

}  // namespace
}  // namespace qb
