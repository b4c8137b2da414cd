// The rows of the article list: one article identifier per row, nothing else.
// Texts, fonts and sort keys are looked up in the feed model when asked for,
// so the list can hold a hundred thousand rows cheaply. A map from identifier
// to row lets a refresh insert and remove only the rows that changed.
#pragma once

#include <QAbstractTableModel>
#include <unordered_map>
#include <vector>

#include "model/RSSObject.h"

namespace qb {

class CFeedsManager;

class CArticleTableModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  // The first three are the ones a source stores its sort by; the star
  // column is not sorted by.
  enum Column { kTitle = 0, kChannel = 1, kDate = 2, kStarred = 3, kColumnCount = 4 };
  static constexpr int kSortColumns = 3;
  // The row's article identifier (an ObjectId as unsigned int).
  static constexpr int kIdRole = Qt::UserRole + 1;

  explicit CArticleTableModel(const CFeedsManager& model, QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;

  // 0 for a row out of range.
  ObjectId IdAt(int row) const;
  // The row showing the article, or -1.
  int FindRow(ObjectId id) const;
  const std::vector<ObjectId>& Ids() const { return m_ids; }

  // Inserts one row at `row` (clamped to 0..rowCount); returns its index.
  int InsertRow(int row, ObjectId id);
  // Inserts rows where the sort by `column` puts them, as SortRows would
  // after appending them: each after the rows that compare equal to it.
  // Identifiers that have a row, come twice or name no article are skipped.
  // Costs a search per row and one move of the rows below each insertion,
  // not a sort of the whole list.
  void InsertSorted(const IdList& ids, int column, bool ascending);
  // Appends rows in one insertion, skipping identifiers that have a row.
  void AppendRows(const IdList& ids);
  // Removes the rows, given in increasing order. Few blocks of adjacent rows
  // are removed block by block; many scattered rows in one layout change, so
  // deleting thousands of rows costs one pass.
  void RemoveRowList(const std::vector<int>& rows);
  // Tells the views that every row's texts may have changed.
  void TouchAll();
  void TouchRow(int row);
  // Sorts by the column: titles and channels compared with only A-Z folded,
  // reversed for descending; dates oldest (or, descending, newest) first,
  // with undated articles after every dated one in both directions. Rows
  // whose article is gone go last.
  // Selections and the current row follow their articles.
  void SortRows(int column, bool ascending);

 private:
  void RebuildRowMap();
  // The map follows the rows lazily: insertions in the middle keep its keys
  // but mark its rows stale, and the next look-up builds it again, once.
  void EnsureRowMap() const;
  void ApplyOrder(const std::vector<int>& newToOld, qsizetype newCount,
                  QAbstractItemModel::LayoutChangeHint hint);

  const CFeedsManager& m_model;
  std::vector<ObjectId> m_ids;
  mutable std::unordered_map<ObjectId, int> m_rowOf;
  mutable bool m_rowMapStale = false;
};

}  // namespace qb
