#include "app/CommandLine.h"

#include <cctype>
#include <cstdlib>

#include "core/CIOService.h"
#include "core/DirectorySearch.h"
#include "core/PartialDownloadName.h"
#include "core/PathName.h"
#include "core/SplitName.h"

namespace {

const char kGeneralFailure[] = "General failure with your command line arguments.";
const char kNoFiles[] = "No files to process found.";
const char kSplitWithVerify[] = "Limiting file size and parsing output not supported.";
const char kOnlyMetFile[] = "Only give .part.met-File, name will be extracted.";
const char kMetUnreadable[] = "Could not read .part.met file, try .part-File and name.avi instead.";
const char kBatchNeedsDirectory[] =
    "If you want to batch convert (*? in source file name), then give only an existing "
    "destination directory, not a file name";
const char kIdenticalPaths[] = "Source and Destination Path is identical";
const char kDestinationExists[] = "Destination file already exists. Use -o switch to overwrite.";

// A switch without a value stands for "all bits set".
constexpr uint32_t kNoValue = 4294967295u;

constexpr uint64_t kMebi = 1048576;
constexpr uint64_t kMinSplitSize = kMebi;
constexpr uint64_t kMinMoviChunk = kMebi;
constexpr uint64_t kMaxMoviChunk = 8489266296ull;
constexpr uint32_t kMaxParallelJobs = 64;
constexpr double kMinFps = 1.0;
constexpr double kMaxFps = 100.0;

struct UsageLine {
  const char* text;
  bool extendedOnly;
};

const UsageLine kUsage[] = {
    {"Clipsmith: Usage: clipsmith -opt1 -opt2 ... filespec*.avi [out.avi]", false},
    {" -t####  Parsing Trace: #### Number of 'movi','indx','idx1'-Entries shown (15)", false},
    {" -tm#### Parsing Trace: #### Number of 'movi'-Entries shown", true},
    {" -ti#### Parsing Trace: #### Number of 'indx'-Entries shown", true},
    {" -tx#### Parsing Trace: #### Number of 'idx1'-Entries shown", true},
    {" -v[#]   Parsing Trace: Show 1:Parse/2:Dumps/3:Verbose/4,5,6:Debug (2)", false},
    {" -p####  Fastmode (only partial Parsing), Parse #### 'movi'-entries (all)", false},
    {" -c      Don't Check 'idx1'-and 'indx'-Entries against 'movi'-Entries (on)", false},
    {" -rx     Write out.avi with Version 1.0 'idx1' Index (off)", true},
    {" -ro     Write out.avi without Version 1.02 ODML Header or 'indx' Index (on)", true},
    {" -ri     Write out.avi but ignore source 'idx1' ordering (off)", true},
    {" -rs#### Write out.avi, Strip Stream ####", true},
    {" -xs#### Write out.avi, Start with Frame ####", true},
    {" -xe#### Write out.avi, End with Frame ####", true},
    {" -fv##.## Set this speed (frames per second) for Video", true},
    {" -fa      Fix Audio Scale for Length mismatch", true},
    {" -k      Create tight AVI without padding and shortened chunks (on)", true},
    {" -sf#### Write out.avi, Split File Size [M/G/m/g] (0)", false},
    {" -sm#### Write out.avi, 'movi'-Chunk Size [M/G/m/g] (1G)", false},
    {" -o      Overwrite out.avi File", false},
    {" -d      Verify out.avi File (Parse and Report)", true},
    {" -mr     Force parsing with Intel byte ordering, -mx with Network Byte Ordering (Apple)",
     false},
    {" -n      Handle Chunk Size Errors differently (Subchunk enforces parent size)", false},
    {" -e      Write the Report as one JSON Document (off)", false},
    {" -j####  Process #### Files at once, Reports in the given order (1)", false},
    {" -h      Show extended help", false},
    {"You can also convert a partially downloaded *.part file (name from *.part.met)", true},
};

char CharAt(const std::string& text, size_t index) {
  return index < text.size() ? text[index] : '\0';
}
char Lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }
bool IsUpper(char c) { return std::isupper(static_cast<unsigned char>(c)) != 0; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Decimal text to a number the way the C runtime's atol reads it (leading
// blanks, a sign, digits up to the first other character), but saturating
// instead of undefined on overflow. Switch fields keep the low 32 bits.
uint32_t DecimalValue(const std::string& text, size_t from) {
  if (from >= text.size()) return 0;
  return static_cast<uint32_t>(std::strtol(text.c_str() + from, nullptr, 10));
}

double FloatValue(const std::string& text, size_t from) {
  if (from >= text.size()) return 0.0;
  return std::strtod(text.c_str() + from, nullptr);
}

// Truncation toward zero without undefined behaviour for NaN, negative or
// out-of-range values.
uint64_t TruncateToU64(double value) {
  if (!(value > 0)) return 0;
  if (value >= 18446744073709551615.0) return ~static_cast<uint64_t>(0);
  return static_cast<uint64_t>(value);
}

uint64_t SizeMultiplier(char last) {
  switch (last) {
    case 'M': return kMebi;
    case 'G': return 1073741824ull;
    case 'm': return 1000000ull;
    case 'g': return 1000000000ull;
    default: return 1;
  }
}

bool EqualsIgnoreCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

bool StartsWithIgnoreCase(const std::string& text, const std::string& prefix) {
  return text.size() >= prefix.size() && EqualsIgnoreCase(text.substr(0, prefix.size()), prefix);
}

}  // namespace

