#pragma once
// One open file of a service: an input read through a window of up to 1 MiB,
// or an output written through the asynchronous writer.
//
// The window adapts to the access pattern: a read that continues where the
// window ended, or skips less than the read-ahead, doubles the next read ahead
// (up to 1 MiB); a longer jump starts again small. A walk that reads a chunk header, skips a large payload and reads the
// next header so costs one small read per header, while a dump of consecutive
// bytes streams through the full window.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/AsyncWriter.h"
#include "core/PlatformFile.h"

struct FileRecord {
  static constexpr size_t kWindowSize = size_t{1} << 20;
  static constexpr size_t kMinWindowSize = size_t{1} << 12;

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
  size_t readAhead = kMinWindowSize;  // size of the next window read

  // Output.
  std::unique_ptr<AsyncWriter> writer;
  uint64_t writeOffset = 0;
  bool writeMode = false;
};
