// The upper right pane: the articles of the node it is told to show (the
// tree's selection), with the columns "Item Title", "Channel" and
// "Date / Time". Rows hold article identifiers only (CArticleTableModel);
// every action looks the article up. The list changes nothing in the model:
// marking, deleting, sorting and showing the source text are requests,
// emitted as signals and carried out by the application.
#pragma once

#include <QTreeView>
#include <array>
#include <optional>
#include <unordered_set>
#include <utility>

#include "model/RSSObject.h"
#include "views/ArticleFilter.h"
#include "views/ArticleTableModel.h"
#include "views/IMainFrame.h"

class QMenu;
class QTimer;

namespace qb {

class CArticleTableModel;
class CFeedsManager;
class CModelChange;
class IDesktop;

class CFeedListView : public QTreeView {
  Q_OBJECT
 public:
  // The list shows articles of `model` and asks the user through `desktop`
  // (its menus); both must outlive it.
  CFeedListView(const CFeedsManager& model, IDesktop& desktop, QWidget* parent = nullptr);
  ~CFeedListView() override;

  // An article selected alone becomes read this long after (10 s);
  // tests shorten it.
  static constexpr int kMarkReadDelayMs = 10000;
  void SetMarkReadDelay(int milliseconds);
  int MarkReadDelay() const;
  // Whether an article is waiting to become read.
  bool MarkReadPending() const;

  // Inserts the three columns with their initial widths.
  void InitialUpdate();

  // Rebuilds the rows from the node shown: rows added, texts refreshed,
  // sorted, stale rows removed; the selection stays with its articles.
  void RefreshAll();
  // Adds the row to the selection (nothing for a row out of range); alone
  // selected, its article is shown and the mark-read delay starts.
  void SelectRow(int row);

  // The tree's selected node (none without a selection): the rows are
  // rebuilt from its articles. Node 0 (the root item) and none show nothing.
  void ShowNode(std::optional<ObjectId> node);
  const std::optional<ObjectId>& ShownNode() const { return m_node; }

  // Follows one change record of the model (FeedListViewChanges.cpp):
  // articles added to or moved into a shown source get rows sorted into
  // their place (when the filter lets them through); removed articles and
  // those moved away lose theirs; a changed read flag draws its row again
  // (and, while only unread articles are shown, adds or drops it, except
  // for selected rows). Sources moved into or out of the shown group bring
  // or take their articles. A new sort stored on the shown source sorts
  // again. The other rows, the selection and the scroll position stay; the
  // cost grows with the entries, not with the rows shown.
  void ApplyChange(const CModelChange& change);
  // Rows for the articles the filter lets through, each sorted into its
  // place; articles that have a row are skipped.
  void InsertArticles(const IdList& articles);

  // Asks for the articles to be deleted, then selects the next article: the
  // row that stays selected, or the one that took the first deleted row's
  // place. Articles without a row are left alone.
  void DeleteArticles(const IdList& articles);

  // The mark-read delay is over (the list's own timer calls it): asks for
  // the pending article to become read.
  void MarkPendingRead();

  // The first row showing the article, or -1.
  int FindRow(ObjectId article) const;

  // --- the commands of the context menu, also usable directly.
  // The selected rows' identifiers, top to bottom.
  IdList SelectedArticles() const;
  void MarkSelected(bool read);
  void DeleteSelected();
  // Asks for the first selected article's source text to be shown.
  void ShowSourceXml();
  // A click on a column header: toggles the direction, asks for it to be
  // stored on the shown sources, and sorts.
  void SortByHeader(int column);

  // --- the filter above the list: only articles it lets through get rows.
  // While only unread articles are shown, the selected ones keep their rows
  // when they become read, so the article being read stays. With "All
  // articles" the list shows the matches of the whole library, newest
  // first, whatever node is shown. A change of the filter scrolls the list
  // to its top and reports the rows (filterApplied).
  void SetFilter(const QString& text, bool unreadOnly, bool allArticles = false);
  const CArticleFilter& Filter() const { return m_filter; }
  // The filter bar opens: the article being read is remembered. It closes
  // (the filter already cleared): when no article is selected then, that
  // article is selected and shown again, if the list still holds it.
  void FilterOpened();
  void FilterClosed();

