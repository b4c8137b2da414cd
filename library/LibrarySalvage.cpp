#include "library/LibrarySalvage.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <limits>
#include <optional>
#include <random>
#include <set>
#include <vector>

#include "library/LibraryRows.h"
#include "library/LibrarySchema.h"
#include "library/Sqlite.h"
#include "model/FeedsManager.h"

namespace qb::library {

namespace {

uint32_t BigEndian32(const unsigned char* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}

// A connection that only reads and, closing, leaves the file and its log
// as they were.
void OpenForLooking(CSqliteDb& db, const std::string& path) {
  db.Open(path, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX);
  sqlite3_db_config(db.handle(), SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
  sqlite3_busy_timeout(db.handle(), 5000);
}

std::vector<std::string> Columns(sqlite3* db, const std::string& table) {
  std::vector<std::string> out;
  sqlite3_stmt* s = nullptr;
  if (sqlite3_prepare_v2(db, ("SELECT name FROM pragma_table_info('" + table + "')").c_str(), -1, &s, nullptr) ==
      SQLITE_OK) {
    while (sqlite3_step(s) == SQLITE_ROW) out.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(s, 0)));
  }
  sqlite3_finalize(s);
  return out;
}

// A statement of the damaged file that says when it fails instead of
// throwing: on the damaged side every failure is expected.
class Query {
 public:
  Query(sqlite3* db, const std::string& sql) { m_ok = sqlite3_prepare_v2(db, sql.c_str(), -1, &m_stmt, nullptr) == SQLITE_OK; }
  ~Query() { sqlite3_finalize(m_stmt); }
  Query(const Query&) = delete;
  Query& operator=(const Query&) = delete;
  bool ok() const { return m_ok; }
  sqlite3_stmt* get() const { return m_stmt; }
  void Start(int64_t key) {
    sqlite3_reset(m_stmt);
    sqlite3_bind_int64(m_stmt, 1, key);
  }
  // SQLITE_ROW, SQLITE_DONE or the failure.
  int Step() { return sqlite3_step(m_stmt); }

 private:
  sqlite3_stmt* m_stmt = nullptr;
  bool m_ok = false;
};

// Copies the rows of one table from `from` to `to` in the order of `key`
// (the rowid, or the first column of the primary key), stepping over what
// cannot be read: a row whose own pages are damaged is left out, and a run
// of rows on a damaged page is stepped over by finding the first key after
// it at which a search of the table works again.
class TableCopy {
 public:
  // Ranges of keys stepped over (first, last) go to `skipped` when given.
  TableCopy(sqlite3* from, CSqliteDb& to, const std::string& table, const std::string& key,
            std::vector<std::pair<int64_t, int64_t>>* skipped = nullptr)
      : m_from(from), m_to(to), m_table(table), m_key(key), m_skipped(skipped) {}

  // The key is copied too (a rowid that no declared column holds, such as
  // a full-text table's, which names its article).
  TableCopy& KeepingTheKey() {
    m_keepKey = true;
    return *this;
  }

