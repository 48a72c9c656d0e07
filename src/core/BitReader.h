#pragma once
// Reads fields that are not byte-aligned, most significant bit first, from
// bytes already in memory (one packet, one unit, one frame). Bits are taken
// through a 64-bit accumulator refilled a byte at a time. Every read is
// bounded by the bytes present: a read past the end yields zero bits and marks
// the reader as overrun, so a cut header still reads to its end and the caller
// learns that it was cut.

#include <cstddef>
#include <cstdint>

class BitReader {
 public:
  BitReader(const uint8_t* data, size_t size) : data_(data), size_(data ? size : 0) {}

  // The next `count` bits (at most 64) as a number.
  uint64_t Bits(unsigned count);
  bool Bit() { return Bits(1) != 0; }
  // The next `count` bits (at most 32) without consuming them.
  uint32_t Peek(unsigned count) const;
  void SkipBits(uint64_t count);
  // Skips to the next byte boundary.
  void Align();

  // Bits consumed so far, and the bytes they have touched (a partly read
  // byte counts as consumed).
  uint64_t BitPosition() const { return position_; }
  size_t BytePosition() const;
  size_t BytesLeft() const { return size_ - BytePosition(); }
  // The byte at the current byte position (valid for BytesLeft() bytes).
  const uint8_t* Current() const { return data_ + BytePosition(); }
  size_t Size() const { return size_; }
  bool Overrun() const { return overrun_; }

  // The offset of the first start-code prefix 00 00 01 at or after `from`
  // in `data`, or `size` when there is none.
  static size_t FindStartCode(const uint8_t* data, size_t size, size_t from);

 private:
  const uint8_t* data_;
  size_t size_;
  uint64_t position_ = 0;  // in bits
  bool overrun_ = false;
};
