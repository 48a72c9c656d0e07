#include "mpeg/CMPGParser.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <vector>

#include "core/BitReader.h"
#include "core/FieldFormat.h"
#include "mpeg/CMPGESAudioParser.h"
#include "mpeg/CMPGESGenericParser.h"
#include "mpeg/CMPGESVideoParser.h"

namespace {

constexpr size_t kTsPacket = 188;
// PIDs have 13 bits.
constexpr size_t kPidCount = 8192;
// Elementary-stream files are handed to their parser in blocks of this size.
constexpr size_t kEsBlock = 1 << 20;
// Transport packets read and extracted at a time: 1.5 MB, more than the
// input window, so that they are read straight into the block.
constexpr size_t kTsBlockPackets = 8192;
// The window in which a start code is looked for, read at a time.
constexpr size_t kScanBlock = 1 << 16;
// The bytes a PES packet header takes before its header data.
constexpr size_t kPesFixed = 6;

std::string Num(uint64_t value) { return Report::NumberText(value); }
std::string Hex(uint64_t value, int digits) { return "0x" + FieldFormat::Hex(value, digits); }

const char* const kTypeNames[] = {
    "Unknown",
    "Elementary Stream Video",
    "Elementary Stream Audio",
    "MPEG-1 Packetized Elementary Stream",
    "MPEG-2 Packetized Elementary Stream",
    "MPEG-1 Program Stream",
    "MPEG-2 Program Stream",
    "MPEG-2 Transport Stream",
    "MPEG Audio",
};

// The label of a PES packet by its stream id, and whether it carries the
// optional PES header.
struct PesKind {
  const char* label;
  bool header;
};
PesKind PesKindOf(uint8_t id) {
  if (id == 0xBC) return {"PES Program Stream Map", false};
  if (id == 0xBD) return {"PES Private Stream 1 (SubPicture, Non-MPEG Audio)", true};
  if (id == 0xBE) return {"PES Padding Stream", false};
  if (id == 0xBF) return {"PES Private Stream 2 (Navigation)", false};
  if (id <= 0xDF) return {"PES Audio Stream", true};
  if (id <= 0xEF) return {"PES Video Stream", true};
  switch (id) {
    case 0xF0:
      return {"PES DataStream ECM", false};
    case 0xF1:
      return {"PES DataStream EMM", false};
    case 0xF2:
      return {"PES DataStream DSMCC", false};
    case 0xF3:
      return {"PES DataStream ISO/IEC13522", false};
    case 0xF9:
      return {"PES DataStream Ancillary", false};
    case 0xFF:
      return {"PES DataStream Program Stream Directory", false};
    default:
      break;
  }
  if (id <= 0xF8) return {"PES DataStream ITU-T Rec. H.222.1 type A-E", false};
  return {"DataStream Reserved", false};
}

// Stream ids whose PES packets carry no optional header.
bool WithoutPesHeader(uint8_t id) {
  return id == 0xBC || id == 0xBE || id == 0xBF || id == 0xF0 || id == 0xF1 || id == 0xF2 ||
         id == 0xF8 || id == 0xFF;
}

bool IsStartCode(const uint8_t* bytes) { return bytes[0] == 0 && bytes[1] == 0 && bytes[2] == 1; }

// An MPEG audio frame header's first two bytes: the 11-bit sync, a version
// other than the reserved one, a layer other than the reserved one.
bool IsAudioSync(uint8_t first, uint8_t second) {
  return first == 0xFF && (second & 0xE0) == 0xE0 && (second & 0x18) != 0x08 &&
         (second & 0x06) != 0;
}

}  // namespace

CMPGParser::CMPGParser(RunOptions options, ReportOutput& output)
    : CParser(std::move(options), output), pids_(kPidCount) {}

CMPGParser::~CMPGParser() = default;

bool CMPGParser::Parse(const std::string& sourcePath, const std::string& outputPath) {
  sourcePath_ = sourcePath;
  outputPath_ = outputPath;
  fileType_ = kUnknown;
  const int depth = report_.TopLine(sourcePath);
  if (!OpenForReading(sourcePath)) {
    MarkJobFailed();
    return false;
  }
  const bool writing = !outputPath.empty();
  bool ok = false;
  if (writing && !CreateForWriting(outputPath)) {
    MarkJobFailed();
  } else {
    const int inner = OpeningLine(depth);
    ok = Walk(inner);
    // Units still waiting for a next start code are whole when the file has
    // ended (not when the trace limit stopped the walk).
    if (ok && CurrentPosition() >= FileSize()) {
      for (auto& stream : streams_) {
        if (stream) stream->Finish(inner);
      }
    }
    if (writing && !CloseOutput()) MarkJobFailed();
  }
  CloseInput();
  report_.Verdict(ok ? "This is a MPEG file." : "This might not be a valid MPEG file.", depth);
  report_.PlainLine(std::string("This MPEG file is of type ") + kTypeNames[fileType_], depth);
  Summary(depth);
  return ok;
}

// The lines are built in one buffer that keeps its room: a long walk
// prints millions of them.
void CMPGParser::Field(std::string_view label, std::string_view value, int depth, uint32_t level) {
  if (Verbosity() < level) return;
  line_.assign(label).append(1, ' ').append(value);
  report_.PlainLine(line_, depth);
}

void CMPGParser::Field(std::string_view label, Number value, int depth, uint32_t level) {
  char digits[20];
  const char* end = std::to_chars(digits, digits + sizeof digits, value.value).ptr;
  Field(label, std::string_view(digits, static_cast<size_t>(end - digits)), depth, level);
}

