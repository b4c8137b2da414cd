#include "model/BackgroundSaver.h"

namespace qb {

CBackgroundSaver::CBackgroundSaver(std::string path, WriterWrapper wrap)
    : m_path(std::move(path)), m_wrap(std::move(wrap)), m_thread([this] { Run(); }) {}

CBackgroundSaver::~CBackgroundSaver() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stopping = true;
  }
  m_changed.notify_all();
  m_thread.join();
}

void CBackgroundSaver::Save(CModelSnapshot snapshot, Done done) {
  if (snapshot.empty()) return;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_waiting = Job{std::move(snapshot), std::move(done)};
  }
  m_changed.notify_all();
}

void CBackgroundSaver::Save(const CFeedsManager& manager, Done done) {
  Save(CModelSnapshot::Take(manager), std::move(done));
}

void CBackgroundSaver::Wait() {
  std::unique_lock<std::mutex> lock(m_mutex);
  m_changed.wait(lock, [&] { return !m_waiting && !m_writing; });
}

bool CBackgroundSaver::Idle() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return !m_waiting && !m_writing;
}

std::optional<uint64_t> CBackgroundSaver::SavedChangeCount() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_savedChangeCount;
}

SaveResult CBackgroundSaver::LastResult() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_lastResult;
}

void CBackgroundSaver::Run() {
  std::unique_lock<std::mutex> lock(m_mutex);
  for (;;) {
    m_changed.wait(lock, [&] { return m_waiting.has_value() || m_stopping; });
    if (!m_waiting) return;  // stopping, and everything is written
    Job job = std::move(*m_waiting);
    m_waiting.reset();
    m_writing = true;
    lock.unlock();
    const SaveResult result = SaveDataFile(job.snapshot.Model(), m_path, m_wrap);
    if (job.done) job.done(result);
    // The snapshot's records go with the job, off the lock.
    const uint64_t count = job.snapshot.ChangeCount();
    job = Job{};
    lock.lock();
    m_writing = false;
    m_lastResult = result;
    if (result.ok) m_savedChangeCount = count;
    m_changed.notify_all();
  }
}

}  // namespace qb
