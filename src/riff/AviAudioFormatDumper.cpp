#include "riff/AviAudioFormatDumper.h"

#include <algorithm>
#include <iomanip>
#include <sstream>
#include <string>

#include "core/ByteReader.h"
#include "core/CParser.h"
#include "core/FieldFormat.h"
#include "riff/AviHeaderDumper.h"
#include "riff/CRIFFParser.h"

namespace {

using CodeName = AviHeaderDumper::CodeName;
using FlagName = AviHeaderDumper::FlagName;
using WordField = AviHeaderDumper::WordField;

constexpr uint16_t kTagPcm = 0x0001;
constexpr uint16_t kTagAdpcm = 0x0002;
constexpr uint16_t kTagIeeeFloat = 0x0003;
constexpr uint16_t kTagALaw = 0x0006;
constexpr uint16_t kTagMuLaw = 0x0007;
constexpr uint16_t kTagMpeg = 0x0050;
constexpr uint16_t kTagMpegLayer3 = 0x0055;
constexpr uint16_t kTagExtensible = 0xFFFE;

constexpr uint32_t kWaveFormatSize = 14;     // WAVEFORMAT
constexpr uint32_t kPcmWaveFormatSize = 16;  // PCMWAVEFORMAT
constexpr uint32_t kWaveFormatExSize = 18;   // WAVEFORMATEX, with the extension size
constexpr uint32_t kAdpcmFixedSize = 22;     // ADPCMWAVEFORMAT before its coefficients
constexpr uint32_t kMpegSize = 40;
constexpr uint32_t kMpegExtension = 22;
constexpr uint32_t kMpegLayer3Size = 30;
constexpr uint32_t kMpegLayer3Extension = 12;
constexpr uint32_t kExtensibleSize = 40;
constexpr uint32_t kExtensibleExtension = 22;
constexpr uint32_t kMinAdpcmCoefficients = 7;
constexpr uint32_t kVariableMp3BlockAlign = 960;
constexpr uint32_t kAllChannels = 0xFFFFFFFF;
constexpr uint32_t kMpegJointStereo = 2;

// The common part of every audio format (WAVEFORMATEX).
struct WaveFormat {
  uint16_t tag = 0;
  uint16_t channels = 0;
  uint32_t samplesPerSec = 0;
  uint32_t avgBytesPerSec = 0;
  uint16_t blockAlign = 0;
  uint16_t bitsPerSample = 0;
  uint16_t extensionSize = 0;
};

const CodeName kMpegLayers[] = {{1, " (Layer1)"}, {2, " (Layer2)"}, {4, " (Layer3)"}};
const CodeName kMpegModes[] = {
    {1, " (Stereo)"}, {2, " (JointStereo)"}, {4, " (DualChannel)"}, {8, " (SingleChannel)"}};
const CodeName kMpegEmphases[] = {
    {1, " (None)"}, {2, " (50/15 ms emphasis)"}, {3, " (Reserved)"}, {4, " (CCITT J.17)"}};
const FlagName kMpegFlags[] = {
    {0x1, "PrivateBit", 0},    {0x2, "Copyright", 0}, {0x4, "OriginalHome", 0},
    {0x8, "ProtectionBit", 0}, {0x10, "ID MPEG1", 0},
};
// MPEG1WAVEFORMAT: layer 18, bit rate 20, mode 24, mode extension 26,
// emphasis 28, flags 30, PTS 32 and 36.
constexpr uint32_t kMpegBitrateOffset = 20;
constexpr uint32_t kMpegModeOffset = 24;
constexpr uint32_t kMpegModeExtOffset = 26;
constexpr uint32_t kMpegFlagsOffset = 30;
const WordField kMpegLayerField[] = {{18, 2, "18 headLayer", kMpegLayers}};
const WordField kMpegModeFields[] = {
    {24, 2, "24 headMode", kMpegModes},
    {26, 2, "26 HeadModeExt", {}},
};
const WordField kMpegEmphasisField[] = {{28, 2, "28 HeadEmphasis", kMpegEmphases}};
const WordField kMpegPtsFields[] = {{32, 4, "32 PTSLow", {}}, {36, 4, "36 PTSHigh", {}}};

const CodeName kMp3Ids[] = {{0, " (Unknown)"}, {1, " (MPEG)"}, {2, " (ConstantFrameSize)"}};
const CodeName kMp3Paddings[] = {
    {0, " (Padding ISO)"}, {1, " (Padding On)"}, {2, " (Padding Off)"}};
constexpr uint32_t kMp3FlagsOffset = 20;
const WordField kMp3IdField[] = {{18, 2, "18 Id", kMp3Ids}};
const WordField kMp3SizeFields[] = {
    {24, 2, "24 BlockSize", {}},
    {26, 2, "26 FramesPerBlock", {}},
    {28, 2, "28 CodecDelay", {}},
};

const WordField kAdpcmFields[] = {{18, 2, "18 SamplesPerBlock", {}}};
constexpr uint32_t kAdpcmCountOffset = 20;

constexpr uint32_t kExtensibleSamplesOffset = 18;
constexpr uint32_t kChannelMaskOffset = 20;
constexpr uint32_t kSubFormatOffset = 24;
const FlagName kSpeakers[] = {
    {1u << 0, "Speaker Front Left", 0},         {1u << 1, "Speaker Front Right", 0},
    {1u << 2, "Speaker Front Center", 0},       {1u << 3, "Speaker Low Frequency", 0},
    {1u << 4, "Speaker Back Left", 0},          {1u << 5, "Speaker Back Right", 0},
    {1u << 6, "Speaker Front LeftOfCenter", 2}, {1u << 7, "Speaker Front RightOfCenter", 2},
    {1u << 8, "Speaker Back Center", 0},        {1u << 9, "Speaker Side Left", 2},
    {1u << 10, "Speaker Side Right", 2},        {1u << 11, "Speaker Top Center", 2},
    {1u << 12, "Speaker Top Front Left", 2},    {1u << 13, "Speaker Top Front Center", 2},
    {1u << 14, "Speaker Top Front Right", 2},   {1u << 15, "Speaker Top Back Left", 2},
    {1u << 16, "Speaker Top Back Center", 2},   {1u << 17, "Speaker Top Back Right", 2},
};

struct SubFormatName {
  const char* guid;
  const char* name;
};
const SubFormatName kSubFormats[] = {
    {"{00000001-0000-0010-8000-00aa00389b71}", " PCM"},
    {"{00000003-0000-0010-8000-00aa00389b71}", " IEEE FLOAT"},
    {"{00000002-0000-0010-8000-00aa00389b71}", " ADPCM"},
    {"{00000006-0000-0010-8000-00aa00389b71}", " ALAW"},
    {"{00000007-0000-0010-8000-00aa00389b71}", " MULAW"},
    {"{00000009-0000-0010-8000-00aa00389b71}", " DRM"},
    {"{00000050-0000-0010-8000-00aa00389b71}", " MPEG"},
    {"{6dba3190-67bd-11cf-a0f7-0020afd156e4}", " Analog"},
};
// Sub-formats that wrap a plain format tag: {0000xxxx-0000-0010-8000-00aa00389b71}.
const char kTagGuidTail[] = "-0000-0010-8000-00aa00389b71}";

std::string Num(uint64_t value) { return Report::NumberText(value); }

std::string RateText(double rate) {
  std::ostringstream text;
  text << std::setprecision(12) << rate;
  return text.str();
}

std::string FormatTagSuffix(uint16_t tag) {
  const std::string name = CRIFFParser::FormatTagName(tag);
  return name.empty() ? name : " " + name;
}

std::string SubFormatSuffix(const uint8_t (&guid)[16], const std::string& text) {
  for (const SubFormatName& entry : kSubFormats) {
    if (text == entry.guid) return entry.name;
  }
  const size_t tailAt = 9;  // after "{0000xxxx"
  if (guid[2] == 0 && guid[3] == 0 && text.size() == tailAt + sizeof kTagGuidTail - 1 &&
      text.compare(tailAt, std::string::npos, kTagGuidTail) == 0) {
    return FormatTagSuffix(static_cast<uint16_t>(guid[0] | guid[1] << 8));
  }
  return std::string();
}

// Formats whose bytes per second follow from the bits per sample alone.
bool IsUncompressed(uint16_t tag) {
  return tag == kTagPcm || tag == kTagIeeeFloat || tag == kTagALaw || tag == kTagMuLaw ||
         tag == kTagExtensible;
}

template <size_t N>
void PrintWordFields(const CParser& parser, const WordField (&fields)[N], const uint8_t* body,
                     uint32_t size, int depth) {
  AviHeaderDumper::WordFieldLines(parser, fields, N, body, size, 0, depth);
}

}  // namespace

