#include "riff/CRIFFParser.h"

#include <algorithm>
#include <cstdio>

#include "core/ByteReader.h"
#include "core/FourCC.h"
#include "core/StructureDumper.h"
#include "core/Utf16Text.h"
#include "riff/AviIds.h"
#include "riff/RiffChunkTables.h"

namespace {

using avi::kIdx1Id;

constexpr uint32_t kRiffId = FourCC("RIFF");
constexpr uint32_t kRifxId = FourCC("RIFX");
constexpr uint32_t kFormId = FourCC("FORM");
constexpr uint32_t kListId = FourCC("LIST");
constexpr uint32_t kCatId = FourCC("CAT ");
constexpr uint32_t kPropId = FourCC("PROP");
constexpr uint32_t kInfoId = FourCC("INFO");
constexpr uint32_t kUnfoId = FourCC("UNFO");
constexpr uint32_t kJunkId = FourCC("JUNK");
constexpr uint32_t kJunqId = FourCC("JUNQ");
constexpr uint32_t kPadId = FourCC("PAD ");
constexpr uint32_t kFxtcId = FourCC("FXTC");
constexpr uint32_t kDispId = FourCC("DISP");
constexpr uint32_t kGuidId = FourCC("guid");
constexpr uint32_t kNameId = FourCC("name");
constexpr uint32_t kFileId = FourCC("file");
constexpr uint32_t kVersId = FourCC("vers");
constexpr uint32_t kMoviId = FourCC("movi");
constexpr uint32_t kMv93Id = FourCC("MV93");
constexpr uint32_t kMc95Id = FourCC("MC95");

const char kTokenTooLarge[] = "Token Size greater Chunk Size!";
const char kPadByteMissing[] = "Pad byte missing after odd-sized Chunk!";

constexpr uint64_t kHeaderSize = 8;

// The largest body a description dump can take: its span (body plus the
// 8-byte header, rounded up to even) must fit the dumper's 32-bit counts.
constexpr uint32_t kMaxDescribedBody = 0xFFFFFFFFu - 9;

const FieldDesc kAnsiTextField[] = {{FieldType::AString, 0, 0, "Text"}};
const FieldDesc kWideTextField[] = {{FieldType::WStringBytes, 0, 0, "Text"}};
const FieldDesc kGuidFields[] = {{FieldType::Guid, 0, 0, "GUID"}};
const StructDesc kGuidChunk("RIFF GUID Chunk", "'guid'", 16, 16, kGuidFields);

// Clipboard formats whose data is text: CF_TEXT, CF_OEMTEXT, CF_UNICODETEXT.
constexpr uint32_t kClipboardText = 1;
constexpr uint32_t kClipboardOemText = 7;
constexpr uint32_t kClipboardUnicodeText = 13;

// The lists of a RIFF file end in front of the next form when their sizes
// run over it. A form of a type without a parser of its own is often an AVI
// file under another name: its lists stop in front of its media data and
// its index as well, as those of an AVI file do.
const CRIFFParser::StopHeader kRiffFileStopHeaders[] = {
    {kRiffId, 0, CRIFFParser::kMetRiff},
    {kMoviId, 0, CRIFFParser::kMetHeader},
    {kIdx1Id, 0, CRIFFParser::kMetHeader + 1},
    {kListId, kMoviId, CRIFFParser::kMetHeader},
};

bool IsFormToken(uint32_t token) {
  return token == kRiffId || token == kRifxId || token == kFormId;
}

bool IsAsciiLetterOrDigit(uint8_t c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// Chunk ids as writers make them: a printable first character other than a
// blank ('_PMX'), then letters, digits or blanks ('fmt ').
bool IsChunkId(const uint8_t* id) {
  if (id[0] <= 0x20 || id[0] >= 0x7f) return false;
  for (int i = 1; i < 4; ++i) {
    if (!IsAsciiLetterOrDigit(id[i]) && id[i] != ' ') return false;
  }
  return true;
}

// Whether `available` bytes at `header` hold a chunk header whose chunk fits
// in `room` bytes.
bool IsPlausibleHeader(const uint8_t* header, size_t available, uint64_t room, bool bigEndian) {
  if (available < kHeaderSize || room < kHeaderSize || !IsChunkId(header)) return false;
  return ByteReader(header + 4, 4, bigEndian).U32() <= room - kHeaderSize;
}

std::string Hex32(uint32_t value) {
  char text[9];
  std::snprintf(text, sizeof text, "%08x", value);
  return text;
}

// Text of a display chunk: 8-bit text up to its first zero byte, or UTF-16
// text up to its first zero unit.
std::string DisplayText(const std::vector<uint8_t>& bytes, bool wide, bool bigEndian) {
  if (!wide) {
    auto end = std::find(bytes.begin(), bytes.end(), uint8_t{0});
    return std::string(bytes.begin(), end);
  }
  ByteReader reader(bytes.data(), bytes.size(), bigEndian);
  std::vector<uint16_t> units;
  while (reader.Remaining() >= 2) {
    uint16_t unit = reader.U16();
    if (unit == 0) break;
    units.push_back(unit);
  }
  return Utf16Text::ToUtf8(units.data(), units.size());
}

}  // namespace

CRIFFParser::CRIFFParser(RunOptions options, ReportOutput& output)
    : CParser(std::move(options), output) {
  SetStopHeaders(kRiffFileStopHeaders);
}

CRIFFParser::~CRIFFParser() = default;

bool CRIFFParser::Parse(const std::string& sourcePath, const std::string& outputPath) {
  bool ok = false;
  RunParse(sourcePath, outputPath, [this, &ok](int depth) { ok = RunDriver(depth); });
  return ok;
}

std::string CRIFFParser::FormatTagName(uint16_t tag) {
  const char* name = RiffChunkTables::FormatTagName(tag);
  return name ? name : "(unknown, see the WAVE/AVI codec registry)";
}

bool CRIFFParser::LooksLikeFourCC(uint32_t token) {
  const uint8_t first = FourCCByte(token, 0);
  return first >= 0x20 && first < 0x7f && IsAsciiLetterOrDigit(FourCCByte(token, 1)) &&
         IsAsciiLetterOrDigit(FourCCByte(token, 2)) && IsAsciiLetterOrDigit(FourCCByte(token, 3));
}

// ---------------------------------------------------------------------------
// Reading sizes and positions

bool CRIFFParser::ReadToken(uint32_t& token, int depth) {
  uint8_t bytes[4];
  if (!ReadChecked(bytes, 4, depth, true)) return false;
  token = FourCCFromBytes(bytes);
  return true;
}

bool CRIFFParser::ReadSizeWord(uint32_t& size, int depth) {
  uint8_t bytes[4];
  if (!ReadChecked(bytes, 4, depth, true)) return false;
  size = ByteReader(bytes, 4, bigEndian_).U32();
  return true;
}

bool CRIFFParser::ReadChunkSize(uint32_t& size, int depth) {
  if (!ReadSizeWord(size, depth)) return false;
  if (size > RemainingInFile()) {
    report_.Message("Chunk size greater File size, File may be truncated!", depth, kError);
  }
  return true;
}

uint64_t CRIFFParser::AlignedSize(uint64_t size) const {
  return wordAligned_ ? size + (size & 1) : size;
}

uint64_t CRIFFParser::RemainingInFile() {
  const uint64_t size = FileSize();
  const uint64_t position = CurrentPosition();
  return position < size ? size - position : 0;
}

uint64_t CRIFFParser::HeaderPosition(uint64_t back) const {
  const uint64_t position = CurrentPosition();
  return position >= back ? position - back : 0;
}

bool CRIFFParser::SkipChunkBody(uint64_t size, int depth) {
  return SkipRestOfChunk(CurrentPosition(), size, depth);
}

bool CRIFFParser::SkipRestOfChunk(uint64_t bodyStart, uint64_t size, int depth) {
  const uint64_t end = bodyStart + size;
  uint64_t position = CurrentPosition();
  if (position < end) {
    const uint64_t count = end - position;
    const bool inFile = count <= RemainingInFile();
    SkipChecked(count, depth);
    if (!inFile) return false;
  }
  // The pad byte is skipped without being shown.
  const uint64_t alignedEnd = bodyStart + AlignedSize(size);
  position = CurrentPosition();
  if (position < alignedEnd && position < FileSize()) SkipChecked(alignedEnd - position, 0);
  return true;
}

bool CRIFFParser::ReadBody(std::vector<uint8_t>& bytes, uint64_t count, int depth) {
  if (count > RemainingInFile()) {
    report_.Message(kPrematureEnd, depth, kFatal);
    return false;
  }
  bytes.resize(static_cast<size_t>(count));
  return ReadChecked(bytes.data(), count, depth, true);
}

// ---------------------------------------------------------------------------
// The whole file

bool CRIFFParser::RunDriver(int depth) {
  progressCounter_ = 0;
  const uint64_t fileSize = FileSize();
  const int inner = OpeningLine(depth);
  bool formSeen = false;
  while (RemainingInFile() >= 8) {
    uint32_t token = 0;
    if (!ReadToken(token, inner)) return false;
    ApplyByteOrder(token);
    if (HandleTopLevelToken(token, inner, formSeen)) continue;
    const bool automatic = !options_.scan.ByteOrderForced();
    if (automatic && !IsFormToken(token) && token != kListId && token != kCatId) {
      bool stop = false;
      if (!HandleStrayChunk(token, inner, stop)) return false;
      if (stop) break;
      continue;
    }
    uint32_t size = 0;
    if (!ReadSizeWord(size, inner)) return false;
    size = CorrectedTopLevelSize(size, inner);
    formSeen = true;
    const uint64_t headerPos = HeaderPosition(kHeaderSize);
    // A form that had to stop leaves the position where it stopped; the walk
    // goes on from there with the next token.
    HandleTopLevelForm(token, size, inner);
    StepBackOntoMissingPad(headerPos, size, RemainingInFile() + 1, inner + 1);
  }
  const uint64_t position = CurrentPosition();
  if (position != fileSize) {
    const int64_t difference = static_cast<int64_t>(fileSize - position);
    report_.Message("File Size mismatch (" + std::to_string(difference) + sizeMismatchEnd_, inner,
                    kError);
  }
  if (formSeen) verdict_ = FormVerdict();
  return true;
}

bool CRIFFParser::HandleTopLevelToken(uint32_t, int, bool&) { return false; }

int CRIFFParser::HandleTopLevelForm(uint32_t token, uint32_t size, int depth) {
  return HandleUnknownForm(token, size, depth);
}

std::string CRIFFParser::FormVerdict() const {
  return bigEndian_ ? "This is a valid RIFF file in Network byte order."
                    : "This is a valid RIFF file.";
}

void CRIFFParser::ApplyRiffByteOrder(uint32_t token) {
  const ByteOrder order = options_.scan.byteOrder;
  const bool automatic = !options_.scan.ByteOrderForced();
  if (order == ByteOrder::kBig || (automatic && token == kRifxId)) {
    wordAligned_ = true;
    bigEndian_ = true;
  } else if (order == ByteOrder::kLittle || (automatic && token == kRiffId)) {
    wordAligned_ = true;
    bigEndian_ = false;
  }
}

void CRIFFParser::ApplyByteOrder(uint32_t token) {
  ApplyRiffByteOrder(token);
  const bool automatic = !options_.scan.ByteOrderForced();
  if (automatic && (token == kFormId || token == kCatId)) {
    // IFF stores its numbers big-endian; it has no pad bytes of its own here.
    bigEndian_ = true;
  }
}

uint32_t CRIFFParser::CorrectedTopLevelSize(uint32_t size, int depth) {
  const uint64_t left = RemainingInFile();
  if (size <= left) return size;
  report_.Message(
      "Wrong Size (" + Report::NumberText(size) + ") exceeding File Size detected, corrected!",
      depth, kError);
  return static_cast<uint32_t>(left);
}

bool CRIFFParser::HandleStrayChunk(uint32_t token, int depth, bool& stop) {
  // Anything that does not look like a chunk id is passed over 4 bytes at a time.
  if (!LooksLikeFourCC(token)) return true;
  uint32_t size = 0;
  if (!ReadSizeWord(size, depth)) return false;
  const uint64_t headerPos = HeaderPosition(8);
  size = CorrectedTopLevelSize(size, depth);
  int inner;
  if (token == kJunkId) {
    overheadSize_ += uint64_t{size} + 8;
    inner = ChunkHeaderLine(token, 0, size, headerPos, "RIFF Junk", depth);
  } else {
    inner = ChunkHeaderLine(token, 0, size, headerPos, "", depth);
    report_.Message(kUnexpectedToken, inner, kError);
    overheadSize_ += RemainingInFile();
  }
  // A chunk that ends with the file (as a corrected one does) has no pad byte.
  const uint64_t left = RemainingInFile();
  const uint64_t count = size == left ? size : AlignedSize(size);
  const bool inFile = count <= left;
  SkipChecked(count, inner);
  stop = !inFile;
  return true;
}

// ---------------------------------------------------------------------------
// Forms and lists

int CRIFFParser::HandleUnknownForm(uint32_t token, uint32_t size, int depth) {
  if (size < 4) return kStop;
  const uint64_t headerPos = HeaderPosition(8);
  uint32_t formType = 0;
  if (!ReadToken(formType, depth)) return kStop;
  ++formCounter_;
  const char* name = formType == kMv93Id   ? "RIFF Macromedia ??? Chunk"
                     : formType == kMc95Id ? "RIFF Macromedia Creator Chunk"
                                           : "RIFF Unknown Chunk";
  const int inner = ChunkHeaderLine(token, formType, size, headerPos, name, depth);
  return WalkList(uint64_t{size} - 4, inner);
}

int CRIFFParser::WalkList(uint64_t size, int depth) {
  const uint64_t remaining = AlignedSize(size);
  if (listNesting_ >= kMaxListNesting) {
    // Each level costs only 12 bytes of file but a frame of the walk.
    report_.Message("Lists nested too deeply, skipped!", depth, kError);
    return SkipChunkBody(remaining, depth) ? kHandled : kStop;
  }
  ++listNesting_;
  const int result = WalkListBody(remaining, depth);
  --listNesting_;
  return result;
}

int CRIFFParser::WalkListBody(uint64_t remaining, int depth) {
  static const ChunkTable<CRIFFParser>::Entry kEntries[] = {
      {kListId, &CRIFFParser::HandleListChunk}, {kCatId, &CRIFFParser::HandleListChunk},
      {kPropId, &CRIFFParser::HandleListChunk}, {kRiffId, &CRIFFParser::HandleFormChunk},
      {kRifxId, &CRIFFParser::HandleFormChunk}, {kFormId, &CRIFFParser::HandleFormChunk},
  };
  static const ChunkTable<CRIFFParser> kTable = {kEntries, sizeof kEntries / sizeof kEntries[0],
                                                 &CRIFFParser::HandleOtherChunk};
  static const ListRules kRules = {ListStyle::kRiff, nullptr, 0, nullptr, false};
  return WalkChunks(remaining, kRules, *this, kTable, depth);
}

int CRIFFParser::HandleListChunk(const ChunkHeader& chunk, uint64_t& remaining, int depth) {
  // Too small to hold its type: stepped over as a plain chunk.
  if (chunk.size < 4) return SkipUnknownChunk(chunk.token, chunk.size, chunk.headerPos, depth);
  return HandleSubList(chunk.token, chunk.size, chunk.headerPos, remaining, depth);
}

int CRIFFParser::HandleFormChunk(const ChunkHeader& chunk, uint64_t&, int depth) {
  if (chunk.size < 4) return SkipUnknownChunk(chunk.token, chunk.size, chunk.headerPos, depth);
  return HandleUnknownForm(chunk.token, chunk.size, depth);
}

int CRIFFParser::HandleOtherChunk(const ChunkHeader& chunk, uint64_t&, int depth) {
  const int result = HandleKnownChunk(chunk.token, chunk.size, depth);
  if (result != kNotKnown) return result;
  return SkipUnknownChunk(chunk.token, chunk.size, chunk.headerPos, depth);
}

int CRIFFParser::BeginListChunk(ChunkHeader& chunk, uint64_t& remaining, const ListRules& rules,
                                int depth) {
  chunk.headerPos = CurrentPosition();
  if (!ReadToken(chunk.token, depth) || !ReadChunkSize(chunk.size, depth)) return kStop;
  chunk.declared = chunk.size;
  if (rules.stopCount != 0) {
    const int stop = StopAtHeader(chunk, rules, depth);
    if (stop != kHandled) return stop;
  }
  if (rules.style == ListStyle::kAvi) {
    FitNamedSubChunk(chunk.size, remaining, depth);
  } else {
    FitSubChunk(chunk.size, remaining, depth);
    remaining -= 8 + AlignedSize(chunk.size);
  }
  return kHandled;
}

void CRIFFParser::EndListChunk(const ChunkHeader& chunk, uint64_t& remaining,
                               const ListRules& rules, int depth) {
  if (rules.style != ListStyle::kRiff) return;
  if (StepBackOntoMissingPad(chunk.headerPos, chunk.size, remaining + 1, depth + 1)) ++remaining;
}

int CRIFFParser::EndOfList(uint64_t remaining, const ListRules& rules, int depth) {
  return rules.style == ListStyle::kAvi ? EndOfAviList(remaining, depth)
                                        : EndOfListBody(remaining, depth);
}

bool CRIFFParser::StepBackOntoMissingPad(uint64_t headerPos, uint32_t size, uint64_t room,
                                         int depth) {
  const uint64_t padPos = headerPos + kHeaderSize + size;
  if (!wordAligned_ || (size & 1) == 0 || CurrentPosition() != padPos + 1) return false;
  if (!HeaderStartsAt(padPos, room)) return false;
  // The pad byte was counted when it was stepped over.
  Seek(padPos);
  --input_.positionCounter;
  report_.Message(kPadByteMissing, depth, kWarning);
  return true;
}

bool CRIFFParser::HeaderStartsAt(uint64_t position, uint64_t room) {
  // The header at `position` and the one a byte later, as far as the file
  // holds them; the current position is kept.
  uint8_t bytes[kHeaderSize + 1];
  const uint64_t fileSize = FileSize();
  const uint64_t left = position < fileSize ? fileSize - position : 0;
  const size_t available = static_cast<size_t>(std::min<uint64_t>(sizeof bytes, left));
  if (available < kHeaderSize || !ReadAt(position, bytes, available)) return false;
  return IsPlausibleHeader(bytes, available, room, bigEndian_) &&
         !IsPlausibleHeader(bytes + 1, available - 1, room - 1, bigEndian_);
}

bool CRIFFParser::ReadAt(uint64_t position, void* dest, uint64_t count) {
  const uint64_t savedPosition = CurrentPosition();
  const uint64_t savedCounter = input_.positionCounter;
  const bool ok = Seek(position) && Read(dest, count);
  Seek(savedPosition);
  input_.positionCounter = savedCounter;
  return ok;
}

void CRIFFParser::FitSubChunk(uint32_t& size, uint64_t& remaining, int depth) {
  const uint64_t needed = 8 + AlignedSize(size);
  if (needed <= remaining) return;
  report_.Message(kTokenTooLarge, depth, kError);
  if (options_.scan.subchunkEnforcesParentSize) {
    remaining = needed;
  } else {
    // remaining >= 8 here, and below needed <= 2^32 + 8.
    size = static_cast<uint32_t>(remaining - 8);
  }
}

void CRIFFParser::FitNamedSubChunk(uint32_t& size, uint64_t& remaining, int depth) {
  // remaining >= 8 here: the walk only reads a header while 8 bytes remain.
  const uint64_t room = remaining - 8;
  if (size > room) {
    report_.Message("Token Size (" + Report::NumberText(size) + ") greater Chunk Size (" +
                        Report::NumberText(room) + ")!",
                    depth, kError);
    if (options_.scan.subchunkEnforcesParentSize) {
      remaining = 8 + AlignedSize(size);
    } else {
      size = static_cast<uint32_t>(room);
    }
  }
  // A pad byte the list has no room for is not charged to it.
  remaining -= std::min(remaining, 8 + AlignedSize(size));
}

int CRIFFParser::EndOfListBody(uint64_t remaining, int depth) {
  if (remaining == 0) return kHandled;
  if (wordAligned_ && remaining == 1) {
    // An odd-sized list ends with its pad byte, which may be missing at the
    // end of the file (the caller looks for it missing elsewhere).
    if (CurrentPosition() < FileSize()) SkipChecked(1, 0);
    return kHandled;
  }
  // Fewer than 8 bytes cannot hold another chunk; more are left only when the
  // file ended inside the list.
  if (remaining < 8) report_.Message(kSizeMismatch, depth, kError);
  const uint64_t left = RemainingInFile();
  // The list's pad byte may be missing at the very end of the file.
  if (wordAligned_ && remaining == left + 1) remaining = left;
  const bool inFile = remaining <= left;
  SkipChecked(remaining, depth + 1);
  return inFile ? kHandled : kStop;
}

int CRIFFParser::EndOfAviList(uint64_t remaining, int depth) {
  if (remaining == 0) return kHandled;
  if (remaining < 8) report_.Message(kSizeMismatch, depth, kError);
  const bool inFile = remaining <= RemainingInFile();
  SkipChecked(remaining, depth + 1);
  return inFile ? kHandled : kStop;
}

int CRIFFParser::HandleSubList(uint32_t token, uint32_t size, uint64_t headerPos,
                               uint64_t& remaining, int depth) {
  uint32_t listType = 0;
  if (!ReadToken(listType, depth)) return kStop;
  if (listType != kInfoId) {
    const int inner = ChunkHeaderLine(token, listType, size, headerPos, "", depth);
    return WalkList(uint64_t{size} - 4, inner);
  }
  const int inner = ChunkHeaderLine(token, listType, size, headerPos, "RIFF Info List", depth);
  const int result = WalkInfoList(uint64_t{size} - 4, inner);
  if (result < kMetRiff) return result;
  // The INFO list claimed bytes of the chunk it ran into: they belong to this
  // list again, and that chunk is walked next.
  const uint64_t listEnd = headerPos + 8 + AlignedSize(size);
  const uint64_t position = CurrentPosition();
  if (listEnd > position) remaining += listEnd - position;
  return kHandled;
}

int CRIFFParser::SkipUnknownChunk(uint32_t token, uint32_t size, uint64_t headerPos, int depth) {
  const int inner = ChunkHeaderLine(token, 0, size, headerPos, "", depth);
  return SkipChunkBody(size, inner) ? kHandled : kStop;
}

int CRIFFParser::WalkInfoList(uint64_t size, int depth) {
  // The list's size may run into the next part of the file: the walk then
  // steps back onto that header so that the caller can walk it.
  static const ChunkTable<CRIFFParser> kTable = {nullptr, 0, &CRIFFParser::HandleInfoListChunk};
  return WalkChunks(AlignedSize(size), ContainerRules(ListStyle::kRiff, nullptr), *this, kTable,
                    depth);
}

int CRIFFParser::HandleInfoListChunk(const ChunkHeader& chunk, uint64_t&, int depth) {
  return HandleInfoSubChunk(chunk.token, chunk.size, chunk.headerPos, depth) == kStop ? kStop
                                                                                      : kHandled;
}

int CRIFFParser::StopAtHeader(const ChunkHeader& chunk, const ListRules& rules, int depth) {
  int result = kHandled;
  bool listTypes = false;
  for (size_t i = 0; i < rules.stopCount && result == kHandled; ++i) {
    const StopHeader& header = rules.stops[i];
    if (header.listType == 0 && header.token == chunk.token) result = header.result;
    listTypes = listTypes || header.listType != 0;
  }
  if (result == kHandled && listTypes && chunk.token == kListId && chunk.size >= 4) {
    // A list of a stop type shows as a `LIST` header: its type is looked at
    // without being consumed.
    uint32_t listType = 0;
    if (!ReadToken(listType, depth) || !Skip(-4, true)) return kStop;
    for (size_t i = 0; i < rules.stopCount && result == kHandled; ++i) {
      const StopHeader& header = rules.stops[i];
      if (header.listType != 0 && header.listType == listType) result = header.result;
    }
  }
  if (result == kHandled) return kHandled;
  const int inner =
      rules.stopLine ? ChunkHeaderLine(chunk.token, 0, chunk.size, chunk.headerPos, "", depth)
                     : depth;
  if (rules.stopNote) report_.Message(rules.stopNote, inner, kError);
  return Skip(-8, true) ? result : kStop;
}

int CRIFFParser::HandleInfoSubChunk(uint32_t token, uint32_t size, uint64_t headerPos, int depth) {
  overheadSize_ += uint64_t{size} + 8;
  if (FourCCByte(token, 0) == 'I')
    return DumpTextChunk(token, size, "Info", depth) ? kHandled : kStop;
  if (RiffChunkTables::IsWideInfoTextToken(token)) {
    return DumpWideTextChunk(token, size, "Info", depth) ? kHandled : kStop;
  }
  if (token == kJunkId || token == kJunqId) return HandleJunk(token, size, depth);
  const int inner = ChunkHeaderLine(token, 0, size, headerPos, "", depth);
  report_.Message(kUnexpectedToken, inner, kWarning);
  return SkipChunkBody(size, inner) ? kHandled : kStop;
}

// ---------------------------------------------------------------------------
// Chunks any form may hold

int CRIFFParser::HandleKnownChunk(uint32_t token, uint32_t size, int depth) {
  int result;
  if (RiffChunkTables::IsInfoTextToken(token)) {
    result = DumpTextChunk(token, size, "RIFF Info Chunk", depth) ? kHandled : kStop;
  } else if (token == kInfoId) {
    result = HandleInfoChunk(size, depth);
  } else if (token == kUnfoId) {
    result = DumpWideTextChunk(token, size, "RIFF Info Chunk", depth) ? kHandled : kStop;
  } else if (token == kJunkId || token == kJunqId || token == kPadId) {
    result = HandleJunk(token, size, depth);
  } else if (token == kFxtcId) {
    const int inner =
        ChunkHeaderLine(token, 0, size, HeaderPosition(8), "AVI Adobe After Effects Chunk", depth);
    report_.Message(kUnexpectedToken, inner, kWarning);
    result = SkipChunkBody(size, inner) ? kHandled : kStop;
  } else if (token == kDispId) {
    result = HandleDisplayChunk(size, depth);
  } else if (token == kGuidId) {
    result = HandleGuidChunk(size, depth);
  } else if (token == kNameId) {
    result = DumpWideTextChunk(token, size, "RIFF Name Chunk", depth) ? kHandled : kStop;
  } else if (token == kFileId) {
    result = DumpWideTextChunk(token, size, "RIFF File Chunk", depth) ? kHandled : kStop;
  } else if (token == kVersId) {
    result = HandleVersionChunk(size, depth);
  } else {
    return kNotKnown;
  }
  overheadSize_ += uint64_t{size} + 8;
  return result;
}

int CRIFFParser::HandleJunk(uint32_t token, uint32_t size, int depth) {
  const int inner = ChunkHeaderLine(token, 0, size, HeaderPosition(8), "RIFF Junk", depth);
  if (token == kJunqId) report_.Message("Unexpected Token (Premiere JUNK)!", inner, kWarning);
  return SkipChunkBody(size, inner) ? kHandled : kStop;
}

int CRIFFParser::HandleInfoChunk(uint32_t size, int depth) {
  // An INFO chunk (rather than a list) wraps a single text chunk.
  const uint64_t bodyStart = CurrentPosition();
  const int inner = ChunkHeaderLine(kInfoId, 0, size, HeaderPosition(8), "RIFF Info List", depth);
  if (size >= 8) {
    const uint64_t headerPos = CurrentPosition();
    uint32_t token = 0;
    uint32_t subSize = 0;
    if (!ReadToken(token, inner) || !ReadChunkSize(subSize, inner)) return kStop;
    uint64_t room = AlignedSize(size);
    FitSubChunk(subSize, room, inner);
    // The wrapper counts as overhead as a whole, so the text is not counted again.
    const uint64_t overhead = overheadSize_;
    int result = token == kInfoId ? kNotKnown : HandleKnownChunk(token, subSize, inner);
    overheadSize_ = overhead;
    if (result == kNotKnown) result = SkipUnknownChunk(token, subSize, headerPos, inner);
    if (result == kStop) return kStop;
  }
  return SkipRestOfChunk(bodyStart, size, inner) ? kHandled : kStop;
}

bool CRIFFParser::DumpTextChunk(uint32_t token, uint32_t size, const std::string& name, int depth) {
  return DumpText(token, size, name, kAnsiTextField, depth);
}

bool CRIFFParser::DumpWideTextChunk(uint32_t token, uint32_t size, const std::string& name,
                                    int depth) {
  return DumpText(token, size, name, kWideTextField, depth);
}

bool CRIFFParser::DumpText(uint32_t token, uint32_t size, const std::string& name,
                           const FieldDesc (&field)[1], int depth) {
  const std::string tag = FourCCText(token);
  const StructDesc desc(name.c_str(), tag.c_str(), 0, 0, field);
  bool complete = false;
  return DumpDescribed(size, desc, depth, complete) && complete;
}

bool CRIFFParser::DumpDescribed(uint32_t size, const StructDesc& desc, int depth, bool& complete) {
  complete = false;
  const uint64_t left = RemainingInFile();
  if (size > left) {
    report_.Message(kPrematureEnd, depth, kFatal);
    return false;
  }
  if (size > kMaxDescribedBody) {
    report_.Message("Unknown Token Size>!", depth, kError);
    return SkipChunkBody(size, depth + 1);
  }
  // The last chunk of a file may lack its pad byte: dump it without one.
  const bool wordAligned = wordAligned_;
  if (wordAligned && (size & 1) != 0 && size == left) wordAligned_ = false;
  const uint64_t body = AlignedSize(size);
  const uint32_t span = size + 8;
  const uint32_t consumed = StructureDumper::DumpStructure(*this, depth, 8, span, span, desc,
                                                           StructureDumper::kNoItemLimit);
  wordAligned_ = wordAligned;
  complete = consumed == body;
  return consumed != 0 || body == 0;
}

int CRIFFParser::HandleGuidChunk(uint32_t size, int depth) {
  bool complete = false;
  // Size problems are the dumper's to report; the position is behind the
  // chunk whenever its body could be read.
  return DumpDescribed(size, kGuidChunk, depth, complete) ? kHandled : kStop;
}

int CRIFFParser::HandleDisplayChunk(uint32_t size, int depth) {
  const uint64_t bodyStart = CurrentPosition();
  const int inner =
      ChunkHeaderLine(kDispId, 0, size, HeaderPosition(8), "RIFF Display Chunk", depth);
  if (size < 4) {
    report_.Message("Unknown Token Size, expected at least 4!", inner, kError);
    std::vector<uint8_t> bytes;
    if (!ReadBody(bytes, size, inner)) return kStop;
    if (!bytes.empty())
      report_.HexDump(bytes.data(), bytes.size(), inner, options_.report.verbosity);
    return SkipRestOfChunk(bodyStart, size, inner) ? kHandled : kStop;
  }
  std::vector<uint8_t> formatBytes;
  if (!ReadBody(formatBytes, 4, inner)) return kStop;
  const uint32_t format = ByteReader(formatBytes.data(), 4, bigEndian_).U32();
  report_.PlainLine("00 Type: 0x" + Hex32(format) + RiffChunkTables::ClipboardFormatName(format),
                    inner);
  const uint32_t rest = size - 4;
  const bool isText =
      format == kClipboardText || format == kClipboardOemText || format == kClipboardUnicodeText;
  if (isText && rest > 0) {
    std::vector<uint8_t> text;
    if (!ReadBody(text, rest, inner)) return kStop;
    report_.PlainLine(
        "04 Data: \"" + DisplayText(text, format == kClipboardUnicodeText, bigEndian_) + "\"",
        inner);
  }
  // Other formats: the rest is shown as data while it is skipped.
  return SkipRestOfChunk(bodyStart, size, inner) ? kHandled : kStop;
}

int CRIFFParser::HandleVersionChunk(uint32_t size, int depth) {
  const uint64_t bodyStart = CurrentPosition();
  const int inner =
      ChunkHeaderLine(kVersId, 0, size, HeaderPosition(8), "RIFF Version Chunk", depth);
  if (size != 8) report_.Message("Unknown Token Size, expected 8!", inner, kError);
  std::vector<uint8_t> body;
  if (!ReadBody(body, std::min<uint32_t>(size, 8), inner)) return kStop;
  ByteReader reader(body.data(), body.size(), bigEndian_);
  if (body.size() >= 4) {
    report_.PlainLine("00 : 0x" + Hex32(reader.U32()), inner);
  }
  if (body.size() >= 8) {
    const uint32_t ls = reader.U32();
    report_.PlainLine("04 VersionLS: 0x" + Hex32(ls), inner);
    const uint32_t ms = ByteReader(body.data(), 4, bigEndian_).U32();
    report_.PlainLine("-> Version: " + std::to_string(ms >> 16) + "." +
                          std::to_string(ms & 0xFFFF) + "." + std::to_string(ls >> 16) + "." +
                          std::to_string(ls & 0xFFFF),
                      inner);
  } else if (reader.Remaining() > 0) {
    // A word cut short: shown as bytes.
    report_.HexDump(reader.Current(), reader.Remaining(), inner, options_.report.verbosity);
  }
  return SkipRestOfChunk(bodyStart, size, inner) ? kHandled : kStop;
}
