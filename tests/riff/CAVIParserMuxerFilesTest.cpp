// Valid files from the muxers people use must not raise alarms: each muxer
// writes its own quirks that the AVI rules allow (no video stream, variable
// bit rate audio, a palette behind the bitmap header, a frame rectangle of
// zeros, a top-down bitmap). The real muxers are run where they are
// installed; the layouts that matter most are also built from bytes.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "AviIndexTestFiles.h"
#include "TestSupport.h"
#include "riff/CAVIParser.h"

namespace {

using testsupport::Bytes;
using testsupport::ParseRun;
using testsupport::ScratchDir;
using Lines = std::vector<std::string>;

using testsupport::Installed;

void RunShell(const std::string& command) {
  const int status = std::system((command + " >/dev/null 2>&1").c_str());
  (void)status;
}

// The Error and Warning lines of a report, trimmed; a writer's own deviation
// from the OpenDML layout (a header of only its frame count) is allowed.
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

// The verdict lines of the statistics: all but the chunk table rows, whose
// index counts "-c" leaves out on purpose.
Lines Verdicts(const ParseRun& run) {
  Lines verdicts;
  bool inside = false;
  for (const std::string& line : run.lines) {
    if (line.find("Statistics") != std::string::npos) inside = true;
    if (inside && line.find("'Idx1': ") == std::string::npos) verdicts.push_back(line);
  }
  return verdicts;
}

ParseRun Parse(const std::string& path, bool checkIndexes = true) {
  RunOptions options;
  options.scan.checkIndexes = checkIndexes;
  return testsupport::RunParserOnFile<CAVIParser>(path, options);
}

void ExpectNoAlarmAndTheSameVerdictWithoutIndexCheck(const std::string& path) {
  SCOPED_TRACE(path);
  const ParseRun run = Parse(path);
  EXPECT_EQ(Alarms(run), Lines{});
  EXPECT_EQ(Verdicts(Parse(path, false)), Verdicts(run));
}

struct Muxer {
  const char* name;
  const char* producer;
  std::string command;  // writes $OUT
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
    {"ffmpeg audio only, MP3", "ffmpeg", kFf + kSound + "-c:a libmp3lame \"$OUT\""},
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
    if (!Installed("ffmpeg") || !Installed(muxer.producer)) continue;
    const std::string path = dir.File("muxed.avi");
    ::unlink(path.c_str());
    RunShell("OUT='" + path + "'; " + muxer.command);
    ASSERT_GT(testsupport::ReadFile(path).size(), 1000u);
    ExpectNoAlarmAndTheSameVerdictWithoutIndexCheck(path);
  }
}

// The files of the suite say the same about interleaving and initial frames
// with and without the index check ("-c" keeps no entries).
TEST(CAVIParserMuxerFilesTest, IndexCheckDoesNotChangeTheVerdict) {
  const std::string data = std::string(CLIPSMITH_TEST_DATA) + "/avi/";
  for (const char* file :
       {"mpeg4_mp3.avi", "mjpeg_pcm.avi", "dv_pal.avi", "dv_ntsc.avi", "rawvideo.avi",
        "audio_only.avi", "two_audio.avi", "msmpeg4v2_adpcm.avi"}) {
    SCOPED_TRACE(file);
    EXPECT_EQ(Verdicts(Parse(data + file, false)), Verdicts(Parse(data + file)));
  }
}

// The same layouts from bytes: a file without a video stream, whose main
// header has no frames, no size and no frame period; and an OpenDML file,
// whose main header counts the frames of the first segment only.
TEST(CAVIParserMuxerFilesTest, MainHeaderIsJudgedByTheStreamsItDescribes) {
  avitest::Layout audioOnly = avitest::VideoAudioLayout({{"01wb", 4000}, {"01wb", 4000}});
  audioOnly.streams.erase(audioOnly.streams.begin());
  audioOnly.chunks = {{"00wb", 4000}, {"00wb", 4000}};
  audioOnly.totalFrames = 0;
  Bytes bytes = avitest::Build(audioOnly).bytes;
  // No frame period, no picture size.
  for (size_t field : {32u, 64u, 68u}) std::fill_n(bytes.begin() + field, 4, 0);
  ScratchDir dir;
  const ParseRun audio = Parse(dir.Write("audio.avi", bytes));
  for (const std::string& alarm : Alarms(audio)) ADD_FAILURE() << alarm;
  EXPECT_EQ(std::count_if(audio.lines.begin(), audio.lines.end(),
                          [](const std::string& line) {
                            return line.find("fps") != line.npos &&
                                   line.find("1000000") != line.npos;
                          }),
            0);

  // The same main header with a video stream is wrong.
  avitest::Layout video = avitest::VideoAudioLayout({{"00dc", 100}, {"01wb", 4000}});
  video.totalFrames = 0;
  EXPECT_NE(Alarms(Parse(dir.Write("video.avi", avitest::Build(video).bytes))), Lines{});

  // OpenDML: 2 frames in the main header against a stream of 4 frames.
  avitest::Layout odml =
      avitest::VideoAudioLayout({{"00dc", 100}, {"01wb", 4000}, {"00dc", 100}, {"01wb", 4000}});
  odml.streams[0].length = 4;
  odml.odmlHeader = true;
  odml.odmlFrames = 2;
  odml.totalFrames = 2;
  const ParseRun opendml = Parse(dir.Write("odml.avi", avitest::Build(odml).bytes));
  for (const std::string& alarm : Alarms(opendml)) {
    EXPECT_EQ(alarm.find("AVIMainHeader Length"), std::string::npos) << alarm;
  }
}

}  // namespace