  // Rows copied; `unreadable` counts the rows and runs stepped over.
  size_t Run(size_t& unreadable) {
    const std::vector<std::string> theirs = Columns(m_from, m_table);
    const std::vector<std::string> ours = Columns(m_to.handle(), m_table);
    std::string columns = m_keepKey ? m_key : "";
    size_t count = m_keepKey ? 1 : 0;
    for (const std::string& c : theirs) {
      if (std::find(ours.begin(), ours.end(), c) == ours.end()) continue;
      columns += (columns.empty() ? "" : ", ") + c;
      ++count;
    }
    if (count == (m_keepKey ? 1u : 0u)) return 0;
    const std::string from = " FROM " + m_table + " WHERE " + m_key;
    Query rows(m_from, "SELECT " + m_key + ", " + columns + from + " >= ?1 ORDER BY " + m_key);
    Query one(m_from, "SELECT " + m_key + ", " + columns + from + " = ?1");
    Query probe(m_from, "SELECT " + m_key + from + " >= ?1 ORDER BY " + m_key + " LIMIT 1");
    if (!rows.ok() || !one.ok() || !probe.ok()) {
      ++unreadable;
      return 0;
    }
    std::string marks;
    for (size_t i = 0; i < count; ++i) marks += i == 0 ? "?" : ", ?";
    CSqliteStatement insert = m_to.Prepare("INSERT OR IGNORE INTO " + m_table + "(" + columns + ") VALUES(" + marks + ")");
    size_t copied = 0;
    std::optional<int64_t> start = std::numeric_limits<int64_t>::min();
    while (start) {
      rows.Start(*start);
      std::optional<int64_t> last;
      int rc;
      while ((rc = rows.Step()) == SQLITE_ROW) {
        last = sqlite3_column_int64(rows.get(), 0);
        for (size_t i = 0; i < count; ++i) {
          sqlite3_bind_value(insert.handle(), static_cast<int>(i + 1), sqlite3_column_value(rows.get(), static_cast<int>(i + 1)));
        }
        insert.Run();
        copied += static_cast<size_t>(m_to.Changes());
      }
      if (rc == SQLITE_DONE) break;
      const int64_t failedFrom = last ? *last : *start;
      std::optional<int64_t> next = last ? Successor(*last) : std::optional<int64_t>(*start);
      if (next) next = Resume(*next, one, probe, unreadable);
      // Always forward, whatever the file answers.
      if (next && *next <= failedFrom && !last) next = Successor(failedFrom);
      start = next;
    }
    return copied;
  }

 private:
  static std::optional<int64_t> Successor(int64_t key) {
    if (key == std::numeric_limits<int64_t>::max()) return std::nullopt;
    return key + 1;
  }

  // Whether a search for the first key at or after `at` works; its key.
  bool Probe(Query& probe, int64_t at, std::optional<int64_t>& found) {
    probe.Start(at);
    const int rc = probe.Step();
    found.reset();
    if (rc == SQLITE_ROW) found = sqlite3_column_int64(probe.get(), 0);
    return rc == SQLITE_ROW || rc == SQLITE_DONE;
  }

  // Where to go on after reading failed at `from`, or nothing when no row
  // at or after it can be found.
  std::optional<int64_t> Resume(int64_t from, Query& one, Query& probe, size_t& unreadable) {
    std::optional<int64_t> found;
    if (Probe(probe, from, found)) {
      // The pages of the keys are whole: one row of its own cannot be read.
      if (!found) return std::nullopt;
      one.Start(*found);
      if (one.Step() == SQLITE_ROW) return found;
      ++unreadable;
      Skipped(*found, *found);
      return Successor(*found);
    }
    // A page cannot be read: the first key beyond it at which a search
    // works, found by doubling the step and then halving it.
    ++unreadable;
    const int64_t room = std::numeric_limits<int64_t>::max() - from;
    int64_t step = 1;
    for (;;) {
      if (step <= room && Probe(probe, from + step, found)) break;
      if (step > room / 2) {
        // Nothing after it can be reached: everything from here on is lost.
        Skipped(from, std::numeric_limits<int64_t>::max());
        return std::nullopt;
      }
      step *= 2;
    }
    int64_t bad = from + step / 2, good = from + step;
    if (step == 1) bad = from;
    while (good - bad > 1) {
      const int64_t mid = bad + (good - bad) / 2;
      if (Probe(probe, mid, found)) {
        good = mid;
      } else {
        bad = mid;
      }
    }
    Skipped(from, good - 1);
    return good;
  }

  void Skipped(int64_t first, int64_t last) {
    if (m_skipped != nullptr) m_skipped->emplace_back(first, last);
  }

  sqlite3* m_from;
  CSqliteDb& m_to;
  std::string m_table;
  std::string m_key;
  std::vector<std::pair<int64_t, int64_t>>* m_skipped;
  bool m_keepKey = false;
};

}  // namespace

bool FileLook::LogIsForeign() const {
  if (!hasLog || !readable) return false;
  if (IsLibraryApplicationId(fileApplicationId)) return applicationId != fileApplicationId;
  // A library from before the id: a log that shows other tables over it.
  return fileVersion >= 1 && anyTables && !ourTables;
}

