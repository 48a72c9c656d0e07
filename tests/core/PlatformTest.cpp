#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "TestSupport.h"
#include "core/Console.h"
#include "core/DirectorySearch.h"
#include "core/PathName.h"
#include "core/SystemError.h"
#include "core/Utf16Text.h"

namespace {

using Dir = testsupport::ScratchDir;

void Touch(const std::string& path) { std::ofstream(path) << "x"; }

TEST(WildcardMatchTest, StarAndQuestionMarkIgnoringAsciiCase) {
  struct Case {
    const char* pattern;
    const char* name;
    bool match;
  } cases[] = {
      {"*.avi", "CLIP.AVI", true},
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
      {"?.txt", "\xC3\xA9.txt", true},  // one character, two bytes
      {"\xC3\xA9", "\xC3\x89", false},  // no case folding beyond ASCII
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DirectorySearch::WildcardMatch(c.pattern, c.name), c.match)
        << c.pattern << " / " << c.name;
  }
  // Many stars against a long near-miss must not take exponential time.
  EXPECT_FALSE(DirectorySearch::WildcardMatch("*a*a*a*a*a*a*a*a*b", std::string(5000, 'a')));
  EXPECT_TRUE(DirectorySearch::HasWildcards("dir/*.avi"));
  EXPECT_FALSE(DirectorySearch::HasWildcards("dir/clip.avi"));
}

TEST(DirectorySearchTest, FindsSortedMatchesWithTheirKinds) {
  Dir dir;
  Touch(dir.File("b.avi"));
  Touch(dir.File("A.AVI"));
  Touch(dir.File("C.AVI"));
  Touch(dir.File("c.txt"));
  std::filesystem::create_directory(dir.File("d.avi"));
  std::vector<DirectoryEntry> entries;
  ASSERT_TRUE(DirectorySearch::Find(dir.File("*.avi"), entries));
  ASSERT_EQ(entries.size(), 4u);
  EXPECT_EQ(entries[0].name, "A.AVI");
  EXPECT_EQ(entries[1].name, "b.avi");
  EXPECT_EQ(entries[2].name, "C.AVI");
  EXPECT_EQ(entries[3].name, "d.avi");
  EXPECT_TRUE(entries[0].isRegularFile);
  EXPECT_FALSE(entries[0].isDirectory);
  EXPECT_TRUE(entries[3].isDirectory);
  EXPECT_FALSE(entries[3].isRegularFile);

  ASSERT_TRUE(DirectorySearch::Find(dir.File("c.txt"), entries));
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].name, "c.txt");
  EXPECT_FALSE(
      DirectorySearch::Find(dir.File("C.TXT"), entries));  // exact names are the host's business
  EXPECT_FALSE(DirectorySearch::Find(dir.File("*.mpg"), entries));
  EXPECT_TRUE(entries.empty());
  EXPECT_FALSE(DirectorySearch::Find(dir.File("missing/*"), entries));
}

TEST(PathNameTest, FullPathNormalisesAndRejectsOverlongResults) {
  std::string full;
  ASSERT_TRUE(PathName::FullPath("/a/./b//c/../d", full));
  EXPECT_EQ(full, "/a/b/d");
  ASSERT_TRUE(PathName::FullPath("/../..", full));
  EXPECT_EQ(full, "/");
  ASSERT_TRUE(PathName::FullPath("/out/dir/", full));
  EXPECT_EQ(full, "/out/dir/");

  char cwd[PATH_MAX];
  ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
  const std::string base = std::string(cwd) == "/" ? "" : cwd;
  ASSERT_TRUE(PathName::FullPath("x/../y.avi", full));
  EXPECT_EQ(full, base + "/y.avi");

  full = "unchanged";
  EXPECT_FALSE(PathName::FullPath("/" + std::string(PATH_MAX, 'a'), full));
  EXPECT_EQ(full, "unchanged");
  // Long on the way, short in the end.
  ASSERT_TRUE(PathName::FullPath("/" + std::string(PATH_MAX, 'a') + "/../b", full));
  EXPECT_EQ(full, "/b");
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
}

TEST(PathNameTest, KindTellsFilesDirectoriesAndOthers) {
  Dir dir;
  Touch(dir.File("file"));
  EXPECT_EQ(PathName::Kind(dir.File("file")), PathKind::File);
  EXPECT_EQ(PathName::Kind(dir.Path()), PathKind::Directory);
  EXPECT_EQ(PathName::Kind(dir.File("missing")), PathKind::Absent);
  EXPECT_EQ(PathName::Kind(dir.File("file/below")), PathKind::Absent);
  EXPECT_EQ(PathName::Kind("/dev/null"), PathKind::Other);
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

TEST(SystemErrorTest, TextEndsWithALineBreak) {
  for (int code : {ENOENT, ENOSPC, 0, -1, 99999}) {
    const std::string text = SystemError::Text(code);
    ASSERT_GE(text.size(), 2u) << code;
    EXPECT_EQ(text.back(), '\n');
  }
}

// Runs `body` with standard input replaced by a pipe holding `input`; returns
// what was left unread.
template <typename Body>
std::string WithStandardInput(const std::string& input, Body body) {
  int pipeEnds[2];
  if (::pipe(pipeEnds) != 0) return "pipe failed";
  if (::write(pipeEnds[1], input.data(), input.size()) != static_cast<ssize_t>(input.size()))
    return "write failed";
  ::close(pipeEnds[1]);
  const int saved = ::dup(STDIN_FILENO);
  ::dup2(pipeEnds[0], STDIN_FILENO);
  ::close(pipeEnds[0]);
  body();
  std::string rest;
  char c;
  while (::read(STDIN_FILENO, &c, 1) == 1) rest += c;
  ::dup2(saved, STDIN_FILENO);
  ::close(saved);
  return rest;
}

TEST(ConsoleTest, WaitForEnterReadsOneLineAndReturnsAtEndOfInput) {
  EXPECT_EQ(WithStandardInput("typed\nrest", [] { Console::WaitForEnter(); }), "rest");
  EXPECT_EQ(WithStandardInput("no newline",
                              [] {
                                Console::WaitForEnter();
                                Console::WaitForEnter();  // already at the end: returns at once
                              }),
            "");
}

}  // namespace
