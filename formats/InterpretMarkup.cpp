#include "formats/InterpretMarkup.h"

#include <algorithm>
#include <functional>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>
#include "base/Text.h"
#include "base/WebAddress.h"
#include "formats/Markup.h"
#include "formats/PubDate.h"

namespace qb::interpret {

// ---------------------------------------------------------------- reading markup

// The element name of a tag's inside: the leading run up to XML white
// space, as the parser reads it.
std::u16string_view TagName(std::u16string_view inside) {
  inside = TrimView(inside);
  const size_t k = std::min(inside.find_first_of(u" \t\n\r"), inside.size());
  return TrimView(inside.substr(0, k));
}

// What lies between the node's start tag and the end tag that closed it, as
// written; empty for an empty-element tag. Nothing when no end tag of its
// own closed it (the parser then let it run on over what followed).
std::optional<std::u16string_view> InnerMarkup(std::u16string_view text, const CXMLNode& node) {
  const size_t begin = node.MarkupBegin();
  const size_t end = node.MarkupEnd();
  if (end > text.size() || begin >= end) return std::nullopt;
  const std::u16string_view markup = text.substr(begin, end - begin);
  const size_t startTagEnd = markup.find(u'>');
  if (startTagEnd == std::u16string_view::npos) return std::nullopt;
  if (startTagEnd + 1 == markup.size()) {
    // The start tag is all there is: closed only when it closes itself.
    if (TrimView(markup.substr(0, startTagEnd)).ends_with(u'/')) return std::u16string_view();
    return std::nullopt;
  }
  if (markup.back() != u'>') return std::nullopt;
  // The parser cut the end tag from the first "<" after the text before it
  // to the first ">", so it may hold more ("</title   <link>"): it starts
  // at the first "<" after the last ">" before its own.
  const size_t lastGt = markup.rfind(u'>', markup.size() - 2);
  const size_t endTag = markup.find(u'<', lastGt == std::u16string_view::npos ? 0 : lastGt + 1);
  if (endTag == std::u16string_view::npos || endTag <= startTagEnd || endTag + 1 >= markup.size()) return std::nullopt;
  const std::u16string_view inside = TrimView(markup.substr(endTag + 1, markup.size() - endTag - 2));
  if (inside.empty() || inside[0] != u'/' || TagName(inside.substr(1)) != node.Name()) return std::nullopt;
  // An end tag that did not close this node opened an element inside it,
  // which then reaches to the end of the markup.
  for (const CXMLNode* child : node.Children()) {
    if (child->MarkupEnd() > begin + endTag) return std::nullopt;
  }
  return markup.substr(startTagEnd + 1, endTag - startTagEnd - 1);
}

// Whether the node holds elements, not only comments and processing
// instructions (which are no part of its text).
bool HasElements(std::u16string_view text, const CXMLNode& node) {
  for (const CXMLNode* child : node.Children()) {
    const std::u16string_view markup = text.substr(std::min(child->MarkupBegin(), text.size()));
    const bool comment = markup.starts_with(u"<!--") && child->Name().starts_with(u'!');
    const bool instruction = markup.starts_with(u"<?") && child->Name().starts_with(u'?');
    if (!comment && !instruction) return true;
  }
  return false;
}

// The node's character content, decoded once from its markup (comments and
// processing instructions left out); empty for an element with elements in
// it or one that was never closed.
std::u16string DecodedText(std::u16string_view text, const CXMLNode* node) {
  if (node == nullptr || HasElements(text, *node)) return {};
  const std::optional<std::u16string_view> inner = InnerMarkup(text, *node);
  return inner ? DecodeXmlText(*inner) : std::u16string();
}

// HTML carried by an element: escaped in its text, or (when a feed wrote
// it unescaped) the markup inside it as written.
std::u16string HtmlOf(std::u16string_view text, const CXMLNode* node) {
  if (node == nullptr) return {};
  if (!HasElements(text, *node)) return DecodedText(text, node);
  const std::optional<std::u16string_view> inner = InnerMarkup(text, *node);
  return inner ? std::u16string(*inner) : std::u16string();
}

std::u16string AttributeText(const CXMLNode& node, std::u16string_view name) {
  return DecodeXmlText(node.GetAttribute(name));
}

// Text shown as text on the page: escaped, line breaks kept; nothing for
// text that is only white space, which stands for no text at all.
std::u16string TextAsHtml(std::u16string_view text) {
  if (TrimView(text).empty()) return {};
  std::u16string out;
  for (char16_t c : EscapeHtml(text)) {
    if (c == u'\n') out += u"<br>";
    out.push_back(c);
  }
  return out;
}

bool IsWordChar(char16_t c) {
  return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'_';
}

// Whether a title that may be text or HTML reads as HTML: it has an end tag
// or an entity. Without either, a "<" in it is text ("a <b> tag").
bool LooksLikeHtml(std::u16string_view s) {
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == u'<' && i + 1 < s.size() && s[i + 1] == u'/') {
      size_t k = i + 2;
      while (k < s.size() && IsWordChar(s[k])) ++k;
      if (k > i + 2 && k < s.size() && s[k] == u'>') return true;
    } else if (s[i] == u'&') {
      size_t k = i + 1;
      if (k < s.size() && s[k] == u'#') ++k;
      const size_t word = k;
      while (k < s.size() && IsWordChar(s[k])) ++k;
      if (k > word && k < s.size() && s[k] == u';') return true;
    }
  }
  return false;
}

