// DV frame analysis: hand-built frames for the pack decoding and the walk
// over the DIF sequences, and frames written by ffmpeg (recipes in
// tests/data/dv/make_dv_samples.sh) for the summary and for the audio, which
// must match ffmpeg's own decoding sample for sample.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
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
using testsupport::SplitLines;
using Lines = std::vector<std::string>;

constexpr size_t kPal = DvFrameAnalyzer::kFrameSize625;
constexpr size_t kNtsc = DvFrameAnalyzer::kFrameSize525;

size_t BlockStart(size_t sequence, size_t block) { return (sequence * 150 + block) * 80; }
size_t AudioBlock(size_t index) { return 6 + 16 * index; }

// Writes `bytes` into the frame at byte `offset` of block (sequence, block).
void Put(Bytes& frame, size_t sequence, size_t block, size_t offset, const Bytes& bytes) {
  std::copy(bytes.begin(), bytes.end(), frame.begin() + BlockStart(sequence, block) + offset);
}

// Block ids: header, subcode, VAUX and audio sections.
void PutHeader(Bytes& frame, size_t seq, uint8_t dsf) {
  Put(frame, seq, 0, 0, {0x1F, 0x07, 0x00, dsf});
}
void PutSubcode(Bytes& frame, size_t seq, size_t block) {
  Put(frame, seq, block, 0, {0x3F, 0x07, 0x00});
}
void PutVaux(Bytes& frame, size_t seq, size_t block) {
  Put(frame, seq, block, 0, {0x56, 0x07, 0x00});
}
void PutAudioSource(Bytes& frame, size_t seq, size_t index, const Bytes& pack) {
  Put(frame, seq, AudioBlock(index), 0, {0x76, 0x07, static_cast<uint8_t>(index)});
  Put(frame, seq, AudioBlock(index), 3, pack);
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
  run.lines = SplitLines(out.str());
  return run;
}

Lines BlockHeaders(const Lines& lines) {
  Lines headers;
  for (const std::string& line : lines) {
    if (line.find("SeqNo: ") != std::string::npos) headers.push_back(line);
  }
  return headers;
}

// ---- Samples made by ffmpeg ----------------------------------------------

std::string SamplePath(const std::string& file) {
  return std::string(CLIPSMITH_TEST_DATA) + "/dv/" + file;
}

bool ReadFile(const std::string& path, Bytes& bytes) {
  bytes = testsupport::ReadFile(path);
  return !bytes.empty();
}

// The frames of a sample: the stored header, subcode, VAUX and audio blocks
// put back in place, the video blocks left empty (id 0x90).
bool LoadFrames(const std::string& name, size_t frameSize, std::vector<Bytes>& frames) {
  Bytes stored;
  if (!ReadFile(SamplePath(name + ".difs"), stored)) return false;
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
  return !frames.empty();
}

#define LOAD_OR_SKIP(name, size, frames, expectedPcm)                   \
  if (!LoadFrames(name, size, frames) ||                                \
      !ReadFile(SamplePath(std::string(name) + ".pcm"), expectedPcm)) { \
    GTEST_SKIP() << "DV sample " << name << " not present";             \
  }

}  // namespace

TEST(DvFrameAnalyzerTest, WalksTenSequencesOf525AndTwelveOf625) {
  // Each item sits only in the last sequence of its frame: found means the
  // walk reached it, and the dump header names where it was.
  Bytes ntsc(kNtsc, 0);
  PutSubcode(ntsc, 9, 1);
  Put(ntsc, 9, 1, 6, {0x13, 0x21, 0x43, 0x05, 0x12});
  AnalyzeRun run = RunAnalyze(ntsc, 5);
  ASSERT_TRUE(run.ok);
  EXPECT_EQ(run.analysis.timeCode, "12:05:43:21");
  EXPECT_EQ(BlockHeaders(run.lines), (Lines{"  SeqNo: 9, BlockNo: 1"}));

  Bytes pal(kPal, 0);
  PutAudioSource(pal, 11, 8, {0x50, 0xD8, 0x00, 0xE0, 0x90});
  run = RunAnalyze(pal, 5);
  ASSERT_TRUE(run.ok);
  EXPECT_TRUE(run.analysis.hasAudioSource);
  EXPECT_EQ(DvFrameAnalyzer::SamplingRate(run.analysis), 32000u);
  EXPECT_EQ(BlockHeaders(run.lines), (Lines{"  SeqNo: 11, BlockNo: 134"}));
}

