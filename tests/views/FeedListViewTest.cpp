#include "views/FeedListView.h"

#include <QAbstractItemModelTester>
#include <QContextMenuEvent>
#include <QFile>
#include <QHeaderView>
#include <QStyle>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include "base/Text.h"
#include "model/ModelWriter.h"
#include "tests/support/FakeMainFrame.h"
#include "tests/support/TempDir.h"
#include "views/ArticleTableModel.h"
#include "views/DateText.h"
#include "views/ViewText.h"

namespace qb {
namespace {

using test::FakeMainFrame;

CDateTime Date(int y, int mo, int d, int h = 12, int mi = 0, int s = 0) {
  CDateTime t;
  t.SetDateTime(y, mo, d, h, mi, s);
  return t;
}

// One source with five articles; titles sort as listed, b and d undated.
class FeedListViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    f.model.SeedRandom(11);
    qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(tmp.path()));
    g = f.Group(0, u"G");
    s = f.Source(g->m_id, u"S");
    other = f.Source(g->m_id, u"Other");
    a = f.Article(s, u"alpha", false, Date(2020, 5, 1));
    b = f.Article(s, u"Bravo", true);
    c = f.Article(s, u"charlie", false, Date(2019, 1, 1));
    d = f.Article(s, u"Delta", true);
    e = f.Article(s, u"echo", false, Date(2021, 3, 3));
    f.CreateViews();
    tester = std::make_unique<QAbstractItemModelTester>(
        f.list->model(), QAbstractItemModelTester::FailureReportingMode::Fatal);
    f.tree->SelectItem(f.tree->FindItem(s->m_id));
  }
  void TearDown() override { qunsetenv("XDG_RUNTIME_DIR"); }

  QAbstractItemModel* M() { return f.list->model(); }
  std::vector<QString> Titles() {
    std::vector<QString> out;
    for (int r = 0; r < M()->rowCount(); ++r) out.push_back(M()->index(r, 0).data().toString());
    return out;
  }
  IdList Selected() { return f.list->SelectedArticles(); }
  void Click(int row, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    const QRect rect = f.list->visualRect(M()->index(row, 0));
    QTest::mouseClick(f.list->viewport(), Qt::LeftButton, mods, rect.center());
  }
  void RightClick(int row) {
    const QPoint pos = f.list->visualRect(M()->index(row, 0)).center();
    QContextMenuEvent event(QContextMenuEvent::Mouse, pos, f.list->viewport()->mapToGlobal(pos));
    QCoreApplication::sendEvent(f.list->viewport(), &event);
  }
  void ClickHeader(int column) { emit f.list->header()->sectionClicked(column); }

  test::TempDir tmp;
  FakeMainFrame f;
  CGroup* g;
  CFeedSource *s, *other;
  CFeed *a, *b, *c, *d, *e;
  std::unique_ptr<QAbstractItemModelTester> tester;
};

TEST_F(FeedListViewTest, ColumnsTextsAndBoldUnread) {
  EXPECT_EQ(M()->headerData(0, Qt::Horizontal).toString(), QStringLiteral("Item Title"));
  EXPECT_EQ(M()->headerData(1, Qt::Horizontal).toString(), QStringLiteral("Channel"));
  EXPECT_EQ(M()->headerData(2, Qt::Horizontal).toString(), QStringLiteral("Date / Time"));
  ASSERT_EQ(M()->rowCount(), 5);
  const int row = f.list->FindRow(a->m_id);
  EXPECT_EQ(M()->index(row, 1).data().toString(), QStringLiteral("S"));
  EXPECT_EQ(M()->index(row, 2).data().toString(), FormatDisplayDate(a->m_date));
  EXPECT_TRUE(M()->index(row, 0).data(Qt::FontRole).value<QFont>().bold());
  EXPECT_FALSE(M()->index(f.list->FindRow(b->m_id), 0).data(Qt::FontRole).value<QFont>().bold());
  EXPECT_EQ(M()->index(f.list->FindRow(b->m_id), 2).data().toString(), QString());
  EXPECT_EQ(f.list->FindRow(0x7fffffff), -1);
}

