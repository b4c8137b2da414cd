// The helpers the feed interpretation reads a document's markup with: the
// texts of elements as they are shown, links resolved against the bases in
// scope, the usual namespaces whatever their prefix, Atom's text
// constructs. For formats/Interpret.cpp alone.
#pragma once

#include <algorithm>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/Text.h"
#include "formats/XMLParser.h"

namespace qb::interpret {

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

enum class ConstructType { kText, kHtml, kXhtml, kOther };

std::u16string_view TagName(std::u16string_view inside);
std::optional<std::u16string_view> InnerMarkup(std::u16string_view text, const CXMLNode& node);
bool HasElements(std::u16string_view text, const CXMLNode& node);
std::u16string DecodedText(std::u16string_view text, const CXMLNode* node);
std::u16string HtmlOf(std::u16string_view text, const CXMLNode* node);
std::u16string AttributeText(const CXMLNode& node, std::u16string_view name);
std::u16string TextAsHtml(std::u16string_view text);
bool IsWordChar(char16_t c);
bool LooksLikeHtml(std::u16string_view s);
std::u16string RssTitle(std::u16string_view text, const CXMLNode* node);
std::u16string Resolve(std::u16string_view base, std::u16string_view reference);
std::u16string Rebase(const std::u16string& base, const CXMLNode& node);
bool IsWebAddress(std::u16string_view s);
std::u16string ShownTitle(std::u16string_view title);
const CXMLNode* FirstWithText(std::u16string_view text, const CXMLNode& node, const Prefixes& ns, std::initializer_list<std::u16string_view> names, std::u16string& out);
std::u16string LowerAscii(std::u16string_view s);
ConstructType TypeOf(const CXMLNode& node);
std::u16string XhtmlOf(std::u16string_view text, const CXMLNode& node);
std::u16string AtomHtml(std::u16string_view text, const CXMLNode* node);
std::u16string AtomTitle(std::u16string_view text, const CXMLNode* node);
std::u16string AtomEntryLink(const CXMLNode& entry, const std::u16string& base);
std::u16string AtomLinkInRss(const CXMLNode& item, const std::u16string& base);
std::u16string MediaTitle(std::u16string_view text, const CXMLNode& item, const Prefixes& ns);
std::u16string MediaDescription(std::u16string_view text, const CXMLNode& entry, const Prefixes& ns);
std::u16string RssTitleOf(std::u16string_view text, const CXMLNode& node, const Prefixes& ns);
std::u16string RssBodyOf(std::u16string_view text, const CXMLNode& item, const Prefixes& ns);
bool HasScheme(std::u16string_view s);
std::u16string GuidLink(std::u16string_view text, const CXMLNode& item, const std::u16string& base);

}  // namespace qb::interpret
