#include "riff/AviStatistics.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "core/ByteReader.h"
#include "core/FourCC.h"
#include "riff/AviHeaderDumper.h"
#include "riff/AviIds.h"

namespace {

using avi::kAudsType;
using avi::kIavsType;
using avi::kIndxId;
using avi::kInterleavedFlag;
using avi::kMidsType;
using avi::kMustUseIndexFlag;
using avi::kTxtsType;
using avi::kVidsType;

constexpr uint32_t kPaletteChangesFlag = 0x10000;
// A suggested buffer this much above the largest chunk is still fine.
constexpr uint64_t kBufferSlack = 16;
// A measured byte rate this close to the format's is fine.
constexpr double kByteRateSlack = 10.0;

// Offsets in the stream formats.
constexpr size_t kBitCountOffset = 14;       // BITMAPINFOHEADER biBitCount
constexpr size_t kAvgBytesPerSecOffset = 8;  // WAVEFORMATEX nAvgBytesPerSec

std::string Num(uint64_t value) { return Report::NumberText(value); }

bool IsVideoType(uint32_t type) { return type == kVidsType || type == kIavsType; }

// Index chunks ('ix##', '##ix', the super index) and palette changes are
// not frames of their stream.
bool IsFrameChunkId(uint32_t id) {
  const uint8_t c0 = FourCCByte(id, 0), c1 = FourCCByte(id, 1);
  const uint8_t c2 = FourCCByte(id, 2), c3 = FourCCByte(id, 3);
  if (id == kIndxId) return false;
  if (c0 == 'i' && c1 == 'x') return false;
  if (c2 == 'i' && c3 == 'x') return false;
  return !(c2 == 'p' && c3 == 'c');
}

bool IsIndexChunkId(uint32_t id) {
  return (FourCCByte(id, 0) == 'i' && FourCCByte(id, 1) == 'x') ||
         (FourCCByte(id, 2) == 'i' && FourCCByte(id, 3) == 'x');
}

bool IsPaletteChangeId(uint32_t id) { return FourCCByte(id, 2) == 'p' && FourCCByte(id, 3) == 'c'; }

uint32_t FormatWord(const AviStream& stream, size_t offset, bool bigEndian) {
  ByteReader in(stream.strf.data(), stream.strf.size(), bigEndian);
  in.Seek(offset);
  return in.U32();
}

uint16_t FormatHalf(const AviStream& stream, size_t offset, bool bigEndian) {
  ByteReader in(stream.strf.data(), stream.strf.size(), bigEndian);
  in.Seek(offset);
  return in.U16();
}

}  // namespace

// What the statistics work out per stream before they print.
struct AviStatistics::StreamFacts {
  std::vector<uint64_t> frames;  // chunks in 'movi' that are frames
  int firstVideo = -1;
  int firstAudio = -1;
  uint32_t videoStreams = 0;  // met so far while reporting
  uint32_t audioStreams = 0;
};

AviStatistics::AviStatistics(AviParseContext& context)
    : reader_(context.reader),
      report_(context.report),
      options_(context.options),
      model_(context.model),
      findings_(context.findings) {}

void AviStatistics::Run(int depth) {
  StreamFacts facts;
  // The streams of the file, then the one a DV conversion adds.
  const size_t streams = model_.streams.size() + model_.extraStreams.size();
  facts.frames.assign(streams, 0);
  for (size_t s = 0; s < streams; ++s) {
    for (const auto& counted : StreamAt(s).counters) {
      if (IsFrameChunkId(counted.first)) facts.frames[s] += counted.second.moviChunks;
    }
    const uint32_t type = HeaderAt(s).type;
    if (facts.firstVideo < 0 && IsVideoType(type)) facts.firstVideo = static_cast<int>(s);
    if (facts.firstAudio < 0 && type == kAudsType) facts.firstAudio = static_cast<int>(s);
  }
  DetectInitialFrames();
  const bool interleavingDecidable = DetectInterleaving(facts);

  const int inner = report_.PlainLine("Statistics", depth);
  ReportOverhead(inner);
  ReportInterleaving(interleavingDecidable, inner);
  ReportIndexOrder(inner);
  for (size_t s = 0; s < streams; ++s) ReportStream(s, facts, inner);
  if (facts.videoStreams == 0) report_.PlainLine("No 'vids'-Stream detected!", inner);
  if (facts.audioStreams == 0) report_.PlainLine("No 'auds'-Stream detected!", inner);
}

