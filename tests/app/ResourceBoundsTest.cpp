// Time and memory bounds on hostile input: 1 MB files claiming sizes, counts
// and nesting far beyond what they hold run through the real executable
// within 2 s and 200 MB; and a 4 GB size claimed in a 1 KB file never becomes
// an allocation of that size, wherever the claim sits.

#include <gtest/gtest.h>

#include <algorithm>
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
// The unoptimised sanitizer build is slower, and its shadow memory makes
// the resident set meaningless.
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
  bytes.reserve(totalBytes + unit.size());
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

// A RIFF form around `body`, its size (little-endian) claiming it all.
Bytes Form(const char* token, const char* form, const Bytes& body) {
  return Concat({TextBytes(token), Le32(uint32_t(body.size() + 4)), TextBytes(form), body});
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

// A header list with `count` stream lists whose headers claim the largest
// values everywhere.
Bytes ManyStreams(size_t count) {
  const ChunkBuilder riff;
  Bytes strh = Concat({TextBytes("vids"), TextBytes("dvsd"), Bytes(48, 0xFF)});
  Bytes strf = Concat({Le32(40), Bytes(36, 0xFF)});
  const Bytes strl = riff.List("strl", {riff.Chunk("strh", strh), riff.Chunk("strf", strf)});
  const Bytes avih = riff.Chunk("avih", Bytes(56, 0xFF));
  const Bytes lists = Repeat(strl, std::min(count * strl.size(), kMegabyte - 200));
  return Form("RIFF", "AVI ", riff.List("hdrl", {avih, lists}));
}

// A super index of `count` entries that all name the one standard index of
// a file of 20,000 frames.
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
  // Noise in the frame bodies only: the chunk filler bytes are 0x11.
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = bytes[i] == 0x11 ? noise[i] : bytes[i];
  return bytes;
}

std::vector<std::pair<std::string, Bytes>> HostileFiles() {
  const ChunkBuilder riff;
  const auto built = [](const avitest::Layout& layout) { return avitest::Build(layout).bytes; };
  // 40,000 frames of 0 bytes indexed in reverse order (every match starts
  // from the beginning) and all at one offset.
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
  // Frames whose sizes overrun the list, each sending the scan into its
  // recovery; and a list of noise.
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
      {"nested-lists.avi", Form("RIFF", "AVI ", NestedLists(80000))},
      {"nested-lists.riff", Form("RIFF", "TEST", NestedLists(80000))},
      {"many-streams.avi", ManyStreams(8000)},
      {"many-chunks.wav",
       Form("RIFF", "WAVE", Repeat(Concat({TextBytes("abcd"), Le32(0)}), kMegabyte - 100))},
      {"random.iff", Form("FORM", "8SVX", RandomBytes(kMegabyte - 100, 4))},
      {"dv-noise.avi", DvNoise()},
  };
}

TEST(ResourceBoundsTest, HostileMegabyteFilesStayWithinTimeAndMemory) {
  ScratchDir dir;
  for (const auto& [name, bytes] : HostileFiles()) {
    SCOPED_TRACE(name);
    ASSERT_LE(bytes.size(), 1048576u);
    const std::string path = dir.Write(name, bytes);
    const bool repair = name == "super-index-repeated.avi";
    const std::vector<std::string> args =
        repair ? std::vector<std::string>{CLIPSMITH_BINARY, "-xi", path, "-o", dir.File("out.avi")}
               : std::vector<std::string>{CLIPSMITH_BINARY, path};
    const apptest::ChildOutcome run = apptest::ChildProcess::Run(args, 5 * kSecondsAllowed);
    ASSERT_TRUE(run.started);
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_LT(run.seconds, kSecondsAllowed);
    EXPECT_TRUE(kSanitized || run.peakKiB < kPeakKiBAllowed) << run.peakKiB;
    EXPECT_NE(run.out.find("Total Files processed: 1,"), std::string::npos);
  }
}

constexpr uint32_t kClaim = 0xFFFFFFF0;
constexpr size_t kLargestAllowed = 8 * 1048576;

// A small OpenDML AVI with idx1, two streams, standard and super indexes.
Bytes SmallAvi() {
  avitest::Layout layout = avitest::VideoAudioLayout(
      {{"00dc", 16, true}, {"01wb", 8, true}, {"00dc", 16, false}, {"01wb", 8, true}});
  layout.standardIndexes = true;
  layout.odmlHeader = true;
  layout.odmlFrames = 2;
  return avitest::Build(layout).bytes;
}

