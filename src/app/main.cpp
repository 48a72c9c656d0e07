// Entry point: console set-up, the run, and the exit status.

#include <cerrno>
#include <iostream>
#include <string>
#include <vector>

#include "app/Driver.h"
#include "core/Console.h"
#include "core/ReportOutput.h"
#include "core/SystemError.h"

int main(int argc, char** argv) {
  Console::Prepare();
  const ConsoleState console = Console::Detect();
  // The report is written through the C++ streams only; unsynchronised they
  // buffer whole blocks instead of handing each piece to the C library.
  std::ios::sync_with_stdio(false);
  std::vector<std::string> args(argv, argv + argc);
  int status = 0;
  {
    ReportOutput output(std::cout, std::cerr, console);
    status = Driver::Run(args, output, &Console::WaitForEnter);
    output.Flush();
    // A report that could not be written is a failed run. A reader that
    // stopped early (a closed pipe) needs no message.
    const int error = output.WriteError();
    if (error != 0) {
      if (error != EPIPE) std::cerr << SystemError::Text(error) << '\n';
      if (status == 0) status = Driver::kExitJobFailed;
    }
  }
  return status;
}
