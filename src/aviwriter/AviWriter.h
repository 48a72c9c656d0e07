#pragma once
// Writes a new AVI file from the model a parse has filled: the streams that
// are kept, their chunks in the order the 'movi' scan found them, new headers
// whose lengths, rates and buffer sizes are recomputed from what was written,
// OpenDML 1.02 indexes ('indx' super indexes in the stream lists, 'ix##'
// standard indexes inside 'movi') and on request a version 1.0 'idx1' index.
// A file that passes the 'movi' size limit goes on in 'AVIX' segments; with a
// split size the output is spread over numbered files (name.00.avi, ...).
//
// Layout of one file (OpenDML on):
//   RIFF 'AVI '  LIST 'hdrl' (avih, one LIST 'strl' per stream with strh,
//                strf, strd, indx; LIST 'odml' with dmlh)
//                LIST 'movi' (ix## placeholders and data chunks)  [idx1]
//   RIFF 'AVIX'  LIST 'movi' ...                                  (further segments)
// The header area is reserved first and written last, once the lengths are
// known; each 'ix##' place is reserved in 'movi' before the chunks it indexes
// and filled when they are written, so no data ever has to move.
//
// All output goes through the parser's I/O service (its single write in
// flight and its refusal to overwrite the input file).

#include <cstdint>
#include <string>
#include <vector>

#include "aviwriter/ChunkCopier.h"
#include "aviwriter/StreamIndexRecord.h"
#include "core/CIOService.h"
#include "core/Report.h"
#include "core/RunOptions.h"
#include "riff/AviModel.h"
#include "riff/DvFrameAnalyzer.h"

class CAVIParser;

class AviWriter {
 public:
  // Chunks a standard index holds, and standard indexes a super index holds:
  // both index chunks have a fixed size of 16384 bytes.
  static constexpr uint32_t kStandardIndexEntries = 2044;
  static constexpr uint32_t kSuperIndexEntries = 1022;
  static constexpr uint32_t kIndexChunkSize = 16384;
  // The largest projected segment size for which every 32-bit size and offset
  // of the segment (RIFF, 'movi' list, standard index offsets) still fits.
  static constexpr uint64_t kMaxSegmentSize = 0xFFFFFFFFull - 64;

  // What the parse learnt besides the model.
  struct SourceFacts {
    bool indexOutOfOrder = false;           // an index lists frames out of file order
    const DvAnalysis* dvAnalysis = nullptr;  // the first DV frame's analysis, if any
  };

  // `io` holds the source open for reading and takes the output; the report
  // lines go to `report`.
  AviWriter(CIOService& io, const RunOptions& options, const Report& report, AviModel& model,
            uint32_t& progressCounter, SourceFacts facts);

  // Makes `parser` hand every file it parses with an output path to a
  // writer, once the statistics are out and with the source still open.
  static void AttachTo(CAVIParser& parser);

  // Erases the streams that are not written, then writes the output file(s).
  // False when nothing or not everything could be written.
  bool Write(const std::string& outputName, int depth);

 private:
  enum class SegmentResult { kFinished, kSegmentFull, kFileFull, kFailed };

  // What was written of one stream to the current file.
  struct StreamTally {
    uint32_t frames = 0;         // chunks, palette changes not counted
    uint64_t bytes = 0;          // payload bytes
    uint32_t largestChunk = 0;
    // Its chunks written before the file's first video frame: how far an
    // interleaved file has it lead the video (an audio preload).
    uint32_t initialFrames = 0;
  };
  // The headers phase 2 writes.
  struct FinalHeaders {
    AviMainHeader main;
    std::vector<AviStreamHeader> headers;
    std::vector<std::vector<uint8_t>> formats;
  };
  // The last chunk written, for the trace line at the end of a segment.
  struct WrittenChunk {
    uint32_t chunkId = 0;
    uint32_t size = 0;
    uint64_t position = 0;
  };

  // The padded layout lets the 'movi' data begin on a multiple of this.
  static constexpr uint64_t kPaddedAlignment = 2048;

  // Chunks that count as frames of their stream: not indexes, not palette
  // changes.
  static bool CountsAsFrame(uint32_t chunkId);

  // --- before the first file, and the loop over files (AviWriter.cpp) ---
  void NormaliseHeaders();
  std::vector<bool> StreamsToErase() const;
  void EraseStreams(int depth);
  void RenumberEntries(const std::vector<int>& newNumbers);
  void ChooseIndexChunkIds();
  void CapSegmentLimit(int depth);
  bool RunDriver(int depth);
  // The name of output file `file`; an Error when a split name cannot be made.
  bool OutputName(uint32_t file, std::string& name, int depth) const;
  bool CheckBeforeFile(int depth) const;
  void PrepareFile();
  void CheckCut(int depth) const;
  // Writes the header and the segments of one file and closes it; `more` is
  // set when the next file is to follow.
  bool WriteSegments(int depth, bool& more);
  bool CloseFile();
  void ReportFailure(int depth);

