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
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "core/CParser.h"

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
  // report level `level` on.
  void Field(std::string_view label, const std::string& value, int depth, uint32_t level = 1);
  void Warning(const std::string& text, int depth) const;
  void Error(const std::string& text, int depth) const;

 private:
  // The elementary-stream parser of `streamId`, made on first use.
  CMPGESParser& StreamParser(uint8_t streamId);

  FileType fileType_ = kUnknown;
  std::array<std::unique_ptr<CMPGESParser>, 256> streams_;
};
