#pragma once
// RealMedia files: a run of big-endian header chunks (file header, file
// properties, one media properties chunk per stream, content description,
// data, index, metadata). Each chunk starts with a 10-byte header: id, size
// (header included) and a 16-bit version. Known headers are printed through
// their descriptions; the type-specific data of media properties is decoded
// by MIME type; the packets of a data chunk are listed up to the trace limit;
// metadata is a tree of properties, each read by its own size.

#include <cstdint>
#include <string>
#include <vector>

#include "riff/CRIFFParser.h"

class CRMFParser : public CRIFFParser {
 public:
  CRMFParser(RunOptions options, ReportOutput& output);

  bool Parse(const std::string& sourcePath, const std::string& outputPath) override;
  uint32_t DumpSubObject(const std::string& tag, uint32_t size, const uint8_t* payload,
                         uint32_t payloadSize, uint32_t offset, int indent,
                         const FieldValues& values, uint32_t fieldIndex) override;

 private:
  struct Chunk {
    uint32_t id = 0;
    uint64_t size = 0;  // header included, fitted to what holds it
    uint16_t version = 0;
    uint64_t start = 0;
  };

  bool WalkHeaders(uint64_t remaining, int depth);
  bool ReadChunkHeader(Chunk& chunk, int depth);
  bool HandleChunk(const Chunk& chunk, int depth);
  bool DumpChunk(const Chunk& chunk, const StructDesc& desc, int depth);
  bool SkipUnknownChunk(const Chunk& chunk, int depth);
  bool WalkData(const Chunk& chunk, int depth);
  bool WalkMetadata(const Chunk& chunk, int depth);
  // The property at `offset` of the metadata `bytes`, with `room` bytes of
  // its parent left; its sub-properties follow it. `size` receives the
  // bytes it takes.
  bool WalkProperty(const std::vector<uint8_t>& bytes, uint64_t offset, uint64_t room,
                    uint64_t position, uint32_t nesting, int depth, uint64_t& size);
  uint32_t DumpTypeSpecificData(const std::string& mimeType, const uint8_t* data, uint32_t size,
                                uint64_t position, int indent);
  // A body too large to be read into memory: reported and skipped.
  bool SkipTooLarge(uint64_t body, int depth);
  // Reports a size that cannot hold the header of what it sizes.
  void ReportSizeBelowHeader(const char* what, uint64_t size, uint32_t header, int depth);
};
