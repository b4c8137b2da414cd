#include "views/FeedView.h"

namespace qb {

CFeedView::CFeedView(IMainFrame& frame, QWidget* parent)
    : QWebEngineView(parent), m_frame(frame) {}

void CFeedView::ShowArticle() { setHtml(QString()); }

void CFeedView::StopLoading() { triggerPageAction(QWebEnginePage::Stop); }

}  // namespace qb
