// The bar above the article list that narrows it: a line for the words to
// look for, an "Unread only" toggle, an "All articles" toggle that looks in
// the whole library instead of the selected node, and the number of
// articles found. Hidden until asked for; Escape in it clears it and hides
// it again. It only reports what the user set; the list applies it and
// tells it the count (SetCount).
#pragma once

#include <QWidget>

class QCheckBox;
class QLabel;
class QLineEdit;

namespace qb {

// "No articles", "1 article", "12 articles".
QString MatchCountText(int count);

class CArticleFilterBar : public QWidget {
  Q_OBJECT
 public:
  explicit CArticleFilterBar(QWidget* parent = nullptr);

  // Shows the bar and puts the cursor in its line, with its text selected.
  void Open();
  // Empties the line, switches the toggles off and hides the bar.
  void Close();

  QString Text() const;
  bool UnreadOnly() const;
  bool AllArticles() const;
  // The number of articles the list shows for what is set; shown while
  // something is set.
  void SetCount(int count);

  QLineEdit* Line() const { return m_line; }
  QCheckBox* UnreadOnlyBox() const { return m_unreadOnly; }
  QCheckBox* AllArticlesBox() const { return m_allArticles; }
  QLabel* CountLabel() const { return m_count; }

 signals:
  // The words or a toggle changed (also when Close cleared them).
  void filterChanged(const QString& text, bool unreadOnly, bool allArticles);
  // Enter in the line: the user wants to read what was found.
  void accepted();
  void opened();
  void closed();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Notify();
  bool AnythingSet() const;

  QLineEdit* m_line = nullptr;
  QCheckBox* m_unreadOnly = nullptr;
  QCheckBox* m_allArticles = nullptr;
  QLabel* m_count = nullptr;
};

}  // namespace qb
