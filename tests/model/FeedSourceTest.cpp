#include "model/FeedSource.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <random>
#include <vector>

#include "model/FeedsManager.h"
#include "model/ModelWriter.h"

namespace qb {
namespace {

class FeedSourceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("TZ", "UTC", 1);
    tzset();
    m_source = CModelWriter(m_manager).NewFeedSource();
  }

  void Add(const std::u16string& key) {
    CFeed* a = CModelWriter(m_manager).NewFeed();
    a->m_key = key;
    m_source->AddToHistory(*a, Now());
  }

  CDateTime Now() const { return CDateTime::FromTime(m_now); }

  int64_t m_now = 1241432430;  // 2009-05-04 10:20:30 UTC
  CFeedsManager m_manager;
  CFeedSource* m_source = nullptr;
};

// A source the user adds lists its newest articles first, whether it is
// subscribed to or imported; the records a data file holds keep their own.
TEST_F(FeedSourceTest, NewSourcesSortNewestFirst) {
  const ObjectId group = m_manager.AddGroup(0, u"G")->m_id;
  const CFeedSource* subscribed = m_manager.SubscribeSource(group, u"http://example.com/new");
  const CFeedSource* imported = m_manager.AddSource(group, u"http://example.com/imported");
  for (const CFeedSource* s : {subscribed, imported}) {
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->m_sortColumn, kSortColumnDate);
    EXPECT_EQ(s->m_sortDirection, kSortDescending);
  }
}

TEST_F(FeedSourceTest, EvictsOldestFirstAndTiesInOrderOfAddition) {
  // 300 keys in one second, then 200 in the next: all 500 fit.
  for (int i = 0; i < 300; ++i) Add(u"a" + std::u16string(1, char16_t(u'0' + i % 10)) + char16_t(0x100 + i));
  m_now += 1;
  for (int i = 0; i < 200; ++i) Add(u"b" + std::u16string(1, char16_t(0x100 + i)));
  ASSERT_EQ(m_source->m_history.size(), 500u);

  // The 501st removes exactly the first key added in the oldest second.
  m_now += 1;
  Add(u"c1");
  EXPECT_EQ(m_source->m_history.size(), 500u);
  EXPECT_FALSE(m_source->IsInHistory(u"a0" + std::u16string(1, char16_t(0x100))));
  EXPECT_TRUE(m_source->IsInHistory(u"a1" + std::u16string(1, char16_t(0x101))));
  Add(u"c2");
  EXPECT_FALSE(m_source->IsInHistory(u"a1" + std::u16string(1, char16_t(0x101))));
  EXPECT_TRUE(m_source->IsInHistory(u"a2" + std::u16string(1, char16_t(0x102))));
  EXPECT_TRUE(m_source->IsInHistory(u"c1"));
}

TEST_F(FeedSourceTest, ClearHistoryForgetsEverythingAndTheNext500RemoveNothing) {
  for (int i = 0; i < 500; ++i) Add(u"k" + std::u16string(1, char16_t(0x100 + i)));
  m_source->ClearHistory();
  EXPECT_FALSE(m_source->IsInHistory(u"k" + std::u16string(1, char16_t(0x100))));
  EXPECT_TRUE(m_source->HistoryTimeIndex().empty());
  for (int i = 0; i < 500; ++i) Add(u"n" + std::u16string(1, char16_t(0x100 + i)));
  EXPECT_EQ(m_source->m_history.size(), 500u);
  EXPECT_TRUE(m_source->IsInHistory(u"n" + std::u16string(1, char16_t(0x100))));
}

TEST_F(FeedSourceTest, ProtectedKeysAreNotEvicted) {
  KeySet protect;
  for (int i = 0; i < 500; ++i) {
    std::u16string key = u"p" + std::u16string(1, char16_t(0x100 + i));
    protect.insert(key);
    Add(key);
  }
  CFeed extra;
  extra.m_key = u"extra";
  protect.insert(extra.m_key);
  m_source->AddToHistory(extra, Now(), &protect);
  EXPECT_EQ(m_source->m_history.size(), 501u) << "only protected keys remain: nothing evicted";

  // Unprotected, the next addition trims the history back to the limit.
  CFeed next;
  next.m_key = u"next";
  m_source->AddToHistory(next, Now());
  EXPECT_EQ(m_source->m_history.size(), 500u);
  EXPECT_FALSE(m_source->IsInHistory(u"p" + std::u16string(1, char16_t(0x100))));
  EXPECT_FALSE(m_source->IsInHistory(u"p" + std::u16string(1, char16_t(0x101))));
}

