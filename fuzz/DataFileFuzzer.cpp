// Bytes -> data file load. Whatever the load keeps (the whole model, or what
// a damaged file held before its damage, repaired) must save, load again
// whole into the same model, and save again to the same bytes.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "model/DataFile.h"
#include "model/FeedsManager.h"

namespace qb {
namespace {

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "DataFileFuzzer: %s\n", what);
  std::abort();
}

bool SameSource(const CFeedSource& s, const CFeedSource& t) {
  return s.m_title == t.m_title && s.m_url == t.m_url && s.m_legacyRefresh == t.m_legacyRefresh &&
         s.m_reservedDate == t.m_reservedDate && s.m_articles == t.m_articles &&
         s.m_reservedMap == t.m_reservedMap && s.m_reservedString == t.m_reservedString &&
         s.m_autoName == t.m_autoName && s.m_sortColumn == t.m_sortColumn &&
         s.m_sortDirection == t.m_sortDirection && s.m_history == t.m_history &&
         s.HistoryTimeIndex() == t.HistoryTimeIndex() && s.m_commsStatus == t.m_commsStatus &&
         s.m_refreshInterval == t.m_refreshInterval && s.m_lastUpdateTick == t.m_lastUpdateTick;
}

bool SameFeed(const CFeed& f, const CFeed& g) {
  return f.m_channel == g.m_channel && f.m_title == g.m_title && f.m_link == g.m_link &&
         f.m_description == g.m_description && f.m_dateText == g.m_dateText && f.m_key == g.m_key &&
         f.m_date == g.m_date && f.m_read == g.m_read && f.m_sourceText.str() == g.m_sourceText.str();
}

bool SameGroup(const CGroup& g, const CGroup& h) {
  return g.m_name == h.m_name && g.m_childGroups == h.m_childGroups && g.m_sources == h.m_sources &&
         g.m_expanded == h.m_expanded;
}

// Every field of every record, the history time index included.
bool SameModel(const CFeedsManager& a, const CFeedsManager& b) {
  if (a.m_rootGroups != b.m_rootGroups) return false;
  const auto& x = a.m_storage.IdIndex();
  const auto& y = b.m_storage.IdIndex();
  if (x.size() != y.size()) return false;
  for (auto i = x.begin(), j = y.begin(); i != x.end(); ++i, ++j) {
    if (i->first != j->first || i->second->Type() != j->second->Type() || i->second->m_id != j->second->m_id) {
      return false;
    }
    // Straight from the index: a record a damaged file stored under
    // identifier 0 is kept, though no lookup finds it.
    const RSSObject* r = i->second;
    const RSSObject* q = j->second;
    bool same = false;
    switch (r->Type()) {
      case RecordType::Group:
        same = SameGroup(static_cast<const CGroup&>(*r), static_cast<const CGroup&>(*q));
        break;
      case RecordType::FeedSource:
        same = SameSource(static_cast<const CFeedSource&>(*r), static_cast<const CFeedSource&>(*q));
        break;
      case RecordType::Feed:
        same = SameFeed(static_cast<const CFeed&>(*r), static_cast<const CFeed&>(*q));
        break;
    }
    if (!same) return false;
  }
  return true;
}

}  // namespace
}  // namespace qb

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace qb;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  CFeedsManager first;
  first.SeedRandom(1);
  LoadFromBytes(first, bytes);

  const std::string saved = SaveToBytes(first);
  CFeedsManager second;
  second.SeedRandom(2);
  if (!LoadFromBytes(second, saved).ok()) Fail("a saved model does not load whole");
  if (!SameModel(first, second)) Fail("a saved model loads as another model");
  if (SaveToBytes(second) != saved) Fail("a loaded model saves to other bytes");
  return 0;
}
