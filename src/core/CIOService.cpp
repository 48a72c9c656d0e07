#include "core/CIOService.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "core/SystemError.h"

namespace {

// The block size of CopyToOutput: large enough for efficient transfers, small
// enough that a huge chunk never needs a huge buffer.
constexpr size_t kCopyBlock = size_t{4} << 20;

constexpr uint64_t kMaxFileOffset = static_cast<uint64_t>(INT64_MAX);

void ResetInputState(FileRecord& record) {
  record.positionCounter = 0;
  record.sizeCache = 0;
  record.filePointer = 0;
  record.windowStart = 0;
  record.windowLength = 0;
}

}  // namespace

CIOService::CIOService(RunOptions options, ReportOutput& output)
    : options_(std::move(options)), reportOutput_(output), report_(output) {
  output_.writeMode = true;
}

CIOService::~CIOService() {
  CloseOutput();
  CloseInput();
}

bool CIOService::ReportSystemError(bool ok, int code) {
  if (ok) return true;
  const std::string text = SystemError::Text(code);
  reportOutput_.Raw(text);
  if (!reportOutput_.Console().stderrIsConsole) reportOutput_.Error("\n" + text);
  return false;
}

// ---------------------------------------------------------------------------
// Input

bool CIOService::OpenForReading(FileRecord& record, const std::string& path) {
  if (record.open) Close(record);
  ResetInputState(record);
  int error = 0;
  if (!record.file.OpenForReading(path, error)) return ReportSystemError(false, error);
  record.name = path;
  record.open = true;
  return true;
}

bool CIOService::FillWindow(FileRecord& record, uint64_t position, int& error) {
  // A read that continues the window, or skips less than the read-ahead past
  // its end, is part of a sequential walk; a longer jump starts small again.
  const uint64_t windowEnd = record.windowStart + record.windowLength;
  const bool sequential = record.windowLength > 0 && position >= windowEnd &&
                          position - windowEnd < record.readAhead;
  record.readAhead = sequential ? std::min(2 * record.readAhead, FileRecord::kWindowSize)
                                : FileRecord::kMinWindowSize;
  if (record.window.size() < record.readAhead) record.window.resize(record.readAhead);
  record.windowStart = position;
  record.windowLength = 0;
  // Near the largest offset the host allows the window shrinks, so that a
  // pointer moved far past the end still reads as a plain end of file.
  if (position >= kMaxFileOffset) return true;
  const size_t size = static_cast<size_t>(std::min<uint64_t>(record.readAhead, kMaxFileOffset - position));
  size_t got = 0;
  const bool ok = record.file.ReadAt(position, record.window.data(), size, got, error);
  record.windowLength = got;
  return ok;
}

bool CIOService::Read(FileRecord& record, void* dest, uint64_t count) {
  if (count == 0) return true;
  if (!record.open) return ReportSystemError(false, EBADF);
  uint8_t* out = static_cast<uint8_t*>(dest);
  uint64_t copied = 0;
  int error = 0;
  bool hostFailed = false;
  while (copied < count) {
    const uint64_t remaining = count - copied;
    const uint64_t pointer = record.filePointer;
    // Bytes already in the window cost no system call.
    if (pointer >= record.windowStart && pointer < record.windowStart + record.windowLength) {
      const uint64_t offset = pointer - record.windowStart;
      const uint64_t take = std::min<uint64_t>(remaining, record.windowLength - offset);
      std::memcpy(out + copied, record.window.data() + offset, static_cast<size_t>(take));
      copied += take;
      record.filePointer += take;
      continue;
    }
    if (remaining >= FileRecord::kWindowSize) {
      // A large read goes straight to its destination.
      size_t got = 0;
      const bool ok = record.file.ReadAt(pointer, out + copied, static_cast<size_t>(remaining), got, error);
      copied += got;
      record.filePointer += got;
      hostFailed = !ok;
      break;
    }
    if (!FillWindow(record, pointer, error) && record.windowLength == 0) {
      hostFailed = true;
      break;
    }
    if (record.windowLength == 0) break;  // end of the file
  }
  if (copied == count) {
    record.positionCounter += count;
    return true;
  }
  if (copied == 0 && !hostFailed) return false;  // the end of the file: the caller decides
  return ReportSystemError(false, hostFailed && error != 0 ? error : ENODATA);
}

