#pragma once
// MPEG-1 and MPEG-2 video (one stream id 0xE0-0xEF, or a whole video
// elementary-stream file). The bytes are cut at start codes (00 00 01 xx)
// into units: sequence headers and their extensions, groups of pictures,
// pictures, slices, user data. Each unit's header fields are printed with
// their meaning, and the picture types are collected into a pattern for the
// summary ("GOP:"). A unit that goes on in the next payload is kept and
// joined with it; so is a start code whose first bytes end one payload.

#include <array>
#include <cstdint>
#include <vector>

#include "core/BitReader.h"
#include "mpeg/CMPGParser.h"

class CMPGParser::CMPGESVideoParser : public CMPGParser::CMPGESParser {
 public:
  using CMPGESParser::CMPGESParser;
  bool Parse(const uint8_t* data, size_t size, uint64_t position, bool packetized,
             int depth) override;

  void Finish(int depth) override;

  uint32_t IPictures() const { return iPictures_; }

  // The bytes of a unit kept for its header; beyond them a pending unit is
  // only counted.
  static constexpr size_t kKeptUnitBytes = 64 * 1024;
  // The longest picture-type pattern.
  static constexpr size_t kPatternLength = 50;

 private:
  // A unit that began in an earlier payload and has not met the next start
  // code yet.
  struct PendingUnit {
    std::vector<uint8_t> kept;      // its first bytes, at most kKeptUnitBytes
    uint64_t length = 0;            // every byte of it, kept or not
    uint64_t position = 0;          // the file position of its first byte
    std::array<uint8_t, 3> tail{};  // its last bytes (a start code may begin there)
    size_t tailLength = 0;
    bool announced = false;  // a "Buffering" line was printed for it
  };

  using UnitParseFn = void (CMPGESVideoParser::*)(BitReader&, int);

  // Payload walk.
  size_t ResolveZeroTail(const uint8_t* data, size_t size, int depth);
  size_t FinishPendingUnit(const uint8_t* data, size_t size, uint64_t position, bool packetized,
                           int depth);
  int64_t PendingUnitEnd(const uint8_t* data, size_t size) const;
  size_t SkipToStartCode(const uint8_t* data, size_t size, uint64_t position, size_t carried,
                         int depth);
  void WalkUnits(const uint8_t* data, size_t size, size_t at, uint64_t position, bool packetized,
                 int depth);
  void StartPendingUnit(const uint8_t* bytes, size_t size, uint64_t position);
  void AnnounceBuffering(uint64_t size, uint64_t position, bool packetized, int depth);
  void AppendToPendingUnit(const uint8_t* bytes, size_t size);

  // One whole unit: `available` of its `length` bytes are in memory.
  void ParseUnit(const uint8_t* unit, size_t available, uint64_t length, uint64_t position,
                 int depth);
  void ParseSlice(BitReader& bits, uint8_t code, int depth);
  void ParsePicture(BitReader& bits, int depth);
  void ParseUserData(BitReader& bits, int depth);
  void ParseSequenceHeader(BitReader& bits, int depth);
  void ParseExtension(BitReader& bits, int depth);
  void ParseSequenceExtension(BitReader& bits, int depth);
  void ParseSequenceDisplayExtension(BitReader& bits, int depth);
  void ParseSequenceScalableExtension(BitReader& bits, int depth);
  void ParsePictureCodingExtension(BitReader& bits, int depth);
  void ParseGroupOfPictures(BitReader& bits, int depth);
  void ParseNothing(BitReader&, int) {}

  void Value(const char* label, uint64_t value, int depth, uint32_t level);
  void Value(const char* label, uint64_t value, const char* note, int depth, uint32_t level);
  void Marker(BitReader& bits, unsigned count, uint64_t expected, const char* warning, int depth);
  void QuantiserMatrix(BitReader& bits, int depth);
  void AddPictureMark(uint32_t codingType);

  PendingUnit pending_;
  bool hasPending_ = false;
  // Zero bytes (at most two) that ended a payload outside any unit: the
  // first bytes of a start code, or more bytes to skip.
  size_t zeroTail_ = 0;
  // The file position after the last payload: PES payloads are not
  // contiguous, so bytes carried from it are placed from there.
  uint64_t previousEnd_ = 0;
  bool patternFull_ = false;
  uint32_t iPictures_ = 0;
  // Slices carry a priority breakpoint only in data-partitioned streams, and
  // a vertical position extension only in pictures over 2800 lines.
  bool dataPartitioned_ = false;
  uint32_t verticalSize_ = 0;
};
