// What an operation of the feeds manager changed, named by identifiers, and
// the observers it is reported to. Every mutation of the model goes through
// a CFeedsManager operation; each operation (or each Batch of them) reports
// exactly one CModelChange when it ends, to every observer, on the thread
// that ran it. Two kinds of observer consume them: the library's
// persistence (which rows to write) and the panes (which rows and labels to
// insert, remove or draw again).
//
// A removal implies everything below: a removed group takes its child
// groups, their sources and all their articles with it, a removed source
// its articles, and only the node named is reported. Entries come in the
// order the operation made them; an identifier may appear in several.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "model/RSSObject.h"

namespace qb {

class CFeedsManager;

enum class ChangeKind : uint8_t {
  ArticleAdded,    // appended to the list of `parent` (a source)
  ArticleRemoved,  // destroyed; `parent` is the source that listed it (0: none)
  ArticleChanged,  // the fields in `fields` (kArticle*) changed; `parent` is its source
  ArticleMoved,    // now listed by `parent`, before by `from`
  SourceAdded,     // appended to the sources of `parent` (a group)
  SourceChanged,   // the fields in `fields` (kSource*) changed
  SourceMoved,     // now in `parent`, before in `from`
  SourceRemoved,   // destroyed with its articles; `parent` was its group
  HistoryChanged,  // the seen-history of source `id` changed (see the key lists)
  GroupAdded,      // appended to the child groups of `parent` (0: the root list)
  GroupChanged,    // the fields in `fields` (kGroup*) changed
  GroupMoved,      // now in `parent`, before in `from` (0: the root level)
  GroupRemoved,    // destroyed with everything below; `parent` was its parent
  ListReordered,   // the list `id` names (a group's children and sources, a
                   // source's articles; 0 with `fields` kRootList: the root
                   // list) holds the same members in another order
  CountsChanged,   // the unread or total count of node `id` changed
  SettingsChanged, // a library-wide setting (the retention) changed
};

// The fields a SourceChanged entry names.
inline constexpr uint32_t kSourceTitle = 1u << 0;
inline constexpr uint32_t kSourceUrl = 1u << 1;
inline constexpr uint32_t kSourceAutoName = 1u << 2;
inline constexpr uint32_t kSourceSort = 1u << 3;  // column and direction
inline constexpr uint32_t kSourceCommsStatus = 1u << 4;
inline constexpr uint32_t kSourceRefreshInterval = 1u << 5;
inline constexpr uint32_t kSourceRetention = 1u << 6;
inline constexpr uint32_t kSourceReserved = 1u << 7;  // legacy refresh, reserved date and string
inline constexpr uint32_t kSourceFullArticle = 1u << 8;
inline constexpr uint32_t kSourceAllFields = (1u << 9) - 1;

// The fields a GroupChanged entry names.
// The fields an ArticleChanged entry names: the ones an operation changes
// alone.
inline constexpr uint32_t kArticleRead = 1u << 0;
inline constexpr uint32_t kArticleStarred = 1u << 1;

// The tree's node that holds the starred articles of every feed: no record
// has this identifier (the store never gives it out). Its counts are the
// model's (Counts), its articles CollectFeeds's.
inline constexpr ObjectId kStarredNode = 0xFFFFFFFFu;  // kNoRecordId
inline constexpr char16_t kStarredName[] = u"Starred";

inline constexpr uint32_t kGroupName = 1u << 0;
inline constexpr uint32_t kGroupExpanded = 1u << 1;
inline constexpr uint32_t kGroupAccount = 1u << 2;
inline constexpr uint32_t kGroupAllFields = (1u << 3) - 1;

// `fields` of a ListReordered entry for the root list.
inline constexpr uint32_t kRootList = 1u << 0;

struct ChangeEntry {
  ChangeKind kind;
  uint32_t fields = 0;
  ObjectId id = 0;
  ObjectId parent = 0;
  ObjectId from = 0;
  bool operator==(const ChangeEntry&) const = default;
};

// One step of a change to a source's seen-history.
struct HistoryKeyChange {
  enum class Step : uint8_t {
    Added,    // `key` was added
    Dropped,  // `key` was evicted
    Cleared,  // the whole history was emptied (`key` is empty)
  };
  ObjectId source = 0;
  Step step = Step::Added;
  std::u16string key;
  bool operator==(const HistoryKeyChange&) const = default;
};

class CModelChange {
 public:
  std::vector<ChangeEntry> entries;
  // For HistoryChanged: the steps, in the order they were taken.
  std::vector<HistoryKeyChange> historyKeys;
  // The change came from the library (rows another process committed), not
  // from an operation of this one: nothing to write back.
  bool external = false;
  // The change applies what an account's server said
  // (CFeedsManager::ApplyAccountState): nothing of it is to go back there.
  bool fromServer = false;

  bool empty() const { return entries.empty() && historyKeys.empty(); }
  // Whether some entry is of this kind.
  bool Has(ChangeKind kind) const;
  // The identifiers of the entries of this kind, in order, each once.
  IdList IdsOf(ChangeKind kind) const;
};

// Told of every change, on the thread of the operation. An observer may run
// further operations from here; their changes are reported after this one.
class IModelObserver {
 public:
  virtual void OnModelChanged(const CFeedsManager& model, const CModelChange& change) = 0;
  // The model is being destroyed while the observer is still attached; it
  // must not be used from now on.
  virtual void OnModelGone(const CFeedsManager& model) { (void)model; }

 protected:
  ~IModelObserver() = default;
};

}  // namespace qb
