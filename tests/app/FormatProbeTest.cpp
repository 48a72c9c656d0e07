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

// The host's text for an error, as the report shows it on a line of its own.
std::string HostText(int error) {
  std::string text = SystemError::Text(error);
  if (!text.empty() && text.back() == '\n') text.pop_back();
  return text;
}

ProbeRow RowOf(const std::string& bytes, ByteOrder byteOrder = ByteOrder::kAuto) {
  uint8_t probe[FormatProbe::kProbeSize] = {};
  std::memcpy(probe, bytes.data(), std::min(bytes.size(), sizeof probe));
  RunOptions options;
  options.scan.byteOrder = byteOrder;
  return FormatProbe::ChooseRow(probe, options);
}

TEST(FormatProbeDispatch, ChoosesTheFirstMatchingRow) {
  EXPECT_EQ(RowOf(std::string("RIFF\x10\0\0\0"
                              "AVI ",
                              12)),
            ProbeRow::kAvi);
  EXPECT_EQ(RowOf(std::string("RIFX\0\0\0\x10"
                              "AVI ",
                              12)),
            ProbeRow::kAvi);
  EXPECT_EQ(RowOf(std::string("\0\0\0\x18"
                              "ftypisom",
                              12)),
            ProbeRow::kQuickTime);
  EXPECT_EQ(RowOf(std::string("\0\0\0\x08"
                              "wide",
                              8)),
            ProbeRow::kQuickTime);
  EXPECT_EQ(RowOf(".RMF\0\0\0\x12"), ProbeRow::kRealMedia);
  EXPECT_EQ(RowOf("\x30\x26\xB2\x75\x8E\x66\xCF\x11"), ProbeRow::kAsf);
  EXPECT_EQ(RowOf(std::string("RIFF\x24\0\0\0WAVE", 12)), ProbeRow::kRiffForm);
  EXPECT_EQ(RowOf(std::string("FORM\0\0\0\x20"
                              "AIFF",
                              12)),
            ProbeRow::kRiffForm);
  EXPECT_EQ(RowOf(std::string("FORC\0\0\0\x20"
                              "\x01\x02\x03\x04",
                              12)),
            ProbeRow::kRiffForm);
  EXPECT_EQ(RowOf(std::string("LIST\0\0\0\x20"
                              "    ",
                              12)),
            ProbeRow::kRiffForm);
  EXPECT_EQ(RowOf(std::string("MThd\0\0\0\x06", 8)), ProbeRow::kRiffForm);
  EXPECT_EQ(RowOf(std::string("RIFF\x24\0\0\0CDXA", 12)), ProbeRow::kRiff);
  EXPECT_EQ(RowOf(std::string("FORM\x24\0\0\0"
                              "Egg!",
                              12)),
            ProbeRow::kRiff);
  EXPECT_EQ(RowOf(std::string("RIFF\x24\0\0\0"
                              "CD-A",
                              12)),
            ProbeRow::kUnrecognised);
  EXPECT_EQ(RowOf(std::string("\0\0\x01\xBA\x44", 5)), ProbeRow::kMpeg);
  EXPECT_EQ(RowOf(std::string("\0\0\x01\xB3\x16", 5)), ProbeRow::kMpeg);
  EXPECT_EQ(RowOf("\x47\x40\x11\x10"), ProbeRow::kMpeg);
  EXPECT_EQ(RowOf("\xFF\xFB\x90\x64"), ProbeRow::kMpeg);
  EXPECT_EQ(RowOf("\xFF\xE3\x90\x64"), ProbeRow::kUnrecognised);
  EXPECT_EQ(RowOf("ID3\x03"), ProbeRow::kMpeg);
  EXPECT_EQ(RowOf("ID3\x06"), ProbeRow::kUnrecognised);
  EXPECT_EQ(RowOf("Hello, world"), ProbeRow::kUnrecognised);
}

