#include "core/SpoolFile.h"

SpoolFile::SpoolFile() : stream_(nullptr) {
  file_ = std::tmpfile();
  if (file_) {
    fileBuffer_ = std::make_unique<FileBuffer>(file_);
    stream_.rdbuf(fileBuffer_.get());
  } else {
    stream_.rdbuf(&memory_);
  }
}

SpoolFile::~SpoolFile() {
  if (file_) std::fclose(file_);
}

bool SpoolFile::CopyTo(const std::function<void(std::string_view)>& sink) {
  stream_.flush();
  if (!file_) {
    sink(memory_.str());
    return stream_.good();
  }
  if (!stream_.good() || std::fflush(file_) != 0 || std::fseek(file_, 0, SEEK_SET) != 0) {
    return false;
  }
  char block[65536];
  size_t got = 0;
  while ((got = std::fread(block, 1, sizeof block, file_)) > 0) sink({block, got});
  return std::ferror(file_) == 0;
}

int SpoolFile::FileBuffer::overflow(int c) {
  if (c == traits_type::eof()) return traits_type::not_eof(c);
  return std::fputc(c, file_) == EOF ? traits_type::eof() : c;
}

std::streamsize SpoolFile::FileBuffer::xsputn(const char* data, std::streamsize count) {
  return static_cast<std::streamsize>(std::fwrite(data, 1, static_cast<size_t>(count), file_));
}
