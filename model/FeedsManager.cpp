#include "model/FeedsManager.h"

#include <algorithm>
#include <limits>
#include <unordered_map>
#include <unordered_set>

#include "base/SearchText.h"
#include "base/Text.h"

namespace qb {

CFeedsManager::CFeedsManager() = default;

CFeedsManager::~CFeedsManager() {
  const std::vector<IModelObserver*> observers = std::move(m_observers);
  for (IModelObserver* o : observers) o->OnModelGone(*this);
}

// --- change scopes

void CFeedsManager::Note(ChangeKind kind, ObjectId id, ObjectId parent, ObjectId from, uint32_t fields) {
  m_pending.entries.push_back(ChangeEntry{kind, fields, id, parent, from});
}

void CFeedsManager::NoteCounts(ObjectId node) {
  // Before the counts change: the report names the node only when they
  // end up other than they were.
  if (m_countsBefore.count(node) != 0) return;
  auto it = m_counts.find(node);
  m_countsBefore.emplace(node, it == m_counts.end() ? FeedCounts{} : it->second);
}

void CFeedsManager::Report() {
  const bool external = m_scopeExternal;
  const bool fromServer = m_scopeFromServer;
  m_scopeExternal = false;
  m_scopeFromServer = false;
  std::vector<ObjectId> touched;
  for (const auto& [node, before] : m_countsBefore) {
    auto it = m_counts.find(node);
    const FeedCounts now = it == m_counts.end() ? FeedCounts{} : it->second;
    if (!(now == before) && (EditGroup(node) != nullptr || EditSource(node) != nullptr)) touched.push_back(node);
  }
  m_countsBefore.clear();
  std::sort(touched.begin(), touched.end());
  for (ObjectId node : touched) Note(ChangeKind::CountsChanged, node);
  if (m_pending.empty()) return;
  CModelChange change = std::move(m_pending);
  m_pending = CModelChange{};
  change.external = external;
  change.fromServer = fromServer;
  ++m_changes;
  // A copy: an observer may add or remove observers.
  const std::vector<IModelObserver*> observers = m_observers;
  for (IModelObserver* o : observers) {
    if (std::find(m_observers.begin(), m_observers.end(), o) != m_observers.end()) o->OnModelChanged(*this, change);
  }
}

void CFeedsManager::AddObserver(IModelObserver* observer) {
  if (observer != nullptr && std::find(m_observers.begin(), m_observers.end(), observer) == m_observers.end()) {
    m_observers.push_back(observer);
  }
}

void CFeedsManager::RemoveObserver(IModelObserver* observer) { std::erase(m_observers, observer); }

void CFeedsManager::Batch(const std::function<void()>& work) {
  ChangeScope scope(*this);
  work();
}

void CFeedsManager::ApplyAccountState(const std::function<void()>& work) {
  ChangeScope scope(*this);
  m_scopeFromServer = true;
  ++m_serverDepth;
  try {
    work();
  } catch (...) {
    --m_serverDepth;
    throw;
  }
  --m_serverDepth;
}

void CFeedsManager::ApplyExternal(const std::function<void()>& work) {
  ChangeScope scope(*this);
  m_scopeExternal = true;
  work();
}

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

// --- links and counts

ObjectId CFeedsManager::GroupOfSource(ObjectId sourceId) const {
  auto it = m_groupOfSource.find(sourceId);
  return it == m_groupOfSource.end() ? 0 : it->second;
}

bool CFeedsManager::ParentOfGroup(ObjectId groupId, ObjectId& parent) const {
  auto it = m_parentOfGroup.find(groupId);
  if (it == m_parentOfGroup.end()) return false;
  parent = it->second;
  return true;
}

void CFeedsManager::AddCounts(ObjectId node, bool isSource, const FeedCounts& delta, bool subtract) {
  if (delta.unread == 0 && delta.read == 0) return;
  const int sign = subtract ? -1 : 1;
  auto apply = [&](ObjectId id) {
    NoteCounts(id);
    FeedCounts& c = m_counts[id];
    c.unread += sign * delta.unread;
    c.read += sign * delta.read;
  };
  apply(node);
  ObjectId group = node;
  if (isSource) {
    group = GroupOfSource(node);
    if (group == 0) return;
    apply(group);
  }
  // Bounded, so that lists a damaged file made into a cycle cannot hold it.
  for (size_t steps = 0; steps <= m_parentOfGroup.size(); ++steps) {
    ObjectId parent = 0;
    if (!ParentOfGroup(group, parent) || parent == 0) return;
    apply(parent);
    group = parent;
  }
}

void CFeedsManager::LinkArticle(CFeed& article, CFeedSource& source) {
  source.m_articles.push_back(article.m_id);
  article.m_source = source.m_id;
  // Retention counts from here for an article that brings no time of its own.
  if (article.m_arrived == 0) article.m_arrived = m_clock->CurrentTime();
  AddCounts(source.m_id, true, article.m_read ? FeedCounts{0, 1} : FeedCounts{1, 0}, false);
}

void CFeedsManager::LinkSource(CFeedSource& source, CGroup& group) {
  group.m_sources.push_back(source.m_id);
  m_groupOfSource[source.m_id] = group.m_id;
  auto it = m_counts.find(source.m_id);
  if (it != m_counts.end()) AddCounts(group.m_id, false, it->second, false);
}

void CFeedsManager::LinkGroup(CGroup& group, ObjectId parent) {
  if (parent == 0) {
    m_rootGroups.push_back(group.m_id);
  } else if (CGroup* p = EditGroup(parent)) {
    p->m_childGroups.push_back(group.m_id);
  } else {
    return;
  }
  m_parentOfGroup[group.m_id] = parent;
  auto it = m_counts.find(group.m_id);
  if (parent != 0 && it != m_counts.end()) AddCounts(parent, false, it->second, false);
}

void CFeedsManager::UnlinkSource(ObjectId sourceId) {
  if (CGroup* g = Writable(FindGroupOfSource(sourceId))) g->RemoveSource(sourceId);
  const ObjectId group = GroupOfSource(sourceId);
  if (group == 0) return;
  auto it = m_counts.find(sourceId);
  if (it != m_counts.end()) AddCounts(group, false, it->second, true);
  m_groupOfSource.erase(sourceId);
}

void CFeedsManager::UnlinkGroup(ObjectId groupId) {
  if (CGroup* p = Writable(FindParentGroup(groupId))) {
    p->RemoveSubgroup(groupId);
  } else {
    RemoveRootGroup(groupId);
  }
  ObjectId parent = 0;
  if (!ParentOfGroup(groupId, parent)) return;
  auto it = m_counts.find(groupId);
  if (parent != 0 && it != m_counts.end()) AddCounts(parent, false, it->second, true);
  m_parentOfGroup.erase(groupId);
}

CFeedSource* CFeedsManager::SourceListing(ObjectId articleId) const {
  const CFeed* a = EditFeed(articleId);
  if (a == nullptr) return nullptr;
  if (CFeedSource* s = EditSource(a->m_source); s != nullptr && Contains(s->m_articles, articleId)) return s;
  IdList sources;
  CollectSources(0, sources);
  for (ObjectId sid : sources) {
    CFeedSource* s = EditSource(sid);
    if (s != nullptr && Contains(s->m_articles, articleId)) return s;
  }
  return nullptr;
}

FeedCounts CFeedsManager::Counts(ObjectId node) const {
  if (node == kStarredNode) {
    FeedCounts starred;
    for (ObjectId id : m_starred) {
      const CFeed* a = EditFeed(id);
      if (a != nullptr && a->m_source != 0) (a->m_read ? starred.read : starred.unread)++;
    }
    return starred;
  }
  if (node == 0) {
    FeedCounts sum;
    std::unordered_set<ObjectId> seen;
    for (ObjectId id : m_rootGroups) {
      auto it = m_counts.find(id);
      if (it == m_counts.end() || !seen.insert(id).second) continue;
      sum.unread += it->second.unread;
      sum.read += it->second.read;
    }
    return sum;
  }
  auto it = m_counts.find(node);
  return it == m_counts.end() ? FeedCounts{} : it->second;
}

void CFeedsManager::RebuildIndexes() {
  m_groupOfSource.clear();
  m_parentOfGroup.clear();
  m_counts.clear();
  m_starred.clear();
  m_storedTexts = 0;
  m_textCache.clear();
  for (const auto& [id, record] : m_storage.IdIndex()) {
    if (record->Type() != RecordType::Feed) continue;
    auto* a = static_cast<CFeed*>(record);
    a->m_source = 0;
    if (a->m_textsStored) ++m_storedTexts;
    if (a->m_starred) m_starred.insert(id);
  }
  // Pre-order over the groups the root list reaches, each once; the first
  // list that names a group, source or article is the one it is linked to.
  std::vector<ObjectId> order;
  std::vector<std::pair<ObjectId, ObjectId>> stack;  // (group, parent)
  for (auto it = m_rootGroups.rbegin(); it != m_rootGroups.rend(); ++it) stack.push_back({*it, 0});
  while (!stack.empty()) {
    const auto [id, parent] = stack.back();
    stack.pop_back();
    const CGroup* g = EditGroup(id);
    if (g == nullptr || m_parentOfGroup.count(id) != 0) continue;
    m_parentOfGroup[id] = parent;
    order.push_back(id);
    for (auto it = g->m_childGroups.rbegin(); it != g->m_childGroups.rend(); ++it) stack.push_back({*it, id});
  }
  for (ObjectId gid : order) {
    const CGroup* g = EditGroup(gid);
    for (ObjectId sid : g->m_sources) {
      CFeedSource* s = EditSource(sid);
      if (s == nullptr || m_groupOfSource.count(sid) != 0) continue;
      m_groupOfSource[sid] = gid;
      FeedCounts& c = m_counts[sid];
      for (ObjectId aid : s->m_articles) {
        CFeed* a = EditFeed(aid);
        if (a == nullptr || a->m_source != 0) continue;
        a->m_source = sid;
        (a->m_read ? c.read : c.unread)++;
      }
    }
  }
  // Bottom-up: a group adds its sources, then hands its sum to its parent.
  for (auto it = order.rbegin(); it != order.rend(); ++it) {
    const CGroup* g = EditGroup(*it);
    FeedCounts& c = m_counts[*it];
    for (ObjectId sid : g->m_sources) {
      if (GroupOfSource(sid) != *it) continue;
      const FeedCounts& sc = m_counts[sid];
      c.unread += sc.unread;
      c.read += sc.read;
    }
    const ObjectId parent = m_parentOfGroup[*it];
    if (parent != 0) {
      FeedCounts& pc = m_counts[parent];
      pc.unread += c.unread;
      pc.read += c.read;
    }
  }
}

void CFeedsManager::SetStoredCounts(const std::unordered_map<ObjectId, FeedCounts>& sourceCounts) {
  RebuildIndexes();
  for (const auto& [sid, counts] : sourceCounts) {
    if (EditSource(sid) == nullptr) continue;
    m_counts[sid] = FeedCounts{};
    AddCounts(sid, true, counts, false);
  }
  m_countsBefore.clear();
  m_pending = CModelChange{};
}

// --- texts

void CFeedsManager::SetArticleStore(IArticleStore* store) {
  m_articleStore = store;
  m_textCache.clear();
}

void CFeedsManager::ForgetTexts(ObjectId articleId) {
  for (auto it = m_textCache.begin(); it != m_textCache.end(); ++it) {
    if (it->first == articleId) {
      m_textCache.erase(it);
      return;
    }
  }
}

CArticleTexts CFeedsManager::ArticleTexts(ObjectId articleId) const {
  const CFeed* a = EditFeed(articleId);
  if (a == nullptr) return {};
  if (!a->m_textsStored) return CArticleTexts{SharedText(a->m_description), a->m_sourceText};
  for (auto it = m_textCache.begin(); it != m_textCache.end(); ++it) {
    if (it->first != articleId) continue;
    m_textCache.splice(m_textCache.begin(), m_textCache, it);
    return it->second;
  }
  CArticleTexts texts;
  if (m_articleStore == nullptr || !m_articleStore->ReadArticleTexts(articleId, texts)) return {};
  m_textCache.emplace_front(articleId, texts);
  if (m_textCache.size() > kTextCacheSize) m_textCache.pop_back();
  return texts;
}

void CFeedsManager::ReleaseTexts(ObjectId articleId) {
  CFeed* a = EditFeed(articleId);
  if (a == nullptr || a->m_textsStored) return;
  // Swapped out, not assigned: an assignment keeps the buffer.
  std::u16string().swap(a->m_description);
  a->m_sourceText = SharedText();
  a->m_textsStored = true;
  ++m_storedTexts;
}

void CFeedsManager::CollectFeeds(ObjectId node, IdList& out) const {
  if (node == kStarredNode) {
    const size_t first = out.size();
    for (ObjectId id : m_starred) {
      const CFeed* a = EditFeed(id);
      if (a != nullptr && a->m_source != 0) out.push_back(id);
    }
    std::sort(out.begin() + static_cast<std::ptrdiff_t>(first), out.end());
    return;
  }
  const auto sourceArticles = [&](const CFeedSource& s) {
    for (ObjectId aid : s.m_articles) {
      if (EditFeed(aid) != nullptr) out.push_back(aid);
    }
  };
  if (const CFeedSource* s = EditSource(node)) {
    sourceArticles(*s);
    return;
  }
  VisitGroups(node == 0 ? m_rootGroups : IdList{node}, [&](const CGroup& g) {
    for (ObjectId sid : g.m_sources) {
      if (const CFeedSource* s = EditSource(sid)) sourceArticles(*s);
    }
  });
}

void CFeedsManager::CollectSources(ObjectId node, IdList& out) const {
  if (node != 0 && EditGroup(node) == nullptr) return;
  VisitGroups(node == 0 ? m_rootGroups : IdList{node}, [&](const CGroup& g) {
    for (ObjectId sid : g.m_sources) {
      if (EditSource(sid) != nullptr) out.push_back(sid);
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
      if (const CFeed* a = EditFeed(aid)) (a->m_read ? read : unread)++;
    }
  };
  if (const CFeedSource* s = EditSource(node)) {
    count(*s);
    return;
  }
  if (node != 0 && EditGroup(node) == nullptr) return;
  VisitGroups(node == 0 ? m_rootGroups : IdList{node}, [&](const CGroup& g) {
    for (ObjectId sid : g.m_sources) {
      if (const CFeedSource* s = EditSource(sid)) count(*s);
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
        if (const CFeed* a = EditFeed(aid)) (a->m_read ? it->second.read : it->second.unread)++;
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
    if (const CGroup* g = EditGroup(*it)) stack.push_back({*it, g, false});
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
        const CGroup* child = entered.count(*it) == 0 ? EditGroup(*it) : nullptr;
        if (child != nullptr) stack.push_back({*it, child, false});
      }
      continue;
    }
    FeedCounts sum;
    for (ObjectId sid : g.m_sources) {
      const CFeedSource* s = EditSource(sid);
      if (s == nullptr) continue;
      const FeedCounts c = sourceCounts(sid, *s);
      sum.unread += c.unread;
      sum.read += c.read;
    }
    for (ObjectId cid : g.m_childGroups) {
      auto it = counts.find(cid);
      if (it == counts.end() || EditGroup(cid) == nullptr) continue;
      sum.unread += it->second.unread;
      sum.read += it->second.read;
    }
    counts[p.id] = sum;
  }
  return counts;
}

const CFeedSource* CFeedsManager::FindSourceOfFeed(ObjectId articleId) const {
  // The link the operations keep is tried first; the walk finds what lists
  // written directly hold.
  if (const CFeed* a = EditFeed(articleId)) {
    CFeedSource* s = EditSource(a->m_source);
    if (s != nullptr && Contains(s->m_articles, articleId)) return s;
  }
  IdList sources;
  CollectSources(0, sources);
  for (ObjectId sid : sources) {
    CFeedSource* s = EditSource(sid);
    if (s != nullptr && Contains(s->m_articles, articleId)) return s;
  }
  return nullptr;
}

const CGroup* CFeedsManager::FindGroupOfSource(ObjectId sourceId) const {
  if (CGroup* g = EditGroup(GroupOfSource(sourceId)); g != nullptr && Contains(g->m_sources, sourceId)) return g;
  IdList groups;
  CollectGroups(groups);
  for (ObjectId gid : groups) {
    CGroup* g = EditGroup(gid);
    if (g != nullptr && Contains(g->m_sources, sourceId)) return g;
  }
  return nullptr;
}

const CGroup* CFeedsManager::FindParentGroup(ObjectId groupId) const {
  ObjectId parent = 0;
  if (ParentOfGroup(groupId, parent)) {
    if (parent == 0 && Contains(m_rootGroups, groupId)) return nullptr;
    if (CGroup* g = EditGroup(parent); g != nullptr && Contains(g->m_childGroups, groupId)) return g;
  }
  IdList groups;
  CollectGroups(groups);
  for (ObjectId gid : groups) {
    CGroup* g = EditGroup(gid);
    if (g != nullptr && Contains(g->m_childGroups, groupId)) return g;
  }
  return nullptr;
}

const CGroup* CFeedsManager::FindRootGroupByName(const std::u16string& name) const {
  for (ObjectId gid : m_rootGroups) {
    CGroup* g = EditGroup(gid);
    if (g != nullptr && g->m_name == name) return g;
  }
  return nullptr;
}

const CFeedSource* CFeedsManager::FindSourceByTitle(const CGroup* group, const std::u16string& title) const {
  if (group == nullptr) return nullptr;
  for (ObjectId sid : group->m_sources) {
    CFeedSource* s = EditSource(sid);
    if (s != nullptr && s->m_title == title) return s;
  }
  return nullptr;
}

bool CFeedsManager::IsInSubtree(ObjectId ancestor, ObjectId id) const {
  if (EditGroup(ancestor) == nullptr) return false;
  // Up from `id` through the parent links the operations keep: as long as
  // the depth of `id`, not the size of the subtree. A ring of links (only a
  // damaged list makes one) ends the walk.
  std::unordered_set<ObjectId> seen;
  for (ObjectId at = id; at != 0 && seen.insert(at).second;) {
    if (at == ancestor) return true;
    ObjectId parent = 0;
    if (!ParentOfGroup(at, parent)) break;
    at = parent;
  }
  return false;
}

void CFeedsManager::RemoveRootGroup(ObjectId id) { RemoveFirst(m_rootGroups, id); }

void CFeedsManager::FixUpAfterLoad() {
  // Every load ends here, so the links and counts follow what it read.
  RebuildIndexes();
  if (!m_rootGroups.empty()) return;
  AddGroup(0, kAllSourcesName);
}

void CFeedsManager::DeleteObject(ObjectId id) {
  ChangeScope scope(*this);
  // The node is reported removed when an operation had linked it; what is
  // below it goes with it.
  if (const CFeed* a = EditFeed(id); a != nullptr && a->m_source != 0) {
    Note(ChangeKind::ArticleRemoved, id, a->m_source);
  } else if (EditSource(id) != nullptr && GroupOfSource(id) != 0) {
    Note(ChangeKind::SourceRemoved, id, GroupOfSource(id));
  } else if (ObjectId parent = 0; EditGroup(id) != nullptr && ParentOfGroup(id, parent)) {
    Note(ChangeKind::GroupRemoved, id, parent);
  }
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
      // What the node counted leaves the nodes above it.
      if (const CFeed* a = EditFeed(p.id)) {
        if (a->m_source != 0 && EditSource(a->m_source) != nullptr) {
          AddCounts(a->m_source, true, a->m_read ? FeedCounts{0, 1} : FeedCounts{1, 0}, true);
        }
        if (a->m_textsStored) --m_storedTexts;
        ForgetTexts(p.id);
      } else if (EditSource(p.id) != nullptr) {
        if (auto it = m_counts.find(p.id); it != m_counts.end() && GroupOfSource(p.id) != 0) {
          AddCounts(GroupOfSource(p.id), false, it->second, true);
        }
        m_groupOfSource.erase(p.id);
        m_counts.erase(p.id);
      } else if (EditGroup(p.id) != nullptr) {
        ObjectId parent = 0;
        if (auto it = m_counts.find(p.id); it != m_counts.end() && ParentOfGroup(p.id, parent) && parent != 0) {
          AddCounts(parent, false, it->second, true);
        }
        m_parentOfGroup.erase(p.id);
        m_counts.erase(p.id);
      }
      if (m_starred.erase(p.id) != 0) Note(ChangeKind::CountsChanged, kStarredNode);
      m_storage.Remove(p.id);
      continue;
    }
    if (!seen.insert(p.id).second) continue;
    stack.push_back({p.id, true});
    // Pushed in reverse so that children are deleted in list order: the
    // group's sources first, then its child groups.
    if (const CGroup* g = EditGroup(p.id)) {
      for (auto it = g->m_childGroups.rbegin(); it != g->m_childGroups.rend(); ++it)
        stack.push_back({*it, false});
      for (auto it = g->m_sources.rbegin(); it != g->m_sources.rend(); ++it)
        stack.push_back({*it, false});
    } else if (const CFeedSource* s = EditSource(p.id)) {
      for (auto it = s->m_articles.rbegin(); it != s->m_articles.rend(); ++it)
        stack.push_back({*it, false});
    }
  }
}

}  // namespace qb
