// quillbend-cli export-data FILE: writes the user's library in the classic
// data file format (File > "Export data file..." of the window), byte for
// byte what the program saved before it kept a library. The library is
// only read.
#include "base/Text.h"
#include "library/Library.h"
#include "tools/Cli.h"

namespace qb::cli {
namespace {

int RunExportData(CliContext& ctx) {
  if (ctx.args.size() != 1 || ctx.dataFile) {
    ctx.err << "usage: quillbend-cli export-data FILE   (the library, not a --data file)\n";
    return 2;
  }
  CLibrary library;
  LibraryOpenOptions options;
  options.readOnly = true;
  const LibraryOpenOutcome out = library.Open(GetLibraryPath(), options);
  if (!out.opened) {
    ctx.err << "quillbend-cli: "
            << (out.message.empty() ? "there is no library yet" : Utf16ToUtf8(out.message)) << "\n";
    return 1;
  }
  const SaveResult result = library.ExportDataFile(ctx.args[0]);
  if (!result) {
    ctx.err << "quillbend-cli: cannot write " << ctx.args[0] << ": " << result.error << "\n";
    return 1;
  }
  if (const size_t starred = library.StarredCount(); starred > 0) {
    ctx.err << "quillbend-cli: " << Utf16ToUtf8(StarsNotExportedNote(starred)) << "\n";
  }
  return 0;
}

QB_CLI_COMMAND({"export-data", "export-data FILE          write the library as a classic data file",
                RunExportData});

}  // namespace
}  // namespace qb::cli
