// Start-up and shut-down of the program: the document, the main frame and
// its views, the stored show state, and the work that follows once the
// event loop runs (placement tracking, the first-run welcome article).
#pragma once

#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

namespace qb {

class CDesktopColorScheme;
class CMainFrame;
class CNetworkLibrary;
class CRSSReaderDoc;
class IDataFileIo;
class IDesktop;
class IFeedUpdater;

// What the program reaches outside itself. main() passes the real ones;
// tests pass doubles. All must outlive the application object; the updater
// (with the download pool and the executor behind it) is stopped after the
// window is gone.
struct AppEnvironment {
  IDesktop& desktop;
  IDataFileIo& dataFile;
  IFeedUpdater& updater;
  // Takes up the appearance whenever the settings are loaded or saved;
  // none leaves the colours as they are.
  CDesktopColorScheme* colorScheme = nullptr;
};

// Registers the program's icons (res/quillbend.qrc); start-up does it.
void InitResources();

class CRSSReaderApp {
 public:
  explicit CRSSReaderApp(AppEnvironment environment);
  ~CRSSReaderApp();
  CRSSReaderApp(const CRSSReaderApp&) = delete;
  CRSSReaderApp& operator=(const CRSSReaderApp&) = delete;

  // Runs start-up with the program's arguments (without the program name).
  // A settings file (*.reg) among them is imported after the user agrees,
  // before anything reads the settings; feed addresses and feed documents
  // open the add-feed dialog once the window shows. The window shows with
  // its stored state (normal, maximised, minimised), also when the last
  // session ended with it hidden in the tray: only `startHidden` (the
  // autostart's --hidden) keeps it there, when there is a tray to keep it
  // in. False ends the program.
  bool InitInstance(const QStringList& arguments, bool startHidden = false);

  // A later start handed over its arguments: none raises the window; a
  // settings file is imported as at start-up (then used at once); a feed
  // address or document opens the add-feed dialog filled with the address.
  // Waits while a dialog is open or start-up has not finished.
  void HandleCommandLine(const QStringList& arguments);

  CRSSReaderDoc* Document() const { return m_doc.get(); }
  CMainFrame* Frame() const { return m_frame.get(); }

  // Runs right after the frame is created (tests shorten its timers).
  std::function<void(CMainFrame&)> m_configureFrame;

 private:
  void RunPending();

  AppEnvironment m_env;
  std::unique_ptr<CNetworkLibrary> m_network;
  std::unique_ptr<CRSSReaderDoc> m_doc;
  std::unique_ptr<CMainFrame> m_frame;
  bool m_started = false;
  std::vector<QStringList> m_pending;
};

}  // namespace qb
