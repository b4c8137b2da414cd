#include "app/MainFrame.h"

#include "app/AccountService.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QIcon>
#include <QLabel>
#include <QLayout>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QProgressBar>
#include <QResizeEvent>
#include <QScreen>
#include <QSplitter>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QToolBar>
#include <QStyle>
#include <QVBoxLayout>
#include <QWebEngineView>
#include <algorithm>

#include "app/AboutDlg.h"
#include "app/BackgroundWork.h"
#include "app/Commands.h"
#include "app/Notifier.h"
#include "app/OptionsDlg.h"
#include "app/PaneRouter.h"
#include "app/Panes.h"
#include "app/ReaderCommand.h"
#include "app/RSSReaderDoc.h"
#include "app/SaveStatus.h"
#include "app/SettingsExport.h"
#include "app/WaitCursor.h"
#include "base/Clock.h"
#include "base/DateTime.h"
#include "classic/DataFileImport.h"
#include "model/TreeOrder.h"
#include "update/UpdateCycle.h"
#include "views/ArticleFilterBar.h"
#include "views/DateText.h"
#include "views/Desktop.h"
#include "views/FeedListView.h"
#include "views/FeedView.h"
#include "views/SourceListView.h"
#include "views/ViewText.h"

namespace qb {

namespace {

QIcon TrayIconImage(int id) {
  return QIcon(id == kTrayIconAltId ? QStringLiteral(":/icons/tray138.png")
                                    : QStringLiteral(":/icons/tray137.png"));
}

}  // namespace

int DefaultTimerInterval(FrameTimer timer) {
  switch (timer) {
    case FrameTimer::Update: return CCommands::kUpdateIntervalMs;
    case FrameTimer::Tick: return 500;
    case FrameTimer::MarkRead: return CFeedListView::kMarkReadDelayMs;
    // The library writes each change a turn of the event loop after it is
    // made; the timed save only catches what reached it otherwise, and
    // tries a failed write again.
    case FrameTimer::Save: return 1000;
  }
  return 0;
}

CMainFrame::CMainFrame(CRSSReaderDoc& doc, IDesktop& desktop, IFeedUpdater& updater,
                       QWidget* parent)
    : QMainWindow(parent), m_doc(doc), m_desktop(desktop), m_updater(updater) {
  setWindowTitle(QString::fromLatin1(kApplicationName));
  setWindowIcon(QIcon(QStringLiteral(":/icons/quillbend.png")));
  CreateTimers();
  CreateStatusBar();
  m_doc.m_feedsManager.AddObserver(this);
  CreatePanes();
  CreateMenus();
  m_notifier = new CNotifier(m_doc.m_feedsManager, m_doc.m_settingsManager, [this] { return m_trayIcon; }, this);
  connect(m_notifier, &CNotifier::activated, this, &CMainFrame::ShowMainWindow);
  connect(m_commands, &CCommands::busyChanged, this, &CMainFrame::ShowBusy);
  connect(m_commands, &CCommands::passFinished, this, &CMainFrame::OnPassFinished);
  qApp->installEventFilter(this);
  // Logging off ends the program without the close sequence: keep the
  // settings and the model rather than only what the last timed save wrote.
  connect(qApp, &QGuiApplication::commitDataRequest, this, [this](QSessionManager&) { SaveAtSessionEnd(); });
  // Every change the panes follow, also rows another process (quillbend-cli)
  // committed to the library, may change the unread count.
  connect(m_router, &CPaneRouter::changeApplied, this, [this] { m_unreadCountStale = true; });
}

CMainFrame::~CMainFrame() {
  if (m_accounts != nullptr) {
    m_accounts->SetStatusListener({});
    m_accounts->SetSyncedListener({});
    m_accounts->SetPasswordAsker({});
  }
  if (!m_modelGone) m_doc.m_feedsManager.RemoveObserver(this);
  qApp->removeEventFilter(this);
  RemoveTrayIcon();
}

// ---------------------------------------------------------------- creation

void CMainFrame::CreateTimers() {
  for (FrameTimer t : {FrameTimer::Tick, FrameTimer::Save}) {
    auto* timer = new QTimer(this);
    timer->setInterval(DefaultTimerInterval(t));
    timer->setSingleShot(t == FrameTimer::Save);
    connect(timer, &QTimer::timeout, this, [this, t] { OnTimer(t); });
    (t == FrameTimer::Tick ? m_tickTimer : m_saveTimer) = timer;
  }
}

void CMainFrame::CreateStatusBar() {
  // The clock on the left grows as needed; the message pane stretches.
  m_clockPane = new QLabel(QStringLiteral(" "), this);
  m_clockPane->setMinimumWidth(10);
  m_messagePane = new QLabel(this);
  // While an update pass runs: a bar that says the program is busy, though
  // the window stays usable.
  m_busyIndicator = new QProgressBar(this);
  m_busyIndicator->setRange(0, 0);
  m_busyIndicator->setMaximumWidth(96);
  m_busyIndicator->setMaximumHeight(m_clockPane->sizeHint().height());
  m_busyIndicator->setTextVisible(false);
  m_busyIndicator->setToolTip(QStringLiteral("Updating feeds"));
  m_busyIndicator->hide();
  statusBar()->addWidget(m_clockPane, 0);
  statusBar()->addWidget(m_messagePane, 1);
  statusBar()->addPermanentWidget(m_busyIndicator);
  statusBar()->setSizeGripEnabled(true);
  m_statusText = ToQString(kStatusReady);
  m_messagePane->setText(m_statusText);
  m_saveStatus = std::make_unique<CSaveStatus>(*statusBar(), m_doc.Store(),
                                               [this](const QString& text) { SetStatusText(text.toStdU16String()); });
}

void CMainFrame::CreatePanes() {
  m_panes = std::make_unique<CPanes>(*this, m_updater, this);
  m_sourceTree = &m_panes->Tree();
  m_listPane = &m_panes->ListPane();
  m_filterBar = &m_panes->FilterBar();
  m_articleList = &m_panes->List();
  m_articleView = m_panes->Page();
  m_commands = &m_panes->Commands();
  m_router = &m_panes->Router();
  m_outerSplitter = new QSplitter(Qt::Horizontal, this);
  m_outerSplitter->setChildrenCollapsible(false);
  m_innerSplitter = new QSplitter(Qt::Vertical, m_outerSplitter);
  m_innerSplitter->setChildrenCollapsible(false);
  m_outerSplitter->addWidget(m_sourceTree);
  m_outerSplitter->addWidget(m_innerSplitter);
  m_innerSplitter->addWidget(m_listPane);
  m_innerSplitter->addWidget(m_articleView);
  m_outerSplitter->setStretchFactor(1, 1);
  m_innerSplitter->setStretchFactor(1, 1);
  setCentralWidget(m_outerSplitter);
  // Reading moves the selection all the time: it is written at most once
  // every ten seconds (and at exit), not after every article.
  m_selectionSaveTimer = new QTimer(this);
  m_selectionSaveTimer->setSingleShot(true);
  m_selectionSaveTimer->setInterval(10000);
  connect(m_selectionSaveTimer, &QTimer::timeout, this, &CMainFrame::SaveSelection);
  connect(m_sourceTree, &CSourceListView::nodeSelected, this, &CMainFrame::PostSaveSelection);
  connect(m_articleList, &CFeedListView::articleChosen, this, &CMainFrame::PostSaveSelection);
  connect(m_articleList, &CFeedListView::selectionCleared, this, &CMainFrame::PostSaveSelection);
  // Moving a splitter bar is stored like any other change of placement.
  connect(m_outerSplitter, &QSplitter::splitterMoved, this, [this] {
    m_treeWidthIsDefault = false;
    PostSavePlacement();
  });
  // Labels change with the counts; the tree follows once they are in.
  auto fitTree = [this] {
    if (!m_treeWidthIsDefault || m_fitTreePosted) return;
    m_fitTreePosted = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
          m_fitTreePosted = false;
          FitTreeToLabels();
        },
        Qt::QueuedConnection);
  };
  connect(m_sourceTree->model(), &QAbstractItemModel::dataChanged, this, fitTree);
  connect(m_sourceTree->model(), &QAbstractItemModel::rowsInserted, this, fitTree);
  connect(m_sourceTree, &QTreeWidget::itemExpanded, this, fitTree);
  connect(m_innerSplitter, &QSplitter::splitterMoved, this, [this] { PostSavePlacement(); });
}

