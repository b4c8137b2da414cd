// The window on the library at the size of years of reading: 300 feeds of
// 200 articles (bench/LibraryGenerator.h; QB_BENCH_SOURCES and
// QB_BENCH_ARTICLES scale it, QB_BENCH_SOURCES=5000 with
// QB_BENCH_LIBRARY_ONLY=1 gives a million articles and no data file), each
// article with its own 2,000-character text. The library is made once, from
// the classic data file it is imported from (or written directly, or taken
// from QB_BENCH_LIBRARY), in a private folder under /tmp removed at the end. Its sources are never due,
// so no update pass starts on its own while the window is measured.
//
// - BM_StartToTreePainted: a process of its own, from its start to the feed
//   tree's first paint (target: under 1 s), then, once the process's CPU
//   time has stopped growing, its resident memory (VmRSS of the window's
//   process alone; the web engine's helper processes are counted apart as
//   helpers_rss_MB) (target: under 200 MB). Arg 0: the node selected at the
//   last exit was none; arg 1: "All Sources", so the list shows every
//   article of the library. The process is build/app/quillbend itself with
//   QB_REPORT_FIRST_PAINT set (it writes a line at the tree's first paint),
//   on Qt's offscreen platform (QB_BENCH_DISPLAY=:N runs it on that X
//   server instead). The reference (ClassicStartToTreePainted) is the same
//   window on the classic data file, every text in memory: this benchmark's
//   own child process running the program's start-up with the data file's
//   store.
// - BM_GapWhileAnUpdateApplies200: the program in this process on the
//   library, with "All Sources" selected, fetches 10 of its feeds from a
//   loopback server, each bringing 20 new articles of 2,000 characters; the
//   longest time the event loop goes without running from the request to
//   the moment the new rows are written to the library (target: under
//   50 ms), beside the pass's duration.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QMetaObject>
#include <QSettings>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/DataFileIo.h"
#include "app/FeedUpdater.h"
#include "app/LibraryDataIo.h"
#include "app/MainFrame.h"
#include "app/QtExecutor.h"
#include "app/RSSReaderApp.h"
#include "app/RSSReaderDoc.h"
#include "app/UpdateService.h"
#include "bench/EventLoopGap.h"
#include "bench/LibraryGenerator.h"
#include "bench/QuietDesktop.h"
#include "classic/DataFile.h"
#include "model/ModelWriter.h"
#include "net/Download.h"
#include "tests/support/HttpServer.h"
#include "views/ArticlePage.h"
#include "views/FeedListView.h"
#include "views/SourceListView.h"

extern char** environ;

namespace qb {
namespace {

using namespace std::chrono_literals;

const bench::LibraryShape kShape = bench::LibraryShape::FromEnvironment();
// A library made before (by LibraryBench, say, for the million articles
// that take the better part of an hour to write): moved into the
// benchmark's folder and used as it is, with no data file.
const char* const kGivenLibraryEnv = std::getenv("QB_BENCH_LIBRARY");
const std::string kGivenLibrary = kGivenLibraryEnv != nullptr ? kGivenLibraryEnv : "";
const bool kLibraryOnly = bench::EnvInt("QB_BENCH_LIBRARY_ONLY", 0) != 0 || !kGivenLibrary.empty();
// Longer than the tick counter measures: a source only a forced update fetches.
constexpr int32_t kNeverDueMinutes = 100'000;

struct Fixture {
  std::string dir, home, folder, dataFile, library;
  size_t articles = 0;
  uint64_t dataFileBytes = 0, libraryBytes = 0;
  ObjectId root = 0;  // "All Sources"
  int runs = 0;

