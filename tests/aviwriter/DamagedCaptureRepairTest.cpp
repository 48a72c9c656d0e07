// Repairs of captures damaged the way it really happens: killed mid-way or written
// into a pipe (headers never rewritten), garbage between frames.

#include <gtest/gtest.h>

#include <map>
#include <numeric>
#include <random>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "TestSupport.h"
#include "aviwriter/AviWriterTestSupport.h"

namespace {

using namespace avitest;
using Lines = std::vector<std::string>;

struct Recording {
  const char* name;
  const char* producer;  // the program that must be installed
  std::string command;   // writes the recording to $OUT (run by sh)
};

// A recording killed mid-way is made without a race: the producer runs
// under a file size limit (sh counts it in 512-byte blocks, so 400 is
// 200 KB) and the kernel kills it with SIGXFSZ as its output reaches it,
// the way a full disk or a crash ends a capture.
std::string KilledMidWay(const std::string& producer) {
  return "(ulimit -f 400; exec " + producer + ") </dev/null >/dev/null 2>&1; true";
}

// GStreamer's avimux writes its headers first with the sizes unknown (a RIFF
// size over the headers only, a 'movi' size of 4) and comes back to fix them
// at the end; in a pipe it cannot, and a killed recording never does. 20 s of it:
const std::string kGstRecording =
    "gst-launch-1.0 -q videotestsrc num-buffers=500 ! video/x-raw,width=160,height=120,"
    "framerate=25/1 ! jpegenc ! queue ! mux. audiotestsrc num-buffers=440 ! "
    "audio/x-raw,rate=22050,channels=1 ! queue ! mux. avimux name=mux";

const Recording kRecordings[] = {
    // ffmpeg states sizes of 0xFFFFFFFF where it cannot seek back.
    {"ffmpeg into a pipe", "ffmpeg",
     "ffmpeg -nostdin -v error -f lavfi -i testsrc=size=160x120:rate=25:duration=2 -f lavfi -i "
     "sine=sample_rate=22050:duration=2 -c:v mpeg4 -c:a pcm_s16le -f avi - | cat > \"$OUT\""},
    {"GStreamer avimux into a pipe", "gst-launch-1.0",
     kGstRecording + " ! fdsink fd=1 2>/dev/null | cat > \"$OUT\""},
    {"GStreamer avimux killed mid-way", "gst-launch-1.0",
     KilledMidWay(kGstRecording + " ! filesink location=\"$OUT\"")},
    // MEncoder starts with a 'movi' size of 0xFFFFEFF8 and a RIFF size over the
    // headers; killed, it leaves both and no index.
    {"MEncoder killed mid-way", "mencoder",
     "ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=320x240:rate=25:duration=40 -f lavfi "
     "-i sine=sample_rate=22050:duration=40 -c:v mpeg4 -q:v 4 -c:a pcm_s16le \"$OUT.src.avi\" && " +
         KilledMidWay("mencoder \"$OUT.src.avi\" -o \"$OUT\" -ovc lavc -lavcopts vcodec=mpeg4 "
                      "-oac pcm -really-quiet")},
};

TEST(DamagedCaptureRepairTest, KeepsEveryFrameOfAnUnfinishedRecording) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "needs ffmpeg";
  for (const Recording& recording : kRecordings) {
    SCOPED_TRACE(recording.name);
    if (!Installed(recording.producer)) continue;
    ScratchDir dir;
    const std::string damaged = dir.File("recording.avi");
    RunCommand("OUT='" + damaged + "'; " + recording.command);
    const std::vector<long> packets = PacketCounts(damaged);
    // The producer itself failed before its first frames: nothing to save.
    if (std::accumulate(packets.begin(), packets.end(), 0L) < 10) continue;
    EXPECT_TRUE(HasText(ParseBack(damaged).run.lines, "never set by its Writer, real Size ("));
    // The repair holds every packet ffprobe reads from the damaged file, and
    // the whole blocks of the PCM chunk the recording was cut in, which
    // ffprobe may leave unread.
    const std::string repaired = dir.File("repaired.avi");
    ASSERT_TRUE(WriteAvi(damaged, repaired).result);
    const std::vector<long> kept = PacketCounts(repaired);
    ASSERT_EQ(kept.size(), 2u);
    EXPECT_EQ(kept[0], packets[0]);
    EXPECT_GE(kept[1], packets[1]);
    EXPECT_EQ(DecodeComplaints(repaired), "");
    EXPECT_EQ(ProblemLines(ParseBack(repaired).run.lines), Lines{});
  }
}

