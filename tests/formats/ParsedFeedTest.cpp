#include "formats/ParsedFeed.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "base/Text.h"
#include "formats/Interpret.h"
#include "model/FeedsManager.h"
#include "model/ModelWriter.h"
#include "tests/support/UpdatePasses.h"
#include "update/UpdateCycle.h"

namespace qb {
namespace {

std::vector<std::u16string> Keys(const CFeedsManager& m, const CFeedSource& s) {
  std::vector<std::u16string> out;
  for (ObjectId id : s.m_articles) out.push_back(m.GetFeed(id)->m_key);
  return out;
}

// Parsing on other threads, the model on this one, gives what parsing and
// interpreting together give.
TEST(ParsedFeedTest, ParsedOnWorkersInterpretedOnTheOwnersThread) {
  std::vector<std::u16string> documents;
  for (int n = 0; n < 8; ++n) {
    const std::u16string i = Widen(std::to_string(n));
    documents.push_back(n % 2 == 0 ? u"<rss><channel><title>R" + i + u"</title><item><guid>g" + i +
                                         u"</guid></item><item><title>t</title></item></channel></rss>"
                                   : u"{\"version\":\"https://jsonfeed.org/version/1\",\"items\":[{\"id\":\"j" + i +
                                         u"\"},{\"id\":\"k\"}]}");
  }
  std::vector<CParsedFeed> parsed(documents.size());
  std::vector<std::thread> workers;
  for (size_t n = 0; n < documents.size(); ++n) {
    workers.emplace_back([&, n] { parsed[n] = ParseFeed(SharedText(documents[n])); });
  }
  for (std::thread& t : workers) t.join();

  CFeedsManager split, together;
  for (size_t n = 0; n < documents.size(); ++n) {
    CParsedFeed moved = std::move(parsed[n]);  // the tree survives the move
    EXPECT_EQ(moved.GetFormat(), n % 2 == 0 ? CParsedFeed::Format::kXml : CParsedFeed::Format::kJsonFeed);
    EXPECT_TRUE(HoldsFeed(moved));
    CFeedSource* a = CModelWriter(split).NewFeedSource();
    CFeedSource* b = CModelWriter(together).NewFeedSource();
    EXPECT_TRUE(InterpretFeed(split, *a, moved, 5));
    EXPECT_TRUE(ParseAndInterpret(together, *b, SharedText(documents[n]), 5));
    EXPECT_EQ(Keys(split, *a), Keys(together, *b));
    EXPECT_EQ(Keys(split, *a).size(), 2u);
    EXPECT_EQ(a->m_title, b->m_title);
  }
  // An empty parse holds nothing.
  const CParsedFeed empty;
  EXPECT_FALSE(HoldsFeed(empty));
  EXPECT_TRUE(empty.Document().Children().empty());
}

}  // namespace
}  // namespace qb
