#include "app/RSSReaderDoc.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTextStream>

#include "app/WaitCursor.h"
#include "base/Clock.h"
#include "update/Validators.h"
#include "views/Desktop.h"
#include "views/ViewText.h"

namespace qb {

QString GetProgramFolder() { return QCoreApplication::applicationDirPath() + u'/'; }

QString WelcomePagePath() {
  const QString beside = GetProgramFolder() + QStringLiteral("welcome.htm");
  if (QFileInfo::exists(beside)) return beside;
  const QString installed = QStandardPaths::locate(QStandardPaths::GenericDataLocation,
                                                   QStringLiteral("quillbend/welcome.htm"));
  if (!installed.isEmpty()) return installed;
  const QString prefix = QCoreApplication::applicationDirPath() + QStringLiteral("/../share/quillbend/welcome.htm");
  if (QFileInfo::exists(prefix)) return QFileInfo(prefix).canonicalFilePath();
  return beside;
}

QString ReadTextFile(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) return {};
  QTextStream in(&file);
  in.setEncoding(QStringConverter::Utf8);
  QString text;
  QString line;
  while (in.readLineInto(&line)) {
    text += line;
    text += u'\n';
  }
  return text;
}

CRSSReaderDoc::CRSSReaderDoc(IDataFileIo& dataFile, IDesktop& desktop, IFeedUpdater& updater)
    : m_dataFile(dataFile), m_desktop(desktop), m_updater(updater) {
  m_updater.Attach(&m_feedsManager);
}

CRSSReaderDoc::~CRSSReaderDoc() {
  // A background save of this model that is still being written finishes
  // first; its result no longer reaches this document.
  m_alive.reset();
  m_dataFile.WaitForSaves();
  // The store lets go of the updater's fetch state before the updater's
  // engine, which holds it, goes.
  m_dataFile.Detach(m_feedsManager);
  m_updater.Attach(nullptr);
}

bool CRSSReaderDoc::OnNewDocument() {
  m_feedsManager.SeedRandom(static_cast<uint32_t>(m_feedsManager.Clock().CurrentTime()));
  m_settingsManager.LoadSave(true);
  LoadDataFile();
  return true;
}

std::string CRSSReaderDoc::GetDataFilePath() const { return DataFilePath(); }

void CRSSReaderDoc::LoadDataFile() {
  const DataFileLoadReport report = m_dataFile.Load(m_feedsManager, GetDataFilePath(), m_updater.FetchState());
  m_feedsManager.FixUpAfterLoad();
  if (!report.message.isEmpty()) {
    m_desktop.ShowMessage(nullptr, report.warning ? MsgIcon::Warning : MsgIcon::Critical,
                          report.message);
  }
  m_statusNote = report.statusNote;
}

bool CRSSReaderDoc::SaveDataFile() {
  WaitCursor wait;
  const std::string path = GetDataFilePath();
  const bool ok = m_dataFile.Save(m_feedsManager, path, m_updater.FetchState());
  m_lastSaveFailed = !ok;
  return ok;
}

SaveResult CRSSReaderDoc::ExportDataFile(const std::string& path) {
  WaitCursor wait;
  return m_dataFile.ExportDataFile(m_feedsManager, path);
}

void CRSSReaderDoc::SaveInBackground(std::function<void(bool written)> done) {
  std::weak_ptr<bool> alive = m_alive;
  m_dataFile.SaveInBackground(m_feedsManager, GetDataFilePath(), m_updater.FetchState(),
                              [this, alive, done = std::move(done)](bool written) {
                                if (alive.expired()) return;
                                m_lastSaveFailed = !written;
                                if (done) done(written);
                              });
}

CRSSReaderDoc::WelcomeIds CRSSReaderDoc::ShowHelpFeed() {
  CFeedsManager& m = m_feedsManager;
  const QString welcome = WelcomePagePath();
  CFeed article;
  article.m_channel = u"Help";
  // Dated when installed, so it sorts among the other articles and shows a
  // real date; the date text stays empty.
  article.m_date = CDateTime::FromTime(m.Clock().CurrentTime());
  article.m_description = FromQString(ReadTextFile(welcome));
  article.m_sourceText = SharedText(std::u16string(u"welcome.htm"));
  article.m_key = u"welcome.htm";
  article.m_link = FromQString(welcome);
  article.m_title = kWelcomeTitle;
  // One operation, so the change names the new source and article and the
  // library stores them.
  const CFeedsManager::WelcomeIds ids = m.InstallWelcomeSource(article);
  return {ids.source, ids.article};
}

}  // namespace qb
