// quillbend-cli add URL [--group NAME]: the add-feed command on the user's
// library (or data file). The new source is updated at once, forced, and
// saved.
#include <optional>
#include <string>

#include "base/Text.h"
#include "model/TreeOrder.h"
#include "tools/Cli.h"
#include "tools/UserData.h"
#include "update/UpdateEngine.h"

namespace qb::cli {
namespace {

// The first group with exactly this name in the tree's display order, or 0.
ObjectId FindGroupInTreeOrder(const CFeedsManager& manager, const std::u16string& name) {
  ObjectId found = 0;
  TreeVisitor visitor;
  visitor.enterGroup = [&](const CGroup& g, size_t) {
    if (found == 0 && g.m_name == name) found = g.m_id;
  };
  VisitInDisplayOrder(manager, visitor);
  return found;
}

int RunAdd(CliContext& ctx) {
  std::optional<std::string> url;
  std::optional<std::string> group;
  bool literal = false;
  for (size_t i = 0; i < ctx.args.size(); ++i) {
    const std::string& a = ctx.args[i];
    if (!literal && a == "--") {
      literal = true;
    } else if (!literal && a == "--group" && i + 1 < ctx.args.size()) {
      group = ctx.args[++i];
    } else if (!url && (literal || a.rfind("--", 0) != 0)) {
      url = a;
    } else {
      url.reset();
      break;
    }
  }
  if (!url || url->empty()) {
    ctx.err << "usage: quillbend-cli add URL [--group NAME]\n";
    return 2;
  }
  const std::u16string url16 = Utf8ToUtf16(*url);

  const std::string path = UserDataPath(ctx);
  CFeedsManager manager;
  CValidatorStore fetchState;
  if (!LoadUserData(ctx, manager, path, &fetchState)) return 1;
  ObjectId target = 0;
  if (group) {
    target = FindGroupInTreeOrder(manager, Utf8ToUtf16(*group));
    if (target == 0) {
      ctx.err << "quillbend-cli: there is no group named '" << TerminalText(*group) << "'\n";
      return 1;
    }
  } else {
    target = GroupForNewFeed(manager, std::nullopt);
  }
  CFeedsManager::AddSourceStatus status{};
  const CFeedSource* source = manager.SubscribeSource(target, url16, &status);
  if (source == nullptr) {
    if (status == CFeedsManager::AddSourceStatus::EmptyUrl) {
      ctx.err << "usage: quillbend-cli add URL [--group NAME]\n";
      return 2;
    }
    if (status == CFeedsManager::AddSourceStatus::Duplicate) {
      ctx.err << Utf16ToUtf8(kDuplicateSourceMessage) << "\n";
      return 1;
    }
    ctx.err << "quillbend-cli: the data file has no group to add the feed to\n";
    return 1;
  }
  const ObjectId sourceId = source->m_id;
  CUpdateEngine::Hooks hooks;
  hooks.sourceApplied = [&](const SourceReport& r) {
    if (!r.reason.empty()) {
      ctx.err << "quillbend-cli: " << TerminalText(r.title) << ": " << TerminalText(r.reason) << "\n";
    }
  };
  CUpdateEngine engine(manager, std::move(hooks));
  engine.Validators() = fetchState;
  engine.UpdateSources({sourceId}, true);
  engine.RunToCompletion();
  if (const CFeedSource* updated = manager.GetFeedSource(sourceId)) {
    ctx.out << SourceLine(*updated) << "\n";
    ctx.out << "New articles: " << updated->m_articles.size() << "\n";
  }
  ctx.out.flush();
  return SaveUserData(ctx, manager, path, &engine.Validators()) ? 0 : 1;
}

QB_CLI_COMMAND({"add", "add URL [--group NAME]    subscribe to a feed and fetch it at once",
                RunAdd});

}  // namespace
}  // namespace qb::cli
