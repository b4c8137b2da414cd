// "Add New Group": asks for the name of a new group. The caller runs it and
// reads m_strName after it was accepted.
#pragma once

#include <QDialog>

class QLineEdit;

namespace qb {

class CAddGroupDlg : public QDialog {
  Q_OBJECT
 public:
  explicit CAddGroupDlg(QWidget* parent = nullptr);

  QString m_strName;

  void InitDialog();
  QLineEdit* NameEdit() const { return m_nameEdit; }
  void accept() override;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  QLineEdit* m_nameEdit = nullptr;
  bool m_initialised = false;
};

}  // namespace qb
