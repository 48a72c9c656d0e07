#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "core/CParser.h"
#include "core/FourCC.h"
#include "riff/AviHeaderDumper.h"

namespace {

using TestParser = testsupport::MemoryParser;

using Bytes = testsupport::BodyBuilder;

AviMainHeader PalMainHeader() {
  AviMainHeader h;
  h.microSecPerFrame = 40000;
  h.flags = 0x910;
  h.totalFrames = 1000;
  h.streams = 2;
  h.width = 640;
  h.height = 480;
  return h;
}

std::vector<uint8_t> MainBody(const AviMainHeader& h) {
  std::vector<uint8_t> body(56);
  AviModel::EncodeMainHeader(h, body.data());
  return body;
}

std::vector<uint8_t> StreamBody(const AviStreamHeader& h) {
  std::vector<uint8_t> body(56);
  AviModel::EncodeStreamHeader(h, body.data());
  return body;
}

AviStreamHeader VideoStream(uint32_t handler = FourCC("XVID")) {
  AviStreamHeader h;
  h.type = FourCC("vids");
  h.handler = handler;
  h.scale = 1;
  h.rate = 25;
  h.length = 1000;
  h.frameRight = 640;
  h.frameBottom = 480;
  return h;
}

// A parser over a captured report, an AVI model the test fills and a dumper.
class DumperHarness {
 public:
  explicit DumperHarness(uint32_t verbosity = 2) {
    RunOptions options;
    options.report.verbosity = verbosity;
    parser_ = std::make_unique<TestParser>(options, output_);
  }

  void SetMain(const AviMainHeader& h) {
    AviModel::EncodeMainHeader(h, model.avih.data());
    model.avihSeen = true;
  }
  size_t AddStream(const AviStreamHeader& h) {
    AviStream stream;
    AviModel::EncodeStreamHeader(h, stream.strh.data());
    stream.strhSeen = true;
    model.streams.push_back(std::move(stream));
    return model.streams.size() - 1;
  }
  AviHeaderDumper Dumper() { return AviHeaderDumper(*parser_, model); }

