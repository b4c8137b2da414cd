#include "update/Validators.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "base/Text.h"
#include "base/UserFolders.h"
#include "classic/DataFile.h"
#include "model/FeedsManager.h"
#include "net/Download.h"

namespace qb {

namespace {

// Version 1 had no record of the last attempt's outcome; it is still read.
constexpr std::string_view kHeaderV1 = "Quillbend fetch state 1";
constexpr std::string_view kHeader = "Quillbend fetch state 2";

std::string Encode(std::string_view bytes) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out = "=";
  for (char c : bytes) {
    const auto u = static_cast<unsigned char>(c);
    if (u <= 0x20 || u >= 0x7F || c == '%' || c == '=') {
      out += '%';
      out += kHex[u >> 4];
      out += kHex[u & 15];
    } else {
      out += c;
    }
  }
  return out;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool Decode(std::string_view token, std::string& out) {
  if (token.empty() || token[0] != '=') return false;
  out.clear();
  for (size_t i = 1; i < token.size(); ++i) {
    if (token[i] != '%') {
      out += token[i];
      continue;
    }
    if (i + 2 >= token.size()) return false;
    const int hi = HexValue(token[i + 1]);
    const int lo = HexValue(token[i + 2]);
    if (hi < 0 || lo < 0) return false;
    out += static_cast<char>(hi * 16 + lo);
    i += 2;
  }
  return true;
}

template <typename T>
bool Number(std::string_view token, T& out) {
  const auto [end, ec] = std::from_chars(token.data(), token.data() + token.size(), out);
  return ec == std::errc() && end == token.data() + token.size();
}

std::vector<std::string_view> Split(std::string_view line) {
  std::vector<std::string_view> tokens;
  size_t pos = 0;
  while (pos <= line.size()) {
    const size_t space = line.find(' ', pos);
    const size_t end = space == std::string_view::npos ? line.size() : space;
    tokens.push_back(line.substr(pos, end - pos));
    pos = end + 1;
  }
  return tokens;
}

}  // namespace

DataFileFingerprint DataFileFingerprint::Of(const std::string& path) {
  DataFileFingerprint f;
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return f;
  f.present = true;
  f.device = static_cast<uint64_t>(st.st_dev);
  f.inode = static_cast<uint64_t>(st.st_ino);
  f.size = static_cast<uint64_t>(st.st_size);
  f.mtimeSec = st.st_mtim.tv_sec;
  f.mtimeNsec = st.st_mtim.tv_nsec;
  f.ctimeSec = st.st_ctim.tv_sec;
  f.ctimeNsec = st.st_ctim.tv_nsec;
  return f;
}

int64_t BackoffSeconds(uint32_t failures, int32_t refreshMinutes) {
  if (failures == 0 || refreshMinutes <= 0) return 0;
  const int64_t minutes = int64_t{1} << std::min<uint32_t>(failures - 1, 30);
  return std::min<int64_t>(minutes, refreshMinutes) * 60;
}

const SourceUpdateState* CValidatorStore::Find(ObjectId source, std::u16string_view url) const {
  auto it = m_states.find(source);
  return it != m_states.end() && it->second.url == url ? &it->second : nullptr;
}

void CValidatorStore::Changed(ObjectId source) {
  const bool first = m_changed.empty();
  m_changed.insert(source);
  if (first && m_changeHook) m_changeHook();
}

SourceUpdateState& CValidatorStore::Get(ObjectId source, const std::u16string& url) {
  // The caller is about to change it.
  Changed(source);
  SourceUpdateState& s = m_states[source];
  if (s.url != url) {
    s = SourceUpdateState{};
    s.url = url;
  }
  return s;
}

void CValidatorStore::Forget(ObjectId source) {
  if (m_states.erase(source) != 0) Changed(source);
}

void CValidatorStore::ForgetValidators(ObjectId source) {
  auto it = m_states.find(source);
  if (it == m_states.end()) return;
  it->second.etag.clear();
  it->second.lastModified.clear();
  Changed(source);
}

void CValidatorStore::Retain(const std::unordered_set<ObjectId>& sources) {
  std::erase_if(m_states, [&](const auto& entry) {
    if (sources.count(entry.first) != 0) return false;
    Changed(entry.first);
    return true;
  });
}

namespace {

LibraryUpdateState ToRow(ObjectId id, const SourceUpdateState& s) {
  LibraryUpdateState row;
  static_cast<UpdateStateFields&>(row) = s;
  row.source = id;
  return row;
}

SourceUpdateState FromRow(const LibraryUpdateState& row) { return row; }

}  // namespace

void CValidatorStore::Replace(const std::vector<LibraryUpdateState>& stored) {
  m_states.clear();
  m_changed.clear();
  m_dataFile = DataFileFingerprint{};
  for (const LibraryUpdateState& row : stored) m_states[row.source] = FromRow(row);
}

void CValidatorStore::TakeChangedStates(std::vector<LibraryUpdateState>& put, IdList& dropped) {
  for (ObjectId id : m_changed) {
    auto it = m_states.find(id);
    if (it != m_states.end()) {
      put.push_back(ToRow(id, it->second));
    } else {
      dropped.push_back(id);
    }
  }
  m_changed.clear();
}

void CValidatorStore::ApplyStoredStates(const std::vector<LibraryUpdateState>& put, const IdList& dropped) {
  IdList touched = dropped;
  for (ObjectId id : dropped) m_states.erase(id);
  for (const LibraryUpdateState& row : put) {
    m_states[row.source] = FromRow(row);
    touched.push_back(row.source);
  }
  if (m_storedHook && !touched.empty()) m_storedHook(touched);
}

ImportUpdateStateHook CValidatorStore::CarryIntoLibrary(const std::string& dataFile) {
  const DataFileFingerprint before = DataFileFingerprint::Of(dataFile);
  CValidatorStore cache;
  if (!before.present || !cache.ReadFile(CachePathFor(dataFile)) || cache.m_states.empty()) return {};
  return [cache = std::move(cache), before, dataFile](const ImportReport& report) {
    ImportedUpdateStates out;
    std::string why;
    if (!(cache.m_dataFile.present && cache.m_dataFile == before)) {
      why = "the data file was written after they were saved";
    } else if (!report.load.complete()) {
      why = "the data file could not be read whole";
    } else if (report.repaired()) {
      why = "the import repaired the data file's lists";
    } else if (!(DataFileFingerprint::Of(dataFile) == before)) {
      why = "the data file changed while it was imported";
    }
    bool dropped = false;
    for (const auto& [id, state] : cache.m_states) {
      LibraryUpdateState row = ToRow(id, state);
      if (!why.empty()) {
        dropped = dropped || !row.etag.empty() || !row.lastModified.empty();
        row.etag.clear();
        row.lastModified.clear();
      }
      out.states.push_back(std::move(row));
    }
    if (dropped) out.validatorsDropped = why;
    return out;
  };
}

CValidatorStore CValidatorStore::CopyFor(const CFeedsManager& manager) const {
  CValidatorStore copy;
  copy.m_dataFile = m_dataFile;
  for (const auto& [id, state] : m_states) {
    if (manager.GetFeedSource(id) != nullptr) copy.m_states.emplace(id, state);
  }
  return copy;
}

std::function<void(const SaveResult&)> CValidatorStore::WriteAfterSave(CValidatorStore state,
                                                                       std::string dataPath) {
  return [state = std::move(state), dataPath = std::move(dataPath)](const SaveResult& result) mutable {
    if (!result.ok) return;
    state.SetDataFile(DataFileFingerprint::Of(dataPath));
    state.Save(CachePathFor(dataPath));
  };
}

CValidatorStore::Hold CValidatorStore::HoldOf(ObjectId source, std::u16string_view url,
                                              int32_t refreshMinutes, bool force, int64_t now,
                                              int64_t* until) const {
  const SourceUpdateState* s = Find(source, url);
  if (s == nullptr) return Hold::None;
  // A time further ahead than any Retry-After can be means the clock went
  // back; it holds nothing.
  if (s->retryUntil > now && s->retryUntil - now <= kMaxRetryAfterSeconds) {
    if (until != nullptr) *until = s->retryUntil;
    return Hold::RetryAfter;
  }
  // With failures in a row, the last attempt is the latest of them.
  if (!force && s->failures > 0 && now >= s->lastAttempt) {
    const int64_t end = s->lastAttempt + BackoffSeconds(s->failures, refreshMinutes);
    if (now < end) {
      if (until != nullptr) *until = end;
      return Hold::Backoff;
    }
  }
  return Hold::None;
}

std::string CValidatorStore::CachePathFor(const std::string& dataFilePath) {
  std::error_code ec;
  std::filesystem::path p = std::filesystem::weakly_canonical(std::filesystem::absolute(dataFilePath, ec), ec);
  if (ec) p = std::filesystem::path(dataFilePath).lexically_normal();
  // FNV-1a, 64 bits: a stable name for the path.
  uint64_t hash = 1469598103934665603ull;
  for (char c : p.string()) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 1099511628211ull;
  }
  static const char kHex[] = "0123456789abcdef";
  std::string name = "fetch-state-";
  for (int shift = 60; shift >= 0; shift -= 4) name += kHex[(hash >> shift) & 15];
  return ProgramFolderIn(UserCacheFolder()) + "/" + name;
}

