#include "model/ModelChange.h"

#include <algorithm>
#include <unordered_set>

namespace qb {

bool CModelChange::Has(ChangeKind kind) const {
  return std::any_of(entries.begin(), entries.end(), [&](const ChangeEntry& e) { return e.kind == kind; });
}

IdList CModelChange::IdsOf(ChangeKind kind) const {
  IdList ids;
  std::unordered_set<ObjectId> seen;
  for (const ChangeEntry& e : entries) {
    if (e.kind == kind && seen.insert(e.id).second) ids.push_back(e.id);
  }
  return ids;
}

}  // namespace qb
