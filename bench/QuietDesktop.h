// The desktop the window benchmarks run against: every question is answered
// with No, nothing is opened and there is no tray, so nothing waits on a
// user while measuring.
#pragma once

#include "views/Desktop.h"

namespace qb::bench {

class QuietDesktop : public IDesktop {
 public:
  QMessageBox::StandardButton ShowMessage(QWidget*, MsgIcon, const QString&,
                                          QMessageBox::StandardButtons) override {
    return QMessageBox::No;
  }
  int RunDialog(QDialog&) override { return 0; }
  QAction* RunPopupMenu(QMenu&, const QPoint&) override { return nullptr; }
  bool OpenUrl(const QUrl&) override { return false; }
  bool SystemTrayAvailable() override { return false; }
};

}  // namespace qb::bench
