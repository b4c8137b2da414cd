// The update engine's state of each source (model/UpdateStateFields.h) as a
// module of the library (library/LibraryModule.h): the table update_state,
// a row per source while the source has the row's address, written in the
// transaction of the articles the fetch it describes applied.
//
// The engine's side is an IUpdateStateStore (update/Validators.h keeps it):
// what it changed is gathered at each flush and wins over what another
// process stored until it is written; what another process stored is
// handed to it. An address change drops the state of the old address, a
// cleared history the validators (a "not modified" would keep the
// forgotten articles away), a removed source its row.
#pragma once

#include <map>
#include <optional>
#include <vector>

#include "library/LibraryBatch.h"
#include "library/LibraryModule.h"

namespace qb {

// The update engine's side.
class IUpdateStateStore {
 public:
  // The states changed since the last call: each one as it is now in
  // `put`, and in `dropped` the sources whose state went.
  virtual void TakeChangedStates(std::vector<LibraryUpdateState>& put, IdList& dropped) = 0;
  // What another process stored: those sources' states replaced (or
  // dropped), and nothing reported as changed.
  virtual void ApplyStoredStates(const std::vector<LibraryUpdateState>& put, const IdList& dropped) = 0;
  // The model cleared the source's history: its validators go, so that the
  // next fetch asks for the whole document. The change goes with the
  // cleared history.
  virtual void ForgetValidators(ObjectId source) = 0;

 protected:
  ~IUpdateStateStore() = default;
};

class CUpdateStateModule final : public ILibraryModule {
 public:
  // The engine's store, null for none (nothing is gathered or handed
  // over). It must outlive the module or be replaced first.
  void SetStore(IUpdateStateStore* store) { m_store = store; }

  std::string_view Name() const override { return "update_state"; }
  int Version() const override { return 1; }
  void Migrate(CSqliteDb& db, int from) const override;

  void ModelChanged(const CModelChange& change) override;
  void Gather() override;
  bool HasWork() const override { return !m_pending.empty(); }
  Work TakeWork() override;
  void WorkDone(bool committed) override;
  size_t PendingCount() const override { return m_pending.size() + m_inFlight.size(); }

  void SourceWritten(CModuleWrite& write, const CLibraryBatch::Source& row) override;
  void HistoryCleared(CModuleWrite& write, ObjectId source) override;
  void SourceRemoved(CModuleWrite& write, ObjectId source) override;

  void ChangedElsewhere(CLibrary& library, const IdList& ids, bool everything) override;

 private:
  IUpdateStateStore* m_store = nullptr;
  // Each source's state as it is to be stored; no value: it goes.
  using States = std::map<ObjectId, std::optional<LibraryUpdateState>>;
  States m_pending, m_inFlight;
};

}  // namespace qb
