// What the window says about saving. While writes to the store fail (a full
// disk, a damaged library) a lasting mark on the status bar says so
// ("Changes are not being saved: the disk is full") and the status line
// says it once; the mark goes when a write succeeds again. At exit, changes
// not yet on the disk are waited for without freezing the window; when
// they cannot be written the user chooses between waiting on, exporting a
// data file elsewhere and quitting without them.
#pragma once

#include <QDialog>
#include <QLabel>
#include <QTimer>
#include <functional>

#include "app/DataFileIo.h"

class QPushButton;
class QStatusBar;

namespace qb {

// "Changes are not being saved: " + the reason.
QString NotSavingText(const SaveState& state);

class CSaveStatus {
 public:
  // The mark goes on `bar`; `say` writes the status line.
  CSaveStatus(QStatusBar& bar, IDataFileIo& store, std::function<void(const QString&)> say);
  void Show(const SaveState& state);
  // The mark's text; shown while writes fail.
  const QLabel* Mark() const { return m_mark; }
  bool MarkShown() const { return !m_box->isHidden(); }

 private:
  QWidget* m_box;  // owned by the status bar
  QLabel* m_mark;
  std::function<void(const QString&)> m_say;
  bool m_failing = false;
};

// Shown at exit while changes are not yet written. It tries again twice a
// second and closes itself once everything is on the disk (Saved). The
// user may instead export the model, with what is unsaved, to a data file
// (Exported), quit without the changes (Quit), or go back to the window
// (Rejected).
class CUnsavedChangesDlg : public QDialog {
 public:
  enum Outcome { Saved = 2, Exported = 3, Quit = 4 };
  // `exportData` asks for a path and writes the data file; true once written.
  CUnsavedChangesDlg(IDataFileIo& store, std::function<bool()> exportData, QWidget* parent);

  QString Text() const { return m_text->text(); }
  QPushButton* ExportButton() const { return m_export; }
  QPushButton* QuitButton() const { return m_quit; }
  // How often it tries again (tests).
  void SetRetryInterval(int ms) { m_retry.setInterval(ms); }

 private:
  void Refresh();

  IDataFileIo& m_store;
  QLabel* m_text;
  QPushButton* m_export;
  QPushButton* m_quit;
  QTimer m_retry;
};

}  // namespace qb
