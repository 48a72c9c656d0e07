#include "core/CParser.h"

#include <algorithm>
#include <vector>

#include "core/PartialDownloadName.h"
#include "core/PathName.h"

namespace {

RunOptions WithDumpLimit(RunOptions options) {
  if (options.report.verbosity >= 5) {
    options.report.dumpLimit = 4294967295u;
  } else if (options.report.verbosity == 4) {
    options.report.dumpLimit = 213;
  }
  return options;
}

}  // namespace

CParser::CParser(RunOptions options, ReportOutput& output)
    : CIOService(WithDumpLimit(std::move(options)), output) {}

CParser::~CParser() = default;

uint32_t CParser::DumpSubObject(const std::string&, uint32_t, const uint8_t*, uint32_t, uint32_t,
                                int, const FieldValues&, uint32_t) {
  return 0;
}

std::string CParser::FourCCText(uint32_t token) {
  std::string text = "'";
  for (unsigned i = 0; i < 4; ++i) {
    auto c = static_cast<uint8_t>(token >> (8 * i));
    text += (c >= 0x20 && c < 0x7f) ? static_cast<char>(c) : ' ';
  }
  return text + "'";
}

std::string CParser::DisplayName(const std::string& path) { return PathName::FileName(path); }

bool CParser::RunParse(const std::string& sourcePath, const std::string& outputPath,
                       const std::function<void(int depth)>& walk) {
  sourcePath_ = sourcePath;
  outputPath_ = outputPath;
  int depth = report_.TopLine(sourcePath);
  if (OpenForReading(sourcePath)) {
    walk(depth);
    CloseInput();
  } else {
    MarkJobFailed();
  }
  report_.Verdict(verdict_, depth);
  return true;
}

int CParser::OpeningLine(int depth) {
  std::string text = "Reading '" + DisplayName(sourcePath_) + "'";
  if (PathName::Split(sourcePath_).extension == ".part") {
    std::string finishedName;
    PartialDownloadName::Read(*this, sourcePath_, finishedName);
    text += " - '" + finishedName + "'";
  }
  text += " (" + Report::NumberText(FileSize()) + ")";
  return report_.PlainLine(text, depth);
}

uint32_t CParser::SpanTo(uint64_t position) const {
  const uint64_t here = CurrentPosition();
  return static_cast<uint32_t>(here > position ? std::min<uint64_t>(here - position, 0xFFFFFFFFu)
                                               : 0);
}

int CParser::ChunkHeaderLine(const std::string& id, const std::string& second, uint64_t size,
                             uint64_t position, const std::string& description, int depth) {
  return report_.ItemLine(id, second, description, size, position, depth,
                          options_.report.verbosity);
}

int CParser::ChunkHeaderLine(uint32_t id, uint32_t second, uint32_t size, uint64_t position,
                             const std::string& description, int depth) {
  return ChunkHeaderLine(id ? FourCCText(id) : std::string(),
                         second ? FourCCText(second) : std::string(),
                         size == kNoChunkSize ? Report::kNoSize : size, position, description,
                         depth);
}

bool CParser::ReadChecked(void* dest, uint64_t count, int depth, bool countBytes) {
  uint64_t before = CurrentPosition();
  uint64_t counter = input_.positionCounter;
  if (Read(dest, count)) {
    if (!countBytes) input_.positionCounter = counter;
    return true;
  }
  input_.positionCounter = counter;
  // The service reported a partial read with the host's text already.
  uint64_t arrived = CurrentPosition() > before ? CurrentPosition() - before : 0;
  arrived = std::min(arrived, count);
  report_.Message(kPrematureEnd, depth, kFatal);
  if (arrived > 0 && depth != 0) {
    report_.HexDump(static_cast<const uint8_t*>(dest), static_cast<size_t>(arrived), depth,
                    options_.report.verbosity);
  }
  return false;
}

bool CParser::ReadPayload(std::vector<uint8_t>& bytes, uint64_t length, int depth) {
  const uint64_t here = CurrentPosition();
  const uint64_t inFile = here < FileSize() ? FileSize() - here : 0;
  bytes.resize(static_cast<size_t>(std::min(length, inFile + 1)));
  return bytes.empty() || ReadChecked(bytes.data(), bytes.size(), depth, true);
}

bool CParser::ReadThenSkip(void* dest, uint64_t count, uint64_t total, int depth) {
  if (!ReadChecked(dest, count, depth, true)) return false;
  if (total > count) return SkipChecked(total - count, depth);
  return true;
}

bool CParser::SkipChecked(uint64_t count, int depth) {
  const uint64_t start = CurrentPosition();
  const uint64_t size = FileSize();
  const uint64_t left = start < size ? size - start : 0;
  if (count > left) {
    report_.Message(kPrematureEnd, depth, kFatal);
    count = left;
  }
  if (depth == 0 || options_.report.verbosity == 0) {
    if (!Seek(start + count)) {
      report_.Message(kPrematureEnd, depth, kFatal);
      return false;
    }
    input_.positionCounter += count;
    return true;
  }
  // Show the first bytes of what is skipped (and, when debugging, a few bytes
  // before it). The shown length is kept in 16 bits.
  uint64_t counter = input_.positionCounter;
  uint64_t shown = std::min<uint64_t>(count, options_.report.dumpLimit) & 0xFFFF;
  if (options_.report.verbosity > 3) {
    uint64_t before = std::min<uint64_t>({counter, start, 10});
    Seek(start - before);
    shown += before;
  }
  uint64_t here = CurrentPosition();
  uint64_t inFile = here < size ? size - here : 0;
  shown = std::min<uint64_t>(shown, inFile) & 0xFFFF;
  if (shown > 0) ReadAndDump(shown, depth);
  Seek(start + count);
  input_.positionCounter = counter + count;
  return true;
}

bool CParser::ReadAndDump(uint64_t count, int depth) {
  const uint64_t here = CurrentPosition();
  const uint64_t size = FileSize();
  const uint64_t left = here < size ? size - here : 0;
  if (count > left) {
    report_.Message(kPrematureEnd, depth, kFatal);
    count = left;
  }
  if (count == 0) return false;
  std::vector<uint8_t> bytes(static_cast<size_t>(count));
  if (!ReadChecked(bytes.data(), count, depth, true)) return false;
  report_.HexDump(bytes.data(), bytes.size(), depth, options_.report.verbosity);
  return true;
}

int CParser::ErrorContextDump(uint32_t window, int depth) {
  const uint64_t size = FileSize();
  const uint64_t position = std::min(CurrentPosition(), size);
  const uint64_t before = std::min<uint64_t>(window / 2, position);
  uint64_t length = window;
  if (position + length > size) length = size - position + before;
  int inner = report_.ItemLine("Error Context Dump", "", "", length, position, depth,
                               options_.report.verbosity);
  if (length > 0 && Seek(position - before)) {
    std::vector<uint8_t> bytes(static_cast<size_t>(length));
    if (ReadChecked(bytes.data(), length, inner, true)) {
      report_.HexDump(bytes.data(), static_cast<size_t>(before), inner, options_.report.verbosity);
      report_.HexDump(bytes.data() + before, static_cast<size_t>(length - before), inner,
                      options_.report.verbosity);
    }
  }
  Seek(position);
  return 1;
}
