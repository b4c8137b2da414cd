#include "views/FeedView.h"

#include <QAction>
#include <QBuffer>
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
#include <QWebEngineNewWindowRequest>
#include <QWebEngineProfile>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestInterceptor>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlSchemeHandler>
#include <map>
#include <memory>

#include "model/FeedsManager.h"
#include "views/ArticlePage.h"
#include "views/Desktop.h"
#include "views/Shell.h"
#include "views/ViewText.h"

namespace qb {

namespace {

// Every request of the pane, the page's own and those of everything in it,
// passes here: what MayLoad refuses is never fetched.
class CPageRequestGuard : public QWebEngineUrlRequestInterceptor {
 public:
  CPageRequestGuard(const CFeedView& view, QObject* parent)
      : QWebEngineUrlRequestInterceptor(parent), m_view(view) {}

  void interceptRequest(QWebEngineUrlRequestInfo& info) override {
    if (!m_view.MayLoad(info.requestUrl(), info.firstPartyUrl())) info.block(true);
  }

 private:
  const CFeedView& m_view;
};

// The page of each pane, by its number; the window's thread only.
std::map<int, QByteArray>& PanePages() {
  static std::map<int, QByteArray> pages;
  return pages;
}

// Serves the panes' pages from memory: an address names the pane, and the
// pane's current page is the answer (as the one page file of a pane was).
class CArticlePageHandler final : public QWebEngineUrlSchemeHandler {
 public:
  using QWebEngineUrlSchemeHandler::QWebEngineUrlSchemeHandler;

