#include "model/Group.h"

#include <algorithm>

namespace qb {

namespace {

void RemoveFirst(IdList& list, ObjectId id) {
  auto it = std::find(list.begin(), list.end(), id);
  if (it != list.end()) list.erase(it);
}

}  // namespace

void CGroup::RemoveSubgroup(ObjectId id) { RemoveFirst(m_childGroups, id); }
void CGroup::RemoveSource(ObjectId id) { RemoveFirst(m_sources, id); }

}  // namespace qb
