#include "core/Report.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <sstream>

namespace {

// The blanks that indent a line of depth `depth`.
size_t Blanks(int depth) { return 2 * static_cast<size_t>(std::max(depth, 0)); }

using Members = std::vector<JsonReport::Member>;

const char* LevelWord(int level) {
  switch (level) {
    case kNone: return "";
    case kInfo: return "Info: ";
    case kWarning: return "Warning: ";
    case kError: return "Error: ";
    case kFatal: return "Fatal: ";
    default: return nullptr;
  }
}

// The C locale's character classes, decided on the unsigned byte value so
// that bytes of 128 and above never reach a classifier with a negative char.
bool IsWordByte(uint8_t c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}
bool IsPunctByte(uint8_t c) { return c > 0x20 && c < 0x7f && !IsWordByte(c); }

// A double turned into an integer without undefined behaviour for NaN,
// infinities or values out of range.
uint64_t ClampToU64(double value) {
  if (!(value > 0)) return 0;
  if (value >= 18446744073709551615.0) return ~static_cast<uint64_t>(0);
  return static_cast<uint64_t>(value);
}

std::string TwoDigits(uint64_t value) {
  return value < 10 ? "0" + std::to_string(value) : std::to_string(value);
}

std::string PlayTime(double seconds, double frameRemainder, double rate) {
  if (rate < 0.01) return "??? fps < 0.01";
  uint64_t whole = ClampToU64(seconds);
  std::ostringstream text;
  text << whole / 3600 << ':' << TwoDigits(whole / 60 % 60) << ':' << TwoDigits(whole % 60)
       << ':' << TwoDigits(ClampToU64(frameRemainder + 0.5));
  char fps[64];
  std::snprintf(fps, sizeof fps, "%.2f", rate);
  text << " (" << fps << " fps";
  if (rate == 25.0) {
    text << ", PAL)";
  } else if (ClampToU64(rate * 100) == 2997 || rate == 30.0) {
    text << ", NTSC)";
  } else {
    text << ")";
  }
  return text.str();
}

}  // namespace

std::string Report::NumberText(uint64_t value) { return std::to_string(value); }

std::string Report::IndentText(int count) { return std::string(count > 0 ? count : 0, ' '); }

int Report::Message(const std::string& text, int depth, int level) const {
  if (out_.JsonMode()) {
    out_.JsonMessage(depth, level, text);
    return depth + 1;
  }
  const char* word = LevelWord(level);
  out_.Line(Blanks(depth), "*** " + (word ? std::string(word) + text : std::string()));
  return depth + 1;
}

int Report::ItemLine(const std::string& name, const std::string& suffix, const std::string& value,
                     uint64_t size, uint64_t position, int depth, uint32_t verbosity) const {
  if (verbosity == 0) return depth;
  if (out_.JsonMode()) {
    Members members = {{"id", JsonReport::Text(name)}};
    if (!suffix.empty()) members.push_back({"type", JsonReport::Text(suffix)});
    if (size != kNoSize) {
      members.push_back({"size", JsonReport::Number(size)});
      members.push_back({"position", JsonReport::Number(position)});
    }
    if (!value.empty()) members.push_back({"description", JsonReport::Text(value)});
    out_.JsonNode(depth, "chunk", members);
    return depth + 1;
  }
  std::string text = name;
  bool withPosition = verbosity >= 3;
  if (!suffix.empty()) {
    text += withPosition ? " (S:" + NumberText(size) + ", P:" + NumberText(position) + ") "
                         : " (" + NumberText(size) + ") ";
    text += suffix;
  } else if (size != kNoSize) {
    text += withPosition ? " (S:" + NumberText(size) + ", P:" + NumberText(position) + ")"
                         : " (" + NumberText(size) + ")";
  } else if (!value.empty()) {
    text.clear();  // nothing but the value is shown
  }
  if (!value.empty()) {
    if (!text.empty()) text += ": ";
    text += value;
  }
  out_.Line(Blanks(depth), text);
  return depth + 1;
}

int Report::PlainLine(std::string_view text, int depth) const {
  out_.Line(Blanks(depth), text);
  return depth + 1;
}

int Report::FieldLine(const std::string& label, const std::string& value, const std::string& note,
                      int depth) const {
  if (out_.JsonMode()) {
    // Labels of described structures start with the last two digits of the
    // field's offset.
    Members members;
    std::string_view name = label;
    if (name.size() > 3 && std::isdigit(static_cast<unsigned char>(name[0])) &&
        std::isdigit(static_cast<unsigned char>(name[1])) && name[2] == ' ') {
      members.push_back({"offset", JsonReport::Number(std::stoul(label.substr(0, 2)))});
      name.remove_prefix(3);
    }
    members.push_back({"label", JsonReport::Text(name)});
    members.push_back({"value", JsonReport::Text(value)});
    if (!note.empty()) members.push_back({"note", JsonReport::Text(note)});
    out_.JsonNode(depth, "field", members);
    return depth + 1;
  }
  out_.Line(Blanks(depth), label + ": " + value + note);
  return depth + 1;
}

