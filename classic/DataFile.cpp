#include "classic/DataFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits.h>
#include <new>
#include <unordered_map>
#include <vector>

#include "base/Clock.h"
#include "base/UserFolders.h"
#include "model/FeedsManager.h"
#include "model/ModelWriter.h"

namespace qb {

namespace {

std::string ErrnoText(const std::string& what) { return what + ": " + std::strerror(errno); }

}  // namespace

std::string PreservedName(const std::string& path, const IClock& clock) {
  return PreservedName(path, clock, ".unreadable-");
}

std::string PreservedName(const std::string& path, const IClock& clock, const std::string& infix) {
  const std::time_t now = static_cast<std::time_t>(clock.CurrentTime());
  std::tm tm{};
  localtime_r(&now, &tm);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &tm);
  const std::string base = path + infix + stamp;
  std::string name = base;
  struct stat st {};
  for (int n = 2; ::lstat(name.c_str(), &st) == 0; ++n) name = base + "-" + std::to_string(n);
  return name;
}

namespace {

// Copies everything `fd` holds to a new file `to`, flushed to disk.
bool CopyFile(int fd, const std::string& to) {
  const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (out < 0) return false;
  bool ok = ::lseek(fd, 0, SEEK_SET) == 0;
  std::unique_ptr<char[]> buffer(new char[1 << 16]);
  CFileWriter writer(out);
  while (ok) {
    const ssize_t n = ::read(fd, buffer.get(), 1 << 16);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = n == 0;
      break;
    }
    ok = writer.Write(buffer.get(), static_cast<size_t>(n));
  }
  ok = ok && ::fsync(out) == 0;
  ok = ::close(out) == 0 && ok;
  if (!ok) ::unlink(to.c_str());
  return ok;
}

// Keeps the file at `path` out of the next save's way: a copy when it can be
// read (`fd` >= 0), otherwise, or when the copy fails, the file itself is
// moved aside.
void PutAside(const std::string& path, int fd, const IClock& clock, LoadOutcome& out) {
  const std::string name = PreservedName(path, clock);
  if (fd >= 0 && CopyFile(fd, name)) {
    out.keptAside = KeptAside::Copied;
    out.preservedCopy = name;
  } else if (::rename(path.c_str(), name.c_str()) == 0) {
    out.keptAside = KeptAside::Moved;
    out.preservedCopy = name;
  } else {
    out.keptAside = KeptAside::Failed;
  }
}

void Describe(LoadOutcome& out) {
  switch (out.status) {
    case LoadStatus::BadSchema: out.message = kNewerVersionMessage; break;
    case LoadStatus::BadClass: out.message = kCorruptFileMessage; break;
    default: break;
  }
}

// The file a save to `path` replaces: a link is followed, so that the file
// it names is replaced, not the link.
std::string SaveTarget(const std::string& path) {
  struct stat lst {};
  if (::lstat(path.c_str(), &lst) == 0 && S_ISLNK(lst.st_mode)) {
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved) != nullptr) return resolved;
  }
  return path;
}

constexpr char kSavingInfix[] = ".saving-";
constexpr size_t kSavingSuffix = 6;  // the letters and digits mkostemp puts for XXXXXX

// Whether `name` is a temporary file beside the file named `base`.
bool IsTemporaryName(const std::string& name, const std::string& base, const std::string& infix) {
  const std::string prefix = base + infix;
  if (name.size() != prefix.size() + kSavingSuffix || name.compare(0, prefix.size(), prefix) != 0) {
    return false;
  }
  return std::all_of(name.begin() + static_cast<ptrdiff_t>(prefix.size()), name.end(), [](char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
  });
}

bool SameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

}  // namespace

int CreateLockedTemporary(const std::string& target, const std::string& infix, std::string& temp) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    temp = target + infix + "XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) return -1;
    if (::flock(fd, LOCK_EX) != 0) return fd;
    struct stat mine {}, named {};
    if (::fstat(fd, &mine) == 0 && ::lstat(temp.c_str(), &named) == 0 && SameFile(mine, named)) return fd;
    ::close(fd);
  }
  errno = EAGAIN;
  return -1;
}

int RemoveStaleSaves(const std::string& path) { return RemoveStaleTemporaries(SaveTarget(path), kSavingInfix); }

int RemoveStaleTemporaries(const std::string& target, const std::string& infix) {
  const std::string folder = FolderOf(target);
  const size_t slash = target.rfind('/');
  const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return 0;
  std::vector<std::string> names;
  while (const dirent* e = ::readdir(dir)) {
    if (IsTemporaryName(e->d_name, base, infix)) names.emplace_back(e->d_name);
  }
  ::closedir(dir);

  int removed = 0;
  for (const std::string& name : names) {
    const std::string file = folder + "/" + name;
    const int fd = ::open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) continue;
    struct stat st {}, named {};
    // Locked: a save is writing it. Unlocked, it is removed only while this
    // process holds the lock and the name still names the file locked.
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() &&
        ::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::lstat(file.c_str(), &named) == 0 && SameFile(st, named) &&
        ::unlink(file.c_str()) == 0) {
      ++removed;
    }
    ::close(fd);
  }
  return removed;
}

