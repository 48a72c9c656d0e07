#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "app/AppTestSupport.h"
#include "core/CIOService.h"
#include "core/SystemError.h"

namespace {

std::vector<uint8_t> Pattern(size_t size) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>((i * 131) ^ (i >> 11));
  return bytes;
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  apptest::WriteBytes(path, bytes);
}

using testsupport::ReadFile;

// Exposes the protected records for the checks below.
class TestService : public CIOService {
 public:
  using CIOService::CIOService;
  FileRecord& Input() { return input_; }
  FileRecord& Output() { return output_; }
};

struct IOServiceFixture : ::testing::Test {
  testsupport::ScratchDir dir;
  std::ostringstream out;
  std::ostringstream err;
  ReportOutput output{out, err, ConsoleState{false, true}};
  TestService io{RunOptions{}, output};

  std::string Text() {
    output.Flush();
    return out.str();
  }
};

TEST_F(IOServiceFixture, ReadsExactCountsAndTellsEndOfFileFromShortRead) {
  WriteFile(dir.File("eight"), Pattern(8));
  ASSERT_TRUE(io.OpenForReading(dir.File("eight")));
  uint8_t buffer[12] = {};
  EXPECT_TRUE(io.Read(buffer, 0));
  EXPECT_TRUE(io.Read(buffer, 3));
  EXPECT_EQ(io.Input().positionCounter, 3u);
  EXPECT_EQ(Text(), "");

  // 12 bytes wanted, 5 remain: reported, and the pointer moves by what arrived.
  EXPECT_FALSE(io.Read(buffer, 12));
  EXPECT_NE(Text(), "");
  EXPECT_EQ(io.CurrentPosition(), 8u);
  EXPECT_EQ(io.Input().positionCounter, 3u);

  // At the very end nothing is said: the caller decides what it means.
  const std::string before = Text();
  EXPECT_FALSE(io.Read(buffer, 1));
  EXPECT_EQ(Text(), before);
}

TEST_F(IOServiceFixture, ReadsAcrossWindowEdgesReturnTheFileBytes) {
  const size_t size = 3 * FileRecord::kWindowSize + 123;
  const std::vector<uint8_t> bytes = Pattern(size);
  WriteFile(dir.File("big"), bytes);
  ASSERT_TRUE(io.OpenForReading(dir.File("big")));

  std::vector<uint8_t> got;
  const size_t steps[] = {1, 7, 4096, 65537, 3, 250000};
  size_t index = 0;
  while (got.size() < size) {
    const size_t step = std::min(steps[index++ % 6], size - got.size());
    std::vector<uint8_t> piece(step);
    ASSERT_TRUE(io.Read(piece.data(), step)) << "at " << got.size();
    got.insert(got.end(), piece.begin(), piece.end());
  }
  EXPECT_TRUE(got == bytes);
  EXPECT_EQ(io.Input().positionCounter, size);

  // A seek just before an edge, a read across it, and a read larger than the window.
  std::vector<uint8_t> piece(FileRecord::kWindowSize + 10);
  ASSERT_TRUE(io.Seek(2 * FileRecord::kWindowSize - 5));
  ASSERT_TRUE(io.Read(piece.data(), 10));
  EXPECT_TRUE(std::equal(piece.begin(), piece.begin() + 10,
                         bytes.begin() + 2 * FileRecord::kWindowSize - 5));
  ASSERT_TRUE(io.Seek(17));
  ASSERT_TRUE(io.Read(piece.data(), piece.size()));
  EXPECT_TRUE(std::equal(piece.begin(), piece.end(), bytes.begin() + 17));
  EXPECT_EQ(Text(), "");
}

TEST_F(IOServiceFixture, SmallReadsInsideTheWindowAreServedFromMemory) {
  WriteFile(dir.File("file"), Pattern(4096));
  ASSERT_TRUE(io.OpenForReading(dir.File("file")));
  uint8_t first = 0;
  ASSERT_TRUE(io.Read(&first, 1));
  // Changed behind the service's back: a read that reached the host would see it.
  std::vector<uint8_t> changed(4096, 0xEE);
  WriteFile(dir.File("file"), changed);
  uint8_t later[4] = {};
  ASSERT_TRUE(io.Skip(100, true));
  ASSERT_TRUE(io.Read(later, 4));
  EXPECT_EQ(later[0], Pattern(4096)[101]);
  EXPECT_EQ(io.Input().positionCounter, 105u);
}

