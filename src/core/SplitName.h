#pragma once
// Names of the parts of a split output file: "take.avi" part 3 becomes
// "take.03.avi". The part number replaces the extension of the file name.

#include <cstdint>
#include <string>

class SplitName {
 public:
  static constexpr uint32_t kMaxParts = 100;

  // False when the file name (not its directory) has no '.', or when the part
  // number needs more than two digits.
  static bool Make(const std::string& path, uint32_t part, std::string& name);
};
