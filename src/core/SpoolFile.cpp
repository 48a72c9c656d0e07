#include "core/SpoolFile.h"

bool SpoolFile::CopyTo(const std::function<void(std::string_view)>& sink) {
  stream_.flush();
  return stream_.good() && buffer_.CopyTo(sink);
}

SpoolFile::Buffer::Buffer() { setp(block_, block_ + sizeof block_); }

SpoolFile::Buffer::~Buffer() {
  if (file_) std::fclose(file_);
}

int SpoolFile::Buffer::overflow(int c) {
  if (sync() != 0) return traits_type::eof();
  if (c == traits_type::eof()) return traits_type::not_eof(c);
  *pptr() = traits_type::to_char_type(c);
  pbump(1);
  return c;
}

int SpoolFile::Buffer::sync() {
  const std::string_view block(pbase(), static_cast<size_t>(pptr() - pbase()));
  setp(block_, block_ + sizeof block_);
  if (!file_ && memory_.size() + block.size() > kMemoryLimit) {
    file_ = std::tmpfile();
    if (file_) {
      if (std::fwrite(memory_.data(), 1, memory_.size(), file_) != memory_.size()) return -1;
      std::string().swap(memory_);
    }
  }
  if (!file_) {
    memory_.append(block);
    return 0;
  }
  return std::fwrite(block.data(), 1, block.size(), file_) == block.size() ? 0 : -1;
}

bool SpoolFile::Buffer::CopyTo(const std::function<void(std::string_view)>& sink) {
  if (sync() != 0) return false;
  if (!file_) {
    sink(memory_);
    return true;
  }
  if (std::fflush(file_) != 0 || std::fseek(file_, 0, SEEK_SET) != 0) return false;
  char block[65536];
  size_t got = 0;
  while ((got = std::fread(block, 1, sizeof block, file_)) > 0) sink({block, got});
  return std::ferror(file_) == 0;
}
