// The program's exit while its background fetches hang: everything that
// fetches shares one download pool and posts to one executor, and each is
// stopped in the order the program ends them. Nothing may run afterwards,
// nothing may be left running, and it must all take well under a second.
// (The sanitizer builds run this too: a worker that outlives its owner, or
// a race between them, shows there.)
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

#include "base/Executor.h"
#include "model/FeedsManager.h"
#include "model/ModelWriter.h"
#include "net/Discovery.h"
#include "net/IconCache.h"
#include "tests/support/HttpServer.h"
#include "tests/support/TempDir.h"
#include "update/UpdateEngine.h"

namespace qb {
namespace {

using namespace std::chrono_literals;

TEST(ShutdownTest, ExitWhileDiscoveryIconsAndUpdatesHang) {
  test::HttpServer server(3);
  test::HttpResponse silent;
  silent.neverAnswer = true;
  for (const char* path : {"/", "/feed", "/page", "/favicon.ico"}) server.Set(path, silent);
  test::TempDir dir;
  CFeedsManager model;
  model.FixUpAfterLoad();
  model.AddSource(model.RootGroups().front(), server.Url16("/feed"));

  int answers = 0;
  auto owner = std::make_unique<CTaskQueue>();
  auto pool = std::make_unique<CDownloadPool>();
  IconCacheOptions iconOptions;
  iconOptions.folder = dir.path() + "/icons";
  auto icons = std::make_unique<CIconCache>(*pool, *owner, iconOptions);
  auto engine = std::make_unique<CUpdateEngine>(model, *pool, *owner);
  auto discovery = std::make_unique<CFeedDiscovery>(*pool, *owner);

  for (int address = 1; address <= 3; ++address) {
    icons->Request(server.Url16("/feed", address), [&](const SiteIcon&) { ++answers; });
  }
  ASSERT_TRUE(engine->UpdateAll(true));
  discovery->Start(server.Url16("/page", 2), [&](const DiscoveryResult&) { ++answers; });
  // Three home pages, the feed and the page: all accepted, none answered.
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (server.Counts().accepted < 5 && std::chrono::steady_clock::now() < deadline) {
    owner->RunPending();
    std::this_thread::sleep_for(5ms);
  }
  ASSERT_EQ(server.Counts().accepted, 5);
  ASSERT_EQ(server.Counts().open, 5);

  // The order of the program's exit: the window (the dialog's search), the
  // icons, the updater, the pool, then the executor with what it still
  // holds.
  const auto start = std::chrono::steady_clock::now();
  discovery.reset();
  icons.reset();
  engine->Cancel();
  engine.reset();
  pool.reset();
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_LT(took, 1s);
  owner->RunPending();
  owner.reset();
  EXPECT_EQ(answers, 0);
  // The pool has closed every connection: the server sees them all end.
  while (server.Counts().open > 0 && std::chrono::steady_clock::now() - start < 5s) {
    std::this_thread::sleep_for(5ms);
  }
  EXPECT_EQ(server.Counts().open, 0);
  EXPECT_EQ(server.Counts().accepted, 5) << "nothing started on the way out";
}

}  // namespace
}  // namespace qb
