#pragma once

#include <string>

#include "model/Fields.h"
#include "model/ModelChange.h"
#include "model/RSSObject.h"

namespace qb {

// What a group stores of itself, beside its lists (model/Fields.h).
struct GroupFields {
  std::u16string m_name;
  bool m_expanded = true;
  // The group is an account of a feed service: its groups are the
  // account's folders and its sources the account's subscriptions, kept as
  // the server lists them (sync/). Kept by the library only; the classic
  // data file has no field for it, so an export makes it a plain group.
  bool m_account = false;
  bool operator==(const GroupFields&) const = default;
};

// A folder of the tree: child groups and feed sources.
class CGroup : public RSSObject, public GroupFields {
 public:
  static constexpr RecordType kType = RecordType::Group;
  RecordType Type() const override { return kType; }
  void Serialize(CArchive& ar) override;

  // Removes the first occurrence of the identifier; an absent one is ignored.
  void RemoveSubgroup(ObjectId id);
  void RemoveSource(ObjectId id);

  IdList m_childGroups;
  IdList m_sources;
};

inline constexpr auto kGroupFieldTable = std::make_tuple(
    Field(&CGroup::m_id, nullptr, nullptr, 1, 0),
    Field(&GroupFields::m_name, "name", "name", 1, kGroupName),
    Field(&CGroup::m_childGroups, nullptr, "childGroups", 1, 0),
    Field(&CGroup::m_sources, nullptr, "sources", 1, 0),
    Field(&GroupFields::m_expanded, "expanded", "expanded", 2, kGroupExpanded),
    Field(&GroupFields::m_account, "account", nullptr, 0, kGroupAccount));
static_assert(CheckFieldTable<GroupFields, decltype(kGroupFieldTable)>(), "a group field has no table entry");
inline constexpr uint8_t kGroupRecordVersion = 2;

}  // namespace qb
