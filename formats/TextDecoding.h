// Turning downloaded feed bytes into text. Feeds are read as UTF-8; a body
// that is not valid UTF-8 but names another encoding (the HTTP charset, the
// XML declaration, or a UTF-16 byte-order mark) is read in that encoding
// instead, so "café" in an ISO-8859-1 feed stays "café"; one that names
// none is windows-1252. UTF-32, and UTF-16 without a byte-order mark, are
// recognised by their bytes before anything else. Nothing here fails: an
// unknown or unusable encoding falls back to UTF-8 with replacement.
#pragma once

#include <string>
#include <string_view>

namespace qb {

// Decodes a feed document. `httpCharset` is the charset parameter of the
// response's Content-Type (empty when none, or when the bytes come from a
// file). UTF-32 (a byte-order mark 00 00 FE FF or FF FE 00 00, or the NUL
// pattern of a leading "<" followed by a letter, "?" or "!" in four bytes
// each, after optional white space) and UTF-16 without a byte-order mark
// (that pattern in two bytes each) are decoded as such, whatever is
// declared. Otherwise valid UTF-8 is always decoded as UTF-8; otherwise
// the first usable encoding among the HTTP charset, a UTF-16 byte-order mark
// and the XML declaration's encoding is used. A document that names no
// encoding at all is read as windows-1252, unless it has well-formed UTF-8
// sequences, at least as many as broken ones; failing those, each ill-formed UTF-8
// subsequence becomes U+FFFD. A leading byte-order mark is kept as U+FEFF.
std::u16string DecodeFeedBytes(std::string_view bytes, std::string_view httpCharset = {});

// Whether the bytes are well-formed UTF-8 (no overlong forms, surrogates or
// code points above U+10FFFF).
bool IsValidUtf8(std::string_view bytes);

// The encoding named by the XML declaration at the start of the bytes
// (after an optional UTF-8 byte-order mark), or empty.
std::string FindXmlDeclaredEncoding(std::string_view bytes);

// The charset parameter of a Content-Type header value, unquoted, or empty.
std::string CharsetFromContentType(std::string_view contentType);

// Decodes the bytes from the named encoding through iconv. False, with `out`
// untouched, when the name is not a plain encoding name or iconv does not
// know it. Each code unit that the encoding cannot map (a byte; two bytes
// in UTF-16, four in UTF-32) becomes U+FFFD.
bool DecodeWithEncoding(std::string_view bytes, std::string_view encoding, std::u16string& out);

}  // namespace qb
