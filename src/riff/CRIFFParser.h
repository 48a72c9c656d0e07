#pragma once
// The generic walker of RIFF, RIFX and IFF chunk files, and the base of the
// parsers of the RIFF family (AVI, QuickTime, WAVE/AIFF/MIDI, RealMedia).
//
// A RIFF-family file is a tree of chunks: a 4-byte token, a 32-bit size and a
// body. Lists (`LIST`, `CAT `, `PROP`) and forms (`RIFF`, `RIFX`, `FORM`)
// carry a 4-byte type and then more chunks. RIFF and RIFX bodies are padded to
// an even length (the word-aligned flag); RIFX, like IFF, stores its numbers
// big-endian (the big-endian flag).
//
// The derived parsers reuse the size reader, the list walkers, the handlers of
// the chunks any form may hold, the overhead and form counters and the table
// of WAVE format-tag names.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/CParser.h"
#include "core/StructDesc.h"

class CRIFFParser : public CParser {
 public:
  // Results of the chunk handlers and walkers.
  enum ChunkResult : int {
    kHandled = 0,   // the chunk was handled and the position is behind it
    kNotKnown = 1,  // not one of the handler's tokens; nothing was read
    kStop = 3,      // a read failed or the file ended: parsing must stop
    kMetRiff = 4,   // a list ran into a `RIFF` header (position on it)
    // ... into another header its container does not let a list swallow;
    // the codes from here on are the container's (see StopHeader).
    kMetHeader = 5,
  };

  // A header that a list must not swallow: when a list's size runs over the
  // next part of the file, the walk of the list ends in front of such a
  // header and hands back `result`. `listType` 0 matches the token alone;
  // otherwise the chunk is a `LIST` of that type.
  struct StopHeader {
    uint32_t token;
    uint32_t listType;
    int result;
  };

  // One chunk header inside a list: where it starts and what it declares.
  struct ChunkHeader {
    uint32_t token = 0;
    uint32_t size = 0;      // the size fitted to its list
    uint32_t declared = 0;  // the size as stored
    uint64_t headerPos = 0;
    uint64_t BodyStart() const { return headerPos + 8; }
  };

  // How the lists of a container are walked where the formats differ.
  enum class ListStyle : uint8_t {
    // RIFF: a sub-chunk is fitted with its pad byte ("Token Size greater
    // Chunk Size!"); a pad byte missing behind an odd-sized chunk is looked
    // for; the list's own pad byte ends it.
    kRiff,
    // AVI: a sub-chunk is fitted to the room behind its header, both sizes
    // named ("Token Size (n) greater Chunk Size (m)!"), a pad byte the list
    // has no room for is not charged to it; whatever is left at the end is
    // skipped as one.
    kAvi,
  };
  struct ListRules {
    ListStyle style;
    // Headers that end the list before the sub-chunk is fitted (none: null),
    // the message given when one is met, and whether the header met gets its
    // header line first.
    const StopHeader* stops;
    size_t stopCount;
    const char* stopNote;
    bool stopLine;
  };

  // Handlers of the sub-chunks of one kind of list, by token, for the walker
  // below; `otherwise` takes the tokens the table does not name. A handler is
  // called with the position behind the chunk's size word and leaves it
  // behind the chunk; it returns kHandled, kStop, or a kMet result that ends
  // the walk (handed back, the position on the header met). `remaining`, the
  // bytes of the list behind the chunk, may be given back to.
  template <class Owner>
  struct ChunkTable {
    using Handler = int (Owner::*)(const ChunkHeader& chunk, uint64_t& remaining, int depth);
    struct Entry {
      uint32_t token;
      Handler handle;
    };
    const Entry* entries;
    size_t count;
    Handler otherwise;
    Handler Find(uint32_t token) const {
      for (size_t i = 0; i < count; ++i) {
        if (entries[i].token == token) return entries[i].handle;
      }
      return otherwise;
    }
  };

  // Lists nested deeper than this are reported and skipped whole, so that a
  // crafted file cannot exhaust the stack.
  static constexpr uint32_t kMaxListNesting = 200;
  // Messages every chunk walker gives.
  static constexpr char kUnexpectedToken[] = "Unexpected Token!";
  static constexpr char kSizeMismatch[] = "Chunk Size mismatch!";

  CRIFFParser(RunOptions options, ReportOutput& output);
  ~CRIFFParser() override;

  bool Parse(const std::string& sourcePath, const std::string& outputPath) override;

  // The name of a WAVE format tag, e.g. "(PCM)"; some tags have an empty name.
  static std::string FormatTagName(uint16_t tag);
  // A token that may be a chunk id: the first byte printable, the other three
  // letters or digits.
  static bool LooksLikeFourCC(uint32_t token);

