// Fetching a feed document over HTTP or HTTPS. Synchronous: the caller
// waits for the whole transfer. Never throws and never reports an error: a
// failed transfer gives empty text, which the interpretation then reports as
// a document it cannot understand.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

namespace qb {

// Limits that keep a stalled or hostile server from hanging the reader or
// exhausting its memory. Tests shorten them.
struct DownloadOptions {
  long connectTimeoutMs = 2000;
  // A transfer moving fewer than 1 byte per second for this long is given up
  // (at least one byte must move in any such stretch).
  std::chrono::milliseconds stallTime{30000};
  // A body (after decompression) larger than this is given up.
  size_t maxBodyBytes = size_t{64} * 1024 * 1024;
  long maxRedirects = 10;
};

struct DownloadResult {
  bool ok = false;          // the transfer completed (whatever the HTTP status)
  long httpStatus = 0;      // of the last response, after redirects
  std::string contentType;  // of the last response
  std::string body;         // empty unless ok
};

// Fetches the URL's body. Only http and https are fetched (a URL without a
// scheme is taken as http); any other scheme fails without touching the file
// system. Redirects are followed; gzip and deflate bodies are decoded; the
// body is returned whatever the status code. Proxies come from the usual
// environment variables; nothing is cached.
DownloadResult DownloadBytes(const std::string& url, const DownloadOptions& options = {});

// The body decoded as text (DecodeFeedBytes with the response's charset), or
// empty on any failure.
std::u16string DownloadText(const std::u16string& url);
std::u16string DownloadText(const std::u16string& url, const DownloadOptions& options);

// The agent name sent with every request.
inline constexpr char kUserAgent[] = "Quillbend";

}  // namespace qb
