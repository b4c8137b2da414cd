#pragma once

#include <string>

#include "model/RSSObject.h"

namespace qb {

// A folder of the tree: child groups and feed sources.
class CGroup : public RSSObject {
 public:
  static constexpr RecordType kType = RecordType::Group;
  RecordType Type() const override { return kType; }
  void Serialize(CArchive& ar) override;

  // Removes the first occurrence of the identifier; an absent one is ignored.
  void RemoveSubgroup(ObjectId id);
  void RemoveSource(ObjectId id);

  // Over every article of every source in this group's subtree.
  void CountFeeds(int& unread, int& read) const;

  // Depth first, in list order, resolved through the active store: the
  // articles of this group's sources, then those of each child group.
  void CollectFeeds(IdList& out) const;
  // The sources of this group, then those of each child group.
  void CollectSources(IdList& out) const;
  // This group, then its descendants, each before its own descendants.
  void CollectGroups(IdList& out) const;

  std::u16string m_name;
  IdList m_childGroups;
  IdList m_sources;
  bool m_expanded = true;
};

}  // namespace qb
