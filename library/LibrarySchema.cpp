#include "library/LibrarySchema.h"

#include <ctime>
#include <random>
#include <string>

#include "base/SearchText.h"

namespace qb {

namespace {

constexpr char kVersion1[] = R"sql(
CREATE TABLE meta(key TEXT PRIMARY KEY NOT NULL, value) WITHOUT ROWID;
CREATE TABLE groups(
  id INTEGER PRIMARY KEY,
  parent INTEGER,
  position INTEGER NOT NULL,
  name BLOB NOT NULL,
  expanded INTEGER NOT NULL);
CREATE TABLE sources(
  id INTEGER PRIMARY KEY,
  grp INTEGER,
  position INTEGER NOT NULL,
  title BLOB NOT NULL,
  url BLOB NOT NULL,
  legacy_refresh INTEGER NOT NULL,
  reserved_date REAL,
  reserved_string BLOB NOT NULL,
  auto_name INTEGER NOT NULL,
  sort_column INTEGER NOT NULL,
  sort_direction INTEGER NOT NULL,
  comms_status BLOB NOT NULL,
  refresh_interval INTEGER NOT NULL,
  retention INTEGER NOT NULL DEFAULT 0);
CREATE TABLE articles(
  id INTEGER PRIMARY KEY,
  source INTEGER,
  position INTEGER NOT NULL,
  channel BLOB NOT NULL,
  title BLOB NOT NULL,
  link BLOB NOT NULL,
  date_text BLOB NOT NULL,
  key BLOB NOT NULL,
  date REAL,
  read INTEGER NOT NULL);
CREATE INDEX articles_by_source ON articles(source, read);
CREATE TABLE texts(
  id INTEGER PRIMARY KEY,
  hash INTEGER NOT NULL,
  refs INTEGER NOT NULL,
  body BLOB NOT NULL);
CREATE INDEX texts_by_hash ON texts(hash);
CREATE TABLE article_texts(
  article INTEGER PRIMARY KEY,
  description BLOB NOT NULL,
  source_text INTEGER NOT NULL);
CREATE TABLE history(
  source INTEGER NOT NULL,
  key BLOB NOT NULL,
  article INTEGER NOT NULL,
  first_seen REAL,
  seq INTEGER NOT NULL,
  PRIMARY KEY(source, key)) WITHOUT ROWID;
)sql";

// detail=none keeps no positions: every query is a set of word prefixes,
// and the index stays a fraction of the texts. The prefix indexes answer
// the first two keystrokes without a walk over every word. Segments are
// merged once 16 of a size have gathered rather than 4: an update adding a
// few hundred articles then writes a quarter of the bytes.
constexpr char kVersion2[] = R"sql(
CREATE VIRTUAL TABLE search USING fts5(words, content='', detail=none, tokenize='ascii', prefix='1 2');
INSERT INTO search(search, rank) VALUES('automerge', 16);
)sql";

constexpr char kVersion3[] = R"sql(
CREATE TABLE changes(
  seq INTEGER PRIMARY KEY AUTOINCREMENT,
  writer INTEGER NOT NULL,
  kind INTEGER NOT NULL,
  id INTEGER NOT NULL);
CREATE TABLE fetch_state(
  source INTEGER PRIMARY KEY,
  url BLOB NOT NULL,
  etag BLOB NOT NULL,
  last_modified BLOB NOT NULL,
  failures INTEGER NOT NULL,
  last_failure INTEGER NOT NULL,
  failure_reason BLOB NOT NULL,
  retry_until INTEGER NOT NULL);
)sql";

// Version 3's table was never written; its columns did not hold everything
// the engine keeps.
constexpr char kVersion4[] = R"sql(
DROP TABLE fetch_state;
CREATE TABLE update_state(
  source INTEGER PRIMARY KEY,
  url BLOB NOT NULL,
  etag BLOB NOT NULL,
  last_modified BLOB NOT NULL,
  failures INTEGER NOT NULL,
  last_attempt INTEGER NOT NULL,
  last_success INTEGER NOT NULL,
  failure BLOB NOT NULL,
  retry_until INTEGER NOT NULL);
)sql";

// Blocks do not overlap: the block that could hold an identifier is the one
// with the greatest `first` at or below it.
constexpr char kVersion5[] = R"sql(
CREATE TABLE id_blocks(
  first INTEGER PRIMARY KEY,
  last INTEGER NOT NULL,
  writer INTEGER NOT NULL);
