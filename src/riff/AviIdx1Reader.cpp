#include "riff/AviIdx1Reader.h"

#include <algorithm>
#include <map>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/ByteReader.h"
#include "core/FourCC.h"
#include "core/TryReserve.h"
#include "riff/AviHeaderDumper.h"
#include "riff/AviIds.h"

namespace {

using avi::kRecId;
using avi::kRiffId;

constexpr int kHandled = CRIFFParser::kHandled;
constexpr int kStop = CRIFFParser::kStop;
constexpr int kMetRiff = CRIFFParser::kMetRiff;
constexpr uint32_t kNoChunkSize = CParser::kNoChunkSize;
constexpr const char* kSizeMismatch = CRIFFParser::kSizeMismatch;

// 'idx1' entries: chunk id, flags, offset, length.
constexpr uint64_t kIdx1EntrySize = 16;
// Entries read per block.
constexpr uint64_t kIdx1BlockEntries = 4096;
constexpr uint32_t kListFlag = 0x1;
// With relative offsets an entry's offset is 8 below its payload's offset
// from the list type word.
constexpr int64_t kRelativeSkew = -8;

const AviHeaderDumper::FlagName kIdx1Flags[] = {
    {0x1, "'LIST'-chunk", 0}, {0x10, "KeyFrame", 0}, {0x60, "Midpart", 0},
    {0x20, "Firstpart", 0},   {0x40, "Lastpart", 0}, {0x100, "NoTime", 0},
};

std::string Num(uint64_t value) { return Report::NumberText(value); }

bool IsPaletteChangeId(uint32_t id) { return FourCCByte(id, 2) == 'p' && FourCCByte(id, 3) == 'c'; }

}  // namespace

// One 'idx1' entry as read, with its number and file position.
struct AviIdx1Reader::Idx1Entry {
  uint32_t chunkId = 0;
  uint32_t flags = 0;
  uint32_t offset = 0;
  uint32_t length = 0;
  uint64_t number = 0;    // counted from 0
  uint64_t position = 0;  // of the entry in the file
};

