#include "app/AddAccountDlg.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>

#include "app/AccountService.h"
#include "app/DialogButtons.h"
#include "views/Desktop.h"

namespace qb {

CAddAccountDlg::CAddAccountDlg(CAccountService& accounts, CFeedsManager& model, QWidget* parent)
    : QDialog(parent, kDialogWindowFlags), m_accounts(accounts), m_model(model) {
  setWindowTitle(QStringLiteral("Add Account"));
  auto* layout = new QFormLayout(this);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  m_kind = new QComboBox(this);
  m_kind->addItem(QStringLiteral("FreshRSS"), static_cast<int>(GReaderServerKind::kFreshRss));
  m_kind->addItem(QStringLiteral("Miniflux"), static_cast<int>(GReaderServerKind::kMiniflux));
  m_kind->addItem(QStringLiteral("Other (the Google Reader API's base URL)"), static_cast<int>(GReaderServerKind::kOther));
  layout->addRow(QStringLiteral("&Kind:"), m_kind);
  m_address = new QLineEdit(this);
  m_address->setMinimumWidth(320);
  m_address->setPlaceholderText(QStringLiteral("https://rss.example.org"));
  layout->addRow(QStringLiteral("&Server:"), m_address);
  m_user = new QLineEdit(this);
  layout->addRow(QStringLiteral("&User:"), m_user);
  m_password = new QLineEdit(this);
  m_password->setEchoMode(QLineEdit::Password);
  layout->addRow(QStringLiteral("&Password:"), m_password);
  m_status = new QLabel(this);
  m_status->setWordWrap(true);
  m_status->setMaximumWidth(420);
  layout->addRow(m_status);
  QDialogButtonBox* buttons = NewOkCancelBox(this);
  m_ok = buttons->button(QDialogButtonBox::Ok);
  layout->addRow(buttons);
}

QString CAddAccountDlg::StatusText() const { return m_status->text(); }

void CAddAccountDlg::SetBusy(bool busy) {
  m_busy = busy;
  for (QWidget* w : std::initializer_list<QWidget*>{m_kind, m_address, m_user, m_password, m_ok}) w->setEnabled(!busy);
}

void CAddAccountDlg::accept() {
  if (m_busy) return;
  if (m_address->text().trimmed().isEmpty() || m_user->text().trimmed().isEmpty() || m_password->text().isEmpty()) {
    m_status->setText(QStringLiteral("Please give the server's address, the user and the password."));
    return;
  }
  SetBusy(true);
  m_status->setText(QStringLiteral("Signing in\u2026"));
  const auto kind = static_cast<GReaderServerKind>(m_kind->currentData().toInt());
  QPointer<CAddAccountDlg> self(this);
  m_accounts.AddAccount(m_model, kind, m_address->text(), m_user->text(), m_password->text(),
                        [self](bool added, QString text) {
                          if (!self) return;
                          self->SetBusy(false);
                          self->m_status->setText(text);
                          if (!added) {
                            self->m_password->setFocus();
                            self->m_password->selectAll();
                            return;
                          }
                          self->m_outcome = text;
                          self->QDialog::accept();
                        });
}

void CAddAccountDlg::reject() {
  if (m_busy) m_accounts.CancelSignIn();
  QDialog::reject();
}

}  // namespace qb
