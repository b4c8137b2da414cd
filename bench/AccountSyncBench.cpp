// An account's sync into a model and its library, against a real FreshRSS
// (tests/support/FreshRss.h): the first sync of 50 feeds and 5,000
// articles, a sync with nothing new, and 1,000 articles marked read and
// pushed. Counters: the requests made, the owner's thread's processor time
// (the window's thread in the program: the snapshot and the apply), the
// longest task it ran (the longest event-loop gap a sync makes), and the
// bytes the library wrote (/proc/self/io). Skipped when the copy of
// FreshRSS is missing.
#include <benchmark/benchmark.h>
#include <time.h>

#include <chrono>
#include <fstream>
#include <memory>

#include "base/Text.h"
#include "library/Library.h"
#include "library/LibraryLink.h"
#include "model/FeedsManager.h"
#include "sync/AccountSync.h"
#include "tests/support/FreshRss.h"
#include "tests/support/HttpServer.h"
#include "tests/support/SyncDevice.h"
#include "tests/support/TempDir.h"

namespace qb {
namespace {

constexpr int kFeeds = 50;
constexpr int kItemsPerFeed = 100;

std::string Rss(int feed) {
  std::string items;
  for (int i = 0; i < kItemsPerFeed; ++i) {
    const std::string n = std::to_string(feed) + "-" + std::to_string(i);
    items += "<item><title>Article " + n + "</title><link>http://example.org/" + n +
             "</link><guid isPermaLink=\"false\">urn:bench:" + n + "</guid><description>" + std::string(400, 'x') +
             "</description></item>";
  }
  return "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>Feed " + std::to_string(feed) +
         "</title><link>http://example.org/</link>" + items + "</channel></rss>";
}

uint64_t WriteBytes() {
  std::ifstream io("/proc/self/io");
  std::string key;
  uint64_t value = 0;
  while (io >> key >> value) {
    if (key == "write_bytes:") return value;
  }
  return 0;
}

double ThreadCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// The owner's thread: runs the tasks posted to it and times each.
class CTimedQueue final : public IExecutor {
 public:
  void Post(Task task) override {
    m_queue.Post([this, task = std::move(task)] {
      const auto start = std::chrono::steady_clock::now();
      task();
      m_longest = std::max(m_longest, std::chrono::steady_clock::now() - start);
    });
  }
  CTaskQueue m_queue;
  std::chrono::steady_clock::duration m_longest{};
};

struct Setup {
  Setup() : module(model) {
    server.CreateUser("bench", "api-bench");
    GReaderAccount account{GReaderServerKind::kFreshRss, server.ApiBase(), "bench"};
    client = std::make_unique<CGReaderClient>(pool, account, "api-bench");
    for (int f = 0; f < kFeeds; ++f) {
      const std::string path = "/f" + std::to_string(f) + ".xml";
      feeds.Set(path, test::HttpResponse::Ok(Rss(f)));
      test::Await<GReaderSubscription>(
          [&](auto done) { client->Subscribe(feeds.Url(path), u"", u"Folder " + Widen(std::to_string(f % 5)), done); });
    }
    library.Open(dir.File("Library.sqlite"));
    load = library.Load(model);
    link = std::make_unique<CLibraryLink>(model, library, &load);
    library.AddModule(module);
    module.Load(library);
    accountId = model.AddAccount(u"bench@localhost")->m_id;
    module.PutAccount({accountId, u"bench@localhost", account.kind, account.apiBase, account.user});
    link->FlushAndWait();
    sync = std::make_unique<CAccountSync>(model, library, module, owner);
  }
  ~Setup() {
    client->Cancel();
    sync.reset();
    library.RemoveModule(module);
    link.reset();
    model.SetArticleStore(nullptr);
  }

  struct Measured {
    AccountSyncResult result;
    double ownerCpu = 0;
    double longestTaskMs = 0;
    uint64_t written = 0;
  };
  Measured Sync() {
    Measured m;
    owner.m_longest = {};
    std::optional<AccountSyncResult> result;
    const double cpu = ThreadCpuSeconds();
    const uint64_t before = WriteBytes();
    owner.Post([&] { sync->Start(accountId, *client, {}, [&](AccountSyncResult r) { result = std::move(r); }); });
    owner.m_queue.RunUntil([&] { return result.has_value(); });
    m.ownerCpu = ThreadCpuSeconds() - cpu;
    m.longestTaskMs = std::chrono::duration<double, std::milli>(owner.m_longest).count();
    link->FlushAndWait();
    m.written = WriteBytes() - before;
    m.result = std::move(*result);
    return m;
  }

  test::HttpServer feeds;
  test::FreshRss server;
  test::TempDir dir;
  CDownloadPool pool;
  std::unique_ptr<CGReaderClient> client;
  CLibrary library;
  LibraryLoadResult load;
  CFeedsManager model;
  std::unique_ptr<CLibraryLink> link;
  CSyncModule module;
  CTimedQueue owner;
  std::unique_ptr<CAccountSync> sync;
  ObjectId accountId = 0;
};

std::unique_ptr<Setup> g_setup;

void Report(benchmark::State& state, const Setup::Measured& m) {
  if (!m.result.error.ok()) state.SkipWithError(Utf16ToUtf8(m.result.error.message).c_str());
  state.counters["requests"] = static_cast<double>(m.result.requests);
  state.counters["owner_cpu_ms"] = m.ownerCpu * 1000;
  state.counters["longest_task_ms"] = m.longestTaskMs;
  state.counters["written_KB"] = static_cast<double>(m.written) / 1024;
}

void BM_FirstAccountSync(benchmark::State& state) {
  if (test::FreshRss::SourceFolder().empty()) return state.SkipWithError("no copy of FreshRSS");
  g_setup = std::make_unique<Setup>();
  Setup::Measured m;
  for (auto _ : state) m = g_setup->Sync();
  Report(state, m);
  state.counters["articles"] = static_cast<double>(m.result.added);
}
BENCHMARK(BM_FirstAccountSync)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_AccountSyncWithNothingNew(benchmark::State& state) {
  if (!g_setup) return state.SkipWithError("no account");
  Setup::Measured m;
  for (auto _ : state) m = g_setup->Sync();
  Report(state, m);
}
BENCHMARK(BM_AccountSyncWithNothingNew)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

// The marks as the window makes them (one operation, written by the next
// flush with its queue entries), then the sync that pushes them.
void BM_Mark1000ReadAndPush(benchmark::State& state) {
  if (!g_setup) return state.SkipWithError("no account");
  Setup::Measured m;
  uint64_t markWritten = 0;
  for (auto _ : state) {
    IdList unread, all;
    g_setup->model.CollectFeeds(g_setup->accountId, all);
    for (ObjectId id : all) {
      if (!g_setup->model.GetFeed(id)->m_read && unread.size() < 1000) unread.push_back(id);
    }
    const uint64_t before = WriteBytes();
    g_setup->model.MarkRead(unread, true);
    g_setup->link->FlushAndWait();
    markWritten = WriteBytes() - before;
    m = g_setup->Sync();
  }
  Report(state, m);
  state.counters["mark_written_KB"] = static_cast<double>(markWritten) / 1024;
  state.counters["pushed"] = static_cast<double>(m.result.pushed);
  g_setup.reset();
}
BENCHMARK(BM_Mark1000ReadAndPush)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace qb

BENCHMARK_MAIN();
