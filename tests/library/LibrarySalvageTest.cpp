// A library that cannot be trusted: damaged pages, a file cut short, a
// write-ahead log that another database left beside it, a database that
// is not a library. Each is said, the file is never written, and what can
// be read of a damaged one is kept.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "base/Text.h"
#include "classic/DataFile.h"
#include "library/Library.h"
#include "library/LibraryLink.h"
#include "library/LibrarySchema.h"
#include "library/ReaderModule.h"
#include "model/FeedsManager.h"
#include "model/ModelWriter.h"
#include "tests/support/SampleModel.h"
#include "tests/support/TempDir.h"

namespace qb {
namespace {

// The articles that have a reader view's text: one in every 500.
IdList ReaderArticles(const CFeedsManager& m) {
  IdList all, some;
  m.CollectFeeds(0, all);
  for (size_t i = 0; i < all.size(); i += 500) some.push_back(all[i]);
  return some;
}

ReaderText ReaderTextOf(ObjectId article) {
  ReaderText t;
  t.article = article;
  t.address = u"https://example.org/" + Utf8ToUtf16(std::to_string(article));
  t.content = u"<p>Quixotically kept text " + t.address + u"</p>";
  return t;
}

// 16 feeds of 250 articles with texts of their own, as a library.
const std::string& GoodLibrary() {
  static test::TempDir dir;
  static const std::string path = [] {
    CFeedsManager m;
    test::BuildLargeModel(m);
    test::WriteFile(dir.File("Feeds"), SaveToBytes(m));
    ImportReport report;
    const std::string library = dir.File("good.sqlite");
    EXPECT_TRUE(ImportDataFile(dir.File("Feeds"), library, report));
    // As the program leaves it, with a module's rows beside the model's:
    // the reader view's text of a few articles.
    CLibrary open;
    EXPECT_TRUE(open.Open(library).opened);
    CFeedsManager model;
    const LibraryLoadResult load = open.Load(model);
    {
      CLibraryLink link(model, open, &load);
      for (ObjectId id : ReaderArticles(model)) link.KeepReaderText(ReaderTextOf(id), u"", u"");
      EXPECT_FALSE(link.FlushAndWait().failure);
    }
    model.SetArticleStore(nullptr);
    return library;
  }();
  return path;
}

struct Article {
  std::u16string key, description;
};

// Every article of the library by identifier, with its description.
std::unordered_map<ObjectId, Article> Articles(const std::string& path, CFeedsManager& m) {
  std::unordered_map<ObjectId, Article> out;
  CLibrary library;
  LibraryOpenOptions readOnly;
  readOnly.readOnly = true;
  if (!library.Open(path, readOnly).opened || !library.Load(m).ok) return out;
  IdList ids;
  m.CollectFeeds(0, ids);
  for (ObjectId id : ids) out[id] = {m.GetFeed(id)->m_key, m.ArticleTexts(id).description.str()};
  m.SetArticleStore(nullptr);
  return out;
}

// The pages of one table of the kind named (SQLite's page statistics).
std::vector<int64_t> PagesOf(const std::string& path, const char* table, const char* kind) {
  std::vector<int64_t> pages;
  CSqliteDb db;
  db.Open(path, SQLITE_OPEN_READONLY);
  CSqliteStatement s = db.Prepare("SELECT pageno FROM dbstat WHERE name = ? AND pagetype = ?");
  s.BindText(1, table);
  s.BindText(2, kind);
  while (s.Step()) pages.push_back(s.Int(0));
  return pages;
}

void Overwrite(const std::string& path, int64_t page, std::mt19937& rng) {
  std::string bytes = test::ReadFile(path);
  for (size_t i = 0; i < 4096; ++i) bytes[static_cast<size_t>(page - 1) * 4096 + i] = static_cast<char>(rng());
  test::WriteFile(path, bytes);
}

TEST(LibrarySalvageTest, WhatCanBeReadOfADamagedLibraryIsKeptAndTheFileIsOnlyRead) {
  CFeedsManager original;
  const std::unordered_map<ObjectId, Article> before = Articles(GoodLibrary(), original);
  ASSERT_EQ(before.size(), 4000u);
  struct Case {
    const char* name;
    const char* table;  // the table a page of which is overwritten; null: the file is cut
    const char* kind;
    size_t atLeast;     // articles kept
    size_t emptied;     // at most this many lose their text
  };
  const Case cases[] = {
      {"a page of article texts", "article_texts", "leaf", 4000, 4},
      {"a leaf of the articles", "articles", "leaf", 3800, 0},
      {"a page of the history", "history", "leaf", 4000, 0},
      {"the second half cut away", nullptr, nullptr, 500, 4000},
  };
  std::mt19937 rng(7);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::TempDir dir;
    const std::string path = dir.File("Library.sqlite");
    std::filesystem::copy_file(GoodLibrary(), path);
    if (c.table != nullptr) {
      const std::vector<int64_t> pages = PagesOf(path, c.table, c.kind);
      ASSERT_FALSE(pages.empty());
      Overwrite(path, pages[pages.size() / 2], rng);
    } else {
      std::filesystem::resize_file(path, std::filesystem::file_size(path) / 2);
    }
    const std::string damaged = test::ReadFile(path);

    CLibrary library;
    const LibraryOpenOutcome out = library.Open(path);
    ASSERT_TRUE(out.opened && out.writable) << out.detail;
    ASSERT_FALSE(out.keptAside.empty());
    EXPECT_TRUE(test::ReadFile(out.keptAside) == damaged) << "the damaged file is only read";
    ASSERT_TRUE(out.salvaged) << out.detail;
    EXPECT_EQ(out.message, LibrarySalvagedMessage(out.keptAside, out.salvage.groups, out.salvage.sources,
                                                  out.salvage.articles));
    library.Close();

    CFeedsManager m;
    const std::unordered_map<ObjectId, Article> after = Articles(path, m);
    EXPECT_EQ(after.size(), out.salvage.articles);
    EXPECT_GE(after.size(), c.atLeast);
    size_t emptied = 0;
    for (const auto& [id, a] : after) {
      auto was = before.find(id);
      ASSERT_NE(was, before.end());
      EXPECT_EQ(a.key, was->second.key);
      // Never garbage: the text as it was, or none.
      if (a.description.empty()) {
        ++emptied;
      } else {
        EXPECT_TRUE(a.description == was->second.description) << Utf16ToUtf8(a.key);
      }
      // Every article kept is in its feed's history, so none comes twice.
      const CFeedSource* s = m.FindSourceOfFeed(id);
      ASSERT_NE(s, nullptr);
      EXPECT_TRUE(s->IsInHistory(a.key));
    }
    EXPECT_LE(emptied, c.emptied);
    // The new library holds together and is found again at the next start,
    // with the module's rows of the articles kept, found by their words,
    // and room for more.
    CLibrary again;
    const LibraryOpenOutcome reopened = again.Open(path);
    EXPECT_TRUE(reopened.opened);
    EXPECT_TRUE(reopened.keptAside.empty()) << reopened.detail;
    CFeedsManager model;
    const LibraryLoadResult load = again.Load(model);
    {
      CLibraryLink link(model, again, &load);
      size_t kept = 0;
      for (ObjectId id : ReaderArticles(original)) {
        ReaderText text;
        if (model.GetFeed(id) == nullptr || !link.FindReaderText(id, text)) continue;
        EXPECT_EQ(text.content, ReaderTextOf(id).content);
        ++kept;
      }
      EXPECT_GE(kept, c.table == nullptr ? 0u : 6u);
      if (c.table != nullptr) {
        EXPECT_FALSE(model.SearchArticles(u"quixotically").empty());
      }
      IdList all;
      model.CollectFeeds(0, all);
      ASSERT_FALSE(all.empty());
      link.KeepReaderText(ReaderTextOf(all.back()), u"", u"");
      EXPECT_FALSE(link.FlushAndWait().failure) << "the module writes into tables it has";
    }
    model.SetArticleStore(nullptr);
  }
}

// A database in WAL mode whose log, with page 1 in it, is copied while its
// connection still holds it (so that nothing was checkpointed).
std::string LogOf(const test::TempDir& dir, const std::string& name, const std::string& sql) {
  const std::string path = dir.File(name);
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);
  sqlite3_exec(db, "PRAGMA journal_mode = WAL; PRAGMA wal_autocheckpoint = 0;", nullptr, nullptr, nullptr);
  EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
  const std::string log = test::ReadFile(path + "-wal");
  sqlite3_close(db);
  return log;
}

