// The video elementary-stream parser: units built bit by bit, fed whole or
// cut at every byte, damaged units, and streams of a real encoder.

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "AllocationProbe.h"
#include "TestSupport.h"
#include "mpeg/CMPGESVideoParser.h"

namespace {

using testsupport::Bytes;
using testsupport::Concat;
using Lines = std::vector<std::string>;

// MSB-first bits, padded with zeros to the byte.
class Bits {
 public:
  Bits& Put(uint64_t value, unsigned count) {
    for (unsigned i = count; i-- > 0;) {
      if (used_ % 8 == 0) bytes_.push_back(0);
      if ((value >> i) & 1) bytes_.back() |= static_cast<uint8_t>(0x80 >> (used_ % 8));
      ++used_;
    }
    return *this;
  }
  Bytes Unit(uint8_t code) const { return Concat({{0, 0, 1, code}, bytes_}); }

 private:
  Bytes bytes_;
  unsigned used_ = 0;
};

Bytes SequenceHeader(uint32_t aspect = 2, uint32_t rate = 3, uint32_t marker = 1,
                     bool intraMatrix = false) {
  Bits bits;
  bits.Put(720, 12).Put(576, 12).Put(aspect, 4).Put(rate, 4).Put(15000, 18).Put(marker, 1);
  bits.Put(112, 10).Put(0, 1).Put(intraMatrix, 1);
  for (int i = 0; intraMatrix && i < 64; ++i) bits.Put(8 + i, 8);
  return bits.Put(0, 1).Unit(0xB3);
}

Bytes Picture(uint32_t type, uint32_t temporal = 0) {
  Bits bits;
  bits.Put(temporal, 10).Put(type, 3).Put(0xFFFF, 16);
  if (type == 2 || type == 3) bits.Put(0, 1).Put(5, 3);
  if (type == 3) bits.Put(1, 1).Put(7, 3);
  return bits.Put(0, 1).Unit(0x00);
}

Bytes Gop(uint32_t marker = 1) {
  return Bits().Put(0, 1).Put(1, 5).Put(2, 6).Put(marker, 1).Put(3, 6).Put(4, 6).Put(3, 2).Unit(
      0xB8);
}

Bytes SequenceExtension(uint32_t profileAndLevel = 0x48) {
  return Bits()
      .Put(1, 4)
      .Put(profileAndLevel, 8)
      .Put(0, 1)
      .Put(1, 2)
      .Put(0, 4)
      .Put(0, 12)
      .Put(1, 1)
      .Put(0, 8)
      .Put(0, 1)
      .Put(0, 7)
      .Unit(0xB5);
}

Bytes PictureCodingExtension(bool composite = false, uint32_t stuffing = 0) {
  Bits bits;
  bits.Put(8, 4).Put(0x1234, 16).Put(0, 2).Put(3, 2).Put(0x101, 9).Put(composite, 1);
  if (composite) bits.Put(1, 1).Put(2, 3).Put(1, 1).Put(9, 7).Put(200, 8);
  return bits.Put(stuffing, composite ? 2 : 6).Unit(0xB5);
}

Bytes Slice(uint8_t row = 5) { return Bits().Put(9, 5).Put(0, 1).Put(0x5A5A, 16).Unit(row); }

struct VideoRun {
  Lines lines;
  uint32_t chunks = 0;
  uint32_t packets = 0;
  std::string text;
  bool textSet = false;
  uint32_t iPictures = 0;
  CMPGParser::FileType fileType = CMPGParser::kUnknown;
};

// Hands `payloads` to one parser, one call each, as consecutive file bytes.
// `gap` bytes (PES headers) lie between payloads.
VideoRun Feed(const std::vector<Bytes>& payloads, uint32_t verbosity = 2, bool packetized = true,
              uint64_t gap = 0) {
  std::ostringstream out;
  std::ostringstream err;
  RunOptions options;
  options.report.verbosity = verbosity;
  VideoRun run;
  {
    ReportOutput output(out, err, ConsoleState());
    CMPGParser owner(options, output);
    CMPGParser::CMPGESVideoParser parser(owner);
    uint64_t position = 0;
    for (const Bytes& payload : payloads) {
      EXPECT_TRUE(parser.Parse(payload.data(), payload.size(), position, packetized, 1));
      position += payload.size() + gap;
    }
    run.chunks = parser.chunks;
    run.packets = parser.packets;
    run.text = parser.text;
    run.textSet = parser.textSet;
    run.iPictures = parser.IPictures();
    run.fileType = owner.GetFileType();
    output.Flush();
  }
  run.lines = testsupport::SplitLines(out.str());
  return run;
}

Lines Trimmed(const Lines& lines) {
  Lines trimmed;
  for (const std::string& line : lines) trimmed.push_back(testsupport::Trimmed(line));
  return trimmed;
}

// The lines that do not tell how the bytes arrived.
Lines UnitLines(const Lines& lines) {
  Lines kept;
  for (const std::string& line : Trimmed(lines)) {
    if (line.rfind("Buffer", 0) != 0 && line.rfind("Skipping", 0) != 0) kept.push_back(line);
  }
  return kept;
}

uint64_t SkippedBytes(const Lines& lines) {
  uint64_t total = 0;
  for (const std::string& line : Trimmed(lines)) {
    if (line.rfind("Skipping (", 0) == 0) total += std::stoull(line.substr(line.find("S:") + 2));
  }
  return total;
}

TEST(CMPGESVideoParserTest, FieldLinesCarryTheirTablesAndLevels) {
  struct Row {
    const char* name;
    std::vector<Bytes> units;
    uint32_t verbosity;
    Lines present;
    Lines absent;
  };
  const Row rows[] = {
      {"sequence header",
       {SequenceHeader()},
       2,
       {"0xb3 (12): Sequence Header Code", "Horizontal Size: 720", "Vertical Size: 576",
        "Aspect Ratio: 2 (4:3)", "Frame Rate: 3 (25 fps)", "Bit Rate: 15000",
        "VBV Buffer Size: 112", "load_non_intra_quantiser_matrix: 0"},
       {"QMatrix:"}},
      {"sequence fields hidden below level 2",
       {SequenceHeader()},
       1,
       {"0xb3 (12): Sequence Header Code"},
       {"Horizontal Size:"}},
      {"forbidden aspect, reserved rate",
       {SequenceHeader(0, 9)},
       2,
       {"Aspect Ratio: 0 (forbidden)", "Frame Rate: 9 (reserved)"},
       {}},
      {"NTSC rate",
       {SequenceHeader(3, 4)},
       2,
       {"Aspect Ratio: 3 (16:9)", "Frame Rate: 4 (30000/1001 (29.97 fps))"},
       {}},
      {"matrix read past",
       {SequenceHeader(2, 3, 1, true)},
       4,
       {"0xb3 (S:76, P:0): Sequence Header Code", "load_intra_quantiser_matrix: 1",
        "QMatrix: 8 9 10", "load_non_intra_quantiser_matrix: 0"},
       {}},
      {"main profile at main level",
       {SequenceExtension()},
       2,
       {"Extension Type: 1 (Sequence Extension)", "Profile and Level: 72", "Escape Bit: 0",
        "Profile: 4 (Main)", "Level: 8 (Main)", "Chroma Format: 1", "Frame Rate Extension d: 0"},
       {}},
      {"reserved level",
       {SequenceExtension(0x15)},
       2,
       {"Profile: 1 (High)", "Level: 5 (Reserved)"},
       {}},
      {"B picture",
       {Picture(3, 9)},
       2,
       {"0x00 (9): Picture Start Code", "Temporal Sequence Nr: 9", "Frame Type: 3 (B-Frame)",
        "VBV Delay: 65535", "forward_f_code: 5", "full_pel_backward_vector: 1",
        "backward_f_code: 7"},
       {"Additional Data:"}},
      {"D picture", {Picture(4)}, 2, {"Frame Type: 4 (Undefined)"}, {"forward_f_code:"}},
      {"extra picture bytes",
       {Bits().Put(0, 10).Put(1, 3).Put(0, 16).Put(1, 1).Put(171, 8).Put(1, 1).Put(3, 8).Unit(0)},
       2,
       {"Additional Data: 171 3"},
       {}},
      {"time code at level 3",
       {Gop()},
       3,
       {"0xb8 (S:8, P:0): GOP Start Code", "Drop Frame Flag: 0", "Timecode: 01:02:03:04",
        "Closed GOP Flag: 1", "Broken GOP Flag: 1"},
       {}},
      {"time code hidden at level 2", {Gop()}, 2, {"0xb8 (8): GOP Start Code"}, {"Timecode:"}},
      {"display extension",
       {Bits()
            .Put(2, 4)
            .Put(2, 3)
            .Put(1, 1)
            .Put(1, 8)
            .Put(1, 8)
            .Put(6, 8)
            .Put(704, 14)
            .Put(1, 1)
            .Put(480, 14)
            .Unit(0xB5)},
       2,
       {"Video Format: 2 (NTSC)", "Color Description Flag: 1", "Matrix Coefficients: 6",
        "Display Horizontal Size: 704", "Display Vertical Size: 480"},
       {}},
      {"component video",
       {Bits().Put(2, 4).Put(0, 3).Put(0, 1).Put(0, 29).Unit(0xB5)},
       2,
       {"Video Format: 0 (reserved)"},
       {"Color Primaries:"}},
      {"spatial scalability",
       {Bits()
            .Put(5, 4)
            .Put(1, 2)
            .Put(3, 4)
            .Put(352, 14)
            .Put(1, 1)
            .Put(288, 14)
            .Put(1, 5)
            .Put(2, 5)
            .Put(3, 5)
            .Put(4, 5)
            .Unit(0xB5)},
       2,
       {"scalable_mode: 1", "layer: 3", "lower_layer_prediction_v_size: 288",
        "v_subsampling_facter_n: 4"},
       {"pixture_mux_order:"}},
      {"temporal scalability",
       {Bits().Put(5, 4).Put(3, 2).Put(0, 4).Put(1, 1).Put(1, 1).Put(6, 3).Put(5, 3).Unit(0xB5)},
       2,
       {"picture_mux_enable: 1", "mux_to_progressive_sequence: 1", "pixture_mux_order: 6",
        "pixture_mux_facter: 5"},
       {}},
      {"picture coding extension",
       {PictureCodingExtension()},
       2,
       {"f_code[0][0] (forward horizontal): 1", "f_code[1][1] (backward vertical): 4",
        "picture_structure: 3", "Top_Field_First: 1", "progressive_frame: 1",
        "composite_display: 0"},
       {"v_axis:"}},
      {"composite display",
       {PictureCodingExtension(true)},
       2,
       {"field_sequence: 2", "burst_amplitude: 9", "sub_carrier_phase: 200"},
       {}},
      {"types that are named only",
       {Bits().Put(4, 4).Put(0, 4).Unit(0xB5)},
       2,
       {"Extension Type: 4 (Copyright Extension)"},
       {}},
      {"slice at level 4",
       {Slice()},
       4,
       {"0x05 (S:7, P:0): Video Slice", "Slice Vertical Position: 5", "quantiser_scale_code: 9",
        "Intra Slice Flag: 0"},
       {"Priority Breakpoint:"}},
      {"slice hidden at level 3", {Slice()}, 3, {}, {"Video Slice"}},
      {"intra slice with extra bytes",
       {Bits().Put(2, 5).Put(1, 1).Put(1, 1).Put(0, 7).Put(1, 1).Put(77, 8).Put(0, 1).Unit(0x21)},
       4,
       {"Intra Slice: 1", "Extra Information Slice: 77"},
       {}},
      {"priority breakpoint once data-partitioned",
       {Bits().Put(5, 4).Put(0, 2).Put(0, 4).Unit(0xB5), Bits().Put(100, 7).Put(9, 5).Unit(1)},
       4,
       {"Priority Breakpoint: 100", "quantiser_scale_code: 9"},
       {}},
      {"user data",
       {Concat({{0, 0, 1, 0xB2}, testsupport::TextBytes("CC1text")})},
       3,
       {"0xb2 (S:11, P:0): User Data Start Code", "\"CC1text\""},
       {}},
      {"reserved and end codes",
       {{0, 0, 1, 0xB0}, {0, 0, 1, 0xB7}, {0, 0, 1, 0xB9}},
       2,
       {"0xb0 (4): Reserved", "0xb7 (4): Sequence End Code", "0xb9 (4): Program End Code"},
       {}},
      {"system start code", {{0, 0, 1, 0xBA, 1, 2}}, 2, {"Header (6)"}, {"0xba"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    // A last start code ends the final unit.
    VideoRun run = Feed({Concat({Concat(row.units), {0, 0, 1, 0xB7}})}, row.verbosity);
    testsupport::ExpectTexts(run.lines, row.present, row.absent);
  }
}

TEST(CMPGESVideoParserTest, DamagedUnitsAreTold) {
  struct Row {
    const char* name;
    Bytes stream;
    Lines messages;
  };
  const Row rows[] = {
      {"clean stream",
       Concat({SequenceHeader(), SequenceExtension(), Gop(), Picture(1), PictureCodingExtension(),
               Slice()}),
       {}},
      {"sequence marker", SequenceHeader(2, 3, 0), {"*** Warning: Wrong marker, expected 1"}},
      {"time code marker", Gop(0), {"*** Warning: Wrong marker, expected 1"}},
      {"stuffing after picture coding",
       PictureCodingExtension(false, 4),
       {"*** Warning: Wrong marker, expected 000000"}},
      {"stuffing after composite display",
       PictureCodingExtension(true, 1),
       {"*** Warning: Wrong marker, expected 00"}},
      {"undefined extension",
       Bits().Put(6, 4).Put(0, 4).Unit(0xB5),
       {"*** Error: Unexpected Extension Type: 6"}},
      {"cut sequence header",
       Bytes{0, 0, 1, 0xB3, 0x2D, 0x02},
       {"*** Error: Unit ends inside its header!"}},
      {"cut picture", Bytes{0, 0, 1, 0x00, 0x00}, {"*** Error: Unit ends inside its header!"}},
      {"system start code", Bytes{0, 0, 1, 0xBB, 0, 0}, {"*** Error: Unknown Marker in ES Packet"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    VideoRun run = Feed({Concat({row.stream, {0, 0, 1, 0xB7}})}, 4);
    EXPECT_EQ(Trimmed(testsupport::MessageLines(run.lines)), row.messages);
  }
}

TEST(CMPGESVideoParserTest, SplitSequenceHeaderIsReportedOnceAfterItsJoin) {
  const Bytes header = SequenceHeader();
  const Bytes first(header.begin(), header.begin() + 7);
  const Bytes second = Concat({Bytes(header.begin() + 7, header.end()), Picture(1)});
  VideoRun packets = Feed({first, second}, 3);
  testsupport::ExpectInOrder(packets.lines,
                             {"Buffering (S:7, P:0)", "Buffered (S:7, P:0)",
                              "0xb3 (S:12, P:0): Sequence Header Code", "Horizontal Size: 720"});
  EXPECT_EQ(testsupport::CountText(packets.lines, "Horizontal Size:"), 1u);
  EXPECT_EQ(packets.fileType, CMPGParser::kMpeg2Program);
  EXPECT_EQ(packets.packets, 2u);

  // A slice's joins are slice lines, hidden with them.
  const Bytes slice = Slice();
  VideoRun hidden = Feed({Bytes(slice.begin(), slice.begin() + 5),
                          Concat({Bytes(slice.begin() + 5, slice.end()), Picture(1)})},
                         3);
  testsupport::ExpectTexts(hidden.lines, {"Buffering (S:8, P:7)"},
                           {"Buffering (S:5", "Buffered (S:5", "Video Slice"});

  // A start code cut after its zeros, between payloads 14 bytes apart: the
  // unit starts where its zeros were.
  VideoRun cutCode = Feed({Concat({Picture(1), {0, 0}}), Bytes(header.begin() + 2, header.end()),
                           Concat({Picture(2), {0, 0, 1, 0xB7}})},
                          3, true, 14);
  testsupport::ExpectTexts(cutCode.lines, {"0x00 (S:8, P:0): Picture Start Code",
                                           "0xb3 (S:12, P:8): Sequence Header Code",
                                           "0x00 (S:9, P:48): Picture Start Code"});

  // The blocks of an elementary-stream file are joined without a word.
  VideoRun blocks = Feed({first, second}, 3, false);
  testsupport::ExpectTexts(blocks.lines, {"0xb3 (S:12, P:0): Sequence Header Code"},
                           {"Buffering", "Buffered"});
}

// Every way of cutting a stream in two, and byte by byte, gives the units of
// the whole stream, with their file positions, and skips the same bytes.
TEST(CMPGESVideoParserTest, EveryCutGivesTheUnitsOfTheWholeStream) {
  const Bytes stream = Concat({{0xAA, 0x00, 0x00},
                               SequenceHeader(),
                               SequenceExtension(),
                               Gop(),
                               Picture(1),
                               PictureCodingExtension(),
                               Bytes{0, 0, 1, 0xB2, 0, 0, 0},
                               Slice(1),
                               Bytes{0, 0},
                               Slice(2),
                               Picture(2, 3),
                               Slice(1),
                               Picture(3, 1),
                               Slice(1),
                               {0, 0, 1, 0xB7}});
  const VideoRun whole = Feed({stream}, 4);
  const Lines expected = UnitLines(whole.lines);
  ASSERT_EQ(whole.chunks, 3u);
  ASSERT_EQ(SkippedBytes(whole.lines), 3u);
  ASSERT_TRUE(testsupport::HasText(whole.lines, "0x01 (S:9, P:57): Video Slice"));
  for (size_t cut = 1; cut < stream.size(); ++cut) {
    SCOPED_TRACE("cut at " + std::to_string(cut));
    for (bool packetized : {true, false}) {
      VideoRun run = Feed(
          {Bytes(stream.begin(), stream.begin() + cut), Bytes(stream.begin() + cut, stream.end())},
          4, packetized);
      EXPECT_EQ(UnitLines(run.lines), expected);
      EXPECT_EQ(SkippedBytes(run.lines), 3u);
      EXPECT_EQ(run.chunks, 3u);
    }
  }
  std::vector<Bytes> bytes;
  for (uint8_t byte : stream) bytes.push_back({byte});
  VideoRun single = Feed(bytes, 4);
  EXPECT_EQ(UnitLines(single.lines), expected);
  EXPECT_EQ(SkippedBytes(single.lines), 3u);
  EXPECT_EQ(single.packets, stream.size());
}

TEST(CMPGESVideoParserTest, LongPendingUnitKeepsItsLengthNotItsBytes) {
  // A slice of 300,000 bytes with no start code in it, in PES-sized pieces.
  std::vector<Bytes> payloads = {Concat({Slice(1), Bytes(2000 - 7, 0x11)})};
  for (int i = 1; i < 150; ++i) payloads.push_back(Bytes(2000, 0x11));
  payloads.push_back(Picture(1));
  testsupport::AllocationProbe probe;
  VideoRun run = Feed(payloads, 4);
  EXPECT_LE(probe.LargestRequest(), 2 * CMPGParser::CMPGESVideoParser::kKeptUnitBytes);
  testsupport::ExpectTexts(
      run.lines,
      {"Buffered (S:300000, P:0)", "0x01 (S:300000, P:0): Video Slice", "quantiser_scale_code: 9"});
  // One per piece of the slice, and one for the picture that ends it.
  EXPECT_EQ(testsupport::CountText(run.lines, "Buffering"), 151u);
}

TEST(CMPGESVideoParserTest, PicturePatternStopsAtFiftyCharacters) {
  struct Row {
    const char* name;
    std::vector<uint32_t> types;
    std::string pattern;
    uint32_t iPictures;
  };
  const std::vector<uint32_t> gop = {1, 3, 3, 2, 3, 3, 2, 3, 3, 2, 3, 3};  // " IBBPBBPBBPBB"
  std::vector<uint32_t> longRun;
  for (int i = 0; i < 5; ++i) longRun.insert(longRun.end(), gop.begin(), gop.end());
  std::string allI;
  for (int i = 0; i < 25; ++i) allI += " I";
  const Row rows[] = {
      {"one group", gop, " IBBPBBPBBPBB", 1},
      {"undefined types", {1, 4, 0, 2}, " I??P", 1},
      {"five groups", longRun, " IBBPBBPBBPBB IBBPBBPBBPBB IBBPBBPBBPBB IBBPBBPBBP", 5},
      {"only I pictures", std::vector<uint32_t>(30, 1), allI, 30},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Bytes stream;
    for (uint32_t type : row.types) stream = Concat({stream, Picture(type)});
    VideoRun run = Feed({Concat({stream, {0, 0, 1, 0xB7}})}, 1);
    EXPECT_EQ(run.text, row.pattern);
    EXPECT_TRUE(run.textSet);
    EXPECT_LE(run.text.size(), CMPGParser::CMPGESVideoParser::kPatternLength);
    EXPECT_EQ(run.iPictures, row.iPictures);
    EXPECT_EQ(run.chunks, row.types.size());
  }
}

TEST(CMPGESVideoParserTest, HostileBytesInAnyPiecesEndEveryCall) {
  // Start codes of every kind scattered in noise, cut at odd places.
  uint32_t seed = 12345;
  auto next = [&seed] { return seed = seed * 1103515245u + 12345u; };
  Bytes noise;
  for (int i = 0; i < 200000; ++i) {
    if (next() % 50 == 0) noise.insert(noise.end(), {0, 0, 1});
    noise.push_back(static_cast<uint8_t>(next() >> 16));
  }
  for (bool packetized : {true, false}) {
    std::vector<Bytes> pieces;
    for (size_t at = 0; at < noise.size();) {
      const size_t size = std::min<size_t>(noise.size() - at, 1 + next() % 3000);
      pieces.emplace_back(noise.begin() + at, noise.begin() + at + size);
      at += size;
    }
    VideoRun run = Feed(pieces, 6, packetized);
    EXPECT_EQ(run.packets, pieces.size());
    EXPECT_LE(run.text.size(), CMPGParser::CMPGESVideoParser::kPatternLength);
  }
}

// Streams of a real encoder: every picture it wrote is counted, and none of
// its units is called damaged.
TEST(CMPGESVideoParserTest, EncoderStreamsCountEveryPicture) {
  if (!testsupport::Installed("ffmpeg") || !testsupport::Installed("ffprobe")) {
    GTEST_SKIP() << "ffmpeg is not installed";
  }
  struct Row {
    const char* codec;
    const char* extension;
    const char* firstExtension;
  };
  const Row rows[] = {
      {"mpeg2video", "m2v", "Extension Type: 1 (Sequence Extension)"},
      {"mpeg1video", "m1v", "0xb8 (8): GOP Start Code"},
  };
  testsupport::ScratchDir dir;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.codec);
    const std::string path = dir.File(std::string("clip.") + row.extension);
    testsupport::RunCommand("ffmpeg -v error -f lavfi -i testsrc=size=352x288:rate=25 -t 3 -c:v " +
                            std::string(row.codec) + " -bf 2 -g 12 -b:v 2M -y " + path);
    const Bytes stream = testsupport::ReadFile(path);
    ASSERT_GT(stream.size(), 1000u);
    const std::string counted = testsupport::RunCommand(
        "ffprobe -v error -count_frames -select_streams v:0 -show_entries "
        "stream=nb_read_frames -of csv=p=0 " +
        path);
    const uint32_t frames = static_cast<uint32_t>(std::stoul(counted));

    std::vector<Bytes> blocks;
    for (size_t at = 0; at < stream.size(); at += 1 << 20) {
      blocks.emplace_back(stream.begin() + at,
                          stream.begin() + std::min(stream.size(), at + (1 << 20)));
    }
    VideoRun file = Feed(blocks, 2, false);
    EXPECT_EQ(file.chunks, frames);
    EXPECT_EQ(file.fileType, CMPGParser::kMpeg2Program);
    EXPECT_EQ(file.text.substr(0, 2), " I");
    EXPECT_TRUE(testsupport::HasText(file.lines, row.firstExtension));
    EXPECT_EQ(testsupport::MessageLines(file.lines), Lines());

    std::vector<Bytes> pieces;
    for (size_t at = 0; at < stream.size(); at += 2017) {
      pieces.emplace_back(stream.begin() + at, stream.begin() + std::min(stream.size(), at + 2017));
    }
    VideoRun packets = Feed(pieces, 4, true);
    EXPECT_EQ(packets.chunks, frames);
    EXPECT_EQ(testsupport::MessageLines(packets.lines), Lines());
    EXPECT_EQ(UnitLines(packets.lines), UnitLines(Feed({stream}, 4, false).lines));
  }
}

}  // namespace