  std::vector<std::string> Lines() {
    output_.Flush();
    std::vector<std::string> lines;
    std::istringstream in(out_.str());
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  bool Has(const std::string& line) {
    std::vector<std::string> lines = Lines();
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  }
  bool HasText(const std::string& part) {
    return Lines(), out_.str().find(part) != std::string::npos;
  }

  AviModel model;

 private:
  std::ostringstream out_;
  std::ostringstream err_;
  ReportOutput output_{out_, err_, ConsoleState{}};
  std::unique_ptr<TestParser> parser_;
};

// ---------------------------------------------------------------------------
// Main header

TEST(AviHeaderDumperMain, DumpsEveryFieldWithFlagsAndDerivedLines) {
  DumperHarness h(2);
  std::vector<uint8_t> body = MainBody(PalMainHeader());
  h.Dumper().DumpMainHeader(body.data(), 56, 2);
  EXPECT_EQ(h.Lines(), (std::vector<std::string>{
                           "    00 microsec/Frame: 40000",
                           "    04 Max Bytes/sec: 0",
                           "    08 Padding Granularity: 0",
                           "    12 Flags: 0x00000910",
                           "      + HasIndex",
                           "      + IsInterleaved",
                           "      + TrustCKType",
                           "    16 Total Frames: 1000",
                           "    20 Initial Frames: 0",
                           "    24 Streams: 2",
                           "    28 Suggested Buffer Size: 0",
                           "    32 Width: 640",
                           "    36 Height: 480",
                           "    -> Length: 0:00:40:00 (25.00 fps, PAL)",
                           "    -> Video Frame Size: NTSC",
                       }));
}

TEST(AviHeaderDumperMain, VerbosityShapesTheDump) {
  AviMainHeader main = PalMainHeader();
  main.reserved[2] = 7;
  std::vector<uint8_t> body = MainBody(main);
  {
    DumperHarness h(1);
    h.Dumper().DumpMainHeader(body.data(), 56, 0);
    EXPECT_FALSE(h.HasText("Max Bytes/sec"));
    EXPECT_FALSE(h.HasText("Reserved"));
    EXPECT_FALSE(h.HasText("- MustUseIndex"));
  }
  {
    DumperHarness h(3);
    h.Dumper().DumpMainHeader(body.data(), 56, 0);
    EXPECT_TRUE(h.Has("  - MustUseIndex"));
    EXPECT_TRUE(h.Has("  - WasCaptureFile"));
    EXPECT_TRUE(h.Has("40 Reserved1 (TimeScale): 0"));
    EXPECT_TRUE(h.Has("48 Reserved3 (StartTime): 7"));
  }
  {
    DumperHarness h(0);  // silent but for messages
    main.streams = 0;
    body = MainBody(main);
    h.Dumper().DumpMainHeader(body.data(), 56, 0);
    EXPECT_EQ(h.Lines(), std::vector<std::string>{
                             "*** Error: dwStreams may not be 0 or possibly greater 16!"});
  }
}

TEST(AviHeaderDumperMain, FrameSizeNames) {
  struct Case {
    int32_t width, height;
    const char* line;
  } cases[] = {{1920, 1080, "-> Video Frame Size: HDTV 16:9"},
               {1280, 720, "-> Video Frame Size: HDTV 16:9"},
               {720, 576, "-> Video Frame Size: PAL-DVD 5:4"},
               {704, 480, "-> Video Frame Size: NTSC-DVD 11:7,5"},
               {480, 640, "-> Video Frame Size: unknown"}};
  for (const Case& c : cases) {
    DumperHarness h;
    AviMainHeader main = PalMainHeader();
    main.width = c.width;
    main.height = c.height;
    std::vector<uint8_t> body = MainBody(main);
    h.Dumper().DumpMainHeader(body.data(), 56, 0);
    EXPECT_TRUE(h.Has(c.line)) << c.width << "x" << c.height;
  }
}

TEST(AviHeaderDumperMain, StreamCountTotalFramesAndFrameEdges) {
  const std::string streamsError = "*** Error: dwStreams may not be 0 or possibly greater 16!";
  for (uint32_t streams : {0u, 16u, 17u}) {
    DumperHarness h;
    AviMainHeader main = PalMainHeader();
    main.streams = streams;
    std::vector<uint8_t> body = MainBody(main);
    h.Dumper().DumpMainHeader(body.data(), 56, 0);
    EXPECT_EQ(h.Has(streamsError), streams != 16) << streams;
  }
  DumperHarness h;
  AviMainHeader main = PalMainHeader();
  main.totalFrames = 0;
  main.width = 15;
  main.height = -480;
  std::vector<uint8_t> body = MainBody(main);
  h.Dumper().DumpMainHeader(body.data(), 56, 0);
  std::vector<std::string> lines = h.Lines();
  auto at = [&](const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) - lines.begin();
  };
  EXPECT_EQ(at("*** Error: dwTotalFrames may not be 0!"), at("16 Total Frames: 0") + 1);
  // Each edge is checked under its own line.
  EXPECT_EQ(at("*** Warning: Width out of range (16 - 4096)!"), at("32 Width: 15") + 1);
  EXPECT_EQ(at("*** Warning: Height out of range (16 - 4096)!"), at("36 Height: -480") + 1);
}

TEST(AviHeaderDumperMain, ShortBodyShowsOnlyTheFieldsItHolds) {
  DumperHarness h;
  std::vector<uint8_t> full = MainBody(PalMainHeader());
  std::vector<uint8_t> body(full.begin(), full.begin() + 18);  // cut inside Total Frames
  h.Dumper().DumpMainHeader(body.data(), 18, 0);
  std::vector<std::string> lines = h.Lines();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0], "*** Warning: Unknown Token Size, expected 56!");
  EXPECT_TRUE(h.Has("16 Total Frames: 1000"));  // the two bytes present, zero padded
  EXPECT_FALSE(h.HasText("20 Initial Frames"));
  EXPECT_FALSE(h.HasText("Streams"));
  EXPECT_TRUE(h.HasText("-> Length: "));
  h.Dumper().DumpMainHeader(nullptr, 56, 0);  // no body at all: nothing is read
}

// ---------------------------------------------------------------------------
// Stream header

