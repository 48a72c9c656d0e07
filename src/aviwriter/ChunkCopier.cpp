#include "aviwriter/ChunkCopier.h"

#include <algorithm>
#include <cstring>

void ChunkCopier::Reset(uint64_t position) {
  flushedEnd_ = position;
  sourceFailed_ = false;
  Abandon();
}

void ChunkCopier::Abandon() {
  fill_ = 0;
  pending_ = PendingRead();
  extendableAt_ = SIZE_MAX;
  headerPatches_.clear();
  padPatches_.clear();
}

uint8_t* ChunkCopier::Block() {
  if (block_.size() < kBlockSize) block_.resize(kBlockSize);
  return block_.data();
}

void ChunkCopier::PutHeader(size_t at, uint32_t id, uint32_t size) {
  uint8_t* block = Block();
  for (int i = 0; i < 4; ++i) {
    block[at + i] = static_cast<uint8_t>(id >> (8 * i));
    block[at + 4 + i] = static_cast<uint8_t>(size >> (8 * i));
  }
}

bool ChunkCopier::MakeRoom(uint64_t count) {
  if (sourceFailed_) return false;
  return count <= kBlockSize - fill_ || Flush();
}

bool ChunkCopier::AppendBytes(const void* data, size_t count) {
  const uint8_t* bytes = static_cast<const uint8_t*>(data);
  while (count > 0) {
    if (!MakeRoom(1)) return false;
    const size_t take = std::min(count, kBlockSize - fill_);
    std::memcpy(Block() + fill_, bytes, take);
    fill_ += take;
    bytes += take;
    count -= take;
  }
  return !sourceFailed_;
}

bool ChunkCopier::AppendZeros(uint64_t count) {
  while (count > 0) {
    if (!MakeRoom(1)) return false;
    const size_t take = static_cast<size_t>(std::min<uint64_t>(count, kBlockSize - fill_));
    std::memset(Block() + fill_, 0, take);
    fill_ += take;
    count -= take;
  }
  return !sourceFailed_;
}

bool ChunkCopier::AppendU32(uint32_t value) {
  const uint8_t bytes[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                            static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
  return AppendBytes(bytes, 4);
}

bool ChunkCopier::AppendSourceChunk(uint32_t id, uint32_t size, uint64_t sourcePosition) {
  const uint64_t pad = size & 1u;
  const uint64_t need = 8 + uint64_t{size} + pad;
  if (!MakeRoom(std::min<uint64_t>(need, kBlockSize))) return false;
  if (need > kBlockSize) return AppendLargeChunk(id, size, sourcePosition);
  // The run read so far ends in the source behind its last payload; the pad
  // byte gathered behind that (if any) stands for the source's pad byte. A
  // chunk whose header follows in the source joins the run.
  const size_t readEnd = pending_.at + pending_.length;
  const bool extends = pending_.active && fill_ == extendableAt_ && sourcePosition >= 8 &&
                       sourcePosition - 8 == pending_.source + pending_.length + (fill_ - readEnd);
  if (extends) {
    if (fill_ > readEnd) padPatches_.push_back(readEnd);
    headerPatches_.push_back({fill_, id, size});
    pending_.length += (fill_ - readEnd) + 8 + size;
  } else {
    if (!ReadPending()) return false;
    PutHeader(fill_, id, size);
    pending_.active = true;
    pending_.source = sourcePosition;
    pending_.at = fill_ + 8;
    pending_.length = size;
  }
  fill_ += 8 + size;
  if (pad != 0) Block()[fill_++] = 0;
  extendableAt_ = fill_;
  return true;
}

bool ChunkCopier::AppendLargeChunk(uint32_t id, uint32_t size, uint64_t sourcePosition) {
  // The payload passes through the block in pieces, so that no chunk size
  // decides how much memory is used.
  if (!ReadPending()) return false;
  PutHeader(fill_, id, size);
  fill_ += 8;
  uint64_t done = 0;
  while (done < size) {
    if (!MakeRoom(1)) return false;
    const size_t take = static_cast<size_t>(std::min<uint64_t>(size - done, kBlockSize - fill_));
    if (!(io_.Seek(sourcePosition + done) && io_.Read(Block() + fill_, take))) {
      FailSource();
      return false;
    }
    fill_ += take;
    done += take;
  }
  return AppendZeros(size & 1u);
}

bool ChunkCopier::AppendMemoryChunk(uint32_t id, const uint8_t* data, uint32_t size) {
  uint8_t header[8];
  for (int i = 0; i < 4; ++i) {
    header[i] = static_cast<uint8_t>(id >> (8 * i));
    header[4 + i] = static_cast<uint8_t>(size >> (8 * i));
  }
  return AppendBytes(header, 8) && AppendBytes(data, size) && AppendZeros(size & 1u);
}

void ChunkCopier::FailSource() {
  // What was gathered can no longer be trusted to be whole; nothing more is
  // accepted until the next Reset.
  sourceFailed_ = true;
  Abandon();
}

bool ChunkCopier::ReadPending() {
  if (sourceFailed_) return false;
  if (!pending_.active) return true;
  pending_.active = false;
  uint8_t* block = Block();
  if (pending_.length > 0 &&
      !(io_.Seek(pending_.source) && io_.Read(block + pending_.at, pending_.length))) {
    FailSource();
    return false;
  }
  for (const HeaderPatch& patch : headerPatches_) PutHeader(patch.at, patch.id, patch.size);
  for (size_t at : padPatches_) block[at] = 0;
  headerPatches_.clear();
  padPatches_.clear();
  return true;
}

bool ChunkCopier::Flush() {
  if (!ReadPending()) return false;
  extendableAt_ = SIZE_MAX;
  if (fill_ == 0) return true;
  // The block itself is handed to the write in flight: the data is not
  // copied again, and the next block is taken fresh (the allocator gives back
  // the storage of the blocks already written).
  block_.resize(fill_);
  const bool ok = io_.Write(std::move(block_), false);
  block_ = std::vector<uint8_t>();
  if (!ok) return false;
  flushedEnd_ += fill_;
  fill_ = 0;
  return true;
}

bool ChunkCopier::WriteAt(uint64_t position, const void* data, size_t count) {
  if (sourceFailed_) return false;
  // Bytes still in the block are overwritten there, unless a read still due
  // would land on them.
  if (position >= flushedEnd_ && position - flushedEnd_ + count <= fill_) {
    const size_t at = static_cast<size_t>(position - flushedEnd_);
    const bool clearOfRead =
        !pending_.active || at + count <= pending_.at || at >= pending_.at + pending_.length;
    if (clearOfRead) {
      std::memcpy(Block() + at, data, count);
      return true;
    }
  }
  if (!Flush()) return false;
  return io_.SetWriteOffset(position) &&
         io_.Write(data, static_cast<uint32_t>(count), false) && io_.SetWriteOffset(flushedEnd_);
}
