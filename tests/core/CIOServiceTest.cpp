#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>

#include "app/AppTestSupport.h"
#include "core/CIOService.h"
#include "core/SystemError.h"

namespace {

using testsupport::ReadFile;

std::vector<uint8_t> Pattern(size_t size) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>((i * 131) ^ (i >> 11));
  return bytes;
}

// Exposes the protected records for the checks below.
class TestService : public CIOService {
 public:
  using CIOService::CIOService;
  FileRecord& Input() { return input_; }
  FileRecord& Output() { return output_; }
};

struct IOServiceFixture : ::testing::Test {
  testsupport::ScratchDir dir;
  apptest::CapturedOutput captured{ConsoleState{false, true}};
  ReportOutput& output = captured.output;
  TestService io{RunOptions{}, output};

  std::string Text() {
    output.Flush();
    return captured.out.str();
  }
  bool Open(const std::string& name, const std::vector<uint8_t>& bytes) {
    apptest::WriteBytes(dir.File(name), bytes);
    return io.OpenForReading(dir.File(name));
  }
};

TEST_F(IOServiceFixture, ReadsExactCountsAndTellsEndOfFileFromShortRead) {
  ASSERT_TRUE(Open("eight", Pattern(8)));
  uint8_t buffer[12] = {};
  EXPECT_TRUE(io.Read(buffer, 0));
  EXPECT_TRUE(io.Read(buffer, 3));
  EXPECT_EQ(io.Input().positionCounter, 3u);
  EXPECT_EQ(Text(), "");
  // 12 bytes wanted, 5 remain: reported, and the pointer moves by what arrived.
  EXPECT_FALSE(io.Read(buffer, 12));
  const std::string reported = Text();
  EXPECT_NE(reported, "");
  EXPECT_EQ(io.CurrentPosition(), 8u);
  EXPECT_EQ(io.Input().positionCounter, 3u);
  // At the very end nothing is said: the caller decides what it means.
  EXPECT_FALSE(io.Read(buffer, 1));
  EXPECT_EQ(Text(), reported);
}

TEST_F(IOServiceFixture, ReadsAcrossWindowEdgesReturnTheFileBytes) {
  const size_t size = 3 * FileRecord::kWindowSize + 123;
  const std::vector<uint8_t> bytes = Pattern(size);
  ASSERT_TRUE(Open("big", bytes));
  std::vector<uint8_t> got;
  const size_t steps[] = {1, 7, 4096, 65537, 3, 250000};
  for (size_t index = 0; got.size() < size; ++index) {
    std::vector<uint8_t> piece(std::min(steps[index % 6], size - got.size()));
    ASSERT_TRUE(io.Read(piece.data(), piece.size())) << "at " << got.size();
    got.insert(got.end(), piece.begin(), piece.end());
  }
  EXPECT_TRUE(got == bytes);
  EXPECT_EQ(io.Input().positionCounter, size);
  // A read across an edge after a seek, and a read larger than the window.
  const size_t edge = 2 * FileRecord::kWindowSize - 5;
  std::vector<uint8_t> piece(FileRecord::kWindowSize + 10);
  ASSERT_TRUE(io.Seek(edge));
  ASSERT_TRUE(io.Read(piece.data(), 10));
  EXPECT_TRUE(std::equal(piece.begin(), piece.begin() + 10, bytes.begin() + edge));
  ASSERT_TRUE(io.Seek(17));
  ASSERT_TRUE(io.Read(piece.data(), piece.size()));
  EXPECT_TRUE(std::equal(piece.begin(), piece.end(), bytes.begin() + 17));
  EXPECT_EQ(Text(), "");
}

