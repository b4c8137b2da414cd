#include "app/AddGroupDlg.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace qb {

CAddGroupDlg::CAddGroupDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Add New Group"));
  auto* layout = new QGridLayout(this);
  layout->addWidget(new QLabel(QStringLiteral("Name of the new group: "), this), 0, 0);
  m_nameEdit = new QLineEdit(this);
  m_nameEdit->setMinimumWidth(240);
  layout->addWidget(m_nameEdit, 1, 0);
  auto* buttons = new QDialogButtonBox(Qt::Vertical, this);
  buttons->addButton(QDialogButtonBox::Ok)->setDefault(true);
  buttons->addButton(QDialogButtonBox::Cancel);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons, 0, 1, 3, 1, Qt::AlignTop);
  layout->setRowStretch(2, 1);
}

void CAddGroupDlg::InitDialog() {
  m_initialised = true;
  m_nameEdit->setText(m_strName);
  m_nameEdit->setFocus();
}

void CAddGroupDlg::showEvent(QShowEvent* event) {
  if (!m_initialised) InitDialog();
  QDialog::showEvent(event);
}

void CAddGroupDlg::accept() {
  m_strName = m_nameEdit->text();
  QDialog::accept();
}

}  // namespace qb
