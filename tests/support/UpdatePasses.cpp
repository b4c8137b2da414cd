#include "tests/support/UpdatePasses.h"

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

}  // namespace qb
