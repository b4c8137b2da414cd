// The File menu's OPML commands in the window.
#include <gtest/gtest.h>

#include <QStatusTipEvent>

#include <QFile>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <functional>
#include <optional>
#include <string>

#include "app/Commands.h"
#include "model/ModelWriter.h"
#include "model/TreeOrder.h"
#include "views/SourceListView.h"
#include "views/ViewText.h"

#include "tests/app/AppHarness.h"
#include "tests/support/HttpServer.h"

namespace qb {
namespace {

using test::AppHarness;
using test::UiTestScope;

// A started program past its first run.
bool StartPastFirstRun(AppHarness& h) {
  UiTestScope::Store(test::kSettings, QStringLiteral("FirstRun"), 0);
  return h.Start();
}

TEST(OpmlMenuTest, ImportAddsFeedsFetchesThemOnceAndSummarises) {
  test::BypassProxyForLoopback();
  test::HttpServer server;
  server.Set("/feed", test::HttpResponse::Ok(
                          "<rss><channel><title>Loop News</title><item><title>One</title>"
                          "<guid>1</guid></item></channel></rss>"));
  AppHarness h;
  ASSERT_TRUE(StartPastFirstRun(h));
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("subs.opml"));
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("<opml version=\"1.0\"><body><outline text=\"Tech\"><outline type=\"rss\" xmlUrl=\"" +
             QString::fromStdU16String(server.Url16("/feed")).toUtf8() + "\"/></outline></body></opml>");
  file.close();

  h.Frame().SetOpmlPathAsker([&] { return path; });
  h.Frame().OnImportOpml();
  ASSERT_TRUE(h.WaitForUpdates());
  ASSERT_EQ(h.scope.messages.size(), 1u);
  EXPECT_EQ(h.scope.messages[0].icon, MsgIcon::Information);
  EXPECT_TRUE(h.scope.messages[0].text.contains(QStringLiteral("1 new feed")));
  EXPECT_EQ(server.Requests().size(), 1u) << "each new source is fetched once";
  const CGroup* tech = h.Model().FindRootGroupByName(u"Tech");
  ASSERT_NE(tech, nullptr);
  ASSERT_EQ(tech->m_sources.size(), 1u);
  const CFeedSource* s = h.Model().GetFeedSource(tech->m_sources[0]);
  EXPECT_EQ(s->m_title, u"Loop News") << "auto-name took the channel title";
  EXPECT_EQ(s->m_articles.size(), 1u);
  EXPECT_TRUE(h.Frame().IsFrameTimerActive(FrameTimer::Save));

  // The same file again: nothing new, nothing fetched.
  h.scope.messages.clear();
  h.Frame().OnImportOpml();
  ASSERT_TRUE(h.WaitForUpdates());
  EXPECT_EQ(server.Requests().size(), 1u);
  ASSERT_EQ(h.scope.messages.size(), 1u);
  EXPECT_TRUE(h.scope.messages[0].text.contains(QStringLiteral("1 feed(s) were skipped")));
}

// The tree as the window shows it, one line per node: groups by name,
// sources by address.
std::string TreeOf(const CFeedsManager& m) {
  std::string out;
  std::function<void(ObjectId, int)> walk = [&](ObjectId gid, int depth) {
    const CGroup* g = m.GetGroup(gid);
    out += std::string(depth * 2, ' ') + "G " + QString::fromStdU16String(g->m_name).toStdString() + "\n";
    for (ObjectId c : GroupsInDisplayOrder(m, g->m_childGroups)) walk(c, depth + 1);
    for (ObjectId sid : SourcesInDisplayOrder(m, g->m_sources)) {
      out += std::string(depth * 2 + 2, ' ') + "S " +
             QString::fromStdU16String(m.GetFeedSource(sid)->m_url).toStdString() + "\n";
    }
  };
  for (ObjectId gid : GroupsInDisplayOrder(m, m.RootGroups())) walk(gid, 0);
  return out;
}

// Exported from one install and imported into a fresh one (its welcome
// page selected, as after the first start): the same tree, not one inside
// "All Sources"; a second import adds nothing.
TEST(OpmlMenuTest, AnExportImportsIntoAFreshInstallAsTheSameTree) {
  test::BypassProxyForLoopback();
  test::HttpServer server;
  for (const char* path : {"/a", "/t", "/n"}) {
    server.Set(path, test::HttpResponse::Ok("<rss><channel><title>T</title></channel></rss>"));
  }
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("out.opml"));
  std::string exported;
  {
    AppHarness h;
    ASSERT_TRUE(StartPastFirstRun(h));
    CFeedsManager& m = h.Model();
    const ObjectId all = m.RootGroups()[0];
    const ObjectId tech = m.AddGroup(all, u"Tech")->m_id;
    m.AddSource(tech, server.Url16("/t"));
    m.AddSource(all, server.Url16("/a"));
    m.AddSource(m.AddGroup(0, u"News")->m_id, server.Url16("/n"));
    exported = TreeOf(m);
    h.Frame().SetOpmlPathAsker([&] { return path; });
    h.Frame().OnExportOpml();
  }
  AppHarness fresh;
  UiTestScope::Store(test::kSettings, QStringLiteral("FirstRun"), 1);
  ASSERT_TRUE(fresh.Start());
  const CGroup* all = fresh.Model().GetGroup(fresh.Model().RootGroups()[0]);
  ASSERT_EQ(all->m_sources.size(), 1u) << "the welcome page";
  const ObjectId welcome = all->m_sources[0];
  ASSERT_EQ(fresh.Frame().SourceTree()->SelectedNode(), std::optional<ObjectId>(welcome));
  fresh.Frame().SetOpmlPathAsker([&] { return path; });
  fresh.Frame().OnImportOpml();
  ASSERT_TRUE(fresh.WaitForUpdates());
  // Apart from the welcome page, which has no address to export.
  const std::string welcomeLine = "  S \n";
  std::string imported = TreeOf(fresh.Model());
  ASSERT_NE(imported.find(welcomeLine), std::string::npos) << imported;
  imported.erase(imported.find(welcomeLine), welcomeLine.size());
  EXPECT_EQ(imported, exported);
  fresh.Frame().OnImportOpml();
  ASSERT_TRUE(fresh.WaitForUpdates());
  EXPECT_EQ(TreeOf(fresh.Model()).size(), imported.size() + welcomeLine.size());
}