TEST_F(IOServiceFixture, SkipMovesTheLogicalPointer) {
  WriteFile(dir.File("file"), Pattern(100));
  ASSERT_TRUE(io.OpenForReading(dir.File("file")));
  ASSERT_TRUE(io.Skip(40, false));
  EXPECT_EQ(io.CurrentPosition(), 40u);
  EXPECT_EQ(io.Input().positionCounter, 0u);
  ASSERT_TRUE(io.Skip(-10, true));
  EXPECT_EQ(io.CurrentPosition(), 30u);
  EXPECT_EQ(io.Input().positionCounter, static_cast<uint64_t>(-10));
  uint8_t byte = 0;
  ASSERT_TRUE(io.Read(&byte, 1));
  EXPECT_EQ(byte, Pattern(100)[30]);
  EXPECT_EQ(Text(), "");

  EXPECT_FALSE(io.Skip(-32, true));  // before the start
  EXPECT_NE(Text(), "");
  EXPECT_EQ(io.CurrentPosition(), 31u);
  EXPECT_FALSE(io.Skip(INT64_MIN, false));

  // Past the end is allowed; reading there is a silent end of file, even at
  // the largest offset the host has.
  ASSERT_TRUE(io.Skip(1000, false));
  const std::string before = Text();
  EXPECT_FALSE(io.Read(&byte, 1));
  ASSERT_TRUE(io.Seek(INT64_MAX - 3));
  EXPECT_FALSE(io.Read(&byte, 1));
  EXPECT_EQ(Text(), before);
  EXPECT_FALSE(io.Skip(4, false));
  EXPECT_FALSE(io.Seek(uint64_t{1} << 63));
}

TEST_F(IOServiceFixture, NamedPipeInputNeitherHangsNorPassesAsAFile) {
  ASSERT_EQ(::mkfifo((dir.File("fifo")).c_str(), 0600), 0);
  ASSERT_TRUE(io.OpenForReading(dir.File("fifo")));
  uint8_t byte = 0;
  EXPECT_FALSE(io.Read(&byte, 1));
  EXPECT_NE(Text(), "");
}

TEST_F(IOServiceFixture, FileSizeOfZeroIsAskedAgain) {
  WriteFile(dir.File("file"), {});
  ASSERT_TRUE(io.OpenForReading(dir.File("file")));
  EXPECT_EQ(io.FileSize(), 0u);
  WriteFile(dir.File("file"), Pattern(10));
  EXPECT_EQ(io.FileSize(), 10u);
  WriteFile(dir.File("file"), Pattern(20));
  EXPECT_EQ(io.FileSize(), 10u);  // known sizes are kept
}

TEST_F(IOServiceFixture, MissingInputAndMissingOutputDirectoryReportTheHostText) {
  EXPECT_FALSE(io.OpenForReading(dir.File("absent")));
  EXPECT_EQ(Text(), SystemError::Text(ENOENT));
  EXPECT_FALSE(io.CreateForWriting(dir.File("no-such-dir/out.avi")));
  EXPECT_EQ(Text(), SystemError::Text(ENOENT) + SystemError::Text(ENOENT));
  EXPECT_EQ(err.str(), "");  // standard error is a console here
}

TEST_F(IOServiceFixture, SystemErrorsGoToStandardErrorTooWhenItIsNotAConsole) {
  std::ostringstream otherOut;
  std::ostringstream otherErr;
  ReportOutput redirected{otherOut, otherErr, ConsoleState{false, false}};
  CIOService service{RunOptions{}, redirected};
  EXPECT_TRUE(service.ReportSystemError(true, EIO));
  EXPECT_FALSE(service.ReportSystemError(false, EIO));
  redirected.Flush();
  EXPECT_EQ(otherOut.str(), SystemError::Text(EIO));
  EXPECT_EQ(otherErr.str(), "\n" + SystemError::Text(EIO));
}

TEST_F(IOServiceFixture, WritesLandAtConsecutiveOffsetsAndExtendCutsTheFile) {
  ASSERT_TRUE(io.CreateForWriting(dir.File("out")));
  const std::vector<uint8_t> bytes = Pattern(100);
  ASSERT_TRUE(io.Write(bytes.data(), 60, true));
  ASSERT_TRUE(io.Write(std::vector<uint8_t>(bytes.begin() + 60, bytes.end()), false));
  EXPECT_EQ(io.WriteOffset(), 100u);
  EXPECT_EQ(io.Output().positionCounter, 60u);
  ASSERT_TRUE(io.Extend(0));
  EXPECT_EQ(ReadFile(dir.File("out")), bytes);

  ASSERT_TRUE(io.Extend(50));  // grows with zeros
  EXPECT_EQ(ReadFile(dir.File("out")).size(), 150u);
  ASSERT_TRUE(io.Extend(-30));
  EXPECT_EQ(io.WriteOffset(), 120u);
  EXPECT_EQ(io.Output().positionCounter, 80u);
  EXPECT_EQ(ReadFile(dir.File("out")).size(), 120u);
  EXPECT_TRUE(io.CloseOutput());
  EXPECT_EQ(Text(), "");
}

