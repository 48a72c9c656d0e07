#include "asf/CASFParser.h"

#include <algorithm>
#include <vector>

#include "asf/AsfDescriptions.h"
#include "asf/AsfPacketWalker.h"
#include "core/ByteReader.h"
#include "core/FieldFormat.h"
#include "core/StructureDumper.h"
#include "core/Utf16Text.h"
#include "riff/AviHeaderDumper.h"

namespace {

constexpr uint64_t kObjectHeaderSize = 24;
// The Header Object's own fields and the Header Extension Object's.
constexpr uint32_t kHeaderFields = 6;
constexpr uint32_t kHeaderExtensionFields = 22;
// The Data Object's fields before its packets: FileID, TotalDataPackets and
// two alignment bytes, after the object header.
constexpr uint64_t kDataObjectFixed = 50;
// The "Video" type-specific data before its bitmap header.
constexpr uint32_t kVideoMediaSize = 11;
// A described object is held in memory while it is printed. Indexes and
// metadata (cover pictures included) stay far below this; a larger claim is
// reported and skipped, so that a size field cannot claim the memory.
constexpr uint64_t kMaxDumpedBody = 64u << 20;

const char kHeaderGuid[] = "{75b22630-668e-11cf-a6d9-00aa0062ce6c}";
const char kDataGuid[] = "{75b22636-668e-11cf-a6d9-00aa0062ce6c}";
const char kHeaderExtensionGuid[] = "{5fbf03b5-a92e-11cf-8ee3-00c00c205365}";
const char kPaddingGuid[] = "{1806d474-cadf-4509-a4ba-9aabcb96aae8}";
const char kSpreadGuid[] = "{bfc3cd50-618f-11cf-8bb2-00aa00b4e220}";
// GUIDs that mark the end of the objects: zeros, or blanks.
const char kZeroGuid[] = "{00000000-0000-0000-0000-000000000000}";
const char kBlankGuid[] = "{20202020-2020-2020-2020-202020202020}";

// Fields of the descriptions that the sub-object handler reads back.
constexpr uint32_t kStreamTypeField = 0;
constexpr uint32_t kErrorCorrectionTypeField = 1;
constexpr uint32_t kTypeSpecificDataField = 7;
constexpr uint32_t kErrorCorrectionDataField = 8;

struct Described {
  const StructDesc* desc;
  bool itemLimit = false;     // large arrays print their first items only
  bool progressTick = false;  // indexes advance the progress indicator
};

const Described kTopLevel[] = {
    {&asf::kSimpleIndex, true, true},
    {&asf::kIndex, true, true},
    {&asf::kMediaObjectIndex, true, false},
    {&asf::kTimecodeIndex, true, true},
};

const Described kHeaderChildren[] = {
    {&asf::kFileProperties},
    {&asf::kContentDescription},
    {&asf::kStreamProperties},
    {&asf::kCodecList},
    {&asf::kExtendedContentDescription},
    {&asf::kStreamBitrateProperties},
    {&asf::kContentEncryption},
    {&asf::kExtendedContentEncryption},
    {&asf::kDigitalSignature},
    {&asf::kScriptCommand, true},
    {&asf::kMarker, true},
    {&asf::kBitrateMutualExclusion},
    {&asf::kErrorCorrection},
    {&asf::kContentBranding},
};

const Described kHeaderExtensionChildren[] = {
    {&asf::kExtendedStreamProperties},
    {&asf::kLanguageList},
    {&asf::kMetadata},
    {&asf::kMetadataLibrary},
    {&asf::kStreamPrioritization},
    {&asf::kIndexParameters},
    {&asf::kAdvancedMutualExclusion},
    {&asf::kGroupMutualExclusion},
    {&asf::kBandwidthSharing},
    {&asf::kMediaObjectIndexParameters},
    {&asf::kTimecodeIndexParameters},
    {&asf::kCompatibility},
    {&asf::kAdvancedContentEncryption},
    {&asf::kIndexParameterPlaceholder},
};

template <size_t N>
const Described* Find(const Described (&table)[N], const std::string& guid) {
  for (const Described& entry : table) {
    if (guid == entry.desc->tag) return &entry;
  }
  return nullptr;
}

std::string Num(uint64_t value) { return Report::NumberText(value); }

}  // namespace

