#include "core/Console.h"

#include <cerrno>
#include <csignal>
#include <unistd.h>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

ConsoleState Console::Detect() {
  ConsoleState state;
  state.stdoutIsConsole = ::isatty(STDOUT_FILENO) == 1;
  state.stderrIsConsole = ::isatty(STDERR_FILENO) == 1;
  return state;
}

bool Console::StdinIsConsole() { return ::isatty(STDIN_FILENO) == 1; }

void Console::WaitForEnter() {
  char c = 0;
  for (;;) {
    const ssize_t n = ::read(STDIN_FILENO, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0 || c == '\n') return;  // end of input, an error, or the ENTER key
  }
}

void Console::Prepare() {
  // Without this a reader that closes the pipe (e.g. `| head`) would kill the
  // process in the middle of a write; ignored, the write fails with EPIPE.
  std::signal(SIGPIPE, SIG_IGN);
#if defined(__GLIBC__)
  // Every file of a batch takes read windows and buffers of up to a few
  // megabytes and gives them back. By default the C library returns such
  // blocks to the system and maps fresh ones for the next file, and the
  // page faults of touching them again cost more than the parsing of a small
  // file; kept, they are reused.
  mallopt(M_MMAP_THRESHOLD, 32 << 20);
  mallopt(M_TRIM_THRESHOLD, 64 << 20);
#endif
}
