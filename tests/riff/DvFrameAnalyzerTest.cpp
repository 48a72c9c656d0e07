// Hand-built DV frames, and frames written by ffmpeg (tests/data/dv/
// make_dv_samples.sh) whose audio must match ffmpeg's decoding exactly.

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "core/Report.h"
#include "core/ReportOutput.h"
#include "riff/DvFrameAnalyzer.h"

namespace {

using testsupport::Bytes;
using Lines = std::vector<std::string>;

constexpr size_t kPal = DvFrameAnalyzer::kFrameSize625;
constexpr size_t kNtsc = DvFrameAnalyzer::kFrameSize525;

size_t BlockStart(size_t sequence, size_t block) { return (sequence * 150 + block) * 80; }
size_t AudioBlock(size_t index) { return 6 + 16 * index; }

// A frame of zeros with header, subcode, VAUX and audio blocks and their packs.
struct Frame {
  Bytes bytes;
  explicit Frame(size_t size) : bytes(size, 0) {}
  Frame& Put(size_t seq, size_t block, size_t offset, const Bytes& data) {
    std::copy(data.begin(), data.end(), bytes.begin() + BlockStart(seq, block) + offset);
    return *this;
  }
  Frame& Header(size_t seq, uint8_t dsf) { return Put(seq, 0, 0, {0x1F, 0x07, 0x00, dsf}); }
  Frame& Subcode(size_t seq, size_t block, size_t offset, const Bytes& pack) {
    return Put(seq, block, 0, {0x3F, 0x07, 0x00}).Put(seq, block, offset, pack);
  }
  Frame& Vaux(size_t seq, size_t block, size_t offset, const Bytes& pack) {
    return Put(seq, block, 0, {0x56, 0x07, 0x00}).Put(seq, block, offset, pack);
  }
  Frame& Audio(size_t seq, size_t index, const Bytes& pack) {
    const auto id = static_cast<uint8_t>(index);
    return Put(seq, AudioBlock(index), 0, {0x76, 0x07, id}).Put(seq, AudioBlock(index), 3, pack);
  }
};

// Time code (frames, s, min, h) and date (day, month, year) packs.
Bytes TimeCodeAndDate(const Bytes& tc, const Bytes& date) {
  return Frame(kPal)
      .Subcode(0, 1, 6, {0x13, tc[0], tc[1], tc[2], tc[3]})
      .Vaux(0, 3, 58, {0x62, 0xFF, date[0], date[1], date[2]})
      .bytes;
}

struct AnalyzeRun {
  bool ok = false;
  DvAnalysis analysis;
  Lines lines;
};

AnalyzeRun RunAnalyze(const Bytes& frame, uint32_t verbosity = 2, size_t size = 0) {
  std::ostringstream out;
  std::ostringstream err;
  AnalyzeRun run;
  {
    ReportOutput output(out, err, ConsoleState());
    Report report(output);
    run.ok = DvFrameAnalyzer::Analyze(frame.data(), size ? size : frame.size(), run.analysis,
                                      report, 1, verbosity);
  }
  run.lines = testsupport::SplitLines(out.str());
  return run;
}

// An ffmpeg sample's frames (stored non-video blocks put back) and its PCM.
bool LoadSample(const std::string& name, size_t frameSize, std::vector<Bytes>& frames, Bytes& pcm) {
  const std::string path = std::string(CLIPSMITH_TEST_DATA) + "/dv/" + name;
  const Bytes stored = testsupport::ReadFile(path + ".difs");
  pcm = testsupport::ReadFile(path + ".pcm");
  const size_t sequences = frameSize / 12000;
  const size_t storedPerFrame = sequences * 15 * 80;
  for (size_t base = 0; base + storedPerFrame <= stored.size(); base += storedPerFrame) {
    Bytes frame(frameSize, 0);
    for (size_t block = 0; block < frameSize / 80; ++block) frame[block * 80] = 0x90;
    size_t from = base;
    for (size_t seq = 0; seq < sequences; ++seq) {
      for (size_t block = 0; block < 150; ++block) {
        if (block >= 6 && (block - 6) % 16 != 0) continue;
        std::copy(stored.begin() + from, stored.begin() + from + 80,
                  frame.begin() + BlockStart(seq, block));
        from += 80;
      }
    }
    frames.push_back(std::move(frame));
  }
  return !frames.empty() && !pcm.empty();
}

}  // namespace

