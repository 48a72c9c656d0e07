#include "core/ReportOutput.h"

void ReportOutput::Line(const std::string& text) {
  if (suppressed_) return;
  out_ << text << '\n';
  if (console_.stdoutIsConsole) out_.flush();
}

void ReportOutput::Raw(const std::string& text) {
  if (suppressed_) return;
  out_ << text;
  if (console_.stdoutIsConsole) out_.flush();
}

void ReportOutput::Error(const std::string& text) {
  out_.flush();
  err_ << text;
  err_.flush();
}

void ReportOutput::Flush() {
  out_.flush();
  err_.flush();
}
