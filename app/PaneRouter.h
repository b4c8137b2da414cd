// How data flows between the three panes. The panes never write each
// other's state; the router, owned by the frame, connects them:
//   the tree's selection  -> the list shows that node, the status line its state
//   the list's chosen row -> the page shows that article; without a
//                            selected row the page shows none
//   the page's delete     -> the list deletes the article
//   Space, N and P        -> the page pages down, the navigator moves to
//                            the next or previous unread article
//   every pane's request  -> the command that carries it out
//   the model's change records -> each pane follows the entries, in a fixed
//                             order (tree, list, page): the router observes
//                             the model. A record of this process's
//                             operations is applied at once; records of rows
//                             another process committed (external) are
//                             gathered and applied once per turn of the
//                             event loop
//   a command's selection  -> the tree selects the node it names (a new
//                             group, a new feed, the group of a deleted one)
//   the status line        -> written here only: the update pass's progress,
//                             an import's "Importing feeds...", the selected
//                             source's state, the navigator's notices
#pragma once

#include <QObject>
#include <memory>
#include <string>

#include "app/UnreadNavigator.h"
#include "model/ModelChange.h"

namespace qb {

inline constexpr char16_t kStatusImporting[] = u"Importing feeds...";

class CCommands;
class CFeedListView;
class CFeedView;
class CSourceListView;
class IMainFrame;

class CPaneRouter : public QObject, private IModelObserver {
  Q_OBJECT
 public:
  // The panes and the commands must outlive the router; `page` may be null
  // (tests without a browser). The router observes the frame's model from
  // here until it is destroyed.
  CPaneRouter(IMainFrame& frame, CSourceListView& tree, CFeedListView& list, CFeedView* page,
              CCommands& commands, QObject* parent = nullptr);
  ~CPaneRouter() override;

  // The one way the panes learn what changed: the tree, then the list,
  // then the page follow the record's entries. The list shows the tree's
  // selection again only when the change moved it to another node.
  void ApplyChange(const CModelChange& change);
  // Records of another process's rows that wait for the next turn of the
  // event loop.
  bool ExternalPending() const { return m_externalPosted; }

  // The tree selects the node (0: the root item) and scrolls to it, when it
  // has an item for it.
  void SelectNode(ObjectId node);

  // The status line: the selected source's state, or "Ready".
  void ShowSelectionStatus();

  // N and P: the next or previous unread article; the status line says so
  // when there is none.
  void GoToUnread(bool forward);
  // Space: the page scrolls down; at its end the article, read to the
  // end, becomes read, and the next unread article is shown (also when no
  // article was shown).
  void ReadOn();
  // The tree selects the node (when it is still there), then the list the
  // article (when the node shows it).
  void SelectNodeAndArticle(ObjectId node, ObjectId article);

 signals:
  // A change record was applied to the panes (the unread count may differ).
  void changeApplied(bool external);

 private:
  void OnModelChanged(const CFeedsManager& model, const CModelChange& change) override;
  void OnModelGone(const CFeedsManager& model) override;
  // Applies the external records gathered so far, as one.
  void ApplyExternal();
  // The one writer of the status line.
  void ShowStatus(const std::u16string& text);
  void OnNodeSelected();
  void OnListSelectionCleared();
  void ShowArticle(ObjectId article);
  // The page stops showing an article (a web page it shows stays).
  void ClearPage();

  IMainFrame& m_frame;
  CUnreadNavigator m_navigator;
  CSourceListView& m_tree;
  CFeedListView& m_list;
  CFeedView* m_page;
  CCommands& m_commands;
  bool m_observing = true;
  // Another process's records since the last turn, in the order they came.
  CModelChange m_external;
  bool m_externalPosted = false;
  // While a notice is applied, selection changes are only noted; the list
  // and the page follow once at the end.
  bool m_applying = false;
  bool m_selectionMoved = false;
  bool m_listCleared = false;
};

}  // namespace qb
