#pragma once
// The parser of AVI files: RIFF forms of type `AVI `, followed by the OpenDML
// extension segments `RIFF 'AVIX'`.
//
// The first segment holds the header list `hdrl` (main header `avih`, one
// stream list `strl` per stream with its header, format, name and super
// index, the OpenDML list `odml`), the media data list `movi` and the old
// index `idx1`; later segments hold further `movi` lists. The walk fills an
// AviModel that the statistics and the writer of a repaired file read.
//
// This class walks the top level and the segment bodies and hands each part
// of a segment to the class whose job it is: the header list to
// AviHeaderListParser, the 'movi' lists to AviMoviScanner, the indexes to
// AviIdx1Reader and AviOdmlIndexReader and their entries to AviIndexMatcher,
// and the end of the file to AviStatistics. They share the reader, report,
// options, model and findings through an AviParseContext.
//
// Damaged files are the normal case: every list declares a size, and a
// sub-chunk larger than its list, a duplicate or out-of-order chunk, or a list
// that runs into the next `RIFF`, `movi` or `idx1` header is reported and
// recovered from instead of ending the parse.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "riff/AviChunkReader.h"
#include "riff/AviHeaderListParser.h"
#include "riff/AviIdx1Reader.h"
#include "riff/AviIndexMatcher.h"
#include "riff/AviModel.h"
#include "riff/AviMoviScanner.h"
#include "riff/AviOdmlIndexReader.h"
#include "riff/AviParseContext.h"
#include "riff/AviStatistics.h"
#include "riff/CRIFFParser.h"
#include "riff/DvFrameAnalyzer.h"

class CAVIParser : public CRIFFParser {
 public:
  // The first segment should stay below this size so that players without
  // OpenDML support can read it.
  static constexpr uint64_t kFirstSegmentLimit = 1073741824;
  // Garbage between top-level segments is searched this far for a chunk id.
  static constexpr uint64_t kTopLevelSearchLimit = 1024;
  static constexpr size_t kMaxStreams = AviModel::kMaxStreams;

  CAVIParser(RunOptions options, ReportOutput& output);
  ~CAVIParser() override;

  bool Parse(const std::string& sourcePath, const std::string& outputPath) override;

  const AviModel& Model() const { return model_; }

  // What a parse with an output path hands the file to once the statistics
  // are out, with the source still open (the writer of a repaired copy, which
  // lives above the parsers). False when the output could not be written
  // whole; the job then counts as failed.
  using OutputStage =
      std::function<bool(CAVIParser& parser, const std::string& outputPath, int depth)>;
  void SetOutputStage(OutputStage stage) { outputStage_ = std::move(stage); }
  // What the output stage works on.
  AviModel& MutableModel() { return model_; }
  uint32_t& ProgressCounter() { return progressCounter_; }
  bool IndexOutOfOrder() const { return context_.findings.indexOutOfOrder; }
  const DvAnalysis* FirstDvAnalysis() const { return movi_.FirstDvAnalysis(); }
  uint16_t SegmentCount() const { return segmentCounter_; }

  // A token that may start a chunk of an AVI file (see AviChunkReader).
  bool IsPlausibleChunkId(uint32_t token) const { return chunks_.IsPlausibleChunkId(token); }

 private:
  // What a segment body has shown so far, for the order checks.
  struct SegmentFlags {
    bool hdrl = false;
    bool movi = false;
    bool idx1 = false;
  };

  bool RunTopLevel(int depth);
  // A top-level `RIFF`/`RIFX` chunk, token just read.
  int HandleTopLevelSegment(uint32_t token, int depth);
  // A chunk id at top level that is not a segment; false ends the walk.
  bool HandleSpuriousChunk(uint32_t token, int depth);
  // Skips everything up to the end of the file as overhead.
  void SkipRestOfFile();

  int HandleSegment(uint32_t token, uint32_t size, uint64_t headerPos, int depth);
  // The chunks of a segment, walked by the chunk walker with a table of
  // handlers. A handler is called with the position behind the chunk's size
  // word.
  int WalkSegmentBody(uint64_t remaining, uint16_t segment, int depth);
  int HandleSegmentList(const AviSubChunk& chunk, uint64_t& remaining, int depth);
  int HandleIdx1Chunk(const AviSubChunk& chunk, uint64_t& remaining, int depth);
  // Chunks of editing and capture tools (announced and stepped over), then
  // the chunks any form may hold.
  int HandleOtherSegmentChunk(const AviSubChunk& chunk, uint64_t& remaining, int depth);
  int HandleHeaderList(const AviSubChunk& chunk, uint16_t segment, SegmentFlags& flags,
                       uint64_t& remaining, int depth);
  int HandleMoviList(const AviSubChunk& chunk, uint16_t segment, SegmentFlags& flags,
                     uint64_t& remaining, int depth);
  int HandleIdx1(const AviSubChunk& chunk, uint16_t segment, SegmentFlags& flags,
                 uint64_t& remaining, int depth);
  // After a 'movi' list or 'idx1' chunk: steps over what is left of it (or
  // hands back the rest when it ran into a following header, `result`) and
  // matches the index entries collected so far against the chunks found.
  int FinishIndexedChunk(const AviSubChunk& chunk, int result, uint64_t& remaining, int depth);

  AviModel model_;
  AviParseContext context_;
  AviChunkReader chunks_;
  AviOdmlIndexReader odmlIndex_;
  AviIdx1Reader idx1_;
  AviIndexMatcher matcher_;
  AviStatistics statistics_;
  AviMoviScanner movi_;
  AviHeaderListParser headerList_;

  OutputStage outputStage_;
  uint16_t segmentCounter_ = 0;
  // The segment being walked and what its body has shown so far.
  uint16_t segment_ = 0;
  SegmentFlags segmentFlags_;
  bool aviSegmentSeen_ = false;
};
