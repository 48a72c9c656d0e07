#include "riff/CAVIParser.h"

#include <algorithm>

#include "core/FourCC.h"
#include "riff/AviIds.h"

namespace {

using avi::kHdrlId;
using avi::kIdx1Id;
using avi::kListId;
using avi::kMoviId;
using avi::kRiffId;

constexpr uint32_t kRifxId = FourCC("RIFX");
constexpr uint32_t kAviForm = FourCC("AVI ");
constexpr uint32_t kAvixForm = FourCC("AVIX");
constexpr uint32_t kIndxForm = FourCC("INDX");
constexpr uint32_t kMenuForm = FourCC("menu");
constexpr uint32_t kIdxxId = FourCC("idxx");
constexpr uint32_t kInfoId = FourCC("INFO");
constexpr uint32_t kUnfoId = FourCC("UNFO");
constexpr uint32_t kPrmiId = FourCC("PRMI");
constexpr uint32_t kTdatId = FourCC("Tdat");
constexpr uint32_t kUvioId = FourCC("uvio");
constexpr uint32_t kSegmId = FourCC("segm");

const char kDuplicateIgnored[] = "Unexpected duplicate Token, ignored!";
const char kOutOfSequence[] = "Unexpected out-of-sequence Token, recovered!";
const char kDuplicateOrOutOfSequence[] =
    "Unexpected duplicate or out-of-sequence Token, recovered!";
const char kRecovered[] = "Unexpected Token, recovered!";

// Chunks of editing and capture tools that are only announced and stepped
// over.
struct ToolChunk {
  uint32_t token;
  const char* name;
  bool warn;  // the chunk does not belong there: "Unexpected Token!"
};

const ToolChunk kSegmentToolChunks[] = {
    {FourCC("PrmA"), "AVI Premiere ??? Chunk", true},
    {FourCC("PrmL"), "AVI Premiere ??? Chunk", true},
    {FourCC("ULSC"), "AVI ??? Chunk", true},
    {FourCC("Cr8r"), "AVI Premiere Creator Chunk", true},
    {kSegmId, "AVI AVI_IO/Virtual Dub Segmented AVI", true},
};

// The lists of an AVI file end in front of the next segment, the 'movi'
// list and the 'idx1' index when their sizes run over them.
const CRIFFParser::StopHeader kAviStopHeaders[] = {
    {kRiffId, 0, CRIFFParser::kMetRiff},
    {kMoviId, 0, kMetMovi},
    {kIdx1Id, 0, kMetIdx1},
    {kListId, kMoviId, kMetMovi},
};

// A segment's size that runs over the next segment or a 'movi' list ends it
// there.
const CRIFFParser::StopHeader kSegmentStopHeaders[] = {
    {kRiffId, 0, CRIFFParser::kMetRiff},
    {kMoviId, 0, kMetMovi},
};

const ToolChunk* FindSegmentToolChunk(uint32_t token) {
  for (const ToolChunk& entry : kSegmentToolChunks) {
    if (entry.token == token) return &entry;
  }
  return nullptr;
}

}  // namespace

CAVIParser::CAVIParser(RunOptions options, ReportOutput& output)
    : CRIFFParser(std::move(options), output),
      context_{*this, report_, options_, model_, progressCounter_, {}},
      chunks_(context_),
      odmlIndex_(context_),
      idx1_(context_),
      matcher_(context_),
      statistics_(context_),
      movi_(context_, chunks_, odmlIndex_, statistics_),
      headerList_(context_, chunks_, odmlIndex_) {
  SetStopHeaders(kAviStopHeaders);
}

CAVIParser::~CAVIParser() = default;

bool CAVIParser::Parse(const std::string& sourcePath, const std::string& outputPath) {
  bool ok = false;
  RunParse(sourcePath, outputPath, [this, &ok](int depth) {
    ok = RunTopLevel(depth);
    // The input must still be open: the writer copies the chunks from it.
    if (!outputPath_.empty() && outputStage_ && !outputStage_(*this, outputPath_, depth + 1)) {
      MarkJobFailed();
      ok = false;
    }
  });
  return ok;
}

