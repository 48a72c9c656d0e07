// The video elementary-stream parser: units built bit by bit, fed whole or
// cut at every byte, damaged units, and streams of a real encoder.

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "AllocationProbe.h"
#include "TestSupport.h"
#include "mpeg/CMPGESVideoParser.h"

namespace {

using testsupport::Bytes;
using testsupport::Concat;
using Lines = std::vector<std::string>;
using Fields = std::vector<std::pair<uint64_t, unsigned>>;  // value, bit count

// A unit: its start code, then the fields MSB first, zero-padded to the byte.
Bytes Unit(uint8_t code, const Fields& fields) {
  Bytes bytes = {0, 0, 1, code};
  unsigned used = 0;
  for (const auto& [value, count] : fields) {
    for (unsigned i = count; i-- > 0; ++used) {
      if (used % 8 == 0) bytes.push_back(0);
      if ((value >> i) & 1) bytes.back() |= static_cast<uint8_t>(0x80 >> (used % 8));
    }
  }
  return bytes;
}

Bytes SequenceHeader(uint64_t aspect = 2, uint64_t rate = 3, uint64_t marker = 1,
                     bool matrix = false) {
  Fields fields = {{720, 12},   {576, 12}, {aspect, 4}, {rate, 4},  {15000, 18},
                   {marker, 1}, {112, 10}, {0, 1},      {matrix, 1}};
  for (int i = 0; matrix && i < 64; ++i) fields.push_back({8 + i, 8});
  fields.push_back({0, 1});
  return Unit(0xB3, fields);
}
Bytes Picture(uint64_t type, uint64_t temporal = 0) {
  Fields fields = {{temporal, 10}, {type, 3}, {0xFFFF, 16}};
  if (type == 2 || type == 3) fields.insert(fields.end(), {{0, 1}, {5, 3}});
  if (type == 3) fields.insert(fields.end(), {{1, 1}, {7, 3}});
  return Unit(0x00, fields);
}
Bytes Gop(uint64_t marker = 1) {
  return Unit(0xB8, {{0, 1}, {1, 5}, {2, 6}, {marker, 1}, {3, 6}, {4, 6}, {3, 2}});
}
Bytes SequenceExtension(uint64_t profileAndLevel = 0x48) {
  return Unit(0xB5, {{1, 4}, {profileAndLevel, 8}, {0, 1}, {1, 2}, {0, 16}, {1, 1}, {0, 16}});
}
Bytes CodingExtension(bool composite = false, uint64_t stuffing = 0) {
  Fields fields = {{8, 4}, {0x1234, 16}, {0, 2}, {3, 2}, {0x101, 9}, {composite, 1}};
  if (composite) fields.insert(fields.end(), {{1, 1}, {2, 3}, {1, 1}, {9, 7}, {200, 8}});
  fields.push_back({stuffing, composite ? 2u : 6u});
  return Unit(0xB5, fields);
}
Bytes Slice(uint8_t row = 5) { return Unit(row, {{9, 5}, {0, 1}, {0x5A5A, 16}}); }
const Bytes kEnd = {0, 0, 1, 0xB7};

std::vector<Bytes> Pieces(const Bytes& bytes, size_t size) {
  std::vector<Bytes> pieces;
  for (size_t at = 0; at < bytes.size(); at += size) {
    pieces.emplace_back(bytes.begin() + at, bytes.begin() + std::min(bytes.size(), at + size));
  }
  return pieces;
}

struct VideoRun {
  Lines lines;
  uint32_t chunks = 0;
  uint32_t packets = 0;
  std::string text;
  bool textSet = false;
  uint32_t iPictures = 0;
  CMPGParser::FileType fileType = CMPGParser::kUnknown;
};

// Hands `payloads` to one parser, one call each, `gap` bytes (PES headers)
// apart in the file.
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
    run = {{},
           parser.chunks,
           parser.packets,
           parser.text,
           parser.textSet,
           parser.IPictures(),
           owner.GetFileType()};
    output.Flush();
  }
  for (const std::string& line : testsupport::SplitLines(out.str())) {
    run.lines.push_back(testsupport::Trimmed(line));
  }
  return run;
}