void CMPGParser::Warning(const std::string& text, int depth) const {
  report_.Message(text, depth, kWarning);
}

void CMPGParser::Error(const std::string& text, int depth) const {
  report_.Message(text, depth, kError);
}

CMPGParser::CMPGESParser& CMPGParser::StreamParser(uint8_t streamId) {
  std::unique_ptr<CMPGESParser>& slot = streams_[streamId];
  if (!slot) {
    if (streamId >= 0xC0 && streamId <= 0xDF) {
      slot = std::make_unique<CMPGESAudioParser>(*this);
    } else if (streamId >= 0xE0 && streamId <= 0xEF) {
      slot = std::make_unique<CMPGESVideoParser>(*this);
    } else {
      slot = std::make_unique<CMPGESGenericParser>(*this);
    }
  }
  return *slot;
}

void CMPGParser::Summary(int depth) {
  if (Verbosity() == 0) return;
  for (size_t id = 0; id < streams_.size(); ++id) {
    const CMPGESParser* stream = streams_[id].get();
    if (!stream) continue;
    std::string line = "Stream: " + Hex(id, 2) + ", Chunks: " + Num(stream->chunks) +
                       ", Packets: " + Num(stream->packets);
    if (stream->textSet) line += ", GOP: " + stream->text;
    report_.PlainLine(line, depth);
  }
}

// What the first bytes say the file is; -mt looks further for it.
bool CMPGParser::Walk(int depth) {
  uint8_t head[4] = {};
  const uint64_t size = FileSize();
  if (size < 4 || !Read(head, 4) || !Seek(0)) return false;
  if (options_.scan.byteOrder == ByteOrder::kMpegScan) return WalkScanned(depth);
  if (head[0] == 'I' && head[1] == 'D' && head[2] == '3' && head[3] >= 1 && head[3] <= 5) {
    return SkipId3(depth) && WalkElementary(0xC0, depth);
  }
  if (IsStartCode(head) && head[3] == 0xB3) return WalkElementary(0xE0, depth);
  if (IsStartCode(head) && head[3] == 0xBA) return WalkProgram(depth);
  if (IsAudioSync(head[0], head[1])) return WalkElementary(0xC0, depth);
  if (head[0] == 0x47 && IsTransportAt(0)) return WalkTransport(depth);
  return false;
}

// Scanning: a transport stream within the first 255 bytes, else a sequence
// or pack header within 10,000, else an audio frame within 10,000.
bool CMPGParser::WalkScanned(int depth) {
  std::vector<uint8_t> head(static_cast<size_t>(std::min<uint64_t>(FileSize(), 10000 + 4)));
  if (!ReadChecked(head.data(), head.size(), depth, true)) return false;
  const size_t n = head.size();
  for (size_t at = 0; at < std::min<size_t>(255, n); ++at) {
    if (head[at] == 0x47 && IsTransportAt(at)) return Seek(at) && WalkTransport(depth);
  }
  for (size_t at = 0; at + 4 <= n && at < 10000; ++at) {
    if (!IsStartCode(&head[at])) continue;
    if (head[at + 3] == 0xB3) return Seek(at) && WalkElementary(0xE0, depth);
    if (head[at + 3] == 0xBA) return Seek(at) && WalkProgram(depth);
  }
  for (size_t at = 0; at + 2 <= n && at < 10000; ++at) {
    if (IsAudioSync(head[at], head[at + 1])) return Seek(at) && WalkElementary(0xC0, depth);
  }
  return false;
}

// A 0x47 here and 188 bytes later (or a file of one packet).
bool CMPGParser::IsTransportAt(uint64_t at) {
  const uint64_t size = FileSize();
  if (at + kTsPacket >= size) return at + kTsPacket == size;
  uint8_t next = 0;
  const bool sync = Seek(at + kTsPacket) && Read(&next, 1) && next == 0x47;
  Seek(at);
  return sync;
}

bool CMPGParser::SkipId3(int depth) {
  uint8_t header[10];
  if (!ReadChecked(header, sizeof header, depth, true)) return false;
  // The size is four groups of 7 bits, most significant first.
  uint64_t size = 0;
  for (int i = 6; i < 10; ++i) size = size << 7 | (header[i] & 0x7F);
  const uint64_t length = size + sizeof header;
  const int inner = ChunkHeaderLine("'ID3 '", "", length, 0, "ID3-Tag", depth);
  if (size > FileSize() - CurrentPosition()) {
    report_.Message(kPrematureEnd, inner, kFatal);
    return false;
  }
  return SkipChecked(size, 0);
}

// An elementary-stream file: its blocks go to the stream's parser until the
// file ends or the trace limit is passed.
bool CMPGParser::WalkElementary(uint8_t streamId, int depth) {
  // A video stream says so here, before its sequence header would call it
  // a program stream; an audio stream is named by its first frame.
  if (streamId == 0xE0) SetFileType(kVideoElementary);
  CMPGESParser& parser = StreamParser(streamId);
  std::vector<uint8_t> block;
  for (;;) {
    const uint64_t here = CurrentPosition();
    const uint64_t left = FileSize() > here ? FileSize() - here : 0;
    if (left == 0 || parser.chunks > TraceLimit()) return true;
    block.resize(static_cast<size_t>(std::min<uint64_t>(left, kEsBlock)));
    if (!ReadChecked(block.data(), block.size(), depth, true)) return false;
    if (!parser.Parse(block.data(), block.size(), here, false, depth)) return false;
  }
}