const AviStream& AviStatistics::StreamAt(size_t stream) const {
  const size_t count = model_.streams.size();
  return stream < count ? model_.streams[stream] : model_.extraStreams[stream - count];
}

AviStreamHeader AviStatistics::HeaderAt(size_t stream) const {
  return AviModel::DecodeStreamHeader(StreamAt(stream).strh.data(), model_.bigEndian);
}

void AviStatistics::NoteChunkOrder(int stream, uint32_t id, uint16_t segment, bool made) {
  ChunkOrder& order = chunkOrder_;
  const size_t streams = model_.streams.size() + model_.extraStreams.size();
  if (!order.started) {
    order.started = true;
    order.ahead.assign(streams, 0);
    order.firstSegmentFrames.assign(streams, 0);
    order.isVideo.assign(streams, false);
    for (size_t s = 0; s < streams; ++s) {
      const uint32_t type = StreamAt(s).strhSeen ? HeaderAt(s).type : 0;
      order.isVideo[s] = IsVideoType(type);
      if (order.video < 0 && IsVideoType(type)) order.video = static_cast<int>(s);
      if (order.audio < 0 && type == kAudsType) order.audio = static_cast<int>(s);
    }
  }
  // Chunks a conversion makes sit between the source's chunks, but they are
  // no chunks of the source: the others' numbers stay as the source has them.
  const uint64_t number = made ? order.entries : order.entries++;
  if (stream < 0 || static_cast<size_t>(stream) >= order.ahead.size()) return;
  const bool video = order.isVideo[static_cast<size_t>(stream)];
  if (!IsFrameChunkId(id)) return;
  if (video) order.videoSeen = true;
  if (!video && !made && !order.videoSeen) ++order.ahead[static_cast<size_t>(stream)];
  if (segment == 1) ++order.firstSegmentFrames[static_cast<size_t>(stream)];
  if (stream != order.video && stream != order.audio) return;
  FrameSpan& own = stream == order.video ? order.videoSpan : order.audioSpan;
  FrameSpan& other = stream == order.video ? order.audioSpan : order.videoSpan;
  if (own.first == FrameSpan::kNone) own.first = number;
  own.last = number;
  if (other.first != FrameSpan::kNone && other.otherBehind == FrameSpan::kNone) {
    other.otherBehind = number;
  }
}

void AviStatistics::DetectInitialFrames() {
  // The initial frames of an interleaved file are the lead of each stream
  // over the video: its chunks before the first video frame. The video
  // itself, and any stream of a file without video, leads by nothing.
  for (size_t s = 0; s < model_.streams.size(); ++s) {
    const uint64_t ahead =
        chunkOrder_.videoSeen && s < chunkOrder_.ahead.size() ? chunkOrder_.ahead[s] : 0;
    model_.streams[s].initialFrames =
        static_cast<uint32_t>(std::min<uint64_t>(ahead, std::numeric_limits<uint32_t>::max()));
  }
}

bool AviStatistics::DetectInterleaving(const StreamFacts& facts) {
  model_.interleaved = false;
  if (facts.firstAudio < 0 || facts.firstVideo < 0) return false;
  const uint64_t audioTotal = facts.frames[static_cast<size_t>(facts.firstAudio)];
  const uint64_t videoTotal = facts.frames[static_cast<size_t>(facts.firstVideo)];
  if (audioTotal <= 1 || videoTotal <= 1) return false;
  // Interleaved: a frame of one stream lies between the first and the last
  // frame of the other. The first such candidate is the other stream's
  // first frame behind the stream's own first one.
  const auto inside = [](const FrameSpan& span) {
    return span.otherBehind != FrameSpan::kNone && span.otherBehind < span.last;
  };
  model_.interleaved = inside(chunkOrder_.videoSpan) || inside(chunkOrder_.audioSpan);
  return true;
}

