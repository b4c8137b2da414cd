#include "model/ObjectStorage.h"

namespace qb {

CObjectStorage::~CObjectStorage() { Clear(); }

ObjectId CObjectStorage::NewId() {
  if (m_idSource != nullptr) {
    for (ObjectId id = m_idSource->Take(); id != 0; id = m_idSource->Take()) {
      if (m_lookup.count(id) == 0 && id != kNoRecordId) return id;
    }
  }
  for (;;) {
    const ObjectId candidate = m_random.DrawId();
    if (candidate != 0 && candidate != kNoRecordId && m_lookup.count(candidate) == 0) return candidate;
  }
}

RSSObject* CObjectStorage::Register(std::unique_ptr<RSSObject> object, ObjectId id) {
  RSSObject* raw = object.get();
  if (raw == nullptr) return nullptr;
  m_lookup[id] = std::move(object);  // destroys a record held under the identifier
  m_idIndex[id] = raw;
  return raw;
}

RSSObject* CObjectStorage::Lookup(ObjectId id) const {
  if (id == 0) return nullptr;
  auto it = m_lookup.find(id);
  return it == m_lookup.end() ? nullptr : it->second.get();
}

void CObjectStorage::Remove(ObjectId id) {
  auto it = m_idIndex.find(id);
  if (it == m_idIndex.end()) return;
  m_idIndex.erase(it);
  m_lookup.erase(id);  // destroys the record
}

void CObjectStorage::Clear() {
  m_idIndex.clear();
  m_lookup.clear();
}

}  // namespace qb
