#include "asf/AsfPacketWalker.h"

#include <algorithm>
#include <charconv>

#include "core/CParser.h"
#include "core/Report.h"

namespace {

std::string Num(uint64_t value) { return Report::NumberText(value); }

// Field widths by length type: absent, byte, word, double word.
constexpr unsigned kLengthTypeWidth[4] = {0, 1, 2, 4};

// The error-correction types of a packet's error-correction data.
const char* CorrectionTypeNote(unsigned type) {
  switch (type) {
    case 0:
      return " (uncorrected)";
    case 1:
      return " (xor'd)";
    case 2:
      return " (parity)";
    default:
      return " (undefined)";
  }
}

}  // namespace

AsfPacketWalker::AsfPacketWalker(CParser& parser, uint32_t packetSize, uint64_t packetCount)
    : parser_(parser),
      report_(parser.Reporter()),
      packetSize_(packetSize),
      packetCount_(packetCount) {}

bool AsfPacketWalker::WalkPacket(uint64_t number, int depth) {
  const int inner =
      report_.ItemLine("DataPacket #" + Num(number) + "/" + Num(packetCount_), "", "", packetSize_,
                       parser_.CurrentPosition(), depth, parser_.Verbosity());
  Packet packet;
  uint8_t first = 0;
  if (!ReadByte(first, packet, inner)) return false;
  // Error-correction data come first when the first byte says so; otherwise
  // that byte already holds the length types of the parsing information.
  if ((first & 0x80) != 0) {
    if (!ErrorCorrection(first, packet, inner) || !ReadByte(first, packet, inner)) return false;
  }
  return ParsingInformation(first, packet, inner) && Payloads(packet, inner) &&
         Padding(packet, inner);
}

bool AsfPacketWalker::ErrorCorrection(uint8_t flags, Packet& packet, int depth) {
  Line("ErrorCorrection", depth);
  const int inner = depth + 1;
  const unsigned length = flags & 0x0F;
  const unsigned lengthType = flags & 0x60;
  HexField("ErrorCorrectionFlags", flags, inner);
  Field("ErrorCorrectionDataLength", length, inner);
  if (length != (lengthType == 0 ? 2u : 0u)) {
    Error("Undefined value for ErrorCorrectionDataLength, expected 0 or 2!", inner);
  }
  Flag((flags & 0x10) != 0, "OpaqueDataPresent", inner);
  if ((flags & 0x10) != 0) Error("Undefined value for OpaqueDataPresent, expected 0!", inner);
  Field("ErrorCorrectionLengthType", lengthType, inner);
  if (lengthType != 0) Error("Undefined value for ErrorCorrectionLengthType, expected 0!", inner);
  Flag(true, "ErrorCorrectionPresent", inner);
  if (length == 0) return true;

  Line("ErrorCorrectionData (" + Num(length) + ")", inner);
  const int data = inner + 1;
  // Type and number share the first byte, the cycle is the second; an
  // uncorrected packet has number and cycle 0, a corrected one neither.
  uint8_t typeNumber = 0;
  if (!ReadByte(typeNumber, packet, data)) return false;
  const unsigned type = typeNumber & 0x0F;
  const bool uncorrected = type == 0;
  Line("Type: " + Num(type) + CorrectionTypeNote(type), data);
  Field("Number", typeNumber >> 4, data);
  if (uncorrected != ((typeNumber >> 4) == 0)) Error("Undefined value for EC Number!", data);
  if (length < 2) return true;
  uint8_t cycle = 0;
  if (!ReadByte(cycle, packet, data)) return false;
  Field("Cycle", cycle, data);
  if (uncorrected != (cycle == 0)) Error("Undefined value for EC Cycle!", data);
  if (length == 2) return true;
  Line("Additional Data ", data);
  packet.consumed += length - 2;
  return SkipData(length - 2, data + 1);
}

