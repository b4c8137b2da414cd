// The reader view's extraction in a real page engine, on pages fetched from
// a loopback server through the program's download pool: what the hidden
// page may run and fetch, where the article's links and pictures point,
// pages too large for the engine's in-memory load, and the answer every
// page ends in.
#include <sys/inotify.h>
#include <unistd.h>

#include <QEventLoop>
#include <QTimer>
#include <gtest/gtest.h>

#include <fstream>

#include "app/QtExecutor.h"
#include "tests/support/HttpServer.h"
#include "tests/support/TempDir.h"
#include "views/ReaderExtractor.h"

namespace qb {
namespace {

using test::HttpResponse;
using test::HttpServer;
using namespace std::chrono_literals;

// Counts every opening of a file in a folder, by any process.
class FolderWatch {
 public:
  explicit FolderWatch(const std::string& folder) : m_fd(inotify_init1(IN_NONBLOCK)) {
    inotify_add_watch(m_fd, folder.c_str(), IN_OPEN | IN_ACCESS);
  }
  ~FolderWatch() { close(m_fd); }
  int Events() const {
    alignas(inotify_event) char buffer[4096];
    int events = 0;
    for (ssize_t n; (n = read(m_fd, buffer, sizeof buffer)) > 0;) {
      for (char* p = buffer; p < buffer + n; p += sizeof(inotify_event) + reinterpret_cast<inotify_event*>(p)->len)
        ++events;
    }
    return events;
  }

 private:
  int m_fd;
};

// Runs the event loop until `done` holds, or for `ms` at most. The loop
// waits for events rather than polls, so the page engine's many small
// messages between its processes go at their own pace.
bool RunUntil(const std::function<bool()>& done, int ms = 60000) {
  if (done()) return true;
  QEventLoop loop;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
    if (done()) loop.quit();
  });
  poll.start(5);
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
  return done();
}

struct Pipeline {
  CDownloadPool pool;
  CQtExecutor executor;
  CArticlePageFetch fetch{pool, executor};
  CReaderExtractor extractor;

  // Fetches and extracts the page at `address`, as the reader view does.
  ReaderOutcome Read(const std::u16string& address) {
    std::optional<ReaderOutcome> outcome;
    fetch.Start(address, [&](FetchedArticlePage page) {
      if (page.problem != ReaderProblem::kNone) {
        outcome = ReaderOutcome{page.problem, QString::fromStdU16String(page.message), {}};
        return;
      }
      extractor.Extract(QByteArray::fromStdString(page.body), QString::fromStdString(page.contentType),
                        QUrl(QString::fromStdString(page.address)),
                        [&](const ReaderOutcome& o) { outcome = o; });
    });
    EXPECT_TRUE(RunUntil([&] { return outcome.has_value(); }, 200000));
    return outcome.value_or(ReaderOutcome{});
  }
};

std::string Paragraphs(size_t bytes) {
  std::string out;
  for (int i = 0; out.size() < bytes; ++i) {
    out += "<p>Paragraph " + std::to_string(i) +
           " of the story, long enough to read as prose, with commas, clauses, and a full stop at "
           "its end, as an article's paragraphs have them in any newspaper.</p>\n";
  }
  return out;
}

// A page that would run scripts, load pictures, styles, frames and local
// files, and leave for another page if it could; none of it may happen.
std::string HostilePage(const HttpServer& server, const std::string& secret, const std::string& base,
                        size_t fill) {
  const std::string at = server.Url("");
  return "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>Safety &amp; the page</title>" + base +
         "<meta http-equiv=\"refresh\" content=\"0; url=" + at + "/refresh\">"
         "<link rel=\"stylesheet\" href=\"" + at + "/style.css\">"
         "<link rel=\"preload\" as=\"image\" href=\"" + at + "/preload.png\">"
         "<link rel=\"preconnect\" href=\"" + at + "\"><link rel=\"prefetch\" href=\"" + at + "/next.html\">"
         "<style>@import url(" + at + "/import.css); body { background: url(" + at + "/bg.png) }</style>"
         "<script src=\"" + at + "/script.js\"></script>"
         "<script>document.addEventListener('DOMContentLoaded', function () {"
         "  document.getElementById('story').insertAdjacentHTML('afterbegin', '<p>SCRIPT RAN</p>'); });"
         "</script></head><body onload=\"document.body.insertAdjacentHTML('beforeend', 'SCRIPT RAN')\">"
         "<div id=\"story\"><h1>Safety &amp; the page</h1>"
         "<p>Caf\xC3\xA9 first paragraph with <a href=\"other/link.html\">a relative link</a> and a picture "
         "<img src=\"pictures/one.png\" onerror=\"this.alt='SCRIPT RAN'\"> in it, long enough to be prose.</p>"
         "<p><img src=\"file://" + secret + "\" alt=\"local\"></p>"
         "<iframe src=\"" + at + "/frame.html\"></iframe>"
         "<iframe srcdoc=\"&lt;script&gt;parent.document.title='SCRIPT RAN'&lt;/script&gt;\"></iframe>"
         "<object data=\"" + at + "/object.swf\"></object>"
         "<video src=\"" + at + "/video.mp4\" autoplay></video>"
         "<img srcset=\"" + at + "/set.png 2x\" src=\"" + at + "/src.png\" loading=\"eager\">" +
         Paragraphs(fill) + "<p>The last paragraph of the story, which nothing may cut off.</p></div>"
         "<form action=\"" + at + "/form\"><input autofocus onfocus=\"this.value='SCRIPT RAN'\"></form>"
         "</body></html>";
}