std::string CValidatorStore::Serialize() const {
  std::string out(kHeader);
  out += '\n';
  const DataFileFingerprint& f = m_dataFile;
  out += "file " + std::to_string(f.present ? 1 : 0) + " " + std::to_string(f.device) + " " +
         std::to_string(f.inode) + " " + std::to_string(f.size) + " " + std::to_string(f.mtimeSec) +
         " " + std::to_string(f.mtimeNsec) + " " + std::to_string(f.ctimeSec) + " " +
         std::to_string(f.ctimeNsec) + "\n";
  for (const auto& [id, s] : m_states) {
    out += "source " + std::to_string(id) + " " + std::to_string(s.failures) + " " +
           std::to_string(s.lastAttempt) + " " + std::to_string(s.retryUntil) + " " +
           std::to_string(s.lastSuccess) + " " + Encode(Utf16ToUtf8(s.url)) + " " + Encode(s.etag) +
           " " + Encode(s.lastModified) + " " + Encode(Utf16ToUtf8(s.failure)) + "\n";
  }
  return out;
}

bool CValidatorStore::Deserialize(std::string_view text) {
  std::vector<std::string_view> lines;
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t nl = text.find('\n', pos);
    if (nl == std::string_view::npos) return false;  // every line ends; a cut file does not
    lines.push_back(text.substr(pos, nl - pos));
    pos = nl + 1;
  }
  if (lines.size() < 2 || (lines[0] != kHeader && lines[0] != kHeaderV1)) return false;
  const bool v1 = lines[0] == kHeaderV1;

  CValidatorStore read;
  const std::vector<std::string_view> file = Split(lines[1]);
  int present = 0;
  DataFileFingerprint& f = read.m_dataFile;
  if (file.size() != 9 || file[0] != "file" || !Number(file[1], present) || present < 0 ||
      present > 1 || !Number(file[2], f.device) || !Number(file[3], f.inode) ||
      !Number(file[4], f.size) || !Number(file[5], f.mtimeSec) || !Number(file[6], f.mtimeNsec) ||
      !Number(file[7], f.ctimeSec) || !Number(file[8], f.ctimeNsec)) {
    return false;
  }
  f.present = present == 1;
  for (size_t i = 2; i < lines.size(); ++i) {
    const std::vector<std::string_view> t = Split(lines[i]);
    ObjectId id = 0;
    SourceUpdateState s;
    std::string url;
    std::string failure;
    // Version 1: source ID FAILURES LAST-FAILURE RETRY-UNTIL =URL =ETAG
    // =LAST-MODIFIED; version 2 adds LAST-SUCCESS before the URL and the
    // failure's text at the end.
    const size_t at = v1 ? 5 : 6;
    if (t.size() != (v1 ? 8u : 10u) || t[0] != "source" || !Number(t[1], id) || id == 0 ||
        !Number(t[2], s.failures) || !Number(t[3], s.lastAttempt) || !Number(t[4], s.retryUntil) ||
        (!v1 && !Number(t[5], s.lastSuccess)) || !Decode(t[at], url) || !Decode(t[at + 1], s.etag) ||
        !Decode(t[at + 2], s.lastModified) || (!v1 && !Decode(t[at + 3], failure))) {
      return false;
    }
    s.url = Utf8ToUtf16(url);
    s.failure = Utf8ToUtf16(failure);
    if (!read.m_states.emplace(id, std::move(s)).second) return false;
  }
  *this = std::move(read);
  return true;
}

