// The indexes of an AVI file: 'idx1', the OpenDML super index ('indx') and
// standard indexes ('ix##'), and their matching against the chunks found.

#include "riff/CAVIParser.h"

int CAVIParser::ParseIdx1(uint32_t size, int depth) {
  return SkipChunkBody(size, depth) ? kHandled : kStop;
}

void CAVIParser::ParseSuperIndex(size_t /*stream*/, const std::vector<uint8_t>& /*body*/,
                                 int /*depth*/) {}

void CAVIParser::HandleStandardIndex(const SubChunk& /*chunk*/, size_t /*stream*/,
                                     const std::vector<uint8_t>& /*body*/, uint16_t /*segment*/,
                                     uint64_t /*listTypePos*/, bool /*dump*/, int /*depth*/) {}

bool CAVIParser::BuildEntriesFromSuperIndex(int /*depth*/) { return false; }

void CAVIParser::AssignIndexToMovi(int /*depth*/) {}