bool CMPGParser::ReadBytes(std::vector<uint8_t>& bytes, uint64_t count, int depth) {
  const uint64_t here = CurrentPosition();
  const uint64_t left = FileSize() > here ? FileSize() - here : 0;
  bytes.resize(static_cast<size_t>(std::min(count, left)));
  if (!ReadChecked(bytes.data(), bytes.size(), depth, true)) return false;
  if (count <= left) return true;
  report_.Message(kPrematureEnd, depth, kFatal);
  return false;
}

// The file position of the next start code at or after `from` (of a code
// from 0xB9 on when `systemOnly`), the file size when there is none. The
// file is read in windows that overlap by three bytes, so a prefix across
// two windows is found.
uint64_t CMPGParser::NextStartCode(uint64_t from, bool systemOnly) {
  const uint64_t size = FileSize();
  std::vector<uint8_t> window(kScanBlock + 4);
  for (uint64_t start = from; start + 3 < size;) {
    const size_t length = static_cast<size_t>(std::min<uint64_t>(window.size(), size - start));
    if (!Seek(start) || !Read(window.data(), length)) return size;
    for (size_t at = BitReader::FindStartCode(window.data(), length, 0); at + 3 < length;
         at = BitReader::FindStartCode(window.data(), length, at + 1)) {
      if (!systemOnly || window[at + 3] >= 0xB9) return start + at;
    }
    if (length < window.size()) break;
    start += length - 3;
  }
  return size;
}

// Packs, system headers and PES packets, start code by start code, up to
// the trace limit; bytes between them are skipped.
bool CMPGParser::WalkProgram(int depth) {
  uint64_t handled = 0;
  uint64_t skips = 0;
  for (;;) {
    const uint64_t here = CurrentPosition();
    if (here + 4 > FileSize()) return true;
    uint8_t code[4];
    if (!ReadChecked(code, sizeof code, depth, true)) return false;
    if (!IsStartCode(code)) {
      // The search resumes one byte on: a prefix inside these four bytes is
      // not passed over.
      const uint64_t next = NextStartCode(here + 1, false);
      const bool shown = ++skips <= TraceLimit();
      if (shown) ChunkHeaderLine("Skipping", "", next - here, here, "", depth);
      if (!Seek(here) || !SkipChecked(next - here, shown && Verbosity() >= 3 ? depth + 1 : 0)) {
        return false;
      }
      continue;
    }
    if (++handled > TraceLimit()) return true;
    const uint8_t id = code[3];
    bool ok = true;
    if (id == 0xB9) {
      ChunkHeaderLine("0xb9", "", Report::kNoSize, here, "Program End Code", depth);
      return true;
    } else if (id == 0xBA) {
      ok = PackHeader(here, depth);
    } else if (id == 0xBB) {
      ok = SystemHeader(here, depth);
    } else if (id >= 0xBC) {
      ok = PesPacket(id, here, depth);
    } else {
      ok = SkipUnit(id, here, depth);
    }
    if (!ok) return false;
  }
}

// Reserved and user-data codes, and codes that have no place in a program
// stream: a 16-bit length and that many bytes, skipped.
bool CMPGParser::SkipUnit(uint8_t id, uint64_t here, int depth) {
  uint8_t length[2];
  if (!ReadChecked(length, sizeof length, depth, true)) return false;
  const uint64_t size = length[0] << 8 | length[1];
  uint32_t dumpLevel = 4;
  int inner = depth;
  if (id == 0xB0 || id == 0xB1 || id == 0xB6) {
    inner = ChunkHeaderLine("Reserved", "", size, here, "", depth);
  } else if (id == 0xB2) {
    inner = ChunkHeaderLine("0xb2", "", size, here, "User Data Start Code", depth);
    dumpLevel = 3;
  } else {
    inner = ChunkHeaderLine("Header", "", size, here, "", depth);
    Error("Unknown Marker in PES Packet", inner);
  }
  return SkipChecked(size, Verbosity() >= dumpLevel ? inner : 0);
}

bool CMPGParser::PackHeader(uint64_t here, int depth) {
  // An MPEG-2 pack header has 10 bytes after its code plus up to 7 of
  // stuffing, an MPEG-1 one 8.
  std::vector<uint8_t> bytes;
  const uint64_t left = FileSize() - CurrentPosition();
  if (!ReadBytes(bytes, std::min<uint64_t>(left, 17), depth)) return false;
  const int inner = ChunkHeaderLine("0xba", "", Report::kNoSize, here, "Pack Header", depth);
  BitReader reader(bytes.data(), bytes.size());
  const size_t used = PackFields(reader, inner);
  if (reader.Overrun()) Error("Pack Header cut short!", inner);
  return Seek(here + 4 + std::min(used, bytes.size()));
}

