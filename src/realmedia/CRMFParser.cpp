#include "realmedia/CRMFParser.h"

#include <algorithm>
#include <vector>

#include "core/ByteReader.h"
#include "core/FourCC.h"
#include "core/StructureDumper.h"
#include "realmedia/RmfDescriptions.h"

namespace {

constexpr uint32_t kChunkHeaderSize = 10;
// The data chunk's header adds the packet count and the next chunk's offset;
// the metadata chunk's a tag and a version.
constexpr uint32_t kDataHeaderSize = kChunkHeaderSize + 8;
constexpr uint32_t kMetadataHeaderSize = 8 + 8;
// A packet starts with its version and length; versions 0 and 1 add the
// stream, the time and flags.
constexpr uint32_t kPacketHeaderSize = 4;
constexpr uint32_t kPacket0HeaderSize = 12;
constexpr uint32_t kPacket1HeaderSize = 13;
// A metadata property's fixed fields up to its name.
constexpr uint32_t kPropertyHeaderSize = 32;
constexpr uint32_t kNumSubpropertiesOffset = 20;
// A described chunk or the metadata tree is held in memory while it is
// printed; real headers stay far below this, so a larger claim is skipped.
constexpr uint64_t kMaxDumpedBody = 64u << 20;

constexpr uint32_t kNoLimit = StructureDumper::kNoItemLimit;

uint32_t MinimumSize(uint32_t id) {
  if (id == FourCC("DATA")) return kDataHeaderSize;
  if (id == FourCC("RMMD")) return kMetadataHeaderSize;
  return kChunkHeaderSize;
}

std::string Number(uint64_t value) { return Report::NumberText(value); }

}  // namespace

CRMFParser::CRMFParser(RunOptions options, ReportOutput& output)
    : CRIFFParser(std::move(options), output) {
  wordAligned_ = false;
  bigEndian_ = true;
}

bool CRMFParser::Parse(const std::string& sourcePath, const std::string& outputPath) {
  bool ok = false;
  RunParse(sourcePath, outputPath, [this, &ok](int depth) {
    const int inner = OpeningLine(depth);
    ok = WalkHeaders(FileSize(), inner);
    verdict_ = ok ? "This is a Real Media file." : "This might not be a valid Real Media file.";
  });
  return ok;
}

// The header chunks follow each other by their sizes. One larger than what
// is left is cut to it (or, with -n, trusted and the walk ends with it); one
// that cannot hold its own header ends the walk.
bool CRMFParser::WalkHeaders(uint64_t remaining, int depth) {
  while (remaining >= 8) {
    report_.ProgressTick(progressCounter_);
    if (CurrentPosition() >= FileSize()) return false;
    Chunk chunk;
    if (!ReadChunkHeader(chunk, depth)) return false;
    if (chunk.size > remaining) {
      report_.Message("Token Size greater Chunk Size!", depth, kError);
      if (options_.scan.subchunkEnforcesParentSize) {
        remaining = chunk.size;
      } else {
        chunk.size = remaining;
      }
    }
    remaining -= chunk.size;
    if (chunk.size < MinimumSize(chunk.id)) {
      ReportSizeBelowHeader("Chunk Size", chunk.size, MinimumSize(chunk.id), depth);
      return false;
    }
    if (!HandleChunk(chunk, depth)) return false;
  }
  if (remaining != 0) {
    report_.Message(kSizeMismatch, depth, kError);
    if (!options_.scan.subchunkEnforcesParentSize) return SkipChecked(remaining, depth);
  }
  return true;
}

// Sizes count the header they stand in, so the check against the file
// counts from the chunk's start.
bool CRMFParser::ReadChunkHeader(Chunk& chunk, int depth) {
  chunk.start = CurrentPosition();
  uint8_t header[kChunkHeaderSize];
  if (!ReadChecked(header, sizeof header, depth, true)) return false;
  ByteReader reader(header, sizeof header, true);
  chunk.id = reader.FourCC();
  chunk.size = reader.U32();
  chunk.version = reader.U16();
  if (chunk.size > FileSize() - chunk.start) {
    report_.Message("Chunk size greater File size, File may be truncated!", depth, kError);
  }
  return true;
}

