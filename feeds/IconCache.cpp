#include "feeds/IconCache.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "feeds/HtmlLinks.h"
#include "feeds/WebAddress.h"
#include "model/Text.h"
#include "model/UserFolders.h"

namespace qb {

namespace {

// A home page may name several icons; a few tries are enough.
constexpr size_t kMaxIconTries = 3;

bool StartsWith(std::string_view s, std::string_view prefix) {
  return s.substr(0, prefix.size()) == prefix;
}

bool IsSvg(std::string_view bytes) {
  if (StartsWith(bytes, "\xEF\xBB\xBF")) bytes.remove_prefix(3);
  while (!bytes.empty() &&
         (bytes[0] == ' ' || bytes[0] == '\t' || bytes[0] == '\r' || bytes[0] == '\n')) {
    bytes.remove_prefix(1);
  }
  if (StartsWith(bytes, "<svg")) return true;
  if (!StartsWith(bytes, "<?xml") && !StartsWith(bytes, "<!--")) return false;
  return bytes.substr(0, 4096).find("<svg") != std::string_view::npos;
}

// The cache file's name for a site: ASCII letters in lower case, digits,
// "." and "-" as they are, every other byte as %XX; a name too long for a
// file system becomes a hash.
std::string FileStem(std::u16string_view site) {
  const std::string utf8 = Utf16ToUtf8(site);
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : utf8) {
    if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '-') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  if (out.size() <= 120) return out;
  uint64_t hash = 1469598103934665603ull;  // FNV-1a
  for (unsigned char c : utf8) hash = (hash ^ c) * 1099511628211ull;
  out = "h";
  for (int shift = 60; shift >= 0; shift -= 4) out += kHex[(hash >> shift) & 15];
  return out;
}

struct CachedFile {
  std::string bytes;
  int64_t mtime = 0;
};

// Reads the file's bytes and modification time. False when it does not
// exist, cannot be read, or holds more than `limit` bytes.
bool ReadCached(const std::string& path, size_t limit, CachedFile& out) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  bool ok =
      ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && static_cast<uint64_t>(st.st_size) <= limit;
  if (ok) {
    out.mtime = st.st_mtim.tv_sec;
    out.bytes.resize(static_cast<size_t>(st.st_size));
    size_t got = 0;
    while (got < out.bytes.size()) {
      const ssize_t n = ::read(fd, out.bytes.data() + got, out.bytes.size() - got);
      if (n <= 0) break;
      got += static_cast<size_t>(n);
    }
    ok = got == out.bytes.size();
  }
  ::close(fd);
  return ok;
}

// Writes a new file beside `path` and renames it over `path`, so a reader
// sees the old file or the whole new one. Its modification time is `mtime`.
bool WriteCached(const std::string& path, std::string_view bytes, int64_t mtime) {
  std::string temp = path + ".XXXXXX";
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) return false;
  bool ok = ::fchmod(fd, 0644) == 0;
  size_t done = 0;
  while (ok && done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    ok = n > 0;
    if (ok) done += static_cast<size_t>(n);
  }
  const timespec times[2] = {{mtime, 0}, {mtime, 0}};
  ok = ok && ::futimens(fd, times) == 0;
  ok = ::close(fd) == 0 && ok;
  ok = ok && ::rename(temp.c_str(), path.c_str()) == 0;
  if (!ok) ::unlink(temp.c_str());
  return ok;
}

bool IsSuccess(const DownloadResult& r) {
  return r.ok && r.httpStatus >= 200 && r.httpStatus <= 299;
}

// The icons the home page names, SVG last (the window may lack its
// decoder), then /favicon.ico; a few at most.
std::vector<std::u16string> IconCandidates(const std::u16string& home, const DownloadResult& page) {
  const std::u16string favicon = home + u"favicon.ico";
  std::vector<std::u16string> icons;
  std::vector<std::u16string> svgs;
  if (IsSuccess(page)) {
    const HtmlLinks links = ScanHtmlLinks(DecodeHtmlPage(page.body, page.contentType));
    const std::u16string base = LinkBase(home, links);
    for (const HtmlTag& link : links.links) {
      if (!HasToken(link.Get(u"rel"), u"icon") || TrimView(link.Get(u"href")).empty()) continue;
      std::u16string url = ResolveUrl(base, link.Get(u"href"));
      if (SiteHomeUrl(url).empty() || url == favicon) continue;  // data:, javascript:, ...
      const bool svg =
          BareMimeType(link.Get(u"type")) == u"image/svg+xml" || url.ends_with(u".svg");
      std::vector<std::u16string>& list = svg ? svgs : icons;
      if (list.size() < kMaxIconTries && std::find(list.begin(), list.end(), url) == list.end()) {
        list.push_back(std::move(url));
      }
    }
  }
  icons.insert(icons.end(), svgs.begin(), svgs.end());
  if (icons.size() > kMaxIconTries - 1) icons.resize(kMaxIconTries - 1);
  icons.push_back(favicon);
  return icons;
}

std::optional<std::string> FetchIcon(const std::u16string& home, const IconCacheOptions& options) {
  DownloadOptions pageOptions = options.download;
  pageOptions.maxBodyBytes = options.maxPageBytes;
  const DownloadResult page = DownloadBytes(Utf16ToUtf8(home), pageOptions);
  DownloadOptions iconOptions = options.download;
  iconOptions.maxBodyBytes = options.maxIconBytes;
  for (const std::u16string& url : IconCandidates(home, page)) {
    DownloadResult icon = DownloadBytes(Utf16ToUtf8(url), iconOptions);
    if (IsSuccess(icon) && LooksLikeImage(icon.body)) return std::move(icon.body);
  }
  return std::nullopt;
}

