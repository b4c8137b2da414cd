#include "formats/Interpret.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <string>
#include <unordered_set>
#include <vector>

#include "base/Text.h"
#include "classic/DataFile.h"
#include "formats/Markup.h"
#include "formats/ParsedFeed.h"
#include "formats/PubDate.h"
#include "formats/TextDecoding.h"
#include "formats/XMLParser.h"
#include "model/FeedsManager.h"
#include "model/ModelWriter.h"
#include "tests/support/FakeClock.h"
#include "tests/support/ScopedTimeZone.h"
#include "tests/support/TempDir.h"
#include "tests/support/UpdatePasses.h"
#include "update/UpdateCycle.h"

namespace qb {
namespace {

using test::ScopedTimeZone;

constexpr uint32_t kTick = 4242;

class InterpretTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_clock.time = [this] { return m_now++; };  // a second later at every addition
    m_manager.SetClock(m_clock);
    CGroup* group = CModelWriter(m_manager).Group(m_manager.AddGroup(0, u"All Sources")->m_id);
    m_source = CModelWriter(m_manager).NewFeedSource();
    group->m_sources.push_back(m_source->m_id);
  }

  bool Update(const std::u16string& document, uint32_t tick = kTick) {
    m_text = SharedText(document);
    return InterpretFeed(m_manager, *m_source, ParseFeed(m_text), tick);
  }

  std::vector<const CFeed*> Articles() const {
    std::vector<const CFeed*> out;
    for (ObjectId id : m_source->m_articles) {
      if (const CFeed* a = m_manager.GetFeed(id)) out.push_back(a);
    }
    return out;
  }

  std::vector<std::u16string> Field(std::u16string CFeed::*field) const {
    std::vector<std::u16string> out;
    for (const CFeed* a : Articles()) out.push_back(a->*field);
    return out;
  }

  test::FakeClock m_clock;
  int64_t m_now = 1241432430;
  CFeedsManager m_manager;
  CFeedSource* m_source = nullptr;
  SharedText m_text;
};

std::u16string Rss(const std::u16string& channels) { return u"<rss version=\"2.0\">" + channels + u"</rss>"; }

std::u16string RssItems(int from, int to) {
  std::u16string items;
  for (int i = from; i < to; ++i) {
    const std::u16string n = Widen(std::to_string(i));
    items += u"<item><title>Item " + n + u"</title><guid>g" + n + u"</guid></item>";
  }
  return Rss(u"<channel><title>Big</title>" + items + u"</channel>");
}

TEST_F(InterpretTest, TwoChannelsAreJoinedForTheAutoName) {
  m_source->m_title = u"http://example.org/feed";
  m_source->m_autoName = true;
  EXPECT_TRUE(Update(Rss(u"<channel><title>A</title><item><guid>1</guid></item></channel>"
                         u"<channel><title>  B </title><item><guid>2</guid></item></channel>")));
  EXPECT_EQ(m_source->m_title, u"A / B");
  EXPECT_FALSE(m_source->m_autoName);
  EXPECT_EQ(Field(&CFeed::m_channel), (std::vector<std::u16string>{u"A", u"B"}));
  EXPECT_EQ(m_source->m_commsStatus, u"Comms status: OK");
  EXPECT_EQ(m_source->m_lastUpdateTick, kTick);

  // Applied once: a later title does not rename the source.
  Update(Rss(u"<channel><title>C</title></channel>"));
  EXPECT_EQ(m_source->m_title, u"A / B");
}

TEST_F(InterpretTest, AutoNameWaitsForANonEmptyTitle) {
  m_source->m_title = u"url";
  m_source->m_autoName = true;
  Update(Rss(u"<channel><title>   </title></channel><channel/>"));
  EXPECT_EQ(m_source->m_title, u"url");
  EXPECT_TRUE(m_source->m_autoName);
  Update(Rss(u"<channel><title/></channel><channel><title>Second</title></channel>"));
  EXPECT_EQ(m_source->m_title, u"Second");  // no " / " before the first non-empty title
}

TEST_F(InterpretTest, ItemFieldsByExactLookupKeysByNameOrder) {
  const struct {
    std::u16string item;
    std::u16string title, link, description, dateText, key;
  } cases[] = {
      // A missing element leaves its field empty. The key is still made with
      // FindChild, which yields the child whose name sorts next after "guid"
      // (and after "title" and "link" for the title@link form).
      // Titles are trimmed and their white space collapsed; keys stay.
      {u"<title>  x  </title><guid>k1</guid>", u"x", u"", u"", u"", u"k1"},
      {u"<title>\n\t\tBy: A\t\t on\r\nB\t\t</title><guid>k</guid>", u"By: A on B", u"", u"", u"", u"k"},
      {u"<description>d</description>", u"<Untitled>", u"", u"d", u"", u"<Untitled>@"},
      {u"<title>T</title><link>L</link>", u"T", u"L", u"", u"", u"L"},
      {u"<title>T</title><link>L</link><guid>G</guid>", u"T", u"L", u"", u"", u"G"},
      {u"<title>T</title><link>L</link><guid>G</guid><description>D</description>", u"T", u"L", u"D", u"", u"G"},
      {u"<title>T</title>", u"T", u"", u"", u"", u"T"},
      {u"<pubDate>P</pubDate>", u"<Untitled>", u"", u"", u"P", u"P"},
      {u"<title>T</title><guid>urn:3</guid><pubDate>Mon, 04 May 2009 10:20:30 GMT</pubDate>", u"T", u"", u"",
       u"Mon, 04 May 2009 10:20:30 GMT", u"urn:3"},
      // An empty guid: title@link, both found by FindChild ("link" finds "pubDate").
      {u"<guid></guid><pubDate>P</pubDate>", u"<Untitled>", u"", u"", u"P", u"<Untitled>@P"},
      {u"<description>D</description><category>c</category>", u"<Untitled>", u"", u"D", u"", u"<Untitled>@"},
      // Extension elements are not taken for the fields, but the full
      // content is the body.
      {u"<dc:creator>W</dc:creator><content:encoded>C</content:encoded><title>T</title><guid>G</guid>",
       u"T", u"", u"C", u"", u"G"},
      // An unescaped start tag: the description has a child and is never
      // closed, so no text, and the guid is nested inside it.
      {u"<title>T</title><description>a<br>b</description><guid>G</guid>", u"T", u"", u"", u"", u"T"},
      // A permalink guid that is a relative reference is resolved; without
      // isPermaLink only one that starts with "/" is a link.
      {u"<guid isPermaLink='true' xml:base='http://e.org/blog/'>post-1</guid>", u"<Untitled>",
       u"http://e.org/blog/post-1", u"", u"", u"post-1"},
      {u"<guid xml:base='http://e.org/blog/'>/p/2</guid>", u"<Untitled>", u"http://e.org/p/2", u"", u"", u"/p/2"},
      {u"<guid xml:base='http://e.org/'>12345</guid>", u"<Untitled>", u"", u"", u"", u"12345"},
      {u"<guid isPermaLink='false' xml:base='http://e.org/'>/p/3</guid>", u"<Untitled>", u"", u"", u"", u"/p/3"},
      {u"<guid isPermaLink='true'>tag:e.org,2009:1</guid>", u"<Untitled>", u"", u"", u"", u"tag:e.org,2009:1"},
      // A date element written in lower case.
      {u"<title>T</title><pubdate>Mon, 04 May 2009 10:20:30 GMT</pubdate>", u"T", u"", u"",
       u"Mon, 04 May 2009 10:20:30 GMT", u"Mon, 04 May 2009 10:20:30 GMT"},
      // Extension elements by their namespace, whatever the prefix; Dublin
      // Core's title and description stand in for missing ones.
      {u"<c:encoded xmlns:c='http://purl.org/rss/1.0/modules/content/'>C</c:encoded><description>D</description>"
       u"<guid>G</guid>", u"<Untitled>", u"", u"C", u"", u"G"},
      {u"<x:title xmlns:x='http://purl.org/dc/elements/1.1/'>DT</x:title><dc:description>DD</dc:description>"
       u"<guid>G</guid>", u"DT", u"", u"DD", u"", u"G"},
      {u"<c:encoded xmlns:c='urn:other'>C</c:encoded><description>D</description><guid>G</guid>", u"<Untitled>",
       u"", u"D", u"", u"G"},
      // Comments and processing instructions are no part of a text.
      {u"<description>&lt;p&gt;Hello&lt;/p&gt;<!-- generator note --><?pi x?></description><guid>G</guid>",
       u"<Untitled>", u"", u"<p>Hello</p>", u"", u"G"},
      {u"<title>a <!-- > --> b</title><guid>G</guid>", u"a b", u"", u"", u"", u"G"},
      // An end tag that runs into the next tag still ends its element there.
      {u"<guid>G</guid><title>Lost title</title   <x>", u"Lost title", u"", u"", u"", u"G"},
      {u"<guid>G</guid><title>spaced </ title </title>", u"spaced", u"", u"", u"", u"G"},
      // Markup written unescaped but closed is the body as written.
      {u"<title>T</title><description>a<br/>b &amp; <i>c</i></description>", u"T", u"", u"a<br/>b &amp; <i>c</i>",
       u"", u"T"},
  };
  // Read as values, without a model.
  for (const auto& c : cases) {
    const std::u16string doc = Rss(u"<channel><title>Ch</title><item>" + c.item + u"</item></channel>");
    const SharedText text(doc);
    CXMLParser parser;
    const FeedReading reading = ReadDocument(text, parser.Parse(doc), u"");
    EXPECT_TRUE(reading.understood) << Utf16ToUtf8(c.item);
    ASSERT_EQ(reading.articles.size(), 1u) << Utf16ToUtf8(c.item);
    const ArticleCandidate& a = reading.articles[0];
    EXPECT_EQ(a.fields.m_title, c.title) << Utf16ToUtf8(c.item);
    EXPECT_EQ(a.fields.m_link, c.link) << Utf16ToUtf8(c.item);
    EXPECT_EQ(a.description, c.description) << Utf16ToUtf8(c.item);
    EXPECT_EQ(a.fields.m_dateText, c.dateText) << Utf16ToUtf8(c.item);
    EXPECT_EQ(a.fields.m_key, c.key) << Utf16ToUtf8(c.item);
    EXPECT_EQ(a.fields.m_channel, u"Ch");
    EXPECT_TRUE(a.ownKey.empty());
  }
}

