#pragma once
// The chunks of an AVI file once the chunk walker has read their headers:
// reading or stepping over a body and its pad byte, header lines and the
// chunks that are only announced; and telling a plausible chunk id from
// garbage and searching damaged data for the next one. The segment walk,
// the header lists and the 'movi' scan share it.

#include <cstdint>
#include <string>
#include <vector>

#include "riff/AviParseContext.h"

// One chunk header inside a list: where it starts and what it declares.
using AviSubChunk = CRIFFParser::ChunkHeader;

class AviChunkReader {
 public:
  explicit AviChunkReader(AviParseContext& context);

  // Whether `result` says that a list ran into a `RIFF`, `movi` or `idx1`
  // header (the position is back on it).
  static bool IsMetCode(int result);
  // `LIST`, or its byte-reversed spelling that some writers use.
  static bool IsListToken(uint32_t token);

  // A token that may start a chunk of an AVI file: `LIST`, `JUNK`, `RIFF`,
  // `rec `, `idx1`; ids ending in "__"; and the stream chunk ids `##xx`
  // (two letters), `##32` and `xx##`, whose digits must name a stream of the
  // model.
  bool IsPlausibleChunkId(uint32_t token) const;
  // The four bytes at `position` as a token, the position kept; false
  // (silently) when the file ends first.
  bool PeekToken(uint64_t position, uint32_t& token);
  // Whether a plausible chunk id stands at `position` (not consumed).
  bool PlausibleChunkAt(uint64_t position);
  // Whether the token at `position` (not consumed) is a chunk of one of the
  // streams: after the declared end of a 'movi' list that means the list
  // really goes on.
  bool StreamChunkAt(uint64_t position);
  // Whether the pad byte behind an odd-sized chunk ending at `end` is to be
  // taken: `expected` by the alignment rule, unless only the other choice
  // leads to a plausible chunk header.
  bool TakePadByte(uint64_t end, bool expected);

  // A size word as stored, without the check against the file size.
  bool ReadRawSize(uint32_t& size, int depth);
  // After a walk that stopped at a header inside the chunk: the bytes of the
  // chunk behind the position belong to the enclosing list again.
  void GiveBackRest(const AviSubChunk& chunk, uint64_t& remaining);
  // The bytes of a list behind its type word, pad byte included where the
  // file has it.
  uint64_t ListBodySize(const AviSubChunk& chunk);
  // Reads the rest of the chunk body (at most `limit` bytes) into `body`;
  // the bytes must lie within the file, which is checked before anything is
  // allocated. False (reported) when the file ends first.
  bool ReadChunkBody(const AviSubChunk& chunk, std::vector<uint8_t>& body, uint64_t limit,
                     int depth);
  // Moves to the end of the chunk, showing the skipped bytes at `depth` (0:
  // silently), and over its pad byte when the file has it. False when the
  // file ends inside the body.
  bool FinishChunk(const AviSubChunk& chunk, int depth);
  // Whether an odd-sized chunk whose body was read to its end has no pad
  // byte behind it, though the file is word aligned.
  bool OmitsPadByte(const AviSubChunk& chunk);
  // A chunk header line, an optional "Unexpected Token!" warning, and the
  // rest of the body skipped.
  int SkipNamedChunk(const AviSubChunk& chunk, uint32_t listType, const char* name, bool warn,
                     int depth);
  // A list whose type has just been read, walked by the generic list walker.
  int WalkGenericList(const AviSubChunk& chunk, uint32_t listType, const std::string& name,
                      bool warn, int depth);
  // A chunk any RIFF form may hold (JUNK, INFO texts, ...) or, failing that,
  // a header line, the warning and a skip.
  int HandleOtherChunk(const AviSubChunk& chunk, int depth);
  int ChunkLine(const AviSubChunk& chunk, uint32_t listType, const std::string& name, int depth);

  // Searches up to `limit` bytes from the current position (after a bad
  // token) for a plausible chunk id, in blocks. `consumed` counts the bytes
  // of the enclosing area read so far; when it exceeds 6 the search starts 7
  // bytes back so that an id overlapping the bad token is found. True with
  // the position right behind the id found, which is returned in `token`;
  // false with the position at the end of the searched range. The bytes
  // passed over count as overhead and are added to `consumed`.
  bool RecoverGarbledData(int depth, uint64_t limit, uint32_t& token, uint64_t& consumed);
  // The search of the garbled-data recovery over [start, end) (cut to the
  // file): the first plausible chunk id whose last byte lies behind
  // `minimumEnd` and that does not end at `failedTokenEnd` (the token that
  // failed is never found again). Prints "Garbled Data found!" and then
  // "Recovered (S:Offset)" or "Unrecoverable"; counts the bytes passed over as
  // overhead. True with the position right behind the id found.
  bool SearchChunkId(int depth, uint64_t start, uint64_t end, uint64_t failedTokenEnd,
                     uint64_t minimumEnd, uint32_t& token);

 private:
  CRIFFParser& reader_;
  const Report& report_;
  const AviModel& model_;
  uint32_t& progress_;
};
