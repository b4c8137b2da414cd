// Site icons for the source tree: each site's icon is fetched once and kept
// in a small cache folder, one file per site, holding the bytes exactly as
// the server sent them (the window decodes them).
//
// Where an icon comes from: the site's home page names it with
// <link rel="icon"> or <link rel="shortcut icon">; failing that, the site's
// "/favicon.ico". Only bodies that start like an image (ICO, PNG, GIF, JPEG,
// BMP, WebP, SVG) and fit the size limit are kept, so an error page served
// with status 200 is not taken for an icon.
//
// How often: a cached icon is used as it is until it is `refreshAfter` old;
// a site that had no icon, or could not be reached, is not asked again
// before `retryFailureAfter` has passed. A failed refresh keeps the old
// icon. Ages come from the files' modification times, set from the clock
// given in the options, so nothing else is stored.
//
// Nothing here blocks the caller: Request returns at once; the cache's own
// thread reads and writes its folder and reads the home pages, the
// downloads go through the program's download pool (as a group of their
// own, under its politeness limits), and the answer comes through the
// executor on the owner's thread. Requests for one site while it is being
// fetched share the fetch.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "base/Clock.h"
#include "base/Executor.h"
#include "net/Download.h"

namespace qb {

struct IconCacheOptions {
  // Empty: DefaultIconFolder(). Created when the first icon is stored.
  std::string folder;
  std::chrono::seconds refreshAfter = std::chrono::hours(24 * 30);
  std::chrono::seconds retryFailureAfter = std::chrono::hours(24);
  size_t maxIconBytes = 256 * 1024;
  // The home page is read only for its <link> tags.
  size_t maxPageBytes = 2 * 1024 * 1024;
  // Sites fetched at the same time, so that a tree full of new sites does
  // not fill the download pool ahead of the feeds.
  int maxSitesAtOnce = 4;
  // Null: the system clock. Must outlive the cache and be callable from any
  // thread.
  const IClock* clock = nullptr;
};

struct SiteIcon {
  // SiteKey of the URL asked about; empty when the URL names no site.
  std::u16string site;
  // The icon as the server sent it; empty when the site has none.
  std::string bytes;
  // The cached file that holds the bytes; empty when they are not on disk.
  std::string file;
};

// $XDG_CACHE_HOME/Velmorant/Quillbend/icons ($HOME/.cache when
// XDG_CACHE_HOME is unset or not absolute).
std::string DefaultIconFolder();

// Whether the bytes start like an image format the window can decode.
bool LooksLikeImage(std::string_view bytes);

class CIconCache {
 public:
  using Callback = std::function<void(const SiteIcon&)>;

  // Fetches through `downloader` and answers through `executor`; both must
  // outlive the cache.
  CIconCache(IDownloader& downloader, IExecutor& executor, IconCacheOptions options = {});
  // Drops the requests not yet answered: the cache's thread is joined and
  // its transfers are abandoned at once (what they were fetching is not
  // stored), and no callback runs after this returns.
  ~CIconCache();
  CIconCache(const CIconCache&) = delete;
  CIconCache& operator=(const CIconCache&) = delete;

  // The icon of the site of `url` (a feed's address or its site's link).
  // Returns at once; `done` is called exactly once from a task of the
  // executor, with an empty icon for a URL that names no http or https
  // site. Owner's thread.
  void Request(std::u16string_view url, Callback done);

 private:
  struct Fetch;
  // The cache's thread: runs the events below in order until stopped.
  void Run();
  void Post(std::function<void()> event);  // any thread
  void Look(std::u16string site, std::u16string home);
  void StartFetches();
  void PageArrived(const std::shared_ptr<Fetch>& fetch, DownloadResult page);
  void IconArrived(const std::shared_ptr<Fetch>& fetch, DownloadResult icon);
  void FetchNextIcon(const std::shared_ptr<Fetch>& fetch);
  void Answer(SiteIcon icon);

  IDownloader& m_downloader;
  const uint64_t m_group = NewDownloadGroup();
  IconCacheOptions m_options;
  // The owner's thread: callbacks waiting, by site.
  std::map<std::u16string, std::vector<Callback>> m_waiting;
  // The cache's thread: sites waiting for a fetch, and fetching.
  std::deque<std::shared_ptr<Fetch>> m_queued;
  int m_fetching = 0;

  std::mutex m_mutex;  // guards the two below
  std::condition_variable m_wake;
  std::deque<std::function<void()>> m_events;
  bool m_stopping = false;
  CExecutorScope m_tasks;
  std::thread m_thread;  // last: it starts once everything above exists
};

}  // namespace qb
