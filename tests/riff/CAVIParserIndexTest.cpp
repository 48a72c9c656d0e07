// The AVI indexes ('idx1', 'indx', 'ix##') and their matching against the
// chunks the 'movi' scan found: built files whose every offset is known, and
// real encoder files whose index the tests damage.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "AviIndexTestFiles.h"
#include "TestSupport.h"
#include "core/FourCC.h"
#include "riff/CAVIParser.h"

namespace {

using avitest::Built;
using avitest::Chunk;
using avitest::Idx1Kind;
using avitest::Idx1Row;
using avitest::Layout;
using testsupport::Bytes;
using testsupport::Concat;
using testsupport::ExpectInOrder;
using testsupport::Indent;
using testsupport::Le16;
using testsupport::Le32;
using testsupport::ParseRun;
using testsupport::TextBytes;
using testsupport::Trimmed;
using Lines = std::vector<std::string>;

// Two streams, interleaved: four video frames (the 2nd and 4th not key
// frames) and four audio chunks. The 'movi' list type word lies at 320; the
// chunks at offsets 4, 112, 4120, 4218, 8226, 8344, 12352 and 12456 from it.
Layout TwoStreams() {
  return avitest::VideoAudioLayout({{"00dc", 100}, {"01wb", 4000}, {"00dc", 90, false},
                                  {"01wb", 4000}, {"00dc", 110}, {"01wb", 4000},
                                  {"00dc", 95, false}, {"01wb", 4000}});
}

const std::vector<uint32_t> kIndexedFlags = {0x10, 0x10, 0, 0x10, 0x10, 0x10, 0, 0x10};

RunOptions Verbose() {
  RunOptions options;
  options.report.verbosity = 3;
  return options;
}

struct Outcome {
  ParseRun run;
  std::vector<uint32_t> flags;  // of the 'movi' entries, in order
  std::vector<MoviEntry> movi;  // copies without owned payloads
};

Outcome ParseBytes(const Bytes& bytes, const RunOptions& options = RunOptions()) {
  Outcome outcome;
  outcome.run = testsupport::RunParserOnBytes<CAVIParser>(
      bytes, options,
      [&](CAVIParser& parser) {
        for (const MoviEntry& entry : parser.Model().movi) {
          outcome.flags.push_back(entry.flags);
          MoviEntry copy;
          copy.chunkId = entry.chunkId;
          copy.size = entry.size;
          copy.flags = entry.flags;
          copy.segment = entry.segment;
          copy.offset = entry.offset;
          copy.payloadPosition = entry.payloadPosition;
          outcome.movi.push_back(std::move(copy));
        }
      },
      "clip.avi");
  return outcome;
}

Outcome ParseLayout(const Layout& layout, const RunOptions& options = RunOptions()) {
  return ParseBytes(avitest::Build(layout).bytes, options);
}

// The lines under the `nth` line (from 0) whose text is `text`.
Lines Below(const ParseRun& run, const std::string& text, size_t nth = 0) {
  Lines below;
  size_t seen = 0;
  for (size_t i = 0; i < run.lines.size(); ++i) {
    if (Trimmed(run.lines[i]) != text || seen++ != nth) continue;
    const size_t indent = Indent(run.lines[i]);
    for (size_t j = i + 1; j < run.lines.size() && Indent(run.lines[j]) > indent; ++j) {
      below.push_back(run.lines[j]);
    }
    break;
  }
  return below;
}

// The lines under the (first) 'movi' list.
Lines MoviList(const ParseRun& run) {
  for (const std::string& line : run.lines) {
    const std::string text = Trimmed(line);
    if (text.size() > 15 && text.compare(text.size() - 15, 15, ": AVI movi List") == 0) {
      return Below(run, text);
    }
  }
  return Lines();
}

// The lines of an index chunk before its assignment.
Lines Entries(const Lines& chunk) {
  const auto end = std::find_if(chunk.begin(), chunk.end(), [](const std::string& line) {
    return Trimmed(line) == "Assign Index to 'movi'-Entries";
  });
  return Lines(chunk.begin(), end);
}

// The assignment that follows the 'idx1' chunk.
Lines Idx1Assignment(const ParseRun& run) {
  return Below(run, "Assign Index to 'movi'-Entries", 1);
}

Lines Messages(const ParseRun& run) {
  Lines messages;
  for (const std::string& line : run.lines) {
    if (Trimmed(line).rfind("*** ", 0) == 0) messages.push_back(Trimmed(line));
  }
  return messages;
}

bool Contains(const Lines& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

size_t CountStartingWith(const ParseRun& run, const std::string& prefix) {
  return static_cast<size_t>(std::count_if(run.lines.begin(), run.lines.end(), [&](const auto& l) {
    return Trimmed(l).rfind(prefix, 0) == 0;
  }));
}

// ---------------------------------------------------------------------------
// 'idx1'

TEST(CAVIParserIndexTest, RelativeAndAbsoluteOffsetsGiveTheSameEntries) {
  Layout absolute = TwoStreams();
  absolute.idx1 = Idx1Kind::kAbsolute;
  const Outcome relativeRun = ParseLayout(TwoStreams());
  const Outcome absoluteRun = ParseLayout(absolute);
  EXPECT_EQ(relativeRun.flags, kIndexedFlags);
  EXPECT_EQ(absoluteRun.flags, kIndexedFlags);
  ExpectInOrder(Below(relativeRun.run, "'idx1' Entry #2"),
                {"08 ChunkOffset: 4120", "12 ChunkLength: 90", "-> Position: 4440"});
  ExpectInOrder(Below(absoluteRun.run, "'idx1' Entry #2"),
                {"08 ChunkOffset: 4440", "12 ChunkLength: 90", "-> Position: 4440"});
  // All matched: nothing under the assignment at this verbosity.
  EXPECT_TRUE(Idx1Assignment(relativeRun.run).empty());
  EXPECT_TRUE(Idx1Assignment(absoluteRun.run).empty());

  // Without index checks nothing is read, matched or flagged.
  RunOptions unchecked;
  unchecked.scan.checkIndexes = false;
  const Outcome uncheckedRun = ParseLayout(TwoStreams(), unchecked);
  EXPECT_TRUE(uncheckedRun.flags.empty());
  EXPECT_EQ(CountStartingWith(uncheckedRun.run, "'idx1' Entry #"), 0u);
  EXPECT_EQ(CountStartingWith(uncheckedRun.run, "Assign Index"), 0u);
}

TEST(CAVIParserIndexTest, EntriesThatMissTheirChunkAreReported) {
  // Four bytes beyond: inside the chunk of the same id, not assigned.
  Layout late = TwoStreams();
  late.editIdx1 = [](std::vector<Idx1Row>& rows) { rows[2].offset += 4; };
  const Outcome lateRun = ParseLayout(late, Verbose());
  ExpectInOrder(
      Idx1Assignment(lateRun.run),
      {"'01wb': 4 Index Entries", "'00dc': 4 Index Entries",
       "*** Error: Not all Index Entries matched a 'movi' Entry ('00dc')!", "Index Entry #1",
       "Offset: 4132", "Entry Pos/Size (4132/90) mismatches 'movi' Pos/Size (4120/90)!",
       "*** Warning: Entry not assigned!"});

  // A wrong id or length on an entry that matches.
  Layout mislabelled = TwoStreams();
  mislabelled.editIdx1 = [](std::vector<Idx1Row>& rows) {
    rows[1].id = "00dc";
    rows[4].length = 111;
  };
  const Lines block = Idx1Assignment(ParseLayout(mislabelled, Verbose()).run);
  EXPECT_TRUE(
      Contains(block, "              Entry Type ('00dc') mismatches 'movi' Type ('01wb')!"));
  EXPECT_TRUE(Contains(block, "              Entry Size (111) mismatches 'movi' Size (110)!"));
}

TEST(CAVIParserIndexTest, EntriesInReverseOrderAreReportedAndStillMatched) {
  Layout reversed = TwoStreams();
  reversed.editIdx1 = [](std::vector<Idx1Row>& rows) { std::reverse(rows.begin(), rows.end()); };
  const Outcome run = ParseLayout(reversed);
  const Lines block = Idx1Assignment(run.run);
  ExpectInOrder(block, {"*** Error: Index Sequence out of order ('01wb')!", "Index Entry #0",
                        "Offset: 12464", "Position: 12784", "*** Warning: Entry not assigned!",
                        "Index Entry #2", "Offset: 4226", "*** Warning: Entry not assigned!",
                        "*** Error: Index Sequence out of order ('00dc')!"});
  // The three '00dc' entries out of order, no errors.
  EXPECT_EQ(testsupport::CountText(block, "Entry not assigned!"), 6u);
  EXPECT_EQ(testsupport::CountText(block, "Error"), 2u);
  EXPECT_EQ(run.flags, kIndexedFlags);
  EXPECT_TRUE(
      Contains(Below(run.run, "Statistics"),
               "      Index defines out-of-sequence/duplicate frames, but AVIF_MUSTUSEINDEX "
               "is not set in AVIMainHeader!"));

  // A file that says its index must be used may list chunks in any order.
  reversed.mainFlags |= 0x20;
  const Outcome mustUse = ParseLayout(reversed);
  EXPECT_TRUE(Contains(Messages(mustUse.run), "*** Info: Index Sequence out of order ('01wb')!"));
  EXPECT_FALSE(Contains(Messages(mustUse.run), "*** Error: Index Sequence out of order ('01wb')!"));
  EXPECT_EQ(mustUse.flags, kIndexedFlags);
}

TEST(CAVIParserIndexTest, AnUnknownSkewLeavesTheIndexOut) {
  Layout skewed = TwoStreams();
  skewed.editIdx1 = [](std::vector<Idx1Row>& rows) {
    for (Idx1Row& row : rows) row.offset += 1000000;
  };
  const Outcome run = ParseLayout(skewed);
  const Lines idx1 = Below(run.run, "'idx1' (128): AVI Old Index Chunk");
  ExpectInOrder(idx1,
                {"'idx1' Entry #0", "08 ChunkOffset: 1000004", "-> Position: 1000324",
                 "*** Error: Unknown Skew for Offset!",
                 "*** Warning: The remaining 'idx1' Entries are not matched to 'movi' Entries!",
                 "'idx1' Entry #1"});
  EXPECT_TRUE(Idx1Assignment(run.run).empty());
  EXPECT_EQ(run.flags, std::vector<uint32_t>(8, 0));
  // The entries still count as what the index holds.
  EXPECT_TRUE(Contains(Below(run.run, "Statistics"),
                       "          '00dc': 4 (Dropped: 0), 'Idx1': 4 (Key: 2), ODML: 0!"));
}

TEST(CAVIParserIndexTest, EntryChecksAndTraceLimits) {
  Layout layout = TwoStreams();
  layout.editIdx1 = [](std::vector<Idx1Row>& rows) {
    rows.insert(rows.begin(), Idx1Row{"rec ", 0x1, 0, 0});  // the skew is decided after it
    rows.push_back({"rec ", 0x10, 4, 100});
    rows.push_back({"00dc", 0x11, 4, 100});
    rows.push_back({"05dc", 0x10, 4, 100});
  };
  RunOptions limited;
  limited.report.idx1TraceLimit = 2;
  const Outcome run = ParseLayout(layout, limited);
  const Lines idx1 = Entries(Below(run.run, "'idx1' (192): AVI Old Index Chunk"));
  ExpectInOrder(idx1,
                {"'idx1' Entry #9", "*** Error: 'rec ' Entry not marked as AVIIF_LIST!",
                 "'idx1' Entry #10", "*** Error: Entry marked as AVIIF_LIST, but is not 'rec '!",
                 "'idx1' Entry #11", "*** Error: Stream Number greater than defined Streams!",
                 "'idx1' Entry #11", "00 ckid: '05dc'", "-> Position: 324"});
  EXPECT_EQ(CountStartingWith(run.run, "'idx1' Entry #"), 2u + 4u);  // #0, #1, 3 reports, last
  EXPECT_EQ(run.flags, kIndexedFlags);
  // Entries of no stream are not counted; LIST entries are neither counted
  // nor matched.
  EXPECT_TRUE(Contains(Below(run.run, "Statistics"),
                       "          '00dc': 4 (Dropped: 0), 'Idx1': 4 (Key: 2), ODML: 0!"));
  EXPECT_TRUE(Contains(Messages(run.run),
                       "*** Error: Not all Index Entries matched a 'movi' Entry ('05dc')!"));

  // A limit of 0 skips the index unread.
  RunOptions silent;
  silent.report.idx1TraceLimit = 0;
  const Outcome skipped = ParseLayout(TwoStreams(), silent);
  EXPECT_EQ(CountStartingWith(skipped.run, "'idx1' Entry #"), 0u);
  EXPECT_EQ(skipped.flags, std::vector<uint32_t>(8, 0));
  EXPECT_TRUE(Contains(Below(skipped.run, "Statistics"),
                       "          '00dc': 4 (Dropped: 0), 'Idx1': 0 (Key: 0), ODML: 0!"));
}

TEST(CAVIParserIndexTest, AnIndexEndsAtAFollowingSegmentOrWithItsLeftOverBytes) {
  // Left-over bytes after the last entry.
  Layout tail = TwoStreams();
  tail.idx1Tail = Bytes(5, 0);
  const Lines idx1 = Below(ParseLayout(tail).run, "'idx1' (133): AVI Old Index Chunk");
  ASSERT_GE(idx1.size(), 2u);
  EXPECT_EQ(idx1[idx1.size() - 2], "        *** Error: Chunk Size mismatch!");
  EXPECT_EQ(idx1.back(), "        Assign Index to 'movi'-Entries");

  // An index (and its segment) whose size runs into the next segment.
  const testsupport::ChunkBuilder riff;
  Bytes bytes = avitest::Build(TwoStreams()).bytes;
  const Bytes next = riff.Riff("AVIX", {riff.List("movi", {riff.Chunk("00dc", Bytes(10, 1))})});
  bytes.insert(bytes.end(), next.begin(), next.end());
  const size_t idx1Size = bytes.size() - next.size() - 128 - 4;
  std::memcpy(bytes.data() + idx1Size, Le32(128 + 16).data(), 4);
  std::memcpy(bytes.data() + 4, Le32(static_cast<uint32_t>(bytes.size() - 8)).data(), 4);
  const Outcome run = ParseBytes(bytes);
  EXPECT_EQ(CountStartingWith(run.run, "'idx1' Entry #"), 8u);
  EXPECT_TRUE(Contains(Messages(run.run), "*** Error: Unexpected Token, recovered!"));
  EXPECT_EQ(CountStartingWith(run.run, "'RIFF' (34) 'AVIX': RIFF AVI Chunk, Segment #2"), 1u);
  EXPECT_EQ(run.flags, (std::vector<uint32_t>{0x10, 0x10, 0, 0x10, 0x10, 0x10, 0, 0x10, 0}));
}

// ---------------------------------------------------------------------------
// A real encoder file with its index damaged: mjpeg_pcm.avi holds five
// '00dc' and four '01wb' chunks; the 'movi' list type word lies at 9944 and
// the 'idx1' rows (offsets relative to it) start at 33454.

constexpr size_t kSampleListType = 9944;
constexpr size_t kSampleRows = 33454;

Bytes SampleBytes() {
  std::ifstream file(std::string(CLIPSMITH_TEST_DATA) + "/avi/mjpeg_pcm.avi", std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

uint32_t RowOffset(const Bytes& bytes, size_t row) {
  const uint8_t* at = bytes.data() + kSampleRows + 16 * row + 8;
  return static_cast<uint32_t>(at[0] | at[1] << 8 | at[2] << 16) | static_cast<uint32_t>(at[3])
                                                                       << 24;
}

void SetRowOffset(Bytes& bytes, size_t row, uint32_t offset) {
  std::memcpy(bytes.data() + kSampleRows + 16 * row + 8, Le32(offset).data(), 4);
}

TEST(CAVIParserIndexTest, DamagedIndexesOfARealFileGiveTheirMessages) {
  const Bytes original = SampleBytes();
  ASSERT_EQ(original.size(), 33598u);
  const Outcome clean = ParseBytes(original, Verbose());
  EXPECT_EQ(clean.flags, std::vector<uint32_t>(9, 0x10));
  EXPECT_EQ(Idx1Assignment(clean.run),
            (Lines{"          '01wb': 4 Index Entries", "          '00dc': 5 Index Entries"}));

  // The third row (the second '00dc') 4 bytes early.
  Bytes shifted = original;
  SetRowOffset(shifted, 2, RowOffset(original, 2) - 4);
  const Lines shiftedBlock = Idx1Assignment(ParseBytes(shifted, Verbose()).run);
  ExpectInOrder(shiftedBlock,
                {"*** Error: Not all Index Entries matched a 'movi' Entry ('00dc')!",
                 "Index Entry #1", "assigned: 1, flags: 0x00000010", "Position: 15100",
                 "Entry Offset (5160) misaligned to 'movi' Offset (5156)!"});

  // A frame dropped by the scan: the fourth '00dc' chunk's id is garbage.
  // The '01wb' chunk before it, in doubt, is confirmed by its entry.
  Bytes dropped = original;
  std::memcpy(dropped.data() + kSampleListType + RowOffset(original, 4), "zzzz", 4);
  const Lines droppedBlock = Idx1Assignment(ParseBytes(dropped, Verbose()).run);
  ExpectInOrder(droppedBlock,
                {"*** Error: Not all Index Entries matched a 'movi' Entry ('00dc')!",
                 "Index Entry #2", "Offset: 10308", "*** Warning: Entry not assigned!"});
}

// ---------------------------------------------------------------------------
// OpenDML indexes

TEST(CAVIParserIndexTest, SuperAndStandardIndexesAreDumpedAndMatched) {
  Layout layout = TwoStreams();
  layout.standardIndexes = true;
  layout.odmlHeader = true;
  layout.odmlFrames = 4;
  layout.idx1 = Idx1Kind::kNone;
  RunOptions options;
  options.report.indxTraceLimit = 2;
  const Outcome run = ParseLayout(layout, options);
  // The 'movi' list type word lies at 684; 'ix00' follows the data at 16464.
  EXPECT_EQ(
      Below(run.run, "'indx' (40): AVI Stream Index"),
      (Lines{"            00 LongsPerEntry: 4", "            02 IndexSubType: 0 Default Frames",
             "            03 IndexType: 0 IndexOfIndexes", "            04 EntriesInUse: 1",
             "            08 ChunkId: '00dc'", "            12 Reserved1: 0",
             "            16 Reserved2: 0", "            20 Reserved3: 0",
             "            'indx' Entry #0", "              00 Offset: 17148",
             "              08 Size: 64", "              12 Duration: 4"}));
  ExpectInOrder(
      Below(run.run, "'ix00' (56): 'movi' Entry #8"),
      {"03 IndexType: 1 IndexOfChunks Standard Frame", "04 EntriesInUse: 4", "12 BaseOffset: 684",
       "'indx' Entry #0", "04 Size: 100 Keyframe", "-> Position: 696", "'indx' Entry #1",
       "04 Size: 90 NON-Keyframe", "-> Position: 4812"});
  EXPECT_EQ(run.flags, kIndexedFlags);
  EXPECT_TRUE(Below(run.run, "Assign Index to 'movi'-Entries").empty());
}

// A standard index chunk for the end of the 'movi' list.
Bytes IndexChunk(const std::string& id, uint16_t longs, uint8_t subType, uint8_t type,
                 uint32_t inUse, const std::string& chunkId, const Bytes& rest) {
  return testsupport::ChunkBuilder().Chunk(
      id, Concat({Le16(longs), Bytes{subType, type}, Le32(inUse), TextBytes(chunkId), rest}));
}

TEST(CAVIParserIndexTest, StandardIndexChunksAreChecked) {
  Layout layout = TwoStreams();
  layout.idx1 = Idx1Kind::kNone;
  const uint32_t base = static_cast<uint32_t>(avitest::Build(layout).moviTypePos);
  layout.moviExtra = Concat({
      IndexChunk("ix00", 2, 0, 1, 0, "00dc", Bytes(20000 - 12, 0)),
      IndexChunk("ix01", 4, 0, 0, 0, "01wb", Bytes(12, 0)),
      // Claims 1000 entries and holds two (the first two frames).
      IndexChunk("ix00", 2, 0, 1, 1000, "00dc",
                 Concat({Le32(base), Bytes(8, 0), Le32(12), Le32(100), Le32(4128),
                         Le32(90 | 0x80000000u)})),
      IndexChunk("ix00", 8, 0, 0x80, 1, "tcdl", Bytes(12 + 32, 0)),
      IndexChunk("ix00", 8, 0, 0x80, 1, "time", Bytes(12 + 32, 0)),
      IndexChunk("ix00", 7, 0, 0x80, 0, "time", Bytes(12, 0)),
  });
  const Outcome run = ParseLayout(layout);
  ParseRun movi;
  movi.lines = MoviList(run.run);
  EXPECT_EQ(Messages(movi),
            (Lines{"*** Error: Wrong Index size!",
                   "*** Error: Wrong Location of IndexOfIndexes, should be in Header!",
                   "*** Error: Wrong FOURCC, should be 'tcdl' for IndexOfDiscontinuedTimecode!",
                   "*** Error: Unknown LongsPerEntry!", "*** Error: Wrong IndexOfTimecode!"}));
  EXPECT_EQ(CountStartingWith(run.run, "'indx' Entry #"), 2u + 1u + 1u);
  ExpectInOrder(Below(run.run, "'ix00' (56): 'movi' Entry #11"),
                {"03 IndexType: 128 IndexIsData TimcodeDiscontinuity", "08 ChunkId: 'tcdl'",
                 "'indx' Entry #0", "04 time.FrameRate: 0 30/Drop Frame", "20 ReelId: \"\""});
  EXPECT_TRUE(Contains(Below(run.run, "Statistics"),
                       "          'ix00': 5 (Dropped: 0), 'Idx1': 0 (Key: 0), ODML: 4!"));
}

TEST(CAVIParserIndexTest, StandardIndexOffsetsBeyondFourGigabytesDoNotWrap) {
  Layout layout = TwoStreams();
  layout.idx1 = Idx1Kind::kNone;
  const uint64_t base = avitest::Build(layout).moviTypePos + (uint64_t{1} << 32);
  // Modulo 2^32 its entry would name the payload of the first chunk.
  layout.moviExtra =
      IndexChunk("ix00", 2, 0, 1, 1, "00dc",
                 Concat({Le32(static_cast<uint32_t>(base)), Le32(static_cast<uint32_t>(base >> 32)),
                         Le32(0), Le32(12), Le32(100)}));
  const Bytes bytes = avitest::Build(layout).bytes;
  const Outcome small = ParseBytes(bytes);
  EXPECT_EQ(small.flags[0], 0x10u);

  testsupport::ScratchDir dir;
  const std::string path = dir.Write("large.avi", bytes);
  std::error_code error;
  std::filesystem::resize_file(path, (uint64_t{1} << 32) + 4096, error);
  if (error) GTEST_SKIP() << "no sparse file: " << error.message();
  std::vector<uint32_t> flags;
  const ParseRun large = testsupport::RunParserOnFile<CAVIParser>(
      path, RunOptions(), [&](CAVIParser& parser) {
        for (const MoviEntry& entry : parser.Model().movi) flags.push_back(entry.flags);
      });
  ASSERT_EQ(flags.size(), 8u);
  EXPECT_EQ(flags[0], 0u);
  EXPECT_TRUE(Contains(Messages(large),
                       "*** Error: Not all Index Entries matched a 'movi' Entry ('00dc')!"));
}

TEST(CAVIParserIndexTest, SwitchXiTakesTheFramesFromTheStandardIndexes) {
  Layout layout = TwoStreams();
  layout.standardIndexes = true;
  layout.odmlHeader = true;
  RunOptions options;
  options.scan.switchXi = true;
  const Outcome run = ParseLayout(layout, options);
  // The first stream's super index leads to its frames only.
  ASSERT_EQ(run.movi.size(), 4u);
  const uint64_t offsets[] = {4, 4120, 8226, 12352};
  const uint32_t sizes[] = {100, 90, 110, 95};
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(run.movi[i].chunkId, FourCC("00dc"));
    EXPECT_EQ(run.movi[i].offset, offsets[i]);
    EXPECT_EQ(run.movi[i].payloadPosition, 684 + offsets[i] + 8);
    EXPECT_EQ(run.movi[i].size, sizes[i]);
    EXPECT_EQ(run.movi[i].segment, 1);
    EXPECT_EQ(run.movi[i].flags, kIndexedFlags[2 * i]);
  }
  EXPECT_EQ(CountStartingWith(run.run, "Statistics"), 0u);

  // A super index entry beyond the end of the file is reported and passed.
  layout.standardIndexes = false;
  const testsupport::ChunkBuilder riff;
  layout.streams[0].extra =
      riff.Chunk("indx", Concat({Le16(4), Bytes{0, 0}, Le32(1), TextBytes("00dc"), Bytes(12, 0),
                                 Le32(0xFFFFFF00), Le32(7), Le32(16384), Le32(4)}));
  const Outcome beyond = ParseLayout(layout, options);
  EXPECT_TRUE(beyond.movi.empty());
  EXPECT_TRUE(
      Contains(Messages(beyond.run), "*** Error: Super Index Entry Offset beyond File Size!"));

  // A super index naming one standard index twice, and once more 8 bytes
  // into it, yields its frames once.
  layout.standardIndexes = true;
  layout.superIndexes = false;
  const auto superIndex = [&](uint32_t indexPos) {
    Bytes entries;
    for (uint32_t position : {indexPos, indexPos, indexPos + 8}) {
      entries = Concat({entries, Le32(position), Le32(0), Le32(64), Le32(4)});
    }
    return riff.Chunk(
        "indx", Concat({Le16(4), Bytes{0, 0}, Le32(3), TextBytes("00dc"), Bytes(12, 0), entries}));
  };
  const auto indexPosition = [](const Bytes& bytes) {
    const char* tag = "ix00";
    return static_cast<uint32_t>(std::search(bytes.begin(), bytes.end(), tag, tag + 4) -
                                 bytes.begin());
  };
  // The super index has the same size whatever it points to.
  layout.streams[0].extra = superIndex(0);
  layout.streams[0].extra = superIndex(indexPosition(avitest::Build(layout).bytes));
  const Outcome repeated = ParseLayout(layout, options);
  EXPECT_EQ(repeated.movi.size(), 4u);
  EXPECT_TRUE(Contains(Messages(repeated.run),
                       "*** Error: Super Index Entries repeating a Standard Index ignored (2)!"));
}

// ---------------------------------------------------------------------------
// Standard indexes away from their chunks

// Two segments as MEncoder lays out its OpenDML files: the first segment
// with its 'idx1', then an 'AVIX' segment whose 'movi' list ends with every
// standard index of the file, each taking the position of its first
// payload as base offset; the audio index covers both segments at once.
Bytes IndexesAtTheEnd() {
  const testsupport::ChunkBuilder riff;
  const Layout header = TwoStreams();
  std::vector<std::string> ids;
  for (int i = 0; i < 5; ++i) ids.insert(ids.end(), {"00dc", "01wb"});
  auto frames = [&](uint8_t fill) {
    std::vector<Bytes> chunks;
    for (const std::string& id : ids)
      chunks.push_back(riff.Chunk(id, Bytes(id == "00dc" ? 31 : 20, fill)));
    return chunks;
  };
  // The payloads of a stream in file order: (position, size).
  using Payloads = std::vector<std::pair<uint64_t, uint32_t>>;
  auto standardIndex = [](const std::string& id, const Payloads& payloads) {
    Bytes entries;
    for (const auto& payload : payloads) {
      entries = Concat({entries, Le32(static_cast<uint32_t>(payload.first - payloads[0].first)),
                        Le32(payload.second)});
    }
    return Concat({Le16(2), Bytes{0, 1}, Le32(static_cast<uint32_t>(payloads.size())),
                   TextBytes(id), Le32(static_cast<uint32_t>(payloads[0].first)), Le32(0), Le32(0),
                   entries});
  };
  auto superIndex = [](const std::string& id, const std::vector<uint64_t>& positions,
                       uint32_t each) {
    Bytes entries;
    for (uint64_t position : positions) {
      entries =
          Concat({entries, Le32(static_cast<uint32_t>(position)), Le32(0), Le32(0), Le32(each)});
    }
    return Concat({Le16(4), Bytes{0, 0}, Le32(static_cast<uint32_t>(positions.size())),
                   TextBytes(id), Le32(0), Le32(0), Le32(0), entries});
  };
  // Pass 1 places everything with zeroed indexes of their final size; pass 2
  // fills them in from the positions pass 1 found.
  std::map<std::string, Payloads> payloads;  // "00dc1", "00dc2", "01wb"
  std::vector<uint64_t> indexAt(3, 0);
  Bytes file;
  for (int pass = 0; pass < 2; ++pass) {
    const bool final = pass == 1;
    auto index = [&](const std::string& id, const std::string& key) {
      return final ? standardIndex(id, payloads[key])
                   : Bytes(24 + 8 * 5 * (key == "01wb" ? 2 : 1), 0);
    };
    std::vector<Bytes> video = {
        riff.Chunk("strh", avitest::StreamHeader(header.streams[0])),
        riff.Chunk("strf", avitest::StreamFormat(header.streams[0])),
        riff.Chunk("indx",
                   final ? superIndex("00dc", {indexAt[0], indexAt[1]}, 5) : Bytes(24 + 32, 0))};
    std::vector<Bytes> audio = {
        riff.Chunk("strh", avitest::StreamHeader(header.streams[1])),
        riff.Chunk("strf", avitest::StreamFormat(header.streams[1])),
        riff.Chunk("indx", final ? superIndex("01wb", {indexAt[2]}, 10) : Bytes(24 + 16, 0))};
    Bytes idx1;
    uint32_t offset = 4;
    for (const Bytes& chunk : frames(1)) {
      idx1 = Concat({idx1, Bytes(chunk.begin(), chunk.begin() + 4), Le32(0x10), Le32(offset),
                     Bytes(chunk.begin() + 4, chunk.begin() + 8)});
      offset += static_cast<uint32_t>(chunk.size());
    }
    std::vector<Bytes> tail = frames(2);
    tail.push_back(riff.Chunk("ix00", index("00dc", "00dc1")));
    tail.push_back(riff.Chunk("ix00", index("00dc", "00dc2")));
    tail.push_back(riff.Chunk("ix01", index("01wb", "01wb")));
    file = Concat(
        {riff.Riff("AVI ", {riff.List("hdrl", {riff.Chunk("avih", avitest::MainHeader(header)),
                                               riff.List("strl", video), riff.List("strl", audio)}),
                            riff.List("movi", frames(1)), riff.Chunk("idx1", idx1)}),
         riff.Riff("AVIX", {riff.List("movi", tail)})});
    // Where pass 1 put the chunks: a walk over both 'movi' lists.
    payloads.clear();
    size_t indexes = 0;
    int segment = 0;
    for (int64_t list = testsupport::FindToken(file, "movi"); list >= 0;
         list = testsupport::FindToken(file, "movi", static_cast<uint64_t>(list) + 4)) {
      ++segment;
      const uint64_t end = static_cast<uint64_t>(list) + testsupport::U32At(file, list - 4);
      for (uint64_t at = list + 4; at + 8 <= end;
           at += 8 + ((testsupport::U32At(file, at + 4) + 1) & ~1u)) {
        const std::string id = testsupport::TokenAt(file, at);
        if (id == "ix00" || id == "ix01") {
          indexAt[indexes++] = at;
        } else {
          payloads[id == "00dc" ? id + std::to_string(segment) : id].push_back(
              {at + 8, testsupport::U32At(file, at + 4)});
        }
      }
    }
  }
  return file;
}

TEST(CAVIParserIndexTest, StandardIndexesAreMatchedByPositionWhicheverSegmentHoldsThem) {
  const Bytes file = IndexesAtTheEnd();
  const Outcome run = ParseBytes(file, Verbose());
  for (const std::string& message : Messages(run.run)) {
    EXPECT_EQ(message.find("Index Sequence out of order"), std::string::npos) << message;
    EXPECT_EQ(message.find("Not all Index Entries matched"), std::string::npos) << message;
    EXPECT_EQ(message.find("Entry not assigned"), std::string::npos) << message;
  }
  EXPECT_EQ(run.movi.size(), 20u);
  // "-xi" follows the super index of the first stream to the same frames.
  RunOptions xi;
  xi.scan.switchXi = true;
  const Outcome indexed = ParseBytes(file, xi);
  ASSERT_EQ(indexed.movi.size(), 10u);
  for (size_t i = 0; i < 10; ++i) {
    EXPECT_EQ(indexed.movi[i].payloadPosition, run.movi[2 * i].payloadPosition) << i;
  }
}

}  // namespace
