#include "views/FeedView.h"

#include <QChildEvent>
#include <QKeyEvent>
#include <QWebEngineSettings>

#include "model/FeedsManager.h"
#include "views/ArticlePage.h"
#include "views/Shell.h"

namespace qb {

namespace {

// A page for a link with a target: its first navigation goes to the user's
// browser, then it goes away. The pane itself never opens windows.
class CExternalLinkPage : public QWebEnginePage {
 public:
  CExternalLinkPage(IDesktop& desktop, QObject* parent) : QWebEnginePage(parent), m_desktop(desktop) {}

 protected:
  bool acceptNavigationRequest(const QUrl& url, NavigationType, bool) override {
    if (!m_done) {
      m_done = true;
      OpenLinkExternally(m_desktop, url);
      deleteLater();
    }
    return false;
  }

 private:
  IDesktop& m_desktop;
  bool m_done = false;
};

}  // namespace

CArticleWebPage::CArticleWebPage(CFeedView& view, QObject* parent)
    : QWebEnginePage(parent), m_view(view) {}

bool CArticleWebPage::HandleNavigation(const QUrl& url, bool isMainFrame) {
  const QString text = url.toString();
  if (IsDeleteArticleUrl(text)) {
    m_view.DeleteCurrentArticle();
    return false;
  }
  if (!isMainFrame) return true;
  if (text.startsWith(QLatin1String("http://"))) {
    // The pane now shows a web page instead of the article.
    m_view.m_currentFeedId = 0;
  }
  if (url.isLocalFile()) {
    // Only our own page file; a feed's link must not open local files.
    if (url.toLocalFile() != m_view.PagePath()) return false;
    m_view.SetScriptsEnabled(false);
  } else if (url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https")) {
    m_view.SetScriptsEnabled(true);
  }
  return true;
}

bool CArticleWebPage::acceptNavigationRequest(const QUrl& url, NavigationType type,
                                              bool isMainFrame) {
  // Our own loads of the page file come through here as well.
  if (type == NavigationTypeTyped && url.isLocalFile() && url.toLocalFile() == m_view.PagePath()) {
    m_view.SetScriptsEnabled(false);
    return true;
  }
  return HandleNavigation(url, isMainFrame);
}

QWebEnginePage* CArticleWebPage::createWindow(WebWindowType) {
  return new CExternalLinkPage(m_view.m_frame.Desktop(), this);
}

CFeedView::CFeedView(IMainFrame& frame, QWidget* parent) : QWebEngineView(parent), m_frame(frame) {
  m_page = new CArticleWebPage(*this, this);
  QWebEngineSettings* settings = m_page->settings();
  settings->setAttribute(QWebEngineSettings::JavascriptEnabled, false);
  settings->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, false);
  settings->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
  settings->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
  // No white flash between pages on a dark desktop.
  m_page->setBackgroundColor(palette().color(QPalette::Base));
  setPage(m_page);
}

// The page is a child of the view and goes after it.
CFeedView::~CFeedView() = default;

void CFeedView::SetScriptsEnabled(bool on) {
  m_page->settings()->setAttribute(QWebEngineSettings::JavascriptEnabled, on);
}

void CFeedView::ShowArticle(ObjectId id) {
  m_currentFeedId = id;
  const CFeed* article = m_frame.Model().GetFeed(m_currentFeedId);
  m_pagePath = article != nullptr ? WriteArticlePage(*article, PageColorsFrom(palette())) : WriteEmptyPage();
  SetScriptsEnabled(false);
  if (m_pagePath.isEmpty()) {
    m_page->setHtml(QString());
    return;
  }
  // A fresh navigation every time: the file has the same name for every
  // article, so nothing may come from a cache.
  m_page->triggerAction(QWebEnginePage::Stop);
  m_page->load(QUrl::fromLocalFile(m_pagePath));
}

void CFeedView::Refresh() {
  // Articles never change once stored: only one that has gone needs the page
  // written again.
  if (m_currentFeedId != 0 && m_frame.Model().GetFeed(m_currentFeedId) == nullptr) ShowArticle(0);
  emit refreshed();
}

void CFeedView::StopLoading() { m_page->triggerAction(QWebEnginePage::Stop); }

void CFeedView::DeleteCurrentArticle() { emit deleteRequested(m_currentFeedId); }

void CFeedView::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Delete) {
    DeleteCurrentArticle();
    event->accept();
    return;
  }
  if (HandleReadingKey(event)) {
    event->accept();
    return;
  }
  QWebEngineView::keyPressEvent(event);
}

// The browser's render widget takes the keys and the focus, not the view;
// they are watched here.
bool CFeedView::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress &&
      static_cast<QKeyEvent*>(event)->key() == Qt::Key_Delete) {
    DeleteCurrentArticle();
    return true;
  }
  if (event->type() == QEvent::KeyPress && HandleReadingKey(static_cast<QKeyEvent*>(event))) return true;
  if (event->type() == QEvent::FocusIn) m_frame.SetNewArticles(false);
  return QWebEngineView::eventFilter(watched, event);
}

void CFeedView::childEvent(QChildEvent* event) {
  QWebEngineView::childEvent(event);
  if (event->added() && event->child()->isWidgetType()) event->child()->installEventFilter(this);
}

void CFeedView::changeEvent(QEvent* event) {
  QWebEngineView::changeEvent(event);
  if (event->type() != QEvent::PaletteChange || m_page == nullptr) return;
  m_page->setBackgroundColor(palette().color(QPalette::Base));
  // A web page opened from an article keeps its own colours.
  if (m_currentFeedId != 0 && !m_pagePath.isEmpty() && m_page->url().isLocalFile() &&
      m_page->url().toLocalFile() == m_pagePath) {
    ShowArticle(m_currentFeedId);
  }
}

void CFeedView::focusInEvent(QFocusEvent* event) {
  QWebEngineView::focusInEvent(event);
  m_frame.SetNewArticles(false);
}

void CFeedView::resizeEvent(QResizeEvent* event) {
  QWebEngineView::resizeEvent(event);
  m_frame.PostSavePlacement();
}

}  // namespace qb