TEST(FeedListViewWidthsTest, InitialWidthsFollowTheWidthTheListHasWhenFirstShown) {
  for (bool stored : {false, true}) {
    FakeMainFrame f;
    f.window.resize(100, 100);
    auto own = std::make_unique<CFeedListView>(f.model, f, &f.window);
    f.list = own.get();
    f.list->resize(100, 100);
    f.list->InitialUpdate();  // before the window shows, at a provisional width
    if (stored) f.list->setColumnWidth(1, 333);
    f.list->resize(900, 300);
    f.window.resize(1000, 400);
    f.window.show();
    const int w = f.list->viewport()->width() -
                  f.list->style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    // The channel keeps a stored width; the date is at least its share; the
    // title takes what is left.
    EXPECT_EQ(f.list->columnWidth(1), stored ? 333 : w * 3 / 20);
    EXPECT_GE(f.list->columnWidth(2), w * 3 / 20);
    EXPECT_EQ(f.list->columnWidth(0), w - f.list->columnWidth(1) - f.list->columnWidth(2) - f.list->columnWidth(3));
  }
}

TEST_F(FeedListViewTest, DateColumnFitsABoldDateAndTheTitleTakesTheRest) {
  CFeed* late = f.Article(s, u"late", false, Date(2000, 12, 28, 22, 58, 58));
  f.list->RefreshAll();
  f.window.show();
  QFont bold = f.list->font();
  bold.setBold(true);
  const int dateText = QFontMetrics(bold).horizontalAdvance(FormatDisplayDate(late->m_date));
  for (int width : {360, 900, 1300}) {
    SCOPED_TRACE(width);
    f.list->resize(width, 300);
    const int w = f.list->viewport()->width() -
                  f.list->style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    EXPECT_GT(f.list->columnWidth(2), dateText);
    EXPECT_EQ(f.list->columnWidth(0) + f.list->columnWidth(1) + f.list->columnWidth(2) + f.list->columnWidth(3), w);
  }
}

// One format for the list, its tooltips, the clock and the properties: the
// locale's short date with a four-digit year, then its short time; the
// clock adds seconds; the date alone at midnight; nothing without a date.
TEST(DisplayDateTextTest, TheLocalesShortFormatWithAFourDigitYear) {
  struct Case {
    const char* locale;
    CDateTime date;
    const char* list;
    const char* clock;
  };
  const Case cases[] = {
      {"en_US", Date(2009, 5, 4, 15, 20, 30), "5/4/2009 3:20\u202fPM", "5/4/2009 3:20:30\u202fPM"},
      {"de_DE", Date(2009, 5, 4, 15, 20, 30), "04.05.2009 15:20", "04.05.2009 15:20:30"},
      {"en_GB", Date(2031, 12, 24, 9, 5, 0), "24/12/2031 09:05", "24/12/2031 09:05:00"},
      {"de_DE", Date(2009, 5, 4, 0, 0, 0), "04.05.2009", "04.05.2009"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.locale);
    const QLocale locale(QString::fromLatin1(c.locale));
    // Qt's locale data writes the en_US time with a narrow no-break space or
    // a plain one, depending on its version.
    auto same = [](QString a, QString b) {
      a.replace(QChar(0x202F), QLatin1Char(' '));
      b.replace(QChar(0x202F), QLatin1Char(' '));
      return a == b;
    };
    EXPECT_PRED2(same, FormatDisplayDate(c.date, false, locale), QString::fromUtf8(c.list));
    EXPECT_PRED2(same, FormatDisplayDate(c.date, true, locale), QString::fromUtf8(c.clock));
  }
  EXPECT_EQ(FormatDisplayDate(CDateTime::Invalid()), QString());
  EXPECT_EQ(FormatDisplayDate(CDateTime::Null()), QString());
}

