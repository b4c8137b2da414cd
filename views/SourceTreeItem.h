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
  // The counts the label shows (absent before the first), so a change to
  // one source can move the groups above it by the difference.
  static constexpr int kUnreadRole = Qt::UserRole + 1;
  static constexpr int kReadRole = Qt::UserRole + 2;

  CSourceTreeItem(ObjectId id, const QIcon& icon);

  // Only items of a CSourceListView compare; others are never less.
  bool operator<(const QTreeWidgetItem& other) const override;
};

}  // namespace qb
