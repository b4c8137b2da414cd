// The window's commands in one place. The panes turn the user's gestures
// into requests; each request is carried out here: the dialog or question,
// the validation, the model operation. What the operation changed reaches
// the panes and the store as the model's change record (the frame's
// CPaneRouter and the store observe the model); a command only adds where
// the tree's selection goes afterwards (nodeSelectionRequested).
#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <optional>

#include "base/StatusHandler.h"
#include "model/RSSObject.h"
#include "sync/AccountEdits.h"
#include "views/IMainFrame.h"

class QTimer;

namespace qb {

class CAccountService;
class CFeedsManager;
class CRSSReaderSettingsManager;
class IFeedUpdater;
class IMainFrame;
struct PassReport;
struct SourceReport;

// The commands are also the model's status handler: what an update pass
// reports about its progress comes out as progressReported, for the status
// line's one writer (CPaneRouter) to show.
class CCommands : public QObject, public IStatusHandler {
  Q_OBJECT
 public:
  // `updater` is the one way sources are fetched; both must outlive this.
  CCommands(IMainFrame& frame, IFeedUpdater& updater, QObject* parent = nullptr);
  ~CCommands() override;

  // --- the automatic update: a pass over the due sources this long after
  // the last pass ended (60,005 ms). Tests shorten the interval.
  static constexpr int kUpdateIntervalMs = 60005;
  void SetUpdateInterval(int milliseconds);
  int UpdateInterval() const;
  bool UpdateTimerActive() const;
  // Starts the timer once the panes show the model; a pass restarts it
  // when it ends.
  void StartUpdateTimer();
  // At exit: no automatic update starts any more.
  void StopUpdateTimer();

  // The accounts of feed services (null: none): "Update all feeds" syncs
  // them all, the automatic update those due, "Update this group" on an
  // account syncs it. It must outlive this or be reset first.
  void SetAccounts(CAccountService* accounts) { m_accounts = accounts; }

  // The article the page shows, which retention leaves alone.
  void SetShownArticle(std::function<ObjectId()> shown) { m_shownArticle = std::move(shown); }

  // How the source's last update went in this run.
  SourceUpdateState SourceState(ObjectId source) const;

  // --- IStatusHandler: the update pass's progress ("Updating...").
  void SetStatusText(const std::u16string& text) override;

  // "Update all feeds" fetches every source; the automatic update only the
  // due ones, and news from it raises the new-articles notice. Both return
  // at once: the pass runs in the background, each source's articles show
  // as it is applied, and the update timer restarts when the pass is over.
  // While a pass runs, "Update all feeds" adds the sources not yet in it
  // and the automatic update is skipped.
  void UpdateAll(bool automatic);
  // Fetches these sources now (forced), in the background, like UpdateAll.
  void UpdateSources(const IdList& sources);
  // "Update this feed" / "Update this group": the source, or every source
  // in the group and its sub-groups, through UpdateSources.
  void UpdateNode(ObjectId node);
  // Fetches now (in the background, like UpdateSources) every source with an
  // address that has never been fetched (no articles, nothing recorded of
  // any attempt), such as those an import just added; the others keep
  // waiting until they are due.
  void UpdateNeverFetched();

  // --- the tree's requests
  // A group named in a dialog, at the root level (0) or inside the group.
  void AddGroup(ObjectId parentGroup);
  // Who asked for a feed to be added: the user, from the window, or the
  // desktop, which handed an address over while the user may be reading.
  enum class AddFeedOrigin { User, Desktop };
  // A source for the address typed in the dialog, fetched at once. The
  // dialog starts with `presetUrl`. A feed the user added is selected in the
  // tree (and scrolled to); one the desktop handed over leaves the selection
  // as it is.
  void AddFeed(ObjectId group, const QString& presetUrl = QString(),
               AddFeedOrigin origin = AddFeedOrigin::User);
  // In an account (or one of its folders) the account's server subscribes
  // to the feed; the feed shows once it did, its articles with the sync
  // that follows.
  // Each asks first; the tree then selects the group that held the node
  // (the root item for a root group). The last root group is never deleted.
  // A feed of an account, and its renaming and moving below, go to the
  // account's server and show once it did them; a refusal, with the
  // server's reason, is shown in a message.
  void DeleteSource(ObjectId source, ObjectId group);
  void DeleteGroup(ObjectId group);
  // An empty name renames nothing.
  void Rename(ObjectId node, const QString& name);
  void ShowProperties(ObjectId source);
  // An account's kind, server and user, with its password and refresh
  // interval to change.
  void ShowAccountProperties(ObjectId account);
  // Asks first; the account's copy here and its password go, the server
  // keeps it.
  void RemoveAccount(ObjectId account);
  void ClearHistory(ObjectId source);
  void MoveSource(ObjectId source, ObjectId group);
  void MoveGroup(ObjectId group, ObjectId targetGroup);
  void SetExpanded(ObjectId group, bool expanded);

