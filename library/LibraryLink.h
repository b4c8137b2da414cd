// CLibraryLink: keeps a library in step with a feed model. It observes the
// model's changes and remembers the identifiers they name; Flush (the
// window calls it once per turn of its event loop, quillbend-cli at the end
// of a command) copies the rows they name on the owner's thread and hands
// them, as one batch, to the one worker thread it owns, which writes them
// in one transaction. The owner never waits for the disk, except in
// FlushAndWait (at exit). A change is on the disk once the batch that
// carries it is committed; Flush reports each outcome.
//
// A failed write keeps its batch: its rows are written again, as the model
// then holds them, by the next Flush (at most one attempt a second) and by
// FlushAndWait.
//
// Other processes: Refresh reads what the change log says they committed
// and applies those rows to the model as one change marked external (the
// panes update from it, nothing is written back). What this process has
// changed and not yet written wins over what it reads: the write that
// follows makes the library agree. Flush refreshes first whenever another
// connection has committed.
//
// Threads: everything but the worker is for the owner's thread. The model
// and the library must outlive the link; the destructor waits for a write
// in flight and stops the worker, without writing what is still pending
// (FlushAndWait does that).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "library/Library.h"
#include "library/LibraryIds.h"
#include "library/ReaderModule.h"
#include "library/UpdateStateModule.h"
#include "model/ModelChange.h"

namespace qb {

class CFeedsManager;

struct LibraryFlushReport {
  bool started = false;    // a batch went to the worker
  bool busy = false;       // a write was still running: nothing went
  bool written = false;    // a write finished (since the last report) and was committed
  bool pending = false;    // changes are waiting to be written
  // The latest write failed; its changes wait for the next attempt.
  std::optional<std::string> failure;
  int failureCode = 0;    // its SQLite result code (SQLITE_FULL: the disk is full)
  bool damaged = false;   // the library was found damaged: nothing more is written
  // Rows and history keys not yet on the disk (waiting or being written).
  size_t unsaved = 0;
  // Rows another process had already stored under an identifier this one
  // gave a new record; such records are kept in memory only, and their
  // changes are lost: a failure, not a success.
  size_t collisions = 0;
};

class CLibraryLink final : public IModelObserver {
 public:
  struct Options {
    // Runs on the worker after each write, committed or not (the window
    // posts a Flush to its event loop from here). Must not call the link.
    std::function<void()> written;
  };

  // `load`, when given, is the Load that filled the model: what it repaired
  // is written with the first Flush.
  CLibraryLink(CFeedsManager& model, CLibrary& library, const LibraryLoadResult* load = nullptr);
  CLibraryLink(CFeedsManager& model, CLibrary& library, const LibraryLoadResult* load, Options options);
  ~CLibraryLink();
  CLibraryLink(const CLibraryLink&) = delete;
  CLibraryLink& operator=(const CLibraryLink&) = delete;

  // Collects the outcome of the last write, picks up what other processes
  // committed, and hands what changed since the last batch to the worker.
  // Never waits for the disk.
  LibraryFlushReport Flush();
  // Writes everything now and waits, trying again while another process
  // holds the library for up to `patience`.
  LibraryFlushReport FlushAndWait(std::chrono::milliseconds patience = std::chrono::seconds(30));

  // Applies what other processes committed since the last look. False when
  // the library could not be read (nothing was applied).
  bool Refresh();

  // The update states written with the model's rows and kept up to date
  // with what other processes store; null for none. The store must outlive
  // the link or be replaced first.
  void SetUpdateStates(IUpdateStateStore* store) { m_updateStateModule.SetStore(store); }

  // The reader view's results, written with the model's rows and read
  // from the library when shown.
  void KeepReaderText(ReaderText text, std::u16string articleTitle, std::u16string channel) {
    m_readerModule.Keep(std::move(text), std::move(articleTitle), std::move(channel));
  }
  bool FindReaderText(ObjectId article, ReaderText& out) const { return m_readerModule.Find(m_library, article, out); }

  // Changes that are not yet on the disk (waiting or being written).
  bool HasPending() const;
  // How many: rows, history keys, update states and settings.
  size_t PendingCount() const;

  void OnModelChanged(const CFeedsManager& model, const CModelChange& change) override;
  // The model went first: what is pending is dropped, and Flush does nothing.
  void OnModelGone(const CFeedsManager& model) override;

