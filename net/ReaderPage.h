// The web page behind an article, fetched for the reader view: through the
// program's one download pool (its size cap, timeouts, redirects and proxy),
// judged here, and handed on as bytes with the address they came from. The
// readable text is extracted from them by the window (views/ReaderExtractor.h).
//
// Whatever goes wrong is a value with one line for the user, never an empty
// page: no link, a page that could not be fetched (with the reason a failing
// feed gets), a document that is not a web page, a page over the size cap,
// and, from the extraction, a page without a readable article.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "base/Executor.h"
#include "net/Download.h"

namespace qb {

// Larger pages are not read: a real article page is well under this, and
// the extraction's time and memory grow with the page.
inline constexpr size_t kReaderPageMaxBytes = size_t{10} * 1024 * 1024;

enum class ReaderProblem {
  kNone,
  kNoLink,          // the article names no web page (no link, or not http or https)
  kFetchFailed,     // no answer, or an HTTP error; the detail says which
  kNotHtml,         // an answer that is not a web page; the detail is its type
  kTooLarge,        // over kReaderPageMaxBytes
  kNotReadable,     // a web page without a readable article in it
  kExtractionFailed,  // the page engine could not read the page; the detail says why
};

// The line the reader view shows instead of the article, for example
// "The article's page could not be fetched: host not found."; empty for
// kNone. `detail` completes the line where the problem has one.
std::u16string ReaderProblemText(ReaderProblem problem, std::u16string_view detail = {});

// The answer for one article's page.
struct FetchedArticlePage {
  ReaderProblem problem = ReaderProblem::kNone;
  std::u16string message;   // ReaderProblemText of the problem; empty when none
  std::string address;      // where the page was found, after redirects
  std::string contentType;  // as the server sent it
  std::string body;         // the page's bytes; empty unless there is no problem
  long httpStatus = 0;
};

// Whether `address` is one the reader view can fetch: an absolute http or
// https address with a host.
bool IsReaderPageAddress(std::u16string_view address);

// Whether an answer of this Content-Type (with these bytes, for a server
// that names no type or only "application/octet-stream") is a web page:
// HTML or XHTML.
bool IsWebPageType(std::string_view contentType, std::string_view body);

// What the download of `requested` means for the reader view.
FetchedArticlePage JudgeArticlePage(const std::string& requested, DownloadResult download);

// Fetches article pages through a downloader shared with the rest of the
// program (its transfers are a group of their own), answering on the
// owner's thread through an executor. One page at a time; every method is
// for the owner's thread. Destroying the object or cancelling abandons the
// transfer at once.
class CArticlePageFetch {
 public:
  using Callback = std::function<void(FetchedArticlePage page)>;

  // Both must outlive the object.
  CArticlePageFetch(IDownloader& downloader, IExecutor& executor);
  ~CArticlePageFetch();
  CArticlePageFetch(const CArticlePageFetch&) = delete;
  CArticlePageFetch& operator=(const CArticlePageFetch&) = delete;

  // Fetches the page at `address` (the article's link, absolute). Returns at
  // once; `done` is called exactly once, from a task of the executor (never
  // from within Start), unless the fetch is cancelled first. Starting a
  // fetch cancels the one before it.
  void Start(std::u16string address, Callback done);

  // After this returns no callback of an earlier fetch runs and its transfer
  // does not go on. May be called from within a callback.
  void Cancel();

 private:
  IDownloader& m_downloader;
  const uint64_t m_group = NewDownloadGroup();
  uint64_t m_request = 0;  // numbers the fetches; a late answer is dropped
  // Last: its tasks are dropped before anything else goes.
  CExecutorScope m_tasks;
};

}  // namespace qb
