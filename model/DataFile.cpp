#include "model/DataFile.h"

#include <fcntl.h>
#include <pwd.h>
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
#include <set>
#include <vector>

#include "model/Clock.h"
#include "model/FeedsManager.h"

namespace qb {

namespace {

// Paths whose unreadable file could be neither copied nor moved aside: a
// save there would destroy it, so saves to them are refused for the rest of
// the run.
std::set<std::string>& ProtectedPaths() {
  static std::set<std::string> paths;
  return paths;
}

std::string ErrnoText(const std::string& what) { return what + ": " + std::strerror(errno); }

void MakeFolders(const std::string& dir) {
  for (size_t slash = dir.find('/', 1); ; slash = dir.find('/', slash + 1)) {
    const std::string part = dir.substr(0, slash);
    if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return;
    if (slash == std::string::npos) break;
  }
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// A free name beside `path` that says when the file was put aside.
std::string PreservedName(const std::string& path, const IClock& clock) {
  const std::time_t now = static_cast<std::time_t>(clock.CurrentTime());
  std::tm tm{};
  localtime_r(&now, &tm);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &tm);
  const std::string base = path + ".unreadable-" + stamp;
  std::string name = base;
  struct stat st {};
  for (int n = 2; ::lstat(name.c_str(), &st) == 0; ++n) name = base + "-" + std::to_string(n);
  return name;
}

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
// moved aside. Returns where it went, or empty.
std::string PutAside(const std::string& path, int fd, const IClock& clock) {
  std::string name = PreservedName(path, clock);
  if (fd >= 0 && CopyFile(fd, name)) return name;
  if (::rename(path.c_str(), name.c_str()) == 0) return name;
  ProtectedPaths().insert(path);
  return {};
}

void Describe(LoadOutcome& out) {
  switch (out.status) {
    case LoadStatus::BadSchema:
      out.message = kNewerVersionMessage;
      out.messageKind = LoadMessageKind::Exclamation;
      break;
    case LoadStatus::BadClass:
      out.message = kCorruptFileMessage;
      out.messageKind = LoadMessageKind::Stop;
      break;
    default:
      break;
  }
}

}  // namespace

std::string GetDataFilePath() {
  std::string base;
  const char* xdg = std::getenv("XDG_DATA_HOME");
  if (xdg != nullptr && xdg[0] == '/') {
    base = xdg;
  } else {
    const char* home = std::getenv("HOME");
    std::string homeDir = home != nullptr ? home : "";
    if (homeDir.empty()) {
      if (const passwd* pw = ::getpwuid(::getuid()); pw != nullptr && pw->pw_dir != nullptr) {
        homeDir = pw->pw_dir;
      }
    }
    base = homeDir + "/.local/share";
  }
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  const std::string dir = base + "/Velmorant/Quillbend";
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
  keep(manager.m_rootGroups, isGroup);
  for (const auto& [id, record] : manager.m_storage.IdIndex()) {
    if (CGroup* g = manager.GetGroup(id)) {
      keep(g->m_childGroups, isGroup);
      keep(g->m_sources, isSource);
    } else if (CFeedSource* s = manager.GetFeedSource(id)) {
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
  marks.reserve(manager.m_storage.Size());
  struct Frame {
    CGroup* group;
    ObjectId id;  // as the lists name it
    size_t next;
  };
  std::vector<Frame> stack;
  for (ObjectId rootId : manager.m_rootGroups) {
    CGroup* root = manager.GetGroup(rootId);
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
      CGroup* child = manager.GetGroup(childId);
      if (child == nullptr || mark != marks.end()) continue;
      marks[childId] = Mark::Open;
      stack.push_back({child, childId, 0});
    }
  }
}

LoadOutcome LoadDataFile(CFeedsManager& manager, const std::string& path,
                         const LoadOptions& options) {
  LoadOutcome out;
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
      if (options.preserveUnreadable && fd < 0 && openError != ENOTDIR) {
        out.preservedCopy = PutAside(path, -1, manager.Clock());
      }
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
  if (out.status != LoadStatus::Ok) {
    Describe(out);
    DropDanglingIds(manager);
    // An empty file holds nothing worth keeping.
    if (options.preserveUnreadable && st.st_size > 0) out.preservedCopy = PutAside(path, fd, manager.Clock());
  }
  ::close(fd);
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
  if (ProtectedPaths().count(path) != 0) {
    result.error = "the unreadable file " + path + " could not be put aside; not replacing it";
    return result;
  }
  // A link is followed, so that the file it names is replaced, not the link.
  std::string target = path;
  struct stat lst {};
  if (::lstat(path.c_str(), &lst) == 0 && S_ISLNK(lst.st_mode)) {
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved) != nullptr) target = resolved;
  }

  std::string temp = target + ".saving-XXXXXX";
  const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) {
    result.error = ErrnoText("cannot create a file beside " + target);
    return result;
  }
  auto fail = [&](const std::string& error) {
    ::close(fd);
    ::unlink(temp.c_str());
    result.error = error;
    return result;
  };
  ::fchmod(fd, 0600);

  try {
    std::unique_ptr<IArchiveWriter> writer = std::make_unique<CFileWriter>(fd);
    if (wrap) writer = wrap(std::move(writer));
    CArchive ar(*writer);
    const_cast<CFeedsManager&>(manager).Serialize(ar);
    ar.Flush();
  } catch (const CArchiveException& e) {
    return fail(e.what());
  } catch (const std::bad_alloc&) {
    return fail("out of memory");
  }
  if (::fsync(fd) != 0) return fail(ErrnoText("cannot flush " + temp));
  if (::close(fd) != 0) {
    result.error = ErrnoText("cannot close " + temp);
    ::unlink(temp.c_str());
    return result;
  }
  if (::rename(temp.c_str(), target.c_str()) != 0) {
    result.error = ErrnoText("cannot replace " + target);
    ::unlink(temp.c_str());
    return result;
  }
  // The rename itself reaches the disk with the folder.
  const int dirFd = ::open(FolderOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {
    ::fsync(dirFd);
    ::close(dirFd);
  }
  result.ok = true;
  return result;
}

}  // namespace qb
