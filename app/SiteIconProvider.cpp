#include "app/SiteIconProvider.h"

#include <QBuffer>
#include <QImageReader>
#include <QPixmap>

#include "base/WebAddress.h"

namespace qb {

namespace {

// An ICO file rarely holds more; a hostile one is not read to the end.
constexpr int kMaxPictures = 16;

}  // namespace

CSiteIconProvider::CSiteIconProvider(IDownloader& downloader, IExecutor& executor,
                                     IconCacheOptions options, QObject* parent)
    : ISiteIcons(parent),
      m_tasks(executor),
      m_cache(std::make_unique<CIconCache>(downloader, executor, std::move(options))) {}

CSiteIconProvider::~CSiteIconProvider() { m_cache.reset(); }

std::vector<QImage> CSiteIconProvider::DecodeIcon(const std::string& bytes) {
  std::vector<QImage> images;
  if (bytes.empty()) return images;
  QByteArray data(bytes.data(), static_cast<qsizetype>(bytes.size()));
  QBuffer buffer(&data);
  buffer.open(QIODevice::ReadOnly);
  QImageReader reader(&buffer);
  for (int i = 0; i < kMaxPictures; ++i) {
    QImage image = reader.read();
    if (!image.isNull()) images.push_back(std::move(image));
    if (!reader.jumpToNextImage()) break;
  }
  return images;
}

QIcon CSiteIconProvider::SiteIcon(const std::u16string& address) {
  const std::u16string site = SiteKey(address);
  if (site.empty()) return QIcon();
  if (auto it = m_icons.find(site); it != m_icons.end()) return it->second;
  if (m_asked.insert(site).second) {
    // On this thread, while this object is whole: the cache goes first.
    m_cache->Request(address, [this, site](const qb::SiteIcon& icon) {
      Arrived(site, DecodeIcon(icon.bytes));
    });
  }
  return QIcon();
}

void CSiteIconProvider::Arrived(const std::u16string& site, const std::vector<QImage>& images) {
  QIcon icon;
  for (const QImage& image : images) icon.addPixmap(QPixmap::fromImage(image));
  m_icons[site] = icon;
  if (icon.isNull() || m_notifyPosted) return;
  // Many sites answer at once at start-up: the tree is told once per turn.
  m_notifyPosted = true;
  m_tasks.Post([this] {
    m_notifyPosted = false;
    emit iconsArrived();
  });
}

}  // namespace qb
