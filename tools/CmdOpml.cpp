// quillbend-cli opml-export FILE and opml-import FILE [--update]: the File
// menu's OPML commands on the user's data file, without a window.
#include <QDateTime>
#include <QFile>

#include "base/Text.h"
#include "model/TreeOrder.h"
#include "opml/Opml.h"
#include "tools/Cli.h"
#include "tools/UserData.h"
#include "update/UpdateEngine.h"

namespace qb::cli {
namespace {

int RunExport(CliContext& ctx) {
  if (ctx.args.size() != 1) {
    ctx.err << "usage: quillbend-cli opml-export FILE\n";
    return 2;
  }
  const std::string path = UserDataPath(ctx);
  CFeedsManager manager;
  if (!ReadUserData(ctx, manager, path)) return 1;
  const OpmlExportResult result =
      ExportOpmlFile(manager, QString::fromStdString(ctx.args[0]), QDateTime::currentDateTimeUtc());
  if (!result.ok) {
    ctx.err << "quillbend-cli: " << TerminalText(result.error.toStdString()) << "\n";
    return 1;
  }
  return 0;
}

int RunImport(CliContext& ctx) {
  std::string file;
  bool update = false;
  for (const std::string& a : ctx.args) {
    if (a == "--update") {
      update = true;
    } else if (file.empty()) {
      file = a;
    } else {
      file.clear();
      break;
    }
  }
  if (file.empty()) {
    ctx.err << "usage: quillbend-cli opml-import FILE [--update]\n";
    return 2;
  }
  QFile in(QString::fromStdString(file));
  if (!in.open(QIODevice::ReadOnly)) {
    ctx.err << "quillbend-cli: cannot read " << file << "\n";
    return 2;
  }
  const QByteArray data = in.readAll();

  const std::string path = UserDataPath(ctx);
  CFeedsManager manager;
  CValidatorStore fetchState;
  if (!LoadUserData(ctx, manager, path, &fetchState)) return 1;
  // New outlines go into the first root group the tree shows (the root
  // level, which makes one, when no root group resolves); a file of this
  // program's export holds a whole tree and goes to the root level.
  const OpmlImportResult result = ImportOpml(manager, data, GroupForNewFeed(manager, std::nullopt));
  if (!result.ok) {
    ctx.err << TerminalText(OpmlImportWarning(QString::fromStdString(file), result).toStdString()) << "\n";
    return 1;
  }
  CUpdateEngine::Hooks hooks;
  hooks.sourceApplied = [&](const SourceReport& r) {
    if (r.fetched) ctx.out << SourceLine(r.title, r.commsStatus) << "\n";
    if (!r.reason.empty()) {
      ctx.err << "quillbend-cli: " << TerminalText(r.title) << ": " << TerminalText(r.reason) << "\n";
    }
  };
  CUpdateEngine engine(manager, std::move(hooks));
  engine.Validators() = fetchState;
  if (update) {
    // The new sources are fetched together and applied in import order.
    engine.UpdateSources(result.newSources, true);
    engine.RunToCompletion();
  }
  if (!SaveUserData(ctx, manager, path, &engine.Validators())) return 1;
  ctx.out << OpmlImportSummary(result).toStdString() << "\n";
  return 0;
}

QB_CLI_COMMAND({"opml-export", "opml-export FILE          export the list of feeds as OPML", RunExport});
QB_CLI_COMMAND({"opml-import", "opml-import FILE [--update]  import a list of feeds from OPML", RunImport});

}  // namespace
}  // namespace qb::cli