TEST(FormatProbeDispatch, ForcedByteOrderComesAfterTheKnownForms) {
  // -mx: anything the rows before it do not take goes to the chunk parser.
  EXPECT_EQ(RowOf(std::string("\0\0\x01\xBA", 4), ByteOrder::kBig), ProbeRow::kForcedRiff);
  EXPECT_EQ(RowOf("Hello, world", ByteOrder::kLittle), ProbeRow::kForcedRiff);
  EXPECT_EQ(RowOf(std::string("RIFF\x24\0\0\0WAVE", 12), ByteOrder::kBig), ProbeRow::kRiffForm);
  // -mt: MPEG scanning even when the MPEG test fails, after the chunk files.
  EXPECT_EQ(RowOf("Hello, world", ByteOrder::kMpegScan), ProbeRow::kMpeg);
  EXPECT_EQ(RowOf(std::string("RIFF\x24\0\0\0CDXA", 12), ByteOrder::kMpegScan), ProbeRow::kRiff);
  EXPECT_EQ(RowOf(std::string("RIFF\x10\0\0\0"
                              "AVI ",
                              12),
                  ByteOrder::kMpegScan),
            ProbeRow::kAvi);
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

TEST_F(FormatProbeRun, TextFileIsNotRecognised) {
  const std::vector<std::string> expected = {
      "",
      path_,
      "  Probe",
      "    \"Hello,.world\"",
      "    *** Error: Unexpected Token!",
      "  This file is not recognized.",
  };
  EXPECT_EQ(Run("Hello, world\n"), expected);
  EXPECT_EQ(size_, 13u);
}

TEST_F(FormatProbeRun, SignaturesNameTheFileType) {
  const std::string unexpected = "    *** Error: Unexpected Token!";
  const struct {
    std::string bytes;
    std::string probe;  // the bytes the report shows ("" for none)
    std::string info;   // "" for none
    std::string verdict;
  } cases[] = {
      {std::string("PK\x03\x04\x0a\0\0\0\0\0ab-rest of the archive", 33), "    \"PK........ab\"",
       "    *** Info: File is presumably ZIP (.zip)", "  This might be a .ZIP file."},
      {"MZ\x90\0\x03\0\0\0\x04\0\0\0", "",
       "    *** Info: File is presumably a Windows Executable (.exe)",
       "  This might be a .EXE file."},
      {"\xE9\x12\x34", "", "    *** Info: File is presumably a Windows Executable (.com)",
       "  This might be a .COM file."},
      {"%PDF-1.4\n%\xE2\xE3", "", "    *** Info: File is presumably Adobe PDF (.pdf)",
       "  This might be a .PDF file."},
      {"\xFF\xD8\xFF\xE0\0\x10JFIF\0\x01", "", "    *** Info: File is presumably JPG (.jpg)",
       "  This might be a .JPG file."},
      {"OggS\0\x02\0\0\0\0\0\0", "", "    *** Info: File is presumably Ogg Vorbis (.ogg)",
       "  This might be a Ogg Vorbis file."},
      // Short files show only their own bytes; two are enough for a guess.
      {"Hello", "    \"Hello\"", "", "  This file is not recognized."},
      {"", "", "", "  This file is not recognized."},
      {"PK", "", "    *** Info: File is presumably ZIP (.zip)", "  This might be a .ZIP file."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.verdict + " " + c.bytes);
    captured_.out.str("");
    const std::vector<std::string> lines = Run(c.bytes);
    EXPECT_EQ(size_, c.bytes.size());
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[2], "  Probe");
    if (!c.probe.empty()) {
      EXPECT_EQ(lines[3], c.probe);
    }
    EXPECT_EQ(lines[lines.size() - (c.info.empty() ? 2 : 3)], unexpected);
    if (!c.info.empty()) {
      EXPECT_EQ(lines[lines.size() - 2], c.info);
    }
    EXPECT_EQ(lines.back(), c.verdict);
  }
  // The hex form from verbosity 4.
  captured_.out.str("");
  const std::vector<std::string> lines = Run(std::string("PK\x03\x04\x0a\0\0\0\0\0ab", 12), 4);
  ASSERT_EQ(lines.size(), 8u);
  EXPECT_EQ(lines[4], "    \"50 4b 3 4 a 0 0 0 0 0 61 62 \"");
}

// A source that cannot be opened or read gets the host's text once and
// nothing else: no parser, no guess at its type, whatever byte order or
// MPEG scanning was forced. (An unreadable file is tested in JobFaultsTest,
// which can drop the superuser's rights.)
TEST_F(FormatProbeRun, UnreadableSourceShowsItsNameAndTheHostText) {
  apptest::WriteText(path_, "plain file");
  std::filesystem::create_directory(dir_.File("folder"));
  struct Case {
    std::string source;
    int error;
  };
  const Case cases[] = {
      {dir_.File("absent.avi"), ENOENT},
      {path_ + "/inner.avi", ENOTDIR},
      {dir_.File("folder"), EISDIR},
  };
  for (const Case& c : cases) {
    for (ByteOrder byteOrder :
         {ByteOrder::kAuto, ByteOrder::kLittle, ByteOrder::kBig, ByteOrder::kMpegScan}) {
      CapturedOutput captured;
      RunOptions options;
      options.scan.byteOrder = byteOrder;
      const JobOutcome outcome =
          FormatProbe::RunFile(c.source, "out.avi", options, captured.output);
      EXPECT_EQ(outcome.size, 0u) << c.source;
      EXPECT_TRUE(outcome.failed) << c.source;
      const std::vector<std::string> expected = {"", c.source, HostText(c.error)};
      EXPECT_EQ(captured.Lines(), expected)
          << c.source << " byte order " << static_cast<int>(byteOrder);
    }
  }
}

}  // namespace
