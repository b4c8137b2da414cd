#include "views/FeedView.h"

#include <QAction>
#include <QChildEvent>
#include <QContextMenuEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QStyle>
#include <QToolButton>
#include <QWebEngineContextMenuRequest>
#include <QWebEngineHistory>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestInterceptor>
#include <memory>

#include "model/FeedsManager.h"
#include "views/ArticlePage.h"
#include "views/Desktop.h"
#include "views/Shell.h"

namespace qb {

namespace {

// A page for a link with a target: its first navigation goes to the user's
// browser, then it goes away. The pane itself never opens windows.
class CExternalLinkPage : public QWebEnginePage {
 public:
  CExternalLinkPage(CFeedView& view, QWebEngineProfile* profile, QObject* parent)
      : QWebEnginePage(profile, parent), m_view(view) {}

 protected:
  bool acceptNavigationRequest(const QUrl& url, NavigationType, bool) override {
    if (!m_done) {
      m_done = true;
      m_view.OpenInBrowser(url);
      deleteLater();
    }
    return false;
  }

 private:
  CFeedView& m_view;
  bool m_done = false;
};

// Every request of the pane, the page's own and those of everything in it,
// passes here: what IsAllowedPageRequest refuses is never fetched.
class CPageRequestGuard : public QWebEngineUrlRequestInterceptor {
 public:
  CPageRequestGuard(const CFeedView& view, QObject* parent)
      : QWebEngineUrlRequestInterceptor(parent), m_view(view) {}

  void interceptRequest(QWebEngineUrlRequestInfo& info) override {
    if (!IsAllowedPageRequest(info.requestUrl(), m_view.PagePath())) info.block(true);
  }

 private:
  const CFeedView& m_view;
};

bool IsWebUrl(const QUrl& url) {
  return url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https");
}

bool IsBackKey(const QKeyEvent* event) {
  return event->key() == Qt::Key_Left &&
         (event->modifiers() & ~Qt::KeypadModifier) == Qt::AltModifier;
}

const char kBackText[] = "&Back";

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
  // Leaving the article for a web page: Back is to return to it. A server
  // redirect asks again while the article page still shows; the article it
  // started from is kept.
  if (IsWebUrl(url) && m_view.ShowsArticlePage() && m_view.m_currentFeedId != 0)
    m_view.m_backArticle = m_view.m_currentFeedId;
  if (text.startsWith(QLatin1String("http://"))) {
    // The pane now shows a web page instead of the article.
    m_view.m_currentFeedId = 0;
  }
  if (url.isLocalFile()) {
    // Only our own page file; a feed's link must not open local files.
    if (url.toLocalFile() != m_view.PagePath()) return false;
    m_view.SetScriptsEnabled(false);
    // The browser's own history step back to the page file: it still holds
    // the article the visit started from.
    if (m_view.m_backArticle != 0) {
      m_view.m_currentFeedId = m_view.m_backArticle;
      m_view.m_backArticle = 0;
    }
  } else if (IsWebUrl(url)) {
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
  // The article page is left only by the user's own click: a refresh
  // written into a feed's text must neither carry the reader off to
  // another site nor follow the delete link. The server's redirects of a
  // followed link are let through.
  if (isMainFrame && IsWebUrl(url) && m_view.ShowsArticlePage()) {
    if (type == NavigationTypeLinkClicked || type == NavigationTypeFormSubmitted) {
      m_userNavigation = true;
    } else if (!(type == NavigationTypeRedirect && m_userNavigation)) {
      emit navigationRefused(url);
      return false;
    }
  }
  return HandleNavigation(url, isMainFrame);
}

QWebEnginePage* CArticleWebPage::createWindow(WebWindowType) {
  return new CExternalLinkPage(m_view, profile(), this);
}

CFeedView::CFeedView(const CFeedsManager& model, IDesktop& desktop, QWidget* parent)
    : QWebEngineView(parent), m_model(model), m_desktop(desktop) {
  m_page = new CArticleWebPage(*this, this);
  QWebEngineSettings* settings = m_page->settings();
  settings->setAttribute(QWebEngineSettings::JavascriptEnabled, false);
  settings->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, false);
  // The page is a local file; the pictures of the article are on the web.
  // What it may reach is decided by the guard below, request by request.
  settings->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, true);
  settings->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
  settings->setAttribute(QWebEngineSettings::PluginsEnabled, false);
  settings->setAttribute(QWebEngineSettings::PdfViewerEnabled, false);
  m_page->setUrlRequestInterceptor(new CPageRequestGuard(*this, m_page));
  // No white flash between pages on a dark desktop.
  m_page->setBackgroundColor(palette().color(QPalette::Base));
  setPage(m_page);
  CreateBackBar();
  connect(m_page, &QWebEnginePage::urlChanged, this, &CFeedView::UpdateBackState);
  connect(m_page, &QWebEnginePage::loadFinished, this, [this] { m_page->m_userNavigation = false; });
}

