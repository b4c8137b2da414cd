#include "views/DateText.h"
#include "views/ArticleTableModel.h"

#include <QFont>
#include <algorithm>

#include "base/Text.h"
#include "model/FeedsManager.h"
#include "views/ViewText.h"

namespace qb {

CArticleTableModel::CArticleTableModel(const CFeedsManager& model, QObject* parent)
    : QAbstractTableModel(parent), m_model(model) {}

int CArticleTableModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(m_ids.size());
}

int CArticleTableModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kColumnCount;
}

QVariant CArticleTableModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount() || index.column() >= kColumnCount)
    return QVariant();
  const ObjectId id = m_ids[static_cast<size_t>(index.row())];
  if (role == kIdRole) return QVariant::fromValue(static_cast<uint>(id));
  const CFeed* article = m_model.GetFeed(id);
  switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
      if (article == nullptr) return QString();
      switch (index.column()) {
        case kTitle: return ToQString(DecodeForDisplay(article->m_title));
        case kChannel: return ToQString(DecodeForDisplay(article->m_channel));
        case kStarred:
          if (!article->m_starred) return QString();
          return role == Qt::ToolTipRole ? QStringLiteral("Starred") : QStringLiteral("\u2605");
        default: return FormatDisplayDate(article->m_date);
      }
    case Qt::TextAlignmentRole:
      if (index.column() == kStarred) return int(Qt::AlignCenter);
      return QVariant();
    case Qt::FontRole:
      if (article != nullptr && !article->m_read) {
        QFont bold;
        bold.setWeight(QFont::Bold);
        return bold;
      }
      return QVariant();
    default:
      return QVariant();
  }
}

QVariant CArticleTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal) return QVariant();
  if (section == kStarred && role == Qt::ToolTipRole) return QStringLiteral("Starred");
  if (role != Qt::DisplayRole) return QVariant();
  switch (section) {
    case kStarred: return QStringLiteral("\u2605");
    case kTitle: return QStringLiteral("Item Title");
    case kChannel: return QStringLiteral("Channel");
    case kDate: return QStringLiteral("Date / Time");
    default: return QVariant();
  }
}

ObjectId CArticleTableModel::IdAt(int row) const {
  return row >= 0 && row < rowCount() ? m_ids[static_cast<size_t>(row)] : 0;
}

int CArticleTableModel::FindRow(ObjectId id) const {
  EnsureRowMap();
  auto it = m_rowOf.find(id);
  return it == m_rowOf.end() ? -1 : it->second;
}

int CArticleTableModel::InsertRow(int row, ObjectId id) {
  EnsureRowMap();
  row = std::clamp(row, 0, rowCount());
  beginInsertRows(QModelIndex(), row, row);
  m_ids.insert(m_ids.begin() + row, id);
  if (row + 1 == rowCount()) {
    m_rowOf.emplace(id, row);
  } else {
    RebuildRowMap();
  }
  endInsertRows();
  return row;
}

void CArticleTableModel::AppendRows(const IdList& ids) {
  if (ids.empty()) return;
  EnsureRowMap();
  const int first = rowCount();
  // Entered into the map first, which also drops identifiers that already
  // have a row or come twice; the map is not read until the rows exist.
  IdList fresh;
  fresh.reserve(ids.size());
  m_rowOf.reserve(m_ids.size() + ids.size());
  for (ObjectId id : ids) {
    if (m_rowOf.try_emplace(id, first + static_cast<int>(fresh.size())).second) fresh.push_back(id);
  }
  if (fresh.empty()) return;
  beginInsertRows(QModelIndex(), first, first + static_cast<int>(fresh.size()) - 1);
  m_ids.insert(m_ids.end(), fresh.begin(), fresh.end());
  endInsertRows();
}

void CArticleTableModel::RemoveRowList(const std::vector<int>& rows) {
  if (rows.empty()) return;
  // Blocks of adjacent rows, bottom first so earlier indexes stay valid.
  std::vector<std::pair<int, int>> blocks;
  for (int r : rows) {
    if (r < 0 || r >= rowCount()) continue;
    if (!blocks.empty() && blocks.back().second + 1 == r) {
      blocks.back().second = r;
    } else {
      blocks.emplace_back(r, r);
    }
  }
  if (blocks.empty()) return;
  constexpr size_t kMaxSeparateBlocks = 16;
  if (blocks.size() <= kMaxSeparateBlocks || static_cast<int>(rows.size()) == rowCount()) {
    if (static_cast<int>(rows.size()) == rowCount()) blocks = {{0, rowCount() - 1}};
    for (auto it = blocks.rbegin(); it != blocks.rend(); ++it) {
      beginRemoveRows(QModelIndex(), it->first, it->second);
      m_ids.erase(m_ids.begin() + it->first, m_ids.begin() + it->second + 1);
      endRemoveRows();
    }
    RebuildRowMap();
    return;
  }
  std::vector<char> removed(m_ids.size(), 0);
  for (const auto& [first, last] : blocks)
    std::fill(removed.begin() + first, removed.begin() + last + 1, 1);
  std::vector<int> newToOld;
  newToOld.reserve(m_ids.size());
  for (size_t i = 0; i < m_ids.size(); ++i)
    if (!removed[i]) newToOld.push_back(static_cast<int>(i));
  ApplyOrder(newToOld, static_cast<qsizetype>(newToOld.size()), QAbstractItemModel::NoLayoutChangeHint);
}

