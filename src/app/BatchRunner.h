#pragma once
// Runs the jobs of a batch, one after another or several at once, and gives
// each job's report to the output whole and in the order of the jobs. Jobs
// run at once write their reports aside (a spool each), and a report is
// copied out as soon as every report before it has been. In JSON mode each
// report is the file's object of the document.

#include <cstdint>
#include <functional>
#include <vector>

#include "app/CommandLine.h"
#include "app/FormatProbe.h"
#include "core/ReportOutput.h"
#include "core/RunOptions.h"

class BatchRunner {
 public:
  struct Totals {
    uint32_t files = 0;
    uint64_t size = 0;
    double seconds = 0.0;
    bool anyFailed = false;
  };

  BatchRunner(const RunOptions& options, ReportOutput& output)
      : options_(options), output_(output) {}

  // `between` is called between the reports of two jobs (the console's
  // pause) when the jobs run one after another.
  Totals Run(const std::vector<Job>& jobs, const std::function<void()>& between);

  // One job, its report on `output` (in JSON mode, the file's object).
  static JobOutcome RunJob(const Job& job, const RunOptions& options, ReportOutput& output);

 private:
  Totals RunInOrder(const std::vector<Job>& jobs, const std::function<void()>& between);
  Totals RunAtOnce(const std::vector<Job>& jobs, uint32_t workers);
  // Ahead of every report but the first: the comma between file objects.
  void Separate(size_t index);
  static void Add(Totals& totals, const JobOutcome& outcome);

  const RunOptions& options_;
  ReportOutput& output_;
};
