#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <filesystem>
#include <fstream>

#include "TestSupport.h"
#include "core/Console.h"
#include "core/DirectorySearch.h"
#include "core/PathName.h"
#include "core/SplitName.h"
#include "core/Utf16Text.h"

namespace {

using Dir = testsupport::ScratchDir;

TEST(WildcardMatchTest, StarAndQuestionMarkIgnoringAsciiCase) {
  struct Case {
    const char* pattern;
    const char* name;
    bool match;
  } cases[] = {{"*.avi", "CLIP.AVI", true},
               {"*.avi", "clip.avi.part", false},
               {"a?c", "abc", true},
               {"a?c", "ac", false},
               {"?", "", false},
               {"*", "", true},
               {"", "", true},
               {"", "a", false},
               {"a*b*c", "axxbyyc", true},
               {"a*b", "abc", false},
               {"*b", "abab", true},
               {"**", "x", true},
               {"?.txt", "\xC3\xA9.txt", true},
               {"\xC3\xA9", "\xC3\x89", false}};  // no case folding beyond ASCII
  for (const Case& c : cases) {
    EXPECT_EQ(DirectorySearch::WildcardMatch(c.pattern, c.name), c.match)
        << c.pattern << " / " << c.name;
  }
  // Many stars against a long near-miss must not take exponential time.
  EXPECT_FALSE(DirectorySearch::WildcardMatch("*a*a*a*a*a*a*a*a*b", std::string(5000, 'a')));
}

TEST(DirectorySearchTest, FindsSortedMatchesWithTheirKindsAndPathKinds) {
  Dir dir;
  for (const char* name : {"b.avi", "A.AVI", "C.AVI", "c.txt"})
    std::ofstream(dir.File(name)) << "x";
  std::filesystem::create_directory(dir.File("d.avi"));
  std::vector<DirectoryEntry> entries;
  ASSERT_TRUE(DirectorySearch::Find(dir.File("*.avi"), entries));
  std::string found;
  for (const DirectoryEntry& e : entries) {
    found += e.name + (e.isRegularFile ? "f" : "") + (e.isDirectory ? "d" : "") + " ";
  }
  EXPECT_EQ(found, "A.AVIf b.avif C.AVIf d.avid ");
  ASSERT_TRUE(DirectorySearch::Find(dir.File("c.txt"), entries));
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].name, "c.txt");
  EXPECT_FALSE(DirectorySearch::Find(dir.File("*.mpg"), entries));
  EXPECT_TRUE(entries.empty());
  EXPECT_FALSE(DirectorySearch::Find(dir.File("missing/*"), entries));
  // The kind of a path.
  EXPECT_EQ(PathName::Kind(dir.File("c.txt")), PathKind::File);
  EXPECT_EQ(PathName::Kind(dir.Path()), PathKind::Directory);
  EXPECT_EQ(PathName::Kind(dir.File("missing")), PathKind::Absent);
  EXPECT_EQ(PathName::Kind(dir.File("c.txt/below")), PathKind::Absent);
  EXPECT_EQ(PathName::Kind("/dev/null"), PathKind::Other);
}

TEST(PathNameTest, FullPathNormalisesAndRejectsOverlongResults) {
  char cwd[PATH_MAX];
  ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
  const std::string base = std::string(cwd) == "/" ? "" : cwd;
  const std::string longName = "/" + std::string(PATH_MAX, 'a');
  const std::pair<std::string, std::string> rows[] = {
      {"/a/./b//c/../d", "/a/b/d"}, {"/../..", "/"},
      {"/out/dir/", "/out/dir/"},   {"x/../y.avi", base + "/y.avi"},
      {longName + "/../b", "/b"},  // long on the way, short in the end
      {longName, "unchanged"},     // too long: refused
  };
  for (const auto& [path, expected] : rows) {
    std::string full = "unchanged";
    EXPECT_EQ(PathName::FullPath(path, full), expected != "unchanged") << path;
    EXPECT_EQ(full, expected);
  }
}

