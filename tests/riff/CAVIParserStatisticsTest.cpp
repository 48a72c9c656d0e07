// The statistics block after the last segment: real encoder files (the
// counts of their chunks and index entries are known from the recipes) and
// built files whose headers disagree with their data in one way each.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "AviIndexTestFiles.h"
#include "TestSupport.h"
#include "core/FourCC.h"
#include "riff/CAVIParser.h"

namespace {

using avitest::Chunk;
using avitest::Idx1Kind;
using avitest::Layout;
using testsupport::Bytes;
using testsupport::Concat;
using testsupport::Le16;
using testsupport::Le32;
using testsupport::ParseRun;
using testsupport::TextBytes;
using testsupport::Trimmed;
using Lines = std::vector<std::string>;

// The statistics block: the "Statistics" line and everything under it.
Lines StatisticsOf(const ParseRun& run) {
  Lines block;
  for (size_t i = 0; i < run.lines.size(); ++i) {
    if (Trimmed(run.lines[i]) != "Statistics") continue;
    const size_t indent = run.lines[i].find_first_not_of(' ');
    block.push_back(run.lines[i]);
    for (size_t j = i + 1; j < run.lines.size(); ++j) {
      const size_t next = run.lines[j].find_first_not_of(' ');
      if (next == std::string::npos || next <= indent) break;
      block.push_back(run.lines[j]);
    }
    break;
  }
  return block;
}

// The lines of one stream within the block.
Lines StreamBlock(const Lines& statistics, size_t stream) {
  const std::string header = "      AVIStreamHeader #" + std::to_string(stream);
  Lines block;
  bool inside = false;
  for (const std::string& line : statistics) {
    if (line == header) {
      inside = true;
      continue;
    }
    if (inside && line.compare(0, 8, "        ") != 0) break;
    if (inside) block.push_back(line);
  }
  return block;
}

bool Contains(const Lines& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

struct Outcome {
  ParseRun run;
  Lines statistics;
  bool interleaved = false;
  std::vector<uint32_t> initialFrames;
};

Outcome ParseBytes(const Bytes& bytes, const RunOptions& options = RunOptions()) {
  Outcome outcome;
  outcome.run = testsupport::RunParserOnBytes<CAVIParser>(
      bytes, options,
      [&](CAVIParser& parser) {
        outcome.interleaved = parser.Model().interleaved;
        for (const AviStream& stream : parser.Model().streams) {
          outcome.initialFrames.push_back(stream.initialFrames);
        }
      },
      "clip.avi");
  outcome.statistics = StatisticsOf(outcome.run);
  return outcome;
}

Outcome ParseLayout(const Layout& layout, const RunOptions& options = RunOptions()) {
  return ParseBytes(avitest::Build(layout).bytes, options);
}

Outcome ParseSample(const std::string& file) {
  std::ifstream in(std::string(CLIPSMITH_TEST_DATA) + "/avi/" + file, std::ios::binary);
  return ParseBytes(Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()));
}

// Four video frames and four audio chunks of one second of 16000 bytes/s,
// headers in agreement with them.
Layout TwoStreams() {
  return avitest::VideoAudioLayout({{"00dc", 100}, {"01wb", 4000}, {"00dc", 90, false},
                                  {"01wb", 4000}, {"00dc", 110}, {"01wb", 4000},
                                  {"00dc", 95, false}, {"01wb", 4000}});
}

const char kTableHeader[] =
    "        Chunks detected, 'Idx1'-Index (KeyFrames) and ODML-Index Entries";

// ---------------------------------------------------------------------------
// Real files

struct Sample {
  const char* file;
  Lines statistics;
};

const Sample kSamples[] = {
    {"mjpeg_pcm.avi",
     {"    Statistics", "      AVIStreamHeader #0", kTableHeader,
      "          '00dc': 5 (Dropped: 0), 'Idx1': 5 (Key: 5), ODML: 0!", "      AVIStreamHeader #1",
      kTableHeader, "          '01wb': 4 (Dropped: 0), 'Idx1': 4 (Key: 4), ODML: 0!",
      // 16-bit PCM counts its length in samples of the sample size, and half
      // a second of audio is measured over half a second: nothing to report.
      "        'auds'-Stream Payload Total Size in Bytes: 8000!"}},
    {"mpeg4_mp3.avi",
     {"    Statistics", "      AVIStreamHeader #0", kTableHeader,
      // One frame of size 0, also listed with length 0 in 'idx1'.
      "          '00dc': 26 (Dropped: 1), 'Idx1': 26 (Key: 3), ODML: 0!",
      "      AVIStreamHeader #1",
      // One audio chunk ahead of the video, which the header does not say.
      "        Initial Frames detected 1, AVIStreamHeader Initial Frames: 0!", kTableHeader,
      "          '01wb': 40 (Dropped: 0), 'Idx1': 40 (Key: 40), ODML: 0!",
      // Variable bit rate: the length counts the 40 chunks.
      "        'auds'-Stream Payload Total Size in Bytes: 4180!"}},
    // One stream has nothing to interleave with, whatever the flag says.
    {"rawvideo.avi",
     {"    Statistics", "      AVIStreamHeader #0", kTableHeader,
      "          '00dc': 5 (Dropped: 0), 'Idx1': 5 (Key: 5), ODML: 0!",
      "      No 'auds'-Stream detected!"}},
    {"audio_only.avi",
     {"    Statistics", "      AVIStreamHeader #0", kTableHeader,
      "          '00wb': 6 (Dropped: 0), 'Idx1': 6 (Key: 6), ODML: 0!",
      "        'auds'-Stream Payload Total Size in Bytes: 11026!",
      "      No 'vids'-Stream detected!"}},
};

class CAVIParserStatisticsSamplesTest : public ::testing::TestWithParam<Sample> {};

TEST_P(CAVIParserStatisticsSamplesTest, StateWhatTheFileHolds) {
  const Outcome outcome = ParseSample(GetParam().file);
  EXPECT_EQ(outcome.statistics, GetParam().statistics);
  for (const std::string& line : outcome.run.lines) {
    EXPECT_EQ(line.find("Not all Index Entries"), std::string::npos) << line;
    EXPECT_EQ(line.find("out of order"), std::string::npos) << line;
    EXPECT_EQ(line.find("Skew"), std::string::npos) << line;
  }
}

INSTANTIATE_TEST_SUITE_P(CAVIParserStatisticsSamples, CAVIParserStatisticsSamplesTest,
                         ::testing::ValuesIn(kSamples),
                         [](const ::testing::TestParamInfo<Sample>& info) {
                           const std::string name = info.param.file;
                           return name.substr(0, name.find('.'));
                         });

// An OpenDML file from the encoder: more than 1 GiB, so that it gets an
// 'AVIX' segment and its indexes. Writing it takes a few seconds and a
// gigabyte of scratch space, so it only runs when asked for.
TEST(CAVIParserStatisticsTest, AnEncoderOpenDmlFileIsCountedWhole) {
  if (std::getenv("CLIPSMITH_LARGE_TESTS") == nullptr) {
    GTEST_SKIP() << "set CLIPSMITH_LARGE_TESTS=1 to run";
  }
  testsupport::ScratchDir dir;
  const std::string path = dir.File("large.avi");
  // 15 s of 1920x1080 4:2:0 frames at 25 fps (3110400 bytes each) and 8 kHz
  // 16-bit mono PCM.
  const std::string command =
      "ffmpeg -hide_banner -loglevel error -y -f lavfi -i color=c=gray:size=1920x1080:rate=25 "
      "-f lavfi -i sine=frequency=440:sample_rate=8000 -t 15 -c:v rawvideo -pix_fmt yuv420p "
      "-c:a pcm_s16le -ac 1 -fflags +bitexact -flags +bitexact '" +
      path + "'";
  if (std::system(command.c_str()) != 0) GTEST_SKIP() << "ffmpeg not available";
  uint32_t videoInFirst = 0;
  uint32_t audioInFirst = 0;
  const ParseRun run =
      testsupport::RunParserOnFile<CAVIParser>(path, RunOptions(), [&](CAVIParser& parser) {
        for (const MoviEntry& entry : parser.Model().movi) {
          if (entry.segment != 1) continue;
          ++(entry.chunkId == FourCC("00dc") ? videoInFirst : audioInFirst);
        }
      });
  // 375 frames and 240000 audio bytes in 2048-byte chunks; 'idx1' covers
  // the first segment, one standard index per stream and segment the rest.
  const Lines statistics = StatisticsOf(run);
  EXPECT_EQ(StreamBlock(statistics, 0),
            (Lines{kTableHeader, "          'ix00': 2 (Dropped: 0), 'Idx1': 0 (Key: 0), ODML: 375!",
                   "          '00dc': 375 (Dropped: 0), 'Idx1': " + std::to_string(videoInFirst) +
                       " (Key: " + std::to_string(videoInFirst) + "), ODML: 0!",
                   "          'indx': 0 (Dropped: 0), 'Idx1': 0 (Key: 0), ODML: 2!"}));
  EXPECT_TRUE(
      Contains(StreamBlock(statistics, 1),
               "          '01wb': 118 (Dropped: 0), 'Idx1': " + std::to_string(audioInFirst) +
                   " (Key: " + std::to_string(audioInFirst) + "), ODML: 0!"));
  EXPECT_TRUE(Contains(StreamBlock(statistics, 1),
                       "        'auds'-Stream Payload Total Size in Bytes: 240000!"));
  EXPECT_GT(videoInFirst, 300u);
  for (const std::string& line : run.lines) {
    EXPECT_EQ(line.find("*** Error"), std::string::npos) << line;
  }
}

// ---------------------------------------------------------------------------
// Built files whose headers disagree with their data, one way each: the
// lines of the whole block (stream -1) or of one stream's block.

Layout Edited(Layout layout, const std::function<void(Layout&)>& edit) {
  edit(layout);
  return layout;
}

struct Row {
  const char* name;
  Layout layout;
  int stream;
  Lines present;
  Lines absent = {};
  RunOptions options = RunOptions();
};

TEST(CAVIParserStatisticsTest, HeadersAreSetAgainstWhatTheScanFound) {
  RunOptions verbose;
  verbose.report.verbosity = 3;
  RunOptions partial;
  partial.scan.moviParseLimit = 1;
  const std::string video = "'00dc': 4 (Dropped: 0), 'Idx1': 4 (Key: 2), ODML: 0!";
  const std::string audioTotal = "'auds'-Stream Payload Total Size in Bytes: 16000!";
  // Two frames in each chunk, found through an OpenDML index alone.
  Layout packed = avitest::VideoAudioLayout({{"00dc", 200}, {"00dc", 200}});
  packed.streams.resize(1);
  packed.mainFlags = 0x30;
  packed.odmlHeader = true;
  packed.idx1 = Idx1Kind::kNone;
  Bytes entries;
  for (uint32_t offset : {12u, 112u, 220u, 320u})
    entries = Concat({entries, Le32(offset), Le32(100)});
  packed.moviExtra = testsupport::ChunkBuilder().Chunk(
      "ix00", Concat({Le16(2), Bytes{0, 1}, Le32(4), TextBytes("00dc"),
                      Le32(static_cast<uint32_t>(avitest::Build(packed).moviTypePos)), Le32(0),
                      Le32(0), entries}));
  // Three dropped frames (size 0, listed with length 0) and a palette change
  // in a 24-bit stream whose header does not announce it.
  Layout palette = avitest::VideoAudioLayout(
      {{"00dc", 100}, {"00dc", 0}, {"00pc", 4}, {"00dc", 0}, {"00dc", 0}, {"00dc", 100}});
  palette.streams.resize(1);
  palette.totalFrames = palette.streams[0].length = 5;
  Layout many = TwoStreams();
  avitest::Stream text = many.streams[1];
  text.type = "txts";
  avitest::Stream unknown = many.streams[1];
  unknown.type = "xyzw";
  many.streams = {many.streams[0], many.streams[1], many.streams[0], many.streams[1], text,
                  unknown};
  const std::vector<Row> rows = {
      // 17028 bytes, 16395 of them payload; the junk is wasted.
      {"agreeing headers",
       Edited(TwoStreams(),
              [](Layout& l) {
                l.moviExtra = testsupport::ChunkBuilder().Chunk("JUNK", Bytes(100, 0));
              }),
       -1,
       {"      Overhead Size 633, approx. 4% (including wasted 108)", video,
        "'01wb': 4 (Dropped: 0), 'Idx1': 4 (Key: 4), ODML: 0!", audioTotal},
       {"Audio/Video", "Initial Frames", "Mismatching", "Max Frame Size"},
       verbose},
      {"interleaved without the flag",
       Edited(TwoStreams(), [](Layout& l) { l.mainFlags = 0x10; }),
       -1,
       {"      Audio/Video interleaved, but ISINTERLEAVED not set!"}},
      {"must-use-index flag on an ordered index",
       Edited(TwoStreams(), [](Layout& l) { l.mainFlags |= 0x20; }),
       -1,
       {"      Index does not define out-of-sequence/duplicate frames, but AVIF_MUSTUSEINDEX is "
        "set "
        "in AVIMainHeader!"}},
      {"several frames in a chunk",
       packed,
       -1,
       {"      This may be a low-overhead AVI (multiple frames in one chunk)!"},
       {"AVIF_MUSTUSEINDEX"}},
      {"standard indexes without super indexes",
       Edited(TwoStreams(),
              [](Layout& l) {
                l.standardIndexes = l.odmlHeader = true;
                l.superIndexes = false;
                l.odmlFrames = 4;
              }),
       0,
       {"        No 'indx'-Entries detected, but 'ix##'-Entries!",
        "        No 'indx'-Entries detected, but ODML-Header found!",
        "'ix00': 1 (Dropped: 0), 'Idx1': 0 (Key: 0), ODML: 4!", video}},
      {"super index alone",
       Edited(TwoStreams(),
              [](Layout& l) {
                l.streams[0].extra = testsupport::ChunkBuilder().Chunk(
                    "indx", Concat({Le16(4), Bytes{0, 0}, Le32(1), TextBytes("00dc"), Bytes(12, 0),
                                    Le32(0), Le32(0), Le32(16384), Le32(4)}));
              }),
       0,
       {"        'indx'-Entries detected, but no 'ix##'-Entries!",
        "        'indx'-Entries detected, but ODML-Header not found!"}},
      {"video counts",
       Edited(TwoStreams(),
              [](Layout& l) {
                l.totalFrames = 5;
                l.streams[0].length = 3;
                l.streams[0].suggestedBuffer = 110 + 17;
              }),
       0,
       {video, "        Video Frames detected: 4 AVIMainHeader Frames: 5!",
        "        Video Frames detected: 4 AVIStreamHeader Length: 3!",
        "        Max Frame Size detected: 110 SuggestedBufferSize: 127!"}},
      // With the OpenDML header its frame count is the one that counts; a
      // buffer 16 bytes above the largest frame is fine; the main header
      // counts the frames of the first segment.
      {"video counts with the OpenDML header",
       Edited(TwoStreams(),
              [](Layout& l) {
                l.totalFrames = 5;
                l.odmlHeader = true;
                l.odmlFrames = 7;
                l.streams[0].suggestedBuffer = 110 + 16;
              }),
       0,
       {"        Video Frames detected: 4 AVIExtHeader Frames: 7!",
        "        Video Frames detected in the first RIFF: 4 AVIMainHeader Frames: 5!"},
       {"Max Frame Size", "AVIStreamHeader Length"}},
      {"palette changes and dropped frames",
       palette,
       0,
       {"'00dc': 5 (Dropped: 3), 'Idx1': 5 (Key: 5), ODML: 0!",
        "'00pc': 1 (Dropped: 0), 'Idx1': 1 (Key: 1), ODML: 0!",
        "        Stream contains AVIPaletteChanges, but AVIStreamHeader-Flag is not set!",
        "        Stream contains AVIPaletteChanges, but there are more than 8-bit-colors in "
        "AVIStreamFormat-Header set!"}},
      {"palette flag without changes",
       Edited(TwoStreams(), [](Layout& l) { l.streams[0].flags = 0x10000; }),
       0,
       {"        Stream contains no AVIPaletteChanges, but AVIStreamHeader-Flag is set!"}},
      {"audio totals",
       Edited(TwoStreams(),
              [](Layout& l) {
                l.streams[1].length = 8001;
                l.streams[1].avgBytesPerSec = 15980;
              }),
       1,
       {audioTotal, "        Mismatching 'strh' Length: 8001 * Scale: 2 = 16002!",
        "        Avg Bytes/sec: 15998, StreamHeader Avg Bytes/sec: 15980!"}},
      // Ten bytes per second off is close enough.
      {"audio rate close enough",
       Edited(TwoStreams(), [](Layout& l) { l.streams[1].avgBytesPerSec = 15990; }),
       1,
       {audioTotal},
       {"Avg Bytes/sec", "Mismatching"}},
      // The product does not wrap.
      {"audio length times scale",
       Edited(TwoStreams(),
              [](Layout& l) { l.streams[1].length = l.streams[1].scale = 0xFFFFFFFF; }),
       1,
       {"        Mismatching 'strh' Length: 4294967295 * Scale: 4294967295 = "
        "18446744065119617025!"}},
      {"second video stream",
       many,
       2,
       {"        More than one 'vids'/'iavs'-Stream detected!",
        "        Detected no chunks at all for this stream!",
        "        Video Frames detected: 0 AVIMainHeader Frames: 4!",
        "        Max Frame Size detected: 0 SuggestedBufferSize: 110!"}},
      {"second audio stream", many, 3, {"        More than one 'auds'-Stream detected!"}},
      {"text stream",
       many,
       4,
       {"        Detected no chunks at all for this stream!",
        "        Nothing else known about 'txts'/'mids' Streams",
        "        Max Frame Size detected: 0 SuggestedBufferSize: 4000!"}},
      {"unknown stream",
       many,
       5,
       {"        Unknown stream type", "        Detected no chunks at all for this stream!"}},
      // Partial parsing leaves the tables and counts of video and audio out.
      {"partial parse",
       TwoStreams(),
       -1,
       {"AVIStreamHeader #1"},
       {kTableHeader, "Payload Total"},
       partial},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const Lines statistics = ParseLayout(row.layout, row.options).statistics;
    testsupport::ExpectTexts(row.stream < 0 ? statistics : StreamBlock(statistics, row.stream),
                             row.present, row.absent);
  }
}

TEST(CAVIParserStatisticsTest, InitialFramesAndInterleaving) {
  const Outcome together = ParseLayout(TwoStreams());
  EXPECT_TRUE(together.interleaved);
  EXPECT_EQ(together.initialFrames, (std::vector<uint32_t>{0, 0}));
  // The audio leads by two chunks: its initial frames.
  const Outcome apart = ParseLayout(
      avitest::VideoAudioLayout({{"01wb", 8000}, {"01wb", 8000}, {"00dc", 100}, {"00dc", 100}}));
  EXPECT_FALSE(apart.interleaved);
  EXPECT_EQ(apart.initialFrames, (std::vector<uint32_t>{0, 2}));
  testsupport::ExpectTexts(
      apart.statistics, {"      Audio/Video not interleaved, but ISINTERLEAVED set!",
                         "        Initial Frames detected 2, AVIStreamHeader Initial Frames: 0!"});
}

}  // namespace
