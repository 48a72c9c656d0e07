#pragma once
// Lists the directory entries that match a file name pattern whose last
// component may hold the wildcards * and ? (matched case-insensitively for
// ASCII, as on the file systems media files usually come from). Results are
// sorted by name, ignoring ASCII case.

#include <string>
#include <vector>

struct DirectoryEntry {
  std::string name;          // the entry's name, without directory
  bool isDirectory = false;
  bool isRegularFile = false;
};

class DirectorySearch {
 public:
  // False when nothing matches (or the directory cannot be read).
  static bool Find(const std::string& filePattern, std::vector<DirectoryEntry>& entries);
  static bool WildcardMatch(const std::string& pattern, const std::string& name);
  static bool HasWildcards(const std::string& text);
};