// The lines that do not tell how the bytes arrived, and the bytes skipped.
Lines UnitLines(const Lines& lines) {
  Lines kept;
  std::copy_if(lines.begin(), lines.end(), std::back_inserter(kept), [](const std::string& line) {
    return line.rfind("Buffer", 0) != 0 && line.rfind("Skipping", 0) != 0;
  });
  return kept;
}
uint64_t SkippedBytes(const Lines& lines) {
  uint64_t total = 0;
  for (const std::string& line : lines) {
    if (line.rfind("Skipping (S:", 0) == 0) total += std::stoull(line.substr(12));
  }
  return total;
}

TEST(CMPGESVideoParserTest, FieldLinesCarryTheirTablesAndLevels) {
  struct Row {
    const char* name;
    Bytes units;
    uint32_t verbosity;
    Lines present;
    Lines absent = {};
  };
  const Row rows[] = {
      {"sequence header", SequenceHeader(), 2,
       Lines{"0xb3 (12): Sequence Header Code", "Horizontal Size: 720", "Vertical Size: 576",
             "Aspect Ratio: 2 (4:3)", "Frame Rate: 3 (25 fps)", "Bit Rate: 15000",
             "VBV Buffer Size: 112", "load_non_intra_quantiser_matrix: 0"},
       Lines{"QMatrix:"}},
      {"level 1", SequenceHeader(), 1, {"0xb3 (12): Sequence Header Code"}, {"Horizontal Size:"}},
      {"level 2", Concat({SequenceHeader(0, 9), Gop(), Slice()}), 2,
       Lines{"Aspect Ratio: 0 (forbidden)", "Frame Rate: 9 (reserved)", "0xb8 (8): GOP Start Code"},
       Lines{"Timecode:", "Video Slice"}},
      {"level 4", Concat({SequenceHeader(3, 4, 1, true), Gop(), Slice()}), 4,
       Lines{"0xb3 (S:76, P:0): Sequence Header Code", "Aspect Ratio: 3 (16:9)",
             "Frame Rate: 4 (30000/1001 (29.97 fps))", "QMatrix: 8 9 10",
             "load_non_intra_quantiser_matrix: 0", "Timecode: 01:02:03:04", "Closed GOP Flag: 1",
             "Broken GOP Flag: 1", "0x05 (S:7, P:84): Video Slice", "quantiser_scale_code: 9",
             "Intra Slice Flag: 0"},
       Lines{"Priority Breakpoint:", "Intra Slice:"}},
      {"sequence extensions", Concat({SequenceExtension(), SequenceExtension(0x15)}), 2,
       Lines{"Extension Type: 1 (Sequence Extension)", "Profile and Level: 72", "Profile: 4 (Main)",
             "Level: 8 (Main)", "Chroma Format: 1", "Profile: 1 (High)", "Level: 5 (Reserved)"}},
      {"pictures",
       Concat({Picture(3, 9), Picture(4),
               Unit(0, {{0, 10}, {1, 3}, {0, 16}, {1, 1}, {171, 8}, {1, 1}, {3, 8}})}),
       2,
       Lines{"0x00 (9): Picture Start Code", "Temporal Sequence Nr: 9", "Frame Type: 3 (B-Frame)",
             "forward_f_code: 5", "full_pel_backward_vector: 1", "backward_f_code: 7",
             "Frame Type: 4 (Undefined)", "Additional Data: 171 3"}},
      {"display extensions",
       Concat({Unit(0xB5, {{2, 4}, {2, 3}, {1, 1}, {1, 16}, {6, 8}, {704, 14}, {1, 1}, {480, 14}}),
               Unit(0xB5, {{2, 4}, {0, 4}, {0, 29}})}),
       2,
       Lines{"Video Format: 2 (NTSC)", "Matrix Coefficients: 6", "Display Horizontal Size: 704",
             "Display Vertical Size: 480", "Video Format: 0 (reserved)"}},
      {"spatial scalability",
       Unit(0xB5, {{5, 4}, {1, 2}, {3, 4}, {352, 14}, {1, 1}, {288, 14}, {1, 15}, {4, 5}}), 2,
       Lines{"scalable_mode: 1", "layer: 3", "lower_layer_prediction_v_size: 288",
             "v_subsampling_facter_n: 4"},
       Lines{"pixture_mux_order:"}},
      {"temporal scalability", Unit(0xB5, {{5, 4}, {3, 2}, {0, 4}, {3, 2}, {6, 3}, {5, 3}}), 2,
       Lines{"mux_to_progressive_sequence: 1", "pixture_mux_order: 6", "pixture_mux_facter: 5"}},
      {"picture coding", Concat({CodingExtension(), CodingExtension(true)}), 2,
       Lines{"f_code[0][0] (forward horizontal): 1", "f_code[1][1] (backward vertical): 4",
             "picture_structure: 3", "Top_Field_First: 1", "progressive_frame: 1",
             "field_sequence: 2", "burst_amplitude: 9", "sub_carrier_phase: 200"}},
      {"slices",
       Concat({Unit(0x21, {{2, 5}, {1, 1}, {1, 1}, {0, 7}, {1, 1}, {77, 8}}),
               Unit(0xB5, {{5, 4}, {0, 6}}), Unit(1, {{100, 7}, {9, 5}})}),
       4, Lines{"Intra Slice: 1", "Extra Information Slice: 77", "Priority Breakpoint: 100"}},
      {"other units",
       Concat({{0, 0, 1, 0xB2},
               testsupport::TextBytes("CC1text"),
               {0, 0, 1, 0xB0},
               {0, 0, 1, 0xB9},
               {0, 0, 1, 0xBA, 1, 2}}),
       3,
       Lines{"0xb2 (S:11, P:0): User Data Start Code", "\"CC1text\"", "0xb0 (S:4, P:11): Reserved",
             "0xb9 (S:4, P:15): Program End Code", "Header (S:6, P:19)"},
       Lines{"0xba"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    VideoRun run = Feed({Concat({row.units, kEnd})}, row.verbosity);
    testsupport::ExpectTexts(run.lines, row.present, row.absent);
  }
}

TEST(CMPGESVideoParserTest, DamagedUnitsAreTold) {
  const std::pair<Bytes, Lines> rows[] = {
      {Concat({SequenceHeader(), SequenceExtension(), Gop(), Picture(1), CodingExtension()}), {}},
      {SequenceHeader(2, 3, 0), {"*** Warning: Wrong marker, expected 1"}},
      {Gop(0), {"*** Warning: Wrong marker, expected 1"}},
      {CodingExtension(false, 4), {"*** Warning: Wrong marker, expected 000000"}},
      {CodingExtension(true, 1), {"*** Warning: Wrong marker, expected 00"}},
      {Unit(0xB5, {{0x60, 8}}), {"*** Error: Unexpected Extension Type: 6"}},
      {{0, 0, 1, 0xB3, 0x2D, 0x02}, {"*** Error: Unit ends inside its header!"}},
      {{0, 0, 1, 0x00, 0x00}, {"*** Error: Unit ends inside its header!"}},
      {{0, 0, 1, 0xBB, 0, 0}, {"*** Error: Unknown Marker in ES Packet"}},
  };
  for (size_t row = 0; row < std::size(rows); ++row) {
    SCOPED_TRACE("row " + std::to_string(row));
    const VideoRun run = Feed({Concat({rows[row].first, kEnd})}, 4);
    EXPECT_EQ(testsupport::MessageLines(run.lines), rows[row].second);
  }
}

TEST(CMPGESVideoParserTest, SplitUnitsAreReportedOnceAfterTheirJoin) {
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
  // The blocks of an elementary-stream file are joined without a word.
  testsupport::ExpectTexts(Feed({first, second}, 3, false).lines,
                           {"0xb3 (S:12, P:0): Sequence Header Code"}, {"Buffering", "Buffered"});

  // A slice's joins are slice lines, hidden with them.
  const Bytes slice = Slice();
  VideoRun hidden = Feed(
      {Bytes(slice.begin(), slice.begin() + 5), Concat({{slice[5], slice[6]}, Picture(1)})}, 3);
  testsupport::ExpectTexts(hidden.lines, {"Buffering (S:8, P:7)"}, {"(S:5", "Video Slice"});

  // A start code cut after its zeros, payloads 14 bytes apart: the unit
  // starts where its zeros were.
  VideoRun cut = Feed({Concat({Picture(1), {0, 0}}), Bytes(header.begin() + 2, header.end()),
                       Concat({Picture(2), kEnd})},
                      3, true, 14);
  testsupport::ExpectTexts(
      cut.lines,
      {"0x00 (S:8, P:0): Picture Start Code", "0xb3 (S:12, P:8): Sequence Header Code",
       "0x00 (S:9, P:48): Picture Start Code"},
      {"Buffered (S:2"});
}

// Every way of cutting a stream in two, and byte by byte, gives the units of
// the whole stream, with their file positions, and skips the same bytes.
TEST(CMPGESVideoParserTest, EveryCutGivesTheUnitsOfTheWholeStream) {
  const Bytes stream = Concat({{0xAA, 0, 0},
                               SequenceHeader(),
                               SequenceExtension(),
                               Gop(),
                               Picture(1),
                               CodingExtension(),
                               {0, 0, 1, 0xB2, 0, 0, 0},
                               Slice(1),
                               {0, 0},
                               Slice(2),
                               Picture(2, 3),
                               Slice(1),
                               Picture(3, 1),
                               kEnd});
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
    }
  }
  VideoRun single = Feed(Pieces(stream, 1), 4);
  EXPECT_EQ(UnitLines(single.lines), expected);
  EXPECT_EQ(SkippedBytes(single.lines), 3u);
  EXPECT_EQ(single.chunks, 3u);
}

