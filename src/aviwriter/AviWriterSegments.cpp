// The header area and the 'movi' segments of one output file.

#include <algorithm>

#include "aviwriter/AviWriter.h"
#include "core/FourCC.h"
#include "core/Version.h"
#include "riff/AviIds.h"

namespace {

using avi::kAudsType;
using avi::kAvihId;
using avi::kDmlhId;
using avi::kHasIndexFlag;
using avi::kHdrlId;
using avi::kInterleavedFlag;
using avi::kJunkId;
using avi::kListId;
using avi::kMoviId;
using avi::kMustUseIndexFlag;
using avi::kOdmlId;
using avi::kRiffId;
using avi::kStrdId;
using avi::kStrfId;
using avi::kStrhId;
using avi::kStrlId;
using avi::kStrnId;

constexpr uint32_t kAviForm = FourCC("AVI ");
constexpr uint32_t kAvixForm = FourCC("AVIX");

// Main header flags.

constexpr uint32_t kHeaderBodySize = 56;
constexpr uint32_t kExtendedHeaderSize = 248;

std::string Numbered(const char* label, uint64_t number) {
  return label + std::to_string(number);
}

}  // namespace

// ---------------------------------------------------------------------------
// Phase 1: the header area is reserved

bool AviWriter::ReserveHeader(int depth) {
  PlanHeaderLayout();
  // Even one chunk behind a header this large could not be addressed.
  if (moviStart_ > kMaxSegmentSize / 2) {
    report_.Message("AVI Header too large (" + Report::NumberText(moviStart_) + ")!", depth,
                    kFatal);
    return false;
  }
  TraceLine(kRiffId, kAviForm, static_cast<uint32_t>(moviStart_ - 8), 0, "AVI Main Header Phase 1",
            depth);
  // The area reads as zeros until phase 2 fills it.
  if (!io_.Extend(static_cast<int64_t>(moviStart_ - 4))) return false;
  copier_.Reset(io_.WriteOffset());
  return copier_.AppendZeros(4) && copier_.Flush();
}

// ---------------------------------------------------------------------------
// Segments

AviWriter::SegmentResult AviWriter::WriteSegment(int depth, uint32_t segment) {
  segmentStart_ = copier_.Position();
  segmentEntries_ = 0;
  writtenInSegment_ = 0;
  const std::string label = "(Segment #" + std::to_string(segment) + ")";
  if (segment > 1) {
    TraceLine(kRiffId, kAvixForm, 0, segmentStart_, label, depth);
    if (!(copier_.AppendFourCC(kRiffId) && copier_.AppendU32(0) && copier_.AppendFourCC(kAvixForm))) {
      return SegmentResult::kFailed;
    }
  }
  const uint64_t listPosition = copier_.Position();
  const int inner = TraceLine(kListId, kMoviId, 0, listPosition, label, depth);
  if (!(copier_.AppendFourCC(kListId) && copier_.AppendU32(0) && copier_.AppendFourCC(kMoviId))) {
    return SegmentResult::kFailed;
  }
  moviBase_ = listPosition + 8;
  moviBytes_ = 0;
  const uint64_t overhead = segment > 1 ? 24 : 12;

  SegmentResult result = SegmentResult::kFinished;
  bool indexFull = false;
  std::vector<MoviEntry>& movi = model_.movi;
  for (; nextEntry_ < movi.size(); ++nextEntry_) {
    report_.ProgressTick(progressCounter_);
    MoviEntry& entry = movi[nextEntry_];
    const int number = AviModel::StreamNumber(entry.chunkId, model_.streams.size());
    if (number < 0) continue;
    const size_t stream = static_cast<size_t>(number);
    const bool video = videoStreams_[stream];
    if (video) ++videoFrameCounter_;
    if (videoFrameCounter_ < options_.writer.firstFrame ||
        videoFrameCounter_ > options_.writer.lastFrame) {
      continue;
    }
    uint64_t projected = overhead + moviBytes_ + 8 + entry.size + PlaceholderBytes();
    if (segment == 1) projected += moviStart_ + (options_.writer.writeIdx1 ? idx1Size_ : 0);
    result = CheckLimits(projected, segment);
    if (result != SegmentResult::kFinished) {
      // Met again, and counted again, by the next segment or file.
      if (video) --videoFrameCounter_;
      break;
    }
    if (segmentEntries_ == 0 && projected > kMaxSegmentSize) {
      report_.Message("Frame Size (" + Report::NumberText(entry.size) +
                          ") too large for a RIFF Segment, Frame ignored!",
                      inner, kError);
      entry.chunkId = 0;  // no index walk may take it for a written chunk
      continue;
    }
    // Every chunk of these streams (audio, intra-only video) stands alone,
    // the first one included: no warning about it.
    if (intraOnlyStreams_[stream]) entry.flags |= kKeyFrameFlag;
    if (fileEntries_ == 0) {
      if (options_.scan.checkIndexes && (entry.flags & kKeyFrameFlag) == 0) {
        report_.Message("First frame is not a Keyframe (will get forced to it)!", inner, kWarning);
      }
      entry.flags |= kKeyFrameFlag;
    }
    if (options_.writer.writeOpenDml && !ReservePlaceholders(inner)) {
      result = SegmentResult::kFailed;
      // With a super index full, what was written is still finished.
      indexFull = superIndexFull_;
      break;
    }
    idx1Size_ += 16;
    ++writtenInSegment_;
    if (writtenInSegment_ <= options_.report.moviTraceLimit) {
      TraceLine(entry.chunkId, 0, entry.size, copier_.Position(),
                Numbered("'movi' Entry #", writtenInSegment_), inner);
    }
    if (!WriteEntry(entry, stream, segment, inner)) {
      result = SegmentResult::kFailed;
      break;
    }
  }
  if (result == SegmentResult::kFailed && !indexFull) return SegmentResult::kFailed;
  if (!FinishSegment(depth, inner, segment)) return SegmentResult::kFailed;
  return result;
}

