#include "views/SourceTreeItem.h"

#include "model/FeedsManager.h"
#include "model/Text.h"
#include "views/SourceListView.h"

namespace qb {

CSourceTreeItem::CSourceTreeItem(ObjectId id, const QIcon& icon) {
  setData(0, kIdRole, static_cast<uint>(id));
  setIcon(0, icon);
}

bool CSourceTreeItem::operator<(const QTreeWidgetItem& other) const {
  const auto* view = qobject_cast<const CSourceListView*>(treeWidget());
  if (view == nullptr) return false;
  const CFeedsManager& model = view->Model();
  // 0 for a group, 1 for a source, 2 for anything else (the root item).
  auto rank = [&](const QTreeWidgetItem& item, std::u16string& name) {
    const ObjectId id = CSourceListView::IdOf(&item);
    if (const CGroup* g = model.GetGroup(id)) {
      name = g->m_name;
      return 0;
    }
    if (const CFeedSource* s = model.GetFeedSource(id)) {
      name = s->m_title;
      return 1;
    }
    return 2;
  };
  std::u16string a;
  std::u16string b;
  const int ra = rank(*this, a);
  const int rb = rank(other, b);
  if (ra != rb) return ra < rb;
  return CompareAsciiNoCase(a, b) < 0;
}

}  // namespace qb