CASFParser::CASFParser(RunOptions options, ReportOutput& output)
    : CParser(std::move(options), output) {}

bool CASFParser::Parse(const std::string& sourcePath, const std::string& outputPath) {
  bool ok = false;
  RunParse(sourcePath, outputPath, [this, &ok](int depth) { ok = WalkFile(depth); });
  return ok;
}

bool CASFParser::WalkFile(int depth) {
  const int inner = OpeningLine(depth);
  const bool walked = WalkObjects(Container::kFile, FileSize(), inner);
  verdict_ =
      walked ? "This is a Windows Media file." : "This might not be a valid Windows Media file.";
  return walked;
}

// Objects follow each other by their sizes. One larger than what is left of
// its container is cut to it; one smaller than its own header, or one of the
// GUIDs that mark the end, ends the container; bytes that cannot hold
// another object are reported and passed over.
bool CASFParser::WalkObjects(Container container, uint64_t remaining, int depth) {
  const uint64_t end = CurrentPosition() + remaining;
  for (;;) {
    const uint64_t here = CurrentPosition();
    const uint64_t left = end > here ? end - here : 0;
    if (left < kObjectHeaderSize) break;
    if (container != Container::kHeader && here >= FileSize()) return false;
    ObjectHeader object;
    if (!ReadObjectHeader(object, depth)) return false;
    if (object.size < kObjectHeaderSize) break;
    if (container == Container::kFile && (object.guid == kZeroGuid || object.guid == kBlankGuid)) {
      break;
    }
    object.span = object.size;
    if (object.size > left) {
      report_.Message("Token Size greater Chunk Size!", depth, kError);
      object.span = left;
    }
    if (!HandleObject(container, object, depth)) return false;
  }
  const uint64_t here = CurrentPosition();
  if (end > here) {
    report_.Message("Chunk Size mismatch!", depth, kError);
    if (!options_.scan.subchunkEnforcesParentSize &&
        !SkipChecked(end - here, Verbosity() != 0 ? depth + 1 : 0)) {
      return false;
    }
  }
  return true;
}

bool CASFParser::ReadObjectHeader(ObjectHeader& object, int depth) {
  object.start = CurrentPosition();
  uint8_t bytes[24];
  if (!ReadChecked(bytes, sizeof bytes, depth, true)) return false;
  uint8_t guid[16];
  std::copy(bytes, bytes + 16, guid);
  object.guid = FieldFormat::GuidText(guid);
  object.size = ByteReader(bytes + 16, 8).U64LE();
  const uint64_t fileSize = FileSize();
  const uint64_t toEnd = fileSize > object.start ? fileSize - object.start : 0;
  if (object.size > toEnd) {
    report_.Message("Chunk size (" + Num(object.size) + ") greater File size (" + Num(toEnd) +
                        "), File may be truncated!",
                    depth, kError);
  }
  return true;
}

bool CASFParser::HandleObject(Container container, const ObjectHeader& object, int depth) {
  const Described* entry = nullptr;
  switch (container) {
    case Container::kFile:
      if (object.guid == kHeaderGuid) {
        return WalkContainer(object, asf::kHeader, kHeaderFields, Container::kHeader, depth);
      }
      if (object.guid == kDataGuid) return WalkData(object, depth);
      entry = Find(kTopLevel, object.guid);
      if (entry && entry->progressTick) report_.ProgressTick(progressCounter_);
      break;
    case Container::kHeader:
      if (object.guid == kHeaderExtensionGuid) {
        return WalkContainer(object, asf::kHeaderExtension, kHeaderExtensionFields,
                             Container::kHeaderExtension, depth);
      }
      entry = Find(kHeaderChildren, object.guid);
      break;
    case Container::kHeaderExtension:
      if (object.guid == kPaddingGuid) return SkipPadding(object, depth);
      entry = Find(kHeaderExtensionChildren, object.guid);
      break;
  }
  if (entry) return DumpObject(object, *entry->desc, entry->itemLimit, depth);
  return SkipUndefined(object, container != Container::kFile, depth);
}