// An RSS title as it is kept: HTML when it reads as HTML, else text.
std::u16string RssTitle(std::u16string_view text, const CXMLNode* node) {
  std::u16string title = HtmlOf(text, node);
  return LooksLikeHtml(title) ? title : TextAsTitle(title);
}

// `reference` resolved against `base`; as written (trimmed) when it cannot
// be resolved (no base, or a relative reference against a relative base).
std::u16string Resolve(std::u16string_view base, std::u16string_view reference) {
  const std::u16string ref = Trim(reference);
  if (ref.empty()) return ref;
  std::u16string resolved = ResolveUrl(base, ref);
  return resolved.empty() ? ref : resolved;
}

// The base for the node's links: its xml:base resolved against the base of
// its parent.
std::u16string Rebase(const std::u16string& base, const CXMLNode& node) {
  const std::u16string_view xmlBase = node.GetAttribute(u"xml:base");
  if (xmlBase.empty()) return base;
  return Resolve(base, DecodeXmlText(xmlBase));
}

bool IsWebAddress(std::u16string_view s) {
  return CompareAsciiNoCase(s.substr(0, 7), u"http://") == 0 || CompareAsciiNoCase(s.substr(0, 8), u"https://") == 0;
}

// ---------------------------------------------------------------- namespaces


// A title as it is shown in a row of the list: line breaks, tabs and runs
// of spaces are one space, and none at either end.
std::u16string ShownTitle(std::u16string_view title) {
  std::u16string out;
  out.reserve(title.size());
  bool space = false;
  for (char16_t c : title) {
    const bool breaking = c == u' ' || (c >= 0x09 && c <= 0x0D) || c == 0x85 || c == 0x2028 || c == 0x2029;
    if (breaking) {
      space = true;
      continue;
    }
    if (space && !out.empty()) out.push_back(u' ');
    space = false;
    out.push_back(c);
  }
  return Trim(out);
}

// The first child of these names whose decoded text is not only white space.
const CXMLNode* FirstWithText(std::u16string_view text, const CXMLNode& node, const Prefixes& ns,
                              std::initializer_list<std::u16string_view> names, std::u16string& out) {
  for (std::u16string_view name : names) {
    const CXMLNode* child = ns.Find(node, name);
    if (child == nullptr) continue;
    std::u16string value = DecodedText(text, child);
    if (!TrimView(value).empty()) {
      out = std::move(value);
      return child;
    }
  }
  out.clear();
  return nullptr;
}

// ---------------------------------------------------------------- Atom constructs