  ~Fixture() {
    std::error_code ec;
    if (!dir.empty()) std::filesystem::remove_all(dir, ec);
  }
};

uint64_t FileSize(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

Fixture& Shared() {
  static Fixture x;
  static const bool built = [] {
    char pattern[] = "/tmp/qb-library-window-bench-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) std::abort();
    x.dir = pattern;
    x.home = x.dir + "/home";
    x.folder = x.home + "/Velmorant/Quillbend";
    std::filesystem::create_directories(x.folder);
    x.dataFile = x.folder + "/Feeds";
    x.library = x.folder + "/Library.sqlite";
    if (!kGivenLibrary.empty()) {
      // Taken over, and removed at the end with the folder.
      std::filesystem::rename(kGivenLibrary, x.library);
    } else if (kLibraryOnly) {
      x.articles = bench::WriteLibrary(x.library, kShape);
      if (x.articles == 0) std::abort();
    } else {
      {
        CFeedsManager m;
        m.SeedRandom(1);
        x.articles = bench::BuildModel(m, kShape);
        // Never due in the data file's window either.
        IdList sources;
        m.CollectSources(0, sources);
        for (ObjectId id : sources) CModelWriter(m).Source(id)->m_refreshInterval = kNeverDueMinutes;
        if (!SaveDataFile(m, x.dataFile)) std::abort();
      }
      x.dataFileBytes = FileSize(x.dataFile);
      CLibrary library;
      LibraryOpenOptions options;
      options.importFrom = x.dataFile;
      if (!library.Open(x.library, options).imported) std::abort();
    }
    // Never due, and the root group's identifier for the stored selection.
    CLibrary library;
    if (!library.Open(x.library).opened) std::abort();
    CFeedsManager m;
    const LibraryLoadResult load = library.Load(m);
    if (!load.ok) std::abort();
    {
      CLibraryLink sync(m, library, &load);
      IdList sources;
      m.CollectSources(0, sources);
      m.Batch([&] {
        for (ObjectId id : sources) m.SetRefreshInterval(id, kNeverDueMinutes);
      });
      if (sync.FlushAndWait().failure) std::abort();
    }
    x.root = m.RootGroups().front();
    if (!kGivenLibrary.empty()) {
      IdList articles;
      m.CollectFeeds(0, articles);
      x.articles = articles.size();
    }
    m.SetArticleStore(nullptr);
    library.Close();
    x.libraryBytes = FileSize(x.library);
    return true;
  }();
  (void)built;
  return x;
}

void Counters(benchmark::State& state, const Fixture& f) {
  state.counters["articles"] = static_cast<double>(f.articles);
  state.counters["library_MB"] = static_cast<double>(f.libraryBytes) / 1e6;
  if (f.dataFileBytes != 0) state.counters["datafile_MB"] = static_cast<double>(f.dataFileBytes) / 1e6;
}

// The settings a start finds: no first-run welcome, no question at exit,
// the node selected at the last exit.
void WriteSettings(const std::string& configHome, ObjectId selected) {
  const std::string folder = configHome + "/Velmorant";
  std::filesystem::create_directories(folder);
  std::ofstream out(folder + "/Quillbend.conf", std::ios::trunc);
  out << "[Settings]\nFirstRun=0\nConfirmExit=0\n\n[WindowSettings]\nSelectedNode=" << selected
      << "\nSelectedArticle=0\n";
}

struct ProcTimes {
  long rssKb = -1, hwmKb = -1;
  uint64_t cpuTicks = 0;
};

ProcTimes ReadProc(pid_t pid) {
  ProcTimes t;
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) t.rssKb = std::atol(line.c_str() + 6);
    if (line.rfind("VmHWM:", 0) == 0) t.hwmKb = std::atol(line.c_str() + 6);
  }
  std::ifstream statFile("/proc/" + std::to_string(pid) + "/stat");
  std::string stat((std::istreambuf_iterator<char>(statFile)), std::istreambuf_iterator<char>());
  const size_t close = stat.rfind(')');
  if (close != std::string::npos) {
    std::istringstream fields(stat.substr(close + 2));
    std::string field;
    // Fields 3 onwards; utime and stime are fields 14 and 15.
    for (int i = 3; i <= 15 && (fields >> field); ++i) {
      if (i == 14 || i == 15) t.cpuTicks += std::stoull(field);
    }
  }
  return t;
}

// The resident memory of every other process of the group (the web
// engine's helpers).
long GroupRssKb(pid_t group, pid_t except) {
  long total = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string name = entry.path().filename().string();
    if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
    const pid_t pid = static_cast<pid_t>(std::atol(name.c_str()));
    if (pid == except || ::getpgid(pid) != group) continue;
    const long kb = ReadProc(pid).rssKb;
    if (kb > 0) total += kb;
  }
  return total;
}

