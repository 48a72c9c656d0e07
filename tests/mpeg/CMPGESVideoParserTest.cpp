// The video elementary-stream parser: units built bit by bit, fed whole or
// cut at every byte, damaged units, and hostile bytes.

#include <gtest/gtest.h>

#include <algorithm>
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
Bytes SequenceExtension() {
  return Unit(0xB5, {{1, 4}, {0x15, 8}, {0, 1}, {1, 2}, {0, 16}, {1, 1}, {0, 16}});
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
  uint32_t chunks = 0, packets = 0, iPictures = 0;
  std::string text;
  bool textSet = false;
  CMPGParser::FileType fileType = CMPGParser::kUnknown;
};

// Hands `payloads` to one parser, one call each, `gap` bytes (PES headers)
// apart in the file.
VideoRun Feed(const std::vector<Bytes>& payloads, uint32_t verbosity = 2, bool packetized = true,
              uint64_t gap = 0) {
  std::ostringstream out, err;
  RunOptions options;
  options.report.verbosity = verbosity;
  ReportOutput output(out, err, ConsoleState());
  CMPGParser owner(options, output);
  CMPGParser::CMPGESVideoParser parser(owner);
  uint64_t position = 0;
  for (const Bytes& payload : payloads) {
    EXPECT_TRUE(parser.Parse(payload.data(), payload.size(), position, packetized, 1));
    position += payload.size() + gap;
  }
  output.Flush();
  VideoRun run{{},          parser.chunks,  parser.packets,     parser.IPictures(),
               parser.text, parser.textSet, owner.GetFileType()};
  for (const std::string& line : testsupport::SplitLines(out.str()))
    run.lines.push_back(testsupport::Trimmed(line));
  return run;
}

// The unit lines of `payloads` fed at level 4, less those that tell how the
// bytes arrived, then the bytes skipped and the pictures counted.
Lines UnitLines(const std::vector<Bytes>& payloads) {
  const VideoRun run = Feed(payloads, 4);
  Lines kept;
  uint64_t skipped = 0;
  for (const std::string& line : run.lines) {
    if (line.rfind("Skipping (S:", 0) == 0) skipped += std::stoull(line.substr(12));
    if (line.rfind("Buffer", 0) != 0 && line.rfind("Skipping", 0) != 0) kept.push_back(line);
  }
  kept.push_back("skipped " + std::to_string(skipped) + ", pictures " + std::to_string(run.chunks));
  return kept;
}

