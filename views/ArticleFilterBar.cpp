#include "views/ArticleFilterBar.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>

namespace qb {

CArticleFilterBar::CArticleFilterBar(QWidget* parent) : QWidget(parent) {
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 2, 0, 2);
  m_line = new QLineEdit(this);
  m_line->setPlaceholderText(QStringLiteral("Filter articles"));
  m_line->setClearButtonEnabled(true);
  m_line->setToolTip(QStringLiteral("Shows the articles whose title, channel or text contain every word typed"));
  m_unreadOnly = new QCheckBox(QStringLiteral("&Unread only"), this);
  layout->addWidget(m_line, 1);
  layout->addWidget(m_unreadOnly);
  connect(m_line, &QLineEdit::textChanged, this, [this] { Notify(); });
  connect(m_line, &QLineEdit::returnPressed, this, &CArticleFilterBar::accepted);
  connect(m_unreadOnly, &QCheckBox::toggled, this, [this] { Notify(); });
  m_line->installEventFilter(this);
  m_unreadOnly->installEventFilter(this);
  hide();
}

void CArticleFilterBar::Open() {
  if (!isVisible()) emit opened();
  show();
  m_line->setFocus(Qt::ShortcutFocusReason);
  m_line->selectAll();
}

void CArticleFilterBar::Close() {
  {
    // One notice for both changes.
    const QSignalBlocker lineBlocker(m_line);
    const QSignalBlocker boxBlocker(m_unreadOnly);
    m_line->clear();
    m_unreadOnly->setChecked(false);
  }
  hide();
  Notify();
  emit closed();
}

QString CArticleFilterBar::Text() const { return m_line->text(); }
bool CArticleFilterBar::UnreadOnly() const { return m_unreadOnly->isChecked(); }

void CArticleFilterBar::Notify() { emit filterChanged(m_line->text(), m_unreadOnly->isChecked()); }

bool CArticleFilterBar::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
    Close();
    return true;
  }
  return QWidget::eventFilter(watched, event);
}

}  // namespace qb
