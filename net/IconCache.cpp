#include "net/IconCache.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <map>
#include <system_error>
#include <utility>
#include <vector>

#include "base/Text.h"
#include "base/UserFolders.h"
#include "base/WebAddress.h"
#include "formats/HtmlLinks.h"

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

}  // namespace

std::string DefaultIconFolder() { return ProgramFolderIn(UserCacheFolder()) + "/icons"; }

bool LooksLikeImage(std::string_view b) {
  return StartsWith(b, std::string_view("\0\0\1\0", 4)) ||  // ICO
         StartsWith(b, "\x89PNG\r\n\x1A\n") || StartsWith(b, "GIF87a") || StartsWith(b, "GIF89a") ||
         StartsWith(b, "\xFF\xD8\xFF") ||  // JPEG
         (StartsWith(b, "BM") && b.size() > 14) ||
         (StartsWith(b, "RIFF") && b.size() >= 12 && b.substr(8, 4) == "WEBP") || IsSvg(b);
}

// One site being fetched, on the cache's thread.
struct CIconCache::Fetch {
  std::u16string site;
  std::u16string home;
  std::string folder;
  std::string iconPath;
  std::string markerPath;
  int64_t now = 0;
  SiteIcon icon;  // what is cached, kept when the fetch finds nothing better
  std::vector<std::u16string> candidates;
  size_t next = 0;
};

CIconCache::CIconCache(IDownloader& downloader, IExecutor& executor, IconCacheOptions options)
    : m_downloader(downloader), m_options(std::move(options)), m_tasks(executor) {
  if (m_options.maxSitesAtOnce < 1) m_options.maxSitesAtOnce = 1;
  m_thread = std::thread([this] { Run(); });
}

CIconCache::~CIconCache() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stopping = true;
    m_events.clear();
  }
  m_wake.notify_all();
  m_thread.join();
  // After the join nothing starts another transfer; after this no answer
  // of one comes in.
  m_downloader.Cancel(m_group);
}

void CIconCache::Post(std::function<void()> event) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_stopping) return;
    m_events.push_back(std::move(event));
  }
  m_wake.notify_all();
}

void CIconCache::Run() {
  for (;;) {
    std::function<void()> event;
    {
      std::unique_lock<std::mutex> lock(m_mutex);
      m_wake.wait(lock, [this] { return m_stopping || !m_events.empty(); });
      if (m_stopping) return;
      event = std::move(m_events.front());
      m_events.pop_front();
    }
    event();
  }
}

void CIconCache::Request(std::u16string_view url, Callback done) {
  std::u16string site = SiteKey(url);
  std::vector<Callback>& callbacks = m_waiting[site];
  callbacks.push_back(std::move(done));
  if (callbacks.size() > 1) return;  // a fetch for the site is queued or running
  Post([this, site = std::move(site), home = SiteHomeUrl(url)]() mutable {
    Look(std::move(site), std::move(home));
  });
}

void CIconCache::Answer(SiteIcon icon) {
  m_tasks.Post([this, icon = std::move(icon)] {
    auto it = m_waiting.find(icon.site);
    if (it == m_waiting.end()) return;
    const std::vector<Callback> callbacks = std::move(it->second);
    m_waiting.erase(it);
    for (const Callback& done : callbacks) done(icon);
  });
}

