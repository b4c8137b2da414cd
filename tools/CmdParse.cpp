// quillbend-cli parse FILE: the parsed tree of a feed document as canonical
// JSON, written with an explicit stack, so any depth prints; for a JSON Feed
// what the interpretation reads of it.
#include <algorithm>
#include <utility>
#include <vector>

#include "base/Text.h"
#include "formats/ParsedFeed.h"
#include "formats/TextDecoding.h"
#include "formats/XMLParser.h"
#include "tools/Cli.h"
#include "tools/Json.h"

namespace qb::cli {
namespace {

// {"attributes":{...},"children":[...],"name":S,"text":S}; the attributes
// are already sorted by name.
void WriteTree(const CXMLNode& root, std::string& out) {
  struct Frame {
    const CXMLNode* node;
    size_t next;  // next child to write
  };
  const auto open = [&out](const CXMLNode& node) {
    out += "{\"attributes\":{";
    bool first = true;
    for (const auto& [name, value] : node.Attributes()) {
      if (!first) out.push_back(',');
      first = false;
      WriteJsonString(name, out);
      out.push_back(':');
      WriteJsonString(value, out);
    }
    out += "},\"children\":[";
  };
  std::vector<Frame> stack;
  open(root);
  stack.push_back({&root, 0});
  while (!stack.empty()) {
    Frame& top = stack.back();
    const auto children = top.node->Children();
    if (top.next < children.size()) {
      if (top.next != 0) out.push_back(',');
      const CXMLNode* child = children[top.next++];
      open(*child);
      stack.push_back({child, 0});
      continue;
    }
    out += "],\"name\":";
    WriteJsonString(top.node->Name(), out);
    out += ",\"text\":";
    WriteJsonString(top.node->Text(), out);
    out.push_back('}');
    stack.pop_back();
  }
}

// One item: the members read, by their JSON Feed names, and its own JSON as
// "sourceText".
JsonValue ItemToJson(std::u16string_view text, const JsonFeedItem& item) {
  JsonObject o;
  o[u"content_html"] = item.contentHtml;
  o[u"content_text"] = item.contentText;
  o[u"date_modified"] = item.dateModified;
  o[u"date_published"] = item.datePublished;
  o[u"external_url"] = item.externalUrl;
  o[u"id"] = item.id;
  const size_t begin = std::min(item.markupBegin, text.size());
  o[u"sourceText"] = std::u16string(text.substr(begin, std::min(item.markupEnd, text.size()) - begin));
  o[u"summary"] = item.summary;
  o[u"title"] = item.title;
  o[u"url"] = item.url;
  return o;
}

// {"items":[ITEM,...],"title":S,"version":S}
std::string JsonFeedToJson(std::u16string_view text, const JsonFeedDocument& feed) {
  JsonArray items;
  for (const JsonFeedItem& item : feed.items) items.push_back(ItemToJson(text, item));
  JsonObject root;
  root[u"items"] = std::move(items);
  root[u"title"] = feed.title;
  root[u"version"] = feed.version;
  return JsonValue(std::move(root)).ToString();
}

int RunParse(CliContext& ctx) {
  if (ctx.args.size() != 1) {
    ctx.err << "usage: quillbend-cli parse FILE\n";
    return 2;
  }
  std::string bytes;
  if (!ReadFileBytes(ctx.args[0], bytes)) {
    ctx.err << "quillbend-cli: cannot read " << ctx.args[0] << "\n";
    return 2;
  }
  const SharedText text(DecodeFeedBytes(bytes));
  const CParsedFeed parsed = ParseFeed(text);
  std::string json;
  if (const JsonFeedDocument* feed = parsed.JsonFeed()) {
    json = JsonFeedToJson(text.str(), *feed);
  } else {
    WriteTree(parsed.Document(), json);
  }
  PrintJsonLine(ctx.out, json);
  return 0;
}

QB_CLI_COMMAND({"parse", "parse FILE                the element tree of a feed document", RunParse,
                "parse and interpret read RSS, Atom and JSON Feed documents. For a JSON Feed,\n"
                "parse prints {\"items\":[ITEM,...],\"title\":S,\"version\":S}, each ITEM the\n"
                "members read of it by their JSON Feed names (content_html, content_text,\n"
                "date_modified, date_published, external_url, id, summary, title, url; an id\n"
                "that is a number as its digits, a member that is absent or not a string as\n"
                "\"\") and the item's own JSON as it stands in the document as sourceText."});

}  // namespace
}  // namespace qb::cli
