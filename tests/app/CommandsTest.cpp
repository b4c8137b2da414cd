// The tree's commands as the user gives them: through the tree's menus and
// keys, carried out by the command object, with the panes following.
#include "app/Commands.h"

#include <QContextMenuEvent>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include "app/AddGroupDlg.h"
#include "app/AddNewFeedDlg.h"
#include "app/FeedPropertiesDlg.h"
#include "model/ModelWriter.h"
#include "tests/app/AppTestSupport.h"
#include "tests/support/FakeMainFrame.h"
#include "tests/support/UpdatePasses.h"
#include "tests/support/HttpServer.h"
#include "views/ViewText.h"

namespace qb {
namespace {

using test::FakeMainFrame;

class CommandsTest : public ::testing::Test {
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

TEST_F(CommandsTest, DeleteGroupRefusesTheLastRootGroupAndAsksOtherwise) {
  CGroup* only = f.Group(0, u"Only");
  CGroup* sub = f.Group(only->m_id, u"Sub &amp; co");
  f.CreateViews();

  Select(only->m_id);
  Key(Qt::Key_Delete);
  ASSERT_EQ(f.messages.size(), 1u);
  EXPECT_EQ(f.messages[0].icon, MsgIcon::Information);
  EXPECT_EQ(f.messages[0].text,
            QStringLiteral("You cannot delete this; you must have at least one group at the root level."));
  EXPECT_NE(f.model.GetGroup(only->m_id), nullptr);

  // The only sub-group can go, after the question (with the name as stored).
  Select(sub->m_id);
  f.nextAnswer = QMessageBox::No;
  Key(Qt::Key_Delete);
  ASSERT_EQ(f.messages.size(), 2u);
  EXPECT_EQ(f.messages[1].text, QStringLiteral("Are you sure you want to delete 'Sub &amp; co'?"));
  EXPECT_EQ(f.messages[1].buttons, QMessageBox::Yes | QMessageBox::No);
  EXPECT_NE(Item(sub->m_id), nullptr);
  f.nextAnswer = QMessageBox::Yes;
  const ObjectId subId = sub->m_id;
  Key(Qt::Key_Delete);
  EXPECT_EQ(f.model.GetGroup(subId), nullptr);
  EXPECT_EQ(Item(subId), nullptr);
  EXPECT_EQ(f.tree->SelectedNode(), std::optional<ObjectId>(only->m_id));

  // With two root groups a root group is asked for and deleted; the root
  // item becomes selected.
  CGroup* second = f.Group(0, u"Second");
  f.tree->RefreshAll();
  Select(second->m_id);
  const ObjectId secondId = second->m_id;
  Key(Qt::Key_Delete);
  EXPECT_EQ(f.messages.size(), 4u);
  EXPECT_EQ(f.model.GetGroup(secondId), nullptr);
  EXPECT_EQ(f.tree->SelectedNode(), std::optional<ObjectId>(0));

  // Delete on the root item does nothing and asks nothing.
  Key(Qt::Key_Delete);
  EXPECT_EQ(f.messages.size(), 4u);
  EXPECT_EQ(f.model.RootGroups().size(), 1u);
}

TEST_F(CommandsTest, DeleteFeedAsksWithTheTitleAndSelectsTheGroup) {
  CGroup* g = f.Group(0, u"G");
  CFeedSource* s = f.Source(g->m_id, u"A &lt; B");
  CFeed* a = f.Article(s, u"x");
  f.CreateViews();
  Select(s->m_id);
  EXPECT_EQ(f.list->model()->rowCount(), 1);
  const ObjectId sid = s->m_id;
  const ObjectId aid = a->m_id;
  f.chooseInMenu = QStringLiteral("&Delete this feed");
  RightClick(Item(sid));
  ASSERT_EQ(f.messages.size(), 1u);
  EXPECT_EQ(f.messages[0].text, QStringLiteral("Are you sure you want to delete 'A &lt; B'?"));
  EXPECT_EQ(f.model.GetFeedSource(sid), nullptr);
  EXPECT_EQ(f.model.GetFeed(aid), nullptr);
  EXPECT_EQ(Item(sid), nullptr);
  EXPECT_EQ(f.tree->SelectedNode(), std::optional<ObjectId>(g->m_id));
  EXPECT_EQ(f.list->model()->rowCount(), 0);
  EXPECT_GE(f.saves, 1);
}

// The status line gives the stored comms status as it is, and why the last
// attempt failed beside it.
TEST_F(CommandsTest, TheStatusLineSaysWhyTheLastUpdateFailed) {
  CGroup* g = f.Group(0, u"G");
  CFeedSource* failing = f.Source(g->m_id, u"Failing");
  failing->m_commsStatus = u"Comms status: ERROR - unable to download feed contents";
  CFeedSource* fine = f.Source(g->m_id, u"Fine");
  fine->m_commsStatus = u"Comms status: OK";
  f.states[failing->m_id].failure = u"host not found";
  f.CreateViews();
  Select(failing->m_id);
  EXPECT_EQ(f.status.back(), u"Comms status: ERROR - unable to download feed contents (host not found)");
  Select(fine->m_id);
  EXPECT_EQ(f.status.back(), u"Comms status: OK");
}

TEST_F(CommandsTest, F5UpdatesAllButGoesToTheEditorWhileEditing) {
  CGroup* g = f.Group(0, u"G");
  CFeedSource* s = f.Source(g->m_id, u"S");
  s->m_commsStatus = u"Comms status: OK";
  f.CreateViews();
  f.window.show();
  Select(s->m_id);
  f.commands->StopUpdateTimer();
  Key(Qt::Key_F5);
  ASSERT_EQ(f.updateAllCalls, std::vector<bool>{true});
  EXPECT_TRUE(f.commands->UpdateTimerActive());
  EXPECT_EQ(f.status.back(), u"Comms status: OK");

  f.tree->StartRename();
  auto* edit = f.tree->viewport()->findChild<QLineEdit*>();
  ASSERT_NE(edit, nullptr);
  QTest::keyClick(edit, Qt::Key_F5);
  EXPECT_EQ(f.updateAllCalls.size(), 1u);
  EXPECT_TRUE(f.tree->IsEditing());
  QTest::keyClick(edit, Qt::Key_Escape);
}

TEST_F(CommandsTest, UpdateAllWithNewsRefreshesTreeAndList) {
  CGroup* g = f.Group(0, u"G");
  CFeedSource* s = f.Source(g->m_id, u"S");
  f.CreateViews();
  Select(s->m_id);
  f.updateAll = [&](CFeedsManager& m, bool) {
    // As the engine applies a document: through the model's operation.
    return !DeliverArticles(m, s->m_id, {Candidate(u"new")}).empty();
  };
  f.tree->UpdateAllFeeds();
  EXPECT_EQ(Item(s->m_id)->text(0), QStringLiteral("S (1 / 1)"));
  EXPECT_EQ(f.list->model()->rowCount(), 1);
  EXPECT_EQ(f.saves, 1);
}

TEST_F(CommandsTest, AddFeedNeedsAGroupAndPassesTheTrimmedGroupName) {
  CGroup* g = f.Group(0, u"  My (news) group ");
  CFeedSource* existing = f.Source(g->m_id, u"Old");
  f.Article(existing, u"a");
  f.CreateViews();
  Select(existing->m_id);
  f.tree->AddFeed();
  EXPECT_EQ(f.dialogs, 0);

  QString groupName;
  bool existingRefused = false;
  f.answerDialog = [&](QDialog& dialog) {
    auto& dlg = dynamic_cast<CAddNewFeedDlg&>(dialog);
    groupName = dlg.m_strGroupName;
    dlg.show();
    dlg.UrlEdit()->setText(QStringLiteral("http://example.com/Old"));
    dlg.accept();
    existingRefused = dlg.isVisible();
    dlg.m_strUrl = QStringLiteral("http://new.example/feed");
    return int(QDialog::Accepted);
  };
  Select(g->m_id);
  f.tree->AddFeed();
  EXPECT_EQ(groupName, QStringLiteral("My"));
  EXPECT_TRUE(existingRefused);
  ASSERT_EQ(g->m_sources.size(), 2u);
  const CFeedSource* added = f.model.GetFeedSource(g->m_sources[1]);
  EXPECT_EQ(added->m_url, u"http://new.example/feed");
  EXPECT_EQ(added->m_title, u"http://new.example/feed");
  EXPECT_TRUE(added->m_autoName);
  ASSERT_EQ(f.updateSourceCalls.size(), 1u);
  EXPECT_EQ(f.updateSourceCalls[0], std::make_pair(added->m_id, true));
  EXPECT_NE(Item(added->m_id), nullptr);
}

// The feed the user added from the dialog is selected and brought into view
// at the end of a long group; one handed over by the desktop leaves the
// selection where the user was reading.
TEST_F(CommandsTest, AnAddedFeedIsSelectedAndShownUnlessTheDesktopHandedItOver) {
  CGroup* g = f.Group(0, u"G");
  std::vector<ObjectId> sources;
  for (int i = 0; i < 60; ++i) {
    sources.push_back(f.Source(g->m_id, u"S" + FromQString(QString::number(i)))->m_id);
  }
  f.CreateViews();
  f.window.show();
  Select(sources[0]);
  f.tree->scrollToItem(Item(sources[0]));
  int added = 0;
  f.answerDialog = [&](QDialog& dialog) {
    dynamic_cast<CAddNewFeedDlg&>(dialog).m_strUrl =
        QStringLiteral("http://new.example/feed%1").arg(++added);
    return int(QDialog::Accepted);
  };
  f.commands->AddFeed(g->m_id, QString(), CCommands::AddFeedOrigin::Desktop);
  ASSERT_EQ(g->m_sources.size(), 61u);
  EXPECT_EQ(f.tree->SelectedNode(), std::optional<ObjectId>(sources[0]));

  f.commands->AddFeed(g->m_id);  // the File menu's "Add feed..."
  ASSERT_EQ(g->m_sources.size(), 62u);
  const ObjectId newest = g->m_sources.back();
  EXPECT_EQ(f.tree->SelectedNode(), std::optional<ObjectId>(newest));
  const QRect shown = f.tree->visualItemRect(Item(newest));
  EXPECT_GE(shown.top(), 0);
  EXPECT_LE(shown.bottom(), f.tree->viewport()->height()) << shown.y();
}

TEST_F(CommandsTest, AddGroupAtRootOrInsideTheSelectedGroup) {
  CGroup* g = f.Group(0, u"G");
  f.CreateViews();
  f.answerDialog = [](QDialog& dialog) {
    dynamic_cast<CAddGroupDlg&>(dialog).m_strName = QStringLiteral(" Fresh ");
    return int(QDialog::Accepted);
  };
  f.tree->AddGroup();  // root selected
  ASSERT_EQ(f.model.RootGroups().size(), 2u);
  const CGroup* atRoot = f.model.GetGroup(f.model.RootGroups()[1]);
  EXPECT_EQ(atRoot->m_name, u"Fresh");
  EXPECT_EQ(Item(atRoot->m_id)->parent(), f.tree->RootItem());

  Select(g->m_id);
  f.chooseInMenu = QStringLiteral("Add new &sub-group");
  RightClick(Item(g->m_id));
  ASSERT_EQ(g->m_childGroups.size(), 1u);
  EXPECT_EQ(Item(g->m_childGroups[0])->parent(), Item(g->m_id));

  // An empty name adds nothing.
  f.answerDialog = [](QDialog&) { return int(QDialog::Accepted); };
  f.tree->AddGroup();
  EXPECT_EQ(g->m_childGroups.size(), 1u);
}

TEST_F(CommandsTest, PropertiesApplyTheRefreshRateAndClearHistoryAsks) {
  CGroup* g = f.Group(0, u"G");
  CFeedSource* s = f.Source(g->m_id, u"S");
  s->m_refreshInterval = 30;
  s->m_commsStatus = u"Comms status: OK";
  CFeed* a = f.Article(s, u"a");
  a->m_key = u"k";
  s->AddToHistory(*a, CDateTime::FromTime(0));
  f.CreateViews();
  Select(s->m_id);

  int shownRate = 0;
  QString shownStatus;
  f.answerDialog = [&](QDialog& dialog) {
    auto& dlg = dynamic_cast<CFeedPropertiesDlg&>(dialog);
    shownRate = dlg.m_nRefreshRate;
    shownStatus = dlg.m_strLastUpdate;
    dlg.m_nRefreshRate = 90;
    return int(QDialog::Accepted);
  };
  f.tree->ShowProperties();
  EXPECT_EQ(shownRate, 30);
  EXPECT_EQ(shownStatus, QStringLiteral("Comms status: OK"));
  EXPECT_EQ(s->m_refreshInterval, 90);
  EXPECT_EQ(f.saves, 1);

  for (QMessageBox::StandardButton answer : {QMessageBox::No, QMessageBox::Cancel}) {
    f.nextAnswer = answer;
    f.tree->ClearHistory();
    EXPECT_TRUE(s->IsInHistory(u"k"));
  }
  f.nextAnswer = QMessageBox::Yes;
  const size_t before = f.messages.size();
  f.tree->ClearHistory();
  EXPECT_FALSE(s->IsInHistory(u"k"));
  ASSERT_EQ(f.messages.size(), before + 2);
  EXPECT_EQ(f.messages[before].buttons, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
  EXPECT_EQ(f.messages.back().text, QStringLiteral("History cleared."));
  EXPECT_EQ(f.saves, 2) << "the refresh rate, then the cleared history";
}

TEST_F(CommandsTest, PropertiesShowHowTheLastUpdateWentAndChangeTheAddress) {
  CGroup* g = f.Group(0, u"G");
  CFeedSource* s = f.Source(g->m_id, u"S");
  f.Source(g->m_id, u"T");  // http://example.com/T
  SourceUpdateState state;
  state.failure = u"HTTP status 404";
  state.lastAttempt = 1'800'000'000;
  state.lastSuccess = 1'799'000'000;
  f.states[s->m_id] = state;
  f.CreateViews();
  Select(s->m_id);

  QString lastUpdated;
  QString lastError;
  bool duplicateRefused = false;
  f.answerDialog = [&](QDialog& dialog) {
    auto& dlg = dynamic_cast<CFeedPropertiesDlg&>(dialog);
    lastUpdated = dlg.m_strLastUpdated;
    lastError = dlg.m_strLastError;
    dlg.show();
    dlg.UrlEdit()->setText(QStringLiteral("http://example.com/T"));
    dlg.accept();
    duplicateRefused = dlg.isVisible();
    dlg.UrlEdit()->setText(QStringLiteral("example.com/S2"));
    dlg.accept();
    return dlg.result();
  };
  f.tree->ShowProperties();
  EXPECT_EQ(lastUpdated, LastUpdatedText(state));
  EXPECT_EQ(lastError, LastErrorText(state));
  EXPECT_TRUE(lastError.startsWith(QStringLiteral("HTTP status 404")));
  EXPECT_TRUE(duplicateRefused);
  EXPECT_EQ(s->m_url, u"https://example.com/S2");
  EXPECT_EQ(f.forgotten, IdList{s->m_id});
  ASSERT_EQ(f.updateSourceCalls.size(), 1u);
  EXPECT_EQ(f.updateSourceCalls[0], std::make_pair(s->m_id, true));
  EXPECT_EQ(f.saves, 1);

  // The address as it was: nothing is fetched or forgotten.
  f.answerDialog = [](QDialog&) { return int(QDialog::Accepted); };
  f.tree->ShowProperties();
  EXPECT_EQ(s->m_url, u"https://example.com/S2");
  EXPECT_EQ(f.forgotten.size(), 1u);
  EXPECT_EQ(f.updateSourceCalls.size(), 1u);
}

TEST_F(CommandsTest, AddressesAreCleanedOnceAndDuplicatesRefusedInTheDialog) {
  test::BypassProxyForLoopback();
  test::HttpServer server;
  server.Set("/New", test::HttpResponse::Ok("<rss><channel><title>N</title></channel></rss>"));
  const QString fresh = QString::fromStdString(server.Url("/New"));
  CGroup* g = f.Group(0, u"G");
  f.Source(g->m_id, u"Old");  // http://example.com/Old
  f.CreateViews();
  Select(g->m_id);
  struct Case {
    QString typed;
    bool refused;
  };
  const Case cases[] = {
      {QStringLiteral(" http://example.com/Old"), true},
      {QStringLiteral("http://example.com/Old\t "), true},
      {QStringLiteral("  ") + fresh + QStringLiteral(" "), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typed.toStdString());
    f.messages.clear();
    bool stayedOpen = false;
    f.answerDialog = [&](QDialog& dialog) {
      auto& dlg = dynamic_cast<CAddNewFeedDlg&>(dialog);
      dlg.show();
      dlg.UrlEdit()->setText(c.typed);
      dlg.accept();
      EXPECT_TRUE(test::WaitUntil([&] { return !dlg.Searching(); }));
      stayedOpen = dlg.isVisible();
      return dlg.result();
    };
    const size_t before = g->m_sources.size();
    f.tree->AddFeed();
    EXPECT_EQ(stayedOpen, c.refused);
    if (c.refused) {
      ASSERT_EQ(f.messages.size(), 1u);
      EXPECT_EQ(f.messages[0].text, QStringLiteral("A feed with that URL already exists. Choose another URL."));
      EXPECT_EQ(g->m_sources.size(), before);
    } else {
      ASSERT_EQ(g->m_sources.size(), before + 1);
      EXPECT_EQ(f.model.GetFeedSource(g->m_sources.back())->m_url, FromQString(fresh));
    }
  }
}

// Whatever a tree command changes, the panes follow the model's record:
// the tree is never rebuilt, the list only when the command moves the
// tree's selection to another node, and each command saves once.
TEST_F(CommandsTest, ACommandFromTheTreeRebuildsNoPaneAndSavesOnce) {
  CGroup* a = f.Group(0, u"A");
  CGroup* b = f.Group(0, u"B");
  CFeedSource* s = f.Source(a->m_id, u"S");
  CFeedSource* t = f.Source(a->m_id, u"T");
  f.Article(s, u"one");
  const ObjectId two = f.Article(t, u"two")->m_id;
  f.CreateViews(true);
  // Selecting and dragging refresh the list by themselves, before the command.
  struct Case {
    const char* name;
    std::function<void()> prepare;
    std::function<void()> command;
    int listRebuilds;
    std::function<void()> check;
  };
  const Case cases[] = {
      {"rename", [&] { Select(s->m_id); },
       [&] {
         f.tree->StartRename();
         auto* edit = f.tree->viewport()->findChild<QLineEdit*>();
         ASSERT_NE(edit, nullptr);
         edit->setText(QStringLiteral("Renamed"));
         QTest::keyClick(edit, Qt::Key_Return);
         QCoreApplication::processEvents();
       },
       0, [&] { EXPECT_EQ(Item(s->m_id)->text(0), QStringLiteral("Renamed (1 / 1)")); }},
      {"drop",
       [&] {
         f.tree->BeginDrag(Item(t->m_id));
         f.tree->DragOver(Item(b->m_id));
       },
       [&] { f.tree->Drop(Item(b->m_id)); }, 0,
       [&] {
         // The list shows the target group, which now holds the article.
         EXPECT_EQ(Item(t->m_id)->parent(), Item(b->m_id));
         EXPECT_EQ(f.list->ArticleModel()->Ids(), IdList{two});
       }},
      {"delete the selected source", [&] { Select(t->m_id); }, [&] { Key(Qt::Key_Delete); }, 1,
       [&] {
         EXPECT_EQ(f.tree->SelectedNode(), std::optional<ObjectId>(b->m_id));
         EXPECT_EQ(Item(b->m_id)->childCount(), 0);
       }},
      {"add a group", [&] { Select(a->m_id); },
       [&] {
         f.answerDialog = [](QDialog& dialog) {
           dynamic_cast<CAddGroupDlg&>(dialog).m_strName = QStringLiteral("New");
           return int(QDialog::Accepted);
         };
         f.tree->AddGroup();
       },
       1, [&] { EXPECT_EQ(Item(*f.tree->SelectedNode())->text(0), QStringLiteral("New")); }},
  };
  f.window.show();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    c.prepare();
    QCoreApplication::processEvents();
    QSignalSpy tree(f.tree, &CSourceListView::refreshed);
    QSignalSpy list(f.list, &CFeedListView::refreshed);
    const int saves = f.saves;
    c.command();
    EXPECT_EQ(tree.count(), 0);
    EXPECT_EQ(list.count(), c.listRebuilds);
    EXPECT_EQ(f.saves, saves + 1);
    c.check();
  }
  EXPECT_EQ(s->m_title, u"Renamed");
  EXPECT_EQ(f.model.GetFeedSource(t->m_id), nullptr);
  EXPECT_EQ(a->m_childGroups.size(), 1u);
}

}  // namespace
}  // namespace qb

namespace qb {
namespace {

// Retention set in Feed Properties and in Options goes through the model:
// old read articles go at once, unread ones and every key stay, and the
// change is saved.
TEST_F(CommandsTest, RetentionFromPropertiesAndOptionsDeletesOldReadArticles) {
  CGroup* g = f.Group(0, u"G");
  CFeedSource* s = f.Source(g->m_id, u"S");
  CFeedSource* t = f.Source(g->m_id, u"T");
  const int64_t now = f.model.Clock().CurrentTime();
  auto add = [&](CFeedSource* source, const char16_t* key, int daysAgo, bool read) {
    CFeed* a = f.Article(source, key, read, CDateTime::FromTime(now - int64_t{daysAgo} * 86400));
    a->m_key = key;
    source->AddToHistory(*a, CDateTime::FromTime(now - int64_t{daysAgo} * 86400));
    return a->m_id;
  };
  const ObjectId oldRead = add(s, u"s-old-read", 100, true);
  const ObjectId oldUnread = add(s, u"s-old-unread", 100, false);
  const ObjectId recentRead = add(s, u"s-recent-read", 2, true);
  const ObjectId otherOld = add(t, u"t-old-read", 100, true);
  f.CreateViews();
  Select(s->m_id);
  EXPECT_EQ(f.list->ArticleModel()->rowCount(), 3);

  int shown = 1;
  f.answerDialog = [&](QDialog& dialog) {
    auto& dlg = dynamic_cast<CFeedPropertiesDlg&>(dialog);
    shown = dlg.m_nRetentionDays;
    dlg.m_nRetentionDays = 30;
    return int(QDialog::Accepted);
  };
  const int saves = f.saves;
  f.tree->ShowProperties();
  EXPECT_EQ(shown, 0) << "off by default";
  EXPECT_EQ(s->m_retentionDays, 30);
  EXPECT_EQ(f.model.GetFeed(oldRead), nullptr);
  EXPECT_NE(f.model.GetFeed(oldUnread), nullptr);
  EXPECT_NE(f.model.GetFeed(recentRead), nullptr);
  EXPECT_NE(f.model.GetFeed(otherOld), nullptr) << "T follows Options, which keeps everything";
  EXPECT_TRUE(s->IsInHistory(u"s-old-read"));
  EXPECT_EQ(f.list->ArticleModel()->rowCount(), 2) << "the list follows";
  EXPECT_GT(f.saves, saves);

  // Options: the library's days, for every feed without its own.
  f.panes->Commands().SetRetentionDays(50);
  EXPECT_EQ(f.model.RetentionDays(), 50);
  EXPECT_EQ(f.model.GetFeed(otherOld), nullptr);
  EXPECT_TRUE(t->IsInHistory(u"t-old-read"));
  EXPECT_NE(f.model.GetFeed(recentRead), nullptr);
  // The feed's own days still hold: nothing else is old enough.
  EXPECT_EQ(f.panes->Commands().ApplyRetention(), 0u);
}

}  // namespace
}  // namespace qb
