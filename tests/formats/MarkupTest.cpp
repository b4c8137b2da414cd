#include "formats/Markup.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "base/Text.h"

namespace qb {
namespace {

// The definitions written out naively, to hold the fast versions against.
std::u16string ReplaceAll(std::u16string s, std::u16string_view from, std::u16string_view to) {
  std::u16string out;
  size_t i = 0;
  for (size_t p = s.find(from); p != std::u16string::npos; p = s.find(from, i)) {
    out.append(s, i, p - i);
    out.append(to);
    i = p + from.size();
  }
  out.append(s, i);
  return out;
}

std::u16string NaiveDecodeEntities(std::u16string s) {
  s = ReplaceAll(s, u"&lt;", u"<");
  s = ReplaceAll(s, u"&gt;", u">");
  s = ReplaceAll(s, u"&amp;", u"&");
  return ReplaceAll(s, u"&apos;", u"'");
}

// Replace in place and search again from the front, every time.
std::u16string NaiveDecodeCharRefs(std::u16string s) {
  for (;;) {
    const std::u16string_view searchable(s.c_str());  // the search stops at a NUL
    const size_t p = searchable.find(u"&#");
    if (p == std::u16string_view::npos) return s;
    size_t q = p + 2;
    int base = 10;
    if (q < s.size() && (s[q] == u'x' || s[q] == u'X')) {
      base = 16;
      ++q;
    }
    uint64_t value = 0;
    for (; q < s.size(); ++q) {
      const char16_t c = s[q];
      int d = -1;
      if (c >= u'0' && c <= u'9') d = c - u'0';
      if (base == 16 && c >= u'a' && c <= u'f') d = c - u'a' + 10;
      if (base == 16 && c >= u'A' && c <= u'F') d = c - u'A' + 10;
      if (d < 0) break;
      value = std::min<uint64_t>(value * base + d, 0xFFFFFFFF);
    }
    std::u16string tail = Trim(std::u16string_view(s).substr(q));
    if (!tail.empty() && tail[0] == u';') tail.erase(0, 1);
    std::u16string middle;
    if (value >= 0x10000 && value <= 0x10FFFF) {
      middle = {static_cast<char16_t>(0xD800 + ((value - 0x10000) >> 10)),
                static_cast<char16_t>(0xDC00 + ((value - 0x10000) & 0x3FF))};
    } else {
      middle = std::u16string(1, static_cast<char16_t>(value & 0xFFFF));
    }
    s = s.substr(0, p) + middle + tail;
  }
}

std::u16string RandomText(std::mt19937& rng, std::u16string_view alphabet, size_t maxLength) {
  std::u16string s(rng() % (maxLength + 1), u' ');
  for (char16_t& c : s) c = alphabet[rng() % alphabet.size()];
  return s;
}

TEST(MarkupTest, DecodeEntities) {
  const std::pair<std::u16string, std::u16string> cases[] = {
      {u"A &amp; B", u"A & B"},
      {u"&lt;b&gt;x&lt;/b&gt;", u"<b>x</b>"},
      {u"&amp;lt;", u"&lt;"},        // "&lt;" has been decoded before "&amp;"
      {u"&amp;apos;", u"'"},         // "&apos;" is decoded after "&amp;"
      {u"&amp;amp;", u"&amp;"},      // one pass, no re-scan of inserted text
      {u"&quot;x&quot; &#65;", u"&quot;x&quot; &#65;"},
      {u"&&lt;&", u"&<&"},
      {u"&amp", u"&amp"},
      {u"&apos", u"&apos"},
      {u"", u""},
  };
  for (const auto& [in, want] : cases) EXPECT_EQ(DecodeEntities(in), want) << Utf16ToUtf8(in);
}

TEST(MarkupTest, DecodeEntitiesMatchesFourOrderedPasses) {
  std::mt19937 rng(7);
  for (int i = 0; i < 20000; ++i) {
    const std::u16string s = RandomText(rng, u"&&&ampltgos;x", 24);
    ASSERT_EQ(DecodeEntities(s), NaiveDecodeEntities(s)) << Utf16ToUtf8(s);
  }
}

TEST(MarkupTest, EncodeEntitiesThenDecodeGivesTheTextBack) {
  EXPECT_EQ(EncodeEntities(u"a'b&c<d>e\"f"), u"a&apos;b&amp;c&lt;d&gt;e\"f");
  EXPECT_EQ(EncodeEntities(u"&amp;"), u"&amp;amp;");
  std::mt19937 rng(11);
  for (int i = 0; i < 20000; ++i) {
    const std::u16string s = RandomText(rng, u"&'<>;ampltgos", 24);
    const std::u16string back = DecodeEntities(EncodeEntities(s));
    // The one exception: the text "&apos;" comes back as "'".
    ASSERT_EQ(back, ReplaceAll(s, u"&apos;", u"'")) << Utf16ToUtf8(s);
  }
}

TEST(MarkupTest, DecodeCharRefs) {
  const std::pair<std::u16string, std::u16string> cases[] = {
      {u"caf&#233;", u"caf\u00e9"},
      {u"&#x41;&#66; C", u"AB C"},
      {u"&#65 x", u"Ax"},                    // no ";": the following space goes too
      {u"a &#65;  ", u"a A"},                // trailing space of the whole text goes
      {u"&#X4a;&#x4A;", u"JJ"},
      {u"&#38;#65;", u"A"},                  // a decoded "&" starts a new reference
      {u"&&#35;66;", u"B"},                  // so does a decoded "#"
      {u"&#65536;", u"\U00010000"},          // outside the BMP: a surrogate pair
      {u"&#x1F600;!", u"\U0001F600!"},
      {u"&#x10FFFF;", u"\U0010FFFF"},
      {u"&#x110041;", u"A"},                 // beyond Unicode: the low 16 bits
      {u"&#99999999999;", std::u16string(1, u'\xFFFF')},  // saturates
      {u"&#xD83D;", std::u16string(1, u'\xD83D')},
      {u"x&#;&#65;", std::u16string(u"x\0&#65;", 7)},    // a NUL ends the decoding
      {std::u16string(u"\0&#65;", 6), std::u16string(u"\0&#65;", 6)},
      {u"&#", std::u16string(1, u'\0')},
      {u"no refs  ", u"no refs  "},
  };
  for (const auto& [in, want] : cases) EXPECT_EQ(DecodeCharRefs(in), want) << Utf16ToUtf8(in);
}

TEST(MarkupTest, DecodeCharRefsMatchesReplacingAndSearchingAgain) {
  std::mt19937 rng(5);
  for (int i = 0; i < 30000; ++i) {
    std::u16string s = RandomText(rng, u"&&##x3568; ;a", 20);
    if (rng() % 8 == 0 && !s.empty()) s[rng() % s.size()] = u'\0';
    ASSERT_EQ(DecodeCharRefs(s), NaiveDecodeCharRefs(s)) << Utf16ToUtf8(s);
  }
}

TEST(MarkupTest, EncodeCharRefs) {
  const std::pair<std::u16string, std::u16string> cases[] = {
      {u"caf\u00e9 \u00ff", u"caf\u00e9 \u00ff"},
      {u"\u0100", u"&#256;"},
      {u"\u20ac5", u"&#8364;5"},
      {u"\U0001F600", u"&#128512;"},                      // one reference per pair
      {std::u16string(1, u'\xD83D') + u"x", u"&#55357;x"},  // lone high surrogate
      {std::u16string(1, u'\xDE00'), u"&#56832;"},         // lone low surrogate
      {std::u16string(2, u'\xD83D'), u"&#55357;&#55357;"},
  };
  for (const auto& [in, want] : cases) EXPECT_EQ(EncodeCharRefs(in), want) << Utf16ToUtf8(want);
  // Characters outside the BMP survive the round through the page.
  const std::u16string text = u"\U0001F600 \u20ac \u00e9 \U0010FFFF";
  EXPECT_EQ(DecodeCharRefs(EncodeCharRefs(text)), text);
}

TEST(MarkupTest, DecodeXmlTextDecodesEachReferenceOnce) {
  const std::pair<std::u16string, std::u16string> cases[] = {
      {u"&lt;&gt;&amp;&apos;&quot;", u"<>&'\""},
      {u"&#39;&#x2019;&#X2019;&#233;", u"'\u2019\u2019\u00e9"},
      {u"&#128512; &#x1F600;", u"\U0001F600 \U0001F600"},
      // once: the text "&quot;" written as "&amp;quot;", and so on
      {u"&amp;quot; &amp;lt;b&amp;gt; &amp;#39; &amp;amp;", u"&quot; &lt;b&gt; &#39; &amp;"},
      // CDATA stays as it is, "&apos;" in it included
      {u"a<![CDATA[<b>&amp;&apos;</b>]]>b&amp;", u"a<b>&amp;&apos;</b>b&"},
      {u"<![CDATA[no end", u"no end"},
      // comments and processing instructions are no text; without an end they are
      {u"&lt;p&gt;<!-- a > b -->x<?pi ?>&amp;<!-- no end", u"<p>x&<!-- no end"},
      // what names no character stays as written
      {u"&#0; &#xD800; &#x110000; &#65 &#; &#x; &nbsp; & &amp", u"&#0; &#xD800; &#x110000; &#65 &#; &#x; &nbsp; & &amp"},
      {u"&#99999999999999999999;", u"&#99999999999999999999;"},
      {u"", u""},
  };
  for (const auto& [in, want] : cases) EXPECT_EQ(DecodeXmlText(in), want) << Utf16ToUtf8(in);
  // Long plain runs are copied in blocks: a reference or a tag at every
  // offset of a block, and text ending inside one, come out the same.
  for (size_t before = 0; before < 20; ++before) {
    for (size_t after = 0; after < 10; ++after) {
      const std::u16string a(before, u'a'), b(after, u'b');
      EXPECT_EQ(DecodeXmlText(a + u"&amp;" + b + u"<i>" + a), a + u"&" + b + u"<i>" + a) << before << " " << after;
      EXPECT_EQ(DecodeXmlText(a + u"<![CDATA[&amp;]]>" + b), a + u"&amp;" + b) << before << " " << after;
    }
  }
}

TEST(MarkupTest, TitlesAreText) {
  const std::pair<std::u16string, std::u16string> cases[] = {
      {u"<b>bold?</b>", u"bold?"},
      {u"A &amp; B &quot;q&quot; &eacute;t&eacute; &rsquo;s &hellip; &#8211; &#x41;", u"A & B \"q\" \u00e9t\u00e9 \u2019s \u2026 \u2013 A"},
      {u"Tom & Jerry, AT&T, x < y, 3<4", u"Tom & Jerry, AT&T, x < y, 3<4"},  // nothing that reads as markup
      {u"line<br>break<BR/>again", u"line break again"},
      {u"a<!-- note -->b<SPAN class='c'>c</SPAN>", u"abc"},
      {u"<img src=x>picture<p>para</p>", u"picturepara"},
      {u"unclosed <b", u"unclosed <b"},
      {u"&amp;lt;b&amp;gt;", u"&lt;b&gt;"},  // decoded once
      {u"&nosuch; &nbsp;", u"&nosuch; \u00a0"},
      // a browser's reading of references to no character, and of 0x80-0x9F
      {u"&#0;&#xD800;&#x110000;&#1;&#150;&#x92;", u"\uFFFD\uFFFD\uFFFD\u0001\u2013\u2019"},
      // not HTML's markup
      {u"<Untitled>", u"<Untitled>"},  // the stand-in for no title
      {u"&lt;Untitled&gt;", u"<Untitled>"},
      {u"Tech & <Science> <b>x</b>", u"Tech & <Science> x"},
      {u"<?pi?><!doctype x><bx>", u"<?pi?><!doctype x><bx>"},
  };
  for (const auto& [in, want] : cases) EXPECT_EQ(TitleText(in), want) << Utf16ToUtf8(in);
  EXPECT_EQ(EscapeHtml(u"<a href=\"x\">&amp;'</a>"), u"&lt;a href=&quot;x&quot;&gt;&amp;amp;'&lt;/a&gt;");
}

// Text kept as a title shows as itself, and is kept unchanged whenever it
// already would.
TEST(MarkupTest, TextAsTitleShowsExactlyTheText) {
  EXPECT_EQ(TextAsTitle(u"AT&T"), u"AT&T");
  EXPECT_EQ(TextAsTitle(u"Use <b> for bold"), u"Use &lt;b&gt; for bold");
  EXPECT_EQ(TextAsTitle(u"&amp;"), u"&amp;amp;");
  std::mt19937 rng(77);
  const std::u16string pieces[] = {u"a", u" ", u"&", u"<", u">", u"b", u"amp;", u"#39;", u"/", u"\"",
                                   u"br", u"!", u"-", u"\u00e9", u"Untitled", u"x;"};
  for (int n = 0; n < 3000; ++n) {
    std::u16string text;
    for (size_t k = rng() % 12; k > 0; --k) text += pieces[rng() % std::size(pieces)];
    EXPECT_EQ(TitleText(TextAsTitle(text)), text) << Utf16ToUtf8(text);
    if (TitleText(text) == text) {
      EXPECT_EQ(TextAsTitle(text), text);
    }
  }
}

TEST(MarkupTest, FindCodeUnit) {
  const std::u16string s = u"0123456789abcdef<ghijklmnop<";
  EXPECT_EQ(FindCodeUnit(s, u'<'), 16u);
  EXPECT_EQ(FindCodeUnit(s, u'<', 17), 27u);
  EXPECT_EQ(FindCodeUnit(s, u'<', 28), std::u16string_view::npos);
  EXPECT_EQ(FindCodeUnit(s, u'z'), std::u16string_view::npos);
  EXPECT_EQ(FindCodeUnit(u"", u'z'), std::u16string_view::npos);
  for (size_t at = 0; at < 40; ++at) {
    std::u16string t(40, u'.');
    t[at] = u'#';
    EXPECT_EQ(FindCodeUnit(t, u'#'), at);
    EXPECT_EQ(FindCodeUnit(t, u'\x2300'), std::u16string_view::npos);
  }
}

}  // namespace
}  // namespace qb