bool CAVIParser::RunTopLevel(int depth) {
  progressCounter_ = 0;
  context_.findings.recordsMoviEntries = !outputPath_.empty() || options_.scan.checkIndexes;
  const uint64_t fileSize = FileSize();
  const int inner = OpeningLine(depth);
  bool ok = true;
  bool pending = false;  // `token` was found by the recovery and is not yet handled
  uint32_t token = 0;
  while (pending || RemainingInFile() >= 8) {
    if (!pending && !ReadToken(token, inner)) {
      ok = false;
      break;
    }
    pending = false;
    ApplyRiffByteOrder(token);
    if (token == kRiffId || token == kRifxId) {
      if (HandleTopLevelSegment(token, inner) == kStop) {
        ok = false;
        break;
      }
      if (options_.scan.switchXi) break;
      continue;
    }
    if (chunks_.IsPlausibleChunkId(token)) {
      if (!HandleSpuriousChunk(token, inner)) break;
      continue;
    }
    const uint64_t tokenPos = CurrentPosition() - 4;
    const int dataDepth =
        ChunkHeaderLine(token, 0, kNoChunkSize, tokenPos, "Spurious Data after RIFF Chunk", inner);
    // The search starts at the bad token, so that an id beginning inside it
    // is found; the bad token itself is no chunk id.
    uint64_t consumed = 0;
    if (!Skip(-4, true)) {
      ok = false;
      break;
    }
    if (!chunks_.RecoverGarbledData(dataDepth, kTopLevelSearchLimit, token, consumed)) {
      SkipRestOfFile();
      break;
    }
    pending = true;
  }
  const uint64_t position = CurrentPosition();
  if (position != fileSize) {
    const int64_t difference = static_cast<int64_t>(fileSize - position);
    report_.Message("File Size mismatch (" + std::to_string(difference) + ")!", inner, kError);
  }
  movi_.SettleDoubtfulChunks(inner);
  if (aviSegmentSeen_ && !options_.scan.switchXi) statistics_.Run(inner);
  return ok;
}

int CAVIParser::HandleTopLevelSegment(uint32_t token, int depth) {
  uint32_t size = 0;
  if (!chunks_.ReadRawSize(size, depth)) return kStop;
  const uint64_t headerPos = CurrentPosition() - 8;
  const uint32_t declared = size;
  context_.findings.segmentDeclaredEnd = headerPos + 8 + AlignedSize(declared);
  const uint64_t left = RemainingInFile();
  if (size > left) {
    report_.Message(
        "Wrong Size (" + Report::NumberText(size) + ") exceeding File Size detected, corrected!",
        depth, kError);
    size = static_cast<uint32_t>(left);
  }
  // The claim is what older players trip over, so it is checked as declared.
  if (segmentCounter_ == 0 && declared > kFirstSegmentLimit) {
    report_.Message("Size of first RIFF-chunk should be less than 1GB!", depth, kWarning);
  }
  return HandleSegment(token, size, headerPos, depth);
}

bool CAVIParser::HandleSpuriousChunk(uint32_t token, int depth) {
  uint32_t size = 0;
  if (!ReadChunkSize(size, depth)) return false;
  const uint64_t headerPos = CurrentPosition() - 8;
  const int inner =
      ChunkHeaderLine(token, 0, size, headerPos, "Spurious Chunk after RIFF Chunk", depth);
  const int result = HandleKnownChunk(token, size, inner);
  if (result == kNotKnown) {
    SkipRestOfFile();
    return false;
  }
  return result != kStop;
}

void CAVIParser::SkipRestOfFile() {
  const uint64_t left = RemainingInFile();
  overheadSize_ += left;
  SkipChecked(left, 0);
}

