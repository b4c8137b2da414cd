// The automatic update against a loopback server, with a fake tick counter.
#include <gtest/gtest.h>

#include "feeds/UpdateCycle.h"
#include "tests/app/AppHarness.h"
#include "tests/support/FakeClock.h"
#include "tests/support/HttpServer.h"

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
  CFeedSource* source = h.Model().AddSource(h.Model().m_rootGroups[0], server.Url16("/feed"));
  ASSERT_NE(source, nullptr);
  source->m_refreshInterval = 15;
  const ObjectId sourceId = source->m_id;

  test::FakeClock clock;
  uint32_t tick = 60 * 1000;  // not yet due
  clock.tick = [&] { return tick; };
  h.Model().SetClock(clock);
  f.OnTimer(FrameTimer::Update);
  EXPECT_TRUE(server.Requests().empty());
  EXPECT_FALSE(f.NewArticles());

  tick = 16 * 60 * 1000;  // fifteen minutes have passed
  f.OnTimer(FrameTimer::Update);
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
  EXPECT_EQ(server.Requests().size(), 2u);
  EXPECT_FALSE(f.NewArticles());
  EXPECT_FALSE(f.IsFrameTimerActive(FrameTimer::Save));
}

}  // namespace
}  // namespace qb
