// What the program's dialogs share: the button row (a horizontal button box
// below the controls, so the buttons come in the order the platform puts
// them, with the accepting button as the default), and a keyboard focus
// that shows from the moment a dialog opens.
#pragma once

#include <QDialogButtonBox>

class QDialog;

namespace qb {

// OK (default) and Cancel, ending the dialog with accept() and reject().
QDialogButtonBox* NewOkCancelBox(QDialog* dialog);

// Every dialog shown from now on (ours, message boxes, file dialogs) draws
// its focus frame at once. The styles draw it only in a window where the
// keyboard has moved the focus, so that a click leaves no frame behind; a
// dialog is answered from the keyboard, and the user has to see where the
// typing goes before the first Tab. Main windows keep the styles' rule.
// One filter on the application, installed once however often this runs.
// REQUIRES: a QApplication.
void ShowFocusInDialogs();

}  // namespace qb
