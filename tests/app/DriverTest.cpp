#include <gtest/gtest.h>

#include "AppTestSupport.h"
#include "app/CommandLine.h"
#include "app/Driver.h"

namespace {

using Args = std::vector<std::string>;

using apptest::CapturedOutput;
using apptest::ScratchDir;

const std::string kBanner = "Clipsmith 1.4.2";

struct DriverRun {
  explicit DriverRun(bool console) : captured(ConsoleState{console, console}) {}
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
    Args args;
    bool console;
    int status;
    std::vector<std::string> lines;
  } rows[] = {
      {Args{}, false, 1, WithBanner(usage)},
      {Args{"-h"}, false, 1, WithBanner(extended)},
      {Args{"-rx", "clip.avi"}, false, 4,
       WithBanner({"General failure with your command line arguments."})},
      {Args{"-v9", "-q"}, true, 1, extended},
      {Args{"-sf700M", dir.File("in.avi"), dir.File("out")}, false, 3, WithBanner({})},
      {Args{dir.File("only.*")}, false, 0, WithBanner({})},  // no totals without a file
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(::testing::PrintToString(row.args));
    DriverRun run(row.console);
    EXPECT_EQ(run.Run(row.args), row.status);
    EXPECT_EQ(run.captured.Lines(), row.lines);
    EXPECT_EQ(run.captured.err.str(), kBanner + "\n");
    EXPECT_EQ(run.waits, 0);
  }
}

// Jobs on a console or redirected: prompts between files and at the end, the
// totals line after a blank line, and the banner's place.
TEST(DriverJobs, PromptsOnlyOnAConsoleAndTotalsLast) {
  ScratchDir dir;
  for (const auto& [name, size] :
       {std::pair{"a.dat", 1000000}, {"b.dat", 2000000}, {"c.dat", 3145728}})
    apptest::WriteText(dir.File(name), std::string(size, '\0'));
  apptest::WriteText(dir.File("a.txt"), "Hello, world");
  apptest::WriteText(dir.File("b.txt"), "Hello, again");
  const struct {
    const char* glob;
    bool console;
    int waits;
    const char* totals;
  } rows[] = {
      {"*.dat", false, 0, "Total Files processed: 3, Total Size: 6145728 (5MB), Elapsed"},
      {"?.txt", true, 2, "Total Files processed: 2, Total Size: 24 (0MB)"},
      {"a.txt", true, 1, "Total Files processed: 1, Total Size: 12 (0MB)"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.glob);
    DriverRun run(row.console);
    EXPECT_EQ(run.Run({dir.File(row.glob)}), 0);
    EXPECT_EQ(run.waits, row.waits);
    std::vector<std::string> lines = run.captured.Lines();
    const std::string text = run.captured.out.str();
    EXPECT_EQ(lines.front() == kBanner, !row.console);
    EXPECT_EQ(run.captured.err.str(), kBanner + (row.console ? "\n" : "\n\n"));
    if (row.console) {
      ASSERT_EQ(lines.back(), "End... [ENTER]");
      lines.pop_back();
      EXPECT_EQ(text.find("Next File... [ENTER]") < text.find(dir.File("b.txt")), row.waits > 1);
    } else {
      EXPECT_EQ(text.find("[ENTER]"), std::string::npos);
    }
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[lines.size() - 2], "");
    EXPECT_EQ(lines.back().rfind(row.totals, 0), 0u) << lines.back();
  }
}

}  // namespace
