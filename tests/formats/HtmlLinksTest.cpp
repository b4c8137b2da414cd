#include "formats/HtmlLinks.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/Text.h"

namespace qb {
namespace {

using Attributes = std::vector<std::pair<std::u16string, std::u16string>>;

const char16_t kPage[] =
    u"<!DOCTYPE html><html><HEAD>\n"
    u"<!-- <link rel=\"alternate\" href=\"/commented\"> -->\n"
    u"<script>var s = '<link rel=\"alternate\" href=\"/scripted\">';</script>\n"
    u"<LINK REL=\"Alternate\" TYPE='application/rss+xml' HREF=/rss.xml TITLE=\"News &amp; "
    u"Views\">\n"
    u"<link\n href = \"/atom\" rel=\"alternate feed\" type=\"application/atom+xml\"/>\n"
    u"<title>A <link rel=\"alternate\" href=\"/titled\"></TITLE>\n"
    u"<link rel=icon href=/i.png>\n"
    u"<base href=\"/sub/\"><base href=\"/other/\">\n"
    u"<link rel=\"alternate\" href=\"/first\" HREF=\"/second\" disabled>\n"
    u"<style>a::after { content: \"<link href=/styled>\" }</style>\n"
    u"</head><body><p>5 < 6 <a href=\"/x\">x</a></p></body></html>\n";

const std::vector<Attributes> kPageLinks = {
    {{u"rel", u"Alternate"},
     {u"type", u"application/rss+xml"},
     {u"href", u"/rss.xml"},
     {u"title", u"News & Views"}},
    {{u"href", u"/atom"}, {u"rel", u"alternate feed"}, {u"type", u"application/atom+xml"}},
    {{u"rel", u"icon"}, {u"href", u"/i.png"}},
    {{u"rel", u"alternate"}, {u"href", u"/first"}, {u"disabled", u""}},
};

std::vector<Attributes> AttributesOf(const HtmlLinks& found) {
  std::vector<Attributes> out;
  for (const HtmlTag& tag : found.links) out.push_back(tag.attributes);
  return out;
}

TEST(HtmlLinksTest, FindsTheLinkAndBaseTagsOfAPage) {
  const HtmlLinks found = ScanHtmlLinks(kPage);
  EXPECT_EQ(AttributesOf(found), kPageLinks);
  EXPECT_EQ(found.baseHref, u"/sub/");
  EXPECT_EQ(found.links[0].Get(u"title"), u"News & Views");
  EXPECT_EQ(found.links[0].Get(u"missing"), u"");
  EXPECT_FALSE(found.links[0].Has(u"missing"));
}

// A page cut anywhere gives the links that were whole before the cut, and
// at most a partial last one.
TEST(HtmlLinksTest, EveryCutOfThePageKeepsTheWholeLinksBeforeIt) {
  const std::u16string page = kPage;
  for (size_t cut = 0; cut <= page.size(); ++cut) {
    const std::vector<Attributes> got = AttributesOf(ScanHtmlLinks(page.substr(0, cut)));
    ASSERT_LE(got.size(), kPageLinks.size()) << cut;
    for (size_t i = 0; i + 1 < got.size(); ++i) EXPECT_EQ(got[i], kPageLinks[i]) << cut;
  }
  EXPECT_EQ(AttributesOf(ScanHtmlLinks(page.substr(0, page.find(u"<link rel=icon")))),
            std::vector<Attributes>(kPageLinks.begin(), kPageLinks.begin() + 2));
}

TEST(HtmlLinksTest, DecodesCharacterReferencesInValues) {
  const std::pair<std::u16string, std::u16string> cases[] = {
      {u"a&amp;b", u"a&b"},
      {u"&#38;&#x26;&#X26;", u"&&&"},
      {u"&#65", u"A"},
      {u"&#x1F600;", u"\U0001F600"},
      {u"&#128512;", u"\U0001F600"},
      {u"&#0;&#xD800;&#99999999999;", u"\uFFFD\uFFFD\uFFFD"},
      {u"&quot;x&quot; &lt;&gt; &apos; &nbsp;", u"\"x\" <> ' \u00A0"},
      {u"?a=1&copy=2&amp", u"?a=1&copy=2&amp"},
      {u"& &# &#x; &unknown;", u"& &# &#x; &unknown;"},
  };
  for (const auto& [written, decoded] : cases) {
    const HtmlLinks found = ScanHtmlLinks(u"<link title=\"" + written + u"\">");
    ASSERT_EQ(found.links.size(), 1u) << Utf16ToUtf8(written);
    EXPECT_EQ(found.links[0].Get(u"title"), decoded) << Utf16ToUtf8(written);
  }
}

TEST(HtmlLinksTest, TokensAndTypes) {
  const struct {
    std::u16string list;
    std::u16string token;
    bool has;
  } tokens[] = {
      {u"alternate", u"alternate", true},
      {u"Alternate Feed", u"alternate", true},
      {u"shortcut icon", u"icon", true},
      {u"\ticon\n", u"icon", true},
      {u"mask-icon", u"icon", false},
      {u"icons", u"icon", false},
      {u"", u"icon", false},
      {u"   ", u"icon", false},
  };
  for (const auto& t : tokens) {
    EXPECT_EQ(HasToken(t.list, t.token), t.has) << Utf16ToUtf8(t.list);
  }
  EXPECT_EQ(BareMimeType(u"Application/RSS+XML; charset=utf-8"), u"application/rss+xml");
  EXPECT_EQ(BareMimeType(u" application/atom+xml "), u"application/atom+xml");
  EXPECT_EQ(BareMimeType(u""), u"");
}

TEST(HtmlLinksTest, FindsTheEncodingAPageDeclares) {
  const std::pair<std::string, std::string> cases[] = {
      {"<html><head><meta charset=\"windows-1252\">", "windows-1252"},
      {"<meta http-equiv=\"Content-Type\" content=\"text/html; charset=ISO-8859-1\">",
       "ISO-8859-1"},
      {"<META HTTP-EQUIV=content-type CONTENT='text/html;charset=koi8-r'>", "koi8-r"},
      {"<!-- <meta charset=koi8-r> --><meta charset=utf-8>", "utf-8"},
      {"<meta name=\"viewport\" content=\"width=device-width\">", ""},
      {std::string(1024, ' ') + "<meta charset=\"windows-1252\">", ""},
      {"caf\xe9 <meta charset=latin1>", "latin1"},
      {"", ""},
  };
  for (const auto& [page, encoding] : cases) {
    EXPECT_EQ(FindHtmlDeclaredEncoding(page), encoding) << page;
  }
}

}  // namespace
}  // namespace qb
