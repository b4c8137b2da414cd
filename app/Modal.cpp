#include "app/Modal.h"

#include <QApplication>
#include <QDialog>

namespace qb {

namespace {
MessagePresenter& Messages() {
  static MessagePresenter presenter;
  return presenter;
}
DialogPresenter& Dialogs() {
  static DialogPresenter presenter;
  return presenter;
}
}  // namespace

QMessageBox::StandardButton ShowMessageBox(QWidget* parent, MsgIcon icon, const QString& text,
                                           QMessageBox::StandardButtons buttons) {
  if (Messages()) return Messages()(icon, text, buttons);
  QMessageBox::Icon qtIcon = QMessageBox::Information;
  switch (icon) {
    case MsgIcon::Information: qtIcon = QMessageBox::Information; break;
    case MsgIcon::Question: qtIcon = QMessageBox::Question; break;
    case MsgIcon::Warning: qtIcon = QMessageBox::Warning; break;
    case MsgIcon::Critical: qtIcon = QMessageBox::Critical; break;
  }
  QMessageBox box(qtIcon, QApplication::applicationName(), text, buttons, parent);
  return static_cast<QMessageBox::StandardButton>(box.exec());
}

int ExecDialog(QDialog& dialog) {
  if (Dialogs()) return Dialogs()(dialog);
  return dialog.exec();
}

void SetMessagePresenter(MessagePresenter presenter) { Messages() = std::move(presenter); }
void SetDialogPresenter(DialogPresenter presenter) { Dialogs() = std::move(presenter); }

}  // namespace qb
