// The article list following the model's change records: rows come and go
// for the articles the entries name, and the rest of the list (its other
// rows, their selection, the scroll position) stays as it is.
#include <algorithm>

#include "model/FeedsManager.h"
#include "model/ModelChange.h"
#include "views/ArticleTableModel.h"
#include "views/FeedListView.h"

namespace qb {

std::pair<int, bool> CFeedListView::StoredSort() const {
  // Matches from every feed: newest first, unless the user sorted them.
  if (m_filter.AllArticles()) return m_allSort;
  const CFeedSource* first = m_shownSources.empty() ? nullptr : m_feedModel.GetFeedSource(m_shownSources.front());
  if (first == nullptr) return {0, false};
  return {std::clamp(first->m_sortColumn, 0, 2), first->m_sortDirection != kSortDescending};
}

void CFeedListView::RemoveArticleRows(const std::unordered_set<ObjectId>& articles) {
  std::vector<int> rows;
  for (ObjectId id : articles) {
    const int row = m_model->FindRow(id);
    if (row >= 0) rows.push_back(row);
  }
  std::sort(rows.begin(), rows.end());
  m_model->RemoveRowList(rows);
}

void CFeedListView::ApplyChange(const CModelChange& change) {
  const bool all = m_filter.AllArticles();
  if (!all && (!m_node.has_value() || *m_node == 0)) return;
  const CFeedsManager& model = m_feedModel;
  bool placement = false;
  bool removal = false;
  bool resort = false;
  for (const ChangeEntry& e : change.entries) {
    switch (e.kind) {
      case ChangeKind::SourceRemoved:
      case ChangeKind::GroupRemoved:
        // The articles of a removed node are not named one by one.
        removal = true;
        placement = true;
        break;
      case ChangeKind::SourceAdded:
      case ChangeKind::SourceMoved:
      case ChangeKind::GroupAdded:
      case ChangeKind::GroupMoved:
        placement = true;
        break;
      case ChangeKind::SourceChanged:
        if ((e.fields & kSourceSort) != 0 && !all && !m_shownSources.empty() && m_shownSources.front() == e.id)
          resort = true;
        break;
      case ChangeKind::ListReordered:
        // Equal rows keep their sources' order: sorted again.
        if (std::find(m_shownSources.begin(), m_shownSources.end(), e.id) != m_shownSources.end()) resort = true;
        break;
      default:
        break;
    }
  }

  std::unordered_set<ObjectId> shown(m_shownSources.begin(), m_shownSources.end());
  IdList added;
  if (placement && !all) {
    // The shown group may have gained or lost sources.
    IdList now;
    if (model.GetFeedSource(*m_node) != nullptr) {
      now.push_back(*m_node);
    } else {
      model.CollectSources(*m_node, now);
    }
    if (now != m_shownSources) {
      std::unordered_set<ObjectId> nowSet(now.begin(), now.end());
      for (ObjectId sid : now) {
        if (shown.count(sid) != 0) continue;
        if (const CFeedSource* s = model.GetFeedSource(sid)) added.insert(added.end(), s->m_articles.begin(), s->m_articles.end());
      }
      if (std::any_of(m_shownSources.begin(), m_shownSources.end(), [&](ObjectId sid) { return nowSet.count(sid) == 0; }))
        removal = true;
      // The first source's stored sort is the list's.
      if ((m_shownSources.empty() ? 0 : m_shownSources.front()) != (now.empty() ? 0 : now.front())) resort = true;
      m_shownSources = std::move(now);
      shown = std::move(nowSet);
    }
  }
  // Whether the article has its place in the list now.
  auto belongs = [&](const CFeed* a) { return a != nullptr && a->m_source != 0 && (all || shown.count(a->m_source) != 0); };

  std::unordered_set<ObjectId> gone;
  if (removal) {
    for (ObjectId id : m_model->Ids()) {
      if (!belongs(model.GetFeed(id))) gone.insert(id);
    }
  }
  IdList readChanged;
  for (const ChangeEntry& e : change.entries) {
    switch (e.kind) {
      case ChangeKind::ArticleAdded:
      case ChangeKind::ArticleMoved:
        // Where the article is now, also when later entries moved it on.
        if (belongs(model.GetFeed(e.id))) {
          added.push_back(e.id);
        } else {
          gone.insert(e.id);
        }
        break;
      case ChangeKind::ArticleRemoved:
        gone.insert(e.id);
        break;
      case ChangeKind::ArticleChanged:
        readChanged.push_back(e.id);
        break;
      default:
        break;
    }
  }
  if (m_filter.UnreadOnly() && !readChanged.empty()) {
    // Only unread articles: one that became read leaves, unless the user
    // has it selected (it is being read); one that became unread comes.
    const IdList selectedIds = SelectedArticles();
    const std::unordered_set<ObjectId> selected(selectedIds.begin(), selectedIds.end());
    for (ObjectId id : readChanged) {
      const CFeed* a = model.GetFeed(id);
      if (a == nullptr || !belongs(a)) continue;
      if (!a->m_read) {
        added.push_back(id);
      } else if (selected.count(id) == 0) {
        gone.insert(id);
      }
    }
  }
  for (ObjectId id : added) gone.erase(id);

  const int before = m_model->rowCount();
  if (!gone.empty()) RemoveArticleRows(gone);
  const bool removed = m_model->rowCount() != before;
  InsertArticles(added);
  for (ObjectId id : readChanged) m_model->TouchRow(m_model->FindRow(id));
  if (resort) {
    const auto [column, ascending] = StoredSort();
    Sort(column, ascending);
  }
  if (removed && m_filter.IsActive()) emit shownCountChanged(m_model->rowCount());
}

}  // namespace qb
