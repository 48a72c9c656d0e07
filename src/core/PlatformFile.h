#pragma once
// A file handle of the host. Reads and writes loop over EINTR and short
// transfers; each failing call returns false and leaves the errno value in
// `error`.

#include <cstddef>
#include <cstdint>
#include <string>

struct FileIdentity {
  uint64_t device = 0;
  uint64_t inode = 0;
  bool valid = false;
  bool operator==(const FileIdentity& other) const {
    return valid && other.valid && device == other.device && inode == other.inode;
  }
};

class PlatformFile {
 public:
  PlatformFile() = default;
  ~PlatformFile();
  PlatformFile(const PlatformFile&) = delete;
  PlatformFile& operator=(const PlatformFile&) = delete;

  bool OpenForReading(const std::string& path, int& error);
  // Opens a file for writing, creating it when it does not exist. The file is
  // NOT truncated here: the caller first checks that it is not a file it must
  // keep (the input) and then calls Truncate(0).
  bool CreateForWriting(const std::string& path, int& error);
  bool IsOpen() const { return fd_ >= 0; }
  bool Close(int& error);

  // Reads up to `count` bytes at `offset`; `got` receives how many arrived
  // (fewer only at the end of the file or on an error).
  bool ReadAt(uint64_t offset, void* dest, size_t count, size_t& got, int& error) const;
  // Writes all `count` bytes at `offset` (a pipe or other unseekable file is
  // written sequentially; the offset is then ignored).
  bool WriteAt(uint64_t offset, const void* data, size_t count, int& error) const;
  bool Size(uint64_t& size, int& error) const;
  bool Truncate(uint64_t length, int& error) const;
  FileIdentity Identity() const;
  bool IsRegularFile() const;
  // The identity of the file a path names (links followed); invalid when the
  // path does not exist.
  static FileIdentity IdentityOf(const std::string& path);

 private:
  int fd_ = -1;
};
