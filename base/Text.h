// Text helpers shared by the whole core. Every string in memory is UTF-16
// (std::u16string): lengths, ordinal comparisons and the data file count
// UTF-16 code units.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qb {

// Decodes UTF-8. Each maximal ill-formed subsequence becomes one U+FFFD; a
// leading byte-order mark is kept as U+FEFF. Never fails.
std::u16string Utf8ToUtf16(std::string_view bytes);

// Encodes UTF-16 as UTF-8. A lone surrogate becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);

// Widens ASCII text (for literals and numbers).
std::u16string Widen(std::string_view ascii);

// White space of the standard wide-character classification: space, tab,
// line feed, vertical tab, form feed, carriage return and the Unicode spaces.
bool IsWideSpace(char16_t c);

// Removes white space (IsWideSpace) at both ends.
std::u16string Trim(std::u16string_view s);
std::u16string_view TrimView(std::u16string_view s);

// The ASCII letters A-Z and a-z; no other letter counts.
constexpr bool IsAsciiLetter(char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }
// Folds A-Z onto a-z; every other code unit stays as it is.
constexpr char16_t AsciiLower(char16_t c) {
  return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c;
}
// The text with A-Z folded onto a-z.
std::u16string AsciiLowered(std::u16string_view s);

// Ordinal comparison after folding only a-z onto A-Z. Returns <0, 0 or >0.
int CompareAsciiNoCase(std::u16string_view a, std::u16string_view b);

// The standard wide-string-to-integer reading: leading white space, one
// optional sign, then decimal digits up to the first non-digit; no digits
// gives 0. Values out of range saturate.
int32_t ParseDecimalPrefix(std::u16string_view s);

}  // namespace qb
