#include "model/Library.h"

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

#include "model/FeedsManager.h"
#include "model/LibraryRows.h"
#include "model/LibraryModule.h"
#include "model/LibrarySalvage.h"
#include "model/LibrarySchema.h"
#include "model/Random.h"
#include "model/SearchText.h"
#include "model/Text.h"
#include "model/UserFolders.h"

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

// A group, source or article row as the batch (and the read-back of another
// process's rows) carries it.
CLibraryBatch::Place ColumnPlace(const CSqliteStatement& s, int parent, int position) {
  CLibraryBatch::Place p;
  p.listed = !s.IsNull(parent);
  p.parent = p.listed ? static_cast<ObjectId>(s.Int(parent)) : 0;
  p.position = s.Int(position);
  return p;
}

// The columns of a group, source or article row: identifier, list and
// position, then the record's values in its table's order.
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

template <class Row, class Table>
Row RowOf(const CSqliteStatement& s, const Table& table) {
  Row r;
  r.id = static_cast<ObjectId>(s.Int(0));
  r.write = kRowInsert;
  r.place = ColumnPlace(s, 1, 2);
  library::ReadValues(s, 3, r.values, table);
  return r;
}

CLibraryBatch::Group GroupRow(const CSqliteStatement& s) { return RowOf<CLibraryBatch::Group>(s, kGroupFieldTable); }
CLibraryBatch::Source SourceRow(const CSqliteStatement& s) { return RowOf<CLibraryBatch::Source>(s, kSourceFieldTable); }
CLibraryBatch::Article ArticleRow(const CSqliteStatement& s) {
  return RowOf<CLibraryBatch::Article>(s, kArticleFieldTable);
}

// Members of a list, to be put in (position, id) order.
struct Member {
  int64_t position;
  ObjectId id;
  bool operator<(const Member& o) const { return position != o.position ? position < o.position : id < o.id; }
};

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

