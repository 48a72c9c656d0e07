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
// Damaged files are the normal case: every list declares a size, and a
// sub-chunk larger than its list, a duplicate or out-of-order chunk, or a list
// that runs into the next `RIFF`, `movi` or `idx1` header is reported and
// recovered from instead of ending the parse.

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "riff/AviModel.h"
#include "riff/CRIFFParser.h"
#include "riff/DvFrameAnalyzer.h"

class CAVIParser : public CRIFFParser {
 public:
  // The first segment should stay below this size so that players without
  // OpenDML support can read it.
  static constexpr uint64_t kFirstSegmentLimit = 1073741824;
  // Garbage between top-level segments is searched this far for a chunk id.
  static constexpr uint64_t kTopLevelSearchLimit = 1024;
  // Stream numbers in chunk ids have two decimal digits: stream lists beyond
  // this many could never be addressed by a chunk and are not kept.
  static constexpr size_t kMaxStreams = 100;

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
  bool IndexOutOfOrder() const { return indexOutOfOrder_; }
  const DvAnalysis* FirstDvAnalysis() const { return dvAnalysisDone_ ? &dvAnalysis_ : nullptr; }
  uint16_t SegmentCount() const { return segmentCounter_; }

  // A token that may start a chunk of an AVI file: `LIST`, `JUNK`, `RIFF`,
  // `rec `, `idx1`; ids ending in "__"; and the stream chunk ids `##xx`
  // (two letters), `##32` and `xx##`, whose digits must name a stream of the
  // model.
  bool IsPlausibleChunkId(uint32_t token) const;

 private:
  // One chunk header inside a list: where it starts and what it declares.
  struct SubChunk {
    uint32_t token = 0;
    uint32_t size = 0;
    uint32_t declared = 0;  // the size as stored, before it was fitted to its list
    uint64_t headerPos = 0;
    uint64_t BodyStart() const { return headerPos + 8; }
  };

  // --- the analysis of the media data, the indexes and the statistics ---
  // The media data of a `movi` list (or of a segment scanned like one):
  // `listSize` bytes behind the list type word, which has just been read;
  // `declaredEnd` is where the list's own size word says it ends. A list
  // whose size is stale (it runs past its segment, or chunks of its streams
  // follow its end) is scanned on to the end of the file or the next `RIFF`
  // or `idx1`. Returns kHandled, kStop, or kMetRiff/kMetIdx1 with the
  // position moved back onto a header that the list ran into.
  int ScanMovi(uint64_t listSize, uint64_t declaredEnd, uint16_t segment, int depth);
  // The `idx1` chunk of `size` bytes, position behind its size word. Returns
  // kHandled, kStop or kMetRiff (position on that header).
  int ParseIdx1(uint32_t size, int depth);
  // Dumps and checks the super index of stream `stream`, already read into the
  // model (its `indx` body).
  void ParseSuperIndex(size_t stream, const std::vector<uint8_t>& body, int depth);
  // A standard index chunk (`ix##`, or `##ix`) met in a 'movi' list, its body
  // read whole (bounded by the list and the file); `stream` is the stream its
  // digits name. Dumps and checks it when `dump` is set (within the trace
  // limit), counts its entries in use under the chunk id, and with
  // checkIndexes records its entries as IndexEntry. `listTypePos` is the
  // position of the enclosing 'movi' list type word.
  void HandleStandardIndex(const SubChunk& chunk, size_t stream, const std::vector<uint8_t>& body,
                           uint16_t segment, uint64_t listTypePos, bool dump, int depth);
  // With switchXi: fills the MoviEntry list from the standard indexes that the
  // first stream's super index points to. False (nothing changed) when that
  // super index is not usable; then the list is scanned as usual.
  bool BuildEntriesFromSuperIndex(int depth);
  // Matches the index entries collected so far against the 'movi' entries.
  void AssignIndexToMovi(int depth);
  // The statistics and consistency checks after the last segment.
  void RunStatistics(int depth);

  // Searches up to `limit` bytes from the current position (after a bad
  // token) for a plausible chunk id, in blocks. `consumed` counts the bytes
  // of the enclosing area read so far; when it exceeds 6 the search starts 7
  // bytes back so that an id overlapping the bad token is found. True with
  // the position right behind the id found, which is returned in `token`;
  // false with the position at the end of the searched range. The bytes
  // passed over count as overhead and are added to `consumed`.
  bool RecoverGarbledData(int depth, uint64_t limit, uint32_t& token, uint64_t& consumed);

