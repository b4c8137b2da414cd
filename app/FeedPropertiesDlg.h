// "Feed Properties": shows a source's link and last update status and lets the
// user change its refresh rate (1 to 1440 minutes). The caller sets the four
// members, runs the dialog and reads m_nRefreshRate after it was accepted.
#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class QToolButton;

namespace qb {

class CHyperlink;
class IDesktop;

class CFeedPropertiesDlg : public QDialog {
  Q_OBJECT
 public:
  static constexpr int kMinRate = 1;
  static constexpr int kMaxRate = 1440;

  explicit CFeedPropertiesDlg(IDesktop& desktop, QWidget* parent = nullptr);

  QString m_strName;
  QString m_strUrl;
  int m_nRefreshRate = 0;
  QString m_strLastUpdate;

  void InitDialog();
  // The up-down arrows: one step up or down, stopping at 1 and 1440.
  void StepRate(int delta);

  QLineEdit* RateEdit() const { return m_rateEdit; }
  CHyperlink* Link() const { return m_link; }
  QLabel* LastUpdateLabel() const { return m_lastUpdate; }
  QToolButton* UpButton() const { return m_up; }
  QToolButton* DownButton() const { return m_down; }

  // OK: the rate must be an integer from 1 to 1440; otherwise a warning and
  // the dialog stays open with the edit focused.
  void accept() override;

 protected:
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  IDesktop& m_desktop;
  CHyperlink* m_link = nullptr;
  QLineEdit* m_rateEdit = nullptr;
  QToolButton* m_up = nullptr;
  QToolButton* m_down = nullptr;
  QLabel* m_lastUpdate = nullptr;
  // The up-down control's own position, used when the edit holds no number.
  int m_position = kMinRate;
  bool m_initialised = false;
};

}  // namespace qb
