#include <gtest/gtest.h>

#include <QApplication>
#include <QToolBar>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QSettings>
#include <QSplitter>
#include <QStringDecoder>
#include <QStatusTipEvent>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include "app/Commands.h"
#include "app/SettingsExport.h"
#include "model/ModelWriter.h"
#include "tests/app/AppHarness.h"
#include "tests/support/FakeClock.h"
#include "tests/support/HttpServer.h"
#include "views/FeedListView.h"
#include "views/FeedView.h"
#include "views/SourceListView.h"
#include "views/ViewText.h"

namespace qb {
namespace {

using test::AppHarness;
using test::UiTestScope;

using test::kSettings;
using test::kWindow;

QStringList MenuTexts(const QList<QAction*>& actions) {
  QStringList texts;
  for (const QAction* a : actions) texts << (a->isSeparator() ? QStringLiteral("-") : a->text());
  return texts;
}

TEST(MainFrameTest, MenusAndPrompts) {
  AppHarness h;
  UiTestScope::Store(kSettings, QStringLiteral("FirstRun"), 0);
  ASSERT_TRUE(h.Start());
  const QList<QAction*> bar = h.Frame().menuBar()->actions();
  ASSERT_EQ(bar.size(), 4);
  EXPECT_EQ(MenuTexts(bar), (QStringList{"&File", "&View", "&Options", "&Help"}));
  EXPECT_EQ(MenuTexts(bar[0]->menu()->actions()),
            (QStringList{"&Add feed...", "&Update all feeds", "&Mark all as read", "&Filter articles...", "-",
                         QString::fromUtf16(u"Add &account\u2026"), "-", "&Import (OPML)...", "&Export (OPML)...", "-",
                         QString::fromUtf16(u"Import &data file\u2026"), QString::fromUtf16(u"Export data &file\u2026"),
                         "-", "Export &settings...", "-", "E&xit"}));
  EXPECT_EQ(bar[0]->menu()->actions()[7]->statusTip(), QStringLiteral("Import a list of feeds"));
  EXPECT_EQ(bar[0]->menu()->actions()[8]->statusTip(), QStringLiteral("Export the list of feeds"));
  EXPECT_EQ(bar[0]->menu()->actions()[10]->statusTip(), QStringLiteral("Add the feeds of a data file to the library"));
  EXPECT_EQ(bar[0]->menu()->actions()[11]->statusTip(), QStringLiteral("Write the library as a data file"));
  // The same commands on the toolbar, each with an icon, and the reader
  // view of the View menu.
  const QToolBar* toolBar = h.Frame().findChild<QToolBar*>(QStringLiteral("commands"));
  ASSERT_NE(toolBar, nullptr);
  EXPECT_EQ(MenuTexts(toolBar->actions()), MenuTexts(bar[0]->menu()->actions().mid(0, 4)) << "&Reader view");
  for (const QAction* a : toolBar->actions()) EXPECT_FALSE(a->icon().isNull()) << a->text().toStdString();
  EXPECT_EQ(MenuTexts(bar[3]->menu()->actions()),
            (QStringList{"Show &help feed", "-", "&About Quillbend..."}));
  EXPECT_EQ(MenuTexts(h.Frame().TrayMenu()->actions()), (QStringList{"&Show main window", "-", "E&xit"}));
  EXPECT_EQ(h.Frame().TrayMenu()->defaultAction(), h.Frame().TrayMenu()->actions()[0]);
  // A menu prompt shows in the message pane; leaving brings the text back.
  EXPECT_EQ(h.Frame().StatusText(), QStringLiteral("Ready"));
  QStatusTipEvent tip(QStringLiteral("Import a list of feeds"));
  QApplication::sendEvent(&h.Frame(), &tip);
  EXPECT_EQ(h.Frame().StatusText(), QStringLiteral("Import a list of feeds"));
  QStatusTipEvent none{QString()};
  QApplication::sendEvent(&h.Frame(), &none);
  EXPECT_EQ(h.Frame().StatusText(), QStringLiteral("Ready"));
}

TEST(MainFrameTest, TrayIconBlinksWhileTheNoticeIsOn) {
  AppHarness h;
  UiTestScope::Store(kSettings, QStringLiteral("FirstRun"), 0);
  ASSERT_TRUE(h.Start());
  CMainFrame& f = h.Frame();
  f.OnTimer(FrameTimer::Tick);
  EXPECT_TRUE(f.TrayIconAdded());
  EXPECT_EQ(f.TrayIconId(), 137);
  EXPECT_EQ(f.TrayTip(), QStringLiteral("Quillbend"));
  f.SetNewArticles(true);
  std::vector<int> icons;
  for (int i = 0; i < 3; ++i) {
    f.OnTimer(FrameTimer::Tick);
    icons.push_back(f.TrayIconId());
    EXPECT_EQ(f.TrayTip(), QStringLiteral("Quillbend: You have new feeds"));
  }
  EXPECT_EQ(icons, (std::vector<int>{137, 138, 137}));
  ASSERT_NE(f.TrayIcon(), nullptr);
  EXPECT_EQ(f.TrayIcon()->toolTip(), QStringLiteral("Quillbend: You have new feeds"));

  // A pane getting the focus ends the notice.
  f.OnTimer(FrameTimer::Tick);
  EXPECT_EQ(f.TrayIconId(), 138);
  f.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&f));
  if (QWidget* focused = QApplication::focusWidget()) focused->clearFocus();
  AppHarness::Pump();
  EXPECT_TRUE(f.NewArticles());
  f.SourceTree()->setFocus(Qt::MouseFocusReason);
  AppHarness::Pump();
  EXPECT_FALSE(f.NewArticles());
  f.OnTimer(FrameTimer::Tick);
  EXPECT_EQ(f.TrayIconId(), 137);
  EXPECT_EQ(f.TrayTip(), QStringLiteral("Quillbend"));
}

