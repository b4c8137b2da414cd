#include "views/DateText.h"
#include "views/FeedListView.h"

#include <QContextMenuEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QScrollBar>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTimer>
#include <algorithm>
#include <unordered_set>

#include "model/FeedsManager.h"
#include "views/ArticleTableModel.h"
#include "views/Desktop.h"
#include "views/ReadingKeys.h"
#include "views/ViewText.h"

namespace qb {

namespace {

// Selected rows use the highlight colours while the list has the focus and
// the button colours when it has not.
class CArticleDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

 protected:
  void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
    QStyledItemDelegate::initStyleOption(option, index);
    const QWidget* view = option->widget;
    if (view != nullptr && !view->hasFocus()) {
      for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        option->palette.setColor(group, QPalette::Highlight,
                                 option->palette.color(QPalette::Active, QPalette::Button));
        option->palette.setColor(group, QPalette::HighlightedText,
                                 option->palette.color(QPalette::Active, QPalette::ButtonText));
      }
    }
  }
};

}  // namespace

CFeedListView::CFeedListView(const CFeedsManager& model, IDesktop& desktop, QWidget* parent)
    : QTreeView(parent), m_feedModel(model), m_desktop(desktop) {
  m_markReadTimer = new QTimer(this);
  m_markReadTimer->setObjectName(QStringLiteral("markRead"));
  m_markReadTimer->setSingleShot(true);
  m_markReadTimer->setInterval(kMarkReadDelayMs);
  connect(m_markReadTimer, &QTimer::timeout, this, &CFeedListView::MarkPendingRead);
  m_model = new CArticleTableModel(model, this);
  setModel(m_model);
  setItemDelegate(new CArticleDelegate(this));
  setRootIsDecorated(false);
  setItemsExpandable(false);
  setUniformRowHeights(true);
  setAllColumnsShowFocus(true);
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setSortingEnabled(false);
  header()->setSectionsClickable(true);
  header()->setSortIndicatorShown(false);
  header()->setStretchLastSection(false);
  connect(header(), &QHeaderView::sectionClicked, this, &CFeedListView::SortByHeader);
  connect(selectionModel(), &QItemSelectionModel::selectionChanged, this,
          [this](const QItemSelection& selected, const QItemSelection&) {
            OnSelectionChanged(selected);
          });
}

CFeedListView::~CFeedListView() {
  // No selection handling while the list is taken apart.
  selectionModel()->disconnect(this);
  header()->disconnect(this);
}

void CFeedListView::SetMarkReadDelay(int milliseconds) { m_markReadTimer->setInterval(milliseconds); }
int CFeedListView::MarkReadDelay() const { return m_markReadTimer->interval(); }
bool CFeedListView::MarkReadPending() const { return m_markReadTimer->isActive(); }

void CFeedListView::InitialUpdate() {
  SetInitialColumnWidths();
  // Before the window is first shown the list does not have its real width
  // yet; the widths are worked out again then, unless someone (the stored
  // placement) has set them meanwhile.
  m_initialWidthsPending = !isVisible();
}

int CFeedListView::ColumnSpace() const {
  // The room a vertical scroll bar needs is kept free whether it shows or not.
  return width() - 2 * frameWidth() - style()->pixelMetric(QStyle::PM_ScrollBarExtent);
}

int CFeedListView::DateColumnWidth() const {
  // The widest date the locale writes, in the weight of an unread article:
  // two-digit days and hours, every month, morning and evening.
  QFont bold = font();
  bold.setBold(true);
  const QFontMetrics metrics(bold);
  int widest = 0;
  for (int month = 1; month <= 12; ++month) {
    for (int hour : {10, 22}) {
      CDateTime sample;
      sample.SetDateTime(2000, month, 28, hour, 58, 58);
      widest = std::max(widest, metrics.horizontalAdvance(FormatDisplayDate(sample)));
    }
  }
  // The cell's text margins on both sides, and a little air.
  const int margin = style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 1;
  return widest + 2 * margin + 8;
}

int CFeedListView::StarColumnWidth() const {
  return fontMetrics().horizontalAdvance(QStringLiteral("\u2605")) + 16;
}

