#include "riff/AviIndexMatcher.h"

#include <algorithm>
#include <map>

#include "riff/AviHeaderDumper.h"
#include "riff/AviIds.h"

namespace {

using avi::kMustUseIndexFlag;

constexpr uint32_t kNoChunkSize = CParser::kNoChunkSize;

// Matching: the position of a 'movi' chunk as one number, segment first,
// so that the list's order is the numbers' order.
constexpr unsigned kReachSegmentShift = 40;
constexpr uint64_t kReachPositionMask = (uint64_t{1} << kReachSegmentShift) - 1;

// What an IndexEntry's note points to once something was wrong with it; the
// texts themselves are kept by the assignment run for the listing.
const char kEntryNoted[] = "mismatch";

std::string Num(uint64_t value) { return Report::NumberText(value); }

// A standard index names the chunks of one stream by the single id of its
// header; in a video stream that covers the frames and the palette changes
// alike ('##dc', '##db', '##pc'). 'idx1' names each chunk by its own id.
bool IsVideoPayloadId(uint32_t id) {
  const char first = static_cast<char>(FourCCByte(id, 2));
  const char second = static_cast<char>(FourCCByte(id, 3));
  return (first == 'd' && (second == 'c' || second == 'b')) || (first == 'p' && second == 'c');
}

bool EntryTypeMatches(const IndexEntry& entry, uint32_t entryId, uint32_t chunkId) {
  if (entryId == chunkId) return true;
  return entry.standard && FourCCByte(entryId, 0) == FourCCByte(chunkId, 0) &&
         FourCCByte(entryId, 1) == FourCCByte(chunkId, 1) && IsVideoPayloadId(entryId) &&
         IsVideoPayloadId(chunkId);
}

uint64_t ReachKey(uint16_t segment, uint64_t position) {
  return static_cast<uint64_t>(segment) << kReachSegmentShift |
         std::min(position, kReachPositionMask);
}

}  // namespace

// The state of one assignment run.
struct AviIndexMatcher::AssignPass {
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

AviIndexMatcher::AviIndexMatcher(AviParseContext& context)
    : reader_(context.reader),
      report_(context.report),
      options_(context.options),
      model_(context.model),
      findings_(context.findings),
      progress_(context.progress) {}

void AviIndexMatcher::Assign(int depth) {
  if (!options_.scan.checkIndexes) return;
  const int inner =
      reader_.ChunkHeaderLine(0, 0, kNoChunkSize, 0, "Assign Index to 'movi'-Entries", depth);
  for (auto& keyed : model_.indexMap) {
    if (options_.report.verbosity > 2) {
      report_.PlainLine(
          CParser::FourCCText(keyed.first) + ": " + Num(keyed.second.size()) + " Index Entries",
          inner);
    }
    CheckIndexOrder(keyed.first, keyed.second, inner);
  }
  AssignPass pass;
  const bool mustUseIndex = (model_.MainHeader().flags & kMustUseIndexFlag) != 0;
  pass.restart = findings_.indexOutOfOrder || mustUseIndex;
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

void AviIndexMatcher::CheckIndexOrder(uint32_t chunkId, std::vector<IndexEntry>& entries,
                                      int depth) {
  for (size_t i = 1; i < entries.size(); ++i) {
    // The standard indexes of several segments may stand together: the
    // order is that of the segments first.
    const IndexEntry& before = entries[i - 1];
    if (ReachKey(entries[i].segment, entries[i].offset) > ReachKey(before.segment, before.offset)) {
      continue;
    }
    findings_.indexOutOfOrder = true;
    const bool mustUseIndex = (model_.MainHeader().flags & kMustUseIndexFlag) != 0;
    report_.Message("Index Sequence out of order (" + CParser::FourCCText(chunkId) + ")!", depth,
                    mustUseIndex ? kInfo : kError);
    const size_t end = std::min(entries.size(), i + 2);
    for (size_t k = i - 1; k < end; ++k) DumpIndexEntry(entries[k], k, nullptr, depth + 1);
    return;
  }
}

void AviIndexMatcher::MatchIndexEntries(AssignPass& pass, std::vector<IndexEntry>& entries) {
  size_t cursor = 0;
  for (size_t i = 0; i < entries.size(); ++i) {
    report_.ProgressTick(progress_);
    MatchIndexEntry(pass, i, entries[i], cursor);
  }
}

void AviIndexMatcher::MatchIndexEntry(AssignPass& pass, size_t index, IndexEntry& e,
                                      size_t& cursor) {
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
      if (!EntryTypeMatches(e, pass.chunkId, m.chunkId)) {
        AddIndexNote(pass, index, e,
                     "Entry Type (" + CParser::FourCCText(pass.chunkId) +
                         ") mismatches 'movi' Type (" + CParser::FourCCText(m.chunkId) + ")!");
      }
      if (e.size != m.size && !findings_.indexInsideChunks) {
        AddIndexNote(
            pass, index, e,
            "Entry Size (" + Num(e.size) + ") mismatches 'movi' Size (" + Num(m.size) + ")!");
      }
      return;
    }
    if (m.chunkId != pass.chunkId) continue;
    const uint64_t payloadEnd = m.offset + 8 + m.size;
    if (e.offset > m.offset + 8 && e.offset <= payloadEnd && e.size <= payloadEnd - e.offset) {
      // Several frames stored in one chunk (low-overhead files).
      findings_.indexInsideChunks = true;
      ++e.assignments;
      return;
    }
    if (e.offset < m.offset + m.size) {
      AddIndexNote(pass, index, e,
                   "Entry Pos/Size (" + Num(e.offset) + "/" + Num(e.size) +
                       ") mismatches 'movi' Pos/Size (" + Num(m.offset) + "/" + Num(m.size) + ")!");
      return;
    }
  }
}

