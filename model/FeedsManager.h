// The root of the feed model: the object store with every record, and the
// list of root groups. Also the operations on the tree that the views, the
// update cycle and start-up use. Nothing here shows anything to the user.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "model/Clock.h"
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
  ~CFeedsManager();

  // The whole data file: the root groups and the store with every record.
  void Serialize(CArchive& ar);
  void AfterSerialize(CArchive& ar, uint8_t version);

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

  // --- walks. VisitGroups calls `visit(const CGroup&)` for each root group
  // in `roots` and every group below it, in pre-order and list order. It is
  // iterative and visits each group once, so neither a deep tree nor a
  // damaged file whose lists form a cycle can exhaust the stack.
  template <typename Visit>
  void VisitGroups(const IdList& roots, Visit visit) const;

  // --- collections, appended to `out`, depth first in list order. Node 0 is
  // the whole tree; a source node yields its own articles (CollectFeeds) or
  // nothing (CollectSources); CollectGroups yields a group node and the
  // groups below it, or every group for node 0.
  void CollectFeeds(ObjectId node, IdList& out) const;
  void CollectSources(ObjectId node, IdList& out) const;
  void CollectGroups(IdList& out) const;
  void CollectGroups(ObjectId node, IdList& out) const;

  // Unread and read articles of a node: a source's own articles, a group's
  // whole subtree, or the whole tree for node 0.
  void CountFeeds(ObjectId node, int& unread, int& read) const;

  struct FeedCounts {
    int unread = 0;
    int read = 0;
    bool operator==(const FeedCounts&) const = default;
  };
  // The counts of every group and source in the tree, computed once and
  // bottom-up: each source counts its own articles and each group adds up
  // its sources and child groups. Linear in the size of the tree.
  std::unordered_map<ObjectId, FeedCounts> CountAll() const;

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
  // Null when `groupId` is not a group. No checks: see SubscribeSource.
  // The new source sorts its articles newest first.
  CFeedSource* AddSource(ObjectId groupId, const std::u16string& url);
  // Whether any source has exactly this URL (UTF-16 code units, case-sensitive).
  bool HasSourceWithUrl(std::u16string_view url) const;

  // The model side of subscribing to a feed the user typed in, shared by the
  // window and the command-line tool: the address is cleaned (white space at
  // both ends removed) and checked once, on the same text that is stored.
  static std::u16string CleanUrl(std::u16string_view url);
  enum class AddSourceStatus { Added, EmptyUrl, Duplicate, NotAGroup };
  // What SubscribeSource would answer, without changing anything.
  AddSourceStatus CheckNewSourceUrl(ObjectId groupId, std::u16string_view enteredUrl) const;
  // AddSource with the cleaned address, or null with the reason in `status`
  // when the cleaned address is empty or already subscribed, or `groupId` is
  // not a group.
  CFeedSource* SubscribeSource(ObjectId groupId, std::u16string_view enteredUrl,
                               AddSourceStatus* status = nullptr);
  // Removes the source from the group and destroys it with its articles.
  void DeleteSource(ObjectId groupId, ObjectId sourceId);
  // Removes the group from its parent (or the root list) and destroys it
  // with everything inside. Refused (false, nothing changed) for the only
  // root group.
  bool DeleteGroup(ObjectId groupId);
  // Moves the source to the end of the target group's sources. False when the
  // source has no group or the target is not a group.
  bool MoveSource(ObjectId sourceId, ObjectId targetGroupId);
  bool CanMoveSource(ObjectId sourceId, ObjectId targetGroupId) const;
  // Moves the group under the target group, or to the root level when the
  // target is 0. False, with nothing changed, when the target is the group
  // itself or inside it, is not a group, or is already the group's parent.
  bool MoveGroup(ObjectId groupId, ObjectId targetGroupId);
  bool CanMoveGroup(ObjectId groupId, ObjectId targetGroupId) const;
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

  // A counter of the operations that changed what the data file holds: the
  // commands above, the repair after a load when it adds the root group, and
  // each source an update changed (NoteChange). Lower-level writes (NewFeed,
  // DeleteObject, fields set directly) do not count, nor does a load. Equal
  // counts around a piece of work mean it left the model as it was.
  uint64_t ChangeCount() const { return m_changes; }
  void NoteChange() { ++m_changes; }

  // A stamp no key set of this model had before (see KeySet).
  uint64_t NewKeySetStamp() { return ++m_keySetStamps; }

  // Restarts the generator new identifiers are drawn from.
  void SeedRandom(uint32_t seed) { m_storage.SeedRandom(seed); }

  // The clocks the model reads (history times, update ticks). Not owned;
  // the machine's clocks unless a test sets another, which must outlive
  // the manager.
  const IClock& Clock() const { return *m_clock; }
  void SetClock(const IClock& clock) { m_clock = &clock; }

  IStatusHandler* m_statusHandler = nullptr;  // not owned
  CObjectStorage m_storage;
  IdList m_rootGroups;
  // The data file this model was loaded from, when that file could be
  // neither read whole nor put aside: a save over it would destroy it, so
  // SaveDataFile refuses this path. Empty otherwise.
  std::string m_unreplaceableFile;

 private:
  template <typename T>
  T* Create();

  const IClock* m_clock = &SystemClock();
  uint64_t m_changes = 0;
  uint64_t m_keySetStamps = 0;
};

template <typename Visit>
void CFeedsManager::VisitGroups(const IdList& roots, Visit visit) const {
  std::unordered_set<ObjectId> seen;
  std::vector<ObjectId> stack(roots.rbegin(), roots.rend());
  while (!stack.empty()) {
    const ObjectId id = stack.back();
    stack.pop_back();
    const CGroup* g = GetGroup(id);
    if (g == nullptr || !seen.insert(id).second) continue;
    visit(*g);
    stack.insert(stack.end(), g->m_childGroups.rbegin(), g->m_childGroups.rend());
  }
}

// The name of the group the system creates when the root list is empty.
inline constexpr char16_t kAllSourcesName[] = u"All Sources";

// What the user is told when SubscribeSource answers Duplicate.
inline constexpr char16_t kDuplicateSourceMessage[] =
    u"A feed with that URL already exists. Choose another URL.";

}  // namespace qb
