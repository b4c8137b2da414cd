#include "net/Transfers.h"

#include <curl/curl.h>

#include <algorithm>
#include <list>
#include <map>
#include <optional>
#include <vector>

#include "base/Text.h"

namespace qb {

namespace {

using SteadyClock = std::chrono::steady_clock;


// Watches the bytes moved: a transfer is stalled when, over the last
// `window`, fewer than one byte per second of it has moved.
class StallWatch {
 public:
  explicit StallWatch(std::chrono::milliseconds window)
      : m_window(window),
        m_minBytes(std::max<size_t>(1, static_cast<size_t>(window.count() / 1000))) {
    m_samples.push_back({SteadyClock::now(), 0});
  }

  bool Stalled(size_t moved) {
    const auto now = SteadyClock::now();
    m_samples.push_back({now, moved});
    // Keep the newest sample that is at least one window old as the reference.
    while (m_samples.size() > 1 && now - m_samples[1].time >= m_window) m_samples.pop_front();
    const Sample& ref = m_samples.front();
    return now - ref.time >= m_window && moved - ref.moved < m_minBytes;
  }

 private:
  struct Sample {
    SteadyClock::time_point time;
    size_t moved;
  };
  std::chrono::milliseconds m_window;
  size_t m_minBytes;
  std::deque<Sample> m_samples;
};

std::string Lower(std::string s) {
  for (char& c : s) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return s;
}

std::string TrimSpace(std::string_view s) {
  size_t b = 0;
  size_t e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t' || s[b] == '\r' || s[b] == '\n')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r' || s[e - 1] == '\n')) --e;
  return std::string(s.substr(b, e - b));
}

// A header value that can go back to a server in a request header: printable,
// of sensible length. Anything else is dropped rather than sent.
bool IsSafeHeaderValue(const std::string& v) {
  if (v.empty() || v.size() > 1024) return false;
  return std::all_of(v.begin(), v.end(), [](char c) {
    const auto u = static_cast<unsigned char>(c);
    return u == '\t' || (u >= 0x20 && u != 0x7F);
  });
}

