#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "app/Driver.h"
#include "aviwriter/AviWriter.h"
#include "aviwriter/AviWriterTestSupport.h"
#include "core/FourCC.h"
#include "riff/CAVIParser.h"

namespace {

using namespace avitest;
using testsupport::Bytes;
using testsupport::ParseRun;
using testsupport::ScratchDir;
using Lines = std::vector<std::string>;
using Counts = std::map<std::string, uint32_t>;
using namespace std::string_literals;

const std::string kSamples = std::string(CLIPSMITH_TEST_DATA) + "/avi/";

// Offsets in a written file (tight layout): the main header body and the
// first stream header body.
constexpr uint64_t kAvihBody = 32;
constexpr uint64_t kFirstStrhBody = 108;

bool Contains(const Lines& lines, const std::string& text) {
  return std::any_of(lines.begin(), lines.end(),
                     [&](const std::string& line) { return line.find(text) != std::string::npos; });
}

// The entries a parse of `path` finds, per chunk id: what a faithful copy
// holds.
Counts ChunksOf(const std::string& path) { return ParseBack(path).chunks; }

// A written file passes when Clipsmith finds nothing wrong in it that was
// not wrong in the source already, finds the expected chunks, and ffmpeg
// decodes it without complaint, packet for packet as expected.
void ExpectSound(const std::string& written, const Counts& expectedChunks,
                 const Lines& sourceProblems = {}, const std::vector<long>* expectedPackets = nullptr) {
  SCOPED_TRACE(written);
  const ParsedBack back = ParseBack(written);
  for (const std::string& problem : ProblemLines(back.run.lines)) {
    // Problems of the source's headers that a copy keeps (an audio-only file
    // has no frames to count, a DV format without its DV info).
    const std::string text = problem.substr(problem.find("*** "));
    EXPECT_TRUE(Contains(sourceProblems, text)) << problem;
  }
  EXPECT_EQ(back.chunks, expectedChunks);
  if (!HaveFfmpeg()) return;
  EXPECT_EQ(DecodeComplaints(written), "");
  if (expectedPackets) {
    EXPECT_EQ(PacketCounts(written), *expectedPackets);
  }
}

// A write of `source` (a sample's name or a path) into `name` in `dir`, with
// Quiet() options changed by `edit`.
struct Written {
  ParseRun run;
  std::string path;
  Bytes bytes;
};

Written Write(const ScratchDir& dir, const std::string& source,
              const std::function<void(RunOptions&)>& edit = nullptr,
              const std::string& name = "out.avi") {
  RunOptions options = Quiet();
  if (edit) edit(options);
  Written written;
  written.path = dir.File(name);
  written.run =
      WriteAvi(source.find('/') == std::string::npos ? kSamples + source + ".avi" : source,
               written.path, options);
  written.bytes = ReadFile(written.path);
  return written;
}

// ---------------------------------------------------------------------------

TEST(AviWriterTest, RewritesEverySampleIntoAFileThatParsesAndPlays) {
  ScratchDir dir;
  for (const char* name : {"mjpeg_pcm", "mpeg4_mp3", "msmpeg4v2_adpcm", "rawvideo", "two_audio",
                           "audio_only", "dv_pal", "dv_ntsc"}) {
    SCOPED_TRACE(name);
    const std::string source = kSamples + name + ".avi";
    const std::string output = dir.File(std::string(name) + ".avi");
    const ParseRun write = WriteAvi(source, output, Quiet());
    EXPECT_TRUE(write.result);
    EXPECT_TRUE(Contains(write.lines, "Writing '" + output + "'"));
    const std::vector<long> packets = HaveFfmpeg() ? PacketCounts(source) : std::vector<long>();
    // The DV samples hold no audio chunk: their empty audio stream is dropped.
    std::vector<long> kept = packets;
    kept.erase(std::remove(kept.begin(), kept.end(), 0), kept.end());
    ExpectSound(output, ChunksOf(source), ProblemLines(ParseBack(source).run.lines), &kept);
  }
}

TEST(AviWriterTest, ReservesIndexPlacesAndPointsIdx1AtTheChunks) {
  ScratchDir dir;
  RunOptions options = Quiet();
  options.writer.writeIdx1 = true;
  const std::string output = dir.File("out.avi");
  ASSERT_TRUE(WriteAvi(kSamples + "mjpeg_pcm.avi", output, options).result);
  const Bytes bytes = ReadFile(output);
  // Has-index set, must-use-index clear.
  EXPECT_EQ(U32At(bytes, kAvihBody + 12) & 0x30u, 0x10u);
  const int64_t movi = FindToken(bytes, "movi");
  ASSERT_GT(movi, 0);
  // One 16384-byte 'ix##' chunk per stream right behind the 'movi' FourCC.
  EXPECT_EQ(TokenAt(bytes, movi + 4), "ix00");
  EXPECT_EQ(U32At(bytes, movi + 8), 16376u);
  EXPECT_EQ(TokenAt(bytes, movi + 4 + 16384), "ix01");
  const uint64_t first = movi + 4 + 2 * 16384;
  EXPECT_EQ(TokenAt(bytes, first), "00dc");
  // The first chunk is odd-sized: a zero pad byte, the next chunk at an even
  // offset.
  const uint32_t size = U32At(bytes, first + 4);
  ASSERT_EQ(size % 2, 1u);
  EXPECT_EQ(bytes[first + 8 + size], 0);
  EXPECT_EQ(TokenAt(bytes, first + 8 + size + 1), "01wb");
  // The standard index of stream 0 points at the data of its first chunk.
  EXPECT_EQ(U32At(bytes, movi + 4 + 12), 5u);  // entries in use
  EXPECT_EQ(U32At(bytes, movi + 4 + 32) + movi, first + 8);
  // 'idx1' follows the 'movi' list; offsets count from the 'movi' FourCC.
  const int64_t idx1 = movi + 4 + U32At(bytes, movi - 4) - 4;
  ASSERT_EQ(TokenAt(bytes, idx1), "idx1");
  EXPECT_EQ(U32At(bytes, idx1 + 4), 9u * 16);
  EXPECT_EQ(TokenAt(bytes, idx1 + 8), "00dc");
  EXPECT_EQ(U32At(bytes, idx1 + 16), 4u + 2 * 16384);
  ExpectSound(output, ChunksOf(kSamples + "mjpeg_pcm.avi"));
}

TEST(AviWriterTest, WithoutOpenDmlWritesNoIndexesButIdx1) {
  ScratchDir dir;
  const Written out = Write(dir, "mpeg4_mp3", [](RunOptions& o) {
    o.writer.writeOpenDml = false;
    o.writer.writeIdx1 = true;
  });
  ASSERT_TRUE(out.run.result);
  for (const char* token : {"indx", "odml", "ix00"}) EXPECT_EQ(FindToken(out.bytes, token), -1);
  const int64_t idx1 = FindToken(out.bytes, "idx1");
  ASSERT_GT(idx1, 0);
  EXPECT_EQ(U32At(out.bytes, idx1 + 16), 4u);
  const std::vector<long> packets =
      HaveFfmpeg() ? PacketCounts(kSamples + "mpeg4_mp3.avi") : std::vector<long>();
  ExpectSound(out.path, ChunksOf(kSamples + "mpeg4_mp3.avi"), {}, &packets);
}

TEST(AviWriterTest, StripsStreamsAndRenumbersTheRest) {
  ScratchDir dir;
  const std::string source = kSamples + "two_audio.avi";
  Counts all = ChunksOf(source);
  RunOptions options = Quiet();
  options.writer.strippedStreams = {1, 7};  // 7 does not exist
  const std::string output = dir.File("out.avi");
  const ParseRun write = WriteAvi(source, output, options);
  EXPECT_TRUE(Contains(write.lines, "*** Info: Erasing Stream #1"));
  EXPECT_FALSE(Contains(write.lines, "Erasing Stream #7"));
  // The third stream's chunks now carry number 1.
  const Counts expected = {{"00dc", all["00dc"]}, {"01wb", all["02wb"]}};
  std::vector<long> packets;
  if (HaveFfmpeg()) {
    const std::vector<long> source3 = PacketCounts(source);
    packets = {source3[0], source3[2]};
  }
  ExpectSound(output, expected, {}, &packets);
  EXPECT_EQ(ParseBack(output).streams, 2u);
}

TEST(AviWriterTest, ConvertsDvToInterleavedDvWithQ1) {
  ScratchDir dir;
  // A bitmap header followed by only 26 bytes of a DV info structure is
  // made whole as well.
  StreamPlan dv = VideoStream();
  dv.handler = "dvsd";
  dv.format = testsupport::Concat({BitmapFormat(720, 576, FourCC("dvsd")), Bytes(26, 0)});
  const std::string shortInfo = dir.Write("in.avi", BuildAvi({dv}, {{"00dc", RawFrame()}}));
  for (const std::string& source : {std::string("dv_pal"), shortInfo}) {
    SCOPED_TRACE(source);
    const Written out = Write(dir, source, [](RunOptions& o) { o.writer.switchQ1 = true; });
    ASSERT_TRUE(out.run.result);
    EXPECT_EQ(U32At(out.bytes, kAvihBody + 24), 1u);  // streams
    EXPECT_EQ(TokenAt(out.bytes, kFirstStrhBody), "iavs");
    EXPECT_EQ(TokenAt(out.bytes, kFirstStrhBody + 56), "strf");
    EXPECT_EQ(U32At(out.bytes, kFirstStrhBody + 60), 32u);
  }
  // PAL: the 50/60 bit in the source words, 625 lines in the video control.
  const Written pal = Write(dir, "dv_pal", [](RunOptions& o) { o.writer.switchQ1 = true; });
  const uint64_t dvInfo = kFirstStrhBody + 64;
  EXPECT_EQ(U32At(pal.bytes, dvInfo) & (1u << 21), 1u << 21);
  EXPECT_EQ((U32At(pal.bytes, dvInfo + 20) >> 16) & 3u, 1u);
  const std::vector<long> packets = {1};
  ExpectSound(pal.path, {{"00dc", 1}}, {}, &packets);
}

TEST(AviWriterTest, TurnsInterleavedDvBackIntoVideoWithABitmapHeaderWithQ2) {
  ScratchDir dir;
  struct Case {
    std::string source;
    uint32_t height, imageSize;
    Counts chunks;  // of the type 2 file
  };
  // The NTSC sample's one frame has no sound; ffmpeg's DV muxer puts the
  // sound into the frames, where -q2 finds it.
  std::vector<Case> cases = {{kSamples + "dv_ntsc.avi", 480, 120000, {{"00dc", 1}}}};
  if (HaveFfmpeg()) {
    const std::string dv = dir.File("pal.dv"), avi = dir.File("pal.avi");
    RunCommand(
        "/usr/bin/ffmpeg -nostdin -v error -f lavfi -i testsrc=size=720x576:rate=25 -f lavfi -i "
        "sine=r=48000 -t 1 -c:v dvvideo -pix_fmt yuv420p -c:a pcm_s16le -ac 2 -f dv " +
        dv + " && /usr/bin/ffmpeg -nostdin -v error -i " + dv + " -c copy " + avi);
    cases.push_back({avi, 576, 144000, {{"00dc", 25}, {"01wb", 25}}});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.source);
    RunOptions options = Quiet();
    options.writer.switchQ1 = true;
    ASSERT_TRUE(WriteAvi(c.source, dir.File("type1.avi"), options).result);
    options = Quiet();
    options.scan.switchQ2 = true;
    const std::string output = dir.File("type2.avi");
    ASSERT_TRUE(WriteAvi(dir.File("type1.avi"), output, options).result);
    const Bytes bytes = ReadFile(output);
    EXPECT_EQ(TokenAt(bytes, kFirstStrhBody), "vids");
    EXPECT_EQ(TokenAt(bytes, kFirstStrhBody + 4), "dvsd");
    // A bitmap info header, then the 32-byte DV info structure.
    const uint64_t format = kFirstStrhBody + 64;
    EXPECT_EQ(U32At(bytes, format - 4), 72u);
    EXPECT_EQ(U32At(bytes, format), 40u);
    EXPECT_EQ(U32At(bytes, format + 4), 720u);
    EXPECT_EQ(U32At(bytes, format + 8), c.height);
    EXPECT_EQ(U16At(bytes, format + 12), 1u);
    EXPECT_EQ(U16At(bytes, format + 14), 24u);
    EXPECT_EQ(TokenAt(bytes, format + 16), "dvsd");
    EXPECT_EQ(U32At(bytes, format + 20), c.imageSize);
    EXPECT_EQ((U32At(bytes, format + 40 + 16) >> 21) & 1u, c.height == 576 ? 1u : 0u);
    ExpectSound(output, c.chunks);
    if (!HaveFfmpeg()) continue;
    const std::vector<long> packets = PacketCounts(output);
    ASSERT_EQ(packets.size(), c.chunks.size());
    EXPECT_EQ(packets[0], static_cast<long>(c.chunks.at("00dc")));
  }
}

