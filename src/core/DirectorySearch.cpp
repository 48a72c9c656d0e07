#include "core/DirectorySearch.h"

#include <algorithm>
#include <dirent.h>
#include <sys/stat.h>

namespace {

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// The length of the character starting at `pos`: a UTF-8 lead byte takes its
// continuation bytes along, so that '?' stands for one character, not one byte.
size_t CharacterLength(const std::string& text, size_t pos) {
  size_t length = 1;
  const unsigned char lead = static_cast<unsigned char>(text[pos]);
  if (lead >= 0xC0) {
    while (pos + length < text.size() &&
           (static_cast<unsigned char>(text[pos + length]) & 0xC0) == 0x80 && length < 4) {
      ++length;
    }
  }
  return length;
}

int CompareIgnoringCase(const std::string& a, const std::string& b) {
  const size_t common = std::min(a.size(), b.size());
  for (size_t i = 0; i < common; ++i) {
    const unsigned char x = static_cast<unsigned char>(LowerAscii(a[i]));
    const unsigned char y = static_cast<unsigned char>(LowerAscii(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

DirectoryEntry DescribeEntry(const std::string& directory, const std::string& name) {
  DirectoryEntry entry;
  entry.name = name;
  struct stat info;
  if (::stat((directory + name).c_str(), &info) == 0) {
    entry.isDirectory = S_ISDIR(info.st_mode);
    entry.isRegularFile = S_ISREG(info.st_mode);
  }
  return entry;
}

}  // namespace

bool DirectorySearch::HasWildcards(const std::string& text) {
  return text.find_first_of("*?") != std::string::npos;
}

bool DirectorySearch::WildcardMatch(const std::string& pattern, const std::string& name) {
  // Greedy matching with one backtrack point: the last '*' seen and the name
  // position it was tried at. Linear in practice, never exponential.
  size_t p = 0;
  size_t n = 0;
  size_t starPattern = std::string::npos;
  size_t starName = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      starPattern = p++;
      starName = n;
    } else if (p < pattern.size() && pattern[p] == '?') {
      ++p;
      n += CharacterLength(name, n);
    } else if (p < pattern.size() && LowerAscii(pattern[p]) == LowerAscii(name[n])) {
      ++p;
      ++n;
    } else if (starPattern != std::string::npos) {
      p = starPattern + 1;
      starName += CharacterLength(name, starName);
      n = starName;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

bool DirectorySearch::Find(const std::string& filePattern, std::vector<DirectoryEntry>& entries) {
  entries.clear();
  const size_t slash = filePattern.rfind('/');
  const std::string directory = slash == std::string::npos ? "" : filePattern.substr(0, slash + 1);
  const std::string pattern = filePattern.substr(directory.size());
  if (pattern.empty()) return false;

  if (!HasWildcards(pattern)) {
    struct stat info;
    if (::stat(filePattern.c_str(), &info) != 0) return false;
    entries.push_back(DescribeEntry(directory, pattern));
    return true;
  }

  DIR* listing = ::opendir(directory.empty() ? "." : directory.c_str());
  if (!listing) return false;
  while (const dirent* item = ::readdir(listing)) {
    const std::string name = item->d_name;
    if (name == "." || name == "..") continue;
    if (WildcardMatch(pattern, name)) entries.push_back(DescribeEntry(directory, name));
  }
  ::closedir(listing);
  // Names are matched without regard to ASCII case, and listed the same way;
  // names that differ only in case keep a fixed (byte) order.
  std::sort(entries.begin(), entries.end(), [](const DirectoryEntry& a, const DirectoryEntry& b) {
    const int order = CompareIgnoringCase(a.name, b.name);
    return order != 0 ? order < 0 : a.name < b.name;
  });
  return !entries.empty();
}