namespace {

// The theme's icon, else the style's own.
QIcon ThemeIcon(const QWidget& widget, const char* name, QStyle::StandardPixmap fallback) {
  return QIcon::fromTheme(QString::fromLatin1(name), widget.style()->standardIcon(fallback));
}

}  // namespace

void CMainFrame::CreateMenus() {
  // The commands used most, in the File menu and on the toolbar; F5 and
  // Ctrl+F whichever pane has the focus.
  QAction* addFeed = new QAction(ThemeIcon(*this, "list-add", QStyle::SP_FileDialogNewFolder),
                                 QStringLiteral("&Add feed..."), this);
  addFeed->setStatusTip(QStringLiteral("Subscribe to a feed in the selected group"));
  connect(addFeed, &QAction::triggered, this, [this] {
    const ObjectId group = GroupForNewFeed(Model(), m_sourceTree->SelectedNode());
    if (group != 0) m_commands->AddFeed(group);
  });
  QAction* updateAll = new QAction(ThemeIcon(*this, "view-refresh", QStyle::SP_BrowserReload),
                                   QStringLiteral("&Update all feeds"), this);
  updateAll->setShortcut(QKeySequence(Qt::Key_F5));
  updateAll->setShortcutContext(Qt::WindowShortcut);
  updateAll->setStatusTip(QStringLiteral("Download every feed's articles now"));
  connect(updateAll, &QAction::triggered, this, [this] {
    // While a name is being edited F5 belongs to the edit box.
    if (!m_sourceTree->IsEditing()) m_commands->UpdateAll(false);
  });
  m_markAllReadAction = new QAction(ThemeIcon(*this, "mail-mark-read", QStyle::SP_DialogApplyButton),
                                    QStringLiteral("&Mark all as read"), this);
  m_markAllReadAction->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_A));
  m_markAllReadAction->setStatusTip(QStringLiteral("Mark every article of the selected group or feed as read"));
  connect(m_markAllReadAction, &QAction::triggered, this, &CMainFrame::OnMarkAllRead);
  m_filterAction = new QAction(ThemeIcon(*this, "edit-find", QStyle::SP_FileDialogContentsView),
                               QStringLiteral("&Filter articles..."), this);
  m_filterAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F));
  m_filterAction->setStatusTip(QStringLiteral("Show only the articles that contain the words you type"));
  connect(m_filterAction, &QAction::triggered, this, &CMainFrame::OnFindArticles);
  m_readerViewAction = new QAction(ThemeIcon(*this, "view-readermode", QStyle::SP_FileDialogDetailedView),
                                   QStringLiteral("&Reader view"), this);
  m_readerViewAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
  m_readerViewAction->setShortcutContext(Qt::WindowShortcut);
  m_readerViewAction->setCheckable(true);
  m_readerViewAction->setStatusTip(
      QStringLiteral("Show the whole article from its web page instead of the feed's text"));
  if (CReaderCommand* reader = m_panes->Reader()) {
    connect(m_readerViewAction, &QAction::triggered, reader, [reader] { reader->Toggle(); });
    auto update = [this, reader] {
      m_readerViewAction->setEnabled(reader->Available());
      m_readerViewAction->setChecked(reader->Active());
    };
    connect(reader, &CReaderCommand::stateChanged, this, update);
    update();
  } else {
    m_readerViewAction->setEnabled(false);
  }
  QToolBar* toolBar = addToolBar(QStringLiteral("Commands"));
  toolBar->setObjectName(QStringLiteral("commands"));
  toolBar->setMovable(false);
  toolBar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  for (QAction* a : {addFeed, updateAll, m_markAllReadAction, m_filterAction, m_readerViewAction}) toolBar->addAction(a);

  QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
  file->addAction(addFeed);
  file->addAction(updateAll);
  file->addAction(m_markAllReadAction);
  file->addAction(m_filterAction);
  file->addSeparator();
  m_addAccountAction = file->addAction(QStringLiteral("Add &account\u2026"));
  m_addAccountAction->setStatusTip(QStringLiteral("Add an account of a feed service (FreshRSS, Miniflux, ...)"));
  m_addAccountAction->setEnabled(false);
  connect(m_addAccountAction, &QAction::triggered, this, &CMainFrame::OnAddAccount);
  file->addSeparator();
  QAction* importOpml = file->addAction(QStringLiteral("&Import (OPML)..."));
  importOpml->setStatusTip(QStringLiteral("Import a list of feeds"));
  connect(importOpml, &QAction::triggered, this, &CMainFrame::OnImportOpml);
  QAction* exportOpml = file->addAction(QStringLiteral("&Export (OPML)..."));
  exportOpml->setStatusTip(QStringLiteral("Export the list of feeds"));
  connect(exportOpml, &QAction::triggered, this, &CMainFrame::OnExportOpml);
  file->addSeparator();
  QAction* importData = file->addAction(QStringLiteral("Import &data file\u2026"));
  importData->setStatusTip(QStringLiteral("Add the feeds of a data file to the library"));
  connect(importData, &QAction::triggered, this, &CMainFrame::OnImportDataFile);
  QAction* exportData = file->addAction(QStringLiteral("Export data &file\u2026"));
  exportData->setStatusTip(QStringLiteral("Write the library as a data file"));
  connect(exportData, &QAction::triggered, this, &CMainFrame::OnExportDataFile);
  file->addSeparator();
  QAction* exportSettings = file->addAction(QStringLiteral("Export &settings..."));
  exportSettings->setStatusTip(QStringLiteral("Export the settings to a file"));
  connect(exportSettings, &QAction::triggered, this, &CMainFrame::OnExportSettings);
  file->addSeparator();
  QAction* exit = file->addAction(QStringLiteral("E&xit"));
  exit->setStatusTip(QStringLiteral("Quit the application"));
  connect(exit, &QAction::triggered, this, &CMainFrame::OnExit);

  CreateViewMenu();

  QAction* options = menuBar()->addAction(QStringLiteral("&Options"));
  options->setStatusTip(QStringLiteral("Change the program's options"));
  connect(options, &QAction::triggered, this, &CMainFrame::OnOptions);

  QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
  QAction* helpFeed = help->addAction(QStringLiteral("Show &help feed"));
  helpFeed->setStatusTip(QStringLiteral("Show the welcome article"));
  connect(helpFeed, &QAction::triggered, this, &CMainFrame::OnShowHelpFeed);
  help->addSeparator();
  QAction* about = help->addAction(QStringLiteral("&About Quillbend..."));
  about->setStatusTip(QStringLiteral("Display program information, version number and copyright"));
  connect(about, &QAction::triggered, this, &CMainFrame::OnAbout);

  m_trayMenu = new QMenu(QStringLiteral("Sys Tray"), this);
  QAction* show = m_trayMenu->addAction(QStringLiteral("&Show main window"));
  connect(show, &QAction::triggered, this, &CMainFrame::ShowMainWindow);
  m_trayMenu->setDefaultAction(show);
  m_trayMenu->addSeparator();
  QAction* trayExit = m_trayMenu->addAction(QStringLiteral("E&xit"));
  // Queued, as if posted: the tray menu closes before the confirmation.
  connect(trayExit, &QAction::triggered, this, &CMainFrame::OnExit, Qt::QueuedConnection);
}

