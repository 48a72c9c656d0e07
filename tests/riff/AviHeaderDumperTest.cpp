#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "core/FourCC.h"
#include "riff/AviHeaderDumper.h"

namespace {

using Bytes = testsupport::BodyBuilder;
using Lines = std::vector<std::string>;

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

AviStreamHeader VideoStream(uint32_t handler = FourCC("XVID"), uint32_t type = FourCC("vids")) {
  AviStreamHeader h;
  h.type = type;
  h.handler = handler;
  h.scale = 1;
  h.rate = 25;
  h.length = 1000;
  h.frameRight = 640;
  h.frameBottom = 480;
  return h;
}

// A header with one field changed.
template <typename Header, typename Field, typename Value>
Header With(Header h, Field Header::*field, Value value) {
  h.*field = static_cast<Field>(value);
  return h;
}

Bytes BitmapInfo(uint32_t size, int32_t width, int32_t height, const char (&compression)[5],
                 uint16_t bitCount = 24) {
  Bytes b;
  b.U32(size).U32(static_cast<uint32_t>(width)).U32(static_cast<uint32_t>(height)).U16(1);
  b.U16(bitCount).Tag(compression).U32(0).U32(0).U32(0).U32(0).U32(0);
  return b;
}

RunOptions AtVerbosity(uint32_t verbosity) {
  RunOptions options;
  options.report.verbosity = verbosity;
  return options;
}

// A parser over a captured report, an AVI model the test fills and a dumper.
class Harness {
 public:
  explicit Harness(uint32_t verbosity = 2) : parser_(AtVerbosity(verbosity), output_) {}
  void SetMain(const AviMainHeader& h) {
    AviModel::EncodeMainHeader(h, model_.avih.data());
    model_.avihSeen = true;
  }
  size_t AddStream(const AviStreamHeader& h) {
    model_.streams.emplace_back();
    AviModel::EncodeStreamHeader(h, model_.streams.back().strh.data());
    model_.streams.back().strhSeen = true;
    return model_.streams.size() - 1;
  }
  AviHeaderDumper Dumper() { return AviHeaderDumper(parser_, model_); }
  Lines Report() {
    output_.Flush();
    return testsupport::SplitLines(out_.str());
  }

 private:
  std::ostringstream out_;
  std::ostringstream err_;
  ReportOutput output_{out_, err_, ConsoleState{}};
  testsupport::MemoryParser parser_;
  AviModel model_;
};

using Dump = std::function<void(Harness&)>;

struct Row {
  const char* name;
  uint32_t verbosity;
  bool withMain;  // the main header of PalMainHeader() is known
  Dump dump;
  Lines present = {};
  Lines absent = {};
};

void RunRows(const std::vector<Row>& rows) {
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Harness h(row.verbosity);
    if (row.withMain) h.SetMain(PalMainHeader());
    row.dump(h);
    testsupport::ExpectTexts(h.Report(), row.present, row.absent);
  }
}

// Dumps of the main header, a new stream's header and its format, `size` bytes of each.
Dump Main(AviMainHeader m, size_t size = 56, int depth = 0) {
  return [m, size, depth](Harness& h) {
    std::vector<uint8_t> body(56);
    AviModel::EncodeMainHeader(m, body.data());
    h.Dumper().DumpMainHeader(body.data(), static_cast<uint32_t>(size), depth);
  };
}
Dump Stream(AviStreamHeader s, size_t size = 56, int depth = 0) {
  return [s, size, depth](Harness& h) {
    std::vector<uint8_t> body(56);
    AviModel::EncodeStreamHeader(s, body.data());
    body.resize(size);
    h.Dumper().DumpStreamHeader(h.AddStream(s), body.data(), static_cast<uint32_t>(size), depth);
  };
}
Dump Format(AviStreamHeader s, Bytes b, size_t size = 0) {
  return [s, b, size](Harness& h) {
    std::vector<uint8_t> data = b.data;
    data.resize(std::max(size, data.size()));
    const auto used = static_cast<uint32_t>(size ? size : b.data.size());
    h.Dumper().DumpStreamFormat(h.AddStream(s), data.data(), used, 0);
  };
}

