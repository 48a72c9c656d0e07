#pragma once
// The header list `hdrl` of the first segment: the main header `avih`, one
// stream list `strl` per stream (stream header, format, codec data, name,
// video properties and super index `indx`) and the OpenDML list `odml` with
// its extended header `dmlh`. The headers go into the model as read; their
// dumps and checks are the AviHeaderDumper's, the super index is handed to
// the OpenDML index reader.
//
// A list that declared too large a size runs into the `movi` list, the
// `idx1` chunk or the next segment: the walk then stops on that header and
// says so with a kMet code, so that the segment walk goes on from there.

#include <cstddef>
#include <cstdint>

#include "riff/AviChunkReader.h"
#include "riff/AviParseContext.h"

class AviOdmlIndexReader;

class AviHeaderListParser {
 public:
  AviHeaderListParser(AviParseContext& context, AviChunkReader& chunks,
                      AviOdmlIndexReader& odmlIndex);

  // The body of the header list `list`, its type word just read: kHandled,
  // kStop, or a kMet code with the position back on the header met.
  int Walk(const AviSubChunk& list, int depth);

 private:
  // What a stream list has shown so far.
  struct StreamListFlags {
    bool strh = false;
    bool strd = false;
    bool strn = false;
    bool vprp = false;
    size_t stream = 0;  // its number in the model
  };

  // The rules of the lists walked here.
  CRIFFParser::ListRules ListRules() const;

  // The lists, walked by the chunk walker with a table of handlers each.
  // A handler is called with the position behind the chunk's size word.
  int WalkHeaderList(uint64_t remaining, int depth);
  int WalkStreamList(uint64_t remaining, int depth);
  int WalkOdmlList(uint64_t remaining, int depth);
  // Looks over the header list body [begin, end) without walking it: the
  // stream types of its stream headers and whether it holds an OpenDML list.
  void LookAheadAtHeaderList(uint64_t begin, uint64_t end);
  // The type of the stream header in the stream list body [begin, end), or 0.
  uint32_t StreamTypeIn(uint64_t begin, uint64_t end);

  // In the header list. A list there (its type still to be read): a stream
  // list, the OpenDML list, INFO, or one that is not expected.
  int HandleHeaderSubList(const AviSubChunk& chunk, uint64_t& remaining, int depth);
  int HandleMainHeader(const AviSubChunk& chunk, uint64_t& remaining, int depth);
  int HandleStreamList(const AviSubChunk& chunk, int depth);
  int HandleOdmlList(const AviSubChunk& chunk, int depth);
  // Chunks of editing and capture tools (announced and stepped over), then
  // the chunks any form may hold.
  int HandleOtherChunk(const AviSubChunk& chunk, uint64_t& remaining, int depth);

  // In the OpenDML list, whose first chunk should be its extended header.
  int HandleExtendedHeader(const AviSubChunk& chunk, uint64_t& remaining, int depth);
  int HandleOdmlChunk(const AviSubChunk& chunk, uint64_t& remaining, int depth);

  // In a stream list.
  int HandleStreamHeader(const AviSubChunk& chunk, uint64_t& remaining, int depth);
  int HandleStreamFormat(const AviSubChunk& chunk, uint64_t& remaining, int depth);
  // `strd`, `strn` and `vprp`: at most one of each per stream.
  int HandleOptionalStreamChunk(const AviSubChunk& chunk, uint64_t& remaining, int depth);
  int HandleStreamIndex(const AviSubChunk& chunk, uint64_t& remaining, int depth);
  int HandleStreamJunk(const AviSubChunk& chunk, uint64_t& remaining, int depth);
  // Chunks of editing and capture tools, then chunks a stream list should
  // not hold.
  int HandleUnexpectedStreamChunk(const AviSubChunk& chunk, uint64_t& remaining, int depth);

  uint32_t MainHeaderStreams() const;

  CRIFFParser& reader_;
  const Report& report_;
  const RunOptions& options_;
  AviModel& model_;
  AviChunkReader& chunks_;
  AviOdmlIndexReader& odmlIndex_;

  uint32_t streamListCount_ = 0;  // stream lists met in the header list
  bool odmlListSeen_ = false;
  bool odmlFirst_ = true;   // no chunk of the OpenDML list met yet
  StreamListFlags stream_;  // the stream list being walked
};
