// The main frame's commands of the File, Options and Help menus: the first
// start, help, options, about, and the import and export of OPML, data
// files and settings.
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QProgressBar>
#include <QProgressDialog>
#include <QStandardPaths>
#include <QStatusBar>

#include "app/AboutDlg.h"
#include "app/AccountService.h"
#include "app/AddAccountDlg.h"
#include "app/BackgroundWork.h"
#include "app/Commands.h"
#include "app/MainFrame.h"
#include "app/OptionsDlg.h"
#include "app/PaneRouter.h"
#include "app/RSSReaderDoc.h"
#include "app/SettingsExport.h"
#include "app/WaitCursor.h"
#include "classic/DataFileImport.h"
#include "views/Desktop.h"
#include "views/SourceListView.h"
#include "views/ViewText.h"

namespace qb {

// ---------------------------------------------------------------- commands

void CMainFrame::OnFirstRun() {
  OnShowHelpFeed();
  m_doc.m_settingsManager.m_settings.WriteBool(setting::kFirstRun, false);
}

void CMainFrame::OnShowHelpFeed() {
  const CRSSReaderDoc::WelcomeIds welcome = m_doc.ShowHelpFeed();
  // The panes have followed the model; the welcome article is saved with
  // the next change, not on its own.
  m_router->SelectNodeAndArticle(welcome.source, welcome.article);
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
  dlg.m_nRetentionDays = m_doc.m_feedsManager.RetentionDays();
  if (m_desktop.RunDialog(dlg) == QDialog::Accepted) m_commands->SetRetentionDays(dlg.m_nRetentionDays);
}

void CMainFrame::OnAbout() {
  CAboutDlg dlg(m_desktop, this);
  m_desktop.RunDialog(dlg);
}

namespace {

// The file dialog of the File menu's commands, opened in `folder`: for a
// save with `fileName` filled in. Empty when cancelled.
QString AskPath(IDesktop& desktop, QWidget* parent, bool save, const QStringList& filters,
                const QString& suffix, const QString& folder, const QString& fileName) {
  QFileDialog dialog(parent, kDialogWindowFlags);
  dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  dialog.setNameFilters(filters);
  dialog.setDirectory(folder);
  if (save) {
    dialog.setDefaultSuffix(suffix);
    dialog.selectFile(fileName);
  }
  if (desktop.RunDialog(dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().front();
}

const QStringList& OpmlFilters() {
  static const QStringList filters{QStringLiteral("OPML files (*.opml)"), QStringLiteral("All files (*)")};
  return filters;
}

}  // namespace

QString CMainFrame::FileDialogFolder() const {
  if (!m_lastFolder.isEmpty() && QDir(m_lastFolder).exists()) return m_lastFolder;
  return QDir::homePath();
}

QString CMainFrame::AskFilePath(bool save, const QStringList& filters, const QString& suffix,
                                const QString& fileName) {
  const QString path = AskPath(m_desktop, this, save, filters, suffix, FileDialogFolder(), fileName);
  if (!path.isEmpty()) m_lastFolder = QFileInfo(path).absolutePath();
  return path;
}

void CMainFrame::OnImportOpml() {
  const QString path = m_askOpmlPath ? m_askOpmlPath() : AskFilePath(false, OpmlFilters(), QStringLiteral("opml"));
  if (path.isEmpty()) return;
  const ObjectId target = m_commands->ImportTarget(m_sourceTree->SelectedNode());
  // The import changes the model on this thread, so the event loop does not
  // run until it is over (nothing may see or save half a list). The status
  // bar's progress bar is drawn at once at each step instead (the status
  // text comes from the router, like every status text), and handed back to
  // the update pass when the last outline is in.
  const int minimum = m_busyIndicator->minimum();
  const int maximum = m_busyIndicator->maximum();
  const bool busyShown = m_busyIndicator->isVisible();
  bool started = false;
  auto restore = [&] {
    m_busyIndicator->setRange(minimum, maximum);
    m_busyIndicator->setVisible(busyShown || m_updater.Busy());
  };
  const QMetaObject::Connection progress =
      connect(m_commands, &CCommands::importProgress, this, [&](int done, int total) {
        if (done >= total) {
          restore();
          return;
        }
        if (!started) {
          started = true;
          m_busyIndicator->show();
        }
        m_busyIndicator->setRange(0, std::max(total, 1));
        m_busyIndicator->setValue(done);
        statusBar()->repaint();
      });
  m_commands->ImportOpml(path, target);
  disconnect(progress);
  restore();
}

void CMainFrame::OnExportOpml() {
  QString path = m_askOpmlPath ? m_askOpmlPath()
                               : AskFilePath(true, OpmlFilters(), QStringLiteral("opml"),
                                             QString::fromLatin1(kOpmlExportFileName));
  if (path.isEmpty()) return;
  if (!path.toLower().endsWith(QLatin1String(".opml"))) path += QStringLiteral(".opml");
  m_commands->ExportOpml(path);
}

void CMainFrame::OnExportDataFile() {
  const QString path = m_askDataFilePath ? m_askDataFilePath()
                                       // A data file has no extension of its own.
                                       : AskFilePath(true, {QStringLiteral("All files (*)")}, QString(), QStringLiteral("Feeds"));
  if (path.isEmpty()) return;
  const SaveResult result = m_doc.ExportDataFile(path.toStdString());
  const QString shown = QDir::toNativeSeparators(path);
  if (!result.ok) {
    m_desktop.ShowMessage(this, MsgIcon::Warning,
                          QStringLiteral("There was a problem writing the data file '%1': %2")
                              .arg(shown, QString::fromStdString(result.error)));
    return;
  }
  QString text = QStringLiteral("The library has been written to the data file '%1'.").arg(shown);
  if (const int starred = Model().Counts(kStarredNode).total(); starred > 0) {
    text += QLatin1Char(' ') + ToQString(StarsNotExportedNote(static_cast<size_t>(starred)));
  }
  m_desktop.ShowMessage(this, MsgIcon::Information, text);
}

void CMainFrame::SetAccounts(CAccountService* accounts) {
  if (m_accounts != nullptr && m_accounts != accounts) {
    m_accounts->SetStatusListener({});
    m_accounts->SetSyncedListener({});
    m_accounts->SetPasswordAsker({});
  }
  m_accounts = accounts;
  m_addAccountAction->setEnabled(accounts != nullptr && accounts->Available());
  m_commands->SetAccounts(accounts);
  m_sourceTree->SetAccountProblems(
      [accounts](ObjectId account) { return accounts != nullptr ? accounts->Problem(account) : std::u16string(); });
  if (accounts == nullptr) return;
  accounts->SetStatusListener([this](const std::u16string& text) { SetStatusText(text); });
  accounts->SetSyncedListener([this](ObjectId account) { m_sourceTree->RefreshDecoration(account); });
  accounts->SetPasswordAsker([this](ObjectId account) { m_commands->ShowAccountProperties(account); });
  // The accounts sync at start, then on their intervals with the automatic
  // update.
  accounts->SyncDue(Model());
}

void CMainFrame::OnAddAccount() {
  if (m_accounts == nullptr || !m_accounts->Available()) return;
  CAddAccountDlg dlg(*m_accounts, Model(), this);
  if (dlg.exec() == QDialog::Accepted) SetStatusText(dlg.Outcome().toStdU16String());
}

void CMainFrame::OnImportDataFile() {
  const QString path = m_askDataFilePath ? m_askDataFilePath()
                                       : AskFilePath(false, {QStringLiteral("All files (*)")}, QString());
  if (path.isEmpty()) return;
  // Read on a thread of its own (the file may hold hundreds of megabytes),
  // then taken into the model a few feeds a turn, so that the window goes
  // on painting and the user may stop part-way.
  auto file = std::make_unique<CFeedsManager>();
  DataFileImportResult result;
  RunInBackground(
      this, QStringLiteral("Import data file"),
      [](uint64_t, uint64_t) { return QStringLiteral("Reading the data file\u2026"); }, false,
      [&](WorkProgress&) {
        LoadOptions options;
        options.readOnly = true;  // the file stays exactly as it is
        result.load = LoadDataFile(*file, path.toStdString(), options);
      });
  if (result.load.ok() && !result.load.fileAbsent) {
    const LoadOutcome load = result.load;
    CDataFileMerge merge(m_doc.m_feedsManager, *file);
    const bool cancelled = RunInSlices(
        this, QStringLiteral("Import data file"),
        [](uint64_t done, uint64_t total) {
          return QStringLiteral("Importing the data file: %L1 of %L2 articles").arg(done).arg(total);
        },
        [&](WorkProgress& progress) {
          const bool more = merge.Step(2000);
          progress.done = merge.ArticlesDone();
          progress.total = merge.ArticlesTotal();
          return more;
        });
    result = merge.Finish();
    result.load = load;
    result.cancelled = cancelled;
  }
  // What the file held in memory goes back to the system at once; the
  // texts that came in go once written (the store's turn).
  file.reset();
  ReleaseFreeMemory();
  m_desktop.ShowMessage(this, result.imported ? MsgIcon::Information : MsgIcon::Warning,
                        ToQString(result.Summary(QDir::toNativeSeparators(path).toStdString())));
}

void CMainFrame::OnExportSettings() {
  const QString path =
      m_askExportPath ? m_askExportPath()
                      : AskFilePath(true, {QStringLiteral("Registry settings files (*.reg)")},
                                    QStringLiteral("reg"), QString::fromLatin1(kSettingsExportFileName));
  if (!path.isEmpty()) m_commands->ExportSettings(WithRegExtension(path), &m_doc.m_settingsManager);
}

}  // namespace qb