TEST_F(FeedListViewTest, HeaderClicksToggleTheSortAndStoreItOnTheShownSources) {
  // Default: title ascending, with only A-Z folded.
  EXPECT_EQ(Titles(), (std::vector<QString>{"alpha", "Bravo", "charlie", "Delta", "echo"}));
  ClickHeader(2);
  EXPECT_EQ(Titles(), (std::vector<QString>{"charlie", "alpha", "echo", "Bravo", "Delta"}));
  EXPECT_EQ(f.list->SortColumn(), 2);
  EXPECT_TRUE(f.list->SortAscending());
  EXPECT_EQ(f.list->header()->sortIndicatorSection(), 2);
  // An up arrow: the header draws Qt::DescendingOrder pointing up.
  EXPECT_EQ(f.list->header()->sortIndicatorOrder(), Qt::DescendingOrder);
  EXPECT_EQ(s->m_sortColumn, 2);
  EXPECT_EQ(s->m_sortDirection, kSortAscending);
  EXPECT_EQ(f.saves, 1);

  // Newest first, and the undated articles still last.
  ClickHeader(2);
  EXPECT_EQ(Titles(), (std::vector<QString>{"echo", "alpha", "charlie", "Bravo", "Delta"}));
  EXPECT_EQ(s->m_sortDirection, kSortDescending);
  EXPECT_EQ(f.list->header()->sortIndicatorOrder(), Qt::AscendingOrder);

  // The choice comes back when the source is selected again.
  f.tree->SelectItem(f.tree->FindItem(other->m_id));
  EXPECT_EQ(M()->rowCount(), 0);
  f.tree->SelectItem(f.tree->FindItem(s->m_id));
  EXPECT_EQ(Titles(), (std::vector<QString>{"echo", "alpha", "charlie", "Bravo", "Delta"}));
  EXPECT_EQ(f.list->SortColumn(), 2);
  EXPECT_FALSE(f.list->SortAscending());

  // Another column starts ascending; a group stores the choice on all its sources.
  f.tree->SelectItem(f.tree->FindItem(g->m_id));
  ClickHeader(1);
  EXPECT_TRUE(f.list->SortAscending());
  EXPECT_EQ(s->m_sortColumn, 1);
  EXPECT_EQ(other->m_sortColumn, 1);
}

TEST_F(FeedListViewTest, SingleSelectionShowsTheArticleAndMarksItReadWhenTheTimerFires) {
  f.window.show();
  Click(f.list->FindRow(a->m_id));
  EXPECT_EQ(f.list->PendingArticle(), a->m_id);
  EXPECT_TRUE(f.list->MarkReadPending());
  EXPECT_EQ(f.list->MarkReadDelay(), 10000);
  // Another row within the ten seconds: only that one is marked.
  Click(f.list->FindRow(c->m_id));
  EXPECT_EQ(f.list->PendingArticle(), c->m_id);
  f.FireMarkRead();
  EXPECT_FALSE(f.list->MarkReadPending());
  EXPECT_FALSE(a->m_read);
  EXPECT_TRUE(c->m_read);
  EXPECT_FALSE(M()->index(f.list->FindRow(c->m_id), 0).data(Qt::FontRole).value<QFont>().bold());
  EXPECT_EQ(f.tree->FindItem(s->m_id)->text(0), QStringLiteral("S (2 / 5)"));
  EXPECT_EQ(f.tree->FindItem(g->m_id)->text(0), QStringLiteral("G (2 / 5)"));
  EXPECT_EQ(Selected(), IdList{c->m_id});  // the refresh kept the selection
  // Counts kept up to date by the timer agree with a full refresh.
  f.tree->RefreshAll();
  EXPECT_EQ(f.tree->FindItem(g->m_id)->text(0), QStringLiteral("G (2 / 5)"));
  EXPECT_EQ(f.saves, 1);
}

TEST_F(FeedListViewTest, ShiftAndControlSelectionsLeaveTheTimerAlone) {
  f.window.show();
  f.list->SetMarkReadDelay(3600 * 1000);
  Click(0);
  const ObjectId first = f.list->PendingArticle();
  // The timer is not restarted: what it has left only goes down.
  QTest::qWait(20);
  const QTimer* timer = f.list->findChild<QTimer*>(QStringLiteral("markRead"));
  ASSERT_NE(timer, nullptr);
  const int left = timer->remainingTime();
  Click(2, Qt::ControlModifier);
  Click(4, Qt::ShiftModifier);
  EXPECT_EQ(f.list->PendingArticle(), first);
  EXPECT_TRUE(f.list->MarkReadPending());
  EXPECT_LE(timer->remainingTime(), left);
  EXPECT_GE(Selected().size(), 3u);
}

