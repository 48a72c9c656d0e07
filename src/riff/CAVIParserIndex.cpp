// The indexes of an AVI file: 'idx1', the OpenDML super index ('indx') and
// standard indexes ('ix##'), and their matching against the chunks found.
//
// 'idx1' (AVI 1.0) follows the first 'movi' list: 16 bytes per chunk, with an
// offset that most writers count from the 'movi' list type word and some from
// the start of the file; which one is found out from the chunks the scan
// found (the skew). OpenDML indexes come in two levels: a super index in each
// stream list pointing to standard indexes ('ix##' chunks) inside the 'movi'
// lists, each holding the payload offsets of one stream's chunks relative to
// a base offset.
//
// Every entry becomes an IndexEntry, and after each 'movi' list and after
// 'idx1' the entries are matched against the MoviEntry list: the key-frame
// flags the writer needs come from there, and every entry that does not
// describe a chunk really present is reported.

#include <algorithm>
#include <iterator>
#include <limits>
#include <map>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/ByteReader.h"
#include "core/FourCC.h"
#include "riff/AviHeaderDumper.h"
#include "riff/CAVIParser.h"
#include "riff/AviIds.h"

namespace {

using avi::kIndxId;
using avi::kMustUseIndexFlag;
using avi::kRecId;
using avi::kRiffId;

constexpr uint32_t kTimeId = FourCC("time");
constexpr uint32_t kTcdlId = FourCC("tcdl");

// 'idx1' entries: chunk id, flags, offset, length.
constexpr uint64_t kIdx1EntrySize = 16;
// Entries read per block.
constexpr uint64_t kIdx1BlockEntries = 4096;
constexpr uint32_t kListFlag = 0x1;
// With relative offsets an entry's offset is 8 below its payload's offset
// from the list type word.
constexpr int64_t kRelativeSkew = -8;

// OpenDML indexes: a 24-byte header, then the entries.
constexpr size_t kOdmlHeaderSize = 24;
constexpr uint64_t kMaxOdmlIndexSize = 16384;
constexpr uint32_t kNotKeyFrameBit = 0x80000000;
constexpr uint32_t kSizeMask = 0x7FFFFFFF;

enum IndexType : uint8_t {
  kIndexOfIndexes = 0,
  kIndexOfChunks = 1,
  kIndexOfTimedChunks = 2,
  kIndexOfSub2Field = 3,
  kIndexIsData = 0x80,
};

// The entry layouts an OpenDML index can have.
enum EntryLayout : int {
  kSuperLayout,          // offset (64), size, duration
  kStandardLayout,       // offset, size
  kFieldLayout,          // offset, size, offset of the second field
  kTimedLayout,          // offset, size, duration
  kTimecodeLayout,       // rate, fraction, frames, SMPTE flags, user
  kDiscontinuityLayout,  // tick, timecode, SMPTE flags, user, reel id
  kUnknownLayout,        // raw words
};

// Timecodes: a frame rate of 0 stands for 30 fps with drop frames.
constexpr uint16_t kDropFrameRate = 0;
constexpr uint32_t kSmpteBinaryGroup = 0x07;
constexpr uint32_t kSmpteColorFrame = 0x08;

// Matching: the position of a 'movi' chunk as one number, segment first,
// so that the list's order is the numbers' order.
constexpr unsigned kReachSegmentShift = 40;
constexpr uint64_t kReachPositionMask = (uint64_t{1} << kReachSegmentShift) - 1;

// What an IndexEntry's note points to once something was wrong with it; the
// texts themselves are kept by the assignment run for the listing.
const char kEntryNoted[] = "mismatch";

const AviHeaderDumper::FlagName kIdx1Flags[] = {
    {0x1, "'LIST'-chunk", 0}, {0x10, "KeyFrame", 0}, {0x60, "Midpart", 0},
    {0x20, "Firstpart", 0},   {0x40, "Lastpart", 0}, {0x100, "NoTime", 0},
};

std::string Num(uint64_t value) { return Report::NumberText(value); }

bool IsPaletteChangeId(uint32_t id) { return FourCCByte(id, 2) == 'p' && FourCCByte(id, 3) == 'c'; }

uint64_t ReachKey(uint16_t segment, uint64_t position) {
  return static_cast<uint64_t>(segment) << kReachSegmentShift |
         std::min(position, kReachPositionMask);
}

template <typename T>
void TryReserve(std::vector<T>& list, uint64_t count) {
  if (count <= list.capacity()) return;
  try {
    list.reserve(static_cast<size_t>(std::min<uint64_t>(count, list.max_size())));
  } catch (const std::bad_alloc&) {
    // Only a head start: the list still grows as needed.
  } catch (const std::length_error&) {
  }
}

const char* SubTypeName(uint8_t subType) {
  switch (subType) {
    case 0: return " Default Frames";
    case 1: return " 2Field";
    default: return " (undefined)";
  }
}

std::string TypeName(uint8_t type, uint16_t longs) {
  switch (type) {
    case kIndexOfIndexes:
      return " IndexOfIndexes";
    case kIndexOfChunks:
      return std::string(" IndexOfChunks") +
             (longs == 2 ? " Standard Frame" : longs == 3 ? " Standard Field" : " (undefined)");
    case kIndexOfTimedChunks:
      return " IndexOfTimedChunks";
    case kIndexOfSub2Field:
      return " IndexOfSub2Field (Unknown?]";
    case kIndexIsData:
      return std::string(" IndexIsData") +
             (longs == 4 ? " Timcode" : longs == 8 ? " TimcodeDiscontinuity" : " (undefined)");
    default:
      return " (undefined)";
  }
}

// Indexes of chunks carry a base offset in bytes 12..19; the others three
// reserved words.
bool HasBaseOffset(uint8_t type) {
  return type == kIndexOfChunks || type == kIndexOfTimedChunks || type == kIndexOfSub2Field;
}

// Where an index may stand.
enum IndexPlace : int { kAnywhere, kHeaderOnly, kMoviOnly };

// One entry size an index type allows, with the sub-types (bit n: sub-type
// n), the chunk id it requires (0: any) and the layout of its entries.
struct IndexVariant {
  uint16_t longs;
  uint8_t subTypes;
  uint32_t chunkId;
  EntryLayout layout;
  const char* subTypeFault;
  const char* chunkIdFault;
};

// The placement and shape rules of an index type; the check stops at the
// first rule broken. Types not listed are accepted as they are.
struct IndexShape {
  uint8_t type;
  IndexPlace place;
  const char* placeFault;
  const char* longsFault;  // no variant has the index's longs per entry
  IndexVariant variants[2];  // longs 0: no variant
};

const IndexShape kIndexShapes[] = {
    {kIndexOfIndexes,
     kHeaderOnly,
     "Wrong Location of IndexOfIndexes, should be in Header!",
     "LongsPerEntry != 4 for IndexOfIndexes!",
     {{4, 0x3, 0, kSuperLayout, "Wrong IndexSubType for IndexOfIndexes!", nullptr}, {}}},
    {kIndexOfChunks,
     kAnywhere,
     nullptr,
     "Wrong IndexOfChunks!",
     {{2, 0x1, 0, kStandardLayout, "Wrong IndexSubType for IndexOfChunks!", nullptr},
      {3, 0x2, 0, kFieldLayout, "Wrong IndexSubType for IndexOfTimedChunks!", nullptr}}},
    {kIndexOfTimedChunks,
     kMoviOnly,
     "Wrong Location of IndexOfTimedChunks, should be in 'movi'!",
     "LongsPerEntry != 3 for IndexOfTimedChunks!",
     {{3, 0x1, 0, kTimedLayout, "Wrong IndexSubType for IndexOfTimedChunks!", nullptr}, {}}},
    {kIndexIsData,
     kMoviOnly,
     "Wrong Location of IndexOfTimecode, should be in 'movi'!",
     "Wrong IndexOfTimecode!",
     {{4, 0x1, kTimeId, kTimecodeLayout, "Wrong IndexSubType for IndexOfTimecode!",
       "Wrong FOURCC, should be 'time' for IndexOfTimecode!"},
      // 32-byte entries: tick, timecode, flags, user, 12-byte reel id.
      {8, 0x1, kTcdlId, kDiscontinuityLayout,
       "Wrong IndexSubType for IndexOfDiscontinuedTimecode!",
       "Wrong FOURCC, should be 'tcdl' for IndexOfDiscontinuedTimecode!"}}},
};

const IndexShape* ShapeOf(uint8_t type) {
  for (const IndexShape& shape : kIndexShapes) {
    if (shape.type == type) return &shape;
  }
  return nullptr;
}

const IndexVariant* VariantOf(const IndexShape& shape, uint16_t longs) {
  for (const IndexVariant& variant : shape.variants) {
    if (variant.longs != 0 && variant.longs == longs) return &variant;
  }
  return nullptr;
}

bool AllowsSubType(const IndexVariant& variant, uint8_t subType) {
  return subType < 8 && (variant.subTypes >> subType & 1) != 0;
}

// The layout of the entries, or the fault that leaves them without one.
EntryLayout LayoutOf(uint8_t type, uint8_t subType, uint16_t longs, const char*& fault) {
  fault = "Unknown LongsPerEntry!";
  const IndexShape* shape = ShapeOf(type);
  const IndexVariant* variant = shape ? VariantOf(*shape, longs) : nullptr;
  if (!variant) return kUnknownLayout;
  if (!AllowsSubType(*variant, subType)) {
    fault = "Unknown SubType!";
    return kUnknownLayout;
  }
  fault = nullptr;
  return variant->layout;
}

std::string TwoDigits(uint64_t value) {
  value %= 100;
  return value < 10 ? "0" + Num(value) : Num(value);
}

// A fixed-length text field: up to its first zero byte, control characters
// as blanks.
std::string FixedText(ByteReader& in, size_t count) {
  std::string text;
  bool ended = false;
  for (size_t i = 0; i < count; ++i) {
    const uint8_t c = in.U8();
    if (c == 0) ended = true;
    if (!ended) text += c < 0x20 ? ' ' : static_cast<char>(c);
  }
  return text;
}

std::string SmpteFlagsText(uint32_t flags) {
  std::string text = AviHeaderDumper::HexText(flags, 8);
  if (flags & kSmpteBinaryGroup) text += " Binary Group";
  if (flags & kSmpteColorFrame) text += " Color Frame";
  return text;
}

std::string FrameRateText(uint16_t rate) {
  return Num(rate) + (rate == kDropFrameRate ? " 30/Drop Frame" : "");
}

}  // namespace

