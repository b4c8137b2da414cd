// An item of the source tree: it carries its node's identifier and nothing
// else, and orders itself as the tree shows its children: groups before
// sources, each kind by name (not label) with only the letters A-Z folded.
#pragma once

#include <QTreeWidgetItem>

#include "model/RSSObject.h"

namespace qb {

class CFeedsManager;

class CSourceTreeItem : public QTreeWidgetItem {
 public:
  static constexpr int kIdRole = Qt::UserRole;

  // The model orders the item among its siblings; it must outlive it.
  CSourceTreeItem(const CFeedsManager& model, ObjectId id, const QIcon& icon);

  // In the model's display order (model/TreeOrder.h).
  bool operator<(const QTreeWidgetItem& other) const override;

 private:
  const CFeedsManager& m_model;
};

}  // namespace qb
