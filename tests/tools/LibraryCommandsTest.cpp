// quillbend-cli without --data: the commands work on the user's library,
// the one the window uses, import the classic data file on the first start,
// and work safely while another process (the window) writes to it.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iterator>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "base/Text.h"
#include "classic/DataFile.h"
#include "library/Library.h"
#include "library/LibraryLink.h"
#include "model/FeedsManager.h"
#include "model/ModelWriter.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/FakeClock.h"
#include "tests/support/HttpServer.h"
#include "tests/support/SampleModel.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempDir.h"
#include "tools/Cli.h"

namespace qb {
namespace {

using test::HttpResponse;
using test::HttpServer;
using test::ScopedEnv;

struct CliRun {
  int status;
  std::string out;
  std::string err;
};

std::string Rss(const std::string& channel, const std::vector<std::string>& guids) {
  std::string s = "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>" + channel + "</title>";
  for (const std::string& g : guids) {
    s += "<item><title>" + g + "</title><guid>" + g + "</guid><description>about " + g + "</description></item>";
  }
  return s + "</channel></rss>";
}


class LibraryCommandsTest : public ::testing::Test {
 protected:
  CliRun Cli(std::vector<std::string> args) {
    std::ostringstream out, err;
    const int status = cli::RunCli(args, out, err, m_clock);
    return {status, out.str(), err.str()};
  }
  // Runs quillbend-cli as a process of its own.
  int CliProcess(const std::vector<std::string>& args) { return test::RunProgram(QB_CLI_PATH, args); }
  std::string Folder() const { return m_home.path() + "/Velmorant/Quillbend"; }
  std::string LibraryFile() const { return Folder() + "/Library.sqlite"; }
  std::string DataFile() const { return Folder() + "/Feeds"; }