TEST_F(IOServiceFixture, SkipAndSeekMoveTheLogicalPointer) {
  const std::vector<uint8_t> bytes = Pattern(4096);
  ASSERT_TRUE(Open("file", bytes));
  uint8_t got[4] = {};
  ASSERT_TRUE(io.Read(got, 1));
  // Changed behind the service's back: reads inside the window come from memory.
  apptest::WriteBytes(dir.File("file"), std::vector<uint8_t>(4096, 0xEE));
  ASSERT_TRUE(io.Skip(100, true));
  ASSERT_TRUE(io.Read(got, 4));
  EXPECT_EQ(got[0], bytes[101]);
  EXPECT_EQ(io.Input().positionCounter, 105u);
  ASSERT_TRUE(io.Skip(-10, true));
  ASSERT_TRUE(io.Skip(5, false));
  EXPECT_EQ(io.CurrentPosition(), 100u);
  EXPECT_EQ(io.Input().positionCounter, 95u);
  ASSERT_TRUE(io.Read(got, 1));
  EXPECT_EQ(got[0], bytes[100]);
  EXPECT_EQ(Text(), "");

  EXPECT_FALSE(io.Skip(-200, true));  // before the start
  EXPECT_NE(Text(), "");
  EXPECT_EQ(io.CurrentPosition(), 101u);
  EXPECT_FALSE(io.Skip(INT64_MIN, false));
  // Past the end, even the host's largest offset, reading is a silent end of file.
  ASSERT_TRUE(io.Skip(10000, false));
  const std::string before = Text();
  EXPECT_FALSE(io.Read(got, 1));
  ASSERT_TRUE(io.Seek(INT64_MAX - 3));
  EXPECT_FALSE(io.Read(got, 1));
  EXPECT_EQ(Text(), before);
  EXPECT_FALSE(io.Skip(4, false));
  EXPECT_FALSE(io.Seek(uint64_t{1} << 63));
}

TEST_F(IOServiceFixture, HostFailuresReportTheHostText) {
  EXPECT_FALSE(io.OpenForReading(dir.File("absent")));
  EXPECT_FALSE(io.CreateForWriting(dir.File("no-such-dir/out.avi")));
  EXPECT_EQ(Text(), SystemError::Text(ENOENT) + SystemError::Text(ENOENT));
  EXPECT_EQ(captured.err.str(), "");  // standard error is a console here
  // A named pipe neither hangs nor passes as a file.
  ASSERT_EQ(::mkfifo(dir.File("fifo").c_str(), 0600), 0);
  ASSERT_TRUE(io.OpenForReading(dir.File("fifo")));
  uint8_t byte = 0;
  EXPECT_FALSE(io.Read(&byte, 1));
  EXPECT_GT(Text().size(), 2 * SystemError::Text(ENOENT).size());
  // Standard error that is not a console gets the host's text too.
  apptest::CapturedOutput redirected(ConsoleState{false, false});
  CIOService service{RunOptions{}, redirected.output};
  EXPECT_TRUE(service.ReportSystemError(true, EIO));
  EXPECT_FALSE(service.ReportSystemError(false, EIO));
  redirected.output.Flush();
  EXPECT_EQ(redirected.out.str(), SystemError::Text(EIO));
  EXPECT_EQ(redirected.err.str(), "\n" + SystemError::Text(EIO));
}

TEST_F(IOServiceFixture, WritesLandAtTheirOffsetsAndExtendGrowsOrCuts) {
  apptest::WriteBytes(dir.File("out"), Pattern(500));  // replaced, not appended to
  ASSERT_TRUE(io.CreateForWriting(dir.File("out")));
  std::vector<uint8_t> bytes = Pattern(100);
  ASSERT_TRUE(io.Write(bytes.data(), 60, true));
  ASSERT_TRUE(io.Write(std::vector<uint8_t>(bytes.begin() + 60, bytes.end()), false));
  EXPECT_EQ(io.WriteOffset(), 100u);
  EXPECT_EQ(io.Output().positionCounter, 60u);
  // A patch inside what was written does not cut the file.
  ASSERT_TRUE(io.SetWriteOffset(10));
  ASSERT_TRUE(io.Write("RIFF", 4, false));
  EXPECT_EQ(io.WriteOffset(), 14u);
  ASSERT_TRUE(io.SetWriteOffset(100));
  ASSERT_TRUE(io.Extend(0));
  std::copy_n("RIFF", 4, bytes.begin() + 10);
  EXPECT_EQ(ReadFile(dir.File("out")), bytes);
  ASSERT_TRUE(io.Extend(50));  // grows with zeros
  EXPECT_EQ(ReadFile(dir.File("out")).size(), 150u);
  ASSERT_TRUE(io.Extend(-30));
  EXPECT_EQ(io.WriteOffset(), 120u);
  EXPECT_EQ(io.Output().positionCounter, 80u);
  EXPECT_TRUE(io.CloseOutput());
  EXPECT_EQ(ReadFile(dir.File("out")).size(), 120u);
  EXPECT_EQ(Text(), "");
}

