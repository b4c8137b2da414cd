// The lower right pane: the article it is told to show, as a small HTML page
// served from memory. The page runs no scripts and cannot read local files,
// but loads the pictures and other passive content a feed's article refers
// to on the web, though not from this machine or its network unless the
// feed itself came from there; links with a target open in the
// user's browser; the page's delete link and the Delete key ask for the
// article to be deleted. When a link takes the pane to a web page, Back
// (Alt+Left, the context menu, the bar over the page) returns to the
// article.
#pragma once

#include <QWebEnginePage>
#include <QWebEngineView>
#include <functional>

class QAction;
class QLabel;

#include "model/RSSObject.h"
#include "views/ArticlePage.h"

namespace qb {

class CFeedView;
class CFeedsManager;
class IDesktop;

// The pane's page: intercepts navigations before they happen.
class CArticleWebPage : public QWebEnginePage {
  Q_OBJECT
 public:
  CArticleWebPage(CFeedView& view, QObject* parent);

  // What a navigation to `url` does: false cancels it. Public so the rules
  // can be exercised without a browser round trip.
  bool HandleNavigation(const QUrl& url, bool isMainFrame);

 signals:
  // The page asked to leave the article by itself (a refresh, a script)
  // and was kept where it is.
  void navigationRefused(const QUrl& url);

 protected:
  bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override;

 private:
  friend class CFeedView;
  CFeedView& m_view;
  // Set when the user follows a link or sends a form from the article page,
  // until the page it leads to has loaded: only then may a redirect take the
  // pane away from the article.
  bool m_userNavigation = false;
};

class CFeedView : public QWebEngineView {
  Q_OBJECT
 public:
  // The page shows articles of `model` and reaches the user's browser and
  // message boxes through `desktop`; both must outlive it.
  CFeedView(const CFeedsManager& model, IDesktop& desktop, QWidget* parent = nullptr);
  ~CFeedView() override;

  // Makes the article's page (an empty page for 0 or an identifier that
  // names no article) and shows it. Another article than the one shown
  // starts with the feed's text (and articleShown says so); the same one
  // keeps its reader view part.
  void ShowArticle(ObjectId article);
  // The reader view's part of the page for `article` (its readable text, a
  // line saying what goes on or went wrong), drawn at once while that
  // article's page is shown; ignored for any other.
  void ShowReaderPart(ObjectId article, ReaderPagePart part);
  const ReaderPagePart& ReaderPart() const { return m_reader; }
  // The article shown; 0 for none, also while the pane shows a web page
  // that a link of the article led to.
  ObjectId CurrentFeedId() const { return m_currentFeedId; }

  // The model changed: an article that has gone is no longer shown.
  void Refresh();

  // Escape: stop loading.
  void StopLoading();

  // The delete link or the Delete key: asks for the shown article to be deleted.
  void DeleteCurrentArticle();

  // The bytes of the page last made (empty before the first), and the
  // address the pane loads an article's page from.
  QByteArray PageBytes() const;
  QUrl PageUrl(ObjectId article) const { return ArticlePageUrl(m_pane, article); }
  // Whether the pane may load `url` now, for the page it shows, anything in
  // it or a page it goes to (`firstParty`: the page the request is for).
  // From the article page, a web address of this machine or its network
  // only when the article's feed came from there.
  bool MayLoad(const QUrl& url, const QUrl& firstParty = QUrl()) const;

  // --- the way back from a web page
  // Whether the pane shows a web page that a link of an article led to,
  // and that article is still there to go back to.
  bool CanGoBack() const;
  // Back: to the web page before this one in the same visit, else to the
  // article the visit started from. Nothing when CanGoBack is false.
  void GoBack();
  // Alt+Left; enabled while CanGoBack.
  QAction* BackAction() const { return m_backAction; }
  // The bar over the pane that offers Back while a web page is shown.
  QWidget* BackBar() const { return m_backBar; }

  // The pane's context menu at a global position: the browser's entries,
  // with Back in place of the browser's own history step. The engine asks
  // for it through contextMenuEvent (`fromEngine`); a menu asked for
  // otherwise holds Back alone.
  void ShowContextMenu(const QPoint& globalPos, bool fromEngine = true);

  // Opens a link in the user's browser. Only web, ftp and mail addresses are
  // handed over; when no program could be started for one, a message says
  // so (after the current event, never from inside the engine's callback).
  void OpenInBrowser(const QUrl& url);

  // --- reading with the keyboard (FeedViewReading.cpp).
  // Whether the pane shows the article page (not a web page reached from it).
  bool ShowsArticlePage() const;
  // Scrolls the page down by most of its height; `done` learns whether the
  // page was already at its end (and so did not move). Asked while the page
  // cannot answer (it is being loaded), `done` learns false. The page's own
  // scripts stay off: the question runs in a world of its own.
  void PageDown(std::function<void(bool atEnd)> done);

 signals:
  void deleteRequested(ObjectId article);
  // Another article's page is shown (0: none).
  void articleShown(ObjectId article);
  // The page's reader view links: "Reader view" (kReaderView), "Show the
  // feed's text" (kFeedText), "Reload" (kReload).
  void readerLinkFollowed(ObjectId article, PageLink link);
  void refreshed();
  // The page got the keyboard focus: the user looks at the window.
  void focusReceived();
  // The pane was resized (a splitter moved): the placement is worth saving.
  void resized();
  // Space, N and P on the article page: read on, next or previous unread.
  void readOnRequested();
  void unreadRequested(bool forward);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void childEvent(QChildEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  // A new colour scheme repaints the shown article in its colours.
  void changeEvent(QEvent* event) override;

 private:
  friend class CArticleWebPage;
  void SetScriptsEnabled(bool on);
  // Makes the page of the article shown, with its reader part, and loads it.
  void DrawPage();
  void CreateBackBar();
  // Shows or hides the bar and enables Back as CanGoBack says.
  void UpdateBackState();
  void LayOutBackBar();
  // Alt+Left: consumed here, so the browser never steps back on its own
  // into a page of the pane that may have been made anew since.
  bool HandleBackKey(const QKeyEvent* event);
  // Whether a keypress is one of the reading keys; emits its request. Web
  // pages keep their keys.
  bool HandleReadingKey(const QKeyEvent* event);

  const CFeedsManager& m_model;
  IDesktop& m_desktop;
  // The pane's number in its page addresses: each pane serves its own page.
  const int m_pane;
  ObjectId m_currentFeedId = 0;
  ReaderPagePart m_reader;
  bool m_announcing = false;  // articleShown is being emitted
  CArticleWebPage* m_page = nullptr;
  // The article shown has its feed on this machine or its network: the page
  // may load from there too.
  bool m_feedOnLocalNetwork = false;
  // The article a link led away from; 0 while the pane shows the article.
  ObjectId m_backArticle = 0;
  QAction* m_backAction = nullptr;
  QWidget* m_backBar = nullptr;
  QLabel* m_backBarText = nullptr;
};

}  // namespace qb
