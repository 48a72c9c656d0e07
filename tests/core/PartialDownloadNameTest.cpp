#include <gtest/gtest.h>

#include "app/AppTestSupport.h"
#include "core/CIOService.h"
#include "core/PartialDownloadName.h"

namespace {

using apptest::CapturedOutput;
using apptest::ScratchDir;

using apptest::MetBuilder;

const std::string kNameTag(1, '\x01');

class PartialDownloadNameTest : public ::testing::Test {
 protected:
  // Writes `bytes` as clip.part.met and reads the name through clip.part.
  bool ReadName(const std::vector<uint8_t>& bytes, std::string& name) {
    apptest::WriteBytes(dir_.File("clip.part.met"), bytes);
    CIOService io(RunOptions(), captured_.output);
    return PartialDownloadName::Read(io, dir_.File("clip.part"), name);
  }
  bool Accepts(const std::vector<uint8_t>& bytes) {
    std::string name;
    return ReadName(bytes, name);
  }

  ScratchDir dir_;
  CapturedOutput captured_;
};

TEST_F(PartialDownloadNameTest, FindsTheNameTagAmongOthers) {
  std::string name;
  ASSERT_TRUE(ReadName(MetBuilder(2)
                           .TagCount(4)
                           .IntegerTag("\x02", 123456)
                           .StringTag("\x12", "a comment")
                           .StringTag(kNameTag, "Holiday Clip.avi")
                           .IntegerTag("\x03", 1)
                           .Bytes(),
                       name));
  EXPECT_EQ(name, "Holiday Clip.avi");
  // The metadata path itself is used unchanged.
  CIOService io(RunOptions(), captured_.output);
  std::string direct;
  ASSERT_TRUE(PartialDownloadName::Read(io, dir_.File("clip.part.met"), direct));
  EXPECT_EQ(direct, name);
  EXPECT_EQ(captured_.out.str(), "");
}

TEST_F(PartialDownloadNameTest, RejectsMalformedRecords) {
  EXPECT_FALSE(Accepts({}));
  EXPECT_FALSE(Accepts(MetBuilder(0, 0xE1).TagCount(1).StringTag(kNameTag, "a.avi").Bytes()));
  EXPECT_FALSE(Accepts(MetBuilder().TagCount(1).IntegerTag("\x02", 5).Bytes()));
  // A string tag named 0x01 but of an unknown type ends the read.
  EXPECT_FALSE(Accepts(
      MetBuilder().TagCount(2).Raw({1, 1, 0, 0x01, 0, 0}).StringTag(kNameTag, "a.avi").Bytes()));
  // The name tag must be a string tag.
  EXPECT_FALSE(Accepts(MetBuilder().TagCount(1).IntegerTag(kNameTag, 7).Bytes()));
  // Cut inside the value.
  std::vector<uint8_t> cut = MetBuilder().TagCount(1).StringTag(kNameTag, "movie.avi").Bytes();
  cut.resize(cut.size() - 3);
  EXPECT_FALSE(Accepts(cut));
}

TEST_F(PartialDownloadNameTest, HostileCountsEndAtTheEndOfTheFile) {
  EXPECT_FALSE(Accepts(MetBuilder().TagCount(0x7FFFFFFF).IntegerTag("\x02", 1).Bytes()));
  EXPECT_FALSE(Accepts(MetBuilder().TagCount(-1).StringTag(kNameTag, "a.avi").Bytes()));
  // 32767 part hashes announced, none present.
  std::vector<uint8_t> manyHashes = MetBuilder().TagCount(1).StringTag(kNameTag, "a.avi").Bytes();
  manyHashes[21] = 0xFF;
  manyHashes[22] = 0x7F;
  EXPECT_FALSE(Accepts(manyHashes));
  // A negative part hash count means none.
  std::vector<uint8_t> negative = manyHashes;
  negative[22] = 0xFF;
  EXPECT_TRUE(Accepts(negative));
  // A tag name length beyond the file.
  EXPECT_FALSE(Accepts(MetBuilder().TagCount(1).Raw({2, 0xFF, 0xFF, 0x01}).Bytes()));
}

TEST_F(PartialDownloadNameTest, ValueLengthLimit) {
  EXPECT_TRUE(
      Accepts(MetBuilder().TagCount(1).StringTag(kNameTag, std::string(4096, 'n')).Bytes()));
  EXPECT_FALSE(
      Accepts(MetBuilder().TagCount(1).StringTag(kNameTag, std::string(4097, 'n')).Bytes()));
  // The limit holds for every string value, not only the name.
  EXPECT_FALSE(Accepts(MetBuilder()
                           .TagCount(2)
                           .StringTag("\x12", std::string(5000, 'c'))
                           .StringTag(kNameTag, "a.avi")
                           .Bytes()));
}

TEST_F(PartialDownloadNameTest, AcceptsOnlyPlainFileNames) {
  for (const std::string& bad :
       {std::string("../up.avi"), std::string("sub/x.avi"), std::string("/etc/passwd"),
        std::string(".."), std::string("."), std::string(), std::string("a\0b.avi", 7)}) {
    std::string name = "unchanged";
    EXPECT_FALSE(ReadName(MetBuilder().TagCount(1).StringTag(kNameTag, bad).Bytes(), name)) << bad;
    EXPECT_EQ(name, "unchanged");
  }
  EXPECT_TRUE(Accepts(MetBuilder().TagCount(1).StringTag(kNameTag, "..hidden.avi").Bytes()));
}

TEST_F(PartialDownloadNameTest, MissingFileReportsTheHostText) {
  CIOService io(RunOptions(), captured_.output);
  std::string name;
  EXPECT_FALSE(PartialDownloadName::Read(io, dir_.File("absent.part"), name));
  EXPECT_NE(captured_.out.str(), "");
}

}  // namespace
