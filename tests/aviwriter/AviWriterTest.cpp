#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "aviwriter/AviWriter.h"
#include "aviwriter/AviWriterTestSupport.h"
#include "core/FourCC.h"
#include "riff/CAVIParser.h"

namespace {

using namespace avitest;
using Lines = std::vector<std::string>;
using Counts = std::map<std::string, uint32_t>;
using Edit = std::function<void(RunOptions&)>;

const std::string kSamples = std::string(CLIPSMITH_TEST_DATA) + "/avi/";

// Offsets in a written file (tight layout) of the 'avih' and first 'strh' bodies.
constexpr uint64_t kAvihBody = 32;
constexpr uint64_t kFirstStrhBody = 108;

// The entries a parse of `path` finds per chunk id: what a faithful copy holds.
Counts ChunksOf(const std::string& path) { return ParseBack(path).chunks; }

// A written file parses with no problem the source did not have, holds the
// expected chunks, and ffmpeg decodes it cleanly, packet for packet (if given).
void ExpectSound(const std::string& written, const Counts& expectedChunks,
                 const Lines& sourceProblems = {}, const std::vector<long>& packets = {}) {
  SCOPED_TRACE(written);
  const ParsedBack back = ParseBack(written);
  for (const std::string& problem : ProblemLines(back.run.lines)) {
    EXPECT_TRUE(HasText(sourceProblems, problem.substr(problem.find("*** ")))) << problem;
  }
  EXPECT_EQ(back.chunks, expectedChunks);
  if (!HaveFfmpeg()) return;
  EXPECT_EQ(DecodeComplaints(written), "");
  if (packets.empty()) return;
  EXPECT_EQ(PacketCounts(written), packets);
}

struct Written {
  ParseRun run;
  std::string path;
  Bytes bytes;
};

// The writer run on a parsed model changed by `edit`, for what no parse produces.
std::function<void(AviModel&)> modelEdit;

class EditingParser : public CAVIParser {
 public:
  EditingParser(RunOptions options, ReportOutput& output) : CAVIParser(std::move(options), output) {
    SetOutputStage([](CAVIParser& parsed, const std::string& path, int depth) {
      modelEdit(parsed.MutableModel());
      return AviWriter(parsed, parsed.Options(), parsed.Reporter(), parsed.MutableModel(),
                       parsed.ProgressCounter(), {})
          .Write(path, depth);
    });
  }
};

class AviWriterTest : public ::testing::Test {
 protected:
  // A write of `source` (a sample's name or a path) into `name` in `dir`, with
  // `options` changed by `edit`.
  Written Write(const std::string& source, const Edit& edit = nullptr,
                const std::string& name = "out.avi") {
    RunOptions run = options;
    if (edit) edit(run);
    Written written;
    written.path = dir.File(name);
    const bool sample = source.find('/') == std::string::npos;
    written.run = WriteAvi(sample ? kSamples + source + ".avi" : source, written.path, run);
    written.bytes = ReadFile(written.path);
    return written;
  }

  // `frames` of 25 fps video, each followed by an audio chunk of `bytes`.
  std::string AudioFile(const std::string& name, StreamPlan audio, int frames = 40,
                        size_t bytes = 1280) {
    std::vector<ChunkPlan> chunks;
    for (int i = 0; i < frames; ++i) {
      chunks.push_back({"00dc", RawFrame()});
      chunks.push_back({"01wb", Bytes(bytes, 0)});
    }
    return dir.Write(name, BuildAvi({VideoStream(), audio}, chunks));
  }

  // What `tool` makes ($OUT) of a 2-second clip ffmpeg encodes with `codecs` into
  // $IN; "" where either program is missing.
  std::string ToolFile(const std::string& tool, const std::string& codecs, const std::string& clip,
                       const std::string& command) {
    if (!HaveFfmpeg() || !Installed(tool)) return "";
    const std::string out = dir.File(tool + ".avi");
    RunCommand(
        "IN=" + Quoted(dir.File(clip)) + "; OUT=" + Quoted(out) +
        "; /usr/bin/ffmpeg -nostdin -v error -f lavfi -i testsrc=size=64x48:rate=25:duration=2 "
        "-f lavfi -i sine=sample_rate=22050:duration=2 " +
        codecs + " \"$IN\" && " + command);
    return std::filesystem::exists(out) ? out : "";
  }

