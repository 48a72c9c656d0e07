#pragma once
// The program's run: banner, command line, the jobs one after another with
// their timing, the pause between files on a console, and the totals.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "core/ReportOutput.h"
#include "core/RunOptions.h"
#include "core/Version.h"

class Driver {
 public:
  static constexpr const char* kBanner = kProgramName;
  static constexpr int kExitJobFailed = 2;

  // `args` holds the program's name first. `waitForEnter` is called for the
  // prompts, which are shown only when standard output is a console. Returns
  // the exit status: 0 normal end, 1 usage shown, 2 at least one job failed
  // (its source could not be read or its output not written; the other jobs
  // ran), 3 split name not formable, 4 command-line error.
  static int Run(const std::vector<std::string>& args, ReportOutput& output,
                 const std::function<void()>& waitForEnter);

  // The jobs of a parsed command line, one after another, and the totals;
  // returns the exit status (0 or 2).
  static int RunJobs(const std::vector<Job>& jobs, const RunOptions& options,
                     ReportOutput& output, const std::function<void()>& waitForEnter);

  // "Total Files processed: ..., Total Size: ... (...MB), Elapsed Time [s]: ..."
  static std::string TotalsLine(uint32_t files, uint64_t totalSize, double elapsedSeconds);

 private:
  // The banner on standard error, and as the report's first line.
  static void PrintBanner(ReportOutput& output);
  static void PrintBannerLine(ReportOutput& output);
  static void PrintUsage(ReportOutput& output, bool extended);
  static void Prompt(ReportOutput& output, const std::string& text,
                     const std::function<void()>& waitForEnter);
};
