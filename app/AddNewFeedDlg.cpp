#include "app/AddNewFeedDlg.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>

#include "app/DialogButtons.h"
#include "model/FeedsManager.h"
#include "views/Desktop.h"
#include "views/ViewText.h"

namespace qb {

namespace {
const QString kTitle = QStringLiteral("Add New Feed");
}

CAddNewFeedDlg::CAddNewFeedDlg(IDesktop& desktop, const CFeedsManager& model, ObjectId group,
                               QWidget* parent)
    : QDialog(parent, kDialogWindowFlags), m_desktop(desktop), m_model(model), m_group(group) {
  setWindowTitle(kTitle);
  auto* layout = new QGridLayout(this);
  // A dialog keeps the size its controls need: nothing to resize or maximise.
  layout->setSizeConstraint(QLayout::SetFixedSize);
  layout->addWidget(new QLabel(QStringLiteral("URL of the new feed: "), this), 0, 0);
  m_urlEdit = new QLineEdit(this);
  m_urlEdit->setMinimumWidth(480);
  layout->addWidget(m_urlEdit, 1, 0);
  layout->addWidget(NewOkCancelBox(this), 2, 0);
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
  switch (m_model.CheckNewSourceUrl(m_group, ViewOf(m_strUrl))) {
    case CFeedsManager::AddSourceStatus::EmptyUrl:
      return;
    case CFeedsManager::AddSourceStatus::Duplicate:
      m_desktop.ShowMessage(this, MsgIcon::Information, ToQString(kDuplicateSourceMessage));
      m_urlEdit->setFocus();
      return;
    case CFeedsManager::AddSourceStatus::Added:
    case CFeedsManager::AddSourceStatus::NotAGroup:
      break;
  }
  QDialog::accept();
}

}  // namespace qb
