// CArchive: the binary form of the data file. One archive either stores to a
// byte writer or loads from a byte reader, through a 4096-byte buffer, and
// offers the primitive encodings the records are made of. Every record class
// has one Serialize routine that serves both directions, so writer and reader
// agree field by field.
//
// Loading never trusts a stated length: a string or list that claims more
// than is left of the input ends the load as end-of-file before any memory is
// reserved for it. Every failure raises CArchiveException with its cause.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/DateTime.h"
#include "base/SharedText.h"
#include "model/RSSObject.h"

namespace qb {

enum class ArchiveCause {
  Generic,    // any other failure: an unrepresentable length, an I/O error
  EndOfFile,  // the input ended inside a record, or a length exceeds what is left
  BadClass,   // a record of another kind where a record was expected
  BadSchema,  // a record version newer than this program knows
};

class CArchiveException : public std::runtime_error {
 public:
  CArchiveException(ArchiveCause cause, const std::string& what)
      : std::runtime_error(what), m_cause(cause) {}
  ArchiveCause Cause() const { return m_cause; }

 private:
  ArchiveCause m_cause;
};

// Where a storing archive puts its bytes.
class IArchiveWriter {
 public:
  virtual ~IArchiveWriter() = default;
  // Writes all `size` bytes; false on failure (the archive then fails).
  virtual bool Write(const void* data, size_t size) = 0;
};

// Where a loading archive takes its bytes from.
class IArchiveReader {
 public:
  virtual ~IArchiveReader() = default;
  // Reads up to `size` bytes into `data` and returns how many; 0 at the end.
  // False on an I/O error.
  virtual bool Read(void* data, size_t size, size_t& got) = 0;
  // The number of bytes not yet read.
  virtual uint64_t Remaining() const = 0;
};

// Reads from bytes held in memory (not copied: they must outlive the reader).
class CMemoryReader : public IArchiveReader {
 public:
  explicit CMemoryReader(std::string_view bytes) : m_bytes(bytes) {}
  bool Read(void* data, size_t size, size_t& got) override;
  uint64_t Remaining() const override { return m_bytes.size() - m_pos; }

 private:
  std::string_view m_bytes;
  size_t m_pos = 0;
};

// Appends to a string.
class CStringWriter : public IArchiveWriter {
 public:
  bool Write(const void* data, size_t size) override;
  const std::string& bytes() const { return m_bytes; }

 private:
  std::string m_bytes;
};

// Reads an open file descriptor from its current position to the end it had
// when the reader was made. Does not own the descriptor.
class CFileReader : public IArchiveReader {
 public:
  // `size` is the length of the file (fstat); the reader counts down from it.
  CFileReader(int fd, uint64_t size) : m_fd(fd), m_remaining(size) {}
  bool Read(void* data, size_t size, size_t& got) override;
  uint64_t Remaining() const override { return m_remaining; }

 private:
  int m_fd;
  uint64_t m_remaining;
};

// Writes to an open file descriptor, retrying short writes. Does not own it.
class CFileWriter : public IArchiveWriter {
 public:
  explicit CFileWriter(int fd) : m_fd(fd) {}
  bool Write(const void* data, size_t size) override;

 private:
  int m_fd;
};

class CArchive {
 public:
  static constexpr size_t kBufferSize = 4096;

  // A storing archive. Call Flush() at the end: bytes still in the buffer
  // are not written by the destructor.
  explicit CArchive(IArchiveWriter& writer);
  // A loading archive.
  explicit CArchive(IArchiveReader& reader);
  CArchive(const CArchive&) = delete;
  CArchive& operator=(const CArchive&) = delete;
  ~CArchive();

  bool IsStoring() const { return m_writer != nullptr; }
  bool IsLoading() const { return m_reader != nullptr; }

  // Storing: writes the buffered bytes out. Throws on failure.
  void Flush();

  // --- primitives, little-endian. Each Write* needs a storing archive, each
  // Read* a loading one.
  void WriteU8(uint8_t v) { WriteBytes(&v, 1); }
  void WriteU16(uint16_t v);
  void WriteU32(uint32_t v);
  void WriteU64(uint64_t v);
  void WriteI32(int32_t v) { WriteU32(static_cast<uint32_t>(v)); }
  void WriteBool(bool v) { WriteU8(v ? 1 : 0); }
  // Unicode tag, length, then UTF-16LE code units.
  void WriteString(std::u16string_view s);
  void WriteIdList(const IdList& list);
  // Six i32: year, month, day, hour, minute, second; all -1 when not valid.
  void WriteDateTime(const CDateTime& t);