// A device grows by zeros, is never cut; a full device's failure is sticky.
TEST_F(IOServiceFixture, DeviceOutputs) {
  ASSERT_TRUE(io.CreateForWriting("/dev/null"));
  ASSERT_TRUE(io.Write("data", 4, true));
  EXPECT_TRUE(io.Extend(0));
  EXPECT_TRUE(io.Extend(10));
  EXPECT_EQ(io.WriteOffset(), 14u);
  EXPECT_EQ(Text(), "");
  EXPECT_FALSE(io.Extend(-2));
  EXPECT_EQ(Text(), SystemError::Text(ESPIPE));

  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  TestService full{RunOptions{}, output};
  ASSERT_TRUE(full.CreateForWriting("/dev/full"));
  ASSERT_TRUE(full.Write("data", 4, true));  // fails in the background
  EXPECT_FALSE(full.WaitForPendingWrite());
  EXPECT_FALSE(full.Write("more", 4, true));
  EXPECT_FALSE(full.Extend(0));
  EXPECT_FALSE(full.SetWriteOffset(0));
  EXPECT_FALSE(full.CopyToOutput(0, 1));
  EXPECT_FALSE(full.CloseOutput());
  EXPECT_EQ(Text(), SystemError::Text(ESPIPE) + SystemError::Text(ENOSPC));
}

TEST_F(IOServiceFixture, RefusesToOverwriteTheInput) {
  const std::vector<uint8_t> bytes = Pattern(300);
  ASSERT_TRUE(Open("in.avi", bytes));
  std::filesystem::create_hard_link(dir.File("in.avi"), dir.File("link.avi"));
  EXPECT_FALSE(io.CreateForWriting(dir.File("./link.avi")));  // the same file by another name
  EXPECT_EQ(Text(), "*** Error: Output file is the input file!\n");
  EXPECT_EQ(ReadFile(dir.File("in.avi")), bytes);
  EXPECT_FALSE(io.Write("x", 1, true));  // no output is open
}

TEST_F(IOServiceFixture, CopyToOutputCopiesExactlyInBlocksAndOnlyFromTheInput) {
  const size_t size = 10 * 1000 * 1000 + 7;
  const std::vector<uint8_t> bytes = Pattern(size);
  ASSERT_TRUE(Open("in", bytes));
  ASSERT_TRUE(io.CreateForWriting(dir.File("out")));
  ASSERT_TRUE(io.Write("head", 4, true));
  EXPECT_TRUE(io.CopyToOutput(0, 0));
  ASSERT_TRUE(io.CopyToOutput(3, size - 3));
  EXPECT_EQ(io.WriteOffset(), size + 1);
  EXPECT_EQ(io.Output().positionCounter, 4u);  // copies are not counted
  EXPECT_FALSE(io.CopyToOutput(size - 100, 200));
  EXPECT_FALSE(io.CopyToOutput(size + 5000, 1));
  ASSERT_TRUE(io.CloseOutput());
  std::vector<uint8_t> expected{'h', 'e', 'a', 'd'};
  expected.insert(expected.end(), bytes.begin() + 3, bytes.end());
  EXPECT_TRUE(ReadFile(dir.File("out")) == expected);
}

TEST_F(IOServiceFixture, FileSizeOfZeroIsAskedAgainAndDestructionFinishesTheWrite) {
  ASSERT_TRUE(Open("file", {}));
  EXPECT_EQ(io.FileSize(), 0u);
  apptest::WriteBytes(dir.File("file"), Pattern(10));
  EXPECT_EQ(io.FileSize(), 10u);
  apptest::WriteBytes(dir.File("file"), Pattern(20));
  EXPECT_EQ(io.FileSize(), 10u);
  {
    TestService service{RunOptions{}, output};
    ASSERT_TRUE(service.CreateForWriting(dir.File("out")));
    ASSERT_TRUE(service.Write(Pattern(70000), true));
  }
  EXPECT_EQ(ReadFile(dir.File("out")), Pattern(70000));
}

}  // namespace