TEST(AviHeaderDumper, HeaderLayouts) {
  Harness h;
  Main(PalMainHeader(), 56, 2)(h);
  testsupport::ExpectInOrder(
      h.Report(), {"    00 microsec/Frame: 40000", "    12 Flags: 0x00000910", "      + HasIndex",
                   "      + TrustCKType", "    16 Total Frames: 1000", "    36 Height: 480",
                   "    -> Length: 0:00:40:00 (25.00 fps, PAL)", "    -> Video Frame Size: NTSC"});
  Harness stream;
  stream.SetMain(PalMainHeader());
  AviStreamHeader s = VideoStream(FourCC("dvsd"), FourCC("iavs"));
  s.flags = 0x10000;
  s.initialFrames = 3;
  Stream(s, 56, 1)(stream);
  testsupport::ExpectInOrder(stream.Report(),
                             {"  00 Type: 'iavs' DV Type 1 (no 'auds' stream, not VfW compatible)",
                              "  04 Handler: 0x64737664 'dvsd' (DV Standard Definition 25Mb/s)",
                              "    + VideoPaletteChanges", "  16 InitalFrames: 3",
                              "  *** Warning: AVIMainHeader InitalFrames: 0!", "  24 Rate: 25",
                              "  44 SampleSize: 0 (Variable)", "  48 Frame (l t r b): 0 0 640 480",
                              "  -> Length: 0:00:40:00 (25.00 fps, PAL)"});
}

TEST(AviHeaderDumper, MainHeaderChecks) {
  const std::string streamsError = "*** Error: dwStreams may not be 0 or possibly greater 16!";
  AviMainHeader reserved = PalMainHeader();
  reserved.reserved[2] = 7;
  std::vector<Row> rows = {
      {"verbosity 3", 3, false, Main(reserved),
       Lines{"  - MustUseIndex", "  - WasCaptureFile", "40 Reserved1 (TimeScale): 0",
             "48 Reserved3 (StartTime): 7"}},
      {"16 streams", 2, false, Main(With(PalMainHeader(), &AviMainHeader::streams, 16)), Lines{},
       Lines{streamsError}},
      {"17 streams", 2, false, Main(With(PalMainHeader(), &AviMainHeader::streams, 17)),
       Lines{streamsError}},
      {"short body", 2, false, Main(PalMainHeader(), 18),
       Lines{"*** Warning: Unknown Token Size, expected 56!", "16 Total Frames: 1000",
             "-> Length: "},
       Lines{"20 Initial Frames", "Streams"}},
      {"no body", 2, false, [](Harness& h) { h.Dumper().DumpMainHeader(nullptr, 56, 0); }},
  };
  const struct {
    int32_t width, height;
    const char* name;
  } sizes[] = {{1920, 1080, "HDTV 16:9"}, {704, 480, "NTSC-DVD 11:7,5"}, {480, 640, "unknown"}};
  for (const auto& size : sizes) {
    AviMainHeader m = With(PalMainHeader(), &AviMainHeader::width, size.width);
    rows.push_back({size.name, 2, false, Main(With(m, &AviMainHeader::height, size.height)),
                    Lines{std::string("-> Video Frame Size: ") + size.name}});
  }
  RunRows(rows);

  // At verbosity 0 only messages show, each under the line of its field.
  Harness silent(0);
  Main(With(PalMainHeader(), &AviMainHeader::streams, 0))(silent);
  EXPECT_EQ(silent.Report(), Lines{streamsError});
  AviMainHeader bad = With(PalMainHeader(), &AviMainHeader::totalFrames, 0);
  bad.width = 15;
  bad.height = -480;
  Harness h;
  Main(bad)(h);
  testsupport::ExpectInOrder(
      h.Report(), {"16 Total Frames: 0", "*** Error: dwTotalFrames may not be 0!", "32 Width: 15",
                   "*** Warning: Width out of range (16 - 4096)!", "36 Height: -480",
                   "*** Warning: Height out of range (16 - 4096)!"});
}

