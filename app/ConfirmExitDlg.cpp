#include "app/ConfirmExitDlg.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>

#include "views/Desktop.h"

namespace qb {

CConfirmExitDlg::CConfirmExitDlg(QWidget* parent) : QDialog(parent, kDialogWindowFlags) {
  setWindowTitle(QStringLiteral("Confirm Exit"));
  auto* layout = new QGridLayout(this);
  // A dialog keeps the size its controls need: nothing to resize or maximise.
  layout->setSizeConstraint(QLayout::SetFixedSize);
  auto* icon = new QLabel(this);
  const int size = style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, this);
  icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxQuestion, nullptr, this).pixmap(size));
  layout->addWidget(icon, 0, 0, 2, 1, Qt::AlignTop);
  layout->addWidget(new QLabel(QStringLiteral("Are you sure you want to exit the program?"), this),
                    0, 1);
  m_dontAsk = new QCheckBox(QStringLiteral("Don't ask me again"), this);
  layout->addWidget(m_dontAsk, 1, 1, Qt::AlignHCenter);
  auto* buttons = new QDialogButtonBox(Qt::Horizontal, this);
  m_yes = buttons->addButton(QStringLiteral("Yes"), QDialogButtonBox::YesRole);
  m_no = buttons->addButton(QStringLiteral("No"), QDialogButtonBox::NoRole);
  m_yes->setDefault(true);
  layout->addWidget(buttons, 2, 0, 1, 2);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

void CConfirmExitDlg::done(int result) {
  m_bDontAskAgain = m_dontAsk->isChecked() ? 1 : 0;
  QDialog::done(result);
}

}  // namespace qb
