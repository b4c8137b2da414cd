// Decoding a downloaded feed: the UTF-8 check that precedes every decode,
// against plain UTF-8 decoding as the reference, and the legacy path through
// iconv for a Latin-1 body.
#include <benchmark/benchmark.h>

#include <string>

#include "base/Text.h"
#include "formats/TextDecoding.h"

namespace {

// About 1 MiB of RSS items with some non-ASCII text.
std::string MakeFeed(bool latin1) {
  std::string s = latin1 ? "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>" : "<?xml version=\"1.0\"?>";
  s += "<rss version=\"2.0\"><channel><title>Bench</title>";
  const std::string e = latin1 ? "\xE9" : "\xC3\xA9";
  for (int i = 0; s.size() < (1u << 20); ++i) {
    s += "<item><title>Caf" + e + " number " + std::to_string(i) +
         "</title><description>Lorem ipsum dolor sit amet, consectetur adipiscing elit, " +
         e + "t" + e + " sed do eiusmod tempor.</description><guid>g" + std::to_string(i) +
         "</guid></item>";
  }
  return s + "</channel></rss>";
}

void BM_Utf8ToUtf16Reference(benchmark::State& state) {
  const std::string feed = MakeFeed(false);
  for (auto _ : state) benchmark::DoNotOptimize(qb::Utf8ToUtf16(feed));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * feed.size()));
}
BENCHMARK(BM_Utf8ToUtf16Reference);

void BM_DecodeFeedBytesUtf8(benchmark::State& state) {
  const std::string feed = MakeFeed(false);
  for (auto _ : state) benchmark::DoNotOptimize(qb::DecodeFeedBytes(feed, "utf-8"));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * feed.size()));
}
BENCHMARK(BM_DecodeFeedBytesUtf8);

void BM_DecodeFeedBytesLatin1(benchmark::State& state) {
  const std::string feed = MakeFeed(true);
  for (auto _ : state) benchmark::DoNotOptimize(qb::DecodeFeedBytes(feed));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * feed.size()));
}
BENCHMARK(BM_DecodeFeedBytesLatin1);

}  // namespace

BENCHMARK_MAIN();