// A capture built from bytes: 20 frames, each followed by an odd-sized
// audio chunk (pad bytes), with `garbage` in front of chunk `before`.
Bytes Capture(bool idx1, size_t before = 0, const Bytes& garbage = {}) {
  std::vector<ChunkPlan> chunks;
  for (int i = 0; i < 20; ++i) {
    chunks.push_back({"00dc", RawFrame(static_cast<uint8_t>(i))});
    chunks.push_back({"01wb", Bytes(321 + i, 0)});
  }
  if (!garbage.empty()) chunks.insert(chunks.begin() + before, ChunkPlan{"", garbage});
  return BuildAvi({VideoStream(), PcmStream(8000)}, chunks, 40000, idx1);
}

// The unfinished layouts for machines without the producers: a finished file
// whose sizes are then set back to what the producer wrote first.
TEST(DamagedCaptureRepairTest, KeepsEveryFrameOfUnfinishedRecordingLayouts) {
  const struct {
    const char* name;
    bool idx1;
    uint32_t moviSize, cut;  // cut: bytes cut off the end, into the last chunk
    Lines texts;
  } layouts[] = {
      {"pipe stream: 'movi' size 4, trailing 'idx1'", true, 4, 0, {}},
      // The last audio chunk (340 bytes of 8-bit PCM) keeps what is left of it.
      {"killed: 'movi' size 0xFFFFEFF8, last chunk cut",
       false,
       0xFFFFEFF8,
       100,
       {"Partial audio chunk kept: 240 of 340 bytes"}},
  };
  ScratchDir dir;
  for (const auto& layout : layouts) {
    SCOPED_TRACE(layout.name);
    Bytes file = Capture(layout.idx1);
    const int64_t movi = FindToken(file, "movi");
    PutU32(file, 4, static_cast<uint32_t>(movi + 4 - 8));  // headers up to the 'movi' type
    PutU32(file, movi - 4, layout.moviSize);
    file.resize(file.size() - layout.cut);
    const ParseRun run = WriteAvi(dir.Write("damaged.avi", file), dir.File("repaired.avi"));
    ASSERT_TRUE(run.result);
    ExpectTexts(run.lines, {"never set by its Writer, real Size ("},
                {"Not all Index Entries matched"});
    ExpectTexts(run.lines, layout.texts);
    const ParsedBack back = ParseBack(dir.File("repaired.avi"));
    EXPECT_EQ(back.chunks.at("00dc"), 20u);
    EXPECT_EQ(back.chunks.at("01wb"), 20u);
    EXPECT_EQ(ProblemLines(back.run.lines), Lines{});
  }
}

// The audio bytes of a file as ffprobe reads them.
long AudioBytes(const std::string& path) {
  std::istringstream sizes(
      RunCommand("/usr/bin/ffprobe -v error -select_streams a "
                 "-show_entries packet=size -of csv=p=0 " +
                 Quoted(path)));
  long total = 0;
  for (std::string line; std::getline(sizes, line);) total += std::atol(line.c_str());
  return total;
}

// A clean recording cut inside its last audio chunk: the whole blocks of
// 16-bit stereo PCM present stay (ffprobe reads the partial chunk too), the
// rest of the last block goes, and the repair decodes without a complaint.
TEST(DamagedCaptureRepairTest, KeepsTheWholeBlocksOfACutPcmChunk) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "needs ffmpeg";
  ScratchDir dir;
  const std::string clean = dir.File("clean.avi");
  RunCommand(
      "/usr/bin/ffmpeg -nostdin -v error -f lavfi -i testsrc=size=64x48:rate=10:duration=1 "
      "-f lavfi -i sine=sample_rate=8000:duration=1 -c:v mjpeg -c:a pcm_s16le -ac 2 " +
      Quoted(clean));
  Bytes file = ReadFile(clean);
  // The last audio chunk of the 'movi' list ('idx1' names them all again).
  const int64_t index = FindToken(file, "idx1");
  int64_t last = -1;
  for (int64_t at = FindToken(file, "01wb"); at >= 0 && at < index;
       at = FindToken(file, "01wb", static_cast<uint64_t>(at) + 4)) {
    last = at;
  }
  ASSERT_GT(last, 0);
  const uint32_t size = U32At(file, last + 4);
  file.resize(static_cast<size_t>(last + 8 + size / 2 + 3));  // 3 bytes into a block
  const std::string cut = dir.Write("cut.avi", file);
  const std::string repaired = dir.File("repaired.avi");
  const ParseRun run = WriteAvi(cut, repaired, RunOptions());
  ASSERT_TRUE(run.result);
  const uint32_t kept = (size / 2 + 3) / 4 * 4;
  ExpectTexts(run.lines, {"Partial audio chunk kept: " + std::to_string(kept) + " of " +
                          std::to_string(size) + " bytes"});
  EXPECT_EQ(PacketCounts(repaired), PacketCounts(cut));
  EXPECT_EQ(AudioBytes(repaired), AudioBytes(cut) - 3);
  EXPECT_EQ(DecodeComplaints(repaired), "");
  EXPECT_EQ(ProblemLines(ParseBack(repaired).run.lines), Lines{});
}