uint64_t AviWriter::PlaceholderBytes() const {
  if (!options_.writer.writeOpenDml) return 0;
  uint64_t bytes = 0;
  for (const StreamIndexRecord& record : records_) {
    if (record.usable && record.needsNewIndex) bytes += kIndexChunkSize;
  }
  return bytes;
}

AviWriter::SegmentResult AviWriter::CheckLimits(uint64_t projected, uint32_t segment) const {
  // A limit ends a file or segment only when it holds something already: a
  // chunk larger than the limit gets a file or segment of its own. The split
  // size counts the whole file, and is tested first, so that a file does not
  // end with a segment that holds nothing.
  if (options_.writer.splitSize != 0 && fileEntries_ > 0) {
    const uint64_t fileBefore = segment == 1 ? 0 : segmentStart_;
    if (fileBefore + projected > options_.writer.splitSize) return SegmentResult::kFileFull;
  }
  if (segmentEntries_ > 0 && projected > moviLimit_) return SegmentResult::kSegmentFull;
  return SegmentResult::kFinished;
}

bool AviWriter::ReservePlaceholders(int depth) {
  for (size_t stream = 0; stream < records_.size(); ++stream) {
    StreamIndexRecord& record = records_[stream];
    if (!record.usable || !record.needsNewIndex) continue;
    if (record.superEntries.size() >= kSuperIndexEntries) {
      // The super index has a fixed size: one more entry would overrun it.
      report_.Message(
          "More than " + std::to_string(kSuperIndexEntries) + " 'ix##'-Indexes for Stream #" +
              std::to_string(stream) + ", 'indx'-Index full, writing stopped!",
          depth, kFatal);
      superIndexFull_ = true;
      return false;
    }
    record.openIndexPosition = copier_.Position();
    record.firstEntry = nextEntry_;
    record.needsNewIndex = false;
    record.pendingCount = 0;
    record.superEntries.push_back({record.openIndexPosition, 0, 0});
    if (!copier_.AppendZeros(kIndexChunkSize)) return false;
    moviBytes_ += kIndexChunkSize;
  }
  return true;
}

bool AviWriter::WriteEntry(MoviEntry& entry, size_t stream, uint32_t segment, int depth) {
  const uint64_t headerPosition = copier_.Position();
  bool ok;
  if (entry.ownedPayload) {
    // A chunk made by the parse: written from memory, then released.
    entry.size = static_cast<uint32_t>(std::min<uint64_t>(entry.size, entry.ownedPayload->size()));
    ok = copier_.AppendMemoryChunk(entry.chunkId, entry.ownedPayload->data(), entry.size);
    entry.ownedPayload.reset();
  } else {
    ok = copier_.AppendSourceChunk(entry.chunkId, entry.size, entry.payloadPosition);
  }
  if (!ok) return false;
  const uint32_t size = entry.size;
  entry.offset = moviBytes_;
  entry.segment = static_cast<uint16_t>(std::min<uint32_t>(segment, 0xFFFF));

  StreamTally& tally = tallies_[stream];
  tally.largestChunk = std::max(tally.largestChunk, size);
  tally.bytes += size;
  if (CountsAsFrame(entry.chunkId)) {
    ++tally.frames;
    if (videoFramesWritten_ == 0 && !videoStreams_[stream]) ++tally.initialFrames;
  }
  if (videoStreams_[stream]) ++videoFramesWritten_;
  moviBytes_ += 8 + uint64_t{size} + (size & 1u);
  ++segmentEntries_;
  ++fileEntries_;
  lastWritten_ = {entry.chunkId, size, headerPosition};
  if (segment == 1 && options_.writer.writeIdx1) idx1Entries_.push_back(nextEntry_);

  if (!options_.writer.writeOpenDml) return true;
  StreamIndexRecord& record = records_[stream];
  if (!record.usable || !(videoStreams_[stream] || entry.chunkId == record.chunkId)) return true;
  if (++record.pendingCount < kStandardIndexEntries) return true;
  const bool trace = standardIndexesWritten_ < options_.report.indxTraceLimit;
  return WriteStandardIndex(record, stream, record.pendingCount, trace, depth);
}

