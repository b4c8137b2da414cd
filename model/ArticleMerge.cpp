// The model's side of an update: what a document read as values
// (model/FeedReading.h) does to its source, through the seen-history.
#include <new>
#include <unordered_map>
#include <unordered_set>

#include "model/FeedReading.h"
#include "model/FeedsManager.h"

namespace qb {

namespace {

// A key that repeats inside one document is no key: items without a guid
// that share the child the key rule finds in its place (one link for every
// item, one date for a day's items) would otherwise be one article. The
// first of them keeps the shared key, so what was stored under it stays
// valid; each later one, and the first too once the source holds the shared
// key for another item, is merged under its own key (the candidate's
// `ownKey`). The one merged under the shared key records its own key as
// well, so that it is known by it wherever it stands in a later document.
// Items equal in all of what tells them apart are one item.
struct KeyPlan {
  std::vector<std::u16string> keys;     // per candidate: the key it is merged under
  std::vector<std::u16string> aliases;  // per candidate: a second key to record with it
  std::vector<bool> known;              // per candidate: the source has it already
  // Own keys of articles delivered under a shared key alone, to record now.
  std::vector<std::pair<std::u16string, ObjectId>> recognised;
};

KeyPlan PlanKeys(const CFeedsManager& manager, const CFeedSource& source, const FeedReading& reading) {
  const std::vector<ArticleCandidate>& items = reading.articles;
  KeyPlan plan;
  plan.keys.reserve(items.size());
  for (const ArticleCandidate& c : items) plan.keys.push_back(c.fields.m_key);
  plan.aliases.resize(items.size());
  plan.known.resize(items.size());
  // The members of each repeated key, in document order.
  std::vector<std::vector<size_t>> groups;
  {
    std::unordered_map<std::u16string_view, size_t> firstOf;
    std::unordered_map<size_t, size_t> groupOf;  // first member to its group
    firstOf.reserve(items.size());
    for (size_t n = 0; n < items.size(); ++n) {
      const auto [it, fresh] = firstOf.emplace(items[n].fields.m_key, n);
      if (fresh) continue;
      const auto [g, opened] = groupOf.emplace(it->second, groups.size());
      if (opened) groups.push_back({it->second});
      groups[g->second].push_back(n);
    }
  }
  for (const std::vector<size_t>& members : groups) {
    const std::u16string& shared = items[members.front()].fields.m_key;
    bool anyKnown = false;
    for (size_t m : members) anyKnown = anyKnown || source.IsInHistory(items[m].ownKey);
    std::unordered_set<std::u16string> taken;
    if (!anyKnown && source.IsInHistory(shared)) {
      // Delivered under the shared key alone: by a version that gave all of
      // them that key, or while the item was the only one with it. It stood
      // for the item whose markup its article keeps (none of these when it
      // keeps another); when its article is gone, for the first, as that
      // version had it.
      const ObjectId stored = source.m_history.at(shared).articleId;
      const SharedText markup = manager.ArticleTexts(stored).sourceText;
      size_t owner = markup.empty() ? 0 : members.size();
      for (size_t i = 0; i < members.size() && !markup.empty(); ++i) {
        if (reading.MarkupOf(items[members[i]]) == markup.str()) {
          owner = i;
          break;
        }
      }
      if (owner < members.size()) {
        const size_t m = members[owner];
        plan.known[m] = true;
        plan.recognised.emplace_back(items[m].ownKey, stored);
        taken.insert(items[m].ownKey);
      }
    }
    bool sharedFree = !source.IsInHistory(shared);
    for (size_t m : members) {
      if (plan.known[m]) continue;
      const std::u16string& own = items[m].ownKey;
      if (source.IsInHistory(own) || !taken.insert(own).second) {
        plan.known[m] = true;
        continue;
      }
      if (sharedFree) {
        sharedFree = false;
        plan.aliases[m] = own;
      } else {
        plan.keys[m] = own;
      }
    }
  }
  return plan;
}

}  // namespace

bool CFeedsManager::MergeArticles(ObjectId sourceId, FeedReading reading, uint32_t tick) {
  CFeedSource* found = EditSource(sourceId);
  if (found == nullptr) return false;
  CFeedSource& source = *found;
  ChangeScope scope(*this);

  uint32_t fields = 0;
  if (reading.understood) {
    if (source.m_autoName && !reading.title.empty()) {
      if (source.m_title != reading.title) fields |= kSourceTitle;
      source.m_title = std::move(reading.title);
      source.m_autoName = false;
      fields |= kSourceAutoName;
    }
    source.m_lastUpdateTick = tick;
  }
  const std::u16string_view status = reading.understood ? kCommsStatusOk : kCommsStatusNotUnderstood;
  if (source.m_commsStatus != status) {
    source.m_commsStatus = status;
    fields |= kSourceCommsStatus;
  }
  if (fields != 0) Note(ChangeKind::SourceChanged, sourceId, 0, 0, fields);

  KeyPlan plan = PlanKeys(*this, source, reading);
  // The keys of the whole document stay in the history while it is merged;
  // otherwise a feed of more than 500 items would evict its own first keys
  // and add those items again at every update.
  KeySet protectedKeys;
  for (const std::u16string& key : plan.keys) protectedKeys.insert(key);
  for (const std::u16string& key : plan.aliases) {
    if (!key.empty()) protectedKeys.insert(key);
  }
  for (const auto& [key, id] : plan.recognised) protectedKeys.insert(key);
  protectedKeys.SetStamp(NewKeySetStamp());

  bool historyChanged = false;
  std::vector<std::u16string> evicted;
  auto remember = [&](const std::u16string& key, ObjectId article, const CDateTime& now) {
    evicted.clear();
    source.AddKeyToHistory(key, article, now, &protectedKeys, &evicted);
    for (std::u16string& gone : evicted) {
      m_pending.historyKeys.push_back({sourceId, HistoryKeyChange::Step::Dropped, std::move(gone)});
    }
    m_pending.historyKeys.push_back({sourceId, HistoryKeyChange::Step::Added, key});
    historyChanged = true;
  };
  for (const auto& [key, id] : plan.recognised) {
    remember(key, id, CDateTime::FromTime(m_clock->CurrentTime()));
  }

  bool added = false;
  for (size_t n = 0; n < reading.articles.size(); ++n) {
    if (plan.known[n] || source.IsInHistory(plan.keys[n])) continue;
    ArticleCandidate& c = reading.articles[n];
    CFeed* a = nullptr;
    try {
      a = NewFeed();
      static_cast<ArticleFields&>(*a) = std::move(c.fields);
      a->m_key = std::move(plan.keys[n]);
      a->m_description = std::move(c.description);
      // Copied only for an article that is kept: an update that brings
      // nothing new copies nothing.
      a->m_sourceText = SharedText(std::u16string(reading.MarkupOf(c)));
    } catch (const std::bad_alloc&) {
      if (a != nullptr) DeleteObject(a->m_id);
      continue;  // out of memory: the item is skipped
    }
    LinkArticle(*a, source);
    Note(ChangeKind::ArticleAdded, a->m_id, sourceId);
    const CDateTime now = CDateTime::FromTime(m_clock->CurrentTime());
    remember(a->m_key, a->m_id, now);
    const std::u16string& alias = plan.aliases[n];
    if (!alias.empty() && !source.IsInHistory(alias)) remember(alias, a->m_id, now);
    added = true;
  }
  if (historyChanged) Note(ChangeKind::HistoryChanged, sourceId);

  return added;
}

void CFeedsManager::SetCommsStatus(ObjectId sourceId, std::u16string_view status, std::optional<uint32_t> tick) {
  CFeedSource* source = EditSource(sourceId);
  if (source == nullptr) return;
  if (tick) source->m_lastUpdateTick = *tick;
  if (source->m_commsStatus == status) return;
  ChangeScope scope(*this);
  source->m_commsStatus = status;
  Note(ChangeKind::SourceChanged, sourceId, 0, 0, kSourceCommsStatus);
}

}  // namespace qb
