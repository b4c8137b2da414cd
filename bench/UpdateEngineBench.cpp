// Update passes against a loopback server that answers every request late,
// and the command-line update on the 2 GB reference file.
//
// - BM_Pass/concurrent and BM_Pass/sequential: 100 feeds on 50 loopback host
//   names (127.0.0.1 ... 127.0.0.50), each answer 200 ms late; one pass end
//   to end (load the data file, fetch and apply every feed, save), with the
//   standard limits and with one transfer at a time.
// - BM_SecondPass: the same feeds once more, unchanged, asked with the
//   validators of the first pass; bytes received beside BM_Pass's.
// - BM_Cli/update and BM_Cli/list: quillbend-cli on the 2 GB reference file
//   (100 sources of 200 articles, about 50,000 characters of feed text per
//   source), run as a child process whose peak memory is measured, beside
//   BM_PlainCopy: the file copied in 1 MB blocks and flushed.
//
// Every file lives in a private folder under /tmp, removed at the end.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "base/Text.h"
#include "classic/DataFile.h"
#include "model/ModelWriter.h"
#include "tests/support/HttpServer.h"
#include "tests/support/UpdatePasses.h"
#include "update/UpdateEngine.h"

extern char** environ;

namespace qb {
namespace {

using namespace std::chrono_literals;

constexpr int kFeeds = 100;
constexpr int kHosts = 50;
constexpr int kBigArticles = 200;
constexpr size_t kBlock = 1 << 20;

std::string Folder() {
  static const std::string dir = [] {
    char pattern[] = "/tmp/qb-update-bench-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) std::abort();
    return std::string(pattern);
  }();
  return dir;
}

struct Cleanup {
  ~Cleanup() {
    std::error_code ec;
    std::filesystem::remove_all(Folder(), ec);
  }
};

test::HttpServer& Server() {
  static test::HttpServer server(kHosts);
  return server;
}

std::string SmallFeed(int n) {
  std::string s = "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>Feed " +
                  std::to_string(n) + "</title>";
  for (int i = 0; i < 20; ++i) {
    const std::string k = std::to_string(n) + "-" + std::to_string(i);
    s += "<item><title>Article " + k + "</title><link>http://example.org/" + k + "</link><guid>" + k +
         "</guid><description>A short description of article " + k + ".</description></item>";
  }
  return s + "</channel></rss>";
}

// About 50,000 characters: `items` items of about 250 each.
std::string BigFeed(int n, int items) {
  std::string s = "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>Big " +
                  std::to_string(n) + "</title>";
  const std::string filler(150, 'x');
  for (int i = 0; i < items; ++i) {
    const std::string k = std::to_string(n) + "-" + std::to_string(i);
    s += "<item><title>Article " + k + "</title><guid>" + k + "</guid><description>" + filler +
         "</description></item>";
  }
  return s + "</channel></rss>";
}

// A data file of `kFeeds` sources without articles, the n-th fetched from
// `path` + n on host name 127.0.0.(1 + n % 50).
std::string FeedsFile(const std::string& name, const std::string& path) {
  const std::string file = Folder() + "/" + name;
  CFeedsManager m;
  m.SeedRandom(1);
  m.FixUpAfterLoad();
  for (int n = 0; n < kFeeds; ++n) {
    m.AddSource(m.RootGroups().front(), Widen(Server().Url(path + std::to_string(n), 1 + n % kHosts)));
  }
  if (!SaveDataFile(m, file)) std::abort();
  return file;
}

const std::string& SmallFeedsFile() {
  static const std::string file = [] {
    for (int n = 0; n < kFeeds; ++n) {
      test::HttpResponse r = test::HttpResponse::Ok(SmallFeed(n));
      r.delay = 200ms;
      r.etag = "\"feed-" + std::to_string(n) + "\"";
      Server().Set("/feed" + std::to_string(n), r);
    }
    return FeedsFile("Feeds", "/feed");
  }();
  return file;
}

// Load, a forced pass, save; the fetch state goes in and comes out.
void Pass(const DownloadOptions& options, const std::string& in, const std::string& out,
          CValidatorStore& state) {
  CFeedsManager m;
  if (!LoadDataFile(m, in).ok()) std::abort();
  CUpdateEngine engine(m, {}, std::make_unique<CDownloadPool>(options));
  engine.Validators() = state;
  engine.UpdateAll(true);
  engine.RunToCompletion();
  if (!SaveDataFile(m, out)) std::abort();
  state = engine.Validators();
}

void BM_Pass(benchmark::State& state) {
  const std::string& in = SmallFeedsFile();
  DownloadOptions options;
  if (state.range(0) == 0) {
    options.maxPerHost = 1;
    options.maxTotal = 1;
  }
  uint64_t bytes = 0;
  for (auto _ : state) {
    CValidatorStore fresh;
    const uint64_t before = Server().BytesSent();
    Pass(options, in, Folder() + "/out", fresh);
    bytes = Server().BytesSent() - before;
  }
  state.SetLabel(state.range(0) == 0 ? "sequential" : "concurrent");
  state.counters["bytes_received"] = static_cast<double>(bytes);
}

void BM_SecondPass(benchmark::State& state) {
  const std::string& in = SmallFeedsFile();
  const std::string first = Folder() + "/first";
  uint64_t bytes = 0;
  for (auto _ : state) {
    state.PauseTiming();
    CValidatorStore validators;
    Pass(DownloadOptions{}, in, first, validators);
    const uint64_t before = Server().BytesSent();
    state.ResumeTiming();
    Pass(DownloadOptions{}, first, Folder() + "/second", validators);
    bytes = Server().BytesSent() - before;
  }
  state.counters["bytes_received"] = static_cast<double>(bytes);
}

// --- the 2 GB reference file.

struct Big {
  std::string file;
  uint64_t bytes = 0;
};

const Big& BigFile() {
  static const Big big = [] {
    Big b;
    b.file = FeedsFile("Big", "/big");
    CFeedsManager m;
    if (!LoadDataFile(m, b.file).ok()) std::abort();
    IdList sources;
    m.CollectSources(0, sources);
    for (int n = 0; n < kFeeds; ++n) {
      // The model holds the first 200 articles of each feed; the server
      // has one more, so an update adds 100 and saves.
      const SharedText text(Widen(BigFeed(n, kBigArticles)));
      ParseAndInterpret(m, *m.GetFeedSource(sources[static_cast<size_t>(n)]), text, 1);
      Server().Set("/big" + std::to_string(n), test::HttpResponse::Ok(BigFeed(n, kBigArticles + 1)));
    }
    if (!SaveDataFile(m, b.file)) std::abort();
    struct stat st {};
    ::stat(b.file.c_str(), &st);
    b.bytes = static_cast<uint64_t>(st.st_size);
    return b;
  }();
  return big;
}

void DropCache(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) return;
  ::fdatasync(fd);
  ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
  ::close(fd);
}

bool CopyFile(const std::string& from, const std::string& to, bool flush) {
  const int in = ::open(from.c_str(), O_RDONLY);
  const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  bool ok = in >= 0 && out >= 0;
  std::vector<char> block(kBlock);
  while (ok) {
    const ssize_t n = ::read(in, block.data(), kBlock);
    if (n <= 0) {
      ok = n == 0;
      break;
    }
    ok = ::write(out, block.data(), static_cast<size_t>(n)) == n;
  }
  if (ok && flush) ok = ::fsync(out) == 0;
  if (in >= 0) ::close(in);
  if (out >= 0) ::close(out);
  return ok;
}

struct ChildRun {
  long peakKb = -1;
  double seconds = 0;
  int status = -1;
};

// Runs the command through a fresh copy of this program, which forks and
// waits for it: the peak memory a child reports after a spawn includes its
// parent's, but a fork of a small process starts small.
ChildRun RunMeasured(const std::vector<std::string>& command) {
  int pipeFds[2];
  ChildRun run;
  if (::pipe(pipeFds) != 0) return run;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
  posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
  std::vector<std::string> args{"UpdateEngineBench", "--qb-measure"};
  args.insert(args.end(), command.begin(), command.end());
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int rc = posix_spawn(&pid, "/proc/self/exe", &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipeFds[1]);
  char buffer[128] = {};
  const ssize_t n = rc == 0 ? ::read(pipeFds[0], buffer, sizeof buffer - 1) : -1;
  ::close(pipeFds[0]);
  int status = 0;
  if (rc == 0) ::waitpid(pid, &status, 0);
  if (n > 0) std::sscanf(buffer, "%ld %lf %d", &run.peakKb, &run.seconds, &run.status);
  return run;
}

// The measuring side of RunMeasured: prints "peak-KB seconds exit-status".
int Measure(char** command) {
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int devNull = ::open("/dev/null", O_WRONLY);
    ::dup2(devNull, 1);
    ::dup2(devNull, 2);
    ::execv(command[0], command);
    ::_exit(127);
  }
  int status = 0;
  rusage usage{};
  if (pid < 0 || ::wait4(pid, &status, 0, &usage) != pid) return 1;
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%ld %f %d\n", usage.ru_maxrss, seconds, WIFEXITED(status) ? WEXITSTATUS(status) : -1);
  return 0;
}

