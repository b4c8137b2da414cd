// The reader view's extraction: the readable article of a fetched web page,
// found by Readability (the extraction library of a well-known browser's own
// reader view, built into the program as a resource) in a hidden page of the
// page engine the window already uses.
//
// The hidden page runs nothing of the page and fetches nothing for it: the
// page's scripts are off (Readability runs in a world of its own), every
// request but the page itself is refused, and no navigation but the page's
// own load goes ahead. Its profile is private and kept in memory only. The
// page's address is the article's, so its relative links and pictures (and
// those its own <base> names) resolve on the article's site, and the result
// names them by absolute addresses. A page too large for the engine's
// in-memory load is served through a URL scheme of the program's own, with
// the same base, rather than cut short.
//
// Pages are extracted one after another in the order they were handed in;
// each ends in one result or one problem with a line for the user.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>

#include "net/ReaderPage.h"

class QTimer;
class QWebEngineLoadingInfo;
class QWebEnginePage;
class QWebEngineProfile;

namespace qb {

// What the extraction found on an article's page. Every link and picture
// in `contentHtml` has an absolute address.
struct ReaderArticle {
  QString title;
  QString byline;
  QString siteName;
  QString excerpt;
  QString language;       // as the page declares it ("en-GB"); empty when it does not
  QString direction;      // "ltr", "rtl" or empty
  QString publishedTime;  // as the page's metadata states it; empty when none
  QString contentHtml;    // the readable part of the page, as HTML
  QString text;           // its text, as the search reads it
  qsizetype textLength = 0;         // characters of `text`
  bool probablyReaderable = false;  // Readability's quick guess about the page
  QUrl address;                     // the page's address
};

struct ReaderOutcome {
  ReaderProblem problem = ReaderProblem::kNone;
  QString message;        // one line for the user (ReaderProblemText); empty when none
  ReaderArticle article;  // filled when there is no problem

  bool ok() const { return problem == ReaderProblem::kNone; }
};

// The name of the scheme large pages are served under.
inline constexpr char kReaderScheme[] = "quillbend-reader";

class CReaderExtractor : public QObject {
  Q_OBJECT
 public:
  using Done = std::function<void(const ReaderOutcome& outcome)>;

  // Makes the page engine know the scheme large pages are served under.
  // REQUIRES: called once, before the first page engine object of the
  // process is made (at start-up, before the application object).
  static void RegisterScheme();

  explicit CReaderExtractor(QObject* parent = nullptr);
  ~CReaderExtractor() override;
  CReaderExtractor(const CReaderExtractor&) = delete;
  CReaderExtractor& operator=(const CReaderExtractor&) = delete;

  // Queues a page: its bytes, the Content-Type it was served with (its
  // charset decodes the bytes; without one, bytes that are well-formed
  // UTF-8 are read as UTF-8, others as the page declares) and the address
  // it was found at, after redirects. Returns at once with
  // a ticket (never 0). `done` is called exactly once, from the event loop
  // (never from within Extract), unless the ticket is cancelled first. A
  // page without an http or https address is kNoLink, one over
  // kReaderPageMaxBytes kTooLarge, one without a readable article
  // kNotReadable; a page the engine could not load, or that took longer
  // than the time limit, kExtractionFailed.
  uint64_t Extract(QByteArray page, const QString& contentType, const QUrl& address, Done done);
  // Its `done` is not called; a page being extracted is left to finish
  // unseen. Any ticket, any time, also from within a `done`.
  void Cancel(uint64_t ticket);

  // A page whose extraction takes longer is given up (a page of some
  // megabytes takes seconds). 60 seconds unless set.
  void SetTimeLimit(std::chrono::milliseconds limit) { m_timeLimit = limit; }

 private:
  struct Job {
    uint64_t ticket = 0;
    QByteArray bytes;
    QByteArray mimeType;  // what the engine is told the bytes are
    QUrl address;
    Done done;
  };
  class CPage;
  class CRequestGuard;
  class CSchemeHandler;
  friend class CPage;
  friend class CRequestGuard;
  friend class CSchemeHandler;

  // Starts the next page when none runs.
  void StartNext();
  void LoadingChanged(const QWebEngineLoadingInfo& info);
  void Finish(uint64_t ticket, ReaderOutcome outcome);
  // After a time-out or a renderer that went away: a new page, so that
  // nothing of the old one's load reaches the next.
  void ReplacePage();
  // The address the running page is served at through the scheme.
  QUrl ServedUrl() const;
  void Deliver(Done done, ReaderOutcome outcome);

  QWebEngineProfile* m_profile = nullptr;
  CRequestGuard* m_guard = nullptr;
  CSchemeHandler* m_scheme = nullptr;
  QPointer<CPage> m_page;
  QTimer* m_timer = nullptr;
  std::chrono::milliseconds m_timeLimit{60000};
  uint64_t m_nextTicket = 1;
  std::deque<Job> m_queue;
  // The page being extracted; its ticket is 0 when none.
  Job m_running;
  bool m_served = false;      // it is served through the scheme
  bool m_loadAllowed = false;  // its own load has not yet been let through
  bool m_extracting = false;   // it has loaded, and Readability runs
  std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

}  // namespace qb
