#include "formats/TextDecoding.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include "base/Text.h"

namespace qb {

namespace {

constexpr char16_t kReplacement = 0xFFFD;
// An XML declaration is short; looking further only risks matching text.
constexpr size_t kDeclarationScanLimit = 1024;
constexpr size_t kEncodingNameLimit = 40;

bool IsAsciiSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Lower case without '-', '_' and spaces, so "UTF-8", "utf_8" and "Utf8"
// compare equal.
std::string NormalizeLabel(std::string_view name) {
  std::string out;
  for (char c : name) {
    if (c == '-' || c == '_' || c == ' ') continue;
    out.push_back(AsciiLower(c));
  }
  return out;
}

bool IsUtf8Label(std::string_view name) {
  const std::string n = NormalizeLabel(name);
  return n == "utf8" || n == "unicode11utf8";
}

// Labels that servers and feeds use for what is in practice windows-1252: the
// bytes 0x80-0x9F then are curly quotes and dashes rather than controls.
bool IsLatin1Label(std::string_view name) {
  const std::string n = NormalizeLabel(name);
  return n == "iso88591" || n == "latin1" || n == "l1" || n == "iso885911987" ||
         n == "isoir100" || n == "cp819" || n == "ibm819" || n == "usascii" || n == "ascii" ||
         n == "ansix3.41968" || n == "csisolatin1";
}

// Only plain names reach iconv: no "//TRANSLIT"-style suffixes, no paths.
bool IsPlainEncodingName(std::string_view name) {
  if (name.empty() || name.size() > kEncodingNameLimit) return false;
  for (char c : name) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    c == '-' || c == '_' || c == '.' || c == ':' || c == '+' || c == '(' ||
                    c == ')';
    if (!ok) return false;
  }
  return true;
}

bool StartsWith(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && s.substr(0, prefix.size()) == prefix;
}

std::string_view SkipUtf8Bom(std::string_view bytes) {
  return StartsWith(bytes, "\xEF\xBB\xBF") ? bytes.substr(3) : bytes;
}

// A body that begins with an ASCII XML declaration must still begin with one
// once decoded; otherwise the encoding was not ASCII-compatible (a UTF-16 or
// EBCDIC label on an 8-bit document) and would turn it into garbage.
bool KeepsDeclaration(std::string_view bytes, const std::u16string& text) {
  if (!StartsWith(SkipUtf8Bom(bytes), "<?xml")) return true;
  std::u16string_view t = text;
  if (!t.empty() && t.front() == 0xFEFF) t.remove_prefix(1);
  return t.substr(0, 5) == u"<?xml";
}

// How many bytes one code unit of the encoding takes: a byte that cannot be
// decoded is skipped with the rest of its unit, so the text after it stays
// in step.
size_t CodeUnitBytes(std::string_view encoding) {
  const std::string n = NormalizeLabel(encoding);
  if (StartsWith(n, "utf16") || StartsWith(n, "ucs2")) return 2;
  if (StartsWith(n, "utf32") || StartsWith(n, "ucs4")) return 4;
  return 1;
}

// Whether the bytes at `pos` hold the ASCII character `c` as one code unit
// of `width` bytes in the given byte order (the others NUL).
bool HasUnit(std::string_view bytes, size_t pos, size_t width, bool bigEndian, char c) {
  if (pos > bytes.size() || bytes.size() - pos < width) return false;
  for (size_t k = 0; k < width; ++k) {
    const char want = (bigEndian ? k == width - 1 : k == 0) ? c : '\0';
    if (bytes[pos + k] != want) return false;
  }
  return true;
}

bool HasMarkupStart(std::string_view bytes, size_t width, bool bigEndian) {
  size_t pos = 0;
  while (HasUnit(bytes, pos, width, bigEndian, ' ') || HasUnit(bytes, pos, width, bigEndian, '\t') ||
         HasUnit(bytes, pos, width, bigEndian, '\r') || HasUnit(bytes, pos, width, bigEndian, '\n')) {
    pos += width;
  }
  if (!HasUnit(bytes, pos, width, bigEndian, '<')) return false;
  pos += width;
  if (pos > bytes.size() || bytes.size() - pos < width) return false;
  const char c = bigEndian ? bytes[pos + width - 1] : bytes[pos];
  const bool opens = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '?' || c == '!';
  return opens && HasUnit(bytes, pos, width, bigEndian, c);
}

// UTF-32 (with or without a byte-order mark) and UTF-16 without one: their
// ASCII characters come with NUL bytes, which are valid UTF-8, so they are
// recognised before UTF-8 is tried. A document without a mark is known by
// the NUL pattern of its first "<" and the character after it (the
// "<?xml" of a declaration, say); null when the bytes are none of these.
const char* WideEncoding(std::string_view bytes) {
  if (StartsWith(bytes, std::string_view("\x00\x00\xFE\xFF", 4))) return "UTF-32BE";
  if (StartsWith(bytes, std::string_view("\xFF\xFE\x00\x00", 4))) return "UTF-32LE";
  if (HasMarkupStart(bytes, 4, true)) return "UTF-32BE";
  if (HasMarkupStart(bytes, 4, false)) return "UTF-32LE";
  if (HasMarkupStart(bytes, 2, true)) return "UTF-16BE";
  if (HasMarkupStart(bytes, 2, false)) return "UTF-16LE";
  return nullptr;
}

class IconvHandle {
 public:
  IconvHandle(const char* to, const char* from) : m_cd(iconv_open(to, from)) {}
  ~IconvHandle() {
    if (ok()) iconv_close(m_cd);
  }
  IconvHandle(const IconvHandle&) = delete;
  IconvHandle& operator=(const IconvHandle&) = delete;
  bool ok() const { return m_cd != reinterpret_cast<iconv_t>(-1); }
  iconv_t get() const { return m_cd; }

