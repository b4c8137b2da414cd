// The two clocks the model reads: the 32-bit millisecond tick counter (which
// wraps after about 49.7 days) and the calendar time. The feeds manager
// holds the clock it uses, so tests give it a fake one and control time
// without sleeping.
#pragma once

#include <cstdint>

namespace qb {

class IClock {
 public:
  // Milliseconds since an arbitrary start, modulo 2^32.
  virtual uint32_t GetTickCount32() const = 0;
  // Seconds since 1 January 1970 UTC.
  virtual int64_t CurrentTime() const = 0;

 protected:
  ~IClock() = default;
};

// The machine's clocks. Stateless; safe from any thread.
const IClock& SystemClock();

}  // namespace qb