// The Header Object and the Header Extension Object: their own fields, then
// their children by their sizes.
bool CASFParser::WalkContainer(const ObjectHeader& object, const StructDesc& desc,
                               uint32_t ownFields, Container children, int depth) {
  const uint64_t body = object.span - kObjectHeaderSize;
  const uint64_t own = std::min<uint64_t>(ownFields, body);
  if (!DumpFields(object, desc, own, false, depth)) return false;
  return WalkObjects(children, body - own, depth + 1);
}

bool CASFParser::DumpObject(const ObjectHeader& object, const StructDesc& desc, bool itemLimit,
                            int depth) {
  const uint64_t body = object.span - kObjectHeaderSize;
  if (body > kMaxDumpedBody) {
    const int inner = ChunkHeaderLine(desc.name, desc.tag, object.span, object.start, "", depth);
    report_.Message("Object too large to show (" + Num(body) + " bytes), skipped!", inner,
                    kWarning);
    return SkipChecked(body, 0);
  }
  return DumpFields(object, desc, body, itemLimit, depth);
}

// Reads `length` bytes of the object's body and prints them through `desc`;
// the object's line shows its whole size.
bool CASFParser::DumpFields(const ObjectHeader& object, const StructDesc& desc, uint64_t length,
                            bool itemLimit, int depth) {
  const uint64_t here = CurrentPosition();
  std::vector<uint8_t> payload;
  if (!ReadPayload(payload, length, depth)) return false;
  payloadPosition_ = here;
  StructureDumper::InterpretStructure(
      *this, depth, static_cast<uint32_t>(CurrentPosition() - object.start), payload.data(),
      static_cast<uint32_t>(payload.size()),
      static_cast<uint32_t>(std::min<uint64_t>(object.span, 0xFFFFFFFFu)), desc,
      itemLimit ? options_.report.indxTraceLimit : StructureDumper::kNoItemLimit);
  if (&desc == &asf::kFileProperties) {
    // Packets of a Data Object whose size is unknown have this fixed size.
    ByteReader reader(payload.data(), payload.size());
    reader.Seek(68);
    const uint32_t minimum = reader.U32LE();
    const uint32_t maximum = reader.U32LE();
    fixedPacketSize_ = !reader.Short() && minimum == maximum ? minimum : 0;
  }
  return true;
}

bool CASFParser::SkipUndefined(const ObjectHeader& object, bool shown, int depth) {
  ChunkHeaderLine("Undefined", object.guid, object.span, object.start, "", depth);
  const bool dumped = shown && Verbosity() >= 4;
  return SkipChecked(object.span - kObjectHeaderSize, dumped ? depth + 1 : 0);
}

bool CASFParser::SkipPadding(const ObjectHeader& object, int depth) {
  ChunkHeaderLine("Padding", kPaddingGuid, object.span, object.start, "", depth);
  return SkipChecked(object.span - kObjectHeaderSize, Verbosity() >= 5 ? depth + 1 : 0);
}