TEST_F(InterpretTest, EachArticleKeepsItsOwnItemsMarkup) {
  const struct {
    std::u16string document;
    std::vector<std::u16string> sourceTexts;
  } cases[] = {
      // exactly as written: entities, CDATA, white space and odd end tags
      {Rss(u"<channel><title>C</title><item><guid>1</guid><title>a &amp; b</title></item >\n"
           u"<item/><item  ><guid>3</guid><description><![CDATA[</item>]]></description></item></channel>"),
       {u"<item><guid>1</guid><title>a &amp; b</title></item >", u"<item/>",
        u"<item  ><guid>3</guid><description><![CDATA[</item>]]></description></item>"}},
      // a last item never closed runs to the end of the document
      {Rss(u"<channel><item><guid>1</guid></item><item><guid>2</guid></channel>") + u"\n",
       {u"<item><guid>1</guid></item>", u"<item><guid>2</guid></channel></rss>\n"}},
      {u"\uFEFF<?xml version='1.0'?><feed><title>F</title><entry><id>u1</id><title>\u00e9</title></entry>"
       u"<entry><id>u2</id></entry></feed>",
       {u"<entry><id>u1</id><title>\u00e9</title></entry>", u"<entry><id>u2</id></entry>"}},
  };
  for (const auto& c : cases) {
    const SharedText text(c.document);
    CXMLParser parser;
    const FeedReading reading = ReadDocument(text, parser.ParseShared(text), u"");
    std::vector<std::u16string> got;
    for (const ArticleCandidate& a : reading.articles) got.emplace_back(reading.MarkupOf(a));
    EXPECT_EQ(got, c.sourceTexts) << Utf16ToUtf8(c.document);
  }
}

TEST_F(InterpretTest, ArticlesCarryTheirDates) {
  EXPECT_TRUE(Update(Rss(u"<channel><title>C</title>"
                         u"<item><guid>1</guid><pubDate>Mon, 04 May 2009 10:20:30 GMT</pubDate></item>"
                         u"<item><guid>2</guid><pubDate>2009-05-04T10:20:30Z</pubDate></item></channel>")));
  const auto articles = Articles();
  ASSERT_EQ(articles.size(), 2u);
  EXPECT_EQ(articles[0]->m_dateText, u"Mon, 04 May 2009 10:20:30 GMT");
  DateFields f;
  ASSERT_TRUE(articles[0]->m_date.GetFields(f));
  EXPECT_EQ(f, (DateFields{2009, 5, 4, 10, 20, 30}));
  EXPECT_EQ(articles[1]->m_date, articles[0]->m_date);
}

TEST_F(InterpretTest, AnAtomEntrysDateIsPublishedElseUpdated) {
  const struct {
    std::u16string children;
    std::u16string dateText;
  } cases[] = {
      {u"<published>2009-05-04T10:20:30Z</published><updated>2010-01-01T00:00:00Z</updated>",
       u"2009-05-04T10:20:30Z"},
      {u"<updated>2010-01-01T00:00:00+01:00</updated>", u"2010-01-01T00:00:00+01:00"},
      {u"<published/><updated>2010-01-01T00:00:00Z</updated>", u"2010-01-01T00:00:00Z"},
      {u"<published>junk</published><updated>2010-01-01T00:00:00Z</updated>", u"junk"},
      {u"<title>T</title><summary>S</summary>", u""},
  };
  for (const auto& c : cases) {
    const std::u16string doc = u"<feed><entry><id>1</id>" + c.children + u"</entry></feed>";
    CXMLParser parser;
    const FeedReading reading = ReadDocument(SharedText(doc), parser.Parse(doc), u"");
    ASSERT_EQ(reading.articles.size(), 1u);
    const ArticleFields* a = &reading.articles[0].fields;
    EXPECT_EQ(a->m_dateText, c.dateText) << Utf16ToUtf8(c.children);
    EXPECT_EQ(a->m_date, ParsePubDateText(c.dateText)) << Utf16ToUtf8(c.children);
    EXPECT_EQ(a->m_date.IsValid(), c.dateText.starts_with(u"20")) << Utf16ToUtf8(c.children);
  }
}

// Items without a guid whose key rule finds the same text (one link for
// every item, an RSS 0.92 item's lone description giving "<Untitled>@")
// are each an article: the first keeps the key, the later ones have keys
// of their own, and only an item equal in title, link, date and body to an
// earlier one is the same item.
TEST_F(InterpretTest, AKeyRepeatedInADocumentIsNoKey) {
  const auto items = [](int from, int to, const std::u16string& form) {
    std::u16string out;
    for (int i = from; i < to; ++i) {
      std::u16string item = form;
      item.replace(item.find(u"%"), 1, Widen(std::to_string(i)));
      out += item;
    }
    return out;
  };
  // An item that had the key to itself, then a new one with the same key
  // above it: the old one is known by its markup, the new one is added,
  // and neither comes back once deleted.
  const std::u16string itemA = u"<item><title>A</title><link>L</link></item>";
  const std::u16string itemN = u"<item><title>N</title><link>L</link></item>";
  EXPECT_TRUE(Update(Rss(u"<channel>" + itemA + u"</channel>")));
  EXPECT_TRUE(Update(Rss(u"<channel>" + itemN + itemA + u"</channel>")));
  EXPECT_EQ(Field(&CFeed::m_title), (std::vector<std::u16string>{u"A", u"N"}));
  m_manager.DeleteArticles({m_source->m_articles[0]});
  EXPECT_FALSE(Update(Rss(u"<channel>" + itemN + itemA + u"</channel>")));
  EXPECT_FALSE(Update(Rss(u"<channel>" + itemA + itemN + u"</channel>")));
  EXPECT_EQ(Field(&CFeed::m_title), (std::vector<std::u16string>{u"N"}));

  m_source = CModelWriter(m_manager).NewFeedSource();
  const std::u16string oneLink = u"<item><title>Post %</title><link>http://e.org/</link></item>";
  ASSERT_TRUE(Update(Rss(u"<channel><title>C</title>" + items(0, 99, oneLink) + u"</channel>")));
  ASSERT_EQ(Articles().size(), 99u);
  EXPECT_EQ(Articles()[0]->m_key, u"http://e.org/");
  EXPECT_EQ(Articles()[98]->m_title, u"Post 98");
  std::unordered_set<std::u16string> keys;
  for (const CFeed* a : Articles()) EXPECT_TRUE(keys.insert(a->m_key).second);
  EXPECT_FALSE(Update(Rss(u"<channel><title>C</title>" + items(0, 99, oneLink) + u"</channel>")));
  // A new item on top takes none of the others' places.
  EXPECT_TRUE(Update(Rss(u"<channel><title>C</title>" + items(99, 100, oneLink) + items(0, 99, oneLink) +
                         u"</channel>")));
  ASSERT_EQ(Articles().size(), 100u);
  EXPECT_EQ(Articles()[99]->m_title, u"Post 99");

  m_source = CModelWriter(m_manager).NewFeedSource();
  const std::u16string rss092 = Rss(u"<channel><title>C</title>" +
                                    items(0, 22, u"<item><description>Song %</description></item>") +
                                    u"<item><description>Song 3</description></item></channel>");
  EXPECT_TRUE(Update(rss092));
  EXPECT_EQ(Articles().size(), 22u);  // the repeated 23rd is the 4th again
  EXPECT_EQ(Articles()[0]->m_key, u"<Untitled>@");
  EXPECT_FALSE(Update(rss092));

}

