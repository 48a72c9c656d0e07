#pragma once
// Helpers shared by the application tests: a scratch directory that removes
// itself, file writers, and a report sink captured into strings.

#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/ReportOutput.h"

namespace apptest {

class ScratchDir {
 public:
  ScratchDir() {
    static int serial = 0;
    path_ = std::filesystem::temp_directory_path() /
            ("clipsmith-app-" + std::to_string(::getpid()) + "-" + std::to_string(++serial));
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  // The directory with a trailing '/'.
  std::string Path() const { return path_.string() + "/"; }
  std::string File(const std::string& name) const { return Path() + name; }

 private:
  std::filesystem::path path_;
};

inline void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
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

inline std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  std::string line;
  while (std::getline(stream, line)) lines.push_back(line);
  return lines;
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
