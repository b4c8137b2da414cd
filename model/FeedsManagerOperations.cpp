// The model's side of the user's commands on the tree and the articles:
// subscribing, moving, renaming, deleting, marking, starring, the settings
// of a source, and retention. Each reports one change.
#include "model/FeedsManager.h"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

#include "base/Text.h"

namespace qb {

std::u16string CFeedsManager::CleanUrl(std::u16string_view url) { return Trim(url); }

CFeedsManager::AddSourceStatus CFeedsManager::CheckNewSourceUrl(
    ObjectId groupId, std::u16string_view enteredUrl) const {
  const std::u16string clean = CleanUrl(enteredUrl);
  if (clean.empty()) return AddSourceStatus::EmptyUrl;
  if (const ObjectId account = AccountOf(groupId); account != 0) {
    // The account's server is asked; a feed read here as well is another.
    IdList sources;
    CollectSources(account, sources);
    for (ObjectId sid : sources) {
      if (GetFeedSource(sid)->m_url == clean) return AddSourceStatus::Duplicate;
    }
    return (ServerEditsOf(groupId) & kCanAddInto) != 0 ? AddSourceStatus::Added : AddSourceStatus::NotAGroup;
  }
  if (HasSourceWithUrl(clean)) return AddSourceStatus::Duplicate;
  if (EditGroup(groupId) == nullptr || !Can(groupId, kCanAddInto)) return AddSourceStatus::NotAGroup;
  return AddSourceStatus::Added;
}

const CFeedSource* CFeedsManager::SubscribeSource(ObjectId groupId, std::u16string_view enteredUrl,
                                                  AddSourceStatus* status) {
  // An account's feeds are the ones its server lists (sync/AccountEdits.h).
  const AddSourceStatus outcome =
      AccountOf(groupId) != 0 ? AddSourceStatus::NotAGroup : CheckNewSourceUrl(groupId, enteredUrl);
  if (status != nullptr) *status = outcome;
  if (outcome != AddSourceStatus::Added) return nullptr;
  return AddSource(groupId, CleanUrl(enteredUrl));
}

const CFeedSource* CFeedsManager::AddSource(ObjectId groupId, const std::u16string& url,
                                            std::u16string_view siteAddress) {
  CGroup* g = EditGroup(groupId);
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
    const CFeedSource* s = EditSource(sid);
    if (s != nullptr && s->m_url == url) return true;
  }
  return false;
}

uint32_t CFeedsManager::CapabilitiesOf(ObjectId node) const {
  uint32_t all = 0;
  if (GetGroup(node) != nullptr) {
    all = kAllCapabilities;
    if (m_rootGroups.size() == 1 && m_rootGroups.front() == node) all &= ~(kCanMove | kCanDelete);
  } else if (const CFeedSource* s = GetFeedSource(node)) {
    all = kAllCapabilities;
    if (s->m_url.empty()) all &= ~(kCanFetch | kCanClearHistory);
  } else {
    return 0;
  }
  const ObjectId account = AccountOf(node);
  if (account == 0) return all;
  // The server fetches an account's feeds and says which articles go.
  all &= ~(kCanFetch | kCanClearHistory | kCanApplyRetention);
  if (m_serverDepth > 0) return all;
  return node == account ? all & kCanDelete : 0;
}

uint32_t CFeedsManager::ServerEditsOf(ObjectId node) const {
  const ObjectId account = AccountOf(node);
  if (account == 0 || m_serverDepth > 0) return 0;
  if (node == account) return kCanAddInto;
  if (GetFeedSource(node) != nullptr) return kCanMove | kCanRename | kCanDelete;
  // A folder stands right below its account; the server has no deeper ones.
  const CGroup* parent = FindParentGroup(node);
  return parent != nullptr && parent->m_id == account ? kCanRename | kCanAddInto : 0;
}

bool CFeedsManager::CanMoveThroughServer(ObjectId sourceId, ObjectId targetGroupId) const {
  if ((ServerEditsOf(sourceId) & kCanMove) == 0 || AccountOf(targetGroupId) != AccountOf(sourceId)) return false;
  const CGroup* from = FindGroupOfSource(sourceId);
  const bool folderOrAccount =
      targetGroupId == AccountOf(sourceId) || (ServerEditsOf(targetGroupId) & kCanAddInto) != 0;
  return from != nullptr && from->m_id != targetGroupId && folderOrAccount;
}

ObjectId CFeedsManager::AccountOf(ObjectId node) const {
  ObjectId group = node;
  if (const CFeed* a = GetFeed(node)) node = a->m_source;
  if (GetFeedSource(node) != nullptr) {
    group = GroupOfSource(node);
  } else if (GetGroup(node) == nullptr) {
    return 0;
  } else {
    group = node;
  }
  // Accounts stand at the root level, so the walk is short; a damaged
  // list that loops ends when it comes back.
  for (size_t steps = 0; group != 0 && steps <= m_parentOfGroup.size(); ++steps) {
    const CGroup* g = GetGroup(group);
    if (g == nullptr) return 0;
    if (g->m_account) return group;
    ObjectId parent = 0;
    if (!ParentOfGroup(group, parent)) return 0;
    group = parent;
  }
  return 0;
}

