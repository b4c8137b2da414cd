#include "app/MainFrame.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QMenu>
#include <QMenuBar>
#include <QResizeEvent>
#include <QSaveFile>
#include <QScreen>
#include <QSessionManager>
#include <QSplitter>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWindowStateChangeEvent>

#include "app/AboutDlg.h"
#include "app/ConfirmExitDlg.h"
#include "app/CoreBridge.h"
#include "app/Modal.h"
#include "app/Notifier.h"
#include "opml/Opml.h"
#include "app/OptionsDlg.h"
#include "app/RSSReaderDoc.h"
#include "app/SettingsExport.h"
#include "app/WaitCursor.h"
#include "model/DateTime.h"
#include "feeds/UpdateCycle.h"
#include "model/Clock.h"
#include "views/FeedListView.h"
#include "views/FeedView.h"
#include "views/SourceListView.h"

namespace qb {

namespace {

constexpr FrameTimer kTimers[] = {FrameTimer::Update, FrameTimer::Tick, FrameTimer::MarkRead,
                                  FrameTimer::Save};

size_t TimerIndex(FrameTimer timer) {
  return static_cast<size_t>(static_cast<int>(timer) - static_cast<int>(FrameTimer::Update));
}

std::optional<bool>& TrayOverride() {
  static std::optional<bool> available;
  return available;
}

QString FromU16(const std::u16string& s) {
  return QString::fromUtf16(s.data(), static_cast<qsizetype>(s.size()));
}

QIcon TrayIconImage(int id) {
  return QIcon(id == kTrayIconAltId ? QStringLiteral(":/icons/tray138.png")
                                    : QStringLiteral(":/icons/tray137.png"));
}

bool IsInside(const QWidget* widget, const QWidget* pane) {
  for (const QWidget* w = widget; w != nullptr; w = w->parentWidget()) {
    if (w == pane) return true;
  }
  return false;
}

}  // namespace

int DefaultTimerInterval(FrameTimer timer) {
  switch (timer) {
    case FrameTimer::Update: return 60005;
    case FrameTimer::Tick: return 500;
    case FrameTimer::MarkRead: return 10000;
    case FrameTimer::Save: return 5000;
  }
  return 0;
}

CMainFrame::CMainFrame(CRSSReaderDoc& doc, QWidget* parent) : QMainWindow(parent), m_doc(doc) {
  setWindowTitle(QString::fromLatin1(kApplicationName));
  setWindowIcon(QIcon(QStringLiteral(":/icons/quillbend.png")));
  CreateTimers();
  CreateStatusBar();
  CreatePanes();
  CreateMenus();
  m_notifier = new CNotifier(m_doc.m_feedsManager, m_doc.m_settingsManager, [this] { return m_trayIcon; }, this);
  connect(m_notifier, &CNotifier::activated, this, &CMainFrame::ShowMainWindow);
  qApp->installEventFilter(this);
  // Logging off ends the program without the close sequence: keep the
  // settings and the model rather than only what the last timed save wrote.
  connect(qApp, &QGuiApplication::commitDataRequest, this, [this](QSessionManager&) { SaveAtSessionEnd(); });
  connect(qApp, &QApplication::focusChanged, this,
          [this](QWidget*, QWidget* now) { OnFocusChanged(now); });
}

CMainFrame::~CMainFrame() {
  qApp->removeEventFilter(this);
  RemoveTrayIcon();
}

// ---------------------------------------------------------------- creation

void CMainFrame::CreateTimers() {
  for (FrameTimer t : kTimers) {
    auto* timer = new QTimer(this);
    timer->setInterval(DefaultTimerInterval(t));
    timer->setSingleShot(t == FrameTimer::Save);
    connect(timer, &QTimer::timeout, this, [this, t] { OnTimer(t); });
    m_timers[TimerIndex(t)] = timer;
  }
}

void CMainFrame::CreateStatusBar() {
  // The clock on the left grows as needed; the message pane stretches.
  m_clockPane = new QLabel(QStringLiteral(" "), this);
  m_clockPane->setMinimumWidth(10);
  m_messagePane = new QLabel(this);
  statusBar()->addWidget(m_clockPane, 0);
  statusBar()->addWidget(m_messagePane, 1);
  statusBar()->setSizeGripEnabled(true);
  m_statusText = QStringLiteral("Ready");
  m_messagePane->setText(m_statusText);
}

void CMainFrame::CreatePanes() {
  m_outerSplitter = new QSplitter(Qt::Horizontal, this);
  m_outerSplitter->setChildrenCollapsible(false);
  m_sourceTree = new CSourceListView(*this, m_outerSplitter);
  m_innerSplitter = new QSplitter(Qt::Vertical, m_outerSplitter);
  m_innerSplitter->setChildrenCollapsible(false);
  m_articleList = new CFeedListView(*this, m_innerSplitter);
  m_articleView = new CFeedView(*this, m_innerSplitter);
  m_outerSplitter->addWidget(m_sourceTree);
  m_outerSplitter->addWidget(m_innerSplitter);
  m_innerSplitter->addWidget(m_articleList);
  m_innerSplitter->addWidget(m_articleView);
  m_outerSplitter->setStretchFactor(1, 1);
  m_innerSplitter->setStretchFactor(1, 1);
  setCentralWidget(m_outerSplitter);
  // Moving a splitter bar is stored like any other change of placement.
  connect(m_outerSplitter, &QSplitter::splitterMoved, this, [this] { PostSavePlacement(); });
  connect(m_innerSplitter, &QSplitter::splitterMoved, this, [this] { PostSavePlacement(); });
}

void CMainFrame::CreateMenus() {
  QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
  // Importing and exporting the list of feeds comes later; the entries show
  // what is planned but do nothing yet.
  QAction* importOpml = file->addAction(QStringLiteral("&Import (OPML)..."));
  importOpml->setStatusTip(QStringLiteral("Import a list of feeds"));
  connect(importOpml, &QAction::triggered, this, &CMainFrame::OnImportOpml);
  QAction* exportOpml = file->addAction(QStringLiteral("&Export (OPML)..."));
  exportOpml->setStatusTip(QStringLiteral("Export the list of feeds"));
  connect(exportOpml, &QAction::triggered, this, &CMainFrame::OnExportOpml);
  file->addSeparator();
  QAction* exportSettings = file->addAction(QStringLiteral("Export &settings..."));
  exportSettings->setStatusTip(QStringLiteral("Export the settings to a file"));
  connect(exportSettings, &QAction::triggered, this, &CMainFrame::OnExportSettings);
  file->addSeparator();
  QAction* exit = file->addAction(QStringLiteral("E&xit"));
  exit->setStatusTip(QStringLiteral("Quit the application"));
  connect(exit, &QAction::triggered, this, &CMainFrame::OnExit);

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

void CMainFrame::ScheduleSave() {
  // Every change of the model comes through here.
  m_unreadCountStale = true;
  QTimer* save = Timer(FrameTimer::Save);
  save->stop();
  save->start();
}

void CMainFrame::SetStatusText(const std::u16string& text) {
  m_statusText = FromU16(text);
  m_messagePane->setText(m_statusText);
}

QString CMainFrame::StatusText() const { return m_messagePane->text(); }

QTimer* CMainFrame::Timer(FrameTimer timer) const { return m_timers[TimerIndex(timer)]; }

void CMainFrame::StartFrameTimer(FrameTimer timer) { Timer(timer)->start(); }
void CMainFrame::StopFrameTimer(FrameTimer timer) { Timer(timer)->stop(); }
bool CMainFrame::IsFrameTimerActive(FrameTimer timer) const { return Timer(timer)->isActive(); }

void CMainFrame::SetTimerInterval(FrameTimer timer, int milliseconds) {
  Timer(timer)->setInterval(milliseconds);
}

int CMainFrame::TimerInterval(FrameTimer timer) const { return Timer(timer)->interval(); }

void CMainFrame::SetNewArticles(bool on) { m_bNewArticles = on; }

void CMainFrame::PostSavePlacement() {
  if (m_savePlacementPosted) return;
  m_savePlacementPosted = true;
  QMetaObject::invokeMethod(
      this,
      [this] {
        m_savePlacementPosted = false;
        SavePlacement();
      },
      Qt::QueuedConnection);
}

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
    case FrameTimer::Save:
      StopFrameTimer(FrameTimer::Save);
      // A failed save leaves the model as it is; try again a little later
      // rather than waiting for the next change or the exit.
      if (!m_doc.SaveDataFile()) ScheduleSave();
      break;
  }
}

