// The stream headers and formats of the output: the fix-ups made before each
// file is written, the values recomputed once it is written, and the layout
// of the header area.

#include <algorithm>
#include <cmath>
#include <iterator>
#include <limits>

#include "aviwriter/AviWriter.h"
#include "core/ByteReader.h"
#include "core/FourCC.h"
#include "riff/AviIds.h"

namespace {

using avi::kAudsType;
using avi::kVidsType;

constexpr uint32_t kInterleavedType = FourCC("iavs");
constexpr uint32_t kFourBlanks = 0x20202020;
constexpr uint16_t kPcmFormatTag = 1;

// Offsets of the fields used here in the bitmap info header and the wave
// format.
constexpr size_t kBiSize = 0, kBiWidth = 4, kBiHeight = 8, kBiPlanes = 12, kBiBitCount = 14,
                 kBiCompression = 16, kBiSizeImage = 20;
constexpr size_t kBitmapInfoSize = 40;
constexpr size_t kWaveFormatTag = 0, kWaveSamplesPerSec = 4, kWaveAvgBytesPerSec = 8,
                 kWaveBlockAlign = 12, kWaveCbSize = 16;
constexpr size_t kWaveFormatExSize = 18;
constexpr size_t kDvInfoSize = 32;
// A format this long holds a bitmap info header followed by a whole DV info
// structure; a shorter one gets a new structure.
constexpr size_t kDvVideoFormatSize = kBitmapInfoSize + kDvInfoSize;
// Offsets of the DV info structure's words.
constexpr size_t kDvAAuxSrc = 0, kDvAAuxSrc1 = 8, kDvVAuxSrc = 16, kDvVAuxCtl = 20;
// The 50/60 bit of the DV source words: set for the 625-line 50 Hz system.
constexpr uint32_t kDvSystem50 = uint32_t{1} << 21;
// Picture and frame sizes of the two DV systems.
constexpr int32_t kDvWidth = 720, kDvHeight625 = 576, kDvHeight525 = 480;
constexpr uint32_t kDvFrameSize625 = 144000, kDvFrameSize525 = 120000;

// A field of a format as the source stored it; a field the format is too
// short for reads as 0 and is never written.
uint32_t GetField(const std::vector<uint8_t>& format, size_t at, unsigned width, bool bigEndian) {
  if (at > format.size() || format.size() - at < width) return 0;
  ByteReader reader(format.data() + at, width, bigEndian);
  return width == 2 ? reader.U16() : reader.U32();
}

void SetField(std::vector<uint8_t>& format, size_t at, unsigned width, uint32_t value,
              bool bigEndian) {
  if (at > format.size() || format.size() - at < width) return;
  for (unsigned i = 0; i < width; ++i) {
    const unsigned shift = 8 * (bigEndian ? width - 1 - i : i);
    format[at + i] = static_cast<uint8_t>(value >> shift);
  }
}

void SetLe32(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
  SetField(bytes, at, 4, value, false);
}

uint32_t Gcd(uint32_t a, uint32_t b) {
  while (b != 0) {
    const uint32_t rest = a % b;
    a = b;
    b = rest;
  }
  return a;
}

// A computed value stored in a 32-bit field: truncated toward zero, and held
// within the field's range (a float-to-integer conversion out of range is
// undefined).
uint32_t ToU32(double value) {
  if (!(value > 0.0)) return 0;
  if (value >= 4294967295.0) return 0xFFFFFFFFu;
  return static_cast<uint32_t>(value);
}

uint32_t Clamp32(uint64_t value) {
  return value > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<uint32_t>(value);
}

uint64_t RoundUpEven(uint64_t size) { return size + (size & 1u); }

// The rows of a picture: a top-down bitmap states its height negated, but
// the frame sizes of the headers count rows.
int32_t Rows(int32_t height) {
  if (height >= 0) return height;
  return height == std::numeric_limits<int32_t>::min() ? std::numeric_limits<int32_t>::max()
                                                       : -height;
}

// The bitmap info header a player needs in front of the DV info structure
// of a 'vids' DV stream.
std::vector<uint8_t> DvBitmapInfo(bool pal, bool bigEndian) {
  std::vector<uint8_t> info(kBitmapInfoSize, 0);
  SetField(info, kBiSize, 4, kBitmapInfoSize, bigEndian);
  SetField(info, kBiWidth, 4, kDvWidth, bigEndian);
  SetField(info, kBiHeight, 4, pal ? kDvHeight625 : kDvHeight525, bigEndian);
  SetField(info, kBiPlanes, 2, 1, bigEndian);
  SetField(info, kBiBitCount, 2, 24, bigEndian);
  // A FourCC keeps its character order in either byte order.
  SetLe32(info, kBiCompression, FourCC("dvsd"));
  SetField(info, kBiSizeImage, 4, pal ? kDvFrameSize625 : kDvFrameSize525, bigEndian);
  return info;
}

}  // namespace

