// "Feed Properties": shows a source's link, its last update status, when it
// was last updated and why its last update failed, and lets the user change
// its address, its refresh rate (1 to 1440 minutes) and how long its read
// articles are kept: as Options says, always, or a number of days of its
// own. The caller sets the members, runs the dialog and reads m_strUrl,
// m_nRefreshRate and m_nRetentionDays after it was accepted.
#pragma once

#include <QDialog>

class QCheckBox;
class QLabel;
class QLineEdit;
class QRadioButton;
class QSpinBox;
class QToolButton;

namespace qb {

class CFeedsManager;
class CHyperlink;
class IDesktop;
struct UpdateStateFields;
using SourceUpdateState = UpdateStateFields;

// "Last updated: " of the properties: the local time of the last update that
// did not fail, or that there was none since the program started.
QString LastUpdatedText(const SourceUpdateState& state);
// "Last error: " of the properties: why the last attempt failed and when,
// or "None".
QString LastErrorText(const SourceUpdateState& state);

class CFeedPropertiesDlg : public QDialog {
  Q_OBJECT
 public:
  static constexpr int kMinRate = 1;
  static constexpr int kMaxRate = 1440;

  explicit CFeedPropertiesDlg(IDesktop& desktop, QWidget* parent = nullptr);

  QString m_strName;
  QString m_strUrl;
  int m_nRefreshRate = 0;
  // 0: as in Options; negative: never deleted; else the feed's own days.
  int m_nRetentionDays = 0;
  static constexpr int kMaxRetentionDays = 36500;
  // The feed's articles open in the reader view.
  bool m_bFullArticle = false;
  // A feed of an account: its server fetches it and says which articles
  // go, so its address, refresh rate and retention are shown, not changed.
  bool m_bServerFeed = false;
  QString m_strLastUpdate;
  QString m_strLastUpdated;
  QString m_strLastError;
  // The model the source lives in, for the duplicate test of a changed
  // address; without one that test is skipped.
  const CFeedsManager* m_model = nullptr;

  void InitDialog();
  // The up-down arrows: one step up or down, stopping at 1 and 1440.
  void StepRate(int delta);

  QLineEdit* RateEdit() const { return m_rateEdit; }
  CHyperlink* Link() const { return m_link; }
  QLineEdit* UrlEdit() const { return m_urlEdit; }
  QLabel* LastUpdateLabel() const { return m_lastUpdate; }
  QLabel* LastUpdatedLabel() const { return m_lastUpdated; }
  QLabel* LastErrorLabel() const { return m_lastError; }
  QToolButton* UpButton() const { return m_up; }
  QToolButton* DownButton() const { return m_down; }
  QRadioButton* RetentionAsOptionsButton() const { return m_retentionGlobal; }
  QRadioButton* RetentionNeverButton() const { return m_retentionNever; }
  QRadioButton* RetentionDaysButton() const { return m_retentionOwn; }
  QSpinBox* RetentionDaysBox() const { return m_retentionDays; }
  QCheckBox* FullArticleBox() const { return m_fullArticle; }

  // OK: the rate must be an integer from 1 to 1440; otherwise a warning and
  // the dialog stays open with the edit focused. A changed address is
  // checked as the add-feed dialog checks what is typed (text that cannot
  // be an address is refused with the reason; without a scheme it becomes
  // https) and must not be another source's; a refused one keeps the dialog
  // open with the address edit focused. m_strUrl then holds the address
  // to keep.
  void accept() override;

 protected:
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // Each checks its field; false (after the message) keeps the dialog open.
  bool AcceptRate();
  bool AcceptUrl();

  IDesktop& m_desktop;
  CHyperlink* m_link = nullptr;
  QLineEdit* m_rateEdit = nullptr;
  QToolButton* m_up = nullptr;
  QToolButton* m_down = nullptr;
  QLabel* m_lastUpdate = nullptr;
  QLineEdit* m_urlEdit = nullptr;
  QLabel* m_lastUpdated = nullptr;
  QLabel* m_lastError = nullptr;
  QRadioButton* m_retentionGlobal = nullptr;
  QRadioButton* m_retentionNever = nullptr;
  QRadioButton* m_retentionOwn = nullptr;
  QSpinBox* m_retentionDays = nullptr;
  QCheckBox* m_fullArticle = nullptr;
  // The up-down control's own position, used when the edit holds no number.
  int m_position = kMinRate;
  bool m_initialised = false;
};

}  // namespace qb
