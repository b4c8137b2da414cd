// Everything the window hands to the desktop or waits for from the user
// outside its own panes: message boxes, modal dialogs, popup menus, opening
// a URL or file with the user's program, and whether there is a system tray.
// The frame gets one at construction and passes it to the views and dialogs;
// tests pass a double (tests/support/FakeDesktop.h) so nothing blocks and
// nothing leaves the process.
#pragma once

#include <QMessageBox>
#include <QPoint>
#include <QString>

class QAction;
class QDialog;
class QMenu;
class QUrl;
class QWidget;

namespace qb {

enum class MsgIcon { Information, Question, Warning, Critical };

class IDesktop {
 public:
  // A modal message box titled with the application name; the button pressed.
  virtual QMessageBox::StandardButton ShowMessage(
      QWidget* parent, MsgIcon icon, const QString& text,
      QMessageBox::StandardButtons buttons = QMessageBox::Ok) = 0;
  // Runs the dialog modally: QDialog::Accepted or QDialog::Rejected.
  virtual int RunDialog(QDialog& dialog) = 0;
  // Runs the menu at the global position: the action chosen, or null.
  virtual QAction* RunPopupMenu(QMenu& menu, const QPoint& globalPos) = 0;
  // Hands the URL (a web or mail address, a local file) to the user's
  // program; false when it could not be handed over.
  virtual bool OpenUrl(const QUrl& url) = 0;
  // Whether the desktop shows tray icons at all.
  virtual bool SystemTrayAvailable() = 0;

 protected:
  ~IDesktop() = default;
};

// The window flags of every dialog and message box: a title and a close
// button, no minimise or maximise.
inline constexpr Qt::WindowFlags kDialogWindowFlags =
    Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint;

// The real desktop: QMessageBox, QDialog::exec, QMenu::exec,
// QDesktopServices and QSystemTrayIcon.
class CDesktop final : public IDesktop {
 public:
  QMessageBox::StandardButton ShowMessage(QWidget* parent, MsgIcon icon, const QString& text,
                                          QMessageBox::StandardButtons buttons) override;
  int RunDialog(QDialog& dialog) override;
  QAction* RunPopupMenu(QMenu& menu, const QPoint& globalPos) override;
  bool OpenUrl(const QUrl& url) override;
  bool SystemTrayAvailable() override;
};

}  // namespace qb
