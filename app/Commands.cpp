#include "app/Commands.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QTimer>
#include <QUrl>
#include <algorithm>

#include "app/AccountPropertiesDlg.h"
#include "app/AccountService.h"
#include "app/AddGroupDlg.h"
#include "app/AddNewFeedDlg.h"
#include "app/FeedPropertiesDlg.h"
#include "app/FeedUpdater.h"
#include "app/SettingsExport.h"
#include "app/WaitCursor.h"
#include "base/Text.h"
#include "model/FeedsManager.h"
#include "model/TreeOrder.h"
#include "opml/Opml.h"
#include "update/UpdateCycle.h"
#include "views/Desktop.h"
#include "views/IMainFrame.h"
#include "views/Shell.h"
#include "views/ViewText.h"

namespace qb {

namespace {

constexpr char kSourceXmlName[] = "~feed_source_xml.txt";

// The name the add-feed dialog shows: the group's name as the tree shows it,
// up to its first "(", without blanks at either end.
QString GroupNameForDialog(const std::u16string& name) {
  std::u16string shown = DecodeForDisplay(name);
  shown = shown.substr(0, shown.find(u'('));
  return ToQString(Trim(shown));
}

QMessageBox::StandardButton Ask(IMainFrame& frame, const QString& question,
                                QMessageBox::StandardButtons buttons) {
  return frame.Desktop().ShowMessage(frame.Window(), MsgIcon::Question, question, buttons);
}

}  // namespace

CCommands::CCommands(IMainFrame& frame, IFeedUpdater& updater, QObject* parent)
    : QObject(parent), m_frame(frame), m_updater(updater) {
  m_updateTimer = new QTimer(this);
  m_updateTimer->setInterval(kUpdateIntervalMs);
  m_updateTimer->setSingleShot(true);
  connect(m_updateTimer, &QTimer::timeout, this, [this] { UpdateAll(true); });
  IFeedUpdater::Listener listener;
  listener.status = [this](const std::u16string& text) { SetStatusText(text); };
  listener.sourceApplied = [this](const SourceReport& report) { OnSourceApplied(report); };
  listener.passFinished = [this](const PassReport& report) { OnPassFinished(report); };
  listener.statesStored = [this](const IdList& sources) {
    for (ObjectId id : sources) emit sourceUpdated(id);
  };
  m_updater.SetListener(std::move(listener));
}

CCommands::~CCommands() {
  m_updater.SetListener({});
}

void CCommands::SetUpdateInterval(int milliseconds) { m_updateTimer->setInterval(milliseconds); }
int CCommands::UpdateInterval() const { return m_updateTimer->interval(); }
bool CCommands::UpdateTimerActive() const { return m_updateTimer->isActive(); }
void CCommands::StartUpdateTimer() { m_updateTimer->start(); }
void CCommands::StopUpdateTimer() { m_updateTimer->stop(); }

SourceUpdateState CCommands::SourceState(ObjectId source) const { return m_updater.StateOf(source); }

void CCommands::SetStatusText(const std::u16string& text) { emit progressReported(text); }

CFeedsManager& CCommands::Model() { return m_frame.Model(); }

void CCommands::UpdateAll(bool automatic) {
  // The accounts sync beside the pass, on their own intervals.
  if (m_accounts != nullptr) {
    if (automatic) {
      m_accounts->SyncDue(Model());
    } else {
      m_accounts->SyncAll(Model());
    }
  }
  StartPass(automatic ? PassKind::Automatic : PassKind::UpdateAll,
            [&] { return m_updater.UpdateAll(!automatic); });
}

void CCommands::UpdateSources(const IdList& sources) {
  if (sources.empty()) return;
  StartPass(PassKind::Sources, [&] { return m_updater.UpdateSources(sources, true); });
}

void CCommands::UpdateNode(ObjectId node) {
  // An account's feeds are fetched by its server: the account is synced.
  if (const ObjectId account = Model().AccountOf(node); account != 0) {
    if (m_accounts != nullptr) m_accounts->Sync(Model(), account);
    return;
  }
  IdList sources;
  if (Model().GetFeedSource(node) != nullptr) {
    sources.push_back(node);
  } else if (Model().GetGroup(node) != nullptr) {
    Model().CollectSources(node, sources);
  }
  UpdateSources(sources);
}

void CCommands::UpdateNeverFetched() {
  IdList all;
  Model().CollectSources(0, all);
  IdList never;
  for (ObjectId id : all) {
    const CFeedSource* s = Model().GetFeedSource(id);
    if (s == nullptr || Trim(s->m_url).empty() || !s->m_articles.empty()) continue;
    // Nothing remembered about any attempt: no time, no failure, no
    // validators, no Retry-After.
    SourceUpdateState state = m_updater.StateOf(id);
    state.url.clear();
    if (state == SourceUpdateState{}) never.push_back(id);
  }
  UpdateSources(never);
}

void CCommands::StartPass(PassKind kind, const std::function<bool()>& start) {
  const bool joining = m_updater.Busy();
  if (!joining) {
    m_passKind = kind;
    // The automatic update waits until this pass is over.
    m_updateTimer->stop();
  } else if (kind != PassKind::Automatic && m_passKind == PassKind::Automatic) {
    // The user asked while the automatic pass ran: its news is not announced.
    m_passKind = kind;
  }
  const bool started = start();
  if (!joining && started && m_updater.Busy()) emit busyChanged(true);
  // A pass that found nothing to fetch has already ended (OnPassFinished ran).
}

void CCommands::OnSourceApplied(const SourceReport& report) {
  // The source's new articles showed, and were stored, as the model
  // applied them: what is left is its tooltip and mark.
  emit sourceUpdated(report.source);
}

void CCommands::OnPassFinished(const PassReport& report) {
  const PassKind kind = m_passKind;
  m_passKind = PassKind::None;
  if (report.news) {
    // Every source was shown as it was applied: only the save is left.
    // Only news the user did not ask for is announced in the tray.
    if (kind == PassKind::Automatic) m_frame.SetNewArticles(true);
  }
  m_updateTimer->start();
  emit busyChanged(false);
  emit passFinished(report, kind == PassKind::Automatic);
  // After "Update all feeds" the status line shows the selected source's
  // state; other passes end at "Ready".
  if (kind == PassKind::UpdateAll || kind == PassKind::Automatic) emit updateFinished();
  ApplyRetention();
}

void CCommands::AddGroup(ObjectId parentGroup) {
  CAddGroupDlg dlg(m_frame.Desktop(), m_frame.Window());
  if (m_frame.Desktop().RunDialog(dlg) != QDialog::Accepted) return;
  const std::u16string name = Trim(FromQString(dlg.m_strName));
  if (name.empty()) return;
  const CGroup* group = Model().AddGroup(parentGroup, name);
  if (group == nullptr) return;
  emit nodeSelectionRequested(group->m_id);
}

void CCommands::AddFeed(ObjectId groupId, const QString& presetUrl, AddFeedOrigin origin) {
  const CGroup* group = Model().GetGroup(groupId);
  if (group == nullptr) return;
  CAddNewFeedDlg dlg(m_frame.Desktop(), Model(), groupId, m_updater.NewDiscovery(), m_frame.Window());
  dlg.m_strUrl = presetUrl;
  dlg.m_strGroupName = GroupNameForDialog(group->m_name);
  if (m_frame.Desktop().RunDialog(dlg) != QDialog::Accepted) return;
  if (const ObjectId account = Model().AccountOf(groupId); account != 0) {
    if (m_accounts == nullptr || Model().GetGroup(account) == nullptr) return;
    const QString what =
        QStringLiteral("The feed could not be added to %1").arg(ToQString(Model().GetGroup(account)->m_name));
    const auto added = [this, origin](ObjectId id) {
      if (origin == AddFeedOrigin::User) emit nodeSelectionRequested(id);
    };
    m_accounts->Subscribe(Model(), groupId, FromQString(dlg.m_strUrl), AccountEditDone(what, added));
    return;
  }
  // The dialog checked the address as SubscribeSource takes it; this refuses
  // the same addresses.
  const CFeedSource* source = Model().SubscribeSource(groupId, ViewOf(dlg.m_strUrl));
  if (source == nullptr) return;
  const ObjectId sourceId = source->m_id;
  if (origin == AddFeedOrigin::User) emit nodeSelectionRequested(sourceId);
  // Fetched at once, forced, through the same entry point as every update:
  // its articles and its channel title arrive with it, in the background.
  // When the search has just fetched the feed itself, that document is
  // applied instead of asking the server again.
  if (const DownloadResult* fetched = dlg.FetchedDocument()) {
    const std::u16string url = FromQString(dlg.m_strUrl);
    StartPass(PassKind::Sources, [&] { return m_updater.UpdateSourceFrom(sourceId, url, *fetched); });
    return;
  }
  UpdateSources({sourceId});
}

void CCommands::DeleteSource(ObjectId sourceId, ObjectId groupId) {
  const CFeedSource* source = Model().GetFeedSource(sourceId);
  if (source == nullptr || Model().GetGroup(groupId) == nullptr) return;
  const QString question =
      QStringLiteral("Are you sure you want to delete '%1'?").arg(ToQString(source->m_title));
  if (Model().AccountOf(sourceId) != 0) {
    if (m_accounts == nullptr) return;
    const QString unsubscribe =
        question + QStringLiteral(" The account is unsubscribed from it on the server, for every device.");
    if (Ask(m_frame, unsubscribe, QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes) return;
    const QString what = QStringLiteral("'%1' could not be deleted").arg(ToQString(source->m_title));
    m_accounts->Unsubscribe(Model(), sourceId, AccountEditDone(what, [this, groupId](ObjectId) {
                              m_updater.SourcesRemoved();
                              emit nodeSelectionRequested(groupId);
                            }));
    return;
  }
  if (Ask(m_frame, question, QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes) return;
  Model().DeleteSource(groupId, sourceId);
  m_updater.SourcesRemoved();
  emit nodeSelectionRequested(groupId);
}

void CCommands::DeleteGroup(ObjectId groupId) {
  const CGroup* group = Model().GetGroup(groupId);
  if (group == nullptr) return;
  if (group->m_account && m_accounts != nullptr) return RemoveAccount(groupId);
  // An account's folder goes when the server no longer lists it.
  if (Model().AccountOf(groupId) != 0) return;
  const CGroup* parent = Model().FindParentGroup(groupId);
  if (parent == nullptr && Model().RootGroups().size() == 1) {
    m_frame.Desktop().ShowMessage(
        m_frame.Window(), MsgIcon::Information,
        QStringLiteral("You cannot delete this; you must have at least one group at the root level."));
    return;
  }
  const ObjectId parentId = parent != nullptr ? parent->m_id : 0;
  const QString question =
      QStringLiteral("Are you sure you want to delete '%1'?").arg(ToQString(group->m_name));
  if (Ask(m_frame, question, QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes) return;
  if (!Model().DeleteGroup(groupId)) return;
  m_updater.SourcesRemoved();
  emit nodeSelectionRequested(parentId);
}

void CCommands::Rename(ObjectId node, const QString& name) {
  if (name.isEmpty()) return;
  if (m_accounts != nullptr && (Model().ServerEditsOf(node) & CFeedsManager::kCanRename) != 0) {
    const std::u16string old = Model().GetGroup(node) != nullptr ? Model().GetGroup(node)->m_name
                                                                 : Model().GetFeedSource(node)->m_title;
    m_accounts->Rename(Model(), node, FromQString(name),
                       AccountEditDone(QStringLiteral("'%1' could not be renamed").arg(ToQString(old))));
    return;
  }
  Model().Rename(node, FromQString(name));
}

std::function<void(AccountEditResult)> CCommands::AccountEditDone(QString what, std::function<void(ObjectId)> then) {
  return [self = QPointer<CCommands>(this), what, then](AccountEditResult r) {
    if (!self) return;
    if (!r.error.ok()) {
      self->m_frame.Desktop().ShowMessage(self->m_frame.Window(), MsgIcon::Warning,
                                          what + QStringLiteral(": ") + ToQString(r.error.message));
      return;
    }
    if (then) then(r.node);
  };
}

void CCommands::ShowAccountProperties(ObjectId account) {
  if (m_accounts == nullptr || m_accounts->Settings(account) == nullptr) return;
  CAccountPropertiesDlg dlg(*m_accounts, account, m_frame.Window());
  if (m_frame.Desktop().RunDialog(dlg) != QDialog::Accepted || dlg.Outcome().isEmpty()) return;
  // A new password: synced with it at once.
  m_frame.SetStatusText(FromQString(dlg.Outcome()));
  m_accounts->Sync(Model(), account);
}

void CCommands::RemoveAccount(ObjectId account) {
  const CGroup* group = Model().GetGroup(account);
  if (m_accounts == nullptr || group == nullptr || m_accounts->Settings(account) == nullptr) return;
  const QString question =
      QStringLiteral("Remove the account %1? Its feeds and articles are removed from this computer; the server "
                     "keeps them.")
          .arg(ToQString(group->m_name));
  if (Ask(m_frame, question, QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes) return;
  if (!m_accounts->Remove(Model(), account)) return;
  m_updater.SourcesRemoved();
  emit nodeSelectionRequested(0);
}

void CCommands::ShowProperties(ObjectId sourceId) {
  const CFeedSource* source = Model().GetFeedSource(sourceId);
  if (source == nullptr) return;
  const SourceUpdateState state = SourceState(sourceId);
  CFeedPropertiesDlg dlg(m_frame.Desktop(), m_frame.Window());
  dlg.m_strName = ToQString(source->m_title);
  dlg.m_strUrl = ToQString(source->m_url);
  dlg.m_nRefreshRate = source->m_refreshInterval;
  dlg.m_nRetentionDays = source->m_retentionDays;
  dlg.m_bFullArticle = source->m_fullArticle;
  dlg.m_bServerFeed = Model().AccountOf(sourceId) != 0;
  dlg.m_strLastUpdate = ToQString(source->m_commsStatus);
  dlg.m_strLastUpdated = LastUpdatedText(state);
  dlg.m_strLastError = LastErrorText(state);
  dlg.m_model = &Model();
  if (m_frame.Desktop().RunDialog(dlg) != QDialog::Accepted) return;
  const CFeedSource* changed = Model().GetFeedSource(sourceId);
  if (changed == nullptr) return;
  if (dlg.m_bServerFeed) {
    Model().SetSourceFullArticle(sourceId, dlg.m_bFullArticle);
    return;
  }
  // Through the model's operations, so that the library stores them.
  Model().SetRefreshInterval(
      sourceId, std::clamp(dlg.m_nRefreshRate, CFeedPropertiesDlg::kMinRate, CFeedPropertiesDlg::kMaxRate));
  const bool retentionChanged = Model().SetSourceRetention(sourceId, dlg.m_nRetentionDays);
  Model().SetSourceFullArticle(sourceId, dlg.m_bFullArticle);
  const std::u16string url = FromQString(dlg.m_strUrl);
  // The dialog refused an address of another source; the model may have
  // changed while it was open, so this is asked again.
  if (url.empty() || url == changed->m_url || Model().HasSourceWithUrl(url)) {
    if (retentionChanged && ApplyRetention() > 0) return;
    return;
  }
  Model().SetSourceUrl(sourceId, url);
  // The validators of the old address mean nothing to the new one.
  m_updater.ForgetSource(sourceId);
  if (retentionChanged) ApplyRetention();
  // The new address is tried at once, so the user sees whether it works.
  UpdateSources({sourceId});
}

void CCommands::ClearHistory(ObjectId sourceId) {
  if (Model().GetFeedSource(sourceId) == nullptr) return;
  const QString question = QStringLiteral(
      "Clearing this feed's history will forget all articles it has ever seen. Any articles in "
      "the currently-available list that you do not still have in your list will be downloaded "
      "again. Proceed?");
  if (Ask(m_frame, question, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel) !=
      QMessageBox::Yes)
    return;
  // Through the model, so that the library stores the cleared history (and
  // the validators it voids) with this turn.
  Model().ClearHistory(sourceId);
  // A "not modified" answer would otherwise keep the forgotten articles away.
  m_updater.ForgetSource(sourceId);
  m_frame.Desktop().ShowMessage(m_frame.Window(), MsgIcon::Information,
                                QStringLiteral("History cleared."));
}

void CCommands::MoveSource(ObjectId source, ObjectId group) {
  if (m_accounts != nullptr && Model().CanMoveThroughServer(source, group)) {
    const QString title = ToQString(Model().GetFeedSource(source)->m_title);
    const QString what = QStringLiteral("'%1' could not be moved").arg(title);
    m_accounts->Move(Model(), source, group, AccountEditDone(what));
    return;
  }
  Model().MoveSource(source, group);
}

void CCommands::MoveGroup(ObjectId group, ObjectId targetGroup) {
  Model().MoveGroup(group, targetGroup);
}

void CCommands::SetExpanded(ObjectId groupId, bool expanded) {
  Model().SetExpanded(groupId, expanded);
}

void CCommands::SetStarred(const IdList& articles, bool starred) { Model().SetStarred(articles, starred); }

void CCommands::MarkRead(const IdList& articles, bool read) {
  Model().MarkRead(articles, read);
}

void CCommands::MarkAllRead(ObjectId node) {
  if (Model().GetFeedSource(node) == nullptr && Model().GetGroup(node) == nullptr) return;
  IdList articles;
  Model().CollectFeeds(node, articles);
  IdList unread;
  for (ObjectId id : articles) {
    const CFeed* article = Model().GetFeed(id);
    if (article != nullptr && !article->m_read) unread.push_back(id);
  }
  if (unread.empty()) return;
  Model().MarkRead(unread, true);
}

void CCommands::DeleteArticles(const IdList& articles) {
  Model().DeleteArticles(articles);
}

size_t CCommands::ApplyRetention() {
  // A pass holds the articles it is applying: the next pass's end comes back here.
  if (m_passKind != PassKind::None) return 0;
  return Model().ApplyRetention(Model().Clock().CurrentTime(), m_shownArticle ? m_shownArticle() : ObjectId{0});
}

void CCommands::SetRetentionDays(int days) {
  if (days == Model().RetentionDays()) return;
  Model().SetRetentionDays(days);
  ApplyRetention();
}

QString CCommands::SourceXmlPath() {
  const QString folder = PrivateTempFolder();
  return folder.isEmpty() ? QString() : folder + QLatin1Char('/') + QLatin1String(kSourceXmlName);
}

void CCommands::ShowSourceXml(ObjectId articleId) {
  const CFeed* article = Model().GetFeed(articleId);
  IDesktop& desktop = m_frame.Desktop();
  // A stored article's text is read from the library.
  const SharedText sourceText = article != nullptr ? Model().ArticleTexts(articleId).sourceText : SharedText();
  if (article == nullptr || sourceText.str().empty()) {
    desktop.ShowMessage(m_frame.Window(), MsgIcon::Warning,
                        QStringLiteral("There was a problem displaying the source for the selected feed."));
    return;
  }
  const QString path = SourceXmlPath();
  if (!path.isEmpty()) {
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
      const std::string utf8 = "\xEF\xBB\xBF" + Utf16ToUtf8(sourceText.str());
      file.write(utf8.data(), static_cast<qint64>(utf8.size()));
    }
  }
  if (path.isEmpty() || !QFile::exists(path) || !desktop.OpenUrl(QUrl::fromLocalFile(path))) {
    desktop.ShowMessage(m_frame.Window(), MsgIcon::Warning,
                        QStringLiteral("There was a problem displaying the text file. It has been "
                                       "saved to \n\n%1\n\nYou will need to display this manually.")
                            .arg(path));
  }
}

void CCommands::SortSources(const IdList& sources, int column, bool ascending) {
  Model().SetSort(sources, column, ascending ? kSortAscending : kSortDescending);
}

ObjectId CCommands::ImportTarget(std::optional<ObjectId> selected) {
  // The tree's root item: new groups at the root level, loose feeds in
  // the first root group.
  if (selected == std::optional<ObjectId>(0)) return 0;
  return GroupForNewFeed(Model(), selected);
}

void CCommands::ImportOpml(const QString& path, ObjectId targetGroup) {
  IDesktop& desktop = m_frame.Desktop();
  const QString name = QFileInfo(path).fileName();
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    desktop.ShowMessage(m_frame.Window(), MsgIcon::Warning,
                        QStringLiteral("The file '%1' could not be read.").arg(name));
    return;
  }
  const QByteArray data = file.readAll();
  file.close();
  OpmlImportResult result;
  {
    WaitCursor wait;
    // One change for the whole file: the panes place every new node once,
    // and sort each group once, however many feeds the file holds.
    Model().Batch([&] {
      result = qb::ImportOpml(Model(), data, targetGroup,
                              [this](int done, int total) { emit importProgress(done, total); });
    });
    if (result.ok) {
      // Each new source is fetched once in the background, so its articles
      // and channel title arrive soon; the status line names each while it
      // downloads.
      FetchNewSources(result.newSources);
    }
  }
  if (!result.ok) {
    desktop.ShowMessage(m_frame.Window(), MsgIcon::Warning, OpmlImportWarning(name, result));
    return;
  }
  desktop.ShowMessage(m_frame.Window(), MsgIcon::Information, OpmlImportSummary(result));
}

void CCommands::FetchNewSources(const IdList& sources) {
  const bool idle = m_newSources.empty();
  m_newSources.insert(m_newSources.end(), sources.begin(), sources.end());
  if (idle) FetchNextNewSources();
}

void CCommands::FetchNextNewSources() {
  // Handing a source to the updater costs about a millisecond; thousands of
  // them at once would hold the window up for seconds.
  constexpr size_t kSlice = 100;
  const size_t n = std::min(kSlice, m_newSources.size());
  const IdList slice(m_newSources.begin(), m_newSources.begin() + static_cast<ptrdiff_t>(n));
  m_newSources.erase(m_newSources.begin(), m_newSources.begin() + static_cast<ptrdiff_t>(n));
  // Sources deleted meanwhile are skipped by the updater.
  UpdateSources(slice);
  if (!m_newSources.empty()) {
    QMetaObject::invokeMethod(this, &CCommands::FetchNextNewSources, Qt::QueuedConnection);
  }
}

void CCommands::ExportOpml(const QString& path) {
  // Sources without an address (the welcome page) are left out; the file
  // is read back before it counts as written.
  const OpmlExportResult result = ExportOpmlFile(Model(), path, QDateTime::currentDateTimeUtc());
  const QString shown = QDir::toNativeSeparators(path);
  if (!result.ok) {
    m_frame.Desktop().ShowMessage(
        m_frame.Window(), MsgIcon::Warning,
        QStringLiteral("There was a problem exporting the list of feeds to '%1'.").arg(shown));
    return;
  }
  m_frame.Desktop().ShowMessage(
      m_frame.Window(), MsgIcon::Information,
      QStringLiteral("The list of feeds has been exported to '%1'.").arg(shown));
}

void CCommands::ExportSettings(const QString& path, const CRSSReaderSettingsManager* inUse) {
  if (qb::ExportSettings(path, inUse)) {
    m_frame.Desktop().ShowMessage(
        m_frame.Window(), MsgIcon::Information,
        QStringLiteral("Settings have been exported. To import them at a later time, simply "
                       "double-click the .reg file and follow the prompts."));
  } else {
    m_frame.Desktop().ShowMessage(
        m_frame.Window(), MsgIcon::Warning,
        QStringLiteral("There was a problem exporting the settings. You may have to try manually."));
  }
}

}  // namespace qb
