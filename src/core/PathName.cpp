#include "core/PathName.h"

#include <cerrno>
#include <climits>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

bool CurrentDirectory(std::string& directory) {
  std::vector<char> buffer(PATH_MAX + 1);
  if (!::getcwd(buffer.data(), buffer.size())) return false;
  directory = buffer.data();
  return true;
}

// Removes "." and empty components and resolves ".." against the component
// before it (".." at the root stays at the root), as a purely textual step:
// symbolic links are not looked at.
std::string Normalise(const std::string& absolute) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= absolute.size()) {
    size_t end = absolute.find('/', start);
    if (end == std::string::npos) end = absolute.size();
    const std::string part = absolute.substr(start, end - start);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    start = end + 1;
  }
  std::string result;
  for (const std::string& part : parts) result += "/" + part;
  return result.empty() ? "/" : result;
}

}  // namespace

bool PathName::FullPath(const std::string& path, std::string& full) {
  std::string absolute;
  if (!path.empty() && path[0] == '/') {
    absolute = path;
  } else {
    if (!CurrentDirectory(absolute)) return false;
    absolute += "/" + path;
  }
  std::string result = Normalise(absolute);
  // A trailing '/' marks a directory; it is kept so that callers can tell.
  if (!path.empty() && path.back() == '/' && result != "/") result += '/';
  // PATH_MAX counts the terminating NUL.
  if (result.size() >= PATH_MAX) return false;
  full = result;
  return true;
}

PathParts PathName::Split(const std::string& path) {
  PathParts parts;
  const size_t slash = path.rfind('/');
  const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
  parts.directory = path.substr(0, nameStart);
  const std::string file = path.substr(nameStart);
  const size_t dot = file.rfind('.');
  if (dot == std::string::npos || file == "." || file == "..") {
    parts.name = file;
  } else {
    parts.name = file.substr(0, dot);
    parts.extension = file.substr(dot);
  }
  return parts;
}

PathKind PathName::Kind(const std::string& path) {
  struct stat info;
  if (path.empty() || ::stat(path.c_str(), &info) != 0) {
    return (path.empty() || errno == ENOENT || errno == ENOTDIR) ? PathKind::Absent : PathKind::Other;
  }
  if (S_ISREG(info.st_mode)) return PathKind::File;
  if (S_ISDIR(info.st_mode)) return PathKind::Directory;
  return PathKind::Other;
}

std::string PathName::FileName(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}
