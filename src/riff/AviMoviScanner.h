#pragma once
// The scan of the media data in 'movi' lists: one MoviEntry per chunk found,
// with recovery from damaged data.
//
// A 'movi' list is a plain sequence of chunks: `##dc`/`##db` video frames,
// `##wb` audio, `##pc` palette changes, `##tx` text, `ix##` standard indexes,
// `JUNK` filler and `LIST 'rec '` groups. The scan walks it header by header
// and never reads a payload it does not show or convert, so that captures of
// many gigabytes cost one small read per chunk. When the data stops making
// sense (a token that is no chunk id, a chunk running past the file or the
// list), the scan searches byte by byte for the next plausible chunk id and
// carries on from there. With switchQ2 the audio of DV type-1 frames becomes
// a PCM stream of its own.

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "riff/AviChunkReader.h"
#include "riff/AviParseContext.h"
#include "riff/DvFrameAnalyzer.h"

class AviOdmlIndexReader;
class AviStatistics;

class AviMoviScanner {
 public:
  AviMoviScanner(AviParseContext& context, AviChunkReader& chunks, AviOdmlIndexReader& odmlIndex,
                 AviStatistics& statistics);
  ~AviMoviScanner();

  // The media data of a `movi` list (or of a segment scanned like one):
  // `listSize` bytes behind the list type word, which has just been read;
  // `declaredEnd` is where the list's own size word says it ends. A list
  // whose size is stale (it runs past its segment, or chunks of its streams
  // follow its end) is scanned on to the end of the file or the next `RIFF`
  // or `idx1`. Returns kHandled, kStop, or kMetRiff/kMetIdx1 with the
  // position moved back onto a header that the list ran into.
  int Scan(uint64_t listSize, uint64_t declaredEnd, uint16_t segment, int depth);
  // Room for the 'movi' entries the headers announce.
  void ReserveEntries();
  // With switchQ2, after the header list: the PCM stream that takes the
  // audio of the DV frames, and the interleaved flag of the main header.
  void AddDvAudioStream();
  // The frames the scan found right before garbled data keep their place
  // only when an index confirms them: their size may be what led the scan
  // astray. Run once every index was matched.
  void SettleDoubtfulChunks(int depth);
  // What the first DV frame said about itself (for the writer's DV formats).
  const DvAnalysis* FirstDvAnalysis() const { return dvAnalysisDone_ ? &dvAnalysis_ : nullptr; }

 private:
  struct MoviScan;
  struct MoviItem;

  int WalkMoviList(MoviScan& scan);
  int HandleMoviToken(MoviScan& scan, uint32_t token, bool fromRecovery);
  int HandleMoviJunk(MoviScan& scan, uint32_t token);
  int HandleMoviSubList(MoviScan& scan);
  int HandleMoviChunk(MoviScan& scan, uint32_t token);
  // Checks a chunk against the file and the list; kHandled when it is to be
  // processed, kResync-like codes otherwise.
  int CheckMoviChunkBounds(MoviScan& scan, uint64_t payloadStart, uint32_t size);
  // The bytes kept of a block-audio (PCM) chunk the file ends inside: the
  // whole blocks present; 0 for a chunk that is whole or not such audio.
  uint32_t WholeBlocksOfCutAudio(const MoviScan& scan, uint64_t payloadStart, uint32_t size) const;
  // Moves behind the chunk and its pad byte.
  int FinishMoviChunk(MoviScan& scan, uint64_t payloadStart, uint32_t size);
  // A chunk whose digits name no stream of the headers: reported (within
  // the trace limit) and passed over.
  int ReportUnknownStream(MoviScan& scan);
  int HandleIndexChunk(MoviScan& scan, int stream, uint64_t payloadStart, uint32_t size);
  int HandleStreamData(MoviScan& scan, int stream, uint64_t payloadStart, uint32_t size);
  int HandleVideoChunk(MoviScan& scan, int stream, uint64_t payloadStart, uint32_t size);
  int HandleDvFrame(MoviScan& scan, uint64_t payloadStart, uint32_t size);
  int SplitOffDvAudio(MoviScan& scan, uint64_t payloadStart, uint32_t size);
  int DumpMoviPayload(MoviScan& scan, uint64_t payloadStart, uint32_t size);
  int DumpSubtitle(MoviScan& scan, uint64_t payloadStart, uint32_t size);
  int DumpPaletteChange(MoviScan& scan, uint64_t payloadStart, uint32_t size);
  void RecordMoviEntry(MoviScan& scan, uint32_t id, uint32_t size, uint64_t headerPos);
  // The entries of the chunk in front of garbled data become doubtful.
  void MarkDoubtful(MoviScan& scan);
  // Takes a chunk that is dropped back out of its stream's counters.
  void UncountChunk(uint32_t id, uint32_t size);
  // Looks for the next chunk after `failedTokenEnd` went wrong; true with the
  // token found, false with the scan's result in `result`.
  bool ResyncMovi(MoviScan& scan, bool implausible, bool fromRecovery, uint64_t failedTokenEnd,
                  uint32_t& token, int& result);
  // The end of the list: the last entry's line, and left-over bytes when
  // `checkRest` is set.
  int EndMoviList(MoviScan& scan, bool checkRest);
  // The header line of the last entry when the trace limit suppressed it.
  void ShowLastEntry(MoviScan& scan);
  // Prints the header line of `item` unless it was shown; returns the depth
  // of the lines that belong under it.
  int ShowMoviItem(const MoviScan& scan, MoviItem& item);
  // Whether a report of a group whose counter is `reports` is still within
  // the trace limit (it is then counted).
  bool Traced(uint32_t& reports) const;
  // The counters of `id` in `stream`, looked up once per id and scan.
  ChunkTypeCounters& CountersOf(MoviScan& scan, AviStream& stream, uint32_t id);
  bool ReadMoviPayload(MoviScan& scan, uint64_t payloadStart, uint64_t count);

  CRIFFParser& reader_;
  const Report& report_;
  const RunOptions& options_;
  AviModel& model_;
  AviFindings& findings_;
  AviChunkReader& chunks_;
  AviOdmlIndexReader& odmlIndex_;
  AviStatistics& statistics_;

  uint32_t doubtfulDropped_ = 0;  // dropped at once, when no entries are kept
  DvAnalysis dvAnalysis_;
  bool dvAnalysisDone_ = false;
  // switchQ2: the DV stream whose frames give up their audio, the chunk id of
  // the added PCM stream, and whether a frame that could not be converted was
  // reported already.
  int dvAudioSource_ = -1;
  uint32_t dvAudioChunkId_ = 0;
  bool dvAudioFailureReported_ = false;
  bool dvAudioRateSet_ = false;
};
