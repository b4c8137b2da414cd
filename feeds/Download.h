// Fetching feed documents over HTTP or HTTPS with libcurl.
//
// Two ways in: DownloadBytes/DownloadText fetch one URL on the caller's
// thread; CDownloadPool runs many transfers at once on one worker thread of
// its own and reports each as it ends. Both share the same transfer code and
// limits. Nothing here throws or touches the feed model: a failed transfer is
// a result with an error, never an exception.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace qb {

// Politeness: transfers running at once to one host name, and in all.
inline constexpr int kMaxConnectionsPerHost = 4;
inline constexpr int kMaxConnectionsTotal = 32;
// No transfer may take longer than this, however steadily it drips.
inline constexpr std::chrono::seconds kTransferDeadline{120};

// Limits that keep a stalled or hostile server from hanging the reader or
// exhausting its memory. Tests shorten them.
struct DownloadOptions {
  long connectTimeoutMs = 2000;
  // A transfer moving fewer than 1 byte per second for this long is given up
  // (at least one byte must move in any such stretch).
  std::chrono::milliseconds stallTime{30000};
  // The whole transfer, redirects included, from the moment it starts.
  std::chrono::milliseconds transferDeadline{kTransferDeadline};
  // A body (after decompression) larger than this is given up.
  size_t maxBodyBytes = size_t{64} * 1024 * 1024;
  long maxRedirects = 10;
  int maxPerHost = kMaxConnectionsPerHost;
  int maxTotal = kMaxConnectionsTotal;
};

// Why a transfer did not complete. The HTTP status of a completed transfer
// is not an error here: every body is returned whatever its status.
enum class DownloadError {
  None,
  BadAddress,        // empty, not http or https, or not a URL at all
  HostNotFound,
  Refused,           // nothing accepted the connection
  TimedOut,          // connect timeout, stall, or the transfer deadline
  TooLarge,
  TooManyRedirects,
  Cancelled,
  Failed,            // any other network or protocol failure
};

struct DownloadRequest {
  std::string url;
  // Validators of an earlier response, sent as If-None-Match and
  // If-Modified-Since when not empty.
  std::string etag;
  std::string lastModified;
};

struct DownloadResult {
  bool ok = false;          // the transfer completed (whatever the HTTP status)
  DownloadError error = DownloadError::None;
  long httpStatus = 0;      // of the last response, after redirects
  std::string contentType;  // of the last response
  std::string body;         // empty unless ok
  // Headers of the last response, as sent (surrounding white space removed).
  std::string etag;
  std::string lastModified;
  std::string retryAfter;
  uint64_t bytesReceived = 0;  // header and body bytes as they came off the wire
};

// Fetches the URL's body. Only http and https are fetched (a URL without a
// scheme is taken as http); any other scheme fails without touching the file
// system. Redirects are followed; gzip and deflate bodies are decoded; the
// body is returned whatever the status code. Proxies come from the usual
// environment variables; nothing is cached.
DownloadResult DownloadBytes(const std::string& url, const DownloadOptions& options = {});
DownloadResult DownloadBytes(const DownloadRequest& request, const DownloadOptions& options);

// The body decoded as feed text (DecodeFeedBytes with the response's
// charset), or empty on any failure or when the body is empty.
std::u16string DownloadText(const std::u16string& url);
std::u16string DownloadText(const std::u16string& url, const DownloadOptions& options);
std::u16string DecodeDownload(const DownloadResult& result);

// A short description of the error for the user ("host not found").
std::u16string DescribeDownloadError(DownloadError error);

// Runs transfers asynchronously. Each started transfer ends in exactly one
// call of its `done` function, from any thread, unless CancelAll comes first.
class IDownloader {
 public:
  using Done = std::function<void(DownloadResult result)>;
  virtual ~IDownloader() = default;
  virtual void Start(DownloadRequest request, Done done) = 0;
  // Abandons every transfer started so far. Once it returns, none of their
  // `done` functions is running or will run.
  virtual void CancelAll() = 0;
};

class CTransferSet;

// The real downloader: one worker thread drives every transfer through
// libcurl's multi interface, admitting them in the order started while at
// most `maxPerHost` run to one host name and `maxTotal` in all. The worker
// starts with the pool and ends with it; `done` runs on it and must not call
// back into the pool.
class CDownloadPool final : public IDownloader {
 public:
  explicit CDownloadPool(const DownloadOptions& options = {});
  ~CDownloadPool() override;
  CDownloadPool(const CDownloadPool&) = delete;
  CDownloadPool& operator=(const CDownloadPool&) = delete;

  void Start(DownloadRequest request, Done done) override;
  void CancelAll() override;

 private:
  struct Job {
    DownloadRequest request;
    Done done;
    uint64_t generation;
  };
  void Run();

  std::unique_ptr<CTransferSet> m_transfers;
  std::mutex m_mutex;
  std::mutex m_delivery;           // held while a `done` runs
  std::condition_variable m_wake;  // the worker waits on it while idle
  std::deque<Job> m_incoming;  // started, not yet taken by the worker
  uint64_t m_generation = 0;   // raised by CancelAll; older jobs are dropped
  bool m_stopping = false;
  std::thread m_worker;
};

// The agent name sent with every request.
inline constexpr char kUserAgent[] = "Quillbend";

}  // namespace qb
