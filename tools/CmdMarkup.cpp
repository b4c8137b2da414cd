// quillbend-cli markup FUNC [--] TEXT: one markup text function applied to
// TEXT (UTF-8 on the command line), printed as a canonical JSON string.
#include <map>

#include "base/Text.h"
#include "formats/Markup.h"
#include "tools/Cli.h"
#include "tools/Json.h"

namespace qb::cli {
namespace {

int RunMarkup(CliContext& ctx) {
  using Function = std::u16string (*)(std::u16string_view);
  static const std::map<std::string, Function> kFunctions = {
      {"DecodeEntities", &DecodeEntities},
      {"EncodeEntities", &EncodeEntities},
      {"DecodeCharRefs", &DecodeCharRefs},
      {"EncodeCharRefs", &EncodeCharRefs},
  };
  std::vector<std::string> args = ctx.args;
  if (args.size() == 3 && args[1] == "--") args.erase(args.begin() + 1);
  const auto it = args.size() == 2 ? kFunctions.find(args[0]) : kFunctions.end();
  if (it == kFunctions.end()) {
    ctx.err << "usage: quillbend-cli markup DecodeEntities|EncodeEntities|DecodeCharRefs|EncodeCharRefs [--] TEXT\n";
    return 2;
  }
  std::string json;
  WriteJsonString(it->second(Utf8ToUtf16(args[1])), json);
  PrintJsonLine(ctx.out, json);
  return 0;
}

QB_CLI_COMMAND({"markup", "markup FUNC [--] TEXT     apply a markup text function", RunMarkup});

}  // namespace
}  // namespace qb::cli
