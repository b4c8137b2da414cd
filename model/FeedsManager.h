// The root of the feed model: the object store with every record, and the
// list of root groups. Also the operations on the tree that the views, the
// update cycle and start-up use. Nothing here shows anything to the user.
//
// Every change goes through an operation (below, "the model side of the user
// commands" and after). Each operation keeps the unread and total counts of
// every node, and reports what it changed to the observers as one
// CModelChange (model/ModelChange.h); Batch joins several into one. The
// library, the panes and the counts follow these reports alone. Records are
// handed out const: their fields are public for reading only. The stores
// that build a model from what they read (the classic file, the library)
// and tests write records through CModelWriter (model/ModelWriter.h), whose
// writes are neither reported nor counted until the next load or
// RebuildIndexes; the layer check keeps it out of every other folder.
#pragma once

#include <functional>
#include <list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>
#include <map>

#include "base/Clock.h"
#include "base/StatusHandler.h"
#include "model/ArticleStore.h"
#include "model/Feed.h"
#include "model/FeedReading.h"
#include "model/FeedSource.h"
#include "model/Group.h"
#include "model/ModelChange.h"
#include "model/ObjectStorage.h"

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

  // --- typed lookups: null when not registered or of another kind.
  const CFeed* GetFeed(ObjectId id) const { return EditFeed(id); }
  const CFeedSource* GetFeedSource(ObjectId id) const { return EditSource(id); }
  const CGroup* GetGroup(ObjectId id) const { return EditGroup(id); }
  // The root groups, in the tree's stored order.
  const IdList& RootGroups() const { return m_rootGroups; }
  // Every record by identifier.
  const CObjectStorage& Storage() const { return m_storage; }

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

  using FeedCounts = qb::FeedCounts;
  // The counts of every group and source in the tree, computed once and
  // bottom-up: each source counts its own articles and each group adds up
  // its sources and child groups. Linear in the size of the tree.
  std::unordered_map<ObjectId, FeedCounts> CountAll() const;

  // --- searches: the first match in walk order, or null.
  const CFeedSource* FindSourceOfFeed(ObjectId articleId) const;
  const CGroup* FindGroupOfSource(ObjectId sourceId) const;
  // Null for a root group.
  const CGroup* FindParentGroup(ObjectId groupId) const;
  const CGroup* FindRootGroupByName(const std::u16string& name) const;
  const CFeedSource* FindSourceByTitle(const CGroup* group, const std::u16string& title) const;

  // Whether `id` is `ancestor` or lies in its subtree of groups.
  bool IsInSubtree(ObjectId ancestor, ObjectId id) const;

  // --- list removal and repair.
  void RemoveRootGroup(ObjectId id);
  // After every load attempt: rebuilds the links and counts the operations
  // keep, and an empty root list gets a group "All Sources".
  void FixUpAfterLoad();
  // Destroys the node and everything below it. Does not remove `id` from its
  // parent's list: the caller does that first. A node that an operation had
  // linked is reported removed and leaves the counts; a record never linked
  // (a candidate article of an update) goes silently.
  void DeleteObject(ObjectId id);

  // --- observers. Not owned; an observer must be removed before it goes.
  void AddObserver(IModelObserver* observer);
  void RemoveObserver(IModelObserver* observer);

  // Runs `work` (which calls operations) and reports everything it changed
  // as one change. Batches nest; the outermost one reports.
  void Batch(const std::function<void()>& work);

  // --- what may be done to a node: the one answer the operations below,
  // the update engine, the commands and the menus ask before they act.
  enum Capability : uint32_t {
    kCanMove = 1u << 0,
    kCanRename = 1u << 1,
    kCanDelete = 1u << 2,
    kCanClearHistory = 1u << 3,
    kCanChangeAddress = 1u << 4,
    kCanApplyRetention = 1u << 5,  // its articles may be taken by retention
    kCanFetch = 1u << 6,
    kCanAddInto = 1u << 7,  // a group: new feeds and groups may be added to it
    kAllCapabilities = (1u << 8) - 1,
  };
  // Everything for a group or a source, except: the only root group is
  // neither moved nor deleted; a source without an address (the welcome
  // source) is never fetched, nor its history cleared; a node that is no
  // group or source (the Starred node) has none.
  // An account of a feed service is the server's: its node may only be
  // deleted (that removes the local copy, not the account); its folders
  // and subscriptions change as the server lists them, so locally they
  // are neither moved, renamed, deleted nor readdressed, and its feeds are
  // not fetched (the server fetches them), their histories not cleared and
  // their articles not taken by retention (the server says which go).
  // Inside ApplyAccountState the server's changes pass.
  uint32_t CapabilitiesOf(ObjectId node) const;
  bool Can(ObjectId node, Capability what) const { return (CapabilitiesOf(node) & what) != 0; }
  // What the user may ask an account's server to do to a node in it, which
  // the model does once the server has done it (inside ApplyAccountState):
  // a subscription is moved between the account's folders (kCanMove),
  // renamed or unsubscribed (kCanDelete); a folder is renamed; new
  // subscriptions go into the account or a folder (kCanAddInto). 0 outside
  // accounts, and for the account node itself but for kCanAddInto.
  uint32_t ServerEditsOf(ObjectId node) const;
  // Whether the account's server may be asked to move the subscription to
  // the target: the account itself or one of its folders, not the one it
  // is in.
  bool CanMoveThroughServer(ObjectId sourceId, ObjectId targetGroupId) const;

  // The account group the node lies in (itself for an account), 0 for
  // none: a group, a source, or an article's source.
  ObjectId AccountOf(ObjectId node) const;
  // A new account node named `name` at the end of the root list.
  const CGroup* AddAccount(const std::u16string& name);
  // Runs `work` as one change that applies what an account's server said
  // (its change has fromServer set): the account restrictions of
  // CapabilitiesOf do not hold inside it. Nests inside a Batch.
  void ApplyAccountState(const std::function<void()>& work);

  // --- the model side of the user commands. Each reports its change; the
  // caller refreshes what the change does not cover.

  // A new source titled with the URL and auto-name set, appended to the group.
  // Null when `groupId` is not a group. No checks: see SubscribeSource.
  // The new source sorts its articles newest first. `siteAddress`: the web
  // page of the feed's site, when known (an OPML file's htmlUrl).
  const CFeedSource* AddSource(ObjectId groupId, const std::u16string& url, std::u16string_view siteAddress = {});
  // Whether any source has exactly this URL (UTF-16 code units, case-sensitive).
  bool HasSourceWithUrl(std::u16string_view url) const;

  // The model side of subscribing to a feed the user typed in, shared by the
  // window and the command-line tool: the address is cleaned (white space at
  // both ends removed) and checked once, on the same text that is stored.
  static std::u16string CleanUrl(std::u16string_view url);
  enum class AddSourceStatus { Added, EmptyUrl, Duplicate, NotAGroup };
  // What SubscribeSource would answer, without changing anything; for a
  // group of an account, whether its server may be asked to subscribe
  // (CAccountEdits), a duplicate being one of the account's own feeds.
  AddSourceStatus CheckNewSourceUrl(ObjectId groupId, std::u16string_view enteredUrl) const;
  // AddSource with the cleaned address, or null with the reason in `status`
  // when the cleaned address is empty or already subscribed, or `groupId` is
  // not a group (or one of an account's, whose feeds its server lists).
  const CFeedSource* SubscribeSource(ObjectId groupId, std::u16string_view enteredUrl,
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
  // Stars or unstars each article named. A starred article is listed by
  // the Starred node (kStarredNode) and never taken by retention.
  void SetStarred(const IdList& articles, bool starred);
  // Removes each article from its source and destroys it. The source keeps
  // the key in its history, so the article does not come back.
  void DeleteArticles(const IdList& articles);
  // A new empty, expanded group appended to the parent group's child groups,
  // or to the root list when `parentId` is 0. Null when the parent is not a
  // group, or one nothing may be added to (kCanAddInto).
  const CGroup* AddGroup(ObjectId parentId, const std::u16string& name);

  // Empties the source's seen-history; its articles stay, so the next update
  // adds again every item of the feed not among them. False for no source.
  bool ClearHistory(ObjectId sourceId);
  // Whether the tree shows the group expanded. False when nothing changed.
  bool SetExpanded(ObjectId groupId, bool expanded);
  // The article list's sort stored on each source named (others skipped).
  void SetSort(const IdList& sources, int32_t column, int32_t direction);
  // The feed properties. The URL is taken as given (the dialog checks it);
  // the interval is in minutes. False when nothing changed.
  bool SetSourceUrl(ObjectId sourceId, const std::u16string& url);
  bool SetRefreshInterval(ObjectId sourceId, int32_t minutes);

  // A copy of a source of another model (a data file being imported), at
  // the end of the group: its fields, its articles in the order given, and
  // its history, whose keys name the copies of the articles they named
  // (ImportedArticle::from), or none. One change. Null when `group` is not
  // a group.
  struct ImportedArticle {
    ObjectId from = 0;  // its identifier in the other model
    ArticleFields fields;
    std::u16string description;
    SharedText sourceText;
  };
  const CFeedSource* ImportSource(ObjectId group, const SourceFields& fields, std::vector<ImportedArticle> articles,
                                  const std::map<std::u16string, HistoryEntry>& history);

  // The welcome source of the first start: a new source "Welcome!" with the
  // one article given (read false, its key, texts and date as given), at
  // the end of the root group "All Sources" (made when there is none),
  // replacing a source of that title there.
  struct WelcomeIds {
    ObjectId group = 0;
    ObjectId source = 0;
    ObjectId article = 0;
  };
  WelcomeIds InstallWelcomeSource(const CFeed& article);

  // --- retention: read articles older than a number of days are deleted;
  // unread ones never are, and their keys stay in the histories, so they do
  // not come back. Off by default.

  // The library's setting: 0 (or less) keeps everything.
  int32_t RetentionDays() const { return m_retentionDays; }
  void SetRetentionDays(int32_t days);
  // The setting as a load finds it: nothing is reported.
  void RestoreRetentionDays(int32_t days) { m_retentionDays = days > 0 ? days : 0; }
  // The source's own: 0 follows the library's, a negative value keeps all.
  bool SetSourceRetention(ObjectId sourceId, int32_t days);
  // Whether the source's articles open in the reader view.
  bool SetSourceFullArticle(ObjectId sourceId, bool on);
  // The days that apply to the source (0: keep everything).
  int32_t EffectiveRetention(const CFeedSource& source) const;
  // Deletes the read articles whose age at `now` (seconds since 1970) is
  // more than their source's retention, as one change. The age is counted
  // from when the article arrived (m_arrived, else when its key was first
  // seen); one without either is kept, as is every unread or starred one
  // and `keep` (the article on screen). The keys stay in the histories.
  // Returns how many went.
  size_t ApplyRetention(int64_t now, ObjectId keep = 0);

  // --- updates.

  // Merges what an update read from the source's document
  // (model/FeedReading.h): appends, in document order, every candidate the
  // source has never delivered and records its keys in the history. A
  // document that was understood also gives a source that takes its name
  // from the feed that name, is noted as the update at `tick` and sets the
  // status OK; one that was not sets "unable to understand feed contents".
  // Reports it as one change. True when an article was added.
  bool MergeArticles(ObjectId source, FeedReading reading, uint32_t tick);
  // An update that read no document (it failed, or the server said the
  // document is unchanged): the source's comms status, and, when given, the
  // tick of its last update.
  void SetCommsStatus(ObjectId source, std::u16string_view status, std::optional<uint32_t> tick = std::nullopt);

  // --- counts kept by the operations: a source's own articles, a group's
  // whole subtree, the whole tree for node 0.
  FeedCounts Counts(ObjectId node) const;
  // Recomputes the parent links and counts from the lists (after a load, or
  // after lists were written directly).
  void RebuildIndexes();
  // A model loaded without its articles (the tree only) takes the counts of
  // each source from the library; groups add them up. Replaces all counts.
  void SetStoredCounts(const std::unordered_map<ObjectId, FeedCounts>& sourceCounts);

  // --- the long texts of articles.

  // The description and source text of an article: from the record when it
  // holds them (a classic data file, an article not yet written), otherwise
  // read from the article store through a small cache. Empty for an
  // identifier that names no article.
  CArticleTexts ArticleTexts(ObjectId articleId) const;
  // Where the texts of stored articles are read from (null: nowhere). Not
  // owned; it must outlive the manager or be reset first.
  void SetArticleStore(IArticleStore* store);
  IArticleStore* ArticleStore() const { return m_articleStore; }
  // The article's texts have been written to the store: the record lets
  // them go and reads them from the store from now on.
  void ReleaseTexts(ObjectId articleId);
  // How many articles hold their texts only in the store.
  size_t StoredTextCount() const { return m_storedTexts; }

  // --- search. The articles of the node (0: the whole library) matching
  // the query by the rule of base/SearchText.h, newest first (by
  // publication date, articles without a valid one last, ties by
  // identifier, higher first). An empty query matches every article. Stored
  // articles are matched by the store's index, the others in memory.
  IdList SearchArticles(std::u16string_view query, ObjectId node = 0) const;

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

  // --- rows another process committed to the library: applied as one
  // change marked external (see CLibraryLink::Refresh).
  const CGroup* AdoptGroup(ObjectId id);
  const CFeedSource* AdoptSource(ObjectId id);
  const CFeed* AdoptArticle(ObjectId id);
  // Makes the record's list membership the one given: a group under
  // `parent` (0 and `root`: the root list; neither: listed nowhere), a
  // source in group `parent`, an article in source `parent`. A member that
  // changes list goes to the end of its new one.
  void PlaceGroup(ObjectId id, ObjectId parent, bool root);
  void PlaceSource(ObjectId id, ObjectId group);
  void PlaceArticle(ObjectId id, ObjectId source);
  // The fields of a stored row, with the change they make reported.
  void SetGroupFields(ObjectId id, const GroupFields& values);
  void SetSourceFields(ObjectId id, const SourceFields& values);
  void SetArticleFields(ObjectId id, const ArticleFields& values);
  void SetHistory(ObjectId sourceId, std::map<std::u16string, HistoryEntry> history,
                  const std::vector<std::u16string>& timeOrder);
  // Removes and destroys a node wherever it is listed.
  void RemoveNode(ObjectId id);
  // Runs `work` as one change marked external.
  void ApplyExternal(const std::function<void()>& work);

  // The data file this model was loaded from, when that file could be
  // neither read whole nor put aside: a save over it would destroy it, so
  // SaveDataFile refuses this path. Empty otherwise.
  std::string m_unreplaceableFile;

 private:
  friend class CModelWriter;

  CFeed* EditFeed(ObjectId id) const { return LookupAs<CFeed>(&m_storage, id); }
  CFeedSource* EditSource(ObjectId id) const { return LookupAs<CFeedSource>(&m_storage, id); }
  CGroup* EditGroup(ObjectId id) const { return LookupAs<CGroup>(&m_storage, id); }
  // A record with a fresh identifier, registered but linked into no list.
  CFeed* NewFeed();
  CFeedSource* NewFeedSource();
  CGroup* NewGroup();
  // The record a lookup or find above handed out, to be written by an
  // operation: the manager owns every record it hands out.
  template <typename T>
  static T* Writable(const T* record) { return const_cast<T*>(record); }

  template <typename T>
  T* Create();
  template <typename T>
  T* Adopt(ObjectId id);

  // One change being gathered; the outermost scope reports it.
  // Joins the operations run while it lives into one report.
  class ChangeScope {
   public:
    explicit ChangeScope(CFeedsManager& m) : m_m(m) { ++m_m.m_scopeDepth; }
    ~ChangeScope() {
      if (--m_m.m_scopeDepth == 0) m_m.Report();
    }
    ChangeScope(const ChangeScope&) = delete;
    ChangeScope& operator=(const ChangeScope&) = delete;

   private:
    CFeedsManager& m_m;
  };
  void Note(ChangeKind kind, ObjectId id, ObjectId parent = 0, ObjectId from = 0, uint32_t fields = 0);
  void NoteCounts(ObjectId node);
  void Report();

  // The list links the operations keep.
  ObjectId GroupOfSource(ObjectId sourceId) const;
  // The parent of a linked group (0: a root group); false when not linked.
  bool ParentOfGroup(ObjectId groupId, ObjectId& parent) const;
  // Adds `delta` to the counts of the node and of every group above it.
  void AddCounts(ObjectId node, bool isSource, const FeedCounts& delta, bool subtract);
  void LinkArticle(CFeed& article, CFeedSource& source);
  void LinkSource(CFeedSource& source, CGroup& group);
  void LinkGroup(CGroup& group, ObjectId parent);
  void UnlinkSource(ObjectId sourceId);
  void UnlinkGroup(ObjectId groupId);
  void ForgetTexts(ObjectId articleId);
  // The source that lists the article, checked against its list.
  CFeedSource* SourceListing(ObjectId articleId) const;

  CObjectStorage m_storage;
  IdList m_rootGroups;

  const IClock* m_clock = &SystemClock();
  uint64_t m_changes = 0;
  uint64_t m_keySetStamps = 0;

  std::vector<IModelObserver*> m_observers;
  int m_scopeDepth = 0;
  bool m_scopeExternal = false;
  bool m_scopeFromServer = false;
  int m_serverDepth = 0;  // ApplyAccountState scopes open
  CModelChange m_pending;
  // The counts of each node an open change touched, as they were before.
  std::unordered_map<ObjectId, FeedCounts> m_countsBefore;

  // Group of each linked source; parent of each linked group (0: root).
  std::unordered_map<ObjectId, ObjectId> m_groupOfSource;
  std::unordered_map<ObjectId, ObjectId> m_parentOfGroup;
  std::unordered_map<ObjectId, FeedCounts> m_counts;
  // Every starred article (the Starred node's).
  std::unordered_set<ObjectId> m_starred;

  int32_t m_retentionDays = 0;

  IArticleStore* m_articleStore = nullptr;
  size_t m_storedTexts = 0;
  // The texts read last from the store, most recent first.
  static constexpr size_t kTextCacheSize = 32;
  mutable std::list<std::pair<ObjectId, CArticleTexts>> m_textCache;
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

// The title of the source the first start installs.
inline constexpr char16_t kWelcomeSourceTitle[] = u"Welcome!";

// What the user is told when SubscribeSource answers Duplicate.
inline constexpr char16_t kDuplicateSourceMessage[] =
    u"A feed with that URL already exists. Choose another URL.";

}  // namespace qb
