// quillbend-cli update [--force]: one update pass over the user's data file,
// as the program's update timer (or, forced, its "Update all feeds") runs it.
#include <string>

#include "feeds/UpdateCycle.h"
#include "model/DataFile.h"
#include "tools/Cli.h"
#include "tools/UserData.h"

namespace qb::cli {
namespace {

size_t CountArticles(const CFeedsManager& manager) {
  IdList all;
  manager.CollectFeeds(0, all);
  return all.size();
}

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
  if (!LoadUserData(ctx, manager, path)) return 1;

  const std::string before = SaveToBytes(manager);
  const size_t articlesBefore = CountArticles(manager);
  ScopedUpdateOverride restore;
  SetSourceUpdatedFunction([&](const CFeedSource& source, bool) {
    ctx.out << SourceLine(source) << "\n";
  });
  UpdateAll(manager, force);
  SetSourceUpdatedFunction(nullptr);
  // An update never removes articles, so the difference is what arrived.
  ctx.out << "New articles: " << CountArticles(manager) - articlesBefore << "\n";
  ctx.out.flush();

  // Titles and comms statuses change too, not only the articles.
  if (SaveToBytes(manager) != before && !SaveUserData(ctx, manager, path)) return 1;
  return 0;
}

QB_CLI_COMMAND({"update", "update [--force]          fetch the due (or all) feeds of the data file",
                RunUpdate});

}  // namespace
}  // namespace qb::cli