TEST(DvFrameAnalyzerTest, WrongFrameSizeIsAnErrorAndReadsNothing) {
  Bytes frame(kPal, 0);
  PutSubcode(frame, 0, 1);
  Put(frame, 0, 1, 6, {0x13, 0x01, 0x02, 0x03, 0x04});
  for (size_t size : {size_t(100000), size_t(119999), size_t(143999)}) {
    AnalyzeRun run = RunAnalyze(frame, 6, size);
    EXPECT_FALSE(run.ok);
    EXPECT_EQ(run.lines, (Lines{"  *** Error: Frame size is not DV compliant (144000/120000)"}));
    EXPECT_TRUE(run.analysis.timeCode.empty());
  }
  std::vector<uint8_t> pcm{1, 2};
  std::string why;
  EXPECT_FALSE(DvFrameAnalyzer::ExtractAudio(frame.data(), 100000, pcm, why));
  EXPECT_TRUE(pcm.empty());
  EXPECT_EQ(why, "Frame size is not DV compliant (144000/120000)");
}

TEST(DvFrameAnalyzerTest, SummaryOfHandBuiltFrames) {
  // PAL by the header's DSF flag, 4:3, 44.1 kHz, a time code and no date or
  // time packs anywhere. A time code and an AAUX source pack that say "no
  // information" come first and are passed over.
  Bytes frame(kPal, 0);
  PutHeader(frame, 0, 0xBF);
  PutSubcode(frame, 0, 1);
  Put(frame, 0, 1, 6, {0x13, 0xFF, 0xFF, 0xFF, 0xFF});
  Put(frame, 0, 1, 14, {0x13, 0x07, 0x56, 0x34, 0x12});
  PutVaux(frame, 0, 3);
  Put(frame, 0, 3, 53, {0x61, 0x3F, 0xC8, 0xFC, 0xFF});
  PutAudioSource(frame, 0, 0, {0x50, 0xFF, 0xFF, 0xFF, 0xFF});
  PutAudioSource(frame, 0, 3, {0x50, 0xD6, 0x00, 0xE0, 0x08});
  AnalyzeRun run = RunAnalyze(frame);
  ASSERT_TRUE(run.ok);
  EXPECT_TRUE(run.lines.empty());
  EXPECT_EQ(DvFrameAnalyzer::SummaryText(run.analysis), "DV: PAL 4:3 44.1kHz  TC: 12:34:56:07");

  // NTSC, 16:9, no audio source pack (no sampling text), no time code; the
  // date and time from a VAUX block, year 24 in this century.
  Bytes ntsc(kNtsc, 0);
  PutHeader(ntsc, 0, 0x3F);
  PutVaux(ntsc, 2, 4);
  Put(ntsc, 2, 4, 53, {0x61, 0x3F, 0xCA, 0xFC, 0xFF});
  Put(ntsc, 2, 4, 58, {0x62, 0xFF, 0xC9, 0xF2, 0x24});
  Put(ntsc, 2, 4, 63, {0x63, 0xFF, 0xD9, 0xC5, 0xE3});
  run = RunAnalyze(ntsc);
  EXPECT_EQ(DvFrameAnalyzer::SummaryText(run.analysis),
            "DV: NTSC 16:9  Date: 2024-12-09 Time: 23:45:59");

  // The VAUX source pack's 50/60 flag alone makes it PAL; the 32 kHz code.
  Bytes vauxPal(kPal, 0);
  PutVaux(vauxPal, 0, 5);
  Put(vauxPal, 0, 5, 48, {0x60, 0xFF, 0xFF, 0xE0, 0xFF});
  PutAudioSource(vauxPal, 1, 0, {0x50, 0xD0, 0x00, 0xE0, 0x90});
  EXPECT_EQ(DvFrameAnalyzer::SummaryText(RunAnalyze(vauxPal).analysis), "DV: PAL 4:3 32kHz ");
}

