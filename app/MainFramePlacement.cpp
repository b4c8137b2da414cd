// The main window's placement in the "WindowSettings" section: where it
// is, whether it is hidden, maximised or minimised, the panes' sizes and the
// article list's column widths. Restored before the window first shows and
// written whenever it changes, while tracking is on.
#include <QGuiApplication>
#include <QHeaderView>
#include <QLayout>
#include <QMenuBar>
#include <QResizeEvent>
#include <QScreen>
#include <QSplitter>
#include <QStyle>
#include <algorithm>

#include "app/MainFrame.h"
#include "app/RSSReaderDoc.h"
#include "views/FeedListView.h"
#include "views/SourceListView.h"

namespace qb {

QRect PlacementOnScreen(const QRect& stored, const QRect& work) {
  if (work.isEmpty()) return stored;
  // A placement saved at another scale (or on a larger screen) would
  // reach past the screen: it shrinks to the work area, then moves into it.
  const int width = std::clamp(stored.width(), std::min(kMinimumPlacedSize, work.width()), work.width());
  const int height = std::clamp(stored.height(), std::min(kMinimumPlacedSize, work.height()), work.height());
  const int x = std::clamp(stored.x(), work.x(), work.x() + work.width() - width);
  const int y = std::clamp(stored.y(), work.y(), work.y() + work.height() - height);
  return QRect(x, y, width, height);
}

void CMainFrame::PostSavePlacement() {
  if (m_savePlacementPosted) return;
  m_savePlacementPosted = true;
  QMetaObject::invokeMethod(
      this,
      [this] {
        m_savePlacementPosted = false;
        SavePlacement();
      },
      Qt::QueuedConnection);
}

int CMainFrame::DefaultTreeWidth(int clientWidth) const {
  // A fifth of the window, or what the longest label with its counts needs
  // (up to half the window), so "(unread / total)" is not cut off.
  const int frame = 2 * m_sourceTree->frameWidth();
  const int scrollBar = m_sourceTree->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, m_sourceTree);
  const int needed = m_sourceTree->LabelsWidth() + frame + scrollBar;
  return std::max(clientWidth / 5, std::min(needed, clientWidth / 2));
}

void CMainFrame::FitTreeToLabels() {
  if (!m_treeWidthIsDefault || m_closed) return;
  const QList<int> sizes = m_outerSplitter->sizes();
  if (sizes.size() != 2) return;
  const int wanted = DefaultTreeWidth(width());
  if (wanted <= sizes[0]) return;
  const int total = sizes[0] + sizes[1];
  m_outerSplitter->setSizes({std::min(wanted, total), std::max(0, total - wanted)});
}

void CMainFrame::RestorePlacement() {
  const bool track = m_bTrackPlacement;
  m_bTrackPlacement = false;
  SettingsSection& ws = m_doc.m_settingsManager.m_windowSettings;
  const QScreen* screen = QGuiApplication::primaryScreen();
  const QRect work = screen != nullptr ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
  const int left = ws.ReadInt(setting::kMainFrameLeft, work.x() + 25);
  const int top = ws.ReadInt(setting::kMainFrameTop, work.y() + 25);
  const int right = ws.ReadInt(setting::kMainFrameRight, work.x() + work.width() - 25);
  const int bottom = ws.ReadInt(setting::kMainFrameBottom, work.y() + work.height() - 25);
  setGeometry(PlacementOnScreen(QRect(QPoint(left, top), QPoint(right - 1, bottom - 1)), work));
  // Lay the window out now, so the panes have their sizes before it shows.
  if (layout() != nullptr) layout()->activate();

  const int clientWidth = width();
  // The menu bar is not part of the client area.
  const int clientHeight = height() - menuBar()->height();
  m_treeWidthIsDefault = !IsSettingStored(ws.Name(), setting::kSourceListViewWidth);
  const int treeWidth = ws.ReadInt(setting::kSourceListViewWidth, DefaultTreeWidth(clientWidth));
  const int outerTotal = m_outerSplitter->width() - m_outerSplitter->handleWidth();
  m_outerSplitter->setSizes({std::max(0, treeWidth), std::max(0, outerTotal - treeWidth)});
  const int listHeight = ws.ReadInt(setting::kFeedListViewHeight, clientHeight / 3);
  const int innerTotal = m_innerSplitter->height() - m_innerSplitter->handleWidth();
  m_innerSplitter->setSizes({std::max(0, listHeight), std::max(0, innerTotal - listHeight)});
  // A hidden window keeps its resize events until it shows; the article
  // list needs its viewport's width now to size its columns.
  if (!isVisible()) {
    // The list's pane lays out the list (under the filter bar) only when it
    // gets its own resize event: done here, so the list has its width too.
    if (QLayout* paneLayout = m_listPane->layout()) paneLayout->setGeometry(m_listPane->rect());
    QResizeEvent resize(m_articleList->size(), m_articleList->size());
    QCoreApplication::sendEvent(m_articleList, &resize);
  }

  if (QHeaderView* header = m_articleList->header()) {
    for (int i = 0; i < header->count(); ++i) {
      const int current = header->sectionSize(i);
      header->resizeSection(i, ws.ReadInt(setting::kFeedListViewColWidth + QString::number(i + 1), current));
    }
  }
  m_bTrackPlacement = track;
}

void CMainFrame::SavePlacement() {
  if (!m_bTrackPlacement) return;
  SettingsSection& ws = m_doc.m_settingsManager.m_windowSettings;
  const bool hidden = !isVisible();
  ws.WriteBool(setting::kMainFrameIsHidden, hidden);
  if (hidden) return;
  const bool maximized = isMaximized();
  const bool minimized = isMinimized();
  ws.WriteBool(setting::kMainFrameIsMaximized, maximized);
  ws.WriteBool(setting::kMainFrameIsMinimized, minimized);
  if (maximized || minimized) return;
  const QRect rect = geometry();
  const QScreen* screen = QGuiApplication::primaryScreen();
  if (screen != nullptr) {
    const QRect virt = screen->virtualGeometry();
    // Still at an off-screen creation position: not a placement of the user's.
    if (rect.x() + rect.width() < virt.x() && rect.y() + rect.height() < virt.y()) return;
  }
  ws.WriteInt(setting::kMainFrameLeft, rect.x());
  ws.WriteInt(setting::kMainFrameTop, rect.y());
  ws.WriteInt(setting::kMainFrameRight, rect.x() + rect.width());
  ws.WriteInt(setting::kMainFrameBottom, rect.y() + rect.height());
  ws.WriteInt(setting::kSourceListViewWidth, m_sourceTree->width());
  // The list's pane, filter bar included: what the splitter gives it back.
  ws.WriteInt(setting::kFeedListViewHeight, m_listPane->height());
  if (QHeaderView* header = m_articleList->header()) {
    for (int i = 0; i < header->count(); ++i) {
      ws.WriteInt(setting::kFeedListViewColWidth + QString::number(i + 1), header->sectionSize(i));
    }
  }
}

void CMainFrame::moveEvent(QMoveEvent* event) {
  QMainWindow::moveEvent(event);
  PostSavePlacement();
}

void CMainFrame::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  PostSavePlacement();
}

void CMainFrame::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  PostSavePlacement();
}

void CMainFrame::hideEvent(QHideEvent* event) {
  QMainWindow::hideEvent(event);
  PostSavePlacement();
}

}  // namespace qb