// One 'idx1' entry as read, with its number and file position.
struct CAVIParser::Idx1Entry {
  uint32_t chunkId = 0;
  uint32_t flags = 0;
  uint32_t offset = 0;
  uint32_t length = 0;
  uint64_t number = 0;    // counted from 0
  uint64_t position = 0;  // of the entry in the file
};

// The state of one 'idx1' parse.
struct CAVIParser::Idx1Pass {
  uint64_t listTypePos = 0;  // of segment 1's 'movi' list
  bool haveMovi = false;     // segment 1 has chunks to find the skew from
  uint64_t firstOffset = 0;  // of the first chunk of segment 1
  bool skewDecided = false;
  bool skewUnknown = false;  // no skew fits: the entries are left out
  bool skewFailedHere = false;
  int64_t skew = kRelativeSkew;
  // Entries met before the skew was decided, recorded once it is.
  std::vector<Idx1Entry> waiting;
  uint32_t streamReports = 0;
  uint32_t recReports = 0;
  uint32_t listReports = 0;
  uint32_t paletteShown = 0;
  uint64_t count = 0;
  Idx1Entry last;
  bool lastShown = false;
};

// The state of one assignment run.
struct CAVIParser::AssignPass {
  uint32_t chunkId = 0;
  bool restart = false;  // every entry searches from the start of the list
  // 'movi' entries before `first` belong to segments before those of all
  // index entries and are passed over by every search.
  size_t first = 0;
  // reach[j]: the furthest (segment, end of chunk) among 'movi' entries
  // first..first + j. The entries before the first j whose reach gets to an
  // index entry's position all end before it and cannot match it, so the
  // entry's search starts there.
  std::vector<uint64_t> reach;
  // Note texts of the first entries with notes, for the listing.
  std::map<size_t, std::vector<std::string>> notes;
  size_t noteLimit = 0;
  bool keepNotes = false;
};

// ---------------------------------------------------------------------------
// Reading without moving

