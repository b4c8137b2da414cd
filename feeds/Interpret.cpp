#include "feeds/Interpret.h"

#include <algorithm>
#include <functional>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "feeds/Markup.h"
#include "feeds/PubDate.h"
#include "feeds/WebAddress.h"
#include "model/Feed.h"
#include "model/FeedsManager.h"
#include "model/Text.h"

namespace qb {
namespace {

// ---------------------------------------------------------------- keys

// The parser's text of the first child whose name is not less than `name`
// (FindChild): the lookup the keys have always been made with.
std::u16string KeyLookupText(const CXMLNode& node, std::u16string_view name) {
  const CXMLNode* child = node.FindChild(name);
  return child != nullptr ? std::u16string(child->Text()) : std::u16string();
}

// The parser's text of the first child named exactly `name`.
std::u16string ExactText(const CXMLNode& node, std::u16string_view name) {
  const CXMLNode* child = node.FindChildExact(name);
  return child != nullptr ? std::u16string(child->Text()) : std::u16string();
}

// An item's or entry's key, made exactly as it always was, because the
// seen-histories in the data files hold keys made this way and a changed key
// would bring deleted articles back: the "guid" found by FindChild (for an
// Atom entry that is its "id" whenever no name sorts between the two), else
// title + "@" + link with the title (and an RSS item's link) also found by
// FindChild, "<Untitled>" standing for an empty title. `atomLink` is the
// Atom feed's self link as written, null for an RSS item.
std::u16string ItemKey(const CXMLNode& item, const std::u16string* atomLink) {
  std::u16string key = KeyLookupText(item, u"guid");
  if (!key.empty()) return key;
  std::u16string title = KeyLookupText(item, u"title");
  if (title.empty()) title = kUntitled;
  return title + u"@" + (atomLink != nullptr ? *atomLink : KeyLookupText(item, u"link"));
}

std::u16string TitleAtLink(std::u16string title, std::u16string_view link) {
  if (title.empty()) title = kUntitled;
  title += u'@';
  title += link;
  return title;
}

// An RSS 1.0 item's key: its rdf:about, else title@link by the exact lookups.
std::u16string Rss1Key(const CXMLNode& item) {
  const std::u16string_view about = item.GetAttribute(u"rdf:about");
  if (!about.empty()) return std::u16string(about);
  return TitleAtLink(ExactText(item, u"title"), ExactText(item, u"link"));
}

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

// The extension elements read here are known by their namespace, whatever
// prefix a document binds to it: most write "content:encoded", a few
// "<c:encoded xmlns:c='http://purl.org/rss/1.0/modules/content/'>". The
// usual prefix is always tried first, so documents read before are read
// the same way.
class Prefixes {
 public:
  // From the declarations on the feed element and on the elements up to
  // three levels inside it (a channel, its items and their children), the
  // levels where these elements are looked for.
  explicit Prefixes(const CXMLNode& root) {
    std::vector<std::pair<const CXMLNode*, int>> stack{{&root, 0}};
    while (!stack.empty()) {
      const auto [node, depth] = stack.back();
      stack.pop_back();
      for (const CXMLNode::Attribute& a : node->Attributes()) {
        if (a.name.starts_with(u"xmlns:")) Bind(a.name.substr(6), a.value);
      }
      if (depth < 3) {
        for (const CXMLNode* child : node->Children()) stack.emplace_back(child, depth + 1);
      }
    }
  }

  // The child named `name` ("content:encoded"), else one whose prefix is
  // bound to the namespace the usual prefix stands for.
  const CXMLNode* Find(const CXMLNode& node, std::u16string_view name) const {
    if (const CXMLNode* child = node.FindChildExact(name)) return child;
    for (const auto& [usual, other] : m_others) {
      if (name.size() <= usual.size() || !name.starts_with(usual) || name[usual.size()] != u':') continue;
      const std::u16string alias = other + std::u16string(name.substr(usual.size()));
      if (const CXMLNode* child = node.FindChildExact(alias)) return child;
    }
    return nullptr;
  }