  // --- media scan: the state and steps of the 'movi' scan (CAVIParserMovi.cpp) ---
  struct MoviScan;
  struct MoviItem;
  // Where a scanned 'movi' list lies: standard indexes are matched by the
  // absolute positions of their entries, whichever list holds them.
  struct MoviExtent {
    uint64_t typePos = 0;  // the list type word
    uint64_t end = 0;      // the end of what was scanned
    uint16_t segment = 1;
  };
  std::vector<MoviExtent> moviExtents_;
  // The scanned list holding absolute position `position`, or none.
  const MoviExtent* MoviListAt(uint64_t position) const;
  // Whether the token at `position` (not consumed) is a chunk of one of the
  // streams: after the declared end of a 'movi' list that means the list
  // really goes on.
  bool StreamChunkAt(uint64_t position);
  // Whether a plausible chunk id stands at `position` (not consumed).
  bool PlausibleChunkAt(uint64_t position);
  // The four bytes at `position` as a token, the position kept; false
  // (silently) when the file ends first.
  bool PeekToken(uint64_t position, uint32_t& token);
  // Whether the pad byte behind an odd-sized chunk ending at `end` is to be
  // taken: `expected` by the alignment rule, unless only the other choice
  // leads to a plausible chunk header.
  bool TakePadByte(uint64_t end, bool expected);
  // The frames the scan found right before garbled data keep their place
  // only when an index confirms them: their size may be what led the scan
  // astray. Run once every index was matched.
  void SettleDoubtfulChunks(int depth);
  // Takes a chunk that is dropped back out of its stream's counters.
  void UncountChunk(uint32_t id, uint32_t size);
  uint32_t doubtfulDropped_ = 0;  // dropped at once, when no entries are kept
  // The search of the garbled-data recovery over [start, end) (cut to the
  // file): the first plausible chunk id whose last byte lies behind
  // `minimumEnd` and that does not end at `failedTokenEnd` (the token that
  // failed is never found again). Prints "Garbled Data found!" and then
  // "Recovered (S:Offset)" or "Unrecoverable"; counts the bytes passed over as
  // overhead. True with the position right behind the id found.
  bool SearchChunkId(int depth, uint64_t start, uint64_t end, uint64_t failedTokenEnd,
                     uint64_t minimumEnd, uint32_t& token);
  int WalkMoviList(MoviScan& scan);
  int HandleMoviToken(MoviScan& scan, uint32_t token, bool fromRecovery);
  int HandleMoviJunk(MoviScan& scan, uint32_t token);
  int HandleMoviSubList(MoviScan& scan);
  int HandleMoviChunk(MoviScan& scan, uint32_t token);
  // Checks a chunk against the file and the list; kHandled when it is to be
  // processed, kResync-like codes otherwise.
  int CheckMoviChunkBounds(MoviScan& scan, uint64_t payloadStart, uint32_t size);
  // Moves behind the chunk and its pad byte.
  int FinishMoviChunk(MoviScan& scan, uint64_t payloadStart, uint32_t size);
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
  // With switchQ2, after the header list: the PCM stream that takes the
  // audio of the DV frames, and the interleaved flag of the main header.
  void AddDvAudioStream();

  // What the first DV frame said about itself (for the writer's DV formats).
  DvAnalysis dvAnalysis_;
  bool dvAnalysisDone_ = false;
  // switchQ2: the DV stream whose frames give up their audio, the chunk id of
  // the added PCM stream, and whether a frame that could not be converted was
  // reported already.
  int dvAudioSource_ = -1;
  uint32_t dvAudioChunkId_ = 0;
  bool dvAudioFailureReported_ = false;
  bool dvAudioRateSet_ = false;
  // --- end of the media scan section ---

  AviModel model_;
  OutputStage outputStage_;
  uint16_t segmentCounter_ = 0;
  bool aviSegmentSeen_ = false;
  bool idx1Met_ = false;           // an `idx1` chunk was met anywhere
  uint64_t moviListPosition_ = 0;  // the type word of the last `movi` list
  // The end of the current `RIFF` segment as its size word declares it.
  uint64_t segmentDeclaredEnd_ = 0;

  // What a segment body has shown so far, for the order checks.
  struct SegmentFlags {
    bool hdrl = false;
    bool movi = false;
    bool idx1 = false;
  };
  // What a stream list has shown so far.
  struct StreamListFlags {
    bool strh = false;
    bool strd = false;
    bool strn = false;
    bool vprp = false;
    size_t stream = 0;  // its number in the model
  };

  bool RunTopLevel(int depth);
  // A top-level `RIFF`/`RIFX` chunk, token just read.
  int HandleTopLevelSegment(uint32_t token, int depth);
  // A chunk id at top level that is not a segment; false ends the walk.
  bool HandleSpuriousChunk(uint32_t token, int depth);
  // Skips everything up to the end of the file as overhead.
  void SkipRestOfFile();
  // A size word as stored, without the check against the file size.
  bool ReadRawSize(uint32_t& size, int depth);

