#include "feeds/UpdateCycle.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "feeds/Interpret.h"
#include "tests/support/FakeClock.h"
#include "model/Text.h"
#include "tests/support/HttpServer.h"

namespace qb {
namespace {

using test::HttpResponse;
using test::HttpServer;

std::u16string Rss(const std::u16string& channel, const std::vector<std::u16string>& guids) {
  std::u16string s = u"<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>" + channel +
                     u"</title>";
  for (const std::u16string& g : guids) {
    s += u"<item><title>Item " + g + u"</title><guid>" + g + u"</guid></item>";
  }
  return s + u"</channel></rss>";
}

class RecordingStatus : public IStatusHandler {
 public:
  void SetStatusText(const std::u16string& text) override { texts.push_back(text); }
  std::vector<std::u16string> texts;
};

class CountingCursor : public IWaitCursor {
 public:
  void BeginWait() override {
    ++begun;
    ++depth;
    maxDepth = std::max(maxDepth, depth);
  }
  void EndWait() override { --depth; }
  int begun = 0;
  int depth = 0;
  int maxDepth = 0;
};

// A manager with a fake tick counter and a fake network: each URL answers
// with the text in `documents` (empty when absent) and every fetch is logged.
class UpdateCycleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_manager.SeedRandom(7);
    m_clock.tick = [this] { return m_tick; };
    m_manager.SetClock(m_clock);
    SetFetchFunction([this](const std::u16string& url) {
      m_fetched.push_back(url);
      if (url == u"throw") throw std::runtime_error("fetch failed");
      auto it = m_documents.find(url);
      return it == m_documents.end() ? std::u16string() : it->second;
    });
    m_root = m_manager.AddGroup(0, u"All Sources")->m_id;
  }

  CFeedSource& AddSource(ObjectId group, const std::u16string& url, int32_t minutes = 15) {
    CFeedSource* s = m_manager.AddSource(group, url);
    s->m_refreshInterval = minutes;
    return *s;
  }

  test::FakeClock m_clock;
  ScopedUpdateOverride m_override;
  CFeedsManager m_manager;
  ObjectId m_root = 0;
  uint32_t m_tick = 0;
  std::map<std::u16string, std::u16string> m_documents;
  std::vector<std::u16string> m_fetched;
};

