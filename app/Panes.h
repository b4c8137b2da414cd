// The main window's panes and everything that connects them, made and wired
// in one place: the source tree, the article list with the filter bar above
// it, the article page, the commands that carry out the panes' requests and
// the router between the panes. The frame, the window tests and the
// benchmarks all build their panes through this class, so a connection the
// program makes is the one the tests exercise.
//
// Ownership: the widgets are made as children of `parent` (the frame moves
// them into its splitters) and are deleted here, the router first, so
// nothing is routed into a pane that has gone. The frame, the updater and
// `parent` must outlive this object.
#pragma once

#include <QObject>
#include <QPointer>
#include <memory>

#include "views/ArticleFilterBar.h"
#include "views/FeedListView.h"
#include "views/FeedView.h"
#include "views/SourceListView.h"

class QWidget;

namespace qb {

class CCommands;
class CPaneRouter;
class CReaderCommand;
class IFeedUpdater;
class IMainFrame;

class CPanes : public QObject {
  Q_OBJECT
 public:
  // `withPage` false leaves out the article page (and its web engine):
  // tests and benchmarks that need no browser.
  CPanes(IMainFrame& frame, IFeedUpdater& updater, QWidget* parent, bool withPage = true);
  ~CPanes() override;
  CPanes(const CPanes&) = delete;
  CPanes& operator=(const CPanes&) = delete;

  // Fills the panes from the model (the list's columns first, then the
  // tree, whose first selection fills the list) and starts the automatic
  // update's timer.
  void InitialUpdate();

  CSourceListView& Tree() const { return *m_tree; }
  CFeedListView& List() const { return *m_list; }
  // Null when made without the page.
  CFeedView* Page() const { return m_page; }
  CArticleFilterBar& FilterBar() const { return *m_filterBar; }
  // The filter bar above the article list, as one widget for the splitter.
  QWidget& ListPane() const { return *m_listPane; }
  CCommands& Commands() const { return *m_commands; }
  CPaneRouter& Router() const { return *m_router; }
  // The reader view of the page; null when made without the page.
  CReaderCommand* Reader() const { return m_reader.get(); }

 private:
  QPointer<CSourceListView> m_tree;
  QPointer<QWidget> m_listPane;
  CArticleFilterBar* m_filterBar = nullptr;
  CFeedListView* m_list = nullptr;
  QPointer<CFeedView> m_page;
  std::unique_ptr<CCommands> m_commands;
  std::unique_ptr<CPaneRouter> m_router;
  std::unique_ptr<CReaderCommand> m_reader;
};

}  // namespace qb