TEST(AviWriterTest, HeadersCountTheRowsOfATopDownBitmap) {
  ScratchDir dir;
  // The second height has no positive counterpart; nothing plays it.
  const struct {
    int32_t height, rows;
    bool plays;
  } cases[] = {{-2, 2, true},
               {std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max(), false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.height);
    StreamPlan video = VideoStream();
    const Bytes height = testsupport::Le32(static_cast<uint32_t>(c.height));
    std::copy(height.begin(), height.end(), video.format.begin() + 8);
    const std::string source = dir.Write("in.avi", BuildAvi({video}, {{"00dc", RawFrame()}}));
    const std::string output = dir.File("out.avi");
    ASSERT_TRUE(WriteAvi(source, output, Quiet()).result);
    const Bytes bytes = ReadFile(output);
    EXPECT_EQ(U32At(bytes, kAvihBody + 36), static_cast<uint32_t>(c.rows));
    EXPECT_EQ(static_cast<int16_t>(U16At(bytes, kFirstStrhBody + 54)),
              static_cast<int16_t>(c.rows));
    // The format keeps the top-down order.
    EXPECT_EQ(U32At(bytes, kFirstStrhBody + 64 + 8), static_cast<uint32_t>(c.height));
    if (c.plays) ExpectSound(output, {{"00dc", 1}});
  }
}

