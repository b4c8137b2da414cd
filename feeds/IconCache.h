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
// Nothing here blocks the caller: Request returns at once, and the answer
// comes through a callback on a worker thread, which the window forwards to
// its own thread. Requests for one site while it is being fetched share the
// fetch.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "feeds/Download.h"
#include "model/Clock.h"

namespace qb {

struct IconCacheOptions {
  // Empty: DefaultIconFolder(). Created when the first icon is stored.
  std::string folder;
  std::chrono::seconds refreshAfter = std::chrono::hours(24 * 30);
  std::chrono::seconds retryFailureAfter = std::chrono::hours(24);
  size_t maxIconBytes = 256 * 1024;
  // The home page is read only for its <link> tags.
  size_t maxPageBytes = 2 * 1024 * 1024;
  // Timeouts and redirects; the body limits above replace its own.
  DownloadOptions download;
  // Sites fetched at the same time.
  int maxWorkers = 4;
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

  explicit CIconCache(IconCacheOptions options = {});
  // Drops the requests not yet answered; no callback starts after this
  // returns, and one running on another thread is waited for. Fetches in
  // flight end on their own (within the download limits) and still store
  // what they got.
  ~CIconCache();
  CIconCache(const CIconCache&) = delete;
  CIconCache& operator=(const CIconCache&) = delete;

  // The icon of the site of `url` (a feed's address or its site's link).
  // Returns at once; `done` is called exactly once on a worker thread,
  // with an empty icon for a URL that names no http or https site.
  void Request(std::u16string_view url, Callback done);

 private:
  struct Shared;
  std::shared_ptr<Shared> m_shared;
};

}  // namespace qb
