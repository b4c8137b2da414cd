// The tree's requests for a whole node: mark its articles read, fetch its
// sources now.
#include "views/SourceListView.h"

namespace qb {

void CSourceListView::MarkAllRead() {
  QTreeWidgetItem* item = SelectedItem();
  const NodeKind kind = KindOf(item);
  if (kind == NodeKind::Group || kind == NodeKind::Source) emit markAllReadRequested(IdOf(item));
}

void CSourceListView::UpdateSelected() {
  QTreeWidgetItem* item = SelectedItem();
  const NodeKind kind = KindOf(item);
  if (kind == NodeKind::Group || kind == NodeKind::Source) emit updateNodeRequested(IdOf(item));
}

}  // namespace qb
