#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <functional>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "core/ByteReader.h"
#include "core/FourCC.h"
#include "riff/CAVIParser.h"

namespace {

using testsupport::Bytes;
using testsupport::ChunkBuilder;
using testsupport::Concat;
using testsupport::Le16;
using testsupport::Le32;
using testsupport::ParseRun;
using testsupport::RunParserOnBytes;
using testsupport::TextBytes;
using Lines = std::vector<std::string>;

// ---------------------------------------------------------------------------
// AVI builders: headers that pass the header checks, so that the reports
// below hold nothing but what the walk itself says.

const ChunkBuilder riff;

Bytes Avih(uint32_t streams, uint32_t frames) {
  return Concat({Le32(40000), Le32(0), Le32(0), Le32(0x10), Le32(frames), Le32(0), Le32(streams),
                 Le32(0), Le32(160), Le32(120), Le32(0), Le32(0), Le32(0), Le32(0)});
}

Bytes Strh(const std::string& type, const std::string& handler, uint32_t rate, uint32_t length,
           uint32_t sampleSize, uint16_t right, uint16_t bottom) {
  return Concat({TextBytes(type), TextBytes(handler), Le32(0), Le16(0), Le16(0), Le32(0), Le32(1),
                 Le32(rate), Le32(0), Le32(length), Le32(0), Le32(0xFFFFFFFF), Le32(sampleSize),
                 Le16(0), Le16(0), Le16(right), Le16(bottom)});
}

Bytes BitmapInfo() {
  return Concat({Le32(40), Le32(160), Le32(120), Le16(1), Le16(24), Le32(0), Le32(57600), Le32(0),
                 Le32(0), Le32(0), Le32(0)});
}

Bytes PcmFormat() {  // 8000 Hz mono 16-bit
  return Concat({Le16(1), Le16(1), Le32(8000), Le32(16000), Le16(2), Le16(16)});
}

Bytes VideoList(uint32_t frames, const std::vector<Bytes>& extra = {}) {
  std::vector<Bytes> children = {riff.Chunk("strh", Strh("vids", "DIB ", 25, frames, 0, 160, 120)),
                                 riff.Chunk("strf", BitmapInfo())};
  children.insert(children.end(), extra.begin(), extra.end());
  return riff.List("strl", children);
}

Bytes AudioList(uint32_t samples) {
  return riff.List("strl",
                   {riff.Chunk("strh", Strh("auds", std::string(4, '\0'), 8000, samples, 2, 0, 0)),
                    riff.Chunk("strf", PcmFormat())});
}

Bytes Frame(const std::string& id, size_t size) { return riff.Chunk(id, Bytes(size, 0x11)); }

// Two frames of 10 bytes: '00dc' at offset 4 and 22 from the list type word.
Bytes Movi() { return riff.List("movi", {Frame("00dc", 10), Frame("00dc", 10)}); }

// The 'idx1' that matches Movi(): key frames, offsets from the list type.
Bytes Idx1() {
  return riff.Chunk("idx1", Concat({TextBytes("00dc"), Le32(0x10), Le32(4), Le32(10),
                                    TextBytes("00dc"), Le32(0x10), Le32(22), Le32(10)}));
}

Bytes Hdrl(const std::vector<Bytes>& children) { return riff.List("hdrl", children); }

Bytes StandardHdrl() { return Hdrl({riff.Chunk("avih", Avih(1, 2)), VideoList(2)}); }

Bytes Avi(const std::vector<Bytes>& children) { return riff.Riff("AVI ", children); }
Bytes Avix(const std::vector<Bytes>& children) { return riff.Riff("AVIX", children); }

// A chunk whose size word claims `declared` bytes while `payload` follows.
Bytes Claimed(const std::string& id, uint32_t declared, const Bytes& payload) {
  return Concat({TextBytes(id), Le32(declared), payload});
}

// A list (or form) header that claims `declared` bytes after the size word.
Bytes ListHeader(const std::string& token, uint32_t declared, const std::string& type) {
  return Concat({TextBytes(token), Le32(declared), TextBytes(type)});
}

// ---------------------------------------------------------------------------
// Looking at reports

ParseRun ParseAvi(const Bytes& bytes, const RunOptions& options = RunOptions(),
                  const std::function<void(CAVIParser&)>& inspect = nullptr) {
  return RunParserOnBytes<CAVIParser>(bytes, options, inspect, "clip.avi");
}

std::string Trimmed(const std::string& line) {
  const size_t first = line.find_first_not_of(' ');
  return first == std::string::npos ? std::string() : line.substr(first);
}

size_t Indent(const std::string& line) {
  const size_t first = line.find_first_not_of(' ');
  return first == std::string::npos ? line.size() : first;
}

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// Messages the walk itself prints under a chunk whose contents are dumped by
// the header dumps, the 'movi' scan or the index checks.
bool IsWalkMessage(const std::string& trimmed) {
  static const char* const kTexts[] = {
      "Unexpected duplicate Token, ignored!",
      "Unexpected out-of-sequence Token, recovered!",
      "Unexpected duplicate or out-of-sequence Token, recovered!",
      "Unexpected Token, recovered!",
      "Unexpected out-of-sequence Token!",
      "Stream count greater than AVI Main Header Streams!",
      "Unexpected Token!",
  };
  for (const char* text : kTexts) {
    if (EndsWith(trimmed, std::string(": ") + text)) return true;
  }
  return false;
}

// The lines of the walk: chunk header lines and messages. Left out are hex
// dumps of skipped bytes, the lines under chunks whose contents other parts
// dump (headers, formats, 'movi' data, indexes), and the statistics block.
Lines Walk(const ParseRun& run) {
  static const char* const kDumpedChunks[] = {
      ": AVI Main Header",     ": AVI StreamHeader",
      ": AVI StreamFormat",    ": AVI Stream Video Property Header",
      ": AVI Stream Index",    ": AVI movi List",
      ": AVI Old Index Chunk",
  };
  Lines walk;
  size_t hiddenBelow = std::string::npos;
  for (const std::string& line : run.Body()) {
    const std::string trimmed = Trimmed(line);
    if (hiddenBelow != std::string::npos && Indent(line) > hiddenBelow) {
      if (IsWalkMessage(trimmed)) walk.push_back(line);
      continue;
    }
    hiddenBelow = std::string::npos;
    if (trimmed.empty() || trimmed[0] == '"') continue;
    if (trimmed == "Statistics") {
      hiddenBelow = Indent(line);
      continue;
    }
    walk.push_back(line);
    for (const char* name : kDumpedChunks) {
      if (EndsWith(line, name)) hiddenBelow = Indent(line);
    }
  }
  return walk;
}

Lines From(const Lines& lines, size_t first) {
  return first < lines.size() ? Lines(lines.begin() + static_cast<long>(first), lines.end())
                              : Lines();
}

std::string Reading(size_t size) { return "  Reading 'clip.avi' (" + std::to_string(size) + ")"; }

Lines Messages(const ParseRun& run) {
  Lines messages;
  for (const std::string& line : run.lines) {
    if (Trimmed(line).rfind("*** ", 0) == 0) messages.push_back(Trimmed(line));
  }
  return messages;
}

// ---------------------------------------------------------------------------
// The whole walk

TEST(CAVIParserTest, WalksEveryLevelOfAWellFormedFile) {
  const Bytes file = Avi({
      Hdrl({riff.Chunk("avih", Avih(2, 2)),
            VideoList(2, {riff.Chunk("strn", TextBytes("Cam")), riff.Chunk("JUNK", Bytes(6, 0))}),
            AudioList(640),
            riff.List("odml", {riff.Chunk("dmlh", Concat({Le32(2), Bytes(244, 0)}))})}),
      riff.List("INFO", {riff.Chunk("ISFT", TextBytes("tool"))}),
      riff.Chunk("JUNK", Bytes(12, 0)),
      Movi(),
      Idx1(),
  });
  const ParseRun run = ParseAvi(file, RunOptions(), [&](CAVIParser& parser) {
    const AviModel& model = parser.Model();
    EXPECT_EQ(parser.SegmentCount(), 1);
    ASSERT_EQ(model.streams.size(), 2u);
    EXPECT_EQ(model.streams[0].name, "Cam");
    EXPECT_EQ(model.streams[0].strf, BitmapInfo());
    EXPECT_EQ(model.streams[1].strf, PcmFormat());
    EXPECT_EQ(model.StreamHeader(1).type, FourCC("auds"));
    EXPECT_EQ(model.MainHeader().streams, 2u);
    EXPECT_TRUE(model.dmlhSeen);
    EXPECT_EQ(ByteReader(model.dmlh.data(), 4).U32(), 2u);
  });
  EXPECT_TRUE(run.result);
  EXPECT_EQ(Walk(run), (Lines{
                           Reading(file.size()),
                           "    'RIFF' (730) 'AVI ': RIFF AVI Chunk, Segment #1",
                           "      'LIST' (586) 'hdrl': AVI Header List",
                           "        'avih' (56): AVI Main Header",
                           "        'LIST' (142) 'strl': AVI Stream List #0",
                           "          'strh' (56): AVI StreamHeader",
                           "          'strf' (40): AVI StreamFormat",
                           "          'strn' (3): AVI Stream Name",
                           "            00 Name: \"Cam\"",
                           "          'JUNK' (6): RIFF Junk",
                           "        'LIST' (92) 'strl': AVI Stream List #1",
                           "          'strh' (56): AVI StreamHeader",
                           "          'strf' (16): AVI StreamFormat",
                           "        'LIST' (260) 'odml': AVI OpenDML 1.02 Header List",
                           "          'dmlh' (248): AVI ODML Header",
                           "            Grand Frames: 2",
                           "      'LIST' (16) 'INFO': RIFF Info List",
                           "        Info (12) 'ISFT'",
                           "          00 Text: \"tool\"",
                           "      'JUNK' (12): RIFF Junk",
                           "      'LIST' (40) 'movi': AVI movi List",
                           "      'idx1' (32): AVI Old Index Chunk",
                       }));
}

// ---------------------------------------------------------------------------
// Order, duplicates and missing chunks

TEST(CAVIParserTest, ReportsOrderAndDuplicatesInTheHeaderList) {
  const Bytes dmlh = riff.Chunk("dmlh", Concat({Le32(2), Bytes(244, 0)}));
  const Bytes file = Avi({
      Hdrl({VideoList(2),  // before the main header
            riff.Chunk("avih", Avih(1, 2)), riff.Chunk("avih", Avih(7, 7)),
            riff.List("odml", {riff.Chunk("JUNK", Bytes(2, 0)), dmlh}), riff.List("odml", {}),
            VideoList(2)}),  // after the OpenDML list, and one more than announced
      Movi(),
  });
  const ParseRun run = ParseAvi(file, RunOptions(), [](CAVIParser& parser) {
    EXPECT_EQ(parser.Model().MainHeader().streams, 1u);  // the first main header is kept
    EXPECT_EQ(parser.Model().streams.size(), 2u);
  });
  EXPECT_EQ(Walk(run),
            (Lines{
                Reading(file.size()),
                "    'RIFF' (730) 'AVI ': RIFF AVI Chunk, Segment #1",
                "      'LIST' (670) 'hdrl': AVI Header List",
                "        'LIST' (116) 'strl': AVI Stream List #0",
                "          *** Error: Unexpected out-of-sequence Token!",
                "          *** Error: Stream count greater than AVI Main Header Streams!",
                "          'strh' (56): AVI StreamHeader",
                "          'strf' (40): AVI StreamFormat",
                "        'avih' (56): AVI Main Header",
                "          *** Error: Unexpected out-of-sequence Token, recovered!",
                "        'avih' (56): AVI Main Header",
                "          *** Error: Unexpected duplicate Token, ignored!",
                "        'LIST' (270) 'odml': AVI OpenDML 1.02 Header List",
                "          *** Error: Unexpected Token, expected 'dmlh'!",
                "          'JUNK' (2): RIFF Junk",
                "          'dmlh' (248): AVI ODML Header",
                "            Grand Frames: 2",
                "        'LIST' (4) 'odml': AVI OpenDML 1.02 Header List",
                "          *** Error: Unexpected duplicate Token, ignored!",
                "        'LIST' (116) 'strl': AVI Stream List #1",
                "          *** Error: Unexpected out-of-sequence Token!",
                "          *** Error: Stream count greater than AVI Main Header Streams!",
                "          'strh' (56): AVI StreamHeader",
                "          'strf' (40): AVI StreamFormat",
                "      'LIST' (40) 'movi': AVI movi List",
            }));
}

TEST(CAVIParserTest, ReportsOrderAndDuplicatesInStreamLists) {
  const Bytes first =
      riff.List("strl", {riff.Chunk("strf", BitmapInfo()),
                         riff.Chunk("strh", Strh("vids", "DIB ", 25, 2, 0, 160, 120)),
                         riff.Chunk("strh", Strh("auds", "DIB ", 25, 2, 0, 160, 120)),
                         riff.Chunk("strn", TextBytes("a")), riff.Chunk("strn", TextBytes("b")),
                         riff.Chunk("strd", Bytes(4, 7)), riff.Chunk("strc", Bytes(2, 0)),
                         riff.Chunk("JUNQ", Bytes(2, 0)), riff.Chunk("abcd", Bytes(2, 0))});
  const Bytes second = riff.List("strl", {riff.Chunk("strd", Bytes(4, 8))});
  const Bytes file = Avi({Hdrl({riff.Chunk("avih", Avih(2, 2)), first, second}), Movi()});
  const ParseRun run = ParseAvi(file, RunOptions(), [&](CAVIParser& parser) {
    const AviModel& model = parser.Model();
    ASSERT_EQ(model.streams.size(), 2u);
    EXPECT_EQ(model.StreamHeader(0).type, FourCC("vids"));  // the duplicate is ignored
    EXPECT_EQ(model.streams[0].name, "a");
    EXPECT_EQ(model.streams[0].strd, Bytes(4, 7));
    EXPECT_FALSE(model.streams[1].strhSeen);
    EXPECT_EQ(model.streams[1].strd, Bytes(4, 8));
  });
  EXPECT_EQ(Walk(run), (Lines{
                           Reading(file.size()),
                           "    'RIFF' (402) 'AVI ': RIFF AVI Chunk, Segment #1",
                           "      'LIST' (342) 'hdrl': AVI Header List",
                           "        'avih' (56): AVI Main Header",
                           "        'LIST' (242) 'strl': AVI Stream List #0",
                           "          'strf' (40): AVI StreamFormat",
                           "            *** Error: Unexpected out-of-sequence Token, recovered!",
                           "          'strh' (56): AVI StreamHeader",
                           "          'strh' (56): AVI StreamHeader",
                           "            *** Error: Unexpected duplicate Token, ignored!",
                           "          'strn' (1): AVI Stream Name",
                           "            00 Name: \"a\"",
                           "          'strn' (1): AVI Stream Name",
                           "            *** Error: Unexpected duplicate Token, ignored!",
                           "          'strd' (4): AVI Additional Stream Data",
                           "          'strc' (2): AVI Vidomi Enhanced AVI Stream Chapter",
                           "          'JUNQ' (2): RIFF Junk",
                           "            *** Warning: Unexpected Token (Premiere JUNK)!",
                           "          'abcd' (2)",
                           "            *** Warning: Unexpected Token!",
                           "        'LIST' (16) 'strl': AVI Stream List #1",
                           "          'strd' (4): AVI Additional Stream Data",
                           "            *** Error: Unexpected out-of-sequence Token, recovered!",
                           "          *** Error: Missing 'strh'-Chunk!",
                           "      'LIST' (40) 'movi': AVI movi List",
                       }));
}

TEST(CAVIParserTest, ReportsOrderAndDuplicatesInTheSegment) {
  const Bytes file = Avi({Movi(), StandardHdrl(), Idx1(), Idx1(), StandardHdrl(), Movi()});
  EXPECT_EQ(Walk(ParseAvi(file)),
            (Lines{
                Reading(file.size()),
                "    'RIFF' (580) 'AVI ': RIFF AVI Chunk, Segment #1",
                "      'LIST' (40) 'movi': AVI movi List",
                "        *** Error: Unexpected duplicate or out-of-sequence Token, recovered!",
                "      'LIST' (192) 'hdrl': AVI Header List",
                "        *** Error: Unexpected out-of-sequence Token, recovered!",
                "        'avih' (56): AVI Main Header",
                "        'LIST' (116) 'strl': AVI Stream List #0",
                "          'strh' (56): AVI StreamHeader",
                "          'strf' (40): AVI StreamFormat",
                "      'idx1' (32): AVI Old Index Chunk",
                "      'idx1' (32): AVI Old Index Chunk",
                "        *** Error: Unexpected duplicate or out-of-sequence Token, recovered!",
                "      'LIST' (192) 'hdrl': AVI Header List",
                "        *** Error: Unexpected duplicate Token, ignored!",
                "      'LIST' (40) 'movi': AVI movi List",
                "        *** Error: Unexpected duplicate or out-of-sequence Token, recovered!",
            }));
}

TEST(CAVIParserTest, ChecksSegmentFormsAndMissingChunks) {
  const Bytes file =
      Concat({Avix({Movi()}), Avi({Hdrl({riff.Chunk("JUNK", Bytes(2, 0))})}),
              Avix({riff.Chunk("JUNK", Bytes(2, 0))}), riff.Riff("INDX", {Frame("00dc", 2)})});
  EXPECT_EQ(Walk(ParseAvi(file)),
            (Lines{
                Reading(file.size()),
                "    'RIFF' (52) 'AVIX': RIFF AVI Chunk, Segment #1",
                "      *** Fatal: Unexpected Token!",
                "      'LIST' (40) 'movi': AVI movi List",
                "        *** Error: Unexpected duplicate or out-of-sequence Token, recovered!",
                "      *** Error: Missing 'hdrl'-Chunk!",
                "    'RIFF' (26) 'AVI ': RIFF AVI Chunk, Segment #2",
                "      *** Error: Unexpected Token!",
                "      'LIST' (14) 'hdrl': AVI Header List",
                "        *** Error: Unexpected duplicate Token, ignored!",
                "      *** Error: Missing 'movi'-Chunk!",
                // Extension segments carry no header list.
                "    'RIFF' (14) 'AVIX': RIFF AVI Chunk, Segment #3",
                "      'JUNK' (2): RIFF Junk",
                "      *** Error: Missing 'movi'-Chunk!",
                "    'RIFF' (14) 'INDX': RIFF Unexpected Chunk, Segment #4",
                // Scanned like a 'movi' list: its chunk names no stream.
                "      'movi' Entry #0, Token '00dc' (30 30 64 63)",
                "        *** Error: Garbled Data found!",
                "        Unrecoverable",
            }));
  const Bytes empty = Avi({Hdrl({riff.Chunk("JUNK", Bytes(2, 0))}), Movi()});
  EXPECT_EQ(From(Walk(ParseAvi(empty)), 3), (Lines{
                                                "        'JUNK' (2): RIFF Junk",
                                                "        *** Error: Missing 'avih'-Chunk!",
                                                "        *** Error: Missing 'strl'-Chunk!",
                                                "      'LIST' (40) 'movi': AVI movi List",
                                            }));
}

// ---------------------------------------------------------------------------
// Lists that declare too much

TEST(CAVIParserTest, InfoListRunningIntoMoviIsCutThere) {
  const Bytes info = riff.Chunk("ISFT", TextBytes("tool"));
  const Bytes movi = Movi();
  const uint32_t claimed = static_cast<uint32_t>(4 + info.size() + movi.size());
  const Bytes file = Avi({StandardHdrl(), ListHeader("LIST", claimed, "INFO"), info, movi, Idx1()});
  EXPECT_EQ(From(Walk(ParseAvi(file)), 7), (Lines{
                                               "      'LIST' (64) 'INFO': RIFF Info List",
                                               "        Info (12) 'ISFT'",
                                               "          00 Text: \"tool\"",
                                               "        *** Error: Unexpected Token, recovered!",
                                               "      'LIST' (40) 'movi': AVI movi List",
                                               "      'idx1' (32): AVI Old Index Chunk",
                                           }));
}

TEST(CAVIParserTest, HeaderAndStreamListsRunningIntoMoviAreCutThere) {
  const Bytes avih = riff.Chunk("avih", Avih(1, 2));
  const Bytes strh = riff.Chunk("strh", Strh("vids", "DIB ", 25, 2, 0, 160, 120));
  const Bytes strf = riff.Chunk("strf", BitmapInfo());
  const Bytes movi = Movi();
  // Both lists claim the 'movi' list that follows them.
  const uint32_t strlSize = static_cast<uint32_t>(4 + strh.size() + strf.size() + movi.size());
  const uint32_t hdrlSize = static_cast<uint32_t>(4 + avih.size() + 8 + strlSize);
  const Bytes file = Avi({ListHeader("LIST", hdrlSize, "hdrl"), avih,
                          ListHeader("LIST", strlSize, "strl"), strh, strf, movi, Idx1()});
  EXPECT_EQ(From(Walk(ParseAvi(file)), 2), (Lines{
                                               "      'LIST' (240) 'hdrl': AVI Header List",
                                               "        'avih' (56): AVI Main Header",
                                               "        'LIST' (164) 'strl': AVI Stream List #0",
                                               "          'strh' (56): AVI StreamHeader",
                                               "          'strf' (40): AVI StreamFormat",
                                               "          *** Error: Unexpected Token, recovered!",
                                               "      'LIST' (40) 'movi': AVI movi List",
                                               "      'idx1' (32): AVI Old Index Chunk",
                                           }));
}

TEST(CAVIParserTest, SegmentRunningIntoTheNextSegmentEndsThere) {
  const Bytes body = Concat({StandardHdrl(), Movi()});
  const Bytes avix = Avix({Movi()});
  const uint32_t claimed = static_cast<uint32_t>(4 + body.size() + avix.size());
  const Bytes file = Concat({ListHeader("RIFF", claimed, "AVI "), body, avix});
  EXPECT_EQ(From(Walk(ParseAvi(file)), 7), (Lines{
                                               "      'LIST' (40) 'movi': AVI movi List",
                                               "      'RIFF' (52)",
                                               "        *** Error: Unexpected Token, recovered!",
                                               "    'RIFF' (52) 'AVIX': RIFF AVI Chunk, Segment #2",
                                               "      'LIST' (40) 'movi': AVI movi List",
                                           }));
}

TEST(CAVIParserTest, SubChunkLargerThanItsListIsCutOrWidenedWithTheOption) {
  const Bytes body = Concat({StandardHdrl(), Movi(), riff.Chunk("JUNK", Bytes(20, 0))});
  // The segment claims 8 bytes less than the 'JUNK' chunk needs.
  const Bytes file =
      Concat({ListHeader("RIFF", static_cast<uint32_t>(4 + body.size() - 8), "AVI "), body});
  EXPECT_EQ(From(Walk(ParseAvi(file)), 8),
            (Lines{
                "      *** Error: Token Size (20) greater Chunk Size (12)!",
                "      'JUNK' (12): RIFF Junk",
                // The 8 bytes behind the segment are no chunk.
                "    Spurious Data after RIFF Chunk",
                "      *** Error: Garbled Data found!",
                "      Unrecoverable",
            }));
  RunOptions widen;
  widen.scan.subchunkEnforcesParentSize = true;
  EXPECT_EQ(From(Walk(ParseAvi(file, widen)), 8),
            (Lines{
                "      *** Error: Token Size (20) greater Chunk Size (12)!",
                "      'JUNK' (20): RIFF Junk",
            }));
}

// A segment whose size is stale (a recording that never came back to set
// it) ends inside its 'movi' list: the list is read whole all the same.
TEST(CAVIParserTest, MoviListRunningPastItsSegmentIsReadWhole) {
  const Bytes body = Concat({StandardHdrl(), Movi()});
  const Bytes file =
      Concat({ListHeader("RIFF", static_cast<uint32_t>(4 + body.size() - 8), "AVI "), body});
  size_t entries = 0;
  const ParseRun run = ParseAvi(file, RunOptions(),
                                [&](CAVIParser& parser) { entries = parser.Model().movi.size(); });
  EXPECT_EQ(From(Walk(run), 7), (Lines{
                                    "      *** Error: Token Size (40) greater Chunk Size (32)!",
                                    "      'LIST' (32) 'movi': AVI movi List",
                                }));
  EXPECT_EQ(entries, 2u);
}

// ---------------------------------------------------------------------------
// Sizes that do not match the file

TEST(CAVIParserTest, FirstSegmentOverOneGigabyteIsWarnedAbout) {
  // Only the headers: the claimed size is corrected to the file's end too.
  const Bytes file = Concat({ListHeader("RIFF", 0x50000000, "AVI "), StandardHdrl(), Movi(),
                             ListHeader("RIFF", 0x50000000, "AVIX"), Movi()});
  const Lines walk = Walk(ParseAvi(file));
  EXPECT_EQ(Lines(walk.begin(), walk.begin() + 4),
            (Lines{
                Reading(file.size()),
                "    *** Error: Wrong Size (1342177280) exceeding File Size detected, corrected!",
                "    *** Warning: Size of first RIFF-chunk should be less than 1GB!",
                "    'RIFF' (312) 'AVI ': RIFF AVI Chunk, Segment #1",
            }));
  // The first segment runs into the second, which is only corrected.
  EXPECT_EQ(From(walk, 9),
            (Lines{
                "      'LIST' (40) 'movi': AVI movi List",
                "      *** Error: Chunk size greater File size, File may be truncated!",
                "      'RIFF' (1342177280)",
                "        *** Error: Unexpected Token, recovered!",
                "    *** Error: Wrong Size (1342177280) exceeding File Size detected, corrected!",
                "    'RIFF' (52) 'AVIX': RIFF AVI Chunk, Segment #2",
                "      'LIST' (40) 'movi': AVI movi List",
            }));
}

TEST(CAVIParserTest, FileEndingInsideItsLastSegment) {
  const Bytes whole =
      Avi({StandardHdrl(), riff.List("movi", {Frame("00dc", 100), Frame("01wb", 100)})});
  const Bytes file(whole.begin(), whole.end() - 50);
  const ParseRun run = ParseAvi(file);
  const Lines walk = Walk(run);
  EXPECT_EQ(Lines(walk.begin() + 1, walk.begin() + 3),
            (Lines{
                "    *** Error: Wrong Size (432) exceeding File Size detected, corrected!",
                "    'RIFF' (382) 'AVI ': RIFF AVI Chunk, Segment #1",
            }));
  EXPECT_EQ(From(walk, 8),
            (Lines{
                "      *** Error: Chunk size greater File size, File may be truncated!",
                "      *** Error: Token Size (220) greater Chunk Size (170)!",
                "      'LIST' (170) 'movi': AVI movi List",
                // The frame in front of the cut chunk (of no stream) may
                // owe its place to a wrong size, and no index vouches for it.
                "    *** Warning: Frames before Garbled Data removed, no Index confirms them (1)!",
            }));
  EXPECT_TRUE(run.result);
}

TEST(CAVIParserTest, FixedHeadersOfAnyLengthKeepTheWalkInStep) {
  // A short main header and stream header are read as far as they go; the
  // OpenDML header, short or long, is kept as 248 bytes.
  const Bytes avih = Avih(1, 2);
  auto fileWith = [&](const Bytes& dmlhBody) {
    return Avi(
        {Hdrl({riff.Chunk("avih", Bytes(avih.begin(), avih.begin() + 30)),
               riff.List("strl", {riff.Chunk("strh", TextBytes("vidsDIB ")),
                                  riff.Chunk("strf", BitmapInfo())}),
               riff.List("odml", {riff.Chunk("dmlh", dmlhBody), riff.Chunk("JUNK", Bytes(2, 0))})}),
         Movi()});
  };
  AviModel model;
  auto keep = [&](CAVIParser& parser) {
    model.avih = parser.Model().avih;
    model.dmlh = parser.Model().dmlh;
    model.streams = {AviStream()};
    model.streams[0].strh = parser.Model().streams.at(0).strh;
    model.streams[0].strf = parser.Model().streams.at(0).strf;
  };
  EXPECT_EQ(From(Walk(ParseAvi(fileWith(Le32(77)), RunOptions(), keep)), 3),
            (Lines{
                "        'avih' (30): AVI Main Header",
                "        'LIST' (68) 'strl': AVI Stream List #0",
                "          'strh' (8): AVI StreamHeader",
                "          'strf' (40): AVI StreamFormat",
                "        'LIST' (26) 'odml': AVI OpenDML 1.02 Header List",
                "          'dmlh' (4): AVI ODML Header",
                "            *** Warning: Unknown Token Size, expected 248!",
                "            Grand Frames: 77",
                "          'JUNK' (2): RIFF Junk",
                "      'LIST' (40) 'movi': AVI movi List",
            }));
  EXPECT_EQ(model.MainHeader().totalFrames, 2u);
  EXPECT_EQ(model.MainHeader().width, 0);  // beyond the 30 bytes present
  EXPECT_EQ(model.StreamHeader(0).handler, FourCC("DIB "));
  EXPECT_EQ(model.StreamHeader(0).rate, 0u);
  EXPECT_EQ(model.streams[0].strf, BitmapInfo());
  EXPECT_EQ(ByteReader(model.dmlh.data(), 4).U32(), 77u);
  EXPECT_TRUE(
      std::all_of(model.dmlh.begin() + 4, model.dmlh.end(), [](uint8_t b) { return b == 0; }));

  const Lines longWalk =
      Walk(ParseAvi(fileWith(Concat({Le32(5), Bytes(296, 0xEE)})), RunOptions(), keep));
  EXPECT_EQ(From(longWalk, 8), (Lines{
                                   "          'dmlh' (300): AVI ODML Header",
                                   "            *** Warning: Unknown Token Size, expected 248!",
                                   "            Grand Frames: 5",
                                   "          'JUNK' (2): RIFF Junk",
                                   "      'LIST' (40) 'movi': AVI movi List",
                               }));
  EXPECT_EQ(model.dmlh[247], 0xEE);
}

TEST(CAVIParserTest, ClaimedCountsAndSizesAreBoundedByTheFile) {
  // Frame counts of 4 billion, a format claiming 2 GiB, and lists nested far
  // deeper than any file needs.
  const Bytes avih = riff.Chunk("avih", Avih(1, 0xFFFFFFFF));
  const Bytes strl =
      riff.List("strl", {riff.Chunk("strh", Strh("vids", "DIB ", 25, 0xFFFFFFFF, 0, 160, 120)),
                         Claimed("strf", 0x7FFFFFFF, BitmapInfo())});
  Bytes nested = riff.Chunk("abcd", Bytes(2, 0));
  for (int i = 0; i < 300; ++i) nested = riff.List("nest", {nested});
  const Bytes file = Avi({Hdrl({avih, strl}), nested, Movi()});
  size_t capacity = 0;
  size_t formatSize = 0;
  const ParseRun run = ParseAvi(file, RunOptions(), [&](CAVIParser& parser) {
    capacity = parser.Model().movi.capacity();
    formatSize = parser.Model().streams.at(0).strf.size();
  });
  EXPECT_LE(capacity, file.size() / 8 + 1);
  EXPECT_EQ(formatSize, 40u);
  const Lines messages = Messages(run);
  EXPECT_NE(std::find(messages.begin(), messages.end(),
                      "*** Error: Token Size (2147483647) greater Chunk Size (40)!"),
            messages.end());
  EXPECT_EQ(
      std::count(messages.begin(), messages.end(), "*** Error: Lists nested too deeply, skipped!"),
      1);
  const Lines walk = Walk(run);
  EXPECT_EQ(walk.back(), "      'LIST' (40) 'movi': AVI movi List");
}

// ---------------------------------------------------------------------------
// Between and after the segments

TEST(CAVIParserTest, DataAfterTheRiffChunkIsSearchedForChunks) {
  const Bytes avi = Avi({StandardHdrl(), Movi()});
  const Lines avilines = Walk(ParseAvi(avi));
  auto after = [&](const Bytes& tail) {
    const ParseRun run = ParseAvi(Concat({avi, tail}));
    const Lines walk = Walk(run);
    return Lines(walk.begin() + static_cast<long>(avilines.size()), walk.end());
  };
  // Garbage, then a chunk that is found again.
  EXPECT_EQ(after(Concat({Bytes{1, 2, 3, 4, 5, 6}, riff.Chunk("JUNK", Bytes(4, 0))})),
            (Lines{
                "    Spurious Data after RIFF Chunk",
                "      *** Error: Garbled Data found!",
                "      'JUNK' (6): Recovered (S:Offset)",
                "    'JUNK' (4): Spurious Chunk after RIFF Chunk",
                "      'JUNK' (4): RIFF Junk",
            }));
  // Nothing to be found.
  EXPECT_EQ(after(Bytes(20, 0xFF)), (Lines{
                                        "    Spurious Data after RIFF Chunk",
                                        "      *** Error: Garbled Data found!",
                                        "      Unrecoverable",
                                    }));
  // A chunk id that no handler knows: the rest of the file is passed over.
  EXPECT_EQ(after(Concat({riff.Chunk("idx1", Bytes(16, 0)), avi})),
            (Lines{
                "    'idx1' (16): Spurious Chunk after RIFF Chunk",
            }));
  // Too short for a chunk.
  EXPECT_EQ(after(Bytes{1, 2, 3}), (Lines{
                                       "    *** Error: File Size mismatch (3)!",
                                   }));
}

TEST(CAVIParserTest, PlausibleChunkIdsNameExistingStreams) {
  const Bytes file =
      Avi({Hdrl({riff.Chunk("avih", Avih(2, 2)), VideoList(2), AudioList(640)}), Movi()});
  std::vector<std::pair<std::string, bool>> checks = {
      {"LIST", true},  {"JUNK", true},  {"RIFF", true},  {"rec ", true},
      {"idx1", true},  {"ab__", true},  {"00dc", true},  {"01wb", true},
      {"0132", true},  {"ix01", true},  {"02wb", false}, {"ix02", false},
      {"0x32", false}, {"00d1", false}, {"movi", false}, {"abcd", false},
  };
  ParseAvi(file, RunOptions(), [&](CAVIParser& parser) {
    for (const auto& check : checks) {
      const Bytes id = TextBytes(check.first);
      EXPECT_EQ(parser.IsPlausibleChunkId(FourCCFromBytes(id.data())), check.second) << check.first;
    }
  });
}

TEST(CAVIParserTest, BigEndianRifxSizesAreSwapped) {
  const ChunkBuilder rifx(ChunkBuilder::Layout::Rifx);
  const Bytes file = rifx.Riff(
      "AVI ", {rifx.List("hdrl", {rifx.Chunk("avih", Avih(1, 2)),
                                  rifx.List("strl", {rifx.Chunk("strh", Bytes(56, 0)),
                                                     rifx.Chunk("strn", TextBytes("odd"))})}),
               rifx.List("movi", {rifx.Chunk("00dc", Bytes(3, 0))})});
  bool bigEndian = false;
  const ParseRun run = ParseAvi(file, RunOptions(),
                                [&](CAVIParser& parser) { bigEndian = parser.Model().bigEndian; });
  EXPECT_EQ(From(Walk(run), 1), (Lines{
                                    "    'RIFX' (192) 'AVI ': RIFF AVI Chunk, Segment #1",
                                    "      'LIST' (156) 'hdrl': AVI Header List",
                                    "        'avih' (56): AVI Main Header",
                                    "        'LIST' (80) 'strl': AVI Stream List #0",
                                    "          'strh' (56): AVI StreamHeader",
                                    "          'strn' (3): AVI Stream Name",
                                    "            00 Name: \"odd\"",
                                    "      'LIST' (16) 'movi': AVI movi List",
                                }));
  EXPECT_TRUE(bigEndian);
}

}  // namespace
