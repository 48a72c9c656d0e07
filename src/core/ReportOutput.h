#pragma once
// The one stream every report line goes through. Lines are buffered; the
// buffer is flushed after each line when standard output is a console, and
// otherwise before anything is written to standard error (so the two never
// interleave out of order), before a prompt, and at exit.

#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "core/JsonReport.h"

struct ConsoleState {
  bool stdoutIsConsole = false;
  bool stderrIsConsole = false;
};

class ReportOutput {
 public:
  ReportOutput(std::ostream& out, std::ostream& err, ConsoleState console)
      : out_(out), err_(err), console_(console) {}
  ~ReportOutput() { Flush(); }

  ReportOutput(const ReportOutput&) = delete;
  ReportOutput& operator=(const ReportOutput&) = delete;

  // One report line; the newline is added here.
  void Line(const std::string& text) { Line(0, text); }
  // A line indented by `blanks` blanks, written without building it first:
  // long walks print millions of lines.
  void Line(size_t blanks, std::string_view text);
  // Text written as it is (system error texts carry their own line break).
  void Raw(const std::string& text);
  // Text written as it is in either mode: the frame of a JSON document, a
  // report spooled aside.
  void Document(std::string_view text);
  // Text for standard error; the report written so far is flushed first.
  void Error(const std::string& text);
  void Flush();

  // While suppressed, report lines are dropped (used to learn a size from a
  // handler without printing what it would print).
  void SetSuppressed(bool suppressed) { suppressed_ = suppressed; }
  bool Suppressed() const { return suppressed_; }

  const ConsoleState& Console() const { return console_; }

  // JSON mode: the report is one JSON object per file instead of text (see
  // JsonReport); the report layer hands its lines over as nodes, and lines
  // written here directly become text nodes.
  void SetJsonMode(bool on);
  bool JsonMode() const { return json_ != nullptr; }
  // The file object being written; null in text mode.
  JsonReport* Json() const { return json_.get(); }
  // A node or message of the file's tree (dropped while suppressed).
  void JsonNode(int depth, const char* kind, const std::vector<JsonReport::Member>& members);
  void JsonMessage(int depth, int level, const std::string& text);

  // The host's error code of the first report write that failed (a full
  // disk, a closed pipe), 0 while every write has succeeded.
  int WriteError() const { return writeError_; }

 private:
  std::ostream& out_;
  std::ostream& err_;
  ConsoleState console_;
  bool suppressed_ = false;
  int writeError_ = 0;
  std::unique_ptr<JsonReport> json_;

  void NoteWriteFailure();
  // After every write: a console sees it at once, a failure is noted.
  void Wrote();
};
