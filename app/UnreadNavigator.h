// Moving to the next or previous unread article, as N, P and Space do: first
// within the article list, after (or before) the row being read; then
// through the sources in the order the tree shows them, depth first, going
// round once from the node selected. A source is chosen when it has an
// unread article the list's filter lets through: the tree selects it, then
// the list its first (or last) unread row. The panes do the selecting; the
// navigator only decides where to go.
#pragma once

#include "model/RSSObject.h"

namespace qb {

class CFeedListView;
class CSourceListView;

class CUnreadNavigator {
 public:
  // Both panes must outlive the navigator.
  CUnreadNavigator(CSourceListView& tree, CFeedListView& list) : m_tree(tree), m_list(list) {}

  // Selects the next (forward) or previous unread article. False, with
  // nothing changed, when there is none.
  bool Go(bool forward);

 private:
  // The sources in the order to try them, the selected node's own subtree
  // (which the list shows) left out.
  IdList SourcesToTry(bool forward) const;

  CSourceListView& m_tree;
  CFeedListView& m_list;
};

}  // namespace qb
