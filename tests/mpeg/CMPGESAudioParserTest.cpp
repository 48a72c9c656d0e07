// MPEG audio frames: hand-built headers of every version and layer, frames
// cut across payloads, lost syncs, Xing/Info headers, and streams of real
// encoders fed in blocks and in small packets.

#include <gtest/gtest.h>

#include <cstddef>
#include <sstream>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "mpeg/CMPGESAudioParser.h"

namespace {

using testsupport::Bytes;
using testsupport::Concat;
using testsupport::ExpectTexts;
using testsupport::HasText;
using testsupport::MessageLines;
using Lines = std::vector<std::string>;

// One audio parser with its owner, its report kept in memory.
struct Harness {
  std::ostringstream out, err;
  ReportOutput output{out, err, ConsoleState()};
  CMPGParser owner;
  CMPGParser::CMPGESAudioParser parser{owner};

  explicit Harness(uint32_t traceLimit = 1000, uint32_t verbosity = 2)
      : owner(Options(traceLimit, verbosity), output) {}
  static RunOptions Options(uint32_t traceLimit, uint32_t verbosity) {
    RunOptions options;
    options.report.moviTraceLimit = traceLimit;
    options.report.verbosity = verbosity;
    return options;
  }
  // `bytes` handed in as pieces that end at `cuts` and at the end.
  Harness& Feed(const Bytes& bytes, std::vector<size_t> cuts = {}, bool packetized = true) {
    cuts.push_back(bytes.size());
    size_t from = 0;
    for (size_t cut : cuts) {
      parser.Parse(bytes.data() + from, cut - from, 1000 + from, packetized, 1);
      from = cut;
    }
    return *this;
  }
  Lines Report() {
    output.Flush();
    return testsupport::SplitLines(out.str());
  }
};

Bytes Be32(uint32_t v) { return {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)}; }

// A frame of `length` bytes: the header, then zeros.
Bytes Frame(uint32_t header, size_t length) {
  Bytes frame = Be32(header);
  frame.resize(length);
  return frame;
}

constexpr uint32_t kMpeg1Layer3 = 0xFFFB9000;  // 128 kbit/s, 44100 Hz, stereo: 417 bytes