TEST(AviWriterTest, FlagsEveryAudioChunkAsKeyFrame) {
  ScratchDir dir;
  // Audio first, with no index at all or with one that flags no audio chunk.
  std::vector<ChunkPlan> chunks;
  for (int i = 0; i < 3; ++i) {
    chunks.push_back({"01wb", Bytes(640, 0), false});
    chunks.push_back({"00dc", RawFrame()});
  }
  for (const bool withIdx1 : {false, true}) {
    SCOPED_TRACE(withIdx1);
    const std::string source =
        dir.Write("in.avi", BuildAvi({VideoStream(), PcmStream()}, chunks, 40000, withIdx1));
    RunOptions options = Quiet();
    options.writer.writeIdx1 = true;
    const std::string output = dir.File("out.avi");
    const ParseRun write = WriteAvi(source, output, options);
    ASSERT_TRUE(write.result);
    EXPECT_FALSE(Contains(write.lines, "First frame is not a Keyframe"));
    const Bytes bytes = ReadFile(output);
    const int64_t idx1 = FindToken(bytes, "idx1");
    ASSERT_GT(idx1, 0);
    const uint64_t entries = static_cast<uint64_t>(idx1) + 8;
    uint32_t audioKeys = 0;
    for (uint64_t at = entries; at < entries + U32At(bytes, idx1 + 4); at += 16) {
      audioKeys += TokenAt(bytes, at) == "01wb" && (U32At(bytes, at + 4) & 0x10u) != 0;
    }
    EXPECT_EQ(audioKeys, 3u);
    // The audio's standard index: no entry has the not-a-key-frame bit.
    const int64_t indx1 = FindToken(bytes, "indx", FindToken(bytes, "indx") + 4);
    const uint64_t standard = U32At(bytes, indx1 + 32);
    ASSERT_EQ(U32At(bytes, standard + 12), 3u);
    for (uint64_t entry = 0; entry < 3; ++entry) {
      EXPECT_EQ(U32At(bytes, standard + 32 + 8 * entry + 4), 640u);
    }
  }
}

