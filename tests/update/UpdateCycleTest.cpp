#include "update/UpdateCycle.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/Text.h"
#include "formats/Interpret.h"
#include "model/ModelWriter.h"
#include "tests/support/HttpServer.h"
#include "tests/support/UpdatePasses.h"

namespace qb {
namespace {

using test::HttpResponse;
using test::HttpServer;

std::string Rss(const std::string& channel, const std::vector<std::string>& guids) {
  std::string s = "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>" + channel + "</title>";
  for (const std::string& g : guids) s += "<item><title>Item " + g + "</title><guid>" + g + "</guid></item>";
  return s + "</channel></rss>";
}

class RecordingStatus : public IStatusHandler {
 public:
  void SetStatusText(const std::u16string& text) override { texts.push_back(text); }
  std::vector<std::u16string> texts;
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

// The passes that run to completion on the caller's thread, through the
// real download: loopback server, parser, interpretation.
TEST(UpdateCycleNetworkTest, RealDownloadsEndToEnd) {
  HttpServer server;
  server.Set("/feed", HttpResponse::Ok(Rss("Loopback", {"g1", "g2"})));
  server.Set("/moved", HttpResponse::Redirect("/feed"));
  server.Set("/other", HttpResponse::Ok(Rss("Other", {"o1"})));
  CFeedsManager manager;
  manager.SeedRandom(11);
  RecordingStatus status;
  const ObjectId root = manager.AddGroup(0, u"All Sources")->m_id;
  const CFeedSource* feed = manager.AddSource(root, server.Url16("/moved"));
  const CFeedSource* missing = manager.AddSource(root, server.Url16("/missing"));
  const CFeedSource* refused = manager.AddSource(
      root, u"http://127.0.0.1:" + Widen(std::to_string(HttpServer::ClosedPort())) + u"/feed");
  CFeedSource* other = CModelWriter(manager).Source(manager.AddSource(root, server.Url16("/other"))->m_id);

  EXPECT_TRUE(UpdateSource(manager, *other, true, &status));
  EXPECT_EQ(other->m_title, u"Other");
  EXPECT_EQ(status.texts, (std::vector<std::u16string>{
                              kStatusUpdating, UpdatingSourceStatus(server.Url16("/other")), kStatusReady}));
  EXPECT_TRUE(feed->m_articles.empty()) << "one source only";

  EXPECT_TRUE(UpdateAll(manager, true, &status));
  EXPECT_EQ(feed->m_title, u"Loopback");
  EXPECT_EQ(feed->m_commsStatus, kCommsStatusOk);
  ASSERT_EQ(feed->m_articles.size(), 2u);
  EXPECT_EQ(manager.GetFeed(feed->m_articles[0])->m_title, u"Item g1");
  EXPECT_EQ(missing->m_commsStatus, kCommsStatusNotUnderstood);
  EXPECT_EQ(refused->m_commsStatus, kCommsDownloadError);
  EXPECT_EQ(status.texts.back(), kStatusReady);
  EXPECT_FALSE(UpdateAll(manager, true, &status)) << "nothing new the second time";

  EXPECT_FALSE(UpdateAll(manager, true)) << "no status handler: the pass still runs";
  EXPECT_EQ(other->m_commsStatus, kCommsStatusOk);
}

}  // namespace
}  // namespace qb
