// "Options": the check boxes of the "Settings" section, the window's
// appearance (System, Light, Dark: applied when OK writes it), and the library's
// retention ("Delete read articles older than N days", off by default).
// It re-reads the settings file when it opens, so values changed outside
// the program show; OK writes every "Settings" value. The retention lives
// in the model, not in the settings: the caller sets m_nRetentionDays
// before and reads it after (0: keep everything).
#pragma once

#include <QDialog>

class QCheckBox;
class QComboBox;
class QSpinBox;

namespace qb {

class CRSSReaderSettingsManager;

class COptionsDlg : public QDialog {
  Q_OBJECT
 public:
  COptionsDlg(CRSSReaderSettingsManager& settings, QWidget* parent = nullptr);

  int m_bMinimizeToTray = 0;
  int m_bCloseToTray = 0;
  int m_bConfirmExit = 0;
  int m_bNotifyNewArticles = 0;
  int m_nRetentionDays = 0;
  static constexpr int kMaxRetentionDays = 36500;
  // What the days box offers when retention is switched on.
  static constexpr int kDefaultRetentionDays = 30;

  void InitDialog();
  QCheckBox* MinimizeBox() const { return m_minimize; }
  QCheckBox* CloseBox() const { return m_close; }
  QCheckBox* ConfirmBox() const { return m_confirm; }
  QCheckBox* NotifyBox() const { return m_notify; }
  QCheckBox* RetentionBox() const { return m_retention; }
  QSpinBox* RetentionDaysBox() const { return m_retentionDays; }
  // "System", "Light", "Dark", each item's data the Appearance's number.
  QComboBox* AppearanceBox() const { return m_appearance; }

  void accept() override;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  CRSSReaderSettingsManager& m_settingsManager;
  QCheckBox* m_minimize = nullptr;
  QCheckBox* m_close = nullptr;
  QCheckBox* m_confirm = nullptr;
  QCheckBox* m_notify = nullptr;
  QCheckBox* m_retention = nullptr;
  QSpinBox* m_retentionDays = nullptr;
  QComboBox* m_appearance = nullptr;
  bool m_initialised = false;
};

}  // namespace qb