TEST(MainFrameTest, AutomaticUpdate) {
  struct Case {
    bool news;
    bool selectSource;
  };
  for (const Case& c : {Case{false, false}, Case{true, false}, Case{true, true}}) {
    AppHarness h;
    UiTestScope::Store(kSettings, QStringLiteral("FirstRun"), 0);
    ASSERT_TRUE(h.Start());
    CMainFrame& f = h.Frame();
    CFeedSource* source =
        CModelWriter(h.Model()).Source(h.Model().AddSource(h.Model().RootGroups()[0], u"http://n.example/")->m_id);
    source->m_commsStatus = u"Comms status: OK";
    int calls = 0;
    bool forced = true;
    // Stands in for the update cycle: reports progress and its outcome.
    h.updater.updateAll = [&](CFeedsManager&, bool force) {
      ++calls;
      forced = force;
      h.updater.Status(u"Updating...");
      EXPECT_FALSE(f.IsFrameTimerActive(FrameTimer::Update));
      return c.news;
    };
    if (c.selectSource) {
      f.SourceTree()->RefreshAll();
      if (QTreeWidgetItem* item = f.SourceTree()->FindItem(source->m_id)) {
        f.SourceTree()->setCurrentItem(item);
      } else {
        // The tree cannot show sources yet: select through a stand-in item.
        auto* stand = new QTreeWidgetItem(f.SourceTree(), QStringList{QStringLiteral("n")});
        stand->setData(0, Qt::UserRole, source->m_id);
        f.SourceTree()->setCurrentItem(stand);
      }
    }
    f.OnTimer(FrameTimer::Update);
    SCOPED_TRACE(testing::Message() << c.news << c.selectSource);
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(forced);
    EXPECT_TRUE(f.IsFrameTimerActive(FrameTimer::Update));
    EXPECT_EQ(f.TimerInterval(FrameTimer::Update), 3600 * 1000);
    EXPECT_EQ(f.NewArticles(), c.news);
    // News is a change of the model, which the store saves.
    if (c.news) {
      EXPECT_TRUE(f.IsFrameTimerActive(FrameTimer::Save));
    }
    EXPECT_EQ(f.StatusText(), c.selectSource ? QStringLiteral("Comms status: OK") : QStringLiteral("Ready"));
  }
}

