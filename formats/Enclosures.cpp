#include "formats/Enclosures.h"

#include <algorithm>
#include <cstdio>
#include <unordered_set>

#include "base/Text.h"
#include "formats/JsonFeed.h"
#include "formats/Markup.h"
#include "formats/XMLParser.h"

namespace qb {

namespace {

// A length attribute: digits only (white space around them allowed).
int64_t ReadLength(std::u16string_view text) {
  text = TrimView(text);
  if (text.empty()) return -1;
  int64_t value = 0;
  for (char16_t c : text) {
    if (c < u'0' || c > u'9') return -1;
    if (value > (INT64_MAX - 9) / 10) return -1;
    value = value * 10 + (c - u'0');
  }
  return value;
}

std::u16string Attribute(const CXMLNode& node, std::u16string_view name) {
  return Trim(DecodeXmlText(node.GetAttribute(name)));
}

struct Found {
  size_t position;
  Enclosure enclosure;
};

void Collect(const CXMLNode& item, std::vector<Found>& found) {
  for (const CXMLNode* child : item.Children()) {
    const std::u16string_view name = child->Name();
    Enclosure e;
    if (name == u"enclosure") {
      e.url = Attribute(*child, u"url");
      e.type = Attribute(*child, u"type");
      e.length = ReadLength(child->GetAttribute(u"length"));
    } else if (name == u"link") {
      if (child->GetAttribute(u"rel") != u"enclosure") continue;
      e.url = Attribute(*child, u"href");
      e.type = Attribute(*child, u"type");
      e.title = Attribute(*child, u"title");
      e.length = ReadLength(child->GetAttribute(u"length"));
    } else if (name == u"media:content") {
      e.url = Attribute(*child, u"url");
      e.type = Attribute(*child, u"type");
      e.length = ReadLength(child->GetAttribute(u"fileSize"));
    } else if (name == u"media:group") {
      for (const CXMLNode* content : child->Children()) {
        if (content->Name() != u"media:content") continue;
        Enclosure m;
        m.url = Attribute(*content, u"url");
        m.type = Attribute(*content, u"type");
        m.length = ReadLength(content->GetAttribute(u"fileSize"));
        if (!m.url.empty()) found.push_back({content->MarkupBegin(), std::move(m)});
      }
      continue;
    } else {
      continue;
    }
    if (!e.url.empty()) found.push_back({child->MarkupBegin(), std::move(e)});
  }
}

// The one item or entry the text holds, or null when it holds anything else
// at the top (a whole document, or several elements).
const CXMLNode* OnlyItem(const CXMLNode& document) {
  const CXMLNode* item = nullptr;
  for (const CXMLNode* child : document.Children()) {
    const std::u16string_view name = child->Name();
    if (!name.empty() && (name[0] == u'?' || name[0] == u'!')) continue;
    if (item != nullptr) return nullptr;
    item = child;
  }
  if (item == nullptr || (item->Name() != u"item" && item->Name() != u"entry")) return nullptr;
  return item;
}

}  // namespace

std::vector<Enclosure> FindEnclosures(std::u16string_view sourceText) {
  std::vector<Found> found;
  if (LooksLikeJson(sourceText)) {
    size_t n = 0;
    for (JsonFeedAttachment& a : JsonFeedAttachments(sourceText)) {
      found.push_back({n++, Enclosure{std::move(a.url), std::move(a.mimeType), std::move(a.title), a.sizeInBytes}});
    }
  } else {
    CXMLParser parser;
    const CXMLNode* item = OnlyItem(parser.Parse(sourceText));
    if (item != nullptr) Collect(*item, found);
  }
  std::stable_sort(found.begin(), found.end(),
                   [](const Found& a, const Found& b) { return a.position < b.position; });
  std::vector<Enclosure> out;
  std::unordered_set<std::u16string> seen;
  for (Found& f : found) {
    if (seen.insert(f.enclosure.url).second) out.push_back(std::move(f.enclosure));
  }
  return out;
}

std::u16string FormatFileSize(int64_t bytes) {
  if (bytes < 0) return {};
  char buf[32];
  if (bytes < 1024) {
    std::snprintf(buf, sizeof buf, "%lld %s", static_cast<long long>(bytes), bytes == 1 ? "byte" : "bytes");
  } else if (bytes < 1024 * 1024) {
    std::snprintf(buf, sizeof buf, "%lld KB", static_cast<long long>((bytes + 512) / 1024));
  } else if (bytes < int64_t{1024} * 1024 * 1024) {
    std::snprintf(buf, sizeof buf, "%.1f MB", static_cast<double>(bytes) / (1024.0 * 1024.0));
  } else {
    std::snprintf(buf, sizeof buf, "%.1f GB", static_cast<double>(bytes) / (1024.0 * 1024.0 * 1024.0));
  }
  return Widen(buf);
}

}  // namespace qb
