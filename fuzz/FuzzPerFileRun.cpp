// libFuzzer target: the per-file run (probe, dispatch, parse, report and, for
// half of the inputs, the writer of a repaired AVI into a scratch file) on an
// arbitrary file. The report goes to a sink that discards it; the options are
// varied with the last two bytes of the input so that verbose and quiet
// report paths, the index checks and the writer are all exercised.

#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <iostream>
#include <streambuf>
#include <string>

#include "app/FormatProbe.h"
#include "core/ReportOutput.h"
#include "core/RunOptions.h"

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

  RunOptions options;
  std::string output;
  if (size >= 2) {
    static const uint32_t kVerbosities[] = {0, 1, 2, 3, 4, 6};
    options.verbosity = kVerbosities[data[size - 1] % 6];
    options.checkIndexes = (data[size - 2] & 1) == 0;
    options.subchunkEnforcesParentSize = (data[size - 2] & 2) != 0;
    if ((data[size - 2] & 4) != 0) output = path + ".out.avi";
    if ((data[size - 2] & 8) != 0) options.writeIdx1 = true;
    if ((data[size - 2] & 16) != 0) options.moviChunkLimit = 1048576;
  }
  DiscardBuffer discard;
  std::ostream sink(&discard);
  ReportOutput report(sink, sink, ConsoleState{});
  FormatProbe::RunFile(path, output, options, report);
  return 0;
}
