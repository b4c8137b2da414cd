// What other processes committed to the library, read back into this
// process's model: each row another process wrote is applied as one change
// marked external, unless this process has a change of its own to the same
// row waiting to be written, which wins.
#include "library/LibraryLink.h"

#include <algorithm>
#include <map>
#include <unordered_set>

#include "model/FeedsManager.h"
#include "model/ModelWriter.h"

namespace qb {

CLibraryLink::RowState CLibraryLink::LocalRow(std::unordered_map<ObjectId, RowState> Pending::*rows,
                                              ObjectId id) const {
  RowState local;
  for (const Pending* p : {&m_pending, m_inFlight ? &*m_inFlight : nullptr}) {
    if (p == nullptr) continue;
    auto it = (p->*rows).find(id);
    if (it == (p->*rows).end()) continue;
    local.created = local.created || it->second.created;
    local.removed = local.removed || it->second.removed;
    local.placed = local.placed || it->second.placed;
    local.fields |= it->second.fields;
  }
  return local;
}

bool CLibraryLink::Refresh() {
  if (m_modelGone) return false;
  GatherModules();
  if (!m_library.IsOpen() || !m_library.OthersCommitted()) return m_library.IsOpen();
  LibraryChanges changes = m_library.ChangesSince(m_lastSeen);
  if (!changes.ok) return false;
  if (changes.resync) {
    // The log no longer reaches back to what this process read: every row
    // is read again, and every record the library no longer holds goes.
    changes.groups.clear();
    changes.sources.clear();
    changes.articles.clear();
    if (!m_library.StoredIds(changes.groups, changes.sources, changes.articles)) return false;
    for (const auto& [id, record] : CModelWriter(m_model).Storage().IdIndex()) {
      switch (record->Type()) {
        case RecordType::Group: changes.groups.push_back(id); break;
        case RecordType::FeedSource: changes.sources.push_back(id); break;
        case RecordType::Feed: changes.articles.push_back(id); break;
      }
    }
    for (IdList* list : {&changes.groups, &changes.sources, &changes.articles}) {
      std::sort(list->begin(), list->end());
      list->erase(std::unique(list->begin(), list->end()), list->end());
    }
    changes.histories = changes.sources;
    changes.settings = true;
  }
  if (changes.empty()) {
    m_lastSeen = changes.last;
    return true;
  }
  CLibraryBatch rows;
  if (!m_library.ReadRows(changes, rows)) return false;
  m_lastSeen = changes.last;
  // The modules first, so that the panes the model's change refreshes show
  // what came with it (a feed's warning mark).
  for (const CLibrary::ModuleSlot& slot : m_library.Modules()) {
    if (changes.resync) {
      IdList all = changes.groups;
      all.insert(all.end(), changes.sources.begin(), changes.sources.end());
      all.insert(all.end(), changes.articles.begin(), changes.articles.end());
      slot.module->ChangedElsewhere(m_library, all, true);
    } else if (auto it = changes.modules.find(slot.kind); it != changes.modules.end()) {
      slot.module->ChangedElsewhere(m_library, it->second, false);
    }
  }
  ApplyExternal(rows);
  return true;
}

void CLibraryLink::ApplyExternal(const CLibraryBatch& rows) {
  m_model.ApplyExternal([&] {
    auto bump = [&](const CLibraryBatch::Place& p) { m_nextPosition = std::max(m_nextPosition, p.position + 1); };
    // Records first, so that every list below finds its members.
    std::unordered_set<ObjectId> skip;
    // A row this process made anew or removed and has not written yet is
    // its own: what the library holds goes when it is written.
    auto mine = [&](std::unordered_map<ObjectId, RowState> Pending::*kind, ObjectId id) {
      const RowState local = LocalRow(kind, id);
      return local.created || local.removed;
    };
    for (const auto& g : rows.groups) {
      if (mine(&Pending::groups, g.id) || m_model.AdoptGroup(g.id) == nullptr) skip.insert(g.id);
    }
    for (const auto& s : rows.sources) {
      if (mine(&Pending::sources, s.id) || m_model.AdoptSource(s.id) == nullptr) skip.insert(s.id);
    }
    for (const auto& a : rows.articles) {
      if (mine(&Pending::articles, a.id) || m_model.AdoptArticle(a.id) == nullptr) skip.insert(a.id);
    }
    for (const auto& row : rows.groups) {
      if (skip.count(row.id) != 0) continue;
      bump(row.place);
      const RowState local = LocalRow(&Pending::groups, row.id);
      // What this process changed and has not written wins.
      GroupFields values = row.values;
      TakeFields<GroupFields>(kGroupFieldTable, local.fields, *m_model.GetGroup(row.id), values);
      m_model.SetGroupFields(row.id, values);
      if (!local.placed) m_model.PlaceGroup(row.id, row.place.parent, row.place.listed && row.place.parent == 0);
    }
    for (const auto& row : rows.sources) {
      if (skip.count(row.id) != 0) continue;
      bump(row.place);
      const RowState local = LocalRow(&Pending::sources, row.id);
      SourceFields values = row.values;
      TakeFields<SourceFields>(kSourceFieldTable, local.fields, *m_model.GetFeedSource(row.id), values);
      m_model.SetSourceFields(row.id, values);
      if (!local.placed) m_model.PlaceSource(row.id, row.place.listed ? row.place.parent : 0);
    }
    for (const auto& row : rows.articles) {
      if (skip.count(row.id) != 0) continue;
      bump(row.place);
      const RowState local = LocalRow(&Pending::articles, row.id);
      ArticleFields values = row.values;
      TakeFields<ArticleFields>(kArticleFieldTable, local.fields, *m_model.GetFeed(row.id), values);
      m_model.SetArticleFields(row.id, values);
      if (!local.placed) m_model.PlaceArticle(row.id, row.place.listed ? row.place.parent : 0);
    }
    for (const auto& h : rows.histories) {
      const bool local = m_pending.histories.count(h.source) != 0 ||
                         (m_inFlight && m_inFlight->histories.count(h.source) != 0);
      if (local) continue;
      std::map<std::u16string, HistoryEntry> history;
      std::vector<std::u16string> order;
      for (const auto& row : h.put) {
        history.emplace(row.key, row.entry);
        order.push_back(row.key);
        m_nextHistorySeq = std::max(m_nextHistorySeq, row.seq + 1);
      }
      m_model.SetHistory(h.source, std::move(history), order);
    }
    for (ObjectId id : rows.removedArticles) {
      if (!LocalRow(&Pending::articles, id).created && m_model.GetFeed(id) != nullptr) m_model.RemoveNode(id);
    }
    for (ObjectId id : rows.removedSources) {
      if (!LocalRow(&Pending::sources, id).created && m_model.GetFeedSource(id) != nullptr) m_model.RemoveNode(id);
    }
    for (ObjectId id : rows.removedGroups) {
      if (!LocalRow(&Pending::groups, id).created && m_model.GetGroup(id) != nullptr) m_model.RemoveNode(id);
    }
    const bool localSettings = m_pending.settings || (m_inFlight && m_inFlight->settings);
    if (rows.retentionDays && !localSettings) m_model.SetRetentionDays(*rows.retentionDays);
  });
}


}  // namespace qb
