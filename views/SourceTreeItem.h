// An item of the source tree: it carries its node's identifier and nothing
// else, and orders itself as the tree shows its children: groups before
// sources, each kind by name (not label) with only the letters A-Z folded.
#pragma once

#include <QTreeWidgetItem>

#include "model/RSSObject.h"

namespace qb {

class CSourceTreeItem : public QTreeWidgetItem {
 public:
  static constexpr int kIdRole = Qt::UserRole;

  CSourceTreeItem(ObjectId id, const QIcon& icon);

  // Only items of a CSourceListView compare; others are never less.
  bool operator<(const QTreeWidgetItem& other) const override;
};

}  // namespace qb
