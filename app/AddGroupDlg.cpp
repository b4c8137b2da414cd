#include "app/AddGroupDlg.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>

#include "app/DialogButtons.h"
#include "views/Desktop.h"

namespace qb {

CAddGroupDlg::CAddGroupDlg(IDesktop& desktop, QWidget* parent)
    : QDialog(parent, kDialogWindowFlags), m_desktop(desktop) {
  setWindowTitle(QStringLiteral("Add New Group"));
  auto* layout = new QGridLayout(this);
  // A dialog keeps the size its controls need: nothing to resize or maximise.
  layout->setSizeConstraint(QLayout::SetFixedSize);
  layout->addWidget(new QLabel(QStringLiteral("Name of the new group: "), this), 0, 0);
  m_nameEdit = new QLineEdit(this);
  m_nameEdit->setMinimumWidth(240);
  layout->addWidget(m_nameEdit, 1, 0);
  layout->addWidget(NewOkCancelBox(this), 2, 0);
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
  if (m_nameEdit->text().trimmed().isEmpty()) {
    m_desktop.ShowMessage(this, MsgIcon::Warning, QString::fromLatin1(kEmptyGroupNameText));
    m_nameEdit->setFocus();
    return;
  }
  m_strName = m_nameEdit->text();
  QDialog::accept();
}

}  // namespace qb
