// The reading commands in the whole program: the View menu and its keys,
// the filter bar over the article list, and the selection brought back at
// the next start.
#include <QCheckBox>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include "app/Commands.h"
#include "app/PaneRouter.h"
#include "model/ModelWriter.h"
#include "tests/app/AppHarness.h"
#include "views/ArticleFilterBar.h"
#include "views/ArticleTableModel.h"
#include "views/FeedListView.h"
#include "views/FeedView.h"
#include "views/SourceListView.h"

namespace qb {
namespace {

using test::AppHarness;
using test::UiTestScope;

// A group "News" with a source "Daily" of three unread articles, shown in
// the tree.
struct Daily {
  explicit Daily(AppHarness& h) {
    CFeedsManager& m = h.Model();
    group = m.AddGroup(0, u"News")->m_id;
    const CFeedSource* s = m.AddSource(group, u"http://127.0.0.1:9/daily");
    source = s->m_id;
    m.Rename(source, u"Daily");
    for (const char16_t* title : {u"Apples", u"Bananas", u"Cherries"}) {
      CFeed* a = CModelWriter(m).NewFeed();
      a->m_title = title;
      a->m_channel = u"Daily";
      a->m_description = u"<p>About <i>" + std::u16string(title) + u"</i></p>";
      // Through the model's operation, so that the panes follow.
      m.PlaceArticle(a->m_id, source);
      articles.push_back(a->m_id);
    }
  }
  ObjectId group = 0;
  ObjectId source = 0;
  IdList articles;
};

QAction* Find(QMenu* menu, const QString& text) {
  for (QAction* a : menu->actions())
    if (a->text() == text) return a;
  return nullptr;
}

void SelectNode(AppHarness& h, ObjectId id) {
  CSourceListView* tree = h.Frame().SourceTree();
  tree->SelectItem(tree->FindItem(id));
}

TEST(ReadingMenuTest, TheViewMenuNamesEveryKeyAndFollowsTheSelection) {
  AppHarness h;
  ASSERT_TRUE(h.Start());
  const Daily d(h);
  QMenu* view = h.Frame().ViewMenu();
  ASSERT_NE(view, nullptr);
  // Between File and Options.
  const QList<QAction*> bar = h.Frame().menuBar()->actions();
  ASSERT_GE(bar.size(), 3);
  EXPECT_EQ(bar[0]->text(), QStringLiteral("&File"));
  EXPECT_EQ(bar[1]->menu(), view);
  EXPECT_EQ(bar[2]->text(), QStringLiteral("&Options"));

  std::vector<QString> texts;
  for (QAction* a : view->actions()) {
    texts.push_back(a->isSeparator() ? QStringLiteral("-")
                                     : a->text() + QLatin1Char('|') + a->shortcut().toString());
  }
  const std::vector<QString> expected = {
      QStringLiteral("&Next unread article\tN|"),  QStringLiteral("&Previous unread article\tP|"),
      QStringLiteral("&Read on\tSpace|"),          QStringLiteral("-"),
      QStringLiteral("&Reader view|Ctrl+R"),        QStringLiteral("-"),
      QStringLiteral("&Filter articles...|Ctrl+F"), QStringLiteral("-"),
      QStringLiteral("&Mark all as read|Ctrl+Shift+A"), QStringLiteral("&Update this feed|")};
  EXPECT_EQ(texts, expected);

  QAction* markAll = Find(view, QStringLiteral("&Mark all as read"));
  ASSERT_NE(markAll, nullptr);
  SelectNode(h, 0);
  EXPECT_FALSE(markAll->isEnabled());
  SelectNode(h, d.group);
  EXPECT_TRUE(markAll->isEnabled());
  ASSERT_NE(Find(view, QStringLiteral("&Update this group")), nullptr);

  // "Update this group" goes to the updater forced, for the group's source.
  h.updater.updateSource = [](CFeedsManager&, ObjectId, bool) { return false; };
  Find(view, QStringLiteral("&Update this group"))->trigger();
  EXPECT_EQ(h.updater.updateSourceCalls, (std::vector<std::pair<ObjectId, bool>>{{d.source, true}}));
}

TEST(ReadingMenuTest, CtrlShiftAMarksTheSelectedNodeRead) {
  AppHarness h;
  ASSERT_TRUE(h.Start());
  const Daily d(h);
  h.Frame().activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&h.Frame()));
  SelectNode(h, d.source);
  h.Frame().ArticleList()->setFocus();
  const int savesBefore = h.saves;
  QTest::keyClick(h.Frame().ArticleList(), Qt::Key_A, Qt::ControlModifier | Qt::ShiftModifier);
  for (ObjectId id : d.articles) EXPECT_TRUE(h.Model().GetFeed(id)->m_read);
  EXPECT_EQ(h.Frame().SourceTree()->FindItem(d.source)->text(0), QStringLiteral("Daily (0 / 3)"));
  // The save is scheduled, as for any change.
  EXPECT_TRUE(h.Frame().IsFrameTimerActive(FrameTimer::Save));
  EXPECT_EQ(h.saves, savesBefore);
}

