// File > "Add account...": the kind of service, the server's address, the
// user and the password. OK signs in at once, with the fields held while
// the server answers; a refusal shows the server's reason in the dialog,
// which stays open; a good sign-in adds the account and closes it.
#pragma once

#include <QDialog>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace qb {

class CAccountService;
class CFeedsManager;

class CAddAccountDlg : public QDialog {
  Q_OBJECT
 public:
  CAddAccountDlg(CAccountService& accounts, CFeedsManager& model, QWidget* parent = nullptr);

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
  void SetBusy(bool busy);

  CAccountService& m_accounts;
  CFeedsManager& m_model;
  QComboBox* m_kind = nullptr;
  QLineEdit* m_address = nullptr;
  QLineEdit* m_user = nullptr;
  QLineEdit* m_password = nullptr;
  QLabel* m_status = nullptr;
  QPushButton* m_ok = nullptr;
  QString m_outcome;
  bool m_busy = false;
};

}  // namespace qb
