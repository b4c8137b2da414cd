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

// --- Texts as readers see them

// The character content of an element exactly as XML means it, from its
// markup as written (what lies between its start and end tags): CDATA
// sections verbatim, comments and processing instructions left out, and
// outside them the five predefined entities
// ("&lt;", "&gt;", "&amp;", "&apos;", "&quot;") and every character
// reference ("&#233;", "&#x2019;") decoded, each once, so "&amp;quot;" gives
// "&quot;". A reference to a character XML cannot hold (NUL, a surrogate,
// beyond U+10FFFF), an unknown entity and a lone "&" stay as written.
std::u16string DecodeXmlText(std::u16string_view markup);

// Writes text so that HTML shows it as it is: "&", "<", ">" and '"' become
// entities. Safe inside element content and double-quoted attributes.
std::u16string EscapeHtml(std::u16string_view text);

// HTML as text: the tags of HTML elements and comments removed (a line
// break becomes a space), and the entities of HTML 4 ("&eacute;", "&rsquo;",
// "&nbsp;", ...), "&apos;" and character references decoded, each once, as a
// browser reads them (a reference to no character is U+FFFD, 0x80 to 0x9F
// are windows-1252). Everything else stays as written: a "<" that starts
// no tag of an HTML element ("x < y", "Tech & <Science>", "<Untitled>"),
// an unknown entity, a lone "&".
std::u16string HtmlToText(std::u16string_view html);

// A title (of an article, a channel, a source or a group) as the tree, the
// list, the page header and an export show it: HtmlToText. Text without "&"
// and "<" comes back unchanged.
std::u16string TitleText(std::u16string_view title);

// Plain text stored as a title, so that TitleText shows exactly that text:
// unchanged when TitleText already shows it so (the usual case: "AT&T"),
// else written with EscapeHtml.
std::u16string TextAsTitle(std::u16string_view text);

}  // namespace qb