  void requestStarted(QWebEngineUrlRequestJob* job) override {
    const QString path = job->requestUrl().path();
    bool ok = false;
    const int pane = path.section(u'/', 0, 0).toInt(&ok);
    const auto page = PanePages().find(pane);
    if (!ok || !IsArticlePageUrl(job->requestUrl(), pane) || page == PanePages().end()) {
      job->fail(QWebEngineUrlRequestJob::UrlNotFound);
      return;
    }
    auto* body = new QBuffer(job);
    body->setData(page->second);
    body->open(QIODevice::ReadOnly);
    // One byte a character, as the page is made.
    job->reply(QByteArrayLiteral("text/html;charset=ISO-8859-1"), body);
  }
};

void ServePagesFrom(QWebEngineProfile* profile) {
  const QByteArray scheme(kArticlePageScheme);
  if (profile->urlSchemeHandler(scheme) == nullptr)
    profile->installUrlSchemeHandler(scheme, new CArticlePageHandler(profile));
}

int NextPaneNumber() {
  static int last = 0;
  return ++last;
}

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
  switch (PageLinkOf(text)) {
    case PageLink::kDelete:
      m_view.DeleteCurrentArticle();
      return false;
    case PageLink::kReaderView:
    case PageLink::kFeedText:
    case PageLink::kReload:
      // The page's own links of an article's page; from anywhere else (a
      // web page reached from it) they name nothing.
      if (m_view.ShowsArticlePage() && m_view.m_currentFeedId != 0)
        emit m_view.readerLinkFollowed(m_view.m_currentFeedId, PageLinkOf(text));
      return false;
    case PageLink::kNone: break;
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
  // A feed's link must not open local files.
  if (url.isLocalFile()) return false;
  if (url.scheme() == QLatin1String(kArticlePageScheme)) {
    if (!IsArticlePageUrl(url, m_view.m_pane)) return false;
    m_view.SetScriptsEnabled(false);
    // The browser's own history step back to the page: it still holds the
    // article the visit started from.
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
  // Our own loads of the page come through here as well.
  if (type == NavigationTypeTyped && IsArticlePageUrl(url, m_view.m_pane)) {
    m_view.SetScriptsEnabled(false);
    return true;
  }
  // The article page is left only by the user's own click: a refresh
  // written into a feed's text must neither carry the reader off to
  // another site nor follow the delete link. The server's redirects of a
  // followed link are let through.
  if (isMainFrame && IsWebUrl(url) && m_view.ShowsArticlePage()) {
    // Nor may a link or a form of a feed from the internet (or a redirect
    // on the way) reach this machine or its network.
    if (!m_view.MayLoad(url)) {
      emit navigationRefused(url);
      return false;
    }
    if (type == NavigationTypeLinkClicked || type == NavigationTypeFormSubmitted) {
      m_userNavigation = true;
    } else if (!(type == NavigationTypeRedirect && m_userNavigation)) {
      emit navigationRefused(url);
      return false;
    }
  }
  return HandleNavigation(url, isMainFrame);
}

CFeedView::CFeedView(const CFeedsManager& model, IDesktop& desktop, QWidget* parent)
    : QWebEngineView(parent), m_model(model), m_desktop(desktop), m_pane(NextPaneNumber()) {
  m_page = new CArticleWebPage(*this, this);
  ServePagesFrom(m_page->profile());
  QWebEngineSettings* settings = m_page->settings();
  settings->setAttribute(QWebEngineSettings::JavascriptEnabled, false);
  settings->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, false);
  // What the page may reach is decided by the guard below, request by
  // request.
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
  // A link with a target (the article's "new window" link among them) asks
  // for a window: its address goes to the user's browser, and the pane
  // itself never opens one.
  connect(m_page, &QWebEnginePage::newWindowRequested, this,
          [this](QWebEngineNewWindowRequest& request) { OpenInBrowser(request.requestedUrl()); });
}

// The page is a child of the view and goes after it; its guard asks the
// view, so it is taken off first.
CFeedView::~CFeedView() {
  m_page->setUrlRequestInterceptor(nullptr);
  PanePages().erase(m_pane);
}

QByteArray CFeedView::PageBytes() const {
  const auto page = PanePages().find(m_pane);
  return page == PanePages().end() ? QByteArray() : page->second;
}

bool CFeedView::MayLoad(const QUrl& url, const QUrl& firstParty) const {
  const bool fromArticle = ShowsArticlePage() || IsArticlePageUrl(firstParty, m_pane);
  return IsAllowedPageRequest(url, m_pane, !fromArticle || m_feedOnLocalNetwork);
}

void CFeedView::SetScriptsEnabled(bool on) {
  m_page->settings()->setAttribute(QWebEngineSettings::JavascriptEnabled, on);
}

void CFeedView::ShowArticle(ObjectId id) {
  const bool another = id != m_currentFeedId || !ShowsArticlePage();
  m_currentFeedId = id;
  m_backArticle = 0;
  if (another) {
    m_reader = ReaderPagePart{};
    // Whoever opens the article in the reader view says so now, and the
    // page is made once, with its part.
    m_announcing = true;
    emit articleShown(id);
    m_announcing = false;
  }
  DrawPage();
}

void CFeedView::ShowReaderPart(ObjectId article, ReaderPagePart part) {
  if (article == 0 || article != m_currentFeedId) return;
  if (m_announcing) {
    m_reader = std::move(part);
    return;
  }
  if (!ShowsArticlePage()) return;
  m_reader = std::move(part);
  DrawPage();
}

void CFeedView::DrawPage() {
  // A page made anew: no click of the user's leads anywhere from it yet.
  m_page->m_userNavigation = false;
  const CFeed* article = m_model.GetFeed(m_currentFeedId);
  const CFeedSource* source = article != nullptr ? m_model.FindSourceOfFeed(article->m_id) : nullptr;
  m_feedOnLocalNetwork = source != nullptr && IsLocalNetworkUrl(QUrl(ToQString(source->m_url)));
  const std::string bytes =
      article != nullptr ? ArticlePageOf(m_model, *article, PageColorsFrom(palette()), m_reader) : std::string();
  PanePages()[m_pane] = QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size()));
  SetScriptsEnabled(false);
  // A fresh navigation every time: nothing may come from a cache. The
  // article's identifier in the address makes another article a new page,
  // which starts at its top; the same article drawn again keeps its place,
  // as a reload does.
  m_page->triggerAction(QWebEnginePage::Stop);
  m_page->load(ArticlePageUrl(m_pane, m_currentFeedId));
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
  if (m_currentFeedId != 0 && IsArticlePageUrl(m_page->url(), m_pane)) DrawPage();
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
  return url.isEmpty() || IsArticlePageUrl(url, m_pane);
}

bool CFeedView::CanGoBack() const {
  return m_backArticle != 0 && !ShowsArticlePage() && m_model.GetFeed(m_backArticle) != nullptr;
}

void CFeedView::GoBack() {
  if (!CanGoBack()) return;
  // Within the visit the browser's history is right; the step back to the
  // article makes its page again rather than trust the history's entry,
  // which the pane answers with whatever page it shows.
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
