#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "core/CParser.h"
#include "core/FourCC.h"
#include "riff/AviAudioFormatDumper.h"

namespace {

using TestParser = testsupport::MemoryParser;

using Bytes = testsupport::BodyBuilder;

// WAVEFORMATEX common part; the extension size is appended only when given.
Bytes WaveFormat(uint16_t tag, uint16_t channels, uint32_t rate, uint32_t avg, uint16_t align,
                 uint16_t bits) {
  Bytes b;
  b.U16(tag).U16(channels).U32(rate).U32(avg).U16(align).U16(bits);
  return b;
}

// Subformat GUID {0000xxxx-0000-0010-8000-00aa00389b71} for a format tag.
Bytes& TagGuid(Bytes& b, uint16_t tag) {
  b.U32(tag).U16(0).U16(0x10);
  for (uint8_t v : {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}) b.U8(v);
  return b;
}

AviStreamHeader AudioStream(uint32_t scale, uint32_t rate, uint32_t sampleSize, uint32_t length) {
  AviStreamHeader h;
  h.type = FourCC("auds");
  h.scale = scale;
  h.rate = rate;
  h.sampleSize = sampleSize;
  h.length = length;
  return h;
}

class AudioHarness {
 public:
  explicit AudioHarness(uint32_t verbosity = 2) {
    RunOptions options;
    options.report.verbosity = verbosity;
    parser_ = std::make_unique<TestParser>(options, output_);
  }
  // Dumps an exact copy of the body (no byte beyond it is addressable).
  std::vector<std::string> Dump(const Bytes& b, const AviStreamHeader* header = nullptr,
                                int depth = 0) {
    std::vector<uint8_t> body(b.data);
    AviAudioFormatDumper(*parser_, header)
        .Dump(body.data(), static_cast<uint32_t>(body.size()), depth);
    return Lines();
  }
  std::vector<std::string> Lines() {
    output_.Flush();
    std::vector<std::string> lines;
    std::istringstream in(out_.str());
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

 private:
  std::ostringstream out_;
  std::ostringstream err_;
  ReportOutput output_{out_, err_, ConsoleState{}};
  std::unique_ptr<TestParser> parser_;
};

bool Has(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

bool HasText(const std::vector<std::string>& lines, const std::string& part) {
  return std::any_of(lines.begin(), lines.end(),
                     [&](const std::string& line) { return line.find(part) != std::string::npos; });
}

std::vector<std::string> Messages(const std::vector<std::string>& lines) {
  std::vector<std::string> messages;
  for (const std::string& line : lines) {
    if (line.find("*** ") != std::string::npos) messages.push_back(line.substr(line.find("*** ")));
  }
  return messages;
}

// ---------------------------------------------------------------------------
// PCM

TEST(AviAudioFormatDumperPcm, ConsistentFormatPassesEveryCheck) {
  AudioHarness h;
  AviStreamHeader stream = AudioStream(1, 44100, 4, 441000);
  Bytes b = WaveFormat(1, 2, 44100, 176400, 4, 16);
  EXPECT_EQ(h.Dump(b, &stream, 2), (std::vector<std::string>{
                                       "    00 FormatTag: 1 (PCM)",
                                       "    02 Channels: 2",
                                       "    04 Samples/sec (fps): 44100",
                                       "    08 Avg Bytes/sec: 176400",
                                       "    12 BlockAlign: 4",
                                       "    14 Bits/Sample: 16",
                                   }));
}

TEST(AviAudioFormatDumperPcm, FormatSizes) {
  const std::string warning = "*** Warning: Unknown PCMWAVEFORMAT Size, expected 16!";
  Bytes pcm = WaveFormat(1, 1, 8000, 8000, 1, 8);
  EXPECT_TRUE(Messages(AudioHarness().Dump(pcm)).empty());
  Bytes ex = pcm;
  ex.U16(0);
  std::vector<std::string> lines = AudioHarness().Dump(ex);
  EXPECT_TRUE(Messages(lines).empty());
  EXPECT_EQ(lines.back(), "16 Size: 0");
  Bytes longer = pcm;
  longer.U16(2).U16(0);
  EXPECT_EQ(Messages(AudioHarness().Dump(longer)), std::vector<std::string>{warning});
  Bytes wrongExtension = pcm;
  wrongExtension.U16(4);  // 18 bytes claiming 4 more
  EXPECT_TRUE(Has(AudioHarness().Dump(wrongExtension),
                  "*** Warning: Wrong size in AVIHeaderFormat, should be 0!"));
  Bytes waveFormat = pcm;
  waveFormat.data.resize(14);  // a plain WAVEFORMAT: no bits per sample
  lines = AudioHarness().Dump(waveFormat);
  EXPECT_TRUE(Has(lines, warning));
  EXPECT_FALSE(HasText(lines, "Unknown Token Size!"));
  EXPECT_FALSE(HasText(lines, "Bits/Sample"));
}

TEST(AviAudioFormatDumperPcm, BlockAlignTwoForStereoSixteenBits) {
  Bytes b = WaveFormat(1, 2, 44100, 176400, 2, 16);
  EXPECT_EQ(Messages(AudioHarness().Dump(b)),
            (std::vector<std::string>{
                "*** Warning: PCM AvgBytesPerSec should be SamplesPerSec * BlockAlign!",
                "*** Warning: PCM BlockAlign should be Channels * BitsPerSample / 8!",
            }));
  AviStreamHeader stream = AudioStream(1, 44100, 4, 441000);
  EXPECT_TRUE(Has(AudioHarness().Dump(b, &stream),
                  "*** Warning: BlockAlign should equal StreamHeader SampleSize!"));
}

TEST(AviAudioFormatDumperPcm, BitsDurationAgreesForEveryPcmLayout) {
  struct Layout {
    AviStreamHeader stream;
    Bytes format;
  } layouts[] = {
      {AudioStream(1, 44100, 4, 441000), WaveFormat(1, 2, 44100, 176400, 4, 16)},
      {AudioStream(4, 176400, 4, 441000), WaveFormat(1, 2, 44100, 176400, 4, 16)},
      {AudioStream(1, 44100, 0, 441000), WaveFormat(1, 2, 44100, 176400, 4, 16)},
      {AudioStream(1, 8000, 1, 80000), WaveFormat(1, 1, 8000, 8000, 1, 8)},
      {AudioStream(1, 48000, 18, 480000), WaveFormat(0xFFFE, 6, 48000, 864000, 18, 24)},
      {AudioStream(1, 96000, 16, 96000), WaveFormat(0xFFFE, 4, 96000, 1536000, 16, 32)},
  };
  for (Layout& layout : layouts) {
    std::vector<std::string> lines = AudioHarness().Dump(layout.format, &layout.stream);
    EXPECT_FALSE(HasText(lines, "Length")) << lines[0] << " rate " << layout.stream.rate;
  }
}

TEST(AviAudioFormatDumperPcm, StreamHeaderDisagreeingWithFormat) {
  AviStreamHeader stream = AudioStream(1, 22050, 4, 441000);  // claims half the sample rate
  Bytes b = WaveFormat(1, 2, 44100, 176400, 4, 16);
  EXPECT_EQ(Messages(AudioHarness().Dump(b, &stream)),
            (std::vector<std::string>{
                "*** Warning: Stream Rate / Scale: 22050!",
                "*** Warning: AvgBytesPerSec Length 0:00:10:00 (22050.00 fps)!",
                "*** Warning: BitsPerSample Length 0:00:10:00 (22050.00 fps)!",
            }));
}

TEST(AviAudioFormatDumperPcm, OddValuesAndZeroDivisors) {
  AviStreamHeader stream = AudioStream(0, 0, 0, 1000);
  Bytes b = WaveFormat(1, 0, 0, 0, 0, 12);
  std::vector<std::string> messages = Messages(AudioHarness().Dump(b, &stream));
  EXPECT_TRUE(Has(messages, "*** Error: Illegal BlockAlign detected."));
  EXPECT_TRUE(Has(messages, "*** Warning: PCM BitsPerSamples should be 8 or 16!"));
  EXPECT_FALSE(HasText(messages, "Length"));
  // A compressed format with no channels has no unit to be a multiple of.
  Bytes adpcm = WaveFormat(0x11, 0, 22050, 11100, 512, 4);
  adpcm.U16(0);
  EXPECT_TRUE(Messages(AudioHarness().Dump(adpcm)).empty());
  // Blocks of samples stored as they are (A-law) must hold whole samples;
  // compressed formats state the bits of their decoded samples only.
  Bytes misaligned = WaveFormat(0x6, 2, 8000, 16000, 3, 8);
  misaligned.U16(0);
  EXPECT_EQ(Messages(AudioHarness().Dump(misaligned)),
            std::vector<std::string>{
                "*** Warning: BlockAlign should be a multiple of Channels * BitsPerSample / 8!"});
  Bytes compressed = WaveFormat(0x11, 2, 22050, 11100, 513, 4);
  compressed.U16(0);
  EXPECT_TRUE(Messages(AudioHarness().Dump(compressed)).empty());
}

// ---------------------------------------------------------------------------
// Compressed formats

TEST(AviAudioFormatDumperMp3, VariableBitrateBlockAlign) {
  Bytes b = WaveFormat(0x55, 2, 44100, 16000, 1152, 0);
  b.U16(12).U16(1).U32(2).U16(1152).U16(1).U16(1393);
  AviStreamHeader fixed = AudioStream(1152, 44100, 1, 100);
  std::vector<std::string> lines = AudioHarness().Dump(b, &fixed);
  std::vector<std::string> messages = Messages(lines);
  EXPECT_TRUE(Has(messages, "*** Info: Presumably variable Bitrate MP3."));
  EXPECT_TRUE(
      Has(messages, "*** Error: StreamHeader SampleSize should be 0 for variable Bitrate MP3."));
  std::vector<std::string> tail(lines.end() - 6, lines.end());
  EXPECT_EQ(tail, (std::vector<std::string>{
                      "16 Size: 12",
                      "18 Id: 1 (MPEG)",
                      "20 Flags: 0x00000002 (Padding Off)",
                      "24 BlockSize: 1152",
                      "26 FramesPerBlock: 1",
                      "28 CodecDelay: 1393",
                  }));
  AviStreamHeader variable = AudioStream(1152, 44100, 0, 100);
  messages = Messages(AudioHarness().Dump(b, &variable));
  EXPECT_TRUE(Has(messages, "*** Info: Presumably variable Bitrate MP3."));
  EXPECT_FALSE(HasText(messages, "SampleSize"));
  Bytes cbr = WaveFormat(0x55, 2, 44100, 16000, 1, 0);
  cbr.U16(12).U16(1).U32(7).U16(417).U16(1).U16(0);
  lines = AudioHarness().Dump(cbr);
  EXPECT_TRUE(Messages(lines).empty());
  EXPECT_TRUE(Has(lines, "20 Flags: 0x00000007 (undefined)"));
}

TEST(AviAudioFormatDumperMpeg, ExtensionLinesCarryTheirOffsets) {
  Bytes b = WaveFormat(0x50, 2, 44100, 24000, 1, 0);
  b.U16(22).U16(2).U32(0).U16(1).U16(1).U16(2).U16(0x18).U32(0).U32(0);
  std::vector<std::string> lines = AudioHarness(2).Dump(b);
  std::vector<std::string> tail(std::find(lines.begin(), lines.end(), "18 headLayer: 2 (Layer2)"),
                                lines.end());
  EXPECT_EQ(tail, (std::vector<std::string>{
                      "18 headLayer: 2 (Layer2)",
                      "20 HeadBitrate: 0 Variable",
                      "24 headMode: 1 (Stereo)",
                      "26 HeadModeExt: 1",
                      "*** Warning: HeadModeExt should only be set for ACM_MPEG_JOINTSTEREO!",
                      "28 HeadEmphasis: 2 (50/15 ms emphasis)",
                      "30 HeadFlags: 0x0018",
                      "  + ProtectionBit",
                      "  + ID MPEG1",
                      "32 PTSLow: 0",
                      "36 PTSHigh: 0",
                  }));
  EXPECT_FALSE(HasText(lines, "Unknown MPEG1WAVEFORMAT"));
  b.data[16] = 20;  // extension size that does not fit the structure
  EXPECT_TRUE(
      Has(AudioHarness().Dump(b), "*** Warning: Unknown MPEG1WAVEFORMAT Size, expected 40!"));
}

TEST(AviAudioFormatDumperAdpcm, CoefficientsAndTheirCount) {
  const int16_t pairs[6][2] = {{256, 0}, {512, -256}, {0, 0}, {192, 64}, {240, 0}, {460, -208}};
  Bytes b = WaveFormat(2, 1, 22050, 11155, 512, 4);
  b.U16(28).U16(1012).U16(6);
  for (const auto& pair : pairs)
    b.U16(static_cast<uint16_t>(pair[0])).U16(static_cast<uint16_t>(pair[1]));
  std::vector<std::string> lines = AudioHarness(3).Dump(b);
  EXPECT_EQ(Messages(lines),
            (std::vector<std::string>{"*** Error: At least 7 coefficients expected!"}));
  EXPECT_EQ(lines.back(),
            "22 Coefficients: (256, 0) (512, -256) (0, 0) (192, 64) (240, 0) (460, -208)");
  EXPECT_FALSE(HasText(AudioHarness(2).Dump(b), "Coefficients"));

  // Seven coefficients announced, two present: only whole pairs are shown.
  Bytes cut = WaveFormat(2, 1, 22050, 11155, 512, 4);
  cut.U16(32).U16(1012).U16(7).U32(256).U32(512).U16(9);
  lines = AudioHarness(3).Dump(cut);
  EXPECT_TRUE(Has(lines, "*** Warning: Unknown ADPCMWAVEFORMAT Size, expected 50!"));
  EXPECT_EQ(lines.back(), "22 Coefficients: (256, 0) (512, 0)");
  // A huge count in a short body.
  cut.data[20] = 0xFF;
  cut.data[21] = 0xFF;
  lines = AudioHarness(3).Dump(cut);
  EXPECT_TRUE(Has(lines, "*** Warning: Unknown ADPCMWAVEFORMAT Size, expected 262162!"));
}

// ---------------------------------------------------------------------------
// WAVEFORMATEXTENSIBLE

Bytes Extensible(uint16_t bits, uint16_t valid, uint32_t mask, uint16_t subTag) {
  Bytes b = WaveFormat(0xFFFE, 2, 48000, 192000, 4, bits);
  b.U16(22).U16(valid).U32(mask);
  return TagGuid(b, subTag);
}

TEST(AviAudioFormatDumperExtensible, ChannelMasks) {
  std::vector<std::string> lines = AudioHarness(2).Dump(Extensible(16, 16, 0x3, 1));
  std::vector<std::string> tail(std::find(lines.begin(), lines.end(), "18 ValidBitsPerSample: 16"),
                                lines.end());
  EXPECT_EQ(tail, (std::vector<std::string>{
                      "18 ValidBitsPerSample: 16",
                      "20 ChannelMask: 0x00000003",
                      "  + Speaker Front Left",
                      "  + Speaker Front Right",
                      "24 SubFormat GUID: {00000001-0000-0010-8000-00aa00389b71} PCM",
                  }));
  EXPECT_TRUE(Messages(lines).empty());

  lines = AudioHarness(3).Dump(Extensible(16, 16, 0x3, 1));
  EXPECT_TRUE(Has(lines, "  - Speaker Front Center"));
  EXPECT_TRUE(Has(lines, "  - Speaker Top Back Right"));

  lines = AudioHarness(1).Dump(Extensible(16, 16, 0x100 | 0x200, 1));
  EXPECT_TRUE(Has(lines, "  + Speaker Back Center"));
  EXPECT_FALSE(HasText(lines, "Side Left"));  // shown from verbosity 2

  lines = AudioHarness(3).Dump(Extensible(16, 16, 0xFFFFFFFF, 1));
  EXPECT_TRUE(Has(lines, "  All Channel Configurations supported"));
  EXPECT_FALSE(HasText(lines, "Speaker"));
}

TEST(AviAudioFormatDumperExtensible, SampleDetailAndSubFormats) {
  std::vector<std::string> lines = AudioHarness().Dump(Extensible(16, 20, 0x3, 0x2000));
  EXPECT_TRUE(Has(lines,
                  "*** Error: ValidBitsPerSample must be less or equal BitsPerSample and "
                  "BitsPerSample a multiple of 8 bits!"));
  EXPECT_TRUE(Has(lines, "24 SubFormat GUID: {00002000-0000-0010-8000-00aa00389b71} (AC3)"));

  lines = AudioHarness().Dump(Extensible(0, 0, 0x3, 3));
  EXPECT_TRUE(Has(lines, "18 SamplesPerBlock: 0 (Variable)"));
  EXPECT_TRUE(Has(lines, "24 SubFormat GUID: {00000003-0000-0010-8000-00aa00389b71} IEEE FLOAT"));

  Bytes other = Extensible(24, 24, 0x3, 1);
  other.data[28] = 0x11;  // Data2 no longer 0000: not a wrapped tag
  lines = AudioHarness().Dump(other);
  EXPECT_TRUE(Has(lines, "24 SubFormat GUID: {00000001-0011-0010-8000-00aa00389b71}"));
  EXPECT_TRUE(Has(lines, "*** Warning: PCM BlockAlign should be Channels * BitsPerSample / 8!"));
}

// ---------------------------------------------------------------------------
// Other tags and cut bodies

TEST(AviAudioFormatDumperOther, ExtensionBytesFromVerbosityThree) {
  Bytes b = WaveFormat(0x31, 1, 8000, 1625, 65, 0);
  b.U16(2).U16(320);
  EXPECT_FALSE(HasText(AudioHarness(2).Dump(b), "18 Bytes:"));
  std::vector<std::string> lines = AudioHarness(3).Dump(b);
  std::vector<std::string> tail(lines.end() - 3, lines.end());
  EXPECT_EQ(tail, (std::vector<std::string>{"18 Bytes:", "  \"@.\"", "  \"40 1 \""}));
  EXPECT_EQ(lines.front(), "00 FormatTag: 49 (GSM610)");
}

TEST(AviAudioFormatDumperOther, TruncatedBodiesReadOnlyWhatIsThere) {
  Bytes full[] = {
      WaveFormat(1, 2, 44100, 176400, 4, 16),      WaveFormat(2, 1, 22050, 11155, 512, 4),
      WaveFormat(0x50, 2, 44100, 24000, 1, 0),     WaveFormat(0x55, 2, 44100, 16000, 1152, 0),
      WaveFormat(0xFFFE, 2, 48000, 192000, 4, 16), WaveFormat(0x31, 1, 8000, 1625, 65, 0),
  };
  for (Bytes& b : full) {
    b.U16(0xFFFF);  // every extension claims the most it can
    while (b.data.size() < 60) b.U8(0xFF);
  }
  AviStreamHeader stream = AudioStream(1, 44100, 4, 441000);
  for (const Bytes& b : full) {
    for (size_t size = 0; size <= b.data.size(); ++size) {
      Bytes cut;
      cut.data.assign(b.data.begin(), b.data.begin() + size);
      for (uint32_t verbosity : {0u, 3u}) {
        AudioHarness(verbosity).Dump(cut, &stream);
        AudioHarness(verbosity).Dump(cut, nullptr);
      }
    }
  }
  std::vector<std::string> lines =
      AudioHarness().Dump(Bytes().U16(1).U16(2).U32(44100).U32(0).U16(4).U16(16).U8(0));
  EXPECT_TRUE(Has(lines, "*** Warning: Unknown Token Size!"));
  EXPECT_TRUE(Has(lines, "16 Size: 0"));
  EXPECT_FALSE(HasText(lines, "Wrong size"));
  EXPECT_TRUE(AudioHarness().Dump(Bytes()) ==
              std::vector<std::string>{"*** Warning: Unknown Token Size!"});
}

}  // namespace