ALTER TABLE articles ADD COLUMN arrived INTEGER;
ALTER TABLE articles ADD COLUMN starred INTEGER NOT NULL DEFAULT 0;
ALTER TABLE article_texts ADD COLUMN checksum INTEGER;
)sql";

// Accounts of feed services are groups marked as such.
constexpr char kVersion6[] = R"sql(
ALTER TABLE groups ADD COLUMN account INTEGER NOT NULL DEFAULT 0;
)sql";

// The reader view's choice of each source.
constexpr char kVersion7[] = R"sql(
ALTER TABLE sources ADD COLUMN full_article INTEGER NOT NULL DEFAULT 0;
)sql";

}  // namespace

uint32_t NewApplicationId() {
  std::random_device device;
  uint32_t low = 0;
  while (low == 0) low = device() & 0xFFFFu;
  return kApplicationMarker | low;
}

int64_t MetaInt(CSqliteDb& db, std::string_view key, int64_t fallback) {
  CSqliteStatement& s = db.Statement("SELECT value FROM meta WHERE key = ?");
  s.BindText(1, key);
  const int64_t value = s.Step() && !s.IsNull(0) ? s.Int(0) : fallback;
  s.Reset();
  return value;
}

void SetMeta(CSqliteDb& db, std::string_view key, int64_t value) {
  CSqliteStatement& s = db.Statement("INSERT OR REPLACE INTO meta(key, value) VALUES(?, ?)");
  s.BindText(1, key);
  s.Bind(2, value);
  s.Run();
}

void IndexArticle(CSqliteDb& db, int64_t id, std::u16string_view title, std::u16string_view channel,
                  std::u16string_view description) {
  CSqliteStatement& s = db.Statement("INSERT INTO search(rowid, words) VALUES(?, ?)");
  s.Bind(1, id);
  s.BindText(2, IndexText(ArticleWords(title, channel, description)));
  s.Run();
}

void UnindexArticle(CSqliteDb& db, int64_t id, std::u16string_view title, std::u16string_view channel,
                    std::u16string_view description) {
  CSqliteStatement& s = db.Statement("INSERT INTO search(search, rowid, words) VALUES('delete', ?, ?)");
  s.Bind(1, id);
  s.BindText(2, IndexText(ArticleWords(title, channel, description)));
  s.Run();
}

void RebuildSearchIndex(CSqliteDb& db) {
  db.Exec("INSERT INTO search(search) VALUES('delete-all')");
  CSqliteStatement rows = db.Prepare(
      "SELECT a.id, a.title, a.channel, t.description FROM articles a "
      "LEFT JOIN article_texts t ON t.article = a.id");
  while (rows.Step()) IndexArticle(db, rows.Int(0), rows.Text16(1), rows.Text16(2), rows.Text16(3));
  db.Exec("INSERT INTO search(search) VALUES('optimize')");
  SetMeta(db, "search_words", kSearchWordsVersion);
}

void MigrateLibrary(CSqliteDb& db, int fromVersion, int toVersion) {
  for (int version = fromVersion + 1; version <= toVersion; ++version) {
    switch (version) {
      case 1: db.Exec(kVersion1); break;
      case 2:
        db.Exec(kVersion2);
        RebuildSearchIndex(db);
        break;
      case 3: db.Exec(kVersion3); break;
      case 4: db.Exec(kVersion4); break;
      case 5: {
        db.Exec(kVersion5);
        // Articles stored before arrival times were kept count as arriving
        // now, so that retention never takes them earlier than it could.
        CSqliteStatement& s = db.Statement("UPDATE articles SET arrived = ? WHERE arrived IS NULL");
        s.Bind(1, static_cast<int64_t>(::time(nullptr)));
        s.Run();
        if (!IsLibraryApplicationId(static_cast<uint32_t>(db.QueryInt("PRAGMA application_id")))) {
          db.Exec("PRAGMA application_id = " + std::to_string(int32_t(NewApplicationId())));
        }
        break;
      }
      case 6: db.Exec(kVersion6); break;
      case 7: db.Exec(kVersion7); break;
      default: break;
    }
  }
  if (toVersion > fromVersion) db.Exec("PRAGMA user_version = " + std::to_string(toVersion));
}

}  // namespace qb
