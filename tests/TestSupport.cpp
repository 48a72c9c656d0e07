#include "TestSupport.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>

namespace testsupport {

Bytes Concat(const std::vector<Bytes>& parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

Bytes TextBytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

Bytes Le16(uint16_t value) { return BodyBuilder().U16(value).data; }
Bytes Le32(uint32_t value) { return BodyBuilder().U32(value).data; }
Bytes Le64(uint64_t value) { return Concat({Le32(uint32_t(value)), Le32(uint32_t(value >> 32))}); }
Bytes Be16(uint16_t value) { return {uint8_t(value >> 8), uint8_t(value)}; }
Bytes Be32(uint32_t value) { return Concat({Be16(uint16_t(value >> 16)), Be16(uint16_t(value))}); }
Bytes Be64(uint64_t value) { return Concat({Be32(uint32_t(value >> 32)), Be32(uint32_t(value))}); }

bool Installed(const std::string& tool) {
  return ::access(("/usr/bin/" + tool).c_str(), X_OK) == 0;
}

Bytes ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

uint16_t U16At(const Bytes& bytes, uint64_t offset) {
  if (offset + 2 > bytes.size()) return 0;
  return static_cast<uint16_t>(bytes[offset] | bytes[offset + 1] << 8);
}

uint32_t U32At(const Bytes& bytes, uint64_t offset) {
  if (offset + 4 > bytes.size()) return 0;
  return U16At(bytes, offset) | static_cast<uint32_t>(U16At(bytes, offset + 2)) << 16;
}

std::string TokenAt(const Bytes& bytes, uint64_t offset) {
  if (offset + 4 > bytes.size()) return "";
  return std::string(bytes.begin() + static_cast<std::ptrdiff_t>(offset),
                     bytes.begin() + static_cast<std::ptrdiff_t>(offset + 4));
}

int64_t FindToken(const Bytes& bytes, const std::string& token, uint64_t from) {
  for (uint64_t at = from; at + 4 <= bytes.size(); ++at) {
    if (TokenAt(bytes, at) == token) return static_cast<int64_t>(at);
  }
  return -1;
}

static Bytes Id(const std::string& id) { return TextBytes((id + "    ").substr(0, 4)); }

Bytes ChunkBuilder::Size(uint32_t size) const {
  const Bytes le = Le32(size);
  return layout_ == Layout::Riff ? le : Bytes(le.rbegin(), le.rend());
}

Bytes ChunkBuilder::Chunk(const std::string& id, const Bytes& payload) const {
  return ChunkWithSize(id, static_cast<uint32_t>(payload.size()), payload);
}

Bytes ChunkBuilder::ChunkWithSize(const std::string& id, uint32_t declaredSize,
                                  const Bytes& payload) const {
  Bytes bytes = Concat({Id(id), Size(declaredSize), payload});
  if (layout_ != Layout::Iff && payload.size() % 2 != 0) bytes.push_back(0);
  return bytes;
}

Bytes ChunkBuilder::Container(const std::string& token, const std::string& type,
                              const std::vector<Bytes>& children) const {
  Bytes body = Id(type);
  for (const Bytes& child : children) body.insert(body.end(), child.begin(), child.end());
  return Chunk(token, body);
}

Bytes ChunkBuilder::List(const std::string& type, const std::vector<Bytes>& children) const {
  return Container("LIST", type, children);
}

Bytes ChunkBuilder::Riff(const std::string& form, const std::vector<Bytes>& children) const {
  const char* token = layout_ == Layout::Riff ? "RIFF" : layout_ == Layout::Rifx ? "RIFX" : "FORM";
  return Container(token, form, children);
}

ScratchDir::ScratchDir() {
  static int serial = 0;
  path_ = std::filesystem::temp_directory_path() /
          ("clipsmith-test-" + std::to_string(::getpid()) + "-" + std::to_string(++serial));
  std::filesystem::remove_all(path_);
  std::filesystem::create_directories(path_);
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string ScratchDir::File(const std::string& name) const { return (path_ / name).string(); }

static void WriteAll(const std::filesystem::path& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

std::string ScratchDir::Write(const std::string& name, const Bytes& bytes) const {
  KeepAsFuzzSeed(bytes);
  WriteAll(File(name), bytes);
  return File(name);
}

void KeepAsFuzzSeed(const Bytes& bytes) {
  const char* dir = std::getenv("CLIPSMITH_SEED_DIR");
  if (dir == nullptr || *dir == '\0' || bytes.empty()) return;
  // FNV-1a over the bytes: the same file built twice is kept once.
  uint64_t hash = 14695981039346656037ull;
  for (uint8_t byte : bytes) hash = (hash ^ byte) * 1099511628211ull;
  char name[32];
  std::snprintf(name, sizeof name, "seed-%016llx", static_cast<unsigned long long>(hash));
  WriteAll(std::filesystem::path(dir) / name, bytes);
}

std::vector<std::string> Words(const std::string& text) {
  std::istringstream stream(text);
  return std::vector<std::string>(std::istream_iterator<std::string>(stream), {});
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  std::string line;
  while (std::getline(stream, line)) lines.push_back(line);
  return lines;
}

size_t Indent(const std::string& line) {
  const size_t first = line.find_first_not_of(' ');
  return first == std::string::npos ? line.size() : first;
}

std::string Trimmed(const std::string& line) { return line.substr(Indent(line)); }

bool HasText(const std::vector<std::string>& lines, const std::string& text) {
  return CountText(lines, text) > 0;
}

size_t CountText(const std::vector<std::string>& lines, const std::string& text) {
  size_t count = 0;
  for (const std::string& line : lines) count += line.find(text) != std::string::npos;
  return count;
}

void ExpectTexts(const std::vector<std::string>& lines, const std::vector<std::string>& present,
                 const std::vector<std::string>& absent) {
  for (const std::string& text : present) EXPECT_TRUE(HasText(lines, text)) << "missing: " << text;
  for (const std::string& text : absent) EXPECT_FALSE(HasText(lines, text)) << "unwanted: " << text;
}

void ExpectInOrder(const std::vector<std::string>& lines, const std::vector<std::string>& texts) {
  auto line = lines.begin();
  for (const std::string& text : texts) {
    line = std::find_if(line, lines.end(),
                        [&](const std::string& l) { return l.find(text) != std::string::npos; });
    if (line == lines.end()) {
      ADD_FAILURE() << "not found in order: " << text;
      return;
    }
    ++line;
  }
}

void ExpectMessages(const std::vector<std::string>& lines,
                    const std::vector<std::string>& expected) {
  const std::vector<std::string> messages = MessageLines(lines);
  ASSERT_EQ(expected.size(), messages.size()) << ::testing::PrintToString(messages);
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_NE(std::string::npos, messages[i].find(expected[i])) << messages[i];
  }
}

void ExpectVerdict(const ParseRun& run, const std::string& verdict,
                   const std::vector<std::string>& expected) {
  ExpectMessages(run.lines, expected);
  ASSERT_FALSE(run.lines.empty());
  EXPECT_EQ(verdict, Trimmed(run.lines.back()));
}

std::string RunCommand(const std::string& command) {
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen((command + " 2>&1").c_str(), "r"), ::pclose);
  std::string text;
  if (!pipe) return "popen failed";
  char buffer[4096];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, pipe.get())) > 0) text.append(buffer, got);
  return text;
}

std::vector<std::string> MessageLines(const std::vector<std::string>& lines) {
  std::vector<std::string> messages;
  std::copy_if(lines.begin(), lines.end(), std::back_inserter(messages),
               [](const std::string& line) { return line.find("*** ") != std::string::npos; });
  return messages;
}

}  // namespace testsupport
