// quillbend-cli parse, interpret and markup, run in-process.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "tests/support/ScopedTimeZone.h"
#include "tests/support/TempDir.h"
#include "tools/Cli.h"

namespace qb::cli {
namespace {

struct CliRun {
  int status;
  std::string out;
  std::string err;
};

CliRun Cli(const std::vector<std::string>& args) {
  std::ostringstream out, err;
  const int status = RunCli(args, out, err);
  return {status, out.str(), err.str()};
}

class FeedCommandsTest : public ::testing::Test {
 protected:
  std::string File(const std::string& bytes) {
    const std::string path = m_dir.File("doc" + std::to_string(m_files++) + ".xml");
    test::WriteFile(path, bytes);
    return path;
  }

  test::TempDir m_dir;
  int m_files = 0;
};

TEST_F(FeedCommandsTest, ParsePrintsTheTree) {
  const struct {
    std::string bytes;
    std::string json;
  } cases[] = {
      {"\xEF\xBB\xBF<?xml version=\"1.0\"?><!-- c --><r b=\"2\" a='1'><z>caf\xC3\xA9 &amp; \"q\"</z>"
       "<y/><open></r>",
       R"({"attributes":{},"children":[{"attributes":{},"children":[],"name":"!c","text":""},)"
       R"({"attributes":{"version":"1.0"},"children":[],"name":"?xml","text":""},)"
       R"({"attributes":{"a":"1","b":"2"},"children":[{"attributes":{},"children":[{"attributes":{},)"
       R"("children":[],"name":"r","text":""}],"name":"open","text":""},)"
       R"({"attributes":{},"children":[],"name":"y","text":""},)"
       R"({"attributes":{},"children":[],"name":"z","text":"caf\u00e9 & \"q\""}],"name":"r","text":""}],)"
       R"("name":"","text":""})"
       "\n"},
      // An ill-formed byte becomes U+FFFD; a character outside the BMP two escapes.
      {"<t>a\xFF\xF0\x9F\x98\x80</t>",
       R"({"attributes":{},"children":[{"attributes":{},"children":[],"name":"t","text":"a\ufffd\ud83d\ude00"}],)"
       R"("name":"","text":""})"
       "\n"},
      {"", R"({"attributes":{},"children":[],"name":"","text":""})" "\n"},
      // Not UTF-8, but the declaration names the encoding: read as ISO-8859-1.
      {"<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><t>caf\xE9</t>",
       R"({"attributes":{},"children":[{"attributes":{"encoding":"ISO-8859-1","version":"1.0"},)"
       R"("children":[],"name":"?xml","text":""},{"attributes":{},"children":[],"name":"t","text":"caf\u00e9"}],)"
       R"("name":"","text":""})"
       "\n"},
  };
  for (const auto& c : cases) {
    const CliRun r = Cli({"parse", File(c.bytes)});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, c.json) << c.bytes;
  }
}

TEST_F(FeedCommandsTest, ParsePrintsDeepTrees) {
  std::string doc;
  for (int i = 0; i < 100000; ++i) doc += "<a>";
  const CliRun r = Cli({"parse", File(doc)});
  ASSERT_EQ(r.status, 0);
  const std::string open = R"({"attributes":{},"children":[)";
  const std::string close = R"(],"name":"a","text":""})";
  const std::string documentClose = R"(],"name":"","text":""})" "\n";
  EXPECT_EQ(r.out.size(), 100001 * open.size() + 100000 * close.size() + documentClose.size());
  EXPECT_EQ(r.out.compare(0, open.size() * 2, open + open), 0);
  EXPECT_EQ(r.out.substr(r.out.size() - close.size() - documentClose.size()), close + documentClose);
}

TEST_F(FeedCommandsTest, InterpretPrintsTheArticlesAndTheSource) {
  const test::ScopedTimeZone utc("UTC0");
  const std::string feed =
      "<rss version=\"2.0\"><channel><title> News </title>"
      "<item><title>One</title><link>L1</link><guid>g1</guid>"
      "<pubDate>Mon, 04 May 2009 10:20:30 GMT</pubDate><description>&lt;p&gt;d&lt;/p&gt;</description></item>"
      "<item><title>One</title><link>L1</link><guid>g1</guid>"
      "<pubDate>Mon, 04 May 2009 10:20:30 GMT</pubDate><description>&lt;p&gt;d&lt;/p&gt;</description></item>"
      "</channel></rss>";  // the same item twice: one article
  CliRun r = Cli({"interpret", File(feed), "--title", "T", "--autoname"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            R"({"articles":[{"channel":"News","date":{"H":10,"M":20,"S":30,"d":4,"m":5,"status":"valid","y":2009},)"
            R"("dateText":"Mon, 04 May 2009 10:20:30 GMT","description":"<p>d</p>","key":"g1","link":"L1",)"
            R"("read":false,"sourceText":"<item><title>One</title><link>L1</link><guid>g1</guid>)"
            R"(<pubDate>Mon, 04 May 2009 10:20:30 GMT</pubDate><description>&lt;p&gt;d&lt;/p&gt;</description>)"
            R"(</item>","title":"One"}],"result":true,)"
            R"("source":{"autoName":false,"commsStatus":"Comms status: OK","tickSet":true,"title":"News"}})"
            "\n");

  r = Cli({"interpret", "--title", "Mine", File("<html/>")});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            R"({"articles":[],"result":false,"source":{"autoName":false,)"
            R"("commsStatus":"Comms status: ERROR - unable to understand feed contents",)"
            R"("tickSet":false,"title":"Mine"}})"
            "\n");
}

