#include "library/LibraryLink.h"

#include <algorithm>
#include <type_traits>

#include "model/FeedsManager.h"
#include "model/ModelWriter.h"

namespace qb {

namespace {

constexpr auto kRetryDelay = std::chrono::seconds(1);


}  // namespace

CLibraryLink::CLibraryLink(CFeedsManager& model, CLibrary& library, const LibraryLoadResult* load)
    : CLibraryLink(model, library, load, Options{}) {}

CLibraryLink::CLibraryLink(CFeedsManager& model, CLibrary& library, const LibraryLoadResult* load, Options options)
    : m_model(model),
      m_library(library),
      m_ids(library),
      m_options(std::move(options)),
      m_worker([this] { Run(); }) {
  m_nextPosition = library.NextPosition();
  m_nextHistorySeq = library.NextHistorySeq();
  m_lastSeen = library.LastChange();
  library.OthersCommitted();  // from now on
  model.AddObserver(this);
  CModelWriter(model).Storage().SetIdSource(&m_ids);
  library.AddModule(m_updateStateModule);
  library.AddModule(m_readerModule);
  if (load != nullptr) {
    if (load->createdRoot != 0) Created(m_pending.groups, load->createdRoot, 0, true);
    for (ObjectId id : load->rehomedGroups) Placed(m_pending.groups, id, 0, true);
    for (ObjectId id : load->rehomedSources) Placed(m_pending.sources, id, 0, true);
  }
}

CLibraryLink::~CLibraryLink() {
  if (!m_modelGone) {
    m_model.RemoveObserver(this);
    CModelWriter(m_model).Storage().SetIdSource(nullptr);
  }
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stopping = true;
  }
  m_wake.notify_all();
  m_worker.join();
  // What this session made is written or will never be: its unused
  // identifiers are free for others.
  if (m_ids.Reservations() > 0) m_library.ReleaseIds();
  m_library.RemoveModule(m_readerModule);
  m_library.RemoveModule(m_updateStateModule);
}

void CLibraryLink::OnModelGone(const CFeedsManager&) {
  m_modelGone = true;
  m_pending = Pending{};
}

// --- what changed

CLibraryLink::RowState& CLibraryLink::Row(std::unordered_map<ObjectId, RowState>& rows, ObjectId id) {
  auto [it, added] = rows.try_emplace(id);
  if (added) it->second.order = ++m_order;
  return it->second;
}

void CLibraryLink::Created(std::unordered_map<ObjectId, RowState>& rows, ObjectId id, ObjectId parent, bool listed) {
  RowState& st = Row(rows, id);
  st.created = true;
  st.placed = true;
  st.place = {parent, listed, m_nextPosition++};
}

void CLibraryLink::Removed(std::unordered_map<ObjectId, RowState>& rows, ObjectId id) {
  RowState& st = Row(rows, id);
  if (st.created) {
    // The new record never reached the library.
    st.created = false;
    st.placed = false;
    st.fields = 0;
  } else {
    st.removed = true;
  }
}

void CLibraryLink::Placed(std::unordered_map<ObjectId, RowState>& rows, ObjectId id, ObjectId parent, bool listed) {
  RowState& st = Row(rows, id);
  st.placed = true;
  st.place = {parent, listed, m_nextPosition++};
}

