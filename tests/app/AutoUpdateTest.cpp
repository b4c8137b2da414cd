// The automatic update against a loopback server, with a fake tick counter.
#include <gtest/gtest.h>

#include "app/Commands.h"
#include "model/ModelWriter.h"
#include "tests/app/AppHarness.h"
#include "tests/support/FakeClock.h"
#include "tests/support/HttpServer.h"
#include "update/UpdateCycle.h"

namespace qb {
namespace {

using test::AppHarness;
using test::UiTestScope;

const char kFeed[] =
    "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>Loop News</title>"
    "<item><title>First</title><link>http://loop.example/1</link><guid>one</guid></item>"
    "<item><title>Second</title><link>http://loop.example/2</link><guid>two</guid></item>"
    "</channel></rss>";

TEST(AutoUpdateTest, DueSourceBringsNewsAndRaisesTheNotice) {
  test::BypassProxyForLoopback();
  test::HttpServer server;
  server.Set("/feed", test::HttpResponse::Ok(kFeed));
  AppHarness h;
  UiTestScope::Store(QStringLiteral("Settings"), QStringLiteral("FirstRun"), 0);
  ASSERT_TRUE(h.Start());
  CMainFrame& f = h.Frame();
  CFeedSource* source =
      CModelWriter(h.Model()).Source(h.Model().AddSource(h.Model().RootGroups()[0], server.Url16("/feed"))->m_id);
  ASSERT_NE(source, nullptr);
  source->m_refreshInterval = 15;
  const ObjectId sourceId = source->m_id;

  test::FakeClock clock;
  uint32_t tick = 60 * 1000;  // not yet due
  clock.tick = [&] { return tick; };
  h.Model().SetClock(clock);
  f.OnTimer(FrameTimer::Update);
  ASSERT_TRUE(h.WaitForUpdates());
  EXPECT_TRUE(server.Requests().empty());
  EXPECT_FALSE(f.NewArticles());

  tick = 16 * 60 * 1000;  // fifteen minutes have passed
  f.OnTimer(FrameTimer::Update);
  ASSERT_TRUE(h.WaitForUpdates());
  ASSERT_EQ(server.Requests().size(), 1u);
  EXPECT_EQ(h.Model().GetFeedSource(sourceId)->m_articles.size(), 2u);
  EXPECT_TRUE(f.NewArticles());
  EXPECT_TRUE(f.IsFrameTimerActive(FrameTimer::Save));
  EXPECT_TRUE(f.IsFrameTimerActive(FrameTimer::Update));
  EXPECT_EQ(f.StatusText(), QStringLiteral("Ready"));
  f.OnTimer(FrameTimer::Tick);
  EXPECT_EQ(f.TrayTip(), QStringLiteral("Quillbend: You have new feeds (2 unread articles)"));

  // The same articles again bring nothing new.
  f.SetNewArticles(false);
  f.StopFrameTimer(FrameTimer::Save);
  tick += 16 * 60 * 1000;
  f.OnTimer(FrameTimer::Update);
  ASSERT_TRUE(h.WaitForUpdates());
  EXPECT_EQ(server.Requests().size(), 2u);
  EXPECT_FALSE(f.NewArticles());
  EXPECT_FALSE(f.IsFrameTimerActive(FrameTimer::Save));
}

// Feeds imported while the window did not run come in at its start; a feed
// fetched before waits until it is due.
TEST(AutoUpdateTest, FeedsNeverFetchedAreFetchedAtStartTheOthersWhenDue) {
  test::BypassProxyForLoopback();
  test::HttpServer server;
  server.Set("/old", test::HttpResponse::Ok(kFeed));
  server.Set("/new", test::HttpResponse::Ok(kFeed));
  AppHarness h;
  h.useLibrary = true;
  ASSERT_TRUE(h.Start());
  const ObjectId group = h.Model().RootGroups()[0];
  const ObjectId old = h.Model().AddSource(group, server.Url16("/old"))->m_id;
  h.Frame().Commands().UpdateSources({old});
  ASSERT_TRUE(h.WaitForUpdates());
  ASSERT_EQ(server.Requests().size(), 1u);
  const ObjectId fresh = h.Model().AddSource(group, server.Url16("/new"))->m_id;
  h.Model().AddSource(group, u"  ");  // nothing to fetch
  h.Doc().m_settingsManager.m_settings.Get(setting::kConfirmExit).bValue = false;
  h.Frame().OnExit();
  ASSERT_TRUE(h.Frame().IsClosed());

  ASSERT_TRUE(h.Start());
  ASSERT_TRUE(h.WaitForUpdates());
  ASSERT_EQ(server.Requests().size(), 2u);
  EXPECT_EQ(server.Requests().back().path, "/new");
  EXPECT_EQ(h.Model().GetFeedSource(fresh)->m_articles.size(), 2u);
  EXPECT_TRUE(h.Frame().IsFrameTimerActive(FrameTimer::Update));
  // A restart with nothing new to fetch asks the server nothing.
  h.Frame().OnExit();
  ASSERT_TRUE(h.Start());
  ASSERT_TRUE(h.WaitForUpdates());
  EXPECT_EQ(server.Requests().size(), 2u);
}

}  // namespace
}  // namespace qb