// Puts `garbage` in front of the chunk whose header is at `at` and fixes what
// keeps the file otherwise consistent: the RIFF and 'movi' sizes and the 'idx1'
// offsets behind the gap.
Bytes InsertGarbage(Bytes file, uint64_t moviType, uint64_t at, const Bytes& garbage) {
  const uint32_t added = static_cast<uint32_t>(garbage.size());
  const int64_t idx1 = FindToken(file, "idx1", moviType + U32At(file, moviType - 4));
  const uint64_t rows = static_cast<uint64_t>(idx1) + 8;
  for (uint64_t row = rows; idx1 >= 0 && row + 16 <= rows + U32At(file, idx1 + 4); row += 16) {
    if (U32At(file, row + 8) >= at - moviType) PutU32(file, row + 8, U32At(file, row + 8) + added);
  }
  PutU32(file, 4, U32At(file, 4) + added);
  PutU32(file, moviType - 4, U32At(file, moviType - 4) + added);
  file.insert(file.begin() + static_cast<std::ptrdiff_t>(at), garbage.begin(), garbage.end());
  return file;
}

// Zero bytes of even and odd length, and random bytes of any length, in a
// real file: every frame the index names survives, and so every index entry
// is matched.
TEST(DamagedCaptureRepairTest, GarbageBetweenFramesLosesNoIndexedFrame) {
  const std::string sample = std::string(CLIPSMITH_TEST_DATA) + "/avi/mpeg4_mp3.avi";
  const Bytes clean = ReadFile(sample);
  const ParsedBack parsed = ParseBack(sample);
  const std::vector<uint64_t>& at = parsed.headerPositions;
  const uint64_t moviType = at.at(0) - 4;
  ASSERT_EQ(TokenAt(clean, moviType), "movi");
  // Gaps: in front of which chunk, how long, random or zeros.
  std::vector<std::tuple<size_t, size_t, bool>> gaps = {
      {10, 100, false}, {10, 333, true}, {1, 333, true}, {30, 1, false},
      {30, 3, false},   {30, 2, false},  {20, 7, true}};
  std::mt19937 generator(20261206);
  for (int i = 0; i < 25; ++i) {
    gaps.emplace_back(1 + generator() % (at.size() - 1), 1 + generator() % 3000, true);
  }
  ScratchDir dir;
  for (const auto& [before, length, random] : gaps) {
    SCOPED_TRACE("garbage of " + std::to_string(length) + " bytes before chunk " +
                 std::to_string(before) + (random ? " (random)" : " (zeros)"));
    Bytes garbage(length, 0);
    for (uint8_t& byte : garbage) byte = random ? static_cast<uint8_t>(generator()) : 0;
    const std::string damaged =
        dir.Write("gap.avi", InsertGarbage(clean, moviType, at.at(before), garbage));
    const ParseRun run = WriteAvi(damaged, dir.File("repaired.avi"));
    ASSERT_TRUE(run.result);
    ExpectTexts(run.lines, {},
                {"Not all Index Entries matched", "removed, no Index confirms them"});
    EXPECT_EQ(ParseBack(dir.File("repaired.avi")).chunks, parsed.chunks);
  }
}

// Without an index nothing vouches for the frame in front of the garbage:
// its size may be the fault, and it goes, counted out of its stream (and
// out of the chunk table of the statistics).
TEST(DamagedCaptureRepairTest, FrameBeforeGarbageGoesWhenNoIndexConfirmsIt) {
  ScratchDir dir;
  const ParsedBack parsed = ParseBack(dir.Write("gap.avi", Capture(false, 10, Bytes(100, 0))));
  ExpectTexts(parsed.run.lines,
              {"Frames before Garbled Data removed, no Index confirms them (1)!", "'01wb': 19 ("});
  EXPECT_EQ(parsed.chunks, (std::map<std::string, uint32_t>{{"00dc", 20}, {"01wb", 19}}));
}

}  // namespace
