#include "mpeg/CMPGESGenericParser.h"

bool CMPGParser::CMPGESGenericParser::Parse(const uint8_t* data, size_t size, uint64_t, bool,
                                            int depth) {
  ++chunks;
  ++packets;
  if (owner_.Verbosity() >= 5) owner_.Reporter().HexDump(data, size, depth, owner_.Verbosity());
  return true;
}
