// The 'movi' scan: the chunks it records from real and built files, how it
// recovers from damage, and the conversion of DV audio into PCM chunks.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <string>
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
using testsupport::Le16;
using testsupport::Le32;
using testsupport::ParseRun;
using testsupport::TextBytes;
using testsupport::Trimmed;
using Lines = std::vector<std::string>;

const ChunkBuilder riff;

// ---------------------------------------------------------------------------
// Builders: a video stream (00) and an audio stream (01), optionally more.

Bytes StreamList(const std::string& type, const std::string& handler, const Bytes& format) {
  return riff.List("strl", {riff.Chunk("strh", avitest::StrhBody(type, handler, 1, 25, 0)),
                            riff.Chunk("strf", format)});
}

Bytes VideoFormat() { return avitest::BitmapFormat(160, 120, 0, 8); }
Bytes AudioFormat() { return avitest::PcmFormat(8000, 1, 16); }

Bytes Hdrl(const std::vector<Bytes>& streams) {
  std::vector<Bytes> children = {
      riff.Chunk("avih", avitest::AvihBody(40000, 0, 0, static_cast<uint32_t>(streams.size())))};
  children.insert(children.end(), streams.begin(), streams.end());
  return riff.List("hdrl", children);
}

Bytes TwoStreams() {
  return Hdrl(
      {StreamList("vids", "DIB ", VideoFormat()), StreamList("auds", "\0\0\0\0", AudioFormat())});
}

Bytes Frame(const std::string& id, size_t size, uint8_t fill = 0x11) {
  return riff.Chunk(id, Bytes(size, fill));
}

Bytes AviWith(const Bytes& hdrl, const std::vector<Bytes>& moviChildren,
              const std::vector<Bytes>& after = {}) {
  std::vector<Bytes> children = {hdrl, riff.List("movi", moviChildren)};
  children.insert(children.end(), after.begin(), after.end());
  return riff.Riff("AVI ", children);
}

uint32_t Id(const std::string& text) { return FourCCFromBytes(TextBytes(text).data()); }

// ---------------------------------------------------------------------------
// Running the parser

struct Scan {
  ParseRun run;
  std::vector<MoviEntry> entries;  // without owned payloads
  std::vector<Bytes> owned;        // owned payloads, in entry order
  AviModel model;                  // streams and headers only
  uint64_t overhead = 0;
};

