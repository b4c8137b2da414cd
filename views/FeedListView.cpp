#include "views/FeedListView.h"

#include <QContextMenuEvent>
#include <QFile>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QScrollBar>
#include <QStyle>
#include <QStyledItemDelegate>
#include <algorithm>
#include <unordered_set>

#include "app/Modal.h"
#include "model/FeedsManager.h"
#include "model/Text.h"
#include "views/ArticleTableModel.h"
#include "views/FeedView.h"
#include "views/Shell.h"
#include "views/SourceListView.h"

namespace qb {

namespace {

constexpr char kSourceXmlName[] = "~feed_source_xml.txt";

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

CFeedListView::CFeedListView(IMainFrame& frame, QWidget* parent)
    : QTreeView(parent), m_frame(frame) {
  m_model = new CArticleTableModel(frame.Model(), this);
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

void CFeedListView::InitialUpdate() {
  SetInitialColumnWidths();
  // Before the window is first shown the list does not have its real width
  // yet; the widths are worked out again then, unless someone (the stored
  // placement) has set them meanwhile.
  m_initialWidthsPending = !isVisible();
}

void CFeedListView::SetInitialColumnWidths() {
  const int w = viewport()->width() - style()->pixelMetric(QStyle::PM_ScrollBarExtent);
  const int widths[] = {w * 14 / 20, w * 3 / 20, w * 3 / 20};
  for (int i = 0; i < CArticleTableModel::kColumnCount; ++i) {
    setColumnWidth(i, widths[i]);
    // As the header took it (it keeps a minimum width).
    m_initialWidths[static_cast<size_t>(i)] = columnWidth(i);
  }
}

void CFeedListView::ApplyPendingColumnWidths() {
  if (!m_initialWidthsPending || !isVisible()) return;
  m_initialWidthsPending = false;
  for (int i = 0; i < CArticleTableModel::kColumnCount; ++i)
    if (columnWidth(i) != m_initialWidths[static_cast<size_t>(i)]) return;
  SetInitialColumnWidths();
}

void CFeedListView::showEvent(QShowEvent* event) {
  QTreeView::showEvent(event);
  ApplyPendingColumnWidths();
}

ViewPosition CFeedListView::ApplyUpdate(UpdateCode code, ViewPosition position,
                                        const ViewUpdate& request) {
  ViewPosition result;
  switch (code) {
    case UpdateCode::AddItem:
      if (position.row >= 0) result.row = m_model->InsertRow(position.row, request.article);
      break;
    case UpdateCode::RemoveItem:
      if (position.row >= 0 && position.row < m_model->rowCount())
        m_model->RemoveRowList({position.row});
      break;
    case UpdateCode::SelectItem:
      if (position.row >= 0) SelectRow(position.row);
      break;
    case UpdateCode::RefreshAll:
      RefreshAll();
      break;
    case UpdateCode::CopySubtree:
      break;
  }
  return result;
}

void CFeedListView::RefreshAll() {
  const CFeedsManager& model = m_frame.Model();
  CSourceListView* tree = m_frame.SourceTree();
  const std::optional<ObjectId> node = tree != nullptr ? tree->SelectedNode() : std::nullopt;
  IdList wanted;
  const bool realNode = node.has_value() && *node != 0;
  if (realNode) {
    model.CollectFeeds(*node, wanted);
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
    int column = 0;
    bool ascending = false;
    if (const CFeedSource* first =
            m_shownSources.empty() ? nullptr : model.GetFeedSource(m_shownSources.front())) {
      column = std::clamp(first->m_sortColumn, 0, 2);
      ascending = first->m_sortDirection != kSortDescending;
    }
    // Article texts never change once stored, so rows that were in order
    // stay in order unless rows were added or the sort changed.
    if (rowsAdded || column != m_sortedColumn || ascending != m_sortedAscending) {
      Sort(column, ascending);
    } else {
      ShowSortArrow(column, ascending);
    }
  }
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
  if (column < 0 || column >= CArticleTableModel::kColumnCount) return;
  const bool ascending = !(m_arrowColumn == column && m_arrowAscending);
  CFeedsManager& model = m_frame.Model();
  for (ObjectId sid : m_shownSources) {
    if (CFeedSource* s = model.GetFeedSource(sid)) {
      s->m_sortColumn = column;
      s->m_sortDirection = ascending ? kSortAscending : kSortDescending;
    }
  }
  m_frame.ScheduleSave();
  Sort(column, ascending);
}

void CFeedListView::OnSelectionChanged(const QItemSelection& selected) {
  if (m_inputModifiers & (Qt::ShiftModifier | Qt::ControlModifier)) return;
  int row = -1;
  for (const QItemSelectionRange& range : selected) {
    if (row < 0 || range.top() < row) row = range.top();
  }
  if (row >= 0) OnRowSelected(row);
}

void CFeedListView::OnRowSelected(int row) {
  m_frame.StopFrameTimer(FrameTimer::MarkRead);
  const ObjectId id = m_model->IdAt(row);
  ShowArticleInView(m_frame.Model().GetFeed(id) != nullptr ? id : 0);
  m_pendingArticle = id;
  m_frame.StartFrameTimer(FrameTimer::MarkRead);
}

void CFeedListView::ShowArticleInView(ObjectId id) {
  if (CFeedView* view = m_frame.ArticleView()) {
    view->m_currentFeedId = id;
    view->ShowArticle();
  }
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
  m_frame.StopFrameTimer(FrameTimer::MarkRead);
  CFeedsManager& model = m_frame.Model();
  CFeed* article = model.GetFeed(m_pendingArticle);
  const bool changed = article != nullptr && !article->m_read;
  if (article != nullptr) article->m_read = true;
  m_frame.ScheduleSave();
  CSourceListView* tree = m_frame.SourceTree();
  const int row = m_model->FindRow(m_pendingArticle);
  if (changed && row >= 0 && tree != nullptr) {
    // Only this article's flag changed since the views last matched the
    // model: its row is redrawn and the counts of its source and the groups
    // above it are adjusted, which is what full refreshes would show,
    // without walking a hundred thousand articles every ten seconds.
    m_model->TouchRow(row);
    const CFeedSource* source = model.FindSourceOfFeed(m_pendingArticle);
    if (source != nullptr) tree->RefreshSourceCounts(source->m_id);
    return;
  }
  ApplyUpdate(UpdateCode::RefreshAll, {}, {});
  if (tree != nullptr) tree->ApplyUpdate(UpdateCode::RefreshAll, {}, {});
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
  m_frame.StopFrameTimer(FrameTimer::MarkRead);
  m_frame.Model().MarkRead(ids, read);
  m_frame.ScheduleSave();
  ApplyUpdate(UpdateCode::RefreshAll, {}, {});
  if (CSourceListView* tree = m_frame.SourceTree()) tree->ApplyUpdate(UpdateCode::RefreshAll, {}, {});
}

void CFeedListView::DeleteSelected() { DeleteArticles(SelectedArticles()); }

void CFeedListView::DeleteArticles(const IdList& articles) {
  m_frame.StopFrameTimer(FrameTimer::MarkRead);
  const std::unordered_set<ObjectId> doomed(articles.begin(), articles.end());
  const int count = m_model->rowCount();
  const std::vector<char> selected = SelectedRowFlags();
  std::vector<int> rows;
  int kept = -1;
  for (int row = 0; row < count; ++row) {
    if (doomed.count(m_model->IdAt(row)) != 0) {
      rows.push_back(row);
    } else if (kept < 0 && selected[static_cast<size_t>(row)]) {
      kept = row;
    }
  }
  if (rows.empty()) return;

  CFeedsManager& model = m_frame.Model();
  model.DeleteArticles(articles);
  CFeedView* view = m_frame.ArticleView();
  if (view != nullptr && doomed.count(view->m_currentFeedId) != 0) {
    view->m_currentFeedId = 0;
    view->ShowArticle();
  }

  const ObjectId keptId = m_model->IdAt(kept);
  setUpdatesEnabled(false);
  m_model->RemoveRowList(rows);
  setUpdatesEnabled(true);
  m_frame.ScheduleSave();

  ObjectId current = 0;
  if (kept >= 0) {
    const int row = m_model->FindRow(keptId);
    current = keptId;
    selectionModel()->setCurrentIndex(m_model->index(row, 0), QItemSelectionModel::NoUpdate);
  } else if (m_model->rowCount() > 0) {
    const int row = std::min(rows.front(), m_model->rowCount() - 1);
    SelectRow(row);
    current = m_model->IdAt(row);
  }
  if (CSourceListView* tree = m_frame.SourceTree()) tree->ApplyUpdate(UpdateCode::RefreshAll, {}, {});
  ShowArticleInView(model.GetFeed(current) != nullptr ? current : 0);
}

QString CFeedListView::SourceXmlPath() {
  const QString folder = PrivateTempFolder();
  return folder.isEmpty() ? QString() : folder + QLatin1Char('/') + QLatin1String(kSourceXmlName);
}

void CFeedListView::ShowSourceXml() {
  const IdList ids = SelectedArticles();
  const CFeed* article = ids.empty() ? nullptr : m_frame.Model().GetFeed(ids.front());
  if (article == nullptr || article->m_sourceText.empty()) {
    ShowMessageBox(m_frame.Window(), MsgIcon::Warning,
                   QStringLiteral("There was a problem displaying the source for the selected feed."));
    return;
  }
  const QString path = SourceXmlPath();
  if (!path.isEmpty()) {
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
      const std::string utf8 = "\xEF\xBB\xBF" + Utf16ToUtf8(article->m_sourceText.str());
      file.write(utf8.data(), static_cast<qint64>(utf8.size()));
    }
  }
  if (path.isEmpty() || !QFile::exists(path) || !OpenWithShell(QUrl::fromLocalFile(path))) {
    ShowMessageBox(m_frame.Window(), MsgIcon::Warning,
                   QStringLiteral("There was a problem displaying the text file. It has been saved "
                                  "to \n\n%1\n\nYou will need to display this manually.")
                       .arg(path));
  }
}

void CFeedListView::keyPressEvent(QKeyEvent* event) {
  const Qt::KeyboardModifiers mods = event->modifiers();
  if (event->key() == Qt::Key_Delete) {
    DeleteSelected();
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
}

void CFeedListView::mouseMoveEvent(QMouseEvent* event) {
  m_inputModifiers = event->modifiers();
  QTreeView::mouseMoveEvent(event);
  m_inputModifiers = Qt::NoModifier;
}

void CFeedListView::contextMenuEvent(QContextMenuEvent* event) {
  const QModelIndex index = indexAt(event->pos());
  if (index.isValid())
    selectionModel()->select(index, QItemSelectionModel::Select | QItemSelectionModel::Rows);
  const IdList ids = SelectedArticles();
  if (ids.empty()) return;
  bool anyUnread = false;
  bool anyRead = false;
  for (ObjectId id : ids) {
    if (const CFeed* a = m_frame.Model().GetFeed(id)) (a->m_read ? anyRead : anyUnread) = true;
  }
  const bool single = ids.size() == 1;
  QMenu menu(this);
  QAction* markRead = menu.addAction(single ? QStringLiteral("Mark item as &read")
                                            : QStringLiteral("Mark items as &read"));
  QAction* markUnread = menu.addAction(single ? QStringLiteral("Mark item as &unread")
                                              : QStringLiteral("Mark items as &unread"));
  markRead->setEnabled(anyUnread);
  markUnread->setEnabled(anyRead);
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
  QAction* chosen = ExecPopupMenu(menu, global);
  if (chosen == nullptr || !chosen->isEnabled()) return;
  if (chosen == markRead) {
    MarkSelected(true);
  } else if (chosen == markUnread) {
    MarkSelected(false);
  } else if (chosen == showXml) {
    ShowSourceXml();
  } else if (chosen == remove) {
    DeleteSelected();
  }
}

void CFeedListView::focusInEvent(QFocusEvent* event) {
  QTreeView::focusInEvent(event);
  m_frame.SetNewArticles(false);
}

void CFeedListView::resizeEvent(QResizeEvent* event) {
  QTreeView::resizeEvent(event);
  ApplyPendingColumnWidths();
  m_frame.PostSavePlacement();
}

}  // namespace qb