TEST(MainFrameTest, ClockPaneGrowsAndShowsTheDateAloneAtMidnight) {
  AppHarness h;
  UiTestScope::Store(kSettings, QStringLiteral("FirstRun"), 0);
  ASSERT_TRUE(h.Start());
  test::FakeClock clock;
  h.Model().SetClock(clock);
  // Local midnight of some day, and a second later.
  QDateTime midnight(QDate(2024, 12, 24), QTime(0, 0, 0));
  const int64_t t0 = midnight.toSecsSinceEpoch();
  clock.time = [&] { return t0; };
  CMainFrame& f = h.Frame();
  f.OnTimer(FrameTimer::Tick);
  const QString dateOnly = f.ClockText();
  EXPECT_EQ(f.ClockPane()->text(), dateOnly);
  EXPECT_FALSE(dateOnly.contains(u':'));
  const int narrow = f.ClockPane()->minimumWidth();
  clock.time = [&] { return t0 + 1; };
  f.OnTimer(FrameTimer::Tick);
  EXPECT_TRUE(f.ClockText().startsWith(dateOnly));
  EXPECT_GT(f.ClockText().size(), dateOnly.size());
  const int wide = f.ClockPane()->minimumWidth();
  EXPECT_GT(wide, narrow);
  EXPECT_GE(wide, f.ClockPane()->fontMetrics().horizontalAdvance(f.ClockText()) + 10);
  // Back to the shorter text: the pane keeps its width.
  clock.time = [&] { return t0 + 86400; };
  f.OnTimer(FrameTimer::Tick);
  EXPECT_FALSE(f.ClockText().contains(u':'));
  EXPECT_EQ(f.ClockPane()->minimumWidth(), wide);
}

QString ReadExport(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  const QByteArray bytes = file.readAll();
  EXPECT_TRUE(bytes.startsWith("\xFF\xFE"));  // UTF-16 LE with its mark
  QStringDecoder decoder(QStringConverter::Utf16LE);
  QString text = decoder(bytes.mid(2));
  return text;
}