void CMainFrame::OnUpdateTimer() {
  StopFrameTimer(FrameTimer::Update);
  const ArticleCounts before = CountArticlesPerSource(Model());
  const bool news = m_updateAll ? m_updateAll(Model(), false) : RunUpdateAll(Model(), false);
  if (news) {
    ScheduleSave();
    m_sourceTree->ApplyUpdate(UpdateCode::RefreshAll, {}, {});
    m_articleList->ApplyUpdate(UpdateCode::RefreshAll, {}, {});
    m_bNewArticles = true;
    m_notifier->UpdatePassFinished(NewsSince(Model(), before));
  }
  StartFrameTimer(FrameTimer::Update);
  std::u16string status = u"Ready";
  if (const std::optional<ObjectId> node = m_sourceTree->SelectedNode()) {
    if (const CFeedSource* source = Model().GetFeedSource(*node)) status = source->m_commsStatus;
  }
  SetStatusText(status);
}

void CMainFrame::UpdateClock() {
  const QString text = FromU16(CDateTime::FromTime(Model().Clock().CurrentTime()).Format());
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
  const bool changed = !m_trayAdded || icon != m_trayIconId || tip != m_trayTip;
  m_trayIconId = icon;
  m_trayTip = tip;
  m_trayAdded = true;
  if (!SystemTrayAvailable()) return;
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

void CMainFrame::RemoveTrayIcon() {
  if (m_trayIcon != nullptr) {
    m_trayIcon->hide();
    delete m_trayIcon;
    m_trayIcon = nullptr;
  }
  m_trayAdded = false;
}

void CMainFrame::SetSystemTrayAvailableOverride(std::optional<bool> available) {
  TrayOverride() = available;
}

bool CMainFrame::SystemTrayAvailable() {
  if (TrayOverride()) return *TrayOverride();
  return QSystemTrayIcon::isSystemTrayAvailable();
}

void CMainFrame::OnFocusChanged(QWidget* now) {
  if (now == nullptr) return;
  for (const QWidget* pane : {static_cast<QWidget*>(m_sourceTree), static_cast<QWidget*>(m_articleList),
                              static_cast<QWidget*>(m_articleView)}) {
    if (IsInside(now, pane)) {
      SetNewArticles(false);
      return;
    }
  }
}

// ---------------------------------------------------------------- placement

void CMainFrame::RestorePlacement() {
  const bool track = m_bTrackPlacement;
  m_bTrackPlacement = false;
  SettingsSection& ws = m_doc.m_settingsManager.m_windowSettings;
  const QScreen* screen = QGuiApplication::primaryScreen();
  const QRect work = screen != nullptr ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
  const int left = ws.ReadInt(setting::kMainFrameLeft, work.x() + 25);
  const int top = ws.ReadInt(setting::kMainFrameTop, work.y() + 25);
  const int right = ws.ReadInt(setting::kMainFrameRight, work.x() + work.width() - 25);
  const int bottom = ws.ReadInt(setting::kMainFrameBottom, work.y() + work.height() - 25);
  setGeometry(left, top, right - left, bottom - top);
  // Lay the window out now, so the panes have their sizes before it shows.
  if (layout() != nullptr) layout()->activate();

  const int clientWidth = width();
  // The menu bar is not part of the client area.
  const int clientHeight = height() - menuBar()->height();
  const int treeWidth = ws.ReadInt(setting::kSourceListViewWidth, clientWidth / 5);
  const int outerTotal = m_outerSplitter->width() - m_outerSplitter->handleWidth();
  m_outerSplitter->setSizes({std::max(0, treeWidth), std::max(0, outerTotal - treeWidth)});
  const int listHeight = ws.ReadInt(setting::kFeedListViewHeight, clientHeight / 3);
  const int innerTotal = m_innerSplitter->height() - m_innerSplitter->handleWidth();
  m_innerSplitter->setSizes({std::max(0, listHeight), std::max(0, innerTotal - listHeight)});
  // A hidden window keeps its resize events until it shows; the article
  // list needs its viewport's width now to size its columns.
  if (!isVisible()) {
    QResizeEvent resize(m_articleList->size(), m_articleList->size());
    QCoreApplication::sendEvent(m_articleList, &resize);
  }

  if (QHeaderView* header = m_articleList->header()) {
    for (int i = 0; i < header->count(); ++i) {
      const int current = header->sectionSize(i);
      header->resizeSection(i, ws.ReadInt(setting::kFeedListViewColWidth + QString::number(i + 1), current));
    }
  }
  m_bTrackPlacement = track;
}

void CMainFrame::SavePlacement() {
  if (!m_bTrackPlacement) return;
  SettingsSection& ws = m_doc.m_settingsManager.m_windowSettings;
  const bool hidden = !isVisible();
  ws.WriteBool(setting::kMainFrameIsHidden, hidden);
  if (hidden) return;
  const bool maximized = isMaximized();
  const bool minimized = isMinimized();
  ws.WriteBool(setting::kMainFrameIsMaximized, maximized);
  ws.WriteBool(setting::kMainFrameIsMinimized, minimized);
  if (maximized || minimized) return;
  const QRect rect = geometry();
  const QScreen* screen = QGuiApplication::primaryScreen();
  if (screen != nullptr) {
    const QRect virt = screen->virtualGeometry();
    // Still at an off-screen creation position: not a placement of the user's.
    if (rect.x() + rect.width() < virt.x() && rect.y() + rect.height() < virt.y()) return;
  }
  ws.WriteInt(setting::kMainFrameLeft, rect.x());
  ws.WriteInt(setting::kMainFrameTop, rect.y());
  ws.WriteInt(setting::kMainFrameRight, rect.x() + rect.width());
  ws.WriteInt(setting::kMainFrameBottom, rect.y() + rect.height());
  ws.WriteInt(setting::kSourceListViewWidth, m_sourceTree->width());
  ws.WriteInt(setting::kFeedListViewHeight, m_articleList->height());
  if (QHeaderView* header = m_articleList->header()) {
    for (int i = 0; i < header->count(); ++i) {
      ws.WriteInt(setting::kFeedListViewColWidth + QString::number(i + 1), header->sectionSize(i));
    }
  }
}

void CMainFrame::moveEvent(QMoveEvent* event) {
  QMainWindow::moveEvent(event);
  PostSavePlacement();
}

void CMainFrame::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  PostSavePlacement();
}

