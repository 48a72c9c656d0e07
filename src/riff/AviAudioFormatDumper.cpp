#include "riff/AviAudioFormatDumper.h"

#include <algorithm>
#include <cstdlib>
#include <iomanip>
#include <sstream>
#include <string>

#include "core/ByteReader.h"
#include "core/CParser.h"
#include "core/StructDesc.h"
#include "core/StructureDumper.h"
#include "core/StructureHooks.h"
#include "riff/AviHeaderDumper.h"
#include "riff/CRIFFParser.h"

namespace {

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
constexpr uint32_t kAdpcmCountOffset = 20;
constexpr uint32_t kMinAdpcmCoefficients = 7;
constexpr uint32_t kVariableMp3BlockAlign = 960;
constexpr uint32_t kMpegJointStereo = 2;

// The common part of every audio format (WAVEFORMATEX), decoded up front:
// the checks under a field's line read fields that follow it.
struct WaveFormat {
  uint16_t tag = 0;
  uint16_t channels = 0;
  uint32_t samplesPerSec = 0;
  uint32_t avgBytesPerSec = 0;
  uint16_t blockAlign = 0;
  uint16_t bitsPerSample = 0;
  uint16_t extensionSize = 0;
};

// The format's size is checked here and the bytes after a description belong
// to the extension that follows, so the dumper reports no trailer.
constexpr StructLayout kSizeCheckedHere{0, true, false};
// The extensions follow the 18 bytes of WAVEFORMATEX; their labels count the
// offsets of the whole format.
constexpr StructLayout kExtensionLayout{kWaveFormatExSize, true, false};

enum WaveFormatField : uint32_t {
  kFormatTag,
  kChannels,
  kSamplesPerSec,
  kAvgBytesPerSec,
  kBlockAlign,
  kBitsPerSample,
  kExtensionSize,
};
const FieldDesc kWaveFormatFields[] = {
    {FieldType::Word, 0, 1, "FormatTag"},
    {FieldType::Word, 0, 1, "Channels"},
    {FieldType::DWord, 0, 1, "Samples/sec (fps)"},
    {FieldType::DWord, 0, 1, "Avg Bytes/sec"},
    {FieldType::Word, 0, 1, "BlockAlign"},
    {FieldType::Word, 0, 1, "Bits/Sample"},
    {FieldType::Word, 0, 1, "Size"},
};
const StructDesc kWaveFormatEx("WAVEFORMATEX", "", 0, 0, kWaveFormatFields, kSizeCheckedHere);

// MPEG1WAVEFORMAT (MPEG-1 audio layers 1 and 2).
enum MpegField : uint32_t { kHeadLayer, kHeadBitrate, kHeadMode, kHeadModeExt };
const ValueName kMpegLayerNames[] = {
    {1, "Layer1", kEnumValue}, {2, "Layer2", kEnumValue}, {4, "Layer3", kEnumValue}};
const ValueNameTable kMpegLayers(kEnumeration, kMpegLayerNames);
const ValueName kMpegModeNames[] = {{1, "Stereo", kEnumValue},
                                    {2, "JointStereo", kEnumValue},
                                    {4, "DualChannel", kEnumValue},
                                    {8, "SingleChannel", kEnumValue}};
const ValueNameTable kMpegModes(kEnumeration, kMpegModeNames);
const ValueName kMpegEmphasisNames[] = {{1, "None", kEnumValue},
                                        {2, "50/15 ms emphasis", kEnumValue},
                                        {3, "Reserved", kEnumValue},
                                        {4, "CCITT J.17", kEnumValue}};
const ValueNameTable kMpegEmphases(kEnumeration, kMpegEmphasisNames);
const ValueName kMpegFlagNames[] = {
    {0x1, "PrivateBit", kFlag},    {0x2, "Copyright", kFlag}, {0x4, "OriginalHome", kFlag},
    {0x8, "ProtectionBit", kFlag}, {0x10, "ID MPEG1", kFlag},
};
const ValueNameTable kMpegFlags(kBitFlags, kMpegFlagNames);
const FieldDesc kMpegFields[] = {
    {FieldType::Word, 0, 1, "headLayer", &kMpegLayers},
    {FieldType::DWord, 0, 1, "HeadBitrate"},
    {FieldType::Word, 0, 1, "headMode", &kMpegModes},
    {FieldType::Word, 0, 1, "HeadModeExt"},
    {FieldType::Word, 0, 1, "HeadEmphasis", &kMpegEmphases},
    {FieldType::Word, kHexFormat, 1, "HeadFlags", &kMpegFlags},
    {FieldType::DWord, 0, 1, "PTSLow"},
    {FieldType::DWord, 0, 1, "PTSHigh"},
};
const StructDesc kMpeg1Extension("MPEG1WAVEFORMAT", "", 0, 0, kMpegFields, kExtensionLayout);

// MPEGLAYER3WAVEFORMAT.
const ValueName kMp3IdNames[] = {
    {0, "Unknown", kEnumValue}, {1, "MPEG", kEnumValue}, {2, "ConstantFrameSize", kEnumValue}};
const ValueNameTable kMp3Ids(kEnumeration, kMp3IdNames);
const ValueName kMp3PaddingNames[] = {
    {0, "Padding ISO", kEnumValue}, {1, "Padding On", kEnumValue}, {2, "Padding Off", kEnumValue}};
const ValueNameTable kMp3Paddings(kEnumeration, kMp3PaddingNames);
const FieldDesc kMp3Fields[] = {
    {FieldType::Word, 0, 1, "Id", &kMp3Ids},
    {FieldType::DWord, kHexFormat, 1, "Flags", &kMp3Paddings},
    {FieldType::Word, 0, 1, "BlockSize"},
    {FieldType::Word, 0, 1, "FramesPerBlock"},
    {FieldType::Word, 0, 1, "CodecDelay"},
};
const StructDesc kMp3Extension("MPEGLAYER3WAVEFORMAT", "", 0, 0, kMp3Fields, kExtensionLayout);

// ADPCMWAVEFORMAT before its coefficient pairs.
enum AdpcmField : uint32_t { kSamplesPerBlock, kCoefficientCount };
const FieldDesc kAdpcmFields[] = {
    {FieldType::Word, 0, 1, "SamplesPerBlock"},
    {FieldType::Word, 0, 1, "NumCoef"},
};
const StructDesc kAdpcmExtension("ADPCMWAVEFORMAT", "", 0, 0, kAdpcmFields, kExtensionLayout);

// WAVEFORMATEXTENSIBLE: its first word holds the valid bits of a sample, or
// the samples per block when the format states no bits per sample.
enum ExtensibleField : uint32_t { kSampleDetail, kChannelMask, kSubFormat };
const ValueName kSpeakerNames[] = {
    {1u << 0, "Speaker Front Left", kFlag},
    {1u << 1, "Speaker Front Right", kFlag},
    {1u << 2, "Speaker Front Center", kFlag},
    {1u << 3, "Speaker Low Frequency", kFlag},
    {1u << 4, "Speaker Back Left", kFlag},
    {1u << 5, "Speaker Back Right", kFlag},
    {1u << 6, "Speaker Front LeftOfCenter", kFlag, 2},
    {1u << 7, "Speaker Front RightOfCenter", kFlag, 2},
    {1u << 8, "Speaker Back Center", kFlag},
    {1u << 9, "Speaker Side Left", kFlag, 2},
    {1u << 10, "Speaker Side Right", kFlag, 2},
    {1u << 11, "Speaker Top Center", kFlag, 2},
    {1u << 12, "Speaker Top Front Left", kFlag, 2},
    {1u << 13, "Speaker Top Front Center", kFlag, 2},
    {1u << 14, "Speaker Top Front Right", kFlag, 2},
    {1u << 15, "Speaker Top Back Left", kFlag, 2},
    {1u << 16, "Speaker Top Back Center", kFlag, 2},
    {1u << 17, "Speaker Top Back Right", kFlag, 2},
    {0xFFFFFFFF, "All Channel Configurations supported", kEnumValue},
};
const ValueNameTable kSpeakers(kBitFlags, kSpeakerNames);
const ValueName kVariableNames[] = {{0, "Variable", kEnumValue}};
const ValueNameTable kZeroIsVariable(kEnumeration, kVariableNames, nullptr);
const FieldDesc kExtensibleBitsFields[] = {
    {FieldType::Word, 0, 1, "ValidBitsPerSample"},
    {FieldType::DWord, kHexFormat, 1, "ChannelMask", &kSpeakers},
    {FieldType::Guid, 0, 1, "SubFormat GUID"},
};
const StructDesc kExtensibleBits("WAVEFORMATEXTENSIBLE", "", 0, 0, kExtensibleBitsFields,
                                 kExtensionLayout);
const FieldDesc kExtensibleBlockFields[] = {
    {FieldType::Word, 0, 1, "SamplesPerBlock", &kZeroIsVariable},
    {FieldType::DWord, kHexFormat, 1, "ChannelMask", &kSpeakers},
    {FieldType::Guid, 0, 1, "SubFormat GUID"},
};
const StructDesc kExtensibleBlock("WAVEFORMATEXTENSIBLE", "", 0, 0, kExtensibleBlockFields,
                                  kExtensionLayout);

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
// Sub-formats that wrap a plain format tag: {0000xxxx-0000-0010-8000-00aa00389b71},
// the tag in the low word of the first group.
const char kTagGuidHead[] = "{0000";
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

std::string SubFormatSuffix(const std::string& text) {
  for (const SubFormatName& entry : kSubFormats) {
    if (text == entry.guid) return entry.name;
  }
  const size_t headSize = sizeof kTagGuidHead - 1;
  const size_t tailAt = headSize + 4;
  if (text.size() == tailAt + sizeof kTagGuidTail - 1 &&
      text.compare(0, headSize, kTagGuidHead) == 0 &&
      text.compare(tailAt, std::string::npos, kTagGuidTail) == 0) {
    const std::string tag = text.substr(headSize, 4);
    return FormatTagSuffix(static_cast<uint16_t>(std::strtoul(tag.c_str(), nullptr, 16)));
  }
  return std::string();
}

// Formats whose bytes per second follow from the bits per sample alone.
bool IsUncompressed(uint16_t tag) {
  return tag == kTagPcm || tag == kTagIeeeFloat || tag == kTagALaw || tag == kTagMuLaw ||
         tag == kTagExtensible;
}

// The checks of WAVEFORMATEX against itself and against the stream header of
// the same stream, each under the line of the field it is about.
class WaveFormatChecks : public StructureHooks {
 public:
  WaveFormatChecks(const CParser& parser, const AviStreamHeader* streamHeader,
                   const WaveFormat& format, const uint8_t* body, uint32_t size)
      : parser_(parser),
        report_(parser.Reporter()),
        streamHeader_(streamHeader),
        f_(format),
        body_(body),
        size_(size) {}

