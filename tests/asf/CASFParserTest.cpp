// ASF files: hand-built objects and packets of every kind, files of real
// producers with their payloads accounted for, and damaged files.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "asf/AsfDescriptions.h"
#include "asf/CASFParser.h"

namespace {

using testsupport::BodyBuilder;
using testsupport::Bytes;
using testsupport::Concat;
using testsupport::ExpectTexts;
using testsupport::HasText;
using testsupport::Le16;
using testsupport::Le32;
using testsupport::Le64;
using testsupport::ParseRun;
using Lines = std::vector<std::string>;

const char kDataId[] = "{75b22636-668e-11cf-a6d9-00aa0062ce6c}";
const char kPaddingId[] = "{1806d474-cadf-4509-a4ba-9aabcb96aae8}";
const char kVideoId[] = "{bc19efc0-5b4d-11cf-a8fd-00805f5c442b}";
const char kAudioId[] = "{f8699e40-5b4d-11cf-a8fd-00805f5c442b}";
const char kNoCorrectionId[] = "{20fb5700-5b55-11cf-a8fd-00805f5c442b}";
const char kUnknownId[] = "{01234567-89ab-cdef-0123-456789abcdef}";
const char kValid[] = "This is a Windows Media file.";
const char kInvalid[] = "This might not be a valid Windows Media file.";
constexpr size_t kPacket = 64;

Bytes Zeros(size_t n) { return Bytes(n, 0); }

// A GUID in file order: its first three groups little-endian, the rest as written.
Bytes Guid(const std::string& text) {
  std::string hex;
  std::copy_if(text.begin(), text.end(), std::back_inserter(hex), ::isxdigit);
  Bytes bytes(16);
  for (size_t i = 0; i < 16; ++i) bytes[i] = uint8_t(std::stoi(hex.substr(2 * i, 2), nullptr, 16));
  std::reverse(bytes.begin(), bytes.begin() + 4);
  std::reverse(bytes.begin() + 4, bytes.begin() + 6);
  std::reverse(bytes.begin() + 6, bytes.begin() + 8);
  return bytes;
}

Bytes ObjectSized(const std::string& guid, uint64_t size, const Bytes& body) {
  return Concat({Guid(guid), Le64(size), body});
}
Bytes Object(const std::string& guid, const Bytes& body) {
  return ObjectSized(guid, 24 + body.size(), body);
}

Bytes FileProperties(uint32_t packetSize, uint64_t packets) {
  return Object(asf::kFileProperties.tag, Concat({Zeros(32), Le64(packets), Zeros(24), Le32(2),
                                                  Le32(packetSize), Le32(packetSize), Le32(0)}));
}

Bytes StreamPropertiesBody(const std::string& type, const Bytes& typeData, uint16_t number) {
  return Concat({Guid(type), Guid(kNoCorrectionId), Le64(0), Le32(uint32_t(typeData.size())),
                 Le32(0), Le16(number), Le32(0), typeData});
}

Bytes Header(const std::vector<Bytes>& children) {
  return Object(asf::kHeader.tag,
                Concat({Le32(uint32_t(children.size())), {1, 2}, Concat(children)}));
}

Bytes Data(uint64_t count, const std::vector<Bytes>& packets) {
  return Object(kDataId, Concat({Zeros(16), Le64(count), {1, 1}, Concat(packets)}));
}

Bytes Packet(const Bytes& fields, size_t size = kPacket) {
  Bytes packet = fields;
  packet.resize(size);
  return packet;
}

// Standard error correction, then a single payload (property flags 0x5D, a
// 2-byte padding length of 0): 28 bytes of fields, 36 of payload.
Bytes SinglePayload(uint8_t stream) {
  return Packet(Concat({{0x82, 0, 0, 0x10, 0x5D},
                        Le16(0),
                        Le32(100),
                        Le16(0),
                        {stream, 1},
                        Le32(0),
                        {8},
                        Le32(36),
                        Le32(100)}));
}

// The header of a single-payload packet whose replicated data are compressed
// (one byte: the presentation time delta); 21 bytes, so the payload holds 43.
Bytes CompressedHead() {
  return Concat({{0x82, 0, 0, 0x10, 0x5D}, Le16(0), Le32(0), Le16(0), {1, 1}, Le32(500), {1, 40}});
}

Bytes SubPayloads(std::initializer_list<uint8_t> sizes) {
  Bytes bytes;
  for (uint8_t size : sizes) {
    bytes.push_back(size);
    bytes.resize(bytes.size() + size, 0xAB);
  }
  return bytes;
}

Bytes AsfFile(const std::vector<Bytes>& headerChildren, const Bytes& data,
              const std::vector<Bytes>& after = {}) {
  return Concat({Header(headerChildren), data, Concat(after)});
}

// A file of two packets: `first`, then a standard one.
Bytes TwoPackets(const Bytes& first) {
  return AsfFile({FileProperties(kPacket, 2)}, Data(2, {first, SinglePayload(2)}));
}

RunOptions Verbosity(uint32_t level) {
  RunOptions options;
  options.report.verbosity = level;
  options.report.moviTraceLimit = 1000000;
  return options;
}

ParseRun RunAsf(const Bytes& file, const RunOptions& options = Verbosity(2)) {
  return testsupport::RunParserOnBytes<CASFParser>(file, options, nullptr, "sample.asf");
}

void ExpectMessages(const ParseRun& run, const Lines& expected) {
  testsupport::ExpectMessages(run.lines, expected);
}

TEST(CASFParserTest, PacketsAreWalkedFieldByFieldAndStayInStep) {
  // Two payloads (length type 2) with 9 bytes of padding left at the end.
  BodyBuilder twoPayloads;
  twoPayloads.U8(0x82).U16(0).U8(0x11).U8(0x5D).U16(9).U32(0).U16(0).U8(0x82);
  twoPayloads.U8(1).U8(0).U32(0).U8(8).U32(10).U32(0).U16(10).Zeros(10);
  twoPayloads.U8(2).U8(0).U32(0).U8(0).U16(5).Zeros(5);
  const Bytes multiHead = Concat({{0x82, 0, 0, 0x01, 0x5D}, Le32(0), Le16(0)});
  struct Row {
    const char* name;
    Bytes packet;
    Lines messages;
    Lines texts = {};
    Lines absent = {};
  } rows[] = {
      {"a single payload fills the packet", SinglePayload(0x81), Lines{},
       Lines{"PAYLOAD (36) PacketData", "PaddingBytes: 0", "+ Keyframe", "Type: 0 (uncorrected)"}},
      {"without error correction",
       Packet(Concat(
           {{0x10, 0x5D}, Le16(0), Le32(0), Le16(0), {1, 1}, Le32(0), {8}, Le32(39), Le32(0)})),
       Lines{}, Lines{"PAYLOAD (39) PacketData"}},
      {"multiple payloads and padding", Packet(twoPayloads.data), Lines{},
       Lines{"NumberOfPayloads: 2", "PAYLOAD (10)", "ReplicatedDataLength: 0", "PAYLOAD (5)",
             "PaddingBytes: 9"}},
      {"compressed payload", Packet(Concat({CompressedHead(), SubPayloads({9, 19, 12})})), Lines{},
       Lines{"(compressed; OffsetIntoMediaObject is PresentationTime)", "PresentationTimeDelta: 40",
             "SubPacketData #1 (9)", "SubPacketData #2 (19)", "SubPacketData #3 (12)"},
       Lines{"SubPacketData #4"}},
      {"a sub-payload longer than its payload is cut",
       Packet(Concat({CompressedHead(), SubPayloads({9}), {200}})),
       Lines{"SubPacketData 200 beyond the packet, cut to 32!"}, Lines{"SubPacketData #2 (200)"}},
      {"no payloads", Packet(Concat({multiHead, {0x80}})),
       Lines{"Undefined value for NumberOfPayloads, expected > 0!"}, Lines{},
       Lines{"Payload #1/0"}},
      {"a payload longer than what is left",
       Packet(Concat({multiHead, {0x81, 1, 0}, Le32(0), {0}, Le16(60)})),
       Lines{"PayloadLength 60 beyond the packet, cut to 43!"}, Lines{"PAYLOAD (43)"}},
      {"replicated data of 3 bytes",
       Packet(Concat({{0x82, 0, 0, 0x10, 0x5D}, Le16(0), Le32(0), Le16(0), {1, 1}, Le32(0), {3}})),
       Lines{"Undefined value for ReplicatedDataLength, expected 0,1,>=8!"}},
      {"fields the format fixes",
       Packet(Concat({{0x92, 0x01, 0x00, 0x02, 0x00, 7}, Le32(0), Le16(0), {1}})),
       Lines{"OpaqueDataPresent, expected 0!", "EC Number!", "EC Cycle!",
             "SequenceType, expected 0!", "ReplicatedDataLengthType, expected 1!",
             "OffsetIntoMediaObjectLengthType, expected 3!",
             "OffsetIntoMediaObjectNumberLengthType, expected 1!",
             "StreamNumberLengthType, expected 1!"},
       Lines{"Type: 1 (xor'd)", "Sequence: 7", "Error Context Dump",
             "MediaObjectNumber: not existing"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const ParseRun run = RunAsf(TwoPackets(row.packet));
    // The standard second packet reads cleanly only when the first one
    // ended where it should.
    ExpectMessages(run, row.messages);
    ExpectTexts(run.lines, row.texts, row.absent);
    EXPECT_TRUE(HasText(run.lines, "DataPacket #2/2"));
    EXPECT_EQ(kValid, testsupport::Trimmed(run.lines.back()));
  }
}

// Extended content descriptors: data type, value length, value.
Bytes Descriptor(const std::string& name, uint16_t type, const Bytes& value) {
  Bytes utf16;
  for (char c : name + '\0') utf16 = Concat({utf16, Le16(uint8_t(c))});
  return Concat(
      {Le16(uint16_t(utf16.size())), utf16, Le16(type), Le16(uint16_t(value.size())), value});
}

// The video header (160x120, a 40-byte format), then the bitmap header.
Bytes BitmapFormat() {
  BodyBuilder format;
  format.U32(160).U32(120).U8(2).U16(40);
  format.U32(40).U32(160).U32(120).U16(1).U16(24).Tag("WMV2").Zeros(20);
  return format.data;
}

Bytes WaveFormat() {
  return BodyBuilder().U16(0x161).U16(2).U32(44100).U32(16000).U16(743).U16(16).U16(0).data;
}

// Extended stream properties (no names, no extension systems) ending in a
// whole Stream Properties Object.
Bytes ExtendedStreamProperties(const Bytes& embedded) {
  return Object(asf::kExtendedStreamProperties.tag, Concat({Zeros(44), Le32(2), Le16(2), Le16(0),
                                                            Le64(0), Le16(0), Le16(0), embedded}));
}

Bytes HeaderExtension(const std::vector<Bytes>& children) {
  const Bytes body = Concat(children);
  return Object(asf::kHeaderExtension.tag,
                Concat({Zeros(16), Le16(6), Le32(uint32_t(body.size())), body}));
}

// One object of each kind the tests put together.
struct Samples {
  const Bytes properties = FileProperties(kPacket, 1);
  const Bytes data = Data(1, {SinglePayload(1)});
  const Bytes simpleIndex =
      Object(asf::kSimpleIndex.tag,
             Concat({Zeros(16), Le64(10000000), Le32(1), Le32(1), Le32(0), Le16(1)}));
  const Bytes markers =
      Object(asf::kMarker.tag,
             Concat({Zeros(16), Le32(2), Le16(0), Le16(0),
                     Concat({Le64(0), Le64(0), Le16(18), Le32(0), Le32(0), Le32(1), Le16('a')}),
                     Concat({Le64(0), Le64(0), Le16(18), Le32(0), Le32(0), Le32(1), Le16('b')})}));
  const Bytes guidValue = Guid(kUnknownId);
  const Bytes typedValues =
      Object(asf::kExtendedContentDescription.tag,
             Concat({Le16(3), Descriptor("b", 2, Le32(1)), Descriptor("q", 4, Le64(12345678901)),
                     Descriptor("g", 6, guidValue)}));
  const Bytes video =
      Object(asf::kStreamProperties.tag, StreamPropertiesBody(kVideoId, BitmapFormat(), 1));
  const Bytes audio =
      Object(asf::kStreamProperties.tag, StreamPropertiesBody(kAudioId, WaveFormat(), 2));
  // Index objects that claim billions of entries over no specifiers.
  const Bytes hugeIndexes = Concat(
      {Object(asf::kIndex.tag, Concat({Le32(1000), Le16(0), Le32(0xFFFFFFFF), Zeros(16)})),
       Object(asf::kMediaObjectIndex.tag, Concat({Le32(1), Le16(0), Le32(0xFFFFFFFF), Zeros(16)})),
       Object(asf::kTimecodeIndex.tag, Concat({Le32(1), Le16(0), Le32(0xFFFFFFFF), Zeros(16)}))});
  const Bytes whole = AsfFile({properties}, data, {simpleIndex});
  // Everything at once, for the damage tests.
  const Bytes rich = AsfFile(
      {properties, video, audio, typedValues, markers,
       HeaderExtension({ExtendedStreamProperties(audio), Object(kPaddingId, Zeros(20))})},
      Data(3, {SinglePayload(0x81), Packet(Concat({CompressedHead(), SubPayloads({9, 19, 12})})),
               SinglePayload(2)}),
      {simpleIndex, hugeIndexes});
};

TEST(CASFParserTest, ObjectsAreWalkedAndDamageIsReported) {
  const Samples s;
  RunOptions oneItem = Verbosity(3);
  oneItem.report.indxTraceLimit = 1;
  struct Row {
    const char* name;
    Bytes file;
    const char* verdict;
    Lines messages;
    Lines texts = {};
    Lines absent = {};
    RunOptions options = Verbosity(3);
  } rows[] = {
      {"header, data and simple index", s.whole, kValid, Lines{},
       Lines{"Header (", "Data (", "Simple Index (", "IndexEntries Item #1"}},
      {"cut inside the data",
       Bytes(s.whole.begin(), s.whole.begin() + Header({s.properties}).size() + 70), kInvalid,
       Lines{"File may be truncated!", "Token Size greater Chunk Size!", "File ends prematurely!"}},
      {"trailing zeros", Concat({s.whole, Zeros(40)}), kValid, Lines{"Chunk Size mismatch!"}},
      {"fewer bytes than an object header", Concat({s.whole, Zeros(10)}), kValid,
       Lines{"Chunk Size mismatch!"}},
      {"a child smaller than its header ends the header",
       AsfFile({s.properties, ObjectSized(kUnknownId, 1, Zeros(8))}, s.data), kValid,
       Lines{"Chunk Size mismatch!"}, Lines{"Data ("}},
      {"a child larger than the header is cut",
       AsfFile({s.properties, ObjectSized(asf::kContentDescription.tag, 10000, Zeros(10))}, s.data),
       kValid, Lines{"greater File size", "Token Size greater Chunk Size!"}},
      {"unknown objects are announced and skipped",
       AsfFile({s.properties, Object(kUnknownId, Zeros(8))}, s.data,
               {Object(kUnknownId, Zeros(3))}),
       kValid, Lines{}, Lines{"Undefined (S:32, P:", "Undefined (S:27, P:"}},
      {"padding in the header extension",
       AsfFile({s.properties, HeaderExtension({Object(kPaddingId, Zeros(100))})}, s.data), kValid,
       Lines{}, Lines{"Padding (S:124, P:"}},
      {"index objects over no specifiers end", Concat({s.whole, s.hugeIndexes}), kValid, Lines{},
       Lines{"Media Object Index (", "Timecode Index ("}},
      {"markers beyond the item limit are not shown", AsfFile({s.properties, s.markers}, s.data),
       kValid, Lines{}, Lines{"Markers Item #1", "MarkerDescription: \"a\""},
       Lines{"Markers Item #2"}, oneItem},
      {"typed values", AsfFile({s.properties, s.typedValues}, s.data), kValid, Lines{},
       Lines{"DescriptorValueDataType: 0x0002 (BOOL)", "12345678901", kUnknownId}},
      {"stream formats", AsfFile({s.properties, s.video, s.audio}, s.data), kValid, Lines{},
       Lines{"Video (S:11,", "biCompression: 0x32564d57 'WMV2'", "Audio (S:18,",
             "SamplesPerSecond: 44100"},
       Lines{}, Verbosity(4)},
      {"an embedded stream properties object reads its own stream type",
       AsfFile({s.properties, HeaderExtension({ExtendedStreamProperties(s.audio)})}, s.data),
       kValid, Lines{}, Lines{"Stream Properties (S:", "Audio (S:18,"}, Lines{"Undefined"},
       Verbosity(4)},
      {"a data object of unknown size runs to the next object",
       AsfFile({s.properties}, Object(kDataId, Concat({Zeros(16), Le64(0), {1, 1}})),
               {SinglePayload(1), SinglePayload(2), s.simpleIndex}),
       kValid, Lines{"Data Object of unknown size: packets of 64 bytes"},
       Lines{"DataPacket #2/0", "Simple Index ("}},
      {"no packet count and no fixed size", AsfFile({FileProperties(0, 0)}, Data(0, {})), kValid,
       Lines{}, Lines{"PayloadPacketSize: 0"}, Lines{"DataPacket #"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const ParseRun run = RunAsf(row.file, row.options);
    ExpectMessages(run, row.messages);
    ExpectTexts(run.lines, row.texts, row.absent);
    EXPECT_EQ(row.verdict, testsupport::Trimmed(run.lines.back()));
  }
}

TEST(CASFParserTest, ThePacketLimitStopsTheWalkNotTheFile) {
  // 1,000 packets of 16 bytes: no error correction, one 1-byte payload.
  const Bytes packet = Packet(Concat({{0x00, 0x5D}, Le32(0), Le16(0), {1, 1}, Le32(0), {0}}), 16);
  const std::vector<Bytes> packets(1000, packet);
  RunOptions options;
  options.report.moviTraceLimit = 10;
  const ParseRun run = RunAsf(AsfFile({FileProperties(16, 1000)}, Data(1000, packets)), options);
  EXPECT_EQ(10u, testsupport::CountText(run.lines, "DataPacket #"));
  EXPECT_EQ(kValid, testsupport::Trimmed(run.lines.back()));
}

// What the report says the payloads carry: bytes per stream, and for every
// media object the bytes of its fragments against its stated size.
struct Accounting {
  std::map<int, uint64_t> streamBytes;
  std::map<std::pair<int, int>, std::pair<uint64_t, uint64_t>> objects;  // size, fragments

  explicit Accounting(const Lines& lines) {
    int stream = 0;
    int object = 0;
    for (const std::string& line : lines) {
      const std::string text = testsupport::Trimmed(line);
      auto value = [&](const char* label) -> const char* {
        const size_t n = std::strlen(label);
        return text.compare(0, n, label) == 0 ? text.c_str() + n : nullptr;
      };
      if (const char* v = value("StreamNumber: "); v && v[1] != 'x') stream = std::atoi(v);
      if (const char* v = value("MediaObjectNumber: ")) object = std::atoi(v);
      if (const char* v = value("RD: SizeOfMediaObject: ")) {
        objects[{stream, object}].first = std::strtoull(v, nullptr, 10);
      }
      if (const char* v = value("PAYLOAD (S:")) {
        streamBytes[stream] += std::strtoull(v, nullptr, 10);
        objects[{stream, object}].second += std::strtoull(v, nullptr, 10);
      }
    }
  }
  bool ObjectsComplete() const {
    return std::all_of(objects.begin(), objects.end(),
                       [](const auto& entry) { return entry.second.first == entry.second.second; });
  }
};

// Packet bytes per stream as ffprobe reads them, in stream order.
std::vector<uint64_t> ProbedStreamBytes(const std::string& path) {
  std::map<int, uint64_t> bytes;
  std::istringstream text(testsupport::RunCommand(
      "ffprobe -v error -show_entries packet=stream_index,size -of csv=p=0 '" + path + "'"));
  int stream = 0;
  uint64_t size = 0;
  char comma = 0;
  while (text >> stream >> comma >> size) bytes[stream] += size;
  std::vector<uint64_t> list;
  for (const auto& entry : bytes) list.push_back(entry.second);
  return list;
}

TEST(CASFParserTest, FilesOfRealProducersAreAccountedFor) {
  const std::string av =
      "ffmpeg -v error -f lavfi -i testsrc=d=2:s=160x120:r=10 -f lavfi -i sine=d=2 -c:v wmv2 "
      "-c:a wmav2 -metadata title=Clip -metadata:s:a language=eng ";
  const std::string gst = "gst-launch-1.0 -q audiotestsrc num-buffers=50 ! lamemp3enc ! ";
  // How far the payloads are checked: against ffprobe's packet sizes, each
  // media object whole, or not at all (a recording cut mid-way).
  enum class Check { kProbed, kWhole, kCut };
  struct Row {
    std::string command;
    Lines messages;
    Lines texts;
    Check check;
  } rows[] = {
      {av + "$OUT", Lines{}, Lines{"Title: \"Clip\"", "LanguageID: \"en\"", "Video (", "Audio ("},
       Check::kProbed},
      {"ffmpeg -v error -f lavfi -i sine=d=3 -c:a wmav2 $OUT", Lines{}, Lines{"Audio ("},
       Check::kProbed},
      // Written to a pipe, the Data Object's size and count stay unknown,
      // and the index runs 12 bytes beyond its own size.
      {av + "-f asf - >$OUT", Lines{"Data Object of unknown size", "Chunk Size mismatch!"},
       Lines{"Simple Index ("}, Check::kProbed},
      // Killed by the file size limit: the header was never completed.
      {"(ulimit -f 100; ffmpeg -v quiet -f lavfi -i testsrc2=s=320x240 -t 20 -c:v wmv2 $OUT) "
       "2>/dev/null; true",
       Lines{"Data Object of unknown size", "File ends prematurely!"}, Lines{"DataPacket #10/0"},
       Check::kCut},
      // GStreamer's last packet is short with the rest as padding, which
      // ffprobe refuses; its objects are still whole.
      {gst + "mpegaudioparse ! asfmux ! filesink location=$OUT", Lines{}, Lines{"Audio ("},
       Check::kWhole},
  };
  testsupport::ScratchDir dir;
  int made = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.command);
    const bool ffmpeg = row.command.find("ffmpeg") != std::string::npos;
    if (ffmpeg ? !testsupport::Installed("ffprobe")
               : std::system("gst-inspect-1.0 lamemp3enc >/dev/null 2>&1 && "
                             "gst-inspect-1.0 asfmux >/dev/null 2>&1") != 0) {
      continue;
    }
    const std::string path = dir.File(std::to_string(made++) + ".asf");
    std::string command = row.command;
    command.replace(command.find("$OUT"), 4, path);
    ASSERT_EQ(std::system(command.c_str()), 0);
    const ParseRun run = testsupport::RunParserOnFile<CASFParser>(path, Verbosity(3), nullptr);
    EXPECT_EQ(row.check == Check::kCut ? kInvalid : kValid, testsupport::Trimmed(run.lines.back()));
    ExpectMessages(run, row.messages);
    ExpectTexts(run.lines, row.texts);
    if (row.check == Check::kCut) continue;
    const Accounting accounting(run.lines);
    EXPECT_TRUE(accounting.ObjectsComplete());
    if (row.check != Check::kProbed) continue;
    std::vector<uint64_t> ours;
    for (const auto& entry : accounting.streamBytes) ours.push_back(entry.second);
    EXPECT_EQ(ProbedStreamBytes(path), ours);
  }
  if (made == 0) GTEST_SKIP() << "no producer installed";
}

// Cut at many places, and every object's size set to values that break the
// walk's arithmetic: every run ends, with a verdict.
TEST(CASFParserTest, DamagedFilesEndWithAVerdict) {
  std::vector<Bytes> files = {Samples().rich};
  testsupport::ScratchDir dir;
  if (testsupport::Installed("ffmpeg")) {
    const std::string path = dir.File("real.asf");
    ASSERT_EQ(0, std::system(("ffmpeg -v error -f lavfi -i testsrc=d=1:s=64x48:r=10 -f lavfi -i "
                              "sine=d=1 -c:v wmv2 -c:a wmav2 " +
                              path)
                                 .c_str()));
    files.push_back(testsupport::ReadFile(path));
  }
  const char* const kObjectIds[] = {asf::kHeader.tag,           asf::kFileProperties.tag,
                                    asf::kStreamProperties.tag, asf::kHeaderExtension.tag,
                                    asf::kMarker.tag,           kDataId,
                                    asf::kSimpleIndex.tag,      asf::kIndex.tag};
  for (const Bytes& file : files) {
    std::vector<Bytes> damaged;
    for (size_t at = 0; at < file.size(); at += std::max<size_t>(1, file.size() / 150)) {
      damaged.emplace_back(file.begin(), file.begin() + at);
    }
    for (const char* id : kObjectIds) {
      const Bytes guid = Guid(id);
      for (auto at = std::search(file.begin(), file.end(), guid.begin(), guid.end());
           at != file.end(); at = std::search(at + 1, file.end(), guid.begin(), guid.end())) {
        for (uint64_t size : {0ull, 1ull, 23ull, 0xFFFFFFFFull, ~0ull}) {
          Bytes bytes = file;
          const Bytes field = Le64(size);
          std::copy(field.begin(), field.end(), bytes.begin() + (at - file.begin()) + 16);
          damaged.push_back(bytes);
        }
      }
    }
    for (const Bytes& bytes : damaged) {
      SCOPED_TRACE(bytes.size());
      const ParseRun run = RunAsf(bytes, Verbosity(5));
      ASSERT_FALSE(run.lines.empty());
      EXPECT_NE(std::string::npos, run.lines.back().find("Windows Media file."));
    }
  }
}

}  // namespace