 private:
  void Bind(std::u16string_view prefix, std::u16string_view uri) {
    static constexpr std::pair<std::u16string_view, std::u16string_view> kKnown[] = {
        {u"content", u"http://purl.org/rss/1.0/modules/content/"},
        {u"dc", u"http://purl.org/dc/elements/1.1/"},
        {u"media", u"http://search.yahoo.com/mrss/"},
        {u"itunes", u"http://www.itunes.com/dtds/podcast-1.0.dtd"},
        {u"atom", u"http://www.w3.org/2005/Atom"},
    };
    uri = TrimView(uri);
    if (uri.ends_with(u'/')) uri.remove_suffix(1);
    for (const auto& [usual, known] : kKnown) {
      const std::u16string_view bare = known.ends_with(u'/') ? known.substr(0, known.size() - 1) : known;
      if (prefix.empty() || prefix == usual || CompareAsciiNoCase(uri, bare) != 0) continue;
      const std::pair<std::u16string, std::u16string> entry{std::u16string(usual), std::u16string(prefix)};
      if (std::find(m_others.begin(), m_others.end(), entry) == m_others.end()) m_others.push_back(entry);
    }
  }

  std::vector<std::pair<std::u16string, std::u16string>> m_others;  // usual prefix, another bound to its namespace
};

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

enum class ConstructType { kText, kHtml, kXhtml, kOther };

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

// ---------------------------------------------------------------- merging

// The node's markup as written; empty for no node.
std::u16string_view NodeMarkup(std::u16string_view text, const CXMLNode* node) {
  if (node == nullptr) return {};
  const size_t begin = std::min(node->MarkupBegin(), text.size());
  return text.substr(begin, std::min(node->MarkupEnd(), text.size()) - begin);
}

// What tells apart items or entries that share a key: their title, link,
// date, body and media, wherever the feed put them.
constexpr std::u16string_view kRssItemIdentity[] = {
    u"title", u"link", u"pubDate", u"pubdate", u"dc:date", u"content:encoded", u"description", u"dc:title",
    u"dc:description", u"itunes:summary", u"media:group", u"media:title", u"media:description", u"media:content",
    u"enclosure"};
constexpr std::u16string_view kAtomEntryIdentity[] = {
    u"title", u"link", u"published", u"updated", u"content", u"summary",
    u"dc:title", u"media:group", u"media:title", u"media:description"};

// The markup of every child of these names (each name in the usual
// namespace prefixes or another bound to it), as written, one after the
// other: what tells apart items that share a key.
std::u16string ChildrenMarkup(std::u16string_view text, const CXMLNode& node, const Prefixes& ns,
                              std::span<const std::u16string_view> names) {
  std::u16string out;
  for (std::u16string_view name : names) {
    const CXMLNode* child = ns.Find(node, name);
    for (; child != nullptr; child = node.FindNextChild(child->Name())) {
      out += NodeMarkup(text, child);
      out += u'\uFFFF';  // a border no markup holds
    }
    out += u'\uFFFF';
  }
  return out;
}

// Candidate n's own key, for a key that repeats in the document: the
// shared key, "#" and a digest of what tells such items apart (64 bits of
// FNV-1a over the code units).
std::u16string OwnKey(std::u16string_view shared, std::u16string_view identity) {
  uint64_t h = 0xCBF29CE484222325ull;
  for (char16_t c : identity) h = (h ^ c) * 0x100000001B3ull;
  std::u16string key(shared);
  key += u'#';
  for (int shift = 60; shift >= 0; shift -= 4) key += u"0123456789abcdef"[(h >> shift) & 0xF];
  return key;
}

// The candidates of a document, one per item in document order. `keys`
// holds each item's key; `fill(n, candidate)` reads the fields of item n and
// sets its markup span; `identity(n)` is what tells item n apart from others
// with its key, asked only for a key that repeats.
template <class Fill, class Identity>
void AddCandidates(FeedReading& reading, std::vector<std::u16string> keys, const Fill& fill,
                   const Identity& identity) {
  std::vector<bool> repeated(keys.size());
  {
    std::unordered_map<std::u16string_view, size_t> firstOf;
    firstOf.reserve(keys.size());
    for (size_t n = 0; n < keys.size(); ++n) {
      const auto [it, fresh] = firstOf.emplace(keys[n], n);
      if (!fresh) repeated[n] = repeated[it->second] = true;
    }
  }
  reading.articles.reserve(keys.size());
  for (size_t n = 0; n < keys.size(); ++n) {
    ArticleCandidate c;
    try {
      fill(n, c);
      if (repeated[n]) c.ownKey = OwnKey(keys[n], identity(n));
      c.fields.m_key = std::move(keys[n]);
    } catch (const std::bad_alloc&) {
      continue;  // out of memory: the item is skipped
    }
    if (c.fields.m_title.empty()) c.fields.m_title = kUntitled;
    if (c.fields.m_key.empty()) c.fields.m_key = c.fields.m_title + u"@" + c.fields.m_link;
    c.fields.m_date = ParsePubDateText(c.fields.m_dateText);
    reading.articles.push_back(std::move(c));
  }
}

void SetMarkup(ArticleCandidate& c, const CXMLNode& item) {
  c.markupBegin = item.MarkupBegin();
  c.markupEnd = item.MarkupEnd();
}

// What the root of a document is.
enum class RootKind { kNone, kRss, kAtom, kRss1 };

const CXMLNode* FindRdf(const CXMLNode& container) {
  for (const CXMLNode* child : container.Children()) {
    if (child->Name() == u"rdf:RDF" || child->Name().ends_with(u":RDF")) return child;
  }
  return nullptr;
}

// The feed element: "rss" or "feed" by the lookups they have always been
// found with (so every document read before is read the same way), else an
// "rdf:RDF". When the top level has none, the search goes on inside an
// element that the parser let run to the end of the document: a leading
// "<!DOCTYPE ...>" (each declaration of its internal subset likewise holds
// what follows it), or a comment without its "-->" that a ">" in it broke,
// inside which an end tag may have opened one more such element.
const CXMLNode* FindRoot(const CXMLNode& document, size_t textSize, RootKind& kind) {
  constexpr int kDepthLimit = 16;
  const CXMLNode* container = &document;
  bool inDeclaration = false;
  for (int depth = 0; depth <= kDepthLimit && container != nullptr; ++depth) {
    const CXMLNode* e = container->FindChild(u"rss");
    if (e == nullptr) e = container->FindChild(u"feed");
    if (e != nullptr && e->Name() == u"rss") {
      kind = RootKind::kRss;
      return e;
    }
    if (e != nullptr && e->Name() == u"feed") {
      kind = RootKind::kAtom;
      return e;
    }
    if (const CXMLNode* rdf = FindRdf(*container)) {
      kind = RootKind::kRss1;
      return rdf;
    }
    const CXMLNode* next = nullptr;
    for (const CXMLNode* child : container->Children()) {
      const bool runsToTheEnd = child->MarkupEnd() >= textSize && !child->Children().empty();
      if (runsToTheEnd && (inDeclaration || child->Name().starts_with(u"!"))) next = child;
    }
    if (next != nullptr && next->Name().starts_with(u"!")) inDeclaration = true;
    container = next;
  }
  kind = RootKind::kNone;
  return nullptr;
}

// Every item of every channel, in document order; channel titles are joined
// with " / " for the auto-name.
FeedReading ReadRss(const SharedText& text, const CXMLNode& rss, std::u16string_view sourceUrl) {
  struct Item {
    const CXMLNode* node;
    size_t channel;
    std::u16string base;
  };
  FeedReading reading;
  reading.text = text;
  const std::u16string_view s = text.str();
  const std::u16string rssBase = Rebase(std::u16string(sourceUrl), rss);
  const Prefixes ns(rss);
  std::vector<std::u16string> channelTitles;
  std::vector<Item> items;
  // Exactly "channel": an rss element without one (items straight under it)
  // is not a feed this reads, rather than one named after its first item.
  for (const CXMLNode* c = rss.FindChildExact(u"channel"); c != nullptr; c = rss.FindNextChild(u"channel")) {
    std::u16string title = ShownTitle(RssTitleOf(s, *c, ns));
    if (!title.empty()) {
      if (!reading.title.empty()) reading.title += u" / ";
      reading.title += title;
    }
    const std::u16string channelBase = Rebase(rssBase, *c);
    for (const CXMLNode* i = c->FindChildExact(u"item"); i != nullptr; i = c->FindNextChild(u"item")) {
      items.push_back({i, channelTitles.size(), Rebase(channelBase, *i)});
    }
    channelTitles.push_back(std::move(title));
  }
  reading.understood = !channelTitles.empty();

  std::vector<std::u16string> keys;
  keys.reserve(items.size());
  for (const Item& it : items) keys.push_back(ItemKey(*it.node, nullptr));
  AddCandidates(
      reading, std::move(keys),
      [&](size_t n, ArticleCandidate& c) {
        ArticleFields& a = c.fields;
        const CXMLNode& item = *items[n].node;
        const std::u16string& base = items[n].base;
        a.m_channel = channelTitles[items[n].channel];
        a.m_title = RssTitleOf(s, item, ns);
        if (TrimView(a.m_title).empty()) a.m_title = MediaTitle(s, item, ns);
        a.m_title = ShownTitle(a.m_title);
        if (const CXMLNode* link = item.FindChildExact(u"link")) {
          a.m_link = Resolve(Rebase(base, *link), DecodedText(s, link));
        }
        if (a.m_link.empty()) a.m_link = GuidLink(s, item, base);
        if (a.m_link.empty()) a.m_link = AtomLinkInRss(item, base);
        c.description = RssBodyOf(s, item, ns);
        // A podcast's episode may have only its iTunes summary, a video its
        // media description.
        if (TrimView(c.description).empty()) c.description = TextAsHtml(DecodedText(s, ns.Find(item, u"itunes:summary")));
        if (TrimView(c.description).empty()) c.description = MediaDescription(s, item, ns);
        FirstWithText(s, item, ns, {u"pubDate", u"pubdate", u"dc:date"}, a.m_dateText);
        SetMarkup(c, item);
      },
      [&](size_t n) { return ChildrenMarkup(s, *items[n].node, ns, kRssItemIdentity); });
  return reading;
}

// Every entry.
FeedReading ReadAtom(const SharedText& text, const CXMLNode& feed, std::u16string_view sourceUrl) {
  FeedReading reading;
  reading.text = text;
  reading.understood = true;
  const std::u16string_view s = text.str();
  reading.title = ShownTitle(AtomTitle(s, feed.FindChildExact(u"title")));
  const std::u16string feedBase = Rebase(std::u16string(sourceUrl), feed);
  const Prefixes ns(feed);
  std::u16string selfLink;
  std::u16string selfLinkShown;
  // FindChild as always: the self link is part of the entries' keys.
  for (const CXMLNode* l = feed.FindChild(u"link"); l != nullptr; l = feed.FindNextChild(u"link")) {
    if (l->GetAttribute(u"rel") == u"self") {
      selfLink = l->GetAttribute(u"href");
      selfLinkShown = Resolve(Rebase(feedBase, *l), DecodeXmlText(selfLink));
      break;  // the first self link decides, even with an empty href
    }
  }

  std::vector<const CXMLNode*> entries;
  for (const CXMLNode* e = feed.FindChildExact(u"entry"); e != nullptr; e = feed.FindNextChild(u"entry")) {
    entries.push_back(e);
  }
  std::vector<std::u16string> keys;
  keys.reserve(entries.size());
  for (const CXMLNode* e : entries) keys.push_back(ItemKey(*e, &selfLink));
  AddCandidates(
      reading, std::move(keys),
      [&](size_t n, ArticleCandidate& c) {
        ArticleFields& a = c.fields;
        const CXMLNode& entry = *entries[n];
        const std::u16string base = Rebase(feedBase, entry);
        a.m_channel = reading.title;
        a.m_title = AtomTitle(s, entry.FindChildExact(u"title"));
        if (TrimView(a.m_title).empty()) a.m_title = RssTitle(s, ns.Find(entry, u"dc:title"));
        if (TrimView(a.m_title).empty()) a.m_title = MediaTitle(s, entry, ns);
        a.m_title = ShownTitle(a.m_title);
        a.m_link = AtomEntryLink(entry, base);
        // An entry without a link of its own leads to the feed, as ever; in a
        // feed without a self link, to its id when that is a web address.
        if (a.m_link.empty()) a.m_link = selfLinkShown;
        if (a.m_link.empty()) {
          const std::u16string id = Trim(DecodedText(s, entry.FindChildExact(u"id")));
          if (IsWebAddress(id)) a.m_link = Resolve(base, id);
        }
        c.description = AtomHtml(s, entry.FindChildExact(u"content"));
        if (TrimView(c.description).empty()) c.description = AtomHtml(s, entry.FindChildExact(u"summary"));
        if (TrimView(c.description).empty()) c.description = HtmlOf(s, ns.Find(entry, u"dc:description"));
        if (TrimView(c.description).empty()) c.description = MediaDescription(s, entry, ns);
        FirstWithText(s, entry, ns, {u"published", u"updated", u"issued", u"modified", u"created"}, a.m_dateText);
        SetMarkup(c, entry);
      },
      [&](size_t n) { return ChildrenMarkup(s, *entries[n], ns, kAtomEntryIdentity); });
  return reading;
}

// The channel and the items of an "rdf:RDF" element.
FeedReading ReadRss1(const SharedText& text, const CXMLNode& rdf, std::u16string_view sourceUrl) {
  FeedReading reading;
  reading.text = text;
  const std::u16string_view s = text.str();
  const std::u16string rdfBase = Rebase(std::u16string(sourceUrl), rdf);
  const Prefixes ns(rdf);
  const CXMLNode* channel = rdf.FindChildExact(u"channel");
  if (channel != nullptr) reading.title = ShownTitle(RssTitleOf(s, *channel, ns));
  // Items are the channel's siblings; a few feeds put them inside it.
  std::vector<const CXMLNode*> items;
  for (const CXMLNode* i = rdf.FindChildExact(u"item"); i != nullptr; i = rdf.FindNextChild(u"item")) {
    items.push_back(i);
  }
  if (items.empty() && channel != nullptr) {
    for (const CXMLNode* i = channel->FindChildExact(u"item"); i != nullptr; i = channel->FindNextChild(u"item")) {
      items.push_back(i);
    }
  }
  reading.understood = channel != nullptr || !items.empty();
  if (!reading.understood) return reading;

  std::vector<std::u16string> keys;
  keys.reserve(items.size());
  for (const CXMLNode* i : items) keys.push_back(Rss1Key(*i));
  AddCandidates(
      reading, std::move(keys),
      [&](size_t n, ArticleCandidate& c) {
        ArticleFields& a = c.fields;
        const CXMLNode& item = *items[n];
        const std::u16string base = Rebase(rdfBase, item);
        a.m_channel = reading.title;
        a.m_title = ShownTitle(RssTitleOf(s, item, ns));
        if (const CXMLNode* link = item.FindChildExact(u"link")) {
          a.m_link = Resolve(Rebase(base, *link), DecodedText(s, link));
        }
        if (a.m_link.empty()) {
          const std::u16string about = Trim(AttributeText(item, u"rdf:about"));
          if (IsWebAddress(about)) a.m_link = Resolve(base, about);
        }
        c.description = RssBodyOf(s, item, ns);
        FirstWithText(s, item, ns, {u"dc:date", u"pubDate", u"pubdate"}, a.m_dateText);
        SetMarkup(c, item);
      },
      [&](size_t n) { return ChildrenMarkup(s, *items[n], ns, kRssItemIdentity); });
  return reading;
}

// Every item of a JSON Feed read from `text`.
FeedReading ReadJsonFeed(const SharedText& text, const JsonFeedDocument& feed, std::u16string_view sourceUrl) {
  FeedReading reading;
  reading.text = text;
  reading.understood = true;
  reading.title = TextAsTitle(ShownTitle(feed.title));
  const std::u16string base(sourceUrl);
  std::vector<std::u16string> keys;
  keys.reserve(feed.items.size());
  for (const JsonFeedItem& item : feed.items) {
    keys.push_back(!item.id.empty() ? item.id
                                    : TitleAtLink(item.title, !item.url.empty() ? item.url : item.externalUrl));
  }
  AddCandidates(
      reading, std::move(keys),
      [&](size_t n, ArticleCandidate& c) {
        const JsonFeedItem& item = feed.items[n];
        ArticleFields& a = c.fields;
        a.m_channel = reading.title;
        a.m_title = TextAsTitle(ShownTitle(item.title));
        a.m_link = Resolve(base, !TrimView(item.url).empty() ? item.url : item.externalUrl);
        if (!TrimView(item.contentHtml).empty()) {
          c.description = item.contentHtml;
        } else if (!TrimView(item.contentText).empty()) {
          c.description = TextAsHtml(item.contentText);
        } else {
          c.description = TextAsHtml(item.summary);
        }
        a.m_dateText = !TrimView(item.datePublished).empty() ? item.datePublished : item.dateModified;
        c.markupBegin = item.markupBegin;
        c.markupEnd = item.markupEnd;
      },
      [&](size_t n) {
        const JsonFeedItem& item = feed.items[n];
        std::u16string identity;
        for (const std::u16string* field : {&item.title, &item.url, &item.externalUrl, &item.datePublished,
                                            &item.dateModified, &item.contentHtml, &item.contentText, &item.summary}) {
          identity += *field;
          identity += u'\uFFFF';
        }
        return identity;
      });
  return reading;
}

}  // namespace

FeedReading ReadFeed(const CParsedFeed& feed, std::u16string_view sourceUrl) {
  if (const JsonFeedDocument* json = feed.JsonFeed()) return ReadJsonFeed(feed.Text(), *json, sourceUrl);
  return ReadDocument(feed.Text(), feed.Document(), sourceUrl);
}

FeedReading ReadDocument(const SharedText& text, const CXMLNode& document, std::u16string_view sourceUrl) {
  RootKind kind = RootKind::kNone;
  const CXMLNode* root = FindRoot(document, text.size(), kind);
  switch (kind) {
    case RootKind::kRss: return ReadRss(text, *root, sourceUrl);
    case RootKind::kAtom: return ReadAtom(text, *root, sourceUrl);
    case RootKind::kRss1: return ReadRss1(text, *root, sourceUrl);
    case RootKind::kNone: break;
  }
  return FeedReading{};
}

bool HoldsFeed(const CParsedFeed& feed) {
  RootKind kind = RootKind::kNone;
  return feed.JsonFeed() != nullptr || FindRoot(feed.Document(), feed.Text().size(), kind) != nullptr;
}

bool InterpretFeed(CFeedsManager& manager, CFeedSource& source, const CParsedFeed& feed, uint32_t tick) {
  return manager.MergeArticles(source.m_id, ReadFeed(feed, source.m_url), tick);
}

bool InterpretDocument(CFeedsManager& manager, CFeedSource& source, const SharedText& text,
                       const CXMLNode& document, uint32_t tick) {
  return manager.MergeArticles(source.m_id, ReadDocument(text, document, source.m_url), tick);
}

}  // namespace qb
