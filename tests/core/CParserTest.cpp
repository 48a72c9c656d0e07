#include <gtest/gtest.h>

#include "TestSupport.h"
#include "core/CParser.h"
#include "core/FourCC.h"

namespace {

using testsupport::Bytes;
using testsupport::RunParserOnFile;
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
  std::ostringstream out, err;
  ReportOutput output(out, err, ConsoleState());
  {
    ProbeParser parser(options, output);
    parser.walk = std::move(walk);
    parser.Parse(path, "");
  }
  output.Flush();
  auto lines = testsupport::SplitLines(out.str());
  lines.erase(lines.begin());  // the path names the scratch directory
  return lines;
}

Bytes Sequence(size_t count) {
  Bytes bytes(count);
  for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>('a' + i % 26);
  return bytes;
}

TEST(CParserTest, EmptyFileEndsPrematurelyOnTheFirstRead) {
  ScratchDir dir;
  auto lines = Walk(dir.Write("empty.avi", {}), RunOptions(), [](ProbeParser& p, int depth) {
    uint8_t token[4];
    EXPECT_FALSE(p.ReadChecked(token, 4, depth, true));
  });
  EXPECT_EQ(lines, (std::vector<std::string>{"  Reading 'empty.avi' (0)",
                                             "    *** Fatal: File ends prematurely!", "  "}));
}

TEST(CParserTest, ShortReadShowsTheBytesThatArrived) {
  ScratchDir dir;
  auto lines = Walk(dir.Write("short.bin", testsupport::TextBytes("RIFFab")), RunOptions(),
                    [](ProbeParser& p, int depth) {
                      uint8_t buffer[12];
                      EXPECT_FALSE(p.ReadChecked(buffer, 12, depth, true));
                      EXPECT_EQ(p.Counter(), 0u);
                    });
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(lines.front(), "  Reading 'short.bin' (6)");
  // The host's own text for the short read comes first; its wording is not ours.
  EXPECT_EQ(lines[lines.size() - 3], "    *** Fatal: File ends prematurely!");
  EXPECT_EQ(lines[lines.size() - 2], "    \"RIFFab\"");
}

TEST(CParserTest, SkipPastTheEndShowsWhatIsLeftAndStopsAtTheEnd) {
  ScratchDir dir;
  Bytes bytes = Sequence(40);
  auto lines = Walk(dir.Write("skip.bin", bytes), RunOptions(), [](ProbeParser& p, int) {
    EXPECT_TRUE(p.Skip(20, true));
    EXPECT_TRUE(p.SkipChecked(1000, 3));
    EXPECT_EQ(p.CurrentPosition(), 40u);
  });
  EXPECT_EQ(lines, (std::vector<std::string>{"  Reading 'skip.bin' (40)",
                                             "      *** Fatal: File ends prematurely!",
                                             "      \"uvwxyzabcdefghijklmn\"", "  "}));
}

TEST(CParserTest, SkipAtDepthZeroShowsNothing) {
  ScratchDir dir;
  auto lines = Walk(dir.Write("quiet.bin", Sequence(30)), RunOptions(), [](ProbeParser& p, int) {
    EXPECT_TRUE(p.SkipChecked(10, 0));
    EXPECT_TRUE(p.SkipChecked(100, 0));
    EXPECT_EQ(p.CurrentPosition(), 30u);
  });
  EXPECT_EQ(lines, (std::vector<std::string>{"  Reading 'quiet.bin' (30)",
                                             "*** Fatal: File ends prematurely!", "  "}));
}

TEST(CParserTest, DebugSkipShowsSixteenBitsOfTheLimitAndTenBytesBefore) {
  ScratchDir dir;
  RunOptions options;
  options.report.verbosity = 5;
  Bytes bytes(100000, 'x');
  uint64_t shown = 0;
  auto lines = Walk(dir.Write("big.bin", bytes), options, [&](ProbeParser& p, int depth) {
    EXPECT_TRUE(p.Skip(20, true));
    EXPECT_TRUE(p.SkipChecked(70000, depth));
    EXPECT_EQ(p.CurrentPosition(), 70020u);
  });
  // Text line and hex line of 10 + 70000 % 65536 bytes.
  ASSERT_EQ(lines.size(), 4u);
  shown = lines[1].size() - 6;  // indent of 4 and two quotes
  EXPECT_EQ(shown, 4464u + 10u);
}

TEST(CParserTest, ReadAndDumpAndErrorContextStayInsideTheFile) {
  ScratchDir dir;
  auto lines = Walk(dir.Write("ctx.bin", Sequence(20)), RunOptions(), [](ProbeParser& p, int) {
    EXPECT_TRUE(p.Skip(16, true));
    p.ErrorContextDump(128, 1);
    EXPECT_EQ(p.CurrentPosition(), 16u);
    EXPECT_TRUE(p.ReadAndDump(10, 1));  // only 4 bytes left
    EXPECT_EQ(p.CurrentPosition(), 20u);
    EXPECT_FALSE(p.ReadAndDump(10, 1));
    EXPECT_TRUE(p.Skip(1000, false));  // beyond the end: the context clamps
    p.ErrorContextDump(256, 1);
  });
  EXPECT_EQ(lines,
            (std::vector<std::string>{
                "  Reading 'ctx.bin' (20)", "  Error Context Dump (20)", "    \"abcdefghijklmnop\"",
                "    \"qrst\"", "    \"71 72 73 74 \"", "  *** Fatal: File ends prematurely!",
                "  \"qrst\"", "  \"71 72 73 74 \"", "  *** Fatal: File ends prematurely!",
                "  Error Context Dump (20)", "    \"abcdefghijklmnopqrst\"",
                "    \"\"",  // nothing after the end: an empty dump
                "    \"\"", "  "}));
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

TEST(CParserTest, OpeningLineNamesThePartialDownload) {
  ScratchDir dir;
  std::string part = dir.Write("clip.part", Sequence(7));
  Bytes met = {0xE0, 1, 2, 3, 4};
  met.resize(met.size() + 16, 0);          // file hash
  met.insert(met.end(), {0, 0});           // no part hashes
  met.insert(met.end(), {1, 0, 0, 0});     // one tag
  met.insert(met.end(), {2, 1, 0, 0x01});  // string tag named 0x01
  met.insert(met.end(), {8, 0});
  for (char c : std::string("film.avi")) met.push_back(static_cast<uint8_t>(c));
  dir.Write("clip.part.met", met);
  auto lines = Walk(part, RunOptions(), nullptr);
  EXPECT_EQ(lines.front(), "  Reading 'clip.part' - 'film.avi' (7)");
}

TEST(CParserTest, MissingInputPrintsTheHostTextAndTheVerdict) {
  ScratchDir dir;
  auto lines = Walk(dir.File("absent.avi"), RunOptions(), [](ProbeParser&, int) { FAIL(); });
  ASSERT_EQ(lines.size(), 2u);  // the host's text, then the (empty) verdict line
  EXPECT_EQ(lines.back(), "  ");
}

}  // namespace
