#pragma once
// The report operations every parser prints through: indented lines, item
// lines, check marks, hex dumps, messages of four levels, progress dots, and
// the number and play-time texts several formats share.
//
// Depth d indents a line by 2*d blanks; an operation that prints a line
// returns d + 1 for the lines that belong under it.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/ReportOutput.h"

enum MessageLevel : int { kNone = 0, kInfo = 1, kWarning = 2, kError = 3, kFatal = 4 };

class Report {
 public:
  static constexpr uint64_t kNoSize = ~static_cast<uint64_t>(0);

  explicit Report(ReportOutput& out) : out_(out) {}

  ReportOutput& Output() const { return out_; }

  int Message(const std::string& text, int depth, int level) const;
  int ItemLine(const std::string& name, const std::string& suffix, const std::string& value,
               uint64_t size, uint64_t position, int depth, uint32_t verbosity) const;
  int PlainLine(std::string_view text, int depth) const;
  // One field of a structure: "label: value" and the note that follows it
  // (a decoded name, a unit; empty for none).
  int FieldLine(const std::string& label, const std::string& value, const std::string& note,
                int depth) const;
  int TopLine(const std::string& text) const;
  // The verdict that ends a file's report.
  int Verdict(const std::string& text, int depth) const;
  // A line of the AVI chunk table: the chunks of one id (`counts.id`, as
  // printed) of one stream, found and indexed.
  int ChunkCounts(const JsonReport::ChunkCounts& counts, int depth) const;
  int MarkLine(bool success, const std::string& text, int depth, uint32_t verbosity) const;
  int ChunkSizeLine(uint64_t size, int depth, uint32_t verbosity) const;
  int HexDump(const uint8_t* bytes, size_t length, int depth, uint32_t verbosity) const;
  void ProgressTick(uint32_t& counter) const;

  static std::string NumberText(uint64_t value);
  static std::string IndentText(int count);
  static std::string PlayTimeFromFrames(uint32_t frames, double rate);
  static std::string PlayTimeFromMilliseconds(uint32_t milliseconds, double rate);

 private:
  ReportOutput& out_;
};
