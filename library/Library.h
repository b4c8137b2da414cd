// CLibrary: the feed model's store, a SQLite database in WAL mode beside
// the classic data file ($XDG_DATA_HOME/Velmorant/Quillbend/Library.sqlite).
// The tables are described in library/LibrarySchema.h.
//
// Several processes may use one library at once (the window and
// quillbend-cli): writes are row by row, each batch one transaction taken
// with the write lock at once and a busy timeout, so no process overwrites
// another's rows, and a commit with synchronous=FULL is on the disk when it
// returns. Every transaction also names what it wrote in a change log, from
// which the other processes read what they must load again (ChangesSince).
//
// Threads: a library has two connections. The reading one (Load, the
// texts, search, the change log, export) belongs to the owner's thread;
// the writing one (Write) to whichever single thread writes, the owner's
// or a worker's. Never two writers on one library object.
//
// Bad input: a file that is no database or is damaged, a library written by
// a newer version, a database that is not a library, a write-ahead log that
// another database left beside it, a folder that cannot be written: Open
// says so in a short message, and never writes into such a file. A library
// opened for writing is checked first (PRAGMA quick_check); a damaged one is
// moved aside (Library.sqlite.unreadable-YYYYMMDD-HHMMSS, its -wal with it)
// and what can be read of it saved into a new library in its place
// (library/LibrarySalvage.h). A database that is not a library is moved aside
// (.not-a-library-...) and a new library started; a foreign log is moved
// aside (-wal.foreign-...) before any connection can checkpoint it into
// the library; a newer library is left as it is and the session runs
// without saving; in a read-only folder the library is read and nothing is
// saved. Every other failure of a call is reported as a value.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

#include "classic/DataFile.h"
#include "library/LibraryBatch.h"
#include "library/Sqlite.h"
#include "model/ArticleStore.h"

