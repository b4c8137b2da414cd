// The upper right pane: the articles of the node selected in the tree, with
// the columns "Item Title", "Channel" and "Date / Time". Rows hold article
// identifiers only (CArticleTableModel); every action looks the article up.
#pragma once

#include <QTreeView>
#include <array>

#include "model/RSSObject.h"
#include "views/IMainFrame.h"
#include "views/ViewUpdate.h"

class QMenu;

namespace qb {

class CArticleTableModel;

class CFeedListView : public QTreeView {
  Q_OBJECT
 public:
  explicit CFeedListView(IMainFrame& frame, QWidget* parent = nullptr);
  ~CFeedListView() override;

  // Inserts the three columns with their initial widths.
  void InitialUpdate();

  // 1 inserts a row for the request's article at the position's row, 2
  // removes the row, 3 adds the row to the selection, 4 rebuilds the rows
  // from the tree's selected node. Codes 1-3 ignore a negative row.
  ViewPosition ApplyUpdate(UpdateCode code, ViewPosition position, const ViewUpdate& request);

  // Deletes the articles from the model and the list, keeping a sensible selection.
  void DeleteArticles(const IdList& articles);

  // The mark-read timer fired: the pending article becomes read.
  void MarkPendingRead();

  // The first row showing the article, or -1.
  int FindRow(ObjectId article) const;

  // --- the commands of the context menu, also usable directly.
  // The selected rows' identifiers, top to bottom.
  IdList SelectedArticles() const;
  void MarkSelected(bool read);
  void DeleteSelected();
  // Writes the first selected article's source text to a file in the private
  // temporary folder and opens it with the desktop's viewer.
  void ShowSourceXml();
  // A click on a column header: toggles the direction, stores it on the
  // shown sources and sorts.
  void SortByHeader(int column);

  CArticleTableModel* ArticleModel() const { return m_model; }
  ObjectId PendingArticle() const { return m_pendingArticle; }
  const IdList& ShownSources() const { return m_shownSources; }
  // The column and direction of the header's arrow; column -1 for none.
  int SortColumn() const { return m_arrowColumn; }
  bool SortAscending() const { return m_arrowAscending; }
  // The path of the source-text file.
  static QString SourceXmlPath();

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void RefreshAll();
  void Sort(int column, bool ascending);
  void ShowSortArrow(int column, bool ascending);
  void SetInitialColumnWidths();
  void ApplyPendingColumnWidths();
  void OnSelectionChanged(const QItemSelection& selected);
  void OnRowSelected(int row);
  void SelectRow(int row);
  void SelectOnly(int row);
  void ShowArticleInView(ObjectId id);
  // One flag per row: whether it is selected.
  std::vector<char> SelectedRowFlags() const;

  IMainFrame& m_frame;
  CArticleTableModel* m_model = nullptr;
  IdList m_shownSources;
  ObjectId m_pendingArticle = 0;
  int m_arrowColumn = -1;
  bool m_arrowAscending = true;
  // The sort the rows are in; a refresh that adds no rows keeps it.
  int m_sortedColumn = -1;
  bool m_sortedAscending = true;
  // Modifiers of the input event being handled: selections made with Shift
  // or Control leave the article pane and the mark-read timer alone.
  Qt::KeyboardModifiers m_inputModifiers;
  std::array<int, 3> m_initialWidths{};
  bool m_initialWidthsPending = false;
};

}  // namespace qb
