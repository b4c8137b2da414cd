// An account's properties: its kind, server and user as they were added,
// how its last sync went, and what may change: the password (OK signs in
// with it first, with the fields held while the server answers; a refusal
// shows the server's reason and keeps the password that was kept) and how
// often it syncs.
#pragma once

#include <QDialog>

#include "model/RSSObject.h"

#include <memory>

class QLineEdit;
class QSpinBox;

namespace qb {

class CSignInLine;

class CAccountService;

class CAccountPropertiesDlg : public QDialog {
  Q_OBJECT
 public:
  // 0 minutes is the program's interval.
  static constexpr int kMaxMinutes = 24 * 60;

  CAccountPropertiesDlg(CAccountService& accounts, ObjectId account, QWidget* parent = nullptr);
  ~CAccountPropertiesDlg() override;

  QLineEdit* PasswordEdit() const { return m_password; }
  QSpinBox* IntervalBox() const { return m_interval; }
  QString StatusText() const;
  // What the sign-in with a new password said, once accepted; empty when
  // the password stayed.
  QString Outcome() const { return m_outcome; }

  void accept() override;
  void reject() override;

 private:
  void Keep();

  CAccountService& m_accounts;
  ObjectId m_account;
  QLineEdit* m_password = nullptr;
  QSpinBox* m_interval = nullptr;
  std::unique_ptr<CSignInLine> m_line;
  QString m_outcome;
};

}  // namespace qb
