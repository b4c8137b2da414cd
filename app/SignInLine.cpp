#include "app/SignInLine.h"

#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>

namespace qb {

QString ServiceTitle(GReaderServerKind kind) {
  switch (kind) {
    case GReaderServerKind::kFreshRss: return QStringLiteral("FreshRSS");
    case GReaderServerKind::kMiniflux: return QStringLiteral("Miniflux");
    case GReaderServerKind::kTheOldReader: return QStringLiteral("The Old Reader");
    case GReaderServerKind::kBazQux: return QStringLiteral("BazQux Reader");
    case GReaderServerKind::kOther: break;
  }
  return QStringLiteral("Google Reader API");
}

CSignInLine::CSignInLine(QFormLayout& layout, QLineEdit& password, std::initializer_list<QWidget*> held)
    : m_password(password), m_held(held) {
  m_label = new QLabel(layout.parentWidget());
  m_label->setWordWrap(true);
  m_label->setMaximumWidth(420);
  layout.addRow(m_label);
}

QString CSignInLine::Text() const { return m_label->text(); }

void CSignInLine::Say(const QString& text) { m_label->setText(text); }

void CSignInLine::Hold(bool busy) {
  m_busy = busy;
  for (QWidget* w : m_held) w->setEnabled(!busy);
}

void CSignInLine::Begin() {
  Hold(true);
  Say(QStringLiteral("Signing in\u2026"));
}

bool CSignInLine::End(bool ok, const QString& text) {
  Hold(false);
  Say(text);
  if (!ok) {
    m_password.setFocus();
    m_password.selectAll();
  }
  return ok;
}

}  // namespace qb
