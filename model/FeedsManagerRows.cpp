// The model's side of the rows another process committed to the library,
// and of the search.
#include "model/FeedsManager.h"

#include <algorithm>
#include <limits>
#include <unordered_map>
#include <unordered_set>

#include "base/SearchText.h"

namespace qb {

template <typename T>
T* CFeedsManager::Adopt(ObjectId id) {
  if (id == 0) return nullptr;
  if (RSSObject* existing = m_storage.Lookup(id)) {
    return existing->Type() == T::kType ? static_cast<T*>(existing) : nullptr;
  }
  auto record = std::make_unique<T>();
  record->m_id = id;
  return static_cast<T*>(m_storage.Register(std::move(record), id));
}

// --- rows another process committed

const CGroup* CFeedsManager::AdoptGroup(ObjectId id) { return Adopt<CGroup>(id); }
const CFeedSource* CFeedsManager::AdoptSource(ObjectId id) { return Adopt<CFeedSource>(id); }

const CFeed* CFeedsManager::AdoptArticle(ObjectId id) {
  const bool isNew = m_storage.Lookup(id) == nullptr;
  CFeed* a = Adopt<CFeed>(id);
  if (a != nullptr && isNew) {
    a->m_textsStored = true;
    ++m_storedTexts;
  }
  return a;
}

void CFeedsManager::PlaceGroup(ObjectId id, ObjectId parent, bool root) {
  CGroup* g = EditGroup(id);
  if (g == nullptr || (parent != 0 && EditGroup(parent) == nullptr)) return;
  ObjectId old = 0;
  const bool linked = ParentOfGroup(id, old);
  const bool listed = root || parent != 0;
  if (linked && listed && old == parent) return;
  // A group with no groups inside can go anywhere; otherwise not into its
  // own subtree.
  if (parent != 0 && !g->m_childGroups.empty() && IsInSubtree(id, parent)) return;
  ChangeScope scope(*this);
  if (linked) UnlinkGroup(id);
  if (!listed) {
    if (linked) Note(ChangeKind::GroupMoved, id, 0, old);
    return;
  }
  LinkGroup(*g, parent);
  Note(linked ? ChangeKind::GroupMoved : ChangeKind::GroupAdded, id, parent, old);
}

void CFeedsManager::PlaceSource(ObjectId id, ObjectId group) {
  CFeedSource* s = EditSource(id);
  if (s == nullptr) return;
  const ObjectId old = GroupOfSource(id);
  if (old == group && old != 0) return;
  ChangeScope scope(*this);
  if (old != 0) UnlinkSource(id);
  CGroup* g = EditGroup(group);
  if (g == nullptr) {
    if (old != 0) Note(ChangeKind::SourceMoved, id, 0, old);
    return;
  }
  LinkSource(*s, *g);
  Note(old != 0 ? ChangeKind::SourceMoved : ChangeKind::SourceAdded, id, group, old);
}

void CFeedsManager::PlaceArticle(ObjectId id, ObjectId source) {
  CFeed* a = EditFeed(id);
  if (a == nullptr || (a->m_source == source && source != 0)) return;
  ChangeScope scope(*this);
  const ObjectId old = a->m_source;
  if (CFeedSource* from = EditSource(old)) {
    from->RemoveFeed(id);
    AddCounts(old, true, a->m_read ? FeedCounts{0, 1} : FeedCounts{1, 0}, true);
  }
  a->m_source = 0;
  CFeedSource* to = EditSource(source);
  if (to == nullptr) {
    if (old != 0) Note(ChangeKind::ArticleMoved, id, 0, old);
    return;
  }
  LinkArticle(*a, *to);
  Note(old != 0 ? ChangeKind::ArticleMoved : ChangeKind::ArticleAdded, id, source, old);
}

void CFeedsManager::SetGroupFields(ObjectId id, const GroupFields& values) {
  CGroup* g = EditGroup(id);
  if (g == nullptr) return;
  ChangeScope scope(*this);
  const uint32_t fields = ChangedFields<GroupFields>(kGroupFieldTable, *g, values);
  static_cast<GroupFields&>(*g) = values;
  if (fields != 0) Note(ChangeKind::GroupChanged, id, 0, 0, fields);
}

void CFeedsManager::SetSourceFields(ObjectId id, const SourceFields& values) {
  CFeedSource* s = EditSource(id);
  if (s == nullptr) return;
  ChangeScope scope(*this);
  const uint32_t fields = ChangedFields<SourceFields>(kSourceFieldTable, *s, values);
  static_cast<SourceFields&>(*s) = values;
  if (fields != 0) Note(ChangeKind::SourceChanged, id, 0, 0, fields);
}

void CFeedsManager::SetArticleFields(ObjectId id, const ArticleFields& values) {
  CFeed* a = EditFeed(id);
  if (a == nullptr) return;
  ChangeScope scope(*this);
  const bool read = values.m_read;
  const bool starred = values.m_starred;
  ArticleFields kept = values;
  // The flags change through their operations, which count them.
  kept.m_read = a->m_read;
  kept.m_starred = a->m_starred;
  static_cast<ArticleFields&>(*a) = kept;
  if (a->m_read != read) MarkRead({id}, read);
  if (a->m_starred != starred) SetStarred({id}, starred);
}

void CFeedsManager::SetHistory(ObjectId sourceId, std::map<std::u16string, HistoryEntry> history,
                               const std::vector<std::u16string>& timeOrder) {
  CFeedSource* s = EditSource(sourceId);
  if (s == nullptr) return;
  ChangeScope scope(*this);
  const bool changed = s->m_history != history;
  s->m_history = std::move(history);
  s->RebuildHistoryIndex(timeOrder);
  if (changed) Note(ChangeKind::HistoryChanged, sourceId);
}

void CFeedsManager::RemoveNode(ObjectId id) {
  ChangeScope scope(*this);
  if (CFeed* a = EditFeed(id)) {
    if (CFeedSource* s = EditSource(a->m_source)) s->RemoveFeed(id);
  } else if (EditSource(id) != nullptr) {
    if (CGroup* g = Writable(FindGroupOfSource(id))) g->RemoveSource(id);
  } else if (EditGroup(id) != nullptr) {
    if (CGroup* p = Writable(FindParentGroup(id))) {
      p->RemoveSubgroup(id);
    } else {
      RemoveRootGroup(id);
    }
  } else {
    return;
  }
  DeleteObject(id);
}

// --- search

IdList CFeedsManager::SearchArticles(std::u16string_view query, ObjectId node) const {
  const std::vector<std::u16string> words = SearchWords(query);
  struct Found {
    double key;  // the date on a continuous scale; undated last
    ObjectId id;
  };
  std::vector<Found> found;
  auto take = [&](const CFeed& a) {
    found.push_back({a.m_date.IsValid() ? a.m_date.LinearDays() : -std::numeric_limits<double>::infinity(), a.m_id});
  };
  auto inMemory = [&](const CFeed& a) {
    return WordsMatch(ArticleWords(a.m_title, a.m_channel, a.m_description), words);
  };
  IdList matches;
  const bool indexed = !words.empty() && m_articleStore != nullptr && m_storedTexts > 0 &&
                       m_articleStore->MatchArticles(words, matches);
  if (node == 0 && indexed) {
    // The whole library: the index names the stored articles, and only the
    // articles not yet written (if any) are read here.
    found.reserve(matches.size());
    for (ObjectId id : matches) {
      const CFeed* a = EditFeed(id);
      if (a != nullptr && a->m_textsStored && a->m_source != 0) take(*a);
    }
    if (static_cast<size_t>(Counts(0).total()) != m_storedTexts) {
      IdList all;
      CollectFeeds(0, all);
      std::unordered_set<ObjectId> seen;
      for (ObjectId id : all) {
        const CFeed* a = EditFeed(id);
        if (a != nullptr && !a->m_textsStored && seen.insert(id).second && inMemory(*a)) take(*a);
      }
    }
  } else {
    IdList candidates;
    CollectFeeds(node, candidates);
    std::vector<ObjectId> stored(matches.begin(), matches.end());
    std::sort(stored.begin(), stored.end());
    std::unordered_set<ObjectId> seen;
    found.reserve(candidates.size());
    for (ObjectId id : candidates) {
      const CFeed* a = EditFeed(id);
      if (a == nullptr || !seen.insert(id).second) continue;
      const bool match = words.empty() ? true
                         : a->m_textsStored ? std::binary_search(stored.begin(), stored.end(), id)
                                            : inMemory(*a);
      if (match) take(*a);
    }
  }
  std::sort(found.begin(), found.end(), [](const Found& x, const Found& y) {
    return x.key != y.key ? x.key > y.key : x.id > y.id;
  });
  IdList ids;
  ids.reserve(found.size());
  for (const Found& f : found) ids.push_back(f.id);
  return ids;
}

}  // namespace qb
