#include "app/PaneRouter.h"

#include <QPointer>
#include <algorithm>

#include "app/Commands.h"
#include "model/FeedsManager.h"
#include "update/UpdateCycle.h"
#include "views/FeedListView.h"
#include "views/FeedView.h"
#include "views/IMainFrame.h"
#include "views/SourceListView.h"

namespace qb {

CPaneRouter::CPaneRouter(IMainFrame& frame, CSourceListView& tree, CFeedListView& list,
                         CFeedView* page, CCommands& commands, QObject* parent)
    : QObject(parent),
      m_frame(frame),
      m_navigator(tree, list),
      m_tree(tree),
      m_list(list),
      m_page(page),
      m_commands(commands) {
  connect(&tree, &CSourceListView::nodeSelected, this, &CPaneRouter::OnNodeSelected);
  connect(&list, &CFeedListView::articleChosen, this, &CPaneRouter::ShowArticle);
  connect(&list, &CFeedListView::selectionCleared, this, &CPaneRouter::OnListSelectionCleared);
  // The page goes with its article when the filter no longer lets it through.
  connect(&list, &CFeedListView::filterApplied, this, [this] {
    if (m_page != nullptr && m_page->CurrentFeedId() != 0 && m_list.FindRow(m_page->CurrentFeedId()) < 0)
      ClearPage();
  });
  if (page != nullptr) {
    connect(page, &CFeedView::deleteRequested, &list,
            [&list](ObjectId article) { list.DeleteArticles({article}); });
    connect(page, &CFeedView::readOnRequested, this, &CPaneRouter::ReadOn);
    connect(page, &CFeedView::unreadRequested, this, &CPaneRouter::GoToUnread);
  }
  connect(&list, &CFeedListView::readOnRequested, this, &CPaneRouter::ReadOn);
  connect(&tree, &CSourceListView::readOnRequested, this, &CPaneRouter::ReadOn);
  connect(&tree, &CSourceListView::unreadRequested, this, &CPaneRouter::GoToUnread);
  connect(&list, &CFeedListView::unreadRequested, this, &CPaneRouter::GoToUnread);
  frame.Model().AddObserver(this);
  connect(&commands, &CCommands::nodeSelectionRequested, this, &CPaneRouter::SelectNode);
  // An applied source's last update may have failed: its warning mark.
  connect(&commands, &CCommands::sourceUpdated, &tree, &CSourceListView::RefreshDecoration);
  connect(&commands, &CCommands::updateFinished, this, &CPaneRouter::ShowSelectionStatus);
  connect(&commands, &CCommands::progressReported, this, &CPaneRouter::ShowStatus);
  connect(&commands, &CCommands::importProgress, this, [this](int done, int total) {
    if (done < total) {
      ShowStatus(kStatusImporting);
    } else {
      ShowSelectionStatus();
    }
  });

  CCommands* c = &commands;
  connect(&tree, &CSourceListView::updateAllRequested, c, [c] { c->UpdateAll(false); });
  connect(&tree, &CSourceListView::addGroupRequested, c, &CCommands::AddGroup);
  connect(&tree, &CSourceListView::addFeedRequested, c, [c](ObjectId group) { c->AddFeed(group); });
  connect(&tree, &CSourceListView::deleteSourceRequested, c, &CCommands::DeleteSource);
  connect(&tree, &CSourceListView::deleteGroupRequested, c, &CCommands::DeleteGroup);
  connect(&tree, &CSourceListView::renameRequested, c, &CCommands::Rename);
  connect(&tree, &CSourceListView::propertiesRequested, c, &CCommands::ShowProperties);
  connect(&tree, &CSourceListView::accountPropertiesRequested, c, &CCommands::ShowAccountProperties);
  connect(&tree, &CSourceListView::removeAccountRequested, c, &CCommands::RemoveAccount);
  connect(&tree, &CSourceListView::clearHistoryRequested, c, &CCommands::ClearHistory);
  connect(&tree, &CSourceListView::moveSourceRequested, c, &CCommands::MoveSource);
  connect(&tree, &CSourceListView::moveGroupRequested, c, &CCommands::MoveGroup);
  connect(&tree, &CSourceListView::expansionChanged, c, &CCommands::SetExpanded);
  connect(&tree, &CSourceListView::markAllReadRequested, c, &CCommands::MarkAllRead);
  connect(&tree, &CSourceListView::updateNodeRequested, c, &CCommands::UpdateNode);
  connect(&list, &CFeedListView::markReadRequested, c, &CCommands::MarkRead);
  connect(&list, &CFeedListView::starRequested, c, &CCommands::SetStarred);
  connect(&list, &CFeedListView::deleteArticlesRequested, c, &CCommands::DeleteArticles);
  connect(&list, &CFeedListView::showSourceXmlRequested, c, &CCommands::ShowSourceXml);
  connect(&list, &CFeedListView::sortRequested, c, &CCommands::SortSources);
}

void CPaneRouter::OnNodeSelected() {
  if (m_applying) {
    m_selectionMoved = true;
    return;
  }
  // A click on the node the list shows already changes nothing: the rows,
  // their order and selection, and the page stay as they are.
  const std::optional<ObjectId> node = m_tree.SelectedNode();
  if (node == m_list.ShownNode()) return;
  m_list.ShowNode(node);
  ShowSelectionStatus();
  // Showing the whole library's matches, the list stays as it was.
  if (!m_list.Filter().AllArticles()) ClearPage();
}

void CPaneRouter::OnListSelectionCleared() {
  if (m_applying) {
    m_listCleared = true;
    return;
  }
  ClearPage();
}

void CPaneRouter::ShowArticle(ObjectId article) {
  if (m_page != nullptr) m_page->ShowArticle(article);
}

void CPaneRouter::ClearPage() {
  if (m_page != nullptr && m_page->CurrentFeedId() != 0) ShowArticle(0);
}

void CPaneRouter::ShowSelectionStatus() {
  const std::optional<ObjectId> node = m_tree.SelectedNode();
  const CFeedSource* source = node ? m_frame.Model().GetFeedSource(*node) : nullptr;
  if (source == nullptr) {
    ShowStatus(kStatusReady);
    return;
  }
  // The stored status as it is, and why the last attempt failed beside it.
  const std::u16string failure = m_commands.SourceState(source->m_id).failure;
  ShowStatus(failure.empty() ? source->m_commsStatus : source->m_commsStatus + u" (" + failure + u")");
}

void CPaneRouter::ShowStatus(const std::u16string& text) { m_frame.SetStatusText(text); }

void CPaneRouter::GoToUnread(bool forward) {
  if (!m_navigator.Go(forward)) {
    ShowStatus(u"There are no more unread articles.");
  } else {
    // The notice of an earlier try must not outlive the next article found.
    ShowSelectionStatus();
  }
}

void CPaneRouter::ReadOn() {
  if (m_page == nullptr || m_page->CurrentFeedId() == 0 || !m_page->ShowsArticlePage()) {
    GoToUnread(true);
    return;
  }
  const ObjectId shown = m_page->CurrentFeedId();
  QPointer<CPaneRouter> self = this;
  m_page->PageDown([self, shown](bool atEnd) {
    // The answer comes later: only for the article still shown.
    if (!self || !atEnd || self->m_page->CurrentFeedId() != shown) return;
    const CFeed* article = self->m_frame.Model().GetFeed(shown);
    if (article != nullptr && !article->m_read) self->m_commands.MarkRead({shown}, true);
    self->GoToUnread(true);
  });
}

void CPaneRouter::SelectNodeAndArticle(ObjectId node, ObjectId article) {
  QTreeWidgetItem* item = m_tree.FindItem(node);
  if (item == nullptr) return;
  m_tree.SelectItem(item);
  m_tree.scrollToItem(item);
  if (article == 0) return;
  const int row = m_list.FindRow(article);
  if (row >= 0) m_list.ReadRow(row);
}

CPaneRouter::~CPaneRouter() {
  if (m_observing) m_frame.Model().RemoveObserver(this);
}

void CPaneRouter::OnModelGone(const CFeedsManager&) { m_observing = false; }

void CPaneRouter::OnModelChanged(const CFeedsManager&, const CModelChange& change) {
  if (change.external) {
    // Another process's rows come in as the library notices them, perhaps
    // several times in a turn: the panes follow them once, a turn later.
    m_external.entries.insert(m_external.entries.end(), change.entries.begin(), change.entries.end());
    if (m_externalPosted) return;
    m_externalPosted = true;
    QMetaObject::invokeMethod(this, &CPaneRouter::ApplyExternal, Qt::QueuedConnection);
    return;
  }
  // What came before is applied first, so the entries keep their order.
  if (m_externalPosted) ApplyExternal();
  ApplyChange(change);
}

void CPaneRouter::ApplyExternal() {
  if (!m_externalPosted) return;
  m_externalPosted = false;
  CModelChange change = std::move(m_external);
  m_external = CModelChange{};
  change.external = true;
  ApplyChange(change);
}

void CPaneRouter::ApplyChange(const CModelChange& change) {
  if (change.entries.empty()) return;
  const std::optional<ObjectId> shownBefore = m_list.ShownNode();
  m_applying = true;
  m_selectionMoved = false;
  m_listCleared = false;
  m_tree.ApplyChange(change);
  const std::optional<ObjectId> selected = m_tree.SelectedNode();
  const bool nodeChanged = m_selectionMoved && selected != shownBefore;
  if (nodeChanged) {
    // The shown node went (or the tree could only rebuild itself): the
    // list shows what the tree selects now.
    m_list.ShowNode(selected);
  } else {
    m_list.ApplyChange(change);
  }
  m_applying = false;
  if (nodeChanged) ShowSelectionStatus();
  if (nodeChanged || m_listCleared) ClearPage();
  // The page's article, or the one its way back leads to, may have gone
  // (also with its source or group).
  if (m_page != nullptr && std::any_of(change.entries.begin(), change.entries.end(), [](const ChangeEntry& e) {
        return e.kind == ChangeKind::ArticleRemoved || e.kind == ChangeKind::SourceRemoved ||
               e.kind == ChangeKind::GroupRemoved;
      }))
    m_page->Refresh();
  emit changeApplied(change.external);
}

void CPaneRouter::SelectNode(ObjectId node) {
  QTreeWidgetItem* item = m_tree.FindItem(node);
  if (item == nullptr) return;
  m_tree.SelectItem(item);
  m_tree.scrollToItem(item);
}

}  // namespace qb
