// Writes snapshots of the model to the data file on a thread of its own, so
// the owner of the model never waits for the disk. Each save follows the
// rules of SaveDataFile (a new file, flushed, renamed over the old one, the
// folder flushed; an unreadable file is never replaced).
//
// Saves never overlap: a snapshot handed over while one is being written
// waits and is written next; a newer one replaces a snapshot still waiting,
// so the file always ends with the latest state handed over.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "model/DataFile.h"
#include "model/Snapshot.h"

namespace qb {

class CBackgroundSaver {
 public:
  // Runs on the saver's thread right after the snapshot it came with has
  // been written (or has failed to be).
  using Done = std::function<void(const SaveResult& result)>;

  // `wrap` lets a test put a writer between the archive and the file.
  explicit CBackgroundSaver(std::string path, WriterWrapper wrap = nullptr);
  // Writes what was handed over, then stops.
  ~CBackgroundSaver();
  CBackgroundSaver(const CBackgroundSaver&) = delete;
  CBackgroundSaver& operator=(const CBackgroundSaver&) = delete;

  // Hands a snapshot over to be written; returns at once.
  void Save(CModelSnapshot snapshot, Done done = nullptr);
  // Takes a snapshot of the model and hands it over.
  void Save(const CFeedsManager& manager, Done done = nullptr);
  // Waits until everything handed over has been written (at exit).
  void Wait();

  bool Idle() const;
  // The change count of the latest snapshot written successfully; nullopt
  // before the first.
  std::optional<uint64_t> SavedChangeCount() const;
  // The outcome of the latest save.
  SaveResult LastResult() const;

 private:
  struct Job {
    CModelSnapshot snapshot;
    Done done;
  };
  void Run();

  const std::string m_path;
  const WriterWrapper m_wrap;
  mutable std::mutex m_mutex;
  std::condition_variable m_changed;
  std::optional<Job> m_waiting;
  bool m_writing = false;
  bool m_stopping = false;
  std::optional<uint64_t> m_savedChangeCount;
  SaveResult m_lastResult;
  std::thread m_thread;  // last: it starts once everything above exists
};

}  // namespace qb
