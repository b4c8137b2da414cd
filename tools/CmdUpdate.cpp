// quillbend-cli update [--force]: one update pass over the user's library
// (or data file), as the program's update timer (or, forced, its "Update
// all feeds") runs it. In a library, read articles older than the
// retention the user set are deleted afterwards.
#include <string>

#include "base/Text.h"
#include "tools/Cli.h"
#include "tools/UserData.h"
#include "update/UpdateEngine.h"

namespace qb::cli {
namespace {

int RunUpdate(CliContext& ctx) {
  bool force = false;
  for (const std::string& a : ctx.args) {
    if (a == "--force") {
      force = true;
    } else {
      ctx.err << "usage: quillbend-cli update [--force]\n";
      return 2;
    }
  }
  const std::string path = UserDataPath(ctx);
  CFeedsManager manager;
  CValidatorStore fetchState;
  if (!LoadUserData(ctx, manager, path, &fetchState)) return 1;

  int added = 0;
  CUpdateEngine::Hooks hooks;
  hooks.sourceApplied = [&](const SourceReport& r) {
    if (r.fetched) ctx.out << SourceLine(r.title, r.commsStatus) << "\n";
    if (!r.reason.empty()) {
      ctx.err << "quillbend-cli: " << TerminalText(r.title) << ": " << TerminalText(r.reason) << "\n";
    }
  };
  hooks.passFinished = [&](const PassReport& r) { added = r.added; };
  CUpdateEngine engine(manager, std::move(hooks));
  engine.Validators() = fetchState;
  const uint64_t changes = manager.ChangeCount();
  engine.UpdateAll(force);
  engine.RunToCompletion();
  ctx.out << "New articles: " << added << "\n";
  ctx.out.flush();
  if (UsesLibrary(ctx)) manager.ApplyRetention(manager.Clock().CurrentTime());

  // The counter says whether any source changed (titles and comms statuses
  // too, not only the articles); an unchanged file is not written again,
  // while a library takes a changed fetch state alone.
  const bool stateChanged = !(engine.Validators() == fetchState);
  if (manager.ChangeCount() != changes || (stateChanged && UsesLibrary(ctx))) {
    return SaveUserData(ctx, manager, path, &engine.Validators()) ? 0 : 1;
  }
  if (stateChanged) SaveFetchState(path, engine.Validators());
  return 0;
}

QB_CLI_COMMAND({"update", "update [--force]          fetch the due (or all) feeds of the data file",
                RunUpdate});

}  // namespace
}  // namespace qb::cli
