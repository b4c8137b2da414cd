// Row-level reading and writing shared by the library's writers (a batch,
// the import): dates, the shared source texts, and the removals that take
// everything below a node with them. Internal to the library; every
// function throws CSqliteError and needs an open write transaction where it
// writes.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/DateTime.h"
#include "library/LibraryBatch.h"
#include "library/Sqlite.h"
#include "model/ArticleStore.h"

namespace qb::library {

// What the change log says a row is.
enum class RowKind : int64_t { Group = 1, Source = 2, Article = 3, History = 4, Settings = 5, UpdateState = 6 };
inline constexpr int kRowKinds = 7;  // one more than the greatest
// Modules log under kinds of their own from here on (meta "module_kind:NAME").
inline constexpr int64_t kFirstModuleKind = 100;

// FNV-1a over the code units: the key under which equal source texts meet,
// and the checksum a description is stored with, so that a text that pages
// of garbage replaced is known for what it is.
int64_t TextHash(std::u16string_view text);

// A date as the OLE Automation date, NULL when not valid.
void BindDate(CSqliteStatement& s, int index, const CDateTime& date);
CDateTime ColumnDate(const CSqliteStatement& s, int column);

// --- the columns of a record kind's values, from its field table
// (model/Fields.h): the SQL and the binding follow the table, so a field
// added there is a column everywhere the library reads or writes rows.

inline void BindValue(CSqliteStatement& s, int i, const std::u16string& v) { s.Bind(i, std::u16string_view(v)); }
inline void BindValue(CSqliteStatement& s, int i, bool v) { s.Bind(i, int64_t{v}); }
inline void BindValue(CSqliteStatement& s, int i, int32_t v) { s.Bind(i, int64_t{v}); }
inline void BindValue(CSqliteStatement& s, int i, uint8_t v) { s.Bind(i, int64_t{v}); }
inline void BindValue(CSqliteStatement& s, int i, int64_t v) { s.Bind(i, v); }
inline void BindValue(CSqliteStatement& s, int i, const CDateTime& v) { BindDate(s, i, v); }
inline void BindValue(CSqliteStatement& s, int i, uint32_t v) { s.Bind(i, int64_t{v}); }
inline void BindValue(CSqliteStatement& s, int i, const std::string& v) { s.BindBlob(i, v); }
inline void ReadValue(const CSqliteStatement& s, int i, std::u16string& v) { v = s.Text16(i); }
inline void ReadValue(const CSqliteStatement& s, int i, bool& v) { v = s.Int(i) != 0; }
inline void ReadValue(const CSqliteStatement& s, int i, int32_t& v) { v = static_cast<int32_t>(s.Int(i)); }
inline void ReadValue(const CSqliteStatement& s, int i, uint8_t& v) { v = static_cast<uint8_t>(s.Int(i)); }
inline void ReadValue(const CSqliteStatement& s, int i, int64_t& v) { v = s.IsNull(i) ? 0 : s.Int(i); }
inline void ReadValue(const CSqliteStatement& s, int i, CDateTime& v) { v = ColumnDate(s, i); }
inline void ReadValue(const CSqliteStatement& s, int i, uint32_t& v) {
  v = static_cast<uint32_t>(std::max<int64_t>(0, s.Int(i)));
}
inline void ReadValue(const CSqliteStatement& s, int i, std::string& v) { v = std::string(s.Blob(i)); }

// "title, url, ...": the value columns in table order.
template <class Values, class Table>
std::string ValueColumns(const Table& table) {
  std::string out;
  ForEachValue<Values>(table, [&](const auto& field) {
    if (field.column != nullptr) out += (out.empty() ? "" : ", ") + std::string(field.column);
  });
  return out;
}

// As many "?" as there are value columns, after a comma each.
template <class Values, class Table>
std::string ValueMarks(const Table& table) {
  std::string out;
  ForEachValue<Values>(table, [&](const auto& field) {
    if (field.column != nullptr) out += ", ?";
  });
  return out;
}

// "col = CASE WHEN ?1 & flag THEN ?n ELSE col END, ...", the values from
// parameter `first` on: an update of the fields a change names only, so
// that another process's change to the others stays.
template <class Values, class Table>
std::string ValueUpdates(const Table& table, int first) {
  std::string out;
  int n = first;
  ForEachValue<Values>(table, [&](const auto& field) {
    if (field.column == nullptr) return;
    const std::string c = field.column;
    out += (out.empty() ? "" : ", ") + c + " = CASE WHEN ?1 & " + std::to_string(field.flag) + " THEN ?" +
           std::to_string(n++) + " ELSE " + c + " END";
  });
  return out;
}

// Binds the value columns from parameter `first` on; the next parameter.
template <class Values, class Table>
int BindValues(CSqliteStatement& s, int first, const Values& values, const Table& table) {
  ForEachValue<Values>(table, [&](const auto& field) {
    if (field.column != nullptr) BindValue(s, first++, values.*field.member);
  });
  return first;
}

// Reads the value columns from column `first` on; the next column.
template <class Values, class Table>
int ReadValues(const CSqliteStatement& s, int first, Values& values, const Table& table) {
  ForEachValue<Values>(table, [&](const auto& field) {
    if (field.column != nullptr) ReadValue(s, first++, values.*field.member);
  });
  return first;
}

// The identifier of the stored copy of `text`, stored now or counted once
// more when an equal text is stored already; 0 for the empty text.
int64_t StoreText(CSqliteDb& db, const SharedText& text);
// One article fewer names the text; the last one takes it away.
void ReleaseText(CSqliteDb& db, int64_t textId);

// Writes an article's texts and its words in the search index.
void InsertArticleTexts(CSqliteDb& db, int64_t id, std::u16string_view title, std::u16string_view channel,
                        const CArticleTexts& texts);

// Removes the node's rows and everything the library holds below it. False
// when the library held no such row.
bool DeleteArticleRows(CSqliteDb& db, int64_t id);
bool DeleteSourceRows(CSqliteDb& db, int64_t id);
bool DeleteGroupRows(CSqliteDb& db, int64_t id);

// Stores the source's update state, in place of what was stored, when the
// library holds the source under that very address; otherwise removes the
// stored state (it belongs to an address the source no longer has). True
// when stored.
bool PutUpdateState(CSqliteDb& db, const LibraryUpdateState& state);
// Removes the source's update state; with `validatorsOnly`, only its
// validators (the failures and the warning stay). True when a row changed.
bool DropUpdateState(CSqliteDb& db, int64_t source, bool validatorsOnly);
// The stored state of one source (false when none), or of every source.
bool ReadUpdateState(CSqliteDb& db, int64_t source, LibraryUpdateState& out);
void ReadUpdateStates(CSqliteDb& db, std::vector<LibraryUpdateState>& out);

void LogChange(CSqliteDb& db, int64_t writer, RowKind kind, int64_t id);

// Touches no database: given each listed group's parent (0: the root
// level), the lowest identifier of a ring of groups each listed in the
// next that never reaches the root level, else 0. A chain that ends at a
// group no list names is no ring.
ObjectId LowestInAGroupRing(const std::unordered_map<ObjectId, ObjectId>& parentOf);

}  // namespace qb::library
