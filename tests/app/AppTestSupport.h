#pragma once
// Helpers shared by the application tests: file writers and a report sink
// captured into strings (the scratch directory comes from TestSupport.h).

#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "core/ReportOutput.h"

namespace apptest {

using testsupport::ScratchDir;
using testsupport::SplitLines;

inline void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  testsupport::KeepAsFuzzSeed(bytes);
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline void WriteText(const std::string& path, const std::string& text) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << text;
}

inline void WriteZeros(const std::string& path, uint64_t size) {
  std::filesystem::resize_file((WriteText(path, ""), path), size);
}

// A report sink over string streams with chosen console facts.
struct CapturedOutput {
  explicit CapturedOutput(ConsoleState console = ConsoleState()) : output(out, err, console) {}
  std::vector<std::string> Lines() {
    output.Flush();
    return SplitLines(out.str());
  }
  std::ostringstream out;
  std::ostringstream err;
  ReportOutput output;
};

}  // namespace apptest
