// Faults outside the input file: an output on a full device, in a directory
// without write permission or in a missing directory; a report written to a
// full device; and a batch of 200 files of every kind, some of which vanish
// or become unreadable between the listing and their turn. Each fault gives
// the host's text and a failed job, and the run goes on to the next job.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "app/AppTestSupport.h"
#include "app/ChildProcess.h"
#include "app/CommandLine.h"
#include "app/Driver.h"
#include "core/SystemError.h"

namespace {

using apptest::CapturedOutput;
using apptest::ScratchDir;

const std::string kSamples = std::string(CLIPSMITH_TEST_DATA) + "/avi/";

// Permission bits do not stop the superuser. While an object of this class
// lives, a test run as root acts as the unprivileged user, so that a file
// without read permission or a directory without write permission fails
// as it would for anyone else. The files the run reads lie in `dir`, made
// reachable for everyone; `Usable()` is false when the switch is not
// possible here (no right to change users, a private temporary directory).
class AsUnprivilegedUser {
 public:
  explicit AsUnprivilegedUser(const std::string& dir) : root_(geteuid() == 0) {
    if (!root_) return;
    switched_ = setegid(kNobody) == 0 && seteuid(kNobody) == 0;
    usable_ = switched_ && faccessat(AT_FDCWD, dir.c_str(), R_OK | X_OK, AT_EACCESS) == 0;
  }
  ~AsUnprivilegedUser() {
    if (root_) {
      EXPECT_EQ(seteuid(0), 0);
      EXPECT_EQ(setegid(0), 0);
    }
  }
  bool Usable() const { return usable_; }