struct StartFigures {
  double toPaintSeconds = -1;
  double cpuToPaintSeconds = -1;  // the window process's own, all its threads
  double settleSeconds = -1;
  long rssKb = -1, hwmKb = -1, helpersKb = -1;
  double cpuSeconds = -1;
  int rows = -1;
};

// Starts `argv` in a process group of its own with the library's home, a
// config and runtime folder of its own, waits for "tree painted" on its
// output, then for its CPU time to stand still for a second, reads its
// memory and ends the group.
StartFigures MeasureStart(const std::vector<std::string>& command, ObjectId selected) {
  Fixture& f = Shared();
  const std::string run = f.dir + "/run" + std::to_string(++f.runs);
  const std::string config = run + "/config", runtime = run + "/runtime", cache = run + "/cache";
  std::filesystem::create_directories(config);
  std::filesystem::create_directories(runtime);
  std::filesystem::permissions(runtime, std::filesystem::perms::owner_all);
  WriteSettings(config, selected);
  const char* display = std::getenv("QB_BENCH_DISPLAY");
  std::vector<std::string> env{"HOME=" + f.home,
                               "XDG_DATA_HOME=" + f.home,
                               "XDG_CONFIG_HOME=" + config,
                               "XDG_CACHE_HOME=" + cache,
                               "XDG_RUNTIME_DIR=" + runtime,
                               "TMPDIR=" + runtime,
                               "PATH=/usr/bin:/bin",
                               "QB_REPORT_FIRST_PAINT=1",
                               "QTWEBENGINE_DISABLE_SANDBOX=1",
                               "QTWEBENGINE_CHROMIUM_FLAGS=--disable-gpu --no-sandbox"};
  if (display != nullptr && *display != 0) {
    env.push_back(std::string("DISPLAY=") + display);
    env.push_back("QT_QPA_PLATFORM=xcb");
  } else {
    env.push_back("QT_QPA_PLATFORM=offscreen");
  }
  std::vector<std::string> args = command;
  std::vector<char*> argv, envp;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);

  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) return {};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  posix_spawn_file_actions_adddup2(&actions, null, 2);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attr, 0);
  pid_t pid = 0;
  const auto start = std::chrono::steady_clock::now();
  const int rc = posix_spawn(&pid, argv[0], &actions, &attr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  ::close(out[1]);
  ::close(null);
  StartFigures figures;
  if (rc != 0) {
    ::close(out[0]);
    return figures;
  }
  // The line, or the end of the output when the program ends first.
  std::string seen;
  char buffer[256];
  for (ssize_t n; seen.find("tree painted\n") == std::string::npos &&
                  (n = ::read(out[0], buffer, sizeof buffer)) > 0;) {
    seen.append(buffer, static_cast<size_t>(n));
  }
  const auto painted = std::chrono::steady_clock::now();
  const long tick = ::sysconf(_SC_CLK_TCK);
  if (seen.find("tree painted\n") != std::string::npos) {
    figures.toPaintSeconds = std::chrono::duration<double>(painted - start).count();
    uint64_t last = ReadProc(pid).cpuTicks;
    figures.cpuToPaintSeconds = static_cast<double>(last) / static_cast<double>(tick);
    // Settled: the window's CPU time grows by less than 50 ms in a second
    // (its clock ticks twice a second, which on an X server costs it some
    // 25 ms a second), at most a minute.
    for (int i = 0; i < 60; ++i) {
      std::this_thread::sleep_for(1s);
      const uint64_t now = ReadProc(pid).cpuTicks;
      if ((now - last) * 1000 / static_cast<uint64_t>(tick) < 50) break;
      last = now;
    }
    figures.settleSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - painted).count();
    const ProcTimes t = ReadProc(pid);
    figures.rssKb = t.rssKb;
    figures.hwmKb = t.hwmKb;
    figures.cpuSeconds = static_cast<double>(t.cpuTicks) / static_cast<double>(tick);
    figures.helpersKb = GroupRssKb(pid, pid);
    // The child may say how many rows its list shows.
    for (ssize_t n; seen.find("rows ") == std::string::npos && ::fcntl(out[0], F_SETFL, O_NONBLOCK) == 0 &&
                    (n = ::read(out[0], buffer, sizeof buffer)) > 0;) {
      seen.append(buffer, static_cast<size_t>(n));
    }
    const size_t rows = seen.find("rows ");
    if (rows != std::string::npos) figures.rows = std::atoi(seen.c_str() + rows + 5);
  }
  ::close(out[0]);
  // The whole group: the window and its web engine's helpers.
  ::kill(-pid, SIGTERM);
  int status = 0;
  for (int i = 0; i < 100 && ::waitpid(pid, &status, WNOHANG) == 0; ++i) std::this_thread::sleep_for(100ms);
  ::kill(-pid, SIGKILL);
  ::waitpid(pid, &status, WNOHANG);
  std::error_code ec;
  std::filesystem::remove_all(run, ec);
  return figures;
}