uint64_t CAVIParser::PeekListBodySize(uint64_t listTypePos) {
  const uint64_t fileSize = FileSize();
  if (listTypePos < 4 || listTypePos + 4 > fileSize) return 0;
  uint8_t word[4];
  if (!ReadAt(listTypePos - 4, word, 4)) return 0;
  const uint32_t size = ByteReader(word, 4, bigEndian_).U32();
  const uint64_t body = size >= 4 ? size - 4 : 0;
  return std::min(body, fileSize - listTypePos - 4);
}

// ---------------------------------------------------------------------------
// OpenDML indexes: header, checks, dump

CAVIParser::OdmlIndexHeader CAVIParser::ReadOdmlIndexHeader(
    const std::vector<uint8_t>& body) const {
  ByteReader in(body.data(), body.size(), bigEndian_);
  OdmlIndexHeader h;
  h.longsPerEntry = in.U16();
  h.subType = in.U8();
  h.type = in.U8();
  h.entriesInUse = in.U32();
  h.chunkId = in.FourCC();
  ByteReader words(body.data(), body.size(), bigEndian_);
  words.Seek(12);
  h.baseOffset = words.U64();
  words.Seek(12);
  for (uint32_t& word : h.reserved) word = words.U32();
  // The count comes from the file: only the entries the body holds count.
  if (h.longsPerEntry != 0 && body.size() >= kOdmlHeaderSize) {
    const uint64_t room = (body.size() - kOdmlHeaderSize) / h.EntryBytes();
    h.entries = static_cast<uint32_t>(std::min<uint64_t>(h.entriesInUse, room));
  }
  return h;
}

void CAVIParser::CheckOdmlIndex(const OdmlIndexHeader& header, const std::vector<uint8_t>& body,
                                uint64_t declaredSize, size_t stream, bool inHeader, bool checked,
                                bool dumped, int depth) {
  if (stream >= model_.streams.size()) {
    if (checked) report_.Message("Stream Number greater than defined Streams!", depth, kError);
    overheadSize_ += body.size() + 8;
    return;
  }
  if (checked && (declaredSize % 4 != 0 || declaredSize > kMaxOdmlIndexSize)) {
    report_.Message("Wrong Index size!", depth, kError);
  }
  if (dumped) DumpOdmlIndex(header, body, depth);
  if (body.size() >= kOdmlHeaderSize) {
    overheadSize_ += body.size() - kOdmlHeaderSize - header.entries * header.EntryBytes();
  }
  if (checked) CheckOdmlIndexShape(header, inHeader, depth);
}

void CAVIParser::CheckOdmlIndexShape(const OdmlIndexHeader& h, bool inHeader, int depth) {
  const IndexShape* shape = ShapeOf(h.type);
  if (!shape) return;
  const IndexVariant* variant = VariantOf(*shape, h.longsPerEntry);
  const char* fault = nullptr;
  if ((shape->place == kHeaderOnly && !inHeader) || (shape->place == kMoviOnly && inHeader)) {
    fault = shape->placeFault;
  } else if (!variant) {
    fault = shape->longsFault;
  } else if (!AllowsSubType(*variant, h.subType)) {
    fault = variant->subTypeFault;
  } else if (variant->chunkId != 0 && variant->chunkId != h.chunkId) {
    fault = variant->chunkIdFault;
  }
  if (fault) report_.Message(fault, depth, kError);
}

void CAVIParser::DumpOdmlIndex(const OdmlIndexHeader& h, const std::vector<uint8_t>& body,
                               int depth) {
  using Dumper = AviHeaderDumper;
  Dumper::FieldLine(*this, "00 LongsPerEntry", Num(h.longsPerEntry), depth);
  Dumper::FieldLine(*this, "02 IndexSubType", Num(h.subType), depth, SubTypeName(h.subType));
  Dumper::FieldLine(*this, "03 IndexType", Num(h.type), depth, TypeName(h.type, h.longsPerEntry));
  Dumper::FieldLine(*this, "04 EntriesInUse", Num(h.entriesInUse), depth);
  Dumper::FieldLine(*this, "08 ChunkId", FourCCText(h.chunkId), depth);
  if (HasBaseOffset(h.type)) {
    Dumper::FieldLine(*this, "12 BaseOffset", Num(h.baseOffset), depth);
    Dumper::FieldLine(*this, "20 Reserved3", Num(h.reserved[2]), depth);
  } else {
    Dumper::FieldLine(*this, "12 Reserved1", Num(h.reserved[0]), depth);
    Dumper::FieldLine(*this, "16 Reserved2", Num(h.reserved[1]), depth);
    Dumper::FieldLine(*this, "20 Reserved3", Num(h.reserved[2]), depth);
  }
  const char* fault = nullptr;
  const EntryLayout layout = LayoutOf(h.type, h.subType, h.longsPerEntry, fault);
  if (fault) report_.Message(fault, depth, kError);
  const uint64_t shown = std::min<uint64_t>(options_.report.indxTraceLimit, h.entries);
  for (uint64_t k = 0; k < shown; ++k) {
    const int inner =
        ChunkHeaderLine(0, 0, kNoChunkSize, 0, "'indx' Entry #" + Num(k), depth);
    DumpOdmlIndexEntry(h, layout, body.data() + kOdmlHeaderSize + k * h.EntryBytes(), inner);
  }
}