uint64_t CIOService::FileSize(FileRecord& record) {
  if (record.sizeCache != 0) return record.sizeCache;
  if (!record.open) {
    ReportSystemError(false, EBADF);
    return 0;
  }
  uint64_t size = 0;
  int error = 0;
  if (!record.file.Size(size, error)) {
    ReportSystemError(false, error);
    size = 0;
  }
  record.sizeCache = size;
  return size;
}

bool CIOService::Skip(FileRecord& record, int64_t distance, bool count) {
  if (!record.open) return ReportSystemError(false, EBADF);
  const uint64_t pointer = record.filePointer;
  if (distance < 0) {
    // -(distance + 1) + 1 avoids negating INT64_MIN.
    const uint64_t back = static_cast<uint64_t>(-(distance + 1)) + 1;
    if (back > pointer) return ReportSystemError(false, EINVAL);
    record.filePointer = pointer - back;
  } else {
    const uint64_t forward = static_cast<uint64_t>(distance);
    if (forward > kMaxFileOffset - std::min(pointer, kMaxFileOffset)) {
      return ReportSystemError(false, EINVAL);
    }
    record.filePointer = pointer + forward;
  }
  // Two's complement: adding a negative distance subtracts it.
  if (count) record.positionCounter += static_cast<uint64_t>(distance);
  return true;
}

bool CIOService::Seek(FileRecord& record, uint64_t position) {
  if (!record.open) return ReportSystemError(false, EBADF);
  if (position > kMaxFileOffset) return ReportSystemError(false, EINVAL);
  record.filePointer = position;
  return true;
}

void CIOService::Close(FileRecord& record) {
  if (record.open) {
    record.open = false;
    if (record.writer) {
      int error = 0;
      if (!record.writer->Wait(error) && &record == &output_) ReportWriteError(error);
      record.writer.reset();
    }
    int error = 0;
    if (!record.file.Close(error)) ReportSystemError(false, error);
  }
  record.name.clear();
  record.windowStart = 0;
  record.windowLength = 0;
  record.window = std::vector<uint8_t>();
}

// ---------------------------------------------------------------------------
// Output

bool CIOService::CreateForWriting(const std::string& path) {
  if (output_.open) CloseOutput();
  output_.writeMode = true;
  output_.positionCounter = 0;
  output_.sizeCache = 0;
  output_.writeOffset = 0;
  writeErrorReported_ = false;

  // Truncating the input would destroy it, so its identity is compared before
  // the file is touched, and again on the open descriptor in case the path
  // changed in between.
  const FileIdentity inputIdentity = input_.open ? input_.file.Identity() : FileIdentity{};
  if (inputIdentity.valid && PlatformFile::IdentityOf(path) == inputIdentity) {
    report_.Message("Output file is the input file!", 0, kError);
    return false;
  }
  int error = 0;
  if (!output_.file.CreateForWriting(path, error)) return ReportSystemError(false, error);
  if (inputIdentity.valid && output_.file.Identity() == inputIdentity) {
    output_.file.Close(error);
    report_.Message("Output file is the input file!", 0, kError);
    return false;
  }
  // Devices and pipes have no length to cut, and a new file none to lose.
  // (A needless cut to 0 makes some file systems flush the whole file when
  // it is closed, as if it replaced an old one.)
  uint64_t existing = 0;
  const bool regular = output_.file.IsRegularFile();
  if (regular && !output_.file.Size(existing, error)) existing = 1;
  if (regular && existing > 0 && !output_.file.Truncate(0, error)) {
    int closeError = 0;
    output_.file.Close(closeError);
    return ReportSystemError(false, error);
  }
  output_.writer = std::make_unique<AsyncWriter>(output_.file);
  output_.name = path;
  output_.open = true;
  return true;
}

bool CIOService::ReportWriteError(int code) {
  if (writeErrorReported_) return false;
  writeErrorReported_ = true;
  return ReportSystemError(false, code != 0 ? code : EIO);
}

bool CIOService::OutputReady() {
  if (!output_.open || !output_.writer) return ReportSystemError(false, EBADF);
  const int sticky = output_.writer->StickyError();
  if (sticky != 0) return ReportWriteError(sticky);
  return true;
}

