// JSON Feed text through the whole reading path: ParseFeed, then the
// interpretation into a fresh model, then the enclosures of every article.
// Checks that every item knows where its own JSON stands (a slice of the
// text from "{" to "}" that reads, as ParseJsonFeed reads it, as an object
// with the item's id), and that every article's source text is such a
// slice.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "base/Text.h"
#include "formats/Enclosures.h"
#include "formats/Interpret.h"
#include "formats/JsonFeed.h"
#include "formats/ParsedFeed.h"
#include "model/Feed.h"
#include "model/FeedsManager.h"
#include "model/ModelWriter.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const qb::SharedText text(qb::Utf8ToUtf16(bytes));
  const std::u16string& s = text.str();

  const std::optional<qb::JsonFeedDocument> feed = qb::ParseJsonFeed(s);
  if (feed) {
    for (const qb::JsonFeedItem& item : feed->items) {
      Check(item.markupBegin < item.markupEnd && item.markupEnd <= s.size());
      Check(s[item.markupBegin] == u'{' && s[item.markupEnd - 1] == u'}');
      const std::u16string_view own = std::u16string_view(s).substr(item.markupBegin, item.markupEnd - item.markupBegin);
      const nlohmann::json object = nlohmann::json::parse(qb::JsonFeedUtf8(own), nullptr, false);
      Check(object.is_object());
      const auto id = object.find("id");
      if (id != object.end() && id->is_string()) Check(qb::Utf8ToUtf16(id->get<std::string>()) == item.id);
    }
  }

  const qb::CParsedFeed parsed = qb::ParseFeed(text);
  Check((parsed.JsonFeed() != nullptr) == feed.has_value());
  qb::CFeedsManager manager;
  qb::CFeedSource* source = qb::CModelWriter(manager).NewFeedSource();
  source->m_url = u"https://example.org/feed.json";
  const bool added = qb::InterpretFeed(manager, *source, parsed, 1);
  Check(added == !source->m_articles.empty());
  for (qb::ObjectId id : source->m_articles) {
    const qb::CFeed* article = manager.GetFeed(id);
    Check(article != nullptr && !article->m_key.empty());
    const std::u16string& own = article->m_sourceText.str();
    if (feed) Check(!own.empty() && own.front() == u'{' && s.find(own) != std::u16string::npos);
    qb::FindEnclosures(own);
  }
  return 0;
}