TEST_F(FeedSourceTest, InvalidFirstSeenTimesAreEvictedFirst) {
  // A damaged file can hold an invalid time; it sorts before every valid one.
  for (int i = 0; i < 499; ++i) Add(u"v" + std::u16string(1, char16_t(0x100 + i)));
  m_source->m_history[u"damaged"] = HistoryEntry{7, CDateTime::Invalid()};
  m_source->RebuildHistoryIndex();
  ASSERT_EQ(m_source->m_history.size(), 500u);
  Add(u"fresh");
  EXPECT_FALSE(m_source->IsInHistory(u"damaged"));
  EXPECT_TRUE(m_source->IsInHistory(u"v" + std::u16string(1, char16_t(0x100))));
}

TEST_F(FeedSourceTest, LoadedOversizedHistoryIsTrimmedAtTheNextAddition) {
  for (int i = 0; i < 600; ++i) {
    m_source->m_history[u"h" + std::u16string(1, char16_t(0x100 + i))] =
        HistoryEntry{1, CDateTime::FromTime(m_now + i)};
  }
  m_source->RebuildHistoryIndex();
  EXPECT_EQ(m_source->HistoryTimeIndex().size(), 600u);
  Add(u"new");
  EXPECT_EQ(m_source->m_history.size(), 500u);
  EXPECT_FALSE(m_source->IsInHistory(u"h" + std::u16string(1, char16_t(0x100 + 100))));
  EXPECT_TRUE(m_source->IsInHistory(u"h" + std::u16string(1, char16_t(0x100 + 101))));
}

// The history as a plain list kept in eviction order, evicting by walking it
// from the front every time: slow, and obviously right.
class ReferenceHistory {
 public:
  void Add(const std::u16string& key, const CDateTime& t, const KeySet* protect) {
    for (size_t i = 0; m_entries.size() >= kHistoryLimit && i < m_entries.size();) {
      if (protect != nullptr && protect->count(m_entries[i].key) != 0) {
        ++i;
      } else {
        m_entries.erase(m_entries.begin() + static_cast<ptrdiff_t>(i));
      }
    }
    const double when = t.IsValid() ? t.LinearDays() : -std::numeric_limits<double>::infinity();
    auto at = std::upper_bound(m_entries.begin(), m_entries.end(), when,
                               [](double w, const Entry& e) { return w < e.when; });
    m_entries.insert(at, Entry{when, key});
  }
  void Clear() { m_entries.clear(); }
  // Whether the source's time index holds the same keys in the same order.
  bool Matches(const CFeedSource& s) const {
    const auto& index = s.HistoryTimeIndex();
    if (index.size() != m_entries.size()) return false;
    auto it = index.begin();
    for (const Entry& e : m_entries) {
      if (it->second != e.key) return false;
      ++it;
    }
    return true;
  }

 private:
  struct Entry {
    double when;
    std::u16string key;
  };
  std::vector<Entry> m_entries;
};

TEST_F(FeedSourceTest, EvictionMatchesTheSimpleWalkWhateverTheProtectedSetsDo) {
  // Random runs mixing additions with and without protected sets, a set
  // kept across additions, changed between them or replaced by another,
  // times that repeat, go back or are invalid, and clears.
  for (uint32_t seed = 1; seed <= 8; ++seed) {
    SCOPED_TRACE(seed);
    std::mt19937 rng(seed);
    CFeedsManager manager;
    CFeedSource& source = *CModelWriter(manager).NewFeedSource();
    ReferenceHistory reference;
    KeySet sets[2];
    int next = 0;
    int64_t now = m_now;
    const auto key = [](int n) { return u"k" + std::u16string(1, static_cast<char16_t>(0x100 + n)); };
    for (int step = 0; step < 5000; ++step) {
      const unsigned roll = rng() % 1000;
      if (roll < 1) {
        ASSERT_TRUE(reference.Matches(source)) << "step " << step;
        source.ClearHistory();
        reference.Clear();
        continue;
      }
      if (roll < 60) {
        // The caller changes a set between additions.
        KeySet& set = sets[rng() % 2];
        if (rng() % 3 == 0 && !set.empty()) {
          set.erase(*set.begin());
        } else {
          set.insert(key(static_cast<int>(rng() % static_cast<unsigned>(next + 1))));
        }
        // Mostly named again, as a merge names the set it built; now and
        // then left without a stamp.
        if (rng() % 8 != 0) set.SetStamp(manager.NewKeySetStamp());
        continue;
      }
      const unsigned when = rng() % 10;
      if (when < 6) {
        // the same second
      } else if (when < 8) {
        now += 1;
      } else if (when < 9) {
        now -= 2;
      }
      const CDateTime t = when == 9 ? CDateTime::Invalid() : CDateTime::FromTime(now);
      const unsigned which = rng() % 4;
      const KeySet* protect = which < 2 ? &sets[0] : which == 2 ? &sets[1] : nullptr;
      CFeed article;
      article.m_key = key(next++);
      // A merge protects the keys of its document, the new one among them.
      if (protect != nullptr && rng() % 4 != 0) {
        KeySet& set = sets[which < 2 ? 0 : 1];
        set.insert(article.m_key);
        set.SetStamp(manager.NewKeySetStamp());
      }
      source.AddToHistory(article, t, protect);
      reference.Add(article.m_key, t, protect);
      // A wrong eviction leaves another set of keys behind, so checking now
      // and then finds it.
      if (step % 16 == 0) {
        ASSERT_TRUE(reference.Matches(source)) << "step " << step;
        ASSERT_EQ(source.m_history.size(), source.HistoryTimeIndex().size());
      }
    }
    ASSERT_TRUE(reference.Matches(source));
  }
}

