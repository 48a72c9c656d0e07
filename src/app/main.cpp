// Entry point: console set-up, the run, and the exit status.

#include <iostream>
#include <string>
#include <vector>

#include "app/Driver.h"
#include "core/Console.h"
#include "core/ReportOutput.h"

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
  }
  return status;
}
