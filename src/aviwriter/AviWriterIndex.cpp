// The three indexes of an output file: OpenDML standard indexes ('ix##',
// inside 'movi'), OpenDML super indexes ('indx', inside each stream list) and
// the version 1.0 index ('idx1', behind the first 'movi' list).

#include <algorithm>

#include "aviwriter/AviWriter.h"
#include "riff/AviIds.h"
#include "core/FourCC.h"

namespace {

using avi::kIdx1Id;
using avi::kIndxId;

constexpr uint8_t kIndexOfIndexes = 0;
constexpr uint8_t kIndexOfChunks = 1;
constexpr size_t kIndexHeaderSize = 32;
// A standard index entry's size word marks a chunk that is no key frame.
constexpr uint32_t kNotKeyFrame = 0x80000000u;

void Put16(std::vector<uint8_t>& bytes, size_t at, uint16_t value) {
  bytes[at] = static_cast<uint8_t>(value);
  bytes[at + 1] = static_cast<uint8_t>(value >> 8);
}

void Put32(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

void Put64(std::vector<uint8_t>& bytes, size_t at, uint64_t value) {
  for (int i = 0; i < 8; ++i) bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

// The header shared by both OpenDML index chunks.
void PutIndexHeader(std::vector<uint8_t>& bytes, uint32_t token, uint16_t longsPerEntry,
                    uint8_t type, uint32_t entries, uint32_t chunkId) {
  Put32(bytes, 0, token);
  Put32(bytes, 4, AviWriter::kIndexChunkSize - 8);
  Put16(bytes, 8, longsPerEntry);
  bytes[10] = 0;  // sub-type
  bytes[11] = type;
  Put32(bytes, 12, entries);
  Put32(bytes, 16, chunkId);
}

}  // namespace

bool AviWriter::WriteStandardIndex(StreamIndexRecord& record, size_t stream, uint32_t count,
                                   bool trace, int depth) {
  std::vector<uint8_t>& bytes = indexBuffer_;
  bytes.assign(kIndexChunkSize, 0);
  // 'ix' and the stream's two digits.
  const uint32_t token = uint32_t{'i'} | uint32_t{'x'} << 8 | (record.chunkId & 0xFFFFu) << 16;
  PutIndexHeader(bytes, token, 2, kIndexOfChunks, count, record.chunkId);
  Put64(bytes, 20, moviBase_);
  // A video stream's index covers all its chunks (frames of both kinds and
  // palette changes); other streams' only the chunks of the record's id. The
  // entries written since the placeholder was reserved follow it in the
  // list, in order.
  const bool video = videoStreams_[stream];
  const size_t streamCount = model_.streams.size();
  const std::vector<MoviEntry>& movi = model_.movi;
  size_t at = kIndexHeaderSize;
  uint32_t gathered = 0;
  for (size_t index = record.firstEntry; index < movi.size() && gathered < count; ++index) {
    const MoviEntry& entry = movi[index];
    const bool belongs =
        entry.chunkId == record.chunkId ||
        (video && AviModel::StreamNumber(entry.chunkId, streamCount) == static_cast<int>(stream));
    if (!belongs) continue;
    // The offset points at the payload, behind the chunk header.
    Put32(bytes, at, static_cast<uint32_t>(entry.offset + 12));
    Put32(bytes, at + 4, entry.size | ((entry.flags & kKeyFrameFlag) ? 0 : kNotKeyFrame));
    at += 8;
    ++gathered;
  }
  ++standardIndexesWritten_;
  if (trace) {
    TraceLine(token, 0, kIndexChunkSize - 8, record.openIndexPosition,
              "StandardIndex #" + std::to_string(standardIndexesWritten_), depth);
  }
  if (!copier_.WriteAt(record.openIndexPosition, bytes.data(), bytes.size())) return false;
  SuperIndexEntry& last = record.superEntries.back();
  last.size = kIndexChunkSize;
  last.duration = count;
  record.pendingCount = 0;
  record.needsNewIndex = true;
  return true;
}

bool AviWriter::AppendSuperIndex(size_t stream, int depth) {
  const StreamIndexRecord& record = records_[stream];
  if (options_.report.indxTraceLimit > 0) {
    TraceLine(kIndxId, 0, kIndexChunkSize - 8, copier_.Position(),
              "MetaIndex #" + std::to_string(stream), depth);
  }
  std::vector<uint8_t>& bytes = indexBuffer_;
  bytes.assign(kIndexChunkSize, 0);
  const size_t entries = std::min<size_t>(record.superEntries.size(), kSuperIndexEntries);
  PutIndexHeader(bytes, kIndxId, 4, kIndexOfIndexes, static_cast<uint32_t>(entries),
                 record.chunkId);
  for (size_t i = 0; i < entries; ++i) {
    const SuperIndexEntry& entry = record.superEntries[i];
    const size_t at = kIndexHeaderSize + 16 * i;
    Put64(bytes, at, entry.offset);
    Put32(bytes, at + 8, kIndexChunkSize);
    Put32(bytes, at + 12, entry.duration);
  }
  return copier_.AppendBytes(bytes.data(), bytes.size());
}

bool AviWriter::WriteIdx1(int depth) {
  // The chunks of the file's first segment, in the order they were written;
  // offsets count from the 'movi' FourCC to the chunk header.
  const std::vector<MoviEntry>& movi = model_.movi;
  bool ok = copier_.AppendFourCC(kIdx1Id) &&
            copier_.AppendU32(static_cast<uint32_t>(16 * idx1Entries_.size()));
  for (size_t i = 0; ok && i < idx1Entries_.size(); ++i) {
    const MoviEntry& entry = movi[idx1Entries_[i]];
    if (i < options_.report.idx1TraceLimit) {
      TraceLine(entry.chunkId, 0, entry.size, copier_.Position(),
                "'idx1' Entry #" + std::to_string(i + 1), depth);
    }
    ok = copier_.AppendU32(entry.chunkId) && copier_.AppendU32(entry.flags) &&
         copier_.AppendU32(static_cast<uint32_t>(entry.offset + 4)) && copier_.AppendU32(entry.size);
  }
  idx1Entries_.clear();
  return ok;
}
