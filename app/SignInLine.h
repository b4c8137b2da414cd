// What the two account dialogs (Add account, Account Properties) share: the
// names of the kinds of service, and the line under the fields that tells
// how a sign-in goes, with the fields held while the server answers and
// the password selected for another try after a refusal.
#pragma once

#include <QString>
#include <initializer_list>
#include <vector>

#include "sync/GReaderProtocol.h"

class QFormLayout;
class QLabel;
class QLineEdit;
class QWidget;

namespace qb {

// The name a kind of service is shown by: "FreshRSS", "The Old Reader".
QString ServiceTitle(GReaderServerKind kind);

class CSignInLine {
 public:
  // Adds the line as the layout's next row; `held` are the fields and
  // buttons held during a sign-in, `password` among them.
  CSignInLine(QFormLayout& layout, QLineEdit& password, std::initializer_list<QWidget*> held);

  QString Text() const;
  void Say(const QString& text);
  bool Busy() const { return m_busy; }
  // "Signing in…", the fields held.
  void Begin();
  // The sign-in's answer shown and the fields given back; after a refusal
  // the password is selected for another try. Returns `ok`.
  bool End(bool ok, const QString& text);

 private:
  void Hold(bool busy);

  QLabel* m_label = nullptr;
  QLineEdit& m_password;
  std::vector<QWidget*> m_held;
  bool m_busy = false;
};

}  // namespace qb