TEST(PathNameTest, SplitTakesTheExtensionFromTheFileNameOnly) {
  struct Case {
    const char* path;
    const char* directory;
    const char* name;
    const char* extension;
  } cases[] = {
      {"./out", "./", "out", ""},       {"a.b.c", "", "a.b", ".c"},
      {"/x/y.avi", "/x/", "y", ".avi"}, {"dir.d/file", "dir.d/", "file", ""},
      {"/x/..", "/x/", "..", ""},       {"/x/", "/x/", "", ""},
  };
  for (const Case& c : cases) {
    const PathParts parts = PathName::Split(c.path);
    EXPECT_EQ(parts.drive, "") << c.path;
    EXPECT_EQ(parts.directory, c.directory) << c.path;
    EXPECT_EQ(parts.name, c.name) << c.path;
    EXPECT_EQ(parts.extension, c.extension) << c.path;
  }
  EXPECT_EQ(PathName::FileName("/x/y.avi"), "y.avi");
  EXPECT_EQ(PathName::FileName("y.avi"), "y.avi");
  // Part names of a split output replace the file name's extension.
  const std::tuple<std::string, uint32_t, std::string> rows[] = {
      {"movie.avi", 0, "movie.00.avi"},
      {"a.b.c", 12, "a.b.12.avi"},
      {"/c/take.mpg", 3, "/c/take.03.avi"},
      {"/c.d/take.avi", 99, "/c.d/take.99.avi"},
      {"movie", 0, ""},
      {"./out", 0, ""},
      {"/c.d/take", 1, ""},
      {"movie.avi", 100, ""}};  // "": no name can be formed
  for (const auto& [path, part, expected] : rows) {
    std::string name;
    EXPECT_EQ(SplitName::Make(path, part, name), !expected.empty()) << path;
    if (!expected.empty()) {
      EXPECT_EQ(name, expected);
    }
  }
}

TEST(Utf16TextTest, ConvertsPairsAndReplacesLoneSurrogates) {
  const uint16_t text[] = {'A', 0x00E9, 0x20AC, 0xD83D, 0xDE00};
  EXPECT_EQ(Utf16Text::ToUtf8(text, 5), "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
  const uint16_t lone[] = {0xDE00, 'a', 0xD83D, 'b', 0xD83D};
  EXPECT_EQ(Utf16Text::ToUtf8(lone, 5),
            "\xEF\xBF\xBD"
            "a\xEF\xBF\xBD"
            "b\xEF\xBF\xBD");
  EXPECT_EQ(Utf16Text::ToUtf8(text, 4), "A\xC3\xA9\xE2\x82\xAC\xEF\xBF\xBD");  // pair cut in half
  EXPECT_EQ(Utf16Text::ToUtf8(nullptr, 3), "");
}

// Runs `body` with standard input read from a file holding `input`; returns
// what was left unread.
std::string WithStandardInput(const std::string& input, void (*body)()) {
  Dir dir;
  std::ofstream(dir.File("in")) << input;
  const int saved = ::dup(STDIN_FILENO);
  const int fd = ::open(dir.File("in").c_str(), O_RDONLY);
  ::dup2(fd, STDIN_FILENO);
  ::close(fd);
  body();
  char rest[64];
  const ssize_t count = ::read(STDIN_FILENO, rest, sizeof rest);
  ::dup2(saved, STDIN_FILENO);
  ::close(saved);
  return std::string(rest, count > 0 ? size_t(count) : 0);
}

// One line is read, and a second wait at the end of input returns at once.
TEST(ConsoleTest, WaitForEnterReadsOneLineAndReturnsAtEndOfInput) {
  EXPECT_EQ(WithStandardInput("typed\nrest", Console::WaitForEnter), "rest");
  EXPECT_EQ(WithStandardInput("no newline",
                              [] {
                                Console::WaitForEnter();
                                Console::WaitForEnter();
                              }),
            "");
}

}  // namespace
