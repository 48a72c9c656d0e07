#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>

#include "AppTestSupport.h"
#include "app/CommandLine.h"
#include "app/Driver.h"

namespace {

using apptest::CapturedOutput;
using apptest::ScratchDir;

const std::string kBanner = "Clipsmith 1.4.2";

ConsoleState Redirected() { return ConsoleState(); }
ConsoleState OnConsole() {
  ConsoleState state;
  state.stdoutIsConsole = true;
  state.stderrIsConsole = true;
  return state;
}

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

TEST(DriverExit, UsageAndMessageStatuses) {
  DriverRun bare(Redirected());
  EXPECT_EQ(bare.Run({}), 1);
  EXPECT_EQ(bare.captured.Lines(), WithBanner(CommandLine::UsageText(false)));
  EXPECT_EQ(bare.captured.err.str(), kBanner + "\n");

  DriverRun help(Redirected());
  EXPECT_EQ(help.Run({"-h"}), 1);
  EXPECT_EQ(help.captured.Lines(), WithBanner(CommandLine::UsageText(true)));

  DriverRun message(Redirected());
  EXPECT_EQ(message.Run({"-rx", "clip.avi"}), 4);
  EXPECT_EQ(message.captured.Lines(),
            WithBanner({"General failure with your command line arguments."}));

  // On a console the banner goes to standard error only.
  DriverRun console(OnConsole());
  EXPECT_EQ(console.Run({"-v9", "-q"}), 1);
  EXPECT_EQ(console.captured.Lines(), CommandLine::UsageText(true));
  EXPECT_EQ(console.captured.err.str(), kBanner + "\n");
  EXPECT_EQ(console.waits, 0);
}

TEST(DriverExit, UnformableSplitNameEndsSilentlyWithThree) {
  ScratchDir dir;
  apptest::WriteText(dir.File("in.avi"), "x");
  DriverRun run(Redirected());
  EXPECT_EQ(run.Run({"-sf700M", dir.File("in.avi"), dir.File("out")}), 3);
  EXPECT_EQ(run.captured.Lines(), WithBanner({}));
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
  for (const std::string& line : lines) EXPECT_EQ(line.find("[ENTER]"), std::string::npos);
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
  EXPECT_EQ(lines[0], "");
  EXPECT_EQ(lines[1], dir.File("a.txt"));
  EXPECT_EQ(lines[5], "  This file is not recognized.");
  EXPECT_EQ(lines[6], "Next File... [ENTER]");
  EXPECT_EQ(lines[7], "");
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
  for (size_t i = 0; i + 1 < lines.size(); ++i)
    EXPECT_EQ(lines[i].find("[ENTER]"), std::string::npos);
}

TEST(DriverJobs, NoRegularFileMeansNoTotals) {
  ScratchDir dir;
  std::filesystem::create_directory(dir.File("only.dir"));
  DriverRun run(Redirected());
  EXPECT_EQ(run.Run({dir.File("only.*")}), 0);
  EXPECT_EQ(run.captured.Lines(), WithBanner({}));
  EXPECT_EQ(run.captured.err.str(), kBanner + "\n");
}

// The program itself, with standard output in a file and no input: the
// banner heads the report, and nothing waits for a key.
TEST(DriverProgram, RedirectedOutputCarriesTheBanner) {
  ScratchDir dir;
  apptest::WriteText(dir.File("note.txt"), "Hello, world");
  const std::string report = dir.File("report.txt");
  const std::string command = std::string(CLIPSMITH_BINARY) + " '" + dir.File("note.txt") +
                              "' > '" + report + "' 2>/dev/null < /dev/null";
  const int status = std::system(command.c_str());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  std::ifstream file(report);
  std::string first;
  std::getline(file, first);
  EXPECT_EQ(first, kBanner);

  const std::string usage = std::string(CLIPSMITH_BINARY) + " > /dev/null 2>&1 < /dev/null";
  const int usageStatus = std::system(usage.c_str());
  ASSERT_TRUE(WIFEXITED(usageStatus));
  EXPECT_EQ(WEXITSTATUS(usageStatus), 1);
}

}  // namespace
