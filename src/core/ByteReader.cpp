#include "core/ByteReader.h"

#include <algorithm>
#include <cstring>

void ByteReader::Seek(size_t pos) {
  if (pos > size_) {
    pos = size_;
    short_ = true;
  }
  pos_ = pos;
}

void ByteReader::Skip(size_t count) {
  if (count > Remaining()) {
    pos_ = size_;
    short_ = true;
  } else {
    pos_ += count;
  }
}

uint64_t ByteReader::Take(unsigned width, bool bigEndian) {
  uint8_t bytes[8] = {};
  CopyTo(bytes, width);
  uint64_t value = 0;
  for (unsigned i = 0; i < width; ++i) {
    unsigned shift = bigEndian ? 8 * (width - 1 - i) : 8 * i;
    value |= static_cast<uint64_t>(bytes[i]) << shift;
  }
  return value;
}

uint8_t ByteReader::U8() { return static_cast<uint8_t>(Take(1, false)); }
uint16_t ByteReader::U16() { return static_cast<uint16_t>(Take(2, bigEndian_)); }
uint32_t ByteReader::U24() { return static_cast<uint32_t>(Take(3, bigEndian_)); }
uint32_t ByteReader::U32() { return static_cast<uint32_t>(Take(4, bigEndian_)); }
uint64_t ByteReader::U64() { return Take(8, bigEndian_); }
uint32_t ByteReader::FourCC() { return static_cast<uint32_t>(Take(4, false)); }

size_t ByteReader::CopyTo(void* dest, size_t count) {
  size_t available = std::min(count, Remaining());
  if (available > 0) std::memcpy(dest, data_ + pos_, available);
  if (available < count) {
    std::memset(static_cast<uint8_t*>(dest) + available, 0, count - available);
    short_ = true;
  }
  pos_ += available;
  return available;
}

std::string ByteReader::Text(size_t count) {
  size_t available = std::min(count, Remaining());
  if (available < count) short_ = true;
  std::string text(reinterpret_cast<const char*>(data_ + pos_), available);
  pos_ += available;
  return text;
}
