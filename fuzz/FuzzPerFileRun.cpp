// libFuzzer target: the per-file run (probe, dispatch, parse, report and, for
// half of the inputs, the writer of a repaired AVI into a scratch file) on an
// arbitrary file. The report goes to a sink that discards it; the options
// come from the input's last bytes (FuzzOptions.h).

#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <iostream>
#include <streambuf>
#include <string>

#include "app/FormatProbe.h"
#include "core/ReportOutput.h"
#include "fuzz/FuzzOptions.h"

namespace {

class DiscardBuffer : public std::streambuf {
 protected:
  int overflow(int c) override { return c == EOF ? 0 : c; }
  std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

const std::string& ScratchPath() {
  static const std::string path = [] {
    char name[] = "/tmp/clipsmith-fuzz-XXXXXX";
    int fd = mkstemp(name);
    if (fd >= 0) close(fd);
    return std::string(name);
  }();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& path = ScratchPath();
  FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return 0;
  if (size > 0) std::fwrite(data, 1, size, file);
  std::fclose(file);

  const FuzzJob job = FuzzJobFor(data, size);
  const std::string output = job.writes ? path + ".out.avi" : std::string();
  DiscardBuffer discard;
  std::ostream sink(&discard);
  ReportOutput report(sink, sink, ConsoleState{});
  FormatProbe::RunFile(path, output, job.options, report);
  return 0;
}