bool AsfPacketWalker::ParsingInformation(uint8_t lengthTypeFlags, Packet& packet, int depth) {
  Line("PayloadParsingInformation", depth);
  const int inner = depth + 1;
  const unsigned sequenceType = (lengthTypeFlags >> 1) & 3;
  const unsigned paddingType = (lengthTypeFlags >> 3) & 3;
  const unsigned packetLengthType = (lengthTypeFlags >> 5) & 3;
  packet.multiplePayloads = (lengthTypeFlags & 1) != 0;
  HexField("LengthTypeFlags", lengthTypeFlags, inner);
  Flag(packet.multiplePayloads, "MultiplePayloadsPresent", inner);
  Field("SequenceType", sequenceType, inner);
  if (sequenceType != 0) {
    Error("Undefined value for SequenceType, expected 0!", inner);
    parser_.ErrorContextDump(128, inner);
  }
  Field("PaddingLengthType", paddingType, inner);
  Field("PacketLengthType", packetLengthType, inner);
  Flag((lengthTypeFlags & 0x80) != 0, "ErrorCorrectionPresent", inner);
  if ((lengthTypeFlags & 0x80) != 0) {
    Error("Undefined value for ErrorCorrectionPresent, expected 0!", inner);
  }

  uint8_t& flags = packet.propertyFlags;
  if (!ReadByte(flags, packet, inner)) return false;
  HexField("PropertyFlags", flags, inner);
  // Every payload of the packet sizes its fields by these length types. The
  // format fixes them; other values are reported and parsing goes on with
  // the sizes they declare.
  struct Expected {
    unsigned shift;
    unsigned value;
    const char* name;
    const char* error;
  };
  static const Expected kExpected[] = {
      {0, 1, "ReplicatedDataLengthType",
       "Undefined value for ReplicatedDataLengthType, expected 1!"},
      {2, 3, "OffsetIntoMediaObjectLengthType",
       "Undefined value for OffsetIntoMediaObjectLengthType, expected 3!"},
      {4, 1, "MediaObjectNumberLengthType",
       "Undefined value for OffsetIntoMediaObjectNumberLengthType, expected 1!"},
      {6, 1, "StreamNumberLengthType", "Undefined value for StreamNumberLengthType, expected 1!"},
  };
  for (const Expected& field : kExpected) {
    const unsigned value = (flags >> field.shift) & 3;
    Field(field.name, value, inner);
    if (value != field.value) Error(field.error, inner);
  }

  uint32_t sequence = 0;
  if (!ReadLengthTyped(packetLengthType, packet.packetLength, packet, inner)) return false;
  LengthTyped(packetLengthType, "PacketLength", packet.packetLength, inner);
  if (!ReadLengthTyped(sequenceType, sequence, packet, inner)) return false;
  LengthTyped(sequenceType, "Sequence", sequence, inner);
  if (!ReadLengthTyped(paddingType, packet.padding, packet, inner)) return false;
  LengthTyped(paddingType, "PaddingLength", packet.padding, inner);
  uint32_t sendTime = 0;
  uint32_t duration = 0;
  if (!ReadNumber(4, sendTime, packet, inner)) return false;
  Field("SendTime (1ms)", sendTime, inner);
  if (!ReadNumber(2, duration, packet, inner)) return false;
  Field("Duration (1ms)", duration, inner);
  return true;
}

bool AsfPacketWalker::Payloads(Packet& packet, int depth) {
  Line("Payload", depth);
  const int inner = depth + 1;
  unsigned count = 1;
  if (packet.multiplePayloads) {
    uint8_t flags = 0;
    if (!ReadByte(flags, packet, inner)) return false;
    count = flags & 0x3F;
    packet.payloadLengthType = flags >> 6;
    HexField("PayloadFlags", flags, inner);
    Field("NumberOfPayloads", count, inner);
    if (count == 0) Error("Undefined value for NumberOfPayloads, expected > 0!", inner);
    Field("PayloadLengthType", packet.payloadLengthType, inner);
    if (packet.payloadLengthType != 2) {
      Error("Undefined value for PayloadLengthType, expected 2!", inner);
    }
  }
  for (unsigned i = 1; i <= count; ++i) {
    // A payload header beyond the packet would be read from the next one.
    if (Left(packet) == 0) {
      Error("Payload #" + Num(i) + "/" + Num(count) + " lies beyond the end of the packet!", inner);
      return true;
    }
    if (!Payload(i, count, packet, inner)) return false;
  }
  return true;
}

