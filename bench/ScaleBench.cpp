// The model at scale: one document of 100,000 items merged into a source
// whose history is full, 100,000 OPML outlines imported and listed, and a
// tree 100,000 groups deep listed. Each beside a reference measured in the
// same run: parsing the document alone, reading the OPML file alone, and
// loading the data file alone. Also 10,000 outlines imported into a model of
// 10,000 sources.
//
// Targets: the document in under 2 s; the outlines imported and listed in
// under 5 s; the deep tree listed in under 2 s; the 10,000 outlines in
// under 2 s. The deep tree's listing is
// about 10 GB of indentation (two spaces per level), so it is written to a
// stream that only counts what it is given.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <QByteArray>
#include <QXmlStreamReader>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <sstream>
#include <streambuf>
#include <string>

#include "classic/DataFile.h"
#include "formats/Interpret.h"
#include "formats/XMLParser.h"
#include "model/FeedsManager.h"
#include "model/ModelWriter.h"
#include "opml/Opml.h"
#include "tools/Cli.h"

namespace qb {
namespace {

constexpr int kItems = 100000;
constexpr int kOutlines = 100000;
constexpr int kDepth = 100000;

// Counts the bytes written to it and keeps none.
class CountingBuf : public std::streambuf {
 public:
  uint64_t bytes = 0;

 protected:
  std::streamsize xsputn(const char*, std::streamsize n) override {
    bytes += static_cast<uint64_t>(n);
    return n;
  }
  int_type overflow(int_type c) override {
    if (c != traits_type::eof()) ++bytes;
    return traits_type::not_eof(c);
  }
};

std::string Folder() {
  static const std::string dir = [] {
    char pattern[] = "/tmp/qb-scale-bench-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) std::abort();
    return std::string(pattern);
  }();
  return dir;
}

struct RemoveFolder {
  ~RemoveFolder() {
    std::error_code ec;
    std::filesystem::remove_all(Folder(), ec);
  }
} removeFolder;

std::u16string Number(int n) {
  std::u16string s;
  do {
    s.insert(s.begin(), static_cast<char16_t>(u'0' + n % 10));
    n /= 10;
  } while (n != 0);
  return s;
}

const SharedText& LargeDocument() {
  static const SharedText text = [] {
    std::u16string doc = u"<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>Big</title>";
    for (int i = 0; i < kItems; ++i) {
      const std::u16string n = Number(i);
      doc += u"<item><title>Item " + n + u"</title><link>https://example.org/" + n +
             u"</link><guid>urn:item:" + n + u"</guid><pubDate>Mon, 04 May 2009 10:20:30 GMT</pubDate>"
             u"<description>Text of item " + n + u"</description></item>";
    }
    return SharedText(doc + u"</channel></rss>");
  }();
  return text;
}

// The reference: the document parsed, nothing merged.
void BM_ParseLargeDocument(benchmark::State& state) {
  const SharedText& text = LargeDocument();
  for (auto _ : state) {
    CXMLParser parser;
    benchmark::DoNotOptimize(parser.ParseShared(text).Children().size());
  }
}

// Target under 2 s: parsed and merged into a source whose history is full
// with 500 keys of the document itself, so every key is protected.
void BM_InterpretLargeDocument(benchmark::State& state) {
  const SharedText& text = LargeDocument();
  size_t added = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto m = std::make_unique<CFeedsManager>();
    m->SeedRandom(1);
    CFeedSource* source = CModelWriter(*m).NewFeedSource();
    for (int i = 0; i < static_cast<int>(kHistoryLimit); ++i) {
      CFeed key;
      key.m_id = static_cast<ObjectId>(i + 1);
      key.m_key = u"urn:item:" + Number(i);
      source->AddToHistory(key, CDateTime::FromTime(1000000000 + i));
    }
    state.ResumeTiming();
    CXMLParser parser;
    InterpretDocument(*m, *source, text, parser.ParseShared(text), 1);
    added = source->m_articles.size();
    state.PauseTiming();
    m.reset();
    state.ResumeTiming();
  }
  state.counters["articles_added"] = static_cast<double>(added);
}

// Groups of 99 feeds each, `outlines` outlines in all.
QByteArray MakeOpml(int outlines) {
  QByteArray body;
  int n = 0;
  for (int g = 0; n < outlines; ++g) {
    body += "<outline text=\"Group " + QByteArray::number(g) + "\">";
    ++n;
    for (int f = 0; f < 99 && n < outlines; ++f, ++n) {
      body += "<outline type=\"rss\" text=\"Feed " + QByteArray::number(n) + "\" xmlUrl=\"https://example.org/" +
              QByteArray::number(n) + "/feed\"/>";
    }
    body += "</outline>";
  }
  return "<?xml version=\"1.0\"?><opml version=\"2.0\"><head/><body>" + body + "</body></opml>";
}

const QByteArray& LargeOpml() {
  static const QByteArray file = MakeOpml(kOutlines);
  return file;
}

// Target under 2 s: 10,000 outlines imported into a group of a model that
// already holds 10,000 sources, with progress reported.
void BM_ImportOpml10k(benchmark::State& state) {
  const QByteArray file = MakeOpml(10000);
  int calls = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto m = std::make_unique<CFeedsManager>();
    m->SeedRandom(3);
    const CGroup* target = m->AddGroup(0, u"All Sources");
    for (int i = 0; i < 10000; ++i) m->AddSource(target->m_id, u"https://elsewhere.example/" + Number(i));
    state.ResumeTiming();
    const OpmlImportResult r = ImportOpml(*m, file, target->m_id, [&](int, int) { ++calls; });
    if (!r.ok || r.feedsAdded + r.groupsAdded != 10000) state.SkipWithError("import failed");
    state.PauseTiming();
    m.reset();
    state.ResumeTiming();
  }
  state.counters["progress_calls"] = calls;
}

