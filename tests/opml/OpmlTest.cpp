#include "opml/Opml.h"

#include <gtest/gtest.h>

#include <functional>

#include "model/FeedsManager.h"
#include "model/TreeOrder.h"

namespace qb {
namespace {

// The tree as the user sees it (display order), one line per node: "G name" / "S title <url>".
std::string Describe(const CFeedsManager& m) {
  std::string out;
  std::function<void(ObjectId, int)> walk = [&](ObjectId gid, int depth) {
    const CGroup* g = m.GetGroup(gid);
    out += std::string(depth * 2, ' ') + "G " + QString::fromStdU16String(g->m_name).toStdString() + "\n";
    for (ObjectId c : GroupsInDisplayOrder(m, g->m_childGroups)) walk(c, depth + 1);
    for (ObjectId sid : SourcesInDisplayOrder(m, g->m_sources)) {
      const CFeedSource* s = m.GetFeedSource(sid);
      out += std::string(depth * 2 + 2, ' ') + "S " + QString::fromStdU16String(s->m_title).toStdString() +
             " <" + QString::fromStdU16String(s->m_url).toStdString() + ">" + (s->m_autoName ? " auto" : "") + "\n";
    }
  };
  for (ObjectId gid : GroupsInDisplayOrder(m, m.m_rootGroups)) walk(gid, 0);
  return out;
}

TEST(OpmlTest, ExportThenImportIntoAnEmptyModelGivesTheSameTree) {
  CFeedsManager m;
  m.SeedRandom(3);
  CGroup* news = m.AddGroup(0, u"News");
  CGroup* tech = m.AddGroup(news->m_id, u"Tech & <Science>");
  m.AddGroup(tech->m_id, u"Deep");
  CFeedSource* a = m.AddSource(news->m_id, u"http://a.example/feed?x=1&y=\"2\"");
  a->m_title = u"A \u00E9 \U0001F600";
  a->m_autoName = false;
  CFeedSource* b = m.AddSource(tech->m_id, u"https://b.example/rss");
  b->m_title = u"B's feed";
  b->m_autoName = false;
  m.AddGroup(0, u"Empty");

  const QByteArray xml = ExportOpml(m, QDateTime::fromSecsSinceEpoch(1241432430, Qt::UTC));
  EXPECT_TRUE(xml.contains("<title>Quillbend subscriptions</title>"));
  EXPECT_TRUE(xml.contains("<dateCreated>Mon, 04 May 2009 10:20:30 GMT</dateCreated>"));
  EXPECT_TRUE(xml.contains("xmlUrl=\"http://a.example/feed?x=1&amp;y=&quot;2&quot;\""));

  CFeedsManager copy;
  const OpmlImportResult r = ImportOpml(copy, xml);
  ASSERT_TRUE(r.ok) << r.error.toStdString();
  EXPECT_EQ(r.feedsAdded, 2);
  EXPECT_EQ(r.groupsAdded, 4);
  EXPECT_EQ(r.feedsSkipped, 0);
  EXPECT_EQ(Describe(copy), Describe(m));

  // Importing the same file again adds nothing and merges into the groups.
  const OpmlImportResult again = ImportOpml(copy, xml);
  ASSERT_TRUE(again.ok);
  EXPECT_EQ(again.feedsAdded, 0);
  EXPECT_EQ(again.groupsAdded, 0);
  EXPECT_EQ(again.feedsSkipped, 2);
  EXPECT_EQ(Describe(copy), Describe(m));
}

TEST(OpmlTest, FilesAsOtherReadersWriteThem) {
  struct Case {
    const char* name;
    QByteArray file;
    std::string tree;  // after importing into a model with one empty "All Sources"
  };
  const Case cases[] = {
      {"flat list with text only, any type case",
       "<?xml version=\"1.0\"?><opml version=\"1.0\"><head/><body>"
       "<outline text=\"One\" type=\"RSS\" xmlUrl=\"http://one/\"/>"
       "<outline text=\"Two\" xmlUrl=\"http://two/\"/></body></opml>",
       "G All Sources\n  S One <http://one/> auto\n  S Two <http://two/> auto\n"},
      {"nested categories",
       "<opml version=\"2.0\"><body><outline text=\"Cat\"><outline title=\"Sub\" text=\"ignored\">"
       "<outline type=\"rss\" title=\"Feed\" text=\"F\" xmlUrl=\"http://f/\"/></outline></outline></body></opml>",
       "G All Sources\nG Cat\n  G Sub\n    S Feed <http://f/>\n"},
      {"entities in titles and URLs, BOM",
       "\xEF\xBB\xBF<opml><body><outline title=\"A &amp; B &#233;\" xmlUrl=\"http://x/?a=1&amp;b=2\"/></body></opml>",
       "G All Sources\n  S A & B \xC3\xA9 <http://x/?a=1&b=2>\n"},
      {"ISO-8859-1 declared",
       "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><opml><body><outline title=\"caf\xE9\" xmlUrl=\"http://c/\"/></body></opml>",
       "G All Sources\n  S caf\xC3\xA9 <http://c/>\n"},
      {"feed without any name keeps its URL and auto-name",
       "<opml><body><outline xmlUrl=\"http://bare/\"/></body></opml>",
       "G All Sources\n  S http://bare/ <http://bare/> auto\n"},
      {"same group name at the root merges",
       "<opml><body><outline text=\"All Sources\"><outline text=\"x\" xmlUrl=\"http://x/\"/></outline></body></opml>",
       "G All Sources\n  S x <http://x/> auto\n"},
  };
  for (const Case& c : cases) {
    CFeedsManager m;
    m.SeedRandom(1);
    m.FixUpAfterLoad();
    const OpmlImportResult r = ImportOpml(m, c.file);
    ASSERT_TRUE(r.ok) << c.name << ": " << r.error.toStdString();
    EXPECT_EQ(Describe(m), c.tree) << c.name;
  }
}

TEST(OpmlTest, DuplicatesAreSkippedExactly) {
  CFeedsManager m;
  m.FixUpAfterLoad();
  m.AddSource(m.m_rootGroups[0], u"http://dup/");
  const OpmlImportResult r = ImportOpml(
      m, "<opml><body><outline xmlUrl=\"http://dup/\"/><outline xmlUrl=\"http://DUP/\"/>"
         "<outline xmlUrl=\"http://new/\"/><outline xmlUrl=\"http://new/\"/></body></opml>");
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.feedsAdded, 2);
  EXPECT_EQ(r.feedsSkipped, 2);
  EXPECT_EQ(r.newSources.size(), 2u);
  EXPECT_NE(OpmlImportSummary(r).indexOf(QStringLiteral("2")), -1);
}

TEST(OpmlTest, MalformedFilesChangeNothing) {
  const std::pair<QByteArray, qint64> bad[] = {
      {"not xml at all", 1},
      {"<html><body><outline xmlUrl=\"http://x/\"/></body></html>", 1},
      {"<opml><body>\n<outline xmlUrl=\"http://x/\">\n</body></opml>", 3},
      {"<opml><head/></opml>", 1},
      {"", 1},
  };
  for (const auto& [file, line] : bad) {
    CFeedsManager m;
    m.FixUpAfterLoad();
    const std::string before = Describe(m);
    const size_t records = m.m_storage.Size();
    const OpmlImportResult r = ImportOpml(m, file);
    EXPECT_FALSE(r.ok) << file.toStdString();
    EXPECT_FALSE(r.error.isEmpty());
    EXPECT_EQ(r.errorLine, line) << file.toStdString();
    EXPECT_EQ(Describe(m), before);
    EXPECT_EQ(m.m_storage.Size(), records);
    EXPECT_TRUE(OpmlImportWarning(QStringLiteral("x.opml"), r).contains(QStringLiteral("x.opml")));
  }
}

}  // namespace
}  // namespace qb
