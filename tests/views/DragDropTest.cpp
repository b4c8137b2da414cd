#include <QAbstractItemModelTester>
#include <gtest/gtest.h>

#include "classic/DataFile.h"
#include "model/ModelWriter.h"
#include "tests/support/FakeMainFrame.h"
#include "tests/support/TempDir.h"
#include "views/SourceListView.h"

namespace qb {
namespace {

using test::ChildLabels;
using test::FakeMainFrame;

// R1: Src1 (2 articles, 1 unread), G: [Sub (collapsed): SubSrc], GSrc
// R2: Src2
class DragDropTest : public ::testing::Test {
 protected:
  void SetUp() override {
    f.model.SeedRandom(21);
    r1 = f.Group(0, u"R1");
    g = f.Group(r1->m_id, u"G");
    sub = f.Group(g->m_id, u"Sub", false);
    r2 = f.Group(0, u"R2");
    src1 = f.Source(r1->m_id, u"Src1");
    f.Article(src1, u"a");
    f.Article(src1, u"b", true);
    subSrc = f.Source(sub->m_id, u"SubSrc");
    gSrc = f.Source(g->m_id, u"GSrc");
    src2 = f.Source(r2->m_id, u"Zed");
    f.CreateViews();
    tester = std::make_unique<QAbstractItemModelTester>(
        f.tree->model(), QAbstractItemModelTester::FailureReportingMode::Fatal);
  }

  QTreeWidgetItem* Item(ObjectId id) { return f.tree->FindItem(id); }
  QTreeWidgetItem* Root() { return f.tree->RootItem(); }
  // The tree's structure as text: each item's label with its children.
  std::string Shape(QTreeWidgetItem* item) {
    std::string out = item->text(0).toStdString();
    if (item->childCount() == 0) return out;
    out += item->isExpanded() ? "[" : "{";
    for (int i = 0; i < item->childCount(); ++i) out += (i ? "," : "") + Shape(item->child(i));
    return out + (item->isExpanded() ? "]" : "}");
  }
  bool DragTo(ObjectId dragged, QTreeWidgetItem* target) {
    EXPECT_TRUE(f.tree->BeginDrag(Item(dragged)));
    f.tree->DragOver(target);
    return f.tree->Drop(target);
  }

