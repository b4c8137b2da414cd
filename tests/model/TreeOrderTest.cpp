#include "model/TreeOrder.h"

#include <gtest/gtest.h>

#include "model/FeedsManager.h"

namespace qb {
namespace {

TEST(TreeOrderTest, OnlyAsciiLettersFoldAndEqualNamesKeepListOrder) {
  CFeedsManager m;
  CGroup* root = m.AddGroup(0, u"root");
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

}  // namespace
}  // namespace qb