bool FileLook::NotALibrary() const {
  // A newer version may keep other tables: such a file is left alone as
  // newer, never taken for another database.
  return readable && anyTables && version <= kLibrarySchemaVersion && (!ourTables || version == 0);
}

FileLook LookAt(const std::string& path) {
  FileLook look;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd >= 0) {
    unsigned char header[100];
    const ssize_t n = ::pread(fd, header, sizeof header, 0);
    ::close(fd);
    look.empty = n == 0;
    static const char kMagic[] = "SQLite format 3";
    look.sqlite = n == static_cast<ssize_t>(sizeof header) && std::equal(kMagic, kMagic + 16, header);
    if (look.sqlite) {
      look.fileVersion = static_cast<int32_t>(BigEndian32(header + 60));
      look.fileApplicationId = BigEndian32(header + 68);
    }
  }
  struct stat st {};
  look.hasLog = ::stat((path + "-wal").c_str(), &st) == 0 && st.st_size > 32;
  if (look.empty) return look;
  try {
    CSqliteDb db;
    OpenForLooking(db, path);
    look.applicationId = static_cast<uint32_t>(db.QueryInt("PRAGMA application_id"));
    look.version = db.QueryInt("PRAGMA user_version");
    CSqliteStatement tables = db.Prepare("SELECT name FROM sqlite_master WHERE type = 'table'");
    std::set<std::string> names;
    while (tables.Step()) names.insert(tables.Text(0));
    look.anyTables = !names.empty();
    look.ourTables = names.count("groups") != 0 && names.count("sources") != 0 && names.count("articles") != 0;
    look.readable = true;
  } catch (const CSqliteError& e) {
    look.damage = e.IsDamage();
    look.error = e.what();
  }
  return look;
}

namespace {

// The tables of the library's modules (each feed's update state aside, which
// the schema has: the reader view's results, the accounts' items and pending
// marks), made again as the damaged file made them and copied as far as
// they can be read. The meta table, copied before, names the version of
// each module's tables, so a module finds them as it left them; a module
// whose tables were lost would otherwise write into none and fail every
// batch.
void CopyModuleTables(sqlite3* from, CSqliteDb& to, size_t& unreadable) {
  struct Entry {
    std::string type, name, table, sql;
  };
  std::vector<Entry> entries;
  sqlite3_stmt* s = nullptr;
  if (sqlite3_prepare_v2(from, "SELECT type, name, tbl_name, sql FROM sqlite_master WHERE sql IS NOT NULL", -1, &s,
                         nullptr) == SQLITE_OK) {
    int rc;
    while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
      auto text = [&](int i) { return std::string(reinterpret_cast<const char*>(sqlite3_column_text(s, i))); };
      entries.push_back({text(0), text(1), text(2), text(3)});
    }
    if (rc != SQLITE_DONE) ++unreadable;
  } else {
    ++unreadable;
  }
  sqlite3_finalize(s);
  std::set<std::string> ours;
  CSqliteStatement names = to.Prepare("SELECT name FROM sqlite_master");
  while (names.Step()) ours.insert(names.Text(0));
  std::set<std::string> virtuals;
  for (const Entry& e : entries) {
    if (e.type == "table" && e.sql.rfind("CREATE VIRTUAL TABLE", 0) == 0) virtuals.insert(e.name);
  }
  // A full-text table's own storage is made with it.
  auto shadow = [&](const std::string& name) {
    return std::any_of(virtuals.begin(), virtuals.end(), [&](const std::string& v) {
      return name.size() > v.size() + 1 && name.compare(0, v.size() + 1, v + "_") == 0;
    });
  };
  std::set<std::string> made;
  for (const Entry& e : entries) {
    if (e.type != "table" || ours.count(e.name) != 0 || e.name.rfind("sqlite_", 0) == 0 || shadow(e.name)) continue;
    try {
      to.Exec(e.sql);
    } catch (const CSqliteError&) {
      ++unreadable;
      continue;
    }
    made.insert(e.name);
    TableCopy copy(from, to, e.name, "rowid");
    if (virtuals.count(e.name) != 0) copy.KeepingTheKey();
    copy.Run(unreadable);
  }
  // Their indexes and triggers once the rows are in, so that no trigger
  // runs on the copy.
  for (const Entry& e : entries) {
    if ((e.type != "index" && e.type != "trigger") || made.count(e.table) == 0 || ours.count(e.name) != 0) continue;
    try {
      to.Exec(e.sql);
    } catch (const CSqliteError&) {
      ++unreadable;
    }
  }
  // The rows of an article or a feed that was lost go too, as the cascade
  // of their foreign keys would have taken them (the triggers with them).
  std::vector<std::pair<std::string, int64_t>> orphans;
  CSqliteStatement check = to.Prepare("PRAGMA foreign_key_check");
  while (check.Step()) {
    if (made.count(check.Text(0)) != 0 && !check.IsNull(1)) orphans.emplace_back(check.Text(0), check.Int(1));
  }
  for (const auto& [table, rowid] : orphans) {
    CSqliteStatement& gone = to.Statement("DELETE FROM " + table + " WHERE rowid = ?");
    gone.Bind(1, rowid);
    gone.Run();
  }
}

}  // namespace

