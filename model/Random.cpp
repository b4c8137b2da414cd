#include "model/Random.h"

namespace qb {

namespace {
uint32_t g_state = 1;
}

void SeedRandom(uint32_t seed) { g_state = seed; }

uint32_t DrawRandom() {
  g_state = g_state * 214013u + 2531011u;
  return (g_state >> 16) & 0x7FFF;
}

}  // namespace qb
