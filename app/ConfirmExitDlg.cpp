#include "app/ConfirmExitDlg.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>

namespace qb {

CConfirmExitDlg::CConfirmExitDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Confirm Exit"));
  auto* layout = new QGridLayout(this);
  auto* icon = new QLabel(this);
  const int size = style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, this);
  icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxQuestion, nullptr, this).pixmap(size));
  layout->addWidget(icon, 0, 0, 2, 1, Qt::AlignTop);
  layout->addWidget(new QLabel(QStringLiteral("Are you sure you want to exit the program?"), this),
                    0, 1);
  m_dontAsk = new QCheckBox(QStringLiteral("Don't ask me again"), this);
  layout->addWidget(m_dontAsk, 1, 1, Qt::AlignHCenter);
  auto* row = new QHBoxLayout;
  m_yes = new QPushButton(QStringLiteral("Yes"), this);
  m_no = new QPushButton(QStringLiteral("No"), this);
  m_yes->setDefault(true);
  row->addStretch(1);
  row->addWidget(m_yes);
  row->addWidget(m_no);
  row->addStretch(1);
  layout->addLayout(row, 2, 0, 1, 2);
  connect(m_yes, &QPushButton::clicked, this, &QDialog::accept);
  connect(m_no, &QPushButton::clicked, this, &QDialog::reject);
}

void CConfirmExitDlg::done(int result) {
  m_bDontAskAgain = m_dontAsk->isChecked() ? 1 : 0;
  QDialog::done(result);
}

}  // namespace qb
