#include "app/DialogButtons.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QPushButton>

namespace qb {

QDialogButtonBox* NewOkCancelBox(QDialog* dialog) {
  auto* buttons = new QDialogButtonBox(Qt::Horizontal, dialog);
  buttons->addButton(QDialogButtonBox::Ok)->setDefault(true);
  buttons->addButton(QDialogButtonBox::Cancel);
  QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
  return buttons;
}

}  // namespace qb
