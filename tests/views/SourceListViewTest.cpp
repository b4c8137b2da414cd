#include "views/SourceListView.h"

#include <QAbstractItemModelTester>
#include <QContextMenuEvent>
#include <QLineEdit>
#include <QScrollBar>
#include <QTest>
#include <gtest/gtest.h>

#include "model/ModelWriter.h"
#include "tests/support/FakeMainFrame.h"
#include "views/ArticleTableModel.h"

namespace qb {
namespace {

using test::ChildLabels;
using test::FakeMainFrame;

class SourceListViewTest : public ::testing::Test {
 protected:
  void SetUp() override { f.model.SeedRandom(7); }

  QTreeWidgetItem* Item(ObjectId id) { return f.tree->FindItem(id); }
  void Select(ObjectId id) { f.tree->SelectItem(Item(id)); }
  void RightClick(QTreeWidgetItem* item) {
    const QPoint pos = f.tree->visualItemRect(item).center();
    QContextMenuEvent event(QContextMenuEvent::Mouse, pos, f.tree->viewport()->mapToGlobal(pos));
    QCoreApplication::sendEvent(f.tree->viewport(), &event);
  }
  void Key(Qt::Key key) { QTest::keyClick(f.tree, key); }

  FakeMainFrame f;
};

TEST_F(SourceListViewTest, InitialFillSelectsRootWithAnEmptyListAndStartsTimers) {
  CGroup* g = f.Group(0, u"News");
  f.Article(f.Source(g->m_id, u"Feed"), u"a");
  f.CreateViews();
  QAbstractItemModelTester tester(f.tree->model(), QAbstractItemModelTester::FailureReportingMode::Fatal);
  EXPECT_EQ(f.tree->topLevelItemCount(), 1);
  EXPECT_EQ(f.tree->RootItem()->text(0), QStringLiteral("Feed Sources"));
  ASSERT_EQ(f.tree->SelectedNode(), std::optional<ObjectId>(0));
  EXPECT_TRUE(f.tree->RootItem()->isExpanded());
  EXPECT_EQ(f.list->model()->rowCount(), 0);
  EXPECT_TRUE(f.commands->UpdateTimerActive());
  ASSERT_FALSE(f.status.empty());
  EXPECT_EQ(f.status.back(), u"Ready");
  EXPECT_EQ(f.saves, 0);  // filling changes nothing in the model
}

TEST_F(SourceListViewTest, LabelsShowDecodedNamesCountsAndBoldWhileUnread) {
  CGroup* top = f.Group(0, u"Top");
  CGroup* sub = f.Group(top->m_id, u"Sub");
  CFeedSource* s = f.Source(sub->m_id, u"Tom &amp; Jerry &#233;");
  std::vector<CFeed*> articles;
  for (int i = 0; i < 10; ++i) articles.push_back(f.Article(s, u"a", i >= 3));
  CFeedSource* empty = f.Source(top->m_id, u"Empty");
  f.CreateViews();

  struct Case {
    ObjectId id;
    QString label;
    bool bold;
  };
  const Case before[] = {
      {s->m_id, QString::fromUtf8("Tom & Jerry \xC3\xA9 (3 / 10)"), true},
      {sub->m_id, QStringLiteral("Sub (3 / 10)"), true},
      {top->m_id, QStringLiteral("Top (3 / 10)"), true},  // counts cover sub-groups
      {empty->m_id, QStringLiteral("Empty"), false},
  };
  for (const Case& c : before) {
    SCOPED_TRACE(c.label.toStdString());
    EXPECT_EQ(Item(c.id)->text(0), c.label);
    EXPECT_EQ(Item(c.id)->font(0).bold(), c.bold);
  }
  for (CFeed* a : articles) a->m_read = true;
  f.tree->RefreshAll();
  EXPECT_EQ(Item(s->m_id)->text(0), QString::fromUtf8("Tom & Jerry \xC3\xA9 (0 / 10)"));
  EXPECT_FALSE(Item(s->m_id)->font(0).bold());
  EXPECT_FALSE(Item(top->m_id)->font(0).bold());
}

TEST_F(SourceListViewTest, ChildrenAreGroupsThenSourcesFoldingOnlyAsciiLetters) {
  CGroup* g = f.Group(0, u"G");
  for (const char16_t* name : {u"zeta", u"\u00e1bc", u"Alpha", u"beta", u"ALPHA"})
    f.Source(g->m_id, name);
  f.Group(g->m_id, u"zed");
  f.Group(g->m_id, u"Apple");
  f.CreateViews();
  const std::vector<QString> expected = {
      QStringLiteral("Apple"), QStringLiteral("zed"),     QStringLiteral("Alpha"),
      QStringLiteral("ALPHA"),  // equal to "Alpha": keeps its place
      QStringLiteral("beta"),  QStringLiteral("zeta"), QString::fromUtf8("\xC3\xA1" "bc")};
  EXPECT_EQ(ChildLabels(Item(g->m_id)), expected);

  // A rename re-sorts; the sort uses the stored name, not the decoded label.
  CFeedSource* zeta = CModelWriter(f.model).Source(f.model.FindSourceByTitle(g, u"zeta")->m_id);
  zeta->m_title = u"&amp;zeta";
  f.tree->RefreshAll();
  EXPECT_EQ(ChildLabels(Item(g->m_id))[2], QStringLiteral("&zeta"));
}

TEST_F(SourceListViewTest, ExpandedStateFollowsGroupsAndUserChangesAreSaved) {
  CGroup* open = f.Group(0, u"Open");
  CGroup* closed = f.Group(open->m_id, u"Closed", false);
  f.Group(closed->m_id, u"Inner");
  f.CreateViews();
  EXPECT_TRUE(Item(open->m_id)->isExpanded());
  EXPECT_FALSE(Item(closed->m_id)->isExpanded());
  EXPECT_EQ(f.saves, 0);

  Item(open->m_id)->setExpanded(false);  // as the user's click does
  EXPECT_FALSE(open->m_expanded);
  EXPECT_EQ(f.saves, 1);
  f.tree->RefreshAll();
  EXPECT_FALSE(Item(open->m_id)->isExpanded());
  EXPECT_EQ(f.saves, 1);
}

TEST_F(SourceListViewTest, RefreshAddsNewNodesAndDropsRemovedOnesWithTheirSubtree) {
  CGroup* a = f.Group(0, u"A");
  CGroup* b = f.Group(a->m_id, u"B");
  CFeedSource* s = f.Source(b->m_id, u"S");
  f.CreateViews();
  Select(s->m_id);
  CGroup* c = f.Group(0, u"C");
  CFeedSource* t = f.Source(c->m_id, u"T");
  const ObjectId bId = b->m_id;
  const ObjectId sId = s->m_id;
  a->RemoveSubgroup(bId);
  f.model.DeleteObject(bId);
  f.tree->RefreshAll();
  EXPECT_EQ(Item(bId), nullptr);
  EXPECT_EQ(Item(sId), nullptr);
  ASSERT_NE(Item(t->m_id), nullptr);
  EXPECT_EQ(Item(t->m_id)->parent(), Item(c->m_id));
  // The selection moved off the removed source to a remaining node.
  ASSERT_TRUE(f.tree->SelectedNode().has_value());
  EXPECT_NE(*f.tree->SelectedNode(), sId);
}

TEST_F(SourceListViewTest, RightClickMenusPerNodeKind) {
  CGroup* g = f.Group(0, u"G");
  CFeedSource* s = f.Source(g->m_id, u"S");
  f.CreateViews();
  RightClick(f.tree->RootItem());
  RightClick(Item(g->m_id));
  RightClick(Item(s->m_id));
  ASSERT_EQ(f.menus.size(), 3u);
  const std::vector<QString> root = {QStringLiteral("&Update all feeds"), QStringLiteral("-"),
                                     QStringLiteral("&Add group")};
  const std::vector<QString> group = {
      QStringLiteral("&Add new feed"),      QStringLiteral("-"), QStringLiteral("Add new &sub-group"),
      QStringLiteral("-"),                  QStringLiteral("&Rename this group"),
      QStringLiteral("&Delete this group"), QStringLiteral("-"),
      QStringLiteral("&Mark all as read"),  QStringLiteral("&Update this group")};
  const std::vector<QString> source = {
      QStringLiteral("&Rename this feed"), QStringLiteral("&Delete this feed"), QStringLiteral("-"),
      QStringLiteral("&Clear history for this feed"), QStringLiteral("-"),
      QStringLiteral("&Properties"), QStringLiteral("-"), QStringLiteral("&Mark all as read"),
      QStringLiteral("&Update this feed")};
  EXPECT_EQ(f.menus[0].texts, root);
  EXPECT_EQ(f.menus[1].texts, group);
  EXPECT_EQ(f.menus[2].texts, source);
  // The right click selected the item under the cursor.
  EXPECT_EQ(f.tree->SelectedNode(), std::optional<ObjectId>(s->m_id));
}

TEST_F(SourceListViewTest, RenameStartsWithTheNameCommitsAndEscapeCancels) {
  CGroup* g = f.Group(0, u"G");
  CFeedSource* s = f.Source(g->m_id, u"Zulu");
  s->m_autoName = true;
  f.Article(s, u"a");
  f.Source(g->m_id, u"Mike");
  f.CreateViews();
  f.window.show();
  Select(s->m_id);

  Key(Qt::Key_F2);
  ASSERT_TRUE(f.tree->IsEditing());
  auto* edit = f.tree->viewport()->findChild<QLineEdit*>();
  ASSERT_NE(edit, nullptr);
  EXPECT_EQ(edit->text(), QStringLiteral("Zulu"));  // without the counts
  QTest::keyClick(edit, Qt::Key_Escape);
  EXPECT_FALSE(f.tree->IsEditing());
  EXPECT_EQ(s->m_title, u"Zulu");
  EXPECT_TRUE(s->m_autoName);
  EXPECT_EQ(Item(s->m_id)->text(0), QStringLiteral("Zulu (1 / 1)"));
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

  f.tree->StartRename();
  edit = f.tree->viewport()->findChild<QLineEdit*>();
  ASSERT_NE(edit, nullptr);
  edit->setText(QStringLiteral("Alpha"));
  QTest::keyClick(edit, Qt::Key_Return);
  QCoreApplication::processEvents();  // the editor commits from the event loop
  EXPECT_FALSE(f.tree->IsEditing());
  EXPECT_EQ(s->m_title, u"Alpha");
  EXPECT_FALSE(s->m_autoName);
  EXPECT_EQ(ChildLabels(Item(g->m_id)),
            (std::vector<QString>{QStringLiteral("Alpha (1 / 1)"), QStringLiteral("Mike")}));
  EXPECT_GE(f.saves, 1);
}

TEST_F(SourceListViewTest, GroupSelectionListsNestedSourcesAndClearsTheArticlePane) {
  CGroup* top = f.Group(0, u"Top");
  CGroup* sub = f.Group(top->m_id, u"Sub");
  CFeedSource* s1 = f.Source(top->m_id, u"S1");
  CFeedSource* s2 = f.Source(sub->m_id, u"S2");
  f.Article(s1, u"one");
  f.Article(s2, u"two");
  f.Article(s2, u"three");
  f.CreateViews();
  QAbstractItemModelTester tester(f.list->model(), QAbstractItemModelTester::FailureReportingMode::Fatal);
  Select(top->m_id);
  EXPECT_EQ(f.list->model()->rowCount(), 3);
  EXPECT_EQ(f.list->ShownSources(), (IdList{s1->m_id, s2->m_id}));
  Select(s2->m_id);
  EXPECT_EQ(f.list->model()->rowCount(), 2);
  Select(0);
  EXPECT_EQ(f.list->model()->rowCount(), 0);
}

TEST_F(SourceListViewTest, LongLabelsScrollInsteadOfBeingCut) {
  CGroup* g = f.Group(0, u"Technology News From Every Corner Of The World");
  for (int i = 0; i < 10; ++i) f.Article(f.Source(g->m_id, u"Feed"), u"a");
  f.CreateViews();
  f.window.show();
  f.tree->resize(120, 300);
  QCoreApplication::processEvents();
  QTreeWidgetItem* item = Item(g->m_id);
  const int text = QFontMetrics(item->font(0)).horizontalAdvance(item->text(0));
  EXPECT_GT(f.tree->columnWidth(0), text);
  EXPECT_GT(f.tree->horizontalScrollBar()->maximum(), 0);
  // In a wide tree the column still spans the whole row.
  f.tree->resize(1000, 300);
  QCoreApplication::processEvents();
  EXPECT_GE(f.tree->columnWidth(0), f.tree->viewport()->width());
  EXPECT_EQ(f.tree->horizontalScrollBar()->maximum(), 0);
}

TEST_F(SourceListViewTest, FocusEndsTheNewArticlesNotice) {
  f.Group(0, u"G");
  f.CreateViews();
  f.newArticles = true;
  QFocusEvent in(QEvent::FocusIn, Qt::MouseFocusReason);
  QCoreApplication::sendEvent(f.tree, &in);
  EXPECT_FALSE(f.newArticles);
}

}  // namespace
}  // namespace qb
