#include "core/ReportOutput.h"

#include <algorithm>
#include <cerrno>

void ReportOutput::Line(size_t blanks, std::string_view text) {
  if (suppressed_) return;
  if (json_) {
    if (!text.empty()) {
      JsonNode(static_cast<int>(blanks / 2), "text", {{"text", JsonReport::Text(text)}});
    }
    return;
  }
  static constexpr std::string_view kBlanks = "                                ";
  // Straight into the stream's buffer: the stream's own insertion costs a
  // sentry per piece. A short write marks the stream failed, as an insertion
  // would.
  std::streambuf* buffer = out_.rdbuf();
  bool written = buffer != nullptr && out_.good();
  for (size_t left = blanks; written && left > 0;) {
    const auto piece = static_cast<std::streamsize>(std::min(left, kBlanks.size()));
    written = buffer->sputn(kBlanks.data(), piece) == piece;
    left -= static_cast<size_t>(piece);
  }
  const auto length = static_cast<std::streamsize>(text.size());
  written = written && buffer->sputn(text.data(), length) == length &&
            buffer->sputc('\n') != std::char_traits<char>::eof();
  if (!written) out_.setstate(std::ios::badbit);
  Wrote();
}

void ReportOutput::Raw(const std::string& text) {
  if (suppressed_) return;
  if (json_) {
    // A system's error text, under the line it explains.
    std::string_view line = text;
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
    JsonNode(json_->Depth() + 1, "system", {{"text", JsonReport::Text(line)}});
    return;
  }
  out_ << text;
  Wrote();
}

void ReportOutput::Document(std::string_view text) {
  out_.write(text.data(), static_cast<std::streamsize>(text.size()));
  Wrote();
}

void ReportOutput::SetJsonMode(bool on) {
  if (on && !json_) json_ = std::make_unique<JsonReport>(out_);
  if (!on) json_.reset();
}

void ReportOutput::JsonNode(int depth, const char* kind,
                            const std::vector<JsonReport::Member>& members) {
  if (suppressed_ || !json_) return;
  json_->Node(depth, kind, members);
  Wrote();
}

void ReportOutput::JsonMessage(int depth, int level, const std::string& text) {
  if (suppressed_ || !json_) return;
  json_->Message(depth, level, text);
  Wrote();
}

void ReportOutput::Wrote() {
  if (console_.stdoutIsConsole) out_.flush();
  NoteWriteFailure();
}

void ReportOutput::Error(const std::string& text) {
  out_.flush();
  NoteWriteFailure();
  err_ << text;
  err_.flush();
}

void ReportOutput::Flush() {
  out_.flush();
  NoteWriteFailure();
  err_.flush();
}

void ReportOutput::NoteWriteFailure() {
  // The stream only says that it failed; the host's reason is in errno right
  // after the write that failed, so it is taken at once.
  if (writeError_ == 0 && out_.fail()) writeError_ = errno != 0 ? errno : EIO;
}
