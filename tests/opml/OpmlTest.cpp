#include "opml/Opml.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <pthread.h>

#include <functional>

#include "formats/Markup.h"
#include "model/FeedsManager.h"
#include "model/ModelWriter.h"
#include "model/TreeOrder.h"

namespace qb {
namespace {

// Runs `body` on a thread with a small stack, so that a walk that recurses
// once per level of a tree fails at a modest depth.
void OnSmallStack(const std::function<void()>& body) {
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setstacksize(&attr, 512 * 1024);
  pthread_t thread;
  auto run = [](void* f) -> void* {
    (*static_cast<const std::function<void()>*>(f))();
    return nullptr;
  };
  ASSERT_EQ(pthread_create(&thread, &attr, run, const_cast<std::function<void()>*>(&body)), 0);
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attr);
}

QByteArray Opml(const QByteArray& body) { return "<opml version=\"2.0\"><body>" + body + "</body></opml>"; }

std::string Utf8(const std::u16string& s) {
  return QString(reinterpret_cast<const QChar*>(s.data()), static_cast<qsizetype>(s.size())).toStdString();
}

// The tree as the user sees it (display order), one line per node:
// "G name" / "S title <url>", with the feed's site when it has one.
std::string Describe(const CFeedsManager& m) {
  std::string out;
  std::function<void(ObjectId, int)> walk = [&](ObjectId gid, int depth) {
    const CGroup* g = m.GetGroup(gid);
    out += std::string(depth * 2, ' ') + "G " + Utf8(g->m_name) + "\n";
    for (ObjectId c : GroupsInDisplayOrder(m, g->m_childGroups)) walk(c, depth + 1);
    for (ObjectId sid : SourcesInDisplayOrder(m, g->m_sources)) {
      const CFeedSource* s = m.GetFeedSource(sid);
      out += std::string(depth * 2 + 2, ' ') + "S " + Utf8(s->m_title) +
             " <" + Utf8(s->m_url) + ">" + (s->m_autoName ? " auto" : "") +
             (s->m_reservedString.empty() ? "" : " site " + Utf8(s->m_reservedString)) + "\n";
    }
  };
  for (ObjectId gid : GroupsInDisplayOrder(m, m.RootGroups())) walk(gid, 0);
  return out;
}

TEST(OpmlTest, ExportThenImportIntoAnEmptyModelGivesTheSameTree) {
  CFeedsManager m;
  m.SeedRandom(3);
  const CGroup* news = m.AddGroup(0, u"News");
  const CGroup* tech = m.AddGroup(news->m_id, u"Tech & <Science>");
  m.AddGroup(tech->m_id, u"Deep");
  CFeedSource* a = CModelWriter(m).Source(m.AddSource(news->m_id, u"http://a.example/feed?x=1&y=\"2\"")->m_id);
  a->m_title = u"A \u00E9 \U0001F600";
  a->m_autoName = false;
  a->m_reservedString = u"https://a.example/?p=1&q=2";
  CFeedSource* b = CModelWriter(m).Source(m.AddSource(tech->m_id, u"https://b.example/rss")->m_id);
  b->m_title = u"B's feed";
  b->m_autoName = false;
  m.AddGroup(0, u"Empty");

  const QByteArray xml = ExportOpml(m, QDateTime::fromSecsSinceEpoch(1241432430, Qt::UTC));
  EXPECT_TRUE(xml.contains("<title>Quillbend subscriptions</title>"));
  EXPECT_TRUE(xml.contains("<dateCreated>Mon, 04 May 2009 10:20:30 GMT</dateCreated>"));
  EXPECT_TRUE(xml.contains("xmlUrl=\"http://a.example/feed?x=1&amp;y=&quot;2&quot;\" "
                           "htmlUrl=\"https://a.example/?p=1&amp;q=2\""));

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

// A fresh install has one root group "All Sources" holding the welcome
// page; the window imports into the selected group (there: that root
// group), the command line into the first root group. Either way the
// export comes back as the tree it was written from, and a second import
// adds nothing.
TEST(OpmlTest, AnExportImportsIntoAFreshInstallAsTheSameTree) {
  CFeedsManager m;
  m.SeedRandom(5);
  CGroup* all = CModelWriter(m).Group(m.AddGroup(0, u"All Sources")->m_id);
  CGroup* tech = CModelWriter(m).Group(m.AddGroup(all->m_id, u"Tech")->m_id);
  m.AddGroup(tech->m_id, u"Deep");
  CModelWriter(m).Source(m.AddSource(tech->m_id, u"http://t.example/feed")->m_id)->m_title = u"T";
  CModelWriter(m).Source(m.AddSource(all->m_id, u"http://a.example/feed")->m_id)->m_title = u"A";
  CGroup* news = CModelWriter(m).Group(m.AddGroup(0, u"News")->m_id);
  CModelWriter(m).Source(m.AddSource(news->m_id, u"http://n.example/feed")->m_id)->m_title = u"N";
  for (ObjectId id : {tech->m_sources[0], all->m_sources[0], news->m_sources[0]}) {
    CModelWriter(m).Source(id)->m_autoName = false;
  }
  const QByteArray xml = ExportOpml(m, QDateTime::fromSecsSinceEpoch(0, Qt::UTC));

  for (bool intoFirstRootGroup : {false, true}) {
    SCOPED_TRACE(intoFirstRootGroup ? "into the first root group" : "at the root level");
    CFeedsManager fresh;
    fresh.SeedRandom(6);
    fresh.FixUpAfterLoad();
    const ObjectId root = fresh.RootGroups().front();
    CFeedSource* welcome = CModelWriter(fresh).Source(fresh.AddSource(root, u"")->m_id);
    welcome->m_title = u"Welcome!";
    welcome->m_autoName = false;
    const OpmlImportResult r = ImportOpml(fresh, xml, intoFirstRootGroup ? root : 0);
    ASSERT_TRUE(r.ok) << r.error.toStdString();
    EXPECT_EQ(r.groupsAdded, 3) << "All Sources is merged into";
    EXPECT_EQ(r.feedsAdded, 3);
    EXPECT_EQ(Describe(fresh),
              "G All Sources\n"
              "  G Tech\n"
              "    G Deep\n"
              "    S T <http://t.example/feed>\n"
              "  S A <http://a.example/feed>\n"
              "  S Welcome! <>\n"
              "G News\n"
              "  S N <http://n.example/feed>\n");
    const std::string once = Describe(fresh);
    const OpmlImportResult again = ImportOpml(fresh, xml, intoFirstRootGroup ? root : 0);
    ASSERT_TRUE(again.ok);
    EXPECT_EQ(again.feedsAdded + again.groupsAdded, 0);
    EXPECT_EQ(Describe(fresh), once);
  }

  // A file that only looks the same but comes from another reader goes
  // where it is put.
  QByteArray foreign = xml;
  foreign.replace("Quillbend subscriptions", "My feeds");
  CFeedsManager other;
  other.SeedRandom(7);
  other.FixUpAfterLoad();
  ASSERT_TRUE(ImportOpml(other, foreign, other.RootGroups().front()).ok);
  EXPECT_EQ(Describe(other).substr(0, 30), "G All Sources\n  G All Sources\n");
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
       "G All Sources\n  S One <http://one/>\n  S Two <http://two/>\n"},
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
      {"a feed's site is kept when it is a web address",
       "<opml><body><outline text=\"One\" xmlUrl=\"http://one/\" htmlUrl=\" https://one.example/ \"/>"
       "<outline text=\"Two\" xmlUrl=\"http://two/\" htmlUrl=\"javascript:alert(1)\"/></body></opml>",
       "G All Sources\n  S One <http://one/> site https://one.example/\n  S Two <http://two/>\n"},
      {"same group name at the root merges",
       "<opml><body><outline text=\"All Sources\"><outline text=\"x\" xmlUrl=\"http://x/\"/></outline></body></opml>",
       "G All Sources\n  S x <http://x/>\n"},
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
  m.AddSource(m.RootGroups()[0], u"http://dup/");
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
    const size_t records = m.Storage().Size();
    const OpmlImportResult r = ImportOpml(m, file);
    EXPECT_FALSE(r.ok) << file.toStdString();
    EXPECT_FALSE(r.error.isEmpty());
    EXPECT_EQ(r.errorLine, line) << file.toStdString();
    EXPECT_EQ(Describe(m), before);
    EXPECT_EQ(m.Storage().Size(), records);
    EXPECT_TRUE(OpmlImportWarning(QStringLiteral("x.opml"), r).contains(QStringLiteral("x.opml")));
  }
}

