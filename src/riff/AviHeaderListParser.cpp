#include "riff/AviHeaderListParser.h"

#include <algorithm>
#include <string>
#include <vector>

#include "core/ByteReader.h"
#include "core/FourCC.h"
#include "riff/AviHeaderDumper.h"
#include "riff/AviIds.h"
#include "riff/AviOdmlIndexReader.h"

namespace {

using avi::kAvihId;
using avi::kDmlhId;
using avi::kIndxId;
using avi::kJunkId;
using avi::kJunqId;
using avi::kListId;
using avi::kOdmlId;
using avi::kStrdId;
using avi::kStrfId;
using avi::kStrhId;
using avi::kStrlId;
using avi::kStrnId;

constexpr uint32_t kReversedListId = FourCC("TSIL");
constexpr uint32_t kInfoId = FourCC("INFO");
constexpr uint32_t kUnfoId = FourCC("UNFO");
constexpr uint32_t kVedtId = FourCC("vedt");
constexpr uint32_t kSegmId = FourCC("segm");
constexpr uint32_t kVprpId = FourCC("vprp");
constexpr uint32_t kStrcId = FourCC("strc");

constexpr size_t kMainHeaderSize = 56;
constexpr size_t kStreamHeaderSize = 56;
constexpr size_t kExtendedHeaderSize = 248;

const char kDuplicateIgnored[] = "Unexpected duplicate Token, ignored!";
const char kOutOfSequence[] = "Unexpected out-of-sequence Token, recovered!";
const char kRecovered[] = "Unexpected Token, recovered!";

constexpr int kHandled = CRIFFParser::kHandled;
constexpr int kStop = CRIFFParser::kStop;

// Chunks of editing and capture tools that are only announced and stepped
// over.
struct ToolChunk {
  uint32_t token;
  const char* name;
  bool warn;  // the chunk does not belong there: "Unexpected Token!"
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

AviHeaderListParser::AviHeaderListParser(AviParseContext& context, AviChunkReader& chunks,
                                         AviOdmlIndexReader& odmlIndex)
    : reader_(context.reader),
      report_(context.report),
      options_(context.options),
      model_(context.model),
      chunks_(chunks),
      odmlIndex_(odmlIndex) {}

int AviHeaderListParser::Walk(const AviSubChunk& list, int depth) {
  const uint64_t body = chunks_.ListBodySize(list);
  LookAheadAtHeaderList(reader_.CurrentPosition(), reader_.CurrentPosition() + body);
  return WalkHeaderList(body, depth);
}

int AviHeaderListParser::WalkHeaderList(uint64_t remaining, int depth) {
  using Parser = AviHeaderListParser;
  static const CRIFFParser::ChunkTable<Parser>::Entry kEntries[] = {
      {kListId, &Parser::HandleHeaderSubList},
      {kReversedListId, &Parser::HandleHeaderSubList},
      {kAvihId, &Parser::HandleMainHeader},
  };
  static const CRIFFParser::ChunkTable<Parser> kTable = {
      kEntries, sizeof kEntries / sizeof kEntries[0], &Parser::HandleOtherChunk};
  const int result = reader_.WalkChunks(remaining, ListRules(), *this, kTable, depth);
  if (result == kStop) return kStop;
  if (!model_.avihSeen) report_.Message("Missing 'avih'-Chunk!", depth, kError);
  if (streamListCount_ == 0) report_.Message("Missing 'strl'-Chunk!", depth, kError);
  return result;
}

CRIFFParser::ListRules AviHeaderListParser::ListRules() const {
  // A list whose size runs into the 'movi' list, the 'idx1' index or the
  // next segment ends there.
  return reader_.ContainerRules(CRIFFParser::ListStyle::kAvi, kRecovered);
}

int AviHeaderListParser::HandleOtherChunk(const AviSubChunk& chunk, uint64_t&, int depth) {
  if (const ToolChunk* tool = FindToolChunk(kHeaderToolChunks, chunk.token)) {
    return chunks_.SkipNamedChunk(chunk, 0, tool->name, tool->warn, depth);
  }
  return chunks_.HandleOtherChunk(chunk, depth);
}

void AviHeaderListParser::LookAheadAtHeaderList(uint64_t begin, uint64_t end) {
  bool streams = false;
  bool video = false;
  end = std::min(end, reader_.FileSize());
  uint8_t head[12];
  for (uint64_t at = begin; at + 12 <= end && reader_.ReadAt(at, head, sizeof head);) {
    const uint32_t token = FourCCFromBytes(head);
    const uint32_t size = ByteReader(head + 4, 4, reader_.BigEndian()).U32();
    const uint32_t listType = FourCCFromBytes(head + 8);
    const uint64_t next = at + 8 + reader_.AlignedSize(size);
    if (AviChunkReader::IsListToken(token) && listType == kStrlId) {
      const uint32_t type = StreamTypeIn(at + 12, std::min(next, end));
      streams = streams || type != 0;
      video = video || type == FourCC("vids") || type == FourCC("iavs");
    }
    if (token == kListId && listType == kOdmlId) model_.odmlAnnounced = true;
    at = next;
  }
  model_.videoAnnounced = video || !streams;
}

uint32_t AviHeaderListParser::StreamTypeIn(uint64_t begin, uint64_t end) {
  uint8_t head[12];
  for (uint64_t at = begin; at + 12 <= end && reader_.ReadAt(at, head, sizeof head);) {
    if (FourCCFromBytes(head) == kStrhId) return FourCCFromBytes(head + 8);
    at += 8 + reader_.AlignedSize(ByteReader(head + 4, 4, reader_.BigEndian()).U32());
  }
  return 0;
}

int AviHeaderListParser::HandleHeaderSubList(const AviSubChunk& chunk, uint64_t& remaining,
                                             int depth) {
  if (chunk.size < 4) return HandleOtherChunk(chunk, remaining, depth);
  uint32_t listType = 0;
  if (!reader_.ReadToken(listType, depth)) return kStop;
  if (listType == kStrlId) return HandleStreamList(chunk, depth);
  if (chunk.token == kListId && listType == kOdmlId) return HandleOdmlList(chunk, depth);
  if (chunk.token == kListId && (listType == kInfoId || listType == kUnfoId)) {
    const int inner = chunks_.ChunkLine(chunk, listType, "RIFF Info List", depth);
    const int result = reader_.WalkInfoList(chunk.size - 4, inner);
    // The header list ran into what follows it: it ends there too.
    if (AviChunkReader::IsMetCode(result)) report_.Message(kRecovered, inner, kError);
    return result;
  }
  return chunks_.SkipNamedChunk(chunk, listType, "", true, depth);
}

int AviHeaderListParser::HandleMainHeader(const AviSubChunk& chunk, uint64_t&, int depth) {
  const int inner = chunks_.ChunkLine(chunk, 0, "AVI Main Header", depth);
  if (model_.avihSeen) {
    report_.Message(kDuplicateIgnored, inner, kError);
    return chunks_.FinishChunk(chunk, inner) ? kHandled : kStop;
  }
  if (streamListCount_ > 0 || odmlListSeen_) report_.Message(kOutOfSequence, inner, kError);
  std::vector<uint8_t> body;
  if (!chunks_.ReadChunkBody(chunk, body, chunk.size, inner)) return kStop;
  // A short header is interpreted with its missing fields as zero.
  model_.avih.fill(0);
  std::copy_n(body.begin(), std::min(body.size(), kMainHeaderSize), model_.avih.begin());
  model_.avihSeen = true;
  AviHeaderDumper(reader_, model_)
      .DumpMainHeader(body.data(), static_cast<uint32_t>(body.size()), inner);
  return chunks_.FinishChunk(chunk, 0) ? kHandled : kStop;
}

int AviHeaderListParser::HandleStreamList(const AviSubChunk& chunk, int depth) {
  const uint32_t listNumber = streamListCount_;
  const int inner =
      chunks_.ChunkLine(chunk, kStrlId, "AVI Stream List #" + std::to_string(listNumber), depth);
  if (!model_.avihSeen || odmlListSeen_) {
    report_.Message("Unexpected out-of-sequence Token!", inner, kError);
  }
  ++streamListCount_;
  if (uint64_t{listNumber} + 1 > MainHeaderStreams()) {
    report_.Message("Stream count greater than AVI Main Header Streams!", inner, kError);
  }
  if (model_.streams.size() >= AviModel::kMaxStreams) {
    report_.Message("More than 100 Stream Lists, ignored!", inner, kError);
    return chunks_.FinishChunk(chunk, inner) ? kHandled : kStop;
  }
  const int result = WalkStreamList(chunks_.ListBodySize(chunk), inner);
  if (result == kHandled && !chunks_.FinishChunk(chunk, 0)) return kStop;
  return result;
}

int AviHeaderListParser::HandleOdmlList(const AviSubChunk& chunk, int depth) {
  const int inner = chunks_.ChunkLine(chunk, kOdmlId, "AVI OpenDML 1.02 Header List", depth);
  if (odmlListSeen_) {
    report_.Message(kDuplicateIgnored, inner, kError);
    return chunks_.FinishChunk(chunk, inner) ? kHandled : kStop;
  }
  if (!model_.avihSeen || streamListCount_ == 0) report_.Message(kOutOfSequence, inner, kError);
  odmlListSeen_ = true;
  model_.dmlhSeen = true;
  const int result = WalkOdmlList(chunks_.ListBodySize(chunk), inner);
  if (result == kHandled && !chunks_.FinishChunk(chunk, 0)) return kStop;
  return result;
}

int AviHeaderListParser::WalkOdmlList(uint64_t remaining, int depth) {
  using Parser = AviHeaderListParser;
  static const CRIFFParser::ChunkTable<Parser>::Entry kEntries[] = {
      {kDmlhId, &Parser::HandleExtendedHeader},
  };
  static const CRIFFParser::ChunkTable<Parser> kTable = {
      kEntries, sizeof kEntries / sizeof kEntries[0], &Parser::HandleOdmlChunk};
  odmlFirst_ = true;
  return reader_.WalkChunks(remaining, ListRules(), *this, kTable, depth);
}

int AviHeaderListParser::HandleOdmlChunk(const AviSubChunk& chunk, uint64_t&, int depth) {
  if (odmlFirst_) report_.Message("Unexpected Token, expected 'dmlh'!", depth, kError);
  odmlFirst_ = false;
  return chunks_.HandleOtherChunk(chunk, depth);
}

int AviHeaderListParser::HandleExtendedHeader(const AviSubChunk& chunk, uint64_t&, int depth) {
  odmlFirst_ = false;
  const int inner = chunks_.ChunkLine(chunk, 0, "AVI ODML Header", depth);
  if (chunk.size != kExtendedHeaderSize) {
    report_.Message("Unknown Token Size, expected " + std::to_string(kExtendedHeaderSize) + "!",
                    inner, kWarning);
  }
  std::vector<uint8_t> body;
  if (!chunks_.ReadChunkBody(chunk, body, kExtendedHeaderSize, inner)) return kStop;
  model_.dmlh.fill(0);
  std::copy(body.begin(), body.end(), model_.dmlh.begin());
  AviHeaderDumper(reader_, model_)
      .DumpExtendedHeader(body.data(), static_cast<uint32_t>(body.size()), inner);
  return chunks_.FinishChunk(chunk, 0) ? kHandled : kStop;
}

int AviHeaderListParser::WalkStreamList(uint64_t remaining, int depth) {
  using Parser = AviHeaderListParser;
  static const CRIFFParser::ChunkTable<Parser>::Entry kEntries[] = {
      {kStrhId, &Parser::HandleStreamHeader},        {kStrfId, &Parser::HandleStreamFormat},
      {kStrdId, &Parser::HandleOptionalStreamChunk}, {kStrnId, &Parser::HandleOptionalStreamChunk},
      {kVprpId, &Parser::HandleOptionalStreamChunk}, {kIndxId, &Parser::HandleStreamIndex},
      {kJunkId, &Parser::HandleStreamJunk},          {kJunqId, &Parser::HandleStreamJunk},
  };
  static const CRIFFParser::ChunkTable<Parser> kTable = {
      kEntries, sizeof kEntries / sizeof kEntries[0], &Parser::HandleUnexpectedStreamChunk};
  // One stream per stream list, so that the stream numbers of the chunk ids
  // stay those of the lists even when a list is empty.
  model_.streams.emplace_back();
  stream_ = StreamListFlags();
  stream_.stream = model_.streams.size() - 1;
  const int result = reader_.WalkChunks(remaining, ListRules(), *this, kTable, depth);
  if (result == kStop) return kStop;
  if (!stream_.strh) report_.Message("Missing 'strh'-Chunk!", depth, kError);
  return result;
}

int AviHeaderListParser::HandleStreamJunk(const AviSubChunk& chunk, uint64_t&, int depth) {
  return reader_.HandleKnownChunk(chunk.token, chunk.size, depth);
}

int AviHeaderListParser::HandleUnexpectedStreamChunk(const AviSubChunk& chunk, uint64_t&,
                                                     int depth) {
  if (const ToolChunk* tool = FindToolChunk(kStreamToolChunks, chunk.token)) {
    return chunks_.SkipNamedChunk(chunk, 0, tool->name, tool->warn, depth);
  }
  uint32_t listType = 0;
  if (AviChunkReader::IsListToken(chunk.token) && chunk.size >= 4 &&
      !reader_.ReadToken(listType, depth)) {
    return kStop;
  }
  return chunks_.SkipNamedChunk(chunk, listType, "", true, depth);
}

int AviHeaderListParser::HandleStreamHeader(const AviSubChunk& chunk, uint64_t&, int depth) {
  const int inner = chunks_.ChunkLine(chunk, 0, "AVI StreamHeader", depth);
  if (stream_.strh) {
    report_.Message(kDuplicateIgnored, inner, kError);
    return chunks_.FinishChunk(chunk, inner) ? kHandled : kStop;
  }
  std::vector<uint8_t> body;
  if (!chunks_.ReadChunkBody(chunk, body, chunk.size, inner)) return kStop;
  stream_.strh = true;
  AviStream& stream = model_.streams[stream_.stream];
  stream.strh.fill(0);
  std::copy_n(body.begin(), std::min(body.size(), kStreamHeaderSize), stream.strh.begin());
  stream.strhSeen = true;
  AviHeaderDumper(reader_, model_)
      .DumpStreamHeader(stream_.stream, body.data(), static_cast<uint32_t>(body.size()), inner);
  return chunks_.FinishChunk(chunk, 0) ? kHandled : kStop;
}

int AviHeaderListParser::HandleStreamFormat(const AviSubChunk& chunk, uint64_t&, int depth) {
  const int inner = chunks_.ChunkLine(chunk, 0, "AVI StreamFormat", depth);
  if (!stream_.strh) report_.Message(kOutOfSequence, inner, kError);
  AviStream& stream = model_.streams[stream_.stream];
  if (!chunks_.ReadChunkBody(chunk, stream.strf, chunk.size, inner)) return kStop;
  AviHeaderDumper(reader_, model_)
      .DumpStreamFormat(stream_.stream, stream.strf.data(), static_cast<uint32_t>(stream.strf.size()),
                        inner);
  return chunks_.FinishChunk(chunk, 0) ? kHandled : kStop;
}

int AviHeaderListParser::HandleOptionalStreamChunk(const AviSubChunk& chunk, uint64_t&, int depth) {
  const char* name = chunk.token == kStrdId   ? "AVI Additional Stream Data"
                     : chunk.token == kStrnId ? "AVI Stream Name"
                                              : "AVI Stream Video Property Header";
  bool& seen = chunk.token == kStrdId   ? stream_.strd
               : chunk.token == kStrnId ? stream_.strn
                                        : stream_.vprp;
  const int inner = chunks_.ChunkLine(chunk, 0, name, depth);
  if (seen) {
    report_.Message(kDuplicateIgnored, inner, kError);
    return chunks_.FinishChunk(chunk, inner) ? kHandled : kStop;
  }
  if (!stream_.strh) report_.Message(kOutOfSequence, inner, kError);
  seen = true;
  std::vector<uint8_t> body;
  if (!chunks_.ReadChunkBody(chunk, body, chunk.size, inner)) return kStop;
  AviStream& stream = model_.streams[stream_.stream];
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
    AviHeaderDumper(reader_, model_)
        .DumpVideoProperties(body.data(), static_cast<uint32_t>(body.size()), inner);
  }
  return chunks_.FinishChunk(chunk, 0) ? kHandled : kStop;
}

int AviHeaderListParser::HandleStreamIndex(const AviSubChunk& chunk, uint64_t&, int depth) {
  const int inner = chunks_.ChunkLine(chunk, 0, "AVI Stream Index", depth);
  AviStream& stream = model_.streams[stream_.stream];
  if (!chunks_.ReadChunkBody(chunk, stream.indx, chunk.size, inner)) return kStop;
  odmlIndex_.ParseSuperIndex(stream_.stream, stream.indx, inner);
  return chunks_.FinishChunk(chunk, 0) ? kHandled : kStop;
}

uint32_t AviHeaderListParser::MainHeaderStreams() const {
  return model_.avihSeen ? model_.MainHeader().streams : 0;
}
