// QuickTime and MP4 files: atoms of every size form built by hand, files of
// real producers, and damaged files.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "mov/CMOVParser.h"

namespace {

using testsupport::Be32;
using testsupport::Be64;
using testsupport::Bytes;
using testsupport::Concat;
using testsupport::ExpectTexts;
using testsupport::ParseRun;
using Lines = std::vector<std::string>;

const char kQuickTime[] = "This is a Apple Quicktime file.";
const char kMp4[] = "This is a Apple Quicktime MPEG-4 file.";
const char kInvalid[] = "This might not be a valid Apple Quicktime file.";

Bytes Type(const char (&type)[5]) { return Bytes(type, type + 4); }

Bytes Atom(const char (&type)[5], const Bytes& body) {
  return Concat({Be32(8 + body.size()), Type(type), body});
}
Bytes WideAtom(const char (&type)[5], const Bytes& body) {
  return Concat({Be32(1), Type(type), Be64(16 + body.size()), body});
}
Bytes SizedAtom(const char (&type)[5], uint32_t size, const Bytes& body) {
  return Concat({Be32(size), Type(type), body});
}

Bytes FileType(const char (&brand)[5]) {
  return Atom("ftyp", Concat({Type(brand), Be32(0), Type(brand)}));
}

// Movie header version 0 (100 bytes) or 1 (112 bytes): times, scale, duration,
// rate 1.0, volume 1.0, the matrix and the next track id.
Bytes MovieHeader(int version, uint64_t created = 1) {
  const Bytes times = version == 1 ? Concat({Be64(created), Be64(2), Be32(600), Be64(1200)})
                                   : Concat({Be32(1), Be32(2), Be32(600), Be32(1200)});
  return Atom("mvhd", Concat({{uint8_t(version), 0, 0, 0},
                              times,
                              Be32(0x10000),
                              {1, 0},
                              Bytes(10, 0),
                              Bytes(36, 0),
                              Bytes(24, 0),
                              Be32(2)}));
}

ParseRun RunMov(const Bytes& file, uint32_t verbosity = 3) {
  RunOptions options;
  options.report.verbosity = verbosity;
  return testsupport::RunParserOnBytes<CMOVParser>(file, options, nullptr, "sample.mov");
}

TEST(CMOVParserTest, AtomsOfEverySizeForm) {
  const Bytes moov = Atom("moov", MovieHeader(0));
  struct Row {
    const char* name;
    Bytes file;
    const char* verdict;
    Lines messages;
    Lines texts = {};
    Lines absent = {};
  } rows[] = {
      {"an MP4 brand", Concat({FileType("isom"), moov}), kMp4, Lines{},
       Lines{"(ISO 14496-1 Base Media)", "Movie Header (S:108, P:28)"}},
      {"QuickTime's brand", Concat({FileType("qt  "), moov}), kQuickTime, Lines{}},
      {"a movie header of version 1", Atom("moov", MovieHeader(1)), kQuickTime, Lines{},
       Lines{"Movie Header (S:120"}},
      {"a date past any calendar", Atom("moov", MovieHeader(1, ~0ull)), kQuickTime, Lines{},
       Lines{"04 CreationTime: 18446744073709551615", "(1904-01-01 00:00:02)"},
       Lines{"18446744073709551615  ("}},
      {"a movie header of version 2 is skipped", Atom("moov", Atom("mvhd", {2, 0, 0, 0, 1, 2, 3})),
       kQuickTime, Lines{}, Lines{"Movie Header"}},
      {"media data to the end of the file", Concat({moov, SizedAtom("mdat", 0, Bytes(100, 7))}),
       kQuickTime, Lines{}, Lines{"'mdat' (S:108, P:116): Movie Data"}},
      {"media data with a 64-bit size", Concat({moov, WideAtom("mdat", Bytes(100, 7)), moov}),
       kQuickTime, Lines{}, Lines{"'mdat' (S:116, P:116): Movie Data"}},
      {"an atom smaller than its header ends its container",
       Concat({moov, SizedAtom("free", 5, Bytes(20, 0))}), kQuickTime,
       Lines{"Chunk Size mismatch!"}},
      {"a 64-bit size below 16",
       Concat({moov, Type("\0\0\0\1"), Type("mdat"), Be64(9), Bytes(8, 0)}), kQuickTime,
       Lines{"Chunk Size mismatch!"}},
      {"an atom larger than its container is cut",
       Concat({Atom("udta", SizedAtom("ptv ", 40, {})), Atom("free", Bytes(40, 0))}), kQuickTime,
       Lines{"Token Size greater Chunk Size!"}, Lines{"'free' (S:48, P:16): Atom"}},
      {"an edit list of version 1",
       Atom("moov",
            Atom("trak",
                 Atom("edts",
                      Atom("elst",
                           Concat({{1, 0, 0, 0}, Be32(1), Be64(5000), Be64(0), Be32(0x10000)}))))),
       kQuickTime, Lines{}, Lines{"TrackDuration: 5000", "MediaRate: 1"}},
      {"a uuid atom", Concat({Atom("uuid", Bytes(40, 0xAB)), Atom("moov", MovieHeader(0))}),
       kQuickTime, Lines{}, Lines{"'uuid' (S:48, P:0): Atom User Data"}},
      {"unknown atoms", Concat({Atom("moov", Atom("zzzz", {1})), Atom("abcd", {2})}), kQuickTime,
       Lines{"Unexpected Token!", "Unexpected Token!"}},
      {"a text of the international list",
       Atom("udta", Atom("\xA9nam", Concat({{0, 5, 0x15, 0xC7}, Type("Clip"), {'!'}}))), kQuickTime,
       Lines{}, Lines{"Text International", "\"Clip!\""}},
      {"a null media header says MP4",
       Atom("moov", Atom("trak", Atom("mdia", Atom("minf", Atom("nmhd", Bytes(4, 0)))))), kMp4,
       Lines{}},
      {"a cut movie", Bytes(moov.begin(), moov.begin() + 50), kInvalid,
       Lines{"Chunk size greater File size", "Token Size greater Chunk Size!",
             "Chunk size greater File size", "Token Size greater Chunk Size!",
             "Unknown Token Size<!", "Missing Data"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const ParseRun run = RunMov(row.file);
    testsupport::ExpectVerdict(run, row.verdict, row.messages);
    ExpectTexts(run.lines, row.texts, row.absent);
  }
}

// Cut at many places and every atom's size set to values that break the
// walk's arithmetic: every run ends with a verdict.
TEST(CMOVParserTest, DamagedFilesEndWithAVerdict) {
  std::vector<Bytes> files = {Concat(
      {FileType("isom"),
       Atom("moov",
            Concat({MovieHeader(1),
                    Atom("trak",
                         Atom("mdia", Atom("minf", Atom("stbl", Atom("stsz", Bytes(12, 0))))))})),
       WideAtom("mdat", Bytes(64, 1))})};
  testsupport::ScratchDir dir;
  if (testsupport::Installed("ffmpeg")) {
    const std::string path = dir.File("real.mp4");
    ASSERT_EQ(0, std::system(("ffmpeg -v error -f lavfi -i testsrc=d=0.4:s=64x48:r=10 -c:v mjpeg "
                              "-f mov " +
                              path)
                                 .c_str()));
    files.push_back(testsupport::ReadFile(path));
  }
  for (const Bytes& file : files) {
    std::vector<Bytes> damaged;
    for (size_t at = 0; at < file.size(); at += std::max<size_t>(1, file.size() / 120)) {
      damaged.emplace_back(file.begin(), file.begin() + at);
    }
    for (size_t at = 0; at + 8 <= file.size(); ++at) {
      // An atom header: four letters after its size.
      if (!std::isalpha(file[at + 4]) || !std::isalpha(file[at + 5])) continue;
      for (uint32_t size : {0u, 1u, 7u, 0xFFFFFFFFu}) {
        Bytes bytes = file;
        const Bytes field = Be32(size);
        std::copy(field.begin(), field.end(), bytes.begin() + at);
        damaged.push_back(bytes);
      }
    }
    for (const Bytes& bytes : damaged) {
      const ParseRun run = RunMov(bytes, 5);
      ASSERT_FALSE(run.lines.empty());
      EXPECT_NE(std::string::npos, run.lines.back().find("Quicktime")) << bytes.size();
    }
  }
}

// The sample counts of the tracks ("NumberOfEntries: n" of each 'stsz'), in
// track order, and the packets ffprobe counts per stream.
std::vector<long> Counts(const Lines& lines, const char* label) {
  std::vector<long> counts;
  for (const std::string& line : lines) {
    const std::string text = testsupport::Trimmed(line);
    if (text.rfind(label, 0) == 0) counts.push_back(std::atol(text.c_str() + std::strlen(label)));
  }
  return counts;
}

TEST(CMOVParserTest, FilesOfRealProducersWalkCleanly) {
  const std::string mjpeg =
      "ffmpeg -v error -f lavfi -i testsrc=d=1:s=160x120:r=10 -f lavfi -i sine=d=1 ";
  const std::string h264 = "ffmpeg -v error -f lavfi -i testsrc=d=2:s=160x120:r=10 -c:v libx264 ";
  const std::string gst =
      "gst-launch-1.0 -q videotestsrc num-buffers=20 ! video/x-raw,width=160,height=120 ! ";
  struct Row {
    std::string command;
    const char* verdict;
    Lines texts;
    // The tracks whose sample count is the packet count (PCM audio counts
    // samples, fragments keep theirs out of the sample table).
    size_t counted;
  } rows[] = {
      {mjpeg + "-c:v mjpeg -c:a pcm_s16le -metadata title=Clip -f mov $OUT", kQuickTime,
       Lines{"(Quicktime Movie)", "'mdat'"}, 1},
      {h264 + "-f mp4 $OUT", kMp4, Lines{"(ISO 14496-1 Base Media)"}, 9},
      // An initial object descriptor, and a media header of version 1 (a
      // duration beyond 32 bits at this time scale).
      {"ffmpeg -v error -f lavfi -i testsrc=d=45:s=160x120:r=2 -c:v libx264 -skip_iods 0 "
       "-video_track_timescale 100000000 -f mp4 $OUT",
       kMp4, Lines{"MP4 Initial Object Descriptor", "Media Header (44) 'mdhd'"}, 9},
      {h264 + "-movflags +faststart -f mp4 $OUT", kMp4, Lines{}, 9},
      {h264 + "-movflags frag_keyframe+empty_moov -f mp4 $OUT", kMp4,
       Lines{"Movie Fragment", "Track Fragment Run"}, 0},
      {h264 + "-write_tmcd 1 -timecode 01:00:00:00 -f mov $OUT", kQuickTime, Lines{}, 9},
      {mjpeg + "-c:v mjpeg -c:a aac -f mp4 -use_editlist 1 $OUT", kMp4, Lines{}, 9},
      {gst + "jpegenc ! qtmux ! filesink location=$OUT", kQuickTime, Lines{}, 9},
      {gst + "x264enc ! mp4mux ! filesink location=$OUT", kMp4, Lines{}, 9},
      {gst + "x264enc ! mp4mux fragment-duration=500 ! filesink location=$OUT", kMp4,
       Lines{"Movie Fragment"}, 0},
      {mjpeg + "-c:v mjpeg -c:a pcm_s16le -f mov $OUT.src && lqtremux $OUT.src $OUT.lqt "
               ">/dev/null 2>&1 && mv $OUT.lqt $OUT",
       kQuickTime, Lines{}, 9},
  };
  testsupport::ScratchDir dir;
  int made = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.command);
    bool installed = testsupport::Installed("ffprobe");
    for (const char* tool : {"gst-launch-1.0", "lqtremux"}) {
      if (row.command.find(tool) != std::string::npos) installed &= testsupport::Installed(tool);
    }
    if (!installed) continue;
    const std::string path = dir.File(std::to_string(made++));
    std::string command = row.command;
    for (size_t at; (at = command.find("$OUT")) != std::string::npos;) command.replace(at, 4, path);
    if (std::system(command.c_str()) != 0) {
      // A producer without the codec it needs (x264, aac) has nothing to say.
      continue;
    }
    RunOptions options;
    options.report.verbosity = 2;
    const ParseRun run = testsupport::RunParserOnFile<CMOVParser>(path, options);
    testsupport::ExpectVerdict(run, row.verdict, {});
    ExpectTexts(run.lines, row.texts);
    if (row.counted == 0) continue;
    std::istringstream probed(testsupport::RunCommand(
        "ffprobe -v error -count_packets -show_entries stream=nb_read_packets -of csv=p=0 '" +
        path + "'"));
    std::vector<long> packets;
    for (std::string line; std::getline(probed, line);) packets.push_back(std::atol(line.c_str()));
    std::vector<long> counts = Counts(run.lines, "08 NumberOfEntries: ");
    packets.resize(std::min(packets.size(), row.counted));
    counts.resize(std::min(counts.size(), row.counted));
    EXPECT_EQ(packets, counts);
  }
  if (made == 0) GTEST_SKIP() << "no producer installed";
}

}  // namespace
