#pragma once
// The base of every format parser: the job's paths, the verdict printed last,
// the common frame of a parse, chunk header lines, and reads and skips that
// report a premature end of the file.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/CIOService.h"
#include "core/FieldValues.h"

class CParser : public CIOService {
 public:
  CParser(RunOptions options, ReportOutput& output);
  virtual ~CParser();

  virtual bool Parse(const std::string& sourcePath, const std::string& outputPath) = 0;

  // After Parse: true when the job did not do what was asked of it, that is
  // the source could not be opened or the output this parser writes was not
  // written. A damaged source read to its end is a report, not a failure.
  bool JobFailed() const { return jobFailed_; }

  // Called by the structure dumper for a field of type SubObject. `payload`
  // holds `payloadSize` bytes; the sub-object starts at `offset` and covers
  // `size` bytes (already cut to the payload). Returns the bytes consumed.
  virtual uint32_t DumpSubObject(const std::string& tag, uint32_t size, const uint8_t* payload,
                                 uint32_t payloadSize, uint32_t offset, int indent,
                                 const FieldValues& values, uint32_t fieldIndex);

  static std::string FourCCText(uint32_t token);
  // The file name with its extension, without directories.
  static std::string DisplayName(const std::string& path);

  bool WordAligned() const { return wordAligned_; }
  bool BigEndian() const { return bigEndian_; }
  uint32_t Verbosity() const { return options_.report.verbosity; }

  // The size that makes a chunk header line show no size at all.
  static constexpr uint32_t kNoChunkSize = 0xFFFFFFFF;
  // The message of a read that the file ends before.
  static constexpr char kPrematureEnd[] = "File ends prematurely!";

  // The header line of a chunk, atom or object: its id and second id (a list
  // or form type) as printed, both empty for none; `size` Report::kNoSize for
  // a line without a size. Returns the depth of the lines under it.
  int ChunkHeaderLine(const std::string& id, const std::string& second, uint64_t size,
                      uint64_t position, const std::string& description, int depth);
  // The same for a four-character chunk id (0 for none) with a 32-bit size
  // (kNoChunkSize for none).
  int ChunkHeaderLine(uint32_t id, uint32_t second, uint32_t size, uint64_t position,
                      const std::string& description, int depth);
  bool ReadChecked(void* dest, uint64_t count, int depth, bool countBytes);
  // Reads `length` bytes into `bytes` with the checked read. The buffer never
  // outgrows what the file still holds by more than the one byte that makes
  // the read report the shortfall, whatever length a header claimed.
  bool ReadPayload(std::vector<uint8_t>& bytes, uint64_t length, int depth);
  bool ReadThenSkip(void* dest, uint64_t count, uint64_t total, int depth);
  bool SkipChecked(uint64_t count, int depth);
  bool ReadAndDump(uint64_t count, int depth);
  int ErrorContextDump(uint32_t window, int depth);

 protected:
  // The frame shared by the parsers: the source line, open, walk, close, the
  // verdict. `walk` runs at depth 1 with the input open.
  bool RunParse(const std::string& sourcePath, const std::string& outputPath,
                const std::function<void(int depth)>& walk);
  int OpeningLine(int depth);
  // The span that places a structure printed from memory at `position`: the
  // bytes from there to the current position (its bytes have been read).
  uint32_t SpanTo(uint64_t position) const;
  void MarkJobFailed() { jobFailed_ = true; }

  std::string sourcePath_;
  std::string outputPath_;
  std::string verdict_;

 private:
  bool jobFailed_ = false;
};