  ParseRun WriteEdited(const Bytes& source, std::function<void(AviModel&)> edit) {
    modelEdit = std::move(edit);
    return RunParserOnFile<EditingParser>(dir.Write("in.avi", source), Quiet(), nullptr,
                                          dir.File("out.avi"));
  }

  ScratchDir dir;
  RunOptions options = Quiet();
};
using AviWriterAudioHeaderTest = AviWriterTest;

TEST_F(AviWriterTest, RewritesEverySampleIntoAFileThatParsesAndPlays) {
  // pal8: palette changes, which the video's standard index names as frames.
  for (const std::string name : {"mjpeg_pcm", "mpeg4_mp3", "msmpeg4v2_adpcm", "rawvideo", "pal8",
                                 "two_audio", "audio_only", "dv_pal", "dv_ntsc"}) {
    SCOPED_TRACE(name);
    const std::string source = kSamples + name + ".avi";
    const Written out = Write(name, nullptr, name + ".avi");
    EXPECT_TRUE(out.run.result);
    EXPECT_TRUE(HasText(out.run.lines, "Writing '" + out.path + "'"));
    // The DV samples hold no audio chunk: their empty audio stream is dropped.
    std::vector<long> packets = PacketCounts(source);
    packets.erase(std::remove(packets.begin(), packets.end(), 0), packets.end());
    ExpectSound(out.path, ChunksOf(source), ProblemLines(ParseBack(source).run.lines), packets);
  }
}

TEST_F(AviWriterTest, ReservesIndexPlacesAndPointsIdx1AtTheChunks) {
  const Written out = Write("mjpeg_pcm", [](RunOptions& o) { o.writer.writeIdx1 = true; });
  ASSERT_TRUE(out.run.result);
  const Bytes& bytes = out.bytes;
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
  // The odd-sized first chunk: a zero pad byte, the next chunk at an even offset.
  const uint32_t size = U32At(bytes, first + 4);
  ASSERT_EQ(size % 2, 1u);
  EXPECT_EQ(bytes[first + 8 + size], 0);
  EXPECT_EQ(TokenAt(bytes, first + 8 + size + 1), "01wb");
  // The parse back matches both indexes to the chunks.
  EXPECT_EQ(TokenAt(bytes, movi + 4 + U32At(bytes, movi - 4) - 4), "idx1");
  ExpectSound(out.path, ChunksOf(kSamples + "mjpeg_pcm.avi"));
}

// Without OpenDML only 'idx1'; padded, the data starts on 2048 bytes behind 'JUNK'.
TEST_F(AviWriterTest, PaddedLayoutWithoutOpenDmlHasOnlyIdx1) {
  options.writer.tightAvi = options.writer.writeOpenDml = false;
  options.writer.writeIdx1 = true;
  const Written out = Write("mpeg4_mp3");
  ASSERT_TRUE(out.run.result);
  for (const char* token : {"indx", "odml", "ix00"}) EXPECT_EQ(FindToken(out.bytes, token), -1);
  const int64_t movi = FindToken(out.bytes, "movi");
  EXPECT_EQ((movi + 4) % 2048, 0);
  const int64_t junk = FindToken(out.bytes, "JUNK");
  ASSERT_GT(junk, 0);
  EXPECT_EQ(junk + 8 + U32At(out.bytes, junk + 4), movi - 8);
  EXPECT_EQ(TokenAt(out.bytes, junk + 8) + TokenAt(out.bytes, junk + 12), "Clipsmit");
  const int64_t idx1 = FindToken(out.bytes, "idx1", movi);
  ASSERT_GT(idx1, 0);
  EXPECT_EQ(U32At(out.bytes, idx1 + 16), 4u);
  const std::string source = kSamples + "mpeg4_mp3.avi";
  ExpectSound(out.path, ChunksOf(source), {}, PacketCounts(source));
}

TEST_F(AviWriterTest, StripsStreamsAndRenumbersTheRest) {
  const std::string source = kSamples + "two_audio.avi";
  // Stream 7 does not exist.
  const Written out = Write(source, [](RunOptions& o) { o.writer.strippedStreams = {1, 7}; });
  ExpectTexts(out.run.lines, {"*** Info: Erasing Stream #1"}, {"Erasing Stream #7"});
  // The third stream's chunks now carry number 1.
  Counts all = ChunksOf(source);
  std::vector<long> packets = PacketCounts(source);
  if (!packets.empty()) packets.erase(packets.begin() + 1);
  ExpectSound(out.path, {{"00dc", all["00dc"]}, {"01wb", all["02wb"]}}, {}, packets);
  EXPECT_EQ(ParseBack(out.path).headers.size(), 2u);
}

// -q1 makes DV interleaved ('iavs' with the 32-byte DV info as its format),
// -q2 turns that back into video with a bitmap header before the DV info.
TEST_F(AviWriterTest, ConvertsDvToInterleavedWithQ1AndBackWithQ2) {
  struct Case {
    std::string source;
    uint32_t height, imageSize;  // height 0: -q1 only
    Counts chunks;               // of the type 2 file
    std::vector<long> packets;   // of the type 2 file
  };
  // A bitmap header followed by only 26 bytes of DV info is made whole as well.
  StreamPlan dv = VideoStream();
  dv.handler = "dvsd";
  dv.format = Concat({BitmapFormat(720, 576, FourCC("dvsd")), Bytes(26, 0)});
  // The samples' frame has no sound; ffmpeg's DV muxer puts it into the frames.
  std::vector<Case> cases = {
      {dir.Write("short.avi", BuildAvi({dv}, {{"00dc", RawFrame()}})), 0, 0, {}, {}},
      {kSamples + "dv_ntsc.avi", 480, 120000, {{"00dc", 1}}, {1}},
      {kSamples + "dv_pal.avi", 576, 144000, {{"00dc", 1}}, {1}}};
  if (HaveFfmpeg()) {
    const std::string dv = dir.File("pal.dv"), avi = dir.File("pal.avi");
    RunCommand(
        "/usr/bin/ffmpeg -nostdin -v error -f lavfi -i testsrc=size=720x576:rate=25 -f lavfi -i "
        "sine=r=48000 -t 1 -c:v dvvideo -pix_fmt yuv420p -c:a pcm_s16le -ac 2 -f dv " +
        dv + " && /usr/bin/ffmpeg -nostdin -v error -i " + dv + " -c copy " + avi);
    cases.push_back({avi, 576, 144000, {{"00dc", 25}, {"01wb", 25}}, PacketCounts(avi)});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.source);
    const Written type1 = Write(
        c.source, [](RunOptions& o) { o.writer.switchQ1 = true; }, "type1.avi");
    ASSERT_TRUE(type1.run.result);
    EXPECT_EQ(U32At(type1.bytes, kAvihBody + 24), 1u);  // streams
    EXPECT_EQ(TokenAt(type1.bytes, kFirstStrhBody), "iavs");
    EXPECT_EQ(U32At(type1.bytes, kFirstStrhBody + 60), 32u);
    if (c.height == 0) continue;
    // PAL: the 50/60 bit in the source words, 625 lines in the video control.
    const bool pal = c.height == 576;
    EXPECT_EQ((U32At(type1.bytes, kFirstStrhBody + 64) >> 21) & 1u, pal ? 1u : 0u);
    EXPECT_EQ((U32At(type1.bytes, kFirstStrhBody + 64 + 20) >> 16) & 3u, pal ? 1u : 0u);
    const Written out = Write(type1.path, [](RunOptions& o) { o.scan.switchQ2 = true; });
    ASSERT_TRUE(out.run.result);
    const Bytes& bytes = out.bytes;
    EXPECT_EQ(TokenAt(bytes, kFirstStrhBody) + TokenAt(bytes, kFirstStrhBody + 4), "vidsdvsd");
    // A bitmap info header, then the 32-byte DV info structure.
    const uint64_t format = kFirstStrhBody + 64;
    EXPECT_EQ(U32At(bytes, format - 4), 72u);
    const Bytes bitmap = Concat({Le32(40), Le32(720), Le32(c.height), Le16(1), Le16(24),
                                 TextBytes("dvsd"), Le32(c.imageSize)});
    EXPECT_EQ(Bytes(bytes.begin() + format, bytes.begin() + format + 24), bitmap);
    EXPECT_EQ((U32At(bytes, format + 40 + 16) >> 21) & 1u, pal ? 1u : 0u);
    ExpectSound(out.path, c.chunks, {}, c.packets);
    if (c.chunks.size() == 1) ExpectSound(type1.path, c.chunks, {}, {1});
  }
}

