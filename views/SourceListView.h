// The left pane: the tree of groups and feed sources under "Feed Sources".
// Items carry only identifiers; every action looks the record up and tests
// its kind. Sources and groups are moved by dragging (the Drag* methods hold
// the rules, so they work without a real mouse drag).
#pragma once

#include <QPointer>
#include <QTreeWidget>
#include <functional>
#include <optional>
#include <unordered_map>

#include "model/RSSObject.h"
#include "views/IMainFrame.h"
#include "views/ViewUpdate.h"

namespace qb {

class CFeedsManager;
class CFeedSource;

class CSourceListView : public QTreeWidget {
  Q_OBJECT
 public:
  enum class NodeKind { None, Root, Group, Source };

  explicit CSourceListView(IMainFrame& frame, QWidget* parent = nullptr);
  ~CSourceListView() override;

  // Fills the tree, selects the root item and starts the update and tick timers.
  void InitialUpdate();

  // 1 adds a group or source item under the position's item, 2 removes the
  // position's item with its subtree, 3 selects it, 4 brings the whole tree
  // in line with the model, 5 copies the request's item with its subtree
  // under the position's item. Codes 1, 2, 3 and 5 need a position item.
  ViewPosition ApplyUpdate(UpdateCode code, ViewPosition position, const ViewUpdate& request);

  // The selected item's identifier (0 for the root item); none without a selection.
  std::optional<ObjectId> SelectedNode() const;

  // The articles of one source changed their read flags and nothing else
  // changed since the last refresh: relabels the source's items and the
  // groups above them from the source's new counts.
  void RefreshSourceCounts(ObjectId sourceId);

  // Depth-first, pre-order search; 0 finds the root item.
  QTreeWidgetItem* FindItem(ObjectId id) const;

  QTreeWidgetItem* RootItem() const { return m_root; }
  NodeKind KindOf(const QTreeWidgetItem* item) const;
  static ObjectId IdOf(const QTreeWidgetItem* item);
  CFeedsManager& Model() const;

  // --- commands (context menus and keys).
  void UpdateAllFeeds();
  // A new group at the root level (root selected) or inside the selected group.
  void AddGroup();
  void AddFeed() { AddFeed(QString()); }
  // The same with the dialog filled in (an address handed over by the desktop).
  void AddFeed(const QString& presetUrl);
  void DeleteFeed();
  void DeleteGroup();
  // Starts editing the selected item's name (not for the root item).
  void StartRename();
  bool IsEditing() const { return m_editing; }
  void ShowProperties();
  void ClearHistory();

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
  // The button was released over `under`. Returns whether anything moved.
  bool Drop(QTreeWidgetItem* under);
  bool IsDragging() const { return m_dragging; }
  // The picture that follows the cursor: the label on a highlight-coloured box.
  QPixmap DragPixmap(QTreeWidgetItem* item) const;

  // The update cycle the commands call; tests replace it.
  using UpdateAllFn = std::function<bool(CFeedsManager&, bool force)>;
  using UpdateSourceFn = std::function<bool(CFeedsManager&, CFeedSource&, bool force)>;
  void SetUpdateFunctions(UpdateAllFn updateAll, UpdateSourceFn updateSource);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void startDrag(Qt::DropActions supportedActions) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  void closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) override;

 private:
  friend class CLabelDelegate;
  struct Counts {
    int unread = 0;
    int read = 0;
  };

  void Fill();
  void AddGroupItems(QTreeWidgetItem* parent, ObjectId groupId, int depth);
  QTreeWidgetItem* NewItem(QTreeWidgetItem* parent, ObjectId id, NodeKind kind);
  QTreeWidgetItem* AddItem(QTreeWidgetItem* parent, const ViewUpdate& request);
  void RefreshAll();
  void RefreshLevel(QTreeWidgetItem* item, const IdList& groups, const IdList& sources, int depth);
  void RemoveStaleItems();
  QTreeWidgetItem* CopySubtree(QTreeWidgetItem* newParent, QTreeWidgetItem* copied);
  void RemoveItem(QTreeWidgetItem* item);
  void SelectItem(QTreeWidgetItem* item);
  void UpdateAppearance(QTreeWidgetItem* item);
  void ShowCounts(QTreeWidgetItem* item, Counts counts);
  void ApplyExpansion(QTreeWidgetItem* item);
  void SortChildren(QTreeWidgetItem* item);
  Counts CountsOf(ObjectId id, NodeKind kind) const;
  std::u16string NameOf(ObjectId id) const;
  QTreeWidgetItem* SelectedItem() const;
  void OnSelectionChanged();
  void OnExpandedChanged(QTreeWidgetItem* item, bool expanded);
  void EndLabelEdit(QTreeWidgetItem* item, const std::optional<QString>& text);
  void ShowStatusForSelection();
  void ShowMenuFor(const QPoint& globalPos);
  bool FrameAlive() const;

  IMainFrame& m_frame;
  QTreeWidgetItem* m_root = nullptr;
  UpdateAllFn m_updateAll;
  UpdateSourceFn m_updateSource;
  bool m_timersStarted = false;
  // Set while the view expands or collapses items itself, so only the
  // user's changes are written to the groups.
  bool m_settingExpansion = false;
  // Counts of every node, computed once per full refresh.
  const std::unordered_map<ObjectId, Counts>* m_countCache = nullptr;

  bool m_editing = false;
  QTreeWidgetItem* m_editItem = nullptr;
  std::optional<QString> m_committedText;

  bool m_dragging = false;
  ObjectId m_dragSource = 0;
  ObjectId m_dragGroup = 0;
  QTreeWidgetItem* m_dragItem = nullptr;

  // The frame as a QObject when it is one: lets the destructor tell whether
  // the frame is still whole.
  QPointer<QObject> m_frameObject;
};

}  // namespace qb