TEST(AviWriterTest, WritesStandardIdsForChunksNumberedAtTheEnd) {
  ScratchDir dir;
  // Some writers put the stream number last ('dc00'); the copy uses '00dc'.
  const std::string source = dir.Write(
      "in.avi", BuildAvi({VideoStream()}, {{"dc00", RawFrame(1)}, {"dc00", RawFrame(2)}}));
  const std::string output = dir.File("out.avi");
  ASSERT_TRUE(WriteAvi(source, output, Quiet()).result);
  const std::vector<long> packets = {2};
  ExpectSound(output, {{"00dc", 2}}, {}, &packets);
}

TEST(AviWriterTest, PaddedLayoutStartsTheDataOnA2048ByteBoundary) {
  ScratchDir dir;
  const Written out = Write(dir, "mjpeg_pcm", [](RunOptions& o) {
    o.writer.tightAvi = false;
    o.writer.writeOpenDml = false;
  });
  const int64_t movi = FindToken(out.bytes, "movi");
  EXPECT_EQ((movi + 4) % 2048, 0);
  const int64_t junk = FindToken(out.bytes, "JUNK");
  ASSERT_GT(junk, 0);
  EXPECT_EQ(junk + 8 + U32At(out.bytes, junk + 4), movi - 8);
  EXPECT_EQ(TokenAt(out.bytes, junk + 8) + TokenAt(out.bytes, junk + 12),
            "Clipsmith 1.4.2"s.substr(0, 8));
  ExpectSound(out.path, ChunksOf(kSamples + "mjpeg_pcm.avi"));
}

TEST(AviWriterTest, CutsAVideoOnlyFileByFrameNumbers) {
  ScratchDir dir;
  RunOptions options = Quiet();
  options.writer.firstFrame = 2;
  options.writer.lastFrame = 4;
  const std::string output = dir.File("cut.avi");
  const ParseRun write = WriteAvi(kSamples + "rawvideo.avi", output, options);
  EXPECT_FALSE(Contains(write.lines, "Cutting audio streams is not supported!"));
  const std::vector<long> packets = {3};
  ExpectSound(output, {{"00dc", 3}}, {}, &packets);
  const Bytes bytes = ReadFile(output);
  EXPECT_EQ(U32At(bytes, kAvihBody + 16), 3u);        // total frames
  EXPECT_EQ(U32At(bytes, kFirstStrhBody + 32), 3u);   // stream length

  // With audio the cut still happens, on video frames only, with a warning.
  const ParseRun mixed = WriteAvi(kSamples + "mjpeg_pcm.avi", dir.File("mixed.avi"), options);
  EXPECT_TRUE(Contains(mixed.lines, "*** Warning: Cutting audio streams is not supported!"));
  EXPECT_EQ(ParseBack(dir.File("mixed.avi")).chunks.at("00dc"), 3u);
}

TEST(AviWriterTest, SetsANewVideoRateAndReducesTheSourceRate) {
  ScratchDir dir;
  RunOptions options = Quiet();
  options.writer.videoFps = 25.0;
  const std::string output = dir.File("fps.avi");
  ASSERT_TRUE(WriteAvi(kSamples + "mjpeg_pcm.avi", output, options).result);
  Bytes bytes = ReadFile(output);
  EXPECT_EQ(U32At(bytes, kAvihBody), 40000u);
  EXPECT_EQ(U32At(bytes, kFirstStrhBody + 20), 10000u);
  EXPECT_EQ(U32At(bytes, kFirstStrhBody + 24), 250000u);
  ExpectSound(output, ChunksOf(kSamples + "mjpeg_pcm.avi"));

  // 50 / 2 becomes 25 / 1; 30000 / 1001 stays; a scale of 0 is taken as 1;
  // without a rate the source's time per frame stays.
  const struct {
    uint32_t scale, rate, wantScale, wantRate, wantMicroSeconds;
  } cases[] = {{2, 50, 1, 25, 40000},
               {1001, 30000, 1001, 30000, 33366},
               {0, 25, 1, 25, 40000},
               {1, 0, 1, 0, 12345}};
  for (const auto& c : cases) {
    const std::string source =
        dir.Write("rate.avi", BuildAvi({VideoStream(c.scale, c.rate)},
                                       {{"00dc", RawFrame()}, {"00dc", RawFrame()}}, 12345));
    ASSERT_TRUE(WriteAvi(source, dir.File("rate_out.avi"), Quiet()).result);
    bytes = ReadFile(dir.File("rate_out.avi"));
    EXPECT_EQ(U32At(bytes, kFirstStrhBody + 20), c.wantScale) << c.scale << "/" << c.rate;
    EXPECT_EQ(U32At(bytes, kFirstStrhBody + 24), c.wantRate);
    EXPECT_EQ(U32At(bytes, kAvihBody), c.wantMicroSeconds);
  }
}

