#include "views/ArticleFilter.h"

#include <gtest/gtest.h>

#include "model/FeedsManager.h"
#include "views/ViewText.h"

namespace qb {
namespace {

TEST(MarkupToTextTest, TagsEntitiesAndWhiteSpace) {
  struct Case {
    const char16_t* html;
    const char16_t* text;
  };
  const Case cases[] = {
      {u"", u""},
      {u"plain words", u"plain words"},
      {u"  spaced \r\n\t out  ", u"spaced out"},
      {u"<p>one</p><p>two</p>", u"one two"},
      {u"un<b>bold</b>ed<br>new<p>para", u"unbolded new para"},
      {u"<a href=\"x\" title='a > b'>link</a> <img alt=\">\">", u"link"},
      {u"<p class=x>it's</p>", u"it's"},
      {u"a < b and c<3", u"a < b and c<3"},
      {u"Fish &amp; chips &lt;3 &quot;q&quot; &AMP;", u"Fish & chips <3 \"q\" &"},
      {u"caf&#233; &#xE9;t&#XE9; &#128512;", u"caf\u00e9 \u00e9t\u00e9 \U0001F600"},
      {u"&nbsp;lead&nbsp;&nbsp;gap", u"lead gap"},
      {u"&unknown; &amp &#; &#x;", u"&unknown; &amp &#; &#x;"},
      {u"&#1114112; &#0;", u"\uFFFD \uFFFD"},
      {u"a<!-- hidden <b>x</b> -->b", u"a b"},
      {u"a<script>var s = '<p>no</p>';</script>b<STYLE>p{}</STYLE>c", u"a b c"},
      {u"a<script src=x />b", u"a b"},
      {u"cut <b", u"cut"},
      {u"open <!-- never closed", u"open"},
      {u"<script>never closed", u""},
      {u"<br/>x<img src=\"p.png\">y", u"x y"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ToQString(MarkupToText(c.html)), ToQString(c.text)) << ToQString(c.html).toStdString();
  }
}

TEST(MarkupToTextTest, NeverReadsPastTheEnd) {
  // Every cut of a text full of markup gives an answer.
  const std::u16string html =
      u"<p class=\"x\">A &amp; B &#x263A;<script>x<y</script><!-- c --></p>&#12";
  for (size_t n = 0; n <= html.size(); ++n) {
    const std::u16string text = MarkupToText(std::u16string_view(html).substr(0, n));
    EXPECT_LE(text.size(), n + 1) << n;
  }
}

class ArticleFilterTest : public ::testing::Test {
 protected:
  CFeed* Article(const std::u16string& title, const std::u16string& channel,
                 const std::u16string& description, bool read = false) {
    CFeed* a = model.NewFeed();
    a->m_title = title;
    a->m_channel = channel;
    a->m_description = description;
    a->m_read = read;
    return a;
  }
  bool Matches(const CFeed* a, const QString& text, bool unreadOnly = false) {
    CArticleFilter filter;
    filter.SetText(text);
    filter.SetUnreadOnly(unreadOnly);
    return filter.Matches(*a);
  }

  CFeedsManager model;
};

TEST_F(ArticleFilterTest, WordsAreFoundInTitleChannelAndTextIgnoringCaseAndMarkup) {
  const CFeed* a = Article(u"Storm &amp; Rain", u"Weather Desk",
                           u"<p>The <b>storm</b> hits the <a href=\"http://coast.example/\">co</a>ast "
                           u"&lt;i&gt;tonight&lt;/i&gt; &#233;t&#233;</p>");
  struct Case {
    const char* text;
    bool found;
  };
  const Case cases[] = {
      {"", true},               {"   ", true},
      {"storm", true},          {"STORM & rain", true},  // the title as the list shows it
      {"weather", true},        {"desk storm", true},    // words anywhere, in any order
      {"coast", true},          {"hits coast", true},    // inline tags join words
      {"href", false},          {"example", false},      // attributes are not text
      {"<b>", false},           {"tonight", true},       // escaped twice: still markup
      {"<i>", false},           {"\xC3\x89T\xC3\x89", true},  // case-folded beyond ASCII
      {"amp", false},           {"storm snow", false},   // every word must be there
      {"weather\ndesk", true},  {"rain weather", true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Matches(a, QString::fromUtf8(c.text)), c.found) << c.text;
  }
}

TEST_F(ArticleFilterTest, UnreadOnly) {
  const CFeed* unread = Article(u"Alpha", u"C", u"");
  const CFeed* read = Article(u"Alpha", u"C", u"", true);
  EXPECT_TRUE(Matches(unread, "", true));
  EXPECT_FALSE(Matches(read, "", true));
  EXPECT_TRUE(Matches(read, "alpha", false));
  EXPECT_FALSE(Matches(read, "alpha", true));
  EXPECT_FALSE(Matches(unread, "beta", true));

  CArticleFilter filter;
  EXPECT_FALSE(filter.IsActive());
  filter.SetUnreadOnly(true);
  EXPECT_TRUE(filter.IsActive());
  EXPECT_TRUE(filter.MatchesText(*read));
}

TEST_F(ArticleFilterTest, TextsAreWorkedOutOnceAndFollowTheRecord) {
  CFeed* a = Article(u"Alpha", u"C", u"<p>first</p>");
  CArticleFilter filter;
  filter.SetText("first");
  EXPECT_TRUE(filter.Matches(*a));
  EXPECT_EQ(filter.CachedCount(), 1u);
  // The cached text is used while the record is the same one...
  a->m_description = u"second";
  filter.SetText("first");
  EXPECT_TRUE(filter.Matches(*a));
  // ...and worked out again for another record under the same identifier.
  CFeed other;
  other.m_id = a->m_id;
  other.m_title = u"Other";
  EXPECT_FALSE(filter.Matches(other));
  filter.SetText("other");
  EXPECT_TRUE(filter.Matches(other));
  EXPECT_EQ(filter.CachedCount(), 1u);
  filter.ClearCache();
  EXPECT_EQ(filter.CachedCount(), 0u);
}

}  // namespace
}  // namespace qb
