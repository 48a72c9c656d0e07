#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <regex>
#include <string>
#include <tuple>
#include <vector>

#include "TestSupport.h"
#include "core/ByteReader.h"
#include "core/FourCC.h"
#include "riff/AviIndexTestFiles.h"
#include "riff/CAVIParser.h"

namespace {

using testsupport::Bytes;
using testsupport::ChunkBuilder;
using testsupport::Concat;
using testsupport::Indent;
using testsupport::Le32;
using testsupport::ParseRun;
using testsupport::TextBytes;
using testsupport::Trimmed;
using Lines = std::vector<std::string>;

// Headers that pass the header checks: the reports hold only what the walk says.
const ChunkBuilder riff;
const Bytes kBitmap = avitest::BitmapFormat(160, 120);
const Bytes kPcm = avitest::PcmFormat(8000, 1, 16);

Bytes Avih(uint32_t streams, uint32_t frames) {
  return riff.Chunk("avih", avitest::AvihBody(40000, 0x10, frames, streams));
}

Bytes VideoStrh(uint32_t frames) {
  return riff.Chunk("strh", avitest::StrhBody("vids", "DIB ", 1, 25, frames, 0, 0, 0, 0, 160, 120));
}

Bytes VideoList(uint32_t frames, const std::vector<Bytes>& extra = {}) {
  std::vector<Bytes> children = {VideoStrh(frames), riff.Chunk("strf", kBitmap)};
  children.insert(children.end(), extra.begin(), extra.end());
  return riff.List("strl", children);
}

Bytes Frame(const std::string& id, size_t size) { return riff.Chunk(id, Bytes(size, 0x11)); }

// Two frames of 10 bytes: '00dc' at offset 4 and 22 from the list type word.
Bytes Movi() { return riff.List("movi", {Frame("00dc", 10), Frame("00dc", 10)}); }

Bytes Idx1() {
  return riff.Chunk("idx1", Concat({TextBytes("00dc"), Le32(0x10), Le32(4), Le32(10),
                                    TextBytes("00dc"), Le32(0x10), Le32(22), Le32(10)}));
}

Bytes Hdrl(const std::vector<Bytes>& children) { return riff.List("hdrl", children); }
Bytes StandardHdrl() { return Hdrl({Avih(1, 2), VideoList(2)}); }
Bytes Avi(const std::vector<Bytes>& children) { return riff.Riff("AVI ", children); }

Bytes ListHeader(const std::string& token, uint32_t declared, const std::string& type) {
  return Concat({TextBytes(token), Le32(declared), TextBytes(type)});
}

ParseRun ParseAvi(const Bytes& bytes, const RunOptions& options = RunOptions(),
                  const std::function<void(CAVIParser&)>& inspect = nullptr) {
  return testsupport::RunParserOnBytes<CAVIParser>(bytes, options, inspect, "clip.avi");
}

// Chunk lines and messages up to the statistics; of dumped chunks only the messages.
Lines Walk(const ParseRun& run) {
  static const std::regex kDumped(
      ": AVI (Main Header|StreamHeader|StreamFormat|Stream Index|movi List|Old Index Chunk|"
      "Stream Video Property Header)$");
  Lines walk;
  size_t hiddenBelow = std::string::npos;
  for (const std::string& line : run.Body()) {
    const std::string trimmed = Trimmed(line);
    if (trimmed == "Statistics") break;
    const bool under = hiddenBelow != std::string::npos && Indent(line) > hiddenBelow;
    if (!under) hiddenBelow = std::string::npos;
    if (trimmed.empty() || trimmed[0] == '"' || (under && trimmed.rfind("*** ", 0) != 0)) continue;
    walk.push_back(line);
    if (!under && std::regex_search(line, kDumped)) hiddenBelow = Indent(line);
  }
  return walk;
}

TEST(CAVIParserTest, WalksEveryLevelOfAWellFormedFile) {
  const Bytes file = Avi(
      {Hdrl({Avih(2, 2),
             VideoList(2, {riff.Chunk("strn", TextBytes("Cam")), riff.Chunk("JUNK", Bytes(6, 0))}),
             riff.List("strl", {riff.Chunk("strh", avitest::StrhBody("auds", std::string(4, '\0'),
                                                                     1, 8000, 640, 2)),
                                riff.Chunk("strf", kPcm)}),
             riff.List("odml", {riff.Chunk("dmlh", Concat({Le32(2), Bytes(244, 0)}))})}),
       riff.List("INFO", {riff.Chunk("ISFT", TextBytes("tool"))}), riff.Chunk("JUNK", Bytes(12, 0)),
       Movi(), Idx1()});
  const ParseRun run = ParseAvi(file, RunOptions(), [&](CAVIParser& parser) {
    const AviModel& model = parser.Model();
    EXPECT_EQ(parser.SegmentCount(), 1);
    ASSERT_EQ(model.streams.size(), 2u);
    EXPECT_EQ(std::tie(model.streams[0].name, model.streams[0].strf, model.streams[1].strf),
              std::make_tuple(std::string("Cam"), kBitmap, kPcm));
    EXPECT_EQ(ByteReader(model.dmlh.data(), 4).U32(), 2u);
    // The ids the 'movi' scan takes for chunks: those of the two streams.
    const std::pair<const char*, bool> plausible[] = {
        {"LIST", true},  {"JUNK", true},  {"RIFF", true},  {"rec ", true},
        {"idx1", true},  {"ab__", true},  {"00dc", true},  {"01wb", true},
        {"0132", true},  {"ix01", true},  {"02wb", false}, {"ix02", false},
        {"0x32", false}, {"00d1", false}, {"movi", false}, {"abcd", false}};
    for (const auto& [id, expected] : plausible) {
      EXPECT_EQ(parser.IsPlausibleChunkId(FourCCFromBytes(TextBytes(id).data())), expected) << id;
    }
  });
  EXPECT_TRUE(run.result);
  testsupport::ExpectInOrder(
      Walk(run),
      {"  Reading 'clip.avi' (738)", "    'RIFF' (730) 'AVI ': RIFF AVI Chunk, Segment #1",
       "      'LIST' (586) 'hdrl': AVI Header List", "        'avih' (56): AVI Main Header",
       "        'LIST' (142) 'strl': AVI Stream List #0", "          'strn' (3): AVI Stream Name",
       "            00 Name: \"Cam\"", "          'JUNK' (6): RIFF Junk",
       "        'LIST' (92) 'strl': AVI Stream List #1", "          'strf' (16): AVI StreamFormat",
       "        'LIST' (260) 'odml': AVI OpenDML 1.02 Header List",
       "          'dmlh' (248): AVI ODML Header", "            Grand Frames: 2",
       "      'LIST' (16) 'INFO': RIFF Info List", "        Info (12) 'ISFT'",
       "          00 Text: \"tool\"", "      'JUNK' (12): RIFF Junk",
       "      'LIST' (40) 'movi': AVI movi List", "      'idx1' (32): AVI Old Index Chunk"});
  EXPECT_EQ(Walk(run).size(), 22u);
}

// Damaged files: walk lines in order (kEnd: the walk ends there), the model kept.
const std::string kEnd = "<end of the walk>";

TEST(CAVIParserTest, DamagedStructuresAreReportedWhereTheyOccur) {
  const Bytes junk = riff.Chunk("JUNK", Bytes(2, 0));
  const Bytes strh = VideoStrh(2);
  const Bytes strf = riff.Chunk("strf", kBitmap);
  const Bytes avih = Avih(1, 2);
  const Bytes info = riff.Chunk("ISFT", TextBytes("tool"));
  const Bytes movi = Movi();
  const std::string outOfSequence = "*** Error: Unexpected out-of-sequence Token, recovered!";
  const std::string duplicate = "*** Error: Unexpected duplicate Token, ignored!";
  const std::string either = "*** Error: Unexpected duplicate or out-of-sequence Token, recovered!";
  const std::string recovered = "*** Error: Unexpected Token, recovered!";
  const std::string tooMany = "*** Error: Stream count greater than AVI Main Header Streams!";
  const std::string headerSize = "*** Warning: Unknown Token Size, expected 248!";
  // Both lists claim the 'movi' list that follows them.
  const uint32_t strlSize = static_cast<uint32_t>(4 + strh.size() + strf.size() + movi.size());
  const uint32_t hdrlSize = static_cast<uint32_t>(4 + avih.size() + 8 + strlSize);
  const Bytes body = Concat({StandardHdrl(), Movi()});
  const Bytes junkBody = Concat({StandardHdrl(), Movi(), riff.Chunk("JUNK", Bytes(20, 0))});
  // The segment claims 8 bytes less than the 'JUNK' chunk needs.
  const Bytes shortSegment = Concat(
      {ListHeader("RIFF", static_cast<uint32_t>(4 + junkBody.size() - 8), "AVI "), junkBody});
  RunOptions widen;
  widen.scan.subchunkEnforcesParentSize = true;
  const Bytes whole =
      Avi({StandardHdrl(), riff.List("movi", {Frame("00dc", 100), Frame("01wb", 100)})});
  const Bytes avi = Avi({StandardHdrl(), Movi()});
  // Short headers are read as far as they go; the OpenDML header is kept as 248 bytes.
  auto shortHeaders = [&](const Bytes& dmlhBody) {
    return Avi({Hdrl({riff.Chunk("avih", Bytes(avih.begin() + 8, avih.begin() + 38)),
                      riff.List("strl", {riff.Chunk("strh", TextBytes("vidsDIB ")), strf}),
                      riff.List("odml", {riff.Chunk("dmlh", dmlhBody), junk})}),
                Movi()});
  };
  const ChunkBuilder rifx(ChunkBuilder::Layout::Rifx);
  // Frame counts of 4 billion, a 2 GiB format, lists nested far too deep.
  Bytes nested = riff.Chunk("abcd", Bytes(2, 0));
  for (int i = 0; i < 300; ++i) nested = riff.List("nest", {nested});
  const Bytes claims =
      Avi({Hdrl({Avih(1, 0xFFFFFFFF),
                 riff.List("strl", {VideoStrh(0xFFFFFFFF),
                                    riff.ChunkWithSize("strf", 0x7FFFFFFF, kBitmap)})}),
           nested, Movi()});
  const struct {
    const char* name;
    Bytes file;
    Lines inOrder;
    std::function<void(CAVIParser&)> inspect = nullptr;
    RunOptions options = RunOptions();
  } rows[] = {
      {"header list order",
       Avi({Hdrl({VideoList(2),  // before the main header
                  avih, Avih(7, 7),
                  riff.List("odml", {junk, riff.Chunk("dmlh", Concat({Le32(2), Bytes(244, 0)}))}),
                  riff.List("odml", {}), VideoList(2)}),  // one more than announced
            Movi()}),
       Lines{"'LIST' (116) 'strl': AVI Stream List #0",
             "*** Error: Unexpected out-of-sequence Token!", tooMany, "'avih' (56)", outOfSequence,
             "'avih' (56)", duplicate, "*** Error: Unexpected Token, expected 'dmlh'!",
             "Grand Frames: 2", "'LIST' (4) 'odml'", duplicate, "AVI Stream List #1", tooMany,
             "'LIST' (40) 'movi'"},
       [](CAVIParser& parser) {
         EXPECT_EQ(parser.Model().MainHeader().streams, 1u);  // the first main header is kept
         EXPECT_EQ(parser.Model().streams.size(), 2u);
       }},
      {"stream list order",
       Avi({Hdrl({Avih(2, 2),
                  riff.List(
                      "strl",
                      {strf, strh, riff.Chunk("strh", avitest::StrhBody("auds", "DIB ", 1, 25, 2)),
                       riff.Chunk("strn", TextBytes("a")), riff.Chunk("strn", TextBytes("b")),
                       riff.Chunk("strd", Bytes(4, 7)), riff.Chunk("strc", Bytes(2, 0)),
                       riff.Chunk("JUNQ", Bytes(2, 0)), riff.Chunk("abcd", Bytes(2, 0))}),
                  riff.List("strl", {riff.Chunk("strd", Bytes(4, 8))})}),
            Movi()}),
       Lines{"'strf' (40)", outOfSequence, "'strh' (56)", "'strh' (56)", duplicate,
             "00 Name: \"a\"", "'strn' (1)", duplicate,
             "'strc' (2): AVI Vidomi Enhanced AVI Stream Chapter",
             "*** Warning: Unexpected Token (Premiere JUNK)!", "'abcd' (2)",
             "*** Warning: Unexpected Token!", "AVI Stream List #1", "'strd' (4)", outOfSequence,
             "*** Error: Missing 'strh'-Chunk!"},
       [](CAVIParser& parser) {
         const AviModel& model = parser.Model();
         ASSERT_EQ(model.streams.size(), 2u);
         EXPECT_EQ(model.StreamHeader(0).type, FourCC("vids"));  // the duplicate is ignored
         EXPECT_EQ(model.streams[0].name, "a");
         EXPECT_EQ(model.streams[0].strd, Bytes(4, 7));
         EXPECT_FALSE(model.streams[1].strhSeen);
         EXPECT_EQ(model.streams[1].strd, Bytes(4, 8));
       }},
      {"short headers", shortHeaders(Le32(77)),
       Lines{"'avih' (30)", "'strh' (8)", "'strf' (40)", "'dmlh' (4)", headerSize,
             "Grand Frames: 77", "'JUNK' (2)", "'LIST' (40) 'movi'"},
       [&](CAVIParser& parser) {
         const AviModel& model = parser.Model();
         EXPECT_EQ(model.MainHeader().totalFrames, 2u);
         EXPECT_EQ(model.MainHeader().width, 0);  // beyond the 30 bytes present
         EXPECT_EQ(model.StreamHeader(0).handler, FourCC("DIB "));
         EXPECT_EQ(model.StreamHeader(0).rate, 0u);
         EXPECT_EQ(ByteReader(model.dmlh.data(), 4).U32(), 77u);
         EXPECT_TRUE(std::all_of(model.dmlh.begin() + 4, model.dmlh.end(),
                                 [](uint8_t b) { return b == 0; }));
       }},
      {"long OpenDML header", shortHeaders(Concat({Le32(5), Bytes(296, 0xEE)})),
       Lines{"'dmlh' (300)", headerSize, "Grand Frames: 5", "'JUNK' (2)", "'LIST' (40) 'movi'"},
       [](CAVIParser& parser) { EXPECT_EQ(parser.Model().dmlh[247], 0xEE); }},
      {"RIFX sizes",
       rifx.Riff("AVI ",
                 {rifx.List("hdrl", {rifx.Chunk("avih", avitest::AvihBody(40000, 0x10, 2, 1)),
                                     rifx.List("strl", {rifx.Chunk("strh", Bytes(56, 0)),
                                                        rifx.Chunk("strn", TextBytes("odd"))})}),
                  rifx.List("movi", {rifx.Chunk("00dc", Bytes(3, 0))})}),
       Lines{"    'RIFX' (192) 'AVI ': RIFF AVI Chunk, Segment #1", "'LIST' (156) 'hdrl'",
             "'strh' (56)", "'strn' (3)", "00 Name: \"odd\"",
             "      'LIST' (16) 'movi': AVI movi List"},
       [](CAVIParser& parser) { EXPECT_TRUE(parser.Model().bigEndian); }},
      {"claimed counts and sizes", claims,
       Lines{"*** Error: Token Size (2147483647) greater Chunk Size (40)!",
             "*** Error: Lists nested too deeply, skipped!",
             "      'LIST' (40) 'movi': AVI movi List", kEnd},
       [&](CAVIParser& parser) {
         EXPECT_LE(parser.Model().movi.capacity(), claims.size() / 8 + 1);
         EXPECT_EQ(parser.Model().streams.at(0).strf.size(), 40u);
       }},
      {"segment order", Avi({Movi(), StandardHdrl(), Idx1(), Idx1(), StandardHdrl(), Movi()}),
       Lines{"'movi'", either, "'hdrl'", outOfSequence, "'idx1'", "'idx1'", either, "'hdrl'",
             duplicate, "'movi'", either, kEnd}},
      {"segment forms",
       Concat({riff.Riff("AVIX", {Movi()}), Avi({Hdrl({junk})}), riff.Riff("AVIX", {junk}),
               riff.Riff("INDX", {Frame("00dc", 2)})}),
       Lines{"'RIFF' (52) 'AVIX': RIFF AVI Chunk, Segment #1", "*** Fatal: Unexpected Token!",
             either, "*** Error: Missing 'hdrl'-Chunk!", "'AVI ': RIFF AVI Chunk, Segment #2",
             "*** Error: Unexpected Token!", duplicate, "*** Error: Missing 'movi'-Chunk!",
             // Extension segments carry no header list.
             "Segment #3", "'JUNK' (2)", "*** Error: Missing 'movi'-Chunk!",
             "'RIFF' (14) 'INDX': RIFF Unexpected Chunk, Segment #4",
             // Scanned like a 'movi' list: its chunk names no stream.
             "'movi' Entry #0, Token '00dc' (30 30 64 63)", "*** Error: Garbled Data found!",
             "Unrecoverable", kEnd}},
      {"empty header list", Avi({Hdrl({junk}), Movi()}),
       Lines{"'JUNK' (2)", "*** Error: Missing 'avih'-Chunk!", "*** Error: Missing 'strl'-Chunk!",
             "'movi'"}},
      {"info list running into 'movi'",
       Avi({StandardHdrl(),
            ListHeader("LIST", static_cast<uint32_t>(4 + info.size() + movi.size()), "INFO"), info,
            movi, Idx1()}),
       Lines{"'LIST' (64) 'INFO'", "00 Text: \"tool\"", recovered, "'LIST' (40) 'movi'",
             "'idx1' (32)"}},
      {"header lists running into 'movi'",
       Avi({ListHeader("LIST", hdrlSize, "hdrl"), avih, ListHeader("LIST", strlSize, "strl"), strh,
            strf, movi, Idx1()}),
       Lines{"'LIST' (240) 'hdrl'", "'LIST' (164) 'strl'", "'strf' (40)", recovered,
             "      'LIST' (40) 'movi'", "'idx1' (32)"}},
      {"sub-chunk larger than its list", shortSegment,
       Lines{"*** Error: Token Size (20) greater Chunk Size (12)!", "'JUNK' (12): RIFF Junk",
             // The 8 bytes behind the segment are no chunk.
             "    Spurious Data after RIFF Chunk", "*** Error: Garbled Data found!",
             "Unrecoverable", kEnd}},
      {"sub-chunk widening its list", shortSegment,
       Lines{"*** Error: Token Size (20) greater Chunk Size (12)!", "'JUNK' (20): RIFF Junk", kEnd},
       nullptr, widen},
      // A stale segment size ends inside 'movi': the list is read whole.
      {"'movi' past its segment",
       Concat({ListHeader("RIFF", static_cast<uint32_t>(4 + body.size() - 8), "AVI "), body}),
       Lines{"*** Error: Token Size (40) greater Chunk Size (32)!", "'LIST' (32) 'movi'"},
       [](CAVIParser& parser) { EXPECT_EQ(parser.Model().movi.size(), 2u); }},
      // Sizes corrected to the file's end; the first segment runs into the second.
      {"first segment over 1 GB",
       Concat({ListHeader("RIFF", 0x50000000, "AVI "), StandardHdrl(), Movi(),
               ListHeader("RIFF", 0x50000000, "AVIX"), Movi()}),
       Lines{"*** Error: Wrong Size (1342177280) exceeding File Size detected, corrected!",
             "*** Warning: Size of first RIFF-chunk should be less than 1GB!",
             "'RIFF' (312) 'AVI ': RIFF AVI Chunk, Segment #1", "'LIST' (40) 'movi'",
             "*** Error: Chunk size greater File size, File may be truncated!",
             "'RIFF' (1342177280)", recovered,
             "*** Error: Wrong Size (1342177280) exceeding File Size detected, corrected!",
             "'RIFF' (52) 'AVIX': RIFF AVI Chunk, Segment #2", "'LIST' (40) 'movi'", kEnd}},
      // No index vouches for the frame in front of the cut chunk.
      {"file ending in its last segment", Bytes(whole.begin(), whole.end() - 50),
       Lines{"*** Error: Wrong Size (432) exceeding File Size detected, corrected!",
             "'RIFF' (382) 'AVI '",
             "*** Error: Chunk size greater File size, File may be truncated!",
             "*** Error: Token Size (220) greater Chunk Size (170)!", "'LIST' (170) 'movi'",
             "*** Warning: Frames before Garbled Data removed, no Index confirms them (1)!", kEnd}},
      // Garbage, a chunk found again, and an unknown id that passes over the rest.
      {"garbage and chunks after the RIFF chunk",
       Concat({avi, Bytes{1, 2, 3, 4, 5, 6}, riff.Chunk("JUNK", Bytes(4, 0)),
               riff.Chunk("idx1", Bytes(16, 0)), avi}),
       Lines{"    Spurious Data after RIFF Chunk", "*** Error: Garbled Data found!",
             "'JUNK' (6): Recovered (S:Offset)", "    'JUNK' (4): Spurious Chunk after RIFF Chunk",
             "      'JUNK' (4): RIFF Junk", "    'idx1' (16): Spurious Chunk after RIFF Chunk",
             kEnd}},
      {"nothing after the RIFF chunk", Concat({avi, Bytes(20, 0xFF)}),
       Lines{"    Spurious Data after RIFF Chunk", "*** Error: Garbled Data found!",
             "Unrecoverable", kEnd}},
      {"too short for a chunk", Concat({avi, Bytes{1, 2, 3}}),
       Lines{"    *** Error: File Size mismatch (3)!", kEnd}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const Lines walk = Walk(ParseAvi(row.file, row.options, row.inspect));
    const bool toTheEnd = row.inOrder.back() == kEnd;
    const Lines texts(row.inOrder.begin(), row.inOrder.end() - (toTheEnd ? 1 : 0));
    testsupport::ExpectInOrder(walk, texts);
    if (toTheEnd) {
      EXPECT_NE(walk.back().find(texts.back()), std::string::npos) << walk.back();
    }
  }
}

}  // namespace
