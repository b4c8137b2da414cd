// quillbend-cli killed at random moments while it loads and saves a large
// data file: after every kill the file loads whole as the model before the
// command or the model after it, and the next complete run leaves no
// temporary file behind.
//
// QB_KILLED_SAVE_ROUNDS sets the number of kills (a handful by default;
// scripts/fuzz.sh asks for many more), QB_KILLED_SAVE_SEED the moments.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "classic/DataFile.h"
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

std::vector<std::string> Temporaries(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) {
    const std::string name = e.path().filename().string();
    if (name.find(".saving-") != std::string::npos) names.push_back(name);
  }
  return names;
}

// The file loads whole as `before`, or as `before` with one more source,
// whose URL is `url`, at the end of the first root group. `loaded` is the
// bytes of the model as loaded.
enum class Found { Before, After, Neither };
Found Compare(const std::string& path, const std::string& before, const std::u16string& url,
              std::string& loaded) {
  CFeedsManager m;
  LoadOptions readOnly;
  readOnly.readOnly = true;
  if (!LoadDataFile(m, path, readOnly).ok()) return Found::Neither;
  loaded = SaveToBytes(m);
  if (loaded == before) return Found::Before;
  CGroup* g = CModelWriter(m).Group(m.RootGroups()[0]);
  if (g == nullptr || g->m_sources.empty()) return Found::Neither;
  const ObjectId added = g->m_sources.back();
  const CFeedSource* s = m.GetFeedSource(added);
  if (s == nullptr || s->m_url != url || !s->m_articles.empty()) return Found::Neither;
  g->m_sources.pop_back();
  m.DeleteObject(added);
  return SaveToBytes(m) == before ? Found::After : Found::Neither;
}

TEST(KilledSaveTest, EveryKillLeavesTheOldOrTheNewModelAndNoTemporaryFileAfterTheNextRun) {
  const test::KillPlan plan = test::KillPlanFromEnvironment(4);
  const int rounds = plan.rounds;
  SCOPED_TRACE("QB_KILLED_SAVE_SEED=" + std::to_string(plan.seed));
  std::mt19937 rng(plan.seed);

  test::TempDir dir;
  const std::string data = dir.File("Feeds");
  std::string before;
  {
    CFeedsManager m;
    BuildLargeModel(m);
    ASSERT_TRUE(SaveDataFile(m, data).ok);
    before = SaveToBytes(m);
  }
  auto opmlFor = [&](int round, std::u16string& url) {
    const std::string u = "http://round" + std::to_string(round) + ".example/";
    url.assign(u.begin(), u.end());
    const std::string file = dir.File("round" + std::to_string(round) + ".opml");
    const std::string body = "<opml><body><outline xmlUrl=\"" + u + "\"/></body></opml>";
    FILE* f = std::fopen(file.c_str(), "wb");
    std::fwrite(body.data(), 1, body.size(), f);
    std::fclose(f);
    return file;
  };
  // How long a whole run takes: the kills fall anywhere within it.
  const auto start = Clock::now();
  std::u16string warmUrl;
  ASSERT_EQ(test::RunProgram(QB_CLI_PATH, {"--data", data, "opml-import", opmlFor(0, warmUrl)}), 0);
  const auto whole = Clock::now() - start;
  std::string after;
  ASSERT_EQ(Compare(data, before, warmUrl, after), Found::After);
  before = after;

  int oldModels = 0, newModels = 0, temporariesLeft = 0;
  for (int round = 1; round <= rounds; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    std::u16string url;
    const std::string opml = opmlFor(round, url);
    const auto delay = test::MomentWithin(whole, rng);
    const pid_t pid = test::StartProgram(QB_CLI_PATH, {"--data", data, "opml-import", opml});
    ASSERT_GT(pid, 0);
    test::KillAfter(pid, delay);

    std::string loaded;
    const Found found = Compare(data, before, url, loaded);
    ASSERT_NE(found, Found::Neither) << "the file is neither the old model nor the new one";
    (found == Found::Before ? oldModels : newModels)++;
    temporariesLeft += !Temporaries(dir.path()).empty();

    // The next run completes: it removes what the killed one left, and the
    // feed is in the file.
    ASSERT_EQ(test::RunProgram(QB_CLI_PATH, {"--data", data, "opml-import", opml}), 0);
    EXPECT_EQ(Temporaries(dir.path()), std::vector<std::string>{});
    ASSERT_EQ(Compare(data, before, url, after), Found::After);
    before = after;
  }
  std::printf("[ killed    ] %d kills: %d left the old model, %d the new one, %d a temporary file; a run takes %lld ms\n",
              rounds, oldModels, newModels, temporariesLeft,
              static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(whole).count()));
}

}  // namespace
}  // namespace qb
