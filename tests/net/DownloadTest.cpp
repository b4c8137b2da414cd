#include "net/Download.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

#include "base/Text.h"
#include "tests/support/HttpServer.h"
#include "tests/support/TempDir.h"

namespace qb {
namespace {

using test::HttpResponse;
using test::HttpServer;
using namespace std::chrono_literals;

const char kFeed[] =
    "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>T</title>"
    "<item><title>One</title></item></channel></rss>";

// Short limits, so that no test waits long for a stall to be noticed.
DownloadOptions FastOptions() {
  DownloadOptions o;
  o.stallTime = 300ms;
  o.maxBodyBytes = 4096;
  return o;
}

std::string Repeat(char c, size_t n) { return std::string(n, c); }

TEST(DownloadTest, ReturnsTheBodyWhateverTheStatus) {
  HttpServer server;
  server.Set("/feed", HttpResponse::Ok(kFeed));
  HttpResponse gone = HttpResponse::Ok("<html><body>Gone</body></html>", "text/html");
  gone.status = 410;
  gone.reason = "Gone";
  server.Set("/gone", gone);
  HttpResponse chunkless = HttpResponse::Ok(kFeed);
  chunkless.sendLength = false;
  server.Set("/nolength", chunkless);
  server.Set("/empty", HttpResponse::Ok(""));

  struct Case {
    std::string path;
    std::u16string text;
    long status;
  };
  const Case cases[] = {
      {"/feed", Widen(kFeed), 200},
      {"/missing",
       u"<html><head><title>404 Not Found</title></head><body>Not Found</body></html>", 404},
      {"/gone", u"<html><body>Gone</body></html>", 410},
      {"/nolength", Widen(kFeed), 200},
      {"/empty", u"", 200},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DownloadText(server.Url16(c.path), FastOptions()), c.text) << c.path;
    EXPECT_EQ(DownloadBytes(server.Url(c.path), FastOptions()).httpStatus, c.status) << c.path;
  }

  const std::vector<test::HttpRequest> requests = server.Requests();
  ASSERT_FALSE(requests.empty());
  EXPECT_EQ(requests[0].method, "GET");
  EXPECT_EQ(requests[0].headers.at("user-agent"), "Quillbend");
  EXPECT_NE(requests[0].headers.at("accept-encoding").find("gzip"), std::string::npos);
}

TEST(DownloadTest, FollowsAtMostTenRedirects) {
  HttpServer server;
  server.Set("/feed", HttpResponse::Ok(kFeed));
  // /r0 -> /r1 -> ... -> /r12 -> /feed: a chain of 13 redirects.
  for (int i = 0; i <= 12; ++i) {
    const std::string next = i == 12 ? "/feed" : "/r" + std::to_string(i + 1);
    server.Set("/r" + std::to_string(i), HttpResponse::Redirect(i % 2 ? next : server.Url(next),
                                                                i % 3 ? 302 : 301));
  }
  server.Set("/loop", HttpResponse::Redirect("/loop"));
  server.Set("/to-file", HttpResponse::Redirect("file:///etc/hostname"));

  struct Case {
    std::string path;
    bool ok;
  };
  const Case cases[] = {
      {"/r12", true},   // one redirect
      {"/r3", true},    // ten redirects
      {"/r2", false},   // eleven
      {"/loop", false},
      {"/to-file", false},
  };
  for (const Case& c : cases) {
    const std::u16string text = DownloadText(server.Url16(c.path), FastOptions());
    EXPECT_EQ(text, c.ok ? Widen(kFeed) : u"") << c.path;
    // The answer tells where it came from, so its relative links resolve there.
    if (c.ok) {
      EXPECT_EQ(DownloadBytes(server.Url(c.path), FastOptions()).finalUrl, server.Url("/feed")) << c.path;
    }
  }
}

TEST(DownloadTest, OnlyHttpAndHttpsAreFetched) {
  HttpServer server;
  server.Set("/feed", HttpResponse::Ok(kFeed));
  test::TempDir dir;
  test::WriteFile(dir.File("feed.xml"), kFeed);
  const std::string port = std::to_string(server.port());

  struct Case {
    std::string url;
    bool ok;
  };
  const Case cases[] = {
      {"HTTP://127.0.0.1:" + port + "/feed", true},
      {"127.0.0.1:" + port + "/feed", true},  // no scheme: http
      {"file://" + dir.File("feed.xml"), false},
      {"FILE://" + dir.File("feed.xml"), false},
      {dir.File("feed.xml"), false},
      {"ftp://127.0.0.1:" + port + "/feed", false},
      {"gopher://127.0.0.1:" + port + "/feed", false},
      {"dict://127.0.0.1:" + port + "/feed", false},
      {"", false},
      {"http://127.0.0.1:" + port + std::string("/feed\0junk", 10), false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DownloadText(Utf8ToUtf16(c.url), FastOptions()), c.ok ? Widen(kFeed) : u"") << c.url;
  }
  // Only the two http requests reached the server: the other schemes never
  // spoke to it, not even in their own protocol.
  EXPECT_EQ(server.Requests().size(), 2u);
}

TEST(DownloadTest, RefusedConnectionGivesEmptyText) {
  const std::string url = "http://127.0.0.1:" + std::to_string(HttpServer::ClosedPort()) + "/feed";
  EXPECT_EQ(DownloadText(Utf8ToUtf16(url), FastOptions()), u"");
  EXPECT_FALSE(DownloadBytes(url, FastOptions()).ok);
}

TEST(DownloadTest, StalledServersAreAbandoned) {
  HttpServer server;
  HttpResponse silent;
  silent.neverAnswer = true;
  server.Set("/silent", silent);
  HttpResponse stalled = HttpResponse::Ok(kFeed);
  stalled.stallAfter = 10;  // headers and ten bytes, then nothing
  server.Set("/stalled", stalled);

  for (const char* path : {"/silent", "/stalled"}) {
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(DownloadText(server.Url16(path), FastOptions()), u"") << path;
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s) << path;
  }
}

