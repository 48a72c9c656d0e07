// Batches for pipelines: the JSON report of files of every format (and of
// damaged ones) against its schema and against the text report of the same
// files, and batches of several files at once that print what a run of one
// file after another prints.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "app/BatchRunner.h"
#include "app/ChildProcess.h"

namespace {

using testsupport::Bytes;
using testsupport::ScratchDir;
using Lines = std::vector<std::string>;

const std::string kData = CLIPSMITH_TEST_DATA;
const std::string kSchema = std::string(CLIPSMITH_SOURCE_DIR) + "/docs/report.schema.json";

// Files of every format the tool reads: the committed samples, what ffmpeg
// makes where it is installed, and damaged files.
void MakeSamples(const ScratchDir& dir) {
  namespace fs = std::filesystem;
  for (const auto& entry : fs::directory_iterator(kData + "/avi")) {
    if (entry.path().extension() == ".avi")
      fs::copy(entry.path(), dir.File(entry.path().filename()));
  }
  fs::copy(kData + "/sine_title.wav", dir.File("sine_title.wav"));
  const Bytes avi = testsupport::ReadFile(kData + "/avi/mjpeg_pcm.avi");
  dir.Write("cut.avi", Bytes(avi.begin(), avi.begin() + 12000));
  Bytes garbled = avi;
  for (size_t at = 9000; at < garbled.size(); at += 97) garbled[at] ^= 0x5A;
  dir.Write("garbled.avi", garbled);
  dir.Write("unknown.bin", testsupport::TextBytes("PK\x03\x04 not a media file \xff\xfe"));
  dir.Write("midi.mid", testsupport::Concat({testsupport::TextBytes("MThd"), testsupport::Be32(6),
                                             testsupport::Be16(0), testsupport::Be16(1),
                                             testsupport::Be16(96)}));
  if (!testsupport::Installed("ffmpeg")) return;
  const std::string clip =
      "ffmpeg -nostdin -v error -f lavfi -i testsrc=d=0.4:s=64x48:r=10 -f lavfi -i sine=d=0.4 ";
  for (const char* recipe :
       {"-c:v wmv2 -c:a wmav2 clip.wmv", "-c:v mpeg2video -c:a mp2 -f vob clip.mpg",
        "-c:v mpeg2video -c:a mp2 clip.ts", "-c:v mjpeg -c:a pcm_s16le clip.mov",
        "-c:v mpeg4 -c:a aac clip.mp4", "-c:v rv10 -c:a ac3 clip.rm", "-vn clip.aiff",
        "-an -c:v mpeg2video clip.m2v", "-vn -c:a mp2 clip.mp2"}) {
    const std::string text = recipe;
    const size_t space = text.rfind(' ');
    testsupport::RunCommand(clip + text.substr(0, space) + " '" + dir.File(text.substr(space + 1)) +
                            "'");
  }
}

// What the tool prints on standard output for `args`; the run must end well.
std::string Clipsmith(const std::vector<std::string>& args) {
  std::vector<std::string> command = {CLIPSMITH_BINARY};
  command.insert(command.end(), args.begin(), args.end());
  const apptest::ChildOutcome run = apptest::ChildProcess::Run(command, 120);
  EXPECT_TRUE(run.exitStatus == 0 || run.exitStatus == 2) << run.err;
  return run.out;
}

// The run's time, which differs from run to run.
std::string WithoutTime(const std::string& report) {
  static const std::regex kTime("(Elapsed Time \\[s\\]: |\"seconds\":)[0-9.e+-]+");
  return std::regex_replace(report, kTime, "$1");
}

// Python's reading of a JSON report: per file its path, parser, verdict,
// error count and chunk-table lines as the text report writes them.
std::string Summary(const std::string& json) {
  const ScratchDir dir;
  std::ofstream(dir.File("report.json")) << json;
  return testsupport::RunCommand(
      "python3 -c \"import json, sys\n"
      "for f in json.load(open(sys.argv[1]))['files']:\n"
      "  print('FILE', f['path']); print('PARSER', f['parser']); print('VERDICT', f['verdict'])\n"
      "  print('ERRORS', f['messages']['Error'])\n"
      "  for s in f['statistics']:\n"
      "    print('COUNTS %s: %d (Dropped: %d), \\'Idx1\\': %d (Key: %d), ODML: %d!' % (s['id'], "
      "s['movi'], s['dropped'], s['idx1'], s['key'], s['odml']))\n"
      "\" '" +
      dir.File("report.json") + "'");
}

// The text report of each file: its lines from its path to the blank line
// that precedes the next file (or the totals).
std::vector<Lines> TextSections(const std::string& text, const std::string& directory) {
  std::vector<Lines> sections;
  for (const std::string& line : testsupport::SplitLines(text)) {
    if (line.rfind(directory, 0) == 0) {
      sections.push_back({line});
    } else if (!sections.empty() && !line.empty() && line.rfind("Total Files", 0) != 0) {
      sections.back().push_back(line);
    }
  }
  return sections;
}

TEST(BatchRunnerTest, JsonReportsAgreeWithTheSchemaAndTheTextReport) {
  ScratchDir dir;
  MakeSamples(dir);
  const std::string files = dir.File("*");
  const std::string json = Clipsmith({"-e", "-v3", files});
  if (testsupport::RunCommand("python3 -c 'import jsonschema' && echo yes") == "yes\n") {
    const ScratchDir out;
    std::ofstream(out.File("report.json")) << json;
    EXPECT_EQ(testsupport::RunCommand("python3 -c \"import json, sys, jsonschema\n"
                                      "jsonschema.validate(json.load(open(sys.argv[1])), "
                                      "json.load(open(sys.argv[2])))\" '" +
                                      out.File("report.json") + "' '" + kSchema + "'"),
              "");
  }
  const Lines summary = testsupport::SplitLines(Summary(json));
  const std::vector<Lines> sections = TextSections(Clipsmith({"-v3", files}), dir.Path());
  size_t file = 0;
  for (const std::string& line : summary) {
    ASSERT_LE(file, sections.size());
    const std::string value = line.substr(line.find(' ') + 1);
    if (line.rfind("FILE ", 0) == 0) {
      ASSERT_LT(file, sections.size());
      EXPECT_EQ(sections[file++][0], value);
      continue;
    }
    const Lines& section = sections[file - 1];
    SCOPED_TRACE(section[0]);
    if (line.rfind("VERDICT ", 0) == 0) {
      const bool found = std::any_of(section.begin(), section.end(), [&](const std::string& text) {
        return testsupport::Trimmed(text) == value;
      });
      EXPECT_TRUE(found) << value;
    }
    if (line.rfind("ERRORS ", 0) == 0) {
      EXPECT_EQ(std::to_string(testsupport::CountText(section, "*** Error: ")), value);
    }
    if (line.rfind("COUNTS ", 0) == 0) {
      EXPECT_TRUE(testsupport::HasText(section, value)) << value;
    }
    if (line.rfind("PARSER ", 0) == 0 && section[0].find("unknown.bin") != std::string::npos) {
      EXPECT_EQ(value, "None");
    }
  }
  EXPECT_EQ(file, sections.size());
}

TEST(BatchRunnerTest, FilesAtOnceReportWhatOneAfterAnotherReports) {
  ScratchDir dir;
  MakeSamples(dir);
  const std::string files = dir.File("*");
  for (const std::vector<std::string>& options :
       {std::vector<std::string>{}, {"-e"}, {"-v4", "-t100"}}) {
    std::vector<std::string> one = options, several = options;
    one.insert(one.end(), {"-j1", files});
    several.insert(several.end(), {"-j3", files});
    const std::string inOrder = Clipsmith(one);
    EXPECT_NE(inOrder.find("sine_title.wav"), std::string::npos);
    EXPECT_EQ(WithoutTime(Clipsmith(several)), WithoutTime(inOrder));
  }
}

}  // namespace