  // --- the list's requests
  void MarkRead(const IdList& articles, bool read);
  void SetStarred(const IdList& articles, bool starred);
  // "Mark all as read": every article of a source, or of a group and all
  // below it. Nothing is sent when none was unread.
  void MarkAllRead(ObjectId node);
  // The sources keep the articles' keys, so they do not come back.
  void DeleteArticles(const IdList& articles);
  // Retention: deletes the read articles older than their feed's days (or
  // the library's) through the model's operation, and brings the panes in
  // line. Runs at start, after each update pass and when the setting
  // changes; never while a pass runs. Returns how many went.
  size_t ApplyRetention();
  // The library's retention from Options (0: keep everything), then applied.
  void SetRetentionDays(int days);
  // Writes the article's source text (UTF-8 with a byte-order mark) to
  // SourceXmlPath() and opens it with the desktop's viewer; warns when there
  // is nothing to show or the viewer cannot be started.
  void ShowSourceXml(ObjectId article);
  static QString SourceXmlPath();
  void SortSources(const IdList& sources, int column, bool ascending);

  // --- the File menu's feed list
  // Where an import puts the file's outlines, given the tree's selection:
  // the selected group, the group of a selected source, the root level for
  // the tree's root item (0), else the first root group.
  ObjectId ImportTarget(std::optional<ObjectId> selected);
  // Adds the file's groups and feeds into `targetGroup` (0: the root level,
  // see qb::ImportOpml), reporting progress through importProgress as it
  // goes, fetches each new feed once and tells the user what was added and
  // skipped; a file that is no OPML is refused with a warning and changes
  // nothing.
  void ImportOpml(const QString& path, ObjectId targetGroup = 0);
  // Every source with an address, in the tree's order; tells the user
  // whether the file was written.
  void ExportOpml(const QString& path);
  // Imported sources still to be handed to the updater for their first
  // fetch (they go a hundred at a time, from the event loop).
  bool NewSourcesPending() const { return !m_newSources.empty(); }
  // Both sections of the settings, as a file that imports them again when
  // opened; tells the user whether it was written.
  // `inUse` adds the values still at their defaults (see CollectSettings).
  void ExportSettings(const QString& path, const CRSSReaderSettingsManager* inUse = nullptr);

 signals:
  // After the command, the tree selects this node (0: the root item): the
  // new group or feed, or the group that held a deleted node.
  void nodeSelectionRequested(qb::ObjectId node);
  // "Update all feeds" or the automatic update is over: the status line
  // shows the selected source's state again.
  void updateFinished();
  // A pass started (true) or ended (false).
  void busyChanged(bool busy);
  // A source has been applied, or another process stored its update state:
  // its state (failure, last update) may differ.
  void sourceUpdated(qb::ObjectId source);
  // What the update pass says it is doing, for the status line.
  void progressReported(const std::u16string& text);
  // A pass is over; `automatic` when the update timer started it and the
  // user asked for nothing during it.
  void passFinished(const qb::PassReport& report, bool automatic);
  // An import has added `done` of the file's `total` outlines; emitted on
  // the window's thread while the import runs, about a hundred times.
  void importProgress(int done, int total);

 private:
  enum class PassKind { None, Automatic, UpdateAll, Sources };

  CFeedsManager& Model();
  // The end of an edit of an account's structure: a refusal told in a
  // message that starts with `what` ("'News' could not be renamed"), a
  // success passed on to `then`.
  std::function<void(AccountEditResult)> AccountEditDone(QString what, std::function<void(ObjectId)> then = {});
  void StartPass(PassKind kind, const std::function<bool()>& start);
  void OnSourceApplied(const SourceReport& report);
  void OnPassFinished(const PassReport& report);
  // The first fetch of imported sources, a slice per turn of the event loop.
  void FetchNewSources(const IdList& sources);
  void FetchNextNewSources();

  IMainFrame& m_frame;
  IFeedUpdater& m_updater;
  CAccountService* m_accounts = nullptr;
  std::function<ObjectId()> m_shownArticle;
  QTimer* m_updateTimer = nullptr;
  // What started the pass that runs.
  PassKind m_passKind = PassKind::None;
  IdList m_newSources;
};

}  // namespace qb