TEST(AviHeaderDumperStream, DumpsDvType1StreamHeader) {
  DumperHarness h(2);
  h.SetMain(PalMainHeader());
  AviStreamHeader s = VideoStream(FourCC("dvsd"));
  s.type = FourCC("iavs");
  s.flags = 0x10000;
  s.initialFrames = 3;
  size_t k = h.AddStream(s);
  std::vector<uint8_t> body = StreamBody(s);
  h.Dumper().DumpStreamHeader(k, body.data(), 56, 1);
  EXPECT_EQ(h.Lines(), (std::vector<std::string>{
                           "  00 Type: 'iavs' DV Type 1 (no 'auds' stream, not VfW compatible)",
                           "  04 Handler: 0x64737664 'dvsd' (DV Standard Definition 25Mb/s)",
                           "  08 Flags: 0x00010000",
                           "    + VideoPaletteChanges",
                           "  12 Priority: 0",
                           "  14 Language: 0",
                           "  16 InitalFrames: 3",
                           "  *** Warning: AVIMainHeader InitalFrames: 0!",
                           "  20 Scale: 1",
                           "  24 Rate: 25",
                           "  28 Start: 0",
                           "  32 Length: 1000",
                           "  44 SampleSize: 0 (Variable)",
                           "  48 Frame (l t r b): 0 0 640 480",
                           "  -> Length: 0:00:40:00 (25.00 fps, PAL)",
                       }));
}

TEST(AviHeaderDumperStream, HandlerAndSizeChecks) {
  {
    DumperHarness h;
    AviStreamHeader s = VideoStream(FourCC("abcd"));
    s.type = FourCC("iavs");
    size_t k = h.AddStream(s);
    std::vector<uint8_t> body = StreamBody(s);
    h.Dumper().DumpStreamHeader(k, body.data(), 56, 0);
    EXPECT_TRUE(h.Has("00 Type: 'iavs'"));
    EXPECT_TRUE(h.Has("*** Error: Unknown DV Type 1 Handler!"));
    EXPECT_TRUE(h.Has("04 Handler: 0x64636261 'abcd'"));
  }
  {
    DumperHarness h;
    AviStreamHeader s = VideoStream();
    size_t k = h.AddStream(s);
    std::vector<uint8_t> body = StreamBody(s);
    body.resize(64);  // frame rectangle written as four 32-bit values
    h.Dumper().DumpStreamHeader(k, body.data(), 64, 0);
    EXPECT_TRUE(h.Has("*** Error: Wrong AVIStreamHeader size (Frame item size)!"));
  }
  {
    DumperHarness h;
    AviStreamHeader s = VideoStream();
    s.type = FourCC("auds");
    s.scale = 0;
    s.rate = 0;
    size_t k = h.AddStream(s);
    std::vector<uint8_t> body = StreamBody(s);
    body.resize(64);
    h.Dumper().DumpStreamHeader(k, body.data(), 64, 0);
    EXPECT_TRUE(h.Has("*** Warning: Unknown Token Size, expected 56!"));
    EXPECT_TRUE(h.Has("*** Error: Scale may not be 0!"));
    EXPECT_TRUE(h.Has("*** Error: Rate may not be 0!"));
    EXPECT_FALSE(h.HasText("Frame (l t r b)"));  // audio has no frame
    EXPECT_TRUE(h.Has("-> Length: ??? fps < 0.01"));
  }
}

TEST(AviHeaderDumperStream, QualityOnlyFromVerbosityThree) {
  const std::string warning = "*** Warning: Quality should be between 0 and 10000 or -1!";
  for (int32_t quality : {-1, 10000, 10001, -2}) {
    for (uint32_t verbosity : {2u, 3u}) {
      DumperHarness h(verbosity);
      AviStreamHeader s = VideoStream();
      s.quality = quality;
      size_t k = h.AddStream(s);
      std::vector<uint8_t> body = StreamBody(s);
      h.Dumper().DumpStreamHeader(k, body.data(), 56, 0);
      EXPECT_EQ(h.Has("40 Quality: " + std::to_string(quality)), verbosity == 3);
      EXPECT_EQ(h.Has(warning), verbosity == 3 && (quality == 10001 || quality == -2))
          << quality << " at " << verbosity;
    }
  }
}

TEST(AviHeaderDumperStream, FrameRateAgainstMainHeader) {
  const std::string warning = "*** Warning: AVIMainHeader microsecs/Frame: 33367!";
  AviMainHeader main = PalMainHeader();
  main.microSecPerFrame = 33367;
  main.totalFrames = 300;
  {
    DumperHarness h;
    h.SetMain(main);
    AviStreamHeader s = VideoStream();
    s.scale = 1001;
    s.rate = 30000;  // 29.97 fps: both round to 30
    s.length = 300;
    size_t k = h.AddStream(s);
    std::vector<uint8_t> body = StreamBody(s);
    h.Dumper().DumpStreamHeader(k, body.data(), 56, 0);
    EXPECT_FALSE(h.Has(warning));
    EXPECT_TRUE(h.Has("-> Length: 0:00:10:00 (29.97 fps, NTSC)"));
  }
  {
    DumperHarness h;
    h.SetMain(main);
    AviStreamHeader s = VideoStream();  // 25 fps
    s.length = 250;
    size_t k = h.AddStream(s);
    std::vector<uint8_t> body = StreamBody(s);
    h.Dumper().DumpStreamHeader(k, body.data(), 56, 0);
    EXPECT_TRUE(h.Has(warning));
  }
}