void CAVIParser::DumpOdmlIndexEntry(const OdmlIndexHeader& h, int layout, const uint8_t* entry,
                                    int depth) {
  using Dumper = AviHeaderDumper;
  ByteReader in(entry, static_cast<size_t>(h.EntryBytes()), bigEndian_);
  switch (layout) {
    case kSuperLayout: {
      const uint64_t offset = in.U64();
      const uint32_t size = in.U32();
      const uint32_t duration = in.U32();
      Dumper::FieldLine(*this, "00 Offset", Num(offset), depth);
      Dumper::FieldLine(*this, "08 Size", Num(size), depth);
      if (size > kMaxOdmlIndexSize) {
        report_.Message("Index size greater than STDINDEXSIZE!", depth, kError);
      }
      Dumper::FieldLine(*this, "12 Duration", Num(duration), depth);
      return;
    }
    case kStandardLayout:
    case kFieldLayout:
    case kTimedLayout: {
      const uint32_t offset = in.U32();
      const uint32_t size = in.U32();
      const bool delta = (size & kNotKeyFrameBit) != 0;
      const char* kind = layout == kStandardLayout ? (delta ? " NON-Keyframe" : " Keyframe")
                                                   : (delta ? " (DeltaFrame)" : "");
      Dumper::FieldLine(*this, "00 Offset", Num(offset), depth);
      Dumper::FieldLine(*this, "04 Size", Num(size & kSizeMask), depth, kind);
      Dumper::FieldLine(*this, "-> Position", Num(h.baseOffset + offset), depth);
      if (layout == kFieldLayout) {
        const uint32_t second = in.U32();
        Dumper::FieldLine(*this, "08 OffsetField2", Num(second), depth);
        Dumper::FieldLine(*this, "-> PositionField2", Num(h.baseOffset + second), depth);
      } else if (layout == kTimedLayout) {
        Dumper::FieldLine(*this, "08 Duration", Num(in.U32()), depth);
      }
      return;
    }
    case kTimecodeLayout: {
      Dumper::FieldLine(*this, "00 time.FrameRate", FrameRateText(in.U16()), depth);
      Dumper::FieldLine(*this, "02 time.FrameFract", Num(in.U16()), depth);
      Dumper::FieldLine(*this, "04 time.Frames", Num(in.U32()), depth);
      Dumper::FieldLine(*this, "08 SMPTEFlags", SmpteFlagsText(in.U32()), depth);
      Dumper::FieldLine(*this, "12 User", Num(in.U32()), depth);
      return;
    }
    case kDiscontinuityLayout: {
      Dumper::FieldLine(*this, "00 Tick", Num(in.U32()), depth);
      Dumper::FieldLine(*this, "04 time.FrameRate", FrameRateText(in.U16()), depth);
      Dumper::FieldLine(*this, "06 time.FrameFract", Num(in.U16()), depth);
      Dumper::FieldLine(*this, "08 time.Frames", Num(in.U32()), depth);
      Dumper::FieldLine(*this, "12 SMPTEFlags", SmpteFlagsText(in.U32()), depth);
      Dumper::FieldLine(*this, "16 User", Num(in.U32()), depth);
      Dumper::FieldLine(*this, "20 ReelId", "\"" + FixedText(in, 12) + "\"", depth);
      return;
    }
    default:
      for (uint32_t word = 0; word < h.longsPerEntry; ++word) {
        Dumper::FieldLine(*this, TwoDigits(4 * word) + " Unknown", Num(in.U32()), depth);
      }
      return;
  }
}

// ---------------------------------------------------------------------------
// Super index ('indx' in the stream list)

void CAVIParser::ParseSuperIndex(size_t stream, const std::vector<uint8_t>& body, int depth) {
  const OdmlIndexHeader header = ReadOdmlIndexHeader(body);
  CheckOdmlIndex(header, body, body.size(), stream, true, true, options_.report.indxTraceLimit != 0,
                 depth);
  if (stream < model_.streams.size()) {
    model_.streams[stream].counters[kIndxId].odmlEntries += header.entries;
  }
}

// ---------------------------------------------------------------------------
// Standard indexes ('ix##' in 'movi')

void CAVIParser::HandleStandardIndex(const SubChunk& chunk, size_t stream,
                                     const std::vector<uint8_t>& body, uint16_t segment,
                                     uint64_t listTypePos, bool dump, int depth) {
  const OdmlIndexHeader header = ReadOdmlIndexHeader(body);
  CheckOdmlIndex(header, body, chunk.size, stream, false, dump,
                 dump && options_.report.indxTraceLimit != 0, depth);
  if (stream >= model_.streams.size()) return;
  model_.streams[stream].counters[chunk.token].odmlEntries += header.entries;
  if (options_.scan.checkIndexes && header.longsPerEntry == 2) {
    RecordStandardIndexEntries(header, body, stream, segment, listTypePos);
  }
}

void CAVIParser::RecordStandardIndexEntries(const OdmlIndexHeader& header,
                                            const std::vector<uint8_t>& body, size_t stream,
                                            uint16_t segment, uint64_t listTypePos) {
  std::vector<IndexEntry>& list = model_.indexMap[header.chunkId];
  ReserveStandardIndexEntries(list, header.entries, stream, listTypePos);
  // Offsets beyond 4 GiB of their list need 64 bits; in smaller files they
  // are taken modulo 2^32 as the 32-bit fields themselves are.
  const bool narrow = FileSize() <= std::numeric_limits<uint32_t>::max();
  ByteReader in(body.data(), body.size(), bigEndian_);
  in.Seek(kOdmlHeaderSize);
  for (uint32_t k = 0; k < header.entries; ++k) {
    const uint32_t offset = in.U32();
    const uint32_t size = in.U32();
    // The entry names an absolute position (base offset + offset), and the
    // index may stand in any segment (some writers put every one at the end
    // of the file): the entry belongs to the list that holds the position.
    const uint64_t position = header.baseOffset + offset;
    IndexEntry entry;
    if (const MoviExtent* holder = MoviListAt(position)) {
      entry.segment = holder->segment;
      entry.offset = position - holder->typePos;
      entry.payloadPosition = position;
    } else {
      entry.segment = segment;
      entry.offset = position - listTypePos;
      if (narrow) entry.offset = static_cast<uint32_t>(entry.offset);
      entry.payloadPosition = entry.offset + listTypePos;
    }
    entry.size = size & kSizeMask;
    entry.flags = (size & kNotKeyFrameBit) ? 0 : kKeyFrameFlag;
    list.push_back(entry);
  }
}

void CAVIParser::ReserveStandardIndexEntries(std::vector<IndexEntry>& list, uint64_t adding,
                                             size_t stream, uint64_t listTypePos) {
  const uint64_t needed = list.size() + adding;
  if (needed <= list.capacity()) return;
  uint64_t wanted = std::max<uint64_t>(needed, list.size() + list.size() / 2);
  if (list.empty()) {
    // The first standard index of this list: the super index tells how many
    // entries all of the stream's standard indexes in this list hold (from
    // the sizes of their chunks; the duration of audio counts samples).
    const std::vector<uint8_t>& indx = model_.streams[stream].indx;
    const OdmlIndexHeader super = ReadOdmlIndexHeader(indx);
    if (super.type == kIndexOfIndexes && super.longsPerEntry == 4 && super.entries > 0) {
      const uint64_t listBody = PeekListBodySize(listTypePos);
      ByteReader in(indx.data(), indx.size(), bigEndian_);
      in.Seek(kOdmlHeaderSize);
      uint64_t total = 0;
      for (uint32_t k = 0; k < super.entries; ++k) {
        const uint64_t offset = in.U64();
        const uint32_t size = in.U32();
        const uint32_t duration = in.U32();
        if (offset < listTypePos || offset - listTypePos >= listBody) continue;
        const uint64_t capacity = size >= 32 ? (size - 32) / 8 : 0;
        total += std::min<uint64_t>(duration, capacity);
      }
      // Each entry stands for a chunk of at least 8 bytes plus its own 8.
      wanted = std::max(wanted, std::min(total, listBody / 16));
    }
  }
  TryReserve(list, wanted);
}