void CFeedListView::SetInitialColumnWidths() {
  const int w = ColumnSpace();
  setColumnWidth(CArticleTableModel::kStarred, StarColumnWidth());
  setColumnWidth(CArticleTableModel::kChannel, w * 3 / 20);
  setColumnWidth(CArticleTableModel::kDate, std::max(w * 3 / 20, DateColumnWidth()));
  // As the header took them (it keeps a minimum width).
  m_initialWidths = {columnWidth(CArticleTableModel::kChannel), columnWidth(CArticleTableModel::kDate)};
  FitTitleColumn();
}

void CFeedListView::FitTitleColumn() {
  const int rest = ColumnSpace() - columnWidth(CArticleTableModel::kChannel) -
                   columnWidth(CArticleTableModel::kDate) - columnWidth(CArticleTableModel::kStarred);
  setColumnWidth(CArticleTableModel::kTitle, std::max(rest, header()->minimumSectionSize()));
}

void CFeedListView::ApplyPendingColumnWidths() {
  if (!m_initialWidthsPending || !isVisible()) return;
  m_initialWidthsPending = false;
  if (columnWidth(CArticleTableModel::kChannel) != m_initialWidths[0] ||
      columnWidth(CArticleTableModel::kDate) != m_initialWidths[1]) {
    return;
  }
  SetInitialColumnWidths();
}

void CFeedListView::showEvent(QShowEvent* event) {
  QTreeView::showEvent(event);
  ApplyPendingColumnWidths();
}

void CFeedListView::ShowNode(std::optional<ObjectId> node) {
  m_node = node;
  RefreshAll();
}

void CFeedListView::InsertArticles(const IdList& articles) {
  const bool shows = m_filter.AllArticles() || (m_node.has_value() && *m_node != 0);
  if (!shows || articles.empty()) return;
  IdList added = articles;
  if (m_filter.IsActive()) FilterArticles(added);
  if (m_sortedColumn < 0) {
    m_model->AppendRows(added);
  } else {
    m_model->InsertSorted(added, m_sortedColumn, m_sortedAscending);
  }
  if (m_filter.IsActive() && !added.empty()) emit shownCountChanged(m_model->rowCount());
}

void CFeedListView::RefreshAll() {
  const CFeedsManager& model = m_feedModel;
  const bool all = m_filter.AllArticles();
  const std::optional<ObjectId> node = all ? std::optional<ObjectId>(0) : m_node;
  IdList wanted;
  const bool realNode = all || (node.has_value() && *node != 0);
  if (realNode) {
    if (m_filter.IsActive()) {
      std::unordered_set<ObjectId> selected;
      if (m_filter.UnreadOnly()) {
        const IdList ids = SelectedArticles();
        selected.insert(ids.begin(), ids.end());
      }
      wanted = m_filter.Find(model, *node, selected);
    } else {
      model.CollectFeeds(*node, wanted);
    }
    m_shownSources.clear();
    if (model.GetFeedSource(*node) != nullptr) {
      m_shownSources.push_back(*node);
    } else {
      model.CollectSources(*node, m_shownSources);
    }
  }

  // Rows that stay are marked; wanted articles without a row are appended.
  const std::vector<ObjectId>& ids = m_model->Ids();
  std::vector<char> keep(ids.size(), 0);
  IdList added;
  for (ObjectId id : wanted) {
    const int row = m_model->FindRow(id);
    if (row >= 0) {
      keep[static_cast<size_t>(row)] = 1;
    } else {
      added.push_back(id);
    }
  }
  std::vector<int> removed;
  for (size_t i = 0; i < keep.size(); ++i)
    if (!keep[i]) removed.push_back(static_cast<int>(i));
  m_model->RemoveRowList(removed);
  const int before = m_model->rowCount();
  m_model->AppendRows(added);
  const bool rowsAdded = m_model->rowCount() != before;
  m_model->TouchAll();

  if (realNode) {
    const auto [column, ascending] = StoredSort();
    // Article texts never change once stored, so rows that were in order
    // stay in order unless rows were added or the sort changed.
    if (rowsAdded || column != m_sortedColumn || ascending != m_sortedAscending) {
      Sort(column, ascending);
    } else {
      ShowSortArrow(column, ascending);
    }
  }
  emit refreshed();
  if (m_filter.IsActive()) emit shownCountChanged(m_model->rowCount());
}

void CFeedListView::SetFilter(const QString& text, bool unreadOnly, bool allArticles) {
  if (text == m_filter.Text() && unreadOnly == m_filter.UnreadOnly() && allArticles == m_filter.AllArticles())
    return;
  m_filter.SetText(text);
  m_filter.SetUnreadOnly(unreadOnly);
  m_filter.SetAllArticles(allArticles);
  RefreshAll();
  // The best matches are the newest, at the top.
  scrollToTop();
  emit filterApplied(m_model->rowCount());
}