TEST(CMPGESVideoParserTest, LongPendingUnitKeepsItsLengthNotItsBytes) {
  // A slice of 300,000 bytes with no start code in it, in PES-sized pieces.
  std::vector<Bytes> payloads = Pieces(Concat({Slice(1), Bytes(300000 - 7, 0x11)}), 2000);
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
  const auto repeat = [](const std::string& text, int count) {
    std::string repeated;
    for (int i = 0; i < count; ++i) repeated += text;
    return repeated;
  };
  const std::string group = " IBBPBBPBBPBB";
  const std::tuple<std::string, std::string, uint32_t> rows[] = {
      {group, group, 1},
      {" I??P", " I??P", 1},  // D pictures
      {repeat(group, 5), repeat(group, 3) + " IBBPBBPBBP", 5},
      {repeat("I", 60), repeat(" I", 25), 60},
  };
  for (const auto& [types, pattern, iPictures] : rows) {
    SCOPED_TRACE(types);
    Bytes stream;
    for (char type : types) {
      if (type != ' ')
        stream = Concat({stream, Picture(type == '?' ? 4 : std::string(" IPB").find(type))});
    }
    VideoRun run = Feed({Concat({stream, kEnd})}, 1);
    EXPECT_EQ(run.text, pattern);
    EXPECT_TRUE(run.textSet);
    EXPECT_EQ(run.iPictures, iPictures);
  }
}

TEST(CMPGESVideoParserTest, HostileBytesInAnyPiecesEndEveryCall) {
  // Start codes of every kind scattered in noise, cut at odd places.
  uint32_t seed = 12345;
  auto next = [&seed] { return seed = seed * 1103515245u + 12345u; };
  Bytes noise;
  for (int i = 0; i < 100000; ++i) {
    if (next() % 50 == 0) noise.insert(noise.end(), {0, 0, 1});
    noise.push_back(static_cast<uint8_t>(next() >> 16));
  }
  for (size_t size : {1u, 7u, 1000u, 2017u}) {
    VideoRun run = Feed(Pieces(noise, size), 6, size % 2 == 1);
    EXPECT_EQ(run.packets, (noise.size() + size - 1) / size);
    EXPECT_LE(run.text.size(), CMPGParser::CMPGESVideoParser::kPatternLength);
  }
}

}  // namespace
