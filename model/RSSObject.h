// Base class of the three record kinds that live in the object store:
// CFeed (article), CFeedSource (subscribed feed) and CGroup. Records never
// point at each other; they name each other by identifier.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

namespace qb {

class CArchive;

// An object identifier; 0 means "no object" everywhere.
using ObjectId = uint32_t;
// A list of identifiers in display order: the only link from a parent to its
// children.
using IdList = std::vector<ObjectId>;

inline bool Contains(const IdList& list, ObjectId id) { return std::find(list.begin(), list.end(), id) != list.end(); }
// Removes the first occurrence of `id`, if any.
inline void RemoveFirst(IdList& list, ObjectId id) {
  auto it = std::find(list.begin(), list.end(), id);
  if (it != list.end()) list.erase(it);
}

// The unread and read articles of a node of the tree.
struct FeedCounts {
  int unread = 0;
  int read = 0;
  int total() const { return unread + read; }
  bool operator==(const FeedCounts&) const = default;
};

// Record type codes of the data file's store block.
enum class RecordType : uint32_t { Feed = 1, FeedSource = 2, Group = 3 };

class RSSObject {
 public:
  virtual ~RSSObject() = default;

  virtual RecordType Type() const = 0;

  // Writes the record to, or reads it from, the archive (its direction
  // decides): the header, the fields, then AfterSerialize with the version.
  virtual void Serialize(CArchive& ar);
  // Run at the end of Serialize with the version written or read.
  virtual void AfterSerialize(CArchive& ar, uint8_t version);

  ObjectId m_id = 0;

 protected:
  RSSObject() = default;
  RSSObject(const RSSObject&) = default;
  RSSObject& operator=(const RSSObject&) = default;
};

// A new default record of the class the store block's type code names; null
// for a code other than 1, 2 or 3.
std::unique_ptr<RSSObject> CreateByTypeCode(uint32_t code);

}  // namespace qb
