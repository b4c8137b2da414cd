// The library kept in step with a model: every change an operation reports
// reaches the library, writes that fail are written again, and two users of
// one library see each other's changes without losing their own.
#include "library/LibraryLink.h"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <random>
#include <string>

#include "library/LibrarySchema.h"
#include "model/FeedsManager.h"
#include "model/ModelWriter.h"
#include "tests/support/FullDisk.h"
#include "tests/support/SampleModel.h"
#include "tests/support/TempDir.h"

namespace qb {
namespace {

class Recorder final : public IModelObserver {
 public:
  void OnModelChanged(const CFeedsManager&, const CModelChange& change) override { changes.push_back(change); }
  std::vector<CModelChange> changes;
};

// One user of the library: its own connections, model and sync, as a
// process of its own would have them.
struct User {
  explicit User(const std::string& path, int busyTimeoutMs = 10000) {
    LibraryOpenOptions options;
    options.busyTimeoutMs = busyTimeoutMs;
    opened = library.Open(path, options);
    load = library.Load(model);
    CLibraryLink::Options syncOptions;
    sync = std::make_unique<CLibraryLink>(model, library, &load, syncOptions);
  }
  ~User() {
    sync.reset();
    model.SetArticleStore(nullptr);
  }
  CLibrary library;
  LibraryOpenOutcome opened;
  LibraryLoadResult load;
  CFeedsManager model;
  std::unique_ptr<CLibraryLink> sync;
};

// What the library holds, loaded afresh.
void ExpectLibraryHolds(const std::string& path, const CFeedsManager& expected) {
  CLibrary library;
  ASSERT_TRUE(library.Open(path).opened);
  CFeedsManager m;
  ASSERT_TRUE(library.Load(m).ok);
  test::ExpectSameModel(expected, m);
  test::ExpectSameHistoryOrder(expected, m);
  for (const auto& [id, c] : expected.CountAll()) EXPECT_EQ(m.Counts(id), c) << id;
  EXPECT_TRUE(SaveToBytes(m) == SaveToBytes(expected)) << "an export equals a save of the model in memory";
  m.SetArticleStore(nullptr);
  CSqliteDb db;
  db.Open(path, SQLITE_OPEN_READONLY);
  CSqliteStatement check = db.Prepare("PRAGMA integrity_check");
  ASSERT_TRUE(check.Step());
  EXPECT_EQ(check.Text(0), "ok");
}

// Appends new articles the way an update does.
IdList Update(CFeedsManager& m, ObjectId sourceId, int count, std::mt19937& rng) {
  if (m.GetFeedSource(sourceId) == nullptr) return {};
  static int serial = 0;
  FeedReading reading;
  // Now and then a document not understood: its articles still come, the
  // status says so.
  reading.understood = rng() % 4 != 0;
  reading.title = u"Channel";
  std::u16string text;
  for (int i = 0; i < count; ++i) {
    ArticleCandidate a;
    const std::string n = std::to_string(++serial);
    a.fields.m_key = u"key" + std::u16string(n.begin(), n.end());
    a.fields.m_title = u"Title " + a.fields.m_key;
    a.fields.m_channel = u"Channel";
    a.fields.m_date = CDateTime::FromTime(1'700'000'000 + static_cast<int64_t>(rng() % 100000));
    a.description = u"<p>body " + a.fields.m_key + u" \u00E9</p>";
    a.markupBegin = text.size();
    text += u"<item>" + a.fields.m_key + u"</item>";
    a.markupEnd = text.size();
    reading.articles.push_back(std::move(a));
  }
  reading.text = SharedText(std::move(text));
  const size_t before = m.GetFeedSource(sourceId)->m_articles.size();
  m.MergeArticles(sourceId, std::move(reading), 1);
  const IdList& now = m.GetFeedSource(sourceId)->m_articles;
  return IdList(now.begin() + static_cast<std::ptrdiff_t>(before), now.end());
}

std::string LibraryWithSample(const test::TempDir& dir) {
  CFeedsManager m;
  test::BuildSampleModel(m, 200);
  test::WriteFile(dir.File("Feeds"), SaveToBytes(m));
  ImportReport report;
  const std::string path = dir.File("Library.sqlite");
  EXPECT_TRUE(ImportDataFile(dir.File("Feeds"), path, report));
  return path;
}

class RandomOperationsTest : public ::testing::TestWithParam<unsigned> {};

TEST_P(RandomOperationsTest, ReachTheLibraryWhole) {
  test::TempDir dir;
  const std::string path = LibraryWithSample(dir);
  User user(path);
  CFeedsManager& m = user.model;
  m.SeedRandom(GetParam());
  std::mt19937 rng(GetParam());
  auto pick = [&](const IdList& ids) { return ids.empty() ? ObjectId{0} : ids[rng() % ids.size()]; };
  enum Op {
    kAddGroup, kSubscribe, kUpdate, kMark, kDeleteArticles, kMoveSource, kMoveGroup, kRename, kExpand, kSort,
    kUrl, kInterval, kClearHistory, kFeedRetention, kFullArticle, kRetention, kWelcome, kBatch, kDeleteSource,
    kDeleteGroup
  };
  // One source near the history's limit, so that updates evict keys.
  IdList start;
  m.CollectSources(0, start);
  const ObjectId full = start.front();
  Update(m, full, static_cast<int>(kHistoryLimit) - 3, rng);
  // Weighted so that the model grows while every operation happens often.
  std::discrete_distribution<int> ops({4, 4, 12, 10, 3, 3, 3, 3, 2, 2, 2, 2, 1, 1, 1, 1, 1, 2, 1, 1});
  for (int step = 0; step < 600; ++step) {
    IdList groups, sources, articles;
    m.CollectGroups(groups);
    m.CollectSources(0, sources);
    m.CollectFeeds(0, articles);
    const std::u16string n = u"n" + std::u16string(1, char16_t(u'a' + step % 26));
    switch (ops(rng)) {
      case kAddGroup: m.AddGroup(rng() % 3 == 0 ? 0 : pick(groups), u"Group " + n); break;
      case kSubscribe:
        m.SubscribeSource(pick(groups), u"http://feed.example/" + n + std::u16string(1, char16_t(u'0' + step % 10)));
        break;
      case kUpdate: Update(m, rng() % 3 == 0 ? full : pick(sources), static_cast<int>(rng() % 6), rng); break;
      case kMark: m.MarkRead({pick(articles), pick(articles), pick(articles)}, rng() % 3 != 0); break;
      case kDeleteArticles: m.DeleteArticles({pick(articles)}); break;
      case kMoveSource: m.MoveSource(pick(sources), pick(groups)); break;
      case kMoveGroup: m.MoveGroup(pick(groups), rng() % 3 == 0 ? 0 : pick(groups)); break;
      case kRename: m.Rename(rng() % 2 ? pick(groups) : pick(sources), u"Renamed " + n); break;
      case kExpand: m.SetExpanded(pick(groups), rng() % 2 == 0); break;
      case kSort: m.SetSort({pick(sources)}, static_cast<int32_t>(rng() % 3), rng() % 2 ? kSortAscending : kSortDescending); break;
      case kUrl: m.SetSourceUrl(pick(sources), u"http://moved.example/" + n); break;
      case kInterval: m.SetRefreshInterval(pick(sources), static_cast<int32_t>(1 + rng() % 1440)); break;
      case kClearHistory:
        if (const ObjectId s = pick(sources); s != full) m.ClearHistory(s);
        break;
      case kFeedRetention: m.SetSourceRetention(pick(sources), static_cast<int32_t>(rng() % 5) - 1); break;
      case kFullArticle: m.SetSourceFullArticle(pick(sources), rng() % 2 == 0); break;
      case kRetention: m.SetRetentionDays(static_cast<int32_t>(rng() % 3)); break;
      case kWelcome: {
        CFeed welcome;
        welcome.m_title = u"Welcome!";
        welcome.m_key = u"welcome.htm";
        welcome.m_description = u"<p>welcome</p>";
        m.InstallWelcomeSource(welcome);
        break;
      }
      case kBatch:
        m.Batch([&] {
          m.MarkRead({pick(articles), pick(articles)}, true);
          m.DeleteArticles({pick(articles)});
          Update(m, pick(sources), 2, rng);
        });
        break;
      // The full source stays, so that its history goes on evicting.
      case kDeleteSource:
        if (const CGroup* g = m.FindGroupOfSource(pick(sources)); g != nullptr && g->m_sources.front() != full) {
          m.DeleteSource(g->m_id, g->m_sources.front());
        }
        break;
      case kDeleteGroup:
        if (const ObjectId g = pick(groups); !m.IsInSubtree(g, m.FindGroupOfSource(full)->m_id)) m.DeleteGroup(g);
        break;
    }
    // Written now and then, some while more changes come.
    if (rng() % 9 == 0) {
      const LibraryFlushReport r = rng() % 2 ? user.sync->Flush() : user.sync->FlushAndWait();
      ASSERT_FALSE(r.failure) << *r.failure;
    }
    if (step % 150 == 149) {
      ASSERT_FALSE(user.sync->FlushAndWait().pending);
      ExpectLibraryHolds(path, m);
      if (HasFailure()) return;
    }
  }
  const LibraryFlushReport last = user.sync->FlushAndWait();
  ASSERT_FALSE(last.failure);
  EXPECT_FALSE(last.pending);
  ExpectLibraryHolds(path, m);
  // A test of something: the model grew, with read and unread articles.
  IdList articles;
  m.CollectFeeds(0, articles);
  EXPECT_GT(articles.size(), 500u);
  EXPECT_EQ(m.GetFeedSource(full)->m_history.size(), kHistoryLimit);
  EXPECT_GT(m.Counts(0).read, 20);
  EXPECT_GT(m.Counts(0).unread, 20);
}

INSTANTIATE_TEST_SUITE_P(LibraryLinkTest, RandomOperationsTest, ::testing::Values(2024u, 7u, 99u, 12345u));

TEST(LibraryLinkTest, WrittenArticlesLetTheirTextsGo) {
  test::TempDir dir;
  User user(LibraryWithSample(dir));
  std::mt19937 rng(1);
  const ObjectId source = user.model.GetGroup(user.model.RootGroups()[0])->m_sources[0];
  const IdList added = Update(user.model, source, 3, rng);
  const CFeed* a = user.model.GetFeed(added[0]);
  EXPECT_FALSE(a->m_textsStored);
  EXPECT_FALSE(a->m_description.empty());
  const CArticleTexts texts = user.model.ArticleTexts(added[0]);
  ASSERT_TRUE(user.sync->FlushAndWait().written);
  EXPECT_TRUE(a->m_textsStored);
  EXPECT_TRUE(a->m_description.empty());
  EXPECT_EQ(user.model.ArticleTexts(added[0]), texts) << "read from the library now";
  EXPECT_EQ(user.model.SearchArticles(u"body " + user.model.GetFeed(added[1])->m_key), IdList{added[1]});
}

TEST(LibraryLinkTest, AWriteThatFailsIsSaidAndWrittenAgainLosingNothing) {
  for (const bool diskFull : {false, true}) {
    SCOPED_TRACE(diskFull ? "the disk is full" : "another process holds the library");
    test::TempDir dir;
    const std::string path = LibraryWithSample(dir);
    std::optional<test::ScopedFullDisk> disk;
    if (diskFull) disk.emplace();
    User user(path, 50);
    CSqliteDb other;
    if (diskFull) {
      disk->Fill();
    } else {
      other.Open(path, SQLITE_OPEN_READWRITE);
      other.Exec("BEGIN IMMEDIATE");
    }
    const ObjectId group = user.model.RootGroups()[0];
    std::mt19937 rng(3);
    IdList sources;
    user.model.CollectSources(0, sources);
    const IdList added = Update(user.model, sources[0], 200, rng);
    user.model.Rename(group, u"Renamed while it could not be written");
    const auto start = std::chrono::steady_clock::now();
    LibraryFlushReport r = user.sync->FlushAndWait(std::chrono::milliseconds(diskFull ? 30000 : 0));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10)) << "a full disk is not waited for";
    ASSERT_TRUE(r.failure.has_value());
    EXPECT_EQ(r.failureCode & 0xFF, diskFull ? SQLITE_FULL : SQLITE_BUSY);
    EXPECT_TRUE(r.pending);
    EXPECT_GE(r.unsaved, added.size() + 1);
    user.model.SetExpanded(group, false);  // more changes meanwhile
    user.model.MarkRead({added[0]}, true);
    r = user.sync->Flush();
    EXPECT_FALSE(r.started) << "not again within the second";
    if (diskFull) {
      EXPECT_GT(disk->Refused(), 0);
      disk->Free();
    } else {
      other.Exec("ROLLBACK");
    }
    r = user.sync->FlushAndWait();
    EXPECT_FALSE(r.failure);
    EXPECT_FALSE(r.pending);
    EXPECT_EQ(r.unsaved, 0u);
    ExpectLibraryHolds(path, user.model);
  }
}

TEST(LibraryLinkTest, TwoUsersSeeEachOthersChanges) {
  test::TempDir dir;
  const std::string path = LibraryWithSample(dir);
  User a(path), b(path);
  a.model.SeedRandom(1);
  b.model.SeedRandom(2);
  Recorder seen;
  b.model.AddObserver(&seen);
  std::mt19937 rng(3);
  const ObjectId root = a.model.RootGroups()[0];

  // A subscribes and updates; B picks it all up, as an external change.
  const ObjectId sid = a.model.SubscribeSource(root, u"http://new.example/")->m_id;
  const IdList added = Update(a.model, sid, 4, rng);
  ASSERT_TRUE(a.sync->FlushAndWait().written);
  ASSERT_TRUE(b.sync->Refresh());
  ASSERT_FALSE(seen.changes.empty());
  EXPECT_TRUE(seen.changes.back().external);
  EXPECT_EQ(seen.changes.back().IdsOf(ChangeKind::ArticleAdded), added);
  ASSERT_NE(b.model.GetFeedSource(sid), nullptr);
  EXPECT_EQ(b.model.GetFeedSource(sid)->m_articles, added);
  EXPECT_EQ(b.model.Counts(sid), (FeedCounts{4, 0}));
  EXPECT_EQ(b.model.ArticleTexts(added[0]), a.model.ArticleTexts(added[0]));
  test::ExpectSameModel(a.model, b.model);

  // Both change different rows at once; neither change is lost.
  a.model.MarkRead({added[0]}, true);
  b.model.MarkRead({added[1]}, true);
  b.model.Rename(sid, u"Named by B");
  a.model.SetRefreshInterval(sid, 99);
  ASSERT_TRUE(a.sync->FlushAndWait().written);
  ASSERT_TRUE(b.sync->FlushAndWait().written);
  ASSERT_TRUE(a.sync->Refresh());
  test::ExpectSameModel(a.model, b.model);
  EXPECT_EQ(a.model.GetFeedSource(sid)->m_title, u"Named by B");
  EXPECT_EQ(b.model.GetFeedSource(sid)->m_refreshInterval, 99);
  ExpectLibraryHolds(path, a.model);

  // B deletes the source while A adds to it: the articles go with it.
  b.model.DeleteSource(root, sid);
  ASSERT_TRUE(b.sync->FlushAndWait().written);
  Update(a.model, sid, 2, rng);
  ASSERT_FALSE(a.sync->FlushAndWait().failure);
  EXPECT_EQ(a.model.GetFeedSource(sid), nullptr) << "picked up before writing";
  ExpectLibraryHolds(path, b.model);
  b.model.RemoveObserver(&seen);
}

TEST(LibraryLinkTest, WhatThisUserHasNotWrittenYetWinsOverWhatItReads) {
  test::TempDir dir;
  const std::string path = LibraryWithSample(dir);
  User a(path), b(path);
  IdList articles;
  a.model.CollectFeeds(0, articles);
  const ObjectId x = articles[0];
  const ObjectId source = a.model.FindSourceOfFeed(x)->m_id;
  a.model.MarkRead({x}, true);        // not yet written
  b.model.MarkRead({x}, false);       // written first
  b.model.Rename(source, u"B's name");
  ASSERT_TRUE(b.sync->FlushAndWait().written);
  ASSERT_TRUE(a.sync->Refresh());
  EXPECT_TRUE(a.model.GetFeed(x)->m_read) << "the mark of A stays";
  EXPECT_EQ(a.model.GetFeedSource(source)->m_title, u"B's name") << "B's rename arrives";
  ASSERT_TRUE(a.sync->FlushAndWait().written);
  ASSERT_TRUE(b.sync->Refresh());
  EXPECT_TRUE(b.model.GetFeed(x)->m_read);
  ExpectLibraryHolds(path, a.model);
}

TEST(LibraryLinkTest, RetentionDeletesWhatItShouldAndKeepsTheKeysInTheLibrary) {
  test::TempDir dir;
  const std::string path = LibraryWithSample(dir);
  User user(path);
  CFeedsManager& m = user.model;
  std::mt19937 rng(4);
  const ObjectId source = m.GetGroup(m.RootGroups()[0])->m_sources[0];
  const IdList fresh = Update(m, source, 4, rng);
  const int64_t now = 1'900'000'000;
  for (size_t i = 0; i < fresh.size(); ++i) CModelWriter(m).Feed(fresh[i])->m_date = CDateTime::FromTime(now - 86400 * 100);
  m.MarkRead({fresh[0], fresh[1]}, true);
  m.SetRetentionDays(30);
  ASSERT_TRUE(user.sync->FlushAndWait().written);
  const size_t history = m.GetFeedSource(source)->m_history.size();
  EXPECT_GE(m.ApplyRetention(now), 2u);
  EXPECT_EQ(m.GetFeed(fresh[0]), nullptr);
  EXPECT_NE(m.GetFeed(fresh[2]), nullptr) << "unread: kept";
  ASSERT_TRUE(user.sync->FlushAndWait().written);
  ExpectLibraryHolds(path, m);
  CLibrary again;
  ASSERT_TRUE(again.Open(path).opened);
  CFeedsManager reloaded;
  ASSERT_TRUE(again.Load(reloaded).ok);
  EXPECT_EQ(reloaded.RetentionDays(), 30);
  EXPECT_EQ(reloaded.GetFeedSource(source)->m_history.size(), history) << "the keys stay, so they do not return";
  EXPECT_TRUE(reloaded.GetFeedSource(source)->IsInHistory(m.GetFeedSource(source)->m_history.rbegin()->first));
  reloaded.SetArticleStore(nullptr);
}

TEST(LibraryLinkTest, AUserFarBehindTheChangeLogLoadsEverythingAgain) {
  test::TempDir dir;
  const std::string path = LibraryWithSample(dir);
  User a(path), b(path);
  IdList articles;
  a.model.CollectFeeds(0, articles);
  a.model.DeleteArticles({articles[0]});
  a.model.Rename(a.model.RootGroups()[0], u"Root by A");
  ASSERT_TRUE(a.sync->FlushAndWait().written);
  {
    // The log trimmed past what B has seen.
    CSqliteDb db;
    db.Open(path, SQLITE_OPEN_READWRITE);
    db.Exec("INSERT INTO changes(writer, kind, id) VALUES(1, 5, 0); DELETE FROM changes WHERE seq < (SELECT max(seq) FROM changes);");
  }
  ASSERT_TRUE(b.sync->Refresh());
  EXPECT_EQ(b.model.GetFeed(articles[0]), nullptr);
  test::ExpectSameModel(a.model, b.model);
}

}  // namespace
}  // namespace qb