void CLibraryLink::OnModelChanged(const CFeedsManager&, const CModelChange& change) {
  for (const CLibrary::ModuleSlot& slot : m_library.Modules()) slot.module->ModelChanged(change);
  // Rows read from the library: nothing to write.
  if (change.external) return;
  for (const ChangeEntry& e : change.entries) {
    switch (e.kind) {
      case ChangeKind::ArticleAdded: Created(m_pending.articles, e.id, e.parent, true); break;
      case ChangeKind::ArticleRemoved: Removed(m_pending.articles, e.id); break;
      case ChangeKind::ArticleChanged: Row(m_pending.articles, e.id).fields |= e.fields; break;
      case ChangeKind::ArticleMoved: Placed(m_pending.articles, e.id, e.parent, e.parent != 0); break;
      case ChangeKind::SourceAdded: Created(m_pending.sources, e.id, e.parent, true); break;
      case ChangeKind::SourceChanged: Row(m_pending.sources, e.id).fields |= e.fields; break;
      case ChangeKind::SourceMoved: Placed(m_pending.sources, e.id, e.parent, e.parent != 0); break;
      case ChangeKind::SourceRemoved: Removed(m_pending.sources, e.id); break;
      case ChangeKind::GroupAdded: Created(m_pending.groups, e.id, e.parent, true); break;
      case ChangeKind::GroupChanged: Row(m_pending.groups, e.id).fields |= e.fields; break;
      case ChangeKind::GroupMoved: Placed(m_pending.groups, e.id, e.parent, true); break;
      case ChangeKind::GroupRemoved: Removed(m_pending.groups, e.id); break;
      case ChangeKind::ListReordered:
        if (e.fields & kRootList) {
          m_pending.rootReordered = true;
        } else {
          m_pending.reordered.insert(e.id);
        }
        break;
      case ChangeKind::SettingsChanged: m_pending.settings = true; break;
      case ChangeKind::HistoryChanged:
      case ChangeKind::CountsChanged: break;
    }
  }
  for (const HistoryKeyChange& k : change.historyKeys) {
    auto [it, added] = m_pending.histories.try_emplace(k.source);
    HistoryState& h = it->second;
    if (added) h.order = ++m_order;
    switch (k.step) {
      case HistoryKeyChange::Step::Cleared:
        h.cleared = true;
        h.added.Clear();
        h.dropped.clear();
        break;
      case HistoryKeyChange::Step::Added:
        h.added.Add(k.key);
        h.dropped.erase(k.key);
        break;
      case HistoryKeyChange::Step::Dropped:
        h.added.Remove(k.key);
        h.dropped.insert(k.key);
        break;
    }
  }
}

void CLibraryLink::GatherModules() {
  for (const CLibrary::ModuleSlot& slot : m_library.Modules()) slot.module->Gather();
}

bool CLibraryLink::ModulesHaveWork() const {
  for (const CLibrary::ModuleSlot& slot : m_library.Modules()) {
    if (slot.module->HasWork()) return true;
  }
  return false;
}

void CLibraryLink::OrderedKeys::Add(const std::u16string& key) {
  Remove(key);
  m_index.emplace(key, m_slots.size());
  m_slots.emplace_back(key);
}

void CLibraryLink::OrderedKeys::Remove(const std::u16string& key) {
  auto it = m_index.find(key);
  if (it == m_index.end()) return;
  m_slots[it->second].reset();
  m_index.erase(it);
}

void CLibraryLink::OrderedKeys::Clear() {
  m_slots.clear();
  m_index.clear();
}

// --- the batch

