// The object store owns every record of the feed model and names each by a
// 32-bit identifier. Everything else holds identifiers and looks records up.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <unordered_map>

#include "base/Random.h"
#include "model/RSSObject.h"

namespace qb {

class CArchive;
class CFeed;

// An identifier the store never gives a new record (the tree's Starred
// node, model/ModelChange.h, uses it).
inline constexpr ObjectId kNoRecordId = 0xFFFFFFFFu;

// Where new identifiers come from when several processes add records to
// one library: the blocks the library reserved for this process, which no
// other process is given. Take answers 0 when it has none to give; the
// store then draws one itself.
class IIdSource {
 public:
  virtual ObjectId Take() = 0;

 protected:
  ~IIdSource() = default;
};

class CObjectStorage {
 public:
  CObjectStorage() = default;
  CObjectStorage(const CObjectStorage&) = delete;
  CObjectStorage& operator=(const CObjectStorage&) = delete;
  ~CObjectStorage();

  // A fresh identifier: never 0 and never one that is registered now. From
  // the identifier source when one is set and has one to give, else two
  // draws of the store's generator, the first being the high half.
  ObjectId NewId();

  // Not owned; null (the default) for none. It must outlive the store or be
  // reset first.
  void SetIdSource(IIdSource* source) { m_idSource = source; }

  // Restarts the identifier generator; the same seed gives the same
  // identifiers for the same sequence of creations.
  void SeedRandom(uint32_t seed) { m_random.Seed(seed); }

  // Takes ownership and enters the pair into both indexes. Returns the record.
  // A record registered before under the same identifier is destroyed.
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
  void Serialize(CArchive& ar);
  // Storing, with the texts of the articles that hold them only in the
  // library (CFeed::m_textsStored) filled in by `fill` on a copy of each.
  void Store(CArchive& ar, const std::function<void(CFeed& copy)>& fill);
  // After a load: rebuilds the identifier index.
  void AfterSerialize(CArchive& ar, uint8_t version);

  // Identifier to record, ordered by identifier.
  const std::map<ObjectId, RSSObject*>& IdIndex() const { return m_idIndex; }

 private:
  // Identifier to record, ordered by identifier.
  std::map<ObjectId, RSSObject*> m_idIndex;
  // The same pairs hashed, owning the records: every lookup uses it, since
  // the views look up each of tens of thousands of articles on every
  // refresh.
  std::unordered_map<ObjectId, std::unique_ptr<RSSObject>> m_lookup;
  CRandom m_random;
  IIdSource* m_idSource = nullptr;
};

// The record of the given kind, or null.
template <typename T>
T* LookupAs(const CObjectStorage* store, ObjectId id) {
  if (store == nullptr) return nullptr;
  RSSObject* r = store->Lookup(id);
  return r != nullptr && r->Type() == T::kType ? static_cast<T*>(r) : nullptr;
}

}  // namespace qb