TEST(AviHeaderDumperStream, DurationAgainstMainHeaderAllowsHalfASecond) {
  // Main header: 1000 frames of 40 ms = 40000 ms.
  const std::string warning = "*** Warning: AVIMainHeader Length 0:00:40:00 (25.00 fps, PAL)!";
  for (uint32_t length : {40500u, 40501u, 39500u, 39499u}) {
    DumperHarness h;
    h.SetMain(PalMainHeader());
    AviStreamHeader s;
    s.type = FourCC("auds");
    s.scale = 1;
    s.rate = 1000;
    s.length = length;
    size_t k = h.AddStream(s);
    std::vector<uint8_t> body = StreamBody(s);
    h.Dumper().DumpStreamHeader(k, body.data(), 56, 0);
    EXPECT_EQ(h.Has(warning), length == 40501u || length == 39499u) << length;
  }
}

TEST(AviHeaderDumperStream, FrameRectangleAgainstMainHeader) {
  DumperHarness h;
  h.SetMain(PalMainHeader());
  AviStreamHeader s = VideoStream();
  s.frameRight = 720;
  s.frameBottom = 576;
  size_t k = h.AddStream(s);
  std::vector<uint8_t> body = StreamBody(s);
  h.Dumper().DumpStreamHeader(k, body.data(), 56, 0);
  EXPECT_TRUE(h.Has("48 Frame (l t r b): 0 0 720 576"));
  EXPECT_TRUE(h.Has("*** Warning: AVIMainHeader Width: 640!"));
  EXPECT_TRUE(h.Has("*** Warning: AVIMainHeader Height: 480!"));
}

TEST(AviHeaderDumperStream, NoMainHeaderMeansNoComparison) {
  DumperHarness h;
  AviStreamHeader s = VideoStream();
  s.initialFrames = 5;
  size_t k = h.AddStream(s);
  std::vector<uint8_t> body = StreamBody(s);
  h.Dumper().DumpStreamHeader(k, body.data(), 56, 0);
  EXPECT_FALSE(h.HasText("AVIMainHeader"));
}

TEST(AviHeaderDumperStream, ShortBodyStopsAtItsEnd) {
  DumperHarness h(3);
  AviStreamHeader s = VideoStream();
  size_t k = h.AddStream(s);
  std::vector<uint8_t> full = StreamBody(s);
  std::vector<uint8_t> body(full.begin(), full.begin() + 26);  // cut inside the rate
  h.Dumper().DumpStreamHeader(k, body.data(), 26, 0);
  EXPECT_TRUE(h.Has("*** Warning: Unknown Token Size, expected 56!"));
  EXPECT_TRUE(h.Has("20 Scale: 1"));
  EXPECT_TRUE(h.Has("24 Rate: 25"));
  EXPECT_FALSE(h.HasText("28 Start"));
  EXPECT_FALSE(h.HasText("Frame (l t r b)"));
}

// ---------------------------------------------------------------------------
// Stream formats

Bytes BitmapInfo(uint32_t size, int32_t width, int32_t height, const char (&compression)[5],
                 uint16_t bitCount = 24) {
  Bytes b;
  b.U32(size).U32(static_cast<uint32_t>(width)).U32(static_cast<uint32_t>(height)).U16(1);
  b.U16(bitCount).Tag(compression).U32(0).U32(0).U32(0).U32(0).U32(0);
  return b;
}

// A top-down bitmap states its height negated, and an 8-bit one carries its
// colour table behind the header (as ffmpeg writes them): both agree with
// the main header.
TEST(AviHeaderDumperFormat, TopDownPaletteBitmapAgreesWithTheMainHeader) {
  DumperHarness h;
  h.SetMain(PalMainHeader());
  size_t k = h.AddStream(VideoStream());
  Bytes b = BitmapInfo(40, 640, -480, "\0\0\0\0", 8);
  b.Zeros(1024);
  h.Dumper().DumpStreamFormat(k, b.data.data(), 40 + 1024, 1);
  EXPECT_TRUE(h.Has("  08 biHeight: -480"));
  EXPECT_FALSE(h.HasText("AVIMainHeader"));
  EXPECT_FALSE(h.HasText("Mismatching size"));
  // A table of another size does not fit.
  DumperHarness odd;
  odd.SetMain(PalMainHeader());
  k = odd.AddStream(VideoStream());
  odd.Dumper().DumpStreamFormat(k, b.data.data(), 40 + 1000, 1);
  EXPECT_TRUE(odd.HasText("Mismatching size"));
}

