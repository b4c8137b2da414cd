#include "views/ArticleFilterBar.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>

namespace qb {

QString MatchCountText(int count) {
  if (count <= 0) return QStringLiteral("No articles");
  if (count == 1) return QStringLiteral("1 article");
  return QStringLiteral("%1 articles").arg(count);
}

CArticleFilterBar::CArticleFilterBar(QWidget* parent) : QWidget(parent) {
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 2, 0, 2);
  m_line = new QLineEdit(this);
  m_line->setPlaceholderText(QStringLiteral("Filter articles"));
  m_line->setClearButtonEnabled(true);
  m_line->setToolTip(QStringLiteral("Shows the articles whose title, channel or text have words "
                                    "beginning with every word typed"));
  m_unreadOnly = new QCheckBox(QStringLiteral("&Unread only"), this);
  m_allArticles = new QCheckBox(QStringLiteral("&All articles"), this);
  m_allArticles->setToolTip(QStringLiteral("Looks in every feed, whatever is selected"));
  m_count = new QLabel(this);
  m_count->setObjectName(QStringLiteral("matchCount"));
  layout->addWidget(m_line, 1);
  layout->addWidget(m_unreadOnly);
  layout->addWidget(m_allArticles);
  layout->addWidget(m_count);
  connect(m_line, &QLineEdit::textChanged, this, [this] { Notify(); });
  connect(m_line, &QLineEdit::returnPressed, this, &CArticleFilterBar::accepted);
  connect(m_unreadOnly, &QCheckBox::toggled, this, [this] { Notify(); });
  connect(m_allArticles, &QCheckBox::toggled, this, [this] { Notify(); });
  for (QWidget* w : {static_cast<QWidget*>(m_line), static_cast<QWidget*>(m_unreadOnly),
                     static_cast<QWidget*>(m_allArticles)})
    w->installEventFilter(this);
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
    // One notice for every change.
    const QSignalBlocker lineBlocker(m_line);
    const QSignalBlocker unreadBlocker(m_unreadOnly);
    const QSignalBlocker allBlocker(m_allArticles);
    m_line->clear();
    m_unreadOnly->setChecked(false);
    m_allArticles->setChecked(false);
  }
  hide();
  Notify();
  emit closed();
}

QString CArticleFilterBar::Text() const { return m_line->text(); }
bool CArticleFilterBar::UnreadOnly() const { return m_unreadOnly->isChecked(); }
bool CArticleFilterBar::AllArticles() const { return m_allArticles->isChecked(); }

bool CArticleFilterBar::AnythingSet() const {
  return !m_line->text().trimmed().isEmpty() || UnreadOnly() || AllArticles();
}

void CArticleFilterBar::SetCount(int count) {
  m_count->setText(AnythingSet() ? MatchCountText(count) : QString());
}

void CArticleFilterBar::Notify() {
  // A count left from the words before must not stand beside new ones
  // until the list answers.
  if (!AnythingSet()) m_count->clear();
  emit filterChanged(m_line->text(), UnreadOnly(), AllArticles());
}

bool CArticleFilterBar::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
    Close();
    return true;
  }
  return QWidget::eventFilter(watched, event);
}

}  // namespace qb
