// The data file's size when every article keeps only its own item's markup,
// beside the size when every article kept the whole document (as articles
// taken from feeds before did), for the same interpreted model in the same
// run. Two cases: 30 feeds of 200 items in 50,000-character documents, and
// one feed of 5,000 items in a document of about 0.9 MB. The sizes are
// counted by storing the model into a writer that only counts, so the
// whole-document figure (gigabytes) needs no disk. The timed loop is the
// store of the model as interpreted.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/Text.h"
#include "classic/Archive.h"
#include "formats/Interpret.h"
#include "formats/XMLParser.h"
#include "model/Feed.h"
#include "model/FeedsManager.h"
#include "model/ModelWriter.h"

namespace qb {
namespace {

class CountingWriter : public IArchiveWriter {
 public:
  bool Write(const void*, size_t size) override {
    m_bytes += size;
    return true;
  }
  uint64_t bytes() const { return m_bytes; }

 private:
  uint64_t m_bytes = 0;
};

uint64_t StoredBytes(CFeedsManager& manager) {
  CountingWriter writer;
  CArchive ar(writer);
  manager.Serialize(ar);
  ar.Flush();
  return writer.bytes();
}

// An RSS document of `items` items padded to about `length` code units.
std::u16string MakeFeed(int feed, int items, size_t length) {
  const std::u16string head = u"<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<rss version=\"2.0\"><channel>"
                              u"<title>Feed " + Widen(std::to_string(feed)) +
                              u"</title><link>https://example.org/</link>\n";
  const std::u16string tail = u"</channel></rss>\n";
  const size_t perItem = (length - head.size() - tail.size()) / static_cast<size_t>(items);
  std::u16string doc = head;
  for (int i = 0; i < items; ++i) {
    const std::u16string n = Widen(std::to_string(feed) + "-" + std::to_string(i));
    std::u16string item = u"<item><title>Article " + n + u"</title><link>https://example.org/a/" + n +
                          u"</link><guid>urn:" + n + u"</guid><pubDate>Mon, 04 May 2009 10:20:30 GMT</pubDate>"
                          u"<description>";
    const std::u16string end = u"</description></item>\n";
    while (item.size() + end.size() < perItem) item += u"Lorem ipsum &amp; dolor sit amet. ";
    doc += item + end;
  }
  return doc + tail;
}

void BM_SaveSize(benchmark::State& state, int feeds, int items, size_t length) {
  CFeedsManager m;
  m.SeedRandom(1);
  CGroup* root = CModelWriter(m).Group(m.AddGroup(0, u"All Sources")->m_id);
  std::vector<std::pair<CFeedSource*, SharedText>> documents;
  uint64_t documentChars = 0;
  for (int f = 0; f < feeds; ++f) {
    CFeedSource* source = CModelWriter(m).NewFeedSource();
    source->m_url = u"https://example.org/feed" + Widen(std::to_string(f));
    root->m_sources.push_back(source->m_id);
    const SharedText text(MakeFeed(f, items, length));
    documentChars += text.size();
    CXMLParser parser;
    InterpretDocument(m, *source, text, parser.ParseShared(text), 1);
    if (source->m_articles.size() != static_cast<size_t>(items)) std::abort();
    documents.emplace_back(source, text);
  }

  uint64_t itemBytes = 0;
  for (auto _ : state) itemBytes = StoredBytes(m);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * itemBytes));

  // The same model as articles used to be stored: each with its whole
  // document.
  for (auto& [source, text] : documents) {
    for (ObjectId id : source->m_articles) CModelWriter(m).Feed(id)->m_sourceText = text;
  }
  const uint64_t documentBytes = StoredBytes(m);

  state.counters["documents_MB"] = static_cast<double>(documentChars) / 1e6;  // UTF-8, all ASCII
  state.counters["file_whole_documents_MB"] = static_cast<double>(documentBytes) / 1e6;
  state.counters["file_items_MB"] = static_cast<double>(itemBytes) / 1e6;
  state.counters["ratio"] = static_cast<double>(documentBytes) / static_cast<double>(itemBytes);
}

BENCHMARK_CAPTURE(BM_SaveSize, feeds30x200, 30, 200, 50000)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(BM_SaveSize, feed5000, 1, 5000, 890000)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
}  // namespace qb

BENCHMARK_MAIN();
