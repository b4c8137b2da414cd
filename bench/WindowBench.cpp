// How long the window's event loop goes without running while it updates
// and saves: a 10 ms timer records the longest gap between two of its
// callbacks (target: under 50 ms).
//
// - BM_GapDuringPass: the whole program (offscreen) runs one "Update all
//   feeds" pass over 30 feeds whose server answers each request 3 s late.
// - BM_GapWhileALargeFeedApplies: an update pass of one feed whose
//   document is 2.5 MB (500 articles), on the window's thread as the
//   updater runs it (the pool, the window's executor, 8 ms slices).
//   Arg 0 is the oldest reference: the document parsed on the window's
//   thread before it is interpreted. Arg 1 the previous one: parsed on
//   another thread, read and merged on the window's. Arg 2 is the engine as
//   it is: parsed and read into candidates on its reading thread, only
//   merged on the window's. Counters: window_thread_cpu_ms (the window
//   thread's CPU time for the pass) and worker_parse_ms (the parse).
// - BM_GapDuringTimedSave: the program holds 6,000 articles of 30 feeds
//   whose texts make a data file of about 1.5 GB; an article is marked read
//   and the timed save runs to its end.
//
// - BM_ImportOpml: "Import (OPML)..." of a file with 10,000 feeds in 100
//   groups, from the menu command to the summary (target: under 2 s); then,
//   as counters, how far the first fetch of the new feeds gets in 30 s when
//   every one of them is refused at once.
//
// - BM_WrittenToReadAnArticle: the whole program on its library; a feed's
//   article is opened and marked read, and the program runs until its
//   settings and the library have written what they will. Counters: the
//   bytes it handed to the system (wchar_KB) and the bytes that went to the
//   disk (written_KB, /proc/self/io; 0 on a tmpfs), and as the reference the
//   same for the library's part alone (an article marked read through the
//   model: library_*), measured the same way in the same run. Target:
//   written_KB under 64.
//
// Files live in a private folder under /tmp, removed at the end.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QSettings>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "app/Commands.h"
#include "app/DataFileIo.h"
#include "app/FeedUpdater.h"
#include "app/LibraryDataIo.h"
#include "app/MainFrame.h"
#include "app/QtExecutor.h"
#include "app/RSSReaderApp.h"
#include "app/RSSReaderDoc.h"
#include "app/UpdateService.h"
#include "base/Text.h"
#include "bench/EventLoopGap.h"
#include "bench/QuietDesktop.h"
#include "classic/DataFile.h"
#include "formats/Interpret.h"
#include "model/ModelWriter.h"
#include "tests/support/HttpServer.h"
#include "tests/support/UpdatePasses.h"
#include "update/UpdateEngine.h"
#include "views/ArticlePage.h"
#include "views/FeedListView.h"
#include "views/FeedView.h"
#include "views/SourceListView.h"

namespace qb {
namespace {

using namespace std::chrono_literals;


using bench::LongestGap;
using bench::Spin;

// A started program on a data file of its own.
struct Program {
  explicit Program(const std::string& dataHome) {
    setenv("XDG_DATA_HOME", dataHome.c_str(), 1);
    setenv("XDG_CACHE_HOME", (dataHome + "/cache").c_str(), 1);
    QSettings settings(QStringLiteral("Velmorant"), QStringLiteral("Quillbend"));
    settings.setValue(QStringLiteral("Settings/FirstRun"), 0);
    settings.setValue(QStringLiteral("Settings/ConfirmExit"), 0);
    settings.sync();
    app = std::make_unique<CRSSReaderApp>(AppEnvironment{desktop, dataFile, updater});
    if (!app->InitInstance({})) std::abort();
    for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
  }
  ~Program() {
    app->Frame()->RunCloseSequence();
    app.reset();
  }
  CMainFrame& Frame() { return *app->Frame(); }
  CFeedsManager& Model() { return app->Document()->m_feedsManager; }

