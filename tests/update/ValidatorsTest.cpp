#include "update/Validators.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "classic/DataFile.h"
#include "model/FeedsManager.h"
#include "model/ModelWriter.h"
#include "net/Download.h"
#include "tests/support/FailingWriter.h"
#include "tests/support/TempDir.h"

namespace qb {
namespace {

CValidatorStore SampleStore() {
  CValidatorStore store;
  SourceUpdateState& a = store.Get(7, u"http://example.org/feed?a=1&b=%20");
  a.etag = "W/\"x y=z%\"";
  a.lastModified = "Tue, 05 May 2009 10:00:00 GMT";
  SourceUpdateState& b = store.Get(0xFFFFFFFFu, u"http://caf\u00E9.example/\U0001F600");
  b.failures = 3;
  b.lastAttempt = 1'600'000'000;
  b.lastSuccess = 1'500'000'000;
  b.retryUntil = 1'600'000'600;
  b.failure = u"HTTP status 429; the server allows the next try at 13.09.2020 12:36 \u00E9 %=";
  store.Get(12, u"");  // all empty
  DataFileFingerprint f;
  f.present = true;
  f.device = 2049;
  f.inode = 1234567;
  f.size = 99;
  f.mtimeSec = 1;
  f.mtimeNsec = 2;
  f.ctimeSec = 3;
  f.ctimeNsec = 999'999'999;
  store.SetDataFile(f);
  return store;
}

TEST(ValidatorsTest, TheCacheTextReadsBackExactly) {
  const CValidatorStore store = SampleStore();
  const std::string text = store.Serialize();
  EXPECT_EQ(text.find('\r'), std::string::npos);
  CValidatorStore read;
  ASSERT_TRUE(read.Deserialize(text));
  EXPECT_EQ(read, store);
  EXPECT_EQ(read.Size(), 3u);
}

TEST(ValidatorsTest, DamagedCacheTextIsRefusedOrLosesOnlyWholeSources) {
  const CValidatorStore store = SampleStore();
  const std::string text = store.Serialize();
  // Every cut: refused, or (cut at the end of a line) a part of the sources
  // with nothing made up.
  for (size_t n = 0; n < text.size(); ++n) {
    CValidatorStore read = SampleStore();
    read.Forget(7);
    const CValidatorStore before = read;
    if (!read.Deserialize(text.substr(0, n))) {
      EXPECT_EQ(read, before) << n << ": a refused text leaves the store as it was";
      continue;
    }
    EXPECT_EQ(text[n - 1], '\n') << n;
    EXPECT_EQ(read.DataFile(), store.DataFile()) << n;
    EXPECT_LT(read.Size(), store.Size()) << n;
    // Each source read is one of the originals, unchanged.
    const std::string again = read.Serialize();
    for (size_t pos = 0, end; (end = again.find('\n', pos)) != std::string::npos; pos = end + 1) {
      EXPECT_NE(text.find(again.substr(pos, end - pos + 1)), std::string::npos) << n;
    }
  }
  const std::string damaged[] = {
      "Quillbend fetch state 3\nfile 0 0 0 0 0 0 0 0\n",
      "Quillbend fetch state 2\nfile 0 0 0 0 0 0 0 0\nsource 5 0 0 0 = = =\n",
      "Quillbend fetch state 2\nfile 0 0 0 0 0 0 0 0\nsource 5 0 0 0 x = = = =\n",
      "Quillbend fetch state 2\nfile 0 0 0 0 0 0 0 0\nsource 5 0 0 0 0 = = = %\n",
      "Quillbend fetch state 1\nfile 2 0 0 0 0 0 0 0\n",
      "Quillbend fetch state 1\nfile 0 0 0 0 0 0 0\n",
      "Quillbend fetch state 1\nfile 0 0 0 0 0 0 0 0\nsource 0 0 0 0 = = =\n",
      "Quillbend fetch state 1\nfile 0 0 0 0 0 0 0 0\nsource 5 0 0 0 = = %41\n",
      "Quillbend fetch state 1\nfile 0 0 0 0 0 0 0 0\nsource 5 0 0 0 = = =%4\n",
      "Quillbend fetch state 1\nfile 0 0 0 0 0 0 0 0\nsource 5 -1 0 0 = = =\n",
      "Quillbend fetch state 1\nfile 0 0 0 0 0 0 0 0\nsource 5 0 0 0 = = =\nsource 5 0 0 0 = = =\n",
      "Quillbend fetch state 1\nfile 0 0 0 0 0 0 0 0\nsource 5 0 0 0 =  = =\n",
  };
  for (const std::string& d : damaged) {
    CValidatorStore read;
    EXPECT_FALSE(read.Deserialize(d)) << d;
  }
}

// A file written before the outcome of the last attempt was kept: its
// sources read as they were, their latest failure as the last attempt.
TEST(ValidatorsTest, AnOlderCacheFileStillReads) {
  CValidatorStore read;
  ASSERT_TRUE(read.Deserialize("Quillbend fetch state 1\nfile 1 2 3 4 5 6 7 8\n"
                               "source 9 2 1600000000 1600000600 =http://a/%20b =%22e%22 =m\n"));
  const SourceUpdateState* s = read.Find(9, u"http://a/ b");
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->failures, 2u);
  EXPECT_EQ(s->lastAttempt, 1'600'000'000);
  EXPECT_EQ(s->retryUntil, 1'600'000'600);
  EXPECT_EQ(s->etag, "\"e\"");
  EXPECT_EQ(s->lastModified, "m");
  EXPECT_EQ(s->failure, u"");
  EXPECT_EQ(s->lastSuccess, 0);
  EXPECT_EQ(read.DataFile().inode, 3u);
}

TEST(ValidatorsTest, StateBelongsToOneAddress) {
  CValidatorStore store;
  store.Get(1, u"http://a/").etag = "e";
  EXPECT_NE(store.Find(1, u"http://a/"), nullptr);
  EXPECT_EQ(store.Find(1, u"http://b/"), nullptr);
  EXPECT_EQ(store.Get(1, u"http://b/").etag, "") << "a new address starts afresh";
  EXPECT_EQ(store.Find(1, u"http://a/"), nullptr);
  store.Get(2, u"x");
  store.Get(3, u"y");
  store.Retain({1, 3});
  EXPECT_EQ(store.Size(), 2u);
  store.Forget(3);
  EXPECT_EQ(store.Find(3, u"y"), nullptr);
}

TEST(ValidatorsTest, BackoffAndRetryAfterTimes) {
  struct Backoff {
    uint32_t failures;
    int32_t minutes;
    int64_t seconds;
  };
  const Backoff backoffs[] = {{0, 15, 0},   {1, 15, 60},  {2, 15, 120},  {3, 15, 240}, {4, 15, 480},
                              {5, 15, 900}, {9, 15, 900}, {40, 15, 900}, {3, 3, 180}, {1, 0, 0},
                              {2, -5, 0},   {20, 525'600, (int64_t{1} << 19) * 60}, {40, 525'600, 525'600 * 60}};
  for (const Backoff& b : backoffs) {
    EXPECT_EQ(BackoffSeconds(b.failures, b.minutes), b.seconds) << b.failures << " " << b.minutes;
  }

  const int64_t now = 1'241'517'600;  // Tue, 05 May 2009 10:00:00 GMT
  struct Retry {
    const char* value;
    int64_t until;
  };
  const Retry retries[] = {
      {"120", now + 120},
      {" 5 ", now + 5},
      {"0", 0},
      {"", 0},
      {"soon", 0},
      {"-5", 0},
      {"Tue, 05 May 2009 10:30:00 GMT", now + 1800},
      {"Tue, 05 May 2009 09:00:00 GMT", 0},
      {"99999999999999999999999", now + kMaxRetryAfterSeconds},
      {"Fri, 05 May 2034 10:00:00 GMT", now + kMaxRetryAfterSeconds},
  };
  for (const Retry& r : retries) EXPECT_EQ(ParseRetryAfter(r.value, now), r.until) << r.value;

  CValidatorStore store;
  SourceUpdateState& s = store.Get(1, u"u");
  s.failures = 2;
  s.lastAttempt = now;
  struct Hold {
    int64_t at;
    bool force;
    CValidatorStore::Hold hold;
  };
  const Hold holds[] = {
      {now + 119, false, CValidatorStore::Hold::Backoff},
      {now + 119, true, CValidatorStore::Hold::None},
      {now + 120, false, CValidatorStore::Hold::None},
      {now - 10, false, CValidatorStore::Hold::None},  // the clock went back
  };
  for (const Hold& h : holds) EXPECT_EQ(store.HoldOf(1, u"u", 15, h.force, h.at), h.hold) << h.at;
  EXPECT_EQ(store.HoldOf(1, u"other", 15, false, now + 1), CValidatorStore::Hold::None);
  s.retryUntil = now + 600;
  int64_t until = 0;
  EXPECT_EQ(store.HoldOf(1, u"u", 15, true, now + 599, &until), CValidatorStore::Hold::RetryAfter);
  EXPECT_EQ(until, now + 600);
  EXPECT_EQ(store.HoldOf(1, u"u", 15, true, now + 600), CValidatorStore::Hold::None);
  s.retryUntil = now + 2 * kMaxRetryAfterSeconds;  // only a clock set back gets here
  EXPECT_EQ(store.HoldOf(1, u"u", 15, true, now), CValidatorStore::Hold::None);
}

// Rewriting the data file in place, even with the same bytes and its old
// modification time put back, changes its fingerprint; so does replacing
// it with a copy.
TEST(ValidatorsTest, AnyWriteToTheDataFileChangesItsFingerprint) {
  test::TempDir dir;
  const std::string data = dir.File("Feeds");
  test::WriteFile(data, "0123456789");
  const DataFileFingerprint original = DataFileFingerprint::Of(data);
  ASSERT_TRUE(original.present);
  EXPECT_EQ(DataFileFingerprint::Of(data), original);
  EXPECT_FALSE(DataFileFingerprint::Of(dir.File("missing")).present);

  struct stat st {};
  ASSERT_EQ(::stat(data.c_str(), &st), 0);
  test::WriteFile(data, "0123456789");
  const timespec times[2] = {st.st_atim, st.st_mtim};
  ASSERT_EQ(::utimensat(AT_FDCWD, data.c_str(), times, 0), 0);
  const DataFileFingerprint rewritten = DataFileFingerprint::Of(data);
  EXPECT_EQ(rewritten.mtimeSec, original.mtimeSec);
  EXPECT_EQ(rewritten.mtimeNsec, original.mtimeNsec);
  EXPECT_NE(rewritten, original);

  test::WriteFile(dir.File("copy"), "0123456789");
  ASSERT_EQ(std::rename(dir.File("copy").c_str(), data.c_str()), 0);
  EXPECT_NE(DataFileFingerprint::Of(data), rewritten);
}

TEST(ValidatorsTest, ValidatorsCountOnlyWithTheFileTheyWereSavedWith) {
  test::TempDir dir;
  const std::string data = dir.File("Feeds");
  const std::string cache = dir.File("cache/state");
  test::WriteFile(data, "model");
  CValidatorStore store;
  SourceUpdateState& s = store.Get(1, u"u");
  s.etag = "e";
  s.lastModified = "m";
  s.failures = 2;
  s.lastAttempt = 100;
  s.failure = u"host not found";
  s.retryUntil = 200;
  store.SetDataFile(DataFileFingerprint::Of(data));
  ASSERT_TRUE(store.Save(cache));
  EXPECT_EQ(test::ReadFile(cache), store.Serialize());

  CValidatorStore same;
  same.Load(cache, DataFileFingerprint::Of(data), true);
  EXPECT_EQ(same, store);

  // Voided: another file, a load that failed part-way, no file at all.
  test::WriteFile(dir.File("other"), "model");
  const DataFileFingerprint other = DataFileFingerprint::Of(dir.File("other"));
  const struct {
    DataFileFingerprint file;
    bool whole;
  } voiding[] = {{other, true}, {DataFileFingerprint::Of(data), false}, {DataFileFingerprint{}, true}};
  for (const auto& v : voiding) {
    CValidatorStore read;
    read.Load(cache, v.file, v.whole);
    const SourceUpdateState* r = read.Find(1, u"u");
    ASSERT_NE(r, nullptr);
    EXPECT_TRUE(r->etag.empty());
    EXPECT_TRUE(r->lastModified.empty());
    EXPECT_EQ(r->failures, 2u) << "the back-off stays";
    EXPECT_EQ(r->failure, u"host not found") << "and so does the warning";
    EXPECT_EQ(r->retryUntil, 200);
    EXPECT_EQ(read.DataFile(), v.whole ? v.file : DataFileFingerprint{});
  }

  // A damaged or missing cache is an empty store.
  test::WriteFile(cache, "garbage\n");
  CValidatorStore damaged = store;
  damaged.Load(cache, DataFileFingerprint::Of(data), true);
  EXPECT_EQ(damaged.Size(), 0u);
  CValidatorStore missing = store;
  missing.Load(dir.File("nothing"), DataFileFingerprint::Of(data), true);
  EXPECT_EQ(missing.Size(), 0u);
}

TEST(ValidatorsTest, EachDataFileHasItsOwnCacheFile) {
  test::TempDir cacheHome;
  const char* old = std::getenv("XDG_CACHE_HOME");
  const std::string saved = old ? old : "";
  setenv("XDG_CACHE_HOME", cacheHome.path().c_str(), 1);
  test::TempDir dir;
  const std::string a = CValidatorStore::CachePathFor(dir.File("Feeds"));
  const std::string b = CValidatorStore::CachePathFor(dir.File("Other"));
  const std::string again = CValidatorStore::CachePathFor(dir.path() + "/./x/../Feeds");
  if (old) setenv("XDG_CACHE_HOME", saved.c_str(), 1); else unsetenv("XDG_CACHE_HOME");

  EXPECT_EQ(a.rfind(cacheHome.path() + "/Velmorant/Quillbend/", 0), 0u) << a;
  EXPECT_NE(a, b);
  EXPECT_EQ(a, again);
}

// A save of the data file, with the fetch state of the same moment written
// once the file is on the disk.
TEST(ValidatorsTest, TheStateSavedWithTheFileIsTrustedWithThatFile) {
  test::TempDir cacheHome;
  const char* old = std::getenv("XDG_CACHE_HOME");
  const std::string saved = old ? old : "";
  setenv("XDG_CACHE_HOME", cacheHome.path().c_str(), 1);

  test::TempDir dir;
  const std::string data = dir.File("Feeds");
  CFeedsManager m;
  m.FixUpAfterLoad();
  const ObjectId kept = m.AddSource(m.RootGroups().front(), u"http://a/")->m_id;
  const ObjectId gone = m.AddSource(m.RootGroups().front(), u"http://b/")->m_id;
  CValidatorStore state;
  state.Get(kept, u"http://a/").etag = "\"a\"";
  state.Get(gone, u"http://b/").etag = "\"b\"";
  m.DeleteSource(m.RootGroups().front(), gone);
  CValidatorStore::WriteAfterSave(state.CopyFor(m), data)(SaveDataFile(m, data));
  CValidatorStore read;
  read.Load(CValidatorStore::CachePathFor(data), DataFileFingerprint::Of(data), true);
  ASSERT_NE(read.Find(kept, u"http://a/"), nullptr);
  EXPECT_EQ(read.Find(kept, u"http://a/")->etag, "\"a\"");
  EXPECT_EQ(read.Size(), 1u) << "a deleted source's state is not kept";

  // A save that fails leaves the cache naming the file still on the disk.
  const std::string cache = test::ReadFile(CValidatorStore::CachePathFor(data));
  state.Get(kept, u"http://a/").etag = "\"newer\"";
  CValidatorStore::WriteAfterSave(state.CopyFor(m), data)(
      SaveDataFile(m, data, [](std::unique_ptr<IArchiveWriter> file) {
        return std::make_unique<test::FailingWriter>(std::move(file), 10);
      }));
  EXPECT_EQ(test::ReadFile(CValidatorStore::CachePathFor(data)), cache);
  if (old) setenv("XDG_CACHE_HOME", saved.c_str(), 1); else unsetenv("XDG_CACHE_HOME");
}

}  // namespace
}  // namespace qb
