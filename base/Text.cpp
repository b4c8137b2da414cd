#include "base/Text.h"

#include <algorithm>
#include <cstring>
#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace qb {

namespace {

constexpr char16_t kReplacement = 0xFFFD;

}  // namespace

std::u16string Utf8ToUtf16(std::string_view bytes) {
  // Decoded a chunk at a time into a small buffer and appended, so the
  // result is written once (no zero-filling first). A chunk never yields more
  // units than bytes, plus a sequence that runs over its end.
  constexpr size_t kChunk = 4096;
  char16_t buffer[kChunk + 8];
  std::u16string out;
  out.reserve(bytes.size());
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const size_t n = bytes.size();
  size_t i = 0;
  while (i < n) {
    const size_t chunkEnd = std::min(n, i + kChunk);
    char16_t* w = buffer;
    while (i < chunkEnd) {
      const unsigned char b0 = p[i];
      if (b0 < 0x80) {
        // Runs of ASCII go sixteen or eight bytes at a time.
#if defined(__SSE2__)
        while (i + 16 <= chunkEnd) {
          const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
          if (_mm_movemask_epi8(block) != 0) break;
          const __m128i zero = _mm_setzero_si128();
          _mm_storeu_si128(reinterpret_cast<__m128i*>(w), _mm_unpacklo_epi8(block, zero));
          _mm_storeu_si128(reinterpret_cast<__m128i*>(w + 8), _mm_unpackhi_epi8(block, zero));
          w += 16;
          i += 16;
        }
#endif
        while (i + 8 <= chunkEnd) {
          uint64_t block;
          std::memcpy(&block, p + i, 8);
          if ((block & 0x8080808080808080ull) != 0) break;
          for (int k = 0; k < 8; ++k) w[k] = p[i + k];
          w += 8;
          i += 8;
        }
        if (i < chunkEnd && p[i] < 0x80) *w++ = p[i++];
        continue;
      }
      // Expected length and the allowed range of the second byte (Unicode
      // table 3-7), so that overlong forms and surrogates are ill-formed.
      int len = 0;
      unsigned char lo = 0x80, hi = 0xBF;
      char32_t cp = 0;
      if (b0 >= 0xC2 && b0 <= 0xDF) {
        len = 2; cp = b0 & 0x1F;
      } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        len = 3; cp = b0 & 0x0F;
        if (b0 == 0xE0) lo = 0xA0;
        if (b0 == 0xED) hi = 0x9F;
      } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        len = 4; cp = b0 & 0x07;
        if (b0 == 0xF0) lo = 0x90;
        if (b0 == 0xF4) hi = 0x8F;
      } else {
        *w++ = kReplacement;
        ++i;
        continue;
      }
      size_t j = i + 1;
      bool ok = true;
      for (int k = 1; k < len; ++k, ++j) {
        const unsigned char lower = (k == 1) ? lo : 0x80;
        const unsigned char upper = (k == 1) ? hi : 0xBF;
        if (j >= n || p[j] < lower || p[j] > upper) {
          ok = false;
          break;
        }
        cp = (cp << 6) | (p[j] & 0x3F);
      }
      if (!ok) {
        // The maximal subpart [i, j) is replaced by a single U+FFFD.
        *w++ = kReplacement;
        i = j;
        continue;
      }
      if (cp < 0x10000) {
        *w++ = static_cast<char16_t>(cp);
      } else {
        cp -= 0x10000;
        *w++ = static_cast<char16_t>(0xD800 + (cp >> 10));
        *w++ = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
      }
      i = j;
    }
    out.append(buffer, static_cast<size_t>(w - buffer));
  }
  return out;
}

std::string Utf16ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t cp = text[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = kReplacement;
    }
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}

std::u16string Widen(std::string_view ascii) {
  std::u16string out;
  out.reserve(ascii.size());
  for (char c : ascii) out.push_back(static_cast<unsigned char>(c));
  return out;
}

bool IsWideSpace(char16_t c) {
  switch (c) {
    case 0x09: case 0x0A: case 0x0B: case 0x0C: case 0x0D: case 0x20:
    case 0x85: case 0xA0: case 0x1680: case 0x2028: case 0x2029:
    case 0x202F: case 0x205F: case 0x3000:
      return true;
    default:
      return c >= 0x2000 && c <= 0x200A;
  }
}

std::u16string_view TrimView(std::u16string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && IsWideSpace(s[b])) ++b;
  while (e > b && IsWideSpace(s[e - 1])) --e;
  return s.substr(b, e - b);
}

std::u16string Trim(std::u16string_view s) { return std::u16string(TrimView(s)); }

std::u16string AsciiLowered(std::u16string_view s) {
  std::u16string out(s);
  for (char16_t& c : out) c = AsciiLower(c);
  return out;
}

int CompareAsciiNoCase(std::u16string_view a, std::u16string_view b) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    char16_t x = a[i], y = b[i];
    if (x >= u'a' && x <= u'z') x = static_cast<char16_t>(x - 32);
    if (y >= u'a' && y <= u'z') y = static_cast<char16_t>(y - 32);
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

int32_t ParseDecimalPrefix(std::u16string_view s) {
  size_t i = 0;
  while (i < s.size() && IsWideSpace(s[i])) ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == u'+' || s[i] == u'-')) {
    negative = s[i] == u'-';
    ++i;
  }
  int64_t value = 0;
  for (; i < s.size() && s[i] >= u'0' && s[i] <= u'9'; ++i) {
    value = value * 10 + (s[i] - u'0');
    if (value > int64_t{1} << 32) value = int64_t{1} << 32;  // saturate below
  }
  if (negative) value = -value;
  if (value > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  if (value < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(value);
}

}  // namespace qb