void AviAudioFormatDumper::Dump(const uint8_t* body, uint32_t size, int depth) {
  if (!body) size = 0;
  const Report& report = parser_.Reporter();
  ByteReader in(body, size, parser_.BigEndian());
  WaveFormat f;
  f.tag = in.U16();
  f.channels = in.U16();
  f.samplesPerSec = in.U32();
  f.avgBytesPerSec = in.U32();
  f.blockAlign = in.U16();
  f.bitsPerSample = in.U16();
  f.extensionSize = in.U16();

  if (size < kWaveFormatExSize && size != kWaveFormatSize && size != kPcmWaveFormatSize) {
    report.Message("Unknown Token Size!", depth, kWarning);
  }
  // A short body shows the fields it holds (missing bytes read as zero).
  if (size > 0) {
    AviHeaderDumper::FieldLine(parser_, "00 FormatTag", Num(f.tag), depth, FormatTagSuffix(f.tag));
  }
  CheckTagSize(f.tag, f.extensionSize, body, size, depth);
  if (size > 2) AviHeaderDumper::FieldLine(parser_, "02 Channels", Num(f.channels), depth);
  if (size > 4) {
    AviHeaderDumper::FieldLine(parser_, "04 Samples/sec (fps)", Num(f.samplesPerSec), depth);
    CheckSampleRate(f.tag, f.samplesPerSec, depth);
  }
  if (size > 8) {
    AviHeaderDumper::FieldLine(parser_, "08 Avg Bytes/sec", Num(f.avgBytesPerSec), depth);
    CheckByteRate(f.tag, f.samplesPerSec, f.avgBytesPerSec, f.blockAlign, depth);
  }
  if (size > 12) {
    AviHeaderDumper::FieldLine(parser_, "12 BlockAlign", Num(f.blockAlign), depth);
    CheckBlockAlign(f.tag, f.channels, f.blockAlign, f.bitsPerSample, depth);
  }
  if (size > 14) {
    AviHeaderDumper::FieldLine(parser_, "14 Bits/Sample", Num(f.bitsPerSample), depth);
    CheckBitsPerSample(f.tag, f.bitsPerSample, depth);
    CheckBitsDuration(f.tag, f.channels, f.samplesPerSec, f.blockAlign, f.bitsPerSample, depth);
  }
  if (size > kPcmWaveFormatSize) {
    AviHeaderDumper::FieldLine(parser_, "16 Size", Num(f.extensionSize), depth);
    // A 17-byte body holds half a size word; the token size warning covers it.
    if (size >= kWaveFormatExSize && size != kWaveFormatExSize + f.extensionSize) {
      report.Message(
          "Wrong size in AVIHeaderFormat, should be " + Num(size - kWaveFormatExSize) + "!", depth,
          kWarning);
    }
  }
  switch (f.tag) {
    case kTagMpeg:
      DumpMpegExtension(body, size, depth);
      break;
    case kTagAdpcm:
      DumpAdpcmExtension(body, size, depth);
      break;
    case kTagMpegLayer3:
      DumpMpegLayer3Extension(body, size, depth);
      break;
    case kTagExtensible:
      DumpExtensibleExtension(f.bitsPerSample, body, size, depth);
      break;
    default:
      if (parser_.Verbosity() > 2 && size > kWaveFormatExSize && f.extensionSize > 0) {
        report.PlainLine("18 Bytes:", depth);
        report.HexDump(body + kWaveFormatExSize,
                       std::min<uint32_t>(f.extensionSize, size - kWaveFormatExSize), depth + 1,
                       parser_.Verbosity());
      }
      break;
  }
}

