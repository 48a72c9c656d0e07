// Faults outside the input file each give the host's text and a failed job,
// and the run goes on to the next job.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
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

// Runs `body` as "nobody" under root (whom permission bits do not stop); false
// when that is impossible or `dir` is out of that user's reach.
template <typename Body>
bool AsUnprivilegedUser(const std::string& dir, Body body) {
  const bool root = geteuid() == 0;
  const bool usable = !root || (setegid(65534) == 0 && seteuid(65534) == 0 &&
                                faccessat(AT_FDCWD, dir.c_str(), R_OK | X_OK, AT_EACCESS) == 0);
  if (usable) body();
  if (root) {
    EXPECT_EQ(seteuid(0), 0);
    EXPECT_EQ(setegid(0), 0);
  }
  return usable;
}

size_t Occurrences(const std::string& text, const std::string& what) {
  size_t count = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
  return count;
}

TEST(JobFaults, EachOutputFaultFailsItsJobAndTheNextJobRuns) {
  ScratchDir dir;
  const std::string readOnly = dir.File("read-only");
  const std::string writable = dir.File("writable");
  for (const auto& [path, mode] :
       {std::pair{dir.Path(), 0755}, {readOnly, 0555}, {writable, 0777}}) {
    std::filesystem::create_directories(path);
    chmod(path.c_str(), mode);
  }
  const std::string source = dir.File("mjpeg_pcm.avi");
  std::filesystem::copy_file(kSamples + "mjpeg_pcm.avi", source);
  chmod(source.c_str(), 0644);
  const std::vector<Job> jobs = {{source, "/dev/full"},
                                 {source, dir.File("missing/out.avi")},
                                 {source, readOnly + "/out.avi"},
                                 {source, writable + "/out.avi"}};
  RunOptions options;
  options.report.verbosity = 0;
  CapturedOutput captured;
  int status = 0;
  if (!AsUnprivilegedUser(
          dir.Path(), [&] { status = Driver::RunJobs(jobs, options, captured.output, nullptr); })) {
    GTEST_SKIP() << "cannot act as an unprivileged user here";
  }
  EXPECT_EQ(status, Driver::kExitJobFailed);
  captured.output.Flush();
  const std::string report = captured.out.str();
  for (int error : {ENOSPC, ENOENT, EACCES}) {
    EXPECT_EQ(Occurrences(report, SystemError::Text(error)), 1u) << error << "\n" << report;
  }
  EXPECT_EQ(Occurrences(report, "Reading 'mjpeg_pcm.avi'"), 4u);
  EXPECT_NE(report.find("Total Files processed: 4, Total Size: 134392 (0MB)"), std::string::npos)
      << report;
  // The last job wrote a whole file, which parses without a failure.
  CapturedOutput check;
  EXPECT_EQ(Driver::RunJobs({{writable + "/out.avi", ""}}, options, check.output, nullptr), 0);
  EXPECT_GT(std::filesystem::file_size(writable + "/out.avi"), 30000u);
  EXPECT_FALSE(std::filesystem::exists(readOnly + "/out.avi"));
}

TEST(JobFaults, TheProgramReportsFullDevicesWithStatusTwo) {
  const std::string source = kSamples + "mjpeg_pcm.avi";
  // Writing to a full device; -d then parses the device without a hang.
  const apptest::ChildOutcome writing =
      apptest::ChildProcess::Run({CLIPSMITH_BINARY, "-v0", "-o", "-d", source, "/dev/full"}, 60);
  EXPECT_EQ(writing.exitStatus, Driver::kExitJobFailed);
  EXPECT_NE(writing.out.find(SystemError::Text(ENOSPC)), std::string::npos) << writing.out;
  EXPECT_NE(writing.out.find("Total Files processed: 2,"), std::string::npos) << writing.out;
  EXPECT_EQ(writing.out.rfind("Clipsmith 1.4.2\n", 0), 0u);  // the banner heads a redirected report

  // The report itself cannot be written.
  const apptest::ChildOutcome reporting = apptest::ChildProcess::Run(
      {"/bin/sh", "-c", "exec \"$0\" \"$1\" > /dev/full", CLIPSMITH_BINARY, source}, 60);
  EXPECT_EQ(reporting.exitStatus, Driver::kExitJobFailed);
  EXPECT_NE(reporting.err.find(SystemError::Text(ENOSPC)), std::string::npos) << reporting.err;
}

