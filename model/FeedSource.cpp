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
                               const KeySet* protectedKeys) {
  auto it = m_historyTimeIndex.begin();
  while (m_history.size() >= kHistoryLimit && it != m_historyTimeIndex.end()) {
    if (protectedKeys != nullptr && protectedKeys->count(it->second) != 0) {
      ++it;
      continue;
    }
    m_history.erase(it->second);
    it = m_historyTimeIndex.erase(it);
  }
  m_history[article.m_key] = HistoryEntry{article.m_id, firstSeen};
  IndexHistoryKey(article.m_key, firstSeen);
}

void CFeedSource::ClearHistory() {
  m_history.clear();
  m_historyTimeIndex.clear();
}

void CFeedSource::RebuildHistoryIndex() {
  m_historyTimeIndex.clear();
  for (const auto& [key, entry] : m_history) IndexHistoryKey(key, entry.firstSeen);
}

void CFeedSource::RemoveFeed(ObjectId id) {
  auto it = std::find(m_articles.begin(), m_articles.end(), id);
  if (it != m_articles.end()) m_articles.erase(it);
}

}  // namespace qb