// Video headers of a two-frame file (12345 us per frame): rate reduced or set
// anew, bitmap rows counted, chunk ids made standard.
TEST_F(AviWriterTest, VideoHeadersTellTheRateAndTheRows) {
  const int32_t kMin = std::numeric_limits<int32_t>::min();
  const uint32_t kMax = std::numeric_limits<int32_t>::max();
  const struct {
    const char* name;
    uint32_t scale, rate;
    double fps;  // "-f", 0 for none
    int32_t height;
    std::string id;
    uint32_t wantScale, wantRate, wantMicroSeconds, wantRows;
  } rows[] = {
      {"50 / 2 becomes 25 / 1", 2, 50, 0, 2, "00dc", 1, 25, 40000, 2},
      {"30000 / 1001 stays", 1001, 30000, 0, 2, "00dc", 1001, 30000, 33366, 2},
      {"a scale of 0 is taken as 1", 0, 25, 0, 2, "00dc", 1, 25, 40000, 2},
      {"without a rate the time per frame stays", 1, 0, 0, 2, "00dc", 1, 0, 12345, 2},
      {"a new rate", 1001, 30000, 25.0, 2, "00dc", 10000, 250000, 40000, 2},
      {"top-down rows", 1, 25, 0, -2, "00dc", 1, 25, 40000, 2},
      // No positive counterpart; nothing plays it.
      {"top-down without a counterpart", 1, 25, 0, kMin, "00dc", 1, 25, 40000, kMax},
      // Some writers put the stream number last; the copy uses '00dc'.
      {"ids numbered at the end", 1, 25, 0, 2, "dc00", 1, 25, 40000, 2},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    StreamPlan video = VideoStream(row.scale, row.rate);
    PutU32(video.format, 8, static_cast<uint32_t>(row.height));
    const Bytes in = BuildAvi({video}, {{row.id, RawFrame(1)}, {row.id, RawFrame(2)}}, 12345);
    const Written out =
        Write(dir.Write("in.avi", in), [&row](RunOptions& o) { o.writer.videoFps = row.fps; });
    ASSERT_TRUE(out.run.result);
    EXPECT_EQ(U32At(out.bytes, kFirstStrhBody + 20), row.wantScale);
    EXPECT_EQ(U32At(out.bytes, kFirstStrhBody + 24), row.wantRate);
    EXPECT_EQ(U32At(out.bytes, kAvihBody), row.wantMicroSeconds);
    EXPECT_EQ(U32At(out.bytes, kAvihBody + 36), row.wantRows);
    EXPECT_EQ(U16At(out.bytes, kFirstStrhBody + 54), static_cast<uint16_t>(row.wantRows));
    // The format keeps the top-down order.
    EXPECT_EQ(U32At(out.bytes, kFirstStrhBody + 64 + 8), static_cast<uint32_t>(row.height));
    if (row.rate != 0 && row.height != kMin) ExpectSound(out.path, {{"00dc", 2}}, {}, {2});
  }
}

