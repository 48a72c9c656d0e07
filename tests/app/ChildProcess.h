#pragma once
// Runs a program as a child process with a deadline and reports how it
// ended, how long it took and its peak memory: the way to hold the tool to
// time and memory bounds, and to see its exit status and standard output.

#include <string>
#include <vector>

namespace apptest {

struct ChildOutcome {
  int exitStatus = -1;  // -1 when it did not exit normally
  double seconds = 0.0;
  long peakKiB = 0;  // peak resident set
  std::string out;   // standard output
  std::string err;   // standard error
};

class ChildProcess {
 public:
  // `args` holds the program path first. Standard input is empty.
  static ChildOutcome Run(const std::vector<std::string>& args, double deadlineSeconds);
};

}  // namespace apptest