bool AviWriter::FinishSegment(int depth, int inner, uint32_t segment) {
  if ((moviBytes_ & 1u) != 0) {
    if (!copier_.AppendZeros(1)) return false;
    ++moviBytes_;
  }
  if (options_.report.moviTraceLimit != 0 && writtenInSegment_ > options_.report.moviTraceLimit) {
    TraceLine(lastWritten_.chunkId, 0, lastWritten_.size, lastWritten_.position,
              Numbered("'movi' Entry #", writtenInSegment_), inner);
  }
  if (options_.writer.writeOpenDml) {
    for (size_t stream = 0; stream < records_.size(); ++stream) {
      StreamIndexRecord& record = records_[stream];
      if (!record.usable || (record.pendingCount == 0 && record.needsNewIndex)) continue;
      if (!WriteStandardIndex(record, stream, record.pendingCount,
                              options_.report.indxTraceLimit > 0, inner)) {
        return false;
      }
    }
  }
  if (segment == 1 && options_.writer.writeIdx1 && !WriteIdx1(inner)) return false;
  const uint32_t listSize = static_cast<uint32_t>(moviBytes_ + 4);
  if (!PatchU32(moviBase_ - 4, listSize)) return false;
  TraceLine(kListId, kMoviId, listSize, moviBase_ - 8, "(Segment #" + std::to_string(segment) + ")",
            depth);
  if (segment > 1 && !PatchU32(segmentStart_ + 4, static_cast<uint32_t>(moviBytes_ + 16))) {
    return false;
  }
  // Every read of the segment's chunks is done before it counts as written.
  return copier_.Flush();
}