// Real documents whose items shared keys: every distinct item is kept.
TEST(InterpretKeysTest, RealDocumentsKeepEveryDistinctItem) {
  const char* env = std::getenv("QB_REALFEEDS");
  const std::string corpus = env != nullptr ? env : std::string(QB_SOURCE_DIR) + "/../shared/realfeeds";
  const std::pair<const char*, size_t> documents[] = {
      // 1,046 items without a guid, a day's items sharing the date that
      // stands for their key; 14 repeat an earlier title and text on
      // another date, which is another item.
      {"fastfeedparser/benchmark_data/cc314ce5dfbb3adc", 1046},
      // 22 items of a description each; one repeats another.
      {"rss/tests/data/rss092.xml", 21},
  };
  for (const auto& [name, count] : documents) {
    const std::string path = corpus + "/" + name;
    if (!std::filesystem::exists(path)) GTEST_SKIP() << "no corpus at " << corpus;
    CFeedsManager manager;
    CFeedSource* source = CModelWriter(manager).NewFeedSource();
    EXPECT_TRUE(ParseAndInterpret(manager, *source, SharedText(DecodeFeedBytes(test::ReadFile(path))), 1));
    EXPECT_EQ(source->m_articles.size(), count) << name;
  }
}

TEST_F(InterpretTest, ChannelAndFeedFieldsAreLookedUpExactly) {
  m_source->m_title = u"url";
  m_source->m_autoName = true;
  // No item and no title: nothing is made of the children that sort after
  // those names.
  EXPECT_FALSE(Update(Rss(u"<channel><language>en</language><link>L</link><ttl>5</ttl></channel>")));
  EXPECT_TRUE(Articles().empty());
  EXPECT_EQ(m_source->m_title, u"url");
  EXPECT_TRUE(m_source->m_autoName);
  EXPECT_EQ(m_source->m_commsStatus, u"Comms status: OK");

  EXPECT_FALSE(Update(u"<feed><id>urn:f</id><link rel='self' href='S'/><updated>u</updated></feed>"));
  EXPECT_TRUE(Articles().empty());
  EXPECT_EQ(m_source->m_title, u"url");

  EXPECT_TRUE(Update(Rss(u"<channel><item><guid>1</guid></item><language>en</language></channel>")));
  EXPECT_EQ(Field(&CFeed::m_channel), (std::vector<std::u16string>{u""}));
  EXPECT_EQ(m_source->m_title, u"url");
}

// Items straight under rss, with no channel, were once read with the first
// item standing in for the channel: the source was named after that item
// and reported fine. Only a real channel is read.
TEST_F(InterpretTest, AnRssWithoutAChannelIsNotUnderstood) {
  m_source->m_title = u"url";
  m_source->m_autoName = true;
  EXPECT_FALSE(Update(u"<rss version='2.0'><item><title>First</title><guid>1</guid></item>"
                      u"<item><title>Second</title><guid>2</guid></item></rss>"));
  EXPECT_TRUE(Articles().empty());
  EXPECT_EQ(m_source->m_title, u"url");
  EXPECT_TRUE(m_source->m_autoName);
  EXPECT_EQ(m_source->m_commsStatus, u"Comms status: ERROR - unable to understand feed contents");
}

// The keys as the interpretation made them before displayed fields were
// looked up exactly: every lookup by FindChild, a channel without an "item"
// (a feed without an "entry") yielding the child that sorts next as one
// more candidate. Each key comes with whether a real item or entry made it.
struct OldCandidate {
  std::u16string key;
  bool real;
  // What tells apart the items of a key that repeats in the document: the
  // markup of its title, link, date, body and media elements.
  std::vector<std::u16string> identity;
};

std::vector<std::u16string> Identity(std::u16string_view doc, const CXMLNode& item, bool atom) {
  static const std::vector<std::u16string_view> rss = {
      u"title", u"link", u"pubDate", u"pubdate", u"dc:date", u"content:encoded", u"description", u"dc:title",
      u"dc:description", u"itunes:summary", u"media:group", u"media:title", u"media:description", u"media:content",
      u"enclosure"};
  static const std::vector<std::u16string_view> entry = {u"title",   u"link",     u"published",   u"updated",
                                                         u"content", u"summary",  u"dc:title",    u"media:group",
                                                         u"media:title", u"media:description"};
  std::vector<std::u16string> out;
  for (std::u16string_view name : atom ? entry : rss) {
    std::u16string markup;
    for (const CXMLNode* c : item.Children()) {
      if (c->Name() == name) markup += std::u16string(doc.substr(c->MarkupBegin(), c->MarkupEnd() - c->MarkupBegin())) + u"|";
    }
    out.push_back(markup);
  }
  return out;
}

std::u16string OldText(const CXMLNode& node, std::u16string_view name) {
  const CXMLNode* child = node.FindChild(name);
  return child != nullptr ? std::u16string(child->Text()) : std::u16string();
}

std::u16string OldKey(const CXMLNode& item, const std::u16string* atomLink) {
  const std::u16string guid = OldText(item, u"guid");
  if (!guid.empty()) return guid;
  const std::u16string title = OldText(item, u"title");
  return (title.empty() ? u"<Untitled>" : title) + u"@" + (atomLink ? *atomLink : OldText(item, u"link"));
}

std::vector<OldCandidate> OldCandidates(std::u16string_view doc, const CXMLNode& document) {
  std::vector<OldCandidate> out;
  const CXMLNode* e = document.FindChild(u"rss");
  if (e == nullptr) e = document.FindChild(u"feed");
  if (e != nullptr && e->Name() == u"rss") {
    for (const CXMLNode* c = e->FindChild(u"channel"); c != nullptr; c = e->FindNextChild(u"channel")) {
      for (const CXMLNode* i = c->FindChild(u"item"); i != nullptr; i = c->FindNextChild(u"item")) {
        out.push_back({OldKey(*i, nullptr), i->Name() == u"item", Identity(doc, *i, false)});
      }
    }
  } else if (e != nullptr && e->Name() == u"feed") {
    std::u16string self;
    for (const CXMLNode* l = e->FindChild(u"link"); l != nullptr; l = e->FindNextChild(u"link")) {
      if (l->GetAttribute(u"rel") == u"self") {
        self = l->GetAttribute(u"href");
        break;
      }
    }
    for (const CXMLNode* i = e->FindChild(u"entry"); i != nullptr; i = e->FindNextChild(u"entry")) {
      out.push_back({OldKey(*i, &self), i->Name() == u"entry", Identity(doc, *i, true)});
    }
  }
  return out;
}

