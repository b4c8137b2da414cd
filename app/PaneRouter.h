// How data flows between the three panes. The panes never write each
// other's state; the router, owned by the frame, connects them:
//   the tree's selection  -> the list shows that node, the status line its state
//   the list's chosen row -> the page shows that article; without a
//                            selected row the page shows none
//   the page's delete     -> the list deletes the article
//   Space, N and P        -> the page pages down, the navigator moves to
//                            the next or previous unread article
//   every pane's request  -> the command that carries it out
//   a model-changed notice -> the save is scheduled and each pane is brought
//                             in line with the model once, in a fixed order
//                             (tree, list, page)
//   the status line        -> written here only: the update pass's progress,
//                             the selected source's state, the navigator's
//                             notices
#pragma once

#include <QObject>
#include <memory>
#include <string>

#include "app/ModelChange.h"
#include "app/UnreadNavigator.h"

namespace qb {

class CCommands;
class CFeedListView;
class CFeedView;
class CSourceListView;
class IMainFrame;

class CPaneRouter : public QObject {
  Q_OBJECT
 public:
  // The panes and the commands must outlive the router; `page` may be null
  // (tests without a browser).
  CPaneRouter(IMainFrame& frame, CSourceListView& tree, CFeedListView& list, CFeedView* page,
              CCommands& commands, QObject* parent = nullptr);

  // The one handling of every model-changed notice.
  void ApplyModelChange(const ModelChange& change);

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

 private:
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
  // While a notice is applied, selection changes are only noted; the list
  // and the page follow once at the end.
  bool m_applying = false;
  bool m_selectionMoved = false;
  bool m_listCleared = false;
};

}  // namespace qb
