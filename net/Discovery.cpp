#include "net/Discovery.h"

#include <unordered_set>
#include <utility>

#include "base/Clock.h"
#include "base/DateTime.h"
#include "base/Text.h"
#include "formats/HtmlLinks.h"
#include "formats/Interpret.h"
#include "formats/ParsedFeed.h"

namespace qb {

namespace {

// What the update cycle can read.
bool IsFeedDocument(std::u16string_view text) { return HoldsFeed(ParseFeed(SharedText(std::u16string(text)))); }

bool IsFeedType(std::u16string_view type) {
  const std::u16string bare = BareMimeType(type);
  return bare == u"application/rss+xml" || bare == u"application/atom+xml" || bare == u"application/feed+json";
}

// Runs of white space become one space; none at the ends.
std::u16string CollapseSpace(std::u16string_view s) {
  std::u16string out;
  bool space = false;
  for (char16_t c : TrimView(s)) {
    if (IsWideSpace(c)) {
      space = true;
      continue;
    }
    if (space) out += u' ';
    space = false;
    out += c;
  }
  return out;
}

std::vector<DiscoveredFeed> AnnouncedFeeds(std::u16string_view pageUrl, std::u16string_view html) {
  const HtmlLinks page = ScanHtmlLinks(html);
  const std::u16string base = LinkBase(pageUrl, page);
  std::vector<DiscoveredFeed> feeds;
  std::unordered_set<std::u16string> seen;
  for (const HtmlTag& link : page.links) {
    if (!HasToken(link.Get(u"rel"), u"alternate") || !IsFeedType(link.Get(u"type"))) continue;
    if (TrimView(link.Get(u"href")).empty()) continue;
    // The same checks as a typed address: "javascript:" and the like never
    // reach the subscription, "feed://" becomes http.
    const CheckedAddress checked = CheckFeedAddress(ResolveUrl(base, link.Get(u"href")));
    if (!checked.ok() || checked.candidates.size() != 1) continue;
    const std::u16string& url = checked.candidates.front();
    if (seen.insert(url).second) feeds.push_back({url, CollapseSpace(link.Get(u"title"))});
  }
  return feeds;
}

// `retryUntil`: when a 429 or 503 answer allows the next try (0: it says
// nothing).
std::u16string HttpErrorText(long status, int64_t retryUntil) {
  std::u16string text =
      u"The site answered with an error (HTTP status " + Widen(std::to_string(status)) + u").";
  if (retryUntil != 0) {
    text += u" It allows the next try at " + CDateTime::FromTime(retryUntil).Format() + u".";
  }
  return text;
}

}  // namespace

DiscoveryResult ExamineFetchedBody(std::u16string_view url, std::string_view body,
                                   std::string_view contentType) {
  DiscoveryResult result;
  result.fetchedUrl = url;
  const std::u16string text = DecodeHtmlPage(body, contentType);
  if (IsFeedDocument(text)) {
    result.status = DiscoveryStatus::kFound;
    result.addressIsFeed = true;
    result.feeds.push_back({std::u16string(url), {}});
    return result;
  }
  result.feeds = AnnouncedFeeds(url, text);
  if (result.feeds.empty()) {
    result.status = DiscoveryStatus::kNoFeed;
    result.message = kNoFeedFoundMessage;
  } else {
    result.status = DiscoveryStatus::kFound;
  }
  return result;
}

bool JudgeCandidate(const std::u16string& candidate, DownloadResult download, int64_t now,
                    DiscoveryResult& result) {
  result.fetchedUrl = candidate;
  if (!download.ok) {
    // No answer: the next candidate (http after https) may have one.
    result.status = DiscoveryStatus::kFetchFailed;
    result.message = download.error == DownloadError::TimedOut ? kSiteTimedOutMessage
                                                               : kSiteUnreachableMessage;
    return false;
  }
  if (download.httpStatus < 200 || download.httpStatus > 299) {
    result = DiscoveryResult{};
    result.fetchedUrl = candidate;
    result.status = DiscoveryStatus::kHttpError;
    result.httpStatus = download.httpStatus;
    const bool mayRetry = download.httpStatus == 429 || download.httpStatus == 503;
    result.message =
        HttpErrorText(download.httpStatus, mayRetry ? ParseRetryAfter(download.retryAfter, now) : 0);
    return true;
  }
  result = ExamineFetchedBody(candidate, download.body, download.contentType);
  result.httpStatus = download.httpStatus;
  if (result.addressIsFeed) result.document = std::move(download);
  return true;
}

DiscoveryResult DiscoverFeeds(std::u16string_view typed, const DiscoveryOptions& options,
                              const std::function<bool()>& cancelled) {
  DiscoveryResult result;
  const CheckedAddress address = CheckFeedAddress(typed);
  if (!address.ok()) {
    result.status = DiscoveryStatus::kBadAddress;
    result.addressProblem = address.problem;
    result.message = AddressProblemText(address.problem);
    return result;
  }
  for (const std::u16string& candidate : address.candidates) {
    if (cancelled && cancelled()) break;
    result.fetchedUrl = candidate;
    if (JudgeCandidate(candidate, DownloadBytes(Utf16ToUtf8(candidate), options.download),
                       SystemClock().CurrentTime(), result)) {
      break;
    }
  }
  return result;
}

CFeedDiscovery::CFeedDiscovery(IDownloader& downloader, IExecutor& executor)
    : m_downloader(downloader), m_tasks(executor) {}

CFeedDiscovery::~CFeedDiscovery() { Cancel(); }

void CFeedDiscovery::Start(std::u16string typed, Callback done) {
  Cancel();
  m_done = std::move(done);
  m_result = DiscoveryResult{};
  m_candidates.clear();
  m_next = 0;
  const CheckedAddress address = CheckFeedAddress(typed);
  if (!address.ok()) {
    m_result.status = DiscoveryStatus::kBadAddress;
    m_result.addressProblem = address.problem;
    m_result.message = AddressProblemText(address.problem);
    // Never from within Start: the caller may not be ready for it yet.
    m_tasks.Post([this, request = m_request] {
      if (request == m_request) Finish();
    });
    return;
  }
  m_candidates = address.candidates;
  Fetch();
}

void CFeedDiscovery::Fetch() {
  DownloadRequest request;
  request.url = Utf16ToUtf8(m_candidates[m_next]);
  request.group = m_group;
  // The pool's thread only hands the answer over; it is judged here.
  m_downloader.Start(std::move(request), [this, id = m_request](DownloadResult download) {
    m_tasks.Post([this, id, download = std::move(download)]() mutable {
      Fetched(id, std::move(download));
    });
  });
}

void CFeedDiscovery::Fetched(uint64_t request, DownloadResult download) {
  if (request != m_request) return;
  const std::u16string& candidate = m_candidates[m_next++];
  if (!JudgeCandidate(candidate, std::move(download), SystemClock().CurrentTime(), m_result) &&
      m_next < m_candidates.size()) {
    Fetch();
    return;
  }
  Finish();
}

void CFeedDiscovery::Finish() {
  Callback done = std::move(m_done);
  m_done = nullptr;
  // The callback may start the next request or destroy this object.
  const DiscoveryResult result = std::move(m_result);
  if (done) done(result);
}

void CFeedDiscovery::Cancel() {
  ++m_request;
  m_downloader.Cancel(m_group);
  m_done = nullptr;
}

}  // namespace qb