void CMainFrame::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  PostSavePlacement();
}

void CMainFrame::hideEvent(QHideEvent* event) {
  QMainWindow::hideEvent(event);
  PostSavePlacement();
}

// ---------------------------------------------------------------- events

void CMainFrame::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  if (event->type() != QEvent::WindowStateChange) return;
  const auto* change = static_cast<QWindowStateChangeEvent*>(event);
  const bool nowMinimized = (windowState() & Qt::WindowMinimized) != 0;
  const bool wasMinimized = (change->oldState() & Qt::WindowMinimized) != 0;
  if (nowMinimized && !wasMinimized && m_bTrackPlacement &&
      m_doc.m_settingsManager.Setting(setting::kMinimizeToSysTray) && SystemTrayAvailable()) {
    // Minimising hides to the tray instead; the window keeps its normal state.
    QMetaObject::invokeMethod(
        this,
        [this] {
          setWindowState(windowState() & ~Qt::WindowMinimized);
          hide();
        },
        Qt::QueuedConnection);
    return;
  }
  PostSavePlacement();
}

void CMainFrame::closeEvent(QCloseEvent* event) {
  if (m_closed) {
    event->accept();
    return;
  }
  const bool exitRequested = m_exitRequested;
  m_exitRequested = false;
  if (!exitRequested && m_doc.m_settingsManager.Setting(setting::kCloseToSysTray) &&
      SystemTrayAvailable()) {
    hide();
    event->ignore();
    return;
  }
  if (!RunCloseSequence()) {
    event->ignore();
    return;
  }
  event->accept();
  QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
}

