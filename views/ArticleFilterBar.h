// The bar above the article list that narrows it: a line for the words to
// look for and an "Unread only" toggle. Hidden until asked for; Escape in it
// clears it and hides it again. It only reports what the user set; the list
// applies it.
#pragma once

#include <QWidget>

class QCheckBox;
class QLineEdit;

namespace qb {

class CArticleFilterBar : public QWidget {
  Q_OBJECT
 public:
  explicit CArticleFilterBar(QWidget* parent = nullptr);

  // Shows the bar and puts the cursor in its line, with its text selected.
  void Open();
  // Empties the line, switches the toggle off and hides the bar.
  void Close();

  QString Text() const;
  bool UnreadOnly() const;
  QLineEdit* Line() const { return m_line; }
  QCheckBox* UnreadOnlyBox() const { return m_unreadOnly; }

 signals:
  // The words or the toggle changed (also when Close cleared them).
  void filterChanged(const QString& text, bool unreadOnly);
  // Enter in the line: the user wants to read what was found.
  void accepted();
  void opened();
  void closed();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Notify();

  QLineEdit* m_line = nullptr;
  QCheckBox* m_unreadOnly = nullptr;
};

}  // namespace qb