int CAVIParser::HandleSegment(uint32_t token, uint32_t size, uint64_t headerPos, int depth) {
  if (size < 4) return kStop;
  uint32_t form = 0;
  if (!ReadToken(form, depth)) return kStop;
  const uint16_t segment = ++segmentCounter_;
  model_.bigEndian = bigEndian_;
  const std::string number = std::to_string(segment);
  // A size corrected to the end of the file has no pad byte behind it.
  const uint64_t body = std::min<uint64_t>(AlignedSize(size) - 4, RemainingInFile());
  if (form == kAviForm || form == kAvixForm) {
    const int inner =
        ChunkHeaderLine(token, form, size, headerPos, "RIFF AVI Chunk, Segment #" + number, depth);
    if (form == kAviForm) {
      if (segment != 1 || aviSegmentSeen_) report_.Message(kUnexpectedToken, inner, kError);
      aviSegmentSeen_ = true;
    } else if (segment < 2 || !aviSegmentSeen_) {
      // An extension segment with nothing to extend.
      report_.Message(kUnexpectedToken, inner, kFatal);
    }
    return WalkSegmentBody(body, segment, inner);
  }
  if (form == kIndxForm || form == kMenuForm) {
    // Some tools hide frames in forms of their own; they are looked for as
    // in a 'movi' list.
    const int inner = ChunkHeaderLine(token, form, size, headerPos,
                                      "RIFF Unexpected Chunk, Segment #" + number, depth);
    context_.findings.moviListPosition = CurrentPosition() - 4;
    return movi_.Scan(body, CurrentPosition() + body, segment, inner);
  }
  const int inner = ChunkHeaderLine(token, form, size, headerPos, "RIFF Unknown Chunk", depth);
  return WalkList(size - 4, inner);
}

int CAVIParser::WalkSegmentBody(uint64_t remaining, uint16_t segment, int depth) {
  // Chunks of editing and capture tools are looked up by the handler of the
  // other chunks.
  static const ChunkTable<CAVIParser>::Entry kEntries[] = {
      {kListId, &CAVIParser::HandleSegmentList},
      {kIdx1Id, &CAVIParser::HandleIdx1Chunk},
      {kIdxxId, &CAVIParser::HandleIdx1Chunk},
  };
  static const ChunkTable<CAVIParser> kTable = {kEntries, sizeof kEntries / sizeof kEntries[0],
                                                &CAVIParser::HandleOtherSegmentChunk};
  // Where a sub-chunk was expected: the segment declared too large a size
  // and ran into the next segment or into a list.
  static const ListRules kRules = {ListStyle::kAvi, kSegmentStopHeaders,
                                   sizeof kSegmentStopHeaders / sizeof kSegmentStopHeaders[0],
                                   kRecovered, true};
  segment_ = segment;
  segmentFlags_ = SegmentFlags();
  const int result = WalkChunks(remaining, kRules, *this, kTable, depth);
  if (result == kStop) return kStop;
  // Extension segments carry no header list of their own.
  if (!segmentFlags_.hdrl && segment == 1) {
    report_.Message("Missing 'hdrl'-Chunk!", depth, kError);
  }
  if (!segmentFlags_.movi) report_.Message("Missing 'movi'-Chunk!", depth, kError);
  return result;
}

int CAVIParser::HandleOtherSegmentChunk(const AviSubChunk& chunk, uint64_t&, int depth) {
  if (const ToolChunk* tool = FindSegmentToolChunk(chunk.token)) {
    return chunks_.SkipNamedChunk(chunk, 0, tool->name, tool->warn, depth);
  }
  return chunks_.HandleOtherChunk(chunk, depth);
}

int CAVIParser::HandleIdx1Chunk(const AviSubChunk& chunk, uint64_t& remaining, int depth) {
  return HandleIdx1(chunk, segment_, segmentFlags_, remaining, depth);
}

int CAVIParser::HandleSegmentList(const AviSubChunk& chunk, uint64_t& remaining, int depth) {
  if (chunk.size < 4) return HandleOtherSegmentChunk(chunk, remaining, depth);
  const uint16_t segment = segment_;
  SegmentFlags& flags = segmentFlags_;
  uint32_t listType = 0;
  if (!ReadToken(listType, depth)) return kStop;
  if (listType == kHdrlId) return HandleHeaderList(chunk, segment, flags, remaining, depth);
  if (listType == kMoviId) return HandleMoviList(chunk, segment, flags, remaining, depth);
  if (listType == kInfoId || listType == kUnfoId) {
    const int inner = chunks_.ChunkLine(chunk, listType, "RIFF Info List", depth);
    const int result = WalkInfoList(chunk.size - 4, inner);
    if (!AviChunkReader::IsMetCode(result)) return result;
    report_.Message(kRecovered, inner, kError);
    chunks_.GiveBackRest(chunk, remaining);
    return kHandled;
  }
  if (listType == kPrmiId) {
    overheadSize_ += uint64_t{chunk.size} + 8;
    return chunks_.SkipNamedChunk(chunk, listType, "AVI Adobe Premiere Info List", false, depth);
  }
  if (listType == kTdatId) {
    return chunks_.WalkGenericList(chunk, listType, "AVI Adobe Premiere Timecode List", false,
                                   depth);
  }
  if (listType == kUvioId)
    return chunks_.WalkGenericList(chunk, listType, "AVI ??? List", false, depth);
  return chunks_.WalkGenericList(chunk, listType, "", true, depth);
}