std::u16string LowerAscii(std::u16string_view s) {
  std::u16string out = Trim(s);
  for (char16_t& c : out) {
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
  }
  return out;
}


ConstructType TypeOf(const CXMLNode& node) {
  const std::u16string type = LowerAscii(node.GetAttribute(u"type"));
  // Atom 0.3 says how the content is written apart from its type.
  const std::u16string mode = LowerAscii(node.GetAttribute(u"mode"));
  if (mode == u"escaped") return type == u"text/plain" || type == u"text" ? ConstructType::kText : ConstructType::kHtml;
  if (mode == u"base64") return ConstructType::kOther;
  if (type.empty() || type == u"text" || type == u"text/plain") return ConstructType::kText;
  if (type == u"html" || type == u"text/html") return ConstructType::kHtml;
  if (type == u"xhtml" || type == u"application/xhtml+xml") return ConstructType::kXhtml;
  return ConstructType::kOther;
}

// The markup inside the wrapping div of xhtml content, as written; the
// markup inside the element itself when no div wraps it all (one that
// stands beside other content is part of it).
std::u16string XhtmlOf(std::u16string_view text, const CXMLNode& node) {
  const std::optional<std::u16string_view> inner = InnerMarkup(text, node);
  if (!inner) return {};
  if (node.Children().size() == 1) {
    const CXMLNode& div = *node.Children().front();
    const std::u16string_view name = div.Name();
    const size_t innerBegin = static_cast<size_t>(inner->data() - text.data());
    const bool wraps = div.MarkupBegin() >= innerBegin && div.MarkupEnd() <= innerBegin + inner->size() &&
                       TrimView(inner->substr(0, div.MarkupBegin() - innerBegin)).empty() &&
                       TrimView(inner->substr(div.MarkupEnd() - innerBegin)).empty();
    if ((name == u"div" || name.ends_with(u":div")) && wraps) {
      const std::optional<std::u16string_view> content = InnerMarkup(text, div);
      return content ? std::u16string(*content) : std::u16string();
    }
  }
  return std::u16string(*inner);
}

// An Atom text construct as HTML.
std::u16string AtomHtml(std::u16string_view text, const CXMLNode* node) {
  if (node == nullptr) return {};
  switch (TypeOf(*node)) {
    case ConstructType::kText: return TextAsHtml(DecodedText(text, node));
    case ConstructType::kHtml: return HtmlOf(text, node);
    case ConstructType::kXhtml: return XhtmlOf(text, *node);
    case ConstructType::kOther: break;
  }
  // Content of another type: shown as its text, unless it lives elsewhere
  // (src) or is written in base64.
  if (!node->GetAttribute(u"src").empty() || LowerAscii(node->GetAttribute(u"mode")) == u"base64") return {};
  if (!HasElements(text, *node)) return TextAsHtml(DecodedText(text, node));
  const std::optional<std::u16string_view> inner = InnerMarkup(text, *node);
  return inner ? TextAsHtml(*inner) : std::u16string();
}

// An Atom title as it is kept.
std::u16string AtomTitle(std::u16string_view text, const CXMLNode* node) {
  if (node == nullptr) return {};
  switch (TypeOf(*node)) {
    case ConstructType::kHtml: return HtmlOf(text, node);
    case ConstructType::kXhtml: return XhtmlOf(text, *node);
    case ConstructType::kText:
    case ConstructType::kOther: break;
  }
  return TextAsTitle(DecodedText(text, node));
}

// An entry's own link: the first link whose rel is "alternate" or absent,
// with an href.
std::u16string AtomEntryLink(const CXMLNode& entry, const std::u16string& base) {
  for (const CXMLNode* l = entry.FindChildExact(u"link"); l != nullptr; l = entry.FindNextChild(u"link")) {
    const std::u16string rel = Trim(AttributeText(*l, u"rel"));
    if (!rel.empty() && rel != u"alternate") continue;
    const std::u16string href = Trim(AttributeText(*l, u"href"));
    if (!href.empty()) return Resolve(Rebase(base, *l), href);
  }
  return {};
}