// ---------------------------------------------------------------------------
// switchXi: 'movi' entries from the standard indexes

bool CAVIParser::BuildEntriesFromSuperIndex(int depth) {
  if (model_.streams.empty()) return false;
  const std::vector<uint8_t>& indx = model_.streams[0].indx;
  const OdmlIndexHeader super = ReadOdmlIndexHeader(indx);
  if (super.longsPerEntry != 4 || super.subType != 0 || super.type != kIndexOfIndexes) {
    return false;
  }
  ByteReader in(indx.data(), indx.size(), bigEndian_);
  in.Seek(kOdmlHeaderSize);
  uint64_t expected = 0;
  std::vector<uint64_t> positions;
  positions.reserve(super.entries);
  for (uint32_t k = 0; k < super.entries; ++k) {
    positions.push_back(in.U64());
    const uint32_t size = in.U32();
    const uint32_t duration = in.U32();
    expected += std::min<uint64_t>(duration, size >= 32 ? (size - 32) / 8 : 0);
  }
  const size_t first = model_.movi.size();
  TryReserve(model_.movi, first + std::min(expected, FileSize() / 16));
  // Each standard index is read once: a super index that names one chunk
  // many times, or chunks that overlap, would otherwise multiply the frames
  // (and the memory) without bound.
  std::map<uint64_t, uint64_t> followed;
  std::vector<uint64_t> bases;
  uint32_t repeated = 0;
  for (uint64_t position : positions) {
    if (!FollowStandardIndex(position, followed, bases, depth)) ++repeated;
  }
  if (repeated > 0) {
    report_.Message("Super Index Entries repeating a Standard Index ignored (" + Num(repeated) +
                        ")!",
                    depth, kError);
  }
  NumberSegmentsByBaseOffset(first, bases);
  return true;
}

bool CAVIParser::FollowStandardIndex(uint64_t position, std::map<uint64_t, uint64_t>& followed,
                                     std::vector<uint64_t>& bases, int depth) {
  const uint64_t fileSize = FileSize();
  if (position > fileSize || fileSize - position < 8) {
    report_.Message("Super Index Entry Offset beyond File Size!", depth, kError);
    return true;
  }
  uint8_t head[8];
  if (!ReadAt(position, head, sizeof head)) return true;
  const uint32_t size = ByteReader(head + 4, 4, bigEndian_).U32();
  // Bounded by the chunk and the file before anything is allocated.
  const uint64_t count = std::min<uint64_t>(size, fileSize - position - 8);
  const uint64_t end = position + 8 + count;
  const auto next = followed.lower_bound(position);
  if ((next != followed.end() && next->first < end) ||
      (next != followed.begin() && std::prev(next)->second > position)) {
    return false;
  }
  followed.emplace(position, end);
  std::vector<uint8_t> body(static_cast<size_t>(count));
  if (count > 0 && !ReadAt(position + 8, body.data(), count)) return true;
  const OdmlIndexHeader header = ReadOdmlIndexHeader(body);
  if (header.longsPerEntry != 2 || header.type != kIndexOfChunks) return true;
  ByteReader in(body.data(), body.size(), bigEndian_);
  in.Seek(kOdmlHeaderSize);
  uint32_t outside = 0;
  for (uint32_t k = 0; k < header.entries; ++k) {
    const uint32_t offset = in.U32();
    const uint32_t stored = in.U32();
    const uint64_t payload = header.baseOffset + offset;
    const uint32_t payloadSize = stored & kSizeMask;
    // The base offset is any position of the file (most writers take the
    // 'movi' list type word, some the first payload): the entry's own
    // position only has to leave room for the chunk header in front of it.
    if (payload < header.baseOffset || payload < 8 || payload > fileSize ||
        fileSize - payload < payloadSize) {
      ++outside;
      continue;
    }
    MoviEntry entry;
    entry.chunkId = header.chunkId;
    entry.size = payloadSize;
    entry.flags = (stored & kNotKeyFrameBit) ? 0 : kKeyFrameFlag;
    entry.offset = offset >= 8 ? offset - 8 : 0;
    entry.payloadPosition = payload;
    model_.movi.push_back(std::move(entry));
    bases.push_back(header.baseOffset);
  }
  if (outside > 0) {
    report_.Message("Standard Index Entries outside the File ignored (" + Num(outside) + ")!",
                    depth, kError);
  }
  return true;
}

void CAVIParser::NumberSegmentsByBaseOffset(size_t first, const std::vector<uint64_t>& bases) {
  // The standard indexes of one segment share its base offset, so the
  // segments follow from the base offsets in file order. `bases` holds the
  // base offset of each entry from `first` on.
  std::vector<uint64_t> sorted(bases);
  std::sort(sorted.begin(), sorted.end());
  sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
  for (size_t i = first; i < model_.movi.size() && i - first < bases.size(); ++i) {
    const auto found = std::lower_bound(sorted.begin(), sorted.end(), bases[i - first]);
    const uint64_t rank = static_cast<uint64_t>(found - sorted.begin());
    model_.movi[i].segment = static_cast<uint16_t>(std::min<uint64_t>(rank + 1, 0xFFFF));
  }
}

// ---------------------------------------------------------------------------
// 'idx1'

