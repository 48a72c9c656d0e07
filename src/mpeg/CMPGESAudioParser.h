#pragma once
// MPEG audio frames (MPEG-1, MPEG-2 and MPEG-2.5; Layers I, II and III) of
// one audio stream: each frame header with its meaning, the frame length, the
// CRC and the Xing/Info header of a Layer III stream's first frame. A frame
// that continues in the next payload is kept and finished there; after a lost
// sync the walk looks for the next valid frame header, also across payloads.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "mpeg/CMPGParser.h"

class CMPGParser::CMPGESAudioParser : public CMPGParser::CMPGESParser {
 public:
  using CMPGESParser::CMPGESParser;
  bool Parse(const uint8_t* data, size_t size, uint64_t position, bool packetized,
             int depth) override;
  // The end of the stream: a frame still waiting for its rest is cut, bytes
  // kept for the next payload are none.
  void Finish(int depth) override;

  // The 32 bits of a frame header, split into their fields.
  struct FrameHeader {
    unsigned version = 0;  // 0: 2.5, 1: reserved, 2: MPEG-2, 3: MPEG-1
    unsigned layer = 0;    // 0: reserved, 1: Layer III, 2: Layer II, 3: Layer I
    unsigned protection = 0;
    unsigned bitRateIndex = 0;
    unsigned sampleRateIndex = 0;
    unsigned padding = 0;
    unsigned privateBit = 0;
    unsigned channelMode = 0;
    unsigned modeExtension = 0;
    unsigned copyright = 0;
    unsigned original = 0;
    unsigned emphasis = 0;
  };

  // The header in the 4 bytes at `bytes`.
  static FrameHeader DecodeHeader(const uint8_t* bytes);
  static bool HasSync(const uint8_t* bytes) {
    return bytes[0] == 0xFF && (bytes[1] & 0xE0) == 0xE0;
  }
  // In kbit/s and Hz; 0 for a free-format, reserved or invalid code.
  static unsigned BitRate(const FrameHeader& header);
  static unsigned SampleRate(const FrameHeader& header);
  // Sync, version, layer, bit rate and sample rate all valid: a length can
  // be computed.
  static bool IsValidHeader(const uint8_t* bytes);
  // Bytes of a valid frame, its header included.
  static size_t FrameLength(const FrameHeader& header);

 private:
  // The walk over one payload, which is `data` with any bytes carried over
  // from the previous payload in front of it.
  struct Walk {
    const uint8_t* bytes;
    size_t size;
    size_t carried;          // bytes at the start that came from the previous payload
    uint64_t carryPosition;  // their file position
    uint64_t position;       // the file position of the first byte after them
    bool packetized;
    int depth;

    uint64_t PositionOf(size_t offset) const {
      return offset < carried ? carryPosition + offset : position + (offset - carried);
    }
  };

  // Each returns the offset where the walk goes on, or `size` when the
  // payload is done.
  size_t FinishPendingFrame(const Walk& walk);
  size_t NextUnit(const Walk& walk, size_t offset);
  size_t ParseFrame(const Walk& walk, size_t offset);
  size_t SkipId3v1Tag(const Walk& walk, size_t offset);
  size_t Resync(const Walk& walk, size_t from, size_t skipStart, bool warn);
  size_t SkipRest(const Walk& walk, size_t offset);
  void Carry(const Walk& walk, size_t offset);

  void PrintHeader(const FrameHeader& header, int depth);
  // The CRC and, for Layer III, the Xing/Info header of a whole frame.
  void ParseBody(const uint8_t* frame, size_t length, const FrameHeader& header, int depth);
  void ParseXing(const uint8_t* frame, size_t length, const FrameHeader& header, int depth);

  // Bytes from the end of the previous payload not yet walked: the first
  // part of a frame whose header was already printed (frameLength_ > 0), or
  // a few bytes that may begin a header or an ID3v1 tag.
  std::vector<uint8_t> pending_;
  uint64_t pendingPosition_ = 0;
  size_t frameLength_ = 0;
  FrameHeader pendingHeader_;
  // The sync was lost and no valid frame header has been found since.
  bool searching_ = false;
};