void CFeedListView::FilterOpened() { m_readBeforeFilter = m_model->IdAt(ReadingRow()); }

void CFeedListView::FilterClosed() {
  const ObjectId article = m_readBeforeFilter;
  m_readBeforeFilter = 0;
  if (article == 0 || !SelectedArticles().empty()) return;
  ReadRow(m_model->FindRow(article));
}

void CFeedListView::FilterArticles(IdList& articles) const {
  std::unordered_set<ObjectId> selected;
  if (m_filter.UnreadOnly()) {
    const IdList ids = SelectedArticles();
    selected.insert(ids.begin(), ids.end());
  }
  m_filter.Apply(m_feedModel, articles, selected);
}

int CFeedListView::ReadingRow() const {
  const QModelIndex current = currentIndex();
  if (current.isValid() && selectionModel()->isSelected(current)) return current.row();
  const std::vector<char> flags = SelectedRowFlags();
  for (size_t row = 0; row < flags.size(); ++row)
    if (flags[row]) return static_cast<int>(row);
  return -1;
}

int CFeedListView::FindUnreadRow(int row, bool forward) const {
  const CFeedsManager& model = m_feedModel;
  const int count = m_model->rowCount();
  for (int r = forward ? std::max(row + 1, 0) : std::min(row - 1, count - 1);
       forward ? r < count : r >= 0; r += forward ? 1 : -1) {
    const CFeed* article = model.GetFeed(m_model->IdAt(r));
    if (article != nullptr && !article->m_read) return r;
  }
  return -1;
}

bool CFeedListView::HasUnreadShown(ObjectId sourceId) const {
  return m_filter.HasUnreadMatch(m_feedModel, sourceId);
}

