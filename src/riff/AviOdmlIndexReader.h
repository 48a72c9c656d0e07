#pragma once
// The OpenDML indexes of an AVI file. They come in two levels: a super index
// (`indx`) in each stream list pointing to standard indexes (`ix##` chunks)
// inside the 'movi' lists, each holding the payload offsets of one stream's
// chunks relative to a base offset. Both share a 24-byte header; this reads,
// checks and dumps them, counts their entries, and turns the entries of
// standard indexes into IndexEntry records for the index matcher. With
// switchXi the frame list is built from the standard indexes instead of a
// scan.

#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

#include "riff/AviParseContext.h"

class AviOdmlIndexReader {
 public:
  explicit AviOdmlIndexReader(AviParseContext& context);

  // Dumps and checks the super index of stream `stream`, already read into the
  // model (its `indx` body).
  void ParseSuperIndex(size_t stream, const std::vector<uint8_t>& body, int depth);
  // A standard index chunk (`ix##`, or `##ix`) of `size` bytes met in a 'movi'
  // list, its body read whole (bounded by the list and the file); `stream` is
  // the stream its digits name. Dumps and checks it when `dump` is set (within
  // the trace limit), counts its entries in use under the chunk id, and with
  // checkIndexes records its entries as IndexEntry. `listTypePos` is the
  // position of the enclosing 'movi' list type word.
  void HandleStandardIndex(uint32_t chunkId, uint32_t size, size_t stream,
                           const std::vector<uint8_t>& body, uint16_t segment, uint64_t listTypePos,
                           bool dump, int depth);
  // With switchXi: fills the MoviEntry list from the standard indexes that the
  // first stream's super index points to. False (nothing changed) when that
  // super index is not usable; then the list is scanned as usual.
  bool BuildEntriesFromSuperIndex(int depth);

 private:
  // The header shared by 'indx' and 'ix##' chunks, read from the body.
  struct OdmlIndexHeader {
    uint16_t longsPerEntry = 0;
    uint8_t subType = 0;
    uint8_t type = 0;
    uint32_t entriesInUse = 0;
    uint32_t chunkId = 0;
    uint64_t baseOffset = 0;           // bytes 12..19 (standard indexes)
    uint32_t reserved[3] = {0, 0, 0};  // bytes 12..23 as words (other indexes)
    uint32_t entries = 0;              // entries in use the body really holds
    uint64_t EntryBytes() const { return uint64_t{4} * longsPerEntry; }
  };

  OdmlIndexHeader ReadOdmlIndexHeader(const std::vector<uint8_t>& body) const;
  // The checks shared by super and standard indexes: stream, size, shape;
  // the dump when `dumped`; the unused part counted as overhead. Messages only
  // when `checked`.
  void CheckOdmlIndex(const OdmlIndexHeader& header, const std::vector<uint8_t>& body,
                      uint64_t declaredSize, size_t stream, bool inHeader, bool checked,
                      bool dumped, int depth);
  void CheckOdmlIndexShape(const OdmlIndexHeader& header, bool inHeader, int depth);
  void DumpOdmlIndex(const OdmlIndexHeader& header, const std::vector<uint8_t>& body, int depth);
  void DumpOdmlIndexEntry(const OdmlIndexHeader& header, int layout, const uint8_t* entry,
                          int depth);
  // The entries of a standard index of 2 longs per entry as IndexEntry.
  void RecordStandardIndexEntries(const OdmlIndexHeader& header, const std::vector<uint8_t>& body,
                                  size_t stream, uint16_t segment, uint64_t listTypePos);
  void ReserveStandardIndexEntries(std::vector<IndexEntry>& entries, uint64_t adding, size_t stream,
                                   uint64_t listTypePos);
  // The bytes behind the type word of the list whose type word is at
  // `listTypePos`, read from its size word (the position is kept).
  uint64_t PeekListBodySize(uint64_t listTypePos);
  // switchXi: the MoviEntry records of the standard index the super index
  // points to at `position`; false when that chunk overlaps one already read
  // (recorded in `followed`, start to end). The base offset of each entry
  // made is added to `bases`.
  bool FollowStandardIndex(uint64_t position, std::map<uint64_t, uint64_t>& followed,
                           std::vector<uint64_t>& bases, int depth);
  void NumberSegmentsByBaseOffset(size_t first, const std::vector<uint64_t>& bases);

  CRIFFParser& reader_;
  const Report& report_;
  const RunOptions& options_;
  AviModel& model_;
  AviFindings& findings_;
};
