#include "net/ReaderPage.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "base/Text.h"
#include "tests/support/HttpServer.h"

namespace qb {
namespace {

using test::HttpResponse;
using test::HttpServer;
using namespace std::chrono_literals;

const char kPage[] = "<!DOCTYPE html><html><head><title>T</title></head><body><p>Text</p></body></html>";

// Every outcome of an article page's fetch, through the pool as the window
// fetches it, each with the line the user reads.
TEST(ReaderPageTest, EachAnswerIsAPageOrOneLineSayingWhyNot) {
  HttpServer server;
  test::BypassProxyForLoopback();
  server.Set("/article", HttpResponse::Ok(kPage, "text/html; charset=utf-8"));
  server.Set("/moved", HttpResponse::Redirect("/article", 301));
  server.Set("/xhtml", HttpResponse::Ok(kPage, "Application/XHTML+XML"));
  HttpResponse untyped;
  untyped.body = std::string("\xEF\xBB\xBF\n  ") + kPage;
  server.Set("/untyped", untyped);
  server.Set("/octets", HttpResponse::Ok("<html lang=\"en\"><p>x</p></html>", "application/octet-stream"));
  server.Set("/pdf", HttpResponse::Ok("%PDF-1.7 <html>", "application/pdf"));
  server.Set("/plain", HttpResponse::Ok("<html> is a tag", "text/plain"));
  untyped.body = "<htmlx>";
  server.Set("/htmlish", untyped);
  server.Set("/hostile-type", HttpResponse::Ok("x", "image/<b>png</b>; charset=\"x\""));
  HttpResponse gone = HttpResponse::Ok(kPage, "text/html");
  gone.status = 410;
  gone.reason = "Gone";
  server.Set("/gone", gone);
  server.Set("/huge", HttpResponse::Ok(std::string(kReaderPageMaxBytes + 1, ' '), "text/html"));
  const std::string closed = "http://127.0.0.1:" + std::to_string(HttpServer::ClosedPort()) + "/a";

  DownloadOptions options;
  options.connectTimeoutMs = 1000;
  options.stallTime = 3000ms;
  CDownloadPool pool(options);
  CTaskQueue owner;
  CArticlePageFetch fetch(pool, owner);

  struct Case {
    std::u16string address;
    ReaderProblem problem;
    std::u16string message;
    std::string found;  // where the page was found; empty for a problem
  };
  const std::u16string article = server.Url16("/article");
  const Case cases[] = {
      {article, ReaderProblem::kNone, u"", server.Url("/article")},
      {u"  " + server.Url16("/moved") + u"\n", ReaderProblem::kNone, u"", server.Url("/article")},
      {server.Url16("/xhtml"), ReaderProblem::kNone, u"", server.Url("/xhtml")},
      {server.Url16("/untyped"), ReaderProblem::kNone, u"", server.Url("/untyped")},
      {server.Url16("/octets"), ReaderProblem::kNone, u"", server.Url("/octets")},
      {u"", ReaderProblem::kNoLink, u"The article has no link to a web page.", ""},
      {u"mailto:a@example.com", ReaderProblem::kNoLink, u"The article has no link to a web page.", ""},
      {u"/relative/link", ReaderProblem::kNoLink, u"The article has no link to a web page.", ""},
      {u"file:///etc/passwd", ReaderProblem::kNoLink, u"The article has no link to a web page.", ""},
      {server.Url16("/pdf"), ReaderProblem::kNotHtml, u"The article's link is not a web page (application/pdf).", ""},
      {server.Url16("/plain"), ReaderProblem::kNotHtml, u"The article's link is not a web page (text/plain).", ""},
      {server.Url16("/htmlish"), ReaderProblem::kNotHtml, u"The article's link is not a web page.", ""},
      {server.Url16("/hostile-type"), ReaderProblem::kNotHtml,
       u"The article's link is not a web page (image/bpng/b).", ""},
      {server.Url16("/gone"), ReaderProblem::kFetchFailed,
       u"The article's page could not be fetched: HTTP status 410.", ""},
      {Widen(closed), ReaderProblem::kFetchFailed,
       u"The article's page could not be fetched: connection refused.", ""},
      {server.Url16("/huge"), ReaderProblem::kTooLarge,
       u"The article's page is too large for the reader view (over 10 MB).", ""},
  };
  for (const Case& c : cases) {
    std::vector<FetchedArticlePage> answers;
    fetch.Start(c.address, [&](FetchedArticlePage page) { answers.push_back(std::move(page)); });
    // Never from within Start, not even for an address refused at once.
    EXPECT_TRUE(answers.empty());
    ASSERT_TRUE(owner.RunUntil([&] { return !answers.empty(); }, 10s)) << Utf16ToUtf8(c.address);
    owner.RunPending();
    ASSERT_EQ(answers.size(), 1u);
    const FetchedArticlePage& page = answers[0];
    EXPECT_EQ(page.problem, c.problem) << Utf16ToUtf8(c.address);
    EXPECT_EQ(page.message, c.message) << Utf16ToUtf8(c.address);
    EXPECT_EQ(page.address, c.found) << Utf16ToUtf8(c.address);
    EXPECT_EQ(page.body.empty(), c.problem != ReaderProblem::kNone) << Utf16ToUtf8(c.address);
  }

  // A fetch replaced by another never reports, though its answer comes first.
  HttpResponse slow = HttpResponse::Ok(kPage, "text/html");
  slow.delay = 300ms;
  server.Set("/slow", slow);
  std::vector<std::string> reported;
  fetch.Start(article, [&](FetchedArticlePage page) { reported.push_back("first " + page.address); });
  fetch.Start(server.Url16("/slow"), [&](FetchedArticlePage page) { reported.push_back(page.address); });
  ASSERT_TRUE(owner.RunUntil([&] { return !reported.empty(); }, 10s));
  owner.RunPending();
  EXPECT_EQ(reported, std::vector<std::string>{server.Url("/slow")});
}

}  // namespace
}  // namespace qb
