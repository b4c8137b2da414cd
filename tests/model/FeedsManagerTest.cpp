#include "model/FeedsManager.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <functional>

#include "base/Text.h"
#include "model/ModelWriter.h"

namespace qb {
namespace {

// A small tree:
//   R1: s1(a1,a2), G1: s2(a3), G2: s3(a4)      (G2 inside G1)
//   R2: s4(a5)
class FeedsManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m.SeedRandom(99);
    r1 = m.AddGroup(0, u"R1");
    g1 = m.AddGroup(r1->m_id, u"G1");
    g2 = m.AddGroup(g1->m_id, u"G2");
    r2 = m.AddGroup(0, u"R2");
    s1 = Source(r1, {&a1, &a2});
    s2 = Source(g1, {&a3});
    s3 = Source(g2, {&a4});
    s4 = Source(r2, {&a5});
  }

  CFeedSource* Source(const CGroup* g, std::initializer_list<ObjectId*> articles) {
    CFeedSource* s = CModelWriter(m).Source(
        m.AddSource(g->m_id, u"http://x/" + std::u16string(1, char16_t(u'a' + g->m_sources.size())))->m_id);
    for (ObjectId* out : articles) {
      CFeed* a = CModelWriter(m).NewFeed();
      s->m_articles.push_back(a->m_id);
      *out = a->m_id;
    }
    return s;
  }

  CFeedsManager m;
  const CGroup *r1, *g1, *g2, *r2;
  CFeedSource *s1, *s2, *s3, *s4;
  ObjectId a1, a2, a3, a4, a5;
};

TEST_F(FeedsManagerTest, CollectionsWalkDepthFirstInListOrder) {
  IdList feeds;
  m.CollectFeeds(0, feeds);
  EXPECT_EQ(feeds, (IdList{a1, a2, a3, a4, a5}));

  IdList ofSource;
  m.CollectFeeds(s1->m_id, ofSource);
  EXPECT_EQ(ofSource, s1->m_articles);

  IdList groups;
  m.CollectGroups(groups);
  EXPECT_EQ(groups, (IdList{r1->m_id, g1->m_id, g2->m_id, r2->m_id}));

  IdList sources;
  m.CollectSources(g1->m_id, sources);
  EXPECT_EQ(sources, (IdList{s2->m_id, s3->m_id}));
  IdList none;
  m.CollectSources(s1->m_id, none);
  EXPECT_TRUE(none.empty());
}

TEST_F(FeedsManagerTest, CollectionsSkipIdentifiersThatDoNotResolve) {
  s1->m_articles.push_back(12345);
  s1->m_articles.push_back(g2->m_id);  // another kind
  CModelWriter(m).Group(g1->m_id)->m_sources.push_back(777);
  IdList feeds;
  m.CollectFeeds(r1->m_id, feeds);
  EXPECT_EQ(feeds, (IdList{a1, a2, a3, a4}));
}

TEST_F(FeedsManagerTest, CountsCoverNestedGroups) {
  m.MarkRead({a3, a4}, true);
  int unread = 0, read = 0;
  m.CountFeeds(r1->m_id, unread, read);
  EXPECT_EQ(unread, 2);
  EXPECT_EQ(read, 2);
  m.CountFeeds(g1->m_id, unread, read);
  EXPECT_EQ(unread, 0);
  EXPECT_EQ(read, 2);
  m.CountFeeds(s1->m_id, unread, read);
  EXPECT_EQ(unread, 2);
  EXPECT_EQ(read, 0);
}

TEST_F(FeedsManagerTest, Searches) {
  EXPECT_EQ(m.FindSourceOfFeed(a4), s3);
  EXPECT_EQ(m.FindSourceOfFeed(999), nullptr);
  EXPECT_EQ(m.FindGroupOfSource(s3->m_id), g2);
  EXPECT_EQ(m.FindParentGroup(g2->m_id), g1);
  EXPECT_EQ(m.FindParentGroup(r1->m_id), nullptr);
  EXPECT_EQ(m.FindRootGroupByName(u"R2"), r2);
  EXPECT_EQ(m.FindRootGroupByName(u"G1"), nullptr) << "root list only";
  EXPECT_EQ(m.FindRootGroupByName(u"r2"), nullptr) << "case-sensitive";
  s4->m_title = u"Welcome!";
  EXPECT_EQ(m.FindSourceByTitle(r2, u"Welcome!"), s4);
  EXPECT_EQ(m.FindSourceByTitle(nullptr, u"Welcome!"), nullptr);
}

