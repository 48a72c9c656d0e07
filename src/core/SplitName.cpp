#include "core/SplitName.h"

bool SplitName::Make(const std::string& path, uint32_t part, std::string& name) {
  if (part >= kMaxParts) return false;
  // Only the file name counts: "./out" or "clips.d/take" have no extension.
  size_t nameStart = path.rfind('/');
  nameStart = nameStart == std::string::npos ? 0 : nameStart + 1;
  size_t dot = path.rfind('.');
  if (dot == std::string::npos || dot < nameStart) return false;
  name = path.substr(0, dot + 1);
  name += static_cast<char>('0' + part / 10);
  name += static_cast<char>('0' + part % 10);
  name += ".avi";
  return true;
}
