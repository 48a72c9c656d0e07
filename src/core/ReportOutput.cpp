#include "core/ReportOutput.h"

#include <cerrno>

void ReportOutput::Line(const std::string& text) {
  if (suppressed_) return;
  out_ << text << '\n';
  if (console_.stdoutIsConsole) out_.flush();
  NoteWriteFailure();
}

void ReportOutput::Raw(const std::string& text) {
  if (suppressed_) return;
  out_ << text;
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
