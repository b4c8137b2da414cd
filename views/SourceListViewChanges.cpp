// The tree following the model's change records: each entry names the node
// it touched, and only that node's item is inserted, moved, removed or
// relabelled. The model's lists give the place; the items stay sorted by
// name, so a change of a list's order alone moves nothing.
#include <QTimer>
#include <algorithm>
#include <unordered_set>

#include "model/FeedsManager.h"
#include "model/ModelChange.h"
#include "views/SourceListView.h"
#include "views/SourceTreeItem.h"

namespace qb {

namespace {

// As deep as the full refresh shows groups.
constexpr int kMaxChangeDepth = 256;

bool IsPlacement(ChangeKind kind) {
  switch (kind) {
    case ChangeKind::SourceAdded:
    case ChangeKind::SourceMoved:
    case ChangeKind::SourceRemoved:
    case ChangeKind::GroupAdded:
    case ChangeKind::GroupMoved:
    case ChangeKind::GroupRemoved:
      return true;
    default:
      return false;
  }
}

}  // namespace

QTreeWidgetItem* CSourceListView::ItemOf(ObjectId id) const {
  auto it = m_itemById.find(id);
  return it == m_itemById.end() ? nullptr : it->second;
}

void CSourceListView::FitColumnLater() {
  // Measuring the labels costs as much as the rest together: once per turn
  // of the event loop, however many changes came in it.
  if (m_fitPending) return;
  m_fitPending = true;
  QTimer::singleShot(0, this, [this] {
    m_fitPending = false;
    FitColumn();
  });
}

void CSourceListView::ApplyExpansionBelow(QTreeWidgetItem* item) {
  std::vector<QTreeWidgetItem*> stack{item};
  while (!stack.empty()) {
    QTreeWidgetItem* p = stack.back();
    stack.pop_back();
    if (p != item && KindOf(p) != NodeKind::Group) continue;
    for (int i = 0; i < p->childCount(); ++i) stack.push_back(p->child(i));
    ApplyExpansion(p);
  }
}

QTreeWidgetItem* CSourceListView::MoveOrMakeItem(QTreeWidgetItem* parent, ObjectId id, NodeKind kind,
                                                 int depth, std::vector<ObjectId>& unsorted) {
  if (QTreeWidgetItem* item = ItemOf(id)) {
    if (item->parent() == parent) return item;
    // Taken out with its subtree and put in again: the view forgets the
    // expanded state of what it took, so it is applied again.
    if (QTreeWidgetItem* old = item->parent()) old->removeChild(item);
    parent->addChild(item);
    unsorted.push_back(IdOf(parent));
    ApplyExpansionBelow(item);
    return item;
  }
  QTreeWidgetItem* item = NewItem(parent, id, kind);
  unsorted.push_back(IdOf(parent));
  UpdateAppearance(item);
  if (kind == NodeKind::Group && depth < kMaxChangeDepth) {
    // A group that comes with content (another process added it whole, or
    // it was moved out of a place deeper than the tree shows).
    const CGroup* g = Model().GetGroup(id);
    for (ObjectId child : g->m_childGroups) {
      if (Model().GetGroup(child) != nullptr) MoveOrMakeItem(item, child, NodeKind::Group, depth + 1, unsorted);
    }
    for (ObjectId child : g->m_sources) {
      if (Model().GetFeedSource(child) != nullptr) MoveOrMakeItem(item, child, NodeKind::Source, depth + 1, unsorted);
    }
    if (item->childCount() > 0) unsorted.push_back(id);
    ApplyExpansion(item);
  }
  return item;
}

bool CSourceListView::PlaceItem(ObjectId id, std::vector<ObjectId>& unsorted) {
  const CFeedsManager& model = Model();
  QTreeWidgetItem* item = ItemOf(id);
  QTreeWidgetItem* parent = nullptr;
  NodeKind kind = NodeKind::None;
  bool listed = false;
  if (model.GetGroup(id) != nullptr) {
    kind = NodeKind::Group;
    if (const CGroup* p = model.FindParentGroup(id)) {
      listed = true;
      parent = ItemOf(p->m_id);
    } else if (std::find(model.RootGroups().begin(), model.RootGroups().end(), id) != model.RootGroups().end()) {
      listed = true;
      parent = m_root;
    }
  } else if (model.GetFeedSource(id) != nullptr) {
    kind = NodeKind::Source;
    if (const CGroup* g = model.FindGroupOfSource(id)) {
      listed = true;
      parent = ItemOf(g->m_id);
    }
  }
  if (!listed) {
    // Destroyed, or listed nowhere any more: the item goes with its subtree.
    if (item != nullptr && item != m_root) RemoveItem(item);
    return true;
  }
  if (parent == nullptr) return false;
  // The item's parent chain must not run through the item itself.
  for (QTreeWidgetItem* p = parent; p != nullptr; p = p->parent()) {
    if (p == item) return false;
  }
  MoveOrMakeItem(parent, id, kind, 0, unsorted);
  ApplyExpansion(parent);
  return true;
}

void CSourceListView::ApplyChange(const CModelChange& change) {
  if (m_root == nullptr || change.entries.empty()) return;
  const ObjectId selectedBefore = IdOf(SelectedItem());
  const bool hadSelection = SelectedItem() != nullptr;
  std::vector<ObjectId> unsorted;
  std::vector<ObjectId> relabel;
  std::vector<ObjectId> expansion;
  std::unordered_set<ObjectId> placed;
  for (const ChangeEntry& e : change.entries) {
    if (IsPlacement(e.kind)) {
      // Where the node is now is what counts, however often it moved.
      if (!placed.insert(e.id).second) continue;
      if (!PlaceItem(e.id, unsorted)) {
        // A place the tree has no item for: only the whole tree can say
        // where the node belongs.
        RefreshAll();
        return;
      }
      relabel.push_back(e.id);
      continue;
    }
    switch (e.kind) {
      case ChangeKind::SourceChanged:
        // The title is in the label and decides the order; the address
        // decides the site's icon.
        if (e.fields & (kSourceTitle | kSourceUrl)) relabel.push_back(e.id);
        if (e.fields & kSourceTitle) {
          if (QTreeWidgetItem* item = ItemOf(e.id); item != nullptr && item->parent() != nullptr)
            unsorted.push_back(IdOf(item->parent()));
        }
        break;
      case ChangeKind::GroupChanged:
        if (e.fields & kGroupName) {
          relabel.push_back(e.id);
          if (QTreeWidgetItem* item = ItemOf(e.id); item != nullptr && item->parent() != nullptr)
            unsorted.push_back(IdOf(item->parent()));
        }
        if (e.fields & kGroupExpanded) expansion.push_back(e.id);
        break;
      case ChangeKind::CountsChanged:
        relabel.push_back(e.id);
        break;
      default:
        // Articles show in the list; a list's order is not the tree's,
        // which sorts by name; histories and settings show nowhere here.
        break;
    }
  }
  for (ObjectId id : relabel) {
    if (QTreeWidgetItem* item = ItemOf(id)) UpdateAppearance(item);
  }
  std::sort(unsorted.begin(), unsorted.end());
  unsorted.erase(std::unique(unsorted.begin(), unsorted.end()), unsorted.end());
  for (ObjectId id : unsorted) {
    if (QTreeWidgetItem* item = ItemOf(id)) SortChildren(item);
  }
  for (ObjectId id : expansion) {
    if (QTreeWidgetItem* item = ItemOf(id)) ApplyExpansion(item);
  }
  // An item taken out and put in again loses the selection; it comes back
  // to the same node.
  if (hadSelection && SelectedItem() == nullptr) {
    QTreeWidgetItem* again = ItemOf(selectedBefore);
    SelectItem(again != nullptr ? again : m_root);
  }
  FitColumnLater();
}

void CSourceListView::RefreshDecoration(ObjectId sourceId) {
  if (QTreeWidgetItem* item = ItemOf(sourceId);
      item != nullptr && (KindOf(item) == NodeKind::Source || KindOf(item) == NodeKind::Group))
    UpdateDecoration(item);
}

}  // namespace qb
