#include "base/Executor.h"

#include <utility>

namespace qb {

void CTaskQueue::Post(Task task) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_tasks.push_back(std::move(task));
  }
  m_posted.notify_all();
}

bool CTaskQueue::Take(Task& task, bool wait, std::chrono::steady_clock::time_point deadline,
                      bool endless) {
  std::unique_lock<std::mutex> lock(m_mutex);
  if (wait) {
    const auto ready = [this] { return !m_tasks.empty(); };
    if (endless) {
      m_posted.wait(lock, ready);
    } else if (!m_posted.wait_until(lock, deadline, ready)) {
      return false;
    }
  }
  if (m_tasks.empty()) return false;
  task = std::move(m_tasks.front());
  m_tasks.pop_front();
  return true;
}

size_t CTaskQueue::RunPending() {
  size_t ran = 0;
  Task task;
  while (Take(task, false, {}, false)) {
    // Run off the lock: a task may post more.
    if (task) task();
    task = nullptr;
    ++ran;
  }
  return ran;
}

bool CTaskQueue::RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  const bool endless = timeout == std::chrono::milliseconds::max();
  const auto deadline =
      endless ? std::chrono::steady_clock::time_point::max() : std::chrono::steady_clock::now() + timeout;
  Task task;
  while (!done()) {
    if (!Take(task, true, deadline, endless)) return done();
    if (task) task();
    task = nullptr;
  }
  return true;
}

size_t CTaskQueue::Pending() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_tasks.size();
}

}  // namespace qb
