#include <gtest/gtest.h>

#include "core/SplitName.h"

namespace {

std::string Split(const std::string& path, uint32_t part) {
  std::string name = "<none>";
  return SplitName::Make(path, part, name) ? name : "<failed>";
}

TEST(SplitName, ReplacesTheExtensionOfTheFileName) {
  EXPECT_EQ(Split("movie.avi", 0), "movie.00.avi");
  EXPECT_EQ(Split("a.b.c", 12), "a.b.12.avi");
  EXPECT_EQ(Split("/clips/take.mpg", 3), "/clips/take.03.avi");
  EXPECT_EQ(Split("/clips.d/take.avi", 99), "/clips.d/take.99.avi");
}

TEST(SplitName, FailsWithoutExtensionOrBeyondTwoDigits) {
  EXPECT_EQ(Split("movie", 0), "<failed>");
  EXPECT_EQ(Split("./out", 0), "<failed>");
  EXPECT_EQ(Split("/clips.d/take", 1), "<failed>");
  EXPECT_EQ(Split("movie.avi", 100), "<failed>");
}

}  // namespace
