#include "base/UserFolders.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace qb {

namespace {

std::string HomeFolder() {
  const char* home = std::getenv("HOME");
  std::string dir = home != nullptr ? home : "";
  if (dir.empty()) {
    if (const passwd* pw = ::getpwuid(::getuid()); pw != nullptr && pw->pw_dir != nullptr) {
      dir = pw->pw_dir;
    }
  }
  return dir;
}

std::string XdgFolder(const char* variable, const char* fallbackBelowHome) {
  const char* xdg = std::getenv(variable);
  std::string base = xdg != nullptr && xdg[0] == '/' ? std::string(xdg) : HomeFolder() + fallbackBelowHome;
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  return base;
}

}  // namespace

std::string UserDataFolder() { return XdgFolder("XDG_DATA_HOME", "/.local/share"); }

std::string UserCacheFolder() { return XdgFolder("XDG_CACHE_HOME", "/.cache"); }

std::string ProgramFolderIn(const std::string& base) { return base + "/Velmorant/Quillbend"; }

void MakeFolders(const std::string& dir) {
  for (size_t slash = dir.find('/', 1);; slash = dir.find('/', slash + 1)) {
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

}  // namespace qb
