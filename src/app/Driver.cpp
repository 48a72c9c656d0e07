#include "app/Driver.h"

#include <cmath>
#include <sstream>

#include "app/BatchRunner.h"
#include "app/CommandLine.h"
#include "core/JsonReport.h"
#include "core/RunOptions.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitUsage = 1;
constexpr int kExitSplitName = 3;
constexpr int kExitMessage = 4;

constexpr uint64_t kMebi = 1048576;

}  // namespace

std::string Driver::TotalsLine(uint32_t files, uint64_t totalSize, double elapsedSeconds) {
  // Hundredths of a second, cut (not rounded), in the stream's default
  // six-digit format: 2.34567 s shows as 2.34, 0.004 s as 0.
  const double shown = std::trunc(elapsedSeconds * 100) * 0.01;
  std::ostringstream text;
  text << "Total Files processed: " << files << ", Total Size: " << totalSize << " ("
       << totalSize / kMebi << "MB)" << ", Elapsed Time [s]: " << shown;
  return text.str();
}

void Driver::PrintBanner(ReportOutput& output) { output.Error(std::string(kBanner) + "\n"); }

void Driver::PrintBannerLine(ReportOutput& output) {
  // A redirected report carries the banner too, so the file names its maker.
  if (!output.Console().stdoutIsConsole) output.Line(kBanner);
}

void Driver::PrintUsage(ReportOutput& output, bool extended) {
  for (const std::string& line : CommandLine::UsageText(extended)) output.Line(line);
}

void Driver::Prompt(ReportOutput& output, const std::string& text,
                    const std::function<void()>& waitForEnter) {
  output.Line(text);
  output.Flush();
  if (waitForEnter) waitForEnter();
}

int Driver::Run(const std::vector<std::string>& args, ReportOutput& output,
                const std::function<void()>& waitForEnter) {
  PrintBanner(output);
  if (args.size() <= 1) {
    PrintBannerLine(output);
    PrintUsage(output, false);
    return kExitUsage;
  }

  RunOptions options;
  std::vector<Job> jobs;
  ParseResult result;
  CommandLine(output).Parse(args, options, jobs, result);
  // A JSON document is nothing but the document.
  if (result.status != kRunJobs || !options.batch.json) PrintBannerLine(output);
  switch (result.status) {
    case kRunJobs: break;
    case kShowMessage: output.Line(result.message); return kExitMessage;
    case kSplitNameUnformable: return kExitSplitName;
    default: PrintUsage(output, true); return kExitUsage;
  }
  if (jobs.empty()) return kExitOk;
  return RunJobs(jobs, options, output, waitForEnter);
}

int Driver::RunJobs(const std::vector<Job>& jobs, const RunOptions& options,
                    ReportOutput& output, const std::function<void()>& waitForEnter) {
  const bool json = options.batch.json;
  // The pauses are for a reader of the text report on a console.
  const bool console = output.Console().stdoutIsConsole && !json;
  std::function<void()> between;
  if (console) between = [&] { Prompt(output, "Next File... [ENTER]", waitForEnter); };
  if (json) {
    output.Document(JsonReport::DocumentStart(kProgramName, CLIPSMITH_VERSION));
    output.SetJsonMode(true);
  }
  const BatchRunner::Totals totals = BatchRunner(options, output).Run(jobs, between);
  if (json) {
    output.SetJsonMode(false);
    output.Document(JsonReport::DocumentEnd(totals.files, totals.size, totals.seconds));
  } else {
    output.Line("");
    output.Line(TotalsLine(totals.files, totals.size, totals.seconds));
  }
  if (console) {
    Prompt(output, "End... [ENTER]", waitForEnter);
  } else {
    output.Error("\n");
  }
  return totals.anyFailed ? kExitJobFailed : kExitOk;
}
