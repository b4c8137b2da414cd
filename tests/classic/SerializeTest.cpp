// The records' Serialize routines through whole data files in memory.
#include <gtest/gtest.h>

#include "classic/Archive.h"
#include "classic/DataFile.h"
#include "model/FeedsManager.h"
#include "model/ModelWriter.h"
#include "tests/support/ArchiveBytes.h"
#include "tests/support/SampleModel.h"

namespace qb {
namespace {

using test::ArchiveBytes;

LoadStatus Load(CFeedsManager& m, const std::string& bytes, uint64_t* reserved = nullptr) {
  CMemoryReader reader(bytes);
  CArchive ar(reader);
  const LoadStatus status = LoadFromArchive(m, ar);
  if (reserved != nullptr) *reserved = ar.LargestReservation();
  return status;
}

// The file around the given store records.
std::string FileWith(const IdList& roots, uint32_t count, const std::string& records) {
  ArchiveBytes b;
  b.Header(1, u"CFeedsManager").U32(static_cast<uint32_t>(roots.size()));
  for (ObjectId id : roots) b.U32(id);
  b.Header(1, u"CObjectStorage").U32(count).Raw(records);
  return b.str();
}

std::string GroupRecord(ObjectId id, std::u16string_view name, const IdList& children = {},
                        const IdList& sources = {}, uint8_t expanded = 1) {
  ArchiveBytes b;
  b.U32(3).Header(2, u"CGroup").U32(id).Str(name).U32(static_cast<uint32_t>(children.size()));
  for (ObjectId c : children) b.U32(c);
  b.U32(static_cast<uint32_t>(sources.size()));
  for (ObjectId s : sources) b.U32(s);
  return b.U8(expanded).U32(id).str();
}

// Every identifier a list names resolves to a record of the list's kind,
// and every record is indexed under its own identifier.
void ExpectConsistent(const CFeedsManager& m) {
  for (ObjectId id : m.RootGroups()) EXPECT_NE(m.GetGroup(id), nullptr) << id;
  for (const auto& [id, record] : m.Storage().IdIndex()) {
    ASSERT_NE(record, nullptr);
    // A damaged file can index a record under 0, which names nothing.
    if (id != 0) {
      EXPECT_EQ(m.Storage().Lookup(id), record);
    }
    if (const CGroup* g = m.GetGroup(id)) {
      for (ObjectId c : g->m_childGroups) EXPECT_NE(m.GetGroup(c), nullptr) << c;
      for (ObjectId s : g->m_sources) EXPECT_NE(m.GetFeedSource(s), nullptr) << s;
    } else if (const CFeedSource* s = m.GetFeedSource(id)) {
      for (ObjectId a : s->m_articles) EXPECT_NE(m.GetFeed(a), nullptr) << a;
    }
  }
}

TEST(SerializeTest, OneEmptyRootGroupIsExactlyTheseBytes) {
  CFeedsManager m;
  auto group = std::make_unique<CGroup>();
  group->m_id = 0x00012345;
  group->m_name = u"All Sources";
  CModelWriter(m).Storage().Register(std::move(group), 0x00012345);
  CModelWriter(m).RootGroups().push_back(0x00012345);

  const std::string expected = ArchiveBytes()
                                   .Header(1, u"CFeedsManager")
                                   .U32(1)
                                   .U32(0x00012345)
                                   .Header(1, u"CObjectStorage")
                                   .U32(1)
                                   .U32(3)
                                   .Header(2, u"CGroup")
                                   .U32(0x00012345)
                                   .Str(u"All Sources")
                                   .U32(0)
                                   .U32(0)
                                   .U8(1)
                                   .U32(0x00012345)
                                   .str();
  const std::string bytes = SaveToBytes(m);
  EXPECT_EQ(bytes, expected);
  EXPECT_EQ(bytes.substr(0, 5), std::string("\x01\xFF\xFE\xFF\x0D", 5));

  CFeedsManager loaded;
  ASSERT_EQ(Load(loaded, bytes), LoadStatus::Ok);
  test::ExpectSameModel(m, loaded);
}

TEST(SerializeTest, FullModelRoundTripsFieldByField) {
  CFeedsManager m;
  test::BuildSampleModel(m);
  // The reserved map is saved but emptied by every load.
  CModelWriter(m).Source(m.GetGroup(m.RootGroups()[0])->m_sources[0])->m_reservedMap = {{u"a", 1}, {u"b", -2}};
  const std::string bytes = SaveToBytes(m);

  CFeedsManager loaded;
  ASSERT_EQ(Load(loaded, bytes), LoadStatus::Ok);
  test::ExpectSameModel(m, loaded);

  IdList sources;
  loaded.CollectSources(0, sources);
  ASSERT_EQ(sources.size(), 4u);
  const CFeed* first = nullptr;
  for (ObjectId sid : sources) {
    const CFeedSource* s = loaded.GetFeedSource(sid);
    EXPECT_EQ(s->m_lastUpdateTick, 0u);
    EXPECT_TRUE(s->m_reservedMap.empty());
    // The time index is rebuilt: oldest first, the deleted key last.
    ASSERT_EQ(s->HistoryTimeIndex().size(), 4u);
    EXPECT_EQ(std::prev(s->HistoryTimeIndex().end())->second, u"deleted@example");
    EXPECT_EQ(s->HistoryTimeIndex(), m.GetFeedSource(sid)->HistoryTimeIndex());
    // Articles of one download share one copy of the feed text again.
    for (ObjectId aid : s->m_articles) {
      const CFeed* a = loaded.GetFeed(aid);
      if (first == nullptr) first = a;
      EXPECT_TRUE(a->m_sourceText.SharesWith(first->m_sourceText));
    }
  }

  // Saving what was loaded gives the same bytes, whatever the addresses
  // (bar the reserved map, which the load emptied).
  for (const auto& [id, record] : m.Storage().IdIndex()) {
    if (CFeedSource* s = CModelWriter(m).Source(id)) s->m_reservedMap.clear();
  }
  EXPECT_TRUE(SaveToBytes(loaded) == SaveToBytes(m));
}

// A source record of the given version with the fields that version has.
std::string SourceRecord(uint8_t version) {
  ArchiveBytes b;
  b.Header(version, u"CFeedSource");
  if (version == 0) return b.str();
  b.U32(0x00010002).Str(u"Title").Str(u"http://x/").U8(30).Date(2001, 2, 3, 4, 5, 6);
  b.U32(2).U32(11).U32(12);
  b.U32(2).Str(u"k").I32(5).Str(u"k").I32(6);
  if (version >= 2) b.Str(u"reserved");
  if (version >= 3) b.U8(1);
  if (version >= 4) b.I32(2).I32(512);
  if (version >= 5) {
    b.U32(3);
    b.Str(u"b").U32(12).Date(2020, 1, 1, 0, 0, 2);
    b.Str(u"a").U32(11).Date(2020, 1, 1, 0, 0, 1);
    b.Str(u"a").U32(99).Date(2020, 1, 1, 0, 0, 9);  // a repeated key keeps the first
  }
  if (version >= 6) b.Str(u"Comms status: OK");
  if (version >= 7) b.I32(99);
  return b.str();
}

TEST(SerializeTest, SourceRecordsOfEveryVersion) {
  for (uint8_t version = 0; version <= 7; ++version) {
    SCOPED_TRACE(static_cast<int>(version));
    const std::string bytes = SourceRecord(version);
    CMemoryReader reader(bytes);
    CArchive ar(reader);
    CFeedSource s;
    ASSERT_NO_THROW(s.Serialize(ar));
    EXPECT_EQ(ar.Remaining(), 0u);
    const CFeedSource defaults;
    if (version == 0) {
      EXPECT_EQ(s.m_title, u"");
      EXPECT_EQ(s.m_refreshInterval, 0) << "the legacy byte, still 0";
      continue;
    }
    EXPECT_EQ(s.m_id, 0x00010002u);
    EXPECT_EQ(s.m_title, u"Title");
    EXPECT_EQ(s.m_legacyRefresh, 30);
    EXPECT_EQ(s.m_articles, (IdList{11, 12}));
    EXPECT_TRUE(s.m_reservedMap.empty());
    EXPECT_EQ(s.m_reservedString, version >= 2 ? u"reserved" : u"");
    EXPECT_EQ(s.m_autoName, version >= 3);
    EXPECT_EQ(s.m_sortColumn, version >= 4 ? 2 : defaults.m_sortColumn);
    EXPECT_EQ(s.m_sortDirection, version >= 4 ? 512 : defaults.m_sortDirection);
    EXPECT_EQ(s.m_history.size(), version >= 5 ? 2u : 0u);
    if (version >= 5) {
      EXPECT_EQ(s.m_history.at(u"a").articleId, 11u);
      ASSERT_EQ(s.HistoryTimeIndex().size(), 2u);
      EXPECT_EQ(s.HistoryTimeIndex().begin()->second, u"a");
    }
    EXPECT_EQ(s.m_commsStatus, version >= 6 ? u"Comms status: OK" : u"");
    // Before version 7 the legacy byte is the refresh interval.
    EXPECT_EQ(s.m_refreshInterval, version >= 7 ? 99 : 30);
  }
}

TEST(SerializeTest, ArticleAndGroupVersions) {
  // Version 1 article: no read flag, no source text. Version 1 group: no
  // expanded flag. A bool byte of 2 reads as false.
  const std::string records =
      ArchiveBytes()
          .U32(1)
          .Header(1, u"CFeed")
          .U32(5)
          .Str(u"ch")
          .Str(u"t")
          .Str(u"l")
          .Str(u"d")
          .Str(u"dt")
          .Str(u"k")
          .Date(2009, 5, 4, 10, 20, 30)
          .U32(5)
          .U32(3)
          .Header(1, u"CGroup")
          .U32(6)
          .Str(u"G")
          .U32(0)
          .U32(0)
          .U32(6)
          .U32(3)
          .Header(2, u"CGroup")
          .U32(7)
          .Str(u"H")
          .U32(0)
          .U32(0)
          .U8(2)
          .U32(7)
          .U32(1)
          .Header(0, u"CFeed")
          .U32(8)
          .str();
  CFeedsManager m;
  ASSERT_EQ(Load(m, FileWith({6}, 4, records)), LoadStatus::Ok);
  const CFeed* a = m.GetFeed(5);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->m_key, u"k");
  EXPECT_FALSE(a->m_read);
  EXPECT_TRUE(a->m_sourceText.empty());
  EXPECT_TRUE(m.GetGroup(6)->m_expanded);
  EXPECT_FALSE(m.GetGroup(7)->m_expanded);
  const CFeed* empty = m.GetFeed(8);
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(empty->m_id, 0u) << "a version 0 record is its header only";
}

TEST(SerializeTest, EachFailureCause) {
  const std::string good = GroupRecord(6, u"G");
  std::string newerSource = ArchiveBytes().U32(2).Raw(SourceRecord(7)).U32(9).str();
  newerSource[4] = 8;
  std::string misnamed = good;
  ASSERT_EQ(good.substr(11, 1), "G");
  misnamed[11] = 'H';  // "CGroup" -> "CHroup"
  struct Case {
    const char* name;
    std::string bytes;
    LoadStatus status;
    bool keepsGroup = false;  // group 6 was read whole before the failure
  };
  const Case cases[] = {
      {"whole", FileWith({6}, 1, good), LoadStatus::Ok, true},
      {"newer source", FileWith({6}, 2, good + newerSource), LoadStatus::BadSchema, true},
      {"newer manager", ArchiveBytes().Header(2, u"CFeedsManager").str(), LoadStatus::BadSchema},
      {"class name one letter off", FileWith({6}, 1, misnamed), LoadStatus::BadClass},
      {"store misnamed",
       ArchiveBytes().Header(1, u"CFeedsManager").U32(0).Header(1, u"CObjectStore").U32(0).str(),
       LoadStatus::BadClass},
      {"type code 4", FileWith({6}, 2, good + ArchiveBytes().U32(4).str()), LoadStatus::BadClass, true},
      {"type code 0", FileWith({6}, 2, good + ArchiveBytes().U32(0).str()), LoadStatus::BadClass, true},
      {"a group where a source is said to be",
       FileWith({6}, 2, good + ArchiveBytes().U32(2).Header(2, u"CGroup").str()),
       LoadStatus::BadClass, true},
      {"more records than the file holds", FileWith({6}, 2, good), LoadStatus::EndOfFile, true},
      {"empty file", "", LoadStatus::EndOfFile},
      {"string length beyond 2^31-1",
       FileWith({6}, 1,
                ArchiveBytes()
                    .U32(3)
                    .Header(2, u"CGroup")
                    .U32(6)
                    .U8(0xFF)
                    .U16(0xFFFF)
                    .U32(0xFFFFFFFF)
                    .U64(0x80000000ull)
                    .str()),
       LoadStatus::Generic},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CFeedsManager m;
    EXPECT_EQ(Load(m, c.bytes), c.status);
    // A record read whole before the failure is kept and indexed.
    EXPECT_EQ(m.GetGroup(6) != nullptr, c.keepsGroup);
    EXPECT_EQ(m.Storage().Size(), c.keepsGroup ? 1u : 0u);
  }
}

TEST(SerializeTest, LaterRecordWithTheSameIdentifierReplacesTheEarlier) {
  CFeedsManager m;
  ASSERT_EQ(Load(m, FileWith({6}, 2, GroupRecord(6, u"first") + GroupRecord(6, u"second"))),
            LoadStatus::Ok);
  EXPECT_EQ(m.Storage().Size(), 1u);
  EXPECT_EQ(m.GetGroup(6)->m_name, u"second");
  // Only the survivor is written back.
  CFeedsManager again;
  ASSERT_EQ(Load(again, SaveToBytes(m)), LoadStatus::Ok);
  EXPECT_EQ(again.Storage().Size(), 1u);
}

TEST(SerializeTest, FailedLoadInsideTheStoreLeavesAUsableModel) {
  // Group 6 lists group 7 and source 8; only 6 and 7 are read whole.
  const std::string records = GroupRecord(6, u"Root", {7, 70}, {8}) + GroupRecord(7, u"Child") +
                              ArchiveBytes().U32(2).Header(7, u"CFeedSource").U32(8).str();
  CFeedsManager m;
  ASSERT_EQ(Load(m, FileWith({6, 60}, 3, records)), LoadStatus::EndOfFile);
  EXPECT_EQ(m.Storage().Size(), 2u);
  DropDanglingIds(m);
  m.FixUpAfterLoad();
  EXPECT_EQ(m.RootGroups(), (IdList{6}));
  EXPECT_EQ(m.GetGroup(6)->m_childGroups, (IdList{7}));
  EXPECT_TRUE(m.GetGroup(6)->m_sources.empty());
  ExpectConsistent(m);
  // New records never take an identifier that is held.
  m.SeedRandom(1);
  for (int i = 0; i < 1000; ++i) {
    CFeed* f = CModelWriter(m).NewFeed();
    ASSERT_NE(f->m_id, 6u);
    ASSERT_NE(f->m_id, 7u);
  }
  EXPECT_EQ(m.Storage().Size(), 1002u);
}

TEST(SerializeTest, EveryCutAndEveryDamagedByteLoadsSafely) {
  CFeedsManager original;
  test::BuildSampleModel(original, 10);
  const std::string bytes = SaveToBytes(original);
  ASSERT_GT(bytes.size(), 4000u);

  for (size_t cut = 0; cut < bytes.size(); ++cut) {
    CFeedsManager m;
    uint64_t reserved = 0;
    ASSERT_EQ(Load(m, bytes.substr(0, cut), &reserved), LoadStatus::EndOfFile) << cut;
    ASSERT_LE(reserved, cut);
    DropDanglingIds(m);
    m.FixUpAfterLoad();
    ASSERT_FALSE(m.RootGroups().empty());
    IdList all;
    m.CollectFeeds(0, all);
    for (ObjectId id : all) ASSERT_NE(m.GetFeed(id), nullptr);
  }

  // One byte set to FF, then to 00, at every position.
  for (size_t pos = 0; pos < bytes.size(); ++pos) {
    for (char value : {'\xFF', '\x00'}) {
      std::string damaged = bytes;
      if (damaged[pos] == value) continue;
      damaged[pos] = value;
      CFeedsManager m;
      uint64_t reserved = 0;
      const LoadStatus status = Load(m, damaged, &reserved);
      ASSERT_LE(reserved, damaged.size()) << pos;
      if (status != LoadStatus::Ok) DropDanglingIds(m);
      m.FixUpAfterLoad();
      if (status != LoadStatus::Ok) {
        ExpectConsistent(m);
        if (HasFailure()) FAIL() << "damaged byte at " << pos;
      }
    }
  }
}

}  // namespace
}  // namespace qb
