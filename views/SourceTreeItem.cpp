#include "views/SourceTreeItem.h"

#include "model/TreeOrder.h"

namespace qb {

CSourceTreeItem::CSourceTreeItem(const CFeedsManager& model, ObjectId id, const QIcon& icon) : m_model(model) {
  setData(0, kIdRole, static_cast<uint>(id));
  setIcon(0, icon);
}

bool CSourceTreeItem::operator<(const QTreeWidgetItem& other) const {
  const ObjectId a = data(0, kIdRole).toUInt();
  const ObjectId b = other.data(0, kIdRole).toUInt();
  return CompareInDisplayOrder(m_model, a, b) < 0;
}

}  // namespace qb
