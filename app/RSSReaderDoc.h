// The one document: it owns the feed model and the settings for the whole
// run. The user's feeds are read once at creation; what changes is written
// as the frame's save timer asks (the library: the changed rows, a turn of
// the event loop after each change) and at exit.
#pragma once

#include <QString>
#include <functional>
#include <memory>
#include <string>

#include "app/DataFileIo.h"
#include "app/FeedUpdater.h"
#include "app/SettingsManager.h"
#include "model/FeedsManager.h"

namespace qb {

class IDesktop;

// The folder of the program file, with a trailing slash.
QString GetProgramFolder();
// Where welcome.htm is: beside the program, else in the installed data
// folder (share/quillbend); the path beside the program when neither exists.
QString WelcomePagePath();
// The file's text, each line followed by "\n"; empty when it cannot be read.
QString ReadTextFile(const QString& path);

inline constexpr char16_t kWelcomeTitle[] = u"Welcome!";

class CRSSReaderDoc {
 public:
  // The data file is read and written through `dataFile`; a file that cannot
  // be read is reported through `desktop`; `updater` updates this
  // document's model and keeps its fetch state with the data. All
  // must outlive the document.
  CRSSReaderDoc(IDataFileIo& dataFile, IDesktop& desktop, IFeedUpdater& updater);
  ~CRSSReaderDoc();
  CRSSReaderDoc(const CRSSReaderDoc&) = delete;
  CRSSReaderDoc& operator=(const CRSSReaderDoc&) = delete;

  // Seeds the identifier generator with the time, loads the settings and
  // the data file. A file that cannot be read whole is reported once here.
  bool OnNewDocument();

  std::string GetDataFilePath() const;
  void LoadDataFile();
  // Writes the model safely (the old file stays whole until the new one is
  // complete), now, after any background save (at exit). False when
  // writing failed: the model is unchanged. Nothing is shown to the user.
  bool SaveDataFile();
  // The same from a snapshot taken now, written on another thread; `done`
  // runs on this thread afterwards (not once the document is gone).
  void SaveInBackground(std::function<void(bool written)> done = nullptr);
  bool LastSaveFailed() const { return m_lastSaveFailed; }
  // The user's feeds in the classic data file format at `path` (File >
  // "Export data file..."), written the safe way.
  SaveResult ExportDataFile(const std::string& path);
  // Where the model is stored (the library).
  IDataFileIo& Store() { return m_dataFile; }
  // What the load has to say on the status line once (an import), or empty.
  const QString& StatusNote() const { return m_statusNote; }

  // Installs a fresh "Welcome!" source with the welcome article at the end
  // of the root group "All Sources" (created when missing), replacing an
  // earlier one there. The article is dated with the time it is installed.
  // The caller shows it; nothing is saved here.
  struct WelcomeIds {
    ObjectId source = 0;
    ObjectId article = 0;
  };
  WelcomeIds ShowHelpFeed();

  CFeedsManager m_feedsManager;
  CRSSReaderSettingsManager m_settingsManager;

 private:
  IDataFileIo& m_dataFile;
  IDesktop& m_desktop;
  IFeedUpdater& m_updater;
  std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
  bool m_lastSaveFailed = false;
  QString m_statusNote;
};

}  // namespace qb