TEST_F(FeedListViewTest, ControlHomeAndEndKeepOnlyTheFirstOrLastRow) {
  f.window.show();
  f.list->setFocus();
  Click(1);
  Click(3, Qt::ControlModifier);
  QTest::keyClick(f.list, Qt::Key_Home, Qt::ControlModifier);
  EXPECT_EQ(Selected(), IdList{f.list->ArticleModel()->IdAt(0)});
  QTest::keyClick(f.list, Qt::Key_End, Qt::ControlModifier);
  EXPECT_EQ(Selected(), IdList{f.list->ArticleModel()->IdAt(4)});
}

// S, the menu and a click in the star column star and unstar; the tree's
// Starred node counts the starred articles of every feed and lists them.
TEST_F(FeedListViewTest, StarsAreToggledAndTheStarredNodeListsThem) {
  f.window.show();
  f.list->setFocus();
  Click(f.list->FindRow(a->m_id));
  QTest::keyClick(f.list, Qt::Key_S);
  EXPECT_TRUE(a->m_starred);
  const QTreeWidgetItem* starred = f.tree->FindItem(kStarredNode);
  ASSERT_NE(starred, nullptr);
  EXPECT_EQ(starred->text(0), a->m_read ? QStringLiteral("Starred (0 / 1)") : QStringLiteral("Starred (1 / 1)"));
  EXPECT_EQ(f.list->ArticleModel()->data(f.list->ArticleModel()->index(f.list->FindRow(a->m_id), 3)).toString(),
            QStringLiteral("\u2605"));
  // A click on b's star adds it; S on both, all starred, takes both off.
  const QRect cell = f.list->visualRect(f.list->ArticleModel()->index(f.list->FindRow(b->m_id), 3));
  QTest::mouseClick(f.list->viewport(), Qt::LeftButton, {}, cell.center());
  EXPECT_TRUE(b->m_starred);
  f.tree->setCurrentItem(f.tree->FindItem(kStarredNode));
  QCoreApplication::processEvents();
  EXPECT_EQ(f.list->ArticleModel()->rowCount(), 2);
  f.chooseInMenu = QStringLiteral("Un&star these items");
  f.list->selectAll();
  RightClick(0);
  EXPECT_FALSE(a->m_starred);
  EXPECT_FALSE(b->m_starred);
  EXPECT_EQ(f.tree->FindItem(kStarredNode)->text(0), QStringLiteral("Starred"));
}

TEST_F(FeedListViewTest, ContextMenusPerSelectionSizeWithGreyedEntries) {
  f.window.show();
  Click(f.list->FindRow(b->m_id));  // a read article
  RightClick(f.list->FindRow(b->m_id));
  ASSERT_EQ(f.menus.size(), 1u);
  const std::vector<QString> single = {"Mark item as &read", "Mark item as &unread", "&Star this item", "-",
                                       "Display source &XML for this item", "-", "&Delete this item"};
  EXPECT_EQ(f.menus[0].texts, single);
  EXPECT_FALSE(f.menus[0].enabled[0]);
  EXPECT_TRUE(f.menus[0].enabled[1]);

  // A right click on an unselected row adds it to the selection.
  f.chooseInMenu = QStringLiteral("Mark items as &read");
  RightClick(f.list->FindRow(a->m_id));
  ASSERT_EQ(f.menus.size(), 2u);
  const std::vector<QString> multiple = {"Mark items as &read", "Mark items as &unread", "&Star these items", "-",
                                         "&Delete these items"};
  EXPECT_EQ(f.menus[1].texts, multiple);
  EXPECT_TRUE(f.menus[1].enabled[0]);
  EXPECT_TRUE(a->m_read);
  EXPECT_FALSE(f.list->MarkReadPending());
  EXPECT_EQ(f.tree->FindItem(s->m_id)->text(0), QStringLiteral("S (2 / 5)"));

  f.chooseInMenu = QStringLiteral("Mark items as &unread");
  RightClick(f.list->FindRow(a->m_id));
  EXPECT_FALSE(a->m_read);
  EXPECT_FALSE(b->m_read);
}