TEST(AviWriterTest, TimesPcmByItsFormatAndMeasuresOtherAudioWithoutScale) {
  ScratchDir dir;
  // One second of video (25 frames) and one second of audio at 16000 bytes
  // per second whose header claims a scale of 0.
  std::vector<ChunkPlan> chunks;
  for (int i = 0; i < 25; ++i) {
    chunks.push_back({"00dc", RawFrame()});
    chunks.push_back({"01wb", Bytes(640, 0)});
  }
  StreamPlan pcm = PcmStream(8000);
  pcm.scale = 0;
  // The same stream tagged as MPEG audio: only the bytes tell its rate.
  StreamPlan mpeg = pcm;
  mpeg.format[0] = 0x55;
  // Behind the first stream list ('strh', 'strf' and 'indx').
  const uint64_t audioStrh = kFirstStrhBody + 56 + 8 + 40 + 16384 + 12 + 8;

  // PCM, with "-fa" or without: 8000 blocks of 2 bytes per second.
  const std::string pcmSource = dir.Write("pcm.avi", BuildAvi({VideoStream(), pcm}, chunks));
  for (const bool fix : {false, true}) {
    SCOPED_TRACE(fix);
    RunOptions options = Quiet();
    options.writer.fixAudioScale = fix;
    ASSERT_TRUE(WriteAvi(pcmSource, dir.File("pcm_out.avi"), options).result);
    const Bytes bytes = ReadFile(dir.File("pcm_out.avi"));
    ASSERT_EQ(TokenAt(bytes, audioStrh), "auds");
    EXPECT_EQ(U32At(bytes, audioStrh + 20), 2u);
    EXPECT_EQ(U32At(bytes, audioStrh + 24), 16000u);
    EXPECT_EQ(U32At(bytes, audioStrh + 44), 2u);
    EXPECT_EQ(U32At(bytes, audioStrh + 32), 8000u);
    ExpectSound(dir.File("pcm_out.avi"), {{"00dc", 25}, {"01wb", 25}});
  }

  // The measured path: 16000 bytes over one second.
  const std::string mpegSource = dir.Write("mpeg.avi", BuildAvi({VideoStream(), mpeg}, chunks));
  ASSERT_TRUE(WriteAvi(mpegSource, dir.File("mpeg_out.avi"), Quiet()).result);
  Bytes bytes = ReadFile(dir.File("mpeg_out.avi"));
  EXPECT_EQ(U32At(bytes, audioStrh + 20), 1u);       // scale 0 taken as 1...
  EXPECT_EQ(U32At(bytes, audioStrh + 24), 16000u);   // rate: bytes per second
  EXPECT_EQ(U32At(bytes, audioStrh + 32), 16000u);   // length in scale units

  // Half a second of video measures nothing: the length counts samples of
  // the stated size.
  chunks.resize(26);
  const std::string shortSource = dir.Write("short.avi", BuildAvi({VideoStream(), mpeg}, chunks));
  ASSERT_TRUE(WriteAvi(shortSource, dir.File("short_out.avi"), Quiet()).result);
  bytes = ReadFile(dir.File("short_out.avi"));
  EXPECT_EQ(U32At(bytes, audioStrh + 20), 1u);
  EXPECT_EQ(U32At(bytes, audioStrh + 32), 13u * 640 / 2);
}

TEST(AviWriterTest, SplitsIntoNumberedFilesThatEachPlay) {
  const std::string capture = GeneratedCapture();
  if (capture.empty()) GTEST_SKIP() << "needs ffmpeg";
  ScratchDir dir;
  RunOptions options = Quiet();
  options.writer.splitSize = 1048576;
  options.writer.writeIdx1 = true;
  const ParseRun write = WriteAvi(capture, dir.File("out.avi"), options);
  ASSERT_TRUE(write.result);
  Counts total;
  std::vector<long> packets(2, 0);
  int files = 0;
  for (;; ++files) {
    const std::string part = dir.File("out.0" + std::to_string(files) + ".avi");
    if (!std::filesystem::exists(part)) break;
    SCOPED_TRACE(part);
    EXPECT_LE(std::filesystem::file_size(part), options.writer.splitSize);
    const Bytes head = ReadFile(part);
    EXPECT_EQ(TokenAt(head, 8), "AVI ");
    const ParsedBack back = ParseBack(part);
    EXPECT_EQ(ProblemLines(back.run.lines), Lines());
    for (const auto& [id, count] : back.chunks) total[id] += count;
    // Each file's 'idx1' lists its own chunks, and only those.
    const int64_t idx1 = FindToken(head, "idx1");
    ASSERT_GT(idx1, 0);
    EXPECT_EQ(U32At(head, idx1 + 4) / 16, back.entriesPerSegment.at(1));
    EXPECT_EQ(DecodeComplaints(part), "");
    const std::vector<long> partPackets = PacketCounts(part);
    ASSERT_EQ(partPackets.size(), 2u);
    packets[0] += partPackets[0];
    packets[1] += partPackets[1];
  }
  EXPECT_GE(files, 3);
  EXPECT_EQ(total, ChunksOf(capture));
  EXPECT_EQ(packets, PacketCounts(capture));
}

