#pragma once
// Every setting of the command line. Filled once by the command-line stage and
// copied by value into each parser (and from there into the AVI writer).

#include <cstdint>
#include <set>

struct RunOptions {
  uint32_t verbosity = 2;                 // report level 0..6
  bool checkIndexes = true;               // match idx1/indx entries against 'movi'
  uint32_t moviTraceLimit = 15;           // 'movi' entries traced
  uint32_t indxTraceLimit = 15;           // 'indx' entries traced
  bool writeIdx1 = false;                 // -rx
  bool writeOpenDml = true;               // -ro clears it
  uint64_t moviChunkLimit = 1073741824;   // -sm
  bool subchunkEnforcesParentSize = false;  // -n
  bool tightAvi = true;                   // -k
  bool switchQ1 = false;                  // -q1
  bool switchQ2 = false;                  // -q2
  bool ignoreIdx1Order = false;           // -ri
  uint32_t firstFrame = 0;                // -xs
  uint32_t lastFrame = 4294967295u;       // -xe
  uint64_t splitSize = 0;                 // -sf
  uint32_t idx1TraceLimit = 15;           // 'idx1' entries traced
  uint32_t moviParseLimit = 0;            // -p, 0 = parse everything
  bool verifyOutput = false;              // -d
  bool switchXi = false;                  // -xi
  uint32_t byteOrder = 0;                 // 0 auto, 1 little, 2 big, 3 MPEG scan
  bool fixAudioScale = false;             // -fa
  double videoFps = 0.0;                  // -fv
  std::set<uint16_t> strippedStreams;     // -rs
  uint32_t dumpLimit = 53;                // bytes shown of a skipped range
};
