#include "feeds/Discovery.h"

#include <mutex>
#include <thread>
#include <unordered_set>
#include <utility>

#include "feeds/HtmlLinks.h"
#include "feeds/Interpret.h"
#include "feeds/ParsedFeed.h"
#include "model/Text.h"

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

std::u16string HttpErrorText(long status) {
  return u"The site answered with an error (HTTP status " + Widen(std::to_string(status)) + u").";
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
    const DownloadResult download = DownloadBytes(Utf16ToUtf8(candidate), options.download);
    if (!download.ok) {
      // No answer: the next candidate (http after https) may have one.
      result.status = DiscoveryStatus::kFetchFailed;
      result.message = kSiteUnreachableMessage;
      continue;
    }
    if (download.httpStatus < 200 || download.httpStatus > 299) {
      result.status = DiscoveryStatus::kHttpError;
      result.httpStatus = download.httpStatus;
      result.message = HttpErrorText(download.httpStatus);
      return result;
    }
    DiscoveryResult examined = ExamineFetchedBody(candidate, download.body, download.contentType);
    examined.httpStatus = download.httpStatus;
    return examined;
  }
  return result;
}

struct CFeedDiscovery::Shared {
  // Held while a callback runs, so Cancel can wait for it; recursive so
  // that the callback itself may cancel or start a request.
  std::recursive_mutex mutex;
  uint64_t generation = 0;
};

CFeedDiscovery::CFeedDiscovery(DiscoveryOptions options)
    : m_options(std::move(options)), m_shared(std::make_shared<Shared>()) {}

CFeedDiscovery::~CFeedDiscovery() { Cancel(); }

void CFeedDiscovery::Start(std::u16string typed, Callback done) {
  uint64_t generation = 0;
  {
    std::lock_guard<std::recursive_mutex> lock(m_shared->mutex);
    generation = ++m_shared->generation;
  }
  std::thread([shared = m_shared, generation, typed = std::move(typed), options = m_options,
               done = std::move(done)] {
    auto current = [&] {
      std::lock_guard<std::recursive_mutex> lock(shared->mutex);
      return shared->generation == generation;
    };
    const DiscoveryResult result = DiscoverFeeds(typed, options, [&] { return !current(); });
    std::lock_guard<std::recursive_mutex> lock(shared->mutex);
    if (shared->generation == generation) done(result);
  }).detach();
}

void CFeedDiscovery::Cancel() {
  std::lock_guard<std::recursive_mutex> lock(m_shared->mutex);
  ++m_shared->generation;
}

}  // namespace qb
