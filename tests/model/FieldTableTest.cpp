// The field tables: every value a table describes goes through the library,
// the classic data file and the command-line tool's JSON and comes back
// the same, whatever it is; and a table that leaves a member out does not
// pass its check.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "classic/DataFile.h"
#include "library/Library.h"
#include "library/LibraryLink.h"
#include "model/FeedsManager.h"
#include "model/ModelWriter.h"
#include "tests/support/TempDir.h"
#include "tests/support/UpdatePasses.h"
#include "tools/ModelJson.h"

namespace qb {
namespace {

struct Two {
  int a = 0;
  std::u16string b;
};
static_assert(CheckFieldTable<Two, decltype(std::make_tuple(Field(&Two::a, "a", "a", 1, 1),
                                                           Field(&Two::b, "b", "b", 1, 2)))>());
static_assert(!CheckFieldTable<Two, decltype(std::make_tuple(Field(&Two::a, "a", "a", 1, 1)))>(),
              "a member without an entry is found");

// A value unlike the default of its type, drawn at random.
void Draw(std::u16string& v, std::mt19937& rng) {
  v = u"\u00E9\U0001F4F0 " + std::u16string(1 + rng() % 40, static_cast<char16_t>(u'a' + rng() % 26));
}
void Draw(bool& v, std::mt19937&) { v = !v; }
void Draw(int32_t& v, std::mt19937& rng) { v = static_cast<int32_t>(rng() % 2000000) - 1000000 + (v == 0 ? 7 : 0); }
void Draw(uint8_t& v, std::mt19937& rng) { v = static_cast<uint8_t>(1 + rng() % 254); }
void Draw(int64_t& v, std::mt19937& rng) { v = 1'000'000'000 + static_cast<int64_t>(rng() % 1'000'000'000); }
void Draw(CDateTime& v, std::mt19937& rng) {
  v = CDateTime::FromFields({static_cast<int32_t>(1900 + rng() % 200), static_cast<int32_t>(1 + rng() % 12),
                             static_cast<int32_t>(1 + rng() % 28), static_cast<int32_t>(rng() % 24),
                             static_cast<int32_t>(rng() % 60), static_cast<int32_t>(rng() % 60)});
}

template <class Values, class Table>
void DrawAll(Values& values, const Table& table, std::mt19937& rng) {
  ForEachValue<Values>(table, [&](const auto& field) { Draw(values.*field.member, rng); });
}

// The values as a place that stores only some of them gives them back:
// those it does not store at their defaults.
template <class Values, class Table, class Stored>
Values AsStored(const Values& drawn, const Table& table, Stored stored) {
  Values out;
  ForEachValue<Values>(table, [&](const auto& field) {
    if (stored(field)) out.*field.member = drawn.*field.member;
  });
  return out;
}

TEST(FieldTableTest, EveryValueComesBackFromTheLibraryTheClassicFileAndTheJson) {
  for (unsigned seed : {1u, 2u, 3u}) {
    SCOPED_TRACE(seed);
    std::mt19937 rng(seed);
    test::TempDir dir;
    const std::string path = dir.File("Library.sqlite");
    CLibrary library;
    ASSERT_TRUE(library.Open(path).opened);
    CFeedsManager m;
    ASSERT_TRUE(library.Load(m).ok);
    GroupFields group;
    SourceFields source;
    ArticleFields article;
    DrawAll(group, kGroupFieldTable, rng);
    DrawAll(source, kSourceFieldTable, rng);
    DrawAll(article, kArticleFieldTable, rng);
    ObjectId g = 0, s = 0, a = 0;
    {
      CLibraryLink sync(m, library);
      g = m.AddGroup(m.RootGroups()[0], u"g")->m_id;
      m.SetGroupFields(g, group);
      s = m.AddSource(g, u"http://example.com/")->m_id;
      // The update sets fields of its own (the status, the tick): before the drawn ones.
      a = DeliverArticles(m, s, {Candidate(u"t", u"k")}).at(0);
      m.SetSourceFields(s, source);
      m.SetArticleFields(a, article);
      ASSERT_FALSE(sync.FlushAndWait().failure);
    }
    // Every value of a record is a column of its row.
    const auto inLibrary = [](const auto& field) {
      EXPECT_NE(field.column, nullptr);
      return field.column != nullptr;
    };
    const auto inFile = [](const auto& field) { return field.since != 0; };
    const auto inJson = [](const auto& field) { return field.json != nullptr; };
    {
      CLibrary reader;
      ASSERT_TRUE(reader.Open(path).opened);
      CFeedsManager back;
      ASSERT_TRUE(reader.Load(back).ok);
      EXPECT_TRUE(*back.GetGroup(g) == AsStored(group, kGroupFieldTable, inLibrary));
      EXPECT_TRUE(*back.GetFeedSource(s) == AsStored(source, kSourceFieldTable, inLibrary));
      EXPECT_TRUE(*back.GetFeed(a) == AsStored(article, kArticleFieldTable, inLibrary));
      back.SetArticleStore(nullptr);
    }
    CFeedsManager file;
    ASSERT_TRUE(LoadFromBytes(file, SaveToBytes(m)).ok());
    EXPECT_TRUE(*file.GetGroup(g) == AsStored(group, kGroupFieldTable, inFile));
    // A source read from the classic file takes its refresh interval from
    // the legacy byte below version 7 only: the stored one stands here.
    EXPECT_TRUE(*file.GetFeedSource(s) == AsStored(source, kSourceFieldTable, inFile));
    EXPECT_TRUE(*file.GetFeed(a) == AsStored(article, kArticleFieldTable, inFile));

    CFeedsManager json;
    std::string error;
    ASSERT_TRUE(cli::JsonToModel(cli::ModelToJson(m), json, error)) << error;
    EXPECT_TRUE(*json.GetGroup(g) == AsStored(group, kGroupFieldTable, inJson));
    EXPECT_TRUE(*json.GetFeedSource(s) == AsStored(source, kSourceFieldTable, inJson));
    EXPECT_TRUE(*json.GetFeed(a) == AsStored(article, kArticleFieldTable, inJson));
    m.SetArticleStore(nullptr);
  }
}

}  // namespace
}  // namespace qb
