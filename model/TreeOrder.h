// The order in which the tree shows a group's children: sub-groups before
// sources, each kind by name (not label) with only the letters A-Z folded.
// Names that compare equal keep their list order. The window's tree, the
// unread navigator, the command-line list and the OPML export all walk the
// model in this order through VisitInDisplayOrder.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>

#include "model/RSSObject.h"

namespace qb {

class CFeedsManager;
class CFeedSource;
class CGroup;

// Groups among `ids`, sorted by name; other identifiers are dropped.
IdList GroupsInDisplayOrder(const CFeedsManager& manager, const IdList& ids);
// Sources among `ids`, sorted by title; other identifiers are dropped.
IdList SourcesInDisplayOrder(const CFeedsManager& manager, const IdList& ids);

// How two nodes stand among the children of one node of the tree: groups,
// then sources, then anything else (the Starred node); each kind by name
// with only A-Z folded. Negative when `a` comes first, 0 when equal.
int CompareInDisplayOrder(const CFeedsManager& manager, ObjectId a, ObjectId b);

// What a walk in display order meets. Root groups have depth 0; a group's
// sub-groups and sources depth + 1. Each callback may be empty.
struct TreeVisitor {
  std::function<void(const CGroup& group, size_t depth)> enterGroup;
  // After the group's sub-groups and its sources.
  std::function<void(const CGroup& group, size_t depth)> leaveGroup;
  std::function<void(const CFeedSource& source, size_t depth)> source;
};

// Walks the tree as the window shows it: depth first, pre-order from the
// root groups; under each group its sub-groups (entered and left in turn)
// before its sources. Iterative, so depth costs no stack. A group listed
// twice or inside itself (a damaged file) is visited once, where it is first
// met; identifiers that name nothing are skipped.
void VisitInDisplayOrder(const CFeedsManager& manager, const TreeVisitor& visitor);

// The group a new feed goes to: the selected group, the group holding the
// selected source, else the first root group as the tree shows it, leaving
// out accounts (a feed of an account is one its server lists); 0 when the
// model has no such group. `selected` is the tree's selection (0 for its
// root item, none without a selection).
ObjectId GroupForNewFeed(const CFeedsManager& manager, std::optional<ObjectId> selected);

}  // namespace qb
