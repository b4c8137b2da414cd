#include "net/IconCache.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/Text.h"
#include "tests/support/FakeClock.h"
#include "tests/support/HttpServer.h"
#include "tests/support/TempDir.h"

namespace qb {
namespace {

using test::HttpResponse;
using test::HttpServer;
using namespace std::chrono_literals;

const std::string kPng = std::string("\x89PNG\r\n\x1A\n", 8) + "png icon";
const std::string kIco = std::string("\0\0\1\0", 4) + "ico icon";
const std::string kGif = "GIF89a gif icon";
const std::string kSvg = "<svg xmlns=\"http://www.w3.org/2000/svg\"/>";
constexpr int64_t kStart = 1'700'000'000;
constexpr int64_t kDay = 24 * 3600;

HttpResponse Html(const std::string& head) {
  return HttpResponse::Ok("<!DOCTYPE html><html><head>" + head + "</head><body></body></html>",
                          "text/html");
}
HttpResponse Image(const std::string& bytes) { return HttpResponse::Ok(bytes, "image/x-icon"); }

DownloadOptions FastDownloads() {
  DownloadOptions o;
  o.connectTimeoutMs = 1000;
  o.stallTime = 2000ms;
  return o;
}

// A cache over a private folder, with a clock the test moves; it answers
// on the test's thread, from its task queue.
class IconCacheTest : public ::testing::Test {
 protected:
  IconCacheTest() {
    clock.time = [this] { return now.load(); };
    options.folder = dir.path() + "/icons";
    options.clock = &clock;
  }

  // Asks a cache (the test's own, or a new one over the same folder, as the
  // next start of the program would) and waits for the answer.
  SiteIcon Get(const std::u16string& url, CIconCache* cache = nullptr) {
    std::unique_ptr<CIconCache> own;
    if (cache == nullptr) {
      own = std::make_unique<CIconCache>(pool, owner, options);
      cache = own.get();
    }
    std::optional<SiteIcon> answer;
    cache->Request(url, [&](const SiteIcon& icon) { answer = icon; });
    if (!owner.RunUntil([&] { return answer.has_value(); }, 10s)) {
      ADD_FAILURE() << "no answer for " << Utf16ToUtf8(url);
      return {};
    }
    return *answer;
  }

  std::vector<std::string> Paths(const HttpServer& server) const {
    std::vector<std::string> paths;
    for (const test::HttpRequest& r : server.Requests()) paths.push_back(r.path);
    return paths;
  }

