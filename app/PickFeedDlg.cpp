#include "app/PickFeedDlg.h"

#include <QHeaderView>
#include <QLabel>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "app/DialogButtons.h"
#include "views/Desktop.h"
#include "views/ViewText.h"

namespace qb {

QString FeedChoiceTitle(const DiscoveredFeed& feed) {
  const QString title = ToQString(feed.title).simplified();
  return title.isEmpty() ? ToQString(feed.url) : title;
}

CPickFeedDlg::CPickFeedDlg(QWidget* parent) : QDialog(parent, kDialogWindowFlags) {
  setWindowTitle(QStringLiteral("Choose a Feed"));
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(
      new QLabel(QStringLiteral("This page offers more than one feed. Choose the one to subscribe to:"), this));
  m_list = new QTreeWidget(this);
  m_list->setColumnCount(2);
  m_list->setHeaderLabels({QStringLiteral("Title"), QStringLiteral("Address")});
  m_list->setRootIsDecorated(false);
  m_list->setUniformRowHeights(true);
  m_list->setSelectionMode(QAbstractItemView::SingleSelection);
  m_list->setMinimumSize(560, 160);
  m_list->header()->setStretchLastSection(true);
  connect(m_list, &QTreeWidget::itemDoubleClicked, this, [this] { accept(); });
  layout->addWidget(m_list);
  layout->addWidget(NewOkCancelBox(this));
}

void CPickFeedDlg::InitDialog() {
  m_initialised = true;
  m_list->clear();
  for (const DiscoveredFeed& feed : m_feeds) {
    auto* item = new QTreeWidgetItem(m_list, {FeedChoiceTitle(feed), ToQString(feed.url)});
    item->setToolTip(1, ToQString(feed.url));
  }
  m_list->resizeColumnToContents(0);
  if (m_chosen >= 0 && m_chosen < m_list->topLevelItemCount()) {
    m_list->setCurrentItem(m_list->topLevelItem(m_chosen));
  }
  m_list->setFocus();
}

void CPickFeedDlg::showEvent(QShowEvent* event) {
  if (!m_initialised) InitDialog();
  QDialog::showEvent(event);
}

void CPickFeedDlg::accept() {
  const QList<QTreeWidgetItem*> selected = m_list->selectedItems();
  if (selected.isEmpty()) return;
  m_chosen = m_list->indexOfTopLevelItem(selected.front());
  QDialog::accept();
}

}  // namespace qb