std::vector<std::string> CommandLine::UsageText(bool extended) {
  std::vector<std::string> lines;
  for (const UsageLine& line : kUsage) {
    if (extended || !line.extendedOnly) lines.emplace_back(line.text);
  }
  return lines;
}

void CommandLine::Parse(const std::vector<std::string>& args, RunOptions& options,
                        std::vector<Job>& jobs, ParseResult& result) {
  result_ = ParseResult();
  sourceSpec_.clear();
  destination_.clear();
  sourceDirectory_.clear();
  fileNameCount_ = 0;
  write_ = overwrite_ = destinationIsDirectory_ = false;
  for (size_t i = 1; i < args.size() && result_.status == kRunJobs; ++i) {
    ScanArgument(args[i], options);
  }
  if (result_.status == kRunJobs) {
    if (options.writer.splitSize > 0 && options.writer.verifyOutput) {
      Fail(kSplitWithVerify);
    } else if (ResolveSource(options) && CheckFileNameCount() &&
               (!write_ || ExamineDestination())) {
      BuildJobs(options, jobs);
    }
  }
  if (result_.status != kRunJobs) jobs.clear();
  result = result_;
}

void CommandLine::Fail(const std::string& message) {
  result_.status = kShowMessage;
  result_.message = message;
}

void CommandLine::ScanArgument(const std::string& arg, RunOptions& options) {
  if (CharAt(arg, 0) == '-') {
    ScanSwitch(arg, options);
  } else {
    ScanFileName(arg);
  }
}

void CommandLine::ScanFileName(const std::string& arg) {
  if (fileNameCount_ == 0) {
    sourceSpec_ = arg;
  } else if (fileNameCount_ == 1) {
    destination_ = arg;
    write_ = true;
  } else {
    result_.status = kShowExtendedUsage;
    return;
  }
  ++fileNameCount_;
}

// The digits check: a fourth character that is a decimal digit.
bool CommandLine::DigitsCheck(const std::string& arg) {
  if (arg.size() >= 4 && IsDigit(arg[3])) return true;
  result_.status = kShowExtendedUsage;
  return false;
}

void CommandLine::ScanSwitch(const std::string& arg, RunOptions& options) {
  const char letter = Lower(CharAt(arg, 1));
  // The second letter of a switch is read as written ("-mI" is not "-mi"),
  // unless the switch is written in capitals ("-MI" is "-mi").
  char third = CharAt(arg, 2);
  if (IsUpper(CharAt(arg, 1))) third = Lower(third);
  const uint32_t value = arg.size() > 2 ? DecimalValue(arg, 2) : kNoValue;
  switch (letter) {
    case 'c':
      options.scan.checkIndexes = false;
      break;
    case 'd':
      options.writer.verifyOutput = true;
      break;
    case 'e':
      options.batch.json = true;
      break;
    case 'f': ScanFrameRate(arg, third, options); break;
    case 'h': result_.status = kShowExtendedUsage; break;
    case 'j':
      // A batch runs at most this many files at once.
      if (value < 1 || value > kMaxParallelJobs) {
        result_.status = kShowExtendedUsage;
      } else {
        options.batch.jobs = value;
      }
      break;
    case 'k':
      options.writer.tightAvi = true;
      break;
    case 'm': ScanByteOrder(arg, third, options); break;
    case 'n':
      options.scan.subchunkEnforcesParentSize = true;
      break;
    case 'o': overwrite_ = true; break;
    case 'p':
      options.scan.moviParseLimit = value;
      break;
    case 'q': ScanQuirk(arg, third, options); break;
    case 'r': ScanWriteSwitch(arg, Lower(third), options); break;
    case 's': ScanSize(arg, Lower(third), options); break;
    case 't': ScanTrace(arg, third, options); break;
    case 'v':
      options.report.verbosity = arg.size() > 2 ? value : 1;
      break;
    case 'x': ScanFrameRange(arg, Lower(third), options); break;
    default: result_.status = kShowExtendedUsage; break;
  }
}

