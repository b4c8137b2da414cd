#include "model/FeedSource.h"

#include <gtest/gtest.h>

#include "model/FeedsManager.h"

namespace qb {
namespace {

class FeedSourceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("TZ", "UTC", 1);
    tzset();
    m_source = m_manager.NewFeedSource();
  }

  void Add(const std::u16string& key) {
    CFeed* a = m_manager.NewFeed();
    a->m_key = key;
    m_source->AddToHistory(*a, Now());
  }

  CDateTime Now() const { return CDateTime::FromTime(m_now); }

  int64_t m_now = 1241432430;  // 2009-05-04 10:20:30 UTC
  CFeedsManager m_manager;
  CFeedSource* m_source = nullptr;
};

TEST_F(FeedSourceTest, NewRecordsHaveTheirDefaults) {
  const CFeedSource s;
  EXPECT_TRUE(s.m_title.empty() && s.m_url.empty() && s.m_commsStatus.empty());
  EXPECT_FALSE(s.m_autoName);
  EXPECT_EQ(s.m_sortColumn, 0);
  EXPECT_EQ(s.m_sortDirection, kSortAscending);
  EXPECT_EQ(s.m_refreshInterval, 15);
  EXPECT_TRUE(s.m_history.empty() && s.m_articles.empty());
  EXPECT_EQ(s.m_lastUpdateTick, 0u);

  const CFeed f;
  EXPECT_FALSE(f.m_read);
  EXPECT_TRUE(f.m_date.IsValid());
  EXPECT_EQ(f.m_date.GetOleDate(), 0.0);
  EXPECT_TRUE(f.m_title.empty() && f.m_key.empty() && f.m_sourceText.empty());

  const CGroup g;
  EXPECT_TRUE(g.m_expanded);
  EXPECT_TRUE(g.m_name.empty() && g.m_sources.empty() && g.m_childGroups.empty());
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

}  // namespace
}  // namespace qb
