// Row-level reading and writing shared by the library's writers (a batch,
// the import): dates, the shared source texts, and the removals that take
// everything below a node with them. Internal to the library; every
// function throws CSqliteError and needs an open write transaction where it
// writes.
#pragma once

#include <cstdint>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "model/ArticleStore.h"
#include "model/DateTime.h"
#include "model/LibraryBatch.h"
#include "model/Sqlite.h"

namespace qb::library {

// What the change log says a row is.
enum class RowKind : int64_t { Group = 1, Source = 2, Article = 3, History = 4, Settings = 5, UpdateState = 6 };
inline constexpr int kRowKinds = 7;  // one more than the greatest

// FNV-1a over the code units: the key under which equal source texts meet,
// and the checksum a description is stored with, so that a text that pages
// of garbage replaced is known for what it is.
int64_t TextHash(std::u16string_view text);

// A date as the OLE Automation date, NULL when not valid.
void BindDate(CSqliteStatement& s, int index, const CDateTime& date);
CDateTime ColumnDate(const CSqliteStatement& s, int column);

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