bool CRMFParser::HandleChunk(const Chunk& chunk, int depth) {
  const std::string unexpected = "Unexpected Version " + Number(chunk.version);
  switch (chunk.id) {
    case FourCC(".RMF"):
      if (chunk.version > 1) {
        report_.Message(unexpected, depth, kWarning);
        return SkipChecked(chunk.size - kChunkHeaderSize, depth);
      }
      return DumpChunk(chunk, chunk.version == 0 ? rmf::kFileHeader0 : rmf::kFileHeader1, depth);
    case FourCC("PROP"):
    case FourCC("MDPR"):
    case FourCC("CONT"):
    case FourCC("INDX"): {
      if (chunk.version != 0) report_.Message(unexpected, depth, kError);
      const StructDesc& desc = chunk.id == FourCC("PROP")   ? rmf::kProperties
                               : chunk.id == FourCC("MDPR") ? rmf::kMediaProperties
                               : chunk.id == FourCC("CONT") ? rmf::kContentDescription
                                                            : rmf::kIndex;
      return DumpChunk(chunk, desc, depth);
    }
    case FourCC("DATA"):
      if (chunk.version != 0) report_.Message(unexpected, depth, kError);
      return WalkData(chunk, depth);
    case FourCC("RMMD"):
      return WalkMetadata(chunk, depth);
    default:
      return SkipUnknownChunk(chunk, depth);
  }
}

// True when the description took the whole body.
bool CRMFParser::DumpChunk(const Chunk& chunk, const StructDesc& desc, int depth) {
  const uint64_t body = chunk.size - kChunkHeaderSize;
  if (body > kMaxDumpedBody) {
    const int inner = ChunkHeaderLine(chunk.id, 0, static_cast<uint32_t>(chunk.size), chunk.start,
                                      desc.name, depth);
    return SkipTooLarge(body, inner);
  }
  const auto size = static_cast<uint32_t>(chunk.size);
  return StructureDumper::DumpStructure(*this, depth, kChunkHeaderSize, size, size, desc,
                                        kNoLimit) >= body;
}

bool CRMFParser::SkipUnknownChunk(const Chunk& chunk, int depth) {
  const int inner = ChunkHeaderLine(chunk.id, 0, static_cast<uint32_t>(chunk.size), chunk.start,
                                    "V" + Number(chunk.version) + " Chunk", depth);
  report_.Message(kUnexpectedToken, inner, kError);
  return SkipChecked(chunk.size - kChunkHeaderSize, inner);
}

// The packets of a data chunk, each listed with its fields up to the trace
// limit; the rest of the chunk is skipped.
bool CRMFParser::WalkData(const Chunk& chunk, int depth) {
  uint64_t left = chunk.size - kChunkHeaderSize;
  const int inner =
      report_.ItemLine("'DATA'", "", "Data (V0)", left, chunk.start, depth, Verbosity());
  if (StructureDumper::DumpStructure(*this, inner, kChunkHeaderSize, kDataHeaderSize,
                                     kDataHeaderSize, rmf::kDataHeader, kNoLimit) < 8) {
    return false;
  }
  left -= 8;
  const bool enforce = options_.scan.subchunkEnforcesParentSize;
  const uint64_t listed = uint64_t{options_.report.moviTraceLimit} + 1;
  for (uint64_t entry = 1; left > 8; ++entry) {
    if (entry > listed) return SkipChecked(left, inner);
    report_.ProgressTick(progressCounter_);
    uint8_t head[kPacketHeaderSize];
    if (!ReadChecked(head, sizeof head, inner, true)) return false;
    ByteReader reader(head, sizeof head, true);
    const uint16_t version = reader.U16();
    uint64_t length = reader.U16();
    if (length > left) {
      report_.Message("Token Size greater Chunk Size!", inner, kError);
      if (enforce) {
        left = length;
      } else {
        length = left;
      }
    }
    left -= length;
    const uint32_t header = version == 0   ? kPacket0HeaderSize
                            : version == 1 ? kPacket1HeaderSize
                                           : kPacketHeaderSize;
    if (length < header) {
      ReportSizeBelowHeader("Packet Length", length, header, inner);
      return false;
    }
    const int fields =
        report_.ItemLine("DataEntry (V" + Number(version) + ") #" + Number(entry), "", "", length,
                         CurrentPosition() - kPacketHeaderSize, inner, Verbosity());
    if (version > 1) {
      if (!SkipChecked(length - kPacketHeaderSize, 0)) return false;
      continue;
    }
    const auto size = static_cast<uint32_t>(length);
    if (StructureDumper::DumpStructure(*this, fields, kPacketHeaderSize, size, size,
                                       version == 0 ? rmf::kPacket0 : rmf::kPacket1,
                                       kNoLimit) < length - kPacketHeaderSize) {
      return false;
    }
  }
  // Bytes too few for a packet (some writers end the data with a zero
  // marker) are passed over, so that a chunk behind them is read in step.
  return left == 0 || SkipChecked(left, Verbosity() >= 4 ? inner : 0);
}

