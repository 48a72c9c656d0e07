// The 'movi' scan: the chunks it records, its recovery and DV audio conversion.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "TestSupport.h"
#include "core/FourCC.h"
#include "riff/AviIndexTestFiles.h"
#include "riff/CAVIParser.h"

namespace {

using testsupport::Bytes;
using testsupport::ChunkBuilder;
using testsupport::Concat;
using testsupport::CountText;
using testsupport::Indent;
using testsupport::Le16;
using testsupport::Le32;
using testsupport::ParseRun;
using testsupport::ReadFile;
using testsupport::TextBytes;
using testsupport::U32At;
using Lines = std::vector<std::string>;

const ChunkBuilder riff;

Bytes StreamList(const std::string& type, const std::string& handler, const Bytes& format) {
  return riff.List("strl", {riff.Chunk("strh", avitest::StrhBody(type, handler, 1, 25, 0)),
                            riff.Chunk("strf", format)});
}

const Bytes kVideo = StreamList("vids", "DIB ", avitest::BitmapFormat(160, 120, 0, 8));
const Bytes kAudio = StreamList("auds", std::string(4, '\0'), avitest::PcmFormat(8000, 1, 16));

Bytes Hdrl(const std::vector<Bytes>& streams) {
  std::vector<Bytes> children = {
      riff.Chunk("avih", avitest::AvihBody(40000, 0, 0, static_cast<uint32_t>(streams.size())))};
  children.insert(children.end(), streams.begin(), streams.end());
  return riff.List("hdrl", children);
}

Bytes Frame(const std::string& id, size_t size) { return riff.Chunk(id, Bytes(size, 0x11)); }

// An AVI file of a video stream (00) and an audio stream (01) by default.
Bytes AviWith(const std::vector<Bytes>& moviChildren,
              const std::vector<Bytes>& streams = {kVideo, kAudio}) {
  return riff.Riff("AVI ", {Hdrl(streams), riff.List("movi", moviChildren)});
}

struct Scan {
  ParseRun run;
  std::vector<MoviEntry> entries;  // without owned payloads
  std::vector<Bytes> owned;        // owned payloads, in entry order
  AviModel model;                  // streams and main header only
  uint64_t overhead = 0;
};

Scan RunScan(const std::string& path, const RunOptions& options = RunOptions()) {
  Scan scan;
  scan.run = testsupport::RunParserOnFile<CAVIParser>(path, options, [&](CAVIParser& parser) {
    const AviModel& model = parser.Model();
    for (const MoviEntry& e : model.movi) {
      scan.entries.push_back(
          {e.chunkId, e.size, e.flags, e.segment, e.trust, e.offset, e.payloadPosition, nullptr});
      if (e.ownedPayload) scan.owned.push_back(*e.ownedPayload);
    }
    scan.model.avih = model.avih;
    scan.model.streams = model.streams;
    scan.model.extraStreams = model.extraStreams;
    scan.overhead = parser.OverheadSize();
  });
  return scan;
}

Scan ScanBytes(const Bytes& bytes, const RunOptions& options = RunOptions()) {
  testsupport::ScratchDir dir;
  return RunScan(dir.Write("clip.avi", bytes), options);
}

// The lines under the first 'movi' list line, up to the index assignment.
Lines MoviLines(const ParseRun& run) {
  Lines lines;
  size_t listIndent = std::string::npos;
  for (const std::string& line : run.lines) {
    if (listIndent == std::string::npos) {
      if (line.find("'movi': AVI movi List") != std::string::npos) listIndent = Indent(line);
    } else if (Indent(line) <= listIndent || line.find("Assign Index") != std::string::npos) {
      break;
    } else {
      lines.push_back(line);
    }
  }
  return lines;
}

std::string Entry(const std::string& id, uint32_t size, size_t number) {
  return "        '" + id + "' (" + std::to_string(size) + "): 'movi' Entry #" +
         std::to_string(number);
}

// The chunks of a file of the suite: its 'idx1' rows list every one, in order.
using Located = std::pair<size_t, uint64_t>;
using Offsets = std::vector<uint64_t>;
using Counts = std::vector<std::pair<std::string, size_t>>;

struct Chunk {
  uint32_t id;
  uint32_t size;
  uint64_t offset;  // from the list type word
};

std::vector<Chunk> ChunksOf(const Bytes& file) {
  const size_t type = static_cast<size_t>(testsupport::FindToken(file, "movi"));
  const size_t idx1 = type + U32At(file, type - 4);
  std::vector<Chunk> found;
  for (size_t row = idx1 + 8; row + 16 <= idx1 + 8 + U32At(file, idx1 + 4); row += 16) {
    found.push_back({U32At(file, row), U32At(file, row + 12), U32At(file, row + 8)});
  }
  return found;
}

std::string SamplePath(const std::string& name) {
  return std::string(CLIPSMITH_TEST_DATA) + "/avi/" + name;
}

TEST(CAVIParserMoviTest, RecordsExactlyTheChunksOfRealFiles) {
  for (const char* name : {"mpeg4_mp3.avi", "mjpeg_pcm.avi", "dv_pal.avi", "rawvideo.avi",
                           "audio_only.avi", "two_audio.avi", "msmpeg4v2_adpcm.avi"}) {
    SCOPED_TRACE(name);
    const std::vector<Chunk> expected = ChunksOf(ReadFile(SamplePath(name)));
    ASSERT_FALSE(expected.empty());
    const Scan scan = RunScan(SamplePath(name));
    ASSERT_EQ(scan.entries.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
      const MoviEntry& e = scan.entries[i];
      EXPECT_EQ(std::tie(e.chunkId, e.size, e.offset, e.segment),
                std::make_tuple(expected[i].id, expected[i].size, expected[i].offset, uint16_t{1}));
    }
  }
}

// Damage to mjpeg_pcm.avi ('00dc' and '01wb' in turn): key lines, no other message. Damaged
// sizes are of audio chunks: their quiet PCM samples never look like chunk ids.
TEST(CAVIParserMoviTest, DamageInsideTheListIsCrossed) {
  const Bytes clean = ReadFile(SamplePath("mjpeg_pcm.avi"));
  const std::vector<Chunk> chunks = ChunksOf(clean);
  ASSERT_EQ(chunks.size(), 9u);
  const size_t type = static_cast<size_t>(testsupport::FindToken(clean, "movi"));
  auto entry = [&](size_t i) { return Entry(i % 2 ? "01wb" : "00dc", chunks[i].size, i); };
  auto put = [](Bytes bytes, size_t at, uint32_t value) {
    const Bytes word = Le32(value);
    std::copy(word.begin(), word.end(), bytes.begin() + static_cast<long>(at));
    return bytes;
  };
  // 100 zeros in front of chunk 4; the lists grow with them.
  Bytes zeros = clean;
  zeros.insert(zeros.begin() + static_cast<long>(type + chunks[4].offset), 100, 0);
  zeros = put(put(zeros, type - 4, U32At(clean, type - 4) + 100), 4, U32At(clean, 4) + 100);
  const std::string garbled = "          *** Error: Garbled Data found!";
  const std::string premature = "          *** Error: File ends prematurely!";
  const struct {
    const char* name;
    Bytes file;
    Lines movi;
    size_t count;
    Located located;
  } rows[] = {
      {"file ending inside the last frame",
       Bytes(clean.begin(), clean.begin() + static_cast<long>(type + chunks[8].offset + 108)),
       {entry(7), entry(8), premature, garbled, "          Unrecoverable"},
       8,
       Located{7, chunks[7].offset}},
      // The search starts 7 bytes before the bad token; 'idx1' vouches for the frame before.
      {"zeros between two frames",
       zeros,
       {entry(3), "        'movi' Entry #4, Token '    ' (00 00 00 00)", garbled,
        "          '00dc' (103): Recovered (S:Offset)", entry(4), entry(8)},
       9,
       Located{4, chunks[4].offset + 100}},
      // The size wraps in 32 bits and runs past the file.
      {"size wrapping",
       put(clean, type + chunks[3].offset + 4, 0xFFFFFFF8u),
       {Entry("01wb", 0xFFFFFFF8u, 3), premature, garbled,
        "          '00dc' (2055): Recovered (S:Offset)", entry(4), entry(8)},
       8,
       Located{3, chunks[4].offset}},
      // Past the list into the 'idx1' behind it, but not past the file.
      {"size past the list",
       put(clean, type + chunks[7].offset + 4, 5000),
       {Entry("01wb", 5000, 7),
        "          *** Error: Frame Size (5000) greater Chunk Size (4956), Frame ignored!", garbled,
        "          '00dc' (1863): Recovered (S:Offset)", entry(8)},
       8,
       Located{7, chunks[8].offset}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const Scan scan = ScanBytes(row.file);
    EXPECT_TRUE(scan.run.result);
    const Lines movi = MoviLines(scan.run);
    testsupport::ExpectInOrder(movi, row.movi);
    EXPECT_EQ(CountText(movi, "*** "), CountText(row.movi, "*** "));
    EXPECT_EQ(CountText(movi, ": 'movi' Entry #"), 9u);
    ASSERT_EQ(scan.entries.size(), row.count);
    EXPECT_EQ(scan.entries[row.located.first].offset, row.located.second);
    EXPECT_EQ(CountText(scan.run.lines, "'idx1' (144): AVI Old Index Chunk"),
              testsupport::FindToken(row.file, "idx1") < 0 ? 0u : 1u);
  }
  // The zeros are overhead, and so is the bad token's header.
  EXPECT_EQ(ScanBytes(zeros).overhead, RunScan(SamplePath("mjpeg_pcm.avi")).overhead + 103);
}

TEST(CAVIParserMoviTest, BuiltListsAreScannedInStep) {
  std::vector<Bytes> many;
  Lines traced;
  for (size_t i = 0; i < 1000; ++i) {
    many.push_back(Frame(i % 2 ? "01wb" : "00dc", i == 500 ? 1000001 : 2));
    if (i < 15) traced.push_back(Entry(i % 2 ? "01wb" : "00dc", 2, i));
  }
  traced.push_back(Entry("00dc", 1000001, 500));
  traced.push_back(Entry("01wb", 2, 999));
  RunOptions partial;
  partial.scan.moviParseLimit = 30;
  const Bytes rec = riff.List("rec ", {Frame("00dc", 4), Frame("01wb", 4)});
  const Bytes frames = Concat({Frame("00dc", 4), Frame("01wb", 4)});
  const Bytes idx1 = riff.Chunk("idx1", Concat({TextBytes("00dc"), Le32(0x10), Le32(4), Le32(4),
                                                TextBytes("01wb"), Le32(0x10), Le32(16), Le32(4)}));
  auto overclaiming = [&](uint32_t extra) {
    return riff.Riff("AVI ", {Hdrl({kVideo, kAudio}), TextBytes("LIST"),
                              Le32(static_cast<uint32_t>(4 + frames.size() + extra)),
                              TextBytes("movi"), frames, idx1});
  };
  const Lines twoFrames = {Entry("00dc", 4, 0), Entry("01wb", 4, 1)};
  const std::vector<std::pair<std::string, size_t>> indexFound = {
      {"'idx1' (32): AVI Old Index Chunk", 1}, {"*** Error: Chunk Size mismatch!", 0}};
  const std::string garbled = "          *** Error: Garbled Data found!";
  const std::string oddPlace = "          *** Error: Frame starts at odd position!";
  const struct {
    const char* name;
    Bytes file;
    Lines movi;
    size_t count;
    Offsets offsets;
    Counts counts = {};
    RunOptions options = RunOptions();
  } rows[] = {
      // A 5-byte frame followed by three pad bytes instead of one.
      {"odd chunk padded to four bytes",
       AviWith({Concat({Frame("00dc", 5), Bytes(2, 0)}), Frame("01wb", 4), Frame("00dc", 6)}),
       {Entry("00dc", 5, 0),
        "          *** Error: Odd size frame is DWORD-aligned instead of WORD!",
        Entry("01wb", 4, 1), Entry("00dc", 6, 2)},
       3,
       Offsets{4, 20, 32}},
      // A garbage byte puts the next chunk at an odd place, its pad byte behind it.
      {"odd garbage shifts the pad bytes",
       AviWith({Frame("00dc", 4), Bytes{0x55}, Frame("01wb", 3), Frame("00dc", 4)}),
       {Entry("00dc", 4, 0), "        'movi' Entry #1, Token 'U01w' (55 30 31 77)", garbled,
        "          '01wb' (4): Recovered (S:Offset)", Entry("01wb", 3, 1), oddPlace,
        Entry("00dc", 4, 2), oddPlace},
       2,
       Offsets{17, 29}},
      {"'rec ' lists are transparent", AviWith({rec, rec}),
       Lines{"        'LIST' (28) 'rec '", Entry("00dc", 4, 0), Entry("01wb", 4, 1),
             "        'LIST' (28) 'rec '", Entry("00dc", 4, 2), Entry("01wb", 4, 3)},
       4, Offsets{16, 28, 52, 64}},
      {"trace limit: the first, big and last entries", AviWith(many), traced, 1000, {}},
      {"partial scan", AviWith(many), {}, 31, {}, {}, partial},
      // A list claiming a few bytes too many ends at the index behind it.
      {"list 2 bytes too long", overclaiming(2), twoFrames, 2, {4, 16}, indexFound},
      {"list 8 bytes too long", overclaiming(8), twoFrames, 2, {4, 16}, indexFound},
      // Writers of 8-bit video state a whole new palette with a count of 0.
      {"palette change of count zero",
       AviWith({riff.Chunk("00pc", Concat({Bytes{0, 0}, Le16(0), Bytes(1024, 7)}))}, {kVideo}),
       Lines{}, 1, Offsets{}, Counts{{"peNew Item #256", 1}, {"peNew Item #257", 0}, {"Data", 0}}},
      // Each id found again claims far more than the file: reported once, passed.
      {"damaged lists always end",
       AviWith(std::vector<Bytes>(40, Concat({TextBytes("00dc"), Le32(0xFFFFFFF0)}))), Lines{}, 0,
       Offsets{},
       Counts{{"*** Error: File ends prematurely!", 40},
              {"*** Error: Garbled Data found!", 40},
              {"Unrecoverable", 1}}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const Scan scan = ScanBytes(row.file, row.options);
    EXPECT_EQ(row.movi.empty() ? Lines{} : MoviLines(scan.run), row.movi);
    ASSERT_EQ(scan.entries.size(), row.count);
    for (size_t i = 0; i < row.offsets.size(); ++i) {
      EXPECT_EQ(scan.entries[i].offset, row.offsets[i]);
      // Every payload lies 8 bytes behind its header.
      EXPECT_EQ(scan.entries[i].payloadPosition - scan.entries[i].offset,
                scan.entries[0].payloadPosition - scan.entries[0].offset);
    }
    for (const auto& [text, count] : row.counts) {
      EXPECT_EQ(CountText(scan.run.lines, text), count) << text;
    }
  }
}

TEST(CAVIParserMoviTest, ChunksAreCheckedAgainstTheirStreams) {
  const Bytes subs = StreamList("subs", "\0\0\0\0", Bytes(4, 0));
  const Bytes subtitle = Concat({Le16(1), Le16(2), Le16(3), Le16(4), Le16(5), Le16(6), Le16(7),
                                 Le16(8), TextBytes("Hi\n"), Bytes(1, 0)});
  const Bytes palette = Concat({Bytes{1, 2}, Le16(0), Bytes{10, 20, 30, 0, 40, 50, 60, 4}});
  const Bytes index = Concat({Le16(2), Bytes{0, 1}, Le32(0), TextBytes("00dc"), Bytes(12, 0)});
  const Scan scan =
      ScanBytes(AviWith({Frame("00dc", 4), Frame("00wb", 4), Frame("01dc", 4), Frame("ab__", 4),
                         riff.Chunk("02sb", subtitle), riff.Chunk("00pc", palette),
                         riff.Chunk("00ix", index), riff.Chunk("ix01", index)},
                        {kVideo, kAudio, subs}));
  testsupport::ExpectInOrder(
      MoviLines(scan.run),
      {Entry("00dc", 4, 0), Entry("00wb", 4, 1), "*** Error: Audio chunk in Video Stream found!",
       Entry("01dc", 4, 2), "*** Error: Unexpected chunk in Audio Stream found!",
       Entry("ab__", 4, 3), "*** Error: Stream Number greater than defined Streams!",
       Entry("02sb", 20, 4), "00 StartingFrame: 1", "14 OddStartPos: 8", "16 Data: \"Hi \"",
       Entry("00pc", 12, 5), "00 bFirstEntry: 1", "01 bNumEntries: 2", "peNew Item #1",
       "00 peRed: 10", "peNew Item #2", "01 peGreen: 50",
       "*** Warning: Should presumably be 'ix##'"});
  // Index chunks are counted, but they are no entries; 'ab__' names no stream.
  std::vector<uint32_t> ids;
  for (const MoviEntry& entry : scan.entries) ids.push_back(entry.chunkId);
  EXPECT_EQ(ids, (std::vector<uint32_t>{FourCC("00dc"), FourCC("00wb"), FourCC("01dc"),
                                        FourCC("02sb"), FourCC("00pc")}));
  EXPECT_EQ(scan.model.streams[0].counters.at(FourCC("00ix")).moviChunks, 1u);
  EXPECT_EQ(scan.model.streams[1].counters.at(FourCC("ix01")).moviChunks, 1u);
  EXPECT_EQ(scan.model.streams[1].counters.at(FourCC("01dc")).moviChunks, 1u);
  EXPECT_EQ(scan.model.streams[1].audioBytes, 4u);
  // Without the index check all is still counted.
  RunOptions unchecked;
  unchecked.scan.checkIndexes = false;
  const Scan counted = ScanBytes(AviWith({Frame("00dc", 0), Frame("01wb", 6)}), unchecked);
  EXPECT_EQ(counted.model.streams[0].counters.at(FourCC("00dc")).moviChunks, 1u);
  EXPECT_EQ(counted.model.streams[0].counters.at(FourCC("00dc")).zeroSize, 1u);
  EXPECT_EQ(counted.model.streams[1].largestChunk, 6u);
}

TEST(CAVIParserMoviTest, DvAudioBecomesPcmChunksAsFfmpegDecodesIt) {
  if (!testsupport::Installed("ffmpeg")) GTEST_SKIP() << "ffmpeg not available";
  testsupport::ScratchDir dir;
  // Three PAL frames, a tone per channel; as AVI, and the PCM ffmpeg decodes.
  const std::string command =
      "cd '" + dir.Path() +
      "' && ffmpeg -hide_banner -loglevel error -y -f lavfi -i testsrc=size=720x576:rate=25 -f "
      "lavfi -i \"aevalsrc=0.5*sin(1000*2*PI*t)|0.3*sin(1500*2*PI*t):s=48000\" -t 0.12 -pix_fmt "
      "yuv420p -c:v dvvideo -c:a pcm_s16le -ac 2 -f dv clip.dv && ffmpeg -v error -i clip.dv -c "
      "copy clip.avi && ffmpeg -v error -i clip.avi -f s16le -ac 2 -ar 48000 clip.pcm";
  ASSERT_EQ(std::system(command.c_str()), 0);
  const Bytes expected = ReadFile(dir.File("clip.pcm"));
  ASSERT_FALSE(expected.empty());
  RunOptions options;
  options.scan.switchQ2 = true;
  const Scan scan = RunScan(dir.File("clip.avi"), options);
  EXPECT_EQ(Concat(scan.owned), expected);
  // The file's own streams are 00 (video) and 01 (audio): the added one is 02.
  ASSERT_EQ(scan.model.streams.size(), 2u);
  ASSERT_EQ(scan.owned.size(), 3u);
  size_t synthetic = 0;
  for (size_t i = 0; i + 1 < scan.entries.size(); ++i) {
    if (scan.entries[i].chunkId != FourCC("02wb")) continue;
    ++synthetic;
    EXPECT_EQ(scan.entries[i + 1].chunkId, FourCC("00dc"));  // ahead of its frame
    EXPECT_LT(scan.entries[i].offset, scan.entries[i + 1].offset);
  }
  EXPECT_EQ(synthetic, 3u);
  ASSERT_EQ(scan.model.extraStreams.size(), 1u);
  const AviStream& extra = scan.model.extraStreams[0];
  const AviStreamHeader header = AviModel::DecodeStreamHeader(extra.strh.data(), false);
  EXPECT_EQ(std::tie(header.type, header.scale, header.rate, header.sampleSize, header.quality,
                     header.length),
            std::make_tuple(FourCC("auds"), 1u, 48000u, 4u, -1, expected.size() / 4));
  EXPECT_EQ(extra.strf, avitest::PcmFormat(48000, 2, 16));
  EXPECT_EQ(extra.counters.at(FourCC("02wb")).moviChunks, 3u);
  EXPECT_EQ(AviModel::DecodeMainHeader(scan.model.avih.data(), false).flags & 0x100, 0x100u);
}

TEST(CAVIParserMoviTest, DvAudioThatCannotBeConvertedIsReportedOnce) {
  // Two PAL frames whose audio source pack says 12-bit nonlinear samples.
  Bytes frame(144000, 0);
  for (size_t sequence = 0; sequence < 12; ++sequence) {
    for (size_t block = 6; block < 150; block += 16) {
      const size_t at = (sequence * 150 + block) * 80;
      frame[at] = 0x70;
      frame[at + 3] = 0x50;
      frame[at + 7] = 0x01;
    }
  }
  RunOptions options;
  options.scan.switchQ2 = true;
  const Scan scan =
      ScanBytes(AviWith({riff.Chunk("00dc", frame), riff.Chunk("00dc", frame)},
                        {StreamList("vids", "dvsd", avitest::BitmapFormat(160, 120, 0, 8))}),
                options);
  EXPECT_EQ(MoviLines(scan.run),
            (Lines{Entry("00dc", 144000, 0),
                   "          *** Error: 12-bit nonlinear DV audio is not supported",
                   Entry("00dc", 144000, 1)}));
  EXPECT_EQ(scan.entries.size(), 2u);
  EXPECT_TRUE(scan.owned.empty());
  ASSERT_EQ(scan.model.extraStreams.size(), 1u);
  EXPECT_EQ(scan.model.extraStreams[0].counters.count(FourCC("01wb")), 0u);
  EXPECT_EQ(AviModel::DecodeMainHeader(scan.model.avih.data(), false).flags, 0x100u);
}

}  // namespace
