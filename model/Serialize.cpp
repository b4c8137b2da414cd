// The records' own Serialize routines: one routine per class for both
// directions. A field is read only when the version read has it; a field the
// version lacks keeps its default.
#include <utility>
#include <vector>

#include "model/Archive.h"
#include "model/FeedsManager.h"

namespace qb {

namespace {

// Serializes `field` when the record's version has it (it always has when
// storing: the version is then the current one).
template <typename T>
void Field(CArchive& ar, uint8_t version, uint8_t since, T& field) {
  if (version >= since) ar.Serialize(field);
}

}  // namespace

std::unique_ptr<RSSObject> CreateByTypeCode(uint32_t code) {
  switch (code) {
    case static_cast<uint32_t>(RecordType::Feed): return std::make_unique<CFeed>();
    case static_cast<uint32_t>(RecordType::FeedSource): return std::make_unique<CFeedSource>();
    case static_cast<uint32_t>(RecordType::Group): return std::make_unique<CGroup>();
    default: return nullptr;
  }
}

// --- RSSObject: never stored for a real record.

void RSSObject::Serialize(CArchive& ar) {
  const uint8_t version = ar.SerializeHeader(1, u"RSSObject");
  AfterSerialize(ar, version);
}

void RSSObject::AfterSerialize(CArchive&, uint8_t) {}

// --- CFeed

void CFeed::Serialize(CArchive& ar) {
  const uint8_t v = ar.SerializeHeader(3, u"CFeed");
  Field(ar, v, 1, m_id);
  Field(ar, v, 1, m_channel);
  Field(ar, v, 1, m_title);
  Field(ar, v, 1, m_link);
  Field(ar, v, 1, m_description);
  Field(ar, v, 1, m_dateText);
  Field(ar, v, 1, m_key);
  Field(ar, v, 1, m_date);
  Field(ar, v, 2, m_read);
  Field(ar, v, 3, m_sourceText);
  AfterSerialize(ar, v);
}

// --- CFeedSource

void CFeedSource::Serialize(CArchive& ar) {
  const uint8_t v = ar.SerializeHeader(7, u"CFeedSource");
  Field(ar, v, 1, m_id);
  Field(ar, v, 1, m_title);
  Field(ar, v, 1, m_url);
  Field(ar, v, 1, m_legacyRefresh);
  Field(ar, v, 1, m_reservedDate);
  Field(ar, v, 1, m_articles);
  if (v >= 1) {
    if (ar.IsStoring()) {
      ar.WriteU32(static_cast<uint32_t>(m_reservedMap.size()));
      for (const auto& [key, value] : m_reservedMap) {
        ar.WriteString(key);
        ar.WriteI32(value);
      }
    } else {
      m_reservedMap.clear();
      const uint32_t count = ar.ReadU32();
      for (uint32_t i = 0; i < count; ++i) {
        std::u16string key = ar.ReadString();
        const int32_t value = ar.ReadI32();
        m_reservedMap.emplace(std::move(key), value);  // a repeated key keeps the first
      }
    }
  }
  Field(ar, v, 2, m_reservedString);
  Field(ar, v, 3, m_autoName);
  Field(ar, v, 4, m_sortColumn);
  Field(ar, v, 4, m_sortDirection);
  if (v >= 5) {
    if (ar.IsStoring()) {
      ar.WriteU32(static_cast<uint32_t>(m_history.size()));
      for (const auto& [key, entry] : m_history) {
        ar.WriteString(key);
        ar.WriteU32(entry.articleId);
        ar.WriteDateTime(entry.firstSeen);
      }
    } else {
      m_history.clear();
      const uint32_t count = ar.ReadU32();
      for (uint32_t i = 0; i < count; ++i) {
        std::u16string key = ar.ReadString();
        HistoryEntry entry;
        entry.articleId = ar.ReadU32();
        entry.firstSeen = ar.ReadDateTime();
        m_history.emplace(std::move(key), entry);  // a repeated key keeps the first
      }
    }
  }
  Field(ar, v, 6, m_commsStatus);
  Field(ar, v, 7, m_refreshInterval);
  AfterSerialize(ar, v);
}

void CFeedSource::AfterSerialize(CArchive& ar, uint8_t version) {
  if (!ar.IsLoading()) return;
  m_reservedMap.clear();
  RebuildHistoryIndex();
  // Before version 7 the legacy byte was the refresh interval in minutes.
  if (version < 7) m_refreshInterval = m_legacyRefresh;
}

// --- CGroup

void CGroup::Serialize(CArchive& ar) {
  const uint8_t v = ar.SerializeHeader(2, u"CGroup");
  Field(ar, v, 1, m_id);
  Field(ar, v, 1, m_name);
  Field(ar, v, 1, m_childGroups);
  Field(ar, v, 1, m_sources);
  Field(ar, v, 2, m_expanded);
  AfterSerialize(ar, v);
}

// --- CObjectStorage

void CObjectStorage::Store(CArchive& ar, const std::function<void(CFeed&)>& fill) {
  const uint8_t v = ar.SerializeHeader(1, u"CObjectStorage");
  ar.WriteU32(static_cast<uint32_t>(m_idIndex.size()));
  for (const auto& [id, record] : m_idIndex) {
    ar.WriteU32(static_cast<uint32_t>(record->Type()));
    if (fill && record->Type() == RecordType::Feed && static_cast<const CFeed*>(record)->m_textsStored) {
      CFeed copy(*static_cast<const CFeed*>(record));
      fill(copy);
      copy.Serialize(ar);
    } else {
      record->Serialize(ar);
    }
    ar.WriteU32(id);
  }
  AfterSerialize(ar, v);
}

void CObjectStorage::Serialize(CArchive& ar) {
  if (ar.IsStoring()) {
    Store(ar, nullptr);
    return;
  }
  const uint8_t v = ar.SerializeHeader(1, u"CObjectStorage");

  Clear();
  // Every record read whole is owned by the store at once, so a failure
  // further on leaves a store that knows each record it holds. A later
  // record with the same identifier replaces the earlier one, so no
  // identifier ever names two records.
  auto adopt = [this](std::unique_ptr<RSSObject> record, ObjectId id) { Register(std::move(record), id); };
  try {
    if (v >= 1) {
      const uint32_t count = ar.ReadU32();
      for (uint32_t i = 0; i < count; ++i) {
        const uint32_t code = ar.ReadU32();
        std::unique_ptr<RSSObject> record = CreateByTypeCode(code);
        if (!record) {
          CArchive::Fail(ArchiveCause::BadClass,
                         "unknown record type code " + std::to_string(code));
        }
        record->Serialize(ar);
        const ObjectId id = ar.ReadU32();
        adopt(std::move(record), id);
      }
    }
  } catch (...) {
    AfterSerialize(ar, v);
    throw;
  }
  AfterSerialize(ar, v);
}

void CObjectStorage::AfterSerialize(CArchive&, uint8_t) {
  // Both indexes are kept whole while reading (adopt): nothing to rebuild.
}

// --- CFeedsManager

void CFeedsManager::Serialize(CArchive& ar) {
  const uint8_t v = ar.SerializeHeader(1, u"CFeedsManager");
  if (v >= 1) {
    ar.Serialize(m_rootGroups);
    if (ar.IsStoring() && m_storedTexts > 0) {
      // The texts that live in the library are read one article at a time,
      // past the cache, so the save holds no more than one in memory.
      m_storage.Store(ar, [this](CFeed& copy) {
        CArticleTexts texts;
        if (m_articleStore == nullptr || !m_articleStore->ReadArticleTexts(copy.m_id, texts)) {
          CArchive::Fail(ArchiveCause::Generic, "the texts of article " + std::to_string(copy.m_id) +
                                                    " cannot be read from the library");
        }
        copy.m_description = texts.description.str();
        copy.m_sourceText = texts.sourceText;
      });
    } else {
      m_storage.Serialize(ar);
    }
  }
  AfterSerialize(ar, v);
}

void CFeedsManager::AfterSerialize(CArchive&, uint8_t) {}

}  // namespace qb
