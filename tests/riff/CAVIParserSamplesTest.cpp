// Real AVI files written by a common encoder (recipes in
// tests/data/avi/make_avi_samples.sh): each must walk without errors, and the
// header lines must state what the recipe asked for.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "riff/CAVIParser.h"

namespace {

using testsupport::Trimmed;
using Lines = std::vector<std::string>;

struct Sample {
  const char* file;
  Lines expected;       // header lines, without their indentation
  Lines allowedErrors;  // Error lines the header checks rightly report
};

std::string SamplePath(const std::string& file) {
  return std::string(CLIPSMITH_TEST_DATA) + "/avi/" + file;
}

const Sample kSamples[] = {
    {"mpeg4_mp3.avi",
     {"00 microsec/Frame: 40000", "24 Streams: 2", "32 Width: 160", "36 Height: 120",
      "00 Type: 'vids'", "20 Scale: 1", "24 Rate: 25", "00 Type: 'auds'", "00 FormatTag: 85 (MP3)",
      "02 Channels: 1", "04 Samples/sec (fps): 44100"},
     {}},
    {"mjpeg_pcm.avi",
     {"00 microsec/Frame: 100000", "24 Streams: 2", "32 Width: 160", "36 Height: 120",
      "04 Handler: 0x47504a4d 'MJPG' (Motion JPEG)", "24 Rate: 10", "00 FormatTag: 1 (PCM)",
      "02 Channels: 1", "04 Samples/sec (fps): 8000", "14 Bits/Sample: 16"},
     {}},
    // ffmpeg writes no DVINFO behind the bitmap header of DV streams.
    {"dv_pal.avi",
     {"00 microsec/Frame: 40000", "32 Width: 720", "36 Height: 576",
      "00 Type: 'vids' DV Type 2 (redundant 'auds' stream, VfW compatible)",
      "04 Handler: 0x64737664 'dvsd' (DV Standard Definition 25Mb/s)", "24 Rate: 25",
      "00 FormatTag: 1 (PCM)", "02 Channels: 2", "04 Samples/sec (fps): 48000"},
     {"*** Error: DVINFO missing!"}},
    {"dv_ntsc.avi",
     {"00 microsec/Frame: 33366", "32 Width: 720", "36 Height: 480",
      "04 Handler: 0x64737664 'dvsd' (DV Standard Definition 25Mb/s)", "20 Scale: 1001",
      "24 Rate: 30000", "00 FormatTag: 1 (PCM)", "02 Channels: 2", "04 Samples/sec (fps): 48000"},
     {"*** Error: DVINFO missing!"}},
    {"rawvideo.avi",
     {"00 microsec/Frame: 200000", "16 Total Frames: 5", "24 Streams: 1", "32 Width: 32",
      "36 Height: 32", "00 Type: 'vids'", "24 Rate: 5", "32 Length: 5"},
     {}},
    // Without video the main header counts no frames.
    {"audio_only.avi",
     {"24 Streams: 1", "00 Type: 'auds'", "00 FormatTag: 1 (PCM)", "02 Channels: 1",
      "04 Samples/sec (fps): 11025", "14 Bits/Sample: 16"},
     {"*** Error: dwTotalFrames may not be 0!"}},
    {"two_audio.avi",
     {"24 Streams: 3", "32 Width: 64", "36 Height: 48", "04 Samples/sec (fps): 8000",
      "14 Bits/Sample: 8", "04 Samples/sec (fps): 22050", "02 Channels: 2", "14 Bits/Sample: 16"},
     {}},
    {"msmpeg4v2_adpcm.avi",
     {"00 microsec/Frame: 66666", "32 Width: 160", "36 Height: 120",
      "04 Handler: 0x3234504d 'MP42' (MS MPEG-4)", "24 Rate: 15", "00 FormatTag: 2 (ADPCM)",
      "02 Channels: 1", "04 Samples/sec (fps): 22050"},
     {}},
};

class CAVIParserSamplesTest : public ::testing::TestWithParam<Sample> {};

TEST_P(CAVIParserSamplesTest, WalksWithoutErrorsAndStatesTheRecipe) {
  const Sample& sample = GetParam();
  size_t streams = 0;
  const testsupport::ParseRun run = testsupport::RunParserOnFile<CAVIParser>(
      SamplePath(sample.file), RunOptions(),
      [&](CAVIParser& parser) { streams = parser.Model().streams.size(); });
  ASSERT_TRUE(run.result);
  Lines trimmed;
  for (const std::string& line : run.lines) trimmed.push_back(Trimmed(line));
  for (const std::string& line : trimmed) {
    const bool error = line.rfind("*** Error: ", 0) == 0 || line.rfind("*** Fatal: ", 0) == 0;
    if (!error) continue;
    EXPECT_NE(std::find(sample.allowedErrors.begin(), sample.allowedErrors.end(), line),
              sample.allowedErrors.end())
        << line;
  }
  for (const std::string& expected : sample.expected) {
    EXPECT_NE(std::find(trimmed.begin(), trimmed.end(), expected), trimmed.end()) << expected;
  }
  const std::string segment = "'RIFF' (";
  EXPECT_EQ(std::count_if(trimmed.begin(), trimmed.end(),
                          [&](const std::string& line) {
                            return line.rfind(segment, 0) == 0 &&
                                   line.find("'AVI ': RIFF AVI Chunk, Segment #1") !=
                                       std::string::npos;
                          }),
            1);
  EXPECT_NE(std::find_if(trimmed.begin(), trimmed.end(),
                         [](const std::string& line) {
                           return line.find("'movi': AVI movi List") != std::string::npos;
                         }),
            trimmed.end());
  EXPECT_GE(streams, 1u);
}

INSTANTIATE_TEST_SUITE_P(CAVIParserSamples, CAVIParserSamplesTest, ::testing::ValuesIn(kSamples),
                         [](const ::testing::TestParamInfo<Sample>& info) {
                           std::string name = info.param.file;
                           return name.substr(0, name.find('.'));
                         });

}  // namespace
