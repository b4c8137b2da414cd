// Turning downloaded feed bytes into text. Feeds are read as UTF-8; a body
// that is not valid UTF-8 but names another encoding (the HTTP charset, the
// XML declaration, or a UTF-16 byte-order mark) is read in that encoding
// instead, so "café" in an ISO-8859-1 feed stays "café". Nothing here fails:
// an unknown or unusable encoding falls back to UTF-8 with replacement.
#pragma once

#include <string>
#include <string_view>

namespace qb {

// Decodes a feed document. `httpCharset` is the charset parameter of the
// response's Content-Type (empty when none, or when the bytes come from a
// file). Valid UTF-8 is always decoded as UTF-8; otherwise the first usable
// encoding among the HTTP charset, a UTF-16 byte-order mark and the XML
// declaration's encoding is used; failing those, each ill-formed UTF-8
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
// know it. Bytes that the encoding cannot map each become U+FFFD.
bool DecodeWithEncoding(std::string_view bytes, std::string_view encoding, std::u16string& out);

}  // namespace qb
