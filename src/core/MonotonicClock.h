#pragma once
// A monotonic clock for timing jobs.

#include <cstdint>

class MonotonicClock {
 public:
  // Ticks per second of Now().
  static uint64_t Frequency();
  static uint64_t Now();
};