TEST(AviWriterTest, ContinuesInAvixSegmentsPastTheMoviLimit) {
  const std::string capture = GeneratedCapture();
  if (capture.empty()) GTEST_SKIP() << "needs ffmpeg";
  ScratchDir dir;
  RunOptions options = Quiet();
  options.writer.moviChunkLimit = 1048576;
  options.writer.writeIdx1 = true;
  const std::string output = dir.File("out.avi");
  const ParseRun write = WriteAvi(capture, output, options);
  EXPECT_TRUE(Contains(write.lines,
                       "*** Warning: Write Segment #2 - Idx1 Index superfluous with ODML 1.02 "
                       "compliant multisegment AVI!"));
  const ParsedBack back = ParseBack(output);
  ASSERT_GE(back.entriesPerSegment.size(), 3u);
  for (const auto& [segment, entries] : back.entriesPerSegment) {
    EXPECT_GT(entries, 0u) << "segment " << segment;
  }
  const Bytes bytes = ReadFile(output);
  // Every 'AVIX' segment: RIFF size = 'movi' list size + 12, no 'idx1'.
  for (int64_t at = FindToken(bytes, "AVIX"); at > 0; at = FindToken(bytes, "AVIX", at + 4)) {
    EXPECT_EQ(TokenAt(bytes, at + 12), "movi");
    EXPECT_EQ(U32At(bytes, at - 4), U32At(bytes, at + 8) + 12);
  }
  EXPECT_EQ(FindToken(bytes, "idx1", static_cast<uint64_t>(FindToken(bytes, "AVIX"))), -1);
  const std::vector<long> packets = PacketCounts(capture);
  ExpectSound(output, ChunksOf(capture), {}, &packets);
}

TEST(AviWriterTest, RepairsTruncatedAndGarbledCaptures) {
  const std::string capture = GeneratedCapture();
  if (capture.empty()) GTEST_SKIP() << "needs ffmpeg";
  ScratchDir dir;
  const Bytes bytes = ReadFile(capture);
  // Cut in the middle of a frame.
  const std::string truncated = dir.Write("truncated.avi", Bytes(bytes.begin(), bytes.begin() + 1500001));
  // Three chunks overwritten, header and all, by bytes that name no chunk.
  Bytes garbled = bytes;
  for (int64_t at : {FindToken(bytes, "00dc", 400000), FindToken(bytes, "01wb", 1200000),
                     FindToken(bytes, "00dc", 2000000)}) {
    ASSERT_GT(at, 0);
    const uint32_t size = U32At(bytes, at + 4);
    for (uint64_t i = 0; i < 8 + size; ++i) garbled[at + i] = static_cast<uint8_t>(0xA5 ^ (i * 7));
  }
  const std::string garbledPath = dir.Write("garbled.avi", garbled);
  for (const std::string& source : {truncated, garbledPath}) {
    SCOPED_TRACE(source);
    const std::string output = source + ".out.avi";
    ASSERT_TRUE(std::filesystem::exists(source));
    WriteAvi(source, output, Quiet());
    const Counts found = ChunksOf(source);
    ASSERT_FALSE(found.empty());
    const std::vector<long> packets = {static_cast<long>(found.at("00dc")),
                                       static_cast<long>(found.at("01wb"))};
    ExpectSound(output, found, {}, &packets);
  }
}

TEST(AviWriterTest, StartsASecondStandardIndexAfter2044Chunks) {
  ScratchDir dir;
  std::vector<ChunkPlan> chunks(2045, ChunkPlan{"00dc", RawFrame()});
  chunks[0].keyFrame = false;
  chunks[5].keyFrame = false;
  const std::string source = dir.Write("many.avi", BuildAvi({VideoStream()}, chunks));
  const std::string output = dir.File("out.avi");
  const ParseRun write = WriteAvi(source, output, Quiet());
  ASSERT_TRUE(write.result);
  EXPECT_TRUE(Contains(write.lines, "*** Warning: First frame is not a Keyframe (will get forced to it)!"));
  const Bytes bytes = ReadFile(output);
  const int64_t indx = FindToken(bytes, "indx");
  ASSERT_GT(indx, 0);
  EXPECT_EQ(U32At(bytes, indx + 12), 2u);                // entries in use
  EXPECT_EQ(U32At(bytes, indx + 32 + 12), 2044u);        // duration of the first
  EXPECT_EQ(U32At(bytes, indx + 48 + 12), 1u);           // and of the second
  const uint64_t second = U32At(bytes, indx + 48);
  EXPECT_EQ(TokenAt(bytes, second), "ix00");
  EXPECT_EQ(U32At(bytes, second + 12), 1u);  // entries in use
  // A frame that is no key frame has bit 31 of its size set.
  const uint64_t first = U32At(bytes, indx + 32);
  EXPECT_EQ(U32At(bytes, first + 32 + 4), kRawFrameSize);  // forced to a key frame
  EXPECT_EQ(U32At(bytes, first + 32 + 5 * 8 + 4), 0x80000000u | kRawFrameSize);
  EXPECT_EQ(U32At(bytes, first + 32 + 6 * 8 + 4), kRawFrameSize);
  ExpectSound(output, {{"00dc", 2045}});
}