bool AviWriter::IsVideo(size_t stream) const {
  if (stream >= model_.streams.size()) return false;
  const uint32_t type = model_.StreamHeader(stream).type;
  return type == kVidsType || type == kInterleavedType;
}

// ---------------------------------------------------------------------------
// Before each file

void AviWriter::FixStreamHeaders() {
  AviMainHeader main = model_.MainHeader();
  for (size_t number = 0; number < model_.streams.size(); ++number) {
    AviStream& stream = model_.streams[number];
    AviStreamHeader header = model_.StreamHeader(number);
    if (header.type == kVidsType && options_.writer.switchQ1) {
      // The audio goes with the DV frames now.
      model_.interleaved = false;
      if (header.handler == 0 || header.handler == FourCC("dvsd") ||
          header.handler == FourCC("dv25") || header.handler == FourCC("dv50")) {
        ConvertToInterleavedDv(stream, header, main);
      }
    }
    if (header.type == kInterleavedType && options_.scan.switchQ2) {
      ConvertToVideoDv(stream, header, main);
    }
    if (header.type == kVidsType || header.type == kInterleavedType) {
      FixVideoFormat(stream, header, main);
    } else if (header.type == kAudsType) {
      FixAudioFormat(stream, header);
    }
    AviModel::EncodeStreamHeader(header, stream.strh.data());
  }
  AviModel::EncodeMainHeader(main, model_.avih.data());
}

void AviWriter::ConvertToInterleavedDv(AviStream& stream, AviStreamHeader& header,
                                       const AviMainHeader& main) {
  header.type = kInterleavedType;
  const uint32_t compression = GetField(stream.strf, kBiCompression, 4, formatsBigEndian_);
  if (header.handler == 0 && compression > kFourBlanks) header.handler = compression;
  if (stream.strf.size() < kDvVideoFormatSize) {
    stream.strf = DvInfoFormat(IsPalDv({}, header, main));
  } else {
    // A bitmap info header followed by the DV info structure: the structure
    // alone is the format of an interleaved stream.
    stream.strf.erase(stream.strf.begin(),
                      stream.strf.begin() + static_cast<std::ptrdiff_t>(kBitmapInfoSize));
  }
}

void AviWriter::ConvertToVideoDv(AviStream& stream, AviStreamHeader& header,
                                 const AviMainHeader& main) {
  // The type 2 form of a DV stream: players take a 'vids' format for a
  // bitmap info header, so one goes in front of the DV info structure the
  // interleaved stream had (or one made up when it had none complete).
  header.type = kVidsType;
  if (header.handler == 0) header.handler = FourCC("dvsd");
  std::vector<uint8_t>& format = stream.strf;
  if (format.size() >= kBitmapInfoSize) return;
  const bool pal = IsPalDv(format, header, main);
  std::vector<uint8_t> dvInfo = format.size() >= kDvInfoSize ? format : DvInfoFormat(pal);
  format = DvBitmapInfo(pal, formatsBigEndian_);
  format.insert(format.end(), dvInfo.begin(), dvInfo.end());
}

