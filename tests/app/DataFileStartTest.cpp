// Start-up with the real data file in a private data folder.
#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>

#include "classic/DataFile.h"
#include "model/ModelWriter.h"
#include "tests/app/AppHarness.h"
#include "tests/support/ArchiveBytes.h"
#include "tests/support/TempDir.h"

namespace qb {
namespace {

using test::AppHarness;
using test::UiTestScope;

size_t WelcomeCount(const CFeedsManager& m) {
  size_t n = 0;
  IdList sources;
  m.CollectSources(0, sources);
  for (ObjectId id : sources) {
    if (const CFeedSource* s = m.GetFeedSource(id); s != nullptr && s->m_title == u"Welcome!") ++n;
  }
  return n;
}

TEST(DataFileStartTest, TheWelcomeSourceIsSavedAndNotAddedAgain) {
  AppHarness h;
  h.realDataFile = true;
  ASSERT_TRUE(h.Start());
  EXPECT_EQ(WelcomeCount(h.Model()), 1u);
  const std::string path = h.Doc().GetDataFilePath();
  EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(path)));
  // The timed save writes it.
  h.Frame().ScheduleSave();
  h.Frame().OnTimer(FrameTimer::Save);
  EXPECT_TRUE(QFileInfo::exists(QString::fromStdString(path)));
  EXPECT_FALSE(h.Doc().LastSaveFailed());

  ASSERT_TRUE(h.Start());
  EXPECT_EQ(WelcomeCount(h.Model()), 1u);
  EXPECT_TRUE(h.scope.messages.empty());
}

TEST(DataFileStartTest, UnreadableFileShowsItsMessageOnceAndIsKept) {
  const std::string newer = test::ArchiveBytes().Header(2, u"CFeedsManager").str();
  const std::string corrupt =
      test::ArchiveBytes().Header(1, u"CFeedsManager").U32(0).Header(1, u"CObjectStorX").str();
  struct Case {
    const char* name;
    std::string bytes;
    const char16_t* message;
    MsgIcon icon;
  };
  const Case cases[] = {
      {"newer", newer, kNewerVersionMessage, MsgIcon::Warning},
      {"corrupt", corrupt, kCorruptFileMessage, MsgIcon::Critical},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    AppHarness h;
    h.realDataFile = true;
    UiTestScope::Store(QStringLiteral("Settings"), QStringLiteral("FirstRun"), 0);
    const QString folder = h.DataHome() + QStringLiteral("/Velmorant/Quillbend");
    ASSERT_TRUE(QDir().mkpath(folder));
    const std::string path = (folder + QStringLiteral("/Feeds")).toStdString();
    test::WriteFile(path, c.bytes);
    ASSERT_TRUE(h.Start());
    ASSERT_EQ(h.scope.messages.size(), 1u);
    EXPECT_EQ(h.scope.messages[0].icon, c.icon);
    EXPECT_EQ(h.scope.messages[0].text, QString::fromUtf16(c.message));
    // The program runs on with a root group, and the next save does not
    // lose the unreadable file: a copy stays beside it.
    EXPECT_EQ(h.Model().RootGroups().size(), 1u);
    h.Frame().ScheduleSave();
    h.Frame().OnTimer(FrameTimer::Save);
    const QStringList copies =
        QDir(folder).entryList({QStringLiteral("Feeds.unreadable*")}, QDir::Files);
    ASSERT_EQ(copies.size(), 1);
    EXPECT_EQ(test::ReadFile((folder + u'/' + copies[0]).toStdString()), c.bytes);
    // Shown once: nothing more while the program runs.
    h.Frame().OnTimer(FrameTimer::Tick);
    EXPECT_EQ(h.scope.messages.size(), 1u);
  }
}

}  // namespace
}  // namespace qb