std::string UnreadableFileNote(const LoadOutcome& out, const std::string& path) {
  if (out.complete()) return {};
  const std::string what = out.openFailed ? path + " could not be read" : path + " could not be read whole";
  switch (out.keptAside) {
    case KeptAside::None: return what + "; it is left untouched";
    case KeptAside::Copied:
      return what + "; it was copied to " + out.preservedCopy + " and will be replaced by the next save";
    case KeptAside::Moved: return what + "; it was moved to " + out.preservedCopy;
    case KeptAside::Failed:
      return what + " nor put aside; it is left untouched and will not be replaced";
  }
  return what;
}

std::string GetDataFilePath() {
  const std::string dir = ProgramFolderIn(UserDataFolder());
  MakeFolders(dir);
  ::chmod(dir.c_str(), 0700);
  return dir + "/Feeds";
}

LoadStatus LoadFromArchive(CFeedsManager& manager, CArchive& ar, std::string* detail) {
  try {
    manager.Serialize(ar);
    return LoadStatus::Ok;
  } catch (const CArchiveException& e) {
    if (detail != nullptr) *detail = e.what();
    switch (e.Cause()) {
      case ArchiveCause::BadSchema: return LoadStatus::BadSchema;
      case ArchiveCause::BadClass: return LoadStatus::BadClass;
      case ArchiveCause::EndOfFile: return LoadStatus::EndOfFile;
      case ArchiveCause::Generic: return LoadStatus::Generic;
    }
    return LoadStatus::Generic;
  } catch (const std::bad_alloc&) {
    if (detail != nullptr) *detail = "out of memory";
    return LoadStatus::Generic;
  }
}

void DropDanglingIds(CFeedsManager& manager) {
  auto keep = [](IdList& list, auto&& resolves) {
    std::erase_if(list, [&](ObjectId id) { return !resolves(id); });
  };
  auto isGroup = [&](ObjectId id) { return manager.GetGroup(id) != nullptr; };
  auto isSource = [&](ObjectId id) { return manager.GetFeedSource(id) != nullptr; };
  auto isArticle = [&](ObjectId id) { return manager.GetFeed(id) != nullptr; };
  keep(CModelWriter(manager).RootGroups(), isGroup);
  for (const auto& [id, record] : CModelWriter(manager).Storage().IdIndex()) {
    if (CGroup* g = CModelWriter(manager).Group(id)) {
      keep(g->m_childGroups, isGroup);
      keep(g->m_sources, isSource);
    } else if (CFeedSource* s = CModelWriter(manager).Source(id)) {
      keep(s->m_articles, isArticle);
    }
  }
}

void BreakGroupCycles(CFeedsManager& manager) {
  // Depth first without recursion: a group is "open" while its subtree is
  // being walked and "done" after; an entry naming an open group closes a
  // cycle.
  enum class Mark { Open, Done };
  std::unordered_map<ObjectId, Mark> marks;
  marks.reserve(CModelWriter(manager).Storage().Size());
  struct Frame {
    CGroup* group;
    ObjectId id;  // as the lists name it
    size_t next;
  };
  std::vector<Frame> stack;
  for (ObjectId rootId : CModelWriter(manager).RootGroups()) {
    CGroup* root = CModelWriter(manager).Group(rootId);
    if (root == nullptr || marks.count(rootId) != 0) continue;
    marks[rootId] = Mark::Open;
    stack.push_back({root, rootId, 0});
    while (!stack.empty()) {
      Frame& top = stack.back();
      IdList& children = top.group->m_childGroups;
      if (top.next == children.size()) {
        marks[top.id] = Mark::Done;
        stack.pop_back();
        continue;
      }
      const ObjectId childId = children[top.next];
      auto mark = marks.find(childId);
      if (mark != marks.end() && mark->second == Mark::Open) {
        children.erase(children.begin() + static_cast<ptrdiff_t>(top.next));
        continue;
      }
      ++top.next;
      CGroup* child = CModelWriter(manager).Group(childId);
      if (child == nullptr || mark != marks.end()) continue;
      marks[childId] = Mark::Open;
      stack.push_back({child, childId, 0});
    }
  }
}