int CAVIParser::ParseIdx1(uint32_t size, int depth) {
  if (!options_.scan.checkIndexes || options_.scan.switchXi ||
      options_.report.idx1TraceLimit == 0) {
    return kHandled;  // the caller skips the chunk unread
  }
  Idx1Pass pass;
  pass.listTypePos = moviListPosition_;
  if (!model_.movi.empty() && model_.movi.front().segment == 1) {
    // The skew is found from the chunks of segment 1, whose list the first
    // chunk tells.
    const MoviEntry& first = model_.movi.front();
    pass.haveMovi = true;
    pass.firstOffset = first.offset;
    pass.listTypePos = first.payloadPosition - 8 - first.offset;
  }
  const uint64_t bodyStart = CurrentPosition();
  const uint64_t declared = size / kIdx1EntrySize;
  const uint64_t readable = std::min<uint64_t>(size, RemainingInFile()) / kIdx1EntrySize;
  ReserveIdx1Entries(readable);

  std::vector<uint8_t> block(static_cast<size_t>(std::min(readable, kIdx1BlockEntries) *
                                                 kIdx1EntrySize));
  for (uint64_t done = 0; done < readable;) {
    const uint64_t count = std::min(readable - done, kIdx1BlockEntries);
    if (!ReadChecked(block.data(), count * kIdx1EntrySize, depth, true)) return kStop;
    for (uint64_t i = 0; i < count; ++i) {
      ByteReader in(block.data() + i * kIdx1EntrySize, kIdx1EntrySize, bigEndian_);
      Idx1Entry entry;
      entry.chunkId = in.FourCC();
      entry.flags = in.U32();
      entry.offset = in.U32();
      entry.length = in.U32();
      entry.number = done + i;
      entry.position = bodyStart + entry.number * kIdx1EntrySize;
      if (HandleIdx1Entry(pass, entry, depth) == kMetRiff) {
        // The index ran into the next segment: the walk resumes there.
        const uint64_t back = CurrentPosition() - entry.position;
        return Skip(-static_cast<int64_t>(back), true) ? kMetRiff : kStop;
      }
    }
    done += count;
  }
  if (readable < declared) {
    // The file ends inside the index: the next entry cannot be read.
    uint8_t partial[kIdx1EntrySize];
    ReadChecked(partial, kIdx1EntrySize, depth, true);
    return kStop;
  }
  if (!pass.waiting.empty()) {
    // Entries still waiting for the skew: without a later entry that decided
    // it they are taken as relative to the list.
    pass.skewDecided = true;
    std::vector<Idx1Entry> waiting;
    waiting.swap(pass.waiting);
    for (const Idx1Entry& early : waiting) RecordIdx1Entry(pass, early);
  }
  if (pass.count > options_.report.idx1TraceLimit && !pass.lastShown) {
    ShowIdx1Entry(pass, pass.last, depth);
  }
  if (size % kIdx1EntrySize != 0) report_.Message(kSizeMismatch, depth, kError);
  return kHandled;
}

void CAVIParser::ReserveIdx1Entries(uint64_t entries) {
  // A first look at the entries: how many each chunk id gets, up to a
  // 'RIFF' header the index may run into, so that every list is reserved once.
  std::map<uint32_t, uint64_t> counts;
  std::vector<uint8_t> block(static_cast<size_t>(std::min(entries, kIdx1BlockEntries) *
                                                 kIdx1EntrySize));
  const uint64_t bodyStart = CurrentPosition();
  const uint64_t recorded = options_.scan.moviParseLimit == 0
                                ? entries
                                : std::min<uint64_t>(entries, options_.scan.moviParseLimit);
  bool cut = false;
  for (uint64_t done = 0; done < recorded && !cut;) {
    const uint64_t count = std::min(recorded - done, kIdx1BlockEntries);
    if (!ReadAt(bodyStart + done * kIdx1EntrySize, block.data(), count * kIdx1EntrySize)) break;
    for (uint64_t i = 0; i < count; ++i) {
      ByteReader in(block.data() + i * kIdx1EntrySize, kIdx1EntrySize, bigEndian_);
      const uint32_t chunkId = in.FourCC();
      const uint32_t flags = in.U32();
      if (chunkId == kRiffId) {
        cut = true;
        break;
      }
      if (!(flags & kListFlag)) ++counts[chunkId];
    }
    done += count;
  }
  for (const auto& count : counts) {
    std::vector<IndexEntry>& list = model_.indexMap[count.first];
    TryReserve(list, list.size() + count.second);
  }
}

int CAVIParser::HandleIdx1Entry(Idx1Pass& pass, const Idx1Entry& entry, int depth) {
  if (entry.chunkId == kRiffId) return kMetRiff;
  ++pass.count;
  pass.last = entry;
  const bool isList = (entry.flags & kListFlag) != 0;
  pass.skewFailedHere = false;
  if (!isList && !pass.skewDecided && pass.haveMovi) DetectIdx1Skew(pass, entry);

  const uint32_t limit = options_.report.idx1TraceLimit;
  bool shown = entry.number < limit;
  if (!shown && IsPaletteChangeId(entry.chunkId) && pass.paletteShown < limit) {
    ++pass.paletteShown;
    shown = true;
  }
  if (shown) ShowIdx1Entry(pass, entry, depth);
  pass.lastShown = shown;
  bool headerShown = shown;
  CheckIdx1Entry(pass, entry, headerShown, depth);
  if (pass.skewFailedHere) {
    if (!headerShown) Idx1EntryLine(entry, depth);
    report_.Message("Unknown Skew for Offset!", depth, kError);
    report_.Message("The remaining 'idx1' Entries are not matched to 'movi' Entries!", depth,
                    kWarning);
  }
  if (isList) return kHandled;
  CountIdx1Entry(entry);
  if (options_.scan.moviParseLimit == 0 || entry.number < options_.scan.moviParseLimit) {
    RecordIdx1Entry(pass, entry);
  }
  return kHandled;
}

void CAVIParser::DetectIdx1Skew(Idx1Pass& pass, const Idx1Entry& entry) {
  const uint64_t e = entry.offset;
  const uint64_t p0 = pass.listTypePos;
  const int64_t absolute = static_cast<int64_t>(p0) - 8;
  const bool beyondList = e >= p0;
  if (beyondList && e - p0 == pass.firstOffset) {
    pass.skew = absolute;
  } else if (e == pass.firstOffset) {
    pass.skew = kRelativeSkew;
  } else if (beyondList && e - p0 < pass.firstOffset) {
    return;  // before the first chunk found: the next entry decides
  } else {
    bool found = false;
    for (const MoviEntry& movi : model_.movi) {
      if (movi.segment != 1 || movi.offset > e) break;
      if (beyondList && e - p0 == movi.offset) {
        pass.skew = absolute;
        found = true;
        break;
      }
      if (e == movi.offset) {
        pass.skew = kRelativeSkew;
        found = true;
        break;
      }
    }
    if (!found) {
      pass.skewUnknown = true;
      pass.skewFailedHere = true;
      pass.waiting.clear();
      pass.waiting.shrink_to_fit();
    }
  }
  pass.skewDecided = true;
}

