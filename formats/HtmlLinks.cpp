#include "formats/HtmlLinks.h"

#include <algorithm>

#include "base/Text.h"
#include "base/WebAddress.h"
#include "formats/TextDecoding.h"

namespace qb {

namespace {

constexpr size_t npos = std::u16string_view::npos;

bool IsHtmlSpace(char16_t c) {
  return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r' || c == u'\f';
}


void AppendCodePoint(std::u16string& out, uint32_t cp) {
  if (cp == 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
  if (cp >= 0x10000) {
    cp -= 0x10000;
    out += static_cast<char16_t>(0xD800 + (cp >> 10));
    out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
  } else {
    out += static_cast<char16_t>(cp);
  }
}

// Numeric references with or without their ";", and the named ones pages
// put in links and titles. Named references need their ";", so that a query
// such as "?a=1&copy=2" stays as written.
std::u16string DecodeReferences(std::u16string_view s) {
  static constexpr std::pair<std::u16string_view, char16_t> kNamed[] = {
      {u"amp;", u'&'},  {u"lt;", u'<'},    {u"gt;", u'>'},
      {u"quot;", u'"'}, {u"apos;", u'\''}, {u"nbsp;", u'\u00A0'}};
  std::u16string out;
  out.reserve(s.size());
  size_t i = 0;
  while (i < s.size()) {
    if (s[i] != u'&') {
      out += s[i++];
      continue;
    }
    const std::u16string_view rest = s.substr(i + 1);
    if (rest.starts_with(u'#')) {
      const bool hex = rest.size() > 1 && (rest[1] == u'x' || rest[1] == u'X');
      size_t j = hex ? 2 : 1;
      uint32_t value = 0;
      size_t digits = 0;
      for (; j < rest.size(); ++j, ++digits) {
        const char16_t c = rest[j];
        uint32_t d;
        if (c >= u'0' && c <= u'9') {
          d = c - u'0';
        } else if (hex && AsciiLower(c) >= u'a' && AsciiLower(c) <= u'f') {
          d = AsciiLower(c) - u'a' + 10;
        } else {
          break;
        }
        value = std::min<uint32_t>(value * (hex ? 16 : 10) + d, 0x110000);
      }
      if (digits > 0) {
        AppendCodePoint(out, value);
        if (j < rest.size() && rest[j] == u';') ++j;
        i += 1 + j;
        continue;
      }
    } else {
      bool matched = false;
      for (const auto& [name, c] : kNamed) {
        if (rest.starts_with(name)) {
          out += c;
          i += 1 + name.size();
          matched = true;
          break;
        }
      }
      if (matched) continue;
    }
    out += s[i++];
  }
  return out;
}

// Reads the attributes of a start tag from `j` (just after its name) to its
// ">", storing them in `tag` when it is not null. Returns the position after
// the ">", or the end of the text for a tag that is never closed.
size_t ReadAttributes(std::u16string_view s, size_t j, HtmlTag* tag) {
  const size_t n = s.size();
  for (;;) {
    while (j < n && (IsHtmlSpace(s[j]) || s[j] == u'/')) ++j;
    if (j >= n) return n;
    if (s[j] == u'>') return j + 1;
    const size_t nameStart = j++;
    while (j < n && !IsHtmlSpace(s[j]) && s[j] != u'/' && s[j] != u'>' && s[j] != u'=') ++j;
    const std::u16string_view name = s.substr(nameStart, j - nameStart);
    size_t k = j;
    while (k < n && IsHtmlSpace(s[k])) ++k;
    std::u16string_view value;
    if (k < n && s[k] == u'=') {
      j = k + 1;
      while (j < n && IsHtmlSpace(s[j])) ++j;
      if (j < n && (s[j] == u'"' || s[j] == u'\'')) {
        const size_t close = s.find(s[j], j + 1);
        if (close == npos) return n;  // an unterminated value swallows the rest
        value = s.substr(j + 1, close - j - 1);
        j = close + 1;
      } else {
        const size_t start = j;
        while (j < n && !IsHtmlSpace(s[j]) && s[j] != u'>') ++j;
        value = s.substr(start, j - start);
      }
    }
    if (tag != nullptr) {
      std::u16string lowered = AsciiLowered(name);
      if (!tag->Has(lowered))
        tag->attributes.emplace_back(std::move(lowered), DecodeReferences(value));
    }
  }
}

// Elements whose content is text, not tags.
bool IsRawText(std::u16string_view name) {
  static constexpr std::u16string_view kNames[] = {u"script", u"style",  u"title",   u"textarea",
                                                   u"xmp",    u"iframe", u"noembed", u"noframes"};
  return std::find(std::begin(kNames), std::end(kNames), name) != std::end(kNames);
}

// The position of "</name" (any case) at or after `from`, or npos.
size_t FindEndTag(std::u16string_view s, std::u16string_view name, size_t from) {
  for (size_t p = s.find(u"</", from); p != npos; p = s.find(u"</", p + 2)) {
    const std::u16string_view after = s.substr(p + 2, name.size());
    if (after.size() == name.size() && AsciiLowered(after) == name) return p;
  }
  return npos;
}

// Calls `onTag(name, tag)` for every start tag whose lower-case name
// `wanted(name)` accepts, in document order.
template <class Wanted, class OnTag>
void ScanTags(std::u16string_view s, Wanted wanted, OnTag onTag) {
  const size_t n = s.size();
  size_t i = 0;
  while ((i = s.find(u'<', i)) != npos) {
    if (s.substr(i).starts_with(u"<!--")) {
      const size_t end = s.find(u"-->", i + 4);
      if (end == npos) return;
      i = end + 3;
      continue;
    }
    if (i + 1 < n && (s[i + 1] == u'!' || s[i + 1] == u'?' || s[i + 1] == u'/')) {
      const size_t end = s.find(u'>', i + 2);
      if (end == npos) return;
      i = end + 1;
      continue;
    }
    if (i + 1 >= n || !IsAsciiLetter(s[i + 1])) {
      ++i;
      continue;
    }
    size_t j = i + 1;
    while (j < n && !IsHtmlSpace(s[j]) && s[j] != u'/' && s[j] != u'>') ++j;
    const std::u16string name = AsciiLowered(s.substr(i + 1, j - i - 1));
    if (wanted(name)) {
      HtmlTag tag;
      j = ReadAttributes(s, j, &tag);
      onTag(name, tag);
    } else {
      j = ReadAttributes(s, j, nullptr);
    }
    i = j;
    if (name == u"plaintext") return;
    if (IsRawText(name)) {
      i = FindEndTag(s, name, j);
      if (i == npos) return;
    }
  }
}

}  // namespace

std::u16string_view HtmlTag::Get(std::u16string_view name) const {
  for (const auto& [n, v] : attributes) {
    if (n == name) return v;
  }
  return {};
}

bool HtmlTag::Has(std::u16string_view name) const {
  return std::any_of(attributes.begin(), attributes.end(),
                     [&](const auto& a) { return a.first == name; });
}

HtmlLinks ScanHtmlLinks(std::u16string_view html) {
  HtmlLinks out;
  bool haveBase = false;
  ScanTags(
      html, [](std::u16string_view name) { return name == u"link" || name == u"base"; },
      [&](const std::u16string& name, HtmlTag& tag) {
        if (name == u"link") {
          out.links.push_back(std::move(tag));
        } else if (!haveBase && tag.Has(u"href")) {
          haveBase = true;
          out.baseHref = tag.Get(u"href");
        }
      });
  return out;
}

std::u16string LinkBase(std::u16string_view pageUrl, const HtmlLinks& page) {
  if (!page.baseHref.empty()) {
    std::u16string resolved = ResolveUrl(pageUrl, page.baseHref);
    if (!resolved.empty()) return resolved;
  }
  return std::u16string(pageUrl);
}

bool HasToken(std::u16string_view list, std::u16string_view token) {
  size_t i = 0;
  while (i < list.size()) {
    while (i < list.size() && IsHtmlSpace(list[i])) ++i;
    size_t j = i;
    while (j < list.size() && !IsHtmlSpace(list[j])) ++j;
    const std::u16string_view word = list.substr(i, j - i);
    if (!word.empty() && word.size() == token.size() && CompareAsciiNoCase(word, token) == 0) {
      return true;
    }
    i = j;
  }
  return false;
}

std::u16string BareMimeType(std::u16string_view type) {
  return AsciiLowered(TrimView(type.substr(0, std::min(type.find(u';'), type.size()))));
}

std::string FindHtmlDeclaredEncoding(std::string_view bytes) {
  // Every byte as one code unit: the names looked for are ASCII.
  std::u16string head;
  for (unsigned char c : bytes.substr(0, 1024)) head += static_cast<char16_t>(c);
  std::string found;
  ScanTags(
      head, [](std::u16string_view name) { return name == u"meta"; },
      [&](const std::u16string&, const HtmlTag& tag) {
        if (!found.empty()) return;
        if (tag.Has(u"charset")) {
          found = Utf16ToUtf8(TrimView(tag.Get(u"charset")));
        } else if (AsciiLowered(TrimView(tag.Get(u"http-equiv"))) == u"content-type") {
          found = CharsetFromContentType(Utf16ToUtf8(tag.Get(u"content")));
        }
      });
  return found;
}

std::u16string DecodeHtmlPage(std::string_view bytes, std::string_view contentType) {
  std::string charset = CharsetFromContentType(contentType);
  if (charset.empty() && !IsValidUtf8(bytes)) charset = FindHtmlDeclaredEncoding(bytes);
  return DecodeFeedBytes(bytes, charset);
}

}  // namespace qb