LoadOutcome LoadDataFile(CFeedsManager& manager, const std::string& path,
                         const LoadOptions& options) {
  LoadOutcome out;
  manager.m_unreplaceableFile.clear();
  // Saves this program killed part-way left their new files behind.
  if (!options.readOnly) RemoveStaleSaves(path);
  const auto refuseSavesIfStuck = [&] {
    if (out.keptAside == KeptAside::Failed) manager.m_unreplaceableFile = SaveTarget(path);
  };

  // Non-blocking, so that a pipe in the file's place cannot hang the start;
  // it is no regular file and is refused below. Regular files ignore the flag.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  const int openError = fd < 0 ? errno : 0;
  struct stat st {};
  if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    if (openError == ENOENT) {
      out.fileAbsent = true;
    } else {
      out.openFailed = true;
      out.detail = fd < 0 ? "cannot open " + path + ": " + std::strerror(openError)
                          : "not a regular file: " + path;
      // A file we cannot open (no permission) would still be replaced by the
      // next save, so it is moved aside.
      if (!options.readOnly && fd < 0 && openError != ENOTDIR) PutAside(path, -1, manager.Clock(), out);
      refuseSavesIfStuck();
    }
    if (fd >= 0) ::close(fd);
    manager.FixUpAfterLoad();
    return out;
  }

  ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  {
    CFileReader reader(fd, static_cast<uint64_t>(st.st_size));
    CArchive ar(reader);
    out.status = LoadFromArchive(manager, ar, &out.detail);
  }
  if (st.st_size == 0) {
    // An empty file holds nothing: the empty model is all there is.
    out.fileEmpty = true;
    out.detail.clear();
  } else if (out.status != LoadStatus::Ok) {
    Describe(out);
    DropDanglingIds(manager);
    if (!options.readOnly) PutAside(path, fd, manager.Clock(), out);
    refuseSavesIfStuck();
  }
  ::close(fd);
  BreakGroupCycles(manager);
  manager.FixUpAfterLoad();
  return out;
}

LoadOutcome LoadFromBytes(CFeedsManager& manager, std::string_view bytes) {
  LoadOutcome out;
  {
    CMemoryReader reader(bytes);
    CArchive ar(reader);
    out.status = LoadFromArchive(manager, ar, &out.detail);
  }
  if (bytes.empty()) {
    out.fileEmpty = true;
    out.detail.clear();
  } else if (out.status != LoadStatus::Ok) {
    Describe(out);
    DropDanglingIds(manager);
  }
  BreakGroupCycles(manager);
  manager.FixUpAfterLoad();
  return out;
}

std::string SaveToBytes(const CFeedsManager& manager) {
  CStringWriter writer;
  CArchive ar(writer);
  // Storing reads the model and changes nothing.
  const_cast<CFeedsManager&>(manager).Serialize(ar);
  ar.Flush();
  return writer.bytes();
}

SaveResult SaveDataFile(const CFeedsManager& manager, const std::string& path) {
  return SaveDataFile(manager, path, nullptr);
}

SaveResult SaveDataFile(const CFeedsManager& manager, const std::string& path,
                        const WriterWrapper& wrap) {
  SaveResult result;
  const std::string target = SaveTarget(path);
  if (!manager.m_unreplaceableFile.empty() && manager.m_unreplaceableFile == target) {
    result.error = "the unreadable file " + path + " could not be put aside; not replacing it";
    return result;
  }
  // Storing reads the model and changes nothing.
  return WriteFileSafely(path, [&](CArchive& ar) { const_cast<CFeedsManager&>(manager).Serialize(ar); }, wrap);
}

SaveResult WriteFileSafely(const std::string& path, const std::function<void(CArchive&)>& write,
                           const WriterWrapper& wrap) {
  SaveResult result;
  const std::string target = SaveTarget(path);
  RemoveStaleSaves(target);

  std::string temp;
  const int fd = CreateLockedTemporary(target, kSavingInfix, temp);
  if (fd < 0) {
    result.error = ErrnoText("cannot create a file beside " + target);
    return result;
  }
  auto fail = [&](const std::string& error) {
    ::unlink(temp.c_str());
    ::close(fd);
    result.error = error;
    return result;
  };
  ::fchmod(fd, 0600);

  try {
    std::unique_ptr<IArchiveWriter> writer = std::make_unique<CFileWriter>(fd);
    if (wrap) writer = wrap(std::move(writer));
    CArchive ar(*writer);
    write(ar);
    ar.Flush();
  } catch (const CArchiveException& e) {
    return fail(e.what());
  } catch (const std::bad_alloc&) {
    return fail("out of memory");
  }
  if (::fsync(fd) != 0) return fail(ErrnoText("cannot flush " + temp));
  // Renamed while still locked, so that no cleaner takes the finished file
  // for one a killed save left.
  if (::rename(temp.c_str(), target.c_str()) != 0) return fail(ErrnoText("cannot replace " + target));
  // The data reached the disk with the fsync above; closing only drops the
  // lock.
  ::close(fd);
  // The rename itself reaches the disk with the folder.
  SyncFolderOf(target);
  result.ok = true;
  return result;
}

void SyncFolderOf(const std::string& path) {
  const int dirFd = ::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {
    ::fsync(dirFd);
    ::close(dirFd);
  }
}

}  // namespace qb
