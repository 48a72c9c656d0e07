#pragma once
// Helpers shared by the tests: byte builders for RIFF, RIFX and IFF chunk
// trees, a self-removing scratch directory, and a parser run over a file.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "core/CParser.h"
#include "core/ReportOutput.h"
#include "core/RunOptions.h"

namespace testsupport {

using Bytes = std::vector<uint8_t>;

Bytes Concat(const std::vector<Bytes>& parts);
Bytes TextBytes(const std::string& text);
Bytes Le16(uint16_t value);
Bytes Le32(uint32_t value);
Bytes Le64(uint64_t value);
Bytes Be16(uint16_t value);
Bytes Be32(uint32_t value);
Bytes Be64(uint64_t value);

// Little-endian bytes of a chunk body, built field by field.
struct BodyBuilder {
  Bytes data;
  BodyBuilder& U8(uint8_t v) { return Zeros(1).Set(data.size() - 1, v); }
  BodyBuilder& U16(uint16_t v) { return U8(uint8_t(v)).U8(uint8_t(v >> 8)); }
  BodyBuilder& U32(uint32_t v) { return U16(uint16_t(v)).U16(uint16_t(v >> 16)); }
  BodyBuilder& Tag(const char (&t)[5]) {
    data.insert(data.end(), t, t + 4);
    return *this;
  }
  BodyBuilder& Zeros(size_t n) {
    data.resize(data.size() + n);
    return *this;
  }
  BodyBuilder& Set(size_t at, uint8_t v) {
    data.at(at) = v;
    return *this;
  }
};

// A parser with no file of its own, for driving dumps of bodies in memory.
class MemoryParser : public CParser {
 public:
  MemoryParser(RunOptions options, ReportOutput& output) : CParser(std::move(options), output) {}
  bool Parse(const std::string&, const std::string&) override { return true; }
};

// Chunks in RIFF (little-endian sizes, pad byte after an odd body), RIFX
// (big-endian, padded) or IFF (big-endian, no pad bytes) layout.
class ChunkBuilder {
 public:
  enum class Layout { Riff, Rifx, Iff };

  explicit ChunkBuilder(Layout layout = Layout::Riff) : layout_(layout) {}

  Bytes Size(uint32_t size) const;  // in the layout's byte order
  // Id (blank-padded to 4), payload size, payload, pad byte where due.
  Bytes Chunk(const std::string& id, const Bytes& payload) const;
  Bytes ChunkWithSize(const std::string& id, uint32_t declaredSize, const Bytes& payload) const;
  Bytes List(const std::string& type, const std::vector<Bytes>& children) const;
  // The top-level form: `RIFF`, `RIFX` or `FORM` by layout.
  Bytes Riff(const std::string& form, const std::vector<Bytes>& children) const;
  Bytes Container(const std::string& token, const std::string& type,
                  const std::vector<Bytes>& children) const;

 private:
  Layout layout_;
};

// A fresh temporary directory, removed with its contents when the object goes.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  // The directory with a trailing '/'.
  std::string Path() const { return path_.string() + "/"; }
  std::string File(const std::string& name) const;
  // Writes `bytes` there and returns the file's path.
  std::string Write(const std::string& name, const Bytes& bytes) const;

 private:
  std::filesystem::path path_;
};

std::vector<std::string> SplitLines(const std::string& text);
std::vector<std::string> Words(const std::string& text);  // split at blanks

std::string Trimmed(const std::string& line);  // without leading blanks
size_t Indent(const std::string& line);        // the number of leading blanks
bool HasText(const std::vector<std::string>& lines, const std::string& text);
size_t CountText(const std::vector<std::string>& lines, const std::string& text);
// Expects each of `present` in some line and none of `absent` in any.
void ExpectTexts(const std::vector<std::string>& lines, const std::vector<std::string>& present,
                 const std::vector<std::string>& absent = {});
// Expects lines holding each of `texts` in that order, others between allowed.
void ExpectInOrder(const std::vector<std::string>& lines, const std::vector<std::string>& texts);
// The report lines that carry a message ("*** ...").
std::vector<std::string> MessageLines(const std::vector<std::string>& lines);
// Expects as many message lines as `expected` texts, each holding the text
// of the same place.
void ExpectMessages(const std::vector<std::string>& lines,
                    const std::vector<std::string>& expected);
bool Installed(const std::string& tool);  // tests of real producers skip without it
// What a shell command prints on standard output and standard error.
std::string RunCommand(const std::string& command);

// A file's bytes, and little-endian values and four-character tokens in
// them (0 or "" beyond the end); FindToken gives -1 when there is none.
Bytes ReadFile(const std::string& path);
uint32_t U32At(const Bytes& bytes, uint64_t offset);
uint16_t U16At(const Bytes& bytes, uint64_t offset);
std::string TokenAt(const Bytes& bytes, uint64_t offset);
int64_t FindToken(const Bytes& bytes, const std::string& token, uint64_t from = 0);

// With CLIPSMITH_SEED_DIR set, every file a test builds is also kept there
// (named by a hash of its contents) to seed the fuzzer.
void KeepAsFuzzSeed(const Bytes& bytes);

// Parse's result and the report lines; `Body()` leaves out line 0, the path.
struct ParseRun {
  bool result = false;
  std::vector<std::string> lines;

  std::vector<std::string> Body() const {
    return lines.empty() ? lines : std::vector<std::string>(lines.begin() + 1, lines.end());
  }
};

// Expects the messages of `expected` (as ExpectMessages) and `verdict` as
// the run's last line.
void ExpectVerdict(const ParseRun& run, const std::string& verdict,
                   const std::vector<std::string>& expected);

// Runs `Parser` over `path`; `inspect` sees the parser after the parse.
template <typename Parser>
ParseRun RunParserOnFile(const std::string& path, const RunOptions& options = RunOptions(),
                         const std::function<void(Parser&)>& inspect = nullptr,
                         const std::string& outputPath = std::string()) {
  std::ostringstream out;
  std::ostringstream err;
  ParseRun run;
  {
    ReportOutput output(out, err, ConsoleState());
    Parser parser(options, output);
    run.result = parser.Parse(path, outputPath);
    if (inspect) inspect(parser);
    output.Flush();
  }
  run.lines = SplitLines(out.str());
  return run;
}

// Writes `bytes` to a scratch file named `name` and runs `Parser` over it.
template <typename Parser>
ParseRun RunParserOnBytes(const Bytes& bytes, const RunOptions& options = RunOptions(),
                          const std::function<void(Parser&)>& inspect = nullptr,
                          const std::string& name = "sample.riff") {
  ScratchDir dir;
  return RunParserOnFile<Parser>(dir.Write(name, bytes), options, inspect);
}

}  // namespace testsupport