int CAVIParser::HandleHeaderList(const AviSubChunk& chunk, uint16_t segment, SegmentFlags& flags,
                                 uint64_t& remaining, int depth) {
  const int inner = chunks_.ChunkLine(chunk, kHdrlId, "AVI Header List", depth);
  if (flags.hdrl || segment != 1) {
    flags.hdrl = true;
    report_.Message(kDuplicateIgnored, inner, kError);
    return chunks_.FinishChunk(chunk, inner) ? kHandled : kStop;
  }
  if (flags.movi || flags.idx1) report_.Message(kOutOfSequence, inner, kError);
  flags.hdrl = true;
  const int result = headerList_.Walk(chunk, inner);
  if (result == kStop) return kStop;
  if (AviChunkReader::IsMetCode(result)) {
    chunks_.GiveBackRest(chunk, remaining);
  } else if (!chunks_.FinishChunk(chunk, 0)) {
    return kStop;
  }
  movi_.ReserveEntries();
  movi_.AddDvAudioStream();
  return kHandled;
}

int CAVIParser::HandleMoviList(const AviSubChunk& chunk, uint16_t segment, SegmentFlags& flags,
                               uint64_t& remaining, int depth) {
  const int inner = chunks_.ChunkLine(chunk, kMoviId, "AVI movi List", depth);
  if (flags.movi || flags.idx1 || (segment == 1 && !flags.hdrl)) {
    report_.Message(kDuplicateOrOutOfSequence, inner, kError);
  }
  flags.movi = true;
  context_.findings.moviListPosition = chunk.BodyStart();
  const int result = movi_.Scan(chunk.size - 4, chunk.BodyStart() + chunk.declared, segment, inner);
  return FinishIndexedChunk(chunk, result, remaining, inner);
}

int CAVIParser::HandleIdx1(const AviSubChunk& chunk, uint16_t segment, SegmentFlags& flags,
                           uint64_t& remaining, int depth) {
  const int inner = chunks_.ChunkLine(chunk, 0, "AVI Old Index Chunk", depth);
  if (flags.idx1 || !flags.movi || (segment == 1 && !flags.hdrl)) {
    report_.Message(kDuplicateOrOutOfSequence, inner, kError);
  }
  flags.idx1 = true;
  context_.findings.idx1Met = true;
  const int result = idx1_.Parse(chunk.size, inner);
  return FinishIndexedChunk(chunk, result, remaining, inner);
}

int CAVIParser::FinishIndexedChunk(const AviSubChunk& chunk, int result, uint64_t& remaining,
                                   int depth) {
  if (result == kStop) return kStop;
  if (CurrentPosition() > chunk.BodyStart() + AlignedSize(chunk.size)) {
    // A 'movi' list with a stale size went on behind its declared end, and
    // so does its segment: up to the next segment, or to the end of the file.
    remaining = result == kMetRiff ? 0 : RemainingInFile();
  } else if (AviChunkReader::IsMetCode(result)) {
    chunks_.GiveBackRest(chunk, remaining);
  } else if (chunks_.OmitsPadByte(chunk)) {
    // An odd-sized list whose writer left out the pad byte (a size fixed
    // up after garbage of odd length was put in, say): the next header
    // follows at once.
    ++remaining;
  } else if (!chunks_.FinishChunk(chunk, 0)) {
    return kStop;
  }
  matcher_.Assign(depth);
  return kHandled;
}
