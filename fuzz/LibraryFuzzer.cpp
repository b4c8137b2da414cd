// Bytes -> a library file, opened only to read, loaded, searched, its
// change log read back. Whatever a damaged or hostile file holds, nothing
// crashes, the file is never written, and the model it gives saves as a
// data file that loads again to the same bytes.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <string>

#include "classic/Archive.h"
#include "classic/DataFile.h"
#include "library/Library.h"
#include "model/FeedsManager.h"

namespace qb {
namespace {

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "LibraryFuzzer: %s\n", what);
  std::abort();
}

void RemoveFolder();

const std::string& Folder() {
  static const std::string dir = [] {
    char pattern[] = "/tmp/qb-library-fuzz-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) Fail("no temporary folder");
    return std::string(pattern);
  }();
  // Registered once the name exists, so it runs before the name goes. The
  // folder goes when a run ends normally; a crash leaves it to look at.
  static const bool removed = std::atexit(RemoveFolder) == 0;
  (void)removed;
  return dir;
}

void RemoveFolder() {
  const std::string path = Folder() + "/Library.sqlite";
  for (const char* suffix : {"", "-wal", "-shm", "-journal"}) ::unlink((path + suffix).c_str());
  ::rmdir(Folder().c_str());
}

void Check(const std::string& bytes) {
  const std::string path = Folder() + "/Library.sqlite";
  for (const char* suffix : {"", "-wal", "-shm", "-journal"}) ::unlink((path + suffix).c_str());
  {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) Fail("cannot write the input");
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }
  CLibrary library;
  LibraryOpenOptions options;
  options.readOnly = true;
  options.busyTimeoutMs = 0;
  const LibraryOpenOutcome out = library.Open(path, options);
  if (!out.opened) {
    if (out.message.empty() && !bytes.empty()) Fail("a library that cannot be opened says nothing");
    return;
  }
  if (out.writable) Fail("opened to read, but writable");
  CFeedsManager model;
  if (!library.Load(model).ok) return;
  library.Search(u"ka");
  model.SearchArticles(u"k");
  IdList groups, sources, articles;
  if (library.StoredIds(groups, sources, articles)) {
    LibraryChanges which;
    which.groups = groups;
    which.sources = sources;
    which.articles = articles;
    which.histories = sources;
    which.settings = true;
    CLibraryBatch rows;
    library.ReadRows(which, rows);
  }
  library.ChangesSince(0);
  std::string saved;
  try {
    saved = SaveToBytes(model);
  } catch (const CArchiveException&) {
    return;  // a text the file names but cannot give: the save refuses
  }
  CFeedsManager again;
  if (!LoadFromBytes(again, saved).ok()) Fail("the model saved does not load whole");
  if (SaveToBytes(again) != saved) Fail("the model saved does not save again to the same bytes");
  model.SetArticleStore(nullptr);
  if (!bytes.empty()) {
    FILE* f = std::fopen(path.c_str(), "rb");
    std::string now(bytes.size(), '\0');
    const size_t got = f != nullptr ? std::fread(now.data(), 1, now.size(), f) : 0;
    if (f != nullptr) std::fclose(f);
    if (got != bytes.size() || now != bytes) Fail("the file was written");
  }
}

}  // namespace
}  // namespace qb

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qb::Check(std::string(reinterpret_cast<const char*>(data), size));
  return 0;
}