void AviIndexMatcher::AddIndexNote(AssignPass& pass, size_t index, IndexEntry& entry,
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

void AviIndexMatcher::ReportUnmatchedEntries(const AssignPass& pass,
                                             const std::vector<IndexEntry>& entries, int depth) {
  bool reported = false;
  size_t listed = 0;
  for (size_t i = 0; i < entries.size(); ++i) {
    const IndexEntry& entry = entries[i];
    if (entry.assignments == 1 && entry.note == nullptr) continue;
    if (!reported) {
      report_.Message("Not all Index Entries matched a 'movi' Entry (" +
                          CParser::FourCCText(pass.chunkId) + ")!",
                      depth, kError);
      reported = true;
    }
    if (options_.report.verbosity <= 2 || listed >= pass.noteLimit) return;
    const auto notes = pass.notes.find(i);
    DumpIndexEntry(entry, i, notes == pass.notes.end() ? nullptr : &notes->second, depth + 1);
    ++listed;
  }
}

void AviIndexMatcher::DumpIndexEntry(const IndexEntry& entry, size_t index,
                                     const std::vector<std::string>* notes, int depth) {
  using Dumper = AviHeaderDumper;
  const int inner =
      reader_.ChunkHeaderLine(0, 0, kNoChunkSize, 0, "Index Entry #" + Num(index), depth);
  Dumper::FieldLine(reader_, "assigned",
                    Num(entry.assignments) + ", flags: " + Dumper::HexText(entry.flags, 8), inner);
  Dumper::FieldLine(reader_, "Segment", Num(entry.segment), inner);
  Dumper::FieldLine(reader_, "Offset", Num(entry.offset), inner);
  Dumper::FieldLine(reader_, "Size", Num(entry.size), inner);
  Dumper::FieldLine(reader_, "Position", Num(entry.payloadPosition), inner);
  if (notes) {
    for (const std::string& note : *notes) report_.PlainLine(note, inner);
  }
  if (entry.assignments == 0) report_.Message("Entry not assigned!", inner, kWarning);
  if (entry.assignments > 1) report_.Message("Entry assigned more than once!", inner, kError);
}
