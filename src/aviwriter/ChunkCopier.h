#pragma once
// Gathers the bytes of an output AVI file into large blocks that are handed
// to the output's single write in flight, so that a 'movi' list of many small
// chunks costs one write per block instead of several per chunk.
//
// Chunks whose payloads follow one another in the source (header, payload
// and pad byte, the usual layout) are read with one read of the whole run
// straight into the block; the chunk headers and pad bytes inside the run are
// then put back as this file wants them, so the output never depends on what
// the source held there. A chunk larger than a block passes through the block
// in pieces, so no chunk size decides how much memory is used.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/CIOService.h"

class ChunkCopier {
 public:
  // A little over the size from which the service reads straight into the
  // caller's buffer, so that a run of chunks is read without a detour; small
  // enough to stay in the processor's caches between the read and the write.
  static constexpr size_t kBlockSize = size_t{1088} << 10;

  explicit ChunkCopier(CIOService& io) : io_(io) {}

  // Forgets anything gathered; the output continues at `position`, which must
  // be the service's write offset.
  void Reset(uint64_t position);
  // Output offset of the next byte appended.
  uint64_t Position() const { return flushedEnd_ + fill_; }

  bool AppendBytes(const void* data, size_t count);
  bool AppendZeros(uint64_t count);
  bool AppendU32(uint32_t value);
  bool AppendFourCC(uint32_t token) { return AppendU32(token); }
  // A chunk whose payload of `size` bytes is copied from the source at
  // `sourcePosition`: id, size, payload, and a zero pad byte when the size is
  // odd.
  bool AppendSourceChunk(uint32_t id, uint32_t size, uint64_t sourcePosition);
  // The same for a payload held in memory.
  bool AppendMemoryChunk(uint32_t id, const uint8_t* data, uint32_t size);
  // Hands what was gathered to the output.
  bool Flush();
  // Drops what was gathered and not yet handed over.
  void Abandon();
  // Overwrites bytes already appended (gathered or written) at `position`;
  // the output then continues at the end again.
  bool WriteAt(uint64_t position, const void* data, size_t count);

  // A read of the source failed (the output itself is intact). What was
  // gathered is dropped and every later operation fails until Reset.
  bool SourceFailed() const { return sourceFailed_; }

 private:
  // A source range to be read into the block at `at`.
  struct PendingRead {
    bool active = false;
    uint64_t source = 0;
    size_t at = 0;
    size_t length = 0;
  };
  // A chunk header to put back after the pending read.
  struct HeaderPatch {
    size_t at;
    uint32_t id;
    uint32_t size;
  };

  uint8_t* Block();
  void PutHeader(size_t at, uint32_t id, uint32_t size);
  // Flushes when fewer than `count` bytes are free.
  bool MakeRoom(uint64_t count);
  bool AppendLargeChunk(uint32_t id, uint32_t size, uint64_t sourcePosition);
  bool ReadPending();
  void FailSource();

  CIOService& io_;
  std::vector<uint8_t> block_;
  size_t fill_ = 0;
  uint64_t flushedEnd_ = 0;
  PendingRead pending_;
  // The fill level right after the last chunk of the pending read; a chunk
  // appended there may extend the read.
  size_t extendableAt_ = SIZE_MAX;
  std::vector<HeaderPatch> headerPatches_;
  std::vector<size_t> padPatches_;
  bool sourceFailed_ = false;
};