TEST(AviHeaderDumper, StreamHeaderChecks) {
  const std::string quality = "*** Warning: Quality should be between 0 and 10000 or -1!";
  const std::string rateWarning = "*** Warning: AVIMainHeader microsecs/Frame: 33367!";
  const std::string lengthWarning =
      "*** Warning: AVIMainHeader Length 0:00:40:00 (25.00 fps, PAL)!";
  const auto ntscMain = [](AviStreamHeader s) {
    return [s](Harness& h) {
      h.SetMain(With(With(PalMainHeader(), &AviMainHeader::microSecPerFrame, 33367),
                     &AviMainHeader::totalFrames, 300));
      Stream(s)(h);
    };
  };
  AviStreamHeader silentAudio = VideoStream(FourCC("XVID"), FourCC("auds"));
  silentAudio.scale = silentAudio.rate = 0;
  AviStreamHeader ntsc = With(VideoStream(), &AviStreamHeader::scale, 1001);
  ntsc.rate = 30000;
  ntsc.length = 300;
  AviStreamHeader otherFrame = With(VideoStream(), &AviStreamHeader::frameRight, 720);
  otherFrame.frameBottom = 576;
  std::vector<Row> rows = {
      {"unknown DV handler", 2, false, Stream(VideoStream(FourCC("abcd"), FourCC("iavs"))),
       Lines{"00 Type: 'iavs'", "*** Error: Unknown DV Type 1 Handler!",
             "04 Handler: 0x64636261 'abcd'"}},
      {"video of 64 bytes", 2, false, Stream(VideoStream(), 64),
       Lines{"*** Error: Wrong AVIStreamHeader size (Frame item size)!"}},
      {"audio of 64 bytes, no rate", 2, false, Stream(silentAudio, 64),
       Lines{"*** Warning: Unknown Token Size, expected 56!", "*** Error: Scale may not be 0!",
             "*** Error: Rate may not be 0!", "-> Length: ??? fps < 0.01"},
       Lines{"Frame (l t r b)"}},
      {"29.97 fps against 33367 us", 2, false, ntscMain(ntsc),
       Lines{"-> Length: 0:00:10:00 (29.97 fps, NTSC)"}, Lines{rateWarning}},
      {"25 fps against 33367 us", 2, false,
       ntscMain(With(VideoStream(), &AviStreamHeader::length, 250)), Lines{rateWarning}},
      {"other frame rectangle", 2, true, Stream(otherFrame),
       Lines{"48 Frame (l t r b): 0 0 720 576", "*** Warning: AVIMainHeader Width: 640!",
             "*** Warning: AVIMainHeader Height: 480!"}},
      {"no main header", 2, false, Stream(With(VideoStream(), &AviStreamHeader::initialFrames, 5)),
       Lines{}, Lines{"AVIMainHeader"}},
      {"short body", 3, false, Stream(VideoStream(), 26),
       Lines{"*** Warning: Unknown Token Size, expected 56!", "20 Scale: 1", "24 Rate: 25"},
       Lines{"28 Start", "Frame (l t r b)"}},
  };
  // The main header lasts 40000 ms; half a second either way passes.
  for (uint32_t length : {40500u, 40501u, 39500u, 39499u}) {
    AviStreamHeader audio = VideoStream(0, FourCC("auds"));
    audio.rate = 1000;
    audio.length = length;
    const bool off = length == 40501u || length == 39499u;
    rows.push_back({off ? "length off" : "length near", 2, true, Stream(audio),
                    off ? Lines{lengthWarning} : Lines{}, off ? Lines{} : Lines{lengthWarning}});
  }
  // The quality shows, and is checked, from verbosity 3.
  for (int32_t value : {-1, 10000, 10001, -2}) {
    const AviStreamHeader s = With(VideoStream(), &AviStreamHeader::quality, value);
    const std::string line = "40 Quality: " + std::to_string(value);
    rows.push_back({"quality at 2", 2, false, Stream(s), {}, {line, quality}});
    const bool bad = value == 10001 || value == -2;
    rows.push_back({"quality at 3", 3, false, Stream(s), bad ? Lines{line, quality} : Lines{line},
                    bad ? Lines{} : Lines{quality}});
  }
  RunRows(rows);
}

