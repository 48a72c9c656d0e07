#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "TestSupport.h"
#include "aviwriter/ChunkCopier.h"
#include "core/CIOService.h"
#include "core/FourCC.h"

namespace {

using namespace testsupport;

// A copier over a source file made of `source` bytes and a fresh output.
struct CopierFixture {
  explicit CopierFixture(const Bytes& source)
      : report(out, err, ConsoleState()), io(RunOptions(), report), copier(io) {
    io.OpenForReading(dir.Write("source.bin", source));
    io.CreateForWriting(dir.File("output.bin"));
    copier.Reset(0);
  }
  // Finishes the output and returns its bytes.
  Bytes Output() {
    EXPECT_TRUE(copier.Flush());
    EXPECT_TRUE(io.CloseOutput());
    return ReadFile(dir.File("output.bin"));
  }

  ScratchDir dir;
  std::ostringstream out, err;
  ReportOutput report;
  CIOService io;
  ChunkCopier copier;
};

Bytes Header(const std::string& id, uint32_t size) { return Concat({TextBytes(id), Le32(size)}); }

TEST(ChunkCopierTest, RunsOfChunksGetTheirOwnHeadersAndZeroPads) {
  // Source: three chunks back to back whose headers say something else and
  // whose pad byte is not zero, then one chunk elsewhere and behind it one
  // larger than two copy blocks, which passes in pieces.
  const Bytes a = {1, 2, 3}, b = {4, 5, 6, 7}, c = {8}, d = {9, 10};
  Bytes large(ChunkCopier::kBlockSize * 2 + 3);
  for (size_t i = 0; i < large.size(); ++i) large[i] = static_cast<uint8_t>(i * 31 + i / 977);
  const uint32_t largeSize = static_cast<uint32_t>(large.size());
  const Bytes pad(1, 0xEE),
      runs = Concat({Header("JUNK", 99), a, pad, Header("????", 1), b, Header("xxxx", 7), c, pad,
                     Bytes(4, 0), Header("00dc", 2), d});
  CopierFixture f(Concat({runs, Header("00dc", 0), large}));
  ASSERT_TRUE(f.copier.AppendSourceChunk(FourCC("00dc"), 3, 8));
  ASSERT_TRUE(f.copier.AppendSourceChunk(FourCC("01wb"), 4, 20));
  ASSERT_TRUE(f.copier.AppendSourceChunk(FourCC("00dc"), 1, 32));
  ASSERT_TRUE(f.copier.AppendSourceChunk(FourCC("00dc"), 2, 46));
  // An empty chunk is a header alone.
  ASSERT_TRUE(f.copier.AppendSourceChunk(FourCC("01wb"), 0, 0));
  EXPECT_EQ(f.copier.Position(), 12u + 12 + 10 + 10 + 8);
  // The large chunk, then a chunk read again from before it.
  ASSERT_TRUE(f.copier.AppendSourceChunk(FourCC("00db"), largeSize, 56));
  ASSERT_TRUE(f.copier.AppendSourceChunk(FourCC("00dc"), 3, 8));
  const Bytes zero(1, 0),
      copied = Concat({Header("00dc", 3), a, zero, Header("01wb", 4), b, Header("00dc", 1), c, zero,
                       Header("00dc", 2), d, Header("01wb", 0), Header("00db", largeSize)});
  EXPECT_EQ(f.Output(), Concat({copied, large, zero, Header("00dc", 3), a, zero}));
}

TEST(ChunkCopierTest, OverwritesBytesGatheredOrWrittenAlready) {
  CopierFixture f(Concat({Header("00dc", 4), {1, 2, 3, 4}}));
  ASSERT_TRUE(f.copier.AppendZeros(8));
  ASSERT_TRUE(f.copier.AppendSourceChunk(FourCC("00dc"), 4, 8));
  // Still gathered: the placeholder in front of the chunk, and the payload
  // whose read is still due.
  const uint8_t mark[4] = {'m', 'a', 'r', 'k'};
  ASSERT_TRUE(f.copier.WriteAt(2, mark, 4));
  ASSERT_TRUE(f.copier.WriteAt(17, mark, 2));
  ASSERT_TRUE(f.copier.Flush());
  ASSERT_TRUE(f.copier.WriteAt(0, mark, 1));
  ASSERT_TRUE(f.copier.AppendU32(7));
  EXPECT_EQ(
      f.Output(),
      Concat({{'m', 0, 'm', 'a', 'r', 'k', 0, 0}, Header("00dc", 4), {1, 'm', 'a', 4}, Le32(7)}));
}

TEST(ChunkCopierTest, AFailedReadOfTheSourceDropsWhatWasGathered) {
  CopierFixture f(Concat({Header("00dc", 4), {1, 2, 3, 4}}));
  ASSERT_TRUE(f.copier.AppendSourceChunk(FourCC("00dc"), 4, 8));
  ASSERT_TRUE(f.copier.Flush());
  ASSERT_TRUE(f.copier.AppendSourceChunk(FourCC("00dc"), 4, 8));
  // Beyond the end of the source: the failure shows when the read is due.
  ASSERT_TRUE(f.copier.AppendSourceChunk(FourCC("00dc"), 100, 1000));
  EXPECT_FALSE(f.copier.Flush());
  EXPECT_TRUE(f.copier.SourceFailed());
  EXPECT_FALSE(f.copier.AppendU32(1));
  EXPECT_EQ(f.copier.Position(), 12u);
  f.copier.Reset(f.copier.Position());
  EXPECT_TRUE(f.copier.AppendU32(5));
  EXPECT_EQ(f.Output(), Concat({Header("00dc", 4), {1, 2, 3, 4}, Le32(5)}));
}

}  // namespace