  test::TempDir m_home;
  test::TempDir m_cache;
  ScopedEnv m_dataHome{"XDG_DATA_HOME", m_home.path()};
  ScopedEnv m_cacheHome{"XDG_CACHE_HOME", m_cache.path()};
  HttpServer m_server;
  test::FakeClock m_clock;
};

TEST_F(LibraryCommandsTest, TheFirstStartImportsTheDataFileAndLeavesItAsItWas) {
  std::filesystem::create_directories(Folder());
  CFeedsManager m;
  test::BuildSampleModel(m);
  for (const auto& [id, record] : m.Storage().IdIndex()) {
    if (auto* g = CModelWriter(m).Group(id)) std::erase(g->m_sources, 0x00DEAD00u);
  }
  ASSERT_TRUE(SaveDataFile(m, DataFile()));
  const std::string bytes = test::ReadFile(DataFile());
  const CliRun classic = Cli({"--data", DataFile(), "list"});
  ASSERT_EQ(classic.status, 0) << classic.err;

  CliRun r = Cli({"list"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, classic.out) << "the same tree, the same counts";
  EXPECT_EQ(r.err, "quillbend-cli: The data file " + DataFile() +
                       " was imported into the library; the file is kept as it was, as a backup.\n");
  EXPECT_TRUE(test::ReadFile(DataFile()) == bytes);
  EXPECT_TRUE(std::filesystem::exists(LibraryFile()));

  r = Cli({"list"});
  EXPECT_EQ(r.out, classic.out);
  EXPECT_EQ(r.err, "") << "imported once";

  // The library exports as the data file it came from.
  r = Cli({"export-data", m_home.File("exported")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(test::ReadFile(m_home.File("exported")) == bytes);
  EXPECT_EQ(Cli({"--data", DataFile(), "export-data", m_home.File("x")}).status, 2);
}

TEST_F(LibraryCommandsTest, CommandsWorkOnTheLibraryAndLeaveTheDataFileAlone) {
  m_server.Set("/news", HttpResponse::Ok(Rss("Loopback News", {"a", "b"})));
  CliRun r = Cli({"add", m_server.Url("/news")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "Loopback News: Comms status: OK\nNew articles: 2\n");
  EXPECT_EQ(Cli({"list"}).out, "All Sources (2 / 2)\n  Loopback News (2 / 2)\n");
  EXPECT_FALSE(std::filesystem::exists(DataFile())) << "no data file is written";

  m_server.Set("/news", HttpResponse::Ok(Rss("Loopback News", {"a", "b", "c"})));
  r = Cli({"update", "--force"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "Loopback News: Comms status: OK\nNew articles: 1\n");
  EXPECT_EQ(Cli({"list"}).out, "All Sources (3 / 3)\n  Loopback News (3 / 3)\n");
  r = Cli({"add", m_server.Url("/news")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "A feed with that URL already exists. Choose another URL.\n");

  // What the window would load: the articles, their texts, their search.
  CLibrary library;
  ASSERT_TRUE(library.Open(LibraryFile()).opened);
  CFeedsManager model;
  ASSERT_TRUE(library.Load(model).ok);
  const IdList found = model.SearchArticles(u"abo");
  ASSERT_EQ(found.size(), 3u);
  EXPECT_EQ(model.ArticleTexts(found[0]).description.str().substr(0, 6), u"about ");
  model.SetArticleStore(nullptr);
}

TEST_F(LibraryCommandsTest, TheValidatorsLastInTheLibraryAsLongAsTheArticlesTheyValidated) {
  HttpResponse withValidators = HttpResponse::Ok(Rss("News", {"a"}));
  withValidators.etag = "\"v1\"";
  m_server.Set("/news", withValidators);
  ASSERT_EQ(Cli({"add", m_server.Url("/news")}).status, 0);
  ASSERT_EQ(Cli({"update", "--force"}).status, 0);
  EXPECT_EQ(m_server.Requests().back().headers.count("if-none-match"), 1u) << "its own validators are sent";
  auto otherProcess = [&](const std::function<void(CFeedsManager&)>& change) {
    CLibrary library;
    ASSERT_TRUE(library.Open(LibraryFile()).opened);
    CFeedsManager model;
    const LibraryLoadResult load = library.Load(model);
    CLibraryLink sync(model, library, &load);
    change(model);
    ASSERT_TRUE(sync.FlushAndWait().written);
    model.SetArticleStore(nullptr);
  };
  // Another process writes to the library in between: the validators are
  // stored with the articles they describe, which it left alone.
  otherProcess([](CFeedsManager& m) { m.Rename(m.RootGroups()[0], u"Renamed by the window"); });
  ASSERT_EQ(Cli({"update", "--force"}).status, 0);
  EXPECT_EQ(m_server.Requests().back().headers.count("if-none-match"), 1u);

  // It gives the source another address: nothing validated there.
  m_server.Set("/moved", withValidators);
  otherProcess([&](CFeedsManager& m) {
    const ObjectId source = m.GetGroup(m.RootGroups()[0])->m_sources.at(0);
    m.SetSourceUrl(source, Utf8ToUtf16(m_server.Url("/moved")));
  });
  ASSERT_EQ(Cli({"update", "--force"}).status, 0);
  EXPECT_EQ(m_server.Requests().back().path, "/moved");
  EXPECT_EQ(m_server.Requests().back().headers.count("if-none-match"), 0u);
  ASSERT_EQ(Cli({"update", "--force"}).status, 0);
  EXPECT_EQ(m_server.Requests().back().headers.count("if-none-match"), 1u) << "the new address's own";
  EXPECT_TRUE(std::filesystem::is_empty(m_cache.path())) << "no cache file beside the library";
}

TEST_F(LibraryCommandsTest, ARetryAfterAndTheWarningOutliveTheCommand) {
  m_server.Set("/news", HttpResponse::Ok(Rss("News", {"a"})));
  ASSERT_EQ(Cli({"add", m_server.Url("/news")}).status, 0);
  HttpResponse busy;
  busy.status = 503;
  busy.reason = "Service Unavailable";
  busy.headers.push_back({"Retry-After", "3600"});
  busy.body = "busy";
  m_server.Set("/news", busy);
  CliRun r = Cli({"update", "--force"});
  EXPECT_NE(r.err.find("News: "), std::string::npos) << r.err;
  const size_t requests = m_server.Requests().size();
  {
    // Stored for the window: the reason of the warning mark.
    CLibrary library;
    ASSERT_TRUE(library.Open(LibraryFile()).opened);
    std::vector<LibraryUpdateState> states;
    ASSERT_TRUE(library.ReadUpdateStates(states));
    ASSERT_EQ(states.size(), 1u);
    EXPECT_EQ(states[0].failures, 1u);
    EXPECT_FALSE(states[0].failure.empty());
    EXPECT_GT(states[0].retryUntil, 0);
  }
  // The next command, a process of its own, holds back even a forced fetch.
  r = Cli({"update", "--force"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.err.find("the server asked to wait until"), std::string::npos) << r.err;
  EXPECT_EQ(m_server.Requests().size(), requests);
}

TEST_F(LibraryCommandsTest, ACommandRunsWhileTheWindowWritesAndNeitherLosesAChange) {
  m_server.Set("/news", HttpResponse::Ok(Rss("News", {"a", "b"})));
  ASSERT_EQ(Cli({"add", m_server.Url("/news")}).status, 0);
  // The window: its own connections, model and sync, changing things all
  // the while, and holding the write lock now and then.
  CLibrary library;
  ASSERT_TRUE(library.Open(LibraryFile()).opened);
  CFeedsManager model;
  model.SeedRandom(9);
  const LibraryLoadResult load = library.Load(model);
  CLibraryLink sync(model, library, &load);
  const ObjectId root = model.RootGroups()[0];
  IdList articles;
  model.CollectFeeds(0, articles);
  ASSERT_EQ(articles.size(), 2u);

  m_server.Set("/other", HttpResponse::Ok(Rss("Other", {"x", "y", "z"})));
  std::thread command([&] { EXPECT_EQ(CliProcess({"add", m_server.Url("/other")}), 0); });
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  int round = 0;
  for (bool done = false; !done && std::chrono::steady_clock::now() < until; ++round) {
    model.MarkRead({articles[round % 2]}, round % 4 < 2);
    model.AddGroup(root, u"Window group " + std::u16string(1, char16_t(u'a' + round % 26)));
    {
      // A longer write of the window's own: the command waits for it.
      CSqliteDb busy;
      busy.Open(LibraryFile(), SQLITE_OPEN_READWRITE);
      sqlite3_busy_timeout(busy.handle(), 10000);
      busy.Exec("BEGIN IMMEDIATE");
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      busy.Exec("COMMIT");
    }
    // The window writes once a turn of its event loop, not all the time.
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    const LibraryFlushReport flushed = sync.FlushAndWait();
    EXPECT_FALSE(flushed.failure) << *flushed.failure;
    if (flushed.failure) break;
    sync.Refresh();
    for (ObjectId g : model.GetGroup(root)->m_sources) {
      const CFeedSource* s = model.GetFeedSource(g);
      if (s != nullptr && s->m_title == u"Other" && s->m_articles.size() == 3) done = true;
    }
  }
  command.join();
  ASSERT_TRUE(sync.FlushAndWait().written || !sync.HasPending());
  sync.Refresh();
  // The window picked up the command's source; the command kept the
  // window's groups and marks.
  const CliRun listed = Cli({"list"});
  EXPECT_NE(listed.out.find("  Other (3 / 3)\n"), std::string::npos) << listed.out;
  EXPECT_NE(listed.out.find("  Window group a\n"), std::string::npos) << listed.out;
  CLibrary fresh;
  ASSERT_TRUE(fresh.Open(LibraryFile()).opened);
  CFeedsManager reloaded;
  ASSERT_TRUE(fresh.Load(reloaded).ok);
  test::ExpectSameModel(model, reloaded);
  reloaded.SetArticleStore(nullptr);
  model.SetArticleStore(nullptr);
}

// What a library holds, without its identifiers: every group by its path,
// every source by its group and address with its articles' keys and read
// flags and its history's keys. Two libraries that went through the same
// operations hold the same, whatever identifiers their records got.
std::multiset<std::string> Holdings(const std::string& libraryFile) {
  std::multiset<std::string> out;
  CLibrary library;
  if (!library.Open(libraryFile).opened) return out;
  CFeedsManager model;
  if (!library.Load(model).ok) return out;
  std::function<void(ObjectId, const std::string&)> walk = [&](ObjectId id, const std::string& above) {
    const CGroup* g = model.GetGroup(id);
    const std::string path = above + "/" + Utf16ToUtf8(g->m_name);
    out.insert("group " + path);
    for (ObjectId c : g->m_childGroups) walk(c, path);
    for (ObjectId sid : g->m_sources) {
      const CFeedSource* s = model.GetFeedSource(sid);
      std::set<std::string> keys, history;
      for (ObjectId a : s->m_articles) {
        keys.insert(Utf16ToUtf8(model.GetFeed(a)->m_key) + (model.GetFeed(a)->m_read ? "+" : "-"));
      }
      for (const auto& [key, entry] : s->m_history) history.insert(Utf16ToUtf8(key));
      std::string line = "source " + path + " " + Utf16ToUtf8(s->m_url) + " " + Utf16ToUtf8(s->m_title) + " |";
      for (const std::string& k : keys) line += " " + k;
      line += " | history " + std::to_string(history.size());
      for (const std::string& k : history) line += " " + k;
      out.insert(line);
    }
  };
  for (ObjectId root : model.RootGroups()) walk(root, "");
  model.SetArticleStore(nullptr);
  return out;
}

TEST_F(LibraryCommandsTest, ProcessesWritingAtOnceLoseNothingASerialReplayKeeps) {
  // Rounds of two or four commands started together (so in the same
  // second, as a script or a cron job beside the window starts them),
  // each adding feeds, importing lists of them or updating them; then the
  // same rounds one command at a time into a second library.
  const char* seedText = std::getenv("QB_CONCURRENT_SEED");
  const unsigned seed = seedText != nullptr ? static_cast<unsigned>(std::strtoul(seedText, nullptr, 10))
                                            : static_cast<unsigned>(std::random_device{}());
  SCOPED_TRACE("QB_CONCURRENT_SEED=" + std::to_string(seed));
  std::mt19937 rng(seed);
  std::map<std::string, int> items;  // each feed's path and how many items it serves
  auto serve = [&](const std::string& path) {
    std::vector<std::string> guids;
    for (int i = 0; i < items[path]; ++i) guids.push_back(path.substr(1) + "-" + std::to_string(i));
    m_server.Set(path, HttpResponse::Ok(Rss("Feed " + path.substr(1), guids)));
  };
  int feeds = 0;
  auto newFeed = [&] {
    const std::string path = "/f" + std::to_string(++feeds);
    items[path] = 150 + static_cast<int>(rng() % 100);
    serve(path);
    return path;
  };
  std::vector<std::vector<std::vector<std::string>>> rounds;
  for (int round = 0; round < 6; ++round) {
    // Between rounds the feeds grow, so that updates add articles too.
    for (auto& [path, n] : items) {
      n += 20;
      serve(path);
    }
    std::vector<std::vector<std::string>> commands;
    const int width = round % 2 == 0 ? 2 : 4;
    for (int c = 0; c < width; ++c) {
      switch (rng() % 3) {
        case 0: commands.push_back({"add", m_server.Url(newFeed())}); break;
        case 1: {
          const std::string opml = m_home.File("list" + std::to_string(round) + "-" + std::to_string(c) + ".opml");
          std::string body = "<opml version=\"2.0\"><body><outline text=\"Imported " + std::to_string(round) + "-" +
                             std::to_string(c) + "\">";
          for (int f = 0; f < 2; ++f) body += "<outline type=\"rss\" text=\"x\" xmlUrl=\"" + m_server.Url(newFeed()) + "\"/>";
          test::WriteFile(opml, body + "</outline></body></opml>");
          commands.push_back({"opml-import", opml, "--update"});
          break;
        }
        default: commands.push_back({"update", "--force"}); break;
      }
    }
    std::vector<pid_t> running;
    for (const auto& args : commands) running.push_back(test::StartProgram(QB_CLI_PATH, args));
    for (size_t c = 0; c < running.size(); ++c) {
      EXPECT_EQ(test::WaitForExit(running[c]), 0) << "round " << round << ": " << commands[c][0];
    }
    rounds.push_back(std::move(commands));
  }
  const std::multiset<std::string> together = Holdings(LibraryFile());

  // The replay: the feeds as each round served them, one command at a time.
  test::TempDir replayHome;
  ScopedEnv replayData{"XDG_DATA_HOME", replayHome.path()};
  for (auto& [path, n] : items) n -= 20 * 6;
  for (const auto& commands : rounds) {
    for (auto& [path, n] : items) {
      n += 20;
      serve(path);
    }
    for (const auto& args : commands) ASSERT_EQ(CliProcess(args), 0) << args[0];
  }
  const std::multiset<std::string> serial = Holdings(replayHome.path() + "/Velmorant/Quillbend/Library.sqlite");
  ASSERT_FALSE(serial.empty());
  // Only what differs, shortened: the holdings run to thousands of keys.
  auto missing = [](const std::multiset<std::string>& a, const std::multiset<std::string>& b) {
    std::vector<std::string> out;
    std::set_difference(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(out));
    std::string text = std::to_string(out.size());
    for (size_t i = 0; i < out.size() && i < 4; ++i) text += "\n  " + out[i].substr(0, 160);
    return text;
  };
  EXPECT_TRUE(together == serial) << "only in the serial replay: " << missing(serial, together)
                              << "\nonly after the commands at once: " << missing(together, serial);
}

TEST_F(LibraryCommandsTest, StarsAreSetByKeyKeptInTheLibraryAndSaidWhereTheyCannotGo) {
  m_server.Set("/news", HttpResponse::Ok(Rss("News", {"a", "b", "c"})));
  ASSERT_EQ(Cli({"add", m_server.Url("/news")}).status, 0);
  CliRun r = Cli({"star", "a", "c", "missing"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "Starred: 2\n");
  EXPECT_EQ(r.err, "quillbend-cli: no article has the key missing\n");
  EXPECT_EQ(Cli({"star", "--off", "c"}).out, "Unstarred: 1\n");
  // What the window's next start reads.
  CLibrary library;
  ASSERT_TRUE(library.Open(LibraryFile()).opened);
  CFeedsManager model;
  ASSERT_TRUE(library.Load(model).ok);
  IdList starred;
  model.CollectFeeds(kStarredNode, starred);
  ASSERT_EQ(starred.size(), 1u);
  EXPECT_EQ(model.GetFeed(starred[0])->m_key, u"a");
  model.SetArticleStore(nullptr);
  r = Cli({"export-data", m_home.File("out")});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err,
            "quillbend-cli: The data file format has no place for stars: 1 starred article was written without its "
            "star.\n");
  EXPECT_EQ(Cli({"--data", m_home.File("out"), "star", "a"}).status, 1) << "a data file keeps no stars";
}

TEST_F(LibraryCommandsTest, ALibraryThatCannotBeUsedIsLeftAsItIs) {
  std::filesystem::create_directories(Folder());
  const std::string garbage(4096, 'g');
  test::WriteFile(LibraryFile(), garbage);
  CliRun r = Cli({"list"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("is damaged and cannot be read; it is left as it is"), std::string::npos) << r.err;
  EXPECT_EQ(test::ReadFile(LibraryFile()), garbage);

  // A command that writes moves it aside and starts afresh.
  m_server.Set("/news", HttpResponse::Ok(Rss("News", {"a"})));
  r = Cli({"add", m_server.Url("/news")});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("The library was damaged and could not be read. It was moved to " + LibraryFile() +
                       ".unreadable-"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(Cli({"list"}).out, "All Sources (1 / 1)\n  News (1 / 1)\n");

  // Written by a newer version: nothing touches it.
  {
    CSqliteDb db;
    db.Open(LibraryFile(), SQLITE_OPEN_READWRITE);
    db.Exec("PRAGMA user_version = 99");
  }
  const std::string newer = test::ReadFile(LibraryFile());
  r = Cli({"add", m_server.Url("/more")});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("newer version of Quillbend"), std::string::npos) << r.err;
  EXPECT_TRUE(test::ReadFile(LibraryFile()) == newer);
}

}  // namespace
}  // namespace qb