TEST(CMPGESVideoParserTest, FieldLinesCarryTheirTablesAndLevels) {
  struct Row {
    const char* name;
    uint32_t verbosity;
    Bytes units;
    Lines present, absent = {};  // its "***" lines are all the messages, in order
  };
  const Row rows[] = {
      {"level 1", 1, SequenceHeader(), {"0xb3 (12): Sequence Header Code"}, {"Horizontal Size:"}},
      {"level 2", 2,
       Concat({SequenceHeader(0, 9), Gop(), Slice(), SequenceExtension(), Picture(3, 9), Picture(4),
               Unit(0, {{0, 10}, {1, 3}, {0, 16}, {1, 1}, {171, 8}, {1, 1}, {3, 8}})}),
       Lines{"Vertical Size: 576", "Aspect Ratio: 0 (forbidden)", "Frame Rate: 9 (reserved)",
             "VBV Buffer Size: 112", "0xb8 (8): GOP Start Code", "Profile: 1 (High)",
             "Level: 5 (Reserved)", "Chroma Format: 1", "Temporal Sequence Nr: 9",
             "Frame Type: 3 (B-Frame)", "forward_f_code: 5", "backward_f_code: 7",
             "Frame Type: 4 (Undefined)", "Additional Data: 171 3"},
       Lines{"QMatrix:", "Timecode:", "Video Slice"}},
      {"extensions", 2,
       Concat({Unit(0xB5, {{2, 4}, {2, 3}, {1, 1}, {1, 16}, {6, 8}, {704, 14}, {1, 1}, {480, 14}}),
               Unit(0xB5, {{2, 4}, {0, 4}, {0, 29}}), CodingExtension(), CodingExtension(true),
               Unit(0xB5, {{5, 4}, {1, 2}, {3, 4}, {352, 14}, {1, 1}, {288, 14}, {1, 15}, {4, 5}}),
               Unit(0xB5, {{5, 4}, {3, 2}, {0, 4}, {3, 2}, {6, 3}, {5, 3}})}),
       Lines{"Video Format: 2 (NTSC)", "Matrix Coefficients: 6", "Display Vertical Size: 480",
             "Video Format: 0 (reserved)", "*** Warning: Wrong marker, expected 1",
             "f_code[1][1] (backward vertical): 4", "picture_structure: 3", "progressive_frame: 1",
             "field_sequence: 2", "sub_carrier_phase: 200", "scalable_mode: 1", "layer: 3",
             "lower_layer_prediction_v_size: 288", "v_subsampling_facter_n: 4",
             "mux_to_progressive_sequence: 1", "pixture_mux_order: 6", "pixture_mux_facter: 5"}},
      {"level 4", 4, Concat({SequenceHeader(3, 4, 1, true), Gop(), Slice()}),
       Lines{"0xb3 (S:76, P:0): Sequence Header Code", "Frame Rate: 4 (30000/1001 (29.97 fps))",
             "QMatrix: 8 9 10", "load_non_intra_quantiser_matrix: 0", "Timecode: 01:02:03:04",
             "Broken GOP Flag: 1", "0x05 (S:7, P:84): Video Slice", "quantiser_scale_code: 9"},
       Lines{"Priority Breakpoint:", "Intra Slice:"}},
      {"slices", 4,
       Concat({Unit(0x21, {{2, 5}, {1, 1}, {1, 1}, {0, 7}, {1, 1}, {77, 8}}),
               Unit(0xB5, {{5, 4}, {0, 6}}), Unit(1, {{100, 7}, {9, 5}})}),
       Lines{"Intra Slice: 1", "Extra Information Slice: 77", "Priority Breakpoint: 100"}},
      {"other units", 3,
       Concat({Bytes{0, 0, 1, 0xB2}, testsupport::TextBytes("CC1text"), Bytes{0, 0, 1, 0xB0},
               Bytes{0, 0, 1, 0xB9}, Bytes{0, 0, 1, 0xBA, 1, 2}}),
       Lines{"0xb2 (S:11, P:0): User Data Start Code", "\"CC1text\"", "0xb0 (S:4, P:11): Reserved",
             "0xb9 (S:4, P:15): Program End Code", "Header (S:6, P:19)",
             "*** Error: Unknown Marker in ES Packet"},
       Lines{"0xba"}},
      {"damage", 3,
       Concat({SequenceHeader(2, 3, 0), Gop(0), CodingExtension(false, 1), CodingExtension(true, 1),
               Unit(0xB5, {{0x60, 8}}), Bytes{0, 0, 1, 0xB3, 0x2D, 0x02}}),
       Lines{"*** Warning: Wrong marker, expected 1", "*** Warning: Wrong marker, expected 1",
             "*** Warning: Wrong marker, expected 000000", "*** Warning: Wrong marker, expected 00",
             "*** Error: Unexpected Extension Type: 6", "*** Error: Unit ends inside its header!"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const Lines lines = Feed({Concat({row.units, kEnd})}, row.verbosity).lines;
    testsupport::ExpectTexts(lines, row.present, row.absent);
    Lines messages;
    for (const std::string& text : row.present) {
      if (text.rfind("***", 0) == 0) messages.push_back(text);
    }
    EXPECT_EQ(testsupport::MessageLines(lines), messages);
  }
}

TEST(CMPGESVideoParserTest, SplitUnitsAreReportedOnceAfterTheirJoin) {
  const Bytes header = SequenceHeader(), slice = Slice();
  const std::vector<Bytes> halves = {Bytes(header.begin(), header.begin() + 7),
                                     Concat({Bytes(header.begin() + 7, header.end()), Picture(1)})};
  const VideoRun packets = Feed(halves, 3);
  testsupport::ExpectInOrder(packets.lines, {"Buffering (S:7, P:0)", "Buffered (S:7, P:0)",
                                             "0xb3 (S:12, P:0): Sequence Header Code"});
  EXPECT_EQ(packets.fileType, CMPGParser::kMpeg2Program);
  // The blocks of an elementary-stream file are joined without a word.
  testsupport::ExpectTexts(Feed(halves, 3, false).lines, {"0xb3 (S:12, P:0): Sequence Header Code"},
                           {"Buffering", "Buffered"});
  // A slice's joins are slice lines, hidden with them.
  testsupport::ExpectTexts(
      Feed({Bytes(slice.begin(), slice.begin() + 5), Concat({{slice[5], slice[6]}, Picture(1)})}, 3)
          .lines,
      {"Buffering (S:8, P:7)"}, {"(S:5", "Video Slice"});
  // A start code cut after its zeros, payloads 14 bytes apart: the unit
  // starts where its zeros were.
  testsupport::ExpectTexts(
      Feed({Concat({Picture(1), {0, 0}}), Bytes(header.begin() + 2, header.end()),
            Concat({Picture(2), kEnd})},
           3, true, 14)
          .lines,
      {"0x00 (S:8, P:0): Picture Start Code", "0xb3 (S:12, P:8): Sequence Header Code",
       "0x00 (S:9, P:48): Picture Start Code"},
      {"Buffered (S:2"});
}

// Every way of cutting a stream in two, and byte by byte, gives the units of
// the whole stream, with their file positions, and skips the same bytes.
TEST(CMPGESVideoParserTest, EveryCutGivesTheUnitsOfTheWholeStream) {
  const Bytes stream =
      Concat({Bytes{0xAA, 0, 0}, SequenceHeader(), SequenceExtension(), Gop(), Picture(1),
              CodingExtension(), Unit(0xB2, {{0, 24}}), Slice(1), Bytes{0, 0}, Slice(2),
              Picture(2, 3), Slice(1), Picture(3, 1), kEnd});
  const Lines expected = UnitLines({stream});
  ASSERT_EQ(expected.back(), "skipped 3, pictures 3");
  ASSERT_TRUE(testsupport::HasText(expected, "0x01 (S:9, P:57): Video Slice"));
  for (size_t cut = 1; cut < stream.size(); ++cut) {
    SCOPED_TRACE("cut at " + std::to_string(cut));
    const auto at = stream.begin() + static_cast<std::ptrdiff_t>(cut);
    EXPECT_EQ(UnitLines({Bytes(stream.begin(), at), Bytes(at, stream.end())}), expected);
  }
  EXPECT_EQ(UnitLines(Pieces(stream, 1)), expected);
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
  std::string full;  // 48 characters
  for (int i = 0; i < 24; ++i) full += " I";
  // A mark may end at 50 characters; at 49 " I" does not fit, and the
  // pattern stops there though "B" would fit.
  const std::tuple<std::string, std::string, uint32_t> rows[] = {
      {" IBBP??", " IBBP??", 1}, {full + "PB I", full + "PB", 25}, {full + "P IB", full + "P", 25}};
  for (const auto& [types, pattern, iPictures] : rows) {
    SCOPED_TRACE(types);
    Bytes stream = kEnd;
    for (auto type = types.rbegin(); type != types.rend(); ++type) {
      if (*type != ' ') stream = Concat({Picture(std::string(" IPB?").find(*type)), stream});
    }
    VideoRun run = Feed({stream}, 1);
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