// -fa fixes the audio scale, -fv##.## sets the video frame rate.
void CommandLine::ScanFrameRate(const std::string& arg, char third, RunOptions& options) {
  if (arg.size() < 3) result_.status = kShowExtendedUsage;
  if (third == 'a') {
    options.writer.fixAudioScale = true;
  } else if (third == 'v') {
    if (!IsDigit(CharAt(arg, 3))) result_.status = kShowExtendedUsage;
    options.writer.videoFps = FloatValue(arg, 3);
    if (!(options.writer.videoFps >= kMinFps && options.writer.videoFps < kMaxFps)) {
      result_.status = kShowExtendedUsage;
    }
  } else {
    result_.status = kShowExtendedUsage;
  }
}

// -mi (also spelt -mr, as the usage text names it) and -mx force little- or
// big-endian chunk parsing, -mt MPEG scanning.
void CommandLine::ScanByteOrder(const std::string& arg, char third, RunOptions& options) {
  if (arg.size() != 3) {
    result_.status = kShowExtendedUsage;
    return;
  }
  switch (third) {
    case 'i':
    case 'r':
      options.scan.byteOrder = ByteOrder::kLittle;
      break;
    case 'x':
      options.scan.byteOrder = ByteOrder::kBig;
      break;
    case 't':
      options.scan.byteOrder = ByteOrder::kMpegScan;
      break;
    default: result_.status = kShowExtendedUsage; break;
  }
}

void CommandLine::ScanQuirk(const std::string& arg, char third, RunOptions& options) {
  if (arg.size() <= 2) {
    result_.status = kShowExtendedUsage;
  } else if (third == '1') {
    options.writer.switchQ1 = true;
  } else if (third == '2') {
    options.scan.switchQ2 = true;
  } else {
    result_.status = kShowExtendedUsage;
  }
}

// -ri, -ro, -rx choose the indexes written, -rs#### strips a stream.
void CommandLine::ScanWriteSwitch(const std::string& arg, char third, RunOptions& options) {
  write_ = true;
  switch (third) {
    case 'i':
      options.writer.ignoreIdx1Order = true;
      break;
    case 'o':
      options.writer.writeOpenDml = false;
      break;
    case 'x':
      options.writer.writeIdx1 = true;
      break;
    case 's': {
      DigitsCheck(arg);
      long stream = arg.size() > 3 ? std::strtol(arg.c_str() + 3, nullptr, 0) : 0;
      options.writer.strippedStreams.insert(static_cast<uint16_t>(stream));
      break;
    }
    default: result_.status = kShowExtendedUsage; break;
  }
}

// -sf#### and -sm#### take a size with an optional unit letter: M and G are
// binary, m and g decimal.
void CommandLine::ScanSize(const std::string& arg, char third, RunOptions& options) {
  write_ = true;
  DigitsCheck(arg);
  const uint64_t size = TruncateToU64(FloatValue(arg, 3) * SizeMultiplier(arg.back()));
  if (third == 'f') {
    options.writer.splitSize = size;
    if (size < kMinSplitSize) result_.status = kShowExtendedUsage;
  } else if (third == 'm') {
    options.writer.moviChunkLimit = size;
    if (size < kMinMoviChunk || size > kMaxMoviChunk) result_.status = kShowExtendedUsage;
  } else {
    result_.status = kShowExtendedUsage;
  }
}

// -t#### sets all three trace limits, -tm/-ti/-tx#### one of them. Asking for
// a trace makes a silent run show the parse lines.
void CommandLine::ScanTrace(const std::string& arg, char third, RunOptions& options) {
  if (arg.size() < 2) {
    result_.status = kShowExtendedUsage;
    return;
  }
  if (options.report.verbosity == 0) options.report.verbosity = 1;
  if (IsDigit(third)) {
    const uint32_t limit = DecimalValue(arg, 2);
    options.report.moviTraceLimit = limit;
    options.report.idx1TraceLimit = limit;
    options.report.indxTraceLimit = limit;
    return;
  }
  DigitsCheck(arg);
  const uint32_t limit = DecimalValue(arg, 3);
  switch (Lower(third)) {
    case 'i':
      options.report.indxTraceLimit = limit;
      break;
    case 'm':
      options.report.moviTraceLimit = limit;
      break;
    case 'x':
      options.report.idx1TraceLimit = limit;
      break;
    default: result_.status = kShowExtendedUsage; break;
  }
}