void CAVIParser::CheckIdx1Entry(Idx1Pass& pass, const Idx1Entry& entry, bool& headerShown,
                                int depth) {
  const uint32_t limit = options_.report.idx1TraceLimit;
  const bool isList = (entry.flags & kListFlag) != 0;
  const bool isRec = entry.chunkId == kRecId;
  const auto report = [&](uint32_t& counter, const char* text) {
    if (counter >= limit) return;
    ++counter;
    if (!headerShown) Idx1EntryLine(entry, depth);
    headerShown = true;
    report_.Message(text, depth, kError);
  };
  if (!isRec && model_.StreamNumber(entry.chunkId) < 0) {
    report(pass.streamReports, "Stream Number greater than defined Streams!");
  }
  if (isRec && !isList) report(pass.recReports, "'rec ' Entry not marked as AVIIF_LIST!");
  if (!isRec && isList) report(pass.listReports, "Entry marked as AVIIF_LIST, but is not 'rec '!");
}

void CAVIParser::CountIdx1Entry(const Idx1Entry& entry) {
  const int stream = model_.StreamNumber(entry.chunkId);
  if (stream < 0) return;
  ChunkTypeCounters& counters = model_.streams[static_cast<size_t>(stream)].counters[entry.chunkId];
  ++counters.idx1Entries;
  if (entry.flags & kKeyFrameFlag) ++counters.idx1KeyFrames;
  if (entry.length == 0) {
    ++counters.zeroSize;
    ++idx1ZeroLength_[static_cast<uint64_t>(stream) << 32 | entry.chunkId];
  }
}

void CAVIParser::RecordIdx1Entry(Idx1Pass& pass, const Idx1Entry& entry) {
  if (pass.skewUnknown) return;
  if (!pass.skewDecided && pass.haveMovi) {
    pass.waiting.push_back(entry);
    return;
  }
  if (!pass.waiting.empty()) {
    std::vector<Idx1Entry> waiting;
    waiting.swap(pass.waiting);
    for (const Idx1Entry& early : waiting) RecordIdx1Entry(pass, early);
  }
  IndexEntry record;
  record.segment = 1;
  record.offset = static_cast<uint64_t>(entry.offset) - static_cast<uint64_t>(pass.skew);
  record.size = entry.length;
  record.flags = entry.flags;
  record.payloadPosition = record.offset + pass.listTypePos;
  model_.indexMap[entry.chunkId].push_back(record);
}

int CAVIParser::Idx1EntryLine(const Idx1Entry& entry, int depth) {
  return ChunkHeaderLine(0, 0, kNoChunkSize, entry.position, "'idx1' Entry #" + Num(entry.number),
                         depth);
}

void CAVIParser::ShowIdx1Entry(const Idx1Pass& pass, const Idx1Entry& entry, int depth) {
  using Dumper = AviHeaderDumper;
  const int inner = Idx1EntryLine(entry, depth);
  Dumper::FieldLine(*this, "00 ckid", FourCCText(entry.chunkId), inner);
  Dumper::FieldLine(*this, "04 Flags", Dumper::HexText(entry.flags, 8), inner);
  Dumper::FlagLines(*this, kIdx1Flags, sizeof kIdx1Flags / sizeof kIdx1Flags[0], entry.flags,
                    inner + 1);
  Dumper::FieldLine(*this, "08 ChunkOffset", Num(entry.offset), inner);
  Dumper::FieldLine(*this, "12 ChunkLength", Num(entry.length), inner);
  // The header's position: the offset plus the base the skew stands for.
  const uint64_t base = pass.listTypePos - 8 - static_cast<uint64_t>(pass.skew);
  Dumper::FieldLine(*this, "-> Position", Num(entry.offset + base), inner);
}

// ---------------------------------------------------------------------------
// Index-to-'movi' assignment

void CAVIParser::AssignIndexToMovi(int depth) {
  if (!options_.scan.checkIndexes) return;
  const int inner =
      ChunkHeaderLine(0, 0, kNoChunkSize, 0, "Assign Index to 'movi'-Entries", depth);
  for (auto& keyed : model_.indexMap) {
    if (options_.report.verbosity > 2) {
      report_.PlainLine(
          FourCCText(keyed.first) + ": " + Num(keyed.second.size()) + " Index Entries", inner);
    }
    CheckIndexOrder(keyed.first, keyed.second, inner);
  }
  AssignPass pass;
  const bool mustUseIndex = (model_.MainHeader().flags & kMustUseIndexFlag) != 0;
  pass.restart = indexOutOfOrder_ || mustUseIndex;
  pass.keepNotes = options_.report.verbosity > 2;
  pass.noteLimit = std::max(options_.report.idx1TraceLimit, options_.report.indxTraceLimit);
  if (!model_.indexMap.empty()) {
    // The index entries of one run come from the 'movi' list just scanned
    // (or from 'idx1', segment 1); the 'movi' entries lie in segment order.
    uint16_t lowest = 0xFFFF;
    for (const auto& keyed : model_.indexMap) {
      for (const IndexEntry& entry : keyed.second) lowest = std::min(lowest, entry.segment);
    }
    pass.first = model_.movi.size();
    while (pass.first > 0 && model_.movi[pass.first - 1].segment >= lowest) --pass.first;
    pass.reach.resize(model_.movi.size() - pass.first);
    uint64_t furthest = 0;
    for (size_t j = 0; j < pass.reach.size(); ++j) {
      const MoviEntry& movi = model_.movi[pass.first + j];
      furthest = std::max(furthest, ReachKey(movi.segment, movi.offset + 8 + movi.size));
      pass.reach[j] = furthest;
    }
  }
  for (auto& keyed : model_.indexMap) {
    pass.chunkId = keyed.first;
    pass.notes.clear();
    MatchIndexEntries(pass, keyed.second);
    ReportUnmatchedEntries(pass, keyed.second, inner);
  }
  // The entries have served; only the flags copied into the 'movi' entries
  // remain.
  model_.indexMap.clear();
}

