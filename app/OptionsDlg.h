// "Options": the check boxes of the "Settings" section. It re-reads the
// settings file when it opens, so values changed outside the program show;
// OK writes every "Settings" value.
#pragma once

#include <QDialog>

class QCheckBox;

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

  void InitDialog();
  QCheckBox* MinimizeBox() const { return m_minimize; }
  QCheckBox* CloseBox() const { return m_close; }
  QCheckBox* ConfirmBox() const { return m_confirm; }
  QCheckBox* NotifyBox() const { return m_notify; }

  void accept() override;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  CRSSReaderSettingsManager& m_settingsManager;
  QCheckBox* m_minimize = nullptr;
  QCheckBox* m_close = nullptr;
  QCheckBox* m_confirm = nullptr;
  QCheckBox* m_notify = nullptr;
  bool m_initialised = false;
};

}  // namespace qb
