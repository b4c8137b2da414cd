#include "tests/support/SampleModel.h"
#include "model/ModelWriter.h"

#include <gtest/gtest.h>


namespace qb::test {

void BuildSampleModel(CFeedsManager& m, size_t feedTextLength) {
  m.SeedRandom(20261208);
  CGroup* root = CModelWriter(m).NewGroup();
  root->m_name = u"All Sources";
  CModelWriter(m).RootGroups().push_back(root->m_id);
  CGroup* news = CModelWriter(m).NewGroup();
  news->m_name = u"News \U0001F4F0 & \"quotes\"";
  news->m_expanded = false;
  root->m_childGroups.push_back(news->m_id);
  CGroup* second = CModelWriter(m).NewGroup();
  second->m_name = std::u16string(300, u'g');  // a long length form
  CModelWriter(m).RootGroups().push_back(second->m_id);

  int64_t now = 1765000000;
  const SharedText feedText(std::u16string(u"<rss version=\"2.0\"><channel>\u00E9\U0001F600") +
                            std::u16string(feedTextLength, u'x') + u"</channel></rss>");
  const char16_t* titles[] = {u"Alpha", u"Beta", u"Gamma"};
  int n = 0;
  for (CGroup* g : {root, news}) {
    for (int k = 0; k < 2; ++k) {
      CFeedSource* s = CModelWriter(m).NewFeedSource();
      s->m_title = std::u16string(u"Source ") + titles[n % 3];
      s->m_url = u"https://example.org/feed" + std::u16string(1, static_cast<char16_t>(u'0' + n));
      s->m_legacyRefresh = static_cast<uint8_t>(200 + n);
      s->m_reservedDate.SetDateTime(2001, 2, 3, 4, 5, 6 + n);
      s->m_reservedString = u"reserved \U00010348";
      s->m_autoName = (n % 2) == 0;
      s->m_sortColumn = n % 3;
      s->m_sortDirection = n % 2 ? kSortDescending : kSortAscending;
      s->m_commsStatus = u"Comms status: OK";
      s->m_refreshInterval = 5 + n;
      s->m_lastUpdateTick = 12345;
      g->m_sources.push_back(s->m_id);
      for (int a = 0; a < 3; ++a) {
        CFeed* f = CModelWriter(m).NewFeed();
        f->m_channel = u"Channel \u2603";
        f->m_title = titles[a];
        f->m_link = u"https://example.org/" + std::u16string(1, static_cast<char16_t>(u'a' + a));
        f->m_description = u"<p>Body \u00FC</p>\r\n\ttab";
        f->m_dateText = u"Mon, 04 May 2009 10:20:30 GMT";
        f->m_date.SetDateTime(2009, 5, 4, 10, 20, 30 + a);
        if (a == 2) f->m_date = CDateTime::Invalid();
        f->m_key = std::u16string(titles[a]) + u"@" + f->m_link;
        f->m_read = a == 1;
        f->m_sourceText = feedText;
        s->m_articles.push_back(f->m_id);
        now += 1;
        s->AddToHistory(*f, CDateTime::FromTime(now));
      }
      // A key whose article was deleted stays in the history.
      CFeed gone;
      gone.m_id = 99;
      gone.m_key = u"deleted@example";
      s->AddToHistory(gone, CDateTime::FromTime(now));
      ++n;
    }
  }
  // An article that no source lists, and a list entry that names nothing.
  CFeed* orphan = CModelWriter(m).NewFeed();
  orphan->m_title = u"orphan";
  orphan->m_sourceText = SharedText(u"different text");
  news->m_sources.push_back(0x00DEAD00);
}

void ExpectSameModel(const CFeedsManager& e, const CFeedsManager& a) {
  EXPECT_EQ(e.RootGroups(), a.RootGroups());
  const auto& ei = e.Storage().IdIndex();
  const auto& ai = a.Storage().IdIndex();
  ASSERT_EQ(ei.size(), ai.size());
  for (auto it = ei.begin(), jt = ai.begin(); it != ei.end(); ++it, ++jt) {
    ASSERT_EQ(it->first, jt->first);
    const RSSObject* x = it->second;
    const RSSObject* y = jt->second;
    SCOPED_TRACE(it->first);
    ASSERT_EQ(x->Type(), y->Type());
    EXPECT_EQ(x->m_id, y->m_id);
    if (const auto* g = dynamic_cast<const CGroup*>(x)) {
      const auto* h = static_cast<const CGroup*>(y);
      EXPECT_EQ(g->m_name, h->m_name);
      EXPECT_EQ(g->m_childGroups, h->m_childGroups);
      EXPECT_EQ(g->m_sources, h->m_sources);
      EXPECT_EQ(g->m_expanded, h->m_expanded);
    } else if (const auto* s = dynamic_cast<const CFeedSource*>(x)) {
      const auto* t = static_cast<const CFeedSource*>(y);
      EXPECT_EQ(s->m_title, t->m_title);
      EXPECT_EQ(s->m_url, t->m_url);
      EXPECT_EQ(s->m_legacyRefresh, t->m_legacyRefresh);
      EXPECT_EQ(s->m_reservedDate, t->m_reservedDate);
      EXPECT_EQ(s->m_articles, t->m_articles);
      EXPECT_EQ(s->m_reservedString, t->m_reservedString);
      EXPECT_EQ(s->m_autoName, t->m_autoName);
      EXPECT_EQ(s->m_sortColumn, t->m_sortColumn);
      EXPECT_EQ(s->m_sortDirection, t->m_sortDirection);
      EXPECT_EQ(s->m_history, t->m_history);
      EXPECT_EQ(s->m_commsStatus, t->m_commsStatus);
      EXPECT_EQ(s->m_refreshInterval, t->m_refreshInterval);
      EXPECT_EQ(s->m_retentionDays, t->m_retentionDays);
      EXPECT_EQ(s->m_fullArticle, t->m_fullArticle);
    } else {
      const auto* f = static_cast<const CFeed*>(x);
      const auto* g = static_cast<const CFeed*>(y);
      EXPECT_EQ(f->m_channel, g->m_channel);
      EXPECT_EQ(f->m_title, g->m_title);
      EXPECT_EQ(f->m_link, g->m_link);
      // Through the accessor: the texts may live in a library.
      EXPECT_EQ(e.ArticleTexts(it->first), a.ArticleTexts(jt->first));
      EXPECT_EQ(f->m_dateText, g->m_dateText);
      EXPECT_EQ(f->m_key, g->m_key);
      EXPECT_EQ(f->m_date, g->m_date);
      EXPECT_EQ(f->m_read, g->m_read);
    }
  }
  EXPECT_EQ(e.RetentionDays(), a.RetentionDays());
}

void ExpectSameHistoryOrder(const CFeedsManager& e, const CFeedsManager& a) {
  IdList sources;
  e.CollectSources(0, sources);
  for (ObjectId id : sources) {
    const CFeedSource* s = e.GetFeedSource(id);
    const CFeedSource* t = a.GetFeedSource(id);
    ASSERT_NE(t, nullptr) << id;
    std::vector<std::u16string> x, y;
    for (const auto& [time, key] : s->HistoryTimeIndex()) x.push_back(key);
    for (const auto& [time, key] : t->HistoryTimeIndex()) y.push_back(key);
    EXPECT_EQ(x, y) << "the order of the history of " << id;
  }
}

void BuildLargeModel(CFeedsManager& m) {
  m.SeedRandom(11);
  m.FixUpAfterLoad();
  const ObjectId group = m.RootGroups()[0];
  uint32_t noise = 1;
  for (int s = 0; s < 16; ++s) {
    CFeedSource* source = CModelWriter(m).Source(
        m.AddSource(group, u"http://source.example/" + std::u16string(1, char16_t(u'a' + s)))->m_id);
    for (int a = 0; a < 250; ++a) {
      CFeed* f = CModelWriter(m).NewFeed();
      f->m_description.resize(1400);
      for (char16_t& c : f->m_description) {
        noise = noise * 1103515245u + 12345u;
        c = (noise >> 16) % 7 == 0 ? u' ' : static_cast<char16_t>(u'a' + (noise >> 16) % 26);
      }
      f->m_key = f->m_description.substr(0, 16);
      source->m_articles.push_back(f->m_id);
      source->AddToHistory(*f, CDateTime::FromTime(1000000000 + a));
    }
  }
}

}  // namespace qb::test
