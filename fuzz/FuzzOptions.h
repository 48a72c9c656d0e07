#pragma once
// The options a fuzz input runs with, taken from its last three bytes, so
// that one corpus reaches the quiet and the verbose report paths, the index
// checks, the frame list built from the OpenDML index and every writer
// choice. The fuzzer and the replay of kept inputs in the test suite share
// this mapping, so a kept input runs exactly as it did when it was found.

#include <cstddef>
#include <cstdint>

#include "core/RunOptions.h"

struct FuzzJob {
  RunOptions options;
  bool writes = false;  // a repaired file is written into a scratch file
};

inline FuzzJob FuzzJobFor(const uint8_t* data, size_t size) {
  FuzzJob job;
  if (size < 3) return job;
  static const uint32_t kVerbosities[] = {0, 1, 2, 3, 4, 6};
  RunOptions& options = job.options;
  const uint8_t level = data[size - 1];
  const uint8_t parse = data[size - 2];
  const uint8_t write = data[size - 3];
  options.report.verbosity = kVerbosities[level % 6];
  options.scan.checkIndexes = (parse & 1) == 0;
  options.scan.subchunkEnforcesParentSize = (parse & 2) != 0;
  job.writes = (parse & 4) != 0;
  if ((parse & 8) != 0) options.writer.writeIdx1 = true;
  if ((parse & 16) != 0) options.writer.moviChunkLimit = 1048576;
  if ((parse & 32) != 0) options.scan.switchXi = true;
  if ((parse & 64) != 0) options.scan.moviParseLimit = 30;
  if ((parse & 128) != 0) {
    static const ByteOrder kOrders[] = {ByteOrder::kLittle, ByteOrder::kBig, ByteOrder::kMpegScan};
    options.scan.byteOrder = kOrders[level / 6 % 3];
  }
  // Long walks: every MPEG unit and packet, every ASF data packet.
  if ((level & 0x80) != 0) options.report.moviTraceLimit = 100000;
  // The report as a JSON document.
  if ((level & 0x40) != 0) options.batch.json = true;
  // The writer's own choices: DV conversions, cuts, a new rate, stripped
  // streams, split files.
  if ((write & 1) != 0) options.writer.switchQ1 = true;
  if ((write & 2) != 0) options.scan.switchQ2 = true;
  if ((write & 4) != 0) options.writer.firstFrame = 2;
  if ((write & 8) != 0) options.writer.lastFrame = 5;
  if ((write & 16) != 0) options.writer.videoFps = 12.5;
  if ((write & 32) != 0) {
    // Stream 1 of an AVI file; PID 0x100 of a transport stream (extracted).
    options.writer.strippedStreams.insert(1);
    options.writer.strippedStreams.insert(0x100);
  }
  if ((write & 64) != 0) options.writer.splitSize = 65536;
  if ((write & 128) != 0) {
    options.writer.writeOpenDml = false;
    options.writer.fixAudioScale = true;
    options.writer.ignoreIdx1Order = true;
  }
  return job;
}