void CFeedListView::ReadRow(int row) {
  if (row < 0 || row >= m_model->rowCount()) return;
  const QModelIndex index = m_model->index(row, 0);
  // The selection first: making the row current alone selects nothing.
  selectionModel()->select(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  selectionModel()->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
  scrollTo(index);
}

bool CFeedListView::HandleReadingKey(QKeyEvent* event) {
  const ReadingKey key = ReadingKeyOf(*event);
  if (key == ReadingKey::None) return false;
  if (key == ReadingKey::ReadOn) {
    emit readOnRequested();
  } else {
    emit unreadRequested(key == ReadingKey::NextUnread);
  }
  return true;
}

void CFeedListView::Sort(int column, bool ascending) {
  m_model->SortRows(column, ascending);
  m_sortedColumn = column;
  m_sortedAscending = ascending;
  ShowSortArrow(column, ascending);
}

void CFeedListView::ShowSortArrow(int column, bool ascending) {
  m_arrowColumn = column;
  m_arrowAscending = ascending;
  header()->setSortIndicatorShown(true);
  // The header draws Qt::AscendingOrder as a downward arrow; an ascending
  // sort shows an upward one here.
  header()->setSortIndicator(column, ascending ? Qt::DescendingOrder : Qt::AscendingOrder);
}

void CFeedListView::SortByHeader(int column) {
  if (column < 0 || column >= CArticleTableModel::kSortColumns) return;
  const bool ascending = !(m_arrowColumn == column && m_arrowAscending);
  // The whole library's matches are sorted here only: the sort stored on
  // every source is the user's choice for each.
  if (m_filter.AllArticles()) {
    m_allSort = {column, ascending};
  } else {
    emit sortRequested(m_shownSources, column, ascending);
  }
  Sort(column, ascending);
}

void CFeedListView::OnSelectionChanged(const QItemSelection& selected) {
  if (!selectionModel()->hasSelection()) {
    emit selectionCleared();
    return;
  }
  if (m_inputModifiers & (Qt::ShiftModifier | Qt::ControlModifier)) return;
  int row = -1;
  for (const QItemSelectionRange& range : selected) {
    if (row < 0 || range.top() < row) row = range.top();
  }
  if (row >= 0) OnRowSelected(row);
}

void CFeedListView::OnRowSelected(int row) {
  m_markReadTimer->stop();
  const ObjectId id = m_model->IdAt(row);
  emit articleChosen(m_feedModel.GetFeed(id) != nullptr ? id : 0);
  m_pendingArticle = id;
  m_markReadTimer->start();
}

void CFeedListView::SelectRow(int row) {
  if (row < 0 || row >= m_model->rowCount()) return;
  const QModelIndex index = m_model->index(row, 0);
  selectionModel()->select(index, QItemSelectionModel::Select | QItemSelectionModel::Rows);
  selectionModel()->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
}

void CFeedListView::SelectOnly(int row) {
  if (row < 0 || row >= m_model->rowCount()) return;
  selectionModel()->select(m_model->index(row, 0), QItemSelectionModel::ClearAndSelect |
                                                        QItemSelectionModel::Rows);
}

void CFeedListView::MarkPendingRead() {
  m_markReadTimer->stop();
  emit markReadRequested({m_pendingArticle}, true);
}

int CFeedListView::FindRow(ObjectId article) const { return m_model->FindRow(article); }

std::vector<char> CFeedListView::SelectedRowFlags() const {
  // Read from the selection's ranges: asking the selection model for its
  // selected rows costs time quadratic in the number of ranges.
  std::vector<char> flags(static_cast<size_t>(m_model->rowCount()), 0);
  for (const QItemSelectionRange& range : selectionModel()->selection()) {
    if (!range.isValid()) continue;
    for (int row = std::max(range.top(), 0); row <= range.bottom() && row < m_model->rowCount(); ++row)
      flags[static_cast<size_t>(row)] = 1;
  }
  return flags;
}

IdList CFeedListView::SelectedArticles() const {
  const std::vector<char> flags = SelectedRowFlags();
  IdList ids;
  for (size_t row = 0; row < flags.size(); ++row)
    if (flags[row]) ids.push_back(m_model->IdAt(static_cast<int>(row)));
  return ids;
}

void CFeedListView::MarkSelected(bool read) {
  const IdList ids = SelectedArticles();
  m_markReadTimer->stop();
  emit markReadRequested(ids, read);
}

void CFeedListView::DeleteSelected() { DeleteArticles(SelectedArticles()); }

void CFeedListView::DeleteArticles(const IdList& articles) {
  m_markReadTimer->stop();
  const std::unordered_set<ObjectId> doomed(articles.begin(), articles.end());
  const int count = m_model->rowCount();
  const std::vector<char> selected = SelectedRowFlags();
  IdList shown;
  int firstRow = -1;
  int kept = -1;
  for (int row = 0; row < count; ++row) {
    const ObjectId id = m_model->IdAt(row);
    if (doomed.count(id) != 0) {
      shown.push_back(id);
      if (firstRow < 0) firstRow = row;
    } else if (kept < 0 && selected[static_cast<size_t>(row)]) {
      kept = row;
    }
  }
  if (shown.empty()) return;
  const ObjectId keptId = m_model->IdAt(kept);

  // The rows go when the list is brought in line with the model.
  setUpdatesEnabled(false);
  emit deleteArticlesRequested(articles);
  setUpdatesEnabled(true);

  if (kept >= 0) {
    selectionModel()->setCurrentIndex(m_model->index(m_model->FindRow(keptId), 0),
                                      QItemSelectionModel::NoUpdate);
    emit articleChosen(keptId);
  } else if (m_model->rowCount() > 0) {
    // Selecting the row that took the first deleted row's place shows its
    // article and starts the mark-read timer, as any single selection does.
    SelectRow(std::min(firstRow, m_model->rowCount() - 1));
  } else {
    emit articleChosen(0);
  }
}

void CFeedListView::ShowSourceXml() {
  const IdList ids = SelectedArticles();
  emit showSourceXmlRequested(ids.empty() ? 0 : ids.front());
}

void CFeedListView::keyPressEvent(QKeyEvent* event) {
  const Qt::KeyboardModifiers mods = event->modifiers();
  if (event->key() == Qt::Key_Delete) {
    DeleteSelected();
    event->accept();
    return;
  }
  if (event->key() == Qt::Key_S && !(mods & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))) {
    StarSelected();
    event->accept();
    return;
  }
  if (HandleReadingKey(event)) {
    event->accept();
    return;
  }
  if ((event->key() == Qt::Key_Home || event->key() == Qt::Key_End) &&
      (mods & Qt::ControlModifier) && !(mods & Qt::ShiftModifier)) {
    m_inputModifiers = mods;
    SelectOnly(event->key() == Qt::Key_Home ? 0 : m_model->rowCount() - 1);
  }
  m_inputModifiers = mods;
  QTreeView::keyPressEvent(event);
  m_inputModifiers = Qt::NoModifier;
}

