// quillbend-cli write MODEL.json OUT: writes the data file OUT from a model
// given as JSON (the form `dump` prints), exactly as the program saves it.
// A malformed model leaves OUT untouched.
#include "classic/DataFile.h"
#include "model/FeedsManager.h"
#include "tools/Cli.h"
#include "tools/JsonReader.h"
#include "tools/ModelJson.h"

namespace qb::cli {
namespace {

int RunWrite(CliContext& ctx) {
  if (ctx.args.size() != 2) {
    ctx.err << "usage: quillbend-cli write MODEL.json OUT\n";
    return 2;
  }
  std::string text;
  if (!ReadFileBytes(ctx.args[0], text)) {
    ctx.err << "quillbend-cli: cannot read " << ctx.args[0] << "\n";
    return 2;
  }
  std::string error;
  std::optional<JsonValue> json = ParseJson(text, error);
  CFeedsManager manager;
  if (!json || !JsonToModel(*json, manager, error)) {
    ctx.err << "quillbend-cli: malformed model in " << ctx.args[0] << ": " << error << "\n";
    return 2;
  }
  const SaveResult saved = SaveDataFile(manager, ctx.args[1]);
  if (!saved) {
    ctx.err << "quillbend-cli: " << saved.error << "\n";
    return 1;
  }
  return 0;
}

QB_CLI_COMMAND({"write", "write MODEL.json OUT      write a data file from a JSON model", RunWrite});

}  // namespace
}  // namespace qb::cli