TEST(AviHeaderDumperFormat, ExtraBytesAndSizeMismatch) {
  DumperHarness h(3);
  h.SetMain(PalMainHeader());
  size_t k = h.AddStream(VideoStream());
  Bytes b = BitmapInfo(40, 640, 480, "XVID");
  b.Tag("ABCD").Tag("EFGH");
  h.Dumper().DumpStreamFormat(k, b.data.data(), 48, 0);
  std::vector<std::string> lines = h.Lines();
  EXPECT_EQ(lines.front(), "*** Warning: Mismatching size in AVIStreamFormat");
  EXPECT_EQ(lines[lines.size() - 2], "40 ExtraData");
  EXPECT_EQ(lines.back(), "  \"ABCDEFGH\"");
}

TEST(AviHeaderDumperFormat, BitmapVersion4And5Fields) {
  DumperHarness h(2);
  h.SetMain(PalMainHeader());
  size_t k = h.AddStream(VideoStream());
  Bytes b = BitmapInfo(124, 640, 480, "XVID");
  b.U32(0xFF0000).U32(0xFF00).U32(0xFF).U32(0).Tag("sRGB");
  for (uint32_t i = 1; i <= 9; ++i) b.U32(i);
  b.U32(10).U32(11).U32(12);  // gamma
  b.U32(4).U32(0).U32(0);     // intent, profile data, profile size; reserved is cut off
  ASSERT_EQ(b.data.size(), 120u);
  h.Dumper().DumpStreamFormat(k, b.data.data(), 120, 0);
  std::vector<std::string> lines = h.Lines();
  std::vector<std::string> tail(std::find(lines.begin(), lines.end(), "BITMAPV4HEADER (108 bytes)"),
                                lines.end());
  EXPECT_EQ(tail, (std::vector<std::string>{
                      "BITMAPV4HEADER (108 bytes)",
                      "  40 RedMask: 16711680",
                      "  44 GreenMask: 65280",
                      "  48 BlueMask: 255",
                      "  52 AlphaMask: 0",
                      "  56 CSType: 1111970419",
                      "  60 Endpoints: XYZR 1 2 3 XYZG 4 5 6 XYZB 7 8 9",
                      "  96 GammaRed: 10",
                      "  00 GammaGreen: 11",
                      "  04 GammaBlue: 12",
                      "BITMAPV5HEADER (124 bytes)",
                      "  08 Intent: 4",
                      "  12 ProfileData: 0",
                      "  16 ProfileSize: 0",
                  }));
  EXPECT_EQ(lines.front(), "*** Warning: Mismatching size in AVIStreamFormat");
}

TEST(AviHeaderDumperFormat, CodecExtras) {
  {
    DumperHarness h;
    size_t k = h.AddStream(VideoStream(FourCC("MSZH")));
    Bytes b = BitmapInfo(48, 640, 480, "MSZH");
    b.U32(5).U8(2).U8(1).U8(0x5).U8(1);
    h.Dumper().DumpStreamFormat(k, b.data.data(), 48, 0);
    std::vector<std::string> lines = h.Lines();
    std::vector<std::string> tail(lines.end() - 6, lines.end());
    EXPECT_EQ(tail,
              (std::vector<std::string>{
                  "40 ExtraData MagicValue: 0x00000005",
                  "*** Error: Unexpected Magic Value, expected 0x00000004!",
                  "44 ExtraData ImageType: 2 RGB24",
                  "45 ExtraData Compression: 1 MSZH No Compression/ZLIB Highspeed Compression",
                  "46 ExtraData Flags: 0x05 Multithreaded used PNG Filter used",
                  "47 ExtraData Codec: 1 MSZH",
              }));
  }
  {
    DumperHarness h;
    size_t k = h.AddStream(VideoStream(FourCC("MJPG")));
    Bytes b = BitmapInfo(68, 640, 480, "MJPG");
    b.U32(44).U32(0).U32(0).U32(2).U32(8).U32(2).U32(1);
    h.Dumper().DumpStreamFormat(k, b.data.data(), 68, 0);
    EXPECT_TRUE(h.Has("52 JPEGColorSpaceID: 2 YCbCr CCIR601"));
    EXPECT_TRUE(h.Has("64 JPEGVSubSympling: 1"));
  }
  {
    DumperHarness h;
    size_t k = h.AddStream(VideoStream(FourCC("MJPG")));
    Bytes b = BitmapInfo(68, 640, 480, "MJPG");
    b.U32(40);
    h.Dumper().DumpStreamFormat(k, b.data.data(), 44, 0);  // cut short as well
    EXPECT_TRUE(h.Has("*** Warning: Unknown EXBMINFOHEADER size!"));
    EXPECT_FALSE(h.HasText("JPEGSize"));
  }
  {
    DumperHarness h;
    size_t k = h.AddStream(VideoStream(FourCC("HFYU")));
    Bytes b = BitmapInfo(42, 640, 480, "HFYU", 24);
    b.U8(1).U8(32);
    h.Dumper().DumpStreamFormat(k, b.data.data(), 42, 0);
    EXPECT_TRUE(h.Has("40 ExtraData Method: 1"));
    EXPECT_TRUE(h.Has("41 ExtraData BPPOverride: 32"));
  }
}

