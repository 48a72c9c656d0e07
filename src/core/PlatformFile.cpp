#include "core/PlatformFile.h"

#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A single transfer is kept below the largest count every kernel accepts.
constexpr size_t kMaxTransfer = size_t{1} << 30;

FileIdentity IdentityFromStat(const struct stat& info) {
  FileIdentity identity;
  identity.device = static_cast<uint64_t>(info.st_dev);
  identity.inode = static_cast<uint64_t>(info.st_ino);
  identity.valid = true;
  return identity;
}

bool OffsetFits(uint64_t offset, size_t count) {
  constexpr uint64_t kMaxOffset = static_cast<uint64_t>(INT64_MAX);
  return offset <= kMaxOffset && count <= kMaxOffset - offset;
}

}  // namespace

PlatformFile::~PlatformFile() {
  if (fd_ >= 0) ::close(fd_);
}

bool PlatformFile::OpenForReading(const std::string& path, int& error) {
  int closeError = 0;
  if (fd_ >= 0) Close(closeError);
  // O_NONBLOCK keeps the open of a named pipe from waiting for a writer;
  // it is cleared at once so that reads behave normally.
  int fd;
  do {
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    error = errno;
    return false;
  }
  // A directory opens like a file here but has no bytes to read; it fails
  // now, as it does on hosts that refuse to open it.
  struct stat info;
  if (::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
    ::close(fd);
    error = EISDIR;
    return false;
  }
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  fd_ = fd;
#ifdef POSIX_FADV_SEQUENTIAL
  ::posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
  return true;
}

bool PlatformFile::CreateForWriting(const std::string& path, int& error) {
  int closeError = 0;
  if (fd_ >= 0) Close(closeError);
  int fd;
  do {
    fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    error = errno;
    return false;
  }
  fd_ = fd;
  return true;
}

bool PlatformFile::Close(int& error) {
  if (fd_ < 0) return true;
  // The descriptor is gone after close() whatever it returns, so it is never
  // closed twice, not even after EINTR.
  const int result = ::close(fd_);
  fd_ = -1;
  if (result != 0 && errno != EINTR) {
    error = errno;
    return false;
  }
  return true;
}

bool PlatformFile::ReadAt(uint64_t offset, void* dest, size_t count, size_t& got,
                          int& error) const {
  got = 0;
  if (fd_ < 0) {
    error = EBADF;
    return false;
  }
  if (!OffsetFits(offset, count)) {
    error = EINVAL;
    return false;
  }
  uint8_t* out = static_cast<uint8_t*>(dest);
  while (got < count) {
    const size_t want = count - got < kMaxTransfer ? count - got : kMaxTransfer;
    const ssize_t n = ::pread(fd_, out + got, want, static_cast<off_t>(offset + got));
    if (n < 0) {
      if (errno == EINTR) continue;
      error = errno;
      return false;
    }
    if (n == 0) break;  // end of the file
    got += static_cast<size_t>(n);
  }
  return true;
}

bool PlatformFile::WriteAt(uint64_t offset, const void* data, size_t count, int& error) const {
  if (fd_ < 0) {
    error = EBADF;
    return false;
  }
  if (!OffsetFits(offset, count)) {
    error = EFBIG;
    return false;
  }
  const uint8_t* in = static_cast<const uint8_t*>(data);
  size_t done = 0;
  bool sequential = false;
  while (done < count) {
    const size_t want = count - done < kMaxTransfer ? count - done : kMaxTransfer;
    const ssize_t n = sequential
                          ? ::write(fd_, in + done, want)
                          : ::pwrite(fd_, in + done, want, static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno == ESPIPE && !sequential) {
        sequential = true;
        continue;
      }
      error = errno;
      return false;
    }
    if (n == 0) {  // no progress and no error: the device is full
      error = ENOSPC;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

bool PlatformFile::Size(uint64_t& size, int& error) const {
  struct stat info;
  if (fd_ < 0) {
    error = EBADF;
    return false;
  }
  if (::fstat(fd_, &info) != 0) {
    error = errno;
    return false;
  }
  size = info.st_size > 0 ? static_cast<uint64_t>(info.st_size) : 0;
  return true;
}

bool PlatformFile::Truncate(uint64_t length, int& error) const {
  if (fd_ < 0) {
    error = EBADF;
    return false;
  }
  if (length > static_cast<uint64_t>(INT64_MAX)) {
    error = EFBIG;
    return false;
  }
  int result;
  do {
    result = ::ftruncate(fd_, static_cast<off_t>(length));
  } while (result != 0 && errno == EINTR);
  if (result != 0) {
    error = errno;
    return false;
  }
  return true;
}

FileIdentity PlatformFile::Identity() const {
  struct stat info;
  if (fd_ < 0 || ::fstat(fd_, &info) != 0) return FileIdentity{};
  return IdentityFromStat(info);
}

bool PlatformFile::IsRegularFile() const {
  struct stat info;
  return fd_ >= 0 && ::fstat(fd_, &info) == 0 && S_ISREG(info.st_mode);
}

FileIdentity PlatformFile::IdentityOf(const std::string& path) {
  struct stat info;
  if (::stat(path.c_str(), &info) != 0) return FileIdentity{};
  return IdentityFromStat(info);
}
