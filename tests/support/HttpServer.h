// A loopback HTTP/1.1 server for tests, on 127.0.0.1 (and, when asked, the
// further loopback addresses 127.0.0.2, 127.0.0.3 ...) and one free port
// chosen by the system. Each path answers with a scripted response: status,
// headers, body, a delay, a slow drip, no answer at all, gzip or deflate,
// validators with 304 answers. Every connection is closed after one
// response. It counts the connections open at once, per address and in all.
// Nothing leaves the machine.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace qb::test {

// Holds back the responses that share it until the test opens it, so that a
// test decides when a document comes instead of guessing with a delay.
class ResponseGate {
 public:
  void Open();
  // Waits until the gate is open; false when `stop` said to stop first.
  bool Wait(const std::function<bool(std::chrono::milliseconds)>& stop);

 private:
  std::mutex m_mutex;
  std::condition_variable m_opened;
  bool m_open = false;
};

struct HttpResponse {
  int status = 200;
  std::string reason = "OK";
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
  // Compresses the body and sends Content-Encoding: "gzip" or "deflate".
  std::string contentEncoding;
  // Sends Content-Length; otherwise the body ends when the connection closes.
  bool sendLength = true;
  // Waits this long before the status line.
  std::chrono::milliseconds delay{0};
  // Sends the body in pieces of `dripBytes` with `dripInterval` between them.
  size_t dripBytes = 0;
  std::chrono::milliseconds dripInterval{0};
  // After sending this many body bytes, goes silent until the client gives
  // up or the server stops (a stalled transfer). SIZE_MAX: never.
  size_t stallAfter = SIZE_MAX;
  // Sends nothing before `gate` is opened (after the delay, if any).
  std::shared_ptr<ResponseGate> gate;
  // Accepts the connection and the request but never sends a byte.
  bool neverAnswer = false;
  // Validators sent with the response. A request whose If-None-Match equals
  // `etag`, or (without an ETag here) whose If-Modified-Since equals
  // `lastModified`, gets 304 Not Modified with no body.
  std::string etag;
  std::string lastModified;

  static HttpResponse Ok(std::string body, std::string contentType = "application/rss+xml");
  static HttpResponse Redirect(const std::string& location, int status = 302);
  // 429 or 503 with a Retry-After header.
  static HttpResponse RetryLater(int status, const std::string& retryAfter);
};

struct HttpRequest {
  std::string method;
  std::string path;
  std::map<std::string, std::string> headers;  // names in lower case
  std::string address;  // the server address it came to ("127.0.0.3")
  std::string body;     // as long as its Content-Length said
};

// Connections open at the same moment. A connection counts from its accept
// until the last bytes of its response are about to go out (or it ends), so
// that a client's next connection, opened once it has the whole response,
// never overlaps it in the count.
struct ConnectionCounts {
  int open = 0;
  int maxOpen = 0;
  std::map<std::string, int> maxOpenPerAddress;
  int accepted = 0;
};

class HttpServer {
 public:
  // Starts listening at once on 127.0.0.1 ... 127.0.0.<addresses>, all on
  // one port; throws std::runtime_error when it cannot.
  explicit HttpServer(int addresses = 1);
  // Stops: silent connections are closed, every thread is joined.
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  uint16_t port() const { return m_port; }
  // "http://127.0.0.1:PORT" + path; `address` n picks 127.0.0.n.
  std::string Url(const std::string& path, int address = 1) const;
  std::u16string Url16(const std::string& path, int address = 1) const;

  // Paths without a response get 404 with a short HTML page.
  void Set(const std::string& path, HttpResponse response);
  // Answers every request whose path (with its query) has no response set;
  // called on the connection's own thread, several at once.
  void SetHandler(std::function<HttpResponse(const HttpRequest&)> handler);
  std::vector<HttpRequest> Requests() const;
  // Connections that opened with a TLS handshake (a client trying https on
  // this plain http port). Each is closed at once, unanswered.
  size_t TlsAttempts() const;
  ConnectionCounts Counts() const;
  // Response bytes (headers and body) written so far.
  uint64_t BytesSent() const;

  // A port on 127.0.0.1 on which nothing listens (connections are refused).
  static uint16_t ClosedPort();

 private:
  void AcceptLoop();
  void Serve(int fd, const std::string& address);
  void Release(const std::string& address);
  // Waits up to `duration`; true when the server is stopping.
  bool WaitOrStop(std::chrono::milliseconds duration);

  std::vector<int> m_listenFds;
  int m_stopPipe[2] = {-1, -1};
  uint16_t m_port = 0;
  mutable std::mutex m_mutex;
  std::map<std::string, HttpResponse> m_responses;
  std::function<HttpResponse(const HttpRequest&)> m_handler;
  std::vector<HttpRequest> m_requests;
  size_t m_tlsAttempts = 0;
  ConnectionCounts m_counts;
  std::map<std::string, int> m_openPerAddress;
  uint64_t m_bytesSent = 0;
  std::vector<std::thread> m_connections;
  std::thread m_acceptThread;
};

// Compresses with zlib: gzip wrapping or the zlib ("deflate") format.
std::string Compress(const std::string& bytes, bool gzip);

// Makes libcurl ignore any proxy for loopback addresses during the tests.
void BypassProxyForLoopback();

}  // namespace qb::test