// The state of one 'idx1' parse.
struct AviIdx1Reader::Idx1Pass {
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

AviIdx1Reader::AviIdx1Reader(AviParseContext& context)
    : reader_(context.reader),
      report_(context.report),
      options_(context.options),
      model_(context.model),
      findings_(context.findings) {}

int AviIdx1Reader::Parse(uint32_t size, int depth) {
  if (!options_.scan.checkIndexes || options_.scan.switchXi ||
      options_.report.idx1TraceLimit == 0) {
    return kHandled;  // the caller skips the chunk unread
  }
  Idx1Pass pass;
  pass.listTypePos = findings_.moviListPosition;
  if (!model_.movi.empty() && model_.movi.front().segment == 1) {
    // The skew is found from the chunks of segment 1, whose list the first
    // chunk tells.
    const MoviEntry& first = model_.movi.front();
    pass.haveMovi = true;
    pass.firstOffset = first.offset;
    pass.listTypePos = first.payloadPosition - 8 - first.offset;
  }
  const uint64_t bodyStart = reader_.CurrentPosition();
  const uint64_t declared = size / kIdx1EntrySize;
  const uint64_t readable = std::min<uint64_t>(size, reader_.RemainingInFile()) / kIdx1EntrySize;
  ReserveIdx1Entries(readable);

  std::vector<uint8_t> block(
      static_cast<size_t>(std::min(readable, kIdx1BlockEntries) * kIdx1EntrySize));
  for (uint64_t done = 0; done < readable;) {
    const uint64_t count = std::min(readable - done, kIdx1BlockEntries);
    if (!reader_.ReadChecked(block.data(), count * kIdx1EntrySize, depth, true)) return kStop;
    for (uint64_t i = 0; i < count; ++i) {
      ByteReader in(block.data() + i * kIdx1EntrySize, kIdx1EntrySize, reader_.BigEndian());
      Idx1Entry entry;
      entry.chunkId = in.FourCC();
      entry.flags = in.U32();
      entry.offset = in.U32();
      entry.length = in.U32();
      entry.number = done + i;
      entry.position = bodyStart + entry.number * kIdx1EntrySize;
      if (HandleIdx1Entry(pass, entry, depth) == kMetRiff) {
        // The index ran into the next segment: the walk resumes there.
        const uint64_t back = reader_.CurrentPosition() - entry.position;
        return reader_.Skip(-static_cast<int64_t>(back), true) ? kMetRiff : kStop;
      }
    }
    done += count;
  }
  if (readable < declared) {
    // The file ends inside the index: the next entry cannot be read.
    uint8_t partial[kIdx1EntrySize];
    reader_.ReadChecked(partial, kIdx1EntrySize, depth, true);
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

void AviIdx1Reader::ReserveIdx1Entries(uint64_t entries) {
  // A first look at the entries: how many each chunk id gets, up to a
  // 'RIFF' header the index may run into, so that every list is reserved once.
  std::map<uint32_t, uint64_t> counts;
  std::vector<uint8_t> block(
      static_cast<size_t>(std::min(entries, kIdx1BlockEntries) * kIdx1EntrySize));
  const uint64_t bodyStart = reader_.CurrentPosition();
  const uint64_t recorded = options_.scan.moviParseLimit == 0
                                ? entries
                                : std::min<uint64_t>(entries, options_.scan.moviParseLimit);
  bool cut = false;
  for (uint64_t done = 0; done < recorded && !cut;) {
    const uint64_t count = std::min(recorded - done, kIdx1BlockEntries);
    if (!reader_.ReadAt(bodyStart + done * kIdx1EntrySize, block.data(), count * kIdx1EntrySize))
      break;
    for (uint64_t i = 0; i < count; ++i) {
      ByteReader in(block.data() + i * kIdx1EntrySize, kIdx1EntrySize, reader_.BigEndian());
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

int AviIdx1Reader::HandleIdx1Entry(Idx1Pass& pass, const Idx1Entry& entry, int depth) {
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

void AviIdx1Reader::DetectIdx1Skew(Idx1Pass& pass, const Idx1Entry& entry) {
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

void AviIdx1Reader::CheckIdx1Entry(Idx1Pass& pass, const Idx1Entry& entry, bool& headerShown,
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

void AviIdx1Reader::CountIdx1Entry(const Idx1Entry& entry) {
  const int stream = model_.StreamNumber(entry.chunkId);
  if (stream < 0) return;
  ChunkTypeCounters& counters = model_.streams[static_cast<size_t>(stream)].counters[entry.chunkId];
  ++counters.idx1Entries;
  if (entry.flags & kKeyFrameFlag) ++counters.idx1KeyFrames;
  if (entry.length == 0) {
    ++counters.zeroSize;
    ++findings_.idx1ZeroLength[static_cast<uint64_t>(stream) << 32 | entry.chunkId];
  }
}

void AviIdx1Reader::RecordIdx1Entry(Idx1Pass& pass, const Idx1Entry& entry) {
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

int AviIdx1Reader::Idx1EntryLine(const Idx1Entry& entry, int depth) {
  return reader_.ChunkHeaderLine(0, 0, kNoChunkSize, entry.position,
                                 "'idx1' Entry #" + Num(entry.number), depth);
}

void AviIdx1Reader::ShowIdx1Entry(const Idx1Pass& pass, const Idx1Entry& entry, int depth) {
  using Dumper = AviHeaderDumper;
  const int inner = Idx1EntryLine(entry, depth);
  Dumper::FieldLine(reader_, "00 ckid", CParser::FourCCText(entry.chunkId), inner);
  Dumper::FieldLine(reader_, "04 Flags", Dumper::HexText(entry.flags, 8), inner);
  Dumper::FlagLines(reader_, kIdx1Flags, sizeof kIdx1Flags / sizeof kIdx1Flags[0], entry.flags,
                    inner + 1);
  Dumper::FieldLine(reader_, "08 ChunkOffset", Num(entry.offset), inner);
  Dumper::FieldLine(reader_, "12 ChunkLength", Num(entry.length), inner);
  // The header's position: the offset plus the base the skew stands for.
  const uint64_t base = pass.listTypePos - 8 - static_cast<uint64_t>(pass.skew);
  Dumper::FieldLine(reader_, "-> Position", Num(entry.offset + base), inner);
}
