#include "feeds/Download.h"

#include <gtest/gtest.h>

#include "model/Text.h"
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
  EXPECT_EQ(DownloadText(server.Url16("/bare"), FastOptions()), u"<rss><t>caf\uFFFD</t></rss>");
  EXPECT_EQ(DownloadText(server.Url16("/utf8"), FastOptions()), u"<rss><t>caf\u00E9</t></rss>");
}

}  // namespace
}  // namespace qb