// Rows: frame, verbosity, summary, and the blocks dumped at 5 (once, if useful).
TEST(DvFrameAnalyzerTest, HandBuiltFrames) {
  // A second time code adds nothing; four items from one VAUX block make one
  // dump; once nothing is left to find a later block with new values is not read.
  const Bytes busy =
      Frame(kPal)
          .Header(0, 0xBF)
          .Subcode(0, 1, 6, {0x13, 0x00, 0x00, 0x00, 0x00})
          .Subcode(0, 2, 6, {0x13, 0x01, 0x00, 0x00, 0x00})
          .Vaux(3, 3, 48, {0x60, 0xFF, 0xFF, 0xE0, 0xFF, 0x61, 0x3F, 0xC8, 0xFC, 0xFF,
                           0x62, 0xFF, 0x01, 0x01, 0x10, 0x63, 0xFF, 0x00, 0x00, 0x00})
          .Audio(6, 2, {0x50, 0xD8, 0x01, 0xE0, 0x80})
          .Vaux(7, 3, 53, {0x61, 0x3F, 0xCA, 0xFC, 0xFF})
          .bytes;
  const char* busySummary = "DV: PAL 4:3 48kHz  TC: 00:00:00:00 Date: 2010-01-01 Time: 00:00:00";
  const struct {
    const char* name;
    Bytes frame;
    uint32_t verbosity;
    const char* summary;
    Lines blocks = {};
  } rows[] = {
      // Each item sits only in the last sequence of its frame: the walk reaches it.
      {"ten sequences of 525", Frame(kNtsc).Subcode(9, 1, 6, {0x13, 0x21, 0x43, 0x05, 0x12}).bytes,
       5, "DV: NTSC 4:3  TC: 12:05:43:21", Lines{"  SeqNo: 9, BlockNo: 1"}},
      {"twelve sequences of 625", Frame(kPal).Audio(11, 8, {0x50, 0xD8, 0x00, 0xE0, 0x90}).bytes, 5,
       "DV: NTSC 4:3 32kHz ", Lines{"  SeqNo: 11, BlockNo: 134"}},
      // PAL by the header's DSF flag; "no information" packs are passed over.
      {"PAL by the header",
       Frame(kPal)
           .Header(0, 0xBF)
           .Subcode(0, 1, 6, {0x13, 0xFF, 0xFF, 0xFF, 0xFF})
           .Put(0, 1, 14, {0x13, 0x07, 0x56, 0x34, 0x12})
           .Vaux(0, 3, 53, {0x61, 0x3F, 0xC8, 0xFC, 0xFF})
           .Audio(0, 0, {0x50, 0xFF, 0xFF, 0xFF, 0xFF})
           .Audio(0, 3, {0x50, 0xD6, 0x00, 0xE0, 0x08})
           .bytes,
       2, "DV: PAL 4:3 44.1kHz  TC: 12:34:56:07"},
      // No audio source pack, no time code; year 24 is in this century.
      {"NTSC wide with a date",
       Frame(kNtsc)
           .Header(0, 0x3F)
           .Vaux(2, 4, 53, {0x61, 0x3F, 0xCA, 0xFC, 0xFF})
           .Put(2, 4, 58, {0x62, 0xFF, 0xC9, 0xF2, 0x24})
           .Put(2, 4, 63, {0x63, 0xFF, 0xD9, 0xC5, 0xE3})
           .bytes,
       2, "DV: NTSC 16:9  Date: 2024-12-09 Time: 23:45:59"},
      // The VAUX source pack's 50/60 flag alone makes it PAL; the 32 kHz code.
      {"PAL by the VAUX source pack",
       Frame(kPal)
           .Vaux(0, 5, 48, {0x60, 0xFF, 0xFF, 0xE0, 0xFF})
           .Audio(1, 0, {0x50, 0xD0, 0x00, 0xE0, 0x90})
           .bytes,
       2, "DV: PAL 4:3 32kHz "},
      // Non-BCD nibbles show in hex; flag bits above the masks are ignored.
      {"hex nibbles", TimeCodeAndDate({0x3A, 0x7F, 0x4B, 0x2C}, {0x3F, 0x1A, 0x99}), 2,
       "DV: NTSC 4:3  TC: 2C:4B:7F:3A Date: 1999-1A-3F"},
      {"highest BCD", TimeCodeAndDate({0x29, 0x59, 0x59, 0x23}, {0x31, 0x12, 0x25}), 2,
       "DV: NTSC 4:3  TC: 23:59:59:29 Date: 1925-12-31"},
      {"flag bits", TimeCodeAndDate({0xC5, 0x80, 0x80, 0xC1}, {0xC2, 0xE3, 0xA3}), 2,
       "DV: NTSC 4:3  TC: 01:00:00:05 Date: 19A3-03-02"},
      {"blocks dumped once", busy, 5, busySummary,
       Lines{"  SeqNo: 0, BlockNo: 0", "  SeqNo: 0, BlockNo: 1", "  SeqNo: 3, BlockNo: 3",
             "  SeqNo: 6, BlockNo: 38"}},
      {"no dump at verbosity 4", busy, 4, busySummary},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const AnalyzeRun run = RunAnalyze(row.frame, row.verbosity);
    EXPECT_TRUE(run.ok);
    EXPECT_EQ(DvFrameAnalyzer::SummaryText(run.analysis), row.summary);
    Lines blocks;
    for (const std::string& line : run.lines) {
      if (line.find("SeqNo: ") != std::string::npos) blocks.push_back(line);
    }
    EXPECT_EQ(blocks, row.blocks);
    EXPECT_TRUE(row.verbosity >= 5 || run.lines.empty());
  }
  // The dump of a block is its hex line, indented under the header line.
  EXPECT_EQ(RunAnalyze(busy, 5).lines.at(1).substr(0, 19), "    \"1f 7 0 bf 0 0 ");
}