TEST_F(AviWriterTest, FlagsEveryAudioChunkAsKeyFrame) {
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
    const Written out = Write(source, [](RunOptions& o) { o.writer.writeIdx1 = true; });
    ASSERT_TRUE(out.run.result);
    EXPECT_FALSE(HasText(out.run.lines, "First frame is not a Keyframe"));
    const Bytes& bytes = out.bytes;
    const int64_t idx1 = FindToken(bytes, "idx1");
    ASSERT_GT(idx1, 0);
    uint32_t audioKeys = 0;
    const uint64_t rows = static_cast<uint64_t>(idx1) + 8;
    for (uint64_t at = rows; at < rows + U32At(bytes, idx1 + 4); at += 16) {
      audioKeys += TokenAt(bytes, at) == "01wb" && (U32At(bytes, at + 4) & 0x10u) != 0;
    }
    EXPECT_EQ(audioKeys, 3u);
    // The audio's standard index: no entry has the not-a-key-frame bit.
    const uint64_t standard =
        U32At(bytes, FindToken(bytes, "indx", FindToken(bytes, "indx") + 4) + 32);
    ASSERT_EQ(U32At(bytes, standard + 12), 3u);
    for (uint64_t entry = 0; entry < 3; ++entry) {
      EXPECT_EQ(U32At(bytes, standard + 32 + 8 * entry + 4), 640u);
    }
  }
}