// The page is a child of the view and goes after it; its guard reads the
// view's page path, so it is taken off first.
CFeedView::~CFeedView() { m_page->setUrlRequestInterceptor(nullptr); }

void CFeedView::SetScriptsEnabled(bool on) {
  m_page->settings()->setAttribute(QWebEngineSettings::JavascriptEnabled, on);
}

void CFeedView::ShowArticle(ObjectId id) {
  m_currentFeedId = id;
  m_backArticle = 0;
  m_page->m_userNavigation = false;
  const CFeed* article = m_model.GetFeed(m_currentFeedId);
  m_pagePath = article != nullptr ? WriteArticlePage(m_model, *article, PageColorsFrom(palette()))
                                  : WriteEmptyPage();
  SetScriptsEnabled(false);
  if (m_pagePath.isEmpty()) {
    m_page->setHtml(QString());
    return;
  }
  // A fresh navigation every time: the file has the same name for every
  // article, so nothing may come from a cache. The article's identifier in
  // the address makes another article a new page, which starts at its top;
  // the same article drawn again keeps its place, as a reload does.
  m_page->triggerAction(QWebEnginePage::Stop);
  m_page->load(ArticlePageUrl(m_pagePath, id));
  UpdateBackState();
}

void CFeedView::Refresh() {
  // Articles never change once stored: only one that has gone needs the page
  // written again.
  if (m_currentFeedId != 0 && m_model.GetFeed(m_currentFeedId) == nullptr) ShowArticle(0);
  UpdateBackState();
  emit refreshed();
}

void CFeedView::StopLoading() { m_page->triggerAction(QWebEnginePage::Stop); }

void CFeedView::DeleteCurrentArticle() { emit deleteRequested(m_currentFeedId); }

void CFeedView::keyPressEvent(QKeyEvent* event) {
  if (HandleBackKey(event)) {
    event->accept();
    return;
  }
  // Delete on a web page belongs to the page (a search field, say), never
  // to the article the visit started from.
  if (event->key() == Qt::Key_Delete && ShowsArticlePage()) {
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
  if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Delete &&
      ShowsArticlePage()) {
    DeleteCurrentArticle();
    return true;
  }
  if (event->type() == QEvent::KeyPress && HandleBackKey(static_cast<QKeyEvent*>(event))) return true;
  if (event->type() == QEvent::KeyPress && HandleReadingKey(static_cast<QKeyEvent*>(event))) return true;
  if (event->type() == QEvent::FocusIn) emit focusReceived();
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
  emit focusReceived();
}

void CFeedView::resizeEvent(QResizeEvent* event) {
  QWebEngineView::resizeEvent(event);
  LayOutBackBar();
  emit resized();
}

// ---------------------------------------------------------------- Back

bool CFeedView::ShowsArticlePage() const {
  const QUrl url = m_page->url();
  return url.isEmpty() || (url.isLocalFile() && url.toLocalFile() == m_pagePath);
}

bool CFeedView::CanGoBack() const {
  return m_backArticle != 0 && !ShowsArticlePage() && m_model.GetFeed(m_backArticle) != nullptr;
}

void CFeedView::GoBack() {
  if (!CanGoBack()) return;
  // Within the visit the browser's history is right; the step back to the
  // article writes its page again rather than trust the file in the
  // history, which has the same name for every article.
  const QWebEngineHistory* history = m_page->history();
  if (history->canGoBack() && IsWebUrl(history->backItem().url())) {
    m_page->triggerAction(QWebEnginePage::Back);
    return;
  }
  ShowArticle(m_backArticle);
}

bool CFeedView::HandleBackKey(const QKeyEvent* event) {
  if (!IsBackKey(event)) return false;
  GoBack();
  return true;
}

