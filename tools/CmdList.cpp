// quillbend-cli list: the source tree of the user's library (or data file),
// one line per group and source, each labelled as the tree labels it.
#include <string>
#include <unordered_map>
#include <vector>

#include "base/Text.h"
#include "formats/Markup.h"
#include "model/TreeOrder.h"
#include "tools/Cli.h"
#include "tools/UserData.h"

namespace qb::cli {
namespace {

// The name as the tree shows it (markup removed, entities and character
// references decoded), then " (unread / total)" when there are articles.
std::string Label(const std::u16string& name, int unread, int read) {
  std::string label = TerminalText(TitleText(name));
  const int total = unread + read;
  if (total > 0) {
    label += " (" + std::to_string(unread) + " / " + std::to_string(total) + ")";
  }
  return label;
}

int RunList(CliContext& ctx) {
  if (!ctx.args.empty()) {
    ctx.err << "usage: quillbend-cli list\n";
    return 2;
  }
  const std::string path = UserDataPath(ctx);
  CFeedsManager manager;
  // Only reads: a file that cannot be read whole is left as it is.
  if (!ReadUserData(ctx, manager, path)) return 1;

  // A library's tree comes with the counts of each node; a data file's
  // articles are counted as the tree always counted them.
  const bool library = UsesLibrary(ctx);
  const auto counts = library ? std::unordered_map<ObjectId, FeedCounts>{} : manager.CountAll();
  const auto countsOf = [&](ObjectId id) {
    if (library) return manager.Counts(id);
    auto it = counts.find(id);
    return it == counts.end() ? FeedCounts{} : it->second;
  };
  // Indentation is written from one run of spaces, as long as the deepest
  // line needs, rather than built for every line.
  std::string spaces;
  const auto indent = [&](size_t depth) {
    if (spaces.size() < 2 * depth) spaces.resize(2 * depth, ' ');
    ctx.out.write(spaces.data(), static_cast<std::streamsize>(2 * depth));
  };
  TreeVisitor visitor;
  visitor.enterGroup = [&](const CGroup& g, size_t depth) {
    const auto c = countsOf(g.m_id);
    indent(depth);
    ctx.out << Label(g.m_name, c.unread, c.read) << "\n";
  };
  visitor.source = [&](const CFeedSource& s, size_t depth) {
    const auto c = countsOf(s.m_id);
    indent(depth);
    ctx.out << Label(s.m_title, c.unread, c.read) << "\n";
  };
  VisitInDisplayOrder(manager, visitor);
  ctx.out.flush();
  return 0;
}

QB_CLI_COMMAND({"list", "list                      the source tree with unread and total counts",
                RunList});

}  // namespace
}  // namespace qb::cli