// The metadata chunk: its tag and version, then one property, whose
// sub-properties follow it, each within the size of its parent. The tree is
// read whole and walked in memory; the walk ends at the chunk's end.
bool CRMFParser::WalkMetadata(const Chunk& chunk, int depth) {
  // The tag stands where other chunks keep their version.
  if (!Seek(chunk.start + 8)) return false;
  const uint32_t shown = static_cast<uint32_t>(chunk.size);
  if (StructureDumper::DumpStructure(*this, depth, 8, kMetadataHeaderSize, shown, rmf::kMetadata,
                                     options_.report.indxTraceLimit) != 8) {
    return false;
  }
  const uint64_t body = chunk.size - kMetadataHeaderSize;
  if (body > kMaxDumpedBody) {
    return SkipTooLarge(body, depth + 1);
  }
  if (body == 0) return true;
  std::vector<uint8_t> bytes;
  if (!ReadPayload(bytes, body, depth + 1)) return false;
  uint64_t size = 0;
  return WalkProperty(bytes, 0, body, chunk.start + kMetadataHeaderSize, 0, depth + 1, size);
}

bool CRMFParser::WalkProperty(const std::vector<uint8_t>& bytes, uint64_t offset, uint64_t room,
                              uint64_t position, uint32_t nesting, int depth, uint64_t& size) {
  if (nesting >= kMaxListNesting) {
    report_.Message("Properties nested too deep, skipped!", depth, kError);
    size = room;
    return true;
  }
  ByteReader reader(bytes.data(), bytes.size(), true);
  reader.Seek(static_cast<size_t>(offset));
  size = room >= 4 ? reader.U32() : room;
  if (size > room) {
    report_.Message("Token Size greater Chunk Size!", depth, kError);
    size = room;
  }
  if (size < kPropertyHeaderSize) {
    ReportSizeBelowHeader("Property Size", size, kPropertyHeaderSize, depth);
    return false;
  }
  const uint8_t* data = bytes.data() + offset;
  const auto length = static_cast<uint32_t>(size);
  const uint32_t fixed =
      StructureDumper::InterpretStructure(*this, depth, SpanTo(position), data, length, length,
                                          rmf::kMetadataProperty, options_.report.indxTraceLimit);
  reader.Seek(static_cast<size_t>(offset + kNumSubpropertiesOffset));
  const uint32_t children = reader.U32();
  // Every property takes at least its fixed fields, so the count cannot
  // outrun the bytes.
  uint64_t used = std::min<uint64_t>(fixed, size);
  for (uint32_t i = 0; i < children && used < size; ++i) {
    uint64_t child = 0;
    if (!WalkProperty(bytes, offset + used, size - used, position + used, nesting + 1, depth + 1,
                      child)) {
      return false;
    }
    used += child;
  }
  return true;
}

uint32_t CRMFParser::DumpSubObject(const std::string& tag, uint32_t size, const uint8_t* payload,
                                   uint32_t payloadSize, uint32_t offset, int indent,
                                   const FieldValues& values, uint32_t fieldIndex) {
  if (tag != rmf::kMediaProperties.tag || fieldIndex < 2 || offset > payloadSize) return 0;
  size = std::min(size, payloadSize - offset);
  // The payload was read whole just before it is interpreted.
  const uint64_t here = CurrentPosition();
  const uint64_t payloadStart = here >= payloadSize ? here - payloadSize : 0;
  return DumpTypeSpecificData(values[fieldIndex - 2].text, payload + offset, size,
                              payloadStart + offset, indent);
}

// What the MIME type says of the data: RealAudio and RealVideo have a fixed
// part and codec data behind it, a logical stream its rules and properties;
// multirate audio is shown as bytes, other types not at all.
uint32_t CRMFParser::DumpTypeSpecificData(const std::string& mimeType, const uint8_t* data,
                                          uint32_t size, uint64_t position, int indent) {
  const uint32_t span = SpanTo(position);
  if (mimeType.rfind("logical", 0) == 0) {
    return StructureDumper::InterpretStructure(*this, indent, span, data, size, size,
                                               rmf::kLogicalFileInfo, kNoLimit);
  }
  if (mimeType == "audio/x-pn-multirate-realaudio") {
    report_.HexDump(data, size, indent, Verbosity());
    return size;
  }
  const bool audio = mimeType == "audio/x-pn-realaudio";
  if (!audio && mimeType != "video/x-pn-realvideo") return size;
  const uint32_t fixed = audio ? rmf::kRealAudioSize : rmf::kRealVideoSize;
  const uint32_t consumed = StructureDumper::InterpretStructure(
      *this, indent, span, data, size, size, audio ? rmf::kRealAudio : rmf::kRealVideo, kNoLimit);
  if (consumed < fixed) return consumed;
  if (size > fixed) report_.HexDump(data + fixed, size - fixed, indent + 1, Verbosity());
  return size;
}

bool CRMFParser::SkipTooLarge(uint64_t body, int depth) {
  report_.Message("Chunk too large to show (" + Number(body) + " bytes), skipped!", depth,
                  kWarning);
  return SkipChecked(body, 0);
}

void CRMFParser::ReportSizeBelowHeader(const char* what, uint64_t size, uint32_t header,
                                       int depth) {
  report_.Message(std::string(what) + " " + Number(size) + " smaller than its " + Number(header) +
                      "-byte header!",
                  depth, kError);
}