bool CMainFrame::RunCloseSequence() {
  CRSSReaderSettingsManager& settings = m_doc.m_settingsManager;
  if (settings.Setting(setting::kConfirmExit)) {
    CConfirmExitDlg dlg(this);
    if (ExecDialog(dlg) != QDialog::Accepted) return false;
    if (dlg.m_bDontAskAgain != 0) settings.m_settings.WriteBool(setting::kConfirmExit, false);
  }
  {
    WaitCursor wait;
    StopFrameTimer(FrameTimer::Save);
    settings.LoadSave(false);
    m_doc.SaveDataFile();
  }
  m_bTrackPlacement = false;
  RemoveTrayIcon();
  m_closed = true;
  for (QTimer* timer : m_timers) timer->stop();
  return true;
}

void CMainFrame::StopArticleLoading() {
  m_articleView->StopLoading();
  emit articleLoadingStopped();
}

void CMainFrame::SaveAtSessionEnd() {
  if (m_closed) return;
  WaitCursor wait;
  StopFrameTimer(FrameTimer::Save);
  m_doc.m_settingsManager.LoadSave(false);
  m_doc.SaveDataFile();
}

bool CMainFrame::event(QEvent* event) {
  if (event->type() == QEvent::StatusTip) {
    // Menu prompts use the message pane; leaving the menu brings back the
    // last status text.
    const QString tip = static_cast<QStatusTipEvent*>(event)->tip();
    m_messagePane->setText(tip.isEmpty() ? m_statusText : tip);
    return true;
  }
  return QMainWindow::event(event);
}

