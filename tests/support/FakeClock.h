// A clock whose tick counter and calendar time the test sets; a reading
// without a function set is 0.
#pragma once

#include <cstdint>
#include <functional>

#include "base/Clock.h"

namespace qb::test {

class FakeClock : public IClock {
 public:
  FakeClock() = default;
  FakeClock(const FakeClock&) = delete;
  FakeClock& operator=(const FakeClock&) = delete;

  uint32_t GetTickCount32() const override { return tick ? tick() : 0; }
  int64_t CurrentTime() const override { return time ? time() : 0; }

  std::function<uint32_t()> tick;
  std::function<int64_t()> time;
};

}  // namespace qb::test
