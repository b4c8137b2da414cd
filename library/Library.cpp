#include "library/Library.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <random>
#include <set>
#include <unordered_set>

#include "base/Random.h"
#include "base/SearchText.h"
#include "base/Text.h"
#include "base/UserFolders.h"
#include "library/LibraryModule.h"
#include "library/LibraryRows.h"
#include "library/LibrarySalvage.h"
#include "library/LibrarySchema.h"
#include "model/FeedsManager.h"

namespace qb {

using library::ColumnDate;
using library::LowestInAGroupRing;
using library::RowKind;

namespace {

constexpr char kImportingInfix[] = ".importing-";
// Left beside a library that a check in the background found damaged, so
// that the next start saves what it can of it before anything else.
constexpr char kDamagedNote[] = ".damaged";

bool Exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

bool IsRegularFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Renames without replacing: false, with `to` left alone, when it exists.
bool RenameNoReplace(const std::string& from, const std::string& to) {
  return ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0;
}

int64_t NewWriterId() {
  std::random_device device;
  std::mt19937_64 gen((uint64_t{device()} << 32) ^ device() ^ static_cast<uint64_t>(::getpid()));
  int64_t id = 0;
  while (id == 0) id = static_cast<int64_t>(gen() >> 1);
  return id;
}

bool IsOpenFailure(int code) {
  const int primary = code & 0xFF;
  return primary == SQLITE_CANTOPEN || primary == SQLITE_READONLY || primary == SQLITE_PERM ||
         primary == SQLITE_AUTH || primary == SQLITE_IOERR;
}

// The columns of a group, source or article row as this library holds
// them: identifier, list and position, then the record's values in its
// table's order; a column an older library lacks reads as NULL (the
// value's default).
template <class Values, class Table>
std::string RowColumns(CSqliteDb& db, const char* table, const char* list, const Table& fields) {
  std::set<std::string> present;
  CSqliteStatement info = db.Prepare(std::string("SELECT name FROM pragma_table_info('") + table + "')");
  while (info.Step()) present.insert(info.Text(0));
  std::string out = std::string("id, ") + list + ", position";
  ForEachValue<Values>(fields, [&](const auto& field) {
    if (field.column != nullptr) out += std::string(", ") + (present.count(field.column) != 0 ? field.column : "NULL");
  });
  return out;
}

}  // namespace

std::string GetLibraryPath() {
  const std::string dir = ProgramFolderIn(UserDataFolder());
  MakeFolders(dir);
  ::chmod(dir.c_str(), 0700);
  return dir + "/Library.sqlite";
}

std::u16string LibraryDamagedMessage(const std::string& keptAside) {
  return u"The library was damaged and could not be read. It was moved to " + Utf8ToUtf16(keptAside) +
         u", and a new, empty library was started.";
}

std::u16string LibrarySalvagedMessage(const std::string& keptAside, size_t groups, size_t sources, size_t articles) {
  auto count = [](size_t n, const char16_t* one, const char16_t* many) {
    return Utf8ToUtf16(std::to_string(n)) + u" " + (n == 1 ? one : many);
  };
  return u"The library was damaged. What could be read of it was saved into a new library: " +
         count(groups, u"group", u"groups") + u", " + count(sources, u"feed", u"feeds") + u" and " +
         count(articles, u"article", u"articles") + u". The damaged file was moved to " + Utf8ToUtf16(keptAside) +
         u".";
}

std::u16string LibraryForeignLogMessage(const std::string& path, const std::string& logAside) {
  if (logAside.empty()) {
    return u"The write-ahead log beside the library " + Utf8ToUtf16(path) +
           u" was written by another database; the library is left as it is, and changes made now will not be "
           u"saved.";
  }
  return u"The write-ahead log beside the library was written by another database. It was moved to " +
         Utf8ToUtf16(logAside) + u", and the library was opened as it was without it.";
}

std::u16string LibraryReadOnlyMessage(const std::string& folder) {
  return u"The library in " + Utf8ToUtf16(folder) + u" cannot be written, so changes made now will not be saved.";
}

std::u16string LibraryImportNotice(const std::string& dataFile) {
  return u"The data file " + Utf8ToUtf16(dataFile) +
         u" was imported into the library; the file is kept as it was, as a backup.";
}

std::u16string StarsNotExportedNote(size_t starred) {
  return u"The data file format has no place for stars: " + Utf8ToUtf16(std::to_string(starred)) +
         (starred == 1 ? u" starred article was" : u" starred articles were") + u" written without its star.";
}

std::string ImportReport::RepairNote() const {
  if (!repaired()) return {};
  std::string note = "the data file's lists were repaired:";
  if (danglingEntries > 0) note += " " + std::to_string(danglingEntries) + " entries named nothing;";
  if (repeatedEntries > 0) note += " " + std::to_string(repeatedEntries) + " records were listed twice;";
  if (brokenRings > 0) note += " " + std::to_string(brokenRings) + " groups were inside each other;";
  if (renumberedRecords > 0) note += " " + std::to_string(renumberedRecords) + " records had two identifiers;";
  note.back() = '.';
  return note;
}

CLibrary::CLibrary() = default;

CLibrary::~CLibrary() { Close(); }

void CLibrary::Close() {
  if (m_check.joinable()) m_check.join();
  m_checkPending = false;
  m_write.Close();
  m_read.Close();
}

CLibrary::CShortWait::CShortWait(CLibrary& library, int ms) : m_library(library) {
  if (m_library.m_read.IsOpen()) sqlite3_busy_timeout(m_library.m_read.handle(), ms);
}

CLibrary::CShortWait::~CShortWait() {
  if (m_library.m_read.IsOpen()) sqlite3_busy_timeout(m_library.m_read.handle(), m_library.m_busyTimeoutMs);
}

void CLibrary::Configure(CSqliteDb& db, int busyTimeoutMs) {
  sqlite3_busy_timeout(db.handle(), busyTimeoutMs);
  // A commit is on the disk when it returns. Deleted text is not overwritten
  // with zeros (this build of SQLite would), which would double the writes.
  db.Exec("PRAGMA synchronous = FULL; PRAGMA secure_delete = OFF; PRAGMA journal_size_limit = 8388608;");
  // A module's rows go with the article or source they belong to, whoever
  // removes it (library/LibraryModule.h).
  db.Exec("PRAGMA foreign_keys = ON");
}

void CLibrary::OpenConnections(const std::string& path, bool writable, int busyTimeoutMs) {
  const int flags = (writable ? SQLITE_OPEN_READWRITE : SQLITE_OPEN_READONLY) | SQLITE_OPEN_NOMUTEX;
  m_read.Open(path, flags);
  Configure(m_read, busyTimeoutMs);
  if (writable) {
    m_write.Open(path, flags);
    Configure(m_write, busyTimeoutMs);
  }
}

void CLibrary::Initialise(CSqliteDb& db) {
  CSqliteTransaction txn(db, true);
  if (db.QueryInt("PRAGMA user_version") != 0) return;  // another process made it first
  MigrateLibrary(db, 0);
  SetMeta(db, "search_words", kSearchWordsVersion);
  CRandom random(static_cast<uint32_t>(::time(nullptr)) ^ static_cast<uint32_t>(::getpid()));
  ObjectId root = 0;
  while (root == 0) root = random.DrawId();
  CSqliteStatement& s = db.Statement("INSERT INTO groups(id, parent, position, name, expanded) VALUES(?, 0, 1, ?, 1)");
  s.Bind(1, int64_t{root});
  s.Bind(2, std::u16string_view(kAllSourcesName));
  s.Run();
  txn.Commit();
}

LibraryOpenOutcome CLibrary::Open(const std::string& path, const LibraryOpenOptions& options) {
  Close();
  m_commitHook = nullptr;
  m_path = path;
  m_writer = NewWriterId();
  m_dataVersion = -1;
  m_damaged = false;
  m_busyTimeoutMs = options.busyTimeoutMs;
  LibraryOpenOutcome out;
  const std::string folder = FolderOf(path);
  if (!options.readOnly) RemoveStaleTemporaries(path, kImportingInfix);
  if (Exists(path)) return OpenExisting(path, options);
  if (options.readOnly) return out;
  MakeFolders(folder);

  if (!options.importFrom.empty() && IsRegularFile(options.importFrom)) {
    // Imported into a file of its own, which takes the library's name only
    // once it is whole; a start killed part-way leaves a file the next start
    // removes. Never over a library another process made meanwhile.
    std::string temp;
    const int fd = CreateLockedTemporary(path, kImportingInfix, temp);
    if (fd < 0) {
      out.message = LibraryReadOnlyMessage(folder);
      out.detail = "cannot create a file beside " + path + ": " + std::strerror(errno);
      return out;
    }
    ::fchmod(fd, 0600);
    std::string error;
    const bool ok = ImportDataFile(options.importFrom, temp, out.import, &error, nullptr,
                                   options.importUpdateStates ? &options.importUpdateStates : nullptr,
                                   options.importProgress ? &options.importProgress : nullptr) &&
                    ::fsync(fd) == 0;
    if (ok && RenameNoReplace(temp, path)) {
      SyncFolderOf(path);
      out.imported = true;
      out.importNotice = LibraryImportNotice(options.importFrom);
    } else {
      ::unlink(temp.c_str());
      if (!ok) out.detail = "the data file could not be imported: " + error;
    }
    ::close(fd);
    if (Exists(path)) {
      LibraryOpenOutcome opened = OpenExisting(path, options);
      opened.imported = out.imported;
      opened.import = out.import;
      opened.importNotice = out.importNotice;
      if (opened.detail.empty()) opened.detail = out.detail;
      return opened;
    }
  }

  // A new, empty library with its one root group, made whole in a file of
  // its own that then takes the library's name: two processes starting at
  // once never see a library half made, and the one that comes second
  // opens the other's.
  bool created = false;
  {
    std::string temp;
    const int fd = CreateLockedTemporary(path, kImportingInfix, temp);
    if (fd < 0) {
      out.message = LibraryReadOnlyMessage(folder);
      out.detail = "cannot create a file beside " + path + ": " + std::strerror(errno);
      return out;
    }
    ::fchmod(fd, 0600);
    try {
      {
        CSqliteDb db;
        db.Open(temp, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX);
        Configure(db, options.busyTimeoutMs);
        db.Exec("PRAGMA journal_mode = WAL");
        Initialise(db);
      }
      if (::fsync(fd) != 0) throw CSqliteError(SQLITE_IOERR, std::strerror(errno));
      created = RenameNoReplace(temp, path);
      if (created) SyncFolderOf(path);
    } catch (const CSqliteError& e) {
      out.message = LibraryReadOnlyMessage(folder);
      out.detail = e.what();
    }
    if (!created) {
      for (const char* suffix : {"", "-wal", "-shm"}) ::unlink((temp + suffix).c_str());
    }
    ::close(fd);
  }
  if (!Exists(path)) return out;
  LibraryOpenOutcome opened = OpenExisting(path, options);
  opened.created = created;
  return opened;
}

LibraryOpenOutcome CLibrary::OpenExisting(const std::string& path, const LibraryOpenOptions& options) {
  LibraryOpenOutcome out;
  const std::string folder = FolderOf(path);
  // Judged before any connection that could checkpoint a log into it.
  library::FileLook look = library::LookAt(path);
  if (look.LogIsForeign()) {
    if (options.readOnly) {
      out.message = LibraryForeignLogMessage(path, {});
      out.detail = "the write-ahead log beside the library was written by another database";
      return out;
    }
    const std::string aside = PreservedName(path + "-wal", SystemClock(), ".foreign-");
    if (::rename((path + "-wal").c_str(), aside.c_str()) != 0) {
      out.message = LibraryForeignLogMessage(path, {});
      out.detail = std::string("the foreign log could not be moved aside: ") + std::strerror(errno);
      return out;
    }
    ::unlink((path + "-shm").c_str());
    SyncFolderOf(path);
    out.logAside = aside;
    look = library::LookAt(path);
  }
  if (look.NotALibrary()) {
    if (options.readOnly) {
      out.message = u"The file " + Utf8ToUtf16(path) + u" is not a Quillbend library; it is left as it is.";
      return out;
    }
    const std::string aside = PreservedName(path, SystemClock(), ".not-a-library-");
    if (!SetAside(path, aside)) {
      out.message = u"The file " + Utf8ToUtf16(path) +
                    u" is not a Quillbend library and could not be moved aside; it is left as it is, and changes "
                    u"made now will not be saved.";
      return out;
    }
    LibraryOpenOptions fresh = options;
    fresh.importFrom.clear();
    LibraryOpenOutcome replaced = Open(path, fresh);
    replaced.keptAside = aside;
    replaced.logAside = out.logAside;
    replaced.message = u"The file " + Utf8ToUtf16(path) + u" was not a Quillbend library. It was moved to " +
                       Utf8ToUtf16(aside) + u", and a new, empty library was started.";
    return replaced;
  }
  bool writable = !options.readOnly;
  int version = 0;
  auto probe = [&](bool asWritable) {
    m_write.Close();
    m_read.Close();
    OpenConnections(path, asWritable, options.busyTimeoutMs);
    version = static_cast<int>(m_read.QueryInt("PRAGMA user_version"));
    m_read.QueryInt("SELECT count(*) FROM sqlite_master");
  };
  std::string damage;
  try {
    try {
      probe(writable);
    } catch (const CSqliteError& e) {
      if (!IsOpenFailure(e.Code()) || !writable) throw;
      // The folder or the file cannot be written (no room for the WAL
      // beside it): read it as it is, change nothing.
      writable = false;
      out.message = LibraryReadOnlyMessage(folder);
      out.detail = e.what();
      try {
        probe(false);
      } catch (const CSqliteError& again) {
        if (!IsOpenFailure(again.Code())) throw;
        m_read.Close();
        m_read.Open("file:" + path + "?immutable=1", SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX);
        version = static_cast<int>(m_read.QueryInt("PRAGMA user_version"));
        m_read.QueryInt("SELECT count(*) FROM sqlite_master");
      }
    }
    // Before anything is written into it: a file whose pages do not hold
    // together is never written, only read for what can be saved.
    if (writable && Exists(path + kDamagedNote)) {
      // An earlier session's check found it damaged.
      damage = "found damaged by an earlier check";
    } else if (writable && options.checkIntegrity && !options.checkLater && version >= 1 &&
               version <= kLibrarySchemaVersion) {
      CSqliteStatement check = m_read.Prepare("PRAGMA quick_check(1)");
      if (check.Step() && check.Text(0) != "ok") damage = check.Text(0);
    }
  } catch (const CSqliteError& e) {
    m_write.Close();
    m_read.Close();
    out.detail = e.what();
    if (!e.IsDamage()) {
      out.message = u"The library " + Utf8ToUtf16(path) + u" cannot be opened (" + Utf8ToUtf16(e.what()) +
                    u"), so changes made now will not be saved.";
      return out;
    }
    if (options.readOnly) {
      out.message = u"The library " + Utf8ToUtf16(path) + u" is damaged and cannot be read; it is left as it is.";
      return out;
    }
    damage = e.what();
  }
  if (!damage.empty()) {
    m_write.Close();
    m_read.Close();
    LibraryOpenOutcome salvaged = SalvageDamaged(path, options);
    salvaged.logAside = out.logAside;
    if (salvaged.detail.empty()) salvaged.detail = damage;
    return salvaged;
  }
  if (!out.logAside.empty()) {
    out.message = LibraryForeignLogMessage(path, out.logAside);
  }

  if (version > kLibrarySchemaVersion) {
    m_write.Close();
    m_read.Close();
    out.message = kLibraryNewerMessage;
    out.detail = "schema version " + std::to_string(version) + ", this program knows up to " +
                 std::to_string(kLibrarySchemaVersion);
    return out;
  }
  if (writable) {
    try {
      m_write.Exec("PRAGMA journal_mode = WAL");
      if (version < kLibrarySchemaVersion ||
          MetaInt(m_write, "search_words", 0) != kSearchWordsVersion) {
        CSqliteTransaction txn(m_write, true);
        const int now = static_cast<int>(m_write.QueryInt("PRAGMA user_version"));
        if (now < kLibrarySchemaVersion) MigrateLibrary(m_write, now);
        if (MetaInt(m_write, "search_words", 0) != kSearchWordsVersion) RebuildSearchIndex(m_write);
        txn.Commit();
      }
    } catch (const CSqliteError& e) {
      m_write.Close();
      m_read.Close();
      out.detail = e.what();
      out.message = u"The library " + Utf8ToUtf16(path) + u" could not be brought up to date (" +
                    Utf8ToUtf16(e.what()) + u"), so changes made now will not be saved.";
      return out;
    }
  } else if (version == 0) {
    // An empty file: no library yet, and this session may not make one.
    m_read.Close();
    if (out.message.empty()) out.message = LibraryReadOnlyMessage(folder);
    return out;
  }
  m_textChecksums = writable || version >= 5;
  try {
    m_columns.groups = RowColumns<GroupFields>(m_read, "groups", "parent", kGroupFieldTable);
    m_columns.sources = RowColumns<SourceFields>(m_read, "sources", "grp", kSourceFieldTable);
    m_columns.articles = RowColumns<ArticleFields>(m_read, "articles", "source", kArticleFieldTable);
  } catch (const CSqliteError& e) {
    m_write.Close();
    m_read.Close();
    out.detail = e.what();
    out.message = u"The library " + Utf8ToUtf16(path) + u" cannot be read (" + Utf8ToUtf16(e.what()) + u").";
    return out;
  }
  // An older library read as it is: its first version's tables hold the
  // whole model; what later versions added (the search index, the change
  // log) is missing until a writer brings it up to date.
  out.opened = true;
  if (writable && options.checkIntegrity && options.checkLater) CheckInBackground();
  out.writable = writable;
  return out;
}

void CLibrary::CheckInBackground() {
  m_checkPending = true;
  m_check = std::thread([this, path = m_path] {
    bool damaged = false;
    try {
      CSqliteDb db;
      db.Open(path, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX);
      CSqliteStatement check = db.Prepare("PRAGMA quick_check(1)");
      damaged = check.Step() && check.Text(0) != "ok";
    } catch (const CSqliteError& e) {
      damaged = e.IsDamage();
    }
    if (damaged) {
      m_damaged = true;
      const int fd = ::open((path + kDamagedNote).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
      if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
      }
    }
    m_checkPending = false;
  });
}

bool CLibrary::SetAside(const std::string& path, const std::string& aside) {
  if (::rename(path.c_str(), aside.c_str()) != 0) return false;
  for (const char* suffix : {"-wal", "-journal"}) ::rename((path + suffix).c_str(), (aside + suffix).c_str());
  ::unlink((path + "-shm").c_str());
  SyncFolderOf(path);
  return true;
}

LibraryOpenOutcome CLibrary::SalvageDamaged(const std::string& path, const LibraryOpenOptions& options) {
  LibraryOpenOutcome out;
  // Damaged: moved aside with its journal, never written over; what can be
  // read of it goes into a new library that takes its place.
  const std::string aside = PreservedName(path, SystemClock());
  ::unlink((path + kDamagedNote).c_str());
  if (!SetAside(path, aside)) {
    out.message = u"The library " + Utf8ToUtf16(path) +
                  u" is damaged and could not be moved aside; it is left as it is, and changes made now will "
                  u"not be saved.";
    return out;
  }
  library::SalvageCounts counts;
  bool salvaged = false;
  std::string error;
  {
    std::string temp;
    const int fd = CreateLockedTemporary(path, kImportingInfix, temp);
    if (fd >= 0) {
      ::fchmod(fd, 0600);
      salvaged = library::Salvage(aside, temp, counts, &error) && ::fsync(fd) == 0 && RenameNoReplace(temp, path);
      if (salvaged) {
        SyncFolderOf(path);
      } else {
        for (const char* suffix : {"", "-wal", "-shm"}) ::unlink((temp + suffix).c_str());
      }
      ::close(fd);
    }
    ::unlink((aside + "-shm").c_str());
  }
  LibraryOpenOptions fresh = options;
  fresh.importFrom.clear();
  LibraryOpenOutcome replaced = Open(path, fresh);
  replaced.keptAside = aside;
  replaced.created = true;
  replaced.salvaged = salvaged && counts.groups + counts.sources + counts.articles > 0;
  replaced.salvage = {counts.groups, counts.sources, counts.articles};
  replaced.message = replaced.salvaged ? LibrarySalvagedMessage(aside, counts.groups, counts.sources, counts.articles)
                                       : LibraryDamagedMessage(aside);
  if (!error.empty()) replaced.detail = "the damaged library could not be salvaged: " + error;
  return replaced;
}

}  // namespace qb
