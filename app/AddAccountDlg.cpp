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
#include "app/SignInLine.h"
#include "views/Desktop.h"

namespace qb {

CAddAccountDlg::CAddAccountDlg(CAccountService& accounts, CFeedsManager& model, QWidget* parent)
    : QDialog(parent, kDialogWindowFlags), m_accounts(accounts), m_model(model) {
  setWindowTitle(QStringLiteral("Add Account"));
  auto* layout = new QFormLayout(this);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  m_kind = new QComboBox(this);
  for (GReaderServerKind kind : {GReaderServerKind::kFreshRss, GReaderServerKind::kMiniflux,
                                  GReaderServerKind::kTheOldReader, GReaderServerKind::kBazQux}) {
    m_kind->addItem(ServiceTitle(kind), static_cast<int>(kind));
  }
  m_kind->addItem(QStringLiteral("Other (the Google Reader API's base URL)"), static_cast<int>(GReaderServerKind::kOther));
  layout->addRow(QStringLiteral("&Kind:"), m_kind);
  m_address = new QLineEdit(this);
  m_address->setMinimumWidth(320);
  layout->addRow(QStringLiteral("&Server:"), m_address);
  // A hosted service has one address, shown and not asked for.
  const auto kindChanged = [this] {
    const auto kind = static_cast<GReaderServerKind>(m_kind->currentData().toInt());
    const bool hosted = Hosted(kind);
    if (hosted) m_address->setText(QString::fromStdString(GReaderApiBase(kind, {}).url));
    if (!hosted && m_hostedShown) m_address->clear();
    m_hostedShown = hosted;
    m_address->setReadOnly(hosted);
    m_address->setPlaceholderText(kind == GReaderServerKind::kOther
                                      ? QStringLiteral("https://rss.example.org/api/greader.php")
                                      : QStringLiteral("https://rss.example.org"));
  };
  connect(m_kind, &QComboBox::currentIndexChanged, this, kindChanged);
  kindChanged();
  m_user = new QLineEdit(this);
  layout->addRow(QStringLiteral("&User:"), m_user);
  m_password = new QLineEdit(this);
  m_password->setEchoMode(QLineEdit::Password);
  layout->addRow(QStringLiteral("&Password:"), m_password);
  QDialogButtonBox* buttons = NewOkCancelBox(this);
  m_line = std::make_unique<CSignInLine>(*layout, *m_password,
                                         std::initializer_list<QWidget*>{m_kind, m_address, m_user, m_password,
                                                                         buttons->button(QDialogButtonBox::Ok)});
  layout->addRow(buttons);
}

CAddAccountDlg::~CAddAccountDlg() = default;

QString CAddAccountDlg::StatusText() const { return m_line->Text(); }

bool CAddAccountDlg::Hosted(GReaderServerKind kind) {
  return kind == GReaderServerKind::kTheOldReader || kind == GReaderServerKind::kBazQux;
}

void CAddAccountDlg::accept() {
  if (m_line->Busy()) return;
  const auto kind = static_cast<GReaderServerKind>(m_kind->currentData().toInt());
  if (m_address->text().trimmed().isEmpty() || m_user->text().trimmed().isEmpty() || m_password->text().isEmpty()) {
    m_line->Say(QStringLiteral("Please give the server's address, the user and the password."));
    return;
  }
  m_line->Begin();
  QPointer<CAddAccountDlg> self(this);
  m_accounts.AddAccount(m_model, kind, m_address->text(), m_user->text(), m_password->text(),
                        [self](bool added, QString text) {
                          if (!self || !self->m_line->End(added, text)) return;
                          self->m_outcome = text;
                          self->QDialog::accept();
                        });
}

void CAddAccountDlg::reject() {
  if (m_line->Busy()) m_accounts.CancelSignIn();
  QDialog::reject();
}

}  // namespace qb
