#include "base/WebAddress.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/Text.h"

namespace qb {
namespace {

using Candidates = std::vector<std::u16string>;

// Both candidates of an address typed without a scheme.
Candidates Both(const std::u16string& rest) { return {u"https://" + rest, u"http://" + rest}; }

TEST(WebAddressTest, TypedAddresses) {
  struct Case {
    std::u16string typed;
    AddressProblem problem;
    Candidates candidates;
  };
  const AddressProblem ok = AddressProblem::kNone;
  const Case cases[] = {
      // Without a scheme: https first, then http.
      {u"example.com/feed", ok, Both(u"example.com/feed")},
      {u"  www.example.com\t", ok, Both(u"www.example.com")},
      {u"//example.com/rss", ok, Both(u"example.com/rss")},
      {u"example.com.", ok, Both(u"example.com.")},
      {u"localhost", ok, Both(u"localhost")},
      {u"localhost:8080/feed", ok, Both(u"localhost:8080/feed")},
      {u"127.0.0.1:3000", ok, Both(u"127.0.0.1:3000")},
      {u"[::1]:8080/rss?x=1", ok, Both(u"[::1]:8080/rss?x=1")},
      {u"example.com:", ok, Both(u"example.com:")},
      {u"example.com:65535/x", ok, Both(u"example.com:65535/x")},
      {u"b\u00fccher.de/feed", ok, Both(u"b\u00fccher.de/feed")},
      {u"my_host.example.org", ok, Both(u"my_host.example.org")},
      // Spaces in the path or query are sent as a browser sends them.
      {u"example.com/my feed.xml?q=a b", ok, Both(u"example.com/my%20feed.xml?q=a%20b")},
      // With a scheme: that one only; the scheme in lower case, the rest as typed.
      {u"http://example.com/rss.xml", ok, {u"http://example.com/rss.xml"}},
      {u"HTTPS://Example.com/Feed", ok, {u"https://Example.com/Feed"}},
      {u"https://user:pw@example.com:8443/f?a=1&b=2#top",
       ok,
       {u"https://user:pw@example.com:8443/f?a=1&b=2#top"}},
      {u"http://[2001:db8::1]/feed", ok, {u"http://[2001:db8::1]/feed"}},
      {u"http://[::ffff:192.0.2.1]:80/", ok, {u"http://[::ffff:192.0.2.1]:80/"}},
      {u"http://\u4f8b\u3048.\u30c6\u30b9\u30c8/rss",
       ok,
       {u"http://\u4f8b\u3048.\u30c6\u30b9\u30c8/rss"}},
      {u"http://intranet/feed", ok, {u"http://intranet/feed"}},
      // The feed: forms.
      {u"feed:https://x.org/a", ok, {u"https://x.org/a"}},
      {u"FEED:http://x.org", ok, {u"http://x.org"}},
      {u"feed://x.org/a", ok, {u"http://x.org/a"}},
      {u"feed:x.org/a", ok, {u"http://x.org/a"}},
      {u"feed:feed://x.org", AddressProblem::kUnsupportedScheme, {}},
      {u"feed:javascript:alert(1)", AddressProblem::kUnsupportedScheme, {}},
      // Refused.
      {u"", AddressProblem::kEmpty, {}},
      {u" \t ", AddressProblem::kEmpty, {}},
      {u"not a url at all", AddressProblem::kNotAnAddress, {}},
      {u"exa mple.com", AddressProblem::kNotAnAddress, {}},
      {u"http://exa mple.com/", AddressProblem::kNotAnAddress, {}},
      {u"http:example.com", AddressProblem::kNotAnAddress, {}},
      {u"http://example.com/\tx", AddressProblem::kNotAnAddress, {}},
      {u"exa\u0001mple.com", AddressProblem::kNotAnAddress, {}},
      {u"ftp://example.com/f", AddressProblem::kUnsupportedScheme, {}},
      {u"file:///etc/passwd", AddressProblem::kUnsupportedScheme, {}},
      {u"javascript:alert(1)", AddressProblem::kUnsupportedScheme, {}},
      {u"mailto:someone@example.com", AddressProblem::kUnsupportedScheme, {}},
      {u"C:\\feeds\\news.xml", AddressProblem::kUnsupportedScheme, {}},
      {u"http://", AddressProblem::kBadHost, {}},
      {u"https:///feed", AddressProblem::kBadHost, {}},
      {u"http://:80/", AddressProblem::kBadHost, {}},
      {u"intranet/feed", AddressProblem::kBadHost, {}},
      {u"news", AddressProblem::kBadHost, {}},
      {u"example..com", AddressProblem::kBadHost, {}},
      {u".example.com", AddressProblem::kBadHost, {}},
      {u"exa<mple.com", AddressProblem::kBadHost, {}},
      {u"http://e\\xample.com/", AddressProblem::kBadHost, {}},
      {u"http://" + std::u16string(64, u'a') + u".com/", AddressProblem::kBadHost, {}},
      {u"1.5", AddressProblem::kBadHost, {}},
      {u"256.1.1.1", AddressProblem::kBadHost, {}},
      {u"10.0.0.010", AddressProblem::kBadHost, {}},
      {u"http://999/", AddressProblem::kBadHost, {}},
      {u"http://[zz::1]/", AddressProblem::kBadHost, {}},
      {u"http://[::1/", AddressProblem::kBadHost, {}},
      {u"http://[::1]x/", AddressProblem::kBadHost, {}},
      {u"example.com:0", AddressProblem::kBadPort, {}},
      {u"example.com:65536", AddressProblem::kBadPort, {}},
      {u"example.com:abc", AddressProblem::kBadPort, {}},
      {u"http://[::1]:8a/", AddressProblem::kBadPort, {}},
  };
  for (const Case& c : cases) {
    const CheckedAddress got = CheckFeedAddress(c.typed);
    const std::string label = Utf16ToUtf8(c.typed);
    EXPECT_EQ(got.problem, c.problem) << label;
    EXPECT_EQ(got.candidates, c.candidates) << label;
    // Every refusal has its sentence for the dialog.
    EXPECT_EQ(AddressProblemText(got.problem).empty(), got.ok()) << label;
  }
}

// The examples of RFC 3986, section 5.4, and what pages write in practice.
TEST(WebAddressTest, ResolvesLinks) {
  const std::u16string base = u"http://a/b/c/d;p?q";
  const std::pair<std::u16string, std::u16string> cases[] = {
      {u"g:h", u"g:h"},
      {u"g", u"http://a/b/c/g"},
      {u"./g", u"http://a/b/c/g"},
      {u"g/", u"http://a/b/c/g/"},
      {u"/g", u"http://a/g"},
      {u"//g", u"http://g"},
      {u"?y", u"http://a/b/c/d;p?y"},
      {u"g?y", u"http://a/b/c/g?y"},
      {u"#s", u"http://a/b/c/d;p?q#s"},
      {u"g?y#s", u"http://a/b/c/g?y#s"},
      {u";x", u"http://a/b/c/;x"},
      {u"", u"http://a/b/c/d;p?q"},
      {u".", u"http://a/b/c/"},
      {u"./", u"http://a/b/c/"},
      {u"..", u"http://a/b/"},
      {u"../g", u"http://a/b/g"},
      {u"../..", u"http://a/"},
      {u"../../g", u"http://a/g"},
      {u"../../../g", u"http://a/g"},
      {u"../../../../g", u"http://a/g"},
      {u"/./g", u"http://a/g"},
      {u"/../g", u"http://a/g"},
      {u"g.", u"http://a/b/c/g."},
      {u"..g", u"http://a/b/c/..g"},
      {u"./../g", u"http://a/b/g"},
      {u"./g/.", u"http://a/b/c/g/"},
      {u"g/./h", u"http://a/b/c/g/h"},
      {u"g/../h", u"http://a/b/c/h"},
      {u"g;x=1/./y", u"http://a/b/c/g;x=1/y"},
      {u"g;x=1/../y", u"http://a/b/c/y"},
      {u"g?y/./x", u"http://a/b/c/g?y/./x"},
      {u"g#s/../x", u"http://a/b/c/g#s/../x"},
      {u"http:g", u"http:g"},
      {u"  /feed.xml\n", u"http://a/feed.xml"},
      {u"/fe\ted\r\n.xml", u"http://a/feed.xml"},
      {u"HTTPS://Other.org/Atom", u"https://Other.org/Atom"},
  };
  for (const auto& [reference, expected] : cases) {
    EXPECT_EQ(ResolveUrl(base, reference), expected) << Utf16ToUtf8(reference);
  }
  EXPECT_EQ(ResolveUrl(u"http://a", u"g"), u"http://a/g");
  EXPECT_EQ(ResolveUrl(u"https://a/x/", u"//b.org/rss"), u"https://b.org/rss");
  // Nothing to resolve a relative link against.
  EXPECT_EQ(ResolveUrl(u"/only/a/path", u"g"), u"");
  EXPECT_EQ(ResolveUrl(u"", u"g"), u"");
  EXPECT_EQ(ResolveUrl(u"", u"http://x/y"), u"http://x/y");
}

TEST(WebAddressTest, SiteOfAUrl) {
  struct Case {
    std::u16string url;
    std::u16string home;
    std::u16string key;
  };
  const Case cases[] = {
      {u"https://Example.com:8443/a/b?c", u"https://Example.com:8443/", u"example.com:8443"},
      {u"http://example.com:80/x", u"http://example.com:80/", u"example.com"},
      {u"https://example.com:443", u"https://example.com:443/", u"example.com"},
      {u"https://example.com:80/", u"https://example.com:80/", u"example.com:80"},
      {u"http://example.com:0080/", u"http://example.com:0080/", u"example.com"},
      // Credentials belong to the feed, not to its site.
      {u"http://user:pw@example.com/x", u"http://example.com/", u"example.com"},
      {u"HTTP://EXAMPLE.COM./feed", u"http://EXAMPLE.COM./", u"example.com"},
      {u"http://[::1]:8080/x", u"http://[::1]:8080/", u"[::1]:8080"},
      {u"http://intranet/rss", u"http://intranet/", u"intranet"},
      {u"ftp://example.com/", u"", u""},
      {u"example.com/feed", u"", u""},
      {u"http://exa mple.com/", u"", u""},
      {u"http:///feed", u"", u""},
      {u"", u"", u""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SiteHomeUrl(c.url), c.home) << Utf16ToUtf8(c.url);
    EXPECT_EQ(SiteKey(c.url), c.key) << Utf16ToUtf8(c.url);
  }
}

}  // namespace
}  // namespace qb
