#include "app/AddNewFeedDlg.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/Modal.h"

namespace qb {

namespace {
const QString kTitle = QStringLiteral("Add New Feed");
}

CAddNewFeedDlg::CAddNewFeedDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(kTitle);
  auto* layout = new QGridLayout(this);
  layout->addWidget(new QLabel(QStringLiteral("URL of the new feed: "), this), 0, 0);
  m_urlEdit = new QLineEdit(this);
  m_urlEdit->setMinimumWidth(480);
  layout->addWidget(m_urlEdit, 1, 0);
  auto* buttons = new QDialogButtonBox(Qt::Vertical, this);
  QPushButton* ok = buttons->addButton(QDialogButtonBox::Ok);
  buttons->addButton(QDialogButtonBox::Cancel);
  ok->setDefault(true);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons, 0, 1, 3, 1, Qt::AlignTop);
  layout->setRowStretch(2, 1);
}

void CAddNewFeedDlg::InitDialog() {
  m_initialised = true;
  m_urlEdit->setText(m_strUrl);
  setWindowTitle(m_strGroupName.isEmpty() ? kTitle
                                          : kTitle + QStringLiteral(" to '") + m_strGroupName + u'\'');
  m_urlEdit->setFocus();
}

void CAddNewFeedDlg::showEvent(QShowEvent* event) {
  if (!m_initialised) InitDialog();
  QDialog::showEvent(event);
}

void CAddNewFeedDlg::accept() {
  m_strUrl = m_urlEdit->text();
  if (m_strUrl.isEmpty()) return;
  if (m_existingUrls.contains(m_strUrl, Qt::CaseSensitive)) {
    ShowMessageBox(this, MsgIcon::Information,
                   QStringLiteral("A feed with that URL already exists. Choose another URL."));
    m_urlEdit->setFocus();
    return;
  }
  QDialog::accept();
}

}  // namespace qb