Scan RunScan(const std::string& path, const RunOptions& options = RunOptions()) {
  Scan scan;
  scan.run = testsupport::RunParserOnFile<CAVIParser>(path, options, [&](CAVIParser& parser) {
    const AviModel& model = parser.Model();
    for (const MoviEntry& entry : model.movi) {
      MoviEntry copy;
      copy.chunkId = entry.chunkId;
      copy.size = entry.size;
      copy.segment = entry.segment;
      copy.offset = entry.offset;
      copy.payloadPosition = entry.payloadPosition;
      scan.entries.push_back(std::move(copy));
      if (entry.ownedPayload) scan.owned.push_back(*entry.ownedPayload);
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

// The lines the scan printed under the first 'movi' list header line (up to
// the index assignment that follows every list).
Lines MoviLines(const ParseRun& run) {
  Lines lines;
  size_t listIndent = std::string::npos;
  for (const std::string& line : run.lines) {
    if (listIndent == std::string::npos) {
      if (line.find("'movi': AVI movi List") != std::string::npos) listIndent = Indent(line);
      continue;
    }
    if (Indent(line) <= listIndent || Trimmed(line).rfind("Assign Index", 0) == 0) break;
    lines.push_back(line);
  }
  return lines;
}

size_t CountLines(const ParseRun& run, const std::string& trimmed) {
  return static_cast<size_t>(
      std::count_if(run.lines.begin(), run.lines.end(),
                    [&](const std::string& l) { return Trimmed(l) == trimmed; }));
}

std::string Entry(const std::string& id, uint32_t size, uint32_t number) {
  return "        '" + id + "' (" + std::to_string(size) + "): 'movi' Entry #" +
         std::to_string(number);
}

// ---------------------------------------------------------------------------
// An independent walk of the 'movi' lists of a well-formed file.

struct Chunk {
  uint32_t id;
  uint32_t size;
  uint64_t offset;  // from the list type word
  uint16_t segment;
  size_t headerPos;
};

using testsupport::U32At;

void WalkList(const Bytes& file, size_t begin, size_t end, size_t typePos, uint16_t segment,
              bool inMovi, std::vector<Chunk>& found) {
  size_t pos = begin;
  while (pos + 8 <= end) {
    const uint32_t id = U32At(file, pos);
    const uint32_t size = U32At(file, pos + 4);
    if (id == Id("LIST")) {
      const uint32_t type = U32At(file, pos + 8);
      const bool movi = type == Id("movi");
      WalkList(file, pos + 12, pos + 8 + size, movi ? pos + 8 : typePos, segment, inMovi || movi,
               found);
    } else if (inMovi && id != Id("JUNK") && FourCCByte(id, 0) != 'i') {
      found.push_back({id, size, pos - typePos, segment, pos});
    }
    pos += 8 + size + (size & 1);
  }
}

std::vector<Chunk> ChunksOf(const Bytes& file) {
  std::vector<Chunk> found;
  size_t pos = 0;
  uint16_t segment = 0;
  while (pos + 12 <= file.size()) {
    const uint32_t size = U32At(file, pos + 4);
    WalkList(file, pos + 12, pos + 8 + size, 0, ++segment, false, found);
    pos += 8 + size + (size & 1);
  }
  return found;
}

using testsupport::ReadFile;

std::string SamplePath(const std::string& name) {
  return std::string(CLIPSMITH_TEST_DATA) + "/avi/" + name;
}

// ---------------------------------------------------------------------------
// Real files

TEST(CAVIParserMoviTest, RecordsExactlyTheChunksOfRealFiles) {
  for (const char* name :
       {"mpeg4_mp3.avi", "mjpeg_pcm.avi", "dv_pal.avi", "dv_ntsc.avi", "rawvideo.avi",
        "audio_only.avi", "two_audio.avi", "msmpeg4v2_adpcm.avi"}) {
    SCOPED_TRACE(name);
    const std::vector<Chunk> expected = ChunksOf(ReadFile(SamplePath(name)));
    ASSERT_FALSE(expected.empty());
    const Scan scan = RunScan(SamplePath(name));
    ASSERT_EQ(scan.entries.size(), expected.size());
    std::map<uint32_t, uint32_t> counts;
    for (size_t i = 0; i < expected.size(); ++i) {
      const MoviEntry& entry = scan.entries[i];
      EXPECT_EQ(entry.chunkId, expected[i].id);
      EXPECT_EQ(entry.size, expected[i].size);
      EXPECT_EQ(entry.offset, expected[i].offset);
      EXPECT_EQ(entry.segment, expected[i].segment);
      ++counts[expected[i].id];
    }
    // The per-stream counters agree with the walk.
    for (const auto& [id, count] : counts) {
      const int stream = AviModel::StreamNumber(id, scan.model.streams.size());
      ASSERT_GE(stream, 0);
      EXPECT_EQ(scan.model.streams[static_cast<size_t>(stream)].counters.at(id).moviChunks, count);
    }
    EXPECT_EQ(CountLines(scan.run, "*** Error: Garbled Data found!"), 0u);
  }
}

// ---------------------------------------------------------------------------
// Damage made from a clean file: mjpeg_pcm.avi holds nine chunks, '00dc' and
// '01wb' in turn, of 3087, 2048, 3080, 2048, 3076, 2048, 3089, 1856 and 3092
// bytes, and an 'idx1'.

class CAVIParserMoviDamageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    clean = ReadFile(SamplePath("mjpeg_pcm.avi"));
    chunks = ChunksOf(clean);
    ASSERT_EQ(chunks.size(), 9u);
    typePos = chunks[0].headerPos - chunks[0].offset;
  }
  size_t HeaderPos(size_t chunk) const { return chunks[chunk].headerPos; }
  // Lines of entries first..last as the clean file prints them.
  Lines Entries(size_t first, size_t last) const {
    Lines lines;
    for (size_t i = first; i <= last; ++i) {
      lines.push_back(Entry(i % 2 ? "01wb" : "00dc", chunks[i].size, static_cast<uint32_t>(i)));
    }
    return lines;
  }

  Bytes clean;
  std::vector<Chunk> chunks;
  size_t typePos = 0;
};

TEST_F(CAVIParserMoviDamageTest, FileEndingInsideTheLastFrame) {
  const Bytes cut(clean.begin(), clean.begin() + static_cast<long>(HeaderPos(8) + 8 + 100));
  const Scan scan = ScanBytes(cut);
  Lines expected = Entries(0, 8);
  expected.insert(expected.end(), {
                                      "          *** Error: File ends prematurely!",
                                      "          *** Error: Garbled Data found!",
                                      "          Unrecoverable",
                                  });
  EXPECT_EQ(MoviLines(scan.run), expected);
  ASSERT_EQ(scan.entries.size(), 8u);
  EXPECT_EQ(scan.entries.back().offset, chunks[7].offset);
  EXPECT_TRUE(scan.run.result);
}

TEST_F(CAVIParserMoviDamageTest, ZerosBetweenTwoFramesAreCrossed) {
  Bytes damaged = clean;
  damaged.insert(damaged.begin() + static_cast<long>(HeaderPos(4)), 100, 0);
  // The lists grow with the zeros.
  const size_t moviSizePos = typePos - 4;
  const Bytes moviSize = Le32(U32At(clean, moviSizePos) + 100);
  const Bytes riffSize = Le32(U32At(clean, 4) + 100);
  std::copy(moviSize.begin(), moviSize.end(), damaged.begin() + static_cast<long>(moviSizePos));
  std::copy(riffSize.begin(), riffSize.end(), damaged.begin() + 4);
  const Scan scan = ScanBytes(damaged);
  Lines expected = Entries(0, 3);
  expected.insert(expected.end(), {
                                      "        'movi' Entry #4, Token '    ' (00 00 00 00)",
                                      "          *** Error: Garbled Data found!",
                                      // The search starts 7 bytes before the bad token.
                                      "          '00dc' (103): Recovered (S:Offset)",
                                  });
  const Lines rest = Entries(4, 8);
  expected.insert(expected.end(), rest.begin(), rest.end());
  EXPECT_EQ(MoviLines(scan.run), expected);
  EXPECT_EQ(CountLines(scan.run, "*** Error: Garbled Data found!"), 1u);
  // The frame before the zeros may have led the scan astray; its 'idx1'
  // entry says it did not, and it stays.
  ASSERT_EQ(scan.entries.size(), 9u);
  EXPECT_EQ(scan.entries[3].offset, chunks[3].offset);
  EXPECT_EQ(scan.entries[4].offset, chunks[4].offset + 100);
  EXPECT_EQ(scan.entries[4].chunkId, Id("00dc"));
  EXPECT_EQ(scan.entries.back().offset, chunks[8].offset + 100);
  const uint64_t cleanOverhead = RunScan(SamplePath("mjpeg_pcm.avi")).overhead;
  EXPECT_EQ(scan.overhead, cleanOverhead + 103);
}

TEST_F(CAVIParserMoviDamageTest, ChunkSizesBeyondTheFileOrTheListAreFramesIgnored) {
  // The damaged chunks are audio: their PCM samples (a quiet sine) cannot
  // look like chunk ids, so the search runs on to the next frame header.
  auto withSize = [&](size_t chunk, uint32_t size) {
    Bytes damaged = clean;
    const Bytes word = Le32(size);
    std::copy(word.begin(), word.end(), damaged.begin() + static_cast<long>(HeaderPos(chunk) + 4));
    return ScanBytes(damaged);
  };
  // Sizes beyond the file; the first wraps in 32 bits.
  for (uint32_t size : {0xFFFFFFF8u, 0x7FFFFFFFu, 0x10000u}) {
    SCOPED_TRACE(size);
    const Scan scan = withSize(3, size);
    Lines expected = Entries(0, 2);
    expected.insert(
        expected.end(),
        {Entry("01wb", size, 3), "          *** Error: File ends prematurely!",
         "          *** Error: Garbled Data found!",
         "          '00dc' (2055): Recovered (S:Offset)", Entry("00dc", chunks[4].size, 4)});
    const Lines rest = Entries(5, 8);
    expected.insert(expected.end(), rest.begin(), rest.end());
    EXPECT_EQ(MoviLines(scan.run), expected);
    ASSERT_EQ(scan.entries.size(), 8u);
    EXPECT_EQ(scan.entries[3].offset, chunks[4].offset);
  }
  // A size that runs past the list into the 'idx1' behind it, but not past
  // the file; the index is still read.
  const Scan scan = withSize(7, 5000);
  Lines expected = Entries(0, 6);
  expected.insert(
      expected.end(),
      {Entry("01wb", 5000, 7),
       "          *** Error: Frame Size (5000) greater Chunk Size (4956), Frame ignored!",
       "          *** Error: Garbled Data found!", "          '00dc' (1863): Recovered (S:Offset)",
       Entry("00dc", chunks[8].size, 8)});
  EXPECT_EQ(MoviLines(scan.run), expected);
  EXPECT_EQ(scan.entries.size(), 8u);
  EXPECT_EQ(CountLines(scan.run, "'idx1' (144): AVI Old Index Chunk"), 1u);
}

// ---------------------------------------------------------------------------
// Built files

TEST(CAVIParserMoviTest, OddChunksPaddedToFourBytesStayInStep) {
  // A 5-byte frame followed by three pad bytes instead of one.
  const Bytes file = AviWith(
      TwoStreams(), {Concat({Frame("00dc", 5), Bytes(2, 0)}), Frame("01wb", 4), Frame("00dc", 6)});
  const Scan scan = ScanBytes(file);
  EXPECT_EQ(MoviLines(scan.run),
            (Lines{
                Entry("00dc", 5, 0),
                "          *** Error: Odd size frame is DWORD-aligned instead of WORD!",
                Entry("01wb", 4, 1),
                Entry("00dc", 6, 2),
            }));
  ASSERT_EQ(scan.entries.size(), 3u);
  EXPECT_EQ(scan.entries[1].offset, 20u);
  EXPECT_EQ(scan.entries[2].offset, 32u);
  EXPECT_EQ(scan.entries[2].payloadPosition - scan.entries[2].offset,
            scan.entries[0].payloadPosition - scan.entries[0].offset);
}

TEST(CAVIParserMoviTest, RecListsAreTransparent) {
  const Bytes rec = riff.List("rec ", {Frame("00dc", 4), Frame("01wb", 4)});
  const Scan scan = ScanBytes(AviWith(TwoStreams(), {rec, rec}));
  EXPECT_EQ(MoviLines(scan.run), (Lines{
                                     "        'LIST' (28) 'rec '",
                                     Entry("00dc", 4, 0),
                                     Entry("01wb", 4, 1),
                                     "        'LIST' (28) 'rec '",
                                     Entry("00dc", 4, 2),
                                     Entry("01wb", 4, 3),
                                 }));
  std::vector<uint64_t> offsets;
  for (const MoviEntry& entry : scan.entries) offsets.push_back(entry.offset);
  EXPECT_EQ(offsets, (std::vector<uint64_t>{16, 28, 52, 64}));
}

TEST(CAVIParserMoviTest, TraceLimitShowsFirstBigAndLastEntries) {
  std::vector<Bytes> frames;
  for (int i = 0; i < 1000; ++i) {
    frames.push_back(Frame(i % 2 ? "01wb" : "00dc", i == 500 ? 1000001 : 2));
  }
  const Scan scan = ScanBytes(AviWith(TwoStreams(), frames));
  Lines expected;
  for (uint32_t i = 0; i < 15; ++i) expected.push_back(Entry(i % 2 ? "01wb" : "00dc", 2, i));
  expected.push_back(Entry("00dc", 1000001, 500));
  expected.push_back(Entry("01wb", 2, 999));
  EXPECT_EQ(MoviLines(scan.run), expected);
  EXPECT_EQ(scan.entries.size(), 1000u);

  RunOptions partial;
  partial.scan.moviParseLimit = 30;
  EXPECT_EQ(ScanBytes(AviWith(TwoStreams(), frames), partial).entries.size(), 31u);
}

TEST(CAVIParserMoviTest, ListClaimingTooMuchEndsAtTheIndexBehindIt) {
  const Bytes frames = Concat({Frame("00dc", 4), Frame("01wb", 4)});
  const Bytes idx1 = riff.Chunk("idx1", Concat({TextBytes("00dc"), Le32(0x10), Le32(4), Le32(4),
                                                TextBytes("01wb"), Le32(0x10), Le32(16), Le32(4)}));
  for (uint32_t extra : {2u, 8u}) {
    SCOPED_TRACE(extra);
    const Bytes movi =
        Concat({TextBytes("LIST"), Le32(static_cast<uint32_t>(4 + frames.size() + extra)),
                TextBytes("movi"), frames});
    const Bytes body = Concat({TextBytes("AVI "), TwoStreams(), movi, idx1});
    const Scan scan =
        ScanBytes(Concat({TextBytes("RIFF"), Le32(static_cast<uint32_t>(body.size())), body}));
    EXPECT_EQ(MoviLines(scan.run), (Lines{Entry("00dc", 4, 0), Entry("01wb", 4, 1)}));
    EXPECT_EQ(CountLines(scan.run, "'idx1' (32): AVI Old Index Chunk"), 1u);
    EXPECT_EQ(CountLines(scan.run, "*** Error: Chunk Size mismatch!"), 0u);
    EXPECT_EQ(scan.entries.size(), 2u);
  }
}

// Writers of 8-bit video state a whole new palette with a count of 0.
TEST(CAVIParserMoviTest, APaletteChangeOfCountZeroReplacesAll256Entries) {
  const Bytes palette = Concat({Bytes{0, 0}, Le16(0), Bytes(1024, 7)});
  const Scan scan = ScanBytes(
      AviWith(Hdrl({StreamList("vids", "DIB ", VideoFormat())}), {riff.Chunk("00pc", palette)}));
  const Lines lines = MoviLines(scan.run);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "          peNew Item #256"), 1);
  for (const std::string& line : lines) EXPECT_EQ(line.find("Data"), std::string::npos) << line;
}

