// Reading with the keyboard and narrowing the list, on the panes as the
// frame wires them: N, P and Space move through the unread articles across
// sources in the tree's order; the filter narrows the list; "Mark all as
// read" and "Update this feed / group" act on the whole node.
#include <QCheckBox>
#include <QContextMenuEvent>
#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QWebEngineSettings>
#include <chrono>
#include <functional>
#include <gtest/gtest.h>

#include "model/ModelWriter.h"
#include "tests/support/FakeMainFrame.h"
#include "tests/support/TempDir.h"
#include "views/ArticleFilterBar.h"
#include "views/ArticleTableModel.h"

namespace qb {
namespace {

using test::FakeMainFrame;

// Runs the event loop until `done` holds, at most `ms` milliseconds.
bool WaitFor(const std::function<bool()>& done, int ms = 20000) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

// The tree, depth first as shown (groups before sources, by name):
//   A            (root group)
//     A1         (collapsed)
//       S2       b1
//     S1         a1, a2 (read), a3
//     S3         c1 (read)
//   B            (root group)
//     S4         d1, d2
class ReadingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    f.model.SeedRandom(3);
    m_oldRuntime = qgetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(tmp.path()));
    A = f.Group(0, u"A");
    B = f.Group(0, u"B");
    A1 = f.Group(A->m_id, u"A1", false);
    s1 = f.Source(A->m_id, u"S1");
    s3 = f.Source(A->m_id, u"S3");
    s2 = f.Source(A1->m_id, u"S2");
    s4 = f.Source(B->m_id, u"S4");
    for (CFeedSource* s : {s1, s2, s3, s4}) s->m_sortColumn = 0;  // by title, rising
    a1 = f.Article(s1, u"a1")->m_id;
    a2 = f.Article(s1, u"a2", true)->m_id;
    a3 = f.Article(s1, u"a3")->m_id;
    b1 = f.Article(s2, u"b1")->m_id;
    c1 = f.Article(s3, u"c1", true)->m_id;
    d1 = f.Article(s4, u"d1")->m_id;
    d2 = f.Article(s4, u"d2")->m_id;
  }
  void TearDown() override { qputenv("XDG_RUNTIME_DIR", m_oldRuntime); }
  QByteArray m_oldRuntime;

  void Select(ObjectId node) { f.tree->SelectItem(f.tree->FindItem(node)); }
  void Read(ObjectId article) { f.list->ReadRow(f.list->FindRow(article)); }
  ObjectId Node() { return f.tree->SelectedNode().value_or(~0u); }
  IdList Shown() { return f.list->ArticleModel()->Ids(); }
  void RightClick(ObjectId node) {
    QTreeWidgetItem* item = f.tree->FindItem(node);
    const QPoint pos = f.tree->visualItemRect(item).center();
    QContextMenuEvent event(QContextMenuEvent::Mouse, pos, f.tree->viewport()->mapToGlobal(pos));
    QCoreApplication::sendEvent(f.tree->viewport(), &event);
  }

  test::TempDir tmp;
  FakeMainFrame f;
  CGroup *A, *B, *A1;
  CFeedSource *s1, *s2, *s3, *s4;
  ObjectId a1, a2, a3, b1, c1, d1, d2;
};