TEST(AviHeaderDumperFormat, DvFormatsAndDvInfoDecoding) {
  {
    DumperHarness h(2);
    size_t k = h.AddStream(VideoStream(FourCC("dvsd")));
    Bytes b = BitmapInfo(40, 720, 576, "dvsd");
    // 48 kHz, 50 fields, dvsd; control words 0; video 50 fields; PAL widescreen 16:9.
    b.U32(0x00200000).U32(0).U32(0x08200000).U32(0).U32(0x00200000).U32(0x00010200);
    h.Dumper().DumpStreamFormat(k, b.data.data(), 64, 0);
    std::vector<std::string> lines = h.Lines();
    std::vector<std::string> tail(std::find(lines.begin(), lines.end(), "DV Info Header (24)"),
                                  lines.end());
    EXPECT_EQ(tail, (std::vector<std::string>{
                        "DV Info Header (24)",
                        "  00 DVAAuxSrc: 0x00200000",
                        "    SMP 48kHz Sampling",
                        "    FIELDS 50",
                        "    STYPE 525-60 or 625-50, dvsd (IEC 61834)",
                        "  04 DVAAuxCtl: 0x00000000",
                        "  08 DVAAuxSrc1: 0x08200000",
                        "    *** Warning: SMP undefined Sampling",
                        "    FIELDS 50",
                        "    STYPE 525-60 or 625-50, dvsd (IEC 61834)",
                        "  12 DVAAuxCtl1: 0x00000000",
                        "  16 DVVAuxSrc: 0x00200000",
                        "    FIELDS 50",
                        "    STYPE 525-60 or 625-50, dvsd (IEC 61834)",
                        "  20 DVVAuxCtl: 0x00010200",
                        "    BCSYS Type 1 PAL Widescreen Signalling (ETSI EN 300 294)",
                        "    DISP 16:9",
                    }));
  }
  {
    DumperHarness h;
    size_t k = h.AddStream(VideoStream(FourCC("dv25")));
    Bytes b = BitmapInfo(40, 720, 576, "dv25");
    h.Dumper().DumpStreamFormat(k, b.data.data(), 40, 0);
    EXPECT_TRUE(h.Has("*** Error: DVINFO missing!"));
  }
  {
    DumperHarness h(1);
    size_t k = h.AddStream(VideoStream());
    Bytes b;
    b.Zeros(28);
    h.Dumper().DumpStreamFormat(k, b.data.data(), 28, 0);
    EXPECT_EQ(h.Lines(), (std::vector<std::string>{
                             "*** Error: Unexpected DVINFO header, expected BITMAPINFO!",
                             "DV Info Header (28)",
                             "  *** Warning: Unknown token Size, expected 32!",
                             "  00 DVAAuxSrc: 0x00000000",
                             "  04 DVAAuxCtl: 0x00000000",
                             "  08 DVAAuxSrc1: 0x00000000",
                             "  12 DVAAuxCtl1: 0x00000000",
                             "  16 DVVAuxSrc: 0x00000000",
                             "  20 DVVAuxCtl: 0x00000000",
                             "  24 DVReserved[0]: 0x00000000",
                         }));
  }
  {
    // DV type 1 with a bitmap header in front of its DVINFO.
    DumperHarness h(1);
    AviStreamHeader s = VideoStream(FourCC("dvsd"));
    s.type = FourCC("iavs");
    size_t k = h.AddStream(s);
    Bytes b = BitmapInfo(40, 720, 576, "dvsd");
    b.Zeros(32);
    h.Dumper().DumpStreamFormat(k, b.data.data(), 72, 0);
    EXPECT_TRUE(h.Has("*** Error: Unexpected DVINFO size, expected 32!"));
    EXPECT_TRUE(h.Has("*** Error: Unexpected BITMAPINFO header, expected DVINFO!"));
    EXPECT_TRUE(h.Has("DV Info Header (32)"));
    EXPECT_TRUE(h.Has("  28 DVReserved[1]: 0x00000000"));
  }
}