TEST(CAVIParserMoviTest, ChunksAreCheckedAgainstTheirStreams) {
  const Bytes subs = StreamList("subs", "\0\0\0\0", Bytes(4, 0));
  const Bytes subtitle = Concat({Le16(1), Le16(2), Le16(3), Le16(4), Le16(5), Le16(6), Le16(7),
                                 Le16(8), TextBytes("Hi\n"), Bytes(1, 0)});
  const Bytes palette = Concat({Bytes{1, 2}, Le16(0), Bytes{10, 20, 30, 0, 40, 50, 60, 4}});
  const Bytes index = Concat({Le16(2), Bytes{0, 1}, Le32(0), TextBytes("00dc"), Bytes(12, 0)});
  const Scan scan =
      ScanBytes(AviWith(Hdrl({StreamList("vids", "DIB ", VideoFormat()),
                              StreamList("auds", "\0\0\0\0", AudioFormat()), subs}),
                        {Frame("00dc", 4), Frame("00wb", 4), Frame("01dc", 4), Frame("ab__", 4),
                         riff.Chunk("02sb", subtitle), riff.Chunk("00pc", palette),
                         riff.Chunk("00ix", index), riff.Chunk("ix01", index)}));
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
  EXPECT_EQ(ids,
            (std::vector<uint32_t>{Id("00dc"), Id("00wb"), Id("01dc"), Id("02sb"), Id("00pc")}));
  EXPECT_EQ(scan.model.streams[0].counters.at(Id("00ix")).moviChunks, 1u);
  EXPECT_EQ(scan.model.streams[1].counters.at(Id("ix01")).moviChunks, 1u);
  EXPECT_EQ(scan.model.streams[1].counters.at(Id("01dc")).moviChunks, 1u);
  EXPECT_EQ(scan.model.streams[1].audioBytes, 4u);
}

