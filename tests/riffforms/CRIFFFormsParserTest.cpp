// The audio and music forms: hand-built files of every kind of chunk, files
// of real producers, and damaged files.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "app/FormatProbe.h"
#include "riffforms/CRIFFFormsParser.h"

namespace {

using testsupport::Be16;
using testsupport::Be32;
using testsupport::BodyBuilder;
using testsupport::Bytes;
using testsupport::ChunkBuilder;
using testsupport::Concat;
using testsupport::Le16;
using testsupport::Le32;
using testsupport::TextBytes;
using Lines = std::vector<std::string>;

const ChunkBuilder kRiff(ChunkBuilder::Layout::Riff);
// IFF pads its chunks as RIFX does, and is big-endian throughout.
const ChunkBuilder kIff(ChunkBuilder::Layout::Rifx);


// PCM, 2 channels, 8000 Hz, 16 bits, in the layout's byte order.
Bytes PcmFormat(const ChunkBuilder& layout, bool bigEndian) {
  if (bigEndian) {
    return layout.Chunk("fmt ",
                        Concat({Be16(1), Be16(2), Be32(8000), Be32(32000), Be16(4), Be16(16)}));
  }
  return layout.Chunk("fmt ", BodyBuilder().U16(1).U16(2).U32(8000).U32(32000).U16(4).U16(16).data);
}

Bytes Fill(size_t n, uint8_t value = 0) { return Bytes(n, value); }

// Little-endian 32-bit words.
Bytes Words(std::initializer_list<uint32_t> words) {
  Bytes bytes;
  for (uint32_t word : words) bytes = Concat({bytes, Le32(word)});
  return bytes;
}

Bytes Midi(uint16_t format, uint16_t tracks, uint16_t division, uint32_t headerSize = 6) {
  const Bytes track = {0x00, 0x90, 60, 64, 0x60, 0x80, 60, 0, 0x00, 0xFF, 0x2F, 0x00};
  Bytes header = Concat({Be16(format), Be16(tracks), Be16(division)});
  header.resize(headerSize);
  const ChunkBuilder midi(ChunkBuilder::Layout::Iff);
  return Concat({midi.Chunk("MThd", header), midi.Chunk("MTrk", track)});
}

// Every chunk a WAVE form describes, in one file.
Bytes EveryWaveChunk() {
  return kRiff.Riff(
      "WAVE",
      {PcmFormat(kRiff, false), kRiff.Chunk("fact", Le32(1234)),
       kRiff.Chunk("cue ", Concat({Words({1, 7, 0}), TextBytes("data"), Words({0, 0, 9})})),
       kRiff.Chunk("plst", Words({1, 7, 100, 2})),
       kRiff.Chunk("smpl", BodyBuilder().Zeros(28).U32(1).U32(0).U32(7).U32(1).Zeros(16).data),
       kRiff.Chunk("inst", {60, 0, 0, 0, 127, 0, 127}),
       kRiff.Chunk("wsmp", Concat({Le32(20), Le16(60), Le16(0), Words({0, 2, 1, 16, 0, 5, 50})})),
       kRiff.Chunk("mark",
                   Concat({Le16(1), Le16(3), BodyBuilder().U32(5).data, {2}, TextBytes("m1")})),
       kRiff.Chunk("wavh", BodyBuilder().Zeros(8).U32(1).data),
       kRiff.Chunk("bext", Concat({TextBytes("Desc"), Fill(598)})),
       kRiff.Chunk("cart", Concat({Fill(2048), TextBytes("tag")})),
       kRiff.Chunk("mpeg", Fill(12, 0x55)),
       kRiff.List("adtl",
                  {kRiff.Chunk("labl", Concat({Le32(7), TextBytes("Intro"), {0}})),
                   kRiff.Chunk("note", Concat({Le32(7), TextBytes("n"), {0}})),
                   kRiff.Chunk("ltxt", BodyBuilder().U32(7).U32(10).Tag("rgn ").Zeros(9).data),
                   kRiff.Chunk("file", BodyBuilder().U32(7).Tag("TEXT").U8(1).data)}),
       kRiff.List("wavl", {kRiff.Chunk("data", Fill(8)), kRiff.Chunk("slnt", Le32(400))}),
       kRiff.List("INFO", {kRiff.Chunk("INAM", TextBytes("Song"))}),
       kRiff.Chunk("data", Fill(16))});
}

Bytes Aiff() {
  const Bytes rate44100 = {0x40, 0x0E, 0xAC, 0x44, 0, 0, 0, 0, 0, 0};
  return kIff.Container("FORM", "AIFF",
                        {kIff.Chunk("COMM", Concat({Be16(1), {0, 0, 0, 8}, Be16(16), rate44100})),
                         kIff.Chunk("NAME", TextBytes("abc")),
                         kIff.Chunk("APPL", TextBytes("pdosDATA")), kIff.Chunk("SSND", Fill(24))});
}

Bytes Rmid() {
  return kRiff.Riff("RMID", {kRiff.Chunk("data", Midi(1, 1, 96)),
                             kRiff.List("INFO", {kRiff.Chunk("ICOP", TextBytes("me"))})});
}

Bytes Nested(int depth) {
  Bytes form = kIff.Container("FORM", "AIFF", {kIff.Chunk("SSND", Fill(4))});
  for (int i = 0; i < depth; ++i) form = kIff.Container("FORM", "    ", {form});
  return form;
}

struct FormCase {
  const char* name;
  Bytes bytes;
  Lines present;
  Lines absent;
};

TEST(CRIFFFormsParser, FormsChunksAndVerdicts) {
  const std::string kClean = "*** ";
  const FormCase cases[] = {
      {"wave pcm",
       kRiff.Riff("WAVE", {PcmFormat(kRiff, false), kRiff.Chunk("fact", Le32(1234)),
                           kRiff.Chunk("data", Fill(16))}),
       Lines{"WAVE StreamFormat Chunk", "02 Channels: 2", "04 Samples/sec (fps): 8000",
             "00 FileSize: 1234", "WAVE Data Chunk",
             "This is a valid RIFF file of type .WAV (Wave)."},
       Lines{kClean}},
      {"rifx wave is big-endian throughout",
       ChunkBuilder(ChunkBuilder::Layout::Rifx)
           .Riff("WAVE", {PcmFormat(kIff, true), kIff.Chunk("data", Fill(16))}),
       Lines{"02 Channels: 2", "04 Samples/sec (fps): 8000", "14 Bits/Sample: 16",
             "This is a valid RIFF file in Network byte order of type .WAV (Wave)."},
       Lines{kClean}},
      {"every described wave chunk", EveryWaveChunk(),
       Lines{"SampleOffset: 9", "Repeats: 2", "Type: 1 (Alternating)", "04 HighNote: 127",
             "Options: 2 (No Compression)", "'wsmp' Entries Item #1", "MarkerName: \"m1\"",
             "Flags: 1 (DMUS_WAVEF_STREAMING)", "Description: \"Desc\"", "TagText: \"tag\"",
             "WAVE EBU MPEG-extension data Chunk", "Text: \"Intro\"", "WAVE LabelText Chunk",
             "WAVE File Chunk", "Samples: 400", "Text: \"Song\"", ".WAV (Wave)."},
       Lines{kClean, "'wsmp' Entries Item #2"}},
      {"a list of type RIFF ends the form",
       kRiff.Riff("WAVE", {kRiff.List("RIFF", {}), kRiff.Chunk("data", Fill(4))}),
       Lines{"*** Error: Unexpected Token, recovered!"}, Lines{"WAVE Data Chunk"}},
      {"tail of three bytes", Concat({kRiff.Riff("WAVE", {kRiff.Chunk("data", Fill(4))}), Fill(3)}),
       Lines{"*** Error: File Size mismatch (3)!"}, Lines{}},
      {"unknown chunk in a wave form",
       kRiff.Riff("WAVE", {kRiff.Chunk("zzzz", Fill(3)), kRiff.Chunk("data", Fill(4))}),
       Lines{"*** Warning: Unexpected Token!", "WAVE Data Chunk"}, Lines{"Error"}},
      {"aiff", Aiff(),
       Lines{"08 SampleRate: 44100", "AIFF Name Chunk", "ApplicationSignature: 0x736f6470 'pdos'",
             "AIFF Sound Data Chunk",
             "This is a valid RIFF file in Network byte order of type AIFF (Audio Interchange)."},
       Lines{kClean}},
      {"8svx",
       kIff.Container("FORM", "8SVX", {kIff.Chunk("VHDR", Fill(20)), kIff.Chunk("BODY", Fill(9))}),
       Lines{"8SVX Header Chunk", "8SVX Body Chunk", "of type 8SVX (8-Bit Sampled Sound)."},
       Lines{kClean}},
      {"bag with lists and a nested form",
       kIff.Container("FORM", "    ",
                      {kIff.Container("PROP", "AIFF", {kIff.Chunk("xxxx", {})}),
                       kIff.Chunk("LIST", {1, 2}), Aiff()}),
       Lines{"Interchange File Format Bag Chunk", "'AIFF': IFF List",
             "*** Warning: Unexpected Token!", "Audio Interchange File Format Chunk"},
       Lines{"Error"}},
      {"midi file", Midi(1, 1, 96),
       Lines{"00 Format: 1 Type: Simultaneous Multitrack", "02 Tracks: 1", "04 Division: 96 PPQN",
             "Midi Track Chunk", "in Network byte order of type (Unknown)."},
       Lines{kClean}},
      {"midi format 0 with two tracks, smpte division", Midi(0, 2, 0xE728),
       Lines{"*** Error: Unexpected number of Tracks for TYPE 0 Midi!",
             "04 Division: 25 frames per second/40 subframes per frame"},
       Lines{}},
      {"midi header cut short", Midi(3, 1, 96, 4),
       Lines{"00 Format: 3 (undefined)", "*** Warning: Unknown Token Size!", "02 Tracks: 1",
             "Midi Track Chunk"},
       Lines{"04 Division"}},
      {"rmid restores the riff rules behind its midi data", Rmid(),
       Lines{"RMID Data Chunk", "04 Division: 96 PPQN", "00 Text: \"me\"",
             "This is a valid RIFF file of type .MID (Midi)."},
       Lines{kClean}},
      {"force feedback effect", kRiff.Riff("FORC", {Fill(16), kRiff.Chunk("JUNK", Fill(4))}),
       Lines{"*** Fatal: This is not a standard RIFF File Format!", "RIFF Junk"},
       Lines{"Chunk Size mismatch", "Error"}},
      {"forms nested too deeply", Nested(300),
       Lines{"*** Error: Lists nested too deeply, skipped!"}, Lines{"Fatal"}},
  };
  RunOptions options;
  options.report.verbosity = 3;
  for (const FormCase& c : cases) {
    SCOPED_TRACE(c.name);
    const auto run = testsupport::RunParserOnBytes<CRIFFFormsParser>(c.bytes, options);
    EXPECT_TRUE(run.result);
    testsupport::ExpectTexts(run.Body(), c.present, c.absent);
  }
}

// Cut at every length and with hostile size words, the walk ends cleanly
// and quickly.
TEST(CRIFFFormsParser, DamagedFilesEndCleanly) {
  RunOptions options;
  options.report.verbosity = 3;
  const auto start = std::chrono::steady_clock::now();
  for (const Bytes& whole : {EveryWaveChunk(), Aiff(), Rmid(), Midi(1, 1, 96)}) {
    for (size_t cut = 0; cut < whole.size(); cut += cut < 128 ? 1 : 61) {
      testsupport::RunParserOnBytes<CRIFFFormsParser>(Bytes(whole.begin(), whole.begin() + cut),
                                                      options);
    }
    for (size_t at = 4; at + 4 <= whole.size(); at += at < 256 ? 4 : 124) {
      for (uint32_t size : {0xFFFFFFFFu, 0x7FFFFFFFu, 3u, 0u}) {
        Bytes hostile = whole;
        for (int i = 0; i < 4; ++i) hostile[at + i] = static_cast<uint8_t>(size >> (8 * i));
        testsupport::RunParserOnBytes<CRIFFFormsParser>(hostile, options);
      }
    }
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));
}