// The size each tag's structure must have.
void AviAudioFormatDumper::CheckTagSize(uint16_t tag, uint16_t extensionSize, const uint8_t* body,
                                        uint32_t size, int depth) const {
  const Report& report = parser_.Reporter();
  switch (tag) {
    case kTagPcm:
      if (size != kPcmWaveFormatSize && size != kWaveFormatExSize) {
        report.Message("Unknown PCMWAVEFORMAT Size, expected " + Num(kPcmWaveFormatSize) + "!",
                       depth, kWarning);
      }
      break;
    case kTagAdpcm: {
      ByteReader in(body, size, parser_.BigEndian());
      in.Seek(kAdpcmCountOffset);
      const uint64_t expected = kAdpcmFixedSize + 4ull * in.U16();
      if (size != expected) {
        report.Message("Unknown ADPCMWAVEFORMAT Size, expected " + Num(expected) + "!", depth,
                       kWarning);
      }
      break;
    }
    case kTagMpeg:
      if (size != kMpegSize || extensionSize != kMpegExtension) {
        report.Message("Unknown MPEG1WAVEFORMAT Size, expected " + Num(kMpegSize) + "!", depth,
                       kWarning);
      }
      break;
    case kTagMpegLayer3:
      if (size != kMpegLayer3Size || extensionSize != kMpegLayer3Extension) {
        report.Message("Unknown MPEGLAYER3WAVEFORMAT Size, expected " + Num(kMpegLayer3Size) + "!",
                       depth, kWarning);
      }
      break;
    case kTagExtensible:
      if (size != kExtensibleSize || extensionSize != kExtensibleExtension) {
        report.Message("Unknown WAVEFORMATEXTENSIBLE Size, expected " + Num(kExtensibleSize) + "!",
                       depth, kWarning);
      }
      break;
    default:
      break;
  }
}

