#include "sync/SecretStore.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "base/UserFolders.h"

namespace qb {

std::string AccountSecretKey(uint32_t account) {
  char name[32];
  std::snprintf(name, sizeof(name), "account-%08x", account);
  return name;
}

std::string CFileSecretStore::DefaultFolder() { return ProgramFolderIn(UserDataFolder()) + "/private"; }

std::string CFileSecretStore::PathOf(const std::string& key) const {
  if (key.empty() || key.size() > 64) return {};
  for (char c : key) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
    if (!ok) return {};
  }
  return m_folder + "/" + key + ".secret";
}

std::optional<std::string> CFileSecretStore::Read(const std::string& key) {
  const std::string path = PathOf(key);
  if (path.empty()) return std::nullopt;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return std::nullopt;
  struct stat st {};
  std::optional<std::string> out;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & 077) == 0 &&
      st.st_size < 64 * 1024) {
    std::string secret(static_cast<size_t>(st.st_size), '\0');
    size_t got = 0;
    while (got < secret.size()) {
      const ssize_t n = ::read(fd, secret.data() + got, secret.size() - got);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      got += static_cast<size_t>(n);
    }
    if (got == secret.size()) out = std::move(secret);
  }
  ::close(fd);
  return out;
}

bool CFileSecretStore::Write(const std::string& key, const std::string& secret, std::string* error) {
  const auto fail = [&](const std::string& what) {
    if (error != nullptr) *error = what;
    return false;
  };
  const std::string path = PathOf(key);
  if (path.empty()) return fail("not a usable key");
  MakeFolders(FolderOf(m_folder));
  if (::mkdir(m_folder.c_str(), 0700) != 0 && errno != EEXIST) return fail(m_folder + ": " + std::strerror(errno));
  struct stat st {};
  if (::lstat(m_folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) {
    return fail(m_folder + " is not a folder of this user's");
  }
  if ((st.st_mode & 077) != 0 && ::chmod(m_folder.c_str(), 0700) != 0) return fail(m_folder + ": " + std::strerror(errno));
  const std::string temp = path + ".new";
  ::unlink(temp.c_str());
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return fail(temp + ": " + std::strerror(errno));
  size_t put = 0;
  while (put < secret.size()) {
    const ssize_t n = ::write(fd, secret.data() + put, secret.size() - put);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    put += static_cast<size_t>(n);
  }
  const bool written = put == secret.size() && ::fsync(fd) == 0;
  const int saved = errno;
  ::close(fd);
  if (!written || ::rename(temp.c_str(), path.c_str()) != 0) {
    ::unlink(temp.c_str());
    return fail(path + ": " + std::strerror(written ? errno : saved));
  }
  return true;
}

void CFileSecretStore::Remove(const std::string& key) {
  const std::string path = PathOf(key);
  if (!path.empty()) ::unlink(path.c_str());
}

}  // namespace qb
