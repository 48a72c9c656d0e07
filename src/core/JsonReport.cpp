#include "core/JsonReport.h"

#include <cmath>
#include <cstdio>

namespace {

const char* const kLevelNames[] = {"none", "Info", "Warning", "Error", "Fatal"};

// The length of the UTF-8 sequence that starts `text` at `at`, 0 when the
// bytes there are not one (text taken from files may be in any encoding).
size_t Utf8Length(std::string_view text, size_t at) {
  const auto byte = [&](size_t i) { return static_cast<uint8_t>(text[i]); };
  const uint8_t lead = byte(at);
  size_t length = 0;
  uint32_t code = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    code = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    code = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    code = lead & 0x07;
  } else {
    return 0;
  }
  if (text.size() - at < length) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return 0;
    code = code << 6 | (byte(at + i) & 0x3F);
  }
  // Overlong forms, surrogates and values past Unicode are not text.
  const bool overlong = (length == 3 && code < 0x800) || (length == 4 && code < 0x10000);
  if (overlong || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) return 0;
  return length;
}

}  // namespace

// Control characters are escaped, UTF-8 passes as it is, and any other byte
// is taken as the Latin-1 character of its value, so the document is always
// valid UTF-8.
std::string JsonReport::Text(std::string_view text) {
  std::string json;
  json.reserve(text.size() + 2);
  json += '"';
  for (size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<uint8_t>(text[i]);
    if (c == '"' || c == '\\') {
      json += '\\';
      json += static_cast<char>(c);
    } else if (c == '\n') {
      json += "\\n";
    } else if (c < 0x20 || c == 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      json += escaped;
    } else if (c < 0x80) {
      json += static_cast<char>(c);
    } else if (const size_t length = Utf8Length(text, i)) {
      json.append(text.substr(i, length));
      i += length - 1;
    } else {
      json += static_cast<char>(0xC0 | c >> 6);
      json += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  json += '"';
  return json;
}

void JsonReport::BeginFile(const std::string& path) {
  open_.clear();
  firstRoot_ = true;
  verdict_.clear();
  counts_.clear();
  for (uint64_t& count : messages_) count = 0;
  out_ << "{\"path\":" << Text(path) << ",\"report\":[";
}

void JsonReport::Node(int depth, const char* kind, const std::vector<Member>& members) {
  CloseTo(depth);
  if (open_.empty()) {
    if (!firstRoot_) out_ << ',';
    firstRoot_ = false;
  } else if (!open_.back().hasChildren) {
    out_ << ",\"children\":[";
    open_.back().hasChildren = true;
  } else {
    out_ << ',';
  }
  out_ << "{\"kind\":\"" << kind << '"';
  std::string label;
  for (const Member& member : members) {
    out_ << ",\"" << member.key << "\":" << member.json;
    // A node is named in paths by its first text member (a field by its
    // label, not its offset).
    if (label.empty() && !member.json.empty() && member.json[0] == '"') label = member.json;
  }
  open_.push_back({depth, false, std::move(label)});
}

void JsonReport::Message(int depth, int level, const std::string& text) {
  CloseTo(depth);
  std::string path = "[";
  for (const Open& node : open_) {
    if (path.size() > 1) path += ',';
    path += node.label.empty() ? "\"\"" : node.label;
  }
  path += ']';
  const size_t index = level >= 1 && level <= 4 ? static_cast<size_t>(level) : 0;
  ++messages_[index];
  Node(depth, "message",
       {{"level", Text(kLevelNames[index])}, {"text", Text(text)}, {"path", path}});
}

void JsonReport::EndFile(const FileSummary& summary) {
  CloseTo(0);
  out_ << "],\"parser\":" << (summary.parser ? Text(summary.parser) : "null")
       << ",\"verdict\":" << Text(verdict_) << ",\"size\":" << summary.size
       << ",\"failed\":" << Bool(summary.failed) << ",\"messages\":{";
  for (size_t i = 1; i < 5; ++i) {
    out_ << (i > 1 ? "," : "") << '"' << kLevelNames[i] << "\":" << messages_[i];
  }
  out_ << "},\"statistics\":[";
  for (size_t i = 0; i < counts_.size(); ++i) {
    const ChunkCounts& c = counts_[i];
    out_ << (i ? "," : "") << "{\"stream\":" << c.stream << ",\"id\":" << Text(c.id)
         << ",\"movi\":" << c.movi << ",\"dropped\":" << c.dropped << ",\"idx1\":" << c.idx1
         << ",\"key\":" << c.keyFrames << ",\"odml\":" << c.odml << '}';
  }
  out_ << "]}";
}

void JsonReport::CloseTo(int depth) {
  while (!open_.empty() && open_.back().depth >= depth) CloseOne();
}

void JsonReport::CloseOne() {
  if (open_.back().hasChildren) out_ << ']';
  out_ << '}';
  open_.pop_back();
}

std::string JsonReport::DocumentStart(const std::string& program, const std::string& version) {
  return "{\"program\":" + Text(program) + ",\"version\":" + Text(version) + ",\"files\":[";
}

std::string JsonReport::DocumentEnd(uint64_t files, uint64_t size, double seconds) {
  const double shown = std::isfinite(seconds) && seconds > 0 ? seconds : 0.0;
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", shown);
  return "],\"totals\":{\"files\":" + Number(files) + ",\"size\":" + Number(size) +
         ",\"seconds\":" + text + "}}\n";
}
