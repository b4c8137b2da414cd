#include "views/Desktop.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QUrl>

namespace qb {

QMessageBox::StandardButton CDesktop::ShowMessage(QWidget* parent, MsgIcon icon,
                                                  const QString& text,
                                                  QMessageBox::StandardButtons buttons) {
  QMessageBox::Icon qtIcon = QMessageBox::Information;
  switch (icon) {
    case MsgIcon::Information: qtIcon = QMessageBox::Information; break;
    case MsgIcon::Question: qtIcon = QMessageBox::Question; break;
    case MsgIcon::Warning: qtIcon = QMessageBox::Warning; break;
    case MsgIcon::Critical: qtIcon = QMessageBox::Critical; break;
  }
  QMessageBox box(qtIcon, QApplication::applicationName(), text, buttons, parent, kDialogWindowFlags);
  // A message may name an address or a file for the user to copy.
  box.setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  return static_cast<QMessageBox::StandardButton>(box.exec());
}

int CDesktop::RunDialog(QDialog& dialog) { return dialog.exec(); }

QAction* CDesktop::RunPopupMenu(QMenu& menu, const QPoint& globalPos) { return menu.exec(globalPos); }

bool CDesktop::OpenUrl(const QUrl& url) { return QDesktopServices::openUrl(url); }

bool CDesktop::SystemTrayAvailable() { return QSystemTrayIcon::isSystemTrayAvailable(); }

}  // namespace qb
