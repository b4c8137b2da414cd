// The root of the feed model: the object store with every record, and the
// list of root groups. Also the operations on the tree that the views, the
// update cycle and start-up use. Nothing here shows anything to the user.
#pragma once

#include <memory>
#include <string>

#include "model/Feed.h"
#include "model/FeedSource.h"
#include "model/Group.h"
#include "model/ObjectStorage.h"
#include "model/StatusHandler.h"

namespace qb {

class CFeedsManager {
 public:
  CFeedsManager();
  CFeedsManager(const CFeedsManager&) = delete;
  CFeedsManager& operator=(const CFeedsManager&) = delete;
  virtual ~CFeedsManager();

  // The whole data file: the root groups and the store with every record.
  virtual void Serialize(CArchive& ar);
  virtual void AfterSerialize(CArchive& ar, uint8_t version);

  // --- creation: the only way new records come into being outside a load.
  // The record gets a fresh identifier and is registered, but is not linked
  // into any list; the caller appends its identifier where it belongs.
  CFeed* NewFeed();
  CFeedSource* NewFeedSource();
  CGroup* NewGroup();

  // --- typed lookups: null when not registered or of another kind.
  CFeed* GetFeed(ObjectId id) const { return LookupAs<CFeed>(&m_storage, id); }
  CFeedSource* GetFeedSource(ObjectId id) const { return LookupAs<CFeedSource>(&m_storage, id); }
  CGroup* GetGroup(ObjectId id) const { return LookupAs<CGroup>(&m_storage, id); }

  // --- collections, appended to `out`, depth first in list order. Node 0 is
  // the whole tree; a source node yields its own articles (CollectFeeds) or
  // nothing (CollectSources).
  void CollectFeeds(ObjectId node, IdList& out) const;
  void CollectSources(ObjectId node, IdList& out) const;
  void CollectGroups(IdList& out) const;

  // --- searches: the first match in walk order, or null.
  CFeedSource* FindSourceOfFeed(ObjectId articleId) const;
  CGroup* FindGroupOfSource(ObjectId sourceId) const;
  // Null for a root group.
  CGroup* FindParentGroup(ObjectId groupId) const;
  CGroup* FindRootGroupByName(const std::u16string& name) const;
  CFeedSource* FindSourceByTitle(const CGroup* group, const std::u16string& title) const;

  // Whether `id` is `ancestor` or lies in its subtree of groups.
  bool IsInSubtree(ObjectId ancestor, ObjectId id) const;

  // --- list removal and repair.
  void RemoveRootGroup(ObjectId id);
  // After every load attempt: an empty root list gets a group "All Sources".
  void FixUpAfterLoad();
  // Destroys the node and everything below it. Does not remove `id` from its
  // parent's list: the caller does that first.
  void DeleteObject(ObjectId id);

  // --- the model side of the user commands. The caller schedules the save
  // and refreshes the views.

  // A new source titled with the URL and auto-name set, appended to the group.
  // Null when `groupId` is not a group.
  CFeedSource* AddSource(ObjectId groupId, const std::u16string& url);
  // Whether any source has exactly this URL (UTF-16 code units, case-sensitive).
  bool HasSourceWithUrl(const std::u16string& url) const;
  // Removes the source from the group and destroys it with its articles.
  void DeleteSource(ObjectId groupId, ObjectId sourceId);
  // Removes the group from its parent (or the root list) and destroys it
  // with everything inside. Refused (false, nothing changed) for the only
  // root group.
  bool DeleteGroup(ObjectId groupId);
  // Moves the source to the end of the target group's sources. False when the
  // source has no group or the target is not a group.
  bool MoveSource(ObjectId sourceId, ObjectId targetGroupId);
  // Moves the group under the target group, or to the root level when the
  // target is 0. False, with nothing changed, when the target is the group
  // itself or inside it, is not a group, or is already the group's parent.
  bool MoveGroup(ObjectId groupId, ObjectId targetGroupId);
  // A group's name or a source's title. Renaming a source clears auto-name so
  // that later updates keep the user's title.
  bool Rename(ObjectId nodeId, const std::u16string& name);
  // Sets the read flag of each article named; others are skipped.
  void MarkRead(const IdList& articles, bool read);
  // Removes each article from its source and destroys it. The source keeps
  // the key in its history, so the article does not come back.
  void DeleteArticles(const IdList& articles);
  // A new empty, expanded group appended to the parent group's child groups,
  // or to the root list when `parentId` is 0. Null when the parent is not a
  // group.
  CGroup* AddGroup(ObjectId parentId, const std::u16string& name);

  IStatusHandler* m_statusHandler = nullptr;  // not owned
  CObjectStorage m_storage;
  IdList m_rootGroups;

 private:
  template <typename T>
  T* Create();
};

// The name of the group the system creates when the root list is empty.
inline constexpr char16_t kAllSourcesName[] = u"All Sources";

}  // namespace qb
