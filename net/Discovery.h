// Finding the feed behind what the user typed into the add-feed dialog: the
// address of a feed itself, or of a web page that announces its feeds with
// <link rel="alternate" type="application/rss+xml" href="..." title="...">
// (or "application/atom+xml", "application/feed+json").
//
// The text is checked first (CheckFeedAddress): refused text never touches
// the network. Then each candidate URL is fetched in turn; without a typed
// scheme https comes first and http is tried only when the https transfer
// fails (no connection, no secure connection, a timeout); an answer with
// any HTTP status is final. A body that holds a feed (RSS, RSS 1.0, Atom or
// JSON Feed, as the interpretation understands it) is a feed, and the result
// is the address itself; otherwise the body is read
// as HTML and its announced feeds, resolved against the page (or its
// <base href>), are the result, in document order and without repeats.
//
// Nothing here blocks a window: DiscoverFeeds runs on the calling thread;
// CFeedDiscovery does the same through the program's download pool and
// answers on its owner's thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/Executor.h"
#include "base/WebAddress.h"
#include "net/Download.h"

namespace qb {

struct DiscoveredFeed {
  std::u16string url;    // an absolute http or https URL
  std::u16string title;  // as the page names it; empty for a direct feed

  bool operator==(const DiscoveredFeed&) const = default;
};

enum class DiscoveryStatus {
  kFound,        // `feeds` holds at least one
  kBadAddress,   // the text was refused, see `addressProblem`
  kFetchFailed,  // no candidate answered (no connection, timeout, ...)
  kHttpError,    // the server answered with an error, see `httpStatus`
  kNoFeed,       // fetched, but neither a feed nor a page announcing one
};

struct DiscoveryResult {
  DiscoveryStatus status = DiscoveryStatus::kNoFeed;
  // The address itself is a feed; `feeds` holds it alone.
  bool addressIsFeed = false;
  std::vector<DiscoveredFeed> feeds;
  // The candidate whose answer was used, or the last one tried.
  std::u16string fetchedUrl;
  AddressProblem addressProblem = AddressProblem::kNone;
  long httpStatus = 0;
  // What the dialog shows; empty when found.
  std::u16string message;
  // The answer to `fetchedUrl` when the address is a feed, body and
  // validators included, so that the first update of the new source need
  // not fetch it again.
  DownloadResult document;
};

struct DiscoveryOptions {
  DownloadOptions download;
};

inline constexpr char16_t kNoFeedFoundMessage[] = u"No feed was found at this address.";
inline constexpr char16_t kSiteUnreachableMessage[] = u"The site could not be reached.";
inline constexpr char16_t kSiteTimedOutMessage[] = u"The site did not answer in time.";

// Checks, fetches and examines, on the calling thread (one or two
// downloads). A page reached through a redirect has its relative links
// resolved against the address asked for: the download does not say where
// it ended. `cancelled`, when given, is asked between the downloads; once
// it answers true the remaining candidates are not tried.
DiscoveryResult DiscoverFeeds(std::u16string_view typed, const DiscoveryOptions& options = {},
                              const std::function<bool()>& cancelled = {});

// What a fetched body holds: the feed at `url` itself, the feeds a page at
// `url` announces, or nothing (kNoFeed). `contentType` is the response's
// Content-Type, used for its charset.
DiscoveryResult ExamineFetchedBody(std::u16string_view url, std::string_view body,
                                   std::string_view contentType);

// What one candidate's answer means, received at `now` (seconds since
// 1970): true when it decides the search, with the outcome in `result`;
// false when the next candidate should be tried (`result` says why this one
// failed).
bool JudgeCandidate(const std::u16string& candidate, DownloadResult download, int64_t now,
                    DiscoveryResult& result);

// DiscoverFeeds through a downloader shared with the rest of the program
// (its transfers are a group of their own), answering on the owner's thread
// through an executor. Every method is for the owner's thread. Destroying
// the object or cancelling abandons the transfers at once.
class CFeedDiscovery {
 public:
  using Callback = std::function<void(const DiscoveryResult&)>;

  // Both must outlive the object.
  CFeedDiscovery(IDownloader& downloader, IExecutor& executor);
  // Cancels; see Cancel.
  ~CFeedDiscovery();
  CFeedDiscovery(const CFeedDiscovery&) = delete;
  CFeedDiscovery& operator=(const CFeedDiscovery&) = delete;

  // Returns at once. `done` is called exactly once, from a task of the
  // executor (never from within Start), unless the request is cancelled
  // first. Starting a request cancels the one before it.
  void Start(std::u16string typed, Callback done);

  // After this returns no callback of an earlier request runs and none of
  // its transfers goes on. May be called from within a callback.
  void Cancel();

 private:
  void Fetch();
  void Fetched(uint64_t request, DownloadResult download);
  void Finish();

  IDownloader& m_downloader;
  const uint64_t m_group = NewDownloadGroup();
  uint64_t m_request = 0;  // numbers the requests; a late answer is dropped
  std::vector<std::u16string> m_candidates;
  size_t m_next = 0;
  DiscoveryResult m_result;
  Callback m_done;
  // Last: its tasks are dropped before anything else goes.
  CExecutorScope m_tasks;
};

}  // namespace qb
