// The object store owns every record of the feed model and names each by a
// 32-bit identifier. Everything else holds identifiers and looks records up.
#pragma once

#include <map>
#include <memory>
#include <unordered_map>

#include "model/RSSObject.h"

namespace qb {

class CArchive;

class CObjectStorage {
 public:
  CObjectStorage() = default;
  CObjectStorage(const CObjectStorage&) = delete;
  CObjectStorage& operator=(const CObjectStorage&) = delete;
  virtual ~CObjectStorage();

  // A fresh identifier: never 0 and never one that is registered now. Two
  // draws of the process-wide generator, the first being the high half.
  ObjectId NewId() const;

  // Takes ownership and enters the pair into both indexes. Returns the record.
  // A record that is already registered changes nothing.
  RSSObject* Register(std::unique_ptr<RSSObject> object, ObjectId id);

  // The record, or null for 0 or an identifier that is not registered.
  RSSObject* Lookup(ObjectId id) const;

  // Destroys the record. Lists that still name the identifier are the
  // caller's business; an unregistered identifier is ignored.
  void Remove(ObjectId id);

  // Destroys every record.
  void Clear();

  size_t Size() const { return m_idIndex.size(); }

  // The store block of the data file. Records are written in identifier
  // order. A load replaces every record; when it fails part-way the store
  // keeps the records read whole, indexed, and the exception goes on.
  virtual void Serialize(CArchive& ar);
  // After a load: rebuilds the identifier index and becomes the active store.
  virtual void AfterSerialize(CArchive& ar, uint8_t version);

  // Identifier to record, ordered by identifier.
  const std::map<ObjectId, RSSObject*>& IdIndex() const { return m_idIndex; }

 protected:
  struct OwnedRecord {
    std::unique_ptr<RSSObject> record;
    ObjectId id = 0;
  };
  // Record to its identifier; owns the records.
  std::map<const RSSObject*, OwnedRecord> m_objectIndex;
  // Identifier to record, ordered by identifier.
  std::map<ObjectId, RSSObject*> m_idIndex;
  // The same pairs hashed: every lookup uses it, since the views look up
  // each of tens of thousands of articles on every refresh.
  std::unordered_map<ObjectId, RSSObject*> m_lookup;
};

// The store the recursive group walks resolve identifiers through. Set by
// the feeds manager when it is created and after every load.
CObjectStorage* ActiveStore();
void SetActiveStore(CObjectStorage* store);

// The record of the given kind, or null.
template <typename T>
T* LookupAs(const CObjectStorage* store, ObjectId id) {
  if (store == nullptr) return nullptr;
  RSSObject* r = store->Lookup(id);
  return r != nullptr && r->Type() == T::kType ? static_cast<T*>(r) : nullptr;
}

}  // namespace qb
