// The left pane: the tree of groups and feed sources under "Feed Sources".
#pragma once

#include <QTreeWidget>
#include <optional>

#include "model/RSSObject.h"
#include "views/IMainFrame.h"
#include "views/ViewUpdate.h"

namespace qb {

class CSourceListView : public QTreeWidget {
  Q_OBJECT
 public:
  explicit CSourceListView(IMainFrame& frame, QWidget* parent = nullptr);

  // Fills the tree, selects the root item and starts the update and tick timers.
  void InitialUpdate();

  ViewPosition ApplyUpdate(UpdateCode code, ViewPosition position, const ViewUpdate& request);

  // The selected item's identifier (0 for the root item); none without a selection.
  std::optional<ObjectId> SelectedNode() const;

  // Depth-first, pre-order search; 0 finds the root item.
  QTreeWidgetItem* FindItem(ObjectId id) const;

 private:
  IMainFrame& m_frame;
  QTreeWidgetItem* m_root = nullptr;
};

}  // namespace qb