bool Salvage(const std::string& damaged, const std::string& into, SalvageCounts& counts, std::string* error) {
  counts = SalvageCounts{};
  try {
    CSqliteDb to;
    to.Open(into, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX);
    to.Exec("PRAGMA journal_mode = WAL; PRAGMA synchronous = FULL");
    CSqliteTransaction txn(to, true);
    MigrateLibrary(to, 0);
    int64_t version = 0;
    CSqliteDb from;
    try {
      OpenForLooking(from, damaged);
      // A schema that names pages the file no longer has (a file cut
      // short) still gives the tables whose pages are there.
      from.Exec("PRAGMA writable_schema = ON");
      version = from.QueryInt("PRAGMA user_version");
    } catch (const CSqliteError&) {
      from.Close();
      ++counts.unreadable;
    }
    // Articles lost with their pages: their keys leave the history too, so
    // that the next update brings back those the feed still carries.
    std::vector<std::pair<int64_t, int64_t>> lostArticles;
    if (from.IsOpen()) {
      // Parents first, so that a library read back finds most lists whole;
      // what lost its parent is put back where the load puts such rows.
      const std::pair<const char*, const char*> tables[] = {
          {"groups", "rowid"}, {"sources", "rowid"},       {"articles", "rowid"}, {"texts", "rowid"},
          {"article_texts", "rowid"}, {"history", "source"}, {"meta", "rowid"}, {"update_state", "rowid"}};
      for (const auto& [table, key] : tables) {
        if (std::string(table) == "meta") {
          // A few rows without a rowid: as many as can be read.
          sqlite3_stmt* s = nullptr;
          if (sqlite3_prepare_v2(from.handle(), "SELECT key, value FROM meta", -1, &s, nullptr) == SQLITE_OK) {
            CSqliteStatement& put = to.Statement("INSERT OR REPLACE INTO meta(key, value) VALUES(?, ?)");
            while (sqlite3_step(s) == SQLITE_ROW) {
              sqlite3_bind_value(put.handle(), 1, sqlite3_column_value(s, 0));
              sqlite3_bind_value(put.handle(), 2, sqlite3_column_value(s, 1));
              put.Run();
            }
          }
          sqlite3_finalize(s);
          continue;
        }
        const bool articles = std::string(table) == "articles";
        const size_t n =
            TableCopy(from.handle(), to, table, key, articles ? &lostArticles : nullptr).Run(counts.unreadable);
        if (std::string(table) == "groups") counts.groups = n;
        if (std::string(table) == "sources") counts.sources = n;
        if (std::string(table) == "articles") counts.articles = n;
        if (std::string(table) == "article_texts") counts.texts = n;
        if (std::string(table) == "history") counts.historyKeys = n;
      }
    }
    if (from.IsOpen()) CopyModuleTables(from.handle(), to, counts.unreadable);
    for (const auto& [first, last] : lostArticles) {
      CSqliteStatement& s = to.Statement("DELETE FROM history WHERE article BETWEEN ? AND ?");
      s.Bind(1, first);
      s.Bind(2, last);
      s.Run();
      counts.historyKeys -= std::min(counts.historyKeys, static_cast<size_t>(to.Changes()));
    }
    // Every article kept has its key in its feed's history again, so that
    // history lost with its pages brings no article twice.
    {
      int64_t seq = to.QueryInt("SELECT coalesce(max(seq), 0) FROM history");
      CSqliteStatement missing = to.Prepare(
          "SELECT a.id, a.source, a.key, a.arrived FROM articles a WHERE a.source IS NOT NULL AND NOT EXISTS "
          "(SELECT 1 FROM history h WHERE h.source = a.source AND h.key = a.key)");
      CSqliteStatement& put =
          to.Statement("INSERT OR IGNORE INTO history(source, key, article, first_seen, seq) VALUES(?, ?, ?, ?, ?)");
      while (missing.Step()) {
        put.Bind(1, missing.Int(1));
        put.BindBlob(2, missing.Blob(2));
        put.Bind(3, missing.Int(0));
        // Seconds since 1970 as a date of the same scale as the others.
        if (missing.IsNull(3)) {
          put.BindNull(4);
        } else {
          put.Bind(4, static_cast<double>(missing.Int(3)) / 86400.0 + 25569.0);
        }
        put.Bind(5, ++seq);
        put.Run();
        counts.historyKeys += static_cast<size_t>(to.Changes());
      }
    }
    // Whatever was lost, each feed is fetched whole next time: a "not
    // modified" would keep away what the feed still carries of it.
    if (counts.unreadable > 0) to.Exec("UPDATE update_state SET etag = x'', last_modified = x''");
    // Texts whose pages were overwritten read back as something else: a
    // description that fails its checksum is left empty, a source text that
    // fails its hash goes.
    {
      CSqliteStatement check = to.Prepare("SELECT article, description, checksum FROM article_texts WHERE checksum IS NOT NULL");
      std::vector<int64_t> wrong;
      while (check.Step()) {
        if (TextHash(check.Text16(1)) != check.Int(2)) wrong.push_back(check.Int(0));
      }
      for (int64_t article : wrong) {
        CSqliteStatement& s = to.Statement("UPDATE article_texts SET description = x'', checksum = ? WHERE article = ?");
        s.Bind(1, TextHash(u""));
        s.Bind(2, article);
        s.Run();
      }
      CSqliteStatement bodies = to.Prepare("SELECT id, hash, body FROM texts");
      std::vector<int64_t> wrongBodies;
      while (bodies.Step()) {
        if (TextHash(bodies.Text16(2)) != bodies.Int(1)) wrongBodies.push_back(bodies.Int(0));
      }
      for (int64_t id : wrongBodies) {
        CSqliteStatement& s = to.Statement("DELETE FROM texts WHERE id = ?");
        s.Bind(1, id);
        s.Run();
      }
      counts.unreadable += wrong.size() + wrongBodies.size();
      counts.texts -= std::min(counts.texts, wrong.size());
    }
    // The shared source texts count the articles that name them again;
    // an article whose text was lost shows none.
    to.Exec(
        "UPDATE article_texts SET source_text = 0 WHERE source_text <> 0 AND "
        "source_text NOT IN (SELECT id FROM texts);"
        "UPDATE texts SET refs = (SELECT count(*) FROM article_texts WHERE source_text = texts.id);"
        "DELETE FROM texts WHERE refs = 0;");
    if (version < 5) {
      CSqliteStatement& s = to.Statement("UPDATE articles SET arrived = ? WHERE arrived IS NULL");
      s.Bind(1, static_cast<int64_t>(::time(nullptr)));
      s.Run();
    }
    if (to.QueryInt("SELECT count(*) FROM groups") == 0) {
      CSqliteStatement& s =
          to.Statement("INSERT INTO groups(id, parent, position, name, expanded) VALUES(?, 0, 1, ?, 1)");
      std::random_device device;
      ObjectId root = 0;
      while (root == 0) root = device();
      s.Bind(1, int64_t{root});
      s.Bind(2, std::u16string_view(kAllSourcesName));
      s.Run();
    }
    RebuildSearchIndex(to);
    txn.Commit();
    return true;
  } catch (const CSqliteError& e) {
    if (error != nullptr) *error = e.what();
    return false;
  }
}

}  // namespace qb::library
