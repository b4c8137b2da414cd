#include "app/SaveStatus.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLocale>
#include <QPushButton>
#include <QStatusBar>
#include <QStyle>
#include <QVBoxLayout>

namespace qb {

QString NotSavingText(const SaveState& state) {
  return QStringLiteral("Changes are not being saved: %1").arg(state.reason);
}

CSaveStatus::CSaveStatus(QStatusBar& bar, IDataFileIo& store, std::function<void(const QString&)> say)
    : m_box(new QWidget(&bar)), m_mark(new QLabel(m_box)), m_say(std::move(say)) {
  auto* icon = new QLabel(m_box);
  const int size = m_mark->fontMetrics().height();
  icon->setPixmap(QApplication::style()->standardIcon(QStyle::SP_MessageBoxWarning).pixmap(size, size));
  auto* layout = new QHBoxLayout(m_box);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(icon);
  layout->addWidget(m_mark);
  m_mark->setObjectName(QStringLiteral("saveFailureMark"));
  m_box->setVisible(false);
  bar.addPermanentWidget(m_box);
  store.SetSaveStateListener([this](const SaveState& state) { Show(state); });
}

void CSaveStatus::Show(const SaveState& state) {
  if (state.failing) {
    const QString text = NotSavingText(state);
    m_mark->setText(text);
    m_box->setToolTip(text + QStringLiteral(". Quillbend keeps trying; nothing is lost while it runs."));
    m_box->setVisible(true);
    if (m_say) m_say(text);
  } else {
    m_box->setVisible(false);
    if (m_failing && m_say) m_say(QStringLiteral("Changes are being saved again."));
  }
  m_failing = state.failing;
}

CUnsavedChangesDlg::CUnsavedChangesDlg(IDataFileIo& store, std::function<bool()> exportData, QWidget* parent)
    : QDialog(parent), m_store(store), m_text(new QLabel(this)) {
  setWindowTitle(QStringLiteral("Quillbend"));
  m_text->setWordWrap(true);
  m_text->setTextInteractionFlags(Qt::TextSelectableByMouse);
  auto* icon = new QLabel(this);
  icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxWarning).pixmap(32, 32));
  auto* row = new QHBoxLayout;
  row->addWidget(icon, 0, Qt::AlignTop);
  row->addWidget(m_text, 1);
  auto* buttons = new QDialogButtonBox(this);
  m_export = buttons->addButton(QStringLiteral("&Export data file\u2026"), QDialogButtonBox::ActionRole);
  m_quit = buttons->addButton(QStringLiteral("&Quit without saving"), QDialogButtonBox::DestructiveRole);
  QPushButton* back = buttons->addButton(QDialogButtonBox::Cancel);
  back->setDefault(true);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(row);
  layout->addWidget(buttons);
  connect(m_export, &QPushButton::clicked, this, [this, exportData] {
    if (exportData && exportData()) done(Exported);
  });
  connect(m_quit, &QPushButton::clicked, this, [this] { done(Quit); });
  connect(back, &QPushButton::clicked, this, &QDialog::reject);
  m_retry.setInterval(500);
  connect(&m_retry, &QTimer::timeout, this, [this] {
    m_store.FlushSoon();
    Refresh();
  });
  m_retry.start();
  Refresh();
}

void CUnsavedChangesDlg::Refresh() {
  const SaveState state = m_store.CurrentSaveState();
  if (state.unsaved == 0 && !state.failing) {
    m_retry.stop();
    done(Saved);
    return;
  }
  const QString count = QLocale().toString(static_cast<qulonglong>(state.unsaved));
  const QString what = state.unsaved == 1 ? QStringLiteral("1 change is") : count + QStringLiteral(" changes are");
  if (state.failing) {
    m_text->setText(QStringLiteral("%1 not saved: %2.\n\nQuillbend quits as soon as they are saved. You can also "
                                   "export everything to a data file elsewhere, or quit without them.")
                        .arg(what, state.reason));
  } else {
    m_text->setText(QStringLiteral("%1 being saved\u2026").arg(what));
  }
}

}  // namespace qb
