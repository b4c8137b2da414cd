#include "classic/DataFile.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <set>

#include "model/FeedsManager.h"
#include "model/ModelWriter.h"
#include "tests/support/ArchiveBytes.h"
#include "tests/support/FailingWriter.h"
#include "tests/support/FakeClock.h"
#include "tests/support/SampleModel.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempDir.h"

namespace qb {
namespace {

namespace fs = std::filesystem;
using test::TempDir;
using test::ScopedEnv;


unsigned Mode(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
  return st.st_mode & 0777;
}

std::vector<std::string> Names(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

TEST(DataFileTest, PathFollowsXdgDataHomeAndCreatesAPrivateFolder) {
  TempDir tmp;
  {
    ScopedEnv xdg("XDG_DATA_HOME", (tmp.path() + "/xdg/").c_str());
    EXPECT_EQ(GetDataFilePath(), tmp.path() + "/xdg/Velmorant/Quillbend/Feeds");
    EXPECT_EQ(Mode(tmp.path() + "/xdg/Velmorant/Quillbend"), 0700u);
    EXPECT_EQ(Mode(tmp.path() + "/xdg/Velmorant"), 0700u);
  }
  {
    // A relative XDG_DATA_HOME is ignored, as the convention says.
    ScopedEnv xdg("XDG_DATA_HOME", "relative/dir");
    ScopedEnv home("HOME", (tmp.path() + "/home").c_str());
    EXPECT_EQ(GetDataFilePath(), tmp.path() + "/home/.local/share/Velmorant/Quillbend/Feeds");
    EXPECT_TRUE(fs::is_directory(tmp.path() + "/home/.local/share/Velmorant/Quillbend"));
  }
}

TEST(DataFileTest, MissingOrEmptyFileGivesOneRootGroupAndNoMessage) {
  TempDir tmp;
  CFeedsManager m;
  LoadOutcome out = LoadDataFile(m, tmp.File("Feeds"));
  EXPECT_TRUE(out.fileAbsent);
  EXPECT_TRUE(out.ok());
  EXPECT_TRUE(out.message.empty());
  ASSERT_EQ(m.RootGroups().size(), 1u);
  EXPECT_EQ(m.GetGroup(m.RootGroups()[0])->m_name, u"All Sources");

  test::WriteFile(tmp.File("Feeds"), "");
  CFeedsManager e;
  out = LoadDataFile(e, tmp.File("Feeds"));
  EXPECT_EQ(out.status, LoadStatus::EndOfFile);
  EXPECT_FALSE(out.fileAbsent);
  EXPECT_TRUE(out.fileEmpty);
  EXPECT_TRUE(out.complete()) << "an empty file holds nothing the model lacks";
  EXPECT_TRUE(out.message.empty());
  EXPECT_TRUE(out.detail.empty());
  EXPECT_EQ(out.keptAside, KeptAside::None);
  EXPECT_TRUE(out.preservedCopy.empty()) << "an empty file holds nothing to keep";
  EXPECT_EQ(UnreadableFileNote(out, tmp.File("Feeds")), "");
  EXPECT_EQ(e.RootGroups().size(), 1u);
  EXPECT_EQ(Names(tmp.path()), std::vector<std::string>{"Feeds"});
  // The next save replaces it.
  ASSERT_TRUE(SaveDataFile(e, tmp.File("Feeds")).ok);
  EXPECT_EQ(test::ReadFile(tmp.File("Feeds")), SaveToBytes(e));
}

TEST(DataFileTest, SaveAndLoadThroughTheFile) {
  TempDir tmp;
  const std::string path = tmp.File("Feeds");
  CFeedsManager m;
  test::BuildSampleModel(m);
  ASSERT_TRUE(SaveDataFile(m, path).ok);
  EXPECT_EQ(Mode(path), 0600u);
  EXPECT_EQ(Names(tmp.path()), std::vector<std::string>{"Feeds"});
  EXPECT_TRUE(test::ReadFile(path) == SaveToBytes(m));

  CFeedsManager loaded;
  const LoadOutcome out = LoadDataFile(loaded, path);
  EXPECT_TRUE(out.ok());
  EXPECT_TRUE(out.preservedCopy.empty());
  test::ExpectSameModel(m, loaded);

  // Saving again replaces the file whole.
  CModelWriter(loaded).Group(loaded.RootGroups()[0])->m_name = u"Renamed";
  ASSERT_TRUE(SaveDataFile(loaded, path).ok);
  EXPECT_TRUE(test::ReadFile(path) == SaveToBytes(loaded));
  EXPECT_EQ(Names(tmp.path()), std::vector<std::string>{"Feeds"});
}

TEST(DataFileTest, UnreadableFilesAreKeptAsideWithTheirMessages) {
  // A file whose only record is a source of version 8, one with a misnamed
  // store, and one cut short.
  const std::string newer = test::ArchiveBytes().Header(2, u"CFeedsManager").str();
  const std::string corrupt =
      test::ArchiveBytes().Header(1, u"CFeedsManager").U32(0).Header(1, u"CObjectStorX").str();
  const std::string cut = corrupt.substr(0, corrupt.size() - 3);
  struct Case {
    const char* name;
    std::string bytes;
    LoadStatus status;
    std::u16string message;
  };
  const Case cases[] = {
      {"newer", newer, LoadStatus::BadSchema, kNewerVersionMessage},
      {"corrupt", corrupt, LoadStatus::BadClass, kCorruptFileMessage},
      {"cut short", cut, LoadStatus::EndOfFile, u""},
  };
  test::FakeClock clock;
  // 2026-12-08 16:42:00 in local time.
  std::tm tm{};
  tm.tm_year = 126;
  tm.tm_mon = 11;
  tm.tm_mday = 8;
  tm.tm_hour = 16;
  tm.tm_min = 42;
  tm.tm_isdst = -1;
  const int64_t when = std::mktime(&tm);
  clock.time = [when] { return when; };

  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir tmp;
    const std::string path = tmp.File("Feeds");
    test::WriteFile(path, c.bytes);

    // Only reading: nothing is copied, moved or created.
    CFeedsManager look;
    look.SetClock(clock);
    LoadOptions readOnly;
    readOnly.readOnly = true;
    const LoadOutcome seen = LoadDataFile(look, path, readOnly);
    EXPECT_EQ(seen.status, c.status);
    EXPECT_EQ(seen.message, c.message);
    EXPECT_EQ(seen.keptAside, KeptAside::None);
    EXPECT_EQ(UnreadableFileNote(seen, path), path + " could not be read whole; it is left untouched");
    EXPECT_EQ(Names(tmp.path()), std::vector<std::string>{"Feeds"});

    CFeedsManager m;
    m.SetClock(clock);
    const LoadOutcome out = LoadDataFile(m, path);
    EXPECT_EQ(out.status, c.status);
    EXPECT_EQ(out.message, c.message);
    EXPECT_FALSE(out.complete());
    EXPECT_EQ(out.keptAside, KeptAside::Copied);
    EXPECT_EQ(out.preservedCopy, path + ".unreadable-20261208-164200");
    EXPECT_EQ(UnreadableFileNote(out, path), path + " could not be read whole; it was copied to " +
                                                 out.preservedCopy + " and will be replaced by the next save");
    EXPECT_EQ(test::ReadFile(out.preservedCopy), c.bytes);
    EXPECT_EQ(test::ReadFile(path), c.bytes) << "a copy leaves the file itself in place";
    EXPECT_EQ(Mode(out.preservedCopy), 0600u);
    EXPECT_EQ(m.RootGroups().size(), 1u);

    // The next save replaces the file; the copy stays. A second failure in
    // the same second gets a name of its own.
    ASSERT_TRUE(SaveDataFile(m, path).ok);
    test::WriteFile(path, c.bytes);
    CFeedsManager again;
    again.SetClock(clock);
    EXPECT_EQ(LoadDataFile(again, path).preservedCopy, path + ".unreadable-20261208-164200-2");
    EXPECT_EQ(test::ReadFile(out.preservedCopy), c.bytes);
  }
}

TEST(DataFileTest, AFileThatCannotBePutAsideIsNeverReplacedByThatModel) {
  // A name so long that no longer name can sit beside it: neither the copy
  // nor the move can be made.
  TempDir tmp;
  const std::string path = tmp.File(std::string(240, 'F'));
  const std::string bytes = test::ArchiveBytes().Header(9, u"CFeedsManager").str();
  test::WriteFile(path, bytes);

  CFeedsManager stuck;
  const LoadOutcome out = LoadDataFile(stuck, path);
  EXPECT_EQ(out.status, LoadStatus::BadSchema);
  EXPECT_EQ(out.keptAside, KeptAside::Failed);
  EXPECT_TRUE(out.preservedCopy.empty());
  EXPECT_EQ(UnreadableFileNote(out, path),
            path + " could not be read whole nor put aside; it is left untouched and will not be replaced");
  const SaveResult refused = SaveDataFile(stuck, path);
  EXPECT_FALSE(refused.ok);
  EXPECT_FALSE(refused.error.empty());
  EXPECT_EQ(test::ReadFile(path), bytes);
  EXPECT_EQ(Names(tmp.path()), std::vector<std::string>{std::string(240, 'F')});

  // The refusal belongs to that model's load, not to the path: another model
  // saves there, and the same model, once it has read another file, too.
  CFeedsManager other;
  other.FixUpAfterLoad();
  const std::string elsewhere = tmp.File("Feeds");
  ASSERT_TRUE(SaveDataFile(other, elsewhere).ok);
  EXPECT_TRUE(LoadDataFile(stuck, elsewhere).ok());
  EXPECT_TRUE(SaveDataFile(stuck, path).ok);
}

TEST(DataFileTest, StaleTemporaryFilesOfKilledSavesAreRemovedAndNothingElse) {
  TempDir tmp;
  const std::string path = tmp.File("Feeds");
  CFeedsManager m;
  test::BuildSampleModel(m);
  ASSERT_TRUE(SaveDataFile(m, path).ok);
  const std::vector<std::string> untouched = {
      "Feeds",
      "Feeds.saving-ABC12",       // too short for a temporary name
      "Feeds.saving-ABC1234",     // too long
      "Feeds.saving-AB_123",      // not letters and digits
      "Feeds.unreadable-20261208-164200",
      "Other.saving-AbC123",      // another file's
      "Feeds.saving-Dir123",      // a folder
      "Feeds.saving-Lnk123",      // a link to a file elsewhere
      "Feeds.saving-Live12",      // a save in progress holds its lock
  };
  for (const std::string& name : untouched) {
    if (name == "Feeds" || name == "Feeds.saving-Dir123" || name == "Feeds.saving-Lnk123") continue;
    test::WriteFile(tmp.File(name), "keep");
  }
  fs::create_directory(tmp.File("Feeds.saving-Dir123"));
  TempDir elsewhere;
  test::WriteFile(elsewhere.File("target"), "keep");
  fs::create_symlink(elsewhere.File("target"), tmp.File("Feeds.saving-Lnk123"));
  const int live = ::open(tmp.File("Feeds.saving-Live12").c_str(), O_RDONLY);
  ASSERT_GE(live, 0);
  ASSERT_EQ(::flock(live, LOCK_EX), 0);

  const auto makeStale = [&] {
    for (const char* name : {"Feeds.saving-a1B2c3", "Feeds.saving-ZZZZZZ"}) test::WriteFile(tmp.File(name), "stale");
  };
  auto expected = untouched;
  std::sort(expected.begin(), expected.end());

  // An inspection leaves them; a load for a save removes the stale ones.
  makeStale();
  LoadOptions readOnly;
  readOnly.readOnly = true;
  CFeedsManager a;
  ASSERT_TRUE(LoadDataFile(a, path, readOnly).ok());
  EXPECT_EQ(Names(tmp.path()).size(), expected.size() + 2);
  CFeedsManager b;
  ASSERT_TRUE(LoadDataFile(b, path).ok());
  EXPECT_EQ(Names(tmp.path()), expected);

  // So does every save, and it removes no file of its own.
  makeStale();
  ASSERT_TRUE(SaveDataFile(b, path).ok);
  EXPECT_EQ(Names(tmp.path()), expected);
  EXPECT_EQ(test::ReadFile(elsewhere.File("target")), "keep");
  EXPECT_EQ(test::ReadFile(tmp.File("Feeds.saving-Live12")), "keep");

  // Once its writer is gone, the last one goes as well.
  ::close(live);
  EXPECT_EQ(RemoveStaleSaves(path), 1);
  EXPECT_FALSE(fs::exists(tmp.File("Feeds.saving-Live12")));
}

TEST(DataFileTest, ASaveInProgressIsNotTakenForAStaleOne) {
  TempDir tmp;
  const std::string path = tmp.File("Feeds");
  CFeedsManager m;
  test::BuildSampleModel(m);
  // As the save starts writing, another process cleans the folder.
  class Cleaning : public IArchiveWriter {
   public:
    Cleaning(std::unique_ptr<IArchiveWriter> inner, std::string path, int& removed)
        : m_inner(std::move(inner)), m_path(std::move(path)), m_removed(removed) {}
    bool Write(const void* data, size_t size) override {
      if (m_removed < 0) m_removed = RemoveStaleSaves(m_path);
      return m_inner->Write(data, size);
    }

   private:
    std::unique_ptr<IArchiveWriter> m_inner;
    std::string m_path;
    int& m_removed;
  };
  int removed = -1;
  const SaveResult result = SaveDataFile(m, path, [&](std::unique_ptr<IArchiveWriter> file) {
    return std::make_unique<Cleaning>(std::move(file), path, removed);
  });
  ASSERT_TRUE(result.ok) << result.error;
  EXPECT_EQ(removed, 0);
  EXPECT_TRUE(test::ReadFile(path) == SaveToBytes(m));
}

TEST(DataFileTest, FileThatCannotBeOpenedIsMovedAside) {
  if (::geteuid() == 0) GTEST_SKIP() << "permissions do not apply to root";
  TempDir tmp;
  const std::string path = tmp.File("Feeds");
  test::WriteFile(path, "precious");
  ::chmod(path.c_str(), 0);
  CFeedsManager m;
  const LoadOutcome out = LoadDataFile(m, path);
  EXPECT_TRUE(out.openFailed);
  EXPECT_FALSE(out.preservedCopy.empty());
  EXPECT_FALSE(fs::exists(path));
  ::chmod(out.preservedCopy.c_str(), 0600);
  EXPECT_EQ(test::ReadFile(out.preservedCopy), "precious");
}

TEST(DataFileTest, InterruptedSaveLeavesTheOldFileAsItWas) {
  TempDir tmp;
  const std::string path = tmp.File("Feeds");
  CFeedsManager old;
  test::BuildSampleModel(old);
  ASSERT_TRUE(SaveDataFile(old, path).ok);
  const std::string oldBytes = test::ReadFile(path);

  CFeedsManager changed;
  test::BuildSampleModel(changed);
  CModelWriter(changed).Group(changed.RootGroups()[0])->m_name = u"changed";
  const size_t full = SaveToBytes(changed).size();
  for (size_t failAfter : {size_t{0}, size_t{1}, size_t{4095}, size_t{4096}, size_t{4097},
                           full / 2, full - 1}) {
    SCOPED_TRACE(failAfter);
    const SaveResult result =
        SaveDataFile(changed, path, [failAfter](std::unique_ptr<IArchiveWriter> file) {
          return std::make_unique<test::FailingWriter>(std::move(file), failAfter);
        });
    EXPECT_FALSE(result.ok);
    EXPECT_FALSE(result.error.empty());
    EXPECT_TRUE(test::ReadFile(path) == oldBytes);
    EXPECT_EQ(Names(tmp.path()), std::vector<std::string>{"Feeds"}) << "no half-written file";
    CFeedsManager reloaded;
    EXPECT_TRUE(LoadDataFile(reloaded, path).ok());
    test::ExpectSameModel(old, reloaded);
  }
  // A writer that lets everything through changes nothing about the result.
  EXPECT_TRUE(SaveDataFile(changed, path, [full](std::unique_ptr<IArchiveWriter> file) {
                return std::make_unique<test::FailingWriter>(std::move(file), full);
              }).ok);
  EXPECT_TRUE(test::ReadFile(path) == SaveToBytes(changed));
}

TEST(DataFileTest, SaveIntoAMissingFolderFailsAndSaysSo) {
  TempDir tmp;
  CFeedsManager m;
  m.FixUpAfterLoad();
  const SaveResult result = SaveDataFile(m, tmp.File("no/such/Feeds"));
  EXPECT_FALSE(result);
  EXPECT_FALSE(result.error.empty());
}

TEST(DataFileTest, SaveThroughALinkReplacesTheFileItNames) {
  TempDir tmp;
  fs::create_directory(tmp.File("real"));
  test::WriteFile(tmp.File("real/Feeds"), "old");
  fs::create_symlink(tmp.File("real/Feeds"), tmp.File("Feeds"));
  CFeedsManager m;
  m.FixUpAfterLoad();
  ASSERT_TRUE(SaveDataFile(m, tmp.File("Feeds")).ok);
  EXPECT_TRUE(fs::is_symlink(tmp.File("Feeds")));
  EXPECT_EQ(test::ReadFile(tmp.File("real/Feeds")), SaveToBytes(m));
}

TEST(DataFileTest, FailedLoadKeepsWhatWasReadWholeAndNothingDangling) {
  TempDir tmp;
  CFeedsManager original;
  test::BuildSampleModel(original);
  const std::string bytes = SaveToBytes(original);
  const std::string path = tmp.File("Feeds");
  test::WriteFile(path, bytes.substr(0, bytes.size() * 2 / 3));
  CFeedsManager m;
  const LoadOutcome out = LoadDataFile(m, path);
  EXPECT_EQ(out.status, LoadStatus::EndOfFile);
  EXPECT_GT(m.Storage().Size(), 0u);
  EXPECT_LT(m.Storage().Size(), original.Storage().Size());
  for (ObjectId id : m.RootGroups()) EXPECT_NE(m.GetGroup(id), nullptr);
  for (const auto& [id, record] : m.Storage().IdIndex()) {
    if (const CFeedSource* s = m.GetFeedSource(id)) {
      for (ObjectId a : s->m_articles) EXPECT_NE(m.GetFeed(a), nullptr);
    }
  }
}

TEST(DataFileTest, GroupCyclesOfADamagedFileAreBroken) {
  // Root 1 holds 2 and itself; 2 holds 3 and 1; 3 holds 2; 4 is reached twice.
  CFeedsManager m;
  const std::pair<ObjectId, IdList> groups[] = {{1, {2, 1, 4}}, {2, {3, 1, 4}}, {3, {2}}, {4, {}}};
  for (const auto& [id, children] : groups) {
    auto g = std::make_unique<CGroup>();
    g->m_id = id;
    g->m_childGroups = children;
    CModelWriter(m).Storage().Register(std::move(g), id);
  }
  CModelWriter(m).RootGroups() = {1, 2};
  TempDir tmp;
  ASSERT_TRUE(SaveDataFile(m, tmp.File("Feeds")).ok);

  CFeedsManager loaded;
  EXPECT_TRUE(LoadDataFile(loaded, tmp.File("Feeds")).ok());
  EXPECT_EQ(loaded.GetGroup(1)->m_childGroups, (IdList{2, 4}));
  EXPECT_EQ(loaded.GetGroup(2)->m_childGroups, (IdList{3, 4}));
  EXPECT_TRUE(loaded.GetGroup(3)->m_childGroups.empty());
  IdList all;
  loaded.CollectGroups(all);  // ends
  EXPECT_EQ(std::set<ObjectId>(all.begin(), all.end()), (std::set<ObjectId>{1, 2, 3, 4}));
}

}  // namespace
}  // namespace qb
