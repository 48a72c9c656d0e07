#pragma once
// The parser of a stream whose contents are not decoded (private streams,
// padding, data streams): it counts the payloads and shows their bytes at
// the highest report levels.

#include "mpeg/CMPGParser.h"

class CMPGParser::CMPGESGenericParser : public CMPGParser::CMPGESParser {
 public:
  using CMPGESParser::CMPGESParser;
  bool Parse(const uint8_t* data, size_t size, uint64_t position, bool packetized,
             int depth) override;
};