TEST_F(AviWriterTest, CutsByVideoFrameNumbers) {
  options.writer.firstFrame = 2;
  options.writer.lastFrame = 4;
  const Written video = Write("rawvideo");
  EXPECT_FALSE(HasText(video.run.lines, "Cutting audio streams is not supported!"));
  ExpectSound(video.path, {{"00dc", 3}}, {}, {3});
  EXPECT_EQ(U32At(video.bytes, kAvihBody + 16), 3u);       // total frames
  EXPECT_EQ(U32At(video.bytes, kFirstStrhBody + 32), 3u);  // stream length
}

TEST_F(AviWriterTest, SplitsIntoNumberedFilesThatEachPlay) {
  const std::string capture = GeneratedCapture();
  if (capture.empty()) GTEST_SKIP() << "needs ffmpeg";
  options.writer.splitSize = 1048576;
  options.writer.writeIdx1 = true;
  const Written write = Write(capture);
  ASSERT_TRUE(write.run.result);
  Counts total;
  std::vector<long> packets(2, 0);
  int files = 0;
  for (;; ++files) {
    const std::string piece = dir.File("out.0" + std::to_string(files) + ".avi");
    if (!std::filesystem::exists(piece)) break;
    SCOPED_TRACE(piece);
    EXPECT_LE(std::filesystem::file_size(piece), 1048576u);
    const Bytes head = ReadFile(piece);
    const ParsedBack back = ParseBack(piece);
    EXPECT_EQ(ProblemLines(back.run.lines), Lines());
    for (const auto& [id, count] : back.chunks) total[id] += count;
    // Each file's 'idx1' lists its own chunks, and only those.
    const int64_t idx1 = FindToken(head, "idx1");
    ASSERT_GT(idx1, 0);
    EXPECT_EQ(U32At(head, idx1 + 4) / 16, back.entriesPerSegment.at(1));
    EXPECT_EQ(DecodeComplaints(piece), "");
    const std::vector<long> piecePackets = PacketCounts(piece);
    ASSERT_EQ(piecePackets.size(), 2u);
    for (size_t i = 0; i < 2; ++i) packets[i] += piecePackets[i];
  }
  EXPECT_GE(files, 3);
  EXPECT_EQ(total, ChunksOf(capture));
  EXPECT_EQ(packets, PacketCounts(capture));
}

TEST_F(AviWriterTest, StartsASecondStandardIndexAfter2044Chunks) {
  std::vector<ChunkPlan> chunks(2045, ChunkPlan{"00dc", RawFrame()});
  chunks[0].keyFrame = false;
  chunks[5].keyFrame = false;
  const Written out = Write(dir.Write("many.avi", BuildAvi({VideoStream()}, chunks)));
  ASSERT_TRUE(out.run.result);
  EXPECT_TRUE(HasText(out.run.lines,
                      "*** Warning: First frame is not a Keyframe (will get forced to it)!"));
  const Bytes& bytes = out.bytes;
  const int64_t indx = FindToken(bytes, "indx");
  ASSERT_GT(indx, 0);
  EXPECT_EQ(U32At(bytes, indx + 12), 2u);          // entries in use
  EXPECT_EQ(U32At(bytes, indx + 32 + 12), 2044u);  // duration of the first
  EXPECT_EQ(U32At(bytes, indx + 48 + 12), 1u);     // and of the second
  // A frame that is no key frame has bit 31 of its size set.
  const uint64_t first = U32At(bytes, indx + 32);
  EXPECT_EQ(U32At(bytes, first + 32 + 4), kRawFrameSize);  // forced to a key frame
  EXPECT_EQ(U32At(bytes, first + 32 + 5 * 8 + 4), 0x80000000u | kRawFrameSize);
  EXPECT_EQ(U32At(bytes, first + 32 + 6 * 8 + 4), kRawFrameSize);
  ExpectSound(out.path, {{"00dc", 2045}});
}