  uint64_t OverheadSize() const { return overheadSize_; }
  uint16_t FormCount() const { return formCounter_; }
  void AddOverhead(uint64_t bytes) { overheadSize_ += bytes; }

  // The reads and walks the parts of a derived parser share.

  // Reads `count` bytes at `position` without moving the walk's position or
  // its byte counter; false (silently) when they are not all there.
  bool ReadAt(uint64_t position, void* dest, uint64_t count);
  // Reads a 4-byte token (premature end reported, false).
  bool ReadToken(uint32_t& token, int depth);
  // Reads a 32-bit chunk size in the file's byte order. A size that runs past
  // the end of the file is reported but returned as read.
  bool ReadChunkSize(uint32_t& size, int depth);

  // A size rounded up to even while the word-aligned flag is set.
  uint64_t AlignedSize(uint64_t size) const;
  // Bytes between the current position and the end of the file.
  uint64_t RemainingInFile();
  // Skips a chunk body of `size` bytes (plus its pad byte while word aligned),
  // showing its first bytes at `depth`. False when the file ends first.
  bool SkipChunkBody(uint64_t size, int depth);

  // The sub-chunks of a list or form body of `size` bytes (the bytes behind
  // the list or form type). While word aligned the body ends at the list's pad
  // byte, which the walk consumes. Returns kHandled or kStop.
  int WalkList(uint64_t size, int depth);
  // The walk every list of the RIFF family shares: the sub-chunks of the
  // `remaining` bytes of a list, each read, checked against the stop headers
  // of `rules`, fitted to the list and handed to its handler in `table`;
  // then the end of the list. Returns kHandled, kStop, or the kMet result
  // of a stop header or handler.
  template <class Owner>
  int WalkChunks(uint64_t remaining, const ListRules& rules, Owner& owner,
                 const ChunkTable<Owner>& table, int depth) {
    while (remaining >= 8 && CurrentPosition() < FileSize()) {
      ChunkHeader chunk;
      int result = BeginListChunk(chunk, remaining, rules, depth);
      if (result != kHandled) return result;
      result = (owner.*table.Find(chunk.token))(chunk, remaining, depth);
      if (result != kHandled) return result;
      EndListChunk(chunk, remaining, rules, depth);
    }
    return EndOfList(remaining, rules, depth);
  }
  // The chunks any form may hold (INFO texts, filler, DISP, vers, ...); called
  // with the position behind the chunk's size word. kNotKnown leaves the
  // position unchanged.
  int HandleKnownChunk(uint32_t token, uint32_t size, int depth);
  // The body of a `LIST 'INFO'` of `size` bytes (pad byte included as for
  // WalkList): kHandled, kStop, or the result of a stop header it ran into,
  // with the position moved back onto that header.
  int WalkInfoList(uint64_t size, int depth);
  // The rules of the container's lists: `style`, its stop headers, `note`
  // given when one is met.
  ListRules ContainerRules(ListStyle style, const char* note) const {
    return {style, stopHeaders_, stopHeaderCount_, note, false};
  }

 protected:
  // A `RIFF`/`RIFX`/`FORM` chunk whose form type has no parser of its own;
  // called with the position behind the chunk's size word.
  int HandleUnknownForm(uint32_t token, uint32_t size, int depth);
  // `JUNK`, `JUNQ` and `PAD ` filler.
  int HandleJunk(uint32_t token, uint32_t size, int depth);

  // Text chunks printed by the structure dumper under `name`: 8-bit text, or
  // UTF-16 text. True when the whole chunk (with its pad byte) was consumed.
  bool DumpTextChunk(uint32_t token, uint32_t size, const std::string& name, int depth);
  bool DumpWideTextChunk(uint32_t token, uint32_t size, const std::string& name, int depth);

  // The top level of a file, for the parsers of particular forms. A token
  // that is neither a form nor a list: true when the parser took it, the walk
  // going on from where it left the position, with `formSeen` set when it was
  // a form of its own.
  virtual bool HandleTopLevelToken(uint32_t token, int depth, bool& formSeen);
  // A form or list of `size` bytes (already fitted to the file), with the
  // position behind its size word.
  virtual int HandleTopLevelForm(uint32_t token, uint32_t size, int depth);
  // The verdict of a file in which a form was seen.
  virtual std::string FormVerdict() const;

  // Dumps a chunk body by its description. False when the body could not be
  // read (the walk must stop); `complete` tells whether the dumper consumed
  // the whole body.
  bool DumpDescribed(uint32_t size, const StructDesc& desc, int depth, bool& complete);
  // Skips what is left of the chunk body that starts at `bodyStart`, shown at
  // `depth`, and then its pad byte (a pad byte missing at the very end of the
  // file is tolerated). False when the file ends inside the body.
  bool SkipRestOfChunk(uint64_t bodyStart, uint64_t size, int depth);
  // Reads `count` body bytes; fails (reported) when the file holds fewer.
  bool ReadBody(std::vector<uint8_t>& bytes, uint64_t count, int depth);