namespace qb {

class CFeedsManager;
class ILibraryModule;

// $XDG_DATA_HOME/Velmorant/Quillbend/Library.sqlite; creates the folder,
// readable by the user only.
std::string GetLibraryPath();

// What an import of a classic data file found and repaired.
struct ImportReport {
  LoadOutcome load;      // how the data file loaded
  size_t groups = 0, sources = 0, articles = 0;
  size_t sharedTexts = 0;  // source texts stored once for several articles
  // Lists of a damaged file: entries that named nothing (or a record of
  // another kind), and records named by a second list or twice in one; the
  // library keeps each record in the first list that names it.
  size_t danglingEntries = 0;
  size_t repeatedEntries = 0;
  // Groups that were inside each other with none reaching the root level:
  // one list entry of each such ring was dropped.
  size_t brokenRings = 0;
  // Records whose own identifier differed from the one the store gave them.
  size_t renumberedRecords = 0;
  bool repaired() const { return danglingEntries + repeatedEntries + brokenRings + renumberedRecords > 0; }
  // The update states stored with the import (taken over from the data
  // file's cache), and why their validators were left out, empty when they
  // were not.
  size_t updateStates = 0;
  std::string validatorsDropped;
  // One sentence for the user when something was repaired, else empty.
  std::string RepairNote() const;
};

// The update state an import stores with the model, chosen once the data
// file has been read (the report says how): the rows, and why validators
// were left out of them (empty when they were not). Rows for a source the
// import did not store under the row's address are left out.
struct ImportedUpdateStates {
  std::vector<LibraryUpdateState> states;
  std::string validatorsDropped;
};
// How far a long piece of work has come: `done` of `total` (records of a
// data file read, articles written); called on the thread that does it.
using ImportProgress = std::function<void(uint64_t done, uint64_t total)>;

using ImportUpdateStateHook = std::function<ImportedUpdateStates(const ImportReport&)>;

struct LibraryOpenOutcome {
  bool opened = false;    // a library is open (perhaps read-only)
  bool created = false;   // it was made now
  bool writable = false;  // changes can be saved
  // The classic data file was imported now (first start); it is left as it
  // was, as a backup.
  bool imported = false;
  ImportReport import;
  // Where a damaged library (or a file that was no library) was moved to,
  // else empty; whether what could be read of it was saved into the new
  // one, and how much.
  std::string keptAside;
  bool salvaged = false;
  struct Salvage {
    size_t groups = 0, sources = 0, articles = 0;
  } salvage;
  // Where a write-ahead log that another database wrote was moved to.
  std::string logAside;
  // What to tell the user, empty for nothing: why the library cannot be
  // used or saved (a message box), or that the data file was imported
  // (ImportNotice, for the status line, once).
  std::u16string message;
  std::u16string importNotice;
  std::string detail;  // the database's own words, for diagnostics
};

// Texts of the outcomes.
std::u16string LibraryDamagedMessage(const std::string& keptAside);
std::u16string LibrarySalvagedMessage(const std::string& keptAside, size_t groups, size_t sources, size_t articles);
// `logAside` empty: the log is still there and the library is left alone.
std::u16string LibraryForeignLogMessage(const std::string& path, const std::string& logAside);
inline constexpr char16_t kLibraryNewerMessage[] =
    u"The library was written by a newer version of Quillbend. Please use the latest version; "
    u"changes made now will not be saved.";
std::u16string LibraryReadOnlyMessage(const std::string& folder);
std::u16string LibraryImportNotice(const std::string& dataFile);
// An export to the classic format keeps no stars: said once with the export.
std::u16string StarsNotExportedNote(size_t starred);

struct LibraryOpenOptions {
  // Read only, and never create or import (the library may be absent).
  bool readOnly = false;
  // The classic data file to import when no library exists yet; empty for
  // none. The file is only read.
  std::string importFrom;
  // With the import: the update state kept beside the data file, to be
  // stored in the same transaction as the model it describes.
  ImportUpdateStateHook importUpdateStates;
  // With the import: how far it has come (see ImportDataFile).
  ImportProgress importProgress;
  // How long a statement waits for another process's write lock.
  int busyTimeoutMs = 10000;
  // A library opened for writing is checked first (PRAGMA quick_check);
  // a damaged one is salvaged. With `checkLater` the check runs on a thread
  // of its own once Open has returned (CheckInBackground), so that a large
  // library does not delay the window; nothing is written until it has
  // answered, and a library it finds damaged is salvaged at the next start.
  bool checkIntegrity = true;
  bool checkLater = false;
};

struct LibraryLoadResult {
  bool ok = false;
  std::string error;
  // The root group the load had to make because the library held none; a
  // writer stores it.
  ObjectId createdRoot = 0;
  // Records the library holds under a list that does not exist (another
  // process deleted it while this one added to it); the load put them at
  // the root level or into the first root group. Writers store that.
  IdList rehomedGroups, rehomedSources;
};

// Why a write failed on a library found damaged.
inline constexpr char kLibraryDamagedError[] =
    "the library is damaged; what can be read of it is saved into a new library at the next start";

struct LibraryWriteResult {
  bool ok = false;
  std::string error;
  int code = 0;  // the SQLite result code of a failure
  // Rows this batch meant to insert that another process had already
  // stored under the same identifier: they were left alone.
  IdList collisions;
  int64_t lastChange = 0;  // the change log's sequence after the commit
};

// What the change log says other processes changed since `since`.
struct LibraryChanges {
  bool ok = false;
  bool resync = false;  // the log no longer reaches back: load everything again
  int64_t last = 0;     // the sequence read up to
  IdList groups, sources, articles, histories;
  bool settings = false;
  // What the modules logged, by module kind.
  std::map<int64_t, IdList> modules;
  bool empty() const {
    return groups.empty() && sources.empty() && articles.empty() && histories.empty() && modules.empty() &&
           !settings && !resync;
  }
};

// Imports the classic data file into a new library at `libraryPath` (an
// empty or absent file), reading it one record at a time: the texts go to
// the library as they are read, so memory holds the model without them.
// The model is the one LoadDataFile would give (a damaged file: what could
// be read), repaired for the library (CLibrary::RepairForLibrary). The data
// file is only read. False, with `error` set, when the library could not be
// written. `seed`, when given, seeds the identifiers the repair after the
// load may need (a root group), as the program's start seeds them.
// `updateStates`, when given, is asked for the update state to store with
// the model, in the same transaction.
// `progress`, when given, hears now and then how many of the file's records
// were read, of how many it says it holds (any thread: the importing one).
bool ImportDataFile(const std::string& dataFile, const std::string& libraryPath, ImportReport& report,
                    std::string* error = nullptr, const uint32_t* seed = nullptr,
                    const ImportUpdateStateHook* updateStates = nullptr, const ImportProgress* progress = nullptr);

class CLibrary final : public IArticleStore {
 public:
  CLibrary();
  ~CLibrary();
  CLibrary(const CLibrary&) = delete;
  CLibrary& operator=(const CLibrary&) = delete;

