#pragma once
// Helpers shared by the parser tests: byte builders for RIFF, RIFX and IFF
// chunk trees, a scratch directory that removes itself, and a parser run over
// a file with its report captured line by line.

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
// The characters of `text`, without a terminator.
Bytes TextBytes(const std::string& text);
Bytes Le16(uint16_t value);
Bytes Le32(uint32_t value);
Bytes Be32(uint32_t value);

// Little-endian bytes of a chunk body, built field by field.
struct BodyBuilder {
  Bytes data;
  BodyBuilder& U8(uint8_t v) {
    data.push_back(v);
    return *this;
  }
  BodyBuilder& U16(uint16_t v) {
    return U8(static_cast<uint8_t>(v)).U8(static_cast<uint8_t>(v >> 8));
  }
  BodyBuilder& U32(uint32_t v) {
    return U16(static_cast<uint16_t>(v)).U16(static_cast<uint16_t>(v >> 16));
  }
  BodyBuilder& Tag(const char (&t)[5]) {
    for (int i = 0; i < 4; ++i) U8(static_cast<uint8_t>(t[i]));
    return *this;
  }
  BodyBuilder& Zeros(size_t n) {
    data.insert(data.end(), n, 0);
    return *this;
  }
};

// A parser with no file of its own, for driving dumps of bodies held in
// memory; its report goes wherever the ReportOutput points.
class MemoryParser : public CParser {
 public:
  MemoryParser(RunOptions options, ReportOutput& output) : CParser(std::move(options), output) {}
  bool Parse(const std::string&, const std::string&) override { return true; }
};

// Builds chunks in one of the three layouts: RIFF (little-endian sizes, pad
// byte after an odd body), RIFX (big-endian, padded) and IFF (big-endian, no
// pad bytes).
class ChunkBuilder {
 public:
  enum class Layout { Riff, Rifx, Iff };

  explicit ChunkBuilder(Layout layout = Layout::Riff) : layout_(layout) {}

  // A size word in the layout's byte order.
  Bytes Size(uint32_t size) const;
  // Id (padded with blanks to 4 characters), size of the payload, payload,
  // and the pad byte where the layout has one.
  Bytes Chunk(const std::string& id, const Bytes& payload) const;
  // The same with a declared size that need not match the payload.
  Bytes ChunkWithSize(const std::string& id, uint32_t declaredSize, const Bytes& payload) const;
  // `LIST` with its type and the children's bytes.
  Bytes List(const std::string& type, const std::vector<Bytes>& children) const;
  // The top-level form: `RIFF`, `RIFX` or `FORM` by layout.
  Bytes Riff(const std::string& form, const std::vector<Bytes>& children) const;
  // Any list-like chunk: token, type, children.
  Bytes Container(const std::string& token, const std::string& type,
                  const std::vector<Bytes>& children) const;

 private:
  Layout layout_;
};

// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  // The directory with a trailing '/'.
  std::string Path() const { return path_.string() + "/"; }
  std::string File(const std::string& name) const;
  // Writes `bytes` to a file of that name and returns its path.
  std::string Write(const std::string& name, const Bytes& bytes) const;

 private:
  std::filesystem::path path_;
};

std::vector<std::string> SplitLines(const std::string& text);

// A line without its leading blanks, and the number of them.
std::string Trimmed(const std::string& line);
size_t Indent(const std::string& line);

// Whether some line holds `text`.
bool HasText(const std::vector<std::string>& lines, const std::string& text);
// How many lines hold `text`.
size_t CountText(const std::vector<std::string>& lines, const std::string& text);
// Expects each of `present` in some line and none of `absent` in any.
void ExpectTexts(const std::vector<std::string>& lines, const std::vector<std::string>& present,
                 const std::vector<std::string>& absent = {});
// Expects lines holding each of `texts` in that order, other lines between
// them allowed.
void ExpectInOrder(const std::vector<std::string>& lines, const std::vector<std::string>& texts);
// The report lines that carry a message ("*** ...").
std::vector<std::string> MessageLines(const std::vector<std::string>& lines);

// Whether a program of that name is installed (tests of real producers skip
// without it).
bool Installed(const std::string& tool);

// Reading the bytes of a file, and little-endian values and four-character
// tokens in them (0 or "" beyond the end).
Bytes ReadFile(const std::string& path);
uint32_t U32At(const Bytes& bytes, uint64_t offset);
uint16_t U16At(const Bytes& bytes, uint64_t offset);
std::string TokenAt(const Bytes& bytes, uint64_t offset);
// Offset of the first occurrence of the four characters at or after `from`,
// or -1.
int64_t FindToken(const Bytes& bytes, const std::string& token, uint64_t from = 0);

// When CLIPSMITH_SEED_DIR names a directory, every file a test builds is
// also kept there under a name taken from its contents: `make fuzz` runs the
// suite that way so that the damaged files the tests make seed the fuzzer.
void KeepAsFuzzSeed(const Bytes& bytes);

// The outcome of one parse: Parse's result and the report lines. Line 0 is
// the source path (it names the scratch directory); `Body()` leaves it out.
struct ParseRun {
  bool result = false;
  std::vector<std::string> lines;
  std::string errors;  // what went to standard error

  std::vector<std::string> Body() const {
    return lines.empty() ? lines : std::vector<std::string>(lines.begin() + 1, lines.end());
  }
};

// Runs `Parser` over the file at `path`; `inspect` sees the parser after the
// parse, before it is destroyed.
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
  run.errors = err.str();
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
