#include "feeds/Markup.h"

#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "model/Text.h"

namespace qb {
namespace {

bool StartsWith(std::u16string_view s, size_t pos, std::u16string_view prefix) {
  return s.size() - pos >= prefix.size() && s.compare(pos, prefix.size(), prefix) == 0;
}

void AppendDecimal(std::u16string& out, uint32_t value) {
  char16_t digits[10];
  int n = 0;
  do {
    digits[n++] = static_cast<char16_t>(u'0' + value % 10);
    value /= 10;
  } while (value != 0);
  while (n > 0) out.push_back(digits[--n]);
}

int DigitValue(char16_t c, int base) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (base == 16) {
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  }
  return -1;
}

}  // namespace

size_t FindCodeUnit(std::u16string_view s, char16_t c, size_t pos) {
  const size_t n = s.size();
  const char16_t* data = s.data();
#if defined(__SSE2__)
  const __m128i needle = _mm_set1_epi16(static_cast<short>(c));
  while (pos + 8 <= n) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + pos));
    const int mask = _mm_movemask_epi8(_mm_cmpeq_epi16(block, needle));
    if (mask != 0) return pos + static_cast<size_t>(__builtin_ctz(static_cast<unsigned>(mask))) / 2;
    pos += 8;
  }
#endif
  for (; pos < n; ++pos) {
    if (data[pos] == c) return pos;
  }
  return std::u16string_view::npos;
}

size_t DecodeEntitiesInto(std::u16string_view s, char16_t* out) {
  // One left-to-right pass with the result of the four ordered passes: the
  // entities never overlap (each has one "&", at its start), "<" and ">" can
  // form nothing new, and the only text a later pass sees that an earlier one
  // made is the "&" of a decoded "&amp;" followed by "apos;".
  const size_t n = s.size();
  char16_t* w = out;
  size_t i = 0;
  while (i < n) {
    size_t amp = FindCodeUnit(s, u'&', i);
    if (amp == std::u16string_view::npos) amp = n;
    std::memcpy(w, s.data() + i, (amp - i) * sizeof(char16_t));
    w += amp - i;
    i = amp;
    if (i == n) break;
    if (StartsWith(s, i, u"&lt;")) {
      *w++ = u'<';
      i += 4;
    } else if (StartsWith(s, i, u"&gt;")) {
      *w++ = u'>';
      i += 4;
    } else if (StartsWith(s, i, u"&apos;")) {
      *w++ = u'\'';
      i += 6;
    } else if (StartsWith(s, i, u"&amp;")) {
      if (StartsWith(s, i + 5, u"apos;")) {
        *w++ = u'\'';
        i += 10;
      } else {
        *w++ = u'&';
        i += 5;
      }
    } else {
      *w++ = u'&';
      ++i;
    }
  }
  return static_cast<size_t>(w - out);
}

std::u16string DecodeEntities(std::u16string_view s) {
  std::u16string out(s.size(), u'\0');  // decoding never lengthens the text
  out.resize(DecodeEntitiesInto(s, out.data()));
  return out;
}

std::u16string EncodeEntities(std::u16string_view s) {
  size_t extra = 0;
  for (char16_t c : s) {
    switch (c) {
      case u'\'': extra += 5; break;
      case u'&': extra += 4; break;
      case u'<': case u'>': extra += 3; break;
      default: break;
    }
  }
  if (extra == 0) return std::u16string(s);
  std::u16string out(s.size() + extra, u'\0');
  char16_t* w = out.data();
  const auto put = [&w](std::u16string_view entity) {
    for (char16_t e : entity) *w++ = e;
  };
  for (char16_t c : s) {
    switch (c) {
      case u'\'': put(u"&apos;"); break;
      case u'&': put(u"&amp;"); break;
      case u'<': put(u"&lt;"); break;
      case u'>': put(u"&gt;"); break;
      default: *w++ = c;
    }
  }
  return out;
}

std::u16string DecodeCharRefs(std::u16string_view s) {
  // The text is decoded as if every reference were replaced in place and the
  // search restarted from the front, but in one pass: `out` is final text
  // holding no "&#" and no NUL, `rest` the part of `s` not yet looked at. A
  // decoded "&" or "#" can only form a new reference with its neighbour,
  // which the two checks after a decode catch.
  const size_t nul = s.find(char16_t{0});
  const size_t searchEnd = nul == std::u16string_view::npos ? s.size() : nul;
  std::u16string out;
  out.reserve(s.size());
  std::u16string_view rest = s;
  bool decoded = false;
  for (;;) {
    if (decoded && out.size() >= 2 && out[out.size() - 2] == u'&' && out.back() == u'#') {
      out.resize(out.size() - 2);
    } else if (decoded && !out.empty() && out.back() == u'&' && !rest.empty() && rest[0] == u'#') {
      out.pop_back();
      rest.remove_prefix(1);
    } else {
      const size_t offset = static_cast<size_t>(rest.data() - s.data());
      const size_t limit = searchEnd > offset ? searchEnd - offset : 0;
      const size_t p = rest.substr(0, limit).find(u"&#");
      if (p == std::u16string_view::npos) break;
      out.append(rest.data(), p);
      rest.remove_prefix(p + 2);
    }

    int base = 10;
    if (!rest.empty() && (rest[0] == u'x' || rest[0] == u'X')) {
      base = 16;
      rest.remove_prefix(1);
    }
    uint64_t value = 0;
    size_t digits = 0;
    while (digits < rest.size()) {
      const int d = DigitValue(rest[digits], base);
      if (d < 0) break;
      value = value * base + d;
      if (value > 0xFFFFFFFFu) value = 0xFFFFFFFFu;  // an unsigned read saturates
      ++digits;
    }
    rest = TrimView(rest.substr(digits));
    if (!rest.empty() && rest[0] == u';') rest.remove_prefix(1);

    if (value >= 0x10000 && value <= 0x10FFFF) {
      const uint32_t v = static_cast<uint32_t>(value) - 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (v >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (v & 0x3FF)));
    } else {
      const char16_t unit = static_cast<char16_t>(value & 0xFFFF);
      out.push_back(unit);
      if (unit == 0) {
        // The search for further references stops at the NUL.
        out.append(rest);
        return out;
      }
    }
    decoded = true;
  }
  out.append(rest);
  return out;
}

std::u16string EncodeCharRefs(std::u16string_view s) {
  std::u16string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    const char16_t c = s[i];
    if (c <= 255) {
      out.push_back(c);
      continue;
    }
    uint32_t value = c;
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
      value = 0x10000 + ((c - 0xD800u) << 10) + (s[i + 1] - 0xDC00u);
      ++i;
    }
    out.append(u"&#");
    AppendDecimal(out, value);
    out.push_back(u';');
  }
  return out;
}

}  // namespace qb