  std::string Note(uint32_t field, const FieldValues& /*values*/) const override {
    return field == kFormatTag ? FormatTagSuffix(f_.tag) : std::string();
  }

  void Check(uint32_t field, const FieldValues& /*values*/, bool /*shown*/,
             int depth) const override {
    switch (field) {
      case kFormatTag:
        CheckTagSize(depth);
        break;
      case kSamplesPerSec:
        CheckSampleRate(depth);
        break;
      case kAvgBytesPerSec:
        CheckByteRate(depth);
        break;
      case kBlockAlign:
        CheckBlockAlign(depth);
        break;
      case kBitsPerSample:
        CheckBitsPerSample(depth);
        CheckBitsDuration(depth);
        break;
      case kExtensionSize:
        CheckExtensionSize(depth);
        break;
      default:
        break;
    }
  }

 private:
  void CheckTagSize(int depth) const;
  void CheckSampleRate(int depth) const;
  void CheckByteRate(int depth) const;
  void CheckBlockAlign(int depth) const;
  void CheckBitsPerSample(int depth) const;
  void CheckBitsDuration(int depth) const;
  void CheckExtensionSize(int depth) const;
  // The play time of a duration at the stream's rate.
  std::string DurationText(uint32_t milliseconds) const {
    const double rate = streamHeader_ ? AviHeaderDumper::StreamRate(*streamHeader_) : 0.0;
    return Report::PlayTimeFromMilliseconds(milliseconds, rate);
  }