  int HandleSegment(uint32_t token, uint32_t size, uint64_t headerPos, int depth);
  int WalkSegmentBody(uint64_t remaining, uint16_t segment, int depth);
  int HandleSegmentList(const SubChunk& chunk, uint16_t segment, SegmentFlags& flags,
                        uint64_t& remaining, int depth);
  int HandleHeaderList(const SubChunk& chunk, uint16_t segment, SegmentFlags& flags,
                       uint64_t& remaining, int depth);
  int HandleMoviList(const SubChunk& chunk, uint16_t segment, SegmentFlags& flags,
                     uint64_t& remaining, int depth);
  int HandleIdx1(const SubChunk& chunk, uint16_t segment, SegmentFlags& flags, uint64_t& remaining,
                 int depth);
  // After a 'movi' list or 'idx1' chunk: steps over what is left of it (or
  // hands back the rest when it ran into a following header, `result`) and
  // matches the index entries collected so far against the chunks found.
  int FinishIndexedChunk(const SubChunk& chunk, int result, uint64_t& remaining, int depth);
  // Room for the 'movi' entries the headers announce.
  void ReserveMoviEntries();

  int WalkHeaderList(uint64_t remaining, int depth);
  // Looks over the header list body [begin, end) without walking it: the
  // stream types of its stream headers and whether it holds an OpenDML list.
  void LookAheadAtHeaderList(uint64_t begin, uint64_t end);
  // The type of the stream header in the stream list body [begin, end), or 0.
  uint32_t StreamTypeIn(uint64_t begin, uint64_t end);
  // A list inside the header list; its list type is still to be read.
  int HandleHeaderSubList(const SubChunk& chunk, int depth);
  int HandleMainHeader(const SubChunk& chunk, int depth);
  int HandleStreamList(const SubChunk& chunk, int depth);
  int HandleOdmlList(const SubChunk& chunk, int depth);
  int WalkOdmlList(uint64_t remaining, int depth);
  int HandleExtendedHeader(const SubChunk& chunk, int depth);

  int WalkStreamList(uint64_t remaining, int depth);
  int HandleStreamChunk(const SubChunk& chunk, StreamListFlags& flags, int depth);
  int HandleStreamHeader(const SubChunk& chunk, StreamListFlags& flags, int depth);
  int HandleStreamFormat(const SubChunk& chunk, StreamListFlags& flags, int depth);
  // `strd`, `strn` and `vprp`: at most one of each per stream.
  int HandleOptionalStreamChunk(const SubChunk& chunk, StreamListFlags& flags, int depth);
  int HandleStreamIndex(const SubChunk& chunk, StreamListFlags& flags, int depth);

  // --- pieces shared by the walkers ---
  // Reads the token and size of the next sub-chunk.
  bool ReadSubChunk(SubChunk& chunk, int depth);
  // A header list or stream list that declared too large a size runs into a
  // `RIFF`, `movi` or `idx1` header, or a `LIST 'movi'`: then the position
  // goes back onto that header and the kMet code is returned (kHandled for
  // an ordinary sub-chunk, kStop when the file ends).
  int CheckRunIntoNext(const SubChunk& chunk, int depth);
  // Reports the header met, moves back onto it and returns its kMet code;
  // kHandled when `token` is none of `RIFF`, `movi`, `idx1`.
  int StepBackOnto(uint32_t token, uint64_t headerPos, int depth);
  // Checks the sub-chunk against the `remaining` bytes of its list: one that
  // does not fit is cut to the list, or with subchunkEnforcesParentSize the
  // list is widened to hold it. Then takes the chunk off `remaining`.
  void FitToList(SubChunk& chunk, uint64_t& remaining, int depth);
  // After a walk that stopped at a header inside the chunk: the bytes of the
  // chunk behind the position belong to the enclosing list again.
  void GiveBackRest(const SubChunk& chunk, uint64_t& remaining);
  // What is left of a list too small for a chunk header.
  int EndOfList(uint64_t remaining, int depth);
  // The bytes of a list behind its type word, pad byte included where the
  // file has it.
  uint64_t ListBodySize(const SubChunk& chunk);
  // Reads the rest of the chunk body (at most `limit` bytes) into `body`;
  // the bytes must lie within the file, which is checked before anything is
  // allocated. False (reported) when the file ends first.
  bool ReadChunkBody(const SubChunk& chunk, std::vector<uint8_t>& body, uint64_t limit, int depth);
  // Moves to the end of the chunk, showing the skipped bytes at `depth` (0:
  // silently), and over its pad byte when the file has it. False when the
  // file ends inside the body.
  bool FinishChunk(const SubChunk& chunk, int depth);
  // Whether an odd-sized chunk whose body was read to its end has no pad
  // byte behind it, though the file is word aligned.
  bool OmitsPadByte(const SubChunk& chunk);
  // A chunk header line, an optional "Unexpected Token!" warning, and the
  // rest of the body skipped.
  int SkipNamedChunk(const SubChunk& chunk, uint32_t listType, const char* name, bool warn,
                     int depth);
  // A list whose type has just been read, walked by the generic list walker.
  int WalkGenericList(const SubChunk& chunk, uint32_t listType, const std::string& name, bool warn,
                      int depth);
  // A chunk any RIFF form may hold (JUNK, INFO texts, ...) or, failing that,
  // a header line, the warning and a skip.
  int HandleOtherChunk(const SubChunk& chunk, int depth);
  int ChunkLine(const SubChunk& chunk, uint32_t listType, const std::string& name, int depth);
  // `LIST`, or its byte-reversed spelling that some writers use.
  static bool IsListToken(uint32_t token);