// The fields of a pack header; returns the bytes they took.
size_t CMPGParser::PackFields(BitReader& reader, int depth) {
  const uint32_t type = reader.Peek(2);
  if (type == 1) {
    reader.Bits(2);
    Field("Type:", "1 (MPEG-2)", depth);
    SetFileType(kMpeg2Program);
    uint64_t scr = 0;
    if (!Timestamp(reader, depth, scr)) return reader.BytePosition();
    const uint64_t extension = reader.Bits(9);
    if (Verbosity() >= 4) Field("ext:", Number(extension), depth + 1);
    Marker(reader, 1, "1", depth);
    Field("--> SCR (27Mhz):", Number(scr * 300 + extension), depth);
    MuxRate(reader, depth);
    Marker(reader, 2, "11", depth);
    Field("Reserved:", Number(reader.Bits(5)), depth);
    const unsigned stuffing = static_cast<unsigned>(reader.Bits(3));
    Field("pack_stuffing_length:", Number(stuffing), depth);
    for (unsigned i = 0; i < stuffing; ++i) Marker(reader, 8, "11111111", depth);
    return reader.BytePosition();
  }
  if (type == 0) {
    reader.Bits(2);
    Field("Type:", "0 (MPEG-1)", depth);
    SetFileType(kMpeg1Program);
    Marker(reader, 2, "10", depth);
    uint64_t scr = 0;
    if (!Timestamp(reader, depth, scr)) return reader.BytePosition();
    Field("--> SCR (27Mhz):", Number(scr * 300), depth);
    Marker(reader, 1, "1", depth);
    MuxRate(reader, depth);
    Marker(reader, 1, "1", depth);
    return reader.BytePosition();
  }
  Error("Unknown Pack Header Type: " + Num(type), depth);
  return 0;
}

void CMPGParser::MuxRate(BitReader& reader, int depth) {
  const uint64_t rate = reader.Bits(22);
  Field("Program_Mux_Rate (50 Bytes/sec):", Number(rate), depth);
  if (rate == 0) Error("Wrong Program_Mux_Rate", depth);
}

// `width` marker bits that must read `expected` (ones, or '10' for the
// MPEG-1 pack); false after the Warning when they do not.
bool CMPGParser::Marker(BitReader& reader, unsigned width, const char* expected, int depth) {
  const uint64_t bits = reader.Bits(width);
  uint64_t wanted = 0;
  for (const char* c = expected; *c; ++c) wanted = wanted << 1 | (*c == '1');
  if (bits == wanted) return true;
  Warning(std::string("Wrong marker, expected ") + expected, depth);
  return false;
}

// A 33-bit time stamp in groups of 3, 15 and 15 bits, each followed by a
// marker bit; a wrong marker ends the reading.
bool CMPGParser::Timestamp(BitReader& reader, int depth, uint64_t& value) {
  static const struct {
    unsigned width;
    const char* label;
  } kGroups[] = {{3, "32..30:"}, {15, "29..15:"}, {15, "14..00:"}};
  value = 0;
  for (const auto& group : kGroups) {
    const uint64_t bits = reader.Bits(group.width);
    if (Verbosity() >= 4) Field(group.label, Number(bits), depth + 1);
    value = value << group.width | bits;
    if (!Marker(reader, 1, "1", depth)) return false;
  }
  return true;
}

bool CMPGParser::SystemHeader(uint64_t here, int depth) {
  uint8_t length[2];
  if (!ReadChecked(length, sizeof length, depth, true)) return false;
  const uint64_t size = length[0] << 8 | length[1];
  const int inner = ChunkHeaderLine("0xbb", "", size, here, "System Header", depth);
  std::vector<uint8_t> bytes;
  if (!ReadBytes(bytes, size, inner)) return false;
  BitReader reader(bytes.data(), bytes.size());
  Marker(reader, 1, "1", inner);
  Field("rate_bound:", Number(reader.Bits(22)), inner);
  Marker(reader, 1, "1", inner);
  Field("audio_bound:", Number(reader.Bits(6)), inner);
  Field("fixed_flag:", Number(reader.Bits(1)), inner);
  Field("CSPS_flag:", Number(reader.Bits(1)), inner);
  Field("system_audio_lock_flag:", Number(reader.Bits(1)), inner);
  Field("system_video_lock_flag:", Number(reader.Bits(1)), inner);
  Marker(reader, 1, "1", inner);
  Field("video_bound:", Number(reader.Bits(5)), inner);
  Field("packet_rate_restriction_flag:", Number(reader.Bits(1)), inner);
  Marker(reader, 7, "1111111", inner);
  Line("Stream Buffers", inner);
  // One entry of three bytes per stream, as long as the next bit is set.
  while (reader.BytesLeft() >= 3 && reader.Peek(1) == 1) {
    const uint8_t stream = static_cast<uint8_t>(reader.Bits(8));
    Line("Stream #" + Hex(stream, 2), inner + 1);
    if (stream != 0xB8 && stream != 0xB9 && stream < 0xBC) Error("Wrong Stream Id!", inner + 2);
    Marker(reader, 2, "11", inner + 2);
    Field("P_STD_buffer_bound_scale:", Number(reader.Bits(1)), inner + 2);
    Field("P_STD_buffer_size_bound:", Number(reader.Bits(13)), inner + 2);
  }
  if (reader.Overrun()) Error("System Header cut short!", inner);
  return true;
}

void CMPGParser::Line(const std::string& text, int depth) const {
  if (Verbosity() > 0) report_.PlainLine(text, depth);
}

