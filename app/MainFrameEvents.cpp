// The main frame's events: minimising to the tray, the close sequence with
// its save at exit (and at the end of the desktop's session), and the
// keyboard's context menu and keys of the panes.
#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QDialog>
#include <QDir>
#include <QKeyEvent>
#include <QStatusTipEvent>
#include <QWebEngineView>
#include <QWindowStateChangeEvent>

#include "app/Commands.h"
#include "app/ConfirmExitDlg.h"
#include "app/MainFrame.h"
#include "app/RSSReaderDoc.h"
#include "app/SaveStatus.h"
#include "app/WaitCursor.h"
#include "views/ArticleFilterBar.h"
#include "views/Desktop.h"
#include "views/FeedListView.h"
#include "views/FeedView.h"
#include "views/SourceListView.h"

namespace qb {

namespace {

bool IsInside(const QWidget* widget, const QWidget* pane) {
  for (const QWidget* w = widget; w != nullptr; w = w->parentWidget()) {
    if (w == pane) return true;
  }
  return false;
}

}  // namespace

void CMainFrame::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  if (event->type() != QEvent::WindowStateChange) return;
  const auto* change = static_cast<QWindowStateChangeEvent*>(event);
  const bool nowMinimized = (windowState() & Qt::WindowMinimized) != 0;
  const bool wasMinimized = (change->oldState() & Qt::WindowMinimized) != 0;
  if (nowMinimized && !wasMinimized && m_bTrackPlacement &&
      m_doc.m_settingsManager.Setting(setting::kMinimizeToSysTray) && TrayIconShown()) {
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
  if (m_confirmExit != nullptr) {
    // The confirmation answers every close request while it is open.
    event->ignore();
    m_confirmExit->raise();
    m_confirmExit->activateWindow();
    return;
  }
  const bool exitRequested = m_exitRequested;
  m_exitRequested = false;
  if (!exitRequested && m_doc.m_settingsManager.Setting(setting::kCloseToSysTray) &&
      TrayIconShown()) {
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
    m_confirmExit = &dlg;
    const int answer = m_desktop.RunDialog(dlg);
    m_confirmExit = nullptr;
    if (answer != QDialog::Accepted) {
      // The program runs on, so the user must be able to see it, also when
      // the exit was asked for from the tray while the window was hidden.
      ShowMainWindow();
      return false;
    }
    if (dlg.m_bDontAskAgain != 0) settings.m_settings.WriteBool(setting::kConfirmExit, false);
  }
  {
    // The only wait on the network and the disk the window ever makes:
    // transfers in flight are abandoned (within a second), the background
    // save finishes, and the final state is written.
    WaitCursor wait;
    m_updater.Cancel();
    StopFrameTimer(FrameTimer::Save);
    settings.LoadSave(false);
    SaveSelection();
    FlushSettings();
    m_doc.SaveDataFile();
  }
  if (!FinishSavingAtExit()) {
    ShowMainWindow();
    return false;
  }
  m_bTrackPlacement = false;
  RemoveTrayIcon();
  m_closed = true;
  m_tickTimer->stop();
  m_saveTimer->stop();
  m_commands->StopUpdateTimer();
  return true;
}

bool CMainFrame::FinishSavingAtExit() {
  IDataFileIo& store = m_doc.Store();
  if (store.CurrentSaveState().unsaved == 0) return true;
  // Not yet on the disk: waited for with the window answering, and when
  // the writes fail the user decides.
  CUnsavedChangesDlg dlg(
      store,
      [this] {
        const QString path = m_askDataFilePath ? m_askDataFilePath()
                                               : AskFilePath(true, {QStringLiteral("All files (*)")}, QString(),
                                                             QStringLiteral("Feeds"));
        if (path.isEmpty()) return false;
        const SaveResult result = m_doc.Store().ExportModel(m_doc.m_feedsManager, path.toStdString());
        if (!result.ok) {
          m_desktop.ShowMessage(this, MsgIcon::Warning,
                                QStringLiteral("There was a problem writing the data file '%1': %2")
                                    .arg(QDir::toNativeSeparators(path), QString::fromStdString(result.error)));
        }
        return result.ok;
      },
      this);
  const int outcome = dlg.result() == CUnsavedChangesDlg::Saved ? int(CUnsavedChangesDlg::Saved) : m_desktop.RunDialog(dlg);
  return outcome != QDialog::Rejected;
}

void CMainFrame::StopArticleLoading() {
  m_articleView->StopLoading();
  emit articleLoadingStopped();
}

void CMainFrame::SaveAtSessionEnd() {
  if (m_closed) return;
  WaitCursor wait;
  m_updater.Cancel();
  StopFrameTimer(FrameTimer::Save);
  m_doc.m_settingsManager.LoadSave(false);
  SaveSelection();
  FlushSettings();
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

namespace {

// Shift+F10 asks for the context menu as the menu key does. The web page
// answers it itself (the engine knows the page's focused element).
bool IsContextMenuKey(const QKeyEvent* key) {
  return key->key() == Qt::Key_F10 && (key->modifiers() & ~Qt::KeypadModifier) == Qt::ShiftModifier;
}

bool IsInsideWebPage(const QWidget* widget) {
  for (const QWidget* w = widget; w != nullptr; w = w->parentWidget()) {
    if (qobject_cast<const QWebEngineView*>(w) != nullptr) return true;
  }
  return false;
}

}  // namespace

bool CMainFrame::OpenKeyboardContextMenu(QWidget* widget) {
  if (widget == nullptr || !widget->isEnabled() || IsInsideWebPage(widget)) return false;
  // Where the menu key puts it: at the text cursor, else the widget's middle.
  const QRect cursor = widget->inputMethodQuery(Qt::ImCursorRectangle).toRect();
  const QPoint pos = cursor.isValid() ? cursor.center() : widget->rect().center();
  QContextMenuEvent menu(QContextMenuEvent::Keyboard, pos, widget->mapToGlobal(pos), Qt::NoModifier);
  QCoreApplication::sendEvent(widget, &menu);
  return true;
}

bool CMainFrame::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress && IsContextMenuKey(static_cast<QKeyEvent*>(event)) &&
      QApplication::activePopupWidget() == nullptr) {
    QWidget* focus = QApplication::focusWidget();
    auto* widget = qobject_cast<QWidget*>(watched);
    if (focus != nullptr && widget != nullptr && widget->window() == focus->window() &&
        OpenKeyboardContextMenu(focus)) {
      return true;
    }
  }
  if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
    auto* widget = qobject_cast<QWidget*>(watched);
    if (widget != nullptr && widget->window() == this) {
      // Editing a label in the tree takes Escape first.
      if (widget != m_sourceTree && widget != m_sourceTree->viewport() &&
          IsInside(widget, m_sourceTree)) {
        return false;
      }
      // The filter bar takes Escape to clear itself.
      if (IsInside(widget, m_filterBar)) return false;
      StopArticleLoading();
      return true;
    }
  }
  return QMainWindow::eventFilter(watched, event);
}

}  // namespace qb