// The Data Object: its fixed fields, then the packets, all of one size,
// up to the packet limit; the rest of the object is passed over.
bool CASFParser::WalkData(const ObjectHeader& object, int depth) {
  uint8_t fixed[kDataObjectFixed - kObjectHeaderSize];
  if (!ReadChecked(fixed, sizeof fixed, depth, true)) return false;
  ByteReader reader(fixed, sizeof fixed);
  uint8_t fileId[16];
  reader.CopyTo(fileId, sizeof fileId);
  const uint64_t count = reader.U64LE();
  const uint8_t alignment = reader.U8();
  const uint8_t packetAlignment = reader.U8();
  // A writer that cannot seek back (a live stream, a pipe) leaves the count
  // at 0 and the size at the fixed fields alone.
  uint64_t packetSize = 0;
  if (count > 0 && object.size >= kDataObjectFixed) {
    packetSize = std::min<uint64_t>((object.size - kDataObjectFixed) / count, 0xFFFFFFFFu);
  }

  const int inner = ChunkHeaderLine("Data", kDataGuid, object.size, object.start, "", depth);
  if (Verbosity() > 0) {
    report_.PlainLine("00 FileId: " + FieldFormat::GuidText(fileId), inner);
    report_.PlainLine("16 TotalDataPackets: " + Num(count), inner);
    report_.PlainLine("--> PayloadPacketSize: " + Num(packetSize), inner);
    report_.PlainLine("24 Alignment: 0x" + FieldFormat::Hex(alignment, 2), inner);
    report_.PlainLine("25 PacketAlignment: 0x" + FieldFormat::Hex(packetAlignment, 2), inner);
  }
  const uint32_t limit = options_.report.moviTraceLimit;
  if (packetSize == 0 && fixedPacketSize_ > 0) {
    // The packets run up to the next object (an index) or the end of the file.
    report_.Message("Data Object of unknown size: packets of " + Num(fixedPacketSize_) +
                        " bytes read up to the next object",
                    inner, kInfo);
    AsfPacketWalker walker(*this, fixedPacketSize_, count);
    for (uint64_t n = 1; CurrentPosition() < FileSize() && !AtTopLevelObject(); ++n) {
      if (n > limit) {
        Seek(std::min(CurrentPosition() + fixedPacketSize_, FileSize()));
        continue;
      }
      report_.ProgressTick(progressCounter_);
      if (!walker.WalkPacket(n, inner)) return false;
    }
    return true;
  }

  // The packets stay within the object as stated; a damaged packet size
  // cannot walk them on into the objects behind it.
  const uint64_t statedEnd =
      object.size > UINT64_MAX - object.start ? UINT64_MAX : object.start + object.size;
  AsfPacketWalker walker(*this, static_cast<uint32_t>(packetSize), count);
  for (uint64_t n = 1; n <= count && n <= limit && CurrentPosition() < statedEnd; ++n) {
    report_.ProgressTick(progressCounter_);
    if (!walker.WalkPacket(n, inner)) return false;
  }
  if (statedEnd > FileSize()) {
    report_.Message(kPrematureEnd, inner, kFatal);
    Seek(FileSize());
    return false;
  }
  const uint64_t end = object.start + object.span;
  const uint64_t here = CurrentPosition();
  if (here > end) return Seek(end);
  return SkipChecked(end - here, 0);
}

bool CASFParser::AtTopLevelObject() {
  const uint64_t here = CurrentPosition();
  uint8_t guid[16];
  if (FileSize() - here < sizeof guid || !Read(guid, sizeof guid)) return false;
  Seek(here);
  const std::string text = FieldFormat::GuidText(guid);
  return text == kHeaderGuid || text == kDataGuid || Find(kTopLevel, text) != nullptr;
}

uint32_t CASFParser::DumpSubObject(const std::string& tag, uint32_t size, const uint8_t* payload,
                                   uint32_t payloadSize, uint32_t offset, int indent,
                                   const FieldValues& values, uint32_t fieldIndex) {
  if (offset > payloadSize) return 0;
  size = std::min(size, payloadSize - offset);
  const uint8_t* data = payload + offset;
  const uint64_t position = payloadPosition_ + offset;
  if (tag == asf::kStreamProperties.tag && fieldIndex == kTypeSpecificDataField) {
    return DumpTypeSpecificData(values[kStreamTypeField].text, data, size, position, indent);
  }
  if (tag == asf::kStreamProperties.tag && fieldIndex == kErrorCorrectionDataField) {
    if (values[kErrorCorrectionTypeField].text == kSpreadGuid) {
      return StructureDumper::InterpretStructure(*this, indent, SpanTo(position), data, size, size,
                                                 asf::kSpreadErrorCorrection,
                                                 StructureDumper::kNoItemLimit);
    }
    report_.HexDump(data, size, indent, Verbosity());
    return size;
  }
  // Typed values: the data type and the length are recorded a field or two
  // before the value.
  if (tag == asf::kExtendedContentDescription.tag && fieldIndex >= 2) {
    return DumpTypedValue(values[fieldIndex - 2].number, values[fieldIndex - 1].number, data, size,
                          indent);
  }
  if ((tag == asf::kMetadata.tag || tag == asf::kMetadataLibrary.tag) && fieldIndex >= 3) {
    return DumpTypedValue(values[fieldIndex - 3].number, values[fieldIndex - 2].number, data, size,
                          indent);
  }
  if (tag == asf::kExtendedStreamProperties.tag) {
    return DumpEmbeddedStreamProperties(data, size, position, indent);
  }
  return 0;
}

