#include "app/FeedPropertiesDlg.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QSpinBox>
#include <QToolButton>
#include <QDateTime>
#include <QLocale>
#include <QVBoxLayout>
#include <algorithm>

#include "app/DialogButtons.h"
#include "app/Hyperlink.h"
#include "base/WebAddress.h"
#include "model/FeedsManager.h"
#include "views/DateText.h"
#include "views/Desktop.h"
#include "views/IMainFrame.h"
#include "views/ViewText.h"

namespace qb {

namespace {

QString LocalTimeText(int64_t secondsSince1970) {
  return FormatDisplayDateTime(QDateTime::fromSecsSinceEpoch(secondsSince1970).toLocalTime());
}

}  // namespace

QString LastUpdatedText(const SourceUpdateState& state) {
  if (state.lastSuccess == 0) return QStringLiteral("Not since the program started");
  return LocalTimeText(state.lastSuccess);
}

QString LastErrorText(const SourceUpdateState& state) {
  if (state.failure.empty()) return QStringLiteral("None");
  QString text = ToQString(state.failure);
  if (state.lastAttempt != 0) text += QStringLiteral(" (%1)").arg(LocalTimeText(state.lastAttempt));
  return text;
}

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
  // The link opens the address; the edit below changes it.
  m_urlEdit = new QLineEdit(this);
  m_urlEdit->setPlaceholderText(QStringLiteral("The address of the feed"));
  layout->addWidget(m_urlEdit, 2, 0, 1, 2);

  layout->addWidget(new QLabel(QStringLiteral("Refresh rate: "), this), 3, 0);
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
  layout->addLayout(rateRow, 3, 1);

  layout->addWidget(new QLabel(QStringLiteral("Last update: "), this), 4, 0);
  m_lastUpdate = new QLabel(this);
  layout->addWidget(m_lastUpdate, 4, 1);
  layout->addWidget(new QLabel(QStringLiteral("Last updated: "), this), 5, 0);
  m_lastUpdated = new QLabel(this);
  layout->addWidget(m_lastUpdated, 5, 1);
  layout->addWidget(new QLabel(QStringLiteral("Last error: "), this), 6, 0);
  m_lastError = new QLabel(this);
  m_lastError->setWordWrap(true);
  m_lastError->setTextInteractionFlags(Qt::TextSelectableByMouse);
  layout->addWidget(m_lastError, 6, 1);

  layout->addWidget(new QLabel(QStringLiteral("Read articles: "), this), 7, 0, Qt::AlignTop);
  auto* retention = new QVBoxLayout;
  m_retentionGlobal = new QRadioButton(QStringLiteral("Kept as set in &Options"), this);
  m_retentionNever = new QRadioButton(QStringLiteral("&Never deleted"), this);
  auto* ownRow = new QHBoxLayout;
  m_retentionOwn = new QRadioButton(QStringLiteral("&Delete read articles older than"), this);
  m_retentionDays = new QSpinBox(this);
  m_retentionDays->setRange(1, kMaxRetentionDays);
  m_retentionDays->setValue(30);
  m_retentionDays->setAccessibleName(QStringLiteral("Days"));
  ownRow->addWidget(m_retentionOwn);
  ownRow->addWidget(m_retentionDays);
  ownRow->addWidget(new QLabel(QStringLiteral("days"), this));
  ownRow->addStretch(1);
  retention->addWidget(m_retentionGlobal);
  retention->addWidget(m_retentionNever);
  retention->addLayout(ownRow);
  layout->addLayout(retention, 7, 1);
  connect(m_retentionOwn, &QRadioButton::toggled, m_retentionDays, &QWidget::setEnabled);

  layout->addWidget(new QLabel(QStringLiteral("Reading: "), this), 8, 0);
  m_fullArticle = new QCheckBox(QStringLiteral("Show the full article"), this);
  m_fullArticle->setToolTip(QStringLiteral("Open this feed's articles in the reader view: the whole article "
                                           "from its web page instead of the feed's text"));
  layout->addWidget(m_fullArticle, 8, 1);

  layout->addWidget(NewOkCancelBox(this), 9, 0, 1, 2);
  layout->setColumnStretch(1, 1);
}

void CFeedPropertiesDlg::InitDialog() {
  m_initialised = true;
  m_rateEdit->setText(QString::number(m_nRefreshRate));
  m_position = std::clamp(m_nRefreshRate, kMinRate, kMaxRate);
  m_lastUpdate->setText(m_strLastUpdate);
  m_lastUpdated->setText(m_strLastUpdated);
  m_lastError->setText(m_strLastError);
  m_urlEdit->setText(m_strUrl);
  (m_nRetentionDays > 0 ? m_retentionOwn : m_nRetentionDays < 0 ? m_retentionNever : m_retentionGlobal)
      ->setChecked(true);
  if (m_nRetentionDays > 0) m_retentionDays->setValue(std::min(m_nRetentionDays, kMaxRetentionDays));
  m_retentionDays->setEnabled(m_nRetentionDays > 0);
  m_fullArticle->setChecked(m_bFullArticle);
  setWindowTitle(QStringLiteral("Feed Properties for '") + m_strName + u'\'');
  m_link->setText(m_strUrl);
  m_link->SetLinkTarget(m_strUrl);
  m_link->SetHAlign(CHyperlink::HAlign::Left);
  m_link->SetHoverStyle(0);
  m_rateEdit->setFocus();
  if (m_bServerFeed) {
    m_urlEdit->setReadOnly(true);
    for (QWidget* w : std::initializer_list<QWidget*>{m_rateEdit, m_up, m_down, m_retentionGlobal, m_retentionNever,
                                                      m_retentionOwn, m_retentionDays}) {
      w->setEnabled(false);
    }
    m_fullArticle->setFocus();
  }
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
  if (!AcceptRate() || !AcceptUrl()) return;
  m_retentionDays->interpretText();
  m_nRetentionDays = m_retentionOwn->isChecked() ? m_retentionDays->value() : m_retentionNever->isChecked() ? -1 : 0;
  m_bFullArticle = m_fullArticle->isChecked();
  QDialog::accept();
}

bool CFeedPropertiesDlg::AcceptRate() {
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
    return false;
  }
  m_nRefreshRate = rate;
  return true;
}

bool CFeedPropertiesDlg::AcceptUrl() {
  const std::u16string typed = CFeedsManager::CleanUrl(ViewOf(m_urlEdit->text()));
  if (typed == ViewOf(m_strUrl)) return true;
  auto refuse = [this](MsgIcon icon, const QString& message) {
    m_desktop.ShowMessage(this, icon, message);
    m_urlEdit->setFocus();
    m_urlEdit->selectAll();
    return false;
  };
  const CheckedAddress checked = CheckFeedAddress(typed);
  if (!checked.ok()) return refuse(MsgIcon::Warning, ToQString(AddressProblemText(checked.problem)));
  // The first candidate is the address as typed, or with https when the
  // scheme was left out.
  const std::u16string& url = checked.candidates.front();
  if (url != ViewOf(m_strUrl) && m_model != nullptr && m_model->HasSourceWithUrl(url)) {
    return refuse(MsgIcon::Information, ToQString(kDuplicateSourceMessage));
  }
  m_strUrl = ToQString(url);
  return true;
}

}  // namespace qb