// A PES packet: its length, its header when its stream id has one, and its
// payload for the stream's parser. The walk goes on at the packet's end.
bool CMPGParser::PesPacket(uint8_t id, uint64_t here, int depth) {
  uint8_t length[2];
  if (!ReadChecked(length, sizeof length, depth, true)) return false;
  uint64_t size = length[0] << 8 | length[1];
  const PesKind kind = PesKindOf(id);
  if (size == 0) {
    // Unbounded, as only video in a transport stream may be: the packet
    // runs to the next pack, system header or PES packet.
    size = NextStartCode(here + kPesFixed, true) - (here + kPesFixed);
    Seek(here + kPesFixed);
  }
  const int inner = ChunkHeaderLine(Hex(id, 2), "", size + kPesFixed, here, kind.label, depth);
  if (length[0] == 0 && length[1] == 0)
    Error("PES Packet Length 0, Packet ends at the next Start Code!", inner);
  // A packet is read a block at a time (only one of unstated length is
  // longer than a block); the stream's parser joins what the blocks cut.
  CMPGESParser& stream = StreamParser(id);
  std::vector<uint8_t> bytes;
  uint64_t position = here + kPesFixed;
  uint64_t left = size;
  bool first = true;
  do {
    const bool whole = ReadBytes(bytes, std::min<uint64_t>(left, kEsBlock), inner);
    const size_t header = first && kind.header ? PesHeader(bytes.data(), bytes.size(), inner) : 0;
    if (!stream.Parse(bytes.data() + header, bytes.size() - header, position + header, true,
                      inner) ||
        !whole) {
      return false;
    }
    position += bytes.size();
    left -= bytes.size();
    first = false;
  } while (left > 0 && !bytes.empty());
  return true;
}

// The optional PES header of MPEG-2 (first bits '10') or MPEG-1; returns
// the bytes it takes, held to the packet.
size_t CMPGParser::PesHeader(const uint8_t* data, size_t size, int depth) {
  BitReader reader(data, size);
  if (reader.Peek(2) != 2) return Mpeg1PesHeader(reader, depth);
  SetFileType(kMpeg2Pes);
  Line("MPEG-2 PES Header:", depth);
  const int inner = depth + 1;
  reader.Bits(2);
  Field("PES Scrambling Control:", Number(reader.Bits(2)), inner);
  Field("PES Priority:", Number(reader.Bits(1)), inner);
  Field("Data Alignment Indicator:", Number(reader.Bits(1)), inner);
  Field("copyright:", Number(reader.Bits(1)), inner);
  Field("Original or Copy:", Number(reader.Bits(1)), inner);
  const unsigned ptsDts = static_cast<unsigned>(reader.Bits(2));
  Field("PTS DTS flags:", Number(ptsDts), inner);
  const uint64_t flags = reader.Bits(6);
  static const char* const kFlagNames[] = {
      "ESCR flag:",    "ES rate flag:",      "DSM trick mode flag:", "additional copy info flag:",
      "PES CRC flag:", "PES extension flag:"};
  for (unsigned i = 0; i < 6; ++i) Field(kFlagNames[i], Number(flags >> (5 - i) & 1), inner);
  const size_t dataLength = static_cast<size_t>(reader.Bits(8));
  Field("PES header data length:", Number(dataLength), inner);
  const size_t total = 3 + dataLength;
  if (total > size) {
    Error("PES header data longer than its Packet!", inner);
    return size;
  }
  // The optional fields, read within the header data only.
  BitReader fields(data + 3, dataLength);
  if (ptsDts == 2 || ptsDts == 3) {
    Marker(fields, 4, ptsDts == 2 ? "0010" : "0011", inner);
    TimestampLine(fields, "--> PTS (90kHz):", 1, inner);
    if (ptsDts == 3) {
      Marker(fields, 4, "0001", inner);
      TimestampLine(fields, "--> DTS (90kHz):", 1, inner);
    }
  }
  if (flags & 0x20) {
    Marker(fields, 2, "00", inner);
    uint64_t escr = 0;
    if (Timestamp(fields, inner, escr)) {
      const uint64_t extension = fields.Bits(9);
      Marker(fields, 1, "1", inner);
      Field("--> ESCR (27Mhz):", Number(escr * 300 + extension), inner);
    }
  }
  if (flags & 0x10) {
    Marker(fields, 1, "1", inner);
    Field("ES Rate:", Number(fields.Bits(22)), inner);
    Marker(fields, 1, "1", inner);
  }
  if (flags & 0x08) Field("Trick Mode:", Number(fields.Bits(8)), inner);
  if (flags & 0x04) {
    Marker(fields, 1, "1", inner);
    Field("additional copy info:", Number(fields.Bits(7)), inner);
  }
  if (flags & 0x02) Field("previous PES packet CRC:", Number(fields.Bits(16)), inner);
  if (flags & 0x01) PesExtension(fields, inner);
  if (fields.Overrun()) Error("PES header data cut short!", inner);
  const size_t stuffing = fields.BytesLeft();
  if (stuffing > 0 && Verbosity() > 0) {
    Field("Stuffing:", Number(stuffing), inner);
    if (Verbosity() >= 3) report_.HexDump(fields.Current(), stuffing, inner + 1, Verbosity());
  }
  return total;
}