// ---------------------------------------------------------------- IMainFrame

CFeedsManager& CMainFrame::Model() { return m_doc.m_feedsManager; }

IReaderStore* CMainFrame::ReaderStore() { return m_doc.Store().ReaderStore(); }

void CMainFrame::OnModelChanged(const CFeedsManager&, const CModelChange& change) {
  m_unreadCountStale = true;
  // What another process wrote is in the library already.
  if (!change.external) ScheduleSave();
}

void CMainFrame::OnModelGone(const CFeedsManager&) { m_modelGone = true; }

void CMainFrame::ScheduleSave() {
  QTimer* save = Timer(FrameTimer::Save);
  save->stop();
  save->start();
}

void CMainFrame::SetStatusText(const std::u16string& text) {
  m_statusText = ToQString(text);
  m_messagePane->setText(m_statusText);
}

QString CMainFrame::StatusText() const { return m_messagePane->text(); }

QTimer* CMainFrame::Timer(FrameTimer timer) const {
  switch (timer) {
    case FrameTimer::Tick: return m_tickTimer;
    case FrameTimer::Save: return m_saveTimer;
    default: return nullptr;
  }
}

void CMainFrame::InitialUpdate() {
  m_panes->InitialUpdate();
  StartFrameTimer(FrameTimer::Tick);
}

