// The File menu's OPML commands in the window.
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

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

TEST(OpmlMenuTest, AFileThatIsNotOpmlWarnsWithItsNameAndLine) {
  AppHarness h;
  ASSERT_TRUE(StartPastFirstRun(h));
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("page.html"));
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("<html>\n<body>\n<p>unclosed</body></html>");
  file.close();
  const size_t records = h.Model().m_storage.Size();
  h.Frame().SetOpmlPathAsker([&] { return path; });
  h.Frame().OnImportOpml();
  ASSERT_TRUE(h.WaitForUpdates());
  ASSERT_EQ(h.scope.messages.size(), 1u);
  EXPECT_EQ(h.scope.messages[0].icon, MsgIcon::Warning);
  EXPECT_TRUE(h.scope.messages[0].text.contains(QStringLiteral("page.html")));
  EXPECT_TRUE(h.scope.messages[0].text.contains(QStringLiteral("line 1")));
  EXPECT_EQ(h.Model().m_storage.Size(), records);
  EXPECT_FALSE(h.Frame().IsFrameTimerActive(FrameTimer::Save));
}

TEST(OpmlMenuTest, ExportAppendsTheExtensionAndReportsFailure) {
  AppHarness h;
  ASSERT_TRUE(StartPastFirstRun(h));
  h.Model().AddSource(h.Model().m_rootGroups[0], u"http://x.example/rss");
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
    EXPECT_TRUE(out.readAll().contains("xmlUrl=\"http://x.example/rss\""));
  }
}

}  // namespace
}  // namespace qb
