// The window's site icons: the core's icon cache (fetched once per site
// through the program's download pool, kept under the user's cache folder,
// refreshed rarely) behind the tree's ISiteIcons. The cache's own thread
// does the disk work and answers through the window's executor; an icon's
// few bytes are decoded on the window's thread, which never waits for the
// network or the disk.
#pragma once

#include <QImage>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "net/IconCache.h"
#include "views/SiteIcons.h"

namespace qb {

class CSiteIconProvider final : public ISiteIcons {
  Q_OBJECT
 public:
  // `downloader` and `executor` (which runs its tasks on this thread) must
  // outlive the provider.
  CSiteIconProvider(IDownloader& downloader, IExecutor& executor, IconCacheOptions options = {},
                    QObject* parent = nullptr);
  // Answers still on their way are dropped; the cache's thread is joined.
  ~CSiteIconProvider() override;

  // Each site is asked for once in a run; the cache decides whether that
  // means the network.
  QIcon SiteIcon(const std::u16string& address) override;

  // The pictures an icon file holds (every size of an ICO file); empty when
  // the bytes are no picture Qt can read. Safe on any thread.
  static std::vector<QImage> DecodeIcon(const std::string& bytes);

 private:
  void Arrived(const std::u16string& site, const std::vector<QImage>& images);

  // By SiteKey; a null icon for a site that has none.
  std::unordered_map<std::u16string, QIcon> m_icons;
  std::unordered_set<std::u16string> m_asked;
  bool m_notifyPosted = false;
  CExecutorScope m_tasks;
  // Last, so it goes first: no answer starts once the rest is being torn down.
  std::unique_ptr<CIconCache> m_cache;
};

}  // namespace qb