TEST(CAVIParserMoviTest, WithoutIndexCheckNothingIsRecordedButAllIsCounted) {
  RunOptions options;
  options.scan.checkIndexes = false;
  const Scan scan = ScanBytes(AviWith(TwoStreams(), {Frame("00dc", 0), Frame("01wb", 6)}), options);
  EXPECT_TRUE(scan.entries.empty());
  EXPECT_EQ(scan.model.streams[0].counters.at(Id("00dc")).moviChunks, 1u);
  EXPECT_EQ(scan.model.streams[0].counters.at(Id("00dc")).zeroSize, 1u);
  EXPECT_EQ(scan.model.streams[1].largestChunk, 6u);
}

TEST(CAVIParserMoviTest, DamagedListsAlwaysEnd) {
  // Each id found again claims far more than the file holds: every one is
  // reported once and the search moves past it.
  std::vector<Bytes> claims(40, Concat({TextBytes("00dc"), Le32(0xFFFFFFF0)}));
  const Scan scan = ScanBytes(AviWith(TwoStreams(), claims));
  EXPECT_EQ(CountLines(scan.run, "*** Error: File ends prematurely!"), 40u);
  EXPECT_EQ(CountLines(scan.run, "*** Error: Garbled Data found!"), 40u);
  EXPECT_EQ(CountLines(scan.run, "Unrecoverable"), 1u);
  EXPECT_TRUE(scan.entries.empty());
}