std::vector<uint8_t> CIOService::SpareWriteBuffer() {
  return output_.writer ? output_.writer->TakeSpareBuffer() : std::vector<uint8_t>();
}

bool CIOService::Write(const void* data, uint32_t count, bool countBytes) {
  if (!OutputReady()) return false;
  std::vector<uint8_t> block = output_.writer->TakeSpareBuffer();
  const uint8_t* bytes = static_cast<const uint8_t*>(data);
  block.assign(bytes, bytes + count);
  return Write(std::move(block), countBytes);
}

bool CIOService::Write(std::vector<uint8_t>&& block, bool countBytes) {
  if (!OutputReady()) return false;
  const uint64_t count = block.size();
  if (count == 0) return true;
  if (count > kMaxFileOffset - std::min(output_.writeOffset, kMaxFileOffset)) {
    return ReportWriteError(EFBIG);
  }
  int error = 0;
  if (!output_.writer->Start(std::move(block), output_.writeOffset, error)) {
    return ReportWriteError(error);
  }
  output_.writeOffset += count;
  if (countBytes) output_.positionCounter += count;
  return true;
}

bool CIOService::WaitForPendingWrite() {
  if (!output_.open || !output_.writer) return true;  // nothing can be pending
  int error = 0;
  if (!output_.writer->Wait(error)) return ReportWriteError(error);
  return true;
}

bool CIOService::Extend(int64_t count) {
  if (!OutputReady() || !WaitForPendingWrite()) return false;
  const uint64_t offset = output_.writeOffset;
  uint64_t target;
  if (count < 0) {
    const uint64_t back = static_cast<uint64_t>(-(count + 1)) + 1;
    if (back > offset) return ReportSystemError(false, EINVAL);
    target = offset - back;
  } else {
    const uint64_t forward = static_cast<uint64_t>(count);
    if (forward > kMaxFileOffset - std::min(offset, kMaxFileOffset)) {
      return ReportSystemError(false, EFBIG);
    }
    target = offset + forward;
  }
  // A device or pipe has no end to move: growing writes the zero bytes a
  // regular file would read there, and a cut would silently lose bytes.
  if (!output_.file.IsRegularFile()) {
    if (count < 0) return ReportSystemError(false, ESPIPE);
    return WriteZeros(target - offset) && WaitForPendingWrite();
  }
  output_.writeOffset = target;
  output_.positionCounter += static_cast<uint64_t>(count);
  int error = 0;
  if (!output_.file.Truncate(target, error)) return ReportSystemError(false, error);
  return true;
}

bool CIOService::WriteZeros(uint64_t count) {
  while (count > 0) {
    const uint64_t block = std::min<uint64_t>(count, kCopyBlock);
    std::vector<uint8_t> zeros = output_.writer->TakeSpareBuffer();
    zeros.assign(static_cast<size_t>(block), 0);
    if (!Write(std::move(zeros), true)) return false;
    count -= block;
  }
  return true;
}

bool CIOService::SetWriteOffset(uint64_t offset) {
  if (!OutputReady()) return false;
  if (offset > kMaxFileOffset) return ReportSystemError(false, EINVAL);
  output_.writeOffset = offset;
  return true;
}

bool CIOService::CopyToOutput(uint64_t position, uint64_t count) {
  if (count == 0) return true;
  if (!OutputReady()) return false;
  if (!Seek(position)) return false;
  uint64_t remaining = count;
  while (remaining > 0) {
    const size_t size = static_cast<size_t>(std::min<uint64_t>(remaining, kCopyBlock));
    std::vector<uint8_t> block = output_.writer->TakeSpareBuffer();
    block.resize(size);
    if (!Read(input_, block.data(), size)) return false;
    if (!Write(std::move(block), false)) return false;
    remaining -= size;
  }
  return true;
}

bool CIOService::CloseOutput() {
  if (!output_.open) {
    output_.name.clear();
    return true;
  }
  bool ok = true;
  if (output_.writer) {
    int error = 0;
    if (!output_.writer->Wait(error)) ok = ReportWriteError(error);
    output_.writer.reset();
  }
  output_.open = false;
  int error = 0;
  if (!output_.file.Close(error)) ok = ReportSystemError(false, error);
  output_.name.clear();
  return ok;
}