TEST(AviHeaderDumperFormat, SubtitleTextAndUnknownStreams) {
  {
    DumperHarness h(2);
    AviStreamHeader s;
    s.type = FourCC("subs");
    size_t k = h.AddStream(s);
    Bytes b;
    b.U16(1).U8(1).U8(2).U8(3).U8(4).U32(0).U32(0xFFFFFF).U32(0x808080).U32(0x404040);
    h.Dumper().DumpStreamFormat(k, b.data.data(), 22, 0);
    EXPECT_EQ(h.Lines(),
              (std::vector<std::string>{
                  "00 Mode: 1 Graphic Mode Half Resolution",
                  "02 Remap: 4 3 2 1",
                  "16 Palette: 0x00000000 0x00ffffff 0x00808080 0x00404040 (Background, Font, "
                  "Outline, Antialias)",
              }));
  }
  {
    DumperHarness h(2);
    AviStreamHeader s;
    s.type = FourCC("subs");
    size_t k = h.AddStream(s);
    std::vector<uint8_t> b = {7, 0, 1};
    h.Dumper().DumpStreamFormat(k, b.data(), 3, 0);
    EXPECT_EQ(h.Lines(), (std::vector<std::string>{
                             "*** Warning: Unknown Token Size, expected 22!",
                             "00 Mode: 7 (undefined)",
                             "02 Remap: 0 0 0 1",
                         }));
  }
  {
    DumperHarness h(2);
    AviStreamHeader s;
    s.type = FourCC("txts");
    size_t k = h.AddStream(s);
    std::vector<uint8_t> b = {'a', 'b', 'c'};
    h.Dumper().DumpStreamFormat(k, b.data(), 3, 0);
    EXPECT_EQ(h.Lines(), (std::vector<std::string>{
                             "*** Info: Nothing known about 'txts'/'mids' streams!",
                             "\"abc\"",
                             "\"61 62 63 \"",
                         }));
  }
  {
    DumperHarness h(2);
    std::vector<uint8_t> b = {'a', 'b', 'c'};
    h.Dumper().DumpStreamFormat(5, b.data(), 3, 0);  // no such stream
    EXPECT_TRUE(h.Has("*** Warning: Unknown StreamFormat"));
  }
}

TEST(AviHeaderDumperFormat, TruncatedVideoFormatsReadOnlyTheBody) {
  const uint32_t handlers[] = {FourCC("XVID"), FourCC("MJPG"), FourCC("HFYU"), FourCC("MSZH"),
                               FourCC("dvsd")};
  for (uint32_t handler : handlers) {
    for (uint32_t verbosity : {0u, 3u}) {
      for (uint32_t size = 0; size <= 130; ++size) {
        DumperHarness h(verbosity);
        h.SetMain(PalMainHeader());
        size_t k = h.AddStream(VideoStream(handler));
        Bytes b = BitmapInfo(size == 70 ? 124 : 108, 640, 480, "XVID");
        b.Zeros(100);
        std::vector<uint8_t> body(b.data.begin(), b.data.begin() + size);
        h.Dumper().DumpStreamFormat(k, body.data(), size, 0);
      }
    }
  }
}

// ---------------------------------------------------------------------------
// Video properties

