#include "app/AccountPropertiesDlg.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSpinBox>

#include "app/AccountService.h"
#include "app/DialogButtons.h"
#include "app/SignInLine.h"
#include "views/Desktop.h"

namespace qb {

CAccountPropertiesDlg::CAccountPropertiesDlg(CAccountService& accounts, ObjectId account, QWidget* parent)
    : QDialog(parent, kDialogWindowFlags), m_accounts(accounts), m_account(account) {
  setWindowTitle(QStringLiteral("Account Properties"));
  const SyncAccountSettings* settings = accounts.Settings(account);
  const SyncAccountSettings shown = settings != nullptr ? *settings : SyncAccountSettings{};
  auto* layout = new QFormLayout(this);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  layout->addRow(QStringLiteral("Kind:"), new QLabel(ServiceTitle(shown.kind), this));
  auto* server = new QLabel(QString::fromStdString(shown.apiBase), this);
  server->setTextInteractionFlags(Qt::TextSelectableByMouse);
  layout->addRow(QStringLiteral("Server:"), server);
  layout->addRow(QStringLiteral("User:"), new QLabel(QString::fromStdString(shown.user), this));
  const std::u16string problem = accounts.Problem(account);
  auto* last = new QLabel(problem.empty() ? QStringLiteral("No failure in this session")
                                          : QStringLiteral("Failed: ") + QString::fromStdU16String(problem),
                          this);
  last->setWordWrap(true);
  last->setMaximumWidth(420);
  layout->addRow(QStringLiteral("Last sync:"), last);
  m_password = new QLineEdit(this);
  m_password->setEchoMode(QLineEdit::Password);
  m_password->setMinimumWidth(260);
  m_password->setPlaceholderText(QStringLiteral("unchanged"));
  layout->addRow(QStringLiteral("New &password:"), m_password);
  m_interval = new QSpinBox(this);
  m_interval->setRange(0, kMaxMinutes);
  m_interval->setSuffix(QStringLiteral(" minutes"));
  m_interval->setSpecialValueText(QStringLiteral("Every %1 minutes (the program's)").arg(kDefaultAccountRefreshMinutes));
  m_interval->setValue(shown.refreshMinutes);
  layout->addRow(QStringLiteral("&Sync every:"), m_interval);
  QDialogButtonBox* buttons = NewOkCancelBox(this);
  m_line = std::make_unique<CSignInLine>(
      *layout, *m_password, std::initializer_list<QWidget*>{m_password, m_interval, buttons->button(QDialogButtonBox::Ok)});
  layout->addRow(buttons);
}

CAccountPropertiesDlg::~CAccountPropertiesDlg() = default;

QString CAccountPropertiesDlg::StatusText() const { return m_line->Text(); }

void CAccountPropertiesDlg::Keep() {
  if (!m_accounts.SetRefreshMinutes(m_account, m_interval->value())) {
    m_line->Say(QStringLiteral("The account is gone."));
    return;
  }
  QDialog::accept();
}

void CAccountPropertiesDlg::accept() {
  if (m_line->Busy()) return;
  if (m_password->text().isEmpty()) return Keep();
  m_line->Begin();
  QPointer<CAccountPropertiesDlg> self(this);
  m_accounts.ChangePassword(m_account, m_password->text(), [self](bool kept, QString text) {
    if (!self || !self->m_line->End(kept, text)) return;
    self->m_outcome = text;
    self->Keep();
  });
}

void CAccountPropertiesDlg::reject() {
  if (m_line->Busy()) m_accounts.CancelPasswordCheck();
  QDialog::reject();
}

}  // namespace qb
