#include <gtest/gtest.h>

#include <QFile>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <optional>
#include <sys/stat.h>
#include <tuple>

#include "app/SettingsExport.h"
#include "app/SettingsManager.h"
#include "tests/app/AppTestSupport.h"

namespace qb {
namespace {

using test::UiTestScope;
using test::kSettings;
using test::kWindow;

TEST(SettingsManagerTest, EmptyFileReadsAllTrueAndWritesOnes) {
  UiTestScope scope;
  CRSSReaderSettingsManager settings;
  settings.LoadSave(true);
  for (const QString& name : {setting::kMinimizeToSysTray, setting::kCloseToSysTray,
                              setting::kConfirmExit, setting::kFirstRun}) {
    const SettingValue& v = settings.m_settings.Get(name);
    EXPECT_TRUE(v.bValue) << name.toStdString();
    EXPECT_EQ(v.nValue, 1);
    EXPECT_EQ(v.strValue, QStringLiteral("1"));
    EXPECT_EQ(v.strName, name);
    // Reading writes nothing.
    EXPECT_FALSE(UiTestScope::Stored(kSettings, name).isValid());
  }
  settings.m_settings.WriteBool(setting::kFirstRun, false);
  settings.LoadSave(false);
  EXPECT_EQ(UiTestScope::Stored(kSettings, setting::kMinimizeToSysTray).toInt(), 1);
  EXPECT_EQ(UiTestScope::Stored(kSettings, setting::kCloseToSysTray).toInt(), 1);
  EXPECT_EQ(UiTestScope::Stored(kSettings, setting::kConfirmExit).toInt(), 1);
  EXPECT_EQ(UiTestScope::Stored(kSettings, setting::kFirstRun).toInt(), 0);
}

TEST(SettingsManagerTest, StoredValuesAreNormalisedOrKept) {
  struct Case {
    QVariant stored;
    bool boolRead;      // read as boolean with default true
    int32_t intRead;    // read as integer with default 7
  };
  const Case cases[] = {
      {5, true, 5},
      {0, false, 0},
      {-1000, true, -1000},
      {QStringLiteral("4294967295"), true, -1},  // a dword written by another tool
      {QStringLiteral("abc"), true, 7},           // not an integer: the default
      {QVariant(), true, 7},                      // absent: the default
  };
  for (const Case& c : cases) {
    UiTestScope scope;
    if (c.stored.isValid()) UiTestScope::Store(kWindow, QStringLiteral("V"), c.stored);
    SettingsSection section(kWindow);
    EXPECT_EQ(section.ReadBool(QStringLiteral("V"), true), c.boolRead) << c.stored.toString().toStdString();
    EXPECT_EQ(section.Get(QStringLiteral("V")).nValue, c.boolRead ? 1 : 0);
    EXPECT_EQ(section.ReadInt(QStringLiteral("V"), 7), c.intRead) << c.stored.toString().toStdString();
    const SettingValue& v = section.Get(QStringLiteral("V"));
    EXPECT_EQ(v.bValue, c.intRead != 0);
    EXPECT_EQ(v.strValue, QString::number(c.intRead));
  }
}

TEST(SettingsManagerTest, AStoredFiveIsWrittenBackAsOne) {
  UiTestScope scope;
  UiTestScope::Store(kSettings, setting::kMinimizeToSysTray, 5);
  CRSSReaderSettingsManager settings;
  settings.LoadSave(true);
  EXPECT_TRUE(settings.Setting(setting::kMinimizeToSysTray));
  settings.LoadSave(false);
  EXPECT_EQ(UiTestScope::Stored(kSettings, setting::kMinimizeToSysTray).toInt(), 1);
}

TEST(SettingsManagerTest, LookupInsertsDefaultRecordAndWritesSetAllForms) {
  UiTestScope scope;
  SettingsSection section(kWindow);
  EXPECT_FALSE(section.Contains(QStringLiteral("X")));
  const SettingValue& fresh = section.Get(QStringLiteral("X"));
  EXPECT_FALSE(fresh.bValue);
  EXPECT_EQ(fresh.nValue, 0);
  EXPECT_TRUE(fresh.strValue.isEmpty());
  EXPECT_TRUE(section.Contains(QStringLiteral("X")));
  section.WriteInt(QStringLiteral("X"), -3);
  EXPECT_TRUE(section.Get(QStringLiteral("X")).bValue);
  EXPECT_EQ(section.Get(QStringLiteral("X")).strValue, QStringLiteral("-3"));
  EXPECT_EQ(UiTestScope::Stored(kWindow, QStringLiteral("X")).toInt(), -3);
  section.WriteBool(QStringLiteral("X"), true);
  EXPECT_EQ(section.Get(QStringLiteral("X")).nValue, 1);
  EXPECT_EQ(UiTestScope::Stored(kWindow, QStringLiteral("X")).toInt(), 1);
}

// The stored number as read, what is written back, and who is told.
TEST(SettingsManagerTest, AppearanceReadsSystemUnlessAChoiceIsStored) {
  struct Case {
    QVariant stored;
    Appearance read;
  };
  const Case cases[] = {
      {QVariant(), Appearance::System},  {0, Appearance::System},
      {1, Appearance::Light},            {2, Appearance::Dark},
      {3, Appearance::System},           {-1, Appearance::System},
      {QStringLiteral("dark"), Appearance::System},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.stored.toString().toStdString());
    UiTestScope scope;
    if (c.stored.isValid()) UiTestScope::Store(kSettings, setting::kAppearance, c.stored);
    EXPECT_EQ(StoredAppearance(), c.read);
    CRSSReaderSettingsManager settings;
    std::vector<Appearance> told;
    settings.m_applyAppearance = [&told](Appearance a) { told.push_back(a); };
    settings.LoadSave(true);
    EXPECT_EQ(settings.GetAppearance(), c.read);
    settings.LoadSave(false);
    EXPECT_EQ(UiTestScope::Stored(kSettings, setting::kAppearance).toInt(), static_cast<int>(c.read));
    EXPECT_EQ(told, (std::vector<Appearance>{c.read, c.read}));
  }
}

// Moving around the window changes a dozen placement values at once: the
// file is written once for them, on the next turn, and not at all for
// values it already holds; only its owner can read it.
TEST(SettingsManagerTest, OneWriteForATurnsChangesNoneForUnchangedValuesAndOnlyTheOwnerReads) {
  UiTestScope scope;
  const QString path = UiTestScope::SettingsFilePath();
  QFile::remove(path);
  const auto stamp = [&] {
    struct stat st {};
    EXPECT_EQ(stat(path.toLocal8Bit().constData(), &st), 0);
    return std::make_tuple(st.st_ino, st.st_mtim.tv_sec, st.st_mtim.tv_nsec, st.st_mode & 0777);
  };
  SettingsSection window(kWindow);
  const auto writeAll = [&](int base) {
    for (int i = 0; i < 12; ++i) window.WriteInt(QStringLiteral("Value%1").arg(i), base + i);
  };
  writeAll(100);
  QCoreApplication::processEvents();
  const auto first = stamp();
  EXPECT_EQ(std::get<3>(first), 0600u);
  EXPECT_EQ(UiTestScope::Stored(kWindow, QStringLiteral("Value11")).toInt(), 111);

  writeAll(200);
  EXPECT_EQ(stamp(), first) << "written before the turn ended";
  EXPECT_EQ(window.ReadInt(QStringLiteral("Value5"), 0), 205) << "what waits is read back";
  QCoreApplication::processEvents();
  const auto second = stamp();
  EXPECT_NE(std::get<0>(second), std::get<0>(first));
  EXPECT_EQ(std::get<3>(second), 0600u);
  EXPECT_EQ(UiTestScope::Stored(kWindow, QStringLiteral("Value0")).toInt(), 200);

  writeAll(200);
  QCoreApplication::processEvents();
  EXPECT_EQ(stamp(), second) << "unchanged values were written again";
}

TEST(SettingsManagerTest, AppearanceRoundTripAndExport) {
  UiTestScope scope;
  QTemporaryDir dir;
  const auto exported = [&](const CRSSReaderSettingsManager& inUse) -> std::optional<int32_t> {
    const QString path = dir.filePath(QStringLiteral("settings.reg"));
    EXPECT_TRUE(ExportSettings(path, &inUse));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    QStringDecoder decoder(QStringConverter::Utf16);
    QString text = decoder(file.readAll());
    const auto values = ParseSettingsFile(text.remove(QChar(0xFEFF)));
    if (!values) return std::nullopt;
    for (const ExportedValue& v : *values)
      if (v.section == kSettings && v.name == setting::kAppearance) return v.value;
    return std::nullopt;
  };
  CRSSReaderSettingsManager settings;
  settings.LoadSave(true);
  // Never chosen, nothing stored: the export still carries the default.
  ASSERT_FALSE(UiTestScope::Stored(kSettings, setting::kAppearance).isValid());
  EXPECT_EQ(exported(settings), std::optional<int32_t>(0));
  for (Appearance choice : {Appearance::Dark, Appearance::Light, Appearance::System}) {
    settings.SetAppearance(choice);
    settings.LoadSave(false);
    CRSSReaderSettingsManager next;
    next.LoadSave(true);
    EXPECT_EQ(next.GetAppearance(), choice);
    EXPECT_EQ(exported(next), std::optional<int32_t>(static_cast<int32_t>(choice)));
  }
}

}  // namespace
}  // namespace qb
