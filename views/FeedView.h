// The lower right pane: the selected article as a small HTML page written to
// the private temporary folder. The page runs no scripts and cannot read
// local files; links with a target open in the user's browser; the page's
// delete link deletes the article through the article list.
#pragma once

#include <QWebEnginePage>
#include <QWebEngineView>

#include "model/RSSObject.h"
#include "views/IMainFrame.h"

namespace qb {

class CFeedView;

// The pane's page: intercepts navigations before they happen.
class CArticleWebPage : public QWebEnginePage {
  Q_OBJECT
 public:
  CArticleWebPage(CFeedView& view, QObject* parent);

  // What a navigation to `url` does: false cancels it. Public so the rules
  // can be exercised without a browser round trip.
  bool HandleNavigation(const QUrl& url, bool isMainFrame);

 protected:
  bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override;
  QWebEnginePage* createWindow(WebWindowType type) override;

 private:
  CFeedView& m_view;
};

class CFeedView : public QWebEngineView {
  Q_OBJECT
 public:
  explicit CFeedView(IMainFrame& frame, QWidget* parent = nullptr);
  ~CFeedView() override;

  // Writes the page of m_currentFeedId (or an empty page) and shows it.
  void ShowArticle();

  // Escape: stop loading.
  void StopLoading();

  // The delete link or the Delete key: the list deletes the shown article.
  void DeleteCurrentArticle();

  // The path of the last page written (empty before the first).
  const QString& PagePath() const { return m_pagePath; }

  ObjectId m_currentFeedId = 0;

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void childEvent(QChildEvent* event) override;
  // A new colour scheme repaints the shown article in its colours.
  void changeEvent(QEvent* event) override;

 private:
  friend class CArticleWebPage;
  void SetScriptsEnabled(bool on);

  IMainFrame& m_frame;
  CArticleWebPage* m_page = nullptr;
  QString m_pagePath;
};

}  // namespace qb
