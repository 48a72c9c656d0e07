#pragma once
// Turns the program's arguments into the options every parser receives, the
// ordered list of jobs (source file, output file) and an outcome that tells
// the driver whether to run the jobs, show the usage text or stop with a
// message.

#include <cstdint>
#include <string>
#include <vector>

#include "core/ReportOutput.h"
#include "core/RunOptions.h"

// One file to process: the full source path and the output path (empty when
// nothing is written).
struct Job {
  std::string source;
  std::string output;
};

enum ParseStatus : uint32_t {
  kRunJobs = 0,
  kShowMessage = 1,          // print the message, exit status 4
  kShowExtendedUsage = 2,    // print the extended usage text, exit status 1
  kSplitNameUnformable = 3,  // exit status 3, nothing printed
};

struct ParseResult {
  uint32_t status = kRunJobs;
  std::string message;
};

class CommandLine {
 public:
  // `output` receives the host's error texts of the metadata file read.
  explicit CommandLine(ReportOutput& output) : output_(output) {}

  // `args` holds the program's name first; it is skipped. `options` must hold
  // the defaults. Never ends the process.
  void Parse(const std::vector<std::string>& args, RunOptions& options, std::vector<Job>& jobs,
             ParseResult& result);

  // The usage lines, without line breaks.
  static std::vector<std::string> UsageText(bool extended);

 private:
  void ScanArgument(const std::string& arg, RunOptions& options);
  void ScanSwitch(const std::string& arg, RunOptions& options);
  void ScanFileName(const std::string& arg);
  void ScanFrameRate(const std::string& arg, char third, RunOptions& options);
  void ScanByteOrder(const std::string& arg, char third, RunOptions& options);
  void ScanQuirk(const std::string& arg, char third, RunOptions& options);
  void ScanWriteSwitch(const std::string& arg, char third, RunOptions& options);
  void ScanSize(const std::string& arg, char third, RunOptions& options);
  void ScanTrace(const std::string& arg, char third, RunOptions& options);
  void ScanFrameRange(const std::string& arg, char third, RunOptions& options);
  bool DigitsCheck(const std::string& arg);
  void Fail(const std::string& message);

  bool ResolveSource(const RunOptions& options);
  bool CheckFileNameCount();
  bool ExamineDestination();
  void BuildJobs(const RunOptions& options, std::vector<Job>& jobs);
  bool AddJob(const std::string& entryName, const RunOptions& options, std::vector<Job>& jobs);

  ReportOutput& output_;
  ParseResult result_;
  std::string sourceSpec_;
  std::string destination_;
  uint32_t fileNameCount_ = 0;
  bool write_ = false;
  bool overwrite_ = false;
  bool destinationIsDirectory_ = false;
  std::string sourceDirectory_;  // drive and directory of the resolved source
};
