#include <gtest/gtest.h>

#include "app/AppTestSupport.h"
#include "core/Report.h"

namespace {

struct ReportFixture : ::testing::Test {
  apptest::CapturedOutput captured;
  ReportOutput& output = captured.output;
  Report report{output};

  std::string Text() {
    output.Flush();
    return captured.out.str();
  }
};

TEST_F(ReportFixture, MessagesCarryIndentStarsAndLevelWord) {
  EXPECT_EQ(report.Message("Chunk Size mismatch!", 2, kError), 3);
  report.Message("File ends prematurely!", 0, kFatal);
  report.Message("plain", 1, kNone);
  report.Message("odd level", 1, 9);
  EXPECT_EQ(Text(),
            "    *** Error: Chunk Size mismatch!\n"
            "*** Fatal: File ends prematurely!\n"
            "  *** plain\n"
            "  *** \n");
}

// Item, mark and chunk size lines shown by verbosity; none while suppressed.
TEST_F(ReportFixture, LinesFollowVerbosity) {
  EXPECT_EQ(report.ItemLine("strh", "", "", 56, 212, 0, 1), 1);
  report.ItemLine("strh", "", "", 56, 212, 0, 3);
  report.ItemLine("'LIST'", "'hdrl'", "AVI Header List", 4096, 12, 1, 2);
  report.ItemLine("'LIST'", "'hdrl'", "AVI Header List", 4096, 12, 1, 3);
  report.ItemLine("", "", "abc", Report::kNoSize, 0, 2, 2);
  report.ItemLine("name", "", "abc", Report::kNoSize, 0, 2, 2);
  report.ItemLine("'X'", "'Y'", "", Report::kNoSize, 7, 0, 1);
  EXPECT_EQ(report.ItemLine("hidden", "", "", 1, 1, 3, 0), 3);
  EXPECT_EQ(report.MarkLine(false, "hidden failure", 1, 2), 2);
  report.MarkLine(true, "passed", 1, 2);
  report.MarkLine(false, "failed", 1, 3);
  EXPECT_EQ(report.ChunkSizeLine(42, 1, 0), 1);
  EXPECT_EQ(report.ChunkSizeLine(42, 1, 1), 2);
  report.ChunkSizeLine(42, 1, 2);
  output.SetSuppressed(true);
  report.PlainLine("gone", 0);
  output.SetSuppressed(false);
  report.PlainLine("kept", 0);
  EXPECT_EQ(Text(),
            "strh (56)\n"
            "strh (S:56, P:212)\n"
            "  'LIST' (4096) 'hdrl': AVI Header List\n"
            "  'LIST' (S:4096, P:12) 'hdrl': AVI Header List\n"
            "    abc\n"
            "    abc\n"
            "'X' (18446744073709551615) 'Y'\n"
            "  + passed\n"
            "  - failed\n"
            "  -> Chunk Size: 42\n"
            "kept\n");
}

TEST_F(ReportFixture, HexDumpShowsTextOrHexByContent) {
  const uint8_t mixed[] = {0x00, 0x01, 0x41, 0x42, 0x43, 0xFF};
  report.HexDump(mixed, sizeof mixed, 1, 2);
  const uint8_t riff[] = {'R', 'I', 'F', 'F'};
  report.HexDump(riff, sizeof riff, 0, 2);
  const uint8_t binary[] = {0x80, 0x90, 0x0a, 0x00, 0x01, 0x02};
  report.HexDump(binary, sizeof binary, 0, 2);  // nothing below verbosity 4
  report.HexDump(binary, sizeof binary, 0, 4);
  const uint8_t punct[] = {'a', '-', 'b', '!', 'c', ' '};
  report.HexDump(punct, sizeof punct, 0, 2);
  EXPECT_EQ(Text(),
            "  \"..ABC.\"\n"
            "\"RIFF\"\n"
            "\"52 49 46 46 \"\n"
            "\"80 90 a 0 1 2 \"\n"
            "\"a-b!c.\"\n");
}

TEST_F(ReportFixture, PlayTimes) {
  EXPECT_EQ(Report::PlayTimeFromFrames(1000, 25.0), "0:00:40:00 (25.00 fps, PAL)");
  EXPECT_EQ(Report::PlayTimeFromFrames(1000, 29.97), "0:00:33:11 (29.97 fps, NTSC)");
  EXPECT_EQ(Report::PlayTimeFromFrames(90000, 30.0), "0:50:00:00 (30.00 fps, NTSC)");
  EXPECT_EQ(Report::PlayTimeFromFrames(10, 0.005), "??? fps < 0.01");
  EXPECT_EQ(Report::PlayTimeFromFrames(37, 15.0), "0:00:02:07 (15.00 fps)");
  EXPECT_EQ(Report::PlayTimeFromMilliseconds(3723500, 25.0), "1:02:03:13 (25.00 fps, PAL)");
  EXPECT_EQ(Report::PlayTimeFromFrames(4294967295u, 1e300).substr(0, 8), "0:00:00:");
}

TEST_F(ReportFixture, ProgressDotsOnlyOnAConsole) {
  uint32_t counter = 0;
  for (int i = 0; i < 2500; ++i) report.ProgressTick(counter);
  EXPECT_EQ(counter, 2500u);
  EXPECT_EQ(captured.err.str(), "");

  apptest::CapturedOutput console(ConsoleState{false, true});
  Report consoleReport(console.output);
  uint32_t ticks = 0;
  for (int i = 0; i < 2500; ++i) consoleReport.ProgressTick(ticks);
  EXPECT_EQ(console.err.str(), "...");  // first tick (stdout redirected), 1000, 2000
}

}  // namespace
