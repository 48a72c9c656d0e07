#pragma once
// The test program replaces the global operator new so that a test can ask
// how large the largest single request was while it ran: the way to show that
// a size claimed by a file never turns into an allocation of that size, even
// when the allocation would succeed and never be touched.

#include <cstddef>

namespace testsupport {

class AllocationProbe {
 public:
  // Starts watching from now on.
  AllocationProbe();
  // The largest single request since the probe was made.
  size_t LargestRequest() const;
};

}  // namespace testsupport
