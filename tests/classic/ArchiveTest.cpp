#include "classic/Archive.h"

#include <gtest/gtest.h>

#include <functional>

#include "tests/support/ArchiveBytes.h"

namespace qb {
namespace {

using test::ArchiveBytes;

std::string Store(const std::function<void(CArchive&)>& write) {
  CStringWriter writer;
  CArchive ar(writer);
  write(ar);
  ar.Flush();
  return writer.bytes();
}

// Runs `read` on the bytes and returns the failure cause, if any.
std::optional<ArchiveCause> LoadCause(const std::string& bytes,
                                      const std::function<void(CArchive&)>& read) {
  CMemoryReader reader(bytes);
  CArchive ar(reader);
  try {
    read(ar);
  } catch (const CArchiveException& e) {
    return e.Cause();
  }
  return std::nullopt;
}

std::u16string ReadOne(const std::string& bytes) {
  std::u16string s;
  EXPECT_EQ(LoadCause(bytes, [&](CArchive& ar) { s = ar.ReadString(); }), std::nullopt);
  return s;
}

TEST(ArchiveTest, IntegersAreLittleEndianWithoutPadding) {
  const std::string bytes = Store([](CArchive& ar) {
    ar.WriteU8(0xAB);
    ar.WriteU16(0x1234);
    ar.WriteU32(0x89ABCDEF);
    ar.WriteI32(-2);
    ar.WriteU64(0x0102030405060708ull);
    ar.WriteBool(true);
    ar.WriteBool(false);
  });
  EXPECT_EQ(bytes, std::string("\xAB\x34\x12\xEF\xCD\xAB\x89\xFE\xFF\xFF\xFF"
                               "\x08\x07\x06\x05\x04\x03\x02\x01\x01\x00",
                               21));
  CMemoryReader reader(bytes);
  CArchive ar(reader);
  EXPECT_EQ(ar.ReadU8(), 0xAB);
  EXPECT_EQ(ar.ReadU16(), 0x1234);
  EXPECT_EQ(ar.ReadU32(), 0x89ABCDEFu);
  EXPECT_EQ(ar.ReadI32(), -2);
  EXPECT_EQ(ar.ReadU64(), 0x0102030405060708ull);
  EXPECT_TRUE(ar.ReadBool());
  EXPECT_FALSE(ar.ReadBool());
  EXPECT_EQ(ar.Remaining(), 0u);
}

TEST(ArchiveTest, BoolIsTrueOnlyForOne) {
  const std::string bytes("\x00\x01\x02\xFF", 4);
  CMemoryReader reader(bytes);
  CArchive ar(reader);
  EXPECT_FALSE(ar.ReadBool());
  EXPECT_TRUE(ar.ReadBool());
  EXPECT_FALSE(ar.ReadBool());
  EXPECT_FALSE(ar.ReadBool());
}

TEST(ArchiveTest, StringLengthHeaders) {
  struct Case {
    size_t length;
    std::string header;  // after the Unicode tag
  };
  const Case cases[] = {
      {0, std::string("\x00", 1)},
      {1, "\x01"},
      {254, "\xFE"},
      {255, std::string("\xFF\xFF\x00", 3)},
      {65533, "\xFF\xFD\xFF"},
      {65534, std::string("\xFF\xFF\xFF\xFE\xFF\x00\x00", 7)},
      {65535, std::string("\xFF\xFF\xFF\xFF\xFF\x00\x00", 7)},
      {70000, std::string("\xFF\xFF\xFF\x70\x11\x01\x00", 7)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.length);
    std::u16string s(c.length, u'x');
    for (size_t i = 0; i < s.size(); ++i) s[i] = static_cast<char16_t>(u'a' + i % 26);
    const std::string bytes = Store([&](CArchive& ar) { ar.WriteString(s); });
    ASSERT_EQ(bytes.size(), 3 + c.header.size() + 2 * c.length);
    EXPECT_EQ(bytes.substr(0, 3), "\xFF\xFE\xFF");
    EXPECT_EQ(bytes.substr(3, c.header.size()), c.header);
    EXPECT_EQ(ReadOne(bytes), s);
  }
}

TEST(ArchiveTest, NonBmpTextAndLoneSurrogatesSurvive) {
  const std::u16string s = u"A\U0001F600B\xD800 \xDC00\u00E9\u0000end";
  const std::string bytes = Store([&](CArchive& ar) { ar.WriteString(s); });
  EXPECT_EQ(bytes.substr(0, 4), std::string("\xFF\xFE\xFF") + static_cast<char>(s.size()));
  EXPECT_EQ(bytes.substr(6, 4), std::string("\x3D\xD8\x00\xDE", 4));  // the surrogate pair, little-endian
  EXPECT_EQ(ReadOne(bytes), s);
}

TEST(ArchiveTest, ReadsUntaggedAndLongFormLengths) {
  struct Case {
    const char* name;
    std::string bytes;
    std::u16string expected;
  };
  const Case cases[] = {
      {"single-byte", std::string("\x03" "abc"), u"abc"},
      {"Windows-1252", std::string("\x05\x80\x9F\xE9\x81\x41"), u"\u20AC\u0178\u00E9\u0081A"},
      {"single-byte u16 length", std::string("\xFF\x02\x00xy", 5), u"xy"},
      {"single-byte u32 length", std::string("\xFF\xFF\xFF\x02\x00\x00\x00xy", 9), u"xy"},
      {"single-byte u64 length",
       std::string("\xFF\xFF\xFF\xFF\xFF\xFF\xFF\x02\x00\x00\x00\x00\x00\x00\x00xy", 17), u"xy"},
      {"tagged u16 length", std::string("\xFF\xFE\xFF\xFF\x01\x00z\x00", 8), u"z"},
      {"tagged u32 length",
       std::string("\xFF\xFE\xFF\xFF\xFF\xFF\x01\x00\x00\x00z\x00", 12), u"z"},
      {"tagged u64 length",
       std::string("\xFF\xFE\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\x01\x00\x00\x00\x00\x00\x00\x00z\x00",
                   20),
       u"z"},
      {"tag repeated", std::string("\xFF\xFE\xFF\xFF\xFE\xFF\x01z\x00", 9), u"z"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ReadOne(c.bytes), c.expected);
  }
}

TEST(ArchiveTest, ImpossibleLengthsFailWithoutReserving) {
  struct Case {
    const char* name;
    std::string bytes;
    ArchiveCause cause;
  };
  const Case cases[] = {
      // 2^31 code units claimed by a file of a few bytes.
      {"u32 length past the end", std::string("\xFF\xFE\xFF\xFF\xFF\xFF\x00\x00\x00\x80", 10),
       ArchiveCause::EndOfFile},
      {"u64 length within limit past the end",
       std::string("\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\x7F\x00\x00\x00\x00", 15),
       ArchiveCause::EndOfFile},
      {"u64 length above 2^31-1",
       std::string("\xFF\xFF\xFF\xFF\xFF\xFF\xFF\x00\x00\x00\x80\x00\x00\x00\x00", 15),
       ArchiveCause::Generic},
      {"one character short", std::string("\xFF\xFE\xFF\x02z\x00y", 7), ArchiveCause::EndOfFile},
      {"cut inside the header", std::string("\xFF\xFE", 2), ArchiveCause::EndOfFile},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CMemoryReader reader(c.bytes);
    CArchive ar(reader);
    try {
      ar.ReadString();
      ADD_FAILURE() << "no failure";
    } catch (const CArchiveException& e) {
      EXPECT_EQ(e.Cause(), c.cause);
    }
    EXPECT_LE(ar.LargestReservation(), c.bytes.size());
  }

  // A list claiming a billion identifiers.
  const std::string list = ArchiveBytes().U32(1000000000).U32(7).str();
  EXPECT_EQ(LoadCause(list, [](CArchive& a) { a.ReadIdList(); }), ArchiveCause::EndOfFile);
}

TEST(ArchiveTest, IdListsAndDateTimes) {
  CDateTime zero;
  CDateTime when;
  when.SetDateTime(2026, 12, 8, 16, 42, 5);
  const std::string bytes = Store([&](CArchive& ar) {
    ar.WriteIdList({});
    ar.WriteIdList({0x00012345, 7});
    ar.WriteDateTime(zero);
    ar.WriteDateTime(when);
    ar.WriteDateTime(CDateTime::Invalid());
    ar.WriteDateTime(CDateTime::Null());
  });
  const std::string expected = ArchiveBytes()
                                   .U32(0)
                                   .U32(2)
                                   .U32(0x00012345)
                                   .U32(7)
                                   .Date(1899, 12, 30, 0, 0, 0)
                                   .Date(2026, 12, 8, 16, 42, 5)
                                   .Date(-1, -1, -1, -1, -1, -1)
                                   .Date(-1, -1, -1, -1, -1, -1)
                                   .str();
  EXPECT_EQ(bytes, expected);

  CMemoryReader reader(bytes);
  CArchive ar(reader);
  EXPECT_TRUE(ar.ReadIdList().empty());
  EXPECT_EQ(ar.ReadIdList(), (IdList{0x00012345, 7}));
  const CDateTime z = ar.ReadDateTime();
  EXPECT_TRUE(z.IsValid());
  EXPECT_EQ(z, zero);
  EXPECT_EQ(ar.ReadDateTime(), when);
  EXPECT_FALSE(ar.ReadDateTime().IsValid());
  EXPECT_FALSE(ar.ReadDateTime().IsValid());
}

TEST(ArchiveTest, DateTimesThatAreNotRealReadAsInvalid) {
  const DateFields bad[] = {{2026, 13, 1, 0, 0, 0}, {2026, 4, 31, 0, 0, 0}, {99, 1, 1, 0, 0, 0},
                            {10000, 1, 1, 0, 0, 0}, {2026, 1, 1, 24, 0, 0}, {2026, 2, 29, 0, 0, 0}};
  for (const DateFields& f : bad) {
    const std::string bytes =
        ArchiveBytes().Date(f.year, f.month, f.day, f.hour, f.minute, f.second).str();
    CMemoryReader reader(bytes);
    CArchive ar(reader);
    EXPECT_FALSE(ar.ReadDateTime().IsValid()) << f.year << "-" << f.month << "-" << f.day;
  }
}

TEST(ArchiveTest, RecordHeaderChecks) {
  struct Case {
    const char* name;
    std::string bytes;
    std::optional<ArchiveCause> cause;
  };
  const Case cases[] = {
      {"current", ArchiveBytes().Header(3, u"CFeed").str(), std::nullopt},
      {"older", ArchiveBytes().Header(1, u"CFeed").str(), std::nullopt},
      {"untagged name", std::string("\x02\x05" "CFeed"), std::nullopt},
      {"newer", ArchiveBytes().Header(4, u"CFeed").str(), ArchiveCause::BadSchema},
      {"one letter off", ArchiveBytes().Header(3, u"CFeeD").str(), ArchiveCause::BadClass},
      {"another class", ArchiveBytes().Header(3, u"CGroup").str(), ArchiveCause::BadClass},
      {"name cut short", ArchiveBytes().Header(3, u"CFeed").str().substr(0, 8),
       ArchiveCause::EndOfFile},
      {"huge name", std::string("\x03\xFF\xFE\xFF\xFF\xFF\xFF\x00\x00\x00\x40", 11),
       ArchiveCause::EndOfFile},
      {"empty", "", ArchiveCause::EndOfFile},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(LoadCause(c.bytes, [](CArchive& ar) { ar.SerializeHeader(3, u"CFeed"); }), c.cause);
  }
}

TEST(ArchiveTest, SharedStringsShareOneCopyPerContent) {
  const std::u16string big(100000, u'q');
  const std::string bytes = Store([&](CArchive& ar) {
    ar.WriteString(big);
    ar.WriteString(u"other");
    ar.WriteString(big);
    ar.WriteString(u"");
  });
  CMemoryReader reader(bytes);
  CArchive ar(reader);
  const SharedText a = ar.ReadSharedString();
  const SharedText b = ar.ReadSharedString();
  const SharedText c = ar.ReadSharedString();
  const SharedText d = ar.ReadSharedString();
  EXPECT_EQ(a.str(), big);
  EXPECT_EQ(b.str(), u"other");
  EXPECT_TRUE(a.SharesWith(c));
  EXPECT_FALSE(a.SharesWith(b));
  EXPECT_TRUE(d.empty());
}

TEST(ArchiveTest, LargeBlocksPassTheBufferInBothDirections) {
  // Writes straddling the buffer boundary in every phase.
  std::u16string s(3 * CArchive::kBufferSize + 5, u'\0');
  for (size_t i = 0; i < s.size(); ++i) s[i] = static_cast<char16_t>(i * 7919);
  for (size_t prefix : {0u, 1u, 4095u, 4096u, 4097u}) {
    SCOPED_TRACE(prefix);
    const std::string bytes = Store([&](CArchive& ar) {
      for (size_t i = 0; i < prefix; ++i) ar.WriteU8(static_cast<uint8_t>(i));
      ar.WriteString(s);
      ar.WriteU32(0xC0FFEE);
    });
    CMemoryReader reader(bytes);
    CArchive ar(reader);
    for (size_t i = 0; i < prefix; ++i) ASSERT_EQ(ar.ReadU8(), static_cast<uint8_t>(i));
    EXPECT_EQ(ar.ReadString(), s);
    EXPECT_EQ(ar.ReadU32(), 0xC0FFEEu);
  }
}

}  // namespace
}  // namespace qb
