// The one main of the window tests: a QApplication on the offscreen platform,
// with the settings file, the data folder and the cache folder pointed at a
// private temporary folder so that no test touches the real user's files.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <cstdlib>

#ifdef QB_UI_TESTS_WITH_WEB_ENGINE
#include "views/ArticlePage.h"
#include "views/ReaderExtractor.h"
#endif

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  qputenv("QT_QPA_PLATFORM", "offscreen");
  qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
  if (qEnvironmentVariableIsEmpty("QTWEBENGINE_CHROMIUM_FLAGS")) {
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu --no-sandbox");
  }
  QTemporaryDir home;
  if (!home.isValid()) return 2;
  const QString config = home.filePath(QStringLiteral("config"));
  const QString data = home.filePath(QStringLiteral("data"));
  // The article page, the source text and the single-instance socket live
  // here: tests running side by side must not share them.
  const QString runtime = home.filePath(QStringLiteral("runtime"));
  const QString cache = home.filePath(QStringLiteral("cache"));
  QDir().mkpath(config);
  QDir().mkpath(data);
  QDir().mkpath(runtime);
  QDir().mkpath(cache);
  QFile::setPermissions(runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
  qputenv("XDG_CONFIG_HOME", config.toLocal8Bit());
  qputenv("XDG_DATA_HOME", data.toLocal8Bit());
  qputenv("XDG_RUNTIME_DIR", runtime.toLocal8Bit());
  // The fetch state and the site icons.
  qputenv("XDG_CACHE_HOME", cache.toLocal8Bit());

  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
#ifdef QB_UI_TESTS_WITH_WEB_ENGINE
  // The page's and the reader view's schemes, before the application
  // object, as the program does.
  qb::RegisterArticlePageScheme();
  qb::CReaderExtractor::RegisterScheme();
#endif
  QApplication app(argc, argv);
  QApplication::setOrganizationName(QStringLiteral("Velmorant"));
  QApplication::setApplicationName(QStringLiteral("Quillbend"));
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, config);
  QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, config);
  return RUN_ALL_TESTS();
}