void BM_Cli(benchmark::State& state) {
  const Big& big = BigFile();
  const std::string work = Folder() + "/Work";
  ::setenv("XDG_CACHE_HOME", (Folder() + "/cache").c_str(), 1);
  const bool update = state.range(0) == 1;
  ChildRun run;
  for (auto _ : state) {
    state.PauseTiming();
    if (!CopyFile(big.file, work, false)) state.SkipWithError("copy failed");
    DropCache(work);
    ::sync();  // no write-back of earlier work competes with the run
    state.ResumeTiming();
    run = RunMeasured(update ? std::vector<std::string>{QB_CLI_PATH, "--data", work, "update", "--force"}
                             : std::vector<std::string>{QB_CLI_PATH, "--data", work, "list"});
    if (run.status != 0) state.SkipWithError("quillbend-cli failed");
  }
  ::unlink(work.c_str());
  state.SetLabel(update ? "update --force" : "list");
  state.counters["file_MB"] = static_cast<double>(big.bytes) / 1e6;
  state.counters["peak_rss_MB"] = static_cast<double>(run.peakKb) / 1024.0;
  state.counters["peak_over_file"] = static_cast<double>(run.peakKb) * 1024.0 / static_cast<double>(big.bytes);
}

// The reference for BM_Cli/update: the file read, written to a new file
// and flushed, as a save after a load does.
void BM_PlainCopy(benchmark::State& state) {
  const Big& big = BigFile();
  const std::string copy = Folder() + "/Copy";
  for (auto _ : state) {
    state.PauseTiming();
    DropCache(big.file);
    ::sync();
    state.ResumeTiming();
    if (!CopyFile(big.file, copy, true)) state.SkipWithError("copy failed");
  }
  ::unlink(copy.c_str());
  state.counters["file_MB"] = static_cast<double>(big.bytes) / 1e6;
}

BENCHMARK(BM_Pass)->Arg(1)->Arg(0)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SecondPass)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Cli)->Arg(1)->Arg(0)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PlainCopy)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace qb

int main(int argc, char** argv) {
  if (argc >= 3 && std::strcmp(argv[1], "--qb-measure") == 0) return qb::Measure(argv + 2);
  qb::Cleanup cleanup;
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
