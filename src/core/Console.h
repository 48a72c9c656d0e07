#pragma once
// Console facts of the host, decided once at start, and the ENTER prompt.

#include "core/ReportOutput.h"

class Console {
 public:
  static ConsoleState Detect();
  static bool StdinIsConsole();
  // Reads up to a newline or the end of standard input; never blocks once
  // standard input is closed.
  static void WaitForEnter();
  // Process-wide settings of a console program: SIGPIPE ignored so that a
  // closed pipe ends the output cleanly.
  static void Prepare();
};