  uint8_t ReadU8();
  uint16_t ReadU16();
  uint32_t ReadU32();
  uint64_t ReadU64();
  int32_t ReadI32() { return static_cast<int32_t>(ReadU32()); }
  // True only for the byte 1.
  bool ReadBool() { return ReadU8() == 1; }
  // Accepts the tagged UTF-16 form and the untagged single-byte form, whose
  // characters are Windows-1252.
  std::u16string ReadString();
  // A string that is likely to repeat (the feed text every article of one
  // download carries): equal texts read by one archive share one copy,
  // unless SetShareTexts(false) was called.
  SharedText ReadSharedString();
  // Loading: whether ReadSharedString shares equal texts. Sharing keeps
  // every text read alive for as long as the archive; a reader that lets
  // each text go once it is stored elsewhere turns it off.
  void SetShareTexts(bool share) { m_shareTexts = share; }
  IdList ReadIdList();
  // Invalid unless the six numbers name a real date and time.
  CDateTime ReadDateTime();

  // --- both directions: write the value when storing, replace it when loading.
  void Serialize(uint8_t& v) { IsStoring() ? WriteU8(v) : void(v = ReadU8()); }
  void Serialize(uint32_t& v) { IsStoring() ? WriteU32(v) : void(v = ReadU32()); }
  void Serialize(int32_t& v) { IsStoring() ? WriteI32(v) : void(v = ReadI32()); }
  void Serialize(bool& v) { IsStoring() ? WriteBool(v) : void(v = ReadBool()); }
  void Serialize(std::u16string& v) { IsStoring() ? WriteString(v) : void(v = ReadString()); }
  void Serialize(SharedText& v) {
    IsStoring() ? WriteString(v.str()) : void(v = ReadSharedString());
  }
  void Serialize(IdList& v) { IsStoring() ? WriteIdList(v) : void(v = ReadIdList()); }
  void Serialize(CDateTime& v) { IsStoring() ? WriteDateTime(v) : void(v = ReadDateTime()); }

  // The record header: a version byte and the class name. Storing writes
  // `currentVersion` and returns it. Loading returns the version read; a
  // version above `currentVersion` fails as bad-schema, a name that differs
  // in any code unit as bad-class.
  uint8_t SerializeHeader(uint8_t currentVersion, std::u16string_view className);

  // Loading: throws end-of-file unless at least `bytes` are left to read.
  // Run before reserving memory for a stated length.
  void RequireRemaining(uint64_t bytes);
  // Loading: the bytes not yet consumed.
  uint64_t Remaining() const;
  // Loading: the largest single reservation made for a stated length, in bytes.
  uint64_t LargestReservation() const { return m_largestReservation; }

  [[noreturn]] static void Fail(ArchiveCause cause, const std::string& what);

 private:
  void WriteBytes(const void* data, size_t size);
  void ReadBytes(void* data, size_t size);
  void WriteBuffer();
  bool FillBuffer();
  // The string length header; `wide` tells whether the characters are UTF-16.
  uint64_t ReadStringLength(bool& wide);
  // Reads `length` characters of the form `wide` into `out`.
  void ReadChars(uint64_t length, bool wide, std::u16string& out);
  void NoteReservation(uint64_t bytes);

  IArchiveWriter* m_writer = nullptr;
  IArchiveReader* m_reader = nullptr;
  std::unique_ptr<unsigned char[]> m_buffer;
  size_t m_pos = 0;  // next byte of the buffer to consume (load) or fill (store)
  size_t m_end = 0;  // loading: bytes valid in the buffer
  uint64_t m_largestReservation = 0;
  bool m_shareTexts = true;

  // Loading: the shared texts read so far, keyed by their content (the view
  // points into the text it names, which the map keeps alive).
  struct TextHash {
    size_t operator()(std::u16string_view text) const;
  };
  // Compares bytes at once: the standard comparison of UTF-16 text goes one
  // code unit at a time.
  struct TextEqual {
    bool operator()(std::u16string_view a, std::u16string_view b) const;
  };
  std::unordered_map<std::u16string_view, std::shared_ptr<const std::u16string>, TextHash,
                     TextEqual>
      m_interned;
  std::u16string m_scratch;
};

// Windows-1252 to UTF-16, the character set of untagged strings. The five
// bytes the code page leaves undefined map to the C1 controls of equal value.
char16_t Windows1252ToUtf16(unsigned char c);

}  // namespace qb
