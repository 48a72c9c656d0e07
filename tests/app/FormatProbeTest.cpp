#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "AppTestSupport.h"
#include "app/FormatProbe.h"
#include "core/SystemError.h"

namespace {

using apptest::CapturedOutput;
using apptest::ScratchDir;

using namespace std::string_literals;

TEST(FormatProbeDispatch, ChoosesTheFirstMatchingRow) {
  const ByteOrder kAuto = ByteOrder::kAuto, kBig = ByteOrder::kBig;
  const ByteOrder kMpegScan = ByteOrder::kMpegScan;
  const struct {
    std::string bytes;
    ByteOrder byteOrder;
    ProbeRow row;
  } rows[] = {
      {"RIFF\x10\0\0\0AVI "s, kAuto, ProbeRow::kAvi},
      {"RIFX\0\0\0\020AVI "s, kAuto, ProbeRow::kAvi},
      {"\0\0\0\010wide"s, kAuto, ProbeRow::kQuickTime},
      {".RMF\0\0\0\x12"s, kAuto, ProbeRow::kRealMedia},
      {"\x30\x26\xB2\x75\x8E\x66\xCF\x11"s, kAuto, ProbeRow::kAsf},
      {"RIFF\x24\0\0\0WAVE"s, kAuto, ProbeRow::kRiffForm},
      {"FORM\0\0\0\040AIFF"s, kAuto, ProbeRow::kRiffForm},
      {"FORC\0\0\0\x20\x01\x02\x03\x04"s, kAuto, ProbeRow::kRiffForm},
      {"LIST\0\0\0\x20    "s, kAuto, ProbeRow::kRiffForm},
      {"MThd\0\0\0\x06"s, kAuto, ProbeRow::kRiffForm},
      {"RIFF\x24\0\0\0CDXA"s, kAuto, ProbeRow::kRiff},
      {"FORM\x24\0\0\0Egg!"s, kAuto, ProbeRow::kRiff},
      {"RIFF\x24\0\0\0CD-A"s, kAuto, ProbeRow::kUnrecognised},
      {"\0\0\x01\xBA\x44"s, kAuto, ProbeRow::kMpeg},
      {"\x47\x40\x11\x10"s, kAuto, ProbeRow::kMpeg},
      {"\xFF\xFB\x90\x64"s, kAuto, ProbeRow::kMpeg},
      {"\xFF\xE3\x90\x64"s, kAuto, ProbeRow::kMpeg},  // MPEG-2.5
      {"\xFF\xE1\x90\x64"s, kAuto, ProbeRow::kUnrecognised},  // reserved layer
      {"ID3\x01"s, kAuto, ProbeRow::kMpeg},
      {"ID3\x05"s, kAuto, ProbeRow::kMpeg},
      {"ID3\x00"s, kAuto, ProbeRow::kUnrecognised},
      {"ID3\x06"s, kAuto, ProbeRow::kUnrecognised},
      {"Hello, world"s, kAuto, ProbeRow::kUnrecognised},
      // -mx/-mi: anything the rows before it do not take goes to the chunk parser.
      {"\0\0\x01\xBA"s, kBig, ProbeRow::kForcedRiff},
      {"Hello, world"s, ByteOrder::kLittle, ProbeRow::kForcedRiff},
      {"RIFF\x24\0\0\0WAVE"s, kBig, ProbeRow::kRiffForm},
      // -mt: MPEG scanning even when the MPEG test fails, after the chunk files.
      {"Hello, world"s, kMpegScan, ProbeRow::kMpeg},
      {"RIFF\x24\0\0\0CDXA"s, kMpegScan, ProbeRow::kRiff},
      {"RIFF\x10\0\0\0AVI "s, kMpegScan, ProbeRow::kAvi},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.bytes);
    uint8_t probe[FormatProbe::kProbeSize] = {};
    std::memcpy(probe, row.bytes.data(), std::min(row.bytes.size(), sizeof probe));
    RunOptions options;
    options.scan.byteOrder = row.byteOrder;
    EXPECT_EQ(FormatProbe::ChooseRow(probe, options), row.row);
  }
}

