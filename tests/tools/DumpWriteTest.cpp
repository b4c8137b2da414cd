// quillbend-cli dump and write, run in-process.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <sstream>

#include "classic/DataFile.h"
#include "model/FeedsManager.h"
#include "model/ModelWriter.h"
#include "tests/support/ArchiveBytes.h"
#include "tests/support/SampleModel.h"
#include "tests/support/TempDir.h"
#include "tools/Cli.h"

namespace qb {
namespace {

using test::TempDir;

struct CliRun {
  int status;
  std::string out;
  std::string err;
};

CliRun Cli(const std::vector<std::string>& args) {
  std::ostringstream out, err;
  const int status = cli::RunCli(args, out, err);
  return {status, out.str(), err.str()};
}

TEST(DumpWriteTest, DumpPrintsEveryFieldCanonically) {
  TempDir tmp;
  CFeedsManager m;
  auto group = std::make_unique<CGroup>();
  group->m_name = u"G \U0001F600\"\\/\x01";
  group->m_childGroups = {0};
  group->m_sources = {0x20002};
  CModelWriter(m).Storage().Register(std::move(group), 0x10001);
  auto source = std::make_unique<CFeedSource>();
  source->m_title = u"S";
  source->m_legacyRefresh = 255;
  source->m_refreshInterval = -3;
  source->m_reservedDate = CDateTime::Invalid();
  source->m_articles = {0x30003};
  source->m_history[u"k2"] = {7, CDateTime()};
  source->m_history[u"k1"] = {8, CDateTime::Invalid()};
  CModelWriter(m).Storage().Register(std::move(source), 0x20002);
  auto article = std::make_unique<CFeed>();
  article->m_id = 0x30003;
  article->m_read = true;
  article->m_date.SetDateTime(2009, 5, 4, 10, 20, 30);
  article->m_sourceText = SharedText(u"<rss/>");
  CModelWriter(m).Storage().Register(std::move(article), 0x30003);
  CModelWriter(m).RootGroups() = {0x10001};
  ASSERT_TRUE(SaveDataFile(m, tmp.File("Feeds")).ok);

  const CliRun r = Cli({"dump", tmp.File("Feeds")});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(
      r.out,
      "{\"model\":{\"records\":["
      "{\"childGroups\":[0],\"expanded\":true,\"id\":65537,"
      "\"name\":\"G \\ud83d\\ude00\\\"\\\\/\\u0001\",\"sources\":[131074],\"type\":\"group\"},"
      "{\"articles\":[196611],\"autoName\":false,\"commsStatus\":\"\",\"history\":["
      "{\"articleId\":8,\"firstSeen\":{\"status\":\"invalid\"},\"key\":\"k1\"},"
      "{\"articleId\":7,\"firstSeen\":{\"H\":0,\"M\":0,\"S\":0,\"d\":30,\"m\":12,"
      "\"status\":\"valid\",\"y\":1899},\"key\":\"k2\"}],"
      "\"id\":131074,\"legacyRefresh\":255,\"refreshInterval\":-3,"
      "\"reservedDate\":{\"status\":\"invalid\"},\"reservedString\":\"\",\"sortColumn\":0,"
      "\"sortDirection\":1024,\"title\":\"S\",\"type\":\"source\",\"url\":\"\"},"
      "{\"channel\":\"\",\"date\":{\"H\":10,\"M\":20,\"S\":30,\"d\":4,\"m\":5,"
      "\"status\":\"valid\",\"y\":2009},\"dateText\":\"\",\"description\":\"\",\"id\":196611,"
      "\"key\":\"\",\"link\":\"\",\"read\":true,\"sourceText\":\"<rss/>\",\"title\":\"\","
      "\"type\":\"article\"}],\"rootGroups\":[65537]},\"outcome\":\"ok\"}\n");
}

TEST(DumpWriteTest, DumpReportsEachOutcomeAndNeverTouchesTheFile) {
  TempDir tmp;
  struct Case {
    const char* name;
    std::string bytes;
    const char* outcome;
  };
  const Case cases[] = {
      {"empty", "", "endOfFile"},
      {"newer", test::ArchiveBytes().Header(9, u"CFeedsManager").str(), "badSchema"},
      {"misnamed", test::ArchiveBytes().Header(1, u"CFeedManager").str(), "badClass"},
      {"type code",
       test::ArchiveBytes()
           .Header(1, u"CFeedsManager")
           .U32(0)
           .Header(1, u"CObjectStorage")
           .U32(1)
           .U32(9)
           .str(),
       "badClass"},
      {"huge length",
       test::ArchiveBytes()
           .U8(1)
           .U8(0xFF)
           .U16(0xFFFF)
           .U32(0xFFFFFFFF)
           .U64(uint64_t{1} << 40)
           .str(),
       "generic"},
  };
  // What looks like a killed save's file stays too: dump only reads.
  test::WriteFile(tmp.File("newer.saving-Abc123"), "stale");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = tmp.File(c.name);
    test::WriteFile(path, c.bytes);
    const CliRun r = Cli({"dump", path});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find(std::string("\"outcome\":\"") + c.outcome + "\"}\n"), std::string::npos)
        << r.out;
    // After the repair the model holds one root group "All Sources".
    EXPECT_NE(r.out.find("\"name\":\"All Sources\""), std::string::npos);
    EXPECT_EQ(test::ReadFile(path), c.bytes);
  }
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(tmp.path()),
                          std::filesystem::directory_iterator()),
            6) << "no copies beside the files, nothing removed";

  const CliRun missing = Cli({"dump", tmp.File("absent")});
  EXPECT_EQ(missing.status, 2);
  EXPECT_TRUE(missing.out.empty());
  EXPECT_FALSE(missing.err.empty());
  EXPECT_EQ(Cli({"dump", tmp.path()}).status, 2) << "a folder cannot be opened as a file";
  ASSERT_EQ(::mkfifo(tmp.File("pipe").c_str(), 0600), 0);
  EXPECT_EQ(Cli({"dump", tmp.File("pipe")}).status, 2) << "a pipe is refused, not waited on";
}

