#include "riff/AviMoviScanner.h"

#include <algorithm>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <utility>

#include "core/ByteReader.h"
#include "core/FourCC.h"
#include "core/StructDesc.h"
#include "core/StructureDumper.h"
#include "core/TryReserve.h"
#include "riff/AviIds.h"
#include "riff/AviOdmlIndexReader.h"
#include "riff/AviStatistics.h"

namespace {

constexpr int kHandled = CRIFFParser::kHandled;
constexpr int kStop = CRIFFParser::kStop;
constexpr int kMetRiff = CRIFFParser::kMetRiff;
constexpr uint32_t kNoChunkSize = CParser::kNoChunkSize;
constexpr const char* kPrematureEnd = CParser::kPrematureEnd;
constexpr const char* kUnexpectedToken = CRIFFParser::kUnexpectedToken;
constexpr const char* kSizeMismatch = CRIFFParser::kSizeMismatch;

using avi::kAudsType;
using avi::kIavsType;
using avi::kIdx1Id;
using avi::kInterleavedFlag;
using avi::kJunkId;
using avi::kJunqId;
using avi::kListId;
using avi::kMidsType;
using avi::kRecId;
using avi::kRiffId;
using avi::kTxtsType;
using avi::kVidsType;

constexpr uint32_t kSubsType = FourCC("subs");

// Entries this large always get their header line.
constexpr uint32_t kAlwaysShownSize = 1000000;
// Partial parsing never stops before this many entries.
constexpr uint32_t kMinimumParsedEntries = 25;
// Bytes shown around the position where a read of the list failed.
constexpr uint32_t kErrorContextWindow = 128;
// The main header flag of files whose audio and video are interleaved.

// Results of the scan's steps besides the chunk results of CRIFFParser.
constexpr int kResyncToken = 100;  // the token is no chunk id
constexpr int kResyncChunk = 101;  // the chunk does not fit the file or the list
constexpr int kListDone = 102;     // partial parsing: the rest of the list is passed over

// How the chunks of a stream are treated, from its stream header.
enum class StreamKind : uint8_t { kAudio, kVideo, kDvVideo, kSubtitle, kText, kUnknown };

bool IsDigit(uint8_t c) { return c >= '0' && c <= '9'; }

bool DigitsFirst(uint32_t id) { return IsDigit(FourCCByte(id, 0)) && IsDigit(FourCCByte(id, 1)); }

// The two-letter type of a chunk id: behind the stream digits, or in front of
// them when they stand last.
uint16_t TypeCode(uint32_t id) {
  return DigitsFirst(id) ? static_cast<uint16_t>(id >> 16) : static_cast<uint16_t>(id & 0xFFFF);
}

constexpr uint16_t Code(const char (&text)[3]) {
  return static_cast<uint16_t>(static_cast<uint8_t>(text[0]) | static_cast<uint8_t>(text[1]) << 8);
}

constexpr uint16_t kAudioCode = Code("wb");
constexpr uint16_t kTextCode = Code("tx");
constexpr uint16_t kPaletteCode = Code("pc");
constexpr uint16_t kIndexCode = Code("ix");

// `ix##`, and `##ix` as some writers spell it.
bool IsIndexChunkId(uint32_t id) {
  if (DigitsFirst(id)) return TypeCode(id) == kIndexCode;
  return TypeCode(id) == kIndexCode && IsDigit(FourCCByte(id, 2)) && IsDigit(FourCCByte(id, 3));
}

// After an odd-sized chunk a writer that pads to 4 bytes instead of 2 leaves
// two more zero bytes: the token read then starts with them and ends with the
// stream digits of the next chunk id.
bool IsDwordPadding(uint32_t token) {
  return FourCCByte(token, 0) == 0 && FourCCByte(token, 1) == 0 && IsDigit(FourCCByte(token, 2)) &&
         IsDigit(FourCCByte(token, 3));
}

bool IsDvHandler(uint32_t handler) {
  return handler == FourCC("dvsd") || handler == FourCC("dv25") || handler == FourCC("dv50");
}

bool IsDvFrameSize(uint32_t size) {
  return size == DvFrameAnalyzer::kFrameSize525 || size == DvFrameAnalyzer::kFrameSize625;
}

StreamKind KindOf(const AviStreamHeader& header) {
  switch (header.type) {
    case kAudsType:
      return StreamKind::kAudio;
    case kVidsType:
    case kIavsType:
      return IsDvHandler(header.handler) ? StreamKind::kDvVideo : StreamKind::kVideo;
    case kSubsType:
      return StreamKind::kSubtitle;
    case kTxtsType:
    case kMidsType:
      return StreamKind::kText;
    default:
      return StreamKind::kUnknown;
  }
}

// AVIPALCHANGE: the palette entries a `##pc` chunk replaces from the next
// frame on.
const FieldDesc kPaletteChangeFields[] = {
    {FieldType::Byte, 0, 0, "bFirstEntry"},     {FieldType::Byte, 0, 0, "bNumEntries"},
    {FieldType::Word, kHexFormat, 0, "wFlags"}, {FieldType::PlainArray, -2, 0, "peNew"},
    {FieldType::Byte, 0, 0, "peRed"},           {FieldType::Byte, 0, 0, "peGreen"},
    {FieldType::Byte, 0, 0, "peBlue"},          {FieldType::Byte, kHexFormat, 0, "peFlags"},
    {FieldType::ArrayEnd, 0, 0, nullptr},
};
const StructDesc kPaletteChange("AVI Palette Change", "", 4, 0, kPaletteChangeFields);
// A count of 0 stands for all 256 entries (a byte cannot hold 256).
const FieldDesc kWholePaletteChangeFields[] = {
    {FieldType::Byte, 0, 0, "bFirstEntry"},     {FieldType::Byte, 0, 0, "bNumEntries"},
    {FieldType::Word, kHexFormat, 0, "wFlags"}, {FieldType::PlainArray, 256, 0, "peNew"},
    {FieldType::Byte, 0, 0, "peRed"},           {FieldType::Byte, 0, 0, "peGreen"},
    {FieldType::Byte, 0, 0, "peBlue"},          {FieldType::Byte, kHexFormat, 0, "peFlags"},
    {FieldType::ArrayEnd, 0, 0, nullptr},
};
const StructDesc kWholePaletteChange("AVI Palette Change", "", 4, 0, kWholePaletteChangeFields);
constexpr size_t kPaletteCountOffset = 1;

// The 16-bit fields that open a subtitle chunk, in order.
const char* const kSubtitleFields[] = {
    "00 StartingFrame: ", "02 Duration: ", "04 Left: ",         "06 Top: ",
    "08 Right: ",         "10 Bottom: ",   "12 EvenStartPos: ", "14 OddStartPos: ",
};
constexpr size_t kSubtitleHeaderSize = 16;

// A token as characters and as its bytes in file order: "'ab  ' (61 62 00 00)".
std::string TokenText(uint32_t token) {
  static const char kDigits[] = "0123456789abcdef";
  std::string bytes;
  for (unsigned i = 0; i < 4; ++i) {
    const uint8_t byte = FourCCByte(token, i);
    if (i > 0) bytes += ' ';
    bytes += kDigits[byte >> 4];
    bytes += kDigits[byte & 15];
  }
  return CParser::FourCCText(token) + " (" + bytes + ")";
}

// Text of a payload: up to its first zero byte, control characters shown as
// blanks so that the text cannot break the report's lines.
std::string PayloadText(const uint8_t* bytes, size_t size) {
  std::string text;
  for (size_t i = 0; i < size && bytes[i] != 0; ++i) {
    text += bytes[i] < 0x20 ? ' ' : static_cast<char>(bytes[i]);
  }
  return text;
}

// PCM stereo 16-bit at `rate` samples per second.
std::vector<uint8_t> PcmFormat(uint32_t rate) {
  std::vector<uint8_t> format(16, 0);
  const uint32_t values[] = {1, 2, rate, rate * 4, 4, 16};
  const unsigned widths[] = {2, 2, 4, 4, 2, 2};
  size_t at = 0;
  for (size_t i = 0; i < 6; ++i) {
    for (unsigned b = 0; b < widths[i]; ++b)
      format[at++] = static_cast<uint8_t>(values[i] >> (8 * b));
  }
  return format;
}

}  // namespace

