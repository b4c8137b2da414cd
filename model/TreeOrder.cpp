#include "model/TreeOrder.h"

#include <algorithm>

#include "model/FeedsManager.h"
#include "model/Text.h"

namespace qb {

namespace {

template <typename Record, typename Name>
IdList Sorted(const CFeedsManager& manager, const IdList& ids, Name name) {
  std::vector<std::pair<const std::u16string*, ObjectId>> named;
  for (ObjectId id : ids) {
    if (const Record* r = LookupAs<Record>(&manager.m_storage, id)) named.emplace_back(&name(*r), id);
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

IdList GroupsInDisplayOrder(const CFeedsManager& manager, const IdList& ids) {
  return Sorted<CGroup>(manager, ids, [](const CGroup& g) -> const std::u16string& { return g.m_name; });
}

IdList SourcesInDisplayOrder(const CFeedsManager& manager, const IdList& ids) {
  return Sorted<CFeedSource>(manager, ids,
                             [](const CFeedSource& s) -> const std::u16string& { return s.m_title; });
}

}  // namespace qb
