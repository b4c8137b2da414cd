#include "model/Group.h"

#include <algorithm>

namespace qb {

void CGroup::RemoveSubgroup(ObjectId id) { RemoveFirst(m_childGroups, id); }
void CGroup::RemoveSource(ObjectId id) { RemoveFirst(m_sources, id); }

}  // namespace qb