  // --- stream headers and formats (AviWriterStreams.cpp) ---
  bool IsVideo(size_t stream) const;
  void FixStreamHeaders();
  void ConvertToInterleavedDv(AviStream& stream, AviStreamHeader& header,
                              const AviMainHeader& main);
  void ConvertToVideoDv(AviStream& stream, AviStreamHeader& header, const AviMainHeader& main);
  // True for the 625-line 50 Hz DV system; `dvInfo` is the stream's DV info
  // structure when it has one.
  bool IsPalDv(const std::vector<uint8_t>& dvInfo, const AviStreamHeader& header,
               const AviMainHeader& main) const;
  std::vector<uint8_t> DvInfoFormat(bool pal) const;
  void FixVideoFormat(AviStream& stream, AviStreamHeader& header, AviMainHeader& main);
  void FixAudioFormat(AviStream& stream, AviStreamHeader& header);
  void FinishVideoHeader(size_t stream, AviStreamHeader& header, AviMainHeader& main) const;
  void FinishAudioHeader(size_t stream, AviStreamHeader& header, std::vector<uint8_t>& format,
                         const AviMainHeader& main) const;
  // PCM and float audio, timed from the format's block size; false (nothing
  // changed) for other formats and for formats without a usable block size
  // or sample rate.
  bool FinishBlockAudioHeader(size_t stream, AviStreamHeader& header,
                              std::vector<uint8_t>& format) const;
  // Bytes of the stream's 'strl' list behind its size field.
  uint64_t StreamListSize(size_t stream) const;
  void PlanHeaderLayout();

  // --- header area and 'movi' segments (AviWriterSegments.cpp) ---
  bool ReserveHeader(int depth);
  SegmentResult WriteSegment(int depth, uint32_t segment);
  uint64_t PlaceholderBytes() const;
  SegmentResult CheckLimits(uint64_t projected, uint32_t segment) const;
  bool ReservePlaceholders(int depth);
  bool WriteEntry(MoviEntry& entry, size_t stream, uint32_t segment, int depth);
  bool FinishSegment(int depth, int inner, uint32_t segment);
  bool PatchU32(uint64_t position, uint32_t value);
  bool RewriteHeader(int depth);
  FinalHeaders ComputeFinalHeaders() const;
  bool AppendExtendedHeader();
  bool AppendStreamList(size_t stream, const AviStreamHeader& header,
                        const std::vector<uint8_t>& format, int depth);
  bool AppendPaddedChunk(uint32_t id, const uint8_t* data, size_t size);
  bool AppendJunk(uint64_t gap);

  // --- indexes (AviWriterIndex.cpp) ---
  bool WriteStandardIndex(StreamIndexRecord& record, size_t stream, uint32_t count, bool trace,
                          int depth);
  bool AppendSuperIndex(size_t stream, int depth);
  bool WriteIdx1(int depth);

  // A chunk header line of the trace (a size of 0xFFFFFFFF prints none).
  int TraceLine(uint32_t id, uint32_t second, uint32_t size, uint64_t position,
                const std::string& text, int depth) const;

  CIOService& io_;
  AviModel& model_;
  const RunOptions& options_;
  const Report& report_;
  uint32_t& progressCounter_;
  SourceFacts facts_;
  ChunkCopier copier_;

  std::string outputName_;
  bool formatsBigEndian_ = false;  // the source's byte order, kept by the formats
  uint64_t moviLimit_ = 0;         // the 'movi' size limit in force
  bool failureReported_ = false;
  // Per stream, fixed for the write.
  std::vector<uint32_t> indexChunkIds_;  // the id its indexes carry, 0 none
  std::vector<size_t> indexChunkCounts_;  // its chunks

  // Per file.
  uint64_t headerSize_ = 0;        // bytes of the header area before padding
  uint64_t moviStart_ = 0;         // file offset of the first 'movi' list
  uint32_t riffSize_ = 0;          // size field of the RIFF 'AVI ' segment
  uint32_t videoFramesWritten_ = 0;
  uint32_t fileEntries_ = 0;       // entries written to the file
  uint64_t idx1Size_ = 8;          // the 'idx1' chunk as it would be now
  uint32_t standardIndexesWritten_ = 0;
  bool superIndexFull_ = false;    // a stream needs more standard indexes than fit
  std::vector<bool> videoStreams_;
  std::vector<bool> intraOnlyStreams_;  // every frame is a key frame
  std::vector<StreamIndexRecord> records_;
  std::vector<StreamTally> tallies_;
  std::vector<uint32_t> idx1Entries_;   // entries of the first segment

  // Over all files.
  uint32_t nextEntry_ = 0;
  uint32_t videoFrameCounter_ = 0;  // video entries met, for -xs/-xe

  // Per segment.
  uint64_t segmentStart_ = 0;      // file offset where the segment begins
  uint64_t moviBase_ = 0;          // file offset of its 'movi' FourCC
  uint64_t moviBytes_ = 0;         // bytes behind that FourCC
  uint32_t segmentEntries_ = 0;
  uint32_t writtenInSegment_ = 0;  // for the trace
  WrittenChunk lastWritten_;

  std::vector<uint8_t> indexBuffer_;  // one 16 KiB index chunk
};
