// Accounts in the model and the library: the account node and what may be
// done below it, its settings and item ids in the module's tables, the
// pending queue written with the flag it follows, and the lease.
#include "sync/SyncModule.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "library/Library.h"
#include "library/LibraryLink.h"
#include "model/FeedReading.h"
#include "model/FeedsManager.h"
#include "model/TreeOrder.h"
#include "sync/AccountSync.h"
#include "tests/support/TempDir.h"

namespace qb {
namespace {

// One process on the library: its model, link and sync module.
struct Device {
  explicit Device(const std::string& path) : module(model) {
    EXPECT_TRUE(library.Open(path).opened);
    load = library.Load(model);
    link = std::make_unique<CLibraryLink>(model, library, &load);
    library.AddModule(module);
    EXPECT_TRUE(module.Load(library));
  }
  ~Device() {
    library.RemoveModule(module);
    link.reset();
    model.SetArticleStore(nullptr);
  }
  void Write() { ASSERT_FALSE(link->FlushAndWait().failure); }
  CLibrary library;
  LibraryLoadResult load;
  CFeedsManager model;
  std::unique_ptr<CLibraryLink> link;
  CSyncModule module;
};

struct Account {
  ObjectId account = 0, folder = 0, source = 0;
  IdList articles;  // item ids "1", "2", "3"
};

// An account with a folder, a feed in it and three articles, as a sync
// brings them.
Account AddAccount(Device& d) {
  Account a;
  a.account = d.model.AddAccount(u"alice@rss.example.org")->m_id;
  d.module.PutAccount({a.account, u"alice@rss.example.org", GReaderServerKind::kFreshRss,
                       "http://rss.example.org/api/greader.php", "alice"});
  d.model.ApplyAccountState([&] {
    a.folder = d.model.AddGroup(a.account, u"News")->m_id;
    a.source = d.model.AddSource(a.folder, u"http://example.org/feed.xml")->m_id;
    FeedReading reading;
    reading.understood = true;
    for (const char16_t* id : {u"1", u"2", u"3"}) {
      ArticleCandidate c;
      c.fields.m_key = id;
      c.fields.m_title = id;
      reading.articles.push_back(c);
    }
    d.model.MergeArticles(a.source, reading, 0);
    const CFeedSource* s = d.model.GetFeedSource(a.source);
    for (ObjectId id : s->m_articles) {
      a.articles.push_back(id);
      d.module.SetItemId(id, a.account, std::string(d.model.GetFeed(id)->m_key.begin(), d.model.GetFeed(id)->m_key.end()));
    }
  });
  return a;
}

TEST(SyncModuleTest, AnAccountIsTheServersLocallyButForItsRemoval) {
  test::TempDir dir;
  Device d(dir.File("Library.sqlite"));
  const ObjectId local = d.model.RootGroups().front();
  const ObjectId localSource = d.model.AddSource(local, u"http://local.example/feed")->m_id;
  const Account a = AddAccount(d);
  using M = CFeedsManager;
  EXPECT_EQ(d.model.AccountOf(a.articles[0]), a.account);
  EXPECT_EQ(d.model.AccountOf(a.folder), a.account);
  EXPECT_EQ(d.model.AccountOf(localSource), 0u);
  EXPECT_EQ(d.model.CapabilitiesOf(a.account), uint32_t{M::kCanDelete});
  EXPECT_EQ(d.model.CapabilitiesOf(a.folder), 0u);
  EXPECT_EQ(d.model.CapabilitiesOf(a.source), 0u);
  // The user's operations are refused, in and out.
  EXPECT_FALSE(d.model.Rename(a.source, u"Mine"));
  EXPECT_FALSE(d.model.SetSourceUrl(a.source, u"http://elsewhere/"));
  EXPECT_FALSE(d.model.MoveSource(a.source, local));
  EXPECT_FALSE(d.model.MoveSource(localSource, a.folder));
  EXPECT_FALSE(d.model.MoveGroup(local, a.folder));
  EXPECT_FALSE(d.model.DeleteGroup(a.folder));
  EXPECT_FALSE(d.model.ClearHistory(a.source));
  EXPECT_EQ(d.model.AddGroup(a.account, u"Mine"), nullptr);
  // A new feed goes beside the account, never into it ("alice@..." comes
  // first in the tree).
  CFeedsManager::AddSourceStatus status{};
  EXPECT_EQ(d.model.SubscribeSource(a.folder, u"http://new.example/feed", &status), nullptr);
  EXPECT_EQ(status, CFeedsManager::AddSourceStatus::NotAGroup);
  EXPECT_EQ(GroupForNewFeed(d.model, std::nullopt), local);
  EXPECT_EQ(GroupForNewFeed(d.model, a.source), local);
  // The server's changes pass, except fetching and retention, which are
  // the server's.
  d.model.ApplyAccountState([&] {
    EXPECT_EQ(d.model.CapabilitiesOf(a.source) & (M::kCanFetch | M::kCanApplyRetention | M::kCanClearHistory), 0u);
    EXPECT_TRUE(d.model.Rename(a.source, u"Renamed by the server"));
    EXPECT_TRUE(d.model.MoveSource(a.source, a.account));
  });
  d.model.MarkRead({a.articles[0]}, true);
  d.model.SetRetentionDays(1);
  EXPECT_EQ(d.model.ApplyRetention(d.model.Clock().CurrentTime() + 30 * 86400), 0u);
  EXPECT_EQ(d.model.GetFeedSource(a.source)->m_articles.size(), 3u);
}

// The settings, the item ids and the queue are the library's; the flag and
// its queue entry are written by one transaction, so a process that stops
// before it leaves neither and one that stops after leaves both.
TEST(SyncModuleTest, TheQueueIsWrittenWithTheFlagAndOutlivesTheProcess) {
  test::TempDir dir;
  const std::string path = dir.File("Library.sqlite");
  Account a;
  {
    Device d(path);
    a = AddAccount(d);
    d.Write();
    SyncAccountSettings changed = *d.module.Account(a.account);
    changed.refreshMinutes = 45;
    d.module.PutAccount(changed);
    // Marks the server brought are no marks to send back.
    d.model.ApplyAccountState([&] { d.model.MarkRead({a.articles[2]}, true); });
    d.model.MarkRead({a.articles[0]}, true);
    d.model.SetStarred({a.articles[1]}, true);
    d.model.MarkRead({a.articles[0]}, false);
    d.Write();
    d.model.SetStarred({a.articles[0]}, true);  // never written: gone with the process
    d.link.reset();
  }
  Device d(path);
  ASSERT_NE(d.module.Account(a.account), nullptr);
  EXPECT_EQ(d.module.Account(a.account)->user, "alice");
  EXPECT_EQ(d.module.Account(a.account)->kind, GReaderServerKind::kFreshRss);
  EXPECT_EQ(d.module.Account(a.account)->refreshMinutes, 45);
  EXPECT_EQ(d.module.ItemIdOf(a.articles[1]), "2");
  EXPECT_TRUE(d.model.GetFeed(a.articles[1])->m_starred);
  EXPECT_FALSE(d.model.GetFeed(a.articles[0])->m_starred);
  EXPECT_TRUE(d.model.GetFeed(a.articles[2])->m_read);
  std::vector<PendingMark> queue;
  ASSERT_TRUE(d.module.ReadQueue(d.library, a.account, queue));
  ASSERT_EQ(queue.size(), 3u);
  EXPECT_EQ(queue[0].id, "1");
  EXPECT_EQ(queue[0].flag, MarkFlag::kRead);
  EXPECT_TRUE(queue[0].value);
  EXPECT_EQ(queue[1].id, "2");
  EXPECT_EQ(queue[1].flag, MarkFlag::kStarred);
  EXPECT_EQ(queue[2].id, "1");
  EXPECT_FALSE(queue[2].value);
  EXPECT_LT(queue[0].seq, queue[1].seq);
  EXPECT_LT(queue[1].seq, queue[2].seq);

  // Acknowledged entries leave with the next batch; a mark on an article
  // deleted since still goes out.
  d.model.MarkRead({a.articles[1]}, true);
  d.model.DeleteArticles({a.articles[1]});
  d.module.Acknowledge({queue[0].seq, queue[1].seq});
  d.Write();
  ASSERT_TRUE(d.module.ReadQueue(d.library, a.account, queue));
  ASSERT_EQ(queue.size(), 2u);
  EXPECT_EQ(queue[1].id, "2");
  EXPECT_EQ(d.module.ItemIdOf(a.articles[1]), "");
  // What the user deleted is never fetched again; what the server took
  // away may come back.
  d.model.ApplyAccountState([&] { d.model.DeleteArticles({a.articles[2]}); });
  d.Write();
  {
    Device again(path);
    EXPECT_EQ(again.module.DeletedOf(a.account), std::unordered_set<std::string>{"2"});
  }

  // Removing the account removes its local copy, its rows with it, and
  // lets its owner drop the password.
  ObjectId removed = 0;
  d.module.SetAccountRemovedHook([&](ObjectId id) { removed = id; });
  ASSERT_TRUE(d.model.DeleteGroup(a.account));
  EXPECT_EQ(removed, a.account);
  d.Write();
  CSqliteDb db;
  db.Open(path, SQLITE_OPEN_READONLY);
  for (const char* table : {"sync_accounts", "sync_items", "sync_pending", "sync_deleted"}) {
    EXPECT_EQ(db.QueryInt(std::string("SELECT count(*) FROM ") + table), 0) << table;
  }
}

TEST(SyncModuleTest, OneProcessHoldsTheLeaseUntilItGivesItBackOrItRunsOut) {
  test::TempDir dir;
  const std::string path = dir.File("Library.sqlite");
  Device first(path);
  const Account a = AddAccount(first);
  first.Write();
  Device second(path);
  const int64_t now = 1'700'000'000;
  int64_t until = 0;
  ASSERT_TRUE(first.module.TakeLease(first.library, a.account, now, 600));
  EXPECT_FALSE(second.module.TakeLease(second.library, a.account, now + 10, 600, &until));
  EXPECT_EQ(until, now + 600);
  EXPECT_TRUE(first.module.TakeLease(first.library, a.account, now + 20, 600)) << "the holder renews it";
  // A holder that died: its lease runs out.
  EXPECT_TRUE(second.module.TakeLease(second.library, a.account, now + 621, 600));
  EXPECT_FALSE(first.module.TakeLease(first.library, a.account, now + 622, 600));
  // Given back with the batch that writes the sync's outcome.
  second.module.ReleaseLeaseWithBatch(a.account, second.library.Writer());
  EXPECT_FALSE(first.module.TakeLease(first.library, a.account, now + 623, 600));
  second.Write();
  EXPECT_TRUE(first.module.TakeLease(first.library, a.account, now + 624, 600));

  // Another connection is writing (the writer thread, the CLI): the lease,
  // taken on the window's thread, does not wait for it but says the library
  // is busy, and giving it back goes with the holder's next batch.
  {
    CSqliteDb other;
    other.Open(path, SQLITE_OPEN_READWRITE);
    other.Exec("BEGIN IMMEDIATE");
    std::string error;
    EXPECT_FALSE(second.module.TakeLease(second.library, a.account, now + 625, 600, nullptr, &error));
    EXPECT_EQ(error, kLibraryBusy);
    first.module.ReleaseLease(first.library, a.account);
    other.Exec("COMMIT");
  }
  EXPECT_FALSE(second.module.TakeLease(second.library, a.account, now + 626, 600)) << "until the holder's batch";
  first.Write();
  std::string error;
  EXPECT_TRUE(second.module.TakeLease(second.library, a.account, now + 627, 600, nullptr, &error)) << error;
}

TEST(SyncModuleTest, TheStatusLineCountsInThousands) {
  EXPECT_EQ(SyncProgressText(u"alice@rss.example.org", 1200, 5000),
            u"Syncing alice@rss.example.org: 1,200 of 5,000 articles");
  EXPECT_EQ(SyncProgressText(u"a", 0, 1234567), u"Syncing a: 0 of 1,234,567 articles");
}

}  // namespace
}  // namespace qb