void CMPGParser::PesExtension(BitReader& fields, int depth) {
  const bool privateData = fields.Bit();
  const bool packHeader = fields.Bit();
  const bool sequenceCounter = fields.Bit();
  const bool pStd = fields.Bit();
  Field("PES private data flag:", Number(privateData), depth);
  Field("pack header field flag:", Number(packHeader), depth);
  Field("program packet sequence counter flag:", Number(sequenceCounter), depth);
  Field("P-STD buffer flag:", Number(pStd), depth);
  // Three reserved bits, meant to be ones; ffmpeg writes zeros and readers
  // ignore them, so they are not held against the file.
  fields.Bits(3);
  const bool extension2 = fields.Bit();
  Field("PES extension flag 2:", Number(extension2), depth);
  if (privateData) {
    Line("PES private data", depth);
    if (fields.BytesLeft() >= 16) report_.HexDump(fields.Current(), 16, depth + 1, Verbosity());
    fields.SkipBits(128);
  }
  if (packHeader) {
    const size_t length = static_cast<size_t>(fields.Bits(8));
    Field("Pack Header Field:", Number(length), depth);
    const size_t present = std::min(length, fields.BytesLeft());
    BitReader pack(fields.Current(), present);
    if (present >= 4 && IsStartCode(fields.Current())) pack.SkipBits(32);
    PackFields(pack, depth + 1);
    fields.SkipBits(8 * uint64_t{length});
  }
  if (sequenceCounter) {
    Marker(fields, 1, "1", depth);
    Field("Packet Sequence Counter:", Number(fields.Bits(7)), depth);
    Marker(fields, 1, "1", depth);
    Field("MPEG1_MPEG2 identifier:", Number(fields.Bits(1)), depth);
    Field("original stuffing length:", Number(fields.Bits(6)), depth);
  }
  if (pStd) {
    Marker(fields, 2, "01", depth);
    Field("P-STD buffer scale (0 = 128 bytes, 1 = 1024 bytes):", Number(fields.Bits(1)), depth);
    Field("P-STD buffer size:", Number(fields.Bits(13)), depth);
  }
  if (extension2) {
    Marker(fields, 1, "1", depth);
    const uint64_t length = fields.Bits(7);
    Field("PES extension field length:", Number(length), depth);
    Field("Reserved:", Number(length), depth + 1);
    fields.SkipBits(8 * length);
  }
}

// MPEG-1: stuffing bytes, an optional buffer size, then the time stamps or
// the byte 0x0F.
size_t CMPGParser::Mpeg1PesHeader(BitReader& reader, int depth) {
  SetFileType(kMpeg1Pes);
  while (reader.BytesLeft() > 0 && reader.Peek(8) == 0xFF) reader.Bits(8);
  if (reader.Peek(2) == 1) {
    reader.Bits(2);
    Line("MPEG-1 PES Header Buffer:", depth);
    Field("std_buffer_scale (0 = 128 bytes, 1 = 1024 bytes):", Number(reader.Bits(1)), depth + 1);
    Field("std_buffer_size:", Number(reader.Bits(13)), depth + 1);
  }
  const uint32_t prefix = reader.Peek(4);
  if (prefix == 2 || prefix == 3) {
    reader.Bits(4);
    TimestampLine(reader, "--> PTS (90kHz):", 1, depth);
    if (prefix == 3) {
      Marker(reader, 4, "0001", depth);
      TimestampLine(reader, "--> DTS (90kHz):", 1, depth);
    }
  } else {
    const uint32_t byte = static_cast<uint32_t>(reader.Bits(8));
    if (byte == 0x0F) {
      Line("MPEG-1 PES Header without Buffer:", depth);
    } else if ((byte & 0xF0) == 0) {
      Warning("Wrong marker, expected 1111", depth);
    } else {
      Error("Unknown PES Header Type: " + Hex(byte, 2), depth);
    }
  }
  if (reader.Overrun()) Error("PES header cut short!", depth);
  return reader.BytePosition();
}

void CMPGParser::TimestampLine(BitReader& reader, const char* label, uint64_t scale, int depth) {
  uint64_t value = 0;
  if (Timestamp(reader, depth, value)) Field(label, Number(value * scale), depth);
}

// The header of a transport packet, with the PID's continuity checked and
// counted.
CMPGParser::TsHeader CMPGParser::DecodeTsHeader(const uint8_t* packet) {
  TsHeader header;
  header.errorIndicator = packet[1] >> 7;
  header.unitStart = (packet[1] >> 6 & 1) != 0;
  header.priority = packet[1] >> 5 & 1;
  header.pid = static_cast<uint16_t>((packet[1] & 0x1F) << 8 | packet[2]);
  header.scrambling = packet[3] >> 6;
  header.adaptation = packet[3] >> 4 & 3;
  header.counter = packet[3] & 0x0F;
  PidState& state = pids_[header.pid];
  if (state.packets == 0) {
    header.continuity = " (first)";
  } else if (header.counter == ((state.counter + 1) & 0x0F)) {
    header.continuity = " (ok)";
  } else if (header.counter == state.counter) {
    header.continuity = " (retry)";
    header.repeated = true;
  } else {
    header.continuity = " (error)";
  }
  state.counter = header.counter;
  ++state.packets;
  return header;
}

// Where the payload of a transport packet starts (188: none). An adaptation
// field longer than the packet allows is an Error and leaves no payload.
size_t CMPGParser::TsPayloadStart(const uint8_t* packet, const TsHeader& header, int depth) {
  if (header.adaptation == 0) {
    Error("Unexpected Adaption Field Type: 0", depth);
    return kTsPacket;
  }
  if ((header.adaptation & 2) == 0) return 4;
  const size_t length = packet[4];
  if (length > kTsPacket - 5) {
    Error("Adaption Field Length " + Num(length) + " greater than the Packet!", depth);
    return kTsPacket;
  }
  return (header.adaptation & 1) ? 5 + length : kTsPacket;
}

