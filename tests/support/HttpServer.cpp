#include "tests/support/HttpServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <functional>
#include <cstdlib>
#include <stdexcept>

#include "base/Text.h"

namespace qb::test {

namespace {

constexpr size_t kMaxRequestBytes = 64 * 1024;
constexpr std::chrono::milliseconds kRequestTimeout{5000};

std::string Lower(std::string s) {
  for (char& c : s) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return s;
}

bool SendAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = send(fd, data, size, MSG_NOSIGNAL);
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool ParseRequest(const std::string& raw, HttpRequest& request) {
  const size_t lineEnd = raw.find("\r\n");
  if (lineEnd == std::string::npos) return false;
  const std::string line = raw.substr(0, lineEnd);
  const size_t sp1 = line.find(' ');
  const size_t sp2 = line.find(' ', sp1 + 1);
  if (sp1 == std::string::npos || sp2 == std::string::npos) return false;
  request.method = line.substr(0, sp1);
  request.path = line.substr(sp1 + 1, sp2 - sp1 - 1);
  size_t pos = lineEnd + 2;
  while (pos < raw.size()) {
    const size_t end = raw.find("\r\n", pos);
    if (end == std::string::npos || end == pos) break;
    const std::string header = raw.substr(pos, end - pos);
    const size_t colon = header.find(':');
    if (colon != std::string::npos) {
      size_t v = colon + 1;
      while (v < header.size() && header[v] == ' ') ++v;
      request.headers[Lower(header.substr(0, colon))] = header.substr(v);
    }
    pos = end + 2;
  }
  return true;
}

}  // namespace

HttpResponse HttpResponse::Ok(std::string body, std::string contentType) {
  HttpResponse r;
  r.body = std::move(body);
  r.headers.emplace_back("Content-Type", std::move(contentType));
  return r;
}

HttpResponse HttpResponse::RetryLater(int status, const std::string& retryAfter) {
  HttpResponse r;
  r.status = status;
  r.reason = status == 429 ? "Too Many Requests" : "Service Unavailable";
  r.headers.emplace_back("Retry-After", retryAfter);
  r.headers.emplace_back("Content-Type", "text/html");
  r.body = "<html><body>Later</body></html>";
  return r;
}

HttpResponse HttpResponse::Redirect(const std::string& location, int status) {
  HttpResponse r;
  r.status = status;
  r.reason = "Found";
  r.headers.emplace_back("Location", location);
  return r;
}

std::string Compress(const std::string& bytes, bool gzip) {
  z_stream zs{};
  if (deflateInit2(&zs, Z_BEST_COMPRESSION, Z_DEFLATED, gzip ? 15 + 16 : 15, 8,
                   Z_DEFAULT_STRATEGY) != Z_OK) {
    throw std::runtime_error("deflateInit2 failed");
  }
  std::string out(deflateBound(&zs, static_cast<uLong>(bytes.size())) + 32, '\0');
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
  zs.avail_in = static_cast<uInt>(bytes.size());
  zs.next_out = reinterpret_cast<Bytef*>(out.data());
  zs.avail_out = static_cast<uInt>(out.size());
  const int rc = deflate(&zs, Z_FINISH);
  out.resize(zs.total_out);
  deflateEnd(&zs);
  if (rc != Z_STREAM_END) throw std::runtime_error("deflate failed");
  return out;
}

void BypassProxyForLoopback() {
  setenv("no_proxy", "127.0.0.1,localhost", 1);
  setenv("NO_PROXY", "127.0.0.1,localhost", 1);
}

uint16_t HttpServer::ClosedPort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof(addr);
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    if (fd >= 0) close(fd);
    throw std::runtime_error("no free port");
  }
  close(fd);  // bound but never listening: nothing accepts on this port now
  return ntohs(addr.sin_port);
}

namespace {

// A socket listening on 127.0.0.<n>:port (port 0: any); -1 when it cannot.
int Listen(int n, uint16_t port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK - 1 + static_cast<uint32_t>(n));
  addr.sin_port = htons(port);
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 || listen(fd, 128) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

uint16_t PortOf(int fd) {
  sockaddr_in addr{};
  socklen_t len = sizeof(addr);
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) return 0;
  return ntohs(addr.sin_port);
}

std::string LocalAddress(int fd) {
  sockaddr_in addr{};
  socklen_t len = sizeof(addr);
  char text[INET_ADDRSTRLEN] = {};
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0 ||
      inet_ntop(AF_INET, &addr.sin_addr, text, sizeof(text)) == nullptr) {
    return {};
  }
  return text;
}

}  // namespace

