// The statistics block after the last segment.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "AviIndexTestFiles.h"
#include "TestSupport.h"
#include "riff/CAVIParser.h"

namespace {

using avitest::Idx1Kind;
using avitest::Layout;
using testsupport::Bytes;
using testsupport::Concat;
using testsupport::Le16;
using testsupport::Le32;
using testsupport::TextBytes;
using testsupport::Trimmed;
using Lines = std::vector<std::string>;

Lines StreamBlock(const Lines& statistics, size_t stream) {
  const std::string header = "      AVIStreamHeader #" + std::to_string(stream);
  auto end = std::find(statistics.begin(), statistics.end(), header);
  while (end != statistics.end() && (*end == header || end->compare(0, 8, "        ") == 0)) ++end;
  return Lines(std::find(statistics.begin(), statistics.end(), header), end);
}

Lines Statistics(const Layout& layout, const RunOptions& options) {
  const Lines lines =
      testsupport::RunParserOnBytes<CAVIParser>(avitest::Build(layout).bytes, options).lines;
  return Lines(std::find_if(lines.begin(), lines.end(),
                            [](const std::string& line) { return Trimmed(line) == "Statistics"; }),
               lines.end());
}

// Four video frames, one second of 16000 bytes/s audio in four chunks; agreeing headers.
Layout TwoStreams() {
  std::vector<avitest::Chunk> chunks;
  for (const uint32_t size : {100u, 90u, 110u, 95u}) {
    chunks.insert(chunks.end(), {{"00dc", size, size >= 100}, {"01wb", 4000}});
  }
  return avitest::VideoAudioLayout(chunks);
}

Layout Edited(const std::function<void(Layout&)>& edit) {
  Layout layout = TwoStreams();
  edit(layout);
  return layout;
}

struct Row {
  const char* name;
  Layout layout;
  int stream;
  Lines present;
  Lines absent = {};
  RunOptions options = RunOptions();
};

// Headers that disagree with the data, one way each: lines of the block or a stream's (>= 0).
TEST(CAVIParserStatisticsTest, HeadersAreSetAgainstWhatTheScanFound) {
  RunOptions verbose;
  verbose.report.verbosity = 3;
  RunOptions partial;
  partial.scan.moviParseLimit = 1;
  const std::string video = "'00dc': 4 (Dropped: 0), 'Idx1': 4 (Key: 2), ODML: 0!";
  const std::string audioTotal = "'auds'-Stream Payload Total Size in Bytes: 16000!";
  // Two frames in each chunk, found through an OpenDML index alone.
  Layout packed = avitest::VideoAudioLayout({{"00dc", 200}, {"00dc", 200}});
  packed.streams.resize(1);
  packed.mainFlags = 0x30;
  packed.odmlHeader = true;
  packed.idx1 = Idx1Kind::kNone;
  packed.moviExtra = testsupport::ChunkBuilder().Chunk(
      "ix00", Concat({Le16(2), Bytes{0, 1}, Le32(4), TextBytes("00dc"),
                      Le32(static_cast<uint32_t>(avitest::Build(packed).moviTypePos)), Le32(0),
                      Le32(0), Le32(12), Le32(100), Le32(112), Le32(100), Le32(220), Le32(100),
                      Le32(320), Le32(100)}));
  // Three dropped frames and an unannounced palette change in a 24-bit stream.
  Layout palette = avitest::VideoAudioLayout(
      {{"00dc", 100}, {"00dc", 0}, {"00pc", 4}, {"00dc", 0}, {"00dc", 0}, {"00dc", 100}});
  palette.streams.resize(1);
  palette.totalFrames = palette.streams[0].length = 5;
  Layout many = TwoStreams();
  many.streams.insert(many.streams.end(),
                      {many.streams[0], many.streams[1], many.streams[1], many.streams[1]});
  many.streams[4].type = "txts";
  many.streams[5].type = "xyzw";
  const std::vector<Row> rows = {
      // 16395 of 17028 bytes payload, the junk wasted; an audio rate 10 off is close enough.
      {"agreeing headers", Edited([](Layout& l) {
         l.moviExtra = testsupport::ChunkBuilder().Chunk("JUNK", Bytes(100, 0));
         l.streams[1].avgBytesPerSec = 15990;
       }),
       -1,
       Lines{"      Overhead Size 633, approx. 4% (including wasted 108)", video,
             "'01wb': 4 (Dropped: 0), 'Idx1': 4 (Key: 4), ODML: 0!", audioTotal},
       Lines{"Audio/Video", "Initial Frames", "Mismatching", "Max Frame Size", "Avg Bytes/sec"},
       verbose},
      {"main header flags: not interleaved, must use the ordered index",
       Edited([](Layout& l) { l.mainFlags = 0x30; }), -1,
       Lines{
           "      Audio/Video interleaved, but ISINTERLEAVED not set!",
           "Index does not define out-of-sequence/duplicate frames, but AVIF_MUSTUSEINDEX is set"}},
      {"several frames in a chunk", packed, -1,
       Lines{"      This may be a low-overhead AVI (multiple frames in one chunk)!"},
       Lines{"AVIF_MUSTUSEINDEX"}},
      {"standard indexes without super indexes", Edited([](Layout& l) {
         l.standardIndexes = l.odmlHeader = true;
         l.superIndexes = false;
         l.odmlFrames = 4;
       }),
       0,
       Lines{"        No 'indx'-Entries detected, but 'ix##'-Entries!",
             "        No 'indx'-Entries detected, but ODML-Header found!",
             "'ix00': 1 (Dropped: 0), 'Idx1': 0 (Key: 0), ODML: 4!", video}},
      {"super index alone", Edited([](Layout& l) {
         l.streams[0].extra = testsupport::ChunkBuilder().Chunk(
             "indx", Concat({Le16(4), Bytes{0, 0}, Le32(1), TextBytes("00dc"), Bytes(12, 0),
                             Le32(0), Le32(0), Le32(16384), Le32(4)}));
       }),
       0,
       Lines{"        'indx'-Entries detected, but no 'ix##'-Entries!",
             "        'indx'-Entries detected, but ODML-Header not found!"}},
      {"video counts, palette flag", Edited([](Layout& l) {
         l.totalFrames = 5;
         l.streams[0].length = 3;
         l.streams[0].suggestedBuffer = 110 + 17;
         l.streams[0].flags = 0x10000;  // palette changes, but there are none
       }),
       0,
       Lines{video, "        Video Frames detected: 4 AVIMainHeader Frames: 5!",
             "        Video Frames detected: 4 AVIStreamHeader Length: 3!",
             "        Max Frame Size detected: 110 SuggestedBufferSize: 127!",
             "        Stream contains no AVIPaletteChanges, but AVIStreamHeader-Flag is set!"}},
      // The OpenDML frame count counts; a buffer 16 bytes above the largest frame is fine.
      {"video counts with the OpenDML header", Edited([](Layout& l) {
         l.totalFrames = 5;
         l.odmlHeader = true;
         l.odmlFrames = 7;
         l.streams[0].suggestedBuffer = 110 + 16;
       }),
       0,
       Lines{"        Video Frames detected: 4 AVIExtHeader Frames: 7!",
             "        Video Frames detected in the first RIFF: 4 AVIMainHeader Frames: 5!"},
       Lines{"Max Frame Size", "AVIStreamHeader Length"}},
      {"palette changes and dropped frames", palette, 0,
       Lines{"'00dc': 5 (Dropped: 3), 'Idx1': 5 (Key: 5), ODML: 0!",
             "'00pc': 1 (Dropped: 0), 'Idx1': 1 (Key: 1), ODML: 0!",
             "        Stream contains AVIPaletteChanges, but AVIStreamHeader-Flag is not set!",
             "but there are more than 8-bit-colors in AVIStreamFormat-Header set!"}},
      {"audio totals", Edited([](Layout& l) {
         l.streams[1].length = 8001;
         l.streams[1].avgBytesPerSec = 15980;
       }),
       1,
       Lines{audioTotal, "        Mismatching 'strh' Length: 8001 * Scale: 2 = 16002!",
             "        Avg Bytes/sec: 15998, StreamHeader Avg Bytes/sec: 15980!"}},
      // The product does not wrap.
      {"audio length times scale",
       Edited([](Layout& l) { l.streams[1].length = l.streams[1].scale = 0xFFFFFFFF; }), 1,
       Lines{"Length: 4294967295 * Scale: 4294967295 = 18446744065119617025!"}},
      {"second video stream", many, 2,
       Lines{"        More than one 'vids'/'iavs'-Stream detected!",
             "        Detected no chunks at all for this stream!",
             "        Video Frames detected: 0 AVIMainHeader Frames: 4!",
             "        Max Frame Size detected: 0 SuggestedBufferSize: 110!"}},
      {"second audio stream", many, 3, {"        More than one 'auds'-Stream detected!"}},
      {"text stream", many, 4,
       Lines{"        Detected no chunks at all for this stream!",
             "        Nothing else known about 'txts'/'mids' Streams"}},
      {"unknown stream", many, 5,
       Lines{"        Unknown stream type", "        Detected no chunks at all for this stream!"}},
      // The audio leads by two chunks: its initial frames.
      {"audio ahead, not interleaved",
       avitest::VideoAudioLayout({{"01wb", 8000}, {"01wb", 8000}, {"00dc", 100}, {"00dc", 100}}),
       -1,
       Lines{"      Audio/Video not interleaved, but ISINTERLEAVED set!",
             "        Initial Frames detected 2, AVIStreamHeader Initial Frames: 0!"}},
      // Partial parsing leaves the tables and counts of video and audio out.
      {"partial parse", TwoStreams(), -1, Lines{"AVIStreamHeader #1"},
       Lines{"Chunks detected", "Payload Total"}, partial},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const Lines statistics = Statistics(row.layout, row.options);
    testsupport::ExpectTexts(row.stream < 0 ? statistics : StreamBlock(statistics, row.stream),
                             row.present, row.absent);
  }
}

}  // namespace
