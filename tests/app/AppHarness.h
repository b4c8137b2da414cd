// Starts the whole program in a test: a private data folder, a desktop that
// records and answers (with a tray or without), long timer intervals (tests
// fire timers themselves), the real update cycle unless a test answers for
// it, and, unless the real data file or the library is wanted, an in-memory
// data file.
#pragma once

#include <QCoreApplication>
#include <QTemporaryDir>
#include <chrono>
#include <functional>
#include <memory>

#include "app/DesktopScheme.h"
#include "app/LibraryDataIo.h"
#include "app/MainFrame.h"
#include "app/QtExecutor.h"
#include "app/RSSReaderApp.h"
#include "app/RSSReaderDoc.h"
#include "app/UpdateService.h"
#include "tests/app/AppTestSupport.h"
#include "tests/support/FakeUpdater.h"

namespace qb::test {

// Counts loads and saves; the real file only when asked for.
class RecordingDataFile : public IDataFileIo {
 public:
  DataFileLoadReport Load(CFeedsManager& model, const std::string& path,
                          CValidatorStore* fetchState = nullptr) override {
    ++loads;
    return realDataFile ? m_real.Load(model, path, fetchState) : loadReport;
  }
  bool Save(const CFeedsManager& model, const std::string& path,
            const CValidatorStore* fetchState = nullptr) override {
    ++saves;
    savedPath = path;
    if (onSave) onSave();
    return realDataFile ? m_real.Save(model, path, fetchState) : saveResult;
  }
  // Written at once, on the window's thread, so tests see it done; the
  // real background writer has tests of its own.
  void SaveInBackground(const CFeedsManager& model, const std::string& path,
                        const CValidatorStore* fetchState,
                        std::function<void(bool written)> done) override {
    ++backgroundSaves;
    const bool written = Save(model, path, fetchState);
    if (done) done(written);
  }
  void WaitForSaves() override {}

  bool realDataFile = false;
  DataFileLoadReport loadReport;
  bool saveResult = true;
  int loads = 0;
  int saves = 0;  // background ones included
  int backgroundSaves = 0;
  std::string savedPath;
  std::function<void()> onSave;

 private:
  CDataFileIo m_real;
};

class AppHarness {
 public:
  explicit AppHarness(bool trayAvailable = true) : m_oldDataHome(qgetenv("XDG_DATA_HOME")) {
    qputenv("XDG_DATA_HOME", m_dataHome.path().toLocal8Bit());
    scope.trayAvailable = trayAvailable;
  }
  ~AppHarness() {
    app.reset();
    library.reset();
    qputenv("XDG_DATA_HOME", m_oldDataHome);
  }
  AppHarness(const AppHarness&) = delete;
  AppHarness& operator=(const AppHarness&) = delete;

  // Starts a fresh program instance (the previous one is dropped without
  // its close sequence, like a killed process) and runs the queued work.
  bool Start(const QStringList& arguments = {}, bool startHidden = false) {
    app.reset();
    if (useLibrary) {
      library.reset();
      library = std::make_unique<CLibraryDataIo>(executor);
    }
    app = std::make_unique<CRSSReaderApp>(
        AppEnvironment{scope, useLibrary ? static_cast<IDataFileIo&>(*library) : dataFile, updater, colorScheme});
    app->m_configureFrame = [](CMainFrame& frame) {
      for (FrameTimer t : {FrameTimer::Update, FrameTimer::Tick, FrameTimer::MarkRead, FrameTimer::Save}) {
        frame.SetTimerInterval(t, 3600 * 1000);
      }
    };
    const bool ok = app->InitInstance(arguments, startHidden);
    Pump();
    return ok;
  }

  static void Pump() {
    for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
  }

  // Runs the event loop until the update pass in the background is over
  // (at most `limit`); true when it is.
  bool WaitForUpdates(std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (updater.Busy()) {
      if (std::chrono::steady_clock::now() > end) return false;
      QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    Pump();
    return true;
  }

  CMainFrame& Frame() const { return *app->Frame(); }
  CRSSReaderDoc& Doc() const { return *app->Document(); }
  CFeedsManager& Model() const { return app->Document()->m_feedsManager; }
  QString DataHome() const { return m_dataHome.path(); }

  UiTestScope scope;
  RecordingDataFile dataFile;
  // The user's library in the private data folder instead of the recording
  // data file, as the program runs.
  bool useLibrary = false;
  // The colours the program chooses; none leaves the palette alone.
  CDesktopColorScheme* colorScheme = nullptr;
  CQtExecutor executor;
  std::unique_ptr<CLibraryDataIo> library;
  CUpdateService realUpdater;
  FakeUpdater updater{&realUpdater};
  std::unique_ptr<CRSSReaderApp> app;
  // Shorthands for the data file's record.
  bool& realDataFile = dataFile.realDataFile;
  DataFileLoadReport& loadReport = dataFile.loadReport;
  bool& saveResult = dataFile.saveResult;
  int& loads = dataFile.loads;
  int& saves = dataFile.saves;
  std::string& savedPath = dataFile.savedPath;
  std::function<void()>& onSave = dataFile.onSave;

 private:
  QTemporaryDir m_dataHome;
  QByteArray m_oldDataHome;
};

}  // namespace qb::test
