// Replays the inputs that once crashed, hung or ran out of bounds: each file
// under tests/data/fuzz runs with the options the fuzzer gave it (writer
// included), then quiet, default and debug, with and without index checks.

#include <gtest/gtest.h>

#include <filesystem>

#include "AppTestSupport.h"
#include "app/BatchRunner.h"
#include "fuzz/FuzzOptions.h"

namespace {

JobOutcome Replay(const std::string& path, const std::string& output, const RunOptions& options) {
  apptest::CapturedOutput captured;
  captured.output.SetJsonMode(options.batch.json);
  return BatchRunner::RunJob({path, output}, options, captured.output);
}

TEST(FuzzRegressionTest, EveryKeptInputRunsToTheEnd) {
  const apptest::ScratchDir scratch;
  size_t replayed = 0;
  for (const auto& entry :
       std::filesystem::directory_iterator(std::string(CLIPSMITH_TEST_DATA) + "/fuzz")) {
    const std::string path = entry.path().string();
    const testsupport::Bytes bytes = testsupport::ReadFile(path);
    const FuzzJob job = FuzzJobFor(bytes.data(), bytes.size());
    Replay(path, job.writes ? scratch.File("out.avi") : std::string(), job.options);
    for (uint32_t verbosity : {0u, 2u, 6u}) {
      for (bool checkIndexes : {true, false}) {
        RunOptions options;
        options.report.verbosity = verbosity;
        options.scan.checkIndexes = checkIndexes;
        EXPECT_EQ(Replay(path, "", options).size, bytes.size()) << path;
      }
    }
    ++replayed;
  }
  EXPECT_GT(replayed, 0u);
}

}  // namespace