HttpServer::HttpServer(int addresses) {
  BypassProxyForLoopback();
  if (pipe(m_stopPipe) != 0) throw std::runtime_error("pipe failed");
  // The first address picks a free port; the others must get the same one,
  // so a port taken on any of them means starting again.
  for (int attempt = 0; attempt < 50 && static_cast<int>(m_listenFds.size()) < addresses; ++attempt) {
    for (int fd : m_listenFds) close(fd);
    m_listenFds.clear();
    const int first = Listen(1, 0);
    if (first < 0) break;
    m_listenFds.push_back(first);
    m_port = PortOf(first);
    for (int n = 2; n <= addresses; ++n) {
      const int fd = Listen(n, m_port);
      if (fd < 0) break;
      m_listenFds.push_back(fd);
    }
  }
  if (m_port == 0 || static_cast<int>(m_listenFds.size()) < addresses) {
    for (int fd : m_listenFds) close(fd);
    close(m_stopPipe[0]);
    close(m_stopPipe[1]);
    throw std::runtime_error("cannot listen on the loopback addresses");
  }
  m_acceptThread = std::thread([this] { AcceptLoop(); });
}

HttpServer::~HttpServer() {
  // The pipe stays readable from now on, which wakes every waiting thread.
  const char stop = 1;
  (void)!write(m_stopPipe[1], &stop, 1);
  m_acceptThread.join();
  std::vector<std::thread> connections;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    connections.swap(m_connections);
  }
  for (std::thread& t : connections) t.join();
  for (int fd : m_listenFds) close(fd);
  close(m_stopPipe[0]);
  close(m_stopPipe[1]);
}

std::string HttpServer::Url(const std::string& path, int address) const {
  return "http://127.0.0." + std::to_string(address) + ":" + std::to_string(m_port) + path;
}

std::u16string HttpServer::Url16(const std::string& path, int address) const {
  return Widen(Url(path, address));
}

void HttpServer::Set(const std::string& path, HttpResponse response) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_responses[path] = std::move(response);
}

void HttpServer::SetHandler(std::function<HttpResponse(const HttpRequest&)> handler) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_handler = std::move(handler);
}

std::vector<HttpRequest> HttpServer::Requests() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_requests;
}

size_t HttpServer::TlsAttempts() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_tlsAttempts;
}

ConnectionCounts HttpServer::Counts() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_counts;
}

uint64_t HttpServer::BytesSent() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_bytesSent;
}

void HttpServer::Release(const std::string& address) {
  std::lock_guard<std::mutex> lock(m_mutex);
  --m_counts.open;
  --m_openPerAddress[address];
}

void ResponseGate::Open() {
  {
    std::lock_guard lock(m_mutex);
    m_open = true;
  }
  m_opened.notify_all();
}

bool ResponseGate::Wait(const std::function<bool(std::chrono::milliseconds)>& stop) {
  // Looks at the server's stop between short waits on the gate.
  for (;;) {
    {
      std::unique_lock lock(m_mutex);
      if (m_opened.wait_for(lock, std::chrono::milliseconds(20), [this] { return m_open; })) return true;
    }
    if (stop(std::chrono::milliseconds(0))) return false;
  }
}

bool HttpServer::WaitOrStop(std::chrono::milliseconds duration) {
  pollfd p{m_stopPipe[0], POLLIN, 0};
  return poll(&p, 1, static_cast<int>(duration.count())) > 0;
}

void HttpServer::AcceptLoop() {
  std::vector<pollfd> fds;
  for (int fd : m_listenFds) fds.push_back({fd, POLLIN, 0});
  fds.push_back({m_stopPipe[0], POLLIN, 0});
  for (;;) {
    for (pollfd& p : fds) p.revents = 0;
    if (poll(fds.data(), fds.size(), -1) < 0) continue;
    if (fds.back().revents) return;
    for (size_t i = 0; i + 1 < fds.size(); ++i) {
      if (!(fds[i].revents & POLLIN)) continue;
      const int fd = accept4(fds[i].fd, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) continue;
      const std::string address = LocalAddress(fd);
      std::lock_guard<std::mutex> lock(m_mutex);
      ++m_counts.accepted;
      m_counts.maxOpen = std::max(m_counts.maxOpen, ++m_counts.open);
      int& perAddress = m_counts.maxOpenPerAddress[address];
      perAddress = std::max(perAddress, ++m_openPerAddress[address]);
      m_connections.emplace_back([this, fd, address] {
        Serve(fd, address);
        close(fd);
      });
    }
  }
}