bool CMainFrame::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
    auto* widget = qobject_cast<QWidget*>(watched);
    if (widget != nullptr && widget->window() == this) {
      // Editing a label in the tree takes Escape first.
      if (widget != m_sourceTree && widget != m_sourceTree->viewport() &&
          IsInside(widget, m_sourceTree)) {
        return false;
      }
      StopArticleLoading();
      return true;
    }
  }
  return QMainWindow::eventFilter(watched, event);
}

// ---------------------------------------------------------------- commands

void CMainFrame::OnFirstRun() {
  m_doc.ShowHelpFeed();
  m_unreadCountStale = true;
  m_doc.m_settingsManager.m_settings.WriteBool(setting::kFirstRun, false);
}

void CMainFrame::OnShowHelpFeed() {
  m_doc.ShowHelpFeed();
  m_unreadCountStale = true;
}

void CMainFrame::ShowMainWindow() {
  if (!isVisible() || isMinimized()) showNormal();
  raise();
  activateWindow();
}

void CMainFrame::OnExit() {
  m_exitRequested = true;
  close();
  m_exitRequested = false;
}

void CMainFrame::OnOptions() {
  COptionsDlg dlg(m_doc.m_settingsManager, this);
  ExecDialog(dlg);
}

void CMainFrame::OnAbout() {
  CAboutDlg dlg(this);
  ExecDialog(dlg);
}