// Varied feeds: items and entries with any mix of their usual children,
// empty or missing guids, titles and links, extension elements, channels and
// feeds without items, and children whose names sort around the ones looked
// up.
std::u16string RandomFeed(std::mt19937& rng) {
  static const std::u16string itemChildren[] = {
      u"title", u"link", u"guid", u"description", u"pubDate", u"author", u"category", u"comments",
      u"dc:creator", u"enclosure", u"source", u"a", u"h", u"i", u"ti", u"zz", u"id", u"content",
      u"summary", u"published", u"updated", u"guide", u"links", u"titles",
  };
  static const std::u16string texts[] = {u"", u"x", u"y", u"urn:1", u"  T  ", u"http://e/1", u"&amp;"};
  const auto element = [&](const std::u16string& name) {
    if (rng() % 6 == 0) return u"<" + name + u"/>";
    return u"<" + name + u">" + texts[rng() % std::size(texts)] + u"</" + name + u">";
  };
  const auto item = [&](const std::u16string& name) {
    std::u16string s = u"<" + name + u">";
    for (size_t k = rng() % 6; k > 0; --k) s += element(itemChildren[rng() % std::size(itemChildren)]);
    return s + u"</" + name + u">";
  };
  const bool atom = rng() % 3 == 0;
  std::u16string doc;
  if (atom) {
    doc = u"<feed>";
    for (size_t k = rng() % 7; k > 0; --k) {
      switch (rng() % 5) {
        case 0: doc += element(u"title"); break;
        case 1: doc += u"<link rel='self' href='" + texts[rng() % std::size(texts)] + u"'/>"; break;
        case 2: doc += element(itemChildren[rng() % std::size(itemChildren)]); break;
        default: doc += item(u"entry"); break;
      }
    }
    return doc + u"</feed>";
  }
  doc = u"<rss>";
  for (size_t c = rng() % 3 + 1; c > 0; --c) {
    doc += u"<channel>";
    for (size_t k = rng() % 7; k > 0; --k) {
      switch (rng() % 4) {
        case 0: doc += element(u"title"); break;
        case 1: doc += element(itemChildren[rng() % std::size(itemChildren)]); break;
        default: doc += item(u"item"); break;
      }
    }
    doc += u"</channel>";
  }
  return doc + u"</rss>";
}

TEST(InterpretKeysTest, EveryKeyStillMadeIsTheKeyMadeBefore) {
  std::mt19937 rng(4401);
  size_t articles = 0, phantoms = 0, untitled = 0, repeated = 0;
  for (int n = 0; n < 3000; ++n) {
    const std::u16string doc = RandomFeed(rng);
    CXMLParser parser;
    const CXMLNode& document = parser.Parse(doc);
    // The new interpretation adds the real candidates in document order,
    // each under the key it always had unless an earlier one had that key;
    // such a later one comes under a key of its own (written "" here)
    // unless it is equal to an earlier one of that key.
    std::vector<std::u16string> want;
    std::map<std::u16string, std::set<std::vector<std::u16string>>> seen;
    std::set<std::u16string> oldKeys;
    for (const OldCandidate& c : OldCandidates(doc, document)) {
      phantoms += c.real ? 0 : 1;
      if (!c.real) continue;
      oldKeys.insert(c.key);
      const auto [it, first] = seen.try_emplace(c.key);
      if (it->second.insert(c.identity).second) want.push_back(first ? c.key : u"");
      repeated += first ? 0 : 1;
    }
    CFeedsManager manager;
    CFeedSource* source = CModelWriter(manager).NewFeedSource();
    InterpretDocument(manager, *source, SharedText(doc), document, 1);
    std::vector<std::u16string> got;
    for (ObjectId id : source->m_articles) {
      got.push_back(manager.GetFeed(id)->m_key);
      untitled += got.back().starts_with(u"<Untitled>@") ? 1 : 0;
    }
    for (size_t n = 0; n < got.size() && n < want.size(); ++n) {
      if (want[n].empty() && oldKeys.count(got[n]) == 0) got[n].clear();
    }
    ASSERT_EQ(got, want) << Utf16ToUtf8(doc);
    articles += got.size();
  }
  // The corpus holds what the keys depend on.
  EXPECT_GT(articles, 3000u);
  EXPECT_GT(phantoms, 100u);
  EXPECT_GT(untitled, 100u);
  EXPECT_GT(repeated, 500u);
}

TEST_F(InterpretTest, AnUnescapedTagHidesTheLaterItems) {
  EXPECT_TRUE(Update(Rss(u"<channel><title>C</title>"
                         u"<item><title>one</title><description>x<br>y</description></item>"
                         u"<item><title>two</title></item></channel>")));
  EXPECT_EQ(Field(&CFeed::m_title), (std::vector<std::u16string>{u"one"}));
  EXPECT_EQ(Field(&CFeed::m_description), (std::vector<std::u16string>{u""}));
}

TEST_F(InterpretTest, SecondUpdateAddsNothingAndDeletedArticlesStayAway) {
  const std::u16string doc = Rss(u"<channel><title>C</title><item><guid>1</guid></item>"
                                 u"<item><guid>2</guid></item><item><guid>3</guid></item></channel>");
  EXPECT_TRUE(Update(doc));
  ASSERT_EQ(Articles().size(), 3u);
  const ObjectId deleted = m_source->m_articles[1];
  m_manager.DeleteArticles({deleted});
  EXPECT_EQ(Field(&CFeed::m_key), (std::vector<std::u16string>{u"1", u"3"}));

  m_source->m_lastUpdateTick = 0;
  EXPECT_FALSE(Update(doc, 77));
  EXPECT_EQ(Field(&CFeed::m_key), (std::vector<std::u16string>{u"1", u"3"}));
  EXPECT_EQ(m_source->m_lastUpdateTick, 77u);  // a success even without news
  // The candidates that were not new are gone from the store: the group,
  // the source and its two articles remain.
  EXPECT_EQ(m_manager.Storage().Size(), 1u + 1u + 2u);

  // A known item with a changed title is not updated.
  EXPECT_FALSE(Update(Rss(u"<channel><title>C</title><item><title>new</title><guid>1</guid></item></channel>")));
  EXPECT_EQ(Articles()[0]->m_title, u"<Untitled>");
}

TEST_F(InterpretTest, AFeedOfMoreThan500ItemsDoesNotDuplicateItself) {
  const std::u16string doc = RssItems(0, 600);
  EXPECT_TRUE(Update(doc));
  EXPECT_EQ(Articles().size(), 600u);
  EXPECT_FALSE(Update(doc));
  EXPECT_FALSE(Update(doc));
  EXPECT_EQ(Articles().size(), 600u);
  EXPECT_EQ(m_source->m_history.size(), 600u);

  // The next, smaller document brings the bound back.
  EXPECT_TRUE(Update(RssItems(600, 610)));
  EXPECT_EQ(Articles().size(), 610u);
  EXPECT_EQ(m_source->m_history.size(), 500u);
  for (int i = 600; i < 610; ++i) EXPECT_TRUE(m_source->IsInHistory(u"g" + Widen(std::to_string(i))));
  EXPECT_FALSE(m_source->IsInHistory(u"g0"));  // the oldest went first
}

TEST_F(InterpretTest, AtomEntries) {
  m_source->m_autoName = true;
  EXPECT_TRUE(Update(
      u"<?xml version='1.0' encoding='utf-8'?>"
      u"<feed xmlns=\"http://www.w3.org/2005/Atom\"><title> Atom &amp; Co </title>"
      u"<link rel=\"alternate\" href=\"http://example.org/\"/>"
      u"<link rel=\"self\" href=\"S\"/>"
      u"<entry><title>One</title><link href=\"http://example.org/1\"/><id>urn:1</id>"
      u"<published>Mon, 04 May 2009 10:20:30 GMT</published><content type=\"html\">&lt;p&gt;c&lt;/p&gt;</content></entry>"
      u"<entry><title>Two</title><id>urn:2</id><summary>s</summary></entry>"
      u"</feed>"));
  EXPECT_EQ(m_source->m_title, u"Atom & Co");
  EXPECT_EQ(Field(&CFeed::m_title), (std::vector<std::u16string>{u"One", u"Two"}));
  // An entry's own link, else the feed's self link.
  EXPECT_EQ(Field(&CFeed::m_link), (std::vector<std::u16string>{u"http://example.org/1", u"S"}));
  EXPECT_EQ(Field(&CFeed::m_channel), (std::vector<std::u16string>{u"Atom & Co", u"Atom & Co"}));
  // Without "content" the summary; the key's "guid" lookup finds "id".
  EXPECT_EQ(Field(&CFeed::m_description), (std::vector<std::u16string>{u"<p>c</p>", u"s"}));
  EXPECT_EQ(Field(&CFeed::m_key), (std::vector<std::u16string>{u"urn:1", u"urn:2"}));
  EXPECT_TRUE(Articles()[0]->m_date.IsValid());
  EXPECT_EQ(m_source->m_commsStatus, u"Comms status: OK");
}