TEST(ReadingMenuTest, CtrlFFiltersAsYouTypeAndEscapeClears) {
  AppHarness h;
  ASSERT_TRUE(h.Start());
  const Daily d(h);
  h.Frame().activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&h.Frame()));
  SelectNode(h, d.source);
  CFeedListView* list = h.Frame().ArticleList();
  CArticleFilterBar* bar = h.Frame().FilterBar();
  ASSERT_FALSE(bar->isVisible());
  list->ReadRow(list->FindRow(d.articles[0]));

  list->setFocus();
  QTest::keyClick(list, Qt::Key_F, Qt::ControlModifier);
  ASSERT_TRUE(bar->isVisible());
  EXPECT_TRUE(bar->Line()->hasFocus());
  QTest::keyClicks(bar->Line(), QStringLiteral("BA"));  // Bananas, case aside
  EXPECT_EQ(list->ArticleModel()->Ids(), IdList{d.articles[1]});
  QTest::keyClick(bar->Line(), Qt::Key_Backspace);
  QTest::keyClick(bar->Line(), Qt::Key_Backspace);
  QTest::keyClicks(bar->Line(), QStringLiteral("a"));
  EXPECT_EQ(list->ArticleModel()->Ids().size(), 3u);  // "a": also "About" in every text
  bar->Line()->setText(QStringLiteral("cherries"));
  EXPECT_EQ(list->ArticleModel()->Ids(), IdList{d.articles[2]});

  // The toggle beside it.
  h.Model().MarkRead({d.articles[2]}, true);
  bar->UnreadOnlyBox()->setChecked(true);
  EXPECT_TRUE(list->ArticleModel()->Ids().empty());

  // Escape in the bar clears it and hides it, and stops no page loading.
  QSignalSpy stopped(&h.Frame(), &CMainFrame::articleLoadingStopped);
  QTest::keyClick(bar->Line(), Qt::Key_Escape);
  EXPECT_FALSE(bar->isVisible());
  EXPECT_TRUE(bar->Text().isEmpty());
  EXPECT_FALSE(bar->UnreadOnly());
  EXPECT_EQ(list->ArticleModel()->Ids().size(), 3u);
  EXPECT_EQ(stopped.count(), 0);
  // The article being read when the filter opened, which the filter took
  // away, is selected and shown again.
  EXPECT_EQ(list->SelectedArticles(), IdList{d.articles[0]});
  EXPECT_EQ(h.Frame().ArticleView()->CurrentFeedId(), d.articles[0]);
  // One picked among the matches stays.
  QTest::keyClick(list, Qt::Key_F, Qt::ControlModifier);
  bar->Line()->setText(QStringLiteral("cherries"));
  list->ReadRow(list->FindRow(d.articles[2]));
  QTest::keyClick(bar->Line(), Qt::Key_Escape);
  EXPECT_EQ(list->SelectedArticles(), IdList{d.articles[2]});
  // Elsewhere Escape still stops the page loading.
  QTest::keyClick(list, Qt::Key_Escape);
  EXPECT_EQ(stopped.count(), 1);
}

TEST(ReadingMenuTest, TheSelectionComesBackAfterARestart) {
  AppHarness h;
  h.realDataFile = true;
  ASSERT_TRUE(h.Start());
  Daily d(h);
  SelectNode(h, d.source);
  CFeedListView* list = h.Frame().ArticleList();
  list->ReadRow(list->FindRow(d.articles[1]));
  h.Frame().ScheduleSave();
  h.Frame().OnTimer(FrameTimer::Save);
  h.Doc().m_settingsManager.m_settings.Get(setting::kConfirmExit).bValue = false;
  h.Frame().OnExit();
  ASSERT_TRUE(h.Frame().IsClosed());
  EXPECT_EQ(UiTestScope::Stored(test::kWindow, QStringLiteral("SelectedNode")).toLongLong(),
            static_cast<int32_t>(d.source));

  ASSERT_TRUE(h.Start());
  EXPECT_EQ(h.Frame().SourceTree()->SelectedNode(), std::optional<ObjectId>(d.source));
  list = h.Frame().ArticleList();
  EXPECT_EQ(list->SelectedArticles(), IdList{d.articles[1]});

  // A node that has gone leaves the usual start: the root item, no article.
  h.Model().DeleteSource(d.group, d.source);
  h.Frame().Commands().Rename(d.group, QString());  // brings the panes in line
  h.Frame().ScheduleSave();
  h.Frame().OnTimer(FrameTimer::Save);
  UiTestScope::Store(test::kWindow, QStringLiteral("SelectedNode"), static_cast<int32_t>(d.source));
  ASSERT_TRUE(h.Start());
  EXPECT_NE(h.Frame().SourceTree()->SelectedNode(), std::optional<ObjectId>(d.source));
  EXPECT_TRUE(h.Frame().ArticleList()->SelectedArticles().empty());
}

}  // namespace
}  // namespace qb
