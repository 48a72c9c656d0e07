#include "riff/AviChunkReader.h"

#include <algorithm>

#include "core/ByteReader.h"
#include "core/FourCC.h"
#include "riff/AviIds.h"

namespace {

using avi::kIdx1Id;
using avi::kJunkId;
using avi::kListId;
using avi::kRecId;
using avi::kRiffId;

constexpr uint32_t kReversedListId = FourCC("TSIL");


// Garbled data is searched in blocks of this size.
constexpr uint64_t kRecoveryBlock = 0x80000;
constexpr uint64_t kFirstRecoveryBlock = 64;

constexpr int kHandled = CRIFFParser::kHandled;
constexpr int kNotKnown = CRIFFParser::kNotKnown;
constexpr int kStop = CRIFFParser::kStop;
constexpr int kMetRiff = CRIFFParser::kMetRiff;
constexpr uint32_t kNoChunkSize = CParser::kNoChunkSize;
constexpr const char* kPrematureEnd = CParser::kPrematureEnd;
constexpr const char* kUnexpectedToken = CRIFFParser::kUnexpectedToken;

bool IsDigit(uint8_t c) { return c >= '0' && c <= '9'; }
bool IsLetter(uint8_t c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

}  // namespace

AviChunkReader::AviChunkReader(AviParseContext& context)
    : reader_(context.reader),
      report_(context.report),
      model_(context.model),
      progress_(context.progress) {}

bool AviChunkReader::IsMetCode(int result) {
  return result == kMetRiff || result == kMetMovi || result == kMetIdx1;
}

bool AviChunkReader::IsListToken(uint32_t token) {
  return token == kListId || token == kReversedListId;
}

bool AviChunkReader::IsPlausibleChunkId(uint32_t token) const {
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

bool AviChunkReader::PeekToken(uint64_t position, uint32_t& token) {
  uint8_t bytes[4];
  if (position > reader_.FileSize() || reader_.FileSize() - position < 4 ||
      !reader_.ReadAt(position, bytes, 4)) {
    return false;
  }
  token = FourCCFromBytes(bytes);
  return true;
}

bool AviChunkReader::PlausibleChunkAt(uint64_t position) {
  uint32_t token = 0;
  return PeekToken(position, token) && IsPlausibleChunkId(token);
}

bool AviChunkReader::StreamChunkAt(uint64_t position) {
  uint32_t token = 0;
  return PeekToken(position, token) && IsPlausibleChunkId(token) && model_.StreamNumber(token) >= 0;
}

bool AviChunkReader::TakePadByte(uint64_t end, bool expected) {
  // The header behind the chunk decides, where only one of the two places
  // holds one.
  if (!PlausibleChunkAt(end + (expected ? 1 : 0)) && PlausibleChunkAt(end + (expected ? 0 : 1))) {
    return !expected;
  }
  return expected;
}

bool AviChunkReader::ReadRawSize(uint32_t& size, int depth) {
  uint8_t bytes[4];
  if (!reader_.ReadChecked(bytes, 4, depth, true)) return false;
  size = ByteReader(bytes, 4, reader_.BigEndian()).U32();
  return true;
}

void AviChunkReader::GiveBackRest(const AviSubChunk& chunk, uint64_t& remaining) {
  const uint64_t chunkEnd = chunk.BodyStart() + reader_.AlignedSize(chunk.size);
  const uint64_t position = reader_.CurrentPosition();
  if (chunkEnd > position) remaining += chunkEnd - position;
}

uint64_t AviChunkReader::ListBodySize(const AviSubChunk& chunk) {
  // The bytes behind the list type, with the pad byte where the file has it.
  const uint64_t typeEnd = chunk.BodyStart() + 4;
  const uint64_t bodyEnd = chunk.BodyStart() + chunk.size;
  uint64_t end = chunk.BodyStart() + reader_.AlignedSize(chunk.size);
  if (end > reader_.FileSize() && bodyEnd <= reader_.FileSize()) end = bodyEnd;
  return end > typeEnd ? end - typeEnd : 0;
}

bool AviChunkReader::ReadChunkBody(const AviSubChunk& chunk, std::vector<uint8_t>& body,
                                   uint64_t limit, int depth) {
  const uint64_t bodyEnd = chunk.BodyStart() + chunk.size;
  const uint64_t position = reader_.CurrentPosition();
  const uint64_t count = std::min(bodyEnd > position ? bodyEnd - position : 0, limit);
  // Checked before anything is allocated: the size came from the file.
  if (count > reader_.RemainingInFile()) {
    report_.Message(kPrematureEnd, depth, kFatal);
    return false;
  }
  body.assign(static_cast<size_t>(count), 0);
  return count == 0 || reader_.ReadChecked(body.data(), count, depth, true);
}

bool AviChunkReader::FinishChunk(const AviSubChunk& chunk, int depth) {
  const uint64_t bodyEnd = chunk.BodyStart() + chunk.size;
  uint64_t position = reader_.CurrentPosition();
  if (position < bodyEnd) {
    const uint64_t count = bodyEnd - position;
    const bool inFile = count <= reader_.RemainingInFile();
    reader_.SkipChecked(count, depth);
    if (!inFile) return false;
  }
  // The pad byte is skipped unseen; the last chunk of a file may lack it.
  const uint64_t alignedEnd = chunk.BodyStart() + reader_.AlignedSize(chunk.size);
  position = reader_.CurrentPosition();
  if (position < alignedEnd && position < reader_.FileSize())
    reader_.SkipChecked(alignedEnd - position, 0);
  return true;
}

bool AviChunkReader::OmitsPadByte(const AviSubChunk& chunk) {
  const uint64_t end = chunk.BodyStart() + chunk.size;
  return reader_.WordAligned() && (chunk.size & 1) != 0 && reader_.CurrentPosition() == end &&
         end < reader_.FileSize() && !TakePadByte(end, true);
}

int AviChunkReader::SkipNamedChunk(const AviSubChunk& chunk, uint32_t listType, const char* name,
                                   bool warn, int depth) {
  const int inner = ChunkLine(chunk, listType, name, depth);
  if (warn) report_.Message(kUnexpectedToken, inner, kWarning);
  return FinishChunk(chunk, inner) ? kHandled : kStop;
}

int AviChunkReader::WalkGenericList(const AviSubChunk& chunk, uint32_t listType,
                                    const std::string& name, bool warn, int depth) {
  const int inner = ChunkLine(chunk, listType, name, depth);
  if (warn) report_.Message(kUnexpectedToken, inner, kWarning);
  return reader_.WalkList(chunk.size - 4, inner);
}

int AviChunkReader::HandleOtherChunk(const AviSubChunk& chunk, int depth) {
  const int result = reader_.HandleKnownChunk(chunk.token, chunk.size, depth);
  if (result != kNotKnown) return result;
  return SkipNamedChunk(chunk, 0, "", true, depth);
}

int AviChunkReader::ChunkLine(const AviSubChunk& chunk, uint32_t listType, const std::string& name,
                              int depth) {
  return reader_.ChunkHeaderLine(chunk.token, listType, chunk.size, chunk.headerPos, name, depth);
}

bool AviChunkReader::RecoverGarbledData(int depth, uint64_t limit, uint32_t& token,
                                        uint64_t& consumed) {
  const uint64_t here = reader_.CurrentPosition();
  const uint64_t back = consumed > 6 ? std::min<uint64_t>(7, here) : 0;
  const uint64_t start = here - back;
  const uint64_t end = limit > ~uint64_t{0} - start ? ~uint64_t{0} : start + limit;
  const bool found = SearchChunkId(depth, start, end, here, 0, token);
  consumed = consumed - std::min(consumed, back) + (reader_.CurrentPosition() - start);
  return found;
}

bool AviChunkReader::SearchChunkId(int depth, uint64_t start, uint64_t end, uint64_t failedTokenEnd,
                                   uint64_t minimumEnd, uint32_t& token) {
  const uint64_t stop = std::min(end, reader_.FileSize());
  const uint64_t range = stop > start ? stop - start : 0;
  report_.Message("Garbled Data found!", depth, kError);
  // Most searches end within a few bytes: the blocks start small and double
  // (64, 64, 128, ... bytes up to 512 KiB at a time), so that a file of many
  // garbled chunks costs no more than its own bytes. Each 512 KiB searched
  // is one progress tick.
  std::vector<uint8_t> block;
  uint32_t window = 0;
  uint64_t searched = 0;
  uint64_t foundEnd = 0;
  bool readable = reader_.Seek(start);
  while (readable && searched < range && foundEnd == 0) {
    const uint64_t ramp = std::max(searched, kFirstRecoveryBlock);
    const uint64_t count = std::min({range - searched, ramp, kRecoveryBlock});
    if (block.size() < count) block.resize(static_cast<size_t>(count));
    readable = reader_.ReadChecked(block.data(), count, depth, true);
    if (!readable) break;
    if (searched % kRecoveryBlock == 0) report_.ProgressTick(progress_);
    for (size_t i = 0; i < count; ++i) {
      // The newest byte enters at the top: the window reads as a token in
      // file order.
      window = (window >> 8) | static_cast<uint32_t>(block[i]) << 24;
      ++searched;
      const uint64_t windowEnd = start + searched;
      if (searched >= 4 && windowEnd != failedTokenEnd && windowEnd > minimumEnd &&
          IsPlausibleChunkId(window)) {
        foundEnd = windowEnd;
        break;
      }
    }
  }
  if (foundEnd == 0) {
    reader_.Seek(start + range);
    reader_.AddOverhead(range);
    report_.PlainLine("Unrecoverable", depth);
    return false;
  }
  reader_.Seek(foundEnd);
  const uint64_t passed = foundEnd - 4 - start;
  reader_.AddOverhead(passed);
  token = window;
  reader_.ChunkHeaderLine(token, 0,
                          static_cast<uint32_t>(std::min<uint64_t>(passed, kNoChunkSize - 1)),
                          foundEnd - 4, "Recovered (S:Offset)", depth);
  return true;
}
