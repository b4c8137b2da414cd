// The tables of the library and the steps that bring a database of any
// earlier version to the current one. The version is PRAGMA user_version;
// 0 is a new, empty file. Every step ever taken stays here, so a library of
// any version opens.
//
// Version 1: the model.
//   meta(key, value)                  library-wide values (retention_days,
//                                     search_words)
//   groups(id, parent, position, name, expanded)
//   sources(id, grp, position, title, url, legacy_refresh, reserved_date,
//           reserved_string, auto_name, sort_column, sort_direction,
//           comms_status, refresh_interval, retention)
//   articles(id, source, position, channel, title, link, date_text, key,
//            date, read)              without the long texts, so that
//                                     loading the rows never reads them
//   article_texts(article, description, source_text)
//   texts(id, hash, refs, body)       source texts, each stored once and
//                                     counted by the articles naming it
//   history(source, key, article, first_seen, seq)
// Version 2: the full-text index `search` over the words of each article
//   (base/SearchText.h), filled from the stored articles.
// Version 3: the change log `changes(seq, writer, kind, id)` through which
//   a process learns what others committed, and `fetch_state`, the update
//   engine's validators and back-off per source, which no version wrote.
// Version 4: `update_state(source, url, etag, last_modified, failures,
//   last_attempt, last_success, failure, retry_until)` in its place: the
//   update engine's state of each source (library/LibraryBatch.h,
//   LibraryUpdateState), a row only while the source has that address.
// Version 5: `id_blocks(first, last, writer)`, the ranges of identifiers
//   reserved by a session of a process (library/LibraryIds.h), so that two
//   processes never give two new records one identifier; and
//   `articles.arrived`, when the article came (seconds since 1970; the
//   step gives the articles stored before it the time of the step);
//   `articles.starred`; `article_texts.checksum`, TextHash of the
//   description (NULL before);
//   and the application id.
// Version 6: `groups.account`, set on the group of an account of a feed
//   service (its settings, item ids and pending marks are the tables of the
//   module "sync").
// Version 7: `sources.full_article`, whether the source's articles open in
//   the reader view.
//
// Identifiers are the model's. A list is its members' `parent`/`grp`/
// `source` column, ordered by (position, id); positions come from one
// increasing sequence, so an append writes one row and two processes never
// rewrite each other's lists. A group's parent is 0 at the root level and
// NULL when no list names it; a source or article listed nowhere has NULL.
// Strings are BLOBs of UTF-16LE code units (library/Sqlite.h); dates are the
// OLE Automation date as REAL, NULL when not valid.
#pragma once

#include <cstdint>
#include <string_view>

#include "library/Sqlite.h"

namespace qb {

inline constexpr int kLibrarySchemaVersion = 7;

// PRAGMA application_id of a library (version 5 on): the high half marks
// the file as this program's library, the low half is drawn when the
// library is made (or brought to version 5), so that two libraries are
// told apart by their first page.
inline constexpr uint32_t kApplicationMarker = 0x51620000;  // "Qb"
inline bool IsLibraryApplicationId(uint32_t id) { return (id & 0xFFFF0000u) == kApplicationMarker; }
uint32_t NewApplicationId();

// The rule the search index's words follow (base/SearchText.h). A library
// whose index was built by another rule has it rebuilt when it opens.
inline constexpr int kSearchWordsVersion = 1;

// Runs the steps from `fromVersion` up to `toVersion` and sets user_version.
// REQUIRES: a write transaction is open. Throws CSqliteError.
void MigrateLibrary(CSqliteDb& db, int fromVersion, int toVersion = kLibrarySchemaVersion);

// Empties the search index and fills it again from the stored articles.
// REQUIRES: a write transaction is open (schema version 2 or later).
void RebuildSearchIndex(CSqliteDb& db);

// Adds an article's words to the search index, and takes them out again:
// the index keeps no copy of the text, so a removal needs the very words
// that were added.
void IndexArticle(CSqliteDb& db, int64_t id, std::u16string_view title, std::u16string_view channel,
                  std::u16string_view description);
void UnindexArticle(CSqliteDb& db, int64_t id, std::u16string_view title, std::u16string_view channel,
                    std::u16string_view description);

// The value of a meta key, or `fallback`.
int64_t MetaInt(CSqliteDb& db, std::string_view key, int64_t fallback);
void SetMeta(CSqliteDb& db, std::string_view key, int64_t value);

}  // namespace qb