 private:
  static constexpr uid_t kNobody = 65534;
  bool root_;
  bool switched_ = false;
  bool usable_ = true;
};

size_t Occurrences(const std::string& text, const std::string& what) {
  size_t count = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
    ++count;
  }
  return count;
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

TEST(JobFaults, EachOutputFaultFailsItsJobAndTheNextJobRuns) {
  ScratchDir dir;
  const std::string readOnly = dir.File("read-only");
  const std::string writable = dir.File("writable");
  std::filesystem::create_directory(readOnly);
  std::filesystem::create_directory(writable);
  chmod(dir.Path().c_str(), 0755);
  chmod(readOnly.c_str(), 0555);
  chmod(writable.c_str(), 0777);
  const std::string source = dir.File("mjpeg_pcm.avi");
  std::filesystem::copy_file(kSamples + "mjpeg_pcm.avi", source);
  chmod(source.c_str(), 0644);
  const std::vector<Job> jobs = {
      {source, "/dev/full"},
      {source, dir.File("missing/out.avi")},
      {source, readOnly + "/out.avi"},
      {source, writable + "/out.avi"},
  };
  RunOptions options;
  options.report.verbosity = 0;
  CapturedOutput captured;
  int status = 0;
  {
    const AsUnprivilegedUser user(dir.Path());
    if (!user.Usable()) GTEST_SKIP() << "cannot act as an unprivileged user here";
    status = Driver::RunJobs(jobs, options, captured.output, nullptr);
  }
  EXPECT_EQ(status, Driver::kExitJobFailed);
  const std::string report = Joined(captured.Lines());
  EXPECT_EQ(Occurrences(report, SystemError::Text(ENOSPC)), 1u) << report;
  EXPECT_EQ(Occurrences(report, SystemError::Text(ENOENT)), 1u) << report;
  EXPECT_EQ(Occurrences(report, SystemError::Text(EACCES)), 1u) << report;
  EXPECT_EQ(Occurrences(report, "Reading 'mjpeg_pcm.avi'"), 4u);
  EXPECT_NE(report.find("Total Files processed: 4, Total Size: 134392 (0MB)"), std::string::npos)
      << report;
  // The last job wrote a whole file, which parses without a failure.
  CapturedOutput check;
  const std::vector<Job> verify = {{writable + "/out.avi", ""}};
  EXPECT_EQ(Driver::RunJobs(verify, options, check.output, nullptr), 0);
  EXPECT_GT(std::filesystem::file_size(writable + "/out.avi"), 30000u);
  EXPECT_FALSE(std::filesystem::exists(readOnly + "/out.avi"));
}

TEST(JobFaults, TheProgramReportsFullDevicesWithStatusTwo) {
  const std::string source = kSamples + "mjpeg_pcm.avi";
  // The written file goes to a full device; -d then parses that device as
  // the next job, which must neither hang nor fail.
  const apptest::ChildOutcome writing =
      apptest::ChildProcess::Run({CLIPSMITH_BINARY, "-v0", "-o", "-d", source, "/dev/full"}, 60);
  EXPECT_EQ(writing.exitStatus, Driver::kExitJobFailed);
  EXPECT_NE(writing.out.find(SystemError::Text(ENOSPC)), std::string::npos) << writing.out;
  EXPECT_NE(writing.err.find(SystemError::Text(ENOSPC)), std::string::npos) << writing.err;
  EXPECT_NE(writing.out.find("Total Files processed: 2,"), std::string::npos) << writing.out;

  // The report itself cannot be written.
  ScratchDir dir;
  const std::string script = dir.File("report-to-full.sh");
  apptest::WriteText(script, "exec \"$@\" > /dev/full\n");
  const apptest::ChildOutcome reporting =
      apptest::ChildProcess::Run({"/bin/sh", script, CLIPSMITH_BINARY, source}, 60);
  EXPECT_EQ(reporting.exitStatus, Driver::kExitJobFailed);
  EXPECT_NE(reporting.err.find(SystemError::Text(ENOSPC)), std::string::npos) << reporting.err;
}

// Forcing a byte order sends any file to the chunk parser; an unreadable
// source must still be reported once, without a parser or a verdict.
TEST(JobFaults, AnUnreadableSourceIsReportedOnceWhateverTheDispatch) {
  ScratchDir dir;
  chmod(dir.Path().c_str(), 0755);
  const std::string source = dir.File("locked.wav");
  apptest::WriteText(source, "RIFF....WAVE");
  chmod(source.c_str(), 0);
  for (const char* order : {"-mi", "-mx", "-mt", "-v2"}) {
    CapturedOutput captured;
    int status = 0;
    {
      const AsUnprivilegedUser user(dir.Path());
      if (!user.Usable()) GTEST_SKIP() << "cannot act as an unprivileged user here";
      status = Driver::Run({"clipsmith", order, source}, captured.output, nullptr);
    }
    EXPECT_EQ(status, Driver::kExitJobFailed) << order;
    const std::string report = Joined(captured.Lines());
    EXPECT_EQ(Occurrences(report, SystemError::Text(EACCES)), 1u) << order << "\n" << report;
    EXPECT_EQ(Occurrences(report, "locked.wav"), 1u) << order << "\n" << report;
    EXPECT_EQ(report.find("recognized"), std::string::npos) << order << "\n" << report;
    EXPECT_NE(report.find("Total Files processed: 1, Total Size: 0 (0MB)"), std::string::npos)
        << report;
  }
}

// ---------------------------------------------------------------------------
// A batch of 200 files

struct BatchFile {
  std::string name;
  std::vector<uint8_t> bytes;
};

std::vector<uint8_t> ReadAll(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(file), {});
}

