#pragma once
// Four-character codes are kept as 32-bit words whose bytes stand in memory in
// the order they stand in the file, so comparing tokens never depends on the
// byte order of the file's numeric fields.

#include <cstdint>

constexpr uint32_t FourCC(const char (&text)[5]) {
  return static_cast<uint32_t>(static_cast<uint8_t>(text[0])) |
         static_cast<uint32_t>(static_cast<uint8_t>(text[1])) << 8 |
         static_cast<uint32_t>(static_cast<uint8_t>(text[2])) << 16 |
         static_cast<uint32_t>(static_cast<uint8_t>(text[3])) << 24;
}

// The token formed from four bytes in file order.
inline uint32_t FourCCFromBytes(const uint8_t* bytes) {
  return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
         static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

// Byte n (0..3) of a token in file order.
constexpr uint8_t FourCCByte(uint32_t token, unsigned n) {
  return static_cast<uint8_t>(token >> (8 * n));
}
