#pragma once
// A cursor over bytes that came from a file. Every read is bounded by the
// bytes really present: a read past the end yields the bytes that exist padded
// with zeros, advances the cursor to the end and marks the reader as short, so
// callers can interpret a cut structure and still learn that it was cut.

#include <cstddef>
#include <cstdint>
#include <string>

class ByteReader {
 public:
  ByteReader(const uint8_t* data, size_t size, bool bigEndian = false)
      : data_(data), size_(data ? size : 0), bigEndian_(bigEndian) {}

  size_t Size() const { return size_; }
  size_t Position() const { return pos_; }
  size_t Remaining() const { return size_ - pos_; }
  bool Short() const { return short_; }
  bool BigEndian() const { return bigEndian_; }
  void SetBigEndian(bool bigEndian) { bigEndian_ = bigEndian; }

  // Moves the cursor; a target beyond the end stops at the end and marks the
  // reader short.
  void Seek(size_t pos);
  void Skip(size_t count);

  uint8_t U8();
  uint16_t U16();             // in the reader's byte order
  uint32_t U24();             // in the reader's byte order
  uint32_t U32();             // in the reader's byte order
  uint64_t U64();             // in the reader's byte order
  uint16_t U16LE() { return static_cast<uint16_t>(Take(2, false)); }
  uint32_t U32LE() { return static_cast<uint32_t>(Take(4, false)); }
  uint64_t U64LE() { return Take(8, false); }
  uint16_t U16BE() { return static_cast<uint16_t>(Take(2, true)); }
  uint32_t U32BE() { return static_cast<uint32_t>(Take(4, true)); }
  uint64_t U64BE() { return Take(8, true); }
  uint32_t FourCC();          // four bytes in file order, never swapped

  // Copies up to count bytes into dest, zero-filling what is missing; returns
  // the bytes really copied.
  size_t CopyTo(void* dest, size_t count);
  // Up to count bytes as a string (cut to what remains).
  std::string Text(size_t count);
  // Pointer to the current position (valid for Remaining() bytes).
  const uint8_t* Current() const { return data_ + pos_; }

 private:
  uint64_t Take(unsigned width, bool bigEndian);

  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
  bool bigEndian_;
  bool short_ = false;
};
