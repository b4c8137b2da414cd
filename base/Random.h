// The pseudo-random generator that object identifiers are drawn from: the
// classic linear congruential generator s = s * 214013 + 2531011 (mod 2^32);
// a draw is bits 16-30 of the new state, 0..32767. Each object store owns
// one, and the XML parser another for its node identifiers, so no two
// threads ever draw from the same state.
#pragma once

#include <cstdint>

namespace qb {

class CRandom {
 public:
  explicit CRandom(uint32_t seed = 1) : m_state(seed) {}

  // The document seeds its store once with the current time; tests seed it
  // with fixed values to get repeatable identifiers.
  void Seed(uint32_t seed) { m_state = seed; }

  // One draw, 0..32767.
  uint32_t Draw() {
    m_state = m_state * 214013u + 2531011u;
    return (m_state >> 16) & 0x7FFF;
  }

  // Two draws joined: the first is the high 16 bits, the second the low 16.
  uint32_t DrawId() {
    const uint32_t high = Draw() & 0xFFFF;
    const uint32_t low = Draw() & 0xFFFF;
    return (high << 16) | low;
  }

 private:
  uint32_t m_state;
};

}  // namespace qb
