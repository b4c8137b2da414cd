// Saving and loading a large data file, beside a plain sequential write and
// read of the same number of bytes measured in the same run, and the peak
// memory of a load measured in a fresh child process.
//
// The model: bench/LibraryGenerator.h's, QB_BENCH_SOURCES sources (default
// 100) of 200 articles each in the root group, every article with a short
// description and, as its source text, the same 50,000-character feed text
// of its source, so the file is about 2 GB (one copy of the text per
// article) while the model in memory holds one copy per source. The files
// live in a private folder under /tmp and are removed at the end. Before each read the file's pages
// are dropped from the cache, so reads come from the disk.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
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

#include "bench/LibraryGenerator.h"
#include "classic/DataFile.h"
#include "model/FeedsManager.h"

extern char** environ;

namespace qb {
namespace {

constexpr int kArticlesPerSource = 200;
constexpr size_t kFeedTextLength = 50000;
constexpr size_t kBlock = 1 << 20;

int SourceCount() {
  const char* env = std::getenv("QB_BENCH_SOURCES");
  const int n = env != nullptr ? std::atoi(env) : 0;
  return n > 0 ? n : 100;
}

struct Fixture {
  std::string dir;
  std::string dataFile;
  std::string plainFile;
  uint64_t fileBytes = 0;
  std::unique_ptr<CFeedsManager> model;

