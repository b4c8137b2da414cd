#include "views/ArticleFilter.h"

#include <gtest/gtest.h>

#include <map>

#include "base/SearchText.h"
#include "model/FeedsManager.h"
#include "model/ModelWriter.h"
#include "views/ArticleFilterBar.h"
#include "views/ViewText.h"

namespace qb {
namespace {

// An article store that holds the texts the model let go, and matches them
// by the same rule, as the library's index does.
class CMapStore final : public IArticleStore {
 public:
  bool ReadArticleTexts(ObjectId article, CArticleTexts& out) override {
    auto it = m_texts.find(article);
    if (it == m_texts.end()) return false;
    out.description = SharedText(it->second);
    return true;
  }
  bool MatchArticles(const std::vector<std::u16string>& words, IdList& out) override {
    ++m_queries;
    for (const auto& [id, description] : m_texts) {
      const CFeed* a = m_model->GetFeed(id);
      if (a != nullptr && WordsMatch(ArticleWords(a->m_title, a->m_channel, description), words)) out.push_back(id);
    }
    return true;
  }
  const CFeedsManager* m_model = nullptr;
  std::map<ObjectId, std::u16string> m_texts;
  int m_queries = 0;
};

// Root group "All Sources":
//   S1  storm (read, day 3), calm (day 5), untitled (undated)
//   S2  report (day 4), channel "Weather Desk"
class ArticleFilterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m.SeedRandom(7);
    m.FixUpAfterLoad();
    s1 = m.AddSource(m.RootGroups()[0], u"http://one")->m_id;
    s2 = m.AddSource(m.RootGroups()[0], u"http://two")->m_id;
    storm = Add(s1, u"Storm warning", u"S1", u"<p>Heavy <b>RAIN</b> &amp; wind</p>", 3, true);
    calm = Add(s1, u"Calm day", u"S1", u"<p>Sun</p>", 5, false);
    untitled = Add(s1, u"", u"S1", u"a rainbow", -1, false);
    report = Add(s2, u"Rain report", u"Weather Desk", u"", 4, false);
    m.RebuildIndexes();
  }
  ObjectId Add(ObjectId source, const std::u16string& title, const std::u16string& channel,
               const std::u16string& description, int day, bool read) {
    CFeed* a = CModelWriter(m).NewFeed();
    a->m_title = title;
    a->m_channel = channel;
    a->m_description = description;
    a->m_read = read;
    a->m_date = day < 0 ? CDateTime::Invalid() : CDateTime::FromTime(1'700'000'000 + day * 86400);
    CModelWriter(m).Source(source)->m_articles.push_back(a->m_id);
    return a->m_id;
  }
  CArticleFilter Filter(const char* text, bool unreadOnly = false) {
    CArticleFilter filter;
    filter.SetText(QString::fromUtf8(text));
    filter.SetUnreadOnly(unreadOnly);
    return filter;
  }
  // Every text goes to the store, as once the library has written them.
  void StoreAllTexts() {
    store.m_model = &m;
    IdList all;
    m.CollectFeeds(0, all);
    for (ObjectId id : all) {
      store.m_texts[id] = m.GetFeed(id)->m_description;
      m.ReleaseTexts(id);
    }
    m.SetArticleStore(&store);
  }
  void TearDown() override { m.SetArticleStore(nullptr); }

 public:
  CFeedsManager m;
  CMapStore store;
  ObjectId s1 = 0, s2 = 0, storm = 0, calm = 0, untitled = 0, report = 0;
};

TEST_F(ArticleFilterTest, FindsTheNodesOrTheLibrarysMatchesNewestFirst) {
  struct Case {
    const char* text;
    bool unreadOnly;
    int node;  // 1: S1, 2: S2, 0: the whole library
    std::vector<ObjectId ArticleFilterTest::*> found;
  };
  using T = ArticleFilterTest;
  const Case cases[] = {
      {"rain", false, 1, {&T::storm, &T::untitled}},  // markup dropped, case folded; a word's beginning
      {"RAIN &", false, 1, {&T::storm, &T::untitled}},
      {"rain", false, 0, {&T::report, &T::storm, &T::untitled}},
      {"rain", true, 0, {&T::report, &T::untitled}},
      {"<b>", false, 0, {}},  // markup is no text
      {"ain", false, 0, {}},  // nor is a word's middle
      {"weather", false, 0, {&T::report}},  // the channel
      {"heavy wind", false, 1, {&T::storm}},
      {"heavy sun", false, 1, {}},  // every word must be there
      {"", true, 1, {&T::calm, &T::untitled}},
      {" , ", false, 0, {&T::calm, &T::report, &T::storm, &T::untitled}},
      {"storm", false, 2, {}},
  };
  for (bool stored : {false, true}) {
    if (stored) StoreAllTexts();
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.text) + (stored ? " (stored)" : " (in memory)"));
      IdList expected;
      for (auto member : c.found) expected.push_back(this->*member);
      const ObjectId node = c.node == 1 ? s1 : c.node == 2 ? s2 : 0;
      EXPECT_EQ(Filter(c.text, c.unreadOnly).Find(m, node), expected);
    }
  }
  EXPECT_GT(store.m_queries, 0) << "stored texts are matched by the store";
}

TEST_F(ArticleFilterTest, ReadArticlesBeingReadStayAndAddedArticlesAreMatchedOneByOne) {
  EXPECT_EQ(Filter("", true).Find(m, s1, {storm}), (IdList{calm, storm, untitled}));
  StoreAllTexts();
  // Texts only the store holds are read for the articles checked.
  IdList added{storm, calm, untitled, report};
  Filter("rain").Apply(m, added);
  EXPECT_EQ(added, (IdList{storm, untitled, report}));
  added = {storm, calm, untitled, report};
  Filter("rain", true).Apply(m, added, {storm});
  EXPECT_EQ(added, (IdList{storm, untitled, report}));
  added = {storm, calm};
  Filter("sun", true).Apply(m, added);
  EXPECT_EQ(added, IdList{calm});
}

TEST_F(ArticleFilterTest, UnreadMatchesOfASourceForTheUnreadKeys) {
  struct Case {
    const char* text;
    int source;
    bool found;
  };
  const Case cases[] = {
      {"", 1, true},       {"rain", 1, true},  // the undated rainbow is unread
      {"storm", 1, false},  // only in a read article
      {"calm", 1, true},   {"storm", 2, false}, {"desk", 2, true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Filter(c.text).HasUnreadMatch(m, c.source == 1 ? s1 : s2), c.found) << c.text;
  }
  m.MarkRead({calm, untitled, report}, true);
  EXPECT_FALSE(Filter("").HasUnreadMatch(m, s1));
  EXPECT_FALSE(Filter("").HasUnreadMatch(m, 0)) << "no source";
}

TEST(ArticleFilterBarTest, CountTexts) {
  EXPECT_EQ(MatchCountText(0), QStringLiteral("No articles"));
  EXPECT_EQ(MatchCountText(1), QStringLiteral("1 article"));
  EXPECT_EQ(MatchCountText(60000), QStringLiteral("60000 articles"));
}

}  // namespace
}  // namespace qb