// ---------------------------------------------------------------------------
// DV type 1 to type 2 (-q2)

bool HaveFfmpeg() { return std::system("ffmpeg -version > /dev/null 2>&1") == 0; }

TEST(CAVIParserMoviTest, DvAudioBecomesPcmChunksAsFfmpegDecodesIt) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg not available";
  testsupport::ScratchDir dir;
  const std::string dv = dir.File("clip.dv");
  const std::string avi = dir.File("clip.avi");
  const std::string pcm = dir.File("clip.pcm");
  const std::string ff = "ffmpeg -hide_banner -loglevel error -y ";
  // Three PAL frames with a different tone on each channel.
  ASSERT_EQ(std::system((ff +
                         "-f lavfi -i testsrc=size=720x576:rate=25 -f lavfi -i "
                         "\"aevalsrc=0.5*sin(1000*2*PI*t)|0.3*sin(1500*2*PI*t):s=48000\" "
                         "-t 0.12 -pix_fmt yuv420p -c:v dvvideo -c:a pcm_s16le -ac 2 -f dv " +
                         dv)
                            .c_str()),
            0);
  ASSERT_EQ(std::system((ff + "-i " + dv + " -c copy " + avi).c_str()), 0);
  ASSERT_EQ(std::system((ff + "-i " + avi + " -f s16le -ac 2 -ar 48000 " + pcm).c_str()), 0);
  const Bytes expected = ReadFile(pcm);
  ASSERT_FALSE(expected.empty());

  RunOptions options;
  options.scan.switchQ2 = true;
  const Scan scan = RunScan(avi, options);
  Bytes converted;
  for (const Bytes& payload : scan.owned)
    converted.insert(converted.end(), payload.begin(), payload.end());
  EXPECT_EQ(converted, expected);
  // The file's own streams are 00 (video) and 01 (audio): the added one is 02.
  ASSERT_EQ(scan.model.streams.size(), 2u);
  ASSERT_EQ(scan.owned.size(), 3u);
  size_t synthetic = 0;
  for (size_t i = 0; i + 1 < scan.entries.size(); ++i) {
    if (scan.entries[i].chunkId != Id("02wb")) continue;
    ++synthetic;
    EXPECT_EQ(scan.entries[i + 1].chunkId, Id("00dc"));  // ahead of its frame
    EXPECT_LT(scan.entries[i].offset, scan.entries[i + 1].offset);
  }
  EXPECT_EQ(synthetic, 3u);
  ASSERT_EQ(scan.model.extraStreams.size(), 1u);
  const AviStream& extra = scan.model.extraStreams[0];
  const AviStreamHeader header = AviModel::DecodeStreamHeader(extra.strh.data(), false);
  EXPECT_EQ(header.type, Id("auds"));
  EXPECT_EQ(header.scale, 1u);
  EXPECT_EQ(header.rate, 48000u);
  EXPECT_EQ(header.sampleSize, 4u);
  EXPECT_EQ(header.quality, -1);
  EXPECT_EQ(header.length, expected.size() / 4);
  EXPECT_EQ(extra.strf, Concat({Le16(1), Le16(2), Le32(48000), Le32(192000), Le16(4), Le16(16)}));
  EXPECT_EQ(extra.counters.at(Id("02wb")).moviChunks, 3u);
  EXPECT_EQ(AviModel::DecodeMainHeader(scan.model.avih.data(), false).flags & 0x100, 0x100u);
}

