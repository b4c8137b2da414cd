#include "app/OptionsDlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <algorithm>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QSpinBox>
#include <QVBoxLayout>

#include "app/DialogButtons.h"
#include "app/SettingsManager.h"
#include "views/Desktop.h"

namespace qb {

COptionsDlg::COptionsDlg(CRSSReaderSettingsManager& settings, QWidget* parent)
    : QDialog(parent, kDialogWindowFlags), m_settingsManager(settings) {
  setWindowTitle(QStringLiteral("Options"));
  auto* layout = new QGridLayout(this);
  // A dialog keeps the size its controls need: nothing to resize or maximise.
  layout->setSizeConstraint(QLayout::SetFixedSize);

  auto* window = new QGroupBox(QStringLiteral("Main Window"), this);
  auto* windowLayout = new QVBoxLayout(window);
  m_minimize = new QCheckBox(QStringLiteral("Minimize to system tray"), window);
  m_close = new QCheckBox(QStringLiteral("Close to system tray"), window);
  windowLayout->addWidget(m_minimize);
  windowLayout->addWidget(m_close);
  layout->addWidget(window, 0, 0);

  auto* program = new QGroupBox(QStringLiteral("Program"), this);
  auto* programLayout = new QVBoxLayout(program);
  m_confirm = new QCheckBox(QStringLiteral("Confirm exit"), program);
  programLayout->addWidget(m_confirm);
  m_notify = new QCheckBox(QStringLiteral("Notify me of new articles"), program);
  programLayout->addWidget(m_notify);
  auto* appearanceRow = new QHBoxLayout;
  m_appearance = new QComboBox(program);
  m_appearance->addItem(QStringLiteral("System"), static_cast<int>(Appearance::System));
  m_appearance->addItem(QStringLiteral("Light"), static_cast<int>(Appearance::Light));
  m_appearance->addItem(QStringLiteral("Dark"), static_cast<int>(Appearance::Dark));
  auto* appearanceLabel = new QLabel(QStringLiteral("&Appearance:"), program);
  appearanceLabel->setBuddy(m_appearance);
  appearanceRow->addWidget(appearanceLabel);
  appearanceRow->addWidget(m_appearance);
  appearanceRow->addStretch(1);
  programLayout->addLayout(appearanceRow);
  layout->addWidget(program, 1, 0);

  auto* articles = new QGroupBox(QStringLiteral("Articles"), this);
  auto* articlesLayout = new QHBoxLayout(articles);
  m_retention = new QCheckBox(QStringLiteral("&Delete read articles older than"), articles);
  m_retentionDays = new QSpinBox(articles);
  m_retentionDays->setRange(1, kMaxRetentionDays);
  m_retentionDays->setValue(kDefaultRetentionDays);
  m_retentionDays->setAccessibleName(QStringLiteral("Days"));
  articlesLayout->addWidget(m_retention);
  articlesLayout->addWidget(m_retentionDays);
  articlesLayout->addWidget(new QLabel(QStringLiteral("days"), articles));
  articlesLayout->addStretch(1);
  connect(m_retention, &QCheckBox::toggled, m_retentionDays, &QWidget::setEnabled);
  m_retentionDays->setEnabled(false);
  layout->addWidget(articles, 2, 0);

  layout->addWidget(NewOkCancelBox(this), 3, 0);
}

void COptionsDlg::InitDialog() {
  m_initialised = true;
  m_settingsManager.LoadSave(true);
  m_bMinimizeToTray = m_settingsManager.Setting(setting::kMinimizeToSysTray) ? 1 : 0;
  m_bCloseToTray = m_settingsManager.Setting(setting::kCloseToSysTray) ? 1 : 0;
  m_bConfirmExit = m_settingsManager.Setting(setting::kConfirmExit) ? 1 : 0;
  m_bNotifyNewArticles = m_settingsManager.Setting(setting::kNotifyNewArticles) ? 1 : 0;
  m_minimize->setChecked(m_bMinimizeToTray != 0);
  m_close->setChecked(m_bCloseToTray != 0);
  m_confirm->setChecked(m_bConfirmExit != 0);
  m_notify->setChecked(m_bNotifyNewArticles != 0);
  m_appearance->setCurrentIndex(m_appearance->findData(static_cast<int>(m_settingsManager.GetAppearance())));
  m_retention->setChecked(m_nRetentionDays > 0);
  m_retentionDays->setValue(m_nRetentionDays > 0 ? std::min(m_nRetentionDays, kMaxRetentionDays)
                                                 : kDefaultRetentionDays);
  m_retentionDays->setEnabled(m_nRetentionDays > 0);
}

void COptionsDlg::showEvent(QShowEvent* event) {
  if (!m_initialised) InitDialog();
  QDialog::showEvent(event);
}

void COptionsDlg::accept() {
  m_bMinimizeToTray = m_minimize->isChecked() ? 1 : 0;
  m_bCloseToTray = m_close->isChecked() ? 1 : 0;
  m_bConfirmExit = m_confirm->isChecked() ? 1 : 0;
  m_bNotifyNewArticles = m_notify->isChecked() ? 1 : 0;
  m_retentionDays->interpretText();
  m_nRetentionDays = m_retention->isChecked() ? m_retentionDays->value() : 0;
  SettingsSection& s = m_settingsManager.m_settings;
  // In memory first; LoadSave(false) then writes every value.
  auto set = [&s](const QString& name, int value) {
    SettingValue& r = s.Get(name);
    r.bValue = value != 0;
    r.nValue = value != 0 ? 1 : 0;
    r.strValue = QString::number(r.nValue);
  };
  set(setting::kMinimizeToSysTray, m_bMinimizeToTray);
  set(setting::kCloseToSysTray, m_bCloseToTray);
  set(setting::kConfirmExit, m_bConfirmExit);
  set(setting::kNotifyNewArticles, m_bNotifyNewArticles);
  m_settingsManager.SetAppearance(AppearanceFromValue(m_appearance->currentData().toInt()));
  // Writes, and puts the colours chosen on every window.
  m_settingsManager.LoadSave(false);
  QDialog::accept();
}

}  // namespace qb