void CFeedListView::mousePressEvent(QMouseEvent* event) {
  m_inputModifiers = event->modifiers();
  QTreeView::mousePressEvent(event);
  m_inputModifiers = Qt::NoModifier;
  // A click on the star column stars or unstars its row.
  const QModelIndex index = indexAt(event->pos());
  if (event->button() == Qt::LeftButton && index.isValid() && index.column() == CArticleTableModel::kStarred) {
    const ObjectId id = m_model->IdAt(index.row());
    if (const CFeed* a = m_feedModel.GetFeed(id)) emit starRequested({id}, !a->m_starred);
  }
}

void CFeedListView::StarSelected() {
  const IdList ids = SelectedArticles();
  if (ids.empty()) return;
  // Stars them all unless all are starred already.
  bool allStarred = true;
  for (ObjectId id : ids) {
    if (const CFeed* a = m_feedModel.GetFeed(id); a != nullptr && !a->m_starred) allStarred = false;
  }
  emit starRequested(ids, !allStarred);
}

void CFeedListView::mouseMoveEvent(QMouseEvent* event) {
  m_inputModifiers = event->modifiers();
  QTreeView::mouseMoveEvent(event);
  m_inputModifiers = Qt::NoModifier;
}

void CFeedListView::contextMenuEvent(QContextMenuEvent* event) {
  // From the keyboard the menu is for the rows already selected.
  const QModelIndex index =
      event->reason() == QContextMenuEvent::Mouse ? indexAt(event->pos()) : QModelIndex();
  if (index.isValid())
    selectionModel()->select(index, QItemSelectionModel::Select | QItemSelectionModel::Rows);
  const IdList ids = SelectedArticles();
  if (ids.empty()) return;
  bool anyUnread = false;
  bool anyRead = false;
  for (ObjectId id : ids) {
    if (const CFeed* a = m_feedModel.GetFeed(id)) (a->m_read ? anyRead : anyUnread) = true;
  }
  const bool single = ids.size() == 1;
  QMenu menu(this);
  QAction* markRead = menu.addAction(single ? QStringLiteral("Mark item as &read")
                                            : QStringLiteral("Mark items as &read"));
  QAction* markUnread = menu.addAction(single ? QStringLiteral("Mark item as &unread")
                                              : QStringLiteral("Mark items as &unread"));
  markRead->setEnabled(anyUnread);
  markUnread->setEnabled(anyRead);
  bool allStarred = true;
  for (ObjectId id : ids) {
    if (const CFeed* a = m_feedModel.GetFeed(id); a != nullptr && !a->m_starred) allStarred = false;
  }
  QAction* star = menu.addAction(allStarred ? (single ? QStringLiteral("Un&star this item")
                                                     : QStringLiteral("Un&star these items"))
                                            : (single ? QStringLiteral("&Star this item")
                                                      : QStringLiteral("&Star these items")));
  menu.addSeparator();
  QAction* showXml = nullptr;
  if (single) {
    showXml = menu.addAction(QStringLiteral("Display source &XML for this item"));
    menu.addSeparator();
  }
  QAction* remove = menu.addAction(single ? QStringLiteral("&Delete this item")
                                          : QStringLiteral("&Delete these items"));
  const QPoint global = event->reason() == QContextMenuEvent::Mouse
                            ? event->globalPos()
                            : viewport()->mapToGlobal(visualRect(currentIndex()).bottomLeft());
  QAction* chosen = m_desktop.RunPopupMenu(menu, global);
  if (chosen == nullptr || !chosen->isEnabled()) return;
  if (chosen == markRead) {
    MarkSelected(true);
  } else if (chosen == markUnread) {
    MarkSelected(false);
  } else if (chosen == star) {
    StarSelected();
  } else if (chosen == showXml) {
    ShowSourceXml();
  } else if (chosen == remove) {
    DeleteSelected();
  }
}

void CFeedListView::focusInEvent(QFocusEvent* event) {
  QTreeView::focusInEvent(event);
  emit focusReceived();
}

void CFeedListView::resizeEvent(QResizeEvent* event) {
  QTreeView::resizeEvent(event);
  ApplyPendingColumnWidths();
  FitTitleColumn();
  emit resized();
}

}  // namespace qb