TEST_F(FeedSourceTest, MergingIntoAFullyProtectedHistoryLooksEachKeyUpAFewTimesOnly) {
  // A full history whose keys are all in the document, then 20,000 new
  // items: nothing may be evicted, and the walk must not start over at
  // every addition.
  KeySet protect;
  for (int i = 0; i < 500; ++i) {
    std::u16string key = u"old" + std::u16string(1, char16_t(0x100 + i));
    protect.insert(key);
    Add(key);
  }
  std::vector<CFeed> items(20000);
  for (size_t i = 0; i < items.size(); ++i) {
    items[i].m_key = u"new" + std::u16string(1, char16_t(0x100 + i % 1000)) +
                     std::u16string(1, char16_t(0x100 + i / 1000));
    protect.insert(items[i].m_key);
  }
  protect.SetStamp(m_manager.NewKeySetStamp());
  const size_t before = protect.Lookups();
  for (const CFeed& item : items) {
    if (item.m_key == items[10000].m_key) m_now += 1;
    m_source->AddToHistory(item, Now(), &protect);
  }
  EXPECT_EQ(m_source->m_history.size(), 20500u);
  EXPECT_LT(protect.Lookups() - before, 3 * items.size());

  // Without protection, the next addition trims back to the limit, oldest
  // first.
  CFeed last;
  last.m_key = u"last";
  m_source->AddToHistory(last, Now());
  EXPECT_EQ(m_source->m_history.size(), 500u);
  EXPECT_FALSE(m_source->IsInHistory(items[9999].m_key));
  EXPECT_TRUE(m_source->IsInHistory(items[19999].m_key));
}

TEST_F(FeedSourceTest, AKeySetLosesItsStampWithEveryChangeAndEveryCopy) {
  CFeedsManager manager;
  KeySet a;
  EXPECT_EQ(a.Stamp(), 0u);
  a.insert(u"x");
  a.SetStamp(manager.NewKeySetStamp());
  const uint64_t named = a.Stamp();
  EXPECT_NE(named, 0u);
  EXPECT_EQ(a.count(u"x"), 1u);
  EXPECT_EQ(a.Stamp(), named) << "a lookup changes nothing";
  KeySet b = a;
  EXPECT_EQ(b.Stamp(), 0u) << "a copy is another set";
  EXPECT_EQ(a.Stamp(), named);
  EXPECT_EQ(b.count(u"x"), 1u);
  b.erase(u"x");
  EXPECT_EQ(a.count(u"x"), 1u);
  a.insert(u"y");
  EXPECT_EQ(a.Stamp(), 0u);
  a.SetStamp(manager.NewKeySetStamp());
  EXPECT_NE(a.Stamp(), named) << "the model never hands out a stamp twice";
  a.clear();
  EXPECT_EQ(a.Stamp(), 0u);
  EXPECT_TRUE(a.empty());
}

TEST_F(FeedSourceTest, TwoModelsKeepTheirEvictionApartAndAnUnstampedSetNeverResumes) {
  // Each model numbers its own sets, so two sets of two models may carry
  // the same stamp; a source only ever sees its own model's sets. A set
  // changed since the previous addition has no stamp, and the walk starts
  // over: the key it no longer protects goes.
  KeySet protect;
  for (int i = 0; i < 500; ++i) {
    std::u16string key = u"p" + std::u16string(1, char16_t(0x100 + i));
    protect.insert(key);
    Add(key);
  }
  protect.SetStamp(m_manager.NewKeySetStamp());
  CFeed extra;
  extra.m_key = u"extra";
  m_source->AddToHistory(extra, Now(), &protect);
  ASSERT_EQ(m_source->m_history.size(), 501u);

  protect.erase(u"p" + std::u16string(1, char16_t(0x100)));
  CFeed another;
  another.m_key = u"another";
  m_source->AddToHistory(another, Now(), &protect);
  EXPECT_FALSE(m_source->IsInHistory(u"p" + std::u16string(1, char16_t(0x100))))
      << "the key the set gave up is the oldest and goes";
  EXPECT_FALSE(m_source->IsInHistory(u"extra")) << "and the walk goes on to the next unprotected one";
  EXPECT_EQ(m_source->m_history.size(), 500u);

  CFeedsManager other;
  EXPECT_EQ(other.NewKeySetStamp(), 1u);
}

}  // namespace
}  // namespace qb
