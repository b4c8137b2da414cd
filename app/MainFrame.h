// The program's only top-level window: the source tree on the left, the
// article list above the article view on the right, the status bar with its
// clock, the four frame timers, the tray icon with the new-articles notice,
// the stored window placement (MainFramePlacement.cpp), the menus and the
// close sequence. It owns the commands and the router between the panes.
#pragma once

#include <QMainWindow>
#include <functional>
#include <memory>

#include "model/ModelChange.h"
#include "views/IMainFrame.h"

class QDialog;
class QLabel;
class QMenu;
class QProgressBar;
class QSplitter;
class QSystemTrayIcon;
class QTimer;

namespace qb {

class CArticleFilterBar;
class CCommands;
class CFeedListView;
class CFeedView;
class CNotifier;
class CPaneRouter;
class CPanes;
class CRSSReaderDoc;
class CAccountService;
class CSaveStatus;
class CSourceListView;
class IFeedUpdater;
struct PassReport;

// The names the File menu's exports suggest.
inline constexpr char kOpmlExportFileName[] = "Quillbend subscriptions.opml";
inline constexpr char kSettingsExportFileName[] = "Quillbend settings.reg";

inline constexpr int kTrayIconId = 137;     // IDI_TRAY
inline constexpr int kTrayIconAltId = 138;  // IDI_TRAY_ALT

// The window's four timers, by their historical ids. The frame runs the
// clock and tray tick and the timed save; the automatic update belongs to
// the commands and the mark-read delay to the article list, and the frame
// reaches them by these names too.
enum class FrameTimer : int { Update = 1234, Tick = 1235, MarkRead = 1236, Save = 1237 };

// The stored window rectangle on the screen's work area: no larger than it,
// no smaller than kMinimumPlacedSize (nor than it), and moved inside it.
// An empty work area leaves the rectangle as stored.
inline constexpr int kMinimumPlacedSize = 200;
QRect PlacementOnScreen(const QRect& stored, const QRect& work);

// The timers' standard intervals in milliseconds.
int DefaultTimerInterval(FrameTimer timer);

class CMainFrame : public QMainWindow, public IMainFrame, private IModelObserver {
  Q_OBJECT
 public:
  // The desktop and the updater must outlive the frame.
  CMainFrame(CRSSReaderDoc& doc, IDesktop& desktop, IFeedUpdater& updater,
             QWidget* parent = nullptr);
  ~CMainFrame() override;

  // --- IMainFrame
  CFeedsManager& Model() override;
  IDesktop& Desktop() override { return m_desktop; }
  // The save a change of the model asks for (the timer restarted).
  void ScheduleSave();
  void SetStatusText(const std::u16string& text) override;
  void SetNewArticles(bool on) override;
  void PostSavePlacement() override;
  QWidget* Window() override { return this; }
  IReaderStore* ReaderStore() override;

  // Fills the panes from the model and starts the timers that run from
  // then on: the automatic update and the clock with the tray icon.
  void InitialUpdate();

  // --- the panes and what connects them
  CSourceListView* SourceTree() const { return m_sourceTree; }
  CFeedListView* ArticleList() const { return m_articleList; }
  CFeedView* ArticleView() const { return m_articleView; }
  CCommands& Commands() const { return *m_commands; }

  // --- timers. Tests shorten the intervals or fire a timer directly.
  void SetTimerInterval(FrameTimer timer, int milliseconds);
  int TimerInterval(FrameTimer timer) const;
  // Starts (or restarts) a timer with its interval; stops it.
  void StartFrameTimer(FrameTimer timer);
  void StopFrameTimer(FrameTimer timer);
  bool IsFrameTimerActive(FrameTimer timer) const;
  // What happens when the timer expires.
  void OnTimer(FrameTimer timer);

  // --- placement in the "WindowSettings" section.
  // Moves the window and the splitters to the stored placement (defaults:
  // 25 pixels inside the work area, the tree as wide as DefaultTreeWidth,
  // the list a third of its height) and the list's columns to their stored
  // widths. The window is kept on the work area (PlacementOnScreen).
  // Nothing is written while it runs.
  void RestorePlacement();
  // Writes the placement at once, while tracking is on. A hidden window
  // writes only MainFrameIsHidden; a maximised or minimised one only its
  // state, so the last normal rectangle stays stored.
  void SavePlacement();
  void SetTrackPlacement(bool on) { m_bTrackPlacement = on; }
  // The tree's width when none is stored: a fifth of the client width, or
  // what its longest label needs, up to half the client width.
  int DefaultTreeWidth(int clientWidth) const;
  // While the tree has that default width (none stored, the user has not
  // moved the bar), it grows to labels that grow (counts of feeds fetched
  // after the start) up to that width; it never shrinks.
  void FitTreeToLabels();
  bool TrackPlacement() const { return m_bTrackPlacement; }

