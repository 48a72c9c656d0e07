#include "core/PartialDownloadName.h"

#include <cstdint>
#include <vector>

#include "core/PathName.h"

namespace {

// The metadata record: version byte, date, file hash, the part hashes, then
// a list of typed tags. All integers are little-endian.
constexpr uint8_t kMetVersion = 0xE0;
constexpr uint64_t kDateSize = 4;
constexpr uint64_t kHashSize = 16;
constexpr uint8_t kStringTag = 2;
constexpr uint8_t kIntegerTag = 3;
constexpr char kFileNameTag = 0x01;

// Sequential reads of the metadata file that never ask for more than the file
// still holds, so a count or length from the file cannot drive a read, an
// allocation or a loop past its end.
class MetFileReader {
 public:
  MetFileReader(CIOService& io, FileRecord& record, uint64_t size)
      : io_(io), record_(record), remaining_(size) {}

  bool Bytes(void* dest, uint64_t count) {
    if (count > remaining_) return false;
    if (!io_.Read(record_, dest, count)) return false;
    remaining_ -= count;
    return true;
  }
  bool Skip(uint64_t count) {
    if (count > remaining_) return false;
    uint8_t scratch[256];
    while (count > 0) {
      uint64_t step = count < sizeof scratch ? count : sizeof scratch;
      if (!Bytes(scratch, step)) return false;
      count -= step;
    }
    return true;
  }
  bool U8(uint8_t& value) { return Bytes(&value, 1); }
  bool U16(uint16_t& value) {
    uint8_t b[2];
    if (!Bytes(b, 2)) return false;
    value = static_cast<uint16_t>(b[0] | b[1] << 8);
    return true;
  }
  bool U32(uint32_t& value) {
    uint8_t b[4];
    if (!Bytes(b, 4)) return false;
    value = static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 |
            static_cast<uint32_t>(b[2]) << 16 | static_cast<uint32_t>(b[3]) << 24;
    return true;
  }
  bool Text(uint64_t length, std::string& text) {
    if (length > remaining_) return false;
    text.assign(static_cast<size_t>(length), '\0');
    return length == 0 || Bytes(&text[0], length);
  }

 private:
  CIOService& io_;
  FileRecord& record_;
  uint64_t remaining_;
};

std::string MetPath(const std::string& path) {
  if (PathName::Split(path).extension == ".part") return path + ".met";
  return path;
}

bool SkipHeader(MetFileReader& reader) {
  uint8_t version = 0;
  if (!reader.U8(version) || version != kMetVersion) return false;
  if (!reader.Skip(kDateSize + kHashSize)) return false;
  uint16_t partHashes = 0;
  if (!reader.U16(partHashes)) return false;
  int16_t count = static_cast<int16_t>(partHashes);
  return count <= 0 || reader.Skip(static_cast<uint64_t>(count) * kHashSize);
}

// Walks the tags until the file-name tag. Every tag consumes at least three
// bytes or fails, so a hostile tag count ends at the end of the file.
bool FindFileNameTag(MetFileReader& reader, std::string& name) {
  uint32_t tagWord = 0;
  if (!reader.U32(tagWord)) return false;
  int32_t tagCount = static_cast<int32_t>(tagWord);
  for (int32_t i = 0; i < tagCount; ++i) {
    uint8_t type = 0;
    uint16_t nameLength = 0;
    std::string tagName;
    if (!reader.U8(type) || !reader.U16(nameLength) || !reader.Text(nameLength, tagName)) {
      return false;
    }
    if (type == kStringTag) {
      uint16_t valueLength = 0;
      std::string value;
      if (!reader.U16(valueLength) || valueLength > PartialDownloadName::kMaxValueLength ||
          !reader.Text(valueLength, value)) {
        return false;
      }
      if (tagName.size() == 1 && tagName[0] == kFileNameTag) {
        name = value;
        return true;
      }
    } else if (type == kIntegerTag) {
      if (!reader.Skip(4)) return false;
    } else {
      return false;
    }
  }
  return false;
}

}  // namespace

bool PartialDownloadName::IsPlainFileName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
         name.find('\0') == std::string::npos;
}

bool PartialDownloadName::Read(CIOService& io, const std::string& path, std::string& name) {
  FileRecord record;
  if (!io.OpenForReading(record, MetPath(path))) return false;
  MetFileReader reader(io, record, io.FileSize(record));
  std::string stored;
  bool found = SkipHeader(reader) && FindFileNameTag(reader, stored);
  io.Close(record);
  if (!found || !IsPlainFileName(stored)) return false;
  name = stored;
  return true;
}