void Report(benchmark::State& state, const StartFigures& s) {
  state.counters["to_tree_painted_s"] = s.toPaintSeconds;
  state.counters["cpu_to_tree_painted_s"] = s.cpuToPaintSeconds;
  state.counters["rss_MB"] = static_cast<double>(s.rssKb) / 1024.0;
  state.counters["peak_rss_MB"] = static_cast<double>(s.hwmKb) / 1024.0;
  state.counters["helpers_rss_MB"] = static_cast<double>(s.helpersKb) / 1024.0;
  state.counters["cpu_s"] = s.cpuSeconds;
  state.counters["settled_after_s"] = s.settleSeconds;
  if (s.rows >= 0) state.counters["rows"] = s.rows;
}

void BM_StartToTreePainted(benchmark::State& state) {
  Fixture& f = Shared();
  StartFigures s;
  for (auto _ : state) {
    s = MeasureStart({QB_WINDOW_PATH}, state.range(0) == 1 ? f.root : 0);
    if (s.toPaintSeconds < 0) state.SkipWithError("the window did not paint its tree");
  }
  Counters(state, f);
  Report(state, s);
}

void BM_ClassicStartToTreePainted(benchmark::State& state) {
  Fixture& f = Shared();
  if (kLibraryOnly) {
    state.SkipWithError("no data file");
    return;
  }
  StartFigures s;
  for (auto _ : state) {
    s = MeasureStart({"/proc/self/exe", "--qb-classic-window"}, state.range(0) == 1 ? f.root : 0);
    if (s.toPaintSeconds < 0) state.SkipWithError("the window did not paint its tree");
  }
  Counters(state, f);
  Report(state, s);
}

// A feed of 20 new articles of 2,000 characters, `pass` making them new.
std::string NewItems(int feed, int pass) {
  bench::Words words(static_cast<uint32_t>(1000 + feed * 100 + pass));
  std::string s = "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>Feed " + std::to_string(feed) +
                  "</title>";
  for (int i = 0; i < 20; ++i) {
    const std::string id = std::to_string(feed) + "-" + std::to_string(pass) + "-" + std::to_string(i);
    std::u16string text = words.Text(1993);
    s += "<item><title>New " + id + "</title><link>https://news.example.org/new/" + id + "</link><guid>new-" +
         id + "</guid><pubDate>Mon, 04 May 2026 10:20:30 GMT</pubDate><description>&lt;p&gt;" +
         std::string(text.begin(), text.end()) + "&lt;/p&gt;</description></item>";
  }
  return s + "</channel></rss>";
}

