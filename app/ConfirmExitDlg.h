// "Confirm Exit": "Yes" accepts, "No" rejects; m_bDontAskAgain holds the
// "Don't ask me again" box. The caller acts on both.
#pragma once

#include <QDialog>

class QCheckBox;
class QPushButton;

namespace qb {

class CConfirmExitDlg : public QDialog {
  Q_OBJECT
 public:
  explicit CConfirmExitDlg(QWidget* parent = nullptr);

  int m_bDontAskAgain = 0;

  QCheckBox* DontAskBox() const { return m_dontAsk; }
  QPushButton* YesButton() const { return m_yes; }
  QPushButton* NoButton() const { return m_no; }

  void done(int result) override;

 private:
  QCheckBox* m_dontAsk = nullptr;
  QPushButton* m_yes = nullptr;
  QPushButton* m_no = nullptr;
};

}  // namespace qb