TEST(DownloadTest, SlowButMovingTransferCompletes) {
  HttpServer server;
  // About 1.2 s in all, three times the stall time, with pauses a tenth of it.
  const std::string body = "<a>" + Repeat('x', 293) + "</a>";
  HttpResponse drip = HttpResponse::Ok(body);
  drip.dripBytes = 10;
  drip.dripInterval = 40ms;
  drip.delay = 40ms;
  server.Set("/drip", drip);
  DownloadOptions options = FastOptions();
  options.stallTime = 400ms;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(DownloadText(server.Url16("/drip"), options), Widen(body));
  EXPECT_GT(std::chrono::steady_clock::now() - start, options.stallTime);
}

TEST(DownloadTest, BodiesOverTheLimitAreAbandoned) {
  HttpServer server;
  const DownloadOptions options = FastOptions();  // 4096 bytes
  auto body = [](size_t n) { return "<a>" + Repeat('x', n - 7) + "</a>"; };
  server.Set("/fits", HttpResponse::Ok(body(4096)));
  server.Set("/declared", HttpResponse::Ok(body(4097)));
  HttpResponse undeclared = HttpResponse::Ok(body(100000));
  undeclared.sendLength = false;
  server.Set("/undeclared", undeclared);
  // A small compressed body that inflates far beyond the limit.
  HttpResponse bomb = HttpResponse::Ok(body(1000000));
  bomb.contentEncoding = "gzip";
  server.Set("/bomb", bomb);

  EXPECT_EQ(DownloadText(server.Url16("/fits"), options).size(), 4096u);
  for (const char* path : {"/declared", "/undeclared", "/bomb"}) {
    EXPECT_EQ(DownloadText(server.Url16(path), options), u"") << path;
  }
}

TEST(DownloadTest, CompressedBodiesAreDecoded) {
  HttpServer server;
  for (const char* encoding : {"gzip", "deflate"}) {
    HttpResponse r = HttpResponse::Ok(kFeed);
    r.contentEncoding = encoding;
    server.Set(std::string("/") + encoding, r);
    EXPECT_EQ(DownloadText(server.Url16(std::string("/") + encoding), FastOptions()), Widen(kFeed))
        << encoding;
  }
}

