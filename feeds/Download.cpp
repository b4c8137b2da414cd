#include "feeds/Download.h"

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <deque>
#include <memory>
#include <mutex>

#include "feeds/TextDecoding.h"
#include "model/Text.h"

namespace qb {

namespace {

using Clock = std::chrono::steady_clock;

struct CurlDeleter {
  void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};
struct MultiDeleter {
  void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};

struct Transfer {
  std::string body;
  size_t limit = 0;
  bool overflow = false;
  size_t moved = 0;  // header and body bytes received so far
};

// Watches the bytes moved: a transfer is stalled when, over the last
// `window`, fewer than one byte per second of it has moved.
class StallWatch {
 public:
  explicit StallWatch(std::chrono::milliseconds window)
      : m_window(window),
        m_minBytes(std::max<size_t>(1, static_cast<size_t>(window.count() / 1000))) {
    m_samples.push_back({Clock::now(), 0});
  }

  bool Stalled(size_t moved) {
    const auto now = Clock::now();
    m_samples.push_back({now, moved});
    // Keep the newest sample that is at least one window old as the reference.
    while (m_samples.size() > 1 && now - m_samples[1].time >= m_window) m_samples.pop_front();
    const Sample& ref = m_samples.front();
    return now - ref.time >= m_window && moved - ref.moved < m_minBytes;
  }

 private:
  struct Sample {
    Clock::time_point time;
    size_t moved;
  };
  std::chrono::milliseconds m_window;
  size_t m_minBytes;
  std::deque<Sample> m_samples;
};

// Returning less than `size * count` makes libcurl abandon the transfer.
size_t WriteBody(char* data, size_t size, size_t count, void* user) {
  auto* transfer = static_cast<Transfer*>(user);
  const size_t n = size * count;
  transfer->moved += n;
  if (n > transfer->limit - transfer->body.size()) {
    transfer->overflow = true;
    return 0;
  }
  try {
    transfer->body.append(data, n);
  } catch (...) {
    return 0;
  }
  return n;
}

size_t CountHeader(char*, size_t size, size_t count, void* user) {
  static_cast<Transfer*>(user)->moved += size * count;
  return size * count;
}

// Runs the transfer, checking for a stall between waits. libcurl's own
// low-speed check averages over several seconds and so cannot notice a
// short stall; this loop notices one within a tenth of the stall time.
CURLcode Perform(CURL* h, Transfer& transfer, std::chrono::milliseconds stallTime) {
  std::unique_ptr<CURLM, MultiDeleter> multi(curl_multi_init());
  if (!multi || curl_multi_add_handle(multi.get(), h) != CURLM_OK) return CURLE_FAILED_INIT;
  const int waitMs = static_cast<int>(std::clamp<long long>(stallTime.count() / 10, 5, 1000));
  StallWatch watch(stallTime);
  CURLcode result = CURLE_OK;
  int running = 1;
  for (;;) {
    if (curl_multi_perform(multi.get(), &running) != CURLM_OK) {
      result = CURLE_RECV_ERROR;
      break;
    }
    if (!running) {
      int left = 0;
      result = CURLE_RECV_ERROR;
      while (CURLMsg* msg = curl_multi_info_read(multi.get(), &left)) {
        if (msg->msg == CURLMSG_DONE && msg->easy_handle == h) result = msg->data.result;
      }
      break;
    }
    if (watch.Stalled(transfer.moved)) {
      result = CURLE_OPERATION_TIMEDOUT;
      break;
    }
    if (curl_multi_poll(multi.get(), nullptr, 0, waitMs, nullptr) != CURLM_OK) {
      result = CURLE_RECV_ERROR;
      break;
    }
  }
  curl_multi_remove_handle(multi.get(), h);
  return result;
}

void InitCurlOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

}  // namespace

DownloadResult DownloadBytes(const std::string& url, const DownloadOptions& options) {
  DownloadResult result;
  // libcurl reads the URL as a C string; an embedded NUL would silently cut it.
  if (url.empty() || url.find('\0') != std::string::npos) return result;

  InitCurlOnce();
  std::unique_ptr<CURL, CurlDeleter> curl(curl_easy_init());
  if (!curl) return result;
  CURL* h = curl.get();

  Transfer transfer;
  transfer.limit = options.maxBodyBytes;

  curl_easy_setopt(h, CURLOPT_URL, url.c_str());
#if LIBCURL_VERSION_NUM >= 0x075500
  curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
#else
  curl_easy_setopt(h, CURLOPT_PROTOCOLS, static_cast<long>(CURLPROTO_HTTP | CURLPROTO_HTTPS));
  curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS,
                   static_cast<long>(CURLPROTO_HTTP | CURLPROTO_HTTPS));
#endif
  // Without this libcurl guesses the scheme from the host name ("ftp.x.org").
  curl_easy_setopt(h, CURLOPT_DEFAULT_PROTOCOL, "http");
  curl_easy_setopt(h, CURLOPT_USERAGENT, kUserAgent);
  curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, options.connectTimeoutMs);
  curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(h, CURLOPT_MAXREDIRS, options.maxRedirects);
  // Every encoding libcurl can decode (gzip and deflate at least).
  curl_easy_setopt(h, CURLOPT_ACCEPT_ENCODING, "");
  // A declared length over the limit is refused before the body is read; the
  // write callback enforces the limit for undeclared and compressed bodies.
  curl_easy_setopt(h, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(options.maxBodyBytes));
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, WriteBody);
  curl_easy_setopt(h, CURLOPT_WRITEDATA, &transfer);
  curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, CountHeader);
  curl_easy_setopt(h, CURLOPT_HEADERDATA, &transfer);

  if (Perform(h, transfer, options.stallTime) != CURLE_OK || transfer.overflow) return result;

  long status = 0;
  curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
  const char* contentType = nullptr;
  curl_easy_getinfo(h, CURLINFO_CONTENT_TYPE, &contentType);
  result.ok = true;
  result.httpStatus = status;
  if (contentType) result.contentType = contentType;
  result.body = std::move(transfer.body);
  return result;
}

std::u16string DownloadText(const std::u16string& url) { return DownloadText(url, {}); }

std::u16string DownloadText(const std::u16string& url, const DownloadOptions& options) {
  try {
    const DownloadResult r = DownloadBytes(Utf16ToUtf8(url), options);
    if (!r.ok || r.body.empty()) return {};
    return DecodeFeedBytes(r.body, CharsetFromContentType(r.contentType));
  } catch (...) {
    // Out of memory while holding or decoding a body: a failed download.
    return {};
  }
}

}  // namespace qb
