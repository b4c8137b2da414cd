// The two clocks the model reads: the 32-bit millisecond tick counter (which
// wraps after about 49.7 days) and the calendar time. Both can be replaced,
// so tests control time without sleeping.
#pragma once

#include <cstdint>
#include <functional>

namespace qb {

// Milliseconds since an arbitrary start, modulo 2^32.
uint32_t GetTickCount32();

// Seconds since 1 January 1970 UTC.
int64_t CurrentTime();

// Replace a clock; an empty function restores the real one.
void SetTickSource(std::function<uint32_t()> source);
void SetTimeSource(std::function<int64_t()> source);

// Restores the real clocks when it goes out of scope.
class ScopedClockOverride {
 public:
  ScopedClockOverride() = default;
  ~ScopedClockOverride() {
    SetTickSource(nullptr);
    SetTimeSource(nullptr);
  }
  ScopedClockOverride(const ScopedClockOverride&) = delete;
  ScopedClockOverride& operator=(const ScopedClockOverride&) = delete;
};

}  // namespace qb