bool AviWriter::IsPalDv(const std::vector<uint8_t>& dvInfo, const AviStreamHeader& header,
                        const AviMainHeader& main) const {
  // An analysed frame knows best; then a frame height of one of the two
  // systems; only then the 50/60 bit of the DV info structure, as a zeroed
  // structure would claim 525 lines; and at last PAL.
  if (const DvAnalysis* dv = facts_.dvAnalysis) return dv->is625_50;
  for (const int32_t height : {Rows(main.height), int32_t{header.frameBottom} - header.frameTop}) {
    if (height == kDvHeight625) return true;
    if (height == kDvHeight525) return false;
  }
  if (dvInfo.size() >= kDvInfoSize) {
    return (GetField(dvInfo, kDvVAuxSrc, 4, formatsBigEndian_) & kDvSystem50) != 0;
  }
  return true;
}

std::vector<uint8_t> AviWriter::DvInfoFormat(bool pal) const {
  // Without an analysed frame: 4:3, 48 kHz.
  bool wide = false;
  uint32_t samplingCode = 0;  // 0 = 48 kHz, 1 = 44.1 kHz, 2 = 32 kHz
  if (const DvAnalysis* dv = facts_.dvAnalysis) {
    wide = dv->wide;
    samplingCode = dv->hasAudioSource ? (dv->audioSource >> 3) & 7u : 0;
  }
  const uint32_t system = pal ? kDvSystem50 : 0;
  std::vector<uint8_t> info(kDvInfoSize, 0);
  SetLe32(info, kDvAAuxSrc, samplingCode << 27 | system);
  SetLe32(info, kDvAAuxSrc1, system);
  SetLe32(info, kDvVAuxSrc, system);
  SetLe32(info, kDvVAuxCtl, (wide ? 2u : 0u) << 8 | (pal ? 1u : 0u) << 16);
  return info;
}

void AviWriter::FixVideoFormat(AviStream& stream, AviStreamHeader& header, AviMainHeader& main) {
  std::vector<uint8_t>& format = stream.strf;
  int32_t width;
  int32_t height;
  if (format.size() < kBitmapInfoSize) {
    const bool mainKnowsSize = main.height != 0;
    width = mainKnowsSize ? main.width : header.frameRight;
    height = mainKnowsSize ? main.height : header.frameBottom;
  } else {
    width = static_cast<int32_t>(GetField(format, kBiWidth, 4, formatsBigEndian_));
    height = static_cast<int32_t>(GetField(format, kBiHeight, 4, formatsBigEndian_));
    const uint32_t size = GetField(format, kBiSize, 4, formatsBigEndian_);
    if (size > format.size()) {
      SetField(format, kBiSize, 4, static_cast<uint32_t>(format.size()), formatsBigEndian_);
    }
    const uint32_t compression = GetField(format, kBiCompression, 4, formatsBigEndian_);
    if (header.handler == 0 && compression > kFourBlanks) header.handler = compression;
  }
  // A top-down bitmap keeps its negative height in the format only.
  height = Rows(height);
  main.width = width;
  main.height = height;
  header.frameLeft = 0;
  header.frameTop = 0;
  header.frameRight = static_cast<int16_t>(width);
  header.frameBottom = static_cast<int16_t>(height);
}