// The program map PIDs, from the program association table: PSI sections
// begin with a pointer field, not a PES start code.
void CMPGParser::NotePat(const uint8_t* packet, size_t start) {
  if (start >= kTsPacket) return;
  const size_t section = start + 1 + packet[start];
  if (section + 8 > kTsPacket || packet[section] != 0) return;
  const size_t length = (packet[section + 1] & 0x0F) << 8 | packet[section + 2];
  const size_t end = std::min(section + 3 + length, kTsPacket);
  // Entries of 4 bytes after the 8-byte header, before the 4-byte CRC.
  for (size_t at = section + 8; at + 4 + 4 <= end; at += 4) {
    const uint16_t program = static_cast<uint16_t>(packet[at] << 8 | packet[at + 1]);
    const uint16_t pid = static_cast<uint16_t>((packet[at + 2] & 0x1F) << 8 | packet[at + 3]);
    if (program != 0) tablePids_.insert(pid);
  }
}

bool CMPGParser::IsTablePid(uint16_t pid) const { return pid < 0x20 || tablePids_.count(pid) != 0; }

bool CMPGParser::WalkTransport(int depth) {
  SetFileType(kTransport);
  if (!outputPath_.empty()) return ExtractTransport(depth);
  uint8_t packet[kTsPacket];
  for (uint64_t number = 1; number <= TraceLimit(); ++number) {
    const uint64_t here = CurrentPosition();
    if (FileSize() - std::min(here, FileSize()) < kTsPacket) break;
    if (!ReadChecked(packet, kTsPacket, depth, true)) return false;
    Tick();
    DumpTsPacket(packet, here, number, depth);
  }
  PidSummary(depth);
  return true;
}

void CMPGParser::DumpTsPacket(const uint8_t* packet, uint64_t here, uint64_t number, int depth) {
  const int inner = ChunkHeaderLine("Sync Byte #" + Num(number), "", kTsPacket, here, "", depth);
  if (packet[0] != 0x47) Error("Unexpected Sync Byte", inner);
  const TsHeader header = DecodeTsHeader(packet);
  Field("Transport Error Indicator:", Number(header.errorIndicator), inner);
  Field("Payload Unit Start Indicator (PES header or start of PSI table):",
        Number(header.unitStart), inner);
  Field("Transport Priority:", Number(header.priority), inner);
  const char* pidNote = header.pid == 0        ? " (PAT)"
                        : header.pid == 1      ? " (CAT)"
                        : header.pid < 0x10    ? " (reserved)"
                        : header.pid == 0x1FFF ? " (Nullpacket)"
                                               : "";
  Field("PID:", Hex(header.pid, 4) + pidNote, inner);
  Field("Transport Scrambling Control:", Number(header.scrambling), inner);
  Field("Adaption Field Control:", Number(header.adaptation), inner);
  Field("Continuity Counter:", Num(header.counter) + header.continuity, inner);
  const size_t start = TsPayloadStart(packet, header, inner);
  if (header.adaptation & 2)
    DumpAdaptationField(packet, here, std::min<size_t>(packet[4], kTsPacket - 5), inner);
  if (header.pid == 0 && header.unitStart) NotePat(packet, start);
  size_t consumed = (header.adaptation & 2) ? std::min<size_t>(5 + packet[4], kTsPacket) : 4;
  if ((header.adaptation & 1) && start < kTsPacket) {
    if (header.unitStart && !IsTablePid(header.pid) &&
        !(kTsPacket - start >= 3 && IsStartCode(packet + start))) {
      Error("Packet Startcode 0x000001 not found!", inner);
    }
    DumpBytes("Payload", packet + start, kTsPacket - start, here + start, inner);
    consumed = kTsPacket;
  }
  if (consumed < kTsPacket) {
    DumpBytes("Stuffing3", packet + consumed, kTsPacket - consumed, here + consumed, inner);
  }
}

void CMPGParser::DumpBytes(const char* name, const uint8_t* bytes, size_t count, uint64_t position,
                           int depth) {
  const int inner = ChunkHeaderLine(name, "", count, position, "", depth);
  if (Verbosity() >= 3) report_.HexDump(bytes, count, inner, Verbosity());
}

void CMPGParser::DumpAdaptationField(const uint8_t* packet, uint64_t here, size_t length,
                                     int depth) {
  Line("Adaption Field", depth);
  const int inner = depth + 1;
  Field("Adaption Field Length:", Number(packet[4]), inner);
  if (length == 0 || length < packet[4]) return;
  BitReader reader(packet + 5, length);
  static const char* const kFlags[] = {"Discontinuity Indicator:",
                                       "Random Access Indicator:",
                                       "Elem Stream Priority Indicator:",
                                       "PCR_flag:",
                                       "OPCR_flag:",
                                       "splicing_point_flag:",
                                       "transport_private_data_flag:",
                                       "adaptation_field_extension_flag:"};
  const uint64_t flags = reader.Bits(8);
  for (unsigned i = 0; i < 8; ++i) Field(kFlags[i], Number(flags >> (7 - i) & 1), inner);
  for (const char* clock : {"PCR:", "OPCR:"}) {
    if (!(flags & (clock[0] == 'P' ? 0x10 : 0x08))) continue;
    const uint64_t base = reader.Bits(33);
    reader.Bits(6);
    const uint64_t extension = reader.Bits(9);
    Field(clock, Num(base * 300 + extension), inner);
  }
  if (flags & 0x04) {
    Field("Splice Countdown:", std::to_string(static_cast<int8_t>(reader.Bits(8))), inner);
  }
  if (flags & 0x02) {
    const size_t size = std::min<size_t>(reader.Bits(8), reader.BytesLeft());
    Line("Transport Private Data", inner);
    Field("Length:", Number(size), inner + 1);
    if (Verbosity() >= 3) report_.HexDump(reader.Current(), size, inner + 1, Verbosity());
    reader.SkipBits(8 * uint64_t{size});
  }
  if (flags & 0x01) {
    const size_t size = std::min<size_t>(reader.Bits(8), reader.BytesLeft());
    Line("Adaption Field Extension", inner);
    Field("Length:", Number(size), inner + 1);
    BitReader extension(reader.Current(), size);
    TsExtension(extension, here, inner + 1);
    reader.SkipBits(8 * uint64_t{size});
  }
  if (reader.Overrun()) Error("Adaption Field cut short!", inner);
  const size_t left = reader.BytesLeft();
  if (left > 0)
    DumpBytes("Stuffing2", reader.Current(), left, here + 5 + reader.BytePosition(), inner);
}