TEST(AviWriterTest, StopsWhenAStreamNeedsMoreStandardIndexesThanTheSuperIndexHolds) {
  ScratchDir dir;
  // One chunk more than 1022 standard indexes of 2044 entries can list; empty
  // chunks keep the file small.
  const uint32_t chunks = 1022 * 2044 + 1;
  Bytes bytes = BuildAvi({VideoStream()}, {}, 40000, false);
  const int64_t movi = FindToken(bytes, "movi");
  ASSERT_EQ(static_cast<size_t>(movi) + 4, bytes.size());
  const Bytes empty = testsupport::Concat({testsupport::TextBytes("00dc"), testsupport::Le32(0)});
  bytes.reserve(bytes.size() + 8 * size_t{chunks});
  for (uint32_t i = 0; i < chunks; ++i) bytes.insert(bytes.end(), empty.begin(), empty.end());
  const auto putU32 = [&bytes](size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
  };
  putU32(4, static_cast<uint32_t>(bytes.size() - 8));
  putU32(static_cast<size_t>(movi) - 4, static_cast<uint32_t>(bytes.size() - movi));
  const std::string source = dir.Write("huge.avi", bytes);

  const std::string output = dir.File("out.avi");
  const ParseRun write = WriteAvi(source, output, Quiet());
  EXPECT_FALSE(write.result);
  EXPECT_TRUE(Contains(write.lines, "*** Fatal: More than 1022 'ix##'-Indexes for Stream #0, "
                                    "'indx'-Index full, writing stopped!"));
  // What fits is a complete file.
  const ParsedBack back = ParseBack(output);
  EXPECT_EQ(ProblemLines(back.run.lines), Lines());
  EXPECT_EQ(back.chunks, (Counts{{"00dc", chunks - 1}}));
  const Bytes written = ReadFile(output);
  const int64_t indx = FindToken(written, "indx");
  EXPECT_EQ(U32At(written, indx + 12), 1022u);
}

TEST(AviWriterTest, SegmentAndFileLimitsNeverLeaveThemEmpty) {
  ScratchDir dir;
  const std::string source = kSamples + "mjpeg_pcm.avi";
  // Every chunk is larger than what the limit leaves room for: one chunk per
  // segment, and the write still ends.
  const auto oneChunk = [](RunOptions& o) { o.writer.moviChunkLimit = 1; };
  ASSERT_TRUE(Write(dir, source, oneChunk, "segments.avi").run.result);
  EXPECT_EQ(ParseBack(dir.File("segments.avi")).entriesPerSegment.size(), 9u);
  ExpectSound(dir.File("segments.avi"), ChunksOf(source));
  // A frame that opens the next segment is counted once for the cut.
  ASSERT_TRUE(Write(
                  dir, source,
                  [](RunOptions& o) {
                    o.writer.moviChunkLimit = 1;
                    o.writer.lastFrame = 3;
                  },
                  "cut.avi")
                  .run.result);
  EXPECT_EQ(ChunksOf(dir.File("cut.avi")).at("00dc"), 3u);
  ASSERT_TRUE(Write(
                  dir, source, [](RunOptions& o) { o.writer.splitSize = 1; }, "files.avi")
                  .run.result);
  EXPECT_TRUE(std::filesystem::exists(dir.File("files.08.avi")));
  EXPECT_FALSE(std::filesystem::exists(dir.File("files.09.avi")));
}

