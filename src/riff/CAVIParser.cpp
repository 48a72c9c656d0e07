#include "riff/CAVIParser.h"
#include "riff/AviIds.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <stdexcept>

#include "core/ByteReader.h"
#include "core/FourCC.h"
#include "riff/AviHeaderDumper.h"

namespace {

using avi::kAudsType;
using avi::kAvihId;
using avi::kDmlhId;
using avi::kHdrlId;
using avi::kIdx1Id;
using avi::kIndxId;
using avi::kJunkId;
using avi::kJunqId;
using avi::kListId;
using avi::kMoviId;
using avi::kOdmlId;
using avi::kRecId;
using avi::kRiffId;
using avi::kStrdId;
using avi::kStrfId;
using avi::kStrhId;
using avi::kStrlId;
using avi::kStrnId;

constexpr uint32_t kRifxId = FourCC("RIFX");
constexpr uint32_t kReversedListId = FourCC("TSIL");
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
constexpr uint32_t kVedtId = FourCC("vedt");
constexpr uint32_t kSegmId = FourCC("segm");
constexpr uint32_t kVprpId = FourCC("vprp");
constexpr uint32_t kStrcId = FourCC("strc");

constexpr size_t kMainHeaderSize = 56;
constexpr size_t kStreamHeaderSize = 56;
constexpr size_t kExtendedHeaderSize = 248;

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

const ToolChunk kHeaderToolChunks[] = {
    {kVedtId, "AVI MS VidEdit Chunk", false},
    {kSegmId, "AVI AVI_IO/Virtual Dub Segmented AVI", true},
};

const ToolChunk kStreamToolChunks[] = {
    {kStrcId, "AVI Vidomi Enhanced AVI Stream Chapter", false},
};

template <size_t N>
const ToolChunk* FindToolChunk(const ToolChunk (&table)[N], uint32_t token) {
  for (const ToolChunk& entry : table) {
    if (entry.token == token) return &entry;
  }
  return nullptr;
}

bool IsDigit(uint8_t c) { return c >= '0' && c <= '9'; }
bool IsLetter(uint8_t c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

bool IsMetCode(int result) {
  return result == CRIFFParser::kMetRiff || result == CRIFFParser::kMetMovi ||
         result == CRIFFParser::kMetIdx1;
}

// Text of a stream name: up to its first zero byte, control characters shown
// as blanks so that the name cannot break the report's lines.
std::string StreamNameText(const std::vector<uint8_t>& body) {
  std::string name;
  for (uint8_t c : body) {
    if (c == 0) break;
    name += c < 0x20 ? ' ' : static_cast<char>(c);
  }
  return name;
}

}  // namespace

CAVIParser::CAVIParser(RunOptions options, ReportOutput& output)
    : CRIFFParser(std::move(options), output) {}

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

bool CAVIParser::IsPlausibleChunkId(uint32_t token) const {
  if (token == kListId || token == kJunkId || token == kRiffId || token == kRecId ||
      token == kIdx1Id) {
    return true;
  }
  const uint8_t c0 = FourCCByte(token, 0), c1 = FourCCByte(token, 1);
  const uint8_t c2 = FourCCByte(token, 2), c3 = FourCCByte(token, 3);
  if (c2 == '_' && c3 == '_') return true;
  const bool namesStream = model_.StreamNumber(token) >= 0;
  if (IsDigit(c0) && IsDigit(c1)) {
    // '##32' and '##xx' with a two-letter type.
    return namesStream && ((c2 == '3' && c3 == '2') || (IsLetter(c2) && IsLetter(c3)));
  }
  // 'ix##' and the like: two letters, then the stream number.
  return IsLetter(c0) && IsLetter(c1) && IsDigit(c2) && IsDigit(c3) && namesStream;
}

// ---------------------------------------------------------------------------
// Top level: the segments and whatever lies between them

bool CAVIParser::RunTopLevel(int depth) {
  progressCounter_ = 0;
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
    if (IsPlausibleChunkId(token)) {
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
    if (!RecoverGarbledData(dataDepth, kTopLevelSearchLimit, token, consumed)) {
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
  SettleDoubtfulChunks(inner);
  if (aviSegmentSeen_ && !options_.scan.switchXi) RunStatistics(inner);
  return ok;
}

bool CAVIParser::ReadRawSize(uint32_t& size, int depth) {
  uint8_t bytes[4];
  if (!ReadChecked(bytes, 4, depth, true)) return false;
  size = ByteReader(bytes, 4, bigEndian_).U32();
  return true;
}

int CAVIParser::HandleTopLevelSegment(uint32_t token, int depth) {
  uint32_t size = 0;
  if (!ReadRawSize(size, depth)) return kStop;
  const uint64_t headerPos = CurrentPosition() - 8;
  const uint32_t declared = size;
  segmentDeclaredEnd_ = headerPos + 8 + AlignedSize(declared);
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

// ---------------------------------------------------------------------------
// Segments

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
    moviListPosition_ = CurrentPosition() - 4;
    return ScanMovi(body, CurrentPosition() + body, segment, inner);
  }
  const int inner = ChunkHeaderLine(token, form, size, headerPos, "RIFF Unknown Chunk", depth);
  return WalkList(size - 4, inner);
}

int CAVIParser::WalkSegmentBody(uint64_t remaining, uint16_t segment, int depth) {
  SegmentFlags flags;
  int result = kHandled;
  while (remaining >= 8 && CurrentPosition() < FileSize()) {
    SubChunk chunk;
    if (!ReadSubChunk(chunk, depth)) return kStop;
    if (chunk.token == kRiffId || chunk.token == kMoviId) {
      // Where a sub-chunk was expected: the segment declared too large a
      // size and ran into the next segment or into a list.
      const int inner = ChunkLine(chunk, 0, "", depth);
      result = StepBackOnto(chunk.token, chunk.headerPos, inner);
      break;
    }
    FitToList(chunk, remaining, depth);
    int handled;
    if (chunk.token == kListId && chunk.size >= 4) {
      handled = HandleSegmentList(chunk, segment, flags, remaining, depth);
    } else if (chunk.token == kIdx1Id || chunk.token == kIdxxId) {
      handled = HandleIdx1(chunk, segment, flags, remaining, depth);
    } else if (const ToolChunk* tool = FindToolChunk(kSegmentToolChunks, chunk.token)) {
      handled = SkipNamedChunk(chunk, 0, tool->name, tool->warn, depth);
    } else {
      handled = HandleOtherChunk(chunk, depth);
    }
    if (handled == kStop) return kStop;
  }
  if (result == kHandled && EndOfList(remaining, depth) == kStop) return kStop;
  // Extension segments carry no header list of their own.
  if (!flags.hdrl && segment == 1) report_.Message("Missing 'hdrl'-Chunk!", depth, kError);
  if (!flags.movi) report_.Message("Missing 'movi'-Chunk!", depth, kError);
  return result;
}

int CAVIParser::HandleSegmentList(const SubChunk& chunk, uint16_t segment, SegmentFlags& flags,
                                  uint64_t& remaining, int depth) {
  uint32_t listType = 0;
  if (!ReadToken(listType, depth)) return kStop;
  if (listType == kHdrlId) return HandleHeaderList(chunk, segment, flags, remaining, depth);
  if (listType == kMoviId) return HandleMoviList(chunk, segment, flags, remaining, depth);
  if (listType == kInfoId || listType == kUnfoId) {
    const int inner = ChunkLine(chunk, listType, "RIFF Info List", depth);
    const int result = WalkInfoList(chunk.size - 4, inner);
    if (!IsMetCode(result)) return result;
    report_.Message(kRecovered, inner, kError);
    GiveBackRest(chunk, remaining);
    return kHandled;
  }
  if (listType == kPrmiId) {
    overheadSize_ += uint64_t{chunk.size} + 8;
    return SkipNamedChunk(chunk, listType, "AVI Adobe Premiere Info List", false, depth);
  }
  if (listType == kTdatId) {
    return WalkGenericList(chunk, listType, "AVI Adobe Premiere Timecode List", false, depth);
  }
  if (listType == kUvioId) return WalkGenericList(chunk, listType, "AVI ??? List", false, depth);
  return WalkGenericList(chunk, listType, "", true, depth);
}

int CAVIParser::HandleHeaderList(const SubChunk& chunk, uint16_t segment, SegmentFlags& flags,
                                 uint64_t& remaining, int depth) {
  const int inner = ChunkLine(chunk, kHdrlId, "AVI Header List", depth);
  if (flags.hdrl || segment != 1) {
    flags.hdrl = true;
    report_.Message(kDuplicateIgnored, inner, kError);
    return FinishChunk(chunk, inner) ? kHandled : kStop;
  }
  if (flags.movi || flags.idx1) report_.Message(kOutOfSequence, inner, kError);
  flags.hdrl = true;
  LookAheadAtHeaderList(CurrentPosition(), CurrentPosition() + ListBodySize(chunk));
  const int result = WalkHeaderList(ListBodySize(chunk), inner);
  if (result == kStop) return kStop;
  if (IsMetCode(result)) {
    GiveBackRest(chunk, remaining);
  } else if (!FinishChunk(chunk, 0)) {
    return kStop;
  }
  ReserveMoviEntries();
  AddDvAudioStream();
  return kHandled;
}

int CAVIParser::HandleMoviList(const SubChunk& chunk, uint16_t segment, SegmentFlags& flags,
                               uint64_t& remaining, int depth) {
  const int inner = ChunkLine(chunk, kMoviId, "AVI movi List", depth);
  if (flags.movi || flags.idx1 || (segment == 1 && !flags.hdrl)) {
    report_.Message(kDuplicateOrOutOfSequence, inner, kError);
  }
  flags.movi = true;
  moviListPosition_ = chunk.BodyStart();
  const int result = ScanMovi(chunk.size - 4, chunk.BodyStart() + chunk.declared, segment, inner);
  return FinishIndexedChunk(chunk, result, remaining, inner);
}

int CAVIParser::HandleIdx1(const SubChunk& chunk, uint16_t segment, SegmentFlags& flags,
                           uint64_t& remaining, int depth) {
  const int inner = ChunkLine(chunk, 0, "AVI Old Index Chunk", depth);
  if (flags.idx1 || !flags.movi || (segment == 1 && !flags.hdrl)) {
    report_.Message(kDuplicateOrOutOfSequence, inner, kError);
  }
  flags.idx1 = true;
  idx1Met_ = true;
  const int result = ParseIdx1(chunk.size, inner);
  return FinishIndexedChunk(chunk, result, remaining, inner);
}

int CAVIParser::FinishIndexedChunk(const SubChunk& chunk, int result, uint64_t& remaining,
                                   int depth) {
  if (result == kStop) return kStop;
  if (CurrentPosition() > chunk.BodyStart() + AlignedSize(chunk.size)) {
    // A 'movi' list with a stale size went on behind its declared end, and
    // so does its segment: up to the next segment, or to the end of the file.
    remaining = result == kMetRiff ? 0 : RemainingInFile();
  } else if (IsMetCode(result)) {
    GiveBackRest(chunk, remaining);
  } else if (OmitsPadByte(chunk)) {
    // An odd-sized list whose writer left out the pad byte (a size fixed
    // up after garbage of odd length was put in, say): the next header
    // follows at once.
    ++remaining;
  } else if (!FinishChunk(chunk, 0)) {
    return kStop;
  }
  AssignIndexToMovi(depth);
  return kHandled;
}

void CAVIParser::ReserveMoviEntries() {
  if (!RecordsMoviEntries()) return;
  // The frame counts come from the file: each chunk needs at least its 8-byte
  // header, so the file can hold no more than a size / 8 of them.
  uint64_t frames = model_.avihSeen ? model_.MainHeader().totalFrames : 0;
  uint64_t nonAudio = 0;
  for (size_t i = 0; i < model_.streams.size(); ++i) {
    if (!model_.streams[i].strhSeen) continue;
    const AviStreamHeader header = model_.StreamHeader(i);
    if (header.type != kAudsType) nonAudio += header.length;
  }
  frames = std::max(frames, nonAudio);
  if (model_.dmlhSeen) {
    frames = std::max<uint64_t>(frames, ByteReader(model_.dmlh.data(), 4, model_.bigEndian).U32());
  }
  const uint64_t wanted = std::min(2 * frames, FileSize() / 8 + 1);
  if (wanted <= model_.movi.capacity()) return;
  try {
    model_.movi.reserve(static_cast<size_t>(wanted));
  } catch (const std::bad_alloc&) {
    // Only a head start for the scan: the list still grows as needed.
  } catch (const std::length_error&) {
  }
}

// ---------------------------------------------------------------------------
// The header list

int CAVIParser::WalkHeaderList(uint64_t remaining, int depth) {
  int result = kHandled;
  while (remaining >= 8 && CurrentPosition() < FileSize()) {
    SubChunk chunk;
    if (!ReadSubChunk(chunk, depth)) return kStop;
    result = CheckRunIntoNext(chunk, depth);
    if (result != kHandled) break;
    FitToList(chunk, remaining, depth);
    int handled;
    if (IsListToken(chunk.token) && chunk.size >= 4) {
      handled = HandleHeaderSubList(chunk, depth);
    } else if (chunk.token == kAvihId) {
      handled = HandleMainHeader(chunk, depth);
    } else if (const ToolChunk* tool = FindToolChunk(kHeaderToolChunks, chunk.token)) {
      handled = SkipNamedChunk(chunk, 0, tool->name, tool->warn, depth);
    } else {
      handled = HandleOtherChunk(chunk, depth);
    }
    if (handled == kStop) return kStop;
    if (IsMetCode(handled)) {
      result = handled;
      break;
    }
  }
  if (result == kStop) return kStop;
  if (result == kHandled && EndOfList(remaining, depth) == kStop) return kStop;
  if (!model_.avihSeen) report_.Message("Missing 'avih'-Chunk!", depth, kError);
  if (streamListCount_ == 0) report_.Message("Missing 'strl'-Chunk!", depth, kError);
  return result;
}

void CAVIParser::LookAheadAtHeaderList(uint64_t begin, uint64_t end) {
  bool streams = false;
  bool video = false;
  end = std::min(end, FileSize());
  uint8_t head[12];
  for (uint64_t at = begin; at + 12 <= end && ReadAt(at, head, sizeof head);) {
    const uint32_t token = FourCCFromBytes(head);
    const uint32_t size = ByteReader(head + 4, 4, bigEndian_).U32();
    const uint32_t listType = FourCCFromBytes(head + 8);
    const uint64_t next = at + 8 + AlignedSize(size);
    if (IsListToken(token) && listType == kStrlId) {
      const uint32_t type = StreamTypeIn(at + 12, std::min(next, end));
      streams = streams || type != 0;
      video = video || type == FourCC("vids") || type == FourCC("iavs");
    }
    if (token == kListId && listType == kOdmlId) model_.odmlAnnounced = true;
    at = next;
  }
  model_.videoAnnounced = video || !streams;
}

uint32_t CAVIParser::StreamTypeIn(uint64_t begin, uint64_t end) {
  uint8_t head[12];
  for (uint64_t at = begin; at + 12 <= end && ReadAt(at, head, sizeof head);) {
    if (FourCCFromBytes(head) == kStrhId) return FourCCFromBytes(head + 8);
    at += 8 + AlignedSize(ByteReader(head + 4, 4, bigEndian_).U32());
  }
  return 0;
}

int CAVIParser::HandleHeaderSubList(const SubChunk& chunk, int depth) {
  uint32_t listType = 0;
  if (!ReadToken(listType, depth)) return kStop;
  if (listType == kStrlId) return HandleStreamList(chunk, depth);
  if (chunk.token == kListId && listType == kOdmlId) return HandleOdmlList(chunk, depth);
  if (chunk.token == kListId && (listType == kInfoId || listType == kUnfoId)) {
    const int inner = ChunkLine(chunk, listType, "RIFF Info List", depth);
    const int result = WalkInfoList(chunk.size - 4, inner);
    // The header list ran into what follows it: it ends there too.
    if (IsMetCode(result)) report_.Message(kRecovered, inner, kError);
    return result;
  }
  return SkipNamedChunk(chunk, listType, "", true, depth);
}

int CAVIParser::HandleMainHeader(const SubChunk& chunk, int depth) {
  const int inner = ChunkLine(chunk, 0, "AVI Main Header", depth);
  if (model_.avihSeen) {
    report_.Message(kDuplicateIgnored, inner, kError);
    return FinishChunk(chunk, inner) ? kHandled : kStop;
  }
  if (streamListCount_ > 0 || odmlListSeen_) report_.Message(kOutOfSequence, inner, kError);
  std::vector<uint8_t> body;
  if (!ReadChunkBody(chunk, body, chunk.size, inner)) return kStop;
  // A short header is interpreted with its missing fields as zero.
  model_.avih.fill(0);
  std::copy_n(body.begin(), std::min(body.size(), kMainHeaderSize), model_.avih.begin());
  model_.avihSeen = true;
  AviHeaderDumper(*this, model_)
      .DumpMainHeader(body.data(), static_cast<uint32_t>(body.size()), inner);
  return FinishChunk(chunk, 0) ? kHandled : kStop;
}

int CAVIParser::HandleStreamList(const SubChunk& chunk, int depth) {
  const uint32_t listNumber = streamListCount_;
  const int inner =
      ChunkLine(chunk, kStrlId, "AVI Stream List #" + std::to_string(listNumber), depth);
  if (!model_.avihSeen || odmlListSeen_) {
    report_.Message("Unexpected out-of-sequence Token!", inner, kError);
  }
  ++streamListCount_;
  if (uint64_t{listNumber} + 1 > MainHeaderStreams()) {
    report_.Message("Stream count greater than AVI Main Header Streams!", inner, kError);
  }
  if (model_.streams.size() >= kMaxStreams) {
    report_.Message("More than 100 Stream Lists, ignored!", inner, kError);
    return FinishChunk(chunk, inner) ? kHandled : kStop;
  }
  const int result = WalkStreamList(ListBodySize(chunk), inner);
  if (result == kHandled && !FinishChunk(chunk, 0)) return kStop;
  return result;
}

int CAVIParser::HandleOdmlList(const SubChunk& chunk, int depth) {
  const int inner = ChunkLine(chunk, kOdmlId, "AVI OpenDML 1.02 Header List", depth);
  if (odmlListSeen_) {
    report_.Message(kDuplicateIgnored, inner, kError);
    return FinishChunk(chunk, inner) ? kHandled : kStop;
  }
  if (!model_.avihSeen || streamListCount_ == 0) report_.Message(kOutOfSequence, inner, kError);
  odmlListSeen_ = true;
  model_.dmlhSeen = true;
  const int result = WalkOdmlList(ListBodySize(chunk), inner);
  if (result == kHandled && !FinishChunk(chunk, 0)) return kStop;
  return result;
}

int CAVIParser::WalkOdmlList(uint64_t remaining, int depth) {
  int result = kHandled;
  bool first = true;
  while (remaining >= 8 && CurrentPosition() < FileSize()) {
    SubChunk chunk;
    if (!ReadSubChunk(chunk, depth)) return kStop;
    result = CheckRunIntoNext(chunk, depth);
    if (result != kHandled) break;
    FitToList(chunk, remaining, depth);
    if (first && chunk.token != kDmlhId) {
      report_.Message("Unexpected Token, expected 'dmlh'!", depth, kError);
    }
    first = false;
    const int handled = chunk.token == kDmlhId ? HandleExtendedHeader(chunk, depth)
                                               : HandleOtherChunk(chunk, depth);
    if (handled == kStop) return kStop;
  }
  if (result == kStop) return kStop;
  if (result == kHandled && EndOfList(remaining, depth) == kStop) return kStop;
  return result;
}

int CAVIParser::HandleExtendedHeader(const SubChunk& chunk, int depth) {
  const int inner = ChunkLine(chunk, 0, "AVI ODML Header", depth);
  if (chunk.size != kExtendedHeaderSize) {
    report_.Message("Unknown Token Size, expected " + std::to_string(kExtendedHeaderSize) + "!",
                    inner, kWarning);
  }
  std::vector<uint8_t> body;
  if (!ReadChunkBody(chunk, body, kExtendedHeaderSize, inner)) return kStop;
  model_.dmlh.fill(0);
  std::copy(body.begin(), body.end(), model_.dmlh.begin());
  AviHeaderDumper(*this, model_)
      .DumpExtendedHeader(body.data(), static_cast<uint32_t>(body.size()), inner);
  return FinishChunk(chunk, 0) ? kHandled : kStop;
}

// ---------------------------------------------------------------------------
// Stream lists

int CAVIParser::WalkStreamList(uint64_t remaining, int depth) {
  // One stream per stream list, so that the stream numbers of the chunk ids
  // stay those of the lists even when a list is empty.
  model_.streams.emplace_back();
  StreamListFlags flags;
  flags.stream = model_.streams.size() - 1;
  int result = kHandled;
  while (remaining >= 8 && CurrentPosition() < FileSize()) {
    SubChunk chunk;
    if (!ReadSubChunk(chunk, depth)) return kStop;
    result = CheckRunIntoNext(chunk, depth);
    if (result != kHandled) break;
    FitToList(chunk, remaining, depth);
    if (HandleStreamChunk(chunk, flags, depth) == kStop) return kStop;
  }
  if (result == kStop) return kStop;
  if (result == kHandled && EndOfList(remaining, depth) == kStop) return kStop;
  if (!flags.strh) report_.Message("Missing 'strh'-Chunk!", depth, kError);
  return result;
}

int CAVIParser::HandleStreamChunk(const SubChunk& chunk, StreamListFlags& flags, int depth) {
  switch (chunk.token) {
    case kStrhId:
      return HandleStreamHeader(chunk, flags, depth);
    case kStrfId:
      return HandleStreamFormat(chunk, flags, depth);
    case kStrdId:
    case kStrnId:
    case kVprpId:
      return HandleOptionalStreamChunk(chunk, flags, depth);
    case kIndxId:
      return HandleStreamIndex(chunk, flags, depth);
    case kJunkId:
    case kJunqId:
      return HandleKnownChunk(chunk.token, chunk.size, depth);
    default:
      break;
  }
  if (const ToolChunk* tool = FindToolChunk(kStreamToolChunks, chunk.token)) {
    return SkipNamedChunk(chunk, 0, tool->name, tool->warn, depth);
  }
  uint32_t listType = 0;
  if (IsListToken(chunk.token) && chunk.size >= 4 && !ReadToken(listType, depth)) return kStop;
  return SkipNamedChunk(chunk, listType, "", true, depth);
}

int CAVIParser::HandleStreamHeader(const SubChunk& chunk, StreamListFlags& flags, int depth) {
  const int inner = ChunkLine(chunk, 0, "AVI StreamHeader", depth);
  if (flags.strh) {
    report_.Message(kDuplicateIgnored, inner, kError);
    return FinishChunk(chunk, inner) ? kHandled : kStop;
  }
  std::vector<uint8_t> body;
  if (!ReadChunkBody(chunk, body, chunk.size, inner)) return kStop;
  flags.strh = true;
  AviStream& stream = model_.streams[flags.stream];
  stream.strh.fill(0);
  std::copy_n(body.begin(), std::min(body.size(), kStreamHeaderSize), stream.strh.begin());
  stream.strhSeen = true;
  AviHeaderDumper(*this, model_)
      .DumpStreamHeader(flags.stream, body.data(), static_cast<uint32_t>(body.size()), inner);
  return FinishChunk(chunk, 0) ? kHandled : kStop;
}

int CAVIParser::HandleStreamFormat(const SubChunk& chunk, StreamListFlags& flags, int depth) {
  const int inner = ChunkLine(chunk, 0, "AVI StreamFormat", depth);
  if (!flags.strh) report_.Message(kOutOfSequence, inner, kError);
  AviStream& stream = model_.streams[flags.stream];
  if (!ReadChunkBody(chunk, stream.strf, chunk.size, inner)) return kStop;
  AviHeaderDumper(*this, model_)
      .DumpStreamFormat(flags.stream, stream.strf.data(), static_cast<uint32_t>(stream.strf.size()),
                        inner);
  return FinishChunk(chunk, 0) ? kHandled : kStop;
}

int CAVIParser::HandleOptionalStreamChunk(const SubChunk& chunk, StreamListFlags& flags,
                                          int depth) {
  const char* name = chunk.token == kStrdId   ? "AVI Additional Stream Data"
                     : chunk.token == kStrnId ? "AVI Stream Name"
                                              : "AVI Stream Video Property Header";
  bool& seen = chunk.token == kStrdId   ? flags.strd
               : chunk.token == kStrnId ? flags.strn
                                        : flags.vprp;
  const int inner = ChunkLine(chunk, 0, name, depth);
  if (seen) {
    report_.Message(kDuplicateIgnored, inner, kError);
    return FinishChunk(chunk, inner) ? kHandled : kStop;
  }
  if (!flags.strh) report_.Message(kOutOfSequence, inner, kError);
  seen = true;
  std::vector<uint8_t> body;
  if (!ReadChunkBody(chunk, body, chunk.size, inner)) return kStop;
  AviStream& stream = model_.streams[flags.stream];
  if (chunk.token == kStrdId) {
    // Codec data, kept for the writer; its first bytes are shown.
    const size_t shown =
        static_cast<size_t>(std::min<uint64_t>(body.size(), options_.report.dumpLimit));
    if (shown > 0 && options_.report.verbosity > 0) {
      report_.HexDump(body.data(), shown, inner, options_.report.verbosity);
    }
    stream.strd = std::move(body);
  } else if (chunk.token == kStrnId) {
    stream.name = StreamNameText(body);
    report_.PlainLine("00 Name: \"" + stream.name + "\"", inner);
  } else {
    AviHeaderDumper(*this, model_)
        .DumpVideoProperties(body.data(), static_cast<uint32_t>(body.size()), inner);
  }
  return FinishChunk(chunk, 0) ? kHandled : kStop;
}

int CAVIParser::HandleStreamIndex(const SubChunk& chunk, StreamListFlags& flags, int depth) {
  const int inner = ChunkLine(chunk, 0, "AVI Stream Index", depth);
  AviStream& stream = model_.streams[flags.stream];
  if (!ReadChunkBody(chunk, stream.indx, chunk.size, inner)) return kStop;
  ParseSuperIndex(flags.stream, stream.indx, inner);
  return FinishChunk(chunk, 0) ? kHandled : kStop;
}

// ---------------------------------------------------------------------------
// Pieces shared by the walkers

bool CAVIParser::ReadSubChunk(SubChunk& chunk, int depth) {
  chunk.headerPos = CurrentPosition();
  if (!ReadToken(chunk.token, depth) || !ReadChunkSize(chunk.size, depth)) return false;
  chunk.declared = chunk.size;
  return true;
}

int CAVIParser::CheckRunIntoNext(const SubChunk& chunk, int depth) {
  if (chunk.token == kRiffId || chunk.token == kMoviId || chunk.token == kIdx1Id) {
    return StepBackOnto(chunk.token, chunk.headerPos, depth);
  }
  if (chunk.token != kListId || chunk.size < 4) return kHandled;
  // A 'movi' list where a header sub-chunk was expected: the list type is
  // looked at without being consumed.
  uint32_t listType = 0;
  if (!ReadToken(listType, depth) || !Skip(-4, true)) return kStop;
  return listType == kMoviId ? StepBackOnto(kMoviId, chunk.headerPos, depth) : kHandled;
}

int CAVIParser::StepBackOnto(uint32_t token, uint64_t headerPos, int depth) {
  const int code = token == kRiffId   ? kMetRiff
                   : token == kMoviId ? kMetMovi
                   : token == kIdx1Id ? kMetIdx1
                                      : kHandled;
  if (code == kHandled) return kHandled;
  report_.Message(kRecovered, depth, kError);
  const uint64_t position = CurrentPosition();
  if (!Skip(-static_cast<int64_t>(position - headerPos), true)) return kStop;
  return code;
}

void CAVIParser::FitToList(SubChunk& chunk, uint64_t& remaining, int depth) {
  // remaining >= 8 here: the walkers only read a header while 8 bytes remain.
  const uint64_t room = remaining - 8;
  if (chunk.size > room) {
    report_.Message("Token Size (" + Report::NumberText(chunk.size) + ") greater Chunk Size (" +
                        Report::NumberText(room) + ")!",
                    depth, kError);
    if (options_.scan.subchunkEnforcesParentSize) {
      remaining = 8 + AlignedSize(chunk.size);
    } else {
      chunk.size = static_cast<uint32_t>(room);
    }
  }
  // A pad byte the list has no room for is not charged to it.
  remaining -= std::min(remaining, 8 + AlignedSize(chunk.size));
}

void CAVIParser::GiveBackRest(const SubChunk& chunk, uint64_t& remaining) {
  const uint64_t chunkEnd = chunk.BodyStart() + AlignedSize(chunk.size);
  const uint64_t position = CurrentPosition();
  if (chunkEnd > position) remaining += chunkEnd - position;
}

int CAVIParser::EndOfList(uint64_t remaining, int depth) {
  if (remaining == 0) return kHandled;
  if (remaining < 8) report_.Message(kSizeMismatch, depth, kError);
  const bool inFile = remaining <= RemainingInFile();
  SkipChecked(remaining, depth + 1);
  return inFile ? kHandled : kStop;
}

uint64_t CAVIParser::ListBodySize(const SubChunk& chunk) {
  // The bytes behind the list type, with the pad byte where the file has it.
  const uint64_t typeEnd = chunk.BodyStart() + 4;
  const uint64_t bodyEnd = chunk.BodyStart() + chunk.size;
  uint64_t end = chunk.BodyStart() + AlignedSize(chunk.size);
  if (end > FileSize() && bodyEnd <= FileSize()) end = bodyEnd;
  return end > typeEnd ? end - typeEnd : 0;
}

bool CAVIParser::ReadChunkBody(const SubChunk& chunk, std::vector<uint8_t>& body, uint64_t limit,
                               int depth) {
  const uint64_t bodyEnd = chunk.BodyStart() + chunk.size;
  const uint64_t position = CurrentPosition();
  const uint64_t count = std::min(bodyEnd > position ? bodyEnd - position : 0, limit);
  // Checked before anything is allocated: the size came from the file.
  if (count > RemainingInFile()) {
    report_.Message(kPrematureEnd, depth, kFatal);
    return false;
  }
  body.assign(static_cast<size_t>(count), 0);
  return count == 0 || ReadChecked(body.data(), count, depth, true);
}

bool CAVIParser::OmitsPadByte(const SubChunk& chunk) {
  const uint64_t end = chunk.BodyStart() + chunk.size;
  return wordAligned_ && (chunk.size & 1) != 0 && CurrentPosition() == end && end < FileSize() &&
         !TakePadByte(end, true);
}

bool CAVIParser::FinishChunk(const SubChunk& chunk, int depth) {
  const uint64_t bodyEnd = chunk.BodyStart() + chunk.size;
  uint64_t position = CurrentPosition();
  if (position < bodyEnd) {
    const uint64_t count = bodyEnd - position;
    const bool inFile = count <= RemainingInFile();
    SkipChecked(count, depth);
    if (!inFile) return false;
  }
  // The pad byte is skipped unseen; the last chunk of a file may lack it.
  const uint64_t alignedEnd = chunk.BodyStart() + AlignedSize(chunk.size);
  position = CurrentPosition();
  if (position < alignedEnd && position < FileSize()) SkipChecked(alignedEnd - position, 0);
  return true;
}

int CAVIParser::SkipNamedChunk(const SubChunk& chunk, uint32_t listType, const char* name,
                               bool warn, int depth) {
  const int inner = ChunkLine(chunk, listType, name, depth);
  if (warn) report_.Message(kUnexpectedToken, inner, kWarning);
  return FinishChunk(chunk, inner) ? kHandled : kStop;
}

int CAVIParser::WalkGenericList(const SubChunk& chunk, uint32_t listType, const std::string& name,
                                bool warn, int depth) {
  const int inner = ChunkLine(chunk, listType, name, depth);
  if (warn) report_.Message(kUnexpectedToken, inner, kWarning);
  return WalkList(chunk.size - 4, inner);
}

int CAVIParser::HandleOtherChunk(const SubChunk& chunk, int depth) {
  const int result = HandleKnownChunk(chunk.token, chunk.size, depth);
  if (result != kNotKnown) return result;
  return SkipNamedChunk(chunk, 0, "", true, depth);
}

int CAVIParser::ChunkLine(const SubChunk& chunk, uint32_t listType, const std::string& name,
                          int depth) {
  return ChunkHeaderLine(chunk.token, listType, chunk.size, chunk.headerPos, name, depth);
}

bool CAVIParser::IsListToken(uint32_t token) {
  return token == kListId || token == kReversedListId;
}

bool CAVIParser::RecordsMoviEntries() const {
  return !outputPath_.empty() || options_.scan.checkIndexes;
}

uint32_t CAVIParser::MainHeaderStreams() const {
  return model_.avihSeen ? model_.MainHeader().streams : 0;
}