TEST(DownloadTest, LegacyEncodingsFollowTheDeclaration) {
  HttpServer server;
  const std::string declared = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><rss><t>caf\xE9</t></rss>";
  const std::string bare = "<rss><t>caf\xE9</t></rss>";
  server.Set("/declared", HttpResponse::Ok(declared, "text/xml"));
  server.Set("/charset", HttpResponse::Ok(bare, "text/xml; charset=iso-8859-1"));
  server.Set("/bare", HttpResponse::Ok(bare, "text/xml"));
  server.Set("/utf8", HttpResponse::Ok("<rss><t>caf\xC3\xA9</t></rss>", "text/xml; charset=iso-8859-1"));

  EXPECT_EQ(DownloadText(server.Url16("/declared"), FastOptions()),
            u"<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><rss><t>caf\u00E9</t></rss>");
  EXPECT_EQ(DownloadText(server.Url16("/charset"), FastOptions()), u"<rss><t>caf\u00E9</t></rss>");
  EXPECT_EQ(DownloadText(server.Url16("/bare"), FastOptions()), u"<rss><t>caf\u00E9</t></rss>");  // windows-1252
  EXPECT_EQ(DownloadText(server.Url16("/utf8"), FastOptions()), u"<rss><t>caf\u00E9</t></rss>");
}

// A request with credentials or a body follows redirects on its own host
// only: libcurl by itself drops the Authorization header on the way to
// another host but sends a 307's body after it.
TEST(DownloadTest, CredentialsAndBodiesStayOnTheirHost) {
  HttpServer server(2);
  const std::string elsewhere = server.Url("/landing", 2);
  const std::string otherName = "http://localhost:" + std::to_string(server.port()) + "/landing";
  server.Set("/landing", HttpResponse::Ok("landed", "text/plain"));
  server.Set("/away302", HttpResponse::Redirect(elsewhere, 302));
  server.Set("/away307", HttpResponse::Redirect(elsewhere, 307));
  server.Set("/name302", HttpResponse::Redirect(otherName, 302));
  server.Set("/home307", HttpResponse::Redirect("/landing", 307));
  server.Set("/home302", HttpResponse::Redirect(server.Url("/landing"), 302));
  server.Set("/loop", HttpResponse::Redirect("/loop", 307));

  const HttpHeader auth{"Authorization", "GoogleLogin auth=secret"};
  struct Case {
    std::string path;
    HttpMethod method;
    std::vector<HttpHeader> headers;
    long status;              // of the result
    std::string landedAs;     // method that reached /landing, "" for none
    std::string landedAddress;
    bool landedWithAuth;
    DownloadError error = DownloadError::None;
  };
  const Case cases[] = {
      {"/away302", HttpMethod::kGet, {auth}, 302, "", "", false},
      {"/away307", HttpMethod::kPost, {}, 307, "", "", false},
      {"/away307", HttpMethod::kPost, {auth}, 307, "", "", false},
      {"/name302", HttpMethod::kGet, {{"cookie", "s=1"}}, 302, "", "", false},
      {"/home307", HttpMethod::kPost, {auth}, 200, "POST", "127.0.0.1", true},
      {"/home302", HttpMethod::kPost, {auth}, 200, "GET", "127.0.0.1", true},
      // Without credentials a redirect goes anywhere, as before.
      {"/away302", HttpMethod::kGet, {{"Accept", "text/plain"}}, 200, "GET", "127.0.0.2", false},
      {"/loop", HttpMethod::kGet, {auth}, 0, "", "", false, DownloadError::TooManyRedirects},
  };
  for (const Case& c : cases) {
    const size_t before = server.Requests().size();
    DownloadRequest request;
    request.url = server.Url(c.path);
    request.method = c.method;
    if (c.method == HttpMethod::kPost) {
      request.body = "T=token&i=1";
      request.contentType = "application/x-www-form-urlencoded";
    }
    request.headers = c.headers;
    const DownloadResult r = DownloadBytes(request, FastOptions());
    EXPECT_EQ(r.error, c.error) << c.path;
    EXPECT_EQ(r.httpStatus, c.status) << c.path;
    if (c.status == 302 || c.status == 307) {
      EXPECT_FALSE(HeaderValue(r, "Location").empty()) << c.path;
    }
    const std::vector<test::HttpRequest> all = server.Requests();
    const std::vector<test::HttpRequest> seen(all.begin() + static_cast<long>(before), all.end());
    ASSERT_FALSE(seen.empty()) << c.path;
    EXPECT_EQ(seen[0].method, c.method == HttpMethod::kPost ? "POST" : "GET") << c.path;
    if (c.method == HttpMethod::kPost) {
      EXPECT_EQ(seen[0].body, "T=token&i=1") << c.path;
      EXPECT_EQ(seen[0].headers.at("content-type"), "application/x-www-form-urlencoded") << c.path;
    }
    std::vector<test::HttpRequest> landed;
    for (const auto& q : seen) {
      if (q.path == "/landing") landed.push_back(q);
    }
    if (c.landedAs.empty()) {
      EXPECT_TRUE(landed.empty()) << c.path << " reached " << landed[0].address;
      continue;
    }
    ASSERT_EQ(landed.size(), 1u) << c.path;
    EXPECT_EQ(r.body, "landed") << c.path;
    EXPECT_EQ(landed[0].method, c.landedAs) << c.path;
    EXPECT_EQ(landed[0].address, c.landedAddress) << c.path;
    EXPECT_EQ(landed[0].headers.count("authorization"), c.landedWithAuth ? 1u : 0u) << c.path;
    EXPECT_EQ(landed[0].body, c.landedAs == "POST" ? "T=token&i=1" : "") << c.path;
  }
}

