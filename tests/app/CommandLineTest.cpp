#include <gtest/gtest.h>
#include <sys/stat.h>

#include "AppTestSupport.h"
#include "app/CommandLine.h"

namespace {

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

TEST(CommandLineUsage, ShortText) {
  const std::vector<std::string> expected = {
      "Clipsmith: Usage: clipsmith -opt1 -opt2 ... filespec*.avi [out.avi]",
      " -t####  Parsing Trace: #### Number of 'movi','indx','idx1'-Entries shown (15)",
      " -v[#]   Parsing Trace: Show 1:Parse/2:Dumps/3:Verbose/4,5,6:Debug (2)",
      " -p####  Fastmode (only partial Parsing), Parse #### 'movi'-entries (all)",
      " -c      Don't Check 'idx1'-and 'indx'-Entries against 'movi'-Entries (on)",
      " -sf#### Write out.avi, Split File Size [M/G/m/g] (0)",
      " -sm#### Write out.avi, 'movi'-Chunk Size [M/G/m/g] (1G)",
      " -o      Overwrite out.avi File",
      " -mr     Force parsing with Intel byte ordering, -mx with Network Byte Ordering (Apple)",
      " -n      Handle Chunk Size Errors differently (Subchunk enforces parent size)",
      " -h      Show extended help",
  };
  EXPECT_EQ(CommandLine::UsageText(false), expected);
}

TEST(CommandLineUsage, ExtendedText) {
  const std::vector<std::string> expected = {
      "Clipsmith: Usage: clipsmith -opt1 -opt2 ... filespec*.avi [out.avi]",
      " -t####  Parsing Trace: #### Number of 'movi','indx','idx1'-Entries shown (15)",
      " -tm#### Parsing Trace: #### Number of 'movi'-Entries shown",
      " -ti#### Parsing Trace: #### Number of 'indx'-Entries shown",
      " -tx#### Parsing Trace: #### Number of 'idx1'-Entries shown",
      " -v[#]   Parsing Trace: Show 1:Parse/2:Dumps/3:Verbose/4,5,6:Debug (2)",
      " -p####  Fastmode (only partial Parsing), Parse #### 'movi'-entries (all)",
      " -c      Don't Check 'idx1'-and 'indx'-Entries against 'movi'-Entries (on)",
      " -rx     Write out.avi with Version 1.0 'idx1' Index (off)",
      " -ro     Write out.avi without Version 1.02 ODML Header or 'indx' Index (on)",
      " -ri     Write out.avi but ignore source 'idx1' ordering (off)",
      " -rs#### Write out.avi, Strip Stream ####",
      " -xs#### Write out.avi, Start with Frame ####",
      " -xe#### Write out.avi, End with Frame ####",
      " -fv##.## Set this speed (frames per second) for Video",
      " -fa      Fix Audio Scale for Length mismatch",
      " -k      Create tight AVI without padding and shortened chunks (on)",
      " -sf#### Write out.avi, Split File Size [M/G/m/g] (0)",
      " -sm#### Write out.avi, 'movi'-Chunk Size [M/G/m/g] (1G)",
      " -o      Overwrite out.avi File",
      " -d      Verify out.avi File (Parse and Report)",
      " -mr     Force parsing with Intel byte ordering, -mx with Network Byte Ordering (Apple)",
      " -n      Handle Chunk Size Errors differently (Subchunk enforces parent size)",
      " -h      Show extended help",
      "You can also convert a partially downloaded *.part file (name from *.part.met)",
  };
  EXPECT_EQ(CommandLine::UsageText(true), expected);
}

TEST(CommandLineSwitches, MalformedSwitchesShowTheExtendedUsage) {
  const std::vector<std::vector<std::string>> rejected = {
      {"-t"},         {"-tq5"},       {"-tmx"},      {"-fv0.5"},     {"-fv100"}, {"-fv"},
      {"-fvx"},       {"-f"},         {"-fq"},       {"-sf1000000"}, {"-sfM"},   {"-sm8G"},
      {"-sm1000000"}, {"-sx5M"},      {"-sm1e300G"}, {"-sf-5M"},     {"-rs"},    {"-rsx"},
      {"-rq"},        {"-mR"},        {"-mrx"},      {"-mI"},        {"-mix"},   {"-m"},
      {"-q"},         {"-q3"},        {"-xs"},       {"-xz"},        {"-h"},     {"-z"},
      {"-"},          {"a", "b", "c"}};
  for (const auto& args : rejected) EXPECT_EQ(StatusOf(args), kShowExtendedUsage) << args[0];
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"-fv25"}, {"-fv99.5"}, {"-sf700M"}, {"-sm1G"}, {"-sm8489266296"}, {"-MI"}, {"-mr"}}) {
    EXPECT_NE(StatusOf(args), kShowExtendedUsage) << args[0];
  }
  // The scan stops at the first error: the switch after it is not read.
  EXPECT_EQ(Parse({"-z", "-v6"}).options.report.verbosity, 2u);
}

