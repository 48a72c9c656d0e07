#include <gtest/gtest.h>
#include <sys/stat.h>

#include "AppTestSupport.h"
#include "app/CommandLine.h"

namespace {

using Args = std::vector<std::string>;

using apptest::CapturedOutput;
using apptest::ScratchDir;
using apptest::WriteText;

struct Parsed {
  RunOptions options;
  std::vector<Job> jobs;
  ParseResult result;
};

Parsed Parse(std::vector<std::string> args) {
  CapturedOutput captured;
  Parsed parsed;
  args.insert(args.begin(), "clipsmith");
  CommandLine(captured.output).Parse(args, parsed.options, parsed.jobs, parsed.result);
  return parsed;
}

uint32_t StatusOf(std::vector<std::string> args) { return Parse(std::move(args)).result.status; }

// The extended text with its defaults; the short text is 13 of its lines.
TEST(CommandLineUsage, ExtendedTextAndTheShortTextWithinIt) {
  const std::vector<std::string> extended = CommandLine::UsageText(true);
  ASSERT_EQ(extended.size(), 27u);
  EXPECT_EQ(extended[0], "Clipsmith: Usage: clipsmith -opt1 -opt2 ... filespec*.avi [out.avi]");
  EXPECT_EQ(extended[17], " -sf#### Write out.avi, Split File Size [M/G/m/g] (0)");
  EXPECT_EQ(extended[18], " -sm#### Write out.avi, 'movi'-Chunk Size [M/G/m/g] (1G)");
  const std::vector<std::string> brief = CommandLine::UsageText(false);
  ASSERT_EQ(brief.size(), 13u);
  EXPECT_EQ(brief.back(), " -h      Show extended help");
  auto next = extended.begin();
  for (const std::string& line : brief) {
    next = std::find(next, extended.end(), line);
    ASSERT_NE(next, extended.end()) << line;
    EXPECT_EQ(line.find(" -r"), std::string::npos);
  }
}

TEST(CommandLineSwitches, MalformedSwitchesShowTheExtendedUsage) {
  for (const std::string& arg :
       testsupport::Words("-t -tq5 -tmx -fv0.5 -fv100 -fv -fvx -f -fq -sfM -sm8G -sx5M "
                          "-sm8489266297 -sm1048575 -sf-5M -sf1000000 -sf1048575 -sm1e300G -rs "
                          "-rsx -rq -mR -mrx -mI -mix -m -q -q3 -xs -xz -h -z - -j -j0 -j65")) {
    EXPECT_EQ(StatusOf({arg}), kShowExtendedUsage) << arg;
  }
  EXPECT_EQ(StatusOf({"a", "b", "c"}), kShowExtendedUsage);
  for (const std::string& arg :
       testsupport::Words("-fv1 -fv99.5 -sf1M -sf1048576 -sm1M -sm8489266296 -MI")) {
    EXPECT_NE(StatusOf({arg}), kShowExtendedUsage) << arg;
  }
  // The scan stops at the first error: the switch after it is not read.
  EXPECT_EQ(Parse({"-z", "-v6"}).options.report.verbosity, 2u);
}

TEST(CommandLineSwitches, ValuesReachTheirOptions) {
  EXPECT_EQ(Parse({"-v"}).options.report.verbosity, 1u);
  EXPECT_EQ(Parse({"-v0"}).options.report.verbosity, 0u);
  // Verbosity and the three trace limits; a trace limit raises verbosity 0 to 1.
  const auto trace = [](std::vector<std::string> args) {
    const ReportOptions r = Parse(std::move(args)).options.report;
    return std::vector<uint32_t>{r.verbosity, r.moviTraceLimit, r.indxTraceLimit, r.idx1TraceLimit};
  };
  EXPECT_EQ(trace({"-v0", "-t500"}), (std::vector<uint32_t>{1, 500, 500, 500}));
  EXPECT_EQ(trace({"-t500"})[0], 2u);
  EXPECT_EQ(trace({"-tm7", "-TI8", "-tX9"}), (std::vector<uint32_t>{2, 7, 8, 9}));
  EXPECT_EQ(Parse({"-p"}).options.scan.moviParseLimit, 4294967295u);
  EXPECT_EQ(Parse({"-p250"}).options.scan.moviParseLimit, 250u);

  EXPECT_EQ(Parse({"-fv25"}).options.writer.videoFps, 25.0);
  EXPECT_EQ(Parse({"-sf700M"}).options.writer.splitSize, 734003200u);
  EXPECT_EQ(Parse({"-sf2g"}).options.writer.splitSize, 2000000000u);
  EXPECT_EQ(Parse({"-sf9e999"}).options.writer.splitSize, ~uint64_t{0});  // no wrap
  EXPECT_EQ(Parse({"-sm1G"}).options.writer.moviChunkLimit, 1073741824u);
  EXPECT_EQ(Parse({"-rs0x10", "-rs010", "-rs2", "-rs2"}).options.writer.strippedStreams,
            (std::set<uint16_t>{2, 8, 16}));
  // Byte order: case-sensitive unless all capitals; -mr is -mi as the usage says.
  EXPECT_EQ(Parse({"-mx"}).options.scan.byteOrder, ByteOrder::kBig);
  EXPECT_EQ(Parse({"-mt"}).options.scan.byteOrder, ByteOrder::kMpegScan);
  for (const char* little : {"-mi", "-mr", "-MR", "-MI"}) {
    EXPECT_EQ(Parse({little}).options.scan.byteOrder, ByteOrder::kLittle) << little;
  }
  const RunOptions flags =
      Parse({"-c", "-n", "-k", "-q1", "-q2", "-xi", "-xs10", "-xe20", "-fa", "-rx", "-RO", "-ri"})
          .options;
  const bool set[] = {!flags.scan.checkIndexes,   flags.scan.subchunkEnforcesParentSize,
                      flags.writer.tightAvi,      flags.writer.switchQ1,
                      flags.scan.switchQ2,        flags.scan.switchXi,
                      flags.writer.fixAudioScale, flags.writer.writeIdx1,
                      !flags.writer.writeOpenDml, flags.writer.ignoreIdx1Order};
  for (size_t i = 0; i < std::size(set); ++i) EXPECT_TRUE(set[i]) << "flag " << i;
  EXPECT_EQ(Parse({"-j2", "-e"}).options.batch.jobs, 2u);
  EXPECT_TRUE(Parse({"-j2", "-e"}).options.batch.json);
  EXPECT_EQ(flags.writer.firstFrame, 10u);
  EXPECT_EQ(flags.writer.lastFrame, 20u);
}

// Sources, destinations and the messages or jobs they lead to.
TEST(CommandLineFiles, SourceAndDestinationRules) {
  ScratchDir dir;
  for (const char* name : {"t1.avi", "t2.avi", "old.avi", "new.00.avi"}) {
    WriteText(dir.File(name), name);
  }
  std::filesystem::create_directory(dir.File("out"));
  ASSERT_EQ(::mkfifo(dir.File("pipe").c_str(), 0600), 0);
  const std::string t1 = dir.File("t1.avi"), batch = dir.File("t*.avi");
  const std::string none = "No files to process found.";
  const std::string general = "General failure with your command line arguments.";
  const std::string identical = "Source and Destination Path is identical";
  const std::string exists = "Destination file already exists. Use -o switch to overwrite.";
  const std::string batchToFile =
      "If you want to batch convert (*? in source file name), then give only an existing "
      "destination directory, not a file name";
  const struct {
    Args args;
    uint32_t status;
    std::string message;
    size_t jobs;
  } rows[] = {
      {Args{}, kShowMessage, none, 0},
      {Args{dir.File("nothing*.avi")}, kShowMessage, none, 0},
      {Args{"-rx", "clip.avi"}, kShowMessage, general, 0},  // no destination
      {Args{"/" + std::string(5000, 'a') + ".avi"}, kShowMessage, general, 0},
      {Args{"-sf700M", "-d", "a.avi", "b.avi"}, kShowMessage,
       "Limiting file size and parsing output not supported.", 0},
      {Args{batch, t1}, kShowMessage, batchToFile, 0},
      {Args{batch, dir.File("new.avi")}, kShowMessage, batchToFile, 0},
      {Args{batch, dir.Path()}, kShowMessage, identical, 0},
      // One trailing '/' is dropped before the destination is looked up.
      {Args{batch, dir.Path() + "/"}, kShowMessage, identical, 0},
      {Args{t1, dir.File("old.avi")}, kShowMessage, exists, 0},
      {Args{"-o", t1, dir.File("old.avi")}, kRunJobs, "", 1},
      {Args{t1, dir.File("new.avi")}, kRunJobs, "", 1},
      {Args{t1}, kRunJobs, "", 1},  // nothing written
      // A split output is tested by the name of its first part.
      {Args{"-sf700M", t1, dir.File("new.avi")}, kShowMessage, exists, 0},
      {Args{"-sf700M", t1, dir.File("other.avi")}, kRunJobs, "", 1},
      // No part name can be formed from a name without a dot.
      {Args{"-sf700M", t1, dir.File("plain")}, kSplitNameUnformable, "", 0},
      // Only regular files are jobs: a directory or a pipe gives no job and no message.
      {Args{dir.File("ou?")}, kRunJobs, "", 0},
      {Args{dir.File("p*")}, kRunJobs, "", 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(::testing::PrintToString(row.args));
    const Parsed parsed = Parse(row.args);
    EXPECT_EQ(parsed.result.status, row.status);
    EXPECT_EQ(parsed.result.message, row.message);
    ASSERT_EQ(parsed.jobs.size(), row.jobs);
    if (row.jobs == 1) {
      EXPECT_EQ(parsed.jobs[0].source, t1);
      EXPECT_EQ(parsed.jobs[0].output, row.args.size() > 1 ? row.args.back() : "");
    }
  }
  // A batch into a directory, each written file verified after it.
  const Parsed verified = Parse({"-d", batch, dir.File("out")});
  std::vector<std::string> jobs;
  for (const Job& job : verified.jobs) jobs.insert(jobs.end(), {job.source, job.output});
  EXPECT_EQ(jobs, (std::vector<std::string>{t1, dir.File("out/t1.avi"), dir.File("out/t1.avi"), "",
                                            dir.File("t2.avi"), dir.File("out/t2.avi"),
                                            dir.File("out/t2.avi"), ""}));
}

std::vector<uint8_t> MetFile(const std::string& name) {
  return apptest::MetBuilder().TagCount(1).StringTag(std::string(1, '\x01'), name).Bytes();
}

TEST(CommandLineFiles, PartialDownloadMetadataNamesTheOutput) {
  ScratchDir dir;
  const std::string finished = "clipsmith-finished-download-test.avi";
  ASSERT_FALSE(std::filesystem::exists(finished));
  apptest::WriteBytes(dir.File("x.part.met"), MetFile(finished));
  WriteText(dir.File("x.part"), "data");
  const Parsed parsed = Parse({"-v3", dir.File("x.part.met")});
  ASSERT_EQ(parsed.result.status, kRunJobs) << parsed.result.message;
  ASSERT_EQ(parsed.jobs.size(), 1u);
  EXPECT_EQ(parsed.jobs[0].source, dir.File("x.part"));
  EXPECT_EQ(parsed.jobs[0].output, finished);

  EXPECT_EQ(Parse({dir.File("x.part.met"), "out.avi"}).result.message,
            "Only give .part.met-File, name will be extracted.");
  apptest::WriteBytes(dir.File("bad.part.met"), MetFile("../escape.avi"));
  WriteText(dir.File("bad.part"), "data");
  EXPECT_EQ(Parse({dir.File("bad.part.met")}).result.message,
            "Could not read .part.met file, try .part-File and name.avi instead.");
}

}  // namespace