// Without a link of its own an entry leads to the feed's self link, as it
// always did (and that link stays part of its key).
TEST_F(InterpretTest, AtomSelfLink) {
  const struct {
    std::u16string links;
    std::u16string want;
  } cases[] = {
      {u"<link rel='alternate' href='A'/>", u""},
      {u"<link href='A'/><link rel='self' href='S'/>", u"S"},
      {u"<link rel='Self' href='A'/>", u""},                             // case-sensitive
      {u"<link rel='self'/><link rel='self' href='S'/>", u""},           // the first self decides
      {u"<link rel='self' href='S1'/><link rel='self' href='S2'/>", u"S1"},
  };
  for (const auto& c : cases) {
    CFeedsManager manager;
    CFeedSource* source = CModelWriter(manager).NewFeedSource();
    const std::u16string doc = u"<feed><title>F</title>" + c.links + u"<entry><id>1</id></entry></feed>";
    CXMLParser parser;
    InterpretDocument(manager, *source, SharedText(doc), parser.Parse(doc), 1);
    ASSERT_EQ(source->m_articles.size(), 1u);
    EXPECT_EQ(manager.GetFeed(source->m_articles[0])->m_link, c.want) << Utf16ToUtf8(c.links);
  }
}

TEST_F(InterpretTest, AnAtomFeedWithoutEntriesIsStillASuccess) {
  EXPECT_FALSE(Update(u"<feed><author><name>A</name></author><category term='c'/></feed>", 9));
  EXPECT_EQ(m_source->m_commsStatus, u"Comms status: OK");
  EXPECT_EQ(m_source->m_lastUpdateTick, 9u);
  EXPECT_TRUE(Articles().empty());
}

TEST_F(InterpretTest, DocumentsThatAreNotUnderstood) {
  const std::u16string documents[] = {
      u"",
      u"<html><body>Not a feed</body></html>",
      u"<rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\"><rdf:Description/></rdf:RDF>",
      // a DOCTYPE holding no feed
      u"<!DOCTYPE html><html><body><p>Not a feed</p></body></html>",
      // JSON that is not a JSON Feed, or not JSON at all
      u"{\"version\": \"https://example.org/version/1\", \"items\": []}",
      u"{\"version\": \"https://jsonfeed.org/version/1.1\", \"items\": [}",
      u"{\"version\": 1, \"title\": \"x\"}",
      u"[{\"version\": \"https://jsonfeed.org/version/1\"}]",
      u"<rss version=\"2.0\"/>",  // no channel
      u"<rss><category>c</category></rss>",  // "category" sorts before "channel": no channel
  };
  for (size_t i = 0; i < std::size(documents); ++i) {
    m_source->m_commsStatus.clear();
    m_source->m_lastUpdateTick = 0;
    EXPECT_FALSE(Update(documents[i])) << i;
    EXPECT_EQ(m_source->m_commsStatus, u"Comms status: ERROR - unable to understand feed contents") << i;
    EXPECT_EQ(m_source->m_lastUpdateTick, 0u) << i;
  }
  EXPECT_TRUE(Articles().empty());
}

TEST_F(InterpretTest, ARealFeedDecodedFromBytes) {
  const std::string bytes =
      "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<?xml-stylesheet type=\"text/xsl\" href=\"/rss.xsl\"?>\n"
      "<!-- generator: hand -->\n"
      "<rss version=\"2.0\" xmlns:atom=\"http://www.w3.org/2005/Atom\" "
      "xmlns:dc=\"http://purl.org/dc/elements/1.1/\">\n"
      "<channel>\n  <title>Caf\xC3\xA9 &amp; Cr\xC3\xA8me</title>\n"
      "  <atom:link href=\"http://example.org/rss\" rel=\"self\" type=\"application/rss+xml\"/>\n"
      "  <link>http://example.org/</link>\n  <language>fr</language>\n"
      "  <item>\n    <title>Un &lt;b&gt;gras&lt;/b&gt; \xE2\x82\xAC</title>\n"
      "    <link>http://example.org/1?a=1&amp;b=2</link>\n"
      "    <description><![CDATA[<p>Hello & <i>world</i></p>]]></description>\n"
      "    <dc:creator>Ann</dc:creator>\n"
      "    <pubDate>Tue, 05 May 2009 08:00:00 +0200</pubDate>\n"
      "    <guid isPermaLink=\"true\">http://example.org/1</guid>\n  </item>\n"
      "  <item>\n    <title>Deux</title>\n    <link>http://example.org/2</link>\n  </item>\n"
      "</channel>\n</rss>\n";
  m_source->m_autoName = true;
  EXPECT_TRUE(Update(Utf8ToUtf16(bytes)));
  EXPECT_EQ(m_source->m_title, u"Caf\u00e9 & Cr\u00e8me");
  const auto articles = Articles();
  ASSERT_EQ(articles.size(), 2u);
  EXPECT_EQ(articles[0]->m_title, u"Un <b>gras</b> \u20ac");
  EXPECT_EQ(articles[0]->m_link, u"http://example.org/1?a=1&b=2");
  EXPECT_EQ(articles[0]->m_description, u"<p>Hello & <i>world</i></p>");
  EXPECT_EQ(articles[0]->m_key, u"http://example.org/1");
  EXPECT_TRUE(articles[0]->m_date.IsValid());
  EXPECT_EQ(articles[1]->m_key, u"http://example.org/2");  // "guid" finds "link"
}

// ---------------------------------------------------------------- what is shown

// One document interpreted into a fresh model.
struct Interpreted {
  std::unique_ptr<CFeedsManager> manager = std::make_unique<CFeedsManager>();
  CFeedSource* source = nullptr;
  bool added = false;
  std::vector<const CFeed*> articles;

  const CFeed& operator[](size_t n) const { return *articles.at(n); }
};

Interpreted Interpret(const std::u16string& document, const std::u16string& url = {}) {
  Interpreted r;
  r.source = CModelWriter(*r.manager).NewFeedSource();
  r.source->m_url = url;
  r.source->m_autoName = true;
  r.added = InterpretFeed(*r.manager, *r.source, ParseFeed(SharedText(document)), 1);
  for (ObjectId id : r.source->m_articles) r.articles.push_back(r.manager->GetFeed(id));
  return r;
}

std::u16string RssItem(const std::u16string& children) {
  return Rss(u"<channel><title>C</title><item>" + children + u"</item></channel>");
}

std::u16string AtomEntry(const std::u16string& children, const std::u16string& feedChildren = u"") {
  return u"<feed xmlns=\"http://www.w3.org/2005/Atom\">" + feedChildren + u"<entry>" + children + u"</entry></feed>";
}

// Titles, links and bodies decode every character reference and the five
// entities, once; the keys are made from the parser's texts as before.
TEST(InterpretShownTest, ReferencesAreDecodedOnceAndKeysStay) {
  const Interpreted rss = Interpret(Rss(
      u"<channel><title>&quot;Q&quot; &#38; co</title><item>"
      u"<title>He said &quot;hi&quot; &#8211; it&#39;s &amp;quot;</title>"
      u"<link>http://e.org/?a=1&amp;b=2&#38;c=3</link>"
      u"<description>&lt;img src=&quot;http://e.org/p.png&quot;&gt; &amp;quot;x&amp;quot; &#x263A;</description>"
      u"</item></channel>"));
  ASSERT_EQ(rss.articles.size(), 1u);
  EXPECT_EQ(rss[0].m_title, u"He said \"hi\" \u2013 it's &quot;");
  EXPECT_EQ(TitleText(rss[0].m_title), u"He said \"hi\" \u2013 it's \"");  // the feed's HTML, shown as text
  EXPECT_EQ(rss[0].m_link, u"http://e.org/?a=1&b=2&c=3");
  EXPECT_EQ(rss[0].m_description, u"<img src=\"http://e.org/p.png\"> &quot;x&quot; \u263A");
  EXPECT_EQ(rss[0].m_channel, u"\"Q\" & co");
  EXPECT_EQ(rss.source->m_title, u"\"Q\" & co");
  // "guid" finds "link": its text as the parser stores it.
  EXPECT_EQ(rss[0].m_key, u"http://e.org/?a=1&b=2&#38;c=3");

  const Interpreted atom = Interpret(AtomEntry(
      u"<title>&#233;t&#xE9; &amp;amp;</title><link href=\"http://e.org/?a=1&amp;b=&#50;\"/>"
      u"<content type=\"html\">&lt;p&gt;&amp;lt;tag&amp;gt; &#169;&lt;/p&gt;</content>"));
  ASSERT_EQ(atom.articles.size(), 1u);
  EXPECT_EQ(TitleText(atom[0].m_title), u"\u00e9t\u00e9 &amp;");
  EXPECT_EQ(atom[0].m_link, u"http://e.org/?a=1&b=2");
  EXPECT_EQ(atom[0].m_description, u"<p>&lt;tag&gt; \u00a9</p>");
  EXPECT_EQ(atom[0].m_key, u"&#233;t&#xE9; &amp;@");  // no id, no self link: title@link as ever
}