// Files hold millions of chunks: an entry must stay this small.
static_assert(sizeof(MoviEntry) <= 40, "MoviEntry grew");

// One chunk (or bad token) of the list, for its header line.
struct AviMoviScanner::MoviItem {
  uint32_t token = 0;
  uint32_t size = kNoChunkSize;
  uint64_t headerPos = 0;
  uint32_t number = 0;  // entry number of a data chunk
  bool junk = false;    // a `JUNK` chunk rather than an entry
  bool shown = false;   // its header line was printed
};

struct AviMoviScanner::MoviScan {
  // The counters of one chunk id, remembered so that the map of its stream
  // is searched once per id and not once per chunk.
  struct CounterSlot {
    uint32_t id = 0;
    const AviStream* stream = nullptr;
    ChunkTypeCounters* counters = nullptr;
  };

  uint64_t typePos = 0;    // the list type word ('movi' offsets count from here)
  uint64_t bodyStart = 0;  // the first byte behind it
  uint64_t listEnd = 0;    // the end of the list as declared, or as found
  bool stale = false;      // the declared size is stale: the chunks go on behind it
  uint16_t segment = 1;
  int depth = 0;
  bool records = false;  // MoviEntry records are kept
  uint32_t entries = 0;  // data chunks met
  MoviItem item;         // the chunk or token being handled
  MoviItem lastEntry;    // the last data chunk
  // MoviEntry records made for the chunk just before the current token.
  size_t recordedBefore = 0;
  // The chunk just before the current token was found by the recovery; its
  // id ends here.
  bool recoveredBefore = false;
  uint64_t recoveredIdEnd = 0;
  // Report counters; each group is reported while its counter is below the
  // trace limit.
  uint32_t placementReports = 0;  // odd start positions, unknown stream numbers
  uint32_t typeReports = 0;       // chunk types foreign to their stream, odd-size alignment
  uint32_t structureReports = 0;  // JUNK, LIST and index chunks
  uint32_t payloadReports = 0;    // subtitle, text, MIDI, palette and unknown-stream chunks
  std::vector<StreamKind> kinds;  // by stream number
  std::array<CounterSlot, 16> counterCache{};
  std::vector<uint8_t> buffer;  // the payload read last
};

AviMoviScanner::AviMoviScanner(AviParseContext& context, AviChunkReader& chunks,
                               AviOdmlIndexReader& odmlIndex, AviStatistics& statistics)
    : reader_(context.reader),
      report_(context.report),
      options_(context.options),
      model_(context.model),
      findings_(context.findings),
      chunks_(chunks),
      odmlIndex_(odmlIndex),
      statistics_(statistics) {}

AviMoviScanner::~AviMoviScanner() = default;

