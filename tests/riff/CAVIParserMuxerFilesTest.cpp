// Valid files of real muxers (run where installed) raise no alarm; the suite's
// files (tests/data/avi/make_avi_samples.sh) also state their recipe.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "AviIndexTestFiles.h"
#include "TestSupport.h"
#include "riff/CAVIParser.h"

namespace {

using testsupport::ParseRun;
using testsupport::ScratchDir;
using testsupport::Trimmed;
using Lines = std::vector<std::string>;

// Error and Warning lines, trimmed; an OpenDML header of only its frame count is allowed.
Lines Alarms(const ParseRun& run) {
  Lines alarms;
  for (const std::string& line : run.lines) {
    const size_t at = line.find("*** ");
    if (at == std::string::npos || line.find("Info: ") != std::string::npos) continue;
    if (line.find("Unknown Token Size, expected 248!") != std::string::npos) continue;
    alarms.push_back(line.substr(at));
  }
  return alarms;
}

// The statistics verdicts, trimmed; "-c" leaves out the index counts of the chunk rows.
Lines Verdicts(const ParseRun& run, bool withIndexCounts = true) {
  Lines verdicts;
  bool inStatistics = false;
  for (const std::string& line : run.lines) {
    inStatistics = inStatistics || Trimmed(line) == "Statistics";
    if (!inStatistics || line.empty() || line.back() != '!') continue;
    if (withIndexCounts || line.find("'Idx1': ") == std::string::npos) {
      verdicts.push_back(Trimmed(line));
    }
  }
  return verdicts;
}

ParseRun Parse(const std::string& path, bool checkIndexes = true) {
  RunOptions options;
  options.scan.checkIndexes = checkIndexes;
  return testsupport::RunParserOnFile<CAVIParser>(path, options);
}

struct Sample {
  const char* file;
  Lines expected;         // texts of report lines
  Lines statistics = {};  // all the verdicts of the statistics, where given
  Lines alarms = {};      // what the header checks rightly report
};

const Sample kSamples[] = {
    // A frame of size 0; audio ahead of the video, unannounced; VBR length in chunks.
    {"mpeg4_mp3.avi",
     Lines{"00 microsec/Frame: 40000", "00 FormatTag: 85 (MP3)", "04 Samples/sec (fps): 44100"},
     Lines{"'00dc': 26 (Dropped: 1), 'Idx1': 26 (Key: 3), ODML: 0!",
           "Initial Frames detected 1, AVIStreamHeader Initial Frames: 0!",
           "'01wb': 40 (Dropped: 0), 'Idx1': 40 (Key: 40), ODML: 0!",
           "'auds'-Stream Payload Total Size in Bytes: 4180!"}},
    // PCM length in samples of the sample size: nothing to report.
    {"mjpeg_pcm.avi",
     Lines{"04 Handler: 0x47504a4d 'MJPG' (Motion JPEG)", "24 Rate: 10", "14 Bits/Sample: 16"},
     Lines{"'00dc': 5 (Dropped: 0), 'Idx1': 5 (Key: 5), ODML: 0!",
           "'01wb': 4 (Dropped: 0), 'Idx1': 4 (Key: 4), ODML: 0!",
           "'auds'-Stream Payload Total Size in Bytes: 8000!"}},
    // ffmpeg writes no DVINFO behind the bitmap header of DV streams.
    {"dv_pal.avi",
     Lines{"36 Height: 576", "00 Type: 'vids' DV Type 2 (redundant 'auds' stream, VfW compatible)"},
     {},
     Lines{"*** Error: DVINFO missing!"}},
    // One stream has nothing to interleave with, whatever the flag says.
    {"rawvideo.avi",
     Lines{"00 microsec/Frame: 200000", "16 Total Frames: 5", "24 Streams: 1", "32 Length: 5"},
     Lines{"'00dc': 5 (Dropped: 0), 'Idx1': 5 (Key: 5), ODML: 0!", "No 'auds'-Stream detected!"}},
    // Without video the main header counts no frames.
    {"audio_only.avi",
     Lines{"24 Streams: 1", "00 Type: 'auds'", "02 Channels: 1", "04 Samples/sec (fps): 11025"},
     Lines{"'00wb': 6 (Dropped: 0), 'Idx1': 6 (Key: 6), ODML: 0!",
           "'auds'-Stream Payload Total Size in Bytes: 11026!", "No 'vids'-Stream detected!"}},
    {"two_audio.avi", {"24 Streams: 3", "36 Height: 48", "14 Bits/Sample: 8", "02 Channels: 2"}},
    {"msmpeg4v2_adpcm.avi",
     Lines{"04 Handler: 0x3234504d 'MP42' (MS MPEG-4)", "24 Rate: 15", "00 FormatTag: 2 (ADPCM)"},
     {},
     Lines{"*** Warning: AvgBytesPerSec Length 0:00:00:04 (10.83 fps)!"}},
};

TEST(CAVIParserMuxerFilesTest, SuiteFilesWalkCleanlyAndStateTheRecipe) {
  for (const Sample& sample : kSamples) {
    SCOPED_TRACE(sample.file);
    const std::string path = std::string(CLIPSMITH_TEST_DATA) + "/avi/" + sample.file;
    const ParseRun run = Parse(path);
    ASSERT_TRUE(run.result);
    EXPECT_EQ(Alarms(run), sample.alarms);
    testsupport::ExpectTexts(run.lines, sample.expected);
    EXPECT_EQ(sample.statistics.empty() ? Lines{} : Verdicts(run), sample.statistics);
    EXPECT_EQ(Verdicts(Parse(path, false), false), Verdicts(run, false));
  }
}

struct Muxer {
  const char* name;
  const char* producer;
  std::string command;    // writes $OUT
  Lines statistics = {};  // lines the statistics must hold
  bool large = false;     // runs only when CLIPSMITH_LARGE_TESTS is set
};

const std::string kFf = "ffmpeg -nostdin -v error -y ";
const std::string kVideo = "-f lavfi -i testsrc=size=160x120:rate=25:duration=2 ";
const std::string kSound = "-f lavfi -i sine=sample_rate=44100:duration=2 ";
const std::string kGst = "gst-launch-1.0 -q ";

const Muxer kMuxers[] = {
    {"ffmpeg MPEG-4 + MP3", "ffmpeg",
     kFf + kVideo + kSound + "-c:v mpeg4 -c:a libmp3lame \"$OUT\""},
    {"ffmpeg MJPEG + AC-3", "ffmpeg", kFf + kVideo + kSound + "-c:v mjpeg -c:a ac3 \"$OUT\""},
    {"ffmpeg MPEG-4 + MP2", "ffmpeg", kFf + kVideo + kSound + "-c:v mpeg4 -c:a mp2 \"$OUT\""},
    {"ffmpeg 8-bit palette, top-down", "ffmpeg",
     kFf + kVideo + "-c:v rawvideo -pix_fmt pal8 \"$OUT\""},
    {"ffmpeg audio only", "ffmpeg", kFf + kSound + "-c:a pcm_s16le \"$OUT\""},
    // Over 1 GiB: an 'AVIX' segment, an 'ix##' per stream and segment.
    {"ffmpeg OpenDML", "ffmpeg",
     kFf + "-f lavfi -i color=c=gray:size=1920x1080:rate=25 -f lavfi -i "
           "sine=frequency=440:sample_rate=8000 -t 15 -c:v rawvideo -pix_fmt yuv420p -c:a "
           "pcm_s16le -ac 1 \"$OUT\"",
     Lines{"'ix00': 2 (Dropped: 0), 'Idx1': 0 (Key: 0), ODML: 375!", "'00dc': 375 (Dropped: 0)",
           "'indx': 0 (Dropped: 0), 'Idx1': 0 (Key: 0), ODML: 2!", "'01wb': 118 (Dropped: 0)",
           "'auds'-Stream Payload Total Size in Bytes: 240000!"},
     true},
    {"GStreamer audio only", "gst-launch-1.0",
     kGst + "audiotestsrc num-buffers=50 ! audio/x-raw,rate=22050,channels=1 ! avimux ! "
            "filesink location=\"$OUT\""},
    {"GStreamer MJPEG + PCM", "gst-launch-1.0",
     kGst +
         "videotestsrc num-buffers=50 ! video/x-raw,width=160,height=120,framerate=25/1 ! "
         "jpegenc ! queue ! mux. audiotestsrc num-buffers=40 ! audio/x-raw,rate=44100,channels=2 "
         "! queue ! mux. avimux name=mux ! filesink location=\"$OUT\""},
    {"MEncoder MPEG-4 + variable rate MP3", "mencoder",
     kFf + kVideo + kSound +
         "-c:v mpeg4 -c:a pcm_s16le \"$OUT.src.avi\" && mencoder "
         "\"$OUT.src.avi\" -o \"$OUT\" -ovc copy -oac mp3lame -really-quiet"},
    {"MEncoder MPEG-4 + AC-3", "mencoder",
     kFf + kVideo + kSound +
         "-c:v mpeg4 -c:a ac3 \"$OUT.src.avi\" && mencoder \"$OUT.src.avi\" "
         "-o \"$OUT\" -ovc copy -oac copy -really-quiet"},
};

TEST(CAVIParserMuxerFilesTest, ValidFilesOfEveryMuxerRaiseNoAlarm) {
  ScratchDir dir;
  for (const Muxer& muxer : kMuxers) {
    SCOPED_TRACE(muxer.name);
    if (!testsupport::Installed("ffmpeg") || !testsupport::Installed(muxer.producer)) continue;
    if (muxer.large && std::getenv("CLIPSMITH_LARGE_TESTS") == nullptr) continue;
    const std::string path = dir.File("muxed.avi");
    ::unlink(path.c_str());
    const std::string command = "OUT='" + path + "'; " + muxer.command + " >/dev/null 2>&1";
    const int status = std::system(command.c_str());
    ASSERT_GT(testsupport::ReadFile(path).size(), 1000u) << "exit status " << status;
    const ParseRun run = Parse(path);
    EXPECT_EQ(Alarms(run), Lines{});
    testsupport::ExpectTexts(Verdicts(run), muxer.statistics);
    EXPECT_EQ(Verdicts(Parse(path, false), false), Verdicts(run, false));
  }
}

// Built: audio only under an empty main header; OpenDML counting the first segment.
TEST(CAVIParserMuxerFilesTest, MainHeaderIsJudgedByTheStreamsItDescribes) {
  avitest::Layout audioOnly = avitest::VideoAudioLayout({{"01wb", 4000}, {"01wb", 4000}});
  audioOnly.streams.erase(audioOnly.streams.begin());
  audioOnly.chunks = {{"00wb", 4000}, {"00wb", 4000}};
  audioOnly.totalFrames = 0;
  testsupport::Bytes bytes = avitest::Build(audioOnly).bytes;
  for (size_t field : {32u, 64u, 68u}) std::fill_n(bytes.begin() + field, 4, 0);
  ScratchDir dir;
  const ParseRun audio = Parse(dir.Write("audio.avi", bytes));
  EXPECT_EQ(Alarms(audio), Lines{});
  EXPECT_FALSE(testsupport::HasText(audio.lines, "1000000"));  // no rate from a zero period

  // The same main header with a video stream is wrong.
  avitest::Layout video = avitest::VideoAudioLayout({{"00dc", 100}, {"01wb", 4000}});
  video.totalFrames = 0;
  EXPECT_NE(Alarms(Parse(dir.Write("video.avi", avitest::Build(video).bytes))), Lines{});

  // OpenDML: 2 frames in the main header against a stream of 4 frames.
  avitest::Layout odml =
      avitest::VideoAudioLayout({{"00dc", 100}, {"01wb", 4000}, {"00dc", 100}, {"01wb", 4000}});
  odml.streams[0].length = 4;
  odml.odmlHeader = true;
  odml.totalFrames = odml.odmlFrames = 2;
  const ParseRun opendml = Parse(dir.Write("odml.avi", avitest::Build(odml).bytes));
  EXPECT_FALSE(testsupport::HasText(Alarms(opendml), "AVIMainHeader Length"));
}

}  // namespace