// A header name that is a plain token (RFC 9110), so that it cannot end the
// header line early.
bool IsHeaderName(const std::string& name) {
  if (name.empty() || name.size() > 128) return false;
  return std::all_of(name.begin(), name.end(), [](char c) {
    const auto u = static_cast<unsigned char>(c);
    return (u >= '0' && u <= '9') || (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') ||
           std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
  });
}

struct Origin {
  std::string scheme, host, port;
};

// The scheme, host name (lower case) and port (the scheme's default when
// none is given) of an absolute http or https URL; nothing otherwise.
std::optional<Origin> OriginOf(const std::string& url) {
  CURLU* u = curl_url();
  if (u == nullptr) return std::nullopt;
  std::optional<Origin> origin;
  if (curl_url_set(u, CURLUPART_URL, url.c_str(), CURLU_NON_SUPPORT_SCHEME) == CURLUE_OK) {
    char* scheme = nullptr;
    char* host = nullptr;
    char* port = nullptr;
    if (curl_url_get(u, CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK &&
        curl_url_get(u, CURLUPART_HOST, &host, 0) == CURLUE_OK &&
        curl_url_get(u, CURLUPART_PORT, &port, CURLU_DEFAULT_PORT) == CURLUE_OK) {
      Origin o{Lower(scheme), Lower(host), port};
      if (o.scheme == "http" || o.scheme == "https") origin = std::move(o);
    }
    curl_free(scheme);
    curl_free(host);
    curl_free(port);
  }
  curl_url_cleanup(u);
  return origin;
}

// Whether a request that keeps to its host may follow a redirect from
// `from` to `to`.
bool SameHost(const std::string& from, const std::string& to) {
  const std::optional<Origin> a = OriginOf(from);
  const std::optional<Origin> b = OriginOf(to);
  if (!a || !b || a->host != b->host) return false;
  if (a->scheme == b->scheme) return a->port == b->port;
  return a->scheme == "http" && a->port == "80" && b->scheme == "https" && b->port == "443";
}

bool IsRedirect(long status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// The host name of a URL, lower case, as politeness counts it; the URL
// itself when it has none that libcurl can find.
std::string HostKey(const std::string& url) {
  std::string key = url;
  CURLU* u = curl_url();
  if (u == nullptr) return key;
  if (curl_url_set(u, CURLUPART_URL, url.c_str(),
                   CURLU_DEFAULT_SCHEME | CURLU_NON_SUPPORT_SCHEME) == CURLUE_OK) {
    char* host = nullptr;
    if (curl_url_get(u, CURLUPART_HOST, &host, 0) == CURLUE_OK && host != nullptr) {
      key = Lower(host);
    }
    curl_free(host);
  }
  curl_url_cleanup(u);
  return key;
}

DownloadError ErrorOf(CURLcode code) {
  switch (code) {
    case CURLE_OK: return DownloadError::None;
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_URL_MALFORMAT: return DownloadError::BadAddress;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY: return DownloadError::HostNotFound;
    case CURLE_COULDNT_CONNECT: return DownloadError::Refused;
    case CURLE_OPERATION_TIMEDOUT: return DownloadError::TimedOut;
    case CURLE_FILESIZE_EXCEEDED: return DownloadError::TooLarge;
    case CURLE_TOO_MANY_REDIRECTS: return DownloadError::TooManyRedirects;
    default: return DownloadError::Failed;
  }
}

}  // namespace

class CTransferSet::Impl {
 public:
  explicit Impl(const DownloadOptions& options) : m_options(options) {
    if (m_library.ok()) m_multi = curl_multi_init();
    if (m_multi != nullptr) {
      // libcurl's own limits back ours up for redirects to other hosts.
      curl_multi_setopt(m_multi, CURLMOPT_MAX_HOST_CONNECTIONS, static_cast<long>(options.maxPerHost));
      curl_multi_setopt(m_multi, CURLMOPT_MAX_TOTAL_CONNECTIONS, static_cast<long>(options.maxTotal));
      curl_multi_setopt(m_multi, CURLMOPT_MAXCONNECTS, static_cast<long>(options.maxTotal));
    }
  }

  ~Impl() {
    Clear();
    if (m_multi != nullptr) curl_multi_cleanup(m_multi);
  }

  Impl(const Impl&) = delete;
  Impl& operator=(const Impl&) = delete;

  void Add(uint64_t tag, const DownloadRequest& request) {
    auto t = std::make_unique<Transfer>(m_options);
    t->tag = tag;
    t->request = request;
    t->host = HostKey(request.url);
    ++m_waitingPerHost[t->host];
    m_waiting.push_back(std::move(t));
  }

  bool Empty() const { return m_waiting.empty() && m_active.empty(); }

  // The longest a Step may wait so that a stall is noticed within a tenth
  // of the stall time.
  int PollInterval() const {
    return static_cast<int>(std::clamp<long long>(m_options.stallTime.count() / 10, 5, 1000));
  }

  // Admits what the limits allow, moves data for at most `waitMs`, and
  // appends every transfer that ended.
  void Step(int waitMs, std::vector<CTransferSet::Finished>& finished) {
    const size_t before = finished.size();
    Admit(finished);
    if (m_multi == nullptr) return;
    Drive(finished);
    if (finished.size() == before && !m_active.empty()) {
      curl_multi_poll(m_multi, nullptr, 0, std::min(waitMs, PollInterval()), nullptr);
      Drive(finished);
    }
    CheckLimits(finished);
    Admit(finished);
  }

  // Makes a Step that waits return at once. Any thread.
  void Wakeup() {
    if (m_multi != nullptr) curl_multi_wakeup(m_multi);
  }

  // Abandons the transfers whose tag `drop` names, waiting or running.
  void Remove(const std::function<bool(uint64_t tag)>& drop) {
    for (auto it = m_active.begin(); it != m_active.end();) {
      if (drop((*it)->tag)) {
        Detach(**it);
        it = m_active.erase(it);
      } else {
        ++it;
      }
    }
    for (auto it = m_waiting.begin(); it != m_waiting.end();) {
      if (drop((*it)->tag)) {
        auto w = m_waitingPerHost.find((*it)->host);
        if (w != m_waitingPerHost.end() && --w->second <= 0) m_waitingPerHost.erase(w);
        it = m_waiting.erase(it);
      } else {
        ++it;
      }
    }
  }

  // Abandons every transfer, waiting or running.
  void Clear() {
    for (auto& t : m_active) Detach(*t);
    m_active.clear();
    m_waiting.clear();
    m_waitingPerHost.clear();
    m_perHost.clear();
  }

 private:
  struct CurlDeleter {
    void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
  };
  struct ListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
  };

  struct Transfer {
    explicit Transfer(const DownloadOptions& o) : watch(o.stallTime) {}
    uint64_t tag = 0;
    DownloadRequest request;
    std::string host;
    // Where the transfer is now (after the redirects followed by hand) and
    // how it asks; for a request that keeps to its host only.
    std::string url;
    bool post = false;
    long redirects = 0;
    std::unique_ptr<CURL, CurlDeleter> easy;
    std::unique_ptr<curl_slist, ListDeleter> headers;
    std::string body;
    size_t limit = 0;
    bool overflow = false;
    size_t moved = 0;  // header and body bytes received so far
    std::string etag, lastModified, retryAfter;
    std::vector<HttpHeader> responseHeaders;
    StallWatch watch;
    SteadyClock::time_point started;
  };

  // Returning less than `size * count` makes libcurl abandon the transfer.
  static size_t WriteBody(char* data, size_t size, size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    const size_t n = size * count;
    t->moved += n;
    if (n > t->limit - t->body.size()) {
      t->overflow = true;
      return 0;
    }
    try {
      t->body.append(data, n);
    } catch (...) {
      return 0;
    }
    return n;
  }

  // Keeps the validators and Retry-After of the last response: a status
  // line starts a new response (after a redirect) and forgets the earlier.
  static size_t ReadHeader(char* data, size_t size, size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    const size_t n = size * count;
    t->moved += n;
    const std::string_view line(data, n);
    if (line.substr(0, 5) == "HTTP/") {
      t->etag.clear();
      t->lastModified.clear();
      t->retryAfter.clear();
      t->responseHeaders.clear();
      return n;
    }
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos) return n;
    const std::string name = Lower(std::string(line.substr(0, colon)));
    std::string value = TrimSpace(line.substr(colon + 1));
    if (!IsSafeHeaderValue(value)) return n;
    try {
      if (t->responseHeaders.size() < 100) t->responseHeaders.emplace_back(name, value);
    } catch (...) {
      // Out of memory: the header is left out.
    }
    if (name == "etag") t->etag = std::move(value);
    else if (name == "last-modified") t->lastModified = std::move(value);
    else if (name == "retry-after") t->retryAfter = std::move(value);
    return n;
  }

  bool Configure(Transfer& t) {
    t.easy.reset(curl_easy_init());
    if (!t.easy) return false;
    CURL* h = t.easy.get();
    t.limit = t.request.maxBodyBytes != 0 ? std::min(t.request.maxBodyBytes, m_options.maxBodyBytes)
                                          : m_options.maxBodyBytes;
    t.url = t.request.url;
    t.post = t.request.method == HttpMethod::kPost;
    curl_easy_setopt(h, CURLOPT_URL, t.url.c_str());
#if LIBCURL_VERSION_NUM >= 0x075500
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
#else
    curl_easy_setopt(h, CURLOPT_PROTOCOLS, static_cast<long>(CURLPROTO_HTTP | CURLPROTO_HTTPS));
    curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS,
                     static_cast<long>(CURLPROTO_HTTP | CURLPROTO_HTTPS));
#endif
#if LIBCURL_VERSION_NUM >= 0x075700
    // Abandoning a transfer must not wait for a name lookup to finish.
    curl_easy_setopt(h, CURLOPT_QUICK_EXIT, 1L);
#endif
    // Without this libcurl guesses the scheme from the host name ("ftp.x.org").
    curl_easy_setopt(h, CURLOPT_DEFAULT_PROTOCOL, "http");
    curl_easy_setopt(h, CURLOPT_USERAGENT, kUserAgent);
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, m_options.connectTimeoutMs);
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, static_cast<long>(m_options.transferDeadline.count()));
    // libcurl drops an Authorization header on the way to another host but
    // sends the body of a 307 or 308 after it: the redirects of a request
    // with credentials or a body are followed here instead (Complete).
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, KeepsToItsHost(t.request) ? 0L : 1L);
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, m_options.maxRedirects);
    // Every encoding libcurl can decode (gzip and deflate at least).
    curl_easy_setopt(h, CURLOPT_ACCEPT_ENCODING, "");
    // A declared length over the limit is refused before the body is read;
    // the write callback enforces the limit for undeclared and compressed
    // bodies.
    curl_easy_setopt(h, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(t.limit));
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, WriteBody);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &t);
    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, ReadHeader);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, &t);
    curl_easy_setopt(h, CURLOPT_PRIVATE, &t);
    SetMethod(t);
    return true;
  }

  // The method, the body and the request headers for the transfer's next
  // request: the first, or the one after a redirect followed by hand.
  static void SetMethod(Transfer& t) {
    CURL* h = t.easy.get();
    if (t.post) {
      curl_easy_setopt(h, CURLOPT_POST, 1L);
      curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(t.request.body.size()));
      curl_easy_setopt(h, CURLOPT_POSTFIELDS, t.request.body.data());
    } else {
      curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
    }
    curl_slist* list = nullptr;
    const auto add = [&list](const std::string& line) {
      if (curl_slist* more = curl_slist_append(list, line.c_str())) list = more;
    };
    if (IsSafeHeaderValue(t.request.etag)) add("If-None-Match: " + t.request.etag);
    if (IsSafeHeaderValue(t.request.lastModified)) add("If-Modified-Since: " + t.request.lastModified);
    if (t.post) {
      if (IsSafeHeaderValue(t.request.contentType)) add("Content-Type: " + t.request.contentType);
      // No wait for a "100 Continue" that many servers never send.
      add("Expect:");
    }
    for (const auto& [name, value] : t.request.headers) {
      if (IsHeaderName(name) && IsSafeHeaderValue(value)) add(name + ": " + value);
    }
    t.headers.reset(list);
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, list);
  }

  // Follows the redirect the transfer has just received when it stays on
  // the transfer's host: true when the transfer goes on.
  bool FollowByHand(Transfer& t) {
    long status = 0;
    curl_easy_getinfo(t.easy.get(), CURLINFO_RESPONSE_CODE, &status);
    const char* next = nullptr;
    if (!IsRedirect(status) || curl_easy_getinfo(t.easy.get(), CURLINFO_REDIRECT_URL, &next) != CURLE_OK ||
        next == nullptr || !SameHost(t.url, next) || t.redirects >= m_options.maxRedirects) {
      return false;
    }
    ++t.redirects;
    t.url = next;
    // As a browser does: 303 always, 301 and 302 after a POST, ask again
    // with GET and without the body.
    if (status == 303 || ((status == 301 || status == 302) && t.post)) t.post = false;
    curl_multi_remove_handle(m_multi, t.easy.get());
    t.body.clear();
    curl_easy_setopt(t.easy.get(), CURLOPT_URL, t.url.c_str());
    SetMethod(t);
    return curl_multi_add_handle(m_multi, t.easy.get()) == CURLM_OK;
  }

  void Fail(std::unique_ptr<Transfer> t, DownloadError error, std::vector<CTransferSet::Finished>& finished) {
    DownloadResult r;
    r.error = error;
    r.bytesReceived = t->moved;
    finished.push_back({t->tag, std::move(r)});
  }

  // Takes the waiting transfers in the order they came, each as soon as its
  // host has a free connection. The walk ends once no host with waiting
  // transfers has room, so many transfers queued for one busy host cost
  // nothing per step.
  void Admit(std::vector<CTransferSet::Finished>& finished) {
    const auto running = [this](const std::string& host) {
      auto it = m_perHost.find(host);
      return it == m_perHost.end() ? 0 : it->second;
    };
    int open = 0;
    for (const auto& [host, waiting] : m_waitingPerHost) {
      if (waiting > 0 && running(host) < m_options.maxPerHost) ++open;
    }
    // One fewer waiting for `host`; when that closes the host, one fewer open.
    const auto leaves = [&](const std::string& host, bool admitted) {
      auto w = m_waitingPerHost.find(host);
      const bool wasOpen = running(host) - (admitted ? 1 : 0) < m_options.maxPerHost;
      if (--w->second == 0) m_waitingPerHost.erase(w);
      const bool stillWaiting = m_waitingPerHost.count(host) != 0;
      if (wasOpen && (!stillWaiting || running(host) >= m_options.maxPerHost)) --open;
    };
    for (auto it = m_waiting.begin(); it != m_waiting.end() && open > 0;) {
      if (static_cast<int>(m_active.size()) >= m_options.maxTotal) break;
      Transfer& t = **it;
      // libcurl reads the URL as a C string; an embedded NUL would silently
      // cut it.
      if (t.request.url.empty() || t.request.url.find('\0') != std::string::npos) {
        leaves(t.host, false);
        Fail(std::move(*it), DownloadError::BadAddress, finished);
        it = m_waiting.erase(it);
        continue;
      }
      if (running(t.host) >= m_options.maxPerHost) {
        ++it;
        continue;
      }
      if (m_multi == nullptr || !Configure(t) ||
          curl_multi_add_handle(m_multi, t.easy.get()) != CURLM_OK) {
        leaves(t.host, false);
        Fail(std::move(*it), DownloadError::Failed, finished);
        it = m_waiting.erase(it);
        continue;
      }
      ++m_perHost[t.host];
      leaves(t.host, true);
      t.started = SteadyClock::now();
      t.watch = StallWatch(m_options.stallTime);
      m_active.push_back(std::move(*it));
      it = m_waiting.erase(it);
    }
  }

  void Detach(Transfer& t) {
    if (t.easy && m_multi != nullptr) curl_multi_remove_handle(m_multi, t.easy.get());
    auto host = m_perHost.find(t.host);
    if (host != m_perHost.end() && --host->second <= 0) m_perHost.erase(host);
  }

  void Complete(std::list<std::unique_ptr<Transfer>>::iterator it, CURLcode code,
                std::vector<CTransferSet::Finished>& finished) {
    Transfer& t = **it;
    if (code == CURLE_OK && !t.overflow && KeepsToItsHost(t.request)) {
      long status = 0;
      curl_easy_getinfo(t.easy.get(), CURLINFO_RESPONSE_CODE, &status);
      if (IsRedirect(status) && t.redirects >= m_options.maxRedirects) code = CURLE_TOO_MANY_REDIRECTS;
      else if (FollowByHand(t)) return;
    }
    DownloadResult r;
    if (code == CURLE_OK && !t.overflow) {
      r.ok = true;
      curl_easy_getinfo(t.easy.get(), CURLINFO_RESPONSE_CODE, &r.httpStatus);
      const char* contentType = nullptr;
      curl_easy_getinfo(t.easy.get(), CURLINFO_CONTENT_TYPE, &contentType);
      if (contentType != nullptr) r.contentType = contentType;
      const char* finalUrl = nullptr;
      curl_easy_getinfo(t.easy.get(), CURLINFO_EFFECTIVE_URL, &finalUrl);
      if (finalUrl != nullptr) r.finalUrl = finalUrl;
      r.body = std::move(t.body);
      r.etag = std::move(t.etag);
      r.lastModified = std::move(t.lastModified);
      r.retryAfter = std::move(t.retryAfter);
      r.headers = std::move(t.responseHeaders);
    } else {
      r.error = t.overflow ? DownloadError::TooLarge : ErrorOf(code);
      if (r.error == DownloadError::None) r.error = DownloadError::Failed;
    }
    curl_off_t body = 0;
    long header = 0;
    curl_easy_getinfo(t.easy.get(), CURLINFO_SIZE_DOWNLOAD_T, &body);
    curl_easy_getinfo(t.easy.get(), CURLINFO_HEADER_SIZE, &header);
    r.bytesReceived = static_cast<uint64_t>(body) + static_cast<uint64_t>(header);
    Detach(t);
    finished.push_back({t.tag, std::move(r)});
    m_active.erase(it);
  }

  void Drive(std::vector<CTransferSet::Finished>& finished) {
    int running = 0;
    curl_multi_perform(m_multi, &running);
    int left = 0;
    while (CURLMsg* msg = curl_multi_info_read(m_multi, &left)) {
      if (msg->msg != CURLMSG_DONE) continue;
      auto it = std::find_if(m_active.begin(), m_active.end(),
                             [&](const auto& t) { return t->easy.get() == msg->easy_handle; });
      if (it != m_active.end()) Complete(it, msg->data.result, finished);
    }
  }

  // libcurl's own low-speed check averages over several seconds and so
  // cannot notice a short stall; this one is checked between waits.
  void CheckLimits(std::vector<CTransferSet::Finished>& finished) {
    const auto now = SteadyClock::now();
    for (auto it = m_active.begin(); it != m_active.end();) {
      Transfer& t = **it;
      if (t.watch.Stalled(t.moved) || now - t.started >= m_options.transferDeadline) {
        auto next = std::next(it);
        Complete(it, CURLE_OPERATION_TIMEDOUT, finished);
        it = next;
      } else {
        ++it;
      }
    }
  }

  CNetworkLibrary m_library;  // first: it outlives the handles
  DownloadOptions m_options;
  CURLM* m_multi = nullptr;
  std::list<std::unique_ptr<Transfer>> m_waiting;
  std::list<std::unique_ptr<Transfer>> m_active;
  // Running transfers per host, and waiting ones.
  std::map<std::string, int> m_perHost;
  std::map<std::string, int> m_waitingPerHost;
};