CLibraryBatch CLibraryLink::Build(Pending& pending, IdList& createdArticles) {
  // Lists whose order changed get fresh positions, all of them in order.
  for (ObjectId list : pending.reordered) {
    if (const CGroup* g = m_model.GetGroup(list)) {
      for (ObjectId c : g->m_childGroups) Placed(pending.groups, c, list, true);
      for (ObjectId s : g->m_sources) Placed(pending.sources, s, list, true);
    } else if (const CFeedSource* s = m_model.GetFeedSource(list)) {
      for (ObjectId a : s->m_articles) Placed(pending.articles, a, list, true);
    }
  }
  if (pending.rootReordered) {
    for (ObjectId g : CModelWriter(m_model).RootGroups()) Placed(pending.groups, g, 0, true);
  }
  auto inOrder = [](const std::unordered_map<ObjectId, RowState>& rows) {
    std::vector<std::pair<uint64_t, ObjectId>> order;
    order.reserve(rows.size());
    for (const auto& [id, st] : rows) order.emplace_back(st.order, id);
    std::sort(order.begin(), order.end());
    return order;
  };
  CLibraryBatch b;
  // The source that lists an article: the one its link names, checked
  // against that source's list once per batch (a batch of a large feed
  // names tens of thousands of its articles).
  std::unordered_map<ObjectId, std::unordered_set<ObjectId>> listed;
  auto SourceListing = [&](const CFeed& a) -> const CFeedSource* {
    const CFeedSource* s = m_model.GetFeedSource(a.m_source);
    if (s != nullptr) {
      auto [it, added] = listed.try_emplace(s->m_id);
      if (added) it->second.insert(s->m_articles.begin(), s->m_articles.end());
      if (it->second.count(a.m_id) != 0) return s;
    }
    return m_model.FindSourceOfFeed(a.m_id);
  };
  for (auto* rows : {&pending.groups, &pending.sources, &pending.articles}) {
    for (ObjectId id : m_foreign) rows->erase(id);
  }

  // Each row of a kind in the order first seen: `fill` copies a record the
  // model holds into a row whose `write` is set. A record that is gone,
  // perhaps with a node above it whose rows the library holds elsewhere (a
  // move not yet written), has its stored rows removed.
  auto rowsOf = [&](std::unordered_map<ObjectId, RowState>& rows, auto lookup, std::vector<ObjectId>& removed,
                    auto& out, auto fill) {
    for (const auto& [order, id] : inOrder(rows)) {
      const RowState& st = rows.at(id);
      const auto* record = lookup(id);
      if (record == nullptr) {
        if (st.removed || !st.created) removed.push_back(id);
        continue;
      }
      typename std::remove_reference_t<decltype(out)>::value_type row;
      row.id = id;
      row.write = st.created ? kRowInsert
                             : ((st.placed ? kRowPlace : 0) | (st.fields != 0 ? kRowFields : 0) |
                                0);
      if (row.write == 0) continue;
      if (st.created && st.removed) b.replaced.push_back(id);
      fill(*record, st, row);
      out.push_back(std::move(row));
    }
  };
  rowsOf(
      pending.groups, [&](ObjectId id) { return m_model.GetGroup(id); }, b.removedGroups, b.groups,
      [&](const CGroup& g, const RowState& st, CLibraryBatch::Group& row) {
        row.fields = st.fields;
        row.values = g;
        if (row.write & (kRowInsert | kRowPlace)) {
          const CGroup* parent = m_model.FindParentGroup(row.id);
          row.place.position = st.place.position;
          row.place.listed = parent != nullptr || Contains(CModelWriter(m_model).RootGroups(), row.id);
          row.place.parent = parent != nullptr ? parent->m_id : 0;
        }
      });
  rowsOf(
      pending.sources, [&](ObjectId id) { return m_model.GetFeedSource(id); }, b.removedSources, b.sources,
      [&](const CFeedSource& s, const RowState& st, CLibraryBatch::Source& row) {
        row.fields = st.fields;
        row.values = s;
        if (row.write & (kRowInsert | kRowPlace)) {
          const CGroup* group = m_model.FindGroupOfSource(row.id);
          row.place = {group != nullptr ? group->m_id : 0, group != nullptr, st.place.position};
        }
      });
  rowsOf(
      pending.articles, [&](ObjectId id) { return m_model.GetFeed(id); }, b.removedArticles, b.articles,
      [&](const CFeed& a, const RowState& st, CLibraryBatch::Article& row) {
        row.fields = st.fields;
        row.values = a;
        if (st.created) {
          row.texts = m_model.ArticleTexts(row.id);
          createdArticles.push_back(row.id);
        }
        if (row.write & (kRowInsert | kRowPlace)) {
          const CFeedSource* source = SourceListing(a);
          row.place = {source != nullptr ? source->m_id : 0, source != nullptr, st.place.position};
        }
      });
  std::vector<std::pair<uint64_t, ObjectId>> histories;
  for (const auto& [id, h] : pending.histories) histories.emplace_back(h.order, id);
  std::sort(histories.begin(), histories.end());
  for (const auto& [order, id] : histories) {
    const CFeedSource* s = m_model.GetFeedSource(id);
    if (s == nullptr) continue;
    const HistoryState& h = pending.histories.at(id);
    CLibraryBatch::History row;
    row.source = id;
    row.cleared = h.cleared;
    row.drop.assign(h.dropped.begin(), h.dropped.end());
    h.added.ForEach([&](const std::u16string& key) {
      auto it = s->m_history.find(key);
      if (it != s->m_history.end()) row.put.push_back({key, it->second, m_nextHistorySeq++});
    });
    b.histories.push_back(std::move(row));
  }
  if (pending.settings) b.retentionDays = m_model.RetentionDays();
  m_modulesInFlight.clear();
  for (const CLibrary::ModuleSlot& slot : m_library.Modules()) {
    if (ILibraryModule::Work work = slot.module->TakeWork()) {
      b.moduleWork.emplace_back(slot.kind, std::move(work));
      m_modulesInFlight.push_back(slot.module);
    }
  }
  return b;
}