// Writes that cannot be done as asked: the verdict and the message, and the
// source is never touched.
TEST(AviWriterTest, ReportsWhatItCannotWriteAndNeverTouchesTheSource) {
  ScratchDir dir;
  const std::string source = dir.Write("in.avi", ReadFile(kSamples + "mjpeg_pcm.avi"));
  const Bytes original = ReadFile(source);
  const struct {
    const char* name;
    std::function<void(RunOptions&)> edit;
    std::string output;
    bool result;
    std::string message;
  } rows[] = {
      {"onto the source", nullptr, "in.avi", false, "Output file is the input file!"},
      {"split name without a dot", [](RunOptions& o) { o.writer.splitSize = 1048576; }, "nodot",
       false,
       "*** Error: Can't name split file #0: the output name '" + dir.File("nodot") +
           "' has no '.'!"},
      {"no stream left",
       [](RunOptions& o) {
         o.writer.strippedStreams = {0, 1};
       },
       "none.avi", false, "*** Warning: Nothing to do, no stream left!"},
      {"index unchecked", [](RunOptions& o) { o.scan.checkIndexes = false; }, "unchecked.avi", true,
       "*** Warning: Index not checked (-c), can't write Keyframe information!"},
      // Without OpenDML a second segment is impossible; what did fit is a
      // finished file.
      {"second segment without OpenDML",
       [](RunOptions& o) {
         o.writer.moviChunkLimit = 1;
         o.writer.writeOpenDml = false;
       },
       "single.avi", false,
       "*** Fatal: Write Segment #2 - Without ODML 1.02 only one Segment possible - don't use -ro "
       "switch!"},
      // A limit whose segments would not fit the 32-bit sizes is lowered.
      {"segment limit over 32 bits", [](RunOptions& o) { o.writer.moviChunkLimit = 8489266296ull; },
       "capped.avi", true, "*** Warning: 'movi'-Chunk Size limited to 4294967231 Bytes"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const Written out = Write(dir, source, row.edit, row.output);
    EXPECT_EQ(out.run.result, row.result);
    EXPECT_TRUE(Contains(out.run.lines, row.message));
    EXPECT_EQ(ReadFile(source), original);
  }
  EXPECT_FALSE(std::filesystem::exists(dir.File("none.avi")));
  ExpectSound(dir.File("single.avi"), {{"00dc", 1}});
}

// A model made by hand, for what no parse produces: one stream per type
// given, entries added by the caller.
AviModel HandMadeModel(const std::vector<std::string>& types) {
  AviModel model;
  AviMainHeader main;
  main.microSecPerFrame = 40000;
  main.streams = static_cast<uint32_t>(types.size());
  AviModel::EncodeMainHeader(main, model.avih.data());
  model.avihSeen = true;
  for (const std::string& type : types) {
    AviStream& stream = model.streams.emplace_back();
    const bool video = type == "vids";
    AviStreamHeader header;
    header.type = video ? FourCC("vids") : FourCC("auds");
    header.handler = video ? FourCC("DIB ") : 0;
    header.scale = video ? 1 : 2;
    header.rate = video ? 25 : 16000;
    header.sampleSize = video ? 0 : 2;
    AviModel::EncodeStreamHeader(header, stream.strh.data());
    stream.strhSeen = true;
    stream.strf = video ? BitmapFormat(4, 2, 0) : PcmFormat(8000, 1, 16);
  }
  return model;
}

void AddEntry(AviModel& model, const std::string& id, uint32_t size, uint64_t position) {
  MoviEntry& entry = model.movi.emplace_back();
  entry.chunkId = FourCCFromBytes(reinterpret_cast<const uint8_t*>(id.data()));
  entry.size = size;
  entry.flags = kKeyFrameFlag;
  entry.payloadPosition = position;
}

// Runs the writer over `model` with `source` as the file it copies from.
bool WriteModel(AviModel& model, const std::string& source, const std::string& output,
                Lines& lines) {
  std::ostringstream out, err;
  bool written = false;
  {
    ReportOutput report(out, err, ConsoleState());
    const RunOptions options = Quiet();
    CIOService io(options, report);
    if (!io.OpenForReading(source)) return false;
    uint32_t progress = 0;
    written = AviWriter(io, options, Report(report), model, progress, AviWriter::SourceFacts())
                  .Write(output, 1);
  }
  lines = testsupport::SplitLines(out.str());
  return written;
}

TEST(AviWriterTest, KeepsOneIndexRecordPerStreamEvenWithoutAnIdToIndexUnder) {
  ScratchDir dir;
  const std::string source = dir.Write("in.bin", Bytes(64, 0x11));
  // Stream 0's chunks carry an id no index may use; stream 1's are indexed
  // under its own number all the same.
  AviModel model = HandMadeModel({"vids", "auds"});
  AddEntry(model, "0000", kRawFrameSize, 8);
  AddEntry(model, "01wb", 8, 40);
  AddEntry(model, "01wb", 8, 48);
  Lines lines;
  ASSERT_TRUE(WriteModel(model, source, dir.File("out.avi"), lines));
  const Bytes bytes = ReadFile(dir.File("out.avi"));
  const int64_t indx0 = FindToken(bytes, "indx");
  const int64_t indx1 = FindToken(bytes, "indx", indx0 + 4);
  ASSERT_GT(indx1, 0);
  EXPECT_EQ(U32At(bytes, indx0 + 12), 0u);
  EXPECT_EQ(TokenAt(bytes, indx1 + 16), "01wb");
  EXPECT_EQ(U32At(bytes, indx1 + 12), 1u);
  const uint64_t standard = U32At(bytes, indx1 + 32);
  EXPECT_EQ(TokenAt(bytes, standard), "ix01");
  EXPECT_EQ(U32At(bytes, standard + 12), 2u);
}

TEST(AviWriterTest, AFailedReadOfTheSourceStillFinishesTheHeaderAndFails) {
  ScratchDir dir;
  const std::string source = dir.Write(
      "in.avi", BuildAvi({VideoStream()}, {{"00dc", RawFrame(1)}, {"00dc", RawFrame(2)}}));
  // The model of that file, with its second chunk placed beyond the end as if
  // the file had been cut after it was parsed.
  AviModel model = HandMadeModel({"vids"});
  const Bytes bytes = ReadFile(source);
  AddEntry(model, "00dc", kRawFrameSize, static_cast<uint64_t>(FindToken(bytes, "00dc")) + 8);
  AddEntry(model, "00dc", kRawFrameSize, bytes.size() + 100);
  Lines lines;
  EXPECT_FALSE(WriteModel(model, source, dir.File("out.avi"), lines));
  EXPECT_TRUE(Contains(lines, "*** Fatal: File ends prematurely!"));
  // The header was written over the reserved area.
  const Bytes output = ReadFile(dir.File("out.avi"));
  EXPECT_EQ(TokenAt(output, 0), "RIFF");
  EXPECT_EQ(U32At(output, 4) + 8, output.size());
  EXPECT_EQ(TokenAt(output, kFirstStrhBody), "vids");
}

TEST(AviWriterTest, VerifyOptionParsesTheWrittenFileRightAfter) {
  ScratchDir dir;
  const std::string output = dir.File("verified.avi");
  std::ostringstream out, err;
  Lines lines;
  {
    ReportOutput report(out, err, ConsoleState());
    const int status = Driver::Run({"clipsmith", "-d", "-v1", kSamples + "mjpeg_pcm.avi", output},
                                   report, [] {});
    EXPECT_EQ(status, 0);
  }
  lines = testsupport::SplitLines(out.str());
  EXPECT_TRUE(Contains(lines, "Writing '" + output + "'"));
  EXPECT_TRUE(Contains(lines, "Reading 'verified.avi'"));
  EXPECT_TRUE(Contains(lines, "Total Files processed: 2"));
  EXPECT_EQ(ProblemLines(lines), Lines());
}

}  // namespace
