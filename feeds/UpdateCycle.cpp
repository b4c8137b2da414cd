#include "feeds/UpdateCycle.h"

#include <limits>

#include "feeds/Interpret.h"
#include "feeds/ParsedFeed.h"
#include "feeds/UpdateEngine.h"

namespace qb {

namespace {

constexpr int64_t kMillisecondsPerMinute = 60000;

bool RunPass(CFeedsManager& manager, const IdList* sources, bool force) {
  bool news = false;
  CUpdateEngine::Hooks hooks;
  hooks.passFinished = [&](const PassReport& r) { news = r.news; };
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

std::u16string UpdatingSourceStatus(const std::u16string& title) {
  return u"Updating '" + title + u"'...";
}

bool ParseAndInterpret(CFeedsManager& manager, CFeedSource& source, const SharedText& text,
                       uint32_t tick) {
  return InterpretFeed(manager, source, ParseFeed(text), tick);
}

bool IsSourceDue(uint32_t now, uint32_t lastTick, int32_t refreshMinutes) {
  const int64_t interval = int64_t{refreshMinutes} * kMillisecondsPerMinute;
  // Longer than the counter can measure: only a forced update fetches it.
  if (interval > int64_t{std::numeric_limits<uint32_t>::max()}) return false;
  if (now < lastTick) return true;  // the counter has wrapped
  return int64_t{static_cast<uint32_t>(now - lastTick)} >= interval;
}

bool UpdateAll(CFeedsManager& manager, bool force) { return RunPass(manager, nullptr, force); }

bool UpdateSource(CFeedsManager& manager, CFeedSource& source, bool force) {
  const IdList one{source.m_id};
  return RunPass(manager, &one, force);
}

}  // namespace qb