TEST(IsSourceDueTest, IntervalsOnThe32BitCounter) {
  struct Case {
    uint32_t now;
    uint32_t last;
    int32_t minutes;
    bool due;
  };
  const uint32_t T = 5'000'000;
  const Case cases[] = {
      {T + 899'999, T, 15, false},
      {T + 900'000, T, 15, true},
      {T, T, 15, false},
      {899'999, 0, 15, false},      // after start-up only once the interval has passed
      {900'000, 0, 15, true},
      {0x10, 0xFFFFF000u, 15, true},  // wrapped since the last update
      {0xFFFFFFFFu, 0, 71'582, true},        // 4,294,920,000 ms still fits
      {0xFFFFFFFFu, 0, 71'583, false},       // 4,294,980,000 ms does not
      {0xFFFFFFFFu, 0, 525'600, false},      // the welcome source
      {0x10, 0xFFFFF000u, 525'600, false},   // not even after a wrap
      {T, T, 0, true},
      {T, T, -5, true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsSourceDue(c.now, c.last, c.minutes), c.due)
        << c.now << " " << c.last << " " << c.minutes;
  }
}

TEST_F(UpdateCycleTest, AFifteenMinuteSourceIsFetchedAgainOnlyAfterItsInterval) {
  CFeedSource& s = AddSource(m_root, u"u1");
  m_documents[u"u1"] = Rss(u"News", {u"a"});
  const uint32_t T = 10'000'000;
  m_tick = T;
  EXPECT_TRUE(UpdateAll(m_manager, false));
  EXPECT_EQ(s.m_lastUpdateTick, T);
  EXPECT_EQ(s.m_title, u"News");
  ASSERT_EQ(m_fetched.size(), 1u);

  m_documents[u"u1"] = Rss(u"News", {u"a", u"b"});
  for (uint32_t t : {T + 1, T + 60'000, T + 899'999}) {
    m_tick = t;
    EXPECT_FALSE(UpdateAll(m_manager, false));
  }
  EXPECT_EQ(m_fetched.size(), 1u);
  EXPECT_EQ(s.m_articles.size(), 1u);

  m_tick = T + 900'000;
  EXPECT_TRUE(UpdateAll(m_manager, false));
  EXPECT_EQ(m_fetched.size(), 2u);
  EXPECT_EQ(s.m_articles.size(), 2u);
  EXPECT_EQ(s.m_lastUpdateTick, T + 900'000);
}

TEST_F(UpdateCycleTest, ForcedUpdatesIgnoreTheInterval) {
  CFeedSource& s = AddSource(m_root, u"u1");
  CFeedSource& welcome = AddSource(m_root, u"", 525'600);
  welcome.m_autoName = false;
  m_documents[u"u1"] = Rss(u"News", {u"a"});
  m_tick = 10'000'000;
  EXPECT_TRUE(UpdateSource(m_manager, s, false));
  m_tick += 1000;
  m_documents[u"u1"] = Rss(u"News", {u"a", u"b"});
  EXPECT_FALSE(UpdateSource(m_manager, s, false));
  EXPECT_TRUE(UpdateSource(m_manager, s, true));
  EXPECT_EQ(s.m_articles.size(), 2u);

  // The welcome source's year-long interval never comes due by itself, not
  // even late in the counter's range; forcing fetches it.
  m_fetched.clear();
  m_tick = 0xFFFFFF00u;
  UpdateAll(m_manager, false);
  EXPECT_EQ(m_fetched, std::vector<std::u16string>{u"u1"});
  m_fetched.clear();
  UpdateAll(m_manager, true);
  EXPECT_EQ(m_fetched, (std::vector<std::u16string>{u"u1", u""}));
}

TEST_F(UpdateCycleTest, AWrappedCounterMakesTheSourceDue) {
  CFeedSource& s = AddSource(m_root, u"u1");
  m_documents[u"u1"] = Rss(u"News", {u"a"});
  m_tick = 0xFFFF0000u;
  EXPECT_TRUE(UpdateSource(m_manager, s, false));
  EXPECT_EQ(s.m_lastUpdateTick, 0xFFFF0000u);
  m_tick = 0x100;  // 65,792 ms later, past the wrap
  EXPECT_FALSE(UpdateSource(m_manager, s, false));
  EXPECT_EQ(m_fetched.size(), 2u);
  EXPECT_EQ(s.m_lastUpdateTick, 0x100u);
}

TEST_F(UpdateCycleTest, SourcesBeforeChildGroupsDepthFirst) {
  CGroup* child = m_manager.AddGroup(m_root, u"Child");
  CGroup* grandchild = m_manager.AddGroup(child->m_id, u"Grandchild");
  CGroup* sibling = m_manager.AddGroup(m_root, u"Sibling");
  CGroup* second = m_manager.AddGroup(0, u"Second");
  AddSource(sibling->m_id, u"S5");
  AddSource(grandchild->m_id, u"S4");
  AddSource(child->m_id, u"S3");
  AddSource(m_root, u"S1");
  AddSource(m_root, u"S2");
  AddSource(second->m_id, u"S6");
  // Identifiers that do not resolve are skipped.
  m_manager.GetGroup(m_root)->m_sources.push_back(0xDEAD);
  m_manager.GetGroup(m_root)->m_childGroups.push_back(0xBEEF);
  m_manager.m_rootGroups.push_back(0xF00D);
  m_documents[u"S3"] = Rss(u"Three", {u"x"});

  RecordingStatus status;
  m_manager.m_statusHandler = &status;
  CountingCursor cursor;
  SetWaitCursor(&cursor);
  m_tick = 10'000'000;
  EXPECT_TRUE(UpdateAll(m_manager, false));
  SetWaitCursor(nullptr);

  EXPECT_EQ(m_fetched,
            (std::vector<std::u16string>{u"S1", u"S2", u"S3", u"S4", u"S5", u"S6"}));
  EXPECT_EQ(status.texts,
            (std::vector<std::u16string>{u"Updating...", u"Updating 'S1'...", u"Updating 'S2'...",
                                         u"Updating 'S3'...", u"Updating 'S4'...",
                                         u"Updating 'S5'...", u"Updating 'S6'...", u"Ready"}));
  EXPECT_EQ(cursor.begun, 2) << "one wait per root group";
  EXPECT_EQ(cursor.maxDepth, 1);
  EXPECT_EQ(cursor.depth, 0);

  // The empty documents could not be understood: those sources keep their
  // tick and are fetched again at the next pass; S3 is not.
  m_fetched.clear();
  m_tick += 1000;
  EXPECT_FALSE(UpdateAll(m_manager, false));
  EXPECT_EQ(m_fetched, (std::vector<std::u16string>{u"S1", u"S2", u"S4", u"S5", u"S6"}));
}

TEST_F(UpdateCycleTest, ACycleInADamagedFileIsWalkedOnce) {
  CGroup* a = m_manager.AddGroup(m_root, u"A");
  CGroup* b = m_manager.AddGroup(a->m_id, u"B");
  b->m_childGroups.push_back(m_root);  // B contains the root again
  b->m_childGroups.push_back(a->m_id);
  AddSource(m_root, u"S1");
  AddSource(b->m_id, u"S2");
  m_tick = 10'000'000;
  UpdateAll(m_manager, false);
  EXPECT_EQ(m_fetched, (std::vector<std::u16string>{u"S1", u"S2"}));
}

TEST_F(UpdateCycleTest, WithoutStatusHandlerOrCursorTheUpdateStillRuns) {
  ASSERT_EQ(m_manager.m_statusHandler, nullptr);
  ASSERT_EQ(GetWaitCursor(), nullptr);
  CFeedSource& s = AddSource(m_root, u"u1");
  m_documents[u"u1"] = Rss(u"News", {u"a", u"b"});
  EXPECT_TRUE(UpdateAll(m_manager, true));
  EXPECT_EQ(s.m_articles.size(), 2u);
  EXPECT_EQ(s.m_commsStatus, kCommsStatusOk);
}

TEST_F(UpdateCycleTest, FailuresSetTheCommsStatusAndNeverStopThePass) {
  CFeedSource& thrown = AddSource(m_root, u"throw");
  CFeedSource& empty = AddSource(m_root, u"empty");
  CFeedSource& html = AddSource(m_root, u"html");
  CFeedSource& good = AddSource(m_root, u"good");
  m_documents[u"html"] = u"<html><body>Not Found</body></html>";
  m_documents[u"good"] = Rss(u"Good", {u"1"});
  // An article already held survives every failed update.
  m_documents[u"empty"] = Rss(u"Empty", {u"kept"});
  ASSERT_TRUE(UpdateSource(m_manager, empty, true));
  m_documents.erase(u"empty");

  std::vector<std::pair<std::u16string, bool>> reported;
  SetSourceUpdatedFunction([&](const CFeedSource& s, bool added) {
    reported.emplace_back(s.m_url, added);
  });
  EXPECT_TRUE(UpdateAll(m_manager, true));
  EXPECT_EQ(thrown.m_commsStatus, kCommsDownloadError);
  EXPECT_EQ(empty.m_commsStatus, kCommsStatusNotUnderstood);
  EXPECT_EQ(html.m_commsStatus, kCommsStatusNotUnderstood);
  EXPECT_EQ(good.m_commsStatus, kCommsStatusOk);
  EXPECT_EQ(empty.m_articles.size(), 1u);
  EXPECT_EQ(reported, (std::vector<std::pair<std::u16string, bool>>{
                          {u"throw", false}, {u"empty", false}, {u"html", false}, {u"good", true}}));
}

// The whole road through the real download: loopback server, parser,
// interpretation.
TEST(UpdateCycleNetworkTest, RealDownloadsEndToEnd) {
  HttpServer server;
  server.Set("/feed", HttpResponse::Ok(Utf16ToUtf8(Rss(u"Loopback", {u"g1", u"g2"}))));
  server.Set("/moved", HttpResponse::Redirect("/feed"));
  CFeedsManager manager;
  manager.SeedRandom(11);
  const ObjectId root = manager.AddGroup(0, u"All Sources")->m_id;
  CFeedSource* feed = manager.AddSource(root, server.Url16("/moved"));
  CFeedSource* missing = manager.AddSource(root, server.Url16("/missing"));
  CFeedSource* refused = manager.AddSource(
      root, u"http://127.0.0.1:" + Widen(std::to_string(HttpServer::ClosedPort())) + u"/feed");

  EXPECT_TRUE(UpdateAll(manager, true));
  EXPECT_EQ(feed->m_title, u"Loopback");
  EXPECT_EQ(feed->m_commsStatus, kCommsStatusOk);
  ASSERT_EQ(feed->m_articles.size(), 2u);
  EXPECT_EQ(manager.GetFeed(feed->m_articles[0])->m_title, u"Item g1");
  EXPECT_EQ(missing->m_commsStatus, kCommsStatusNotUnderstood);
  EXPECT_EQ(refused->m_commsStatus, kCommsStatusNotUnderstood);
  EXPECT_FALSE(UpdateAll(manager, true)) << "nothing new the second time";
}

}  // namespace
}  // namespace qb
