// The audio stream headers of a written file: PCM timed by the block size of
// its format, whatever the source's stream header claimed, other audio
// measured over the video, and each stream's initial frames kept on that
// stream.

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "aviwriter/AviWriterTestSupport.h"
#include "core/FourCC.h"

namespace {

using namespace avitest;
using testsupport::ScratchDir;

const std::string kSamples = std::string(CLIPSMITH_TEST_DATA) + "/avi/";

// 16-bit stereo at 8000 Hz (blocks of 4 bytes) as WAVE_FORMAT_EXTENSIBLE
// with the PCM sub-format.
Bytes ExtensiblePcmFormat() {
  return Concat({Le16(0xFFFE), Le16(2), Le32(8000), Le32(32000), Le16(4), Le16(16), Le16(22),
                 Le16(16), Le32(3), Le32(1), Le16(0), Le16(0x10),
                 Bytes{0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}});
}

// `frames` of 25 fps video, each followed by an audio chunk of `bytes` under
// the stream header `audio` says.
std::string AudioFile(ScratchDir& dir, const std::string& name, StreamPlan audio, int frames = 40,
                      size_t bytes = 1280) {
  std::vector<ChunkPlan> chunks;
  for (int i = 0; i < frames; ++i) {
    chunks.push_back({"00dc", RawFrame()});
    chunks.push_back({"01wb", Bytes(bytes, 0)});
  }
  return dir.Write(name, BuildAvi({VideoStream(), audio}, chunks));
}

// libquicktime states a sample size of 2 for 16-bit stereo against a block
// size of 4; "" where it (or ffmpeg, to make its input) is missing.
std::string LibquicktimeFile(ScratchDir& dir) {
  if (!HaveFfmpeg() || !Installed("lqt_transcode")) return "";
  const std::string mov = dir.File("lqt.mov"), avi = dir.File("lqt.avi");
  RunCommand(
      "/usr/bin/ffmpeg -nostdin -v error -f lavfi -i testsrc=size=64x48:rate=25:duration=2 -f "
      "lavfi -i sine=sample_rate=22050:duration=2 -c:v mjpeg -pix_fmt yuvj420p -c:a pcm_s16le "
      "-ac 2 '" +
      mov + "' && /usr/bin/lqt_transcode -avi -ac sowt -vc yv12 '" + mov + "' '" + avi + "'");
  return std::filesystem::exists(avi) ? avi : "";
}

// Per audio stream, the seconds ffprobe takes from the headers: the length
// in units of its time base.
std::vector<double> StatedAudioSeconds(const std::string& path) {
  std::istringstream text(RunCommand(
      "/usr/bin/ffprobe -v error -select_streams a -show_entries stream=time_base,nb_frames -of "
      "csv=p=0 '" +
      path + "'"));
  std::vector<double> seconds;
  double numerator, denominator, frames;
  char slash, comma;
  while (text >> numerator >> slash >> denominator >> comma >> frames) {
    seconds.push_back(frames * numerator / denominator);
  }
  return seconds;
}

TEST(AviWriterAudioHeaderTest, PcmIsTimedByTheBlockSizeOfItsFormat) {
  ScratchDir dir;
  struct Case {
    std::string name, source;
    uint32_t scale;  // of every written audio stream
    double seconds;  // of every audio stream of the source
    bool fix = false;  // "-fa"
  };
  StreamPlan sampleSizeTwo = {"auds", std::string(4, '\0'), 1, 8000, 2, PcmFormat(8000, 2, 16)};
  StreamPlan byteRate = {"auds", std::string(4, '\0'), 1, 32000, 1, PcmFormat(8000, 2, 16)};
  StreamPlan extensible = {"auds", std::string(4, '\0'), 0, 0, 0, ExtensiblePcmFormat()};
  std::vector<Case> cases = {
      {"mjpeg_pcm", kSamples + "mjpeg_pcm.avi", 1, 0.5},
      {"audio_only", kSamples + "audio_only.avi", 1, 0.5},
      {"two_audio", kSamples + "two_audio.avi", 1, 0.5},
      {"sample size 2, block 4", AudioFile(dir, "size2.avi", sampleSizeTwo), 1, 1.6},
      // A rate that counts bytes, or "-fa": the scale becomes the block size.
      {"rate in bytes", AudioFile(dir, "bytes.avi", byteRate), 4, 1.6},
      {"-fa", AudioFile(dir, "fa.avi", sampleSizeTwo), 4, 1.6, true},
      {"extensible PCM, scale 0", AudioFile(dir, "extensible.avi", extensible), 4, 1.6},
  };
  const std::string libquicktime = LibquicktimeFile(dir);
  if (!libquicktime.empty()) cases.push_back({"libquicktime", libquicktime, 1, 2.0});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string output = dir.File("out.avi");
    RunOptions options = Quiet();
    options.writer.fixAudioScale = c.fix;
    ASSERT_TRUE(WriteAvi(c.source, output, options).result);
    const ParsedBack back = ParseBack(output);
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
    }
    EXPECT_GT(audioStreams, 0u);
    if (!HaveFfmpeg()) continue;
    const std::vector<double> stated = StatedAudioSeconds(output);
    ASSERT_EQ(stated.size(), audioStreams);
    for (const double seconds : stated) EXPECT_NEAR(seconds, c.seconds, 0.1);
  }
}