void AviStatistics::ReportOverhead(int depth) {
  if (options_.report.verbosity <= 2) return;
  const uint64_t fileSize = reader_.FileSize();
  const uint64_t overhead =
      fileSize > findings_.payloadTotal ? fileSize - findings_.payloadTotal : 0;
  const uint64_t percent =
      fileSize == 0 ? 0
                    : AviHeaderDumper::RoundedWhole(static_cast<double>(overhead) * 100.0 /
                                                    static_cast<double>(fileSize));
  report_.PlainLine("Overhead Size " + Num(overhead) + ", approx. " + Num(percent) +
                        "% (including wasted " + Num(reader_.OverheadSize()) + ")",
                    depth);
}

void AviStatistics::ReportInterleaving(bool decidable, int depth) {
  const bool flagged = (model_.MainHeader().flags & kInterleavedFlag) != 0;
  if (model_.interleaved && !flagged) {
    report_.PlainLine("Audio/Video interleaved, but ISINTERLEAVED not set!", depth);
  } else if (decidable && !model_.interleaved && flagged) {
    // Without an audio and a video stream of more than one frame each there is
    // nothing to interleave, and the flag says nothing wrong.
    report_.PlainLine("Audio/Video not interleaved, but ISINTERLEAVED set!", depth);
  }
}

void AviStatistics::ReportIndexOrder(int depth) {
  const bool mustUseIndex = (model_.MainHeader().flags & kMustUseIndexFlag) != 0;
  if (!findings_.indexOutOfOrder && mustUseIndex && findings_.indexInsideChunks &&
      !findings_.idx1Met && model_.dmlhSeen) {
    // Frames packed into shared chunks are found through the index alone.
    findings_.indexOutOfOrder = true;
    report_.PlainLine("This may be a low-overhead AVI (multiple frames in one chunk)!", depth);
  } else if (!findings_.indexOutOfOrder && mustUseIndex) {
    report_.PlainLine(
        "Index does not define out-of-sequence/duplicate frames, but AVIF_MUSTUSEINDEX is set "
        "in AVIMainHeader!",
        depth);
  } else if (findings_.indexOutOfOrder && !mustUseIndex) {
    report_.PlainLine(
        "Index defines out-of-sequence/duplicate frames, but AVIF_MUSTUSEINDEX is not set in "
        "AVIMainHeader!",
        depth);
  }
}

void AviStatistics::ReportStream(size_t stream, StreamFacts& facts, int depth) {
  const int inner = report_.PlainLine("AVIStreamHeader #" + Num(stream), depth);
  const AviStreamHeader header = HeaderAt(stream);
  const uint64_t initial = StreamAt(stream).initialFrames;
  if (chunkOrder_.entries > 0 && initial != header.initialFrames) {
    report_.PlainLine("Initial Frames detected " + Num(initial) +
                          ", AVIStreamHeader Initial Frames: " + Num(header.initialFrames) + "!",
                      inner);
  }
  // A stream a conversion adds gets its indexes from the writer.
  if (stream < model_.streams.size()) ReportOdmlConsistency(stream, inner);
  if (IsVideoType(header.type)) {
    ReportVideoStream(stream, facts, inner);
  } else if (header.type == kAudsType) {
    ReportAudioStream(stream, facts, inner);
  } else if (header.type == kTxtsType || header.type == kMidsType) {
    ReportChunkTable(stream, inner);
    report_.PlainLine("Nothing else known about 'txts'/'mids' Streams", inner);
  } else {
    report_.PlainLine("Unknown stream type", inner);
    ReportChunkTable(stream, inner);
  }
  ReportFrameSize(stream, inner);
}

