// File > "Add account...": the kind of service, the server's address, the
// user and the password. OK signs in at once, with the fields held while
// the server answers; a refusal shows the server's reason in the dialog,
// which stays open; a good sign-in adds the account and closes it. The
// hosted services (The Old Reader, BazQux Reader) show their one address.
#pragma once

#include <QDialog>

#include "sync/GReaderProtocol.h"

#include <memory>

class QComboBox;
class QLineEdit;

namespace qb {

class CSignInLine;

class CAccountService;
class CFeedsManager;

class CAddAccountDlg : public QDialog {
  Q_OBJECT
 public:
  CAddAccountDlg(CAccountService& accounts, CFeedsManager& model, QWidget* parent = nullptr);
  ~CAddAccountDlg() override;

  QComboBox* KindBox() const { return m_kind; }
  QLineEdit* AddressEdit() const { return m_address; }
  QLineEdit* UserEdit() const { return m_user; }
  QLineEdit* PasswordEdit() const { return m_password; }
  QString StatusText() const;
  // What the sign-in said ("Signed in as alice"), once accepted.
  QString Outcome() const { return m_outcome; }

  void accept() override;
  void reject() override;

 private:
  static bool Hosted(GReaderServerKind kind);

  CAccountService& m_accounts;
  CFeedsManager& m_model;
  QComboBox* m_kind = nullptr;
  QLineEdit* m_address = nullptr;
  QLineEdit* m_user = nullptr;
  QLineEdit* m_password = nullptr;
  std::unique_ptr<CSignInLine> m_line;
  QString m_outcome;
  bool m_hostedShown = false;  // the address field holds a hosted one
};

}  // namespace qb
