// The left pane: the tree of groups and feed sources under "Feed Sources".
// Items carry only identifiers; labels, counts and order are looked up in the
// model. The tree changes nothing itself: the user's gestures (menu entries,
// keys, label edits, drops) become requests, emitted as signals, which the
// application carries out through the model's operations. The tree follows
// the change records the model reports (ApplyChange, SourceListViewChanges.cpp):
// it inserts, moves, removes and relabels only the items a record names.
// Drag and drop lives in SourceListViewDrag.cpp (the
// Drag* methods hold the rules, so they work without a real mouse drag),
// renaming in place in SourceListViewEdit.cpp, the sources' icons and
// tooltips (site icon, failed update) in SourceListViewIcons.cpp.
#pragma once

#include <QPointer>
#include <QTreeWidget>
#include <optional>
#include <unordered_map>

#include "model/RSSObject.h"
#include "views/IMainFrame.h"

namespace qb {

class CFeedsManager;
class CModelChange;
class IDesktop;
class ISiteIcons;

class CSourceListView : public QTreeWidget {
  Q_OBJECT
 public:
  // Starred: the node of every feed's starred articles (kStarredNode),
  // under the root item after the groups.
  enum class NodeKind { None, Root, Group, Source, Starred };

  // The tree shows `model` and asks the user through `desktop` (its
  // menus); both must outlive it.
  CSourceListView(const CFeedsManager& model, IDesktop& desktop, QWidget* parent = nullptr);
  ~CSourceListView() override;

  // Fills the tree and selects the root item.
  void InitialUpdate();

  // How each source's last update went: a failed one shows the warning mark.
  void SetSourceStates(SourceStateLookup states);
  // Why an account's last sync failed (empty: it did not); a failed one
  // shows the warning mark with the reason in its tooltip.
  using AccountProblemLookup = std::function<std::u16string(ObjectId account)>;
  void SetAccountProblems(AccountProblemLookup problems);

  // Brings the whole tree in line with the model: items added, relabelled,
  // sorted and removed; the selection stays where it can.
  void RefreshAll();
  // Makes the item the selected (and current) item; nothing for null.
  void SelectItem(QTreeWidgetItem* item);

  // The selected item's identifier (0 for the root item); none without a selection.
  std::optional<ObjectId> SelectedNode() const;

  // Follows one change record of the model: the groups and sources it adds,
  // moves or removes get, change or lose their items (a new group with
  // everything already below it), renamed nodes are relabelled and sorted
  // among their siblings, nodes whose counts changed are relabelled (counts
  // and weight), and a group's expanded flag is applied. The cost grows
  // with the entries, not with the tree. An entry whose place the tree does
  // not show (a parent without an item) brings the whole tree in line
  // instead. The selection stays on its node while that node has an item.
  void ApplyChange(const CModelChange& change);
  // The source's or account's icon and tooltip again: its last update's
  // or sync's state changed.
  void RefreshDecoration(ObjectId sourceId);

  // Where the sources' site icons come from; null (or an icons object that
  // has gone) shows the standard icon only. Sources show their site's icon
  // as it arrives.
  void SetSiteIcons(ISiteIcons* icons);
  // The warning mark of a source whose last update failed.
  QIcon FailureIcon();

  // Depth-first, pre-order search; 0 finds the root item.
  QTreeWidgetItem* FindItem(ObjectId id) const;

  QTreeWidgetItem* RootItem() const { return m_root; }
  NodeKind KindOf(const QTreeWidgetItem* item) const;
  static ObjectId IdOf(const QTreeWidgetItem* item);
  const CFeedsManager& Model() const;

  // --- the user's gestures on the selected item (context menus and keys).
  // Each checks the selected item's kind and emits its request; nothing
  // happens for an item of the wrong kind.
  void UpdateAllFeeds();
  // A new group at the root level (root selected) or inside the selected group.
  void AddGroup();
  void AddFeed();
  void DeleteFeed();
  void DeleteGroup();
  // Starts editing the selected item's name (not for the root item).
  void StartRename();
  bool IsEditing() const { return m_editing; }
  // The width the expanded items' labels (with their counts) need, their
  // indentation and icons included.
  int LabelsWidth() const { return sizeHintForColumn(0); }
  // A source's properties, or an account's.
  void ShowProperties();
  // Asks for the selected account to be removed.
  void RemoveAccount();
  void ClearHistory();
  // For a group or source (SourceListViewReading.cpp): its articles,
  // recursively, become read; its sources are fetched now.
  void MarkAllRead();
  void UpdateSelected();

  // --- drag and drop.
  // Starts dragging a group or source item; false (and nothing happens) for
  // anything else.
  bool BeginDrag(QTreeWidgetItem* item);
  // The drop target for the item under the cursor: a group item, or the root
  // item while a group is dragged; otherwise null.
  QTreeWidgetItem* DropTargetFor(QTreeWidgetItem* under) const;
  // The cursor moved over `under` (null for empty space): the target becomes
  // the selected item; without a target the tree has no selection.
  void DragOver(QTreeWidgetItem* under);
  // The button was released over `under`: asks for the move when the model
  // allows it. Returns whether a move was asked for.
  bool Drop(QTreeWidgetItem* under);
  bool IsDragging() const { return m_dragging; }
  // The picture that follows the cursor: the label on a highlight-coloured box.
  QPixmap DragPixmap(QTreeWidgetItem* item) const;