TEST_F(IOServiceFixture, AnExistingOutputIsReplacedAndPatchedWithoutCutting) {
  WriteFile(dir.File("out"), Pattern(500));
  ASSERT_TRUE(io.CreateForWriting(dir.File("out")));
  ASSERT_TRUE(io.Write(std::vector<uint8_t>(100, 0x11), true));
  ASSERT_TRUE(io.SetWriteOffset(10));
  ASSERT_TRUE(io.Write("RIFF", 4, false));
  EXPECT_EQ(io.WriteOffset(), 14u);
  ASSERT_TRUE(io.CloseOutput());
  std::vector<uint8_t> expected(100, 0x11);
  std::copy_n("RIFF", 4, expected.begin() + 10);
  EXPECT_EQ(ReadFile(dir.File("out")), expected);
}

TEST_F(IOServiceFixture, DeviceOutputGrowsByZerosButIsNeverCut) {
  ASSERT_TRUE(io.CreateForWriting("/dev/null"));
  ASSERT_TRUE(io.Write("data", 4, true));
  EXPECT_TRUE(io.Extend(0));
  EXPECT_TRUE(io.Extend(10));
  EXPECT_EQ(io.WriteOffset(), 14u);
  EXPECT_EQ(Text(), "");
  EXPECT_FALSE(io.Extend(-2));
  EXPECT_EQ(Text(), SystemError::Text(ESPIPE));
}

TEST_F(IOServiceFixture, FailedWriteIsStickyAndReportedOnce) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  ASSERT_TRUE(io.CreateForWriting("/dev/full"));
  ASSERT_TRUE(io.Write("data", 4, true));  // fails in the background
  EXPECT_FALSE(io.WaitForPendingWrite());
  EXPECT_FALSE(io.Write("more", 4, true));
  EXPECT_FALSE(io.Extend(0));
  EXPECT_FALSE(io.SetWriteOffset(0));
  EXPECT_FALSE(io.CopyToOutput(0, 1));
  EXPECT_FALSE(io.CloseOutput());
  EXPECT_EQ(Text(), SystemError::Text(ENOSPC));
}

TEST_F(IOServiceFixture, RefusesToOverwriteTheInput) {
  const std::vector<uint8_t> bytes = Pattern(300);
  WriteFile(dir.File("in.avi"), bytes);
  std::filesystem::create_hard_link(dir.File("in.avi"), dir.File("link.avi"));
  ASSERT_TRUE(io.OpenForReading(dir.File("in.avi")));
  EXPECT_FALSE(io.CreateForWriting(dir.File("in.avi")));
  EXPECT_FALSE(io.CreateForWriting(dir.File("./link.avi")));
  EXPECT_EQ(Text(),
            "*** Error: Output file is the input file!\n"
            "*** Error: Output file is the input file!\n");
  EXPECT_EQ(ReadFile(dir.File("in.avi")), bytes);
  EXPECT_FALSE(io.Write("x", 1, true));  // no output is open
}

TEST_F(IOServiceFixture, CopyToOutputCopiesExactlyInBlocks) {
  const size_t size = 10 * 1000 * 1000 + 7;
  const std::vector<uint8_t> bytes = Pattern(size);
  WriteFile(dir.File("in"), bytes);
  ASSERT_TRUE(io.OpenForReading(dir.File("in")));
  ASSERT_TRUE(io.CreateForWriting(dir.File("out")));
  ASSERT_TRUE(io.Write("head", 4, true));
  EXPECT_TRUE(io.CopyToOutput(0, 0));
  ASSERT_TRUE(io.CopyToOutput(3, size - 3));
  EXPECT_EQ(io.WriteOffset(), size + 1);
  EXPECT_EQ(io.Output().positionCounter, 4u);  // copies are not counted
  ASSERT_TRUE(io.CloseOutput());
  std::vector<uint8_t> expected{'h', 'e', 'a', 'd'};
  expected.insert(expected.end(), bytes.begin() + 3, bytes.end());
  EXPECT_TRUE(ReadFile(dir.File("out")) == expected);
  EXPECT_EQ(Text(), "");
}

TEST_F(IOServiceFixture, CopyBeyondTheInputFails) {
  WriteFile(dir.File("in"), Pattern(1000));
  ASSERT_TRUE(io.OpenForReading(dir.File("in")));
  ASSERT_TRUE(io.CreateForWriting(dir.File("out")));
  EXPECT_FALSE(io.CopyToOutput(900, 200));
  EXPECT_FALSE(io.CopyToOutput(5000, 1));
}

TEST_F(IOServiceFixture, DestructionFinishesThePendingWrite) {
  {
    TestService service{RunOptions{}, output};
    ASSERT_TRUE(service.CreateForWriting(dir.File("out")));
    ASSERT_TRUE(service.Write(Pattern(70000), true));
  }
  EXPECT_EQ(ReadFile(dir.File("out")), Pattern(70000));
}

}  // namespace