TEST(MainFrameTest, ExportOfTheSettings) {
  const QString exported = QStringLiteral(
      "Settings have been exported. To import them at a later time, simply double-click the .reg "
      "file and follow the prompts.");
  const QString problem =
      QStringLiteral("There was a problem exporting the settings. You may have to try manually.");
  AppHarness h;
  UiTestScope::Store(kSettings, QStringLiteral("FirstRun"), 0);
  ASSERT_TRUE(h.Start());
  UiTestScope::Store(kWindow, QStringLiteral("MainFrameLeft"), -100);
  QTemporaryDir dir;
  struct Case {
    QString typed;
    QString written;  // empty: cannot be written
  };
  const Case cases[] = {
      {dir.filePath(QStringLiteral("mine")), dir.filePath(QStringLiteral("mine.reg"))},
      {dir.filePath(QStringLiteral("Mine.ReG")), dir.filePath(QStringLiteral("Mine.ReG"))},
      {dir.filePath(QStringLiteral("a.reg.txt")), dir.filePath(QStringLiteral("a.reg.txt.reg"))},
      {dir.filePath(QStringLiteral("no/such/folder/x")), QString()},
  };
  for (const Case& c : cases) {
    h.scope.messages.clear();
    h.Frame().SetExportPathAsker([&] { return c.typed; });
    h.Frame().OnExportSettings();
    ASSERT_EQ(h.scope.messages.size(), 1u);
    SCOPED_TRACE(c.typed.toStdString());
    if (c.written.isEmpty()) {
      EXPECT_EQ(h.scope.messages[0].icon, MsgIcon::Warning);
      EXPECT_EQ(h.scope.messages[0].text, problem);
      continue;
    }
    EXPECT_EQ(h.scope.messages[0].icon, MsgIcon::Information);
    EXPECT_EQ(h.scope.messages[0].text, exported);
    const QString text = ReadExport(c.written);
    EXPECT_TRUE(text.startsWith(QStringLiteral("Windows Registry Editor Version 5.00\r\n")));
    EXPECT_TRUE(text.contains(QStringLiteral(
        "[HKEY_CURRENT_USER\\Software\\Velmorant\\Quillbend\\Settings]\r\n\"FirstRun\"=dword:00000000\r\n")));
    EXPECT_TRUE(text.contains(QStringLiteral("[HKEY_CURRENT_USER\\Software\\Velmorant\\Quillbend\\WindowSettings]\r\n")));
    EXPECT_TRUE(text.contains(QStringLiteral("\"MainFrameLeft\"=dword:ffffff9c\r\n")));
  }
  // Settings never changed from their defaults are written too, so the file
  // brings back the whole configuration on another machine.
  {
    const QString path = dir.filePath(QStringLiteral("all.reg"));
    QSettings file(QStringLiteral("Velmorant"), QStringLiteral("Quillbend"));
    file.remove(QStringLiteral("Settings/ConfirmExit"));
    file.remove(QStringLiteral("WindowSettings/FeedListViewHeight"));
    file.sync();
    h.Frame().SetExportPathAsker([&] { return path; });
    h.Frame().OnExportSettings();
    const auto values = ParseSettingsFile(ReadExport(path));
    ASSERT_TRUE(values.has_value());
    auto valueOf = [&](const QString& section, const QString& name) -> std::optional<int32_t> {
      for (const ExportedValue& v : *values)
        if (v.section == section && v.name == name) return v.value;
      return std::nullopt;
    };
    const SettingsSection& window = h.Doc().m_settingsManager.m_windowSettings;
    for (const QString& name : {QStringLiteral("MinimizeToSysTray"), QStringLiteral("CloseToSysTray"),
                                QStringLiteral("ConfirmExit"), QStringLiteral("NotifyNewArticles")}) {
      EXPECT_EQ(valueOf(kSettings, name), std::optional<int32_t>(1)) << name.toStdString();
    }
    EXPECT_EQ(valueOf(kSettings, QStringLiteral("FirstRun")), std::optional<int32_t>(0));
    EXPECT_EQ(valueOf(kWindow, QStringLiteral("FeedListViewHeight")),
              std::optional<int32_t>(window.Value(QStringLiteral("FeedListViewHeight"))));
    EXPECT_EQ(valueOf(kWindow, QStringLiteral("MainFrameLeft")), std::optional<int32_t>(-100))
        << "what the file holds wins";
    int once = 0;
    for (const ExportedValue& v : *values) once += v.name == QStringLiteral("MainFrameLeft") ? 1 : 0;
    EXPECT_EQ(once, 1);
  }
  // Cancelled: nothing written, nothing said.
  h.scope.messages.clear();
  h.Frame().SetExportPathAsker([] { return QString(); });
  h.Frame().OnExportSettings();
  EXPECT_TRUE(h.scope.messages.empty());
}

TEST(SettingsFileTest, FormatAndParseRoundTrip) {
  const std::vector<ExportedValue> values{
      {QStringLiteral("Settings"), QStringLiteral("ConfirmExit"), 0},
      {QStringLiteral("WindowSettings"), QStringLiteral("MainFrameLeft"), -1000},
      {QStringLiteral("WindowSettings"), QStringLiteral("FeedListViewColWidth3"), 120},
  };
  const QString text = FormatSettingsFile(values);
  const auto parsed = ParseSettingsFile(text);
  ASSERT_TRUE(parsed.has_value());
  ASSERT_EQ(parsed->size(), values.size());
  for (size_t i = 0; i < values.size(); ++i) {
    EXPECT_EQ((*parsed)[i].section, values[i].section);
    EXPECT_EQ((*parsed)[i].name, values[i].name);
    EXPECT_EQ((*parsed)[i].value, values[i].value);
  }
}