int AviMoviScanner::Scan(uint64_t listSize, uint64_t declaredEnd, uint16_t segment, int depth) {
  MoviScan scan;
  scan.typePos = findings_.moviListPosition;
  scan.bodyStart = reader_.CurrentPosition();
  scan.listEnd = scan.bodyStart + listSize;
  scan.segment = segment;
  scan.depth = depth;
  scan.records = findings_.recordsMoviEntries;
  if (options_.scan.switchXi && segment == 1 && odmlIndex_.BuildEntriesFromSuperIndex(depth)) {
    return reader_.Seek(std::min(scan.listEnd, reader_.FileSize())) ? kHandled : kStop;
  }
  if (segment == 1 && !options_.writer.tightAvi && (scan.typePos + 4) % 2048 != 0) {
    report_.Message("'movi' should start at n * AVI_HEADERSIZE(2048) - 4!", depth, kWarning);
  }
  scan.kinds.reserve(model_.streams.size());
  for (size_t i = 0; i < model_.streams.size(); ++i) {
    scan.kinds.push_back(model_.streams[i].strhSeen ? KindOf(model_.StreamHeader(i))
                                                    : StreamKind::kUnknown);
  }
  // A recording that was killed, or written where it could not seek back,
  // never set the sizes of its lists: the 'movi' size is what the writer put
  // there first (4, 0xFFFFEFF8, ...), and the chunks go on behind it and
  // behind the end of the segment. A size that runs past its segment is
  // taken as far as the file goes.
  if (declaredEnd > findings_.segmentDeclaredEnd) {
    scan.stale = true;
    scan.listEnd = std::max(scan.listEnd, std::min(declaredEnd, reader_.FileSize()));
  }
  const size_t extent = findings_.moviExtents.size();
  findings_.moviExtents.push_back({scan.typePos, scan.listEnd, segment});
  int result = listSize >= 4 || scan.stale ? WalkMoviList(scan) : kHandled;
  if (result == kHandled && reader_.CurrentPosition() == scan.listEnd &&
      chunks_.StreamChunkAt(scan.listEnd)) {
    // Chunks of the streams right behind the list: its size is stale too.
    scan.stale = true;
    scan.listEnd = reader_.FileSize();
    findings_.moviExtents[extent].end = scan.listEnd;
    result = WalkMoviList(scan);
  }
  findings_.moviExtents[extent].end = std::max(scan.bodyStart, reader_.CurrentPosition());
  if (scan.stale && result != kStop) {
    const uint64_t declared = declaredEnd - scan.typePos;
    const uint64_t real = reader_.CurrentPosition() - scan.typePos;
    if (declared != real) {
      report_.Message("Stale 'movi' Size (" + Report::NumberText(declared) +
                          "), never set by its Writer, real Size (" + Report::NumberText(real) +
                          "), recovered!",
                      depth, kError);
    }
  }
  return result;
}

void AviMoviScanner::ReserveEntries() {
  if (!findings_.recordsMoviEntries) return;
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
  TryReserve(model_.movi, std::min(2 * frames, reader_.FileSize() / 8 + 1));
}

int AviMoviScanner::WalkMoviList(MoviScan& scan) {
  uint32_t token = 0;
  bool recovered = false;  // `token` was found by the recovery and is not yet handled
  for (;;) {
    const bool fromRecovery = recovered;
    recovered = false;
    if (!fromRecovery) {
      if (reader_.CurrentPosition() + 4 > scan.listEnd) break;
      if (!reader_.ReadToken(token, scan.depth)) {
        reader_.ErrorContextDump(kErrorContextWindow, scan.depth);
        return kStop;
      }
      if (IsDwordPadding(token)) {
        if (Traced(scan.typeReports)) {
          const int inner = scan.entries > 0 ? ShowMoviItem(scan, scan.lastEntry) : scan.depth;
          report_.Message("Odd size frame is DWORD-aligned instead of WORD!", inner, kError);
        }
        // The next token starts behind the two extra bytes.
        if (!reader_.Skip(-2, true)) return kStop;
        continue;
      }
    }
    const uint64_t tokenEnd = reader_.CurrentPosition();
    const int result = HandleMoviToken(scan, token, fromRecovery);
    if (result == kHandled) {
      scan.recoveredBefore = fromRecovery;
      scan.recoveredIdEnd = tokenEnd;
      continue;
    }
    if (result == kListDone) return kHandled;
    if (result == kMetIdx1 || result == kMetRiff) ShowLastEntry(scan);
    if (result != kResyncToken && result != kResyncChunk) return result;
    int end = kHandled;
    if (!ResyncMovi(scan, result == kResyncToken, fromRecovery, tokenEnd, token, end)) return end;
    recovered = true;
  }
  return EndMoviList(scan, true);
}

int AviMoviScanner::HandleMoviToken(MoviScan& scan, uint32_t token, bool fromRecovery) {
  // `JUNQ` (Premiere's filler) is no chunk id the recovery looks for, but
  // where a chunk is expected it is one.
  if (!fromRecovery && token != kJunqId && !chunks_.IsPlausibleChunkId(token)) {
    // With no room behind it for a size the list simply ends here.
    if (reader_.CurrentPosition() + 4 > scan.listEnd) {
      reader_.AddOverhead(4);
      return kHandled;
    }
    return kResyncToken;
  }
  const uint32_t limit = options_.scan.moviParseLimit;
  if (limit != 0 && scan.entries > limit && scan.entries > options_.report.moviTraceLimit &&
      scan.entries > kMinimumParsedEntries) {
    return reader_.Seek(std::min(scan.listEnd, reader_.FileSize())) ? kListDone : kStop;
  }
  if (token == kJunkId || token == kJunqId) return HandleMoviJunk(scan, token);
  if (token == kIdx1Id || token == kRiffId) {
    // The list declared too large a size: what follows it belongs to the caller.
    if (!reader_.Skip(-4, true)) return kStop;
    return token == kIdx1Id ? kMetIdx1 : kMetRiff;
  }
  if (token == kListId) return HandleMoviSubList(scan);
  return HandleMoviChunk(scan, token);
}