void AviStatistics::ReportOdmlConsistency(size_t stream, int depth) {
  uint64_t superEntries = 0;
  uint64_t standardEntries = 0;
  for (const auto& counted : StreamAt(stream).counters) {
    if (counted.first == kIndxId) superEntries += counted.second.odmlEntries;
    if (IsIndexChunkId(counted.first)) standardEntries += counted.second.odmlEntries;
  }
  if (superEntries > 0) {
    if (standardEntries == 0) {
      report_.PlainLine("'indx'-Entries detected, but no 'ix##'-Entries!", depth);
    }
    if (!model_.dmlhSeen) {
      report_.PlainLine("'indx'-Entries detected, but ODML-Header not found!", depth);
    }
    return;
  }
  if (standardEntries > 0) {
    report_.PlainLine("No 'indx'-Entries detected, but 'ix##'-Entries!", depth);
  }
  if (model_.dmlhSeen)
    report_.PlainLine("No 'indx'-Entries detected, but ODML-Header found!", depth);
}

void AviStatistics::ReportVideoStream(size_t stream, StreamFacts& facts, int depth) {
  if (facts.videoStreams++ > 0) {
    report_.PlainLine("More than one 'vids'/'iavs'-Stream detected!", depth);
  }
  if (options_.scan.moviParseLimit != 0) return;
  ReportChunkTable(stream, depth);
  const AviStream& data = StreamAt(stream);
  const AviStreamHeader header = HeaderAt(stream);
  const uint64_t frames = facts.frames[stream];
  if (!model_.dmlhSeen) {
    const uint32_t total = model_.MainHeader().totalFrames;
    if (frames != total) {
      report_.PlainLine(
          "Video Frames detected: " + Num(frames) + " AVIMainHeader Frames: " + Num(total) + "!",
          depth);
    }
  } else {
    const uint32_t total = ByteReader(model_.dmlh.data(), 4, model_.bigEndian).U32();
    if (frames != total) {
      report_.PlainLine(
          "Video Frames detected: " + Num(frames) + " AVIExtHeader Frames: " + Num(total) + "!",
          depth);
    }
    // The main header of an OpenDML file counts the frames of the first
    // segment alone.
    const uint64_t first =
        stream < chunkOrder_.firstSegmentFrames.size() ? chunkOrder_.firstSegmentFrames[stream] : 0;
    const uint32_t mainFrames = model_.MainHeader().totalFrames;
    if (first != mainFrames) {
      report_.PlainLine("Video Frames detected in the first RIFF: " + Num(first) +
                            " AVIMainHeader Frames: " + Num(mainFrames) + "!",
                        depth);
    }
  }
  bool paletteChanges = false;
  for (const auto& counted : data.counters) {
    if (IsPaletteChangeId(counted.first) && counted.second.moviChunks > 0) paletteChanges = true;
  }
  const bool flagged = (header.flags & kPaletteChangesFlag) != 0;
  if (paletteChanges && !flagged) {
    report_.PlainLine("Stream contains AVIPaletteChanges, but AVIStreamHeader-Flag is not set!",
                      depth);
  } else if (!paletteChanges && flagged) {
    report_.PlainLine("Stream contains no AVIPaletteChanges, but AVIStreamHeader-Flag is set!",
                      depth);
  }
  if (paletteChanges && FormatHalf(data, kBitCountOffset, model_.bigEndian) > 8) {
    report_.PlainLine(
        "Stream contains AVIPaletteChanges, but there are more than 8-bit-colors in "
        "AVIStreamFormat-Header set!",
        depth);
  }
  if (frames != header.length) {
    report_.PlainLine("Video Frames detected: " + Num(frames) +
                          " AVIStreamHeader Length: " + Num(header.length) + "!",
                      depth);
  }
}