struct Job {
  std::u16string site;
  std::u16string home;
};

}  // namespace

std::string DefaultIconFolder() { return ProgramFolderIn(UserCacheFolder()) + "/icons"; }

bool LooksLikeImage(std::string_view b) {
  return StartsWith(b, std::string_view("\0\0\1\0", 4)) ||  // ICO
         StartsWith(b, "\x89PNG\r\n\x1A\n") || StartsWith(b, "GIF87a") || StartsWith(b, "GIF89a") ||
         StartsWith(b, "\xFF\xD8\xFF") ||  // JPEG
         (StartsWith(b, "BM") && b.size() > 14) ||
         (StartsWith(b, "RIFF") && b.size() >= 12 && b.substr(8, 4) == "WEBP") || IsSvg(b);
}

struct CIconCache::Shared {
  IconCacheOptions options;
  std::mutex mutex;  // guards everything below
  std::deque<Job> queue;
  std::map<std::u16string, std::vector<Callback>> waiting;  // by site
  int workers = 0;
  bool stopped = false;
  // Held while callbacks run, so the destructor can wait for them;
  // recursive so that a callback may destroy the cache.
  std::recursive_mutex delivering;

  SiteIcon Resolve(const Job& job) const;
  static void Work(const std::shared_ptr<Shared>& self);
};

SiteIcon CIconCache::Shared::Resolve(const Job& job) const {
  SiteIcon icon;
  icon.site = job.site;
  if (job.site.empty()) return icon;
  const IClock& clock = options.clock != nullptr ? *options.clock : SystemClock();
  const std::string folder = options.folder.empty() ? DefaultIconFolder() : options.folder;
  const std::string stem = folder + "/" + FileStem(job.site);
  const std::string iconPath = stem + ".icon";
  const std::string markerPath = stem + ".none";
  const int64_t now = clock.CurrentTime();
  // A time in the future (the clock was set back) counts as old.
  auto young = [&](int64_t mtime, std::chrono::seconds limit) {
    return mtime <= now && now - mtime < limit.count();
  };

  // A damaged file is no icon: it is fetched again.
  if (CachedFile cached;
      ReadCached(iconPath, options.maxIconBytes, cached) && LooksLikeImage(cached.bytes)) {
    icon.bytes = std::move(cached.bytes);
    icon.file = iconPath;
    if (young(cached.mtime, options.refreshAfter)) return icon;
  }
  if (CachedFile marker;
      ReadCached(markerPath, 0, marker) && young(marker.mtime, options.retryFailureAfter)) {
    return icon;
  }

  std::optional<std::string> fetched = FetchIcon(job.home, options);
  std::error_code ignored;
  std::filesystem::create_directories(folder, ignored);
  if (!fetched) {
    // The old icon, if any, stays in use until a later try succeeds.
    WriteCached(markerPath, {}, now);
    return icon;
  }
  icon.bytes = std::move(*fetched);
  icon.file = WriteCached(iconPath, icon.bytes, now) ? iconPath : std::string();
  ::unlink(markerPath.c_str());
  return icon;
}

void CIconCache::Shared::Work(const std::shared_ptr<Shared>& self) {
  for (;;) {
    Job job;
    {
      std::lock_guard<std::mutex> lock(self->mutex);
      if (self->stopped || self->queue.empty()) {
        --self->workers;
        return;
      }
      job = std::move(self->queue.front());
      self->queue.pop_front();
    }
    SiteIcon icon;
    try {
      icon = self->Resolve(job);
    } catch (...) {
      // Out of memory or a file system error: no icon this time.
      icon = SiteIcon{job.site, {}, {}};
    }
    std::lock_guard<std::recursive_mutex> delivering(self->delivering);
    std::vector<Callback> callbacks;
    {
      std::lock_guard<std::mutex> lock(self->mutex);
      if (self->stopped) continue;
      auto it = self->waiting.find(job.site);
      if (it != self->waiting.end()) {
        callbacks = std::move(it->second);
        self->waiting.erase(it);
      }
    }
    for (const Callback& done : callbacks) done(icon);
  }
}

CIconCache::CIconCache(IconCacheOptions options) : m_shared(std::make_shared<Shared>()) {
  m_shared->options = std::move(options);
  if (m_shared->options.maxWorkers < 1) m_shared->options.maxWorkers = 1;
}

CIconCache::~CIconCache() {
  std::lock_guard<std::recursive_mutex> delivering(m_shared->delivering);
  std::lock_guard<std::mutex> lock(m_shared->mutex);
  m_shared->stopped = true;
  m_shared->queue.clear();
  m_shared->waiting.clear();
}

void CIconCache::Request(std::u16string_view url, Callback done) {
  Job job{SiteKey(url), SiteHomeUrl(url)};
  std::lock_guard<std::mutex> lock(m_shared->mutex);
  if (m_shared->stopped) return;
  std::vector<Callback>& callbacks = m_shared->waiting[job.site];
  callbacks.push_back(std::move(done));
  if (callbacks.size() > 1) return;  // a fetch for the site is queued or running
  m_shared->queue.push_back(std::move(job));
  if (m_shared->workers < m_shared->options.maxWorkers) {
    try {
      std::thread(&Shared::Work, m_shared).detach();
      ++m_shared->workers;
    } catch (const std::system_error&) {
      // No thread to be had now: the job waits for the next worker.
    }
  }
}

}  // namespace qb