int AviMoviScanner::HandleMoviJunk(MoviScan& scan, uint32_t token) {
  const uint64_t headerPos = reader_.CurrentPosition() - 4;
  uint32_t size = 0;
  if (!chunks_.ReadRawSize(size, scan.depth)) return kStop;
  scan.recordedBefore = 0;
  scan.item = MoviItem{token, size, headerPos, 0, true, false};
  if (Traced(scan.structureReports)) {
    const int inner = ShowMoviItem(scan, scan.item);
    if (token == kJunqId) report_.Message("Unexpected Token (Premiere JUNK)!", inner, kWarning);
  }
  const uint64_t payloadStart = headerPos + 8;
  const int bounds = CheckMoviChunkBounds(scan, payloadStart, size);
  if (bounds != kHandled) return bounds;
  reader_.AddOverhead(uint64_t{size} + 8);
  return FinishMoviChunk(scan, payloadStart, size);
}

int AviMoviScanner::HandleMoviSubList(MoviScan& scan) {
  const uint64_t headerPos = reader_.CurrentPosition() - 4;
  uint32_t size = 0;
  uint32_t listType = 0;
  if (!chunks_.ReadRawSize(size, scan.depth) || !reader_.ReadToken(listType, scan.depth))
    return kStop;
  scan.recordedBefore = 0;
  const bool shown = Traced(scan.structureReports);
  if (listType == kRecId) {
    // A group of chunks that belong together; its chunks are entries like
    // any other.
    if (shown) reader_.ChunkHeaderLine(kListId, listType, size, headerPos, "", scan.depth);
    return kHandled;
  }
  const int inner = reader_.ChunkHeaderLine(kListId, listType, size, headerPos, "", scan.depth);
  report_.Message(kUnexpectedToken, inner, kError);
  return kStop;
}

int AviMoviScanner::HandleMoviChunk(MoviScan& scan, uint32_t token) {
  const uint64_t headerPos = reader_.CurrentPosition() - 4;
  scan.item = MoviItem{token, kNoChunkSize, headerPos, scan.entries++, false, false};
  scan.recordedBefore = 0;
  uint32_t size = 0;
  if (!chunks_.ReadRawSize(size, scan.depth)) {
    ShowMoviItem(scan, scan.item);
    return kStop;
  }
  scan.item.size = size;
  if (scan.item.number < options_.report.moviTraceLimit || size > kAlwaysShownSize) {
    ShowMoviItem(scan, scan.item);
  }
  const uint64_t payloadStart = headerPos + 8;
  // A cut frame is garbage, but the whole blocks of cut PCM audio are good
  // samples that players play: they stay, the chunk cut down to them.
  const uint32_t kept = WholeBlocksOfCutAudio(scan, payloadStart, size);
  if (kept > 0) {
    report_.Message("Partial audio chunk kept: " + Report::NumberText(kept) + " of " +
                        Report::NumberText(size) + " bytes",
                    ShowMoviItem(scan, scan.item), kWarning);
    size = kept;
  }
  int result = CheckMoviChunkBounds(scan, payloadStart, size);
  if (result == kHandled) {
    const int stream = model_.StreamNumber(token);
    result = IsIndexChunkId(token) ? HandleIndexChunk(scan, stream, payloadStart, size)
                                   : HandleStreamData(scan, stream, payloadStart, size);
  }
  scan.lastEntry = scan.item;
  if (result != kHandled) return result;
  // What is left of a cut chunk is less than a block: the file ends there.
  if (kept > 0) return reader_.Seek(reader_.FileSize()) ? kHandled : kStop;
  return FinishMoviChunk(scan, payloadStart, size);
}

uint32_t AviMoviScanner::WholeBlocksOfCutAudio(const MoviScan& scan, uint64_t payloadStart,
                                               uint32_t size) const {
  const uint64_t fileSize = reader_.FileSize();
  if (payloadStart > fileSize || payloadStart + size <= fileSize) return 0;
  const int stream = model_.StreamNumber(scan.item.token);
  if (stream < 0 || scan.kinds[static_cast<size_t>(stream)] != StreamKind::kAudio ||
      TypeCode(scan.item.token) != kAudioCode) {
    return 0;
  }
  const AviStream& data = model_.streams[static_cast<size_t>(stream)];
  const uint32_t block = AviModel::BlockAlign(data.strf, model_.bigEndian);
  if (block == 0 || !AviModel::IsBlockAudio(data.strf, model_.bigEndian)) return 0;
  // A chunk cut by the end of the file declares whole blocks and a size
  // like the stream's other chunks; any other size is garbage, and the scan
  // resynchronises on it as on any other.
  const uint64_t usual = std::max<uint64_t>(
      data.largestChunk, model_.StreamHeader(static_cast<size_t>(stream)).suggestedBufferSize);
  if (size % block != 0 || size > 2 * usual) return 0;
  return static_cast<uint32_t>((fileSize - payloadStart) / block * block);
}

