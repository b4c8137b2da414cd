// Row-level reading and writing shared by the library's writers (a batch,
// the import): dates, the shared source texts, and the removals that take
// everything below a node with them. Internal to the library; every
// function throws CSqliteError and needs an open write transaction where it
// writes.
#pragma once

#include <cstdint>
#include <string_view>

#include "model/ArticleStore.h"
#include "model/DateTime.h"
#include "model/Sqlite.h"

namespace qb::library {

// What the change log says a row is.
enum class RowKind : int64_t { Group = 1, Source = 2, Article = 3, History = 4, Settings = 5 };

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

void LogChange(CSqliteDb& db, int64_t writer, RowKind kind, int64_t id);

}  // namespace qb::library
