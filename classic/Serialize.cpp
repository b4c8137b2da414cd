// The records' own Serialize routines: one routine per class for both
// directions. A field is read only when the version read has it; a field the
// version lacks keeps its default.
#include <map>
#include <utility>
#include <vector>

#include "classic/Archive.h"
#include "model/FeedsManager.h"

namespace qb {

namespace {

template <typename T>
  requires requires(CArchive& ar, T& field) { ar.Serialize(field); }
void ArchiveField(CArchive& ar, T& field) {
  ar.Serialize(field);
}

void ArchiveField(CArchive& ar, std::map<std::u16string, int32_t>& map) {
  if (ar.IsStoring()) {
    ar.WriteU32(static_cast<uint32_t>(map.size()));
    for (const auto& [key, value] : map) {
      ar.WriteString(key);
      ar.WriteI32(value);
    }
    return;
  }
  map.clear();
  const uint32_t count = ar.ReadU32();
  for (uint32_t i = 0; i < count; ++i) {
    std::u16string key = ar.ReadString();
    const int32_t value = ar.ReadI32();
    map.emplace(std::move(key), value);  // a repeated key keeps the first
  }
}

void ArchiveField(CArchive& ar, std::map<std::u16string, HistoryEntry>& history) {
  if (ar.IsStoring()) {
    ar.WriteU32(static_cast<uint32_t>(history.size()));
    for (const auto& [key, entry] : history) {
      ar.WriteString(key);
      ar.WriteU32(entry.articleId);
      ar.WriteDateTime(entry.firstSeen);
    }
    return;
  }
  history.clear();
  const uint32_t count = ar.ReadU32();
  for (uint32_t i = 0; i < count; ++i) {
    std::u16string key = ar.ReadString();
    HistoryEntry entry;
    entry.articleId = ar.ReadU32();
    entry.firstSeen = ar.ReadDateTime();
    history.emplace(std::move(key), entry);  // a repeated key keeps the first
  }
}

// A record in both directions, field by field in its table's order: a
// field is read only when the record's version has it (it always has when
// storing: the version is then the current one).
template <class Record, class Table>
void SerializeRecord(CArchive& ar, Record& record, const Table& table, uint8_t version, const char16_t* name) {
  const uint8_t v = ar.SerializeHeader(version, name);
  ForEachField(table, [&](const auto& field) {
    // (A field the file has no room for, such as a time of arrival, has no
    // version and no form in the archive.)
    if constexpr (requires { ArchiveField(ar, record.*field.member); }) {
      if (field.since != 0 && v >= field.since) ArchiveField(ar, record.*field.member);
    }
  });
  record.AfterSerialize(ar, v);
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

void CFeed::Serialize(CArchive& ar) { SerializeRecord(ar, *this, kArticleFieldTable, kArticleRecordVersion, u"CFeed"); }

void CFeedSource::Serialize(CArchive& ar) {
  SerializeRecord(ar, *this, kSourceFieldTable, kSourceRecordVersion, u"CFeedSource");
}

void CFeedSource::AfterSerialize(CArchive& ar, uint8_t version) {
  if (!ar.IsLoading()) return;
  m_reservedMap.clear();
  RebuildHistoryIndex();
  // Before version 7 the legacy byte was the refresh interval in minutes.
  if (version < 7) m_refreshInterval = m_legacyRefresh;
}

void CGroup::Serialize(CArchive& ar) { SerializeRecord(ar, *this, kGroupFieldTable, kGroupRecordVersion, u"CGroup"); }

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