TEST(DvFrameAnalyzerTest, NonBcdNibblesShowInHexAndYearsAreBcd) {
  struct Case {
    Bytes timeCode;
    Bytes date;
    const char* expectedTimeCode;
    const char* expectedDate;
  };
  const Case cases[] = {
      {{0x13, 0x3A, 0x7F, 0x4B, 0x2C}, {0x62, 0xFF, 0x3F, 0x1A, 0x99}, "2C:4B:7F:3A", "1999-1A-3F"},
      {{0x13, 0x00, 0x00, 0x00, 0x00}, {0x62, 0xFF, 0x01, 0x01, 0x00}, "00:00:00:00", "2000-01-01"},
      {{0x13, 0x29, 0x59, 0x59, 0x23}, {0x62, 0xFF, 0x31, 0x12, 0x25}, "23:59:59:29", "1925-12-31"},
      // Flag bits above the masks are ignored; a year that is no BCD keeps
      // the century rule on its raw value.
      {{0x13, 0xC5, 0x80, 0x80, 0xC1}, {0x62, 0xFF, 0xC2, 0xE3, 0xA3}, "01:00:00:05", "19A3-03-02"},
  };
  for (const Case& c : cases) {
    Bytes frame(kPal, 0);
    PutSubcode(frame, 0, 1);
    Put(frame, 0, 1, 6, c.timeCode);
    PutVaux(frame, 0, 3);
    Put(frame, 0, 3, 58, c.date);
    AnalyzeRun run = RunAnalyze(frame);
    EXPECT_EQ(run.analysis.timeCode, c.expectedTimeCode);
    EXPECT_EQ(run.analysis.recordDate, c.expectedDate);
  }
}

TEST(DvFrameAnalyzerTest, DumpsEachContributingBlockOnceAtVerbosityFive) {
  Bytes frame(kPal, 0);
  PutHeader(frame, 0, 0xBF);
  PutSubcode(frame, 0, 1);
  Put(frame, 0, 1, 6, {0x13, 0x00, 0x00, 0x00, 0x00});
  PutSubcode(frame, 0, 2);  // a second time code: adds nothing, not dumped
  Put(frame, 0, 2, 6, {0x13, 0x01, 0x00, 0x00, 0x00});
  PutVaux(frame, 3, 3);  // four items from one block, one dump
  Put(frame, 3, 3, 48, {0x60, 0xFF, 0xFF, 0xE0, 0xFF, 0x61, 0x3F, 0xC8, 0xFC, 0xFF,
                        0x62, 0xFF, 0x01, 0x01, 0x10, 0x63, 0xFF, 0x00, 0x00, 0x00});
  PutAudioSource(frame, 6, 2, {0x50, 0xD8, 0x01, 0xE0, 0x80});
  // Nothing is left to find: a later block with new values is not read.
  PutVaux(frame, 7, 3);
  Put(frame, 7, 3, 53, {0x61, 0x3F, 0xCA, 0xFC, 0xFF});

  AnalyzeRun run = RunAnalyze(frame, 5);
  EXPECT_EQ(BlockHeaders(run.lines), (Lines{"  SeqNo: 0, BlockNo: 0", "  SeqNo: 0, BlockNo: 1",
                                            "  SeqNo: 3, BlockNo: 3", "  SeqNo: 6, BlockNo: 38"}));
  EXPECT_FALSE(run.analysis.wide);
  EXPECT_EQ(DvFrameAnalyzer::SummaryText(run.analysis),
            "DV: PAL 4:3 48kHz  TC: 00:00:00:00 Date: 2010-01-01 Time: 00:00:00");
  // The dump of a block is its hex line, indented under the header line.
  ASSERT_GE(run.lines.size(), 2u);
  EXPECT_EQ(run.lines[0], "  SeqNo: 0, BlockNo: 0");
  EXPECT_EQ(run.lines[1].substr(0, 19), "    \"1f 7 0 bf 0 0 ");

  EXPECT_TRUE(RunAnalyze(frame, 4).lines.empty());
}

