// quillbend-cli killed at random moments while it writes the library, and
// while it imports a data file on the first start: after every kill the
// library opens, passes SQLite's integrity check, and holds the state before
// the command or the state after it, never a part; a command that finished
// is never undone; the next run leaves no temporary file behind.
//
// A test of the suite KilledSaveTest, so that the runs of many kills
// (scripts/fuzz.sh, QB_KILLED_SAVE_ROUNDS, QB_KILLED_SAVE_SEED) take it too.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "classic/DataFile.h"
#include "library/Library.h"
#include "model/FeedsManager.h"
#include "model/ModelWriter.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/SampleModel.h"
#include "tests/support/TempDir.h"

namespace qb {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using test::BuildLargeModel;

constexpr int kFeedsPerRound = 150;

std::string OpmlWith(const std::string& dir, int round) {
  std::string body = "<opml><body>";
  for (int i = 0; i < kFeedsPerRound; ++i) {
    body += "<outline xmlUrl=\"http://round" + std::to_string(round) + ".example/" + std::to_string(i) + "\"/>";
  }
  body += "</body></opml>";
  const std::string file = dir + "/round" + std::to_string(round) + ".opml";
  test::WriteFile(file, body);
  return file;
}

enum class Found { Before, After, Neither };

// The library opens whole and holds `before` (the bytes of a save of its
// model) or `before` with the round's feeds at the end of the first root
// group. `loaded` gets the bytes of what it holds.
Found Compare(const std::string& path, const std::string& before, int round, std::string& loaded) {
  {
    CSqliteDb db;
    db.Open(path, SQLITE_OPEN_READWRITE);
    CSqliteStatement check = db.Prepare("PRAGMA integrity_check");
    if (!check.Step() || check.Text(0) != "ok") return Found::Neither;
  }
  CLibrary library;
  if (!library.Open(path).opened) return Found::Neither;
  CFeedsManager m;
  if (!library.Load(m).ok) return Found::Neither;
  loaded = SaveToBytes(m);
  Found found = Found::Neither;
  if (loaded == before) {
    found = Found::Before;
  } else {
    const std::string number = std::to_string(round);
    const std::u16string prefix = u"http://round" + std::u16string(number.begin(), number.end()) + u".example/";
    CGroup* g = CModelWriter(m).Group(m.RootGroups()[0]);
    IdList added;
    for (ObjectId id : g->m_sources) {
      const CFeedSource* s = m.GetFeedSource(id);
      if (s != nullptr && s->m_url.compare(0, prefix.size(), prefix) == 0) added.push_back(id);
    }
    if (added.size() == kFeedsPerRound) {
      for (ObjectId id : added) m.DeleteSource(g->m_id, id);
      if (SaveToBytes(m) == before) found = Found::After;
    }
  }
  m.SetArticleStore(nullptr);
  return found;
}

bool AnyTemporary(const std::string& dir) {
  for (const auto& e : fs::directory_iterator(dir)) {
    if (e.path().filename().string().find(".importing-") != std::string::npos) return true;
  }
  return false;
}

TEST(KilledSaveTest, EveryKillLeavesTheLibraryBeforeOrAfterTheCommandAndWhole) {
  const test::KillPlan plan = test::KillPlanFromEnvironment(4);
  const int rounds = plan.rounds;
  SCOPED_TRACE("QB_KILLED_SAVE_SEED=" + std::to_string(plan.seed));
  std::mt19937 rng(plan.seed);

  test::TempDir home;
  const char* oldHome = std::getenv("XDG_DATA_HOME");
  const std::string savedHome = oldHome != nullptr ? oldHome : "";
  setenv("XDG_DATA_HOME", home.path().c_str(), 1);
  const std::string folder = home.path() + "/Velmorant/Quillbend";
  fs::create_directories(folder);
  const std::string data = folder + "/Feeds";
  const std::string library = folder + "/Library.sqlite";
  std::string before;
  {
    CFeedsManager m;
    BuildLargeModel(m);
    ASSERT_TRUE(SaveDataFile(m, data).ok);
    before = SaveToBytes(m);
  }
  const std::string dataBytes = before;

  // The first start, killed while it imports: no library, or the whole one.
  auto start = Clock::now();
  ASSERT_EQ(test::RunProgram(QB_CLI_PATH, {"list"}), 0);
  const auto importing = Clock::now() - start;
  std::string loaded;
  ASSERT_EQ(Compare(library, before, -1, loaded), Found::Before);
  int importsKilled = 0, importsDone = 0;
  for (int round = 0; round < std::max(1, rounds / 2); ++round) {
    for (const char* suffix : {"", "-wal", "-shm"}) fs::remove(library + suffix);
    test::KillAfter(test::StartProgram(QB_CLI_PATH, {"list"}), test::MomentWithin(importing, rng));
    if (fs::exists(library)) {
      ASSERT_EQ(Compare(library, before, -1, loaded), Found::Before) << "a library is only ever whole";
      ++importsDone;
    } else {
      ++importsKilled;
    }
    ASSERT_EQ(test::RunProgram(QB_CLI_PATH, {"list"}), 0);
    EXPECT_FALSE(AnyTemporary(folder));
    ASSERT_EQ(Compare(library, before, -1, loaded), Found::Before);
    EXPECT_TRUE(test::ReadFile(data) == dataBytes) << "the data file stays as it was";
  }

  // Commands killed while they write.
  start = Clock::now();
  ASSERT_EQ(test::RunProgram(QB_CLI_PATH, {"opml-import", OpmlWith(home.path(), 0)}), 0);
  const auto whole = Clock::now() - start;
  ASSERT_EQ(Compare(library, before, 0, loaded), Found::After);
  before = loaded;
  int oldStates = 0, newStates = 0;
  for (int round = 1; round <= rounds; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    const std::string opml = OpmlWith(home.path(), round);
    test::KillAfter(test::StartProgram(QB_CLI_PATH, {"opml-import", opml}), test::MomentWithin(whole, rng));
    const Found found = Compare(library, before, round, loaded);
    ASSERT_NE(found, Found::Neither) << "the library is neither the old state nor the new one";
    (found == Found::Before ? oldStates : newStates)++;
    if (found == Found::After) {
      before = loaded;
      continue;
    }
    // Run again to its end: it is then there for good.
    ASSERT_EQ(test::RunProgram(QB_CLI_PATH, {"opml-import", opml}), 0);
    ASSERT_EQ(Compare(library, before, round, loaded), Found::After);
    before = loaded;
  }
  if (oldHome != nullptr) {
    setenv("XDG_DATA_HOME", savedHome.c_str(), 1);
  } else {
    unsetenv("XDG_DATA_HOME");
  }
  std::printf(
      "[ killed    ] %d imports killed: %d left no library, %d the whole one; %d writes killed: %d left the old "
      "state, %d the new one; an import takes %lld ms, a write %lld ms\n",
      importsKilled + importsDone, importsKilled, importsDone, rounds, oldStates, newStates,
      static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(importing).count()),
      static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(whole).count()));
}

}  // namespace
}  // namespace qb
