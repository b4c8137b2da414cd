#include "app/Notifier.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include "app/SettingsManager.h"
#include "model/ModelWriter.h"
#include "tests/app/AppHarness.h"
#include "tests/app/PrivateBus.h"
#include "tests/support/UpdatePasses.h"
#include "views/SourceListView.h"

namespace qb {
namespace {

using test::AppHarness;
using test::UiTestScope;

TEST(NotifierTextTest, NamesTheFeedsWithTheMostNewsFirst) {
  struct Case {
    std::vector<NamedNews> news;
    const char* text;
  };
  const Case cases[] = {
      {{}, ""},
      {{{"Example", 0}}, ""},
      {{{"Example", 1}}, "1 new article in Example"},
      {{{"Example", 3}, {"Quiet", 0}}, "3 new articles in Example"},
      {{{"A", 2}, {"B", 3}}, "5 new articles in 2 feeds: B and A"},
      {{{"A", 1}, {"B", 1}, {"C", 4}}, "6 new articles in 3 feeds: C, A and B"},
      {{{"A", 1}, {"B", 5}, {"C", 1}, {"D", 2}, {"E", 3}},
       "12 new articles in 5 feeds: B, E, D and 2 more"},
      {{{"A", 2}, {"B", 2}, {"C", 2}, {"D", 2}}, "8 new articles in 4 feeds: A, B, C and 1 more"},
  };
  for (const Case& c : cases) EXPECT_EQ(NewArticlesText(c.news), QString::fromUtf8(c.text)) << c.text;
}

TEST(NotifierTextTest, TrayTipCountsTheUnreadArticles) {
  struct Case {
    bool news;
    int unread;
    const char* tip;
  };
  const Case cases[] = {
      {false, 0, "Quillbend"},
      {false, 1, "Quillbend: 1 unread article"},
      {false, 42, "Quillbend: 42 unread articles"},
      {true, 0, "Quillbend: You have new feeds"},
      {true, 7, "Quillbend: You have new feeds (7 unread articles)"},
      {true, 2147483647, "Quillbend: You have new feeds (2147483647 unread articles)"},
  };
  for (const Case& c : cases) {
    const QString tip = TrayToolTip(c.news, c.unread);
    EXPECT_EQ(tip, QString::fromUtf8(c.tip));
    EXPECT_LE(tip.size(), 63);
  }
}

// A model with two sources in two groups.
struct NewsModel {
  NewsModel() {
    m.SeedRandom(11);
    const CGroup* g = m.AddGroup(0, u"G");
    CGroup* sub = CModelWriter(m).Group(m.AddGroup(g->m_id, u"Sub")->m_id);
    a = m.AddSource(g->m_id, u"http://a.example/")->m_id;
    b = m.AddSource(sub->m_id, u"http://b.example/")->m_id;
    CModelWriter(m).Source(a)->m_title = u"A &amp; Co";
    CModelWriter(m).Source(b)->m_title = u"";
  }
  void Add(ObjectId source, int n, bool read = false) {
    for (int i = 0; i < n; ++i) {
      CFeed* f = CModelWriter(m).NewFeed();
      f->m_read = read;
      CModelWriter(m).Source(source)->m_articles.push_back(f->m_id);
    }
  }
  CFeedsManager m;
  ObjectId a = 0;
  ObjectId b = 0;
};

TEST(NotifierTest, NewsSinceCountsWhatAPassAppended) {
  NewsModel n;
  n.Add(n.a, 2, true);
  const ArticleCounts before = CountArticlesPerSource(n.m);
  EXPECT_EQ(before.at(n.a), 2u);
  EXPECT_EQ(before.at(n.b), 0u);
  EXPECT_TRUE(NewsSince(n.m, before).empty());
  n.Add(n.a, 3);
  n.Add(n.b, 1);
  // A source added during the pass counts all its articles.
  const CFeedSource* c = n.m.AddSource(n.m.RootGroups()[0], u"http://c.example/");
  n.Add(c->m_id, 4);
  const std::vector<SourceNews> news = NewsSince(n.m, before);
  ASSERT_EQ(news.size(), 3u);
  EXPECT_EQ(news[0].source, n.a);
  EXPECT_EQ(news[0].newArticles, 3);
  EXPECT_EQ(news[1].source, c->m_id);
  EXPECT_EQ(news[1].newArticles, 4);
  EXPECT_EQ(news[2].source, n.b);
  EXPECT_EQ(news[2].newArticles, 1);
  // The lists were written directly: counted once the indexes are rebuilt.
  n.m.RebuildIndexes();
  EXPECT_EQ(CountUnreadArticles(n.m), 8);
}

// The unread count follows every operation that changes what is unread,
// in every group of the tree, without a rebuild.
TEST(NotifierTest, UnreadCountFollowsTheOperations) {
  NewsModel n;
  n.Add(n.a, 2);
  n.Add(n.b, 3);
  n.m.RebuildIndexes();
  ASSERT_EQ(CountUnreadArticles(n.m), 5);
  const IdList inA = n.m.GetFeedSource(n.a)->m_articles;
  const IdList inB = n.m.GetFeedSource(n.b)->m_articles;
  n.m.MarkRead({inA[0], inB[0]}, true);
  EXPECT_EQ(CountUnreadArticles(n.m), 3);
  n.m.MarkRead({inB[0]}, false);
  EXPECT_EQ(CountUnreadArticles(n.m), 4);
  n.m.DeleteArticles({inB[1]});
  EXPECT_EQ(CountUnreadArticles(n.m), 3);
  // New articles of an update, and a second root group.
  DeliverArticles(n.m, n.b, {Candidate(u"new in b")});
  EXPECT_EQ(CountUnreadArticles(n.m), 4);
  CGroup* other = CModelWriter(n.m).Group(n.m.AddGroup(0, u"Other")->m_id);
  const ObjectId c = n.m.AddSource(other->m_id, u"http://c.example/")->m_id;
  DeliverArticles(n.m, c, {Candidate(u"new in c")});
  EXPECT_EQ(CountUnreadArticles(n.m), 5);
  n.m.DeleteSource(other->m_id, c);
  EXPECT_EQ(CountUnreadArticles(n.m), 4);
}

TEST(NotifierTest, OnePassGivesOneNoticeNamingItsFeeds) {
  UiTestScope scope;
  NewsModel n;
  CRSSReaderSettingsManager settings;
  settings.LoadSave(true);
  CNotifier notifier(n.m, settings, [] { return nullptr; });
  QStringList sent;
  notifier.SetSender([&](const QString& text) { sent << text; });

  notifier.UpdatePassFinished({{n.a, 2}});
  // Titles are shown decoded; a source without a title by its address;
  // sources that are gone or brought nothing are left out.
  notifier.UpdatePassFinished({{n.a, 1}, {n.b, 3}, {0xDEAD, 9}, {n.a, 0}});
  notifier.UpdatePassFinished({{0xDEAD, 9}});
  notifier.UpdatePassFinished({});
  EXPECT_EQ(sent, (QStringList{QStringLiteral("2 new articles in A & Co"),
                               QStringLiteral("4 new articles in 2 feeds: http://b.example/ and A & Co")}));

  settings.m_settings.WriteBool(setting::kNotifyNewArticles, false);
  notifier.UpdatePassFinished({{n.a, 2}});
  EXPECT_EQ(sent.size(), 2);
}

// The notification service on a private bus, as a desktop runs it.
class FakeNotifications : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