QString WriteOpml(const QTemporaryDir& dir, const QString& name, const QByteArray& body) {
  const QString path = dir.filePath(name);
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly)) return {};
  file.write("<?xml version=\"1.0\"?><opml version=\"2.0\"><head/><body>" + body + "</body></opml>");
  return path;
}

// The file's outlines go where the tree's selection says, with the names the
// file gives; only a feed without one is named by its channel later.
TEST(OpmlMenuTest, ImportPlacesOutlinesByTheSelectionAndKeepsTheirTitles) {
  AppHarness h;
  h.updater.updateSource = [](CFeedsManager&, ObjectId, bool) { return false; };
  ASSERT_TRUE(StartPastFirstRun(h));
  CFeedsManager& model = h.Model();
  const ObjectId first = model.RootGroups()[0];
  const ObjectId second = model.AddGroup(0, u"Second")->m_id;
  const ObjectId inner = model.AddGroup(second, u"Inner")->m_id;
  const ObjectId held = model.AddSource(inner, u"http://held.example/rss")->m_id;
  CSourceListView* tree = h.Frame().SourceTree();
  tree->RefreshAll();
  QTemporaryDir dir;

  enum class Select { Group, Source, Root, Nothing };
  struct Case {
    Select select;
    ObjectId feedsGo;   // where the file's loose feeds go
    ObjectId groupsGo;  // where its groups go; 0: the root level
  };
  const Case cases[] = {
      {Select::Group, inner, inner},
      {Select::Source, inner, inner},
      {Select::Root, first, 0},
      {Select::Nothing, first, first},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(n);
    const QByteArray tag = QByteArray::number(++n);
    const QString path = WriteOpml(
        dir, QStringLiteral("subs%1.opml").arg(n),
        "<outline text=\"Tech" + tag + "\" title=\"Technology " + tag + "\">"
        "<outline type=\"rss\" text=\"ars\" title=\"Ars &amp; Co " + tag +
            "\" xmlUrl=\"http://ars.example/" + tag + "\"/></outline>"
        "<outline type=\"rss\" text=\"Loose " + tag + "\" xmlUrl=\"http://loose.example/" + tag + "\"/>"
        "<outline type=\"rss\" xmlUrl=\"http://nameless.example/" + tag + "\"/>");
    switch (c.select) {
      case Select::Group:
        tree->SelectItem(tree->FindItem(inner));
        break;
      case Select::Source:
        tree->SelectItem(tree->FindItem(held));
        break;
      case Select::Root:
        tree->SelectItem(tree->RootItem());
        break;
      case Select::Nothing:
        tree->setCurrentItem(nullptr);
        tree->clearSelection();
        ASSERT_FALSE(tree->SelectedNode().has_value());
        break;
    }
    h.scope.messages.clear();
    h.Frame().SetOpmlPathAsker([&] { return path; });
    h.Frame().OnImportOpml();
    ASSERT_TRUE(h.WaitForUpdates());
    ASSERT_EQ(h.scope.messages.size(), 1u);
    EXPECT_EQ(h.scope.messages[0].icon, MsgIcon::Information);

    const IdList& groups = c.groupsGo == 0 ? model.RootGroups() : model.GetGroup(c.groupsGo)->m_childGroups;
    const CGroup* tech = nullptr;
    for (ObjectId id : groups) {
      const CGroup* g = model.GetGroup(id);
      if (g != nullptr && g->m_name == u"Technology " + FromQString(QString::fromLatin1(tag))) tech = g;
    }
    ASSERT_NE(tech, nullptr) << "the group outline went elsewhere";
    ASSERT_EQ(tech->m_sources.size(), 1u);
    const CFeedSource* ars = model.GetFeedSource(tech->m_sources[0]);
    EXPECT_EQ(ars->m_title, u"Ars & Co " + FromQString(QString::fromLatin1(tag)));
    EXPECT_FALSE(ars->m_autoName);

    const CGroup* target = model.GetGroup(c.feedsGo);
    ASSERT_GE(target->m_sources.size(), 2u);
    const CFeedSource* loose = model.GetFeedSource(target->m_sources[target->m_sources.size() - 2]);
    const CFeedSource* nameless = model.GetFeedSource(target->m_sources.back());
    EXPECT_EQ(loose->m_title, u"Loose " + FromQString(QString::fromLatin1(tag)));
    EXPECT_FALSE(loose->m_autoName);
    EXPECT_EQ(nameless->m_url, u"http://nameless.example/" + FromQString(QString::fromLatin1(tag)));
    EXPECT_EQ(nameless->m_title, nameless->m_url);
    EXPECT_TRUE(nameless->m_autoName);
    // The tree shows the new nodes, each source by its title.
    EXPECT_NE(tree->FindItem(tech->m_id), nullptr);
    EXPECT_NE(tree->FindItem(nameless->m_id), nullptr);
    ASSERT_NE(tree->FindItem(ars->m_id), nullptr);
    EXPECT_TRUE(tree->FindItem(ars->m_id)->text(0).startsWith(QStringLiteral("Ars & Co ") + QString::fromLatin1(tag)))
        << tree->FindItem(ars->m_id)->text(0).toStdString();
  }
  // Nothing new landed in the group that was never a target.
  EXPECT_TRUE(model.GetGroup(second)->m_sources.empty());
}

