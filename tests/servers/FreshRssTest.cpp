// The sync client against a real FreshRSS, one server for every test here,
// each test with users of its own. The feeds FreshRSS subscribes to come
// from a loopback server of the test.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <set>

#include "base/Text.h"
#include "sync/GReaderClient.h"
#include "tests/support/FreshRss.h"
#include "tests/support/HttpServer.h"
#include "tests/servers/Servers.h"
#include "tests/support/SyncDevice.h"

namespace qb {
namespace {

using test::Await;
using test::SyncDevice;
using Nothing = CGReaderClient::Nothing;

test::FreshRss* g_server = nullptr;
test::HttpServer* g_feeds = nullptr;

// An RSS document of `count` items named "<prefix>1" ... with distinct guids.
std::string Rss(const std::string& prefix, int count) {
  std::string items;
  for (int i = 1; i <= count; ++i) {
    const std::string n = prefix + std::to_string(i);
    char date[64];
    std::snprintf(date, sizeof(date), "Mon, %02d Jan 2024 10:00:00 GMT", i);
    items += "<item><title>" + n + "</title><link>http://example.org/" + n + "</link><guid isPermaLink=\"false\">urn:qb:" + n +
             "</guid><pubDate>" + date + "</pubDate><description>Text of " + n + "</description></item>";
  }
  return "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>Feed " + prefix +
         "</title><link>http://example.org/" + prefix + "</link>" + items + "</channel></rss>";
}

std::string ServeFeed(const std::string& prefix, int count) {
  const std::string path = "/" + prefix + ".xml";
  g_feeds->Set(path, test::HttpResponse::Ok(Rss(prefix, count)));
  return g_feeds->Url(path);
}

GReaderAccount Account(const std::string& user) {
  return {GReaderServerKind::kFreshRss, GReaderApiBase(GReaderServerKind::kFreshRss, g_server->Address()).url, user};
}

// A user of its own with a client; the pool is the program's one.
struct Session {
  explicit Session(const std::string& name, GReaderClientOptions options = {})
      : user(name), client(pool, Account(name), "api-" + name, options) {
    g_server->CreateUser(name, "api-" + name);
  }
  // Another device of the same user.
  std::unique_ptr<CGReaderClient> Other(GReaderClientOptions options = {}) {
    return std::make_unique<CGReaderClient>(pool, Account(user), "api-" + user, options);
  }
  std::string user;
  CDownloadPool pool;
  CGReaderClient client;
};

template <class T>
T Ok(GReaderReply<T> reply) {
  EXPECT_TRUE(reply.error.ok()) << Utf16ToUtf8(reply.error.message);
  return std::move(reply.value);
}

std::set<std::string> Ids(CGReaderClient& client, const std::string& stream, const std::string& exclude = {}) {
  const ServerIdList list = Ok(Await<ServerIdList>([&](auto done) { client.FetchIds({stream, exclude}, done); }));
  return {list.ids.begin(), list.ids.end()};
}

GReaderSubscription Subscribe(CGReaderClient& client, const std::string& url, const std::u16string& title,
                              const std::u16string& folder) {
  return Ok(Await<GReaderSubscription>([&](auto done) { client.Subscribe(url, title, folder, done); }));
}

// The item of that title among the device's, by what the server sent.
std::map<std::u16string, std::string> IdsByTitle(const GReaderSyncOutcome& outcome) {
  std::map<std::u16string, std::string> ids;
  for (const GReaderItem& item : outcome.items) ids[item.title] = item.id;
  return ids;
}

TEST(FreshRssTest, SignInNamesTheUserOrTheServersReason) {
  Session s("signin");
  EXPECT_EQ(Ok(Await<std::u16string>([&](auto done) { s.client.SignIn(done); })), u"signin");
  struct Case {
    std::string user, password;
  };
  for (const Case& c : {Case{"signin", "wrong"}, Case{"nobody", "api-signin"}}) {
    CGReaderClient bad(s.pool, Account(c.user), c.password);
    const GReaderReply<std::u16string> r = Await<std::u16string>([&](auto done) { bad.SignIn(done); });
    EXPECT_EQ(r.error.status, GReaderStatus::kSignInRefused) << c.user;
    EXPECT_EQ(r.error.message, u"The server refused the sign-in: Unauthorized!") << c.user;
    EXPECT_EQ(Utf16ToUtf8(r.error.message).find(c.password), std::string::npos);
  }
}

// Folders, feeds and articles come down; marks made here go up; marks made
// elsewhere come down unless a mark here is still waiting, which wins.
TEST(FreshRssTest, ASyncBringsTheAccountAndCarriesMarksBothWays) {
  Session s("reader");
  const GReaderSubscription news = Subscribe(s.client, ServeFeed("reader-a", 5), u"Alpha", u"News");
  const GReaderSubscription tech = Subscribe(s.client, ServeFeed("reader-b", 3), u"", u"Tech");
  EXPECT_EQ(news.title, u"Alpha");
  EXPECT_EQ(news.folders, std::vector<std::string>{"user/-/label/News"});
  EXPECT_EQ(tech.title, u"Feed reader-b");

  SyncDevice device;
  GReaderSyncOutcome first = device.Sync(s.client);
  ASSERT_TRUE(first.error.ok()) << Utf16ToUtf8(first.error.message);
  std::set<std::u16string> folders;
  for (const GReaderFolder& f : first.folders) folders.insert(f.name);
  EXPECT_TRUE(folders.count(u"News") && folders.count(u"Tech"));
  EXPECT_EQ(first.items.size(), 8u);
  EXPECT_EQ(first.unreadCounts.at(news.id), 5);
  EXPECT_EQ(first.unreadCounts.at(kReadingListStream), 8);
  std::map<std::u16string, std::string> id = IdsByTitle(first);
  const auto a1It = std::find_if(first.items.begin(), first.items.end(),
                                 [&](const GReaderItem& i) { return i.title == u"reader-a1"; });
  ASSERT_NE(a1It, first.items.end());
  const GReaderItem& a1 = *a1It;
  EXPECT_EQ(a1.streamId, news.id);
  EXPECT_EQ(a1.link, u"http://example.org/reader-a1");
  EXPECT_EQ(a1.content, u"Text of reader-a1");
  EXPECT_EQ(a1.published, 1704103200);
  EXPECT_FALSE(a1.read);

  // Marks made here reach the server.
  device.Mark(id[u"reader-a1"], MarkFlag::kRead, true);
  device.Mark(id[u"reader-a2"], MarkFlag::kStarred, true);
  device.Mark(id[u"reader-b1"], MarkFlag::kRead, true);
  GReaderSyncOutcome second = device.Sync(s.client);
  EXPECT_TRUE(second.error.ok());
  EXPECT_EQ(second.acknowledged.size(), 3u);
  EXPECT_TRUE(device.pending.empty());
  EXPECT_TRUE(second.plan.apply.empty() && second.plan.fetch.empty() && second.plan.remove.empty());
  EXPECT_EQ(second.unreadCounts.at(kReadingListStream), 6);
  EXPECT_EQ(Ids(s.client, kStarredStream), std::set<std::string>{id[u"reader-a2"]});

  // Nothing new: the six reads of a pull and nothing else.
  EXPECT_EQ(device.Sync(s.client).requests, 6u);

  // Another device marks a3 read and stars b2, and reads a4 while this one
  // has made a4 unread again after reading it: that wait here wins.
  std::unique_ptr<CGReaderClient> other = s.Other();
  const auto edit = [&](const std::string& tag, bool add, std::vector<std::string> ids) {
    EXPECT_EQ(Ok(Await<size_t>([&](auto done) { other->EditTag(tag, add, ids, done); })), ids.size());
  };
  device.Mark(id[u"reader-a4"], MarkFlag::kRead, true);
  device.Mark(id[u"reader-a4"], MarkFlag::kRead, false);
  edit(kReadStream, true, {id[u"reader-a3"], id[u"reader-a4"]});
  edit(kStarredStream, true, {id[u"reader-b2"]});
  const GReaderSyncOutcome third = device.Sync(s.client);
  std::map<std::string, LocalItemState> changed;
  for (const StateChange& c : third.plan.apply) changed[c.id] = c.state;
  EXPECT_EQ(changed, (std::map<std::string, LocalItemState>{{id[u"reader-a3"], {true, false}},
                                                            {id[u"reader-b2"], {false, true}}}));
  EXPECT_FALSE(device.items.at(id[u"reader-a4"]).read);
  EXPECT_TRUE(Ids(s.client, kReadingListStream, kReadStream).count(id[u"reader-a4"]));

  // New articles are fetched, and only they.
  Subscribe(*other, ServeFeed("reader-c", 2), u"", u"News");
  const GReaderSyncOutcome fourth = device.Sync(s.client);
  EXPECT_EQ(fourth.plan.fetch.size(), 2u);
  EXPECT_EQ(fourth.items.size(), 2u);
  EXPECT_EQ(fourth.requests, 7u);

  // A feed unsubscribed elsewhere takes its articles with it, but for the
  // starred one, whose only copy is now here.
  EXPECT_TRUE(Await<Nothing>([&](auto done) { other->Unsubscribe(tech.id, done); }).error.ok());
  const GReaderSyncOutcome fifth = device.Sync(s.client);
  EXPECT_EQ(fifth.plan.remove.size(), 2u);
  EXPECT_EQ(device.items.count(id[u"reader-b1"]), 0u);
  EXPECT_EQ(device.items.count(id[u"reader-b2"]), 1u);
  EXPECT_EQ(device.items.size(), 8u);
}

TEST(FreshRssTest, MarkAllAsReadSparesWhatCameLater) {
  Session s("marker");
  const GReaderSubscription feed = Subscribe(s.client, ServeFeed("marker", 4), u"", u"");
  std::vector<int64_t> ids;
  for (const std::string& id : Ids(s.client, kReadingListStream)) ids.push_back(*ShortItemId(id));
  ASSERT_EQ(ids.size(), 4u);
  std::sort(ids.begin(), ids.end());
  // FreshRSS's ids are the microseconds of their arrival.
  const GReaderReply<Nothing> r =
      Await<Nothing>([&](auto done) { s.client.MarkAllAsRead(feed.id, ids[1], done); });
  EXPECT_TRUE(r.error.ok()) << Utf16ToUtf8(r.error.message);
  std::set<int64_t> unread;
  for (const std::string& id : Ids(s.client, kReadingListStream, kReadStream)) unread.insert(*ShortItemId(id));
  EXPECT_EQ(unread, (std::set<int64_t>{ids[2], ids[3]}));
}

// Marks made while the server is down wait, survive the client (the
// library keeps the queue), and reach the server once, when it is back.
TEST(FreshRssTest, MarksMadeOfflineReachTheServerLater) {
  Session s("offline");
  Subscribe(s.client, ServeFeed("offline", 4), u"", u"");
  SyncDevice device;
  const std::map<std::u16string, std::string> id = IdsByTitle(device.Sync(s.client));
  g_server->Stop();
  device.Mark(id.at(u"offline1"), MarkFlag::kRead, true);
  device.Mark(id.at(u"offline2"), MarkFlag::kStarred, true);
  device.Mark(id.at(u"offline3"), MarkFlag::kRead, true);
  device.Mark(id.at(u"offline3"), MarkFlag::kStarred, true);
  const GReaderSyncOutcome failed = device.Sync(s.client);
  g_server->Start();
  EXPECT_EQ(failed.error.status, GReaderStatus::kUnreachable);
  EXPECT_FALSE(failed.pulled);
  EXPECT_EQ(device.pending.size(), 4u);

  std::unique_ptr<CGReaderClient> restarted = s.Other();
  const GReaderSyncOutcome later = device.Sync(*restarted);
  EXPECT_TRUE(later.error.ok()) << Utf16ToUtf8(later.error.message);
  EXPECT_EQ(later.acknowledged, (std::vector<uint64_t>{1, 2, 3, 4}));
  EXPECT_TRUE(later.plan.apply.empty());
  EXPECT_EQ(Ids(*restarted, kReadingListStream, kReadStream),
            (std::set<std::string>{id.at(u"offline2"), id.at(u"offline4")}));
  EXPECT_EQ(Ids(*restarted, kStarredStream), (std::set<std::string>{id.at(u"offline2"), id.at(u"offline3")}));
  EXPECT_EQ(device.Sync(*restarted).requests, 6u) << "nothing is pushed twice";
}

}  // namespace

namespace test {
FreshRss& SharedFreshRss() { return *g_server; }
HttpServer& SharedFeeds() { return *g_feeds; }
std::string ServeSharedFeed(const std::string& prefix, int count) { return ServeFeed(prefix, count); }
}  // namespace test

}  // namespace qb

int main(int argc, char** argv) {
  if (qb::test::FreshRss::SourceFolder().empty()) {
    std::printf("freshrss: skipped, no copy of FreshRSS (set QB_FRESHRSS or put it in ../shared/servers/freshrss)\n");
    return 77;
  }
  testing::InitGoogleTest(&argc, argv);
  try {
    qb::test::HttpServer feeds;
    qb::test::FreshRss server;
    qb::g_feeds = &feeds;
    qb::g_server = &server;
    const int result = RUN_ALL_TESTS();
    qb::g_server = nullptr;
    qb::g_feeds = nullptr;
    return result;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "freshrss: %s\n", e.what());
    return 1;
  }
}
