#include "library/UpdateStateModule.h"

#include <unordered_set>

#include "library/Library.h"
#include "library/LibraryRows.h"

namespace qb {

void CUpdateStateModule::Migrate(CSqliteDb& db, int from) const {
  if (from < 1) {
    // The table the library made at its version 4, made again with its
    // rows going with their source wherever it is removed.
    db.Exec(R"sql(
CREATE TABLE update_state_v1(
  source INTEGER PRIMARY KEY REFERENCES sources(id) ON DELETE CASCADE,
  url BLOB NOT NULL,
  etag BLOB NOT NULL,
  last_modified BLOB NOT NULL,
  failures INTEGER NOT NULL,
  last_attempt INTEGER NOT NULL,
  last_success INTEGER NOT NULL,
  failure BLOB NOT NULL,
  retry_until INTEGER NOT NULL);
)sql");
    if (db.QueryInt("SELECT count(*) FROM sqlite_master WHERE name = 'update_state'") != 0) {
      db.Exec(
          "INSERT INTO update_state_v1 SELECT u.source, u.url, u.etag, u.last_modified, u.failures, "
          "u.last_attempt, u.last_success, u.failure, u.retry_until FROM update_state u "
          "JOIN sources s ON s.id = u.source; DROP TABLE update_state;");
    }
    db.Exec("ALTER TABLE update_state_v1 RENAME TO update_state");
  }
}

void CUpdateStateModule::ModelChanged(const CModelChange& change) {
  if (m_store == nullptr || change.external) return;
  for (const HistoryKeyChange& k : change.historyKeys) {
    if (k.step == HistoryKeyChange::Step::Cleared) m_store->ForgetValidators(k.source);
  }
}

void CUpdateStateModule::Gather() {
  if (m_store == nullptr) return;
  std::vector<LibraryUpdateState> put;
  IdList dropped;
  m_store->TakeChangedStates(put, dropped);
  for (ObjectId id : dropped) m_pending[id].reset();
  for (LibraryUpdateState& st : put) {
    const ObjectId id = st.source;
    m_pending[id] = std::move(st);
  }
}

ILibraryModule::Work CUpdateStateModule::TakeWork() {
  if (m_pending.empty()) return {};
  m_inFlight = std::move(m_pending);
  m_pending.clear();
  // A copy for the writing thread; the module keeps its own until done.
  return [states = m_inFlight](CModuleWrite& write) {
    for (const auto& [id, st] : states) {
      // After the sources and their articles: a state is stored only for
      // a source the library holds under the state's address.
      if (st) {
        library::PutUpdateState(write.Db(), *st);
      } else {
        library::DropUpdateState(write.Db(), id, false);
      }
      write.Logged(id);
    }
  };
}

void CUpdateStateModule::WorkDone(bool committed) {
  if (!committed) {
    // Written again with the next batch, unless changed meanwhile.
    for (auto& [id, st] : m_inFlight) m_pending.try_emplace(id, std::move(st));
  }
  m_inFlight.clear();
}

void CUpdateStateModule::SourceWritten(CModuleWrite& write, const CLibraryBatch::Source& row) {
  // What the library knows about updating a source from another address
  // is nothing to this one.
  if (!(row.write & kRowFields) || !(row.fields & kSourceUrl)) return;
  CSqliteStatement& s = write.Db().Statement("DELETE FROM update_state WHERE source = ? AND url <> ?");
  s.Bind(1, int64_t{row.id});
  s.Bind(2, std::u16string_view(row.values.m_url));
  s.Run();
  if (write.Db().Changes() > 0) write.Logged(row.id);
}

void CUpdateStateModule::HistoryCleared(CModuleWrite& write, ObjectId source) {
  if (library::DropUpdateState(write.Db(), source, true)) write.Logged(source);
}

void CUpdateStateModule::SourceRemoved(CModuleWrite& write, ObjectId source) {
  // The row went with the source.
  write.Logged(source);
}

void CUpdateStateModule::ChangedElsewhere(CLibrary& library, const IdList& ids, bool everything) {
  if (m_store == nullptr) return;
  // This process's own state of a source wins until it is written.
  auto local = [&](ObjectId id) { return m_pending.count(id) != 0 || m_inFlight.count(id) != 0; };
  std::vector<LibraryUpdateState> put;
  IdList dropped;
  if (everything) {
    // Every state stored, and every other identifier named has none.
    std::vector<LibraryUpdateState> all;
    if (!library.ReadUpdateStates(all)) return;
    std::unordered_set<ObjectId> stored;
    for (LibraryUpdateState& st : all) {
      stored.insert(st.source);
      if (!local(st.source)) put.push_back(std::move(st));
    }
    for (ObjectId id : ids) {
      if (stored.count(id) == 0 && !local(id)) dropped.push_back(id);
    }
  } else {
    for (ObjectId id : ids) {
      if (local(id)) continue;
      LibraryUpdateState st;
      if (library.ReadUpdateState(id, st)) {
        put.push_back(std::move(st));
      } else {
        dropped.push_back(id);
      }
    }
  }
  m_store->ApplyStoredStates(put, dropped);
}

}  // namespace qb
