#include "base/Text.h"

#include <gtest/gtest.h>

namespace qb {
namespace {

TEST(TextTest, Utf8DecodingReplacesEachMaximalIllFormedSubsequence) {
  struct Case {
    std::string bytes;
    std::u16string text;
  };
  const Case cases[] = {
      {"caf\xC3\xA9", u"caf\u00E9"},
      {"caf\xE9", u"caf\uFFFD"},                       // ISO-8859-1 byte
      {"\xEF\xBB\xBF<a/>", u"\uFEFF<a/>"},              // BOM kept
      {"\xF0\x9F\x98\x80", u"\U0001F600"},             // outside the BMP
      {"\xE2\x82", u"\uFFFD"},                          // truncated: one replacement
      {"\xE2\x82x", u"\uFFFDx"},
      {"\xC0\xAF", u"\uFFFD\uFFFD"},                    // overlong lead byte
      {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},          // encoded surrogate
      {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // above U+10FFFF
      {"\x80", u"\uFFFD"},
  };
  for (const Case& c : cases) EXPECT_EQ(Utf8ToUtf16(c.bytes), c.text) << c.bytes;
}

TEST(TextTest, Utf8RoundTrip) {
  const std::u16string text = u"A\u00E9\u20AC\U0001F600z";
  EXPECT_EQ(Utf8ToUtf16(Utf16ToUtf8(text)), text);
  EXPECT_EQ(Utf16ToUtf8(u"\xD800x"), "\xEF\xBF\xBDx");
}

TEST(TextTest, TrimAndCompare) {
  EXPECT_EQ(Trim(u" \t\r\n x y \v\f"), u"x y");
  EXPECT_EQ(Trim(u"   "), u"");
  EXPECT_EQ(CompareAsciiNoCase(u"abc", u"ABC"), 0);
  EXPECT_LT(CompareAsciiNoCase(u"ab", u"ABC"), 0);
  EXPECT_NE(CompareAsciiNoCase(u"\u00E9", u"\u00C9"), 0) << "only A-Z fold";
  EXPECT_GT(CompareAsciiNoCase(u"a_", u"AB"), 0) << "folded to upper case: '_' sorts after 'B'";
}

TEST(TextTest, DecimalPrefix) {
  EXPECT_EQ(ParseDecimalPrefix(u"  -12x"), -12);
  EXPECT_EQ(ParseDecimalPrefix(u"+7"), 7);
  EXPECT_EQ(ParseDecimalPrefix(u"x7"), 0);
  EXPECT_EQ(ParseDecimalPrefix(u""), 0);
  EXPECT_EQ(ParseDecimalPrefix(u"99999999999"), 2147483647);
}

}  // namespace
}  // namespace qb