// Extra headers go out unless they could smuggle in another header line.
TEST(DownloadTest, ExtraHeadersAreSentWhenSafe) {
  HttpServer server;
  HttpResponse answer = HttpResponse::Ok("{}", "application/json");
  answer.headers.emplace_back("X-Reader-Google-Bad-Token", "true");
  server.Set("/api", answer);
  DownloadRequest request{server.Url("/api"), "", ""};
  request.headers = {{"Accept", "application/json"},
                     {"X-Evil", "a\r\nInjected: 1"},
                     {"Bad Name", "x"},
                     {"X-Ok", "fine"}};
  const DownloadResult r = DownloadBytes(request, FastOptions());
  EXPECT_EQ(HeaderValue(r, "x-reader-google-BAD-token"), "true");
  EXPECT_EQ(HeaderValue(r, "content-type"), "application/json");
  const std::vector<test::HttpRequest> requests = server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].headers.at("accept"), "application/json");
  EXPECT_EQ(requests[0].headers.at("x-ok"), "fine");
  EXPECT_EQ(requests[0].headers.count("x-evil"), 0u);
  EXPECT_EQ(requests[0].headers.count("injected"), 0u);
  EXPECT_EQ(requests[0].headers.count("bad name"), 0u);
}

// Runs requests through a pool and waits for all of their results.
std::vector<DownloadResult> FetchAll(CDownloadPool& pool, const std::vector<DownloadRequest>& requests) {
  std::mutex mutex;
  std::condition_variable cv;
  std::vector<DownloadResult> results(requests.size());
  size_t done = 0;
  for (size_t i = 0; i < requests.size(); ++i) {
    pool.Start(requests[i], [&, i](DownloadResult r) {
      std::lock_guard<std::mutex> lock(mutex);
      results[i] = std::move(r);
      ++done;
      cv.notify_all();
    });
  }
  std::unique_lock<std::mutex> lock(mutex);
  cv.wait(lock, [&] { return done == requests.size(); });
  return results;
}

TEST(DownloadTest, ErrorsSayWhatWentWrong) {
  HttpServer server;
  HttpResponse stalled = HttpResponse::Ok(kFeed);
  stalled.stallAfter = 10;
  server.Set("/stalled", stalled);
  server.Set("/big", HttpResponse::Ok(Repeat('x', 5000)));
  server.Set("/loop", HttpResponse::Redirect("/loop"));
  server.Set("/feed", HttpResponse::Ok(kFeed));
  struct Case {
    std::string url;
    DownloadError error;
  };
  const Case cases[] = {
      {server.Url("/feed"), DownloadError::None},
      {"http://127.0.0.1:" + std::to_string(HttpServer::ClosedPort()) + "/", DownloadError::Refused},
      {server.Url("/stalled"), DownloadError::TimedOut},
      {server.Url("/big"), DownloadError::TooLarge},
      {server.Url("/loop"), DownloadError::TooManyRedirects},
      {"ftp://127.0.0.1/feed", DownloadError::BadAddress},
      {"", DownloadError::BadAddress},
  };
  for (const Case& c : cases) {
    const DownloadResult r = DownloadBytes(c.url, FastOptions());
    EXPECT_EQ(r.error, c.error) << c.url;
    EXPECT_EQ(r.ok, c.error == DownloadError::None) << c.url;
  }
  EXPECT_EQ(DescribeDownloadError(DownloadError::HostNotFound), u"host not found");
}

