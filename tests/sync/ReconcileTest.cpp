#include "sync/Reconcile.h"

#include <gtest/gtest.h>

#include "sync/GReaderProtocol.h"

namespace qb {
namespace {

constexpr MarkFlag R = MarkFlag::kRead;
constexpr MarkFlag S = MarkFlag::kStarred;

TEST(ReconcileTest, APushSendsTheLatestWishOfEachFlagOnce) {
  const std::vector<PendingMark> pending = {
      {1, "a", R, true},  {2, "b", R, true},  {3, "a", S, true}, {4, "a", R, false},
      {5, "c", R, true},  {6, "d", R, true},  {7, "b", S, true}, {9, "b", S, false},
      {8, "e", R, true},
  };
  const std::vector<TagEdit> edits = PlanPush(pending, 2);
  struct Expected {
    std::string tag;
    bool add;
    std::vector<std::string> ids;
    std::vector<uint64_t> seqs;
  };
  // In the order of the latest entries; "a" read then unread goes out as
  // unread alone, carrying both entries; batches of two.
  const std::vector<Expected> expected = {
      {kReadStream, true, {"b", "c"}, {2, 5}},
      {kStarredStream, true, {"a"}, {3}},
      {kReadStream, false, {"a"}, {1, 4}},
      {kReadStream, true, {"d", "e"}, {6, 8}},
      {kStarredStream, false, {"b"}, {7, 9}},
  };
  ASSERT_EQ(edits.size(), expected.size());
  for (size_t i = 0; i < edits.size(); ++i) {
    EXPECT_EQ(edits[i].tag, expected[i].tag) << i;
    EXPECT_EQ(edits[i].add, expected[i].add) << i;
    EXPECT_EQ(edits[i].ids, expected[i].ids) << i;
    EXPECT_EQ(edits[i].seqs, expected[i].seqs) << i;
  }
  EXPECT_TRUE(PlanPush({}, 250).empty());
  EXPECT_EQ(PlanPush({{1, "a", R, true}}, 0).size(), 1u);
}

TEST(ReconcileTest, TheServerWinsWhereNothingIsPending) {
  struct Case {
    const char* name;
    LocalSnapshot local;
    ServerLists server;
    std::vector<FetchItem> fetch;
    std::vector<StateChange> apply;
    std::vector<std::string> remove;
  };
  const auto lists = [](std::vector<std::string> all, std::vector<std::string> unread,
                        std::vector<std::string> starred, bool complete = true) {
    return ServerLists{{std::move(all), complete}, {std::move(unread), true}, {std::move(starred), true}};
  };
  const std::vector<Case> cases = {
      {"new articles come with the server's flags",
       {},
       lists({"n1", "n2"}, {"n2"}, {"n1"}),
       {{"n1", {true, true}}, {"n2", {false, false}}},
       {},
       {}},
      {"read and starred elsewhere: the server wins",
       {{{"a", {false, false}}, {"b", {true, true}}}, {}, {}},
       lists({"a", "b"}, {"b"}, {"a"}),
       {},
       {{"a", {true, true}}, {"b", {false, false}}},
       {}},
      {"read elsewhere while unread waits here: this side wins",
       {{{"a", {false, false}}}, {}, {{3, "a", R, false}}},
       lists({"a"}, {}, {}),
       {},
       {},
       {}},
      {"a wish waits for a flag the other one follows the server",
       {{{"a", {true, false}}}, {}, {{3, "a", R, true}}},
       lists({"a"}, {"a"}, {"a"}),
       {},
       {{"a", {true, true}}},
       {}},
      {"the latest of several entries counts",
       {{{"a", {false, false}}}, {}, {{7, "a", S, false}, {3, "a", S, true}, {5, "a", R, true}}},
       lists({"a"}, {"a"}, {"a"}),
       {},
       {{"a", {true, false}}},
       {}},
      {"gone from the server: removed unless starred here, or about to be",
       {{{"gone", {true, false}}, {"kept", {true, true}}, {"unstarring", {true, true}}, {"starring", {true, false}}},
        {},
        {{1, "unstarring", S, false}, {2, "starring", S, true}}},
       lists({}, {}, {}),
       {},
       {},
       {"gone", "unstarring"}},
      {"listed only as starred (old for the reading list) is kept and fetched",
       {{{"old", {true, true}}}, {}, {}},
       lists({"new"}, {"new"}, {"old", "older"}),
       {{"new", {false, false}}, {"older", {true, true}}},
       {},
       {}},
      {"deleted here: never fetched again",
       {{}, {"del"}, {}},
       lists({"del", "n"}, {"del", "n"}, {}),
       {{"n", {false, false}}},
       {},
       {}},
      {"an incomplete list proves nothing by an id's absence",
       {{{"a", {false, true}}, {"b", {false, false}}}, {}, {}},
       ServerLists{{{"a"}, false}, {{}, false}, {{}, false}},
       {},
       {},
       {}},
  };
  for (const Case& c : cases) {
    const PullPlan plan = PlanPull(c.local, c.server);
    EXPECT_EQ(plan.fetch, c.fetch) << c.name;
    EXPECT_EQ(plan.apply, c.apply) << c.name;
    EXPECT_EQ(plan.remove, c.remove) << c.name;
  }
}

}  // namespace
}  // namespace qb
