// Builds data file bytes by hand, for tests that need files the program
// would never write (old versions, damaged records).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qb::test {

class ArchiveBytes {
 public:
  ArchiveBytes& U8(uint8_t v) {
    m_bytes.push_back(static_cast<char>(v));
    return *this;
  }
  ArchiveBytes& U16(uint16_t v) { return U8(v & 0xFF).U8(v >> 8); }
  ArchiveBytes& U32(uint32_t v) { return U16(v & 0xFFFF).U16(v >> 16); }
  ArchiveBytes& U64(uint64_t v) { return U32(v & 0xFFFFFFFF).U32(static_cast<uint32_t>(v >> 32)); }
  ArchiveBytes& I32(int32_t v) { return U32(static_cast<uint32_t>(v)); }
  // A tagged string with the short length form (fewer than 255 units).
  ArchiveBytes& Str(std::u16string_view s) {
    U8(0xFF).U16(0xFFFE).U8(static_cast<uint8_t>(s.size()));
    for (char16_t c : s) U16(c);
    return *this;
  }
  ArchiveBytes& Header(uint8_t version, std::u16string_view name) { return U8(version).Str(name); }
  ArchiveBytes& Date(int32_t y, int32_t mo, int32_t d, int32_t h, int32_t mi, int32_t s) {
    return I32(y).I32(mo).I32(d).I32(h).I32(mi).I32(s);
  }
  ArchiveBytes& Raw(std::string_view bytes) {
    m_bytes += bytes;
    return *this;
  }

  const std::string& str() const { return m_bytes; }

 private:
  std::string m_bytes;
};

}  // namespace qb::test