// Video streams carry a small header and a bitmap header, audio streams a
// wave format; other types are shown as bytes.
uint32_t CASFParser::DumpTypeSpecificData(const std::string& streamType, const uint8_t* data,
                                          uint32_t size, uint64_t position, int indent) {
  const uint32_t limit = StructureDumper::kNoItemLimit;
  if (streamType == asf::kVideoMedia.tag) {
    const uint32_t head = std::min(size, kVideoMediaSize);
    const uint32_t consumed = StructureDumper::InterpretStructure(
        *this, indent, SpanTo(position), data, head, head, asf::kVideoMedia, limit);
    if (consumed != kVideoMediaSize) return 0;
    if (size > kVideoMediaSize) {
      AviHeaderDumper::DumpForeignBitmap(*this, data + kVideoMediaSize, size - kVideoMediaSize,
                                         indent + 1);
    }
    return size;
  }
  if (streamType == asf::kAudioMedia.tag) {
    return StructureDumper::InterpretStructure(*this, indent, SpanTo(position), data, size, size,
                                               asf::kAudioMedia, limit);
  }
  const int inner = ChunkHeaderLine("Undefined", "", size, position, "", indent);
  report_.HexDump(data, size, inner, Verbosity());
  return size;
}

// Extended stream properties may end with a whole Stream Properties Object:
// its object header is passed over and its body printed like the header's
// own stream properties.
uint32_t CASFParser::DumpEmbeddedStreamProperties(const uint8_t* data, uint32_t size,
                                                  uint64_t position, int indent) {
  if (size <= kObjectHeaderSize) return size;
  const uint64_t saved = payloadPosition_;
  payloadPosition_ = position + kObjectHeaderSize;
  StructureDumper::InterpretStructure(*this, indent, SpanTo(position), data + kObjectHeaderSize,
                                      size - kObjectHeaderSize, size, asf::kStreamProperties,
                                      StructureDumper::kNoItemLimit);
  payloadPosition_ = saved;
  return size;
}

uint32_t CASFParser::DumpTypedValue(uint32_t type, uint32_t length, const uint8_t* data,
                                    uint32_t size, int indent) {
  const uint32_t present = std::min(length, size);
  ByteReader reader(data, present);
  std::string text;
  switch (type) {
    case 0: {  // UTF-16 text, up to its terminator
      std::vector<uint16_t> units;
      for (uint32_t i = 0; i + 1 < present; i += 2) {
        const uint16_t unit = reader.U16LE();
        if (unit == 0) break;
        units.push_back(unit);
      }
      text = "\"" + Utf16Text::ToUtf8(units.data(), units.size()) + "\"";
      break;
    }
    case 2:  // BOOL: 4 bytes in the content description, 2 in metadata
      if (present >= 1) text = data[0] != 0 ? "1" : "0";
      break;
    case 3:
      if (present >= 4) text = Num(reader.U32LE());
      break;
    case 4:
      if (present >= 8) text = Num(reader.U64LE());
      break;
    case 5:
      if (present >= 2) text = Num(reader.U16LE());
      break;
    case 6:
      if (present >= 16) {
        uint8_t guid[16];
        reader.CopyTo(guid, sizeof guid);
        text = FieldFormat::GuidText(guid);
      }
      break;
    default:
      break;
  }
  // Byte arrays, unknown types and values too short for their type.
  if (text.empty()) {
    report_.HexDump(data, present, indent, Verbosity());
  } else {
    report_.PlainLine(text, indent);
  }
  return present;
}