  test::TempDir dir;
  std::atomic<int64_t> now{kStart};
  test::FakeClock clock;
  IconCacheOptions options;
  CDownloadPool pool{FastDownloads()};
  CTaskQueue owner;
};

TEST_F(IconCacheTest, WhereTheIconComesFrom) {
  struct Case {
    std::string name;
    std::map<std::string, HttpResponse> responses;
    std::string icon;
    std::vector<std::string> requests;
  };
  HttpResponse tooBig = Image(kPng + std::string(300 * 1024, 'x'));
  HttpResponse softMissing =
      HttpResponse::Ok("<html><body>No such page</body></html>", "image/png");
  HttpResponse homeMissing = Html("<link rel=icon href=/never>");
  homeMissing.status = 404;
  const Case cases[] = {
      {"icon link",
       {{"/", Html("<link rel=\"icon\" href=\"static/i.png\">")}, {"/static/i.png", Image(kPng)}},
       kPng,
       {"/", "/static/i.png"}},
      {"shortcut icon under a base",
       {{"/", Html("<base href=\"/assets/\"><LINK REL='Shortcut Icon' HREF='fav.gif'>")},
        {"/assets/fav.gif", Image(kGif)}},
       kGif,
       {"/", "/assets/fav.gif"}},
      {"no link",
       {{"/", Html("<title>Home</title>")}, {"/favicon.ico", Image(kIco)}},
       kIco,
       {"/", "/favicon.ico"}},
      {"linked icon missing",
       {{"/", Html("<link rel=icon href=/gone.png>")}, {"/favicon.ico", Image(kIco)}},
       kIco,
       {"/", "/gone.png", "/favicon.ico"}},
      {"error page served as an icon",
       {{"/", Html("<link rel=icon href=/soft.png>")},
        {"/soft.png", softMissing},
        {"/favicon.ico", Image(kIco)}},
       kIco,
       {"/", "/soft.png", "/favicon.ico"}},
      {"icon over the size limit",
       {{"/", Html("<link rel=icon href=/big.png>")},
        {"/big.png", tooBig},
        {"/favicon.ico", Image(kIco)}},
       kIco,
       {"/", "/big.png", "/favicon.ico"}},
      {"SVG after the others",
       {{"/", Html("<link rel=icon type=image/svg+xml href=/i.svg><link rel=icon href=/i.png>"
                   "<link rel=icon href=\"data:image/png;base64,AAAA\">")},
        {"/i.png", Image(kPng)},
        {"/i.svg", Image(kSvg)}},
       kPng,
       {"/", "/i.png"}},
      {"only an SVG",
       {{"/", Html("<link rel=icon href=/i.svg>")}, {"/i.svg", Image(kSvg)}},
       kSvg,
       {"/", "/i.svg"}},
      {"home page missing",
       {{"/", homeMissing}, {"/favicon.ico", Image(kIco)}},
       kIco,
       {"/", "/favicon.ico"}},
      {"nothing anywhere", {}, "", {"/", "/favicon.ico"}},
  };
  for (const Case& c : cases) {
    HttpServer server;
    for (const auto& [path, response] : c.responses) server.Set(path, response);
    const SiteIcon icon = Get(server.Url16("/blog/feed.xml"));
    EXPECT_EQ(icon.site, Widen("127.0.0.1:" + std::to_string(server.port()))) << c.name;
    EXPECT_EQ(icon.bytes, c.icon) << c.name;
    EXPECT_EQ(Paths(server), c.requests) << c.name;
    // The home page is asked for as a page, the icons as images.
    for (const test::HttpRequest& r : server.Requests()) {
      const std::string accept = r.headers.count("accept") ? r.headers.at("accept") : "";
      EXPECT_EQ(accept.substr(0, r.path == "/" ? 9 : 7), r.path == "/" ? "text/html" : "image/*")
          << c.name << " " << r.path;
    }
    if (c.icon.empty()) {
      EXPECT_EQ(icon.file, "") << c.name;
    } else {
      EXPECT_EQ(test::ReadFile(icon.file), c.icon) << c.name;
    }
  }
}

TEST_F(IconCacheTest, AStoredIconIsUsedUntilItIsOld) {
  HttpServer server;
  server.Set("/favicon.ico", Image(kIco));
  const SiteIcon first = Get(server.Url16("/feed"));
  ASSERT_EQ(first.bytes, kIco);
  const size_t fetched = server.Requests().size();

  // The next start, and any feed of the same site, use the file.
  now = kStart + 29 * kDay;
  EXPECT_EQ(Get(server.Url16("/other/feed?x=1")).bytes, kIco);
  EXPECT_EQ(Get(u"HTTP://127.0.0.1:" + Widen(std::to_string(server.port())) + u"/").bytes, kIco);
  EXPECT_EQ(server.Requests().size(), fetched);

  // Thirty days on, the site is asked again and a new icon replaces the old.
  server.Set("/favicon.ico", Image(kPng));
  now = kStart + 30 * kDay;
  EXPECT_EQ(Get(server.Url16("/feed")).bytes, kPng);
  EXPECT_EQ(server.Requests().size(), fetched + 2);
  EXPECT_EQ(test::ReadFile(first.file), kPng);

  // A refresh that fails keeps the icon, and is not tried again for a day.
  server.Set("/favicon.ico", HttpResponse::Ok("", "image/x-icon"));
  now = kStart + 60 * kDay;
  EXPECT_EQ(Get(server.Url16("/feed")).bytes, kPng);
  EXPECT_EQ(server.Requests().size(), fetched + 4);
  now = kStart + 60 * kDay + kDay - 1;
  EXPECT_EQ(Get(server.Url16("/feed")).bytes, kPng);
  EXPECT_EQ(server.Requests().size(), fetched + 4);
  now = kStart + 61 * kDay;
  EXPECT_EQ(Get(server.Url16("/feed")).bytes, kPng);
  EXPECT_EQ(server.Requests().size(), fetched + 6);
}

TEST_F(IconCacheTest, ASiteWithoutAnIconIsAskedAgainAfterADay) {
  HttpServer server;
  EXPECT_EQ(Get(server.Url16("/feed")).bytes, "");
  EXPECT_EQ(server.Requests().size(), 2u);

  now = kStart + kDay - 1;
  EXPECT_EQ(Get(server.Url16("/feed")).bytes, "");
  EXPECT_EQ(server.Requests().size(), 2u);

  // The clock set back: the remembered failure is from the future, and old.
  now = kStart - 10;
  EXPECT_EQ(Get(server.Url16("/feed")).bytes, "");
  EXPECT_EQ(server.Requests().size(), 4u);

  now = kStart + kDay;
  server.Set("/favicon.ico", Image(kIco));
  EXPECT_EQ(Get(server.Url16("/feed")).bytes, kIco);
  EXPECT_EQ(server.Requests().size(), 6u);

  // An unreachable site is remembered the same way.
  const std::string port = std::to_string(HttpServer::ClosedPort());
  EXPECT_EQ(Get(Widen("http://127.0.0.1:" + port + "/feed")).bytes, "");
  const std::string marker = options.folder + "/127.0.0.1%3A" + port + ".none";
  struct stat st {};
  ASSERT_EQ(::stat(marker.c_str(), &st), 0) << marker;
  EXPECT_EQ(st.st_mtim.tv_sec, kStart + kDay);
}

TEST_F(IconCacheTest, ADamagedFileIsFetchedAgain) {
  HttpServer server;
  server.Set("/favicon.ico", Image(kIco));
  const SiteIcon first = Get(server.Url16("/"));
  ASSERT_FALSE(first.file.empty());
  test::WriteFile(first.file, "<html>cut");
  EXPECT_EQ(Get(server.Url16("/")).bytes, kIco);
  EXPECT_EQ(server.Requests().size(), 4u);
  EXPECT_EQ(test::ReadFile(first.file), kIco);
}

TEST_F(IconCacheTest, OneFetchPerSiteHoweverManyAsk) {
  HttpServer server;
  HttpResponse slow = Image(kIco);
  slow.delay = 200ms;
  server.Set("/favicon.ico", slow);

  CIconCache cache(pool, owner, options);
  constexpr int kAsks = 20;
  std::vector<std::optional<SiteIcon>> answers(kAsks);
  for (int i = 0; i < kAsks; ++i) {
    cache.Request(server.Url16("/feed" + std::to_string(i)),
                  [&answers, i](const SiteIcon& icon) { answers[i] = icon; });
  }
  // URLs that name no site are answered too, with nothing.
  std::optional<SiteIcon> none;
  cache.Request(u"ftp://example.com/feed", [&](const SiteIcon& icon) { none = icon; });
  ASSERT_TRUE(owner.RunUntil(
      [&] {
        return none && std::all_of(answers.begin(), answers.end(), [](const auto& a) { return a.has_value(); });
      },
      10s));
  for (const auto& answer : answers) EXPECT_EQ(answer->bytes, kIco);
  EXPECT_EQ(none->site, u"");
  EXPECT_EQ(none->bytes, "");
  EXPECT_EQ(Paths(server), (std::vector<std::string>{"/", "/favicon.ico"}));
}

// At most a few sites at once, however many are asked for: the rest wait,
// so the feeds' transfers are not queued behind them all.
TEST_F(IconCacheTest, AFewSitesAtATime) {
  test::HttpServer server(6);
  HttpResponse slow = Image(kIco);
  slow.delay = 100ms;
  server.Set("/favicon.ico", slow);
  options.maxSitesAtOnce = 2;
  CIconCache cache(pool, owner, options);
  int answered = 0;
  for (int address = 1; address <= 6; ++address) {
    cache.Request(server.Url16("/feed", address), [&](const SiteIcon& icon) {
      EXPECT_EQ(icon.bytes, kIco);
      ++answered;
    });
  }
  ASSERT_TRUE(owner.RunUntil([&] { return answered == 6; }, 10s));
  EXPECT_LE(server.Counts().maxOpen, 2);
}

TEST_F(IconCacheTest, NoAnswerAfterTheCacheIsGone) {
  HttpServer server;
  HttpResponse slow = Image(kIco);
  slow.delay = 100ms;
  server.Set("/favicon.ico", slow);
  int calls = 0;
  {
    CIconCache cache(pool, owner, options);
    cache.Request(server.Url16("/feed"), [&](const SiteIcon&) { ++calls; });
  }
  // A second site, slower than the first, answers after the first would
  // have.
  HttpServer later;
  slow.delay = 600ms;
  later.Set("/favicon.ico", slow);
  EXPECT_EQ(Get(later.Url16("/feed")).bytes, kIco);
  owner.RunPending();
  EXPECT_EQ(calls, 0);
}

TEST(IconCacheFormatTest, RecognisesImages) {
  const std::pair<std::string, bool> cases[] = {
      {kPng, true},
      {kIco, true},
      {kGif, true},
      {"GIF87a", true},
      {"\xFF\xD8\xFF\xE0 jpeg", true},
      {"BM" + std::string(20, '\0'), true},
      {std::string("RIFF\x10\0\0\0WEBPVP8 ", 16), true},
      {"RIFF", false},
      {kSvg, true},
      {"\xEF\xBB\xBF\n <?xml version=\"1.0\"?>\n<svg/>", true},
      {"", false},
      {"\x89PNG", false},
      {"BM", false},
      {std::string("RIFF\x10\0\0\0WAVEfmt ", 16), false},
      {"<html><body>Not found</body></html>", false},
      {"<?xml version=\"1.0\"?><rss/>", false},
      {std::string("\0\0\2\0", 4), false},
  };
  for (const auto& [bytes, image] : cases) EXPECT_EQ(LooksLikeImage(bytes), image) << bytes;
}

TEST(IconCacheFormatTest, DefaultFolder) {
  auto saved = [](const char* name) {
    const char* value = std::getenv(name);
    return value ? std::optional<std::string>(value) : std::nullopt;
  };
  auto restore = [](const char* name, const std::optional<std::string>& value) {
    if (value) {
      setenv(name, value->c_str(), 1);
    } else {
      unsetenv(name);
    }
  };
  const std::optional<std::string> xdg = saved("XDG_CACHE_HOME");
  const std::optional<std::string> home = saved("HOME");
  setenv("HOME", "/home/someone", 1);
  setenv("XDG_CACHE_HOME", "/var/cache/me/", 1);
  EXPECT_EQ(DefaultIconFolder(), "/var/cache/me/Velmorant/Quillbend/icons");
  setenv("XDG_CACHE_HOME", "relative/cache", 1);
  EXPECT_EQ(DefaultIconFolder(), "/home/someone/.cache/Velmorant/Quillbend/icons");
  unsetenv("XDG_CACHE_HOME");
  EXPECT_EQ(DefaultIconFolder(), "/home/someone/.cache/Velmorant/Quillbend/icons");
  restore("XDG_CACHE_HOME", xdg);
  restore("HOME", home);
}

}  // namespace
}  // namespace qb
