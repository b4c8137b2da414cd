#include "app/UnreadNavigator.h"

#include <algorithm>

#include "model/FeedsManager.h"
#include "model/TreeOrder.h"

#include "views/ArticleTableModel.h"
#include "views/FeedListView.h"
#include "views/SourceListView.h"

namespace qb {

IdList CUnreadNavigator::SourcesToTry(bool forward) const {
  // Every node as the tree shows it; where the selected node's subtree
  // begins and ends in that order.
  struct Node {
    ObjectId id;
    size_t depth;
    bool isSource;
  };
  std::vector<Node> nodes;
  TreeVisitor visitor;
  visitor.enterGroup = [&](const CGroup& g, size_t depth) { nodes.push_back({g.m_id, depth, false}); };
  visitor.source = [&](const CFeedSource& s, size_t depth) { nodes.push_back({s.m_id, depth, true}); };
  VisitInDisplayOrder(m_tree.Model(), visitor);
  const std::optional<ObjectId> selected = m_tree.SelectedNode();
  size_t begin = 0;
  size_t end = 0;
  if (selected.has_value() && *selected != 0) {
    begin = static_cast<size_t>(std::find_if(nodes.begin(), nodes.end(),
                                             [&](const Node& n) { return n.id == *selected; }) -
                                nodes.begin());
    end = begin < nodes.size() ? begin + 1 : begin;
    while (end < nodes.size() && nodes[end].depth > nodes[begin].depth) ++end;
  }
  // Forward: what follows the subtree, then from the top round to it;
  // backward the same in reverse.
  std::vector<Node> order(nodes.begin() + static_cast<std::ptrdiff_t>(end), nodes.end());
  order.insert(order.end(), nodes.begin(), nodes.begin() + static_cast<std::ptrdiff_t>(begin));
  if (!forward) std::reverse(order.begin(), order.end());
  IdList sources;
  for (const Node& n : order)
    if (n.isSource) sources.push_back(n.id);
  return sources;
}

bool CUnreadNavigator::Go(bool forward) {
  const int here = m_list.ReadingRow();
  int row = m_list.FindUnreadRow(here, forward);
  if (row >= 0) {
    m_list.ReadRow(row);
    return true;
  }
  for (ObjectId source : SourcesToTry(forward)) {
    if (!m_list.HasUnreadShown(source)) continue;
    QTreeWidgetItem* item = m_tree.FindItem(source);
    if (item == nullptr) continue;
    m_tree.SelectItem(item);
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