  const CParser& parser_;
  const Report& report_;
  const AviStreamHeader* streamHeader_;
  const WaveFormat& f_;
  const uint8_t* body_;
  uint32_t size_;
};

// The size each tag's structure must have.
void WaveFormatChecks::CheckTagSize(int depth) const {
  switch (f_.tag) {
    case kTagPcm:
      if (size_ != kPcmWaveFormatSize && size_ != kWaveFormatExSize) {
        report_.Message("Unknown PCMWAVEFORMAT Size, expected " + Num(kPcmWaveFormatSize) + "!",
                        depth, kWarning);
      }
      break;
    case kTagAdpcm: {
      ByteReader in(body_, size_, parser_.BigEndian());
      in.Seek(kAdpcmCountOffset);
      const uint64_t expected = kAdpcmFixedSize + 4ull * in.U16();
      if (size_ != expected) {
        report_.Message("Unknown ADPCMWAVEFORMAT Size, expected " + Num(expected) + "!", depth,
                        kWarning);
      }
      break;
    }
    case kTagMpeg:
      if (size_ != kMpegSize || f_.extensionSize != kMpegExtension) {
        report_.Message("Unknown MPEG1WAVEFORMAT Size, expected " + Num(kMpegSize) + "!", depth,
                        kWarning);
      }
      break;
    case kTagMpegLayer3:
      if (size_ != kMpegLayer3Size || f_.extensionSize != kMpegLayer3Extension) {
        report_.Message("Unknown MPEGLAYER3WAVEFORMAT Size, expected " + Num(kMpegLayer3Size) + "!",
                        depth, kWarning);
      }
      break;
    case kTagExtensible:
      if (size_ != kExtensibleSize || f_.extensionSize != kExtensibleExtension) {
        report_.Message("Unknown WAVEFORMATEXTENSIBLE Size, expected " + Num(kExtensibleSize) + "!",
                        depth, kWarning);
      }
      break;
    default:
      break;
  }
}

void WaveFormatChecks::CheckSampleRate(int depth) const {
  if (f_.tag != kTagPcm || !streamHeader_) return;
  const double rate = AviHeaderDumper::StreamRate(*streamHeader_);
  if (AviHeaderDumper::RoundedWhole(rate) != f_.samplesPerSec) {
    report_.Message("Stream Rate / Scale: " + RateText(rate) + "!", depth, kWarning);
  }
}

void WaveFormatChecks::CheckByteRate(int depth) const {
  // The duration the byte rate gives: the length counts blocks. A stream of
  // variable bit rate (sample size 0) counts chunks, each of `scale`
  // samples, and its byte rate tells nothing about its length.
  if (streamHeader_ && streamHeader_->sampleSize > 0 && f_.avgBytesPerSec > 0) {
    const uint32_t ms = AviHeaderDumper::RoundedMs(static_cast<double>(streamHeader_->length) /
                                                   f_.avgBytesPerSec * f_.blockAlign * 1000.0);
    if (ms > 0 && ms != AviHeaderDumper::StreamDurationMs(*streamHeader_)) {
      report_.Message("AvgBytesPerSec Length " + DurationText(ms) + "!", depth, kWarning);
    }
  }
  if (f_.tag == kTagPcm &&
      static_cast<uint64_t>(f_.samplesPerSec) * f_.blockAlign != f_.avgBytesPerSec) {
    report_.Message("PCM AvgBytesPerSec should be SamplesPerSec * BlockAlign!", depth, kWarning);
  }
}

void WaveFormatChecks::CheckBlockAlign(int depth) const {
  const uint16_t blockAlign = f_.blockAlign;
  if (blockAlign == 0) report_.Message("Illegal BlockAlign detected.", depth, kError);
  if (f_.tag == kTagMpegLayer3 && blockAlign >= kVariableMp3BlockAlign) {
    report_.Message("Presumably variable Bitrate MP3.", depth, kInfo);
    if (streamHeader_ && streamHeader_->sampleSize > 0) {
      report_.Message("StreamHeader SampleSize should be 0 for variable Bitrate MP3.", depth,
                      kError);
    }
  }
  if (f_.tag == kTagPcm || f_.tag == kTagExtensible) {
    if (blockAlign != static_cast<uint32_t>(f_.channels) * f_.bitsPerSample / 8) {
      report_.Message("PCM BlockAlign should be Channels * BitsPerSample / 8!", depth, kWarning);
    }
  } else if (f_.bitsPerSample > 0 && IsUncompressed(f_.tag)) {
    // Samples stored as they are come in whole blocks; a compressed format
    // (MP3, AC-3, ...) states bits of the decoded samples only.
    // No channels, no unit to be a multiple of: nothing to check.
    const uint32_t unit = static_cast<uint32_t>(f_.channels) * ((f_.bitsPerSample + 7u) / 8);
    if (unit != 0 && blockAlign % unit != 0) {
      report_.Message("BlockAlign should be a multiple of Channels * BitsPerSample / 8!", depth,
                      kWarning);
    }
  }
  if (streamHeader_ && streamHeader_->sampleSize > 0 && streamHeader_->sampleSize != blockAlign) {
    report_.Message("BlockAlign should equal StreamHeader SampleSize!", depth, kWarning);
  }
}

void WaveFormatChecks::CheckBitsPerSample(int depth) const {
  if (f_.tag == kTagPcm && f_.bitsPerSample != 8 && f_.bitsPerSample != 16) {
    report_.Message("PCM BitsPerSamples should be 8 or 16!", depth, kWarning);
  }
  if (f_.tag == kTagExtensible && f_.bitsPerSample % 8 != 0) {
    report_.Message("Ext. BitsPerSamples should be a multiple of 8!", depth, kWarning);
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
void WaveFormatChecks::CheckBitsDuration(int depth) const {
  if (!streamHeader_ || !IsUncompressed(f_.tag)) return;
  const double bytesPerSec =
      static_cast<double>(f_.samplesPerSec) * f_.channels * f_.bitsPerSample / 8.0;
  const uint32_t unit = streamHeader_->sampleSize != 0 ? streamHeader_->sampleSize : f_.blockAlign;
  if (!(bytesPerSec > 0) || unit == 0) return;
  const uint32_t ms = AviHeaderDumper::RoundedMs(static_cast<double>(streamHeader_->length) * unit /
                                                 bytesPerSec * 1000.0);
  const int64_t difference =
      static_cast<int64_t>(ms) - AviHeaderDumper::StreamDurationMs(*streamHeader_);
  if (ms > 0 && (difference > 1 || difference < -1)) {
    report_.Message("BitsPerSample Length " + DurationText(ms) + "!", depth, kWarning);
  }
}

// A 17-byte body holds half a size word; the token size warning covers it.
void WaveFormatChecks::CheckExtensionSize(int depth) const {
  if (size_ >= kWaveFormatExSize && size_ != kWaveFormatExSize + f_.extensionSize) {
    report_.Message(
        "Wrong size in AVIHeaderFormat, should be " + Num(size_ - kWaveFormatExSize) + "!", depth,
        kWarning);
  }
}

// A bit rate of 0 is a variable one; the mode extension belongs to joint
// stereo alone.
class MpegChecks : public StructureHooks {
 public:
  explicit MpegChecks(const Report& report) : report_(report) {}

  std::string Note(uint32_t field, const FieldValues& values) const override {
    return field == kHeadBitrate && values[kHeadBitrate].number == 0 ? " Variable" : "";
  }

  void Check(uint32_t field, const FieldValues& values, bool /*shown*/, int depth) const override {
    if (field == kHeadModeExt && values[kHeadModeExt].number != 0 &&
        values[kHeadMode].number != kMpegJointStereo) {
      report_.Message("HeadModeExt should only be set for ACM_MPEG_JOINTSTEREO!", depth, kWarning);
    }
  }

 private:
  const Report& report_;
};

class AdpcmChecks : public StructureHooks {
 public:
  explicit AdpcmChecks(const Report& report) : report_(report) {}

  void Check(uint32_t field, const FieldValues& values, bool /*shown*/, int depth) const override {
    if (field == kCoefficientCount && values[kCoefficientCount].number < kMinAdpcmCoefficients) {
      report_.Message("At least 7 coefficients expected!", depth, kError);
    }
  }

 private:
  const Report& report_;
};

// The valid bits of a sample fit in the bits per sample, which come in whole
// bytes; the sub-format GUID is named, or the format tag it wraps.
class ExtensibleChecks : public StructureHooks {
 public:
  ExtensibleChecks(const Report& report, uint16_t bitsPerSample)
      : report_(report), bitsPerSample_(bitsPerSample) {}

  std::string Note(uint32_t field, const FieldValues& values) const override {
    return field == kSubFormat ? SubFormatSuffix(values[kSubFormat].text) : std::string();
  }

  void Check(uint32_t field, const FieldValues& values, bool /*shown*/, int depth) const override {
    if (field != kSampleDetail || bitsPerSample_ == 0) return;
    if (values[kSampleDetail].number > bitsPerSample_ || bitsPerSample_ % 8 != 0) {
      report_.Message(
          "ValidBitsPerSample must be less or equal BitsPerSample and BitsPerSample a multiple "
          "of 8 bits!",
          depth, kError);
    }
  }

 private:
  const Report& report_;
  uint16_t bitsPerSample_;
};

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
  const WaveFormatChecks checks(parser_, streamHeader_, f, body, size);
  Interpret(kWaveFormatEx, body, size, depth, &checks);
  switch (f.tag) {
    case kTagMpeg: {
      const MpegChecks mpegChecks(report);
      Interpret(kMpeg1Extension, body, size, depth, &mpegChecks);
      break;
    }
    case kTagAdpcm:
      DumpAdpcmExtension(body, size, depth);
      break;
    case kTagMpegLayer3:
      Interpret(kMp3Extension, body, size, depth, nullptr);
      break;
    case kTagExtensible: {
      const ExtensibleChecks extensibleChecks(report, f.bitsPerSample);
      Interpret(f.bitsPerSample != 0 ? kExtensibleBits : kExtensibleBlock, body, size, depth,
                &extensibleChecks);
      break;
    }
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

// A description over the body: the common part from its start, an extension
// over the bytes after the common part.
void AviAudioFormatDumper::Interpret(const StructDesc& desc, const uint8_t* body, uint32_t size,
                                     int depth, const StructureHooks* hooks) const {
  const uint32_t skipped = std::min(size, static_cast<uint32_t>(desc.layout.firstOffset));
  StructureDumper::InterpretStructure(parser_, depth, size - skipped, body + skipped,
                                      size - skipped, size - skipped, desc,
                                      StructureDumper::kNoItemLimit, hooks);
}

// ADPCMWAVEFORMAT: the coefficient pairs that lie wholly in the body share
// one line.
void AviAudioFormatDumper::DumpAdpcmExtension(const uint8_t* body, uint32_t size, int depth) const {
  const AdpcmChecks checks(parser_.Reporter());
  Interpret(kAdpcmExtension, body, size, depth, &checks);
  if (parser_.Verbosity() <= 2 || kAdpcmFixedSize >= size) return;
  ByteReader in(body, size, parser_.BigEndian());
  in.Seek(kAdpcmCountOffset);
  const uint16_t count = in.U16();
  const uint32_t present = std::min<uint32_t>(count, (size - kAdpcmFixedSize) / 4);
  std::string line = "22 Coefficients:";
  for (uint32_t i = 0; i < present; ++i) {
    const int16_t first = static_cast<int16_t>(in.U16());
    const int16_t second = static_cast<int16_t>(in.U16());
    line += " (" + std::to_string(first) + ", " + std::to_string(second) + ")";
  }
  parser_.Reporter().PlainLine(line, depth);
}
