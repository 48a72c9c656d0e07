#pragma once
// The test program replaces the global operator new so that a test can ask
// for the largest single request while it ran: a size claimed by a file must
// never become an allocation of that size, even one never touched.

#include <cstddef>

namespace testsupport {

class AllocationProbe {
 public:
  AllocationProbe();              // starts watching from now on
  size_t LargestRequest() const;  // the largest single request since then
};

}  // namespace testsupport
