#include "tests/support/FullDisk.h"

#include <sqlite3.h>

#include <cstring>
#include <stdexcept>

namespace qb::test {

std::atomic<bool> ScopedFullDisk::full{false};
std::atomic<int> ScopedFullDisk::refused{0};

namespace {

sqlite3_vfs* g_real = nullptr;
sqlite3_vfs g_vfs;

// A file of the real file system behind ours.
struct File {
  sqlite3_file base;  // our methods
  sqlite3_file* real;
};

sqlite3_file* Real(sqlite3_file* f) { return reinterpret_cast<File*>(f)->real; }

bool Refuse(sqlite3_file* f, sqlite3_int64 end) {
  if (!ScopedFullDisk::full) return false;
  sqlite3_int64 size = 0;
  Real(f)->pMethods->xFileSize(Real(f), &size);
  if (end <= size) return false;
  ++ScopedFullDisk::refused;
  return true;
}

int Close(sqlite3_file* f) {
  const int rc = Real(f)->pMethods->xClose(Real(f));
  sqlite3_free(Real(f));
  return rc;
}
int Read(sqlite3_file* f, void* p, int n, sqlite3_int64 at) { return Real(f)->pMethods->xRead(Real(f), p, n, at); }
int Write(sqlite3_file* f, const void* p, int n, sqlite3_int64 at) {
  if (Refuse(f, at + n)) return SQLITE_FULL;
  return Real(f)->pMethods->xWrite(Real(f), p, n, at);
}
int Truncate(sqlite3_file* f, sqlite3_int64 size) { return Real(f)->pMethods->xTruncate(Real(f), size); }
int Sync(sqlite3_file* f, int flags) { return Real(f)->pMethods->xSync(Real(f), flags); }
int FileSize(sqlite3_file* f, sqlite3_int64* size) { return Real(f)->pMethods->xFileSize(Real(f), size); }
int Lock(sqlite3_file* f, int level) { return Real(f)->pMethods->xLock(Real(f), level); }
int Unlock(sqlite3_file* f, int level) { return Real(f)->pMethods->xUnlock(Real(f), level); }
int CheckReserved(sqlite3_file* f, int* out) { return Real(f)->pMethods->xCheckReservedLock(Real(f), out); }
int FileControl(sqlite3_file* f, int op, void* arg) {
  // Growing a file ahead of its writes is a write too.
  if (op == SQLITE_FCNTL_SIZE_HINT && Refuse(f, *static_cast<sqlite3_int64*>(arg))) return SQLITE_FULL;
  return Real(f)->pMethods->xFileControl(Real(f), op, arg);
}
int SectorSize(sqlite3_file* f) { return Real(f)->pMethods->xSectorSize(Real(f)); }
int DeviceCharacteristics(sqlite3_file* f) { return Real(f)->pMethods->xDeviceCharacteristics(Real(f)); }
int ShmMap(sqlite3_file* f, int region, int size, int extend, void volatile** out) {
  return Real(f)->pMethods->xShmMap(Real(f), region, size, extend, out);
}
int ShmLock(sqlite3_file* f, int offset, int n, int flags) { return Real(f)->pMethods->xShmLock(Real(f), offset, n, flags); }
void ShmBarrier(sqlite3_file* f) { Real(f)->pMethods->xShmBarrier(Real(f)); }
int ShmUnmap(sqlite3_file* f, int drop) { return Real(f)->pMethods->xShmUnmap(Real(f), drop); }

const sqlite3_io_methods kMethods = {
    2,    Close,     Read,     Write,     Truncate,   Sync,     FileSize,   Lock,
    Unlock, CheckReserved, FileControl, SectorSize, DeviceCharacteristics, ShmMap, ShmLock, ShmBarrier, ShmUnmap,
    nullptr, nullptr};

int Open(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* f, int flags, int* outFlags) {
  auto* file = reinterpret_cast<File*>(f);
  file->real = static_cast<sqlite3_file*>(sqlite3_malloc(g_real->szOsFile));
  if (file->real == nullptr) return SQLITE_NOMEM;
  std::memset(file->real, 0, static_cast<size_t>(g_real->szOsFile));
  const int rc = g_real->xOpen(g_real, name, file->real, flags, outFlags);
  if (rc != SQLITE_OK || file->real->pMethods == nullptr) {
    sqlite3_free(file->real);
    file->base.pMethods = nullptr;
    return rc == SQLITE_OK ? SQLITE_CANTOPEN : rc;
  }
  file->base.pMethods = &kMethods;
  return SQLITE_OK;
}

}  // namespace

ScopedFullDisk::ScopedFullDisk() {
  full = false;
  refused = 0;
  g_real = sqlite3_vfs_find(nullptr);
  if (g_real == nullptr) throw std::runtime_error("no default SQLite file system");
  g_vfs = *g_real;
  g_vfs.zName = "qb-full-disk";
  g_vfs.szOsFile = sizeof(File);
  g_vfs.xOpen = Open;
  g_vfs.pNext = nullptr;
  sqlite3_vfs_register(&g_vfs, 1);
}

ScopedFullDisk::~ScopedFullDisk() {
  sqlite3_vfs_unregister(&g_vfs);
  sqlite3_vfs_register(g_real, 1);
  full = false;
}

}  // namespace qb::test
