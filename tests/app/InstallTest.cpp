// The install rules and the manual page: what `cmake --install` puts under
// a prefix, that the installed tool runs, and that the page documents every
// switch of the usage text.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <set>

#include "AppTestSupport.h"
#include "ChildProcess.h"
#include "app/CommandLine.h"

namespace {

using testsupport::Installed;
using testsupport::SplitLines;

const std::string kPage = std::string(CLIPSMITH_SOURCE_DIR) + "/docs/clipsmith.1";

std::string FileText(const std::string& path) {
  const testsupport::Bytes bytes = testsupport::ReadFile(path);
  return std::string(bytes.begin(), bytes.end());
}

// The files under `root`, as paths relative to it.
std::set<std::string> FilesUnder(const std::string& root) {
  std::set<std::string> files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    if (!entry.is_directory()) {
      files.insert(std::filesystem::relative(entry.path(), root).string());
    }
  }
  return files;
}

TEST(Install, PutsTheToolAndItsPageUnderThePrefixAndNothingElse) {
  if (!Installed("cmake")) GTEST_SKIP() << "cmake is not installed";
  testsupport::ScratchDir prefix;
  const apptest::ChildOutcome install = apptest::ChildProcess::Run(
      {"/usr/bin/cmake", "--install", CLIPSMITH_BUILD_DIR, "--prefix", prefix.Path()}, 120);
  ASSERT_EQ(install.exitStatus, 0) << install.out << install.err;

  struct Row {
    std::string path;
    bool executable;
    std::string sameAs;  // the file it is a copy of
  };
  const std::vector<Row> rows = {
      {"bin/clipsmith", true, CLIPSMITH_BINARY},
      {"share/man/man1/clipsmith.1", false, kPage},
  };
  std::set<std::string> expected;
  for (const Row& row : rows) {
    expected.insert(row.path);
    struct stat info {};
    ASSERT_EQ(::stat(prefix.File(row.path).c_str(), &info), 0) << row.path;
    EXPECT_TRUE(S_ISREG(info.st_mode)) << row.path;
    EXPECT_EQ((info.st_mode & S_IXUSR) != 0, row.executable) << row.path;
    EXPECT_TRUE(FileText(prefix.File(row.path)) == FileText(row.sameAs)) << row.path;
  }
  EXPECT_EQ(FilesUnder(prefix.Path()), expected);

  // The installed tool runs on its own and shows the whole usage text.
  const apptest::ChildOutcome help =
      apptest::ChildProcess::Run({prefix.File("bin/clipsmith"), "-h"}, 30);
  EXPECT_EQ(help.exitStatus, 1);
  const std::vector<std::string> lines = SplitLines(help.out);
  for (const std::string& line : CommandLine::UsageText(true)) {
    EXPECT_NE(std::find(lines.begin(), lines.end(), line), lines.end()) << line;
  }
}

// One option entry of the page: the tag line after `.TP` and the text under it.
struct Entry {
  std::string tag;
  std::string body;
};

std::vector<Entry> OptionEntries(const std::vector<std::string>& page) {
  std::vector<Entry> entries;
  bool inOptions = false;
  bool inEntry = false;
  for (size_t i = 0; i < page.size(); ++i) {
    const std::string& line = page[i];
    if (line.rfind(".SH", 0) == 0) inOptions = line == ".SH OPTIONS";
    if (line.rfind(".SH", 0) == 0 || line.rfind(".SS", 0) == 0 || line == ".PP") inEntry = false;
    if (!inOptions) continue;
    if (line == ".TP" && i + 1 < page.size()) {
      entries.push_back({page[++i], ""});
      inEntry = true;
    } else if (inEntry) {
      entries.back().body += line + "\n";
    }
  }
  return entries;
}

// The switches the usage text names: each line's own and those it mentions
// ("-mr ..., -mx ..."), without the placeholders of the first line.
std::vector<std::string> UsageSwitches() {
  std::vector<std::string> switches;
  const std::vector<std::string> usage = CommandLine::UsageText(true);
  const std::regex option("(^| )-([a-z]+)");
  for (size_t i = 1; i < usage.size(); ++i) {
    for (std::sregex_iterator it(usage[i].begin(), usage[i].end(), option), end; it != end; ++it) {
      switches.push_back((*it)[2]);
    }
  }
  return switches;
}

TEST(InstallManualPage, DocumentsEverySwitchWithItsDefaultAndAnExample) {
  const std::string text = FileText(kPage);
  ASSERT_FALSE(text.empty()) << kPage;
  const std::vector<std::string> page = SplitLines(text);
  const std::vector<Entry> entries = OptionEntries(page);

  std::vector<std::string> switches = UsageSwitches();
  ASSERT_GE(switches.size(), 20u);
  // Those the usage text leaves out, the JSON report and the parallel run.
  for (const char* more : {"mi", "mt", "xi", "q1", "q2", "e", "j"}) switches.push_back(more);
  for (const std::string& name : switches) {
    // The tag sets the switch in bold, ending the bold right after its name:
    // "\fB\-t\fI####" names -t, not -tm.
    const std::string marked = "\\fB\\-" + name + "\\f";
    const auto entry = std::find_if(entries.begin(), entries.end(), [&](const Entry& e) {
      return e.tag.find(marked) != std::string::npos;
    });
    ASSERT_TRUE(entry != entries.end()) << "-" << name << " has no entry";
    EXPECT_NE(entry->body.find("Example"), std::string::npos) << "-" << name;
    if (name != "h") {
      EXPECT_NE(entry->body.find("Default:"), std::string::npos) << "-" << name;
    }
  }

  // The page names the version it describes.
  EXPECT_NE(page.at(0).find("\"Clipsmith " CLIPSMITH_VERSION "\""), std::string::npos)
      << page.at(0);

  if (!Installed("man")) GTEST_SKIP() << "man is not installed: the page was not rendered";
  // Without --warnings man shows none of groff's: an unknown macro or a stray
  // escape would pass unseen.
  const std::string warnings =
      testsupport::RunCommand("(MANWIDTH=80 man --warnings=w -l '" + kPage + "' 2>&1 >/dev/null)");
  EXPECT_EQ(warnings, "");
}

}  // namespace
