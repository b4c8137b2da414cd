// Helpers shared by the window tests: a clean settings file, recorded
// message boxes, and a recorded link opener.
#pragma once

#include <QSettings>
#include <QString>
#include <QStringList>
#include <vector>

#include "app/Hyperlink.h"
#include "app/Modal.h"

#include <ostream>

// Readable QString values in test failures.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace qb::test {

// The two settings sections.
inline const QString kSettings = QStringLiteral("Settings");
inline const QString kWindow = QStringLiteral("WindowSettings");

struct ShownMessage {
  MsgIcon icon;
  QString text;
};

// Empties the settings file for the duration of a test and records every
// message box (answering with `answer`) and every link opened.
class UiTestScope {
 public:
  explicit UiTestScope(QMessageBox::StandardButton answer = QMessageBox::Ok) : m_answer(answer) {
    ClearSettings();
    SetMessagePresenter([this](MsgIcon icon, const QString& text, QMessageBox::StandardButtons) {
      messages.push_back({icon, text});
      return m_answer;
    });
    SetLinkOpener([this](const QString& target) { opened.push_back(target); });
  }
  ~UiTestScope() {
    SetMessagePresenter(nullptr);
    SetDialogPresenter(nullptr);
    SetLinkOpener(nullptr);
    ClearSettings();
  }
  UiTestScope(const UiTestScope&) = delete;
  UiTestScope& operator=(const UiTestScope&) = delete;

  void SetAnswer(QMessageBox::StandardButton answer) { m_answer = answer; }

  static void ClearSettings() {
    QSettings s(QStringLiteral("Velmorant"), QStringLiteral("Quillbend"));
    s.clear();
    s.sync();
  }
  static QVariant Stored(const QString& section, const QString& name) {
    QSettings s(QStringLiteral("Velmorant"), QStringLiteral("Quillbend"));
    return s.value(section + u'/' + name);
  }
  static void Store(const QString& section, const QString& name, const QVariant& value) {
    QSettings s(QStringLiteral("Velmorant"), QStringLiteral("Quillbend"));
    s.setValue(section + u'/' + name, value);
  }
  static QString SettingsFilePath() {
    QSettings s(QStringLiteral("Velmorant"), QStringLiteral("Quillbend"));
    return s.fileName();
  }

  std::vector<ShownMessage> messages;
  QStringList opened;

 private:
  QMessageBox::StandardButton m_answer;
};

}  // namespace qb::test
