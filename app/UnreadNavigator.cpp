#include "app/UnreadNavigator.h"

#include <QTreeWidgetItemIterator>
#include <algorithm>

#include "views/ArticleTableModel.h"
#include "views/FeedListView.h"
#include "views/SourceListView.h"

namespace qb {

std::vector<QTreeWidgetItem*> CUnreadNavigator::SourcesToTry(bool forward) const {
  // Every item depth first, as shown; where the selected item's subtree
  // begins and ends in that order.
  std::vector<QTreeWidgetItem*> items;
  for (QTreeWidgetItemIterator it(&m_tree); *it != nullptr; ++it) items.push_back(*it);
  const QList<QTreeWidgetItem*> selected = m_tree.selectedItems();
  QTreeWidgetItem* current = selected.isEmpty() ? nullptr : selected.front();
  size_t begin = 0;
  size_t end = 0;
  if (current != nullptr && current != m_tree.RootItem()) {
    begin = static_cast<size_t>(std::find(items.begin(), items.end(), current) - items.begin());
    end = begin;
    auto inside = [current](QTreeWidgetItem* item) {
      for (; item != nullptr; item = item->parent())
        if (item == current) return true;
      return false;
    };
    while (end < items.size() && inside(items[end])) ++end;
  }
  // Forward: what follows the subtree, then from the top round to it;
  // backward the same in reverse.
  std::vector<QTreeWidgetItem*> order(items.begin() + static_cast<std::ptrdiff_t>(end), items.end());
  order.insert(order.end(), items.begin(), items.begin() + static_cast<std::ptrdiff_t>(begin));
  if (!forward) std::reverse(order.begin(), order.end());
  std::vector<QTreeWidgetItem*> sources;
  for (QTreeWidgetItem* item : order)
    if (m_tree.KindOf(item) == CSourceListView::NodeKind::Source) sources.push_back(item);
  return sources;
}

bool CUnreadNavigator::Go(bool forward) {
  const int here = m_list.ReadingRow();
  int row = m_list.FindUnreadRow(here, forward);
  if (row >= 0) {
    m_list.ReadRow(row);
    return true;
  }
  for (QTreeWidgetItem* item : SourcesToTry(forward)) {
    if (!m_list.HasUnreadShown(CSourceListView::IdOf(item))) continue;
    m_tree.ApplyUpdate(UpdateCode::SelectItem, {item, -1}, {});
    row = m_list.FindUnreadRow(forward ? -1 : m_list.ArticleModel()->rowCount(), forward);
    if (row >= 0) {
      m_list.ReadRow(row);
      m_tree.scrollToItem(item);
      return true;
    }
  }
  // Round to the list's own rows on the other side of the one being read.
  if (here >= 0) {
    row = m_list.FindUnreadRow(forward ? -1 : m_list.ArticleModel()->rowCount(), forward);
    if (row >= 0 && row != here) {
      m_list.ReadRow(row);
      return true;
    }
  }
  return false;
}

}  // namespace qb
