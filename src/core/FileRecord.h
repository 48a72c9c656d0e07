#pragma once
// One open file of a service: an input read through a window of about 1 MiB,
// or an output written through the asynchronous writer.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/AsyncWriter.h"
#include "core/PlatformFile.h"

struct FileRecord {
  static constexpr size_t kWindowSize = size_t{1} << 20;

  PlatformFile file;
  uint64_t positionCounter = 0;  // bytes consumed or written, as counted
  std::string name;
  bool open = false;
  uint64_t sizeCache = 0;        // 0 = not yet known

  // Input: the logical file pointer and the window of bytes read ahead.
  uint64_t filePointer = 0;
  std::vector<uint8_t> window;
  uint64_t windowStart = 0;
  size_t windowLength = 0;

  // Output.
  std::unique_ptr<AsyncWriter> writer;
  uint64_t writeOffset = 0;
  bool writeMode = false;
};