// An Atom link in an RSS item ("atom:link", under any prefix) whose rel is
// "alternate" or absent.
std::u16string AtomLinkInRss(const CXMLNode& item, const std::u16string& base) {
  for (const CXMLNode* child : item.Children()) {
    if (!child->Name().ends_with(u":link")) continue;
    const std::u16string rel = Trim(AttributeText(*child, u"rel"));
    const std::u16string href = Trim(AttributeText(*child, u"href"));
    if ((rel.empty() || rel == u"alternate") && !href.empty()) return Resolve(Rebase(base, *child), href);
  }
  return {};
}

// The "media:title" of an entry or item (in its "media:group" or its own),
// for one that has no title of its own.
std::u16string MediaTitle(std::u16string_view text, const CXMLNode& item, const Prefixes& ns) {
  const CXMLNode* title = nullptr;
  if (const CXMLNode* group = ns.Find(item, u"media:group")) title = ns.Find(*group, u"media:title");
  if (title == nullptr) title = ns.Find(item, u"media:title");
  if (title == nullptr) return {};
  if (LowerAscii(title->GetAttribute(u"type")) == u"html") return HtmlOf(text, title);
  return TextAsTitle(DecodedText(text, title));
}

// A media description (YouTube's), by its type: plain text unless it says html.
std::u16string MediaDescription(std::u16string_view text, const CXMLNode& entry, const Prefixes& ns) {
  const CXMLNode* description = nullptr;
  if (const CXMLNode* group = ns.Find(entry, u"media:group")) description = ns.Find(*group, u"media:description");
  if (description == nullptr) description = ns.Find(entry, u"media:description");
  if (description == nullptr) return {};
  if (LowerAscii(description->GetAttribute(u"type")) == u"html") return HtmlOf(text, description);
  return TextAsHtml(DecodedText(text, description));
}

// An RSS item's or channel's title: its "title", else its "dc:title".
std::u16string RssTitleOf(std::u16string_view text, const CXMLNode& node, const Prefixes& ns) {
  std::u16string title = RssTitle(text, node.FindChildExact(u"title"));
  if (TrimView(title).empty()) title = RssTitle(text, ns.Find(node, u"dc:title"));
  return title;
}

// An RSS item's body: "content:encoded", else "description", else
// "dc:description".
std::u16string RssBodyOf(std::u16string_view text, const CXMLNode& item, const Prefixes& ns) {
  std::u16string body = HtmlOf(text, ns.Find(item, u"content:encoded"));
  if (TrimView(body).empty()) body = HtmlOf(text, item.FindChildExact(u"description"));
  if (TrimView(body).empty()) body = HtmlOf(text, ns.Find(item, u"dc:description"));
  return body;
}

bool HasScheme(std::u16string_view s) {
  size_t k = 0;
  while (k < s.size() && (IsWordChar(s[k]) || s[k] == u'+' || s[k] == u'-' || s[k] == u'.')) ++k;
  return k > 0 && k < s.size() && s[k] == u':' && !(s[0] >= u'0' && s[0] <= u'9');
}

// The link a "guid" gives: a permalink (the default) that is a web address,
// or a relative reference resolved against `base`: any one when the feed
// says isPermaLink="true", one that starts with "/" when it says nothing
// (a guid such as "12345" is then an identifier, not a page).
std::u16string GuidLink(std::u16string_view text, const CXMLNode& item, const std::u16string& base) {
  const CXMLNode* guid = item.FindChildExact(u"guid");
  if (guid == nullptr) return {};
  const std::u16string permaLink = Trim(AttributeText(*guid, u"isPermaLink"));
  if (permaLink == u"false") return {};
  const std::u16string address = Trim(DecodedText(text, guid));
  const bool relative = !address.empty() && !HasScheme(address) &&
                        (address.starts_with(u'/') || CompareAsciiNoCase(permaLink, u"true") == 0);
  if (!IsWebAddress(address) && !relative) return {};
  return Resolve(Rebase(base, *guid), address);
}

}  // namespace qb::interpret
