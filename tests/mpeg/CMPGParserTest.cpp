// MPEG program and transport streams: hand-built packs, PES headers and
// transport packets, extraction of PIDs, detection, files of real producers
// and damaged files.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "mpeg/CMPGParser.h"

namespace {

using testsupport::Be16;
using testsupport::Bytes;
using testsupport::Concat;
using testsupport::ExpectTexts;
using testsupport::ParseRun;
using Lines = std::vector<std::string>;

const char kValid[] = "This is a MPEG file.";
const char kInvalid[] = "This might not be a valid MPEG file.";

// Fields of any width, most significant bit first.
struct BitWriter {
  Bytes data;
  unsigned used = 8;
  BitWriter& Put(uint64_t value, unsigned width) {
    while (width-- > 0) {
      if (used == 8) {
        data.push_back(0);
        used = 0;
      }
      data.back() |= static_cast<uint8_t>((value >> width & 1) << (7 - used++));
    }
    return *this;
  }
  // A 33-bit time stamp in its three groups, each closed by a marker bit.
  BitWriter& Stamp(uint64_t value, unsigned marker = 1) {
    Put(value >> 30, 3).Put(marker, 1).Put(value >> 15, 15).Put(1, 1);
    return Put(value, 15).Put(1, 1);
  }
};

Bytes Code(uint8_t id) { return {0, 0, 1, id}; }

Bytes Mpeg2Pack(uint64_t scr, uint32_t muxRate = 2000) {
  BitWriter w;
  w.Put(1, 2).Stamp(scr).Put(300, 9).Put(1, 1).Put(muxRate, 22).Put(3, 2).Put(31, 5).Put(0, 3);
  return Concat({Code(0xBA), w.data});
}

Bytes Mpeg1Pack(uint64_t scr) {
  BitWriter w;
  w.Put(2, 4).Stamp(scr).Put(1, 1).Put(2000, 22).Put(1, 1);
  return Concat({Code(0xBA), w.data});
}

Bytes SystemHeader(std::initializer_list<uint8_t> streams) {
  BitWriter w;
  w.Put(1, 1).Put(5000, 22).Put(1, 1).Put(1, 6).Put(0, 4).Put(1, 1).Put(1, 5).Put(0, 1);
  w.Put(127, 7);
  for (uint8_t id : streams) w.Put(id, 8).Put(3, 2).Put(1, 1).Put(230, 13);
  return Concat({Code(0xBB), Be16(w.data.size()), w.data});
}

Bytes Pes(uint8_t id, const Bytes& body) { return Concat({Code(id), Be16(body.size()), body}); }

// An MPEG-2 PES header with a PTS (`marker` its first marker bit), then
// `payload`.
Bytes Mpeg2PesBody(const Bytes& payload, unsigned marker = 1) {
  BitWriter w;
  w.Put(2, 2).Put(0, 6).Put(2, 2).Put(0, 6).Put(5, 8).Put(2, 4).Stamp(3600, marker);
  return Concat({w.data, payload});
}

// Every optional field of an MPEG-2 PES header.
Bytes FullPesBody() {
  BitWriter fields;
  fields.Put(3, 4).Stamp(7200).Put(1, 4).Stamp(3600);                  // PTS and DTS
  fields.Put(0, 2).Stamp(90000).Put(12, 9).Put(1, 1);                  // ESCR
  fields.Put(1, 1).Put(1234, 22).Put(1, 1);                            // ES rate
  fields.Put(5, 8);                                                    // trick mode
  fields.Put(1, 1).Put(3, 7);                                          // additional copy info
  fields.Put(0x1234, 16);                                              // previous CRC
  fields.Put(0, 1).Put(0, 1).Put(1, 1).Put(1, 1).Put(7, 3).Put(1, 1);  // extension flags
  fields.Put(1, 1).Put(7, 7).Put(1, 1).Put(1, 1).Put(4, 6);            // sequence counter
  fields.Put(1, 2).Put(1, 1).Put(100, 13);                             // P-STD buffer
  fields.Put(1, 1).Put(2, 7).Put(0xFFFF, 16);                          // extension 2
  BitWriter header;
  header.Put(2, 2).Put(0, 6).Put(3, 2).Put(0x3F, 6).Put(fields.data.size() + 2, 8);
  return Concat({header.data, fields.data, {0xFF, 0xFF}, {0xAA, 0xBB}});
}

RunOptions Options(uint32_t verbosity = 2, uint32_t limit = 1000) {
  RunOptions options;
  options.report.verbosity = verbosity;
  options.report.moviTraceLimit = limit;
  return options;
}

ParseRun RunMpeg(const Bytes& file, const RunOptions& options = Options(),
                 const std::string& name = "sample.mpg") {
  return testsupport::RunParserOnBytes<CMPGParser>(file, options, nullptr, name);
}

// The verdict line and the type line that follows it, and the messages.
void ExpectEnding(const ParseRun& run, const char* verdict, const std::string& type,
                  const Lines& messages) {
  testsupport::ExpectMessages(run.lines, messages);
  auto at = std::find_if(run.lines.begin(), run.lines.end(), [&](const std::string& line) {
    return testsupport::Trimmed(line) == verdict;
  });
  ASSERT_NE(run.lines.end(), at) << verdict;
  ASSERT_NE(run.lines.end(), at + 1);
  EXPECT_EQ("This MPEG file is of type " + type, testsupport::Trimmed(*(at + 1)));
}

// A transport packet: header, adaptation field (length byte included) and
// payload, filled up with 0xFF.
Bytes TsPacket(uint16_t pid, bool unitStart, unsigned counter, const Bytes& payload,
               const Bytes& adaptation = {}, unsigned control = 0) {
  if (control == 0) control = (adaptation.empty() ? 0 : 2) | (payload.empty() ? 0 : 1);
  Bytes packet = Concat({{0x47, uint8_t((unitStart ? 0x40 : 0) | pid >> 8), uint8_t(pid),
                          uint8_t(control << 4 | counter)},
                         adaptation,
                         payload});
  packet.resize(188, 0xFF);
  return packet;
}

Bytes BadSync(Bytes packet) {
  packet[0] = 0x48;
  return packet;
}

// A program association table naming one program map PID.
Bytes Pat(uint16_t pmtPid) {
  return {
      0,    0x00, 0xB0, 13,  0, 1, 0xC1, 0, 0, 0, 1, uint8_t(0xE0 | pmtPid >> 8), uint8_t(pmtPid),
      0x12, 0x34, 0x56, 0x78};
}

Bytes PesStart(uint8_t id, const Bytes& rest) { return Concat({Code(id), Be16(0), rest}); }

// What the file is, and its program stream printed unit by unit.
TEST(CMPGParserTest, ProgramStreamsArePrintedUnitByUnit) {
  const Bytes end = Code(0xB9);
  const Bytes pack = Mpeg2Pack(90000);
  const Bytes ts = Concat({TsPacket(0x100, false, 0, {1}), TsPacket(0x100, false, 1, {1})});
  RunOptions scan = Options();
  scan.scan.byteOrder = ByteOrder::kMpegScan;
  struct Row {
    const char* name;
    Bytes file;
    const char* verdict;
    std::string type;
    Lines messages;
    Lines texts = {};
    RunOptions options = Options();
  } rows[] = {
      {"every optional PES field",
       Concat({pack, SystemHeader({0xE0, 0xC0}), Pes(0xE0, FullPesBody()), end}), kValid,
       "MPEG-2 Program Stream", Lines{},
       Lines{"Type: 1 (MPEG-2)", "--> SCR (27Mhz): 27000300", "Stream #0xe0",
             "--> PTS (90kHz): 7200", "--> DTS (90kHz): 3600", "--> ESCR (27Mhz): 27000012",
             "ES Rate: 1234", "Trick Mode: 5", "additional copy info: 3",
             "previous PES packet CRC: 4660", "Packet Sequence Counter: 7",
             "original stuffing length: 4", "P-STD buffer size: 100",
             "PES extension field length: 2", "Stuffing: 2", "Program End Code"},
       Options(4)},
      {"a stream id no system header may list", Concat({pack, SystemHeader({0xB0}), end}), kValid,
       "MPEG-2 Program Stream", Lines{"Wrong Stream Id!"}},
      {"MPEG-1 pack and PES header with buffer size",
       Concat({Mpeg1Pack(3600), Pes(0xC0, Concat({{0xFF, 0xFF, 0x40, 0x20},
                                                  BitWriter().Put(2, 4).Stamp(3600).data}))}),
       kValid, "MPEG-1 Program Stream", Lines{},
       Lines{"Type: 0 (MPEG-1)", "--> SCR (27Mhz): 1080000",
             "MPEG-1 PES Header Buffer:", "std_buffer_size: 32", "--> PTS (90kHz): 3600"}},
      {"bytes between units are skipped, a prefix right behind them found",
       Concat({pack, {0x12, 0x34, 0x00}, Mpeg2Pack(180000), end}), kValid, "MPEG-2 Program Stream",
       Lines{}, Lines{"Skipping (3)", "--> SCR (27Mhz): 54000300"}},
      {"a PES packet of length 0 ends at the next system start code",
       Concat({pack, Code(0xE0), Be16(0), Mpeg2PesBody({0, 0, 1, 0xB7}), pack, end}), kValid,
       "MPEG-2 Program Stream", Lines{"PES Packet Length 0, Packet ends at the next Start Code!"},
       Lines{"0xe0 (18): PES Video Stream", "Program End Code"}},
      {"marker and range faults", Concat({Mpeg2Pack(0, 0), Pes(0xC0, Mpeg2PesBody({}, 0))}), kValid,
       "MPEG-2 Program Stream", Lines{"Wrong Program_Mux_Rate", "Wrong marker, expected 1"}},
      {"a code with no place in a program stream", Concat({pack, Code(0xB4), Be16(2), {1, 2}, end}),
       kValid, "MPEG-2 Program Stream", Lines{"Unknown Marker in PES Packet"}},
      {"a PES header longer than its packet", Concat({pack, Pes(0xE0, {0x80, 0x80, 0x20, 1})}),
       kValid, "MPEG-2 Program Stream", Lines{"PES header data longer than its Packet!"}},
      {"a cut packet", Concat({pack, Code(0xE0), Be16(100), Mpeg2PesBody({1, 2})}), kInvalid,
       "MPEG-2 Program Stream", Lines{"File ends prematurely!"}},
      // A tag of 257 bytes (size 00 00 02 01) and its 10-byte header.
      {"an ID3v2 tag", Concat({{'I', 'D', '3', 3, 0, 0, 0, 0, 2, 1}, Bytes(257, 0)}), kValid,
       "Unknown", Lines{}, Lines{"'ID3 ' (267): ID3-Tag"}},
      {"a transport stream found by scanning", Concat({Bytes(10, 0xAB), ts}), kValid,
       "MPEG-2 Transport Stream", Lines{}, Lines{"PID: 0x0100, Packets: 2"}, scan},
      {"a pack header found by scanning", Concat({Bytes(300, 0xAB), pack, end}), kValid,
       "MPEG-2 Program Stream", Lines{}, Lines{"Program End Code"}, scan},
      {"nothing MPEG", Bytes(400, 0xAB), kInvalid, "Unknown", Lines{}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const ParseRun run = RunMpeg(row.file, row.options);
    ExpectEnding(run, row.verdict, row.type, row.messages);
    ExpectTexts(run.lines, row.texts);
  }
  const ParseRun sampled = RunMpeg(Concat({pack, pack, pack, pack}), Options(2, 2));
  EXPECT_EQ(2u, testsupport::CountText(sampled.lines, "Pack Header"));
}

TEST(CMPGParserTest, TransportPacketsAreCheckedAndShown) {
  const Bytes pes = PesStart(0xE0, Mpeg2PesBody({0, 0, 1, 0xB3}));
  BitWriter clocks;
  clocks.Put(0xFF, 8).Put(1000, 33).Put(63, 6).Put(5, 9).Put(2000, 33).Put(63, 6).Put(0, 9);
  clocks.Put(0xFE, 8).Put(2, 8).Put(0xABCD, 16);  // splice, private data
  clocks.Put(11, 8).Put(7, 3).Put(31, 5).Put(1, 1).Put(5, 15).Put(3, 2).Put(7, 22);
  clocks.Put(2, 4).Stamp(9000);  // extension
  const Bytes adaptation = Concat({{uint8_t(clocks.data.size() + 2)}, clocks.data, {0xFF, 0xFF}});
  struct Row {
    const char* name;
    Bytes file;
    Lines messages;
    Lines texts;
  } rows[] = {
      {"continuity of each PID",
       Concat({TsPacket(0x100, true, 0, pes), TsPacket(0x100, false, 0, {1}),
               TsPacket(0x100, false, 2, {1}), TsPacket(0x1FFF, false, 0, {0})}),
       Lines{},
       Lines{"Continuity Counter: 0 (first)", "Continuity Counter: 0 (retry)",
             "Continuity Counter: 2 (error)", "PID: 0x1fff (Nullpacket)",
             "PID: 0x0100, Packets: 3"}},
      {"every adaptation field", TsPacket(0x100, false, 0, {1, 2}, adaptation), Lines{},
       Lines{"PCR: 300005", "OPCR: 600000", "Splice Countdown: -2", "Transport Private Data",
             "ltw_offset: 5", "piecewise_rate: 7", "Splicetype: 2", "DTS_next_AU: 9000",
             "Stuffing2 (2)", "Payload (152)"}},
      {"an adaptation field longer than the packet", TsPacket(0x100, false, 0, {}, {200}, 3),
       Lines{"Adaption Field Length 200 greater"}, Lines{}},
      {"tables start with a pointer field, PES packets with a start code",
       Concat({TsPacket(0, true, 0, Pat(0x1000)), TsPacket(0x1000, true, 0, {0, 2, 0xB0}),
               TsPacket(0x11, true, 0, {0, 0x42}), TsPacket(0x100, true, 0, {0, 2, 0xB0})}),
       Lines{"Packet Startcode 0x000001 not found!"}, Lines{"PID: 0x0000 (PAT)"}},
      {"a lost sync byte and an empty adaptation control",
       Concat({TsPacket(0x100, false, 0, {1}), TsPacket(0x100, false, 1, {1}),
               BadSync(TsPacket(0x100, false, 2, {1})), TsPacket(0x100, false, 2, {}, {}, 0)}),
       Lines{"Unexpected Sync Byte", "Unexpected Adaption Field Type: 0"}, Lines{}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const ParseRun run = RunMpeg(row.file, Options(), "sample.ts");
    ExpectEnding(run, kValid, "MPEG-2 Transport Stream", row.messages);
    ExpectTexts(run.lines, row.texts);
  }
}

// Extraction of PID 0x44: what the output holds for each input.
TEST(CMPGParserTest, ExtractionWritesThePayloadsOfTheChosenPids) {
  const Bytes body = {'A', 'B', 'C'};
  const Bytes pes = PesStart(0xE0, Mpeg2PesBody(body));
  auto payload = [](const Bytes& packet, size_t from) {
    return Bytes(packet.begin() + from, packet.end());
  };
  const Bytes first = TsPacket(0x44, true, 0, pes);
  const Bytes second = TsPacket(0x44, false, 1, {'D', 'E'});
  // DVD private stream 1: AC-3 keeps its sync word, LPCM loses its format
  // bytes, a subpicture only its sub-stream number.
  const Bytes ac3 =
      TsPacket(0x44, true, 0, PesStart(0xBD, Mpeg2PesBody({0x80, 1, 0, 1, 0x0B, 0x77})));
  const Bytes lpcm =
      TsPacket(0x44, true, 1, PesStart(0xBD, Mpeg2PesBody({0xA0, 1, 2, 3, 4, 5, 6, 9})));
  const Bytes subpicture = TsPacket(0x44, true, 2, PesStart(0xBD, Mpeg2PesBody({0x20, 7})));
  struct Row {
    const char* name;
    Bytes file;
    Bytes expected;
    const char* fileName = "in.ts";
    Lines messages = {};
  } rows[] = {
      {"PES headers left out, duplicates and other PIDs dropped",
       Concat({first, TsPacket(0x45, false, 0, {'X'}), second, second, BadSync(second)}),
       Concat({payload(first, 4 + 14), payload(second, 4)}), "in.ts",
       Lines{"Unexpected Sync Byte"}},
      {"a PES start whose header does not fit is kept whole",
       Concat({TsPacket(0x44, true, 0, {0, 0, 1, 0xE0, 0, 0, 0x80},
                        Concat({{176}, Bytes(176, 0xFF)}))}),
       {0, 0, 1, 0xE0, 0, 0, 0x80}},
      {"DVD sub-streams", Concat({ac3, lpcm, subpicture}),
       Concat(
           {payload(ac3, 4 + 14 + 4), payload(lpcm, 4 + 14 + 7), payload(subpicture, 4 + 14 + 1)}),
       "in.vob"},
      {"nothing of the PID",
       TsPacket(0x45, false, 0, {1}),
       {},
       "in.ts",
       Lines{"Nothing extracted"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    testsupport::ScratchDir dir;
    RunOptions options = Options();
    options.writer.strippedStreams = {0x44};
    const ParseRun run = testsupport::RunParserOnFile<CMPGParser>(
        dir.Write(row.fileName, row.file), options, nullptr, dir.File("out.es"));
    EXPECT_EQ(row.expected, testsupport::ReadFile(dir.File("out.es")));
    ExpectEnding(run, kValid, "MPEG-2 Transport Stream", row.messages);
  }
  // A write that fails fails the job.
  testsupport::ScratchDir dir;
  RunOptions options = Options();
  options.writer.strippedStreams = {0x44};
  bool failed = false;
  testsupport::RunParserOnFile<CMPGParser>(
      dir.Write("in.ts", Concat({first, second})), options,
      [&](CMPGParser& parser) { failed = parser.JobFailed(); }, "/dev/full");
  EXPECT_TRUE(failed);
}

// The chunk count of each stream in the summary ("Stream: 0xe0, Chunks: 50").
std::map<int, long> SummaryChunks(const Lines& lines) {
  std::map<int, long> chunks;
  for (const std::string& line : lines) {
    int id = 0;
    long count = 0;
    if (std::sscanf(testsupport::Trimmed(line).c_str(), "Stream: 0x%x, Chunks: %ld", &id, &count) ==
        2) {
      chunks[id] = count;
    }
  }
  return chunks;
}

// Frames per codec type as ffprobe decodes them.
std::map<std::string, long> ProbedFrames(const std::string& path) {
  std::istringstream text(
      testsupport::RunCommand("ffprobe -v error -count_frames -show_entries "
                              "stream=codec_type,nb_read_frames -of csv=p=0 '" +
                              path + "'"));
  std::map<std::string, long> frames;
  std::string line;
  while (std::getline(text, line)) {
    const size_t comma = line.find(',');
    if (comma != std::string::npos)
      frames[line.substr(0, comma)] += std::atol(line.c_str() + comma + 1);
  }
  return frames;
}

TEST(CMPGParserTest, FilesOfRealProducersWalkCleanly) {
  const std::string av =
      "ffmpeg -v error -f lavfi -i testsrc=d=2:s=176x144:r=25 -f lavfi -i sine=d=2 ";
  const std::string tone = "ffmpeg -v error -f lavfi -i sine=d=2 ";
  const std::string gstVideo =
      "gst-launch-1.0 -q videotestsrc num-buffers=50 ! video/x-raw,width=176,height=144,"
      "framerate=25/1 ! mpeg2enc ! mpegvideoparse ! ";
  struct Row {
    std::string command;
    std::string type;
    Lines texts;
    int videoId;      // stream whose pictures ffprobe counts too (0: none)
    int audioId;      // stream whose frames ffprobe counts too (0: none)
    long extraAudio;  // frames ffprobe does not count (a Xing/Info frame)
  } rows[] = {
      {av + "-c:v mpeg1video -c:a mp2 -f mpeg $OUT", "MPEG-1 Program Stream", Lines{}, 0xE0, 0xC0,
       0},
      {av + "-c:v mpeg2video -c:a ac3 -f vob $OUT", "MPEG-2 Program Stream", Lines{"Stream: 0xbd"},
       0xE0, 0, 0},
      {av + "-c:v mpeg2video -c:a mp2 -muxrate 2000000 -f mpegts $OUT", "MPEG-2 Transport Stream",
       Lines{"PID: 0x1fff"}, 0, 0, 0},
      {av +
           "-map 0:v -map 1:a -c:v mpeg2video -c:a mp2 -program title=A:st=0 -program title=B:st=1 "
           "-f mpegts $OUT",
       "MPEG-2 Transport Stream", Lines{"PID: 0x1001"}, 0, 0, 0},
      {"ffmpeg -v error -f lavfi -i testsrc=d=2:s=176x144:r=25 -c:v mpeg1video -f mpeg1video $OUT",
       "Elementary Stream Video", Lines{}, 0xE0, 0, 0},
      {"ffmpeg -v error -f lavfi -i testsrc=d=2:s=176x144:r=25 -c:v mpeg2video -f mpeg2video $OUT",
       "Elementary Stream Video", Lines{}, 0xE0, 0, 0},
      {tone + "-c:a mp2 -f mp2 $OUT", "MPEG Audio", Lines{}, 0, 0xC0, 0},
      {tone + "-c:a libmp3lame -f mp3 $OUT", "MPEG Audio", Lines{"ID3-Tag", "Xing"}, 0, 0xC0, 1},
      {tone + "-ar 8000 -c:a libmp3lame -write_xing 0 -id3v2_version 0 -f mp3 $OUT", "MPEG Audio",
       Lines{"Version 2.5"}, 0, 0xC0, 0},
      {gstVideo + "mpegtsmux ! filesink location=$OUT", "MPEG-2 Transport Stream", Lines{}, 0, 0,
       0},
      {gstVideo + "mpegpsmux ! filesink location=$OUT", "MPEG-2 Program Stream", Lines{}, 0xE0, 0,
       0},
      {"ffmpeg -v error -f lavfi -i testsrc=d=2:s=176x144:r=25 -c:v mpeg1video -f mpeg1video "
       "$OUT.m1v "
       "&& ffmpeg -v error -f lavfi -i sine=d=2 -c:a mp2 $OUT.mp2 && mplex -v 0 -f 3 -r 2000 -o "
       "$OUT "
       "$OUT.m1v $OUT.mp2",
       "MPEG-2 Program Stream", Lines{}, 0xE0, 0xC0, 0},
      {"ffmpeg -v error -f lavfi -i testsrc=d=2:s=176x144:r=25 -f lavfi -i sine=d=2 -c:v "
       "mpeg1video "
       "-c:a mp2 -f mpeg $OUT.src && mencoder -really-quiet -of mpeg -ovc lavc -lavcopts "
       "vcodec=mpeg1video -oac mp3lame $OUT.src -o $OUT 2>/dev/null",
       "MPEG-2 Program Stream", Lines{}, 0xE0, 0, 0},
  };
  testsupport::ScratchDir dir;
  int made = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.command);
    bool installed = testsupport::Installed("ffprobe");
    for (const char* tool : {"gst-launch-1.0", "mplex", "mencoder"}) {
      if (row.command.find(tool) != std::string::npos) installed &= testsupport::Installed(tool);
    }
    if (row.command.find("mpeg2enc !") != std::string::npos) {
      installed &= std::system("gst-inspect-1.0 mpeg2enc >/dev/null 2>&1") == 0;
    }
    if (!installed) continue;
    const std::string path = dir.File(std::to_string(made++));
    std::string command = row.command;
    for (size_t at; (at = command.find("$OUT")) != std::string::npos;) command.replace(at, 4, path);
    ASSERT_EQ(0, std::system(command.c_str()));
    const ParseRun run = testsupport::RunParserOnFile<CMPGParser>(path, Options(2, 1000000));
    ExpectEnding(run, kValid, row.type, {});
    ExpectTexts(run.lines, row.texts);
    std::map<int, long> chunks = SummaryChunks(run.lines);
    std::map<std::string, long> frames = ProbedFrames(path);
    if (row.videoId) {
      EXPECT_EQ(frames["video"], chunks[row.videoId]);
    }
    if (row.audioId) {
      EXPECT_EQ(frames["audio"] + row.extraAudio, chunks[row.audioId]);
    }
  }
  if (made == 0) GTEST_SKIP() << "no producer installed";
}

// Extracting the video PID yields the elementary stream ffmpeg copies out.
TEST(CMPGParserTest, ExtractedVideoIsWhatFfmpegCopies) {
  if (!testsupport::Installed("ffmpeg")) GTEST_SKIP() << "ffmpeg not installed";
  testsupport::ScratchDir dir;
  const std::string ts = dir.File("in.ts");
  ASSERT_EQ(0, std::system(("ffmpeg -v error -f lavfi -i testsrc=d=3:s=320x240:r=25 -f lavfi -i "
                            "sine=d=3 -c:v mpeg2video -c:a mp2 -f mpegts " +
                            ts +
                            " && ffmpeg -v "
                            "error -i " +
                            ts + " -map 0:v -c copy -f mpeg2video " + dir.File("ref.m2v"))
                               .c_str()));
  RunOptions options = Options();
  options.writer.strippedStreams = {0x100};
  testsupport::RunParserOnFile<CMPGParser>(ts, options, nullptr, dir.File("out.m2v"));
  const Bytes expected = testsupport::ReadFile(dir.File("ref.m2v"));
  ASSERT_FALSE(expected.empty());
  EXPECT_TRUE(expected == testsupport::ReadFile(dir.File("out.m2v")));
}

// Cut at many places, garbage of odd length put in, fields overwritten:
// every run ends with a verdict, and extraction too.
TEST(CMPGParserTest, DamagedStreamsEndWithAVerdict) {
  const Bytes pack = Mpeg2Pack(90000);
  std::vector<Bytes> files = {
      Concat({pack, SystemHeader({0xE0, 0xC0}), Pes(0xE0, FullPesBody()),
              Pes(0xE0, Mpeg2PesBody({0, 0, 1, 0xB3, 0x0B, 0x00, 0x90, 0x13})), Code(0xB9)}),
      Concat({TsPacket(0, true, 0, Pat(0x1000)),
              TsPacket(0x100, true, 0, PesStart(0xE0, Mpeg2PesBody({0, 0, 1, 0xB3}))),
              TsPacket(0x100, false, 1, {1, 2, 3}, Concat({{20}, Bytes(20, 0xFF)}))}),
  };
  std::vector<Bytes> damaged;
  for (const Bytes& file : files) {
    for (size_t at = 1; at < file.size(); at += 7) {
      damaged.emplace_back(file.begin(), file.begin() + at);
      Bytes garbled = file;
      garbled.insert(garbled.begin() + at, {0, 0, 1});
      damaged.push_back(garbled);
      Bytes overwritten = file;
      overwritten[at] = 0xFF;
      overwritten[at - 1] ^= 0x5A;
      damaged.push_back(overwritten);
    }
  }
  RunOptions extract = Options(5);
  extract.writer.strippedStreams = {0x100};
  for (const Bytes& bytes : damaged) {
    SCOPED_TRACE(bytes.size());
    for (const RunOptions& options : {Options(5), extract}) {
      testsupport::ScratchDir dir;
      const ParseRun run = testsupport::RunParserOnFile<CMPGParser>(
          dir.Write("in.mpg", bytes), options, nullptr,
          options.writer.strippedStreams.empty() ? "" : dir.File("out"));
      EXPECT_TRUE(std::any_of(run.lines.begin(), run.lines.end(), [](const std::string& line) {
        return line.find("This MPEG file is of type") != std::string::npos;
      }));
    }
  }
}

}  // namespace
