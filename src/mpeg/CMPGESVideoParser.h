#pragma once

#include "mpeg/CMPGParser.h"

class CMPGParser::CMPGESVideoParser : public CMPGParser::CMPGESParser {
 public:
  using CMPGESParser::CMPGESParser;
  bool Parse(const uint8_t* data, size_t size, uint64_t position, bool packetized,
             int depth) override;
};
