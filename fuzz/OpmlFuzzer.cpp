// Bytes -> OPML import into an empty model -> export -> import into another
// empty model: both models hold the same tree (names, titles, URLs and
// auto-name flags in display order), and the export reads back as written.
#include <QByteArray>
#include <QDateTime>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unordered_set>
#include <vector>

#include "model/FeedsManager.h"
#include "model/TreeOrder.h"
#include "opml/Opml.h"

namespace qb {
namespace {

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "OpmlFuzzer: %s\n", what);
  std::abort();
}

struct Node {
  size_t depth;
  bool isGroup;
  std::u16string name;
  std::u16string url;
  bool autoName;
  bool operator==(const Node&) const = default;
};

// Pre-order in display order.
std::vector<Node> Tree(const CFeedsManager& m) {
  std::vector<Node> nodes;
  TreeVisitor visitor;
  visitor.enterGroup = [&](const CGroup& g, size_t depth) { nodes.push_back({depth, true, g.m_name, u"", false}); };
  visitor.source = [&](const CFeedSource& s, size_t depth) {
    nodes.push_back({depth, false, s.m_title, s.m_url, s.m_autoName});
  };
  VisitInDisplayOrder(m, visitor);
  return nodes;
}

}  // namespace
}  // namespace qb

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace qb;
  const QByteArray file(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  CFeedsManager first;
  first.SeedRandom(1);
  if (!ImportOpml(first, file).ok) return 0;

  OpmlExportResult check;
  const QByteArray exported = ExportOpml(first, QDateTime::fromSecsSinceEpoch(0, Qt::UTC), check);
  if (!check.ok) Fail("the export does not read back as written");
  CFeedsManager second;
  second.SeedRandom(2);
  const OpmlImportResult again = ImportOpml(second, exported);
  if (!again.ok) Fail("the export cannot be imported");
  if (again.feedsSkipped != 0) Fail("the export repeats a URL");
  if (Tree(first) != Tree(second)) Fail("the export imports as another tree");
  return 0;
}