// -xs#### and -xe#### cut the written frame range; -xi a writer quirk.
void CommandLine::ScanFrameRange(const std::string& arg, char third, RunOptions& options) {
  write_ = true;
  switch (third) {
    case 'e':
      DigitsCheck(arg);
      options.writer.lastFrame = DecimalValue(arg, 3);
      break;
    case 's':
      DigitsCheck(arg);
      options.writer.firstFrame = DecimalValue(arg, 3);
      break;
    case 'i':
      options.scan.switchXi = true;
      break;
    default: result_.status = kShowExtendedUsage; break;
  }
}

// Makes the source absolute and takes a partial download's metadata file in
// place of the data file: its stored name becomes the destination.
bool CommandLine::ResolveSource(const RunOptions& options) {
  while (!sourceSpec_.empty()) {
    std::string full;
    if (!PathName::FullPath(sourceSpec_, full)) {
      Fail(kGeneralFailure);
      return false;
    }
    const PathParts parts = PathName::Split(full);
    sourceDirectory_ = parts.drive + parts.directory;
    if (!EqualsIgnoreCase(parts.extension, ".met")) return true;
    if (fileNameCount_ != 1) {
      Fail(kOnlyMetFile);
      return false;
    }
    CIOService io(options, output_);
    std::string name;
    if (!PartialDownloadName::Read(io, full, name)) {
      Fail(kMetUnreadable);
      return false;
    }
    sourceSpec_.erase(sourceSpec_.size() - 4);
    destination_ = name;
    fileNameCount_ = 2;
    write_ = true;
  }
  return true;
}

bool CommandLine::CheckFileNameCount() {
  if (fileNameCount_ == 0 && !write_) {
    Fail(kNoFiles);
    return false;
  }
  if (fileNameCount_ != (write_ ? 2u : 1u)) {
    Fail(kGeneralFailure);
    return false;
  }
  return true;
}

bool CommandLine::ExamineDestination() {
  if (destination_.size() > 1 && destination_.back() == '/') destination_.pop_back();
  if (destination_.empty()) {
    Fail(kGeneralFailure);
    return false;
  }
  const PathKind kind = PathName::Kind(destination_);
  if (DirectorySearch::HasWildcards(sourceSpec_) && kind != PathKind::Directory) {
    Fail(kBatchNeedsDirectory);
    return false;
  }
  if (kind == PathKind::Directory) {
    if (destination_.back() != '/') destination_ += '/';
    destinationIsDirectory_ = true;
    if (StartsWithIgnoreCase(sourceSpec_, destination_)) {
      Fail(kIdenticalPaths);
      return false;
    }
  }
  return true;
}

void CommandLine::BuildJobs(const RunOptions& options, std::vector<Job>& jobs) {
  std::vector<DirectoryEntry> entries;
  if (!DirectorySearch::Find(sourceSpec_, entries)) {
    Fail(kNoFiles);
    return;
  }
  for (const DirectoryEntry& entry : entries) {
    // Only regular files: a directory cannot be parsed and a FIFO or device
    // would block or never end.
    if (entry.name == "." || entry.name == ".." || entry.isDirectory || !entry.isRegularFile) {
      continue;
    }
    if (!AddJob(entry.name, options, jobs)) return;
  }
}

bool CommandLine::AddJob(const std::string& entryName, const RunOptions& options,
                         std::vector<Job>& jobs) {
  std::string source;
  if (!PathName::FullPath(sourceDirectory_ + entryName, source)) {
    Fail(kGeneralFailure);
    return false;
  }
  if (!write_) {
    jobs.push_back({source, std::string()});
    return true;
  }
  const std::string output = destinationIsDirectory_ ? destination_ + entryName : destination_;
  if (!overwrite_) {
    // A split output starts with part 00; that is the file that would be lost.
    std::string tested = output;
    if (options.writer.splitSize > 0 && !SplitName::Make(output, 0, tested)) {
      result_.status = kSplitNameUnformable;
      return false;
    }
    if (PathName::Kind(tested) != PathKind::Absent) {
      Fail(kDestinationExists);
      return false;
    }
  }
  jobs.push_back({source, output});
  if (options.writer.verifyOutput) jobs.push_back({output, std::string()});
  return true;
}