// With QB_BENCH_SLOW_EVENTS=N, each task of the named owner that takes N ms
// or more of the thread's processor time is written to the standard error:
// which of the executor's owners (the update engine, the library's writer)
// holds the window's thread.
class CTimedExecutor final : public IExecutor {
 public:
  CTimedExecutor(IExecutor& inner, const char* owner)
      : m_inner(inner), m_owner(owner), m_thresholdMs(bench::EnvInt("QB_BENCH_SLOW_EVENTS", 0)) {}
  void Post(Task task) override {
    if (m_thresholdMs <= 0) {
      m_inner.Post(std::move(task));
      return;
    }
    m_inner.Post([this, task = std::move(task)] {
      const qint64 start = bench::ThreadCpuNs();
      task();
      const double ms = static_cast<double>(bench::ThreadCpuNs() - start) / 1e6;
      if (ms >= m_thresholdMs) std::fprintf(stderr, "slow task of %s: %.1f ms of processor time\n", m_owner, ms);
    });
  }

 private:
  IExecutor& m_inner;
  const char* m_owner;
  int m_thresholdMs;
};

void BM_GapWhileAnUpdateApplies200(benchmark::State& state) {
  Fixture& f = Shared();
  test::BypassProxyForLoopback();
  test::HttpServer server(10);
  setenv("XDG_DATA_HOME", f.home.c_str(), 1);
  setenv("XDG_CACHE_HOME", (f.dir + "/cache").c_str(), 1);
  QSettings settings(QStringLiteral("Velmorant"), QStringLiteral("Quillbend"));
  settings.setValue(QStringLiteral("Settings/FirstRun"), 0);
  settings.setValue(QStringLiteral("Settings/ConfirmExit"), 0);
  settings.setValue(QStringLiteral("WindowSettings/SelectedNode"), 0);
  settings.sync();
  CQtExecutor executor;
  CDownloadPool pool;
  bench::QuietDesktop desktop;
  CTimedExecutor libraryTasks(executor, "the library"), updateTasks(executor, "the update engine");
  CLibraryDataIo dataIo(libraryTasks);
  CUpdateService updater(pool, updateTasks);
  double longest = 0, longestCpu = 0, passSeconds = 0;
  int rowsBefore = 0, rowsAfter = 0;
  {
    CRSSReaderApp app(AppEnvironment{desktop, dataIo, updater});
    if (!app.InitInstance({})) std::abort();
    CFeedsManager& model = app.Document()->m_feedsManager;
    // The first feed of each of ten groups, each on an address of its own.
    IdList sources, all;
    model.CollectSources(0, all);
    for (int s = 0; s < 10; ++s) {
      const ObjectId id = all[static_cast<size_t>(s) * all.size() / 10];
      model.SetSourceUrl(id, server.Url16("/feed" + std::to_string(s), s + 1));
      sources.push_back(id);
    }
    CSourceListView& tree = *app.Frame()->SourceTree();
    tree.SelectItem(tree.FindItem(model.RootGroups().front()));
    QAbstractItemModel* list = app.Frame()->ArticleList()->model();
    QElapsedTimer wait;
    wait.start();
    while ((dataIo.HasPending() || list->rowCount() < static_cast<int>(f.articles)) && wait.elapsed() < 60'000) {
      QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    rowsBefore = list->rowCount();
    int pass = 0;
    for (auto _ : state) {
      ++pass;
      for (int s = 0; s < 10; ++s) {
        server.Set("/feed" + std::to_string(s), test::HttpResponse::Ok(NewItems(s, pass)));
      }
      const auto start = std::chrono::steady_clock::now();
      const bench::Gaps gap = bench::LongestGaps([&](const bench::Spin& spin) {
        updater.UpdateSources(sources, true);
        spin([&] { return !updater.Busy() && !dataIo.HasPending(); });
      });
      passSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      longest = std::max(longest, gap.wallMs);
      longestCpu = std::max(longestCpu, gap.cpuMs);
    }
    rowsAfter = list->rowCount();
    app.Frame()->RunCloseSequence();
  }
  Counters(state, f);
  state.counters["longest_gap_ms"] = longest;
  state.counters["longest_gap_cpu_ms"] = longestCpu;
  state.counters["pass_s"] = passSeconds;
  state.counters["rows_before"] = rowsBefore;
  state.counters["rows_after"] = rowsAfter;
}

BENCHMARK(BM_StartToTreePainted)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ClassicStartToTreePainted)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_GapWhileAnUpdateApplies200)->Iterations(2)->Unit(benchmark::kMillisecond)->UseRealTime();

