// The reader view's work on a 200 KB article page from a loopback server,
// on the window's thread as the window will do it: the fetch through the
// download pool, the extraction in the hidden page, and the article pane
// drawing the result (loaded into the pane as an article's text is).
//
// - BM_ReadAPage: from the command to the result loaded in the pane,
//   split into fetch_ms, extract_ms and draw_ms (to the text laid out in
//   the pane; pictures_loaded_ms to the end of the pane's load, with the
//   page's 100-odd pictures answered by the loopback server); meanwhile the window
//   thread's longest event-loop gap (longest_gap_ms, target: under 50 ms),
//   the processor time it spent in that gap (gap_cpu_ms) and in all
//   (window_cpu_ms).
// - BM_DrawAStoredResult: a result already extracted, drawn in the pane
//   (draw_ms, target: under 100 ms).
// - BM_StoredResultCommandToDrawn: the command on an article whose result
//   the library holds, as the reader view runs it: the result read from
//   the library (read_ms) and the pane's page made with it and laid out
//   (draw_ms); total_ms from the command to the text laid out (target:
//   under 100 ms), and the longest event-loop gap meanwhile.
// - BM_MemoryOver50Extractions: the resident memory of this process and of
//   the web engine's helper processes before, after 50 and after 100
//   extractions of the page (rss_*_MB, helpers_*_MB). The first 50 fill the
//   engine's and the allocator's caches; the next 50 may add no more than
//   5 MB to either (a page's memory is not kept).
//
// The page files live in a private folder under /tmp, removed at the end.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <QWebEngineScript>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>

#include "app/QtExecutor.h"
#include "app/ReaderCommand.h"
#include "bench/EventLoopGap.h"
#include "bench/QuietDesktop.h"
#include "library/LibraryLink.h"
#include "model/FeedsManager.h"
#include "model/ModelWriter.h"
#include "net/ReaderPage.h"
#include "tests/support/HttpServer.h"
#include "tests/support/TempDir.h"
#include "tests/support/UpdatePasses.h"
#include "views/ArticlePage.h"
#include "views/FeedView.h"
#include "views/ReaderExtractor.h"

namespace qb {
namespace {

// Runs the window's event loop until `done` holds; the loop waits for
// events as the window's own does, rather than polling.
void RunUntil(const std::function<bool()>& done, int ms = 60000) {
  if (done()) return;
  QEventLoop loop;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
    if (done()) loop.quit();
  });
  poll.start(2);
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

// A news page of about `bytes`: navigation, a sidebar, comments and a
// footer around an article with headings, links and pictures.
std::string NewsPage(size_t bytes) {
  std::string page =
      "<!DOCTYPE html><html lang=\"en\"><head><meta charset=\"utf-8\"><title>A long story - The Daily "
      "Bench</title><meta name=\"author\" content=\"A. Writer\"><link rel=\"stylesheet\" href=\"/site.css\">"
      "<script src=\"/app.js\"></script></head><body><header class=\"site-header\"><nav><ul>";
  for (int i = 0; i < 40; ++i) page += "<li><a href=\"/section/" + std::to_string(i) + "\">Section " + std::to_string(i) + "</a></li>";
  page += "</ul></nav></header><aside class=\"sidebar\"><ul>";
  for (int i = 0; i < 30; ++i) page += "<li><a href=\"/more/" + std::to_string(i) + "\">More news " + std::to_string(i) + "</a></li>";
  page += "</ul></aside><main><article><h1>A long story</h1><p class=\"byline\">By A. Writer</p>";
  const size_t articleEnd = bytes - bytes / 10;
  for (int i = 0; page.size() < articleEnd; ++i) {
    if (i % 12 == 0) page += "<h2>Part " + std::to_string(i / 12) + "</h2>";
    if (i % 60 == 3) page += "<figure><img src=\"pictures/" + std::to_string(i) + ".jpg\" alt=\"\"><figcaption>A picture</figcaption></figure>";
    page += "<p>Paragraph " + std::to_string(i) +
            " of the story goes on at some length, with <a href=\"/related/" + std::to_string(i) +
            "\">a link</a>, commas, clauses and the other things of prose, so that it reads as an "
            "article does, and ends with a full stop.</p>";
  }
  page += "</article><section class=\"comments\">";
  while (page.size() < bytes) page += "<div class=\"comment\"><p>A reader's comment, short.</p></div>";
  return page + "</section></main><footer>Footer links</footer></body></html>";
}

struct Reader {
  Reader() : page(NewsPage(200 * 1024)) {
    test::BypassProxyForLoopback();
    server.Set("/news/story.html", test::HttpResponse::Ok(page, "text/html; charset=utf-8"));
    CFeedSource* source =
        CModelWriter(model).Source(model.AddSource(model.AddGroup(0, u"G")->m_id, server.Url16("/feed.xml"))->m_id);
    for (ObjectId& id : articles) {
      CFeed* a = CModelWriter(model).NewFeed();
      a->m_title = u"A long story";
      a->m_link = server.Url16("/news/story.html");
      source->m_articles.push_back(a->m_id);
      id = a->m_id;
    }
    view.resize(900, 700);
    view.show();
  }