TEST(CMPGESAudioParserTest, FrameLengthFollowsVersionLayerAndRates) {
  struct Row {
    const char* name;
    uint32_t header;
    size_t length;
    const char* field;
  } rows[] = {
      {"MPEG-1 Layer III", kMpeg1Layer3, 417, "Layer Description: Layer III"},
      {"padded", 0xFFFB9200, 418, "Padding (Bytes): 1"},
      {"MPEG-2 Layer III", 0xFFF38000, 208, "Sample Rate: 22050 Hz"},
      {"MPEG-1 Layer I, padded", 0xFFFF1A00, 52, "Padding (Bytes): 4"},
      {"MPEG-2.5 Layer III", 0xFFE31800, 72, "Audio Version: Version 2.5"},
      {"MPEG-1 Layer II with CRC", 0xFFFCE4C0, 1152, "Channel Mode: 3 (Single Channel)"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Harness h;
    Lines lines =
        h.Feed(Concat({Frame(row.header, row.length), Frame(row.header, row.length)})).Report();
    ExpectTexts(lines, {"0xfff# (" + std::to_string(row.length) + "): Audio Frame #2", row.field,
                        "Frame Size: " + std::to_string(row.length) + " (incl. header)"});
    EXPECT_TRUE(MessageLines(lines).empty());
    EXPECT_EQ(h.parser.chunks, 2u);
    EXPECT_EQ(h.owner.GetFileType(), CMPGParser::kMpegAudio);
  }
}

// Bytes that are no frame: a header with a code no length can be computed
// from, junk, an ID3v1 tag, frames past the trace limit.
TEST(CMPGESAudioParserTest, BytesThatAreNoFrameAreSkipped) {
  const Bytes frame = Frame(kMpeg1Layer3, 417);
  Bytes tag = testsupport::TextBytes("TAG");
  tag.resize(128, 0xFF);
  const Bytes junk = Concat({Bytes{1, 2, 0xFF, 0xFF, 3, 4}, frame});
  const Bytes tagged = Concat({frame, tag, frame});
  auto bad = [&](uint32_t header) { return Concat({Frame(header, 24), frame}); };
  const Lines resynced = {"Skipping (24)", "Frame #2"};
  struct Row {
    const char* name;
    Bytes stream;
    std::vector<size_t> cuts;
    Lines present;
    const char* warning;  // the one message, nullptr for none
    uint32_t chunks;
    uint32_t traceLimit = 1000;
  } rows[] = {
      {"free format", bad(0xFFFB0000), {}, resynced, "Unexpected Audio Bitrate Token!", 2},
      {"bit rate 15", bad(0xFFFBF000), {}, resynced, "Unexpected Audio Bitrate Token!", 2},
      {"sample rate 3", bad(0xFFFB9C00), {}, resynced, "Unexpected Audio Samplerate Token!", 2},
      {"layer 0", bad(0xFFF99000), {}, resynced, "Unexpected Audio Layer Token!", 2},
      {"version 1", bad(0xFFEB9000), {}, resynced, "Unexpected Audio Version Token!", 2},
      {"junk", junk, {}, {"Skipping (6)", "Frame #1"}, "No Audio Frame Header found", 1},
      {"junk, header cut after 2 bytes",
       junk,
       {8},
       {"Skipping (5)", "Skipping (1)", "Frame #1"},
       "No Audio Frame Header found",
       1},
      {"junk cut after 3 bytes", junk, {3}, {"Skipping (6)"}, "No Audio Frame Header found", 1},
      {"ID3v1 tag", tagged, {}, {"'TAG ' (128): ID3v1-Tag", "Frame #2"}, nullptr, 2},
      {"ID3v1 tag cut", tagged, {477}, {"'TAG ' (128): ID3v1-Tag", "Frame #2"}, nullptr, 2},
      // The traced frame, then one chunk per payload, none taken for a lost sync.
      {"trace limit",
       Concat({frame, frame, frame}),
       {500},
       {"Skipping (83)", "Skipping (751)"},
       nullptr,
       3,
       1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Harness h(row.traceLimit);
    Lines lines = h.Feed(row.stream, row.cuts).Report();
    ExpectTexts(lines, row.present);
    const Lines messages = MessageLines(lines);
    ASSERT_EQ(messages.size(), row.warning ? 1u : 0u);
    if (row.warning) {
      EXPECT_NE(messages[0].find(row.warning), std::string::npos);
    }
    EXPECT_EQ(h.parser.chunks, row.chunks);
  }
}

// Bytes kept from one payload keep their own file position.
TEST(CMPGESAudioParserTest, HeaderCutInJunkIsShownAtItsPositions) {
  Harness h(1000, 3);
  const Bytes stream = Concat({Bytes{1, 2, 0xFF, 0xFF, 3, 4}, Frame(kMpeg1Layer3, 417)});
  ExpectTexts(h.Feed(stream, {8}).Report(), {"Skipping (S:5, P:1000)", "Skipping (S:1, P:1005)",
                                             "(S:417, P:1006): Audio Frame #1"});
}

TEST(CMPGESAudioParserTest, FrameSplitAcrossPayloadsIsJoined) {
  const Bytes stream = Concat({Frame(kMpeg1Layer3, 417), Frame(kMpeg1Layer3, 417)});
  struct Row {
    const char* name;
    std::vector<size_t> cuts;
    bool packetized;
    Lines present, absent;
  } rows[] = {
      {"two packets",
       {100},
       true,
       {"Frame Size (remaining): 417 (100 present) (incl. header)", "Buffered (317)"},
       {"Buffering"}},
      {"three packets", {100, 200}, true, {"Buffering (100)", "Buffered (217)"}, {}},
      {"file blocks", {100, 200}, false, {"Frame Size: 417"}, {"Buffer", "remaining"}},
      {"cut in the header", {2}, true, {"Audio Frame #2"}, {"Buffer", "Skipping"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Harness h;
    Lines lines = h.Feed(stream, row.cuts, row.packetized).Report();
    ExpectTexts(lines, row.present, row.absent);
    EXPECT_TRUE(MessageLines(lines).empty());
    EXPECT_EQ(h.parser.chunks, 2u);
    EXPECT_EQ(h.parser.packets, row.cuts.size() + 1);
  }
}

TEST(CMPGESAudioParserTest, StreamEndTellsWhatStillWaits) {
  const Bytes frame = Frame(kMpeg1Layer3, 417);
  struct Row {
    const char* name;
    Bytes stream;
    const char* text;
  } rows[] = {
      {"a cut frame", Concat({frame, Bytes(frame.begin(), frame.begin() + 100)}),
       "0xfff# (100): Audio Frame #2 cut by the end of the stream (417 bytes long)"},
      {"a cut header", Concat({frame, Bytes{0xFF, 0xFB}}), "Skipping (2)"},
      {"a cut ID3v1 tag", Concat({frame, testsupport::TextBytes("TAG title")}), "Skipping (9)"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Harness h;
    h.Feed(row.stream);
    h.parser.Finish(1);
    Lines lines = h.Report();
    ExpectTexts(lines, {row.text});
    EXPECT_TRUE(MessageLines(lines).empty());
  }
}

TEST(CMPGESAudioParserTest, XingHeaderIsReadInsideItsFrameOnly) {
  Bytes toc(100);
  for (size_t i = 0; i < toc.size(); ++i) toc[i] = uint8_t(i);
  const Bytes fields = Concat({Be32(0x0F), Be32(1234), Be32(56789), toc, Be32(57)});
  auto tagged = [&](uint32_t header, size_t length, size_t at, const char* tag) {
    Bytes frame = Frame(header, at);
    frame.insert(frame.end(), tag, tag + 4);
    frame.insert(frame.end(), fields.begin(), fields.end());
    frame.resize(length);
    if (length > 6) frame[4] = 0xBE, frame[5] = 0xEF;
    return frame;
  };
  struct Row {
    const char* name;
    Bytes frame;
    Lines present, absent;
  } rows[] = {
      {"MPEG-1 stereo",
       tagged(kMpeg1Layer3, 417, 36, "Xing"),
       {"Xing Flags: 0x0000000f", "Xing Frames: 1234", "Xing Bytes: 56789",
        "Xing TOC:", "QualityIndicator: 57"},
       {"CRC:", "Error"}},
      {"MPEG-2 mono with CRC, Info",
       tagged(0xFFF280C0, 208, 15, "Info"),
       {"CRC: 0xbeef", "Xing Frames: 1234", "QualityIndicator: 57"},
       {}},
      {"cut by a short frame",
       tagged(0xFFFB1400, 96, 36, "Xing"),
       {"Xing Bytes: 56789", "Error: Xing header runs past the end of its frame!"},
       {"Xing TOC:", "QualityIndicator:"}},
      {"not after the side information", tagged(kMpeg1Layer3, 417, 35, "Xing"), {}, {"Xing"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Harness h;
    ExpectTexts(h.Feed(row.frame, {50}).Report(), row.present, row.absent);
  }
}

TEST(CMPGESAudioParserTest, HostilePayloadsEndWithoutFault) {
  uint32_t seed = 12345;
  auto next = [&seed] { return seed = seed * 1664525u + 1013904223u; };
  for (int round = 0; round < 200; ++round) {
    Bytes bytes(1 + next() % 3000);
    for (uint8_t& b : bytes)
      b = (next() >> 24) % 3 ? uint8_t(0xE0 | next() >> 27) : uint8_t(next());
    Harness h;
    h.Feed(bytes, {bytes.size() / 3, bytes.size() / 2}, round % 2 == 0);
    EXPECT_EQ(h.parser.packets, 3u);
  }
}

// Frames of real encoders; the file's ID3v2 tag is left out as the owner does.
TEST(CMPGESAudioParserTest, EncodedStreamsCountEveryFrame) {
  if (!testsupport::Installed("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
  struct Row {
    const char* name;
    const char* arguments;
    uint32_t xingFrames;
    const char* field;
  } rows[] = {
      {"a.mp2", "-c:a mp2 -b:a 192k", 0, "Layer Description: Layer II"},
      {"a.mp3", "-c:a libmp3lame", 1, "Audio Version: Version 1"},
      {"b.mp3", "-ar 8000 -c:a libmp3lame", 1, "Audio Version: Version 2.5"},
  };
  testsupport::ScratchDir dir;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string path = dir.File(row.name);
    testsupport::RunCommand("ffmpeg -v error -f lavfi -i sine=frequency=440:duration=3 " +
                            std::string(row.arguments) + " " + path);
    const uint32_t packets = uint32_t(std::stoul(testsupport::RunCommand(
        "ffprobe -v error -count_packets -show_entries stream=nb_read_packets -of csv=p=0 " +
        path)));
    Bytes file = testsupport::ReadFile(path);
    if (file.size() > 10 && testsupport::TokenAt(file, 0).substr(0, 3) == "ID3") {
      size_t tag = 10 + (file[6] << 21 | file[7] << 14 | file[8] << 7 | file[9]);
      file.erase(file.begin(), file.begin() + std::ptrdiff_t(tag));
    }
    // One block of the file, blocks that cut frames, and small packets.
    for (size_t piece : {size_t(1) << 20, size_t(4000), size_t(184)}) {
      std::vector<size_t> cuts;
      for (size_t at = piece; at < file.size(); at += piece) cuts.push_back(at);
      Harness h(100000);
      Lines lines = h.Feed(file, cuts, piece == 184).Report();
      EXPECT_EQ(h.parser.chunks, packets + row.xingFrames);
      EXPECT_TRUE(MessageLines(lines).empty());
      ExpectTexts(lines, {row.field});
      EXPECT_EQ(HasText(lines, "Xing Flags:"), row.xingFrames > 0);
    }
  }
}

}  // namespace