  FakeMainFrame f;
  CGroup *r1, *g, *sub, *r2;
  CFeedSource *src1, *subSrc, *gSrc, *src2;
  std::unique_ptr<QAbstractItemModelTester> tester;
};

TEST_F(DragDropTest, OnlyGroupsAndSourcesCanBeDragged) {
  EXPECT_FALSE(f.tree->BeginDrag(Root()));
  EXPECT_FALSE(f.tree->BeginDrag(nullptr));
  EXPECT_FALSE(f.tree->IsDragging());
  EXPECT_TRUE(f.tree->BeginDrag(Item(src1->m_id)));
  EXPECT_TRUE(f.tree->IsDragging());
  EXPECT_EQ(f.tree->SelectedNode(), std::optional<ObjectId>(src1->m_id));
  const QPixmap pixmap = f.tree->DragPixmap(Item(src1->m_id));
  EXPECT_FALSE(pixmap.isNull());
  EXPECT_GT(pixmap.width(), 10);
}

TEST_F(DragDropTest, TargetsFollowTheCursorAsTheSelection) {
  f.tree->BeginDrag(Item(src1->m_id));
  struct Step {
    QTreeWidgetItem* under;
    std::optional<ObjectId> selected;
  };
  const Step sourceSteps[] = {
      {Item(g->m_id), g->m_id},
      {Root(), std::nullopt},  // the root level takes only groups
      {Item(src2->m_id), std::nullopt},
      {Item(r2->m_id), r2->m_id},
      {nullptr, std::nullopt},
  };
  for (const Step& step : sourceSteps) {
    f.tree->DragOver(step.under);
    EXPECT_EQ(f.tree->SelectedNode(), step.selected);
  }
  // Releasing over nothing changes nothing.
  const std::string before = Shape(Root());
  EXPECT_FALSE(f.tree->Drop(nullptr));
  EXPECT_FALSE(f.tree->IsDragging());
  EXPECT_EQ(Shape(Root()), before);

  f.tree->BeginDrag(Item(g->m_id));
  f.tree->DragOver(Root());
  EXPECT_EQ(f.tree->SelectedNode(), std::optional<ObjectId>(0));
  // The list follows the live selection.
  f.tree->DragOver(Item(r1->m_id));
  EXPECT_EQ(f.list->model()->rowCount(), 2);
  f.tree->Drop(nullptr);
}

TEST_F(DragDropTest, RefusedDropsChangeNothing) {
  const std::string shape = Shape(Root());
  const IdList roots = f.model.RootGroups();
  const IdList r1Sources = r1->m_sources;
  struct Case {
    const char* name;
    ObjectId dragged;
    QTreeWidgetItem* target;
  };
  const Case cases[] = {
      {"group onto itself", g->m_id, Item(g->m_id)},
      {"group onto its sub-group", g->m_id, Item(sub->m_id)},
      {"group onto its parent", g->m_id, Item(r1->m_id)},
      {"root group onto the root", r2->m_id, Root()},
      {"source onto the root", src1->m_id, Root()},
      {"source onto a source", src1->m_id, Item(src2->m_id)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const int saves = f.saves;
    EXPECT_FALSE(DragTo(c.dragged, c.target));
    EXPECT_EQ(Shape(Root()), shape);
    EXPECT_EQ(f.model.RootGroups(), roots);
    EXPECT_EQ(r1->m_sources, r1Sources);
    EXPECT_EQ(f.saves, saves);
  }
}

TEST_F(DragDropTest, SourceMovesToAnotherGroupSortedWithItsCounts) {
  EXPECT_TRUE(DragTo(src1->m_id, Item(r2->m_id)));
  EXPECT_TRUE(r1->m_sources.empty());
  EXPECT_EQ(r2->m_sources, (IdList{src2->m_id, src1->m_id}));
  EXPECT_EQ(ChildLabels(Item(r2->m_id)),
            (std::vector<QString>{QStringLiteral("Src1 (1 / 2)"), QStringLiteral("Zed")}));
  EXPECT_TRUE(Item(src1->m_id)->font(0).bold());
  EXPECT_EQ(Item(r2->m_id)->text(0), QStringLiteral("R2 (1 / 2)"));
  EXPECT_EQ(Item(r1->m_id)->text(0), QStringLiteral("R1"));
  EXPECT_EQ(f.tree->SelectedNode(), std::optional<ObjectId>(r2->m_id));
  EXPECT_GE(f.saves, 1);
  // Exactly one item for the source.
  int found = 0;
  for (QTreeWidgetItemIterator it(f.tree); *it; ++it) found += f.tree->IdOf(*it) == src1->m_id;
  EXPECT_EQ(found, 1);
}

TEST_F(DragDropTest, SourceDroppedIntoTheSelectedGroupShowsInTheList) {
  f.tree->SelectItem(Item(r2->m_id));
  ASSERT_EQ(f.list->model()->rowCount(), 0);
  EXPECT_TRUE(DragTo(src1->m_id, Item(r2->m_id)));
  EXPECT_EQ(f.tree->SelectedNode(), std::optional<ObjectId>(r2->m_id));
  EXPECT_EQ(f.list->model()->rowCount(), 2);
}

TEST_F(DragDropTest, SourceDroppedOnItsOwnGroupGoesToTheEndOfItsList) {
  CFeedSource* extra = f.Source(r1->m_id, u"Extra");
  f.tree->RefreshAll();
  EXPECT_TRUE(DragTo(src1->m_id, Item(r1->m_id)));
  EXPECT_EQ(r1->m_sources, (IdList{extra->m_id, src1->m_id}));
  EXPECT_EQ(Item(src1->m_id)->parent(), Item(r1->m_id));
}

TEST_F(DragDropTest, GroupMovesWithItsSubtreeAndExpandedStates) {
  EXPECT_TRUE(DragTo(g->m_id, Item(r2->m_id)));
  EXPECT_EQ(r1->m_childGroups, IdList{});
  EXPECT_EQ(r2->m_childGroups, IdList{g->m_id});
  EXPECT_EQ(Shape(Item(r2->m_id)), "R2[G[Sub{SubSrc},GSrc],Zed]");
  EXPECT_FALSE(Item(sub->m_id)->isExpanded());
  EXPECT_FALSE(sub->m_expanded);

  // To the root level: it becomes the last root group and sorts by name.
  EXPECT_TRUE(DragTo(g->m_id, Root()));
  EXPECT_EQ(f.model.RootGroups(), (IdList{r1->m_id, r2->m_id, g->m_id}));
  EXPECT_EQ(Shape(Root()), "Feed Sources[G[Sub{SubSrc},GSrc],R1 (1 / 2)[Src1 (1 / 2)],R2[Zed],Starred]");
}

TEST_F(DragDropTest, MovesSurviveASaveAndReload) {
  ASSERT_TRUE(DragTo(g->m_id, Item(r2->m_id)));
  ASSERT_TRUE(DragTo(src1->m_id, Item(sub->m_id)));
  const std::string shape = Shape(Root());
  EXPECT_EQ(shape, "Feed Sources[R1,R2 (1 / 2)[G (1 / 2)[Sub (1 / 2){Src1 (1 / 2),SubSrc},GSrc],Zed],Starred]");
  test::TempDir dir;
  ASSERT_TRUE(SaveDataFile(f.model, dir.File("Feeds")));

  FakeMainFrame reloaded;
  ASSERT_TRUE(LoadDataFile(reloaded.model, dir.File("Feeds")).ok());
  reloaded.CreateViews();
  EXPECT_EQ(Shape(reloaded.tree->RootItem()), shape);
}

}  // namespace
}  // namespace qb