 private:
  iconv_t m_cd;
};

// The length of the well-formed UTF-8 sequence of two or more bytes at `i`,
// 0 when there is none.
size_t Utf8SequenceAt(const unsigned char* p, size_t n, size_t i) {
  const unsigned char b0 = p[i];
  size_t len = 0;
  unsigned char lo = 0x80, hi = 0xBF;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    len = 2;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    len = 3;
    if (b0 == 0xE0) lo = 0xA0;
    if (b0 == 0xED) hi = 0x9F;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    len = 4;
    if (b0 == 0xF0) lo = 0x90;
    if (b0 == 0xF4) hi = 0x8F;
  } else {
    return 0;
  }
  if (n - i < len || p[i + 1] < lo || p[i + 1] > hi) return 0;
  for (size_t k = 2; k < len; ++k) {
    if (p[i + k] < 0x80 || p[i + k] > 0xBF) return 0;
  }
  return len;
}

// Whether the non-ASCII bytes form at least as many well-formed UTF-8
// sequences as broken ones: UTF-8 with a stray byte, not text in an 8-bit
// encoding (which seldom forms even one).
bool MostlyUtf8(std::string_view bytes) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const size_t n = bytes.size();
  size_t good = 0, bad = 0;
  for (size_t i = 0; i < n;) {
    if (p[i] < 0x80) {
      ++i;
      continue;
    }
    const size_t len = Utf8SequenceAt(p, n, i);
    good += len != 0 ? 1 : 0;
    bad += len == 0 ? 1 : 0;
    i += len != 0 ? len : 1;
  }
  return good > 0 && good >= bad;
}

}  // namespace

bool IsValidUtf8(std::string_view bytes) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const size_t n = bytes.size();
  size_t i = 0;
  while (i < n) {
    // Feeds are mostly ASCII: skip eight such bytes at a time.
    while (n - i >= 8) {
      uint64_t word;
      std::memcpy(&word, p + i, 8);
      if (word & 0x8080808080808080ull) break;
      i += 8;
    }
    if (i >= n) break;
    if (p[i] < 0x80) {
      ++i;
      continue;
    }
    const size_t len = Utf8SequenceAt(p, n, i);
    if (len == 0) return false;
    i += len;
  }
  return true;
}

std::string FindXmlDeclaredEncoding(std::string_view bytes) {
  std::string_view s = SkipUtf8Bom(bytes);
  if (!StartsWith(s, "<?xml") || s.size() < 6 || !IsAsciiSpace(s[5])) return {};
  s = s.substr(0, kDeclarationScanLimit);
  const size_t end = s.find("?>");
  if (end == std::string_view::npos) return {};
  s = s.substr(0, end);
  size_t pos = s.find("encoding");
  if (pos == std::string_view::npos) return {};
  pos += 8;
  while (pos < s.size() && IsAsciiSpace(s[pos])) ++pos;
  if (pos >= s.size() || s[pos] != '=') return {};
  ++pos;
  while (pos < s.size() && IsAsciiSpace(s[pos])) ++pos;
  if (pos >= s.size() || (s[pos] != '"' && s[pos] != '\'')) return {};
  const char quote = s[pos++];
  const size_t close = s.find(quote, pos);
  if (close == std::string_view::npos) return {};
  return std::string(s.substr(pos, close - pos));
}

