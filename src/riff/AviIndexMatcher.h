#pragma once
// Matches the index entries collected so far ('idx1', standard indexes)
// against the chunks the 'movi' scan found. The key-frame flags the writer
// needs come from there, a doubtful chunk an entry names exactly is
// confirmed, and every entry that does not describe a chunk really present
// is reported (and listed, with what was wrong, from verbosity 3 on).

#include <cstddef>
#include <string>
#include <vector>

#include "riff/AviParseContext.h"

class AviIndexMatcher {
 public:
  explicit AviIndexMatcher(AviParseContext& context);

  // Matches and then drops the index entries of the model (with
  // checkIndexes; otherwise nothing happens).
  void Assign(int depth);

 private:
  struct AssignPass;

  void CheckIndexOrder(uint32_t chunkId, std::vector<IndexEntry>& entries, int depth);
  void MatchIndexEntries(AssignPass& pass, std::vector<IndexEntry>& entries);
  void MatchIndexEntry(AssignPass& pass, size_t index, IndexEntry& entry, size_t& cursor);
  void AddIndexNote(AssignPass& pass, size_t index, IndexEntry& entry, const std::string& text);
  void ReportUnmatchedEntries(const AssignPass& pass, const std::vector<IndexEntry>& entries,
                              int depth);
  void DumpIndexEntry(const IndexEntry& entry, size_t index, const std::vector<std::string>* notes,
                      int depth);

  CRIFFParser& reader_;
  const Report& report_;
  const RunOptions& options_;
  AviModel& model_;
  AviFindings& findings_;
  uint32_t& progress_;
};