TEST(CAVIParserMoviTest, DvAudioThatCannotBeConvertedIsReportedOnce) {
  // Two PAL frames whose audio source pack says 12-bit nonlinear samples.
  Bytes frame(144000, 0);
  for (size_t sequence = 0; sequence < 12; ++sequence) {
    for (size_t block = 6; block < 150; block += 16) {
      const size_t at = (sequence * 150 + block) * 80;
      frame[at] = 0x70;
      const uint8_t pack[5] = {0x50, 0x00, 0x00, 0x00, 0x01};
      std::copy(pack, pack + 5, frame.begin() + static_cast<long>(at + 3));
    }
  }
  const Bytes hdrl = Hdrl({StreamList("vids", "dvsd", VideoFormat())});
  RunOptions options;
  options.scan.switchQ2 = true;
  const Scan scan =
      ScanBytes(AviWith(hdrl, {riff.Chunk("00dc", frame), riff.Chunk("00dc", frame)}), options);
  EXPECT_EQ(MoviLines(scan.run),
            (Lines{
                Entry("00dc", 144000, 0),
                "          *** Error: 12-bit nonlinear DV audio is not supported",
                Entry("00dc", 144000, 1),
            }));
  EXPECT_EQ(scan.entries.size(), 2u);
  EXPECT_TRUE(scan.owned.empty());
  ASSERT_EQ(scan.model.extraStreams.size(), 1u);
  EXPECT_EQ(scan.model.extraStreams[0].counters.count(Id("01wb")), 0u);
  EXPECT_EQ(AviModel::DecodeMainHeader(scan.model.avih.data(), false).flags, 0x100u);
}

}  // namespace
