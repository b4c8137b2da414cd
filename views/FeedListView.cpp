#include "views/FeedListView.h"

namespace qb {

CFeedListView::CFeedListView(IMainFrame& frame, QWidget* parent)
    : QTreeView(parent), m_frame(frame) {}

void CFeedListView::InitialUpdate() {}

ViewPosition CFeedListView::ApplyUpdate(UpdateCode, ViewPosition, const ViewUpdate&) {
  return {};
}

void CFeedListView::DeleteArticles(const IdList&) {}

void CFeedListView::MarkPendingRead() { m_frame.StopFrameTimer(FrameTimer::MarkRead); }

int CFeedListView::FindRow(ObjectId) const { return -1; }

}  // namespace qb
