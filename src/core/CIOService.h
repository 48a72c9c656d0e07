#pragma once
// The file services every parser is built on: one input file read
// sequentially through a window, one output file written with at most one
// write in flight. Every failure of the host is reported with the host's own
// error text and turned into a false result, so callers only test a bool.

#include <cstdint>
#include <string>
#include <vector>

#include "core/FileRecord.h"
#include "core/Report.h"
#include "core/ReportOutput.h"
#include "core/RunOptions.h"

class CIOService {
 public:
  CIOService(RunOptions options, ReportOutput& output);
  ~CIOService();
  CIOService(const CIOService&) = delete;
  CIOService& operator=(const CIOService&) = delete;

  // ok → true; otherwise the error `code` (errno) is reported and false returned.
  bool ReportSystemError(bool ok, int code);

  bool OpenForReading(FileRecord& record, const std::string& path);
  bool OpenForReading(const std::string& path) { return OpenForReading(input_, path); }
  // Refuses (with an error message) to create the file that is open as input.
  bool CreateForWriting(const std::string& path);

  // Reads exactly `count` bytes. The end of the file with nothing read is a
  // silent false; a partial read is reported. A count of 0 succeeds.
  bool Read(FileRecord& record, void* dest, uint64_t count);
  bool Read(void* dest, uint64_t count) { return Read(input_, dest, count); }
  uint64_t FileSize(FileRecord& record);
  uint64_t FileSize() { return FileSize(input_); }
  uint64_t CurrentPosition() const { return input_.filePointer; }
  // Moves the input pointer; a position before the start fails, one past the
  // end does not (the next read meets the end of the file). With `count` the
  // distance is added to the position counter.
  bool Skip(FileRecord& record, int64_t distance, bool count);
  bool Skip(int64_t distance, bool count) { return Skip(input_, distance, count); }
  // Moves the input pointer to an absolute position.
  bool Seek(FileRecord& record, uint64_t position);
  bool Seek(uint64_t position) { return Seek(input_, position); }
  void Close(FileRecord& record);
  void CloseInput() { Close(input_); }
  // Waits for the write in flight and closes the output; false when any write
  // failed (or the close did).
  bool CloseOutput();

  // Output. Write copies `data`; the vector overload takes ownership. After a
  // failed write every later output operation fails (the error is reported
  // once).
  bool Write(const void* data, uint32_t count, bool countBytes);
  bool Write(std::vector<uint8_t>&& block, bool countBytes);
  bool WaitForPendingWrite();
  // The storage of a finished write, to fill for the next one (empty when
  // there is none): a long run of writes cycles between two buffers.
  std::vector<uint8_t> SpareWriteBuffer();
  // Moves the write offset by `count` and ends the file there. On a device
  // or pipe only growing works: zero bytes are written.
  bool Extend(int64_t count);
  // Moves the write offset without changing the end of the file.
  bool SetWriteOffset(uint64_t offset);
  uint64_t WriteOffset() const { return output_.writeOffset; }
  // Copies `count` bytes of the input at `position` to the output, in blocks.
  bool CopyToOutput(uint64_t position, uint64_t count);

  const RunOptions& Options() const { return options_; }
  const Report& Reporter() const { return report_; }

 protected:
  bool wordAligned_ = false;
  bool bigEndian_ = false;
  uint32_t progressCounter_ = 0;
  RunOptions options_;
  FileRecord input_;
  FileRecord output_;
  ReportOutput& reportOutput_;
  Report report_;

 private:
  // Reads the window at `position`; false with the errno value in `error`
  // when the host failed (the window then holds what did arrive).
  bool FillWindow(FileRecord& record, uint64_t position, int& error);
  bool OutputReady();
  bool ReportWriteError(int code);
  bool WriteZeros(uint64_t count);

  bool writeErrorReported_ = false;
};
