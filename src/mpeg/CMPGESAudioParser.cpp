#include "mpeg/CMPGESAudioParser.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "core/BitReader.h"

namespace {

using FrameHeader = CMPGParser::CMPGESAudioParser::FrameHeader;

constexpr size_t kHeaderBytes = 4;
constexpr size_t kCrcBytes = 2;
constexpr size_t kId3v1Bytes = 128;
// A header split across payloads: up to 3 of its bytes end one payload.
constexpr size_t kHeaderTail = kHeaderBytes - 1;

// Indexed by the 2-bit codes; nullptr marks the reserved code.
const char* const kVersionNames[4] = {"Version 2.5", nullptr, "Version 2", "Version 1"};
const char* const kLayerNames[4] = {nullptr, "Layer III", "Layer II", "Layer I"};
const char* const kChannelModes[4] = {" (Stereo)", " (Joint Stereo)", " (Dual Channel)",
                                      " (Single Channel)"};
constexpr unsigned kMpeg1 = 3;
constexpr unsigned kLayer3 = 1;
constexpr unsigned kLayer1 = 3;

// kbit/s by bit-rate index and column: MPEG-1 Layer I, II, III; MPEG-2 and
// 2.5 Layer I; MPEG-2 and 2.5 Layers II and III. Index 0 (free format, whose
// frames have no length that can be computed) and 15 are invalid: 0 here.
constexpr unsigned kBitRates[16][5] = {
    {0, 0, 0, 0, 0},           {32, 32, 32, 32, 8},       {64, 48, 40, 48, 16},
    {96, 56, 48, 56, 24},      {128, 64, 56, 64, 32},     {160, 80, 64, 80, 40},
    {192, 96, 80, 96, 48},     {224, 112, 96, 112, 56},   {256, 128, 112, 128, 64},
    {288, 160, 128, 144, 80},  {320, 192, 160, 160, 96},  {352, 224, 192, 176, 112},
    {384, 256, 224, 192, 128}, {416, 320, 256, 224, 144}, {448, 384, 320, 256, 160},
    {0, 0, 0, 0, 0},
};

// Hz by version code (2.5, reserved, 2, 1) and sampling-frequency index 0-2.
constexpr unsigned kSampleRates[4][3] = {
    {11025, 12000, 8000}, {0, 0, 0}, {22050, 24000, 16000}, {44100, 48000, 32000}};

unsigned BitRateColumn(const FrameHeader& header) {
  if (header.version == kMpeg1) return 3 - header.layer;  // Layer I 0, II 1, III 2
  return header.layer == kLayer1 ? 3 : 4;
}

// The Layer III side information that lies between the header (and CRC)
// and a Xing/Info header.
size_t SideInfoLength(const FrameHeader& header) {
  bool single = header.channelMode == 3;
  if (header.version == kMpeg1) return single ? 17 : 32;
  return single ? 9 : 17;
}

std::string HexText(uint32_t value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%0*x", digits, value);
  return text;
}

std::string Decimal(uint64_t value) { return std::to_string(value); }

bool IsId3v1Tag(const uint8_t* bytes, size_t available) {
  return available >= 3 && std::memcmp(bytes, "TAG", 3) == 0;
}

}  // namespace

CMPGParser::CMPGESAudioParser::FrameHeader CMPGParser::CMPGESAudioParser::DecodeHeader(
    const uint8_t* bytes) {
  BitReader reader(bytes, kHeaderBytes);
  FrameHeader header;
  reader.SkipBits(11);  // sync
  header.version = static_cast<unsigned>(reader.Bits(2));
  header.layer = static_cast<unsigned>(reader.Bits(2));
  header.protection = static_cast<unsigned>(reader.Bits(1));
  header.bitRateIndex = static_cast<unsigned>(reader.Bits(4));
  header.sampleRateIndex = static_cast<unsigned>(reader.Bits(2));
  header.padding = static_cast<unsigned>(reader.Bits(1));
  header.privateBit = static_cast<unsigned>(reader.Bits(1));
  header.channelMode = static_cast<unsigned>(reader.Bits(2));
  header.modeExtension = static_cast<unsigned>(reader.Bits(2));
  header.copyright = static_cast<unsigned>(reader.Bits(1));
  header.original = static_cast<unsigned>(reader.Bits(1));
  header.emphasis = static_cast<unsigned>(reader.Bits(2));
  return header;
}

