#include "app/RSSReaderApp.h"

#include <QApplication>
#include <QIcon>
#include <QMetaObject>
#include <QTimer>

#include "app/Commands.h"
#include "app/DataFileIo.h"
#include "app/DesktopScheme.h"
#include "app/DialogButtons.h"
#include "app/FeedUpdater.h"
#include "app/MainFrame.h"
#include "app/RSSReaderDoc.h"
#include "app/SettingsManager.h"
#include "app/StartRequests.h"
#include "net/Download.h"
#include "views/Desktop.h"
#include "views/FeedListView.h"
#include "views/SourceListView.h"
#include "views/ViewText.h"

// The icons are linked from a static library, which keeps only what is
// referred to: they are registered by name. Outside any namespace, as Qt asks.
static void InitQuillbendResources() { Q_INIT_RESOURCE(quillbend); }

namespace qb {

void InitResources() { InitQuillbendResources(); }

CRSSReaderApp::CRSSReaderApp(AppEnvironment environment) : m_env(environment) {}

CRSSReaderApp::~CRSSReaderApp() {
  m_frame.reset();
  m_doc.reset();
  // libcurl itself is cleaned up by its last holder: the download pool,
  // once its transfers have ended.
  m_network.reset();
}

bool CRSSReaderApp::InitInstance(const QStringList& arguments, bool startHidden) {
  InitResources();
  QApplication::setOrganizationName(QString::fromLatin1(kOrganisationName));
  QApplication::setApplicationName(QString::fromLatin1(kApplicationName));
  QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/quillbend.png")));
  // The window may live on hidden in the tray; the close sequence ends the
  // program.
  QApplication::setQuitOnLastWindowClosed(false);
  ShowFocusInDialogs();

  m_network = std::make_unique<CNetworkLibrary>();
  if (!m_network->ok()) {
    m_env.desktop.ShowMessage(nullptr, MsgIcon::Critical,
                              QStringLiteral("Network initialization failed."));
    return false;
  }

  for (const QString& argument : arguments) {
    const StartRequest request = ClassifyArgument(argument);
    if (request.kind == StartRequest::Kind::ImportSettings) ImportSettingsFile(m_env.desktop, request.value);
  }

  m_doc = std::make_unique<CRSSReaderDoc>(m_env.dataFile, m_env.desktop, m_env.updater);
  if (CDesktopColorScheme* scheme = m_env.colorScheme) {
    m_doc->m_settingsManager.m_applyAppearance = [scheme](Appearance choice) { scheme->SetChoice(choice); };
  }
  m_frame = std::make_unique<CMainFrame>(*m_doc, m_env.desktop, m_env.updater);
  if (m_configureFrame) m_configureFrame(*m_frame);

  if (!m_doc->OnNewDocument()) return false;
  // The window takes its stored size before the views set up, so that the
  // article list sizes its columns to its real width.
  m_frame->RestorePlacement();
  m_frame->InitialUpdate();
  // The node and article selected when the program last ended.
  m_frame->RestoreSelection();
  // Feeds never fetched (imported while the window was not running) need
  // not wait for the first automatic update.
  m_frame->Commands().UpdateNeverFetched();

  // The stored placement again, now with the list's columns, before the
  // window shows, so it never appears elsewhere.
  m_frame->RestorePlacement();
  SettingsSection& ws = m_doc->m_settingsManager.m_windowSettings;
  // A start from the menu is a wish to see the window, however the last
  // session ended; the autostart asks for the tray. Without a tray there
  // would be no way back to a hidden window.
  const bool hidden = startHidden && m_env.desktop.SystemTrayAvailable();
  const bool maximized = ws.ReadBool(setting::kMainFrameIsMaximized, false);
  const bool minimized = ws.ReadBool(setting::kMainFrameIsMinimized, false);
  if (!hidden) {
    if (minimized) {
      m_frame->setAttribute(Qt::WA_ShowWithoutActivating);
      m_frame->showMinimized();
      m_frame->setAttribute(Qt::WA_ShowWithoutActivating, false);
    } else if (maximized) {
      m_frame->showMaximized();
    } else {
      m_frame->showNormal();
    }
  }

  CMainFrame* frame = m_frame.get();
  QMetaObject::invokeMethod(frame, [frame] { frame->SetTrackPlacement(true); },
                            Qt::QueuedConnection);
  if (m_doc->m_settingsManager.Setting(setting::kFirstRun)) {
    QMetaObject::invokeMethod(frame, [frame] { frame->OnFirstRun(); }, Qt::QueuedConnection);
  }
  // After the welcome article, so a feed given at the first start lands
  // beside it.
  QMetaObject::invokeMethod(
      frame,
      [this, arguments] {
        RunStartRequests(*m_frame, *m_doc, arguments, true);
        // Said once, after the first-run work has shown its own status:
        // the next start finds the library.
        if (!m_doc->StatusNote().isEmpty()) m_frame->SetStatusText(FromQString(m_doc->StatusNote()));
        m_started = true;
        RunPending();
      },
      Qt::QueuedConnection);
  return true;
}

void CRSSReaderApp::HandleCommandLine(const QStringList& arguments) {
  m_pending.push_back(arguments);
  RunPending();
}

void CRSSReaderApp::RunPending() {
  if (!m_started || !m_frame || m_pending.empty()) return;
  if (m_frame->IsClosed()) {
    m_pending.clear();
    return;
  }
  if (QApplication::activeModalWidget() != nullptr) {
    // One dialog at a time: the request waits until the open one is closed.
    m_frame->ShowMainWindow();
    QTimer::singleShot(250, m_frame.get(), [this] { RunPending(); });
    return;
  }
  const std::vector<QStringList> pending = std::move(m_pending);
  m_pending.clear();
  for (const QStringList& arguments : pending) {
    m_frame->ShowMainWindow();
    RunStartRequests(*m_frame, *m_doc, arguments, false);
  }
}

}  // namespace qb
