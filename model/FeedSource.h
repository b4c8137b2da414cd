#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "base/DateTime.h"
#include "model/Fields.h"
#include "model/ModelChange.h"
#include "model/RSSObject.h"

namespace qb {

class CFeed;

// Article list sort directions stored on a source.
inline constexpr int32_t kSortAscending = 1024;
inline constexpr int32_t kSortDescending = 512;
// The article list's date column, by which new sources sort (newest first).
inline constexpr int32_t kSortColumnDate = 2;

// The history keeps at most this many keys after an addition.
inline constexpr size_t kHistoryLimit = 500;

struct HistoryEntry {
  ObjectId articleId = 0;  // the article created when the key was first seen
  CDateTime firstSeen;
  bool operator==(const HistoryEntry&) const = default;
};

// A set of article keys: the keys a merge must not evict from a history.
// Besides the keys it carries a stamp, which its owner sets once the set is
// built (CFeedsManager::NewKeySetStamp) and which every change or copy drops
// to 0, so a source can tell that the set it is given is the very set it saw
// at its previous addition, unchanged, and skip the keys it already found
// protected. A set without a stamp is never taken for another. It also
// counts its lookups, which shows what an addition costs.
class KeySet {
 public:
  using Keys = std::unordered_set<std::u16string>;

  KeySet() = default;
  KeySet(const KeySet& o) : m_keys(o.m_keys) {}
  KeySet(KeySet&& o) noexcept : m_keys(std::move(o.m_keys)) { o.m_stamp = 0; }
  KeySet& operator=(const KeySet& o) {
    m_keys = o.m_keys;
    m_stamp = 0;
    return *this;
  }
  KeySet& operator=(KeySet&& o) noexcept {
    m_keys = std::move(o.m_keys);
    m_stamp = 0;
    o.m_stamp = 0;
    return *this;
  }

  template <typename... Args>
  auto insert(Args&&... args) {
    m_stamp = 0;
    return m_keys.insert(std::forward<Args>(args)...);
  }
  template <typename... Args>
  auto emplace(Args&&... args) {
    m_stamp = 0;
    return m_keys.emplace(std::forward<Args>(args)...);
  }
  size_t erase(const std::u16string& key) {
    m_stamp = 0;
    return m_keys.erase(key);
  }
  void clear() {
    m_stamp = 0;
    m_keys.clear();
  }
  void reserve(size_t n) { m_keys.reserve(n); }

  size_t count(const std::u16string& key) const {
    ++m_lookups;
    return m_keys.count(key);
  }
  bool contains(const std::u16string& key) const { return count(key) != 0; }
  size_t size() const { return m_keys.size(); }
  bool empty() const { return m_keys.empty(); }
  Keys::const_iterator begin() const { return m_keys.begin(); }
  Keys::const_iterator end() const { return m_keys.end(); }

  // Names the keys as they are now; 0 until set and after any change.
  uint64_t Stamp() const { return m_stamp; }
  void SetStamp(uint64_t stamp) { m_stamp = stamp; }
  // How many lookups the set has answered.
  size_t Lookups() const { return m_lookups; }

 private:
  Keys m_keys;
  uint64_t m_stamp = 0;
  mutable size_t m_lookups = 0;
};

// What a source stores of itself, beside its lists (model/Fields.h).
struct SourceFields {
  std::u16string m_title;
  std::u16string m_url;
  uint8_t m_legacyRefresh = 0;    // the refresh interval of files before version 7
  CDateTime m_reservedDate;
  // The feed's site (the htmlUrl of the OPML outline it was imported from),
  // else empty. The classic data file's reserved string, which other copies
  // of the program keep as read.
  std::u16string m_reservedString;
  bool m_autoName = false;        // the next channel title found replaces m_title
  int32_t m_sortColumn = 0;       // 0 title, 1 channel, 2 date
  int32_t m_sortDirection = kSortAscending;
  std::u16string m_commsStatus;
  int32_t m_refreshInterval = 15;  // minutes
  // Read articles older than this many days are deleted: 0 follows the
  // library's setting, a negative value keeps them all. Kept by the
  // library only; the classic data file has no field for it.
  int32_t m_retentionDays = 0;
  // Its articles open in the reader view: the article's own page, its
  // readable part extracted, instead of the feed's text. Library only.
  bool m_fullArticle = false;
  bool operator==(const SourceFields&) const = default;
};

// One subscribed feed. It remembers the keys of the articles it has
// delivered (its seen-history), so an article the user deleted does not come
// back with the next download.
class CFeedSource : public RSSObject, public SourceFields {
 public:
  static constexpr RecordType kType = RecordType::FeedSource;
  RecordType Type() const override { return kType; }
  void Serialize(CArchive& ar) override;
  // After a load: empties the reserved map, rebuilds the history time index,
  // and below version 7 takes the refresh interval from the legacy byte.
  void AfterSerialize(CArchive& ar, uint8_t version) override;

  bool IsInHistory(const std::u16string& key) const { return m_history.count(key) != 0; }

