// Starts the whole program in a test: a private data folder, forced tray
// availability, long timer intervals (tests fire timers themselves) and,
// unless the real data file is wanted, an in-memory data file.
#pragma once

#include <QCoreApplication>
#include <QTemporaryDir>
#include <memory>

#include "app/MainFrame.h"
#include "app/RSSReaderApp.h"
#include "app/RSSReaderDoc.h"
#include "tests/app/AppTestSupport.h"

namespace qb::test {

class AppHarness {
 public:
  explicit AppHarness(bool trayAvailable = true) : m_oldDataHome(qgetenv("XDG_DATA_HOME")) {
    qputenv("XDG_DATA_HOME", m_dataHome.path().toLocal8Bit());
    CMainFrame::SetSystemTrayAvailableOverride(trayAvailable);
  }
  ~AppHarness() {
    app.reset();
    CMainFrame::SetSystemTrayAvailableOverride(std::nullopt);
    qputenv("XDG_DATA_HOME", m_oldDataHome);
  }
  AppHarness(const AppHarness&) = delete;
  AppHarness& operator=(const AppHarness&) = delete;

  // Starts a fresh program instance (the previous one is dropped without
  // its close sequence, like a killed process) and runs the queued work.
  bool Start(const QStringList& arguments = {}) {
    app.reset();
    app = std::make_unique<CRSSReaderApp>();
    app->m_configureDocument = [this](CRSSReaderDoc& doc) {
      if (realDataFile) return;
      doc.SetDataFileIo(
          [this](CFeedsManager&, const std::string&) {
            ++loads;
            return loadReport;
          },
          [this](const CFeedsManager&, const std::string& path) {
            ++saves;
            savedPath = path;
            if (onSave) onSave();
            return saveResult;
          });
    };
    app->m_configureFrame = [](CMainFrame& frame) {
      for (FrameTimer t : {FrameTimer::Update, FrameTimer::Tick, FrameTimer::MarkRead, FrameTimer::Save}) {
        frame.SetTimerInterval(t, 3600 * 1000);
      }
    };
    const bool ok = app->InitInstance(arguments);
    Pump();
    return ok;
  }

  static void Pump() {
    for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
  }

  CMainFrame& Frame() const { return *app->Frame(); }
  CRSSReaderDoc& Doc() const { return *app->Document(); }
  CFeedsManager& Model() const { return app->Document()->m_feedsManager; }
  QString DataHome() const { return m_dataHome.path(); }

  UiTestScope scope;
  std::unique_ptr<CRSSReaderApp> app;
  bool realDataFile = false;
  DataFileLoadReport loadReport;
  bool saveResult = true;
  int loads = 0;
  int saves = 0;
  std::string savedPath;
  std::function<void()> onSave;

 private:
  QTemporaryDir m_dataHome;
  QByteArray m_oldDataHome;
};

}  // namespace qb::test