void AviStatistics::ReportAudioStream(size_t stream, StreamFacts& facts, int depth) {
  if (facts.audioStreams++ > 0) report_.PlainLine("More than one 'auds'-Stream detected!", depth);
  if (options_.scan.moviParseLimit != 0) return;
  ReportChunkTable(stream, depth);
  const AviStream& data = StreamAt(stream);
  const AviStreamHeader header = HeaderAt(stream);
  const uint64_t bytes = data.audioBytes;
  report_.PlainLine("'auds'-Stream Payload Total Size in Bytes: " + Num(bytes) + "!", depth);
  // The length counts blocks of the stream's sample size, or chunks when the
  // sample size is 0 (variable bit rate). Writers that put the block size
  // into the scale (rate = bytes per second) make the payload divided by the
  // scale equal the length as well; a length that fits none of these readings
  // is a real mismatch.
  const bool fitsScale = header.scale != 0 && bytes / header.scale == header.length;
  const bool fitsSampleSize = header.sampleSize != 0 && bytes / header.sampleSize == header.length;
  const bool fitsChunks = header.sampleSize == 0 && facts.frames[stream] == header.length;
  if (header.scale != 0 && !fitsScale && !fitsSampleSize && !fitsChunks) {
    const uint64_t product = uint64_t{header.length} * header.scale;
    report_.PlainLine("Mismatching 'strh' Length: " + Num(header.length) +
                          " * Scale: " + Num(header.scale) + " = " + Num(product) + "!",
                      depth);
  }
  // The measured byte rate over the stream's exact play time (length x scale
  // / rate); a stream without a play time has no rate to compare.
  if (header.rate == 0 || header.length == 0) return;
  const double seconds =
      static_cast<double>(header.length) * std::max<uint32_t>(header.scale, 1) / header.rate;
  const double measured = static_cast<double>(bytes) / seconds;
  const uint32_t declared = FormatWord(data, kAvgBytesPerSecOffset, model_.bigEndian);
  if (std::fabs(measured - declared) > kByteRateSlack) {
    report_.PlainLine("Avg Bytes/sec: " + Num(AviHeaderDumper::RoundedWhole(measured)) +
                          ", StreamHeader Avg Bytes/sec: " + Num(declared) + "!",
                      depth);
  }
}

void AviStatistics::ReportChunkTable(size_t stream, int depth) {
  const AviStream& data = StreamAt(stream);
  if (data.counters.empty()) {
    report_.PlainLine("Detected no chunks at all for this stream!", depth);
    return;
  }
  const int inner =
      report_.PlainLine("Chunks detected, 'Idx1'-Index (KeyFrames) and ODML-Index Entries", depth);
  for (const auto& counted : data.counters) {
    const ChunkTypeCounters& c = counted.second;
    // A dropped frame is a chunk of size 0, listed in 'idx1' with length 0
    // as well: counted once.
    const auto listed =
        findings_.idx1ZeroLength.find(static_cast<uint64_t>(stream) << 32 | counted.first);
    const uint32_t inIndex = listed == findings_.idx1ZeroLength.end() ? 0 : listed->second;
    const uint32_t dropped = std::max(c.zeroSize - std::min(c.zeroSize, inIndex), inIndex);
    report_.ChunkCounts({static_cast<uint32_t>(stream), CParser::FourCCText(counted.first),
                         c.moviChunks, dropped, c.idx1Entries, c.idx1KeyFrames, c.odmlEntries},
                        inner);
  }
}

void AviStatistics::ReportFrameSize(size_t stream, int depth) {
  const uint64_t largest = StreamAt(stream).largestChunk;
  const uint64_t suggested = HeaderAt(stream).suggestedBufferSize;
  if (largest > suggested || suggested > largest + kBufferSlack) {
    report_.PlainLine("Max Frame Size detected: " + Num(largest) +
                          " SuggestedBufferSize: " + Num(suggested) + "!",
                      depth);
  }
}
