// Snapshots of the model, the background saver, and the change counter the
// command-line tool decides with.
#include "model/Snapshot.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>

#include "model/BackgroundSaver.h"
#include "model/DataFile.h"
#include "model/Feed.h"
#include "tests/support/FailingWriter.h"
#include "tests/support/SampleModel.h"
#include "tests/support/TempDir.h"

namespace qb {
namespace {

TEST(SnapshotTest, ACopyThatSavesAsTheModelAndSharesItsTexts) {
  CFeedsManager m;
  test::BuildSampleModel(m);
  const std::string bytes = SaveToBytes(m);
  const CModelSnapshot snapshot = CModelSnapshot::Take(m);
  EXPECT_EQ(SaveToBytes(snapshot.Model()), bytes);
  EXPECT_EQ(snapshot.ChangeCount(), m.ChangeCount());

  IdList articles;
  m.CollectFeeds(0, articles);
  ASSERT_FALSE(articles.empty());
  for (ObjectId id : articles) {
    const CFeed* live = m.GetFeed(id);
    const CFeed* copy = snapshot.Model().GetFeed(id);
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(copy, live);
    if (!live->m_sourceText.empty()) {
      EXPECT_TRUE(copy->m_sourceText.SharesWith(live->m_sourceText));
    }
  }

  // Later changes to the model leave the snapshot as it was.
  m.MarkRead(articles, true);
  m.DeleteArticles({articles.front()});
  m.Rename(m.m_rootGroups.front(), u"Renamed");
  EXPECT_NE(SaveToBytes(m), bytes);
  EXPECT_EQ(SaveToBytes(snapshot.Model()), bytes);
}

// A writer that holds the save at its first write until released, and
// counts the saves writing at once.
class Gate {
 public:
  WriterWrapper Wrapper() {
    return [this](std::unique_ptr<IArchiveWriter> file) -> std::unique_ptr<IArchiveWriter> {
      return std::make_unique<Writer>(*this, std::move(file));
    };
  }
  void WaitUntilHeld() {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_cv.wait(lock, [&] { return m_held; });
  }
  void Release() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_open = true;
    m_cv.notify_all();
  }
  int MostAtOnce() const { return m_most; }

 private:
  class Writer : public IArchiveWriter {
   public:
    Writer(Gate& gate, std::unique_ptr<IArchiveWriter> inner) : m_gate(gate), m_inner(std::move(inner)) {
      const int now = ++m_gate.m_writing;
      if (now > m_gate.m_most) m_gate.m_most = now;
    }
    ~Writer() override { --m_gate.m_writing; }
    bool Write(const void* data, size_t size) override {
      std::unique_lock<std::mutex> lock(m_gate.m_mutex);
      m_gate.m_held = true;
      m_gate.m_cv.notify_all();
      m_gate.m_cv.wait(lock, [&] { return m_gate.m_open; });
      lock.unlock();
      return m_inner->Write(data, size);
    }

   private:
    Gate& m_gate;
    std::unique_ptr<IArchiveWriter> m_inner;
  };

