// The one way back to an owner's thread. Work that runs elsewhere (the
// downloads, the icon cache's disk work, the background saves) never touches
// its owner's state: it posts a task, and the owner's thread runs the tasks
// in the order they were posted. The window's executor posts into Qt's
// event loop (app/QtExecutor.h); a thread without an event loop (the
// command line, tests) runs a CTaskQueue.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

namespace qb {

class IExecutor {
 public:
  using Task = std::function<void()>;
  virtual ~IExecutor() = default;
  // Queues `task` to run on the owner's thread after every task posted
  // before it. Any thread; the task never runs before Post returns. Tasks
  // still waiting when the executor is destroyed are dropped unrun.
  virtual void Post(Task task) = 0;
};

// The tasks of one owner on a shared executor. Once the scope is gone its
// tasks still waiting are dropped when their turn comes, so a task may use
// its owner freely. REQUIRES: the owner stops whatever posts from other
// threads before the scope is destroyed (on the owner's thread); the
// executor outlives the scope's last task.
class CExecutorScope {
 public:
  explicit CExecutorScope(IExecutor& executor)
      : m_executor(executor), m_open(std::make_shared<bool>(true)) {}
  ~CExecutorScope() { *m_open = false; }
  CExecutorScope(const CExecutorScope&) = delete;
  CExecutorScope& operator=(const CExecutorScope&) = delete;

  // Any thread.
  void Post(IExecutor::Task task) {
    // The flag is read and cleared on the owner's thread only.
    m_executor.Post([open = m_open, task = std::move(task)] {
      if (*open) task();
    });
  }

 private:
  IExecutor& m_executor;
  std::shared_ptr<bool> m_open;
};

// An executor for a thread without an event loop: tasks wait in a queue
// until the owner's thread runs them with RunPending or RunUntil.
class CTaskQueue final : public IExecutor {
 public:
  CTaskQueue() = default;
  CTaskQueue(const CTaskQueue&) = delete;
  CTaskQueue& operator=(const CTaskQueue&) = delete;

  void Post(Task task) override;

  // Runs the tasks waiting, and those they post, until none is left; the
  // number run.
  size_t RunPending();
  // Runs tasks as they come until `done` answers true (asked before each
  // wait). False when `timeout` passed first.
  bool RunUntil(const std::function<bool()>& done,
                std::chrono::milliseconds timeout = std::chrono::milliseconds::max());
  size_t Pending() const;

 private:
  // Takes the next task, waiting until `deadline` (or without one, `endless`).
  bool Take(Task& task, bool wait, std::chrono::steady_clock::time_point deadline, bool endless);

  mutable std::mutex m_mutex;
  std::condition_variable m_posted;
  std::deque<Task> m_tasks;
};

}  // namespace qb
