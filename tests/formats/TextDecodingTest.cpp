#include "formats/TextDecoding.h"

#include <gtest/gtest.h>

namespace qb {
namespace {

TEST(TextDecodingTest, ChoosesTheDeclaredEncodingOnlyForInvalidUtf8) {
  struct Case {
    const char* what;
    std::string bytes;
    std::string httpCharset;
    std::u16string text;
  };
  const Case cases[] = {
      {"valid UTF-8 ignores a Latin-1 label", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>caf\xC3\xA9",
       "iso-8859-1", u"<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>caf\u00E9"},
      {"Latin-1 from the XML declaration", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>caf\xE9", "",
       u"<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>caf\u00E9"},
      {"single-quoted declaration, spaces around '='",
       "<?xml version='1.0' encoding = 'iso-8859-1' ?><a>\xE9</a>", "",
       u"<?xml version='1.0' encoding = 'iso-8859-1' ?><a>\u00E9</a>"},
      {"Latin-1 from the HTTP charset", "<a>caf\xE9</a>", "ISO-8859-1", u"<a>caf\u00E9</a>"},
      {"the HTTP charset wins over the declaration",
       "<?xml version=\"1.0\" encoding=\"KOI8-R\"?>\xE9", "windows-1251",
       u"<?xml version=\"1.0\" encoding=\"KOI8-R\"?>\u0439"},
      {"KOI8-R", "<?xml version=\"1.0\" encoding=\"KOI8-R\"?>\xF0\xD2\xC9", "",
       u"<?xml version=\"1.0\" encoding=\"KOI8-R\"?>\u041F\u0440\u0438"},
      {"a Latin-1 label reads 0x80-0x9F as windows-1252", "<a>\x93q\x94 \x81</a>", "latin1",
       u"<a>\u201Cq\u201D \u0081</a>"},
      {"windows-1252 leaves its undefined bytes replaced", "<a>\x80\x81</a>", "windows-1252",
       u"<a>\u20AC\uFFFD</a>"},
      {"no declared encoding: windows-1252", "<a>caf\xE9 \x93q\x94 \x81</a>", "", u"<a>caf\u00E9 \u201Cq\u201D \u0081</a>"},
      {"no declared encoding but UTF-8 beside a stray byte: replacement", "<a>caf\xC3\xA9 \xE9</a>", "",
       u"<a>caf\u00E9 \uFFFD</a>"},
      {"declared UTF-8: replacement", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\xE9", "utf-8",
       u"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\uFFFD"},
      {"unknown encoding: replacement", "<?xml version=\"1.0\" encoding=\"x-nonsense\"?>\xE9", "",
       u"<?xml version=\"1.0\" encoding=\"x-nonsense\"?>\uFFFD"},
      {"iconv suffixes are not passed on", "<a>\xE9</a>", "ISO-8859-1//TRANSLIT", u"<a>\uFFFD</a>"},
      {"a UTF-16 label on an 8-bit document is not believed",
       "<?xml version=\"1.0\" encoding=\"UTF-16\"?><a>\xE9</a>", "",
       u"<?xml version=\"1.0\" encoding=\"UTF-16\"?><a>\uFFFD</a>"},
      {"UTF-16LE byte-order mark", std::string("\xFF\xFE<\0a\0>\0\xE9\0", 10), "",
       u"\uFEFF<a>\u00E9"},
      {"UTF-16BE byte-order mark", std::string("\xFE\xFF\0<\0a\0>\x20\xAC", 10), "",
       u"\uFEFF<a>\u20AC"},
      {"UTF-8 byte-order mark kept", "\xEF\xBB\xBF<a/>", "", u"\uFEFF<a/>"},
      {"Shift_JIS cut inside a character", "<?xml version=\"1.0\" encoding=\"Shift_JIS\"?>\x82\xA0\x82",
       "", u"<?xml version=\"1.0\" encoding=\"Shift_JIS\"?>\u3042\uFFFD"},
      {"empty", "", "iso-8859-1", u""},
  };
  for (const Case& c : cases) EXPECT_EQ(DecodeFeedBytes(c.bytes, c.httpCharset), c.text) << c.what;
}

// The text in UTF-16 or UTF-32, in either byte order, with or without a
// byte-order mark.
std::string Wide(std::u16string_view text, int width, bool bigEndian, bool mark) {
  std::u32string units;
  if (mark) units.push_back(0xFEFF);
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (width == 4 && c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size()) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
    }
    units.push_back(c);
  }
  std::string out;
  for (char32_t u : units) {
    for (int k = 0; k < width; ++k) {
      const int shift = 8 * (bigEndian ? width - 1 - k : k);
      out.push_back(static_cast<char>((u >> shift) & 0xFF));
    }
  }
  return out;
}