int AviMoviScanner::CheckMoviChunkBounds(MoviScan& scan, uint64_t payloadStart, uint32_t size) {
  // 64-bit sums: a size near 4 GiB must not wrap past the checks.
  const uint64_t payloadEnd = payloadStart + size;
  if (payloadEnd > reader_.FileSize()) {
    report_.Message(kPrematureEnd, ShowMoviItem(scan, scan.item), kError);
    return kResyncChunk;
  }
  if (!scan.item.junk && (scan.item.headerPos & 1) != 0 && Traced(scan.placementReports)) {
    report_.Message("Frame starts at odd position!", ShowMoviItem(scan, scan.item), kError);
  }
  if (payloadEnd <= scan.listEnd) return kHandled;
  const int64_t room = static_cast<int64_t>(scan.listEnd - payloadStart);
  const std::string text =
      "Frame Size (" + Report::NumberText(size) + ") greater Chunk Size (" + std::to_string(room) +
      (options_.scan.subchunkEnforcesParentSize ? "), recovering Frame!" : "), Frame ignored!");
  report_.Message(text, ShowMoviItem(scan, scan.item), kError);
  return options_.scan.subchunkEnforcesParentSize ? kHandled : kResyncChunk;
}

int AviMoviScanner::FinishMoviChunk(MoviScan& scan, uint64_t payloadStart, uint32_t size) {
  const uint64_t payloadEnd = payloadStart + size;
  // The pad byte behind an odd payload; the last chunk of a file may lack it.
  bool pad = false;
  if (reader_.WordAligned() && (size & 1) != 0 && payloadEnd < reader_.FileSize()) {
    // Garbage of odd length shifts every later chunk to the other parity,
    // but their writer's pad bytes are still there.
    pad = chunks_.TakePadByte(payloadEnd, (payloadStart - scan.bodyStart) % 2 == 0);
  }
  return reader_.Seek(payloadEnd + (pad ? 1 : 0)) ? kHandled : kStop;
}

void AviMoviScanner::ShowLastEntry(MoviScan& scan) {
  const uint32_t limit = options_.report.moviTraceLimit;
  if (limit != 0 && scan.entries > limit) ShowMoviItem(scan, scan.lastEntry);
}

int AviMoviScanner::EndMoviList(MoviScan& scan, bool checkRest) {
  ShowLastEntry(scan);
  const uint64_t position = reader_.CurrentPosition();
  if (checkRest && position < scan.listEnd) {
    // A list that claims a few bytes too many may end right at the header
    // that follows it.
    uint32_t token = 0;
    if (position + 4 <= reader_.FileSize()) {
      if (!reader_.ReadToken(token, scan.depth) || !reader_.Skip(-4, true)) return kStop;
      if (token == kIdx1Id) return kMetIdx1;
      if (token == kRiffId) return kMetRiff;
    }
    report_.Message(kSizeMismatch, scan.depth, kError);
    reader_.AddOverhead(scan.listEnd - position);
    if (!reader_.Seek(std::min(scan.listEnd, reader_.FileSize()))) return kStop;
  }
  return kHandled;
}

bool AviMoviScanner::Traced(uint32_t& reports) const {
  if (reports >= options_.report.moviTraceLimit) return false;
  ++reports;
  return true;
}

int AviMoviScanner::ShowMoviItem(const MoviScan& scan, MoviItem& item) {
  if (options_.report.verbosity == 0) return scan.depth;
  if (!item.shown) {
    item.shown = true;
    std::string name = item.junk ? "RIFF Junk" : "'movi' Entry #" + Report::NumberText(item.number);
    // Without a size the line shows no token: a bad token is named in it,
    // with its bytes, which are often not characters at all.
    if (item.size == kNoChunkSize) name += ", Token " + TokenText(item.token);
    reader_.ChunkHeaderLine(item.token, 0, item.size, item.headerPos, name, scan.depth);
  }
  return scan.depth + 1;
}

int AviMoviScanner::ReportUnknownStream(MoviScan& scan) {
  if (Traced(scan.placementReports)) {
    report_.Message("Stream Number greater than defined Streams!", ShowMoviItem(scan, scan.item),
                    kError);
  }
  return kHandled;
}

int AviMoviScanner::HandleIndexChunk(MoviScan& scan, int stream, uint64_t payloadStart,
                                     uint32_t size) {
  if (stream < 0) return ReportUnknownStream(scan);
  const uint32_t id = scan.item.token;
  ++CountersOf(scan, model_.streams[static_cast<size_t>(stream)], id).moviChunks;
  // The chunk lies within the file (checked): its size bounds the read.
  if (!ReadMoviPayload(scan, payloadStart, size)) return kStop;
  const bool dump = Traced(scan.structureReports);
  int inner = scan.depth + 1;
  if (dump) {
    inner = ShowMoviItem(scan, scan.item);
    const uint16_t longsPerEntry =
        ByteReader(scan.buffer.data(), scan.buffer.size(), reader_.BigEndian()).U16();
    if (DigitsFirst(id) && longsPerEntry == 2) {
      report_.Message("Should presumably be 'ix##'", inner, kWarning);
    }
  }
  odmlIndex_.HandleStandardIndex(id, size, static_cast<size_t>(stream), scan.buffer, scan.segment,
                                 scan.typePos, dump, inner);
  return kHandled;
}