TEST_F(FeedListViewTest, DeleteKeepsTheRightSelection) {
  f.window.show();
  f.list->setFocus();
  const ObjectId ids[] = {a->m_id, b->m_id, c->m_id, d->m_id, e->m_id};
  // Deleting the last row selects the new last row.
  Click(4);
  QTest::keyClick(f.list, Qt::Key_Delete);
  EXPECT_EQ(f.model.GetFeed(ids[4]), nullptr);
  EXPECT_EQ(M()->rowCount(), 4);
  EXPECT_EQ(Selected(), IdList{ids[3]});
  EXPECT_EQ(f.list->PendingArticle(), ids[3]);
  EXPECT_EQ(f.tree->FindItem(s->m_id)->text(0), QStringLiteral("S (2 / 4)"));

  // A middle row: the row that moves into its place is selected.
  Click(1);
  QTest::keyClick(f.list, Qt::Key_Delete);
  EXPECT_EQ(Selected(), IdList{ids[2]});

  // Deleting an article with no row changes nothing.
  const int saves = f.saves;
  f.list->DeleteArticles({0x12345});
  EXPECT_EQ(f.saves, saves);
  EXPECT_EQ(M()->rowCount(), 3);

  // Deleting a selected article keeps the other selected row.
  Click(0);
  Click(2, Qt::ControlModifier);
  f.list->DeleteArticles({ids[0]});
  EXPECT_EQ(Selected(), IdList{ids[3]});

  // Deleting everything leaves an empty list.
  f.list->DeleteArticles({ids[2], ids[3]});
  EXPECT_EQ(M()->rowCount(), 0);
  EXPECT_TRUE(s->m_articles.empty());
}

TEST_F(FeedListViewTest, RefreshInsertsAndRemovesOnlyWhatChangedAndKeepsTheSelection) {
  f.window.show();
  Click(f.list->FindRow(c->m_id));
  int inserted = 0;
  int removed = 0;
  QObject::connect(M(), &QAbstractItemModel::rowsInserted, [&] { ++inserted; });
  QObject::connect(M(), &QAbstractItemModel::rowsRemoved, [&] { ++removed; });
  // A list written directly is found by the refresh; the removal the model
  // reports takes the row at once.
  CFeed* fresh = f.Article(s, u"aardvark");
  s->RemoveFeed(e->m_id);
  f.model.DeleteObject(e->m_id);
  EXPECT_EQ(removed, 1);
  f.list->RefreshAll();
  EXPECT_EQ(inserted, 1);
  EXPECT_EQ(removed, 1);
  EXPECT_EQ(Titles(), (std::vector<QString>{"aardvark", "alpha", "Bravo", "charlie", "Delta"}));
  EXPECT_EQ(Selected(), IdList{c->m_id});
  EXPECT_NE(f.list->FindRow(fresh->m_id), -1);
}

TEST_F(FeedListViewTest, SourceXmlIsWrittenWithAByteOrderMarkOrWarns) {
  f.window.show();
  Click(f.list->FindRow(a->m_id));
  f.list->ShowSourceXml();
  ASSERT_EQ(f.messages.size(), 1u);
  EXPECT_EQ(f.messages[0].icon, MsgIcon::Warning);
  EXPECT_EQ(f.messages[0].text,
            QStringLiteral("There was a problem displaying the source for the selected feed."));

  a->m_sourceText = SharedText(std::u16string(u"<rss>caf\u00e9 \u20ac</rss>"));
  f.list->ShowSourceXml();
  EXPECT_EQ(f.messages.size(), 1u);
  const QString path = CCommands::SourceXmlPath();
  EXPECT_EQ(path, QString::fromStdString(tmp.path()) + "/quillbend/~feed_source_xml.txt");
  ASSERT_EQ(f.opened.size(), 1u);
  EXPECT_EQ(f.opened[0], QUrl::fromLocalFile(path));
  EXPECT_EQ(test::ReadFile(path.toStdString()), "\xEF\xBB\xBF<rss>caf\xC3\xA9 \xE2\x82\xAC</rss>");

  f.shellSucceeds = false;
  f.list->ShowSourceXml();
  ASSERT_EQ(f.messages.size(), 2u);
  EXPECT_EQ(f.messages[1].text, QStringLiteral("There was a problem displaying the text file. It has "
                                               "been saved to \n\n%1\n\nYou will need to display "
                                               "this manually.")
                                    .arg(path));
}

