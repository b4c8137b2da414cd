#include "app/RSSReaderDoc.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTextStream>

#include "app/WaitCursor.h"
#include "model/Clock.h"
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

CRSSReaderDoc::CRSSReaderDoc(IDataFileIo& dataFile, IDesktop& desktop)
    : m_dataFile(dataFile), m_desktop(desktop) {}

bool CRSSReaderDoc::OnNewDocument() {
  m_feedsManager.SeedRandom(static_cast<uint32_t>(m_feedsManager.Clock().CurrentTime()));
  m_settingsManager.LoadSave(true);
  LoadDataFile();
  return true;
}

std::string CRSSReaderDoc::GetDataFilePath() const { return DataFilePath(); }

void CRSSReaderDoc::LoadDataFile() {
  const std::string path = GetDataFilePath();
  const DataFileLoadReport report = m_dataFile.Load(m_feedsManager, path);
  m_feedsManager.FixUpAfterLoad();
  if (!report.message.isEmpty()) {
    m_desktop.ShowMessage(nullptr, report.warning ? MsgIcon::Warning : MsgIcon::Critical,
                          report.message);
  }
}

bool CRSSReaderDoc::SaveDataFile() {
  WaitCursor wait;
  const std::string path = GetDataFilePath();
  const bool ok = m_dataFile.Save(m_feedsManager, path);
  m_lastSaveFailed = !ok;
  return ok;
}

CRSSReaderDoc::WelcomeIds CRSSReaderDoc::ShowHelpFeed() {
  CFeedsManager& m = m_feedsManager;
  const QString welcome = WelcomePagePath();

  CFeed* article = m.NewFeed();
  article->m_read = false;
  article->m_channel = u"Help";
  // Dated when installed, so it sorts among the other articles and shows a
  // real date; the date text stays empty.
  article->m_date = CDateTime::FromTime(m.Clock().CurrentTime());
  article->m_dateText.clear();
  article->m_description = FromQString(ReadTextFile(welcome));
  article->m_sourceText = SharedText(std::u16string(u"welcome.htm"));
  article->m_key = u"welcome.htm";
  article->m_link = FromQString(welcome);
  article->m_title = kWelcomeTitle;
  const ObjectId articleId = article->m_id;

  CFeedSource* source = m.NewFeedSource();
  source->m_title = kWelcomeTitle;
  source->m_url.clear();
  source->m_refreshInterval = 525600;
  source->m_commsStatus = u"OK";
  source->m_autoName = false;
  source->m_lastUpdateTick = 0;
  source->m_sortColumn = 0;
  source->m_sortDirection = kSortAscending;
  source->m_articles.push_back(articleId);
  const ObjectId sourceId = source->m_id;

  CGroup* group = m.FindRootGroupByName(kAllSourcesName);
  if (group == nullptr) {
    group = m.NewGroup();
    group->m_name = kAllSourcesName;
    m.m_rootGroups.push_back(group->m_id);
  }
  if (CFeedSource* old = m.FindSourceByTitle(group, kWelcomeTitle)) {
    const ObjectId oldId = old->m_id;
    group->RemoveSource(oldId);
    m.DeleteObject(oldId);
  }
  group->m_sources.push_back(sourceId);
  return {sourceId, articleId};
}

}  // namespace qb
