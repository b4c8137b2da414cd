// The lower right pane: the selected article as a small HTML page.
#pragma once

#include <QWebEngineView>

#include "model/RSSObject.h"
#include "views/IMainFrame.h"

namespace qb {

class CFeedView : public QWebEngineView {
  Q_OBJECT
 public:
  explicit CFeedView(IMainFrame& frame, QWidget* parent = nullptr);

  // Writes the page of m_currentFeedId (or an empty page) and shows it.
  void ShowArticle();

  // Escape: stop loading.
  void StopLoading();

  ObjectId m_currentFeedId = 0;

 private:
  IMainFrame& m_frame;
};

}  // namespace qb