bool CValidatorStore::ReadFile(const std::string& cachePath) {
  *this = CValidatorStore{};
  std::string bytes;
  const int fd = ::open(cachePath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd >= 0) {
    struct stat st {};
    // A cache file is small; anything large or odd is not ours.
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size < (64 << 20)) {
      bytes.resize(static_cast<size_t>(st.st_size));
      size_t got = 0;
      while (got < bytes.size()) {
        const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<size_t>(n);
      }
      bytes.resize(got);
    }
    ::close(fd);
  }
  return !bytes.empty() && Deserialize(bytes);
}

void CValidatorStore::Load(const std::string& cachePath, const DataFileFingerprint& dataFile,
                           bool loadedWhole) {
  CValidatorStore read;
  read.ReadFile(cachePath);
  const bool trusted = loadedWhole && dataFile.present && read.m_dataFile == dataFile;
  if (!trusted) {
    for (auto& [id, s] : read.m_states) {
      s.etag.clear();
      s.lastModified.clear();
    }
  }
  m_states = std::move(read.m_states);
  m_changed.clear();
  m_dataFile = loadedWhole ? dataFile : DataFileFingerprint{};
}

bool CValidatorStore::Save(const std::string& cachePath) const {
  const std::string dir = FolderOf(cachePath);
  MakeFolders(dir);
  std::string temp = cachePath + ".saving-XXXXXX";
  const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) return false;
  ::fchmod(fd, 0600);
  const std::string text = Serialize();
  bool ok = true;
  for (size_t done = 0; ok && done < text.size();) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) done += static_cast<size_t>(n);
  }
  ok = ok && ::fsync(fd) == 0;
  ok = ::close(fd) == 0 && ok;
  if (!ok || ::rename(temp.c_str(), cachePath.c_str()) != 0) {
    ::unlink(temp.c_str());
    return false;
  }
  const int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {
    ::fsync(dirFd);
    ::close(dirFd);
  }
  return true;
}

}  // namespace qb
