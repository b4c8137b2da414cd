#include "app/Panes.h"

#include <QVBoxLayout>

#include "app/Commands.h"
#include "app/FeedUpdater.h"
#include "app/PaneRouter.h"
#include "app/ReaderCommand.h"
#include "model/FeedsManager.h"
#include "views/ArticleFilterBar.h"
#include "views/FeedListView.h"
#include "views/FeedView.h"
#include "views/SourceListView.h"

namespace qb {

CPanes::CPanes(IMainFrame& frame, IFeedUpdater& updater, QWidget* parent, bool withPage)
    : QObject(nullptr) {
  // The panes read the model and ask the user; every change they want is
  // a request that the commands carry out.
  const CFeedsManager& model = frame.Model();
  IDesktop& desktop = frame.Desktop();
  m_tree = new CSourceListView(model, desktop, parent);
  m_tree->SetSourceStates([&updater](ObjectId source) { return updater.StateOf(source); });
  // The article list with its filter bar above it, hidden until asked for.
  m_listPane = new QWidget(parent);
  auto* listLayout = new QVBoxLayout(m_listPane);
  listLayout->setContentsMargins(0, 0, 0, 0);
  listLayout->setSpacing(0);
  m_filterBar = new CArticleFilterBar(m_listPane);
  m_list = new CFeedListView(model, desktop, m_listPane);
  listLayout->addWidget(m_filterBar);
  listLayout->addWidget(m_list, 1);
  if (withPage) m_page = new CFeedView(model, desktop, parent);

  m_commands = std::make_unique<CCommands>(frame, updater);
  m_router = std::make_unique<CPaneRouter>(frame, *m_tree, *m_list, m_page, *m_commands);
  if (m_page != nullptr) m_reader = std::make_unique<CReaderCommand>(frame, updater, *m_page);
  // Retention never takes the article the page shows.
  m_commands->SetShownArticle([page = m_page] { return page != nullptr ? page->CurrentFeedId() : ObjectId{0}; });

  CFeedListView* list = m_list;
  CArticleFilterBar* bar = m_filterBar;
  connect(bar, &CArticleFilterBar::filterChanged, list, &CFeedListView::SetFilter);
  connect(bar, &CArticleFilterBar::opened, list, &CFeedListView::FilterOpened);
  connect(bar, &CArticleFilterBar::closed, list, &CFeedListView::FilterClosed);
  connect(bar, &CArticleFilterBar::accepted, list, [list] { list->setFocus(); });
  connect(list, &CFeedListView::filterApplied, bar, &CArticleFilterBar::SetCount);
  connect(list, &CFeedListView::shownCountChanged, bar, &CArticleFilterBar::SetCount);

  // Once the user looks at a pane, the new-articles notice has done its work.
  IMainFrame* f = &frame;
  auto noticeSeen = [f] { f->SetNewArticles(false); };
  connect(m_tree, &CSourceListView::focusReceived, this, noticeSeen);
  connect(m_list, &CFeedListView::focusReceived, this, noticeSeen);
  // Moving a splitter bar is stored like any other change of placement.
  connect(m_list, &CFeedListView::resized, this, [f] { f->PostSavePlacement(); });
  if (m_page != nullptr) {
    connect(m_page, &CFeedView::focusReceived, this, noticeSeen);
    connect(m_page, &CFeedView::resized, this, [f] { f->PostSavePlacement(); });
  }
}

CPanes::~CPanes() {
  // Nothing is routed while the panes go; the commands last, since the
  // tree's and the list's requests name them until the panes are gone.
  m_router.reset();
  m_reader.reset();
  delete m_page.data();
  delete m_listPane.data();
  delete m_tree.data();
  m_commands.reset();
}

void CPanes::InitialUpdate() {
  m_list->InitialUpdate();
  m_tree->InitialUpdate();
  m_commands->StartUpdateTimer();
  // Read articles that grew old while the program was not running go now.
  m_commands->ApplyRetention();
}

}  // namespace qb
