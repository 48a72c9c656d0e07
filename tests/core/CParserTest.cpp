#include <gtest/gtest.h>

#include "TestSupport.h"
#include "app/AppTestSupport.h"
#include "core/CParser.h"
#include "core/FourCC.h"

namespace {

using testsupport::Bytes;
using testsupport::ScratchDir;

// A parser whose walk is a test body, so the base operations can be driven
// exactly as a format parser drives them.
class ProbeParser : public CParser {
 public:
  ProbeParser(RunOptions options, ReportOutput& output) : CParser(std::move(options), output) {}
  std::function<void(ProbeParser&, int)> walk;
  bool Parse(const std::string& source, const std::string& output) override {
    return RunParse(source, output, [this](int depth) {
      OpeningLine(depth);
      if (walk) walk(*this, depth + 1);
    });
  }
  uint64_t Counter() const { return input_.positionCounter; }
};

std::vector<std::string> Walk(const std::string& path, RunOptions options,
                              std::function<void(ProbeParser&, int)> walk) {
  apptest::CapturedOutput captured;
  {
    ProbeParser parser(options, captured.output);
    parser.walk = std::move(walk);
    parser.Parse(path, "");
  }
  auto lines = captured.Lines();
  lines.erase(lines.begin());  // the path names the scratch directory
  return lines;
}

Bytes Sequence(size_t count) {
  Bytes bytes(count);
  for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>('a' + i % 26);
  return bytes;
}

// Reads and skips driven as a format parser drives them, and the lines they
// leave after the opening line (the verdict line "  " closes every report).
TEST(CParserTest, ReadsAndSkipsReportWhatIsLeftAndStayInsideTheFile) {
  using Walker = std::function<void(ProbeParser&, int)>;
  using Lines = std::vector<std::string>;
  const struct {
    const char* name;
    Bytes bytes;
    Walker walk;
    Lines lines;
    size_t hostLines = 0;  // the host's own text first: its wording is not ours
  } rows[] = {
      {"empty file",
       {},
       [](ProbeParser& p, int depth) {
         uint8_t token[4];
         EXPECT_FALSE(p.ReadChecked(token, 4, depth, true));
       },
       Lines{"    *** Fatal: File ends prematurely!"}},
      {"short read shows what arrived", testsupport::TextBytes("RIFFab"),
       [](ProbeParser& p, int depth) {
         uint8_t buffer[12];
         EXPECT_FALSE(p.ReadChecked(buffer, 12, depth, true));
         EXPECT_EQ(p.Counter(), 0u);
       },
       Lines{"    *** Fatal: File ends prematurely!", "    \"RIFFab\""}, 1},
      {"skip past the end", Sequence(40),
       [](ProbeParser& p, int) {
         EXPECT_TRUE(p.Skip(20, true));
         EXPECT_TRUE(p.SkipChecked(1000, 3));
         EXPECT_EQ(p.CurrentPosition(), 40u);
       },
       Lines{"      *** Fatal: File ends prematurely!", "      \"uvwxyzabcdefghijklmn\""}},
      {"skip at depth 0 shows nothing", Sequence(30),
       [](ProbeParser& p, int) {
         EXPECT_TRUE(p.SkipChecked(10, 0));
         EXPECT_TRUE(p.SkipChecked(100, 0));
         EXPECT_EQ(p.CurrentPosition(), 30u);
       },
       Lines{"*** Fatal: File ends prematurely!"}},
      {"dump and error context", Sequence(20),
       [](ProbeParser& p, int) {
         EXPECT_TRUE(p.Skip(16, true));
         p.ErrorContextDump(128, 1);
         EXPECT_EQ(p.CurrentPosition(), 16u);
         EXPECT_TRUE(p.ReadAndDump(10, 1));  // only 4 bytes left
         EXPECT_EQ(p.CurrentPosition(), 20u);
         EXPECT_FALSE(p.ReadAndDump(10, 1));
         EXPECT_TRUE(p.Skip(1000, false));  // beyond the end: the context clamps
         p.ErrorContextDump(256, 1);
       },
       Lines{"  Error Context Dump (20)", "    \"abcdefghijklmnop\"", "    \"qrst\"",
             "    \"71 72 73 74 \"", "  *** Fatal: File ends prematurely!", "  \"qrst\"",
             "  \"71 72 73 74 \"", "  *** Fatal: File ends prematurely!",
             "  Error Context Dump (20)", "    \"abcdefghijklmnopqrst\"", "    \"\"", "    \"\""}},
  };
  ScratchDir dir;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    std::vector<std::string> lines = Walk(dir.Write("f.bin", row.bytes), RunOptions(), row.walk);
    ASSERT_EQ(lines.size(), row.lines.size() + 2 + row.hostLines);
    EXPECT_EQ(lines.front(), "  Reading 'f.bin' (" + std::to_string(row.bytes.size()) + ")");
    EXPECT_EQ(lines.back(), "  ");
    EXPECT_EQ(std::vector<std::string>(lines.begin() + 1 + row.hostLines, lines.end() - 1),
              row.lines);
  }
}

TEST(CParserTest, DebugSkipShowsSixteenBitsOfTheLimitAndTenBytesBefore) {
  ScratchDir dir;
  RunOptions options;
  options.report.verbosity = 5;
  auto lines =
      Walk(dir.Write("big.bin", Bytes(100000, 'x')), options, [](ProbeParser& p, int depth) {
        EXPECT_TRUE(p.Skip(20, true));
        EXPECT_TRUE(p.SkipChecked(70000, depth));
        EXPECT_EQ(p.CurrentPosition(), 70020u);
      });
  // Text line and hex line of 10 + 70000 % 65536 bytes; indent of 4 and two quotes.
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[1].size() - 6, 4464u + 10u);
}

TEST(CParserTest, ChunkHeaderLinesAndFourCCText) {
  EXPECT_EQ(CParser::FourCCText(FourCCFromBytes(Bytes{0x00, 0x64, 0x63, 0x01}.data())), "' dc '");
  ScratchDir dir;
  RunOptions verbose;
  verbose.report.verbosity = 3;
  auto lines = Walk(dir.Write("c.avi", Sequence(4)), verbose, [](ProbeParser& p, int depth) {
    p.ChunkHeaderLine(FourCC("LIST"), FourCC("hdrl"), 4096, 12, "AVI Header List", depth);
    p.ChunkHeaderLine(0, 0, 0xFFFFFFFF, 0, "Probe", depth);
    p.ChunkHeaderLine(FourCC("JUNK"), 0, 10, 30, "RIFF Junk", depth);
  });
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "  Reading 'c.avi' (4)", "    'LIST' (S:4096, P:12) 'hdrl': AVI Header List",
                       "    Probe", "    'JUNK' (S:10, P:30): RIFF Junk", "  "}));
}

// The opening line names the finished file of a partial download; a missing
// input gets the host's text, then the (empty) verdict line.
TEST(CParserTest, OpeningLineAndMissingInput) {
  ScratchDir dir;
  const std::string part = dir.Write("clip.part", Sequence(7));
  dir.Write("clip.part.met",
            apptest::MetBuilder().TagCount(1).StringTag("\x01", "film.avi").Bytes());
  EXPECT_EQ(Walk(part, RunOptions(), nullptr).front(), "  Reading 'clip.part' - 'film.avi' (7)");
  const auto lines = Walk(dir.File("absent.avi"), RunOptions(), [](ProbeParser&, int) { FAIL(); });
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines.back(), "  ");
}

}  // namespace