const CGroup* CFeedsManager::AddAccount(const std::u16string& name) {
  ChangeScope scope(*this);
  CGroup* g = EditGroup(AddGroup(0, name)->m_id);
  g->m_account = true;
  return g;
}

void CFeedsManager::DeleteSource(ObjectId groupId, ObjectId sourceId) {
  if (!Can(sourceId, kCanDelete)) return;
  ChangeScope scope(*this);
  if (CGroup* g = EditGroup(groupId)) g->RemoveSource(sourceId);
  DeleteObject(sourceId);
}

bool CFeedsManager::DeleteGroup(ObjectId groupId) {
  if (!Can(groupId, kCanDelete)) return false;
  ChangeScope scope(*this);
  if (CGroup* parent = Writable(FindParentGroup(groupId))) {
    parent->RemoveSubgroup(groupId);
  } else {
    if (Contains(m_rootGroups, groupId) && m_rootGroups.size() == 1) return false;
    RemoveRootGroup(groupId);
  }
  DeleteObject(groupId);
  return true;
}

bool CFeedsManager::CanMoveSource(ObjectId sourceId, ObjectId targetGroupId) const {
  // Into or out of an account only as its server says.
  if (m_serverDepth == 0 && AccountOf(targetGroupId) != AccountOf(sourceId)) return false;
  return Can(sourceId, kCanMove) && FindGroupOfSource(sourceId) != nullptr && GetGroup(targetGroupId) != nullptr;
}

