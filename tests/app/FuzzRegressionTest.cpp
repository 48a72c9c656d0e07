// Replays the inputs that once crashed, hung or ran out of bounds in the
// per-file run: each file under tests/data/fuzz runs with the options the
// fuzzer gave it (writer included) and at quiet, default and debug
// verbosity with and without the index checks. Each must simply run to the
// end.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <vector>

#include "TestSupport.h"
#include "app/FormatProbe.h"
#include "core/ReportOutput.h"
#include "core/RunOptions.h"
#include "fuzz/FuzzOptions.h"

namespace {

JobOutcome Replay(const std::string& path, const std::string& output, const RunOptions& options) {
  std::ostringstream out, err;
  ReportOutput report(out, err, ConsoleState());
  return FormatProbe::RunFile(path, output, options, report);
}

TEST(FuzzRegressionTest, EveryKeptInputRunsToTheEnd) {
  const std::filesystem::path dir = std::filesystem::path(CLIPSMITH_TEST_DATA) / "fuzz";
  const testsupport::ScratchDir scratch;
  size_t replayed = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    if (!entry.is_regular_file()) continue;
    const std::string path = entry.path().string();
    std::ifstream file(path, std::ios::binary);
    const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(file), {}};

    const FuzzJob job = FuzzJobFor(bytes.data(), bytes.size());
    Replay(path, job.writes ? scratch.File("out.avi") : std::string(), job.options);
    for (uint32_t verbosity : {0u, 2u, 6u}) {
      for (bool checkIndexes : {true, false}) {
        RunOptions options;
        options.report.verbosity = verbosity;
        options.scan.checkIndexes = checkIndexes;
        EXPECT_EQ(Replay(path, "", options).size, entry.file_size()) << path;
      }
    }
    ++replayed;
  }
  EXPECT_GT(replayed, 0u);
}

}  // namespace