namespace {

QString AskOpmlPath(QWidget* parent, bool save) {
  QFileDialog dialog(parent);
  dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  dialog.setNameFilters({QStringLiteral("OPML files (*.opml)"), QStringLiteral("All files (*)")});
  if (save) dialog.setDefaultSuffix(QStringLiteral("opml"));
  if (ExecDialog(dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().front();
}

}  // namespace

void CMainFrame::OnImportOpml() {
  const QString path = m_askOpmlPath ? m_askOpmlPath() : AskOpmlPath(this, false);
  if (path.isEmpty()) return;
  const QString name = QFileInfo(path).fileName();
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    ShowMessageBox(this, MsgIcon::Warning,
                   QStringLiteral("The file '%1' could not be read.").arg(name));
    return;
  }
  const OpmlImportResult result = ImportOpml(Model(), file.readAll());
  if (!result.ok) {
    ShowMessageBox(this, MsgIcon::Warning, OpmlImportWarning(name, result));
    return;
  }
  if (result.feedsAdded > 0 || result.groupsAdded > 0) {
    ScheduleSave();
    m_sourceTree->ApplyUpdate(UpdateCode::RefreshAll, {}, {});
    m_articleList->ApplyUpdate(UpdateCode::RefreshAll, {}, {});
  }
  if (!result.newSources.empty()) {
    // Each new source is fetched once, so its articles and channel title
    // arrive at once; the status line names each while it downloads.
    {
      WaitCursor wait;
      for (ObjectId id : result.newSources) {
        if (CFeedSource* source = Model().GetFeedSource(id)) UpdateSource(Model(), *source, true);
      }
    }
    ScheduleSave();
    m_sourceTree->ApplyUpdate(UpdateCode::RefreshAll, {}, {});
    m_articleList->ApplyUpdate(UpdateCode::RefreshAll, {}, {});
    SetStatusText(u"Ready");
  }
  ShowMessageBox(this, MsgIcon::Information, OpmlImportSummary(result));
}

void CMainFrame::OnExportOpml() {
  QString path = m_askOpmlPath ? m_askOpmlPath() : AskOpmlPath(this, true);
  if (path.isEmpty()) return;
  if (!path.toLower().endsWith(QLatin1String(".opml"))) path += QStringLiteral(".opml");
  QSaveFile file(path);
  const bool written = file.open(QIODevice::WriteOnly) &&
                       file.write(ExportOpml(Model(), QDateTime::currentDateTimeUtc())) >= 0 &&
                       file.commit();
  if (!written) {
    ShowMessageBox(this, MsgIcon::Warning,
                   QStringLiteral("There was a problem exporting the list of feeds to '%1'.")
                       .arg(QDir::toNativeSeparators(path)));
    return;
  }
  ShowMessageBox(this, MsgIcon::Information,
                 QStringLiteral("The list of feeds has been exported to '%1'.")
                     .arg(QDir::toNativeSeparators(path)));
}

void CMainFrame::OnExportSettings() {
  QString path;
  if (m_askExportPath) {
    path = m_askExportPath();
  } else {
    QFileDialog dialog(this);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilter(QStringLiteral("Registry settings files (*.reg)"));
    dialog.setDefaultSuffix(QStringLiteral("reg"));
    dialog.selectFile(QStringLiteral("*.reg"));
    if (ExecDialog(dialog) == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
      path = dialog.selectedFiles().front();
    }
  }
  if (path.isEmpty()) return;
  path = WithRegExtension(path);
  if (ExportSettings(path)) {
    ShowMessageBox(this, MsgIcon::Information,
                   QStringLiteral("Settings have been exported. To import them at a later time, "
                                  "simply double-click the .reg file and follow the prompts."));
  } else {
    ShowMessageBox(this, MsgIcon::Warning,
                   QStringLiteral("There was a problem exporting the settings. You may have to try "
                                  "manually."));
  }
}

}  // namespace qb