TEST_F(AviWriterTest, StopsWhenAStreamNeedsMoreStandardIndexesThanTheSuperIndexHolds) {
  // One empty chunk more than 1022 standard indexes of 2044 entries can list.
  const uint32_t chunks = 1022 * 2044 + 1;
  Bytes bytes = BuildAvi({VideoStream()}, {}, 40000, false);
  const int64_t movi = FindToken(bytes, "movi");
  ASSERT_EQ(static_cast<size_t>(movi) + 4, bytes.size());
  const Bytes empty = Concat({TextBytes("00dc"), Le32(0)});
  bytes.reserve(bytes.size() + 8 * size_t{chunks});
  for (uint32_t i = 0; i < chunks; ++i) bytes.insert(bytes.end(), empty.begin(), empty.end());
  PutU32(bytes, 4, static_cast<uint32_t>(bytes.size() - 8));
  PutU32(bytes, movi - 4, static_cast<uint32_t>(bytes.size() - movi));
  const Written out = Write(dir.Write("huge.avi", bytes));
  EXPECT_FALSE(out.run.result);
  EXPECT_TRUE(HasText(out.run.lines,
                      "*** Fatal: More than 1022 'ix##'-Indexes for Stream #0, "
                      "'indx'-Index full, writing stopped!"));
  // What fits is a complete file.
  const ParsedBack back = ParseBack(out.path);
  EXPECT_EQ(ProblemLines(back.run.lines), Lines());
  EXPECT_EQ(back.chunks, (Counts{{"00dc", chunks - 1}}));
  EXPECT_EQ(U32At(out.bytes, FindToken(out.bytes, "indx") + 12), 1022u);
}

TEST_F(AviWriterTest, SegmentAndFileLimitsNeverLeaveThemEmpty) {
  // Every chunk is over the limit: one chunk per segment, and the write still ends.
  options.writer.moviChunkLimit = 1;
  options.writer.writeIdx1 = true;
  const Written segments = Write("mjpeg_pcm", nullptr, "segments.avi");
  ASSERT_TRUE(segments.run.result);
  EXPECT_TRUE(HasText(segments.run.lines,
                      "*** Warning: Write Segment #2 - Idx1 Index superfluous with ODML 1.02 "
                      "compliant multisegment AVI!"));
  EXPECT_EQ(ParseBack(segments.path).entriesPerSegment.size(), 9u);
  // Every 'AVIX' segment: RIFF size = 'movi' list size + 12, no 'idx1'.
  const Bytes& bytes = segments.bytes;
  for (int64_t at = FindToken(bytes, "AVIX"); at > 0; at = FindToken(bytes, "AVIX", at + 4)) {
    EXPECT_EQ(TokenAt(bytes, at + 12), "movi");
    EXPECT_EQ(U32At(bytes, at - 4), U32At(bytes, at + 8) + 12);
  }
  EXPECT_EQ(FindToken(bytes, "idx1", static_cast<uint64_t>(FindToken(bytes, "AVIX"))), -1);
  const std::string source = kSamples + "mjpeg_pcm.avi";
  ExpectSound(segments.path, ChunksOf(source), {}, PacketCounts(source));
  // A frame that opens the next segment is counted once for the cut.
  options.writer.lastFrame = 3;
  ASSERT_TRUE(Write("mjpeg_pcm", nullptr, "cut.avi").run.result);
  EXPECT_EQ(ChunksOf(dir.File("cut.avi")).at("00dc"), 3u);
  options = Quiet();
  options.writer.splitSize = 1;
  ASSERT_TRUE(Write("mjpeg_pcm", nullptr, "files.avi").run.result);
  EXPECT_TRUE(std::filesystem::exists(dir.File("files.08.avi")));
  EXPECT_FALSE(std::filesystem::exists(dir.File("files.09.avi")));
}

// Writes that cannot be done as asked: verdict and message; the source stays.
TEST_F(AviWriterTest, ReportsWhatItCannotWriteAndNeverTouchesTheSource) {
  const std::string source = dir.Write("in.avi", ReadFile(kSamples + "mjpeg_pcm.avi"));
  const Bytes original = ReadFile(source);
  const struct {
    const char* name;
    Edit edit;
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
      {"cut with audio: on video frames only",
       [](RunOptions& o) {
         o.writer.firstFrame = 2;
         o.writer.lastFrame = 4;
       },
       "mixed.avi", true, "*** Warning: Cutting audio streams is not supported!"},
      {"index unchecked", [](RunOptions& o) { o.scan.checkIndexes = false; }, "unchecked.avi", true,
       "*** Warning: Index not checked (-c), can't write Keyframe information!"},
      // Without OpenDML no second segment; what did fit is a finished file.
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
    const Written out = Write(source, row.edit, row.output);
    EXPECT_EQ(out.run.result, row.result);
    EXPECT_TRUE(HasText(out.run.lines, row.message));
    EXPECT_EQ(ReadFile(source), original);
  }
  EXPECT_FALSE(std::filesystem::exists(dir.File("none.avi")));
  EXPECT_EQ(ChunksOf(dir.File("mixed.avi")).at("00dc"), 3u);
  ExpectSound(dir.File("single.avi"), {{"00dc", 1}});
}

