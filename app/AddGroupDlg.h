// "Add New Group": asks for the name of a new group. The caller runs it and
// reads m_strName after it was accepted. OK on an empty name (or one of
// white space only) says that a name is needed and keeps the dialog open.
#pragma once

#include <QDialog>

class QLineEdit;

namespace qb {

class IDesktop;

inline constexpr char kEmptyGroupNameText[] = "Please enter a name for the new group.";

class CAddGroupDlg : public QDialog {
  Q_OBJECT
 public:
  // The message goes through `desktop`, which must outlive the dialog.
  explicit CAddGroupDlg(IDesktop& desktop, QWidget* parent = nullptr);

  QString m_strName;

  void InitDialog();
  QLineEdit* NameEdit() const { return m_nameEdit; }
  void accept() override;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  IDesktop& m_desktop;
  QLineEdit* m_nameEdit = nullptr;
  bool m_initialised = false;
};

}  // namespace qb
