// The one document: it owns the feed model and the settings for the whole
// run. The data file is read once at creation and written by the frame's
// save timer and at exit.
#pragma once

#include <QString>
#include <string>

#include "app/CoreBridge.h"
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
  // be read is reported through `desktop`. Both must outlive the document.
  CRSSReaderDoc(IDataFileIo& dataFile, IDesktop& desktop);
  CRSSReaderDoc(const CRSSReaderDoc&) = delete;
  CRSSReaderDoc& operator=(const CRSSReaderDoc&) = delete;

  // Seeds the identifier generator with the time, loads the settings and
  // the data file. A file that cannot be read whole is reported once here.
  bool OnNewDocument();

  std::string GetDataFilePath() const;
  void LoadDataFile();
  // Writes the model safely (the old file stays whole until the new one is
  // complete). False when writing failed: the model is unchanged and the
  // next save tries again. Nothing is shown to the user.
  bool SaveDataFile();
  bool LastSaveFailed() const { return m_lastSaveFailed; }

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
  bool m_lastSaveFailed = false;
};

}  // namespace qb