TEST(AviHeaderDumper, StreamFormatsAndVideoProperties) {
  const Bytes palette = BitmapInfo(40, 640, -480, "\0\0\0\0", 8).Zeros(1024);
  const Bytes extra = BitmapInfo(40, 640, 480, "XVID").Tag("ABCD").Tag("EFGH");
  Bytes v5 = BitmapInfo(124, 640, 480, "XVID");
  v5.U32(0xFF0000).U32(0xFF00).U32(0xFF).U32(0).Tag("sRGB");
  for (uint32_t i = 1; i <= 9; ++i) v5.U32(i);
  v5.U32(10).U32(11).U32(12).U32(4).U32(0).U32(0);  // gamma, intent, profile; no reserved
  const Bytes mszh = BitmapInfo(48, 640, 480, "MSZH").U32(5).U8(2).U8(1).U8(0x5).U8(1);
  const Bytes mjpg =
      BitmapInfo(68, 640, 480, "MJPG").U32(44).U32(0).U32(0).U32(2).U32(8).U32(2).U32(1);
  const Bytes mjpgShort = BitmapInfo(68, 640, 480, "MJPG").U32(40);
  const Bytes hfyu = BitmapInfo(42, 640, 480, "HFYU").U8(1).U8(32);
  Bytes dv = BitmapInfo(40, 720, 576, "dvsd");
  // 48 kHz, 50 fields, dvsd; control words 0; video 50 fields; PAL widescreen 16:9.
  dv.U32(0x00200000).U32(0).U32(0x08200000).U32(0).U32(0x00200000).U32(0x00010200);
  Bytes subs;
  subs.U16(1).U8(1).U8(2).U8(3).U8(4).U32(0).U32(0xFFFFFF).U32(0x808080).U32(0x404040);
  const std::string mismatch = "*** Warning: Mismatching size in AVIStreamFormat";
  Bytes whole;
  whole.U32(2).U32(1).U32(50).U32(864).U32(625).U32(0x00100009).U32(720).U32(576).U32(1);
  for (uint32_t i = 0; i < 8; ++i) whole.U32(100 + i);
  Bytes cut;
  cut.U32(9).U32(9).Zeros(24).U32(0xFFFFFFFF).Zeros(32 + 20);  // one whole entry, one cut
  const auto props = [](Bytes b) {
    return [b](Harness& h) {
      h.Dumper().DumpVideoProperties(b.data.data(), static_cast<uint32_t>(b.data.size()), 1);
    };
  };
  RunRows({
      // Top-down (negative height) with its colour table, as ffmpeg writes it.
      {"top-down palette", 2, true, Format(VideoStream(), palette), Lines{"08 biHeight: -480"},
       Lines{"AVIMainHeader", "Mismatching size"}},
      {"palette of another size", 2, true, Format(VideoStream(), palette, 40 + 1000),
       Lines{mismatch}},
      {"extra bytes", 3, true, Format(VideoStream(), extra),
       Lines{mismatch, "40 ExtraData", "  \"ABCDEFGH\""}},
      {"bitmap v4 and v5", 2, true, Format(VideoStream(), v5, 120),
       Lines{mismatch, "BITMAPV4HEADER (108 bytes)",
             "  60 Endpoints: XYZR 1 2 3 XYZG 4 5 6 XYZB 7 8 9", "  04 GammaBlue: 12",
             "BITMAPV5HEADER (124 bytes)", "  16 ProfileSize: 0"}},
      {"MSZH", 2, false, Format(VideoStream(FourCC("MSZH")), mszh),
       Lines{"*** Error: Unexpected Magic Value, expected 0x00000004!",
             "46 ExtraData Flags: 0x05 Multithreaded used PNG Filter used",
             "47 ExtraData Codec: 1 MSZH"}},
      {"MJPG", 2, false, Format(VideoStream(FourCC("MJPG")), mjpg),
       Lines{"52 JPEGColorSpaceID: 2 YCbCr CCIR601", "64 JPEGVSubSympling: 1"}},
      {"MJPG cut short", 2, false, Format(VideoStream(FourCC("MJPG")), mjpgShort),
       Lines{"*** Warning: Unknown EXBMINFOHEADER size!"}, Lines{"JPEGSize"}},
      {"HFYU", 2, false, Format(VideoStream(FourCC("HFYU")), hfyu),
       Lines{"40 ExtraData Method: 1", "41 ExtraData BPPOverride: 32"}},
      {"DV info", 2, false, Format(VideoStream(FourCC("dvsd")), dv),
       Lines{"DV Info Header (24)", "    SMP 48kHz Sampling",
             "    STYPE 525-60 or 625-50, dvsd (IEC 61834)",
             "    *** Warning: SMP undefined Sampling",
             "    BCSYS Type 1 PAL Widescreen Signalling (ETSI EN 300 294)", "    DISP 16:9"}},
      {"DV info missing", 2, false,
       Format(VideoStream(FourCC("dv25")), BitmapInfo(40, 720, 576, "dv25")),
       Lines{"*** Error: DVINFO missing!"}},
      {"DV info without bitmap", 1, false, Format(VideoStream(), Bytes().Zeros(28)),
       Lines{"*** Error: Unexpected DVINFO header, expected BITMAPINFO!", "DV Info Header (28)",
             "  *** Warning: Unknown token Size, expected 32!", "  24 DVReserved[0]: 0x00000000"}},
      {"DV type 1 with bitmap", 1, false,
       Format(VideoStream(FourCC("dvsd"), FourCC("iavs")),
              BitmapInfo(40, 720, 576, "dvsd").Zeros(32)),
       Lines{"*** Error: Unexpected DVINFO size, expected 32!",
             "*** Error: Unexpected BITMAPINFO header, expected DVINFO!", "DV Info Header (32)",
             "  28 DVReserved[1]: 0x00000000"}},
      {"subtitles", 2, false, Format(VideoStream(0, FourCC("subs")), subs),
       Lines{"00 Mode: 1 Graphic Mode Half Resolution", "02 Remap: 4 3 2 1",
             "16 Palette: 0x00000000 0x00ffffff 0x00808080 0x00404040 (Background, Font, "
             "Outline, Antialias)"}},
      {"short subtitles", 2, false,
       Format(VideoStream(0, FourCC("subs")), Bytes().U8(7).U8(0).U8(1)),
       Lines{"*** Warning: Unknown Token Size, expected 22!", "00 Mode: 7 (undefined)",
             "02 Remap: 0 0 0 1"}},
      {"text", 2, false, Format(VideoStream(0, FourCC("txts")), Bytes().Tag("abc "), 3),
       Lines{"*** Info: Nothing known about 'txts'/'mids' streams!", "\"abc\"", "\"61 62 63 \""}},
      {"no such stream", 2, false,
       [](Harness& h) { h.Dumper().DumpStreamFormat(5, nullptr, 0, 0); },
       Lines{"*** Warning: Unknown StreamFormat"}},
      {"video properties", 2, false, props(whole),
       Lines{"  00 VideoFormatToken: 2 (PAL CCIR 601)", "  20 FrameAspectRatio: 0x00100009 (16:9)",
             "  Video Field Descriptor Entry #0", "    28 VideoYValidStartLine: 107"},
       Lines{"Unknown Token Size"}},
      {"field count past the body", 2, false, props(cut),
       Lines{"*** Warning: Unknown Token Size!", "00 VideoFormatToken: 9 (undefined)",
             "Video Field Descriptor Entry #0"},
       Lines{"Entry #1"}},
  });
}

