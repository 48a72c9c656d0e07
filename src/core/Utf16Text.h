#pragma once
// UTF-16 text from files, converted for printing.

#include <cstddef>
#include <cstdint>
#include <string>

class Utf16Text {
 public:
  // Converts `count` UTF-16 code units to UTF-8. Unpaired surrogates become
  // U+FFFD.
  static std::string ToUtf8(const uint16_t* units, size_t count);
};
