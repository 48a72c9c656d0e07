// Replays the inputs that once crashed or hung the per-file run, at quiet,
// default and debug verbosity. Each file under tests/data/fuzz must simply run
// to the end.

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "app/FormatProbe.h"
#include "core/ReportOutput.h"
#include "core/RunOptions.h"

namespace {

TEST(FuzzRegressionTest, EveryKeptInputRunsToTheEnd) {
  const std::filesystem::path dir = std::filesystem::path(CLIPSMITH_TEST_DATA) / "fuzz";
  size_t replayed = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    if (!entry.is_regular_file()) continue;
    for (uint32_t verbosity : {0u, 2u, 6u}) {
      for (bool checkIndexes : {true, false}) {
        RunOptions options;
        options.verbosity = verbosity;
        options.checkIndexes = checkIndexes;
        std::ostringstream out, err;
        ReportOutput output(out, err, ConsoleState());
        EXPECT_EQ(FormatProbe::RunFile(entry.path().string(), "", options, output).size,
                  entry.file_size())
            << entry.path();
      }
    }
    ++replayed;
  }
  EXPECT_GT(replayed, 0u);
}

}  // namespace