struct Claim {
  const char* where;
  const char* tag;
  int offsetFromTag;  // where the claimed value sits relative to the tag
};

// Sizes of chunks and lists, then counts and sizes inside index entries.
const Claim kAviClaims[] = {
    {"RIFF size", "RIFF", 4},
    {"hdrl size", "hdrl", -4},
    {"avih size", "avih", 4},
    {"stream count", "avih", 8 + 24},
    {"strl size", "strl", -4},
    {"strh size", "strh", 4},
    {"strh length", "strh", 8 + 32},
    {"strh buffer size", "strh", 8 + 36},
    {"strf size", "strf", 4},
    {"bitmap colours", "strf", 8 + 32},
    {"indx size", "indx", 4},
    {"indx entries", "indx", 8 + 4},
    {"super entry size", "indx", 8 + 24 + 8},
    {"super entry duration", "indx", 8 + 24 + 12},
    {"odml size", "odml", -4},
    {"dmlh size", "dmlh", 4},
    {"movi size", "movi", -4},
    {"frame size", "00dc", 4},
    {"ix00 size", "ix00", 4},
    {"ix00 entries", "ix00", 8 + 4},
    {"idx1 size", "idx1", 4},
    {"idx1 length", "idx1", 8 + 12},
};

Bytes WithClaim(Bytes bytes, const Claim& claim) {
  const int64_t tag = testsupport::FindToken(bytes, claim.tag);
  EXPECT_GE(tag, 0) << claim.where;
  if (tag >= 0) {
    for (int i = 0; i < 4; ++i) bytes[tag + claim.offsetFromTag + i] = uint8_t(kClaim >> (8 * i));
  }
  bytes.resize(1024, 0);
  return bytes;
}

// Reading at three verbosities, and writing three ways.
void ExpectNoHugeAllocation(const std::string& path, const ScratchDir& dir,
                            const std::string& where) {
  const std::vector<std::pair<const char*, void (*)(RunOptions&)>> settings = {
      {"defaults", [](RunOptions&) {}},
      {"-v6", [](RunOptions& o) { o.report.verbosity = 6; }},
      {"-c -v0",
       [](RunOptions& o) {
         o.scan.checkIndexes = false;
         o.report.verbosity = 0;
       }},
      {"-rx", [](RunOptions& o) { o.writer.writeIdx1 = true; }},
      {"-xi", [](RunOptions& o) { o.scan.switchXi = true; }},
      {"-sf -q2", [](RunOptions& o) {
         o.writer.splitSize = 4096;
         o.scan.switchQ2 = true;
       }}};
  for (size_t i = 0; i < settings.size(); ++i) {
    RunOptions options;
    settings[i].second(options);
    std::ostringstream out, err;
    ReportOutput report(out, err, ConsoleState());
    const testsupport::AllocationProbe probe;
    FormatProbe::RunFile(path, i >= 3 ? dir.File("out.avi") : std::string(), options, report);
    EXPECT_LT(probe.LargestRequest(), kLargestAllowed) << where << " with " << settings[i].first;
  }
}

TEST(ResourceBoundsTest, AClaimedFourGigabyteSizeAllocatesNothingOfThatSize) {
  ScratchDir dir;
  const Bytes base = SmallAvi();
  ASSERT_LE(base.size(), 1024u);
  for (const Claim& claim : kAviClaims) {
    ExpectNoHugeAllocation(dir.Write("claim.avi", WithClaim(base, claim)), dir, claim.where);
  }
  // The same in the generic chunk walker: a WAVE file's chunks and INFO list.
  const ChunkBuilder riff;
  const Bytes wave = riff.Riff(
      "WAVE",
      {riff.Chunk("fmt ", Concat({testsupport::Le16(1), testsupport::Le16(1), Le32(8000),
                                  Le32(16000), testsupport::Le16(2), testsupport::Le16(16)})),
       riff.List("INFO", {riff.Chunk("INAM", TextBytes("name"))}),
       riff.Chunk("data", Bytes(64, 0))});
  const Claim kWaveClaims[] = {{"RIFF size", "RIFF", 4},
                               {"fmt size", "fmt ", 4},
                               {"INFO size", "INFO", -4},
                               {"INAM size", "INAM", 4},
                               {"data size", "data", 4}};
  for (const Claim& claim : kWaveClaims) {
    ExpectNoHugeAllocation(dir.Write("claim.wav", WithClaim(wave, claim)), dir, claim.where);
  }
}

}  // namespace