 signals:
  // The selection moved to an item (not emitted when it goes to none).
  void nodeSelected();
  // The tree got the keyboard focus: the user looks at the window.
  void focusReceived();
  // The tree was brought in line with the whole model (RefreshAll ended).
  void refreshed();
  // --- requests
  // Space, N and P: read on, next or previous unread, as in the list.
  void readOnRequested();
  void unreadRequested(bool forward);
  void updateAllRequested();
  void addGroupRequested(ObjectId parentGroup);  // 0: the root level
  void addFeedRequested(ObjectId group);
  void deleteSourceRequested(ObjectId source, ObjectId group);
  void deleteGroupRequested(ObjectId group);
  // The label edit of `node` ended; an empty name (a cancelled edit, or
  // nothing typed) changes no name.
  void renameRequested(ObjectId node, const QString& name);
  void propertiesRequested(ObjectId source);
  void accountPropertiesRequested(ObjectId account);
  void removeAccountRequested(ObjectId account);
  void clearHistoryRequested(ObjectId source);
  void moveSourceRequested(ObjectId source, ObjectId group);
  void moveGroupRequested(ObjectId group, ObjectId targetGroup);  // 0: the root level
  void expansionChanged(ObjectId group, bool expanded);
  void markAllReadRequested(ObjectId node);
  void updateNodeRequested(ObjectId node);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void startDrag(Qt::DropActions supportedActions) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  void closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) override;
  bool viewportEvent(QEvent* event) override;

 private:
  friend class CLabelDelegate;
  using Counts = std::unordered_map<ObjectId, std::pair<int, int>>;

  void Fill();
  QTreeWidgetItem* NewItem(QTreeWidgetItem* parent, ObjectId id, NodeKind kind);
  // An item for the group or source under `parent` (a group, or the root
  // item for a group), labelled and sorted in; null for anything else.
  QTreeWidgetItem* AddItem(QTreeWidgetItem* parent, ObjectId id, NodeKind kind);
  void RefreshLevel(QTreeWidgetItem* item, const IdList& groups, const IdList& sources, int depth);
  void RemoveStaleItems();
  // The item the tree made for the node, from the map only (no walk).
  QTreeWidgetItem* ItemOf(ObjectId id) const;
  // Puts the node's item where the model lists it (ApplyChange): moved,
  // made with its subtree, or removed when the model lists it nowhere. The
  // parents whose children need sorting are added to `unsorted`. False when
  // the place has no item.
  bool PlaceItem(ObjectId id, std::vector<ObjectId>& unsorted);
  // An item for the node under `parent`: its own item moved there, or a new
  // one with the items of everything below it.
  QTreeWidgetItem* MoveOrMakeItem(QTreeWidgetItem* parent, ObjectId id, NodeKind kind, int depth,
                                  std::vector<ObjectId>& unsorted);
  void ApplyExpansionBelow(QTreeWidgetItem* item);
  // The column is measured once per turn of the event loop.
  void FitColumnLater();
  void RemoveItem(QTreeWidgetItem* item);
  // Unread and read articles of a node, from m_counts during a refresh.
  std::pair<int, int> CountsOf(ObjectId id) const;
  Counts ModelCounts() const;
  // Label and weight from the counts the model gives for the item's node.
  void UpdateAppearance(QTreeWidgetItem* item);
  // A source's icon and tooltip: the warning mark and the reason when its
  // last update failed, else its site's icon when there is one. An
  // account's: the warning mark and the reason when its last sync failed.
  void UpdateDecoration(QTreeWidgetItem* item);
  void UpdateAllDecorations();
  void ApplyExpansion(QTreeWidgetItem* item);
  // The column as wide as the widest label, and at least as the viewport.
  void FitColumn();
  QAbstractItemDelegate* NewLabelDelegate();
  void SortChildren(QTreeWidgetItem* item);
  std::u16string NameOf(ObjectId id) const;
  QTreeWidgetItem* SelectedItem() const;
  void OnSelectionChanged();
  void OnExpandedChanged(QTreeWidgetItem* item, bool expanded);
  void EndLabelEdit(QTreeWidgetItem* item, const std::optional<QString>& text);
  void ShowMenuFor(const QPoint& globalPos);
  void EndDrag();

  const CFeedsManager& m_model;
  IDesktop& m_desktop;
  SourceStateLookup m_sourceStates;
  AccountProblemLookup m_accountProblems;
  QTreeWidgetItem* m_root = nullptr;
  // Set while the view expands or collapses items itself, so only the
  // user's changes become requests.
  bool m_settingExpansion = false;
  // The model's counts of every node, taken once per full refresh.
  const Counts* m_counts = nullptr;
  // The item last made for each node; an entry goes with its item. A miss
  // falls back to a walk of the tree.
  mutable std::unordered_map<ObjectId, QTreeWidgetItem*> m_itemById;
  bool m_fitPending = false;

  bool m_editing = false;
  QTreeWidgetItem* m_editItem = nullptr;
  std::optional<QString> m_committedText;

  bool m_dragging = false;
  ObjectId m_dragSource = 0;
  ObjectId m_dragGroup = 0;
  QTreeWidgetItem* m_dragItem = nullptr;

  QPointer<ISiteIcons> m_siteIcons;
  // Made once, so an unchanged icon is recognised and not set again.
  QIcon m_sourceIcon;
  QIcon m_failureIcon;
  QIcon m_groupIcon;
};

}  // namespace qb