bool CLibraryLink::Submit() {
  IdList created;
  CLibraryBatch batch = Build(m_pending, created);
  if (batch.empty()) {
    m_pending = Pending{};
    return false;
  }
  m_inFlight = std::move(m_pending);
  m_pending = Pending{};
  m_inFlightArticles = std::move(created);
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_job = std::move(batch);
  }
  m_wake.notify_all();
  return true;
}

void CLibraryLink::Merge(Pending& older, Pending&& newer) {
  auto rows = [](std::unordered_map<ObjectId, RowState>& into, std::unordered_map<ObjectId, RowState>& from) {
    for (auto& [id, st] : from) {
      auto [it, added] = into.try_emplace(id, st);
      if (added) continue;
      RowState& o = it->second;
      o.created = st.created || (o.created && !st.removed);
      o.removed = o.removed || st.removed;
      if (st.placed) o.place = st.place;
      o.placed = o.placed || st.placed;
      o.fields |= st.fields;
      o.order = std::min(o.order, st.order);
    }
  };
  rows(older.groups, newer.groups);
  rows(older.sources, newer.sources);
  rows(older.articles, newer.articles);
  for (auto& [id, h] : newer.histories) {
    auto [it, added] = older.histories.try_emplace(id, h);
    if (added) continue;
    HistoryState& o = it->second;
    if (h.cleared) {
      const uint64_t order = o.order;
      o = h;
      o.order = order;
      continue;
    }
    for (const std::u16string& key : h.dropped) {
      o.added.Remove(key);
      o.dropped.insert(key);
    }
    h.added.ForEach([&](const std::u16string& key) {
      o.added.Add(key);
      o.dropped.erase(key);
    });
  }
  older.reordered.insert(newer.reordered.begin(), newer.reordered.end());
  older.rootReordered = older.rootReordered || newer.rootReordered;
  older.settings = older.settings || newer.settings;
}

void CLibraryLink::Collect(LibraryFlushReport& report) {
  std::optional<LibraryWriteResult> result;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    result = std::move(m_result);
    m_result.reset();
  }
  if (!result || !m_inFlight) return;
  if (result->ok) {
    report.written = true;
    m_failure.reset();
    m_failureCode = 0;
    m_collisions += result->collisions.size();
    m_foreign.insert(result->collisions.begin(), result->collisions.end());
    // Written: the texts are read from the library from now on, unless the
    // record was made anew meanwhile.
    for (ObjectId id : m_inFlightArticles) {
      auto again = m_pending.articles.find(id);
      if (again != m_pending.articles.end() && again->second.created) continue;
      if (std::find(result->collisions.begin(), result->collisions.end(), id) != result->collisions.end()) continue;
      m_model.ReleaseTexts(id);
    }
  } else {
    m_failure = result->error;
    m_failureCode = result->code;
    m_retryAt = std::chrono::steady_clock::now() + kRetryDelay;
    Pending newer = std::move(m_pending);
    m_pending = std::move(*m_inFlight);
    Merge(m_pending, std::move(newer));
  }
  for (ILibraryModule* module : m_modulesInFlight) module->WorkDone(result->ok);
  m_modulesInFlight.clear();
  m_inFlight.reset();
  m_inFlightArticles.clear();
}