 private:
  // What a row needs written.
  struct RowState {
    uint64_t order = 0;      // first seen: parents are written before children
    bool created = false;    // the record with this identifier is new
    bool removed = false;    // a stored row with this identifier goes
    bool placed = false;     // its list or place changed
    uint32_t fields = 0;     // fields changed (kGroup*, kSource*, kArticle*)
    CLibraryBatch::Place place;
  };
  // Keys in the order they were last added; adding one again moves it to
  // the end and removing it leaves a hole, each in constant time (an update
  // adds tens of thousands at once).
  class OrderedKeys {
   public:
    void Add(const std::u16string& key);
    void Remove(const std::u16string& key);
    void Clear();
    size_t size() const { return m_index.size(); }
    // Each key present, in order.
    template <typename Visit>
    void ForEach(Visit visit) const {
      for (const auto& slot : m_slots) {
        if (slot) visit(*slot);
      }
    }

   private:
    std::vector<std::optional<std::u16string>> m_slots;
    std::unordered_map<std::u16string, size_t> m_index;
  };
  struct HistoryState {
    uint64_t order = 0;
    bool cleared = false;
    OrderedKeys added;
    std::unordered_set<std::u16string> dropped;
  };
  struct Pending {
    std::unordered_map<ObjectId, RowState> groups, sources, articles;
    std::unordered_map<ObjectId, HistoryState> histories;
    std::unordered_set<ObjectId> reordered;  // lists to number again
    bool rootReordered = false;
    bool settings = false;
    bool empty() const {
      return groups.empty() && sources.empty() && articles.empty() && histories.empty() && reordered.empty() &&
             !rootReordered && !settings;
    }
  };

  RowState& Row(std::unordered_map<ObjectId, RowState>& rows, ObjectId id);
  void Created(std::unordered_map<ObjectId, RowState>& rows, ObjectId id, ObjectId parent, bool listed);
  void Removed(std::unordered_map<ObjectId, RowState>& rows, ObjectId id);
  void Placed(std::unordered_map<ObjectId, RowState>& rows, ObjectId id, ObjectId parent, bool listed);
  static void Merge(Pending& older, Pending&& newer);
  // What the modules changed since (library/LibraryModule.h).
  void GatherModules();
  bool ModulesHaveWork() const;
  CLibraryBatch Build(Pending& pending, IdList& createdArticles);
  void Collect(LibraryFlushReport& report);
  void FillState(LibraryFlushReport& report) const;
  bool Submit();
  void Run();
  // The rows of another process, applied.
  void ApplyExternal(const CLibraryBatch& rows);
  // What this process has changed of the row and not yet written (waiting
  // or being written); null for nothing.
  RowState LocalRow(std::unordered_map<ObjectId, RowState> Pending::*rows, ObjectId id) const;

  CFeedsManager& m_model;
  bool m_modelGone = false;
  CLibrary& m_library;
  // Where the model's new records take their identifiers from while this
  // process writes to the library.
  CLibraryIds m_ids;
  const Options m_options;
  // The update engine's state of each source, the first module.
  CUpdateStateModule m_updateStateModule;
  CReaderModule m_readerModule;
  // The modules whose work the batch in flight carries.
  std::vector<ILibraryModule*> m_modulesInFlight;

  Pending m_pending;
  // The batch being written: what it came from (put back when the write
  // fails) and the new articles whose texts may go once it is committed.
  std::optional<Pending> m_inFlight;
  IdList m_inFlightArticles;
  uint64_t m_order = 0;
  int64_t m_nextPosition = 1;
  int64_t m_nextHistorySeq = 1;
  int64_t m_lastSeen = 0;
  // Identifiers another process had stored first (collisions): this
  // process's records under them are kept in memory only, never written.
  std::unordered_set<ObjectId> m_foreign;
  std::optional<std::string> m_failure;
  int m_failureCode = 0;
  std::chrono::steady_clock::time_point m_retryAt{};
  size_t m_collisions = 0;

  // Shared with the worker.
  mutable std::mutex m_mutex;
  std::condition_variable m_wake;
  std::optional<CLibraryBatch> m_job;          // handed over, not yet written
  std::optional<LibraryWriteResult> m_result;  // written (or failed), not collected
  bool m_writing = false;
  bool m_stopping = false;
  std::thread m_worker;  // last: it starts once everything above exists
};

}  // namespace qb
