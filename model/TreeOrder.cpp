#include "model/TreeOrder.h"

#include <algorithm>
#include <unordered_set>
#include <vector>

#include "base/Text.h"
#include "model/FeedsManager.h"

namespace qb {

namespace {

template <typename Record, typename Name>
IdList Sorted(const CFeedsManager& manager, const IdList& ids, Name name) {
  std::vector<std::pair<const std::u16string*, ObjectId>> named;
  for (ObjectId id : ids) {
    if (const Record* r = LookupAs<Record>(&manager.Storage(), id)) named.emplace_back(&name(*r), id);
  }
  std::stable_sort(named.begin(), named.end(), [](const auto& a, const auto& b) {
    return CompareAsciiNoCase(*a.first, *b.first) < 0;
  });
  IdList out;
  out.reserve(named.size());
  for (const auto& n : named) out.push_back(n.second);
  return out;
}

}  // namespace

int CompareInDisplayOrder(const CFeedsManager& manager, ObjectId a, ObjectId b) {
  auto rank = [&](ObjectId id, const std::u16string*& name) {
    if (const CGroup* g = manager.GetGroup(id)) {
      name = &g->m_name;
      return 0;
    }
    if (const CFeedSource* s = manager.GetFeedSource(id)) {
      name = &s->m_title;
      return 1;
    }
    return 2;
  };
  static const std::u16string kNone;
  const std::u16string* na = &kNone;
  const std::u16string* nb = &kNone;
  const int ra = rank(a, na);
  const int rb = rank(b, nb);
  if (ra != rb) return ra - rb;
  return CompareAsciiNoCase(*na, *nb);
}

IdList GroupsInDisplayOrder(const CFeedsManager& manager, const IdList& ids) {
  return Sorted<CGroup>(manager, ids, [](const CGroup& g) -> const std::u16string& { return g.m_name; });
}

IdList SourcesInDisplayOrder(const CFeedsManager& manager, const IdList& ids) {
  return Sorted<CFeedSource>(manager, ids,
                             [](const CFeedSource& s) -> const std::u16string& { return s.m_title; });
}

void VisitInDisplayOrder(const CFeedsManager& manager, const TreeVisitor& visitor) {
  struct Frame {
    const CGroup* group;
    IdList groups;
    size_t next = 0;
  };
  std::vector<Frame> stack;
  std::unordered_set<const CGroup*> seen;
  auto enter = [&](const CGroup& g) {
    if (visitor.enterGroup) visitor.enterGroup(g, stack.size());
    stack.push_back({&g, GroupsInDisplayOrder(manager, g.m_childGroups)});
  };
  for (ObjectId rootId : GroupsInDisplayOrder(manager, manager.RootGroups())) {
    const CGroup* root = manager.GetGroup(rootId);
    if (!seen.insert(root).second) continue;
    enter(*root);
    while (!stack.empty()) {
      Frame& top = stack.back();
      if (top.next < top.groups.size()) {
        const CGroup* child = manager.GetGroup(top.groups[top.next++]);
        if (child != nullptr && seen.insert(child).second) enter(*child);
        continue;
      }
      const CGroup& group = *top.group;
      const size_t depth = stack.size() - 1;
      if (visitor.source) {
        for (ObjectId sid : SourcesInDisplayOrder(manager, group.m_sources))
          visitor.source(*manager.GetFeedSource(sid), depth + 1);
      }
      stack.pop_back();
      if (visitor.leaveGroup) visitor.leaveGroup(group, depth);
    }
  }
}

ObjectId GroupForNewFeed(const CFeedsManager& manager, std::optional<ObjectId> selected) {
  if (selected.has_value() && *selected != 0 && manager.AccountOf(*selected) == 0) {
    if (manager.GetGroup(*selected) != nullptr) return *selected;
    if (manager.GetFeedSource(*selected) != nullptr) {
      if (const CGroup* group = manager.FindGroupOfSource(*selected)) return group->m_id;
    }
  }
  // An account's feeds are the ones its server lists.
  for (ObjectId root : GroupsInDisplayOrder(manager, manager.RootGroups())) {
    if (manager.AccountOf(root) == 0) return root;
  }
  return 0;
}

}  // namespace qb
