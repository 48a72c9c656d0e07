#include "core/SystemError.h"

#include <cstring>

namespace {

// strerror_r comes in two shapes: the GNU one returns the text (which may or
// may not live in the buffer), the POSIX one fills the buffer and returns an
// int. Overloads pick whichever the C library declares.
[[maybe_unused]] const char* PickText(const char* result, const char* /*buffer*/) { return result; }
[[maybe_unused]] const char* PickText(int result, const char* buffer) {
  return result == 0 ? buffer : nullptr;
}

}  // namespace

std::string SystemError::Text(int code) {
  char buffer[256] = {};
  const char* text = PickText(strerror_r(code, buffer, sizeof buffer), buffer);
  std::string result = (text && *text) ? text : "Unknown error " + std::to_string(code);
  result += '\n';
  return result;
}
