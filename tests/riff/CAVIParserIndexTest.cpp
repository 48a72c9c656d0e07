// The AVI indexes ('idx1', 'indx', 'ix##') and their matching against the chunks of the scan.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "AviIndexTestFiles.h"
#include "TestSupport.h"
#include "core/FourCC.h"
#include "riff/CAVIParser.h"

namespace {

using avitest::Idx1Kind;
using avitest::Idx1Row;
using avitest::Layout;
using testsupport::Bytes;
using testsupport::Concat;
using testsupport::Le16;
using testsupport::Le32;
using testsupport::ParseRun;
using testsupport::TextBytes;
using Lines = std::vector<std::string>;
using Flags = std::vector<uint32_t>;

// Four video frames (2nd and 4th not key) and four audio chunks, interleaved;
// 'movi' type word at 320, chunks at 4, 112, 4120, 4218, 8226, 8344, 12352, 12456.
Layout TwoStreams() {
  std::vector<avitest::Chunk> chunks;
  for (const uint32_t size : {100u, 90u, 110u, 95u}) {
    chunks.insert(chunks.end(), {{"00dc", size, size >= 100}, {"01wb", 4000}});
  }
  return avitest::VideoAudioLayout(chunks);
}

const Flags kIndexedFlags = {0x10, 0x10, 0, 0x10, 0x10, 0x10, 0, 0x10};

struct Outcome {
  ParseRun run;
  std::vector<MoviEntry> movi;  // without owned payloads
  Flags flags;
};

Outcome ParseFile(const std::string& path, const RunOptions& options = RunOptions()) {
  Outcome outcome;
  outcome.run = testsupport::RunParserOnFile<CAVIParser>(path, options, [&](CAVIParser& parser) {
    for (const MoviEntry& e : parser.Model().movi) {
      outcome.movi.push_back(
          {e.chunkId, e.size, e.flags, e.segment, e.trust, e.offset, e.payloadPosition, nullptr});
      outcome.flags.push_back(e.flags);
    }
  });
  return outcome;
}

Outcome Parse(const Bytes& bytes, const RunOptions& options = RunOptions()) {
  testsupport::ScratchDir dir;
  return ParseFile(dir.Write("clip.avi", bytes), options);
}

Bytes Built(const std::function<void(Layout&)>& edit) {
  Layout layout = TwoStreams();
  edit(layout);
  return avitest::Build(layout).bytes;
}

Bytes EditedIdx1(const std::function<void(std::vector<Idx1Row>&)>& edit) {
  return Built([&](Layout& l) { l.editIdx1 = edit; });
}

RunOptions Options(const std::function<void(RunOptions&)>& edit) {
  RunOptions options;
  edit(options);
  return options;
}

const RunOptions kVerbose = Options([](RunOptions& o) { o.report.verbosity = 3; });
const RunOptions kSwitchXi = Options([](RunOptions& o) { o.scan.switchXi = true; });

Bytes IndexChunk(const std::string& id, uint16_t longs, uint8_t type, uint32_t inUse,
                 const std::string& chunkId, const Bytes& rest) {
  return testsupport::ChunkBuilder().Chunk(
      id, Concat({Le16(longs), Bytes{0, type}, Le32(inUse), TextBytes(chunkId), rest}));
}

// A super index (of the first stream) with entries (position, size, duration).
Bytes SuperIndex(const std::vector<std::vector<uint32_t>>& entries,
                 const std::string& chunkId = "00dc") {
  Bytes body = Concat({Le16(4), Bytes{0, 0}, Le32(static_cast<uint32_t>(entries.size())),
                       TextBytes(chunkId), Bytes(12, 0)});
  for (const auto& e : entries) body = Concat({body, Le32(e[0]), Le32(0), Le32(e[1]), Le32(e[2])});
  return testsupport::ChunkBuilder().Chunk("indx", body);
}

// mjpeg_pcm.avi: 'movi' type word at 9944, its relative 'idx1' rows at 33454
// (the fifth, of the third '00dc' chunk, at offset 10300).
constexpr size_t kSampleListType = 9944;
constexpr size_t kSampleRows = 33454;

Bytes Sample(size_t at, const std::function<uint32_t(uint32_t)>& value) {
  Bytes bytes = testsupport::ReadFile(std::string(CLIPSMITH_TEST_DATA) + "/avi/mjpeg_pcm.avi");
  const Bytes word = Le32(value(testsupport::U32At(bytes, at)));
  std::copy(word.begin(), word.end(), bytes.begin() + static_cast<long>(at));
  return bytes;
}

// MEncoder's OpenDML layout: all standard indexes at the end of 'AVIX', the audio one covering
// both segments. Each segment: five '00dc' (31 bytes) and '01wb' (20) in turn.
Bytes IndexesAtTheEnd() {
  const testsupport::ChunkBuilder riff;
  std::vector<avitest::Chunk> chunks;
  for (int i = 0; i < 5; ++i) chunks.insert(chunks.end(), {{"00dc", 31}, {"01wb", 20}});
  Layout layout = avitest::VideoAudioLayout(chunks);
  const auto withSuperIndexes = [&](uint32_t at) {
    layout.streams[0].extra = SuperIndex({{at, 0, 5}, {at + 72, 0, 5}});
    layout.streams[1].extra = SuperIndex({{at + 144, 0, 10}}, "01wb");
    return avitest::Build(layout);
  };
  const avitest::Built built = withSuperIndexes(0);
  // Chunk k lies 68 * (k / 2) + 40 * (k % 2) past a list's first payload.
  const uint32_t first = static_cast<uint32_t>(built.moviTypePos + 4 + 8);
  const uint32_t second = static_cast<uint32_t>(built.bytes.size() + 12 + 12 + 8);
  const uint32_t indexAt = second - 8 + 5 * 68;
  std::vector<Bytes> tail;
  for (const auto& c : chunks) tail.push_back(riff.Chunk(c.id, Bytes(c.size, 1)));
  const auto standard = [&](const std::string& id, const std::vector<uint32_t>& bases, uint32_t at,
                            uint32_t size) {
    Bytes entries;
    for (uint32_t base : bases) {
      for (uint32_t i = 0; i < 5; ++i) entries = Concat({entries, Le32(base + 68 * i), Le32(size)});
    }
    tail.push_back(IndexChunk("ix0" + id.substr(1, 1), 2, 1,
                              static_cast<uint32_t>(entries.size() / 8), id,
                              Concat({Le32(at), Le32(0), Le32(0), entries})));
  };
  standard("00dc", {0}, first, 31);
  standard("00dc", {0}, second, 31);
  standard("01wb", {0, second - first}, first + 40, 20);
  return Concat({withSuperIndexes(indexAt).bytes, riff.Riff("AVIX", {riff.List("movi", tail)})});
}

// An 'ix00' based 4 GiB past the 'movi' list, its one entry at 12.
Bytes HighBaseOffset() {
  return Built([](Layout& l) {
    l.idx1 = Idx1Kind::kNone;
    const uint32_t moviAt = static_cast<uint32_t>(avitest::Build(l).moviTypePos);
    l.moviExtra = IndexChunk("ix00", 2, 1, 1, "00dc",
                             Concat({Le32(moviAt), Le32(1), Le32(0), Le32(12), Le32(100)}));
  });
}

using Counts = std::vector<std::pair<std::string, size_t>>;

struct Row {
  const char* name;
  Bytes bytes;
  RunOptions options;
  Lines inOrder;
  std::optional<Flags> flags = std::nullopt;
  Lines absent = {};
  Counts counts = {};
};

const char kStreamCounts[] = "'00dc': 4 (Dropped: 0), 'Idx1': 4 (Key: 2), ODML: 0!";

std::vector<Row> Rows() {
  const Layout base = TwoStreams();
  const uint32_t moviAt = static_cast<uint32_t>(avitest::Build(base).moviTypePos);
  // An index (and its segment) whose size runs 16 bytes into the next segment.
  const testsupport::ChunkBuilder riff;
  const Bytes one = avitest::Build(base).bytes;
  Bytes nextSegment =
      Concat({one, riff.Riff("AVIX", {riff.List("movi", {riff.Chunk("00dc", Bytes(10, 1))})})});
  std::memcpy(nextSegment.data() + one.size() - 128 - 4, Le32(144).data(), 4);
  std::memcpy(nextSegment.data() + 4, Le32(static_cast<uint32_t>(nextSegment.size() - 8)).data(),
              4);
  return {
      // Offsets relative to the list or absolute: all matched.
      {"relative offsets", Built([](Layout&) {}), RunOptions(),
       Lines{"'idx1' Entry #2", "08 ChunkOffset: 4120", "12 ChunkLength: 90", "-> Position: 4440"},
       kIndexedFlags, Lines{"*** Error", "not assigned"}},
      {"absolute offsets", Built([](Layout& l) { l.idx1 = Idx1Kind::kAbsolute; }), RunOptions(),
       Lines{"'idx1' Entry #2", "08 ChunkOffset: 4440", "12 ChunkLength: 90", "-> Position: 4440"},
       kIndexedFlags, Lines{"*** Error", "not assigned"}},
      {"index checks off", Built([](Layout&) {}),
       Options([](RunOptions& o) { o.scan.checkIndexes = false; }), Lines{}, Flags{},
       Lines{"'idx1' Entry #", "Assign Index"}},
      // Four bytes beyond: inside the chunk of the same id, not assigned.
      {"entry late, wrong id and length", EditedIdx1([](std::vector<Idx1Row>& r) {
         r[2].offset += 4;
         r[3].id = "00dc";
         r[4].length = 111;
       }),
       kVerbose,
       Lines{"'01wb': 3 Index Entries", "'00dc': 5 Index Entries",
             "*** Error: Not all Index Entries matched a 'movi' Entry ('00dc')!", "Index Entry #1",
             "Offset: 4132", "Entry Pos/Size (4132/90) mismatches 'movi' Pos/Size (4120/90)!",
             "*** Warning: Entry not assigned!",
             "Entry Type ('00dc') mismatches 'movi' Type ('01wb')!",
             "Entry Size (111) mismatches 'movi' Size (110)!"}},
      // A dropped frame in a low-overhead file belongs to the chunk it ends.
      {"empty entry at a payload's end", EditedIdx1([](std::vector<Idx1Row>& r) {
         r.push_back({"00dc", 0, 12352 + 95, 0});
       }),
       RunOptions(), Lines{"'00dc': 4 (Dropped: 1), 'Idx1': 5 (Key: 2), ODML: 0!"}, kIndexedFlags,
       Lines{"*** Error"}},
      // The three '00dc' entries out of order are not errors.
      {"reversed", EditedIdx1([](std::vector<Idx1Row>& r) { std::reverse(r.begin(), r.end()); }),
       RunOptions(),
       Lines{"*** Error: Index Sequence out of order ('01wb')!", "Index Entry #0", "Offset: 12464",
             "*** Warning: Entry not assigned!", "*** Error: Index Sequence out of order ('00dc')!",
             "Index defines out-of-sequence/duplicate frames, but AVIF_MUSTUSEINDEX is not set in "
             "AVIMainHeader!"},
       kIndexedFlags, Lines{}, Counts{{"Entry not assigned!", 6}, {"Error", 2}}},
      // A file that says its index must be used may list chunks in any order.
      {"reversed, must use the index", Built([](Layout& l) {
         l.mainFlags |= 0x20;
         l.editIdx1 = [](std::vector<Idx1Row>& r) { std::reverse(r.begin(), r.end()); };
       }),
       RunOptions(), Lines{"*** Info: Index Sequence out of order ('01wb')!"}, kIndexedFlags,
       Lines{"*** Error: Index Sequence"}},
      // The entries still count as what the index holds.
      {"unknown skew", EditedIdx1([](std::vector<Idx1Row>& r) {
         for (Idx1Row& row : r) row.offset += 1000000;
       }),
       RunOptions(),
       Lines{"'idx1' Entry #0", "08 ChunkOffset: 1000004", "-> Position: 1000324",
             "*** Error: Unknown Skew for Offset!",
             "*** Warning: The remaining 'idx1' Entries are not matched to 'movi' Entries!",
             "'idx1' Entry #1", kStreamCounts},
       Flags(8, 0)},
      // Skew decided after the 'rec ' entry; LIST entries neither counted nor matched.
      {"entry checks, trace limit 2", EditedIdx1([](std::vector<Idx1Row>& r) {
         r.insert(r.begin(), Idx1Row{"rec ", 0x1, 0, 0});
         r.push_back({"rec ", 0x10, 4, 100});
         r.push_back({"00dc", 0x11, 4, 100});
         r.push_back({"05dc", 0x10, 4, 100});
       }),
       Options([](RunOptions& o) { o.report.idx1TraceLimit = 2; }),
       Lines{"'idx1' Entry #9", "*** Error: 'rec ' Entry not marked as AVIIF_LIST!",
             "'idx1' Entry #10", "*** Error: Entry marked as AVIIF_LIST, but is not 'rec '!",
             "'idx1' Entry #11", "*** Error: Stream Number greater than defined Streams!",
             "'idx1' Entry #11", "00 ckid: '05dc'", "-> Position: 324",
             "*** Error: Not all Index Entries matched a 'movi' Entry ('05dc')!", kStreamCounts},
       kIndexedFlags, Lines{}, Counts{{"'idx1' Entry #", 2 + 4}}},
      {"trace limit 0 skips the index", Built([](Layout&) {}),
       Options([](RunOptions& o) { o.report.idx1TraceLimit = 0; }),
       Lines{"'00dc': 4 (Dropped: 0), 'Idx1': 0 (Key: 0), ODML: 0!"}, Flags(8, 0),
       Lines{"'idx1' Entry #"}},
      {"left-over bytes", Built([](Layout& l) { l.idx1Tail = Bytes(5, 0); }), RunOptions(),
       Lines{"'idx1' (133): AVI Old Index Chunk", "'idx1' Entry #7",
             "*** Error: Chunk Size mismatch!", "Assign Index to 'movi'-Entries"}},
      {"index running into the next segment", nextSegment, RunOptions(),
       Lines{"*** Error: Unexpected Token, recovered!",
             "'RIFF' (34) 'AVIX': RIFF AVI Chunk, Segment #2"},
       Flags{0x10, 0x10, 0, 0x10, 0x10, 0x10, 0, 0x10, 0}, Lines{}, Counts{{"'idx1' Entry #", 8}}},
      // A real file: a garbage id leaves the chunk before in doubt; its entry confirms it.
      {"real file, entry early",
       Sample(kSampleRows + 2 * 16 + 8, [](uint32_t offset) { return offset - 4; }), kVerbose,
       Lines{"*** Error: Not all Index Entries matched a 'movi' Entry ('00dc')!", "Index Entry #1",
             "assigned: 1, flags: 0x00000010", "Position: 15100",
             "Entry Offset (5160) misaligned to 'movi' Offset (5156)!"}},
      {"real file, frame dropped",
       Sample(kSampleListType + 10300, [](uint32_t) { return FourCC("zzzz"); }), kVerbose,
       Lines{"*** Error: Not all Index Entries matched a 'movi' Entry ('00dc')!", "Index Entry #2",
             "Offset: 10308", "*** Warning: Entry not assigned!"}},
      // OpenDML: the 'movi' list type word lies at 684, 'ix00' at 16464.
      {"super and standard indexes", Built([](Layout& l) {
         l.standardIndexes = l.odmlHeader = true;
         l.odmlFrames = 4;
         l.idx1 = Idx1Kind::kNone;
       }),
       Options([](RunOptions& o) { o.report.indxTraceLimit = 2; }),
       Lines{"'indx' (40): AVI Stream Index", "03 IndexType: 0 IndexOfIndexes", "'indx' Entry #0",
             "00 Offset: 17148", "08 Size: 64", "12 Duration: 4", "'ix00' (56): 'movi' Entry #8",
             "03 IndexType: 1 IndexOfChunks Standard Frame", "12 BaseOffset: 684",
             "'indx' Entry #1", "04 Size: 90 NON-Keyframe", "-> Position: 4812"},
       kIndexedFlags, Lines{"*** Error", "not assigned"}},
      // Standard index chunks of every kind, one fault each.
      {"standard index checks", Built([&](Layout& l) {
         l.idx1 = Idx1Kind::kNone;
         l.moviExtra = Concat({
             IndexChunk("ix00", 2, 1, 0, "00dc", Bytes(20000 - 12, 0)),
             IndexChunk("ix01", 4, 0, 0, "01wb", Bytes(12, 0)),
             IndexChunk("ix00", 2, 1, 1000, "00dc",
                        Concat({Le32(moviAt), Bytes(8, 0), Le32(12), Le32(100), Le32(4128),
                                Le32(90 | 0x80000000u)})),
             IndexChunk("ix00", 8, 0x80, 1, "tcdl", Bytes(12 + 32, 0)),
             IndexChunk("ix00", 8, 0x80, 1, "time", Bytes(12 + 32, 0)),
             IndexChunk("ix00", 7, 0x80, 0, "time", Bytes(12, 0)),
         });
       }),
       RunOptions(),
       Lines{"*** Error: Wrong Index size!",
             "*** Error: Wrong Location of IndexOfIndexes, should be in Header!",
             "'ix00' (56): 'movi' Entry #11", "03 IndexType: 128 IndexIsData TimcodeDiscontinuity",
             "08 ChunkId: 'tcdl'", "'indx' Entry #0", "04 time.FrameRate: 0 30/Drop Frame",
             "20 ReelId: \"\"",
             "*** Error: Wrong FOURCC, should be 'tcdl' for IndexOfDiscontinuedTimecode!",
             "*** Error: Unknown LongsPerEntry!", "*** Error: Wrong IndexOfTimecode!",
             "'ix00': 5 (Dropped: 0), 'Idx1': 0 (Key: 0), ODML: 4!"},
       std::nullopt, Lines{}, Counts{{"'indx' Entry #", 2 + 1 + 1}, {"*** Error", 5}}},
      // In a small file the high part of a base offset is garbage.
      {"standard index beyond 4 GiB, small file", HighBaseOffset(), RunOptions(), Lines{},
       Flags{0x10, 0, 0, 0, 0, 0, 0, 0}, Lines{"*** Error"}},
      {"switch xi, super index entry beyond the file", Built([](Layout& l) {
         l.odmlHeader = true;
         l.streams[0].extra = SuperIndex({{0xFFFFFF00, 16384, 4}});
       }),
       kSwitchXi, Lines{"*** Error: Super Index Entry Offset beyond File Size!"}, Flags{}},
      // One standard index named twice, and once 8 bytes into it: its frames once.
      {"switch xi, standard index repeated",
       [] {
         Layout layout = TwoStreams();
         layout.standardIndexes = layout.odmlHeader = true;
         layout.superIndexes = false;
         layout.streams[0].extra = SuperIndex({{0, 64, 4}, {0, 64, 4}, {0, 64, 4}});
         const uint32_t at =
             static_cast<uint32_t>(testsupport::FindToken(avitest::Build(layout).bytes, "ix00"));
         layout.streams[0].extra = SuperIndex({{at, 64, 4}, {at, 64, 4}, {at + 8, 64, 4}});
         return avitest::Build(layout).bytes;
       }(),
       kSwitchXi, Lines{"*** Error: Super Index Entries repeating a Standard Index ignored (2)!"},
       Flags{0x10, 0, 0x10, 0}},
      // A video stream's standard index names its palette changes by the id of
      // its frames; 'idx1' names every chunk by its own id.
      {"palette change in a standard index", Built([](Layout& l) {
         l.standardIndexes = l.odmlHeader = true;
         l.chunks.insert(l.chunks.begin() + 2, {"00pc", 68, false});
       }),
       kVerbose, Lines{}, Flags{0x10, 0x10, 0, 0, 0x10, 0x10, 0x10, 0, 0x10}, Lines{"*** Error"}},
      {"palette change named a frame in idx1", Built([](Layout& l) {
         l.chunks.insert(l.chunks.begin() + 2, {"00pc", 68, false});
         l.editIdx1 = [](std::vector<Idx1Row>& rows) { rows[2].id = "00dc"; };
       }),
       kVerbose,
       Lines{"*** Error: Not all Index Entries matched a 'movi' Entry ('00dc')!",
             "Entry Type ('00dc') mismatches 'movi' Type ('00pc')!"}},
      // Standard indexes in another segment than their chunks.
      {"indexes at the end", IndexesAtTheEnd(), kVerbose, Lines{}, Flags(20, 0x10),
       Lines{"Index Sequence out of order", "Not all Index Entries matched", "Entry not assigned"}},
  };
}

TEST(CAVIParserIndexTest, IndexesAreReadCheckedAndMatched) {
  for (const Row& row : Rows()) {
    SCOPED_TRACE(row.name);
    const Outcome outcome = Parse(row.bytes, row.options);
    testsupport::ExpectInOrder(outcome.run.lines, row.inOrder);
    testsupport::ExpectTexts(outcome.run.lines, {}, row.absent);
    EXPECT_EQ(outcome.flags, row.flags.value_or(outcome.flags));
    for (const auto& count : row.counts) {
      EXPECT_EQ(testsupport::CountText(outcome.run.lines, count.first), count.second)
          << count.first;
    }
  }
}

// "-xi" takes the first stream's frames from its standard indexes, wherever they lie.
TEST(CAVIParserIndexTest, SwitchXiTakesTheFramesFromTheStandardIndexes) {
  for (const bool atEnd : {false, true}) {
    const Bytes file = atEnd ? IndexesAtTheEnd()
                             : Built([](Layout& l) { l.standardIndexes = l.odmlHeader = true; });
    std::vector<MoviEntry> scanned = Parse(file).movi;
    scanned.erase(std::remove_if(scanned.begin(), scanned.end(),
                                 [](const MoviEntry& e) { return e.chunkId != FourCC("00dc"); }),
                  scanned.end());
    const Outcome indexed = Parse(file, kSwitchXi);
    ASSERT_EQ(indexed.movi.size(), scanned.size());
    for (size_t i = 0; i < scanned.size(); ++i) {
      SCOPED_TRACE(i);
      const MoviEntry& a = indexed.movi[i];
      const MoviEntry& b = scanned[i];
      EXPECT_EQ(std::tie(a.chunkId, a.size, a.flags, a.segment, a.payloadPosition),
                std::tie(b.chunkId, b.size, b.flags, b.segment, b.payloadPosition));
      EXPECT_TRUE(atEnd || a.offset == b.offset) << a.offset;
    }
    EXPECT_FALSE(testsupport::HasText(indexed.run.lines, "Statistics"));
  }
}

// An entry past 4 GiB (a sparse file) must not wrap onto the first chunk.
TEST(CAVIParserIndexTest, StandardIndexOffsetsBeyondFourGigabytesDoNotWrap) {
  testsupport::ScratchDir dir;
  const std::string path = dir.Write("large.avi", HighBaseOffset());
  std::error_code error;
  std::filesystem::resize_file(path, (uint64_t{1} << 32) + 4096, error);
  if (error) GTEST_SKIP() << "no sparse file: " << error.message();
  const Outcome large = ParseFile(path);
  EXPECT_EQ(large.flags, Flags(8, 0));
  EXPECT_TRUE(testsupport::HasText(
      large.run.lines, "*** Error: Not all Index Entries matched a 'movi' Entry ('00dc')!"));
}

}  // namespace
