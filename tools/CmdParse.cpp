// quillbend-cli parse FILE: the parsed tree of a feed document as canonical
// JSON. Written with an explicit stack, so any depth prints.
#include <utility>
#include <vector>

#include "feeds/TextDecoding.h"
#include "feeds/XMLParser.h"
#include "model/Text.h"
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
  CXMLParser parser;
  std::string json;
  WriteTree(parser.ParseShared(text), json);
  PrintJsonLine(ctx.out, json);
  return 0;
}

QB_CLI_COMMAND({"parse", "parse FILE                the element tree of a feed document", RunParse});

}  // namespace
}  // namespace qb::cli
