#pragma once
// Path services with '/' as the separator. The drive part of a path is always
// empty on this host.

#include <string>

struct PathParts {
  std::string drive;      // always empty here
  std::string directory;  // with its trailing '/'
  std::string name;       // file name without extension
  std::string extension;  // from the last '.' of the file name, with the dot
};

enum class PathKind { Absent, File, Directory, Other };

class PathName {
 public:
  // The absolute form of `path` (lexically normalised, links not resolved).
  // False when the result would exceed the host's path limit.
  static bool FullPath(const std::string& path, std::string& full);
  static PathParts Split(const std::string& path);
  static PathKind Kind(const std::string& path);
  // The file name part of a path (after the last '/').
  static std::string FileName(const std::string& path);
};
