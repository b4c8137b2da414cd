#include "library/LibraryRows.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <unordered_set>
#include <vector>

#include "library/LibrarySchema.h"

namespace qb::library {

int64_t TextHash(std::u16string_view text) {
  uint64_t h = 1469598103934665603ull;
  for (char16_t c : text) {
    h = (h ^ (c & 0xFF)) * 1099511628211ull;
    h = (h ^ (c >> 8)) * 1099511628211ull;
  }
  return static_cast<int64_t>(h);
}

void BindDate(CSqliteStatement& s, int index, const CDateTime& date) {
  if (date.IsValid()) {
    s.Bind(index, date.GetOleDate());
  } else {
    s.BindNull(index);
  }
}

CDateTime ColumnDate(const CSqliteStatement& s, int column) {
  return s.IsNull(column) ? CDateTime::Invalid() : CDateTime::FromOleDate(s.Real(column));
}

int64_t StoreText(CSqliteDb& db, const SharedText& text) {
  if (text.empty()) return 0;
  const int64_t hash = TextHash(text.str());
  CSqliteStatement& find = db.Statement("SELECT id, body FROM texts WHERE hash = ?");
  find.Bind(1, hash);
  int64_t found = 0;
  while (found == 0 && find.Step()) {
    if (find.Text16(1) == text.str()) found = find.Int(0);
  }
  find.Reset();
  if (found != 0) {
    CSqliteStatement& more = db.Statement("UPDATE texts SET refs = refs + 1 WHERE id = ?");
    more.Bind(1, found);
    more.Run();
    return found;
  }
  CSqliteStatement& insert = db.Statement("INSERT INTO texts(hash, refs, body) VALUES(?, 1, ?)");
  insert.Bind(1, hash);
  insert.Bind(2, std::u16string_view(text.str()));
  insert.Run();
  return db.LastInsertRowid();
}

void ReleaseText(CSqliteDb& db, int64_t textId) {
  if (textId == 0) return;
  CSqliteStatement& fewer = db.Statement("UPDATE texts SET refs = refs - 1 WHERE id = ?");
  fewer.Bind(1, textId);
  fewer.Run();
  CSqliteStatement& gone = db.Statement("DELETE FROM texts WHERE id = ? AND refs <= 0");
  gone.Bind(1, textId);
  gone.Run();
}

void InsertArticleTexts(CSqliteDb& db, int64_t id, std::u16string_view title, std::u16string_view channel,
                        const CArticleTexts& texts) {
  const int64_t sourceText = StoreText(db, texts.sourceText);
  CSqliteStatement& s =
      db.Statement("INSERT OR REPLACE INTO article_texts(article, description, source_text, checksum) VALUES(?, ?, ?, ?)");
  s.Bind(1, id);
  s.Bind(2, std::u16string_view(texts.description.str()));
  s.Bind(3, sourceText);
  s.Bind(4, TextHash(texts.description.str()));
  s.Run();
  IndexArticle(db, id, title, channel, texts.description.str());
}

bool DeleteArticleRows(CSqliteDb& db, int64_t id) {
  CSqliteStatement& row = db.Statement(
      "SELECT a.title, a.channel, t.description, t.source_text, t.article FROM articles a "
      "LEFT JOIN article_texts t ON t.article = a.id WHERE a.id = ?");
  row.Bind(1, id);
  if (!row.Step()) {
    row.Reset();
    return false;
  }
  const std::u16string title = row.Text16(0), channel = row.Text16(1), description = row.Text16(2);
  const int64_t sourceText = row.Int(3);
  const bool hasTexts = !row.IsNull(4);
  row.Reset();
  // The index keeps no text: a removal names the very words it was given.
  if (hasTexts) UnindexArticle(db, id, title, channel, description);
  ReleaseText(db, sourceText);
  CSqliteStatement& texts = db.Statement("DELETE FROM article_texts WHERE article = ?");
  texts.Bind(1, id);
  texts.Run();
  CSqliteStatement& article = db.Statement("DELETE FROM articles WHERE id = ?");
  article.Bind(1, id);
  article.Run();
  return true;
}

bool DeleteSourceRows(CSqliteDb& db, int64_t id) {
  std::vector<int64_t> articles;
  CSqliteStatement& list = db.Statement("SELECT id FROM articles WHERE source = ?");
  list.Bind(1, id);
  while (list.Step()) articles.push_back(list.Int(0));
  list.Reset();
  for (int64_t a : articles) DeleteArticleRows(db, a);
  // The rows of modules that belong to the source go with it (foreign keys).
  CSqliteStatement& history = db.Statement("DELETE FROM history WHERE source = ?");
  history.Bind(1, id);
  history.Run();
  CSqliteStatement& source = db.Statement("DELETE FROM sources WHERE id = ?");
  source.Bind(1, id);
  source.Run();
  return db.Changes() > 0;
}

bool DeleteGroupRows(CSqliteDb& db, int64_t id) {
  // The groups below it, as the library holds them now (another process may
  // have added to them), each once however the parents are linked.
  std::vector<int64_t> groups{id};
  std::unordered_set<int64_t> seen{id};
  CSqliteStatement& children = db.Statement("SELECT id FROM groups WHERE parent = ?");
  for (size_t i = 0; i < groups.size(); ++i) {
    children.Bind(1, groups[i]);
    while (children.Step()) {
      if (seen.insert(children.Int(0)).second) groups.push_back(children.Int(0));
    }
    children.Reset();
  }
  bool existed = false;
  for (int64_t g : groups) {
    std::vector<int64_t> sources;
    CSqliteStatement& list = db.Statement("SELECT id FROM sources WHERE grp = ?");
    list.Bind(1, g);
    while (list.Step()) sources.push_back(list.Int(0));
    list.Reset();
    for (int64_t s : sources) DeleteSourceRows(db, s);
    CSqliteStatement& group = db.Statement("DELETE FROM groups WHERE id = ?");
    group.Bind(1, g);
    group.Run();
    if (g == id) existed = db.Changes() > 0;
  }
  return existed;
}

namespace {

const std::string& UpdateStateColumns() {
  static const std::string c = "source, " + ValueColumns<UpdateStateFields>(kUpdateStateFieldTable);
  return c;
}

LibraryUpdateState UpdateStateRow(const CSqliteStatement& s) {
  LibraryUpdateState st;
  st.source = static_cast<ObjectId>(s.Int(0));
  ReadValues<UpdateStateFields>(s, 1, st, kUpdateStateFieldTable);
  return st;
}

}  // namespace

bool PutUpdateState(CSqliteDb& db, const LibraryUpdateState& st) {
  // The address is compared with the source's row, so a state fetched
  // from an address the source has left (another process changed it
  // meanwhile) is never stored.
  static const std::string sql = [] {
    std::string values;
    ForEachValue<UpdateStateFields>(kUpdateStateFieldTable, [&](const auto& field) {
      values += std::string(", ") + (std::string(field.column) == "url" ? "url" : "?");
    });
    return "INSERT OR REPLACE INTO update_state(" + UpdateStateColumns() + ") SELECT id" + values +
           " FROM sources WHERE id = ? AND url = ?";
  }();
  CSqliteStatement& s = db.Statement(sql);
  int n = 1;
  ForEachValue<UpdateStateFields>(kUpdateStateFieldTable, [&](const auto& field) {
    if (std::string(field.column) != "url") BindValue(s, n++, st.*field.member);
  });
  s.Bind(n, int64_t{st.source});
  s.Bind(n + 1, std::u16string_view(st.url));
  s.Run();
  if (db.Changes() > 0) return true;
  DropUpdateState(db, st.source, false);
  return false;
}

bool DropUpdateState(CSqliteDb& db, int64_t source, bool validatorsOnly) {
  CSqliteStatement& s = db.Statement(
      validatorsOnly
          ? "UPDATE update_state SET etag = x'', last_modified = x'' WHERE source = ? AND "
            "(length(etag) > 0 OR length(last_modified) > 0)"
          : "DELETE FROM update_state WHERE source = ?");
  s.Bind(1, source);
  s.Run();
  return db.Changes() > 0;
}

bool ReadUpdateState(CSqliteDb& db, int64_t source, LibraryUpdateState& out) {
  CSqliteStatement& s =
      db.Statement("SELECT " + UpdateStateColumns() + " FROM update_state WHERE source = ?");
  s.Bind(1, source);
  const bool found = s.Step();
  if (found) out = UpdateStateRow(s);
  s.Reset();
  return found;
}

void ReadUpdateStates(CSqliteDb& db, std::vector<LibraryUpdateState>& out) {
  CSqliteStatement s = db.Prepare("SELECT " + UpdateStateColumns() + " FROM update_state ORDER BY source");
  while (s.Step()) out.push_back(UpdateStateRow(s));
}

void LogChange(CSqliteDb& db, int64_t writer, RowKind kind, int64_t id) {
  CSqliteStatement& s = db.Statement("INSERT INTO changes(writer, kind, id) VALUES(?, ?, ?)");
  s.Bind(1, writer);
  s.Bind(2, static_cast<int64_t>(kind));
  s.Bind(3, id);
  s.Run();
}

ObjectId LowestInAGroupRing(const std::unordered_map<ObjectId, ObjectId>& parentOf) {
  // Each group is walked over once: a walk up stops at a group an earlier
  // walk has seen (that one either reaches the root level or was a ring
  // already reported), so a deep tree costs its size, not its size times
  // its depth.
  std::unordered_map<ObjectId, size_t> walkOf;  // the walk that saw each group
  size_t walk = 0;
  for (const auto& [start, unused] : parentOf) {
    if (walkOf.count(start) != 0) continue;
    ++walk;
    std::vector<ObjectId> chain;
    ObjectId at = start;
    for (;;) {
      if (at == 0) break;
      auto seen = walkOf.find(at);
      if (seen != walkOf.end()) {
        if (seen->second != walk) at = 0;  // joins an earlier walk
        break;
      }
      walkOf.emplace(at, walk);
      chain.push_back(at);
      auto up = parentOf.find(at);
      at = up == parentOf.end() ? 0 : up->second;
    }
    if (at == 0) continue;
    // `at` closes a ring: the members are the chain from `at` on.
    ObjectId lowest = at;
    for (auto it = std::find(chain.begin(), chain.end(), at); it != chain.end(); ++it) lowest = std::min(lowest, *it);
    return lowest;
  }
  return 0;
}

}  // namespace qb::library