TEST(DownloadTest, ATransferThatDripsForeverMeetsTheDeadline) {
  HttpServer server;
  // 20 bytes a second: far from stalled, but it would take a minute.
  HttpResponse drip = HttpResponse::Ok("<a>" + Repeat('x', 1200) + "</a>");
  drip.dripBytes = 2;
  drip.dripInterval = 100ms;
  server.Set("/drip", drip);
  DownloadOptions options = FastOptions();
  options.stallTime = 400ms;
  options.transferDeadline = 700ms;
  const auto start = std::chrono::steady_clock::now();
  const DownloadResult r = DownloadBytes(server.Url("/drip"), options);
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(r.error, DownloadError::TimedOut);
  EXPECT_GE(took, 600ms);
  EXPECT_LT(took, 3s);
  EXPECT_EQ(DownloadOptions{}.transferDeadline, kTransferDeadline);
  EXPECT_EQ(kTransferDeadline, 120s);
}

TEST(DownloadTest, ValidatorsAreSentAndA304HasNoBody) {
  HttpServer server;
  HttpResponse feed = HttpResponse::Ok(kFeed);
  feed.etag = "\"abc\"";
  feed.lastModified = "Tue, 05 May 2009 10:00:00 GMT";
  server.Set("/feed", feed);
  HttpResponse dated = HttpResponse::Ok(kFeed);
  dated.lastModified = "Tue, 05 May 2009 10:00:00 GMT";
  server.Set("/dated", dated);

  const DownloadResult first = DownloadBytes(server.Url("/feed"), FastOptions());
  EXPECT_EQ(first.httpStatus, 200);
  EXPECT_EQ(first.etag, "\"abc\"");
  EXPECT_EQ(first.lastModified, "Tue, 05 May 2009 10:00:00 GMT");

  const DownloadResult second =
      DownloadBytes(DownloadRequest{server.Url("/feed"), first.etag, first.lastModified}, FastOptions());
  EXPECT_TRUE(second.ok);
  EXPECT_EQ(second.httpStatus, 304);
  EXPECT_TRUE(second.body.empty());
  EXPECT_LT(second.bytesReceived, first.bytesReceived);

  const DownloadResult third =
      DownloadBytes(DownloadRequest{server.Url("/dated"), "", first.lastModified}, FastOptions());
  EXPECT_EQ(third.httpStatus, 304);
  // A validator that could smuggle another header in is never sent.
  const DownloadResult hostile =
      DownloadBytes(DownloadRequest{server.Url("/feed"), "\"abc\"\r\nX-Evil: 1", ""}, FastOptions());
  EXPECT_EQ(hostile.httpStatus, 200);

  const std::vector<test::HttpRequest> requests = server.Requests();
  ASSERT_EQ(requests.size(), 4u);
  EXPECT_EQ(requests[0].headers.count("if-none-match"), 0u);
  EXPECT_EQ(requests[1].headers.at("if-none-match"), "\"abc\"");
  EXPECT_EQ(requests[1].headers.at("if-modified-since"), "Tue, 05 May 2009 10:00:00 GMT");
  EXPECT_EQ(requests[2].headers.count("if-none-match"), 0u);
  EXPECT_EQ(requests[3].headers.count("if-none-match"), 0u);
  EXPECT_EQ(requests[3].headers.count("x-evil"), 0u);
}