// A title is kept as the HTML the feed means and shown as text.
TEST(InterpretShownTest, TitlesShowAsText) {
  const struct {
    std::u16string document;
    std::u16string shown;
  } cases[] = {
      {AtomEntry(u"<title type=\"html\">&lt;b&gt;bold?&lt;/b&gt;</title>"), u"bold?"},
      {AtomEntry(u"<title type=\"text\">a &lt;b&gt; c</title>"), u"a <b> c"},
      {AtomEntry(u"<title>AT&amp;T &lt;3</title>"), u"AT&T <3"},
      {AtomEntry(u"<title type=\"xhtml\"><div xmlns=\"http://www.w3.org/1999/xhtml\"><i>x</i> y</div></title>"),
       u"x y"},
      {AtomEntry(u"<title mode=\"escaped\" type=\"text/html\">&lt;b&gt;&amp;amp;&lt;/b&gt;</title>"), u"&"},
      {RssItem(u"<title>&lt;i&gt;x&lt;/i&gt; &amp;amp; y</title>"), u"x & y"},
      {RssItem(u"<title>Use &lt;b&gt; for bold</title>"), u"Use <b> for bold"},  // no end tag: text
      {RssItem(u"<title><![CDATA[Q&A <3]]></title>"), u"Q&A <3"},
      {RssItem(u"<title></title><media:title>From the media</media:title>"), u"From the media"},
      {RssItem(u"<description>d</description>"), u"<Untitled>"},
      {u"{\"version\":\"https://jsonfeed.org/version/1.1\",\"items\":[{\"id\":\"1\",\"title\":\"a <b> &amp;\"}]}",
       u"a <b> &amp;"},
  };
  for (const auto& c : cases) {
    const Interpreted r = Interpret(c.document);
    ASSERT_EQ(r.articles.size(), 1u) << Utf16ToUtf8(c.document);
    EXPECT_EQ(TitleText(r[0].m_title), c.shown) << Utf16ToUtf8(c.document);
  }
}

TEST(InterpretShownTest, AnAtomEntryLinksToItsOwnPage) {
  const struct {
    std::u16string feedChildren, entryChildren, url, link;
  } cases[] = {
      {u"<link rel='self' href='http://e.org/feed'/>",
       u"<link rel='self' href='http://e.org/e1.atom'/><link rel='alternate' href='http://e.org/1'/>", u"",
       u"http://e.org/1"},
      {u"", u"<link rel='enclosure' href='http://e.org/a.mp3'/><link href='http://e.org/2'/>", u"", u"http://e.org/2"},
      {u"", u"<link rel='alternate' href=''/><link rel='related' href='http://r/'/><link href='http://e.org/3'/>", u"",
       u"http://e.org/3"},
      // relative: against the xml:base in scope, then the feed's address
      {u"", u"<link href='posts/4'/>", u"https://e.org/blog/feed.xml", u"https://e.org/blog/posts/4"},
      {u"", u"<link href='/4'/>", u"", u"/4"},
      {u"", u"<link xml:base='../x/' href='5'/>", u"https://e.org/a/b/feed", u"https://e.org/a/x/5"},
      {u"", u"<link href='6?a=1&amp;b=2'/>", u"http://e.org/", u"http://e.org/6?a=1&b=2"},
      // no link of its own: the feed's self link, as always; without one
      // its id when that is a web address
      {u"<link rel='self' href='http://e.org/feed'/>", u"<id>http://e.org/id/7</id>", u"", u"http://e.org/feed"},
      {u"", u"<id>http://e.org/id/8</id>", u"", u"http://e.org/id/8"},
      {u"", u"<id>tag:e.org,2009:9</id>", u"", u""},
  };
  for (const auto& c : cases) {
    const std::u16string doc = u"<feed xml:base='" + std::u16string(c.url.empty() ? u"" : u"") + u"'>" +
                               c.feedChildren + u"<entry>" + c.entryChildren + u"<title>t</title></entry></feed>";
    const Interpreted r = Interpret(doc, c.url);
    ASSERT_EQ(r.articles.size(), 1u) << Utf16ToUtf8(doc);
    EXPECT_EQ(r[0].m_link, c.link) << Utf16ToUtf8(doc);
  }
  // xml:base on the feed and on the entry.
  const Interpreted based = Interpret(
      u"<feed xml:base='http://e.org/a/'><entry xml:base='b/'><title>t</title><link href='c.html'/></entry>"
      u"<entry xml:base='http://other.org/'><title>u</title><link href='/d.html'/></entry></feed>",
      u"http://ignored.org/feed");
  ASSERT_EQ(based.articles.size(), 2u);
  EXPECT_EQ(based[0].m_link, u"http://e.org/a/b/c.html");
  EXPECT_EQ(based[1].m_link, u"http://other.org/d.html");
}

TEST(InterpretShownTest, AnAtomEntrysBody) {
  const struct {
    std::u16string children, body;
  } cases[] = {
      {u"<content type='html'>&lt;p&gt;c&lt;/p&gt;</content><summary>s</summary>", u"<p>c</p>"},
      {u"<summary type='html'>&lt;p&gt;only a summary&lt;/p&gt;</summary>", u"<p>only a summary</p>"},
      {u"<content type='html'>  </content><summary>s</summary>", u"s"},
      {u"<content type='text'>\n</content><summary>The summary</summary>", u"The summary"},  // blank: none
      // A div is the wrapper only when it wraps everything.
      {u"<content type='xhtml'><p>Intro paragraph</p><div class='more'>More</div></content>",
       u"<p>Intro paragraph</p><div class='more'>More</div>"},
      {u"<content type='xhtml'><div xmlns='http://www.w3.org/1999/xhtml'><p>In <b>xhtml</b> &amp; &#233;</p></div>"
       u"</content>",
       u"<p>In <b>xhtml</b> &amp; &#233;</p>"},
      {u"<content type='text'>x &lt; y &amp; z\nnext</content>", u"x &lt; y &amp; z<br>\nnext"},
      {u"<content>plain &lt;b&gt;</content>", u"plain &lt;b&gt;"},  // no type: text
      {u"<content type='text/plain'>t</content>", u"t"},
      {u"<content type='application/json'>{\"a\":1}</content>", u"{&quot;a&quot;:1}"},
      {u"<content type='image/png' src='http://e.org/a.png'/><summary>s</summary>", u"s"},
      // YouTube
      {u"<media:group><media:title>t</media:title><media:description>Line one\nLine &amp; two</media:description>"
       u"</media:group>",
       u"Line one<br>\nLine &amp; two"},
      // Atom 0.3
      {u"<content type='text/html' mode='escaped'>&lt;i&gt;e&lt;/i&gt;</content>", u"<i>e</i>"},
      {u"<content type='application/xhtml+xml' mode='xml'><div xmlns='http://www.w3.org/1999/xhtml'><i>x</i></div>"
       u"</content>",
       u"<i>x</i>"},
  };
  for (const auto& c : cases) {
    const Interpreted r = Interpret(AtomEntry(u"<title>t</title>" + c.children));
    ASSERT_EQ(r.articles.size(), 1u) << Utf16ToUtf8(c.children);
    EXPECT_EQ(r[0].m_description, c.body) << Utf16ToUtf8(c.children);
  }
}