TEST(OpmlTest, NamesTheFileGivesAreKeptAndShownAsWritten) {
  struct Case {
    const char* name;
    QByteArray outline;
    std::u16string shown;  // the label the tree shows
    bool autoName;
  };
  const Case cases[] = {
      {"title and text", "<outline title=\"T\" text=\"X\" xmlUrl=\"http://a/\"/>", u"T", false},
      {"text only", "<outline text=\" X \" xmlUrl=\"http://a/\"/>", u"X", false},
      {"blank title, text", "<outline title=\"  \" text=\"X\" xmlUrl=\"http://a/\"/>", u"X", false},
      {"no name at all", "<outline title=\"\" xmlUrl=\"http://a/\"/>", u"http://a/", true},
      // What an export writes for a source not yet updated: it stays auto-named.
      {"name is the URL", "<outline text=\"http://a/\" title=\"http://a/\" xmlUrl=\" http://a/\"/>", u"http://a/",
       true},
      {"name is the URL as shown", "<outline text=\"http://a/?b&gt;\" xmlUrl=\"http://a/?b&amp;gt;\"/>",
       u"http://a/?b>", true},
      {"name is the URL as exported", "<outline text=\"http://a/?&#xFFFD;\" xmlUrl=\"http://a/?&amp;#1;\"/>",
       u"http://a/?\x01", true},
      // Text that looks like markup is shown as written, not decoded once more.
      {"entity text", "<outline text=\"&amp;lt;b&amp;gt; &amp;amp;\" xmlUrl=\"http://a/\"/>", u"&lt;b&gt; &amp;",
       false},
      {"plain ampersand", "<outline text=\"R&amp;D\" xmlUrl=\"http://a/\"/>", u"R&D", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CFeedsManager m;
    m.FixUpAfterLoad();
    const OpmlImportResult r = ImportOpml(m, Opml(c.outline));
    ASSERT_TRUE(r.ok) << r.error.toStdString();
    ASSERT_EQ(r.newSources.size(), 1u);
    const CFeedSource* s = m.GetFeedSource(r.newSources[0]);
    EXPECT_EQ(DecodeEntities(DecodeCharRefs(s->m_title)), c.shown);
    EXPECT_EQ(s->m_autoName, c.autoName);
  }
}

TEST(OpmlTest, NewOutlinesGoIntoTheTargetGroup) {
  CFeedsManager m;
  m.SeedRandom(7);
  const CGroup* top = m.AddGroup(0, u"Top");
  const CGroup* target = m.AddGroup(top->m_id, u"Target");
  m.AddGroup(target->m_id, u"News &amp; Views");  // shown as "News & Views"
  m.AddGroup(0, u"Tech");
  const QByteArray file = Opml(
      "<outline text=\"Tech\"><outline text=\"t\" xmlUrl=\"http://t/\"/></outline>"
      "<outline text=\"News &amp; Views\"><outline text=\"n\" xmlUrl=\"http://n/\"/></outline>"
      "<outline text=\"f\" xmlUrl=\"http://f/\"><outline text=\"inside\" xmlUrl=\"http://i/\"/></outline>");
  const OpmlImportResult r = ImportOpml(m, file, target->m_id);
  ASSERT_TRUE(r.ok) << r.error.toStdString();
  EXPECT_EQ(r.groupsAdded, 1) << "the root group Tech is elsewhere; News & Views is merged into";
  EXPECT_EQ(r.feedsAdded, 4);
  EXPECT_EQ(Describe(m),
            "G Tech\n"
            "G Top\n"
            "  G Target\n"
            "    G News &amp; Views\n"
            "      S n <http://n/>\n"
            "    G Tech\n"
            "      S t <http://t/>\n"
            "    S f <http://f/>\n"
            "    S inside <http://i/>\n");

  // A target that is not a group changes nothing.
  const size_t records = m.Storage().Size();
  const OpmlImportResult gone = ImportOpml(m, Opml("<outline xmlUrl=\"http://z/\"/>"), 0xBADu);
  EXPECT_FALSE(gone.ok);
  EXPECT_FALSE(gone.error.isEmpty());
  EXPECT_EQ(m.Storage().Size(), records);
}

TEST(OpmlTest, RootLevelFeedsJoinTheFirstRootGroupTheTreeShows) {
  CFeedsManager m;
  m.SeedRandom(8);
  m.AddGroup(0, u"Zed");
  m.AddGroup(0, u"alpha");
  const OpmlImportResult r =
      ImportOpml(m, Opml("<outline text=\"a\" xmlUrl=\"http://a/\"/><outline text=\"Beta\"/>"));
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(Describe(m), "G alpha\n  S a <http://a/>\nG Beta\nG Zed\n");
}

TEST(OpmlTest, ExportWritesWhatXmlCannotCarryAsReplacementCharacters) {
  CFeedsManager m;
  m.SeedRandom(9);
  const CGroup* g = m.AddGroup(0, u"All Sources");
  const char16_t lone[] = {u'E', u'v', u'i', u'l', u' ', 0xD800, u' ', u'f', u'e', u'e', u'd', 0};
  const struct {
    std::u16string title;
    const char* url;
  } sources[] = {
      {u"Evil &#xD800; feed", "http://evil/"},  // the auto-name keeps the reference
      {lone, "http://lone/"},
      {u"bell \u0007 &#1; end", "http://bell/"},
      {u"After", "http://after/"},
      {u"\uFEFFzero width", "http://bom/"},  // kept: not a byte-order mark here
      {u"\uFFFEswap \u00E9", "http://swap/"},  // not XML; nor a reason to byte-swap the rest
      {u"Welcome!", ""},   // no URL: left out
      {u"Blank", "  "},    // nor this one
  };
  for (const auto& s : sources) {
    CFeedSource* src = CModelWriter(m).Source(m.AddSource(g->m_id, QString::fromUtf8(s.url).toStdU16String())->m_id);
    src->m_title = s.title;
  }
  const QByteArray xml = ExportOpml(m, QDateTime::fromSecsSinceEpoch(0, Qt::UTC));
  QXmlStreamReader check(xml);
  while (!check.atEnd()) check.readNext();
  EXPECT_FALSE(check.hasError()) << check.errorString().toStdString() << "\n" << xml.toStdString();

  CFeedsManager copy;
  const OpmlImportResult r = ImportOpml(copy, xml);
  ASSERT_TRUE(r.ok) << r.error.toStdString();
  EXPECT_EQ(Describe(copy),
            "G All Sources\n"
            "  S After <http://after/>\n"
            "  S bell \xEF\xBF\xBD \xEF\xBF\xBD end <http://bell/>\n"
            "  S Evil \xEF\xBF\xBD feed <http://evil/>\n"
            "  S Evil \xEF\xBF\xBD feed <http://lone/>\n"
            "  S \xEF\xBB\xBFzero width <http://bom/>\n"
            "  S \xEF\xBF\xBDswap \xC3\xA9 <http://swap/>\n");
}

TEST(OpmlTest, ExportToAFileReportsFailureAndChecksWhatItWrote) {
  CFeedsManager m;
  m.SeedRandom(10);
  const CGroup* g = m.AddGroup(0, u"All Sources");
  m.AddGroup(g->m_id, u"Sub");
  m.AddSource(g->m_id, u"http://x/");
  QTemporaryDir dir;
  const QDateTime when = QDateTime::fromSecsSinceEpoch(0, Qt::UTC);

  const QString path = dir.filePath(QStringLiteral("subs.opml"));
  const OpmlExportResult ok = ExportOpmlFile(m, path, when);
  EXPECT_TRUE(ok.ok) << ok.error.toStdString();
  EXPECT_EQ(ok.groups, 2);
  EXPECT_EQ(ok.feeds, 1);
  QFile written(path);
  ASSERT_TRUE(written.open(QIODevice::ReadOnly));
  EXPECT_EQ(written.readAll(), ExportOpml(m, when));

  const OpmlExportResult bad = ExportOpmlFile(m, dir.filePath(QStringLiteral("no/such/x.opml")), when);
  EXPECT_FALSE(bad.ok);
  EXPECT_TRUE(bad.error.contains(QStringLiteral("no/such/x.opml"))) << bad.error.toStdString();
}

TEST(OpmlTest, ProgressIsReportedInStepsAndEndsAtTheTotal) {
  for (int total : {0, 1, 150, 10000}) {
    SCOPED_TRACE(total);
    QByteArray body;
    for (int i = 0; i < total; ++i) {
      // Every tenth outline is a group, so both kinds count.
      body += i % 10 == 0 ? QByteArray("<outline text=\"g") + QByteArray::number(i) + "\"/>"
                          : QByteArray("<outline xmlUrl=\"http://f/") + QByteArray::number(i) + "\"/>";
    }
    CFeedsManager m;
    m.FixUpAfterLoad();
    std::vector<std::pair<int, int>> calls;
    const OpmlImportResult r =
        ImportOpml(m, Opml(body), m.RootGroups()[0], [&](int done, int of) { calls.push_back({done, of}); });
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.feedsAdded + r.groupsAdded, total);
    ASSERT_FALSE(calls.empty());
    EXPECT_LE(calls.size(), 101u);
    EXPECT_EQ(calls.back(), std::make_pair(total, total));
    for (size_t i = 1; i < calls.size(); ++i) EXPECT_LT(calls[i - 1].first, calls[i].first);
  }
}

