// The program itself killed at random moments while it imports the data
// file and writes the library: the library is either not there yet (the
// import is made under another name and renamed when complete) or opens,
// passes PRAGMA integrity_check and holds the whole data file.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <random>

#include "classic/DataFile.h"
#include "library/Library.h"
#include "library/Sqlite.h"
#include "model/FeedsManager.h"
#include "tests/support/SampleModel.h"
#include "tests/support/TempDir.h"

namespace qb {
namespace {

size_t SourceCount(const CFeedsManager& m) {
  IdList sources;
  m.CollectSources(0, sources);
  return sources.size();
}

TEST(KilledWindowTest, EveryKillLeavesNoLibraryOrAWholeOne) {
  const QString program = QCoreApplication::applicationDirPath() + QStringLiteral("/quillbend");
  if (!QFileInfo::exists(program)) GTEST_SKIP() << "the program is not built beside the tests";
  CFeedsManager sample;
  test::BuildSampleModel(sample, 200000);
  std::mt19937 random(20261209);
  int whole = 0;
  for (int round = 0; round < 6; ++round) {
    SCOPED_TRACE(round);
    QTemporaryDir home;
    const QString folder = home.path() + QStringLiteral("/data/Velmorant/Quillbend");
    ASSERT_TRUE(QDir().mkpath(folder));
    ASSERT_TRUE(QDir().mkpath(home.path() + QStringLiteral("/run")));
    QFile::setPermissions(home.path() + QStringLiteral("/run"), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                                  QFileDevice::ExeOwner);
    const std::string dataFile = (folder + QStringLiteral("/Feeds")).toStdString();
    ASSERT_TRUE(SaveDataFile(sample, dataFile).ok);

    QProcess window;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_DATA_HOME"), home.path() + QStringLiteral("/data"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path() + QStringLiteral("/config"));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), home.path() + QStringLiteral("/cache"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home.path() + QStringLiteral("/run"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    window.setProcessEnvironment(env);
    window.start(program, {});
    ASSERT_TRUE(window.waitForStarted(10000));
    // From the first moments (the import) to well after the first writes;
    // the last round surely after the import.
    const int delay = round == 5 ? 5000 : std::uniform_int_distribution<int>(20, 2500)(random);
    window.waitForFinished(delay);
    window.kill();
    ASSERT_TRUE(window.waitForFinished(10000));

    const std::string path = (folder + QStringLiteral("/Library.sqlite")).toStdString();
    if (!QFileInfo::exists(QString::fromStdString(path))) continue;
    {
      CSqliteDb db;
      db.Open(path, SQLITE_OPEN_READWRITE);
      CSqliteStatement check = db.Prepare("PRAGMA integrity_check");
      ASSERT_TRUE(check.Step());
      EXPECT_EQ(check.Text(0), "ok") << "killed after " << delay << " ms";
    }
    CLibrary library;
    const LibraryOpenOutcome out = library.Open(path);
    ASSERT_TRUE(out.opened) << "killed after " << delay << " ms";
    EXPECT_TRUE(out.keptAside.empty());
    CFeedsManager stored;
    ASSERT_TRUE(library.Load(stored).ok);
    // The data file's feeds, and perhaps the welcome source of the first run.
    EXPECT_GE(SourceCount(stored), SourceCount(sample));
    EXPECT_LE(SourceCount(stored), SourceCount(sample) + 1);
    ++whole;
  }
  EXPECT_GT(whole, 0) << "no round found a library";
  RecordProperty("libraries", whole);
}

}  // namespace
}  // namespace qb
