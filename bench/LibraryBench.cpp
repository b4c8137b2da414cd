// The library at the size of years of reading, beside the classic data file
// measured in the same run: 300 feeds of 200 articles, each article with its
// own text of 2,000 characters and its own item's markup (a data file of
// about 540 MB), imported into a library once.
//
// Measured:
// - the bytes written to the disk (/proc/self/io write_bytes) when one
//   article is marked read, and when an update pass adds 200 articles; the
//   data file writes itself whole for either (target for one mark: under
//   64 KB);
// - quillbend-cli list on the library: time and peak memory, beside the
//   same on the data file and a plain copy of the data file with fsync
//   (targets: under 0.3 s and 60 MB);
// - one keystroke of search over the whole library and over a node of 200
//   articles (target: under 50 ms), beside the same rule run in memory over
//   the texts;
// - the model's memory after a load, per article, beside the classic load.
//
// The library is bench/LibraryGenerator.h's. QB_BENCH_SOURCES and
// QB_BENCH_ARTICLES scale it (300 and 200); QB_BENCH_SOURCES=5000 gives the million articles of a decade, and with
// QB_BENCH_LIBRARY_ONLY=1 the library is written directly, with no data
// file to import and none of the data file's figures (its model alone would
// not fit this machine's memory twice). The files live in a private folder
// under /tmp and are removed at the end.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <malloc.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "bench/LibraryGenerator.h"
#include "classic/DataFile.h"
#include "library/Library.h"
#include "library/LibraryLink.h"
#include "model/FeedsManager.h"
#include "model/ModelWriter.h"

extern char** environ;

namespace qb {
namespace {

using bench::NewArticle;
using bench::LibraryShape;
using bench::Words;

const LibraryShape kShape = LibraryShape::FromEnvironment();
const bool kLibraryOnly = bench::EnvInt("QB_BENCH_LIBRARY_ONLY", 0) != 0;

uint64_t WriteBytes() {
  std::ifstream io("/proc/self/io");
  std::string key;
  uint64_t value = 0;
  while (io >> key >> value) {
    if (key == "write_bytes:") return value;
  }
  return 0;
}

// Processor time of the whole process (on a shared machine the clock also
// counts the time spent waiting for a processor).
double ProcessCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

size_t HeapInUse() {
  const struct mallinfo2 info = mallinfo2();
  return info.uordblks + info.hblkhd;
}

struct Fixture {
  std::string dir, home, folder, dataFile, library, copy;
  uint64_t fileBytes = 0;
  double importSeconds = 0;
  uint64_t importWriteBytes = 0;
  uint64_t classicSaveWriteBytes = 0;
  size_t articles = 0;