TEST(InterpretShownTest, TheDateOfEachFormat) {
  const ScopedTimeZone utc("UTC0");
  const struct {
    std::u16string document, dateText;
  } cases[] = {
      {AtomEntry(u"<published>2009-05-04T10:00:00Z</published><updated>2010-01-01T00:00:00Z</updated>"),
       u"2009-05-04T10:00:00Z"},
      // Atom 0.3
      {AtomEntry(u"<modified>2009-05-05T10:00:00Z</modified><issued>2009-05-04T10:00:00Z</issued>"
                 u"<created>2009-05-03T10:00:00Z</created>"),
       u"2009-05-04T10:00:00Z"},
      {AtomEntry(u"<created>2009-05-03T10:00:00Z</created><modified>2009-05-05T10:00:00Z</modified>"),
       u"2009-05-05T10:00:00Z"},
      {AtomEntry(u"<created>2009-05-03T10:00:00Z</created>"), u"2009-05-03T10:00:00Z"},
      {RssItem(u"<pubDate>Mon, 04 May 2009 10:00:00 GMT</pubDate><dc:date>2010-01-01T00:00:00Z</dc:date>"),
       u"Mon, 04 May 2009 10:00:00 GMT"},
      {RssItem(u"<dc:date>2009-05-04T10:00:00Z</dc:date>"), u"2009-05-04T10:00:00Z"},
      {RssItem(u"<pubDate> </pubDate><dc:date>2009-05-04T10:00:00Z</dc:date>"), u"2009-05-04T10:00:00Z"},
  };
  for (const auto& c : cases) {
    const Interpreted r = Interpret(c.document);
    ASSERT_EQ(r.articles.size(), 1u) << Utf16ToUtf8(c.document);
    EXPECT_EQ(r[0].m_dateText, c.dateText) << Utf16ToUtf8(c.document);
    EXPECT_TRUE(r[0].m_date.IsValid()) << Utf16ToUtf8(c.document);
  }
  // A zone converts; the date sorts at the moment it names.
  const Interpreted zoned = Interpret(Rss(u"<channel><item><guid>1</guid><pubDate>Tue, 05 May 2009 01:30:00 +0900"
                                          u"</pubDate></item><item><guid>2</guid><pubDate>Mon, 04 May 2009 "
                                          u"17:00:00 GMT</pubDate></item></channel>"));
  ASSERT_EQ(zoned.articles.size(), 2u);
  EXPECT_EQ(zoned[0].m_date, CDateTime::FromFields({2009, 5, 4, 16, 30, 0}));
  EXPECT_EQ(CompareDates(zoned[0].m_date, zoned[1].m_date), -1);
}

TEST(InterpretShownTest, AnRssItemsBodyAndLink) {
  const struct {
    std::u16string children, url, link, body;
  } cases[] = {
      {u"<description>short</description><content:encoded><![CDATA[<p>full</p>]]></content:encoded>", u"", u"",
       u"<p>full</p>"},
      {u"<content:encoded></content:encoded><description>short</description>", u"", u"", u"short"},
      {u"<itunes:summary>An episode &amp; more</itunes:summary>", u"", u"", u"An episode &amp; more"},
      // the link, else a guid that is a permalink and a web address
      {u"<guid>https://e.org/p/1</guid>", u"", u"https://e.org/p/1", u""},
      {u"<guid isPermaLink='true'> http://e.org/p/2 </guid>", u"", u"http://e.org/p/2", u""},
      {u"<guid isPermaLink='false'>http://e.org/p/3</guid>", u"", u"", u""},
      {u"<guid>urn:uuid:4</guid>", u"", u"", u""},
      {u"<link>http://e.org/5</link><guid>http://e.org/p/5</guid>", u"", u"http://e.org/5", u""},
      {u"<atom:link rel='alternate' href='http://e.org/6'/>", u"", u"http://e.org/6", u""},
      // relative, against the feed's address
      {u"<link>\n  posts/7  \n</link>", u"http://e.org/blog/rss", u"http://e.org/blog/posts/7", u""},
  };
  for (const auto& c : cases) {
    const Interpreted r = Interpret(RssItem(u"<title>t</title>" + c.children), c.url);
    ASSERT_EQ(r.articles.size(), 1u) << Utf16ToUtf8(c.children);
    EXPECT_EQ(r[0].m_link, c.link) << Utf16ToUtf8(c.children);
    EXPECT_EQ(r[0].m_description, c.body) << Utf16ToUtf8(c.children);
  }
}

// The parser leaves the document inside an element it takes a declaration
// (or a comment broken by a ">") for: the feed is looked for inside.
TEST(InterpretShownTest, TheFeedInsideADoctype) {
  const std::u16string items = u"<item><title>i</title><guid>g</guid></item>";
  const std::u16string documents[] = {
      u"<?xml version=\"1.0\"?>\n<!DOCTYPE rss PUBLIC \"-//Netscape Communications//DTD RSS 0.91//EN\"\n"
      u" \"http://my.netscape.com/publish/formats/rss-0.91.dtd\">\n<rss version=\"0.91\"><channel><title>D</title>" +
          items + u"</channel></rss>",
      u"<!DOCTYPE rss [<!ENTITY a \"x\"><!ENTITY b \"y\">]><rss><channel><title>D</title>" + items + u"</channel></rss>",
      u"<!--\nExpect: title == '<b>'\n--><rss><channel><title>D</title>" + items + u"</channel></rss>",
      u"<!DOCTYPE feed><feed><title>D</title><entry><title>i</title><id>g</id></entry></feed>",
  };
  for (const std::u16string& doc : documents) {
    const Interpreted r = Interpret(doc);
    EXPECT_EQ(r.source->m_commsStatus, kCommsStatusOk) << Utf16ToUtf8(doc);
    ASSERT_EQ(r.articles.size(), 1u) << Utf16ToUtf8(doc);
    EXPECT_EQ(r[0].m_title, u"i");
    EXPECT_EQ(r[0].m_key, u"g");
    EXPECT_EQ(r.source->m_title, u"D");
  }
}

TEST(InterpretShownTest, Rss1) {
  const ScopedTimeZone utc("UTC0");
  const std::u16string doc =
      u"<?xml version=\"1.0\"?>\n<rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\" "
      u"xmlns=\"http://purl.org/rss/1.0/\" xmlns:dc=\"http://purl.org/dc/elements/1.1/\">"
      u"<channel rdf:about=\"http://e.org/\"><title>RDF &amp; co</title><link>http://e.org/</link>"
      u"<items><rdf:Seq><rdf:li rdf:resource=\"http://e.org/1\"/></rdf:Seq></items></channel>"
      u"<item rdf:about=\"http://e.org/1\"><title>One</title><link>http://e.org/1</link>"
      u"<description>short</description><dc:date>2009-05-04T10:00:00+02:00</dc:date></item>"
      u"<item><title>Two</title><link> http://e.org/2 </link>"
      u"<content:encoded><![CDATA[<p>full</p>]]></content:encoded><description>short</description></item>"
      u"<item rdf:about=\"urn:3\"><title>Three</title></item>"
      u"</rdf:RDF>";
  Interpreted r = Interpret(doc);
  EXPECT_TRUE(r.added);
  EXPECT_EQ(r.source->m_commsStatus, kCommsStatusOk);
  EXPECT_EQ(r.source->m_title, u"RDF & co");
  ASSERT_EQ(r.articles.size(), 3u);
  EXPECT_EQ(r[0].m_key, u"http://e.org/1");
  EXPECT_EQ(r[1].m_key, u"Two@ http://e.org/2 ");
  EXPECT_EQ(r[2].m_key, u"urn:3");
  EXPECT_EQ(r[0].m_description, u"short");
  EXPECT_EQ(r[1].m_description, u"<p>full</p>");
  EXPECT_EQ(r[1].m_link, u"http://e.org/2");
  EXPECT_EQ(r[0].m_date, CDateTime::FromFields({2009, 5, 4, 8, 0, 0}));
  EXPECT_EQ(r[0].m_channel, u"RDF & co");
  EXPECT_EQ(r[0].m_sourceText.str().substr(0, 31), u"<item rdf:about=\"http://e.org/1");
  // The same document again brings nothing new.
  EXPECT_FALSE(InterpretFeed(*r.manager, *r.source, ParseFeed(SharedText(doc)), 2));
  EXPECT_EQ(r.source->m_articles.size(), 3u);
}

