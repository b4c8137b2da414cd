// A part of the program that keeps tables of its own in the library (the
// update engine's state of each feed, the reader view's full texts, a sync
// account's items and pending marks) and writes their rows in the same
// transaction as the change of the model they belong to, so that a crash
// leaves both or neither.
//
// The library makes a module's tables when the module is added, from the
// version it last stored for it (meta key "module:NAME") up to Version().
// A module's rows that belong to an article or a source name it with a
// foreign key ON DELETE CASCADE (foreign keys are on in every connection),
// so whoever removes the article, whichever process it is and whether or
// not it knows the module, removes them too. A write into such a table must
// name a row that exists (INSERT ... SELECT ... WHERE EXISTS), or the whole
// batch fails.
//
// Threads: everything is called on the thread that owns the library's sync
// (CLibraryLink), except the Work and the hooks that take a CModuleWrite,
// which run on the writing thread inside the batch's transaction.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "library/LibraryBatch.h"
#include "model/ModelChange.h"
#include "model/RSSObject.h"

namespace qb {

class CLibrary;
class CSqliteDb;

// What a module's work writes with: the batch's connection and its change
// log, in which the identifiers it names tell other processes what to read
// again (the module's ChangedElsewhere there).
class CModuleWrite {
 public:
  CModuleWrite(CSqliteDb& db, std::function<void(int64_t)> logged) : m_db(db), m_logged(std::move(logged)) {}
  CSqliteDb& Db() { return m_db; }
  void Logged(int64_t id) { m_logged(id); }

 private:
  CSqliteDb& m_db;
  std::function<void(int64_t)> m_logged;
};

class ILibraryModule {
 public:
  // Its name in the meta table; letters, digits and '_'.
  virtual std::string_view Name() const = 0;
  virtual int Version() const = 0;
  // Brings the module's tables from version `from` (0: none) to Version(),
  // in an open write transaction. Throws CSqliteError.
  virtual void Migrate(CSqliteDb& db, int from) const = 0;
  // A full-text table of the module's (FTS5, one column of words as
  // IndexText gives them, the rowid an article's identifier) whose words
  // count as the article's in the library's search; null for none.
  virtual const char* SearchTable() const { return nullptr; }

  // The model reported a change (before the turn's batch is made).
  virtual void ModelChanged(const CModelChange& change) { (void)change; }
  // At each flush, before what other processes wrote is read: what this
  // process changed since, which wins over what it reads until written.
  virtual void Gather() {}
  // Whether there is something to write.
  virtual bool HasWork() const = 0;
  // The work of this turn's batch (empty: nothing); once taken, it is the
  // module's in flight until WorkDone.
  using Work = std::function<void(CModuleWrite&)>;
  virtual Work TakeWork() = 0;
  // The batch with the work last taken was committed, or rolled back (the
  // module then hands its changes out again with the next work).
  virtual void WorkDone(bool committed) = 0;
  // How many of its changes wait to be written (for the user's count).
  virtual size_t PendingCount() const { return 0; }

  // Writing thread, inside a batch, after the model's rows: what the batch
  // did to the rows the module's rows depend on.
  virtual void SourceWritten(CModuleWrite& write, const CLibraryBatch::Source& row) { (void)write, (void)row; }
  virtual void HistoryCleared(CModuleWrite& write, ObjectId source) { (void)write, (void)source; }
  virtual void SourceRemoved(CModuleWrite& write, ObjectId source) { (void)write, (void)source; }

  // Another process logged these identifiers for the module; `everything`:
  // the log no longer reaches back, read all of it again.
  virtual void ChangedElsewhere(CLibrary& library, const IdList& ids, bool everything) = 0;

 protected:
  ~ILibraryModule() = default;
};

}  // namespace qb
