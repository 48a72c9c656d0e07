#include <gtest/gtest.h>

#include "AppTestSupport.h"
#include "app/ChildProcess.h"
#include "app/CommandLine.h"
#include "app/Driver.h"

namespace {

using apptest::CapturedOutput;
using apptest::ScratchDir;

const std::string kBanner = "Clipsmith 1.4.2";

ConsoleState Redirected() { return ConsoleState(); }
ConsoleState OnConsole() { return ConsoleState{true, true}; }

struct DriverRun {
  explicit DriverRun(ConsoleState console) : captured(console) {}
  int Run(std::vector<std::string> args) {
    args.insert(args.begin(), "clipsmith");
    return Driver::Run(args, captured.output, [this] { ++waits; });
  }
  CapturedOutput captured;
  int waits = 0;
};

std::vector<std::string> WithBanner(std::vector<std::string> lines) {
  lines.insert(lines.begin(), kBanner);
  return lines;
}

TEST(DriverTotals, LineShowsSizeInMebibytesAndCutHundredths) {
  EXPECT_EQ(Driver::TotalsLine(3, 1000000 + 2000000 + 3145728, 2.34567),
            "Total Files processed: 3, Total Size: 6145728 (5MB), Elapsed Time [s]: 2.34");
  EXPECT_EQ(Driver::TotalsLine(1, 12, 0.004),
            "Total Files processed: 1, Total Size: 12 (0MB), Elapsed Time [s]: 0");
  EXPECT_EQ(Driver::TotalsLine(2, 5000000000ull, 1234.5678),
            "Total Files processed: 2, Total Size: 5000000000 (4768MB), Elapsed Time [s]: 1234.56");
}

// Runs that end before any job, or with no job to run: status, report and
// standard error. On a console the banner goes to standard error only.
TEST(DriverExit, StatusReportAndBannerOfRunsWithoutJobs) {
  ScratchDir dir;
  apptest::WriteText(dir.File("in.avi"), "x");
  std::filesystem::create_directory(dir.File("only.dir"));
  const std::vector<std::string> usage = CommandLine::UsageText(false);
  const std::vector<std::string> extended = CommandLine::UsageText(true);
  const struct {
    std::vector<std::string> args;
    bool console;
    int status;
    std::vector<std::string> lines;
  } rows[] = {
      {{}, false, 1, WithBanner(usage)},
      {{"-h"}, false, 1, WithBanner(extended)},
      {{"-rx", "clip.avi"},
       false,
       4,
       WithBanner({"General failure with your command line arguments."})},
      {{"-v9", "-q"}, true, 1, extended},
      {{"-sf700M", dir.File("in.avi"), dir.File("out")}, false, 3, WithBanner({})},
      {{dir.File("only.*")}, false, 0, WithBanner({})},  // no totals without a file
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(::testing::PrintToString(row.args));
    DriverRun run(row.console ? OnConsole() : Redirected());
    EXPECT_EQ(run.Run(row.args), row.status);
    EXPECT_EQ(run.captured.Lines(), row.lines);
    EXPECT_EQ(run.captured.err.str(), kBanner + "\n");
    EXPECT_EQ(run.waits, 0);
  }
}

TEST(DriverJobs, RedirectedRunNeverWaits) {
  ScratchDir dir;
  apptest::WriteZeros(dir.File("a.dat"), 1000000);
  apptest::WriteZeros(dir.File("b.dat"), 2000000);
  apptest::WriteZeros(dir.File("c.dat"), 3145728);
  DriverRun run(Redirected());
  EXPECT_EQ(run.Run({dir.File("*.dat")}), 0);
  EXPECT_EQ(run.waits, 0);
  const std::vector<std::string> lines = run.captured.Lines();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines.front(), kBanner);
  EXPECT_EQ(lines[lines.size() - 2], "");
  EXPECT_EQ(lines.back().rfind(
                "Total Files processed: 3, Total Size: 6145728 (5MB), Elapsed Time [s]: ", 0),
            0u)
      << lines.back();
  EXPECT_EQ(run.captured.out.str().find("[ENTER]"), std::string::npos);
  EXPECT_EQ(run.captured.err.str(), kBanner + "\n\n");
}

TEST(DriverJobs, ConsoleRunPromptsBetweenFilesAndAtTheEnd) {
  ScratchDir dir;
  apptest::WriteText(dir.File("a.txt"), "Hello, world");
  apptest::WriteText(dir.File("b.txt"), "Hello, again");
  DriverRun run(OnConsole());
  EXPECT_EQ(run.Run({dir.File("?.txt")}), 0);
  EXPECT_EQ(run.waits, 2);

  const std::vector<std::string> lines = run.captured.Lines();
  ASSERT_EQ(lines.size(), 16u);
  EXPECT_EQ(lines[1], dir.File("a.txt"));
  EXPECT_EQ(lines[5], "  This file is not recognized.");
  EXPECT_EQ(lines[6], "Next File... [ENTER]");
  EXPECT_EQ(lines[8], dir.File("b.txt"));
  EXPECT_EQ(lines[13], "");
  EXPECT_EQ(lines[14].rfind("Total Files processed: 2, Total Size: 24 (0MB)", 0), 0u);
  EXPECT_EQ(lines[15], "End... [ENTER]");
  EXPECT_EQ(run.captured.err.str(), kBanner + "\n");
}

TEST(DriverJobs, OneJobOnAConsoleOnlyPromptsAtTheEnd) {
  ScratchDir dir;
  apptest::WriteText(dir.File("a.txt"), "Hello, world");
  DriverRun run(OnConsole());
  EXPECT_EQ(run.Run({dir.File("a.txt")}), 0);
  EXPECT_EQ(run.waits, 1);
  const std::vector<std::string> lines = run.captured.Lines();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "End... [ENTER]");
  EXPECT_EQ(run.captured.out.str().find("[ENTER]"), run.captured.out.str().rfind("[ENTER]"));
}

// The program itself, with standard output in a file and no input: the
// banner heads the report, and nothing waits for a key.
TEST(DriverProgram, RedirectedOutputCarriesTheBanner) {
  ScratchDir dir;
  apptest::WriteText(dir.File("note.txt"), "Hello, world");
  const apptest::ChildOutcome run =
      apptest::ChildProcess::Run({CLIPSMITH_BINARY, dir.File("note.txt")}, 60);
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.out.rfind(kBanner + "\n", 0), 0u) << run.out;
  EXPECT_EQ(apptest::ChildProcess::Run({CLIPSMITH_BINARY}, 60).exitStatus, 1);
}

}  // namespace
