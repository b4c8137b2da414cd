#include "tests/support/UpdatePasses.h"

#include <string>

#include "base/Text.h"
#include "formats/Interpret.h"
#include "formats/ParsedFeed.h"
#include "update/UpdateEngine.h"

namespace qb {

namespace {

bool RunPass(CFeedsManager& manager, const IdList* sources, bool force, IStatusHandler* status) {
  bool news = false;
  CUpdateEngine::Hooks hooks;
  hooks.passFinished = [&](const PassReport& r) { news = r.news; };
  if (status != nullptr) hooks.status = [status](const std::u16string& text) { status->SetStatusText(text); };
  CUpdateEngine engine(manager, std::move(hooks));
  if (sources != nullptr) {
    engine.UpdateSources(*sources, force);
  } else {
    engine.UpdateAll(force);
  }
  engine.RunToCompletion();
  return news;
}

}  // namespace

bool ParseAndInterpret(CFeedsManager& manager, const CFeedSource& source, const SharedText& text, uint32_t tick) {
  return InterpretFeed(manager, source, ParseFeed(text), tick);
}

bool UpdateAll(CFeedsManager& manager, bool force, IStatusHandler* status) {
  return RunPass(manager, nullptr, force, status);
}

bool UpdateSource(CFeedsManager& manager, CFeedSource& source, bool force, IStatusHandler* status) {
  const IdList one{source.m_id};
  return RunPass(manager, &one, force, status);
}

IdList DeliverArticles(CFeedsManager& manager, ObjectId source, std::vector<ArticleCandidate> articles,
                       uint32_t tick) {
  static uint64_t serial = 0;
  const CFeedSource* s = manager.GetFeedSource(source);
  if (s == nullptr) return {};
  const size_t before = s->m_articles.size();
  FeedReading reading;
  reading.understood = true;
  for (ArticleCandidate& c : articles) {
    if (c.fields.m_key.empty()) c.fields.m_key = u"delivered-" + Utf8ToUtf16(std::to_string(++serial));
  }
  reading.articles = std::move(articles);
  manager.MergeArticles(source, std::move(reading), tick);
  return IdList(s->m_articles.begin() + static_cast<std::ptrdiff_t>(before), s->m_articles.end());
}

ArticleCandidate Candidate(std::u16string title, std::u16string key) {
  ArticleCandidate c;
  c.fields.m_title = std::move(title);
  c.fields.m_key = std::move(key);
  return c;
}

}  // namespace qb