TEST(DownloadTest, ThePoolKeepsToItsConnectionLimits) {
  constexpr int kHosts = 10;
  HttpServer server(kHosts);
  HttpResponse slow = HttpResponse::Ok(kFeed);
  slow.delay = 300ms;
  server.Set("/feed", slow);
  // Ten sources on each host name, asked for host by host.
  std::vector<DownloadRequest> requests;
  for (int host = 1; host <= kHosts; ++host) {
    for (int i = 0; i < 10; ++i) requests.push_back({server.Url("/feed", host), "", ""});
  }
  CDownloadPool pool;
  const auto start = std::chrono::steady_clock::now();
  const std::vector<DownloadResult> results = FetchAll(pool, requests);
  const auto took = std::chrono::steady_clock::now() - start;
  for (const DownloadResult& r : results) EXPECT_EQ(r.httpStatus, 200);

  const test::ConnectionCounts counts = server.Counts();
  EXPECT_EQ(counts.accepted, 100);
  EXPECT_EQ(counts.maxOpen, kMaxConnectionsTotal);
  ASSERT_EQ(counts.maxOpenPerAddress.size(), static_cast<size_t>(kHosts));
  for (const auto& [address, open] : counts.maxOpenPerAddress) {
    EXPECT_EQ(open, kMaxConnectionsPerHost) << address;
  }
  // Far below the 30 s one at a time would take.
  EXPECT_LT(took, 10s);
}

// Each user of the pool abandons its own transfers; the others' go on.
TEST(DownloadTest, CancellingAGroupEndsItsTransfersAtOnce) {
  HttpServer server;
  HttpResponse silent;
  silent.neverAnswer = true;
  server.Set("/silent", silent);
  HttpResponse slow = HttpResponse::Ok(kFeed);
  slow.delay = 300ms;
  server.Set("/slow", slow);
  server.Set("/feed", HttpResponse::Ok(kFeed));
  CDownloadPool pool;
  const uint64_t mine = NewDownloadGroup();
  const uint64_t theirs = NewDownloadGroup();
  ASSERT_NE(mine, theirs);
  std::atomic<int> calls{0};
  for (int i = 0; i < 6; ++i) {
    DownloadRequest r{server.Url("/silent"), "", ""};
    r.group = mine;
    pool.Start(r, [&](DownloadResult) { ++calls; });
  }
  while (server.Counts().accepted < 4) std::this_thread::sleep_for(5ms);
  // Behind the per-host limit, waiting for one of the silent ones.
  std::mutex mutex;
  std::condition_variable cv;
  std::optional<DownloadResult> other;
  DownloadRequest r{server.Url("/slow"), "", ""};
  r.group = theirs;
  pool.Start(r, [&](DownloadResult result) {
    std::lock_guard<std::mutex> lock(mutex);
    other = std::move(result);
    cv.notify_all();
  });

  const auto start = std::chrono::steady_clock::now();
  pool.Cancel(mine);
  while (server.Counts().open > 1 && std::chrono::steady_clock::now() - start < 5s) {
    std::this_thread::sleep_for(5ms);
  }
  EXPECT_LE(server.Counts().open, 1);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
  {
    std::unique_lock<std::mutex> lock(mutex);
    ASSERT_TRUE(cv.wait_for(lock, 10s, [&] { return other.has_value(); }));
  }
  EXPECT_EQ(other->httpStatus, 200) << "another group's transfer is not touched";
  EXPECT_EQ(server.Counts().accepted, 5) << "the queued ones never started";
  EXPECT_EQ(calls, 0);

  // The pool goes on serving later requests.
  const std::vector<DownloadResult> after = FetchAll(pool, {{server.Url("/feed"), "", ""}});
  EXPECT_EQ(after[0].httpStatus, 200);
}

// The pool stops at once, whatever hangs, and starts nothing afterwards.
TEST(DownloadTest, StopEndsEveryTransferAndJoinsTheWorker) {
  HttpServer server;
  HttpResponse silent;
  silent.neverAnswer = true;
  server.Set("/silent", silent);
  CDownloadPool pool;
  std::atomic<int> calls{0};
  for (int i = 0; i < 3; ++i) {
    DownloadRequest r{server.Url("/silent"), "", ""};
    r.group = NewDownloadGroup();
    pool.Start(r, [&](DownloadResult) { ++calls; });
  }
  while (server.Counts().accepted < 3) std::this_thread::sleep_for(5ms);
  const auto start = std::chrono::steady_clock::now();
  pool.Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
  pool.Start({server.Url("/silent"), "", ""}, [&](DownloadResult) { ++calls; });
  pool.Stop();
  while (server.Counts().open > 0 && std::chrono::steady_clock::now() - start < 5s) {
    std::this_thread::sleep_for(5ms);
  }
  EXPECT_EQ(server.Counts().open, 0);
  EXPECT_EQ(server.Counts().accepted, 3);
  EXPECT_EQ(calls, 0);
}

}  // namespace
}  // namespace qb
