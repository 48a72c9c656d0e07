#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "app/ChildProcess.h"
#include "core/FourCC.h"
#include "riff/CRIFFParser.h"

namespace {

using testsupport::Bytes;
using testsupport::ChunkBuilder;
using testsupport::Concat;
using testsupport::Le32;
using testsupport::ParseRun;
using testsupport::RunParserOnBytes;
using testsupport::TextBytes;
using Lines = std::vector<std::string>;

ParseRun ParseBytes(const Bytes& bytes, const RunOptions& options = RunOptions()) {
  return RunParserOnBytes<CRIFFParser>(bytes, options);
}

std::string Reading(size_t size) {
  return "  Reading 'sample.riff' (" + std::to_string(size) + ")";
}

size_t CountLines(const Lines& lines, const std::string& line) {
  return static_cast<size_t>(std::count(lines.begin(), lines.end(), line));
}

// Exposes the walkers that the format parsers build on.
class WalkerProbe : public CRIFFParser {
 public:
  using CRIFFParser::CRIFFParser;
  using CRIFFParser::WalkInfoList;
};

// ---------------------------------------------------------------------------
// Byte order and pad bytes: the same tree in the three layouts.

TEST(CRIFFParserTest, RifxSizesAreReadBigEndianAndPadded) {
  ChunkBuilder rifx(ChunkBuilder::Layout::Rifx);
  Bytes file =
      rifx.Riff("TEST", {rifx.Chunk("abcd", TextBytes("xyz")), rifx.Chunk("JUNK", Bytes(4, 0))});
  ASSERT_EQ(file.size(), 36u);
  ParseRun run = ParseBytes(file);
  EXPECT_TRUE(run.result);
  EXPECT_EQ(run.Body(), (Lines{
                            Reading(36),
                            "    'RIFX' (28) 'TEST': RIFF Unknown Chunk",
                            "      'abcd' (3)",
                            "        \"xyz\"",
                            "        \"78 79 7a \"",
                            "      'JUNK' (4): RIFF Junk",
                            "        \"....\"",
                            "        \"0 0 0 0 \"",
                            "  This is a valid RIFF file in Network byte order.",
                        }));
}

TEST(CRIFFParserTest, RiffSkipsThePadByteOfAnOddChunk) {
  ChunkBuilder riff;
  Bytes file = riff.Riff(
      "TEST", {riff.Chunk("abcd", TextBytes("xyz")), riff.Chunk("efgh", TextBytes("12"))});
  ParseRun run = ParseBytes(file);
  EXPECT_EQ(run.Body(), (Lines{
                            Reading(34),
                            "    'RIFF' (26) 'TEST': RIFF Unknown Chunk",
                            "      'abcd' (3)",
                            "        \"xyz\"",
                            "        \"78 79 7a \"",
                            "      'efgh' (2)",
                            "        \"12\"",
                            "        \"31 32 \"",
                            "  This is a valid RIFF file.",
                        }));
}

TEST(CRIFFParserTest, IffFormIsBigEndianWithoutPadBytes) {
  ChunkBuilder iff(ChunkBuilder::Layout::Iff);
  Bytes file =
      iff.Riff("TEST", {iff.Chunk("abcd", TextBytes("xyz")), iff.Chunk("efgh", TextBytes("12"))});
  ASSERT_EQ(file.size(), 33u);
  ParseRun run = ParseBytes(file);
  EXPECT_EQ(run.Body(), (Lines{
                            Reading(33),
                            "    'FORM' (25) 'TEST': RIFF Unknown Chunk",
                            "      'abcd' (3)",
                            "        \"xyz\"",
                            "        \"78 79 7a \"",
                            "      'efgh' (2)",
                            "        \"12\"",
                            "        \"31 32 \"",
                            "  This is a valid RIFF file in Network byte order.",
                        }));
}

// ---------------------------------------------------------------------------
// Sizes that do not fit.

TEST(CRIFFParserTest, TruncatedFileGetsItsSizesCorrected) {
  ChunkBuilder riff;
  // The form claims 100 bytes and its only chunk 50; 16 and 4 are there.
  Bytes file = Concat({TextBytes("RIFF"), Le32(100), TextBytes("TEST"),
                       riff.ChunkWithSize("abcd", 50, TextBytes("wxyz"))});
  ParseRun run = ParseBytes(file);
  EXPECT_TRUE(run.result);
  EXPECT_EQ(run.Body(),
            (Lines{
                Reading(24),
                "    *** Error: Wrong Size (100) exceeding File Size detected, corrected!",
                "    'RIFF' (16) 'TEST': RIFF Unknown Chunk",
                "      *** Error: Chunk size greater File size, File may be truncated!",
                "      *** Error: Token Size greater Chunk Size!",
                "      'abcd' (4)",
                "        \"wxyz\"",
                "        \"77 78 79 7a \"",
                "  This is a valid RIFF file.",
            }));
}

TEST(CRIFFParserTest, TailShorterThanAHeaderIsAFileSizeMismatch) {
  ChunkBuilder riff;
  Bytes file = Concat({riff.Riff("TEST", {}), TextBytes("xyz")});
  ParseRun run = ParseBytes(file);
  EXPECT_EQ(run.Body(), (Lines{
                            Reading(15),
                            "    'RIFF' (4) 'TEST': RIFF Unknown Chunk",
                            "    *** Error: File Size mismatch (3)",
                            "  This is a valid RIFF file.",
                        }));
}

TEST(CRIFFParserTest, SubChunkLargerThanItsListIsCutToTheList) {
  ChunkBuilder riff;
  Bytes list = Concat({TextBytes("LIST"), Le32(16), TextBytes("abcd"),
                       riff.ChunkWithSize("wxyz", 20, TextBytes("1234"))});
  Bytes file = riff.Riff("TEST", {list, riff.Chunk("next", TextBytes("abcdefghijklmnopqrst"))});
  ParseRun run = ParseBytes(file);
  EXPECT_EQ(run.Body(), (Lines{
                            Reading(64),
                            "    'RIFF' (56) 'TEST': RIFF Unknown Chunk",
                            "      'LIST' (16) 'abcd'",
                            "        *** Error: Token Size greater Chunk Size!",
                            "        'wxyz' (4)",
                            "          \"1234\"",
                            "          \"31 32 33 34 \"",
                            "      'next' (20)",
                            "        \"abcdefghijklmnopqrst\"",
                            "  This is a valid RIFF file.",
                        }));
}

TEST(CRIFFParserTest, SubChunkEnforcingItsSizeRaisesTheList) {
  ChunkBuilder riff;
  // The list says 16 bytes, its chunk 20 and the form counts all of it.
  Bytes list = Concat({TextBytes("LIST"), Le32(16), TextBytes("abcd"),
                       riff.Chunk("wxyz", TextBytes("abcdefghijklmnopqrst"))});
  Bytes file = riff.Riff("TEST", {list});
  RunOptions options;
  options.scan.subchunkEnforcesParentSize = true;
  ParseRun run = ParseBytes(file, options);
  EXPECT_EQ(run.Body(), (Lines{
                            Reading(52),
                            "    'RIFF' (44) 'TEST': RIFF Unknown Chunk",
                            "      'LIST' (16) 'abcd'",
                            "        *** Error: Token Size greater Chunk Size!",
                            "        'wxyz' (20)",
                            "          \"abcdefghijklmnopqrst\"",
                            "        *** Fatal: File ends prematurely!",
                            "  This is a valid RIFF file.",
                        }));
}

TEST(CRIFFParserTest, LeftOverBytesOfAListAreAMismatch) {
  ChunkBuilder riff;
  Bytes list = riff.List("abcd", {riff.Chunk("wxyz", Bytes()), TextBytes("zzzz")});
  ParseRun run = ParseBytes(riff.Riff("TEST", {list}));
  EXPECT_EQ(run.Body(), (Lines{
                            Reading(36),
                            "    'RIFF' (28) 'TEST': RIFF Unknown Chunk",
                            "      'LIST' (16) 'abcd'",
                            "        'wxyz' (0)",
                            "        *** Error: Chunk Size mismatch!",
                            "          \"zzzz\"",
                            "          \"7a 7a 7a 7a \"",
                            "  This is a valid RIFF file.",
                        }));
}

// Lists nested 12 bytes per level: the walk gives up at a fixed depth, skips
// the rest of the nest whole and stays in step for the chunk behind it.
TEST(CRIFFParserTest, DeepNestingIsBoundedAndSkippedWhole) {
  const uint32_t levels = 20000;
  ChunkBuilder riff;
  Bytes inner = riff.Chunk("abcd", TextBytes("wxyz"));
  Bytes nest;
  for (uint32_t i = 0; i < levels; ++i) {
    const uint32_t size = 4 + 12 * (levels - 1 - i) + static_cast<uint32_t>(inner.size());
    Bytes header = Concat({TextBytes("LIST"), Le32(size), TextBytes("nest")});
    nest.insert(nest.end(), header.begin(), header.end());
  }
  nest.insert(nest.end(), inner.begin(), inner.end());
  Bytes file = riff.Riff("TEST", {nest, riff.Chunk("tail", TextBytes("done"))});
  ParseRun run = ParseBytes(file);
  ASSERT_TRUE(run.result);
  const Lines body = run.Body();
  size_t headers = 0;
  size_t tooDeep = 0;
  for (const std::string& line : body) {
    if (line.find("'LIST' (") != std::string::npos) ++headers;
    if (line.find("*** Error: Lists nested too deeply, skipped!") != std::string::npos) ++tooDeep;
  }
  EXPECT_EQ(headers, CRIFFParser::kMaxListNesting);
  EXPECT_EQ(tooDeep, 1u);
  EXPECT_EQ(CountLines(body, "      'tail' (4)"), 1u);
  EXPECT_EQ(body.back(), "  This is a valid RIFF file.");
  EXPECT_EQ(CountLines(body, "      'abcd' (4)"), 0u);
}

// ---------------------------------------------------------------------------
// Filler and INFO.

TEST(CRIFFParserTest, JunqIsWarnedAboutPadIsSilentBothAreOverhead) {
  ChunkBuilder riff;
  Bytes file =
      riff.Riff("TEST", {riff.Chunk("JUNQ", Bytes(2, 0)), riff.Chunk("PAD ", Bytes(2, 0))});
  uint64_t overhead = 0;
  ParseRun run = RunParserOnBytes<CRIFFParser>(
      file, RunOptions(), [&](CRIFFParser& parser) { overhead = parser.OverheadSize(); });
  EXPECT_EQ(run.Body(), (Lines{
                            Reading(32),
                            "    'RIFF' (24) 'TEST': RIFF Unknown Chunk",
                            "      'JUNQ' (2): RIFF Junk",
                            "        *** Warning: Unexpected Token (Premiere JUNK)!",
                            "        \"..\"",
                            "        \"0 0 \"",
                            "      'PAD ' (2): RIFF Junk",
                            "        \"..\"",
                            "        \"0 0 \"",
                            "  This is a valid RIFF file.",
                        }));
  EXPECT_EQ(overhead, 20u);
}

TEST(CRIFFParserTest, InfoListDumpsItsTexts) {
  ChunkBuilder riff;
  Bytes info = riff.List("INFO", {riff.Chunk("INAM", TextBytes(std::string("Hello\0", 6))),
                                  riff.Chunk("ISFT", TextBytes(std::string("Lavf\0", 5)))});
  ParseRun run = ParseBytes(riff.Riff("TEST", {info}));
  EXPECT_EQ(run.Body(), (Lines{
                            Reading(52),
                            "    'RIFF' (44) 'TEST': RIFF Unknown Chunk",
                            "      'LIST' (32) 'INFO': RIFF Info List",
                            "        Info (14) 'INAM'",
                            "          00 Text: \"Hello\"",
                            "        Info (14) 'ISFT'",
                            "          00 Text: \"Lavf\"",
                            "  This is a valid RIFF file.",
                        }));
}

// An INFO list whose size runs over the next chunk gives those bytes back:
// the chunk is walked as the list's sibling.
TEST(CRIFFParserTest, InfoListRunningIntoAnIndexResynchronises) {
  ChunkBuilder riff;
  Bytes inam = riff.Chunk("INAM", TextBytes(std::string("Hello\0", 6)));
  Bytes info = Concat({TextBytes("LIST"), Le32(34), TextBytes("INFO"), inam});
  Bytes file = riff.Riff("TEST", {info, riff.Chunk("idx1", TextBytes("abcdefgh"))});
  ParseRun run = ParseBytes(file);
  EXPECT_EQ(run.Body(), (Lines{
                            Reading(54),
                            "    'RIFF' (46) 'TEST': RIFF Unknown Chunk",
                            "      'LIST' (34) 'INFO': RIFF Info List",
                            "        Info (14) 'INAM'",
                            "          00 Text: \"Hello\"",
                            "      'idx1' (8)",
                            "        \"abcdefgh\"",
                            "  This is a valid RIFF file.",
                        }));
}

TEST(CRIFFParserTest, InfoWalkerStepsBackOntoRiffMoviAndIdx1) {
  ChunkBuilder riff;
  const struct {
    const char* token;
    int result;
  } cases[] = {{"RIFF", CRIFFParser::kMetRiff},
               {"movi", CRIFFParser::kMetHeader},
               {"idx1", CRIFFParser::kMetHeader + 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.token);
    Bytes body = Concat(
        {riff.Chunk("INAM", TextBytes("Hi")), TextBytes(c.token), Le32(4), TextBytes("more")});
    testsupport::ScratchDir dir;
    const std::string path = dir.Write("info.bin", body);
    std::ostringstream out;
    std::ostringstream err;
    ReportOutput output(out, err, ConsoleState());
    WalkerProbe probe(RunOptions(), output);
    ASSERT_TRUE(probe.OpenForReading(path));
    EXPECT_EQ(probe.WalkInfoList(body.size(), 1), c.result);
    EXPECT_EQ(probe.CurrentPosition(), 10u);
    probe.CloseInput();
  }
}

// ---------------------------------------------------------------------------
// Display and version chunks.

TEST(CRIFFParserTest, DisplayChunksShowTextOrData) {
  ChunkBuilder riff;
  Bytes text = riff.Chunk("DISP", Concat({Le32(1), TextBytes(std::string("Hi there\0", 9))}));
  Bytes bitmap = riff.Chunk("DISP", Concat({Le32(8), TextBytes("BITMAPDATA")}));
  Bytes cut = riff.Chunk("DISP", TextBytes("ab"));
  ParseRun run = ParseBytes(riff.Riff("TEST", {text, bitmap, cut}));
  EXPECT_EQ(run.Body(), (Lines{
                            Reading(66),
                            "    'RIFF' (58) 'TEST': RIFF Unknown Chunk",
                            "      'DISP' (13): RIFF Display Chunk",
                            "        00 Type: 0x00000001 Text",
                            "        04 Data: \"Hi there\"",
                            "      'DISP' (14): RIFF Display Chunk",
                            "        00 Type: 0x00000008 DIB (Bitmap)",
                            "        \"BITMAPDATA\"",
                            "      'DISP' (2): RIFF Display Chunk",
                            "        *** Error: Unknown Token Size, expected at least 4!",
                            "        \"ab\"",
                            "        \"61 62 \"",
                            "  This is a valid RIFF file.",
                        }));
}

TEST(CRIFFParserTest, VersionChunksShortOrWhole) {
  ChunkBuilder riff;
  Bytes whole = riff.Chunk("vers", Concat({Le32(0x00050001), Le32(0x00020003)}));
  Bytes shortOne = riff.Chunk("vers", Concat({Le32(0x00010002), Bytes{3, 0}}));
  Bytes after = riff.Chunk("next", TextBytes("ok"));
  ParseRun run = ParseBytes(riff.Riff("TEST", {whole, shortOne, after}));
  EXPECT_EQ(run.Body(), (Lines{
                            Reading(52),
                            "    'RIFF' (44) 'TEST': RIFF Unknown Chunk",
                            "      'vers' (8): RIFF Version Chunk",
                            "        00 : 0x00050001",
                            "        04 VersionLS: 0x00020003",
                            "        -> Version: 5.1.2.3",
                            "      'vers' (6): RIFF Version Chunk",
                            "        *** Error: Unknown Token Size, expected 8!",
                            "        00 : 0x00010002",
                            "        \"..\"",
                            "        \"3 0 \"",
                            "      'next' (2)",
                            "        \"ok\"",
                            "        \"6f 6b \"",
                            "  This is a valid RIFF file.",
                        }));
}

TEST(CRIFFParserTest, GuidNameInfoChunkAndAfterEffectsChunks) {
  ChunkBuilder riff;
  Bytes guid = Concat({Le32(0x12345678), testsupport::Le16(0x9abc), testsupport::Le16(0xdef0),
                       Bytes{1, 2, 3, 4, 5, 6, 7, 8}});
  Bytes name = Concat({testsupport::Le16('H'), testsupport::Le16('i'), testsupport::Le16(0)});
  Bytes info = riff.Chunk("INFO", riff.Chunk("ICMT", TextBytes(std::string("Hello\0", 6))));
  Bytes file = riff.Riff("TEST", {riff.Chunk("guid", guid), riff.Chunk("name", name), info,
                                  riff.Chunk("FXTC", Bytes(4, 0))});
  uint64_t overhead = 0;
  ParseRun run = RunParserOnBytes<CRIFFParser>(
      file, RunOptions(), [&](CRIFFParser& parser) { overhead = parser.OverheadSize(); });
  EXPECT_EQ(run.Body(), (Lines{
                            Reading(84),
                            "    'RIFF' (76) 'TEST': RIFF Unknown Chunk",
                            "      RIFF GUID Chunk (24) 'guid'",
                            "        00 GUID: {12345678-9abc-def0-0102-030405060708}",
                            "      RIFF Name Chunk (14) 'name'",
                            "        00 Text: \"Hi\"",
                            "      'INFO' (14): RIFF Info List",
                            "        RIFF Info Chunk (14) 'ICMT'",
                            "          00 Text: \"Hello\"",
                            "      'FXTC' (4): AVI Adobe After Effects Chunk",
                            "        *** Warning: Unexpected Token!",
                            "        \"....\"",
                            "        \"0 0 0 0 \"",
                            "  This is a valid RIFF file.",
                        }));
  EXPECT_EQ(overhead, 24u + 14u + 22u + 12u);
}

// Writers often leave out the pad byte of the file's last chunk: that is not
// a premature end.
TEST(CRIFFParserTest, MissingPadByteAtTheEndOfTheFileIsTolerated) {
  ChunkBuilder riff;
  Bytes text = Concat({TextBytes("INAM"), Le32(5), TextBytes(std::string("Lavf\0", 5))});
  Bytes file = Concat(
      {TextBytes("RIFF"), Le32(29), TextBytes("TEST"), riff.Chunk("abcd", TextBytes("xyz")), text});
  EXPECT_EQ(ParseBytes(file).Body(), (Lines{
                                         Reading(37),
                                         "    'RIFF' (29) 'TEST': RIFF Unknown Chunk",
                                         "      'abcd' (3)",
                                         "        \"xyz\"",
                                         "        \"78 79 7a \"",
                                         "      RIFF Info Chunk (13) 'INAM'",
                                         "        00 Text: \"Lavf\"",
                                         "  This is a valid RIFF file.",
                                     }));
  Bytes plain = Concat({TextBytes("RIFF"), Le32(15), TextBytes("TEST"), TextBytes("abcd"), Le32(3),
                        TextBytes("xyz")});
  EXPECT_EQ(ParseBytes(plain).Body(), (Lines{
                                          Reading(23),
                                          "    'RIFF' (15) 'TEST': RIFF Unknown Chunk",
                                          "      'abcd' (3)",
                                          "        \"xyz\"",
                                          "        \"78 79 7a \"",
                                          "  This is a valid RIFF file.",
                                      }));
}

// ---------------------------------------------------------------------------
// Odd-sized chunks whose writer left out the pad byte.

size_t CountContaining(const Lines& lines, const std::string& text) {
  size_t count = 0;
  for (const std::string& line : lines) {
    if (line.find(text) != std::string::npos) ++count;
  }
  return count;
}

// A chunk as such writers make it: the body without a pad byte behind it.
Bytes UnpaddedChunk(const ChunkBuilder& builder, const std::string& id, const Bytes& body) {
  return Concat({TextBytes(id), builder.Size(static_cast<uint32_t>(body.size())), body});
}

Bytes UnpaddedContainer(const ChunkBuilder& builder, const std::string& token,
                        const std::string& type, const std::vector<Bytes>& children) {
  return UnpaddedChunk(builder, token, Concat({TextBytes(type), Concat(children)}));
}

const char kPadWarning[] = "*** Warning: Pad byte missing after odd-sized Chunk!";

TEST(CRIFFParserTest, MissingPadByteIsWarnedAboutAndTheWalkStaysInStep) {
  const ChunkBuilder riff;
  const ChunkBuilder rifx(ChunkBuilder::Layout::Rifx);
  const ChunkBuilder iff(ChunkBuilder::Layout::Iff);
  auto info = [](const ChunkBuilder& b) {
    return b.List("INFO", {b.Chunk("INAM", TextBytes(std::string("odd\0", 4)))});
  };
  auto samples = [](const ChunkBuilder& b) { return UnpaddedChunk(b, "data", TextBytes("abc")); };
  const struct {
    const char* name;
    Bytes file;
    size_t warnings;
  } cases[] = {
      {"RIFF", UnpaddedContainer(riff, "RIFF", "WAVE", {samples(riff), info(riff)}), 1},
      {"RIFX", UnpaddedContainer(rifx, "RIFX", "WAVE", {samples(rifx), info(rifx)}), 1},
      // The list's size leaves the pad out as well: found behind the list.
      {"list",
       UnpaddedContainer(riff, "RIFF", "WAVE",
                         {UnpaddedContainer(riff, "LIST", "abcd", {samples(riff)}), info(riff)}),
       1},
      {"padded", riff.Riff("WAVE", {riff.Chunk("data", TextBytes("abc")), info(riff)}), 0},
      {"pad byte not zero", riff.Riff("WAVE", {samples(riff), TextBytes("x"), info(riff)}), 0},
      {"IFF", iff.Riff("WAVE", {iff.Chunk("data", TextBytes("abc")), info(iff)}), 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Lines body = ParseBytes(c.file).Body();
    EXPECT_EQ(CountContaining(body, kPadWarning), c.warnings);
    EXPECT_EQ(CountContaining(body, "00 Text: \"odd\""), 1u);
    EXPECT_EQ(CountContaining(body, "Error:") + CountContaining(body, "Fatal:"), 0u);
    EXPECT_EQ(CountContaining(body, "This is a valid RIFF file"), 1u);
  }
}

// GStreamer's wavenc writes an odd-sized 'data' chunk without its pad byte
// and the tags' LIST right behind it.
TEST(CRIFFParserTest, GstreamerWaveWithoutPadByteShowsItsTitle) {
  testsupport::ScratchDir dir;
  const std::string path = dir.File("odd.wav");
  const apptest::ChildOutcome made = apptest::ChildProcess::Run(
      {"/usr/bin/env", "gst-launch-1.0", "-q", "audiotestsrc", "num-buffers=3",
       "samplesperbuffer=333", "!", "audio/x-raw,format=U8,channels=1,rate=8000", "!", "taginject",
       "tags=title=odd", "!", "wavenc", "!", "filesink", "location=" + path},
      60);
  if (!made.started || made.exitStatus != 0) GTEST_SKIP() << "gst-launch-1.0 did not run";
  const Bytes bytes = testsupport::ReadFile(path);
  const int64_t data = testsupport::FindToken(bytes, "data");
  ASSERT_GE(data, 0);
  const uint64_t padPos = static_cast<uint64_t>(data) + 8 + testsupport::U32At(bytes, data + 4);
  const bool padMissing = testsupport::TokenAt(bytes, padPos) == "LIST";

  const Lines body = testsupport::RunParserOnFile<CRIFFParser>(path).Body();
  EXPECT_EQ(CountContaining(body, kPadWarning), padMissing ? 1u : 0u);
  EXPECT_EQ(CountContaining(body, "00 Text: \"odd\""), 1u);
  EXPECT_EQ(CountContaining(body, "Error:") + CountContaining(body, "Fatal:"), 0u);
  EXPECT_EQ(body.back(), "  This is a valid RIFF file.");
}

// ---------------------------------------------------------------------------
// The top-level loop.

TEST(CRIFFParserTest, StrayTokensAtTopLevel) {
  ChunkBuilder riff;
  // Bytes that are no chunk id are passed over 4 at a time; a chunk id that
  // is not a form is reported, JUNK is filler. The last chunk claims 9 bytes
  // and has 3: corrected, and no pad byte is looked for behind the file.
  Bytes file = Concat({Bytes{1, 2, 3, 4}, riff.Chunk("JUNK", Bytes(2, 0)), riff.Riff("TEST", {}),
                       TextBytes("abcd"), Le32(9), TextBytes("wxy")});
  ParseRun run = ParseBytes(file);
  EXPECT_EQ(run.Body(), (Lines{
                            Reading(37),
                            "    'JUNK' (2): RIFF Junk",
                            "      \"..\"",
                            "      \"0 0 \"",
                            "    'RIFF' (4) 'TEST': RIFF Unknown Chunk",
                            "    *** Error: Wrong Size (9) exceeding File Size detected, corrected!",
                            "    'abcd' (3)",
                            "      *** Error: Unexpected Token!",
                            "      \"wxy\"",
                            "      \"77 78 79 \"",
                            "  This is a valid RIFF file.",
                        }));
}

TEST(CRIFFParserTest, FileOfNoChunksEndsWithoutVerdict) {
  ParseRun run = ParseBytes(Bytes(1 << 20, 0));
  EXPECT_TRUE(run.result);
  EXPECT_EQ(run.Body(), (Lines{Reading(1 << 20), "    *** Error: File Size mismatch (4)", "  "}));
}

TEST(CRIFFParserTest, ChunkIdTestLooksAtTheSecondToFourthByte) {
  EXPECT_TRUE(CRIFFParser::LooksLikeFourCC(FourCC("abcd")));
  EXPECT_TRUE(CRIFFParser::LooksLikeFourCC(FourCC(" a1Z")));
  EXPECT_FALSE(CRIFFParser::LooksLikeFourCC(FourCC("ab d")));
  EXPECT_FALSE(CRIFFParser::LooksLikeFourCC(FourCC("abc_")));
  EXPECT_FALSE(
      CRIFFParser::LooksLikeFourCC(FourCC("\x01"
                                          "abc")));
}

TEST(CRIFFParserTest, FormatTagNames) {
  EXPECT_EQ(CRIFFParser::FormatTagName(0x6771), "");
  EXPECT_EQ(CRIFFParser::FormatTagName(0x0055), "(MP3)");
  EXPECT_EQ(CRIFFParser::FormatTagName(0xFFFE), "(Extensible)");
  EXPECT_EQ(CRIFFParser::FormatTagName(0x1234).front(), '(');
}

// A WAVE file made by ffmpeg (tests/data/make_riff_samples.sh) walked as a
// plain RIFF file: its INFO list carries the title.
TEST(CRIFFParserTest, FfmpegWaveShowsItsTitle) {
  ParseRun run = testsupport::RunParserOnFile<CRIFFParser>(std::string(CLIPSMITH_TEST_DATA) +
                                                           "/sine_title.wav");
  ASSERT_EQ(run.lines.size(), 10u);
  const Lines body = run.Body();
  EXPECT_EQ(Lines(body.begin(), body.begin() + 7),
            (Lines{
                "  Reading 'sine_title.wav' (1670)",
                "    'RIFF' (1662) 'WAVE': RIFF Unknown Chunk",
                "      'fmt ' (16)",
                "      'LIST' (18) 'INFO': RIFF Info List",
                "        Info (14) 'INAM'",
                "          00 Text: \"Hello\"",
                "      'data' (1600)",
            }));
  EXPECT_EQ(body[7].substr(0, 9), "        \"");  // the first samples as text
  EXPECT_EQ(body[8], "  This is a valid RIFF file.");
}

}  // namespace
