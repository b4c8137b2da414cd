// Syncs against a real FreshRSS (tests/support/FreshRss.h): the first sync of
// an account of 50 feeds and 5,000 articles, a sync with nothing new, and
// pushing 1,000 articles read. Counters: the requests each made. Skipped
// when the copy of FreshRSS is missing.
#include <benchmark/benchmark.h>

#include <memory>

#include "base/Text.h"
#include "sync/GReaderClient.h"
#include "tests/support/FreshRss.h"
#include "tests/support/HttpServer.h"
#include "tests/support/SyncDevice.h"

namespace qb {
namespace {

constexpr int kFeeds = 50;
constexpr int kItemsPerFeed = 100;

std::string Rss(int feed) {
  std::string items;
  for (int i = 0; i < kItemsPerFeed; ++i) {
    const std::string n = std::to_string(feed) + "-" + std::to_string(i);
    items += "<item><title>Article " + n + "</title><link>http://example.org/" + n +
             "</link><guid isPermaLink=\"false\">urn:bench:" + n + "</guid><description>" +
             std::string(400, 'x') + "</description></item>";
  }
  return "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>Feed " + std::to_string(feed) +
         "</title><link>http://example.org/</link>" + items + "</channel></rss>";
}

struct Account {
  Account() {
    server.CreateUser("bench", "api-bench");
    client = std::make_unique<CGReaderClient>(pool, GReaderAccount{GReaderServerKind::kFreshRss, server.ApiBase(), "bench"},
                                              "api-bench");
    for (int f = 0; f < kFeeds; ++f) {
      const std::string path = "/f" + std::to_string(f) + ".xml";
      feeds.Set(path, test::HttpResponse::Ok(Rss(f)));
      test::Await<GReaderSubscription>(
          [&](auto done) { client->Subscribe(feeds.Url(path), u"", u"Folder " + Widen(std::to_string(f % 5)), done); });
    }
  }
  test::HttpServer feeds;
  test::FreshRss server;
  CDownloadPool pool;
  std::unique_ptr<CGReaderClient> client;
  test::SyncDevice device;
};

std::unique_ptr<Account> g_account;

void BM_FirstSync(benchmark::State& state) {
  if (test::FreshRss::SourceFolder().empty()) return state.SkipWithError("no copy of FreshRSS");
  g_account = std::make_unique<Account>();
  GReaderSyncOutcome outcome;
  for (auto _ : state) outcome = g_account->device.Sync(*g_account->client);
  state.counters["requests"] = static_cast<double>(outcome.requests);
  state.counters["articles"] = static_cast<double>(outcome.items.size());
}
BENCHMARK(BM_FirstSync)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_SyncWithNothingNew(benchmark::State& state) {
  if (!g_account) return state.SkipWithError("no account");
  GReaderSyncOutcome outcome;
  for (auto _ : state) outcome = g_account->device.Sync(*g_account->client);
  state.counters["requests"] = static_cast<double>(outcome.requests);
}
BENCHMARK(BM_SyncWithNothingNew)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Push1000Read(benchmark::State& state) {
  if (!g_account) return state.SkipWithError("no account");
  GReaderSyncOutcome outcome;
  for (auto _ : state) {
    state.PauseTiming();
    int marked = 0;
    for (auto& [id, item] : g_account->device.items) {
      if (!item.read && marked++ < 1000) g_account->device.Mark(id, MarkFlag::kRead, true);
    }
    state.ResumeTiming();
    outcome = g_account->device.Sync(*g_account->client);
  }
  state.counters["requests"] = static_cast<double>(outcome.requests);
  state.counters["acknowledged"] = static_cast<double>(outcome.acknowledged.size());
  g_account.reset();
}
BENCHMARK(BM_Push1000Read)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace qb

BENCHMARK_MAIN();
