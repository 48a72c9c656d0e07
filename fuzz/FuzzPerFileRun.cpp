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

#include "app/BatchRunner.h"
#include "app/FormatProbe.h"
#include "core/ReportOutput.h"
#include "fuzz/FuzzOptions.h"

namespace {

class DiscardBuffer : public std::streambuf {
 protected:
  int overflow(int c) override { return c == EOF ? 0 : c; }
  std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

// Discards a JSON report but checks its shape on the way: brackets that
// balance outside strings, no raw control character inside one. A report
// that breaks them aborts the run (a finding).
class JsonShapeBuffer : public std::streambuf {
 public:
  void CheckEnded() const {
    if (depth_ != 0 || inString_) std::abort();
  }

 protected:
  int overflow(int c) override {
    if (c != EOF) Take(static_cast<char>(c));
    return c == EOF ? 0 : c;
  }
  std::streamsize xsputn(const char* data, std::streamsize n) override {
    for (std::streamsize i = 0; i < n; ++i) Take(data[i]);
    return n;
  }

 private:
  void Take(char c) {
    const auto byte = static_cast<unsigned char>(c);
    if (inString_) {
      if (byte < 0x20) std::abort();
      if (escaped_) {
        escaped_ = false;
      } else if (c == '\\') {
        escaped_ = true;
      } else if (c == '"') {
        inString_ = false;
      }
      return;
    }
    if (c == '"') inString_ = true;
    if (c == '{' || c == '[') ++depth_;
    if (c == '}' || c == ']') {
      if (depth_ == 0) std::abort();
      --depth_;
    }
  }
  long depth_ = 0;
  bool inString_ = false;
  bool escaped_ = false;
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
  if (!job.options.batch.json) {
    ReportOutput report(sink, sink, ConsoleState{});
    FormatProbe::RunFile(path, output, job.options, report);
    return 0;
  }
  JsonShapeBuffer shape;
  std::ostream json(&shape);
  {
    ReportOutput report(json, sink, ConsoleState{});
    report.SetJsonMode(true);
    BatchRunner::RunJob({path, output}, job.options, report);
  }
  shape.CheckEnded();
  return 0;
}