std::string CharsetFromContentType(std::string_view contentType) {
  size_t pos = contentType.find(';');
  while (pos != std::string_view::npos) {
    std::string_view param = contentType.substr(pos + 1);
    const size_t next = param.find(';');
    if (next != std::string_view::npos) param = param.substr(0, next);
    while (!param.empty() && IsAsciiSpace(param.front())) param.remove_prefix(1);
    const size_t eq = param.find('=');
    if (eq != std::string_view::npos) {
      std::string_view name = param.substr(0, eq);
      while (!name.empty() && IsAsciiSpace(name.back())) name.remove_suffix(1);
      if (NormalizeLabel(name) == "charset") {
        std::string_view value = param.substr(eq + 1);
        while (!value.empty() && IsAsciiSpace(value.front())) value.remove_prefix(1);
        while (!value.empty() && IsAsciiSpace(value.back())) value.remove_suffix(1);
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
          value = value.substr(1, value.size() - 2);
        }
        return std::string(value);
      }
    }
    pos = (next == std::string_view::npos) ? next : pos + 1 + next;
  }
  return {};
}

bool DecodeWithEncoding(std::string_view bytes, std::string_view encoding, std::u16string& out) {
  if (!IsPlainEncodingName(encoding)) return false;
  const bool latin1 = IsLatin1Label(encoding);
  const size_t unit = CodeUnitBytes(encoding);
  const std::string from = latin1 ? std::string("WINDOWS-1252") : std::string(encoding);
  IconvHandle cd("UTF-16LE", from.c_str());
  if (!cd.ok()) return false;

  std::u16string text;
  text.reserve(bytes.size());
  char buffer[8192];
  char* in = const_cast<char*>(bytes.data());
  size_t inLeft = bytes.size();
  auto flush = [&](char* outEnd) {
    const auto* b = reinterpret_cast<const unsigned char*>(buffer);
    const size_t produced = static_cast<size_t>(outEnd - buffer);
    for (size_t i = 0; i + 1 < produced; i += 2) {
      text.push_back(static_cast<char16_t>(b[i] | (b[i + 1] << 8)));
    }
  };
  while (inLeft > 0) {
    char* outPtr = buffer;
    size_t outLeft = sizeof(buffer);
    const size_t rc = iconv(cd.get(), &in, &inLeft, &outPtr, &outLeft);
    flush(outPtr);
    if (rc != static_cast<size_t>(-1)) continue;
    if (errno == E2BIG) continue;
    if (errno == EILSEQ) {
      // A byte the encoding does not define. Under a Latin-1 label the five
      // undefined windows-1252 bytes keep their Latin-1 meaning.
      const auto b = static_cast<unsigned char>(*in);
      text.push_back(latin1 ? static_cast<char16_t>(b) : kReplacement);
      const size_t skip = std::min(unit, inLeft);
      in += skip;
      inLeft -= skip;
      continue;
    }
    // EINVAL: the input ends inside a multi-byte sequence.
    text.push_back(kReplacement);
    break;
  }
  // Let stateful encodings write their closing sequence.
  char* outPtr = buffer;
  size_t outLeft = sizeof(buffer);
  iconv(cd.get(), nullptr, nullptr, &outPtr, &outLeft);
  flush(outPtr);
  out = std::move(text);
  return true;
}

std::u16string DecodeFeedBytes(std::string_view bytes, std::string_view httpCharset) {
  if (const char* wide = WideEncoding(bytes)) {
    std::u16string text;
    if (DecodeWithEncoding(bytes, wide, text)) return text;
  }
  if (IsValidUtf8(bytes)) return Utf8ToUtf16(bytes);

  std::string candidates[3];
  // A UTF-16 byte-order mark; the mark itself decodes to U+FEFF and stays.
  if (StartsWith(bytes, "\xFF\xFE")) candidates[0] = "UTF-16LE";
  if (StartsWith(bytes, "\xFE\xFF")) candidates[0] = "UTF-16BE";
  candidates[1] = std::string(httpCharset);
  candidates[2] = FindXmlDeclaredEncoding(bytes);
  bool declared = false;
  for (const std::string& encoding : candidates) {
    declared = declared || !encoding.empty();
    if (encoding.empty() || IsUtf8Label(encoding)) continue;
    std::u16string text;
    if (DecodeWithEncoding(bytes, encoding, text) && KeepsDeclaration(bytes, text)) return text;
  }
  // Nothing says what the bytes are: text that is largely UTF-8 keeps its
  // characters with a replacement for each broken sequence, any other is
  // windows-1252 (the 8-bit encoding of most such feeds), so "caf\xE9"
  // reads "café" and not "caf\uFFFD".
  if (!declared && !MostlyUtf8(bytes)) {
    std::u16string text;
    if (DecodeWithEncoding(bytes, "ISO-8859-1", text)) return text;
  }
  return Utf8ToUtf16(bytes);
}

}  // namespace qb