  std::mutex m_mutex;
  std::condition_variable m_cv;
  bool m_held = false;
  bool m_open = false;
  std::atomic<int> m_writing{0};
  std::atomic<int> m_most{0};
};

TEST(BackgroundSaverTest, AChangeMadeDuringASaveIsInTheNextOne) {
  test::TempDir dir;
  const std::string path = dir.File("Feeds");
  CFeedsManager m;
  test::BuildSampleModel(m);
  Gate gate;
  CBackgroundSaver saver(path, gate.Wrapper());
  std::atomic<int> done{0};
  saver.Save(m, [&](const SaveResult& r) { done += r.ok; });
  gate.WaitUntilHeld();
  EXPECT_FALSE(saver.Idle());

  // Changes while the first save is on the disk; each asks for a save.
  const std::string first = SaveToBytes(m);
  m.Rename(m.m_rootGroups.front(), u"Changed during the save");
  saver.Save(m, [&](const SaveResult& r) { done += r.ok; });
  m.AddGroup(0, u"Later still");
  saver.Save(m, [&](const SaveResult& r) { done += r.ok; });
  const uint64_t last = m.ChangeCount();
  gate.Release();
  saver.Wait();

  EXPECT_TRUE(saver.Idle());
  EXPECT_EQ(done, 2) << "the middle snapshot was replaced by the newer one before it started";
  EXPECT_EQ(gate.MostAtOnce(), 1) << "saves never overlap";
  EXPECT_EQ(saver.SavedChangeCount(), last);
  const std::string written = test::ReadFile(path);
  EXPECT_NE(written, first);
  EXPECT_TRUE(written == SaveToBytes(m));
}

TEST(BackgroundSaverTest, ASnapshotTakenMidWayLoadsAsThatSnapshot) {
  test::TempDir dir;
  const std::string path = dir.File("Feeds");
  CFeedsManager m;
  test::BuildSampleModel(m);
  const CModelSnapshot snapshot = CModelSnapshot::Take(m);
  // The model goes on changing while the snapshot is written.
  CFeed* a = m.NewFeed();
  a->m_title = u"Arrived after the snapshot";
  IdList sources;
  m.CollectSources(0, sources);
  m.GetFeedSource(sources.front())->m_articles.push_back(a->m_id);
  {
    CBackgroundSaver saver(path);
    saver.Save(snapshot);
  }  // the destructor writes what it was handed
  CFeedsManager loaded;
  ASSERT_TRUE(LoadDataFile(loaded, path).ok());
  EXPECT_TRUE(SaveToBytes(loaded) == SaveToBytes(snapshot.Model()));
  EXPECT_EQ(loaded.GetFeed(a->m_id), nullptr);
}

TEST(BackgroundSaverTest, AFailedWriteLeavesTheOldFile) {
  test::TempDir dir;
  const std::string path = dir.File("Feeds");
  CFeedsManager m;
  test::BuildSampleModel(m);
  ASSERT_TRUE(SaveDataFile(m, path));
  const std::string old = test::ReadFile(path);
  m.Rename(m.m_rootGroups.front(), u"Never written");

  for (size_t failAfter : {size_t{0}, size_t{100}, old.size() / 2}) {
    SCOPED_TRACE(failAfter);
    CBackgroundSaver saver(path, [failAfter](std::unique_ptr<IArchiveWriter> file) {
      return std::make_unique<test::FailingWriter>(std::move(file), failAfter);
    });
    bool seenOk = true;
    saver.Save(m, [&](const SaveResult& r) { seenOk = r.ok; });
    saver.Wait();
    EXPECT_FALSE(seenOk);
    EXPECT_FALSE(saver.LastResult().ok);
    EXPECT_FALSE(saver.SavedChangeCount().has_value());
    EXPECT_TRUE(test::ReadFile(path) == old);
  }
}

TEST(ChangeCountTest, CommandsThatChangeTheModelCountAndOthersDoNot) {
  CFeedsManager m;
  m.SeedRandom(3);
  m.FixUpAfterLoad();
  const ObjectId root = m.m_rootGroups.front();
  const ObjectId sub = m.AddGroup(root, u"Sub")->m_id;
  const ObjectId source = m.AddSource(root, u"http://a/")->m_id;
  CFeed* article = m.NewFeed();
  m.GetFeedSource(source)->m_articles.push_back(article->m_id);
  const ObjectId articleId = article->m_id;

  struct Case {
    const char* what;
    std::function<void()> run;
    bool counts;
  };
  const Case cases[] = {
      {"a repair with a root group in place", [&] { m.FixUpAfterLoad(); }, false},
      {"a new record not yet in the tree", [&] { m.NewGroup(); }, false},
      {"the check before subscribing", [&] { m.CheckNewSourceUrl(root, u"http://b/"); }, false},
      {"a duplicate subscription", [&] { m.SubscribeSource(root, u"http://a/"); }, false},
      {"a group moved into itself", [&] { m.MoveGroup(root, sub); }, false},
      {"a rename of nothing", [&] { m.Rename(0xDEAD, u"x"); }, false},
      {"the only root group deleted", [&] { m.DeleteGroup(root); }, false},
      {"a subscription", [&] { m.SubscribeSource(sub, u"http://b/"); }, true},
      {"a rename", [&] { m.Rename(sub, u"Renamed"); }, true},
      {"a move", [&] { m.MoveSource(source, sub); }, true},
      {"marking read", [&] { m.MarkRead({articleId}, true); }, true},
      {"a new group", [&] { m.AddGroup(0, u"Second"); }, true},
      {"a group moved", [&] { m.MoveGroup(sub, 0); }, true},
      {"articles deleted", [&] { m.DeleteArticles({articleId}); }, true},
      {"a source deleted", [&] { m.DeleteSource(sub, source); }, true},
      {"a group deleted", [&] { m.DeleteGroup(sub); }, true},
  };
  for (const Case& c : cases) {
    const uint64_t before = m.ChangeCount();
    c.run();
    EXPECT_EQ(m.ChangeCount() != before, c.counts) << c.what;
  }
  CFeedsManager empty;
  empty.FixUpAfterLoad();
  EXPECT_EQ(empty.ChangeCount(), 1u) << "the repair that adds the root group counts";
}

}  // namespace
}  // namespace qb
