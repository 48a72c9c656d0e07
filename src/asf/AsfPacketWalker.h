#pragma once
// Walks the data packets of an ASF Data Object, one packet at a time: the
// error-correction data, the payload parsing information (length types,
// packet length, sequence, padding, send time, duration) and each payload
// (stream, key frame, media object number and offset, replicated data,
// compressed sub-payloads, length). Every field the format restricts is
// checked and a deviation reported; parsing carries on with the values read.
//
// Packet data are skipped, not read (shown as a hex dump only at the highest
// verbosity). Every length derived inside a packet is held to what is left of
// the packet, so a damaged packet never pulls the next one out of step.

#include <cstdint>
#include <string>
#include <string_view>

class CParser;
class Report;

class AsfPacketWalker {
 public:
  // `packetSize` is the fixed size of every packet of the Data Object,
  // `packetCount` the count the Data Object states (shown in the headers).
  AsfPacketWalker(CParser& parser, uint32_t packetSize, uint64_t packetCount);

  // The packet at the current position, numbered `number`; its header line
  // at `depth`. False when a read met the end of the file.
  bool WalkPacket(uint64_t number, int depth);

 private:
  // The working values of one packet.
  struct Packet {
    uint64_t consumed = 0;  // bytes of the packet interpreted so far
    uint32_t packetLength = 0;
    uint32_t padding = 0;
    uint8_t propertyFlags = 0;
    bool multiplePayloads = false;
    unsigned payloadLengthType = 0;
  };

  bool ErrorCorrection(uint8_t flags, Packet& packet, int depth);
  bool ParsingInformation(uint8_t lengthTypeFlags, Packet& packet, int depth);
  bool Payloads(Packet& packet, int depth);
  bool Payload(unsigned index, unsigned count, Packet& packet, int depth);
  bool ReplicatedData(uint32_t length, uint32_t& objectSize, Packet& packet, int depth);
  bool CompressedPayload(uint64_t length, int depth);
  bool Padding(Packet& packet, int depth);

  // Reads a field of 0 (absent), 1, 2 or 4 bytes by its length type; an
  // absent field reads as 0.
  bool ReadLengthTyped(unsigned lengthType, uint32_t& value, Packet& packet, int depth);
  bool ReadByte(uint8_t& value, Packet& packet, int depth);
  bool ReadNumber(unsigned width, uint32_t& value, Packet& packet, int depth);
  // Skips `count` bytes of packet data, shown at the highest verbosity.
  bool SkipData(uint64_t count, int depth);
  // What is left of the packet.
  uint64_t Left(const Packet& packet) const;
  // `value` cut to `limit` with an Error naming the field; returns the cut value.
  uint64_t HoldTo(uint64_t value, uint64_t limit, const char* name, int depth) const;

  void Line(std::string_view text, int depth) const;
  // "label: value" in decimal, in hexadecimal ("0x" and two digits), and for
  // a field of a length type that may leave it out ("label: not existing").
  void Field(std::string_view label, uint64_t value, int depth);
  void HexField(std::string_view label, uint8_t value, int depth);
  void LengthTyped(unsigned lengthType, std::string_view label, uint32_t value, int depth);
  void Flag(bool set, const char* name, int depth) const;
  void Error(const std::string& text, int depth) const;

  CParser& parser_;
  const Report& report_;
  uint32_t packetSize_;
  uint64_t packetCount_;
  std::string line_;
};
