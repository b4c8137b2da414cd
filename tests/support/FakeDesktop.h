// A desktop for window tests: records every message box, dialog, popup menu
// and opened URL, and answers them as the test says, so nothing blocks and
// nothing leaves the process.
#pragma once

#include <QAction>
#include <QDialog>
#include <QMenu>
#include <QUrl>
#include <functional>
#include <vector>

#include "views/Desktop.h"

namespace qb::test {

struct MessageRecord {
  MsgIcon icon;
  QString text;
  QMessageBox::StandardButtons buttons;
};

struct MenuRecord {
  QString title;
  std::vector<QString> texts;  // "-" for a separator
  std::vector<bool> enabled;
};

class FakeDesktop : public IDesktop {
 public:
  QMessageBox::StandardButton ShowMessage(QWidget*, MsgIcon icon, const QString& text,
                                          QMessageBox::StandardButtons buttons) override {
    messages.push_back({icon, text, buttons});
    return nextAnswer;
  }

  int RunDialog(QDialog& dialog) override {
    ++dialogs;
    return answerDialog ? answerDialog(dialog) : int(QDialog::Rejected);
  }

  // Records the menu and chooses the entry whose text is `chooseInMenu`.
  QAction* RunPopupMenu(QMenu& menu, const QPoint&) override {
    MenuRecord record;
    record.title = menu.title();
    for (QAction* a : menu.actions()) {
      record.texts.push_back(a->isSeparator() ? QStringLiteral("-") : a->text());
      record.enabled.push_back(a->isEnabled());
    }
    menus.push_back(record);
    for (QAction* a : menu.actions())
      if (a->text() == chooseInMenu) return a;
    return nullptr;
  }

  bool OpenUrl(const QUrl& url) override {
    opened.push_back(url);
    return shellSucceeds;
  }

  bool SystemTrayAvailable() override { return trayAvailable; }

  QMessageBox::StandardButton nextAnswer = QMessageBox::Ok;
  std::vector<MessageRecord> messages;
  int dialogs = 0;
  // Answers a dialog (default: rejected, as by Cancel).
  std::function<int(QDialog&)> answerDialog;
  std::vector<MenuRecord> menus;
  QString chooseInMenu;
  std::vector<QUrl> opened;
  bool shellSucceeds = true;
  bool trayAvailable = true;
};

}  // namespace qb::test
