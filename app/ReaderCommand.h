// The reader view: "Reader view" (the toolbar, the View menu, Ctrl+R and
// the page's own link) shows the shown article's readable text in place of
// the feed's. The article's page is fetched through the updater's
// downloads (feeds/ReaderPage.h), its article extracted in a hidden page
// of the web engine (views/ReaderExtractor.h) and the result kept in the
// window's store, so that it is fetched once and shown offline; "Reload"
// fetches it again. A feed whose "Show the full article" is on opens its
// articles this way at once, and the command sets that choice for the
// article's feed.
//
// While the page is fetched and read the page says so; whatever goes
// wrong leaves the feed's text on screen with one line saying why.
//
// Threads: the window's. The frame, the updater and the page must outlive
// the command.
#pragma once

#include <QObject>
#include <cstdint>
#include <memory>

#include "library/ReaderModule.h"
#include "model/RSSObject.h"
#include "views/ArticlePage.h"

namespace qb {

class CArticlePageFetch;
class CFeedView;
class CReaderExtractor;
class IFeedUpdater;
class IMainFrame;
struct ReaderOutcome;

class CReaderCommand : public QObject {
  Q_OBJECT
 public:
  CReaderCommand(IMainFrame& frame, IFeedUpdater& updater, CFeedView& page, QObject* parent = nullptr);
  ~CReaderCommand() override;

  // The command: the reader view of the shown article, or back to the
  // feed's text when it is shown or being made. Remembered for the feed.
  void Toggle();
  // Fetches the shown article's page again.
  void Reload();
  // Whether the shown article is in the reader view (or on its way there).
  bool Active() const;
  // Whether there is an article the command applies to.
  bool Available() const;

 signals:
  // Active() or Available() may have changed.
  void stateChanged();

 private:
  void OnArticleShown(ObjectId article);
  void OnLink(ObjectId article, PageLink link);
  // The reader view of the article: the stored result unless `fetch`, else
  // its page fetched and read.
  void Start(ObjectId article, bool fetch);
  void Extracted(ObjectId article, const ReaderOutcome& outcome);
  // A problem: the line over the feed's text, or over the stored text of
  // a reload that failed.
  void Failed(ObjectId article, const std::u16string& line);
  void Show(ObjectId article, ReaderPagePart part);
  // Stops what is under way (a fetch, an extraction).
  void Abandon();
  void SetFeedChoice(ObjectId article, bool on);
  IReaderStore* Store() const;

  IMainFrame& m_frame;
  IFeedUpdater& m_updater;
  CFeedView& m_page;
  std::unique_ptr<CArticlePageFetch> m_fetch;
  // Made when first needed: it starts a web engine page of its own.
  CReaderExtractor* m_extractor = nullptr;
  uint64_t m_ticket = 0;  // the extraction under way; 0 for none
  // The article worked on, and its stored result (a failed reload keeps it).
  ObjectId m_article = 0;
  bool m_haveStored = false;
  ReaderText m_stored;
};

// The page part that shows a result.
ReaderPagePart ReaderPartOf(const ReaderText& text);

}  // namespace qb
