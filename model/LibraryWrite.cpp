// CLibrary::Write: one batch of rows in one transaction.
#include <unordered_map>
#include <unordered_set>

#include "model/Library.h"
#include "model/LibraryRows.h"
#include "model/LibrarySchema.h"
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

void WriteGroup(CSqliteDb& db, const CLibraryBatch::Group& g, LibraryWriteResult& result) {
  if (g.write & kRowInsert) {
    CSqliteStatement& s =
        db.Statement("INSERT OR IGNORE INTO groups(id, parent, position, name, expanded) VALUES(?, ?, ?, ?, ?)");
    s.Bind(1, int64_t{g.id});
    BindPlace(s, 2, 3, g.place);
    s.Bind(4, std::u16string_view(g.name));
    s.Bind(5, int64_t{g.expanded});
    s.Run();
    if (db.Changes() == 0) result.collisions.push_back(g.id);
    return;
  }
  if (g.write & kRowPlace) {
    WritePlace(db.Statement("UPDATE groups SET parent = ?, position = ? WHERE id = ?"), g.id, g.place);
  }
  if ((g.write & kRowFields) && g.fields != 0) {
    CSqliteStatement& s = db.Statement(
        "UPDATE groups SET name = CASE WHEN ?1 & 1 THEN ?2 ELSE name END, "
        "expanded = CASE WHEN ?1 & 2 THEN ?3 ELSE expanded END WHERE id = ?4");
    s.Bind(1, int64_t{g.fields});
    s.Bind(2, std::u16string_view(g.name));
    s.Bind(3, int64_t{g.expanded});
    s.Bind(4, int64_t{g.id});
    s.Run();
  }
}

