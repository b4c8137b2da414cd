// quillbend-cli dump FILE: loads FILE as the program loads its data file and
// prints the outcome and the model as canonical JSON. The file is only
// inspected: nothing is copied aside or written.
#include "classic/DataFile.h"
#include "model/FeedsManager.h"
#include "tools/Cli.h"
#include "tools/Json.h"
#include "tools/ModelJson.h"

namespace qb::cli {
namespace {

const char16_t* OutcomeName(LoadStatus status) {
  switch (status) {
    case LoadStatus::Ok: return u"ok";
    case LoadStatus::BadSchema: return u"badSchema";
    case LoadStatus::BadClass: return u"badClass";
    case LoadStatus::EndOfFile: return u"endOfFile";
    case LoadStatus::Generic: return u"generic";
  }
  return u"generic";
}

int RunDump(CliContext& ctx) {
  if (ctx.args.size() != 1) {
    ctx.err << "usage: quillbend-cli dump FILE\n";
    return 2;
  }
  const std::string& path = ctx.args[0];
  CFeedsManager manager;
  LoadOptions options;
  options.readOnly = true;
  const LoadOutcome outcome = LoadDataFile(manager, path, options);
  if (outcome.fileAbsent || outcome.openFailed) {
    ctx.err << "quillbend-cli: "
            << (outcome.fileAbsent ? "cannot open " + path + ": no such file" : outcome.detail)
            << "\n";
    return 2;
  }
  if (!outcome.detail.empty()) ctx.err << "quillbend-cli: " << outcome.detail << "\n";
  JsonObject result{{u"model", ModelToJson(manager)}, {u"outcome", OutcomeName(outcome.status)}};
  PrintJsonLine(ctx.out, JsonValue(std::move(result)).ToString());
  return 0;
}

QB_CLI_COMMAND({"dump", "dump FILE                 print a data file as JSON", RunDump});

}  // namespace
}  // namespace qb::cli