void AviAudioFormatDumper::CheckSampleRate(uint16_t tag, uint32_t samplesPerSec, int depth) const {
  if (tag != kTagPcm || !streamHeader_) return;
  const double rate = AviHeaderDumper::StreamRate(*streamHeader_);
  if (AviHeaderDumper::RoundedWhole(rate) != samplesPerSec) {
    parser_.Reporter().Message("Stream Rate / Scale: " + RateText(rate) + "!", depth, kWarning);
  }
}

void AviAudioFormatDumper::CheckByteRate(uint16_t tag, uint32_t samplesPerSec,
                                         uint32_t avgBytesPerSec, uint16_t blockAlign,
                                         int depth) const {
  const Report& report = parser_.Reporter();
  // The duration the byte rate gives: the length counts blocks. A stream of
  // variable bit rate (sample size 0) counts chunks, each of `scale`
  // samples, and its byte rate tells nothing about its length.
  if (streamHeader_ && streamHeader_->sampleSize > 0 && avgBytesPerSec > 0) {
    const uint32_t ms = AviHeaderDumper::RoundedMs(static_cast<double>(streamHeader_->length) /
                                                   avgBytesPerSec * blockAlign * 1000.0);
    if (ms > 0 && ms != AviHeaderDumper::StreamDurationMs(*streamHeader_)) {
      report.Message("AvgBytesPerSec Length " + DurationText(ms) + "!", depth, kWarning);
    }
  }
  if (tag == kTagPcm && static_cast<uint64_t>(samplesPerSec) * blockAlign != avgBytesPerSec) {
    report.Message("PCM AvgBytesPerSec should be SamplesPerSec * BlockAlign!", depth, kWarning);
  }
}

void AviAudioFormatDumper::CheckBlockAlign(uint16_t tag, uint16_t channels, uint16_t blockAlign,
                                           uint16_t bitsPerSample, int depth) const {
  const Report& report = parser_.Reporter();
  if (blockAlign == 0) report.Message("Illegal BlockAlign detected.", depth, kError);
  if (tag == kTagMpegLayer3 && blockAlign >= kVariableMp3BlockAlign) {
    report.Message("Presumably variable Bitrate MP3.", depth, kInfo);
    if (streamHeader_ && streamHeader_->sampleSize > 0) {
      report.Message("StreamHeader SampleSize should be 0 for variable Bitrate MP3.", depth,
                     kError);
    }
  }
  if (tag == kTagPcm || tag == kTagExtensible) {
    if (blockAlign != static_cast<uint32_t>(channels) * bitsPerSample / 8) {
      report.Message("PCM BlockAlign should be Channels * BitsPerSample / 8!", depth, kWarning);
    }
  } else if (bitsPerSample > 0 && IsUncompressed(tag)) {
    // Samples stored as they are come in whole blocks; a compressed format
    // (MP3, AC-3, ...) states bits of the decoded samples only.
    // No channels, no unit to be a multiple of: nothing to check.
    const uint32_t unit = static_cast<uint32_t>(channels) * ((bitsPerSample + 7u) / 8);
    if (unit != 0 && blockAlign % unit != 0) {
      report.Message("BlockAlign should be a multiple of Channels * BitsPerSample / 8!", depth,
                     kWarning);
    }
  }
  if (streamHeader_ && streamHeader_->sampleSize > 0 && streamHeader_->sampleSize != blockAlign) {
    report.Message("BlockAlign should equal StreamHeader SampleSize!", depth, kWarning);
  }
}