// Real files, the same cut short or with bytes overwritten, random bytes and
// empty files, in a mixed order.
std::vector<BatchFile> MixedFiles(size_t count) {
  std::vector<std::vector<uint8_t>> samples;
  for (const char* name : {"mjpeg_pcm.avi", "mpeg4_mp3.avi", "rawvideo.avi", "audio_only.avi",
                           "msmpeg4v2_adpcm.avi"}) {
    samples.push_back(ReadAll(kSamples + name));
  }
  samples.push_back(ReadAll(std::string(CLIPSMITH_TEST_DATA) + "/sine_title.wav"));
  std::mt19937 random(8);
  std::vector<BatchFile> files;
  for (size_t i = 0; i < count; ++i) {
    const std::vector<uint8_t>& sample = samples[i % samples.size()];
    std::vector<uint8_t> bytes;
    switch (i % 5) {
      case 0:
        bytes = sample;
        break;
      case 1:
        bytes.assign(sample.begin(), sample.begin() + random() % sample.size());
        break;
      case 2:
        bytes = sample;
        for (int k = 0; k < 40; ++k) {
          bytes[random() % bytes.size()] = static_cast<uint8_t>(random());
        }
        break;
      case 3:
        bytes.resize(random() % 5000);
        for (uint8_t& byte : bytes) byte = static_cast<uint8_t>(random());
        break;
      default:
        break;  // empty
    }
    char name[32];
    std::snprintf(name, sizeof name, "file%03zu.%s", i, i % 3 == 0 ? "avi" : "bin");
    files.push_back({name, std::move(bytes)});
  }
  return files;
}

TEST(BatchRobustness, TwoHundredMixedFilesAreAllReportedWithCorrectTotals) {
  ScratchDir dir;
  chmod(dir.Path().c_str(), 0755);
  const std::vector<BatchFile> files = MixedFiles(200);
  for (const BatchFile& file : files) {
    apptest::WriteBytes(dir.File(file.name), file.bytes);
    chmod(dir.File(file.name).c_str(), 0644);
  }

  CapturedOutput listing;
  RunOptions options;
  std::vector<Job> jobs;
  ParseResult result;
  CommandLine(listing.output).Parse({"clipsmith", dir.File("*")}, options, jobs, result);
  ASSERT_EQ(result.status, kRunJobs);
  ASSERT_EQ(jobs.size(), 200u);

  // After the listing, every 20th file vanishes and every 20th (offset by
  // ten) loses its read permission.
  uint64_t readableBytes = 0;
  size_t vanished = 0, unreadable = 0;
  for (size_t i = 0; i < files.size(); ++i) {
    const std::string path = dir.File(files[i].name);
    if (i % 20 == 7) {
      std::filesystem::remove(path);
      ++vanished;
    } else if (i % 20 == 17) {
      chmod(path.c_str(), 0);
      ++unreadable;
    } else {
      readableBytes += files[i].bytes.size();
    }
  }

  CapturedOutput captured;
  int status = 0;
  {
    const AsUnprivilegedUser user(dir.Path());
    if (!user.Usable()) GTEST_SKIP() << "cannot act as an unprivileged user here";
    status = Driver::RunJobs(jobs, options, captured.output, nullptr);
  }
  EXPECT_EQ(status, Driver::kExitJobFailed);
  // Every file's path heads its report; one that vanished or cannot be read
  // gets the host's text under it and nothing more.
  const std::vector<std::string> lines = captured.Lines();
  for (size_t i = 0; i < jobs.size(); ++i) {
    const auto heading = std::find(lines.begin(), lines.end(), jobs[i].source);
    ASSERT_NE(heading, lines.end()) << jobs[i].source;
    const bool readable = i % 20 != 7 && i % 20 != 17;
    // The host's texts end with their own line break.
    const auto isHostText = [](const std::string& line, int code) {
      return !line.empty() && SystemError::Text(code).find(line) == 0;
    };
    const bool hostText = heading + 1 < lines.end() &&
                          (isHostText(heading[1], ENOENT) || isHostText(heading[1], EACCES));
    EXPECT_EQ(hostText, !readable) << jobs[i].source;
    if (hostText && heading + 2 < lines.end()) {
      EXPECT_EQ(heading[2], "") << jobs[i].source;
    }
  }
  const std::string report = Joined(lines);
  EXPECT_EQ(Occurrences(report, SystemError::Text(ENOENT)), vanished);
  EXPECT_EQ(Occurrences(report, SystemError::Text(EACCES)), unreadable);
  const std::string totals =
      "Total Files processed: 200, Total Size: " + std::to_string(readableBytes) + " (" +
      std::to_string(readableBytes / 1048576) + "MB)";
  EXPECT_NE(report.find(totals), std::string::npos) << totals;
}

}  // namespace