TEST(AviHeaderDumperVideoProperties, DumpsHeaderAndFieldDescriptors) {
  DumperHarness h(2);
  Bytes b;
  b.U32(2).U32(1).U32(50).U32(864).U32(625).U32(0x00100009).U32(720).U32(576).U32(1);
  for (uint32_t i = 0; i < 8; ++i) b.U32(100 + i);
  h.Dumper().DumpVideoProperties(b.data.data(), 68, 1);
  EXPECT_EQ(h.Lines(), (std::vector<std::string>{
                           "  00 VideoFormatToken: 2 (PAL CCIR 601)",
                           "  04 VideoStandard: 1 (PAL)",
                           "  08 VerticalRefreshRate: 50",
                           "  12 HTotalInT: 864",
                           "  16 VTotalInLines: 625",
                           "  20 FrameAspectRatio: 0x00100009 (16:9)",
                           "  24 FrameWidthInPixels: 720",
                           "  28 FrameHeightInLines: 576",
                           "  32 FieldPerFrame: 1",
                           "  Video Field Descriptor Entry #0",
                           "    00 CompressedBMHeight: 100",
                           "    04 CompressedBMWidth: 101",
                           "    08 ValidBMHeight: 102",
                           "    12 ValidBMWidth: 103",
                           "    16 ValidBMXOffset: 104",
                           "    20 ValidBMYOffset: 105",
                           "    24 VideoXOffsetInT: 106",
                           "    28 VideoYValidStartLine: 107",
                       }));
}

TEST(AviHeaderDumperVideoProperties, FieldCountIsBoundedByTheBody) {
  DumperHarness h(2);
  Bytes b;
  b.U32(9).U32(9).Zeros(24).U32(0xFFFFFFFF).Zeros(32 + 20);  // one whole entry, one cut
  h.Dumper().DumpVideoProperties(b.data.data(), static_cast<uint32_t>(b.data.size()), 0);
  std::vector<std::string> lines = h.Lines();
  EXPECT_EQ(lines.front(), "*** Warning: Unknown Token Size!");
  EXPECT_TRUE(h.Has("00 VideoFormatToken: 9 (undefined)"));
  EXPECT_TRUE(h.Has("Video Field Descriptor Entry #0"));
  EXPECT_FALSE(h.HasText("Entry #1"));
}

// ---------------------------------------------------------------------------
// Derived values

TEST(AviHeaderDumperValues, CodecNames) {
  EXPECT_EQ(AviHeaderDumper::CodecName(FourCC("MJPG")), " (Motion JPEG)");
  EXPECT_EQ(AviHeaderDumper::CodecName(FourCC("mjpg")), " (Motion JPEG)");
  EXPECT_EQ(AviHeaderDumper::CodecName(FourCC("IV35")), " (Intel/Ligos Indeo)");
  EXPECT_EQ(AviHeaderDumper::CodecName(FourCC("IV36")), "");
  EXPECT_EQ(AviHeaderDumper::CodecName(FourCC("Mjpg")), "");
  EXPECT_EQ(AviHeaderDumper::CodecName(0), " (undefined)");
}

TEST(AviHeaderDumperValues, DurationsAndRatesNeverOverflow) {
  AviStreamHeader s;
  s.scale = 0;  // counts as 1
  s.rate = 25;
  s.length = 1000;
  EXPECT_EQ(AviHeaderDumper::StreamDurationMs(s), 40000u);
  s.rate = 0;
  EXPECT_EQ(AviHeaderDumper::StreamDurationMs(s), 0u);
  s.scale = 0xFFFFFFFF;
  s.rate = 1000;  // 2.3e-7 per second: not a usable rate
  EXPECT_EQ(AviHeaderDumper::StreamDurationMs(s), 0u);
  s.scale = 100;
  s.rate = 2;  // 0.02 per second: the duration does not fit 32 bits
  s.length = 0xFFFFFFFF;
  EXPECT_EQ(AviHeaderDumper::StreamDurationMs(s), 0xFFFFFFFFu);

  AviMainHeader m;
  m.totalFrames = 0xFFFFFFFF;
  m.microSecPerFrame = 0xFFFFFFFF;
  EXPECT_EQ(AviHeaderDumper::MainDurationMs(m), 0xFFFFFFFFu);
  m.microSecPerFrame = 0;
  EXPECT_DOUBLE_EQ(AviHeaderDumper::MainFrameRate(m), 1e6);
  m.totalFrames = 3;
  m.microSecPerFrame = 1500;  // 4.5 ms rounds up
  EXPECT_EQ(AviHeaderDumper::MainDurationMs(m), 5u);

  EXPECT_EQ(AviHeaderDumper::RoundedMs(std::nan("")), 0u);
  EXPECT_EQ(AviHeaderDumper::RoundedMs(-5.0), 0u);
  EXPECT_EQ(AviHeaderDumper::RoundedMs(std::numeric_limits<double>::infinity()), 0xFFFFFFFFu);
  EXPECT_EQ(AviHeaderDumper::RoundedWhole(std::numeric_limits<double>::infinity()),
            ~static_cast<uint64_t>(0));
}

}  // namespace
