#include "formats/JsonFeed.h"

#include <gtest/gtest.h>

#include <string>

#include "base/Text.h"

namespace qb {
namespace {

std::u16string SpanOf(const std::u16string& text, const JsonFeedItem& item) {
  return text.substr(item.markupBegin, item.markupEnd - item.markupBegin);
}

TEST(JsonFeedTest, OnlyAJsonFeedVersionMakesAFeed) {
  const struct {
    std::u16string text;
    bool feed;
  } cases[] = {
      {u"{\"version\":\"https://jsonfeed.org/version/1\"}", true},
      {u"{\"version\":\"https://jsonfeed.org/version/1.1\",\"items\":[]}", true},
      {u"{\"version\":\"http://jsonfeed.org/version/1\",\"items\":{}}", true},  // items of the wrong type: none
      {u"\uFEFF\n\t {\"version\":\"https://jsonfeed.org/version/1\"}", true},
      {u"{\"version\":\"https://jsonfeed.org/version/\"}", false},
      {u"{\"version\":\"https://example.org/version/1\"}", false},
      {u"{\"version\":1}", false},
      {u"{\"title\":\"no version\"}", false},
      {u"{\"version\":\"https://jsonfeed.org/version/1\"", false},  // cut short
      {u"{\"version\":\"https://jsonfeed.org/version/1\"} trailing", false},
      {u"[\"https://jsonfeed.org/version/1\"]", false},
      {u"<rss/>", false},
      {u"", false},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseJsonFeed(c.text).has_value(), c.feed) << Utf16ToUtf8(c.text);
}

// Each item knows where its own JSON stands, whatever its strings hold.
TEST(JsonFeedTest, ItemsAndTheirSpans) {
  const std::u16string items[] = {
      u"{\"id\":\"a\",\"title\":\"braces } ] { [ and \\\" quotes \\\\\",\"url\":\"u\"}",
      u"{ \"id\" : 7 , \"content_html\" : \"<p>\\u00e9</p>\" , \"x\" : [1, {\"y\": \"}\"}] }",
      u"{\"id\":1.5,\"date_published\":\"2009-05-04T10:00:00Z\",\"date_modified\":\"d\"}",
  };
  const std::u16string text = u"{\"items\":[\"ignored\"],\"version\":\"https://jsonfeed.org/version/1.1\","
                              u"\"title\":\"T\\u00e9\",\"it\\u0065ms\" : [ " +
                              items[0] + u" ,\n" + items[1] + u", null, " + items[2] + u"]}";
  const std::optional<JsonFeedDocument> feed = ParseJsonFeed(text);
  ASSERT_TRUE(feed);
  EXPECT_EQ(feed->title, u"T\u00e9");
  ASSERT_EQ(feed->items.size(), 3u);  // the last "items", its objects only
  EXPECT_EQ(feed->items[0].id, u"a");
  EXPECT_EQ(feed->items[0].title, u"braces } ] { [ and \" quotes \\");
  EXPECT_EQ(feed->items[1].id, u"7");
  EXPECT_EQ(feed->items[1].contentHtml, u"<p>\u00e9</p>");
  EXPECT_EQ(feed->items[2].id, u"1.5");
  EXPECT_EQ(feed->items[2].datePublished, u"2009-05-04T10:00:00Z");
  EXPECT_EQ(feed->items[2].dateModified, u"d");
  for (size_t n = 0; n < 3; ++n) EXPECT_EQ(SpanOf(text, feed->items[n]), items[n]) << n;
}

TEST(JsonFeedTest, Attachments) {
  const std::vector<JsonFeedAttachment> a = JsonFeedAttachments(
      u"{\"id\":\"1\",\"attachments\":[{\"url\":\"https://e.org/a.mp3\",\"mime_type\":\"audio/mpeg\","
      u"\"size_in_bytes\":1234,\"title\":\"A\"},{\"mime_type\":\"x\"},\"bad\",{\"url\":\"b.pdf\","
      u"\"size_in_bytes\":-5},{\"url\":\"c\",\"size_in_bytes\":2.5e3,\"mime_type\":7}]}");
  ASSERT_EQ(a.size(), 3u);
  EXPECT_EQ(a[0].url, u"https://e.org/a.mp3");
  EXPECT_EQ(a[0].mimeType, u"audio/mpeg");
  EXPECT_EQ(a[0].title, u"A");
  EXPECT_EQ(a[0].sizeInBytes, 1234);
  EXPECT_EQ(a[1].url, u"b.pdf");
  EXPECT_EQ(a[1].sizeInBytes, -1);
  EXPECT_EQ(a[2].sizeInBytes, 2500);
  EXPECT_EQ(a[2].mimeType, u"");
  EXPECT_TRUE(JsonFeedAttachments(u"{\"attachments\":\"x\"}").empty());
  EXPECT_TRUE(JsonFeedAttachments(u"<item/>").empty());
  EXPECT_TRUE(JsonFeedAttachments(u"{broken").empty());
}

// Deep nesting is read and freed without recursion.
TEST(JsonFeedTest, DeepDocuments) {
  std::u16string text = u"{\"version\":\"https://jsonfeed.org/version/1\",\"items\":[{\"id\":\"1\",\"x\":";
  for (int i = 0; i < 100000; ++i) text += u"[";
  for (int i = 0; i < 100000; ++i) text += u"]";
  text += u"}]}";
  const std::optional<JsonFeedDocument> feed = ParseJsonFeed(text);
  ASSERT_TRUE(feed);
  ASSERT_EQ(feed->items.size(), 1u);
  EXPECT_EQ(feed->items[0].markupEnd, text.size() - 2);
}

}  // namespace
}  // namespace qb
