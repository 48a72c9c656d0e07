// libFuzzer target: the per-file run (probe, dispatch, parse, report and, for
// half of the inputs, the writer of a repaired AVI into a scratch file) on an
// arbitrary file. The report goes to a sink that discards it; the options are
// varied with the last three bytes of the input so that verbose and quiet
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
  if (size >= 3) {
    static const uint32_t kVerbosities[] = {0, 1, 2, 3, 4, 6};
    const uint8_t level = data[size - 1];
    const uint8_t parse = data[size - 2];
    const uint8_t write = data[size - 3];
    options.verbosity = kVerbosities[level % 6];
    options.checkIndexes = (parse & 1) == 0;
    options.subchunkEnforcesParentSize = (parse & 2) != 0;
    if ((parse & 4) != 0) output = path + ".out.avi";
    if ((parse & 8) != 0) options.writeIdx1 = true;
    if ((parse & 16) != 0) options.moviChunkLimit = 1048576;
    if ((parse & 32) != 0) options.switchXi = true;
    if ((parse & 64) != 0) options.moviParseLimit = 30;
    if ((parse & 128) != 0) options.byteOrder = 1 + level / 6 % 2;
    // The writer's own choices: DV conversions, cuts, a new rate, stripped
    // streams, split files.
    if ((write & 1) != 0) options.switchQ1 = true;
    if ((write & 2) != 0) options.switchQ2 = true;
    if ((write & 4) != 0) options.firstFrame = 2;
    if ((write & 8) != 0) options.lastFrame = 5;
    if ((write & 16) != 0) options.videoFps = 12.5;
    if ((write & 32) != 0) options.strippedStreams.insert(1);
    if ((write & 64) != 0) options.splitSize = 65536;
    if ((write & 128) != 0) {
      options.writeOpenDml = false;
      options.fixAudioScale = true;
      options.ignoreIdx1Order = true;
    }
  }
  DiscardBuffer discard;
  std::ostream sink(&discard);
  ReportOutput report(sink, sink, ConsoleState{});
  FormatProbe::RunFile(path, output, options, report);
  return 0;
}