CTransferSet::CTransferSet(const DownloadOptions& options) : m_impl(std::make_unique<Impl>(options)) {}
CTransferSet::~CTransferSet() = default;
void CTransferSet::Add(uint64_t tag, const DownloadRequest& request) { m_impl->Add(tag, request); }
bool CTransferSet::Empty() const { return m_impl->Empty(); }
int CTransferSet::PollInterval() const { return m_impl->PollInterval(); }
void CTransferSet::Step(int waitMs, std::vector<Finished>& finished) { m_impl->Step(waitMs, finished); }
void CTransferSet::Wakeup() { m_impl->Wakeup(); }
void CTransferSet::Remove(const std::function<bool(uint64_t tag)>& drop) { m_impl->Remove(drop); }
void CTransferSet::Clear() { m_impl->Clear(); }

bool KeepsToItsHost(const DownloadRequest& request) {
  if (request.method == HttpMethod::kPost || !request.body.empty()) return true;
  return std::any_of(request.headers.begin(), request.headers.end(), [](const HttpHeader& h) {
    const std::string name = Lower(h.first);
    return name == "authorization" || name == "proxy-authorization" || name == "cookie";
  });
}

std::string_view HeaderValue(const DownloadResult& result, std::string_view name) {
  const std::string lower = Lower(std::string(name));
  for (const HttpHeader& h : result.headers) {
    if (h.first == lower) return h.second;
  }
  return {};
}

}  // namespace qb
