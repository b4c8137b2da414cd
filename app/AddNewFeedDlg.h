// "Add New Feed": asks for the URL of a new feed source. The caller sets the
// group name and the existing URLs, runs the dialog and reads m_strUrl after
// it was accepted. Nothing in the model changes here.
#pragma once

#include <QDialog>
#include <QStringList>

class QLineEdit;

namespace qb {

class CAddNewFeedDlg : public QDialog {
  Q_OBJECT
 public:
  explicit CAddNewFeedDlg(QWidget* parent = nullptr);

  QString m_strUrl;
  QString m_strGroupName;
  QStringList m_existingUrls;

  // Shows the members in the controls; runs once, when first shown.
  void InitDialog();
  QLineEdit* UrlEdit() const { return m_urlEdit; }

  // OK: an empty URL keeps the dialog open silently; a URL equal to an
  // existing one (exactly, case-sensitive) keeps it open with a message.
  void accept() override;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  QLineEdit* m_urlEdit = nullptr;
  bool m_initialised = false;
};

}  // namespace qb