  bench::QuietDesktop desktop;
  CDataFileIo dataFile;
  CUpdateService updater;
  std::unique_ptr<CRSSReaderApp> app;
};

}  // namespace

std::string PrivateFolder() {
  char pattern[] = "/tmp/qb-window-bench-XXXXXX";
  if (mkdtemp(pattern) == nullptr) std::abort();
  return pattern;
}

namespace {

std::string Rss(int feed, int items, size_t filler) {
  std::string s = "<rss version=\"2.0\"><channel><title>Feed " + std::to_string(feed) + "</title>";
  for (int i = 0; i < items; ++i) {
    s += "<item><title>Item " + std::to_string(i) + "</title><guid>f" + std::to_string(feed) + "-" +
         std::to_string(i) + "</guid><description>" + std::string(filler, 'x') +
         "</description></item>";
  }
  return s + "</channel></rss>";
}

void BM_GapDuringPass(benchmark::State& state) {
  test::BypassProxyForLoopback();
  const std::string folder = PrivateFolder();
  test::HttpServer server(10);
  {
    Program program(folder);
    CFeedsManager& model = program.Model();
    const ObjectId root = model.RootGroups().front();
    for (int f = 0; f < 30; ++f) {
      const std::string path = "/feed" + std::to_string(f);
      test::HttpResponse r = test::HttpResponse::Ok(Rss(f, 20, 2000));
      r.delay = 3s;
      server.Set(path, r);
      model.AddSource(root, server.Url16(path, f % 10 + 1));
    }
    for (auto _ : state) {
      const double gap = LongestGap([&](const Spin& spin) {
        program.Frame().Commands().UpdateAll(false);
        spin([&] { return !program.updater.Busy(); });
      });
      state.counters["longest_gap_ms"] = gap;
    }
    IdList all;
    model.CollectFeeds(0, all);
    state.counters["articles"] = static_cast<double>(all.size());
  }
  std::filesystem::remove_all(folder);
}
BENCHMARK(BM_GapDuringPass)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// Arg 2: the document is read into candidates and merged on the engine's
// threads as the program does; 1: only parsed there, read and merged on the
// window's thread; 0: parsed again on the window's thread too.
void BM_GapWhileALargeFeedApplies(benchmark::State& state) {
  const int split = static_cast<int>(state.range(0));
  test::BypassProxyForLoopback();
  test::HttpServer server;
  const std::string document = Rss(0, 500, 5000);
  server.Set("/large", test::HttpResponse::Ok(document));
  CDownloadPool pool;
  CQtExecutor executor;
  double longest = 0;
  double parseMs = 0;
  double ownerCpu = 0;
  size_t articles = 0;
  for (auto _ : state) {
    // A model of its own each time, so that every pass finds 500 new articles.
    CFeedsManager model;
    model.FixUpAfterLoad();
    const ObjectId source = model.AddSource(model.RootGroups().front(), server.Url16("/large"))->m_id;
    CUpdateEngine::Hooks hooks;
    hooks.applySlice = std::chrono::milliseconds(8);
    hooks.parse = [&parseMs](const SharedText& text) {
      const auto start = std::chrono::steady_clock::now();
      CParsedFeed feed = ParseFeed(text);
      parseMs = std::max(parseMs, std::chrono::duration<double, std::milli>(
                                      std::chrono::steady_clock::now() - start).count());
      return feed;
    };
    if (split == 1) {
      hooks.interpret = [](CFeedsManager& m, const CFeedSource& s, const CParsedFeed& feed, uint32_t tick) {
        return InterpretFeed(m, s, feed, tick);
      };
    } else if (split == 0) {
      // The worker's parse is left unused and the text parsed again here.
      hooks.interpret = [](CFeedsManager& m, const CFeedSource& s, const CParsedFeed& feed, uint32_t tick) {
        return ParseAndInterpret(m, s, feed.Text(), tick);
      };
    }
    CUpdateEngine engine(model, pool, executor, std::move(hooks));
    const qint64 cpuBefore = bench::ThreadCpuNs();
    const double gap = LongestGap([&](const Spin&) {
      engine.UpdateAll(true);
      // Waiting for events rather than spinning, so that the thread's CPU
      // time is the work the window's thread did.
      while (engine.Busy()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    });
    ownerCpu = std::max(ownerCpu, static_cast<double>(bench::ThreadCpuNs() - cpuBefore) / 1e6);
    longest = std::max(longest, gap);
    articles = model.GetFeedSource(source)->m_articles.size();
  }
  state.counters["longest_gap_ms"] = longest;
  state.counters["window_thread_cpu_ms"] = ownerCpu;
  state.counters["document_MB"] = static_cast<double>(document.size()) / 1e6;
  state.counters["articles"] = static_cast<double>(articles);
  state.counters["worker_parse_ms"] = parseMs;
}
BENCHMARK(BM_GapWhileALargeFeedApplies)->Arg(0)->Arg(1)->Arg(2)->Iterations(5)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_GapDuringTimedSave(benchmark::State& state) {
  const std::string folder = PrivateFolder();
  const std::string dataFolder = folder + "/Velmorant/Quillbend";
  std::filesystem::create_directories(dataFolder);
  const std::string path = dataFolder + "/Feeds";
  {
    // 30 feeds of 200 articles, each carrying its feed's 125,000-character (250 KB)
    // document, as files saved before articles kept only their own item.
    CFeedsManager model;
    const ObjectId root = model.AddGroup(0, u"All Sources")->m_id;
    for (int f = 0; f < 30; ++f) {
      CFeedSource* source =
          CModelWriter(model).Source(model.AddSource(root, u"http://example.com/" + Widen(std::to_string(f)))->m_id);
      const SharedText text(std::u16string(125000, u'x'));
      for (int a = 0; a < 200; ++a) {
        CFeed* article = CModelWriter(model).NewFeed();
        article->m_title = u"Article " + Widen(std::to_string(a));
        article->m_description = std::u16string(500, u'd');
        article->m_sourceText = text;
        source->m_articles.push_back(article->m_id);
      }
    }
    if (!SaveDataFile(model, path)) std::abort();
  }
  {
    Program program(folder);
    CFeedsManager& model = program.Model();
    IdList all;
    model.CollectFeeds(0, all);
    state.counters["articles"] = static_cast<double>(all.size());
    state.counters["file_MB"] = static_cast<double>(std::filesystem::file_size(path)) / 1e6;
    size_t next = 0;
    for (auto _ : state) {
      bool saved = false;
      const double gap = LongestGap([&](const Spin& spin) {
        program.Frame().Commands().MarkRead({all[next++ % all.size()]}, true);
        program.app->Document()->SaveInBackground([&](bool) { saved = true; });
        spin([&] { return saved; });
      });
      state.counters["longest_gap_ms"] = gap;
    }
  }
  std::filesystem::remove_all(folder);
}
BENCHMARK(BM_GapDuringTimedSave)->Iterations(2)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ImportOpml(benchmark::State& state) {
  test::BypassProxyForLoopback();
  const std::string folder = PrivateFolder();
  const std::string path = folder + "/subscriptions.opml";
  {
    // Every feed on a site of its own, as in the lists people export, and
    // every site refusing at once: any loopback address takes the port
    // nothing listens on.
    const std::string port = std::to_string(test::HttpServer::ClosedPort());
    std::string opml = "<?xml version=\"1.0\"?><opml version=\"2.0\"><head/><body>";
    for (int g = 0; g < 100; ++g) {
      opml += "<outline text=\"Group " + std::to_string(g) + "\">";
      for (int f = 0; f < 100; ++f) {
        const std::string n = std::to_string(g * 100 + f);
        const std::string host = "127.0." + std::to_string(g + 1) + "." + std::to_string(f + 1);
        opml += "<outline type=\"rss\" text=\"Feed " + n + "\" xmlUrl=\"http://" + host + ":" + port +
                "/" + n + "\"/>";
      }
      opml += "</outline>";
    }
    opml += "</body></opml>";
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr || std::fwrite(opml.data(), 1, opml.size(), file) != opml.size()) std::abort();
    std::fclose(file);
  }
  for (auto _ : state) {
    state.PauseTiming();
    const std::string run = PrivateFolder();
    {
      Program program(run);
      program.Frame().SetOpmlPathAsker([&] { return QString::fromStdString(path); });
      state.ResumeTiming();
      program.Frame().OnImportOpml();
      state.PauseTiming();
      IdList sources;
      program.Model().CollectSources(0, sources);
      state.counters["feeds"] = static_cast<double>(sources.size());
      // The first fetch that follows, for 30 s at most: how many of the new
      // feeds it has applied by then.
      QElapsedTimer pass;
      pass.start();
      while ((program.updater.Busy() || program.Frame().Commands().NewSourcesPending()) &&
             pass.elapsed() < 30'000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
      }
      int applied = 0;
      for (ObjectId id : sources) applied += program.updater.StateOf(id).lastAttempt != 0 ? 1 : 0;
      state.counters["first_fetch_s"] = static_cast<double>(pass.elapsed()) / 1e3;
      state.counters["first_fetch_applied"] = applied;
    }
    std::filesystem::remove_all(run);
    state.ResumeTiming();
  }
  std::filesystem::remove_all(folder);
}
BENCHMARK(BM_ImportOpml)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// What this process has written so far: handed to write() and its kin, and
// sent to the disk.
struct Written {
  double wchar = 0;
  double disk = 0;
};
Written WrittenSoFar() {
  Written w;
  if (FILE* io = std::fopen("/proc/self/io", "r")) {
    char name[64];
    unsigned long long value = 0;
    while (std::fscanf(io, "%63s %llu", name, &value) == 2) {
      if (std::string(name) == "wchar:") w.wchar = static_cast<double>(value);
      if (std::string(name) == "write_bytes:") w.disk = static_cast<double>(value);
    }
    std::fclose(io);
  }
  return w;
}

void BM_WrittenToReadAnArticle(benchmark::State& state) {
  test::BypassProxyForLoopback();
  const std::string folder = PrivateFolder();
  test::HttpServer server;
  server.Set("/feed", test::HttpResponse::Ok(Rss(0, 20, 2000)));
  setenv("XDG_DATA_HOME", folder.c_str(), 1);
  setenv("XDG_CACHE_HOME", (folder + "/cache").c_str(), 1);
  setenv("XDG_RUNTIME_DIR", folder.c_str(), 1);
  {
    QSettings settings(QStringLiteral("Velmorant"), QStringLiteral("Quillbend"));
    settings.setValue(QStringLiteral("Settings/FirstRun"), 0);
    settings.setValue(QStringLiteral("Settings/ConfirmExit"), 0);
  }
  {
    bench::QuietDesktop desktop;
    CQtExecutor executor;
    CLibraryDataIo library(executor);
    CUpdateService updater;
    CRSSReaderApp app(AppEnvironment{desktop, library, updater});
    if (!app.InitInstance({})) std::abort();
    CMainFrame& frame = *app.Frame();
    CFeedsManager& model = app.Document()->m_feedsManager;
    const auto run = [](int ms) {
      QEventLoop loop;
      QTimer::singleShot(ms, &loop, &QEventLoop::quit);
      loop.exec();
    };
    const ObjectId source = model.AddSource(model.RootGroups().front(), server.Url16("/feed"))->m_id;
    frame.Commands().UpdateSources({source});
    while (updater.Busy()) run(20);
    // Everything of the start (the selection of the settle too) is written.
    run(12000);
    size_t next = 0;
    for (auto _ : state) {
      const IdList& articles = model.GetFeedSource(source)->m_articles;
      const Written before = WrittenSoFar();
      frame.SourceTree()->SelectItem(frame.SourceTree()->FindItem(source));
      CFeedListView* list = frame.ArticleList();
      list->ReadRow(list->FindRow(articles[next++]));
      run(2000);  // the page is shown
      frame.OnTimer(FrameTimer::MarkRead);
      run(11000);  // the library's turn, and the selection a little later
      const Written after = WrittenSoFar();
      state.counters["wchar_KB"] = (after.wchar - before.wchar) / 1024;
      state.counters["written_KB"] = (after.disk - before.disk) / 1024;

      const Written alone = WrittenSoFar();
      frame.Commands().MarkRead({articles[next++]}, true);
      run(2000);
      const Written done = WrittenSoFar();
      state.counters["library_wchar_KB"] = (done.wchar - alone.wchar) / 1024;
      state.counters["library_written_KB"] = (done.disk - alone.disk) / 1024;
    }
    frame.RunCloseSequence();
  }
  std::filesystem::remove_all(folder);
}
BENCHMARK(BM_WrittenToReadAnArticle)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace qb

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  qb::RegisterArticlePageScheme();
  // The settings of these runs stay out of the user's.
  const std::string config = qb::PrivateFolder();
  setenv("XDG_CONFIG_HOME", config.c_str(), 1);
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::filesystem::remove_all(config);
  return 0;
}