bool AviWriter::PatchU32(uint64_t position, uint32_t value) {
  const uint8_t bytes[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                            static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
  return copier_.WriteAt(position, bytes, 4);
}

// ---------------------------------------------------------------------------
// Phase 2: the header area is written with what the segments hold

bool AviWriter::RewriteHeader(int depth) {
  const uint64_t end = copier_.Position();
  if (!copier_.Flush()) return false;
  const int inner = TraceLine(kRiffId, kAviForm, riffSize_, 0, "AVI Main Header Phase 2", depth);
  const FinalHeaders final = ComputeFinalHeaders();
  // The header area is gathered from offset 0 like any other output.
  if (!io_.SetWriteOffset(0)) return false;
  copier_.Reset(0);
  uint8_t body[kHeaderBodySize];
  AviModel::EncodeMainHeader(final.main, body);
  bool ok = copier_.AppendFourCC(kRiffId) && copier_.AppendU32(riffSize_) &&
            copier_.AppendFourCC(kAviForm) && copier_.AppendFourCC(kListId) &&
            copier_.AppendU32(static_cast<uint32_t>(headerSize_ - 20)) &&
            copier_.AppendFourCC(kHdrlId) && copier_.AppendFourCC(kAvihId) &&
            copier_.AppendU32(kHeaderBodySize) && copier_.AppendBytes(body, kHeaderBodySize);
  for (size_t stream = 0; ok && stream < model_.streams.size(); ++stream) {
    ok = AppendStreamList(stream, final.headers[stream], final.formats[stream], inner);
  }
  if (ok && options_.writer.writeOpenDml) ok = AppendExtendedHeader();
  if (ok && moviStart_ > headerSize_) ok = AppendJunk(moviStart_ - headerSize_);
  ok = ok && copier_.Flush() && io_.SetWriteOffset(end);
  copier_.Reset(end);
  return ok;
}

AviWriter::FinalHeaders AviWriter::ComputeFinalHeaders() const {
  const size_t count = model_.streams.size();
  FinalHeaders final;
  AviMainHeader& main = final.main;
  main = model_.MainHeader();
  main.totalFrames = videoFramesWritten_;
  // Taken from the video stream below; without one there is no initial frame.
  main.initialFrames = 0;
  main.flags &= ~(kMustUseIndexFlag | kHasIndexFlag | kInterleavedFlag);
  if (options_.writer.writeIdx1) main.flags |= kHasIndexFlag;
  if (model_.interleaved) main.flags |= kInterleavedFlag;
  main.streams = static_cast<uint32_t>(count);
  main.suggestedBufferSize = 0;
  main.maxBytesPerSec = 0;
  main.paddingGranularity = 0;
  final.headers.resize(count);
  final.formats.resize(count);
  // In stream order: an audio stream measured against the video sees the
  // main header as the streams before it left it.
  for (size_t stream = 0; stream < count; ++stream) {
    AviStreamHeader& header = final.headers[stream];
    header = model_.StreamHeader(stream);
    final.formats[stream] = model_.streams[stream].strf;
    header.suggestedBufferSize = tallies_[stream].largestChunk;
    // Initial frames tell how far a stream leads the video in an interleaved
    // file: MEncoder states its audio preload so, as the audio chunks it
    // writes before the first video frame. Each stream gets the lead the
    // written file gives it, counted the same way (a cut, or a split file
    // after the first, need not begin with the source's lead); the video is
    // what the others are measured against and leads nothing, and without
    // video there is nothing to lead.
    header.initialFrames = videoFramesWritten_ > 0 ? tallies_[stream].initialFrames : 0;
    main.suggestedBufferSize = std::max(main.suggestedBufferSize, header.suggestedBufferSize);
    if (videoStreams_[stream]) {
      FinishVideoHeader(stream, header, main);
    } else if (header.type == kAudsType) {
      FinishAudioHeader(stream, header, final.formats[stream], main);
    }
  }
  return final;
}

bool AviWriter::AppendExtendedHeader() {
  uint8_t body[kExtendedHeaderSize];
  std::copy(model_.dmlh.begin(), model_.dmlh.end(), body);
  // dwTotalFrames: every video chunk of the file, whatever its segment.
  for (int i = 0; i < 4; ++i) body[i] = static_cast<uint8_t>(videoFramesWritten_ >> (8 * i));
  return copier_.AppendFourCC(kListId) && copier_.AppendU32(kExtendedHeaderSize + 12) &&
         copier_.AppendFourCC(kOdmlId) && copier_.AppendFourCC(kDmlhId) &&
         copier_.AppendU32(kExtendedHeaderSize) && copier_.AppendBytes(body, kExtendedHeaderSize);
}

bool AviWriter::AppendStreamList(size_t number, const AviStreamHeader& header,
                                 const std::vector<uint8_t>& format, int depth) {
  const AviStream& stream = model_.streams[number];
  const uint64_t listSize = StreamListSize(number);
  TraceLine(kListId, kStrlId, static_cast<uint32_t>(listSize), copier_.Position(), "Segment #1",
            depth);
  uint8_t body[kHeaderBodySize];
  AviModel::EncodeStreamHeader(header, body);
  TraceLine(kStrhId, 0, kHeaderBodySize, copier_.Position() + 12, Numbered("Stream #", number),
            depth);
  bool ok = copier_.AppendFourCC(kListId) && copier_.AppendU32(static_cast<uint32_t>(listSize)) &&
            copier_.AppendFourCC(kStrlId) && copier_.AppendFourCC(kStrhId) &&
            copier_.AppendU32(kHeaderBodySize) && copier_.AppendBytes(body, kHeaderBodySize) &&
            AppendPaddedChunk(kStrfId, format.data(), format.size());
  if (ok && !options_.writer.tightAvi && !stream.name.empty()) {
    // The name with its terminating zero.
    ok = AppendPaddedChunk(kStrnId, reinterpret_cast<const uint8_t*>(stream.name.c_str()),
                           stream.name.size() + 1);
  }
  if (ok && !stream.strd.empty()) {
    ok = AppendPaddedChunk(kStrdId, stream.strd.data(), stream.strd.size());
  }
  if (ok && options_.writer.writeOpenDml) ok = AppendSuperIndex(number, depth);
  return ok;
}

bool AviWriter::AppendPaddedChunk(uint32_t id, const uint8_t* data, size_t size) {
  return copier_.AppendFourCC(id) && copier_.AppendU32(static_cast<uint32_t>(size)) &&
         copier_.AppendBytes(data, size) && copier_.AppendZeros(size & 1u);
}

bool AviWriter::AppendJunk(uint64_t gap) {
  // The gap of the padded layout: a 'JUNK' chunk that carries the program's
  // name where it fits.
  const uint64_t size = gap - 8;
  const uint64_t named = size >= sizeof(kProgramName) - 1 ? sizeof(kProgramName) - 1 : 0;
  return copier_.AppendFourCC(kJunkId) && copier_.AppendU32(static_cast<uint32_t>(size)) &&
         copier_.AppendBytes(kProgramName, static_cast<size_t>(named)) &&
         copier_.AppendZeros(size - named);
}
