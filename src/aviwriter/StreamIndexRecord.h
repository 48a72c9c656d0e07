#pragma once
// The OpenDML index bookkeeping of one output stream while a file is written:
// which chunk id its indexes carry, where its standard index ('ix##') chunks
// were reserved, and the entries gathered for the one still open.

#include <cstdint>
#include <vector>

// One entry of a stream's super index ('indx'): a standard index chunk.
struct SuperIndexEntry {
  uint64_t offset = 0;    // file offset of the 'ix##' chunk
  uint32_t size = 0;      // its size in the file (filled when it is written)
  uint32_t duration = 0;  // entries it holds
};

struct StreamIndexRecord {
  uint32_t chunkId = 0;          // '##xx' with the output stream number
  bool usable = false;           // the stream has a chunk id to index under
  std::vector<SuperIndexEntry> superEntries;
  uint32_t pendingCount = 0;     // entries gathered for the open standard index
  uint32_t firstEntry = 0;       // 'movi' entry the open standard index starts at
  uint64_t openIndexPosition = 0;  // file offset of the reserved 'ix##' chunk
  bool needsNewIndex = true;     // a placeholder is due before the next chunk
};