unsigned CMPGParser::CMPGESAudioParser::BitRate(const FrameHeader& header) {
  if (kVersionNames[header.version] == nullptr || kLayerNames[header.layer] == nullptr) return 0;
  return kBitRates[header.bitRateIndex][BitRateColumn(header)];
}

unsigned CMPGParser::CMPGESAudioParser::SampleRate(const FrameHeader& header) {
  if (header.sampleRateIndex > 2) return 0;
  return kSampleRates[header.version][header.sampleRateIndex];
}

bool CMPGParser::CMPGESAudioParser::IsValidHeader(const uint8_t* bytes) {
  if (!HasSync(bytes)) return false;
  FrameHeader header = DecodeHeader(bytes);
  return BitRate(header) != 0 && SampleRate(header) != 0;
}

size_t CMPGParser::CMPGESAudioParser::FrameLength(const FrameHeader& header) {
  size_t bitRate = BitRate(header);
  size_t sampleRate = SampleRate(header);
  if (bitRate == 0 || sampleRate == 0) return 0;
  // Layer I counts in 4-byte slots of 384 samples; Layers II and III in
  // bytes of 1152 samples, except the 576 of Layer III at the lower rates.
  if (header.layer == kLayer1) return (12000 * bitRate / sampleRate + header.padding) * 4;
  if (header.layer == kLayer3 && header.version != kMpeg1) {
    return 72000 * bitRate / sampleRate + header.padding;
  }
  return 144000 * bitRate / sampleRate + header.padding;
}

bool CMPGParser::CMPGESAudioParser::Parse(const uint8_t* data, size_t size, uint64_t position,
                                          bool packetized, int depth) {
  ++packets;
  if (data == nullptr) size = 0;
  Walk walk{data, size, 0, position, position, packetized, depth};
  size_t offset = 0;
  std::vector<uint8_t> joined;
  if (frameLength_ > 0) {
    offset = FinishPendingFrame(walk);
  } else if (!pending_.empty()) {
    // A few bytes that may begin a header or a tag: walked again in front
    // of the new payload.
    joined = std::move(pending_);
    pending_.clear();
    joined.insert(joined.end(), data, data + size);
    walk = Walk{joined.data(), joined.size(), joined.size() - size, pendingPosition_, position,
                packetized,    depth};
  }
  while (offset < walk.size) offset = NextUnit(walk, offset);
  return true;
}

void CMPGParser::CMPGESAudioParser::Finish(int depth) {
  if (frameLength_ > 0) {
    // Encoders and muxers do leave a last frame short; the walk is not
    // damaged by it, so this is told, not warned of.
    owner_.ChunkHeaderLine("0xfff#", "", pending_.size(), pendingPosition_,
                           "Audio Frame #" + Decimal(chunks) + " cut by the end of the stream (" +
                               Decimal(frameLength_) + " bytes long)",
                           depth);
  } else if (!pending_.empty()) {
    owner_.ChunkHeaderLine("Skipping", "", pending_.size(), pendingPosition_, "", depth);
  }
  pending_.clear();
  frameLength_ = 0;
}

size_t CMPGParser::CMPGESAudioParser::FinishPendingFrame(const Walk& walk) {
  size_t missing = frameLength_ - pending_.size();
  size_t taken = std::min(missing, walk.size);
  pending_.insert(pending_.end(), walk.bytes, walk.bytes + taken);
  if (taken < missing) {
    if (walk.packetized) {
      owner_.ChunkHeaderLine("Buffering", "", taken, walk.position, "", walk.depth);
    }
    return walk.size;
  }
  int depth = walk.depth + 1;
  if (walk.packetized) {
    depth = owner_.ChunkHeaderLine("Buffered", "", taken, walk.position, "", walk.depth);
  }
  ParseBody(pending_.data(), frameLength_, pendingHeader_, depth);
  pending_.clear();
  frameLength_ = 0;
  return taken;
}

size_t CMPGParser::CMPGESAudioParser::NextUnit(const Walk& walk, size_t offset) {
  // Past the trace limit nothing more is walked, so a payload that begins
  // inside a frame is not taken for a lost sync.
  if (chunks >= owner_.TraceLimit()) {
    ++chunks;
    return SkipRest(walk, offset);
  }
  if (searching_) return Resync(walk, offset, offset, false);
  const uint8_t* bytes = walk.bytes + offset;
  size_t available = walk.size - offset;
  if (IsId3v1Tag(bytes, available)) return SkipId3v1Tag(walk, offset);
  if (available < kHeaderBytes) {
    Carry(walk, offset);
    return walk.size;
  }
  if (!HasSync(bytes)) return Resync(walk, offset + 1, offset, true);
  return ParseFrame(walk, offset);
}

