// Accounts against the real FreshRSS, as a user has them: added and synced
// with quillbend-cli, marked in the library as the window marks them, and
// marked elsewhere through the API as another device would.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <unordered_map>
#include <vector>

#include "base/Executor.h"
#include "base/Text.h"
#include "library/Library.h"
#include "library/LibraryLink.h"
#include "model/FeedsManager.h"
#include "net/Download.h"
#include "sync/AccountEdits.h"
#include "sync/AccountSync.h"
#include "sync/GReaderClient.h"
#include "sync/SecretStore.h"
#include "sync/SyncModule.h"
#include "tests/servers/Servers.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/SyncDevice.h"
#include "tests/support/TempDir.h"
#include "tools/Cli.h"

namespace qb {
namespace {

using test::Await;

struct CliRun {
  int status = 0;
  std::string out, err;
};

// A user's data folders, with quillbend-cli run on them.
class Profile {
 public:
  CliRun Cli(std::vector<std::string> args, const std::string& input = {}) {
    std::istringstream in(input);
    std::ostringstream out, err;
    const int status = cli::RunCli(args, in, out, err);
    return {status, out.str(), err.str()};
  }
  std::string Folder() const { return m_home.path() + "/Velmorant/Quillbend"; }
  std::string LibraryFile() const { return Folder() + "/Library.sqlite"; }

 private:
  test::TempDir m_home, m_cache;
  test::ScopedEnv m_data{"XDG_DATA_HOME", m_home.path()};
  test::ScopedEnv m_cacheHome{"XDG_CACHE_HOME", m_cache.path()};
};

// The library opened as the window opens it, the sync module with it.
struct Library {
  explicit Library(const std::string& path) : module(model) {
    EXPECT_TRUE(library.Open(path).opened);
    load = library.Load(model);
    link = std::make_unique<CLibraryLink>(model, library, &load);
    library.AddModule(module);
    EXPECT_TRUE(module.Load(library));
  }
  ~Library() {
    library.RemoveModule(module);
    link.reset();
    model.SetArticleStore(nullptr);
  }
  ObjectId Article(const std::u16string& title) const {
    IdList all;
    model.CollectFeeds(0, all);
    for (ObjectId id : all) {
      if (model.GetFeed(id)->m_title == title) return id;
    }
    ADD_FAILURE() << "no article " << Utf16ToUtf8(title);
    return 0;
  }
  const CFeed& Feed(const std::u16string& title) const { return *model.GetFeed(Article(title)); }
  std::string ItemId(const std::u16string& title) const { return module.ItemIdOf(Article(title)); }
  void Write() { ASSERT_FALSE(link->FlushAndWait().failure); }

