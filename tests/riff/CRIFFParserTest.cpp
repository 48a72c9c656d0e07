#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TestSupport.h"
#include "core/FourCC.h"
#include "riff/CRIFFParser.h"

namespace {

using testsupport::Bytes;
using testsupport::ChunkBuilder;
using testsupport::Concat;
using testsupport::CountText;
using testsupport::Le16;
using testsupport::Le32;
using testsupport::ParseRun;
using testsupport::RunParserOnBytes;
using testsupport::TextBytes;
using Lines = std::vector<std::string>;

Lines BodyOf(const Bytes& bytes) {
  return RunParserOnBytes<CRIFFParser>(bytes, RunOptions()).Body();
}

TEST(CRIFFParserTest, ChunkTreesAndTheirDamage) {
  const ChunkBuilder riff;
  const ChunkBuilder rifx(ChunkBuilder::Layout::Rifx);
  RunOptions enforce;
  enforce.scan.subchunkEnforcesParentSize = true;
  const Bytes inam = riff.Chunk("INAM", TextBytes(std::string("Hello\0", 6)));
  const Bytes guid =
      Concat({Le32(0x12345678), Le16(0x9abc), Le16(0xdef0), Bytes{1, 2, 3, 4, 5, 6, 7, 8}});
  const std::string valid = "  This is a valid RIFF file.";
  auto overrun = [&](const Bytes& next) {
    return Concat({TextBytes("LIST"), Le32(static_cast<uint32_t>(4 + inam.size() + next.size())),
                   TextBytes("INFO"), inam, next});
  };
  const struct {
    const char* name;
    Bytes file;
    Lines inOrder;
    RunOptions options = RunOptions();
    uint64_t overhead = 0;
    Lines absent = {};
  } rows[] = {
      {"RIFF pad byte, INFO texts",
       riff.Riff(
           "TEST",
           {riff.Chunk("abcd", TextBytes("xyz")), riff.Chunk("efgh", TextBytes("12")),
            riff.List("INFO", {inam, riff.Chunk("ISFT", TextBytes(std::string("Lavf\0", 5)))})}),
       Lines{"  Reading 'sample.riff' (74)", "'RIFF' (66) 'TEST': RIFF Unknown Chunk", "'abcd' (3)",
             "'efgh' (2)", "\"12\"", "'LIST' (32) 'INFO': RIFF Info List", "Info (14) 'INAM'",
             "00 Text: \"Hello\"", "Info (14) 'ISFT'", "00 Text: \"Lavf\"", valid}},
      {"RIFX: big-endian sizes, pad byte",
       rifx.Riff("TEST", {rifx.Chunk("abcd", TextBytes("xyz")), rifx.Chunk("JUNK", Bytes(4, 0))}),
       Lines{"  Reading 'sample.riff' (36)", "'RIFX' (28) 'TEST'", "'abcd' (3)", "\"78 79 7a \"",
             "'JUNK' (4): RIFF Junk", "  This is a valid RIFF file in Network byte order."}},
      // The form claims 100 bytes and its only chunk 50; 16 and 4 are there.
      {"truncated",
       Concat({TextBytes("RIFF"), Le32(100), TextBytes("TEST"),
               riff.ChunkWithSize("abcd", 50, TextBytes("wxyz"))}),
       Lines{"    *** Error: Wrong Size (100) exceeding File Size detected, corrected!",
             "'RIFF' (16) 'TEST'",
             "*** Error: Chunk size greater File size, File may be truncated!",
             "      *** Error: Token Size greater Chunk Size!", "'abcd' (4)", valid}},
      {"tail shorter than a header", Concat({riff.Riff("TEST", {}), TextBytes("xyz")}),
       Lines{"'RIFF' (4) 'TEST'", "    *** Error: File Size mismatch (3)", valid}},
      {"sub-chunk larger than its list, left-over bytes of a list",
       riff.Riff("TEST", {Concat({TextBytes("LIST"), Le32(16), TextBytes("abcd"),
                                  riff.ChunkWithSize("wxyz", 20, TextBytes("1234"))}),
                          riff.Chunk("next", TextBytes("abcdefghijklmnopqrst")),
                          riff.List("abcd", {riff.Chunk("wxyz", Bytes()), TextBytes("zzzz")})}),
       Lines{"'LIST' (16) 'abcd'", "        *** Error: Token Size greater Chunk Size!",
             "        'wxyz' (4)", "\"1234\"", "      'next' (20)", "'LIST' (16) 'abcd'",
             "'wxyz' (0)", "        *** Error: Chunk Size mismatch!", "\"zzzz\"", valid}},
      // The list says 16 bytes, its chunk 20 and the form counts all of it.
      {"sub-chunk enforcing its size",
       riff.Riff("TEST", {Concat({TextBytes("LIST"), Le32(16), TextBytes("abcd"),
                                  riff.Chunk("wxyz", TextBytes("abcdefghijklmnopqrst"))})}),
       Lines{"'RIFF' (44) 'TEST'", "'LIST' (16) 'abcd'",
             "*** Error: Token Size greater Chunk Size!", "        'wxyz' (20)",
             "        *** Fatal: File ends prematurely!", valid},
       enforce},
      // An INFO list running over the next header gives it back as a sibling.
      {"INFO lists running into the next header",
       riff.Riff("TEST", {overrun(riff.Chunk("idx1", TextBytes("abcdefgh"))),
                          overrun(riff.Chunk("movi", TextBytes("wxyz"))),
                          overrun(riff.List("movi", {})), overrun(riff.Riff("WAVE", {}))}),
       Lines{"'LIST' (34) 'INFO'", "00 Text: \"Hello\"", "      'idx1' (8)", "\"abcdefgh\"",
             "'LIST' (30) 'INFO'", "      'movi' (4)", "'LIST' (30) 'INFO'",
             "      'LIST' (4) 'movi'", "'LIST' (30) 'INFO'", "      'RIFF' (4) 'WAVE'", valid},
       RunOptions(), 0, Lines{"Unexpected Token"}},
      {"display and version chunks",
       riff.Riff("TEST",
                 {riff.Chunk("DISP", Concat({Le32(1), TextBytes(std::string("Hi there\0", 9))})),
                  riff.Chunk("DISP", Concat({Le32(8), TextBytes("BITMAPDATA")})),
                  riff.Chunk("DISP", TextBytes("ab")),
                  riff.Chunk("vers", Concat({Le32(0x00050001), Le32(0x00020003)})),
                  riff.Chunk("vers", Concat({Le32(0x00010002), Bytes{3, 0}})),
                  riff.Chunk("next", TextBytes("ok"))}),
       Lines{"'DISP' (13): RIFF Display Chunk", "00 Type: 0x00000001 Text", "04 Data: \"Hi there\"",
             "00 Type: 0x00000008 DIB (Bitmap)", "\"BITMAPDATA\"", "'DISP' (2)",
             "*** Error: Unknown Token Size, expected at least 4!", "-> Version: 5.1.2.3",
             "'vers' (6)", "*** Error: Unknown Token Size, expected 8!", "00 : 0x00010002",
             "\"3 0 \"", "'next' (2)", valid}},
      // All overhead, filler included.
      {"GUID, name, INFO chunk, After Effects chunk and filler",
       riff.Riff(
           "TEST",
           {riff.Chunk("guid", guid), riff.Chunk("name", Concat({Le16('H'), Le16('i'), Le16(0)})),
            riff.Chunk("INFO", riff.Chunk("ICMT", TextBytes(std::string("Hello\0", 6)))),
            riff.Chunk("FXTC", Bytes(4, 0)), riff.Chunk("JUNQ", Bytes(2, 0)),
            riff.Chunk("PAD ", Bytes(2, 0))}),
       Lines{"RIFF GUID Chunk (24) 'guid'", "00 GUID: {12345678-9abc-def0-0102-030405060708}",
             "RIFF Name Chunk (14) 'name'", "00 Text: \"Hi\"", "'INFO' (14): RIFF Info List",
             "RIFF Info Chunk (14) 'ICMT'", "'FXTC' (4): AVI Adobe After Effects Chunk",
             "*** Warning: Unexpected Token!", "'JUNQ' (2): RIFF Junk",
             "*** Warning: Unexpected Token (Premiere JUNK)!", "'PAD ' (2): RIFF Junk", valid},
       RunOptions(), 24 + 14 + 22 + 12 + 10 + 10},
      // A missing pad byte after the file's last chunk is no premature end.
      {"no pad byte at the end of the file",
       Concat({TextBytes("RIFF"), Le32(29), TextBytes("TEST"), riff.Chunk("abcd", TextBytes("xyz")),
               TextBytes("INAM"), Le32(5), TextBytes(std::string("Lavf\0", 5))}),
       Lines{"'RIFF' (29) 'TEST'", "'abcd' (3)", "RIFF Info Chunk (13) 'INAM'", "00 Text: \"Lavf\"",
             valid}},
      // Non-ids are passed 4 bytes at a time, a non-form id is reported, JUNK
      // is filler; the last chunk claims 9 bytes of 3: corrected, no pad byte.
      {"stray tokens at top level",
       Concat({Bytes{1, 2, 3, 4}, riff.Chunk("JUNK", Bytes(2, 0)), riff.Riff("TEST", {}),
               TextBytes("abcd"), Le32(9), TextBytes("wxy")}),
       Lines{"  Reading 'sample.riff' (37)", "    'JUNK' (2): RIFF Junk", "    'RIFF' (4) 'TEST'",
             "    *** Error: Wrong Size (9) exceeding File Size detected, corrected!",
             "    'abcd' (3)", "      *** Error: Unexpected Token!", "\"wxy\"", valid}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    uint64_t overhead = 0;
    const ParseRun run = RunParserOnBytes<CRIFFParser>(
        row.file, row.options, [&](CRIFFParser& parser) { overhead = parser.OverheadSize(); });
    EXPECT_TRUE(run.result);
    testsupport::ExpectInOrder(run.Body(), row.inOrder);
    EXPECT_EQ(run.Body().back(), row.inOrder.back());
    testsupport::ExpectTexts(run.Body(), {}, row.absent);
    EXPECT_EQ(row.overhead == 0 ? 0 : overhead, row.overhead);
  }
  EXPECT_EQ(BodyOf(Bytes(1 << 20, 0)), (Lines{"  Reading 'sample.riff' (1048576)",
                                              "    *** Error: File Size mismatch (4)", "  "}));
}

// The walk gives up at a fixed depth, skips the nest whole and stays in step.
TEST(CRIFFParserTest, DeepNestingIsBoundedAndSkippedWhole) {
  const uint32_t levels = 20000;
  const ChunkBuilder riff;
  const Bytes inner = riff.Chunk("abcd", TextBytes("wxyz"));
  Bytes nest;
  for (uint32_t i = 0; i < levels; ++i) {
    const uint32_t size = 4 + 12 * (levels - 1 - i) + static_cast<uint32_t>(inner.size());
    const Bytes header = Concat({TextBytes("LIST"), Le32(size), TextBytes("nest")});
    nest.insert(nest.end(), header.begin(), header.end());
  }
  nest.insert(nest.end(), inner.begin(), inner.end());
  const Lines body = BodyOf(riff.Riff("TEST", {nest, riff.Chunk("tail", TextBytes("done"))}));
  EXPECT_EQ(CountText(body, "'LIST' ("), CRIFFParser::kMaxListNesting);
  EXPECT_EQ(CountText(body, "*** Error: Lists nested too deeply, skipped!"), 1u);
  EXPECT_EQ(CountText(body, "      'tail' (4)"), 1u);
  EXPECT_EQ(CountText(body, "'abcd' (4)"), 0u);
  EXPECT_EQ(body.back(), "  This is a valid RIFF file.");
}

// Odd-sized chunks whose writer left out the pad byte.
Bytes Unpadded(const ChunkBuilder& builder, const std::string& id, const Bytes& body) {
  return Concat({TextBytes(id), builder.Size(static_cast<uint32_t>(body.size())), body});
}

TEST(CRIFFParserTest, MissingPadByteIsWarnedAboutAndTheWalkStaysInStep) {
  const ChunkBuilder riff;
  const ChunkBuilder rifx(ChunkBuilder::Layout::Rifx);
  const ChunkBuilder iff(ChunkBuilder::Layout::Iff);
  auto info = [](const ChunkBuilder& b) {
    return b.List("INFO", {b.Chunk("INAM", TextBytes(std::string("odd\0", 4)))});
  };
  auto samples = [](const ChunkBuilder& b) { return Unpadded(b, "data", TextBytes("abc")); };

  const struct {
    const char* name;
    Bytes file;
    size_t warnings;
  } rows[] = {
      {"RIFF", Unpadded(riff, "RIFF", Concat({TextBytes("WAVE"), samples(riff), info(riff)})), 1},
      {"RIFX", Unpadded(rifx, "RIFX", Concat({TextBytes("WAVE"), samples(rifx), info(rifx)})), 1},
      // The list's size leaves the pad out as well: found behind the list.
      {"list",
       Unpadded(riff, "RIFF",
                Concat({TextBytes("WAVE"),
                        Unpadded(riff, "LIST", Concat({TextBytes("abcd"), samples(riff)})),
                        info(riff)})),
       1},
      {"padded", riff.Riff("WAVE", {riff.Chunk("data", TextBytes("abc")), info(riff)}), 0},
      {"pad byte not zero", riff.Riff("WAVE", {samples(riff), TextBytes("x"), info(riff)}), 0},
      // " abc" with a fitting size would read as a chunk, but ids never start blank.
      {"blank pad byte",
       riff.Riff("WAVE", {samples(riff), TextBytes(" "), riff.Chunk("abc-", {}), info(riff),
                          riff.Chunk("JUNK", Bytes(12, 0))}),
       0},
      {"IFF", iff.Riff("WAVE", {iff.Chunk("data", TextBytes("abc")), info(iff)}), 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const Lines body = BodyOf(row.file);
    EXPECT_EQ(CountText(body, "*** Warning: Pad byte missing after odd-sized Chunk!"),
              row.warnings);
    EXPECT_EQ(CountText(body, "00 Text: \"odd\""), 1u);
    EXPECT_EQ(CountText(body, "Error:") + CountText(body, "Fatal:"), 0u);
    EXPECT_EQ(CountText(body, "This is a valid RIFF file"), 1u);
  }
}

TEST(CRIFFParserTest, ChunkIdTestAndFormatTagNames) {
  const std::pair<const char*, bool> ids[] = {
      {"abcd", true}, {" a1Z", true}, {"ab d", false}, {"abc_", false}, {"\x01xyz", false}};
  for (const auto& [id, looks] : ids) {
    EXPECT_EQ(CRIFFParser::LooksLikeFourCC(FourCCFromBytes(TextBytes(id).data())), looks) << id;
  }
  EXPECT_EQ(CRIFFParser::FormatTagName(0x1234).substr(0, 9), "(unknown,");
}

}  // namespace