TEST(TextDecodingTest, WideEncodingsAreKnownByTheirBytes) {
  const std::u16string declared = u"<?xml version=\"1.0\" encoding=\"UTF-16\"?><rss>\u00e9t\u00e9 \u20ac \U0001F600</rss>";
  const std::u16string bare = u"\n <rss version=\"2.0\"><channel/></rss>";
  const std::u16string mislabelled = u"<?xml version=\"1.0\" encoding=\"utf-8\"?><feed/>";
  for (const std::u16string& text : {declared, bare, mislabelled}) {
    for (const int width : {2, 4}) {
      for (const bool bigEndian : {false, true}) {
        for (const bool mark : {false, true}) {
          const std::string bytes = Wide(text, width, bigEndian, mark);
          const std::u16string want = mark ? u"\uFEFF" + text : text;
          EXPECT_EQ(DecodeFeedBytes(bytes), want) << width << bigEndian << mark << " " << bytes.size();
          // A server's charset does not change what the bytes show.
          EXPECT_EQ(DecodeFeedBytes(bytes, "iso-8859-1"), want) << width << bigEndian << mark;
        }
      }
    }
  }
  // Not wide: a leading NUL pattern that is no markup, and UTF-8 text.
  EXPECT_EQ(DecodeFeedBytes(std::string("a\0b\0", 4)), std::u16string(u"a\0b\0", 4));
  EXPECT_EQ(DecodeFeedBytes(std::string("<\0 \0", 4)), std::u16string(u"<\0 \0", 4));
  EXPECT_EQ(DecodeFeedBytes("<rss/>"), u"<rss/>");
  // An odd last byte, and a lone surrogate in UTF-16: replaced, and the
  // text after it stays in step.
  EXPECT_EQ(DecodeFeedBytes(std::string("<\0a\0/\0>\0x", 9)), u"<a/>\uFFFD");
  EXPECT_EQ(DecodeFeedBytes(std::string("<\0a\0\x00\xDC>\0", 8)), u"<a\uFFFD>");
  // A code point beyond U+10FFFF in UTF-32.
  EXPECT_EQ(DecodeFeedBytes(std::string("<\0\0\0a\0\0\0\0\0\x11\0>\0\0\0", 16)), u"<a\uFFFD>");
}

TEST(TextDecodingTest, ValidUtf8) {
  // Runs of ASCII are skipped in blocks: put the interesting byte before,
  // across and after block boundaries.
  const std::string ascii = "abcdefghijklmnopq";
  for (size_t at = 0; at <= ascii.size(); ++at) {
    const std::string head = ascii.substr(0, at), tail = ascii.substr(at);
    EXPECT_TRUE(IsValidUtf8(head + "\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80" + tail)) << at;
    for (const char* bad :
         {"\xE9", "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xE2\x82", "\x80"}) {
      EXPECT_FALSE(IsValidUtf8(head + bad + tail)) << at << " " << bad;
      EXPECT_FALSE(IsValidUtf8(head + bad)) << at << " " << bad;
    }
  }
}

TEST(TextDecodingTest, DeclarationAndContentType) {
  EXPECT_EQ(FindXmlDeclaredEncoding("\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"koi8-r\"?><r/>"), "koi8-r");
  EXPECT_EQ(FindXmlDeclaredEncoding("<?xml version=\"1.0\"?><r encoding=\"x\"/>"), "");
  EXPECT_EQ(FindXmlDeclaredEncoding("<?xml-stylesheet encoding=\"x\"?>"), "");
  EXPECT_EQ(FindXmlDeclaredEncoding(" <?xml version=\"1.0\" encoding=\"x\"?>"), "");
  EXPECT_EQ(FindXmlDeclaredEncoding("<?xml version=\"1.0\" encoding=\"unterminated?>"), "");

  EXPECT_EQ(CharsetFromContentType("text/xml; charset=ISO-8859-1"), "ISO-8859-1");
  EXPECT_EQ(CharsetFromContentType("application/rss+xml;Charset=\"windows-1251\" ; q=1"),
            "windows-1251");
  EXPECT_EQ(CharsetFromContentType("text/xml; format=flowed; charset=koi8-r"), "koi8-r");
  EXPECT_EQ(CharsetFromContentType("text/xml"), "");
  EXPECT_EQ(CharsetFromContentType(""), "");
}

}  // namespace
}  // namespace qb