bool AsfPacketWalker::Payload(unsigned index, unsigned count, Packet& packet, int depth) {
  const int inner =
      report_.ItemLine("Payload #" + Num(index) + "/" + Num(count), "", "", Report::kNoSize,
                       parser_.CurrentPosition(), depth, parser_.Verbosity());
  uint8_t stream = 0;
  if (!ReadByte(stream, packet, inner)) return false;
  HexField("StreamNumber", stream, inner);
  Field("StreamNumber", stream & 0x7F, inner);
  Flag((stream & 0x80) != 0, "Keyframe", inner);

  const uint8_t flags = packet.propertyFlags;
  uint32_t objectNumber = 0;
  uint32_t offset = 0;
  uint32_t replicated = 0;
  if (!ReadLengthTyped((flags >> 4) & 3, objectNumber, packet, inner)) return false;
  LengthTyped((flags >> 4) & 3, "MediaObjectNumber", objectNumber, inner);
  if (!ReadLengthTyped((flags >> 2) & 3, offset, packet, inner)) return false;
  LengthTyped((flags >> 2) & 3, "OffsetIntoMediaObject", offset, inner);
  if (!ReadLengthTyped(flags & 3, replicated, packet, inner)) return false;
  if (replicated == 1) {
    Line("ReplicatedDataLength: 1 (compressed; OffsetIntoMediaObject is PresentationTime)", inner);
  } else {
    LengthTyped(flags & 3, "ReplicatedDataLength", replicated, inner);
  }
  uint32_t objectSize = 0;
  if (!ReplicatedData(replicated, objectSize, packet, inner)) return false;

  uint64_t length = objectSize;
  if (packet.multiplePayloads) {
    uint32_t stated = 0;
    if (!ReadLengthTyped(packet.payloadLengthType, stated, packet, inner)) return false;
    LengthTyped(packet.payloadLengthType, "PayloadLength", stated, inner);
    if (stated == 0 || stated > 65535) {
      Error("Undefined value for PayloadLength, expected >0, <64k!", inner);
    }
    length = stated;
    if (length == 0 && packet.packetLength > 0) length = packet.packetLength;
  }
  // A single payload fills the packet up to its padding, whatever the media
  // object's size says; so does a payload that claims more than a packet.
  if (!packet.multiplePayloads || length > packetSize_) {
    const uint64_t left = Left(packet);
    length = left - HoldTo(packet.padding, left, "PaddingLength", inner);
  }
  length = HoldTo(length, Left(packet), "PayloadLength", inner);
  packet.consumed += length;
  if (replicated == 1) return CompressedPayload(length, inner);
  const int data = report_.ItemLine("PAYLOAD", "PacketData", "", length, parser_.CurrentPosition(),
                                    inner, parser_.Verbosity());
  return SkipData(length, data);
}

// Replicated data of 8 bytes or more start with the size and presentation
// time of the media object; a single byte marks a compressed payload and
// holds the presentation time delta of its sub-payloads.
bool AsfPacketWalker::ReplicatedData(uint32_t length, uint32_t& objectSize, Packet& packet,
                                     int depth) {
  if (length == 0) return true;
  const uint64_t left = Left(packet);
  if (length > left) {
    HoldTo(length, left, "ReplicatedDataLength", depth);
    packet.consumed += left;
    return SkipData(left, depth + 1);
  }
  if (length == 1) {
    uint8_t delta = 0;
    if (!ReadByte(delta, packet, depth)) return false;
    Field("PresentationTimeDelta", delta, depth);
    return true;
  }
  if (length < 8) {
    Error("Undefined value for ReplicatedDataLength, expected 0,1,>=8!", depth);
    packet.consumed += length;
    return SkipData(length, depth + 1);
  }
  uint32_t presentationTime = 0;
  if (!ReadNumber(4, objectSize, packet, depth)) return false;
  // An object larger than the packet continues in later packets; the
  // replicated data take their share of this one.
  const bool spans = uint64_t{objectSize} + length > packetSize_;
  Line("RD: SizeOfMediaObject: " + Num(objectSize) + (spans ? " (-" + Num(length) + ")" : ""),
       depth);
  if (spans) objectSize = objectSize > length ? objectSize - length : 0;
  if (!ReadNumber(4, presentationTime, packet, depth)) return false;
  Field("RD: MediaObjectPresentationTime (1ms)", presentationTime, depth);
  packet.consumed += length - 8;
  return SkipData(length - 8, depth + 1);
}

