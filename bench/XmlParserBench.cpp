// The XML parser from UTF-8 bytes to a finished tree (decoding included), on
// generated RSS with escaped HTML and CDATA, beside pugixml parsing the same
// bytes. Parsing must stay linear: ten times the text, about ten times the
// time.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <map>
#include <vector>
#include <string>

#include "base/Text.h"
#include "formats/XMLParser.h"

#ifdef QB_HAVE_PUGIXML
#include <pugixml.hpp>
#endif

namespace {

// An RSS document of about `size` bytes of UTF-8.
std::string MakeRss(size_t size) {
  std::string doc =
      "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
      "<rss version=\"2.0\" xmlns:content=\"http://purl.org/rss/1.0/modules/content/\" "
      "xmlns:dc=\"http://purl.org/dc/elements/1.1/\">\n<channel>\n"
      "<title>Caf\xC3\xA9 &amp; Bar \xE2\x82\xAC news</title>\n<link>https://example.org/</link>\n"
      "<description>Generated feed</description>\n<language>en</language>\n";
  for (size_t n = 0; doc.size() < size; ++n) {
    const std::string id = std::to_string(n);
    doc += "<item>\n<title>Item " + id + ": na\xC3\xAFve &amp; caf\xC3\xA9 &lt;b&gt;</title>\n";
    doc += "<link>https://example.org/articles/" + id + "?ref=rss&amp;x=1</link>\n";
    doc += "<description>&lt;p&gt;Paragraph " + id +
           " with &lt;a href=\"https://example.org/" + id +
           "\"&gt;a link&lt;/a&gt; and &lt;em&gt;emphasis&lt;/em&gt;. Lorem ipsum dolor sit amet, "
           "consectetur adipiscing elit, sed do eiusmod tempor incididunt ut labore et dolore "
           "magna aliqua &amp;amp; more.&lt;/p&gt;</description>\n";
    doc += "<content:encoded><![CDATA[<div class='post'><p>Body of item " + id +
           " &amp; friends: <img src=\"https://example.org/i/" + id +
           ".png\" alt=\"\"/> Ut enim ad minim veniam, quis nostrud exercitation ullamco "
           "laboris nisi ut aliquip ex ea commodo consequat. \xE2\x80\x9CQuoted\xE2\x80\x9D "
           "text.</p></div>]]></content:encoded>\n";
    doc += "<pubDate>Mon, 04 May 2009 10:20:30 GMT</pubDate>\n";
    doc += "<guid isPermaLink=\"false\">urn:example:" + id + "</guid>\n";
    doc += "<dc:creator>Writer " + id + "</dc:creator>\n<category>News</category>\n</item>\n";
  }
  doc += "</channel>\n</rss>\n";
  return doc;
}

const std::string& Document(size_t size) {
  static std::map<size_t, std::string> cache;
  auto it = cache.find(size);
  if (it == cache.end()) it = cache.emplace(size, MakeRss(size)).first;
  return it->second;
}

void BM_QuillbendParse(benchmark::State& state) {
  const std::string& bytes = Document(static_cast<size_t>(state.range(0)));
  size_t nodes = 0;
  for (auto _ : state) {
    // As an update does it: the decoded text is shared, not copied.
    qb::CXMLParser parser;
    const qb::SharedText text(qb::Utf8ToUtf16(bytes));
    benchmark::DoNotOptimize(&parser.ParseShared(text));
    nodes = parser.NodeCount();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
  state.counters["nodes"] = static_cast<double>(nodes);
}

// The two halves of the measurement above, apart.
void BM_QuillbendDecodeOnly(benchmark::State& state) {
  const std::string& bytes = Document(static_cast<size_t>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(qb::Utf8ToUtf16(bytes));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}

void BM_QuillbendParseOnly(benchmark::State& state) {
  const std::string& bytes = Document(static_cast<size_t>(state.range(0)));
  const qb::SharedText text(qb::Utf8ToUtf16(bytes));
  for (auto _ : state) {
    qb::CXMLParser parser;
    benchmark::DoNotOptimize(&parser.ParseShared(text));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}

#ifdef QB_HAVE_PUGIXML
void BM_PugixmlParse(benchmark::State& state) {
  const std::string& bytes = Document(static_cast<size_t>(state.range(0)));
  for (auto _ : state) {
    pugi::xml_document doc;
    benchmark::DoNotOptimize(doc.load_buffer(bytes.data(), bytes.size()));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}
#endif

// The machine is shared: the fastest of several repetitions is the figure
// least disturbed by other work.
void Sizes(benchmark::internal::Benchmark* b) {
  b->Arg(100 << 10)->Arg(1 << 20)->Arg(10 << 20)->Arg(50 << 20);
  b->Unit(benchmark::kMillisecond)->MinTime(0.2)->Repetitions(5)->ReportAggregatesOnly(true);
  b->ComputeStatistics("min", [](const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); });
}

}  // namespace

BENCHMARK(BM_QuillbendParse)->Apply(Sizes);
BENCHMARK(BM_QuillbendDecodeOnly)->Apply(Sizes);
BENCHMARK(BM_QuillbendParseOnly)->Apply(Sizes);
#ifdef QB_HAVE_PUGIXML
BENCHMARK(BM_PugixmlParse)->Apply(Sizes);
#endif

BENCHMARK_MAIN();