// Real files whole, cut short or overwritten, random bytes and empty files.
std::vector<std::pair<std::string, std::vector<uint8_t>>> MixedFiles(size_t count) {
  std::vector<std::vector<uint8_t>> samples;
  for (const char* name : {"mjpeg_pcm.avi", "mpeg4_mp3.avi", "rawvideo.avi", "audio_only.avi",
                           "msmpeg4v2_adpcm.avi", "../sine_title.wav"}) {
    samples.push_back(testsupport::ReadFile(kSamples + name));
  }
  std::mt19937 random(8);
  std::vector<std::pair<std::string, std::vector<uint8_t>>> files;
  for (size_t i = 0; i < count; ++i) {
    std::vector<uint8_t> bytes = samples[i % samples.size()];
    if (i % 5 == 1) bytes.resize(random() % bytes.size());
    if (i % 5 == 2) {
      for (int k = 0; k < 40; ++k) bytes[random() % bytes.size()] = uint8_t(random());
    }
    if (i % 5 == 3) {
      bytes.resize(random() % 5000);
      for (uint8_t& byte : bytes) byte = uint8_t(random());
    }
    if (i % 5 == 4) bytes.clear();
    files.push_back({"file" + std::to_string(1000 + i).substr(1) + (i % 3 == 0 ? ".avi" : ".bin"),
                     std::move(bytes)});
  }
  return files;
}

TEST(BatchRobustness, TwoHundredMixedFilesAreAllReportedWithCorrectTotals) {
  ScratchDir dir;
  chmod(dir.Path().c_str(), 0755);
  const auto files = MixedFiles(200);
  for (const auto& [name, bytes] : files) {
    apptest::WriteBytes(dir.File(name), bytes);
    chmod(dir.File(name).c_str(), 0644);
  }

  CapturedOutput listing;
  RunOptions options;
  std::vector<Job> jobs;
  ParseResult result;
  CommandLine(listing.output).Parse({"clipsmith", dir.File("*")}, options, jobs, result);
  ASSERT_EQ(result.status, kRunJobs);
  ASSERT_EQ(jobs.size(), 200u);

  // After the listing files vanish or lose read permission: each gets the
  // host's text (with its own line break) under its path and nothing more.
  uint64_t readableBytes = 0;
  for (size_t i = 0; i < files.size(); ++i) {
    const std::string path = dir.File(files[i].first);
    if (i % 20 == 7) {
      std::filesystem::remove(path);
    } else if (i % 20 == 17) {
      chmod(path.c_str(), 0);
    } else {
      readableBytes += files[i].second.size();
    }
  }
  CapturedOutput captured;
  int status = 0;
  if (!AsUnprivilegedUser(
          dir.Path(), [&] { status = Driver::RunJobs(jobs, options, captured.output, nullptr); })) {
    GTEST_SKIP() << "cannot act as an unprivileged user here";
  }
  EXPECT_EQ(status, Driver::kExitJobFailed);
  const std::vector<std::string> lines = captured.Lines();
  for (size_t i = 0; i < jobs.size(); ++i) {
    SCOPED_TRACE(jobs[i].source);
    const auto heading = std::find(lines.begin(), lines.end(), jobs[i].source);
    ASSERT_LT(size_t(heading - lines.begin()) + 2, lines.size());
    const int error = i % 20 == 7 ? ENOENT : i % 20 == 17 ? EACCES : 0;
    EXPECT_EQ(heading[1] + "\n" == SystemError::Text(error), error != 0);
    EXPECT_TRUE(error == 0 || heading[2].empty()) << heading[2];
  }
  const std::string report = captured.out.str();
  EXPECT_EQ(Occurrences(report, SystemError::Text(ENOENT)), 10u);
  EXPECT_EQ(Occurrences(report, SystemError::Text(EACCES)), 10u);
  EXPECT_NE(report.find("Total Files processed: 200, Total Size: " + std::to_string(readableBytes) +
                        " (" + std::to_string(readableBytes / 1048576) + "MB)"),
            std::string::npos);
}

}  // namespace
