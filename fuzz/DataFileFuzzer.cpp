// Bytes -> data file load. Whatever the load keeps (the whole model, or what
// a damaged file held before its damage, repaired) must save, load again
// whole into the same model, and save again to the same bytes.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "classic/DataFile.h"
#include "model/FeedsManager.h"

namespace qb {
namespace {

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "DataFileFuzzer: %s\n", what);
  std::abort();
}

template <class T>
bool Equal(const T& a, const T& b) {
  return a == b;
}
bool Equal(const SharedText& a, const SharedText& b) { return a.str() == b.str(); }

// Every field the record's table describes.
template <class Record, class Table>
bool SameFields(const Record& a, const Record& b, const Table& table) {
  bool same = true;
  ForEachField(table, [&](const auto& field) { same = same && Equal(a.*field.member, b.*field.member); });
  return same;
}

bool SameSource(const CFeedSource& s, const CFeedSource& t) {
  return SameFields(s, t, kSourceFieldTable) && s.HistoryTimeIndex() == t.HistoryTimeIndex() &&
         s.m_lastUpdateTick == t.m_lastUpdateTick;
}

bool SameFeed(const CFeed& f, const CFeed& g) { return SameFields(f, g, kArticleFieldTable); }

bool SameGroup(const CGroup& g, const CGroup& h) { return SameFields(g, h, kGroupFieldTable); }

// Every field of every record, the history time index included.
bool SameModel(const CFeedsManager& a, const CFeedsManager& b) {
  if (a.RootGroups() != b.RootGroups()) return false;
  const auto& x = a.Storage().IdIndex();
  const auto& y = b.Storage().IdIndex();
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