int AviMoviScanner::HandleStreamData(MoviScan& scan, int stream, uint64_t payloadStart,
                                     uint32_t size) {
  if (stream < 0) return ReportUnknownStream(scan);
  const uint32_t id = scan.item.token;
  const uint32_t limit = options_.report.moviTraceLimit;
  AviStream& data = model_.streams[static_cast<size_t>(stream)];
  data.largestChunk = std::max(data.largestChunk, size);
  findings_.payloadTotal += size;
  ChunkTypeCounters& counters = CountersOf(scan, data, id);
  ++counters.moviChunks;
  if (size == 0) ++counters.zeroSize;
  int result = kHandled;
  switch (scan.kinds[static_cast<size_t>(stream)]) {
    case StreamKind::kAudio:
      if (TypeCode(id) != kAudioCode && Traced(scan.typeReports)) {
        report_.Message("Unexpected chunk in Audio Stream found!", ShowMoviItem(scan, scan.item),
                        kError);
      }
      data.audioBytes += size;
      if (options_.report.verbosity >= 6 && scan.item.number < limit) {
        result = DumpMoviPayload(scan, payloadStart, size);
      }
      break;
    case StreamKind::kSubtitle:
      if (Traced(scan.payloadReports)) result = DumpSubtitle(scan, payloadStart, size);
      break;
    case StreamKind::kText:
      if (Traced(scan.payloadReports) && options_.report.verbosity > 0) {
        result = DumpMoviPayload(scan, payloadStart, size);
      }
      break;
    case StreamKind::kVideo:
    case StreamKind::kDvVideo:
      result = HandleVideoChunk(scan, stream, payloadStart, size);
      break;
    case StreamKind::kUnknown:
      if (Traced(scan.payloadReports)) {
        if (options_.report.verbosity > 0) result = DumpMoviPayload(scan, payloadStart, size);
        report_.Message("Unknown Stream found!", ShowMoviItem(scan, scan.item), kWarning);
      }
      break;
  }
  if (result != kHandled) return result;
  RecordMoviEntry(scan, id, size, scan.item.headerPos);
  return kHandled;
}

int AviMoviScanner::HandleVideoChunk(MoviScan& scan, int stream, uint64_t payloadStart,
                                     uint32_t size) {
  const uint16_t type = TypeCode(scan.item.token);
  if ((type == kAudioCode || type == kTextCode) && Traced(scan.typeReports)) {
    report_.Message("Audio chunk in Video Stream found!", ShowMoviItem(scan, scan.item), kError);
  }
  if (type == kPaletteCode) {
    if (!Traced(scan.payloadReports)) return kHandled;
    return DumpPaletteChange(scan, payloadStart, size);
  }
  if (scan.kinds[static_cast<size_t>(stream)] != StreamKind::kDvVideo || type == kAudioCode ||
      type == kTextCode) {
    return kHandled;
  }
  if (options_.scan.switchQ2 && stream == dvAudioSource_)
    return SplitOffDvAudio(scan, payloadStart, size);
  return HandleDvFrame(scan, payloadStart, size);
}

int AviMoviScanner::HandleDvFrame(MoviScan& scan, uint64_t payloadStart, uint32_t size) {
  const bool traced = scan.item.number < options_.report.moviTraceLimit;
  const bool summary = traced && options_.report.verbosity >= 2;
  const bool dump = traced && options_.report.verbosity >= 6;
  if (!summary && !dump && dvAnalysisDone_) return kHandled;
  if (!IsDvFrameSize(size)) {
    // The claimed size is not read: the analysis states the fault by size.
    if (traced) {
      DvAnalysis ignored;
      DvFrameAnalyzer::Analyze(nullptr, size, ignored, report_, ShowMoviItem(scan, scan.item),
                               options_.report.verbosity);
    }
    return kHandled;
  }
  if (!ReadMoviPayload(scan, payloadStart, size)) return kStop;
  const int inner = traced ? ShowMoviItem(scan, scan.item) : scan.depth + 1;
  if (dump)
    report_.HexDump(scan.buffer.data(), scan.buffer.size(), inner, options_.report.verbosity);
  DvAnalysis analysis;
  DvFrameAnalyzer::Analyze(scan.buffer.data(), size, analysis, report_, inner,
                           traced ? options_.report.verbosity : 0);
  if (summary) report_.PlainLine(DvFrameAnalyzer::SummaryText(analysis), inner);
  if (!dvAnalysisDone_) {
    dvAnalysis_ = std::move(analysis);
    dvAnalysisDone_ = true;
  }
  return kHandled;
}