void AviWriter::FixAudioFormat(AviStream& stream, AviStreamHeader& header) {
  std::vector<uint8_t>& format = stream.strf;
  if (format.size() >= kWaveFormatExSize) {
    const uint32_t extra = GetField(format, kWaveCbSize, 2, formatsBigEndian_);
    if (format.size() < extra + kWaveFormatExSize) {
      SetField(format, kWaveCbSize, 2, static_cast<uint32_t>(format.size() - kWaveFormatExSize),
               formatsBigEndian_);
    }
  }
  if (options_.writer.fixAudioScale && format.size() > kWaveBlockAlign &&
      GetField(format, kWaveFormatTag, 2, formatsBigEndian_) == kPcmFormatTag) {
    const uint32_t blockAlign = GetField(format, kWaveBlockAlign, 2, formatsBigEndian_);
    const uint32_t samples = GetField(format, kWaveSamplesPerSec, 4, formatsBigEndian_);
    header.scale = blockAlign;
    header.rate = Clamp32(uint64_t{samples} * blockAlign);
    header.sampleSize = blockAlign;
  }
}

// ---------------------------------------------------------------------------
// After each file: what was written decides lengths and rates

void AviWriter::FinishVideoHeader(size_t stream, AviStreamHeader& header,
                                  AviMainHeader& main) const {
  header.length = tallies_[stream].frames;
  main.totalFrames = header.length;
  // Initial frames are counted against the video: the main header's are its.
  main.initialFrames = header.initialFrames;
  // A scale of 0 would divide by zero in every player: it is taken as 1.
  if (header.scale == 0) header.scale = 1;
  const uint32_t divisor = Gcd(header.rate, header.scale);
  if (divisor > 1) {
    header.rate /= divisor;
    header.scale /= divisor;
  }
  if (options_.writer.videoFps > 0.0) {
    header.scale = 10000;
    header.rate = ToU32(options_.writer.videoFps * 10000.0);
    main.microSecPerFrame = ToU32(1000000.0 / options_.writer.videoFps);
  } else if (header.rate != 0) {
    // With no rate the source's time per frame is kept.
    const double framesPerSecond = static_cast<double>(header.rate) / header.scale;
    main.microSecPerFrame = ToU32(1000000.0 / framesPerSecond);
  }
}

void AviWriter::FinishAudioHeader(size_t stream, AviStreamHeader& header,
                                  std::vector<uint8_t>& format, const AviMainHeader& main) const {
  if (FinishBlockAudioHeader(stream, header, format)) return;
  const StreamTally& tally = tallies_[stream];
  const uint32_t averageRate = GetField(format, kWaveAvgBytesPerSec, 4, formatsBigEndian_);
  const uint32_t blockAlign = GetField(format, kWaveBlockAlign, 2, formatsBigEndian_);
  const uint32_t scale = header.scale == 0 ? 1 : header.scale;
  uint32_t newAverage = averageRate;
  bool measured = false;
  if ((header.scale == 0 || options_.writer.fixAudioScale) && averageRate > 0 && blockAlign > 0) {
    // The byte rate measured over the length of the video, in whole seconds.
    // A video shorter than a second, no rate or no data gives no measure;
    // the stream is then handled like any other.
    const uint64_t milliseconds =
        static_cast<uint64_t>(static_cast<double>(main.microSecPerFrame) * main.totalFrames * 0.001 + 0.5);
    const uint64_t seconds = milliseconds / 1000;
    const double measuredRate = seconds > 0 ? static_cast<double>(tally.bytes) / seconds : 0.0;
    if (measuredRate > 0.0 && header.rate > 0) {
      const uint32_t newScale = ToU32(scale / (header.rate / measuredRate));
      const uint32_t newRate = ToU32(measuredRate);
      if (newScale > 0 && newRate > 0) {
        header.scale = newScale;
        header.rate = newRate;
        header.length = Clamp32(tally.bytes / newScale);
        newAverage = ToU32(static_cast<double>(blockAlign) * newRate / newScale + 0.5);
        measured = true;
      }
    }
  }
  if (!measured) {
    header.scale = scale;
    // Samples of a fixed size, or one block per chunk when the size varies.
    header.length = header.sampleSize > 0 ? Clamp32(tally.bytes / header.sampleSize) : tally.frames;
    const double unitsPerSecond = static_cast<double>(header.rate) / scale;
    const double seconds =
        unitsPerSecond < 0.01
            ? 0.0
            : std::trunc(header.length / unitsPerSecond * 1000.0 + 0.5) * 0.001;
    if (seconds >= 1.0) {
      newAverage = ToU32(tally.bytes / seconds + 0.5);
    } else if (averageRate == 0) {
      // Less than a second says little about the rate; a stated one is kept.
      newAverage = static_cast<uint32_t>(tally.bytes);
    }
  }
  SetField(format, kWaveAvgBytesPerSec, 4, newAverage, formatsBigEndian_);
}