TEST_F(FeedsManagerTest, DeletingADeepGroupLeavesNothingOfItsSubtreeRegistered) {
  const IdList gone{g1->m_id, g2->m_id, s2->m_id, s3->m_id, a3, a4};
  ASSERT_TRUE(m.DeleteGroup(g1->m_id));
  for (ObjectId id : gone) EXPECT_EQ(m.Storage().Lookup(id), nullptr) << id;
  EXPECT_TRUE(r1->m_childGroups.empty());
  EXPECT_NE(m.GetFeed(a1), nullptr);
  EXPECT_EQ(m.Storage().Size(), 2u + 2u + 3u);  // R1, R2, s1, s4, a1, a2, a5
}

TEST_F(FeedsManagerTest, DeleteObjectSurvivesACycleInADamagedFile) {
  CModelWriter(m).Group(g2->m_id)->m_childGroups.push_back(g1->m_id);  // g1 -> g2 -> g1
  IdList groups;
  m.CollectGroups(groups);
  EXPECT_EQ(groups.size(), 4u);
  const ObjectId g1Id = g1->m_id, g2Id = g2->m_id;
  CModelWriter(m).Group(r1->m_id)->RemoveSubgroup(g1Id);
  m.DeleteObject(g1Id);
  EXPECT_EQ(m.GetGroup(g1Id), nullptr);
  EXPECT_EQ(m.GetGroup(g2Id), nullptr);
}

TEST_F(FeedsManagerTest, TheOnlyRootGroupCannotBeDeleted) {
  ASSERT_TRUE(m.DeleteGroup(r2->m_id));
  const size_t before = m.Storage().Size();
  EXPECT_FALSE(m.DeleteGroup(r1->m_id));
  EXPECT_EQ(m.RootGroups(), IdList{r1->m_id});
  EXPECT_EQ(m.Storage().Size(), before);
  // A sub-group can always go, even when it is the only one under its parent.
  EXPECT_TRUE(m.DeleteGroup(g2->m_id));
}

TEST_F(FeedsManagerTest, MovesThatMustChangeNothing) {
  const IdList roots = m.RootGroups();
  const IdList g1Children = g1->m_childGroups;
  EXPECT_FALSE(m.MoveGroup(g2->m_id, g1->m_id)) << "onto its current parent";
  EXPECT_FALSE(m.MoveGroup(r1->m_id, 0)) << "root group to the root level";
  EXPECT_FALSE(m.MoveGroup(g1->m_id, g1->m_id)) << "onto itself";
  EXPECT_FALSE(m.MoveGroup(g1->m_id, g2->m_id)) << "into its own subtree";
  EXPECT_FALSE(m.MoveGroup(g1->m_id, s1->m_id)) << "onto a source";
  EXPECT_FALSE(m.MoveSource(s1->m_id, s2->m_id));
  EXPECT_EQ(m.RootGroups(), roots);
  EXPECT_EQ(g1->m_childGroups, g1Children);
}

TEST_F(FeedsManagerTest, MovesThatChangeTheTree) {
  EXPECT_TRUE(m.MoveGroup(g2->m_id, 0));
  EXPECT_EQ(m.RootGroups(), (IdList{r1->m_id, r2->m_id, g2->m_id})) << "last root group";
  EXPECT_TRUE(g1->m_childGroups.empty());

  EXPECT_TRUE(m.MoveGroup(g1->m_id, r2->m_id));
  EXPECT_EQ(r2->m_childGroups, IdList{g1->m_id});

  // Dropping a source on its own group moves it to the end of the list.
  const CFeedSource* extra = m.AddSource(r1->m_id, u"http://extra");
  EXPECT_TRUE(m.MoveSource(s1->m_id, r1->m_id));
  EXPECT_EQ(r1->m_sources, (IdList{extra->m_id, s1->m_id}));
  EXPECT_TRUE(m.MoveSource(s1->m_id, r2->m_id));
  EXPECT_EQ(m.FindGroupOfSource(s1->m_id), r2);
}

