// quillbend-cli star [--off] KEY...: stars (or unstars) the articles of the
// user's library whose key is one of the keys given (the item's guid or
// Atom id as the feed wrote it). The classic data file has no place for
// stars, so --data files are refused.
#include <string>
#include <unordered_set>

#include "base/Text.h"
#include "tools/Cli.h"
#include "tools/UserData.h"

namespace qb::cli {
namespace {

int RunStar(CliContext& ctx) {
  bool star = true;
  std::unordered_set<std::u16string> keys;
  for (const std::string& a : ctx.args) {
    if (a == "--off") {
      star = false;
    } else {
      keys.insert(Utf8ToUtf16(a));
    }
  }
  if (keys.empty()) {
    ctx.err << "usage: quillbend-cli star [--off] KEY...\n";
    return 2;
  }
  if (!UsesLibrary(ctx)) {
    ctx.err << "quillbend-cli: stars are kept in the library only; a data file has no place for them\n";
    return 1;
  }
  const std::string path = UserDataPath(ctx);
  CFeedsManager manager;
  if (!LoadUserData(ctx, manager, path, nullptr)) return 1;
  IdList all, found;
  manager.CollectFeeds(0, all);
  std::unordered_set<std::u16string> seen;
  for (ObjectId id : all) {
    const CFeed* a = manager.GetFeed(id);
    if (keys.count(a->m_key) == 0) continue;
    found.push_back(id);
    seen.insert(a->m_key);
  }
  int status = 0;
  for (const std::u16string& key : keys) {
    if (seen.count(key) == 0) {
      ctx.err << "quillbend-cli: no article has the key " << TerminalText(Utf16ToUtf8(key)) << "\n";
      status = 1;
    }
  }
  manager.SetStarred(found, star);
  if (!SaveUserData(ctx, manager, path, nullptr)) return 1;
  ctx.out << (star ? "Starred: " : "Unstarred: ") << found.size() << "\n";
  return status;
}

QB_CLI_COMMAND({"star", "star [--off] KEY...       star (or unstar) the articles with these keys", RunStar});

}  // namespace
}  // namespace qb::cli