TEST(ArticleTableModelTest, ManyScatteredRemovalsKeepTheModelConsistent) {
  CFeedsManager model;
  model.SeedRandom(3);
  const CGroup* g = model.AddGroup(0, u"G");
  CFeedSource* s = CModelWriter(model).Source(model.AddSource(g->m_id, u"u")->m_id);
  IdList ids;
  for (int i = 0; i < 200; ++i) {
    CFeed* a = CModelWriter(model).NewFeed();
    a->m_title = std::u16string(1, char16_t(u'a' + i % 26));
    s->m_articles.push_back(a->m_id);
    ids.push_back(a->m_id);
  }
  CArticleTableModel table(model);
  QAbstractItemModelTester tester(&table, QAbstractItemModelTester::FailureReportingMode::Fatal);
  table.AppendRows(ids);
  QPersistentModelIndex kept(table.index(101, 0));
  QPersistentModelIndex gone(table.index(100, 0));
  std::vector<int> rows;
  for (int r = 0; r < 200; r += 2) rows.push_back(r);  // 100 separate blocks
  table.RemoveRowList(rows);
  ASSERT_EQ(table.rowCount(), 100);
  for (int r = 0; r < 100; ++r) {
    EXPECT_EQ(table.IdAt(r), ids[static_cast<size_t>(2 * r + 1)]);
    EXPECT_EQ(table.FindRow(table.IdAt(r)), r);
  }
  EXPECT_FALSE(gone.isValid());
  EXPECT_EQ(kept.row(), 50);
  table.SortRows(0, true);
  EXPECT_EQ(table.IdAt(kept.row()), ids[101]);
  for (int r = 1; r < 100; ++r)
    EXPECT_LE(table.index(r - 1, 0).data().toString(), table.index(r, 0).data().toString());
}

}  // namespace
}  // namespace qb

namespace qb {
namespace {

// The sort's packed prefixes must give the order of CompareAsciiNoCase on the
// decoded titles, whatever the lengths and shared prefixes.
TEST(ArticleTableModelTest, TitleSortMatchesTheFoldedComparison) {
  CFeedsManager model;
  model.SeedRandom(4);
  const CGroup* g = model.AddGroup(0, u"G");
  CFeedSource* s = CModelWriter(model).Source(model.AddSource(g->m_id, u"u")->m_id);
  const std::u16string titles[] = {
      u"Markets weather 10", u"markets Weather 9", u"MARKETS",  u"Mark",     u"",
      u"Markets weather 1",  u"Mar\u00e9",          u"Ma",       u"Z &amp; a", u"Z & b",
      u"markets weather 10", u"\u00e0 la carte",   u"[bracket]", u"_under",   u"Markets weathe"};
  IdList ids;
  for (const std::u16string& t : titles) {
    CFeed* a = CModelWriter(model).NewFeed();
    a->m_title = t;
    s->m_articles.push_back(a->m_id);
    ids.push_back(a->m_id);
  }
  for (bool ascending : {true, false}) {
    CArticleTableModel table(model);
    table.AppendRows(ids);
    table.SortRows(CArticleTableModel::kTitle, ascending);
    IdList expected = ids;
    std::stable_sort(expected.begin(), expected.end(), [&](ObjectId a, ObjectId b) {
      const int c = CompareAsciiNoCase(DecodeForDisplay(model.GetFeed(a)->m_title),
                                       DecodeForDisplay(model.GetFeed(b)->m_title));
      return ascending ? c < 0 : c > 0;
    });
    EXPECT_EQ(table.Ids(), expected) << "ascending " << ascending;
  }
}

}  // namespace
}  // namespace qb
