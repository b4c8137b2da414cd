#include <QDate>
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHeaderView>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QSplitter>
#include <QItemSelectionModel>
#include <QStandardItemModel>

#include <QSystemTrayIcon>

#include "app/ConfirmExitDlg.h"
#include "app/SettingsExport.h"
#include "model/ModelWriter.h"
#include "tests/app/AppHarness.h"
#include "tests/support/FakeClock.h"
#include "views/DateText.h"
#include "views/FeedListView.h"
#include "views/SourceListView.h"
#include "views/ViewText.h"

namespace qb {
namespace {

using test::AppHarness;
using test::UiTestScope;

using test::kSettings;
using test::kWindow;

std::u16string U16(const char16_t* s) { return s; }

// The sources directly in the root group "All Sources" titled "Welcome!".
std::vector<const CFeedSource*> WelcomeSources(const CFeedsManager& m) {
  std::vector<const CFeedSource*> out;
  const CGroup* group = m.FindRootGroupByName(kAllSourcesName);
  if (group == nullptr) return out;
  for (ObjectId id : group->m_sources) {
    const CFeedSource* s = m.GetFeedSource(id);
    if (s != nullptr && s->m_title == u"Welcome!") out.push_back(s);
  }
  return out;
}

TEST(AppStartTest, FirstStartInstallsTheWelcomeArticleOnce) {
  AppHarness h;
  ASSERT_TRUE(h.Start());
  EXPECT_EQ(h.Frame().windowTitle(), QStringLiteral("Quillbend"));
  EXPECT_TRUE(h.Frame().isVisible());
  // The data folder exists in the per-user data folder.
  EXPECT_TRUE(QFileInfo(h.DataHome() + QStringLiteral("/Velmorant/Quillbend")).isDir());
  EXPECT_EQ(QString::fromStdString(h.Doc().GetDataFilePath()),
            h.DataHome() + QStringLiteral("/Velmorant/Quillbend/Feeds"));

  const CFeedsManager& m = h.Model();
  ASSERT_EQ(m.RootGroups().size(), 1u);
  const CGroup* group = m.GetGroup(m.RootGroups()[0]);
  ASSERT_NE(group, nullptr);
  EXPECT_EQ(group->m_name, U16(u"All Sources"));
  ASSERT_EQ(group->m_sources.size(), 1u);
  const CFeedSource* source = m.GetFeedSource(group->m_sources[0]);
  ASSERT_NE(source, nullptr);
  EXPECT_EQ(source->m_title, U16(u"Welcome!"));
  EXPECT_EQ(source->m_commsStatus, U16(u"OK"));
  EXPECT_EQ(source->m_refreshInterval, 525600);
  EXPECT_TRUE(source->m_url.empty());
  // Newest first, as every new feed and the group that holds it.
  EXPECT_EQ(std::make_pair(source->m_sortColumn, source->m_sortDirection),
            std::make_pair(kSortColumnDate, kSortDescending));
  ASSERT_EQ(source->m_articles.size(), 1u);
  const CFeed* article = m.GetFeed(source->m_articles[0]);
  ASSERT_NE(article, nullptr);
  EXPECT_EQ(article->m_title, U16(u"Welcome!"));
  EXPECT_EQ(article->m_channel, U16(u"Help"));
  EXPECT_EQ(article->m_key, U16(u"welcome.htm"));
  EXPECT_FALSE(article->m_read);
  // Our own page, read from beside the program.
  EXPECT_NE(article->m_description.find(u"Quillbend"), std::u16string::npos);
  EXPECT_NE(article->m_link.find(u"welcome.htm"), std::u16string::npos);

  // Selected and shown, once the views can show sources and articles.
  if (h.Frame().SourceTree()->FindItem(source->m_id) != nullptr) {
    EXPECT_EQ(h.Frame().SourceTree()->SelectedNode(), std::optional<ObjectId>(source->m_id));
  }
  if (const int row = h.Frame().ArticleList()->FindRow(article->m_id); row >= 0) {
    EXPECT_TRUE(h.Frame().ArticleList()->selectionModel()->isRowSelected(row, QModelIndex()));
  }
  h.Frame().SourceTree()->SelectItem(h.Frame().SourceTree()->FindItem(group->m_id));
  EXPECT_EQ(h.Frame().ArticleList()->SortColumn(), kSortColumnDate);
  EXPECT_FALSE(h.Frame().ArticleList()->SortAscending());

  EXPECT_EQ(UiTestScope::Stored(kSettings, QStringLiteral("FirstRun")).toInt(), 0);
  EXPECT_TRUE(h.Frame().TrackPlacement());
  EXPECT_TRUE(h.scope.messages.empty());
  // The first run is written with the next save, not at once.
  EXPECT_EQ(h.saves, 0);

  // The next start sees FirstRun = 0 and installs nothing.
  ASSERT_TRUE(h.Start());
  EXPECT_TRUE(WelcomeSources(h.Model()).empty());
}

// From the start the automatic update and the clock run: the update timer
// starts a pass over the due sources and runs again once the pass is over;
// the clock shows the date with its four-digit year; what the pass says it
// is doing reaches the status line.
TEST(AppStartTest, TheUpdateAndTheClockRunFromTheStart) {
  AppHarness h;
  h.updater.updateAll = [](CFeedsManager&, bool) { return false; };
  ASSERT_TRUE(h.Start());
  CMainFrame& f = h.Frame();
  EXPECT_TRUE(f.IsFrameTimerActive(FrameTimer::Update));
  EXPECT_TRUE(f.IsFrameTimerActive(FrameTimer::Tick));
  f.StopFrameTimer(FrameTimer::Update);
  f.OnTimer(FrameTimer::Update);
  EXPECT_EQ(h.updater.updateAllCalls, std::vector<bool>{false});  // not forced: the due ones
  EXPECT_TRUE(f.IsFrameTimerActive(FrameTimer::Update));

  f.OnTimer(FrameTimer::Tick);
  EXPECT_TRUE(f.ClockText().contains(QString::number(QDate::currentDate().year()))) << f.ClockText().toStdString();

  h.updater.Status(u"Updating...");
  EXPECT_EQ(f.StatusText(), QStringLiteral("Updating..."));
}

TEST(AppStartTest, HelpFeedReplacesAnEarlierWelcomeSource) {
  AppHarness h;
  UiTestScope::Store(kSettings, QStringLiteral("FirstRun"), 0);
  ASSERT_TRUE(h.Start());
  CFeedsManager& m = h.Model();
  const CGroup* group = m.FindRootGroupByName(kAllSourcesName);
  ASSERT_NE(group, nullptr);
  h.Doc().ShowHelpFeed();
  ASSERT_EQ(WelcomeSources(m).size(), 1u);
  const ObjectId oldSource = WelcomeSources(m)[0]->m_id;
  const ObjectId oldArticle = WelcomeSources(m)[0]->m_articles[0];
  const CFeedSource* other = m.AddSource(group->m_id, u"http://other.example/");
  ASSERT_NE(other, nullptr);

  h.Doc().ShowHelpFeed();
  ASSERT_EQ(WelcomeSources(m).size(), 1u);
  EXPECT_EQ(m.GetFeedSource(oldSource), nullptr);
  EXPECT_EQ(m.GetFeed(oldArticle), nullptr);
  // The fresh one takes the last place.
  ASSERT_EQ(group->m_sources.size(), 2u);
  EXPECT_EQ(group->m_sources[0], other->m_id);
  EXPECT_EQ(group->m_sources[1], WelcomeSources(m)[0]->m_id);
}

TEST(AppStartTest, HelpFeedCreatesAllSourcesWhenMissing) {
  AppHarness h;
  UiTestScope::Store(kSettings, QStringLiteral("FirstRun"), 0);
  ASSERT_TRUE(h.Start());
  CFeedsManager& m = h.Model();
  ASSERT_EQ(m.RootGroups().size(), 1u);
  const ObjectId mine = m.RootGroups()[0];
  ASSERT_TRUE(m.Rename(mine, u"Mine"));
  h.Doc().ShowHelpFeed();
  ASSERT_EQ(m.RootGroups().size(), 2u);
  EXPECT_EQ(m.RootGroups()[0], mine);
  EXPECT_TRUE(m.GetGroup(mine)->m_sources.empty());
  const CGroup* all = m.GetGroup(m.RootGroups()[1]);
  ASSERT_NE(all, nullptr);
  EXPECT_EQ(all->m_name, U16(u"All Sources"));
  EXPECT_EQ(WelcomeSources(m).size(), 1u);
}

TEST(AppStartTest, LoadProblemIsShownOnceAtStartUp) {
  struct Case {
    bool warning;
    MsgIcon icon;
  };
  for (const Case& c : {Case{true, MsgIcon::Warning}, Case{false, MsgIcon::Critical}}) {
    AppHarness h;
    h.loadReport.message = QStringLiteral("The saved data file is corrupt and cannot be loaded.");
    h.loadReport.warning = c.warning;
    ASSERT_TRUE(h.Start());
    EXPECT_EQ(h.loads, 1);
    ASSERT_EQ(h.scope.messages.size(), 1u);
    EXPECT_EQ(h.scope.messages[0].icon, c.icon);
    EXPECT_EQ(h.scope.messages[0].text, h.loadReport.message);
    // The model still gets its root group.
    EXPECT_NE(h.Model().FindRootGroupByName(kAllSourcesName), nullptr);
  }
}

TEST(AppStartTest, ShowState) {
  struct Case {
    int hidden, maximized, minimized;
    bool startHidden, tray;
    bool visible, isMax, isMin;
  };
  const Case cases[] = {
      {0, 0, 0, false, true, true, false, false},
      // A start from the menu shows the window, although the last session
      // ended with it in the tray; only the autostart's --hidden keeps it there.
      {1, 0, 0, false, true, true, false, false},
      {1, 0, 0, true, true, false, false, false},
      {0, 0, 0, true, true, false, false, false},
      // Without a tray a hidden start would leave no way to the window.
      {1, 0, 0, true, false, true, false, false},
      {0, 1, 0, false, true, true, true, false},
      {0, 1, 1, false, true, true, false, true},  // minimised wins
  };
  for (const Case& c : cases) {
    AppHarness h(c.tray);
    UiTestScope::Store(kSettings, QStringLiteral("FirstRun"), 0);
    UiTestScope::Store(kWindow, QStringLiteral("MainFrameIsHidden"), c.hidden);
    UiTestScope::Store(kWindow, QStringLiteral("MainFrameIsMaximized"), c.maximized);
    UiTestScope::Store(kWindow, QStringLiteral("MainFrameIsMinimized"), c.minimized);
    ASSERT_TRUE(h.Start({}, c.startHidden));
    SCOPED_TRACE(testing::Message() << c.hidden << c.maximized << c.minimized << c.startHidden << c.tray);
    EXPECT_EQ(h.Frame().isVisible(), c.visible);
    EXPECT_EQ(h.Frame().isMaximized(), c.isMax);
    EXPECT_EQ(h.Frame().isMinimized(), c.isMin);
    h.Frame().OnTimer(FrameTimer::Tick);
    // The tray icon appears with the first tick, whatever the window does.
    EXPECT_EQ(h.Frame().TrayIconAdded(), true);
    EXPECT_EQ(h.Frame().TrayIcon() != nullptr, c.tray);
  }
}

TEST(PlacementTest, DefaultsOnAnEmptySettingsFile) {
  AppHarness h;
  UiTestScope::Store(kSettings, QStringLiteral("FirstRun"), 0);
  ASSERT_TRUE(h.Start());
  const QRect work = QGuiApplication::primaryScreen()->availableGeometry();
  const QRect g = h.Frame().geometry();
  EXPECT_EQ(g, QRect(work.x() + 25, work.y() + 25, work.width() - 50, work.height() - 50));
  const int clientHeight = g.height() - h.Frame().menuBar()->height();
  EXPECT_EQ(h.Frame().OuterSplitter()->sizes().at(0), g.width() / 5);
  EXPECT_EQ(h.Frame().InnerSplitter()->sizes().at(0), clientHeight / 3);
  // The restore reads the defaults into memory.
  EXPECT_EQ(h.Doc().m_settingsManager.m_windowSettings.Get(QStringLiteral("MainFrameLeft")).nValue,
            work.x() + 25);
}

TEST(PlacementTest, PanesHaveTheirSizesBeforeTheWindowShows) {
  // A hidden start: the article list sizes its columns from its viewport,
  // which must already have the list's real width.
  AppHarness h;
  UiTestScope::Store(kSettings, QStringLiteral("FirstRun"), 0);
  ASSERT_TRUE(h.Start({}, true));
  ASSERT_FALSE(h.Frame().isVisible());
  const QWidget* list = h.Frame().ArticleList();
  EXPECT_GT(list->width(), 300);
  EXPECT_GE(h.Frame().ArticleList()->viewport()->width(), list->width() - 40);
}

// A placement saved at another scale, on a larger screen or off the screen
// comes back on the work area: no larger than it, and inside it.
TEST(PlacementTest, AStoredRectangleIsKeptOnTheWorkArea) {
  const QRect work(0, 0, 1600, 1000);
  struct Case {
    QRect stored, placed;
  };
  const Case cases[] = {
      {{25, 25, 1550, 950}, {25, 25, 1550, 950}},           // fits: as stored
      {{50, 50, 3100, 1900}, {0, 0, 1600, 1000}},           // saved at half the scale
      {{-1000, -900, 800, 600}, {0, 0, 800, 600}},          // off the screen
      {{1500, 900, 800, 600}, {800, 400, 800, 600}},        // hanging off the far side
      {{300, 300, 20, 10}, {300, 300, 200, 200}},           // too small to find
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.stored.x() << "," << c.stored.y() << " " << c.stored.width()
                                    << "x" << c.stored.height());
    EXPECT_EQ(PlacementOnScreen(c.stored, work), c.placed);
  }
  EXPECT_EQ(PlacementOnScreen(QRect(5, 5, 3000, 3000), QRect()), QRect(5, 5, 3000, 3000));
  EXPECT_EQ(PlacementOnScreen(QRect(5, 5, 300, 300), QRect(100, 50, 150, 120)), QRect(100, 50, 150, 120));