int Report::Verdict(const std::string& text, int depth) const {
  if (JsonReport* json = out_.Json()) {
    if (!out_.Suppressed()) json->Verdict(text);
    return depth + 1;
  }
  return PlainLine(text, depth);
}

int Report::ChunkCounts(const JsonReport::ChunkCounts& c, int depth) const {
  if (JsonReport* json = out_.Json()) {
    if (out_.Suppressed()) return depth + 1;
    json->Counts(c);
    out_.JsonNode(depth, "counts",
                  {{"id", JsonReport::Text(c.id)},
                   {"movi", JsonReport::Number(c.movi)},
                   {"dropped", JsonReport::Number(c.dropped)},
                   {"idx1", JsonReport::Number(c.idx1)},
                   {"key", JsonReport::Number(c.keyFrames)},
                   {"odml", JsonReport::Number(c.odml)}});
    return depth + 1;
  }
  return PlainLine(c.id + ": " + NumberText(c.movi) + " (Dropped: " + NumberText(c.dropped) +
                       "), 'Idx1': " + NumberText(c.idx1) + " (Key: " + NumberText(c.keyFrames) +
                       "), ODML: " + NumberText(c.odml) + "!",
                   depth);
}

int Report::TopLine(const std::string& text) const {
  // The path heads the file's JSON object.
  if (out_.JsonMode()) return 1;
  out_.Line(text);
  return 1;
}

int Report::MarkLine(bool success, const std::string& text, int depth, uint32_t verbosity) const {
  if ((success || verbosity >= 3) && out_.JsonMode()) {
    out_.JsonNode(depth, "flag",
                  {{"set", JsonReport::Bool(success)}, {"name", JsonReport::Text(text)}});
  } else if (success || verbosity >= 3) {
    out_.Line(Blanks(depth), (success ? "+ " : "- ") + text);
  }
  return depth + 1;
}

int Report::ChunkSizeLine(uint64_t size, int depth, uint32_t verbosity) const {
  if (verbosity == 0) return depth;
  if (verbosity >= 2 && out_.JsonMode()) {
    out_.JsonNode(depth, "chunkSize", {{"size", JsonReport::Number(size)}});
  } else if (verbosity >= 2) {
    out_.Line(Blanks(depth), "-> Chunk Size: " + NumberText(size));
  }
  return depth + 1;
}

int Report::HexDump(const uint8_t* bytes, size_t length, int depth, uint32_t verbosity) const {
  static const char kHex[] = "0123456789abcdef";
  std::string textForm;
  std::string hexForm;
  textForm.reserve(length);
  hexForm.reserve(3 * length);
  size_t wordBytes = 0;
  for (size_t i = 0; i < length; ++i) {
    uint8_t c = bytes[i];
    if (IsWordByte(c)) {
      ++wordBytes;
      textForm += static_cast<char>(c);
    } else if (IsPunctByte(c)) {
      textForm += static_cast<char>(c);
    } else {
      textForm += '.';
    }
    if (c >= 16) hexForm += kHex[c >> 4];
    hexForm += kHex[c & 15];
    hexForm += ' ';
  }
  const bool showText = wordBytes >= 3 || length <= 4;
  const bool showHex = verbosity >= 4 || length <= 4;
  if (out_.JsonMode()) {
    Members members;
    if (showText) members.push_back({"text", JsonReport::Text(textForm)});
    if (showHex) members.push_back({"hex", JsonReport::Text(hexForm)});
    if (!members.empty()) out_.JsonNode(depth, "bytes", members);
    return 1;
  }
  std::string indent = IndentText(2 * depth);
  if (showText) out_.Line(indent + '"' + textForm + '"');
  if (showHex) out_.Line(indent + '"' + hexForm + '"');
  return 1;
}

void Report::ProgressTick(uint32_t& counter) const {
  uint32_t previous = counter++;
  if (!out_.Console().stderrIsConsole) return;
  if (counter % 1000 == 0 || (previous == 0 && !out_.Console().stdoutIsConsole)) out_.Error(".");
}

std::string Report::PlayTimeFromFrames(uint32_t frames, double rate) {
  if (rate < 0.01) return PlayTime(0, 0, rate);
  return PlayTime(frames / rate, std::fmod(static_cast<double>(frames), rate), rate);
}

std::string Report::PlayTimeFromMilliseconds(uint32_t milliseconds, double rate) {
  if (rate < 0.01) return PlayTime(0, 0, rate);
  double seconds = milliseconds / 1000.0;
  return PlayTime(seconds, std::fmod(seconds * rate, rate), rate);
}