void AviAudioFormatDumper::CheckBitsPerSample(uint16_t tag, uint16_t bitsPerSample,
                                              int depth) const {
  const Report& report = parser_.Reporter();
  if (tag == kTagPcm && bitsPerSample != 8 && bitsPerSample != 16) {
    report.Message("PCM BitsPerSamples should be 8 or 16!", depth, kWarning);
  }
  if (tag == kTagExtensible && bitsPerSample % 8 != 0) {
    report.Message("Ext. BitsPerSamples should be a multiple of 8!", depth, kWarning);
  }
}

// The duration that the bits per sample imply, compared with the stream
// duration. The stream's length counts blocks of its sample size (of the
// block align when the sample size is 0), and the bits give the byte rate:
//   bytes/sec = samples/sec x channels x bits per sample / 8
//   duration  = length x block size / bytes/sec x 1000 ms
// This equals the stream duration for every PCM layout a writer may choose
// (scale 1 and rate = samples/sec, or scale = block align and rate = bytes/sec;
// any sample width and channel count) as long as the format agrees with
// itself. Only the uncompressed formats are checked: for compressed ones the
// bits per sample do not determine the byte rate. A difference of 1 ms is
// rounding; more is reported.
void AviAudioFormatDumper::CheckBitsDuration(uint16_t tag, uint16_t channels,
                                             uint32_t samplesPerSec, uint16_t blockAlign,
                                             uint16_t bitsPerSample, int depth) const {
  if (!streamHeader_ || !IsUncompressed(tag)) return;
  const double bytesPerSec = static_cast<double>(samplesPerSec) * channels * bitsPerSample / 8.0;
  const uint32_t unit = streamHeader_->sampleSize != 0 ? streamHeader_->sampleSize : blockAlign;
  if (!(bytesPerSec > 0) || unit == 0) return;
  const uint32_t ms = AviHeaderDumper::RoundedMs(static_cast<double>(streamHeader_->length) * unit /
                                                 bytesPerSec * 1000.0);
  const int64_t difference =
      static_cast<int64_t>(ms) - AviHeaderDumper::StreamDurationMs(*streamHeader_);
  if (ms > 0 && (difference > 1 || difference < -1)) {
    parser_.Reporter().Message("BitsPerSample Length " + DurationText(ms) + "!", depth, kWarning);
  }
}

std::string AviAudioFormatDumper::DurationText(uint32_t milliseconds) const {
  const double rate = streamHeader_ ? AviHeaderDumper::StreamRate(*streamHeader_) : 0.0;
  return Report::PlayTimeFromMilliseconds(milliseconds, rate);
}

// MPEG1WAVEFORMAT (MPEG-1 audio layers 1 and 2).
void AviAudioFormatDumper::DumpMpegExtension(const uint8_t* body, uint32_t size, int depth) const {
  ByteReader in(body, size, parser_.BigEndian());
  PrintWordFields(parser_, kMpegLayerField, body, size, depth);
  if (kMpegBitrateOffset < size) {
    in.Seek(kMpegBitrateOffset);
    const uint32_t bitrate = in.U32();
    AviHeaderDumper::FieldLine(parser_, "20 HeadBitrate", Num(bitrate), depth,
                               bitrate == 0 ? " Variable" : "");
  }
  PrintWordFields(parser_, kMpegModeFields, body, size, depth);
  if (kMpegModeExtOffset < size) {
    in.Seek(kMpegModeOffset);
    const uint16_t mode = in.U16();
    const uint16_t modeExtension = in.U16();
    if (modeExtension != 0 && mode != kMpegJointStereo) {
      parser_.Reporter().Message("HeadModeExt should only be set for ACM_MPEG_JOINTSTEREO!", depth,
                                 kWarning);
    }
  }
  PrintWordFields(parser_, kMpegEmphasisField, body, size, depth);
  if (kMpegFlagsOffset < size) {
    in.Seek(kMpegFlagsOffset);
    const uint16_t flags = in.U16();
    AviHeaderDumper::FieldLine(parser_, "30 HeadFlags", AviHeaderDumper::HexText(flags, 4), depth);
    AviHeaderDumper::FlagLines(parser_, kMpegFlags, sizeof kMpegFlags / sizeof kMpegFlags[0], flags,
                               depth + 1);
  }
  PrintWordFields(parser_, kMpegPtsFields, body, size, depth);
}