void CArticleTableModel::TouchAll() {
  if (m_ids.empty()) return;
  emit dataChanged(index(0, 0), index(rowCount() - 1, kColumnCount - 1));
}

void CArticleTableModel::TouchRow(int row) {
  if (row < 0 || row >= rowCount()) return;
  emit dataChanged(index(row, 0), index(row, kColumnCount - 1));
}

namespace {

// The date column's order: oldest or newest first, and undated articles at
// the end either way (they have no place among the news).
bool DateBefore(const CDateTime& a, const CDateTime& b, bool ascending) {
  if (a.IsValid() != b.IsValid()) return a.IsValid();
  return ascending ? CompareDates(a, b) < 0 : CompareDates(b, a) < 0;
}

}  // namespace

void CArticleTableModel::SortRows(int column, bool ascending) {
  const size_t n = m_ids.size();
  if (n < 2) return;
  // The keys are computed once per sort, not once per comparison.
  std::vector<const CFeed*> articles(n);
  for (size_t i = 0; i < n; ++i) articles[i] = m_model.GetFeed(m_ids[i]);
  std::vector<int> order;
  std::vector<int> gone;
  order.reserve(n);
  for (size_t i = 0; i < n; ++i)
    (articles[i] != nullptr ? order : gone).push_back(static_cast<int>(i));
  if (column == kDate) {
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
      return DateBefore(articles[a]->m_date, articles[b]->m_date, ascending);
    });
  } else {
    // Text keys are decoded and folded once, into one buffer, so comparing
    // is a plain ordinal comparison (the same order as CompareAsciiNoCase).
    // The first eight characters, packed into two numbers that sort along
    // with the keys, settle most comparisons without touching the text.
    struct Key {
      uint64_t head0 = 0;
      uint64_t head1 = 0;
      uint32_t offset = 0;
      uint32_t length = 0;
      int row = 0;
    };
    std::u16string buffer;
    std::vector<Key> keys;
    keys.reserve(order.size());
    for (int row : order) {
      const CFeed* a = articles[static_cast<size_t>(row)];
      const std::u16string text = DecodeForDisplay(column == kChannel ? a->m_channel : a->m_title);
      Key key;
      key.offset = static_cast<uint32_t>(buffer.size());
      key.length = static_cast<uint32_t>(text.size());
      key.row = row;
      for (size_t k = 0; k < text.size(); ++k) {
        char16_t ch = text[k];
        if (ch >= u'a' && ch <= u'z') ch = static_cast<char16_t>(ch - u'a' + u'A');
        buffer.push_back(ch);
        if (k < 4) key.head0 |= uint64_t(ch) << (48 - 16 * k);
        else if (k < 8) key.head1 |= uint64_t(ch) << (48 - 16 * (k - 4));
      }
      keys.push_back(key);
    }
    const char16_t* text = buffer.data();
    auto less = [text](const Key& a, const Key& b) {
      if (a.head0 != b.head0) return a.head0 < b.head0;
      if (a.head1 != b.head1) return a.head1 < b.head1;
      return std::u16string_view(text + a.offset, a.length) <
             std::u16string_view(text + b.offset, b.length);
    };
    if (ascending) {
      std::stable_sort(keys.begin(), keys.end(), less);
    } else {
      std::stable_sort(keys.begin(), keys.end(), [&](const Key& a, const Key& b) { return less(b, a); });
    }
    for (size_t i = 0; i < keys.size(); ++i) order[i] = keys[i].row;
  }
  order.insert(order.end(), gone.begin(), gone.end());
  bool unchanged = true;
  for (size_t i = 0; i < n && unchanged; ++i) unchanged = order[i] == static_cast<int>(i);
  if (unchanged) return;
  ApplyOrder(order, static_cast<qsizetype>(n), QAbstractItemModel::VerticalSortHint);
}