// Files of real producers, made where every program of the command is
// installed; $OUT names the file, the last one it writes is parsed.
TEST(CRIFFFormsParser, ProducerFiles) {
  const std::string sine = "ffmpeg -v error -f lavfi -i sine=d=0.2 -ar 8000 ";
  const std::string sox = "sox -n -r 8000 -b ";
  const std::string gst = "gst-launch-1.0 -q audiotestsrc num-buffers=3 ";
  const std::pair<std::string, Lines> cases[] = {
      {sine + "-c:a pcm_u8 -metadata title=T $OUT.wav", {"Bits/Sample: 8", "Info", "(Wave)."}},
      {sine + "-c:a adpcm_ms $OUT.wav", {"WAVE Fact Chunk"}},
      {sine + "-c:a pcm_s16le -write_bext 1 $OUT.wav", {"WAVE EBU BWF Chunk"}},
      {sine + "-c:a pcm_s16be $OUT.aiff", {"08 SampleRate: 8000", "AIFF (Audio"}},
      {sine + "-c:a pcm_s16le $OUT.aiff", {"CompressionType: 'sowt'"}},
      {sine + "-c:a pcm_f32be $OUT.aiff", {"CompressionType: 'fl32'"}},
      {sox + "16 -c 2 -B $OUT.wav synth 0.1 sine 440",
       Lines{"02 Channels: 2", "04 Samples/sec (fps): 8000", "Network byte order of type .WAV"}},
      {sox + "16 $OUT.aiff synth 0.1 sine 440", {"08 SampleRate: 8000"}},
      {sox + "16 $OUT.aifc synth 0.1 sine 440", {"CompressionType: 'NONE'"}},
      {sox + "8 $OUT.8svx synth 0.1 sine 440", {"8SVX Body Chunk"}},
      {gst + "samplesperbuffer=333 ! audio/x-raw,rate=8000,channels=1,format=U8 ! wavenc ! "
             "filesink location=$OUT.wav",
       Lines{"*** Warning: Pad byte missing after odd-sized Chunk!", ".WAV (Wave)."}},
      {gst + "! audio/x-raw,rate=8000,channels=1,format=S16BE ! aiffmux ! filesink "
             "location=$OUT.aiff",
       Lines{"08 SampleRate: 8000"}},
      {"ffmpeg -v error -f lavfi -i testsrc=d=0.2:s=64x48:r=25 -f lavfi -i sine=d=0.2 -ar 32000 "
       "-c:v mjpeg -pix_fmt yuvj422p -c:a pcm_s16le -shortest $OUT.avi && lav2wav $OUT.avi "
       ">$OUT.wav",
       Lines{"04 Samples/sec (fps): 32000", "WAVE Data Chunk"}},
  };
  testsupport::ScratchDir dir;
  RunOptions options;
  options.report.verbosity = 3;
  int made = 0;
  for (const auto& [pattern, present] : cases) {
    SCOPED_TRACE(pattern);
    bool installed = true;
    for (const char* tool : {"ffmpeg", "sox", "gst-launch-1.0", "lav2wav"}) {
      if (pattern.find(tool) != std::string::npos) installed &= testsupport::Installed(tool);
    }
    if (!installed) continue;
    const std::string out = dir.File(std::to_string(made++));
    std::string command = pattern;
    for (size_t at; (at = command.find("$OUT")) != std::string::npos;) command.replace(at, 4, out);
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    const size_t last = pattern.rfind("$OUT") + 4;
    const std::string path = out + pattern.substr(last, pattern.find(' ', last) - last);
    const auto run = testsupport::RunParserOnFile<CRIFFFormsParser>(path, options);
    testsupport::ExpectTexts(run.Body(), present, {"Error", "Fatal"});
  }
  if (made == 0) GTEST_SKIP() << "no producer installed";
}

TEST(CRIFFFormsParser, Wave64IsNotARiffForm) {
  if (!testsupport::Installed("ffmpeg")) GTEST_SKIP() << "ffmpeg not installed";
  testsupport::ScratchDir dir;
  const std::string path = dir.File("a.w64");
  const std::string command = "ffmpeg -v error -f lavfi -i sine=d=0.1 -f w64 " + path;
  ASSERT_EQ(std::system(command.c_str()), 0);
  const Bytes bytes = testsupport::ReadFile(path);
  uint8_t probe[FormatProbe::kProbeSize] = {};
  std::copy(bytes.begin(), bytes.begin() + FormatProbe::kProbeSize, probe);
  EXPECT_EQ(FormatProbe::ChooseRow(probe, RunOptions()), ProbeRow::kUnrecognised);
}

}  // namespace