TEST_F(AviWriterTest, KeepsOneIndexRecordPerStreamEvenWithoutAnIdToIndexUnder) {
  // Stream 0's chunk carries an id no index may use; stream 1's are indexed all the same.
  const Bytes in = BuildAvi({VideoStream(), PcmStream()},
                            {{"00dc", RawFrame()}, {"01wb", Bytes(8, 0)}, {"01wb", Bytes(8, 0)}});
  ASSERT_TRUE(
      WriteEdited(in, [](AviModel& model) { model.movi.at(0).chunkId = FourCC("0000"); }).result);
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

TEST_F(AviWriterTest, AFailedReadOfTheSourceStillFinishesTheHeaderAndFails) {
  // The second chunk beyond the end, as if the file was cut after the parse.
  const Bytes in = BuildAvi({VideoStream()}, {{"00dc", RawFrame(1)}, {"00dc", RawFrame(2)}});
  const ParseRun run = WriteEdited(
      in, [&in](AviModel& model) { model.movi.at(1).payloadPosition = in.size() + 100; });
  EXPECT_FALSE(run.result);
  EXPECT_TRUE(HasText(run.lines, "*** Fatal: File ends prematurely!"));
  // The header was written over the reserved area.
  const Bytes output = ReadFile(dir.File("out.avi"));
  EXPECT_EQ(TokenAt(output, 0), "RIFF");
  EXPECT_EQ(U32At(output, 4) + 8, output.size());
  EXPECT_EQ(TokenAt(output, kFirstStrhBody), "vids");
}

TEST_F(AviWriterAudioHeaderTest, PcmIsTimedByTheBlockSizeOfItsFormat) {
  struct Case {
    std::string name, source;
    uint32_t scale;    // of every written audio stream
    double seconds;    // of every audio stream
    bool fix = false;  // "-fa"
  };
  StreamPlan sampleSizeTwo = {"auds", std::string(4, '\0'), 1, 8000, 2, PcmFormat(8000, 2, 16)};
  StreamPlan byteRate = {"auds", std::string(4, '\0'), 1, 32000, 1, PcmFormat(8000, 2, 16)};
  // 16-bit stereo at 8000 Hz (blocks of 4) as WAVE_FORMAT_EXTENSIBLE, PCM sub-format.
  StreamPlan extensible = {
      "auds",
      std::string(4, '\0'),
      0,
      0,
      0,
      Concat({Le16(0xFFFE), Le16(2), Le32(8000), Le32(32000), Le16(4), Le16(16), Le16(22), Le16(16),
              Le32(3), Le32(1), Le16(0), Le16(0x10),
              Bytes{0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}})};
  std::vector<Case> cases = {
      {"mjpeg_pcm", kSamples + "mjpeg_pcm.avi", 1, 0.5},
      {"audio_only", kSamples + "audio_only.avi", 1, 0.5},
      {"two_audio", kSamples + "two_audio.avi", 1, 0.5},
      {"sample size 2, block 4", AudioFile("size2.avi", sampleSizeTwo), 1, 1.6},
      // A rate that counts bytes, or "-fa": the scale becomes the block size.
      {"rate in bytes", AudioFile("bytes.avi", byteRate), 4, 1.6},
      {"-fa", AudioFile("fa.avi", sampleSizeTwo), 4, 1.6, true},
      {"extensible PCM, scale 0", AudioFile("extensible.avi", extensible), 4, 1.6},
  };
  // libquicktime states a sample size of 2 for 16-bit stereo (block size 4).
  const std::string libquicktime =
      ToolFile("lqt_transcode", "-c:v mjpeg -pix_fmt yuvj420p -c:a pcm_s16le -ac 2", "lqt.mov",
               "/usr/bin/lqt_transcode -avi -ac sowt -vc yv12 \"$IN\" \"$OUT\"");
  if (!libquicktime.empty()) cases.push_back({"libquicktime", libquicktime, 1, 2.0});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Written out = Write(c.source, [&c](RunOptions& o) { o.writer.fixAudioScale = c.fix; });
    ASSERT_TRUE(out.run.result);
    const ParsedBack back = ParseBack(out.path);
    EXPECT_FALSE(HasText(back.run.lines, "PCM AvgBytesPerSec should be"));
    size_t audioStreams = 0;
    for (size_t stream = 0; stream < back.headers.size(); ++stream) {
      const AviStreamHeader& header = back.headers[stream];
      if (header.type != FourCC("auds")) continue;
      ++audioStreams;
      const Bytes& format = back.formats[stream];
      const uint32_t samplesPerSec = U32At(format, 4);
      const uint32_t blockAlign = U16At(format, 12);
      EXPECT_EQ(U32At(format, 8), samplesPerSec * blockAlign);
      EXPECT_EQ(header.sampleSize, blockAlign);
      EXPECT_EQ(uint64_t{header.length} * blockAlign,
                back.payloadBytes.at("0" + std::to_string(stream) + "wb"));
      EXPECT_EQ(header.scale, c.scale);
      EXPECT_EQ(uint64_t{header.rate}, uint64_t{samplesPerSec} * header.scale);
      // What a player takes for the duration: length in units of scale / rate.
      EXPECT_NEAR(static_cast<double>(header.length) * header.scale / header.rate, c.seconds, 0.1);
    }
    EXPECT_GT(audioStreams, 0u);
  }
}

