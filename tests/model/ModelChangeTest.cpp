// Every operation of the feeds manager reports what it changed, and keeps
// the counts of the nodes it touched.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "model/FeedsManager.h"
#include "model/ModelWriter.h"
#include "tests/support/UpdatePasses.h"

namespace qb {
namespace {

class Recorder final : public IModelObserver {
 public:
  void OnModelChanged(const CFeedsManager&, const CModelChange& change) override { changes.push_back(change); }
  std::vector<CModelChange> changes;
};

// Appends `count` new unread articles to the source the way an update does,
// each with its key in the history.
IdList AddArticles(CFeedsManager& m, ObjectId sourceId, int count, const std::u16string& prefix = u"k") {
  static int serial = 0;
  std::vector<ArticleCandidate> arriving;
  for (int i = 0; i < count; ++i) {
    const std::string n = std::to_string(++serial);
    ArticleCandidate& a = arriving.emplace_back(Candidate(u"", prefix + std::u16string(n.begin(), n.end())));
    a.fields.m_title = u"Title " + a.fields.m_key;
    a.description = u"<p>text of " + a.fields.m_key + u"</p>";
  }
  return DeliverArticles(m, sourceId, std::move(arriving));
}

std::vector<ChangeKind> KindsOf(const CModelChange& c, bool withCounts = false) {
  std::vector<ChangeKind> kinds;
  for (const ChangeEntry& e : c.entries) {
    if (withCounts || e.kind != ChangeKind::CountsChanged) kinds.push_back(e.kind);
  }
  return kinds;
}

class ModelChangeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m.SeedRandom(7);
    m.FixUpAfterLoad();
    root = m.RootGroups().front();
    group = m.AddGroup(root, u"Group")->m_id;
    s1 = m.AddSource(root, u"http://one/")->m_id;
    s2 = m.AddSource(group, u"http://two/")->m_id;
    a1 = AddArticles(m, s1, 3);
    a2 = AddArticles(m, s2, 2);
    m.AddObserver(&recorder);
  }
  void TearDown() override { m.RemoveObserver(&recorder); }

  // The counts the operations kept equal those walked from the lists.
  void ExpectCountsAsWalked() {
    for (const auto& [id, c] : m.CountAll()) EXPECT_EQ(m.Counts(id), c) << id;
    int unread = 0, read = 0;
    m.CountFeeds(0, unread, read);
    EXPECT_EQ(m.Counts(0), (FeedCounts{unread, read}));
  }

  CFeedsManager m;
  Recorder recorder;
  ObjectId root = 0, group = 0, s1 = 0, s2 = 0;
  IdList a1, a2;
};

