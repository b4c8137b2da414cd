#include "base/Clock.h"

#include <chrono>
#include <ctime>

namespace qb {

namespace {

class CSystemClock final : public IClock {
 public:
  uint32_t GetTickCount32() const override {
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
  }
  int64_t CurrentTime() const override { return static_cast<int64_t>(std::time(nullptr)); }
};

}  // namespace

const IClock& SystemClock() {
  static const CSystemClock clock;
  return clock;
}

}  // namespace qb