TEST(SettingsFileTest, ParseTakesOnlyOurTwoSections) {
  struct Case {
    const char* text;
    int count;  // -1: not a registry file
  };
  const Case cases[] = {
      {"", -1},
      {"REGEDIT4\r\n[HKEY_CURRENT_USER\\Software\\Velmorant\\Quillbend\\Settings]\r\n\"A\"=dword:1\r\n", -1},
      {"Windows Registry Editor Version 5.00\n"
       "[HKEY_CURRENT_USER\\Software\\Other\\Settings]\n\"A\"=dword:00000001\n"
       "[HKEY_LOCAL_MACHINE\\Software\\Velmorant\\Quillbend\\Settings]\n\"B\"=dword:00000001\n",
       0},
      {"Windows Registry Editor Version 5.00\n"
       "[HKEY_CURRENT_USER\\Software\\Velmorant\\Quillbend\\Settings]\n"
       "\"A\"=dword:00000001\n\"S\"=\"text\"\n\"H\"=hex:01,02\n\"Bad/Name\"=dword:1\n; comment\n"
       "\"C\"=dword:123456789\n"
       "[HKEY_CURRENT_USER\\Software\\Velmorant\\Quillbend\\WindowSettings\\Deeper]\n\"D\"=dword:1\n",
       1},
  };
  for (const Case& c : cases) {
    const auto parsed = ParseSettingsFile(QString::fromUtf8(c.text));
    SCOPED_TRACE(c.text);
    if (c.count < 0) {
      EXPECT_FALSE(parsed.has_value());
    } else {
      ASSERT_TRUE(parsed.has_value());
      EXPECT_EQ(static_cast<int>(parsed->size()), c.count);
    }
  }
}

TEST(SettingsFileTest, ImportRefusesAFileThatIsNotOne) {
  UiTestScope scope;
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("x.reg"));
  {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("not a settings file");
  }
  EXPECT_FALSE(ImportSettings(path));
  EXPECT_FALSE(ImportSettings(dir.filePath(QStringLiteral("missing.reg"))));
  EXPECT_TRUE(UiTestScope::Stored(QStringLiteral("Settings"), QStringLiteral("A")).isNull());
  // A file written as UTF-8 by hand imports too.
  {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write("Windows Registry Editor Version 5.00\r\n\r\n"
            "[HKEY_CURRENT_USER\\Software\\Velmorant\\Quillbend\\Settings]\r\n\"ConfirmExit\"=dword:00000000\r\n");
  }
  EXPECT_TRUE(ImportSettings(path));
  EXPECT_EQ(UiTestScope::Stored(QStringLiteral("Settings"), QStringLiteral("ConfirmExit")).toInt(), 0);
}

// F5 updates every feed whichever pane has the focus (not while a name is
// edited), and the title counts the unread articles.
TEST(MainFrameTest, F5IsWindowWideAndTheTitleCountsUnread) {
  AppHarness h;
  UiTestScope::Store(kSettings, QStringLiteral("FirstRun"), 0);
  h.updater.updateAll = [](CFeedsManager&, bool) { return false; };
  ASSERT_TRUE(h.Start());
  CMainFrame& f = h.Frame();
  const CGroup* g = h.Model().AddGroup(0, u"G");
  CFeedSource* s = CModelWriter(h.Model()).Source(h.Model().AddSource(g->m_id, u"http://example.com/f")->m_id);
  for (bool read : {false, false, true}) {
    CFeed* a = CModelWriter(h.Model()).NewFeed();
    a->m_read = read;
    s->m_articles.push_back(a->m_id);
  }
  // Written directly: counted once the indexes are rebuilt.
  h.Model().RebuildIndexes();
  f.ScheduleSave();
  f.OnTimer(FrameTimer::Tick);
  EXPECT_EQ(f.windowTitle(), QStringLiteral("Quillbend (2 unread)"));
  f.activateWindow();
  f.ArticleList()->setFocus();
  QTest::keyClick(f.ArticleList(), Qt::Key_F5);
  EXPECT_EQ(h.updater.updateAllCalls, std::vector<bool>{true});
}

}  // namespace
}  // namespace qb

