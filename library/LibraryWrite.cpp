// CLibrary::Write: one batch of rows in one transaction.
#include <algorithm>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "library/Library.h"
#include "library/LibraryModule.h"
#include "library/LibraryRows.h"
#include "library/LibrarySchema.h"
#include "model/ModelChange.h"

namespace qb {

using library::BindDate;
using library::LogChange;
using library::RowKind;

namespace {

// The change log keeps about this many entries; a process that falls
// further behind loads everything again.
constexpr int64_t kChangeLogEntries = 50000;

void BindPlace(CSqliteStatement& s, int parent, int position, const CLibraryBatch::Place& p) {
  if (p.listed) {
    s.Bind(parent, int64_t{p.parent});
  } else {
    s.BindNull(parent);
  }
  s.Bind(position, p.position);
}

// Moves a row to its list and place: `s` is the table's "UPDATE ... SET
// <list> = ?, position = ? WHERE id = ?".
void WritePlace(CSqliteStatement& s, ObjectId id, const CLibraryBatch::Place& p) {
  BindPlace(s, 1, 2, p);
  s.Bind(3, int64_t{id});
  s.Run();
}

bool Exists(CSqliteDb& db, const char* sql, ObjectId id) {
  CSqliteStatement& s = db.Statement(sql);
  s.Bind(1, int64_t{id});
  const bool found = s.Step();
  s.Reset();
  return found;
}

// The statements of one row kind, made once from its field table.
struct RowSql {
  std::string insert, update;
};

template <class Values, class Table>
RowSql SqlOf(const char* table, const char* list, const Table& fields) {
  const std::string marks = library::ValueMarks<Values>(fields);
  const int values = static_cast<int>(std::count(marks.begin(), marks.end(), '?'));
  return {std::string("INSERT OR IGNORE INTO ") + table + "(id, " + list + ", position, " +
              library::ValueColumns<Values>(fields) + ") VALUES(?, ?, ?" + marks + ")",
          std::string("UPDATE ") + table + " SET " + library::ValueUpdates<Values>(fields, 2) + " WHERE id = ?" +
              std::to_string(2 + values)};
}

const RowSql& GroupSql() {
  static const RowSql sql = SqlOf<GroupFields>("groups", "parent", kGroupFieldTable);
  return sql;
}
const RowSql& SourceSql() {
  static const RowSql sql = SqlOf<SourceFields>("sources", "grp", kSourceFieldTable);
  return sql;
}
const RowSql& ArticleSql() {
  static const RowSql sql = SqlOf<ArticleFields>("articles", "source", kArticleFieldTable);
  return sql;
}

// A new row with every value; false when another process stored one under
// the identifier first.
template <class Row, class Table>
bool InsertRow(CSqliteDb& db, const RowSql& sql, const Row& row, const Table& table) {
  CSqliteStatement& s = db.Statement(sql.insert);
  s.Bind(1, int64_t{row.id});
  BindPlace(s, 2, 3, row.place);
  library::BindValues(s, 4, row.values, table);
  s.Run();
  return db.Changes() != 0;
}

// Only the fields named, so that another process's change to the others
// stays.
template <class Row, class Table>
void UpdateFields(CSqliteDb& db, const RowSql& sql, const Row& row, const Table& table) {
  CSqliteStatement& s = db.Statement(sql.update);
  s.Bind(1, int64_t{row.fields});
  const int next = library::BindValues(s, 2, row.values, table);
  s.Bind(next, int64_t{row.id});
  s.Run();
}

void WriteGroup(CSqliteDb& db, const CLibraryBatch::Group& g, LibraryWriteResult& result) {
  if (g.write & kRowInsert) {
    if (!InsertRow(db, GroupSql(), g, kGroupFieldTable)) result.collisions.push_back(g.id);
    return;
  }
  if (g.write & kRowPlace) {
    WritePlace(db.Statement("UPDATE groups SET parent = ?, position = ? WHERE id = ?"), g.id, g.place);
  }
  if ((g.write & kRowFields) && g.fields != 0) UpdateFields(db, GroupSql(), g, kGroupFieldTable);
}

void WriteSource(CSqliteDb& db, const CLibraryBatch::Source& r, LibraryWriteResult& result) {
  if (r.write & kRowInsert) {
    if (!InsertRow(db, SourceSql(), r, kSourceFieldTable)) result.collisions.push_back(r.id);
    return;
  }
  if (r.write & kRowPlace) {
    WritePlace(db.Statement("UPDATE sources SET grp = ?, position = ? WHERE id = ?"), r.id, r.place);
  }
  if ((r.write & kRowFields) && r.fields != 0) UpdateFields(db, SourceSql(), r, kSourceFieldTable);
}


void WriteArticle(CSqliteDb& db, const CLibraryBatch::Article& a, LibraryWriteResult& result) {
  if (a.write & kRowInsert) {
    // An article for a source another process deleted meanwhile goes with
    // it.
    if (a.place.listed && !Exists(db, "SELECT 1 FROM sources WHERE id = ?", a.place.parent)) return;
    if (!InsertRow(db, ArticleSql(), a, kArticleFieldTable)) {
      result.collisions.push_back(a.id);
      return;
    }
    library::InsertArticleTexts(db, a.id, a.values.m_title, a.values.m_channel, a.texts);
    return;
  }
  if (a.write & kRowPlace) {
    WritePlace(db.Statement("UPDATE articles SET source = ?, position = ? WHERE id = ?"), a.id, a.place);
  }
  if ((a.write & kRowFields) && a.fields != 0) UpdateFields(db, ArticleSql(), a, kArticleFieldTable);
}

void WriteHistory(CSqliteDb& db, const CLibraryBatch::History& h) {
  if (!Exists(db, "SELECT 1 FROM sources WHERE id = ?", h.source)) return;
  if (h.cleared) {
    CSqliteStatement& s = db.Statement("DELETE FROM history WHERE source = ?");
    s.Bind(1, int64_t{h.source});
    s.Run();
  }
  for (const std::u16string& key : h.drop) {
    CSqliteStatement& s = db.Statement("DELETE FROM history WHERE source = ? AND key = ?");
    s.Bind(1, int64_t{h.source});
    s.Bind(2, std::u16string_view(key));
    s.Run();
  }
  for (const CLibraryBatch::HistoryRow& row : h.put) {
    CSqliteStatement& s = db.Statement(
        "INSERT OR REPLACE INTO history(source, key, article, first_seen, seq) VALUES(?, ?, ?, ?, ?)");
    s.Bind(1, int64_t{h.source});
    s.Bind(2, std::u16string_view(row.key));
    s.Bind(3, int64_t{row.entry.articleId});
    BindDate(s, 4, row.entry.firstSeen);
    s.Bind(5, row.seq);
    s.Run();
  }
}

// What the identifier was (Settings: nothing the library held).
RowKind DeleteAnyRows(CSqliteDb& db, ObjectId id) {
  if (library::DeleteArticleRows(db, id)) return RowKind::Article;
  if (library::DeleteSourceRows(db, id)) return RowKind::Source;
  if (library::DeleteGroupRows(db, id)) return RowKind::Group;
  return RowKind::Settings;
}

}  // namespace

LibraryWriteResult CLibrary::Write(const CLibraryBatch& batch) {
  LibraryWriteResult result;
  if (!m_write.IsOpen()) {
    result.error = "the library cannot be written";
    result.code = SQLITE_READONLY;
    return result;
  }
  if (m_damaged) {
    // Never written into once known to be damaged: the next start saves
    // what can be read of it.
    result.error = kLibraryDamagedError;
    result.code = SQLITE_CORRUPT;
    return result;
  }
  if (batch.empty()) {
    result.ok = true;
    return result;
  }
  CSqliteDb& db = m_write;
  try {
    CSqliteTransaction txn(db, true);
    // Where the log stood before this batch: a large batch never pushes out
    // the entries just before it, which the processes that read up to them
    // (this one too) still start from.
    const int64_t before = db.QueryInt("SELECT coalesce(max(seq), 0) FROM changes");
    // Logged once per row, whatever the batch did to it.
    std::unordered_map<int64_t, std::unordered_set<int64_t>> logged;
    auto logKind = [&](int64_t kind, int64_t id) {
      if (logged[kind].insert(id).second) LogChange(db, m_writer, static_cast<RowKind>(kind), id);
    };
    auto log = [&](RowKind kind, ObjectId id) { logKind(static_cast<int64_t>(kind), id); };
    // Each module writes and logs under its own kind.
    auto each = [&](auto hook) {
      for (const ModuleSlot& slot : m_modules) {
        CModuleWrite write(db, [&, kind = slot.kind](int64_t id) { logKind(kind, id); });
        hook(*slot.module, write);
      }
    };
    for (ObjectId id : batch.replaced) {
      // A source made anew under an old identifier starts with nothing of
      // the old one.
      if (DeleteAnyRows(db, id) == RowKind::Source) {
        each([&](ILibraryModule& m, CModuleWrite& w) { m.SourceRemoved(w, id); });
      }
    }
    for (const CLibraryBatch::Group& g : batch.groups) {
      WriteGroup(db, g, result);
      log(RowKind::Group, g.id);
    }
    for (const CLibraryBatch::Source& s : batch.sources) {
      WriteSource(db, s, result);
      log(RowKind::Source, s.id);
      each([&](ILibraryModule& m, CModuleWrite& w) { m.SourceWritten(w, s); });
    }
    for (const CLibraryBatch::Article& a : batch.articles) {
      WriteArticle(db, a, result);
      log(RowKind::Article, a.id);
    }
    for (const CLibraryBatch::History& h : batch.histories) {
      WriteHistory(db, h);
      log(RowKind::History, h.source);
      if (h.cleared) each([&](ILibraryModule& m, CModuleWrite& w) { m.HistoryCleared(w, h.source); });
    }
    // After the rows the modules' rows belong to.
    for (const auto& [kind, work] : batch.moduleWork) {
      CModuleWrite write(db, [&, kind = kind](int64_t id) { logKind(kind, id); });
      work(write);
    }
    // Removals last: a row moved out of a node removed in the same batch
    // has left it by now and stays.
    for (ObjectId id : batch.removedArticles) {
      library::DeleteArticleRows(db, id);
      log(RowKind::Article, id);
    }
    for (ObjectId id : batch.removedSources) {
      library::DeleteSourceRows(db, id);
      log(RowKind::Source, id);
      each([&](ILibraryModule& m, CModuleWrite& w) { m.SourceRemoved(w, id); });
    }
    for (ObjectId id : batch.removedGroups) {
      library::DeleteGroupRows(db, id);
      log(RowKind::Group, id);
    }
    if (batch.retentionDays) {
      SetMeta(db, "retention_days", *batch.retentionDays);
      log(RowKind::Settings, 0);
    }
    result.lastChange = db.QueryInt("SELECT coalesce(max(seq), 0) FROM changes");
    const int64_t oldest = db.QueryInt("SELECT coalesce(min(seq), 0) FROM changes");
    if (before - oldest > kChangeLogEntries + kChangeLogEntries / 10) {
      CSqliteStatement& trim = db.Statement("DELETE FROM changes WHERE seq <= ?");
      trim.Bind(1, before - kChangeLogEntries);
      trim.Run();
    }
    txn.Commit();
    result.ok = true;
  } catch (const CSqliteError& e) {
    result = LibraryWriteResult{};
    result.error = e.what();
    result.code = e.Code();
    if (e.IsDamage()) {
      m_damaged = true;
      result.error = kLibraryDamagedError;
    }
  } catch (const std::bad_alloc&) {
    result = LibraryWriteResult{};
    result.error = "out of memory";
    result.code = SQLITE_NOMEM;
  }
  return result;
}

}  // namespace qb