  // --- commands
  void OnFirstRun();
  void ShowMainWindow();
  // File and tray "E&xit": the close sequence (never hides to the tray).
  void OnExit();
  void OnOptions();
  void OnExportSettings();
  // File "&Import (OPML)..." and "&Export (OPML)...".
  void OnImportOpml();
  void OnExportOpml();
  // File "Import data file..." and "Export data file...": the classic data
  // file format, into and out of the library.
  void OnImportDataFile();
  void OnAddAccount();
  void OnExportDataFile();
  void OnAbout();
  void OnShowHelpFeed();
  // Confirmation, then the settings and the data file are saved, tracking
  // stops and the tray icon goes. False when the user answered "No".
  bool RunCloseSequence();
  // Waits for what is not yet saved, or lets the user choose; false when
  // the user goes back to the window.
  bool FinishSavingAtExit();
  bool IsClosed() const { return m_closed; }
  // Escape, whichever pane has the focus.
  void StopArticleLoading();
  // Shift+F10 in any of the program's windows: the focused widget's context
  // menu, as the menu key opens it. False for the web page, which answers
  // the key itself, and for a disabled widget.
  bool OpenKeyboardContextMenu(QWidget* widget);
  // --- reading (MainFrameReading.cpp)
  // Ctrl+F: the filter bar above the article list, with the cursor in it.
  void OnFindArticles();
  // Ctrl+Shift+A: every article of the selected group or source becomes read.
  void OnMarkAllRead();
  // "Update this feed" / "Update this group" for the selected node.
  void OnUpdateSelected();
  // N, P and Space as menu commands.
  void OnNextUnread();
  void OnPreviousUnread();
  void OnReadOn();
  // The selected node and article, stored in "WindowSettings"
  // (SelectedNode, SelectedArticle) when they differ from what is stored,
  // and selected again at start when they still exist.
  void SaveSelection();
  void RestoreSelection();
  CArticleFilterBar* FilterBar() const { return m_filterBar; }
  QMenu* ViewMenu() const { return m_viewMenu; }
  // "Reader view" (Ctrl+R), on the toolbar and in the View menu.
  QAction* ReaderViewAction() const { return m_readerViewAction; }
  // The session ends (log-off): save without asking.
  void SaveAtSessionEnd();

  // --- state shown to the user, for tests
  bool NewArticles() const { return m_bNewArticles; }
  int TrayIconId() const { return m_trayIconId; }
  QString TrayTip() const { return m_trayTip; }
  bool TrayIconAdded() const { return m_trayAdded; }
  QSystemTrayIcon* TrayIcon() const { return m_trayIcon; }
  QString ClockText() const { return m_lastClockText; }
  QLabel* ClockPane() const { return m_clockPane; }
  // Shown while an update pass runs.
  QProgressBar* BusyIndicator() const { return m_busyIndicator; }
  // The mark that says changes are not being saved.
  const CSaveStatus* SaveStatus() const { return m_saveStatus.get(); }

  QString StatusText() const;
  QSplitter* OuterSplitter() const { return m_outerSplitter; }
  QSplitter* InnerSplitter() const { return m_innerSplitter; }
  QMenu* TrayMenu() const { return m_trayMenu; }
  CNotifier* Notifier() const { return m_notifier; }

  // --- seams
  // Asks for the export file name; empty means cancelled.
  using PathAsker = std::function<QString()>;
  // File > "Add account..." adds through `accounts` (null: the item is
  // off), which must outlive the frame or be reset first.
  void SetAccounts(CAccountService* accounts);
  void SetExportPathAsker(PathAsker asker) { m_askExportPath = std::move(asker); }
  // Asks for the OPML file to import or to export to; empty means cancelled.
  void SetOpmlPathAsker(PathAsker asker) { m_askOpmlPath = std::move(asker); }
  // Where the next file dialog opens: the folder of the last file chosen in
  // one (this session), while it exists, else the home folder.
  QString FileDialogFolder() const;
  // Asks for the data file to import or to export to.
  void SetDataFilePathAsker(PathAsker asker) { m_askDataFilePath = std::move(asker); }

