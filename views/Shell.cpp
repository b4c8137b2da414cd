#include "views/Shell.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QUrl>

#include "views/Desktop.h"

namespace qb {

namespace {

// A directory owned by us that only we can enter; fixes the mode of our own
// directory, refuses anything else.
bool IsPrivateDirectory(const QByteArray& path) {
  struct stat st {};
  if (lstat(path.constData(), &st) != 0) return false;
  if (!S_ISDIR(st.st_mode) || st.st_uid != getuid()) return false;
  if ((st.st_mode & 077) != 0 && chmod(path.constData(), 0700) != 0) return false;
  return true;
}
}  // namespace

bool IsExternalLink(const QUrl& url) {
  const QString scheme = url.scheme().toLower();
  return scheme == QLatin1String("http") || scheme == QLatin1String("https") ||
         scheme == QLatin1String("mailto") || scheme == QLatin1String("ftp");
}

bool OpenLinkExternally(IDesktop& desktop, const QUrl& url) {
  return IsExternalLink(url) && desktop.OpenUrl(url);
}

QString PrivateTempFolder() {
  const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
  QString folder;
  if (!runtime.isEmpty() && QDir(QString::fromLocal8Bit(runtime)).exists()) {
    folder = QString::fromLocal8Bit(runtime) + QStringLiteral("/quillbend");
  } else {
    folder = QDir::tempPath() + QStringLiteral("/quillbend-") + QString::number(getuid());
  }
  const QByteArray native = QFile::encodeName(folder);
  if (mkdir(native.constData(), 0700) != 0 && errno != EEXIST) return QString();
  if (!IsPrivateDirectory(native)) return QString();
  return folder;
}

}  // namespace qb