 public:
  struct Call {
    QString app;
    uint replaces = 0;
    QString icon;
    QString summary;
    QString body;
    QStringList actions;
    QVariantMap hints;
    int timeout = 0;
  };
  std::vector<Call> calls;

 public slots:
  uint Notify(const QString& app, uint replaces, const QString& icon, const QString& summary,
              const QString& body, const QStringList& actions, const QVariantMap& hints, int timeout) {
    calls.push_back({app, replaces, icon, summary, body, actions, hints, timeout});
    return replaces != 0 ? replaces : 42;
  }
};

TEST(NotifierTest, SpeaksTheFreedesktopNotificationProtocol) {
  test::PrivateBus bus;
  if (bus.address.isEmpty()) GTEST_SKIP() << "dbus-daemon is not installed";
  QDBusConnection service = bus.Connect(QStringLiteral("qbtest-service"));
  ASSERT_TRUE(service.isConnected());
  FakeNotifications fake;
  ASSERT_TRUE(service.registerService(QStringLiteral("org.freedesktop.Notifications")));
  ASSERT_TRUE(service.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &fake,
                                     QDBusConnection::ExportAllSlots));
  ASSERT_TRUE(bus.Connect(QStringLiteral("qbtest-client")).isConnected());

  UiTestScope scope;
  NewsModel n;
  CRSSReaderSettingsManager settings;
  settings.LoadSave(true);
  CNotifier notifier(n.m, settings, [] { return nullptr; });
  notifier.UseBus(QStringLiteral("qbtest-client"));
  QSignalSpy activated(&notifier, &CNotifier::activated);