  struct Drawn {
    double laidOutMs = 0;  // the text laid out in the pane (it is painted with the next frame)
    double loadedMs = 0;   // and every picture loaded too
  };
  // The article pane shows the extracted content as the article's text.
  // Two articles take turns, so that every draw is a new page.
  Drawn Draw(const QString& html) {
    const ObjectId shown = articles[turn++ % 2];
    CModelWriter(model).Feed(shown)->m_description = html.toStdU16String();
    QElapsedTimer clock;
    clock.start();
    bool loaded = false, laidOut = false, asking = false;
    Drawn drawn;
    const auto c = QObject::connect(view.page(), &QWebEnginePage::loadFinished, [&] {
      loaded = true;
      drawn.loadedMs = clock.nsecsElapsed() / 1e6;
    });
    view.ShowArticle(shown);
    // The pane's own address for the article: until it is the document's,
    // the page before is what answers.
    const QString question = QStringLiteral(
        "document.URL === '%1' && document.readyState !== 'loading' && "
        "!!document.body && document.body.getBoundingClientRect().height > 0").arg(view.PageUrl(shown).toString());
    RunUntil([&] {
      if (!laidOut && !asking) {
        asking = true;
        view.page()->runJavaScript(question, QWebEngineScript::ApplicationWorld, [&](const QVariant& v) {
          asking = false;
          if (v.toBool() && !laidOut) {
            laidOut = true;
            drawn.laidOutMs = clock.nsecsElapsed() / 1e6;
          }
        });
      }
      return loaded && laidOut && !asking;
    });
    QObject::disconnect(c);
    return drawn;
  }

  std::optional<ReaderOutcome> Extract(const FetchedArticlePage& fetched) {
    std::optional<ReaderOutcome> outcome;
    extractor.Extract(QByteArray::fromStdString(fetched.body), QString::fromStdString(fetched.contentType),
                      QUrl(QString::fromStdString(fetched.address)), [&](const ReaderOutcome& o) { outcome = o; });
    RunUntil([&] { return outcome.has_value(); });
    return outcome;
  }

  std::optional<FetchedArticlePage> Fetch() {
    std::optional<FetchedArticlePage> fetched;
    fetch.Start(server.Url16("/news/story.html"), [&](FetchedArticlePage p) { fetched = std::move(p); });
    RunUntil([&] { return fetched.has_value(); });
    return fetched;
  }

