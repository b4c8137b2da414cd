#include "model/ObjectStorage.h"

namespace qb {

CObjectStorage::~CObjectStorage() { Clear(); }

ObjectId CObjectStorage::NewId() {
  for (;;) {
    const ObjectId candidate = m_random.DrawId();
    if (candidate != 0 && m_lookup.count(candidate) == 0) return candidate;
  }
}

RSSObject* CObjectStorage::Register(std::unique_ptr<RSSObject> object, ObjectId id) {
  RSSObject* raw = object.get();
  if (raw == nullptr || m_objectIndex.count(raw) != 0) return raw;
  m_objectIndex.emplace(raw, OwnedRecord{std::move(object), id});
  m_idIndex[id] = raw;
  m_lookup[id] = raw;
  return raw;
}

RSSObject* CObjectStorage::Lookup(ObjectId id) const {
  if (id == 0) return nullptr;
  auto it = m_lookup.find(id);
  return it == m_lookup.end() ? nullptr : it->second;
}

void CObjectStorage::Remove(ObjectId id) {
  auto it = m_idIndex.find(id);
  if (it == m_idIndex.end()) return;
  RSSObject* record = it->second;
  m_idIndex.erase(it);
  m_lookup.erase(id);
  m_objectIndex.erase(record);  // destroys the record
}

void CObjectStorage::Clear() {
  m_idIndex.clear();
  m_lookup.clear();
  m_objectIndex.clear();
}

}  // namespace qb