void HttpServer::Serve(int fd, const std::string& address) {
  // Waits until the client closes the connection or the server stops.
  auto waitSilently = [&] {
    pollfd fds[2] = {{fd, POLLIN, 0}, {m_stopPipe[0], POLLIN, 0}};
    for (;;) {
      if (poll(fds, 2, -1) < 0) return;
      if (fds[1].revents) return;
      char scratch[256];
      if (recv(fd, scratch, sizeof(scratch), 0) <= 0) return;
    }
  };

  bool released = false;
  auto release = [&] {
    if (!released) Release(address);
    released = true;
  };
  struct AtEnd {
    std::function<void()> f;
    ~AtEnd() { f(); }
  } atEnd{release};
  // Sends the bytes, counting them; the connection stops counting as open
  // just before the last bytes of the response go out.
  auto send = [&](const char* data, size_t size, bool last) {
    if (last) release();
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_bytesSent += size;
    }
    return SendAll(fd, data, size);
  };

  std::string raw;
  const auto deadline = std::chrono::steady_clock::now() + kRequestTimeout;
  while (raw.find("\r\n\r\n") == std::string::npos) {
    if (raw.size() > kMaxRequestBytes || std::chrono::steady_clock::now() > deadline) return;
    pollfd fds[2] = {{fd, POLLIN, 0}, {m_stopPipe[0], POLLIN, 0}};
    if (poll(fds, 2, 100) < 0) return;
    if (fds[1].revents) return;
    if (!(fds[0].revents & (POLLIN | POLLHUP))) continue;
    char buf[4096];
    const ssize_t n = recv(fd, buf, sizeof(buf), 0);
    if (n <= 0) return;
    raw.append(buf, static_cast<size_t>(n));
    if (static_cast<unsigned char>(raw[0]) == 0x16) {  // a TLS handshake record
      std::lock_guard<std::mutex> lock(m_mutex);
      ++m_tlsAttempts;
      return;
    }
  }

  HttpRequest request;
  if (!ParseRequest(raw, request)) return;
  request.address = address;
  // The body: what came after the headers, and the rest its length names.
  const auto length = request.headers.find("content-length");
  if (length != request.headers.end()) {
    const size_t want = std::min<size_t>(std::strtoull(length->second.c_str(), nullptr, 10), kMaxRequestBytes);
    request.body = raw.substr(raw.find("\r\n\r\n") + 4);
    while (request.body.size() < want && std::chrono::steady_clock::now() < deadline) {
      pollfd fds[2] = {{fd, POLLIN, 0}, {m_stopPipe[0], POLLIN, 0}};
      if (poll(fds, 2, 100) < 0 || fds[1].revents) return;
      if (!(fds[0].revents & (POLLIN | POLLHUP))) continue;
      char buf[4096];
      const ssize_t n = recv(fd, buf, sizeof(buf), 0);
      if (n <= 0) break;
      request.body.append(buf, static_cast<size_t>(n));
    }
    if (request.body.size() > want) request.body.resize(want);
  }
  HttpResponse response;
  std::function<HttpResponse(const HttpRequest&)> handler;
  bool found = false;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_requests.push_back(request);
    auto it = m_responses.find(request.path);
    if (it != m_responses.end()) {
      response = it->second;
      found = true;
    } else if (m_handler) {
      handler = m_handler;
    } else {
      response.status = 404;
      response.reason = "Not Found";
      response.headers.emplace_back("Content-Type", "text/html");
      response.body = "<html><head><title>404 Not Found</title></head><body>Not Found</body></html>";
    }
  }
  if (!found && handler) response = handler(request);

  if (response.neverAnswer) return waitSilently();
  if (response.delay.count() > 0 && WaitOrStop(response.delay)) return;
  if (response.gate && !response.gate->Wait([this](std::chrono::milliseconds d) { return WaitOrStop(d); })) return;

  auto header = [&](const std::string& name) {
    auto it = request.headers.find(name);
    return it == request.headers.end() ? std::string() : it->second;
  };
  const bool notModified =
      !response.etag.empty() ? header("if-none-match") == response.etag
                             : !response.lastModified.empty() &&
                                   header("if-modified-since") == response.lastModified;
  std::string body = response.body;
  if (notModified) {
    response.status = 304;
    response.reason = "Not Modified";
    body.clear();
  } else if (!response.contentEncoding.empty()) {
    body = Compress(body, response.contentEncoding == "gzip");
  }
  std::string head = "HTTP/1.1 " + std::to_string(response.status) + " " + response.reason + "\r\n";
  for (const auto& [name, value] : response.headers) head += name + ": " + value + "\r\n";
  if (!response.etag.empty()) head += "ETag: " + response.etag + "\r\n";
  if (!response.lastModified.empty()) head += "Last-Modified: " + response.lastModified + "\r\n";
  if (!notModified) {
    if (!response.contentEncoding.empty()) head += "Content-Encoding: " + response.contentEncoding + "\r\n";
    if (response.sendLength) head += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  }
  head += "Connection: close\r\n\r\n";
  if (!send(head.data(), head.size(), body.empty())) return;

  const size_t piece = response.dripBytes > 0 ? response.dripBytes : body.size();
  size_t sent = 0;
  while (sent < body.size()) {
    if (sent >= response.stallAfter) return waitSilently();
    size_t n = std::min(piece, body.size() - sent);
    if (response.stallAfter != SIZE_MAX) n = std::min(n, response.stallAfter - sent);
    if (!send(body.data() + sent, n, sent + n == body.size())) return;
    sent += n;
    if (response.dripBytes > 0 && sent < body.size() && WaitOrStop(response.dripInterval)) return;
  }
  if (sent >= response.stallAfter && response.stallAfter != SIZE_MAX) waitSilently();
}

}  // namespace qb::test