 signals:
  void articleLoadingStopped();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;
  void moveEvent(QMoveEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  bool event(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // Every change of the model: the store's save follows, and the unread
  // count of the title and the tray.
  void OnModelChanged(const CFeedsManager& model, const CModelChange& change) override;
  void OnModelGone(const CFeedsManager& model) override;
  bool m_modelGone = false;

  void CreateMenus();
  void CreateStatusBar();
  void CreatePanes();
  void CreateTimers();
  void CreateViewMenu();
  // The View menu's entries that depend on the selected node.
  void UpdateViewMenu();
  // Saves the selection a little later: selections change key by key.
  void PostSaveSelection();
  // The automatic update; news from it is also announced on the desktop.
  void OnUpdateTimer();
  void OnPassFinished(const PassReport& report, bool automatic);
  void ShowBusy(bool busy);
  void UpdateClock();
  void UpdateTrayIcon();
  void RemoveTrayIcon();
  // Whether our icon is in the tray, with its picture: the only tray the
  // window may hide into.
  bool TrayIconShown() const;
  // The file dialog in FileDialogFolder(), a save with `fileName` filled
  // in; notes the folder of the file chosen. Empty when cancelled.
  QString AskFilePath(bool save, const QStringList& filters, const QString& suffix,
                      const QString& fileName = QString());
  // The frame's own timers (Tick and Save); null for the others.
  QTimer* Timer(FrameTimer timer) const;

  CRSSReaderDoc& m_doc;
  IDesktop& m_desktop;
  IFeedUpdater& m_updater;
  QTimer* m_tickTimer = nullptr;
  QTimer* m_saveTimer = nullptr;
  bool m_bTrackPlacement = false;
  bool m_bNewArticles = false;
  QSplitter* m_outerSplitter = nullptr;
  QSplitter* m_innerSplitter = nullptr;
  CSourceListView* m_sourceTree = nullptr;
  CFeedListView* m_articleList = nullptr;
  CFeedView* m_articleView = nullptr;
  QWidget* m_listPane = nullptr;  // the filter bar over the article list
  CArticleFilterBar* m_filterBar = nullptr;
  QMenu* m_viewMenu = nullptr;
  QAction* m_markAllReadAction = nullptr;
  QAction* m_filterAction = nullptr;
  QAction* m_addAccountAction = nullptr;
  CAccountService* m_accounts = nullptr;
  QAction* m_readerViewAction = nullptr;
  QAction* m_updateSelectedAction = nullptr;
  QTimer* m_selectionSaveTimer = nullptr;
  // What SelectedNode and SelectedArticle hold.
  std::pair<uint32_t, uint32_t> m_storedSelection{0, 0};
  // The panes with the commands and the router; the pointers above and
  // below name what it holds.
  std::unique_ptr<CPanes> m_panes;
  std::unique_ptr<CSaveStatus> m_saveStatus;

  CCommands* m_commands = nullptr;
  CPaneRouter* m_router = nullptr;
  QLabel* m_clockPane = nullptr;
  QLabel* m_messagePane = nullptr;
  QProgressBar* m_busyIndicator = nullptr;
  QString m_statusText;
  QString m_lastClockText;

  QSystemTrayIcon* m_trayIcon = nullptr;
  QMenu* m_trayMenu = nullptr;
  bool m_trayAdded = false;
  bool m_blinkPhase = false;
  int m_trayIconId = 0;
  QString m_trayTip;
  CNotifier* m_notifier = nullptr;
  int m_unreadCount = 0;
  bool m_unreadCountStale = true;

  bool m_savePlacementPosted = false;
  bool m_treeWidthIsDefault = false;
  bool m_fitTreePosted = false;
  bool m_exitRequested = false;
  bool m_closed = false;
  // The exit confirmation while it is open.
  QDialog* m_confirmExit = nullptr;
  PathAsker m_askExportPath;
  PathAsker m_askOpmlPath;
  QString m_lastFolder;
  PathAsker m_askDataFilePath;
};

}  // namespace qb
