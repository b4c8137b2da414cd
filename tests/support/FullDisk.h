// A disk that fills up, for the library's tests: while it exists, SQLite's
// default file system is one that passes everything to the real one, except
// that while Fill() holds, every write that would grow a file, and every
// write to a file that has grown, fails as a full disk does (SQLITE_FULL).
// Connections opened before it keep the real file system.
#pragma once

#include <atomic>

namespace qb::test {

class ScopedFullDisk {
 public:
  ScopedFullDisk();
  ~ScopedFullDisk();
  ScopedFullDisk(const ScopedFullDisk&) = delete;
  ScopedFullDisk& operator=(const ScopedFullDisk&) = delete;

  void Fill() { full = true; }
  void Free() { full = false; }
  // Writes refused so far.
  int Refused() const { return refused; }

  static std::atomic<bool> full;
  static std::atomic<int> refused;
};

}  // namespace qb::test