  notifier.UpdatePassFinished({{n.a, 3}});
  ASSERT_TRUE(QTest::qWaitFor([&] { return fake.calls.size() == 1; }, 5000));
  const FakeNotifications::Call& call = fake.calls[0];
  EXPECT_EQ(call.app, QStringLiteral("Quillbend"));
  EXPECT_EQ(call.replaces, 0u);
  EXPECT_EQ(call.icon, QStringLiteral("net.velmorant.Quillbend"));
  EXPECT_EQ(call.summary, QStringLiteral("Quillbend"));
  EXPECT_EQ(call.body, QStringLiteral("3 new articles in A & Co"));
  EXPECT_TRUE(call.actions.contains(QStringLiteral("default")));
  EXPECT_EQ(call.hints.value(QStringLiteral("desktop-entry")).toString(), QStringLiteral("net.velmorant.Quillbend"));
  EXPECT_EQ(call.timeout, -1);

  // The next pass replaces the notice instead of adding a second one.
  ASSERT_TRUE(QTest::qWaitFor([&] { return notifier.LastNotificationId() == 42; }, 5000));
  notifier.UpdatePassFinished({{n.b, 1}});
  ASSERT_TRUE(QTest::qWaitFor([&] { return fake.calls.size() == 2; }, 5000));
  EXPECT_EQ(fake.calls[1].replaces, 42u);

  // Clicking our notice brings the window; another program's does not.
  auto invoke = [&](uint id) {
    QDBusMessage signal = QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/Notifications"),
                                                     QStringLiteral("org.freedesktop.Notifications"),
                                                     QStringLiteral("ActionInvoked"));
    signal << id << QStringLiteral("default");
    service.send(signal);
  };
  invoke(7);
  invoke(42);
  ASSERT_TRUE(activated.wait(5000));
  QCoreApplication::processEvents();
  EXPECT_EQ(activated.size(), 1);
}

// The automatic update of the window, with an update cycle that appends.
TEST(NotifierTest, OnlyAnAutomaticUpdateWithNewsNotifies) {
  AppHarness h;
  UiTestScope::Store(test::kSettings, QStringLiteral("FirstRun"), 0);
  ASSERT_TRUE(h.Start());
  CMainFrame& f = h.Frame();
  QStringList sent;
  f.Notifier()->SetSender([&](const QString& text) { sent << text; });
  CFeedSource* source =
      CModelWriter(h.Model()).Source(h.Model().AddSource(h.Model().RootGroups()[0], u"http://n.example/")->m_id);
  source->m_title = u"Night News";
  const ObjectId id = source->m_id;
  int arriving = 2;
  // The model side of an update, as the engine applies it.
  auto update = [&](CFeedsManager& m, bool) {
    return !DeliverArticles(m, id, std::vector<ArticleCandidate>(static_cast<size_t>(arriving))).empty();
  };
  h.updater.updateAll = update;

  f.OnTimer(FrameTimer::Update);
  EXPECT_EQ(sent, QStringList{QStringLiteral("2 new articles in Night News")});
  f.OnTimer(FrameTimer::Tick);
  EXPECT_EQ(f.TrayTip(), QStringLiteral("Quillbend: You have new feeds (2 unread articles)"));

  arriving = 0;
  f.OnTimer(FrameTimer::Update);
  EXPECT_EQ(sent.size(), 1);
  // "Update all feeds" refreshes the views but neither blinks nor notifies.
  arriving = 1;
  f.SetNewArticles(false);
  f.SourceTree()->UpdateAllFeeds();
  EXPECT_EQ(sent.size(), 1);
  EXPECT_FALSE(f.NewArticles());
  f.OnTimer(FrameTimer::Tick);
  EXPECT_EQ(f.TrayTip(), QStringLiteral("Quillbend: 3 unread articles"));

  // Turned off in the options: the tray still blinks, nothing is sent.
  h.Doc().m_settingsManager.m_settings.WriteBool(setting::kNotifyNewArticles, false);
  f.OnTimer(FrameTimer::Update);
  EXPECT_EQ(sent.size(), 1);
  EXPECT_TRUE(f.NewArticles());
}

}  // namespace
}  // namespace qb

#include "NotifierTest.moc"
