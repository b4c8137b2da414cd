// The process-wide pseudo-random generator. Object identifiers and the XML
// parser's node identifiers are drawn from it. It is the classic linear
// congruential generator s = s * 214013 + 2531011 (mod 2^32); a draw is bits
// 16-30 of the new state, 0..32767. Everything runs on one thread, so the
// state is a plain global.
#pragma once

#include <cstdint>

namespace qb {

// Seeds the generator. The document seeds it once with the current time;
// tests seed it with fixed values to get repeatable identifiers.
void SeedRandom(uint32_t seed);

// One draw, 0..32767.
uint32_t DrawRandom();

// Two draws joined: the first is the high 16 bits, the second the low 16.
inline uint32_t DrawRandomId() {
  const uint32_t high = DrawRandom() & 0xFFFF;
  const uint32_t low = DrawRandom() & 0xFFFF;
  return (high << 16) | low;
}

}  // namespace qb
