// The update state kept in the library: a pass's state goes to the disk in
// the transaction of the articles it applied or not at all, a restart keeps
// the warning and the back-off, validators never outlive the articles they
// validated, two users of one library see each other's state, and the
// first start takes over what was kept beside the data file.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <optional>
#include <string>

#include "classic/DataFile.h"
#include "library/Library.h"
#include "library/LibraryLink.h"
#include "model/FeedsManager.h"
#include "model/ModelWriter.h"
#include "tests/support/FakeClock.h"
#include "tests/support/FakeDownloader.h"
#include "tests/support/SampleModel.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempDir.h"
#include "update/UpdateEngine.h"
#include "update/Validators.h"

namespace qb {
namespace {

using test::FakeDownloader;
using test::ScopedEnv;

constexpr char16_t kUrl[] = u"http://feeds.example/news";

std::string Rss(const std::vector<std::string>& guids) {
  std::string s = "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>News</title>";
  for (const std::string& g : guids) s += "<item><title>Item " + g + "</title><guid>" + g + "</guid></item>";
  return s + "</channel></rss>";
}

DownloadResult WithEtag(std::string body, std::string etag) {
  DownloadResult r = FakeDownloader::Body(std::move(body));
  r.etag = std::move(etag);
  return r;
}

// One process on the library: its connections, model, sync, and an update
// engine whose state is the library's.
struct Process {
  explicit Process(const std::string& path, int busyTimeoutMs = 10000) {
    clock.tick = [this] { return tick; };
    clock.time = [this] { return now; };
    model.SetClock(clock);
    LibraryOpenOptions options;
    options.busyTimeoutMs = busyTimeoutMs;
    opened = library.Open(path, options);
    load = library.Load(model);
    std::vector<LibraryUpdateState> stored;
    EXPECT_TRUE(library.ReadUpdateStates(stored));
    engine = std::make_unique<CUpdateEngine>(model, fake, queue);
    engine->Validators().Replace(stored);
    sync = std::make_unique<CLibraryLink>(model, library, &load);
    sync->SetUpdateStates(&engine->Validators());
  }
  ~Process() {
    sync.reset();
    model.SetArticleStore(nullptr);
  }
  CValidatorStore& State() { return engine->Validators(); }
  // Answers the i-th request and applies it.
  void Answer(size_t i, DownloadResult r) {
    fake.Complete(i, std::move(r));
    engine->WaitForReading();
    queue.RunPending();
  }

