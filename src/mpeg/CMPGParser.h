#pragma once
// MPEG-1 and MPEG-2 files: program streams (packs, system headers, PES
// packets; DVD .vob files too), transport streams (188-byte packets with
// their adaptation fields), video and audio elementary streams, and MPEG
// audio behind an ID3v2 tag. The walk prints every header field, hands the
// payload of each PES packet to one elementary-stream parser per stream id,
// and ends with the file's type and a summary per stream. Given an output
// file, the payloads of the transport-stream PIDs named by -rs are extracted
// into it.

#include <array>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "core/CParser.h"

class BitReader;

class CMPGParser : public CParser {
 public:
  // What the file was found to be; the first part of the walk that learns it
  // sets it.
  enum FileType : uint32_t {
    kUnknown = 0,
    kVideoElementary = 1,
    kAudioElementary = 2,
    kMpeg1Pes = 3,
    kMpeg2Pes = 4,
    kMpeg1Program = 5,
    kMpeg2Program = 6,
    kTransport = 7,
    kMpegAudio = 8,
  };

  // The parser of one elementary stream, fed with the payload of every PES
  // packet of its stream id (or with the blocks of an elementary-stream
  // file). Units and frames that continue in the next payload are kept and
  // joined.
  class CMPGESParser {
   public:
    explicit CMPGESParser(CMPGParser& owner) : owner_(owner) {}
    virtual ~CMPGESParser() = default;
    CMPGESParser(const CMPGESParser&) = delete;
    CMPGESParser& operator=(const CMPGESParser&) = delete;

    // One payload of `size` bytes in memory, whose first byte lies at file
    // position `position`; its lines at `depth`. `packetized` is true for
    // PES payloads (joins across packets are reported) and false for the
    // blocks of an elementary-stream file (joined silently). False ends the
    // walk.
    virtual bool Parse(const uint8_t* data, size_t size, uint64_t position, bool packetized,
                       int depth) = 0;
    // The stream has ended with the file: a unit still waiting for the next
    // start code is whole.
    virtual void Finish(int /*depth*/) {}

    uint32_t chunks = 0;   // units or frames found
    uint32_t packets = 0;  // payloads handed in
    std::string text;      // the picture-type pattern of a video stream
    bool textSet = false;

   protected:
    CMPGParser& owner_;
  };
  class CMPGESVideoParser;
  class CMPGESAudioParser;
  class CMPGESGenericParser;

  CMPGParser(RunOptions options, ReportOutput& output);
  ~CMPGParser() override;

  bool Parse(const std::string& sourcePath, const std::string& outputPath) override;

  // Services for the elementary-stream parsers.
  void SetFileType(FileType type) {
    if (fileType_ == kUnknown) fileType_ = type;
  }
  FileType GetFileType() const { return fileType_; }
  void Tick() { report_.ProgressTick(progressCounter_); }
  uint32_t TraceLimit() const { return options_.report.moviTraceLimit; }
  // "label value" at `depth` (the label carries its colon), shown from
  // report level `level` on; a Number is shown in decimal.
  struct Number {
    explicit Number(uint64_t number) : value(number) {}
    uint64_t value;
  };
  void Field(std::string_view label, std::string_view value, int depth, uint32_t level = 1);
  void Field(std::string_view label, Number value, int depth, uint32_t level = 1);
  void Warning(const std::string& text, int depth) const;
  void Error(const std::string& text, int depth) const;

 private:
  // A transport packet's header fields, with the continuity of its PID.
  struct TsHeader {
    uint32_t errorIndicator = 0;
    bool unitStart = false;
    uint32_t priority = 0;
    uint16_t pid = 0;
    uint32_t scrambling = 0;
    uint32_t adaptation = 0;
    uint32_t counter = 0;
    const char* continuity = "";
    bool repeated = false;  // the PID's last counter again: a duplicate packet
  };
  struct PidState {
    uint32_t counter = 0;
    uint64_t packets = 0;
  };

  // The elementary-stream parser of `streamId`, made on first use.
  CMPGESParser& StreamParser(uint8_t streamId);

  // What the file is, and its walk.
  bool Walk(int depth);
  bool WalkScanned(int depth);
  bool IsTransportAt(uint64_t at);
  bool SkipId3(int depth);
  bool WalkElementary(uint8_t streamId, int depth);
  bool WalkProgram(int depth);
  bool WalkTransport(int depth);
  bool ExtractTransport(int depth);

  // Program streams.
  bool ReadBytes(std::vector<uint8_t>& bytes, uint64_t count, int depth);
  uint64_t NextStartCode(uint64_t from, bool systemOnly);
  bool SkipUnit(uint8_t id, uint64_t here, int depth);
  bool PackHeader(uint64_t here, int depth);
  size_t PackFields(BitReader& reader, int depth);
  void MuxRate(BitReader& reader, int depth);
  bool SystemHeader(uint64_t here, int depth);
  bool PesPacket(uint8_t id, uint64_t here, int depth);
  size_t PesHeader(const uint8_t* data, size_t size, int depth);
  void PesExtension(BitReader& fields, int depth);
  size_t Mpeg1PesHeader(BitReader& reader, int depth);
  bool Marker(BitReader& reader, unsigned width, const char* expected, int depth);
  bool Timestamp(BitReader& reader, int depth, uint64_t& value);
  void TimestampLine(BitReader& reader, const char* label, uint64_t scale, int depth);

  // Transport streams.
  TsHeader DecodeTsHeader(const uint8_t* packet);
  size_t TsPayloadStart(const uint8_t* packet, const TsHeader& header, int depth);
  void NotePat(const uint8_t* packet, size_t start);
  bool IsTablePid(uint16_t pid) const;
  void DumpTsPacket(const uint8_t* packet, uint64_t here, uint64_t number, int depth);
  void DumpAdaptationField(const uint8_t* packet, uint64_t here, size_t length, int depth);
  void TsExtension(BitReader& reader, uint64_t here, int depth);
  void DumpBytes(const char* name, const uint8_t* bytes, size_t count, uint64_t position,
                 int depth);
  static size_t PesHeaderToStrip(const uint8_t* data, size_t size, bool vob);
  void PidSummary(int depth);

  void Line(const std::string& text, int depth) const;
  void Summary(int depth);

  FileType fileType_ = kUnknown;
  std::array<std::unique_ptr<CMPGESParser>, 256> streams_;
  std::vector<PidState> pids_;  // by PID; a PID never seen has no packets
  std::set<uint16_t> tablePids_;
  std::string line_;
};
