// The order in which the tree shows a group's children: sub-groups before
// sources, each kind by name (not label) with only the letters A-Z folded.
// Names that compare equal keep their list order.
#pragma once

#include "model/RSSObject.h"

namespace qb {

class CFeedsManager;

// Groups among `ids`, sorted by name; other identifiers are dropped.
IdList GroupsInDisplayOrder(const CFeedsManager& manager, const IdList& ids);
// Sources among `ids`, sorted by title; other identifiers are dropped.
IdList SourcesInDisplayOrder(const CFeedsManager& manager, const IdList& ids);

}  // namespace qb
