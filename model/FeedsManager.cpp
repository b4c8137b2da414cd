#include "model/FeedsManager.h"

#include <algorithm>
#include <limits>
#include <unordered_map>
#include <unordered_set>

#include "model/SearchText.h"
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
  m_scopeExternal = false;
  std::vector<ObjectId> touched;
  for (const auto& [node, before] : m_countsBefore) {
    auto it = m_counts.find(node);
    const FeedCounts now = it == m_counts.end() ? FeedCounts{} : it->second;
    if (!(now == before) && (GetGroup(node) != nullptr || GetFeedSource(node) != nullptr)) touched.push_back(node);
  }
  m_countsBefore.clear();
  std::sort(touched.begin(), touched.end());
  for (ObjectId node : touched) Note(ChangeKind::CountsChanged, node);
  if (m_pending.empty()) return;
  CModelChange change = std::move(m_pending);
  m_pending = CModelChange{};
  change.external = external;
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
  } else if (CGroup* p = GetGroup(parent)) {
    p->m_childGroups.push_back(group.m_id);
  } else {
    return;
  }
  m_parentOfGroup[group.m_id] = parent;
  auto it = m_counts.find(group.m_id);
  if (parent != 0 && it != m_counts.end()) AddCounts(parent, false, it->second, false);
}

void CFeedsManager::UnlinkSource(ObjectId sourceId) {
  if (CGroup* g = FindGroupOfSource(sourceId)) g->RemoveSource(sourceId);
  const ObjectId group = GroupOfSource(sourceId);
  if (group == 0) return;
  auto it = m_counts.find(sourceId);
  if (it != m_counts.end()) AddCounts(group, false, it->second, true);
  m_groupOfSource.erase(sourceId);
}

