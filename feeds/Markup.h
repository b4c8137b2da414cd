// The markup text functions shared by the XML parser, the tree and list
// labels and the article page. Each takes a text and returns a new one; none
// of them fails on any input.
#pragma once

#include <string>
#include <string_view>

namespace qb {

// Decodes the four named entities "&lt;", "&gt;", "&amp;" and "&apos;", with
// the result of four whole-text passes in that order: "&amp;lt;" stays
// "&lt;" (the "&lt;" pass has already run when "&amp;" is decoded), while
// "&amp;apos;" becomes "'". Nothing else, "&quot;" included, is decoded.
std::u16string DecodeEntities(std::u16string_view s);
// The same, written to `out`, which has room for s.size() code units (the
// result is never longer). Returns the length written.
size_t DecodeEntitiesInto(std::u16string_view s, char16_t* out);

// "'" -> "&apos;", "&" -> "&amp;", "<" -> "&lt;", ">" -> "&gt;", left to
// right; inserted text is never encoded again. DecodeEntities undoes it for
// every text that does not contain "&apos;".
std::u16string EncodeEntities(std::u16string_view s);

// Decodes numeric character references "&#NNN;" and "&#xHH;" (the ";" is
// optional). The text after a decoded reference loses its leading white
// space, and the end of the whole text its trailing white space. A value from
// 0x10000 to 0x10FFFF becomes a surrogate pair; other values keep their low
// 16 bits. A decoded 0 (also "&#;") puts a NUL into the text and ends the
// decoding there; an original NUL ends the search for references as well.
std::u16string DecodeCharRefs(std::u16string_view s);

// Replaces every character above 255 by a decimal reference "&#NNN;", so the
// text fits an 8-bit page. A surrogate pair becomes one reference for its
// character; a lone surrogate keeps its own value.
std::u16string EncodeCharRefs(std::u16string_view s);

// The position of the first `c` in `s` at or after `pos`, or npos: the fast
// search the parser and the entity decoder use over long document texts.
size_t FindCodeUnit(std::u16string_view s, char16_t c, size_t pos = 0);

}  // namespace qb
