// quillbend-cli add, update and list on a data file, against a loopback
// feed server. Every command loads the file afresh, as a new run would.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "classic/DataFile.h"
#include "model/FeedsManager.h"
#include "model/ModelWriter.h"
#include "tests/support/FakeClock.h"
#include "tests/support/HttpServer.h"
#include "tests/support/TempDir.h"
#include "tools/Cli.h"

namespace qb {
namespace {

using test::HttpResponse;
using test::HttpServer;

struct CliRun {
  int status;
  std::string out;
  std::string err;
};

std::string Rss(const std::string& channel, const std::vector<std::string>& guids) {
  std::string s = "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>" + channel +
                  "</title>";
  for (const std::string& g : guids) s += "<item><title>" + g + "</title><guid>" + g + "</guid></item>";
  return s + "</channel></rss>";
}

ino_t Inode(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

class UserDataCommandsTest : public ::testing::Test {
 protected:
  // The fetch state goes to a private cache folder, also for the tool run
  // as a separate process.
  void SetUp() override {
    if (const char* old = std::getenv("XDG_CACHE_HOME")) m_oldCache = old;
    setenv("XDG_CACHE_HOME", m_cache.path().c_str(), 1);
    m_clock.time = [this] { return m_now; };
  }
  void TearDown() override {
    if (m_oldCache) setenv("XDG_CACHE_HOME", m_oldCache->c_str(), 1); else unsetenv("XDG_CACHE_HOME");
  }

  CliRun Cli(std::vector<std::string> args) {
    args.insert(args.begin(), {"--data", m_data});
    std::ostringstream out, err;
    const int status = cli::RunCli(args, out, err, m_clock);
    return {status, out.str(), err.str()};
  }

  test::TempDir m_dir;
  test::TempDir m_cache;
  std::optional<std::string> m_oldCache;
  std::string m_data = m_dir.File("Feeds");
  HttpServer m_server;
  test::FakeClock m_clock;
  int64_t m_now = 1'600'000'000;
};

TEST_F(UserDataCommandsTest, AddUpdateAndListSurviveEachRun) {
  m_server.Set("/news", HttpResponse::Ok(Rss("Loopback News", {"a", "b"})));

  CliRun r = Cli({"add", m_server.Url("/news")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "Loopback News: Comms status: OK\nNew articles: 2\n");
  EXPECT_EQ(Cli({"list"}).out, "All Sources (2 / 2)\n  Loopback News (2 / 2)\n");

  // A second feed with nothing to understand; then one new item arrives.
  ASSERT_EQ(Cli({"add", m_server.Url("/gone")}).status, 0);
  m_server.Set("/news", HttpResponse::Ok(Rss("Loopback News", {"a", "b", "c"})));
  r = Cli({"update", "--force"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "Loopback News: Comms status: OK\n" + m_server.Url("/gone") +
                       ": Comms status: ERROR - unable to understand feed contents\n"
                       "New articles: 1\n");
  // The failed source keeps its URL as title and sorts after "Loopback".
  EXPECT_EQ(Cli({"list"}).out, "All Sources (3 / 3)\n  " + m_server.Url("/gone") +
                                   "\n  Loopback News (3 / 3)\n");

  // Unforced, with the tick counter before the first interval ends, nothing
  // is due, nothing changes and the file is not rewritten.
  m_clock.tick = [] { return 1000u; };
  const ino_t inode = Inode(m_data);
  r = Cli({"update"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "New articles: 0\n");
  EXPECT_EQ(Inode(m_data), inode);
  // Once the interval has passed (the tick is 0 after every load), both are
  // due; the failed one once its back-off has passed too (two minutes after
  // its second failure in a row).
  m_clock.tick = [] { return 900'000u; };
  m_now += 120;
  r = Cli({"update"});
  EXPECT_NE(r.out.find("Loopback News: Comms status: OK\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("/gone: Comms status: ERROR"), std::string::npos) << r.out;
}

TEST_F(UserDataCommandsTest, AddRefusesDuplicatesAndUnknownGroups) {
  m_server.Set("/news", HttpResponse::Ok(Rss("News", {"a"})));
  ASSERT_EQ(Cli({"add", m_server.Url("/news")}).status, 0);
  const std::string before = test::ReadFile(m_data);

  CliRun r = Cli({"add", m_server.Url("/news")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "A feed with that URL already exists. Choose another URL.\n");
  r = Cli({"add", m_server.Url("/other"), "--group", "Nowhere"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(Cli({"add"}).status, 2);
  EXPECT_EQ(Cli({"add", "--group", "All Sources"}).status, 2);
  EXPECT_EQ(test::ReadFile(m_data), before) << "refused commands leave the file alone";

  // URLs differing only in case or a trailing slash are other feeds.
  EXPECT_EQ(Cli({"add", m_server.Url("/NEWS")}).status, 0);
  EXPECT_EQ(Cli({"add", m_server.Url("/news/")}).status, 0);
}

TEST_F(UserDataCommandsTest, AddCleansTheAddressBeforeTheDuplicateTest) {
  m_server.Set("/news", HttpResponse::Ok(Rss("News", {"a"})));
  ASSERT_EQ(Cli({"add", m_server.Url("/news")}).status, 0);
  const CliRun r = Cli({"add", "  " + m_server.Url("/news") + "\t"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "A feed with that URL already exists. Choose another URL.\n");
  EXPECT_EQ(Cli({"list"}).out, "All Sources (1 / 1)\n  News (1 / 1)\n");
}

TEST_F(UserDataCommandsTest, AddGoesToTheFirstGroupOfThatNameInTreeOrder) {
  {
    CFeedsManager m;
    m.SeedRandom(3);
    const CGroup* zed = m.AddGroup(0, u"Zed");
    const CGroup* alpha = m.AddGroup(0, u"alpha");
    m.AddGroup(zed->m_id, u"Tech");
    m.AddGroup(alpha->m_id, u"Tech");
    ASSERT_TRUE(SaveDataFile(m, m_data));
  }
  m_server.Set("/t", HttpResponse::Ok(Rss("T", {"1"})));
  m_server.Set("/d", HttpResponse::Ok(Rss("D", {"1", "2"})));
  ASSERT_EQ(Cli({"add", "--group", "Tech", m_server.Url("/t")}).status, 0);
  ASSERT_EQ(Cli({"add", m_server.Url("/d")}).status, 0);
  // "alpha" sorts before "Zed" with only A-Z folded, so its Tech is first,
  // and it is the first root group for a feed added without a group.
  EXPECT_EQ(Cli({"list"}).out,
            "alpha (3 / 3)\n"
            "  Tech (1 / 1)\n"
            "    T (1 / 1)\n"
            "  D (2 / 2)\n"
            "Zed\n"
            "  Tech\n");
}

// Each node labelled as the tree labels it (markup removed, entities and
// references decoded once), and no text of a feed reaches the terminal as
// a control character: not from the data file (list), nor from a feed's
// title or a server (add, update).
TEST_F(UserDataCommandsTest, ListLabelsAsTheTreeAndNoControlCharactersReachTheTerminal) {
  {
    CFeedsManager m;
    m.SeedRandom(5);
    const CGroup* root = m.AddGroup(0, u"News &amp; Views");
    const CGroup* sub = m.AddGroup(root->m_id, u"b-sub");
    m.AddGroup(root->m_id, u"A-sub");
    m.AddGroup(root->m_id, u"_under");  // '_' sorts after the folded letters
    CFeedSource* s1 = CModelWriter(m).Source(m.AddSource(root->m_id, u"caf&#233; &#x26;lt;b&gt;")->m_id);
    CFeedSource* s2 = CModelWriter(m).Source(m.AddSource(root->m_id, u"Beta <b>bold</b> &eacute;t&eacute;")->m_id);
    CFeedSource* s3 = CModelWriter(m).Source(m.AddSource(sub->m_id, u"Deep")->m_id);
    m.AddSource(root->m_id, u"\x1b]0;owned\x07Title\x1b[31m\tred\r\nline \u009b2J\u007f");
    for (int i = 0; i < 3; ++i) {
      CFeed* a = CModelWriter(m).NewFeed();
      a->m_read = i == 0;
      (i < 2 ? s1 : s3)->m_articles.push_back(a->m_id);
    }
    s2->m_articles.push_back(0xDEAD);  // does not resolve: not counted
    ASSERT_TRUE(SaveDataFile(m, m_data));
  }
  const std::string bad = "\xEF\xBF\xBD";  // U+FFFD
  CliRun r = Cli({"list"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "News & Views (2 / 3)\n"
            "  A-sub\n"
            "  b-sub (1 / 1)\n"
            "    Deep (1 / 1)\n"
            "  _under\n"
            "  " + bad + "]0;owned" + bad + "Title" + bad + "[31m\tred" + bad + bad + "line " + bad + "2J" + bad + "\n"
            "  Beta bold \xC3\xA9t\xC3\xA9\n"
            "  caf\xC3\xA9 &lt;b> (1 / 2)\n");

  // A channel title with escapes, as add prints it and update prints it
  // with the reason of a failure.
  m_server.Set("/evil", HttpResponse::Ok(Rss("\x1b]2;x\x07" "Evil\xC2\x9B" "1m", {"a"})));
  r = Cli({"add", m_server.Url("/evil")});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string shown = bad + "]2;x" + bad + "Evil" + bad + "1m";
  EXPECT_EQ(r.out, shown + ": Comms status: OK\nNew articles: 1\n");
  HttpResponse busy;
  busy.status = 503;
  m_server.Set("/evil", busy);
  r = Cli({"update", "--force"});
  EXPECT_NE(r.out.find("\n" + shown + ": Comms status: ERROR"), std::string::npos) << r.out;
  EXPECT_NE(r.err.find("\nquillbend-cli: " + shown + ": HTTP status 503\n"), std::string::npos) << r.err;
  EXPECT_EQ(r.out.find('\x1b'), std::string::npos);
  EXPECT_EQ(r.err.find('\x1b'), std::string::npos);
}

TEST_F(UserDataCommandsTest, UsesTheProgramsLibraryByDefault) {
  test::TempDir home;
  const char* old = std::getenv("XDG_DATA_HOME");
  const std::string saved = old ? old : "";
  setenv("XDG_DATA_HOME", home.path().c_str(), 1);
  m_server.Set("/news", HttpResponse::Ok(Rss("News", {"a"})));
  std::ostringstream out, err;
  const int status = cli::RunCli({"add", m_server.Url("/news")}, out, err);
  if (old) setenv("XDG_DATA_HOME", saved.c_str(), 1); else unsetenv("XDG_DATA_HOME");
  EXPECT_EQ(status, 0) << err.str();
  EXPECT_FALSE(test::ReadFile(home.File("Velmorant/Quillbend/Library.sqlite")).empty());
  EXPECT_FALSE(std::filesystem::exists(home.File("Velmorant/Quillbend/Feeds")));
}

std::vector<std::string> FolderNames(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

TEST_F(UserDataCommandsTest, ReadingCommandsLeaveAnUnreadableFileAloneAndSayWhatHappened) {
  const std::string damaged = "this is not a data file";
  test::WriteFile(m_data, damaged);
  const std::string untouched = m_data + " could not be read whole; it is left untouched\n";

  // list and opml-export only read: the file stays where it is, nothing is
  // created beside it, and the message says so.
  CliRun r = Cli({"list"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "All Sources\n") << "what could be read";
  EXPECT_NE(r.err.find(untouched), std::string::npos) << r.err;
  r = Cli({"opml-export", m_dir.File("out.opml")});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find(untouched), std::string::npos) << r.err;
  EXPECT_EQ(test::ReadFile(m_data), damaged);
  EXPECT_EQ(FolderNames(m_dir.path()), (std::vector<std::string>{"Feeds", "out.opml"}));

  // A command that saves copies it aside first and names the copy.
  m_server.Set("/news", HttpResponse::Ok(Rss("News", {"a"})));
  r = Cli({"add", m_server.Url("/news")});
  EXPECT_EQ(r.status, 0) << r.err;
  const std::string copied = " could not be read whole; it was copied to ";
  const size_t at = r.err.find(m_data + copied);
  ASSERT_NE(at, std::string::npos) << r.err;
  const size_t from = at + m_data.size() + copied.size();
  const std::string copy = r.err.substr(from, r.err.find(' ', from) - from);
  EXPECT_EQ(test::ReadFile(copy), damaged);
  EXPECT_NE(r.err.find("and will be replaced by the next save"), std::string::npos) << r.err;
  EXPECT_EQ(Cli({"list"}).out, "All Sources (1 / 1)\n  News (1 / 1)\n");
}

TEST_F(UserDataCommandsTest, AnEmptyDataFileIsAnEmptyModel) {
  test::WriteFile(m_data, "");
  CliRun r = Cli({"list"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "All Sources\n");
  EXPECT_EQ(r.err, "");
  m_server.Set("/news", HttpResponse::Ok(Rss("News", {"a"})));
  r = Cli({"add", m_server.Url("/news")});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(FolderNames(m_dir.path()), std::vector<std::string>{"Feeds"}) << "nothing put aside";
  EXPECT_EQ(Cli({"list"}).out, "All Sources (1 / 1)\n  News (1 / 1)\n");
}

TEST_F(UserDataCommandsTest, OpmlImportGoesIntoTheFirstRootGroupShownAndExportReportsFailure) {
  {
    CFeedsManager m;
    m.SeedRandom(4);
    m.AddGroup(0, u"Zed");
    const CGroup* alpha = m.AddGroup(0, u"alpha");
    CFeedSource* welcome = CModelWriter(m).Source(m.AddSource(alpha->m_id, u"")->m_id);
    welcome->m_title = u"Welcome!";
    ASSERT_TRUE(SaveDataFile(m, m_data));
  }
  const std::string opml = m_dir.File("in.opml");
  test::WriteFile(opml,
                  "<opml version=\"2.0\"><body><outline text=\"Tech\">"
                  "<outline text=\"T\" xmlUrl=\"http://t.example/\"/></outline>"
                  "<outline text=\"Loose\" xmlUrl=\"http://l.example/\"/></body></opml>");
  CliRun r = Cli({"opml-import", opml});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "Imported 2 new feed(s) and 1 new group(s). 0 feed(s) were skipped because they are "
                   "already in your list.\n");
  EXPECT_EQ(Cli({"list"}).out, "alpha\n  Tech\n    T\n  Loose\n  Welcome!\nZed\n");

  // The export leaves out the source without a URL.
  const std::string out = m_dir.File("out.opml");
  r = Cli({"opml-export", out});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string written = test::ReadFile(out);
  EXPECT_NE(written.find("xmlUrl=\"http://t.example/\""), std::string::npos);
  EXPECT_EQ(written.find("Welcome!"), std::string::npos) << written;

  r = Cli({"opml-export", m_dir.File("no/such/folder/out.opml")});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("could not be written"), std::string::npos) << r.err;
}

// Import into one empty data file, export, import into another: the same
// tree, and a second import changes nothing.
TEST_F(UserDataCommandsTest, AnOpmlRoundTripGivesTheSameTree) {
  const std::string in = m_dir.File("in.opml");
  test::WriteFile(in,
                  "<opml version=\"2.0\"><body><outline text=\"Tech\">"
                  "<outline text=\"Deep\"><outline text=\"D\" xmlUrl=\"http://d.example/\"/></outline>"
                  "<outline text=\"T\" xmlUrl=\"http://t.example/\"/></outline>"
                  "<outline text=\"Loose\" xmlUrl=\"http://l.example/\"/></body></opml>");
  ASSERT_EQ(Cli({"opml-import", in}).status, 0);
  const std::string tree = Cli({"list"}).out;
  EXPECT_EQ(tree, "All Sources\n  Tech\n    Deep\n      D\n    T\n  Loose\n");
  const std::string out = m_dir.File("out.opml");
  ASSERT_EQ(Cli({"opml-export", out}).status, 0);

  m_data = m_dir.File("Other");
  CliRun r = Cli({"opml-import", out});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Cli({"list"}).out, tree);
  r = Cli({"opml-import", out});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "Imported 0 new feed(s) and 0 new group(s). 3 feed(s) were skipped because they are "
                   "already in your list.\n");
  EXPECT_EQ(Cli({"list"}).out, tree);
}

// The real tool, run as a separate process each time.
TEST_F(UserDataCommandsTest, TheToolItself) {
  m_server.Set("/news", HttpResponse::Ok(Rss("Separate", {"x", "y"})));
  auto run = [&](const std::string& args) {
    std::string output;
    FILE* p = popen((std::string(QB_CLI_PATH) + " --data '" + m_data + "' " + args + " 2>&1").c_str(), "r");
    if (p == nullptr) return output;
    char buf[256];
    while (fgets(buf, sizeof(buf), p)) output += buf;
    pclose(p);
    return output;
  };
  EXPECT_EQ(run("add " + m_server.Url("/news")), "Separate: Comms status: OK\nNew articles: 2\n");
  EXPECT_EQ(run("list"), "All Sources (2 / 2)\n  Separate (2 / 2)\n");
}

TEST_F(UserDataCommandsTest, UnchangedFeedsAnswer304AndTheFileStaysAsItIs) {
  HttpResponse news = HttpResponse::Ok(Rss("News", {"a", "b"}));
  news.etag = "\"v1\"";
  m_server.Set("/news", news);
  ASSERT_EQ(Cli({"add", m_server.Url("/news")}).status, 0);
  const ino_t inode = Inode(m_data);

  const CliRun r = Cli({"update", "--force"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "News: Comms status: OK\nNew articles: 0\n");
  const std::vector<test::HttpRequest> requests = m_server.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].headers.count("if-none-match"), 0u);
  EXPECT_EQ(requests[1].headers.at("if-none-match"), "\"v1\"");
  EXPECT_EQ(Inode(m_data), inode) << "nothing changed: the file is not written";

  // A changed document comes whole, and its new article arrives.
  news.body = Rss("News", {"a", "b", "c"});
  news.etag = "\"v2\"";
  m_server.Set("/news", news);
  EXPECT_EQ(Cli({"update", "--force"}).out, "News: Comms status: OK\nNew articles: 1\n");
  EXPECT_EQ(Cli({"list"}).out, "All Sources (3 / 3)\n  News (3 / 3)\n");
}

TEST_F(UserDataCommandsTest, ValidatorsAreVoidOnceTheDataFileIsReplaced) {
  HttpResponse news = HttpResponse::Ok(Rss("News", {"a", "b"}));
  news.etag = "\"v1\"";
  m_server.Set("/news", news);
  ASSERT_EQ(Cli({"add", m_server.Url("/news")}).status, 0);
  const std::string backup = m_dir.File("Feeds.backup");
  std::filesystem::copy_file(m_data, backup);

  news.body = Rss("News", {"a", "b", "c"});
  news.etag = "\"v2\"";
  m_server.Set("/news", news);
  ASSERT_EQ(Cli({"update", "--force"}).out, "News: Comms status: OK\nNew articles: 1\n");

  // The user restores the older file, which lacks "c". Sending "v2" now
  // would get a 304 and "c" would never come back.
  for (bool byRename : {false, true}) {
    SCOPED_TRACE(byRename);
    if (byRename) {
      std::filesystem::copy_file(backup, m_dir.File("restored"));
      std::filesystem::rename(m_dir.File("restored"), m_data);
    } else {
      std::filesystem::copy_file(backup, m_data, std::filesystem::copy_options::overwrite_existing);
    }
    EXPECT_EQ(Cli({"list"}).out, "All Sources (2 / 2)\n  News (2 / 2)\n");
    const size_t before = m_server.Requests().size();
    const CliRun r = Cli({"update", "--force"});
    EXPECT_EQ(r.out, "News: Comms status: OK\nNew articles: 1\n");
    ASSERT_EQ(m_server.Requests().size(), before + 1);
    EXPECT_EQ(m_server.Requests().back().headers.count("if-none-match"), 0u);
    EXPECT_EQ(Cli({"list"}).out, "All Sources (3 / 3)\n  News (3 / 3)\n");
  }
  // Each data file keeps its own validators: the backup has none.
  const size_t before = m_server.Requests().size();
  std::ostringstream out, err;
  ASSERT_EQ(cli::RunCli({"--data", backup, "update", "--force"}, out, err, m_clock), 0);
  ASSERT_EQ(m_server.Requests().size(), before + 1);
  EXPECT_EQ(m_server.Requests().back().headers.count("if-none-match"), 0u);
}

TEST_F(UserDataCommandsTest, RetryAfterIsHonouredAcrossRuns) {
  m_server.Set("/busy", HttpResponse::Ok(Rss("Busy", {"a"})));
  ASSERT_EQ(Cli({"add", m_server.Url("/busy")}).status, 0);
  m_server.Set("/busy", HttpResponse::RetryLater(429, "3600"));
  CliRun r = Cli({"update", "--force"});
  EXPECT_EQ(r.out, "Busy: Comms status: ERROR - unable to understand feed contents\nNew articles: 0\n");
  EXPECT_NE(r.err.find("HTTP status 429"), std::string::npos) << r.err;

  m_server.Set("/busy", HttpResponse::Ok(Rss("Busy", {"a", "b"})));
  const size_t asked = m_server.Requests().size();
  m_now += 3599;
  r = Cli({"update", "--force"});
  EXPECT_EQ(r.out, "New articles: 0\n");
  EXPECT_NE(r.err.find("Busy: the server asked to wait until"), std::string::npos) << r.err;
  EXPECT_EQ(m_server.Requests().size(), asked) << "not asked, even forced";

  m_now += 1;
  r = Cli({"update", "--force"});
  EXPECT_EQ(r.out, "Busy: Comms status: OK\nNew articles: 1\n");
  EXPECT_EQ(m_server.Requests().size(), asked + 1);
}

}  // namespace
}  // namespace qb
