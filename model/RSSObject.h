// Base class of the three record kinds that live in the object store:
// CFeed (article), CFeedSource (subscribed feed) and CGroup. Records never
// point at each other; they name each other by identifier.
#pragma once

#include <cstdint>
#include <vector>

namespace qb {

// An object identifier; 0 means "no object" everywhere.
using ObjectId = uint32_t;
// A list of identifiers in display order: the only link from a parent to its
// children.
using IdList = std::vector<ObjectId>;

// Record type codes of the data file's store block.
enum class RecordType : uint32_t { Feed = 1, FeedSource = 2, Group = 3 };

class RSSObject {
 public:
  virtual ~RSSObject() = default;

  virtual RecordType Type() const = 0;

  ObjectId m_id = 0;

 protected:
  RSSObject() = default;
  RSSObject(const RSSObject&) = default;
  RSSObject& operator=(const RSSObject&) = default;
};

}  // namespace qb
