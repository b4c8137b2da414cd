#include "app/RSSReaderApp.h"

#include <curl/curl.h>

#include <QApplication>
#include <QFileInfo>
#include <QIcon>
#include <QMetaObject>

#include "app/CoreBridge.h"
#include "app/MainFrame.h"
#include "app/RSSReaderDoc.h"
#include "app/SettingsExport.h"
#include "app/SettingsManager.h"
#include "views/Desktop.h"
#include "views/FeedListView.h"
#include "views/SourceListView.h"

namespace qb {

CRSSReaderApp::CRSSReaderApp(AppEnvironment environment) : m_env(environment) {}

CRSSReaderApp::~CRSSReaderApp() {
  if (m_doc) m_doc->m_feedsManager.m_statusHandler = nullptr;
  m_frame.reset();
  m_doc.reset();
  if (m_networkInitialised) curl_global_cleanup();
}

bool CRSSReaderApp::InitInstance(const QStringList& arguments) {
  QApplication::setOrganizationName(QString::fromLatin1(kOrganisationName));
  QApplication::setApplicationName(QString::fromLatin1(kApplicationName));
  QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/quillbend.png")));
  // The window may live on hidden in the tray; the close sequence ends the
  // program.
  QApplication::setQuitOnLastWindowClosed(false);

  if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
    m_env.desktop.ShowMessage(nullptr, MsgIcon::Critical,
                              QStringLiteral("Network initialization failed."));
    return false;
  }
  m_networkInitialised = true;

  for (const QString& argument : arguments) {
    if (argument.endsWith(QLatin1String(".reg"), Qt::CaseInsensitive)) ImportSettingsFile(argument);
  }

  m_doc = std::make_unique<CRSSReaderDoc>(m_env.dataFile, m_env.desktop);
  m_frame = std::make_unique<CMainFrame>(*m_doc, m_env.desktop, m_env.updater);
  if (m_configureFrame) m_configureFrame(*m_frame);

  if (!m_doc->OnNewDocument()) return false;
  // The window takes its stored size before the views set up, so that the
  // article list sizes its columns to its real width.
  m_frame->RestorePlacement();
  m_frame->SourceTree()->InitialUpdate();
  m_frame->ArticleList()->InitialUpdate();

  // The stored placement again, now with the list's columns, before the
  // window shows, so it never appears elsewhere.
  m_frame->RestorePlacement();
  SettingsSection& ws = m_doc->m_settingsManager.m_windowSettings;
  bool hidden = ws.ReadBool(setting::kMainFrameIsHidden, false);
  const bool maximized = ws.ReadBool(setting::kMainFrameIsMaximized, false);
  const bool minimized = ws.ReadBool(setting::kMainFrameIsMinimized, false);
  // Without a tray there would be no way back to a hidden window.
  if (hidden && !m_env.desktop.SystemTrayAvailable()) hidden = false;
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

  m_doc->m_feedsManager.m_statusHandler = m_frame.get();

  CMainFrame* frame = m_frame.get();
  QMetaObject::invokeMethod(frame, [frame] { frame->SetTrackPlacement(true); },
                            Qt::QueuedConnection);
  if (m_doc->m_settingsManager.Setting(setting::kFirstRun)) {
    QMetaObject::invokeMethod(frame, [frame] { frame->OnFirstRun(); }, Qt::QueuedConnection);
  }
  return true;
}

void CRSSReaderApp::ImportSettingsFile(const QString& path) {
  const QString name = QFileInfo(path).fileName();
  IDesktop& desktop = m_env.desktop;
  const auto answer = desktop.ShowMessage(
      nullptr, MsgIcon::Question,
      QStringLiteral("Are you sure you want to import the settings in '%1' into Quillbend?").arg(name),
      QMessageBox::Yes | QMessageBox::No);
  if (answer != QMessageBox::Yes) return;
  if (ImportSettings(path)) {
    desktop.ShowMessage(nullptr, MsgIcon::Information,
                        QStringLiteral("The settings in '%1' have been imported.").arg(name));
  } else {
    desktop.ShowMessage(nullptr, MsgIcon::Warning,
                        QStringLiteral("'%1' could not be read as a Quillbend settings file.").arg(name));
  }
}

}  // namespace qb