class FormatProbeRun : public ::testing::Test {
 protected:
  // Runs a file holding `content` and returns the report lines.
  std::vector<std::string> Run(const std::string& content, uint32_t verbosity = 2) {
    apptest::WriteText(path_, content);
    RunOptions options;
    options.report.verbosity = verbosity;
    size_ = FormatProbe::RunFile(path_, "", options, captured_.output).size;
    return captured_.Lines();
  }

  ScratchDir dir_;
  std::string path_ = dir_.File("probe.bin");
  CapturedOutput captured_;
  uint64_t size_ = 0;
};

TEST_F(FormatProbeRun, SignaturesNameTheFileType) {
  const struct {
    std::string bytes;
    std::string probe;  // the bytes the report shows ("" for no check)
    std::string guess;  // "" when there is none
    std::string kind;
  } cases[] = {
      {"PK\x03\x04\x0a\0\0\0\0\0ab-rest of the archive"s, "    \"PK........ab\"", "ZIP (.zip)",
       ".ZIP"},
      {"\xE9\x12\x34", "", "a Windows Executable (.com)", ".COM"},
      {"OggS\0\x02\0\0\0\0\0\0"s, "", "Ogg Vorbis (.ogg)", "Ogg Vorbis"},
      // Short files show only their own bytes; two are enough for a guess.
      {"Hello", "    \"Hello\"", "", ""},
      {"Hello, world\n", "    \"Hello,.world\"", "", ""},
      {"", "", "", ""},
      {"PK", "", "ZIP (.zip)", ".ZIP"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bytes);
    captured_.out.str("");
    const std::vector<std::string> lines = Run(c.bytes);
    EXPECT_EQ(size_, c.bytes.size());
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[1], path_);
    EXPECT_EQ(lines[2], "  Probe");
    if (!c.probe.empty()) {
      EXPECT_EQ(lines[3], c.probe);
    }
    const size_t verdict = lines.size() - 1;
    if (c.guess.empty()) {
      EXPECT_EQ(lines[verdict - 1], "    *** Error: Unexpected Token!");
      EXPECT_EQ(lines[verdict], "  This file is not recognized.");
    } else {
      EXPECT_EQ(lines[verdict - 2], "    *** Error: Unexpected Token!");
      EXPECT_EQ(lines[verdict - 1], "    *** Info: File is presumably " + c.guess);
      EXPECT_EQ(lines[verdict], "  This might be a " + c.kind + " file.");
    }
  }
  // The hex form from verbosity 4.
  captured_.out.str("");
  const std::vector<std::string> lines = Run("PK\x03\x04\x0a\0\0\0\0\0ab"s, 4);
  ASSERT_EQ(lines.size(), 8u);
  EXPECT_EQ(lines[4], "    \"50 4b 3 4 a 0 0 0 0 0 61 62 \"");
}

// A source that cannot be opened or read gets the host's text once and
// nothing else, whatever byte order or MPEG scanning was forced.
TEST_F(FormatProbeRun, UnreadableSourceShowsItsNameAndTheHostText) {
  apptest::WriteText(path_, "plain file");
  std::filesystem::create_directory(dir_.File("folder"));
  const std::pair<std::string, int> cases[] = {{dir_.File("absent.avi"), ENOENT},
                                               {path_ + "/inner.avi", ENOTDIR},
                                               {dir_.File("folder"), EISDIR}};
  for (const auto& [source, error] : cases) {
    for (ByteOrder byteOrder :
         {ByteOrder::kAuto, ByteOrder::kLittle, ByteOrder::kBig, ByteOrder::kMpegScan}) {
      CapturedOutput captured;
      RunOptions options;
      options.scan.byteOrder = byteOrder;
      SCOPED_TRACE(source + " byte order " + std::to_string(static_cast<int>(byteOrder)));
      const JobOutcome outcome = FormatProbe::RunFile(source, "out.avi", options, captured.output);
      EXPECT_EQ(outcome.size, 0u);
      EXPECT_TRUE(outcome.failed);
      EXPECT_EQ(captured.Lines(),
                (std::vector<std::string>{"", source,
                                          testsupport::SplitLines(SystemError::Text(error))[0]}));
    }
  }
}

}  // namespace
