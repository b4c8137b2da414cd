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
#include "views/Desktop.h"

namespace qb {

namespace {

QString KindText(GReaderServerKind kind) {
  switch (kind) {
    case GReaderServerKind::kFreshRss: return QStringLiteral("FreshRSS");
    case GReaderServerKind::kMiniflux: return QStringLiteral("Miniflux");
    default: return QStringLiteral("Google Reader API");
  }
}

}  // namespace

CAccountPropertiesDlg::CAccountPropertiesDlg(CAccountService& accounts, ObjectId account, QWidget* parent)
    : QDialog(parent, kDialogWindowFlags), m_accounts(accounts), m_account(account) {
  setWindowTitle(QStringLiteral("Account Properties"));
  const SyncAccountSettings* settings = accounts.Settings(account);
  const SyncAccountSettings shown = settings != nullptr ? *settings : SyncAccountSettings{};
  auto* layout = new QFormLayout(this);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  layout->addRow(QStringLiteral("Kind:"), new QLabel(KindText(shown.kind), this));
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
  m_status = new QLabel(this);
  m_status->setWordWrap(true);
  m_status->setMaximumWidth(420);
  layout->addRow(m_status);
  QDialogButtonBox* buttons = NewOkCancelBox(this);
  m_ok = buttons->button(QDialogButtonBox::Ok);
  layout->addRow(buttons);
}

QString CAccountPropertiesDlg::StatusText() const { return m_status->text(); }

void CAccountPropertiesDlg::SetBusy(bool busy) {
  m_busy = busy;
  for (QWidget* w : std::initializer_list<QWidget*>{m_password, m_interval, m_ok}) w->setEnabled(!busy);
}

void CAccountPropertiesDlg::Keep() {
  if (!m_accounts.SetRefreshMinutes(m_account, m_interval->value())) {
    m_status->setText(QStringLiteral("The account is gone."));
    return;
  }
  QDialog::accept();
}

void CAccountPropertiesDlg::accept() {
  if (m_busy) return;
  if (m_password->text().isEmpty()) return Keep();
  SetBusy(true);
  m_status->setText(QStringLiteral("Signing in\u2026"));
  QPointer<CAccountPropertiesDlg> self(this);
  m_accounts.ChangePassword(m_account, m_password->text(), [self](bool kept, QString text) {
    if (!self) return;
    self->SetBusy(false);
    self->m_status->setText(text);
    if (!kept) {
      self->m_password->setFocus();
      self->m_password->selectAll();
      return;
    }
    self->m_outcome = text;
    self->Keep();
  });
}

void CAccountPropertiesDlg::reject() {
  if (m_busy) m_accounts.CancelPasswordCheck();
  QDialog::reject();
}

}  // namespace qb
