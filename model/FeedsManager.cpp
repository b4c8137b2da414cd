#include "model/FeedsManager.h"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

#include "model/Text.h"

namespace qb {

namespace {

void RemoveFirst(IdList& list, ObjectId id) {
  auto it = std::find(list.begin(), list.end(), id);
  if (it != list.end()) list.erase(it);
}

bool Contains(const IdList& list, ObjectId id) {
  return std::find(list.begin(), list.end(), id) != list.end();
}

}  // namespace

CFeedsManager::CFeedsManager() = default;

CFeedsManager::~CFeedsManager() = default;

template <typename T>
T* CFeedsManager::Create() {
  auto record = std::make_unique<T>();
  record->m_id = m_storage.NewId();
  const ObjectId id = record->m_id;
  return static_cast<T*>(m_storage.Register(std::move(record), id));
}

CFeed* CFeedsManager::NewFeed() { return Create<CFeed>(); }
CFeedSource* CFeedsManager::NewFeedSource() { return Create<CFeedSource>(); }
CGroup* CFeedsManager::NewGroup() { return Create<CGroup>(); }

void CFeedsManager::CollectFeeds(ObjectId node, IdList& out) const {
  const auto sourceArticles = [&](const CFeedSource& s) {
    for (ObjectId aid : s.m_articles) {
      if (GetFeed(aid) != nullptr) out.push_back(aid);
    }
  };
  if (const CFeedSource* s = GetFeedSource(node)) {
    sourceArticles(*s);
    return;
  }
  VisitGroups(node == 0 ? m_rootGroups : IdList{node}, [&](const CGroup& g) {
    for (ObjectId sid : g.m_sources) {
      if (const CFeedSource* s = GetFeedSource(sid)) sourceArticles(*s);
    }
  });
}

void CFeedsManager::CollectSources(ObjectId node, IdList& out) const {
  if (node != 0 && GetGroup(node) == nullptr) return;
  VisitGroups(node == 0 ? m_rootGroups : IdList{node}, [&](const CGroup& g) {
    for (ObjectId sid : g.m_sources) {
      if (GetFeedSource(sid) != nullptr) out.push_back(sid);
    }
  });
}

void CFeedsManager::CollectGroups(IdList& out) const { CollectGroups(0, out); }

void CFeedsManager::CollectGroups(ObjectId node, IdList& out) const {
  VisitGroups(node == 0 ? m_rootGroups : IdList{node},
              [&](const CGroup& g) { out.push_back(g.m_id); });
}

void CFeedsManager::CountFeeds(ObjectId node, int& unread, int& read) const {
  unread = 0;
  read = 0;
  const auto count = [&](const CFeedSource& s) {
    for (ObjectId aid : s.m_articles) {
      if (const CFeed* a = GetFeed(aid)) (a->m_read ? read : unread)++;
    }
  };
  if (const CFeedSource* s = GetFeedSource(node)) {
    count(*s);
    return;
  }
  if (node != 0 && GetGroup(node) == nullptr) return;
  VisitGroups(node == 0 ? m_rootGroups : IdList{node}, [&](const CGroup& g) {
    for (ObjectId sid : g.m_sources) {
      if (const CFeedSource* s = GetFeedSource(sid)) count(*s);
    }
  });
}

std::unordered_map<ObjectId, CFeedsManager::FeedCounts> CFeedsManager::CountAll() const {
  std::unordered_map<ObjectId, FeedCounts> counts;
  counts.reserve(m_storage.Size());
  const auto sourceCounts = [&](ObjectId sid, const CFeedSource& s) -> FeedCounts {
    auto [it, added] = counts.try_emplace(sid);
    if (added) {
      for (ObjectId aid : s.m_articles) {
        if (const CFeed* a = GetFeed(aid)) (a->m_read ? it->second.read : it->second.unread)++;
      }
    }
    return it->second;
  };
  // Post-order without recursion: a group is summed once all its child
  // groups are. A group met again (only a damaged file shares one) keeps the
  // sum it already has.
  struct Pending {
    ObjectId id;  // as the lists name it
    const CGroup* group;
    bool childrenDone;
  };
  std::vector<Pending> stack;
  for (auto it = m_rootGroups.rbegin(); it != m_rootGroups.rend(); ++it) {
    if (const CGroup* g = GetGroup(*it)) stack.push_back({*it, g, false});
  }
  std::unordered_set<ObjectId> entered;
  entered.reserve(m_storage.Size());
  while (!stack.empty()) {
    const Pending p = stack.back();
    stack.pop_back();
    const CGroup& g = *p.group;
    if (!p.childrenDone) {
      if (!entered.insert(p.id).second) continue;
      stack.push_back({p.id, &g, true});
      for (auto it = g.m_childGroups.rbegin(); it != g.m_childGroups.rend(); ++it) {
        const CGroup* child = entered.count(*it) == 0 ? GetGroup(*it) : nullptr;
        if (child != nullptr) stack.push_back({*it, child, false});
      }
      continue;
    }
    FeedCounts sum;
    for (ObjectId sid : g.m_sources) {
      const CFeedSource* s = GetFeedSource(sid);
      if (s == nullptr) continue;
      const FeedCounts c = sourceCounts(sid, *s);
      sum.unread += c.unread;
      sum.read += c.read;
    }
    for (ObjectId cid : g.m_childGroups) {
      auto it = counts.find(cid);
      if (it == counts.end() || GetGroup(cid) == nullptr) continue;
      sum.unread += it->second.unread;
      sum.read += it->second.read;
    }
    counts[p.id] = sum;
  }
  return counts;
}

CFeedSource* CFeedsManager::FindSourceOfFeed(ObjectId articleId) const {
  IdList sources;
  CollectSources(0, sources);
  for (ObjectId sid : sources) {
    CFeedSource* s = GetFeedSource(sid);
    if (s != nullptr && Contains(s->m_articles, articleId)) return s;
  }
  return nullptr;
}

CGroup* CFeedsManager::FindGroupOfSource(ObjectId sourceId) const {
  IdList groups;
  CollectGroups(groups);
  for (ObjectId gid : groups) {
    CGroup* g = GetGroup(gid);
    if (g != nullptr && Contains(g->m_sources, sourceId)) return g;
  }
  return nullptr;
}

CGroup* CFeedsManager::FindParentGroup(ObjectId groupId) const {
  IdList groups;
  CollectGroups(groups);
  for (ObjectId gid : groups) {
    CGroup* g = GetGroup(gid);
    if (g != nullptr && Contains(g->m_childGroups, groupId)) return g;
  }
  return nullptr;
}

CGroup* CFeedsManager::FindRootGroupByName(const std::u16string& name) const {
  for (ObjectId gid : m_rootGroups) {
    CGroup* g = GetGroup(gid);
    if (g != nullptr && g->m_name == name) return g;
  }
  return nullptr;
}

CFeedSource* CFeedsManager::FindSourceByTitle(const CGroup* group,
                                              const std::u16string& title) const {
  if (group == nullptr) return nullptr;
  for (ObjectId sid : group->m_sources) {
    CFeedSource* s = GetFeedSource(sid);
    if (s != nullptr && s->m_title == title) return s;
  }
  return nullptr;
}

bool CFeedsManager::IsInSubtree(ObjectId ancestor, ObjectId id) const {
  if (GetGroup(ancestor) == nullptr) return false;
  IdList groups;
  CollectGroups(ancestor, groups);
  return Contains(groups, id);
}

void CFeedsManager::RemoveRootGroup(ObjectId id) { RemoveFirst(m_rootGroups, id); }

void CFeedsManager::FixUpAfterLoad() {
  if (!m_rootGroups.empty()) return;
  CGroup* g = NewGroup();
  g->m_name = kAllSourcesName;
  m_rootGroups.push_back(g->m_id);
  NoteChange();
}

void CFeedsManager::DeleteObject(ObjectId id) {
  // Children first, then the node itself; iterative so that neither depth nor
  // a damaged file whose lists form a cycle can overflow the stack.
  struct Pending {
    ObjectId id;
    bool expanded;
  };
  std::vector<Pending> stack{{id, false}};
  std::unordered_set<ObjectId> seen;
  while (!stack.empty()) {
    Pending p = stack.back();
    stack.pop_back();
    if (p.expanded) {
      m_storage.Remove(p.id);
      continue;
    }
    if (!seen.insert(p.id).second) continue;
    stack.push_back({p.id, true});
    // Pushed in reverse so that children are deleted in list order: the
    // group's sources first, then its child groups.
    if (const CGroup* g = GetGroup(p.id)) {
      for (auto it = g->m_childGroups.rbegin(); it != g->m_childGroups.rend(); ++it)
        stack.push_back({*it, false});
      for (auto it = g->m_sources.rbegin(); it != g->m_sources.rend(); ++it)
        stack.push_back({*it, false});
    } else if (const CFeedSource* s = GetFeedSource(p.id)) {
      for (auto it = s->m_articles.rbegin(); it != s->m_articles.rend(); ++it)
        stack.push_back({*it, false});
    }
  }
}

std::u16string CFeedsManager::CleanUrl(std::u16string_view url) { return Trim(url); }

CFeedsManager::AddSourceStatus CFeedsManager::CheckNewSourceUrl(
    ObjectId groupId, std::u16string_view enteredUrl) const {
  const std::u16string clean = CleanUrl(enteredUrl);
  if (clean.empty()) return AddSourceStatus::EmptyUrl;
  if (HasSourceWithUrl(clean)) return AddSourceStatus::Duplicate;
  if (GetGroup(groupId) == nullptr) return AddSourceStatus::NotAGroup;
  return AddSourceStatus::Added;
}

CFeedSource* CFeedsManager::SubscribeSource(ObjectId groupId, std::u16string_view enteredUrl,
                                            AddSourceStatus* status) {
  const AddSourceStatus outcome = CheckNewSourceUrl(groupId, enteredUrl);
  if (status != nullptr) *status = outcome;
  if (outcome != AddSourceStatus::Added) return nullptr;
  return AddSource(groupId, CleanUrl(enteredUrl));
}

CFeedSource* CFeedsManager::AddSource(ObjectId groupId, const std::u16string& url) {
  CGroup* g = GetGroup(groupId);
  if (g == nullptr) return nullptr;
  CFeedSource* s = NewFeedSource();
  s->m_title = url;
  s->m_url = url;
  s->m_autoName = true;
  // A new source lists its newest articles first; a stored source keeps
  // the sort saved with it.
  s->m_sortColumn = kSortColumnDate;
  s->m_sortDirection = kSortDescending;
  g->m_sources.push_back(s->m_id);
  NoteChange();
  return s;
}

bool CFeedsManager::HasSourceWithUrl(std::u16string_view url) const {
  IdList sources;
  CollectSources(0, sources);
  for (ObjectId sid : sources) {
    const CFeedSource* s = GetFeedSource(sid);
    if (s != nullptr && s->m_url == url) return true;
  }
  return false;
}

void CFeedsManager::DeleteSource(ObjectId groupId, ObjectId sourceId) {
  if (CGroup* g = GetGroup(groupId)) g->RemoveSource(sourceId);
  DeleteObject(sourceId);
  NoteChange();
}

bool CFeedsManager::DeleteGroup(ObjectId groupId) {
  if (GetGroup(groupId) == nullptr) return false;
  if (CGroup* parent = FindParentGroup(groupId)) {
    parent->RemoveSubgroup(groupId);
  } else {
    if (Contains(m_rootGroups, groupId) && m_rootGroups.size() == 1) return false;
    RemoveRootGroup(groupId);
  }
  DeleteObject(groupId);
  NoteChange();
  return true;
}

bool CFeedsManager::CanMoveSource(ObjectId sourceId, ObjectId targetGroupId) const {
  return FindGroupOfSource(sourceId) != nullptr && GetGroup(targetGroupId) != nullptr;
}

bool CFeedsManager::MoveSource(ObjectId sourceId, ObjectId targetGroupId) {
  CGroup* from = FindGroupOfSource(sourceId);
  CGroup* to = GetGroup(targetGroupId);
  if (from == nullptr || to == nullptr) return false;
  from->RemoveSource(sourceId);
  to->m_sources.push_back(sourceId);
  NoteChange();
  return true;
}

bool CFeedsManager::CanMoveGroup(ObjectId groupId, ObjectId targetGroupId) const {
  if (GetGroup(groupId) == nullptr) return false;
  const CGroup* target = nullptr;
  if (targetGroupId != 0) {
    target = GetGroup(targetGroupId);
    if (target == nullptr || IsInSubtree(groupId, targetGroupId)) return false;
  }
  return FindParentGroup(groupId) != target;  // both null: already at the root level
}

bool CFeedsManager::MoveGroup(ObjectId groupId, ObjectId targetGroupId) {
  if (!CanMoveGroup(groupId, targetGroupId)) return false;
  if (CGroup* parent = FindParentGroup(groupId)) {
    parent->RemoveSubgroup(groupId);
  } else {
    RemoveRootGroup(groupId);
  }
  (targetGroupId != 0 ? GetGroup(targetGroupId)->m_childGroups : m_rootGroups).push_back(groupId);
  NoteChange();
  return true;
}

bool CFeedsManager::Rename(ObjectId nodeId, const std::u16string& name) {
  if (CGroup* g = GetGroup(nodeId)) {
    g->m_name = name;
    NoteChange();
    return true;
  }
  if (CFeedSource* s = GetFeedSource(nodeId)) {
    s->m_title = name;
    s->m_autoName = false;
    NoteChange();
    return true;
  }
  return false;
}

void CFeedsManager::MarkRead(const IdList& articles, bool read) {
  for (ObjectId id : articles) {
    if (CFeed* a = GetFeed(id)) a->m_read = read;
  }
  NoteChange();
}

void CFeedsManager::DeleteArticles(const IdList& articles) {
  // One walk over all sources finds the holder of every article, so deleting
  // many articles costs one pass over the tree rather than one pass each.
  std::unordered_map<ObjectId, CFeedSource*> holder;
  for (ObjectId id : articles) holder.emplace(id, nullptr);
  IdList sources;
  CollectSources(0, sources);
  size_t unresolved = holder.size();
  for (ObjectId sid : sources) {
    if (unresolved == 0) break;
    CFeedSource* s = GetFeedSource(sid);
    if (s == nullptr) continue;
    for (ObjectId aid : s->m_articles) {
      auto it = holder.find(aid);
      if (it != holder.end() && it->second == nullptr) {
        it->second = s;
        --unresolved;
      }
    }
  }
  std::unordered_map<CFeedSource*, std::unordered_set<ObjectId>> removals;
  for (const auto& [aid, s] : holder) {
    if (s != nullptr) removals[s].insert(aid);
  }
  for (auto& [s, ids] : removals) {
    // Removes the first occurrence of each identifier, keeping the order.
    IdList kept;
    kept.reserve(s->m_articles.size());
    for (ObjectId aid : s->m_articles) {
      if (ids.erase(aid) == 0) kept.push_back(aid);
    }
    s->m_articles.swap(kept);
  }
  for (ObjectId id : articles) {
    auto it = holder.find(id);
    if (it != holder.end() && it->second != nullptr) DeleteObject(id);
  }
  NoteChange();
}

CGroup* CFeedsManager::AddGroup(ObjectId parentId, const std::u16string& name) {
  CGroup* parent = nullptr;
  if (parentId != 0) {
    parent = GetGroup(parentId);
    if (parent == nullptr) return nullptr;
  }
  CGroup* g = NewGroup();
  g->m_name = name;
  (parent != nullptr ? parent->m_childGroups : m_rootGroups).push_back(g->m_id);
  NoteChange();
  return g;
}

}  // namespace qb
