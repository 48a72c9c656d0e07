#pragma once
// The statistics and consistency report printed after the last segment: what
// the 'movi' scan and the indexes found, set against what the headers claim.
// The scan notes the order of the chunks here as it meets them (the entries
// themselves are kept only for an index check or a repair), so that the
// statistics say the same with and without them.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "riff/AviParseContext.h"

class AviStatistics {
 public:
  explicit AviStatistics(AviParseContext& context);

  // Notes the next chunk of the 'movi' order: its stream's number (-1 for
  // none), id and segment. A chunk made by a conversion (`made`) takes part
  // in the interleaving only, not in the counts of the source's chunks.
  void NoteChunkOrder(int stream, uint32_t id, uint16_t segment, bool made = false);
  // The statistics and consistency checks; sets the initial frames of the
  // streams and the interleaved flag of the model.
  void Run(int depth);

 private:
  struct StreamFacts;
  struct FrameSpan {
    static constexpr uint64_t kNone = ~uint64_t{0};
    uint64_t first = kNone;        // the number of the stream's first frame
    uint64_t last = kNone;         // ... and of its last
    uint64_t otherBehind = kNone;  // the other stream's first frame behind `first`
  };
  struct ChunkOrder {
    bool started = false;
    uint64_t entries = 0;  // data chunks met
    // Per stream that is no video: its chunks before the first video frame
    // (the lead a writer states as the stream's initial frames).
    std::vector<uint64_t> ahead;
    std::vector<bool> isVideo;  // per stream, from its header
    bool videoSeen = false;
    std::vector<uint64_t> firstSegmentFrames;  // per stream: frames in segment 1
    int video = -1;                            // the first video and audio stream
    int audio = -1;
    FrameSpan videoSpan;
    FrameSpan audioSpan;
  };

  // Stream `stream` of the statistics: those of the file, then those a
  // conversion adds.
  const AviStream& StreamAt(size_t stream) const;
  AviStreamHeader HeaderAt(size_t stream) const;
  void DetectInitialFrames();
  // Sets model.interleaved; false when the file has no audio and video
  // stream of more than one frame each, so that interleaving says nothing.
  bool DetectInterleaving(const StreamFacts& facts);
  void ReportOverhead(int depth);
  void ReportInterleaving(bool decidable, int depth);
  void ReportIndexOrder(int depth);
  void ReportStream(size_t stream, StreamFacts& facts, int depth);
  void ReportOdmlConsistency(size_t stream, int depth);
  void ReportVideoStream(size_t stream, StreamFacts& facts, int depth);
  void ReportAudioStream(size_t stream, StreamFacts& facts, int depth);
  void ReportChunkTable(size_t stream, int depth);
  void ReportFrameSize(size_t stream, int depth);

  CRIFFParser& reader_;
  const Report& report_;
  const RunOptions& options_;
  AviModel& model_;
  AviFindings& findings_;
  ChunkOrder chunkOrder_;
};