void CLibrary::Configure(CSqliteDb& db, int busyTimeoutMs) {
  sqlite3_busy_timeout(db.handle(), busyTimeoutMs);
  // A commit is on the disk when it returns. Deleted text is not overwritten
  // with zeros (this build of SQLite would), which would double the writes.
  db.Exec("PRAGMA synchronous = FULL; PRAGMA secure_delete = OFF; PRAGMA journal_size_limit = 8388608;");
  // A module's rows go with the article or source they belong to, whoever
  // removes it (model/LibraryModule.h).
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

// --- loading

int64_t CLibrary::NextPosition() {
  if (!m_read.IsOpen()) return 1;
  try {
    return m_read.QueryInt(
               "SELECT max(coalesce((SELECT max(position) FROM groups), 0), "
               "coalesce((SELECT max(position) FROM sources), 0), "
               "coalesce((SELECT max(position) FROM articles), 0))") +
           1;
  } catch (const CSqliteError&) {
    return 1;
  }
}

int64_t CLibrary::NextHistorySeq() {
  if (!m_read.IsOpen()) return 1;
  try {
    return m_read.QueryInt("SELECT coalesce(max(seq), 0) FROM history") + 1;
  } catch (const CSqliteError&) {
    return 1;
  }
}

LibraryLoadResult CLibrary::Load(CFeedsManager& manager, LoadScope scope) {
  LibraryLoadResult result;
  manager.m_storage.Clear();
  manager.m_rootGroups.clear();
  manager.m_unreplaceableFile.clear();
  manager.SetArticleStore(this);
  try {
    // One read transaction: the rows of one moment, whatever others commit.
    CSqliteTransaction txn(m_read, false);
    std::vector<Member> roots;
    std::unordered_map<ObjectId, std::vector<Member>> childGroups, groupSources, sourceArticles;
    std::unordered_map<ObjectId, ObjectId> parentOf;  // listed groups

    CSqliteStatement groups = m_read.Prepare("SELECT " + m_columns.groups + " FROM groups");
    // An identifier stored twice (only a damaged file holds one) keeps the
    // first row read.
    while (groups.Step()) {
      const CLibraryBatch::Group row = GroupRow(groups);
      if (row.id == 0 || manager.m_storage.Lookup(row.id) != nullptr) continue;
      auto record = std::make_unique<CGroup>();
      record->m_id = row.id;
      static_cast<GroupFields&>(*record) = row.values;
      manager.m_storage.Register(std::move(record), row.id);
      if (!row.place.listed) continue;
      parentOf[row.id] = row.place.parent;
      (row.place.parent == 0 ? roots : childGroups[row.place.parent]).push_back({row.place.position, row.id});
    }
    // A group under a group the library does not hold (deleted by another
    // process meanwhile) goes to the root level.
    for (auto it = childGroups.begin(); it != childGroups.end();) {
      if (manager.GetGroup(it->first) != nullptr) {
        ++it;
        continue;
      }
      for (const Member& m : it->second) {
        roots.push_back(m);
        result.rehomedGroups.push_back(m.id);
        parentOf[m.id] = 0;
      }
      it = childGroups.erase(it);
    }
    CSqliteStatement sources = m_read.Prepare("SELECT " + m_columns.sources + " FROM sources");
    std::vector<Member> homeless;
    while (sources.Step()) {
      const CLibraryBatch::Source row = SourceRow(sources);
      if (row.id == 0 || manager.m_storage.Lookup(row.id) != nullptr) continue;
      auto record = std::make_unique<CFeedSource>();
      record->m_id = row.id;
      static_cast<SourceFields&>(*record) = row.values;
      manager.m_storage.Register(std::move(record), row.id);
      if (!row.place.listed) continue;
      if (manager.GetGroup(row.place.parent) == nullptr) {
        homeless.push_back({row.place.position, row.id});
      } else {
        groupSources[row.place.parent].push_back({row.place.position, row.id});
      }
    }
    if (scope == LoadScope::Everything) {
      CSqliteStatement articles = m_read.Prepare("SELECT " + m_columns.articles + " FROM articles");
      while (articles.Step()) {
        const CLibraryBatch::Article row = ArticleRow(articles);
        if (row.id == 0 || manager.m_storage.Lookup(row.id) != nullptr) continue;
        auto record = std::make_unique<CFeed>();
        record->m_id = row.id;
        static_cast<ArticleFields&>(*record) = row.values;
        record->m_textsStored = true;
        manager.m_storage.Register(std::move(record), row.id);
        if (row.place.listed && manager.GetFeedSource(row.place.parent) != nullptr) {
          sourceArticles[row.place.parent].push_back({row.place.position, row.id});
        }
      }
      // Keys in key order into the map; the time index in the order of
      // addition (seq).
      std::unordered_map<ObjectId, std::vector<std::pair<int64_t, std::u16string>>> additions;
      CSqliteStatement history = m_read.Prepare("SELECT source, key, article, first_seen, seq FROM history");
      while (history.Step()) {
        CFeedSource* s = manager.GetFeedSource(static_cast<ObjectId>(history.Int(0)));
        if (s == nullptr) continue;
        std::u16string key = history.Text16(1);
        HistoryEntry entry{static_cast<ObjectId>(history.Int(2)), ColumnDate(history, 3)};
        additions[s->m_id].emplace_back(history.Int(4), key);
        s->m_history.emplace(std::move(key), entry);
      }
      for (auto& [sid, keys] : additions) {
        std::sort(keys.begin(), keys.end());
        std::vector<std::u16string> order;
        order.reserve(keys.size());
        for (auto& k : keys) order.push_back(std::move(k.second));
        manager.GetFeedSource(sid)->RebuildHistoryIndex(order);
      }
    }
    manager.RestoreRetentionDays(static_cast<int32_t>(MetaInt(m_read, "retention_days", 0)));

    auto fill = [](IdList& list, std::vector<Member>& members) {
      std::sort(members.begin(), members.end());
      list.reserve(members.size());
      for (const Member& m : members) list.push_back(m.id);
    };
    fill(manager.m_rootGroups, roots);
    for (auto& [gid, members] : childGroups) fill(manager.GetGroup(gid)->m_childGroups, members);
    for (auto& [gid, members] : groupSources) fill(manager.GetGroup(gid)->m_sources, members);
    for (auto& [sid, members] : sourceArticles) fill(manager.GetFeedSource(sid)->m_articles, members);

    // Groups whose parents form a ring that never reaches the root level
    // (two processes moved them into each other): the lowest identifier of
    // each ring goes to the root level. A chain that ends at a group no
    // list names is a subtree listed nowhere, kept as it is.
    while (const ObjectId lowest = LowestInAGroupRing(parentOf)) {
      if (CGroup* p = manager.GetGroup(parentOf[lowest])) p->RemoveSubgroup(lowest);
      manager.m_rootGroups.push_back(lowest);
      parentOf[lowest] = 0;
      result.rehomedGroups.push_back(lowest);
    }
    // A source whose group is gone goes to the first root group.
    std::sort(homeless.begin(), homeless.end());
    if (!homeless.empty() && !manager.m_rootGroups.empty()) {
      CGroup* first = manager.GetGroup(manager.m_rootGroups.front());
      for (const Member& m : homeless) {
        first->m_sources.push_back(m.id);
        result.rehomedSources.push_back(m.id);
      }
    }

    std::unordered_map<ObjectId, FeedCounts> counts;
    if (scope == LoadScope::Tree) {
      CSqliteStatement c = m_read.Prepare("SELECT source, read, count(*) FROM articles GROUP BY source, read");
      while (c.Step()) {
        FeedCounts& n = counts[static_cast<ObjectId>(c.Int(0))];
        (c.Int(1) != 0 ? n.read : n.unread) += static_cast<int>(c.Int(2));
      }
    }
    txn.Commit();
    const bool noRoot = manager.m_rootGroups.empty();
    manager.FixUpAfterLoad();
    if (noRoot && !manager.m_rootGroups.empty()) result.createdRoot = manager.m_rootGroups.front();
    if (scope == LoadScope::Tree) manager.SetStoredCounts(counts);
    result.ok = true;
  } catch (const CSqliteError& e) {
    result.error = e.what();
    manager.m_storage.Clear();
    manager.m_rootGroups.clear();
    manager.FixUpAfterLoad();
  } catch (const std::bad_alloc&) {
    result.error = "out of memory";
    manager.m_storage.Clear();
    manager.m_rootGroups.clear();
    manager.FixUpAfterLoad();
  }
  return result;
}

// --- texts and search

bool CLibrary::ReadArticleTexts(ObjectId article, CArticleTexts& out) {
  out = CArticleTexts{};
  if (!m_read.IsOpen()) return false;
  try {
    CSqliteStatement& s = m_read.Statement(
        m_textChecksums ? "SELECT t.description, x.body, t.checksum FROM article_texts t "
                          "LEFT JOIN texts x ON x.id = t.source_text WHERE t.article = ?"
                        : "SELECT t.description, x.body, NULL FROM article_texts t "
                          "LEFT JOIN texts x ON x.id = t.source_text WHERE t.article = ?");
    s.Bind(1, int64_t{article});
    const bool found = s.Step();
    if (found) {
      std::u16string description = s.Text16(0);
      // A text whose pages were overwritten is never shown as the article's.
      if (!s.IsNull(2) && library::TextHash(description) != s.Int(2)) {
        m_damaged = true;
        s.Reset();
        return false;
      }
      out.description = SharedText(std::move(description));
      out.sourceText = SharedText(s.Text16(1));
    }
    s.Reset();
    return found;
  } catch (const CSqliteError& e) {
    if (e.IsDamage()) m_damaged = true;
    out = CArticleTexts{};
    return false;
  }
}

bool CLibrary::MatchArticles(const std::vector<std::u16string>& words, IdList& out) {
  if (!m_read.IsOpen() || words.empty()) return false;
  try {
    CSqliteStatement& s = m_read.Statement("SELECT rowid FROM search WHERE search MATCH ?");
    s.BindText(1, FullTextQuery(words));
    while (s.Step()) out.push_back(static_cast<ObjectId>(s.Int(0)));
    s.Reset();
    return true;
  } catch (const CSqliteError&) {
    return false;
  }
}

IdList CLibrary::Search(std::u16string_view query, const IdList* sources) {
  IdList result;
  if (!m_read.IsOpen()) return result;
  const std::vector<std::u16string> words = SearchWords(query);
  std::unordered_set<ObjectId> wanted;
  if (sources != nullptr) wanted.insert(sources->begin(), sources->end());
  struct Found {
    double key;  // the date on a continuous scale; undated last
    ObjectId id;
  };
  std::vector<Found> found;
  try {
    CSqliteStatement& s =
        words.empty() ? m_read.Statement("SELECT id, date, source FROM articles")
                      : m_read.Statement(
                            "SELECT a.id, a.date, a.source FROM search JOIN articles a ON a.id = search.rowid "
                            "WHERE search MATCH ?");
    if (!words.empty()) s.BindText(1, FullTextQuery(words));
    while (s.Step()) {
      if (sources != nullptr && (s.IsNull(2) || wanted.count(static_cast<ObjectId>(s.Int(2))) == 0)) continue;
      const CDateTime date = ColumnDate(s, 1);
      found.push_back({date.IsValid() ? date.LinearDays() : -std::numeric_limits<double>::infinity(),
                       static_cast<ObjectId>(s.Int(0))});
    }
    s.Reset();
  } catch (const CSqliteError&) {
    return result;
  }
  std::sort(found.begin(), found.end(), [](const Found& x, const Found& y) {
    return x.key != y.key ? x.key > y.key : x.id > y.id;
  });
  result.reserve(found.size());
  for (const Found& f : found) result.push_back(f.id);
  return result;
}

// --- other processes

bool CLibrary::OthersCommitted() {
  if (!m_read.IsOpen()) return false;
  try {
    const int64_t version = m_read.QueryInt("PRAGMA data_version");
    const bool changed = m_dataVersion >= 0 && version != m_dataVersion;
    m_dataVersion = version;
    return changed;
  } catch (const CSqliteError&) {
    return false;
  }
}

int64_t CLibrary::LastChange() {
  if (!m_read.IsOpen()) return 0;
  try {
    return m_read.QueryInt("SELECT coalesce(max(seq), 0) FROM changes");
  } catch (const CSqliteError&) {
    return 0;
  }
}

LibraryChanges CLibrary::ChangesSince(int64_t since) {
  LibraryChanges out;
  out.last = since;
  if (!m_read.IsOpen()) return out;
  try {
    CSqliteTransaction txn(m_read, false);
    const int64_t oldest = m_read.QueryInt("SELECT coalesce(min(seq), 0) FROM changes");
    const int64_t newest = m_read.QueryInt("SELECT coalesce(max(seq), 0) FROM changes");
    if (newest > since && oldest > since + 1) {
      out.resync = true;
      out.last = newest;
      out.ok = true;
      return out;
    }
    std::unordered_set<int64_t> seen[library::kRowKinds];
    std::unordered_map<int64_t, std::unordered_set<int64_t>> moduleSeen;
    CSqliteStatement& s = m_read.Statement("SELECT seq, writer, kind, id FROM changes WHERE seq > ? ORDER BY seq");
    s.Bind(1, since);
    while (s.Step()) {
      out.last = s.Int(0);
      if (s.Int(1) == m_writer) continue;
      const int64_t kind = s.Int(2);
      const int64_t id = s.Int(3);
      if (kind >= library::kFirstModuleKind) {
        IdList& ids = out.modules[kind];
        if (moduleSeen[kind].insert(id).second) ids.push_back(static_cast<ObjectId>(id));
        continue;
      }
      if (kind < 1 || kind >= library::kRowKinds || !seen[kind].insert(id).second) continue;
      switch (static_cast<RowKind>(kind)) {
        case RowKind::Group: out.groups.push_back(static_cast<ObjectId>(id)); break;
        case RowKind::Source: out.sources.push_back(static_cast<ObjectId>(id)); break;
        case RowKind::Article: out.articles.push_back(static_cast<ObjectId>(id)); break;
        case RowKind::History: out.histories.push_back(static_cast<ObjectId>(id)); break;
        case RowKind::Settings: out.settings = true; break;
        case RowKind::UpdateState: break;  // the update state's module logs under its own kind
      }
    }
    s.Reset();
    out.ok = true;
  } catch (const CSqliteError&) {
    out.ok = false;
  }
  return out;
}

bool CLibrary::ReadRows(const LibraryChanges& which, CLibraryBatch& out, std::string* error) {
  out = CLibraryBatch{};
  if (!m_read.IsOpen()) return false;
  try {
    CSqliteTransaction txn(m_read, false);
    CSqliteStatement& g = m_read.Statement("SELECT " + m_columns.groups + " FROM groups WHERE id = ?");
    for (ObjectId id : which.groups) {
      g.Bind(1, int64_t{id});
      if (g.Step()) {
        out.groups.push_back(GroupRow(g));
      } else {
        out.removedGroups.push_back(id);
      }
      g.Reset();
    }
    CSqliteStatement& s = m_read.Statement("SELECT " + m_columns.sources + " FROM sources WHERE id = ?");
    for (ObjectId id : which.sources) {
      s.Bind(1, int64_t{id});
      if (s.Step()) {
        out.sources.push_back(SourceRow(s));
      } else {
        out.removedSources.push_back(id);
      }
      s.Reset();
    }
    CSqliteStatement& a =
        m_read.Statement("SELECT " + m_columns.articles + " FROM articles WHERE id = ?");
    for (ObjectId id : which.articles) {
      a.Bind(1, int64_t{id});
      if (a.Step()) {
        out.articles.push_back(ArticleRow(a));
      } else {
        out.removedArticles.push_back(id);
      }
      a.Reset();
    }
    CSqliteStatement& h =
        m_read.Statement("SELECT key, article, first_seen, seq FROM history WHERE source = ? ORDER BY seq");
    for (ObjectId id : which.histories) {
      CLibraryBatch::History history;
      history.source = id;
      history.cleared = true;
      h.Bind(1, int64_t{id});
      while (h.Step()) {
        history.put.push_back({h.Text16(0), HistoryEntry{static_cast<ObjectId>(h.Int(1)), ColumnDate(h, 2)}, h.Int(3)});
      }
      h.Reset();
      out.histories.push_back(std::move(history));
    }
    if (which.settings) out.retentionDays = static_cast<int32_t>(MetaInt(m_read, "retention_days", 0));
    return true;
  } catch (const CSqliteError& e) {
    if (error != nullptr) *error = e.what();
    return false;
  }
}

void CLibrary::SetCommitHook(std::function<void()> hook) {
  m_commitHook = std::move(hook);
  if (!m_write.IsOpen()) return;
  if (!m_commitHook) {
    sqlite3_commit_hook(m_write.handle(), nullptr, nullptr);
    return;
  }
  sqlite3_commit_hook(
      m_write.handle(),
      [](void* self) {
        static_cast<CLibrary*>(self)->m_commitHook();
        return 0;  // the commit goes ahead
      },
      this);
}

bool CLibrary::ReadUpdateStates(std::vector<LibraryUpdateState>& out) {
  out.clear();
  if (!m_read.IsOpen()) return false;
  try {
    if (m_read.QueryInt("SELECT count(*) FROM sqlite_master WHERE name = 'update_state'") == 0) return true;
    library::ReadUpdateStates(m_read, out);
    return true;
  } catch (const CSqliteError&) {
    out.clear();
    return false;
  }
}

size_t CLibrary::StarredCount() {
  if (!m_read.IsOpen() || m_columns.articles.find("starred") == std::string::npos) return 0;
  try {
    return static_cast<size_t>(m_read.QueryInt("SELECT count(*) FROM articles WHERE starred"));
  } catch (const CSqliteError&) {
    return 0;
  }
}

bool CLibrary::ReadUpdateState(ObjectId source, LibraryUpdateState& out) {
  if (!m_read.IsOpen()) return false;
  try {
    return library::ReadUpdateState(m_read, source, out);
  } catch (const CSqliteError&) {
    return false;
  }
}

void CLibrary::AddModule(ILibraryModule& module) {
  RemoveModule(module);
  const std::string name(module.Name());
  int64_t kind = 0;
  try {
    if (m_write.IsOpen() && !m_damaged) {
      CSqliteTransaction txn(m_read, true);
      const int from = static_cast<int>(MetaInt(m_read, "module:" + name, 0));
      if (from < module.Version()) {
        module.Migrate(m_read, from);
        SetMeta(m_read, "module:" + name, module.Version());
      }
      kind = MetaInt(m_read, "module_kind:" + name, 0);
      if (kind == 0) {
        kind = std::max<int64_t>(library::kFirstModuleKind - 1,
                                 m_read.QueryInt("SELECT coalesce(max(value), 0) FROM meta WHERE substr(key, 1, 12) = 'module_kind:'")) +
               1;
        SetMeta(m_read, "module_kind:" + name, kind);
      }
      txn.Commit();
    } else if (m_read.IsOpen()) {
      kind = MetaInt(m_read, "module_kind:" + name, 0);
    }
  } catch (const CSqliteError&) {
    // Without its tables the module stores nothing; its work fails with
    // the batch, and is said like any failed write.
  }
  m_modules.push_back({&module, kind});
}

void CLibrary::RemoveModule(ILibraryModule& module) {
  std::erase_if(m_modules, [&](const ModuleSlot& slot) { return slot.module == &module; });
}

bool CLibrary::StoredIds(IdList& groups, IdList& sources, IdList& articles) {
  if (!m_read.IsOpen()) return false;
  try {
    CSqliteTransaction txn(m_read, false);
    const std::pair<const char*, IdList*> tables[] = {
        {"SELECT id FROM groups", &groups}, {"SELECT id FROM sources", &sources}, {"SELECT id FROM articles", &articles}};
    for (const auto& [sql, out] : tables) {
      CSqliteStatement s = m_read.Prepare(sql);
      while (s.Step()) out->push_back(static_cast<ObjectId>(s.Int(0)));
    }
    return true;
  } catch (const CSqliteError&) {
    return false;
  }
}

}  // namespace qb