TEST_F(FeedsManagerTest, RenameClearsAutoNameOfASource) {
  ASSERT_TRUE(s1->m_autoName);
  EXPECT_TRUE(m.Rename(s1->m_id, u"Mine"));
  EXPECT_EQ(s1->m_title, u"Mine");
  EXPECT_FALSE(s1->m_autoName);
  EXPECT_TRUE(m.Rename(g1->m_id, u"Renamed"));
  EXPECT_EQ(g1->m_name, u"Renamed");
  EXPECT_FALSE(m.Rename(a1, u"x"));
}

TEST_F(FeedsManagerTest, DeleteArticlesKeepsKeysInTheHistory) {
  CFeed* a = CModelWriter(m).Feed(a2);
  a->m_key = u"k2";
  s1->AddToHistory(*a, CDateTime::FromTime(0));
  m.DeleteArticles({a2, a5, 4242});
  EXPECT_EQ(s1->m_articles, IdList{a1});
  EXPECT_TRUE(s4->m_articles.empty());
  EXPECT_EQ(m.GetFeed(a2), nullptr);
  EXPECT_TRUE(s1->IsInHistory(u"k2"));

  // An article that no source holds is left alone.
  CFeed* orphan = CModelWriter(m).NewFeed();
  m.DeleteArticles({orphan->m_id});
  EXPECT_EQ(m.GetFeed(orphan->m_id), orphan);
}

TEST_F(FeedsManagerTest, AddSourceAndDuplicateUrls) {
  const CFeedSource* s = m.AddSource(g2->m_id, u"http://example.com/feed");
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->m_title, u"http://example.com/feed");
  EXPECT_TRUE(s->m_autoName);
  EXPECT_EQ(g2->m_sources.back(), s->m_id);
  EXPECT_TRUE(m.HasSourceWithUrl(u"http://example.com/feed"));
  EXPECT_FALSE(m.HasSourceWithUrl(u"http://EXAMPLE.com/feed"));
  EXPECT_FALSE(m.HasSourceWithUrl(u"http://example.com/feed/"));
  EXPECT_EQ(m.AddSource(s1->m_id, u"x"), nullptr);
}

// The address is cleaned once and the same text is checked and stored, so
// " http://x" cannot become a second source for "http://x".
TEST_F(FeedsManagerTest, SubscribeSourceCleansAndChecksTheSameText) {
  using Status = CFeedsManager::AddSourceStatus;
  Status status{};
  const CFeedSource* s = m.SubscribeSource(g2->m_id, u" \thttp://example.com/feed\n", &status);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(status, Status::Added);
  EXPECT_EQ(s->m_url, u"http://example.com/feed");
  EXPECT_EQ(s->m_title, u"http://example.com/feed");
  EXPECT_TRUE(s->m_autoName);

  const size_t before = m.Storage().Size();
  struct Case {
    ObjectId group;
    std::u16string_view url;
    Status want;
  };
  const Case cases[] = {
      {r1->m_id, u"http://example.com/feed", Status::Duplicate},
      {r1->m_id, u"  http://example.com/feed ", Status::Duplicate},
      {r1->m_id, u" \t ", Status::EmptyUrl},
      {s1->m_id, u"http://other.example/", Status::NotAGroup},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(m.CheckNewSourceUrl(c.group, c.url), c.want) << Utf16ToUtf8(c.url);
    EXPECT_EQ(m.SubscribeSource(c.group, c.url, &status), nullptr);
    EXPECT_EQ(status, c.want);
  }
  EXPECT_EQ(m.Storage().Size(), before) << "a refused address creates nothing";
  EXPECT_NE(m.SubscribeSource(r1->m_id, u"http://EXAMPLE.com/feed"), nullptr)
      << "addresses differing in case are other feeds";
}

TEST_F(FeedsManagerTest, FixUpAfterLoadAddsAllSourcesOnlyWhenEmpty) {
  m.FixUpAfterLoad();
  EXPECT_EQ(m.RootGroups().size(), 2u);
  CFeedsManager empty;
  empty.FixUpAfterLoad();
  ASSERT_EQ(empty.RootGroups().size(), 1u);
  EXPECT_EQ(empty.GetGroup(empty.RootGroups()[0])->m_name, u"All Sources");
}

TEST_F(FeedsManagerTest, AddGroupAtRootAndInsideAGroup) {
  const CGroup* sub = m.AddGroup(r2->m_id, u"Sub");
  ASSERT_NE(sub, nullptr);
  EXPECT_TRUE(sub->m_expanded);
  EXPECT_EQ(r2->m_childGroups, IdList{sub->m_id});
  EXPECT_EQ(m.AddGroup(s1->m_id, u"x"), nullptr);
}