// A compressed payload is a run of sub-payloads, each a size byte and that
// many bytes of one small media object.
bool AsfPacketWalker::CompressedPayload(uint64_t length, int depth) {
  for (uint64_t number = 1; length > 0; ++number) {
    const uint64_t position = parser_.CurrentPosition();
    uint8_t size = 0;
    if (!parser_.ReadChecked(&size, 1, depth, true)) return false;
    const int inner = report_.ItemLine("SubPacketData #" + Num(number), "", "", size, position,
                                       depth, parser_.Verbosity());
    if (size >= length) {
      // The sub-payload runs past its payload: what the payload still holds
      // is passed over so that the packet stays in step.
      HoldTo(size, length - 1, "SubPacketData", inner);
      return SkipData(length - 1, inner);
    }
    if (!SkipData(size, inner)) return false;
    length -= uint64_t{size} + 1;
  }
  return true;
}

// Whatever the payloads leave of the packet is padding, whatever the padding
// length field says.
bool AsfPacketWalker::Padding(Packet& packet, int depth) {
  const uint64_t padding = packet.consumed < packetSize_
                               ? packetSize_ - packet.consumed
                               : HoldTo(packet.padding, 0, "PaddingLength", depth);
  Field("PaddingBytes", padding, depth);
  return SkipData(padding, depth + 1);
}

bool AsfPacketWalker::ReadLengthTyped(unsigned lengthType, uint32_t& value, Packet& packet,
                                      int depth) {
  value = 0;
  return ReadNumber(kLengthTypeWidth[lengthType & 3], value, packet, depth);
}

bool AsfPacketWalker::ReadByte(uint8_t& value, Packet& packet, int depth) {
  uint32_t number = 0;
  const bool ok = ReadNumber(1, number, packet, depth);
  value = static_cast<uint8_t>(number);
  return ok;
}

bool AsfPacketWalker::ReadNumber(unsigned width, uint32_t& value, Packet& packet, int depth) {
  uint8_t bytes[4] = {};
  if (width == 0) return true;
  if (!parser_.ReadChecked(bytes, width, depth, true)) return false;
  value = 0;
  for (unsigned i = width; i-- > 0;) value = value << 8 | bytes[i];
  packet.consumed += width;
  return true;
}

bool AsfPacketWalker::SkipData(uint64_t count, int depth) {
  const uint64_t here = parser_.CurrentPosition();
  const uint64_t size = parser_.FileSize();
  if (count > (here < size ? size - here : 0)) {
    report_.Message(CParser::kPrematureEnd, depth, kFatal);
    parser_.Seek(size);
    return false;
  }
  if (count > 0 && parser_.Verbosity() >= 5) return parser_.ReadAndDump(count, depth);
  return parser_.SkipChecked(count, 0);
}

uint64_t AsfPacketWalker::Left(const Packet& packet) const {
  return packet.consumed < packetSize_ ? packetSize_ - packet.consumed : 0;
}

uint64_t AsfPacketWalker::HoldTo(uint64_t value, uint64_t limit, const char* name,
                                 int depth) const {
  if (value <= limit) return value;
  Error(std::string(name) + " " + Num(value) + " beyond the packet, cut to " + Num(limit) + "!",
        depth);
  return limit;
}

void AsfPacketWalker::Line(std::string_view text, int depth) const {
  if (parser_.Verbosity() > 0) report_.PlainLine(text, depth);
}

// The lines of numbers are built in one buffer that keeps its room: a long
// walk prints millions of them.
void AsfPacketWalker::Field(std::string_view label, uint64_t value, int depth) {
  if (parser_.Verbosity() == 0) return;
  char digits[20];
  const char* end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  line_.assign(label).append(": ").append(digits, static_cast<size_t>(end - digits));
  report_.PlainLine(line_, depth);
}

void AsfPacketWalker::HexField(std::string_view label, uint8_t value, int depth) {
  if (parser_.Verbosity() == 0) return;
  static constexpr char kDigits[] = "0123456789abcdef";
  line_.assign(label).append(": 0x");
  line_ += kDigits[value >> 4];
  line_ += kDigits[value & 0x0F];
  report_.PlainLine(line_, depth);
}

void AsfPacketWalker::LengthTyped(unsigned lengthType, std::string_view label, uint32_t value,
                                  int depth) {
  if (lengthType != 0) return Field(label, value, depth);
  if (parser_.Verbosity() == 0) return;
  line_.assign(label).append(": not existing");
  report_.PlainLine(line_, depth);
}

void AsfPacketWalker::Flag(bool set, const char* name, int depth) const {
  if (parser_.Verbosity() > 0) report_.MarkLine(set, name, depth, parser_.Verbosity());
}

void AsfPacketWalker::Error(const std::string& text, int depth) const {
  report_.Message(text, depth, kError);
}