TEST(DvFrameAnalyzerTest, WrongFrameSizeIsAnErrorAndAnalysesNothing) {
  const Bytes frame = Frame(kPal).Subcode(0, 1, 6, {0x13, 0x01, 0x02, 0x03, 0x04}).bytes;
  for (size_t size : {size_t(100000), size_t(119999), size_t(143999)}) {
    AnalyzeRun run = RunAnalyze(frame, 6, size);
    EXPECT_FALSE(run.ok);
    EXPECT_EQ(run.lines, (Lines{"  *** Error: Frame size is not DV compliant (144000/120000)"}));
    EXPECT_TRUE(run.analysis.timeCode.empty());
  }
}

// The summary of the first frame (its start) and the audio of all frames.
TEST(DvFrameAnalyzerTest, FramesWrittenByFfmpeg) {
  const struct {
    const char* name;
    size_t size;
    std::vector<size_t> samplesPerFrame;
    const char* summary;
  } cases[] = {
      {"pal_48k", kPal, {1920, 1920}, "PAL 4:3 48kHz  TC: 01:02:03:04 Date: 2023-05-17"},
      {"pal_44k", kPal, {1764}, "PAL 16:9 44.1kHz  TC: 00:00:00:00 Date: 1970-01-01"},
      {"pal_32k", kPal, {1280}, "PAL 4:3 32kHz "},
      {"ntsc_48k", kNtsc, {1600, 1602, 1602, 1602, 1602}, "NTSC 4:3 48kHz  TC: 00:00:00:00"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<Bytes> frames;
    Bytes expected;
    if (!LoadSample(c.name, c.size, frames, expected)) GTEST_SKIP() << c.name << " not present";
    ASSERT_EQ(frames.size(), c.samplesPerFrame.size());
    const AnalyzeRun run = RunAnalyze(frames[0]);
    EXPECT_TRUE(run.ok && run.lines.empty());
    EXPECT_EQ(DvFrameAnalyzer::SummaryText(run.analysis).find(c.summary), 4u);
    Bytes all;
    for (size_t i = 0; i < frames.size(); ++i) {
      std::vector<uint8_t> pcm;
      std::string why;
      ASSERT_TRUE(DvFrameAnalyzer::ExtractAudio(frames[i].data(), frames[i].size(), pcm, why))
          << why;
      EXPECT_EQ(pcm.size(), c.samplesPerFrame[i] * 4) << "frame " << i;
      all.insert(all.end(), pcm.begin(), pcm.end());
    }
    EXPECT_TRUE(all == expected) << "audio differs from ffmpeg's decoding";
  }
}

TEST(DvFrameAnalyzerTest, DamagedAudioBlockLeavesOnlyItsSamplesSilent) {
  std::vector<Bytes> frames;
  Bytes expected;
  if (!LoadSample("pal_48k", kPal, frames, expected)) GTEST_SKIP() << "pal_48k not present";
  Bytes frame = frames[0];
  frame[BlockStart(7, AudioBlock(4))] = 0x90;  // second channel's half
  std::vector<uint8_t> pcm;
  std::string why;
  ASSERT_TRUE(DvFrameAnalyzer::ExtractAudio(frame.data(), frame.size(), pcm, why)) << why;
  ASSERT_EQ(pcm.size(), 1920u * 4);
  size_t differing = 0;
  for (size_t at = 0; at < pcm.size(); at += 2) {
    if (pcm[at] == expected[at] && pcm[at + 1] == expected[at + 1]) continue;
    ++differing;
    EXPECT_EQ((at / 2) % 2, 1u) << "sample " << at / 4 << " of the first channel changed";
    EXPECT_EQ(pcm[at] | pcm[at + 1], 0);
  }
  EXPECT_GT(differing, 20u);
  EXPECT_LE(differing, 36u);
}

TEST(DvFrameAnalyzerTest, AudioThatCannotBeDecodedIsRefused) {
  const struct {
    size_t size;
    Bytes pack;
    const char* why;
  } cases[] = {
      {100000, Bytes{0x50, 0xD8, 0x00, 0xE0, 0x80},
       "Frame size is not DV compliant (144000/120000)"},
      {kPal, Bytes{0x50, 0xD0, 0x00, 0xE0, 0x91}, "12-bit nonlinear DV audio is not supported"},
      {kPal, Bytes{0x50, 0xD8, 0x00, 0xE0, 0x82}, "DV audio quantisation code 2 is not supported"},
      {kPal, Bytes{0x50, 0xD8, 0x00, 0xE0, 0xB8}, "DV audio sampling code 7 is not supported"},
      // 1580 + 63 samples do not fit the 1620 places of a 525/60 frame.
      {kNtsc, Bytes{0x50, 0xFF, 0x00, 0xC0, 0x80},
       "DV audio sample count 1643 exceeds the frame's 1620 places"},
      {kNtsc, Bytes{0x51, 0xD4, 0x00, 0xC0, 0x80}, "DV frame carries no audio source pack"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    const Bytes frame = Frame(c.size).Audio(0, 3, c.pack).bytes;
    std::vector<uint8_t> pcm{1, 2};  // emptied on refusal
    std::string why;
    EXPECT_FALSE(DvFrameAnalyzer::ExtractAudio(frame.data(), frame.size(), pcm, why));
    EXPECT_EQ(why, c.why);
    EXPECT_TRUE(pcm.empty());
  }
}

TEST(DvFrameAnalyzerTest, RandomFramesAreHandledSafely) {
  std::mt19937 random(1234);
  const uint8_t ids[] = {0x1F, 0x3F, 0x56, 0x76, 0x96};
  for (int round = 0; round < 20; ++round) {
    const size_t size = round % 2 ? kPal : kNtsc;
    Bytes frame(size);
    for (uint8_t& byte : frame) byte = static_cast<uint8_t>(random());
    for (size_t at = 0; at < size; at += 80) frame[at] = ids[random() % 5];
    // Pack ids where the analysis and the audio look for them.
    for (size_t at = 0; at + 80 <= size; at += 80 * 7) {
      frame[at + 3] = 0x50;
      frame[at + 48] = 0x60;
      frame[at + 58] = 0x62;
    }
    EXPECT_TRUE(RunAnalyze(frame, 6).ok);
    std::vector<uint8_t> pcm;
    std::string why;
    if (DvFrameAnalyzer::ExtractAudio(frame.data(), frame.size(), pcm, why)) {
      EXPECT_LE(pcm.size(), (size == kPal ? 1944u : 1620u) * 4);
    } else {
      EXPECT_FALSE(why.empty());
    }
  }
}
