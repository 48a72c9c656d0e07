#pragma once
// A report kept aside while other reports are printed: the report of a file
// processed beside others is written here and copied out when its turn in
// the given order comes. It lives in an anonymous temporary file, removed by
// the system when it is closed, so that a long report costs disk and not
// memory; where no temporary file can be made it is held in memory.

#include <cstdio>
#include <functional>
#include <memory>
#include <ostream>
#include <sstream>
#include <streambuf>
#include <string_view>

class SpoolFile {
 public:
  SpoolFile();
  ~SpoolFile();
  SpoolFile(const SpoolFile&) = delete;
  SpoolFile& operator=(const SpoolFile&) = delete;

  std::ostream& Stream() { return stream_; }
  // Hands everything written so far to `sink` in pieces; false when the
  // spool could not be read back (or had failed to take a write).
  bool CopyTo(const std::function<void(std::string_view)>& sink);

 private:
  // Writes into the temporary file.
  class FileBuffer : public std::streambuf {
   public:
    explicit FileBuffer(std::FILE* file) : file_(file) {}

   protected:
    int overflow(int c) override;
    std::streamsize xsputn(const char* data, std::streamsize count) override;

   private:
    std::FILE* file_;
  };

  std::FILE* file_ = nullptr;
  std::unique_ptr<FileBuffer> fileBuffer_;
  std::stringbuf memory_;
  std::ostream stream_;
};
