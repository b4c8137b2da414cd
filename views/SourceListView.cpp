#include "views/SourceListView.h"

namespace qb {

CSourceListView::CSourceListView(IMainFrame& frame, QWidget* parent)
    : QTreeWidget(parent), m_frame(frame) {
  setHeaderHidden(true);
}

void CSourceListView::InitialUpdate() {
  clear();
  m_root = new QTreeWidgetItem(this, QStringList{QStringLiteral("Feed Sources")});
  m_root->setData(0, Qt::UserRole, 0u);
  setCurrentItem(m_root);
  m_frame.StartFrameTimer(FrameTimer::Update);
  m_frame.StartFrameTimer(FrameTimer::Tick);
}

ViewPosition CSourceListView::ApplyUpdate(UpdateCode, ViewPosition, const ViewUpdate&) {
  return {};
}

std::optional<ObjectId> CSourceListView::SelectedNode() const {
  const QTreeWidgetItem* item = currentItem();
  if (item == nullptr) return std::nullopt;
  return item->data(0, Qt::UserRole).toUInt();
}

QTreeWidgetItem* CSourceListView::FindItem(ObjectId id) const {
  return id == 0 ? m_root : nullptr;
}

}  // namespace qb