  CLibrary library;
  LibraryLoadResult load;
  CFeedsManager model;
  std::unique_ptr<CLibraryLink> link;
  CSyncModule module;
};

GReaderAccount FreshRssAccount(const std::string& user) {
  return {GReaderServerKind::kFreshRss,
          GReaderApiBase(GReaderServerKind::kFreshRss, test::SharedFreshRss().Address()).url, user};
}

// The same user on the server, as another device sees it.
struct OtherDevice {
  explicit OtherDevice(const std::string& user) : client(pool, FreshRssAccount(user), "api-" + user) {}
  std::set<std::string> Ids(const std::string& stream, const std::string& exclude = {}) {
    const GReaderReply<ServerIdList> r =
        Await<ServerIdList>([&](auto done) { client.FetchIds({stream, exclude}, done); });
    EXPECT_TRUE(r.error.ok()) << Utf16ToUtf8(r.error.message);
    return {r.value.ids.begin(), r.value.ids.end()};
  }
  std::set<std::string> Unread() { return Ids(kReadingListStream, kReadStream); }
  void Edit(const std::string& tag, bool add, const std::vector<std::string>& ids) {
    const GReaderReply<size_t> r = Await<size_t>([&](auto done) { client.EditTag(tag, add, ids, done); });
    EXPECT_EQ(r.value, ids.size()) << Utf16ToUtf8(r.error.message);
  }
  void Subscribe(const std::string& url, const std::u16string& folder) {
    const GReaderReply<GReaderSubscription> r =
        Await<GReaderSubscription>([&](auto done) { client.Subscribe(url, u"", folder, done); });
    EXPECT_TRUE(r.error.ok()) << Utf16ToUtf8(r.error.message);
  }
  CDownloadPool pool;
  CGReaderClient client;
};

std::string Host() {
  const std::string address = test::SharedFreshRss().Address();
  const std::string rest = address.substr(address.find("://") + 3);
  return rest.substr(0, rest.find('/'));
}

// The user's account added to the profile and synced once; its name.
std::string AddAndSync(Profile& p, const std::string& user) {
  const CliRun added = p.Cli({"account", "add", "freshrss", test::SharedFreshRss().Address(), user}, "api-" + user + "\n");
  EXPECT_EQ(added.status, 0) << added.err;
  const CliRun synced = p.Cli({"sync"});
  EXPECT_EQ(synced.status, 0) << synced.err;
  return user + "@" + Host();
}

std::string Contents(const std::string& path) {
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) return {};
  return test::ReadFile(path);
}

TEST(AccountSyncTest, AnAccountAddedFromTheCliCarriesMarksBothWaysAndKeepsItsPasswordApart) {
  const std::string user = "carol";
  test::SharedFreshRss().CreateUser(user, "api-" + user);
  OtherDevice other(user);
  other.Subscribe(test::ServeSharedFeed("carol-a", 3), u"News");
  other.Subscribe(test::ServeSharedFeed("carol-b", 2), u"");
  Profile p;
  const std::string name = user + "@" + Host();

  // The sign-in is checked at once.
  const CliRun refused = p.Cli({"account", "add", "freshrss", test::SharedFreshRss().Address(), user}, "wrong\n");
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.err, "The server refused the sign-in: Unauthorized!\n");
  const CliRun added = p.Cli({"account", "add", "freshrss", test::SharedFreshRss().Address(), user}, "api-carol\n");
  ASSERT_EQ(added.status, 0) << added.err;
  EXPECT_EQ(added.out.substr(0, added.out.find('\n')), "Signed in as carol");
  EXPECT_EQ(p.Cli({"account", "list"}).out,
            name + ": freshrss, " + test::SharedFreshRss().ApiBase() + ", user carol\n");

  const CliRun first = p.Cli({"sync"});
  ASSERT_EQ(first.status, 0) << first.err;
  EXPECT_EQ(first.out, name + ": 0 marks sent, 5 articles added, 0 changed, 0 removed\n");
  // FreshRSS files a feed of no folder under "Uncategorized", beside the
  // feed of its own releases that every new user has.
  EXPECT_EQ(p.Cli({"list"}).out, "All Sources\n" + name + " (5 / 5)\n  News (3 / 3)\n    Feed carol-a (3 / 3)\n"
                                 "  Uncategorized (2 / 2)\n    Feed carol-b (2 / 2)\n    FreshRSS releases\n");

  // Marked here: the server follows.
  {
    Library lib(p.LibraryFile());
    const CFeed& a1 = lib.Feed(u"carol-a1");
    EXPECT_EQ(a1.m_link, u"http://example.org/carol-a1");
    EXPECT_EQ(lib.model.ArticleTexts(a1.m_id).description.str(), u"Text of carol-a1");
    lib.model.MarkRead({lib.Article(u"carol-a1"), lib.Article(u"carol-b1")}, true);
    lib.model.SetStarred({lib.Article(u"carol-a2")}, true);
    lib.Write();
  }
  const CliRun pushed = p.Cli({"sync", name});
  ASSERT_EQ(pushed.status, 0) << pushed.err;
  EXPECT_EQ(pushed.out, name + ": 3 marks sent, 0 articles added, 0 changed, 0 removed\n");
  std::string a1, a2, a3, b1, b2;
  {
    Library lib(p.LibraryFile());
    a1 = lib.ItemId(u"carol-a1"), a2 = lib.ItemId(u"carol-a2"), a3 = lib.ItemId(u"carol-a3");
    b1 = lib.ItemId(u"carol-b1"), b2 = lib.ItemId(u"carol-b2");
  }
  EXPECT_EQ(other.Unread(), (std::set<std::string>{a2, a3, b2}));
  EXPECT_EQ(other.Ids(kStarredStream), std::set<std::string>{a2});
  const GReaderReply<std::map<std::string, int64_t>> counts =
      Await<std::map<std::string, int64_t>>([&](auto done) { other.client.FetchUnreadCounts(done); });
  EXPECT_EQ(counts.value.at(kReadingListStream), 3);