  bool RecordsMoviEntries() const;
  uint32_t MainHeaderStreams() const;

  uint32_t streamListCount_ = 0;  // stream lists met in the header list
  bool odmlListSeen_ = false;

  // Filled by the 'movi' scan, read by the statistics.
  uint64_t payloadTotal_ = 0;        // payload bytes of all data chunks
  bool paletteChangeSeen_ = false;   // a `##pc` chunk was met
  bool subtitleSeen_ = false;        // a chunk of a `subs` stream was met
  // Filled by the index code, read by the statistics.
  bool indexOutOfOrder_ = false;     // an index lists chunks out of file order
  bool indexInsideChunks_ = false;   // an index points inside chunks

  // ===========================================================================
  // Indexes and statistics: helpers of CAVIParserIndex.cpp and
  // CAVIParserStatistics.cpp
  // ===========================================================================

  // The header shared by 'indx' and 'ix##' chunks, read from the body.
  struct OdmlIndexHeader {
    uint16_t longsPerEntry = 0;
    uint8_t subType = 0;
    uint8_t type = 0;
    uint32_t entriesInUse = 0;
    uint32_t chunkId = 0;
    uint64_t baseOffset = 0;       // bytes 12..19 (standard indexes)
    uint32_t reserved[3] = {0, 0, 0};  // bytes 12..23 as words (other indexes)
    uint32_t entries = 0;          // entries in use the body really holds
    uint64_t EntryBytes() const { return uint64_t{4} * longsPerEntry; }
  };
  // The state of one 'idx1' parse and of one assignment run (defined in
  // CAVIParserIndex.cpp), and of the statistics (CAVIParserStatistics.cpp).
  struct Idx1Pass;
  struct Idx1Entry;
  struct AssignPass;
  struct StreamFacts;

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

  void CheckIndexOrder(uint32_t chunkId, std::vector<IndexEntry>& entries, int depth);
  void MatchIndexEntries(AssignPass& pass, std::vector<IndexEntry>& entries);
  void MatchIndexEntry(AssignPass& pass, size_t index, IndexEntry& entry, size_t& cursor);
  void AddIndexNote(AssignPass& pass, size_t index, IndexEntry& entry, const std::string& text);
  void ReportUnmatchedEntries(const AssignPass& pass, const std::vector<IndexEntry>& entries,
                              int depth);
  void DumpIndexEntry(const IndexEntry& entry, size_t index, const std::vector<std::string>* notes,
                      int depth);

  // The order of the chunks in the 'movi' lists, noted while scanning (the
  // entries themselves are kept only for an index check or a repair), so
  // that the statistics say the same with and without them.
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
  ChunkOrder chunkOrder_;
  // Notes the next chunk of the 'movi' order: its stream's number (-1 for
  // none), id and segment. A chunk made by a conversion (`made`) takes part
  // in the interleaving only, not in the counts of the source's chunks.
  void NoteChunkOrder(int stream, uint32_t id, uint16_t segment, bool made = false);

  // Stream `stream` of the statistics: those of the file, then those a
  // conversion adds.
  const AviStream& StreamAt(size_t stream) const;
  AviStreamHeader HeaderAt(size_t stream) const;
  void DetectInitialFrames();
  // Sets model_.interleaved; false when the file has no audio and video
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

  // 'idx1' entries of length 0 per stream and chunk id (stream << 32 | id):
  // the zero-size counter holds them together with the zero-size chunks, and
  // a dropped frame listed in both must not count twice.
  std::map<uint64_t, uint32_t> idx1ZeroLength_;
};