  // The headers the lists of this container must not swallow; the table
  // must outlive the parser.
  template <size_t N>
  void SetStopHeaders(const StopHeader (&headers)[N]) {
    stopHeaders_ = headers;
    stopHeaderCount_ = N;
  }

  // Sets the word-aligned and big-endian flags from a top-level `RIFF` or
  // `RIFX` token, or from the byte order forced by the options.
  void ApplyRiffByteOrder(uint32_t token);

  // Bytes of the file that carry no media data.
  uint64_t overheadSize_ = 0;
  // How the top level's "File Size mismatch (n" message ends.
  const char* sizeMismatchEnd_ = ")";
  // Nested forms opened by the unknown-form handler.
  uint16_t formCounter_ = 0;

 private:
  bool RunDriver(int depth);
  void ApplyByteOrder(uint32_t token);
  bool HandleStrayChunk(uint32_t token, int depth, bool& stop);
  bool ReadSizeWord(uint32_t& size, int depth);
  uint32_t CorrectedTopLevelSize(uint32_t size, int depth);
  // The position of a header that lies `back` bytes behind the current one.
  uint64_t HeaderPosition(uint64_t back) const;

  // The sub-chunks of a list of a RIFF file, by the table of the chunks any
  // form may hold.
  int WalkListBody(uint64_t remaining, int depth);
  // Called with the position behind the size word of `chunk`: when its
  // header is one of the stop headers of `rules`, gives the note of `rules`,
  // moves back onto the header and returns its result; otherwise kHandled,
  // the position kept (kStop when the file ends).
  int StopAtHeader(const ChunkHeader& chunk, const ListRules& rules, int depth);
  // The steps of WalkChunks: the header read, the stop headers, the fit
  // (kHandled to go on); after the handler, the missing pad byte; the end.
  int BeginListChunk(ChunkHeader& chunk, uint64_t& remaining, const ListRules& rules, int depth);
  void EndListChunk(const ChunkHeader& chunk, uint64_t& remaining, const ListRules& rules,
                    int depth);
  int EndOfList(uint64_t remaining, const ListRules& rules, int depth);
  // Checks a sub-chunk against what remains of its list and cuts one of them.
  void FitSubChunk(uint32_t& size, uint64_t& remaining, int depth);
  // The same, with both sizes named and the pad byte charged only where the
  // list has room for it; takes the chunk off `remaining`.
  void FitNamedSubChunk(uint32_t& size, uint64_t& remaining, int depth);
  int EndOfListBody(uint64_t remaining, int depth);
  int EndOfAviList(uint64_t remaining, int depth);
  // The sub-chunks of a generic list and of an INFO list.
  int HandleListChunk(const ChunkHeader& chunk, uint64_t& remaining, int depth);
  int HandleFormChunk(const ChunkHeader& chunk, uint64_t& remaining, int depth);
  int HandleOtherChunk(const ChunkHeader& chunk, uint64_t& remaining, int depth);
  int HandleInfoListChunk(const ChunkHeader& chunk, uint64_t& remaining, int depth);
  // Called behind an odd-sized chunk whose header is at `headerPos`, once its
  // pad byte has been stepped over, with `room` the bytes its list holds from
  // the pad byte on. Some writers leave the pad byte out: when the byte is the
  // start of a plausible chunk header and the byte behind it is not, this
  // warns and moves back onto that header. True when it moved back.
  bool StepBackOntoMissingPad(uint64_t headerPos, uint32_t size, uint64_t room, int depth);
  // Whether a plausible chunk header of a chunk that fits in `room` bytes
  // starts at `position` while none starts a byte later.
  bool HeaderStartsAt(uint64_t position, uint64_t room);
  int HandleSubList(uint32_t token, uint32_t size, uint64_t headerPos, uint64_t& remaining,
                    int depth);
  // A chunk nobody knows: its header line, then its body skipped.
  int SkipUnknownChunk(uint32_t token, uint32_t size, uint64_t headerPos, int depth);
  int HandleInfoSubChunk(uint32_t token, uint32_t size, uint64_t headerPos, int depth);

  bool DumpText(uint32_t token, uint32_t size, const std::string& name, const FieldDesc (&field)[1],
                int depth);
  int HandleInfoChunk(uint32_t size, int depth);
  int HandleGuidChunk(uint32_t size, int depth);
  int HandleDisplayChunk(uint32_t size, int depth);
  int HandleVersionChunk(uint32_t size, int depth);
  uint32_t listNesting_ = 0;
  const StopHeader* stopHeaders_ = nullptr;
  size_t stopHeaderCount_ = 0;
};
