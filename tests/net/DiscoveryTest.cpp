#include "net/Discovery.h"

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <future>
#include <string>
#include <vector>

#include "base/DateTime.h"
#include "base/Text.h"
#include "tests/support/HttpServer.h"

namespace qb {

void PrintTo(const DiscoveredFeed& f, std::ostream* os) {
  *os << Utf16ToUtf8(f.url) << " \"" << Utf16ToUtf8(f.title) << "\"";
}

namespace {

using test::HttpResponse;
using test::HttpServer;
using namespace std::chrono_literals;

const char kRss[] =
    "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>T</title>"
    "<item><title>One</title></item></channel></rss>";
const char kAtom[] =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<feed xmlns=\"http://www.w3.org/2005/Atom\">"
    "<title>A</title><entry><title>E</title></entry></feed>";

std::string Page(const std::string& head) {
  return "<!DOCTYPE html>\n<html><head><title>Site</title>" + head +
         "</head><body><p>Hello</p></body></html>";
}

HttpResponse Html(const std::string& body) { return HttpResponse::Ok(body, "text/html"); }

DiscoveryOptions FastOptions() {
  DiscoveryOptions o;
  o.download.connectTimeoutMs = 1000;
  o.download.stallTime = 3000ms;
  return o;
}

// The port part of the server's URLs, for addresses typed without a scheme.
std::u16string Typed(const HttpServer& server, const std::string& path) {
  return Widen("127.0.0.1:" + std::to_string(server.port()) + path);
}

std::vector<DiscoveredFeed> Feeds(std::initializer_list<std::pair<std::string, std::u16string>> f,
                                  const HttpServer& server) {
  std::vector<DiscoveredFeed> out;
  for (const auto& [path, title] : f) out.push_back({server.Url16(path), title});
  return out;
}

TEST(DiscoveryTest, FeedsBehindAnAddress) {
  HttpServer server;
  server.Set("/rss", HttpResponse::Ok(kRss));
  server.Set("/atom", HttpResponse::Ok(kAtom, "application/atom+xml"));
  server.Set("/served-as-html", Html(kRss));
  server.Set("/one", Html(Page("<link rel=\"alternate\" type=\"application/rss+xml\" "
                               "title=\" The  News \" href=\"/rss\">")));
  const std::string two =
      "<link rel=\"stylesheet\" href=\"/style.css\">"
      "<link rel=\"alternate\" hreflang=\"fr\" href=\"/fr/\">"
      "<link rel=\"alternate stylesheet\" type=\"text/css\" href=\"/dark.css\">"
      "<link type='application/atom+xml' href='" + server.Url("/atom") + "' rel='Alternate'>"
      "<link rel=alternate type=\"application/rss+xml; charset=utf-8\" href=rss title=RSS>"
      "<link rel=\"alternate\" type=\"application/atom+xml\" href=\"./atom\" title=\"again\">";
  server.Set("/two", Html(Page(two)));
  server.Set("/none", Html(Page("<link rel=\"icon\" href=\"/favicon.ico\">")));
  server.Set("/blog/", Html(Page("<link rel=\"alternate\" type=\"application/rss+xml\" "
                                 "href=\"feed.xml?a=1&amp;b=2\">")));
  server.Set("/based", Html(Page("<base href=\"/blog/posts/\">"
                                 "<link rel=\"alternate\" type=\"application/atom+xml\" "
                                 "href=\"../atom.xml\">")));
  server.Set(
      "/hostile",
      Html(Page("<link rel=\"alternate\" type=\"application/rss+xml\" href=\"javascript:alert(1)\">"
                "<link rel=\"alternate\" type=\"application/rss+xml\" href=\"file:///etc/passwd\">"
                "<link rel=\"alternate\" type=\"application/rss+xml\" href=\"\">")));
  server.Set("/json", HttpResponse::Ok("{\"version\":\"https://jsonfeed.org/version/1.1\",\"items\":[]}",
                                       "application/feed+json"));
  server.Set("/rdf", HttpResponse::Ok("<?xml version=\"1.0\"?><rdf:RDF><channel><title>R</title></channel>"
                                      "<item><title>i</title></item></rdf:RDF>", "application/rdf+xml"));
  server.Set("/doctype", HttpResponse::Ok("<!DOCTYPE rss SYSTEM \"rss-0.91.dtd\">" + std::string(kRss + 21)));
  server.Set("/announces-json", Html(Page("<link rel=\"alternate\" type=\"application/feed+json\" "
                                          "title=\"JSON\" href=\"/json\">")));
  server.Set("/go", HttpResponse::Redirect(server.Url("/one")));
  server.Set("/go-feed", HttpResponse::Redirect("/rss", 301));
  server.Set("/empty", Html(""));

  struct Case {
    std::string path;
    DiscoveryStatus status;
    bool addressIsFeed;
    std::vector<DiscoveredFeed> feeds;
  };
  const DiscoveryStatus found = DiscoveryStatus::kFound;
  const DiscoveryStatus none = DiscoveryStatus::kNoFeed;
  const Case cases[] = {
      {"/rss", found, true, Feeds({{"/rss", u""}}, server)},
      {"/atom", found, true, Feeds({{"/atom", u""}}, server)},
      {"/served-as-html", found, true, Feeds({{"/served-as-html", u""}}, server)},
      {"/one", found, false, Feeds({{"/rss", u"The News"}}, server)},
      {"/two", found, false, Feeds({{"/atom", u""}, {"/rss", u"RSS"}}, server)},
      {"/blog/", found, false, Feeds({{"/blog/feed.xml?a=1&b=2", u""}}, server)},
      {"/based", found, false, Feeds({{"/blog/atom.xml", u""}}, server)},
      // every format the update reads, whatever it is served as
      {"/json", found, true, Feeds({{"/json", u""}}, server)},
      {"/rdf", found, true, Feeds({{"/rdf", u""}}, server)},
      {"/doctype", found, true, Feeds({{"/doctype", u""}}, server)},
      {"/announces-json", found, false, Feeds({{"/json", u"JSON"}}, server)},
      // A redirect to the feed subscribes the address given, which the
      // update follows as well.
      {"/go-feed", found, true, Feeds({{"/go-feed", u""}}, server)},
      {"/go", found, false, Feeds({{"/rss", u"The News"}}, server)},
      {"/none", none, false, {}},
      {"/hostile", none, false, {}},
      {"/empty", none, false, {}},
  };
  for (const Case& c : cases) {
    const DiscoveryResult r = DiscoverFeeds(server.Url16(c.path), FastOptions());
    EXPECT_EQ(r.status, c.status) << c.path;
    EXPECT_EQ(r.addressIsFeed, c.addressIsFeed) << c.path;
    EXPECT_EQ(r.feeds, c.feeds) << c.path;
    EXPECT_EQ(r.fetchedUrl, server.Url16(c.path)) << c.path;
    EXPECT_EQ(r.message, c.status == none ? kNoFeedFoundMessage : u"") << c.path;
  }
}

TEST(DiscoveryTest, FailuresHaveTheirReason) {
  HttpServer server;
  HttpResponse gone =
      Html(Page("<link rel=\"alternate\" type=\"application/rss+xml\" href=\"/x\">"));
  gone.status = 410;
  gone.reason = "Gone";
  server.Set("/gone", gone);
  const std::u16string closed =
      Widen("http://127.0.0.1:" + std::to_string(HttpServer::ClosedPort()) + "/");

  DiscoveryResult r = DiscoverFeeds(server.Url16("/missing"), FastOptions());
  EXPECT_EQ(r.status, DiscoveryStatus::kHttpError);
  EXPECT_EQ(r.httpStatus, 404);
  EXPECT_EQ(r.message, u"The site answered with an error (HTTP status 404).");

  // An error page is not searched for feeds.
  r = DiscoverFeeds(server.Url16("/gone"), FastOptions());
  EXPECT_EQ(r.status, DiscoveryStatus::kHttpError);
  EXPECT_EQ(r.httpStatus, 410);
  EXPECT_TRUE(r.feeds.empty());

  r = DiscoverFeeds(closed, FastOptions());
  EXPECT_EQ(r.status, DiscoveryStatus::kFetchFailed);
  EXPECT_EQ(r.message, kSiteUnreachableMessage);
  EXPECT_EQ(r.fetchedUrl, closed);

  // A site that accepts the connection and says nothing.
  HttpResponse silent;
  silent.neverAnswer = true;
  server.Set("/silent", silent);
  DiscoveryOptions quick = FastOptions();
  quick.download.stallTime = 300ms;
  r = DiscoverFeeds(server.Url16("/silent"), quick);
  EXPECT_EQ(r.status, DiscoveryStatus::kFetchFailed);
  EXPECT_EQ(r.message, u"The site did not answer in time.");

  // A server that is busy says when to try again (an hour from now); the
  // message passes it on.
  const std::time_t later = std::time(nullptr) + 3600;
  char date[64];
  std::tm utc{};
  std::strftime(date, sizeof date, "%a, %d %b %Y %H:%M:%S GMT", gmtime_r(&later, &utc));
  server.Set("/busy", HttpResponse::RetryLater(429, date));
  r = DiscoverFeeds(server.Url16("/busy"), FastOptions());
  EXPECT_EQ(r.status, DiscoveryStatus::kHttpError);
  EXPECT_EQ(r.httpStatus, 429);
  EXPECT_EQ(r.message, u"The site answered with an error (HTTP status 429). It allows the next try at " +
                           CDateTime::FromTime(later).Format() + u".");

  // Refused text never reaches the network.
  const size_t before = server.Requests().size();
  r = DiscoverFeeds(u"ftp://127.0.0.1:" + Widen(std::to_string(server.port())) + u"/",
                    FastOptions());
  EXPECT_EQ(r.status, DiscoveryStatus::kBadAddress);
  EXPECT_EQ(r.addressProblem, AddressProblem::kUnsupportedScheme);
  EXPECT_EQ(r.message, AddressProblemText(AddressProblem::kUnsupportedScheme));
  EXPECT_EQ(server.Requests().size(), before);
  EXPECT_EQ(DiscoverFeeds(u"not a url at all").status, DiscoveryStatus::kBadAddress);
}

// The server speaks only http: the https attempt fails, and http follows.
TEST(DiscoveryTest, WithoutASchemeHttpsComesFirstThenHttp) {
  HttpServer server;
  server.Set("/page", Html(Page("<link rel=\"alternate\" type=\"application/atom+xml\" "
                                "href=\"/atom\" title=\"Atom\">")));
  server.Set("/atom", HttpResponse::Ok(kAtom, "application/atom+xml"));

  DiscoveryResult r = DiscoverFeeds(Typed(server, "/page"), FastOptions());
  EXPECT_EQ(server.TlsAttempts(), 1u);
  EXPECT_EQ(r.status, DiscoveryStatus::kFound);
  EXPECT_EQ(r.fetchedUrl, server.Url16("/page"));
  EXPECT_EQ(r.feeds, Feeds({{"/atom", u"Atom"}}, server));

  // An answer over http is final, even an error: no second try.
  r = DiscoverFeeds(server.Url16("/absent"), FastOptions());
  EXPECT_EQ(r.status, DiscoveryStatus::kHttpError);
  EXPECT_EQ(server.TlsAttempts(), 1u);

  // Nothing answers on either scheme: the reason of the last attempt.
  const std::u16string closed = Widen("127.0.0.1:" + std::to_string(HttpServer::ClosedPort()));
  r = DiscoverFeeds(closed, FastOptions());
  EXPECT_EQ(r.status, DiscoveryStatus::kFetchFailed);
  EXPECT_EQ(r.fetchedUrl, u"http://" + closed);

  // Cancelled before the fallback, the http candidate is never tried.
  const size_t requests = server.Requests().size();
  r = DiscoverFeeds(Typed(server, "/page"), FastOptions(),
                    [&] { return server.TlsAttempts() > 1; });
  EXPECT_EQ(server.TlsAttempts(), 2u);
  EXPECT_EQ(server.Requests().size(), requests);
  EXPECT_EQ(r.status, DiscoveryStatus::kFetchFailed);
}

TEST(DiscoveryTest, ReadsAPageInTheEncodingItDeclares) {
  HttpServer server;
  server.Set("/latin",
             Html("<html><head><meta charset=\"iso-8859-1\">"
                  "<link rel=alternate type=application/rss+xml title=\"Caf\xe9\" href=/rss>"));
  const DiscoveryResult r = DiscoverFeeds(server.Url16("/latin"), FastOptions());
  ASSERT_EQ(r.feeds.size(), 1u);
  EXPECT_EQ(r.feeds[0].title, u"Caf\u00e9");
}

// Through the shared pool: answers come from the owner's task queue, in
// the order the searches end, and only for the latest request.
TEST(DiscoveryTest, RunsInTheBackgroundAndReportsOnce) {
  HttpServer server;
  server.Set("/rss", HttpResponse::Ok(kRss));
  HttpResponse slow = HttpResponse::Ok(kRss);
  slow.delay = 100ms;
  server.Set("/slow", slow);
  slow.delay = 600ms;
  server.Set("/slower", slow);
  server.Set("/page", Html(Page("<link rel=\"alternate\" type=\"application/rss+xml\" href=\"/rss\">")));

  CDownloadPool pool(FastOptions().download);
  CTaskQueue owner;
  CFeedDiscovery discovery(pool, owner);
  std::vector<DiscoveryResult> answers;
  auto keep = [&](const DiscoveryResult& r) { answers.push_back(r); };

  discovery.Start(server.Url16("/rss"), keep);
  ASSERT_TRUE(owner.RunUntil([&] { return !answers.empty(); }, 10s));
  EXPECT_EQ(answers[0].feeds, Feeds({{"/rss", u""}}, server));
  // The feed's own answer is kept for the first update.
  EXPECT_TRUE(answers[0].addressIsFeed);
  EXPECT_TRUE(answers[0].document.ok);
  EXPECT_EQ(answers[0].document.body, kRss);

  // A page only announces: nothing of it is kept.
  discovery.Start(server.Url16("/page"), keep);
  ASSERT_TRUE(owner.RunUntil([&] { return answers.size() == 2; }, 10s));
  EXPECT_EQ(answers[1].feeds, Feeds({{"/rss", u""}}, server));
  EXPECT_FALSE(answers[1].addressIsFeed);
  EXPECT_TRUE(answers[1].document.body.empty());

  // Refused text is answered from the queue too, never from within Start.
  discovery.Start(u"example.com:0", keep);
  EXPECT_EQ(answers.size(), 2u);
  ASSERT_TRUE(owner.RunUntil([&] { return answers.size() == 3; }, 10s));
  EXPECT_EQ(answers[2].addressProblem, AddressProblem::kBadPort);

  // A request replaced by a newer one, or whose discovery is destroyed,
  // never reports, though its answer comes well before the newer one's.
  {
    CFeedDiscovery shortLived(pool, owner);
    shortLived.Start(server.Url16("/slow"), keep);
  }
  discovery.Start(server.Url16("/slow"), keep);
  discovery.Start(server.Url16("/slower"), keep);
  ASSERT_TRUE(owner.RunUntil([&] { return answers.size() == 4; }, 10s));
  EXPECT_EQ(answers[3].feeds, Feeds({{"/slower", u""}}, server));
  owner.RunPending();
  EXPECT_EQ(answers.size(), 4u);
}

}  // namespace
}  // namespace qb