TEST(DumpWriteTest, WriteThenDumpGivesTheSameModelAndTheProgramsBytes) {
  TempDir tmp;
  CFeedsManager m;
  test::BuildSampleModel(m);
  ASSERT_TRUE(SaveDataFile(m, tmp.File("Feeds")).ok);
  const CliRun first = Cli({"dump", tmp.File("Feeds")});
  ASSERT_EQ(first.status, 0);

  // A whole dump output is accepted, and so is its model alone.
  test::WriteFile(tmp.File("dump.json"), first.out);
  ASSERT_EQ(Cli({"write", tmp.File("dump.json"), tmp.File("Out1")}).status, 0);
  EXPECT_TRUE(test::ReadFile(tmp.File("Out1")) == test::ReadFile(tmp.File("Feeds")));

  const std::string model = first.out.substr(9, first.out.rfind(",\"outcome\"") - 9);
  test::WriteFile(tmp.File("model.json"), model);
  const CliRun w = Cli({"write", tmp.File("model.json"), tmp.File("Out2")});
  ASSERT_EQ(w.status, 0) << w.err;
  EXPECT_TRUE(test::ReadFile(tmp.File("Out2")) == test::ReadFile(tmp.File("Feeds")));
  EXPECT_TRUE(Cli({"dump", tmp.File("Out2")}).out == first.out);
}

TEST(DumpWriteTest, WriteFillsMissingKeysWithNewRecordDefaults) {
  TempDir tmp;
  test::WriteFile(tmp.File("m.json"),
                  " {\n \"rootGroups\": [1],\n \"records\": [\n"
                  "  {\"type\": \"group\", \"id\": 1, \"sources\": [2]},\n"
                  "  {\"type\": \"source\", \"id\": 2, \"title\": \"caf\\u00e9 \\ud83d\\ude00\"},\n"
                  "  {\"type\": \"article\", \"id\": 3}\n ]\n}\n");
  const CliRun w = Cli({"write", tmp.File("m.json"), tmp.File("Feeds")});
  ASSERT_EQ(w.status, 0) << w.err;
  CFeedsManager m;
  ASSERT_TRUE(LoadDataFile(m, tmp.File("Feeds")).ok());
  const CGroup* g = m.GetGroup(1);
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(g->m_id, 1u);
  EXPECT_TRUE(g->m_expanded);
  const CFeedSource* s = m.GetFeedSource(2);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->m_title, u"caf\u00e9 \U0001F600");
  EXPECT_EQ(s->m_refreshInterval, 15);
  EXPECT_EQ(s->m_sortDirection, kSortAscending);
  const CFeed* a = m.GetFeed(3);
  ASSERT_NE(a, nullptr);
  EXPECT_FALSE(a->m_read);
  EXPECT_EQ(a->m_date, CDateTime());
}

