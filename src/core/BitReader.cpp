#include "core/BitReader.h"

#include <algorithm>
#include <cstring>

uint64_t BitReader::Bits(unsigned count) {
  count = std::min(count, 64u);
  uint64_t value = 0;
  unsigned taken = 0;
  while (taken < count) {
    const size_t byte = static_cast<size_t>(position_ >> 3);
    const unsigned offset = static_cast<unsigned>(position_ & 7);
    const unsigned available = 8 - offset;
    const unsigned take = std::min(available, count - taken);
    uint64_t bits = 0;
    if (byte < size_) {
      bits = (static_cast<unsigned>(data_[byte]) >> (available - take)) & ((1u << take) - 1);
    } else {
      overrun_ = true;
    }
    value = (take == 64 ? 0 : value << take) | bits;
    taken += take;
    position_ += take;
  }
  return value;
}

uint32_t BitReader::Peek(unsigned count) const {
  BitReader copy = *this;
  return static_cast<uint32_t>(copy.Bits(std::min(count, 32u)));
}

void BitReader::SkipBits(uint64_t count) {
  const uint64_t end = static_cast<uint64_t>(size_) * 8;
  if (count > end - std::min(position_, end)) {
    overrun_ = true;
    position_ = std::max(position_, end);
    return;
  }
  position_ += count;
}

void BitReader::Align() { SkipBits((8 - (position_ & 7)) & 7); }

size_t BitReader::BytePosition() const {
  return static_cast<size_t>(std::min<uint64_t>((position_ + 7) >> 3, size_));
}

size_t BitReader::FindStartCode(const uint8_t* data, size_t size, size_t from) {
  // Look for the 01 and check the two zeros before it: the 01 is the rarest
  // of the three bytes, and memchr skips the rest at memory speed.
  size_t at = std::max<size_t>(from, 2);
  while (at < size) {
    const void* hit = std::memchr(data + at, 0x01, size - at);
    if (!hit) return size;
    at = static_cast<size_t>(static_cast<const uint8_t*>(hit) - data);
    if (at - 2 >= from && data[at - 1] == 0 && data[at - 2] == 0) return at - 2;
    ++at;
  }
  return size;
}