LibraryFlushReport CLibraryLink::Flush() {
  LibraryFlushReport report;
  if (m_modelGone) return report;
  Collect(report);
  bool busy = false;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    busy = m_job.has_value() || m_writing;
  }
  // Taken before what others stored is read: this process's own state of
  // a source wins until it is written.
  GatherModules();
  if (!busy) {
    Refresh();
    // Nothing goes into a library whose check has not answered yet.
    if ((!m_pending.empty() || ModulesHaveWork()) && !m_library.CheckPending() &&
        (!m_failure || std::chrono::steady_clock::now() >= m_retryAt)) {
      report.started = Submit();
    }
  }
  report.busy = busy;
  FillState(report);
  return report;
}

LibraryFlushReport CLibraryLink::FlushAndWait(std::chrono::milliseconds patience) {
  const auto deadline = std::chrono::steady_clock::now() + patience;
  LibraryFlushReport report;
  if (m_modelGone) return report;
  auto waitIdle = [&] {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_wake.wait(lock, [&] { return !m_job && !m_writing; });
  };
  // The library's check in the background answers first (it takes a
  // fraction of a second even for a large library).
  while (m_library.CheckPending()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  for (;;) {
    waitIdle();
    Collect(report);
    GatherModules();
    Refresh();
    if (m_pending.empty() && !ModulesHaveWork()) break;
    if (!Submit()) break;
    report.started = true;
    waitIdle();
    Collect(report);
    if (!m_failure) continue;
    // Another process holds the library: try again for a while. A full
    // disk or a damaged file does not mend itself in that time.
    const int primary = m_failureCode & 0xFF;
    if (primary != SQLITE_BUSY && primary != SQLITE_LOCKED) break;
    if (std::chrono::steady_clock::now() >= deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  FillState(report);
  return report;
}

void CLibraryLink::FillState(LibraryFlushReport& report) const {
  report.pending = HasPending();
  report.unsaved = PendingCount();
  report.failure = m_failure;
  report.failureCode = m_failure ? m_failureCode : 0;
  report.damaged = m_library.Damaged();
  report.collisions = m_collisions;
}

bool CLibraryLink::HasPending() const { return !m_pending.empty() || m_inFlight.has_value() || ModulesHaveWork(); }

size_t CLibraryLink::PendingCount() const {
  size_t n = 0;
  for (const Pending* p : {&m_pending, m_inFlight ? &*m_inFlight : nullptr}) {
    if (p == nullptr) continue;
    n += p->groups.size() + p->sources.size() + p->articles.size() + p->reordered.size();
    for (const auto& [id, h] : p->histories) n += h.added.size() + h.dropped.size() + (h.cleared ? 1 : 0);
    n += (p->rootReordered ? 1 : 0) + (p->settings ? 1 : 0);
  }
  for (const CLibrary::ModuleSlot& slot : m_library.Modules()) n += slot.module->PendingCount();
  return n;
}

void CLibraryLink::Run() {
  std::unique_lock<std::mutex> lock(m_mutex);
  for (;;) {
    m_wake.wait(lock, [&] { return m_job.has_value() || m_stopping; });
    if (!m_job) return;  // stopping, and nothing handed over
    CLibraryBatch batch = std::move(*m_job);
    m_job.reset();
    m_writing = true;
    lock.unlock();
    LibraryWriteResult result = m_library.Write(batch);
    batch = CLibraryBatch{};
    lock.lock();
    m_result = std::move(result);
    m_writing = false;
    m_wake.notify_all();
    if (m_options.written) {
      lock.unlock();
      m_options.written();
      lock.lock();
    }
  }
}

}  // namespace qb
