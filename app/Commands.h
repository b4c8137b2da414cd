// The window's commands in one place. The panes turn the user's gestures
// into requests; each request is carried out here: the dialog or question,
// the validation, the model operation, and then exactly one model-changed
// notice naming what changed (see ModelChange; the frame's CPaneRouter
// handles it). A command that changes nothing sends nothing.
#pragma once

#include <QObject>
#include <QString>

#include "app/ModelChange.h"
#include "model/RSSObject.h"

namespace qb {

class CFeedsManager;
class IFeedUpdater;
class IMainFrame;

class CCommands : public QObject {
  Q_OBJECT
 public:
  // `updater` is the one way sources are fetched; both must outlive this.
  CCommands(IMainFrame& frame, IFeedUpdater& updater, QObject* parent = nullptr);

  // "Update all feeds" fetches every source; the automatic update only the
  // due ones, and news from it raises the new-articles notice. The update
  // timer restarts afterwards either way. True when anything new arrived.
  bool UpdateAll(bool automatic);

  // --- the tree's requests
  // A group named in a dialog, at the root level (0) or inside the group.
  void AddGroup(ObjectId parentGroup);
  // A source for the address typed in the dialog, fetched at once. The
  // dialog starts with `presetUrl` (an address handed over by the desktop).
  void AddFeed(ObjectId group, const QString& presetUrl = QString());
  // Each asks first; the tree then selects the group that held the node
  // (the root item for a root group). The last root group is never deleted.
  void DeleteSource(ObjectId source, ObjectId group);
  void DeleteGroup(ObjectId group);
  // An empty name renames nothing, but the tree is brought in line all the same.
  void Rename(ObjectId node, const QString& name);
  void ShowProperties(ObjectId source);
  void ClearHistory(ObjectId source);
  void MoveSource(ObjectId source, ObjectId group);
  void MoveGroup(ObjectId group, ObjectId targetGroup);
  void SetExpanded(ObjectId group, bool expanded);

  // --- the list's requests
  void MarkRead(const IdList& articles, bool read);
  // The sources keep the articles' keys, so they do not come back.
  void DeleteArticles(const IdList& articles);
  // Writes the article's source text (UTF-8 with a byte-order mark) to
  // SourceXmlPath() and opens it with the desktop's viewer; warns when there
  // is nothing to show or the viewer cannot be started.
  void ShowSourceXml(ObjectId article);
  static QString SourceXmlPath();
  void SortSources(const IdList& sources, int column, bool ascending);

  // --- the File menu's feed list
  // Adds the file's groups and feeds, fetches each new feed once and tells
  // the user what was added and skipped; a file that is no OPML is refused
  // with a warning and changes nothing.
  void ImportOpml(const QString& path);
  void ExportOpml(const QString& path);
  // Both sections of the settings, as a file that imports them again when
  // opened; tells the user whether it was written.
  void ExportSettings(const QString& path);

 signals:
  void modelChanged(const qb::ModelChange& change);
  // An update ran: the status line shows the selected source's state again.
  void updateFinished();

 private:
  CFeedsManager& Model();

  IMainFrame& m_frame;
  IFeedUpdater& m_updater;
};

}  // namespace qb
