// quillbend-cli date [--] TEXT: the result of ParsePubDate as canonical JSON.
#include "base/Text.h"
#include "formats/PubDate.h"
#include "tools/Cli.h"
#include "tools/Json.h"

namespace qb::cli {
namespace {

int RunDate(CliContext& ctx) {
  std::vector<std::string> args = ctx.args;
  if (!args.empty() && args.front() == "--") args.erase(args.begin());
  if (args.size() != 1) {
    ctx.err << "usage: quillbend-cli date [--] TEXT\n";
    return 2;
  }
  PrintJsonLine(ctx.out, DateToJson(ParsePubDateText(Utf8ToUtf16(args[0]))).ToString());
  return 0;
}

QB_CLI_COMMAND({"date", "date [--] TEXT            parse a publication date", RunDate});

}  // namespace
}  // namespace qb::cli
