// Reading the <link> and <base> tags of an HTML page, which is how a site
// announces its feeds and its icon. Not an HTML parser: a tolerant scan for
// tags that knows what real pages do to them. Never fails; a page it cannot
// make sense of simply yields no links.
//
// - Tag and attribute names are compared without case; values may be in
//   double quotes, single quotes or none; the first of two attributes with
//   the same name counts. Character references in values are decoded
//   ("&amp;", "&quot;", "&#38;", "&#x26;", ...).
// - Comments, and the contents of <script>, <style>, <title>, <textarea>
//   and the like, are skipped: a "<link" written inside them is not a tag.
// - Linear in the page's length; nothing recurses.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qb {

struct HtmlTag {
  // Names in lower case, values decoded, in the order written.
  std::vector<std::pair<std::u16string, std::u16string>> attributes;

  // The attribute's value; empty when it is absent.
  std::u16string_view Get(std::u16string_view name) const;
  bool Has(std::u16string_view name) const;
};

struct HtmlLinks {
  std::vector<HtmlTag> links;  // every <link>, in document order
  std::u16string baseHref;     // of the first <base> with an href; empty when none
};

HtmlLinks ScanHtmlLinks(std::u16string_view html);

// What the page's relative links resolve against: its <base href> resolved
// against the page's own URL, or that URL.
std::u16string LinkBase(std::u16string_view pageUrl, const HtmlLinks& page);

// Whether the space-separated list holds the token, compared without case
// ("Shortcut Icon" holds "icon").
bool HasToken(std::u16string_view list, std::u16string_view token);

// A MIME type without parameters or surrounding space, in lower case
// ("Application/RSS+XML; charset=utf-8" -> "application/rss+xml").
std::u16string BareMimeType(std::u16string_view type);

// The encoding a page names in its first 1024 bytes with <meta charset=...>
// or <meta http-equiv="Content-Type" content="...; charset=...">; empty
// when none.
std::string FindHtmlDeclaredEncoding(std::string_view bytes);

// A page's text: decoded as a feed is (DecodeFeedBytes with the response's
// charset), except that bytes which are not UTF-8 and come without a
// charset are read in the encoding the page declares.
std::u16string DecodeHtmlPage(std::string_view bytes, std::string_view contentType);

}  // namespace qb