size_t CMPGParser::CMPGESAudioParser::ParseFrame(const Walk& walk, size_t offset) {
  const uint8_t* bytes = walk.bytes + offset;
  FrameHeader header = DecodeHeader(bytes);
  size_t length = FrameLength(header);
  ++chunks;
  int depth = owner_.ChunkHeaderLine("0xfff#", "", length > 0 ? length : Report::kNoSize,
                                     walk.PositionOf(offset), "Audio Frame #" + Decimal(chunks),
                                     walk.depth);
  owner_.Tick();
  PrintHeader(header, depth);
  // Without a length the next frame cannot be found by counting: look for it.
  if (length == 0) return Resync(walk, offset + 1, offset, false);
  owner_.SetFileType(CMPGParser::kMpegAudio);

  size_t available = walk.size - offset;
  if (length > available) {
    // The rest comes with the next payload.
    if (walk.packetized) {
      owner_.Field("Frame Size (remaining):",
                   Decimal(length) + " (" + Decimal(available) + " present) (incl. header)", depth);
    } else {
      owner_.Field("Frame Size:", Decimal(length) + " (incl. header)", depth);
    }
    pending_.assign(bytes, bytes + available);
    pendingPosition_ = walk.PositionOf(offset);
    pendingHeader_ = header;
    frameLength_ = length;
    return walk.size;
  }
  owner_.Field("Frame Size:", Decimal(length) + " (incl. header)", depth);
  ParseBody(bytes, length, header, depth);
  return offset + length;
}

size_t CMPGParser::CMPGESAudioParser::SkipId3v1Tag(const Walk& walk, size_t offset) {
  if (walk.size - offset < kId3v1Bytes) {
    // The tag may end in the next payload.
    Carry(walk, offset);
    return walk.size;
  }
  owner_.ChunkHeaderLine("'TAG '", "", kId3v1Bytes, walk.PositionOf(offset), "ID3v1-Tag",
                         walk.depth);
  return offset + kId3v1Bytes;
}

size_t CMPGParser::CMPGESAudioParser::Resync(const Walk& walk, size_t from, size_t skipStart,
                                             bool warn) {
  searching_ = true;
  size_t found = walk.size;
  // Only positions with a whole header after them; the last bytes are kept
  // for the next payload.
  size_t lastStart = walk.size >= kHeaderBytes ? walk.size - kHeaderBytes : 0;
  for (size_t at = from; at <= lastStart && walk.size >= kHeaderBytes;) {
    const void* hit = std::memchr(walk.bytes + at, 0xFF, lastStart + 1 - at);
    if (hit == nullptr) break;
    at = static_cast<size_t>(static_cast<const uint8_t*>(hit) - walk.bytes);
    if (IsValidHeader(walk.bytes + at)) {
      found = at;
      break;
    }
    ++at;
  }
  size_t resume = found;
  if (found == walk.size) {
    resume = walk.size >= kHeaderTail ? std::max(from, walk.size - kHeaderTail) : from;
    resume = std::min(resume, walk.size);
  } else {
    searching_ = false;
  }
  int depth = walk.depth;
  if (resume > skipStart) {
    depth = owner_.ChunkHeaderLine("Skipping", "", resume - skipStart, walk.PositionOf(skipStart),
                                   "", walk.depth);
  }
  if (warn) owner_.Warning("No Audio Frame Header found", depth);
  if (found == walk.size) {
    Carry(walk, resume);
    return walk.size;
  }
  return found;
}

size_t CMPGParser::CMPGESAudioParser::SkipRest(const Walk& walk, size_t offset) {
  owner_.ChunkHeaderLine("Skipping", "", walk.size - offset, walk.PositionOf(offset), "",
                         walk.depth);
  return walk.size;
}

void CMPGParser::CMPGESAudioParser::Carry(const Walk& walk, size_t offset) {
  pending_.assign(walk.bytes + offset, walk.bytes + walk.size);
  pendingPosition_ = walk.PositionOf(offset);
  frameLength_ = 0;
}