int AviMoviScanner::SplitOffDvAudio(MoviScan& scan, uint64_t payloadStart, uint32_t size) {
  std::vector<uint8_t> pcm;
  std::string why = "Frame size is not DV compliant (144000/120000)";
  bool extracted = false;
  if (IsDvFrameSize(size)) {
    if (!ReadMoviPayload(scan, payloadStart, size)) return kStop;
    extracted = DvFrameAnalyzer::ExtractAudio(scan.buffer.data(), size, pcm, why);
  }
  if (!extracted) {
    // The frame keeps its place; only its audio is missing. Said once, as
    // every frame of a recording shares the same coding.
    if (!dvAudioFailureReported_) {
      dvAudioFailureReported_ = true;
      report_.Message(why, ShowMoviItem(scan, scan.item), kError);
    }
    return kHandled;
  }
  AviStream& extra = model_.extraStreams.front();
  AviStreamHeader header = AviModel::DecodeStreamHeader(extra.strh.data(), false);
  if (!dvAudioRateSet_) {
    // The added stream was announced at 48 kHz; a recording at 44.1 or
    // 32 kHz sets the rate its samples really have.
    dvAudioRateSet_ = true;
    DvAnalysis analysis;
    DvFrameAnalyzer::Analyze(scan.buffer.data(), size, analysis, report_, scan.depth, 0);
    const uint32_t rate = DvFrameAnalyzer::SamplingRate(analysis);
    if (rate != 0 && rate != header.rate) {
      header.rate = rate;
      extra.strf = PcmFormat(rate);
    }
  }
  const uint32_t bytes = static_cast<uint32_t>(pcm.size());
  header.length += bytes / 4;
  header.suggestedBufferSize = std::max(header.suggestedBufferSize, bytes);
  AviModel::EncodeStreamHeader(header, extra.strh.data());
  ++CountersOf(scan, extra, dvAudioChunkId_).moviChunks;
  extra.audioBytes += bytes;
  extra.largestChunk = std::max(extra.largestChunk, bytes);
  if (!scan.records) return kHandled;
  // The synthetic chunk goes just ahead of its frame. Its offset lies one
  // byte before the frame's header, so the list stays in file order and no
  // index entry (all point at payloads) can ever be matched to it.
  MoviEntry& entry = model_.movi.emplace_back();
  entry.chunkId = dvAudioChunkId_;
  entry.size = bytes;
  entry.segment = scan.segment;
  entry.offset = scan.item.headerPos - scan.typePos - 1;
  entry.payloadPosition = payloadStart;
  entry.ownedPayload = std::make_unique<std::vector<uint8_t>>(std::move(pcm));
  ++scan.recordedBefore;
  statistics_.NoteChunkOrder(static_cast<int>(model_.streams.size()), dvAudioChunkId_, scan.segment,
                             true);
  return kHandled;
}

int AviMoviScanner::DumpMoviPayload(MoviScan& scan, uint64_t payloadStart, uint32_t size) {
  const uint32_t shown = std::min(size, options_.report.dumpLimit);
  const int inner = ShowMoviItem(scan, scan.item);
  if (shown == 0) return kHandled;
  if (!ReadMoviPayload(scan, payloadStart, shown)) return kStop;
  report_.HexDump(scan.buffer.data(), scan.buffer.size(), inner, options_.report.verbosity);
  return kHandled;
}

int AviMoviScanner::DumpSubtitle(MoviScan& scan, uint64_t payloadStart, uint32_t size) {
  if (!ReadMoviPayload(scan, payloadStart, size)) return kStop;
  const int inner = ShowMoviItem(scan, scan.item);
  ByteReader in(scan.buffer.data(), scan.buffer.size(), reader_.BigEndian());
  for (const char* label : kSubtitleFields) {
    if (in.Remaining() < 2) return kHandled;
    report_.PlainLine(label + Report::NumberText(in.U16()), inner);
  }
  report_.PlainLine("16 Data: \"" +
                        PayloadText(scan.buffer.data() + kSubtitleHeaderSize,
                                    scan.buffer.size() - kSubtitleHeaderSize) +
                        "\"",
                    inner);
  return kHandled;
}

int AviMoviScanner::DumpPaletteChange(MoviScan& scan, uint64_t payloadStart, uint32_t size) {
  if (!ReadMoviPayload(scan, payloadStart, size)) return kStop;
  const bool whole = size > kPaletteCountOffset && scan.buffer[kPaletteCountOffset] == 0;
  StructureDumper::InterpretStructure(
      reader_, ShowMoviItem(scan, scan.item), size, scan.buffer.data(), size, size,
      whole ? kWholePaletteChange : kPaletteChange, StructureDumper::kNoItemLimit);
  return kHandled;
}

bool AviMoviScanner::ReadMoviPayload(MoviScan& scan, uint64_t payloadStart, uint64_t count) {
  // Callers pass sizes already checked against the file.
  scan.buffer.resize(static_cast<size_t>(count));
  return reader_.Seek(payloadStart) &&
         (count == 0 || reader_.ReadChecked(scan.buffer.data(), count, scan.depth + 1, true));
}

void AviMoviScanner::RecordMoviEntry(MoviScan& scan, uint32_t id, uint32_t size,
                                     uint64_t headerPos) {
  ++scan.recordedBefore;
  statistics_.NoteChunkOrder(model_.StreamNumber(id), id, scan.segment);
  if (!scan.records) return;
  MoviEntry& entry = model_.movi.emplace_back();
  entry.chunkId = id;
  entry.size = size;
  entry.segment = scan.segment;
  entry.offset = headerPos - scan.typePos;
  entry.payloadPosition = headerPos + 8;
}

void AviMoviScanner::MarkDoubtful(MoviScan& scan) {
  if (scan.recordedBefore == 0) return;
  if (!scan.records) {
    // No index will be matched: the chunk goes at once.
    UncountChunk(scan.lastEntry.token, scan.lastEntry.size);
    ++doubtfulDropped_;
    return;
  }
  const size_t count = std::min(scan.recordedBefore, model_.movi.size());
  for (size_t i = model_.movi.size() - count; i < model_.movi.size(); ++i) {
    model_.movi[i].trust = ChunkTrust::kDoubtful;
  }
}

void AviMoviScanner::UncountChunk(uint32_t id, uint32_t size) {
  AviStream* stream = nullptr;
  const int number = model_.StreamNumber(id);
  if (number >= 0) {
    stream = &model_.streams[static_cast<size_t>(number)];
  } else if (id == dvAudioChunkId_ && !model_.extraStreams.empty()) {
    stream = &model_.extraStreams.front();
  }
  if (stream == nullptr) return;
  const auto counters = stream->counters.find(id);
  if (counters != stream->counters.end()) {
    ChunkTypeCounters& c = counters->second;
    if (c.moviChunks > 0) --c.moviChunks;
    if (size == 0 && c.zeroSize > 0) --c.zeroSize;
  }
  if (number >= 0) findings_.payloadTotal -= std::min<uint64_t>(findings_.payloadTotal, size);
  // The stream added for the audio of DV frames has no stream number yet.
  const bool audio =
      number < 0 || (stream->strhSeen && KindOf(model_.StreamHeader(static_cast<size_t>(number))) ==
                                             StreamKind::kAudio);
  if (audio) stream->audioBytes -= std::min<uint64_t>(stream->audioBytes, size);
}