TEST(DumpWriteTest, MalformedModelsLeaveTheOutputUntouched) {
  const char* models[] = {
      "",
      "[]",
      "{\"records\":[{\"type\":\"group\",\"id\":1}]",                 // unterminated
      "{\"records\":[{\"type\":\"group\"}]}",                         // no id
      "{\"records\":[{\"type\":\"folder\",\"id\":1}]}",               // unknown type
      "{\"records\":[{\"type\":\"group\",\"id\":1,\"nmae\":\"x\"}]}",  // unknown key
      "{\"records\":[{\"type\":\"group\",\"id\":1},{\"type\":\"article\",\"id\":1}]}",
      "{\"records\":[{\"type\":\"group\",\"id\":4294967296}]}",
      "{\"records\":[{\"type\":\"group\",\"id\":-1}]}",
      "{\"records\":[{\"type\":\"group\",\"id\":1,\"expanded\":1}]}",
      "{\"records\":[{\"type\":\"group\",\"id\":1,\"name\":null}]}",
      "{\"records\":[{\"type\":\"source\",\"id\":1,\"legacyRefresh\":256}]}",
      "{\"records\":[{\"type\":\"source\",\"id\":1,\"refreshInterval\":2147483648}]}",
      "{\"records\":[{\"type\":\"source\",\"id\":1,\"history\":[{\"key\":\"a\"},{\"key\":\"a\"}]}]}",
      ("{\"records\":[{\"type\":\"article\",\"id\":1,\"date\":{\"status\":\"valid\",\"y\":2026,"
       "\"m\":2,\"d\":30,\"H\":0,\"M\":0,\"S\":0}}]}"),
      "{\"records\":[{\"type\":\"article\",\"id\":1,\"date\":{\"status\":\"valid\"}}]}",
      "{\"records\":[{\"type\":\"article\",\"id\":1,\"date\":{\"status\":\"null\"}}]}",
      "{\"records\":[{\"type\":\"article\",\"id\":1,\"read\":true,\"read\":false}]}",
      "{\"records\":[],\"rootGroups\":[1.5]}",
      "{\"records\":[],\"rootGroups\":[]} trailing",
      "{\"records\":[],\"rootGroups\":[],\"extra\":1}",
      "{\"model\":{},\"outcome\":\"ok\",\"more\":1}",
      "{\"records\":[{\"type\":\"group\",\"id\":1,\"name\":\"bad \\x escape\"}]}",
  };
  std::vector<std::string> all(std::begin(models), std::end(models));
  all.push_back(std::string(100000, '['));  // nesting that would exhaust the stack
  TempDir tmp;
  test::WriteFile(tmp.File("Feeds"), "keep me");
  for (const std::string& model : all) {
    SCOPED_TRACE(model.substr(0, 100));
    test::WriteFile(tmp.File("m.json"), model);
    const CliRun r = Cli({"write", tmp.File("m.json"), tmp.File("Feeds")});
    EXPECT_EQ(r.status, 2);
    EXPECT_FALSE(r.err.empty());
    EXPECT_TRUE(r.out.empty());
    EXPECT_EQ(test::ReadFile(tmp.File("Feeds")), "keep me");
  }
  EXPECT_EQ(Cli({"write", tmp.File("absent.json"), tmp.File("Feeds")}).status, 2);
  EXPECT_EQ(Cli({"write", tmp.File("m.json")}).status, 2);
}

}  // namespace
}  // namespace qb
