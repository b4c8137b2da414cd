// The reader view's results in the library: kept once, read back by
// another user of the library, found by a word of the full text, and gone
// with their article however it goes.
#include "library/ReaderModule.h"

#include <gtest/gtest.h>

#include "base/SearchText.h"
#include "library/LibraryLink.h"
#include "model/FeedsManager.h"
#include "model/ModelWriter.h"
#include "tests/support/SampleModel.h"
#include "tests/support/TempDir.h"

namespace qb {
namespace {

struct User {
  explicit User(const std::string& path) {
    EXPECT_TRUE(library.Open(path).opened);
    load = library.Load(model);
    link = std::make_unique<CLibraryLink>(model, library, &load);
  }
  ~User() {
    link.reset();
    model.SetArticleStore(nullptr);
  }
  CLibrary library;
  LibraryLoadResult load;
  CFeedsManager model;
  std::unique_ptr<CLibraryLink> link;
};

std::string LibraryWithSample(const test::TempDir& dir) {
  CFeedsManager m;
  test::BuildSampleModel(m, 200);
  test::WriteFile(dir.File("Feeds"), SaveToBytes(m));
  ImportReport report;
  const std::string path = dir.File("Library.sqlite");
  EXPECT_TRUE(ImportDataFile(dir.File("Feeds"), path, report));
  return path;
}

ReaderText TextFor(ObjectId article, const std::u16string& word) {
  ReaderText t;
  t.article = article;
  t.address = u"https://example.org/story";
  t.fetched = 1'800'000'000;
  t.title = u"The story";
  t.byline = u"A. Writer";
  t.siteName = u"Example";
  t.excerpt = u"In short";
  t.language = u"en";
  t.direction = u"ltr";
  t.content = u"<div><p>The whole story, with the word " + word + u" in it \u00E9\U0001F600.</p></div>";
  return t;
}

// Rows of the module's two tables.
int64_t StoredRows(const std::string& path, const char* table) {
  CSqliteDb db;
  db.Open(path, SQLITE_OPEN_READONLY);
  return db.QueryInt(std::string("SELECT count(*) FROM ") + table, -1);
}

TEST(ReaderModuleTest, AResultIsKeptReadBackAndFoundByItsFullText) {
  test::TempDir dir;
  const std::string path = LibraryWithSample(dir);
  User user(path);
  IdList articles;
  user.model.CollectFeeds(0, articles);
  ASSERT_GE(articles.size(), 2u);
  const ObjectId id = articles[1];
  const CFeed* a = user.model.GetFeed(id);
  const ReaderText kept = TextFor(id, u"Zanzibarish");

  ReaderText found;
  EXPECT_FALSE(user.link->FindReaderText(id, found));
  user.link->KeepReaderText(kept, a->m_title, a->m_channel);
  ASSERT_TRUE(user.link->FindReaderText(id, found)) << "answered from memory before it is written";
  EXPECT_EQ(found, kept);
  const LibraryFlushReport written = user.link->FlushAndWait();
  ASSERT_TRUE(written.written);
  EXPECT_FALSE(written.pending);

  // Another process reads it from the library, and its search finds the
  // article by a word that only the full text holds (a prefix, as typed),
  // also together with a word of the feed's channel.
  User other(path);
  ASSERT_TRUE(other.link->FindReaderText(id, found));
  EXPECT_EQ(found, kept);
  EXPECT_FALSE(other.link->FindReaderText(articles[0], found));
  EXPECT_EQ(other.library.Search(u"zanzib"), IdList{id});
  EXPECT_EQ(other.model.SearchArticles(u"ZANZIBARISH"), IdList{id}) << "the window's filter asks the same index";
  const std::u16string channelWord = SearchWords(a->m_channel).empty() ? u"" : SearchWords(a->m_channel)[0];
  ASSERT_FALSE(channelWord.empty());
  EXPECT_EQ(other.library.Search(channelWord + u" zanzibarish"), IdList{id});
  EXPECT_TRUE(other.library.Search(u"zanzibarish nosuchwordanywhere").empty());
  // The feed's own words are found as before.
  EXPECT_FALSE(other.library.Search(channelWord).empty());

  // Kept again (Reload): one row, the new words only.
  user.link->KeepReaderText(TextFor(id, u"Quetzalish"), a->m_title, a->m_channel);
  ASSERT_TRUE(user.link->FlushAndWait().written);
  EXPECT_TRUE(other.library.Search(u"zanzibarish").empty());
  EXPECT_EQ(other.library.Search(u"quetzalish"), IdList{id});
  EXPECT_EQ(StoredRows(path, "reader"), 1);
  EXPECT_EQ(StoredRows(path, "reader_search"), 1);

  // Deleted: the result and its words go with it.
  user.model.DeleteArticles({id});
  ASSERT_TRUE(user.link->FlushAndWait().written);
  EXPECT_FALSE(other.link->FindReaderText(id, found));
  EXPECT_TRUE(other.library.Search(u"quetzalish").empty());
  EXPECT_EQ(StoredRows(path, "reader"), 0);
  EXPECT_EQ(StoredRows(path, "reader_search"), 0);
}

TEST(ReaderModuleTest, ResultsGoWithRetentionAndTheirSourceAndNeedTheirArticle) {
  test::TempDir dir;
  const std::string path = LibraryWithSample(dir);
  User user(path);
  CFeedsManager& m = user.model;
  IdList sources;
  m.CollectSources(0, sources);
  IdList old, other;
  for (ObjectId s : sources) {
    const CFeedSource* source = m.GetFeedSource(s);
    if (source->m_articles.empty()) continue;
    (old.empty() ? old : other).push_back(source->m_articles.front());
    if (!other.empty()) break;
  }
  ASSERT_FALSE(old.empty());
  ASSERT_FALSE(other.empty());
  const int64_t now = 1'900'000'000;
  for (ObjectId id : {old[0], other[0]}) {
    CModelWriter(m).Feed(id)->m_arrived = now - 86400 * 100;
    CModelWriter(m).Feed(id)->m_date = CDateTime::FromTime(now - 86400 * 100);
    user.link->KeepReaderText(TextFor(id, u"Kept" + std::u16string(id == old[0] ? u"old" : u"other")), u"", u"");
  }
  m.MarkRead(old, true);
  ASSERT_TRUE(user.link->FlushAndWait().written);
  ASSERT_EQ(StoredRows(path, "reader"), 2);

  m.SetRetentionDays(30);
  EXPECT_GE(m.ApplyRetention(now), 1u);
  ASSERT_EQ(m.GetFeed(old[0]), nullptr);
  ASSERT_TRUE(user.link->FlushAndWait().written);
  ReaderText found;
  EXPECT_FALSE(user.link->FindReaderText(old[0], found)) << "retention took it with the article";
  EXPECT_TRUE(user.link->FindReaderText(other[0], found)) << "unread: kept";
  EXPECT_TRUE(user.library.Search(u"keptold").empty());
  EXPECT_EQ(user.library.Search(u"keptother"), IdList{other[0]});

  // A source deleted takes its articles' results along.
  const CGroup* group = m.FindGroupOfSource(m.FindSourceOfFeed(other[0])->m_id);
  m.DeleteSource(group->m_id, m.FindSourceOfFeed(other[0])->m_id);
  ASSERT_TRUE(user.link->FlushAndWait().written);
  EXPECT_EQ(StoredRows(path, "reader"), 0);
  EXPECT_EQ(StoredRows(path, "reader_search"), 0);

  // A result for an article that went before it was written stores
  // nothing, and fails nothing.
  IdList left;
  m.CollectFeeds(0, left);
  ASSERT_FALSE(left.empty());
  user.link->KeepReaderText(TextFor(left[0], u"Orphan"), u"", u"");
  m.DeleteArticles({left[0]});
  const LibraryFlushReport r = user.link->FlushAndWait();
  EXPECT_FALSE(r.failure);
  EXPECT_FALSE(r.pending);
  EXPECT_EQ(StoredRows(path, "reader"), 0);
}

TEST(ReaderModuleTest, TheFeedsChoiceIsKeptInTheLibraryAndNotInTheDataFile) {
  test::TempDir dir;
  const std::string path = LibraryWithSample(dir);
  ObjectId source = 0;
  std::string classic;
  {
    User user(path);
    IdList sources;
    user.model.CollectSources(0, sources);
    source = sources.back();
    classic = SaveToBytes(user.model);
    EXPECT_TRUE(user.model.SetSourceFullArticle(source, true));
    EXPECT_FALSE(user.model.SetSourceFullArticle(source, true)) << "no change, nothing reported";
    EXPECT_EQ(SaveToBytes(user.model), classic) << "the classic file has no place for it";
    ASSERT_TRUE(user.link->FlushAndWait().written);
  }
  User again(path);
  EXPECT_TRUE(again.model.GetFeedSource(source)->m_fullArticle);
  IdList sources;
  again.model.CollectSources(0, sources);
  for (ObjectId s : sources) {
    if (s != source) {
      EXPECT_FALSE(again.model.GetFeedSource(s)->m_fullArticle) << s;
    }
  }
}

}  // namespace
}  // namespace qb
