// The four markup functions on arbitrary text. The first input byte picks how
// the rest becomes UTF-16: as UTF-8, or as raw code units (lone surrogates
// and NULs included). Checks the identities the functions guarantee:
// - DecodeEntities(EncodeEntities(x)) == x for x without "&apos;" (which
//   comes back as "'");
// - DecodeCharRefs(EncodeCharRefs(x)) == x for x without "&#" and NUL, except
//   that the text loses its trailing white space of code units up to 255
//   when a reference was made;
// - decoding never makes a text longer, and the decoding into a buffer gives
//   what DecodeEntities gives.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "base/Text.h"
#include "formats/Markup.h"

namespace {

std::u16string TextFrom(const uint8_t* data, size_t size) {
  if (size == 0) return {};
  const std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  if (data[0] % 2 == 0) return qb::Utf8ToUtf16(rest);
  std::u16string text(rest.size() / 2, u'\0');
  for (size_t i = 0; i < text.size(); ++i) {
    text[i] = static_cast<char16_t>(static_cast<uint8_t>(rest[2 * i]) |
                                    static_cast<uint8_t>(rest[2 * i + 1]) << 8);
  }
  return text;
}

std::u16string ReplaceAll(std::u16string_view s, std::u16string_view from, std::u16string_view to) {
  std::u16string out;
  size_t i = 0;
  for (size_t p = s.find(from); p != std::u16string_view::npos; p = s.find(from, i)) {
    out.append(s.substr(i, p - i));
    out.append(to);
    i = p + from.size();
  }
  out.append(s.substr(i));
  return out;
}

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::u16string x = TextFrom(data, size);

  const std::u16string decoded = qb::DecodeEntities(x);
  Check(decoded.size() <= x.size());
  Check(decoded == ReplaceAll(ReplaceAll(ReplaceAll(ReplaceAll(x, u"&lt;", u"<"), u"&gt;", u">"), u"&amp;", u"&"),
                              u"&apos;", u"'"));
  std::u16string into(x.size(), u'\0');
  into.resize(qb::DecodeEntitiesInto(x, into.data()));
  Check(into == decoded);

  const std::u16string entitiesBack = qb::DecodeEntities(qb::EncodeEntities(x));
  Check(entitiesBack == ReplaceAll(x, u"&apos;", u"'"));

  Check(qb::DecodeCharRefs(x).size() <= x.size());

  const std::u16string encoded = qb::EncodeCharRefs(x);
  for (char16_t c : encoded) Check(c <= 255);
  if (x.find(u"&#") == std::u16string::npos && x.find(char16_t{0}) == std::u16string::npos) {
    std::u16string want = x;
    if (encoded != x) {
      // The white space that stays literal (code units up to 255) is trimmed.
      while (!want.empty() && want.back() <= 255 && qb::IsWideSpace(want.back())) want.pop_back();
    }
    Check(qb::DecodeCharRefs(encoded) == want);
  }
  return 0;
}
