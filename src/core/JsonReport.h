#pragma once
// The report of one file as a JSON object, written as the report goes: the
// lines of the text report become nodes of a tree (a line is a child of the
// last line above it that is indented less), each with what it shows as
// members (a chunk's id, size, position and description; a field's offset,
// label, value and note; a message's level, text and the path of the nodes
// it stands under). Nothing but the chain of open nodes is kept, so a file
// traced whole takes no more memory than its text report.
//
// A run's document is {"program", "version", "files": [...], "totals"}; the
// driver writes that frame around the file objects (DocumentStart, the files
// separated by commas, DocumentEnd).

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

class JsonReport {
 public:
  // One member of a node: its key and its value, already JSON.
  struct Member {
    const char* key;
    std::string json;
  };

  // How the job went, written behind the tree.
  struct FileSummary {
    const char* parser = nullptr;  // the format that read the file; null for none
    uint64_t size = 0;
    bool failed = false;
  };

  // One line of the AVI chunk table: the chunks of one id of one stream.
  struct ChunkCounts {
    uint32_t stream = 0;
    std::string id;
    uint64_t movi = 0, dropped = 0, idx1 = 0, keyFrames = 0, odml = 0;
  };

  explicit JsonReport(std::ostream& out) : out_(out) {}

  void BeginFile(const std::string& path);
  // A node at `depth` (1 for the lines right under the file) of `kind`.
  void Node(int depth, const char* kind, const std::vector<Member>& members);
  // `level` is the report's message level (0 none, 1 Info ... 4 Fatal).
  void Message(int depth, int level, const std::string& text);
  void Verdict(const std::string& text) { verdict_ = text; }
  void Counts(const ChunkCounts& counts) { counts_.push_back(counts); }
  // Closes the tree and writes the verdict, the outcome, the message counts
  // and the chunk table.
  void EndFile(const FileSummary& summary);
  // The depth of the newest open node, 0 when none is open.
  int Depth() const { return open_.empty() ? 0 : open_.back().depth; }

  // JSON values.
  static std::string Text(std::string_view text);
  static std::string Number(uint64_t value) { return std::to_string(value); }
  static std::string Bool(bool value) { return value ? "true" : "false"; }

  // The frame around the file objects, which are separated by commas.
  static std::string DocumentStart(const std::string& program, const std::string& version);
  static std::string DocumentEnd(uint64_t files, uint64_t size, double seconds);

 private:
  struct Open {
    int depth;
    bool hasChildren;
    std::string label;  // what a message's path names it by (JSON text)
  };

  void CloseTo(int depth);
  void CloseOne();

  std::ostream& out_;
  std::vector<Open> open_;
  bool firstRoot_ = true;
  std::string verdict_;
  std::vector<ChunkCounts> counts_;
  uint64_t messages_[5] = {};  // by level: none, Info, Warning, Error, Fatal
};
