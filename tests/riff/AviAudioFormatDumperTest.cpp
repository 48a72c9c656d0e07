#include <gtest/gtest.h>

#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "core/CParser.h"
#include "core/FourCC.h"
#include "riff/AviAudioFormatDumper.h"

namespace {

using Bytes = testsupport::BodyBuilder;
using Lines = std::vector<std::string>;

Bytes WaveFormat(uint16_t tag, uint16_t channels, uint32_t rate, uint32_t avg, uint16_t align,
                 uint16_t bits) {
  return Bytes().U16(tag).U16(channels).U32(rate).U32(avg).U16(align).U16(bits);
}

Bytes With(Bytes b, const std::vector<uint16_t>& words) {
  for (uint16_t word : words) b.U16(word);
  return b;
}

// WAVEFORMATEXTENSIBLE with the subformat GUID {0000xxxx-0000-0010-8000-00aa00389b71}.
Bytes Extensible(uint16_t bits, uint16_t valid, uint32_t mask, uint16_t subTag) {
  Bytes b = With(WaveFormat(0xFFFE, 2, 48000, 192000, 4, bits), {22, valid});
  b.U32(mask).U32(subTag).U16(0).U16(0x10);
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

// Dumps an exact copy of the body: no byte beyond it is addressable.
Lines Dump(const Bytes& b, const AviStreamHeader* header, uint32_t verbosity = 2) {
  std::ostringstream out;
  std::ostringstream err;
  ReportOutput output(out, err, ConsoleState{});
  RunOptions options;
  options.report.verbosity = verbosity;
  testsupport::MemoryParser parser(options, output);
  std::vector<uint8_t> body(b.data);
  AviAudioFormatDumper(parser, header).Dump(body.data(), static_cast<uint32_t>(body.size()), 0);
  output.Flush();
  return testsupport::SplitLines(out.str());
}

// Rows: body, stream, verbosity, all messages ({""} none, {} unchecked), present, absent.
TEST(AviAudioFormatDumper, FormatsAndTheirChecks) {
  const std::string pcmSize = "*** Warning: Unknown PCMWAVEFORMAT Size, expected 16!";
  const std::string align = "*** Warning: PCM BlockAlign should be Channels * BitsPerSample / 8!";
  const Bytes pcm = WaveFormat(1, 1, 8000, 8000, 1, 8);
  Bytes waveFormat = pcm;
  waveFormat.data.resize(14);  // a plain WAVEFORMAT: no bits per sample
  const Bytes stereo = WaveFormat(1, 2, 44100, 176400, 4, 16);
  const Bytes stereoAlign2 = WaveFormat(1, 2, 44100, 176400, 2, 16);
  const Bytes mp3 = With(WaveFormat(0x55, 2, 44100, 16000, 1152, 0), {12, 1, 2, 0, 1152, 1, 1393});
  Bytes mpeg =
      With(WaveFormat(0x50, 2, 44100, 24000, 1, 0), {22, 2, 0, 0, 1, 1, 2, 0x18, 0, 0, 0, 0});
  Bytes mpegWrongSize = mpeg;
  mpegWrongSize.data[16] = 20;  // an extension size that does not fit the structure
  const Bytes adpcm = With(WaveFormat(2, 1, 22050, 11155, 512, 4),
                           {28, 1012, 6, 256, 0, 512, 0xff00, 0, 0, 192, 64, 240, 0, 460, 0xff30});
  // Seven coefficients announced, two present: only whole pairs are shown.
  const Bytes adpcmCut =
      With(WaveFormat(2, 1, 22050, 11155, 512, 4), {32, 1012, 7, 256, 0, 512, 0, 9});
  Bytes adpcmHuge = adpcmCut;
  adpcmHuge.data[20] = adpcmHuge.data[21] = 0xFF;
  Bytes otherGuid = Extensible(24, 24, 0x3, 1);
  otherGuid.data[28] = 0x11;  // Data2 no longer 0000: not a wrapped tag
  const Bytes gsm = With(WaveFormat(0x31, 1, 8000, 1625, 65, 0), {2, 320});
  const AviStreamHeader pcmStream = AudioStream(1, 44100, 4, 441000);
  const std::optional<AviStreamHeader> none;
  const struct {
    const char* name;
    Bytes format;
    std::optional<AviStreamHeader> stream;
    uint32_t verbosity;
    Lines messages;
    Lines present = {};
    Lines absent = {};
  } rows[] = {
      {"PCM of 16 bytes", pcm, none, 2, Lines{""},
       Lines{"00 FormatTag: 1 (PCM)", "04 Samples/sec (fps): 8000", "14 Bits/Sample: 8"}},
      {"PCM with an empty extension", With(pcm, {0}), none, 2, Lines{""}, Lines{"16 Size: 0"}},
      {"PCM with an extension", With(pcm, {2, 0}), none, 2, Lines{pcmSize}},
      {"PCM claiming a longer extension", With(pcm, {4}), none, 2,
       Lines{"*** Warning: Wrong size in AVIHeaderFormat, should be 0!"}},
      {"plain WAVEFORMAT", waveFormat, none, 2, Lines{}, Lines{pcmSize},
       Lines{"Unknown Token Size!", "Bits/Sample"}},
      {"block align 2 for stereo 16 bits", stereoAlign2, none, 2,
       Lines{"*** Warning: PCM AvgBytesPerSec should be SamplesPerSec * BlockAlign!", align}},
      {"block align against the sample size", stereoAlign2, pcmStream, 2, Lines{},
       Lines{"*** Warning: BlockAlign should equal StreamHeader SampleSize!"}},
      {"stream header at half the rate", stereo, AudioStream(1, 22050, 4, 441000), 2,
       Lines{"*** Warning: Stream Rate / Scale: 22050!",
             "*** Warning: AvgBytesPerSec Length 0:00:10:00 (22050.00 fps)!",
             "*** Warning: BitsPerSample Length 0:00:10:00 (22050.00 fps)!"}},
      {"zero divisors", WaveFormat(1, 0, 0, 0, 0, 12), AudioStream(0, 0, 0, 1000), 2, Lines{},
       Lines{"*** Error: Illegal BlockAlign detected.",
             "*** Warning: PCM BitsPerSamples should be 8 or 16!"},
       Lines{"Length"}},
      {"16-bit stereo by samples", stereo, pcmStream, 2, Lines{""}, Lines{}, Lines{"Length"}},
      // Other PCM layouts whose length by their bits agrees with the stream header.
      {"16-bit stereo by bytes", stereo, AudioStream(4, 176400, 4, 441000), 2, Lines{""}, Lines{},
       Lines{"Length"}},
      {"16-bit stereo, no sample size", stereo, AudioStream(1, 44100, 0, 441000), 2, Lines{},
       Lines{}, Lines{"Length"}},
      {"six channels of 24 bits", WaveFormat(0xFFFE, 6, 48000, 864000, 18, 24),
       AudioStream(1, 48000, 18, 480000), 2, Lines{}, Lines{}, Lines{"Length"}},
      // Stored samples with no channels have no unit to be a multiple of.
      {"A-law of no channels", With(WaveFormat(0x6, 0, 8000, 0, 3, 8), {0}), none, 2, Lines{},
       Lines{}, Lines{"multiple"}},
      // Stored samples (A-law) fill whole blocks; compressed formats need not.
      {"A-law misaligned", With(WaveFormat(0x6, 2, 8000, 16000, 3, 8), {0}), none, 2,
       Lines{"*** Warning: BlockAlign should be a multiple of Channels * BitsPerSample / 8!"}},
      {"ADPCM odd block", With(WaveFormat(0x11, 2, 22050, 11100, 513, 4), {0}), none, 2, Lines{""}},
      {"MP3 with a sample size", mp3, AudioStream(1152, 44100, 1, 100), 2, Lines{},
       Lines{"*** Info: Presumably variable Bitrate MP3.",
             "*** Error: StreamHeader SampleSize should be 0 for variable Bitrate MP3.",
             "20 Flags: 0x00000002 (Padding Off)", "28 CodecDelay: 1393"}},
      {"MP3 variable", mp3, AudioStream(1152, 44100, 0, 100), 2,
       Lines{"*** Info: Presumably variable Bitrate MP3."}},
      {"MP3 constant", With(WaveFormat(0x55, 2, 44100, 16000, 1, 0), {12, 1, 7, 0, 417, 1, 0}),
       none, 2, Lines{""}, Lines{"20 Flags: 0x00000007 (undefined)"}},
      {"MPEG", mpeg, none, 2,
       Lines{"*** Warning: HeadModeExt should only be set for ACM_MPEG_JOINTSTEREO!"},
       Lines{"20 HeadBitrate: 0 Variable", "26 HeadModeExt: 1", "30 HeadFlags: 0x0018",
             "  + ProtectionBit", "  + ID MPEG1", "36 PTSHigh: 0"}},
      {"MPEG of another size", mpegWrongSize, none, 2, Lines{},
       Lines{"*** Warning: Unknown MPEG1WAVEFORMAT Size, expected 40!"}},
      {"ADPCM coefficients", adpcm, none, 3, Lines{"*** Error: At least 7 coefficients expected!"},
       Lines{"22 Coefficients: (256, 0) (512, -256) (0, 0) (192, 64) (240, 0) (460, -208)"}},
      {"ADPCM cut", adpcmCut, none, 3, Lines{},
       Lines{"*** Warning: Unknown ADPCMWAVEFORMAT Size, expected 50!",
             "22 Coefficients: (256, 0) (512, 0)"}},
      {"ADPCM huge count", adpcmHuge, none, 3, Lines{},
       Lines{"*** Warning: Unknown ADPCMWAVEFORMAT Size, expected 262162!"}},
      {"extensible", Extensible(16, 16, 0x3, 1), none, 2, Lines{""},
       Lines{"18 ValidBitsPerSample: 16", "20 ChannelMask: 0x00000003", "  + Speaker Front Left",
             "  + Speaker Front Right",
             "24 SubFormat GUID: {00000001-0000-0010-8000-00aa00389b71} PCM"},
       Lines{"  - Speaker"}},
      {"extensible at verbosity 1", Extensible(16, 16, 0x300, 1), none, 1, Lines{},
       Lines{"  + Speaker Back Center"}, Lines{"Side Left"}},
      {"every channel", Extensible(16, 16, 0xFFFFFFFF, 1), none, 3, Lines{},
       Lines{"  All Channel Configurations supported"}, Lines{"Speaker"}},
      {"valid bits over the bits", Extensible(16, 20, 0x3, 0x2000), none, 2, Lines{},
       Lines{"*** Error: ValidBitsPerSample must be less or equal BitsPerSample and BitsPerSample "
             "a multiple of 8 bits!",
             "24 SubFormat GUID: {00002000-0000-0010-8000-00aa00389b71} (AC3)"}},
      {"samples per block", Extensible(0, 0, 0x3, 3), none, 2, Lines{},
       Lines{"18 SamplesPerBlock: 0 (Variable)",
             "24 SubFormat GUID: {00000003-0000-0010-8000-00aa00389b71} IEEE FLOAT"}},
      {"other GUID", otherGuid, none, 2, Lines{},
       Lines{"24 SubFormat GUID: {00000001-0011-0010-8000-00aa00389b71}", align}},
      {"GSM extension", gsm, none, 3, Lines{}, Lines{"18 Bytes:", "  \"@.\"", "  \"40 1 \""}},
      {"a byte too many", WaveFormat(1, 2, 44100, 0, 4, 16).U8(0), none, 2, Lines{},
       Lines{"*** Warning: Unknown Token Size!", "16 Size: 0"}, Lines{"Wrong size"}},
      {"empty", Bytes(), none, 2, Lines{"*** Warning: Unknown Token Size!"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const Lines lines = Dump(row.format, row.stream ? &*row.stream : nullptr, row.verbosity);
    Lines messages;
    for (const std::string& line : testsupport::MessageLines(lines)) {
      messages.push_back(line.substr(line.find("*** ")));
    }
    if (row.messages == Lines{""}) {
      EXPECT_EQ(messages, Lines());
    } else if (!row.messages.empty()) {
      EXPECT_EQ(messages, row.messages);
    }
    testsupport::ExpectTexts(lines, row.present, row.absent);
  }
}

TEST(AviAudioFormatDumper, TruncatedBodiesReadOnlyWhatIsThere) {
  const AviStreamHeader stream = AudioStream(1, 44100, 4, 441000);
  for (Bytes b :
       {WaveFormat(1, 2, 44100, 176400, 4, 16), WaveFormat(2, 1, 22050, 11155, 512, 4),
        WaveFormat(0x50, 2, 44100, 24000, 1, 0), WaveFormat(0x55, 2, 44100, 16000, 1152, 0),
        WaveFormat(0xFFFE, 2, 48000, 192000, 4, 16), WaveFormat(0x31, 1, 8000, 1625, 65, 0)}) {
    b.U16(0xFFFF);  // every extension claims the most it can
    b.data.resize(60, 0xFF);
    for (size_t size = 0; size <= b.data.size(); ++size) {
      const Bytes cut{{b.data.begin(), b.data.begin() + size}};
      for (uint32_t verbosity : {0u, 3u}) {
        Dump(cut, &stream, verbosity);
        Dump(cut, nullptr, verbosity);
      }
    }
  }
}

}  // namespace