void CFeedsManager::UnlinkGroup(ObjectId groupId) {
  if (CGroup* p = FindParentGroup(groupId)) {
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
  const CFeed* a = GetFeed(articleId);
  if (a == nullptr) return nullptr;
  if (CFeedSource* s = GetFeedSource(a->m_source); s != nullptr && Contains(s->m_articles, articleId)) return s;
  IdList sources;
  CollectSources(0, sources);
  for (ObjectId sid : sources) {
    CFeedSource* s = GetFeedSource(sid);
    if (s != nullptr && Contains(s->m_articles, articleId)) return s;
  }
  return nullptr;
}

FeedCounts CFeedsManager::Counts(ObjectId node) const {
  if (node == kStarredNode) {
    FeedCounts starred;
    for (ObjectId id : m_starred) {
      const CFeed* a = GetFeed(id);
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
    const CGroup* g = GetGroup(id);
    if (g == nullptr || m_parentOfGroup.count(id) != 0) continue;
    m_parentOfGroup[id] = parent;
    order.push_back(id);
    for (auto it = g->m_childGroups.rbegin(); it != g->m_childGroups.rend(); ++it) stack.push_back({*it, id});
  }
  for (ObjectId gid : order) {
    const CGroup* g = GetGroup(gid);
    for (ObjectId sid : g->m_sources) {
      CFeedSource* s = GetFeedSource(sid);
      if (s == nullptr || m_groupOfSource.count(sid) != 0) continue;
      m_groupOfSource[sid] = gid;
      FeedCounts& c = m_counts[sid];
      for (ObjectId aid : s->m_articles) {
        CFeed* a = GetFeed(aid);
        if (a == nullptr || a->m_source != 0) continue;
        a->m_source = sid;
        (a->m_read ? c.read : c.unread)++;
      }
    }
  }
  // Bottom-up: a group adds its sources, then hands its sum to its parent.
  for (auto it = order.rbegin(); it != order.rend(); ++it) {
    const CGroup* g = GetGroup(*it);
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
    if (GetFeedSource(sid) == nullptr) continue;
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
  const CFeed* a = GetFeed(articleId);
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
  CFeed* a = GetFeed(articleId);
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
      const CFeed* a = GetFeed(id);
      if (a != nullptr && a->m_source != 0) out.push_back(id);
    }
    std::sort(out.begin() + static_cast<std::ptrdiff_t>(first), out.end());
    return;
  }
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
  // The link the operations keep is tried first; the walk finds what lists
  // written directly hold.
  if (const CFeed* a = GetFeed(articleId)) {
    CFeedSource* s = GetFeedSource(a->m_source);
    if (s != nullptr && Contains(s->m_articles, articleId)) return s;
  }
  IdList sources;
  CollectSources(0, sources);
  for (ObjectId sid : sources) {
    CFeedSource* s = GetFeedSource(sid);
    if (s != nullptr && Contains(s->m_articles, articleId)) return s;
  }
  return nullptr;
}

CGroup* CFeedsManager::FindGroupOfSource(ObjectId sourceId) const {
  if (CGroup* g = GetGroup(GroupOfSource(sourceId)); g != nullptr && Contains(g->m_sources, sourceId)) return g;
  IdList groups;
  CollectGroups(groups);
  for (ObjectId gid : groups) {
    CGroup* g = GetGroup(gid);
    if (g != nullptr && Contains(g->m_sources, sourceId)) return g;
  }
  return nullptr;
}

CGroup* CFeedsManager::FindParentGroup(ObjectId groupId) const {
  ObjectId parent = 0;
  if (ParentOfGroup(groupId, parent)) {
    if (parent == 0 && Contains(m_rootGroups, groupId)) return nullptr;
    if (CGroup* g = GetGroup(parent); g != nullptr && Contains(g->m_childGroups, groupId)) return g;
  }
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
  if (const CFeed* a = GetFeed(id); a != nullptr && a->m_source != 0) {
    Note(ChangeKind::ArticleRemoved, id, a->m_source);
  } else if (GetFeedSource(id) != nullptr && GroupOfSource(id) != 0) {
    Note(ChangeKind::SourceRemoved, id, GroupOfSource(id));
  } else if (ObjectId parent = 0; GetGroup(id) != nullptr && ParentOfGroup(id, parent)) {
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
      if (const CFeed* a = GetFeed(p.id)) {
        if (a->m_source != 0 && GetFeedSource(a->m_source) != nullptr) {
          AddCounts(a->m_source, true, a->m_read ? FeedCounts{0, 1} : FeedCounts{1, 0}, true);
        }
        if (a->m_textsStored) --m_storedTexts;
        ForgetTexts(p.id);
      } else if (GetFeedSource(p.id) != nullptr) {
        if (auto it = m_counts.find(p.id); it != m_counts.end() && GroupOfSource(p.id) != 0) {
          AddCounts(GroupOfSource(p.id), false, it->second, true);
        }
        m_groupOfSource.erase(p.id);
        m_counts.erase(p.id);
      } else if (GetGroup(p.id) != nullptr) {
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

CFeedSource* CFeedsManager::AddSource(ObjectId groupId, const std::u16string& url, std::u16string_view siteAddress) {
  CGroup* g = GetGroup(groupId);
  if (g == nullptr) return nullptr;
  ChangeScope scope(*this);
  CFeedSource* s = NewFeedSource();
  s->m_title = url;
  s->m_url = url;
  s->m_autoName = true;
  s->m_reservedString = siteAddress;
  // A new source lists its newest articles first; a stored source keeps
  // the sort saved with it.
  s->m_sortColumn = kSortColumnDate;
  s->m_sortDirection = kSortDescending;
  LinkSource(*s, *g);
  Note(ChangeKind::SourceAdded, s->m_id, groupId);
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

uint32_t CFeedsManager::CapabilitiesOf(ObjectId node) const {
  if (GetGroup(node) != nullptr) {
    uint32_t all = kAllCapabilities;
    if (m_rootGroups.size() == 1 && m_rootGroups.front() == node) all &= ~(kCanMove | kCanDelete);
    return all;
  }
  if (const CFeedSource* s = GetFeedSource(node)) {
    uint32_t all = kAllCapabilities;
    if (s->m_url.empty()) all &= ~(kCanFetch | kCanClearHistory);
    return all;
  }
  return 0;
}

void CFeedsManager::DeleteSource(ObjectId groupId, ObjectId sourceId) {
  if (!Can(sourceId, kCanDelete)) return;
  ChangeScope scope(*this);
  if (CGroup* g = GetGroup(groupId)) g->RemoveSource(sourceId);
  DeleteObject(sourceId);
}

bool CFeedsManager::DeleteGroup(ObjectId groupId) {
  if (!Can(groupId, kCanDelete)) return false;
  ChangeScope scope(*this);
  if (CGroup* parent = FindParentGroup(groupId)) {
    parent->RemoveSubgroup(groupId);
  } else {
    if (Contains(m_rootGroups, groupId) && m_rootGroups.size() == 1) return false;
    RemoveRootGroup(groupId);
  }
  DeleteObject(groupId);
  return true;
}

bool CFeedsManager::CanMoveSource(ObjectId sourceId, ObjectId targetGroupId) const {
  return Can(sourceId, kCanMove) && FindGroupOfSource(sourceId) != nullptr && GetGroup(targetGroupId) != nullptr;
}

bool CFeedsManager::MoveSource(ObjectId sourceId, ObjectId targetGroupId) {
  if (!CanMoveSource(sourceId, targetGroupId)) return false;
  CGroup* from = FindGroupOfSource(sourceId);
  CGroup* to = GetGroup(targetGroupId);
  CFeedSource* s = GetFeedSource(sourceId);
  if (from == nullptr || to == nullptr || s == nullptr) return false;
  ChangeScope scope(*this);
  const ObjectId fromId = from->m_id;
  UnlinkSource(sourceId);
  LinkSource(*s, *to);
  Note(ChangeKind::SourceMoved, sourceId, targetGroupId, fromId);
  return true;
}

bool CFeedsManager::CanMoveGroup(ObjectId groupId, ObjectId targetGroupId) const {
  if (!Can(groupId, kCanMove)) return false;
  const CGroup* target = nullptr;
  if (targetGroupId != 0) {
    target = GetGroup(targetGroupId);
    if (target == nullptr || IsInSubtree(groupId, targetGroupId)) return false;
  }
  return FindParentGroup(groupId) != target;  // both null: already at the root level
}

bool CFeedsManager::MoveGroup(ObjectId groupId, ObjectId targetGroupId) {
  if (!CanMoveGroup(groupId, targetGroupId)) return false;
  ChangeScope scope(*this);
  const CGroup* parent = FindParentGroup(groupId);
  const ObjectId fromId = parent != nullptr ? parent->m_id : 0;
  UnlinkGroup(groupId);
  LinkGroup(*GetGroup(groupId), targetGroupId);
  Note(ChangeKind::GroupMoved, groupId, targetGroupId, fromId);
  return true;
}

bool CFeedsManager::Rename(ObjectId nodeId, const std::u16string& name) {
  if (!Can(nodeId, kCanRename)) return false;
  ChangeScope scope(*this);
  if (CGroup* g = GetGroup(nodeId)) {
    if (g->m_name != name) {
      g->m_name = name;
      Note(ChangeKind::GroupChanged, nodeId, 0, 0, kGroupName);
    }
    return true;
  }
  if (CFeedSource* s = GetFeedSource(nodeId)) {
    const uint32_t fields = (s->m_title != name ? kSourceTitle : 0) | (s->m_autoName ? kSourceAutoName : 0);
    s->m_title = name;
    s->m_autoName = false;
    if (fields != 0) Note(ChangeKind::SourceChanged, nodeId, 0, 0, fields);
    return true;
  }
  return false;
}

void CFeedsManager::MarkRead(const IdList& articles, bool read) {
  ChangeScope scope(*this);
  for (ObjectId id : articles) {
    CFeed* a = GetFeed(id);
    if (a == nullptr || a->m_read == read) continue;
    a->m_read = read;
    if (a->m_source != 0 && GetFeedSource(a->m_source) != nullptr) {
      AddCounts(a->m_source, true, FeedCounts{read ? -1 : 1, read ? 1 : -1}, false);
    }
    Note(ChangeKind::ArticleChanged, id, a->m_source, 0, kArticleRead);
    if (a->m_starred) Note(ChangeKind::CountsChanged, kStarredNode);
  }
}

void CFeedsManager::SetStarred(const IdList& articles, bool starred) {
  ChangeScope scope(*this);
  for (ObjectId id : articles) {
    CFeed* a = GetFeed(id);
    if (a == nullptr || a->m_starred == starred) continue;
    a->m_starred = starred;
    if (starred) {
      m_starred.insert(id);
    } else {
      m_starred.erase(id);
    }
    Note(ChangeKind::ArticleChanged, id, a->m_source, 0, kArticleStarred);
    Note(ChangeKind::CountsChanged, kStarredNode);
  }
}

void CFeedsManager::DeleteArticles(const IdList& articles) {
  ChangeScope scope(*this);
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
    if (it == holder.end() || it->second == nullptr) continue;
    // An article a list held without the operations knowing is reported
    // removed from the list it was found in.
    if (const CFeed* a = GetFeed(id); a != nullptr && a->m_source == 0) {
      Note(ChangeKind::ArticleRemoved, id, it->second->m_id);
    }
    DeleteObject(id);
    it->second = nullptr;
  }
}

CGroup* CFeedsManager::AddGroup(ObjectId parentId, const std::u16string& name) {
  if (parentId != 0 && GetGroup(parentId) == nullptr) return nullptr;
  ChangeScope scope(*this);
  CGroup* g = NewGroup();
  g->m_name = name;
  LinkGroup(*g, parentId);
  Note(ChangeKind::GroupAdded, g->m_id, parentId);
  return g;
}

bool CFeedsManager::ClearHistory(ObjectId sourceId) {
  CFeedSource* s = GetFeedSource(sourceId);
  if (s == nullptr || !Can(sourceId, kCanClearHistory)) return false;
  ChangeScope scope(*this);
  if (!s->m_history.empty()) {
    s->ClearHistory();
    m_pending.historyKeys.push_back({sourceId, HistoryKeyChange::Step::Cleared, {}});
    Note(ChangeKind::HistoryChanged, sourceId);
  }
  return true;
}

bool CFeedsManager::SetExpanded(ObjectId groupId, bool expanded) {
  CGroup* g = GetGroup(groupId);
  if (g == nullptr || g->m_expanded == expanded) return false;
  ChangeScope scope(*this);
  g->m_expanded = expanded;
  Note(ChangeKind::GroupChanged, groupId, 0, 0, kGroupExpanded);
  return true;
}

void CFeedsManager::SetSort(const IdList& sources, int32_t column, int32_t direction) {
  ChangeScope scope(*this);
  for (ObjectId id : sources) {
    CFeedSource* s = GetFeedSource(id);
    if (s == nullptr || (s->m_sortColumn == column && s->m_sortDirection == direction)) continue;
    s->m_sortColumn = column;
    s->m_sortDirection = direction;
    Note(ChangeKind::SourceChanged, id, 0, 0, kSourceSort);
  }
}

bool CFeedsManager::SetSourceUrl(ObjectId sourceId, const std::u16string& url) {
  CFeedSource* s = GetFeedSource(sourceId);
  if (s == nullptr || s->m_url == url || !Can(sourceId, kCanChangeAddress)) return false;
  ChangeScope scope(*this);
  s->m_url = url;
  Note(ChangeKind::SourceChanged, sourceId, 0, 0, kSourceUrl);
  return true;
}

bool CFeedsManager::SetRefreshInterval(ObjectId sourceId, int32_t minutes) {
  CFeedSource* s = GetFeedSource(sourceId);
  if (s == nullptr || s->m_refreshInterval == minutes) return false;
  ChangeScope scope(*this);
  s->m_refreshInterval = minutes;
  Note(ChangeKind::SourceChanged, sourceId, 0, 0, kSourceRefreshInterval);
  return true;
}

CFeedsManager::WelcomeIds CFeedsManager::InstallWelcomeSource(const CFeed& fields) {
  ChangeScope scope(*this);
  WelcomeIds ids;
  CGroup* group = FindRootGroupByName(kAllSourcesName);
  if (group == nullptr) group = AddGroup(0, kAllSourcesName);
  ids.group = group->m_id;
  if (CFeedSource* old = FindSourceByTitle(group, kWelcomeSourceTitle)) DeleteSource(ids.group, old->m_id);

  CFeedSource* source = NewFeedSource();
  source->m_title = kWelcomeSourceTitle;
  source->m_refreshInterval = 525600;
  source->m_commsStatus = u"OK";
  // Like every new source, newest first; the group it opens in, which
  // sorts as its first source does, too.
  source->m_sortColumn = kSortColumnDate;
  source->m_sortDirection = kSortDescending;
  ids.source = source->m_id;
  CFeed* article = NewFeed();
  ids.article = article->m_id;
  article->m_channel = fields.m_channel;
  article->m_title = fields.m_title;
  article->m_link = fields.m_link;
  article->m_description = fields.m_description;
  article->m_dateText = fields.m_dateText;
  article->m_key = fields.m_key;
  article->m_date = fields.m_date;
  article->m_read = false;
  article->m_sourceText = fields.m_sourceText;
  LinkArticle(*article, *source);
  LinkSource(*source, *GetGroup(ids.group));
  Note(ChangeKind::SourceAdded, ids.source, ids.group);
  Note(ChangeKind::ArticleAdded, ids.article, ids.source);
  return ids;
}

// --- retention

void CFeedsManager::SetRetentionDays(int32_t days) {
  days = std::max(days, 0);
  if (days == m_retentionDays) return;
  ChangeScope scope(*this);
  m_retentionDays = days;
  Note(ChangeKind::SettingsChanged, 0);
}

bool CFeedsManager::SetSourceRetention(ObjectId sourceId, int32_t days) {
  CFeedSource* s = GetFeedSource(sourceId);
  if (s == nullptr || s->m_retentionDays == days) return false;
  ChangeScope scope(*this);
  s->m_retentionDays = days;
  Note(ChangeKind::SourceChanged, sourceId, 0, 0, kSourceRetention);
  return true;
}

int32_t CFeedsManager::EffectiveRetention(const CFeedSource& source) const {
  if (source.m_retentionDays < 0) return 0;
  return source.m_retentionDays > 0 ? source.m_retentionDays : m_retentionDays;
}

size_t CFeedsManager::ApplyRetention(int64_t now, ObjectId keep) {
  IdList expired;
  IdList sources;
  CollectSources(0, sources);
  for (ObjectId sid : sources) {
    const CFeedSource* s = GetFeedSource(sid);
    const int32_t days = EffectiveRetention(*s);
    if (days <= 0 || !Can(sid, kCanApplyRetention)) continue;
    for (ObjectId aid : s->m_articles) {
      const CFeed* a = GetFeed(aid);
      if (a == nullptr || !a->m_read || a->m_starred || aid == keep) continue;
      // The age counts from when the article came, not from its date: an
      // old item that arrived today stays as long as a new one. Without a
      // time of arrival (a classic data file), the time its key was first
      // seen; without either it stays.
      int64_t arrived = a->m_arrived;
      if (arrived == 0) {
        auto h = s->m_history.find(a->m_key);
        if (h != s->m_history.end() && h->second.firstSeen.IsValid()) {
          arrived = static_cast<int64_t>((h->second.firstSeen.LinearDays() - 25569.0) * 86400.0);
        }
      }
      if (arrived != 0 && now - arrived > int64_t{days} * 86400) expired.push_back(aid);
    }
  }
  if (!expired.empty()) DeleteArticles(expired);
  return expired.size();
}

// --- updates

bool CFeedsManager::InterpretSource(CFeedSource& source, const std::function<bool(CFeedSource&)>& interpret) {
  const ObjectId id = source.m_id;
  if (m_interpreting.count(id) != 0) return interpret(source);
  ChangeScope scope(*this);
  const SourceFields fields = source;
  const IdList articles = source.m_articles;
  const std::map<std::u16string, HistoryEntry> history = source.m_history;

  // Whatever the interpretation did, also when it failed part-way.
  auto record = [&] {
    m_interpreting.erase(id);
    if (const uint32_t changed = ChangedFields<SourceFields>(kSourceFieldTable, source, fields)) {
      Note(ChangeKind::SourceChanged, id, 0, 0, changed);
    }
    const IdList& now = source.m_articles;
    const bool appended = now.size() >= articles.size() && std::equal(articles.begin(), articles.end(), now.begin());
    std::unordered_set<ObjectId> before(articles.begin(), articles.end());
    if (!appended) {
      // Not the way an update changes a list; reported as it stands.
      std::unordered_set<ObjectId> after(now.begin(), now.end());
      for (ObjectId aid : articles) {
        if (after.count(aid) != 0) continue;
        if (CFeed* a = GetFeed(aid); a != nullptr && a->m_source == id) {
          AddCounts(id, true, a->m_read ? FeedCounts{0, 1} : FeedCounts{1, 0}, true);
          a->m_source = 0;
        }
        Note(ChangeKind::ArticleRemoved, aid, id);
      }
      Note(ChangeKind::ListReordered, id);
    }
    for (ObjectId aid : now) {
      if (before.count(aid) != 0) continue;
      CFeed* a = GetFeed(aid);
      if (a == nullptr || a->m_source != 0) continue;
      a->m_source = id;
      AddCounts(id, true, a->m_read ? FeedCounts{0, 1} : FeedCounts{1, 0}, false);
      Note(ChangeKind::ArticleAdded, aid, id);
      before.insert(aid);
    }
    // Keys added, in the order they were added (the time index keeps ties
    // in that order), and keys dropped.
    bool changed = false;
    for (const auto& [key, entry] : history) {
      if (source.m_history.count(key) != 0) continue;
      m_pending.historyKeys.push_back({id, HistoryKeyChange::Step::Dropped, key});
      changed = true;
    }
    for (const auto& [time, key] : source.HistoryTimeIndex()) {
      auto old = history.find(key);
      if (old != history.end() && old->second == source.m_history.at(key)) continue;
      m_pending.historyKeys.push_back({id, HistoryKeyChange::Step::Added, key});
      changed = true;
    }
    if (changed) Note(ChangeKind::HistoryChanged, id);
  };
  m_interpreting.insert(id);
  bool result = false;
  try {
    result = interpret(source);
  } catch (...) {
    if (GetFeedSource(id) == &source) record();
    throw;
  }
  if (GetFeedSource(id) == &source) record();
  m_interpreting.erase(id);
  return result;
}

// --- rows another process committed

CGroup* CFeedsManager::AdoptGroup(ObjectId id) { return Adopt<CGroup>(id); }
CFeedSource* CFeedsManager::AdoptSource(ObjectId id) { return Adopt<CFeedSource>(id); }

CFeed* CFeedsManager::AdoptArticle(ObjectId id) {
  const bool isNew = m_storage.Lookup(id) == nullptr;
  CFeed* a = Adopt<CFeed>(id);
  if (a != nullptr && isNew) {
    a->m_textsStored = true;
    ++m_storedTexts;
  }
  return a;
}

void CFeedsManager::PlaceGroup(ObjectId id, ObjectId parent, bool root) {
  CGroup* g = GetGroup(id);
  if (g == nullptr || (parent != 0 && GetGroup(parent) == nullptr)) return;
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
  CFeedSource* s = GetFeedSource(id);
  if (s == nullptr) return;
  const ObjectId old = GroupOfSource(id);
  if (old == group && old != 0) return;
  ChangeScope scope(*this);
  if (old != 0) UnlinkSource(id);
  CGroup* g = GetGroup(group);
  if (g == nullptr) {
    if (old != 0) Note(ChangeKind::SourceMoved, id, 0, old);
    return;
  }
  LinkSource(*s, *g);
  Note(old != 0 ? ChangeKind::SourceMoved : ChangeKind::SourceAdded, id, group, old);
}

void CFeedsManager::PlaceArticle(ObjectId id, ObjectId source) {
  CFeed* a = GetFeed(id);
  if (a == nullptr || (a->m_source == source && source != 0)) return;
  ChangeScope scope(*this);
  const ObjectId old = a->m_source;
  if (CFeedSource* from = GetFeedSource(old)) {
    from->RemoveFeed(id);
    AddCounts(old, true, a->m_read ? FeedCounts{0, 1} : FeedCounts{1, 0}, true);
  }
  a->m_source = 0;
  CFeedSource* to = GetFeedSource(source);
  if (to == nullptr) {
    if (old != 0) Note(ChangeKind::ArticleMoved, id, 0, old);
    return;
  }
  LinkArticle(*a, *to);
  Note(old != 0 ? ChangeKind::ArticleMoved : ChangeKind::ArticleAdded, id, source, old);
}

void CFeedsManager::SetGroupFields(ObjectId id, const GroupFields& values) {
  CGroup* g = GetGroup(id);
  if (g == nullptr) return;
  ChangeScope scope(*this);
  const uint32_t fields = ChangedFields<GroupFields>(kGroupFieldTable, *g, values);
  static_cast<GroupFields&>(*g) = values;
  if (fields != 0) Note(ChangeKind::GroupChanged, id, 0, 0, fields);
}

void CFeedsManager::SetSourceFields(ObjectId id, const SourceFields& values) {
  CFeedSource* s = GetFeedSource(id);
  if (s == nullptr) return;
  ChangeScope scope(*this);
  const uint32_t fields = ChangedFields<SourceFields>(kSourceFieldTable, *s, values);
  static_cast<SourceFields&>(*s) = values;
  if (fields != 0) Note(ChangeKind::SourceChanged, id, 0, 0, fields);
}

void CFeedsManager::SetArticleFields(ObjectId id, const ArticleFields& values) {
  CFeed* a = GetFeed(id);
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
  CFeedSource* s = GetFeedSource(sourceId);
  if (s == nullptr) return;
  ChangeScope scope(*this);
  const bool changed = s->m_history != history;
  s->m_history = std::move(history);
  s->RebuildHistoryIndex(timeOrder);
  if (changed) Note(ChangeKind::HistoryChanged, sourceId);
}

void CFeedsManager::RemoveNode(ObjectId id) {
  ChangeScope scope(*this);
  if (CFeed* a = GetFeed(id)) {
    if (CFeedSource* s = GetFeedSource(a->m_source)) s->RemoveFeed(id);
  } else if (GetFeedSource(id) != nullptr) {
    if (CGroup* g = FindGroupOfSource(id)) g->RemoveSource(id);
  } else if (GetGroup(id) != nullptr) {
    if (CGroup* p = FindParentGroup(id)) {
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
      const CFeed* a = GetFeed(id);
      if (a != nullptr && a->m_textsStored && a->m_source != 0) take(*a);
    }
    if (static_cast<size_t>(Counts(0).total()) != m_storedTexts) {
      IdList all;
      CollectFeeds(0, all);
      std::unordered_set<ObjectId> seen;
      for (ObjectId id : all) {
        const CFeed* a = GetFeed(id);
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
      const CFeed* a = GetFeed(id);
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