  // Records the article's key, identifier and the time it was first seen.
  // REQUIRES: !IsInHistory(article.m_key).
  // While the history holds kHistoryLimit or more keys, the oldest is evicted
  // first (oldest first-seen time; among equal times the one added first).
  // Keys in `protectedKeys` are never evicted; eviction stops when only
  // protected keys remain, so the history may then exceed the limit.
  // Amortised constant time (beside the map insertions) while the same,
  // unchanged set is passed to consecutive additions, as a merge does: the
  // keys at the old end of the index that were found protected are not
  // looked up again.
  // Keys evicted to make room are appended to `evicted` when given.
  void AddToHistory(const CFeed& article, const CDateTime& firstSeen,
                    const KeySet* protectedKeys = nullptr, std::vector<std::u16string>* evicted = nullptr);
  // The same for a key of an article already delivered under another (an
  // item known by two keys). REQUIRES: !IsInHistory(key).
  void AddKeyToHistory(const std::u16string& key, ObjectId articleId, const CDateTime& firstSeen,
                       const KeySet* protectedKeys = nullptr, std::vector<std::u16string>* evicted = nullptr);

  void ClearHistory();

  // Rebuilds the time index from the history, in key order. Run after a load.
  void RebuildHistoryIndex();
  // The same with the keys that share a first-seen time in the order
  // `additions` gives (the order they were added in); keys it leaves out
  // follow in key order, names that are no key are ignored.
  void RebuildHistoryIndex(const std::vector<std::u16string>& additions);

  // Removes the first occurrence of the identifier from the article list.
  void RemoveFeed(ObjectId id);

  // Keys ordered by first-seen time, ties in order of addition.
  const std::multimap<double, std::u16string>& HistoryTimeIndex() const {
    return m_historyTimeIndex;
  }

  uint32_t m_lastUpdateTick = 0;  // not saved: 0 after every load
  IdList m_articles;              // in the order first seen
  std::map<std::u16string, int32_t> m_reservedMap;
  std::map<std::u16string, HistoryEntry> m_history;

 private:
  static double TimeIndexKey(const CDateTime& t);
  void IndexHistoryKey(const std::u16string& key, const CDateTime& firstSeen);

  using TimeIndex = std::multimap<double, std::u16string>;

  // Where the previous addition's eviction walk stopped: every index entry
  // before `next` is a key of the protected set with stamp `stamp`. A copy of
  // a source starts without one, since its iterator names the original's
  // index.
  struct EvictionCursor {
    EvictionCursor() = default;
    EvictionCursor(const EvictionCursor&) {}
    EvictionCursor& operator=(const EvictionCursor&) {
      valid = false;
      return *this;
    }
    bool valid = false;
    uint64_t stamp = 0;
    TimeIndex::iterator next;
  };

  // First-seen time (as TimeIndexKey) to key. An invalid time, which only a
  // damaged file can hold, sorts before every valid one and goes first.
  TimeIndex m_historyTimeIndex;
  EvictionCursor m_evictionCursor;
};

// A source's fields in the order of the classic record, with their
// library columns, JSON names and change flags. The lists and maps are the
// record's own and have no column: the library keeps them in rows of
// their own.
inline constexpr auto kSourceFieldTable = std::make_tuple(
    Field(&CFeedSource::m_id, nullptr, nullptr, 1, 0),
    Field(&SourceFields::m_title, "title", "title", 1, kSourceTitle),
    Field(&SourceFields::m_url, "url", "url", 1, kSourceUrl),
    Field(&SourceFields::m_legacyRefresh, "legacy_refresh", "legacyRefresh", 1, kSourceReserved),
    Field(&SourceFields::m_reservedDate, "reserved_date", "reservedDate", 1, kSourceReserved),
    Field(&CFeedSource::m_articles, nullptr, "articles", 1, 0),
    Field(&CFeedSource::m_reservedMap, nullptr, nullptr, 1, 0),
    Field(&SourceFields::m_reservedString, "reserved_string", "reservedString", 2, kSourceReserved),
    Field(&SourceFields::m_autoName, "auto_name", "autoName", 3, kSourceAutoName),
    Field(&SourceFields::m_sortColumn, "sort_column", "sortColumn", 4, kSourceSort),
    Field(&SourceFields::m_sortDirection, "sort_direction", "sortDirection", 4, kSourceSort),
    Field(&CFeedSource::m_history, nullptr, "history", 5, 0),
    Field(&SourceFields::m_commsStatus, "comms_status", "commsStatus", 6, kSourceCommsStatus),
    Field(&SourceFields::m_refreshInterval, "refresh_interval", "refreshInterval", 7, kSourceRefreshInterval),
    Field(&SourceFields::m_retentionDays, "retention", nullptr, 0, kSourceRetention),
    Field(&SourceFields::m_fullArticle, "full_article", nullptr, 0, kSourceFullArticle));
static_assert(CheckFieldTable<SourceFields, decltype(kSourceFieldTable)>(), "a source field has no table entry");
inline constexpr uint8_t kSourceRecordVersion = 7;

}  // namespace qb