void AviMoviScanner::SettleDoubtfulChunks(int depth) {
  std::vector<MoviEntry>& movi = model_.movi;
  uint32_t kept = 0;
  uint32_t dropped = doubtfulDropped_;
  size_t out = 0;
  for (size_t i = 0; i < movi.size(); ++i) {
    MoviEntry& entry = movi[i];
    if (entry.trust == ChunkTrust::kDoubtful) {
      // Audio split off a DV frame shares the fate of its frame, which
      // follows it.
      const bool confirmed =
          entry.ownedPayload && i + 1 < movi.size() && movi[i + 1].trust == ChunkTrust::kConfirmed;
      if (!confirmed) {
        UncountChunk(entry.chunkId, entry.size);
        if (!entry.ownedPayload) ++dropped;
        continue;
      }
    }
    if (entry.trust == ChunkTrust::kConfirmed) ++kept;
    if (out != i) movi[out] = std::move(entry);
    ++out;
  }
  movi.erase(movi.begin() + static_cast<std::ptrdiff_t>(out), movi.end());
  if (kept > 0) {
    report_.Message("Frames before Garbled Data kept, an Index confirms them (" +
                        Report::NumberText(kept) + ")",
                    depth, kInfo);
  }
  if (dropped > 0) {
    report_.Message("Frames before Garbled Data removed, no Index confirms them (" +
                        Report::NumberText(dropped) + ")!",
                    depth, kWarning);
  }
}

ChunkTypeCounters& AviMoviScanner::CountersOf(MoviScan& scan, AviStream& stream, uint32_t id) {
  MoviScan::CounterSlot& slot = scan.counterCache[(id ^ id >> 8 ^ id >> 16 ^ id >> 24) & 15];
  if (slot.counters == nullptr || slot.id != id || slot.stream != &stream) {
    slot.id = id;
    slot.stream = &stream;
    slot.counters = &stream.counters[id];
  }
  return *slot.counters;
}

bool AviMoviScanner::ResyncMovi(MoviScan& scan, bool implausible, bool fromRecovery,
                                uint64_t failedTokenEnd, uint32_t& token, int& result) {
  const uint64_t here = reader_.CurrentPosition();
  // An id the recovery found may be a chance match inside garbage, even one
  // that overlaps the real id behind it: when it fails, or the chunk it
  // began leads astray, the next search starts right behind its first byte.
  uint64_t behind = fromRecovery ? failedTokenEnd : 0;
  if (implausible) {
    // The chunk just before the token led here by its size, or lies right
    // in front of garbage that was put between two good chunks: which one,
    // only an index can tell. It is kept as doubtful (with the audio split
    // off it) until the indexes were matched. A chunk that failed itself
    // was never recorded.
    MarkDoubtful(scan);
    scan.item = MoviItem{token, kNoChunkSize, failedTokenEnd - 4, scan.entries, false, false};
    if (scan.recoveredBefore && scan.recoveredIdEnd < here) behind = scan.recoveredIdEnd;
  }
  scan.recordedBefore = 0;
  scan.recoveredBefore = false;
  const int inner = ShowMoviItem(scan, scan.item);
  // Otherwise ids that begin up to 7 bytes before the failure are found too.
  const uint64_t start = behind != 0 ? behind - 3 : here - scan.bodyStart > 6 ? here - 7 : here;
  if (chunks_.SearchChunkId(inner, start, scan.listEnd, failedTokenEnd, behind, token)) return true;
  // Nothing more in the list: the position stands at its end (or at the end
  // of the file), and the walk goes on from there. The list itself is done,
  // so its indexes are still matched against what was found.
  result = EndMoviList(scan, false);
  return false;
}

void AviMoviScanner::AddDvAudioStream() {
  // The stream headers are written in the file's byte order only for
  // little-endian files; DV is never stored big-endian.
  if (!options_.scan.switchQ2 || dvAudioSource_ >= 0 || model_.bigEndian) return;
  const size_t number = model_.streams.size() + model_.extraStreams.size();
  if (number >= AviModel::kMaxStreams) return;
  for (size_t i = 0; i < model_.streams.size(); ++i) {
    if (!model_.streams[i].strhSeen) continue;
    const StreamKind kind = KindOf(model_.StreamHeader(i));
    if (kind != StreamKind::kDvVideo) continue;
    AviStreamHeader header;
    header.type = kAudsType;
    header.scale = 1;
    header.rate = 48000;
    header.sampleSize = 4;
    header.quality = -1;
    AviStream extra;
    AviModel::EncodeStreamHeader(header, extra.strh.data());
    extra.strhSeen = true;
    extra.strf = PcmFormat(48000);
    model_.extraStreams.push_back(std::move(extra));
    dvAudioSource_ = static_cast<int>(i);
    dvAudioChunkId_ = AviModel::MakeChunkId(static_cast<unsigned>(number), "wb");
    if (model_.avihSeen) {
      AviMainHeader main = model_.MainHeader();
      main.flags |= kInterleavedFlag;
      AviModel::EncodeMainHeader(main, model_.avih.data());
    }
    return;
  }
}