  // Marked elsewhere: pulled. And where a mark made here is still waiting
  // (a3 made unread again after reading it), it wins over the server's.
  {
    Library lib(p.LibraryFile());
    lib.model.MarkRead({lib.Article(u"carol-a3")}, true);
    lib.model.MarkRead({lib.Article(u"carol-a3")}, false);
    lib.Write();
  }
  other.Edit(kReadStream, true, {a3, b2});
  other.Edit(kStarredStream, true, {b1});
  other.Edit(kReadStream, false, {a1});
  const CliRun pulled = p.Cli({"sync"});
  ASSERT_EQ(pulled.status, 0) << pulled.err;
  {
    Library lib(p.LibraryFile());
    EXPECT_FALSE(lib.Feed(u"carol-a1").m_read);
    EXPECT_TRUE(lib.Feed(u"carol-b2").m_read);
    EXPECT_TRUE(lib.Feed(u"carol-b1").m_starred);
    EXPECT_FALSE(lib.Feed(u"carol-a3").m_read) << "the local change waited and wins";
    EXPECT_EQ(lib.model.Counts(lib.model.AccountOf(lib.Article(u"carol-a1"))).unread, 3);
  }
  EXPECT_TRUE(other.Unread().count(a3));

  // The password is kept in a file of the user's alone, and nowhere else.
  const std::string secret = CFileSecretStore::DefaultFolder() + "/";
  bool found = false;
  for (const auto& entry : std::filesystem::directory_iterator(CFileSecretStore::DefaultFolder())) {
    struct stat st {};
    ASSERT_EQ(::stat(entry.path().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u) << entry.path();
    found = found || Contents(entry.path()) == "api-carol";
  }
  EXPECT_TRUE(found);
  struct stat folder {};
  ASSERT_EQ(::stat(CFileSecretStore::DefaultFolder().c_str(), &folder), 0);
  EXPECT_EQ(folder.st_mode & 0777, 0700u);
  ASSERT_EQ(p.Cli({"export-data", p.Folder() + "/Export"}).status, 0);
  ASSERT_EQ(p.Cli({"opml-export", p.Folder() + "/Export.opml"}).status, 0);
  for (const std::string& file : {p.LibraryFile(), p.LibraryFile() + "-wal", p.Folder() + "/Export",
                                  p.Folder() + "/Export.opml"}) {
    EXPECT_EQ(Contents(file).find("api-carol"), std::string::npos) << file;
  }

  // Removing the account removes its copy here, not the account.
  const CliRun removed = p.Cli({"account", "remove", name});
  EXPECT_EQ(removed.status, 0) << removed.err;
  EXPECT_EQ(p.Cli({"list"}).out, "All Sources\n");
  EXPECT_EQ(p.Cli({"account", "list"}).out, "");
  EXPECT_EQ(other.Ids(kReadingListStream).size(), 5u);
  EXPECT_TRUE(std::filesystem::is_empty(CFileSecretStore::DefaultFolder()));
}

// The account's structure is the server's: an edit made here goes to the
// server at once and shows once the server did it; with the server down it
// is refused with the reason, and nothing changes here.
TEST(AccountSyncTest, StructureEditsShowWhenTheServerDidThem) {
  const std::string user = "erin";
  test::SharedFreshRss().CreateUser(user, "api-" + user);
  OtherDevice other(user);
  other.Subscribe(test::ServeSharedFeed("erin-a", 1), u"News");
  Profile p;
  const std::string name = AddAndSync(p, user);
  const std::string listed = "All Sources\n" + name + " (1 / 1)\n  News (1 / 1)\n    Feed erin-a (1 / 1)\n"
                             "  Uncategorized\n    FreshRSS releases\n";
  ASSERT_EQ(p.Cli({"list"}).out, listed);
  const auto serverFolders = [&](const std::string& url) -> std::vector<std::string> {
    const auto subs = Await<std::vector<GReaderSubscription>>([&](auto done) { other.client.FetchSubscriptions(done); });
    for (const GReaderSubscription& sub : subs.value) {
      if (sub.url == url) return sub.folders;
    }
    return {"(not subscribed)"};
  };

  const std::string url = test::ServeSharedFeed("erin-b", 2);
  CTaskQueue owner;
  CDownloadPool pool;
  const auto edit = [&](auto call) {
    std::optional<AccountEditResult> result;
    call([&](AccountEditResult r) { result = std::move(r); });
    EXPECT_FALSE(result.has_value()) << "the model waits for the server";
    EXPECT_TRUE(owner.RunUntil([&] { return result.has_value(); }, std::chrono::seconds(60)));
    return result.value_or(AccountEditResult{{GReaderStatus::kLocal, 0, u"no answer"}, 0});
  };
  {
    Library lib(p.LibraryFile());
    CGReaderClient client(pool, FreshRssAccount(user), "api-erin");
    CAccountEdits edits(lib.model, owner);
    const ObjectId account = lib.model.AccountOf(lib.Article(u"erin-a1"));
    const ObjectId news = lib.model.FindGroupOfSource(lib.model.GetFeed(lib.Article(u"erin-a1"))->m_source)->m_id;
    const AccountEditResult added = edit([&](auto done) {
      edits.Subscribe(client, news, Utf8ToUtf16(url), done);
      EXPECT_FALSE(lib.model.HasSourceWithUrl(Utf8ToUtf16(url)));
    });
    ASSERT_TRUE(added.error.ok()) << Utf16ToUtf8(added.error.message);
    EXPECT_EQ(lib.model.FindGroupOfSource(added.node)->m_id, news);
    EXPECT_EQ(lib.model.GetFeedSource(added.node)->m_title, u"Feed erin-b");
    EXPECT_EQ(serverFolders(url), std::vector<std::string>{"user/-/label/News"});
    EXPECT_EQ(edit([&](auto done) { edits.Subscribe(client, account, Utf8ToUtf16(url), done); }).error.message,
              u"The account is already subscribed to this feed.");
    const AccountEditResult missing = edit([&](auto done) {
      edits.Subscribe(client, account, Utf8ToUtf16(test::SharedFeeds().Url("/missing.xml")), done);
    });
    EXPECT_EQ(missing.error.status, GReaderStatus::kServerError);
    EXPECT_EQ(lib.model.GetGroup(account)->m_sources.size(), 0u);
    lib.Write();
  }
  // Its articles come with the next sync.
  EXPECT_EQ(p.Cli({"sync"}).out, name + ": 0 marks sent, 2 articles added, 0 changed, 0 removed\n");
  {
    Library lib(p.LibraryFile());
    CGReaderClient client(pool, FreshRssAccount(user), "api-erin");
    CAccountEdits edits(lib.model, owner);
    const ObjectId b = lib.model.GetFeed(lib.Article(u"erin-b1"))->m_source;
    const ObjectId news = lib.model.FindGroupOfSource(b)->m_id;
    const ObjectId account = lib.model.AccountOf(b);
    const ObjectId other_folder = lib.model.GetGroup(account)->m_childGroups.at(1);
    ASSERT_EQ(lib.model.GetGroup(other_folder)->m_name, u"Uncategorized");
    EXPECT_TRUE(edit([&](auto done) { edits.Rename(client, b, u" Erin's B ", done); }).error.ok());
    EXPECT_TRUE(edit([&](auto done) { edits.Move(client, b, other_folder, done); }).error.ok());
    EXPECT_TRUE(edit([&](auto done) { edits.Rename(client, news, u"Headlines", done); }).error.ok());
    EXPECT_EQ(lib.model.GetFeedSource(b)->m_title, u"Erin's B");
    EXPECT_EQ(lib.model.FindGroupOfSource(b)->m_id, other_folder);
    EXPECT_EQ(lib.model.GetGroup(news)->m_name, u"Headlines");
    EXPECT_EQ(serverFolders(url), std::vector<std::string>{"user/-/label/Uncategorized"});
    EXPECT_EQ(edit([&](auto done) { edits.Rename(client, news, u"Uncategorized", done); }).error.message,
              u"The account has a folder of that name already.");

    // The server down: refused with its reason, and nothing changes here.
    test::SharedFreshRss().Stop();
    const AccountEditResult offline = edit([&](auto done) { edits.Unsubscribe(client, b, done); });
    test::SharedFreshRss().Start();
    EXPECT_EQ(offline.error.status, GReaderStatus::kUnreachable);
    EXPECT_NE(offline.error.message.find(u"The server could not be reached"), std::u16string::npos);
    EXPECT_EQ(lib.model.GetFeedSource(b)->m_articles.size(), 2u);

    const AccountEditResult gone = edit([&](auto done) { edits.Unsubscribe(client, b, done); });
    EXPECT_TRUE(gone.error.ok()) << Utf16ToUtf8(gone.error.message);
    EXPECT_EQ(lib.model.GetFeedSource(b), nullptr);
    EXPECT_EQ(serverFolders(url), std::vector<std::string>{"(not subscribed)"});
    lib.Write();
  }
  // What the edits showed is what the server has: a sync changes nothing.
  std::string renamed = listed;
  renamed.replace(renamed.find("News"), 4, "Headlines");
  EXPECT_EQ(p.Cli({"list"}).out, renamed);
  EXPECT_EQ(p.Cli({"sync"}).out, name + ": 0 marks sent, 0 articles added, 0 changed, 0 removed\n");
  EXPECT_EQ(p.Cli({"list"}).out, renamed);
}

// Marks made while the server is down stay queued in the library through a
// restart, and reach the server once when it is back.
TEST(AccountSyncTest, MarksMadeOfflineSurviveARestartAndArePushedOnce) {
  const std::string user = "dave";
  test::SharedFreshRss().CreateUser(user, "api-" + user);
  OtherDevice other(user);
  other.Subscribe(test::ServeSharedFeed("dave", 4), u"");
  Profile p;
  const std::string name = AddAndSync(p, user);
  std::string d1, d2, d3, d4;
  {
    Library lib(p.LibraryFile());
    d1 = lib.ItemId(u"dave1"), d2 = lib.ItemId(u"dave2"), d3 = lib.ItemId(u"dave3"), d4 = lib.ItemId(u"dave4");
  }

  test::SharedFreshRss().Stop();
  {
    Library lib(p.LibraryFile());
    lib.model.MarkRead({lib.Article(u"dave1"), lib.Article(u"dave3")}, true);
    lib.model.SetStarred({lib.Article(u"dave2"), lib.Article(u"dave3")}, true);
    lib.Write();
  }
  const CliRun offline = p.Cli({"sync"});
  EXPECT_EQ(offline.status, 1);
  EXPECT_NE(offline.err.find(name + ": The server could not be reached"), std::string::npos) << offline.err;
  {
    // The process that made the marks is gone; the library has them.
    Library lib(p.LibraryFile());
    std::vector<PendingMark> queue;
    ASSERT_TRUE(lib.module.ReadQueue(lib.library, lib.model.AccountOf(lib.Article(u"dave1")), queue));
    EXPECT_EQ(queue.size(), 4u);
    EXPECT_TRUE(lib.Feed(u"dave3").m_read);
  }
  test::SharedFreshRss().Start();

  {
    // Another process syncing the account holds its lease: this one waits
    // its turn, its marks untouched.
    Library lib(p.LibraryFile());
    const ObjectId account = lib.model.AccountOf(lib.Article(u"dave1"));
    ASSERT_TRUE(lib.module.TakeLease(lib.library, account, ::time(nullptr), 600));
    const CliRun held = p.Cli({"sync"});
    EXPECT_EQ(held.status, 1);
    EXPECT_EQ(held.err, name + ": " + Utf16ToUtf8(kSyncLeaseHeld) + "\n");
    lib.module.ReleaseLease(lib.library, account);
  }
  const CliRun back = p.Cli({"sync"});
  ASSERT_EQ(back.status, 0) << back.err;
  EXPECT_EQ(back.out, name + ": 4 marks sent, 0 articles added, 0 changed, 0 removed\n");
  EXPECT_EQ(other.Unread(), (std::set<std::string>{d2, d4}));
  EXPECT_EQ(other.Ids(kStarredStream), (std::set<std::string>{d2, d3}));
  EXPECT_EQ(p.Cli({"sync"}).out, name + ": 0 marks sent, 0 articles added, 0 changed, 0 removed\n")
      << "nothing is pushed twice";
  Library lib(p.LibraryFile());
  EXPECT_TRUE(lib.Feed(u"dave2").m_starred);
  EXPECT_FALSE(lib.Feed(u"dave2").m_read);
}


// Breaks requests of one device at random: before they go out, or after
// the server took them, the answer lost.
class CFlakyDownloader final : public IDownloader {
 public:
  CFlakyDownloader(IDownloader& real, unsigned seed) : m_real(real), m_rng(seed) {}
  void Start(DownloadRequest request, Done done) override {
    int fate = 0;
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      if (m_failing) fate = std::uniform_int_distribution<int>(0, 9)(m_rng);
    }
    DownloadResult lost;
    lost.error = DownloadError::Refused;
    if (fate == 1) return done(lost);
    m_real.Start(std::move(request), [fate, done, lost](DownloadResult r) { done(fate == 2 ? lost : std::move(r)); });
  }
  void Cancel(uint64_t group) override { m_real.Cancel(group); }
  void SetFailing(bool failing) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_failing = failing;
  }

 private:
  IDownloader& m_real;
  std::mutex m_mutex;
  std::mt19937 m_rng;
  bool m_failing = true;
};

