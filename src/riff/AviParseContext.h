#pragma once
// What the parts of the AVI parser share: the reader that stands in the file,
// the report, the options, the model being filled, and the few findings one
// part makes and another reads. Each part gets this by reference and keeps
// the rest of its state to itself.

#include <cstdint>
#include <map>
#include <vector>

#include "core/Report.h"
#include "core/RunOptions.h"
#include "riff/AviModel.h"
#include "riff/CRIFFParser.h"

// The results of a walk that stopped in front of a header of the next part
// of an AVI file, besides CRIFFParser::kMetRiff for the next segment.
enum AviMetResult : int {
  kMetMovi = CRIFFParser::kMetHeader,  // the 'movi' list
  kMetIdx1 = CRIFFParser::kMetHeader + 1,  // the 'idx1' index
};

// Where a scanned 'movi' list lies: standard indexes are matched by the
// absolute positions of their entries, whichever list holds them.
struct AviMoviExtent {
  uint64_t typePos = 0;  // the list type word
  uint64_t end = 0;      // the end of what was scanned
  uint16_t segment = 1;
};

// Findings of one part that another part reads.
struct AviFindings {
  // MoviEntry records are kept (an index check or a repair needs them).
  bool recordsMoviEntries = false;
  // The type word of the last 'movi' list, and the end of the current `RIFF`
  // segment as its size word declares it (set by the segment walk).
  uint64_t moviListPosition = 0;
  uint64_t segmentDeclaredEnd = 0;
  bool idx1Met = false;  // an `idx1` chunk was met anywhere
  // The 'movi' lists scanned so far, in file order.
  std::vector<AviMoviExtent> moviExtents;
  uint64_t payloadTotal = 0;       // payload bytes of all data chunks
  bool indexOutOfOrder = false;    // an index lists chunks out of file order
  bool indexInsideChunks = false;  // an index points inside chunks
  // 'idx1' entries of length 0 per stream and chunk id (stream << 32 | id):
  // the zero-size counter holds them together with the zero-size chunks, and
  // a dropped frame listed in both must not count twice.
  std::map<uint64_t, uint32_t> idx1ZeroLength;

  // The scanned list holding absolute position `position`, or none.
  const AviMoviExtent* MoviListAt(uint64_t position) const;
};

struct AviParseContext {
  CRIFFParser& reader;
  const Report& report;
  const RunOptions& options;
  AviModel& model;
  uint32_t& progress;  // the counter of the progress dots
  AviFindings findings;
};