// The reference: the OPML file read through, nothing imported.
void BM_ReadLargeOpml(benchmark::State& state) {
  for (auto _ : state) {
    QXmlStreamReader r(LargeOpml());
    int elements = 0;
    while (!r.atEnd()) elements += r.readNext() == QXmlStreamReader::StartElement;
    benchmark::DoNotOptimize(elements);
  }
}

int RunList(const std::string& dataFile, uint64_t& bytes) {
  CountingBuf buf;
  std::ostream out(&buf);
  std::ostringstream err;
  const int status = cli::RunCli({"--data", dataFile, "list"}, out, err);
  bytes = buf.bytes;
  return status;
}

// Target under 5 s: the outlines imported into a loaded data file and saved,
// as quillbend-cli opml-import does, then the list printed from the file.
void BM_ImportAndListOpml(benchmark::State& state) {
  const std::string opml = Folder() + "/large.opml";
  const std::string data = Folder() + "/Feeds-opml";
  {
    std::ofstream(opml, std::ios::binary) << LargeOpml().toStdString();
  }
  uint64_t bytes = 0;
  for (auto _ : state) {
    state.PauseTiming();
    ::unlink(data.c_str());
    state.ResumeTiming();
    std::ostringstream out, err;
    if (cli::RunCli({"--data", data, "opml-import", opml}, out, err) != 0) state.SkipWithError("import failed");
    if (RunList(data, bytes) != 0) state.SkipWithError("list failed");
  }
  state.counters["list_MB"] = static_cast<double>(bytes) / 1e6;
}

const std::string& DeepDataFile() {
  static const std::string path = [] {
    CFeedsManager m;
    m.SeedRandom(2);
    CGroup* g = CModelWriter(m).NewGroup();
    g->m_name = u"Level";
    CModelWriter(m).RootGroups().push_back(g->m_id);
    for (int d = 1; d < kDepth; ++d) {
      CGroup* child = CModelWriter(m).NewGroup();
      child->m_name = u"Level";
      g->m_childGroups.push_back(child->m_id);
      CFeedSource* s = CModelWriter(m).NewFeedSource();
      s->m_title = u"Source";
      CFeed* a = CModelWriter(m).NewFeed();
      s->m_articles.push_back(a->m_id);
      g->m_sources.push_back(s->m_id);
      g = child;
    }
    const std::string file = Folder() + "/Feeds-deep";
    if (!SaveDataFile(m, file)) std::abort();
    return file;
  }();
  return path;
}

// The reference: the deep data file loaded, nothing listed.
void BM_LoadDeepTree(benchmark::State& state) {
  const std::string& file = DeepDataFile();
  for (auto _ : state) {
    CFeedsManager m;
    LoadOptions options;
    options.readOnly = true;
    if (!LoadDataFile(m, file, options).ok()) state.SkipWithError("load failed");
  }
}

// Target under 2 s: quillbend-cli list on a tree 100,000 groups deep, each
// group holding a source with one article below it.
void BM_ListDeepTree(benchmark::State& state) {
  const std::string& file = DeepDataFile();
  uint64_t bytes = 0;
  for (auto _ : state) {
    if (RunList(file, bytes) != 0) state.SkipWithError("list failed");
  }
  state.counters["list_GB"] = static_cast<double>(bytes) / 1e9;
}

BENCHMARK(BM_ParseLargeDocument)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_InterpretLargeDocument)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ImportOpml10k)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ReadLargeOpml)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ImportAndListOpml)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_LoadDeepTree)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ListDeepTree)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace qb

BENCHMARK_MAIN();
