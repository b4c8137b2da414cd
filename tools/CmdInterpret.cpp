// quillbend-cli interpret FILE [--title T] [--autoname]: interprets a feed
// document (RSS, Atom, RSS 1.0 or JSON Feed) into a fresh source and prints
// the articles added and the source's state as canonical JSON.
#include <optional>

#include "base/Text.h"
#include "formats/Interpret.h"
#include "formats/ParsedFeed.h"
#include "formats/TextDecoding.h"
#include "model/FeedsManager.h"
#include "tools/Cli.h"
#include "tools/Json.h"

namespace qb::cli {
namespace {

// Any tick other than the source's initial 0 shows that a success path
// stored it.
constexpr uint32_t kUpdateTick = 1;

JsonValue ArticleToJson(const CFeed& a) {
  JsonObject o;
  o[u"channel"] = a.m_channel;
  o[u"date"] = DateToJson(a.m_date);
  o[u"dateText"] = a.m_dateText;
  o[u"description"] = a.m_description;
  o[u"key"] = a.m_key;
  o[u"link"] = a.m_link;
  o[u"read"] = a.m_read;
  o[u"sourceText"] = a.m_sourceText.str();
  o[u"title"] = a.m_title;
  return o;
}

int RunInterpret(CliContext& ctx) {
  std::optional<std::string> file;
  std::u16string title;
  bool autoName = false;
  bool usage = false;
  for (size_t i = 0; i < ctx.args.size(); ++i) {
    const std::string& a = ctx.args[i];
    if (a == "--title" && i + 1 < ctx.args.size()) {
      title = Utf8ToUtf16(ctx.args[++i]);
    } else if (a == "--autoname") {
      autoName = true;
    } else if (!file && a != "--title") {
      file = a;
    } else {
      usage = true;
    }
  }
  if (usage || !file) {
    ctx.err << "usage: quillbend-cli interpret FILE [--title T] [--autoname]\n";
    return 2;
  }
  std::string bytes;
  if (!ReadFileBytes(*file, bytes)) {
    ctx.err << "quillbend-cli: cannot read " << *file << "\n";
    return 2;
  }
  const SharedText text(DecodeFeedBytes(bytes));

  // A model of one source, made and merged into by the model's own
  // operations, as an update of a new subscription would be.
  CFeedsManager manager;
  manager.FixUpAfterLoad();
  const ObjectId id = manager.AddSource(manager.RootGroups().front(), u"")->m_id;
  SourceFields fields = *manager.GetFeedSource(id);
  fields.m_title = title;
  fields.m_autoName = autoName;
  manager.SetSourceFields(id, fields);
  const bool result = manager.MergeArticles(id, ReadFeed(ParseFeed(text), u""), kUpdateTick);
  const CFeedSource* source = manager.GetFeedSource(id);

  JsonArray articles;
  for (ObjectId id : source->m_articles) {
    if (const CFeed* a = manager.GetFeed(id)) articles.push_back(ArticleToJson(*a));
  }
  JsonObject src;
  src[u"autoName"] = source->m_autoName;
  src[u"commsStatus"] = source->m_commsStatus;
  src[u"tickSet"] = source->m_lastUpdateTick == kUpdateTick;
  src[u"title"] = source->m_title;
  JsonObject root;
  root[u"articles"] = std::move(articles);
  root[u"result"] = result;
  root[u"source"] = std::move(src);
  PrintJsonLine(ctx.out, JsonValue(std::move(root)).ToString());
  return 0;
}

QB_CLI_COMMAND({"interpret", "interpret FILE [--title T] [--autoname]  the articles a feed document adds",
                RunInterpret});

}  // namespace
}  // namespace qb::cli
