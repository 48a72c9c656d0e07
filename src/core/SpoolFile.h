#pragma once
// A report kept aside while other reports are printed: the report of a file
// processed beside others is written here and copied out when its turn in
// the given order comes. A short report stays in memory; a long one moves to
// an anonymous temporary file (removed by the system when it is closed), so
// that it costs disk and not memory. Where no temporary file can be made it
// stays in memory.

#include <cstddef>
#include <cstdio>
#include <functional>
#include <ostream>
#include <streambuf>
#include <string>
#include <string_view>

class SpoolFile {
 public:
  SpoolFile() : stream_(&buffer_) {}
  SpoolFile(const SpoolFile&) = delete;
  SpoolFile& operator=(const SpoolFile&) = delete;

  std::ostream& Stream() { return stream_; }
  // Hands everything written so far to `sink` in pieces; false when the
  // spool could not be read back (or had failed to take a write).
  bool CopyTo(const std::function<void(std::string_view)>& sink);

 private:
  class Buffer : public std::streambuf {
   public:
    Buffer();
    ~Buffer() override;
    bool CopyTo(const std::function<void(std::string_view)>& sink);

   protected:
    int overflow(int c) override;
    int sync() override;

   private:
    // Reports up to this size are kept in memory.
    static constexpr size_t kMemoryLimit = 1 << 20;
    std::string memory_;
    std::FILE* file_ = nullptr;
    char block_[16384];
  };

  Buffer buffer_;
  std::ostream stream_;
};