// Two devices of one user, each with a library of its own synced as the
// window syncs it, marking at random while requests break in the middle
// of their pushes, and sometimes killed and started again between the
// marks and their sync: once both sync without failures, both libraries
// hold the server's flags for every item and nothing is left queued.
TEST(AccountSyncTest, TwoLibrariesAgreeWithTheServerAfterRandomMarksBrokenPushesAndRestarts) {
  const std::string user = "twins";
  test::SharedFreshRss().CreateUser(user, "api-" + user);
  OtherDevice server(user);
  server.Subscribe(test::ServeSharedFeed("twins", 12), u"");
  const unsigned seed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  const std::u16string name = Utf8ToUtf16(user + "@" + Host());
  const std::string apiBase = GReaderApiBase(GReaderServerKind::kFreshRss, test::SharedFreshRss().Address()).url;
  // Small batches, so that a push takes several requests and can break
  // between them.
  GReaderClientOptions options;
  options.editsPerRequest = 2;
  CDownloadPool pool;
  CTaskQueue owner;

  struct Device {
    Device(IDownloader& real, unsigned seed, const GReaderAccount& account, const GReaderClientOptions& options)
        : flaky(real, seed), client(flaky, account, "api-twins", options) {}
    test::TempDir dir;
    std::unique_ptr<Library> lib;
    ObjectId account = 0;
    CFlakyDownloader flaky;
    CGReaderClient client;
    std::string Path() const { return dir.File("Library.sqlite"); }
  };
  const GReaderAccount login{GReaderServerKind::kFreshRss, apiBase, user};
  Device a(pool, seed, login, options), b(pool, seed + 1, login, options);
  for (Device* d : {&a, &b}) {
    d->lib = std::make_unique<Library>(d->Path());
    d->account = d->lib->model.AddAccount(name)->m_id;
    d->lib->module.PutAccount({d->account, name, GReaderServerKind::kFreshRss, apiBase, user});
    d->lib->Write();
  }
  // One sync as the window runs it, its outcome written.
  const auto sync = [&](Device& d) {
    std::optional<AccountSyncResult> result;
    {
      CAccountSync run(d.lib->model, d.lib->library, d.lib->module, owner);
      run.Start(d.account, d.client, {}, [&](AccountSyncResult r) { result = std::move(r); });
      EXPECT_TRUE(owner.RunUntil([&] { return result.has_value(); }, std::chrono::minutes(1)));
      d.client.Cancel();
    }
    d.lib->Write();
    return result.value_or(AccountSyncResult{});
  };
  // The item ids of the device's articles.
  const auto items = [](const Device& d) {
    std::vector<std::string> ids;
    for (const auto& [id, article] : d.lib->module.ArticlesOf(d.account)) ids.push_back(id);
    std::sort(ids.begin(), ids.end());
    return ids;
  };

  for (Device* d : {&a, &b}) {
    d->flaky.SetFailing(false);
    const AccountSyncResult first = sync(*d);
    EXPECT_TRUE(first.error.ok()) << Utf16ToUtf8(first.error.message);
    ASSERT_EQ(items(*d).size(), 12u);
    d->flaky.SetFailing(true);
  }
  // Each device's latest mark of an item's flag (read 0, starred 1).
  std::map<std::pair<std::string, int>, std::array<std::optional<bool>, 2>> latest;
  for (int round = 0; round < 12; ++round) {
    Device& d = round % 2 ? b : a;
    const std::vector<std::string> ids = items(d);
    const std::unordered_map<std::string, ObjectId> articles = d.lib->module.ArticlesOf(d.account);
    for (int m = 0; m < 3; ++m) {
      const std::string& id = ids[std::uniform_int_distribution<size_t>(0, ids.size() - 1)(rng)];
      const int flag = static_cast<int>(rng() % 2);
      const bool value = rng() % 2 != 0;
      if (flag == 0) {
        d.lib->model.MarkRead({articles.at(id)}, value);
      } else {
        d.lib->model.SetStarred({articles.at(id)}, value);
      }
      latest[{id, flag}][round % 2] = value;
    }
    d.lib->Write();
    if (round == 2 || round == 3 || rng() % 3 == 0) {
      // Killed with its marks queued (each device at least once), and
      // started again.
      d.lib.reset();
      d.lib = std::make_unique<Library>(d.Path());
    }
    sync(d);
  }

  a.flaky.SetFailing(false);
  b.flaky.SetFailing(false);
  for (Device* d : {&a, &b, &a}) {
    const AccountSyncResult last = sync(*d);
    EXPECT_TRUE(last.error.ok()) << Utf16ToUtf8(last.error.message);
  }
  const std::set<std::string> unread = server.Unread();
  const std::set<std::string> starred = server.Ids(kStarredStream);
  std::map<std::string, std::pair<bool, bool>> expected;  // read, starred
  for (const std::string& id : server.Ids(kReadingListStream)) {
    expected[id] = {unread.count(id) == 0, starred.count(id) != 0};
  }
  ASSERT_EQ(expected.size(), 12u);
  // No mark was lost, nor an older one pushed after a newer: a flag only
  // one device marked is its latest mark, one both marked is the latest of
  // either, and one no device marked is as it came (unread, not starred).
  for (const auto& [id, flags] : expected) {
    for (int flag : {0, 1}) {
      const bool value = flag == 0 ? flags.first : flags.second;
      const auto it = latest.find({id, flag});
      if (it == latest.end()) {
        EXPECT_FALSE(value) << id << " flag " << flag << " was not marked";
      } else {
        EXPECT_TRUE(it->second[0] == value || it->second[1] == value)
            << id << " flag " << flag << " is none of the devices' latest marks";
      }
    }
  }
  for (Device* d : {&a, &b}) {
    // As the libraries hold them: read again from the disk.
    d->lib.reset();
    Library lib(d->Path());
    std::map<std::string, std::pair<bool, bool>> flags;
    for (const auto& [id, article] : lib.module.ArticlesOf(d->account)) {
      const CFeed* f = lib.model.GetFeed(article);
      flags[id] = {f->m_read, f->m_starred};
    }
    EXPECT_EQ(flags, expected) << (d == &a ? "a" : "b");
    std::vector<PendingMark> queue;
    ASSERT_TRUE(lib.module.ReadQueue(lib.library, d->account, queue));
    EXPECT_TRUE(queue.empty()) << queue.size() << " entries left in " << (d == &a ? "a" : "b");
  }
}

}  // namespace
}  // namespace qb
