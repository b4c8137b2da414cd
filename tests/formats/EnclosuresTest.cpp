#include "formats/Enclosures.h"

#include <gtest/gtest.h>

#include "base/Text.h"

namespace qb {
namespace {

TEST(EnclosuresTest, FromTheArticlesOwnSourceText) {
  const struct {
    std::u16string source;
    std::vector<Enclosure> want;
  } cases[] = {
      {u"<item><title>Episode</title><enclosure url=\"https://e.org/3.mp3?a=1&amp;b=2\" length=\"8727310\" "
       u"type=\"audio/mpeg\"/></item>",
       {{u"https://e.org/3.mp3?a=1&b=2", u"audio/mpeg", u"", 8727310}}},
      {u"<entry><link rel=\"alternate\" href=\"https://e.org/\"/><link rel=\"enclosure\" href=\"v.mp4\" "
       u"type=\"video/mp4\" length=\"x\" title=\"The video\"/></entry>",
       {{u"v.mp4", u"video/mp4", u"The video", -1}}},
      // media:content, also in a media:group; document order; each address once
      {u"<item><media:group><media:content url=\"b.jpg\" type=\"image/jpeg\" fileSize=\"10\"/></media:group>"
       u"<enclosure url=\"a.mp3\"/><media:content url=\"a.mp3\" type=\"audio/mpeg\"/></item>",
       {{u"b.jpg", u"image/jpeg", u"", 10}, {u"a.mp3", u"", u"", -1}}},
      {u"{\"id\":\"1\",\"attachments\":[{\"url\":\"https://e.org/a.mp3\",\"mime_type\":\"audio/mpeg\","
       u"\"size_in_bytes\":5}]}",
       {{u"https://e.org/a.mp3", u"audio/mpeg", u"", 5}}},
      // nothing without an address; nothing from a whole document, which
      // older data files keep for every article
      {u"<item><enclosure type=\"audio/mpeg\"/></item>", {}},
      {u"<?xml version=\"1.0\"?><rss><channel><item><enclosure url=\"a.mp3\"/></item></channel></rss>", {}},
      {u"<item><enclosure url=\"a\"/></item><item/>", {}},
      {u"", {}},
  };
  for (const auto& c : cases) EXPECT_EQ(FindEnclosures(c.source), c.want) << Utf16ToUtf8(c.source);
}

TEST(EnclosuresTest, FileSizes) {
  EXPECT_EQ(FormatFileSize(-1), u"");
  EXPECT_EQ(FormatFileSize(1), u"1 byte");
  EXPECT_EQ(FormatFileSize(900), u"900 bytes");
  EXPECT_EQ(FormatFileSize(2048), u"2 KB");
  EXPECT_EQ(FormatFileSize(8727310), u"8.3 MB");
  EXPECT_EQ(FormatFileSize(int64_t{3} << 30), u"3.0 GB");
}

}  // namespace
}  // namespace qb