  test::FakeClock clock;
  uint32_t tick = 10'000'000;
  int64_t now = 1'700'000'000;
  CLibrary library;
  LibraryOpenOutcome opened;
  LibraryLoadResult load;
  CFeedsManager model;
  FakeDownloader fake;
  CTaskQueue queue;
  std::unique_ptr<CUpdateEngine> engine;
  std::unique_ptr<CLibraryLink> sync;  // last: it goes first
};

// A new library holding one source at kUrl; its identifier in `source`.
std::string LibraryWithSource(const test::TempDir& dir, ObjectId& source) {
  const std::string path = dir.File("Library.sqlite");
  Process p(path);
  CFeedSource* s = CModelWriter(p.model).Source(p.model.AddSource(p.model.RootGroups()[0], kUrl)->m_id);
  s->m_refreshInterval = 60;
  source = s->m_id;
  EXPECT_TRUE(p.sync->FlushAndWait().written);
  return path;
}

std::optional<LibraryUpdateState> Stored(const std::string& path, ObjectId source) {
  CLibrary library;
  LibraryOpenOptions options;
  options.readOnly = true;
  EXPECT_TRUE(library.Open(path, options).opened);
  std::vector<LibraryUpdateState> states;
  EXPECT_TRUE(library.ReadUpdateStates(states));
  for (const LibraryUpdateState& st : states) {
    if (st.source == source) return st;
  }
  return std::nullopt;
}

size_t StoredArticles(const std::string& path, ObjectId source) {
  CLibrary library;
  EXPECT_TRUE(library.Open(path).opened);
  CFeedsManager m;
  EXPECT_TRUE(library.Load(m).ok);
  const CFeedSource* s = m.GetFeedSource(source);
  const size_t n = s != nullptr ? s->m_articles.size() : 0;
  m.SetArticleStore(nullptr);
  return n;
}

TEST(ValidatorsLibraryTest, APassesStateCommitsWithItsArticlesAndARestartKeepsTheBackoff) {
  test::TempDir dir;
  ObjectId source = 0;
  const std::string path = LibraryWithSource(dir, source);
  {
    Process p(path, 50);
    ASSERT_TRUE(p.engine->UpdateAll(true));
    p.Answer(0, WithEtag(Rss({"a", "b"}), "\"v1\""));
    ASSERT_EQ(p.model.GetFeedSource(source)->m_articles.size(), 2u);
    ASSERT_EQ(p.State().Find(source, kUrl)->etag, "\"v1\"");

    // The write fails (another process holds the library): neither the
    // articles nor the validators that describe them are stored.
    CSqliteDb other;
    other.Open(path, SQLITE_OPEN_READWRITE);
    other.Exec("BEGIN IMMEDIATE");
    ASSERT_TRUE(p.sync->FlushAndWait(std::chrono::milliseconds(0)).failure.has_value());
    other.Exec("ROLLBACK");
    EXPECT_FALSE(Stored(path, source).has_value());
    EXPECT_EQ(StoredArticles(path, source), 0u);
    // The next attempt carries both.
    ASSERT_TRUE(p.sync->FlushAndWait().written);
    ASSERT_TRUE(Stored(path, source).has_value());
    EXPECT_EQ(Stored(path, source)->etag, "\"v1\"");
    EXPECT_EQ(StoredArticles(path, source), 2u);

    // The next pass fails: the run of failures and the reason are stored,
    // the validators go.
    p.now += 3600;
    ASSERT_TRUE(p.engine->UpdateAll(true));
    ASSERT_EQ(p.fake.Request(1).etag, "\"v1\"");
    p.Answer(1, FakeDownloader::Body("<html>down</html>", 500));
    ASSERT_TRUE(p.sync->FlushAndWait().written);
  }
  const std::optional<LibraryUpdateState> failed = Stored(path, source);
  ASSERT_TRUE(failed.has_value());
  EXPECT_EQ(failed->failures, 1u);
  EXPECT_TRUE(failed->etag.empty());
  EXPECT_FALSE(failed->failure.empty());

  // A restart: the warning is there, and an unforced pass a moment later
  // leaves the source in its back-off (no request goes out).
  Process again(path);
  again.now = 1'700'000'000 + 3600 + 30;
  const SourceUpdateState* st = again.State().Find(source, kUrl);
  ASSERT_NE(st, nullptr);
  EXPECT_EQ(st->failure, failed->failure);
  EXPECT_EQ(again.State().HoldOf(source, kUrl, 60, false, again.now), CValidatorStore::Hold::Backoff);
  again.engine->UpdateAll(false);
  EXPECT_EQ(again.fake.StartedCount(), 0u);
  // Forced, it is fetched, and without validators.
  ASSERT_TRUE(again.engine->UpdateAll(true));
  ASSERT_EQ(again.fake.StartedCount(), 1u);
  EXPECT_TRUE(again.fake.Request(0).etag.empty());
}

TEST(ValidatorsLibraryTest, ValidatorsNeverOutliveTheArticlesTheyValidated) {
  test::TempDir dir;
  ObjectId source = 0;
  const std::string path = LibraryWithSource(dir, source);
  Process a(path), b(path);
  ASSERT_TRUE(a.engine->UpdateAll(true));
  a.Answer(0, WithEtag(Rss({"a"}), "\"v1\""));
  ASSERT_TRUE(a.sync->FlushAndWait().written);
  ASSERT_TRUE(b.sync->Refresh());
  ASSERT_NE(b.State().Find(source, kUrl), nullptr) << "B has the state A stored";
  EXPECT_EQ(b.State().Find(source, kUrl)->etag, "\"v1\"");

  // A clears the source's history: the whole document is wanted again, in
  // the library too, while the failures and the warning would stay.
  a.model.ClearHistory(source);
  ASSERT_TRUE(a.sync->FlushAndWait().written);
  ASSERT_TRUE(Stored(path, source).has_value());
  EXPECT_TRUE(Stored(path, source)->etag.empty());
  ASSERT_TRUE(b.sync->Refresh());
  EXPECT_TRUE(b.State().Find(source, kUrl)->etag.empty());

  // Validators again; then B moves the source to another address while A,
  // which has not seen that, stores a state for the old one.
  ASSERT_TRUE(a.engine->UpdateAll(true));
  a.Answer(1, WithEtag(Rss({"a", "b"}), "\"v2\""));
  ASSERT_TRUE(a.sync->FlushAndWait().written);
  ASSERT_TRUE(b.sync->Refresh());
  b.model.SetSourceUrl(source, u"http://elsewhere.example/news");
  ASSERT_TRUE(b.sync->FlushAndWait().written);
  EXPECT_FALSE(Stored(path, source).has_value()) << "the state of the old address went with it";
  a.State().Get(source, kUrl).etag = "\"stale\"";
  ASSERT_FALSE(a.sync->FlushAndWait().failure);
  EXPECT_FALSE(Stored(path, source).has_value()) << "a state for an address the source left is refused";
  EXPECT_EQ(a.model.GetFeedSource(source)->m_url, u"http://elsewhere.example/news");
  EXPECT_EQ(a.State().Find(source, u"http://elsewhere.example/news"), nullptr);

  // A deleted source takes its state along, in the other process too.
  b.State().Get(source, u"http://elsewhere.example/news").failures = 2;
  ASSERT_TRUE(b.sync->FlushAndWait().written);
  ASSERT_TRUE(Stored(path, source).has_value());
  b.model.DeleteSource(b.model.RootGroups()[0], source);
  ASSERT_TRUE(b.sync->FlushAndWait().written);
  EXPECT_FALSE(Stored(path, source).has_value());
  ASSERT_TRUE(a.sync->Refresh());
  EXPECT_EQ(a.State().Size(), 0u);
}

TEST(ValidatorsLibraryTest, WhatThisProcessHasNotWrittenWinsOverWhatAnotherStored) {
  test::TempDir dir;
  ObjectId source = 0;
  const std::string path = LibraryWithSource(dir, source);
  Process a(path), b(path);
  b.State().Get(source, kUrl).failures = 5;
  ASSERT_TRUE(b.sync->FlushAndWait().written);
  a.State().Get(source, kUrl).failures = 1;  // not written yet
  ASSERT_TRUE(a.sync->Refresh());
  EXPECT_EQ(a.State().Find(source, kUrl)->failures, 1u);
  ASSERT_TRUE(a.sync->FlushAndWait().written);
  EXPECT_EQ(Stored(path, source)->failures, 1u);
  ASSERT_TRUE(b.sync->Refresh());
  EXPECT_EQ(b.State().Find(source, kUrl)->failures, 1u);
}


TEST(ValidatorsLibraryTest, TheFirstStartTakesOverTheStateKeptBesideTheDataFile) {
  // The cache saved with the data file; then, before the first start, the
  // file as it was, written again by another copy, or damaged (the import
  // repairs its lists).
  enum class Before { Nothing, Rewritten, Repaired };
  struct Case {
    Before before;
    bool validators;
    const char* why;
  };
  const Case cases[] = {
      {Before::Nothing, true, ""},
      {Before::Rewritten, false, "written after"},
      {Before::Repaired, false, "repaired"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.before));
    test::TempDir cacheHome, dir;
    ScopedEnv env("XDG_CACHE_HOME", cacheHome.path());
    const std::string data = dir.File("Feeds");
    CFeedsManager m;
    m.SeedRandom(5);
    m.FixUpAfterLoad();
    const CFeedSource* s = m.AddSource(m.RootGroups()[0], kUrl);
    const ObjectId id = s->m_id;
    const ObjectId moved = m.AddSource(m.RootGroups()[0], u"http://other.example/")->m_id;
    CValidatorStore state;
    SourceUpdateState& st = state.Get(id, kUrl);
    st.etag = "\"kept\"";
    st.lastModified = "Tue, 05 May 2009 10:00:00 GMT";
    st.failures = 2;
    st.lastAttempt = 1'700'000'000;
    st.failure = u"HTTP status 503";
    st.retryUntil = 1'700'000'600;
    state.Get(moved, u"http://before-the-move.example/").etag = "\"old address\"";
    if (c.before == Before::Repaired) CModelWriter(m).Group(m.RootGroups()[0])->m_sources.push_back(0x00DEAD00u);
    CValidatorStore::WriteAfterSave(state, data)(SaveDataFile(m, data));
    if (c.before == Before::Rewritten) {
      ASSERT_TRUE(SaveDataFile(m, data).ok);
    }

    LibraryOpenOptions options;
    options.importFrom = data;
    options.importUpdateStates = CValidatorStore::CarryIntoLibrary(data);
    ASSERT_TRUE(options.importUpdateStates);
    CLibrary library;
    const LibraryOpenOutcome out = library.Open(dir.File("Library.sqlite"), options);
    ASSERT_TRUE(out.imported) << out.detail;
    EXPECT_EQ(out.import.updateStates, 1u) << "the state of an address the source left stays out";
    EXPECT_NE(out.import.validatorsDropped.find(c.why), std::string::npos) << out.import.validatorsDropped;
    EXPECT_EQ(out.import.validatorsDropped.empty(), c.validators);
    std::vector<LibraryUpdateState> stored;
    ASSERT_TRUE(library.ReadUpdateStates(stored));
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(stored[0].source, id);
    EXPECT_EQ(stored[0].etag, c.validators ? "\"kept\"" : "");
    EXPECT_EQ(stored[0].lastModified, c.validators ? "Tue, 05 May 2009 10:00:00 GMT" : "");
    // What the warning and the back-off need always comes along.
    EXPECT_EQ(stored[0].failures, 2u);
    EXPECT_EQ(stored[0].lastAttempt, 1'700'000'000);
    EXPECT_EQ(stored[0].failure, u"HTTP status 503");
    EXPECT_EQ(stored[0].retryUntil, 1'700'000'600);
  }
  // Without a cache there is nothing to take over.
  test::TempDir cacheHome, dir;
  ScopedEnv env("XDG_CACHE_HOME", cacheHome.path());
  CFeedsManager m;
  m.FixUpAfterLoad();
  ASSERT_TRUE(SaveDataFile(m, dir.File("Feeds")).ok);
  EXPECT_FALSE(CValidatorStore::CarryIntoLibrary(dir.File("Feeds")));
}

}  // namespace
}  // namespace qb