// The reference window: the program's start-up on the classic data file
// (the data file's store, every text in memory), reporting its tree's first
// paint as the program does with QB_REPORT_FIRST_PAINT, then the rows of
// its list.
class FirstPaint final : public QObject {
 public:
  explicit FirstPaint(QWidget& watched, std::function<void()> painted)
      : m_watched(watched), m_painted(std::move(painted)) {
    m_watched.installEventFilter(this);
  }

 private:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == &m_watched && event->type() == QEvent::Paint) {
      m_watched.removeEventFilter(this);
      QMetaObject::invokeMethod(this, m_painted, Qt::QueuedConnection);
    }
    return false;
  }
  QWidget& m_watched;
  std::function<void()> m_painted;
};

int ClassicWindow(int argc, char** argv) {
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  qb::RegisterArticlePageScheme();
  QApplication application(argc, argv);
  int status = 1;
  {
    CQtExecutor executor;
    CDownloadPool downloads;
    bench::QuietDesktop desktop;
    CDataFileIo dataFile;
    CUpdateService updater(downloads, executor);
    CRSSReaderApp app({desktop, dataFile, updater});
    std::unique_ptr<FirstPaint> firstPaint;
    app.m_configureFrame = [&](CMainFrame& frame) {
      firstPaint = std::make_unique<FirstPaint>(*frame.SourceTree()->viewport(), [&app] {
        std::printf("tree painted\nrows %d\n", app.Frame()->ArticleList()->model()->rowCount());
        std::fflush(stdout);
      });
    };
    if (app.InitInstance({})) status = QApplication::exec();
  }
  return status;
}

}  // namespace
}  // namespace qb

namespace qb {
namespace {

// With QB_BENCH_SLOW_EVENTS=N, every event that holds the window's thread
// N ms or longer by the clock is written to the standard error with its
// receiver and the thread's processor time: where a long gap of the event
// loop comes from.
class CTimedApplication final : public QApplication {
 public:
  CTimedApplication(int& argc, char** argv)
      : QApplication(argc, argv), m_thresholdMs(bench::EnvInt("QB_BENCH_SLOW_EVENTS", 0)) {}

  bool notify(QObject* receiver, QEvent* event) override {
    if (m_thresholdMs <= 0) return QApplication::notify(receiver, event);
    QElapsedTimer clock;
    clock.start();
    const qint64 cpuStart = bench::ThreadCpuNs();
    const int type = event->type();
    const bool result = QApplication::notify(receiver, event);
    const qint64 ms = clock.elapsed();
    const double cpuMs = static_cast<double>(bench::ThreadCpuNs() - cpuStart) / 1e6;
    if (ms >= m_thresholdMs) {
      // A timer by its interval and its owner.
      const QTimer* timer = qobject_cast<const QTimer*>(receiver);
      const QObject* owner = receiver->parent();
      std::fprintf(stderr,
                   "slow event: %lld ms (%.1f ms of the thread's processor time), type %d, to %s %s "
                   "(interval %d, in %s)\n",
                   static_cast<long long>(ms), cpuMs, type, receiver->metaObject()->className(),
                   qPrintable(receiver->objectName()), timer != nullptr ? timer->interval() : -1,
                   owner != nullptr ? owner->metaObject()->className() : "-");
    }
    return result;
  }

 private:
  int m_thresholdMs;
};

}  // namespace
}  // namespace qb

int main(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "--qb-classic-window") == 0) return qb::ClassicWindow(argc, argv);
  qputenv("QT_QPA_PLATFORM", "offscreen");
  qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  qb::RegisterArticlePageScheme();
  // The settings of these runs stay out of the user's.
  char pattern[] = "/tmp/qb-library-window-config-XXXXXX";
  if (::mkdtemp(pattern) == nullptr) return 1;
  const std::string config = pattern;
  setenv("XDG_CONFIG_HOME", config.c_str(), 1);
  qb::CTimedApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::filesystem::remove_all(config);
  return 0;
}
