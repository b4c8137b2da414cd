#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <unordered_set>

#include "model/DateTime.h"
#include "model/RSSObject.h"

namespace qb {

class CFeed;

// Article list sort directions stored on a source.
inline constexpr int32_t kSortAscending = 1024;
inline constexpr int32_t kSortDescending = 512;

// The history keeps at most this many keys after an addition.
inline constexpr size_t kHistoryLimit = 500;

struct HistoryEntry {
  ObjectId articleId = 0;  // the article created when the key was first seen
  CDateTime firstSeen;
  bool operator==(const HistoryEntry&) const = default;
};

using KeySet = std::unordered_set<std::u16string>;

// One subscribed feed. It remembers the keys of the articles it has
// delivered (its seen-history), so an article the user deleted does not come
// back with the next download.
class CFeedSource : public RSSObject {
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
  void AddToHistory(const CFeed& article, const CDateTime& firstSeen,
                    const KeySet* protectedKeys = nullptr);

  void ClearHistory();

  // Rebuilds the time index from the history, in key order. Run after a load.
  void RebuildHistoryIndex();

  // Removes the first occurrence of the identifier from the article list.
  void RemoveFeed(ObjectId id);

  // Keys ordered by first-seen time, ties in order of addition.
  const std::multimap<double, std::u16string>& HistoryTimeIndex() const {
    return m_historyTimeIndex;
  }

  std::u16string m_title;
  std::u16string m_url;
  uint8_t m_legacyRefresh = 0;    // the refresh interval of files before version 7
  uint32_t m_lastUpdateTick = 0;  // not saved: 0 after every load
  CDateTime m_reservedDate;
  IdList m_articles;              // in the order first seen
  std::map<std::u16string, int32_t> m_reservedMap;
  std::u16string m_reservedString;
  bool m_autoName = false;        // the next channel title found replaces m_title
  int32_t m_sortColumn = 0;       // 0 title, 1 channel, 2 date
  int32_t m_sortDirection = kSortAscending;
  std::map<std::u16string, HistoryEntry> m_history;
  std::u16string m_commsStatus;
  int32_t m_refreshInterval = 15;  // minutes

 private:
  static double TimeIndexKey(const CDateTime& t);
  void IndexHistoryKey(const std::u16string& key, const CDateTime& firstSeen);

  // First-seen time (as TimeIndexKey) to key. An invalid time, which only a
  // damaged file can hold, sorts before every valid one and goes first.
  std::multimap<double, std::u16string> m_historyTimeIndex;
};

}  // namespace qb
