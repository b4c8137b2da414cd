#include "model/TreeOrder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "model/FeedsManager.h"
#include "model/ModelWriter.h"

namespace qb {
namespace {

TEST(TreeOrderTest, OnlyAsciiLettersFoldAndEqualNamesKeepListOrder) {
  CFeedsManager m;
  const CGroup* root = m.AddGroup(0, u"root");
  const std::u16string names[] = {u"beta", u"Alpha", u"BETA", u"\u00E9cole", u"Zulu", u"_x"};
  IdList ids;
  for (const auto& n : names) ids.push_back(m.AddGroup(root->m_id, n)->m_id);
  ids.push_back(4242);  // does not resolve: dropped
  const IdList sorted = GroupsInDisplayOrder(m, ids);
  std::vector<std::u16string> got;
  for (ObjectId id : sorted) got.push_back(m.GetGroup(id)->m_name);
  // Folded to upper case: ALPHA < BETA = BETA < ZULU < _X < \u00E9COLE.
  EXPECT_EQ(got, (std::vector<std::u16string>{u"Alpha", u"beta", u"BETA", u"Zulu", u"_x",
                                              u"\u00E9cole"}));
  EXPECT_TRUE(SourcesInDisplayOrder(m, ids).empty());
}

// Sub-groups before sources, each sorted; a group listed twice (or inside
// itself) is walked once, and names that resolve to nothing are skipped.
TEST(TreeOrderTest, VisitWalksAsTheTreeShowsAndSurvivesADamagedFile) {
  CFeedsManager m;
  CGroup* b = CModelWriter(m).Group(m.AddGroup(0, u"b root")->m_id);
  CGroup* a = CModelWriter(m).Group(m.AddGroup(0, u"A root")->m_id);
  CGroup* sub2 = CModelWriter(m).Group(m.AddGroup(a->m_id, u"zz")->m_id);
  CGroup* sub1 = CModelWriter(m).Group(m.AddGroup(a->m_id, u"Mid")->m_id);
  CModelWriter(m).Source(m.AddSource(a->m_id, u"http://x/1")->m_id)->m_title = u"beta";
  CModelWriter(m).Source(m.AddSource(a->m_id, u"http://x/2")->m_id)->m_title = u"Alpha";
  CModelWriter(m).Source(m.AddSource(sub1->m_id, u"http://x/3")->m_id)->m_title = u"in mid";
  CModelWriter(m).Source(m.AddSource(b->m_id, u"http://x/4")->m_id)->m_title = u"last";
  // Damage: the sub-group also at the root level, a group inside itself
  // and an identifier that names nothing.
  CModelWriter(m).RootGroups().push_back(sub1->m_id);
  sub2->m_childGroups.push_back(sub2->m_id);
  a->m_sources.push_back(987654);

  std::vector<std::string> walk;
  auto line = [](char kind, const std::u16string& name, size_t depth) {
    return std::string(depth, ' ') + kind + std::string(name.begin(), name.end());
  };
  TreeVisitor visitor;
  visitor.enterGroup = [&](const CGroup& g, size_t depth) { walk.push_back(line('+', g.m_name, depth)); };
  visitor.leaveGroup = [&](const CGroup& g, size_t depth) { walk.push_back(line('-', g.m_name, depth)); };
  visitor.source = [&](const CFeedSource& s, size_t depth) { walk.push_back(line('*', s.m_title, depth)); };
  VisitInDisplayOrder(m, visitor);
  EXPECT_EQ(walk, (std::vector<std::string>{"+A root", " +Mid", "  *in mid", " -Mid", " +zz", " -zz",
                                            " *Alpha", " *beta", "-A root", "+b root", " *last",
                                            "-b root"}));
  // Empty callbacks are allowed.
  VisitInDisplayOrder(m, TreeVisitor{});
}

TEST(TreeOrderTest, ANewFeedGoesToTheSelectedGroupElseTheFirstRootGroupShown) {
  CFeedsManager m;
  EXPECT_EQ(GroupForNewFeed(m, std::nullopt), 0u);  // no group at all
  const CGroup* zed = m.AddGroup(0, u"Zed");
  const CGroup* alpha = m.AddGroup(0, u"alpha");
  const CGroup* sub = m.AddGroup(zed->m_id, u"Sub");
  const ObjectId source = m.AddSource(sub->m_id, u"http://x/")->m_id;
  struct Case {
    std::optional<ObjectId> selected;
    ObjectId expected;
  };
  const Case cases[] = {
      {std::nullopt, alpha->m_id},  // nothing selected: the first shown, not the first stored
      {ObjectId(0), alpha->m_id},   // the tree's root item
      {sub->m_id, sub->m_id},
      {source, sub->m_id},          // the group that holds the selected feed
      {ObjectId(424242), alpha->m_id},
  };
  for (const Case& c : cases) EXPECT_EQ(GroupForNewFeed(m, c.selected), c.expected);
}

}  // namespace
}  // namespace qb