TEST(OpmlTest, DeepOutlinesImportAndExportWithoutRecursion) {
  constexpr int kDepth = 20000;
  QByteArray body;
  for (int i = 0; i < kDepth; ++i) body += "<outline text=\"g\">";
  body += "<outline text=\"leaf\" xmlUrl=\"http://deep/\"/>";
  for (int i = 0; i < kDepth; ++i) body += "</outline>";
  CFeedsManager m, copy;
  OpmlImportResult first, again;
  QByteArray xml;
  OnSmallStack([&] {
    first = ImportOpml(m, Opml(body));
    xml = ExportOpml(m, QDateTime::fromSecsSinceEpoch(0, Qt::UTC));
    again = ImportOpml(copy, xml);
  });
  ASSERT_TRUE(first.ok) << first.error.toStdString();
  EXPECT_EQ(first.groupsAdded, kDepth);
  EXPECT_EQ(first.feedsAdded, 1);
  ASSERT_TRUE(again.ok) << again.error.toStdString();
  EXPECT_EQ(again.groupsAdded, kDepth);
  EXPECT_LT(xml.size(), 100 * kDepth) << "no indentation growing with the depth";
  // Down the single chain to the leaf.
  const CGroup* g = copy.GetGroup(copy.RootGroups().front());
  int depth = 1;
  while (!g->m_childGroups.empty()) {
    g = copy.GetGroup(g->m_childGroups.front());
    ++depth;
  }
  EXPECT_EQ(depth, kDepth);
  ASSERT_EQ(g->m_sources.size(), 1u);
  EXPECT_EQ(copy.GetFeedSource(g->m_sources[0])->m_url, u"http://deep/");
}

}  // namespace
}  // namespace qb
