#include "model/Group.h"

#include <algorithm>
#include <unordered_set>

#include "model/Feed.h"
#include "model/FeedSource.h"
#include "model/ObjectStorage.h"

namespace qb {

namespace {

void RemoveFirst(IdList& list, ObjectId id) {
  auto it = std::find(list.begin(), list.end(), id);
  if (it != list.end()) list.erase(it);
}

// Visits `root` and the groups below it in pre-order, in list order. The
// walk is iterative and visits each group once, so neither a deep tree nor a
// damaged file whose lists form a cycle can exhaust the stack.
template <typename Visit>
void WalkGroups(const CGroup* root, Visit visit) {
  const CObjectStorage* store = ActiveStore();
  std::unordered_set<const CGroup*> seen;
  std::vector<const CGroup*> stack{root};
  while (!stack.empty()) {
    const CGroup* g = stack.back();
    stack.pop_back();
    if (!seen.insert(g).second) continue;
    visit(*g);
    for (auto it = g->m_childGroups.rbegin(); it != g->m_childGroups.rend(); ++it) {
      if (const CGroup* child = LookupAs<CGroup>(store, *it)) stack.push_back(child);
    }
  }
}

}  // namespace

void CGroup::RemoveSubgroup(ObjectId id) { RemoveFirst(m_childGroups, id); }
void CGroup::RemoveSource(ObjectId id) { RemoveFirst(m_sources, id); }

void CGroup::CollectFeeds(IdList& out) const {
  const CObjectStorage* store = ActiveStore();
  WalkGroups(this, [&](const CGroup& g) {
    for (ObjectId sid : g.m_sources) {
      const CFeedSource* s = LookupAs<CFeedSource>(store, sid);
      if (s == nullptr) continue;
      for (ObjectId aid : s->m_articles) {
        if (LookupAs<CFeed>(store, aid) != nullptr) out.push_back(aid);
      }
    }
  });
}

void CGroup::CollectSources(IdList& out) const {
  const CObjectStorage* store = ActiveStore();
  WalkGroups(this, [&](const CGroup& g) {
    for (ObjectId sid : g.m_sources) {
      if (LookupAs<CFeedSource>(store, sid) != nullptr) out.push_back(sid);
    }
  });
}

void CGroup::CollectGroups(IdList& out) const {
  WalkGroups(this, [&](const CGroup& g) { out.push_back(g.m_id); });
}

void CGroup::CountFeeds(int& unread, int& read) const {
  unread = 0;
  read = 0;
  const CObjectStorage* store = ActiveStore();
  WalkGroups(this, [&](const CGroup& g) {
    for (ObjectId sid : g.m_sources) {
      const CFeedSource* s = LookupAs<CFeedSource>(store, sid);
      if (s == nullptr) continue;
      for (ObjectId aid : s->m_articles) {
        if (const CFeed* a = LookupAs<CFeed>(store, aid)) (a->m_read ? read : unread)++;
      }
    }
  });
}

}  // namespace qb
