#pragma once
// The host's own text for an operating-system error code.

#include <string>

class SystemError {
 public:
  // The text for errno value `code`, followed by a newline.
  static std::string Text(int code);
};
