#pragma once
// The name of the finished file of a partial download. A download in progress
// is a data file "x.part" beside a metadata file "x.part.met"; the metadata
// holds, among its tags, the file name the download will get.

#include <string>

#include "core/CIOService.h"

class PartialDownloadName {
 public:
  // Longest string tag value accepted; longer values make the read fail.
  static constexpr size_t kMaxValueLength = 4096;

  // `path` names the ".part" data file or its ".part.met" file. On success
  // `name` holds the stored file name, which is accepted only when it is a
  // plain file name (no directory part, not "." or "..", no NUL byte).
  // Failures print nothing but the host's text for an open or read error.
  static bool Read(CIOService& io, const std::string& path, std::string& name);

  static bool IsPlainFileName(const std::string& name);
};