TEST_F(ModelChangeTest, EachOperationReportsWhatItChanged) {
  struct Case {
    const char* what;
    std::function<void()> run;
    std::function<std::vector<ChangeEntry>()> expected;  // counts aside
  };
  ObjectId made = 0;
  const Case cases[] = {
      {"a new group", [&] { made = m.AddGroup(group, u"Sub")->m_id; },
       [&] { return std::vector<ChangeEntry>{{ChangeKind::GroupAdded, 0, made, group}}; }},
      {"a new source", [&] { made = m.AddSource(group, u"http://three/")->m_id; },
       [&] { return std::vector<ChangeEntry>{{ChangeKind::SourceAdded, 0, made, group}}; }},
      {"a group renamed", [&] { m.Rename(group, u"Renamed"); },
       [&] { return std::vector<ChangeEntry>{{ChangeKind::GroupChanged, kGroupName, group}}; }},
      {"a source renamed", [&] { m.Rename(s1, u"Mine"); },
       [&] { return std::vector<ChangeEntry>{{ChangeKind::SourceChanged, kSourceTitle | kSourceAutoName, s1}}; }},
      {"a source moved", [&] { m.MoveSource(s1, group); },
       [&] { return std::vector<ChangeEntry>{{ChangeKind::SourceMoved, 0, s1, group, root}}; }},
      {"a group moved to the root level", [&] { m.MoveGroup(group, 0); },
       [&] { return std::vector<ChangeEntry>{{ChangeKind::GroupMoved, 0, group, 0, root}}; }},
      {"articles read", [&] { m.MarkRead({a1[0], a2[1]}, true); },
       [&] {
         return std::vector<ChangeEntry>{{ChangeKind::ArticleChanged, kArticleRead, a1[0], s1}, {ChangeKind::ArticleChanged, kArticleRead, a2[1], s2}};
       }},
      {"articles already read", [&] { m.MarkRead({a1[0]}, true); }, [] { return std::vector<ChangeEntry>{}; }},
      {"articles deleted", [&] { m.DeleteArticles({a1[1]}); },
       [&] { return std::vector<ChangeEntry>{{ChangeKind::ArticleRemoved, 0, a1[1], s1}}; }},
      {"a group expanded", [&] { m.SetExpanded(group, false); },
       [&] { return std::vector<ChangeEntry>{{ChangeKind::GroupChanged, kGroupExpanded, group}}; }},
      {"the same expanded flag", [&] { m.SetExpanded(group, false); }, [] { return std::vector<ChangeEntry>{}; }},
      {"a sort", [&] { m.SetSort({s1, s2, 0xDEAD}, 1, kSortAscending); },
       [&] {
         return std::vector<ChangeEntry>{{ChangeKind::SourceChanged, kSourceSort, s1},
                                         {ChangeKind::SourceChanged, kSourceSort, s2}};
       }},
      {"a URL", [&] { m.SetSourceUrl(s2, u"http://moved/"); },
       [&] { return std::vector<ChangeEntry>{{ChangeKind::SourceChanged, kSourceUrl, s2}}; }},
      {"an interval", [&] { m.SetRefreshInterval(s2, 60); },
       [&] { return std::vector<ChangeEntry>{{ChangeKind::SourceChanged, kSourceRefreshInterval, s2}}; }},
      {"a feed's retention", [&] { m.SetSourceRetention(s2, 30); },
       [&] { return std::vector<ChangeEntry>{{ChangeKind::SourceChanged, kSourceRetention, s2}}; }},
      {"the library's retention", [&] { m.SetRetentionDays(90); },
       [&] { return std::vector<ChangeEntry>{{ChangeKind::SettingsChanged, 0, 0}}; }},
      {"a history cleared", [&] { m.ClearHistory(s2); },
       [&] { return std::vector<ChangeEntry>{{ChangeKind::HistoryChanged, 0, s2}}; }},
      {"a source deleted", [&] { m.DeleteSource(group, s2); },
       [&] { return std::vector<ChangeEntry>{{ChangeKind::SourceRemoved, 0, s2, group}}; }},
      {"a group deleted", [&] { m.DeleteGroup(group); },
       [&] { return std::vector<ChangeEntry>{{ChangeKind::GroupRemoved, 0, group, 0}}; }},
      {"the only root group deleted", [&] { m.DeleteGroup(root); }, [] { return std::vector<ChangeEntry>{}; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    recorder.changes.clear();
    c.run();
    const std::vector<ChangeEntry> expected = c.expected();
    if (expected.empty()) {
      EXPECT_TRUE(recorder.changes.empty());
      continue;
    }
    ASSERT_EQ(recorder.changes.size(), 1u) << "one report per operation";
    std::vector<ChangeEntry> got;
    for (const ChangeEntry& e : recorder.changes[0].entries) {
      if (e.kind != ChangeKind::CountsChanged) got.push_back(e);
    }
    EXPECT_EQ(got, expected);
    EXPECT_FALSE(recorder.changes[0].external);
    ExpectCountsAsWalked();
  }
}

TEST_F(ModelChangeTest, CountsChangedNamesTheNodesWhoseCountsMoved) {
  m.MarkRead({a2[0]}, true);
  ASSERT_EQ(recorder.changes.size(), 1u);
  IdList expected{root, group, s2};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(recorder.changes[0].IdsOf(ChangeKind::CountsChanged), expected)
      << "the source and both groups above it, in identifier order";
  EXPECT_EQ(m.Counts(s2), (FeedCounts{1, 1}));
  EXPECT_EQ(m.Counts(group), (FeedCounts{1, 1}));
  EXPECT_EQ(m.Counts(root), (FeedCounts{4, 1}));

  // A move within the subtree changes the group's counts but not the root's.
  recorder.changes.clear();
  m.MoveSource(s1, group);
  ASSERT_EQ(recorder.changes.size(), 1u);
  const IdList counted = recorder.changes[0].IdsOf(ChangeKind::CountsChanged);
  EXPECT_EQ(counted, IdList{group});
  EXPECT_EQ(m.Counts(group), (FeedCounts{4, 1}));
  ExpectCountsAsWalked();
}

TEST_F(ModelChangeTest, AnUpdateReportsItsArticlesHistoryAndFields) {
  recorder.changes.clear();
  const IdList added = AddArticles(m, s1, 2, u"new");
  ASSERT_EQ(recorder.changes.size(), 1u);
  const CModelChange& c = recorder.changes[0];
  EXPECT_EQ(c.IdsOf(ChangeKind::ArticleAdded), added);
  EXPECT_EQ(c.IdsOf(ChangeKind::HistoryChanged), IdList{s1});
  ASSERT_EQ(c.historyKeys.size(), 2u);
  EXPECT_EQ(c.historyKeys[0].step, HistoryKeyChange::Step::Added);
  EXPECT_EQ(c.historyKeys[0].key, m.GetFeed(added[0])->m_key);
  EXPECT_FALSE(c.Has(ChangeKind::SourceChanged)) << "the status was OK already";

  // Nothing new, but the status changes: only the field is reported.
  CModelWriter(m).Source(s1)->m_commsStatus = u"stale";
  recorder.changes.clear();
  AddArticles(m, s1, 0);
  ASSERT_EQ(recorder.changes.size(), 1u);
  EXPECT_EQ(KindsOf(recorder.changes[0]), std::vector<ChangeKind>{ChangeKind::SourceChanged});
  EXPECT_EQ(recorder.changes[0].entries[0].fields, kSourceCommsStatus);

  // Nothing at all: no report.
  recorder.changes.clear();
  AddArticles(m, s1, 0);
  EXPECT_TRUE(recorder.changes.empty());
  ExpectCountsAsWalked();
}

TEST_F(ModelChangeTest, BatchesAndNestedOperationsReportOnce) {
  recorder.changes.clear();
  m.Batch([&] {
    m.Rename(group, u"A");
    m.Batch([&] { m.MarkRead(a1, true); });
    m.DeleteArticles({a2[0]});
  });
  ASSERT_EQ(recorder.changes.size(), 1u);
  EXPECT_EQ(KindsOf(recorder.changes[0]),
            (std::vector<ChangeKind>{ChangeKind::GroupChanged, ChangeKind::ArticleChanged, ChangeKind::ArticleChanged,
                                     ChangeKind::ArticleChanged, ChangeKind::ArticleRemoved}));
  // An observer that changes the model is told of its own change after.
  struct Reacting final : IModelObserver {
    CFeedsManager* model = nullptr;
    int seen = 0;
    void OnModelChanged(const CFeedsManager&, const CModelChange&) override {
      if (++seen == 1) model->SetExpanded((*model).RootGroups().front(), false);
    }
  } reacting;
  reacting.model = &m;
  m.AddObserver(&reacting);
  recorder.changes.clear();
  m.Rename(s1, u"B");
  EXPECT_EQ(reacting.seen, 2);
  ASSERT_EQ(recorder.changes.size(), 2u);
  EXPECT_EQ(KindsOf(recorder.changes[1]), std::vector<ChangeKind>{ChangeKind::GroupChanged});
  m.RemoveObserver(&reacting);
}

TEST_F(ModelChangeTest, TheWelcomeSourceReplacesAnEarlierOne) {
  CFeed fields;
  fields.m_title = u"Welcome!";
  fields.m_key = u"welcome.htm";
  fields.m_description = u"<p>Hello</p>";
  const CFeedsManager::WelcomeIds first = m.InstallWelcomeSource(fields);
  EXPECT_EQ(first.group, root);
  recorder.changes.clear();
  const CFeedsManager::WelcomeIds second = m.InstallWelcomeSource(fields);
  ASSERT_EQ(recorder.changes.size(), 1u);
  EXPECT_EQ(KindsOf(recorder.changes[0]), (std::vector<ChangeKind>{ChangeKind::SourceRemoved, ChangeKind::SourceAdded,
                                                                    ChangeKind::ArticleAdded}));
  EXPECT_EQ(m.GetFeedSource(first.source), nullptr);
  const CFeedSource* s = m.GetFeedSource(second.source);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->m_title, kWelcomeSourceTitle);
  EXPECT_EQ(s->m_refreshInterval, 525600);
  EXPECT_EQ(s->m_articles, IdList{second.article});
  EXPECT_EQ(m.GetGroup(root)->m_sources.back(), second.source);
  EXPECT_EQ(m.ArticleTexts(second.article).description.str(), u"<p>Hello</p>");
  ExpectCountsAsWalked();
}

TEST_F(ModelChangeTest, RetentionDeletesWhatCameLongAgoAndKeepsTheKeysTheStarsAndThePage) {
  const int64_t now = 1'800'000'000;
  auto came = [&](ObjectId id, int daysAgo) { CModelWriter(m).Feed(id)->m_arrived = now - int64_t{daysAgo} * 86400; };
  came(a1[0], 40);  // read, came long ago: goes
  came(a1[1], 40);  // unread: stays
  came(a1[2], 10);  // read, published long ago but came lately: stays
  CModelWriter(m).Feed(a1[2])->m_date = CDateTime::FromTime(now - 400 * 86400);
  CModelWriter(m).Feed(a2[0])->m_arrived = 0;  // read, no time of arrival: its key was first seen years ago
  came(a2[1], 400);  // read, old, but its feed keeps everything
  m.MarkRead({a1[0], a1[2], a2[0], a2[1]}, true);
  EXPECT_EQ(m.ApplyRetention(now), 0u) << "off by default";

  m.SetRetentionDays(30);
  m.SetSourceRetention(s2, -1);
  EXPECT_EQ(m.ApplyRetention(now), 1u);
  EXPECT_EQ(m.GetFeed(a1[0]), nullptr);
  EXPECT_NE(m.GetFeed(a1[1]), nullptr);
  EXPECT_NE(m.GetFeed(a1[2]), nullptr);
  EXPECT_NE(m.GetFeed(a2[1]), nullptr);
  const CFeedSource* s = m.GetFeedSource(s1);
  EXPECT_EQ(s->m_history.size(), 3u) << "the key stays, so the article does not return";

  // The feed's own days: a starred article and the one on screen stay.
  m.SetSourceRetention(s2, 5);
  m.SetStarred({a2[1]}, true);
  EXPECT_EQ(m.ApplyRetention(now, a2[0]), 0u);
  EXPECT_EQ(m.ApplyRetention(now), 1u);
  EXPECT_EQ(m.GetFeed(a2[0]), nullptr);
  EXPECT_NE(m.GetFeed(a2[1]), nullptr);
  EXPECT_EQ(m.Counts(kStarredNode), (FeedCounts{0, 1}));
  ExpectCountsAsWalked();
}

TEST_F(ModelChangeTest, RandomOperationsKeepTheCountsOfTheirWalks) {
  std::mt19937 rng(11);
  auto pick = [&](const IdList& ids) { return ids.empty() ? ObjectId{0} : ids[rng() % ids.size()]; };
  for (int step = 0; step < 400; ++step) {
    IdList groups, sources, articles;
    m.CollectGroups(groups);
    m.CollectSources(0, sources);
    m.CollectFeeds(0, articles);
    switch (rng() % 8) {
      case 0: m.AddGroup(rng() % 4 == 0 ? 0 : pick(groups), u"g"); break;
      case 1: m.AddSource(pick(groups), u"http://s" + std::u16string(1, char16_t(u'a' + step % 26)) + u"/"); break;
      case 2: if (!sources.empty()) AddArticles(m, pick(sources), static_cast<int>(rng() % 4), u"r"); break;
      case 3: m.MarkRead({pick(articles), pick(articles)}, rng() % 2 == 0); break;
      case 4: m.DeleteArticles({pick(articles)}); break;
      case 5: m.MoveSource(pick(sources), pick(groups)); break;
      case 6: m.MoveGroup(pick(groups), rng() % 3 == 0 ? 0 : pick(groups)); break;
      case 7:
        if (rng() % 3 == 0) {
          m.DeleteGroup(pick(groups));
        } else if (const CGroup* g = m.FindGroupOfSource(pick(sources))) {
          m.DeleteSource(g->m_id, g->m_sources.front());
        }
        break;
    }
  }
  ExpectCountsAsWalked();
}

}  // namespace
}  // namespace qb