TEST(AviHeaderDumper, TruncatedVideoFormatsReadOnlyTheBody) {
  for (uint32_t handler :
       {FourCC("XVID"), FourCC("MJPG"), FourCC("HFYU"), FourCC("MSZH"), FourCC("dvsd")}) {
    for (uint32_t verbosity : {0u, 3u}) {
      for (uint32_t size = 0; size <= 130; ++size) {
        Harness h(verbosity);
        h.SetMain(PalMainHeader());
        Bytes b = BitmapInfo(size == 70 ? 124 : 108, 640, 480, "XVID");
        b.Zeros(100);
        std::vector<uint8_t> body(b.data.begin(), b.data.begin() + size);
        h.Dumper().DumpStreamFormat(h.AddStream(VideoStream(handler)), body.data(), size, 0);
      }
    }
  }
}

TEST(AviHeaderDumper, CodecNamesAndDurationsThatNeverOverflow) {
  EXPECT_EQ(AviHeaderDumper::CodecName(FourCC("IV36")), "");
  EXPECT_EQ(AviHeaderDumper::CodecName(FourCC("Mjpg")), "");
  EXPECT_EQ(AviHeaderDumper::CodecName(0), " (undefined)");
  const struct {
    uint32_t scale, rate, length, ms;
  } streams[] = {{0, 25, 1000, 40000},  // a scale of 0 counts as 1
                 {0, 0, 1000, 0},
                 {0xFFFFFFFF, 1000, 1000, 0},  // not a usable rate
                 {100, 2, 0xFFFFFFFF, 0xFFFFFFFF}};
  for (const auto& c : streams) {
    AviStreamHeader s;
    s.scale = c.scale;
    s.rate = c.rate;
    s.length = c.length;
    EXPECT_EQ(AviHeaderDumper::StreamDurationMs(s), c.ms) << c.scale << "/" << c.rate;
  }
  AviMainHeader m;
  m.totalFrames = m.microSecPerFrame = 0xFFFFFFFF;
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
