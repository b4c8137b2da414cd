// The pieces of an update pass that do not depend on how documents are
// fetched: the status texts, the due test on the 32-bit tick counter, and
// the interpretation step. The pass itself is CUpdateEngine
// (feeds/UpdateEngine.h); UpdateAll and UpdateSource here run one to
// completion on the calling thread for callers that wait for it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "model/FeedsManager.h"
#include "model/SharedText.h"

namespace qb {

// Status texts of an update pass.
inline constexpr char16_t kStatusUpdating[] = u"Updating...";
inline constexpr char16_t kStatusReady[] = u"Ready";
// "Updating '<title>'...": the source a pass is waiting for.
std::u16string UpdatingSourceStatus(const std::u16string& title);
inline constexpr char16_t kCommsDownloadError[] =
    u"Comms status: ERROR - unable to download feed contents";

// Whether a source last updated at `lastTick` is due at `now`. The interval
// is computed in 64 bits: one whose milliseconds do not fit the 32-bit
// counter (over about 49.7 days) is never due on its own. A counter that has
// wrapped since the last update makes the source due.
bool IsSourceDue(uint32_t now, uint32_t lastTick, int32_t refreshMinutes);

// Turns a fetched document into articles of the source. `tick` is the tick
// taken when the pass began. True when it added at least one article.
using InterpretFunction = std::function<bool(CFeedsManager& manager, CFeedSource& source,
                                             const SharedText& text, uint32_t tick)>;

// The real interpretation step, both halves on the calling thread:
// ParseFeed (feeds/ParsedFeed.h), which may run on any thread, then
// InterpretFeed (feeds/Interpret.h), which runs on the model's.
bool ParseAndInterpret(CFeedsManager& manager, CFeedSource& source, const SharedText& text,
                       uint32_t tick);

// A whole pass over the tree (the due sources, or all when forced) run to
// completion on the calling thread with real downloads; "Updating..." before
// and "Ready" after, through the manager's status handler when there is one.
// True when at least one new article was added anywhere.
bool UpdateAll(CFeedsManager& manager, bool force);

// A pass over the one source, the same way. True when it added articles.
bool UpdateSource(CFeedsManager& manager, CFeedSource& source, bool force);

}  // namespace qb