  LibraryOpenOutcome Open(const std::string& path, const LibraryOpenOptions& options = {});
  // Closes both connections (a model reading texts from it must be given
  // another store first).
  void Close();
  bool IsOpen() const { return m_read.IsOpen(); }
  bool Writable() const { return m_write.IsOpen(); }
  const std::string& Path() const { return m_path; }

  // --- loading (owner's thread).

  enum class LoadScope {
    Everything,  // groups, sources, histories and article rows (no texts)
    Tree,        // groups and sources with their counts (the model holds no
                 // articles nor histories; for reading commands)
  };
  // Replaces what the model holds with the library's contents, then runs
  // FixUpAfterLoad. The model's article store becomes this library.
  LibraryLoadResult Load(CFeedsManager& manager, LoadScope scope = LoadScope::Everything);
  // The next free list position (one more than the greatest stored), and
  // the next sequence number of a history key; 1 when they cannot be read.
  int64_t NextPosition();
  int64_t NextHistorySeq();

  // --- IArticleStore (owner's thread).
  bool ReadArticleTexts(ObjectId article, CArticleTexts& out) override;
  bool MatchArticles(const std::vector<std::u16string>& words, IdList& out) override;

  // Stored articles matching the query (base/SearchText.h), newest first
  // (by publication date, those without a valid date last, ties by
  // identifier, higher first): in the whole library, or in the sources named.
  IdList Search(std::u16string_view query, const IdList* sources = nullptr);

  // --- writing (the writing thread).

  // Writes the batch in one transaction. A failure rolls everything back.
  LibraryWriteResult Write(const CLibraryBatch& batch);

  // --- other processes (owner's thread).

  // Whether another connection committed since the last call (cheap: no
  // read of the file).
  bool OthersCommitted();
  // What the change log names since `since`, written by other processes.
  LibraryChanges ChangesSince(int64_t since);
  // The newest sequence of the change log.
  int64_t LastChange();
  // The rows the library holds now for these identifiers, as a batch of
  // inserts; identifiers it no longer holds are in the removed lists. Each
  // history named comes whole (cleared, then every key).
  bool ReadRows(const LibraryChanges& which, CLibraryBatch& out, std::string* error = nullptr);
  // The update state stored for every source (the engine's validators,
  // failures and Retry-After). False when it could not be read; a library
  // older than the table (read only) holds none.
  bool ReadUpdateStates(std::vector<LibraryUpdateState>& out);
  // Starred articles stored (0 when none or it cannot be read).
  size_t StarredCount();
  // The one source's; false when none is stored or it cannot be read.
  bool ReadUpdateState(ObjectId source, LibraryUpdateState& out);

  // --- modules (library/LibraryModule.h; owner's thread, while nothing is
  // being written). Adding one makes or brings up to date its tables (when
  // the library can be written) and gives it its kind in the change log.
  // Not owned; a module must be removed before it goes.
  void AddModule(ILibraryModule& module);
  void RemoveModule(ILibraryModule& module);
  struct ModuleSlot {
    ILibraryModule* module;
    int64_t kind;
  };
  const std::vector<ModuleSlot>& Modules() const { return m_modules; }
  // The reading connection, for a module's reads (owner's thread).
  CSqliteDb& Reader() { return m_read; }
  // While one lives, the reading connection waits at most `ms` for a lock
  // another connection holds, not the library's busy timeout: for a small
  // write of the owner's thread (a sync's lease), which must not freeze the
  // window while the writer thread or another process writes.
  class CShortWait {
   public:
    CShortWait(CLibrary& library, int ms);
    ~CShortWait();
    CShortWait(const CShortWait&) = delete;
    CShortWait& operator=(const CShortWait&) = delete;