  std::string page;
  test::HttpServer server;
  CDownloadPool pool;
  CQtExecutor executor;
  CArticlePageFetch fetch{pool, executor};
  CReaderExtractor extractor;
  CFeedsManager model;
  ObjectId articles[2] = {0, 0};
  unsigned turn = 0;
  bench::QuietDesktop desktop;
  CFeedView view{model, desktop};
};

// One web engine for every run, made once the application exists and gone
// before it goes.
std::unique_ptr<Reader> g_reader;
Reader& TheReader() {
  if (!g_reader) g_reader = std::make_unique<Reader>();
  return *g_reader;
}

void BM_ReadAPage(benchmark::State& state) {
  Reader& r = TheReader();
  // The engine's processes started and warm, as in a window in use.
  if (auto f = r.Fetch(); f && f->problem == ReaderProblem::kNone) {
    if (auto o = r.Extract(*f)) r.Draw(o->article.contentHtml);
  }
  double fetchMs = 0, extractMs = 0, drawMs = 0, loadedMs = 0, gapMs = 0, gapCpuMs = 0, cpuMs = 0;
  qsizetype textLength = 0;
  for (auto _ : state) {
    const qint64 cpu = bench::ThreadCpuNs();
    bool ok = true;
    const bench::Gaps gaps = bench::LongestGaps([&](const bench::Spin&) {
      QElapsedTimer clock;
      clock.start();
      const std::optional<FetchedArticlePage> fetched = r.Fetch();
      fetchMs += clock.nsecsElapsed() / 1e6;
      if (!fetched || fetched->problem != ReaderProblem::kNone) {
        ok = false;
        return;
      }
      clock.restart();
      const std::optional<ReaderOutcome> outcome = r.Extract(*fetched);
      extractMs += clock.nsecsElapsed() / 1e6;
      if (!outcome || !outcome->ok()) {
        ok = false;
        return;
      }
      textLength = outcome->article.textLength;
      const Reader::Drawn drawn = r.Draw(outcome->article.contentHtml);
      drawMs += drawn.laidOutMs;
      loadedMs += drawn.loadedMs;
    });
    cpuMs += (bench::ThreadCpuNs() - cpu) / 1e6;
    if (!ok) {
      state.SkipWithError("the page was not read");
      return;
    }
    gapMs = std::max(gapMs, gaps.wallMs);
    gapCpuMs = std::max(gapCpuMs, gaps.cpuMs);
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["page_KB"] = static_cast<double>(r.page.size()) / 1024;
  state.counters["text_chars"] = static_cast<double>(textLength);
  state.counters["fetch_ms"] = fetchMs / n;
  state.counters["extract_ms"] = extractMs / n;
  state.counters["draw_ms"] = drawMs / n;
  state.counters["pictures_loaded_ms"] = loadedMs / n;
  state.counters["window_cpu_ms"] = cpuMs / n;
  state.counters["longest_gap_ms"] = gapMs;
  state.counters["gap_cpu_ms"] = gapCpuMs;
}
BENCHMARK(BM_ReadAPage)->Iterations(10)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_DrawAStoredResult(benchmark::State& state) {
  Reader& r = TheReader();
  const std::optional<FetchedArticlePage> fetched = r.Fetch();
  const std::optional<ReaderOutcome> outcome = fetched ? r.Extract(*fetched) : std::nullopt;
  if (!outcome || !outcome->ok()) {
    state.SkipWithError("the page was not read");
    return;
  }
  double gapMs = 0, drawMs = 0, loadedMs = 0;
  for (auto _ : state) {
    gapMs = std::max(gapMs, bench::LongestGap([&](const bench::Spin&) {
      const Reader::Drawn drawn = r.Draw(outcome->article.contentHtml);
      drawMs += drawn.laidOutMs;
      loadedMs += drawn.loadedMs;
    }));
  }
  state.counters["draw_ms"] = drawMs / static_cast<double>(state.iterations());
  state.counters["pictures_loaded_ms"] = loadedMs / static_cast<double>(state.iterations());
  state.counters["content_KB"] = static_cast<double>(outcome->article.contentHtml.toUtf8().size()) / 1024;
  state.counters["longest_gap_ms"] = gapMs;
}
BENCHMARK(BM_DrawAStoredResult)->Iterations(10)->Unit(benchmark::kMillisecond)->UseRealTime();

// Runs the event loop until the pane's page holds the reader view's text,
// laid out.
void RunUntilLaidOut(CFeedView& view, ObjectId article) {
  bool laidOut = false, asking = false;
  const QString question = QStringLiteral(
      "document.URL === '%1' && document.readyState !== 'loading' && !!document.querySelector('div.reader') && "
      "document.querySelector('div.reader').getBoundingClientRect().height > 0").arg(view.PageUrl(article).toString());
  RunUntil([&] {
    if (!laidOut && !asking) {
      asking = true;
      view.page()->runJavaScript(question, QWebEngineScript::ApplicationWorld, [&](const QVariant& v) {
        asking = false;
        laidOut = laidOut || v.toBool();
      });
    }
    return laidOut && !asking;
  });
}

void BM_StoredResultCommandToDrawn(benchmark::State& state) {
  Reader& r = TheReader();
  const std::optional<FetchedArticlePage> fetched = r.Fetch();
  const std::optional<ReaderOutcome> outcome = fetched ? r.Extract(*fetched) : std::nullopt;
  if (!outcome || !outcome->ok()) {
    state.SkipWithError("the page was not read");
    return;
  }
  // A library holding two articles, each with the page's result.
  test::TempDir dir;
  CLibrary library;
  library.Open(dir.File("Library.sqlite"));
  CFeedsManager model;
  library.Load(model);
  ObjectId ids[2] = {0, 0};
  {
    CLibraryLink link(model, library);
    const ObjectId source = model.AddSource(model.AddGroup(0, u"G")->m_id, r.server.Url16("/feed.xml"))->m_id;
    std::vector<ArticleCandidate> candidates(2);
    for (size_t i = 0; i < candidates.size(); ++i) {
      candidates[i] = Candidate(u"A long story", u"story" + std::u16string(1, char16_t(u'0' + i)));
      candidates[i].fields.m_link = r.server.Url16("/news/story.html");
      candidates[i].description = u"<p>The summary.</p>";
    }
    const IdList added = DeliverArticles(model, source, std::move(candidates));
    if (added.size() != 2) {
      state.SkipWithError("the articles were not added");
      return;
    }
    ids[0] = added[0];
    ids[1] = added[1];
    link.FlushAndWait();
    for (ObjectId id : ids) {
      ReaderText t;
      t.article = id;
      t.address = outcome->article.address.toString().toStdU16String();
      t.title = outcome->article.title.toStdU16String();
      t.byline = outcome->article.byline.toStdU16String();
      t.content = outcome->article.contentHtml.toStdU16String();
      link.KeepReaderText(std::move(t), u"A long story", u"G");
    }
    if (!link.FlushAndWait().written) {
      state.SkipWithError("the results were not stored");
      return;
    }
  }
  CLibraryLink link(model, library);
  CFeedView view{model, r.desktop};
  view.resize(900, 700);
  view.show();
  double readMs = 0, drawMs = 0, totalMs = 0, gapMs = 0;
  unsigned turn = 0;
  for (auto _ : state) {
    // The article is shown with the feed's text, as when the command is given.
    const ObjectId id = ids[turn++ % 2];
    view.ShowArticle(id);
    RunUntil([&] { return !view.page()->isLoading(); });
    gapMs = std::max(gapMs, bench::LongestGap([&](const bench::Spin&) {
      QElapsedTimer clock;
      clock.start();
      ReaderText text;
      if (!link.FindReaderText(id, text)) return;
      const double read = clock.nsecsElapsed() / 1e6;
      view.ShowReaderPart(id, ReaderPartOf(text));
      RunUntilLaidOut(view, id);
      readMs += read;
      totalMs += clock.nsecsElapsed() / 1e6;
      drawMs += clock.nsecsElapsed() / 1e6 - read;
    }));
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["content_KB"] = static_cast<double>(outcome->article.contentHtml.toUtf8().size()) / 1024;
  state.counters["read_ms"] = readMs / n;
  state.counters["draw_ms"] = drawMs / n;
  state.counters["total_ms"] = totalMs / n;
  state.counters["longest_gap_ms"] = gapMs;
  model.SetArticleStore(nullptr);
}
BENCHMARK(BM_StoredResultCommandToDrawn)->Iterations(10)->Unit(benchmark::kMillisecond)->UseRealTime();

long RssKb(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  }
  return 0;
}

// The web engine's helpers: the other processes of this process group.
long HelpersRssKb() {
  long total = 0;
  const pid_t self = getpid();
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    const pid_t pid = static_cast<pid_t>(std::atol(name.c_str()));
    if (pid != self && getpgid(pid) == getpgrp()) total += RssKb(pid);
  }
  return total;
}

void BM_MemoryOver50Extractions(benchmark::State& state) {
  Reader& r = TheReader();
  const std::optional<FetchedArticlePage> fetched = r.Fetch();
  if (!fetched || fetched->problem != ReaderProblem::kNone) {
    state.SkipWithError("the page was not fetched");
    return;
  }
  r.Extract(*fetched);
  RunUntil([] { return false; }, 500);
  // Resident memory before, after 50 and after 100 extractions.
  long rss[3] = {RssKb(getpid()), 0, 0}, helpers[3] = {HelpersRssKb(), 0, 0};
  for (auto _ : state) {
    for (int round = 1; round <= 2; ++round) {
      for (int i = 0; i < 50; ++i) {
        const std::optional<ReaderOutcome> outcome = r.Extract(*fetched);
        if (!outcome || !outcome->ok()) {
          state.SkipWithError("the page was not read");
          return;
        }
      }
      RunUntil([] { return false; }, 500);
      rss[round] = RssKb(getpid());
      helpers[round] = HelpersRssKb();
    }
  }
  state.counters["rss_before_MB"] = rss[0] / 1024.0;
  state.counters["rss_after_50_MB"] = rss[1] / 1024.0;
  state.counters["rss_after_100_MB"] = rss[2] / 1024.0;
  state.counters["helpers_before_MB"] = helpers[0] / 1024.0;
  state.counters["helpers_after_50_MB"] = helpers[1] / 1024.0;
  state.counters["helpers_after_100_MB"] = helpers[2] / 1024.0;
}
BENCHMARK(BM_MemoryOver50Extractions)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace qb

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
  if (qEnvironmentVariableIsEmpty("QTWEBENGINE_CHROMIUM_FLAGS"))
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu --no-sandbox");
  // The article pane's page file goes to a private folder of this run.
  char pattern[] = "/tmp/qb-reader-bench-XXXXXX";
  if (mkdtemp(pattern) == nullptr) return 2;
  const std::string runtime = pattern;
  chmod(runtime.c_str(), 0700);
  setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  qb::CReaderExtractor::RegisterScheme();
  qb::RegisterArticlePageScheme();
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  qb::g_reader.reset();
  std::filesystem::remove_all(runtime);
  return 0;
}