// Pages the engine loads from memory and pages too large for that, with and
// without a <base> of their own: nothing runs, nothing but the page itself
// is fetched, nothing local is read, the text comes whole, and the links
// and pictures point where the page meant them to.
TEST(ReaderExtractorTest, RunsAndFetchesNothingAndResolvesOnTheArticlesSite) {
  HttpServer server;
  test::BypassProxyForLoopback();
  test::TempDir local;
  const std::string secret = local.path() + "/secret.png";
  std::ofstream(secret) << "not a picture";
  Pipeline reader;
  // A machine busy with other work takes its time over 5 MB.
  reader.extractor.SetTimeLimit(180s);
  struct Case {
    const char* name;
    std::string base;
    size_t fill;
    std::string folder;  // what relative links resolve against
  };
  const Case cases[] = {
      {"in memory", "", 4000, "/news/2024/"},
      {"in memory, own base", "<base href=\"../archive/\">", 4000, "/news/archive/"},
      {"too large for memory", "", 5 * 1024 * 1024, "/news/2024/"},
      {"too large for memory, own base", "<base href=\"../archive/\">", 5 * 1024 * 1024, "/news/archive/"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    server.Set("/moved", HttpResponse::Redirect("/news/2024/story.html"));
    server.Set("/news/2024/story.html", HttpResponse::Ok(HostilePage(server, secret, c.base, c.fill), "text/html"));
    const size_t requestsBefore = server.Requests().size();
    const int connectionsBefore = server.Counts().accepted;
    FolderWatch watch(local.path());

    // Through a redirect: the address the page was found at is the one
    // its links resolve against.
    const ReaderOutcome outcome = reader.Read(server.Url16("/moved"));
    ASSERT_TRUE(outcome.ok()) << outcome.message.toStdString();
    // A refresh or a late request would come in this time.
    RunUntil([] { return false; }, 300);

    const ReaderArticle& a = outcome.article;
    EXPECT_EQ(a.title, QStringLiteral("Safety & the page"));
    EXPECT_EQ(a.address, QUrl(QString::fromStdString(server.Url("/news/2024/story.html"))));
    EXPECT_FALSE(a.contentHtml.contains(QLatin1String("SCRIPT RAN")));
    EXPECT_FALSE(a.text.contains(QLatin1String("SCRIPT RAN")));
    EXPECT_TRUE(a.text.contains(QStringLiteral("Caf\u00E9 first paragraph")));
    EXPECT_TRUE(a.text.trimmed().endsWith(QLatin1String("which nothing may cut off.")));
    EXPECT_GT(a.textLength, qsizetype(c.fill / 2));
    const QString folder = QString::fromStdString(server.Url(c.folder));
    EXPECT_TRUE(a.contentHtml.contains(QStringLiteral("src=\"%1pictures/one.png\"").arg(folder)))
        << a.contentHtml.left(2000).toStdString();
    EXPECT_TRUE(a.contentHtml.contains(QStringLiteral("href=\"%1other/link.html\"").arg(folder)));

    std::vector<std::string> paths;
    const std::vector<test::HttpRequest> requests = server.Requests();
    for (size_t i = requestsBefore; i < requests.size(); ++i) paths.push_back(requests[i].path);
    EXPECT_EQ(paths, (std::vector<std::string>{"/moved", "/news/2024/story.html"}));
    // Not even a connection opened ahead.
    EXPECT_EQ(server.Counts().accepted - connectionsBefore, 2);
    EXPECT_EQ(watch.Events(), 0) << "a local file was opened";
  }
}

// Whatever is handed in, each page ends in exactly one answer, in order,
// and a page that fails leaves the next one unharmed.
TEST(ReaderExtractorTest, EveryPageEndsInOneAnswer) {
  CReaderExtractor extractor;
  const QUrl address(QStringLiteral("https://example.com/a/story.html"));
  const QByteArray article = QByteArray::fromStdString(
      "<html><head><title>Story</title></head><body><article><h1>Story</h1>" + Paragraphs(3000) +
      "</article></body></html>");
  struct Case {
    const char* name;
    QByteArray bytes;
    QString type;
    QUrl address;
    ReaderProblem problem;
    QString message;
  };
  const QString notReadable = QStringLiteral("No readable article was found on the article's page.");
  const Case cases[] = {
      {"an article", article, QStringLiteral("text/html"), address, ReaderProblem::kNone, {}},
      {"a page that needs its scripts",
       "<html><head><title>App</title><script>render()</script></head><body><noscript>Please enable "
       "JavaScript to use this site.</noscript><div id=\"root\"></div></body></html>",
       QStringLiteral("text/html"), address, ReaderProblem::kNotReadable, notReadable},
      {"an empty page", QByteArray(), QStringLiteral("text/html"), address, ReaderProblem::kNotReadable, notReadable},
      {"bytes that are no page", QByteArray("\x00\xFF\xFE<\x01\x02>\x89PNG\r\n", 12), QStringLiteral("text/html"),
       address, ReaderProblem::kNotReadable, notReadable},
      {"broken XHTML", "<html xmlns=\"http://www.w3.org/1999/xhtml\"><body><p>unclosed</body>",
       QStringLiteral("application/xhtml+xml"), address, ReaderProblem::kNotReadable, notReadable},
      {"no web address", article, QStringLiteral("text/html"), QUrl(QStringLiteral("file:///tmp/story.html")),
       ReaderProblem::kNoLink, QStringLiteral("The article has no link to a web page.")},
      {"too large", QByteArray(int(kReaderPageMaxBytes) + 1, ' '), QStringLiteral("text/html"), address,
       ReaderProblem::kTooLarge, QStringLiteral("The article's page is too large for the reader view (over 10 MB).")},
      {"the same article again", article, QStringLiteral("text/html; charset=\"UTF-8\""), address,
       ReaderProblem::kNone, {}},
  };
  std::vector<std::pair<size_t, ReaderOutcome>> answers;
  for (size_t i = 0; i < std::size(cases); ++i) {
    extractor.Extract(cases[i].bytes, cases[i].type, cases[i].address,
                      [&answers, i](const ReaderOutcome& o) { answers.emplace_back(i, o); });
  }
  // Never from within Extract, not even for a page refused at once.
  EXPECT_TRUE(answers.empty());
  ASSERT_TRUE(RunUntil([&] { return answers.size() >= std::size(cases); }, 60000));
  RunUntil([] { return false; }, 50);
  ASSERT_EQ(answers.size(), std::size(cases));
  for (const auto& [i, outcome] : answers) {
    SCOPED_TRACE(cases[i].name);
    EXPECT_EQ(outcome.problem, cases[i].problem) << outcome.message.toStdString();
    EXPECT_EQ(outcome.message, cases[i].message);
    if (cases[i].problem == ReaderProblem::kNone) {
      EXPECT_EQ(outcome.article.title, QStringLiteral("Story"));
      EXPECT_TRUE(outcome.article.probablyReaderable);
      EXPECT_EQ(outcome.article.address, address);
    }
  }
  // Pages handed to the engine answer in the order they were handed in.
  std::vector<size_t> order;
  for (const auto& [i, outcome] : answers)
    if (outcome.problem == ReaderProblem::kNone || outcome.problem == ReaderProblem::kNotReadable) order.push_back(i);
  EXPECT_TRUE(std::is_sorted(order.begin(), order.end()));

  // A cancelled page never answers; one that takes too long is given up,
  // and the page after it is read as if nothing had happened.
  std::vector<QString> titles;
  const auto keep = [&titles](const ReaderOutcome& o) { titles.push_back(o.ok() ? o.article.title : o.message); };
  const uint64_t running = extractor.Extract(article, QStringLiteral("text/html"), address, keep);
  const uint64_t queued = extractor.Extract(article, QStringLiteral("text/html"), address, keep);
  RunUntil([] { return false; }, 0);
  extractor.Cancel(running);
  extractor.Cancel(queued);
  extractor.SetTimeLimit(0ms);
  extractor.Extract(article, QStringLiteral("text/html"), address, keep);
  ASSERT_TRUE(RunUntil([&] { return !titles.empty(); }, 60000));
  extractor.SetTimeLimit(60s);
  extractor.Extract(article, QStringLiteral("text/html"), address, keep);
  ASSERT_TRUE(RunUntil([&] { return titles.size() == 2; }, 60000));
  RunUntil([] { return false; }, 50);
  EXPECT_EQ(titles, (std::vector<QString>{QStringLiteral("The article's page could not be read: it took too long."),
                                          QStringLiteral("Story")}));
}

}  // namespace
}  // namespace qb