void CAVIParser::CheckIndexOrder(uint32_t chunkId, std::vector<IndexEntry>& entries, int depth) {
  for (size_t i = 1; i < entries.size(); ++i) {
    // The standard indexes of several segments may stand together: the
    // order is that of the segments first.
    const IndexEntry& before = entries[i - 1];
    if (ReachKey(entries[i].segment, entries[i].offset) > ReachKey(before.segment, before.offset)) {
      continue;
    }
    indexOutOfOrder_ = true;
    const bool mustUseIndex = (model_.MainHeader().flags & kMustUseIndexFlag) != 0;
    report_.Message("Index Sequence out of order (" + FourCCText(chunkId) + ")!", depth,
                    mustUseIndex ? kInfo : kError);
    const size_t end = std::min(entries.size(), i + 2);
    for (size_t k = i - 1; k < end; ++k) DumpIndexEntry(entries[k], k, nullptr, depth + 1);
    return;
  }
}

void CAVIParser::MatchIndexEntries(AssignPass& pass, std::vector<IndexEntry>& entries) {
  size_t cursor = 0;
  for (size_t i = 0; i < entries.size(); ++i) {
    report_.ProgressTick(progressCounter_);
    MatchIndexEntry(pass, i, entries[i], cursor);
  }
}

void CAVIParser::MatchIndexEntry(AssignPass& pass, size_t index, IndexEntry& e, size_t& cursor) {
  if (e.offset == 0 && e.size == 0) {
    ++e.assignments;  // an empty slot, not a chunk
    return;
  }
  std::vector<MoviEntry>& movi = model_.movi;
  size_t j = pass.restart ? 0 : cursor;
  const auto reachable =
      std::lower_bound(pass.reach.begin(), pass.reach.end(), ReachKey(e.segment, e.offset));
  j = std::max(j, pass.first + static_cast<size_t>(reachable - pass.reach.begin()));
  for (; j < movi.size(); ++j) {
    MoviEntry& m = movi[j];
    if (m.segment < e.segment) continue;
    if (m.segment > e.segment || e.offset < m.offset) return;
    if (e.offset > m.offset && e.offset < m.offset + 8) {
      AddIndexNote(pass, index, e,
                   "Entry Offset (" + Num(e.offset) + ") misaligned to 'movi' Offset (" +
                       Num(m.offset) + ")!");
      e.payloadPosition -= e.offset - m.offset;
      e.offset = m.offset;
    }
    if (e.offset == m.offset + 8 || e.offset == m.offset) {
      m.flags = e.flags;
      ++e.assignments;
      cursor = j;
      // An index names this very chunk: garbled data behind it was put there
      // later, its size was right.
      if (m.trust == ChunkTrust::kDoubtful && e.offset == m.offset + 8 && e.size == m.size) {
        m.trust = ChunkTrust::kConfirmed;
      }
      if (m.chunkId != pass.chunkId) {
        AddIndexNote(pass, index, e,
                     "Entry Type (" + FourCCText(pass.chunkId) + ") mismatches 'movi' Type (" +
                         FourCCText(m.chunkId) + ")!");
      }
      if (e.size != m.size && !indexInsideChunks_) {
        AddIndexNote(pass, index, e,
                     "Entry Size (" + Num(e.size) + ") mismatches 'movi' Size (" + Num(m.size) +
                         ")!");
      }
      return;
    }
    if (m.chunkId != pass.chunkId) continue;
    const uint64_t payloadEnd = m.offset + 8 + m.size;
    if (e.offset > m.offset + 8 && e.offset <= payloadEnd && e.size <= payloadEnd - e.offset) {
      // Several frames stored in one chunk (low-overhead files).
      indexInsideChunks_ = true;
      ++e.assignments;
      return;
    }
    if (e.offset < m.offset + m.size) {
      AddIndexNote(pass, index, e,
                   "Entry Pos/Size (" + Num(e.offset) + "/" + Num(e.size) +
                       ") mismatches 'movi' Pos/Size (" + Num(m.offset) + "/" + Num(m.size) +
                       ")!");
      return;
    }
  }
}

void CAVIParser::AddIndexNote(AssignPass& pass, size_t index, IndexEntry& entry,
                              const std::string& text) {
  entry.note = kEntryNoted;
  if (!pass.keepNotes) return;
  // Only the first entries with notes can be listed: their texts are kept.
  const auto found = pass.notes.find(index);
  if (found != pass.notes.end()) {
    found->second.push_back(text);
  } else if (pass.notes.size() < pass.noteLimit) {
    pass.notes[index].push_back(text);
  }
}

void CAVIParser::ReportUnmatchedEntries(const AssignPass& pass,
                                        const std::vector<IndexEntry>& entries, int depth) {
  bool reported = false;
  size_t listed = 0;
  for (size_t i = 0; i < entries.size(); ++i) {
    const IndexEntry& entry = entries[i];
    if (entry.assignments == 1 && entry.note == nullptr) continue;
    if (!reported) {
      report_.Message(
          "Not all Index Entries matched a 'movi' Entry (" + FourCCText(pass.chunkId) + ")!",
          depth, kError);
      reported = true;
    }
    if (options_.report.verbosity <= 2 || listed >= pass.noteLimit) return;
    const auto notes = pass.notes.find(i);
    DumpIndexEntry(entry, i, notes == pass.notes.end() ? nullptr : &notes->second, depth + 1);
    ++listed;
  }
}

void CAVIParser::DumpIndexEntry(const IndexEntry& entry, size_t index,
                                const std::vector<std::string>* notes, int depth) {
  using Dumper = AviHeaderDumper;
  const int inner = ChunkHeaderLine(0, 0, kNoChunkSize, 0, "Index Entry #" + Num(index), depth);
  Dumper::FieldLine(*this, "assigned",
                    Num(entry.assignments) + ", flags: " + Dumper::HexText(entry.flags, 8), inner);
  Dumper::FieldLine(*this, "Segment", Num(entry.segment), inner);
  Dumper::FieldLine(*this, "Offset", Num(entry.offset), inner);
  Dumper::FieldLine(*this, "Size", Num(entry.size), inner);
  Dumper::FieldLine(*this, "Position", Num(entry.payloadPosition), inner);
  if (notes) {
    for (const std::string& note : *notes) report_.PlainLine(note, inner);
  }
  if (entry.assignments == 0) report_.Message("Entry not assigned!", inner, kWarning);
  if (entry.assignments > 1) report_.Message("Entry assigned more than once!", inner, kError);
}