TEST(CommandLineSwitches, ValuesReachTheirOptions) {
  EXPECT_EQ(Parse({"-v"}).options.report.verbosity, 1u);
  EXPECT_EQ(Parse({"-v0"}).options.report.verbosity, 0u);
  EXPECT_EQ(Parse({"-v5"}).options.report.verbosity, 5u);
  // A trace limit raises verbosity 0 to 1.
  const Parsed raised = Parse({"-v0", "-t500"});
  EXPECT_EQ(raised.options.report.verbosity, 1u);
  EXPECT_EQ(raised.options.report.moviTraceLimit, 500u);
  EXPECT_EQ(raised.options.report.idx1TraceLimit, 500u);
  EXPECT_EQ(raised.options.report.indxTraceLimit, 500u);
  EXPECT_EQ(Parse({"-t500"}).options.report.verbosity, 2u);
  const Parsed single = Parse({"-tm7", "-TI8", "-tX9"});
  EXPECT_EQ(single.options.report.moviTraceLimit, 7u);
  EXPECT_EQ(single.options.report.indxTraceLimit, 8u);
  EXPECT_EQ(single.options.report.idx1TraceLimit, 9u);
  EXPECT_EQ(Parse({"-p"}).options.scan.moviParseLimit, 4294967295u);
  EXPECT_EQ(Parse({"-p250"}).options.scan.moviParseLimit, 250u);

  EXPECT_EQ(Parse({"-fv25"}).options.writer.videoFps, 25.0);
  EXPECT_TRUE(Parse({"-fa"}).options.writer.fixAudioScale);
  EXPECT_EQ(Parse({"-sf700M"}).options.writer.splitSize, 734003200u);
  EXPECT_EQ(Parse({"-sf2g"}).options.writer.splitSize, 2000000000u);
  EXPECT_EQ(Parse({"-sf9e999"}).options.writer.splitSize, ~uint64_t{0});  // no wrap
  EXPECT_EQ(Parse({"-sm1G"}).options.writer.moviChunkLimit, 1073741824u);
  EXPECT_EQ(Parse({"-sm8489266296"}).options.writer.moviChunkLimit, 8489266296u);
  EXPECT_EQ(Parse({"-rs0x10", "-rs010", "-rs2", "-rs2"}).options.writer.strippedStreams,
            (std::set<uint16_t>{2, 8, 16}));
  const Parsed write = Parse({"-rx", "-RO", "-ri"});
  EXPECT_TRUE(write.options.writer.writeIdx1);
  EXPECT_FALSE(write.options.writer.writeOpenDml);
  EXPECT_TRUE(write.options.writer.ignoreIdx1Order);

  // Byte order: case-sensitive unless written in capitals; -mr is the
  // spelling the usage text gives for -mi.
  EXPECT_EQ(Parse({"-mi"}).options.scan.byteOrder, ByteOrder::kLittle);
  EXPECT_EQ(Parse({"-mx"}).options.scan.byteOrder, ByteOrder::kBig);
  EXPECT_EQ(Parse({"-mt"}).options.scan.byteOrder, ByteOrder::kMpegScan);
  EXPECT_EQ(Parse({"-mr"}).options.scan.byteOrder, ByteOrder::kLittle);
  EXPECT_EQ(Parse({"-MR"}).options.scan.byteOrder, ByteOrder::kLittle);
  EXPECT_EQ(Parse({"-MI"}).options.scan.byteOrder, ByteOrder::kLittle);

  const Parsed flags = Parse({"-c", "-n", "-k", "-q1", "-q2", "-xi", "-xs10", "-xe20"});
  EXPECT_FALSE(flags.options.scan.checkIndexes);
  EXPECT_TRUE(flags.options.scan.subchunkEnforcesParentSize);
  EXPECT_TRUE(flags.options.writer.tightAvi);
  EXPECT_TRUE(flags.options.writer.switchQ1);
  EXPECT_TRUE(flags.options.scan.switchQ2);
  EXPECT_TRUE(flags.options.scan.switchXi);
  EXPECT_EQ(flags.options.writer.firstFrame, 10u);
  EXPECT_EQ(flags.options.writer.lastFrame, 20u);
}

TEST(CommandLineFiles, FileCountMessages) {
  ScratchDir dir;
  const std::string general = "General failure with your command line arguments.";
  const struct {
    std::vector<std::string> args;
    std::string message;
  } rows[] = {
      {{}, "No files to process found."},
      {{"-v3"}, "No files to process found."},
      {{dir.File("nothing*.avi")}, "No files to process found."},
      {{"-rx", "clip.avi"}, general},  // no destination
      {{"/" + std::string(5000, 'a') + ".avi"}, general},
      {{"-sf700M", "-d", "a.avi", "b.avi"}, "Limiting file size and parsing output not supported."},
  };
  for (const auto& row : rows) {
    const Parsed parsed = Parse(row.args);
    EXPECT_EQ(parsed.result.message, row.message);
    EXPECT_TRUE(parsed.jobs.empty());
  }
  EXPECT_EQ(StatusOf({"-rx", "clip.avi"}), kShowMessage);
}

