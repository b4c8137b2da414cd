// "Add New Feed": asks for the URL of a new feed source in a group. The
// caller sets the group name, runs the dialog and reads m_strUrl after it was
// accepted. Nothing in the model changes here; the address is checked as the
// model will take it (CFeedsManager::CheckNewSourceUrl).
#pragma once

#include <QDialog>

#include "model/RSSObject.h"

class QLineEdit;

namespace qb {

class CFeedsManager;
class IDesktop;

class CAddNewFeedDlg : public QDialog {
  Q_OBJECT
 public:
  CAddNewFeedDlg(IDesktop& desktop, const CFeedsManager& model, ObjectId group,
                 QWidget* parent = nullptr);

  QString m_strUrl;
  QString m_strGroupName;

  // Shows the members in the controls; runs once, when first shown.
  void InitDialog();
  QLineEdit* UrlEdit() const { return m_urlEdit; }

  // OK: an empty URL (once cleaned) keeps the dialog open silently; a URL
  // that is already subscribed (compared after the same cleaning, exactly
  // and case-sensitive) keeps it open with a message.
  void accept() override;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  IDesktop& m_desktop;
  const CFeedsManager& m_model;
  ObjectId m_group;
  QLineEdit* m_urlEdit = nullptr;
  bool m_initialised = false;
};

}  // namespace qb