void CArticleTableModel::ApplyOrder(const std::vector<int>& newToOld, qsizetype newCount,
                                    QAbstractItemModel::LayoutChangeHint hint) {
  EnsureRowMap();
  emit layoutAboutToBeChanged({}, hint);
  std::vector<int> oldToNew(m_ids.size(), -1);
  for (qsizetype i = 0; i < newCount; ++i) oldToNew[static_cast<size_t>(newToOld[i])] = static_cast<int>(i);
  const QModelIndexList before = persistentIndexList();
  QModelIndexList after;
  after.reserve(before.size());
  for (const QModelIndex& idx : before) {
    const int to = idx.row() >= 0 && idx.row() < rowCount() ? oldToNew[static_cast<size_t>(idx.row())] : -1;
    after.push_back(to < 0 ? QModelIndex() : createIndex(to, idx.column()));
  }
  std::vector<ObjectId> ids;
  ids.reserve(static_cast<size_t>(newCount));
  for (qsizetype i = 0; i < newCount; ++i) ids.push_back(m_ids[static_cast<size_t>(newToOld[i])]);
  // The map is updated in place: no entry is allocated again.
  for (size_t old = 0; old < m_ids.size(); ++old)
    if (oldToNew[old] < 0) m_rowOf.erase(m_ids[old]);
  m_ids.swap(ids);
  for (size_t i = m_ids.size(); i-- > 0;) {
    auto [it, inserted] = m_rowOf.try_emplace(m_ids[i], static_cast<int>(i));
    if (!inserted) it->second = static_cast<int>(i);  // the first row wins
  }
  changePersistentIndexList(before, after);
  emit layoutChanged({}, hint);
}

void CArticleTableModel::EnsureRowMap() const {
  if (!m_rowMapStale) return;
  m_rowMapStale = false;
  const_cast<CArticleTableModel*>(this)->RebuildRowMap();
}

void CArticleTableModel::InsertSorted(const IdList& ids, int column, bool ascending) {
  // The map's keys are kept exact here (its rows go stale): they tell which
  // articles have a row without building it again for every call.
  std::vector<const CFeed*> fresh;
  for (ObjectId id : ids) {
    const CFeed* article = m_model.GetFeed(id);
    if (article != nullptr && m_rowOf.try_emplace(id, -1).second) fresh.push_back(article);
  }
  if (fresh.empty()) return;
  // The sort's order: texts decoded and compared with A-Z folded, reversed
  // for descending; dates as DateBefore. Rows whose article is gone stay at
  // the end, where a sort puts them.
  auto key = [column](const CFeed& a) {
    return DecodeForDisplay(column == kChannel ? a.m_channel : a.m_title);
  };
  auto less = [&](const CFeed& a, const CFeed& b) {
    if (column == kDate) return DateBefore(a.m_date, b.m_date, ascending);
    const int c = CompareAsciiNoCase(key(a), key(b));
    return ascending ? c < 0 : c > 0;
  };
  std::stable_sort(fresh.begin(), fresh.end(), [&](const CFeed* a, const CFeed* b) { return less(*a, *b); });
  size_t live = m_ids.size();
  while (live > 0 && m_model.GetFeed(m_ids[live - 1]) == nullptr) --live;
  // Where each goes among the rows as they stand (after its equals).
  std::vector<size_t> at;
  at.reserve(fresh.size());
  for (const CFeed* article : fresh) {
    size_t lo = 0;
    size_t hi = live;
    while (lo < hi) {
      const size_t mid = (lo + hi) / 2;
      const CFeed* there = m_model.GetFeed(m_ids[mid]);
      if (there != nullptr && less(*article, *there)) {
        hi = mid;
      } else {
        lo = mid + 1;
      }
    }
    at.push_back(lo);
  }
  // Bottom first, each run of rows that go to one place in one insertion,
  // so the positions above stay valid.
  size_t end = fresh.size();
  while (end > 0) {
    size_t begin = end - 1;
    while (begin > 0 && at[begin - 1] == at[end - 1]) --begin;
    const int row = static_cast<int>(at[end - 1]);
    const int count = static_cast<int>(end - begin);
    beginInsertRows(QModelIndex(), row, row + count - 1);
    IdList block;
    block.reserve(static_cast<size_t>(count));
    for (size_t i = begin; i < end; ++i) block.push_back(fresh[i]->m_id);
    m_ids.insert(m_ids.begin() + row, block.begin(), block.end());
    m_rowMapStale = true;
    endInsertRows();
    end = begin;
  }
}

void CArticleTableModel::RebuildRowMap() {
  m_rowMapStale = false;
  m_rowOf.clear();
  m_rowOf.reserve(m_ids.size());
  // The first row showing an identifier wins, as a search from the top would.
  for (size_t i = 0; i < m_ids.size(); ++i) m_rowOf.emplace(m_ids[i], static_cast<int>(i));
}

}  // namespace qb
