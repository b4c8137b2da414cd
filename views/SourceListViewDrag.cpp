// Moving groups and sources by dragging their items in the source tree.
// While dragging, the drop target under the cursor is the selected item, so
// the article list follows it; the release asks for the move, and the tree
// follows the model once the move is made.
#include <QDrag>
#include <QDragMoveEvent>
#include <QMimeData>
#include <QPainter>

#include "model/FeedsManager.h"
#include "views/SourceListView.h"

namespace qb {

namespace {
constexpr char kNodeMime[] = "application/x-quillbend-node";
}

bool CSourceListView::BeginDrag(QTreeWidgetItem* item) {
  const NodeKind kind = KindOf(item);
  if (kind != NodeKind::Group && kind != NodeKind::Source) return false;
  m_dragItem = item;
  m_dragSource = kind == NodeKind::Source ? IdOf(item) : 0;
  m_dragGroup = kind == NodeKind::Group ? IdOf(item) : 0;
  SelectItem(item);
  m_dragging = true;
  return true;
}

QTreeWidgetItem* CSourceListView::DropTargetFor(QTreeWidgetItem* under) const {
  const NodeKind kind = KindOf(under);
  if (kind == NodeKind::Group) return under;
  if (kind == NodeKind::Root && m_dragGroup != 0) return under;
  return nullptr;
}

void CSourceListView::DragOver(QTreeWidgetItem* under) {
  if (!m_dragging) return;
  QTreeWidgetItem* target = DropTargetFor(under);
  if (target == SelectedItem() && (target != nullptr || SelectedItem() == nullptr)) return;
  if (target != nullptr) {
    SelectItem(target);
  } else {
    clearSelection();
    setCurrentItem(nullptr);
  }
}

bool CSourceListView::Drop(QTreeWidgetItem* under) {
  if (!m_dragging) return false;
  m_dragging = false;
  QTreeWidgetItem* target = DropTargetFor(under);
  const ObjectId source = m_dragSource;
  const ObjectId group = m_dragGroup;
  const ObjectId targetId = target == m_root ? 0 : IdOf(target);
  const bool dragged = target != nullptr && m_dragItem != nullptr;
  EndDrag();
  if (!dragged) return false;
  // The model says which moves it makes (not into its own subtree, not onto
  // its own parent), and which an account's server is asked to make; a
  // refused drop asks for nothing.
  if (source != 0 && (Model().CanMoveSource(source, targetId) || Model().CanMoveThroughServer(source, targetId))) {
    emit moveSourceRequested(source, targetId);
    return true;
  }
  if (group != 0 && Model().CanMoveGroup(group, targetId)) {
    emit moveGroupRequested(group, targetId);
    return true;
  }
  return false;
}

void CSourceListView::EndDrag() {
  m_dragging = false;
  m_dragSource = 0;
  m_dragGroup = 0;
  m_dragItem = nullptr;
}

QPixmap CSourceListView::DragPixmap(QTreeWidgetItem* item) const {
  const QString label = item->text(0);
  QFont font = item->font(0);
  const QFontMetrics metrics(font);
  const QSize size(std::max(1, metrics.horizontalAdvance(label) + 4),
                   std::max(visualItemRect(item).height(), metrics.height()));
  const qreal dpr = devicePixelRatioF();
  QPixmap pixmap(size * dpr);
  pixmap.setDevicePixelRatio(dpr);
  pixmap.fill(palette().color(QPalette::Highlight));
  QPainter painter(&pixmap);
  painter.setFont(font);
  // The letters are cut out of the box, so what lies below shows through them.
  painter.setCompositionMode(QPainter::CompositionMode_DestinationOut);
  painter.setPen(palette().color(QPalette::HighlightedText));
  painter.drawText(QRect(QPoint(2, 0), size), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                   label);
  return pixmap;
}

void CSourceListView::startDrag(Qt::DropActions) {
  QTreeWidgetItem* item = currentItem();
  if (!BeginDrag(item)) return;
  auto* mime = new QMimeData();
  mime->setData(QLatin1String(kNodeMime), QByteArray::number(IdOf(item)));
  auto* drag = new QDrag(this);
  drag->setMimeData(mime);
  drag->setPixmap(DragPixmap(item));
  const QRect rect = visualItemRect(item);
  drag->setHotSpot(viewport()->mapFromGlobal(QCursor::pos()) -
                   QPoint(rect.left() + iconSize().width() + 4, rect.top()));
  drag->exec(Qt::MoveAction);
  // A drag that ends outside the tree drops nothing.
  EndDrag();
}

void CSourceListView::dragEnterEvent(QDragEnterEvent* event) {
  if (event->source() != this || !m_dragging) {
    event->ignore();
    return;
  }
  event->acceptProposedAction();
  DragOver(itemAt(event->position().toPoint()));
}

void CSourceListView::dragMoveEvent(QDragMoveEvent* event) {
  if (event->source() != this || !m_dragging) {
    event->ignore();
    return;
  }
  QTreeWidgetItem* under = itemAt(event->position().toPoint());
  DragOver(under);
  if (DropTargetFor(under) != nullptr) {
    event->acceptProposedAction();
  } else {
    event->ignore();
  }
}

void CSourceListView::dropEvent(QDropEvent* event) {
  if (event->source() != this || !m_dragging) {
    event->ignore();
    return;
  }
  Drop(itemAt(event->position().toPoint()));
  // The tree follows the model; Qt must not remove anything itself.
  event->setDropAction(Qt::IgnoreAction);
  event->accept();
}

}  // namespace qb
