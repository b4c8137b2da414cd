// File > "Import data file...": a classic file's feeds join the model beside
// what it holds, through operations the library stores; a bad file imports
// nothing and changes nothing.
#include <gtest/gtest.h>

#include <string>

#include "classic/DataFile.h"
#include "classic/DataFileImport.h"
#include "library/Library.h"
#include "library/LibraryLink.h"
#include "model/FeedsManager.h"
#include "model/ModelWriter.h"
#include "tests/support/SampleModel.h"
#include "tests/support/TempDir.h"

namespace qb {
namespace {

using test::TempDir;

class Recorder final : public IModelObserver {
 public:
  void OnModelChanged(const CFeedsManager&, const CModelChange& change) override { changes.push_back(change); }
  std::vector<CModelChange> changes;
};

// The list entries that name a record of the kind.
template <typename Get>
IdList Resolving(const IdList& ids, Get get) {
  IdList out;
  for (ObjectId id : ids) {
    if (get(id) != nullptr) out.push_back(id);
  }
  return out;
}

// The subtree of group `e` in `em` and of `a` in `am` hold the same things
// (names, flags, fields, articles in order with their texts, histories),
// identifiers and entries that name nothing aside.
void ExpectSameGroup(const CFeedsManager& em, const CGroup& e, const CFeedsManager& am, const CGroup& a) {
  EXPECT_EQ(e.m_name, a.m_name);
  EXPECT_EQ(e.m_expanded, a.m_expanded);
  const auto groupIn = [](const CFeedsManager& m) { return [&m](ObjectId id) { return m.GetGroup(id); }; };
  const auto sourceIn = [](const CFeedsManager& m) { return [&m](ObjectId id) { return m.GetFeedSource(id); }; };
  const IdList eg = Resolving(e.m_childGroups, groupIn(em)), ag = Resolving(a.m_childGroups, groupIn(am));
  ASSERT_EQ(eg.size(), ag.size());
  for (size_t i = 0; i < eg.size(); ++i) ExpectSameGroup(em, *em.GetGroup(eg[i]), am, *am.GetGroup(ag[i]));
  const IdList esl = Resolving(e.m_sources, sourceIn(em)), asl = Resolving(a.m_sources, sourceIn(am));
  ASSERT_EQ(esl.size(), asl.size());
  for (size_t i = 0; i < esl.size(); ++i) {
    const CFeedSource& es = *em.GetFeedSource(esl[i]);
    const CFeedSource& as = *am.GetFeedSource(asl[i]);
    EXPECT_EQ(es.m_title, as.m_title);
    EXPECT_EQ(es.m_url, as.m_url);
    EXPECT_EQ(es.m_autoName, as.m_autoName);
    EXPECT_EQ(es.m_sortColumn, as.m_sortColumn);
    EXPECT_EQ(es.m_sortDirection, as.m_sortDirection);
    EXPECT_EQ(es.m_commsStatus, as.m_commsStatus);
    EXPECT_EQ(es.m_refreshInterval, as.m_refreshInterval);
    EXPECT_EQ(es.m_reservedString, as.m_reservedString);
    ASSERT_EQ(es.m_history.size(), as.m_history.size());
    for (auto it = es.m_history.begin(), jt = as.m_history.begin(); it != es.m_history.end(); ++it, ++jt) {
      EXPECT_EQ(it->first, jt->first);
      EXPECT_EQ(it->second.firstSeen, jt->second.firstSeen);
    }
    ASSERT_EQ(es.m_articles.size(), as.m_articles.size());
    for (size_t k = 0; k < es.m_articles.size(); ++k) {
      const CFeed& ea = *em.GetFeed(es.m_articles[k]);
      const CFeed& aa = *am.GetFeed(as.m_articles[k]);
      EXPECT_EQ(ea.m_key, aa.m_key);
      EXPECT_EQ(ea.m_title, aa.m_title);
      EXPECT_EQ(ea.m_channel, aa.m_channel);
      EXPECT_EQ(ea.m_link, aa.m_link);
      EXPECT_EQ(ea.m_dateText, aa.m_dateText);
      EXPECT_EQ(ea.m_date, aa.m_date);
      EXPECT_EQ(ea.m_read, aa.m_read);
      EXPECT_EQ(em.ArticleTexts(ea.m_id), am.ArticleTexts(aa.m_id));
    }
  }
}

TEST(DataFileImportTest, TheFilesGroupsJoinTheModelWholeAndTheLibraryStoresThem) {
  TempDir dir;
  CFeedsManager original;
  test::BuildSampleModel(original, 300);
  const std::string file = dir.File("Feeds");
  ASSERT_TRUE(SaveDataFile(original, file).ok);
  const std::string bytes = test::ReadFile(file);

  const std::string libraryPath = dir.File("Library.sqlite");
  IdList rootsBefore;
  {
    CLibrary library;
    ASSERT_TRUE(library.Open(libraryPath).opened);
    CFeedsManager m;
    ASSERT_TRUE(library.Load(m).ok);
    rootsBefore = m.RootGroups();
    const CFeedSource* own = m.AddSource(m.RootGroups()[0], u"https://mine.example/feed");
    const ObjectId ownId = own->m_id;
    CLibraryLink sync(m, library);
    Recorder recorder;
    m.AddObserver(&recorder);
    const DataFileImportResult result = ImportDataFileInto(m, file);
    m.RemoveObserver(&recorder);
    ASSERT_TRUE(result.imported);
    EXPECT_EQ(result.skippedSources, 0u);
    EXPECT_EQ(recorder.changes.size(), 1u) << "one change for the whole import";
    // The file's "All Sources" is the user's; its other root groups come
    // beside it.
    ASSERT_EQ(m.RootGroups().size(), rootsBefore.size() + original.RootGroups().size() - 1);
    EXPECT_TRUE(std::equal(rootsBefore.begin(), rootsBefore.end(), m.RootGroups().begin()));
    EXPECT_NE(m.GetFeedSource(ownId), nullptr) << "what the user had stays";
    EXPECT_EQ(test::ReadFile(file), bytes) << "the file is only read";
    const LibraryFlushReport flushed = sync.FlushAndWait();
    EXPECT_FALSE(flushed.failure.has_value());
  }
  CLibrary library;
  ASSERT_TRUE(library.Open(libraryPath).opened);
  CFeedsManager stored;
  ASSERT_TRUE(library.Load(stored).ok);
  ASSERT_EQ(stored.RootGroups().size(), rootsBefore.size() + original.RootGroups().size() - 1);
  for (size_t i = 1; i < original.RootGroups().size(); ++i) {
    ExpectSameGroup(original, *original.GetGroup(original.RootGroups()[i]), stored,
                    *stored.GetGroup(stored.RootGroups()[rootsBefore.size() + i - 1]));
  }
  // The user's root holds what the file's root held, after its own.
  const CGroup& fileRoot = *original.GetGroup(original.RootGroups()[0]);
  const CGroup& userRoot = *stored.GetGroup(stored.RootGroups()[0]);
  ASSERT_EQ(fileRoot.m_name, kAllSourcesName);
  CGroup fileSide, userSide;
  fileSide.m_name = userSide.m_name = u"compared";
  fileSide.m_expanded = userSide.m_expanded = true;
  fileSide.m_childGroups = fileRoot.m_childGroups;
  fileSide.m_sources = fileRoot.m_sources;
  userSide.m_childGroups = userRoot.m_childGroups;
  for (ObjectId id : userRoot.m_sources) {
    const CFeedSource* own = stored.GetFeedSource(id);
    if (own != nullptr && own->m_url != u"https://mine.example/feed") userSide.m_sources.push_back(id);
  }
  ExpectSameGroup(original, fileSide, stored, userSide);
  const FeedCounts all = stored.Counts(0);
  int unread = 0, read = 0;
  original.CountFeeds(0, unread, read);
  EXPECT_EQ(all.unread, unread);
  EXPECT_EQ(all.read, read);
}

TEST(DataFileImportTest, SourcesAlreadySubscribedAreLeftOut) {
  TempDir dir;
  CFeedsManager original;
  test::BuildSampleModel(original, 10);
  const std::string file = dir.File("Feeds");
  ASSERT_TRUE(SaveDataFile(original, file).ok);
  IdList sources;
  original.CollectSources(0, sources);
  const CFeedSource& taken = *original.GetFeedSource(sources.front());
  ASSERT_FALSE(taken.m_url.empty());

  CFeedsManager m;
  m.FixUpAfterLoad();
  m.AddSource(m.RootGroups()[0], taken.m_url);
  const DataFileImportResult result = ImportDataFileInto(m, file);
  ASSERT_TRUE(result.imported);
  EXPECT_EQ(result.skippedSources, 1u);
  EXPECT_EQ(result.sources, sources.size() - 1);
  IdList now;
  m.CollectSources(0, now);
  EXPECT_EQ(now.size(), sources.size()) << "the file's other sources and the one already there";
  EXPECT_NE(result.Summary(file).find(u"already subscribe"), std::u16string::npos);

  // The same file again: everything is there already, so nothing comes in,
  // not even empty groups.
  const size_t roots = m.RootGroups().size();
  IdList groupsBefore;
  m.CollectGroups(groupsBefore);
  const DataFileImportResult again = ImportDataFileInto(m, file);
  ASSERT_TRUE(again.imported);
  EXPECT_EQ(again.sources, 0u);
  EXPECT_EQ(again.skippedSources, sources.size());
  EXPECT_EQ(again.groups, 0u);
  EXPECT_EQ(m.RootGroups().size(), roots);
  IdList groupsAfter;
  m.CollectGroups(groupsAfter);
  EXPECT_EQ(groupsAfter, groupsBefore);
}

TEST(DataFileImportTest, ABadFileImportsNothingAndSaysWhy) {
  TempDir dir;
  CFeedsManager original;
  test::BuildSampleModel(original, 10);
  const std::string good = dir.File("Feeds");
  ASSERT_TRUE(SaveDataFile(original, good).ok);
  const std::string bytes = test::ReadFile(good);
  std::string newer = bytes;
  newer[0] = 2;  // the manager's record from a later version
  struct Case {
    const char* name;
    std::string bytes;
    bool write;
    const char16_t* why;
  } cases[] = {
      {"cut short", bytes.substr(0, bytes.size() / 2), true, u"damaged"},
      {"newer", newer, true, u"newer version"},
      {"absent", "", false, u"could not be opened"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.File(std::string("bad-") + c.name);
    if (c.write) test::WriteFile(path, c.bytes);
    CFeedsManager m;
    m.FixUpAfterLoad();
    m.AddSource(m.RootGroups()[0], u"https://mine.example/feed");
    const uint64_t changes = m.ChangeCount();
    Recorder recorder;
    m.AddObserver(&recorder);
    const DataFileImportResult result = ImportDataFileInto(m, path);
    m.RemoveObserver(&recorder);
    EXPECT_FALSE(result.imported);
    EXPECT_EQ(m.ChangeCount(), changes);
    EXPECT_TRUE(recorder.changes.empty());
    EXPECT_EQ(m.RootGroups().size(), 1u);
    const std::u16string summary = result.Summary(path);
    EXPECT_NE(summary.find(c.why), std::u16string::npos);
    EXPECT_NE(summary.find(u"unchanged"), std::u16string::npos);
    if (c.write) {
      EXPECT_EQ(test::ReadFile(path), c.bytes) << "the file is only read";
    }
  }
}

}  // namespace
}  // namespace qb
