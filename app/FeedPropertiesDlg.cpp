#include "app/FeedPropertiesDlg.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpressionValidator>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

#include "app/DialogButtons.h"
#include "app/Hyperlink.h"
#include "views/Desktop.h"

namespace qb {

CFeedPropertiesDlg::CFeedPropertiesDlg(IDesktop& desktop, QWidget* parent)
    : QDialog(parent, kDialogWindowFlags), m_desktop(desktop) {
  setWindowTitle(QStringLiteral("Feed Properties"));
  auto* layout = new QGridLayout(this);
  // A dialog keeps the size its controls need: nothing to resize or maximise.
  layout->setSizeConstraint(QLayout::SetFixedSize);

  layout->addWidget(new QLabel(QStringLiteral("Feed URL: "), this), 0, 0, 1, 2);
  m_link = new CHyperlink(desktop, QString(), this);
  m_link->setMinimumWidth(480);
  layout->addWidget(m_link, 1, 0, 1, 2);

  layout->addWidget(new QLabel(QStringLiteral("Refresh rate: "), this), 2, 0);
  auto* rateRow = new QHBoxLayout;
  m_rateEdit = new QLineEdit(this);
  m_rateEdit->setValidator(
      new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), m_rateEdit));
  m_rateEdit->setMaximumWidth(60);
  m_rateEdit->installEventFilter(this);
  rateRow->addWidget(m_rateEdit);
  auto* arrows = new QVBoxLayout;
  arrows->setSpacing(0);
  m_up = new QToolButton(this);
  m_up->setArrowType(Qt::UpArrow);
  m_up->setAutoRepeat(true);
  m_down = new QToolButton(this);
  m_down->setArrowType(Qt::DownArrow);
  m_down->setAutoRepeat(true);
  for (QToolButton* b : {m_up, m_down}) {
    b->setFixedSize(16, 11);
    b->setFocusPolicy(Qt::NoFocus);
    arrows->addWidget(b);
  }
  connect(m_up, &QToolButton::clicked, this, [this] { StepRate(+1); });
  connect(m_down, &QToolButton::clicked, this, [this] { StepRate(-1); });
  rateRow->addLayout(arrows);
  rateRow->addWidget(new QLabel(QStringLiteral("mins"), this));
  rateRow->addStretch(1);
  layout->addLayout(rateRow, 2, 1);

  layout->addWidget(new QLabel(QStringLiteral("Last update: "), this), 3, 0);
  m_lastUpdate = new QLabel(this);
  layout->addWidget(m_lastUpdate, 3, 1);

  layout->addWidget(NewOkCancelBox(this), 4, 0, 1, 2);
  layout->setColumnStretch(1, 1);
}

void CFeedPropertiesDlg::InitDialog() {
  m_initialised = true;
  m_rateEdit->setText(QString::number(m_nRefreshRate));
  m_position = std::clamp(m_nRefreshRate, kMinRate, kMaxRate);
  m_lastUpdate->setText(m_strLastUpdate);
  setWindowTitle(QStringLiteral("Feed Properties for '") + m_strName + u'\'');
  m_link->setText(m_strUrl);
  m_link->SetLinkTarget(m_strUrl);
  m_link->SetHAlign(CHyperlink::HAlign::Left);
  m_link->SetHoverStyle(0);
  m_rateEdit->setFocus();
}

void CFeedPropertiesDlg::showEvent(QShowEvent* event) {
  if (!m_initialised) InitDialog();
  QDialog::showEvent(event);
}

void CFeedPropertiesDlg::StepRate(int delta) {
  bool ok = false;
  const int shown = m_rateEdit->text().toInt(&ok);
  const int from = ok ? std::clamp(shown, kMinRate, kMaxRate) : m_position;
  m_position = std::clamp(from + delta, kMinRate, kMaxRate);
  m_rateEdit->setText(QString::number(m_position));
}

bool CFeedPropertiesDlg::eventFilter(QObject* watched, QEvent* event) {
  if (watched == m_rateEdit && event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Up || key == Qt::Key_Down) {
      StepRate(key == Qt::Key_Up ? +1 : -1);
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

void CFeedPropertiesDlg::accept() {
  bool ok = false;
  const int rate = m_rateEdit->text().trimmed().toInt(&ok);
  QString problem;
  if (!ok) {
    problem = QStringLiteral("Please enter an integer.");
  } else if (rate < kMinRate || rate > kMaxRate) {
    problem = QStringLiteral("Please enter an integer between %1 and %2.").arg(kMinRate).arg(kMaxRate);
  }
  if (!problem.isEmpty()) {
    m_desktop.ShowMessage(this, MsgIcon::Warning, problem);
    m_rateEdit->setFocus();
    m_rateEdit->selectAll();
    return;
  }
  m_nRefreshRate = rate;
  QDialog::accept();
}

}  // namespace qb
