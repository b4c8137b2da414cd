// Start-up and shut-down of the program: the document, the main frame and
// its views, the stored show state, and the work that follows once the
// event loop runs (placement tracking, the first-run welcome article).
#pragma once

#include <QStringList>
#include <functional>
#include <memory>

namespace qb {

class CMainFrame;
class CRSSReaderDoc;

class CRSSReaderApp {
 public:
  CRSSReaderApp();
  ~CRSSReaderApp();
  CRSSReaderApp(const CRSSReaderApp&) = delete;
  CRSSReaderApp& operator=(const CRSSReaderApp&) = delete;

  // Runs start-up with the program's arguments (without the program name).
  // A settings file (*.reg) among them is imported after the user agrees.
  // False ends the program.
  bool InitInstance(const QStringList& arguments);

  CRSSReaderDoc* Document() const { return m_doc.get(); }
  CMainFrame* Frame() const { return m_frame.get(); }

  // Test seams, run right after the document and the frame are created.
  std::function<void(CRSSReaderDoc&)> m_configureDocument;
  std::function<void(CMainFrame&)> m_configureFrame;

 private:
  void ImportSettingsFile(const QString& path);

  std::unique_ptr<CRSSReaderDoc> m_doc;
  std::unique_ptr<CMainFrame> m_frame;
  bool m_networkInitialised = false;
};

}  // namespace qb
