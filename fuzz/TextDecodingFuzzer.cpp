// Feed bytes through DecodeFeedBytes. The first input byte picks what the
// rest is:
// - even: raw bytes, with a charset a server might send; decoding must not
//   fail (an encoding the XML declaration names may be any iconv knows).
// - odd: UTF-16 code units of a text, which is written as UTF-16 or UTF-32
//   in either byte order, with or without a byte-order mark, after a "<a"
//   that makes it recognisable; it must decode to exactly that text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "formats/TextDecoding.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

void Put(std::string& out, char32_t unit, int width, bool bigEndian) {
  for (int k = 0; k < width; ++k) {
    const int shift = 8 * (bigEndian ? width - 1 - k : k);
    out.push_back(static_cast<char>((unit >> shift) & 0xFF));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const char* const kCharsets[] = {"", "utf-8", "UTF-16", "utf-16le", "utf-32", "latin1", "koi8-r",
                                          "no-such-set", "UTF-32BE"};
  if (size == 0) return 0;
  const uint8_t mode = data[0];
  const std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  if (mode % 2 == 0) {
    qb::DecodeFeedBytes(rest, kCharsets[(mode / 2) % std::size(kCharsets)]);
    return 0;
  }
  // A text of whole characters (a lone surrogate cannot be written).
  std::u16string text = u"<a";
  for (size_t i = 0; i + 1 < rest.size(); i += 2) {
    char16_t c = static_cast<char16_t>(static_cast<uint8_t>(rest[i]) | static_cast<uint8_t>(rest[i + 1]) << 8);
    if (c >= 0xD800 && c <= 0xDFFF) c = u'?';
    text.push_back(c);
  }
  const int width = (mode & 2) != 0 ? 4 : 2;
  const bool bigEndian = (mode & 4) != 0;
  const bool mark = (mode & 8) != 0;
  std::string bytes;
  if (mark) Put(bytes, 0xFEFF, width, bigEndian);
  for (char16_t c : text) Put(bytes, c, width, bigEndian);
  const std::u16string want = mark ? u"\uFEFF" + text : text;
  Check(qb::DecodeFeedBytes(bytes, kCharsets[(mode / 16) % std::size(kCharsets)]) == want);
  return 0;
}