void CMainFrame::StartFrameTimer(FrameTimer timer) {
  switch (timer) {
    case FrameTimer::Update:
      m_commands->StartUpdateTimer();
      return;
    case FrameTimer::MarkRead:
      return;  // the list starts its own when an article is chosen
    default:
      Timer(timer)->start();
  }
  // The tray icon is up as soon as the ticking starts, not half a second
  // later: closing or minimising may hide the window into it at once.
  if (timer == FrameTimer::Tick && !m_closed) UpdateTrayIcon();
}

void CMainFrame::StopFrameTimer(FrameTimer timer) {
  if (timer == FrameTimer::Update) m_commands->StopUpdateTimer();
  if (QTimer* t = Timer(timer)) t->stop();
}

bool CMainFrame::IsFrameTimerActive(FrameTimer timer) const {
  switch (timer) {
    case FrameTimer::Update: return m_commands->UpdateTimerActive();
    case FrameTimer::MarkRead: return m_articleList->MarkReadPending();
    default: return Timer(timer)->isActive();
  }
}

void CMainFrame::SetTimerInterval(FrameTimer timer, int milliseconds) {
  switch (timer) {
    case FrameTimer::Update: m_commands->SetUpdateInterval(milliseconds); break;
    case FrameTimer::MarkRead: m_articleList->SetMarkReadDelay(milliseconds); break;
    default: Timer(timer)->setInterval(milliseconds);
  }
}