void WriteSource(CSqliteDb& db, const CLibraryBatch::Source& r, LibraryWriteResult& result) {
  if (r.write & kRowInsert) {
    CSqliteStatement& s = db.Statement(
        "INSERT OR IGNORE INTO sources(id, grp, position, title, url, legacy_refresh, reserved_date, "
        "reserved_string, auto_name, sort_column, sort_direction, comms_status, refresh_interval, retention) "
        "VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
    s.Bind(1, int64_t{r.id});
    BindPlace(s, 2, 3, r.place);
    s.Bind(4, std::u16string_view(r.title));
    s.Bind(5, std::u16string_view(r.url));
    s.Bind(6, int64_t{r.legacyRefresh});
    BindDate(s, 7, r.reservedDate);
    s.Bind(8, std::u16string_view(r.reservedString));
    s.Bind(9, int64_t{r.autoName});
    s.Bind(10, int64_t{r.sortColumn});
    s.Bind(11, int64_t{r.sortDirection});
    s.Bind(12, std::u16string_view(r.commsStatus));
    s.Bind(13, int64_t{r.refreshInterval});
    s.Bind(14, int64_t{r.retentionDays});
    s.Run();
    if (db.Changes() == 0) result.collisions.push_back(r.id);
    return;
  }
  if (r.write & kRowPlace) {
    WritePlace(db.Statement("UPDATE sources SET grp = ?, position = ? WHERE id = ?"), r.id, r.place);
  }
  if ((r.write & kRowFields) && r.fields != 0) {
    // Only the fields named, so that another process's change to the
    // others stays.
    CSqliteStatement& s = db.Statement(
        "UPDATE sources SET "
        "title = CASE WHEN ?1 & 1 THEN ?2 ELSE title END, "
        "url = CASE WHEN ?1 & 2 THEN ?3 ELSE url END, "
        "auto_name = CASE WHEN ?1 & 4 THEN ?4 ELSE auto_name END, "
        "sort_column = CASE WHEN ?1 & 8 THEN ?5 ELSE sort_column END, "
        "sort_direction = CASE WHEN ?1 & 8 THEN ?6 ELSE sort_direction END, "
        "comms_status = CASE WHEN ?1 & 16 THEN ?7 ELSE comms_status END, "
        "refresh_interval = CASE WHEN ?1 & 32 THEN ?8 ELSE refresh_interval END, "
        "retention = CASE WHEN ?1 & 64 THEN ?9 ELSE retention END, "
        "legacy_refresh = CASE WHEN ?1 & 128 THEN ?10 ELSE legacy_refresh END, "
        "reserved_date = CASE WHEN ?1 & 128 THEN ?11 ELSE reserved_date END, "
        "reserved_string = CASE WHEN ?1 & 128 THEN ?12 ELSE reserved_string END "
        "WHERE id = ?13");
    static_assert(kSourceTitle == 1 && kSourceUrl == 2 && kSourceAutoName == 4 && kSourceSort == 8 &&
                  kSourceCommsStatus == 16 && kSourceRefreshInterval == 32 && kSourceRetention == 64 &&
                  kSourceReserved == 128);
    s.Bind(1, int64_t{r.fields});
    s.Bind(2, std::u16string_view(r.title));
    s.Bind(3, std::u16string_view(r.url));
    s.Bind(4, int64_t{r.autoName});
    s.Bind(5, int64_t{r.sortColumn});
    s.Bind(6, int64_t{r.sortDirection});
    s.Bind(7, std::u16string_view(r.commsStatus));
    s.Bind(8, int64_t{r.refreshInterval});
    s.Bind(9, int64_t{r.retentionDays});
    s.Bind(10, int64_t{r.legacyRefresh});
    BindDate(s, 11, r.reservedDate);
    s.Bind(12, std::u16string_view(r.reservedString));
    s.Bind(13, int64_t{r.id});
    s.Run();
  }
}

// What the library knows about updating a source from another address is
// nothing to this one. True when a state went.
bool DropStateOfOtherAddress(CSqliteDb& db, const CLibraryBatch::Source& r) {
  if (!(r.write & kRowFields) || !(r.fields & kSourceUrl)) return false;
  CSqliteStatement& s = db.Statement("DELETE FROM update_state WHERE source = ? AND url <> ?");
  s.Bind(1, int64_t{r.id});
  s.Bind(2, std::u16string_view(r.url));
  s.Run();
  return db.Changes() > 0;
}

void WriteArticle(CSqliteDb& db, const CLibraryBatch::Article& a, LibraryWriteResult& result) {
  if (a.write & kRowInsert) {
    // An article for a source another process deleted meanwhile goes with
    // it.
    if (a.place.listed && !Exists(db, "SELECT 1 FROM sources WHERE id = ?", a.place.parent)) return;
    CSqliteStatement& s = db.Statement(
        "INSERT OR IGNORE INTO articles(id, source, position, channel, title, link, date_text, key, date, read) "
        "VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
    s.Bind(1, int64_t{a.id});
    BindPlace(s, 2, 3, a.place);
    s.Bind(4, std::u16string_view(a.channel));
    s.Bind(5, std::u16string_view(a.title));
    s.Bind(6, std::u16string_view(a.link));
    s.Bind(7, std::u16string_view(a.dateText));
    s.Bind(8, std::u16string_view(a.key));
    BindDate(s, 9, a.date);
    s.Bind(10, int64_t{a.read});
    s.Run();
    if (db.Changes() == 0) {
      result.collisions.push_back(a.id);
      return;
    }
    library::InsertArticleTexts(db, a.id, a.title, a.channel, a.texts);
    return;
  }
  if (a.write & kRowPlace) {
    WritePlace(db.Statement("UPDATE articles SET source = ?, position = ? WHERE id = ?"), a.id, a.place);
  }
  if (a.write & kRowRead) {
    CSqliteStatement& s = db.Statement("UPDATE articles SET read = ? WHERE id = ?");
    s.Bind(1, int64_t{a.read});
    s.Bind(2, int64_t{a.id});
    s.Run();
  }
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
    std::unordered_set<int64_t> logged[library::kRowKinds];
    auto log = [&](RowKind kind, ObjectId id) {
      if (logged[static_cast<int>(kind)].insert(id).second) LogChange(db, m_writer, kind, id);
    };
    for (ObjectId id : batch.replaced) {
      // A source made anew under an old identifier starts with no state.
      if (DeleteAnyRows(db, id) == RowKind::Source) log(RowKind::UpdateState, id);
    }
    for (const CLibraryBatch::Group& g : batch.groups) {
      WriteGroup(db, g, result);
      log(RowKind::Group, g.id);
    }
    for (const CLibraryBatch::Source& s : batch.sources) {
      WriteSource(db, s, result);
      log(RowKind::Source, s.id);
      if (DropStateOfOtherAddress(db, s)) log(RowKind::UpdateState, s.id);
    }
    for (const CLibraryBatch::Article& a : batch.articles) {
      WriteArticle(db, a, result);
      log(RowKind::Article, a.id);
    }
    for (const CLibraryBatch::History& h : batch.histories) {
      WriteHistory(db, h);
      log(RowKind::History, h.source);
      // A cleared history wants the whole document again: a "not
      // modified" answer would keep the forgotten articles away.
      if (h.cleared && library::DropUpdateState(db, h.source, true)) log(RowKind::UpdateState, h.source);
    }
    // After the sources and their articles: a state is stored only for a
    // source the library holds under the state's address.
    for (const LibraryUpdateState& st : batch.updateStates) {
      library::PutUpdateState(db, st);
      log(RowKind::UpdateState, st.source);
    }
    for (ObjectId id : batch.droppedUpdateStates) {
      library::DropUpdateState(db, id, false);
      log(RowKind::UpdateState, id);
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
      log(RowKind::UpdateState, id);
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
