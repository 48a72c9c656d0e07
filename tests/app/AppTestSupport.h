#pragma once
// Helpers shared by the application tests: file writers, a captured report
// sink and a builder of partial-download metadata.

#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "core/ReportOutput.h"

namespace apptest {

using testsupport::ScratchDir;

inline void WriteText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

inline void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  testsupport::KeepAsFuzzSeed(bytes);
  WriteText(path, std::string(bytes.begin(), bytes.end()));
}

// A report sink over string streams with chosen console facts.
struct CapturedOutput {
  explicit CapturedOutput(ConsoleState console = ConsoleState()) : output(out, err, console) {}
  std::vector<std::string> Lines() {
    output.Flush();
    return testsupport::SplitLines(out.str());
  }
  std::ostringstream out;
  std::ostringstream err;
  ReportOutput output;
};

// Builds a partial download's metadata record: header (version, date, file
// hash), part hashes, then the tags (type, name, value).
class MetBuilder {
 public:
  explicit MetBuilder(int16_t partHashes = 0, uint8_t version = 0xE0) {
    body_.U8(version).Zeros(4 + 16).U16(static_cast<uint16_t>(partHashes));
    for (int i = 0; i < partHashes; ++i) body_.Zeros(16);
  }
  MetBuilder& TagCount(int32_t count) {
    body_.U32(static_cast<uint32_t>(count));
    return *this;
  }
  MetBuilder& StringTag(const std::string& name, const std::string& value) {
    body_.U8(2);
    return Text(name).Text(value);
  }
  MetBuilder& IntegerTag(const std::string& name, uint32_t value) {
    body_.U8(3);
    Text(name);
    body_.U32(value);
    return *this;
  }
  MetBuilder& Raw(const std::vector<uint8_t>& raw) {
    body_.data.insert(body_.data.end(), raw.begin(), raw.end());
    return *this;
  }
  std::vector<uint8_t> Bytes() const { return body_.data; }

 private:
  MetBuilder& Text(const std::string& text) {
    body_.U16(static_cast<uint16_t>(text.size()));
    body_.data.insert(body_.data.end(), text.begin(), text.end());
    return *this;
  }
  testsupport::BodyBuilder body_;
};

}  // namespace apptest
