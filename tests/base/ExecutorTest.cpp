#include "base/Executor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace qb {
namespace {

using namespace std::chrono_literals;

TEST(ExecutorTest, TasksRunOnTheOwnersThreadInTheOrderPosted) {
  CTaskQueue queue;
  std::vector<int> ran;
  std::vector<std::thread::id> threads;
  // Posted from several threads at once; each thread's own tasks keep
  // their order.
  constexpr int kThreads = 4;
  constexpr int kEach = 250;
  std::vector<std::thread> posters;
  for (int t = 0; t < kThreads; ++t) {
    posters.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) {
        queue.Post([&, t, i] {
          ran.push_back(t * kEach + i);
          threads.push_back(std::this_thread::get_id());
        });
      }
    });
  }
  for (std::thread& p : posters) p.join();
  EXPECT_EQ(queue.Pending(), static_cast<size_t>(kThreads * kEach));
  EXPECT_TRUE(ran.empty()) << "nothing runs until the owner asks";
  EXPECT_EQ(queue.RunPending(), static_cast<size_t>(kThreads * kEach));
  std::vector<int> last(kThreads, -1);
  for (int value : ran) {
    EXPECT_GT(value % kEach, last[value / kEach]);
    last[value / kEach] = value % kEach;
  }
  for (std::thread::id id : threads) EXPECT_EQ(id, std::this_thread::get_id());

  // A task that posts another: RunPending runs that one too.
  int chain = 0;
  queue.Post([&] {
    ++chain;
    queue.Post([&] { ++chain; });
  });
  EXPECT_EQ(queue.RunPending(), 2u);
  EXPECT_EQ(chain, 2);
}

TEST(ExecutorTest, RunUntilWaitsForTasksFromOtherThreads) {
  CTaskQueue queue;
  std::atomic<bool> go{false};
  int done = 0;
  std::thread worker([&] {
    while (!go) std::this_thread::yield();
    queue.Post([&] { ++done; });
  });
  go = true;
  EXPECT_TRUE(queue.RunUntil([&] { return done == 1; }, 10s));
  worker.join();
  // Nothing comes: the limit ends the wait.
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(queue.RunUntil([&] { return done == 2; }, 50ms));
  EXPECT_GE(std::chrono::steady_clock::now() - start, 50ms);
}

TEST(ExecutorTest, AScopeDropsItsTasksOnceItIsGone) {
  CTaskQueue queue;
  int kept = 0;
  int dropped = 0;
  CExecutorScope stays(queue);
  {
    CExecutorScope goes(queue);
    goes.Post([&] { ++dropped; });
    stays.Post([&] { ++kept; });
    goes.Post([&] { ++dropped; });
  }
  EXPECT_EQ(queue.RunPending(), 3u);
  EXPECT_EQ(kept, 1);
  EXPECT_EQ(dropped, 0);
}

}  // namespace
}  // namespace qb