TEST(DvFrameAnalyzerTest, SummaryOfFramesWrittenByFfmpeg) {
  struct Case {
    const char* name;
    size_t size;
    const char* summary;
  };
  const Case cases[] = {
      {"pal_48k", kPal, "DV: PAL 4:3 48kHz  TC: 01:02:03:04 Date: 2023-05-17 Time: 10:11:12"},
      {"pal_44k", kPal, "DV: PAL 16:9 44.1kHz  TC: 00:00:00:00 Date: 1970-01-01 Time: 00:00:00"},
      {"ntsc_48k", kNtsc, "DV: NTSC 4:3 48kHz  TC: 00:00:00:00 Date: 1970-01-01 Time: 00:00:00"},
  };
  for (const Case& c : cases) {
    std::vector<Bytes> frames;
    Bytes pcm;
    LOAD_OR_SKIP(c.name, c.size, frames, pcm);
    AnalyzeRun run = RunAnalyze(frames[0]);
    EXPECT_TRUE(run.ok);
    EXPECT_TRUE(run.lines.empty());
    EXPECT_EQ(DvFrameAnalyzer::SummaryText(run.analysis), c.summary) << c.name;
  }
}

TEST(DvFrameAnalyzerTest, AudioMatchesFfmpegSampleForSample) {
  struct Case {
    const char* name;
    size_t size;
    std::vector<size_t> samplesPerFrame;
  };
  const Case cases[] = {
      {"pal_48k", kPal, {1920, 1920}},
      {"pal_44k", kPal, {1764}},
      {"pal_32k", kPal, {1280}},
      {"ntsc_48k", kNtsc, {1600, 1602, 1602, 1602, 1602}},
  };
  for (const Case& c : cases) {
    std::vector<Bytes> frames;
    Bytes expected;
    LOAD_OR_SKIP(c.name, c.size, frames, expected);
    ASSERT_EQ(frames.size(), c.samplesPerFrame.size()) << c.name;
    Bytes all;
    for (size_t i = 0; i < frames.size(); ++i) {
      std::vector<uint8_t> pcm;
      std::string why;
      ASSERT_TRUE(DvFrameAnalyzer::ExtractAudio(frames[i].data(), frames[i].size(), pcm, why))
          << c.name << ": " << why;
      EXPECT_EQ(pcm.size(), c.samplesPerFrame[i] * 4) << c.name << " frame " << i;
      all.insert(all.end(), pcm.begin(), pcm.end());
    }
    ASSERT_EQ(all.size(), expected.size()) << c.name;
    size_t firstDifference = 0;
    while (firstDifference < all.size() && all[firstDifference] == expected[firstDifference]) {
      ++firstDifference;
    }
    EXPECT_EQ(firstDifference, all.size()) << c.name << ": first byte that differs";
  }
}

TEST(DvFrameAnalyzerTest, DamagedAudioBlockLeavesOnlyItsSamplesSilent) {
  std::vector<Bytes> frames;
  Bytes expected;
  LOAD_OR_SKIP("pal_48k", kPal, frames, expected);
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
  struct Case {
    size_t size;
    Bytes pack;
    const char* why;
  };
  const Case cases[] = {
      {kPal, {0x50, 0xD0, 0x00, 0xE0, 0x91}, "12-bit nonlinear DV audio is not supported"},
      {kPal, {0x50, 0xD8, 0x00, 0xE0, 0x82}, "DV audio quantisation code 2 is not supported"},
      {kPal, {0x50, 0xD8, 0x00, 0xE0, 0xB8}, "DV audio sampling code 7 is not supported"},
      // 1580 + 63 samples do not fit the 1620 places of a 525/60 frame.
      {kNtsc,
       {0x50, 0xFF, 0x00, 0xC0, 0x80},
       "DV audio sample count 1643 exceeds the frame's 1620 places"},
      {kNtsc, {0x51, 0xD4, 0x00, 0xC0, 0x80}, "DV frame carries no audio source pack"},
  };
  for (const Case& c : cases) {
    Bytes frame(c.size, 0);
    PutAudioSource(frame, 0, 3, c.pack);
    std::vector<uint8_t> pcm;
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
    AnalyzeRun run = RunAnalyze(frame, 6);
    EXPECT_TRUE(run.ok);
    std::vector<uint8_t> pcm;
    std::string why;
    if (DvFrameAnalyzer::ExtractAudio(frame.data(), frame.size(), pcm, why)) {
      EXPECT_LE(pcm.size(), (size == kPal ? 1944u : 1620u) * 4);
    } else {
      EXPECT_FALSE(why.empty());
    }
  }
}