void CFeedView::CreateBackBar() {
  m_backAction = new QAction(QString::fromLatin1(kBackText), this);
  m_backAction->setIconText(QStringLiteral("Back to the article"));
  m_backAction->setIcon(style()->standardIcon(QStyle::SP_ArrowBack));
  m_backAction->setShortcut(QKeySequence(Qt::ALT | Qt::Key_Left));
  m_backAction->setShortcutContext(Qt::WidgetWithChildrenShortcut);
  m_backAction->setToolTip(QStringLiteral("Back to the article (Alt+Left)"));
  m_backAction->setEnabled(false);
  connect(m_backAction, &QAction::triggered, this, &CFeedView::GoBack);
  addAction(m_backAction);

  m_backBar = new QWidget(this);
  m_backBar->setObjectName(QStringLiteral("backBar"));
  m_backBar->setAutoFillBackground(true);
  m_backBar->setBackgroundRole(QPalette::Window);
  auto* layout = new QHBoxLayout(m_backBar);
  layout->setContentsMargins(2, 2, 6, 2);
  auto* button = new QToolButton(m_backBar);
  button->setDefaultAction(m_backAction);
  button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  button->setAutoRaise(true);
  button->setFocusPolicy(Qt::NoFocus);
  m_backBarText = new QLabel(m_backBar);
  m_backBarText->setTextFormat(Qt::PlainText);
  m_backBarText->setForegroundRole(QPalette::PlaceholderText);
  layout->addWidget(button);
  layout->addWidget(m_backBarText, 1);
  m_backBar->hide();
}

void CFeedView::LayOutBackBar() {
  if (m_backBar == nullptr || m_backBar->isHidden()) return;
  const int height = m_backBar->sizeHint().height();
  m_backBar->setGeometry(0, 0, width(), height);
  // The web page is laid out below the bar, never under it.
  if (contentsMargins().top() != height) setContentsMargins(0, height, 0, 0);
  m_backBarText->setText(m_backBarText->fontMetrics().elidedText(
      m_page->url().toDisplayString(), Qt::ElideMiddle, std::max(0, m_backBarText->width())));
  m_backBar->raise();
}

void CFeedView::UpdateBackState() {
  if (m_backAction == nullptr) return;
  const bool canGoBack = CanGoBack();
  m_backAction->setEnabled(canGoBack);
  if (canGoBack) {
    m_backBar->show();
    LayOutBackBar();
    // Once the label has its width.
    QMetaObject::invokeMethod(this, &CFeedView::LayOutBackBar, Qt::QueuedConnection);
  } else if (!m_backBar->isHidden()) {
    m_backBar->hide();
    setContentsMargins(0, 0, 0, 0);
  }
}

void CFeedView::contextMenuEvent(QContextMenuEvent* event) {
  // The engine asks for its menus as a mouse would; any other request (the
  // menu key on the view itself) finds the engine's last request stale.
  ShowContextMenu(event->globalPos(), event->reason() == QContextMenuEvent::Mouse);
}

void CFeedView::ShowContextMenu(const QPoint& globalPos, bool fromEngine) {
  // The standard menu needs the engine's request for this very menu; a menu
  // asked for by other means has Back alone.
  std::unique_ptr<QMenu> menu(fromEngine && lastContextMenuRequest() != nullptr ? createStandardContextMenu()
                                                                                : new QMenu(this));
  menu->setAttribute(Qt::WA_DeleteOnClose, false);
  // The browser's Back may step into the page file of another article.
  menu->removeAction(m_page->action(QWebEnginePage::Back));
  auto* back = new QAction(QString::fromLatin1(kBackText), menu.get());
  back->setShortcut(m_backAction->shortcut());
  back->setEnabled(CanGoBack());
  const QList<QAction*> actions = menu->actions();
  QAction* first = actions.isEmpty() ? nullptr : actions.front();
  menu->insertAction(first, back);
  if (first != nullptr && !first->isSeparator() && first != m_page->action(QWebEnginePage::Forward))
    menu->insertSeparator(first);
  if (m_desktop.RunPopupMenu(*menu, globalPos) == back) GoBack();
}

// ---------------------------------------------------------------- the browser

void CFeedView::OpenInBrowser(const QUrl& url) {
  // A refused link stays silent: a feed may not make the desktop open
  // files or programs, and there is nothing the user could do about it.
  if (!IsExternalLink(url) || OpenLinkExternally(m_desktop, url)) return;
  const QString text =
      QStringLiteral("No web browser could be started to open %1.").arg(url.toDisplayString());
  QMetaObject::invokeMethod(
      this, [this, text] { m_desktop.ShowMessage(window(), MsgIcon::Warning, text); },
      Qt::QueuedConnection);
}

}  // namespace qb
