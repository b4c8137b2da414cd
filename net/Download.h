// Fetching feed documents over HTTP or HTTPS with libcurl (GETs, or POSTs
// with a body, with further headers where a caller needs them).
//
// Two ways in: DownloadBytes/DownloadText fetch one URL on the caller's
// thread; CDownloadPool runs many transfers at once on one worker thread of
// its own and reports each as it ends. Both share the same transfer code and
// limits. The program makes one pool, and everything it fetches in the
// background (updates, the search behind the add-feed dialog, site icons)
// goes through it, each user's transfers a group of their own, so the
// politeness limits hold for every request. Nothing here throws or touches
// the feed model: a failed transfer is a result with an error, never an
// exception.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

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

enum class HttpMethod { kGet, kPost };

// A request header or a response header: name and value.
using HttpHeader = std::pair<std::string, std::string>;

struct DownloadRequest {
  std::string url;
  // Validators of an earlier response, sent as If-None-Match and
  // If-Modified-Since when not empty.
  std::string etag;
  std::string lastModified;
  // The owner's group (NewDownloadGroup): IDownloader::Cancel abandons the
  // transfers of one group and leaves the others running.
  uint64_t group = 0;
  // A body larger than this is given up (0: the downloader's own limit,
  // which a larger value cannot raise).
  size_t maxBodyBytes = 0;
  // A POST sends `body` as `contentType` (a form: FormEncode).
  HttpMethod method = HttpMethod::kGet;
  std::string body = {};
  std::string contentType = {};
  // Further request headers. One whose name is not a plain token or whose
  // value could carry another header line is left out.
  std::vector<HttpHeader> headers = {};
};

// Whether a request carries something meant for its own server alone: a
// body, or an Authorization, Proxy-Authorization or Cookie header. Such a
// request follows redirects only on its own host (the same host name and
// port, or from http on port 80 to https on port 443 of that host); a
// redirect anywhere else ends it, with that redirect (its 3xx status and
// its Location among the headers) as the result, so that neither the
// credentials nor the body reach another host. Other requests follow
// redirects wherever they lead.
bool KeepsToItsHost(const DownloadRequest& request);

struct DownloadResult {
  bool ok = false;          // the transfer completed (whatever the HTTP status)
  DownloadError error = DownloadError::None;
  long httpStatus = 0;      // of the last response, after redirects
  std::string contentType;  // of the last response
  // The address of the last response, after redirects; what its relative
  // links resolve against.
  std::string finalUrl;
  std::string body;         // empty unless ok
  // Headers of the last response, as sent (surrounding white space removed).
  std::string etag;
  std::string lastModified;
  std::string retryAfter;
  // Every header of the last response that could be kept (the first 100,
  // values of at most 1024 printable characters), names in lower case.
  std::vector<HttpHeader> headers;
  uint64_t bytesReceived = 0;  // header and body bytes as they came off the wire
};

// The value of the response's first header of that name (any case), or
// empty.
std::string_view HeaderValue(const DownloadResult& result, std::string_view name);

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

// A short description of the error for the user ("host not found", "did
// not answer in time").
std::u16string DescribeDownloadError(DownloadError error);

// Holds libcurl initialised while it exists. The library is set up by the
// first holder and cleaned up when the last one goes; every transfer and
// every pool holds one, so the clean-up can never come while a transfer
// runs. Any thread.
class CNetworkLibrary {
 public:
  CNetworkLibrary();
  ~CNetworkLibrary();
  CNetworkLibrary(const CNetworkLibrary&) = delete;
  CNetworkLibrary& operator=(const CNetworkLibrary&) = delete;
  // False when libcurl could not be initialised (nothing can be fetched).
  bool ok() const { return m_ok; }

 private:
  bool m_ok = false;
};

// A group number no one else has (never 0). Any thread.
uint64_t NewDownloadGroup();

// Runs transfers asynchronously. Each started transfer ends in exactly one
// call of its `done` function, from any thread, unless its group is
// cancelled first (or the downloader stops).
class IDownloader {
 public:
  using Done = std::function<void(DownloadResult result)>;
  virtual ~IDownloader() = default;
  virtual void Start(DownloadRequest request, Done done) = 0;
  // Abandons every transfer of `group` started so far; the group may start
  // new ones at once. Once it returns, none of their `done` functions is
  // running or will run. REQUIRES: not called from within a `done`.
  virtual void Cancel(uint64_t group) = 0;
};

class CTransferSet;

// The real downloader: one worker thread drives every transfer through
// libcurl's multi interface, admitting them in the order started while at
// most `maxPerHost` run to one host name and `maxTotal` in all. The worker
// starts with the pool and ends with Stop (or the destructor); `done` runs
// on it and every other transfer waits while it runs, as does a Cancel, so
// it does no more than ready the result for its owner (the update engine
// decodes and parses the document there: milliseconds, even for a document
// of a few megabytes), and it must not cancel. libcurl stays initialised
// until the pool is gone.
class CDownloadPool final : public IDownloader {
 public:
  explicit CDownloadPool(const DownloadOptions& options = {});
  // Stops.
  ~CDownloadPool() override;
  CDownloadPool(const CDownloadPool&) = delete;
  CDownloadPool& operator=(const CDownloadPool&) = delete;

  void Start(DownloadRequest request, Done done) override;
  void Cancel(uint64_t group) override;
  // Abandons every transfer and ends the worker; it has been joined when
  // this returns (transfers end at once, none waits for the network).
  // Later Starts are dropped without a call of their `done`.
  void Stop();

 private:
  struct Job {
    DownloadRequest request;
    Done done;
    uint64_t serial;  // the order of Start
  };
  void Run();
  // Whether Cancel has abandoned the job. Under m_mutex.
  bool Cancelled(const Job& job) const;

  CNetworkLibrary m_library;  // first: it outlives the transfers
  std::unique_ptr<CTransferSet> m_transfers;
  std::mutex m_mutex;
  std::mutex m_delivery;           // held while a `done` runs
  std::condition_variable m_wake;  // the worker waits on it while idle
  std::deque<Job> m_incoming;  // started, not yet taken by the worker
  uint64_t m_nextSerial = 1;
  // Per group: its jobs started before this serial are cancelled.
  std::map<uint64_t, uint64_t> m_cancelledBefore;
  bool m_cancelPending = false;  // the worker has running jobs to drop
  bool m_stopping = false;
  std::mutex m_stop;  // one Stop at a time
  std::thread m_worker;
};

// The agent name sent with every request.
inline constexpr char kUserAgent[] = "Quillbend";

// A server's Retry-After is honoured for at most this long, so that a
// mistaken or hostile answer cannot shut a source out for good.
inline constexpr int64_t kMaxRetryAfterSeconds = 24 * 60 * 60;

// The time a Retry-After value (seconds or an HTTP date) names, received at
// `now`, at most kMaxRetryAfterSeconds ahead; 0 when it names nothing later
// than `now`.
int64_t ParseRetryAfter(std::string_view value, int64_t now);

}  // namespace qb
