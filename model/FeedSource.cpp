#include "model/FeedSource.h"

#include <algorithm>
#include <limits>

#include "model/Feed.h"

namespace qb {

double CFeedSource::TimeIndexKey(const CDateTime& t) {
  return t.IsValid() ? t.LinearDays() : -std::numeric_limits<double>::infinity();
}

void CFeedSource::IndexHistoryKey(const std::u16string& key, const CDateTime& firstSeen) {
  // A multimap inserts after the keys with an equal time, so ties keep the
  // order of addition.
  m_historyTimeIndex.emplace(TimeIndexKey(firstSeen), key);
}

void CFeedSource::AddToHistory(const CFeed& article, const CDateTime& firstSeen,
                               const KeySet* protectedKeys, std::vector<std::u16string>* evicted) {
  AddKeyToHistory(article.m_key, article.m_id, firstSeen, protectedKeys, evicted);
}

void CFeedSource::AddKeyToHistory(const std::u16string& key, ObjectId articleId, const CDateTime& firstSeen,
                                  const KeySet* protectedKeys, std::vector<std::u16string>* evicted) {
  // Oldest first; protected keys are stepped over. With the set of the
  // previous addition, unchanged, the keys stepped over then are skipped.
  const bool resume = protectedKeys != nullptr && m_evictionCursor.valid &&
                      protectedKeys->Stamp() != 0 && m_evictionCursor.stamp == protectedKeys->Stamp();
  auto it = resume ? m_evictionCursor.next : m_historyTimeIndex.begin();
  while (m_history.size() >= kHistoryLimit && it != m_historyTimeIndex.end()) {
    if (protectedKeys != nullptr && protectedKeys->count(it->second) != 0) {
      ++it;
      continue;
    }
    m_history.erase(it->second);
    if (evicted != nullptr) evicted->push_back(it->second);
    it = m_historyTimeIndex.erase(it);
  }
  m_history[key] = HistoryEntry{articleId, firstSeen};
  const auto added = m_historyTimeIndex.emplace(TimeIndexKey(firstSeen), key);

  m_evictionCursor.valid = protectedKeys != nullptr && protectedKeys->Stamp() != 0;
  if (!m_evictionCursor.valid) return;
  m_evictionCursor.stamp = protectedKeys->Stamp();
  // The new entry lands after every entry of equal time, so it falls among
  // the entries stepped over only when its time is earlier than that of the
  // entry the walk stopped at.
  const bool amongSkipped = it == m_historyTimeIndex.end() || added->first < it->first;
  if (amongSkipped && protectedKeys->count(key) == 0) it = added;
  m_evictionCursor.next = it;
}

void CFeedSource::ClearHistory() {
  m_history.clear();
  m_historyTimeIndex.clear();
  m_evictionCursor.valid = false;
}

void CFeedSource::RebuildHistoryIndex() {
  m_historyTimeIndex.clear();
  m_evictionCursor.valid = false;
  for (const auto& [key, entry] : m_history) IndexHistoryKey(key, entry.firstSeen);
}

void CFeedSource::RebuildHistoryIndex(const std::vector<std::u16string>& additions) {
  m_historyTimeIndex.clear();
  m_evictionCursor.valid = false;
  std::unordered_set<std::u16string> indexed;
  for (const std::u16string& key : additions) {
    auto it = m_history.find(key);
    if (it == m_history.end() || !indexed.insert(key).second) continue;
    IndexHistoryKey(key, it->second.firstSeen);
  }
  for (const auto& [key, entry] : m_history) {
    if (indexed.count(key) == 0) IndexHistoryKey(key, entry.firstSeen);
  }
}

void CFeedSource::RemoveFeed(ObjectId id) {
  auto it = std::find(m_articles.begin(), m_articles.end(), id);
  if (it != m_articles.end()) m_articles.erase(it);
}

}  // namespace qb
