#include "model/ObjectStorage.h"

#include <gtest/gtest.h>

#include <set>

#include "base/Random.h"
#include "model/FeedsManager.h"
#include "model/ModelWriter.h"

namespace qb {
namespace {

TEST(RandomTest, GeneratorMatchesTheClassicSequence) {
  // s = s * 214013 + 2531011, draw = (s >> 16) & 0x7FFF; seed 1 starts 41, 18467, 6334.
  CRandom random(1);
  EXPECT_EQ(random.Draw(), 41u);
  EXPECT_EQ(random.Draw(), 18467u);
  EXPECT_EQ(random.Draw(), 6334u);
  random.Seed(1);
  EXPECT_EQ(random.DrawId(), (41u << 16) | 18467u);  // first draw is the high half
}

TEST(ObjectStorageTest, NewIdIsNeverZeroNorRegistered) {
  CObjectStorage store;
  store.SeedRandom(12345);
  std::set<ObjectId> seen;
  for (int i = 0; i < 20000; ++i) {
    const ObjectId id = store.NewId();
    ASSERT_NE(id, 0u);
    ASSERT_EQ(store.Lookup(id), nullptr);
    EXPECT_EQ(id & 0x80008000u, 0u) << "bits 15 and 31 are never set";
    auto rec = std::make_unique<CGroup>();
    rec->m_id = id;
    store.Register(std::move(rec), id);
    seen.insert(id);
  }
  EXPECT_EQ(seen.size(), 20000u);
  EXPECT_EQ(store.Size(), 20000u);
}

TEST(ObjectStorageTest, NewIdSkipsRegisteredIdsWhenTheGeneratorRepeats) {
  // Reseeding replays the same candidates: every one is registered, so NewId
  // must keep drawing until it leaves the registered ones behind.
  CObjectStorage store;
  store.SeedRandom(7);
  std::vector<ObjectId> first;
  for (int i = 0; i < 50; ++i) {
    ObjectId id = store.NewId();
    first.push_back(id);
    store.Register(std::make_unique<CFeed>(), id);
  }
  store.SeedRandom(7);
  const ObjectId next = store.NewId();
  EXPECT_NE(next, 0u);
  EXPECT_EQ(store.Lookup(next), nullptr);
}

TEST(ObjectStorageTest, LookupRegisterAndRemove) {
  CObjectStorage store;
  EXPECT_EQ(store.Lookup(0), nullptr);
  auto owned = std::make_unique<CFeed>();
  CFeed* raw = owned.get();
  raw->m_id = 42;
  store.Register(std::move(owned), 42);
  EXPECT_EQ(store.Lookup(42), raw);
  EXPECT_EQ(LookupAs<CFeed>(&store, 42), raw);
  EXPECT_EQ(LookupAs<CGroup>(&store, 42), nullptr) << "another kind counts as not found";
  store.Remove(99);  // unregistered: ignored
  EXPECT_EQ(store.Size(), 1u);
  store.Remove(42);
  EXPECT_EQ(store.Lookup(42), nullptr);
  EXPECT_EQ(store.Size(), 0u);
}

// Each manager's walks and counts resolve identifiers in its own store, and
// each draws identifiers from its own generator, whatever other managers
// exist or have gone.
TEST(ObjectStorageTest, TwoManagersWalkTheirOwnStores) {
  auto first = std::make_unique<CFeedsManager>();
  CFeedsManager second;
  first->SeedRandom(5);
  second.SeedRandom(5);
  const auto build = [](CFeedsManager& m, int articles) {
    const CGroup* g = m.AddGroup(0, u"G");
    CFeedSource* s = CModelWriter(m).Source(m.AddSource(g->m_id, u"http://example.com/feed")->m_id);
    for (int i = 0; i < articles; ++i) s->m_articles.push_back(CModelWriter(m).NewFeed()->m_id);
    return g->m_id;
  };
  const ObjectId g1 = build(*first, 2);
  const ObjectId g2 = build(second, 3);
  EXPECT_EQ(g1, g2) << "the same seed gives the same identifiers in each store";

  int unread = 0, read = 0;
  first->CountFeeds(g1, unread, read);
  EXPECT_EQ(unread, 2);
  second.CountFeeds(g2, unread, read);
  EXPECT_EQ(unread, 3);

  first.reset();
  IdList articles;
  second.CollectFeeds(0, articles);
  EXPECT_EQ(articles.size(), 3u);
  second.CountFeeds(0, unread, read);
  EXPECT_EQ(unread, 3);
}

}  // namespace
}  // namespace qb