  ~Fixture() {
    std::error_code ec;
    if (!dir.empty()) std::filesystem::remove_all(dir, ec);
  }
};

Fixture& Shared() {
  static Fixture x;
  static const bool built = [] {
    char pattern[] = "/tmp/qb-library-bench-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) std::abort();
    x.dir = pattern;
    x.home = x.dir + "/home";
    x.folder = x.home + "/Velmorant/Quillbend";
    std::filesystem::create_directories(x.folder);
    x.dataFile = x.folder + "/Feeds";
    x.library = x.folder + "/Library.sqlite";
    x.copy = x.dir + "/copy";
    if (kLibraryOnly) {
      // Written the way updates write it: each source's articles in one pass.
      const auto start = std::chrono::steady_clock::now();
      x.articles = bench::WriteLibrary(x.library, kShape);
      if (x.articles == 0) std::abort();
      x.importSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      return true;
    }
    {
      CFeedsManager m;
      m.SeedRandom(1);
      x.articles = bench::BuildModel(m, kShape);
      const uint64_t before = WriteBytes();
      if (!SaveDataFile(m, x.dataFile)) std::abort();
      x.classicSaveWriteBytes = WriteBytes() - before;
    }
    struct stat st {};
    ::stat(x.dataFile.c_str(), &st);
    x.fileBytes = static_cast<uint64_t>(st.st_size);
    const auto start = std::chrono::steady_clock::now();
    const uint64_t before = WriteBytes();
    CLibrary library;
    LibraryOpenOptions options;
    options.importFrom = x.dataFile;
    if (!library.Open(x.library, options).imported) std::abort();
    x.importWriteBytes = WriteBytes() - before;
    x.importSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return true;
  }();
  (void)built;
  return x;
}

// The library loaded as the window loads it, with its sync.
struct Loaded {
  CLibrary library;
  CFeedsManager model;
  LibraryLoadResult load;
  std::unique_ptr<CLibraryLink> sync;
  explicit Loaded(const std::string& path) {
    if (!library.Open(path).opened) std::abort();
    load = library.Load(model);
    if (!load.ok) std::abort();
    sync = std::make_unique<CLibraryLink>(model, library, &load);
  }
  ~Loaded() {
    sync.reset();
    model.SetArticleStore(nullptr);
  }
};

void Counters(benchmark::State& state) {
  const Fixture& f = Shared();
  state.counters["articles"] = static_cast<double>(f.articles);
  state.counters["file_MB"] = static_cast<double>(f.fileBytes) / 1e6;
}

void BM_ImportOnce(benchmark::State& state) {
  Fixture& f = Shared();
  for (auto _ : state) {
  }
  Counters(state);
  state.counters["import_s"] = f.importSeconds;
  state.counters["import_written_MB"] = static_cast<double>(f.importWriteBytes) / 1e6;
  struct stat st {};
  ::stat(f.library.c_str(), &st);
  state.counters["library_MB"] = static_cast<double>(st.st_size) / 1e6;
}

void BM_MarkOneRead(benchmark::State& state) {
  Fixture& f = Shared();
  Loaded l(f.library);
  IdList articles;
  l.model.CollectFeeds(0, articles);
  uint64_t written = 0;
  size_t marks = 0;
  for (auto _ : state) {
    const ObjectId id = articles[(marks * 7919) % articles.size()];
    const uint64_t before = WriteBytes();
    l.model.MarkRead({id}, !l.model.GetFeed(id)->m_read);
    if (l.sync->FlushAndWait().failure) state.SkipWithError("write failed");
    written += WriteBytes() - before;
    ++marks;
  }
  Counters(state);
  state.counters["written_KB_per_mark"] = static_cast<double>(written) / 1024.0 / static_cast<double>(marks);
  state.counters["datafile_written_MB"] = static_cast<double>(f.classicSaveWriteBytes) / 1e6;
}

void BM_PassAdds200(benchmark::State& state) {
  Fixture& f = Shared();
  Loaded l(f.library);
  IdList sources;
  l.model.CollectSources(0, sources);
  Words words(99);
  int serial = 10'000'000;
  uint64_t written = 0;
  int passes = 0;
  for (auto _ : state) {
    const uint64_t before = WriteBytes();
    // 20 new articles in each of 10 sources, as an update pass brings them.
    for (int s = 0; s < 10; ++s) {
      FeedReading reading;
      reading.understood = true;
      std::u16string text;
      for (int a = 0; a < 20; ++a) {
        ArticleCandidate& n = reading.articles.emplace_back(NewArticle(words, ++serial, kShape.textLength, text));
        n.fields.m_read = false;
      }
      reading.text = SharedText(std::move(text));
      l.model.MergeArticles(sources[(passes * 10 + s) % sources.size()], std::move(reading), 1);
    }
    if (l.sync->FlushAndWait().failure) state.SkipWithError("write failed");
    written += WriteBytes() - before;
    ++passes;
  }
  Counters(state);
  state.counters["written_MB_per_pass"] = static_cast<double>(written) / 1e6 / passes;
  state.counters["datafile_written_MB"] = static_cast<double>(f.classicSaveWriteBytes) / 1e6;
}

// Runs a command in a child of a small process of its own, so that its peak
// memory is its own: "elapsed seconds, peak KB".
std::pair<double, long> RunMeasured(const std::vector<std::string>& command, const std::string& home) {
  std::vector<std::string> args{"LibraryBench", "--qb-run-child"};
  args.insert(args.end(), command.begin(), command.end());
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> env{"XDG_DATA_HOME=" + home, "XDG_CACHE_HOME=" + home + "/cache", "HOME=" + home};
  std::vector<char*> envp;
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  int made[2];
  if (::pipe(made) != 0) return {-1, -1};
  // Above 3, so that giving the child its descriptor 3 closes nothing else.
  int pipeFds[2] = {::fcntl(made[0], F_DUPFD_CLOEXEC, 10), ::fcntl(made[1], F_DUPFD_CLOEXEC, 10)};
  ::close(made[0]);
  ::close(made[1]);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 3);
  pid_t pid = 0;
  const int rc = posix_spawn(&pid, "/proc/self/exe", &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipeFds[1]);
  char buffer[128] = {};
  const ssize_t n = rc == 0 ? ::read(pipeFds[0], buffer, sizeof buffer - 1) : -1;
  ::close(pipeFds[0]);
  int status = 0;
  if (rc == 0) ::waitpid(pid, &status, 0);
  double seconds = -1;
  long kb = -1;
  if (n > 0) std::sscanf(buffer, "%lf %ld", &seconds, &kb);
  return {seconds, kb};
}

void BM_ListLibrary(benchmark::State& state) {
  Fixture& f = Shared();
  double seconds = 0, classicSeconds = 0;
  long kb = 0, classicKb = 0;
  for (auto _ : state) {
    std::tie(seconds, kb) = RunMeasured({QB_CLI_PATH, "list"}, f.home);
    if (!kLibraryOnly) {
      std::tie(classicSeconds, classicKb) = RunMeasured({QB_CLI_PATH, "--data", f.dataFile, "list"}, f.home);
    }
  }
  if (seconds < 0 || classicSeconds < 0) state.SkipWithError("the command failed");
  Counters(state);
  state.counters["list_s"] = seconds;
  state.counters["list_peak_MB"] = static_cast<double>(kb) / 1024.0;
  state.counters["datafile_list_s"] = classicSeconds;
  state.counters["datafile_list_peak_MB"] = static_cast<double>(classicKb) / 1024.0;
}

// One feed of N new articles stored in an empty library: the rows, the
// texts and N history keys in one batch, as an update of a very large feed
// stores them (linear in N; the ratio of the two sizes shows it).
void BM_StoreLargeFeed(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  double seconds = 0;
  for (auto _ : state) {
    char pattern[] = "/tmp/qb-large-feed-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) std::abort();
    const std::string dir = pattern;
    {
      CLibrary library;
      library.Open(dir + "/Library.sqlite");
      CFeedsManager model;
      const LibraryLoadResult load = library.Load(model);
      CLibraryLink sync(model, library, &load);
      const ObjectId source = model.AddSource(model.RootGroups()[0], u"http://example.com/large.xml")->m_id;
      FeedReading reading;
      reading.understood = true;
      for (int i = 0; i < n; ++i) {
        ArticleCandidate& a = reading.articles.emplace_back();
        const std::string k = std::to_string(i);
        a.fields.m_key = u"key-" + std::u16string(k.begin(), k.end());
        a.fields.m_title = u"Item " + a.fields.m_key;
        a.description = u"<p>" + a.fields.m_key + u"</p>";
      }
      const auto start = std::chrono::steady_clock::now();
      model.MergeArticles(source, std::move(reading), 1);
      const LibraryFlushReport report = sync.FlushAndWait();
      seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      if (report.failure || report.pending) state.SkipWithError("the feed was not stored");
      model.SetArticleStore(nullptr);
    }
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
  state.counters["store_s"] = seconds / static_cast<double>(state.iterations());
}

// A chain of N groups, each inside the one before (an OPML list nested N
// deep), made in one batch and stored, then read by a second process's
// model from the change log, as the window reads a command's write. Both
// linear in N.
void BM_DeepGroups(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  double store = 0, refresh = 0;
  for (auto _ : state) {
    char pattern[] = "/tmp/qb-deep-groups-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) std::abort();
    const std::string dir = pattern, path = dir + "/Library.sqlite";
    {
      CLibrary mine, theirs;
      mine.Open(path);
      theirs.Open(path);
      CFeedsManager model, other;
      const LibraryLoadResult load = mine.Load(model), otherLoad = theirs.Load(other);
      CLibraryLink sync(model, mine, &load), otherSync(other, theirs, &otherLoad);
      auto start = std::chrono::steady_clock::now();
      model.Batch([&] {
        ObjectId parent = model.RootGroups()[0];
        for (int i = 0; i < n; ++i) parent = model.AddGroup(parent, u"Group")->m_id;
      });
      if (sync.FlushAndWait().failure) state.SkipWithError("not stored");
      store += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      start = std::chrono::steady_clock::now();
      if (!otherSync.Refresh()) state.SkipWithError("not read");
      refresh += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      IdList groups;
      other.CollectGroups(groups);
      if (groups.size() != static_cast<size_t>(n) + 1) state.SkipWithError("the other model lacks groups");
      model.SetArticleStore(nullptr);
      other.SetArticleStore(nullptr);
    }
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
  state.counters["store_s"] = store / static_cast<double>(state.iterations());
  state.counters["other_refresh_s"] = refresh / static_cast<double>(state.iterations());
}

// Opening the library for writing, as the window and every writing
// command do, with the integrity check it begins with (quick_check) beside
// the same open without it, in the same run.
void BM_OpenForWriting(benchmark::State& state) {
  Fixture& f = Shared();
  double checked = 0, unchecked = 0;
  int runs = 0;
  for (auto _ : state) {
    for (bool check : {true, false}) {
      CLibrary library;
      LibraryOpenOptions options;
      options.checkIntegrity = check;
      const auto start = std::chrono::steady_clock::now();
      const LibraryOpenOutcome out = library.Open(f.library, options);
      const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      if (!out.opened || !out.keptAside.empty()) state.SkipWithError("the library did not open whole");
      (check ? checked : unchecked) += s;
    }
    ++runs;
  }
  Counters(state);
  state.counters["open_checked_ms"] = checked * 1000 / runs;
  state.counters["open_unchecked_ms"] = unchecked * 1000 / runs;
  state.counters["quick_check_ms"] = (checked - unchecked) * 1000 / runs;
}

// The reference for a command that reads the data file: a plain copy of
// it, flushed.
void BM_PlainCopy(benchmark::State& state) {
  Fixture& f = Shared();
  if (kLibraryOnly) {
    state.SkipWithError("no data file");
    return;
  }
  std::vector<char> block(1 << 20);
  for (auto _ : state) {
    const int in = ::open(f.dataFile.c_str(), O_RDONLY);
    const int out = ::open(f.copy.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    for (ssize_t n; (n = ::read(in, block.data(), block.size())) > 0;) {
      if (::write(out, block.data(), static_cast<size_t>(n)) != n) state.SkipWithError("write");
    }
    ::fsync(out);
    ::close(out);
    ::close(in);
  }
  ::unlink(f.copy.c_str());
  Counters(state);
}

struct SearchFixture {
  std::unique_ptr<Loaded> loaded;
  ObjectId node = 0;
};

SearchFixture& Search() {
  static SearchFixture s;
  if (!s.loaded) {
    s.loaded = std::make_unique<Loaded>(Shared().library);
    IdList sources;
    s.loaded->model.CollectSources(0, sources);
    s.node = sources[sources.size() / 2];
  }
  return s;
}

// One keystroke: the first letter of a common word, then more of it.
void BM_SearchWholeLibrary(benchmark::State& state) {
  SearchFixture& s = Search();
  const std::u16string query = std::u16string(u"kalo").substr(0, static_cast<size_t>(state.range(0)));
  size_t found = 0;
  for (auto _ : state) found = s.loaded->model.SearchArticles(query).size();
  Counters(state);
  state.counters["found"] = static_cast<double>(found);
}

void BM_SearchNode(benchmark::State& state) {
  SearchFixture& s = Search();
  const std::u16string query = std::u16string(u"kalo").substr(0, static_cast<size_t>(state.range(0)));
  size_t found = 0;
  for (auto _ : state) found = s.loaded->model.SearchArticles(query, s.node).size();
  Counters(state);
  state.counters["found"] = static_cast<double>(found);
}

// The reference: the same rule over the texts held in memory, for the node
// (what the window's filter could do before), since the whole library's
// texts do not fit the window's memory.
void BM_SearchNodeInMemory(benchmark::State& state) {
  SearchFixture& s = Search();
  CFeedsManager copy;
  const CFeedSource* source = s.loaded->model.GetFeedSource(s.node);
  CFeedSource* into = CModelWriter(copy).NewFeedSource();
  for (ObjectId id : source->m_articles) {
    CFeed* a = CModelWriter(copy).NewFeed();
    const CFeed* from = s.loaded->model.GetFeed(id);
    a->m_title = from->m_title;
    a->m_channel = from->m_channel;
    a->m_date = from->m_date;
    a->m_description = s.loaded->model.ArticleTexts(id).description.str();
    into->m_articles.push_back(a->m_id);
  }
  const std::u16string query = std::u16string(u"kalo").substr(0, static_cast<size_t>(state.range(0)));
  size_t found = 0;
  for (auto _ : state) found = copy.SearchArticles(query, into->m_id).size();
  Counters(state);
  state.counters["found"] = static_cast<double>(found);
}

// The reference for the whole library: the same rule over every text held
// in memory, as a model backed by the classic data file searches.
void BM_SearchWholeLibraryInMemory(benchmark::State& state) {
  SearchFixture& s = Search();
  static std::unique_ptr<CFeedsManager> copy;
  if (!copy) {
    copy = std::make_unique<CFeedsManager>();
    copy->FixUpAfterLoad();
    IdList sources;
    s.loaded->model.CollectSources(0, sources);
    CGroup* root = CModelWriter(*copy).Group((*copy).RootGroups()[0]);
    for (ObjectId sid : sources) {
      CFeedSource* into = CModelWriter(*copy).NewFeedSource();
      root->m_sources.push_back(into->m_id);
      for (ObjectId id : s.loaded->model.GetFeedSource(sid)->m_articles) {
        CFeed* a = CModelWriter(*copy).NewFeed();
        const CFeed* from = s.loaded->model.GetFeed(id);
        a->m_title = from->m_title;
        a->m_channel = from->m_channel;
        a->m_date = from->m_date;
        a->m_description = s.loaded->model.ArticleTexts(id).description.str();
        into->m_articles.push_back(a->m_id);
      }
    }
    copy->RebuildIndexes();
  }
  const std::u16string query = std::u16string(u"kalo").substr(0, static_cast<size_t>(state.range(0)));
  size_t found = 0;
  for (auto _ : state) found = copy->SearchArticles(query).size();
  Counters(state);
  state.counters["found"] = static_cast<double>(found);
}

void BM_ModelMemory(benchmark::State& state) {
  Fixture& f = Shared();
  size_t library = 0, classic = 0;
  double libraryLoad = 0, classicLoad = 0, libraryLoadCpu = 0, classicLoadCpu = 0;
  for (auto _ : state) {
    {
      malloc_trim(0);
      const size_t before = HeapInUse();
      const auto start = std::chrono::steady_clock::now();
      const double cpuStart = ProcessCpuSeconds();
      auto l = std::make_unique<Loaded>(f.library);
      libraryLoad = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      libraryLoadCpu = ProcessCpuSeconds() - cpuStart;
      library = HeapInUse() - before;
    }
    if (!kLibraryOnly) {
      malloc_trim(0);
      const size_t before = HeapInUse();
      const auto start = std::chrono::steady_clock::now();
      const double cpuStart = ProcessCpuSeconds();
      auto m = std::make_unique<CFeedsManager>();
      LoadOptions readOnly;
      readOnly.readOnly = true;
      if (!LoadDataFile(*m, f.dataFile, readOnly).ok()) state.SkipWithError("load failed");
      classicLoad = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      classicLoadCpu = ProcessCpuSeconds() - cpuStart;
      classic = HeapInUse() - before;
    }
  }
  Counters(state);
  state.counters["model_MB"] = static_cast<double>(library) / 1e6;
  state.counters["bytes_per_article"] = static_cast<double>(library) / static_cast<double>(f.articles);
  state.counters["load_s"] = libraryLoad;
  state.counters["load_cpu_s"] = libraryLoadCpu;
  state.counters["datafile_model_MB"] = static_cast<double>(classic) / 1e6;
  state.counters["datafile_load_s"] = classicLoad;
  state.counters["datafile_load_cpu_s"] = classicLoadCpu;
}

BENCHMARK(BM_ImportOnce)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_MarkOneRead)->Iterations(20)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PassAdds200)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ListLibrary)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_StoreLargeFeed)->Arg(25000)->Arg(100000)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DeepGroups)->Arg(10000)->Arg(100000)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_OpenForWriting)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PlainCopy)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SearchWholeLibrary)->Arg(1)->Arg(2)->Arg(4)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SearchNode)->Arg(1)->Arg(2)->Arg(4)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SearchNodeInMemory)->Arg(1)->Arg(4)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SearchWholeLibraryInMemory)->Arg(1)->Arg(4)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ModelMemory)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// The child of RunMeasured: runs the command in a grandchild, waits, and
// writes "elapsed peak_kb" to descriptor 3.
int RunChild(char** command) {
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 1);
    ::close(3);
    ::execv(command[0], command);
    ::_exit(127);
  }
  int status = 0;
  struct rusage usage {};
  if (::wait4(pid, &status, 0, &usage) < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "%s exited with status %d\n", command[0], status);
    return 1;
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  char line[64];
  const int n = std::snprintf(line, sizeof line, "%.4f %ld\n", seconds, usage.ru_maxrss);
  return ::write(3, line, static_cast<size_t>(n)) == n ? 0 : 1;
}

}  // namespace
}  // namespace qb

int main(int argc, char** argv) {
  if (argc >= 3 && std::strcmp(argv[1], "--qb-run-child") == 0) return qb::RunChild(argv + 2);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
