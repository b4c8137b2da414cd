// Helpers shared by the window tests: a clean settings file, and a desktop
// that records message boxes, dialogs and opened links.
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSettings>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <ostream>
#include <vector>

#include "app/QtExecutor.h"
#include "net/Discovery.h"
#include "tests/support/FakeDesktop.h"

// Readable QString values in test failures.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace qb::test {

// The two settings sections.
inline const QString kSettings = QStringLiteral("Settings");
inline const QString kWindow = QStringLiteral("WindowSettings");

// Empties the settings file for the duration of a test; as the desktop it
// records every message box (answering with `answer`), dialog and link.
class UiTestScope : public FakeDesktop {
 public:
  explicit UiTestScope(QMessageBox::StandardButton answer = QMessageBox::Ok) {
    nextAnswer = answer;
    ClearSettings();
  }
  ~UiTestScope() { ClearSettings(); }
  UiTestScope(const UiTestScope&) = delete;
  UiTestScope& operator=(const UiTestScope&) = delete;

  void SetAnswer(QMessageBox::StandardButton answer) { nextAnswer = answer; }

  static void ClearSettings() {
    QSettings s(QStringLiteral("Velmorant"), QStringLiteral("Quillbend"));
    s.clear();
    s.sync();
  }
  static QVariant Stored(const QString& section, const QString& name) {
    QSettings s(QStringLiteral("Velmorant"), QStringLiteral("Quillbend"));
    return s.value(section + u'/' + name);
  }
  static void Store(const QString& section, const QString& name, const QVariant& value) {
    QSettings s(QStringLiteral("Velmorant"), QStringLiteral("Quillbend"));
    s.setValue(section + u'/' + name, value);
  }
  static QString SettingsFilePath() {
    QSettings s(QStringLiteral("Velmorant"), QStringLiteral("Quillbend"));
    return s.fileName();
  }
};

// A feed search for a dialog made by a test, on a download pool and an
// executor that every such test shares, as the program's dialogs share the
// program's.
inline std::unique_ptr<CFeedDiscovery> NewSearch() {
  static CQtExecutor executor;
  static CDownloadPool pool;
  return std::make_unique<CFeedDiscovery>(pool, executor);
}

// Runs the event loop until `done` answers true, at most `limitMs`; whether
// it did.
inline bool WaitUntil(const std::function<bool()>& done, int limitMs = 15000) {
  QElapsedTimer elapsed;
  elapsed.start();
  while (!done()) {
    if (elapsed.elapsed() > limitMs) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

}  // namespace qb::test