TEST(OpmlMenuTest, ImportShowsItsProgressAndHandsEachNewFeedOverOnce) {
  AppHarness h;
  h.updater.updateSource = [](CFeedsManager&, ObjectId, bool) { return false; };
  ASSERT_TRUE(StartPastFirstRun(h));
  QByteArray body;
  for (int i = 0; i < 300; ++i) {
    body += "<outline type=\"rss\" text=\"F" + QByteArray::number(i) + "\" xmlUrl=\"http://f.example/" +
            QByteArray::number(i) + "\"/>";
  }
  QTemporaryDir dir;
  const QString path = WriteOpml(dir, QStringLiteral("many.opml"), body);
  QProgressBar* bar = h.Frame().BusyIndicator();
  struct Step {
    int done;
    int total;
    // As the previous step left them.
    bool barShown;
    int barValue;
    QString status;
    // Once a menu's prompt has gone again: the one status text is back.
    QString afterPrompt;
  };
  std::vector<Step> steps;
  QObject::connect(&h.Frame().Commands(), &CCommands::importProgress, [&](int done, int total) {
    steps.push_back({done, total, bar->isVisible(), bar->value(), h.Frame().StatusText(), QString()});
    QStatusTipEvent prompt(QStringLiteral("Import a list of feeds"));
    QCoreApplication::sendEvent(&h.Frame(), &prompt);
    QStatusTipEvent gone{QString()};
    QCoreApplication::sendEvent(&h.Frame(), &gone);
    steps.back().afterPrompt = h.Frame().StatusText();
  });
  const QString statusBefore = h.Frame().StatusText();
  h.Frame().SetOpmlPathAsker([&] { return path; });
  h.Frame().OnImportOpml();
  // The summary is shown before most of the new feeds are handed over for
  // their first fetch; each goes once, in the file's order.
  ASSERT_EQ(h.scope.messages.size(), 1u);
  EXPECT_LT(h.updater.updateSourceCalls.size(), 300u);
  EXPECT_TRUE(h.Frame().Commands().NewSourcesPending());
  ASSERT_TRUE(test::WaitUntil([&] { return !h.Frame().Commands().NewSourcesPending(); }));
  ASSERT_TRUE(h.WaitForUpdates());
  ASSERT_EQ(h.updater.updateSourceCalls.size(), 300u);
  for (size_t i = 1; i < h.updater.updateSourceCalls.size(); ++i) {
    const CFeedSource* before = h.Model().GetFeedSource(h.updater.updateSourceCalls[i - 1].first);
    const CFeedSource* after = h.Model().GetFeedSource(h.updater.updateSourceCalls[i].first);
    ASSERT_NE(before, nullptr);
    ASSERT_NE(after, nullptr);
    EXPECT_EQ(after->m_url, u"http://f.example/" + FromQString(QString::number(i)));
    EXPECT_TRUE(h.updater.updateSourceCalls[i].second) << "forced";
  }
  ASSERT_GE(steps.size(), 3u);
  EXPECT_EQ(steps.back().done, steps.back().total);
  for (size_t i = 1; i < steps.size(); ++i) {
    EXPECT_LE(steps[i - 1].done, steps[i].done);
    EXPECT_TRUE(steps[i].barShown);
    EXPECT_EQ(steps[i].barValue, steps[i - 1].done);
    if (i + 1 < steps.size()) {
      EXPECT_EQ(steps[i].status, QStringLiteral("Importing feeds..."));
    }
  }
  // The last step hands the status line back to the selection's state.
  EXPECT_EQ(steps.back().status, statusBefore);
  for (size_t i = 0; i + 1 < steps.size(); ++i) {
    EXPECT_EQ(steps[i].afterPrompt, QStringLiteral("Importing feeds...")) << i;
  }
  // Afterwards the bar is the update pass's again: idle and hidden.
  EXPECT_FALSE(bar->isVisible());
  EXPECT_EQ(bar->maximum(), 0);
  EXPECT_EQ(h.Frame().StatusText(), statusBefore);
}