void CMPGParser::CMPGESAudioParser::PrintHeader(const FrameHeader& header, int depth) {
  const char* version = kVersionNames[header.version];
  owner_.Field("Audio Version:", version ? version : "token " + Decimal(header.version), depth);
  if (!version) owner_.Warning("Unexpected Audio Version Token!", depth);

  const char* layer = kLayerNames[header.layer];
  owner_.Field("Layer Description:", layer ? layer : "token " + Decimal(header.layer), depth);
  if (!layer) owner_.Warning("Unexpected Audio Layer Token!", depth);

  unsigned bitRate = BitRate(header);
  owner_.Field(
      "Bitrate:", bitRate ? Decimal(bitRate) + " kbit/s" : "index " + Decimal(header.bitRateIndex),
      depth);
  if (header.bitRateIndex == 0 || header.bitRateIndex == 15) {
    owner_.Warning("Unexpected Audio Bitrate Token!", depth);
  }

  unsigned sampleRate = SampleRate(header);
  owner_.Field(
      "Sample Rate:",
      sampleRate ? Decimal(sampleRate) + " Hz" : "index " + Decimal(header.sampleRateIndex), depth);
  if (header.sampleRateIndex == 3) owner_.Warning("Unexpected Audio Samplerate Token!", depth);

  // A Layer I padding slot is 4 bytes long.
  unsigned slot = header.layer == kLayer1 ? 4 : 1;
  owner_.Field("Padding (Bytes):", Decimal(header.padding * slot), depth);
  owner_.Field("Channel Mode:", Decimal(header.channelMode) + kChannelModes[header.channelMode],
               depth);
  owner_.Field("Emphasis:", Decimal(header.emphasis), depth);
  owner_.Field("Mode Extensions:", Decimal(header.modeExtension), depth);
  owner_.Field("Original:", Decimal(header.original), depth);
  owner_.Field("Copyright:", Decimal(header.copyright), depth);
  owner_.Field("Private Bit:", Decimal(header.privateBit), depth);
  owner_.Field("Protection Bit:",
               Decimal(header.protection) + (header.protection ? " (no CRC)" : " (16 Bit CRC)"),
               depth);
}

void CMPGParser::CMPGESAudioParser::ParseBody(const uint8_t* frame, size_t length,
                                              const FrameHeader& header, int depth) {
  if (header.protection == 0 && length >= kHeaderBytes + kCrcBytes) {
    uint32_t crc = static_cast<uint32_t>(frame[4]) << 8 | frame[5];
    owner_.Field("CRC:", HexText(crc, 4), depth);
  }
  if (header.layer == kLayer3) ParseXing(frame, length, header, depth);
}

void CMPGParser::CMPGESAudioParser::ParseXing(const uint8_t* frame, size_t length,
                                              const FrameHeader& header, int depth) {
  size_t at = kHeaderBytes + (header.protection == 0 ? kCrcBytes : 0) + SideInfoLength(header);
  if (at + 4 > length) return;
  if (std::memcmp(frame + at, "Xing", 4) != 0 && std::memcmp(frame + at, "Info", 4) != 0) return;
  // Every field is read from the frame's own bytes: a header that claims more
  // than the frame holds is cut where the frame ends.
  BitReader reader(frame + at + 4, length - at - 4);
  const char* const kCut = "Xing header runs past the end of its frame!";
  uint32_t flags = static_cast<uint32_t>(reader.Bits(32));
  if (reader.Overrun()) return owner_.Error(kCut, depth);
  owner_.Field("Xing Flags:", HexText(flags, 8), depth);
  if (flags & 1) {
    uint32_t frames = static_cast<uint32_t>(reader.Bits(32));
    if (reader.Overrun()) return owner_.Error(kCut, depth);
    owner_.Field("Xing Frames:", Decimal(frames), depth);
  }
  if (flags & 2) {
    uint32_t bytes = static_cast<uint32_t>(reader.Bits(32));
    if (reader.Overrun()) return owner_.Error(kCut, depth);
    owner_.Field("Xing Bytes:", Decimal(bytes), depth);
  }
  if (flags & 4) {
    constexpr size_t kTocBytes = 100;
    if (reader.BytesLeft() < kTocBytes) return owner_.Error(kCut, depth);
    owner_.Field("Xing TOC:", "(" + Decimal(kTocBytes) + " bytes)", depth);
    if (owner_.Verbosity() >= 1) {
      owner_.Reporter().HexDump(reader.Current(), kTocBytes, depth + 1, owner_.Verbosity());
    }
    reader.SkipBits(8 * kTocBytes);
  }
  if (flags & 8) {
    uint32_t quality = static_cast<uint32_t>(reader.Bits(32));
    if (reader.Overrun()) return owner_.Error(kCut, depth);
    owner_.Field("QualityIndicator:", Decimal(quality), depth);
  }
}
