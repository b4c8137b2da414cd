// A loopback HTTP/1.1 server for tests, on 127.0.0.1 and a free port chosen
// by the system. Each path answers with a scripted response: status,
// headers, body, a delay, a slow drip, no answer at all, gzip or deflate.
// Every connection is closed after one response. Nothing leaves the machine.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace qb::test {

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
  // Accepts the connection and the request but never sends a byte.
  bool neverAnswer = false;

  static HttpResponse Ok(std::string body, std::string contentType = "application/rss+xml");
  static HttpResponse Redirect(const std::string& location, int status = 302);
};

struct HttpRequest {
  std::string method;
  std::string path;
  std::map<std::string, std::string> headers;  // names in lower case
};

class HttpServer {
 public:
  // Starts listening at once; throws std::runtime_error when it cannot.
  HttpServer();
  // Stops: silent connections are closed, every thread is joined.
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  uint16_t port() const { return m_port; }
  // "http://127.0.0.1:PORT" + path.
  std::string Url(const std::string& path) const;
  std::u16string Url16(const std::string& path) const;

  // Paths without a response get 404 with a short HTML page.
  void Set(const std::string& path, HttpResponse response);
  std::vector<HttpRequest> Requests() const;
  // Connections that opened with a TLS handshake (a client trying https on
  // this plain http port). Each is closed at once, unanswered.
  size_t TlsAttempts() const;

  // A port on 127.0.0.1 on which nothing listens (connections are refused).
  static uint16_t ClosedPort();

 private:
  void AcceptLoop();
  void Serve(int fd);
  // Waits up to `duration`; true when the server is stopping.
  bool WaitOrStop(std::chrono::milliseconds duration);

  int m_listenFd = -1;
  int m_stopPipe[2] = {-1, -1};
  uint16_t m_port = 0;
  mutable std::mutex m_mutex;
  std::map<std::string, HttpResponse> m_responses;
  std::vector<HttpRequest> m_requests;
  size_t m_tlsAttempts = 0;
  std::vector<std::thread> m_connections;
  std::thread m_acceptThread;
};

// Compresses with zlib: gzip wrapping or the zlib ("deflate") format.
std::string Compress(const std::string& bytes, bool gzip);

// Makes libcurl ignore any proxy for loopback addresses during the tests.
void BypassProxyForLoopback();

}  // namespace qb::test