TEST(LibrarySalvageTest, ALogOrADatabaseThatIsNotTheLibrarysIsSetAsideBeforeAnythingReadsThroughIt) {
  test::TempDir dir;
  CFeedsManager original;
  const size_t articles = Articles(GoodLibrary(), original).size();
  const std::string unrelated =
      LogOf(dir, "notes.db", "CREATE TABLE notes(id INTEGER PRIMARY KEY, body); INSERT INTO notes(body) VALUES('x');");
  // Another library of this program (an id of its own), its first page in
  // its log.
  std::filesystem::copy_file(GoodLibrary(), dir.File("other.sqlite"));
  int64_t id = 0;
  {
    CSqliteDb db;
    db.Open(GoodLibrary(), SQLITE_OPEN_READONLY);
    id = db.QueryInt("PRAGMA application_id");
  }
  ASSERT_TRUE(IsLibraryApplicationId(static_cast<uint32_t>(id)));
  const std::string otherLibrary = LogOf(
      dir, "other.sqlite", "DELETE FROM articles; PRAGMA application_id = " + std::to_string(id ^ 1) + ";");
  for (const std::string* log : {&unrelated, &otherLibrary}) {
    SCOPED_TRACE(log == &unrelated ? "a log of another database" : "a log of another library");
    test::TempDir home;
    const std::string path = home.File("Library.sqlite");
    std::filesystem::copy_file(GoodLibrary(), path);
    const std::string bytes = test::ReadFile(path);
    test::WriteFile(path + "-wal", *log);

    // Only read: nothing moves, nothing is read through the log.
    LibraryOpenOptions readOnly;
    readOnly.readOnly = true;
    {
      CLibrary reader;
      const LibraryOpenOutcome out = reader.Open(path, readOnly);
      EXPECT_FALSE(out.opened);
      EXPECT_EQ(out.message, LibraryForeignLogMessage(path, {}));
    }
    EXPECT_TRUE(test::ReadFile(path) == bytes);
    EXPECT_TRUE(test::ReadFile(path + "-wal") == *log);

    CLibrary library;
    const LibraryOpenOutcome out = library.Open(path);
    ASSERT_TRUE(out.opened && out.writable) << out.detail;
    ASSERT_FALSE(out.logAside.empty());
    EXPECT_EQ(out.message, LibraryForeignLogMessage(path, out.logAside));
    EXPECT_TRUE(test::ReadFile(out.logAside) == *log);
    library.Close();
    CFeedsManager m;
    EXPECT_EQ(Articles(path, m).size(), articles) << "the library as it was";
  }

  // A database with tables of its own at version 0 is no library: it is
  // moved aside whole and a new library starts.
  test::TempDir home;
  const std::string path = home.File("Library.sqlite");
  {
    CSqliteDb db;
    db.Open(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    db.Exec("CREATE TABLE photos(id INTEGER PRIMARY KEY, name); INSERT INTO photos(name) VALUES('cat');");
  }
  const std::string bytes = test::ReadFile(path);
  CLibrary library;
  const LibraryOpenOutcome out = library.Open(path);
  ASSERT_TRUE(out.opened && out.writable) << out.detail;
  EXPECT_NE(out.keptAside.find(".not-a-library-"), std::string::npos) << out.keptAside;
  EXPECT_TRUE(test::ReadFile(out.keptAside) == bytes);
  CFeedsManager m;
  ASSERT_TRUE(library.Load(m).ok);
  ASSERT_EQ(m.RootGroups().size(), 1u);
  EXPECT_EQ(m.GetGroup(m.RootGroups()[0])->m_name, kAllSourcesName);
  m.SetArticleStore(nullptr);
}

}  // namespace
}  // namespace qb
