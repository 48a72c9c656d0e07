#include "core/MonotonicClock.h"

#include <chrono>

uint64_t MonotonicClock::Frequency() { return 1000000000u; }

uint64_t MonotonicClock::Now() {
  const auto since = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(since).count());
}