bool AviWriter::FinishBlockAudioHeader(size_t stream, AviStreamHeader& header,
                                       std::vector<uint8_t>& format) const {
  // The format's block size and sample rate time such audio exactly; the
  // stream header, which players time it by, is often wrong. libquicktime
  // states a sample size of 2 (the bytes of one channel) for 16-bit stereo:
  // a length counted in those units is twice the real one. And a byte rate
  // measured from a rounded duration is a little off where the format's
  // product is exact.
  if (!AviModel::IsBlockAudio(format, formatsBigEndian_)) return false;
  const uint32_t blockAlign = GetField(format, kWaveBlockAlign, 2, formatsBigEndian_);
  const uint32_t samplesPerSec = GetField(format, kWaveSamplesPerSec, 4, formatsBigEndian_);
  const uint64_t byteRate = uint64_t{samplesPerSec} * blockAlign;
  if (byteRate == 0 || byteRate > 0xFFFFFFFFull) return false;
  // The length counts blocks, so rate / scale must be blocks (samples) per
  // second. A source whose pair is already right keeps it; one whose rate is
  // something else (often the byte rate over a scale of 1) gets the byte
  // rate over the block size, the pair "-fa" writes for PCM.
  if (header.scale == 0 || uint64_t{header.rate} != uint64_t{samplesPerSec} * header.scale) {
    header.scale = blockAlign;
    header.rate = static_cast<uint32_t>(byteRate);
  }
  header.sampleSize = blockAlign;
  header.length = Clamp32(tallies_[stream].bytes / blockAlign);
  SetField(format, kWaveAvgBytesPerSec, 4, static_cast<uint32_t>(byteRate), formatsBigEndian_);
  return true;
}

// ---------------------------------------------------------------------------
// Header layout

uint64_t AviWriter::StreamListSize(size_t number) const {
  const AviStream& stream = model_.streams[number];
  // 'strl', 'strh' with its 56 bytes, the 'strf' header.
  uint64_t size = RoundUpEven(stream.strf.size() + 76);
  if (!options_.writer.tightAvi && !stream.name.empty())
    size += 8 + RoundUpEven(stream.name.size() + 1);
  if (!stream.strd.empty()) size += 8 + RoundUpEven(stream.strd.size());
  if (options_.writer.writeOpenDml) size += kIndexChunkSize;
  return size;
}

void AviWriter::PlanHeaderLayout() {
  // 'RIFF' size 'AVI ', 'LIST' size 'hdrl', 'avih' size and its 56 bytes.
  uint64_t size = 88;
  for (size_t number = 0; number < model_.streams.size(); ++number) {
    size += StreamListSize(number) + 8;
  }
  // 'LIST' size 'odml', 'dmlh' size and its 248 bytes.
  if (options_.writer.writeOpenDml) size += 268;
  headerSize_ = size;
  moviStart_ = size;
  if (!options_.writer.tightAvi) {
    // The 'movi' data begins on a multiple of 2048 bytes; the gap is a 'JUNK'
    // chunk, so it must hold at least its header.
    uint64_t blocks = 1;
    while (!(blocks * kPaddedAlignment - 12 == size || size + 8 <= blocks * kPaddedAlignment - 12)) {
      ++blocks;
    }
    moviStart_ = blocks * kPaddedAlignment - 12;
  }
}