// Other audio with a scale of 0: bytes over whole seconds of video; under a
// second nothing is measured and the length counts samples of the stated size.
TEST_F(AviWriterAudioHeaderTest, OtherAudioWithoutScaleIsMeasuredOverTheVideo) {
  StreamPlan mpeg = PcmStream(8000);
  mpeg.scale = 0;
  mpeg.format[0] = 0x55;
  const struct {
    int frames;
    uint32_t rate, length;
  } cases[] = {{25, 16000, 16000}, {13, 16000, 13 * 640 / 2}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.frames);
    const Written out = Write(AudioFile("in.avi", mpeg, c.frames, 640));
    ASSERT_TRUE(out.run.result);
    const AviStreamHeader header = ParseBack(out.path).headers.at(1);
    EXPECT_EQ(header.scale, 1u);
    EXPECT_EQ(header.rate, c.rate);
    EXPECT_EQ(header.length, c.length);
  }
}

TEST_F(AviWriterAudioHeaderTest, EachStreamKeepsItsOwnInitialFrames) {
  // Twelve audio chunks of preload, then video and audio take turns.
  StreamPlan audio = PcmStream(8000);
  audio.initialFrames = 12;
  std::vector<ChunkPlan> chunks(12, ChunkPlan{"01wb", Bytes(320, 0)});
  for (int i = 0; i < 25; ++i) {
    chunks.push_back({"00dc", RawFrame()});
    chunks.push_back({"01wb", Bytes(640, 0)});
  }
  std::vector<std::string> sources = {
      dir.Write("preload.avi", BuildAvi({VideoStream(), audio}, chunks))};
  // MEncoder states its audio preload as initial frames.
  const std::string mencoder =
      ToolFile("mencoder", "-c:v mpeg4 -c:a pcm_s16le", "mencoder_in.avi",
               "mencoder \"$IN\" -o \"$OUT\" -ovc copy -oac pcm -really-quiet >/dev/null 2>&1");
  if (!mencoder.empty()) sources.push_back(mencoder);
  for (const std::string& source : sources) {
    SCOPED_TRACE(source);
    const ParsedBack before = ParseBack(source);
    ASSERT_EQ(before.headers.size(), 2u);
    const uint32_t preload = before.headers[1].initialFrames;
    ASSERT_GT(preload, 0u);
    const Written out = Write(source);
    ASSERT_TRUE(out.run.result);
    const ParsedBack after = ParseBack(out.path);
    ASSERT_EQ(after.headers.size(), 2u);
    EXPECT_EQ(after.headers[1].initialFrames, preload);
    EXPECT_EQ(after.headers[0].initialFrames, 0u);
    EXPECT_EQ(after.main.initialFrames, 0u);
  }
}

}  // namespace
