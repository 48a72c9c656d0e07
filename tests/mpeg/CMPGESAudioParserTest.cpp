// MPEG audio frames: hand-built headers of every version and layer, frames
// cut across payloads, lost syncs, Xing/Info headers, and streams of real
// encoders fed whole and in pieces.

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "mpeg/CMPGESAudioParser.h"

namespace {

using testsupport::Be32;
using testsupport::Bytes;
using testsupport::Concat;
using Lines = std::vector<std::string>;
using Cuts = std::vector<size_t>;

// A stream cut into payloads, and the chunks, texts and message its walk gives.
struct Case {
  const char* name;
  Bytes stream;
  uint32_t chunks;
  Lines present;
  const char* message = nullptr;  // the one warning or error
  Cuts cuts = {};
  Lines absent = {};
  bool packetized = true;
  uint32_t traceLimit = 1000;
};

// Feeds an audio parser the stream in pieces that end at the cuts and at the
// end, then ends the stream, and checks the report: kept in memory, with the
// sizes and positions of chunks.
void Check(const Case& c) {
  SCOPED_TRACE(c.name);
  std::ostringstream out, err;
  ReportOutput output{out, err, ConsoleState()};
  RunOptions options;
  options.report.moviTraceLimit = c.traceLimit;
  options.report.verbosity = 3;
  CMPGParser owner(options, output);
  CMPGParser::CMPGESAudioParser parser{owner};
  size_t from = 0;
  for (size_t cut : c.cuts) {
    parser.Parse(c.stream.data() + from, cut - from, 1000 + from, c.packetized, 1);
    from = cut;
  }
  parser.Parse(c.stream.data() + from, c.stream.size() - from, 1000 + from, c.packetized, 1);
  parser.Finish(1);
  output.Flush();
  const Lines lines = testsupport::SplitLines(out.str());
  testsupport::ExpectTexts(lines, c.present, c.absent);
  const Lines messages = testsupport::MessageLines(lines);
  EXPECT_EQ(messages.size(), c.message ? 1u : 0u);
  if (c.message) testsupport::ExpectTexts(messages, {c.message});
  EXPECT_EQ(parser.chunks, c.chunks);
  EXPECT_EQ(owner.GetFileType(), CMPGParser::kMpegAudio);
}


// A frame of `length` bytes: the header, then zeros.
Bytes Frame(uint32_t header, size_t length) { return Concat({Be32(header), Bytes(length - 4)}); }

constexpr uint32_t kMpeg1Layer3 = 0xFFFB9000;  // 128 kbit/s, 44100 Hz, stereo: 417 bytes
const Bytes kFrame = Frame(kMpeg1Layer3, 417);

// Frames follow where the length of the last says; payload cuts in frames,
// headers and tags; bytes that are no frame (a header with a code no length
// can be computed from, junk, an ID3v1 tag) and frames past the trace limit
// are skipped; what still waits at the end is told.
TEST(CMPGESAudioParserTest, StreamsAreWalkedFrameByFrame) {
  auto two = [](uint32_t header, size_t n) { return Concat({Frame(header, n), Frame(header, n)}); };
  const Bytes frames = two(kMpeg1Layer3, 417);
  const Bytes junk = Concat({Bytes{1, 2, 0xFF, 0xFF, 3, 4}, kFrame});
  const Bytes tag = Concat({testsupport::TextBytes("TAG"), Bytes(125, 0xFF)});
  auto bad = [](uint32_t header) { return Concat({Frame(header, 24), kFrame}); };
  const Lines resynced = {"Skipping (S:24, P:1000)", "(S:417, P:1024): Audio Frame #2"};
  const Lines first = {"(S:417, P:1000): Audio Frame #1", "Layer III"};
  const char* const lost = "No Audio Frame Header found";
  const Case cases[] = {
      {"padded", two(0xFFFB9200, 418), 2, Lines{"Frame Size: 418", "Padding (Bytes): 1"}},
      {"MPEG-2 Layer III", two(0xFFF38029, 208), 2, Lines{"(S:208, P:1208)", "Emphasis: 1"}},
      {"Layer I, padded", two(0xFFFF1A00, 52), 2, Lines{"(S:52, P:1052)", "Padding (Bytes): 4"}},
      {"MPEG-2.5 Layer III", two(0xFFE31800, 72), 2, Lines{"(S:72, P:1072)", "Version 2.5"}},
      {"Layer II, CRC", two(0xFFFCE4C0, 1152), 2, Lines{"(S:1152, P:2152)", "Single Channel"}},
      {"packets", frames, 2,
       Lines{"(100 present)", "Buffering (S:100, P:1100)", "Buffered (S:217, P:1200)"}, nullptr,
       Cuts{100, 200}},
      {"blocks", frames, 2, first, nullptr, Cuts{100, 200}, Lines{"Buffer", "remaining"}, false},
      {"cut in the header", frames, 2, first, nullptr, Cuts{2}, Lines{"Buffer", "Skipping"}},
      {"free format", bad(0xFFFB0000), 2, resynced, "Unexpected Audio Bitrate Token!"},
      {"bit rate 15", bad(0xFFFBF000), 2, resynced, "Unexpected Audio Bitrate Token!"},
      {"sample rate 3", bad(0xFFFB9C00), 2, resynced, "Unexpected Audio Samplerate Token!"},
      {"layer 0", bad(0xFFF99000), 2, resynced, "Unexpected Audio Layer Token!"},
      {"version 1", bad(0xFFEB9000), 2, resynced, "Unexpected Audio Version Token!"},
      {"junk, header cut", junk, 1,
       Lines{"Skipping (S:5, P:1000)", "Skipping (S:1, P:1005)", "(S:417, P:1006)"}, lost, Cuts{8}},
      {"ID3v1 tag cut", Concat({kFrame, tag, kFrame}), 2,
       Lines{"'TAG ' (S:128, P:1417)", "(S:417, P:1545)"}, nullptr, Cuts{477}},
      // One chunk per payload past the traced frame: none taken for a lost sync.
      {"trace limit", Concat({kFrame, kFrame, kFrame}), 3,
       Lines{"Skipping (S:83, P:1417)", "(S:751, P:1500)"}, nullptr, Cuts{500}, Lines(), true, 1},
      {"cut header", Concat({kFrame, Bytes{0xFF, 0xFB}}), 1, Lines{"Skipping (S:2, P:1417)"}},
      // Encoders and muxers do leave a last frame short: told, not warned of.
      {"cut frame", Concat({kFrame, Bytes(kFrame.begin(), kFrame.begin() + 100)}), 2,
       Lines{"(S:100, P:1417): Audio Frame #2 cut by the end of the stream (417 bytes long)"}},
  };
  for (const Case& c : cases) Check(c);
}

TEST(CMPGESAudioParserTest, XingHeaderIsReadInsideItsFrameOnly) {
  const Bytes fields = Concat({Be32(0x0F), Be32(1234), Be32(56789), Bytes(100), Be32(57)});
  auto tagged = [&](uint32_t header, size_t length, size_t at, const char* tag) {
    Bytes frame = Concat({Frame(header, at), testsupport::TextBytes(tag), fields});
    frame.resize(length);
    frame[4] = 0xBE, frame[5] = 0xEF;
    return frame;
  };
  const Case cases[] = {
      {"MPEG-1 stereo", tagged(kMpeg1Layer3, 417, 36, "Xing"), 1,
       Lines{"Xing Frames: 1234", "QualityIndicator: 57"}, nullptr, Cuts{50}, Lines{"CRC:"}},
      {"Info, CRC", tagged(0xFFF280C0, 208, 15, "Info"), 1, Lines{"CRC: 0xbeef", "Indicator: 57"}},
      {"short frame", tagged(0xFFFB1400, 96, 36, "Xing"), 1,
       Lines{"Xing Flags: 0x0000000f", "Xing Bytes: 56789"}, "runs past the end of its frame",
       Cuts(), Lines{"TOC", "Quality"}},
      {"early", tagged(kMpeg1Layer3, 417, 35, "Xing"), 1, Lines(), nullptr, Cuts(), Lines{"Xing"}},
  };
  for (const Case& c : cases) Check(c);
}

TEST(CMPGESAudioParserTest, HostilePayloadsEndWithoutFault) {
  uint32_t seed = 12345;
  auto next = [&seed] { return seed = seed * 1664525u + 1013904223u; };
  for (int round = 0; round < 200; ++round) {
    Bytes bytes(1 + next() % 3000);
    // Two bytes in three of 0xE0 and above: syncs and near-syncs abound.
    for (uint8_t& b : bytes) b = (next() >> 24) % 3 ? 0xE0 | next() >> 27 : next();
    std::ostringstream out, err;
    ReportOutput output{out, err, ConsoleState()};
    CMPGParser owner(RunOptions(), output);
    CMPGParser::CMPGESAudioParser parser{owner};
    const size_t at[] = {0, bytes.size() / 3, bytes.size() / 2, bytes.size()};
    for (int i = 0; i < 3; ++i) parser.Parse(&bytes[at[i]], at[i + 1] - at[i], at[i], round % 2, 1);
    parser.Finish(1);
    EXPECT_EQ(parser.packets, 3u);
  }
}

// Frames of real encoders, counted as ffprobe counts them plus the Xing
// frame, in one block and in pieces: 184-byte packets or 4000-byte blocks.
TEST(CMPGESAudioParserTest, EncodedStreamsCountEveryFrame) {
  if (!testsupport::Installed("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
  struct Row {
    const char *name, *arguments;
    uint32_t piece, xingFrames;
    Lines present;
  } rows[] = {
      {"a.mp2", "-c:a mp2 -b:a 192k", 184, 0, {"Layer II"}},
      {"a.mp3", "-c:a libmp3lame", 4000, 1, {"Version 1", "Xing Flags:"}},
      {"b.mp3", "-ar 8000 -c:a libmp3lame", 184, 1, {"Version 2.5", "Xing Flags:"}},
  };
  testsupport::ScratchDir dir;
  for (const Row& row : rows) {
    const std::string path = dir.File(row.name);
    // Without an ID3v2 tag, which the owner leaves out before the frames.
    testsupport::RunCommand("ffmpeg -v error -f lavfi -i sine=d=3 -id3v2_version 0 " +
                            std::string(row.arguments) + " " + path);
    const uint32_t packets = std::stoul(testsupport::RunCommand(
        "ffprobe -v 0 -count_packets -show_entries stream=nb_read_packets -of csv=p=0 " + path));
    const Bytes file = testsupport::ReadFile(path);
    for (size_t piece : {file.size(), size_t(row.piece)}) {
      SCOPED_TRACE(piece);
      Cuts cuts;
      for (size_t at = piece; at < file.size(); at += piece) cuts.push_back(at);
      Check({row.name, file, packets + row.xingFrames, row.present, nullptr, cuts, Lines(),
             piece == 184});
    }
  }
}

}  // namespace
