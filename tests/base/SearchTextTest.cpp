#include "base/SearchText.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qb {
namespace {

using Words = std::vector<std::u16string>;

TEST(SearchTextTest, WordsAreFoldedRunsOfWordCharacters) {
  struct Case {
    std::u16string text;
    Words words;
  };
  const Case cases[] = {
      {u"", {}},
      {u"  Hello, World!  ", {u"hello", u"world"}},
      {u"AT&T e-mail 3.14", {u"at", u"t", u"e", u"mail", u"3", u"14"}},
      {u"Ärger über STRASSE ß", {u"ärger", u"über", u"strasse", u"ß"}},
      {u"ΣΟΦΊΑ σοφία ς", {u"σοφία", u"σοφία", u"σ"}},
      {u"МОСКВА Ёж", {u"москва", u"ёж"}},
      {u"ŁÓDŹ Ÿ ſ", {u"łódź", u"ÿ", u"s"}},
      {u"ＦＵＬＬ　width", {u"ｆｕｌｌ", u"width"}},
      {u"東京タワー、大阪", {u"東京タワー", u"大阪"}},
      {u"smile\U0001F600face", {u"smile", u"face"}},
      {u"\U00010348gothic", {u"\U00010348gothic"}},
      {std::u16string(u"lone\xD800surrogate", 14), {u"lone", u"surrogate"}},
      {std::u16string(u"nul\0inside", 10), {u"nul", u"inside"}},
      {u"price: 5€ — “quoted” …", {u"price", u"5", u"quoted"}},
      {u"caf\u0065\u0301 x²", {u"cafe\u0301", u"x²"}},
  };
  for (const Case& c : cases) EXPECT_EQ(SearchWords(c.text), c.words) << std::string(c.text.begin(), c.text.end());
}

TEST(SearchTextTest, MarkupIsReadAsThePageShowsIt) {
  struct Case {
    std::u16string html;
    std::u16string text;
  };
  const Case cases[] = {
      {u"<p>Hello <b>bold</b> world</p>", u" Hello  bold  world "},
      {u"a < b and c > d", u"a < b and c > d"},
      {u"<!-- hidden --><script>var x = '<p>';</script>shown<style>p{}</style>", u"  shown "},
      {u"<a href=\"x>y\">link</a>", u" link "},
      {u"caf&eacute; &amp; &#233;&#x41; &bogus; &#;", u"café & éA &bogus; &#;"},
      {u"unclosed <b", u"unclosed "},
  };
  for (const Case& c : cases) EXPECT_EQ(MarkupText(c.html), c.text);
  EXPECT_EQ(DecodeFeedEntities(u"&lt;b&gt; &amp;lt; &apos;"), u"<b> &lt; '") << "four passes: lt, gt, amp, apos";
}

TEST(SearchTextTest, ArticleWordsComeFromTitleChannelAndTheDescriptionsText) {
  const Words words = ArticleWords(u"Rust &amp; C++", u"Tech <i>News</i>",
                                   u"&lt;p&gt;Escaped <b>twice</b>&lt;/p&gt; <img alt=\"nothing\">");
  EXPECT_EQ(words, (Words{u"rust", u"c", u"tech", u"news", u"escaped", u"twice"}));
  EXPECT_EQ(IndexText(words), "rust c tech news escaped twice");
  EXPECT_EQ(IndexText({u"ünï", u"x"}), "\xC3\xBCn\xC3\xAF x");
}

TEST(SearchTextTest, EveryQueryWordMustBeginSomeWord) {
  const Words article = {u"rust", u"compiler", u"news"};
  struct Case {
    Words query;
    bool match;
  };
  const Case cases[] = {
      {{}, true},
      {{u"r"}, true},
      {{u"comp", u"new"}, true},
      {{u"rust", u"news", u"compiler"}, true},
      {{u"ust"}, false},
      {{u"rust", u"go"}, false},
      {{u"compilers"}, false},
  };
  for (const Case& c : cases) EXPECT_EQ(WordsMatch(article, c.query), c.match);
  EXPECT_EQ(FullTextQuery({u"comp", u"ñ"}), "\"comp\"* AND \"\xC3\xB1\"*");
}

}  // namespace
}  // namespace qb