  // --- reading with the keyboard.
  // The row the user is at: the current row when it is selected, else the
  // first selected row; -1 for none.
  int ReadingRow() const;
  // The first row after `row` (forward) or before it (backward) whose
  // article is unread; -1 for none. `row` may be -1 or rowCount().
  int FindUnreadRow(int row, bool forward) const;
  // Whether the source has an unread article that the filter lets through.
  bool HasUnreadShown(ObjectId source) const;
  // Selects only this row, makes it current and scrolls to it: its article
  // is shown as by a click.
  void ReadRow(int row);

  CArticleTableModel* ArticleModel() const { return m_model; }
  ObjectId PendingArticle() const { return m_pendingArticle; }
  const IdList& ShownSources() const { return m_shownSources; }
  // The column and direction of the header's arrow; column -1 for none.
  int SortColumn() const { return m_arrowColumn; }
  bool SortAscending() const { return m_arrowAscending; }

 signals:
  // One row became selected alone: the article (0 when the row's article is gone).
  void articleChosen(ObjectId article);
  // The list got the keyboard focus: the user looks at the window.
  void focusReceived();
  // The list was resized (a splitter moved): the placement is worth saving.
  void resized();
  // No row is selected any more.
  void selectionCleared();
  // The rows were rebuilt from the node, all of them.
  void refreshed();
  // The filter changed and the rows follow it: how many there are now.
  void filterApplied(int rows);
  // The rows were rebuilt or added to while the filter is active.
  void shownCountChanged(int rows);
  // --- requests
  void markReadRequested(const IdList& articles, bool read);
  // S, the menu, or a click in the star column.
  void starRequested(const IdList& articles, bool starred);
  void deleteArticlesRequested(const IdList& articles);
  void showSourceXmlRequested(ObjectId article);  // 0: no usable selection
  void sortRequested(const IdList& sources, int column, bool ascending);
  // Space, N and P: read on (page down, then the next unread article), the
  // next and the previous unread article.
  void readOnRequested();
  void unreadRequested(bool forward);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  // Stars the selected rows (or unstars them when all are starred).
  void StarSelected();
  int StarColumnWidth() const;
  void mouseMoveEvent(QMouseEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  // Removes the rows of these articles.
  void RemoveArticleRows(const std::unordered_set<ObjectId>& articles);
  // The sort stored on the first shown source, as RefreshAll applies it.
  std::pair<int, bool> StoredSort() const;
  // Drops the articles the filter does not let through.
  void FilterArticles(IdList& articles) const;
  void Sort(int column, bool ascending);
  void ShowSortArrow(int column, bool ascending);
  // The width the columns share: the list's inside, less a scroll bar.
  int ColumnSpace() const;
  // The date column fits the widest date in bold; the channel gets 3/20 of
  // the space, the title the rest, also whenever the list is resized.
  int DateColumnWidth() const;
  void SetInitialColumnWidths();
  void FitTitleColumn();
  void ApplyPendingColumnWidths();
  void OnSelectionChanged(const QItemSelection& selected);
  void OnRowSelected(int row);
  void SelectOnly(int row);
  // One flag per row: whether it is selected.
  std::vector<char> SelectedRowFlags() const;

  // Whether a keypress is one of the reading keys; emits its request.
  bool HandleReadingKey(QKeyEvent* event);

  const CFeedsManager& m_feedModel;
  IDesktop& m_desktop;
  QTimer* m_markReadTimer = nullptr;
  CArticleTableModel* m_model = nullptr;
  CArticleFilter m_filter;
  ObjectId m_readBeforeFilter = 0;
  std::optional<ObjectId> m_node;
  IdList m_shownSources;
  ObjectId m_pendingArticle = 0;
  // The sort of the whole library's matches ("All articles").
  std::pair<int, bool> m_allSort{CArticleTableModel::kDate, false};
  int m_arrowColumn = -1;
  bool m_arrowAscending = true;
  // The sort the rows are in; a refresh that adds no rows keeps it.
  int m_sortedColumn = -1;
  bool m_sortedAscending = true;
  // Modifiers of the input event being handled: selections made with Shift
  // or Control leave the article pane and the mark-read timer alone.
  Qt::KeyboardModifiers m_inputModifiers;
  std::array<int, 2> m_initialWidths{};  // channel and date
  bool m_initialWidthsPending = false;
};

}  // namespace qb
