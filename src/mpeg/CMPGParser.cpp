#include "mpeg/CMPGParser.h"

#include "mpeg/CMPGESAudioParser.h"
#include "mpeg/CMPGESGenericParser.h"
#include "mpeg/CMPGESVideoParser.h"

CMPGParser::CMPGParser(RunOptions options, ReportOutput& output)
    : CParser(std::move(options), output) {}

CMPGParser::~CMPGParser() = default;

bool CMPGParser::Parse(const std::string& sourcePath, const std::string& outputPath) {
  bool ok = false;
  RunParse(sourcePath, outputPath, [&](int depth) { OpeningLine(depth); });
  return ok;
}

void CMPGParser::Field(std::string_view label, const std::string& value, int depth,
                       uint32_t level) {
  if (Verbosity() < level) return;
  std::string line(label);
  line += ' ';
  line += value;
  report_.PlainLine(line, depth);
}

void CMPGParser::Warning(const std::string& text, int depth) const {
  report_.Message(text, depth, kWarning);
}

void CMPGParser::Error(const std::string& text, int depth) const {
  report_.Message(text, depth, kError);
}

CMPGParser::CMPGESParser& CMPGParser::StreamParser(uint8_t streamId) {
  std::unique_ptr<CMPGESParser>& slot = streams_[streamId];
  if (!slot) {
    if (streamId >= 0xC0 && streamId <= 0xDF) {
      slot = std::make_unique<CMPGESAudioParser>(*this);
    } else if (streamId >= 0xE0 && streamId <= 0xEF) {
      slot = std::make_unique<CMPGESVideoParser>(*this);
    } else {
      slot = std::make_unique<CMPGESGenericParser>(*this);
    }
  }
  return *slot;
}