bool CFeedsManager::MoveSource(ObjectId sourceId, ObjectId targetGroupId) {
  if (!CanMoveSource(sourceId, targetGroupId)) return false;
  CGroup* from = Writable(FindGroupOfSource(sourceId));
  CGroup* to = EditGroup(targetGroupId);
  CFeedSource* s = EditSource(sourceId);
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
  if (m_serverDepth == 0 && targetGroupId != 0 && AccountOf(targetGroupId) != 0) return false;
  const CGroup* target = nullptr;
  if (targetGroupId != 0) {
    target = EditGroup(targetGroupId);
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
  LinkGroup(*EditGroup(groupId), targetGroupId);
  Note(ChangeKind::GroupMoved, groupId, targetGroupId, fromId);
  return true;
}

bool CFeedsManager::Rename(ObjectId nodeId, const std::u16string& name) {
  if (!Can(nodeId, kCanRename)) return false;
  ChangeScope scope(*this);
  if (CGroup* g = EditGroup(nodeId)) {
    if (g->m_name != name) {
      g->m_name = name;
      Note(ChangeKind::GroupChanged, nodeId, 0, 0, kGroupName);
    }
    return true;
  }
  if (CFeedSource* s = EditSource(nodeId)) {
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
    CFeed* a = EditFeed(id);
    if (a == nullptr || a->m_read == read) continue;
    a->m_read = read;
    if (a->m_source != 0 && EditSource(a->m_source) != nullptr) {
      AddCounts(a->m_source, true, FeedCounts{read ? -1 : 1, read ? 1 : -1}, false);
    }
    Note(ChangeKind::ArticleChanged, id, a->m_source, 0, kArticleRead);
    if (a->m_starred) Note(ChangeKind::CountsChanged, kStarredNode);
  }
}

void CFeedsManager::SetStarred(const IdList& articles, bool starred) {
  ChangeScope scope(*this);
  for (ObjectId id : articles) {
    CFeed* a = EditFeed(id);
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
    CFeedSource* s = EditSource(sid);
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
    if (const CFeed* a = EditFeed(id); a != nullptr && a->m_source == 0) {
      Note(ChangeKind::ArticleRemoved, id, it->second->m_id);
    }
    DeleteObject(id);
    it->second = nullptr;
  }
}

const CGroup* CFeedsManager::AddGroup(ObjectId parentId, const std::u16string& name) {
  if (parentId != 0 && (EditGroup(parentId) == nullptr || !Can(parentId, kCanAddInto))) return nullptr;
  ChangeScope scope(*this);
  CGroup* g = NewGroup();
  g->m_name = name;
  LinkGroup(*g, parentId);
  Note(ChangeKind::GroupAdded, g->m_id, parentId);
  return g;
}

bool CFeedsManager::ClearHistory(ObjectId sourceId) {
  CFeedSource* s = EditSource(sourceId);
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
  CGroup* g = EditGroup(groupId);
  if (g == nullptr || g->m_expanded == expanded) return false;
  ChangeScope scope(*this);
  g->m_expanded = expanded;
  Note(ChangeKind::GroupChanged, groupId, 0, 0, kGroupExpanded);
  return true;
}

void CFeedsManager::SetSort(const IdList& sources, int32_t column, int32_t direction) {
  ChangeScope scope(*this);
  for (ObjectId id : sources) {
    CFeedSource* s = EditSource(id);
    if (s == nullptr || (s->m_sortColumn == column && s->m_sortDirection == direction)) continue;
    s->m_sortColumn = column;
    s->m_sortDirection = direction;
    Note(ChangeKind::SourceChanged, id, 0, 0, kSourceSort);
  }
}

bool CFeedsManager::SetSourceUrl(ObjectId sourceId, const std::u16string& url) {
  CFeedSource* s = EditSource(sourceId);
  if (s == nullptr || s->m_url == url || !Can(sourceId, kCanChangeAddress)) return false;
  ChangeScope scope(*this);
  s->m_url = url;
  Note(ChangeKind::SourceChanged, sourceId, 0, 0, kSourceUrl);
  return true;
}

bool CFeedsManager::SetRefreshInterval(ObjectId sourceId, int32_t minutes) {
  CFeedSource* s = EditSource(sourceId);
  if (s == nullptr || s->m_refreshInterval == minutes) return false;
  ChangeScope scope(*this);
  s->m_refreshInterval = minutes;
  Note(ChangeKind::SourceChanged, sourceId, 0, 0, kSourceRefreshInterval);
  return true;
}

CFeedsManager::WelcomeIds CFeedsManager::InstallWelcomeSource(const CFeed& fields) {
  ChangeScope scope(*this);
  WelcomeIds ids;
  CGroup* group = Writable(FindRootGroupByName(kAllSourcesName));
  if (group == nullptr) group = Writable(AddGroup(0, kAllSourcesName));
  ids.group = group->m_id;
  if (CFeedSource* old = Writable(FindSourceByTitle(group, kWelcomeSourceTitle))) DeleteSource(ids.group, old->m_id);

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
  LinkSource(*source, *EditGroup(ids.group));
  Note(ChangeKind::SourceAdded, ids.source, ids.group);
  Note(ChangeKind::ArticleAdded, ids.article, ids.source);
  return ids;
}

const CFeedSource* CFeedsManager::ImportSource(ObjectId groupId, const SourceFields& fields,
                                               std::vector<ImportedArticle> articles,
                                               const std::map<std::u16string, HistoryEntry>& history) {
  CGroup* group = EditGroup(groupId);
  if (group == nullptr) return nullptr;
  ChangeScope scope(*this);
  CFeedSource* source = NewFeedSource();
  static_cast<SourceFields&>(*source) = fields;
  LinkSource(*source, *group);
  Note(ChangeKind::SourceAdded, source->m_id, groupId);
  std::unordered_map<ObjectId, ObjectId> renamed;
  for (ImportedArticle& in : articles) {
    CFeed* a = NewFeed();
    static_cast<ArticleFields&>(*a) = std::move(in.fields);
    a->m_description = std::move(in.description);
    a->m_sourceText = std::move(in.sourceText);
    if (in.from != 0) renamed[in.from] = a->m_id;
    LinkArticle(*a, *source);
    Note(ChangeKind::ArticleAdded, a->m_id, source->m_id);
  }
  source->m_history = history;
  for (auto& [key, entry] : source->m_history) {
    auto it = renamed.find(entry.articleId);
    entry.articleId = it != renamed.end() ? it->second : 0;
  }
  source->RebuildHistoryIndex();
  if (!source->m_history.empty()) {
    // In first-seen order, as the library keeps them.
    for (const auto& [time, key] : source->HistoryTimeIndex()) {
      m_pending.historyKeys.push_back({source->m_id, HistoryKeyChange::Step::Added, key});
    }
    Note(ChangeKind::HistoryChanged, source->m_id);
  }
  return source;
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
  CFeedSource* s = EditSource(sourceId);
  if (s == nullptr || s->m_retentionDays == days) return false;
  ChangeScope scope(*this);
  s->m_retentionDays = days;
  Note(ChangeKind::SourceChanged, sourceId, 0, 0, kSourceRetention);
  return true;
}

bool CFeedsManager::SetSourceFullArticle(ObjectId sourceId, bool on) {
  CFeedSource* s = EditSource(sourceId);
  if (s == nullptr || s->m_fullArticle == on) return false;
  ChangeScope scope(*this);
  s->m_fullArticle = on;
  Note(ChangeKind::SourceChanged, sourceId, 0, 0, kSourceFullArticle);
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
    const CFeedSource* s = EditSource(sid);
    const int32_t days = EffectiveRetention(*s);
    if (days <= 0 || !Can(sid, kCanApplyRetention)) continue;
    for (ObjectId aid : s->m_articles) {
      const CFeed* a = EditFeed(aid);
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

}  // namespace qb
