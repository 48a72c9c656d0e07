#include <gtest/gtest.h>

#include "app/AppTestSupport.h"
#include "core/CIOService.h"
#include "core/PartialDownloadName.h"

namespace {

using apptest::MetBuilder;

const std::string kNameTag(1, '\x01');

std::vector<uint8_t> Named(const std::string& name, int32_t tagCount = 1) {
  return MetBuilder().TagCount(tagCount).StringTag(kNameTag, name).Bytes();
}

// Sets the 16-bit part hash count after the header to 32767.
std::vector<uint8_t> WithPartHashes(std::vector<uint8_t> bytes) {
  bytes[21] = 0xFF;
  bytes[22] = 0x7F;
  return bytes;
}

// Metadata records and the name read from them through clip.part ("" when
// the read fails).
TEST(PartialDownloadName, ReadsOnlyAWellFormedPlainFileName) {
  const struct {
    const char* what;
    std::vector<uint8_t> bytes;
    std::string name;
  } rows[] = {
      {"among other tags",
       MetBuilder(2)
           .TagCount(4)
           .IntegerTag("\x02", 123456)
           .StringTag("\x12", "a comment")
           .StringTag(kNameTag, "Holiday Clip.avi")
           .IntegerTag("\x03", 1)
           .Bytes(),
       "Holiday Clip.avi"},
      {"empty file", {}, ""},
      {"unknown version", MetBuilder(0, 0xE1).TagCount(1).StringTag(kNameTag, "a.avi").Bytes(), ""},
      {"no name tag", MetBuilder().TagCount(1).IntegerTag("\x02", 5).Bytes(), ""},
      {"name tag of unknown type ends the read",
       MetBuilder().TagCount(2).Raw({1, 1, 0, 0x01, 0, 0}).StringTag(kNameTag, "a.avi").Bytes(),
       ""},
      {"integer name tag", MetBuilder().TagCount(1).IntegerTag(kNameTag, 7).Bytes(), ""},
      {"cut inside the value", MetBuilder().TagCount(1).Raw({2, 1, 0, 1, 9, 0, 'm', 'o'}).Bytes(),
       ""},
      {"huge tag count", MetBuilder().TagCount(0x7FFFFFFF).IntegerTag("\x02", 1).Bytes(), ""},
      {"negative tag count", Named("a.avi", -1), ""},
      {"32767 part hashes, none there", WithPartHashes(Named("a.avi")), ""},
      {"negative part hash count means none",
       MetBuilder(-1).TagCount(1).StringTag(kNameTag, "a.avi").Bytes(), "a.avi"},
      {"tag name beyond the end", MetBuilder().TagCount(1).Raw({2, 0xFF, 0xFF, 0x01}).Bytes(), ""},
      {"longest value", Named(std::string(4096, 'n')), std::string(4096, 'n')},
      {"value too long", Named(std::string(4097, 'n')), ""},
      {"any value too long",
       MetBuilder()
           .TagCount(2)
           .StringTag("\x12", std::string(5000, 'c'))
           .StringTag(kNameTag, "a.avi")
           .Bytes(),
       ""},
      {"holds a slash", Named("../up.avi"), ""},
      {"dot dot", Named(".."), ""},
      {"dot", Named("."), ""},
      {"empty name", Named(""), ""},
      {"zero byte", Named(std::string("a\0b.avi", 7)), ""},
      {"leading dots", Named("..hidden.avi"), "..hidden.avi"},
  };
  testsupport::ScratchDir dir;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    apptest::CapturedOutput captured;
    apptest::WriteBytes(dir.File("clip.part.met"), row.bytes);
    CIOService io(RunOptions(), captured.output);
    std::string name = "unchanged";
    EXPECT_EQ(PartialDownloadName::Read(io, dir.File("clip.part"), name), !row.name.empty());
    EXPECT_EQ(name, row.name.empty() ? "unchanged" : row.name);
    // The metadata path itself is used unchanged.
    std::string direct;
    EXPECT_EQ(PartialDownloadName::Read(io, dir.File("clip.part.met"), direct), !row.name.empty());
    if (!row.name.empty()) {
      EXPECT_EQ(captured.out.str(), "");
    }
  }
}

}  // namespace