int CMainFrame::TimerInterval(FrameTimer timer) const {
  switch (timer) {
    case FrameTimer::Update: return m_commands->UpdateInterval();
    case FrameTimer::MarkRead: return m_articleList->MarkReadDelay();
    default: return Timer(timer)->interval();
  }
}

void CMainFrame::SetNewArticles(bool on) { m_bNewArticles = on; }

// ---------------------------------------------------------------- timers

void CMainFrame::OnTimer(FrameTimer timer) {
  switch (timer) {
    case FrameTimer::Update:
      OnUpdateTimer();
      break;
    case FrameTimer::Tick:
      UpdateClock();
      UpdateTrayIcon();
      break;
    case FrameTimer::MarkRead:
      m_articleList->MarkPendingRead();
      break;
    case FrameTimer::Save: {
      StopFrameTimer(FrameTimer::Save);
      // The file is written in the background. A failed save leaves the
      // model as it is; try again a little later rather than waiting for
      // the next change or the exit.
      QPointer<CMainFrame> self = this;
      m_doc.SaveInBackground([self](bool written) {
        if (!written && self && !self->m_closed) self->ScheduleSave();
      });
      break;
    }
  }
}

void CMainFrame::OnUpdateTimer() { m_commands->UpdateAll(true); }

void CMainFrame::OnPassFinished(const PassReport& report, bool automatic) {
  if (!automatic || !report.news) return;
  std::vector<SourceNews> news;
  for (const PassReport::NewArticles& n : report.sources) news.push_back({n.source, n.added});
  m_notifier->UpdatePassFinished(news);
}

void CMainFrame::ShowBusy(bool busy) { m_busyIndicator->setVisible(busy); }

void CMainFrame::UpdateClock() {
  const QString text = FormatDisplayDate(CDateTime::FromTime(Model().Clock().CurrentTime()), true);
  if (text == m_lastClockText) return;
  const int needed = m_clockPane->fontMetrics().horizontalAdvance(text) + 10;
  if (m_clockPane->minimumWidth() < needed) m_clockPane->setMinimumWidth(needed);
  m_clockPane->setText(text);
  m_lastClockText = text;
}

void CMainFrame::UpdateTrayIcon() {
  int icon = kTrayIconId;
  if (m_bNewArticles) {
    m_blinkPhase = !m_blinkPhase;
    icon = m_blinkPhase ? kTrayIconId : kTrayIconAltId;
  }
  // Counted again only after a change: a large tree takes milliseconds.
  if (m_unreadCountStale) {
    m_unreadCount = CountUnreadArticles(Model());
    m_unreadCountStale = false;
  }
  const QString tip = TrayToolTip(m_bNewArticles, m_unreadCount);
  const QString title = m_unreadCount > 0 ? QStringLiteral("%1 (%2 unread)").arg(QString::fromLatin1(kApplicationName)).arg(m_unreadCount)
                                          : QString::fromLatin1(kApplicationName);
  if (windowTitle() != title) setWindowTitle(title);
  const bool changed = !m_trayAdded || icon != m_trayIconId || tip != m_trayTip;
  m_trayIconId = icon;
  m_trayTip = tip;
  m_trayAdded = true;
  if (!m_desktop.SystemTrayAvailable()) return;
  if (m_trayIcon == nullptr) {
    m_trayIcon = new QSystemTrayIcon(this);
    m_trayIcon->setContextMenu(m_trayMenu);
    connect(m_trayIcon, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
              if (reason == QSystemTrayIcon::Trigger) ShowMainWindow();
            });
  } else if (!changed) {
    return;
  }
  m_trayIcon->setIcon(TrayIconImage(icon));
  m_trayIcon->setToolTip(tip);
  m_trayIcon->show();
}

bool CMainFrame::TrayIconShown() const {
  return m_trayIcon != nullptr && m_trayIcon->isVisible() && !m_trayIcon->icon().isNull() &&
         m_desktop.SystemTrayAvailable();
}

void CMainFrame::RemoveTrayIcon() {
  if (m_trayIcon != nullptr) {
    m_trayIcon->hide();
    delete m_trayIcon;
    m_trayIcon = nullptr;
  }
  m_trayAdded = false;
}

}  // namespace qb
