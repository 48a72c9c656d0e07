#include "riff/AviModel.h"

#include <algorithm>
#include <iterator>

#include "core/ByteReader.h"
#include "core/FourCC.h"

namespace {

bool IsDigit(uint8_t c) { return c >= '0' && c <= '9'; }

void PutU32(uint8_t* at, uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}
void PutU16(uint8_t* at, uint16_t value) {
  at[0] = static_cast<uint8_t>(value);
  at[1] = static_cast<uint8_t>(value >> 8);
}

// The wave format fields looked at here. WAVEFORMATEXTENSIBLE names its
// coding by a GUID behind the extension's valid bits and channel mask; the
// sub-format GUIDs of PCM and IEEE float are
// {0000000t-0000-0010-8000-00aa00389b71} with the plain format tag t.
constexpr size_t kWaveFormatTag = 0, kWaveBlockAlign = 12, kWaveSubFormat = 24;
constexpr size_t kGuidSize = 16;
constexpr uint16_t kPcmFormatTag = 1, kIeeeFloatFormatTag = 3, kExtensibleFormatTag = 0xFFFE;
constexpr uint8_t kSubFormatGuidTail[8] = {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

// A field of a format; one the format is too short for reads as 0.
uint32_t FormatField(const std::vector<uint8_t>& format, size_t at, unsigned width,
                     bool bigEndian) {
  if (at > format.size() || format.size() - at < width) return 0;
  ByteReader reader(format.data() + at, width, bigEndian);
  return width == 2 ? reader.U16() : reader.U32();
}

}  // namespace

bool AviModel::IsBlockAudio(const std::vector<uint8_t>& format, bool bigEndian) {
  const uint32_t tag = FormatField(format, kWaveFormatTag, 2, bigEndian);
  if (tag == kPcmFormatTag || tag == kIeeeFloatFormatTag) return true;
  if (tag != kExtensibleFormatTag || format.size() < kWaveSubFormat + kGuidSize) return false;
  const uint32_t subTag = FormatField(format, kWaveSubFormat, 4, bigEndian);
  return (subTag == kPcmFormatTag || subTag == kIeeeFloatFormatTag) &&
         FormatField(format, kWaveSubFormat + 4, 2, bigEndian) == 0 &&
         FormatField(format, kWaveSubFormat + 6, 2, bigEndian) == 0x0010 &&
         std::equal(std::begin(kSubFormatGuidTail), std::end(kSubFormatGuidTail),
                    format.begin() + static_cast<std::ptrdiff_t>(kWaveSubFormat + 8));
}

uint32_t AviModel::BlockAlign(const std::vector<uint8_t>& format, bool bigEndian) {
  return FormatField(format, kWaveBlockAlign, 2, bigEndian);
}

AviMainHeader AviModel::DecodeMainHeader(const uint8_t* body, bool bigEndian) {
  ByteReader in(body, 56, bigEndian);
  AviMainHeader h;
  h.microSecPerFrame = in.U32();
  h.maxBytesPerSec = in.U32();
  h.paddingGranularity = in.U32();
  h.flags = in.U32();
  h.totalFrames = in.U32();
  h.initialFrames = in.U32();
  h.streams = in.U32();
  h.suggestedBufferSize = in.U32();
  h.width = static_cast<int32_t>(in.U32());
  h.height = static_cast<int32_t>(in.U32());
  for (uint32_t& word : h.reserved) word = in.U32();
  return h;
}

AviStreamHeader AviModel::DecodeStreamHeader(const uint8_t* body, bool bigEndian) {
  ByteReader in(body, 56, bigEndian);
  AviStreamHeader h;
  h.type = in.FourCC();
  h.handler = in.FourCC();
  h.flags = in.U32();
  h.priority = in.U16();
  h.language = in.U16();
  h.initialFrames = in.U32();
  h.scale = in.U32();
  h.rate = in.U32();
  h.start = in.U32();
  h.length = in.U32();
  h.suggestedBufferSize = in.U32();
  h.quality = static_cast<int32_t>(in.U32());
  h.sampleSize = in.U32();
  h.frameLeft = static_cast<int16_t>(in.U16());
  h.frameTop = static_cast<int16_t>(in.U16());
  h.frameRight = static_cast<int16_t>(in.U16());
  h.frameBottom = static_cast<int16_t>(in.U16());
  return h;
}

void AviModel::EncodeMainHeader(const AviMainHeader& h, uint8_t* body) {
  const uint32_t words[14] = {h.microSecPerFrame, h.maxBytesPerSec, h.paddingGranularity,
                              h.flags, h.totalFrames, h.initialFrames, h.streams,
                              h.suggestedBufferSize, static_cast<uint32_t>(h.width),
                              static_cast<uint32_t>(h.height), h.reserved[0], h.reserved[1],
                              h.reserved[2], h.reserved[3]};
  for (int i = 0; i < 14; ++i) PutU32(body + 4 * i, words[i]);
}

void AviModel::EncodeStreamHeader(const AviStreamHeader& h, uint8_t* body) {
  PutU32(body + 0, h.type);
  PutU32(body + 4, h.handler);
  PutU32(body + 8, h.flags);
  PutU16(body + 12, h.priority);
  PutU16(body + 14, h.language);
  PutU32(body + 16, h.initialFrames);
  PutU32(body + 20, h.scale);
  PutU32(body + 24, h.rate);
  PutU32(body + 28, h.start);
  PutU32(body + 32, h.length);
  PutU32(body + 36, h.suggestedBufferSize);
  PutU32(body + 40, static_cast<uint32_t>(h.quality));
  PutU32(body + 44, h.sampleSize);
  PutU16(body + 48, static_cast<uint16_t>(h.frameLeft));
  PutU16(body + 50, static_cast<uint16_t>(h.frameTop));
  PutU16(body + 52, static_cast<uint16_t>(h.frameRight));
  PutU16(body + 54, static_cast<uint16_t>(h.frameBottom));
}

AviMainHeader AviModel::MainHeader() const { return DecodeMainHeader(avih.data(), bigEndian); }

AviStreamHeader AviModel::StreamHeader(size_t stream) const {
  if (stream >= streams.size()) return AviStreamHeader{};
  return DecodeStreamHeader(streams[stream].strh.data(), bigEndian);
}

int AviModel::StreamNumber(uint32_t chunkId, size_t streamCount) {
  uint8_t c0 = FourCCByte(chunkId, 0), c1 = FourCCByte(chunkId, 1);
  uint8_t c2 = FourCCByte(chunkId, 2), c3 = FourCCByte(chunkId, 3);
  int number;
  if (IsDigit(c0) && IsDigit(c1)) {
    number = (c0 - '0') * 10 + (c1 - '0');
  } else if (IsDigit(c2) && IsDigit(c3)) {
    number = (c2 - '0') * 10 + (c3 - '0');
  } else {
    return -1;
  }
  return static_cast<size_t>(number) < streamCount ? number : -1;
}

uint32_t AviModel::MakeChunkId(unsigned stream, const char code[2]) {
  const uint8_t bytes[4] = {static_cast<uint8_t>('0' + stream / 10 % 10),
                            static_cast<uint8_t>('0' + stream % 10),
                            static_cast<uint8_t>(code[0]), static_cast<uint8_t>(code[1])};
  return FourCCFromBytes(bytes);
}
