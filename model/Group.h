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

  std::u16string m_name;
  IdList m_childGroups;
  IdList m_sources;
  bool m_expanded = true;
};

}  // namespace qb
