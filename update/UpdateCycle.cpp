#include "update/UpdateCycle.h"

#include <limits>


namespace qb {

namespace {

constexpr int64_t kMillisecondsPerMinute = 60000;

}  // namespace

std::u16string UpdatingSourceStatus(const std::u16string& title) {
  return u"Updating '" + title + u"'...";
}

bool IsSourceDue(uint32_t now, uint32_t lastTick, int32_t refreshMinutes) {
  const int64_t interval = int64_t{refreshMinutes} * kMillisecondsPerMinute;
  // Longer than the counter can measure: only a forced update fetches it.
  if (interval > int64_t{std::numeric_limits<uint32_t>::max()}) return false;
  if (now < lastTick) return true;  // the counter has wrapped
  return int64_t{static_cast<uint32_t>(now - lastTick)} >= interval;
}

}  // namespace qb
