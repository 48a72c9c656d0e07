// Hostile 1 MB files run within 2 s and 200 MB, and a 4 GB size claimed in a
// 1 KB file never becomes an allocation of that size.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "AllocationProbe.h"
#include "TestSupport.h"
#include "app/ChildProcess.h"
#include "app/FormatProbe.h"
#include "core/ReportOutput.h"
#include "core/RunOptions.h"
#include "riff/AviIndexTestFiles.h"

namespace {

using testsupport::Bytes;
using testsupport::ChunkBuilder;
using testsupport::Concat;
using testsupport::Le32;
using testsupport::ScratchDir;
using testsupport::TextBytes;

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

constexpr size_t kMegabyte = 1000000;
// The sanitizer build is slower, and its shadow memory inflates the resident set.
constexpr double kSecondsAllowed = kSanitized ? 20.0 : 2.0;
constexpr long kPeakKiBAllowed = 200 * 1000;

Bytes RandomBytes(size_t count, uint32_t seed) {
  std::mt19937 random(seed);
  Bytes bytes(count);
  for (uint8_t& byte : bytes) byte = static_cast<uint8_t>(random());
  return bytes;
}

Bytes Repeat(const Bytes& unit, size_t totalBytes) {
  Bytes bytes;
  while (bytes.size() + unit.size() <= totalBytes) {
    bytes.insert(bytes.end(), unit.begin(), unit.end());
  }
  return bytes;
}

avitest::Layout EmptyChunks(size_t count) {
  avitest::Layout layout;
  layout.streams = {avitest::Stream()};
  layout.chunks.assign(count, avitest::Chunk{"00dc", 0, true});
  return layout;
}

// `depth` lists, each holding the next; sizes consistent.
Bytes NestedLists(size_t depth) {
  Bytes bytes;
  for (size_t below = depth; below-- > 0;) {
    const Bytes head =
        Concat({TextBytes("LIST"), Le32(uint32_t(4 + 12 * below)), TextBytes("nest")});
    bytes.insert(bytes.end(), head.begin(), head.end());
  }
  return bytes;
}

// `count` stream lists whose headers claim the largest values everywhere.
Bytes ManyStreams(size_t count) {
  const ChunkBuilder riff;
  const Bytes strl =
      riff.List("strl", {riff.Chunk("strh", Concat({TextBytes("vidsdvsd"), Bytes(48, 0xFF)})),
                         riff.Chunk("strf", Concat({Le32(40), Bytes(36, 0xFF)}))});
  const Bytes avih = riff.Chunk("avih", Bytes(56, 0xFF));
  const Bytes lists = Repeat(strl, std::min(count * strl.size(), kMegabyte - 200));
  return riff.Riff("AVI ", {riff.List("hdrl", {avih, lists})});
}

// `count` super index entries naming the one standard index of 20,000 frames.
Bytes RepeatedSuperIndex(uint32_t count) {
  avitest::Layout layout = EmptyChunks(20000);
  layout.standardIndexes = true;
  layout.superIndexes = false;
  layout.idx1 = avitest::Idx1Kind::kNone;
  const ChunkBuilder riff;
  const auto indx = [&](uint64_t position) {
    const Bytes entries =
        Repeat(Concat({Le32(static_cast<uint32_t>(position)), Le32(0), Le32(160032), Le32(20000)}),
               16 * size_t{count});
    return riff.Chunk("indx", Concat({testsupport::Le16(4), Bytes{0, 0}, Le32(count),
                                      TextBytes("00dc"), Bytes(12, 0), entries}));
  };
  layout.streams[0].extra = indx(0);
  const Bytes first = avitest::Build(layout).bytes;
  layout.streams[0].extra = indx(static_cast<uint64_t>(testsupport::FindToken(first, "ix00")));
  return avitest::Build(layout).bytes;
}

// DV frames of noise: every frame goes through the DV analysis.
Bytes DvNoise() {
  avitest::Layout layout;
  layout.streams = {avitest::Stream()};
  layout.streams[0].handler = "dvsd";
  layout.chunks.assign(6, avitest::Chunk{"00dc", 144000, true});
  Bytes bytes = avitest::Build(layout).bytes;
  const Bytes noise = RandomBytes(bytes.size(), 5);
  // Noise in place of the frame bodies' filler bytes (0x11).
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = bytes[i] == 0x11 ? noise[i] : bytes[i];
  return bytes;
}

std::vector<std::pair<std::string, Bytes>> HostileFiles() {
  const ChunkBuilder riff;
  const auto built = [](const avitest::Layout& layout) { return avitest::Build(layout).bytes; };
  // 40,000 empty frames indexed in reverse order, and all at one offset.
  avitest::Layout reversed = EmptyChunks(40000), oneOffset = EmptyChunks(40000);
  reversed.mainFlags = 0x30;  // has index, must use index
  reversed.editIdx1 = [](std::vector<avitest::Idx1Row>& rows) {
    std::reverse(rows.begin(), rows.end());
  };
  oneOffset.editIdx1 = [](std::vector<avitest::Idx1Row>& rows) {
    for (avitest::Idx1Row& row : rows) row.offset = rows.back().offset;
  };
  // The same standard index five times over in one 'movi' list.
  avitest::Layout repeated = EmptyChunks(20000);
  repeated.standardIndexes = true;
  repeated.idx1 = avitest::Idx1Kind::kNone;
  const Bytes index =
      riff.Chunk("ix00", avitest::StandardIndexBody(repeated, avitest::Build(repeated), 0));
  repeated.moviExtra = Concat({index, index, index, index});
  // Frames whose sizes overrun the list, each one a recovery; and noise.
  avitest::Layout overrun = EmptyChunks(1);
  overrun.idx1 = avitest::Idx1Kind::kNone;
  avitest::Layout garbage = overrun;
  overrun.moviExtra =
      Repeat(Concat({TextBytes("00dc"), Le32(0x7FFFFFF0), Bytes(8, 0x5A)}), kMegabyte - 400);
  garbage.moviExtra = RandomBytes(kMegabyte - 400, 3);
  return {
      {"random.bin", RandomBytes(kMegabyte, 1)},
      {"riff-random.avi",
       Concat({TextBytes("RIFF"), Le32(0xFFFFFFFF), TextBytes("AVI "), RandomBytes(kMegabyte, 2)})},
      {"idx1-in-order.avi", built(EmptyChunks(40000))},
      {"idx1-reversed.avi", built(reversed)},
      {"idx1-one-offset.avi", built(oneOffset)},
      {"ix-repeated.avi", built(repeated)},
      {"overrunning-frames.avi", built(overrun)},
      {"garbage-movi.avi", built(garbage)},
      {"super-index-repeated.avi", RepeatedSuperIndex(40000)},  // run with -xi, repaired
      {"nested-lists.avi", riff.Riff("AVI ", {NestedLists(80000)})},
      {"nested-lists.riff", riff.Riff("TEST", {NestedLists(80000)})},
      {"many-streams.avi", ManyStreams(8000)},
      {"many-chunks.wav",
       riff.Riff("WAVE", {Repeat(Concat({TextBytes("abcd"), Le32(0)}), kMegabyte - 100)})},
      {"random.iff", riff.Container("FORM", "8SVX", {RandomBytes(kMegabyte - 100, 4)})},
      {"dv-noise.avi", DvNoise()},
  };
}

TEST(ResourceBoundsTest, HostileMegabyteFilesStayWithinTimeAndMemory) {
  ScratchDir dir;
  for (const auto& [name, bytes] : HostileFiles()) {
    SCOPED_TRACE(name);
    ASSERT_LE(bytes.size(), 1048576u);
    const std::string path = dir.Write(name, bytes);
    std::vector<std::string> args = {CLIPSMITH_BINARY, path};
    if (name == "super-index-repeated.avi")
      args = {CLIPSMITH_BINARY, "-xi", path, "-o", dir.File("out.avi")};
    const apptest::ChildOutcome run = apptest::ChildProcess::Run(args, 5 * kSecondsAllowed);
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_LT(run.seconds, kSecondsAllowed);
    EXPECT_TRUE(kSanitized || run.peakKiB < kPeakKiBAllowed) << run.peakKiB;
    EXPECT_NE(run.out.find("Total Files processed: 1,"), std::string::npos);
    // The same file traced whole as a JSON report: as fast, as small, and a
    // document a JSON reader accepts.
    args.insert(args.begin() + 1, {"-e", "-t1000000"});
    const apptest::ChildOutcome json = apptest::ChildProcess::Run(args, 5 * kSecondsAllowed);
    EXPECT_EQ(json.exitStatus, 0);
    EXPECT_LT(json.seconds, kSecondsAllowed);
    EXPECT_TRUE(kSanitized || json.peakKiB < kPeakKiBAllowed) << json.peakKiB;
    std::ofstream(dir.File("report.json"), std::ios::binary) << json.out;
    EXPECT_EQ(testsupport::RunCommand(
                  "python3 -c 'import json, sys; json.load(open(sys.argv[1]))' '" +
                  dir.File("report.json") + "' && echo valid"),
              "valid\n");
  }
}

// A million chunks traced whole: the JSON report streams, so it takes no more
// memory than the text report, which holds one record per chunk.
TEST(ResourceBoundsTest, AMillionChunksTracedAsJsonStayWithinTheTextReportsMemory) {
  // The sanitizer's shadow memory makes the two peaks incomparable.
  if (kSanitized) GTEST_SKIP() << "a measure of the plain build";
  ScratchDir dir;
  avitest::Layout layout = EmptyChunks(1000000);
  layout.idx1 = avitest::Idx1Kind::kNone;
  const std::string path = dir.Write("million.avi", avitest::Build(layout).bytes);
  long peak[2] = {};
  for (int json = 0; json < 2; ++json) {
    const std::string text = testsupport::RunCommand(
        std::string("/usr/bin/time -f 'peak %M' ") + CLIPSMITH_BINARY + (json ? " -e" : "") +
        " -t2000000 '" + path + "' 2>&1 >/dev/null | grep '^peak'");
    peak[json] = std::atol(text.c_str() + 5);
    ASSERT_GT(peak[json], 0) << text;
  }
  EXPECT_LT(peak[1], peak[0] + 16 * 1024);
}

// A small OpenDML AVI with idx1, two streams, standard and super indexes.
Bytes SmallAvi() {
  avitest::Layout layout = avitest::VideoAudioLayout(
      {{"00dc", 16, true}, {"01wb", 8, true}, {"00dc", 16, false}, {"01wb", 8, true}});
  layout.standardIndexes = true;
  layout.odmlHeader = true;
  layout.odmlFrames = 2;
  return avitest::Build(layout).bytes;
}

// Size and count words of an AVI and a WAVE file, each `offset` bytes from its tag.
const struct Claim {
  bool wave;
  const char* tag;
  int offset;
} kClaims[] = {
    {false, "RIFF", 4},  {false, "hdrl", -4},     {false, "avih", 4},      {false, "avih", 8 + 24},
    {false, "strl", -4}, {false, "strh", 4},      {false, "strh", 8 + 32}, {false, "strh", 8 + 36},
    {false, "strf", 4},  {false, "strf", 8 + 32}, {false, "indx", 4},      {false, "indx", 8 + 4},
    {false, "indx", 40}, {false, "indx", 44},     {false, "odml", -4},     {false, "dmlh", 4},
    {false, "movi", -4}, {false, "00dc", 4},      {false, "ix00", 4},      {false, "ix00", 8 + 4},
    {false, "idx1", 4},  {false, "idx1", 8 + 12}, {true, "RIFF", 4},       {true, "fmt ", 4},
    {true, "INFO", -4},  {true, "INAM", 4},       {true, "data", 4}};

// Each claim read (default, -v6, -c -v0) and written (-rx, -xi, a small split with -q2).
TEST(ResourceBoundsTest, AClaimedFourGigabyteSizeAllocatesNothingOfThatSize) {
  RunOptions settings[6];
  settings[1].report.verbosity = 6;
  settings[2].scan.checkIndexes = false;
  settings[2].report.verbosity = 0;
  settings[3].writer.writeIdx1 = true;
  settings[4].scan.switchXi = true;
  settings[5].writer.splitSize = 4096;
  settings[5].scan.switchQ2 = true;
  ScratchDir dir;
  const Bytes avi = SmallAvi();
  const Bytes wave = testsupport::ReadFile(std::string(CLIPSMITH_TEST_DATA) + "/sine_title.wav");
  ASSERT_LE(avi.size(), 1024u);
  for (const Claim& claim : kClaims) {
    Bytes bytes = claim.wave ? wave : avi;
    SCOPED_TRACE(std::string(claim.wave ? "WAVE " : "AVI ") + claim.tag +
                 std::to_string(claim.offset));
    const int64_t tag = testsupport::FindToken(bytes, claim.tag);
    ASSERT_GE(tag, 0);
    for (int i = 0; i < 4; ++i) bytes[tag + claim.offset + i] = uint8_t(0xFFFFFFF0 >> (8 * i));
    bytes.resize(1024, 0);
    const std::string path = dir.Write("claim", bytes);
    for (size_t i = 0; i < std::size(settings); ++i) {
      std::ostringstream out, err;
      ReportOutput report(out, err, ConsoleState());
      const testsupport::AllocationProbe probe;
      FormatProbe::RunFile(path, i >= 3 ? dir.File("out.avi") : std::string(), settings[i], report);
      EXPECT_LT(probe.LargestRequest(), 8u * 1048576) << "setting " << i;
    }
  }
}

}  // namespace
