// The article pane's part in reading with the keyboard: Space pages the
// article down, then moves on; N and P move between unread articles.
#include <QKeyEvent>
#include <QPointer>
#include <QWebEngineScript>

#include "views/FeedView.h"
#include "views/ReadingKeys.h"

namespace qb {

namespace {

// Run in the application's own world, which runs even while the page's
// scripts are off and which the page cannot see. Answers whether the page
// was already at its end; otherwise scrolls it down by most of a screen,
// as the browser's own Space does.
constexpr char kPageDownScript[] = R"(
(function() {
  var e = document.scrollingElement || document.documentElement || document.body;
  if (!e) return true;
  var view = window.innerHeight;
  if (e.scrollTop + view >= e.scrollHeight - 2) return true;
  window.scrollBy(0, Math.max(view * 0.875, view - 40));
  return false;
})())";

}  // namespace

void CFeedView::PageDown(std::function<void(bool atEnd)> done) {
  QPointer<CFeedView> self = this;
  m_page->runJavaScript(QString::fromLatin1(kPageDownScript), QWebEngineScript::ApplicationWorld,
                        [self, done = std::move(done)](const QVariant& result) {
                          if (self && done) done(result.isValid() && result.toBool());
                        });
}

bool CFeedView::HandleReadingKey(const QKeyEvent* event) {
  const ReadingKey key = ShowsArticlePage() ? ReadingKeyOf(*event) : ReadingKey::None;
  if (key == ReadingKey::None) return false;
  if (key == ReadingKey::ReadOn) {
    emit readOnRequested();
  } else {
    emit unreadRequested(key == ReadingKey::NextUnread);
  }
  return true;
}

}  // namespace qb
