#include "classic/Archive.h"

#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <limits>

namespace qb {

namespace {

constexpr uint64_t kMaxStringLength = std::numeric_limits<int32_t>::max();

template <typename T>
T FromLittleEndian(const unsigned char* p) {
  T v = 0;
  for (size_t i = 0; i < sizeof(T); ++i) v |= static_cast<T>(static_cast<T>(p[i]) << (8 * i));
  return v;
}

template <typename T>
void ToLittleEndian(T v, unsigned char* p) {
  for (size_t i = 0; i < sizeof(T); ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

}  // namespace

// --- readers and writers

bool CMemoryReader::Read(void* data, size_t size, size_t& got) {
  got = std::min(size, m_bytes.size() - m_pos);
  if (got != 0) std::memcpy(data, m_bytes.data() + m_pos, got);
  m_pos += got;
  return true;
}

bool CStringWriter::Write(const void* data, size_t size) {
  m_bytes.append(static_cast<const char*>(data), size);
  return true;
}

bool CFileReader::Read(void* data, size_t size, size_t& got) {
  got = 0;
  const size_t wanted = static_cast<size_t>(std::min<uint64_t>(size, m_remaining));
  while (got < wanted) {
    const ssize_t n = ::read(m_fd, static_cast<char*>(data) + got, wanted - got);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) {
      // The file shrank under us: what is missing is the end of the file.
      m_remaining = 0;
      break;
    }
    got += static_cast<size_t>(n);
    m_remaining -= static_cast<uint64_t>(n);
  }
  return true;
}

bool CFileWriter::Write(const void* data, size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size != 0) {
    const ssize_t n = ::write(m_fd, p, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// --- the archive

CArchive::CArchive(IArchiveWriter& writer)
    : m_writer(&writer), m_buffer(new unsigned char[kBufferSize]) {}

CArchive::CArchive(IArchiveReader& reader)
    : m_reader(&reader), m_buffer(new unsigned char[kBufferSize]) {}

CArchive::~CArchive() = default;

void CArchive::Fail(ArchiveCause cause, const std::string& what) {
  throw CArchiveException(cause, what);
}

void CArchive::WriteBuffer() {
  if (m_pos == 0) return;
  if (!m_writer->Write(m_buffer.get(), m_pos)) {
    Fail(ArchiveCause::Generic, std::string("cannot write: ") + std::strerror(errno));
  }
  m_pos = 0;
}

void CArchive::Flush() {
  if (IsStoring()) WriteBuffer();
}

void CArchive::WriteBytes(const void* data, size_t size) {
  if (size == 0) return;  // an empty vector's data may be null
  const unsigned char* p = static_cast<const unsigned char*>(data);
  if (size <= kBufferSize - m_pos) {
    std::memcpy(m_buffer.get() + m_pos, p, size);
    m_pos += size;
    return;
  }
  // Top the buffer up, write it, then send large blocks straight through.
  const size_t head = kBufferSize - m_pos;
  std::memcpy(m_buffer.get() + m_pos, p, head);
  m_pos = kBufferSize;
  p += head;
  size -= head;
  WriteBuffer();
  if (size >= kBufferSize) {
    if (!m_writer->Write(p, size)) {
      Fail(ArchiveCause::Generic, std::string("cannot write: ") + std::strerror(errno));
    }
    return;
  }
  std::memcpy(m_buffer.get(), p, size);
  m_pos = size;
}

bool CArchive::FillBuffer() {
  size_t got = 0;
  if (!m_reader->Read(m_buffer.get(), kBufferSize, got)) {
    Fail(ArchiveCause::Generic, std::string("cannot read: ") + std::strerror(errno));
  }
  m_pos = 0;
  m_end = got;
  return got != 0;
}

void CArchive::ReadBytes(void* data, size_t size) {
  if (size == 0) return;
  unsigned char* p = static_cast<unsigned char*>(data);
  const size_t buffered = std::min(size, m_end - m_pos);
  if (buffered != 0) std::memcpy(p, m_buffer.get() + m_pos, buffered);
  m_pos += buffered;
  p += buffered;
  size -= buffered;
  while (size != 0) {
    if (size >= kBufferSize) {
      // Large blocks go straight into their destination.
      size_t got = 0;
      if (!m_reader->Read(p, size, got)) {
        Fail(ArchiveCause::Generic, std::string("cannot read: ") + std::strerror(errno));
      }
      if (got == 0) Fail(ArchiveCause::EndOfFile, "the file ends inside a record");
      p += got;
      size -= got;
      continue;
    }
    if (!FillBuffer()) Fail(ArchiveCause::EndOfFile, "the file ends inside a record");
    const size_t n = std::min(size, m_end);
    std::memcpy(p, m_buffer.get(), n);
    m_pos = n;
    p += n;
    size -= n;
  }
}

uint64_t CArchive::Remaining() const {
  return IsLoading() ? (m_end - m_pos) + m_reader->Remaining() : 0;
}

void CArchive::RequireRemaining(uint64_t bytes) {
  if (bytes > Remaining()) {
    Fail(ArchiveCause::EndOfFile, "a stated length exceeds the rest of the file");
  }
}

void CArchive::NoteReservation(uint64_t bytes) {
  m_largestReservation = std::max(m_largestReservation, bytes);
}

// --- primitives

void CArchive::WriteU16(uint16_t v) {
  unsigned char b[2];
  ToLittleEndian(v, b);
  WriteBytes(b, sizeof b);
}

void CArchive::WriteU32(uint32_t v) {
  unsigned char b[4];
  ToLittleEndian(v, b);
  WriteBytes(b, sizeof b);
}

void CArchive::WriteU64(uint64_t v) {
  unsigned char b[8];
  ToLittleEndian(v, b);
  WriteBytes(b, sizeof b);
}

uint8_t CArchive::ReadU8() {
  if (m_pos < m_end) return m_buffer[m_pos++];
  uint8_t v = 0;
  ReadBytes(&v, 1);
  return v;
}

uint16_t CArchive::ReadU16() {
  unsigned char b[2];
  ReadBytes(b, sizeof b);
  return FromLittleEndian<uint16_t>(b);
}

uint32_t CArchive::ReadU32() {
  unsigned char b[4];
  ReadBytes(b, sizeof b);
  return FromLittleEndian<uint32_t>(b);
}

uint64_t CArchive::ReadU64() {
  unsigned char b[8];
  ReadBytes(b, sizeof b);
  return FromLittleEndian<uint64_t>(b);
}

void CArchive::WriteString(std::u16string_view s) {
  WriteU8(0xFF);
  WriteU16(0xFFFE);
  const uint64_t length = s.size();
  if (length < 0xFF) {
    WriteU8(static_cast<uint8_t>(length));
  } else {
    WriteU8(0xFF);
    if (length < 0xFFFE) {
      WriteU16(static_cast<uint16_t>(length));
    } else {
      WriteU16(0xFFFF);
      if (length < 0xFFFFFFFF) {
        WriteU32(static_cast<uint32_t>(length));
      } else {
        WriteU32(0xFFFFFFFF);
        WriteU64(length);
      }
    }
  }
  if constexpr (std::endian::native == std::endian::little) {
    WriteBytes(s.data(), s.size() * sizeof(char16_t));
  } else {
    for (char16_t c : s) WriteU16(c);
  }
}

uint64_t CArchive::ReadStringLength(bool& wide) {
  wide = false;
  for (;;) {
    const uint8_t b = ReadU8();
    if (b != 0xFF) return b;
    const uint16_t w = ReadU16();
    if (w == 0xFFFE) {
      // The Unicode tag: the length starts over and characters are UTF-16.
      wide = true;
      continue;
    }
    if (w != 0xFFFF) return w;
    const uint32_t d = ReadU32();
    if (d != 0xFFFFFFFF) return d;
    const uint64_t q = ReadU64();
    if (q > kMaxStringLength) Fail(ArchiveCause::Generic, "a string length is too large");
    return q;
  }
}

void CArchive::ReadChars(uint64_t length, bool wide, std::u16string& out) {
  const uint64_t bytes = wide ? length * 2 : length;
  RequireRemaining(bytes);
  NoteReservation(bytes);
  if (out.size() != length) out.resize(static_cast<size_t>(length));
  if (wide) {
    ReadBytes(out.data(), static_cast<size_t>(bytes));
    if constexpr (std::endian::native != std::endian::little) {
      for (char16_t& c : out) c = static_cast<char16_t>((c >> 8) | (c << 8));
    }
    return;
  }
  std::string narrow(static_cast<size_t>(length), '\0');
  ReadBytes(narrow.data(), narrow.size());
  for (size_t i = 0; i < narrow.size(); ++i) {
    out[i] = Windows1252ToUtf16(static_cast<unsigned char>(narrow[i]));
  }
}

std::u16string CArchive::ReadString() {
  bool wide = false;
  const uint64_t length = ReadStringLength(wide);
  std::u16string s;
  ReadChars(length, wide, s);
  return s;
}

// Feed texts run to hundreds of kilobytes and every article's copy is
// hashed, so this reads eight bytes at a time in four independent lanes.
size_t CArchive::TextHash::operator()(std::u16string_view text) const {
  constexpr uint64_t kMul = 0x9E3779B97F4A7C15ull;
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text.data());
  size_t n = text.size() * sizeof(char16_t);
  uint64_t lanes[4] = {n, n ^ 0x243F6A8885A308D3ull, n ^ 0x13198A2E03707344ull,
                       n ^ 0xA4093822299F31D0ull};
  auto mix = [](uint64_t h, uint64_t w) {
    h = (h ^ w) * kMul;
    return h ^ (h >> 29);
  };
  for (; n >= 32; p += 32, n -= 32) {
    for (int i = 0; i < 4; ++i) {
      uint64_t w;
      std::memcpy(&w, p + 8 * i, 8);
      lanes[i] = mix(lanes[i], w);
    }
  }
  uint64_t tail = 0;
  for (size_t i = 0; i < n; ++i) tail = (tail << 8) | p[i];
  uint64_t h = mix(lanes[0], tail);
  for (int i = 1; i < 4; ++i) h = mix(h, lanes[i]);
  return static_cast<size_t>(h);
}

bool CArchive::TextEqual::operator()(std::u16string_view a, std::u16string_view b) const {
  return a.size() == b.size() &&
         (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(char16_t)) == 0);
}

SharedText CArchive::ReadSharedString() {
  bool wide = false;
  const uint64_t length = ReadStringLength(wide);
  if (length == 0) return SharedText();
  ReadChars(length, wide, m_scratch);
  if (!m_shareTexts) return SharedText(std::u16string(m_scratch));
  auto it = m_interned.find(std::u16string_view(m_scratch));
  if (it != m_interned.end()) return SharedText(it->second);
  auto text = std::make_shared<const std::u16string>(m_scratch);
  m_interned.emplace(std::u16string_view(*text), text);
  return SharedText(std::move(text));
}

void CArchive::WriteIdList(const IdList& list) {
  WriteU32(static_cast<uint32_t>(list.size()));
  if constexpr (std::endian::native == std::endian::little) {
    WriteBytes(list.data(), list.size() * sizeof(ObjectId));
  } else {
    for (ObjectId id : list) WriteU32(id);
  }
}

IdList CArchive::ReadIdList() {
  const uint32_t count = ReadU32();
  const uint64_t bytes = uint64_t{count} * sizeof(ObjectId);
  RequireRemaining(bytes);
  NoteReservation(bytes);
  IdList list(count);
  if constexpr (std::endian::native == std::endian::little) {
    ReadBytes(list.data(), static_cast<size_t>(bytes));
  } else {
    for (ObjectId& id : list) id = ReadU32();
  }
  return list;
}

void CArchive::WriteDateTime(const CDateTime& t) {
  DateFields f;
  if (!t.GetFields(f)) f = DateFields{-1, -1, -1, -1, -1, -1};
  const int32_t fields[6] = {f.year, f.month, f.day, f.hour, f.minute, f.second};
  for (int32_t v : fields) WriteI32(v);
}

CDateTime CArchive::ReadDateTime() {
  int32_t f[6];
  for (int32_t& v : f) v = ReadI32();
  CDateTime t;
  t.SetDateTime(f[0], f[1], f[2], f[3], f[4], f[5]);
  return t;
}

uint8_t CArchive::SerializeHeader(uint8_t currentVersion, std::u16string_view className) {
  if (IsStoring()) {
    WriteU8(currentVersion);
    WriteString(className);
    return currentVersion;
  }
  const uint8_t version = ReadU8();
  if (version > currentVersion) {
    Fail(ArchiveCause::BadSchema, "a record of " + std::string(className.begin(), className.end()) +
                                      " has version " + std::to_string(version) +
                                      ", newer than " + std::to_string(currentVersion));
  }
  // The name is compared without reading more than it could be: a damaged
  // length must not make us reserve memory for it.
  bool wide = false;
  const uint64_t length = ReadStringLength(wide);
  if (length != className.size()) {
    RequireRemaining(wide ? length * 2 : length);
    Fail(ArchiveCause::BadClass,
         "expected a record of " + std::string(className.begin(), className.end()));
  }
  std::u16string name;
  ReadChars(length, wide, name);
  if (name != className) {
    Fail(ArchiveCause::BadClass,
         "expected a record of " + std::string(className.begin(), className.end()));
  }
  return version;
}

char16_t Windows1252ToUtf16(unsigned char c) {
  static constexpr char16_t kHigh[32] = {
      0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
      0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
      0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
      0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
  return c >= 0x80 && c < 0xA0 ? kHigh[c - 0x80] : static_cast<char16_t>(c);
}

}  // namespace qb