TEST_F(FeedsManagerTest, CountAllGivesEveryNodeTheCountsOfItsOwnWalk) {
  CModelWriter(m).Feed(a1)->m_read = true;
  CModelWriter(m).Feed(a4)->m_read = true;
  // What a damaged file may hold: identifiers that name nothing, or a
  // record of the other kind, in the lists.
  CModelWriter(m).Group(g1->m_id)->m_childGroups.push_back(0xDEAD);
  CModelWriter(m).Group(g1->m_id)->m_childGroups.push_back(s4->m_id);
  CModelWriter(m).Group(r2->m_id)->m_sources.push_back(g2->m_id);
  s4->m_articles.push_back(0xBEEF);
  s4->m_articles.push_back(s1->m_id);

  const auto all = m.CountAll();
  IdList nodes;
  m.CollectGroups(nodes);
  m.CollectSources(0, nodes);
  for (ObjectId id : nodes) {
    SCOPED_TRACE(id);
    int unread = -1, read = -1;
    m.CountFeeds(id, unread, read);
    ASSERT_EQ(all.count(id), 1u);
    EXPECT_EQ(all.at(id), (CFeedsManager::FeedCounts{unread, read}));
  }
  EXPECT_EQ(all.size(), nodes.size()) << "nothing else is counted";
  EXPECT_EQ(all.at(r1->m_id), (CFeedsManager::FeedCounts{2, 2}));
}

TEST_F(FeedsManagerTest, CountAllOnADeepTreeDoesNotRecurse) {
  // A chain 20,000 groups deep with one unread article at the bottom,
  // counted on a thread with a small stack.
  const CGroup* g = g2;
  for (int i = 0; i < 20000; ++i) g = m.AddGroup(g->m_id, u"deep");
  Source(g, {&a5});
  std::unordered_map<ObjectId, CFeedsManager::FeedCounts> all;
  std::function<void()> count = [&] { all = m.CountAll(); };
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setstacksize(&attr, 512 * 1024);
  pthread_t thread;
  ASSERT_EQ(pthread_create(&thread, &attr, [](void* f) -> void* {
    (*static_cast<std::function<void()>*>(f))();
    return nullptr;
  }, &count), 0);
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attr);
  EXPECT_EQ(all.at(r1->m_id), (CFeedsManager::FeedCounts{5, 0}));
  EXPECT_EQ(all.at(g->m_id), (CFeedsManager::FeedCounts{1, 0}));
}

}  // namespace
}  // namespace qb

namespace qb {
namespace {

TEST(CapabilitiesTest, EachNodeSaysWhatMayBeDoneAndTheOperationsHoldToIt) {
  CFeedsManager m;
  m.FixUpAfterLoad();
  const ObjectId root = m.RootGroups()[0];
  const ObjectId child = m.AddGroup(root, u"child")->m_id;
  const ObjectId feed = m.AddSource(child, u"http://example.com/feed")->m_id;
  const ObjectId welcome = m.AddSource(root, u"")->m_id;
  using M = CFeedsManager;
  struct Row {
    ObjectId node;
    uint32_t expected;
  };
  const Row rows[] = {
      {root, M::kAllCapabilities & ~(M::kCanMove | M::kCanDelete)},  // the only root group
      {child, M::kAllCapabilities},
      {feed, M::kAllCapabilities},
      {welcome, M::kAllCapabilities & ~(M::kCanFetch | M::kCanClearHistory)},  // no address
      {kStarredNode, 0},
      {0x12345u, 0},
  };
  for (const Row& r : rows) EXPECT_EQ(m.CapabilitiesOf(r.node), r.expected) << r.node;
  EXPECT_FALSE(m.DeleteGroup(root));
  EXPECT_FALSE(m.MoveGroup(root, child));
  EXPECT_FALSE(m.ClearHistory(welcome));
  // A second root group: either may now go.
  const ObjectId second = m.AddGroup(0, u"second")->m_id;
  EXPECT_EQ(m.CapabilitiesOf(root), M::kAllCapabilities);
  EXPECT_TRUE(m.DeleteGroup(second));
  EXPECT_FALSE(m.DeleteGroup(root)) << "the only root group again";
}

}  // namespace
}  // namespace qb
