// The frame's reading commands: the View menu with the keys for reading
// (N, P, Space), the filter bar, "Mark all as read" and "Update this feed /
// group" for the selected node, and the selection kept across a restart.
#include <QAction>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>
#include <QTimer>

#include "app/Commands.h"
#include "app/MainFrame.h"
#include "app/PaneRouter.h"
#include "app/RSSReaderDoc.h"
#include "model/FeedsManager.h"
#include "views/ArticleFilterBar.h"
#include "views/ArticleTableModel.h"
#include "views/FeedListView.h"
#include "views/SourceListView.h"

namespace qb {

void CMainFrame::CreateViewMenu() {
  m_viewMenu = menuBar()->addMenu(QStringLiteral("&View"));
  // N, P and Space belong to the panes, which read on with them wherever the
  // focus is (the page keeps them for web pages); the menu names them beside
  // the command.
  QAction* next = m_viewMenu->addAction(QStringLiteral("&Next unread article\tN"));
  next->setStatusTip(QStringLiteral("Go to the next unread article"));
  connect(next, &QAction::triggered, this, &CMainFrame::OnNextUnread);
  QAction* previous = m_viewMenu->addAction(QStringLiteral("&Previous unread article\tP"));
  previous->setStatusTip(QStringLiteral("Go to the previous unread article"));
  connect(previous, &QAction::triggered, this, &CMainFrame::OnPreviousUnread);
  QAction* readOn = m_viewMenu->addAction(QStringLiteral("&Read on\tSpace"));
  readOn->setStatusTip(QStringLiteral("Page down through the article, then go to the next unread article"));
  connect(readOn, &QAction::triggered, this, &CMainFrame::OnReadOn);
  m_viewMenu->addSeparator();
  m_viewMenu->addAction(m_readerViewAction);
  m_viewMenu->addSeparator();
  m_viewMenu->addAction(m_filterAction);
  m_viewMenu->addSeparator();
  m_viewMenu->addAction(m_markAllReadAction);
  m_updateSelectedAction = m_viewMenu->addAction(QStringLiteral("&Update this feed"));
  m_updateSelectedAction->setStatusTip(QStringLiteral("Download the selected group's or feed's articles now"));
  connect(m_updateSelectedAction, &QAction::triggered, this, &CMainFrame::OnUpdateSelected);
  connect(m_viewMenu, &QMenu::aboutToShow, this, &CMainFrame::UpdateViewMenu);
  connect(m_sourceTree, &CSourceListView::nodeSelected, this, &CMainFrame::UpdateViewMenu);
  UpdateViewMenu();
}

void CMainFrame::UpdateViewMenu() {
  const QList<QTreeWidgetItem*> selected = m_sourceTree->selectedItems();
  const CSourceListView::NodeKind kind =
      m_sourceTree->KindOf(selected.isEmpty() ? nullptr : selected.front());
  const bool isGroup = kind == CSourceListView::NodeKind::Group;
  const bool enabled = isGroup || kind == CSourceListView::NodeKind::Source;
  m_markAllReadAction->setEnabled(enabled);
  m_updateSelectedAction->setEnabled(enabled);
  m_updateSelectedAction->setText(isGroup ? QStringLiteral("&Update this group")
                                          : QStringLiteral("&Update this feed"));
}

void CMainFrame::OnFindArticles() { m_filterBar->Open(); }

void CMainFrame::OnMarkAllRead() {
  if (const std::optional<ObjectId> node = m_sourceTree->SelectedNode()) m_commands->MarkAllRead(*node);
}

void CMainFrame::OnUpdateSelected() {
  if (const std::optional<ObjectId> node = m_sourceTree->SelectedNode()) m_commands->UpdateNode(*node);
}

void CMainFrame::OnNextUnread() { m_router->GoToUnread(true); }
void CMainFrame::OnPreviousUnread() { m_router->GoToUnread(false); }
void CMainFrame::OnReadOn() { m_router->ReadOn(); }

void CMainFrame::PostSaveSelection() {
  if (!m_closed && !m_selectionSaveTimer->isActive()) m_selectionSaveTimer->start();
}

void CMainFrame::SaveSelection() {
  m_selectionSaveTimer->stop();
  const ObjectId node = m_sourceTree->SelectedNode().value_or(0);
  const ObjectId article = m_articleList->ArticleModel()->IdAt(m_articleList->ReadingRow());
  if (std::make_pair(node, article) == m_storedSelection) return;
  m_storedSelection = {node, article};
  SettingsSection& ws = m_doc.m_settingsManager.m_windowSettings;
  // Identifiers are unsigned; the file keeps their bits in a signed integer.
  ws.WriteInt(setting::kSelectedNode, static_cast<int32_t>(node));
  ws.WriteInt(setting::kSelectedArticle, static_cast<int32_t>(article));
}

void CMainFrame::RestoreSelection() {
  SettingsSection& ws = m_doc.m_settingsManager.m_windowSettings;
  const auto node = static_cast<ObjectId>(ws.ReadInt(setting::kSelectedNode, 0));
  const auto article = static_cast<ObjectId>(ws.ReadInt(setting::kSelectedArticle, 0));
  m_storedSelection = {node, article};
  if (node != 0) m_router->SelectNodeAndArticle(node, article);
  // The restored selection is what is stored, not a change to write again.
  m_selectionSaveTimer->stop();
}

}  // namespace qb