TEST_F(ReadingTest, NAndPGoThroughUnreadArticlesAcrossSourcesInTreeOrder) {
  f.CreateViews();
  Select(s1->m_id);
  Read(a1);
  ASSERT_EQ(f.list->SelectedArticles(), IdList{a1});

  // Each step: the key, then the node and the article it leads to.
  struct Step {
    Qt::Key key;
    ObjectId node;
    ObjectId article;
  };
  const Step steps[] = {
      {Qt::Key_N, s1->m_id, a3},  // within the list, over the read a2
      {Qt::Key_N, s4->m_id, d1},  // S3 has nothing unread; B is a group
      {Qt::Key_N, s4->m_id, d2},
      {Qt::Key_N, s2->m_id, b1},  // round from the top, into the collapsed A1
      {Qt::Key_N, s1->m_id, a1},
      {Qt::Key_P, s2->m_id, b1},  // backwards: the last unread of the source before
      {Qt::Key_P, s4->m_id, d2},  // round from the bottom
      {Qt::Key_P, s4->m_id, d1},
      {Qt::Key_P, s1->m_id, a3},
      {Qt::Key_Space, s4->m_id, d1},  // without a page to scroll: the next unread
  };
  // From the list and from the tree alike: the keys act window-wide.
  for (size_t i = 0; i < std::size(steps); ++i) {
    const Step& step = steps[i];
    QWidget* target = i % 2 == 0 ? static_cast<QWidget*>(f.list) : f.tree;
    QTest::keyClick(target, step.key);
    EXPECT_EQ(Node(), step.node) << i;
    EXPECT_EQ(f.list->SelectedArticles(), IdList{step.article});
  }
  // The tree shows the source it went to.
  EXPECT_TRUE(f.tree->FindItem(s2->m_id)->parent()->isExpanded());
  // The article is shown and its mark-read timer runs, as after a click.
  EXPECT_TRUE(f.list->MarkReadPending());
  EXPECT_EQ(f.list->PendingArticle(), d1);
}

TEST_F(ReadingTest, FromTheRootOrAGroupAndWhenNothingIsLeft) {
  f.CreateViews();
  // The root item shows no articles: the first unread source in tree order.
  Select(0);
  QTest::keyClick(f.list, Qt::Key_N);
  EXPECT_EQ(Node(), s2->m_id);
  EXPECT_EQ(f.list->SelectedArticles(), IdList{b1});
  Select(0);
  QTest::keyClick(f.list, Qt::Key_P);
  EXPECT_EQ(Node(), s4->m_id);
  EXPECT_EQ(f.list->SelectedArticles(), IdList{d2});

  // A group's list holds its sources' rows: past its last unread row the
  // search goes on after the group's subtree.
  Select(A->m_id);
  Read(a3);
  QTest::keyClick(f.list, Qt::Key_N);
  EXPECT_EQ(Node(), A->m_id);
  EXPECT_EQ(f.list->SelectedArticles(), IdList{b1});
  QTest::keyClick(f.list, Qt::Key_N);
  EXPECT_EQ(Node(), s4->m_id);
  EXPECT_EQ(f.list->SelectedArticles(), IdList{d1});

  // Only the article being read is unread: nothing moves, the status says so.
  f.model.MarkRead({a1, a3, b1, d1, d2}, true);
  Select(s1->m_id);
  f.model.MarkRead({a1}, false);
  Read(a1);
  f.status.clear();
  QTest::keyClick(f.list, Qt::Key_N);
  EXPECT_EQ(Node(), s1->m_id);
  EXPECT_EQ(f.list->SelectedArticles(), IdList{a1});
  ASSERT_FALSE(f.status.empty());
  EXPECT_EQ(f.status.back(), u"There are no more unread articles.");

  // Once there is news again, the next step finds it and the notice goes.
  f.model.MarkRead({b1}, false);
  QTest::keyClick(f.list, Qt::Key_N);
  EXPECT_EQ(f.list->SelectedArticles(), IdList{b1});
  EXPECT_NE(f.status.back(), u"There are no more unread articles.");
}

TEST_F(ReadingTest, TheFilterNarrowsTheListAndFollowsTheNode) {
  f.Article(s1, u"Storm warning")->m_description = u"<p>Heavy <b>RAIN</b> &amp; wind</p>";
  const ObjectId storm = s1->m_articles.back();
  f.CreateViews();
  Select(s1->m_id);
  ASSERT_EQ(Shown().size(), 4u);

  f.list->SetFilter(QStringLiteral("rain"), false);  // in the text, bold and upper-case
  EXPECT_EQ(Shown(), IdList{storm});
  f.list->SetFilter(QStringLiteral("rain &"), false);
  EXPECT_EQ(Shown(), IdList{storm});
  f.list->SetFilter(QStringLiteral("<b>"), false);  // markup is not text
  EXPECT_TRUE(Shown().empty());
  f.list->SetFilter(QStringLiteral("S1"), false);  // the channel
  EXPECT_EQ(Shown().size(), 4u);

  // Another node keeps the filter: S4's articles carry its name.
  f.list->SetFilter(QStringLiteral("d2"), false);
  Select(s4->m_id);
  EXPECT_EQ(Shown(), IdList{d2});
  Select(A->m_id);
  EXPECT_TRUE(Shown().empty());

  // N finds only what the filter lets through.
  f.list->SetFilter(QStringLiteral("a"), false);
  Select(s1->m_id);
  Read(a1);
  QTest::keyClick(f.list, Qt::Key_N);
  EXPECT_EQ(f.list->SelectedArticles(), IdList{a3});
  f.list->SetFilter(QStringLiteral("b1"), false);
  QTest::keyClick(f.list, Qt::Key_N);
  EXPECT_EQ(Node(), s2->m_id);

  f.list->SetFilter(QString(), false);
  Select(s1->m_id);
  EXPECT_EQ(Shown().size(), 4u);
}

