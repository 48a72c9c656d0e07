#pragma once
// Every setting of the command line, grouped by the stage that reads it: what
// the report shows, how the source is scanned, and what the writer of a
// repaired file does. Filled once by the command-line stage and copied by
// value into each parser (and from there into the AVI writer).

#include <cstdint>
#include <set>

// How the numbers of a chunk file are read: from its first token (`RIFF`
// little-endian, `RIFX` big-endian), forced one way (-mr, -mx), or the file is
// scanned as an MPEG stream whatever it starts with (-mt).
enum class ByteOrder : uint32_t { kAuto = 0, kLittle = 1, kBig = 2, kMpegScan = 3 };

struct ReportOptions {
  uint32_t verbosity = 2;        // report level 0..6
  uint32_t moviTraceLimit = 15;  // 'movi' entries traced
  uint32_t indxTraceLimit = 15;  // 'indx' entries traced
  uint32_t idx1TraceLimit = 15;  // 'idx1' entries traced
  uint32_t dumpLimit = 53;       // bytes shown of a skipped range
};

struct ScanOptions {
  bool checkIndexes = true;                 // match idx1/indx entries against 'movi'
  uint32_t moviParseLimit = 0;              // -p, 0 = parse everything
  bool subchunkEnforcesParentSize = false;  // -n
  bool switchXi = false;                    // -xi: take the frames from the OpenDML index
  ByteOrder byteOrder = ByteOrder::kAuto;   // -mr, -mx, -mt
  bool switchQ2 = false;                    // -q2: interleaved DV becomes video plus PCM

  bool ByteOrderForced() const {
    return byteOrder == ByteOrder::kLittle || byteOrder == ByteOrder::kBig;
  }
};

struct WriterOptions {
  bool writeIdx1 = false;                // -rx
  bool writeOpenDml = true;              // -ro clears it
  uint64_t moviChunkLimit = 1073741824;  // -sm
  bool tightAvi = true;                  // -k
  bool switchQ1 = false;                 // -q1: DV video becomes interleaved DV (iavs)
  bool ignoreIdx1Order = false;          // -ri
  uint32_t firstFrame = 0;               // -xs
  uint32_t lastFrame = 4294967295u;      // -xe
  uint64_t splitSize = 0;                // -sf
  bool verifyOutput = false;             // -d
  bool fixAudioScale = false;            // -fa
  double videoFps = 0.0;                 // -fv
  std::set<uint16_t> strippedStreams;    // -rs
};

// How a batch of files is run.
struct BatchOptions {
  bool json = false;  // -e: the report as one JSON document
  uint32_t jobs = 1;  // -j: files processed at once
};

struct RunOptions {
  BatchOptions batch;
  ReportOptions report;
  ScanOptions scan;
  WriterOptions writer;
};