void CMPGParser::TsExtension(BitReader& reader, uint64_t here, int depth) {
  const bool ltw = reader.Bit();
  const bool piecewise = reader.Bit();
  const bool seamless = reader.Bit();
  reader.Bits(5);
  Field("ltw_flag:", Number(ltw), depth);
  Field("piecewise_rate_flag:", Number(piecewise), depth);
  Field("seamless_splice_flag:", Number(seamless), depth);
  if (ltw) {
    Field("ltw_valid_flag:", Number(reader.Bits(1)), depth);
    Field("ltw_offset:", Number(reader.Bits(15)), depth);
  }
  if (piecewise) {
    reader.Bits(2);
    Field("piecewise_rate:", Number(reader.Bits(22)), depth);
  }
  if (seamless) {
    Field("Splicetype:", Number(reader.Bits(4)), depth);
    TimestampLine(reader, "DTS_next_AU:", 1, depth);
  }
  const size_t left = reader.BytesLeft();
  if (left > 0) DumpBytes("Stuffing1", reader.Current(), left, here, depth);
}

void CMPGParser::PidSummary(int depth) {
  for (size_t pid = 0; pid < pids_.size(); ++pid) {
    if (pids_[pid].packets == 0) continue;
    Line("PID: " + Hex(pid, 4) + ", Packets: " + Num(pids_[pid].packets), depth);
  }
}

// Every packet is read, a large block at a time straight from the file;
// the payloads of the PIDs named by -rs, without their PES headers, are
// moved together within the block, which is then handed to the writer as it
// stands (the writer hands back the storage of its last block for the next).
bool CMPGParser::ExtractTransport(int depth) {
  std::vector<bool> wanted(kPidCount);
  for (uint16_t pid : options_.writer.strippedStreams) {
    if (pid < kPidCount) wanted[pid] = true;
  }
  const bool vob = sourcePath_.find(".vob") != std::string::npos;
  uint64_t extracted = 0;
  bool writeFailed = false;
  for (;;) {
    const uint64_t here = CurrentPosition();
    const uint64_t left = FileSize() - std::min(here, FileSize());
    const size_t packets =
        static_cast<size_t>(std::min<uint64_t>(left / kTsPacket, kTsBlockPackets));
    if (packets == 0) break;
    std::vector<uint8_t> block = SpareWriteBuffer();
    block.resize(packets * kTsPacket);
    if (!ReadChecked(block.data(), block.size(), depth, true)) return false;
    size_t kept = 0;
    for (size_t i = 0; i < packets; ++i) {
      const uint8_t* packet = block.data() + i * kTsPacket;
      Tick();
      if (packet[0] != 0x47) {
        Error("Unexpected Sync Byte", depth);
        continue;
      }
      const TsHeader header = DecodeTsHeader(packet);
      const size_t start = TsPayloadStart(packet, header, depth);
      if (header.pid == 0 && header.unitStart) NotePat(packet, start);
      if (header.repeated || start >= kTsPacket || !wanted[header.pid]) continue;
      const size_t skip =
          header.unitStart ? PesHeaderToStrip(packet + start, kTsPacket - start, vob) : 0;
      const size_t length = kTsPacket - start - skip;
      // The payload never lies before the bytes kept so far.
      std::memmove(block.data() + kept, packet + start + skip, length);
      kept += length;
    }
    extracted += kept;
    block.resize(kept);
    if (kept > 0 && !writeFailed) writeFailed = !Write(std::move(block), true);
  }
  if (writeFailed) MarkJobFailed();
  if (extracted == 0) Warning("Nothing extracted: no payload of the selected PIDs found!", depth);
  PidSummary(depth);
  return true;
}

// The bytes of a PES packet's start that extraction leaves out: start code,
// id, length and, where the stream has one, the optional header; on a DVD,
// the sub-stream header of a private stream. None when the payload does not
// start a PES packet or its header does not fit.
size_t CMPGParser::PesHeaderToStrip(const uint8_t* data, size_t size, bool vob) {
  if (size < kPesFixed || !IsStartCode(data)) return 0;
  const uint8_t id = data[3];
  if (WithoutPesHeader(id)) return kPesFixed;
  if (size < 9 || 9u + data[8] > size) return 0;
  size_t skip = 9u + data[8];
  if (vob && id == 0xBD && skip < size) {
    const uint8_t sub = data[skip];
    // AC-3 and DTS carry a frame count and an access-unit pointer after the
    // sub-stream number, LPCM three more bytes of its format.
    const size_t after = sub >= 0x80 && sub <= 0x8F ? 3 : sub >= 0xA0 && sub <= 0xAF ? 6 : 0;
    if ((sub >= 0x20 && sub <= 0x3F) || after > 0) skip = std::min(size, skip + 1 + after);
  }
  return skip;
}