void CIconCache::Look(std::u16string site, std::u16string home) {
  auto fetch = std::make_shared<Fetch>();
  fetch->icon.site = site;
  try {
    if (site.empty()) {
      Answer(std::move(fetch->icon));
      return;
    }
    const IClock& clock = m_options.clock != nullptr ? *m_options.clock : SystemClock();
    fetch->site = std::move(site);
    fetch->home = std::move(home);
    fetch->folder = m_options.folder.empty() ? DefaultIconFolder() : m_options.folder;
    const std::string stem = fetch->folder + "/" + FileStem(fetch->site);
    fetch->iconPath = stem + ".icon";
    fetch->markerPath = stem + ".none";
    fetch->now = clock.CurrentTime();
    const int64_t now = fetch->now;
    // A time in the future (the clock was set back) counts as old.
    auto young = [&](int64_t mtime, std::chrono::seconds limit) {
      return mtime <= now && now - mtime < limit.count();
    };
    // A damaged file is no icon: it is fetched again.
    if (CachedFile cached; ReadCached(fetch->iconPath, m_options.maxIconBytes, cached) &&
                           LooksLikeImage(cached.bytes)) {
      fetch->icon.bytes = std::move(cached.bytes);
      fetch->icon.file = fetch->iconPath;
      if (young(cached.mtime, m_options.refreshAfter)) {
        Answer(std::move(fetch->icon));
        return;
      }
    }
    if (CachedFile marker; ReadCached(fetch->markerPath, 0, marker) &&
                           young(marker.mtime, m_options.retryFailureAfter)) {
      Answer(std::move(fetch->icon));
      return;
    }
  } catch (...) {
    // Out of memory or a file system error: no icon this time.
    Answer(SiteIcon{fetch->icon.site, {}, {}});
    return;
  }
  m_queued.push_back(std::move(fetch));
  StartFetches();
}

void CIconCache::StartFetches() {
  while (m_fetching < m_options.maxSitesAtOnce && !m_queued.empty()) {
    std::shared_ptr<Fetch> fetch = std::move(m_queued.front());
    m_queued.pop_front();
    ++m_fetching;
    DownloadRequest request;
    request.url = Utf16ToUtf8(fetch->home);
    request.group = m_group;
    request.maxBodyBytes = m_options.maxPageBytes;
    request.headers = {{"Accept", "text/html,application/xhtml+xml;q=0.9,*/*;q=0.5"}};
    m_downloader.Start(std::move(request), [this, fetch](DownloadResult page) {
      Post([this, fetch, page = std::move(page)]() mutable { PageArrived(fetch, std::move(page)); });
    });
  }
}

void CIconCache::PageArrived(const std::shared_ptr<Fetch>& fetch, DownloadResult page) {
  try {
    fetch->candidates = IconCandidates(fetch->home, page);
  } catch (...) {
    fetch->candidates.assign(1, fetch->home + u"favicon.ico");
  }
  FetchNextIcon(fetch);
}

void CIconCache::FetchNextIcon(const std::shared_ptr<Fetch>& fetch) {
  if (fetch->next < fetch->candidates.size()) {
    DownloadRequest request;
    request.url = Utf16ToUtf8(fetch->candidates[fetch->next++]);
    request.group = m_group;
    request.maxBodyBytes = m_options.maxIconBytes;
    request.headers = {{"Accept", "image/*,*/*;q=0.5"}};
    m_downloader.Start(std::move(request), [this, fetch](DownloadResult icon) {
      Post([this, fetch, icon = std::move(icon)]() mutable { IconArrived(fetch, std::move(icon)); });
    });
    return;
  }
  // No icon: the old one, if any, stays in use until a later try succeeds.
  std::error_code ignored;
  std::filesystem::create_directories(fetch->folder, ignored);
  WriteCached(fetch->markerPath, {}, fetch->now);
  --m_fetching;
  Answer(std::move(fetch->icon));
  StartFetches();
}

void CIconCache::IconArrived(const std::shared_ptr<Fetch>& fetch, DownloadResult icon) {
  if (!IsSuccess(icon) || !LooksLikeImage(icon.body)) {
    FetchNextIcon(fetch);
    return;
  }
  std::error_code ignored;
  std::filesystem::create_directories(fetch->folder, ignored);
  fetch->icon.bytes = std::move(icon.body);
  fetch->icon.file =
      WriteCached(fetch->iconPath, fetch->icon.bytes, fetch->now) ? fetch->iconPath : std::string();
  ::unlink(fetch->markerPath.c_str());
  --m_fetching;
  Answer(std::move(fetch->icon));
  StartFetches();
}

}  // namespace qb
