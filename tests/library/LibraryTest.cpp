// The library: classic data files imported into it and exported from it
// byte for byte, its schema and migrations, libraries it cannot use, the
// texts read from it, and its search against the rule in memory.
#include "library/Library.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "base/SearchText.h"
#include "library/LibraryRows.h"
#include "library/LibrarySchema.h"
#include "library/UpdateStateModule.h"
#include "model/FeedsManager.h"
#include "model/ModelWriter.h"
#include "tests/support/ArchiveBytes.h"
#include "tests/support/SampleModel.h"
#include "tests/support/TempDir.h"
#include "tests/support/UpdatePasses.h"

namespace qb {
namespace {

using test::ArchiveBytes;

constexpr uint32_t kSeed = 4242;

// A data file's bytes imported into a fresh library, and the model the
// library then gives.
struct Imported {
  std::string path;
  CLibrary library;
  CFeedsManager model;
  ImportReport report;
  bool ok = false;
};

void Import(const test::TempDir& dir, const std::string& bytes, Imported& out, const std::string& name = "lib") {
  const std::string data = dir.File(name + ".Feeds");
  test::WriteFile(data, bytes);
  out.path = dir.File(name + ".sqlite");
  std::filesystem::remove(out.path);
  std::string error;
  out.ok = ImportDataFile(data, out.path, out.report, &error, &kSeed);
  ASSERT_TRUE(out.ok) << error;
  const LibraryOpenOutcome opened = out.library.Open(out.path);
  ASSERT_TRUE(opened.opened) << opened.detail;
  ASSERT_TRUE(out.library.Load(out.model).ok);
}

// The model LoadDataFile gives for the bytes, made storable the way the
// import makes it.
void Expected(const std::string& bytes, CFeedsManager& m, ImportReport& report) {
  m.SeedRandom(kSeed);
  LoadFromBytes(m, bytes);
  CLibrary::RepairForLibrary(m, report);
}

std::string SampleBytes(bool wellFormed, size_t textLength = 5000) {
  CFeedsManager m;
  test::BuildSampleModel(m, textLength);
  if (wellFormed) {
    for (const auto& [id, record] : m.Storage().IdIndex()) {
      if (auto* g = CModelWriter(m).Group(id)) std::erase(g->m_sources, 0x00DEAD00u);
    }
  }
  return SaveToBytes(m);
}

// Many articles of one download carrying the whole document, as older
// files hold them; and articles with their own item's markup.
std::string SharedTextBytes() {
  CFeedsManager m;
  m.SeedRandom(99);
  m.FixUpAfterLoad();
  CGroup* root = CModelWriter(m).Group(m.RootGroups()[0]);
  const SharedText document(std::u16string(20000, u'd') + u"\u00E9\U0001F600");
  for (int s = 0; s < 3; ++s) {
    CFeedSource* source = CModelWriter(m).NewFeedSource();
    source->m_title = u"Source";
    root->m_sources.push_back(source->m_id);
    for (int a = 0; a < 20; ++a) {
      CFeed* f = CModelWriter(m).NewFeed();
      f->m_title = u"t" + std::u16string(1, char16_t(u'a' + a));
      f->m_key = f->m_title + std::u16string(1, char16_t(u'0' + s));
      f->m_description = u"<p>own text " + f->m_key + u"</p>";
      f->m_sourceText = s == 2 ? SharedText(u"<item>" + f->m_key + u"</item>") : document;
      source->m_articles.push_back(f->m_id);
      source->AddToHistory(*f, CDateTime::FromTime(1'600'000'000));  // one second for all: ties
    }
  }
  return SaveToBytes(m);
}

// A file whose lists a damaged file might hold: an article in two sources
// and twice in one, a source in two groups, a group both at the root and
// inside another, two groups inside each other that no root reaches, and
// a record whose own identifier differs from its store identifier.
std::string DamagedListsBytes() {
  auto group = [](ArchiveBytes& b, uint32_t id, std::u16string_view name, std::vector<uint32_t> children,
                  std::vector<uint32_t> sources) {
    b.U32(3).Header(2, u"CGroup").U32(id).Str(name).U32(static_cast<uint32_t>(children.size()));
    for (uint32_t c : children) b.U32(c);
    b.U32(static_cast<uint32_t>(sources.size()));
    for (uint32_t s : sources) b.U32(s);
    b.U8(1).U32(id);
  };
  auto source = [](ArchiveBytes& b, uint32_t id, std::vector<uint32_t> articles) {
    b.U32(2).Header(7, u"CFeedSource").U32(id).Str(u"S").Str(u"http://s/").U8(0).Date(-1, -1, -1, -1, -1, -1);
    b.U32(static_cast<uint32_t>(articles.size()));
    for (uint32_t a : articles) b.U32(a);
    b.U32(0).Str(u"").U8(0).I32(0).I32(1024).U32(0).Str(u"").I32(15).U32(id);
  };
  auto article = [](ArchiveBytes& b, uint32_t inner, uint32_t id) {
    b.U32(1).Header(3, u"CFeed").U32(inner).Str(u"ch").Str(u"title").Str(u"").Str(u"<p>d</p>").Str(u"");
    b.Str(u"key").Date(2020, 1, 2, 3, 4, 5).U8(0).Str(u"src").U32(id);
  };
  ArchiveBytes b;
  b.Header(1, u"CFeedsManager").U32(3).U32(10).U32(11).U32(10);
  b.Header(1, u"CObjectStorage").U32(10);
  group(b, 10, u"Root", {11, 12}, {20, 21});
  group(b, 11, u"Also root", {}, {20});
  group(b, 12, u"Ring A", {13}, {});
  group(b, 13, u"Ring B", {12, 99}, {});
  group(b, 14, u"Ring C", {15}, {});
  group(b, 15, u"Ring D", {14}, {});
  source(b, 20, {30, 30, 31});
  source(b, 21, {31, 0x12345});
  article(b, 30, 30);
  article(b, 77, 31);
  return b.str();
}

// A file with one source record of the given version.
std::string SourceVersionBytes(uint8_t version) {
  ArchiveBytes b;
  b.Header(1, u"CFeedsManager").U32(1).U32(5).Header(1, u"CObjectStorage").U32(2);
  b.U32(3).Header(2, u"CGroup").U32(5).Str(u"All Sources").U32(0).U32(1).U32(6).U8(1).U32(5);
  b.U32(2).Header(version, u"CFeedSource");
  if (version > 0) {
    b.U32(6).Str(u"Title").Str(u"http://x/").U8(30).Date(2001, 2, 3, 4, 5, 6).U32(0);
    b.U32(1).Str(u"k").I32(5);
    if (version >= 2) b.Str(u"reserved");
    if (version >= 3) b.U8(1);
    if (version >= 4) b.I32(2).I32(512);
    if (version >= 5) b.U32(1).Str(u"a").U32(11).Date(2020, 1, 1, 0, 0, 1);
    if (version >= 6) b.Str(u"Comms status: OK");
    if (version >= 7) b.I32(99);
  }
  b.U32(6);
  return b.str();
}

std::vector<std::pair<std::string, std::string>> ClassicFiles() {
  std::vector<std::pair<std::string, std::string>> files;
  const std::filesystem::path corpus = std::filesystem::path(QB_SOURCE_DIR) / "fuzz/corpus/DataFile";
  for (const auto& e : std::filesystem::directory_iterator(corpus)) {
    files.emplace_back("corpus/" + e.path().filename().string(), test::ReadFile(e.path().string()));
  }
  files.emplace_back("empty", "");
  files.emplace_back("sample", SampleBytes(false));
  files.emplace_back("sample without texts", SampleBytes(true, 0));
  files.emplace_back("shared texts", SharedTextBytes());
  files.emplace_back("damaged lists", DamagedListsBytes());
  for (uint8_t v = 0; v <= 7; ++v) files.emplace_back("source version " + std::to_string(v), SourceVersionBytes(v));
  files.emplace_back("newer version", SourceVersionBytes(8));
  // Cut short and damaged at many places.
  const std::string sample = SampleBytes(true, 10);
  for (size_t cut = 0; cut < sample.size(); cut += 97) files.emplace_back("cut at " + std::to_string(cut), sample.substr(0, cut));
  for (size_t pos = 5; pos < sample.size(); pos += 101) {
    std::string damaged = sample;
    damaged[pos] = damaged[pos] == '\xFF' ? '\x00' : '\xFF';
    files.emplace_back("damaged at " + std::to_string(pos), damaged);
  }
  return files;
}

TEST(LibraryTest, ClassicFilesImportAsTheSameModelAndExportAsTheSameBytes) {
  test::TempDir dir;
  for (const auto& [name, bytes] : ClassicFiles()) {
    SCOPED_TRACE(name);
    CFeedsManager expected;
    ImportReport repairs;
    Expected(bytes, expected, repairs);
    Imported got;
    Import(dir, bytes, got);
    if (HasFatalFailure()) return;
    EXPECT_EQ(got.report.load.status, LoadFromBytes(*std::make_unique<CFeedsManager>(), bytes).status);
    EXPECT_EQ(got.report.repaired(), repairs.repaired());
    test::ExpectSameModel(expected, got.model);
    test::ExpectSameHistoryOrder(expected, got.model);
    EXPECT_EQ(got.model.StoredTextCount(), got.report.articles) << "no text stays in memory";
    // The export is a save of the loaded model with its texts read from the
    // library; the files cut short or damaged check that save alone.
    const std::string bytesOut = SaveToBytes(expected);
    EXPECT_TRUE(SaveToBytes(got.model) == bytesOut);
    if (name.rfind("cut at", 0) != 0 && name.rfind("damaged at", 0) != 0) {
      const std::string exported = dir.File("exported");
      ASSERT_TRUE(got.library.ExportDataFile(exported).ok);
      EXPECT_TRUE(test::ReadFile(exported) == bytesOut) << "the export is the save of the same model";
    }
    if (HasFailure()) return;
  }
}

TEST(LibraryTest, AWellFormedFileComesBackByteForByte) {
  test::TempDir dir;
  for (const std::string& bytes : {SampleBytes(true), SharedTextBytes()}) {
    Imported got;
    Import(dir, bytes, got);
    ASSERT_FALSE(got.report.repaired()) << got.report.RepairNote();
    EXPECT_EQ(got.report.load.status, LoadStatus::Ok);
    ASSERT_TRUE(got.library.ExportDataFile(dir.File("out")).ok);
    EXPECT_TRUE(test::ReadFile(dir.File("out")) == bytes);
  }
}

TEST(LibraryTest, ImportRepairsDamagedListsAndSaysSo) {
  test::TempDir dir;
  Imported got;
  Import(dir, DamagedListsBytes(), got);
  const ImportReport& r = got.report;
  EXPECT_EQ(r.danglingEntries, 2u) << "group 99 and article 0x12345";
  EXPECT_EQ(r.repeatedEntries, 5u)
      << "group 10 twice in the root list, group 11 also inside 10, source 20 in two groups, article 30 twice, "
         "article 31 in two sources";
  EXPECT_EQ(r.brokenRings, 1u) << "14 and 15; the ring of 12 and 13 reaches the root and is broken on load";
  EXPECT_EQ(r.renumberedRecords, 1u);
  EXPECT_NE(r.RepairNote().find("2 entries named nothing"), std::string::npos) << r.RepairNote();
  const CFeedsManager& m = got.model;
  EXPECT_EQ(m.RootGroups(), (IdList{10, 11}));
  EXPECT_EQ(m.GetGroup(10)->m_sources, (IdList{20, 21}));
  EXPECT_TRUE(m.GetGroup(11)->m_sources.empty());
  EXPECT_EQ(m.GetFeedSource(20)->m_articles, (IdList{30, 31}));
  EXPECT_TRUE(m.GetFeedSource(21)->m_articles.empty());
  EXPECT_EQ(m.GetFeed(31)->m_id, 31u);
  EXPECT_EQ(m.GetGroup(14)->m_childGroups, IdList{15}) << "the ring opened at its lowest member";
  EXPECT_TRUE(m.GetGroup(15)->m_childGroups.empty());
  EXPECT_EQ(m.GetGroup(10)->m_childGroups, IdList{12});
  EXPECT_TRUE(m.GetGroup(13)->m_childGroups.empty());
  EXPECT_EQ(m.ArticleTexts(31).sourceText.str(), u"src");
}

// Groups two processes moved into each other: each ring gives up its
// lowest member, and only a ring does (not the groups that lead into it,
// nor a chain that ends at a group no list names).
TEST(LibraryTest, EveryRingOfGroupsIsFoundByItsLowestMember) {
  std::unordered_map<ObjectId, ObjectId> parentOf = {
      {1, 0}, {2, 1},                // the root level and below it
      {40, 50}, {50, 30}, {30, 40},  // a ring of three
      {6, 40}, {2000, 6},            // a chain into it, of lower identifiers
      {7, 99},                       // a subtree listed nowhere
      {12, 11}, {11, 12},            // a ring of two
  };
  std::vector<ObjectId> found;
  while (const ObjectId lowest = library::LowestInAGroupRing(parentOf)) {
    ASSERT_LT(found.size(), 2u) << "a ring was found twice";
    found.push_back(lowest);
    parentOf[lowest] = 0;
  }
  std::sort(found.begin(), found.end());
  EXPECT_EQ(found, (std::vector<ObjectId>{11, 30}));
  EXPECT_EQ(library::LowestInAGroupRing({{1, 0}, {2, 1}, {3, 2}}), 0u);
}

TEST(LibraryTest, SharedTextsAreStoredOnce) {
  test::TempDir dir;
  Imported got;
  Import(dir, SharedTextBytes(), got);
  EXPECT_EQ(got.report.sharedTexts, 1u);
  CSqliteDb db;
  db.Open(got.path, SQLITE_OPEN_READONLY);
  EXPECT_EQ(db.QueryInt("SELECT count(*) FROM texts"), 21) << "the document once, and the 20 items";
  EXPECT_EQ(db.QueryInt("SELECT max(refs) FROM texts"), 40);
}

TEST(LibraryTest, ANewLibraryHasTheCurrentSchemaAndOneRootGroup) {
  test::TempDir dir;
  CLibrary library;
  const LibraryOpenOutcome out = library.Open(dir.File("new/Library.sqlite"));
  ASSERT_TRUE(out.opened) << out.detail;
  EXPECT_TRUE(out.created);
  EXPECT_TRUE(out.writable);
  EXPECT_TRUE(out.message.empty());
  CFeedsManager m;
  ASSERT_TRUE(library.Load(m).ok);
  ASSERT_EQ(m.RootGroups().size(), 1u);
  EXPECT_EQ(m.GetGroup(m.RootGroups()[0])->m_name, kAllSourcesName);
  CSqliteDb db;
  db.Open(dir.File("new/Library.sqlite"), SQLITE_OPEN_READONLY);
  EXPECT_EQ(db.QueryInt("PRAGMA user_version"), kLibrarySchemaVersion);
  CSqliteStatement mode = db.Prepare("PRAGMA journal_mode");
  ASSERT_TRUE(mode.Step());
  EXPECT_EQ(mode.Text(0), "wal");

  // A second library on the same file finds it made.
  CLibrary again;
  EXPECT_FALSE(again.Open(dir.File("new/Library.sqlite")).created);
}

TEST(LibraryTest, LibrariesOfEveryEarlierVersionAreBroughtUpToDate) {
  const std::string bytes = SampleBytes(true);
  CFeedsManager expected;
  ImportReport repairs;
  Expected(bytes, expected, repairs);
  for (int version = 1; version < kLibrarySchemaVersion; ++version) {
    SCOPED_TRACE(version);
    test::TempDir dir;
    // A library as that version left it: its tables, filled by an import
    // of today, with what later versions added taken away again.
    Imported current;
    Import(dir, bytes, current, "current");
    current.library.Close();
    const std::string path = dir.File("old.sqlite");
    {
      CSqliteDb old;
      old.Open(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
      old.Exec("BEGIN");
      MigrateLibrary(old, 0, version);
      old.Exec("ATTACH '" + current.path + "' AS now");
      for (const char* table : {"meta", "groups", "sources", "articles", "texts", "article_texts", "history"}) {
        // The columns that version had.
        std::string columns;
        CSqliteStatement info = old.Prepare(std::string("SELECT name FROM pragma_table_info('") + table + "')");
        while (info.Step()) columns += (columns.empty() ? "" : ", ") + info.Text(0);
        old.Exec(std::string("INSERT OR REPLACE INTO ") + table + " SELECT " + columns + " FROM now." + table);
      }
      if (version < 2) {
        old.Exec("DELETE FROM meta WHERE key = 'search_words'");
      } else {
        RebuildSearchIndex(old);  // as that version kept it
      }
      old.Exec("COMMIT");
      old.Exec("DETACH now");
      EXPECT_EQ(old.QueryInt("PRAGMA user_version"), version);
    }
    {
      // Only read, it is read as it is and stays at its version.
      CLibrary reader;
      LibraryOpenOptions readOnly;
      readOnly.readOnly = true;
      const LibraryOpenOutcome opened = reader.Open(path, readOnly);
      ASSERT_TRUE(opened.opened) << opened.detail << " / " << std::string(opened.message.begin(), opened.message.end());
      CFeedsManager m;
      ASSERT_TRUE(reader.Load(m).ok);
      test::ExpectSameModel(expected, m);
      m.SetArticleStore(nullptr);
      CSqliteDb db;
      db.Open(path, SQLITE_OPEN_READONLY);
      EXPECT_EQ(db.QueryInt("PRAGMA user_version"), version);
    }
    CLibrary library;
    ASSERT_TRUE(library.Open(path).opened);
    CFeedsManager m;
    ASSERT_TRUE(library.Load(m).ok);
    test::ExpectSameModel(expected, m);
    EXPECT_EQ(library.Search(u"alp"), expected.SearchArticles(u"alp")) << "the index built by the migration";
    CSqliteDb db;
    db.Open(path, SQLITE_OPEN_READONLY);
    EXPECT_EQ(db.QueryInt("PRAGMA user_version"), kLibrarySchemaVersion);
    EXPECT_EQ(db.QueryInt("SELECT count(*) FROM sqlite_master WHERE name = 'changes'"), 1);
    EXPECT_EQ(db.QueryInt("SELECT count(*) FROM sqlite_master WHERE name = 'fetch_state'"), 0);

    // The update state table is there and takes a source's state, exactly.
    IdList sources;
    m.CollectSources(0, sources);
    ASSERT_FALSE(sources.empty());
    const CFeedSource* s = m.GetFeedSource(sources.front());
    LibraryUpdateState state;
    state.source = s->m_id;
    state.url = s->m_url;
    state.failure = u"HTTP status 404 é";
    state.etag = std::string("W/\"\0x\"", 6);
    state.lastModified = "Tue, 05 May 2009 10:00:00 GMT";
    state.failures = 4;
    state.lastAttempt = 1'700'000'000;
    state.lastSuccess = 1'600'000'000;
    state.retryUntil = 1'700'003'600;
    // Its module takes the table over (made again with its foreign key).
    CUpdateStateModule module;
    library.AddModule(module);
    CLibraryBatch batch;
    batch.moduleWork.emplace_back(0, [&](CModuleWrite& w) { library::PutUpdateState(w.Db(), state); });
    ASSERT_TRUE(library.Write(batch).ok);
    library.RemoveModule(module);
    std::vector<LibraryUpdateState> stored;
    ASSERT_TRUE(library.ReadUpdateStates(stored));
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(stored[0], state);
    m.SetArticleStore(nullptr);
  }
}

TEST(LibraryTest, ALibraryThatCannotBeUsedIsNeverWrittenOver) {
  test::TempDir dir;
  // Not a database at all: moved aside, a new library in its place.
  const std::string path = dir.File("Library.sqlite");
  const std::string garbage(8192, 'x');
  test::WriteFile(path, garbage);
  {
    CLibrary library;
    const LibraryOpenOutcome out = library.Open(path);
    EXPECT_TRUE(out.opened);
    EXPECT_TRUE(out.created);
    ASSERT_FALSE(out.keptAside.empty());
    EXPECT_EQ(test::ReadFile(out.keptAside), garbage);
    EXPECT_EQ(out.message, LibraryDamagedMessage(out.keptAside));
    EXPECT_NE(out.keptAside.find("Library.sqlite.unreadable-"), std::string::npos) << out.keptAside;
  }
  // Written by a newer version: left exactly as it is, nothing is saved.
  const std::string newer = dir.File("Newer.sqlite");
  {
    CSqliteDb db;
    db.Open(newer, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    db.Exec("CREATE TABLE future(x); PRAGMA user_version = 99;");
  }
  const std::string newerBytes = test::ReadFile(newer);
  {
    CLibrary library;
    const LibraryOpenOutcome out = library.Open(newer);
    EXPECT_FALSE(out.opened);
    EXPECT_EQ(out.message, kLibraryNewerMessage);
    EXPECT_TRUE(out.keptAside.empty());
    EXPECT_FALSE(library.Writable());
  }
  EXPECT_EQ(test::ReadFile(newer), newerBytes);
  // Only read, a damaged one stays where it is.
  const std::string damaged = dir.File("Damaged.sqlite");
  test::WriteFile(damaged, garbage);
  LibraryOpenOptions readOnly;
  readOnly.readOnly = true;
  CLibrary reader;
  const LibraryOpenOutcome out = reader.Open(damaged, readOnly);
  EXPECT_FALSE(out.opened);
  EXPECT_FALSE(out.message.empty());
  EXPECT_EQ(test::ReadFile(damaged), garbage);
}

TEST(LibraryTest, ALibraryInAFolderThatCannotBeWrittenIsReadAndNotChanged) {
  if (::geteuid() == 0) GTEST_SKIP() << "permissions do not apply to root";
  test::TempDir dir;
  const std::string folder = dir.File("locked");
  std::filesystem::create_directory(folder);
  Imported made;
  {
    test::TempDir work;
    Import(work, SampleBytes(true), made);
    made.library.Close();
    std::filesystem::copy_file(made.path, folder + "/Library.sqlite");
  }
  ::chmod(folder.c_str(), 0500);
  CLibrary library;
  const LibraryOpenOutcome out = library.Open(folder + "/Library.sqlite");
  EXPECT_TRUE(out.opened) << out.detail;
  EXPECT_FALSE(out.writable);
  EXPECT_EQ(out.message, LibraryReadOnlyMessage(folder));
  CFeedsManager m;
  EXPECT_TRUE(library.Load(m).ok);
  test::ExpectSameModel(made.model, m);
  CLibraryBatch batch;
  batch.retentionDays = 3;
  EXPECT_FALSE(library.Write(batch).ok);
  ::chmod(folder.c_str(), 0700);
}

TEST(LibraryTest, TheTextsStayInTheLibraryUntilAsked) {
  test::TempDir dir;
  Imported got;
  Import(dir, SampleBytes(true), got);
  CFeedsManager classic;
  LoadFromBytes(classic, SampleBytes(true));
  IdList articles;
  got.model.CollectFeeds(0, articles);
  ASSERT_FALSE(articles.empty());
  for (ObjectId id : articles) {
    const CFeed* a = got.model.GetFeed(id);
    EXPECT_TRUE(a->m_textsStored);
    EXPECT_TRUE(a->m_description.empty());
    EXPECT_TRUE(a->m_sourceText.empty());
    EXPECT_EQ(got.model.ArticleTexts(id), classic.ArticleTexts(id));
  }
  EXPECT_EQ(got.model.ArticleTexts(0xDEADBEEF), CArticleTexts{});
  // SaveDataFile of such a model reads the texts from the library.
  EXPECT_TRUE(SaveToBytes(got.model) == SaveToBytes(classic));
}

// Words from a small vocabulary, some with markup, entities and letters
// outside ASCII, so prefixes meet many words.
std::u16string RandomText(std::mt19937& rng, int words) {
  static const std::vector<std::u16string> vocabulary = {
      u"alpha", u"alps", u"Alphabet", u"beta", u"better", u"<b>bold</b>", u"ÜBER", u"über", u"straße",
      u"&amp;", u"AT&amp;T", u"Σοφία", u"москва", u"東京", u"e-mail", u"x²", u"café", u"<p>", u"</p>",
      u"zeta", u"zebra", u"&lt;script&gt;gone&lt;/script&gt;", u"\U0001F600smile"};
  std::u16string text;
  for (int i = 0; i < words; ++i) {
    if (!text.empty()) text += u' ';
    text += vocabulary[rng() % vocabulary.size()];
  }
  return text;
}

TEST(LibraryTest, SearchFindsWhatTheRuleFindsInMemory) {
  std::mt19937 rng(5);
  CFeedsManager m;
  m.SeedRandom(3);
  m.FixUpAfterLoad();
  IdList sources;
  for (int s = 0; s < 6; ++s) {
    CFeedSource* source = CModelWriter(m).Source(
        m.AddSource(m.RootGroups()[0], u"http://s" + std::u16string(1, char16_t(u'0' + s)))->m_id);
    sources.push_back(source->m_id);
    for (int a = 0; a < 40; ++a) {
      CFeed* f = CModelWriter(m).NewFeed();
      f->m_title = RandomText(rng, 3);
      f->m_channel = RandomText(rng, 1);
      f->m_description = RandomText(rng, 12);
      f->m_key = u"k" + std::u16string(1, char16_t(u'a' + a)) + std::u16string(1, char16_t(u'0' + s));
      if (rng() % 5 != 0) f->m_date = CDateTime::FromTime(1'600'000'000 + static_cast<int64_t>(rng() % 1000) * 3600);
      if (rng() % 7 == 0) f->m_date = CDateTime::Invalid();
      source->m_articles.push_back(f->m_id);
    }
  }
  test::TempDir dir;
  Imported got;
  Import(dir, SaveToBytes(m), got);
  CFeedsManager classic;
  LoadFromBytes(classic, SaveToBytes(m));
  const std::vector<std::u16string> queries = {
      u"a", u"al", u"alp", u"ALPH", u"b be", u"über", u"UBER", u"stra", u"at t", u"σο", u"МОС", u"東", u"e mail",
      u"x²", u"caf", u"bold", u"gone", u"script", u"smile", u"zeb zet", u"nothing", u"a z", u"", u"  ,  "};
  for (const std::u16string& q : queries) {
    SCOPED_TRACE(std::string(q.begin(), q.end()));
    const IdList slow = classic.SearchArticles(q);
    EXPECT_EQ(got.library.Search(q), slow) << "the library's index";
    EXPECT_EQ(got.model.SearchArticles(q), slow) << "the model backed by the library";
    const IdList two{sources[1], sources[4]};
    IdList slowTwo;
    for (ObjectId id : slow) {
      if (classic.FindSourceOfFeed(id)->m_id == two[0] || classic.FindSourceOfFeed(id)->m_id == two[1]) slowTwo.push_back(id);
    }
    EXPECT_EQ(got.library.Search(q, &two), slowTwo) << "in two sources";
    EXPECT_EQ(got.model.SearchArticles(q, sources[2]), classic.SearchArticles(q, sources[2])) << "in one source";
  }
  EXPECT_FALSE(classic.SearchArticles(u"alp").empty());
  EXPECT_TRUE(classic.SearchArticles(u"lpha").empty()) << "a word's middle is no match";
}

// The slow, obvious search: every article of the node, its texts read
// one by one, the rule applied, newest first.
IdList SearchByReading(const CFeedsManager& m, std::u16string_view query, ObjectId node) {
  const std::vector<std::u16string> words = SearchWords(query);
  IdList ids;
  m.CollectFeeds(node, ids);
  std::vector<std::pair<double, ObjectId>> found;
  for (ObjectId id : ids) {
    const CFeed* a = m.GetFeed(id);
    if (WordsMatch(ArticleWords(a->m_title, a->m_channel, m.ArticleTexts(id).description.str()), words))
      found.push_back({a->m_date.IsValid() ? a->m_date.LinearDays() : -1e300, id});
  }
  std::sort(found.begin(), found.end(), [](const auto& x, const auto& y) {
    return x.first != y.first ? x.first > y.first : x.second > y.second;
  });
  IdList out;
  for (const auto& f : found) out.push_back(f.second);
  return out;
}

// Random queries made from the articles' own words (prefixes, other case,
// two words) over a library-backed model that also holds articles not yet
// written and has lost some: the index and the memory together find what
// reading every text finds, in the whole library, a group and a source.
TEST(LibraryTest, RandomQueriesOverStoredAndUnwrittenArticlesFindWhatReadingFinds) {
  std::mt19937 rng(17);
  CFeedsManager m;
  m.SeedRandom(9);
  m.FixUpAfterLoad();
  const ObjectId group = m.AddGroup(m.RootGroups()[0], u"G")->m_id;
  IdList sources;
  for (int s = 0; s < 5; ++s) {
    CFeedSource* source = CModelWriter(m).Source(
        m.AddSource(s < 2 ? group : m.RootGroups()[0], u"http://r" + std::u16string(1, char16_t(u'0' + s)))->m_id);
    sources.push_back(source->m_id);
    for (int a = 0; a < 30; ++a) {
      CFeed* f = CModelWriter(m).NewFeed();
      f->m_title = RandomText(rng, 2);
      f->m_channel = RandomText(rng, 1);
      f->m_description = RandomText(rng, 8);
      f->m_key = u"r" + std::u16string(1, char16_t(u'a' + a)) + std::u16string(1, char16_t(u'0' + s));
      if (rng() % 6 != 0) f->m_date = CDateTime::FromTime(1'600'000'000 + static_cast<int64_t>(rng() % 50) * 86400);
      source->m_articles.push_back(f->m_id);
    }
  }
  test::TempDir dir;
  Imported got;
  Import(dir, SaveToBytes(m), got);
  CFeedsManager& lib = got.model;
  // Some go, and new ones arrive that no one has written yet.
  IdList all;
  lib.CollectFeeds(0, all);
  lib.DeleteArticles({all[3], all[40], all[77], all[140]});
  for (ObjectId sid : {sources[1], sources[3]}) {
    std::vector<ArticleCandidate> arriving(6);
    for (ArticleCandidate& a : arriving) {
      a.fields.m_title = RandomText(rng, 2);
      a.fields.m_channel = RandomText(rng, 1);
      a.fields.m_date = CDateTime::FromTime(1'600'000'000 + static_cast<int64_t>(rng() % 50) * 86400);
      a.description = RandomText(rng, 8);
    }
    DeliverArticles(lib, sid, std::move(arriving));
  }
  all.clear();
  lib.CollectFeeds(0, all);
  ASSERT_LT(lib.StoredTextCount(), all.size()) << "some articles are only in memory";

  const ObjectId nodes[] = {0, group, sources[1], sources[4]};
  int nonEmpty = 0;
  for (int q = 0; q < 150; ++q) {
    std::u16string query;
    for (int w = 0, n = 1 + static_cast<int>(rng() % 2); w < n; ++w) {
      const ObjectId id = all[rng() % all.size()];
      const CFeed* a = lib.GetFeed(id);
      const std::vector<std::u16string> words =
          ArticleWords(a->m_title, a->m_channel, lib.ArticleTexts(id).description.str());
      if (words.empty()) continue;
      std::u16string word = words[rng() % words.size()];
      word.resize(1 + rng() % word.size());
      if (rng() % 3 == 0)
        for (char16_t& c : word) c = c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c;
      query += (query.empty() ? u"" : u" ") + word;
    }
    const ObjectId node = nodes[rng() % std::size(nodes)];
    SCOPED_TRACE(std::string(query.begin(), query.end()) + " in " + std::to_string(node));
    const IdList slow = SearchByReading(lib, query, node);
    EXPECT_EQ(lib.SearchArticles(query, node), slow);
    if (!slow.empty()) ++nonEmpty;
  }
  EXPECT_GT(nonEmpty, 100) << "the queries find something";
}

}  // namespace
}  // namespace qb
