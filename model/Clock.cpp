#include "model/Clock.h"

#include <chrono>
#include <ctime>

namespace qb {

namespace {
std::function<uint32_t()>& TickSource() {
  static std::function<uint32_t()> source;
  return source;
}
std::function<int64_t()>& TimeSource() {
  static std::function<int64_t()> source;
  return source;
}
}  // namespace

uint32_t GetTickCount32() {
  if (TickSource()) return TickSource()();
  const auto now = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<uint32_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

int64_t CurrentTime() {
  if (TimeSource()) return TimeSource()();
  return static_cast<int64_t>(std::time(nullptr));
}

void SetTickSource(std::function<uint32_t()> source) { TickSource() = std::move(source); }
void SetTimeSource(std::function<int64_t()> source) { TimeSource() = std::move(source); }

}  // namespace qb