namespace qb {
namespace {

TEST(MainFrameTest, EscapeIsTakenByTheFrameInEveryPane) {
  test::AppHarness h;
  ASSERT_TRUE(h.Start());
  int stopped = 0;
  QObject::connect(&h.Frame(), &CMainFrame::articleLoadingStopped, [&] { ++stopped; });
  for (QWidget* pane : {static_cast<QWidget*>(h.Frame().SourceTree()),
                        static_cast<QWidget*>(h.Frame().ArticleList()),
                        static_cast<QWidget*>(h.Frame().ArticleView())}) {
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(pane, &escape);
  }
  EXPECT_EQ(stopped, 3);
  // Other keys and other windows are left alone.
  QKeyEvent other(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier);
  QApplication::sendEvent(h.Frame().SourceTree(), &other);
  QWidget elsewhere;
  QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
  QApplication::sendEvent(&elsewhere, &escape);
  EXPECT_EQ(stopped, 3);
}

// Shift+F10 opens the focused pane's menu as the menu key does, for the
// node or rows already selected (not whatever lies under the pane's middle).
TEST(MainFrameTest, ShiftF10OpensTheFocusedPanesMenu) {
  test::AppHarness h;
  UiTestScope::Store(kSettings, QStringLiteral("FirstRun"), 0);
  ASSERT_TRUE(h.Start());
  CMainFrame& f = h.Frame();
  const CGroup* g = h.Model().AddGroup(0, u"G");
  CFeedSource* s = CModelWriter(h.Model()).Source(h.Model().AddSource(g->m_id, u"http://example.com/f")->m_id);
  std::vector<ObjectId> articles;
  for (int i = 0; i < 40; ++i) {
    CFeed* a = CModelWriter(h.Model()).NewFeed();
    a->m_title = u"A" + FromQString(QString::number(i));
    a->m_read = i == 0;
    s->m_articles.push_back(a->m_id);
    articles.push_back(a->m_id);
  }
  f.SourceTree()->RefreshAll();
  f.SourceTree()->SelectItem(f.SourceTree()->FindItem(s->m_id));
  f.show();
  f.resize(1000, 700);
  test::AppHarness::Pump();
  auto* list = f.ArticleList();
  const int row = list->FindRow(articles[0]);
  ASSERT_GE(row, 0);
  list->SelectRow(row);

  f.SourceTree()->setFocus();
  QTest::keyClick(f.SourceTree(), Qt::Key_F10, Qt::ShiftModifier);
  ASSERT_EQ(h.scope.menus.size(), 1u);
  EXPECT_EQ(h.scope.menus.back().title, QStringLiteral("For Sources"));

  list->setFocus();
  QTest::keyClick(list, Qt::Key_F10, Qt::ShiftModifier);
  ASSERT_EQ(h.scope.menus.size(), 2u);
  const test::MenuRecord& menu = h.scope.menus.back();
  ASSERT_FALSE(menu.texts.empty());
  EXPECT_EQ(menu.texts.front(), QStringLiteral("Mark item as &read")) << "one row: the selected one";
  EXPECT_FALSE(menu.enabled.front()) << "the selected (read) article, not a row in the middle";
  EXPECT_EQ(list->SelectedArticles(), IdList{articles[0]});

  // F10 alone and Shift+F9 open nothing.
  QTest::keyClick(list, Qt::Key_F10);
  QTest::keyClick(list, Qt::Key_F9, Qt::ShiftModifier);
  EXPECT_EQ(h.scope.menus.size(), 2u);
}

// The File menu's file dialogs: a dialog's buttons only, the home folder at
// first, then the folder of the last file chosen; a save offers a name.
TEST(MainFrameTest, FileDialogsOpenInTheLastFolderWithANameToSaveUnder) {
  QTemporaryDir home;
  QTemporaryDir elsewhere;
  const QByteArray oldHome = qgetenv("HOME");
  qputenv("HOME", home.path().toLocal8Bit());
  test::AppHarness h;
  UiTestScope::Store(kSettings, QStringLiteral("FirstRun"), 0);
  ASSERT_TRUE(h.Start());
  struct Seen {
    Qt::WindowFlags flags;
    QString folder;
    QString name;
  };
  std::vector<Seen> seen;
  QString choose;  // the file the user picks; empty: Cancel
  h.scope.answerDialog = [&](QDialog& dialog) {
    auto* files = dynamic_cast<QFileDialog*>(&dialog);
    if (files == nullptr) return int(QDialog::Rejected);
    const QStringList selected = files->selectedFiles();
    seen.push_back({files->windowFlags(), QDir(files->directory()).absolutePath(),
                    selected.isEmpty() ? QString() : QFileInfo(selected.front()).fileName()});
    if (choose.isEmpty()) return int(QDialog::Rejected);
    files->selectFile(choose);
    return int(QDialog::Accepted);
  };
  choose = elsewhere.filePath(QStringLiteral("mine.opml"));
  h.Frame().OnExportOpml();
  EXPECT_TRUE(QFile::exists(choose));
  choose.clear();
  h.Frame().OnImportOpml();
  h.Frame().OnExportSettings();
  qputenv("HOME", oldHome);
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[0].folder, QDir(home.path()).absolutePath());
  EXPECT_EQ(seen[0].name, QStringLiteral("Quillbend subscriptions.opml"));
  EXPECT_EQ(seen[1].folder, QDir(elsewhere.path()).absolutePath());
  EXPECT_EQ(seen[2].folder, QDir(elsewhere.path()).absolutePath());
  EXPECT_EQ(seen[2].name, QStringLiteral("Quillbend settings.reg"));
  for (const Seen& s : seen) {
    EXPECT_TRUE(s.flags.testFlag(Qt::CustomizeWindowHint));
    EXPECT_FALSE(s.flags.testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_FALSE(s.flags.testFlag(Qt::WindowMaximizeButtonHint));
  }
}

TEST(MainFrameTest, SessionEndSavesWithoutAsking) {
  test::AppHarness h;
  ASSERT_TRUE(h.Start());
  int asked = 0;
  h.scope.answerDialog = [&](QDialog&) {
    ++asked;
    return static_cast<int>(QDialog::Rejected);
  };
  h.Frame().SaveAtSessionEnd();
  EXPECT_EQ(asked, 0);
  EXPECT_EQ(h.saves, 1);
  EXPECT_EQ(test::UiTestScope::Stored(QStringLiteral("Settings"), QStringLiteral("ConfirmExit")).toInt(), 1);
}

// The panes at their default sizes: the tree on the left, a fifth of the
// window unless a label with its counts needs more; the list over the page,
// a third of the height.
TEST(MainFrameTest, ThreePanesLaidOutWithTheTreesLabelsWhole) {
  test::AppHarness h;
  UiTestScope::Store(kSettings, QStringLiteral("FirstRun"), 0);
  ASSERT_TRUE(h.Start());
  CMainFrame& f = h.Frame();
  f.SetTrackPlacement(false);
  {
    QSettings file(QStringLiteral("Velmorant"), QStringLiteral("Quillbend"));
    file.remove(QStringLiteral("WindowSettings"));
  }
  const CGroup* g = h.Model().AddGroup(0, u"G");
  CFeedSource* s = CModelWriter(h.Model()).Source(h.Model().AddSource(g->m_id, u"http://example.com/f")->m_id);
  s->m_title = u"S";
  for (int i = 0; i < 1234; ++i) {
    CFeed* a = CModelWriter(h.Model()).NewFeed();
    s->m_articles.push_back(a->m_id);
  }
  CSourceListView* tree = f.SourceTree();
  for (const std::u16string& title : {std::u16string(u"S"), std::u16string(u"A feed with long title")}) {
    SCOPED_TRACE(QString::fromStdU16String(title).toStdString());
    s->m_title = title;
    tree->RefreshAll();
    tree->expandAll();
    f.RestorePlacement();
    test::AppHarness::Pump();
    const int clientWidth = f.width();
    const int treeWidth = f.OuterSplitter()->sizes().at(0);
    const int needed = tree->LabelsWidth();
    ASSERT_LT(needed, clientWidth / 2);
    EXPECT_GE(treeWidth, clientWidth / 5);
    EXPECT_GE(tree->viewport()->width(), needed) << "no count cut off";
    if (title != u"S") {
      ASSERT_GT(needed, clientWidth / 5) << "the label must need more than a fifth";
      EXPECT_GT(treeWidth, clientWidth / 5);
    }
    EXPECT_EQ(tree->FindItem(s->m_id)->text(0), QString::fromStdU16String(title) + QStringLiteral(" (1234 / 1234)"));
    const int clientHeight = f.height() - f.menuBar()->height();
    EXPECT_EQ(f.InnerSplitter()->sizes().at(0), clientHeight / 3);
  }
  // Tree on the left; list above the article view on the right.
  EXPECT_LT(f.SourceTree()->mapTo(&f, QPoint(0, 0)).x(), f.ArticleList()->mapTo(&f, QPoint(0, 0)).x());
  EXPECT_LT(f.ArticleList()->mapTo(&f, QPoint(0, 0)).y(), f.ArticleView()->mapTo(&f, QPoint(0, 0)).y());
  // QB_SCREENSHOT=file.png keeps a picture of the window for a look.
  const QString keep = qEnvironmentVariable("QB_SCREENSHOT");
  if (!keep.isEmpty()) {
    EXPECT_TRUE(f.grab().save(keep));
  }
}

// Counts that arrive after the start (feeds fetched once the window shows)
// still fit while the tree has its default width; once the user has moved
// the bar, the width is theirs.
TEST(MainFrameTest, TheDefaultTreeWidthGrowsWithLaterCountsUntilTheUserSetsIt) {
  test::BypassProxyForLoopback();
  test::HttpServer server;
  std::string items;
  for (int i = 0; i < 120; ++i) items += "<item><guid>" + std::to_string(i) + "</guid></item>";
  server.Set("/feed", test::HttpResponse::Ok("<rss version=\"2.0\"><channel>" + items + "</channel></rss>"));
  AppHarness h;
  UiTestScope::Store(kSettings, QStringLiteral("FirstRun"), 0);
  ASSERT_TRUE(h.Start());
  CMainFrame& f = h.Frame();
  CSourceListView* tree = f.SourceTree();
  const ObjectId group = h.Model().AddGroup(0, u"G")->m_id;
  const ObjectId source = h.Model().AddSource(group, server.Url16("/feed"))->m_id;
  h.Model().Rename(source, u"A feed with a long title");
  AppHarness::Pump();
  tree->expandAll();
  // No width stored: the default one.
  f.SetTrackPlacement(false);
  QSettings(QStringLiteral("Velmorant"), QStringLiteral("Quillbend")).remove(QStringLiteral("WindowSettings"));
  f.RestorePlacement();
  AppHarness::Pump();
  const int before = f.OuterSplitter()->sizes().at(0);
  f.Commands().UpdateSources({source});
  ASSERT_TRUE(h.WaitForUpdates());
  ASSERT_EQ(tree->FindItem(source)->text(0), QStringLiteral("A feed with a long title (120 / 120)"));
  ASSERT_LT(tree->LabelsWidth(), f.width() / 2);
  EXPECT_GT(f.OuterSplitter()->sizes().at(0), before);
  EXPECT_GE(tree->viewport()->width(), tree->LabelsWidth()) << "no count cut off";

  const int chosen = f.OuterSplitter()->sizes().at(0) - 40;
  const int total = f.OuterSplitter()->sizes().at(0) + f.OuterSplitter()->sizes().at(1);
  f.OuterSplitter()->setSizes({chosen, total - chosen});
  emit f.OuterSplitter()->splitterMoved(chosen, 1);
  h.Model().Rename(source, u"A feed with an even longer title than before");
  AppHarness::Pump();
  EXPECT_EQ(f.OuterSplitter()->sizes().at(0), chosen);
}

}  // namespace
}  // namespace qb
