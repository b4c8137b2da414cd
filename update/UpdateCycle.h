// The pieces of an update pass that do not depend on how documents are
// fetched: the status texts and the due test on the 32-bit tick counter. The
// pass itself is CUpdateEngine (update/UpdateEngine.h).
#pragma once

#include <cstdint>
#include <string>

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

}  // namespace qb
