// RealMedia files: header chunks, packets and metadata built by hand, files
// of ffmpeg, and damaged files.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "realmedia/CRMFParser.h"

namespace {

using testsupport::Be16;
using testsupport::Be32;
using testsupport::Bytes;
using testsupport::Concat;
using testsupport::CountText;
using testsupport::ExpectTexts;
using testsupport::ParseRun;
using testsupport::TextBytes;
using Lines = std::vector<std::string>;

const char kValid[] = "This is a Real Media file.";
const char kInvalid[] = "This might not be a valid Real Media file.";

Bytes Tag(const char (&tag)[5]) { return Bytes(tag, tag + 4); }

Bytes SizedChunk(const char (&id)[5], uint32_t size, uint16_t version, const Bytes& body) {
  return Concat({Tag(id), Be32(size), Be16(version), body});
}
Bytes Chunk(const char (&id)[5], const Bytes& body, uint16_t version = 0) {
  return SizedChunk(id, static_cast<uint32_t>(10 + body.size()), version, body);
}

Bytes FileHeader(uint16_t version = 0) {
  return Chunk(".RMF", Concat({Be32(0), Be32(4)}), version);
}
Bytes Properties(uint16_t version = 0) {
  return Chunk("PROP", Concat({Be32(64000), Bytes(32, 0), Be16(1), Be16(0x3)}), version);
}
// A counted text: its length in `width` bytes, then the text.
Bytes Counted(const std::string& text, int width) {
  const Bytes length = width == 1   ? Bytes{uint8_t(text.size())}
                       : width == 2 ? Be16(uint16_t(text.size()))
                                    : Be32(uint32_t(text.size()));
  return Concat({length, TextBytes(text)});
}
Bytes MediaProperties(const std::string& mime, const Bytes& typeSpecific) {
  return Chunk("MDPR", Concat({Be16(0), Bytes(28, 0), Counted("Stream", 1), Counted(mime, 1),
                               Counted(std::string(typeSpecific.begin(), typeSpecific.end()), 4)}));
}
Bytes Content() {
  return Chunk("CONT", Concat({Counted("A Title", 2), Counted("An Author", 2), Counted("", 2),
                               Counted("Note", 2)}));
}
// A packet of version 0 or 1 with `data` behind its fields; other versions
// carry nothing but the data.
Bytes Packet(uint16_t version, uint16_t stream, const Bytes& data) {
  const Bytes fields = version == 0   ? Concat({Be16(stream), Be32(40), Bytes{0, 0x02}})
                       : version == 1 ? Concat({Be16(stream), Be32(40), Be16(7), Bytes{0x01}})
                                      : Bytes();
  return Concat({Be16(version), Be16(uint16_t(4 + fields.size() + data.size())), fields, data});
}
Bytes Data(const std::vector<Bytes>& packets) {
  return Chunk("DATA", Concat({Be32(uint32_t(packets.size())), Be32(0), Concat(packets)}));
}
Bytes Packets(size_t count) { return Data(std::vector<Bytes>(count, Packet(0, 1, Bytes(20, 7)))); }
Bytes Index(uint32_t entries) {
  Bytes body = Concat({Be32(entries), Be16(1), Be32(0)});
  for (uint32_t i = 0; i < entries; ++i) {
    body = Concat({body, Be16(0), Be32(i * 1000), Be32(500 + i), Be32(i)});
  }
  return Chunk("INDX", body);
}
// A metadata property (text type) with its sub-properties behind it.
Bytes Property(const std::string& name, const std::string& value,
               const std::vector<Bytes>& children = {}) {
  Bytes table;
  for (size_t i = 0; i < children.size(); ++i) table = Concat({table, Be32(0), Be32(1)});
  const Bytes tail = Concat({Be32(uint32_t(children.size())), Counted(name, 4), Counted(value, 4),
                             table, Concat(children)});
  return Concat({Be32(uint32_t(20 + tail.size())), Be32(1), Be32(0), Be32(0), Be32(0), tail});
}
Bytes Metadata(const Bytes& root) {
  return Concat({Tag("RMMD"), Be32(uint32_t(16 + root.size())), Tag("RJMD"), Be32(0), root});
}

Bytes RealVideo(size_t extra) {
  return Concat({Be32(uint32_t(34 + extra)), Tag("VIDO"), Tag("RV20"), Be16(352), Be16(288),
                 Be16(12), Be32(0), Be32(25 << 16), Tag("RV20"), Tag("RV20"), Bytes(extra, 'c')});
}
Bytes LogicalFileInfo() {
  return Concat({Be32(0), Be16(0), Be16(2), Be16(1), Be16(2), Be32(100), Be32(200), Be16(1),
                 Be16(1), Be16(1), Be32(0), Be16(0), Counted("Marker", 1), Be32(2),
                 Counted("xy", 2)});
}

ParseRun RunRmf(const Bytes& bytes, uint32_t traceLimit = 15, bool enforce = false,
                uint32_t verbosity = 3) {
  RunOptions options;
  options.report.verbosity = verbosity;
  options.report.moviTraceLimit = traceLimit;
  options.scan.subchunkEnforcesParentSize = enforce;
  return testsupport::RunParserOnBytes<CRMFParser>(bytes, options, nullptr, "sample.rm");
}

TEST(CRMFParserTest, HandBuiltFiles) {
  const Bytes head = Concat({FileHeader(), Properties()});
  const Bytes packets =
      Data({Packet(0, 1, Bytes(20, 7)), Packet(1, 2, Bytes(9, 8)), Packet(7, 3, Bytes(5, 9))});
  struct Row {
    const char* name;
    Bytes file;
    const char* verdict;
    Lines messages;
    Lines texts = {};
    Lines absent = {};
    uint32_t traceLimit = 15;
    bool enforce = false;
  } rows[] = {
      // clang-format off
      {"file header alone", FileHeader(), kValid, {}, {"Real Media File (V0) (S:18, P:0) '.RMF'"}},
      // The packets fill their chunk to its last byte: no complaint.
      {"every header", Concat({head, Content(), MediaProperties("x/unknown", Bytes(3, 1)), packets,
                               Index(2)}), kValid, {},
       {"+ HX_PERFECT_PLAY_ENABLED", "Title: \"A Title\"", "Comment: \"Note\"",
        "Index (V0) (S:48, P:", "PacketCountForThisPacket: 1"}},
      // An unknown file header is passed over whole: the walk stays in step.
      {"file header of an unknown version", Concat({FileHeader(5), Properties()}), kValid,
       {"Warning: Unexpected Version 5"}, {"Properties (V0)"}, {"FileVersion"}},
      {"properties of version 1", Concat({FileHeader(), Properties(1)}), kValid,
       {"Error: Unexpected Version 1"}, {"MaxBitRate: 64000"}},
      {"unknown chunk", Concat({head, Chunk("ABCD", Bytes(6, 0)), Index(1)}), kValid,
       {"Unexpected Token!"}, {"'ABCD' (S:16, P:68): V0 Chunk", "Index (V0)"}},
      {"packets of versions 0, 1 and 7", Concat({head, packets}), kValid, {},
       {"DataEntry (V0) #1 (S:32,", "HX_KEYFRAME_FLAG", "DataEntry (V1) #2 (S:22,", "AsmRule: 7",
        "DataEntry (V7) #3 (S:9,"}},
      {"packets beyond the trace limit", Concat({head, Packets(6), Index(1)}), kValid, {},
       {"DataEntry (V0) #3", "Index (V0)"}, {"DataEntry (V0) #4"}, 2},
      {"a trace limit that must not wrap", Concat({head, Packets(6)}), kValid, {},
       {"DataEntry (V0) #6"}, {}, 0xFFFFFFFF},
      {"a packet longer than its chunk", Concat({head, SizedChunk("DATA", 18 + 40, 0,
           Concat({Be32(1), Be32(0), Be16(0), Be16(52), Bytes(36, 1)})), Index(1)}), kValid,
       {"Token Size greater Chunk Size!"}, {"DataEntry (V0) #1 (S:40,", "Index (V0)"}},
      // Bytes too few for a packet are passed over; the index behind them is read.
      {"a zero marker behind the packets", Concat({head, SizedChunk("DATA", 18 + 32 + 8, 0,
           Concat({Be32(1), Be32(0), Packet(0, 1, Bytes(20, 7)), Bytes(8, 0)})), Index(1)}),
       kValid, {}, {"Index (V0)"}},
      {"a packet shorter than its header", Concat({head, Data({Concat({Be16(0), Be16(10),
           Bytes(6, 0)}), Packet(0, 1, Bytes(9, 0))})}), kInvalid,
       {"Packet Length 10 smaller than its 12-byte header!"}},
      {"a packet of length 0", Concat({head, Data({Concat({Be16(3), Be16(0), Bytes(20, 0)})})}),
       kInvalid, {"Packet Length 0 smaller than its 4-byte header!"}},
      {"a chunk smaller than its header", Concat({head, SizedChunk("PROP", 6, 0, Bytes(40, 0))}),
       kInvalid, {"Chunk Size 6 smaller than its 10-byte header!"}},
      {"a chunk larger than the file", Concat({head, SizedChunk("INDX", 1000, 0, Index(1))}),
       kValid, {"Chunk size greater File size", "Token Size greater Chunk Size!"}},
      {"bytes too few for a chunk", Concat({head, Bytes(5, 0)}), kValid, {"Chunk Size mismatch!"}},
      {"a cut header", Concat({head, Bytes(9, 0)}), kInvalid, {"File ends prematurely!"}},
      {"video type-specific data with codec data",
       Concat({head, MediaProperties("video/x-pn-realvideo", RealVideo(6))}), kValid, {},
       {"Compression: 'RV20'", "Width: 352", "fps: 1638400", "Type2: 'RV20'", "\"cccccc\""}},
      {"a logical stream", Concat({head, MediaProperties("logical-fileinfo", LogicalFileInfo())}),
       kValid, {}, {"NumPhysicalStreams: 2", "DataOffsets: 200", "RuleToPhysicalStreamMap: 1",
                    "Name: \"Marker\""}},
      {"multirate audio", Concat({head, MediaProperties("audio/x-pn-multirate-realaudio",
                                                        TextBytes("MLTI-table"))}),
       kValid, {}, {"\"MLTI-table\""}},
      {"nested metadata", Concat({head, Metadata(Property("root", "", {Property("Title", "Clip"),
           Property("Track", "", {Property("Number", "7")})})), Index(1)}), kValid, {},
       {"Metadata (S:", "Tag: 'RJMD'", "Name: \"root\"", "Value: \"Clip\"",
        "Name: \"Number\"", "Index (V0)"}},
      // A count of sub-properties that the bytes cannot hold ends at them.
      {"metadata claiming more properties than it holds", Concat({head, Metadata(Concat({Be32(32),
           Be32(1), Bytes(12, 0), Be32(0xFFFFFFFF), Be32(0), Be32(0)}))}), kValid, {}},
      {"a property smaller than its header", Concat({head, Metadata(Concat({Be32(8), Be32(1)}))}),
       kInvalid, {"Property Size 8 smaller than its 32-byte header!"}},
      // -n: the oversized chunk's size is trusted, and the walk ends with it.
      {"-n trusts the oversized chunk", Concat({head, SizedChunk("INDX", 1000, 0, Bytes(12, 0))}),
       kInvalid, {"Chunk size greater File size", "Token Size greater Chunk Size!",
                  "File ends prematurely!"}, {}, {}, 15, true},
      // clang-format on
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const ParseRun run = RunRmf(row.file, row.traceLimit, row.enforce);
    testsupport::ExpectVerdict(run, row.verdict, row.messages);
    ExpectTexts(run.lines, row.texts, row.absent);
  }
}

// Files of ffmpeg: every packet listed (the trace limit above the count)
// and as many as ffprobe reads.
TEST(CRMFParserTest, FilesOfFfmpegWalkToTheEnd) {
  if (!testsupport::Installed("ffmpeg") || !testsupport::Installed("ffprobe")) {
    GTEST_SKIP() << "ffmpeg not installed";
  }
  const std::string video = "-f lavfi -i testsrc=d=1:s=176x144:r=10 ";
  const std::string audio = "-f lavfi -i sine=d=1:r=48000 -c:a ac3 ";
  const std::string commands[] = {
      video + audio + "-c:v rv10 -f rm",
      video + audio + "-c:v rv20 -f rm",
      "-f lavfi -i sine=d=1:r=8000 -ac 1 -c:a real_144 -f rm",
  };
  testsupport::ScratchDir dir;
  for (const std::string& command : commands) {
    SCOPED_TRACE(command);
    const std::string path = dir.File("clip.rm");
    if (std::system(("ffmpeg -v error -y " + command + " " + path).c_str()) != 0) continue;
    const ParseRun run = RunRmf(testsupport::ReadFile(path), 100000);
    EXPECT_EQ(kValid, testsupport::Trimmed(run.lines.back()));
    std::istringstream probed(testsupport::RunCommand(
        "ffprobe -v error -count_packets -show_entries stream=nb_read_packets -of csv=p=0 '" +
        path + "'"));
    size_t packets = 0;
    for (std::string line; std::getline(probed, line);) packets += std::atol(line.c_str());
    EXPECT_GT(packets, 0u);
    EXPECT_EQ(packets, CountText(run.lines, "DataEntry (V0) #"));
    EXPECT_TRUE(testsupport::HasText(run.lines, "NumPackets: " + std::to_string(packets)));
  }
}

// Cut at many places, sizes and lengths set to values that break the walk's
// arithmetic: every run ends with a verdict.
TEST(CRMFParserTest, DamagedFilesEndWithAVerdict) {
  std::vector<Bytes> files = {Concat(
      {FileHeader(), Properties(), Content(), MediaProperties("video/x-pn-realvideo", RealVideo(4)),
       MediaProperties("logical-fileinfo", LogicalFileInfo()),
       Data({Packet(0, 1, Bytes(20, 7)), Packet(1, 2, Bytes(9, 8))}),
       Metadata(Property("root", "v", {Property("Title", "Clip")})), Index(2)})};
  testsupport::ScratchDir dir;
  if (testsupport::Installed("ffmpeg")) {
    const std::string path = dir.File("real.rm");
    if (std::system(("ffmpeg -v error -f lavfi -i testsrc=d=0.3:s=64x48:r=10 -f lavfi -i "
                     "sine=d=0.3 -c:v rv10 -c:a ac3 -f rm " +
                     path)
                        .c_str()) == 0) {
      files.push_back(testsupport::ReadFile(path));
    }
  }
  for (const Bytes& file : files) {
    std::vector<Bytes> damaged;
    for (size_t at = 0; at < file.size(); at += std::max<size_t>(1, file.size() / 150)) {
      damaged.emplace_back(file.begin(), file.begin() + at);
    }
    // Every 32-bit and 16-bit word at an even offset, set to the values
    // that matter: sizes, lengths and counts of 0, too small, and huge.
    for (size_t at = 0; at + 4 <= file.size() && at < 600; at += 2) {
      for (uint32_t value : {0u, 9u, 0xFFFFFFFFu}) {
        Bytes bytes = file;
        const Bytes field = Be32(value);
        std::copy(field.begin(), field.end(), bytes.begin() + at);
        damaged.push_back(bytes);
      }
      Bytes bytes = file;
      bytes[at] = 0xFF;
      damaged.push_back(bytes);
    }
    for (const Bytes& bytes : damaged) {
      const ParseRun run = RunRmf(bytes, 1000, bytes.size() % 2 == 0, 5);
      ASSERT_FALSE(run.lines.empty());
      EXPECT_NE(std::string::npos, run.lines.back().find("Real Media file.")) << bytes.size();
    }
  }
}

}  // namespace
