// The button row of the program's dialogs: a horizontal button box below
// the controls, so the buttons come in the order the platform puts them,
// with the accepting button as the default.
#pragma once

#include <QDialogButtonBox>

class QDialog;

namespace qb {

// OK (default) and Cancel, ending the dialog with accept() and reject().
QDialogButtonBox* NewOkCancelBox(QDialog* dialog);

}  // namespace qb
