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
  file.write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
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

// Builds a partial download's metadata record: header, part hashes, then
// the tags.
class MetBuilder {
 public:
  explicit MetBuilder(int16_t partHashes = 0, uint8_t version = 0xE0) {
    bytes_.push_back(version);
    bytes_.insert(bytes_.end(), 4 + 16, 0x11);  // date, file hash
    U16(static_cast<uint16_t>(partHashes));
    for (int i = 0; i < partHashes; ++i) bytes_.insert(bytes_.end(), 16, 0x22);
  }
  MetBuilder& TagCount(int32_t count) {
    U32(static_cast<uint32_t>(count));
    return *this;
  }
  MetBuilder& StringTag(const std::string& name, const std::string& value) {
    bytes_.push_back(2);
    Text(name);
    Text(value);
    return *this;
  }
  MetBuilder& IntegerTag(const std::string& name, uint32_t value) {
    bytes_.push_back(3);
    Text(name);
    U32(value);
    return *this;
  }
  MetBuilder& Raw(std::vector<uint8_t> raw) {
    bytes_.insert(bytes_.end(), raw.begin(), raw.end());
    return *this;
  }
  std::vector<uint8_t> Bytes() const { return bytes_; }

 private:
  void U16(uint16_t v) { bytes_.insert(bytes_.end(), {uint8_t(v), uint8_t(v >> 8)}); }
  void U32(uint32_t v) {
    bytes_.insert(bytes_.end(), {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)});
  }
  void Text(const std::string& text) {
    U16(static_cast<uint16_t>(text.size()));
    bytes_.insert(bytes_.end(), text.begin(), text.end());
  }
  std::vector<uint8_t> bytes_;
};

}  // namespace apptest