// The bar as the user works it: the words typed, "All articles" beside
// "Unread only", the count beside them; a change scrolls to the top and
// the page goes when its article no longer matches.
TEST_F(ReadingTest, TheFilterBarLooksInTheWholeLibraryCountsAndClearsThePage) {
  const CDateTime day = CDateTime::FromTime(1'750'000'000);
  auto dated = [&](ObjectId id, int days) {
    CModelWriter(f.model).Feed(id)->m_date = CDateTime::FromTime(1'750'000'000 + days * 86400);
  };
  f.Article(s4, u"Storm over the bay", false, day);
  const ObjectId bay = s4->m_articles.back();
  f.Article(s1, u"storm warning", true, day);
  const ObjectId warning = s1->m_articles.back();
  dated(warning, 2);
  CFeedSource* big = f.Source(B->m_id, u"Big");
  for (int i = 0; i < 300; ++i) f.Article(big, u"Calm " + std::u16string(1, char16_t(u'a' + i % 26)));
  f.CreateViews(true);
  CArticleFilterBar& bar = f.panes->FilterBar();
  bar.show();
  f.window.resize(900, 600);
  f.window.show();

  Select(big->m_id);
  f.list->ReadRow(299);
  ASSERT_GT(f.list->verticalScrollBar()->value(), 0);
  ASSERT_NE(f.view->CurrentFeedId(), 0u);
  const ObjectId reading = f.view->CurrentFeedId();

  // Words the article being read has: the page stays, the list goes to the top.
  QTest::keyClicks(bar.Line(), QStringLiteral("cal"));
  EXPECT_EQ(Shown().size(), 300u);
  EXPECT_EQ(f.list->verticalScrollBar()->value(), 0);
  EXPECT_EQ(bar.CountLabel()->text(), QStringLiteral("300 articles"));
  EXPECT_EQ(f.view->CurrentFeedId(), reading);

  // Words it lacks: the node has no match, the page is cleared.
  bar.Line()->setText(QStringLiteral("storm"));
  EXPECT_TRUE(Shown().empty());
  EXPECT_EQ(bar.CountLabel()->text(), QStringLiteral("No articles"));
  EXPECT_EQ(f.view->CurrentFeedId(), 0u);

  // "All articles": every feed, newest first, whatever is selected.
  QTest::mouseClick(bar.AllArticlesBox(), Qt::LeftButton);
  ASSERT_TRUE(bar.AllArticles());
  EXPECT_EQ(Shown(), (IdList{warning, bay}));
  EXPECT_EQ(bar.CountLabel()->text(), QStringLiteral("2 articles"));
  EXPECT_EQ(f.list->SortColumn(), CArticleTableModel::kDate);
  EXPECT_FALSE(f.list->SortAscending());
  Select(s2->m_id);
  EXPECT_EQ(Shown(), (IdList{warning, bay}));
  QTest::mouseClick(bar.UnreadOnlyBox(), Qt::LeftButton);
  EXPECT_EQ(Shown(), IdList{bay});
  EXPECT_EQ(bar.CountLabel()->text(), QStringLiteral("1 article"));

  // A header click sorts the matches here and stores no sort on any feed.
  QSignalSpy sorts(f.list, &CFeedListView::sortRequested);
  f.list->SortByHeader(CArticleTableModel::kTitle);
  EXPECT_EQ(sorts.count(), 0);

  // An article an update brings in that matches joins the list and the count.
  CFeed* fresh = f.Article(s3, u"Storm again");
  f.model.RebuildIndexes();
  f.list->InsertArticles({fresh->m_id});
  EXPECT_EQ(Shown().size(), 2u);
  EXPECT_EQ(bar.CountLabel()->text(), QStringLiteral("2 articles"));

  // Escape clears everything: the node's articles again, no count.
  QTest::keyClick(bar.Line(), Qt::Key_Escape);
  EXPECT_FALSE(bar.AllArticles());
  EXPECT_TRUE(bar.CountLabel()->text().isEmpty());
  IdList inS2;
  f.model.CollectFeeds(s2->m_id, inS2);
  EXPECT_EQ(Shown(), inS2);
}

TEST_F(ReadingTest, UnreadOnlyKeepsTheArticleBeingRead) {
  f.CreateViews();
  Select(s1->m_id);
  f.list->SetFilter(QString(), true);
  EXPECT_EQ(Shown(), (IdList{a1, a3}));
  Read(a1);
  f.FireMarkRead();
  ASSERT_TRUE(f.model.GetFeed(a1)->m_read);
  // Neither the change record nor a full refresh drops the selected row...
  EXPECT_EQ(Shown(), (IdList{a1, a3}));
  f.list->RefreshAll();
  EXPECT_EQ(Shown(), (IdList{a1, a3}));
  // ...until the user moves on.
  QTest::keyClick(f.list, Qt::Key_N);
  EXPECT_EQ(f.list->SelectedArticles(), IdList{a3});
  f.list->RefreshAll();
  EXPECT_EQ(Shown(), IdList{a3});
  // Marked unread again, an article comes back; read, one not selected goes.
  f.commands->MarkRead({a1}, false);
  EXPECT_EQ(Shown(), (IdList{a1, a3}));
  f.commands->MarkRead({a1}, true);
  EXPECT_EQ(Shown(), IdList{a3});
  Select(s3->m_id);
  EXPECT_TRUE(Shown().empty());
}

TEST_F(ReadingTest, MarkAllAsReadOnAGroupOrSourceIsOneChange) {
  f.CreateViews();
  // The model's change records: one per command.
  struct Records : IModelObserver {
    explicit Records(CFeedsManager& m) : model(m) { model.AddObserver(this); }
    ~Records() { model.RemoveObserver(this); }
    void OnModelChanged(const CFeedsManager&, const CModelChange&) override { ++count; }
    CFeedsManager& model;
    int count = 0;
  } changes(f.model);
  f.chooseInMenu = QStringLiteral("&Mark all as read");
  RightClick(A->m_id);
  EXPECT_EQ(changes.count, 1);
  EXPECT_EQ(f.saves, 1);
  for (ObjectId id : {a1, a2, a3, b1, c1}) EXPECT_TRUE(f.model.GetFeed(id)->m_read);
  EXPECT_FALSE(f.model.GetFeed(d1)->m_read);
  EXPECT_EQ(f.tree->FindItem(A->m_id)->text(0), QStringLiteral("A (0 / 5)"));
  EXPECT_EQ(f.tree->FindItem(s2->m_id)->text(0), QStringLiteral("S2 (0 / 1)"));
  EXPECT_FALSE(f.tree->FindItem(A->m_id)->font(0).bold());
  EXPECT_EQ(f.tree->FindItem(B->m_id)->text(0), QStringLiteral("B (2 / 2)"));

  // Nothing left unread: nothing is sent or saved.
  RightClick(s1->m_id);
  EXPECT_EQ(changes.count, 1);
  EXPECT_EQ(f.saves, 1);

  // A source, and the list that shows it follows.
  RightClick(s4->m_id);
  EXPECT_EQ(changes.count, 2);
  EXPECT_EQ(f.tree->FindItem(s4->m_id)->text(0), QStringLiteral("S4 (0 / 2)"));
  EXPECT_FALSE(f.list->model()->index(0, 0).data(Qt::FontRole).value<QFont>().bold());

  // Not for the root item, nor for an identifier that names nothing.
  f.commands->MarkAllRead(0);
  f.commands->MarkAllRead(12345);
  EXPECT_EQ(changes.count, 2);
}

TEST_F(ReadingTest, UpdateThisFeedOrGroupAsksForItsSourcesForced) {
  f.CreateViews();
  f.chooseInMenu = QStringLiteral("&Update this group");
  RightClick(A->m_id);
  std::vector<std::pair<ObjectId, bool>> calls = f.updateSourceCalls;
  std::sort(calls.begin(), calls.end());
  std::vector<std::pair<ObjectId, bool>> expected = {{s1->m_id, true}, {s2->m_id, true}, {s3->m_id, true}};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(calls, expected);
  EXPECT_TRUE(f.updateAllCalls.empty());

  f.updateSourceCalls.clear();
  f.chooseInMenu = QStringLiteral("&Update this feed");
  RightClick(s4->m_id);
  EXPECT_EQ(f.updateSourceCalls, (std::vector<std::pair<ObjectId, bool>>{{s4->m_id, true}}));

  // An empty group asks for nothing.
  f.updateSourceCalls.clear();
  const CGroup* empty = f.model.AddGroup(0, u"Empty");
  f.chooseInMenu = QStringLiteral("&Update this group");
  RightClick(empty->m_id);
  EXPECT_TRUE(f.updateSourceCalls.empty());
}

// Space on the list or the page: the page scrolls down, through a question
// asked beside the page's own (switched off) scripts; at its end the next
// unread article is shown, in the next source when the list has none.
TEST_F(ReadingTest, SpacePagesDownThenGoesToTheNextUnreadArticle) {
  std::u16string longText;
  for (int i = 0; i < 40; ++i) longText += u"<p>Paragraph of a long article.</p>";
  CModelWriter(f.model).Feed(a3)->m_description = longText;
  CModelWriter(f.model).Feed(d2)->m_description = longText;
  f.model.MarkRead({d1}, true);
  f.CreateViews(true);
  f.window.resize(800, 600);
  f.view->setGeometry(0, 300, 700, 250);
  f.window.show();
  Select(s1->m_id);
  QSignalSpy loaded(f.view->page(), &QWebEnginePage::loadFinished);
  Read(a3);
  ASSERT_TRUE(loaded.wait(20000));
  ASSERT_EQ(f.view->CurrentFeedId(), a3);

  auto scrollY = [&] { return f.view->page()->scrollPosition().y(); };
  QTest::keyClick(f.list, Qt::Key_Space);
  ASSERT_TRUE(WaitFor([&] { return scrollY() > 100; }));
  EXPECT_EQ(f.list->SelectedArticles(), IdList{a3});
  EXPECT_FALSE(f.view->page()->settings()->testAttribute(QWebEngineSettings::JavascriptEnabled));

  // On the page itself (its render widget has the keys), to the end and on.
  QWidget* render = f.view->focusProxy();
  ASSERT_NE(render, nullptr);
  int presses = 0;
  while (f.view->CurrentFeedId() == a3 && presses < 40) {
    const qreal before = scrollY();
    QTest::keyClick(render, Qt::Key_Space);
    ++presses;
    WaitFor([&] { return scrollY() != before || f.view->CurrentFeedId() != a3; }, 3000);
  }
  EXPECT_GT(presses, 2);
  // Read to its end, the article became read.
  EXPECT_TRUE(f.model.GetFeed(a3)->m_read);
  EXPECT_EQ(Node(), s4->m_id);
  EXPECT_EQ(f.list->SelectedArticles(), IdList{d2});
  EXPECT_EQ(f.view->CurrentFeedId(), d2);

  // N and P on the page, once it shows the article; the next article
  // starts at its top, not where the last one was left.
  ASSERT_TRUE(WaitFor([&] { return f.view->page()->url() == f.view->PageUrl(d2) &&
                                   loaded.count() >= 2; }));
  // The engine reports the new page's place a little after it loaded; from
  // then on, restoring the old place would scroll the new page down.
  ASSERT_TRUE(WaitFor([&] { return scrollY() == 0; }, 5000));
  EXPECT_FALSE(QTest::qWaitFor([&] { return scrollY() != 0; }, 1000));
  QTest::keyClick(f.view->focusProxy(), Qt::Key_P);
  EXPECT_EQ(f.list->SelectedArticles(), IdList{a1});
}

}  // namespace
}  // namespace qb
