// Modal message boxes and dialogs go through these two functions, so window
// tests can answer them without a person (and without blocking).
#pragma once

#include <QMessageBox>
#include <QString>
#include <functional>

class QDialog;
class QWidget;

namespace qb {

enum class MsgIcon { Information, Question, Warning, Critical };

// Shows a modal message box titled with the application name and returns the
// button pressed.
QMessageBox::StandardButton ShowMessageBox(QWidget* parent, MsgIcon icon, const QString& text,
                                           QMessageBox::StandardButtons buttons = QMessageBox::Ok);

// Runs the dialog modally; returns QDialog::Accepted or QDialog::Rejected.
int ExecDialog(QDialog& dialog);

// Test seams: replace what the user would answer. An empty function restores
// the real modal loop.
using MessagePresenter = std::function<QMessageBox::StandardButton(
    MsgIcon icon, const QString& text, QMessageBox::StandardButtons buttons)>;
using DialogPresenter = std::function<int(QDialog& dialog)>;
void SetMessagePresenter(MessagePresenter presenter);
void SetDialogPresenter(DialogPresenter presenter);

}  // namespace qb
