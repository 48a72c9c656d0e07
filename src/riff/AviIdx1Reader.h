#pragma once
// The AVI 1.0 index `idx1`: 16 bytes per chunk (id, flags, offset, length)
// behind the first 'movi' list. Most writers count the offsets from the
// 'movi' list type word, some from the start of the file; which one is found
// out from the chunks the scan found (the skew). Each entry is dumped within
// the trace limit, checked, counted per stream and chunk id, and recorded as
// an IndexEntry for the index matcher.

#include <cstdint>

#include "riff/AviParseContext.h"

class AviIdx1Reader {
 public:
  explicit AviIdx1Reader(AviParseContext& context);

  // The `idx1` chunk of `size` bytes, position behind its size word. Returns
  // kHandled (the position may still stand inside the chunk, whose rest the
  // caller skips), kStop, or kMetRiff (position on that header).
  int Parse(uint32_t size, int depth);

 private:
  struct Idx1Entry;
  struct Idx1Pass;

  // Reserves the IndexEntry lists for the `entries` entries of the 'idx1'
  // body at the current position (read ahead, the position is kept).
  void ReserveIdx1Entries(uint64_t entries);
  int HandleIdx1Entry(Idx1Pass& pass, const Idx1Entry& entry, int depth);
  void DetectIdx1Skew(Idx1Pass& pass, const Idx1Entry& entry);
  void CheckIdx1Entry(Idx1Pass& pass, const Idx1Entry& entry, bool& headerShown, int depth);
  void CountIdx1Entry(const Idx1Entry& entry);
  void RecordIdx1Entry(Idx1Pass& pass, const Idx1Entry& entry);
  void ShowIdx1Entry(const Idx1Pass& pass, const Idx1Entry& entry, int depth);
  int Idx1EntryLine(const Idx1Entry& entry, int depth);

  CRIFFParser& reader_;
  const Report& report_;
  const RunOptions& options_;
  AviModel& model_;
  AviFindings& findings_;
};