  AppHarness h;
  UiTestScope::Store(kSettings, QStringLiteral("FirstRun"), 0);
  UiTestScope::Store(kWindow, QStringLiteral("MainFrameLeft"), 50);
  UiTestScope::Store(kWindow, QStringLiteral("MainFrameTop"), 40);
  UiTestScope::Store(kWindow, QStringLiteral("MainFrameRight"), 3150);
  UiTestScope::Store(kWindow, QStringLiteral("MainFrameBottom"), 1940);
  UiTestScope::Store(kWindow, QStringLiteral("SourceListViewWidth"), 150);
  ASSERT_TRUE(h.Start());
  const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
  const QRect placed = PlacementOnScreen(QRect(50, 40, 3100, 1900), screen);
  ASSERT_LT(placed.width(), 3100);
  // Qt's offscreen platform puts the frame, not the client area, where asked.
  EXPECT_EQ(h.Frame().geometry().size(), placed.size());
  EXPECT_TRUE(h.Frame().geometry().topLeft() == placed.topLeft() ||
              h.Frame().frameGeometry().topLeft() == placed.topLeft());
  EXPECT_EQ(h.Frame().OuterSplitter()->sizes().at(0), 150);
}

TEST(PlacementTest, AnOffScreenPositionIsNeverWritten) {
  AppHarness h;
  UiTestScope::Store(kSettings, QStringLiteral("FirstRun"), 0);
  ASSERT_TRUE(h.Start());
  h.Frame().SetTrackPlacement(true);
  h.Frame().setGeometry(-1000, -900, 400, 300);
  UiTestScope::Store(kWindow, QStringLiteral("MainFrameLeft"), 5);
  h.Frame().SavePlacement();
  // Wholly left of and above the screen: not a position to keep.
  EXPECT_EQ(UiTestScope::Stored(kWindow, QStringLiteral("MainFrameLeft")).toInt(), 5);
  EXPECT_EQ(UiTestScope::Stored(kWindow, QStringLiteral("MainFrameIsHidden")).toInt(), 0);
}

TEST(PlacementTest, SaveAndRestoreRoundTripWithColumns) {
  AppHarness h;
  UiTestScope::Store(kSettings, QStringLiteral("FirstRun"), 0);
  ASSERT_TRUE(h.Start());
  CMainFrame& f = h.Frame();
  // A list with three columns, as the article list has.
  QStandardItemModel columns(0, 3);
  if (f.ArticleList()->model() == nullptr || f.ArticleList()->header()->count() == 0) {
    f.ArticleList()->setModel(&columns);
  }
  f.setGeometry(100, 120, 700, 500);
  f.OuterSplitter()->setSizes({160, 500});
  // The title column takes whatever the others leave, so the channel and
  // date columns carry the stored widths.
  f.ArticleList()->header()->resizeSection(1, 210);
  f.ArticleList()->header()->resizeSection(2, 90);
  AppHarness::Pump();
  f.SavePlacement();
  EXPECT_EQ(UiTestScope::Stored(kWindow, QStringLiteral("MainFrameLeft")).toInt(), 100);
  EXPECT_EQ(UiTestScope::Stored(kWindow, QStringLiteral("MainFrameTop")).toInt(), 120);
  EXPECT_EQ(UiTestScope::Stored(kWindow, QStringLiteral("MainFrameRight")).toInt(), 800);
  EXPECT_EQ(UiTestScope::Stored(kWindow, QStringLiteral("MainFrameBottom")).toInt(), 620);
  EXPECT_EQ(UiTestScope::Stored(kWindow, QStringLiteral("SourceListViewWidth")).toInt(),
            f.SourceTree()->width());
  EXPECT_EQ(UiTestScope::Stored(kWindow, QStringLiteral("FeedListViewHeight")).toInt(),
            f.ArticleList()->height());
  EXPECT_EQ(UiTestScope::Stored(kWindow, QStringLiteral("FeedListViewColWidth2")).toInt(), 210);
  EXPECT_EQ(UiTestScope::Stored(kWindow, QStringLiteral("FeedListViewColWidth3")).toInt(), 90);

  // A column without a stored width keeps its current width.
  {
    QSettings s(QStringLiteral("Velmorant"), QStringLiteral("Quillbend"));
    s.remove(QStringLiteral("WindowSettings/FeedListViewColWidth3"));
  }
  UiTestScope::Store(kWindow, QStringLiteral("FeedListViewColWidth2"), 140);
  f.ArticleList()->header()->resizeSection(2, 77);
  f.RestorePlacement();
  EXPECT_EQ(f.ArticleList()->header()->sectionSize(1), 140);
  EXPECT_EQ(f.ArticleList()->header()->sectionSize(2), 77);
  EXPECT_EQ(f.geometry(), QRect(100, 120, 700, 500));
  f.ArticleList()->setModel(nullptr);
}

TEST(PlacementTest, HiddenOrMinimisedWritesOnlyItsState) {
  AppHarness h(false);
  UiTestScope::Store(kSettings, QStringLiteral("FirstRun"), 0);
  ASSERT_TRUE(h.Start());
  CMainFrame& f = h.Frame();
  f.SavePlacement();
  const int left = UiTestScope::Stored(kWindow, QStringLiteral("MainFrameLeft")).toInt();
  f.setGeometry(left + 40, 60, 600, 400);
  f.hide();
  AppHarness::Pump();
  EXPECT_EQ(UiTestScope::Stored(kWindow, QStringLiteral("MainFrameIsHidden")).toInt(), 1);
  EXPECT_EQ(UiTestScope::Stored(kWindow, QStringLiteral("MainFrameLeft")).toInt(), left);
  f.showMinimized();
  AppHarness::Pump();
  EXPECT_EQ(UiTestScope::Stored(kWindow, QStringLiteral("MainFrameIsHidden")).toInt(), 0);
  EXPECT_EQ(UiTestScope::Stored(kWindow, QStringLiteral("MainFrameIsMinimized")).toInt(), 1);
  EXPECT_EQ(UiTestScope::Stored(kWindow, QStringLiteral("MainFrameLeft")).toInt(), left);
  // Tracking off: nothing at all.
  f.SetTrackPlacement(false);
  f.showNormal();
  AppHarness::Pump();
  EXPECT_EQ(UiTestScope::Stored(kWindow, QStringLiteral("MainFrameIsMinimized")).toInt(), 1);
}

// The confirmation dialog answered by a test.
void AnswerConfirmExit(test::FakeDesktop& desktop, bool yes, bool dontAskAgain, int* asked) {
  desktop.answerDialog = [=](QDialog& dialog) {
    ++*asked;
    auto* confirm = dynamic_cast<CConfirmExitDlg*>(&dialog);
    if (confirm == nullptr) return static_cast<int>(QDialog::Rejected);
    confirm->DontAskBox()->setChecked(dontAskAgain);
    (yes ? confirm->YesButton() : confirm->NoButton())->click();
    return confirm->result();
  };
}

TEST(CloseSequenceTest, NoKeepsTheProgramRunningWithNothingSaved) {
  AppHarness h;
  ASSERT_TRUE(h.Start());
  const int savesBefore = h.saves;
  int asked = 0;
  AnswerConfirmExit(h.scope, false, true, &asked);
  h.Frame().OnExit();
  EXPECT_EQ(asked, 1);
  EXPECT_FALSE(h.Frame().IsClosed());
  EXPECT_TRUE(h.Frame().isVisible());
  EXPECT_TRUE(h.Frame().IsFrameTimerActive(FrameTimer::Update));
  EXPECT_TRUE(h.Frame().IsFrameTimerActive(FrameTimer::Tick));
  EXPECT_EQ(h.saves, savesBefore);
  EXPECT_FALSE(UiTestScope::Stored(kSettings, QStringLiteral("ConfirmExit")).isValid());
  EXPECT_FALSE(UiTestScope::Stored(kSettings, QStringLiteral("MinimizeToSysTray")).isValid());
  EXPECT_TRUE(h.Frame().TrackPlacement());
}

TEST(CloseSequenceTest, YesWithDontAskAgainSavesAndNeverAsksAgain) {
  AppHarness h;
  ASSERT_TRUE(h.Start());
  h.Frame().OnTimer(FrameTimer::Tick);
  h.Frame().ScheduleSave();
  int asked = 0;
  AnswerConfirmExit(h.scope, true, true, &asked);
  QVariant confirmAtSave;
  h.onSave = [&] { confirmAtSave = UiTestScope::Stored(kSettings, QStringLiteral("ConfirmExit")); };
  h.Frame().OnExit();
  EXPECT_EQ(asked, 1);
  EXPECT_TRUE(h.Frame().IsClosed());
  EXPECT_FALSE(h.Frame().isVisible());
  EXPECT_EQ(h.saves, 1);
  EXPECT_EQ(confirmAtSave.toInt(), 0);
  EXPECT_FALSE(h.Frame().IsFrameTimerActive(FrameTimer::Save));
  EXPECT_FALSE(h.Frame().TrackPlacement());
  EXPECT_FALSE(h.Frame().TrayIconAdded());
  // All four settings are written.
  EXPECT_EQ(UiTestScope::Stored(kSettings, QStringLiteral("MinimizeToSysTray")).toInt(), 1);
  EXPECT_EQ(UiTestScope::Stored(kSettings, QStringLiteral("CloseToSysTray")).toInt(), 1);
  EXPECT_EQ(UiTestScope::Stored(kSettings, QStringLiteral("FirstRun")).toInt(), 0);
  // Hiding at close did not overwrite the stored show state.
  EXPECT_EQ(UiTestScope::Stored(kWindow, QStringLiteral("MainFrameIsHidden")).toInt(), 0);

  ASSERT_TRUE(h.Start());
  h.Frame().OnExit();
  EXPECT_EQ(asked, 1);
  EXPECT_TRUE(h.Frame().IsClosed());
}

TEST(CloseSequenceTest, WindowCloseHidesToTheTrayOnlyWhereOneExists) {
  for (bool tray : {true, false}) {
    AppHarness h(tray);
    ASSERT_TRUE(h.Start());
    int asked = 0;
    AnswerConfirmExit(h.scope, true, false, &asked);
    h.Frame().close();
    AppHarness::Pump();
    SCOPED_TRACE(tray);
    EXPECT_FALSE(h.Frame().isVisible());
    EXPECT_EQ(h.Frame().IsClosed(), !tray);
    EXPECT_EQ(asked, tray ? 0 : 1);
    if (tray) {
      EXPECT_EQ(UiTestScope::Stored(kWindow, QStringLiteral("MainFrameIsHidden")).toInt(), 1);
      // The tray menu's Exit from the hidden window ends the program...
      h.Frame().OnExit();
      EXPECT_TRUE(h.Frame().IsClosed());
      // ...and the next start from the menu shows the window again.
      ASSERT_TRUE(h.Start());
      EXPECT_TRUE(h.Frame().isVisible());
    }
  }
}

TEST(CloseSequenceTest, MinimiseHidesToTheTrayOnlyWhereOneExists) {
  for (bool tray : {true, false}) {
    AppHarness h(tray);
    UiTestScope::Store(kSettings, QStringLiteral("FirstRun"), 0);
    ASSERT_TRUE(h.Start());
    h.Frame().setWindowState(Qt::WindowMinimized);
    AppHarness::Pump();
    SCOPED_TRACE(tray);
    EXPECT_EQ(h.Frame().isVisible(), !tray);
    EXPECT_EQ(h.Frame().isMinimized(), !tray);
  }
}

// A close request (the title bar's button, delivered as a close event) while
// "Confirm Exit" is open goes to the confirmation: the window neither hides
// nor closes, and no second confirmation opens. "No" leaves the window where
// the user can see it.
TEST(CloseSequenceTest, CloseRequestsDuringTheConfirmationGoToIt) {
  for (bool tray : {true, false}) {
    SCOPED_TRACE(tray);
    AppHarness h(tray);
    UiTestScope::Store(kSettings, QStringLiteral("FirstRun"), 0);
    ASSERT_TRUE(h.Start());
    h.Frame().OnTimer(FrameTimer::Tick);
    int asked = 0;
    h.scope.answerDialog = [&](QDialog& dialog) {
      ++asked;
      auto& confirm = dynamic_cast<CConfirmExitDlg&>(dialog);
      QCloseEvent request;
      QApplication::sendEvent(&h.Frame(), &request);
      AppHarness::Pump();
      EXPECT_FALSE(request.isAccepted());
      EXPECT_TRUE(h.Frame().isVisible());
      confirm.NoButton()->click();
      return confirm.result();
    };
    h.Frame().OnExit();
    AppHarness::Pump();
    EXPECT_EQ(asked, 1);
    EXPECT_FALSE(h.Frame().IsClosed());
    EXPECT_TRUE(h.Frame().isVisible());
    EXPECT_EQ(UiTestScope::Stored(kWindow, QStringLiteral("MainFrameIsHidden")).toInt(), 0);
  }
}

TEST(CloseSequenceTest, NoShowsAWindowThatWasHiddenInTheTray) {
  AppHarness h;
  UiTestScope::Store(kSettings, QStringLiteral("FirstRun"), 0);
  ASSERT_TRUE(h.Start());
  h.Frame().OnTimer(FrameTimer::Tick);
  h.Frame().close();
  AppHarness::Pump();
  ASSERT_FALSE(h.Frame().isVisible());  // hidden in the tray
  int asked = 0;
  AnswerConfirmExit(h.scope, false, false, &asked);
  h.Frame().OnExit();  // the tray menu's Exit
  AppHarness::Pump();
  EXPECT_EQ(asked, 1);
  EXPECT_FALSE(h.Frame().IsClosed());
  EXPECT_TRUE(h.Frame().isVisible());
}

// Closing right after start, before any tick and without a click into the
// window, does what it does later: it hides into the tray icon, which is
// already up with its picture, or, without a tray, asks.
TEST(CloseSequenceTest, CloseRightAfterStartHidesIntoAShownTrayIconOrAsks) {
  for (bool tray : {true, false}) {
    SCOPED_TRACE(tray);
    AppHarness h(tray);
    UiTestScope::Store(kSettings, QStringLiteral("FirstRun"), 0);
    ASSERT_TRUE(h.Start());
    if (QWidget* focused = QApplication::focusWidget()) focused->clearFocus();
    int asked = 0;
    AnswerConfirmExit(h.scope, false, false, &asked);
    h.Frame().close();
    AppHarness::Pump();
    EXPECT_EQ(asked, tray ? 0 : 1);
    EXPECT_EQ(h.Frame().isVisible(), !tray);
    if (tray) {
      ASSERT_NE(h.Frame().TrayIcon(), nullptr);
      EXPECT_TRUE(h.Frame().TrayIcon()->isVisible());
      EXPECT_FALSE(h.Frame().TrayIcon()->icon().pixmap(16).isNull());
    }
  }
}

TEST(AppStartTest, IconsHaveTheirPictures) {
  AppHarness h;
  UiTestScope::Store(kSettings, QStringLiteral("FirstRun"), 0);
  ASSERT_TRUE(h.Start());
  h.Frame().OnTimer(FrameTimer::Tick);
  ASSERT_NE(h.Frame().TrayIcon(), nullptr);
  EXPECT_FALSE(h.Frame().TrayIcon()->icon().pixmap(16).isNull());
  EXPECT_FALSE(h.Frame().windowIcon().pixmap(32).isNull());
  CSourceListView* tree = h.Frame().SourceTree();
  const ObjectId group = h.Model().RootGroups()[0];
  const CFeedSource* source = h.Model().AddSource(group, u"http://icons.example/");
  tree->RefreshAll();
  for (ObjectId id : {ObjectId{0}, group, source->m_id}) {
    ASSERT_NE(tree->FindItem(id), nullptr);
    EXPECT_FALSE(tree->FindItem(id)->icon(0).pixmap(16).isNull()) << id;
  }
}

// The welcome article is dated when it is installed, so it sorts and reads
// sensibly; its date text stays empty.
TEST(AppStartTest, WelcomeArticleIsDatedWhenInstalled) {
  AppHarness h;
  UiTestScope::Store(kSettings, QStringLiteral("FirstRun"), 0);
  ASSERT_TRUE(h.Start());
  test::FakeClock clock;
  const int64_t installed = QDateTime(QDate(2024, 3, 9), QTime(8, 15, 30)).toSecsSinceEpoch();
  clock.time = [&] { return installed; };
  h.Model().SetClock(clock);
  const ObjectId article = h.Doc().ShowHelpFeed().article;
  const CFeed* welcome = h.Model().GetFeed(article);
  ASSERT_NE(welcome, nullptr);
  EXPECT_TRUE(welcome->m_dateText.empty());
  EXPECT_EQ(CompareDates(welcome->m_date, CDateTime::FromTime(installed)), 0);
  EXPECT_EQ(FormatDisplayDate(welcome->m_date, false, QLocale::c()),
            FormatDisplayDate(CDateTime::FromTime(installed), false, QLocale::c()));
  h.Model().SetClock(SystemClock());
}

TEST(CloseSequenceTest, FailedSaveIsRetried) {
  AppHarness h;
  ASSERT_TRUE(h.Start());
  h.saveResult = false;
  h.Frame().ScheduleSave();
  EXPECT_TRUE(h.Frame().IsFrameTimerActive(FrameTimer::Save));
  h.Frame().OnTimer(FrameTimer::Save);
  EXPECT_EQ(h.saves, 1);
  EXPECT_TRUE(h.Doc().LastSaveFailed());
  EXPECT_TRUE(h.scope.messages.empty());
  EXPECT_TRUE(h.Frame().IsFrameTimerActive(FrameTimer::Save));
  h.saveResult = true;
  h.Frame().OnTimer(FrameTimer::Save);
  EXPECT_EQ(h.saves, 2);
  EXPECT_FALSE(h.Doc().LastSaveFailed());
  EXPECT_FALSE(h.Frame().IsFrameTimerActive(FrameTimer::Save));
}

TEST(SettingsImportTest, StartingWithASettingsFileImportsItAfterConfirmation) {
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("saved.REG"));
  {
    UiTestScope scope;
    UiTestScope::Store(kSettings, QStringLiteral("ConfirmExit"), 0);
    UiTestScope::Store(kWindow, QStringLiteral("MainFrameLeft"), 40);
    ASSERT_TRUE(ExportSettings(path));
  }
  for (bool agree : {false, true}) {
    AppHarness h;
    h.scope.SetAnswer(agree ? QMessageBox::Yes : QMessageBox::No);
    ASSERT_TRUE(h.Start({path}));
    ASSERT_GE(h.scope.messages.size(), 1u);
    EXPECT_EQ(h.scope.messages[0].icon, MsgIcon::Question);
    EXPECT_TRUE(h.scope.messages[0].text.contains(QStringLiteral("saved.REG")));
    SCOPED_TRACE(agree);
    EXPECT_EQ(h.Doc().m_settingsManager.Setting(setting::kConfirmExit), !agree);
    const bool placed = h.Frame().geometry().x() == 40 || h.Frame().frameGeometry().x() == 40;
    EXPECT_EQ(placed, agree);
  }
}

}  // namespace
}  // namespace qb
