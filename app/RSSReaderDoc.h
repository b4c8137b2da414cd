// The one document: it owns the feed model and the settings for the whole
// run. The data file is read once at creation and written by the frame's
// save timer and at exit.
#pragma once

#include <QString>
#include <functional>
#include <string>

#include "app/CoreBridge.h"
#include "app/SettingsManager.h"
#include "model/FeedsManager.h"

namespace qb {

class IMainFrame;

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
  CRSSReaderDoc() = default;
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
  // earlier one there, and shows the article.
  void ShowHelpFeed();

  // The frame whose views show the model; set at start-up.
  void SetFrame(IMainFrame* frame) { m_frame = frame; }

  // Test seams: the data file's reader and writer.
  using Loader = std::function<DataFileLoadReport(CFeedsManager&, const std::string&)>;
  using Saver = std::function<bool(const CFeedsManager&, const std::string&)>;
  void SetDataFileIo(Loader loader, Saver saver);

  CFeedsManager m_feedsManager;
  CRSSReaderSettingsManager m_settingsManager;

 private:
  IMainFrame* m_frame = nullptr;
  Loader m_loader;
  Saver m_saver;
  bool m_lastSaveFailed = false;
};

}  // namespace qb