  ~Fixture() {
    std::error_code ec;
    if (!dir.empty()) std::filesystem::remove_all(dir, ec);
  }
};

Fixture& Shared() {
  static Fixture x;
  static const bool built = [] {
    char pattern[] = "/tmp/qb-datafile-bench-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) std::abort();
    x.dir = pattern;
    x.dataFile = x.dir + "/Feeds";
    x.plainFile = x.dir + "/plain";
    x.model = std::make_unique<CFeedsManager>();
    x.model->SeedRandom(1);
    bench::LibraryShape shape;
    shape.sources = SourceCount();
    shape.articlesPerSource = kArticlesPerSource;
    shape.textLength = 40;
    shape.sourcesPerGroup = 0;
    shape.sharedFeedText = kFeedTextLength;
    bench::BuildModel(*x.model, shape);
    return true;
  }();
  (void)built;
  return x;
}

uint64_t FileSize(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

// The data file, saved once when a benchmark needs it before BM_Save ran.
Fixture& Saved() {
  Fixture& f = Shared();
  if (f.fileBytes == 0) {
    if (!SaveDataFile(*f.model, f.dataFile)) std::abort();
    f.fileBytes = FileSize(f.dataFile);
  }
  return f;
}

// Drops the file's pages from the cache, so the next read comes from the disk.
void DropCache(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) return;
  ::fdatasync(fd);
  ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
  ::close(fd);
}

void SetRate(benchmark::State& state, uint64_t bytes) {
  state.SetBytesProcessed(static_cast<int64_t>(bytes) * static_cast<int64_t>(state.iterations()));
  state.counters["file_MB"] = static_cast<double>(bytes) / 1e6;
}

void BM_Save(benchmark::State& state) {
  Fixture& f = Shared();
  for (auto _ : state) {
    if (!SaveDataFile(*f.model, f.dataFile)) state.SkipWithError("save failed");
  }
  f.fileBytes = FileSize(f.dataFile);
  SetRate(state, f.fileBytes);
}

// The reference for BM_Save: as many bytes in 1 MB blocks, then fsync.
void BM_PlainWrite(benchmark::State& state) {
  Fixture& f = Saved();
  std::vector<char> block(kBlock, 'x');
  for (auto _ : state) {
    const int fd = ::open(f.plainFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    for (uint64_t done = 0; done < f.fileBytes;) {
      const size_t n = static_cast<size_t>(std::min<uint64_t>(kBlock, f.fileBytes - done));
      if (::write(fd, block.data(), n) != static_cast<ssize_t>(n)) state.SkipWithError("write");
      done += n;
    }
    ::fsync(fd);
    ::close(fd);
  }
  ::unlink(f.plainFile.c_str());
  SetRate(state, f.fileBytes);
}

// The reference for BM_Load: the data file read in 1 MB blocks.
void BM_PlainRead(benchmark::State& state) {
  Fixture& f = Saved();
  std::vector<char> block(kBlock);
  for (auto _ : state) {
    state.PauseTiming();
    DropCache(f.dataFile);
    state.ResumeTiming();
    const int fd = ::open(f.dataFile.c_str(), O_RDONLY);
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);  // as the load does
    uint64_t total = 0;
    for (ssize_t n; (n = ::read(fd, block.data(), kBlock)) > 0;) total += static_cast<uint64_t>(n);
    ::close(fd);
    benchmark::DoNotOptimize(total);
  }
  SetRate(state, f.fileBytes);
}

void BM_Load(benchmark::State& state) {
  Fixture& f = Saved();
  for (auto _ : state) {
    state.PauseTiming();
    DropCache(f.dataFile);
    auto m = std::make_unique<CFeedsManager>();
    state.ResumeTiming();
    const LoadOutcome out = LoadDataFile(*m, f.dataFile);
    if (!out.ok()) state.SkipWithError("load failed");
    state.PauseTiming();
    m.reset();
    state.ResumeTiming();
  }
  SetRate(state, f.fileBytes);
}

// Peak resident memory of a fresh process that loads the file, against one
// that only starts.
void BM_LoadPeakMemory(benchmark::State& state) {
  Fixture& f = Saved();
  auto childPeakKb = [&](bool load) -> long {
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    std::string arg = std::string("--qb-load-child=") + (load ? f.dataFile : "");
    char* argv[] = {const_cast<char*>("DataFileBench"), arg.data(), nullptr};
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, "/proc/self/exe", &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    char buffer[64] = {};
    const ssize_t n = rc == 0 ? ::read(pipeFds[0], buffer, sizeof buffer - 1) : -1;
    ::close(pipeFds[0]);
    int status = 0;
    if (rc == 0) ::waitpid(pid, &status, 0);
    return n > 0 ? std::atol(buffer) : -1;
  };
  long baseline = 0;
  long peak = 0;
  for (auto _ : state) {
    baseline = childPeakKb(false);
    peak = childPeakKb(true);
  }
  if (baseline < 0 || peak < 0) state.SkipWithError("child failed");
  state.counters["file_MB"] = static_cast<double>(f.fileBytes) / 1e6;
  state.counters["peak_rss_MB"] = static_cast<double>(peak) / 1024.0;
  state.counters["baseline_rss_MB"] = static_cast<double>(baseline) / 1024.0;
  state.counters["peak_over_file"] =
      static_cast<double>(peak - baseline) * 1024.0 / static_cast<double>(f.fileBytes);
}

BENCHMARK(BM_Save)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PlainWrite)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PlainRead)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Load)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_LoadPeakMemory)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// The child of BM_LoadPeakMemory: loads the file (if named) and prints its
// peak resident memory in KB.
int LoadChild(const std::string& path) {
  if (!path.empty()) {
    CFeedsManager m;
    LoadOptions options;
    options.readOnly = true;
    if (!LoadDataFile(m, path, options).ok()) return 1;
  }
  // VmHWM, not getrusage: the latter also counts the parent's memory, which
  // a spawned child inherits across exec.
  std::FILE* status = std::fopen("/proc/self/status", "r");
  if (status == nullptr) return 1;
  char line[256];
  long kb = -1;
  while (std::fgets(line, sizeof line, status) != nullptr) {
    if (std::strncmp(line, "VmHWM:", 6) == 0) kb = std::atol(line + 6);
  }
  std::fclose(status);
  std::printf("%ld\n", kb);
  return kb < 0 ? 1 : 0;
}

}  // namespace
}  // namespace qb

int main(int argc, char** argv) {
  const std::string childFlag = "--qb-load-child=";
  if (argc == 2 && std::strncmp(argv[1], childFlag.c_str(), childFlag.size()) == 0) {
    return qb::LoadChild(argv[1] + childFlag.size());
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