// A JSON Feed: interpret prints what it prints for any feed; parse prints
// the members read of each item and its JSON as it stands.
TEST_F(FeedCommandsTest, JsonFeedsAreReadToo) {
  const test::ScopedTimeZone tokyo("JST-9");
  const std::string feed =
      "{\"version\":\"https://jsonfeed.org/version/1.1\",\"title\":\"J\",\"items\":["
      "{\"id\":\"i1\",\"url\":\"https://e.org/1\",\"title\":\"One\",\"content_text\":\"a<b\","
      "\"date_published\":\"2009-05-04T20:00:00Z\"}, {\"id\":2,\"summary\":\"s\"}]}";
  const std::string path = File(feed);
  CliRun r = Cli({"interpret", path, "--autoname"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            R"({"articles":[{"channel":"J","date":{"H":5,"M":0,"S":0,"d":5,"m":5,"status":"valid","y":2009},)"
            R"("dateText":"2009-05-04T20:00:00Z","description":"a&lt;b","key":"i1","link":"https://e.org/1",)"
            R"("read":false,"sourceText":"{\"id\":\"i1\",\"url\":\"https://e.org/1\",\"title\":\"One\",)"
            R"(\"content_text\":\"a<b\",\"date_published\":\"2009-05-04T20:00:00Z\"}","title":"One"},)"
            R"({"channel":"J","date":{"status":"invalid"},"dateText":"","description":"s","key":"2","link":"",)"
            R"("read":false,"sourceText":"{\"id\":2,\"summary\":\"s\"}","title":"<Untitled>"}],"result":true,)"
            R"("source":{"autoName":false,"commsStatus":"Comms status: OK","tickSet":true,"title":"J"}})"
            "\n");

  r = Cli({"parse", path});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            R"({"items":[{"content_html":"","content_text":"a<b","date_modified":"",)"
            R"("date_published":"2009-05-04T20:00:00Z","external_url":"","id":"i1",)"
            R"("sourceText":"{\"id\":\"i1\",\"url\":\"https://e.org/1\",\"title\":\"One\",)"
            R"(\"content_text\":\"a<b\",\"date_published\":\"2009-05-04T20:00:00Z\"}","summary":"",)"
            R"("title":"One","url":"https://e.org/1"},{"content_html":"","content_text":"","date_modified":"",)"
            R"("date_published":"","external_url":"","id":"2","sourceText":"{\"id\":2,\"summary\":\"s\"}",)"
            R"("summary":"s","title":"","url":""}],"title":"J","version":"https://jsonfeed.org/version/1.1"})"
            "\n");

  // Malformed JSON is parsed as XML, which finds nothing in it.
  r = Cli({"parse", File("{\"version\":\"https://jsonfeed.org/version/1\",")});
  EXPECT_EQ(r.out, R"({"attributes":{},"children":[],"name":"","text":""})" "\n");
  EXPECT_NE(Cli({"--help"}).out.find("For a JSON Feed,\nparse prints {\"items\":[ITEM,...]"), std::string::npos);
}

TEST_F(FeedCommandsTest, MarkupAppliesOneFunction) {
  const struct {
    std::vector<std::string> args;
    std::string out;
  } cases[] = {
      {{"markup", "DecodeEntities", "&amp;lt; &apos;"}, "\"&lt; '\"\n"},
      {{"markup", "EncodeEntities", "<a href='x'>&</a>"}, "\"&lt;a href=&apos;x&apos;&gt;&amp;&lt;/a&gt;\"\n"},
      {{"markup", "DecodeCharRefs", "caf&#233; &#x1F600;"}, "\"caf\\u00e9 \\ud83d\\ude00\"\n"},
      {{"markup", "EncodeCharRefs", "\xE2\x82\xAC \xF0\x9F\x98\x80"}, "\"&#8364; &#128512;\"\n"},
      {{"markup", "EncodeEntities", "--", "--x"}, "\"--x\"\n"},
      {{"markup", "DecodeEntities", ""}, "\"\"\n"},
  };
  for (const auto& c : cases) {
    const CliRun r = Cli(c.args);
    EXPECT_EQ(r.status, 0) << c.args[2];
    EXPECT_EQ(r.out, c.out) << c.args[2];
  }
}

TEST_F(FeedCommandsTest, UsageErrors) {
  const std::vector<std::vector<std::string>> cases = {
      {"parse"},
      {"parse", m_dir.File("missing.xml")},
      {"interpret", m_dir.File("missing.xml")},
      {"interpret"},
      {"interpret", File("<rss/>"), "--title"},
      {"markup", "Decode", "x"},
      {"markup", "DecodeEntities"},
  };
  for (const auto& args : cases) {
    const CliRun r = Cli(args);
    EXPECT_EQ(r.status, 2) << args.size();
    EXPECT_TRUE(r.out.empty());
    EXPECT_FALSE(r.err.empty());
  }
}

}  // namespace
}  // namespace qb::cli