TEST(OpmlMenuTest, AFileThatIsNotOpmlWarnsWithItsNameAndLine) {
  AppHarness h;
  ASSERT_TRUE(StartPastFirstRun(h));
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("page.html"));
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("<html>\n<body>\n<p>unclosed</body></html>");
  file.close();
  const size_t records = h.Model().Storage().Size();
  const uint64_t changes = h.Model().ChangeCount();
  h.Frame().SetOpmlPathAsker([&] { return path; });
  h.Frame().OnImportOpml();
  ASSERT_TRUE(h.WaitForUpdates());
  ASSERT_EQ(h.scope.messages.size(), 1u);
  EXPECT_EQ(h.scope.messages[0].icon, MsgIcon::Warning);
  EXPECT_TRUE(h.scope.messages[0].text.contains(QStringLiteral("page.html")));
  EXPECT_TRUE(h.scope.messages[0].text.contains(QStringLiteral("line 1")));
  EXPECT_EQ(h.Model().Storage().Size(), records);
  EXPECT_EQ(h.Model().ChangeCount(), changes) << "nothing changed, so nothing is saved";
}

TEST(OpmlMenuTest, ExportAppendsTheExtensionSkipsSourcesWithoutAddressAndReportsFailure) {
  AppHarness h;
  ASSERT_TRUE(StartPastFirstRun(h));
  h.Model().AddSource(h.Model().RootGroups()[0], u"http://x.example/rss");
  CModelWriter(h.Model()).Source(h.Model().AddSource(h.Model().RootGroups()[0], u"")->m_id)->m_title = u"Addressless";
  QTemporaryDir dir;
  const std::pair<QString, QString> cases[] = {
      {dir.filePath(QStringLiteral("mine")), dir.filePath(QStringLiteral("mine.opml"))},
      {dir.filePath(QStringLiteral("Mine.OPML")), dir.filePath(QStringLiteral("Mine.OPML"))},
      {dir.filePath(QStringLiteral("no/such/folder/x")), QString()},
  };
  for (const auto& [typed, written] : cases) {
    h.scope.messages.clear();
    h.Frame().SetOpmlPathAsker([&] { return typed; });
    h.Frame().OnExportOpml();
    ASSERT_EQ(h.scope.messages.size(), 1u);
    if (written.isEmpty()) {
      EXPECT_EQ(h.scope.messages[0].icon, MsgIcon::Warning);
      continue;
    }
    EXPECT_EQ(h.scope.messages[0].icon, MsgIcon::Information);
    QFile out(written);
    ASSERT_TRUE(out.open(QIODevice::ReadOnly)) << written.toStdString();
    const QByteArray written = out.readAll();
    EXPECT_TRUE(written.contains("xmlUrl=\"http://x.example/rss\""));
    EXPECT_FALSE(written.contains("Addressless"));
    EXPECT_EQ(written.count("<outline"), 2) << "the group and its one source with an address";
  }
}

}  // namespace
}  // namespace qb
