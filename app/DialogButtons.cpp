#include "app/DialogButtons.h"

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QEvent>
#include <QPushButton>

namespace qb {

namespace {

const QString kFocusFilterName = QStringLiteral("qb-dialog-focus");

// Marks each dialog as one whose focus came from the keyboard just before
// it shows: the attribute the styles test before drawing a focus frame.
class CDialogFocusFilter : public QObject {
 public:
  explicit CDialogFocusFilter(QObject* parent) : QObject(parent) { setObjectName(kFocusFilterName); }

  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Show) {
      if (auto* dialog = qobject_cast<QDialog*>(watched)) dialog->setAttribute(Qt::WA_KeyboardFocusChange);
    }
    return false;
  }
};

}  // namespace

QDialogButtonBox* NewOkCancelBox(QDialog* dialog) {
  auto* buttons = new QDialogButtonBox(Qt::Horizontal, dialog);
  buttons->addButton(QDialogButtonBox::Ok)->setDefault(true);
  buttons->addButton(QDialogButtonBox::Cancel);
  QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
  return buttons;
}

void ShowFocusInDialogs() {
  QCoreApplication* app = QCoreApplication::instance();
  if (app->findChild<QObject*>(kFocusFilterName, Qt::FindDirectChildrenOnly) != nullptr) return;
  app->installEventFilter(new CDialogFocusFilter(app));
}

}  // namespace qb