TEST(CommandLineFiles, SearchKeepsOnlyRegularFilesInNameOrder) {
  ScratchDir dir;
  WriteText(dir.File("b.avi"), "b");
  WriteText(dir.File("A.AVI"), "a");
  WriteText(dir.File("c.txt"), "c");
  std::filesystem::create_directory(dir.File("d.avi"));
  ASSERT_EQ(::mkfifo(dir.File("e.avi").c_str(), 0600), 0);

  Parsed parsed = Parse({dir.File("*.avi")});
  ASSERT_EQ(parsed.result.status, kRunJobs);
  ASSERT_EQ(parsed.jobs.size(), 2u);
  EXPECT_EQ(parsed.jobs[0].source, dir.File("A.AVI"));
  EXPECT_EQ(parsed.jobs[0].output, "");
  EXPECT_EQ(parsed.jobs[1].source, dir.File("b.avi"));

  // A file pattern matching only a directory gives no job and no message.
  Parsed onlyDirectory = Parse({dir.File("d.av?")});
  EXPECT_EQ(onlyDirectory.result.status, kRunJobs);
  EXPECT_TRUE(onlyDirectory.jobs.empty());
}

TEST(CommandLineFiles, BatchDestinationRules) {
  ScratchDir dir;
  WriteText(dir.File("one.avi"), "1");
  WriteText(dir.File("two.avi"), "2");
  std::filesystem::create_directory(dir.File("out"));

  EXPECT_EQ(Parse({dir.File("*.avi"), dir.File("one.avi")}).result.message,
            "If you want to batch convert (*? in source file name), then give only an existing "
            "destination directory, not a file name");
  EXPECT_EQ(Parse({dir.File("*.avi"), dir.File("new.avi")}).result.status, kShowMessage);
  EXPECT_EQ(Parse({dir.File("*.avi"), dir.Path()}).result.message,
            "Source and Destination Path is identical");
  // One trailing '/' is dropped before the destination is looked up.
  EXPECT_EQ(Parse({dir.File("*.avi"), dir.Path() + "/"}).result.message,
            "Source and Destination Path is identical");

  Parsed batch = Parse({"-d", dir.File("*.avi"), dir.File("out")});
  ASSERT_EQ(batch.result.status, kRunJobs);
  ASSERT_EQ(batch.jobs.size(), 4u);
  EXPECT_EQ(batch.jobs[0].source, dir.File("one.avi"));
  EXPECT_EQ(batch.jobs[0].output, dir.File("out/one.avi"));
  EXPECT_EQ(batch.jobs[1].source, dir.File("out/one.avi"));
  EXPECT_EQ(batch.jobs[1].output, "");
  EXPECT_EQ(batch.jobs[2].source, dir.File("two.avi"));
  EXPECT_EQ(batch.jobs[2].output, dir.File("out/two.avi"));
  EXPECT_EQ(batch.jobs[3].source, dir.File("out/two.avi"));
}

TEST(CommandLineFiles, ExistingOutputNeedsOverwriteSwitch) {
  ScratchDir dir;
  WriteText(dir.File("in.avi"), "in");
  WriteText(dir.File("out.avi"), "old");
  const std::string exists = "Destination file already exists. Use -o switch to overwrite.";

  EXPECT_EQ(Parse({dir.File("in.avi"), dir.File("out.avi")}).result.message, exists);
  Parsed overwrite = Parse({"-o", dir.File("in.avi"), dir.File("out.avi")});
  ASSERT_EQ(overwrite.result.status, kRunJobs);
  ASSERT_EQ(overwrite.jobs.size(), 1u);
  EXPECT_EQ(overwrite.jobs[0].output, dir.File("out.avi"));

  // A split output is tested by the name of its first part.
  Parsed split = Parse({"-sf700M", dir.File("in.avi"), dir.File("out.avi")});
  EXPECT_EQ(split.result.status, kRunJobs);
  WriteText(dir.File("new.00.avi"), "old part");
  EXPECT_EQ(Parse({"-sf700M", dir.File("in.avi"), dir.File("new.avi")}).result.message, exists);
  EXPECT_EQ(Parse({dir.File("in.avi"), dir.File("new.avi")}).result.status, kRunJobs);

  // No part name can be formed from a name without a dot (the directory's
  // dots do not count).
  Parsed noDot = Parse({"-sf700M", dir.File("in.avi"), dir.File("plain")});
  EXPECT_EQ(noDot.result.status, kSplitNameUnformable);
  EXPECT_TRUE(noDot.jobs.empty());
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

  Parsed parsed = Parse({"-v3", dir.File("x.part.met")});
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
