#include "riff/AviOdmlIndexReader.h"

#include <algorithm>
#include <iterator>
#include <limits>
#include <new>
#include <stdexcept>
#include <string>

#include "core/ByteReader.h"
#include "core/FourCC.h"
#include "core/TryReserve.h"
#include "riff/AviHeaderDumper.h"
#include "riff/AviIds.h"

namespace {

constexpr uint32_t kNoChunkSize = CParser::kNoChunkSize;

using avi::kIndxId;

constexpr uint32_t kTimeId = FourCC("time");
constexpr uint32_t kTcdlId = FourCC("tcdl");

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

std::string Num(uint64_t value) { return Report::NumberText(value); }

const char* SubTypeName(uint8_t subType) {
  switch (subType) {
    case 0:
      return " Default Frames";
    case 1:
      return " 2Field";
    default:
      return " (undefined)";
  }
}

std::string TypeName(uint8_t type, uint16_t longs) {
  switch (type) {
    case kIndexOfIndexes:
      return " IndexOfIndexes";
    case kIndexOfChunks:
      return std::string(" IndexOfChunks") + (longs == 2   ? " Standard Frame"
                                              : longs == 3 ? " Standard Field"
                                                           : " (undefined)");
    case kIndexOfTimedChunks:
      return " IndexOfTimedChunks";
    case kIndexOfSub2Field:
      return " IndexOfSub2Field (Unknown?]";
    case kIndexIsData:
      return std::string(" IndexIsData") + (longs == 4   ? " Timcode"
                                            : longs == 8 ? " TimcodeDiscontinuity"
                                                         : " (undefined)");
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
  const char* longsFault;    // no variant has the index's longs per entry
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
      {8, 0x1, kTcdlId, kDiscontinuityLayout, "Wrong IndexSubType for IndexOfDiscontinuedTimecode!",
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

AviOdmlIndexReader::AviOdmlIndexReader(AviParseContext& context)
    : reader_(context.reader),
      report_(context.report),
      options_(context.options),
      model_(context.model),
      findings_(context.findings) {}

void AviOdmlIndexReader::ParseSuperIndex(size_t stream, const std::vector<uint8_t>& body,
                                         int depth) {
  const OdmlIndexHeader header = ReadOdmlIndexHeader(body);
  CheckOdmlIndex(header, body, body.size(), stream, true, true, options_.report.indxTraceLimit != 0,
                 depth);
  if (stream < model_.streams.size()) {
    model_.streams[stream].counters[kIndxId].odmlEntries += header.entries;
  }
}

void AviOdmlIndexReader::HandleStandardIndex(uint32_t chunkId, uint32_t size, size_t stream,
                                             const std::vector<uint8_t>& body, uint16_t segment,
                                             uint64_t listTypePos, bool dump, int depth) {
  const OdmlIndexHeader header = ReadOdmlIndexHeader(body);
  CheckOdmlIndex(header, body, size, stream, false, dump,
                 dump && options_.report.indxTraceLimit != 0, depth);
  if (stream >= model_.streams.size()) return;
  model_.streams[stream].counters[chunkId].odmlEntries += header.entries;
  if (options_.scan.checkIndexes && header.longsPerEntry == 2) {
    RecordStandardIndexEntries(header, body, stream, segment, listTypePos);
  }
}

void AviOdmlIndexReader::RecordStandardIndexEntries(const OdmlIndexHeader& header,
                                                    const std::vector<uint8_t>& body, size_t stream,
                                                    uint16_t segment, uint64_t listTypePos) {
  std::vector<IndexEntry>& list = model_.indexMap[header.chunkId];
  ReserveStandardIndexEntries(list, header.entries, stream, listTypePos);
  // Offsets beyond 4 GiB of their list need 64 bits; in smaller files they
  // are taken modulo 2^32 as the 32-bit fields themselves are.
  const bool narrow = reader_.FileSize() <= std::numeric_limits<uint32_t>::max();
  ByteReader in(body.data(), body.size(), reader_.BigEndian());
  in.Seek(kOdmlHeaderSize);
  for (uint32_t k = 0; k < header.entries; ++k) {
    const uint32_t offset = in.U32();
    const uint32_t size = in.U32();
    // The entry names an absolute position (base offset + offset), and the
    // index may stand in any segment (some writers put every one at the end
    // of the file): the entry belongs to the list that holds the position.
    const uint64_t position = header.baseOffset + offset;
    IndexEntry entry;
    entry.standard = true;
    if (const AviMoviExtent* holder = findings_.MoviListAt(position)) {
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

void AviOdmlIndexReader::ReserveStandardIndexEntries(std::vector<IndexEntry>& list, uint64_t adding,
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
      ByteReader in(indx.data(), indx.size(), reader_.BigEndian());
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

uint64_t AviOdmlIndexReader::PeekListBodySize(uint64_t listTypePos) {
  const uint64_t fileSize = reader_.FileSize();
  if (listTypePos < 4 || listTypePos + 4 > fileSize) return 0;
  uint8_t word[4];
  if (!reader_.ReadAt(listTypePos - 4, word, 4)) return 0;
  const uint32_t size = ByteReader(word, 4, reader_.BigEndian()).U32();
  const uint64_t body = size >= 4 ? size - 4 : 0;
  return std::min(body, fileSize - listTypePos - 4);
}

AviOdmlIndexReader::OdmlIndexHeader AviOdmlIndexReader::ReadOdmlIndexHeader(
    const std::vector<uint8_t>& body) const {
  ByteReader in(body.data(), body.size(), reader_.BigEndian());
  OdmlIndexHeader h;
  h.longsPerEntry = in.U16();
  h.subType = in.U8();
  h.type = in.U8();
  h.entriesInUse = in.U32();
  h.chunkId = in.FourCC();
  ByteReader words(body.data(), body.size(), reader_.BigEndian());
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

void AviOdmlIndexReader::CheckOdmlIndex(const OdmlIndexHeader& header,
                                        const std::vector<uint8_t>& body, uint64_t declaredSize,
                                        size_t stream, bool inHeader, bool checked, bool dumped,
                                        int depth) {
  if (stream >= model_.streams.size()) {
    if (checked) report_.Message("Stream Number greater than defined Streams!", depth, kError);
    reader_.AddOverhead(body.size() + 8);
    return;
  }
  if (checked && (declaredSize % 4 != 0 || declaredSize > kMaxOdmlIndexSize)) {
    report_.Message("Wrong Index size!", depth, kError);
  }
  if (dumped) DumpOdmlIndex(header, body, depth);
  if (body.size() >= kOdmlHeaderSize) {
    reader_.AddOverhead(body.size() - kOdmlHeaderSize - header.entries * header.EntryBytes());
  }
  if (checked) CheckOdmlIndexShape(header, inHeader, depth);
}

void AviOdmlIndexReader::CheckOdmlIndexShape(const OdmlIndexHeader& h, bool inHeader, int depth) {
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

void AviOdmlIndexReader::DumpOdmlIndex(const OdmlIndexHeader& h, const std::vector<uint8_t>& body,
                                       int depth) {
  using Dumper = AviHeaderDumper;
  Dumper::FieldLine(reader_, "00 LongsPerEntry", Num(h.longsPerEntry), depth);
  Dumper::FieldLine(reader_, "02 IndexSubType", Num(h.subType), depth, SubTypeName(h.subType));
  Dumper::FieldLine(reader_, "03 IndexType", Num(h.type), depth, TypeName(h.type, h.longsPerEntry));
  Dumper::FieldLine(reader_, "04 EntriesInUse", Num(h.entriesInUse), depth);
  Dumper::FieldLine(reader_, "08 ChunkId", CParser::FourCCText(h.chunkId), depth);
  if (HasBaseOffset(h.type)) {
    Dumper::FieldLine(reader_, "12 BaseOffset", Num(h.baseOffset), depth);
    Dumper::FieldLine(reader_, "20 Reserved3", Num(h.reserved[2]), depth);
  } else {
    Dumper::FieldLine(reader_, "12 Reserved1", Num(h.reserved[0]), depth);
    Dumper::FieldLine(reader_, "16 Reserved2", Num(h.reserved[1]), depth);
    Dumper::FieldLine(reader_, "20 Reserved3", Num(h.reserved[2]), depth);
  }
  const char* fault = nullptr;
  const EntryLayout layout = LayoutOf(h.type, h.subType, h.longsPerEntry, fault);
  if (fault) report_.Message(fault, depth, kError);
  const uint64_t shown = std::min<uint64_t>(options_.report.indxTraceLimit, h.entries);
  for (uint64_t k = 0; k < shown; ++k) {
    const int inner =
        reader_.ChunkHeaderLine(0, 0, kNoChunkSize, 0, "'indx' Entry #" + Num(k), depth);
    DumpOdmlIndexEntry(h, layout, body.data() + kOdmlHeaderSize + k * h.EntryBytes(), inner);
  }
}

void AviOdmlIndexReader::DumpOdmlIndexEntry(const OdmlIndexHeader& h, int layout,
                                            const uint8_t* entry, int depth) {
  using Dumper = AviHeaderDumper;
  ByteReader in(entry, static_cast<size_t>(h.EntryBytes()), reader_.BigEndian());
  switch (layout) {
    case kSuperLayout: {
      const uint64_t offset = in.U64();
      const uint32_t size = in.U32();
      const uint32_t duration = in.U32();
      Dumper::FieldLine(reader_, "00 Offset", Num(offset), depth);
      Dumper::FieldLine(reader_, "08 Size", Num(size), depth);
      if (size > kMaxOdmlIndexSize) {
        report_.Message("Index size greater than STDINDEXSIZE!", depth, kError);
      }
      Dumper::FieldLine(reader_, "12 Duration", Num(duration), depth);
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
      Dumper::FieldLine(reader_, "00 Offset", Num(offset), depth);
      Dumper::FieldLine(reader_, "04 Size", Num(size & kSizeMask), depth, kind);
      Dumper::FieldLine(reader_, "-> Position", Num(h.baseOffset + offset), depth);
      if (layout == kFieldLayout) {
        const uint32_t second = in.U32();
        Dumper::FieldLine(reader_, "08 OffsetField2", Num(second), depth);
        Dumper::FieldLine(reader_, "-> PositionField2", Num(h.baseOffset + second), depth);
      } else if (layout == kTimedLayout) {
        Dumper::FieldLine(reader_, "08 Duration", Num(in.U32()), depth);
      }
      return;
    }
    case kTimecodeLayout: {
      Dumper::FieldLine(reader_, "00 time.FrameRate", FrameRateText(in.U16()), depth);
      Dumper::FieldLine(reader_, "02 time.FrameFract", Num(in.U16()), depth);
      Dumper::FieldLine(reader_, "04 time.Frames", Num(in.U32()), depth);
      Dumper::FieldLine(reader_, "08 SMPTEFlags", SmpteFlagsText(in.U32()), depth);
      Dumper::FieldLine(reader_, "12 User", Num(in.U32()), depth);
      return;
    }
    case kDiscontinuityLayout: {
      Dumper::FieldLine(reader_, "00 Tick", Num(in.U32()), depth);
      Dumper::FieldLine(reader_, "04 time.FrameRate", FrameRateText(in.U16()), depth);
      Dumper::FieldLine(reader_, "06 time.FrameFract", Num(in.U16()), depth);
      Dumper::FieldLine(reader_, "08 time.Frames", Num(in.U32()), depth);
      Dumper::FieldLine(reader_, "12 SMPTEFlags", SmpteFlagsText(in.U32()), depth);
      Dumper::FieldLine(reader_, "16 User", Num(in.U32()), depth);
      Dumper::FieldLine(reader_, "20 ReelId", "\"" + FixedText(in, 12) + "\"", depth);
      return;
    }
    default:
      for (uint32_t word = 0; word < h.longsPerEntry; ++word) {
        Dumper::FieldLine(reader_, TwoDigits(4 * word) + " Unknown", Num(in.U32()), depth);
      }
      return;
  }
}

bool AviOdmlIndexReader::BuildEntriesFromSuperIndex(int depth) {
  if (model_.streams.empty()) return false;
  const std::vector<uint8_t>& indx = model_.streams[0].indx;
  const OdmlIndexHeader super = ReadOdmlIndexHeader(indx);
  if (super.longsPerEntry != 4 || super.subType != 0 || super.type != kIndexOfIndexes) {
    return false;
  }
  ByteReader in(indx.data(), indx.size(), reader_.BigEndian());
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
  TryReserve(model_.movi, first + std::min(expected, reader_.FileSize() / 16));
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
    report_.Message(
        "Super Index Entries repeating a Standard Index ignored (" + Num(repeated) + ")!", depth,
        kError);
  }
  NumberSegmentsByBaseOffset(first, bases);
  return true;
}

bool AviOdmlIndexReader::FollowStandardIndex(uint64_t position,
                                             std::map<uint64_t, uint64_t>& followed,
                                             std::vector<uint64_t>& bases, int depth) {
  const uint64_t fileSize = reader_.FileSize();
  if (position > fileSize || fileSize - position < 8) {
    report_.Message("Super Index Entry Offset beyond File Size!", depth, kError);
    return true;
  }
  uint8_t head[8];
  if (!reader_.ReadAt(position, head, sizeof head)) return true;
  const uint32_t size = ByteReader(head + 4, 4, reader_.BigEndian()).U32();
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
  if (count > 0 && !reader_.ReadAt(position + 8, body.data(), count)) return true;
  const OdmlIndexHeader header = ReadOdmlIndexHeader(body);
  if (header.longsPerEntry != 2 || header.type != kIndexOfChunks) return true;
  ByteReader in(body.data(), body.size(), reader_.BigEndian());
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

void AviOdmlIndexReader::NumberSegmentsByBaseOffset(size_t first,
                                                    const std::vector<uint64_t>& bases) {
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