   private:
    CLibrary& m_library;
  };

  // Every group, source and article identifier stored (for a resync).
  bool StoredIds(IdList& groups, IdList& sources, IdList& articles);

  // --- the classic data file.

  // Writes the library in the classic format to `path` the safe way (a new
  // file, flushed, renamed over the old one): the model as Load gives it,
  // with the texts read one article at a time, all from one moment of the
  // library. Byte for byte what SaveDataFile writes for that model. Uses
  // the reading connection (owner's thread); a worker that exports opens a
  // CLibrary of its own.
  // `progress`, when given, hears how many articles' texts were written.
  SaveResult ExportDataFile(const std::string& path, const ImportProgress* progress = nullptr);

  // Makes a model from a classic file storable: drops list entries that
  // name nothing or another kind, keeps each record in the first list that
  // names it, gives records their store identifier. Says what it did.
  static void RepairForLibrary(CFeedsManager& manager, ImportReport& report);

  // A statement found the file damaged: nothing is written into it any
  // more (Write fails with kLibraryDamagedError). Any thread.
  bool Damaged() const { return m_damaged; }
  // The check Open left for later (checkLater) has not answered yet:
  // nothing is written meanwhile. Any thread.
  bool CheckPending() const { return m_checkPending; }

  // The session's identity in the change log.
  int64_t Writer() const { return m_writer; }

  // --- identifiers of new records (library/LibraryIds.h; owner's thread).

  // Reserves a block of `count` consecutive identifiers for this session
  // and appends those of them that name no stored record to `out`: no other
  // session is given any of them while the block is reserved. False, with
  // nothing appended, when the library cannot be written or no free block
  // was found.
  bool ReserveIds(size_t count, std::vector<ObjectId>& out, std::string* error = nullptr);
  // The session's blocks go (once its records are written or gone).
  void ReleaseIds();
  // Whether a group, source or article is stored under the identifier.
  bool IsStoredId(ObjectId id);

  // Runs on the writing thread at each commit of the writing connection
  // (tests count transactions with it); empty for none. Set while nothing
  // is being written; an Open removes it.
  void SetCommitHook(std::function<void()> hook);

 private:
  // " UNION SELECT rowid FROM T WHERE T MATCH ?1" for each module's search
  // table; empty for none.
  std::string ModuleMatches() const;
  void Configure(CSqliteDb& db, int busyTimeoutMs);
  void OpenConnections(const std::string& path, bool writable, int busyTimeoutMs);
  // Creates the schema and the one root group in a new database.
  void Initialise(CSqliteDb& db);
  LibraryOpenOutcome OpenExisting(const std::string& path, const LibraryOpenOptions& options);
  // Runs quick_check on a connection of its own on m_check; damage found
  // leaves a note beside the file (PATH.damaged) for the next start.
  void CheckInBackground();
  // Moves the file with its journals to `aside`; false when it cannot.
  static bool SetAside(const std::string& path, const std::string& aside);
  // Moves the damaged library aside and saves what can be read of it into
  // a new one in its place.
  LibraryOpenOutcome SalvageDamaged(const std::string& path, const LibraryOpenOptions& options);

  std::string m_path;
  CSqliteDb m_read;
  CSqliteDb m_write;
  int64_t m_writer = 0;
  int64_t m_dataVersion = -1;
  int m_busyTimeoutMs = 10000;
  std::vector<ModuleSlot> m_modules;
  std::atomic<bool> m_damaged{false};
  std::atomic<bool> m_checkPending{false};
  std::thread m_check;
  bool m_textChecksums = false;  // article_texts has its checksum column
  // The columns a row is read with (what this library's version holds).
  struct {
    std::string groups, sources, articles;
  } m_columns;
  std::function<void()> m_commitHook;
};

}  // namespace qb