// ADPCMWAVEFORMAT: the coefficient pairs that lie wholly in the body are shown.
void AviAudioFormatDumper::DumpAdpcmExtension(const uint8_t* body, uint32_t size, int depth) const {
  PrintWordFields(parser_, kAdpcmFields, body, size, depth);
  if (kAdpcmCountOffset >= size) return;
  ByteReader in(body, size, parser_.BigEndian());
  in.Seek(kAdpcmCountOffset);
  const uint16_t count = in.U16();
  AviHeaderDumper::FieldLine(parser_, "20 NumCoef", Num(count), depth);
  if (count < kMinAdpcmCoefficients) {
    parser_.Reporter().Message("At least 7 coefficients expected!", depth, kError);
  }
  if (parser_.Verbosity() <= 2 || kAdpcmFixedSize >= size) return;
  const uint32_t present = std::min<uint32_t>(count, (size - kAdpcmFixedSize) / 4);
  std::string line = "22 Coefficients:";
  for (uint32_t i = 0; i < present; ++i) {
    const int16_t first = static_cast<int16_t>(in.U16());
    const int16_t second = static_cast<int16_t>(in.U16());
    line += " (" + std::to_string(first) + ", " + std::to_string(second) + ")";
  }
  parser_.Reporter().PlainLine(line, depth);
}

// MPEGLAYER3WAVEFORMAT.
void AviAudioFormatDumper::DumpMpegLayer3Extension(const uint8_t* body, uint32_t size,
                                                   int depth) const {
  PrintWordFields(parser_, kMp3IdField, body, size, depth);
  if (kMp3FlagsOffset < size) {
    ByteReader in(body, size, parser_.BigEndian());
    in.Seek(kMp3FlagsOffset);
    const uint32_t flags = in.U32();
    AviHeaderDumper::FieldLine(
        parser_, "20 Flags", AviHeaderDumper::HexText(flags, 8), depth,
        AviHeaderDumper::CodeNames(kMp3Paddings).Find(flags, " (undefined)"));
  }
  PrintWordFields(parser_, kMp3SizeFields, body, size, depth);
}

// WAVEFORMATEXTENSIBLE: sample detail, speaker layout and the sub-format.
void AviAudioFormatDumper::DumpExtensibleExtension(uint16_t bitsPerSample, const uint8_t* body,
                                                   uint32_t size, int depth) const {
  const Report& report = parser_.Reporter();
  ByteReader in(body, size, parser_.BigEndian());
  if (kExtensibleSamplesOffset < size) {
    in.Seek(kExtensibleSamplesOffset);
    const uint16_t samples = in.U16();
    if (bitsPerSample != 0) {
      AviHeaderDumper::FieldLine(parser_, "18 ValidBitsPerSample", Num(samples), depth);
      if (samples > bitsPerSample || bitsPerSample % 8 != 0) {
        report.Message(
            "ValidBitsPerSample must be less or equal BitsPerSample and BitsPerSample a multiple "
            "of 8 bits!",
            depth, kError);
      }
    } else {
      AviHeaderDumper::FieldLine(parser_, "18 SamplesPerBlock", Num(samples), depth,
                                 samples == 0 ? " (Variable)" : "");
    }
  }
  if (kChannelMaskOffset < size) {
    in.Seek(kChannelMaskOffset);
    const uint32_t mask = in.U32();
    AviHeaderDumper::FieldLine(parser_, "20 ChannelMask", AviHeaderDumper::HexText(mask, 8), depth);
    if (mask == kAllChannels) {
      if (parser_.Verbosity() > 0)
        report.PlainLine("All Channel Configurations supported", depth + 1);
    } else {
      AviHeaderDumper::FlagLines(parser_, kSpeakers, sizeof kSpeakers / sizeof kSpeakers[0], mask,
                                 depth + 1);
    }
  }
  if (kSubFormatOffset < size) {
    // GUIDs keep their own (little-endian) layout whatever the file's order.
    ByteReader raw(body, size);
    raw.Seek(kSubFormatOffset);
    uint8_t guid[16];
    raw.CopyTo(guid, sizeof guid);
    const std::string text = FieldFormat::GuidText(guid);
    AviHeaderDumper::FieldLine(parser_, "24 SubFormat GUID", text, depth,
                               SubFormatSuffix(guid, text));
  }
}