// Other audio with a scale of 0 is measured: its bytes over the whole
// seconds of video (the rate counts bytes, the length too); under a second
// measures nothing, and the length counts samples of the stated size.
TEST(AviWriterAudioHeaderTest, OtherAudioWithoutScaleIsMeasuredOverTheVideo) {
  ScratchDir dir;
  StreamPlan mpeg = PcmStream(8000);
  mpeg.scale = 0;
  mpeg.format[0] = 0x55;
  const struct {
    int frames;
    uint32_t rate, length;
  } cases[] = {{25, 16000, 16000}, {13, 16000, 13 * 640 / 2}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.frames);
    const std::string output = dir.File("out.avi");
    ASSERT_TRUE(WriteAvi(AudioFile(dir, "in.avi", mpeg, c.frames, 640), output).result);
    const AviStreamHeader header = ParseBack(output).headers.at(1);
    EXPECT_EQ(header.scale, 1u);
    EXPECT_EQ(header.rate, c.rate);
    EXPECT_EQ(header.length, c.length);
  }
}

// MEncoder states its audio preload as the audio stream's initial frames:
// the audio chunks written before the first video frame; "" without it.
std::string MencoderFile(ScratchDir& dir) {
  if (!HaveFfmpeg() || !Installed("mencoder")) return "";
  const std::string source = dir.File("mencoder_in.avi"), avi = dir.File("mencoder.avi");
  RunCommand(
      "/usr/bin/ffmpeg -nostdin -v error -f lavfi -i testsrc=size=64x48:rate=25:duration=2 -f "
      "lavfi -i sine=sample_rate=22050:duration=2 -c:v mpeg4 -c:a pcm_s16le '" +
      source + "' && mencoder '" + source + "' -o '" + avi +
      "' -ovc copy -oac pcm -really-quiet >/dev/null 2>&1");
  return std::filesystem::exists(avi) ? avi : "";
}

TEST(AviWriterAudioHeaderTest, EachStreamKeepsItsOwnInitialFrames) {
  ScratchDir dir;
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
  const std::string mencoder = MencoderFile(dir);
  if (!mencoder.empty()) sources.push_back(mencoder);
  for (const std::string& source : sources) {
    SCOPED_TRACE(source);
    const ParsedBack before = ParseBack(source);
    ASSERT_EQ(before.headers.size(), 2u);
    const uint32_t preload = before.headers[1].initialFrames;
    ASSERT_GT(preload, 0u);
    const std::string output = dir.File("out.avi");
    ASSERT_TRUE(WriteAvi(source, output, Quiet()).result);
    const ParsedBack after = ParseBack(output);
    ASSERT_EQ(after.headers.size(), 2u);
    EXPECT_EQ(after.headers[1].initialFrames, preload);
    EXPECT_EQ(after.headers[0].initialFrames, 0u);
    EXPECT_EQ(after.main.initialFrames, 0u);
  }
}

}  // namespace