TEST(InterpretShownTest, JsonFeed) {
  const ScopedTimeZone utc("UTC0");
  for (const std::u16string version : {u"https://jsonfeed.org/version/1", u"https://jsonfeed.org/version/1.1"}) {
    const std::u16string doc =
        u"\uFEFF {\"version\": \"" + version + u"\", \"title\": \"JSON & co\", \"home_page_url\": \"https://e.org/\","
        u" \"items\": [\n"
        u"  {\"id\": \"1\", \"url\": \"https://e.org/1\", \"title\": \"One\", \"content_html\": \"<p>html</p>\","
        u" \"content_text\": \"text\", \"date_published\": \"2009-05-04T10:00:00+02:00\"},\n"
        u"  {\"id\": 2, \"external_url\": \"https://other.org/2\", \"content_html\": \" \", \"content_text\": \"a < b\\nc\","
        u" \"title\": \"Cut emoji \\ud83d\","
        u" \"summary\": \"s\", \"date_modified\": \"2009-05-05T10:00:00Z\"},\n"
        u"  {\"id\": \"3\", \"url\": \"posts/3\", \"summary\": \"only a \\\"summary\\\" {}\"},\n"
        u"  \"not an item\",\n"
        u"  {\"title\": \"No id\", \"url\": \"https://e.org/4\", \"attachments\": [{\"url\": \"https://e.org/4.mp3\","
        u" \"mime_type\": \"audio/mpeg\", \"size_in_bytes\": 1024}]}\n"
        u"]}";
    Interpreted r = Interpret(doc, u"https://e.org/feed.json");
    SCOPED_TRACE(Utf16ToUtf8(version));
    EXPECT_TRUE(r.added);
    EXPECT_EQ(r.source->m_commsStatus, kCommsStatusOk);
    EXPECT_EQ(r.source->m_title, u"JSON & co");
    ASSERT_EQ(r.articles.size(), 4u);
    EXPECT_EQ(r[0].m_key, u"1");
    EXPECT_EQ(r[1].m_key, u"2");
    EXPECT_EQ(r[3].m_key, u"No id@https://e.org/4");
    EXPECT_EQ(r[0].m_link, u"https://e.org/1");
    EXPECT_EQ(r[1].m_link, u"https://other.org/2");
    EXPECT_EQ(r[2].m_link, u"https://e.org/posts/3");
    EXPECT_EQ(r[0].m_description, u"<p>html</p>");
    EXPECT_EQ(r[1].m_description, u"a &lt; b<br>\nc");
    EXPECT_EQ(r[2].m_description, u"only a &quot;summary&quot; {}");
    EXPECT_EQ(r[1].m_title, u"Cut emoji \uFFFD");  // the lone half of a pair, not the feed, is lost
    EXPECT_EQ(r[0].m_date, CDateTime::FromFields({2009, 5, 4, 8, 0, 0}));
    EXPECT_EQ(r[1].m_dateText, u"2009-05-05T10:00:00Z");
    EXPECT_EQ(r[0].m_channel, u"JSON & co");
    // Each keeps its own JSON as it stands in the document.
    EXPECT_EQ(r[2].m_sourceText.str(), u"{\"id\": \"3\", \"url\": \"posts/3\", \"summary\": \"only a \\\"summary\\\" {}\"}");
    EXPECT_TRUE(r[3].m_sourceText.str().starts_with(u"{\"title\": \"No id\""));
    EXPECT_TRUE(r[3].m_sourceText.str().ends_with(u"\"size_in_bytes\": 1024}]}"));
    EXPECT_FALSE(InterpretFeed(*r.manager, *r.source, ParseFeed(SharedText(doc)), 2));
  }
}

// The keys never move: a data file as the last release wrote it (after
// adding these documents with its quillbend-cli), updated with the same
// documents, keeps every stored key and article and gains only the items
// that release lost because their key repeated an earlier item's; a second
// update gains nothing.
TEST(InterpretKeysTest, ADataFileOfTheLastReleaseGainsOnlyWhatItLost) {
  const std::string folder = std::string(QB_SOURCE_DIR) + "/tests/formats/data/last-release/";
  const std::map<std::string, std::vector<std::u16string>> lost = {
      {"atom-no-self.xml", {u"Two"}},
      {"rss-no-guid.xml", {u"<Untitled>", u"Same date, other title"}},
  };
  CFeedsManager manager;
  ASSERT_TRUE(LoadFromBytes(manager, test::ReadFile(folder + "Feeds")).ok());
  std::vector<CFeedSource*> sources;
  for (const auto& [id, record] : manager.Storage().IdIndex()) {
    if (CFeedSource* s = CModelWriter(manager).Source(id)) sources.push_back(s);
  }
  ASSERT_EQ(sources.size(), 7u);
  size_t articles = 0;
  for (CFeedSource* s : sources) {
    const std::string name = Utf16ToUtf8(s->m_url.substr(s->m_url.rfind(u'/') + 1));
    SCOPED_TRACE(name);
    const std::vector<ObjectId> before = s->m_articles;
    const auto history = s->m_history;
    ASSERT_FALSE(before.empty());
    const SharedText text(DecodeFeedBytes(test::ReadFile(folder + name)));
    const auto it = lost.find(name);
    EXPECT_EQ(ParseAndInterpret(manager, *s, text, 9), it != lost.end());
    ASSERT_GE(s->m_articles.size(), before.size());
    EXPECT_TRUE(std::equal(before.begin(), before.end(), s->m_articles.begin()));
    std::vector<std::u16string> added;
    for (size_t n = before.size(); n < s->m_articles.size(); ++n) added.push_back(manager.GetFeed(s->m_articles[n])->m_title);
    EXPECT_EQ(added, it != lost.end() ? it->second : std::vector<std::u16string>{});
    for (const auto& [key, entry] : history) EXPECT_EQ(s->m_history.at(key), entry) << Utf16ToUtf8(key);
    EXPECT_EQ(s->m_commsStatus, kCommsStatusOk);
    EXPECT_FALSE(ParseAndInterpret(manager, *s, text, 10));
    articles += before.size();
  }
  EXPECT_EQ(articles, 20u);
}

TEST_F(InterpretTest, DeepDocumentsAreInterpretedWithoutRecursion) {
  std::u16string doc = u"<rss><channel><title>C</title>";
  for (int i = 0; i < 100000; ++i) doc += u"<item>";
  EXPECT_TRUE(Update(doc));
  EXPECT_EQ(Articles().size(), 1u);
}

}  // namespace
}  // namespace qb

namespace qb {
namespace {

// Retention deletes the old read articles; their keys stay in the history,
// so the next update of the same document does not bring them back, while
// unread and undated ones are kept whatever their age.
TEST_F(InterpretTest, ArticlesRetentionDeletedDoNotReturnWithTheNextUpdate) {
  const std::u16string doc =
      Rss(u"<channel><title>C</title>"
          u"<item><guid>old-read</guid><pubDate>Mon, 04 May 2009 10:20:30 GMT</pubDate></item>"
          u"<item><guid>old-unread</guid><pubDate>Mon, 04 May 2009 10:20:30 GMT</pubDate></item>"
          u"<item><guid>new-read</guid><pubDate>Wed, 10 Jun 2009 10:20:30 GMT</pubDate></item>"
          u"<item><guid>undated-read</guid></item></channel>");
  m_manager.RebuildIndexes();
  ASSERT_TRUE(Update(doc));
  ASSERT_EQ(Articles().size(), 4u);
  auto byKey = [&](const std::u16string& guid) -> ObjectId {
    for (const CFeed* a : Articles())
      if (a->m_key.find(guid) != std::u16string::npos) return a->m_id;
    return 0;
  };
  const ObjectId oldRead = byKey(u"old-read"), oldUnread = byKey(u"old-unread"), newRead = byKey(u"new-read"),
                 undated = byKey(u"undated-read");
  ASSERT_NE(oldRead * oldUnread * newRead * undated, 0u);
  m_manager.MarkRead({oldRead, newRead, undated}, true);
  const size_t history = m_source->m_history.size();

  const int64_t june15 = 1245060000;  // 2009-06-15
  // Their ages count from when they came.
  auto came = [&](ObjectId id, int64_t daysBefore) {
    CModelWriter(m_manager).Feed(id)->m_arrived = june15 - daysBefore * 86400;
  };
  came(oldRead, 40);
  came(oldUnread, 40);
  came(newRead, 5);
  came(undated, 0);
  m_manager.SetRetentionDays(30);
  EXPECT_EQ(m_manager.ApplyRetention(june15), 1u);
  EXPECT_EQ(m_manager.GetFeed(oldRead), nullptr);
  for (ObjectId kept : {oldUnread, newRead, undated}) EXPECT_NE(m_manager.GetFeed(kept), nullptr);
  EXPECT_EQ(m_source->m_history.size(), history);

  EXPECT_FALSE(Update(doc)) << "nothing new: the deleted article's key is still known";
  EXPECT_EQ(Articles().size(), 3u);
  EXPECT_EQ(byKey(u"old-read"), 0u);
  int unread = 0, read = 0;
  m_manager.CountFeeds(0, unread, read);
  EXPECT_EQ(unread, 1);
  EXPECT_EQ(read, 2);

  // The feed's own days override the library's; a negative value keeps all.
  m_manager.SetSourceRetention(m_source->m_id, -1);
  EXPECT_EQ(m_manager.ApplyRetention(june15 + 400 * 86400), 0u);
  m_manager.SetSourceRetention(m_source->m_id, 1);
  m_manager.SetRetentionDays(0);
  EXPECT_EQ(m_manager.ApplyRetention(june15), 1u) << "the June one, by the feed's one day";
  EXPECT_EQ(m_manager.GetFeed(newRead), nullptr);
}

}  // namespace
}  // namespace qb
